// System services: host-wide facts and settings (identity, boot facts, clock,
// maintenance mode, log levels, dump switches, greetings, keyboard layout),
// and the factory for the per-service configuration objects. Operations of
// services whose objects are not built yet throw "... is not available yet".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/object.h"

namespace HostCtl::Storage {
class FileSystem;
class DiskLun;
}  // namespace HostCtl::Storage

namespace HostCtl::System {

// 16 raw bytes and their canonical lower-case 8-4-4-4-12 text.
struct SoftwareUuid {
    uint8_t bytes[16] = {};
    std::string text;

    static SoftwareUuid FromBytes(const uint8_t (&raw)[16]);
    // Parses the canonical pattern (hex digits of either case); throws
    // HostCtlException "Invalid UUID: <text>" on anything else.
    static SoftwareUuid FromText(const std::string& text);
    bool operator==(const SoftwareUuid& o) const { return text == o.text; }
};

// The hardware clock, in UTC.
struct RtcDateTime {
    uint32_t day = 0;
    uint32_t month = 0;
    uint32_t year = 0;
    uint32_t hour = 0;
    uint32_t minute = 0;
    uint32_t second = 0;
};

// As the kernel reports it; readings above MAINTENANCE_MODE_UNKNOWN are
// reported as MAINTENANCE_MODE_UNKNOWN. Only ENABLED and DISABLED may be requested.
enum MaintenanceMode : uint32_t {
    MAINTENANCE_MODE_NONE = 0,
    MAINTENANCE_MODE_ENABLED = 1,
    MAINTENANCE_MODE_DISABLED = 2,
    MAINTENANCE_MODE_UNKNOWN = 3,
};

struct PartialMaintenanceModeInfo {
    std::string id;
    bool enabled = false;
};

enum TarnVersionSource : int {
    TARN_VERSION_RUNNING = 1,       // the running system
    TARN_VERSION_ALT_BOOT_BANK = 2, // the build installed in the alternate boot bank
};

// The version record; all fields empty for an unknown source.
struct TarnVersion {
    std::string product;
    std::string version;
    std::string build;
    std::string release;
    std::string patch;
};

// The three boot switches of the kernel, in node order.
struct BootOptions {
    bool noAutoPartition = false;
    bool allowLegacyCpu = false;
    bool ignoreHeadless = false;
};

// One kernel logger (shared with the module loggers).
struct LogLevel {
    std::string name;
    uint32_t level = 0;
    uint32_t defaultLevel = 0;
};

struct VMLimitsInfo {
    uint32_t maxVms = 0;
    uint32_t maxVcpusPerVm = 0;
};

enum IpmiSupport : uint32_t { IPMI_NOT_SUPPORTED = 0, IPMI_SUPPORTED = 1 };
enum IOMMUType : uint32_t { IOMMU_NONE = 0, IOMMU_INTEL_VTD = 1, IOMMU_AMD_VI = 2 };
enum DMAPolicy : uint32_t { DMA_POLICY_DEFAULT = 0, DMA_POLICY_STRICT = 1, DMA_POLICY_RELAXED = 2 };

// Objects of other system services (built with their own services).
class Module;
class KernelOption;
class ModuleNamespace;
class CorelogInfo;
class SwapInfo;
class SnmpAgentConfig;
class NtpAgentConfig;
class PtpAgentConfig;
class SshServerConfig;
class SshClientConfig;
class SshAuthKeysConfig;
class TlsConfig;
class FirewallRuleset;

enum class TlsConfigType : int { Client = 0, Server = 1 };

class SystemInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    // ---- Kernel modules.
    virtual std::unique_ptr<Module> GetModuleByName(const std::string& name, bool skipNameCheck) = 0;
    virtual std::vector<std::unique_ptr<Module>> GetLoadedModules() = 0;
    // Whether the kernel module `name` is loaded (exact name).
    virtual bool IsModuleLoaded(const std::string& name) = 0;

    // ---- Identity and boot facts.
    // The host's UUID from the host configuration file; with `generate`, one
    // is made by the kernel and recorded when there is none. Throws "UUID is
    // not configured" when absent and not to be generated.
    virtual SoftwareUuid GetSystemUuid(bool generate) = 0;
    virtual std::string GetBootNicMacAddress() = 0;
    virtual bool IsPxeBooted() = 0;
    // The boot file system's UUID; 32-character readings are regrouped 8-8-4-12.
    virtual std::string GetBootFsUUID() = 0;
    virtual std::string GetBootDevice() = 0;

    // ---- Hardware clock.
    virtual RtcDateTime GetRtcDateTime() = 0;
    // Every faulty field is named in one exception; nothing is written then.
    virtual void SetRtcDateTime(const RtcDateTime& time) = 0;

