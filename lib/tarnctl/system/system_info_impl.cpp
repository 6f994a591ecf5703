// The system domain object: identity, boot facts, the hardware clock,
// maintenance mode, log levels, dump and debugging switches, clock discipline
// limits, the version record, host configuration file values, and the
// operations of services that are not built yet.
#include "system/system_info_impl.h"

#include <x86intrin.h>

#include <climits>
#include <cstring>
#include <ctime>
#include <fstream>

#include "adv/advanced_option_impl.h"
#include "hostctl/adv.h"
#include "hostctl/exception.h"
#include "ksi/system.h"
#include "platform/configfile.h"
#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/kevt.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "system/system_values.h"

namespace TarnCtl::System {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;
using HostCtl::Misc::StrPrintf;
using TarnCtl::Config::SynchronizedConfigFile;
using TarnCtl::Lib::SysinfoException;
using TarnCtl::Util::Sysinfo;

void NotAvailable(const std::string& what) { throw HostCtlException(what + " is not available yet"); }

std::shared_ptr<HaldenConfigStore::ConfigStore> SystemStore() {
    return HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
}

namespace {

constexpr const char* kUuidKey = "/system/uuid";
constexpr const char* kInceptionKey = "/system/inception";
constexpr const char* kUserVarsBranch = "/system/uservars/";
constexpr const char* kVislLocationKey = "/system/visl/VMlocation";
constexpr const char* kAltBootConfig = "/altbootslot/boot.cfg";

template <class T>
T ReadRecord(unsigned int node) {
    T out{};
    Sysinfo si(node);
    si.Get(&out, sizeof(out));
    return out;
}

uint32_t ReadU32(unsigned int node) { return ReadRecord<uint32_t>(node); }

std::string ReadText(unsigned int node, size_t length) {
    std::string buffer(length + 1, '\0');
    Sysinfo si(node);
    si.Get(buffer.data(), static_cast<unsigned int>(length));
    return std::string(buffer.c_str());
}

void WriteFlag(unsigned int node, bool value) {
    Sysinfo si(node);
    si.AddInput(value);
    si.Set();
}

std::string Field(const char* data, size_t size) { return std::string(data, strnlen(data, size)); }

ConfigStoreObjectId MaintenanceModeId() {
    return ConfigStoreObjectId("maintenance_mode", "maintenance", "halden");
}
ConfigStoreObjectId PartialModeId(const std::string& id) {
    return ConfigStoreObjectId("partial_maintenance_modes", "maintenance", "halden", id);
}

void CheckUserVarName(const std::string& name) {
    if (name.empty()) throw HostCtlException("Invalid user variable name: cannot be empty");
    if (name[0] == '/') throw HostCtlException("Invalid user variable name: cannot start with '/'");
}

// Kernel failure of a clock limit, reworded with the operation and the cause.
template <class Fn>
void ClockLimitCall(const std::string& failure, Fn fn) {
    try {
        fn();
    } catch (const SysinfoException& e) {
        throw HostCtlException(failure + e.what(), e.GetKevtMessage());
    }
}

void SetClockLimit(unsigned int node, int value, const char* failureFormat) {
    ClockLimitCall(StrPrintf(failureFormat, value, ""), [&] {
        Sysinfo si(node);
        si.AddInput(value);
        si.Set();
    });
}

int GetClockLimit(unsigned int node, const char* failure) {
    int value = 0;
    ClockLimitCall(failure, [&] { value = ReadRecord<int32_t>(node); });
    return value;
}

}  // namespace

// ---- Modules and services of other areas ---------------------------------------

std::unique_ptr<Module> SystemInfoImpl::GetModuleByName(const std::string&, bool) {
    NotAvailable("Kernel module objects");
}
std::vector<std::unique_ptr<Module>> SystemInfoImpl::GetLoadedModules() { NotAvailable("Kernel module objects"); }
std::vector<std::unique_ptr<Module>> SystemInfoImpl::GetModules() { NotAvailable("Kernel module objects"); }
std::vector<std::unique_ptr<ModuleNamespace>> SystemInfoImpl::GetModuleNamespacesLoaded() {
    NotAvailable("Kernel module namespaces");
}
std::vector<std::unique_ptr<KernelOption>> SystemInfoImpl::GetKernelOptions(bool) {
    NotAvailable("Kernel boot options");
}

bool SystemInfoImpl::IsModuleLoaded(const std::string& name) {
    try {
        Sysinfo si(KSI_NODE_system_modules);
        si.SetThrowOnError(false);
        return si.IsValidInstance(name);
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to read the module list: %s\n", "SystemInfo",
                           e.GetDetailedMessage().c_str());
        return false;
    }
}

