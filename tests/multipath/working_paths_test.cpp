// The working paths and current path each policy shows after a path changes
// state (pulled from the fabric, switched by the library, changed by another
// process), after a reboot and across unclaim/claim: the plug-in's view of
// its paths must follow every such change at the next read.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include "hostctl/exception.h"
#include "platform/misc.h"
#include "sim/storage_paths.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/scsi_path_impl.h"
#include "multipath_fixture.h"

namespace MultipathTest {
namespace {

using HostCtl::Storage::ScsiPath;
using TarnCtl::Storage::ScsiPathImpl;
using TarnCtl::Storage::Nmp::FixedPathSelectionPolicyDeviceConfigImpl;
using TarnCtl::Storage::Nmp::MruPathSelectionPolicyDeviceConfigImpl;
using TarnCtl::Storage::Nmp::NmpDeviceConfigImpl;
using Paths = std::vector<std::string>;

// kRrLun's paths in path order; T1:L0 on hbx1 is the unoptimized one.
const char* kOpt0 = "hbx1:C0:T0:L0";
const char* kUnopt = "hbx1:C0:T1:L0";
const char* kOpt1 = "hbx2:C0:T0:L0";
const char* kOpt2 = "hbx2:C0:T1:L0";

Paths Working(const char* device) {
    return NmpDeviceConfigImpl(device).GetWorkingPathSetRuntimeNames();
}

std::string MruText(const char* device) {
    return MruPathSelectionPolicyDeviceConfigImpl(device).GetConfigurationString();
}

// Runs `fn` in a child process (another user of the same host) and waits.
void InAnotherProcess(const std::function<bool()>& fn) {
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0)
        _exit(fn() ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST_F(MultipathHostTest, RoundRobinWorkingPathsFollowEveryWayAPathChangesState) {
    ASSERT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt1, kOpt2}));
    struct Step {
        const char* what;
        std::function<void()> change;
        Paths working;
    };
    const Step steps[] = {
        {"pulled", [] { ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt1)); }, {kOpt0, kOpt2}},
        {"switched off", [] { ScsiPathImpl(kOpt0).SetState(ScsiPath::OFF); }, {kOpt2}},
        {"standby", [this] { SetKernelPathState(kOpt2, 3); }, {kUnopt}},
        {"replugged", [] { ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kOpt1)); }, {kOpt1}},
        {"switched on", [] { ScsiPathImpl(kOpt0).SetState(ScsiPath::ACTIVE); }, {kOpt0, kOpt1}},
        {"unoptimized off", [] { ScsiPathImpl(kUnopt).SetState(ScsiPath::OFF); }, {kOpt0, kOpt1}},
        {"active again", [this] { SetKernelPathState(kOpt2, 0); }, {kOpt0, kOpt1, kOpt2}},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.what);
        step.change();
        EXPECT_EQ(Working(kRrLun), step.working);
    }
    // Every live path, in path order, once unoptimized ones may carry I/O.
    TarnCtl::Storage::Nmp::RoundRobinPathSelectionPolicyDeviceConfigImpl(kRrLun).SetUseANOPaths(true);
    ScsiPathImpl(kUnopt).SetState(ScsiPath::ACTIVE);
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt1, kOpt2, kUnopt}));
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt0));
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt1, kOpt2, kUnopt}));
    // Another device's paths are not touched by any of it.
    EXPECT_EQ(Working(kRrLun2), (Paths{"hbx1:C0:T0:L1", "hbx2:C0:T0:L1"}));
}

