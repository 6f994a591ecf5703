// Owner changes of a group of dependent devices when the kernel will not
// list or describe a member (refused, nothing written), the run-time owner
// moving the whole group, and host drivers following the owner: let go
// before passthrough, bound again back with the host (not below a contained
// port, not for a driver VM), with kernel refusals part-way undone.
#include <gtest/gtest.h>

#include "hardware/pci_info_impl.h"
#include "hostctl/exception.h"
#include "hw_fixture.h"
#include "platform/log.h"
#include "sim/faults.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace {

using HostCtl::Hardware::PciDevice;
using HwTest::Refusal;
constexpr auto PASSTHRU = PciDevice::OWNER_PASSTHRU;
constexpr auto TARNOS = PciDevice::OWNER_TARNOS;

const char* kGpu = "0000:d8:00.0";
const char* kGpuAudio = "0000:d8:00.1";

// A root port above a switch port that parents a GPU with its audio
// function: changing the switch port's owner walks its children, then the
// GPU's children and dependant.
const char* kBridgeTree = R"([
  {"address": "0000:00:01.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 1, "module": "pciBridge"},
  {"address": "0000:01:00.0", "vendor": "10b5", "device": "8747", "class": "0604", "bridgeTo": 2, "module": "pciBridge"},
  {"address": "0000:02:00.0", "vendor": "10de", "device": "1eb8", "class": "0302", "module": "nvgpu", "dependant": "0000:02:00.1"},
  {"address": "0000:02:00.1", "vendor": "10de", "device": "10f8", "class": "0403", "module": "hdaudio"}])";

class GroupTest : public HwTest::HardwareTest {
protected:
    // Every function as "address=owner/driver", in listing order: what the
    // kernel holds for owners and host drivers.
    std::string KernelState() {
        std::string out;
        for (const auto& a : Addresses()) {
            auto d = Device(a);
            out += a + "=" + std::to_string(d.GetRuntimeDeviceOwner()) + "/" + d.GetBoundDriver() + " ";
        }
        return out;
    }
    static void Fail(uint32_t node, const std::string& instance, TarnSim::KernelOp op, unsigned skip = 0) {
        TarnTest::FailKernel(node, TARN_BUSY, {.instance = instance, .op = op, .skip = skip});
    }
};

// Which setter a row goes through: both refuse a change whose group they
// cannot see, each with its own lead.
struct Setter {
    const char* name;
    const char* lead;
    void (*set)(const std::string& sbdf, PciDevice::PciDeviceOwner owner);
};
const Setter kSetters[] = {
    {"configured", "Failed to configure device owner for ",
     [](const std::string& s, PciDevice::PciDeviceOwner o) { TarnCtl::Hardware::PciDeviceImpl(s).SetConfiguredDeviceOwner(o); }},
    {"run-time", "Unable to set PCI ownership of ",
     [](const std::string& s, PciDevice::PciDeviceOwner o) { TarnCtl::Hardware::PciDeviceImpl(s).SetRuntimeDeviceOwner(o); }},
};