std::unique_ptr<SwapInfo> SystemInfoImpl::GetSwapInfo() { NotAvailable("System swap configuration"); }
std::unique_ptr<SnmpAgentConfig> SystemInfoImpl::GetSnmpAgentConfig() { NotAvailable("SNMP agent configuration"); }
std::unique_ptr<CorelogInfo> SystemInfoImpl::GetCorelogInfo() { NotAvailable("Syslog configuration"); }
std::unique_ptr<NtpAgentConfig> SystemInfoImpl::GetNtpAgentConfig() { NotAvailable("NTP configuration"); }
std::unique_ptr<PtpAgentConfig> SystemInfoImpl::GetPtpAgentConfig() { NotAvailable("PTP configuration"); }
std::unique_ptr<SshServerConfig> SystemInfoImpl::GetSshServerConfig() { NotAvailable("SSH server configuration"); }
std::unique_ptr<SshClientConfig> SystemInfoImpl::GetSshClientConfig() { NotAvailable("SSH client configuration"); }
std::unique_ptr<TlsConfig> SystemInfoImpl::GetTlsConfig(TlsConfigType) { NotAvailable("TLS configuration"); }
std::unique_ptr<SshAuthKeysConfig> SystemInfoImpl::GetSshAuthKeysConfig() {
    NotAvailable("SSH authorized keys configuration");
}

bool SystemInfoImpl::IsFirewallEnabled() { NotAvailable("The firewall"); }
void SystemInfoImpl::SetFirewallEnabled(bool) { NotAvailable("The firewall"); }
std::unique_ptr<FirewallRuleset> SystemInfoImpl::GetFirewallRulesetById(const std::string&) {
    NotAvailable("The firewall");
}
std::vector<std::unique_ptr<FirewallRuleset>> SystemInfoImpl::GetFirewallRulesets() { NotAvailable("The firewall"); }
bool SystemInfoImpl::IsFirewallOtherL4Allowed() { NotAvailable("The firewall"); }
void SystemInfoImpl::SetFirewallOtherL4Allowed(bool) { NotAvailable("The firewall"); }
bool SystemInfoImpl::IsFirewallPassIGMP() { NotAvailable("The firewall"); }
void SystemInfoImpl::SetFirewallPassIGMP(bool) { NotAvailable("The firewall"); }

// The boot storage questions need the file-system volumes of the storage domain.
std::string SystemInfoImpl::GetBootDevice() { NotAvailable("The boot device"); }
std::unique_ptr<HostCtl::Storage::FileSystem> SystemInfoImpl::GetBootFileSystem() {
    NotAvailable("The boot file system");
}
uint32_t SystemInfoImpl::GetBootPartition() { NotAvailable("The boot partition"); }
std::unique_ptr<HostCtl::Storage::DiskLun> SystemInfoImpl::GetBootDisk() { NotAvailable("The boot disk"); }
bool SystemInfoImpl::DeviceSupportsOSData(const std::string&) { NotAvailable("The OSData device check"); }
int SystemInfoImpl::PathSupportsOSData(const std::string&, std::string&, std::string&, bool) {
    NotAvailable("The OSData location check");
}
bool SystemInfoImpl::IsDumpTargetEnabled() { NotAvailable("The dump target query"); }
void SystemInfoImpl::CheckDumpTargetCapacity(uint64_t) { NotAvailable("The dump target capacity check"); }
void SystemInfoImpl::CheckScratchCapacity(uint64_t, uint64_t&, HostCtl::Storage::FileSystem&) {
    NotAvailable("The scratch capacity check");
}
std::string SystemInfoImpl::GetBootOptionFileData(const std::string&) { NotAvailable("Boot option file data"); }