TEST_F(MultipathHostTest, MostRecentlyUsedMovesOffADeadPathStaysAfterItReturnsAndTakesWhatLives) {
    NmpDeviceConfigImpl(kRrLun).SetPathSelectionPolicy("QUIL_PSP_MRU");
    EXPECT_EQ(MruText(kRrLun), std::string("{current=") + kOpt0 + "}");
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt0));
    EXPECT_EQ(Working(kRrLun), Paths{kOpt1});
    EXPECT_EQ(MruText(kRrLun), std::string("{current=") + kOpt1 + "}");
    ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kOpt0));
    EXPECT_EQ(Working(kRrLun), Paths{kOpt1});
    // Nothing lives: no working path, no current one.
    for (const char* p : {kOpt0, kUnopt, kOpt1, kOpt2})
        ASSERT_TRUE(TarnSim::StoragePaths::FailPath(p));
    EXPECT_EQ(Working(kRrLun), Paths{});
    EXPECT_EQ(MruText(kRrLun), "{current=none}");
    // The only live path is taken even when unoptimized; an optimized one
    // coming back later does not take it over.
    ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kUnopt));
    EXPECT_EQ(Working(kRrLun), Paths{kUnopt});
    ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kOpt2));
    EXPECT_EQ(Working(kRrLun), Paths{kUnopt});
    EXPECT_EQ(MruText(kRrLun), std::string("{current=") + kUnopt + "}");
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kUnopt));
    EXPECT_EQ(Working(kRrLun), Paths{kOpt2});
    // Moving off a dead path prefers an optimized one over an earlier unoptimized one.
    ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kUnopt));
    ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kOpt1));
    EXPECT_EQ(Working(kRrLun), Paths{kOpt2});
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt2));
    EXPECT_EQ(Working(kRrLun), Paths{kOpt1});
    EXPECT_EQ(MruText(kRrLun), std::string("{current=") + kOpt1 + "}");
}

TEST_F(MultipathHostTest, AnotherProcessPullingAndRepluggingAPathShowsAtTheNextRead) {
    FixedPathSelectionPolicyDeviceConfigImpl fixed(kFixedLun);
    fixed.SetPreferredPath(kFixedP2);
    NmpDeviceConfigImpl config(kFixedLun);
    ASSERT_EQ(config.GetWorkingPathSetRuntimeNames(), Paths{kFixedP2});
    InAnotherProcess([] { return TarnSim::StoragePaths::FailPath(kFixedP2); });
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), Paths{kFixedP0});
    EXPECT_EQ(fixed.GetActivePathRuntimeName(), kFixedP0);
    EXPECT_EQ(ScsiPathImpl(kFixedP2).GetScsiPathConfig()->GetNmpPathStateString(), "dead");
    // This process changes one, the other process the next: each sees both.
    ScsiPathImpl(kFixedP0).SetState(ScsiPath::OFF);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), Paths{kFixedP1});
    InAnotherProcess([] {
        return NmpDeviceConfigImpl(kFixedLun).GetWorkingPathSetRuntimeNames() == Paths{kFixedP1} &&
               TarnSim::StoragePaths::RestorePath(kFixedP2);
    });
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), Paths{kFixedP2});
    EXPECT_EQ(fixed.GetActivePathRuntimeName(), kFixedP2);
    InAnotherProcess([] { return TarnSim::StoragePaths::SetPathState(kFixedP1, 2); });
    ScsiPathImpl(kFixedP2).SetState(ScsiPath::OFF);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), Paths{});
    EXPECT_EQ(fixed.GetActivePathRuntimeName(), "");
}

TEST_F(MultipathHostTest, AfterARebootPathsHaveTheProfilesStateExceptTheOnesRecordedOff) {
    NmpDeviceConfigImpl(kRrLun2).SetPathSelectionPolicy("QUIL_PSP_MRU");
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt1));
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath("hbx1:C0:T0:L1"));
    ScsiPathImpl(kOpt0).SetState(ScsiPath::OFF);
    ASSERT_EQ(Working(kRrLun), Paths{kOpt2});
    ASSERT_EQ(Working(kRrLun2), Paths{"hbx2:C0:T0:L1"});
    Reboot();
    // Pulled paths are back with the hardware; the one switched off by the
    // library is off again after the boot replayed it.
    EXPECT_EQ(KernelPathState(kOpt0), 1u);
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt1, kOpt2}));
    EXPECT_EQ(Working(kRrLun2), Paths{"hbx1:C0:T0:L1"});
    EXPECT_EQ(MruText(kRrLun2), "{current=hbx1:C0:T0:L1}");
    // And the rebooted kernel keeps following changes.
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt2));
    EXPECT_EQ(Working(kRrLun), Paths{kOpt1});
    ScsiPathImpl(kOpt0).SetState(ScsiPath::ACTIVE);
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt1}));
}

