// Every device setting the store records, row by row: the kernel hears it
// first and a refusal leaves the store as it was; in boot mode it is replayed
// to the kernel and recorded nowhere (the display name not even replayed);
// each holds the storage lock file while it writes; each comes back after a
// reboot through the storage boot step.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/boot.h"
#include "sim/kernel.h"
#include "sim/profile.h"
#include "kernel_spy.h"
#include "storage_fixture.h"

namespace StorageTest {
namespace {

using HostCtl::Storage::Lun;

struct SettingRow {
    const char* name;
    uint32_t node;           // the kernel node the setter writes
    bool nodeHasInstance;    // the device is the node's instance (else an input)
    std::function<void(Lun&)> apply;
    // The fields the setter records, as the stored object's JSON holds them.
    std::vector<std::pair<const char*, const char*>> fields;
    bool kernelInBoot;       // replayed to the kernel in boot mode
};

const std::vector<SettingRow>& Rows() {
    static const std::vector<SettingRow> rows = {
        {"display name", KSI_NODE_storage_scsifw_devices_displayName, true,
         [](Lun& l) { l.SetDisplayName("Array LUN", true); }, {{"display_name", "\"Array LUN\""}}, false},
        {"state", KSI_NODE_storage_scsifw_devices_state, true, [](Lun& l) { l.SetStatus(Lun::LUN_OFF, true); },
         {{"state", "\"OFF\""}}, true},
        {"detached", KSI_NODE_storage_scsifw_persistDeviceAttrs_set, false, [](Lun& l) { l.SetDetached(true); },
         {{"state", "\"OFF\""}}, true},
        {"queue full", KSI_NODE_storage_scsifw_devices_qfullconfigparams, true,
         [](Lun& l) { l.SetQueueFullParameters(8, 32); },
         {{"queue_full_threshold", "8"}, {"queue_full_sample_size", "32"}}, true},
        {"outstanding requests", KSI_NODE_storage_scsifw_devices_schedReqOutstanding, true,
         [](Lun& l) { l.SetNumReqOutstanding(4); }, {{"sched_num_req_outstanding", "4"}}, true},
        {"max queue depth", KSI_NODE_storage_scsifw_devices_maxQueueDepth, true,
         [](Lun& l) { l.SetMaxQueueDepth(16); }, {{"max_queue_depth", "16"}}, true},
        {"latency threshold", KSI_NODE_storage_scsifw_devices_SchedulingLatencyThreshold, true,
         [](Lun& l) { l.SetLatencySensitiveThreshold(5); },
         {{"latency_sensitive_threshold", "5"}, {"plugin", "\"NMP\""}}, true},
        {"inquiry cache", KSI_NODE_storage_scsifw_devices_ignoreInquiryCache, true,
         [](Lun& l) { l.SetDeviceInquiryCacheIgnored(true); }, {{"is_inquiry_cache_ignored", "true"}}, true},
        {"not shared", KSI_NODE_storage_scsifw_persistDeviceAttrs_set, false, [](Lun& l) { l.SetNotShared(true); },
         {{"not_shared", "true"}}, true},
        {"perennially reserved", KSI_NODE_storage_scsifw_persistDeviceAttrs_set, false,
         [](Lun& l) { l.SetPerenniallyReserved(true); }, {{"perennial_reserved", "true"}}, true},
    };
    return rows;
}

// "name": value inside the stored JSON.
bool HasField(const std::string& data, const char* field, const char* value) {
    return data.find(std::string("\"") + field + "\":" + value) != std::string::npos;
}

TEST_F(StorageHostTest, EverySettingIsRecordedAfterTheKernelAcceptsIt) {
    for (const auto& row : Rows()) {
        SCOPED_TRACE(row.name);
        TarnSim::Profile::InitHost(Profile());
        KernelSpy spy;
        auto lun = storage.GetDeviceByName(kArrayLun, false);
        row.apply(*lun);
        EXPECT_GE(spy.ChangesOf(row.node), 1u);
        auto object = BlockDevice(kArrayLun);
        ASSERT_TRUE(object);
        const std::string data = object->GetData();
        for (const auto& [field, value] : row.fields)
            EXPECT_TRUE(HasField(data, field, value)) << data;
        EXPECT_TRUE(HasField(data, "device", ("\"" + std::string(kArrayLun) + "\"").c_str())) << data;
    }
}

TEST_F(StorageHostTest, KernelRefusalLeavesTheStoreAsItWas) {
    for (const auto& row : Rows()) {
        SCOPED_TRACE(row.name);
        TarnSim::Profile::InitHost(Profile());
        auto lun = storage.GetDeviceByName(kArrayLun, false);
        // An object that already holds other settings must not change either.
        lun->SetMaxQueueDepth(8);
        lun->SetDisplayName("Before", true);
        const std::string before = BlockDevice(kArrayLun)->GetData();
        TarnSim::InjectFault({"", row.node, row.nodeHasInstance ? kArrayLun : "", TARN_FAILURE, 1});
        auto fresh = storage.GetDeviceByName(kArrayLun, false);
        EXPECT_THROW(row.apply(*fresh), HostCtl::Lib::HostCtlException);
        ASSERT_TRUE(BlockDevice(kArrayLun));
        EXPECT_EQ(BlockDevice(kArrayLun)->GetData(), before);
        TarnSim::ClearFaults();
    }
}

TEST_F(StorageHostTest, InBootModeSettersReplayToTheKernelAndRecordNothing) {
    for (const auto& row : Rows()) {
        SCOPED_TRACE(row.name);
        TarnSim::Profile::InitHost(Profile());
        KernelSpy spy;
        auto lun = storage.GetDeviceByName(kArrayLun, false);
        Store()->SetBootMode(true);
        row.apply(*lun);
        Store()->SetBootMode(false);
        EXPECT_EQ(spy.ChangesOf(row.node) > 0, row.kernelInBoot);
        EXPECT_FALSE(BlockDevice(kArrayLun));
    }
}

TEST_F(StorageHostTest, EverySettingHoldsTheStorageLockWhileItWrites) {
    for (const auto& row : Rows()) {
        SCOPED_TRACE(row.name);
        TarnSim::Profile::InitHost(Profile());
        KernelSpy spy;
        int probes = 0, held = 0;
        spy.Before(row.node, [&] {
            ++probes;
            held += StorageLockHeld();
        });
        row.apply(*storage.GetDeviceByName(kArrayLun, false));
        EXPECT_GE(probes, 1);
        EXPECT_EQ(held, probes);
        EXPECT_FALSE(StorageLockHeld());
    }
}

TEST_F(StorageHostTest, DeletingDeviceStateHoldsTheLockOnce) {
    storage.GetDeviceByName(kArrayLun, false)->SetMaxQueueDepth(8);
    KernelSpy spy;
    bool held = false;
    spy.Before(KSI_NODE_storage_scsifw_persistDeviceAttrs_set, [&] { held = StorageLockHeld(); });
    // The domain object takes the lock and the device takes it again inside.
    storage.DeleteLunState(kArrayLun);
    EXPECT_TRUE(held);
    EXPECT_FALSE(BlockDevice(kArrayLun));
    EXPECT_FALSE(StorageLockHeld());
}

TEST_F(StorageHostTest, AnotherThreadWaitsForTheLockHolder) {
    TarnCtl::Storage::StorageLockFile lock;
    lock.Lock();
    EXPECT_TRUE(StorageLockHeld());
    std::atomic<bool> ran = false;
    std::thread other([&] {
        TarnCtl::Storage::StorageLockGuard guard;
        ran = true;
    });
    // The other thread cannot get past the lock until it is released; join
    // only after the release, so no timing is involved.
    EXPECT_FALSE(ran);
    lock.Unlock();
    other.join();
    EXPECT_TRUE(ran);
    EXPECT_FALSE(StorageLockHeld());
}

struct LimitRow {
    const char* what;
    std::function<void(Lun&)> set;
    const char* error;  // "" when accepted
};

TEST_F(StorageHostTest, QueueTuningAcceptsUpToEachLimitAndRefusesPastIt) {
    const LimitRow rows[] = {
        {"depth 4", [](Lun& l) { l.SetMaxQueueDepth(4); }, ""},
        {"depth 3", [](Lun& l) { l.SetMaxQueueDepth(3); },
         "Cannot set device's max queue depth parameter. max-queue-depth should be >= 4"},
        {"threshold 16 of 16", [](Lun& l) { l.SetQueueFullParameters(16, 16); }, ""},
        {"threshold 17 of 17", [](Lun& l) { l.SetQueueFullParameters(17, 17); },
         "Cannot set device qfull parameters. queue-full-threshold should be <= 16"},
        {"threshold 8 of 8", [](Lun& l) { l.SetQueueFullParameters(8, 8); }, ""},
        {"threshold 9 of 8", [](Lun& l) { l.SetQueueFullParameters(9, 8); },
         "Cannot set device qfull parameters. queue-full-threshold should be <= queue-full-sample-size."},
        {"outstanding 64 of depth 64", [](Lun& l) { l.SetNumReqOutstanding(64); }, ""},
        {"outstanding 65 of depth 64", [](Lun& l) { l.SetNumReqOutstanding(65); },
         "Cannot set device queue depth parameter. sched-num-req-outstanding should be <= 64"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        TarnSim::Profile::InitHost(Profile());
        auto lun = storage.GetDeviceByName(kArrayLun, false);
        ASSERT_EQ(lun->GetMaxQueueDepth(), 64u);
        std::string error;
        try {
            row.set(*lun);
        } catch (const HostCtl::Lib::HostCtlException& e) {
            error = e.what();
        }
        EXPECT_EQ(error, row.error);
        // Only accepted values are recorded.
        EXPECT_EQ(BlockDevice(kArrayLun) != nullptr, *row.error == '\0');
    }
}

// Each value the storage boot step replays, read back from the kernel after a
// power cycle; the profile's values differ from every one of them.
struct ReplayRow {
    const char* name;
    uint32_t node;  // what the boot step writes
    std::function<void(Lun&)> set;
    std::function<std::string(Lun&)> read;
    const char* expected;
};

TEST_F(StorageHostTest, EveryStoredSettingIsReplayedAtBoot) {
    const ReplayRow rows[] = {
        {"state", KSI_NODE_storage_scsifw_devices_state, [](Lun& l) { l.SetStatus(Lun::LUN_OFF, true); }, [](Lun& l) { return l.GetStatusString(); }, "off"},
        {"queue full", KSI_NODE_storage_scsifw_devices_qfullconfigparams, [](Lun& l) { l.SetQueueFullParameters(8, 32); },
         [](Lun& l) {
             return std::to_string(l.GetQueueFullThreshold()) + "/" + std::to_string(l.GetQueueFullSampleSize());
         },
         "8/32"},
        {"outstanding requests", KSI_NODE_storage_scsifw_devices_schedReqOutstanding, [](Lun& l) { l.SetNumReqOutstanding(4); },
         [](Lun& l) { return std::to_string(l.GetNumReqOutstanding()); }, "4"},
        {"max queue depth", KSI_NODE_storage_scsifw_devices_maxQueueDepth, [](Lun& l) { l.SetMaxQueueDepth(16); },
         [](Lun& l) { return std::to_string(l.GetMaxQueueDepth()); }, "16"},
        {"latency threshold", KSI_NODE_storage_scsifw_devices_SchedulingLatencyThreshold,
         [](Lun& l) { l.SetLatencySensitiveThreshold(5); },
         [](Lun& l) { return std::to_string(l.GetLatencySensitiveThreshold()); }, "5"},
        {"inquiry cache", KSI_NODE_storage_scsifw_devices_ignoreInquiryCache,
         [](Lun& l) { l.SetDeviceInquiryCacheIgnored(true); },
         [](Lun& l) { return std::string(l.IsDeviceInquiryCacheIgnored() ? "ignored" : "used"); }, "ignored"},
        {"display name", KSI_NODE_storage_scsifw_devices_displayName, [](Lun& l) { l.SetDisplayName("Replayed", true); },
         [](Lun& l) {
             KsiStorageDisplayName name{};
             TarnSim::WithState([&](TarnSim::KernelState& s) {
                 s.Read(KSI_NODE_storage_scsifw_devices_displayName, {l.GetIdentifier()}, &name);
             });
             return std::string(name.name);
         },
         "Replayed"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        TarnSim::Profile::InitHost(Profile());
        auto before = storage.GetDeviceByName(kArrayLun, false);
        ASSERT_NE(row.read(*before), row.expected);
        row.set(*before);
        ASSERT_EQ(row.read(*storage.GetDeviceByName(kArrayLun, false)), row.expected);

        TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
        // The kernel brings a detached device up off by itself (persistent
        // attributes); every other value is back at the hardware's.
        if (row.node != KSI_NODE_storage_scsifw_devices_state)
            ASSERT_NE(row.read(*storage.GetDeviceByName(kArrayLun, false)), row.expected);
        KernelSpy spy;
        for (const auto& outcome : Platform::Boot::RunBoot())
            EXPECT_TRUE(outcome.ok) << outcome.name << ": " << outcome.error;
        bool replayed = false;
        for (const auto& change : spy.Changes())
            replayed |= change.node == row.node && change.key == kArrayLun;
        EXPECT_TRUE(replayed);
        EXPECT_EQ(row.read(*storage.GetDeviceByName(kArrayLun, false)), row.expected);
    }
}

}  // namespace
}  // namespace StorageTest
