// Host drivers of PCI functions: unbinding a list of devices with their
// dependants (all or none, a kernel refusal part-way binding back what was
// let go), the rescan that binds drivers again only where the host may drive
// the device (not passthrough, not a driver VM's, not below a contained
// port), its segment argument on both sides of its range, and a reboot
// binding everything again.
#include <gtest/gtest.h>

#include "hardware/pci_info_impl.h"
#include "hostctl/exception.h"
#include "hw_fixture.h"
#include "platform/log.h"
#include "sim/faults.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace {

using TarnCtl::Hardware::PciInfoImpl;

// Two segments; a GPU with its audio function as dependant; a passthrough
// NIC, a driver VM's NIC and a function without a module.
const char* kDevices = R"([
  {"address": "0000:00:01.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 1, "module": "pciBridge"},
  {"address": "0000:01:00.0", "vendor": "10de", "device": "1e84", "class": "0300", "module": "nvgpu", "dependant": "0000:01:00.1"},
  {"address": "0000:01:00.1", "vendor": "10de", "device": "10f8", "class": "0403", "module": "hdaudio"},
  {"address": "0000:01:00.2", "vendor": "8086", "device": "1563", "class": "0200", "module": "ixgbe_native", "owner": "passthru"},
  {"address": "0000:01:00.3", "vendor": "8086", "device": "1563", "class": "0200", "module": "ixgbe_native", "driverVm": true},
  {"address": "0000:01:00.4", "vendor": "8086", "device": "1563", "class": "0200"},
  {"address": "0001:05:00.0", "vendor": "15b3", "device": "1015", "class": "0200", "module": "mlx5_native"}
])";

class BindingTest : public HwTest::HardwareTest {
protected:
    void SetUp() override {
        HwTest::HardwareTest::SetUp();
        InitHost(HwTest::Profile(kDevices));
    }
    std::string Driver(const std::string& sbdf) { return Device(sbdf).GetBoundDriver(); }
    // Every function's driver, "address=driver" in listing order.
    std::string Drivers() {
        std::string out;
        for (const auto& a : Addresses()) out += a + "=" + Driver(a) + " ";
        return out;
    }
    std::string UnbindRefusal(const std::vector<std::string>& list) {
        try {
            PciInfoImpl().UnbindDeviceList(list);
        } catch (const HostCtl::Lib::HostCtlException& e) {
            return e.what();
        }
        return "";
    }
};

const char* kAllBound =
    "0000:00:01.0=pciBridge 0000:01:00.0=nvgpu 0000:01:00.1=hdaudio 0000:01:00.2= 0000:01:00.3= 0000:01:00.4= "
    "0001:05:00.0=mlx5_native ";

TEST_F(BindingTest, StartsBoundWhereTheHostDrives) {
    EXPECT_EQ(Drivers(), kAllBound);
    EXPECT_TRUE(Device("0000:01:00.3").IsInDriverVMMode());
    EXPECT_FALSE(Device("0000:01:00.2").IsInDriverVMMode());
    EXPECT_FALSE(Device("0000:01:00.0").IsInDriverVMMode());
}

TEST_F(BindingTest, UnbindTakesDependantsAndLogsEach) {
    Platform::Log::Capture log;
    PciInfoImpl().UnbindDeviceList({"01:00.0", "0001:05:00.0"});
    EXPECT_EQ(Drivers(),
              "0000:00:01.0=pciBridge 0000:01:00.0= 0000:01:00.1= 0000:01:00.2= 0000:01:00.3= 0000:01:00.4= "
              "0001:05:00.0= ");
    EXPECT_EQ(log.Count("PciInfo: Unbound device "), 3u);
    EXPECT_TRUE(log.Contains("PciInfo: Unbound device 0000:01:00.1", Platform::Log::Level::Info));
    // Already unbound: nothing to do, nothing logged.
    log.Clear();
    PciInfoImpl().UnbindDeviceList({"0000:01:00.1", "0000:01:00.4"});
    EXPECT_EQ(log.Count("Unbound device"), 0u);
}

