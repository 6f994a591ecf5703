// Paths: identity, live state, the on/off change with its record (or the log
// for identifiers that do not survive reboots), refusals that change
// nothing, boot replay of recorded states, and lookups by name.
#include <gtest/gtest.h>

#include <cstring>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/log.h"
#include "sim/kernel.h"
#include "storage/scsi_path_impl.h"
#include "multipath_fixture.h"

namespace MultipathTest {
namespace {

using HostCtl::Storage::ScsiPath;
using TarnCtl::Storage::ScsiPathImpl;

const char* kPath = "hbx1:C0:T0:L0";
const char* kPathUid = "fc.2000:2100-target.hbx1.0-naa.600601601a2b3c00a1b2c3d4e5f60001";

std::string StoredState(const std::shared_ptr<HaldenConfigStore::ConfigStoreObject>& object) {
    std::string state;
    if (object)
        object->GetValue("state", &state);
    return state;
}

TEST_F(MultipathHostTest, PathIdentityFromItsRecords) {
    ScsiPathImpl path(kPath);
    EXPECT_EQ(path.GetIdentifier(), kPathUid);
    EXPECT_EQ(path.GetAdapterIdentifier(), "fc.2000:2100");
    EXPECT_EQ(path.GetTargetIdentifier(), "target.hbx1.0");
    EXPECT_EQ(path.GetDeviceUid(), kRrLun);
    EXPECT_EQ(path.GetDeviceIdentifier(), kRrLun);
    EXPECT_EQ(path.GetAdapterName(), "hbx1");
    EXPECT_EQ(path.GetChannelNumber(), 0u);
    EXPECT_EQ(path.GetTargetNumber(), 0u);
    EXPECT_EQ(path.GetLun(), 0u);
    EXPECT_TRUE(path.IsUniqueIdentifier());
    EXPECT_TRUE(path.IsPersistableIdentifier());
    EXPECT_FALSE(ScsiPathImpl("hbx4:C0:T0:L0").IsPersistableIdentifier());
    EXPECT_EQ(path.GetMultipathPluginIdentifier(), "NMP");
    EXPECT_TRUE(path.GetMultipathPlugin());
    EXPECT_EQ(path.GetTransportMapping(), "Fibre Channel");
    EXPECT_EQ(path.GetDevice()->GetIdentifier(), kRrLun);
    EXPECT_EQ(path.GetAdapter()->GetIdentifier(), "hbx1");
    HostCtl::Storage::ScsiStats stats;
    stats.io.commands = 7;
    path.GetScsiStats(stats);
    EXPECT_EQ(stats.io.commands, 0u);
}

TEST_F(MultipathHostTest, EveryFieldOfThePathRecordsComesBackWhateverItsLength) {
    // Fields of every length up to their full size (no terminating zero),
    // empty ones included, so each is cut from the right place.
    struct Case {
        std::string adapter, device, plugin, controller;
    };
    const Case cases[] = {
        {"a", "d", "p", "c"},
        {std::string(32, 'A'), std::string(256, 'D'), std::string(32, 'P'), std::string(64, 'C')},
        {"hbx9", "naa.1", "", ""},  // unclaimed, no controller
        {"hbx9", "", "NMP", "ctl-0"},
    };
    int n = 0;
    for (const auto& c : cases) {
        const std::string name = "hbx9:C1:T2:L" + std::to_string(n++);
        KsiStoragePathInfo info{};
        std::memcpy(info.adapter, c.adapter.data(), c.adapter.size());
        std::memcpy(info.deviceUid, c.device.data(), c.device.size());
        std::memcpy(info.plugin, c.plugin.data(), c.plugin.size());
        std::memcpy(info.controller, c.controller.data(), c.controller.size());
        info.channel = 1;
        info.target = 4000000000u;
        info.lun = 255;
        info.nsId = 7;
        info.flags = 2;
        info.maxIOSize = 1u << 25;
        KsiStoragePathUid uid{};
        std::memcpy(uid.adapterUid, "au", 2);
        std::memcpy(uid.targetUid, "tu", 2);
        std::memcpy(uid.deviceUid, "du", 2);
        TarnSim::WithState(
            [&](TarnSim::KernelState& s) {
                s.Put(KSI_NODE_storage_scsifw_paths_info, {name}, info);
                s.Put(KSI_NODE_storage_scsifw_paths_pathUid, {name}, uid);
            },
            true);
        ScsiPathImpl path(name);
        EXPECT_EQ(path.GetAdapterName(), c.adapter) << name;
        EXPECT_EQ(path.GetDeviceIdentifier(), c.device) << name;
        EXPECT_EQ(path.GetMultipathPluginIdentifier(), c.plugin.empty() ? "(unclaimed)" : c.plugin) << name;
        EXPECT_EQ(path.GetControllerName(), c.controller) << name;
        EXPECT_EQ(path.GetChannelNumber(), 1u);
        EXPECT_EQ(path.GetTargetNumber(), 4000000000u);
        EXPECT_EQ(path.GetLun(), 255u);
        EXPECT_EQ(path.GetNSId(), 7u);
        EXPECT_EQ(path.GetMaxIOSize(), 1u << 25);
        EXPECT_FALSE(path.IsUniqueIdentifier());
        EXPECT_TRUE(path.IsPersistableIdentifier());
        EXPECT_EQ(path.GetIdentifier(), "au-tu-du");
    }
}

TEST_F(MultipathHostTest, StateStringsOfEveryKernelValue) {
    const std::pair<uint32_t, const char*> cases[] = {{0, "active"}, {1, "off"},     {2, "dead"},
                                                      {3, "standby"}, {4, "changed"}, {7, "unknown"}};
    ScsiPathImpl path(kPath);
    for (const auto& [value, text] : cases) {
        SetKernelPathState(kPath, value);
        // Read afresh: the same object sees every change.
        EXPECT_EQ(path.GetStateString(), text);
        EXPECT_EQ(static_cast<uint32_t>(path.GetState()), value);
    }
}

TEST_F(MultipathHostTest, SetStateOffAndOnIsRecordedForPersistablePaths) {
    ScsiPathImpl path(kPath);
    path.SetState(ScsiPath::OFF);
    EXPECT_EQ(KernelPathState(kPath), 1u);
    EXPECT_EQ(StoredState(StoredPath(kPathUid)), "OFF");
    path.SetState(ScsiPath::ACTIVE);
    EXPECT_EQ(KernelPathState(kPath), 0u);
    EXPECT_EQ(StoredState(StoredPath(kPathUid)), "ACTIVE");
    auto writes = TakeWrites();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0].node, KSI_NODE_storage_scsifw_paths_state);
    EXPECT_EQ(writes[0].instance, std::vector<std::string>{kPath});
    EXPECT_EQ(writes[0].inputs, std::vector<std::string>{"1"});
    EXPECT_EQ(writes[1].inputs, std::vector<std::string>{"0"});
}

