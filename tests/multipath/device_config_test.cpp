// A device's native multipathing configuration: the SATP and PSP the claim
// rules give, PSP changes, SATP option strings, the round-robin and fixed
// policies' settings with their records, refusals that change nothing, and
// setters in boot mode.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/nmp.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "sim/kernel.h"
#include "sim/storage_paths.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/scsi_path_impl.h"
#include "multipath_fixture.h"

namespace MultipathTest {
namespace {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::SubObjectId;
using HostCtl::Storage::Nmp::FixedPathSelectionPolicyDeviceConfig;
using HostCtl::Storage::Nmp::RoundRobinPathSelectionPolicyDeviceConfig;
using TarnCtl::Storage::Nmp::FixedPathSelectionPolicyDeviceConfigImpl;
using TarnCtl::Storage::Nmp::NmpDeviceConfigImpl;
using TarnCtl::Storage::Nmp::RoundRobinPathSelectionPolicyDeviceConfigImpl;

std::string Text(const std::shared_ptr<ConfigStoreObject>& o, const char* field) {
    std::string v;
    if (o)
        o->GetValue(field, &v);
    return v;
}

std::shared_ptr<ConfigStoreObject> Sub(const std::shared_ptr<ConfigStoreObject>& o, const char* name) {
    return o ? o->GetSubObject(SubObjectId(name)) : nullptr;
}

TEST_F(MultipathHostTest, ClaimRulesGiveEachDeviceItsSatpAndThatSatpsDefaultPsp) {
    const struct {
        const char* device;
        const char* satp;
        const char* psp;
    } cases[] = {
        {kRrLun, "QUIL_SATP_ALUA_CX", "QUIL_PSP_RR"},      {kFixedLun, "QUIL_SATP_EVA", "QUIL_PSP_FIXED"},
        {kVendorLun, "PURE_SATP_AA", "PURE_PSP_LB"},       {kLocalDisk, "QUIL_SATP_LOCAL", "QUIL_PSP_FIXED"},
        {kUsbStick, "QUIL_SATP_LOCAL", "QUIL_PSP_FIXED"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.device);
        auto config = storage.GetDeviceByName(c.device, false)->GetDeviceConfig();
        ASSERT_TRUE(config);
        EXPECT_EQ(config->GetStorageArrayTypeString(), c.satp);
        EXPECT_EQ(config->GetPathSelectionPolicyName(), c.psp);
        EXPECT_EQ(config->GetStorageArrayType()->GetName(), c.satp);
        EXPECT_EQ(config->GetPathSelectionPolicy()->GetName(), c.psp);
    }
}

TEST_F(MultipathHostTest, SettingAPspWritesTheKernelThenRecordsIt) {
    NmpDeviceConfigImpl config(kRrLun);
    config.SetPathSelectionPolicy("QUIL_PSP_MRU");
    auto writes = TakeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].module, "nmp");
    EXPECT_EQ(writes[0].node, 5010u);
    EXPECT_EQ(writes[0].instance, std::vector<std::string>{"QUIL_PSP_MRU"});
    EXPECT_EQ(writes[0].inputs, std::vector<std::string>{std::string("device=") + kRrLun});
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetPathSelectionPolicyName(), "QUIL_PSP_MRU");
    EXPECT_EQ(Text(BlockDevice(kRrLun), "plugin"), "NMP");
    EXPECT_EQ(Text(Sub(BlockDevice(kRrLun), "psp"), "type"), "QUIL_PSP_MRU");
    EXPECT_FALSE(Sub(BlockDevice(kRrLun), "psp")->HasValue("name"));

    config.ResetPathSelectionPolicy();
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetPathSelectionPolicyName(), "QUIL_PSP_RR");
    EXPECT_FALSE(Sub(BlockDevice(kRrLun), "psp"));
}

TEST_F(MultipathHostTest, RefusedPspChangesNothing) {
    const auto before = StoreIds();
    NmpDeviceConfigImpl config(kRrLun);
    EXPECT_EQ(ErrorText([&] { config.SetPathSelectionPolicy(""); }), "Invalid PSP name.  PSP cannot be empty.");
    EXPECT_TRUE(TakeWrites().empty());
    EXPECT_EQ(ErrorText([&] { config.SetPathSelectionPolicy("QUIL_PSP_FAST"); }),
              std::string("Unable to set the path selection policy QUIL_PSP_FAST for device ") + kRrLun);
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetPathSelectionPolicyName(), "QUIL_PSP_RR");
    EXPECT_EQ(StoreIds(), before);
}

