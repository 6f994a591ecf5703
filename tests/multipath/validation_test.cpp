// Validation of desired multipathing settings: a device's `nmp` entry
// (reached through the device validator) and SATP claim rules; each check's
// record with its exact path and identifier, and the log-only findings.
#include <gtest/gtest.h>

#include "ksi/storage.h"
#include "platform/log.h"
#include "sim/kernel.h"
#include "storage/device_config_validation.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/nmp_validation.h"
#include "storage/scsi_path_impl.h"
#include "storage/storage_util.h"
#include "multipath_fixture.h"

namespace MultipathTest {
namespace {

using HaldenConfigManager::ValidationErrorInfo;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::SubObjectId;

const std::string kNs = "com.tarn.settings.validation.";

// "path id arg1,arg2" per record, for comparing whole results.
std::vector<std::string> Lines(const std::vector<ValidationErrorInfo>& result) {
    std::vector<std::string> out;
    for (const auto& r : result) {
        std::string args;
        for (const auto& a : r.error.arguments)
            args += (args.empty() ? "" : ",") + a;
        out.push_back(r.path + " " + r.error.messageId + " " + args);
    }
    return out;
}

std::shared_ptr<ConfigStoreObject> DeviceEntry(const std::string& device) {
    auto object = std::make_shared<ConfigStoreObject>(TarnCtl::Storage::BlockDeviceId(device));
    object->SetValue("device", device);
    return object;
}

std::shared_ptr<ConfigStoreObject> Psp(ConfigStoreObject& entry, const std::string& type) {
    auto psp = entry.CreateSubObject(SubObjectId("nmp"))->CreateSubObject(SubObjectId("psp"));
    if (!type.empty())
        psp->SetValue("type", type);
    return psp;
}

std::vector<std::string> Validate(const ConfigStoreObject& entry) {
    std::vector<ValidationErrorInfo> result;
    TarnCtl::Storage::DeviceConfigValidator::ValidateDeviceConfig(result, entry, 3);
    return Lines(result);
}

TEST_F(MultipathHostTest, DeviceEntryWithoutPspTypeIsRecorded) {
    auto entry = DeviceEntry(kRrLun);
    Psp(*entry, "");
    EXPECT_EQ(Validate(*entry),
              std::vector<std::string>{"/halden/storage/block_devices/3/nmp/psp/type " + kNs +
                                       "halden.storage.block_devices.missing_psp_type "});
}

TEST_F(MultipathHostTest, RoundRobinEntriesTable) {
    const std::string at = "/halden/storage/block_devices/3/nmp/psp/round_robin/policy " + kNs +
                           "halden.storage.block_devices.";
    const struct {
        const char* policy;
        std::vector<const char*> fields;
        std::vector<std::string> records;
    } cases[] = {
        {"IOPS", {"iops"}, {}},
        {"BYTES", {"bytes"}, {}},
        {"DEFAULT", {}, {}},
        {"LATENCY", {"latency_eval_time", "num_sampling_cycles"}, {}},
        {"FAST", {}, {at + "unknown_policy FAST," + kRrLun}},
        {"IOPS", {}, {at + "invalid_option IOPS," + kRrLun}},
        {"BYTES", {"iops"}, {at + "invalid_option BYTES," + kRrLun}},
        {"DEFAULT", {"bytes"}, {at + "invalid_option DEFAULT," + kRrLun}},
        {"DEFAULT", {"iops"}, {at + "invalid_option DEFAULT," + kRrLun}},
        {"LATENCY", {"iops"}, {at + "invalid_option LATENCY," + kRrLun}},
        {"LATENCY", {"bytes"}, {at + "invalid_option LATENCY," + kRrLun}},
        {"IOPS", {"iops", "num_sampling_cycles"}, {at + "invalid_policy IOPS," + kRrLun}},
        {"DEFAULT", {"latency_eval_time"}, {at + "invalid_policy DEFAULT," + kRrLun}},
        {"BYTES", {"latency_eval_time"}, {at + "invalid_option BYTES," + kRrLun, at + "invalid_policy BYTES," + kRrLun}},
    };
    for (const auto& c : cases) {
        auto entry = DeviceEntry(kRrLun);
        auto rr = Psp(*entry, "QUIL_PSP_RR")->CreateSubObject(SubObjectId("round_robin"));
        rr->SetValue("policy", c.policy);
        std::string trace = c.policy;
        for (const char* f : c.fields) {
            rr->SetValue(f, 5L);
            trace += std::string(" ") + f;
        }
        SCOPED_TRACE(trace);
        EXPECT_EQ(Validate(*entry), c.records);
    }
}

TEST_F(MultipathHostTest, PolicyChecksApplyOnlyToDevicesUsingThatPolicy) {
    Platform::Log::Capture log;
    auto entry = DeviceEntry(kFixedLun);
    Psp(*entry, "QUIL_PSP_RR")->CreateSubObject(SubObjectId("round_robin"))->SetValue("policy", "FAST");
    EXPECT_TRUE(Validate(*entry).empty());
    EXPECT_TRUE(log.Contains(std::string("During Validation device: ") + kFixedLun +
                             " is not using the QUIL_PSP_RR path selection policy"));
    auto fixed = DeviceEntry(kRrLun);
    Psp(*fixed, "QUIL_PSP_FIXED")->SetValue("preferred_path", "hbx9:C0:T0:L0");
    EXPECT_TRUE(Validate(*fixed).empty());
    EXPECT_TRUE(log.Contains(std::string("During Validation device: ") + kRrLun +
                             " is not using the QUIL_PSP_FIXED path selection policy"));
}

TEST_F(MultipathHostTest, FixedEntryNamingAnUnknownPathIsRecorded) {
    auto entry = DeviceEntry(kFixedLun);
    auto psp = Psp(*entry, "QUIL_PSP_FIXED");
    psp->SetValue("preferred_path", "hbx9:C0:T0:L0");
    EXPECT_EQ(Validate(*entry), std::vector<std::string>{"/halden/storage/block_devices/3/nmp/psp/preferred_path " +
                                                         kNs + "halden.storage.block_devices.unknown_path hbx9:C0:T0:L0," +
                                                         kFixedLun});
    psp->SetValue("preferred_path", TarnCtl::Storage::ScsiPathImpl(kFixedP1).GetIdentifier());
    EXPECT_TRUE(Validate(*entry).empty());
    psp->SetValue("preferred_path", kFixedP1);
    EXPECT_TRUE(Validate(*entry).empty());
}

TEST_F(MultipathHostTest, WithoutTheNativePluginOnlyThatIsRecorded) {
    TarnSim::WithState([](TarnSim::KernelState& s) { s.Remove("", KSI_NODE_storage_scsifw_plugins, {"NMP"}); }, true);
    auto entry = DeviceEntry(kRrLun);
    Psp(*entry, "");
    std::vector<ValidationErrorInfo> result;
    TarnCtl::Storage::Nmp::NMPDeviceValidateConfig(result, *entry, 2);
    EXPECT_EQ(Lines(result), std::vector<std::string>{"/halden/storage/block_devices/2/plugin " + kNs +
                                                      "halden.storage.block_devices.plugin_notfound Native Multipathing Plugin"});
}

// ---- SATP claim rules -------------------------------------------------------------------

struct RuleSpec {
    std::string type, device, driver, transport, vendor, model, claimOptions;
    std::string satp = "QUIL_SATP_ALUA", satpName, psp, pspName, options;
    bool force = false;
};

std::shared_ptr<ConfigStoreObject> Rule(const RuleSpec& s) {
    auto o = std::make_shared<ConfigStoreObject>(ConfigStoreObjectId("nmp_claim_rules", "storage", "halden", "r"));
    auto criteria = o->CreateSubObject(SubObjectId("criteria"));
    if (!s.type.empty()) criteria->SetValue("type", s.type);
    if (!s.device.empty()) criteria->SetValue("device", s.device);
    if (!s.driver.empty()) criteria->SetValue("driver", s.driver);
    if (!s.transport.empty()) criteria->SetValue("transport", s.transport);
    if (!s.vendor.empty() || !s.model.empty() || !s.claimOptions.empty()) {
        auto v = criteria->CreateSubObject(SubObjectId("vendor"));
        if (!s.vendor.empty()) v->SetValue("vendor", s.vendor);
        if (!s.model.empty()) v->SetValue("model", s.model);
        if (!s.claimOptions.empty()) v->SetValue("claim_options", s.claimOptions);
    }
    auto settings = o->CreateSubObject(SubObjectId("settings"));
    if (!s.satp.empty()) {
        auto satp = settings->CreateSubObject(SubObjectId("satp"));
        satp->SetValue("type", s.satp);
        if (!s.satpName.empty()) satp->SetValue("name", s.satpName);
    }
    if (!s.psp.empty()) {
        auto psp = settings->CreateSubObject(SubObjectId("psp"));
        psp->SetValue("type", s.psp);
        if (!s.pspName.empty()) psp->SetValue("name", s.pspName);
    }
    if (!s.options.empty()) settings->SetValue("options", s.options);
    if (s.force) settings->SetValue("force", true);
    return o;
}

TEST_F(MultipathHostTest, ClaimRuleValidationTable) {
    const std::string p = "/halden/storage/nmp_claim_rules/4";
    const std::string id = " " + kNs + "halden.storage.nmp_claim_rules.";
    auto spec = [](std::function<void(RuleSpec&)> f) {
        RuleSpec s;
        s.type = "VENDOR";
        s.vendor = "ACME";
        f(s);
        return s;
    };
    const struct {
        const char* name;
        RuleSpec rule;
        std::vector<std::string> records;
        const char* log;
    } cases[] = {
        {"valid", spec([](RuleSpec&) {}), {}, nullptr},
        {"third-party satp", spec([](RuleSpec& s) { s.satp = "THIRD_PARTY_SATP"; s.satpName = "PURE_SATP_AA"; }), {}, nullptr},
        {"unknown satp", spec([](RuleSpec& s) { s.satp = "QUIL_SATP_NONE"; }),
         {p + "/settings/satp/type" + id + "satp_not_registered QUIL_SATP_NONE"}, "SATP = QUIL_SATP_NONE is not registered."},
        {"unknown satp forced", spec([](RuleSpec& s) { s.satp = "QUIL_SATP_NONE"; s.force = true; }), {}, nullptr},
        {"unknown device", spec([](RuleSpec& s) { s.type = "DEVICE"; s.vendor = ""; s.device = "naa.0"; }), {},
         "Unknown device = naa.0"},
        {"bad driver", spec([](RuleSpec& s) { s.type = "DRIVER"; s.vendor = ""; s.driver = "bad driver!"; }), {},
         "Invalid Module name: bad driver!"},
        {"nothing to match", spec([](RuleSpec& s) { s.type = ""; s.vendor = ""; }), {p + "/criteria" + id + "missing_params "},
         "Missing required parameter. Must specify at least one of device, vendor, model, driver, transportor claim-option."},
        {"two groups", spec([](RuleSpec& s) { s.driver = "lpfc"; }),
         {p + "/criteria" + id + "mutually_exclusive_params "},
         "device, vendor / model / claim-option, driver and transport options are mutually exclusive."},
        {"type without its field", spec([](RuleSpec& s) { s.type = "TRANSPORT"; }),
         {p + "/criteria/type" + id + "invalid_type_or_params TRANSPORT"}, "Invalid ruleType = TRANSPORT with options provided"},
        {"vendor type with claim options only", spec([](RuleSpec& s) { s.vendor = ""; s.claimOptions = "tpgs_on"; }),
         {p + "/criteria/type" + id + "invalid_type_or_params VENDOR"}, nullptr},
        {"unknown psp", spec([](RuleSpec& s) { s.psp = "QUIL_PSP_NONE"; }),
         {p + "/settings/psp/type" + id + "not_registered_psp QUIL_PSP_NONE"}, "PSP = QUIL_PSP_NONE is not registred"},
        {"unknown third-party psp", spec([](RuleSpec& s) { s.psp = "THIRD_PARTY_PSP"; s.pspName = "X_PSP"; }),
         {p + "/settings/psp/type" + id + "not_registered_psp X_PSP"}, nullptr},
        {"known third-party psp", spec([](RuleSpec& s) { s.psp = "THIRD_PARTY_PSP"; s.pspName = "PURE_PSP_LB"; }), {}, nullptr},
        {"bad tokens", spec([](RuleSpec& s) { s.options = "enable_ssd turbo fast"; }),
         {p + "/settings/options" + id + "invalid.token turbo", p + "/settings/options" + id + "invalid.token fast"},
         "Invalid token = turbo found for nmp options"},
        {"contradiction", spec([](RuleSpec& s) { s.options = "enable_local disable_local"; }),
         {p + "/settings/options" + id + "invalid.nmp_option "},
         "Invalid configuration for nmp options.Specify only one of enable/disable_ssd and enable/disable_local"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Platform::Log::Capture log;
        std::vector<ValidationErrorInfo> result;
        TarnCtl::Storage::Nmp::NmpClaimRuleValidate(*Rule(c.rule), result, 4);
        EXPECT_EQ(Lines(result), c.records);
        if (c.log)
            EXPECT_TRUE(log.Contains(c.log));
    }
}

}  // namespace
}  // namespace MultipathTest
