// A path: read lazily from its info and UID records; its state is read afresh
// on every call because it changes under the caller.
#include "storage/scsi_path_impl.h"

#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/printer.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/nmp_psa_plugin_impl.h"
#include "storage/scsi_interface_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HostCtl::Lib::HostCtlException;

namespace {
enum : uint32_t { kUniqueId = 1, kPersistableId = 2 };
}

ScsiPathImpl::ScsiPathImpl(std::string runtimeName) : _runtimeName(std::move(runtimeName)) {}

std::unique_ptr<ScsiPathImpl> ScsiPathImpl::GetPath(const std::string& name) {
    auto path = StorageInfoImpl().GetPathByName(name);
    if (!path)
        return nullptr;
    return std::make_unique<ScsiPathImpl>(path->GetRuntimeName());
}

ConfigStoreObjectId ScsiPathImpl::PathId(const std::string& pathUid) {
    return ConfigStoreObjectId("paths", "storage", "halden", pathUid);
}

void ScsiPathImpl::Refresh() {
    const auto info = KsiRead<KsiStoragePathInfo>(KSI_NODE_storage_scsifw_paths_info, {_runtimeName});
    const std::string adapterName = FixedString(info.adapter), device = FixedString(info.deviceUid),
                      plugin = FixedString(info.plugin);
    _info.text = adapterName + device + plugin + FixedString(info.controller);
    _info.adapterLength = static_cast<uint16_t>(adapterName.size());
    _info.deviceLength = static_cast<uint16_t>(device.size());
    _info.pluginLength = static_cast<uint16_t>(plugin.size());
    _info.channel = info.channel;
    _info.target = info.target;
    _info.lun = info.lun;
    _info.nsId = info.nsId;
    _info.flags = info.flags;
    _info.maxIOSize = info.maxIOSize;
    const auto uid = KsiRead<KsiStoragePathUid>(KSI_NODE_storage_scsifw_paths_pathUid, {_runtimeName});
    const std::string adapter = FixedString(uid.adapterUid), target = FixedString(uid.targetUid);
    _identifier = adapter + "-" + target + "-" + FixedString(uid.deviceUid);
    _adapterUidLength = static_cast<uint32_t>(adapter.size());
    _targetUidLength = static_cast<uint32_t>(target.size());
    _stale = false;
}

std::string ScsiPathImpl::GetIdentifier() {
    RefreshIfStale();
    return _identifier;
}

std::string ScsiPathImpl::GetAdapterIdentifier() {
    RefreshIfStale();
    return _identifier.substr(0, _adapterUidLength);
}
std::string ScsiPathImpl::GetTargetIdentifier() {
    RefreshIfStale();
    return _identifier.substr(_adapterUidLength + 1, _targetUidLength);
}
std::string ScsiPathImpl::GetDeviceUid() {
    RefreshIfStale();
    return _identifier.substr(_adapterUidLength + _targetUidLength + 2);
}
std::string ScsiPathImpl::GetControllerName() {
    RefreshIfStale();
    return InfoText(_info.adapterLength + _info.deviceLength + _info.pluginLength, std::string::npos);
}
uint32_t ScsiPathImpl::GetNSId() { RefreshIfStale(); return _info.nsId; }
bool ScsiPathImpl::IsUniqueIdentifier() { RefreshIfStale(); return (_info.flags & kUniqueId) != 0; }
bool ScsiPathImpl::IsPersistableIdentifier() { RefreshIfStale(); return (_info.flags & kPersistableId) != 0; }
std::string ScsiPathImpl::GetDeviceIdentifier() {
    RefreshIfStale();
    return InfoText(_info.adapterLength, _info.deviceLength);
}
std::string ScsiPathImpl::GetAdapterName() { RefreshIfStale(); return InfoText(0, _info.adapterLength); }
uint32_t ScsiPathImpl::GetChannelNumber() { RefreshIfStale(); return _info.channel; }
uint32_t ScsiPathImpl::GetTargetNumber() { RefreshIfStale(); return _info.target; }
uint32_t ScsiPathImpl::GetLun() { RefreshIfStale(); return _info.lun; }
uint32_t ScsiPathImpl::GetMaxIOSize() { RefreshIfStale(); return _info.maxIOSize; }

std::string ScsiPathImpl::GetMultipathPluginIdentifier() {
    RefreshIfStale();
    std::string plugin = InfoText(_info.adapterLength + _info.deviceLength, _info.pluginLength);
    return plugin.empty() ? "(unclaimed)" : plugin;
}

std::unique_ptr<HostCtl::Lib::HostCtlObject> ScsiPathImpl::GetMultipathPlugin() {
    if (GetMultipathPluginIdentifier() != "NMP")
        return nullptr;
    return std::make_unique<Nmp::NmpPsaPluginImpl>();
}

std::unique_ptr<HostCtl::Storage::Lun> ScsiPathImpl::GetDevice() {
    return StorageInfoImpl().GetDeviceByName(GetDeviceIdentifier(), false);
}