TEST_F(MultipathHostTest, AnotherVendorsPspIsRecordedByName) {
    NmpDeviceConfigImpl config(kRrLun);
    config.SetPathSelectionPolicy("PURE_PSP_LB");
    auto psp = Sub(BlockDevice(kRrLun), "psp");
    EXPECT_EQ(Text(psp, "type"), "THIRD_PARTY_PSP");
    EXPECT_EQ(Text(psp, "name"), "PURE_PSP_LB");
    EXPECT_FALSE(psp->HasValue("options"));
    auto policy = config.GetPathSelectionPolicyDeviceConfig();
    policy->SetConfigurationString("weight=3;sticky=1");
    EXPECT_EQ(policy->GetConfigurationString(), "weight=3;sticky=1");
    EXPECT_EQ(policy->GetConfiguredString(), "weight=3;sticky=1");
    EXPECT_EQ(Text(Sub(BlockDevice(kRrLun), "psp"), "options"), "weight=3;sticky=1");
    Reboot();
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetPathSelectionPolicyName(), "PURE_PSP_LB");
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetPathSelectionPolicyDeviceConfig()->GetConfigurationString(),
              "weight=3;sticky=1");
}

TEST_F(MultipathHostTest, AnInvalidSatpTokenAfterAValidOneIsRefusedAfterRecordingTheValidOne) {
    Platform::Log::Capture log;
    NmpDeviceConfigImpl config(kRrLun);
    EXPECT_EQ(ErrorText([&] { config.SetStorageArrayTypeOptionString("enable_explicit_alua frobnicate", true); }),
              "Invalid options provided for SATP QUIL_SATP_ALUA_CX");
    EXPECT_TRUE(log.Contains("Invalid option frobnicate provided for SATP QUIL_SATP_ALUA_CX"));
    auto satp = Sub(BlockDevice(kRrLun), "satp");
    ASSERT_TRUE(satp);
    EXPECT_EQ(Text(satp, "type"), "QUIL_SATP_ALUA_CX");
    bool explicitAlua = false;
    EXPECT_TRUE(satp->GetValue("explicit_alua", &explicitAlua));
    EXPECT_TRUE(explicitAlua);
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetStorageArrayTypeOptionString(false), "enable_explicit_alua frobnicate");
}

TEST_F(MultipathHostTest, SatpOptionsAreRebuiltForTheKernelAfterAReboot) {
    NmpDeviceConfigImpl(kRrLun).SetStorageArrayTypeOptionString("enable_action_OnRetryErrors", true);
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetStorageArrayTypeOptionString(true), "action_OnRetryErrors=on");
    Reboot();
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetStorageArrayTypeOptionString(false), "action_OnRetryErrors=on");
}

TEST_F(MultipathHostTest, AnotherVendorsSatpKeepsItsOptionStringVerbatim) {
    NmpDeviceConfigImpl(kVendorLun).SetStorageArrayTypeOptionString("qdepth=32 {fast,safe}", true);
    auto satp = Sub(BlockDevice(kVendorLun), "satp");
    EXPECT_EQ(Text(satp, "type"), "THIRD_PARTY_SATP");
    EXPECT_EQ(Text(satp, "name"), "PURE_SATP_AA");
    EXPECT_EQ(Text(satp, "options"), "qdepth=32 {fast,safe}");
    EXPECT_EQ(NmpDeviceConfigImpl(kVendorLun).GetStorageArrayTypeOptionString(true), "qdepth=32 {fast,safe}");
    NmpDeviceConfigImpl(kVendorLun).SetStorageArrayTypeOptionString("", true);
    EXPECT_FALSE(Sub(BlockDevice(kVendorLun), "satp")->HasValue("options"));
}

TEST_F(MultipathHostTest, SatpWithoutDeviceStringsRefusesAndNothingIsRecorded) {
    const auto before = StoreIds();
    EXPECT_EQ(ErrorText([] { NmpDeviceConfigImpl(kFixedLun).SetStorageArrayTypeOptionString("navireg_on", true); }),
              "The SATP does not support device configuration strings.");
    EXPECT_EQ(StoreIds(), before);
    // Without persistence only the kernel changes.
    NmpDeviceConfigImpl(kRrLun).SetStorageArrayTypeOptionString("navireg_on", false);
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun).GetStorageArrayTypeOptionString(false), "navireg_on");
    EXPECT_EQ(StoreIds(), before);
}