TEST_F(BindingTest, BadListChangesNothing) {
    EXPECT_EQ(UnbindRefusal({"0000:01:00.0", "0000:01:07.0"}), "0000:01:07.0: device not found");
    EXPECT_EQ(UnbindRefusal({"0001:05:00.0", "01:00.0.1"}), "Invalid PCI address: 01:00.0.1");
    EXPECT_EQ(Drivers(), kAllBound);
    // A dependant the kernel names but does not have.
    InitHost(HwTest::Profile(R"([
      {"address": "0000:00:01.0", "vendor": "8086", "device": "2030", "class": "0604", "bridgeTo": 1, "module": "pciBridge"},
      {"address": "0000:01:00.0", "vendor": "10de", "device": "1e84", "class": "0300", "module": "nvgpu", "dependant": "0000:01:00.5"}])"));
    EXPECT_EQ(UnbindRefusal({"0000:00:01.0", "0000:01:00.0"}),
              "Failed to get dependant device for 0000:01:00.0: 0000:01:00.5: device not found");
    EXPECT_EQ(Driver("0000:00:01.0"), "pciBridge");
    EXPECT_EQ(Driver("0000:01:00.0"), "nvgpu");
}

// The n-th unbind refused by the kernel: every earlier one is bound again.
TEST_F(BindingTest, KernelRefusalPartWayBindsBack) {
    const std::vector<std::string> list = {"0000:00:01.0", "0000:01:00.0", "0001:05:00.0"};
    const char* failing[] = {"0000:00:01.0", "0000:01:00.0", "0000:01:00.1", "0001:05:00.0"};
    for (unsigned skip = 0; skip < 4; ++skip) {
        SCOPED_TRACE(skip);
        TarnTest::FailKernel(KSI_NODE_hardware_pci_seg_bus_slot_func_driver, TARN_FAILURE,
                             {.op = TarnSim::KernelOp::Set, .skip = skip});
        EXPECT_EQ(UnbindRefusal(list), std::string("Failed to unbind device ") + failing[skip]);
        EXPECT_EQ(Drivers(), kAllBound);
        EXPECT_TRUE(TarnSim::Faults().empty());
    }
}

TEST_F(BindingTest, RescanBindsOnlyWhatTheHostDrives) {
    PciInfoImpl().UnbindDeviceList({"0000:00:01.0", "0000:01:00.0", "0001:05:00.0"});
    PciInfoImpl().ScanAndBind(1);
    EXPECT_EQ(Drivers(),
              "0000:00:01.0= 0000:01:00.0= 0000:01:00.1= 0000:01:00.2= 0000:01:00.3= 0000:01:00.4= "
              "0001:05:00.0=mlx5_native ");
    PciInfoImpl().ScanAndBind(-1);
    EXPECT_EQ(Drivers(), kAllBound);  // never the passthrough, driver-VM or module-less functions
}

TEST_F(BindingTest, RescanSegmentRange) {
    struct Row {
        int segment;
        const char* refusal;
    } rows[] = {{-2, "Invalid PCI segment -2"}, {-1, ""}, {0, ""}, {65535, ""}, {65536, "Invalid PCI segment 65536"}};
    for (const auto& r : rows) {
        SCOPED_TRACE(r.segment);
        PciInfoImpl().UnbindDeviceList({"0000:01:00.0"});
        std::string refusal;
        try {
            PciInfoImpl().ScanAndBind(r.segment);
        } catch (const HostCtl::Lib::HostCtlException& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal, r.refusal);
        bool rebound = r.segment == -1 || r.segment == 0;
        EXPECT_EQ(Driver("0000:01:00.0"), rebound ? "nvgpu" : "");
        PciInfoImpl().ScanAndBind(-1);
    }
}

TEST_F(BindingTest, RescanRefusedByTheKernel) {
    PciInfoImpl().UnbindDeviceList({"0000:01:00.0"});
    TarnTest::FailKernel(KSI_NODE_hardware_pci_rescan, TARN_FAILURE);
    try {
        PciInfoImpl().ScanAndBind(-1);
        ADD_FAILURE();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Failed to rebind devices.");
    }
    EXPECT_EQ(Driver("0000:01:00.0"), "");
    EXPECT_EQ(Driver("0000:01:00.1"), "");
}

TEST_F(BindingTest, RebootBindsAgain) {
    PciInfoImpl().UnbindDeviceList({"0000:01:00.0", "0001:05:00.0"});
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Drivers(), kAllBound);
}

}  // namespace