TEST_F(MultipathHostTest, AnUnclaimedPathLeavesTheWorkingSetAndComesBackWithItsStateWhenClaimed) {
    ScsiPathImpl path(kOpt1);
    path.Unclaim();
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt2}));
    path.Claim();
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt1, kOpt2}));
    // Its state changes while unclaimed count when it is claimed again.
    path.Unclaim();
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt1));
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt0));
    EXPECT_EQ(Working(kRrLun), Paths{kOpt2});
    path.Claim();
    EXPECT_EQ(Working(kRrLun), Paths{kOpt2});
    ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kOpt1));
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt1, kOpt2}));
    // Unclaiming the path in use moves the fixed policy to a live one.
    FixedPathSelectionPolicyDeviceConfigImpl fixed(kFixedLun);
    fixed.SetPreferredPath(kFixedP1);
    ScsiPathImpl(kFixedP1).Unclaim();
    EXPECT_EQ(Working(kFixedLun), Paths{kFixedP0});
    EXPECT_EQ(fixed.GetActivePathRuntimeName(), kFixedP0);
    // The whole device released and taken back (kOpt0 is still dead): the
    // unoptimized path carries I/O until an optimized one is claimed.
    storage.UnclaimPathsByDevice(kRrLun);
    EXPECT_FALSE(storage.GetDeviceByName(kRrLun, false)->GetDeviceConfig());
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt2));
    storage.ClaimPaths(HostCtl::Storage::MP, "hbx1", 0, -1, 0);
    EXPECT_EQ(Working(kRrLun), Paths{kUnopt});
    storage.ClaimPaths(HostCtl::Storage::MP, "hbx2", 0, -1, 0);
    EXPECT_EQ(Working(kRrLun), Paths{kOpt1});
    ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kOpt0));
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt1}));
}

// The fabric as the profile has it, with kOpt1's entry replaced by `entry`.
std::string HardwareWith(const std::string& entry) {
    std::string profile = Profile();
    const std::string original = R"({"adapter": "hbx2", "target": 0, "lun": 0, "priority": 50})";
    const size_t at = profile.find(original);
    return at == std::string::npos ? "" : profile.replace(at, original.size(), entry);
}

TEST_F(MultipathHostTest, RescansUpdateTheWorkingPathsWithTheFabricsStatesAndDropGonePaths) {
    const std::string dead = HardwareWith(R"({"adapter": "hbx2", "target": 0, "lun": 0, "state": "dead"})");
    ASSERT_FALSE(dead.empty());
    HostCtl::Misc::WriteHostFileAtomic("/var/lib/tarnsim/profile.json", dead);
    EXPECT_EQ(storage.RescanAdapters("hbx2", "update", true), "");
    EXPECT_EQ(KernelPathState(kOpt1), 2u);
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt2}));
    HostCtl::Misc::WriteHostFileAtomic("/var/lib/tarnsim/profile.json", Profile());
    EXPECT_EQ(storage.RescanAdapters("hbx2", "update", true), "");
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt1, kOpt2}));
    // A path that left the fabric leaves the device's paths; it comes back
    // with the hardware, claimed and live.
    // (moved behind an adapter the host does not have)
    HostCtl::Misc::WriteHostFileAtomic("/var/lib/tarnsim/profile.json",
                                       HardwareWith(R"({"adapter": "hbx9", "target": 0, "lun": 0})"));
    EXPECT_EQ(storage.RescanAdapters("hbx2", "delete", true), "");
    EXPECT_FALSE(storage.GetPathByName(kOpt1));
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt2}));
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kOpt2));
    EXPECT_EQ(Working(kRrLun), Paths{kOpt0});
    HostCtl::Misc::WriteHostFileAtomic("/var/lib/tarnsim/profile.json", Profile());
    EXPECT_EQ(storage.RescanAdapters("hbx2", "add", true), "");
    EXPECT_EQ(Working(kRrLun), (Paths{kOpt0, kOpt1}));
}

}  // namespace
}  // namespace MultipathTest