// ---- Identity ----------------------------------------------------------------------

SoftwareUuid SystemInfoImpl::GetSystemUuid(bool generate) {
    SynchronizedConfigFile file;
    std::string text;
    if (file->GetValue(kUuidKey, &text)) return SoftwareUuid::FromText(text);
    if (!generate) throw HostCtlException("UUID is not configured");
    auto raw = ReadRecord<Ksi::System::Uuid>(KSI_NODE_system_generateUuid);
    SoftwareUuid uuid = SoftwareUuid::FromBytes(raw.bytes);
    file->SetValue(kUuidKey, uuid.text);
    file.Write();
    return uuid;
}

bool SystemInfoImpl::HasSystemUuid() {
    SynchronizedConfigFile file;
    return file->HasValue(kUuidKey);
}

SoftwareUuid SystemInfoImpl::GetTarnosUuid() {
    auto raw = ReadRecord<Ksi::System::Uuid>(KSI_NODE_system_systemUuid);
    return SoftwareUuid::FromBytes(raw.bytes);
}

void SystemInfoImpl::SetTarnosUuid(bool generate) {
    SoftwareUuid uuid = GetSystemUuid(generate);
    Sysinfo si(KSI_NODE_system_systemUuid);
    for (uint8_t b : uuid.bytes) si.AddInput(static_cast<long>(b));
    si.Set();
}

// ---- Boot facts --------------------------------------------------------------------

std::string SystemInfoImpl::GetBootNicMacAddress() {
    return ReadText(KSI_NODE_system_bootMAC, Ksi::System::kMacTextLength);
}

std::string SystemInfoImpl::GetStatelessBootNicMacAddress() {
    return ReadText(KSI_NODE_system_statelessBootMAC, Ksi::System::kMacTextLength);
}

bool SystemInfoImpl::IsPxeBooted() {
    return !GetBootNicMacAddress().empty() && !IsHollinStatelessCacheBooted() && !IsHollinStatefulInstallBooted();
}

std::string SystemInfoImpl::GetBootFsUUID() {
    return RegroupBootFsUuid(ReadText(KSI_NODE_system_bootFsUUID, Ksi::System::kBootFsUuidLength));
}

std::string SystemInfoImpl::GetBootVolume() {
    try {
        return "/kdfs/volumes/" + GetBootFsUUID();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to get boot filesystem uuid: %s\n", "TarnCtl", e.GetDetailedMessage().c_str());
        return "";
    }
}

std::string SystemInfoImpl::GetBootCommandLine() {
    return MaskRecoveryKeys(ReadText(KSI_NODE_system_bootCmdLine, Ksi::System::kBootCmdLineLength));
}

bool SystemInfoImpl::IsHollinStatelessCacheBooted() {
    return ReadText(KSI_NODE_system_bootCmdLine, Ksi::System::kBootCmdLineLength).find("statelessCacheBoot") !=
           std::string::npos;
}

bool SystemInfoImpl::IsHollinStatefulInstallBooted() {
    return ReadText(KSI_NODE_system_bootCmdLine, Ksi::System::kBootCmdLineLength).find("statefulInstallBoot") !=
           std::string::npos;
}

bool SystemInfoImpl::IsRegularStatefulBooted() {
    try {
        if (GetBootFsUUID().empty()) return false;
    } catch (const HostCtlException&) {
        return false;
    }
    return !IsHollinStatelessCacheBooted() && !IsHollinStatefulInstallBooted();
}

bool SystemInfoImpl::IsSystemBootFailureDetected() { return ReadU32(KSI_NODE_system_bootFailure) != 0; }

BootOptions SystemInfoImpl::GetBootOptions() {
    auto raw = ReadRecord<Ksi::System::BootOption>(KSI_NODE_system_bootOption);
    BootOptions o;
    o.noAutoPartition = raw.noAutoPartition != 0;
    o.allowLegacyCpu = raw.allowLegacyCpu != 0;
    o.ignoreHeadless = raw.ignoreHeadless != 0;
    return o;
}