TEST_F(GroupTest, UnlistableMemberRefusesTheChange) {
    struct Row {
        const char* devices;   // "" for the default host
        const char* device;    // whose owner changes
        uint32_t node;
        TarnSim::KernelOp op;
        const char* instance;  // where the kernel fails
        const char* cause;
    } rows[] = {
        {"", kGpu, KSI_NODE_hardware_pci_seg_bus_slot_func_passthruDependent, TarnSim::KernelOp::List, "0/216/0/0",
         "Unable to list the dependants of PCI device 0000:d8:00.0; Status(0xbad0004)= Busy"},
        {"", kGpu, KSI_NODE_hardware_pci_seg_bus_slot_func_children, TarnSim::KernelOp::List, "0/216/0/0",
         "Unable to list the children of PCI device 0000:d8:00.0; Status(0xbad0004)= Busy"},
        // A member found on the way: its own dependants and children count too.
        {"", kGpu, KSI_NODE_hardware_pci_seg_bus_slot_func_children, TarnSim::KernelOp::List, "0/216/0/1",
         "Unable to list the children of PCI device 0000:d8:00.1; Status(0xbad0004)= Busy"},
        {kBridgeTree, "0000:01:00.0", KSI_NODE_hardware_pci_seg_bus_slot_func_children, TarnSim::KernelOp::List,
         "0/2/0/0", "Unable to list the children of PCI device 0000:02:00.0; Status(0xbad0004)= Busy"},
        {kBridgeTree, "0000:01:00.0", KSI_NODE_hardware_pci_seg_bus_slot_func_passthruDependent,
         TarnSim::KernelOp::List, "0/2/0/0",
         "Unable to list the dependants of PCI device 0000:02:00.0; Status(0xbad0004)= Busy"},
        // A member's parent decides the host-bridge check: unreadable is no answer.
        {"", kGpu, KSI_NODE_hardware_pci_seg_bus_slot_func_parent, TarnSim::KernelOp::Get, "0/216/0/1",
         "Unable to read the parent of PCI device 0000:d8:00.1; Status(0xbad0004)= Busy"},
        // The run-time owner of a member, asked for the in-use check.
        {"", kGpu, KSI_NODE_hardware_pci_seg_bus_slot_func_owner, TarnSim::KernelOp::Get, "0/216/0/1",
         "Unable to get PCI ownership"},
    };
    for (const auto& setter : kSetters)
        for (const auto& r : rows) {
            SCOPED_TRACE(std::string(setter.name) + " " + r.device + " " + r.instance);
            InitHost(HwTest::Profile(r.devices));
            std::string before = KernelState();
            Fail(r.node, r.instance, r.op);
            Platform::Log::Capture log;
            EXPECT_EQ(Refusal([&] { setter.set(r.device, PASSTHRU); }), std::string(setter.lead) + r.device + ": " + r.cause);
            EXPECT_TRUE(log.Contains(std::string("PciDevice: Failed while configuring ownership for PCI device ") +
                                         r.device + " and its dependents.",
                                     Platform::Log::Level::Error));
            EXPECT_TRUE(TarnSim::Faults().empty());
            EXPECT_EQ(KernelState(), before);
            EXPECT_TRUE(StoredDevices().empty());
            // The same change with the kernel answering goes through, whole.
            EXPECT_EQ(Refusal([&] { setter.set(r.device, PASSTHRU); }), "");
            EXPECT_EQ(Device(kGpu == std::string(r.device) ? kGpuAudio : "0000:02:00.1").GetRuntimeDeviceOwner(),
                      PASSTHRU);
        }
}

// Going back to the host walks the same listing.
TEST_F(GroupTest, UnlistableMemberRefusesTheWayBack) {
    Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU);
    std::string before = KernelState();
    Fail(KSI_NODE_hardware_pci_seg_bus_slot_func_passthruDependent, "0/216/0/0", TarnSim::KernelOp::List);
    EXPECT_EQ(Refusal([] { TarnCtl::Hardware::PciDeviceImpl(kGpu).SetConfiguredDeviceOwner(TARNOS); }),
              "Failed to configure device owner for 0000:d8:00.0: Unable to list the dependants of PCI device "
              "0000:d8:00.0; Status(0xbad0004)= Busy");
    EXPECT_EQ(KernelState(), before);
    std::string owner;
    ASSERT_TRUE(Stored(kGpuAudio));
    Stored(kGpuAudio)->GetValue("owner", &owner);
    EXPECT_EQ(owner, "OWNER_PASSTHRU");
}

TEST_F(GroupTest, UnbindingAListRefusedWhenDependantsCannotBeListed) {
    std::string before = KernelState();
    Fail(KSI_NODE_hardware_pci_seg_bus_slot_func_passthruDependent, "0/216/0/0", TarnSim::KernelOp::List);
    EXPECT_EQ(Refusal([] { TarnCtl::Hardware::PciInfoImpl().UnbindDeviceList({"0000:5e:00.0", kGpu}); }),
              "Failed to get dependant device for 0000:d8:00.0: Unable to list the dependants of PCI device "
              "0000:d8:00.0; Status(0xbad0004)= Busy");
    EXPECT_EQ(KernelState(), before);
}

TEST_F(GroupTest, ReadingDependantsFailsLoudly) {
    Fail(KSI_NODE_hardware_pci_seg_bus_slot_func_children, "0/215/0/0", TarnSim::KernelOp::List);
    EXPECT_EQ(Refusal([] { TarnCtl::Hardware::PciDeviceImpl("0000:d7:00.0").GetDependentChildDevices(); }),
              "Unable to list the children of PCI device 0000:d7:00.0; Status(0xbad0004)= Busy");
    EXPECT_EQ(TarnCtl::Hardware::PciDeviceImpl("0000:d7:00.0").GetDependentChildDevices().size(), 2u);
}

