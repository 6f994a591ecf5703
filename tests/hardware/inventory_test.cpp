// The rest of the inventory: one model of the host's devices (every NIC and
// storage adapter is a PCI device of the same address and name), the tree's
// parents, children and dependants, the passthrough and driver maps applied
// at boot, firmware facts and the UEFI boot order.
#include <gtest/gtest.h>

#include <rapidjson/document.h>

#include "hardware/hardware_info_impl.h"
#include "hardware/pci_info_impl.h"
#include "hostctl/exception.h"
#include "hw_fixture.h"
#include "ksi/network.h"
#include "ksi/storage.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"
#include "sim/faults.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace {

class InventoryTest : public HwTest::HardwareTest {};

TEST_F(InventoryTest, NicsAndAdaptersAreItsPciDevices) {
    size_t checked = 0;
    for (const auto& nic : TarnCtl::Util::SysinfoUtil::GetStringInstanceList(KSI_NODE_net_pNics_properties)) {
        KsiPnicProperties p{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_net_pNics_properties);
        si.SetInstance(nic);
        si.Get(&p, sizeof p);
        EXPECT_EQ(Device(p.pciAddress).GetTarnosDeviceName(), nic);
        EXPECT_EQ(Device(p.pciAddress).GetDeviceClassName(), "Ethernet controller");
        ++checked;
    }
    for (const auto& hba : TarnCtl::Util::SysinfoUtil::GetStringInstanceList(KSI_NODE_storage_scsifw_adapters_info)) {
        KsiStorageAdapterInfo a{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_storage_scsifw_adapters_info);
        si.SetInstance(hba);
        si.Get(&a, sizeof a);
        if (!a.hasPci) continue;
        HostCtl::Hardware::PciAddress addr{a.pciSegment, a.pciBus, a.pciSlot, a.pciFunction};
        EXPECT_EQ(Device(HostCtl::Hardware::GetSBDFString(addr)).GetTarnosDeviceName(), hba);
        ++checked;
    }
    EXPECT_EQ(checked, 7u);  // four NICs, three PCI storage adapters
}

TEST_F(InventoryTest, TreeRelations) {
    auto parent = Device("0000:d8:00.0").GetParentDevice();
    ASSERT_TRUE(parent);
    EXPECT_EQ(parent->GetSBDFString(), "0000:d7:00.0");
    EXPECT_TRUE(parent->IsP2PBridge());
    EXPECT_EQ(parent->GetSpawnedBus(), 0xd8);
    EXPECT_FALSE(Device("0000:00:17.0").GetParentDevice());
    auto deps = Device("0000:d8:00.0").GetDependantDevice();
    ASSERT_EQ(deps.size(), 1u);
    EXPECT_EQ(deps[0]->GetSBDFString(), "0000:d8:00.1");
    auto children = Device("0000:d7:00.0").GetDependentChildDevices();
    ASSERT_EQ(children.size(), 2u);
    EXPECT_EQ(children[1]->GetSBDFString(), "0000:d8:00.1");
    EXPECT_TRUE(Device("0000:d7:00.0").IsHotplugSlot());
    EXPECT_EQ(Device("0000:d7:00.0").GetHotplugSlotNum(), 6u);
    EXPECT_TRUE(Device("0000:d7:00.0").GetDPC());
    auto bars = Device("0000:d8:00.0").GetBARInfo();
    ASSERT_EQ(bars.size(), 2u);
    EXPECT_EQ(bars[1].size, 268435456u);
    EXPECT_TRUE(bars[1].is64);
    EXPECT_TRUE(bars[1].prefetchable);
    EXPECT_EQ(TarnCtl::Hardware::PciInfoImpl().GetAllPciDevices().size(), 21u);
}

