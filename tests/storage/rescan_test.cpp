// Rescans: one failing adapter does not stop the rest, discovery and removal
// follow the host's hardware, the rescan-running mark is always cleared, dead
// paths still in use are reported, and claiming follows the scan type.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "sim/kernel.h"
#include "kernel_spy.h"
#include "storage_fixture.h"

namespace StorageTest {
namespace {

const std::string kNewLunOnHbx2 = R"(,
    {"uid": "naa.600601601a2b3c00a1b2c3d4e5f600aa", "type": "disk", "vendor": "DGC", "model": "VRAID",
     "blocks": 1048576, "paths": [{"adapter": "hbx2", "target": 3, "lun": 20}]})";

long ClaimRuns() {
    long runs = 0;
    TarnSim::WithState([&](TarnSim::KernelState& s) { runs = std::stol(s.GetAreaValue("storage", "claimRuns", "0")); });
    return runs;
}

KsiStorageRescanOn RescanMark() {
    KsiStorageRescanOn mark{};
    TarnSim::WithState([&](TarnSim::KernelState& s) { s.Read(KSI_NODE_storage_scsifw_rescanOn, {}, &mark); });
    return mark;
}

TEST_F(StorageHostTest, FailingAdapterIsReportedAndTheOthersAreStillRescanned) {
    // hbx1 refuses scans as busy; a new LUN appears behind hbx2.
    const std::string busy = R"(, "rescan": "busy")";
    TarnSim::Profile::InitHost(Profile("", busy));
    ChangeHardware(Profile(kNewLunOnHbx2, busy));

    std::string result = storage.RescanAdapters("*", "add", true);

    EXPECT_EQ(result,
              "Error while rescanning adapter hbx1. Error was Unable to scan Tarnos SCSI subsystem for new "
              "devices.  Scan already in progress\n");
    EXPECT_TRUE(storage.GetDeviceByName("naa.600601601a2b3c00a1b2c3d4e5f600aa", false));
    EXPECT_EQ(RescanMark().on, 0u);
}

TEST_F(StorageHostTest, FullRescanOfOneAdapterReturnsTheErrorTextInsteadOfThrowing) {
    TarnSim::Profile::InitHost(Profile("", R"(, "rescan": "failure")"));
    std::string result = storage.RescanAdapters("hbx1", "all", true);
    EXPECT_EQ(result,
              "Error while rescanning adapter hbx1. Error was Unable to scan Tarnos SCSI subsystem for old "
              "devices.Failure. Please see Tarnos log for more information\n");
}

TEST_F(StorageHostTest, RemovedHardwareIsDroppedAndNewHardwareDiscovered) {
    ChangeHardware(Profile(kNewLunOnHbx2));
    EXPECT_EQ(storage.RescanAdapters("hbx2", "add", true), "");
    EXPECT_TRUE(storage.GetLunByUUID("naa.600601601a2b3c00a1b2c3d4e5f600aa"));

    ChangeHardware(Profile());
    EXPECT_EQ(storage.RescanAdapters("hbx2", "delete", true), "");
    EXPECT_FALSE(storage.GetLunByUUID("naa.600601601a2b3c00a1b2c3d4e5f600aa"));
    EXPECT_FALSE(storage.GetDeviceByName("naa.600601601a2b3c00a1b2c3d4e5f600aa", false));
}

TEST_F(StorageHostTest, AdapterRescanReportsRemovalSoDiscoveryRunsAgain) {
    ChangeHardware(Profile(kNewLunOnHbx2));
    storage.RescanAdapters("hbx2", "add", true);
    ChangeHardware(Profile());
    auto adapter = storage.GetScsiInterface("hbx2");
    EXPECT_TRUE(adapter->RescanRemoveDeadDevices());
    EXPECT_FALSE(adapter->RescanRemoveDeadDevices());
}

TEST_F(StorageHostTest, DeadPathStillClaimedIsReportedAfterAFullRescan) {
    std::string result = storage.RescanAdapters("hbx2", "all", true);
    EXPECT_EQ(result,
              "Rescan complete, however some dead paths were not removed because they were in use by the system. "
              "Please use the 'storage core device world list' command to see the Tarnos worlds still using "
              "these paths.");
    EXPECT_EQ(storage.RescanAdapters("hbx1", "all", true), "");
}

TEST_F(StorageHostTest, UpdateRescanNeverClaimsButAddDoes) {
    long before = ClaimRuns();
    EXPECT_EQ(storage.RescanAdapters("*", "update", false), "");
    EXPECT_EQ(ClaimRuns(), before);
    EXPECT_EQ(storage.RescanAdapters("*", "add", false), "");
    EXPECT_EQ(ClaimRuns(), before + 1);
}

TEST_F(StorageHostTest, UnknownAdapterIsRefused) {
    try {
        storage.RescanAdapters("hbx42", "all", true);
        FAIL() << "no exception";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Invalid adapter specified or unable to get adapter 'hbx42'\n");
    }
    EXPECT_EQ(RescanMark().on, 0u);
}

TEST_F(StorageHostTest, RescanMarkCarriesTheCallersProcessWhileRunning) {
    uint32_t seenOn = 0, seenPid = 0;
    storage.SetRescanProgress([&](const std::string&) {
        auto mark = RescanMark();
        seenOn = mark.on;
        seenPid = mark.pid;
    });
    storage.RescanAdapters("hbx1", "update", true);
    EXPECT_EQ(seenOn, 1u);
    EXPECT_EQ(seenPid, static_cast<uint32_t>(getpid()));
    EXPECT_EQ(RescanMark().on, 0u);
}

struct ScanFailureRow {
    uint32_t node;
    const char* type;
    TARN_ReturnStatus status;
    const char* text;
};

TEST_F(StorageHostTest, ScanStepFailuresReadAsTheKernelTable) {
    const ScanFailureRow rows[] = {
        {KSI_NODE_storage_scsifw_add, "add", TARN_BUSY,
         "Unable to scan Tarnos SCSI subsystem for new devices.  Scan already in progress"},
        {KSI_NODE_storage_scsifw_add, "add", TARN_FAILURE,
         "Unable to scan Tarnos SCSI subsystem for new devices.Failure.  Please see Tarnos log for more information"},
        {KSI_NODE_storage_scsifw_delete, "delete", TARN_BUSY,
         "Unable to scan Tarnos SCSI subsystem for old devices.  Scan already in progress"},
        {KSI_NODE_storage_scsifw_delete, "delete", TARN_FAILURE,
         "Unable to scan Tarnos SCSI subsystem for old devices.Failure. Please see Tarnos log for more information"},
        {KSI_NODE_storage_scsifw_update, "update", TARN_BUSY,
         "Unable to scan Tarnos SCSI subsystem for path updates.  Scan already in progress"},
        {KSI_NODE_storage_scsifw_update, "update", TARN_FAILURE,
         "Unable to scan Tarnos SCSI subsystem for path updates.Failure. Please see Tarnos log for more "
         "information"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        TarnSim::ClearFaults();
        TarnSim::InjectFault({"", row.node, "", row.status, 1});
        EXPECT_EQ(storage.RescanAdapters("hbx2", row.type, true),
                  std::string("Error while rescanning adapter hbx2. Error was ") + row.text + "\n");
    }
}

TEST_F(StorageHostTest, RescanMarkAndLockLastTheWholeCall) {
    KernelSpy spy;
    int claimRuns = 0;
    uint32_t markAtClaim = 0;
    bool lockAtClaim = false;
    spy.Before(KSI_NODE_storage_scsifw_claimrule, [&] {
        ++claimRuns;
        markAtClaim = RescanMark().on;
        lockAtClaim = StorageLockHeld();
    });
    EXPECT_EQ(storage.RescanAdapters("*", "add", false), "");
    EXPECT_EQ(claimRuns, 1);
    EXPECT_EQ(markAtClaim, 1u);
    EXPECT_TRUE(lockAtClaim);
    EXPECT_EQ(RescanMark().on, 0u);
    EXPECT_FALSE(StorageLockHeld());
}

TEST_F(StorageHostTest, EveryScanStepHoldsTheStorageLock) {
    for (uint32_t node : {KSI_NODE_storage_scsifw_add, KSI_NODE_storage_scsifw_delete, KSI_NODE_storage_scsifw_update}) {
        KernelSpy spy;
        int probes = 0, held = 0;
        spy.Before(node, [&] {
            ++probes;
            held += StorageLockHeld();
        });
        // Straight through the adapter, without the domain object's rescan.
        auto adapter = storage.GetScsiInterface("hbx1");
        adapter->Rescan(true);
        EXPECT_GE(probes, 1) << node;
        EXPECT_EQ(held, probes) << node;
        EXPECT_FALSE(StorageLockHeld());
    }
}

}  // namespace
}  // namespace StorageTest