struct RoundRobinCase {
    const char* name;
    std::function<void(RoundRobinPathSelectionPolicyDeviceConfig&)> set;
    const char* kernel;
    std::map<std::string, std::string> stored;  // field -> value as text; "-" absent
};

std::string StoredField(const std::shared_ptr<ConfigStoreObject>& rr, const std::string& field) {
    if (!rr || !rr->HasValue(field))
        return "-";
    std::string s;
    long n = 0;
    bool b = false;
    if (rr->GetValue(field, &s))
        return s;
    if (rr->GetValue(field, &n))
        return std::to_string(n);
    if (rr->GetValue(field, &b))
        return b ? "true" : "false";
    return "?";
}

TEST_F(MultipathHostTest, RoundRobinSettingsTable) {
    const RoundRobinCase cases[] = {
        {"iops", [](auto& rr) { rr.SetPathSwitchIOsLimit(10); }, "policy=iops;iops=10",
         {{"policy", "IOPS"}, {"iops", "10"}}},
        {"bytes", [](auto& rr) { rr.SetPathSwitchByteLimit(4096); }, "policy=bytes;bytes=4096",
         {{"policy", "BYTES"}, {"bytes", "4096"}}},
        {"latency", [](auto& rr) { rr.SetPathSwitchLatencyBasedPolicy(); }, "policy=latency", {{"policy", "LATENCY"}}},
        {"eval", [](auto& rr) { rr.SetPathLatencyEvalTime(30000); }, "latencyEvalTime=30000",
         {{"latency_eval_time", "30000"}}},
        {"cycles", [](auto& rr) { rr.SetPathNumSamplingCycles(64); }, "samplingCycles=64",
         {{"num_sampling_cycles", "64"}}},
        {"ano", [](auto& rr) { rr.SetUseANOPaths(true); }, "useANO=1", {{"use_ano", "true"}}},
        {"defaults", [](auto& rr) { rr.SetDefaultValues(); }, "policy=rr;iops=1000;bytes=10485760;useANO=0",
         {{"policy", "DEFAULT"}, {"iops", "-"}, {"bytes", "-"}, {"use_ano", "-"}, {"latency_eval_time", "-"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        RoundRobinPathSelectionPolicyDeviceConfigImpl rr(kRrLun);
        TakeWrites();
        c.set(rr);
        auto writes = TakeWrites();
        ASSERT_EQ(writes.size(), 1u);
        EXPECT_EQ(writes[0].node, 5021u);
        EXPECT_EQ(writes[0].instance, std::vector<std::string>{kRrLun});
        EXPECT_EQ(writes[0].inputs, (std::vector<std::string>{"pspconfig", c.kernel}));
        auto stored = Sub(Sub(BlockDevice(kRrLun), "psp"), "round_robin");
        for (const auto& [field, value] : c.stored)
            EXPECT_EQ(StoredField(stored, field), value) << field;
        EXPECT_EQ(Text(Sub(BlockDevice(kRrLun), "psp"), "type"), "QUIL_PSP_RR");
    }
    RoundRobinPathSelectionPolicyDeviceConfigImpl rr(kRrLun);
    EXPECT_EQ(rr.GetPathSwitchPolicy(), "iops");
    EXPECT_EQ(rr.GetPathSwitchIOsLimit(), 1000u);
    EXPECT_EQ(rr.GetPathSwitchByteLimit(), 10485760u);
    EXPECT_FALSE(rr.GetUseANOPaths());
}

TEST_F(MultipathHostTest, RoundRobinConfigurationStringIsValidatedBeforeTheKernel) {
    RoundRobinPathSelectionPolicyDeviceConfigImpl rr(kRrLun);
    const auto before = StoreIds();
    EXPECT_EQ(ErrorText([&] { rr.SetConfigurationString("policy=iops;bytes=5"); }), "Invalid configuration for policy=iops");
    EXPECT_EQ(ErrorText([&] { rr.SetPathSwitchIOsLimit(0); }),
              std::string("Unable to set the QUIL_PSP_RR configuration of device ") + kRrLun);
    EXPECT_EQ(StoreIds(), before);
    EXPECT_EQ(TakeWrites().size(), 1u);  // only the zero limit reached the kernel
    rr.SetConfigurationString("policy=bytes;bytes=8192;useANO=1");
    EXPECT_EQ(rr.GetPathSwitchPolicy(), "bytes");
    EXPECT_EQ(rr.GetPathSwitchByteLimit(), 8192u);
    EXPECT_TRUE(rr.GetUseANOPaths());
    EXPECT_EQ(rr.GetConfiguredString(), "policy=bytes;bytes=8192;useANO=1");
}

TEST_F(MultipathHostTest, PreferredPathMustBeAPathOfTheDevice) {
    FixedPathSelectionPolicyDeviceConfigImpl fixed(kFixedLun);
    const auto before = StoreIds();
    EXPECT_EQ(ErrorText([&] { fixed.SetPreferredPath(static_cast<HostCtl::Storage::ScsiPath*>(nullptr)); }),
              "NULL or invalid path supplied to SetPreferredPath");
    EXPECT_EQ(ErrorText([&] { fixed.SetPreferredPath("hbx1:C0:T0:L0"); }),
              std::string("Path hbx1:C0:T0:L0 is not a path to the device ") + kFixedLun);
    EXPECT_EQ(ErrorText([&] { fixed.SetPreferredPath("hbx7:C0:T0:L0"); }), "hbx7:C0:T0:L0 is not a valid path");
    EXPECT_TRUE(TakeWrites().empty());
    EXPECT_EQ(StoreIds(), before);
    EXPECT_EQ(fixed.GetPreferredPathRuntimeName(), "");
    // A round-robin device has no preferred path to set.
    EXPECT_EQ(ErrorText([] { FixedPathSelectionPolicyDeviceConfigImpl(kRrLun).SetPreferredPath("hbx1:C0:T0:L0"); }),
              "The PSP does not support preferred paths.");
    EXPECT_EQ(StoreIds(), before);
}

TEST_F(MultipathHostTest, PreferredPathIsRecordedByUidAndCleared) {
    FixedPathSelectionPolicyDeviceConfigImpl fixed(kFixedLun);
    fixed.SetPreferredPath(kFixedP1);
    auto writes = TakeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].instance, (std::vector<std::string>{kFixedLun, kFixedP1}));
    EXPECT_EQ(writes[0].inputs, (std::vector<std::string>{"pspconfig", "preferred"}));
    const std::string uid = TarnCtl::Storage::ScsiPathImpl(kFixedP1).GetIdentifier();
    EXPECT_EQ(fixed.GetPreferredPathRuntimeName(), kFixedP1);
    EXPECT_EQ(fixed.GetPreferredPathUid(), uid);
    EXPECT_EQ(fixed.GetPreferredPathConfiguredName(), uid);
    EXPECT_EQ(Text(Sub(BlockDevice(kFixedLun), "psp"), "type"), "QUIL_PSP_FIXED");
    EXPECT_EQ(Text(BlockDevice(kFixedLun), "plugin"), "NMP");
    EXPECT_EQ(fixed.GetActivePathRuntimeName(), kFixedP1);
    fixed.ClearPreferredPath();
    EXPECT_EQ(fixed.GetPreferredPathConfiguredName(), "");
    EXPECT_FALSE(Sub(BlockDevice(kFixedLun), "psp")->HasValue("preferred_path"));
}

TEST_F(MultipathHostTest, KillingTheFixedPreferredPathMovesIoAndRestoringItMovesItBack) {
    FixedPathSelectionPolicyDeviceConfigImpl fixed(kFixedLun);
    fixed.SetPreferredPath(kFixedP1);
    NmpDeviceConfigImpl config(kFixedLun);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{kFixedP1});
    SetKernelPathState(kFixedP1, 2);
    // A path killed behind the plug-in's back is noticed on the next read.
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{kFixedP0});
    SetKernelPathState(kFixedP1, 0);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{kFixedP1});
    EXPECT_EQ(config.GetWorkingPathSetUids(),
              std::vector<std::string>{TarnCtl::Storage::ScsiPathImpl(kFixedP1).GetIdentifier()});
}

