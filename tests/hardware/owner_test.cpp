// Device owners: every refusal in its fixed order with nothing written to
// the kernel or the store, a device with a dependant changing owner with it,
// faults part-way (kernel and store) leaving the whole group as it was, the
// boot-mode replay, and owners surviving a reboot.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "hw_fixture.h"
#include "platform/misc.h"
#include "sim/faults.h"
#include "sim/profile.h"
#include "sim_edits.h"
#include "system/kernel_opts.h"

namespace {

using HostCtl::Hardware::PciDevice;
constexpr auto PASSTHRU = PciDevice::OWNER_PASSTHRU;
constexpr auto TARNOS = PciDevice::OWNER_TARNOS;

const char* kGpu = "0000:d8:00.0";
const char* kGpuAudio = "0000:d8:00.1";

class OwnerTest : public HwTest::HardwareTest {
protected:
    // The refusal text of an owner change, "" when it succeeds.
    std::string Refusal(const std::string& sbdf, PciDevice::PciDeviceOwner owner) {
        try {
            Device(sbdf).SetConfiguredDeviceOwner(owner);
        } catch (const HostCtl::Lib::HostCtlException& e) {
            return e.what();
        }
        return "";
    }
    // Every device's run-time owner, as one text.
    std::string RuntimeOwners() {
        std::string out;
        for (const auto& a : Addresses()) out += a + "=" + std::to_string(Device(a).GetRuntimeDeviceOwner()) + " ";
        return out;
    }
    std::string StoredOwner(const std::string& sbdf) {
        auto o = Stored(sbdf);
        std::string owner = "(none)";
        if (o) o->GetValue("owner", &owner);
        return owner;
    }
};

TEST_F(OwnerTest, RefusalsChangeNothing) {
    AddSwitch("vSwitch0", {"pnx0", "pnx1"});
    std::string before = RuntimeOwners();
    struct Row {
        const char* sbdf;
        const char* message;
    } rows[] = {
        {"0000:01:00.0", "Device 0000:01:00.0 is not passthrough capable."},  // fails ACS
        {"0000:00:17.0", "PCI device 0000:00:17.0 is not passthrough capable because it is directly under the PCI host bridge."},
        {"0000:02:00.0", "Device 0000:02:00.0 is system reserved and does not support passthru."},
        {"0000:03:00.0", "Cannot configure passthru on boot device."},
        {"0000:3b:00.0", "Device ownership cannot be changed to passthru for uplink pnx0 as it is used by vswitch vSwitch0"},
        {"0000:3b:00.1", "Device ownership cannot be changed to passthru for uplink pnx1 as it is used by vswitch vSwitch0"},
    };
    for (const auto& r : rows) EXPECT_EQ(Refusal(r.sbdf, PASSTHRU), r.message);
    EXPECT_EQ(Refusal(kGpu, TARNOS), "Device owner is already configured to tarnos.");
    try {
        Device(kGpu).SetConfiguredDeviceOwner(static_cast<PciDevice::PciDeviceOwner>(5));
        FAIL();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Unknown owner 5");
    }
    EXPECT_EQ(RuntimeOwners(), before);
    EXPECT_TRUE(StoredDevices().empty());
    // A NIC that is no uplink may go.
    EXPECT_EQ(Refusal("0000:5e:00.0", PASSTHRU), "");
}

// One device per row carries the facts of every later check too: the first
// failing check in the fixed order must be the one reported.
TEST_F(OwnerTest, ChecksInTheirOrder) {
    InitHost(HwTest::Profile(R"([
        {"address": "0000:00:01.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 1, "iommu": false},
        {"address": "0000:00:02.0", "vendor": "8086", "device": "2030", "class": "0604", "boot": true, "reserved": true},
        {"address": "0000:01:00.0", "vendor": "8086", "device": "1563", "class": "0200", "acs": false, "boot": true, "reserved": true},
        {"address": "0000:01:00.1", "vendor": "8086", "device": "1563", "class": "0200", "boot": true, "reserved": true},
        {"address": "0000:01:00.2", "vendor": "8086", "device": "1563", "class": "0200", "boot": true, "name": "pnx0"},
        {"address": "0000:01:00.3", "vendor": "8086", "device": "1563", "class": "0200", "name": "pnx0", "owner": "passthru", "inUseByVm": true},
        {"address": "0000:01:00.4", "vendor": "8086", "device": "1563", "class": "0200", "owner": "passthru", "inUseByVm": true},
        {"address": "0000:01:00.5", "vendor": "8086", "device": "1563", "class": "0200"}])"));
    AddSwitch("vSwitch1", {"pnx9", "pnx0"});
    struct Row {
        const char* sbdf;
        PciDevice::PciDeviceOwner owner;
        const char* message;
    } rows[] = {
        {"0000:01:00.0", PASSTHRU, "Device 0000:01:00.0 is not passthrough capable."},
        {"0000:00:02.0", PASSTHRU, "PCI device 0000:00:02.0 is not passthrough capable because it is directly under the PCI host bridge."},
        {"0000:01:00.1", PASSTHRU, "Device 0000:01:00.1 is system reserved and does not support passthru."},
        {"0000:01:00.2", PASSTHRU, "Cannot configure passthru on boot device."},
        {"0000:01:00.3", PASSTHRU, "Device ownership cannot be changed to passthru for uplink pnx0 as it is used by vswitch vSwitch1"},
        {"0000:01:00.4", PASSTHRU, "Device 0000:01:00.4 is in use by a VM in passthru mode"},
        {"0000:01:00.4", TARNOS, "Device 0000:01:00.4 is in use by a VM in passthru mode"},
        {"0000:01:00.5", TARNOS, "Device owner is already configured to tarnos."},
    };
    for (const auto& r : rows) EXPECT_EQ(Refusal(r.sbdf, r.owner), r.message) << r.sbdf;
    EXPECT_TRUE(StoredDevices().empty());
    EXPECT_EQ(Device("0000:01:00.4").GetRuntimeDeviceOwner(), PASSTHRU);
}

TEST_F(OwnerTest, DisabledFeatureRefusedFirst) {
    TarnCtl::System::KernelOpts::SetOption("disablePciPassthrough", true);
    EXPECT_EQ(Refusal(kGpu, PASSTHRU), "");  // recorded for the next boot only
    EXPECT_EQ(Refusal(kGpu, TARNOS), "");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Refusal("0000:03:00.0", PASSTHRU),
              "Attempt to set device 0000:03:00.0 for PCI passthrough when this feature is disabled.");
    EXPECT_EQ(StoredOwner(kGpu), "OWNER_TARNOS");
    EXPECT_EQ(Device(kGpu).GetRuntimeDeviceOwner(), TARNOS);
}

TEST_F(OwnerTest, DependantChangesWithTheDevice) {
    Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU);
    for (const char* sbdf : {kGpu, kGpuAudio}) {
        auto o = Stored(sbdf);
        ASSERT_TRUE(o) << sbdf;
        std::string owner, text, dl;
        EXPECT_TRUE(o->GetValue("owner", &owner));
        EXPECT_EQ(owner, "OWNER_PASSTHRU");
        EXPECT_TRUE(o->GetValue("sbdf", &text));
        EXPECT_EQ(text, sbdf);
        EXPECT_TRUE(o->GetValue("dl_bus_address", &dl));
        EXPECT_EQ(dl, HostCtl::Misc::StrPrintf("0x%lx", static_cast<unsigned long>(Device(sbdf).GetDlBusAddress())));
        EXPECT_EQ(Device(sbdf).GetRuntimeDeviceOwner(), PASSTHRU);
        EXPECT_TRUE(Device(sbdf).HasConfiguredDeviceOwner());
    }
    EXPECT_EQ(StoredDevices().size(), 2u);
    EXPECT_EQ(Refusal(kGpu, PASSTHRU), "Device owner is already configured to passthru.");
    Device(kGpu).SetConfiguredDeviceOwner(TARNOS);
    EXPECT_EQ(StoredOwner(kGpu), "OWNER_TARNOS");
    EXPECT_EQ(StoredOwner(kGpuAudio), "OWNER_TARNOS");
    EXPECT_EQ(Device(kGpuAudio).GetRuntimeDeviceOwner(), TARNOS);
}

