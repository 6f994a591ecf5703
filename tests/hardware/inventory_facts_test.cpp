// The inventory facts of the hardware door: DVX devices, the devices a VM can
// be given now, smart card readers, power policies and persistent memory;
// numbers the kernel gives that do not fit refused on both sides of their
// limit, and where a user finds them (`hostctl hardware info`).
#include <gtest/gtest.h>

#include <cstdint>

#include "hardware/hardware_info_impl.h"
#include "hostctl/exception.h"
#include "hw_fixture.h"
#include "platform/log.h"

namespace {

using HwTest::Refusal;
using TarnCtl::Hardware::HardwareInfoImpl;
using Alloc = rapidjson::Document::AllocatorType;

const int64_t kMax63 = INT64_MAX;

class InventoryFactsTest : public HwTest::HardwareTest {
protected:
    std::string Dvx() {
        auto f = HardwareInfoImpl().GetDVXInfo();
        std::string out = std::string(f.supported ? "supported" : "unsupported") + (f.enabled ? ",enabled" : "");
        for (const auto& d : f.devices)
            out += " " + d.sbdf + "=" + d.driver + "/" + std::to_string(d.usedInstances) + "of" +
                   std::to_string(d.maxInstances);
        return out;
    }
    std::string Readers() {
        std::string out;
        for (const auto& r : HardwareInfoImpl().GetSmartCardInfo())
            out += r.name + "=" + std::to_string(r.vendorId) + ":" + std::to_string(r.productId) +
                   (r.cardPresent ? "+card" : "") + " ";
        return out;
    }
    // Replaces (or adds) the member `key` of `o` with the JSON `json`.
    static void Set(rapidjson::Value& o, const char* key, const char* json, Alloc& alloc) {
        rapidjson::Document v(&alloc);
        v.Parse(json);
        if (o.HasMember(key)) o.RemoveMember(key);
        o.AddMember(rapidjson::Value(key, alloc), rapidjson::Value(v, alloc), alloc);
    }
};

TEST_F(InventoryFactsTest, DefaultHost) {
    EXPECT_EQ(Dvx(), "supported,enabled 0000:d8:00.0=nvgpu/0of16");
    EXPECT_EQ(Readers(), "USB CCID Smart Card Reader=1839:37068 ");
    auto power = HardwareInfoImpl().GetPowerInfo();
    EXPECT_EQ(power.current.id, 2u);
    EXPECT_EQ(power.current.shortName, "dynamic");
    EXPECT_EQ(power.current.name, "Balanced");
    EXPECT_EQ(power.hardwareSupport, 3u);
    EXPECT_EQ(power.supportedTechniques, (std::vector<std::string>{"ACPI P-states", "ACPI C-states"}));
    std::string policies;
    for (const auto& p : power.policies) policies += std::to_string(p.id) + p.shortName + "/" + p.name + " ";
    EXPECT_EQ(policies, "1static/High Performance 2dynamic/Balanced 3low/Low Power 4custom/Custom ");
    auto pmem = HardwareInfoImpl().GetPMemInfo();
    EXPECT_EQ(pmem.modules, 0u);
    EXPECT_EQ(pmem.moduleBytes, 0u);
    EXPECT_EQ(pmem.tierBytes, 0u);
    EXPECT_TRUE(HardwareInfoImpl().GetAssignableHardwareInfo().empty());
}

TEST_F(InventoryFactsTest, AssignableDevicesAreThePassthroughOnes) {
    InitHost(HwTest::Profile(R"([
      {"address": "0000:00:01.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 1, "module": "pciBridge"},
      {"address": "0000:01:00.0", "vendor": "10de", "device": "1eb8", "class": "0302", "module": "nvgpu", "dependant": "0000:01:00.1"},
      {"address": "0000:01:00.1", "vendor": "10de", "device": "10f8", "class": "0403", "module": "hdaudio"},
      {"address": "0000:01:00.2", "vendor": "8086", "device": "1563", "class": "0200", "owner": "passthru", "inUseByVm": true},
      {"address": "0000:01:00.3", "vendor": "8086", "device": "1563", "class": "0200"}])"));
    Device("0000:01:00.0").SetConfiguredDeviceOwner(HostCtl::Hardware::PciDevice::OWNER_PASSTHRU);
    Device("0000:01:00.0").SetHardwareLabel("gpu-0");
    std::string out;
    for (const auto& d : HardwareInfoImpl().GetAssignableHardwareInfo())
        out += d.sbdf + "|" + d.vendorName + "|" + d.deviceName + "|" + d.hardwareLabel + "|" +
               (d.inUseByVm ? "busy" : "free") + "\n";
    EXPECT_EQ(out,
              "0000:01:00.0|NVIDIA Corporation|TU104GL [Tesla T4]|gpu-0|free\n"
              "0000:01:00.1|NVIDIA Corporation|TU104 HD Audio Controller||free\n"
              "0000:01:00.2|Intel Corporation|Ethernet Controller X550||busy\n");
}

TEST_F(InventoryFactsTest, DvxInstancesInUseUpToTheMaximum) {
    InitWithHardware([](rapidjson::Value& hw, Alloc& alloc) {
        Set(hw, "dvx", R"({"supported": true, "enabled": false, "devices": [
            {"address": "0000:d8:00.0", "driver": "nvgpu", "maxInstances": 16, "usedInstances": 16},
            {"address": "0000:5e:00.0", "driver": "mlx5_native", "maxInstances": 4, "usedInstances": 5},
            {"address": "zz", "driver": "x", "maxInstances": 1},
            {"address": "0000:3b:00.0", "driver": "ixgbe_native", "maxInstances": 4294967295, "usedInstances": 4294967295}]})",
            alloc);
    });
    Platform::Log::Capture log;
    EXPECT_EQ(Dvx(), "supported 0000:3b:00.0=ixgbe_native/4294967295of4294967295 0000:d8:00.0=nvgpu/16of16");
    EXPECT_TRUE(log.Contains("HardwareInfo: Skipping DVX device 0000:5e:00.0: 5 instances in use of 4",
                             Platform::Log::Level::Warning));
    EXPECT_TRUE(log.Contains("HardwareInfo: Skipping DVX device zz: Invalid PCI address: zz", Platform::Log::Level::Warning));
    // A host without the extensions lists no devices, whatever the kernel keeps.
    InitWithHardware([](rapidjson::Value& hw, Alloc& alloc) {
        Set(hw, "dvx", R"({"enabled": true, "devices": [{"address": "0000:d8:00.0", "maxInstances": 1}]})", alloc);
    });
    EXPECT_EQ(Dvx(), "unsupported");
}