TarnVersion SystemInfoImpl::GetTarnVersion(TarnVersionSource source) {
    TarnVersion v;
    if (source == TARN_VERSION_RUNNING) {
        auto raw = ReadRecord<Ksi::System::Version>(KSI_NODE_system_version);
        v.product = Field(raw.product, sizeof(raw.product));
        v.version = Field(raw.version, sizeof(raw.version));
        v.build = Field(raw.build, sizeof(raw.build));
        v.release = Field(raw.release, sizeof(raw.release));
        v.patch = Field(raw.patch, sizeof(raw.patch));
        return v;
    }
    if (source != TARN_VERSION_ALT_BOOT_BANK) return v;
    auto in = HostCtl::Misc::GetIfstream(kAltBootConfig);
    if (!in || !in->is_open()) throw HostCtlException("No alternate bootslot version exists");
    std::string line;
    while (std::getline(*in, line)) {
        if (line.find("build=") == std::string::npos) continue;
        ParseAltBootBuildLine(line, &v);
        break;
    }
    if (in->bad()) throw HostCtlException("Unexpected i/o exception parsing alt boot bank version");
    in->clear();
    in->close();
    if (in->fail()) TarnCtl_LogWarnInt("%s: close file threw i/o exception, ignored\n", "AltVersion");
    return v;
}

// ---- Hardware clock ----------------------------------------------------------------

RtcDateTime SystemInfoImpl::GetRtcDateTime() {
    Ksi::System::Rtc raw{};
    try {
        raw = ReadRecord<Ksi::System::Rtc>(KSI_NODE_hardware_chipset_rtc);
    } catch (const SysinfoException& e) {
        throw HostCtlException("Unable to get RTC value, time unavailable", e.GetKevtMessage());
    }
    RtcDateTime t;
    t.day = raw.day;
    t.month = raw.month;
    t.year = raw.year;
    t.hour = raw.hour;
    t.minute = raw.minute;
    t.second = raw.second;
    return t;
}

void SystemInfoImpl::SetRtcDateTime(const RtcDateTime& time) {
    std::string errors = RtcFieldErrors(time);
    if (!errors.empty()) throw HostCtlException(errors);
    RtcDateTime n = NormaliseRtc(time);
    Sysinfo si(KSI_NODE_hardware_chipset_rtc);
    for (uint32_t v : {n.month, n.day, n.year, n.hour, n.minute, n.second}) si.AddInput(static_cast<unsigned long>(v));
    try {
        si.Set();
    } catch (const SysinfoException& e) {
        throw HostCtlException("Unable to set time, please verify all values.", e.GetKevtMessage());
    }
}

// ---- Maintenance mode ----------------------------------------------------------------

MaintenanceMode SystemInfoImpl::GetMaintenanceModeState() {
    uint32_t raw = ReadU32(KSI_NODE_system_maintenanceMode);
    return static_cast<MaintenanceMode>(raw > MAINTENANCE_MODE_UNKNOWN ? MAINTENANCE_MODE_UNKNOWN : raw);
}

void SystemInfoImpl::SetMaintenanceModeState(MaintenanceMode state) {
    if (state != MAINTENANCE_MODE_ENABLED && state != MAINTENANCE_MODE_DISABLED)
        throw HostCtlException("Invalid Maintenance Mode State Requested");
    auto write = [&] {
        Sysinfo si(KSI_NODE_system_maintenanceMode);
        si.AddInput(static_cast<unsigned int>(state));
        si.Set();
    };
    auto store = SystemStore();
    if (store->IsBoot()) {
        write();
        return;
    }
    // Recorded so that the host comes back in the mode it was left in; when
    // the record fails the kernel goes back to the mode it had.
    uint32_t before = ReadU32(KSI_NODE_system_maintenanceMode);
    ConfigStoreTransaction txn(store);
    write();
    try {
        auto object = std::make_shared<ConfigStoreObject>(MaintenanceModeId());
        object->SetValue("state", static_cast<unsigned int>(state));
        store->Write(object);
        txn.Commit();
    } catch (const HostCtlException&) {
        if (before == MAINTENANCE_MODE_ENABLED || before == MAINTENANCE_MODE_DISABLED) {
            Sysinfo undo(KSI_NODE_system_maintenanceMode);
            undo.SetThrowOnError(false);
            undo.AddInput(before);
            undo.Set();
        }
        throw;
    }
    TarnCtl_LogInfoInt("%s: Maintenance mode %s\n", "SystemInfo",
                       state == MAINTENANCE_MODE_ENABLED ? "entered" : "exited");
}