TEST_F(MultipathHostTest, PullingAPathOfTheFabricMovesTheWorkingPathAndRepluggingItBringsItBack) {
    FixedPathSelectionPolicyDeviceConfigImpl(kFixedLun).SetPreferredPath(kFixedP2);
    NmpDeviceConfigImpl config(kFixedLun);
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kFixedP2));
    EXPECT_EQ(TarnCtl::Storage::ScsiPathImpl(kFixedP2).GetStateString(), "dead");
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{kFixedP0});
    EXPECT_EQ(FixedPathSelectionPolicyDeviceConfigImpl(kFixedLun).GetActivePathRuntimeName(), kFixedP0);
    ASSERT_TRUE(TarnSim::StoragePaths::RestorePath(kFixedP2));
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{kFixedP2});
    EXPECT_FALSE(TarnSim::StoragePaths::FailPath("hbx9:C0:T0:L0"));
    EXPECT_FALSE(TarnSim::StoragePaths::RestorePath("hbx9:C0:T0:L0"));
    // A dead path cannot be switched on by hand.
    ASSERT_TRUE(TarnSim::StoragePaths::FailPath(kFixedP0));
    EXPECT_EQ(ErrorText([] { TarnCtl::Storage::ScsiPathImpl(kFixedP0).SetState(HostCtl::Storage::ScsiPath::ACTIVE); }),
              "Invalid state");
}