TEST_F(InventoryTest, PassthroughMapAppliedAtBoot) {
    // The kernel starts from the profile's methods; the map's values come at boot.
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Device("0000:d8:00.0").GetResetMethodString(), "Bridge reset");
    EXPECT_FALSE(Device("0000:d8:00.0").GetFPTShareable());
    EXPECT_EQ(Device("0000:3b:00.0").GetResetMethodString(), "Function reset");
    EXPECT_TRUE(Device("0000:3b:00.0").GetFPTShareable());
    EXPECT_EQ(Device("0000:af:00.0").GetResetMethodString(), "Default");  // the ffff:ffff entry
    HostCtl::Misc::WriteHostFileAtomic("/etc/quillon/passthru.map",
                                       "# map\n\n1077 2261 d3d0 false\n"
                                       "1077 2261 link true\n"  // a later duplicate loses
                                       "10de 1e84 flr\n"         // malformed: three fields
                                       "zzzz 1e84 flr true\n" +
                                           std::string("10de 10f8 link true ") + std::string(500, ' ') + "\n");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Device("0000:af:00.0").GetResetMethodString(), "Power state reset");
    EXPECT_FALSE(Device("0000:af:00.0").GetFPTShareable());
    EXPECT_EQ(Device("0000:d8:00.0").GetResetMethodString(), "Default");  // no entry, no default
    EXPECT_EQ(Device("0000:d8:00.1").GetResetMethodString(), "Default");  // over 512 characters
    EXPECT_TRUE(Device("0000:d8:00.0").GetFPTShareable());
}

TEST_F(InventoryTest, DriverMap) {
    EXPECT_EQ(Device("0000:3b:00.0").GetDeviceDriver(), "ixgbe_native");
    EXPECT_EQ(Device("0000:3b:00.0").GetDeviceDriverType(), "network");
    EXPECT_EQ(Device("0000:af:00.1").GetDeviceDriverType(), "storage");
    EXPECT_EQ(Device("0000:d8:00.0").GetDeviceDriver(), "(Unknown)");
    EXPECT_EQ(Device("0000:d8:00.0").GetDeviceDriverType(), "(Unknown)");
}

TEST_F(InventoryTest, FirmwareFacts) {
    TarnCtl::Hardware::HardwareInfoImpl info;
    EXPECT_EQ(info.GetName(), "HardwareInfoImpl");
    EXPECT_EQ(info.GetHardwareUuid(), "00000000-0000-0000-0000-AC1F6B4A2C10");
    EXPECT_EQ(info.GetVendorName(), "Supermicro");
    EXPECT_EQ(info.GetBiosInfo(), "American Megatrends Inc. 3.4 10/15/2020");
    EXPECT_TRUE(info.IsIPMISupported());
    EXPECT_FALSE(info.IsSmcPresent());
    auto cpu = TarnCtl::Hardware::CpuInfoImpl().GetSummary();
    EXPECT_EQ(cpu.numThreads, 48u);
    EXPECT_EQ(cpu.rawCpuid, "0x00050654,0x00000800,0x7ffafbff,0xbfebfbff");
    auto mem = TarnCtl::Hardware::MemoryInfoImpl().GetSummary();
    EXPECT_EQ(mem.tieringType, "noTiering");
    ASSERT_EQ(mem.tiers.size(), 1u);
    EXPECT_EQ(mem.tiers[0].media, "DRAM");
    EXPECT_EQ(TarnCtl::Hardware::NumaInfoImpl().GetNodes().size(), 2u);
    EXPECT_EQ(TarnCtl::Hardware::MemoryInfoImpl::TieringTypeText(2), "softwareTiering");
    struct Row {
        std::string (*fn)(uint32_t);
        uint32_t value;
        const char* text;
    } rows[] = {{&TarnCtl::Hardware::MemoryInfoImpl::TieringTypeText, 3, "Invalid memory tiering type 3"},
                {&TarnCtl::Hardware::MemoryInfoImpl::TierTypeText, 5, "Invalid memory tier type 5"}};
    for (const auto& r : rows) {
        try {
            r.fn(r.value);
            ADD_FAILURE() << r.text;
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_STREQ(e.what(), r.text);
        }
    }
    EXPECT_EQ(TarnCtl::Hardware::MemoryInfoImpl::TierTypeText(4), "vmOverheadTier");
}

