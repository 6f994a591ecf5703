// Changing volumes (rename, span, grow, lock mode, space reclamation), state
// deletion, lookups and listings, the unresolved-volume caches, the rescans,
// and disk reservations through the file-system library.
#include <gtest/gtest.h>

#include <cstring>

#include "hostctl/exception.h"
#include "ksi/adv.h"
#include "ksi/kdfs.h"
#include "platform/log.h"
#include "sim/kernel.h"
#include "storage/kdfs_util.h"
#include "storage/storage_info_extension_impl.h"
#include "volume_fixture.h"

namespace VolumeTest {
namespace {

using HostCtl::Storage::VmFileSystem;
using HostCtl::Storage::VolumeUnmapProperty;

TEST_F(VolumeHostTest, RenameMovesTheLabelLinkAndSurvivesAReboot) {
    Volume(kSharedUuid)->SetVolumeName("renamed");
    EXPECT_EQ(Volume(kSharedUuid)->GetVolumeName(), "renamed");
    EXPECT_TRUE(HostEntryExists("/kdfs/volumes/renamed"));
    EXPECT_FALSE(HostEntryExists("/kdfs/volumes/shared"));
    EXPECT_EQ(storage.GetFileSystemByLabel("renamed")->GetUuid(), kSharedUuid);
    EXPECT_FALSE(storage.GetFileSystemByLabel("shared"));
    Reboot();
    EXPECT_EQ(Volume(kSharedUuid)->GetVolumeName(), "renamed");
    EXPECT_TRUE(HostEntryExists("/kdfs/volumes/renamed"));
}

TEST_F(VolumeHostTest, RenameRefusals) {
    EXPECT_EQ(Message([&] { Volume(kOldUuid)->SetVolumeName("x"); }), "Unable to Set Volume Name, Unmounted volume");
    EXPECT_EQ(Message([&] { Volume(kSharedUuid)->SetVolumeName(std::string(129, 'n')); }),
              "Label name too long, must be limited to 128 characters");
    EXPECT_EQ(Message([&] { Volume(kSharedUuid)->SetVolumeName("ds-local"); }), "Unable to set Filesystem name");
    EXPECT_EQ(Volume(kSharedUuid)->GetVolumeName(), "shared");
    Volume(kSharedUuid)->SetVolumeName(std::string(128, 'n'));
    EXPECT_EQ(Volume(kSharedUuid)->GetVolumeName(), std::string(128, 'n'));
}

TEST_F(VolumeHostTest, ExtendAddsAnExtentOntoABlankDisk) {
    auto fs = Volume(kLocalUuid);
    const uint64_t size = fs->GetSize();
    storage.Extension().ExtendFileSystemOnto(*fs, kBlank2);
    auto after = Volume(kLocalUuid);
    EXPECT_EQ(after->GetExtents(),
              (std::vector<std::string>{std::string(kLocal) + ":1", std::string(kBlank2) + ":1"}));
    EXPECT_GT(after->GetSize(), size);
    EXPECT_EQ(CountCalls("TarnfsLib_SpanFS(/kdfs/volumes/" + std::string(kLocalUuid) + ", /kdfs/devices/disks/" +
                         kBlank2 + ":1) = 0x0"),
              1u);
    Reboot();
    EXPECT_EQ(Volume(kLocalUuid)->GetExtentCount(), 2u);
    EXPECT_TRUE(Volume(kLocalUuid)->IsMounted());
}

TEST_F(VolumeHostTest, ExtendFailureTakesThePartitionAwayAgain) {
    FaultyLibrary library;
    library.fail["SpanFS"] = TARN_NO_PERMISSION;
    auto fs = Volume(kLocalUuid);
    EXPECT_EQ(Message([&] { storage.Extension().ExtendFileSystemOnto(*fs, kBlank2); }),
              "Unable to add extent to filesystem : Permission denied");
    EXPECT_EQ(Partitions(kBlank2), std::vector<std::string>{"0"});
    EXPECT_EQ(Volume(kLocalUuid)->GetExtentCount(), 1u);
    // An existing partition is never taken away.
    EXPECT_THROW(Volume(kLocalUuid)->AddExtent(std::string(kCopy) + ":1", 0), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(Partitions(kCopy), (std::vector<std::string>{"0", "1"}));
}

TEST_F(VolumeHostTest, ExtentInUseCannotBeAdded) {
    EXPECT_EQ(Message([&] { Volume(kLocalUuid)->AddExtent(std::string(kArray2) + ":1", 0); }),
              "Unable to add extent to filesystem : Busy");
}

TEST_F(VolumeHostTest, GrowUsesTheFreeSpaceAfterTheExtent) {
    auto fs = Volume(kOldUuid);
    fs->Mount(VmFileSystem::MOUNT_SKIP_UPGRADE);
    const uint64_t before = Volume(kOldUuid)->GetSize();
    Volume(kOldUuid)->GrowExtent(std::string(kRoomy) + ":1");
    const uint64_t after = Volume(kOldUuid)->GetSize();
    EXPECT_EQ(after, (20971520ull - 34 - 2048 + 1) * 512 / (1 << 20) * (1 << 20));
    EXPECT_GT(after, before);
    EXPECT_EQ(Message([&] { Volume(kOldUuid)->GrowExtent(std::string(kRoomy) + ":1"); }),
              "Unable to grow Filesystem, please see Tarnos log fordetails : Limit exceeded");
    Reboot();
    EXPECT_EQ(Volume(kOldUuid)->GetSize(), after);
}

struct LockCase {
    VmFileSystem::LockMode from, to;
    bool allowed;
};

TEST_F(VolumeHostTest, LockModeOnlyTogglesAtsOnly) {
    const std::vector<LockCase> rows = {
        {VmFileSystem::LOCK_MODE_PUBLIC, VmFileSystem::LOCK_MODE_ATS_ONLY, true},
        {VmFileSystem::LOCK_MODE_ATS_ONLY, VmFileSystem::LOCK_MODE_ATS_ONLY, false},
        {VmFileSystem::LOCK_MODE_ATS_ONLY, VmFileSystem::LOCK_MODE_ATS_SCSI, false},
        {VmFileSystem::LOCK_MODE_ATS_ONLY, VmFileSystem::LOCK_MODE_PUBLIC, true},
        {VmFileSystem::LOCK_MODE_PUBLIC, VmFileSystem::LOCK_MODE_PUBLIC, false},
        {VmFileSystem::LOCK_MODE_PUBLIC, VmFileSystem::LOCK_MODE_ATS_SCSI, false},
    };
    for (const auto& row : rows) {
        auto fs = Volume(kSharedUuid);
        ASSERT_EQ(fs->GetLockMode(), row.from);
        if (row.allowed) {
            fs->SetLockMode(row.to);
            EXPECT_EQ(Volume(kSharedUuid)->GetLockMode(), row.to);
        } else {
            EXPECT_EQ(Message([&] { fs->SetLockMode(row.to); }),
                      "Invalid request to change Locking Mode for Filesystem, may only enable or disable ATS. Cur "
                      "mode: " + VmFileSystem::GetLockModeString(row.from) +
                          ", Req mode: " + VmFileSystem::GetLockModeString(row.to));
            EXPECT_EQ(Volume(kSharedUuid)->GetLockMode(), row.from);
        }
    }
}

TEST_F(VolumeHostTest, UnmapPropertyRulesAndValues) {
    EXPECT_EQ(Message([&] { Volume(kOldUuid)->GetVolumeUnmapProperty(); }), "Volume not mounted");
    EXPECT_EQ(Message([&] { Volume(kOldUuid)->SetVolumeUnmapProperty({}); }), "Volume not mounted");
    auto fs = Volume(kSharedUuid);
    VolumeUnmapProperty fixed;
    fixed.method = "fixed";
    fixed.granularity = 1048576;
    fixed.bandwidth = 0;
    EXPECT_EQ(Message([&] { fs->SetVolumeUnmapProperty(fixed); }), "reclaim-bandwidth must be greater than zero");
    EXPECT_EQ(fs->GetVolumeUnmapProperty().method, "priority");
    fixed.bandwidth = 1;
    fs->SetVolumeUnmapProperty(fixed);
    auto got = fs->GetVolumeUnmapProperty();
    EXPECT_EQ(got.method, "fixed");
    EXPECT_EQ(got.bandwidth, 1u);
    VolumeUnmapProperty high;
    high.priority = "high";
    high.granularity = 1048576;
    fs->SetVolumeUnmapProperty(high);
    EXPECT_EQ(fs->GetVolumeUnmapProperty().priority, "high");
    TarnSim::WithState(
        [](TarnSim::KernelState& s) {
            Ksi::Adv::IntOption o{};
            s.Read(KSI_NODE_config_intOpts, {"KDFS3", "DisableReduceUnmapLoad"}, &o);
            o.currentValue = 1;
            s.Put(KSI_NODE_config_intOpts, {"KDFS3", "DisableReduceUnmapLoad"}, o);
        },
        true);
    EXPECT_EQ(fs->GetVolumeUnmapProperty().priority, "low");
    high.priority = "urgent";
    EXPECT_EQ(Message([&] { fs->SetVolumeUnmapProperty(high); }),
              "Failed to update unmap property for filesystem, Tarnos log may contain more details.\nReason: Bad "
              "parameter");
}

TEST_F(VolumeHostTest, SpaceReclamationBounds) {
    auto fs = Volume(kSharedUuid);
    const uint64_t freeBlocks = fs->GetTotalBlocks() - fs->GetBlocksUsed();
    EXPECT_EQ(Message([&] { fs->UnmapVolume(static_cast<uint32_t>(freeBlocks)); }),
              "reclaimUnit should be less than total free blocks " + std::to_string(freeBlocks));
    EXPECT_EQ(fs->UnmapVolume(static_cast<uint32_t>(freeBlocks - 1)), freeBlocks);
    Platform::Log::Capture log;
    Volume(kLocalUuid)->UnmapVolume(200);
    EXPECT_TRUE(log.Contains("One or more devices backing volume ds-local do not support Unmap, proceeding with "
                             "unmap anyway"));
    EXPECT_EQ(CountCalls("TarnfsLib_EndAsyncUnmapVolume"), 2u);
}

TEST_F(VolumeHostTest, UpgradeOperations) {
    EXPECT_EQ(Message([&] { Volume(kOldUuid)->ConvertToVersion3(); }),
              "In-place upgrade of a KDFS-2 volume to KDFS-3format is not supported on this platform");
    Volume(kOldUuid)->ConvertToVersion5();
    EXPECT_EQ(Volume(kOldUuid)->GetMajorVersion(), 5u);
    EXPECT_EQ(Message([&] { Volume(kOldUuid)->ConvertToVersion5(); }),
              "Unable to Upgrade Filesystem: Invalid state");
}

TEST_F(VolumeHostTest, DeleteStateDropsTheRecord) {
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT);
    ASSERT_TRUE(Datastore(kSharedUuid));
    Platform::Log::Capture log;
    storage.DeleteKdfsFileSystemState(kSharedUuid);
    EXPECT_FALSE(Datastore(kSharedUuid));
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: All confs for volume UUID ") + kSharedUuid +
                             " deleted from config store."));
    EXPECT_TRUE(Volume(kSharedUuid)->IsAutomountEligible());
}

