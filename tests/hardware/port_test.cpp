// PCI Express ports: downstream port containment (switched on and off,
// triggered by software, the port's DPC registers and link and the drivers
// below it reacting, refusals and kernel failures changing nothing, a reboot
// ending containment), the hotplug slot with its adapter, and CXL facts.
#include <gtest/gtest.h>

#include <functional>

#include "hardware/pci_info_impl.h"
#include "hostctl/exception.h"
#include "hw_fixture.h"
#include "platform/misc.h"
#include "sim/faults.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace {

using HwTest::Refusal;

using namespace Ksi::Hardware;

const char* kPort = "0000:d7:00.0";     // hotplug slot 6, DPC capable, GPU and audio below
const char* kNoDpc = "0000:3a:00.0";    // a port without DPC
const uint32_t kDpcControl = 0x1a6, kDpcStatus = 0x1a8;

class PortTest : public HwTest::HardwareTest {
protected:
    uint16_t Register(const std::string& sbdf, uint32_t offset) {
        PciConfigSpace cs{};
        auto si = TarnCtl::Hardware::PciNode(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigSpace,
                                             HostCtl::Hardware::ParsePciString(sbdf));
        si->Get(&cs, sizeof cs);
        return static_cast<uint16_t>(cs.data[offset] | cs.data[offset + 1] << 8);
    }
    // What a user sees of the port and the functions below it.
    std::string State() {
        auto p = Device(kPort);
        return HostCtl::Misc::StrPrintf("enabled=%d done=%d inProgress=%d control=%04x status=%04x link=%u %s %s",
                                        p.GetDPC(), p.IsDPCContainmentDone(), p.IsDPCInProgress(),
                                        Register(kPort, kDpcControl), Register(kPort, kDpcStatus),
                                        p.GetPciePortOperationStatus(), Device("0000:d8:00.0").GetBoundDriver().c_str(),
                                        Device("0000:d8:00.1").GetBoundDriver().c_str());
    }
};

const char* kArmed = "enabled=1 done=0 inProgress=0 control=0001 status=0000 link=0 nvgpu hdaudio";
const char* kOff = "enabled=0 done=0 inProgress=0 control=0000 status=0000 link=0 nvgpu hdaudio";
const char* kContained = "enabled=1 done=1 inProgress=0 control=0001 status=0027 link=2  ";

TEST_F(PortTest, ContainmentTriggeredBySoftware) {
    EXPECT_EQ(State(), kArmed);
    Device(kPort).TriggerDPCSoft();
    EXPECT_EQ(State(), kContained);
    // The functions below stay without drivers: a rescan does not reach them.
    TarnCtl::Hardware::PciInfoImpl().ScanAndBind(-1);
    EXPECT_EQ(State(), kContained);
    EXPECT_EQ(Refusal([&] { Device(kPort).TriggerDPCSoft(); }),
              "DPC containment is already done on device 0000:d7:00.0");
    EXPECT_EQ(Refusal([&] { Device(kPort).EnableDPC(false); }),
              "Cannot disable DPC on device 0000:d7:00.0 while its link is contained");
    EXPECT_EQ(State(), kContained);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(State(), kArmed);
}

TEST_F(PortTest, SwitchedOffAndOn) {
    Device(kPort).EnableDPC(false);
    EXPECT_EQ(State(), kOff);
    Device(kPort).EnableDPC(false);  // already off: nothing to do
    EXPECT_EQ(Refusal([&] { Device(kPort).TriggerDPCSoft(); }), "DPC is not enabled on device 0000:d7:00.0");
    EXPECT_EQ(State(), kOff);
    Device(kPort).EnableDPC(true);
    EXPECT_EQ(State(), kArmed);
}

TEST_F(PortTest, PortWithoutDpc) {
    EXPECT_FALSE(Device(kNoDpc).GetDPC());
    EXPECT_EQ(Refusal([&] { Device(kNoDpc).EnableDPC(true); }), "Device 0000:3a:00.0 does not support DPC");
    EXPECT_EQ(Refusal([&] { Device(kNoDpc).TriggerDPCSoft(); }), "Device 0000:3a:00.0 does not support DPC");
    EXPECT_FALSE(Device(kNoDpc).IsDPCContainmentDone());
    EXPECT_EQ(Device(kNoDpc).GetPciePortOperationStatus(), static_cast<uint32_t>(kPortLinkUp));
}