TEST_F(MultipathHostTest, MostRecentlyUsedStaysOnItsPathAfterTheOldOneReturns) {
    NmpDeviceConfigImpl config(kRrLun);
    config.SetPathSelectionPolicy("QUIL_PSP_MRU");
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{"hbx1:C0:T0:L0"});
    TarnCtl::Storage::ScsiPathImpl("hbx1:C0:T0:L0").SetState(HostCtl::Storage::ScsiPath::OFF);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{"hbx2:C0:T0:L0"});
    TarnCtl::Storage::ScsiPathImpl("hbx1:C0:T0:L0").SetState(HostCtl::Storage::ScsiPath::ACTIVE);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{"hbx2:C0:T0:L0"});
}

TEST_F(MultipathHostTest, RoundRobinUsesEveryLiveOptimizedPath) {
    NmpDeviceConfigImpl config(kRrLun);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(),
              (std::vector<std::string>{"hbx1:C0:T0:L0", "hbx2:C0:T0:L0", "hbx2:C0:T1:L0"}));
    SetKernelPathState("hbx2:C0:T0:L0", 2);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), (std::vector<std::string>{"hbx1:C0:T0:L0", "hbx2:C0:T1:L0"}));
    RoundRobinPathSelectionPolicyDeviceConfigImpl(kRrLun).SetUseANOPaths(true);
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(),
              (std::vector<std::string>{"hbx1:C0:T0:L0", "hbx2:C0:T1:L0", "hbx1:C0:T1:L0"}));
    RoundRobinPathSelectionPolicyDeviceConfigImpl(kRrLun).SetUseANOPaths(false);
    SetKernelPathState("hbx1:C0:T0:L0", 2);
    SetKernelPathState("hbx2:C0:T1:L0", 2);
    // With no optimized path left the unoptimized one carries the I/O.
    EXPECT_EQ(config.GetWorkingPathSetRuntimeNames(), std::vector<std::string>{"hbx1:C0:T1:L0"});
}

TEST_F(MultipathHostTest, PspRoundRobinLimitAndPreferredPathSurviveAReboot) {
    NmpDeviceConfigImpl(kRrLun2).SetPathSelectionPolicy("QUIL_PSP_MRU");
    RoundRobinPathSelectionPolicyDeviceConfigImpl(kRrLun).SetPathSwitchIOsLimit(10);
    FixedPathSelectionPolicyDeviceConfigImpl(kFixedLun).SetPreferredPath(kFixedP2);
    Reboot();
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun2).GetPathSelectionPolicyName(), "QUIL_PSP_MRU");
    RoundRobinPathSelectionPolicyDeviceConfigImpl rr(kRrLun);
    EXPECT_EQ(rr.GetPathSwitchPolicy(), "iops");
    EXPECT_EQ(rr.GetPathSwitchIOsLimit(), 10u);
    FixedPathSelectionPolicyDeviceConfigImpl fixed(kFixedLun);
    EXPECT_EQ(fixed.GetPreferredPathRuntimeName(), kFixedP2);
    EXPECT_EQ(NmpDeviceConfigImpl(kFixedLun).GetWorkingPathSetRuntimeNames(), std::vector<std::string>{kFixedP2});
}