TEST_F(OwnerTest, ChildrenOfABridgeGoWithIt) {
    InitHost(HwTest::Profile(R"([
        {"address": "0000:00:01.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 1},
        {"address": "0000:01:00.0", "vendor": "10b5", "device": "8747", "class": "0604", "bridgeTo": 2},
        {"address": "0000:02:00.0", "vendor": "10de", "device": "1eb8", "class": "0302", "dependant": "0000:02:00.1"},
        {"address": "0000:02:00.1", "vendor": "10de", "device": "10f8", "class": "0403"}])"));
    Device("0000:01:00.0").SetConfiguredDeviceOwner(PASSTHRU);
    EXPECT_EQ(StoredDevices(), (std::vector<std::string>{"0000:01:00.0", "0000:02:00.0", "0000:02:00.1"}));
}

TEST_F(OwnerTest, KernelFaultPartWayLeavesTheGroup) {
    // At the audio function, second of the group.
    TarnTest::FailKernel(KSI_NODE_hardware_pci_seg_bus_slot_func_owner, TARN_BUSY,
                         {.instance = "0/216/0/1", .op = TarnSim::KernelOp::Set});
    std::string before = RuntimeOwners();
    std::string message = Refusal(kGpu, PASSTHRU);
    EXPECT_EQ(message.rfind("Failed to configure device owner for 0000:d8:00.0: Unable to set PCI ownership", 0), 0u)
        << message;
    EXPECT_EQ(RuntimeOwners(), before);
    EXPECT_TRUE(StoredDevices().empty());
}

TEST_F(OwnerTest, StoreFaultPartWayLeavesTheGroup) {
    for (auto op : {TarnSim::StoreFault::Op::Write, TarnSim::StoreFault::Op::Commit}) {
        TarnSim::StoreFault f;
        f.op = op;
        f.skip = op == TarnSim::StoreFault::Op::Write ? 1 : 0;  // the second member's write
        TarnSim::InjectStoreFault(f);
        std::string before = RuntimeOwners();
        std::string message = Refusal(kGpu, PASSTHRU);
        EXPECT_EQ(message.rfind("Failed to configure device owner for 0000:d8:00.0: ", 0), 0u) << message;
        EXPECT_NE(message.find("injected fault"), std::string::npos) << message;
        EXPECT_EQ(RuntimeOwners(), before);
        EXPECT_TRUE(StoredDevices().empty());
    }
    EXPECT_EQ(Refusal(kGpu, PASSTHRU), "");  // faults used up: the change goes through
}

TEST_F(OwnerTest, OwnersComeBackAfterReboot) {
    Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU);
    Device(kGpu).SetHardwareLabel("gpu-0");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Device(kGpu).GetRuntimeDeviceOwner(), PASSTHRU);
    EXPECT_EQ(Device(kGpuAudio).GetRuntimeDeviceOwner(), PASSTHRU);
    EXPECT_EQ(Device(kGpu).GetHardwareLabel(), "gpu-0");
    EXPECT_EQ(Device("0000:5e:00.0").GetRuntimeDeviceOwner(), TARNOS);
    Device(kGpu).SetConfiguredDeviceOwner(TARNOS);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Device(kGpuAudio).GetRuntimeDeviceOwner(), TARNOS);
}