TEST_F(VolumeHostTest, ListingsAndLookups) {
    std::vector<std::string> names;
    for (auto& fs : storage.GetFileSystems())
        names.push_back(fs->GetVolumeName() + (fs->IsMounted() ? "+" : "-"));
    EXPECT_EQ(names, (std::vector<std::string>{"ds-local+", "shared+", "old-"}));
    auto onArray2 = storage.GetKdfsFileSystems(kArray2);
    ASSERT_EQ(onArray2.size(), 1u);
    EXPECT_EQ(onArray2[0]->GetUuid(), kSharedUuid);
    EXPECT_EQ(storage.GetKdfsFileSystems(kRoomy).at(0)->GetUuid(), kOldUuid);
    EXPECT_TRUE(storage.GetKdfsFileSystems(kBlank1).empty());
    // The snapshot copy is not a volume of the host.
    EXPECT_TRUE(storage.GetKdfsFileSystems(kCopy).empty());

    EXPECT_EQ(storage.GetFileSystemByUUID(kOldUuid)->GetVolumeName(), "old");
    EXPECT_FALSE(storage.GetFileSystemByUUID("5a000009-00000009-0009-000000000009"));
    EXPECT_EQ(storage.GetFileSystemByLabel("old")->GetUuid(), kOldUuid);
    EXPECT_EQ(storage.GetFileSystemByPath("/kdfs/volumes/shared/vm1/vm1.cfg")->GetUuid(), kSharedUuid);
    EXPECT_EQ(storage.GetFileSystemByPath(std::string("/kdfs/volumes/") + kLocalUuid)->GetUuid(), kLocalUuid);
    EXPECT_FALSE(storage.GetFileSystemByPath("/kdfs/volumes/old"));  // only mounted volumes have paths
    EXPECT_FALSE(storage.GetFileSystemByPath("/datastores/elsewhere"));
    auto fs = Volume(kSharedUuid);
    EXPECT_EQ(fs->GetHeadPartition()->GetDiskName(), kArray1);
    EXPECT_EQ(fs->GetTotalBlocks(), 2ull * 20969439 * 512 / (1 << 20));
    EXPECT_EQ(fs->GetBlocksUsed(), fs->GetTotalBlocks() / 2);
}

