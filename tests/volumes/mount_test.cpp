// Mounting and unmounting: the already-mounted guard before any write, the
// upgrade of version 3 volumes, the persistent "unmounted" mark and automount
// at boot, /kdfs/volumes entries, and what boot mode records.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/kdfs.h"
#include "platform/log.h"
#include "sim/kernel.h"
#include "storage/kdfs_util.h"
#include "volume_fixture.h"

namespace VolumeTest {
namespace {

using HostCtl::Storage::VmFileSystem;
using TarnCtl::Storage::VmFileSystemImpl;

bool FaultPending(uint32_t node) {
    for (const auto& f : TarnSim::Faults())
        if (f.module == KSI_LVM_MODULE && f.node == node)
            return true;
    return false;
}

TEST_F(VolumeHostTest, MountingAMountedUuidChangesNothing) {
    auto first = Volume(kOldUuid);
    auto second = Volume(kOldUuid);
    second->Mount(VmFileSystem::MOUNT_SKIP_UPGRADE);
    const auto calls = LibraryCalls();
    // A pending fault on the mount node would be used up by any write to it.
    TarnSim::InjectFault({KSI_LVM_MODULE, KSI_LVM_NODE_MOUNT, "", TARN_FAILURE, 1});
    Platform::Log::Capture log;
    EXPECT_EQ(Message([&] { first->Mount(VmFileSystem::MOUNT_DEFAULT); }),
              "Unable to mount volume oldbecause a volume with a matching UUID is already mounted");
    EXPECT_TRUE(FaultPending(KSI_LVM_NODE_MOUNT));
    EXPECT_EQ(LibraryCalls(), calls);  // no upgrade attempted either
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: Volume ") + kOldUuid + " is already mounted"));
    EXPECT_FALSE(Datastore(kOldUuid));
    EXPECT_EQ(Volume(kOldUuid)->GetMajorVersion(), 3u);
    TarnSim::ClearFaults();
}

TEST_F(VolumeHostTest, MountUpgradesVersion3UnlessAskedNotTo) {
    Platform::Log::Capture log;
    Volume(kOldUuid)->Mount(VmFileSystem::MOUNT_DEFAULT);
    auto fs = Volume(kOldUuid);
    EXPECT_TRUE(fs->IsMounted());
    EXPECT_EQ(fs->GetMajorVersion(), 5u);
    EXPECT_TRUE(log.Contains("VmFileSystem: Mount: upgraded kdfs3 volume to kdfs5"));
    EXPECT_EQ(CountCalls("TarnfsLib_UpgradeFS(/kdfs/volumes/" + std::string(kOldUuid) + ") = 0x0"), 1u);
}

TEST_F(VolumeHostTest, MountWithoutUpgradeKeepsVersion3) {
    Platform::Log::Capture log;
    Volume(kOldUuid)->Mount(VmFileSystem::MOUNT_SKIP_UPGRADE);
    EXPECT_EQ(Volume(kOldUuid)->GetMajorVersion(), 3u);
    EXPECT_TRUE(log.Contains("VmFileSystem: Mounting the file system without an upgrade"));
    EXPECT_EQ(CountCalls("TarnfsLib_UpgradeFS"), 0u);
}

TEST_F(VolumeHostTest, FailedUpgradeIsRecordedAndTheVolumeStaysUnmounted) {
    FaultyLibrary library;
    library.fail["UpgradeFS"] = TARN_BUSY;
    EXPECT_EQ(Message([&] { Volume(kOldUuid)->Mount(VmFileSystem::MOUNT_DEFAULT); }),
              "Filesystem upgrade failed during mount: Busy");
    EXPECT_FALSE(Volume(kOldUuid)->IsMounted());
    bool failed = false;
    ASSERT_TRUE(Datastore(kOldUuid));
    EXPECT_TRUE(Datastore(kOldUuid)->GetValue("failed_to_upgrade_kdfs3", &failed));
    EXPECT_TRUE(failed);
    std::string uuid;
    EXPECT_TRUE(Datastore(kOldUuid)->GetValue("volume_uuid", &uuid));
    EXPECT_EQ(uuid, kOldUuid);
}

TEST_F(VolumeHostTest, VolumeEntriesFollowMountState) {
    const std::string dir = std::string("/kdfs/volumes/") + kSharedUuid;
    EXPECT_TRUE(HostEntryExists(dir));
    EXPECT_TRUE(HostEntryExists("/kdfs/volumes/shared"));
    EXPECT_FALSE(HostEntryExists(std::string("/kdfs/volumes/") + kOldUuid));
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    EXPECT_FALSE(HostEntryExists(dir));
    EXPECT_FALSE(HostEntryExists("/kdfs/volumes/shared"));
    EXPECT_TRUE(HostEntryExists(std::string("/kdfs/volumes/") + kLocalUuid));
    Volume(kSharedUuid)->Mount(VmFileSystem::MOUNT_DEFAULT);
    EXPECT_TRUE(HostEntryExists("/kdfs/volumes/shared"));
    EXPECT_EQ(Volume(kSharedUuid)->GetConsolePath(), dir);
}

TEST_F(VolumeHostTest, PersistentUnmountSurvivesARebootAndAutomountSkipsIt) {
    Platform::Log::Capture log;
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT);
    EXPECT_TRUE(log.Contains("VmFileSystem: Volume unmount info stored in config store"));
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: New entry created in config store for UUID ") + kSharedUuid));
    bool unmounted = false;
    ASSERT_TRUE(Datastore(kSharedUuid));
    EXPECT_TRUE(Datastore(kSharedUuid)->GetValue("unmounted", &unmounted));
    EXPECT_TRUE(unmounted);
    EXPECT_FALSE(Volume(kSharedUuid)->IsAutomountEligible());

