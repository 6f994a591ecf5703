// Device and adapter details across their life: boot replay with partial
// failures, names of devices that are gone, kernel attributes across reboots,
// broken devices in listings, durable names, paths by name, adapter values and
// the unresolved-volume caches.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "lib/tarnctl_object.h"
#include "sim/kernel.h"
#include "storage/storage_util.h"
#include "storage_fixture.h"

namespace StorageTest {
namespace {

using HostCtl::Storage::Lun;

void PowerCycle() {
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    Platform::Boot::RunBoot();
}

TEST_F(StorageHostTest, BootReplaysTheRestWhenOneSettingIsRefused) {
    {
        auto lun = storage.GetDeviceByName(kArrayLun, false);
        lun->SetStatus(Lun::LUN_OFF, true);
        lun->SetMaxQueueDepth(16);
        lun->SetQueueFullParameters(4, 32);
    }
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    TarnSim::InjectFault({"", KSI_NODE_storage_scsifw_devices_maxQueueDepth, kArrayLun, TARN_FAILURE, 1});
    Platform::Log::Capture log;
    Platform::Boot::RunBoot();

    EXPECT_TRUE(log.Contains("LunImpl: Unable to set Max Queue depth value of 16 for device " + std::string(kArrayLun) +
                             ". Error Failure"));
    EXPECT_TRUE(log.Contains("LunImpl: Core Device Settings of device " + std::string(kArrayLun) +
                             " have not applied completely to the tarnos."));
    auto lun = storage.GetDeviceByName(kArrayLun, false);
    EXPECT_EQ(lun->GetStatus(), Lun::LUN_OFF);
    EXPECT_EQ(lun->GetQueueFullThreshold(), 4u);
    EXPECT_EQ(lun->GetMaxQueueDepth(), 64u);
    EXPECT_EQ(Store()->GetBootStatus(TarnCtl::Storage::BlockDeviceId(kArrayLun)), std::optional<bool>(false));
    // Boot replays; it never records.
    long depth = 0;
    EXPECT_TRUE(BlockDevice(kArrayLun)->GetValue("max_queue_depth", &depth));
    EXPECT_EQ(depth, 16);
}

TEST_F(StorageHostTest, NamingADeviceThatIsGoneIsLoggedAtBoot) {
    storage.GetDeviceByName(kArrayLun, false)->SetDisplayName("Gone soon", true);
    TarnSim::Profile::InitHost(ProfileWithout(kArrayLun));
    // InitHost empties the store; put the name back as an earlier boot left it.
    auto object = std::make_shared<HaldenConfigStore::ConfigStoreObject>(TarnCtl::Storage::BlockDeviceId(kArrayLun));
    object->SetValue("display_name", "Gone soon");
    Store()->Write(object);
    Platform::Log::Capture log;
    PowerCycle();
    EXPECT_TRUE(log.Contains("StorageInfo: Unable to name LUN " + std::string(kArrayLun) + ": Unable to resolve Device name"));
}

TEST_F(StorageHostTest, KernelAttributesSurviveAReboot) {
    storage.GetDeviceByName(kArrayLun, false)->SetNotShared(true);
    storage.GetDeviceByName(kArrayLun, false)->SetPerenniallyReserved(true);
    PowerCycle();
    auto lun = storage.GetDeviceByName(kArrayLun, false);
    EXPECT_TRUE(lun->IsNotShared());
    EXPECT_TRUE(lun->IsPerenniallyReserved());
    lun->DeleteState();
    EXPECT_FALSE(lun->IsNotShared());
    EXPECT_FALSE(BlockDevice(kArrayLun));
}

TEST_F(StorageHostTest, DeviceWhoseInfoCannotBeReadIsSkippedWithAWarning) {
    TarnSim::InjectFault({"", KSI_NODE_storage_scsifw_devices_info, kArrayLun, TARN_FAILURE, 1});
    Platform::Log::Capture log;
    auto luns = storage.GetLuns(false, false);
    EXPECT_EQ(luns.size(), 5u);
    EXPECT_TRUE(log.Contains("StorageInfo: Skipping lun " + std::string(kArrayLun) + ": Failure"));
}

TEST_F(StorageHostTest, DurableNamesComeFromInquiryPages) {
    auto names = storage.GetDeviceByName(kArrayLun, false)->GetDurableNames();
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0].substr(0, 5), "STD: ");
    EXPECT_EQ(names[1].substr(0, 8), "VPD 131:");

    TarnSim::InjectFault({"", KSI_NODE_storage_scsifw_devices_inquiryVPD_uncachedData, "", TARN_FAILURE, 1});
    Platform::Log::Capture log;
    EXPECT_EQ(storage.GetDeviceByName(kArrayLun, false)->GetDurableNames().size(), 1u);
    EXPECT_TRUE(log.Contains("LunImpl: Got exception on VPD page 131 data for device " + std::string(kArrayLun)));
}

