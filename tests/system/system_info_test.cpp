// The system object against a simulated host: UUIDs, boot facts, version,
// the hardware clock, maintenance mode, log levels, clock limits, dump
// switches, user variables and the read-cache switch.
#include <uuid/uuid.h>

#include <regex>

#include "hostctl/exception.h"
#include "ksi/system.h"
#include "platform/configfile.h"
#include "platform/hostroot.h"
#include "platform/kevt.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "system_fixture.h"

namespace SystemTest {
namespace {

using namespace HostCtl::System;

std::string ConfigValue(const std::string& key) {
    TarnCtl::Config::SynchronizedConfigFile f;
    std::string v;
    f->GetValue(key, &v);
    return v;
}

// ---- Identity ------------------------------------------------------------------

TEST_F(SystemHostTest, SystemUuidIsNotConfiguredUntilGenerated) {
    EXPECT_FALSE(system.HasSystemUuid());
    EXPECT_EQ(ErrorOf([&] { system.GetSystemUuid(false); }), "UUID is not configured");
    EXPECT_EQ(ConfigValue("/system/uuid"), "");

    SoftwareUuid made = system.GetSystemUuid(true);
    uuid_t parsed;
    ASSERT_EQ(uuid_parse(made.text.c_str(), parsed), 0);
    char oracle[37];
    uuid_unparse_lower(made.bytes, oracle);
    EXPECT_EQ(made.text, oracle);
    EXPECT_EQ(ConfigValue("/system/uuid"), made.text);
    EXPECT_TRUE(system.HasSystemUuid());
    // Later calls, generating or not, return the recorded one.
    EXPECT_EQ(system.GetSystemUuid(true).text, made.text);
    EXPECT_EQ(TarnCtl::System::SystemInfoImpl().GetSystemUuid(false).text, made.text);
}

TEST_F(SystemHostTest, TarnosUuidComesFromTheKernelAndIsSetFromTheSystemUuid) {
    EXPECT_EQ(system.GetTarnosUuid().text, "4c4c4544-0042-3510-8052-b4c04f4d3232");
    EXPECT_EQ(ErrorOf([&] { system.SetTarnosUuid(false); }), "UUID is not configured");
    EXPECT_EQ(system.GetTarnosUuid().text, "4c4c4544-0042-3510-8052-b4c04f4d3232");
    system.SetTarnosUuid(true);
    SoftwareUuid uuid = system.GetSystemUuid(false);
    auto raw = Record<Ksi::System::Uuid>(KSI_NODE_system_systemUuid);
    EXPECT_TRUE(std::equal(std::begin(uuid.bytes), std::end(uuid.bytes), raw.bytes));
    EXPECT_EQ(system.GetTarnosUuid().text, uuid.text);
}

TEST_F(SystemHostTest, GenerationFailureRecordsNothing) {
    Fault(KSI_NODE_system_generateUuid, TARN_BUSY);
    EXPECT_NE(ErrorOf([&] { system.GetSystemUuid(true); }), "");
    EXPECT_FALSE(system.HasSystemUuid());
}

TEST_F(SystemHostTest, StoredUuidTextIsParsedBack) {
    system.SetUserVar("x", "1");  // the file exists with other values too
    {
        TarnCtl::Config::SynchronizedConfigFile f;
        f->SetValue("/system/uuid", std::string("0A0B0C0D-0E0F-1011-1213-141516171819"));
        f.Write();
    }
    SoftwareUuid u = system.GetSystemUuid(false);
    EXPECT_EQ(u.text, "0a0b0c0d-0e0f-1011-1213-141516171819");
    EXPECT_EQ(u.bytes[0], 0x0a);
    EXPECT_EQ(u.bytes[15], 0x19);
}

// ---- Boot facts -------------------------------------------------------------------

TEST_F(SystemHostTest, BootFactsOfTheDefaultHost) {
    EXPECT_EQ(system.GetBootNicMacAddress(), "01-00-1b-21-0a-4c-00");
    EXPECT_EQ(system.GetStatelessBootNicMacAddress(), "");
    EXPECT_EQ(system.GetBootFsUUID(), "2e1c3a5f-807f6d4b-a291-b3c4d5e6f708");
    EXPECT_EQ(system.GetBootVolume(), "/kdfs/volumes/2e1c3a5f-807f6d4b-a291-b3c4d5e6f708");
    EXPECT_EQ(system.GetBootCommandLine(),
              "runweasel tarnLogLevel=info encryptionRecoveryKey=XXXXXX-XXXXXX autoPartition=FALSE");
    EXPECT_FALSE(system.IsSystemBootFailureDetected());
    EXPECT_TRUE(system.IsPxeBooted());
    EXPECT_TRUE(system.IsRegularStatefulBooted());
    BootOptions o = system.GetBootOptions();
    EXPECT_TRUE(o.noAutoPartition);
    EXPECT_FALSE(o.allowLegacyCpu);
    EXPECT_FALSE(o.ignoreHeadless);
}

void SetCommandLine(const std::string& text) {
    TarnSim::WithState(
        [&](TarnSim::KernelState& s) { s.Write("", KSI_NODE_system_bootCmdLine, {}, text.c_str(), text.size() + 1); },
        true);
}

TEST_F(SystemHostTest, StatelessAndStatefulBootsAreReadFromTheRawCommandLine) {
    SetCommandLine("a statelessCacheBoot encryptionRecoveryKey=123456");
    EXPECT_TRUE(system.IsHollinStatelessCacheBooted());
    EXPECT_FALSE(system.IsHollinStatefulInstallBooted());
    EXPECT_FALSE(system.IsPxeBooted());
    EXPECT_FALSE(system.IsRegularStatefulBooted());
    SetCommandLine("statefulInstallBoot");
    EXPECT_FALSE(system.IsHollinStatelessCacheBooted());
    EXPECT_TRUE(system.IsHollinStatefulInstallBooted());
    EXPECT_FALSE(system.IsPxeBooted());
}

TEST_F(SystemHostTest, BootVolumeIsEmptyWhenTheUuidCannotBeRead) {
    Fault(KSI_NODE_system_bootFsUUID, TARN_FAILURE);
    Platform::Log::Capture capture;
    EXPECT_EQ(system.GetBootVolume(), "");
    EXPECT_TRUE(capture.Contains("TarnCtl: Unable to get boot filesystem uuid: ", Platform::Log::Level::Warning));
    Fault(KSI_NODE_system_bootFsUUID, TARN_FAILURE);
    EXPECT_FALSE(system.IsRegularStatefulBooted());
}

TEST_F(SystemHostTest, VersionOfTheRunningSystemAndOfTheAlternateBootSlot) {
    TarnVersion running = system.GetTarnVersion(TARN_VERSION_RUNNING);
    EXPECT_EQ(running.product, "Quillon Halden");
    EXPECT_EQ(running.version, "8.0.0");
    EXPECT_EQ(running.build, "24022510");
    EXPECT_EQ(running.release, "Release");
    EXPECT_EQ(running.patch, "0.20");
    TarnVersion alt = system.GetTarnVersion(TARN_VERSION_ALT_BOOT_BANK);
    EXPECT_EQ(alt.version, "8.0.0");
    EXPECT_EQ(alt.patch, "0.10");
    EXPECT_EQ(alt.build, "23825572");
    TarnVersion none = system.GetTarnVersion(static_cast<TarnVersionSource>(3));
    EXPECT_TRUE(none.product.empty() && none.version.empty() && none.build.empty());
}

TEST_F(SystemHostTest, AlternateBootSlotWithoutFileOrBuildLine) {
    HostCtl::Misc::WriteHostFileAtomic("/altbootslot/boot.cfg", "title=x\nkernel=/b.b00\n");
    EXPECT_TRUE(system.GetTarnVersion(TARN_VERSION_ALT_BOOT_BANK).version.empty());
    ::unlink(Platform::HostPath("/altbootslot/boot.cfg").c_str());
    EXPECT_EQ(ErrorOf([&] { system.GetTarnVersion(TARN_VERSION_ALT_BOOT_BANK); }),
              "No alternate bootslot version exists");
}

// ---- Hardware clock ----------------------------------------------------------------

TEST_F(SystemHostTest, ClockIsWrittenMonthDayYearHourMinuteSecond) {
    RecordingBackend recorder;
    system.SetRtcDateTime({7, 3, 2027, 4, 5, 6});  // day, month, year, hour, minute, second
    auto sets = recorder.SetsOf(KSI_NODE_hardware_chipset_rtc);
    ASSERT_EQ(sets.size(), 1u);
    std::vector<int64_t> written;
    for (const auto& p : sets[0].inputs) written.push_back(p.number);
    EXPECT_EQ(written, (std::vector<int64_t>{3, 7, 2027, 4, 5, 6}));
    RtcDateTime back = system.GetRtcDateTime();
    EXPECT_EQ(back.day, 7u);
    EXPECT_EQ(back.month, 3u);
    EXPECT_EQ(back.year, 2027u);
    EXPECT_EQ(back.hour, 4u);
    EXPECT_EQ(back.minute, 5u);
    EXPECT_EQ(back.second, 6u);
}

TEST_F(SystemHostTest, ClockFaultsAreGatheredAndNothingIsWritten) {
    RecordingBackend recorder;
    EXPECT_EQ(ErrorOf([&] { system.SetRtcDateTime({0, 13, 2027, 0, 0, 0}); }),
              "Day is out of range (1-31). Month is out of range (1-12). ");
    EXPECT_EQ(ErrorOf([&] { system.SetRtcDateTime({1, 1, 1969, 24, 0, 60}); }),
              "Epoch is 1970, no dates before 1970 allowed. Hour is out of range (0-23). Second is out of range "
              "(0-59). ");
    EXPECT_TRUE(recorder.SetsOf(KSI_NODE_hardware_chipset_rtc).empty());
    EXPECT_EQ(system.GetRtcDateTime().year, 2026u);
}

TEST_F(SystemHostTest, ClockDayRollsOverBeforeItIsWritten) {
    system.SetRtcDateTime({31, 4, 2027, 12, 0, 0});  // 31 April
    RtcDateTime t = system.GetRtcDateTime();
    EXPECT_EQ(t.day, 1u);
    EXPECT_EQ(t.month, 5u);
}

TEST_F(SystemHostTest, ClockKernelFailures) {
    Fault(KSI_NODE_hardware_chipset_rtc, TARN_BUSY);
    EXPECT_EQ(ErrorOf([&] { system.SetRtcDateTime({1, 1, 2027, 0, 0, 0}); }),
              "Unable to set time, please verify all values.");
    Fault(KSI_NODE_hardware_chipset_rtc, TARN_BUSY);
    EXPECT_EQ(ErrorOf([&] { system.GetRtcDateTime(); }), "Unable to get RTC value, time unavailable");
    EXPECT_EQ(system.GetRtcDateTime().day, 6u);
}

// ---- Maintenance mode -----------------------------------------------------------------

TEST_F(SystemHostTest, OnlyEnterAndExitMayBeRequested) {
    for (uint32_t bad : {0u, 3u, 4u}) {
        EXPECT_EQ(ErrorOf([&] { system.SetMaintenanceModeState(static_cast<MaintenanceMode>(bad)); }),
                  "Invalid Maintenance Mode State Requested");
    }
    EXPECT_EQ(Record<uint32_t>(KSI_NODE_system_maintenanceMode), 2u);
    EXPECT_EQ(StoreObject("maintenance_mode", "maintenance"), nullptr);
}

TEST_F(SystemHostTest, EnterAndExitGoToKernelAndStore) {
    system.SetMaintenanceModeState(MAINTENANCE_MODE_ENABLED);
    EXPECT_EQ(system.GetMaintenanceModeState(), MAINTENANCE_MODE_ENABLED);
    unsigned int state = 0;
    ASSERT_TRUE(StoreObject("maintenance_mode", "maintenance")->GetValue("state", &state));
    EXPECT_EQ(state, 1u);
    system.SetMaintenanceModeState(MAINTENANCE_MODE_DISABLED);
    EXPECT_EQ(Record<uint32_t>(KSI_NODE_system_maintenanceMode), 2u);
    StoreObject("maintenance_mode", "maintenance")->GetValue("state", &state);
    EXPECT_EQ(state, 2u);
}

TEST_F(SystemHostTest, KernelRefusalOfMaintenanceModeRecordsNothing) {
    Fault(KSI_NODE_system_maintenanceMode, TARN_BUSY);
    EXPECT_NE(ErrorOf([&] { system.SetMaintenanceModeState(MAINTENANCE_MODE_ENABLED); }), "");
    EXPECT_EQ(StoreObject("maintenance_mode", "maintenance"), nullptr);
    EXPECT_EQ(system.GetMaintenanceModeState(), MAINTENANCE_MODE_DISABLED);
}

TEST_F(SystemHostTest, KernelReadingsAboveThreeAreReportedAsThree) {
    for (auto [raw, seen] : std::vector<std::pair<uint32_t, MaintenanceMode>>{
             {0, MAINTENANCE_MODE_NONE}, {3, MAINTENANCE_MODE_UNKNOWN}, {4, MAINTENANCE_MODE_UNKNOWN},
             {0xffffffffu, MAINTENANCE_MODE_UNKNOWN}}) {
        PutRecord<uint32_t>(KSI_NODE_system_maintenanceMode, raw);
        EXPECT_EQ(system.GetMaintenanceModeState(), seen) << raw;
    }
}

TEST_F(SystemHostTest, PartialMaintenanceModesAreListedFromTheStore) {
    EXPECT_FALSE(system.IsPartialMaintenanceModeEnabled("storage-cluster"));
    EXPECT_TRUE(system.ListPartialMaintenanceModeInfo().empty());
    system.SetPartialMaintenanceModeStatus("storage-cluster", true);
    system.SetPartialMaintenanceModeStatus("overlay", false);
    system.SetPartialMaintenanceModeStatus("storage-cluster", false);
    system.SetPartialMaintenanceModeStatus("quick", true);
    EXPECT_TRUE(system.IsPartialMaintenanceModeEnabled("quick"));
    EXPECT_FALSE(system.IsPartialMaintenanceModeEnabled("storage-cluster"));
    auto list = system.ListPartialMaintenanceModeInfo();
    ASSERT_EQ(list.size(), 3u);
    std::map<std::string, bool> seen;
    for (const auto& p : list) seen[p.id] = p.enabled;
    EXPECT_EQ(seen, (std::map<std::string, bool>{{"overlay", false}, {"quick", true}, {"storage-cluster", false}}));
    std::string id;
    StoreObject("partial_maintenance_modes", "maintenance", "quick")->GetValue("id", &id);
    EXPECT_EQ(id, "quick");
    EXPECT_EQ(ErrorOf([&] { system.SetPartialMaintenanceModeStatus("", true); }),
              "Invalid partial maintenance mode id: cannot be empty");
    EXPECT_EQ(system.ListPartialMaintenanceModeInfo().size(), 3u);
}

// ---- Log levels --------------------------------------------------------------------------

TEST_F(SystemHostTest, LogLevelsAreListedSetAndReset) {
    EXPECT_EQ(system.GetLogLevelNames(), (std::vector<std::string>{"Misc", "Net", "Sched", "Storage", "Timer"}));
    system.SetLogLevel("Storage", 5);
    LogLevel l = system.GetLogLevel("Storage");
    EXPECT_EQ(l.name, "Storage");
    EXPECT_EQ(l.level, 5u);
    EXPECT_EQ(l.defaultLevel, 1u);
    auto all = system.GetAllLogLevels();
    ASSERT_EQ(all.size(), 5u);
    EXPECT_EQ(all[3].level, 5u);
    system.SetDefaultLogLevel("Storage");
    EXPECT_EQ(system.GetLogLevel("Storage").level, 1u);
}

TEST_F(SystemHostTest, UnknownLoggerIsRefused) {
    EXPECT_EQ(ErrorOf([&] { system.SetLogLevel("Nope", 1); }), "Unable to set Tarnos LOG level");
    EXPECT_NE(ErrorOf([&] { system.GetLogLevel("Nope"); }), "");
    Fault(KSI_NODE_system_loglevels, TARN_BUSY);
    EXPECT_EQ(ErrorOf([&] { system.SetLogLevel("Misc", 2); }), "Unable to set Tarnos LOG level");
    EXPECT_EQ(system.GetLogLevel("Misc").level, 0u);
}

// ---- Clock discipline limits ---------------------------------------------------------------

TEST_F(SystemHostTest, PhaseLimitsRoundTrip) {
    system.SetClockMaxNegPhase(900);
    system.SetClockMaxPosPhase(0);
    EXPECT_EQ(system.GetClockMaxNegPhase(), 900);
    EXPECT_EQ(system.GetClockMaxPosPhase(), 0);
    EXPECT_EQ(ErrorOf([&] { system.SetClockMaxNegPhase(-1); }),
              "Can not set clock max negative phase correction to -1: Bad parameter");
    EXPECT_EQ(system.GetClockMaxNegPhase(), 900);
    Fault(KSI_NODE_system_ntpclock_maxPosPhaseCorrection, TARN_BUSY);
    EXPECT_EQ(ErrorOf([&] { system.GetClockMaxPosPhase(); }), "Can not get clock max positive phase correction: Busy");
}

TEST_F(SystemHostTest, CorrectionCountMayNotFallBelowTheCurrentCount) {
    // The default host has made one large correction.
    EXPECT_EQ(ErrorOf([&] { system.SetClockMaxPhaseCorrections(0); }),
              "Max number of large phase corrections 0 is less than the current number of phase corrections 1");
    EXPECT_EQ(system.GetClockMaxPhaseCorrections(), 4);
    system.SetClockMaxPhaseCorrections(1);
    EXPECT_EQ(system.GetClockMaxPhaseCorrections(), 1);
    Fault(KSI_NODE_system_ntpclock_maxLargeCorrections, TARN_BUSY);
    EXPECT_EQ(ErrorOf([&] { system.SetClockMaxPhaseCorrections(7); }),
              "Can not set maximum number of phase corrections allowed to 7: Busy");
    EXPECT_EQ(system.GetClockMaxPhaseCorrections(), 1);
}

// ---- Dumps, debugging, alerts ------------------------------------------------------------------

TEST_F(SystemHostTest, DumpAndDebugSwitches) {
    system.SetTarnosDumpEnabled(false);
    EXPECT_FALSE(system.GetTarnosDumpEnabled());
    system.SetDebugTerminalEnabled(true);
    EXPECT_TRUE(system.GetDebugTerminalEnabled());
    // A world follows the global switch until it has its own.
    system.SetCoreDumpEnabled(false);
    EXPECT_FALSE(system.GetCoreDumpEnabledForWorld(1234));
    system.SetCoreDumpEnabledForWorld(1234, true);
    EXPECT_TRUE(system.GetCoreDumpEnabledForWorld(1234));
    EXPECT_FALSE(system.GetCoreDumpEnabledForWorld(99));
    system.PerformLiveCoreDump(77);
    EXPECT_EQ(Record<uint32_t>(KSI_NODE_system_debugging_performLiveCoreDump), 77u);
}

TEST_F(SystemHostTest, LiveDumpOnPanicGlobalOrPerWorld) {
    system.LiveCoreDumpOnWorldPanic(0, 1);
    EXPECT_EQ(Record<uint32_t>(KSI_NODE_system_debugging_liveCoreDumpOnWorldPanic), 1u);
    system.LiveCoreDumpOnWorldPanic(42, 0);
    std::string text;
    TarnSim::WithState([&](TarnSim::KernelState& s) {
        if (auto* r = s.Find("", KSI_NODE_world_livedumptarnos, {"42"})) text = r->c_str();
    });
    EXPECT_EQ(text, "disabled");
    Fault(KSI_NODE_world_livedumptarnos, TARN_NOT_FOUND);
    EXPECT_EQ(ErrorOf([&] { system.LiveCoreDumpOnWorldPanic(43, 1); }),
              "Unable to set Live Dump on World Panic: Not found");
}

TEST_F(SystemHostTest, SystemAlertAndDumpEvents) {
    system.SetSystemAlert("disk on fire");
    std::string alert;
    TarnSim::WithState([&](TarnSim::KernelState& s) { alert = s.Find("", KSI_NODE_system_sysAlert, {})->c_str(); });
    EXPECT_EQ(alert, "disk on fire");
    Fault(KSI_NODE_system_sysAlert, TARN_BUSY);
    EXPECT_EQ(ErrorOf([&] { system.SetSystemAlert("x"); }), "Unable to set system alert: Busy");

    system.SendKevtWhenDumpConfigurationChanged(true);
    system.SendKevtWhenDumpConfigurationChanged(false);
    auto events = Platform::Kevt::ReadLog();
    ASSERT_EQ(events.size(), 2u);
    EXPECT_NE(events[0].find("kevt.user.coredump.configured2)At least one coredump target is enabled."), std::string::npos);
    EXPECT_NE(events[1].find("kevt.user.coredump.unconfigured2)No coredump target is enabled."), std::string::npos);
}

// ---- Hardware facts ---------------------------------------------------------------------------

TEST_F(SystemHostTest, HardwareFactsAndTheirInvalidReadings) {
    EXPECT_EQ(system.GetIpmiSupport(), IPMI_SUPPORTED);
    EXPECT_EQ(system.GetIOMMUType(), IOMMU_INTEL_VTD);
    EXPECT_EQ(system.GetDMAPolicy(), DMA_POLICY_DEFAULT);
    EXPECT_TRUE(system.IsDMAREnabled());
    EXPECT_FALSE(system.IsIommuNestedSupported());
    EXPECT_TRUE(system.GetAPEISupport());
    EXPECT_EQ(system.GetSupportedVMs(), 1024u);
    EXPECT_EQ(system.GetVMLimitsInfo().maxVcpusPerVm, 768u);
    EXPECT_EQ(system.GetCbrcOverheadPerVmdk(), 1048576);
    PutRecord<uint32_t>(KSI_NODE_hardware_ipmiSupport, 0);
    EXPECT_EQ(system.GetIpmiSupport(), IPMI_NOT_SUPPORTED);
    PutRecord<uint32_t>(KSI_NODE_hardware_ipmiSupport, 2);
    EXPECT_EQ(ErrorOf([&] { system.GetIpmiSupport(); }), "Invalid IPMI support state");
    PutRecord<uint32_t>(KSI_NODE_hardware_iov_iommuType, 2);
    EXPECT_EQ(system.GetIOMMUType(), IOMMU_AMD_VI);
    PutRecord<uint32_t>(KSI_NODE_hardware_iov_iommuType, 3);
    EXPECT_EQ(ErrorOf([&] { system.GetIOMMUType(); }), "Invalid IOMMU Type");
    PutRecord<uint32_t>(KSI_NODE_system_dma_policy, 2);
    EXPECT_EQ(system.GetDMAPolicy(), DMA_POLICY_RELAXED);
    PutRecord<uint32_t>(KSI_NODE_system_dma_policy, 3);
    EXPECT_EQ(ErrorOf([&] { system.GetDMAPolicy(); }), "Invalid DMA Policy");
}

// ---- Host configuration file ---------------------------------------------------------------------

TEST_F(SystemHostTest, UserVariablesLiveInTheHostConfigurationFile) {
    EXPECT_FALSE(system.HasUserVar("site"));
    system.SetUserVar("site", "north");
    EXPECT_TRUE(system.HasUserVar("site"));
    EXPECT_EQ(system.GetUserVar("site"), "north");
    EXPECT_NE(TarnTest::ReadHost("/etc/tarn/tarn.conf").find("/system/uservars/site = \"north\""), std::string::npos);
    system.DelUserVar("site");
    EXPECT_FALSE(system.HasUserVar("site"));
    EXPECT_EQ(TarnTest::ReadHost("/etc/tarn/tarn.conf").find("site"), std::string::npos);
}

TEST_F(SystemHostTest, UserVariableNamesAreCheckedFirst) {
    for (auto op : std::vector<std::function<void(const std::string&)>>{
             [&](const std::string& n) { system.HasUserVar(n); }, [&](const std::string& n) { system.GetUserVar(n); },
             [&](const std::string& n) { system.SetUserVar(n, "v"); }, [&](const std::string& n) { system.DelUserVar(n); }}) {
        EXPECT_EQ(ErrorOf([&] { op(""); }), "Invalid user variable name: cannot be empty");
        EXPECT_EQ(ErrorOf([&] { op("/x"); }), "Invalid user variable name: cannot start with '/'");
    }
    EXPECT_EQ(TarnTest::ReadHost("/etc/tarn/tarn.conf").find("uservars"), std::string::npos);
}

TEST_F(SystemHostTest, InceptionIsRecordedOnce) {
    EXPECT_EQ(ErrorOf([&] { system.GetInceptionTimestamp(); }), "Inception timestamp has not been set.");
    Platform::Log::Capture capture;
    system.SetInceptionTimestamp();
    std::string first = system.GetInceptionTimestamp();
    EXPECT_TRUE(std::regex_match(first, std::regex("\\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}"))) << first;
    EXPECT_TRUE(capture.Contains("System: inception date set to: " + first, Platform::Log::Level::Info));
    {
        TarnCtl::Config::SynchronizedConfigFile f;
        f->SetValue("/system/inception", std::string("2001-01-01T00:00:00"));
        f.Write();
    }
    system.SetInceptionTimestamp();
    EXPECT_EQ(system.GetInceptionTimestamp(), "2001-01-01T00:00:00");
    EXPECT_EQ(system.GetConfigFileValue("/system/inception"), "2001-01-01T00:00:00");
    EXPECT_EQ(system.GetConfigFileValue("/system/none"), "");
}

TEST_F(SystemHostTest, VislLocation) {
    EXPECT_EQ(system.GetVislVMLocation(), "");
    system.SetVislVMLocation("/kdfs/volumes/ds1/visl");
    EXPECT_EQ(system.GetVislVMLocation(), "/kdfs/volumes/ds1/visl");
    EXPECT_EQ(system.GetConfigFileValue("/system/visl/VMlocation"), "/kdfs/volumes/ds1/visl");
}

// ---- Read cache ------------------------------------------------------------------------------------

TEST_F(SystemHostTest, ReadCacheNeedsItsModule) {
    EXPECT_EQ(ErrorOf([&] { system.SetCbrcEnabled(true); }),
              "CBRC module is not loaded, cannot enable disable it. Please see Tarnos.log for details");
    EXPECT_EQ(StoreObject("CBRC"), nullptr);
    EXPECT_FALSE(system.GetCbrcRuntimeEnabled());
}

TEST_F(SystemHostTest, ReadCacheSwitchesKernelAndStoreTogether) {
    LoadModule("cbrc_filter_2");
    Platform::Log::Capture capture;
    system.SetCbrcEnabled(true);
    EXPECT_TRUE(capture.Contains("CBRC object not found in config store, creating a new object."));
    EXPECT_TRUE(system.GetCbrcRuntimeEnabled());
    bool enabled = false;
    ASSERT_TRUE(StoreObject("CBRC")->GetValue("enable", &enabled));
    EXPECT_TRUE(enabled);
    EXPECT_TRUE(system.GetCbrcConfiguredEnabled());
    EXPECT_EQ(TarnCtl::System::SystemStore()->GetBootStatus(
                  HaldenConfigStore::ConfigStoreObjectId("CBRC", "system", "halden")),
              std::optional<bool>(true));
    // Enabling twice is the kernel's refusal, and the store keeps its value.
    EXPECT_EQ(ErrorOf([&] { system.SetCbrcEnabled(true); }), "Unable to enable CBRC, CBRC already enabled");
    system.SetCbrcEnabled(false);
    EXPECT_FALSE(system.GetCbrcRuntimeEnabled());
    StoreObject("CBRC")->GetValue("enable", &enabled);
    EXPECT_FALSE(enabled);
}

TEST_F(SystemHostTest, ReadCacheKernelStatusesAreNamed) {
    LoadModule("cbrc_filter_2");
    for (auto [status, text] : std::vector<std::pair<TARN_ReturnStatus, std::string>>{
             {TARN_ALREADY_ENABLED, "Unable to enable CBRC, CBRC already enabled"},
             {TARN_MISSING_PARAMETER, "Unable to enable CBRC, missing input paramter"},
             {TARN_MODULE_NOT_LOADED, "Unable to enable CBRC, module not loaded"},
             {TARN_BUSY, "Busy"}}) {
        Fault(KSI_NODE_system_cbrc_enable, status);
        EXPECT_EQ(ErrorOf([&] { system.SetCbrcEnabled(true); }), text);
        EXPECT_EQ(StoreObject("CBRC"), nullptr) << text;
        EXPECT_FALSE(system.GetCbrcRuntimeEnabled());
    }
}

// ---- Not yet built ------------------------------------------------------------------------------------

TEST_F(SystemHostTest, OperationsOfOtherServicesSayTheyAreNotAvailable) {
    EXPECT_EQ(ErrorOf([&] { system.IsFirewallEnabled(); }), "The firewall is not available yet");
    EXPECT_EQ(ErrorOf([&] { system.GetBootPartition(); }), "The boot partition is not available yet");
    EXPECT_EQ(ErrorOf([&] { system.GetBootOptionFileData("x"); }), "Boot option file data is not available yet");
}

}  // namespace
}  // namespace SystemTest
