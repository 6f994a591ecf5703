// The native plug-in's per-device configuration (SATP and its options, PSP
// and the policy's settings, working paths) and per-path configuration. Every
// setter writes the kernel first and then, outside boot, records the value in
// the device's block_devices object (or the path's paths object) in one
// transaction.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/storage.h"
#include "ksi/nmp.h"
#include "lib/tarnctl_object.h"
#include "platform/configstore.h"

namespace TarnCtl::Storage::Nmp {

// Settings common to every policy; also the whole of a non-platform PSP's.
class PathSelectionPolicyDeviceConfigImpl : public virtual HostCtl::Storage::Nmp::PathSelectionPolicyDeviceConfig,
                                            public virtual TarnCtl::Lib::TarnCtlObject {
public:
    PathSelectionPolicyDeviceConfigImpl(const std::string& device, const std::string& policy);

    void Refresh() override;
    std::string GetName() const override { return _policy; }
    std::string GetPolicyName() override { return _policy; }
    std::string GetDeviceName() override { return _device; }
    std::string GetConfigurationString() override;
    std::string GetConfiguredString() override;
    void SetConfigurationString(const std::string& config) override;
    void LoadConfigInternal() override;
    // Boot: the recorded psp sub-object (may be null).
    virtual void LoadConfigInternal(const HaldenConfigStore::ConfigStoreObject* psp);

protected:
    const KsiNmpDeviceInfo& Info() {
        if (_stale)
            Refresh();
        return _info;
    }
    // Writes "pspconfig" and `config` to the device's node.
    void WritePspConfig(const std::string& config, const char* refusal);
    // Records a change of the device's psp sub-object (plugin "NMP", psp type).
    void UpdatePsp(const std::function<void(HaldenConfigStore::ConfigStoreObject& psp)>& change);

    std::string _device;
    std::string _policy;
    KsiNmpDeviceInfo _info{};
    bool _stale = true;
};

class FixedPathSelectionPolicyDeviceConfigImpl
    : public virtual HostCtl::Storage::Nmp::FixedPathSelectionPolicyDeviceConfig,
      public PathSelectionPolicyDeviceConfigImpl {
public:
    explicit FixedPathSelectionPolicyDeviceConfigImpl(const std::string& device);

    void SetPreferredPath(HostCtl::Storage::ScsiPath* path) override;
    void SetPreferredPath(const std::string& name) override;
    void ClearPreferredPath() override;
    std::unique_ptr<HostCtl::Storage::ScsiPath> GetPreferredPath() override;
    std::string GetPreferredPathUid() override;
    std::string GetPreferredPathRuntimeName() override;
    std::string GetPreferredPathConfiguredName() override;
    std::unique_ptr<HostCtl::Storage::ScsiPath> GetActivePath() override;
    std::string GetActivePathUid() override;
    std::string GetActivePathRuntimeName() override;
    using PathSelectionPolicyDeviceConfigImpl::LoadConfigInternal;
    void LoadConfigInternal(const HaldenConfigStore::ConfigStoreObject* psp) override;
};

class RoundRobinPathSelectionPolicyDeviceConfigImpl
    : public virtual HostCtl::Storage::Nmp::RoundRobinPathSelectionPolicyDeviceConfig,
      public PathSelectionPolicyDeviceConfigImpl {
public:
    explicit RoundRobinPathSelectionPolicyDeviceConfigImpl(const std::string& device);

    std::string GetConfiguredString() override;
    void SetConfigurationString(const std::string& config) override;
    std::string GetPathSwitchPolicy() override;
    uint64_t GetPathSwitchByteLimit() override { return Info().bytes; }
    void SetPathSwitchByteLimit(uint32_t bytes) override;
    uint32_t GetPathSwitchIOsLimit() override { return Info().iops; }
    void SetPathSwitchIOsLimit(uint32_t iops) override;
    void SetDefaultValues() override;
    void SetPathSwitchLatencyBasedPolicy() override;
    void SetPathLatencyEvalTime(uint32_t time) override;
    void SetPathNumSamplingCycles(uint32_t cycles) override;
    bool GetUseANOPaths() override { return Info().useANO != 0; }
    uint32_t GetPathLatencyInterval() override { return Info().latencyEvalTime; }
    uint32_t GetPathNumSamplingCycles() override { return Info().samplingCycles; }
    void SetUseANOPaths(bool use) override;
    using PathSelectionPolicyDeviceConfigImpl::LoadConfigInternal;
    void LoadConfigInternal(const HaldenConfigStore::ConfigStoreObject* psp) override;

private:
    void Apply(const std::string& config, const std::function<void(HaldenConfigStore::ConfigStoreObject& rr)>& record);
};

class MruPathSelectionPolicyDeviceConfigImpl
    : public virtual HostCtl::Storage::Nmp::MruPathSelectionPolicyDeviceConfig,
      public PathSelectionPolicyDeviceConfigImpl {
public:
    explicit MruPathSelectionPolicyDeviceConfigImpl(const std::string& device);
    using PathSelectionPolicyDeviceConfigImpl::LoadConfigInternal;
    void LoadConfigInternal(const HaldenConfigStore::ConfigStoreObject* psp) override {}
};

class NmpDeviceConfigImpl : public virtual HostCtl::Storage::Nmp::NmpDeviceConfig,
                            public virtual TarnCtl::Lib::TarnCtlObject {
public:
    explicit NmpDeviceConfigImpl(const std::string& device);

    void Refresh() override;
    std::string GetName() const override { return _device; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::string GetDeviceName() override { return _device; }
    std::unique_ptr<HostCtl::Storage::Lun> GetDevice() override;
    std::vector<std::string> GetAttachedFilterNames() override;
    void LoadConfigInternal() override;
    // Boot: replays the recorded block_devices object of the device.
    void LoadConfigInternal(const HaldenConfigStore::ConfigStoreObject& object);
    std::unique_ptr<HostCtl::Storage::Nmp::StorageArrayType> GetStorageArrayType() override;
    std::string GetStorageArrayTypeString() override;
    std::string GetStorageArrayTypeOptionString(bool configured) override;
    void SetStorageArrayTypeOptionString(const std::string& options, bool persist) override;
    std::unique_ptr<HostCtl::Storage::Nmp::PathSelectionPolicy> GetPathSelectionPolicy() override;
    std::string GetPathSelectionPolicyName() override;
    void SetPathSelectionPolicy(const std::string& name) override;
    std::unique_ptr<HostCtl::Storage::Nmp::PathSelectionPolicyDeviceConfig> GetPathSelectionPolicyDeviceConfig()
        override;
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> GetWorkingPathSet() override;
    std::vector<std::string> GetWorkingPathSetUids() override;
    std::vector<std::string> GetWorkingPathSetRuntimeNames() override;
    void ResetPathSelectionPolicy() override;

    // The device's satp / psp sub-object as the kernel has them now, for
    // completing entries recorded while the device was absent.
    void FillSatpConfig(HaldenConfigStore::ConfigStoreObject& satp);
    void FillPspConfig(HaldenConfigStore::ConfigStoreObject& psp);
    // The policy configuration object for a PSP name.
    static std::unique_ptr<PathSelectionPolicyDeviceConfigImpl> PolicyConfig(const std::string& device,
                                                                             const std::string& psp);

private:
    const KsiNmpDeviceInfo& Info() {
        if (_stale)
            Refresh();
        return _info;
    }
    std::string _device;
    KsiNmpDeviceInfo _info{};
    bool _stale = true;
};

class NmpScsiPathConfigImpl : public virtual HostCtl::Storage::Nmp::NmpScsiPathConfig,
                              public virtual TarnCtl::Lib::TarnCtlObject {
public:
    NmpScsiPathConfigImpl(const std::string& device, const std::string& path, const std::string& pathUid);

    void Refresh() override {}
    std::string GetName() const override { return _path; }
    HostCtl::Storage::Nmp::NmpPathInfo GetPathInfo() override;
    std::string GetStorageArrayTypeConfigString() override { return GetPathInfo().satpConfig; }
    void SetStorageArrayTypeConfigString(const std::string& config) override;
    std::string GetPathSelectionPolicyConfigString() override { return GetPathInfo().pspConfig; }
    void SetPathSelectionPolicyConfigString(const std::string& config) override;
    std::string GetNmpPathStateString() override { return GetPathInfo().groupState; }
    uint32_t GetNmpPathPriority() override { return GetPathInfo().priority; }

private:
    void Write(const char* verb, const std::string& config, const char* refusal, const char* field);
    std::string _device, _path, _pathUid;
};

}  // namespace TarnCtl::Storage::Nmp