    log.Clear();
    Reboot();
    EXPECT_FALSE(Volume(kSharedUuid)->IsMounted());
    EXPECT_TRUE(Volume(kLocalUuid)->IsMounted());
    EXPECT_TRUE(Volume(kOldUuid)->IsMounted());  // never unmounted by the user
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: Skipping volume ") + kSharedUuid + ": unmounted by the user"));
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: Automounted volume ") + kLocalUuid));
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: Upgraded volume ") + kOldUuid +
                             ": KDFS3 to KDFS5 during auto-mount."));
    std::set<std::string> uuids;
    VmFileSystemImpl::GetPersistentlyUnmountedFsUuids(uuids);
    EXPECT_EQ(uuids, std::set<std::string>{kSharedUuid});

    // Mounting again clears the mark; the next boot mounts it.
    Volume(kSharedUuid)->Mount(VmFileSystem::MOUNT_DEFAULT);
    EXPECT_TRUE(Datastore(kSharedUuid)->GetValue("unmounted", &unmounted));
    EXPECT_FALSE(unmounted);
    Reboot();
    EXPECT_TRUE(Volume(kSharedUuid)->IsMounted());
}

TEST_F(VolumeHostTest, TransientUnmountComesBackAtBoot) {
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    EXPECT_FALSE(Datastore(kSharedUuid));
    Reboot();
    EXPECT_TRUE(Volume(kSharedUuid)->IsMounted());
    EXPECT_EQ(Volume(kSharedUuid)->GetExtents(),
              (std::vector<std::string>{std::string(kArray1) + ":1", std::string(kArray2) + ":1"}));
}

TEST_F(VolumeHostTest, UnmountRefusalsRecordNothing) {
    EXPECT_EQ(Message([&] { Volume(kOldUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT); }),
              "Can't retrieve logical volume information");
    EXPECT_FALSE(Datastore(kOldUuid));
    TarnSim::InjectFault({KSI_LVM_MODULE, KSI_LVM_NODE_UNMOUNT, "", TARN_BUSY, 1});
    EXPECT_EQ(Message([&] { Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT); }),
              "Unable to unmount volume shared: Busy");
    EXPECT_FALSE(Datastore(kSharedUuid));
    EXPECT_TRUE(Volume(kSharedUuid)->IsMounted());
}

// In boot mode the operations reach the kernel and record nothing.
struct BootCase {
    const char* name;
    std::function<void()> act;
    std::function<bool()> done;  // the kernel side happened
};

class VolumeBootMode : public VolumeHostTest, public ::testing::WithParamInterface<int> {};

TEST_P(VolumeBootMode, ReplaysWithoutRecording) {
    const std::vector<BootCase> cases = {
        {"UnmountPersistent", [] { VmFileSystemImpl::GetKDFSFileSystemByUUID(kSharedUuid)->Unmount(
                                       VmFileSystem::UNMOUNT_PERSISTENT); },
         [] { return !TarnCtl::Storage::Kdfs::IsMountedUuid(kSharedUuid); }},
        {"MountClearsNothing", [] { VmFileSystemImpl::GetKDFSFileSystemByUUID(kOldUuid)->Mount(
                                       VmFileSystem::MOUNT_DEFAULT); },
         [] { return TarnCtl::Storage::Kdfs::IsMountedUuid(kOldUuid); }},
        {"ForceMountPersistent",
         [] {
             VmFileSystemImpl::GetKDFSFileSystemByUUID(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
             TarnCtl::Storage::StorageInfoImpl().GetUnresolvedVolumes().front()->ForceMountKdfs(true, false);
         },
         [] { return TarnCtl::Storage::Kdfs::IsMountedUuid(kSharedUuid); }},
    };
    const auto& c = cases.at(static_cast<size_t>(GetParam()));
    SCOPED_TRACE(c.name);
    Store()->SetBootMode(true);
    c.act();
    Store()->SetBootMode(false);
    EXPECT_TRUE(c.done());
    EXPECT_TRUE(TarnCtl::Storage::Kdfs::ListDatastores().empty());
}

INSTANTIATE_TEST_SUITE_P(Volumes, VolumeBootMode, ::testing::Values(0, 1, 2));

}  // namespace
}  // namespace VolumeTest
