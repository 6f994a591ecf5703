// The system domain object. It keeps no host state: each call reads or
// writes the kernel, the store, the host configuration file or a plain file
// when it is made. The keymap table is read once per object, on first use.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/system.h"
#include "lib/tarnctl_object.h"

namespace HaldenConfigStore {
class ConfigStore;
class ConfigStoreObjectId;
}  // namespace HaldenConfigStore

namespace TarnCtl::System {

using namespace HostCtl::System;

class SystemInfoImpl : public virtual HostCtl::System::SystemInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    SystemInfoImpl() = default;

    void Refresh() override {}
    std::string GetName() const override { return "SystemInfo"; }

    std::unique_ptr<Module> GetModuleByName(const std::string& name, bool skipNameCheck) override;
    std::vector<std::unique_ptr<Module>> GetLoadedModules() override;
    bool IsModuleLoaded(const std::string& name) override;
    SoftwareUuid GetSystemUuid(bool generate) override;
    std::string GetBootNicMacAddress() override;
    bool IsPxeBooted() override;
    std::string GetBootFsUUID() override;
    std::string GetBootDevice() override;
    RtcDateTime GetRtcDateTime() override;
    void SetRtcDateTime(const RtcDateTime& time) override;
    std::unique_ptr<SwapInfo> GetSwapInfo() override;
    std::unique_ptr<SnmpAgentConfig> GetSnmpAgentConfig() override;
    std::unique_ptr<CorelogInfo> GetCorelogInfo() override;
    std::unique_ptr<NtpAgentConfig> GetNtpAgentConfig() override;
    std::unique_ptr<PtpAgentConfig> GetPtpAgentConfig() override;
    std::unique_ptr<SshServerConfig> GetSshServerConfig() override;
    std::unique_ptr<SshClientConfig> GetSshClientConfig() override;
    std::unique_ptr<TlsConfig> GetTlsConfig(TlsConfigType type) override;
    std::unique_ptr<SshAuthKeysConfig> GetSshAuthKeysConfig() override;
    std::string GetWelcomeMessage() override;
    std::string GetWelcomeMessageDefault() override { return ""; }
    void SetWelcomeMessage(const std::string& text) override;
    std::vector<std::unique_ptr<KernelOption>> GetKernelOptions(bool all) override;
    bool HasUserVar(const std::string& name) override;
    std::string GetUserVar(const std::string& name) override;
    void SetUserVar(const std::string& name, const std::string& value) override;
    void DelUserVar(const std::string& name) override;
    bool IsDMAREnabled() override;
    bool IsIommuNestedSupported() override;
    bool IsIommuSLDirtyCapable() override;
    std::vector<std::unique_ptr<Module>> GetModules() override;
    std::vector<std::unique_ptr<ModuleNamespace>> GetModuleNamespacesLoaded() override;
    uint32_t GetSupportedVMs() override;
    VMLimitsInfo GetVMLimitsInfo() override;
    MaintenanceMode GetMaintenanceModeState() override;
    void SetMaintenanceModeState(MaintenanceMode state) override;
    bool IsPartialMaintenanceModeEnabled(const std::string& id) override;
    void SetPartialMaintenanceModeStatus(const std::string& id, bool enabled) override;
    std::vector<PartialMaintenanceModeInfo> ListPartialMaintenanceModeInfo() override;
    bool IsFirewallEnabled() override;
    void SetFirewallEnabled(bool enabled) override;
    std::unique_ptr<FirewallRuleset> GetFirewallRulesetById(const std::string& id) override;
    std::vector<std::unique_ptr<FirewallRuleset>> GetFirewallRulesets() override;
    int64_t GetCbrcOverheadPerVmdk() override;
    BootOptions GetBootOptions() override;
    bool IsFirewallOtherL4Allowed() override;
    void SetFirewallOtherL4Allowed(bool allowed) override;
    bool IsFirewallPassIGMP() override;
    void SetFirewallPassIGMP(bool pass) override;
    void SetCbrcEnabled(bool enable) override;
    bool GetCbrcRuntimeEnabled() override;
    bool GetCbrcConfiguredEnabled() override;
    bool IsDumpTargetEnabled() override;
    std::string GetVislVMLocation() override;
    std::string GetInceptionTimestamp() override;
    void SetInceptionTimestamp() override;
    void SetCoreDumpEnabled(bool enabled) override;
    void SetCoreDumpEnabledForWorld(uint32_t world, bool enabled) override;
    bool GetCoreDumpEnabledForWorld(uint32_t world) override;
    void SetTarnosDumpEnabled(bool enabled) override;
    bool GetTarnosDumpEnabled() override;
    void SetClockMaxNegPhase(int value) override;
    int GetClockMaxNegPhase() override;
    void SetClockMaxPosPhase(int value) override;
    int GetClockMaxPosPhase() override;
    void SetClockMaxPhaseCorrections(int value) override;
    int GetClockMaxPhaseCorrections() override;
    TarnVersion GetTarnVersion(TarnVersionSource source) override;
    std::string GetMotd() override;
    std::string GetMotdDefault() override;
    void SetMotd(const std::string& text) override;
    void ResetMotd() override;
    void RestoreMotd() override;
    std::string GetIssue() override;
    std::string GetIssueDefault() override;
    void SetIssue(const std::string& text) override;
    void ResetIssue() override;
    void RestoreIssue() override;
    bool IsSystemBootFailureDetected() override;
    std::string GetBootCommandLine() override;
    std::string GetConfigFileValue(const std::string& key) override;
    bool HasSystemUuid() override;
    SoftwareUuid GetTarnosUuid() override;
    void SetTarnosUuid(bool generate) override;
    LogLevel GetLogLevel(const std::string& name) override;
    void SetLogLevel(const std::string& name, uint32_t level) override;
    std::vector<std::string> GetLogLevelNames() override;
    std::vector<LogLevel> GetAllLogLevels() override;
    void SetDefaultLogLevel(const std::string& name) override;
    std::string GetStatelessBootNicMacAddress() override;
    bool IsHollinStatelessCacheBooted() override;
    bool IsHollinStatefulInstallBooted() override;
    bool IsRegularStatefulBooted() override;
    std::string GetBootOptionFileData(const std::string& name) override;
    void RestoreWelcomeMessage() override;
    void SetASLRSeed() override;
    IpmiSupport GetIpmiSupport() override;
    bool GetAPEISupport() override;
    bool GetPS2MousePassthruSupport() override;
    IOMMUType GetIOMMUType() override;
    DMAPolicy GetDMAPolicy() override;
    void SetSystemAlert(const std::string& text) const override;
    std::string GetBootVolume() override;
    std::unique_ptr<HostCtl::Storage::FileSystem> GetBootFileSystem() override;
    uint32_t GetBootPartition() override;
    std::unique_ptr<HostCtl::Storage::DiskLun> GetBootDisk() override;
    bool DeviceSupportsOSData(const std::string& device) override;
    int PathSupportsOSData(const std::string& path, std::string& device, std::string& message,
                           bool checkSize) override;
    bool GetDebugTerminalEnabled() override;
    void SetDebugTerminalEnabled(bool enabled) override;
    void SendKevtWhenDumpConfigurationChanged(bool enabled) override;
    void CheckDumpTargetCapacity(uint64_t size) override;
    void CheckScratchCapacity(uint64_t size, uint64_t& need, HostCtl::Storage::FileSystem& fs) override;
    void PerformLiveCoreDump(uint32_t world) override;
    void LiveCoreDumpOnWorldPanic(uint32_t world, char enable) override;
    std::vector<std::string> GetKeyboardLayouts() override;
    std::string GetKeyboardLayout() override;
    std::string GetLayoutFromZipFileName(const std::string& file) override;
    void RestoreKeyboardLayout() override;
    void SetKeyboardLayout(const std::string& name) override;
    void LoadKeyboardMappings(const std::string& name) override;
    void RestoreCbrc() override;
    void SetVislVMLocation(const std::string& path) override;

    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // Replays the recorded maintenance mode at boot (the kernel starts without it).
    void RestoreMaintenanceMode();
    // Switches the cache's runtime state in the kernel.
    void EnableCbrc(bool enable);

private:
    void LoadKeymaps();
    // Layout name -> keymap archive file; filled by LoadKeymaps.
    std::map<std::string, std::string> _keymaps;
    bool _keymapsLoaded = false;
};

// The store every system object lives in.
std::shared_ptr<HaldenConfigStore::ConfigStore> SystemStore();
// Store objects written by the greeting setters (empty text removes the object).
void SetWelcomeMessageToConfigStore(const std::string& text);
void SetMotdToConfigStore(const std::string& text);
void SetIssueToConfigStore(const std::string& text);
// Tell the console UI and the log daemon that their configuration changed.
void NotifyHCUI();
void NotifyCorelogd();

// Throws "<what> is not available yet".
[[noreturn]] void NotAvailable(const std::string& what);

}  // namespace TarnCtl::System