TEST_F(InventoryFactsTest, SmartCardReaderIdsFitSixteenBits) {
    InitWithHardware([](rapidjson::Value& hw, Alloc& alloc) {
        std::string readers = R"({"readers": [
            {"name": "r0", "vendorId": 65535, "productId": 65535, "cardPresent": true},
            {"name": "r1", "vendorId": 65536, "productId": 1},
            {"name": "r2", "vendorId": 1, "productId": 65536})";
        for (int i = 3; i <= 10; ++i) readers += ", {\"name\": \"r" + std::to_string(i) + "\", \"vendorId\": 1, \"productId\": 2}";
        Set(hw, "smartCard", (readers + "]}").c_str(), alloc);
    });
    Platform::Log::Capture log;
    EXPECT_EQ(Readers(),
              "r0=65535:65535+card r3=1:2 r4=1:2 r5=1:2 r6=1:2 r7=1:2 r8=1:2 r9=1:2 r10=1:2 ");
    EXPECT_TRUE(log.Contains("HardwareInfo: Skipping smart card reader 1: Invalid USB id 10000:1", Platform::Log::Level::Warning));
    EXPECT_TRUE(log.Contains("HardwareInfo: Skipping smart card reader 2: Invalid USB id 1:10000", Platform::Log::Level::Warning));
    InitWithHardware([](rapidjson::Value& hw, Alloc&) { hw.RemoveMember("smartCard"); });
    EXPECT_EQ(Readers(), "");
}