void SystemInfoImpl::RestoreMaintenanceMode() {
    auto store = SystemStore();
    auto object = store->Get(MaintenanceModeId());
    unsigned int state = 0;
    if (object && object->GetValue("state", &state))
        SetMaintenanceModeState(static_cast<MaintenanceMode>(state));
    store->SetBootStatus(MaintenanceModeId(), true);
}

bool SystemInfoImpl::IsPartialMaintenanceModeEnabled(const std::string& id) {
    if (id.empty()) return false;
    auto object = SystemStore()->Get(PartialModeId(id));
    bool enabled = false;
    return object && object->GetValue("enabled", &enabled) && enabled;
}

void SystemInfoImpl::SetPartialMaintenanceModeStatus(const std::string& id, bool enabled) {
    if (id.empty()) throw HostCtlException("Invalid partial maintenance mode id: cannot be empty");
    auto store = SystemStore();
    ConfigStoreTransaction txn(store);
    auto object = store->Get(PartialModeId(id));
    if (!object) {
        object = std::make_shared<ConfigStoreObject>(PartialModeId(id));
        object->SetValue("id", id);
    }
    object->SetValue("enabled", enabled);
    store->Write(object);
    txn.Commit();
}

std::vector<PartialMaintenanceModeInfo> SystemInfoImpl::ListPartialMaintenanceModeInfo() {
    auto filter = std::make_shared<HaldenConfigStore::FilterSpecObject>(
        ConfigStoreObjectId("partial_maintenance_modes", "maintenance", "halden"));
    std::vector<PartialMaintenanceModeInfo> out;
    for (const auto& object : SystemStore()->List(filter)) {
        PartialMaintenanceModeInfo info;
        if (!object->GetValue("id", &info.id)) info.id = object->GetConfigStoreObjectId().GetInstanceId();
        object->GetValue("enabled", &info.enabled);
        out.push_back(std::move(info));
    }
    return out;
}

// ---- Log levels ----------------------------------------------------------------------

LogLevel SystemInfoImpl::GetLogLevel(const std::string& name) {
    Ksi::System::LogLevel raw{};
    Sysinfo si(KSI_NODE_system_loglevels);
    si.SetInstance(name);
    si.Get(&raw, sizeof(raw));
    return LogLevel{name, raw.level, raw.defaultLevel};
}

void SystemInfoImpl::SetLogLevel(const std::string& name, uint32_t level) {
    Sysinfo si(KSI_NODE_system_loglevels);
    si.SetDefaultErrorMessage("Unable to set Tarnos LOG level");
    si.SetInstance(name);
    si.AddInput(static_cast<unsigned long>(level));
    si.Set();
}

std::vector<std::string> SystemInfoImpl::GetLogLevelNames() {
    std::vector<std::string> names;
    Sysinfo si(KSI_NODE_system_loglevels);
    si.List(names);
    return names;
}

std::vector<LogLevel> SystemInfoImpl::GetAllLogLevels() {
    std::vector<LogLevel> out;
    for (const auto& name : GetLogLevelNames()) out.push_back(GetLogLevel(name));
    return out;
}

void SystemInfoImpl::SetDefaultLogLevel(const std::string& name) {
    LogLevel entry = GetLogLevel(name);
    SetLogLevel(name, entry.defaultLevel);
}

// ---- Dumps and debugging ---------------------------------------------------------------

void SystemInfoImpl::SetCoreDumpEnabled(bool enabled) { WriteFlag(KSI_NODE_userworld_global_coreDumpEnabled, enabled); }