TEST_F(StorageHostTest, DurableNamesNeedAPathThatCanDoIo) {
    // Both paths of the busy LUN are dead once the fabric says so.
    std::string profile = Profile();
    const std::string live = R"({"adapter": "hbx1", "target": 0, "lun": 2})";
    profile.replace(profile.find(live), live.size(), R"({"adapter": "hbx1", "target": 0, "lun": 2, "state": "dead"})");
    ChangeHardware(profile);
    storage.RescanAdapters("*", "update", true);
    try {
        storage.GetDeviceByName(kBusyLun, false)->GetDurableNames();
        ADD_FAILURE() << "no exception";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Unable to query VPD pages from device, all paths are dead, no I/O possible.");
    }
}

TEST_F(StorageHostTest, PathsAreFoundByRuntimeNameOrUid) {
    auto path = storage.GetPathByName("hbx2:C0:T1:L2");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->GetStateString(), "dead");
    EXPECT_EQ(path->GetDeviceIdentifier(), kBusyLun);
    EXPECT_EQ(path->GetMultipathPluginIdentifier(), "NMP");
    const std::string uid = path->GetIdentifier();
    EXPECT_EQ(uid, "fc.2001:2101-target.hbx2.1-" + std::string(kBusyLun));
    auto byUid = storage.GetPathByName(uid);
    ASSERT_TRUE(byUid);
    EXPECT_EQ(byUid->GetRuntimeName(), "hbx2:C0:T1:L2");
    EXPECT_FALSE(storage.GetPathByName("hbx9:C0:T0:L0"));
    EXPECT_EQ(storage.GetScsiAdaptersForDevice(kMixedLun), (std::vector<std::string>{"hbx1", "hbx2", "hbx3", "hbx5"}));
}

struct GuardRow {
    uint32_t kernel;
    const char* text;
};

TEST_F(StorageHostTest, AdapterValuesAreReadOnceFromTheKernel) {
    const GuardRow rows[] = {{0, "NO GUARD SUPPORT"}, {1, "CRC"}, {2, "IP"}, {3, "CRC, IP"}, {7, "NO GUARD SUPPORT"}};
    for (const auto& row : rows) {
        TarnSim::WithState(
            [&](TarnSim::KernelState& s) {
                KsiStorageAdapterUid uid{};
                std::strcpy(uid.uid, "fc.2000:2100");
                uid.guardType = row.kernel;
                uid.protMask = 0x11;
                s.Put(KSI_NODE_storage_scsifw_adapters_uid, {"hbx1"}, uid);
                KsiStorageStats stats{};
                stats.queueDepth = 2048;
                stats.nvme = row.kernel == 3;
                stats.counters[0] = 1234;
                s.Put(KSI_NODE_storage_scsifw_adapters_stats, {"hbx1"}, stats);
            },
            true);
        auto adapter = storage.GetScsiInterface("hbx1");
        EXPECT_EQ(adapter->GuardType(), row.text);
        EXPECT_EQ(adapter->ProtMask(), 0x11u);
        EXPECT_EQ(adapter->GetCommunicationProtocol(), row.kernel == 3 ? "NVME" : "SCSI");
        EXPECT_EQ(adapter->GetStorageStatistics().commands, 1234u);
    }
    // Values are kept once read: a kernel change shows after Refresh.
    auto adapter = storage.GetScsiInterface("hbx1");
    EXPECT_EQ(adapter->GetQueueDepth(), 2048u);
    TarnSim::WithState([](TarnSim::KernelState& s) { s.Put(KSI_NODE_storage_scsifw_adapters_stats, {"hbx1"}, KsiStorageStats{64, 0, {}}); },
                       true);
    EXPECT_EQ(adapter->GetQueueDepth(), 2048u);
    adapter->Refresh();
    EXPECT_EQ(adapter->GetQueueDepth(), 64u);
}

TEST_F(StorageHostTest, LatencyThresholdIsRecordedWithThePlugin) {
    auto lun = storage.GetDeviceByName(kArrayLun, false);
    lun->SetLatencySensitiveThreshold(250);
    lun->SetDeviceInquiryCacheIgnored(true);
    EXPECT_EQ(lun->GetLatencySensitiveThreshold(), 250u);
    EXPECT_TRUE(lun->IsDeviceInquiryCacheIgnored());
    auto object = BlockDevice(kArrayLun);
    long threshold = 0;
    std::string plugin;
    bool ignored = false;
    EXPECT_TRUE(object->GetValue("latency_sensitive_threshold", &threshold));
    EXPECT_TRUE(object->GetValue("plugin", &plugin));
    EXPECT_TRUE(object->GetValue("is_inquiry_cache_ignored", &ignored));
    EXPECT_EQ(threshold, 250);
    EXPECT_EQ(plugin, "NMP");
    EXPECT_TRUE(ignored);
}