TEST_F(VolumeHostTest, ScopedCacheScansTheDisksOnce) {
    const std::string scan = "TarnfsLibKSI_GetDeviceProperties";
    storage.GetKdfsFileSystems("");
    const size_t perScan = CountCalls(scan);
    ASSERT_GT(perScan, 0u);
    storage.GetKdfsFileSystems("");
    EXPECT_EQ(CountCalls(scan), 2 * perScan);
    {
        HostCtl::Storage::StorageInfoScopedCache cache;
        storage.GetKdfsFileSystems("");
        storage.GetKdfsFileSystems("");
        storage.GetFileSystemByLabel("old");
        EXPECT_EQ(CountCalls(scan), 3 * perScan);
        storage.GetUnresolvedVolumes();
        storage.GetUnresolvedVolumes();
        EXPECT_EQ(CountCalls(scan), 4 * perScan);
    }
    storage.GetKdfsFileSystems("");
    EXPECT_EQ(CountCalls(scan), 5 * perScan);
}

TEST_F(VolumeHostTest, RescansReachTheLibrary) {
    Platform::Log::Capture log;
    storage.RescanKdfs();
    EXPECT_EQ(CountCalls("TarnfsLib_ScanAdapter() = 0x0"), 1u);
    storage.RescanKdfsDevices(kArray1);
    EXPECT_TRUE(log.Contains("StorageInfo: Rescanning kdfs devices"));
    EXPECT_EQ(CountCalls(std::string("TarnfsLibKSI_RescanDevices(") + kArray1 + ") = 0x0"), 1u);
    storage.RescanOneKdfsVolume(kSharedUuid, false);
    EXPECT_TRUE(log.Contains(std::string("StorageInfo: Rescanning volume ") + kSharedUuid));
    TarnSim::InjectFault({"tarnfslib", 15, "", TARN_BUSY, 1});  // ScanAdapter
    EXPECT_EQ(Message([&] { storage.RescanKdfs(); }),
              "Not all KDFS volumes were updated; the error encountered was 'Busy'.");
}