    // ---- Service objects.
    virtual std::unique_ptr<SwapInfo> GetSwapInfo() = 0;
    virtual std::unique_ptr<SnmpAgentConfig> GetSnmpAgentConfig() = 0;
    virtual std::unique_ptr<CorelogInfo> GetCorelogInfo() = 0;
    virtual std::unique_ptr<NtpAgentConfig> GetNtpAgentConfig() = 0;
    virtual std::unique_ptr<PtpAgentConfig> GetPtpAgentConfig() = 0;
    virtual std::unique_ptr<SshServerConfig> GetSshServerConfig() = 0;
    virtual std::unique_ptr<SshClientConfig> GetSshClientConfig() = 0;
    virtual std::unique_ptr<TlsConfig> GetTlsConfig(TlsConfigType type) = 0;
    virtual std::unique_ptr<SshAuthKeysConfig> GetSshAuthKeysConfig() = 0;

    // ---- Welcome message of the console.
    virtual std::string GetWelcomeMessage() = 0;
    virtual std::string GetWelcomeMessageDefault() = 0;
    // An empty text removes the message.
    virtual void SetWelcomeMessage(const std::string& text) = 0;

    virtual std::vector<std::unique_ptr<KernelOption>> GetKernelOptions(bool all) = 0;

    // ---- User variables of the host configuration file.
    virtual bool HasUserVar(const std::string& name) = 0;
    virtual std::string GetUserVar(const std::string& name) = 0;
    virtual void SetUserVar(const std::string& name, const std::string& value) = 0;
    virtual void DelUserVar(const std::string& name) = 0;

    // ---- IOMMU facts.
    virtual bool IsDMAREnabled() = 0;
    virtual bool IsIommuNestedSupported() = 0;
    virtual bool IsIommuSLDirtyCapable() = 0;

    virtual std::vector<std::unique_ptr<Module>> GetModules() = 0;
    virtual std::vector<std::unique_ptr<ModuleNamespace>> GetModuleNamespacesLoaded() = 0;
    virtual uint32_t GetSupportedVMs() = 0;
    virtual VMLimitsInfo GetVMLimitsInfo() = 0;

    // ---- Maintenance mode.
    virtual MaintenanceMode GetMaintenanceModeState() = 0;
    // Only ENABLED and DISABLED; anything else throws "Invalid Maintenance Mode State Requested".
    virtual void SetMaintenanceModeState(MaintenanceMode state) = 0;
    virtual bool IsPartialMaintenanceModeEnabled(const std::string& id) = 0;
    virtual void SetPartialMaintenanceModeStatus(const std::string& id, bool enabled) = 0;
    virtual std::vector<PartialMaintenanceModeInfo> ListPartialMaintenanceModeInfo() = 0;

    // ---- Firewall switches and rulesets.
    virtual bool IsFirewallEnabled() = 0;
    virtual void SetFirewallEnabled(bool enabled) = 0;
    virtual std::unique_ptr<FirewallRuleset> GetFirewallRulesetById(const std::string& id) = 0;
    virtual std::vector<std::unique_ptr<FirewallRuleset>> GetFirewallRulesets() = 0;
    virtual int64_t GetCbrcOverheadPerVmdk() = 0;
    virtual BootOptions GetBootOptions() = 0;
    virtual bool IsFirewallOtherL4Allowed() = 0;
    virtual void SetFirewallOtherL4Allowed(bool allowed) = 0;
    virtual bool IsFirewallPassIGMP() = 0;
    virtual void SetFirewallPassIGMP(bool pass) = 0;

    // ---- Content-based read cache.
    virtual void SetCbrcEnabled(bool enable) = 0;
    virtual bool GetCbrcRuntimeEnabled() = 0;
    virtual bool GetCbrcConfiguredEnabled() = 0;

    virtual bool IsDumpTargetEnabled() = 0;
    virtual std::string GetVislVMLocation() = 0;
    // Throws "Inception timestamp has not been set." when absent.
    virtual std::string GetInceptionTimestamp() = 0;
    // Records the first boot's time once; later calls change nothing.
    virtual void SetInceptionTimestamp() = 0;

    // ---- Core dumps.
    virtual void SetCoreDumpEnabled(bool enabled) = 0;
    virtual void SetCoreDumpEnabledForWorld(uint32_t world, bool enabled) = 0;
    virtual bool GetCoreDumpEnabledForWorld(uint32_t world) = 0;
    virtual void SetTarnosDumpEnabled(bool enabled) = 0;
    virtual bool GetTarnosDumpEnabled() = 0;

