// Per-device and per-path configuration of the native plug-in. The kernel is
// written first; the recorded form follows in the device's block_devices
// object: `plugin`, the `satp` sub-object (one field per recognised option
// token of a platform SATP) and the `psp` sub-object (preferred path,
// round-robin settings).
#include "storage/nmp_device_config_impl.h"

#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "storage/nmp_options.h"
#include "storage/nmp_psa_plugin_impl.h"
#include "storage/scsi_path_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage::Nmp {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;
using HostCtl::Misc::StrPrintf;
using TarnCtl::Util::Sysinfo;

namespace {

std::shared_ptr<ConfigStoreObject> SubObject(ConfigStoreObject& parent, const char* name) {
    auto sub = parent.GetSubObject(SubObjectId(name));
    return sub ? sub : parent.CreateSubObject(SubObjectId(name));
}

// A recorded number that must fit the kernel's 32 bits.
uint32_t U32(const ConfigStoreObject& object, const char* field) {
    long v = 0;
    object.GetValue(field, &v);
    if (v < 0 || v > 0xffffffffL)
        throw HostCtlException(StrPrintf("Invalid value %ld for %s", v, field));
    return static_cast<uint32_t>(v);
}

std::unique_ptr<HostCtl::Storage::ScsiPath> PathOrNull(const std::string& runtimeName) {
    if (runtimeName.empty())
        return nullptr;
    return std::make_unique<ScsiPathImpl>(runtimeName);
}

}  // namespace

// ---- Policy settings, common part --------------------------------------------------------

PathSelectionPolicyDeviceConfigImpl::PathSelectionPolicyDeviceConfigImpl(const std::string& device,
                                                                         const std::string& policy)
    : _device(device), _policy(policy) {}

void PathSelectionPolicyDeviceConfigImpl::Refresh() {
    _info = NmpRead<KsiNmpDeviceInfo>(KSI_NMP_NODE_DEVICE, {_device});
    _stale = false;
}

std::string PathSelectionPolicyDeviceConfigImpl::GetConfigurationString() {
    Refresh();
    return FixedString(_info.pspConfig);
}

std::string PathSelectionPolicyDeviceConfigImpl::GetConfiguredString() {
    auto object = GetBlockDevice(_device);
    auto psp = object ? object->GetSubObject(SubObjectId("psp")) : nullptr;
    return StoreText(psp.get(), "options");
}

void PathSelectionPolicyDeviceConfigImpl::WritePspConfig(const std::string& config, const char* refusal) {
    Sysinfo si(KSI_NMP_NODE_CONFIG);
    NmpNode(si, {_device});
    si.SetMessageForError(TARN_NOT_FOUND, refusal);
    si.SetDefaultErrorMessage(("Unable to set the " + _policy + " configuration of device " + _device).c_str());
    si.AddInput("pspconfig");
    si.AddInput(config);
    si.Set();
    _stale = true;
}

void PathSelectionPolicyDeviceConfigImpl::UpdatePsp(const std::function<void(ConfigStoreObject&)>& change) {
    UpdateBlockDevice(_device, [&](ConfigStoreObject& object) {
        object.SetValue("plugin", "NMP");
        auto psp = SubObject(object, "psp");
        if (IsPlatformPsp(_policy)) {
            psp->SetValue("type", _policy);
        } else {
            psp->SetValue("type", kThirdPartyPsp);
            psp->SetValue("name", _policy);
        }
        change(*psp);
    });
}

void PathSelectionPolicyDeviceConfigImpl::SetConfigurationString(const std::string& config) {
    WritePspConfig(config, "The PSP does not support device configuration strings.");
    UpdatePsp([&](ConfigStoreObject& psp) {
        if (config.empty())
            psp.Remove("options");
        else
            psp.SetValue("options", config);
    });
}