void SystemInfoImpl::SetCoreDumpEnabledForWorld(uint32_t world, bool enabled) {
    Sysinfo si(KSI_NODE_userworld_cartel_debug_coreDumpEnabled);
    si.SetInstance(static_cast<unsigned long>(world));
    si.AddInput(enabled);
    si.Set();
}

bool SystemInfoImpl::GetCoreDumpEnabledForWorld(uint32_t world) {
    uint32_t value = 0;
    Sysinfo si(KSI_NODE_userworld_cartel_debug_coreDumpEnabled);
    si.SetInstance(static_cast<unsigned long>(world));
    si.Get(&value, sizeof(value));
    return value != 0;
}

void SystemInfoImpl::SetTarnosDumpEnabled(bool enabled) { WriteFlag(KSI_NODE_system_debugging_tarnosDumpEnabled, enabled); }
bool SystemInfoImpl::GetTarnosDumpEnabled() { return ReadU32(KSI_NODE_system_debugging_tarnosDumpEnabled) != 0; }
bool SystemInfoImpl::GetDebugTerminalEnabled() { return ReadU32(KSI_NODE_system_debugging_debugTerminal) != 0; }
void SystemInfoImpl::SetDebugTerminalEnabled(bool enabled) { WriteFlag(KSI_NODE_system_debugging_debugTerminal, enabled); }

void SystemInfoImpl::SendKevtWhenDumpConfigurationChanged(bool enabled) {
    if (KevtUserLib_Init() != 0) {
        TarnCtl_LogWarnInt("%s: failed to initialize kevt user lib!!!\n", "SystemInfo");
        return;
    }
    if (enabled)
        KevtUserLib_AddKevt("@&!*@*@(kevt.user.coredump.configured2)At least one coredump target is enabled.");
    else
        KevtUserLib_AddKevt("@&!*@*@(kevt.user.coredump.unconfigured2)No coredump target is enabled.");
    KevtUserLib_Close();
}

void SystemInfoImpl::PerformLiveCoreDump(uint32_t world) {
    Sysinfo si(KSI_NODE_system_debugging_performLiveCoreDump);
    si.AddInput(static_cast<unsigned long>(world));
    si.Set();
}

void SystemInfoImpl::LiveCoreDumpOnWorldPanic(uint32_t world, char enable) {
    try {
        if (world == 0) {
            WriteFlag(KSI_NODE_system_debugging_liveCoreDumpOnWorldPanic, enable != 0);
            return;
        }
        Sysinfo si(KSI_NODE_world_livedumptarnos);
        si.SetInstance(static_cast<unsigned long>(world));
        si.AddInput(enable ? "enabled" : "disabled");
        si.Set();
    } catch (const SysinfoException& e) {
        throw HostCtlException(std::string("Unable to set Live Dump on World Panic: ") + e.what(), e.GetKevtMessage());
    }
}

void SystemInfoImpl::SetSystemAlert(const std::string& text) const {
    try {
        Sysinfo si(KSI_NODE_system_sysAlert);
        si.AddInput(text);
        si.Set();
    } catch (const SysinfoException& e) {
        throw HostCtlException(std::string("Unable to set system alert: ") + e.what(), e.GetKevtMessage());
    }
}

// ---- Clock discipline limits --------------------------------------------------------------

void SystemInfoImpl::SetClockMaxNegPhase(int value) {
    SetClockLimit(KSI_NODE_system_ntpclock_maxNegPhaseCorrection, value,
                  "Can not set clock max negative phase correction to %d: %s");
}
int SystemInfoImpl::GetClockMaxNegPhase() {
    return GetClockLimit(KSI_NODE_system_ntpclock_maxNegPhaseCorrection, "Can not get clock max negative phase correction: ");
}
void SystemInfoImpl::SetClockMaxPosPhase(int value) {
    SetClockLimit(KSI_NODE_system_ntpclock_maxPosPhaseCorrection, value,
                  "Can not set clock max positive phase correction to %d: %s");
}
int SystemInfoImpl::GetClockMaxPosPhase() {
    return GetClockLimit(KSI_NODE_system_ntpclock_maxPosPhaseCorrection, "Can not get clock max positive phase correction: ");
}
void SystemInfoImpl::SetClockMaxPhaseCorrections(int value) {
    const char* failure = "Can not set maximum number of phase corrections allowed to %d: %s";
    int32_t count = 0;
    ClockLimitCall(StrPrintf(failure, value, ""),
                   [&] { count = ReadRecord<int32_t>(KSI_NODE_system_ntpclock_numLargeCorrections); });
    if (value < count)
        throw HostCtlException(StrPrintf(
            "Max number of large phase corrections %d is less than the current number of phase corrections %d", value,
            count));
    SetClockLimit(KSI_NODE_system_ntpclock_maxLargeCorrections, value, failure);
}
int SystemInfoImpl::GetClockMaxPhaseCorrections() {
    return GetClockLimit(KSI_NODE_system_ntpclock_maxLargeCorrections,
                         "Can not get maximum number of phase corrections allowed: ");
}

