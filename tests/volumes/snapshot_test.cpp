// Snapshot copies: which extent sets resolve (duplicate, missing, extra in
// that precedence), heartbeats of other hosts, the original online,
// resignature beside the original, force mount and its replay at boot.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/kdfs.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/tarnfs.h"
#include "sim/kernel.h"
#include "storage/kdfs_util.h"
#include "volume_fixture.h"

namespace VolumeTest {
namespace {

using HostCtl::Storage::UnresolvedKdfsVolume;
using HostCtl::Storage::VmFileSystem;

std::string CopyOf(const std::string& device, const std::string& of, int extents) {
    return R"({"extent": ")" + device + R"(:1", "of": ")" + of + R"(:1", "extents": )" + std::to_string(extents) + "}";
}

struct ResolveCase {
    const char* name;
    std::string copies;
    int expected;
};

class ExtentSets : public VolumeHostTest, public ::testing::WithParamInterface<ResolveCase> {};

TEST_P(ExtentSets, CanResolveReportsTheFirstProblem) {
    Init(Profile(KdfsSection(GetParam().copies)));
    auto snaps = storage.GetUnresolvedVolumes();
    ASSERT_EQ(snaps.size(), 1u);
    UnresolvedKdfsVolume::ResolveError error = UnresolvedKdfsVolume::RESOLVE_OK;
    EXPECT_EQ(snaps[0]->CanResolve(false, false, &error), GetParam().expected == 0);
    EXPECT_EQ(error, GetParam().expected);
    EXPECT_EQ(snaps[0]->GetExtentStatus(),
              GetParam().expected == 0 ? "complete" : UnresolvedKdfsVolume::ResolveErrorToString(GetParam().expected));
}

// kCopy and kRoomy carry copies: of the shared head taken with 1 or 2
// extents, or of its second extent.
INSTANTIATE_TEST_SUITE_P(
    Volumes, ExtentSets,
    ::testing::Values(
        ResolveCase{"HeadAloneComplete", CopyOf(kCopy, kArray1, 1), 0},
        ResolveCase{"HeadOfTwoMissing", CopyOf(kCopy, kArray1, 2), 2},
        ResolveCase{"SecondExtentAloneMissing", CopyOf(kCopy, kArray2, 2), 2},
        ResolveCase{"BothExtentsComplete", CopyOf(kCopy, kArray1, 2) + "," + CopyOf(kRoomy, kArray2, 2), 0},
        ResolveCase{"TwoHeadsDuplicate", CopyOf(kCopy, kArray1, 1) + "," + CopyOf(kRoomy, kArray1, 1), 1},
        ResolveCase{"DuplicateBeforeMissing", CopyOf(kCopy, kArray1, 2) + "," + CopyOf(kRoomy, kArray1, 2), 1},
        ResolveCase{"SecondBeyondHeadsCountExtra", CopyOf(kCopy, kArray1, 1) + "," + CopyOf(kRoomy, kArray2, 2), 3}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(VolumeResolveErrors, Texts) {
    const char* texts[] = {"ok", "duplicate extents found", "some extents missing", "extra extents found",
                           "failed to check for existing active volumes", "the volume is being actively used",
                           "the original volume is still online", "the original volume has some extents online",
                           "unknown error", "unknown error"};
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(UnresolvedKdfsVolume::ResolveErrorToString(i == 9 ? -1 : i), texts[i]) << i;
}

TEST_F(VolumeHostTest, HeartbeatsOfOtherHostsMakeACopyInUse) {
    struct Row {
        std::string heartbeats;
        int expected;
    };
    const std::vector<Row> rows = {
        {"", 0},
        {std::string(R"({"host": ")") + kThisHost + R"(", "state": 1})", 0},
        {std::string(R"({"host": ")") + kOtherHost + R"(", "state": 0})", 0},
        {std::string(R"({"host": ")") + kOtherHost + R"(", "state": 1})", 5},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.heartbeats);
        Init(Profile(KdfsSection(CopyOf(kCopy, kArray1, 1), row.heartbeats)));
        auto snap = storage.GetUnresolvedVolumes().at(0);
        UnresolvedKdfsVolume::ResolveError error;
        snap->CanResolve(false, true, &error);
        EXPECT_EQ(error, row.expected);
        EXPECT_EQ(snap->CanResolve(false, false, &error), true);
    }
    FaultyLibrary library;
    library.fail["CheckForExistingFS"] = TARN_FAILURE;
    UnresolvedKdfsVolume::ResolveError error;
    EXPECT_FALSE(storage.GetUnresolvedVolumes().at(0)->CanResolve(false, true, &error));
    EXPECT_EQ(error, UnresolvedKdfsVolume::RESOLVE_CHECK_FAILED);
}

TEST_F(VolumeHostTest, OriginalOnlineOnlyMattersWhenAsked) {
    auto snap = storage.GetUnresolvedVolumes().at(0);
    EXPECT_EQ(snap->GetKdfsUuid(), kSharedUuid);
    EXPECT_TRUE(snap->IsSnapshot());
    UnresolvedKdfsVolume::ResolveError error;
    EXPECT_FALSE(snap->CanResolve(true, true, &error));
    EXPECT_EQ(error, UnresolvedKdfsVolume::RESOLVE_SOURCE_ONLINE);
    EXPECT_TRUE(snap->CanResolve(false, true, &error));
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    EXPECT_TRUE(snap->CanResolve(true, true, &error));
}

TEST_F(VolumeHostTest, ResignatureGivesANewUuidAndLeavesTheOriginalAlone) {
    auto before = Volume(kSharedUuid);
    const auto extents = before->GetExtents();
    const uint64_t size = before->GetSize();
    const std::string uuid = storage.GetUnresolvedVolumes().at(0)->ResolveVolume();

    EXPECT_NE(uuid, kSharedUuid);
    auto copy = Volume(uuid);
    ASSERT_TRUE(copy);
    EXPECT_TRUE(copy->IsMounted());
    EXPECT_FALSE(copy->IsForceMounted());
    EXPECT_EQ(copy->GetVolumeName(), "snap-" + uuid.substr(0, 8) + "-shared");
    EXPECT_EQ(copy->GetExtents(), std::vector<std::string>{std::string(kCopy) + ":1"});
    EXPECT_TRUE(HostEntryExists("/kdfs/volumes/" + copy->GetVolumeName()));

    auto original = Volume(kSharedUuid);
    EXPECT_TRUE(original->IsMounted());
    EXPECT_EQ(original->GetVolumeName(), "shared");
    EXPECT_EQ(original->GetExtents(), extents);
    EXPECT_EQ(original->GetSize(), size);
    TarnfsDeviceProperties head;
    ASSERT_EQ(TarnfsLibKSI_GetDeviceProperties("/kdfs/devices/disks/" + std::string(kArray1) + ":1", &head), TARN_OK);
    EXPECT_EQ(TarnCtl::Storage::Kdfs::FormatUuid(head.uuid), kSharedUuid);
    EXPECT_TRUE(storage.GetUnresolvedVolumes().empty());

    // The new identity is on the medium: it is still there after a reboot.
    Reboot();
    EXPECT_TRUE(Volume(uuid)->IsMounted());
    EXPECT_TRUE(Volume(kSharedUuid)->IsMounted());
}

TEST_F(VolumeHostTest, ResignatureRefusalWritesNothing) {
    Init(Profile(KdfsSection(CopyOf(kCopy, kArray1, 2))));
    TarnSim::InjectFault({KSI_LVM_MODULE, KSI_LVM_NODE_RESIGNATURE, "", TARN_FAILURE, 1});
    EXPECT_EQ(Message([&] { storage.GetUnresolvedVolumes().at(0)->ResolveVolume(); }),
              "Unable to resignature this volume due to some extents missing");
    EXPECT_EQ(TarnSim::Faults().size(), 1u);
    TarnSim::ClearFaults();
}

TEST_F(VolumeHostTest, ForceMountNeedsTheOriginalOffline) {
    auto snap = storage.GetUnresolvedVolumes().at(0);
    EXPECT_EQ(Message([&] { snap->ForceMountKdfs(true, false); }),
              "Unable to mount volume sharedbecause a volume with a matching UUID is already mounted");
    EXPECT_FALSE(Datastore(kSharedUuid));
}

TEST_F(VolumeHostTest, ForceMountIsRecordedAndReplayedAtBoot) {
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    Platform::Log::Capture log;
    storage.GetUnresolvedVolumes().at(0)->ForceMountKdfs(true, true);
    EXPECT_TRUE(log.Contains(std::string("UnresolvedKdfsVolume: Forced mount info stored in config store for UUID ") +
                             kSharedUuid));
    auto fs = Volume(kSharedUuid);
    EXPECT_TRUE(fs->IsForceMounted());
    EXPECT_TRUE(fs->IsReadOnly());
    EXPECT_EQ(fs->GetExtents(), std::vector<std::string>{std::string(kCopy) + ":1"});
    EXPECT_TRUE(fs->IsForceMountPersistent());
    auto snap = Datastore(kSharedUuid)->GetSubObject(HaldenConfigStore::SubObjectId("snap_volume"));
    ASSERT_TRUE(snap);
    std::string lvm;
    bool readOnly = false;
    std::vector<std::string> extents;
    EXPECT_TRUE(snap->GetValue("lvm_name", &lvm));
    EXPECT_EQ(lvm, fs->GetLvmName());
    EXPECT_TRUE(snap->GetValue("read_only", &readOnly));
    EXPECT_TRUE(readOnly);
    EXPECT_TRUE(snap->GetValue("extents", &extents));
    EXPECT_EQ(extents, std::vector<std::string>{std::string(kCopy) + ":1"});

    log.Clear();
    Reboot();
    EXPECT_TRUE(log.Contains(std::string("UnresolvedKdfsVolume: KDFS volume UUID ") + kSharedUuid +
                             " force mounted successfully."));
    EXPECT_TRUE(Volume(kSharedUuid)->IsForceMounted());
    EXPECT_EQ(Volume(kSharedUuid)->GetExtents(), std::vector<std::string>{std::string(kCopy) + ":1"});
}

TEST_F(VolumeHostTest, ForceMountIsNotReplayedWhenAnExtentIsGone) {
    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT);
    storage.GetUnresolvedVolumes().at(0)->ForceMountKdfs(true, false);
    // The copy LUN is taken away from the host.
    std::string profile = TarnSim::Profile::CurrentProfile();
    const std::string lun = std::string(R"("uid": ")") + kCopy + "\"";
    profile.replace(profile.find(lun), lun.size(), R"("uid": "naa.60060160000000ff")");
    HostCtl::Misc::WriteHostFileAtomic("/var/lib/tarnsim/profile.json", profile);
    Platform::Log::Capture log;
    Reboot();
    EXPECT_TRUE(log.Contains(std::string("UnresolvedKdfsVolume: Unable to find extent ") + kCopy +
                             ":1 for resolved KDFS volume " + kSharedUuid + " unable to restore volume"));
    EXPECT_FALSE(TarnCtl::Storage::Kdfs::IsMountedUuid(kSharedUuid));
}

TEST_F(VolumeHostTest, PersistentMountSettingsOnlyForResolvedSnapshots) {
    auto normal = Volume(kLocalUuid);
    EXPECT_EQ(Message([&] { normal->SetPersistentMount(true); }),
              "Cannot change mounting properties on normal KDFS volumes.  This operation is only valid for resolved "
              "snapshot volumes");
    EXPECT_EQ(Message([&] { normal->IsForceMountPersistent(); }),
              "Cannot get mounting properties on normal KDFS volumes.  This operation is only valid for resolved "
              "snapshot volumes");
    EXPECT_FALSE(Datastore(kLocalUuid));

    Volume(kSharedUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    storage.GetUnresolvedVolumes().at(0)->ForceMountKdfs(false, false);
    auto forced = Volume(kSharedUuid);
    EXPECT_FALSE(forced->IsForceMountPersistent());
    forced->SetPersistentMount(true);
    EXPECT_TRUE(forced->IsForceMountPersistent());
    // A persistent unmount drops the record.
    forced->Unmount(VmFileSystem::UNMOUNT_PERSISTENT);
    EXPECT_FALSE(Datastore(kSharedUuid)->GetSubObject(HaldenConfigStore::SubObjectId("snap_volume")));
}

}  // namespace
}  // namespace VolumeTest