void PathSelectionPolicyDeviceConfigImpl::LoadConfigInternal() {
    auto object = GetBlockDevice(_device);
    auto psp = object ? object->GetSubObject(SubObjectId("psp")) : nullptr;
    LoadConfigInternal(psp.get());
}

void PathSelectionPolicyDeviceConfigImpl::LoadConfigInternal(const ConfigStoreObject* psp) {
    const std::string options = StoreText(psp, "options");
    if (!options.empty())
        SetConfigurationString(options);
}

// ---- Fixed ---------------------------------------------------------------------------------

FixedPathSelectionPolicyDeviceConfigImpl::FixedPathSelectionPolicyDeviceConfigImpl(const std::string& device)
    : PathSelectionPolicyDeviceConfigImpl(device, PathSelectionPolicyImpl::FIXED_POLICY) {}

void FixedPathSelectionPolicyDeviceConfigImpl::SetPreferredPath(HostCtl::Storage::ScsiPath* path) {
    if (!path)
        throw HostCtlException("NULL or invalid path supplied to SetPreferredPath");
    const std::string runtime = path->GetRuntimeName();
    Sysinfo check(KSI_NMP_NODE_DEVICE_PATHS);
    NmpNode(check, {_device});
    if (!check.IsValidInstance(runtime))
        throw HostCtlException("Path " + runtime + " is not a path to the device " + _device);
    const std::string uid = path->GetIdentifier();
    Sysinfo si(KSI_NMP_NODE_CONFIG);
    NmpNode(si, {_device, runtime});
    si.SetMessageForError(TARN_NOT_FOUND, "The PSP does not support preferred paths.");
    si.SetDefaultErrorMessage(("Unable to set the preferred path of device " + _device).c_str());
    si.AddInput("pspconfig");
    si.AddInput("preferred");
    si.Set();
    _stale = true;
    UpdatePsp([&](ConfigStoreObject& psp) { psp.SetValue("preferred_path", uid); });
}

void FixedPathSelectionPolicyDeviceConfigImpl::SetPreferredPath(const std::string& name) {
    // The device's own paths first: a boot replaying many devices must not
    // walk every path of the host for each one.
    for (const auto& runtime : NmpList(KSI_NMP_NODE_DEVICE_PATHS, {_device})) {
        ScsiPathImpl candidate(runtime);
        if (runtime == name || candidate.GetIdentifier() == name) {
            SetPreferredPath(&candidate);
            return;
        }
    }
    auto path = StorageInfoImpl().GetPathByName(name);
    if (!path)
        throw HostCtlException(name + " is not a valid path");
    SetPreferredPath(path.get());
}

void FixedPathSelectionPolicyDeviceConfigImpl::ClearPreferredPath() {
    UpdatePsp([](ConfigStoreObject& psp) { psp.Remove("preferred_path"); });
}

std::unique_ptr<HostCtl::Storage::ScsiPath> FixedPathSelectionPolicyDeviceConfigImpl::GetPreferredPath() {
    Refresh();
    return PathOrNull(FixedString(_info.preferred));
}

std::string FixedPathSelectionPolicyDeviceConfigImpl::GetPreferredPathUid() {
    auto path = GetPreferredPath();
    return path ? path->GetIdentifier() : "";
}

std::string FixedPathSelectionPolicyDeviceConfigImpl::GetPreferredPathRuntimeName() {
    Refresh();
    return FixedString(_info.preferred);
}

std::string FixedPathSelectionPolicyDeviceConfigImpl::GetPreferredPathConfiguredName() {
    auto object = GetBlockDevice(_device);
    auto psp = object ? object->GetSubObject(SubObjectId("psp")) : nullptr;
    return StoreText(psp.get(), "preferred_path");
}

std::unique_ptr<HostCtl::Storage::ScsiPath> FixedPathSelectionPolicyDeviceConfigImpl::GetActivePath() {
    Refresh();
    return PathOrNull(FixedString(_info.current));
}

std::string FixedPathSelectionPolicyDeviceConfigImpl::GetActivePathUid() {
    auto path = GetActivePath();
    return path ? path->GetIdentifier() : "";
}