// ---- Hardware facts --------------------------------------------------------------------

bool SystemInfoImpl::IsDMAREnabled() { return ReadU32(KSI_NODE_hardware_iov_DMAREnabled) != 0; }
bool SystemInfoImpl::IsIommuNestedSupported() { return ReadU32(KSI_NODE_hardware_iov_NestedCapable) != 0; }
bool SystemInfoImpl::IsIommuSLDirtyCapable() { return ReadU32(KSI_NODE_hardware_iov_SLDirtyCapable) != 0; }
uint32_t SystemInfoImpl::GetSupportedVMs() { return ReadU32(KSI_NODE_system_supportedVMs); }

VMLimitsInfo SystemInfoImpl::GetVMLimitsInfo() {
    auto raw = ReadRecord<Ksi::System::VmLimits>(KSI_NODE_system_vmLimits);
    return VMLimitsInfo{raw.maxVms, raw.maxVcpusPerVm};
}

int64_t SystemInfoImpl::GetCbrcOverheadPerVmdk() { return ReadRecord<int64_t>(KSI_NODE_system_cbrc_perVmdkOverheadInBytes); }

IpmiSupport SystemInfoImpl::GetIpmiSupport() {
    uint32_t raw = ReadU32(KSI_NODE_hardware_ipmiSupport);
    if (raw > IPMI_SUPPORTED) throw HostCtlException("Invalid IPMI support state");
    return static_cast<IpmiSupport>(raw);
}
bool SystemInfoImpl::GetAPEISupport() { return ReadU32(KSI_NODE_hardware_apeiSupport) != 0; }
bool SystemInfoImpl::GetPS2MousePassthruSupport() { return ReadU32(KSI_NODE_hardware_ps2MousePassthruSupport) != 0; }

IOMMUType SystemInfoImpl::GetIOMMUType() {
    uint32_t raw = ReadU32(KSI_NODE_hardware_iov_iommuType);
    if (raw > IOMMU_AMD_VI) throw HostCtlException("Invalid IOMMU Type");
    return static_cast<IOMMUType>(raw);
}

DMAPolicy SystemInfoImpl::GetDMAPolicy() {
    uint32_t raw = ReadU32(KSI_NODE_system_dma_policy);
    if (raw > DMA_POLICY_RELAXED) throw HostCtlException("Invalid DMA Policy");
    return static_cast<DMAPolicy>(raw);
}

// ---- Host configuration file --------------------------------------------------------------

bool SystemInfoImpl::HasUserVar(const std::string& name) {
    CheckUserVarName(name);
    SynchronizedConfigFile file;
    return file->HasValue(kUserVarsBranch + name);
}

std::string SystemInfoImpl::GetUserVar(const std::string& name) {
    CheckUserVarName(name);
    SynchronizedConfigFile file;
    std::string value;
    file->GetValue(kUserVarsBranch + name, &value);
    return value;
}

void SystemInfoImpl::SetUserVar(const std::string& name, const std::string& value) {
    CheckUserVarName(name);
    SynchronizedConfigFile file;
    file->SetValue(kUserVarsBranch + name, value);
    file.Write();
}

void SystemInfoImpl::DelUserVar(const std::string& name) {
    CheckUserVarName(name);
    SynchronizedConfigFile file;
    if (file->Remove(kUserVarsBranch + name)) file.Write();
}

