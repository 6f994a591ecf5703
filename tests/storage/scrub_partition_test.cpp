// Writing partition tables through the host's partition tool, and the
// post-boot move of NVMe device settings from their legacy UID.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "storage/disk_lun_impl.h"
#include "storage/storage_util.h"
#include "storage_fixture.h"

namespace StorageTest {
namespace {

using HostCtl::Storage::DiskLunPartition;
using HostCtl::Storage::PartitionSpec;

TEST_F(StorageHostTest, PartitionTableIsWrittenThroughThePartitionTool) {
    auto lun = storage.GetDeviceByName(kArrayLun, false);
    auto* disk = dynamic_cast<HostCtl::Storage::DiskLun*>(lun.get());
    ASSERT_TRUE(disk);
    disk->SetPartitionTable({{1, 2048, 4095, DiskLunPartition::PARTITION_TYPE_DUMP},
                             {2, 4096, 1000000, DiskLunPartition::PARTITION_TYPE_KDFS}});
    auto parts = disk->GetPartitions();
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[1]->GetPartitionType(), DiskLunPartition::PARTITION_TYPE_DUMP);
    EXPECT_EQ(parts[2]->GetStartSector(), 4096u);

    // Overlapping entries are refused by the tool; the old table stays.
    try {
        disk->SetPartitionTable({{1, 2048, 8191, DiskLunPartition::PARTITION_TYPE_DUMP},
                                 {2, 4096, 1000000, DiskLunPartition::PARTITION_TYPE_KDFS}});
        ADD_FAILURE() << "no exception";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Failed to set partition table: Error: partitions 1 and 2 overlap");
    }
    EXPECT_EQ(disk->GetPartition(static_cast<uint16_t>(1))->GetEndSector(), 4095u);

    try {
        disk->SetPartitionTable({{1, 2048, 4095, static_cast<DiskLunPartition::PartitionType>(0x4242)}});
        ADD_FAILURE() << "no exception";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Invalid partition type specified");
    }
    disk->MkLabelPartitionTable("gpt");
    EXPECT_EQ(disk->GetPartitions().size(), 1u);
}

TEST_F(StorageHostTest, NvmeSettingsMoveFromTheLegacyUidAfterBoot) {
    const std::string nvme = R"(,
    {"uid": "eui.0025388b91b2c3d4", "uids": ["lgc.nvme_SAMSUNG_MZQL2960_S64FNE0R"], "type": "disk",
     "vendor": "NVMe", "model": "SAMSUNG MZQL2960", "blocks": 1875385008, "local": true, "nvme": true,
     "paths": [{"adapter": "hbx0", "target": 9, "lun": 0}]})";
    TarnSim::Profile::InitHost(Profile(nvme));
    auto old = std::make_shared<HaldenConfigStore::ConfigStoreObject>(
        TarnCtl::Storage::BlockDeviceId("lgc.nvme_SAMSUNG_MZQL2960_S64FNE0R"));
    old->SetValue("display_name", "scratch");
    Store()->Write(old);

    storage.PsaPostBootScrub();

    EXPECT_FALSE(BlockDevice("lgc.nvme_SAMSUNG_MZQL2960_S64FNE0R"));
    auto moved = BlockDevice("eui.0025388b91b2c3d4");
    ASSERT_TRUE(moved);
    std::string name;
    EXPECT_TRUE(moved->GetValue("display_name", &name));
    EXPECT_EQ(name, "scratch");
    auto map = Store()->Get(HaldenConfigStore::ConfigStoreObjectId("device_uid_maps", "storage", "halden",
                                                                   "lgc.nvme_SAMSUNG_MZQL2960_S64FNE0R"));
    ASSERT_TRUE(map);
    bool needUpdate = true;
    EXPECT_TRUE(map->GetValue("need_update", &needUpdate));
    EXPECT_FALSE(needUpdate);

    // A second scrub finds nothing left to do.
    Platform::Log::Capture log;
    storage.PsaPostBootScrub();
    EXPECT_TRUE(log.Contains("NVMe NGUID devices with the need of updating the config not found"));
}

}  // namespace
}  // namespace StorageTest
