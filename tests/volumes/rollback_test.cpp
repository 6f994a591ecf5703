// A mount, unmount or force mount the kernel took is put back when recording
// it in the store fails: the kernel, the store and the next boot then agree.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/kdfs.h"
#include "platform/log.h"
#include "sim/faults.h"
#include "storage/kdfs_util.h"
#include "volume_fixture.h"

namespace VolumeTest {
namespace {

using HostCtl::Storage::VmFileSystem;
using TarnCtl::Storage::Kdfs::IsMountedUuid;
using TarnSim::StoreFault;

bool Unmounted(const std::shared_ptr<HaldenConfigStore::ConfigStoreObject>& object) {
    bool unmounted = false;
    return object && object->GetValue("unmounted", &unmounted) && unmounted;
}

const std::string kWriteFailure = std::string("Unable to write halden/storage/kdfs_datastores/") + kSharedUuid +
                                  ": injected fault";
const std::string kCommitFailure = "Unable to commit the store transaction: injected fault";

struct StoreCase {
    const char* name;
    StoreFault::Op op;
    std::string text;
};
const std::vector<StoreCase> kStoreFaults = {
    {"write", StoreFault::Op::Write, kWriteFailure},
    {"commit", StoreFault::Op::Commit, kCommitFailure},
};

TEST_F(VolumeHostTest, MountIsUndoneWhenClearingTheMarkFails) {
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT);
    ASSERT_TRUE(Unmounted(Datastore(kSharedUuid)));
    for (const auto& c : kStoreFaults) {
        SCOPED_TRACE(c.name);
        TarnSim::InjectStoreFault({c.op});
        EXPECT_EQ(Message([&] { Volume(kSharedUuid)->Mount(VmFileSystem::MOUNT_DEFAULT); }), c.text);
        EXPECT_FALSE(IsMountedUuid(kSharedUuid));
        EXPECT_FALSE(HostEntryExists("/kdfs/volumes/shared"));
        EXPECT_TRUE(Unmounted(Datastore(kSharedUuid)));
        EXPECT_TRUE(TarnSim::AllFaults().empty());
    }
    // What is recorded is what the next boot does.
    Reboot();
    EXPECT_FALSE(Volume(kSharedUuid)->IsMounted());
}

TEST_F(VolumeHostTest, PersistentUnmountIsUndoneWhenTheMarkCannotBeRecorded) {
    for (const auto& c : kStoreFaults) {
        SCOPED_TRACE(c.name);
        Platform::Log::Capture log;
        TarnSim::InjectStoreFault({c.op});
        EXPECT_EQ(Message([&] { Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT); }), c.text);
        auto fs = Volume(kSharedUuid);
        EXPECT_TRUE(fs->IsMounted());
        EXPECT_FALSE(fs->IsReadOnly());
        EXPECT_FALSE(fs->IsForceMounted());
        EXPECT_EQ(fs->GetExtents(),
                  (std::vector<std::string>{std::string(kArray1) + ":1", std::string(kArray2) + ":1"}));
        EXPECT_TRUE(HostEntryExists("/kdfs/volumes/shared"));
        EXPECT_FALSE(Datastore(kSharedUuid));
        EXPECT_FALSE(log.Contains("Volume unmount info stored in config store"));
    }
}

TEST_F(VolumeHostTest, UnmountOfAForceMountedCopyPutsItBackReadOnly) {
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    storage.GetUnresolvedVolumes().at(0)->ForceMountKdfs(true, true);
    TarnSim::InjectStoreFault({StoreFault::Op::Commit});
    EXPECT_EQ(Message([&] { Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT); }), kCommitFailure);
    auto fs = Volume(kSharedUuid);
    EXPECT_TRUE(fs->IsMounted());
    EXPECT_TRUE(fs->IsReadOnly());
    EXPECT_TRUE(fs->IsForceMounted());
    EXPECT_EQ(fs->GetHeadExtentName(), std::string(kCopy) + ":1");
    // The force mount is still recorded, so the next boot mounts it again.
    ASSERT_TRUE(Datastore(kSharedUuid));
    EXPECT_TRUE(Datastore(kSharedUuid)->GetSubObject(HaldenConfigStore::SubObjectId("snap_volume")));
    EXPECT_FALSE(Unmounted(Datastore(kSharedUuid)));
}

TEST_F(VolumeHostTest, PersistentForceMountIsUndoneWhenItCannotBeRecorded) {
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    for (const auto& c : kStoreFaults) {
        SCOPED_TRACE(c.name);
        Platform::Log::Capture log;
        TarnSim::InjectStoreFault({c.op});
        EXPECT_EQ(Message([&] { storage.GetUnresolvedVolumes().at(0)->ForceMountKdfs(true, false); }), c.text);
        EXPECT_FALSE(IsMountedUuid(kSharedUuid));
        EXPECT_FALSE(Datastore(kSharedUuid));
        EXPECT_FALSE(log.Contains("Forced mount info stored in config store"));
    }
    // Nothing half-done stands in the way of the next attempt.
    storage.GetUnresolvedVolumes().at(0)->ForceMountKdfs(true, false);
    EXPECT_TRUE(Volume(kSharedUuid)->IsForceMounted());
}

TEST_F(VolumeHostTest, AFailedPutBackIsLoggedAndTheStoreErrorStillThrown) {
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT);
    Platform::Log::Capture log;
    TarnSim::InjectStoreFault({StoreFault::Op::Write});
    TarnSim::InjectFault({KSI_LVM_MODULE, KSI_LVM_NODE_UNMOUNT, "", TARN_BUSY, 1});
    EXPECT_EQ(Message([&] { Volume(kSharedUuid)->Mount(VmFileSystem::MOUNT_DEFAULT); }), kWriteFailure);
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: Unable to put back the unmount of volume ") + kSharedUuid +
                             ": Busy"));
    EXPECT_TRUE(IsMountedUuid(kSharedUuid));
}

}  // namespace
}  // namespace VolumeTest
