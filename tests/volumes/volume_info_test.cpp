// What a volume reports beyond its layout (heartbeat users, I/O resource
// management, offload and wear support of its devices, light-weight
// counters), the OS-data volumes' own boot mount, and the diagnostic file
// that keeps a volume from being unmounted.
#include <gtest/gtest.h>

#include <cstring>

#include "hostctl/exception.h"
#include "ksi/kdfs.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "sim/kernel.h"
#include "storage/kdfs_util.h"
#include "storage/storage_info_extension_impl.h"
#include "volume_fixture.h"

namespace VolumeTest {
namespace {

using HostCtl::Storage::VmFileSystem;

const char* kSsd = "naa.5000c50000000a01";    // local SSD that reports wear: "ds-ssd" and the OS data
const char* kFast = "naa.6006016000000a01";   // every primitive: "fast"
const char* kNoAts = "naa.6006016000000a02";  // no test-and-set: "noats"
const char* kVague = "naa.6006016000000a03";  // clone support unknown: "mixed" head
const char* kWorn = "naa.6006016000000a04";   // every primitive, reports wear: "mixed" second extent
const char* kSpare = "naa.6006016000000a05";  // "spare", unmounted
const char* kBlank = "naa.6006016000000a06";  // no partitions

const char* kSsdUuid = "5b000001-00000001-0001-000000000001";
const char* kFastUuid = "5b000002-00000002-0002-000000000002";
const char* kNoAtsUuid = "5b000003-00000003-0003-000000000003";
const char* kMixedUuid = "5b000004-00000004-0004-000000000004";
const char* kSpareUuid = "5b000005-00000005-0005-000000000005";
const char* kOsUuid = "5b000006-00000006-0006-000000000006";
const char* kThirdHost = "99999999-8888-7777-6666-555555555555";

std::string Disk(const std::string& uid, int lun, const std::string& extra, const std::string& partitions) {
    return R"({"uid": ")" + uid + R"(", "type": "disk", "vendor": "V", "model": "M", "blocks": 41943040)" + extra +
           R"(, "paths": [{"adapter": ")" + (lun == 0 ? "hbx0" : "hbx1") + R"(", "target": 0, "lun": )" +
           std::to_string(lun) + R"(}], "partitions": [)" + partitions + "]}";
}

std::string InfoProfile() {
    const std::string one = R"({"number": 1, "start": 2048, "end": 20971486, "type": "kdfs"})";
    const std::string osdata = R"(, {"number": 2, "start": 20973568, "end": 41943006, "type": "osdata"})";
    return std::string(R"({"storage": {"adapters": [
      {"name": "hbx0", "driver": "mpt3_native", "transport": "sas", "uid": "sas.1"},
      {"name": "hbx1", "driver": "qla_native", "transport": "fc", "uid": "fc.1"}],
     "devices": [)") +
           Disk(kSsd, 0, R"(, "local": true, "ssd": true, "wear": true)", one + osdata) + "," +
           Disk(kFast, 1, "", one) + "," + Disk(kNoAts, 2, R"(, "sopi": {"ats": "unsupported"})", one) + "," +
           Disk(kVague, 3, R"(, "sopi": {"clone": "unknown"})", one) + "," +
           Disk(kWorn, 4, R"(, "wear": true)", one) + "," + Disk(kSpare, 5, "", one) + "," + Disk(kBlank, 6, "", "") + R"(]},
     "kdfs": {"volumes": [
      {"label": "ds-ssd", "uuid": ")" + kSsdUuid + R"(", "extents": [")" + kSsd + R"(:1"]},
      {"label": "fast", "uuid": ")" + kFastUuid + R"(", "extents": [")" + kFast + R"(:1"],
       "heartbeats": [{"host": ")" + kOtherHost + R"(", "state": 1}, {"host": ")" + kThirdHost +
           R"(", "state": 0}]},
      {"label": "noats", "uuid": ")" + kNoAtsUuid + R"(", "extents": [")" + kNoAts + R"(:1"], "iorm": true,
       "stats": {"reads": 10, "writes": 20, "readBytes": 40960, "writeBytes": 81920, "openFiles": 3}},
      {"label": "mixed", "uuid": ")" + kMixedUuid + R"(", "extents": [")" + kVague + R"(:1", ")" + kWorn +
           R"(:1"]},
      {"label": "spare", "uuid": ")" + kSpareUuid + R"(", "extents": [")" + kSpare + R"(:1"], "mounted": false},
      {"label": "osdata", "uuid": ")" + kOsUuid + R"(", "type": "osdata", "extents": [")" + kSsd + R"(:2"]}
     ]}})";
}