TEST_F(StorageHostTest, FirstDiscoveryFailureGetsASecondChance) {
    TarnSim::InjectFault({"", KSI_NODE_storage_scsifw_add, "", TARN_FAILURE, 1});
    EXPECT_NO_THROW(storage.GetScsiInterface("hbx1")->Rescan(true));
    TarnSim::InjectFault({"", KSI_NODE_storage_scsifw_add, "", TARN_FAILURE, 2});
    try {
        storage.GetScsiInterface("hbx1")->Rescan(true);
        ADD_FAILURE() << "no exception";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(),
                     "Unable to scan Tarnos SCSI subsystem for new devices.Failure.  Please see Tarnos log for more "
                     "information");
    }
}

// A volume the counting producer hands out, named by the call that made it.
class CountedVolume : public HostCtl::Storage::UnresolvedKdfsVolume, public TarnCtl::Lib::TarnCtlObject {
public:
    explicit CountedVolume(std::string name) : _name(std::move(name)) {}
    void Refresh() override {}
    std::string GetName() const override { return _name; }
    // Only the name matters to the cache; the rest answers as an empty copy would.
    std::string GetKdfsUuid() override { return _name; }
    std::string GetKdfsLabel() override { return _name; }
    std::string GetLvmName() override { return ""; }
    std::string GetHeadExtent() override { return ""; }
    uint64_t GetTotalSize() override { return 0; }
    std::string GetVolumeType() override { return ""; }
    bool IsSnapshot() override { return true; }
    std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsExtent>> GetExtents() override { return {}; }
    std::string GetExtentStatus() override { return "complete"; }
    bool CanResolve(bool, bool, ResolveError* error) override {
        if (error) *error = RESOLVE_OK;
        return true;
    }
    std::string ResolveVolume() override { return ""; }
    void ForceMountKdfs(bool, bool) override {}

private:
    std::string _name;
};

int gProduced = 0;
std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>> CountingProducer(bool snapshots) {
    ++gProduced;
    const std::string call = std::to_string(gProduced) + (snapshots ? "" : "-nosnap");
    return {std::make_shared<CountedVolume>("vol-a#" + call), std::make_shared<CountedVolume>("vol-b#" + call)};
}

std::vector<std::string> Names(const std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>>& list) {
    std::vector<std::string> out;
    for (const auto& v : list)
        out.push_back(v->GetName());
    return out;
}

TEST_F(StorageHostTest, UnresolvedVolumesAreComputedOncePerScope) {
    gProduced = 0;
    TarnCtl::Storage::SetUnresolvedVolumeProducer(CountingProducer);
    Platform::Log::Capture log;
    // Outside a scope every query computes afresh.
    EXPECT_EQ(Names(storage.GetUnresolvedVolumes()), (std::vector<std::string>{"vol-a#1", "vol-b#1"}));
    EXPECT_EQ(Names(storage.GetUnresolvedVolumes()), (std::vector<std::string>{"vol-a#2", "vol-b#2"}));
    EXPECT_EQ(log.Count("Getting list of UnresolvedKdfsVolume"), 0u);
    {
        HostCtl::Storage::StorageInfoScopedCache scope;
        EXPECT_EQ(Names(storage.GetUnresolvedVolumes()), (std::vector<std::string>{"vol-a#3", "vol-b#3"}));
        // The same list, not a recomputed one.
        EXPECT_EQ(Names(storage.GetUnresolvedVolumes()), (std::vector<std::string>{"vol-a#3", "vol-b#3"}));
        EXPECT_EQ(gProduced, 3);
        EXPECT_EQ(log.Count("Getting list of UnresolvedKdfsVolume"), 1u);
        // Another thread has no scope of its own: it computes afresh.
        std::vector<std::string> other;
        std::thread([&] { other = Names(storage.GetUnresolvedVolumes()); }).join();
        EXPECT_EQ(other, (std::vector<std::string>{"vol-a#4", "vol-b#4"}));
        // Until the scope is made global.
        scope.EnableGlobal();
        std::thread([&] { other = Names(storage.GetUnresolvedVolumes()); }).join();
        EXPECT_EQ(other, (std::vector<std::string>{"vol-a#5", "vol-b#5"}));
        std::thread([&] { other = Names(storage.GetUnresolvedVolumes()); }).join();
        EXPECT_EQ(other, (std::vector<std::string>{"vol-a#5", "vol-b#5"}));
    }
    EXPECT_EQ(Names(storage.GetUnresolvedVolumes()), (std::vector<std::string>{"vol-a#6", "vol-b#6"}));
    TarnCtl::Storage::SetUnresolvedVolumeProducer(nullptr);
}

}  // namespace
}  // namespace StorageTest