// In boot mode every setter replays into the kernel and records nothing.
TEST_F(OwnerTest, BootModeReplaysWithoutRecording) {
    struct Row {
        const char* what;
        std::function<void(OwnerTest&)> set;
        std::function<void(OwnerTest&)> check;
    } rows[] = {
        {"owner", [](OwnerTest& t) { t.Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU); },
         [](OwnerTest& t) {
             EXPECT_EQ(t.Device(kGpu).GetRuntimeDeviceOwner(), PASSTHRU);
             EXPECT_EQ(t.Device(kGpuAudio).GetRuntimeDeviceOwner(), PASSTHRU);
         }},
        {"owner no deps", [](OwnerTest& t) { t.Device(kGpuAudio).SetConfiguredDevOwnerNoDeps(PASSTHRU); },
         [](OwnerTest& t) {
             EXPECT_EQ(t.Device(kGpu).GetRuntimeDeviceOwner(), TARNOS);
             EXPECT_EQ(t.Device(kGpuAudio).GetRuntimeDeviceOwner(), PASSTHRU);
         }},
        {"vfs", [](OwnerTest& t) { t.Device("0000:5e:00.0").SetConfiguredMaxVfs(3); },
         [](OwnerTest& t) { EXPECT_EQ(t.Device("0000:5e:00.0").GetCurrentNumVfs(), 3u); }},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        InitHost(HwTest::Profile());
        Store()->SetBootMode(true);
        r.set(*this);
        Store()->SetBootMode(false);
        r.check(*this);
        EXPECT_TRUE(StoredDevices().empty());
    }
}

TEST_F(OwnerTest, LabelsOnlyOnPassthroughDevices) {
    auto refusal = [&](const std::string& sbdf, const std::string& label) -> std::string {
        try {
            Device(sbdf).SetHardwareLabel(label);
        } catch (const HostCtl::Lib::HostCtlException& e) {
            return e.what();
        }
        return "";
    };
    EXPECT_EQ(refusal(kGpu, "gpu"), "0000:d8:00.0 owner is not configured to passthru");
    Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU);
    Device(kGpu).SetConfiguredDeviceOwner(TARNOS);
    EXPECT_EQ(refusal(kGpu, "gpu"), "0000:d8:00.0 owner is not configured to passthru");
    Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU);
    std::string limit(64, 'x');
    EXPECT_EQ(refusal(kGpu, limit + "y"),
              "Invalid hardware label '" + limit + "y': 1 to 64 printable characters");
    EXPECT_EQ(refusal(kGpu, ""), "Invalid hardware label '': 1 to 64 printable characters");
    EXPECT_EQ(refusal(kGpu, "tab\there"), "Invalid hardware label 'tab\there': 1 to 64 printable characters");
    EXPECT_EQ(Device(kGpu).GetHardwareLabel(), "");
    EXPECT_EQ(refusal(kGpu, limit), "");
    EXPECT_EQ(Device(kGpu).GetHardwareLabel(), limit);
    Device(kGpu).DeleteHardwareLabelFromCS();
    EXPECT_EQ(Device(kGpu).GetHardwareLabel(), "");
    EXPECT_FALSE(Stored(kGpu)->HasValue("hardware_label"));
}

TEST_F(OwnerTest, UnknownDevice) {
    try {
        Device("0000:77:00.0");
        FAIL();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "0000:77:00.0: device not found");
    }
}

}  // namespace
