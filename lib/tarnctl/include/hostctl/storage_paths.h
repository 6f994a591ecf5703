// The native multipathing plug-in ("NMP"): its storage-array-type plug-ins
// (SATPs) with their default policies and claim rules, its path-selection
// plug-ins (PSPs), and the per-device and per-path configuration the plug-in
// keeps. Included from hostctl/storage.h.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/object.h"

namespace HostCtl::Storage {
class Lun;
class ScsiPath;
}  // namespace HostCtl::Storage

namespace HostCtl::Storage::Nmp {

// One SATP claim rule; which of uid, driver, transport or vendor/model/claim
// options is set decides the rule's type.
struct SatpClaimRule {
    std::string satp;
    std::string uid, vendor, model, driver, transport;
    std::string options;       // NMP device options ("enable_ssd", ...)
    std::string claimOptions;  // "tpgs_on", ...
    std::string defaultPsp, pspOptions;
    std::string description;
    std::string ruleGroup;  // "system" or "user"
    bool force = false;
};

class PathSelectionPolicy : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetName() const override = 0;
    virtual std::string GetInfoString() = 0;
};

class StorageArrayType : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetName() const override = 0;
    virtual std::string GetInfoString() = 0;
    virtual std::string GetConfigurationString() = 0;
    virtual void SetConfigurationString(const std::string& config) = 0;
    virtual std::string GetDefaultPathSelectionPolicyName() = 0;
    // With `persist` the default is recorded and comes back after a reboot.
    virtual void SetDefaultPathSelectionPolicyName(const std::string& psp, bool persist) = 0;
    // The kernel's rules of this SATP, of the system and/or user groups.
    virtual std::vector<SatpClaimRule> GetClaimRules(bool system, bool user) = 0;
    virtual void AddClaimRule(const SatpClaimRule& rule) = 0;
    virtual void DeleteClaimRule(const SatpClaimRule& rule) = 0;
    virtual void DeleteNonForceClaimRules() = 0;
    // Forgets every recorded setting of this SATP.
    virtual void DestroyConfig() = 0;
};

class NmpPsaPlugin : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::vector<std::unique_ptr<StorageArrayType>> GetStorageArrayTypes() = 0;
    virtual std::vector<std::unique_ptr<PathSelectionPolicy>> GetPathSelectionPolicies() = 0;
    // Empty when there is no such SATP, or throws when `throwIfMissing`.
    virtual std::unique_ptr<StorageArrayType> GetStorageArrayTypeByName(const std::string& name,
                                                                       bool throwIfMissing) = 0;
};

// A device's settings of its path-selection policy.
class PathSelectionPolicyDeviceConfig : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetPolicyName() = 0;
    virtual std::string GetDeviceName() = 0;
    // The kernel's text of the settings.
    virtual std::string GetConfigurationString() = 0;
    // The recorded settings as a configuration string.
    virtual std::string GetConfiguredString() = 0;
    virtual void SetConfigurationString(const std::string& config) = 0;
    // Boot: applies the recorded settings.
    virtual void LoadConfigInternal() = 0;
};

class FixedPathSelectionPolicyDeviceConfig : public virtual PathSelectionPolicyDeviceConfig {
public:
    virtual void SetPreferredPath(ScsiPath* path) = 0;
    virtual void SetPreferredPath(const std::string& name) = 0;
    virtual void ClearPreferredPath() = 0;
    virtual std::unique_ptr<ScsiPath> GetPreferredPath() = 0;
    virtual std::string GetPreferredPathUid() = 0;
    virtual std::string GetPreferredPathRuntimeName() = 0;
    // The recorded preferred path's UID.
    virtual std::string GetPreferredPathConfiguredName() = 0;
    virtual std::unique_ptr<ScsiPath> GetActivePath() = 0;
    virtual std::string GetActivePathUid() = 0;
    virtual std::string GetActivePathRuntimeName() = 0;
};

class RoundRobinPathSelectionPolicyDeviceConfig : public virtual PathSelectionPolicyDeviceConfig {
public:
    // "iops", "bytes" or "latency".
    virtual std::string GetPathSwitchPolicy() = 0;
    virtual uint64_t GetPathSwitchByteLimit() = 0;
    virtual void SetPathSwitchByteLimit(uint32_t bytes) = 0;
    virtual uint32_t GetPathSwitchIOsLimit() = 0;
    virtual void SetPathSwitchIOsLimit(uint32_t iops) = 0;
    virtual void SetDefaultValues() = 0;
    virtual void SetPathSwitchLatencyBasedPolicy() = 0;
    virtual void SetPathLatencyEvalTime(uint32_t time) = 0;
    virtual void SetPathNumSamplingCycles(uint32_t cycles) = 0;
    virtual bool GetUseANOPaths() = 0;
    virtual uint32_t GetPathLatencyInterval() = 0;
    virtual uint32_t GetPathNumSamplingCycles() = 0;
    virtual void SetUseANOPaths(bool use) = 0;
};

class MruPathSelectionPolicyDeviceConfig : public virtual PathSelectionPolicyDeviceConfig {};

class NmpDeviceConfig : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetDeviceName() = 0;
    virtual std::unique_ptr<Lun> GetDevice() = 0;
    virtual std::vector<std::string> GetAttachedFilterNames() = 0;
    // Boot: replays the recorded PSP, its settings and the SATP options.
    virtual void LoadConfigInternal() = 0;
    virtual std::unique_ptr<StorageArrayType> GetStorageArrayType() = 0;
    virtual std::string GetStorageArrayTypeString() = 0;
    // `configured`: rebuilt from the recorded options, else the kernel's.
    virtual std::string GetStorageArrayTypeOptionString(bool configured) = 0;
    virtual void SetStorageArrayTypeOptionString(const std::string& options, bool persist) = 0;
    virtual std::unique_ptr<PathSelectionPolicy> GetPathSelectionPolicy() = 0;
    virtual std::string GetPathSelectionPolicyName() = 0;
    virtual void SetPathSelectionPolicy(const std::string& name) = 0;
    virtual std::unique_ptr<PathSelectionPolicyDeviceConfig> GetPathSelectionPolicyDeviceConfig() = 0;
    virtual std::vector<std::unique_ptr<ScsiPath>> GetWorkingPathSet() = 0;
    virtual std::vector<std::string> GetWorkingPathSetUids() = 0;
    virtual std::vector<std::string> GetWorkingPathSetRuntimeNames() = 0;
    // Back to the SATP's default PSP; the recorded PSP is forgotten.
    virtual void ResetPathSelectionPolicy() = 0;
};

// A path's group state and array priority and its option strings.
struct NmpPathInfo {
    std::string groupState;
    uint32_t priority = 0;
    std::string satpConfig;
    std::string pspConfig;
};

class NmpScsiPathConfig : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual NmpPathInfo GetPathInfo() = 0;
    virtual std::string GetStorageArrayTypeConfigString() = 0;
    virtual void SetStorageArrayTypeConfigString(const std::string& config) = 0;
    virtual std::string GetPathSelectionPolicyConfigString() = 0;
    virtual void SetPathSelectionPolicyConfigString(const std::string& config) = 0;
    virtual std::string GetNmpPathStateString() = 0;
    virtual uint32_t GetNmpPathPriority() = 0;
};

}  // namespace HostCtl::Storage::Nmp