std::unique_ptr<HostCtl::Storage::ScsiInterface> ScsiPathImpl::GetAdapter() {
    return StorageInfoImpl().GetScsiInterface(GetAdapterName());
}

void ScsiPathImpl::Claim() {
    StorageInfoImpl().ClaimPaths(HostCtl::Storage::MP, GetAdapterName(), GetChannelNumber(), GetTargetNumber(),
                                 GetLun());
    _stale = true;
}

void ScsiPathImpl::Unclaim() {
    StorageInfoImpl().UnclaimPaths(HostCtl::Storage::MP, GetAdapterName(), GetChannelNumber(), GetTargetNumber(),
                                   GetLun());
    _stale = true;
}

HostCtl::Storage::ScsiPath::PathState ScsiPathImpl::GetState() {
    return static_cast<PathState>(
        KsiRead<KsiStorageValue>(KSI_NODE_storage_scsifw_paths_state, {_runtimeName}).value);
}

std::string ScsiPathImpl::GetStateString() {
    return ScsiPath::GetStateString(GetState());
}

void ScsiPathImpl::SetState(PathState state) {
    if (state != ACTIVE && state != OFF)
        throw HostCtlException("Cannot set path to any states other than on or off");
    // Read before the change so that a refused identifier read changes nothing.
    const bool persistable = IsPersistableIdentifier();
    const std::string uid = GetIdentifier();
    TarnCtl::Util::Sysinfo si(KSI_NODE_storage_scsifw_paths_state);
    si.SetInstance(_runtimeName);
    si.SetMessageForError(TARN_BUSY, "Unable to change path state, the path is marked as 'busy' by the Tarnos.");
    si.AddInput(static_cast<unsigned long>(state));
    si.Set();
    if (InBootMode())
        return;
    if (!persistable) {
        TarnCtl_LogWarnInt("%s: Path identifier %s is not persistable. Settings won't be persisted across reboot\n",
                           "ScsiPathImpl", uid.c_str());
        return;
    }
    auto store = Store();
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    auto object = store->Get(PathId(uid));
    if (!object)
        object = std::make_shared<ConfigStoreObject>(PathId(uid));
    object->SetValue("state", state == OFF ? "OFF" : "ACTIVE");
    store->Write(object);
    txn.Commit();
}

std::unique_ptr<HostCtl::Storage::Nmp::NmpScsiPathConfig> ScsiPathImpl::GetScsiPathConfig() {
    if (GetMultipathPluginIdentifier() != "NMP")
        return nullptr;
    return std::make_unique<Nmp::NmpScsiPathConfigImpl>(GetDeviceIdentifier(), _runtimeName, GetIdentifier());
}

std::string ScsiPathImpl::GetTransportMapping() {
    auto adapter = GetAdapter();
    return adapter ? adapter->GetTransportMapping(_runtimeName) : std::string();
}

void ScsiPathImpl::GetScsiStats(HostCtl::Storage::ScsiStats& stats) {
    auto record = KsiRead<KsiStorageStats>(KSI_NODE_storage_scsifw_paths_stats, {_runtimeName});
    stats.io.SetValues(record.counters);
}

void ScsiPathImpl::RemoveNmpSettings() {
    const std::string uid = GetIdentifier();
    auto store = Store();
    if (store->IsBoot())
        return;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    auto object = store->Get(PathId(uid));
    if (!object)
        return;
    object->Remove("psp");
    object->Remove("satp");
    if (object->IsEmpty())
        store->Delete(PathId(uid));
    else
        store->Write(object);
    txn.Commit();
}

void ScsiPathImpl::LoadConfig() {
    auto object = Store()->Get(PathId(GetIdentifier()));
    if (object)
        LoadConfigInternal(*object);
}

void ScsiPathImpl::LoadConfigInternal(const ConfigStoreObject& object) {
    std::string state;
    if (object.GetValue("state", &state) && state == "OFF")
        SetState(OFF);
    std::string satp, psp;
    object.GetValue("satp", &satp);
    object.GetValue("psp", &psp);
    if (satp.empty() && psp.empty())
        return;
    auto config = GetScsiPathConfig();
    if (!config)
        return;
    if (!satp.empty())
        config->SetStorageArrayTypeConfigString(satp);
    if (!psp.empty())
        config->SetPathSelectionPolicyConfigString(psp);
}

void ScsiPathImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Scsi Path");
    printer->BeginObject();
    printer->Print("Runtime Name", _runtimeName);
    printer->Print("UID", GetIdentifier());
    printer->Print("Adapter", GetAdapterName());
    printer->Print("Device", GetDeviceIdentifier());
    printer->Print("Plugin", GetMultipathPluginIdentifier());
    printer->Print("State", GetStateString());
    printer->EndObject();
}

}  // namespace TarnCtl::Storage