TEST_F(GroupTest, RuntimeOwnerMovesTheGroupAndRecordsNothing) {
    Device(kGpu).SetRuntimeDeviceOwner(PASSTHRU);
    EXPECT_EQ(Device(kGpu).GetRuntimeDeviceOwner(), PASSTHRU);
    EXPECT_EQ(Device(kGpuAudio).GetRuntimeDeviceOwner(), PASSTHRU);
    EXPECT_TRUE(StoredDevices().empty());
    Device(kGpu).SetRuntimeDeviceOwner(PASSTHRU);  // already so: nothing to do
    Device(kGpu).SetRuntimeDeviceOwner(TARNOS);
    EXPECT_EQ(Device(kGpuAudio).GetRuntimeDeviceOwner(), TARNOS);
    EXPECT_EQ(Device(kGpuAudio).GetBoundDriver(), "hdaudio");
    // The safety checks hold at run time too.
    std::string before = KernelState();
    EXPECT_EQ(Refusal([] { TarnCtl::Hardware::PciDeviceImpl("0000:03:00.0").SetRuntimeDeviceOwner(PASSTHRU); }),
              "Cannot configure passthru on boot device.");
    EXPECT_EQ(Refusal([] {
                  TarnCtl::Hardware::PciDeviceImpl(kGpu).SetRuntimeDeviceOwner(
                      static_cast<PciDevice::PciDeviceOwner>(2));
              }),
              "Unknown owner 2");
    EXPECT_EQ(KernelState(), before);
}

// ---- Host drivers follow the owner ----------------------------------------------

TEST_F(GroupTest, PassthroughLetsTheHostDriversGoAndBackBindsThem) {
    Platform::Log::Capture log;
    Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU);
    EXPECT_EQ(Device(kGpu).GetBoundDriver(), "");
    EXPECT_EQ(Device(kGpuAudio).GetBoundDriver(), "");
    EXPECT_TRUE(log.Contains("PciInfo: Unbound device 0000:d8:00.0", Platform::Log::Level::Info));
    EXPECT_TRUE(log.Contains("PciInfo: Unbound device 0000:d8:00.1", Platform::Log::Level::Info));
    EXPECT_EQ(Device("0000:d7:00.0").GetBoundDriver(), "pciBridge");  // not of the group
    // A rescan leaves passthrough devices alone.
    TarnCtl::Hardware::PciInfoImpl().ScanAndBind(-1);
    EXPECT_EQ(Device(kGpu).GetBoundDriver(), "");
    Device(kGpu).SetConfiguredDeviceOwner(TARNOS);
    EXPECT_EQ(Device(kGpu).GetBoundDriver(), "nvgpu");
    EXPECT_EQ(Device(kGpuAudio).GetBoundDriver(), "hdaudio");
}

TEST_F(GroupTest, KernelRefusesPassthroughWhileADriverHoldsTheDevice) {
    auto si = TarnCtl::Hardware::PciNode(KSI_NODE_hardware_pci_seg_bus_slot_func_owner,
                                         HostCtl::Hardware::ParsePciString(kGpu));
    si->SetThrowOnError(false);
    si->AddInput(static_cast<long>(PASSTHRU));
    EXPECT_EQ(si->Set(), TARN_BUSY);
    EXPECT_EQ(Device(kGpu).GetRuntimeDeviceOwner(), TARNOS);
}

TEST_F(GroupTest, BackWithTheHostOnlyWhereTheHostMayDrive) {
    InitHost(HwTest::Profile(R"([
      {"address": "0000:00:01.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 1, "module": "pciBridge", "dpc": true},
      {"address": "0000:01:00.0", "vendor": "10de", "device": "1eb8", "class": "0302", "module": "nvgpu"},
      {"address": "0000:01:00.1", "vendor": "8086", "device": "1563", "class": "0200", "module": "ixgbe_native", "driverVm": true},
      {"address": "0000:01:00.2", "vendor": "8086", "device": "1563", "class": "0200"}])"));
    for (const char* a : {"0000:01:00.0", "0000:01:00.1", "0000:01:00.2"}) Device(a).SetConfiguredDeviceOwner(PASSTHRU);
    Device("0000:01:00.1").SetConfiguredDeviceOwner(TARNOS);
    EXPECT_EQ(Device("0000:01:00.1").GetBoundDriver(), "");  // a driver VM's
    Device("0000:01:00.2").SetConfiguredDeviceOwner(TARNOS);
    EXPECT_EQ(Device("0000:01:00.2").GetBoundDriver(), "");  // no module
    Device("0000:00:01.0").EnableDPC(true);
    Device("0000:00:01.0").TriggerDPCSoft();
    Device("0000:01:00.0").SetConfiguredDeviceOwner(TARNOS);
    EXPECT_EQ(Device("0000:01:00.0").GetRuntimeDeviceOwner(), TARNOS);
    EXPECT_EQ(Device("0000:01:00.0").GetBoundDriver(), "");  // its port is contained
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Device("0000:01:00.0").GetBoundDriver(), "nvgpu");
}