TEST_F(InventoryTest, BootOrderSwap) {
    TarnCtl::Hardware::HardwareInfoImpl info;
    auto ids = [&] {
        std::vector<uint16_t> out;
        for (const auto& b : info.GetBootDevices()) out.push_back(b.id);
        return out;
    };
    EXPECT_EQ(ids(), (std::vector<uint16_t>{3, 1, 7}));
    EXPECT_EQ(info.GetBootDevices()[0].description, "UEFI: Integrated RAID");
    info.SwapBootDeviceOrder(7, 3);
    EXPECT_EQ(ids(), (std::vector<uint16_t>{7, 1, 3}));
    for (auto [a, b] : {std::make_pair(3, 9), std::make_pair(9, 3), std::make_pair(8, 9)}) {
        try {
            info.SwapBootDeviceOrder(a, b);
            ADD_FAILURE();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_STREQ(e.what(), "Device ids not in boot order");
        }
    }
    TarnTest::FailKernel(KSI_NODE_uefi_variable, TARN_FAILURE, {.op = TarnSim::KernelOp::Set});
    try {
        info.SwapBootDeviceOrder(1, 3);
        ADD_FAILURE();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Unable to set boot order or not supported by hardware");
    }
    EXPECT_EQ(ids(), (std::vector<uint16_t>{7, 1, 3}));
    TarnTest::FailKernel(KSI_NODE_uefi_variable, TARN_FAILURE, {.op = TarnSim::KernelOp::Get});
    try {
        info.GetBootDevices();
        ADD_FAILURE();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(),
                     "Hardware Query Error: Unable to get boot order from UEFI or operation not supported on this hardware. ");
    }
}

// The firmware keeps the order in its NVRAM: a reboot shows the swapped
// order, a refused swap leaves NVRAM as it was, a new machine (`sim init`)
// starts from the factory order again.
TEST_F(InventoryTest, BootOrderKeptAcrossReboot) {
    auto ids = [] {
        std::vector<uint16_t> out;
        for (const auto& b : TarnCtl::Hardware::HardwareInfoImpl().GetBootDevices()) out.push_back(b.id);
        return out;
    };
    TarnSim::Profile::Reboot();
    EXPECT_EQ(ids(), (std::vector<uint16_t>{3, 1, 7}));
    TarnCtl::Hardware::HardwareInfoImpl().SwapBootDeviceOrder(3, 1);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(ids(), (std::vector<uint16_t>{1, 3, 7}));
    EXPECT_EQ(TarnCtl::Hardware::HardwareInfoImpl().GetBootDevices()[0].description,
              "UEFI: PXE IPv4 Intel(R) Ethernet Controller X550");
    TarnTest::FailKernel(KSI_NODE_uefi_variable, TARN_FAILURE, {.op = TarnSim::KernelOp::Set});
    EXPECT_THROW(TarnCtl::Hardware::HardwareInfoImpl().SwapBootDeviceOrder(7, 1), HostCtl::Lib::HostCtlException);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(ids(), (std::vector<uint16_t>{1, 3, 7}));
    TarnCtl::Hardware::HardwareInfoImpl().SwapBootDeviceOrder(7, 1);
    TarnSim::Profile::Reboot();
    TarnSim::Profile::Reboot();
    EXPECT_EQ(ids(), (std::vector<uint16_t>{7, 3, 1}));
    InitHost(HwTest::Profile());
    EXPECT_EQ(ids(), (std::vector<uint16_t>{3, 1, 7}));
}

// A saved order naming an entry the machine no longer has (a new profile
// after a board change) is not applied: the factory order comes back.
TEST_F(InventoryTest, SavedBootOrderWithAMissingEntryIsIgnored) {
    TarnCtl::Hardware::HardwareInfoImpl().SwapBootDeviceOrder(3, 7);
    std::string profile = TarnTest::EditProfile(
        HwTest::Profile(), [](rapidjson::Document& doc) { doc["hardware"]["bootOrder"][2]["id"] = 9; });
    TarnSim::Profile::ResetKernel(profile, true);
    std::vector<uint16_t> out;
    for (const auto& b : TarnCtl::Hardware::HardwareInfoImpl().GetBootDevices()) out.push_back(b.id);
    EXPECT_EQ(out, (std::vector<uint16_t>{3, 1, 9}));
}

}  // namespace
