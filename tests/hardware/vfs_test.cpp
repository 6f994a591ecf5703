// SR-IOV: the VF count's limits on both sides, refusals on devices without
// the capability, VFs appearing and going as the count changes, a store
// fault putting the kernel's count back, and VFs surviving a reboot.
#include <gtest/gtest.h>

#include <algorithm>

#include "hostctl/exception.h"
#include "hw_fixture.h"
#include "ksi/hardware.h"
#include "sim/faults.h"
#include "sim/kernel.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace {

const char* kMlx = "0000:5e:00.0";  // 8 VFs from routing id +2, stride 1
const char* kX550 = "0000:3b:00.0";  // 64 VFs from +128, stride 2

class VfTest : public HwTest::HardwareTest {
protected:
    std::vector<std::string> Vfs(const std::string& pf) {
        std::vector<std::string> out;
        for (const auto& a : Addresses())
            if (Device(a).IsVirtualFunction() && Device(a).GetPfSbdfString() == pf) out.push_back(a);
        return out;
    }
    std::string Refusal(const std::string& sbdf, uint32_t n) {
        try {
            Device(sbdf).SetConfiguredMaxVfs(n);
        } catch (const HostCtl::Lib::HostCtlException& e) {
            return e.what();
        }
        return "";
    }
    long StoredVfs(const std::string& sbdf) {
        long n = -1;
        auto o = Stored(sbdf);
        if (o) o->GetValue("max_vfs", &n);
        return n;
    }
};

TEST_F(VfTest, VfsAppearWithTheirNames) {
    EXPECT_TRUE(Vfs(kMlx).empty());
    Device(kMlx).SetConfiguredMaxVfs(4);
    EXPECT_EQ(Vfs(kMlx), (std::vector<std::string>{"0000:5e:00.2", "0000:5e:00.3", "0000:5e:00.4", "0000:5e:00.5"}));
    auto vf = Device("0000:5e:00.3");
    EXPECT_EQ(vf.GetDeviceId(), 0x1016);
    EXPECT_EQ(vf.GetDevice(), "ConnectX-4 Lx Virtual Function");
    EXPECT_EQ(vf.GetVfId(), 1u);
    EXPECT_EQ(Device(kMlx).GetCurrentNumVfs(), 4u);
    EXPECT_EQ(Device(kMlx).GetRuntimeMaxVfs(), 4u);
    EXPECT_EQ(StoredVfs(kMlx), 4);
    Device(kMlx).SetConfiguredMaxVfs(2);
    EXPECT_EQ(Vfs(kMlx).size(), 2u);
    EXPECT_EQ(Addresses().size(), 23u);  // 21 functions and 2 VFs
    // Stride 2: the X550's VFs take the even functions from routing id 0x3b80.
    Device(kX550).SetConfiguredMaxVfs(3);
    EXPECT_EQ(Vfs(kX550), (std::vector<std::string>{"0000:3b:10.0", "0000:3b:10.2", "0000:3b:10.4"}));
    EXPECT_EQ(Device("0000:3b:10.2").GetDevice(), "X550 Virtual Function");
}

TEST_F(VfTest, LimitsBothSides) {
    EXPECT_EQ(Device(kMlx).GetSupportedNumVfs(), 8u);
    EXPECT_EQ(Refusal(kMlx, 9), "Invalid number of VFs 9 for device 0000:5e:00.0: it supports 0 to 8");
    EXPECT_EQ(Refusal(kMlx, 70000), "Invalid number of VFs 70000 for device 0000:5e:00.0: it supports 0 to 8");
    EXPECT_TRUE(StoredDevices().empty());
    EXPECT_EQ(Device(kMlx).GetCurrentNumVfs(), 0u);
    EXPECT_EQ(Refusal(kMlx, 8), "");
    EXPECT_EQ(Vfs(kMlx).size(), 8u);
    EXPECT_EQ(Refusal(kMlx, 0), "");
    EXPECT_TRUE(Vfs(kMlx).empty());
    EXPECT_EQ(StoredVfs(kMlx), 0);
}