// The owner or the unbind of the second member refused: the first gets its
// owner and driver back, the store stays empty.
TEST_F(GroupTest, RefusalPartWayPutsTheGroupBack) {
    struct Row {
        uint32_t node;
        const Setter& setter;
        const char* message;
    } rows[] = {
        {KSI_NODE_hardware_pci_seg_bus_slot_func_owner, kSetters[1], "Unable to set PCI ownership"},
        {KSI_NODE_hardware_pci_seg_bus_slot_func_owner, kSetters[0],
         "Failed to configure device owner for 0000:d8:00.0: Unable to set PCI ownership"},
        {KSI_NODE_hardware_pci_seg_bus_slot_func_driver, kSetters[1], "Failed to unbind device 0000:d8:00.1"},
        {KSI_NODE_hardware_pci_seg_bus_slot_func_driver, kSetters[0],
         "Failed to configure device owner for 0000:d8:00.0: Failed to unbind device 0000:d8:00.1"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.message);
        std::string before = KernelState();
        Fail(r.node, "0/216/0/1", TarnSim::KernelOp::Set);
        EXPECT_EQ(Refusal([&] { r.setter.set(kGpu, PASSTHRU); }), r.message);
        EXPECT_EQ(KernelState(), before);
        EXPECT_TRUE(StoredDevices().empty());
    }
}

// The bind of the second member refused on the way back: the group stays with passthrough.
TEST_F(GroupTest, BindRefusedPartWayLeavesTheGroupWithPassthrough) {
    Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU);
    std::string before = KernelState();
    Fail(KSI_NODE_hardware_pci_seg_bus_slot_func_driver, "0/216/0/1", TarnSim::KernelOp::Set);
    EXPECT_EQ(Refusal([] { TarnCtl::Hardware::PciDeviceImpl(kGpu).SetConfiguredDeviceOwner(TARNOS); }),
              "Failed to configure device owner for 0000:d8:00.0: Failed to bind device 0000:d8:00.1");
    EXPECT_EQ(KernelState(), before);
    std::string owner;
    Stored(kGpu)->GetValue("owner", &owner);
    EXPECT_EQ(owner, "OWNER_PASSTHRU");
}

TEST_F(GroupTest, PassthroughDevicesStayWithoutDriversAfterReboot) {
    Device(kGpu).SetConfiguredDeviceOwner(PASSTHRU);
    std::string after = KernelState();
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelState(), after);
    EXPECT_EQ(Device(kGpuAudio).GetBoundDriver(), "");
}

TEST_F(GroupTest, ListShowsTheDriverFollowingTheOwner) {
    auto driverOf = [&](const std::string& sbdf) {
        HwTest::Outcome o = Hostctl({"--format", "json", "hardware", "pci", "list"});
        EXPECT_EQ(o.status, 0) << o.err;
        size_t at = o.out.find("\"address\":\"" + sbdf + "\"");
        if (at == std::string::npos) at = o.out.find("\"address\": \"" + sbdf + "\"");
        EXPECT_NE(at, std::string::npos) << o.out;
        size_t key = o.out.find("\"driver\":", at);
        size_t open = o.out.find('"', key + 9);
        return o.out.substr(open + 1, o.out.find('"', open + 1) - open - 1);
    };
    EXPECT_EQ(driverOf(kGpuAudio), "hdaudio");
    HwTest::Outcome set = Hostctl({"hardware", "pci", "owner", "set", "d8:00.0", "passthru"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(driverOf(kGpuAudio), "");
    EXPECT_EQ(driverOf(kGpu), "");
    set = Hostctl({"hardware", "pci", "owner", "set", "d8:00.0", "host"});
    EXPECT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(driverOf(kGpu), "nvgpu");
}

}  // namespace