TEST_F(PortTest, KernelRefusalsChangeNothing) {
    struct Row {
        uint32_t node;
        std::function<void(TarnCtl::Hardware::PciDeviceImpl&)> act;
        const char* text;
        const char* state;
    } rows[] = {
        {KSI_NODE_hardware_pci_seg_bus_slot_func_DPC, [](auto& d) { d.EnableDPC(false); },
         "Unable to disable DPC on device 0000:d7:00.0", kArmed},
        {KSI_NODE_hardware_pci_seg_bus_slot_func_softTriggerDPC, [](auto& d) { d.TriggerDPCSoft(); },
         "Unable to trigger DPC on device 0000:d7:00.0", kArmed},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.text);
        TarnTest::FailKernel(r.node, TARN_FAILURE, {.op = TarnSim::KernelOp::Set});
        auto d = Device(kPort);
        EXPECT_EQ(Refusal([&] { r.act(d); }), r.text);
        EXPECT_EQ(State(), r.state);
    }
    Device(kPort).EnableDPC(false);
    TarnTest::FailKernel(KSI_NODE_hardware_pci_seg_bus_slot_func_DPC, TARN_FAILURE, {.op = TarnSim::KernelOp::Set});
    EXPECT_EQ(Refusal([&] { Device(kPort).EnableDPC(true); }), "Unable to enable DPC on device 0000:d7:00.0");
    EXPECT_EQ(State(), kOff);
}

TEST_F(PortTest, HotplugSlotAndItsAdapter) {
    auto p = Device(kPort);
    EXPECT_EQ(p.GetHotplugSlotNum(), 6u);
    EXPECT_TRUE(p.GetHotplugSlotAdapterPresent());
    EXPECT_FALSE(p.GetHotplugSurpriseEnabled());
    EXPECT_TRUE(p.GetHotplugAttnButtonPresent());
    EXPECT_EQ(p.GetHotplugSlotAdapterSBDFString(), "0000:d8:00.0");
    EXPECT_EQ(p.GetHotplugSlotAdapterVendorID(), 0x10de);
    EXPECT_EQ(p.GetHotplugSlotAdapterDeviceID(), 0x1e84);
    EXPECT_EQ(p.GetHotplugSlotAdapterDesc(), Device("0000:d8:00.0").GetDevice());
    EXPECT_NE(p.GetHotplugSlotAdapterDesc(), "Unknown");
    EXPECT_EQ(p.GetHotplugSlotAdapterAlias(), "");
    EXPECT_EQ(Refusal([&] { Device(kNoDpc).GetHotplugSlotInfo(); }), "0000:3a:00.0 is not a hotplug slot");
    EXPECT_EQ(Refusal([&] { Device(kNoDpc).GetHotplugSlotAdapterSBDFString(); }), "0000:3a:00.0 is not a hotplug slot");
}

TEST_F(PortTest, EmptySlotAndCxlFacts) {
    InitHost(HwTest::Profile(R"([
      {"address": "0000:00:02.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 2, "hotplugSlot": 4,
       "hotplug": {"adapterPresent": false, "surprise": true, "attnButton": false}},
      {"address": "0000:00:03.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 3},
      {"address": "0000:03:00.0", "vendor": "8086", "device": "0d93", "class": "0502",
       "cxl": {"version": 2, "cache": false, "mem": true, "memBytes": 137438953472}}])"));
    auto slot = Device("0000:00:02.0");
    EXPECT_FALSE(slot.GetHotplugSlotAdapterPresent());
    EXPECT_TRUE(slot.GetHotplugSurpriseEnabled());
    EXPECT_FALSE(slot.GetHotplugAttnButtonPresent());
    EXPECT_EQ(Refusal([&] { slot.GetHotplugSlotAdapterVendorID(); }), "No adapter in hotplug slot 4 of 0000:00:02.0");
    auto cxl = Device("0000:03:00.0").GetCxlInfo();
    EXPECT_TRUE(cxl.isCxl);
    EXPECT_EQ(cxl.version, 2u);
    EXPECT_FALSE(cxl.cache);
    EXPECT_TRUE(cxl.mem);
    EXPECT_EQ(cxl.memBytes, 137438953472u);
    auto none = Device("0000:00:03.0").GetCxlInfo();
    EXPECT_FALSE(none.isCxl);
    EXPECT_EQ(none.version, 0u);
    EXPECT_EQ(none.memBytes, 0u);
}

TEST_F(PortTest, AttentionIndicator) {
    EXPECT_FALSE(Device(kPort).GetAttnIndicator());
    Device(kPort).SetAttnIndicator(true);
    EXPECT_TRUE(Device(kPort).GetAttnIndicator());
    TarnTest::FailKernel(KSI_NODE_hardware_pci_seg_bus_slot_func_attnIndicator, TARN_FAILURE,
                         {.op = TarnSim::KernelOp::Set});
    EXPECT_EQ(Refusal([&] { Device(kPort).SetAttnIndicator(false); }),
              "Unable to set the attention indicator of 0000:d7:00.0");
    EXPECT_TRUE(Device(kPort).GetAttnIndicator());
    EXPECT_EQ(Refusal([&] { Device(kNoDpc).SetAttnIndicator(true); }), "0000:3a:00.0 is not a hotplug slot");
    EXPECT_EQ(Refusal([&] { Device(kNoDpc).GetAttnIndicator(); }), "0000:3a:00.0 is not a hotplug slot");
    TarnSim::Profile::Reboot();  // a light of the slot: off after a power cycle
    EXPECT_FALSE(Device(kPort).GetAttnIndicator());
}

}  // namespace