std::string FixedPathSelectionPolicyDeviceConfigImpl::GetActivePathRuntimeName() {
    Refresh();
    return FixedString(_info.current);
}

void FixedPathSelectionPolicyDeviceConfigImpl::LoadConfigInternal(const ConfigStoreObject* psp) {
    const std::string preferred = StoreText(psp, "preferred_path");
    if (preferred.empty())
        return;
    try {
        SetPreferredPath(preferred);
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Failed to set PSP config for PSP Fixed on device %s : %s\n",
                           "FixedPathSelectionPolicy", _device.c_str(), e.what());
        throw HostCtlException("Failed to set PSP Fixed config");
    }
}

// ---- Round robin ---------------------------------------------------------------------------

RoundRobinPathSelectionPolicyDeviceConfigImpl::RoundRobinPathSelectionPolicyDeviceConfigImpl(
    const std::string& device)
    : PathSelectionPolicyDeviceConfigImpl(device, PathSelectionPolicyImpl::RR_POLICY) {}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::Apply(const std::string& config,
                                                          const std::function<void(ConfigStoreObject&)>& record) {
    WritePspConfig(config, "The PSP does not support device configuration strings.");
    UpdatePsp([&](ConfigStoreObject& psp) { record(*SubObject(psp, "round_robin")); });
}

