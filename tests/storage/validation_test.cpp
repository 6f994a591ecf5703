// Validation of desired block_devices entries: one record per failing check,
// at the offending field, with the message identifier and its arguments.
#include <gtest/gtest.h>

#include "storage/device_config_validation.h"
#include "storage/storage_util.h"
#include "storage_fixture.h"

namespace StorageTest {
namespace {

using HaldenConfigManager::ValidationErrorInfo;
using HaldenConfigStore::ConfigStoreObject;

struct Expected {
    std::string field;
    std::string suffix;
    std::vector<std::string> arguments;
};

struct ValidationRow {
    const char* what;
    std::function<void(ConfigStoreObject&)> fill;
    std::vector<Expected> expected;
};

std::vector<Expected> Simplify(const std::vector<ValidationErrorInfo>& records) {
    const std::string base = "/halden/storage/block_devices/3";
    const std::string ns = std::string(HaldenConfigManager::kValidationMessageNamespace) + "halden.storage.block_devices.";
    std::vector<Expected> out;
    for (const auto& r : records) {
        EXPECT_EQ(r.path.substr(0, base.size()), base);
        EXPECT_EQ(r.error.messageId.substr(0, ns.size()), ns);
        out.push_back({r.path.substr(base.size()), r.error.messageId.substr(ns.size()), r.error.arguments});
    }
    return out;
}

bool operator==(const Expected& a, const Expected& b) {
    return a.field == b.field && a.suffix == b.suffix && a.arguments == b.arguments;
}

void PrintTo(const Expected& e, std::ostream* os) {
    *os << e.field << " " << e.suffix << " (" << e.arguments.size() << " args)";
}

TEST_F(StorageHostTest, DesiredDeviceEntriesAreChecked) {
    const std::string array = kArrayLun, local = kLocalDisk, busy = kBusyLun;
    const ValidationRow rows[] = {
        {"no device name", [](ConfigStoreObject&) {}, {{"/device", "misssing_device_name", {}}}},
        {"unknown device", [](ConfigStoreObject& o) { o.SetValue("device", "naa.0bad"); o.SetValue("state", "OFF"); },
         {{"/device", "unknown_device", {"naa.0bad"}}}},
        {"threshold without sample size",
         [&](ConfigStoreObject& o) { o.SetValue("device", array); o.SetValue("queue_full_threshold", 8); },
         {{"/queue_full_sample_size", "qfThreshold_qfSampleSize", {array}}}},
        {"sample size without threshold",
         [&](ConfigStoreObject& o) { o.SetValue("device", array); o.SetValue("queue_full_sample_size", 8); },
         {{"/queue_full_threshold", "qfThreshold_qfSampleSize", {array}}}},
        {"threshold above sample size",
         [&](ConfigStoreObject& o) {
             o.SetValue("device", array);
             o.SetValue("queue_full_threshold", 20);
             o.SetValue("queue_full_sample_size", 10);
         },
         {{"/queue_full_threshold", "invalid_qFullThreshold", {array}}}},
        {"detaching a device in use", [&](ConfigStoreObject& o) { o.SetValue("device", busy); o.SetValue("state", "OFF"); },
         {{"/state", "device_in_use", {busy}}}},
        {"offload overrides on an array device",
         [&](ConfigStoreObject& o) {
             o.SetValue("device", kArrayLunVml);
             o.SetValue("ats_supported", true);
             o.SetValue("zero_supported", false);
         },
         {{"/ats_supported", "not_local", {"ats_supported", kArrayLunVml}},
          {"/zero_supported", "not_local", {"zero_supported", kArrayLunVml}}}},
        {"local device may override offloads but stays not shared",
         [&](ConfigStoreObject& o) {
             o.SetValue("device", local);
             o.SetValue("ats_supported", true);
             o.SetValue("not_shared", false);
         },
         {{"/not_shared", "notShared", {local}}}},
        {"a clean entry", [&](ConfigStoreObject& o) { o.SetValue("device", array); o.SetValue("state", "OFF"); }, {}},
    };
    for (const auto& row : rows) {
        ConfigStoreObject object(TarnCtl::Storage::BlockDeviceId("x"));
        row.fill(object);
        std::vector<ValidationErrorInfo> result;
        TarnCtl::Storage::DeviceConfigValidator::ValidateDeviceConfig(result, object, 3);
        EXPECT_EQ(Simplify(result), row.expected) << row.what;
    }
}

TEST_F(StorageHostTest, QueueSettingsForADeviceThatIsOffNeedItOn) {
    storage.GetDeviceByName(kArrayLun, false)->SetStatus(HostCtl::Storage::Lun::LUN_OFF, false);
    ConfigStoreObject object(TarnCtl::Storage::BlockDeviceId(kArrayLun));
    object.SetValue("device", kArrayLun);
    object.SetValue("queue_full_threshold", 4);
    object.SetValue("queue_full_sample_size", 32);
    std::vector<ValidationErrorInfo> result;
    TarnCtl::Storage::DeviceConfigValidator::ValidateDeviceConfig(result, object, 3);
    EXPECT_EQ(Simplify(result), (std::vector<Expected>{{"/state", "invalid_present_status", {kArrayLun}}}));
    object.SetValue("state", "ON");
    result.clear();
    TarnCtl::Storage::DeviceConfigValidator::ValidateDeviceConfig(result, object, 3);
    EXPECT_TRUE(result.empty());
}

}  // namespace
}  // namespace StorageTest
