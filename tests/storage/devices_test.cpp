// Devices: lookup through any UID, display names (stored and generated),
// setters that validate first and record only what the kernel accepted,
// state that survives a reboot, offline devices, partitions and status words.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/boot.h"
#include "sim/kernel.h"
#include "storage/storage_util.h"
#include "storage_fixture.h"

namespace StorageTest {
namespace {

using HostCtl::Storage::Lun;

#define EXPECT_THROW_TEXT(statement, text)                                  \
    try {                                                                   \
        statement;                                                          \
        ADD_FAILURE() << "no exception from " #statement;                   \
    } catch (const HostCtl::Lib::HostCtlException& e) {                     \
        EXPECT_EQ(std::string(e.what()), std::string(text)) << #statement;  \
    }

std::string KernelDisplayName(const std::string& uid) {
    KsiStorageDisplayName name{};
    TarnSim::WithState([&](TarnSim::KernelState& s) { s.Read(KSI_NODE_storage_scsifw_devices_displayName, {uid}, &name); });
    return name.name;
}

TEST_F(StorageHostTest, SecondaryUidResolvesToThePrimary) {
    auto lun = storage.GetDeviceByName(kArrayLunVml, false);
    ASSERT_TRUE(lun);
    EXPECT_EQ(lun->GetIdentifier(), kArrayLun);
    EXPECT_EQ(storage.ResolveRuntimeLunName(kLocalDiskT10), kLocalDisk);
    EXPECT_TRUE(dynamic_cast<HostCtl::Storage::DiskLun*>(lun.get()));
}

TEST_F(StorageHostTest, UnknownNameResolvesToNothing) {
    EXPECT_FALSE(storage.GetDeviceByName("naa.0bad", false));
    EXPECT_FALSE(storage.GetDeviceByName("naa.0bad", true));
    EXPECT_THROW_TEXT(storage.ResolveRuntimeLunName("naa.0bad"),
                      "Unable to resolve Device name naa.0bad.  Device was either removed or is Unknown.");
}

TEST_F(StorageHostTest, GeneratedNamesFollowVendorTransportsAndType) {
    // Paths over hbx1, hbx2 (Fibre Channel), hbx3 (iSCSI), hbx5 (Fibre Channel).
    EXPECT_EQ(storage.GetDeviceByName(kMixedLun, false)->GetDisplayName(),
              "DGC Fibre Channel/iSCSI/Fibre Channel Disk (naa.600601601a2b3c00a1b2c3d4e5f60002)");
    EXPECT_EQ(storage.GetDeviceByName(kArrayLun, false)->GetDisplayName(),
              "DGC Fibre Channel Disk (naa.600601601a2b3c00a1b2c3d4e5f60001)");
    // Vendor padding collapses into one space.
    EXPECT_EQ(storage.GetDeviceByName(kLocalDisk, false)->GetDisplayName(),
              "Local SEAGATE Disk (naa.5000c500a1b2c3d4)");
    // A removable device behind USB whose name cannot be stored.
    EXPECT_EQ(storage.GetDeviceByName(kUsbStick, false)->GetDisplayName(),
              "Local USB Direct-Access(mpx.hbx4:C0:T0:L0)");
    EXPECT_EQ(storage.GetDeviceByName(kCdrom, false)->GetDisplayName(), "Local TSSTcorp CD-ROM (mpx.hbx0:C0:T7:L0)");
}

TEST_F(StorageHostTest, DisplayNameIsStoredAndToldToTheKernel) {
    auto lun = storage.GetDeviceByName(kArrayLun, false);
    lun->SetDisplayName("Datastore LUN 1", true);
    EXPECT_EQ(storage.GetDeviceByName(kArrayLunVml, false)->GetDisplayName(), "Datastore LUN 1");
    auto object = BlockDevice(kArrayLun);
    ASSERT_TRUE(object);
    std::string stored;
    EXPECT_TRUE(object->GetValue("display_name", &stored));
    EXPECT_EQ(stored, "Datastore LUN 1");
    EXPECT_EQ(KernelDisplayName(kArrayLun), "Datastore LUN 1");
    EXPECT_EQ(storage.GetDisplayNameMap()[kArrayLun], "Datastore LUN 1");

    lun->SetDisplayName("", false);
    EXPECT_EQ(lun->GetDisplayName(), "DGC Fibre Channel Disk (naa.600601601a2b3c00a1b2c3d4e5f60001)");
    EXPECT_FALSE(BlockDevice(kArrayLun)->HasValue("display_name"));
}

struct NameRow {
    const char* device;
    const char* name;
    const char* error;
};

TEST_F(StorageHostTest, RefusedDisplayNamesChangeNothing) {
    const NameRow rows[] = {
        {kArrayLun, "", "Device display name cannot not be an empty string."},
        {kArrayLun, "a\"b", "Device name may not contain \"."},
        {kUsbStick, "boot stick",
         "Cannot set display name on this device.  Unable to guarantee name will not change across reboots or "
         "media change."},
    };
    for (const auto& row : rows) {
        EXPECT_THROW_TEXT(storage.GetDeviceByName(row.device, false)->SetDisplayName(row.name, true), row.error);
        EXPECT_FALSE(BlockDevice(row.device)) << row.device;
    }
    // Clearing a name that was never set writes nothing either.
    storage.GetDeviceByName(kArrayLun, false)->SetDisplayName("x", false);
    EXPECT_FALSE(BlockDevice(kArrayLun));
}

struct TuningRow {
    const char* what;
    std::function<void(Lun&)> set;
    const char* error;
};

TEST_F(StorageHostTest, QueueTuningLimits) {
    const TuningRow rows[] = {
        {"depth 3", [](Lun& l) { l.SetMaxQueueDepth(3); },
         "Cannot set device's max queue depth parameter. max-queue-depth should be >= 4"},
        {"qfull 17/32", [](Lun& l) { l.SetQueueFullParameters(17, 32); },
         "Cannot set device qfull parameters. queue-full-threshold should be <= 16"},
        {"qfull 8/4", [](Lun& l) { l.SetQueueFullParameters(8, 4); },
         "Cannot set device qfull parameters. queue-full-threshold should be <= queue-full-sample-size."},
        {"snro 65", [](Lun& l) { l.SetNumReqOutstanding(65); },
         "Cannot set device queue depth parameter. sched-num-req-outstanding should be <= 64"},
    };
    auto lun = storage.GetDeviceByName(kArrayLun, false);
    for (const auto& row : rows) {
        EXPECT_THROW_TEXT(row.set(*lun), row.error);
    }
    EXPECT_FALSE(BlockDevice(kArrayLun));

    lun->SetMaxQueueDepth(4);
    lun->SetQueueFullParameters(8, 32);
    lun->SetNumReqOutstanding(4);
    EXPECT_EQ(lun->GetMaxQueueDepth(), 4u);
    EXPECT_EQ(lun->GetQueueFullThreshold(), 8u);
    EXPECT_EQ(lun->GetQueueFullSampleSize(), 32u);
    long depth = 0, threshold = 0, sample = 0, snro = 0;
    auto object = BlockDevice(kArrayLun);
    ASSERT_TRUE(object);
    EXPECT_TRUE(object->GetValue("max_queue_depth", &depth));
    EXPECT_TRUE(object->GetValue("queue_full_threshold", &threshold));
    EXPECT_TRUE(object->GetValue("queue_full_sample_size", &sample));
    EXPECT_TRUE(object->GetValue("sched_num_req_outstanding", &snro));
    EXPECT_EQ(depth, 4);
    EXPECT_EQ(threshold, 8);
    EXPECT_EQ(sample, 32);
    EXPECT_EQ(snro, 4);

    EXPECT_THROW_TEXT(storage.GetDeviceByName(kCdrom, false)->SetMaxQueueDepth(8), "Not a disk: mpx.hbx0:C0:T7:L0");
}

TEST_F(StorageHostTest, RefusedKernelWriteRecordsNothing) {
    TarnSim::InjectFault({"", KSI_NODE_storage_scsifw_devices_maxQueueDepth, kArrayLun, TARN_FAILURE, 1});
    auto lun = storage.GetDeviceByName(kArrayLun, false);
    EXPECT_THROW(lun->SetMaxQueueDepth(32), HostCtl::Lib::HostCtlException);
    EXPECT_FALSE(BlockDevice(kArrayLun));

    auto busy = storage.GetDeviceByName(kBusyLun, false);
    EXPECT_THROW_TEXT(busy->SetStatus(Lun::LUN_OFF, true),
                      "Unable to change device state, the device is marked as 'busy' by the Tarnos.");
    EXPECT_FALSE(BlockDevice(kBusyLun));
    EXPECT_FALSE(busy->IsDetached());
    EXPECT_THROW_TEXT(busy->SetStatus(Lun::LUN_DEAD, true), "Cannot set device to any states other than on or off");
}

TEST_F(StorageHostTest, DetachAndSettingsSurviveAReboot) {
    {
        auto lun = storage.GetDeviceByName(kArrayLun, false);
        lun->SetDisplayName("Boot LUN", true);
        lun->SetStatus(Lun::LUN_OFF, true);
        lun->SetMaxQueueDepth(16);
    }
    std::string state;
    ASSERT_TRUE(BlockDevice(kArrayLun)->GetValue("state", &state));
    EXPECT_EQ(state, "OFF");

    // Power cycle: the kernel starts from the hardware, then the boot steps replay the store.
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    EXPECT_EQ(KernelDisplayName(kArrayLun), "");
    for (const auto& outcome : Platform::Boot::RunBoot())
        EXPECT_TRUE(outcome.ok) << outcome.name << ": " << outcome.error;

    auto lun = storage.GetDeviceByName(kArrayLun, false);
    EXPECT_EQ(lun->GetStatus(), Lun::LUN_OFF);
    EXPECT_EQ(lun->GetStatusString(), "off");
    EXPECT_TRUE(lun->IsDetached());
    EXPECT_EQ(lun->GetMaxQueueDepth(), 16u);
    EXPECT_EQ(lun->GetDisplayName(), "Boot LUN");
    EXPECT_EQ(KernelDisplayName(kArrayLun), "Boot LUN");

    lun->SetStatus(Lun::LUN_ON, true);
    ASSERT_TRUE(BlockDevice(kArrayLun)->GetValue("state", &state));
    EXPECT_EQ(state, "ON");
    EXPECT_FALSE(lun->IsDetached());
}

TEST_F(StorageHostTest, NotSharedCannotBeClearedOnALocalDevice) {
    auto local = storage.GetDeviceByName(kLocalDisk, false);
    EXPECT_THROW_TEXT(local->SetNotShared(false),
                      "Not shared status cannot be cleared for local device \"Local SEAGATE Disk (naa.5000c500a1b2c3d4)\"");
    local->SetNotShared(true);
    EXPECT_TRUE(local->IsNotShared());
    auto array = storage.GetDeviceByName(kArrayLun, false);
    array->SetPerenniallyReserved(true);
    EXPECT_TRUE(array->IsPerenniallyReserved());
    bool reserved = false;
    EXPECT_TRUE(BlockDevice(kArrayLun)->GetValue("perennial_reserved", &reserved));
    EXPECT_TRUE(reserved);
}

TEST_F(StorageHostTest, DetachedDeviceThatLeavesTheHostIsListedOffline) {
    storage.GetDeviceByName(kArrayLun, false)->SetStatus(Lun::LUN_OFF, true);
    // The array LUN is unmapped from both ports.
    std::string profile = ProfileWithout(kArrayLun);
    ChangeHardware(profile);
    storage.RescanAdapters("*", "delete", true);

    EXPECT_FALSE(storage.GetLunByUUID(kArrayLun));
    size_t live = storage.GetLuns(false, false).size();
    auto all = storage.GetLuns(true, false);
    ASSERT_EQ(all.size(), live + 1);
    auto& offline = all.back();
    EXPECT_EQ(offline->GetIdentifier(), kArrayLun);
    EXPECT_TRUE(offline->IsOffline());
    auto byName = storage.GetDeviceByName(kArrayLun, true);
    ASSERT_TRUE(byName);
    EXPECT_TRUE(byName->IsOffline());
}

TEST_F(StorageHostTest, PartitionsOfALocalDisk) {
    auto lun = storage.GetDeviceByName(kLocalDisk, false);
    auto* disk = dynamic_cast<HostCtl::Storage::DiskLun*>(lun.get());
    ASSERT_TRUE(disk);
    auto parts = disk->GetPartitions();
    ASSERT_EQ(parts.size(), 3u);
    EXPECT_EQ(parts[0]->GetPartitionNumber(), 0);
    EXPECT_EQ(parts[0]->GetEndSector(), 2344225967u);
    EXPECT_EQ(parts[1]->GetPartitionType(), HostCtl::Storage::DiskLunPartition::PARTITION_TYPE_EFI);
    auto kdfs = storage.GetPartitionByName("naa.5000c500a1b2c3d4:8");
    EXPECT_EQ(kdfs->GetPartitionType(), HostCtl::Storage::DiskLunPartition::PARTITION_TYPE_KDFS);
    EXPECT_EQ(kdfs->GetDevfsPath(), "/kdfs/devices/disks/naa.5000c500a1b2c3d4:8");
    EXPECT_EQ(storage.GetPartitionByNumber(kLocalDiskT10, 1)->GetName(), "naa.5000c500a1b2c3d4:1");
    EXPECT_THROW_TEXT(disk->GetPartition("naa.5000c500a1b2c3d4:3"),
                      "Unable to find a partition with the name naa.5000c500a1b2c3d4:3");
    EXPECT_THROW_TEXT(storage.GetPartitionByNumber("naa.0bad", 1),
                      "Unable to get DiskLun partition: Unable to resolve Device name naa.0bad.  Device was either "
                      "removed or is Unknown.");
}

TEST(LunStatusWords, ByValue) {
    const std::pair<uint32_t, const char*> rows[] = {{0, "on"},      {1, "off"},           {2, "dead"},
                                                     {3, "quiesced"}, {4, "degraded"},     {5, "not connected"},
                                                     {6, "dead timeout"}, {7, "unknown"}, {8, "on"},
                                                     {9, "Unknown"},  {1000, "Unknown"}};
    for (const auto& [value, word] : rows)
        EXPECT_EQ(Lun::GetStatusString(static_cast<Lun::LunStatus>(value)), word) << value;
}

}  // namespace
}  // namespace StorageTest