TEST_F(InventoryFactsTest, PowerPolicyAndSupportMustBeKnown) {
    struct Row {
        const char* power;
        const char* refusal;
        const char* techniques;
    } rows[] = {
        {R"({"policy": 1, "hardwareSupport": 0})", "", ""},
        {R"({"policy": 4, "hardwareSupport": 1})", "", "ACPI P-states"},
        {R"({"policy": 3, "hardwareSupport": 2})", "", "ACPI C-states"},
        {R"({"policy": 2, "hardwareSupport": 4})", "Invalid power management hardware support 0x4", ""},
        {R"({"policy": 5, "hardwareSupport": 3})", "Invalid power policy 5", ""},
        {R"({"policy": 0, "hardwareSupport": 3})", "Invalid power policy 0", ""},
        {R"({"policy": 7, "hardwareSupport": 3, "policies": [{"id": 7, "shortName": "eco", "name": "Eco"}]})", "",
         "ACPI P-states,ACPI C-states"},
        {R"({"policy": 2, "hardwareSupport": 3, "policies": [{"id": 7, "shortName": "eco", "name": "Eco"}]})",
         "Invalid power policy 2", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.power);
        InitWithHardware([&](rapidjson::Value& hw, Alloc& alloc) { Set(hw, "power", r.power, alloc); });
        HostCtl::Hardware::PowerFacts facts{};
        EXPECT_EQ(Refusal([&] { facts = HardwareInfoImpl().GetPowerInfo(); }), r.refusal);
        if (*r.refusal) continue;
        std::string techniques;
        for (const auto& t : facts.supportedTechniques) techniques += (techniques.empty() ? "" : ",") + t;
        EXPECT_EQ(techniques, r.techniques);
        EXPECT_EQ(facts.current.id, HardwareInfoImpl().GetPowerManagementCurrentPolicy());
    }
}

TEST_F(InventoryFactsTest, PersistentMemoryTiersAddUpWithinSixtyFourBits) {
    auto withTiers = [&](int64_t last) {
        InitWithHardware([&](rapidjson::Value& hw, Alloc& alloc) {
            std::string memory = R"({"physicalBytes": 1024, "tiers": [
                {"type": "memoryTier", "media": "DRAM", "bytes": 9223372036854775807},
                {"type": "persistentTier", "media": "PMem", "bytes": )" + std::to_string(kMax63) + R"(},
                {"type": "persistentTier", "media": "PMem", "bytes": )" + std::to_string(kMax63) + R"(},
                {"type": "persistentTier", "media": "PMem", "bytes": )" + std::to_string(last) + "}]}";
            Set(hw, "memory", memory.c_str(), alloc);
            Set(hw, "nvd", R"({"count": 6, "bytes": 3298534883328})", alloc);
        });
    };
    withTiers(1);
    auto pmem = HardwareInfoImpl().GetPMemInfo();
    EXPECT_EQ(pmem.tierBytes, UINT64_MAX);
    EXPECT_EQ(pmem.modules, 6u);
    EXPECT_EQ(pmem.moduleBytes, 3298534883328u);
    withTiers(2);
    EXPECT_EQ(Refusal([] { HardwareInfoImpl().GetPMemInfo(); }),
              "Invalid persistent memory size: the PMem tiers exceed 18446744073709551615 bytes");
    HwTest::Outcome o = Hostctl({"hardware", "info"});
    EXPECT_EQ(o.status, 1);
    EXPECT_NE(o.err.find("Invalid persistent memory size"), std::string::npos) << o.err;
}

TEST_F(InventoryFactsTest, HardwareInfoShowsThem) {
    Device("0000:d8:00.0").SetConfiguredDeviceOwner(HostCtl::Hardware::PciDevice::OWNER_PASSTHRU);
    HwTest::Outcome o = Hostctl({"--format", "json", "hardware", "info"});
    ASSERT_EQ(o.status, 0) << o.err;
    rapidjson::Document doc;
    doc.Parse(o.out.c_str());
    ASSERT_TRUE(doc.IsObject()) << o.out;
    EXPECT_STREQ(doc["power_policy"].GetString(), "dynamic");
    EXPECT_STREQ(doc["power_policy_name"].GetString(), "Balanced");
    EXPECT_STREQ(doc["power_hardware_support"].GetString(), "ACPI P-states, ACPI C-states");
    EXPECT_TRUE(doc["dvx_supported"].GetBool());
    EXPECT_EQ(doc["pmem_tier_bytes"].GetUint64(), 0u);
    const auto& dvx = doc["dvx_devices"];
    ASSERT_EQ(dvx.Size(), 1u);
    EXPECT_STREQ(dvx[0]["address"].GetString(), "0000:d8:00.0");
    EXPECT_EQ(dvx[0]["max_instances"].GetInt(), 16);
    const auto& assignable = doc["assignable_devices"];
    ASSERT_EQ(assignable.Size(), 2u);
    EXPECT_STREQ(assignable[1]["address"].GetString(), "0000:d8:00.1");
    EXPECT_FALSE(assignable[1]["in_use_by_vm"].GetBool());
    const auto& readers = doc["smart_card_readers"];
    ASSERT_EQ(readers.Size(), 1u);
    EXPECT_STREQ(readers[0]["vendor_id"].GetString(), "072f");
    EXPECT_FALSE(readers[0]["card_present"].GetBool());
}

}  // namespace