TEST_F(VolumeHostTest, ReserveAndResetReachTheLibrary) {
    auto lun = storage.GetDeviceByName(kArray1, false);
    lun->Reserve();
    lun->Reset();
    EXPECT_EQ(CountCalls(std::string("TarnfsLib_ReserveDisk(") + kArray1 + ", reserve) = 0x0"), 1u);
    EXPECT_EQ(CountCalls(std::string("TarnfsLib_ReserveDisk(") + kArray1 + ", lunreset) = 0x0"), 1u);
    EXPECT_EQ(Message([&] { storage.GetDeviceByName(kCdrom, false)->Reserve(); }),
              "Reserve failed with error code: 0xbad0020");
    FaultyLibrary library;
    library.fail["ReserveDisk"] = TARN_BUSY;
    EXPECT_EQ(Message([&] { lun->Reserve(); }), "Reserve failed with error code: 0xbad0004");
    EXPECT_EQ(Message([&] { lun->Reset(); }), "Reset failed with error code: 0xbad0004");
}

TEST_F(VolumeHostTest, ActiveVolumeFollowsHeartbeats) {
    EXPECT_FALSE(Volume(kSharedUuid)->IsActiveVolume(false));
    EXPECT_TRUE(Volume(kSharedUuid)->IsActiveVolume(true));  // this host has it open
    Init(Profile(KdfsSection("", std::string(R"({"host": ")") + kOtherHost + R"(", "state": 1})")));
    Platform::Log::Capture log;
    EXPECT_TRUE(Volume(kSharedUuid)->IsActiveVolume(false));
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: Host ") + kOtherHost + " has volume " + kSharedUuid +
                             " open. HB state: 1"));
    FaultyLibrary library;
    library.fail["CheckForExistingFS"] = TARN_FAILURE;
    EXPECT_EQ(Message([&] { Volume(kSharedUuid)->IsActiveVolume(false); }),
              "Unable to query live KDFS state of volume.");
}

