// Adapters: which kind the kernel's transport type and driver name make, the
// interface-type strings, listing with a broken adapter, statistics text.
#include <gtest/gtest.h>

#include <cstring>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/log.h"
#include "sim/kernel.h"
#include "storage_fixture.h"

namespace StorageTest {
namespace {

using HostCtl::Storage::ScsiInterface;

// Plants adapter hbx99 with the given transport and driver in the kernel.
void PlantAdapter(uint32_t transport, const std::string& driver) {
    TarnSim::WithState(
        [&](TarnSim::KernelState& s) {
            KsiStorageAdapterInfo info{};
            std::strncpy(info.name, "hbx99", sizeof(info.name) - 1);
            std::strncpy(info.driver, driver.c_str(), sizeof(info.driver) - 1);
            info.transport = transport;
            s.Put(KSI_NODE_storage_scsifw_adapters, {"hbx99"}, KsiStorageValue{1});
            s.Put(KSI_NODE_storage_scsifw_adapters_info, {"hbx99"}, info);
            s.Put(KSI_NODE_storage_scsifw_adapters_stats, {"hbx99"}, KsiStorageStats{});
            s.Put(KSI_NODE_storage_scsifw_adapters_uid, {"hbx99"}, KsiStorageAdapterUid{});
        },
        true);
}

struct KindRow {
    uint32_t transport;
    const char* driver;
    ScsiInterface::ScsiInterfaceType expected;
};

void PrintTo(const KindRow& row, std::ostream* os) { *os << row.transport << "/" << row.driver; }

class AdapterKindTest : public StorageHostTest, public ::testing::WithParamInterface<KindRow> {};

TEST_P(AdapterKindTest, TransportAndDriverPickTheKind) {
    const KindRow& row = GetParam();
    PlantAdapter(row.transport, row.driver);
    auto adapter = storage.GetScsiInterface("hbx99");
    ASSERT_TRUE(adapter);
    EXPECT_EQ(adapter->GetInterfaceType(), row.expected) << row.transport << " " << row.driver;
}

INSTANTIATE_TEST_SUITE_P(
    DecisionTree, AdapterKindTest,
    ::testing::Values(
        // Transport not reported: the driver table, then the name prefixes.
        KindRow{0, "megaraid_sas", ScsiInterface::SCSI_IFACE_TYPE_PSCSI},
        KindRow{0, "aic79xx", ScsiInterface::SCSI_IFACE_TYPE_PSCSI},
        KindRow{0, "iscsi_tarn", ScsiInterface::SCSI_IFACE_TYPE_ISCSI},
        KindRow{0, "qla4xxx", ScsiInterface::SCSI_IFACE_TYPE_ISCSI},
        KindRow{0, "ide", ScsiInterface::SCSI_IFACE_TYPE_IDE},
        KindRow{0, "sata", ScsiInterface::SCSI_IFACE_TYPE_SATA},
        KindRow{0, "usb-storage", ScsiInterface::SCSI_IFACE_TYPE_USB},
        KindRow{0, "qla2xxx", ScsiInterface::SCSI_IFACE_TYPE_FC},
        KindRow{0, "lpfc820", ScsiInterface::SCSI_IFACE_TYPE_FC},
        KindRow{0, "qfle3f", ScsiInterface::SCSI_IFACE_TYPE_FCOE},
        KindRow{0, "nvme_pcie", ScsiInterface::SCSI_IFACE_TYPE_PSCSI},
        // Transport reported.
        KindRow{1, "tarn_block", ScsiInterface::SCSI_IFACE_TYPE_BLOCK},
        KindRow{2, "qla_native", ScsiInterface::SCSI_IFACE_TYPE_FC},
        KindRow{3, "iscsi_tarn", ScsiInterface::SCSI_IFACE_TYPE_ISCSI},
        KindRow{5, "be2iscsi", ScsiInterface::SCSI_IFACE_TYPE_ISCSI_VENDOR},
        KindRow{6, "mpt3_native", ScsiInterface::SCSI_IFACE_TYPE_SAS},
        KindRow{8, "tarnusb", ScsiInterface::SCSI_IFACE_TYPE_USB},
        KindRow{9, "megaraid_sas", ScsiInterface::SCSI_IFACE_TYPE_PSCSI},
        KindRow{10, "anything", ScsiInterface::SCSI_IFACE_TYPE_PSCSI},
        KindRow{11, "qfle3f", ScsiInterface::SCSI_IFACE_TYPE_FCOE},
        KindRow{12, "nvme_pcie", ScsiInterface::SCSI_IFACE_TYPE_PCIE},
        KindRow{13, "nvmerdma", ScsiInterface::SCSI_IFACE_TYPE_RDMA},
        KindRow{14, "nvmetcp", ScsiInterface::SCSI_IFACE_TYPE_TCP},
        KindRow{240, "qfle3f", ScsiInterface::SCSI_IFACE_TYPE_FCOE},
        KindRow{240, "qla_native", ScsiInterface::SCSI_IFACE_TYPE_FC}));

TEST_F(StorageHostTest, UnknownTransportIsRefusedWithTheAdapterAndDriver) {
    PlantAdapter(99, "oddball");
    try {
        storage.GetScsiInterface("hbx99");
        FAIL() << "no exception";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Incomplete scsi interface table: hbx99; No type for: oddball");
    }
}

TEST_F(StorageHostTest, ListingSkipsAnAdapterThatCannotBeBuiltAndWarns) {
    PlantAdapter(99, "oddball");
    Platform::Log::Capture log;
    auto adapters = storage.GetScsiInterfaces();
    EXPECT_EQ(adapters.size(), 6u);
    EXPECT_TRUE(log.Contains("StorageInfo: Skipping scsi interface hbx99: Incomplete scsi interface table"));
}

TEST_F(StorageHostTest, TypedListsKeepOnlyTheirKind) {
    EXPECT_EQ(storage.GetFibreChannelInterfaces().size(), 3u);
    EXPECT_EQ(storage.GetiScsiInterfaces().size(), 1u);
    EXPECT_EQ(storage.GetSerialAttachedScsiInterfaces().size(), 1u);
    EXPECT_EQ(storage.GetUsbInterfaces().size(), 1u);
    EXPECT_TRUE(storage.GetFibreChannelOverEthernetInterfaces().empty());
    auto fc = storage.GetFibreChannelInterfaces();
    EXPECT_EQ(fc[0]->GetAdapterUid(), "fc.2000:2100");
    EXPECT_FALSE(fc[0]->IsLocalOnly());
    EXPECT_TRUE(storage.GetSerialAttachedScsiInterfaces()[0]->IsLocalOnly());
}

TEST(InterfaceTypeStrings, RoundTripAndRefusal) {
    // The adapter kinds as the host documents them, value and text.
    const std::pair<uint32_t, const char*> documented[] = {
        {1, "block"}, {2, "fc"},  {3, "iscsi"},     {4, "ide"},       {5, "iscsivendor"}, {6, "sas"},
        {7, "sata"},  {8, "usb"}, {9, "parallel"}, {11, "fcoe"},     {12, "pcie"},       {13, "rdma"},
        {14, "tcp"},
    };
    for (const auto& [value, text] : documented) {
        auto type = static_cast<ScsiInterface::ScsiInterfaceType>(value);
        EXPECT_EQ(ScsiInterface::GetInterfaceTypeString(type), text) << value;
        EXPECT_EQ(static_cast<uint32_t>(ScsiInterface::GetValidInterfaceType(text)), value) << text;
    }
    for (uint32_t value : {0u, 10u, 15u, 77u})
        EXPECT_EQ(ScsiInterface::GetInterfaceTypeString(static_cast<ScsiInterface::ScsiInterfaceType>(value)),
                  "unknown")
            << value;
    for (const char* text : {"scsi", "FC", "", "fc ", "nvme"}) {
        try {
            ScsiInterface::GetValidInterfaceType(text);
            ADD_FAILURE() << "no exception for '" << text << "'";
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_EQ(std::string(e.what()), std::string("Unknown transport type ") + text);
        }
    }
}

TEST(StorageStatisticsText, PrintsQueueTimesBeforeLayerTimes) {
    HostCtl::Storage::StorageStatistics stats;
    uint64_t values[25];
    for (int i = 0; i < 25; ++i)
        values[i] = 100 + i;
    stats.SetValues(values);
    std::string text = stats.ToString();
    EXPECT_EQ(text.substr(0, 14), "Commands: 100\n");
    EXPECT_NE(text.find("Layer Time: 119\nLayer Time Read: 120\nLayer Time Write: 121\n"), std::string::npos);
    EXPECT_LT(text.find("Queue Time: 122\n"), text.find("Layer Time: 119\n"));
    EXPECT_EQ(text.substr(text.size() - 22), "Layer Time Write: 121\n");
}

}  // namespace
}  // namespace StorageTest