    // ---- Clock discipline limits.
    virtual void SetClockMaxNegPhase(int value) = 0;
    virtual int GetClockMaxNegPhase() = 0;
    virtual void SetClockMaxPosPhase(int value) = 0;
    virtual int GetClockMaxPosPhase() = 0;
    virtual void SetClockMaxPhaseCorrections(int value) = 0;
    virtual int GetClockMaxPhaseCorrections() = 0;

    virtual TarnVersion GetTarnVersion(TarnVersionSource source) = 0;

    // ---- Message of the day (/etc/motd) and issue (/etc/issue). "<ESC>" in
    // a text stands for the escape character, both ways.
    virtual std::string GetMotd() = 0;
    virtual std::string GetMotdDefault() = 0;
    virtual void SetMotd(const std::string& text) = 0;
    virtual void ResetMotd() = 0;
    virtual void RestoreMotd() = 0;
    virtual std::string GetIssue() = 0;
    virtual std::string GetIssueDefault() = 0;
    virtual void SetIssue(const std::string& text) = 0;
    virtual void ResetIssue() = 0;
    virtual void RestoreIssue() = 0;

    virtual bool IsSystemBootFailureDetected() = 0;
    // The boot command line with recovery keys masked.
    virtual std::string GetBootCommandLine() = 0;
    // Any value of the host configuration file; empty when absent.
    virtual std::string GetConfigFileValue(const std::string& key) = 0;
    virtual bool HasSystemUuid() = 0;
    virtual SoftwareUuid GetTarnosUuid() = 0;
    virtual void SetTarnosUuid(bool generate) = 0;

    // ---- Kernel log levels.
    virtual LogLevel GetLogLevel(const std::string& name) = 0;
    virtual void SetLogLevel(const std::string& name, uint32_t level) = 0;
    virtual std::vector<std::string> GetLogLevelNames() = 0;
    virtual std::vector<LogLevel> GetAllLogLevels() = 0;
    virtual void SetDefaultLogLevel(const std::string& name) = 0;

    virtual std::string GetStatelessBootNicMacAddress() = 0;
    virtual bool IsHollinStatelessCacheBooted() = 0;
    virtual bool IsHollinStatefulInstallBooted() = 0;
    virtual bool IsRegularStatefulBooted() = 0;
    virtual std::string GetBootOptionFileData(const std::string& name) = 0;
    virtual void RestoreWelcomeMessage() = 0;
    virtual void SetASLRSeed() = 0;

    // ---- Hardware facts.
    virtual IpmiSupport GetIpmiSupport() = 0;
    virtual bool GetAPEISupport() = 0;
    virtual bool GetPS2MousePassthruSupport() = 0;
    virtual IOMMUType GetIOMMUType() = 0;
    virtual DMAPolicy GetDMAPolicy() = 0;
    virtual void SetSystemAlert(const std::string& text) const = 0;

    // ---- Boot storage (informational: empty on failure).
    virtual std::string GetBootVolume() = 0;
    virtual std::unique_ptr<HostCtl::Storage::FileSystem> GetBootFileSystem() = 0;
    virtual uint32_t GetBootPartition() = 0;
    virtual std::unique_ptr<HostCtl::Storage::DiskLun> GetBootDisk() = 0;
    virtual bool DeviceSupportsOSData(const std::string& device) = 0;
    virtual int PathSupportsOSData(const std::string& path, std::string& device, std::string& message,
                                   bool checkSize) = 0;

    // ---- Debugging.
    virtual bool GetDebugTerminalEnabled() = 0;
    virtual void SetDebugTerminalEnabled(bool enabled) = 0;
    virtual void SendKevtWhenDumpConfigurationChanged(bool enabled) = 0;
    virtual void CheckDumpTargetCapacity(uint64_t size) = 0;
    virtual void CheckScratchCapacity(uint64_t size, uint64_t& need, HostCtl::Storage::FileSystem& fs) = 0;
    virtual void PerformLiveCoreDump(uint32_t world) = 0;
    virtual void LiveCoreDumpOnWorldPanic(uint32_t world, char enable) = 0;

    // ---- Keyboard layouts (from /usr/share/keymaps/list).
    // Layout names, sorted.
    virtual std::vector<std::string> GetKeyboardLayouts() = 0;
    // The configured layout; empty when none is.
    virtual std::string GetKeyboardLayout() = 0;
    virtual std::string GetLayoutFromZipFileName(const std::string& file) = 0;
    virtual void RestoreKeyboardLayout() = 0;
    // Unknown names throw "Invalid keymap specified".
    virtual void SetKeyboardLayout(const std::string& name) = 0;
    virtual void LoadKeyboardMappings(const std::string& name) = 0;

    virtual void RestoreCbrc() = 0;
    virtual void SetVislVMLocation(const std::string& path) = 0;
};

class IOFilterInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::System