std::string SystemInfoImpl::GetConfigFileValue(const std::string& key) {
    SynchronizedConfigFile file;
    std::string value;
    file->GetValue(key, &value);
    return value;
}

std::string SystemInfoImpl::GetVislVMLocation() { return GetConfigFileValue(kVislLocationKey); }

void SystemInfoImpl::SetVislVMLocation(const std::string& path) {
    SynchronizedConfigFile file;
    file->SetValue(kVislLocationKey, path);
    file.Write();
}

std::string SystemInfoImpl::GetInceptionTimestamp() {
    SynchronizedConfigFile file;
    std::string value;
    if (!file->GetValue(kInceptionKey, &value)) throw HostCtlException("Inception timestamp has not been set.");
    return value;
}

void SystemInfoImpl::SetInceptionTimestamp() {
    SynchronizedConfigFile file;
    if (file->HasValue(kInceptionKey)) return;
    time_t now = time(nullptr);
    struct tm utc = {};
    if (!gmtime_r(&now, &utc)) throw HostCtlException("could not convert calendar time to UTC time");
    char text[64];
    strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%S", &utc);
    file->SetValue(kInceptionKey, std::string(text));
    file.Write();
    TarnCtl_LogInfoInt("%s: inception date set to: %s\n", "System", text);
}

// ---- Address-space randomisation ------------------------------------------------------------

void SystemInfoImpl::SetASLRSeed() {
    try {
        auto option = TarnCtl::Adv::AdvancedOptionImpl::FindOption("/UserMem/UserMemASRandomSeed");
        auto* integer = dynamic_cast<HostCtl::Adv::AdvancedIntegerOption*>(option.get());
        if (!integer) throw HostCtlException("Invalid option /UserMem/UserMemASRandomSeed: not an integer option");
        uint64_t counter = __rdtsc();
        uint64_t seed;
        std::ifstream urandom(Platform::HostPath("/dev/urandom"), std::ios::binary);
        if (!urandom.is_open()) {
            seed = counter * 2;
        } else {
            uint32_t bytes = 0;
            urandom.read(reinterpret_cast<char*>(&bytes), sizeof(bytes));
            seed = urandom.gcount() == sizeof(bytes) ? counter ^ bytes : counter * 32;
        }
        integer->SetValue(static_cast<long>(seed & 0xffffffffu));
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: %s\n", "SystemInfo", e.GetDetailedMessage().c_str());
        throw;
    }
}

// ---- Printing --------------------------------------------------------------------------------

void SystemInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    // Each fact is read on its own; one unreadable fact leaves the rest printable.
    auto fact = [](const std::function<std::string()>& read) {
        try {
            return read();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: %s\n", "SystemInfo", e.GetDetailedMessage().c_str());
            return std::string();
        }
    };
    auto join = [](const std::vector<std::string>& items) {
        std::string out;
        for (const auto& i : items) out += (out.empty() ? "" : ", ") + i;
        return out;
    };
    printer->SetType("System Info");
    printer->BeginObject();
    printer->Print("System UUID", fact([&] { return GetSystemUuid(false).text; }));
    printer->Print("Tarnos UUID", fact([&] { return GetTarnosUuid().text; }));
    printer->Print("Clock", fact([&] {
        RtcDateTime t = GetRtcDateTime();
        return StrPrintf("%u/%u/%u %u:%u:%u", t.month, t.day, t.year, t.hour, t.minute, t.second);
    }));
    printer->Print("Boot NIC MAC", fact([&] { return GetBootNicMacAddress(); }));
    printer->Print("Boot Filesystem UUID", fact([&] { return GetBootFsUUID(); }));
    printer->Print("Supported Namespaces", fact([&] {
        std::vector<std::string> names;
        Sysinfo si(KSI_NODE_system_modloader_namespaces);
        si.List(names);
        return join(names);
    }));
    printer->Print("Loaded Modules", fact([&] {
        std::vector<std::string> names;
        Sysinfo si(KSI_NODE_system_modules);
        si.List(names);
        return join(names);
    }));
    printer->EndObject();
}

}  // namespace TarnCtl::System