class VolumeInfoTest : public VolumeHostTest {
protected:
    void SetUp() override {
        VolumeHostTest::SetUp();
        Init(InfoProfile());
    }
    bool FaultPending(const std::string& module, uint32_t node) {
        for (const auto& f : TarnSim::Faults())
            if (f.module == module && f.node == node)
                return true;
        return false;
    }
    void SetDumpFile(const std::string& path) {
        KsiDumpFile file{};
        std::strncpy(file.path, path.c_str(), sizeof(file.path) - 1);
        TarnSim::WithState([&](TarnSim::KernelState& s) { s.Put(KSI_NODE_system_dumpFile, {}, file); }, true);
    }
    std::string HostUuid() {
        std::string uuid;
        EXPECT_EQ(TarnfsLibKSI_GetKDFSHostUUID(&uuid), TARN_OK);
        return uuid;
    }
};

// ---- Heartbeat users ----------------------------------------------------------------------

TEST_F(VolumeInfoTest, UserInfoBySelection) {
    const std::string self = HostUuid();
    struct Row {
        VmFileSystem::LivenessCheckType check;
        std::vector<std::pair<std::string, uint32_t>> expected;  // host, state, slot order
    };
    const Row rows[] = {
        {VmFileSystem::LIVENESS_ALL_SLOTS, {{kOtherHost, 1}, {kThirdHost, 0}, {self, 1}}},
        {VmFileSystem::LIVENESS_LIVE, {{kOtherHost, 1}, {self, 1}}},
        {VmFileSystem::LIVENESS_LIVE_OTHER_HOSTS, {{kOtherHost, 1}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.check);
        std::vector<std::pair<std::string, uint32_t>> got;
        for (const auto& u : Volume(kFastUuid)->GetKdfsUserInfo(row.check)) {
            got.emplace_back(u.hostUuid, u.state);
            EXPECT_EQ(u.thisHost, u.hostUuid == self);
            EXPECT_GT(u.stampUS, 0);
        }
        EXPECT_EQ(got, row.expected);
    }
    EXPECT_EQ(Message([&] { Volume(kFastUuid)->GetKdfsUserInfo(static_cast<VmFileSystem::LivenessCheckType>(3)); }),
              "Invalid liveness check type 3");
}

TEST_F(VolumeInfoTest, ActiveOnlyWhenAnotherHostHoldsItUnlessThisHostCounts) {
    Platform::Log::Capture log;
    EXPECT_TRUE(Volume(kFastUuid)->IsActiveVolume(false));
    EXPECT_TRUE(log.Contains(std::string("VmFileSystem: Host ") + kOtherHost + " has volume " + kFastUuid +
                             " open. HB state: 1, HB stampUS: "));
    EXPECT_FALSE(log.Contains(std::string("Host ") + kThirdHost));
    EXPECT_FALSE(Volume(kSsdUuid)->IsActiveVolume(false));
    EXPECT_TRUE(Volume(kSsdUuid)->IsActiveVolume(true));
    // An unmounted volume holds only free slots.
    EXPECT_FALSE(Volume(kSpareUuid)->IsActiveVolume(true));
    EXPECT_EQ(Volume(kSpareUuid)->GetKdfsUserInfo(VmFileSystem::LIVENESS_LIVE).size(), 0u);
}

TEST_F(VolumeInfoTest, UserInfoFailures) {
    {
        FaultyLibrary library;
        library.fail["CheckForExistingFS"] = TARN_BUSY;
        EXPECT_EQ(Message([&] { Volume(kFastUuid)->GetKdfsUserInfo(VmFileSystem::LIVENESS_ALL_SLOTS); }),
                  "Unable to query live KDFS state of volume.");
    }
    TarnSim::InjectFault({"tarnfslib", 19, "", TARN_BUSY, 1});  // GetKDFSHostUUID
    EXPECT_EQ(Message([&] { Volume(kFastUuid)->IsActiveVolume(false); }), "Unable to query UUID of the host.");
}

// ---- I/O resource management ----------------------------------------------------------------

TEST_F(VolumeInfoTest, DisableIormTurnsItOffAndTheVolumeKeepsIt) {
    EXPECT_TRUE(Volume(kNoAtsUuid)->IsIormEnabled());
    EXPECT_FALSE(Volume(kFastUuid)->IsIormEnabled());
    Volume(kNoAtsUuid)->DisableIORM();
    EXPECT_FALSE(Volume(kNoAtsUuid)->IsIormEnabled());
    // Disabling it again is no error.
    Volume(kNoAtsUuid)->DisableIORM();
    Volume(kNoAtsUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    Reboot();
    ASSERT_TRUE(Volume(kNoAtsUuid)->IsMounted());
    EXPECT_FALSE(Volume(kNoAtsUuid)->IsIormEnabled());
}

TEST_F(VolumeInfoTest, DisableIormRefusals) {
    TarnSim::InjectFault({KSI_LVM_MODULE, KSI_LVM_NODE_IORM, "", TARN_BUSY, 1});
    EXPECT_EQ(Message([&] { Volume(kSpareUuid)->DisableIORM(); }), "Unable to change iormState on Unmounted volume");
    EXPECT_TRUE(FaultPending(KSI_LVM_MODULE, KSI_LVM_NODE_IORM));
    EXPECT_EQ(Message([&] { Volume(kNoAtsUuid)->DisableIORM(); }), "Failed to set IormState Busy");
    EXPECT_TRUE(Volume(kNoAtsUuid)->IsIormEnabled());
    EXPECT_FALSE(Volume(kSpareUuid)->IsIormEnabled());
}

// ---- Devices under the volume -----------------------------------------------------------------

TEST_F(VolumeInfoTest, OffloadAndWearSupportOverEveryExtentDevice) {
    struct Row {
        const char* uuid;
        VmFileSystem::SopiStatus all, ats;
        bool wear;
    };
    const Row rows[] = {
        {kSsdUuid, VmFileSystem::SOPI_STATUS_UNSUPPORTED, VmFileSystem::SOPI_STATUS_UNSUPPORTED, true},
        {kFastUuid, VmFileSystem::SOPI_STATUS_SUPPORTED, VmFileSystem::SOPI_STATUS_SUPPORTED, false},
        {kNoAtsUuid, VmFileSystem::SOPI_STATUS_UNSUPPORTED, VmFileSystem::SOPI_STATUS_UNSUPPORTED, false},
        // The head's clone support is unknown; the second extent reports wear, the head does not.
        {kMixedUuid, VmFileSystem::SOPI_STATUS_UNKNOWN, VmFileSystem::SOPI_STATUS_SUPPORTED, false},
        {kSpareUuid, VmFileSystem::SOPI_STATUS_SUPPORTED, VmFileSystem::SOPI_STATUS_SUPPORTED, false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.uuid);
        auto fs = Volume(row.uuid);
        EXPECT_EQ(fs->GetSOPIState(), row.all);
        EXPECT_EQ(fs->GetSOPIAtsStatus(), row.ats);
        EXPECT_EQ(fs->IsWearSupported(), row.wear);
    }
    EXPECT_EQ(VmFileSystem::GetSopiStatusString(VmFileSystem::SOPI_STATUS_UNKNOWN), "unknown");
    EXPECT_EQ(VmFileSystem::GetSopiStatusString(VmFileSystem::SOPI_STATUS_SUPPORTED), "supported");
    EXPECT_EQ(VmFileSystem::GetSopiStatusString(VmFileSystem::SOPI_STATUS_UNSUPPORTED), "unsupported");
}

TEST_F(VolumeInfoTest, WearNeedsEveryDevice) {
    auto ssd = Volume(kSsdUuid);
    EXPECT_TRUE(ssd->IsWearSupported());
    storage.Extension().ExtendFileSystemOnto(*ssd, kBlank);
    ASSERT_EQ(Volume(kSsdUuid)->GetExtentCount(), 2u);
    EXPECT_FALSE(Volume(kSsdUuid)->IsWearSupported());
}

// ---- Counters -------------------------------------------------------------------------------

TEST_F(VolumeInfoTest, LightStatsOfAMountedVolume) {
    const auto stats = Volume(kNoAtsUuid)->GetKdfsLightStats();
    EXPECT_EQ(stats.readOps, 10u);
    EXPECT_EQ(stats.writeOps, 20u);
    EXPECT_EQ(stats.readBytes, 40960u);
    EXPECT_EQ(stats.writeBytes, 81920u);
    EXPECT_EQ(stats.openFiles, 3u);
    EXPECT_EQ(Volume(kFastUuid)->GetKdfsLightStats().readOps, 0u);
    EXPECT_EQ(Message([&] { Volume(kSpareUuid)->GetKdfsLightStats(); }), "Volume not mounted");
    TarnSim::InjectFault({KSI_LVM_MODULE, KSI_LVM_NODE_LIGHT_STATS, "", TARN_BUSY, 1});
    EXPECT_EQ(Message([&] { Volume(kNoAtsUuid)->GetKdfsLightStats(); }),
              "Unable to get light-weight statistics of volume noats: Busy");
}

// ---- OS-data volumes at boot ----------------------------------------------------------------

TEST_F(VolumeInfoTest, OSDataVolumesHaveTheirOwnBootMount) {
    auto os = Volume(kOsUuid);
    ASSERT_TRUE(os->IsMounted());
    EXPECT_EQ(os->GetType(), "KDFSOS");
    for (const char* uuid : {kOsUuid, kFastUuid})
        Volume(uuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    EXPECT_EQ(Volume(kOsUuid)->GetType(), "KDFSOS");  // unmounted, read from its header

    TarnCtl::Storage::VmFileSystemImpl::AutomountKdfsFileSystems();
    EXPECT_FALSE(Volume(kOsUuid)->IsMounted());
    EXPECT_TRUE(Volume(kFastUuid)->IsMounted());
    Volume(kFastUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);

    TarnCtl::Storage::VmFileSystemImpl::AutomountOSDataFileSystems();
    EXPECT_TRUE(Volume(kOsUuid)->IsMounted());
    EXPECT_FALSE(Volume(kFastUuid)->IsMounted());
    EXPECT_FALSE(Volume(kOsUuid)->IsReadOnly());
}

TEST_F(VolumeInfoTest, RebootMountsOSDataUnlessTheUserUnmountedIt) {
    struct Row {
        VmFileSystem::UnmountOption option;
        bool mountedAfterReboot;
    };
    for (const Row& row : {Row{VmFileSystem::UNMOUNT_TRANSIENT, true}, Row{VmFileSystem::UNMOUNT_PERSISTENT, false}}) {
        SCOPED_TRACE(row.option);
        Init(InfoProfile());
        Volume(kOsUuid)->Unmount(row.option);
        Reboot();
        EXPECT_EQ(Volume(kOsUuid)->IsMounted(), row.mountedAfterReboot);
        EXPECT_TRUE(Volume(kFastUuid)->IsMounted());
    }
}

// ---- Diagnostic file --------------------------------------------------------------------------

TEST_F(VolumeInfoTest, ADiagnosticFileOnTheVolumeStopsTheUnmount) {
    for (const std::string& dir : {std::string(kFastUuid), std::string("fast")}) {
        SCOPED_TRACE(dir);
        const std::string path = "/kdfs/volumes/" + dir + "/dump/host.dumpfile";
        SetDumpFile(path);
        TarnSim::InjectFault({KSI_LVM_MODULE, KSI_LVM_NODE_UNMOUNT, "", TARN_BUSY, 1});
        EXPECT_EQ(Message([&] { Volume(kFastUuid)->Unmount(VmFileSystem::UNMOUNT_PERSISTENT); }),
                  "Moving the diagnostic file " + path + " off volume fast is not available yet");
        EXPECT_TRUE(FaultPending(KSI_LVM_MODULE, KSI_LVM_NODE_UNMOUNT));
        EXPECT_TRUE(Volume(kFastUuid)->IsMounted());
        EXPECT_FALSE(Datastore(kFastUuid));
        TarnSim::ClearFaults();
    }
    // A file on another volume, or one whose name only starts like this one's, is no obstacle.
    SetDumpFile(std::string("/kdfs/volumes/") + kSsdUuid + "/host.dumpfile");
    Volume(kFastUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    EXPECT_FALSE(Volume(kFastUuid)->IsMounted());
    SetDumpFile("/kdfs/volumes/fastest/host.dumpfile");
    Volume(kNoAtsUuid)->Unmount(VmFileSystem::UNMOUNT_TRANSIENT);
    EXPECT_FALSE(Volume(kNoAtsUuid)->IsMounted());
}

}  // namespace
}  // namespace VolumeTest