TEST_F(MultipathHostTest, BootReplayLogsEachFailureAndGoesOn) {
    NmpDeviceConfigImpl(kRrLun2).SetPathSelectionPolicy("QUIL_PSP_MRU");
    RoundRobinPathSelectionPolicyDeviceConfigImpl(kRrLun).SetPathSwitchIOsLimit(10);
    FixedPathSelectionPolicyDeviceConfigImpl(kFixedLun).SetPreferredPath(kFixedP2);
    const auto before = StoreIds();
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    TarnSim::InjectFault({"nmp", KSI_NMP_NODE_PSP_DEVICE, "QUIL_PSP_MRU", TARN_FAILURE, 1});
    TarnSim::InjectFault({"nmp", KSI_NMP_NODE_CONFIG, std::string(kFixedLun) + "/" + kFixedP2, TARN_FAILURE, 1});
    TarnSim::InjectFault({"nmp", KSI_NMP_NODE_CONFIG, kRrLun, TARN_FAILURE, 1});
    Platform::Log::Capture log;
    Platform::Boot::RunBoot();
    EXPECT_TRUE(log.Contains(std::string("NmpDeviceConfigImpl: Unable to Set Policy: QUIL_PSP_MRU for the device ") +
                             kRrLun2 + ": Unable to set the path selection policy QUIL_PSP_MRU for device " + kRrLun2));
    EXPECT_TRUE(log.Contains(std::string("FixedPathSelectionPolicy: Failed to set PSP config for PSP Fixed on device ") +
                             kFixedLun + " : Unable to set the preferred path of device " + kFixedLun));
    EXPECT_TRUE(log.Contains(std::string("RoundRobinPathSelectionPolicy: Failed to set PSP config for PSP RR on device ") +
                             kRrLun + ": Unable to set the QUIL_PSP_RR configuration of device " + kRrLun));
    EXPECT_EQ(log.Count("Failed to add complete NMP configuration for device  to tarnos"), 3u);
    EXPECT_EQ(NmpDeviceConfigImpl(kRrLun2).GetPathSelectionPolicyName(), "QUIL_PSP_RR");
    EXPECT_EQ(RoundRobinPathSelectionPolicyDeviceConfigImpl(kRrLun).GetPathSwitchIOsLimit(), 1000u);
    // Boot replays; the records stay as they were for the next boot.
    EXPECT_EQ(StoreIds(), before);
}

TEST_F(MultipathHostTest, SettersInBootModeWriteTheKernelAndRecordNothing) {
    const struct {
        const char* name;
        std::function<void()> set;
        std::function<bool()> applied;
    } cases[] = {
        {"psp", [] { NmpDeviceConfigImpl(kRrLun2).SetPathSelectionPolicy("QUIL_PSP_MRU"); },
         [] { return NmpDeviceConfigImpl(kRrLun2).GetPathSelectionPolicyName() == "QUIL_PSP_MRU"; }},
        {"satp options", [] { NmpDeviceConfigImpl(kRrLun).SetStorageArrayTypeOptionString("navireg_on", true); },
         [] { return NmpDeviceConfigImpl(kRrLun).GetStorageArrayTypeOptionString(false) == "navireg_on"; }},
        {"iops", [] { RoundRobinPathSelectionPolicyDeviceConfigImpl(kRrLun).SetPathSwitchIOsLimit(7); },
         [] { return RoundRobinPathSelectionPolicyDeviceConfigImpl(kRrLun).GetPathSwitchIOsLimit() == 7; }},
        {"preferred", [] { FixedPathSelectionPolicyDeviceConfigImpl(kFixedLun).SetPreferredPath(kFixedP2); },
         [] { return FixedPathSelectionPolicyDeviceConfigImpl(kFixedLun).GetPreferredPathRuntimeName() == kFixedP2; }},
        {"path satp string",
         [] { TarnCtl::Storage::ScsiPathImpl("hbx1:C0:T0:L0").GetScsiPathConfig()->SetStorageArrayTypeConfigString("a=1"); },
         [] { return TarnCtl::Storage::ScsiPathImpl("hbx1:C0:T0:L0").GetScsiPathConfig()->GetStorageArrayTypeConfigString() == "a=1"; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto before = StoreIds();
        Store()->SetBootMode(true);
        c.set();
        Store()->SetBootMode(false);
        EXPECT_TRUE(c.applied());
        EXPECT_EQ(StoreIds(), before);
    }
}

}  // namespace
}  // namespace MultipathTest