std::string RoundRobinPathSelectionPolicyDeviceConfigImpl::GetConfiguredString() {
    auto object = GetBlockDevice(_device);
    auto psp = object ? object->GetSubObject(SubObjectId("psp")) : nullptr;
    auto rr = psp ? psp->GetSubObject(SubObjectId("round_robin")) : nullptr;
    return rr ? RoundRobinFromStore(*rr) : "";
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::SetConfigurationString(const std::string& config) {
    auto options = ParsePspConfigString(config);
    ValidateRoundRobinOptions(options);
    Apply(config, [&](ConfigStoreObject& rr) { RoundRobinToStore(options, rr); });
}

std::string RoundRobinPathSelectionPolicyDeviceConfigImpl::GetPathSwitchPolicy() {
    Refresh();
    switch (_info.rrPolicy) {
    case KSI_NMP_RR_BYTES: return "bytes";
    case KSI_NMP_RR_LATENCY: return "latency";
    default: return "iops";
    }
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::SetDefaultValues() {
    Apply("policy=rr;iops=1000;bytes=10485760;useANO=0", [](ConfigStoreObject& rr) {
        for (const char* field : {"use_ano", "iops", "bytes", "latency_eval_time", "num_sampling_cycles"})
            rr.Remove(field);
        rr.SetValue("policy", "DEFAULT");
    });
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::SetPathSwitchIOsLimit(uint32_t iops) {
    Apply("policy=iops;iops=" + std::to_string(iops), [&](ConfigStoreObject& rr) {
        rr.SetValue("policy", "IOPS");
        rr.SetValue("iops", static_cast<long>(iops));
    });
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::SetPathSwitchByteLimit(uint32_t bytes) {
    Apply("policy=bytes;bytes=" + std::to_string(bytes), [&](ConfigStoreObject& rr) {
        rr.SetValue("policy", "BYTES");
        rr.SetValue("bytes", static_cast<long>(bytes));
    });
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::SetPathSwitchLatencyBasedPolicy() {
    Apply("policy=latency", [](ConfigStoreObject& rr) { rr.SetValue("policy", "LATENCY"); });
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::SetPathLatencyEvalTime(uint32_t time) {
    Apply(StrPrintf("latencyEvalTime=%u", time),
          [&](ConfigStoreObject& rr) { rr.SetValue("latency_eval_time", static_cast<long>(time)); });
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::SetPathNumSamplingCycles(uint32_t cycles) {
    Apply(StrPrintf("samplingCycles=%u", cycles),
          [&](ConfigStoreObject& rr) { rr.SetValue("num_sampling_cycles", static_cast<long>(cycles)); });
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::SetUseANOPaths(bool use) {
    Apply(std::string("useANO=") + (use ? "1" : "0"), [&](ConfigStoreObject& rr) { rr.SetValue("use_ano", use); });
}

void RoundRobinPathSelectionPolicyDeviceConfigImpl::LoadConfigInternal(const ConfigStoreObject* psp) {
    auto rr = psp ? psp->GetSubObject(SubObjectId("round_robin")) : nullptr;
    if (!rr)
        return;
    try {
        const std::string policy = StoreText(rr.get(), "policy");
        if (policy == "DEFAULT")
            SetDefaultValues();
        else if (policy == "IOPS" && rr->HasValue("iops"))
            SetPathSwitchIOsLimit(U32(*rr, "iops"));
        else if (policy == "BYTES" && rr->HasValue("bytes"))
            SetPathSwitchByteLimit(U32(*rr, "bytes"));
        else if (policy == "LATENCY")
            SetPathSwitchLatencyBasedPolicy();
        if (rr->HasValue("latency_eval_time"))
            SetPathLatencyEvalTime(U32(*rr, "latency_eval_time"));
        if (rr->HasValue("num_sampling_cycles"))
            SetPathNumSamplingCycles(U32(*rr, "num_sampling_cycles"));
        bool ano = false;
        if (rr->GetValue("use_ano", &ano))
            SetUseANOPaths(ano);
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Failed to set PSP config for PSP RR on device %s: %s\n",
                           "RoundRobinPathSelectionPolicy", _device.c_str(), e.what());
        throw HostCtlException("Failed to set PSP RR config");
    }
}

// ---- Most recently used --------------------------------------------------------------------

MruPathSelectionPolicyDeviceConfigImpl::MruPathSelectionPolicyDeviceConfigImpl(const std::string& device)
    : PathSelectionPolicyDeviceConfigImpl(device, PathSelectionPolicyImpl::MRU_POLICY) {}

// ---- The device ----------------------------------------------------------------------------

NmpDeviceConfigImpl::NmpDeviceConfigImpl(const std::string& device) : _device(device) {}

void NmpDeviceConfigImpl::Refresh() {
    _info = NmpRead<KsiNmpDeviceInfo>(KSI_NMP_NODE_DEVICE, {_device});
    _stale = false;
}

std::unique_ptr<PathSelectionPolicyDeviceConfigImpl> NmpDeviceConfigImpl::PolicyConfig(const std::string& device,
                                                                                       const std::string& psp) {
    if (psp == PathSelectionPolicyImpl::FIXED_POLICY)
        return std::make_unique<FixedPathSelectionPolicyDeviceConfigImpl>(device);
    if (psp == PathSelectionPolicyImpl::RR_POLICY)
        return std::make_unique<RoundRobinPathSelectionPolicyDeviceConfigImpl>(device);
    if (psp == PathSelectionPolicyImpl::MRU_POLICY)
        return std::make_unique<MruPathSelectionPolicyDeviceConfigImpl>(device);
    return std::make_unique<PathSelectionPolicyDeviceConfigImpl>(device, psp);
}

std::unique_ptr<HostCtl::Storage::Lun> NmpDeviceConfigImpl::GetDevice() {
    return StorageInfoImpl().GetDeviceByName(_device, false);
}

std::vector<std::string> NmpDeviceConfigImpl::GetAttachedFilterNames() {
    try {
        return KsiList(KSI_NODE_storage_scsifw_devices_filters, {_device});
    } catch (const HostCtlException&) {
        return {};
    }
}

std::unique_ptr<HostCtl::Storage::Nmp::StorageArrayType> NmpDeviceConfigImpl::GetStorageArrayType() {
    return std::make_unique<StorageArrayTypeImpl>(GetStorageArrayTypeString());
}

std::string NmpDeviceConfigImpl::GetStorageArrayTypeString() {
    return FixedString(Info().satp);
}

std::string NmpDeviceConfigImpl::GetStorageArrayTypeOptionString(bool configured) {
    if (!configured) {
        Refresh();
        return FixedString(_info.satpConfig);
    }
    auto object = GetBlockDevice(_device);
    auto satp = object ? object->GetSubObject(SubObjectId("satp")) : nullptr;
    if (!satp)
        return "";
    const std::string type = StoreText(satp.get(), "type");
    if (type == kThirdPartySatp)
        return StoreText(satp.get(), "options");
    return BuildSatpConfigString(type, *satp);
}

void NmpDeviceConfigImpl::SetStorageArrayTypeOptionString(const std::string& options, bool persist) {
    Sysinfo si(KSI_NMP_NODE_DEVICE_SATP_CONFIG);
    NmpNode(si, {_device});
    si.SetMessageForError(TARN_NOT_FOUND, "The SATP does not support device configuration strings.");
    si.AddInput("satpconfig");
    si.AddInput(options);
    si.Set();
    Refresh();
    if (!persist)
        return;
    const std::string satp = FixedString(_info.satp);
    bool valid = true;
    UpdateBlockDevice(_device, [&](ConfigStoreObject& object) {
        object.SetValue("plugin", "NMP");
        auto sub = object.GetSubObject(SubObjectId("satp"));
        const bool platform = IsPlatformSatp(satp);
        // Another SATP's fields mean nothing to this one.
        if (!sub || StoreText(sub.get(), "type") != (platform ? satp : std::string(kThirdPartySatp)) ||
            (!platform && StoreText(sub.get(), "name") != satp))
            sub = object.CreateSubObject(SubObjectId("satp"));
        if (platform) {
            sub->SetValue("type", satp);
            valid = ApplySatpOptionTokens(satp, options, *sub);
            return;
        }
        sub->SetValue("type", kThirdPartySatp);
        sub->SetValue("name", satp);
        if (options.empty())
            sub->Remove("options");
        else
            sub->SetValue("options", options);
    });
    // The recognised tokens are recorded all the same.
    if (!valid)
        throw HostCtlException("Invalid options provided for SATP " + satp);
}

std::unique_ptr<HostCtl::Storage::Nmp::PathSelectionPolicy> NmpDeviceConfigImpl::GetPathSelectionPolicy() {
    return std::make_unique<PathSelectionPolicyImpl>(GetPathSelectionPolicyName());
}

std::string NmpDeviceConfigImpl::GetPathSelectionPolicyName() {
    return FixedString(Info().psp);
}

void NmpDeviceConfigImpl::SetPathSelectionPolicy(const std::string& name) {
    if (name.empty())
        throw HostCtlException("Invalid PSP name.  PSP cannot be empty.");
    Sysinfo si(KSI_NMP_NODE_PSP_DEVICE);
    NmpNode(si, {name});
    si.SetDefaultErrorMessage(("Unable to set the path selection policy " + name + " for device " + _device).c_str());
    si.AddInput("device=" + _device);
    si.Set();
    Refresh();
    const std::string options = FixedString(_info.pspConfig);
    UpdateBlockDevice(_device, [&](ConfigStoreObject& object) {
        object.SetValue("plugin", "NMP");
        // A new policy starts from its defaults in the kernel; so does its record.
        auto psp = object.CreateSubObject(SubObjectId("psp"));
        if (IsPlatformPsp(name)) {
            psp->SetValue("type", name);
            return;
        }
        psp->SetValue("type", kThirdPartyPsp);
        psp->SetValue("name", name);
        if (!options.empty())
            psp->SetValue("options", options);
    });
}

void NmpDeviceConfigImpl::ResetPathSelectionPolicy() {
    const std::string current = GetPathSelectionPolicyName();
    Sysinfo si(KSI_NMP_NODE_PSP_DEVICE);
    NmpNode(si, {current});
    si.SetDefaultErrorMessage(("Unable to reset the path selection policy of device " + _device).c_str());
    si.AddInput("device=" + _device);
    si.AddInput("remove");
    si.Set();
    _stale = true;
    UpdateBlockDevice(_device, [](ConfigStoreObject& object) { object.DeleteSubObject(SubObjectId("psp")); });
}

std::unique_ptr<HostCtl::Storage::Nmp::PathSelectionPolicyDeviceConfig>
NmpDeviceConfigImpl::GetPathSelectionPolicyDeviceConfig() {
    return PolicyConfig(_device, GetPathSelectionPolicyName());
}

std::vector<std::string> NmpDeviceConfigImpl::GetWorkingPathSetRuntimeNames() {
    return NmpList(KSI_NMP_NODE_WORKING_PATHS, {_device});
}

std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> NmpDeviceConfigImpl::GetWorkingPathSet() {
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> out;
    for (const auto& name : GetWorkingPathSetRuntimeNames())
        out.push_back(std::make_unique<ScsiPathImpl>(name));
    return out;
}

std::vector<std::string> NmpDeviceConfigImpl::GetWorkingPathSetUids() {
    std::vector<std::string> out;
    for (auto& path : GetWorkingPathSet())
        out.push_back(path->GetIdentifier());
    return out;
}

void NmpDeviceConfigImpl::LoadConfigInternal() {
    auto object = GetBlockDevice(_device);
    if (object)
        LoadConfigInternal(*object);
}

void NmpDeviceConfigImpl::LoadConfigInternal(const ConfigStoreObject& object) {
    bool failed = false;
    const char* tag = "NmpDeviceConfigImpl";
    if (auto psp = object.GetSubObject(SubObjectId("psp"))) {
        const std::string type = StoreText(psp.get(), "type");
        const bool thirdParty = type == kThirdPartyPsp;
        const std::string name = thirdParty ? StoreText(psp.get(), "name") : type;
        if (type != "PSP_UNKNOWN" && !name.empty()) {
            bool set = false;
            try {
                SetPathSelectionPolicy(name);
                set = true;
            } catch (const HostCtlException& e) {
                failed = true;
                TarnCtl_LogWarnInt(thirdParty ? "%s: Unable to Set Third Party Policy: %s for the device %s: %s\n"
                                              : "%s: Unable to Set Policy: %s for the device %s: %s\n",
                                   tag, name.c_str(), _device.c_str(), e.what());
            }
            if (set) {
                try {
                    PolicyConfig(_device, name)->LoadConfigInternal(psp.get());
                } catch (const HostCtlException& e) {
                    failed = true;
                }
            }
        }
    }
    if (auto satp = object.GetSubObject(SubObjectId("satp"))) {
        const std::string type = StoreText(satp.get(), "type");
        try {
            std::string options;
            if (type == kThirdPartySatp)
                options = StoreText(satp.get(), "options");
            else if (type == "SATP_UNKNOWN")
                options = IsPlatformSatp(GetStorageArrayTypeString())
                              ? BuildSatpConfigString(GetStorageArrayTypeString(), *satp)
                              : "";
            else
                options = BuildSatpConfigString(type, *satp);
            if (!options.empty())
                SetStorageArrayTypeOptionString(options, false);
        } catch (const HostCtlException& e) {
            failed = true;
            TarnCtl_LogWarnInt("%s: Unable to set SATP options for the device %s: %s\n", tag, _device.c_str(),
                               e.what());
        }
    }
    if (failed)
        throw HostCtlException("Failed to add complete NMP configuration for device  to tarnos");
}

void NmpDeviceConfigImpl::FillSatpConfig(ConfigStoreObject& satp) {
    Refresh();
    const std::string name = FixedString(_info.satp);
    for (const auto& field : satp.GetFieldNames())
        satp.Remove(field);
    if (IsPlatformSatp(name)) {
        satp.SetValue("type", name);
        ApplySatpOptionTokens(name, FixedString(_info.satpConfig), satp);
        return;
    }
    satp.SetValue("type", kThirdPartySatp);
    satp.SetValue("name", name);
    if (_info.satpConfig[0])
        satp.SetValue("options", FixedString(_info.satpConfig));
}

void NmpDeviceConfigImpl::FillPspConfig(ConfigStoreObject& psp) {
    Refresh();
    const std::string name = FixedString(_info.psp);
    for (const auto& field : psp.GetFieldNames())
        psp.Remove(field);
    if (!IsPlatformPsp(name)) {
        psp.SetValue("type", kThirdPartyPsp);
        psp.SetValue("name", name);
        if (_info.pspConfig[0])
            psp.SetValue("options", FixedString(_info.pspConfig));
        return;
    }
    psp.SetValue("type", name);
    if (name == PathSelectionPolicyImpl::FIXED_POLICY && _info.preferred[0])
        psp.SetValue("preferred_path", ScsiPathImpl(FixedString(_info.preferred)).GetIdentifier());
    if (name == PathSelectionPolicyImpl::RR_POLICY) {
        auto rr = psp.CreateSubObject(SubObjectId("round_robin"));
        static const char* const kPolicies[] = {"IOPS", "BYTES", "LATENCY"};
        rr->SetValue("policy", kPolicies[_info.rrPolicy < 3 ? _info.rrPolicy : 0]);
        rr->SetValue("iops", static_cast<long>(_info.iops));
        rr->SetValue("bytes", static_cast<long>(_info.bytes));
        rr->SetValue("use_ano", _info.useANO != 0);
    }
}

void NmpDeviceConfigImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Nmp Device Config");
    printer->BeginObject();
    printer->Print("Device", _device);
    printer->Print("Storage Array Type", GetStorageArrayTypeString());
    printer->Print("Path Selection Policy", GetPathSelectionPolicyName());
    printer->EndObject();
}

// ---- Paths ---------------------------------------------------------------------------------

NmpScsiPathConfigImpl::NmpScsiPathConfigImpl(const std::string& device, const std::string& path,
                                             const std::string& pathUid)
    : _device(device), _path(path), _pathUid(pathUid) {}

HostCtl::Storage::Nmp::NmpPathInfo NmpScsiPathConfigImpl::GetPathInfo() {
    auto record = NmpRead<KsiNmpPathInfo>(KSI_NMP_NODE_DEVICE_PATHS, {_device, _path});
    HostCtl::Storage::Nmp::NmpPathInfo info;
    info.groupState = FixedString(record.groupState);
    info.priority = record.priority;
    info.satpConfig = FixedString(record.satpConfig);
    info.pspConfig = FixedString(record.pspConfig);
    return info;
}

void NmpScsiPathConfigImpl::Write(const char* verb, const std::string& config, const char* refusal,
                                  const char* field) {
    Sysinfo si(KSI_NMP_NODE_CONFIG);
    NmpNode(si, {_device, _path});
    si.SetMessageForError(TARN_NOT_FOUND, refusal);
    si.AddInput(verb);
    si.AddInput(config);
    si.Set();
    auto store = Store();
    if (store->IsBoot())
        return;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    auto object = store->Get(ScsiPathImpl::PathId(_pathUid));
    if (!object)
        object = std::make_shared<ConfigStoreObject>(ScsiPathImpl::PathId(_pathUid));
    object->SetValue(field, config);
    store->Write(object);
    txn.Commit();
}

void NmpScsiPathConfigImpl::SetStorageArrayTypeConfigString(const std::string& config) {
    Write("satpconfig", config, "The SATP does not support path configuration strings.", "satp");
}

void NmpScsiPathConfigImpl::SetPathSelectionPolicyConfigString(const std::string& config) {
    Write("pspconfig", config, "The PSP does not support path configuration strings.", "psp");
}

}  // namespace TarnCtl::Storage::Nmp