TEST_F(MultipathHostTest, SetStateRefusesOtherStatesAndChangesNothing) {
    const auto before = StoreIds();
    for (auto state : {ScsiPath::DEAD, ScsiPath::STANDBY, ScsiPath::CHANGED, static_cast<ScsiPath::PathState>(9)}) {
        try {
            ScsiPathImpl(kPath).SetState(state);
            ADD_FAILURE() << "accepted " << state;
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_STREQ(e.what(), "Cannot set path to any states other than on or off");
        }
    }
    EXPECT_TRUE(TakeWrites().empty());
    EXPECT_EQ(KernelPathState(kPath), 0u);
    EXPECT_EQ(StoreIds(), before);
}

TEST_F(MultipathHostTest, BusyPathRefusesWithTheKernelTextAndRecordsNothing) {
    const auto before = StoreIds();
    try {
        ScsiPathImpl("hbx2:C0:T1:L0").SetState(ScsiPath::OFF);
        ADD_FAILURE() << "busy path changed";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Unable to change path state, the path is marked as 'busy' by the Tarnos.");
    }
    EXPECT_EQ(KernelPathState("hbx2:C0:T1:L0"), 0u);
    EXPECT_EQ(StoreIds(), before);
}

TEST_F(MultipathHostTest, NonPersistablePathIsChangedAndOnlyLogged) {
    Platform::Log::Capture log;
    const auto before = StoreIds();
    ScsiPathImpl path("hbx4:C0:T0:L0");
    path.SetState(ScsiPath::OFF);
    EXPECT_EQ(KernelPathState("hbx4:C0:T0:L0"), 1u);
    EXPECT_TRUE(log.Contains("ScsiPathImpl: Path identifier " + path.GetIdentifier() +
                             " is not persistable. Settings won't be persisted across reboot"));
    EXPECT_EQ(StoreIds(), before);
}