// The transports under a volume: every extent's device counts, not only the head's.
struct TransportCase {
    const char* name;
    const char* from;  // text of the profile replaced ...
    const char* to;    // ... by this
    bool fc, tcp, nvme;
};

class VolumeTransportTest : public VolumeHostTest, public ::testing::WithParamInterface<TransportCase> {
protected:
    void SetUp() override {
        TarnTest::HostTest::SetUp();
        std::string profile = Profile();
        const size_t at = profile.find(GetParam().from);
        ASSERT_NE(at, std::string::npos);
        Init(profile.replace(at, std::strlen(GetParam().from), GetParam().to));
    }
};

TEST_P(VolumeTransportTest, SharedVolumeReportsItsTransports) {
    const auto& c = GetParam();
    auto shared = Volume(kSharedUuid);
    EXPECT_EQ(shared->HasFibreChannelTransport(), c.fc);
    EXPECT_EQ(shared->HasTcpTransport(), c.tcp);
    EXPECT_EQ(shared->IsNVMe(), c.nvme);
    // The local datastore sits on a SAS disk throughout.
    auto local = Volume(kLocalUuid);
    EXPECT_FALSE(local->HasFibreChannelTransport());
    EXPECT_FALSE(local->HasTcpTransport());
    EXPECT_FALSE(local->IsNVMe());
}

const std::string kSecondExtent = std::string(R"("uid": ")") + kArray2 + R"(", "type": "disk")";
const std::string kSecondExtentNvme = std::string(R"("uid": ")") + kArray2 + R"(", "nvme": true, "type": "disk")";
const TransportCase kTransports[] = {
    {"FibreChannel", R"("transport": "fc")", R"("transport": "fc")", true, false, false},
    {"FibreChannelOverEthernet", R"("transport": "fc")", R"("transport": "fcoe")", true, false, false},
    {"Tcp", R"("transport": "fc")", R"("transport": "tcp")", false, true, false},
    {"Iscsi", R"("transport": "fc")", R"("transport": "iscsi")", false, false, false},
    {"NvmeSecondExtent", kSecondExtent.c_str(), kSecondExtentNvme.c_str(), true, false, true},
};
INSTANTIATE_TEST_SUITE_P(Volumes, VolumeTransportTest, ::testing::ValuesIn(kTransports),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(VolumeHostTest, ClusteredDiskStateReachesTheLibrary) {
    Volume(kSharedUuid)->SetClusteredVmdkState(2);
    EXPECT_EQ(CountCalls("TarnfsLib_SetClusteredVMDKState(/kdfs/volumes/" + std::string(kSharedUuid) + ", 2) = 0x0"),
              1u);
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    EXPECT_EQ(Message([&] { Volume(kSharedUuid)->SetClusteredVmdkState(1); }),
              "Unable to set clustered virtual disk state of volume: Not found");
}

}  // namespace
}  // namespace VolumeTest