TEST_F(VfTest, DevicesWithoutSriov) {
    EXPECT_EQ(Refusal("0000:d8:00.0", 1), "0000:d8:00.0: device is not SRIOV capable");
    EXPECT_FALSE(Device("0000:d8:00.0").IsSriovCapable());
    for (auto get : {&TarnCtl::Hardware::PciDeviceImpl::GetSupportedNumVfs,
                     &TarnCtl::Hardware::PciDeviceImpl::GetCurrentNumVfs,
                     &TarnCtl::Hardware::PciDeviceImpl::GetRuntimeMaxVfs}) {
        auto d = Device("0000:af:00.0");
        try {
            (d.*get)();
            ADD_FAILURE();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_STREQ(e.what(), "Device is not SRIOV capable");
        }
    }
    EXPECT_TRUE(StoredDevices().empty());
}

TEST_F(VfTest, KernelRefusalStoresNothing) {
    TarnTest::FailKernel(KSI_NODE_system_devicetree_devices_maxVfs, TARN_BUSY, {.op = TarnSim::KernelOp::Set});
    std::string message = Refusal(kMlx, 4);
    EXPECT_EQ(message.rfind("Unable to set the number of VFs of 0000:5e:00.0; Status(0xbad0004)", 0), 0u) << message;
    EXPECT_TRUE(StoredDevices().empty());
    EXPECT_TRUE(Vfs(kMlx).empty());
}

// A running VM holding one VF keeps the count where it is: changing it would
// tear that VF down under the VM.
TEST_F(VfTest, VfInUseByAVmKeepsTheCount) {
    Device(kMlx).SetConfiguredMaxVfs(4);
    auto holdVf = [](uint32_t inUse) {
        TarnSim::WithState(
            [&](TarnSim::KernelState& s) {
                s.Put(KSI_NODE_hardware_pci_seg_bus_slot_func_owner, {"0", "94", "0", "3"},
                      Ksi::Hardware::PciOwnerState{1, inUse, 0});
            },
            true);
    };
    holdVf(1);
    ASSERT_TRUE(Device("0000:5e:00.3").IsInPassthruUseByVM());
    for (uint32_t n : {0u, 2u, 8u}) {
        const std::string message = Refusal(kMlx, n);
        EXPECT_EQ(message.rfind("Unable to set the number of VFs of 0000:5e:00.0; Status(0xbad0004)", 0), 0u)
            << n << ": " << message;
        EXPECT_EQ(Vfs(kMlx).size(), 4u);
        EXPECT_EQ(StoredVfs(kMlx), 4);
        EXPECT_TRUE(Device("0000:5e:00.3").IsInPassthruUseByVM());
    }
    EXPECT_EQ(Refusal(kMlx, 4), "");  // the same count tears nothing down
    holdVf(0);
    EXPECT_EQ(Refusal(kMlx, 2), "");
    EXPECT_EQ(Vfs(kMlx).size(), 2u);
    EXPECT_EQ(StoredVfs(kMlx), 2);
}

TEST_F(VfTest, StoreFaultPutsTheCountBack) {
    Device(kMlx).SetConfiguredMaxVfs(2);
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    EXPECT_NE(Refusal(kMlx, 6).find("injected fault"), std::string::npos);
    EXPECT_EQ(Vfs(kMlx).size(), 2u);
    EXPECT_EQ(Device(kMlx).GetCurrentNumVfs(), 2u);
    EXPECT_EQ(StoredVfs(kMlx), 2);
}

TEST_F(VfTest, VfsSurviveAReboot) {
    Device(kMlx).SetConfiguredMaxVfs(4);
    Device("0000:5e:00.1").SetConfiguredMaxVfs(1);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Vfs(kMlx).size(), 4u);
    EXPECT_EQ(Vfs("0000:5e:00.1"), (std::vector<std::string>{"0000:5e:01.2"}));
    // A VF's stored owner applies after its VFs are back.
    Device("0000:5e:00.3").SetConfiguredDeviceOwner(HostCtl::Hardware::PciDevice::OWNER_PASSTHRU);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Device("0000:5e:00.3").GetRuntimeDeviceOwner(), HostCtl::Hardware::PciDevice::OWNER_PASSTHRU);
    EXPECT_EQ(Device("0000:5e:00.2").GetRuntimeDeviceOwner(), HostCtl::Hardware::PciDevice::OWNER_TARNOS);
}

}  // namespace