TEST_F(MultipathHostTest, AnOffPathComesBackOffAfterAReboot) {
    ScsiPathImpl(kPath).SetState(ScsiPath::OFF);
    ScsiPathImpl("hbx2:C0:T0:L0").SetState(ScsiPath::OFF);
    ScsiPathImpl("hbx2:C0:T0:L0").SetState(ScsiPath::ACTIVE);
    Reboot();
    EXPECT_EQ(KernelPathState(kPath), 1u);
    EXPECT_EQ(KernelPathState("hbx2:C0:T0:L0"), 0u);
    // Replayed, not recorded again.
    EXPECT_EQ(StoredState(StoredPath(kPathUid)), "OFF");
}

TEST_F(MultipathHostTest, BootReplayOfPathStatesRecordsNothing) {
    Store()->SetBootMode(true);
    ScsiPathImpl(kPath).SetState(ScsiPath::OFF);
    Store()->SetBootMode(false);
    EXPECT_EQ(KernelPathState(kPath), 1u);
    EXPECT_FALSE(StoredPath(kPathUid));
}

TEST_F(MultipathHostTest, PathsByRuntimeNameOrUid) {
    EXPECT_EQ(storage.GetPathByName(kPath)->GetRuntimeName(), kPath);
    EXPECT_EQ(storage.GetPathByName(kPathUid)->GetRuntimeName(), kPath);
    EXPECT_FALSE(storage.GetPathByName("hbx9:C0:T0:L0"));
    EXPECT_EQ(ScsiPathImpl::GetPath(kPathUid)->GetRuntimeName(), kPath);
    EXPECT_FALSE(ScsiPathImpl::GetPath(""));
}

TEST_F(MultipathHostTest, PathConfigStringsGoToTheKernelAndTheRecord) {
    auto config = ScsiPathImpl(kPath).GetScsiPathConfig();
    ASSERT_TRUE(config);
    config->SetStorageArrayTypeConfigString("tpg_preferred=on");
    EXPECT_EQ(config->GetStorageArrayTypeConfigString(), "tpg_preferred=on");
    std::string satp;
    ASSERT_TRUE(StoredPath(kPathUid));
    EXPECT_TRUE(StoredPath(kPathUid)->GetValue("satp", &satp));
    EXPECT_EQ(satp, "tpg_preferred=on");
    // The platform's PSPs take no path strings: nothing is recorded.
    try {
        config->SetPathSelectionPolicyConfigString("weight=3");
        ADD_FAILURE() << "accepted";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "The PSP does not support path configuration strings.");
    }
    EXPECT_FALSE(StoredPath(kPathUid)->HasValue("psp"));
    // The HP array's SATP takes none either.
    try {
        ScsiPathImpl(kFixedP0).GetScsiPathConfig()->SetStorageArrayTypeConfigString("x=1");
        ADD_FAILURE() << "accepted";
    } catch (const HostCtl::Lib::HostCtlException& e) {
        EXPECT_STREQ(e.what(), "The SATP does not support path configuration strings.");
    }
    ScsiPathImpl(kPath).RemoveNmpSettings();
    EXPECT_FALSE(StoredPath(kPathUid));
}

TEST_F(MultipathHostTest, PathGroupStateAndPriorityFollowTheLiveState) {
    auto optimized = ScsiPathImpl(kPath).GetScsiPathConfig();
    auto unoptimized = ScsiPathImpl("hbx1:C0:T1:L0").GetScsiPathConfig();
    EXPECT_EQ(optimized->GetNmpPathStateString(), "active");
    EXPECT_EQ(optimized->GetNmpPathPriority(), 50u);
    EXPECT_EQ(unoptimized->GetNmpPathStateString(), "active unoptimized");
    EXPECT_EQ(unoptimized->GetNmpPathPriority(), 10u);
    ScsiPathImpl(kPath).SetState(ScsiPath::OFF);
    EXPECT_EQ(optimized->GetNmpPathStateString(), "off");
    SetKernelPathState(kPath, 2);
    EXPECT_EQ(optimized->GetNmpPathStateString(), "dead");
    SetKernelPathState(kPath, 3);
    EXPECT_EQ(optimized->GetNmpPathStateString(), "standby");
}

}  // namespace
}  // namespace MultipathTest
