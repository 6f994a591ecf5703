// A path: read lazily from its info and UID records; its state is read afresh
// on every call because it changes under the caller.
#include "storage/scsi_path_impl.h"

#include "platform/printer.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

ScsiPathImpl::ScsiPathImpl(const std::string& runtimeName) : _runtimeName(runtimeName) {}

void ScsiPathImpl::Refresh() {
    _info = KsiRead<KsiStoragePathInfo>(KSI_NODE_storage_scsifw_paths_info, {_runtimeName});
    _uid = KsiRead<KsiStoragePathUid>(KSI_NODE_storage_scsifw_paths_pathUid, {_runtimeName});
    _stale = false;
}

std::string ScsiPathImpl::GetIdentifier() {
    RefreshIfStale();
    return FixedString(_uid.adapterUid) + "-" + FixedString(_uid.targetUid) + "-" +
           FixedString(_uid.deviceUid);
}

std::string ScsiPathImpl::GetAdapterIdentifier() { RefreshIfStale(); return FixedString(_uid.adapterUid); }
std::string ScsiPathImpl::GetTargetIdentifier() { RefreshIfStale(); return FixedString(_uid.targetUid); }
std::string ScsiPathImpl::GetDeviceIdentifier() { RefreshIfStale(); return FixedString(_info.deviceUid); }
std::string ScsiPathImpl::GetAdapterName() { RefreshIfStale(); return FixedString(_info.adapter); }
uint32_t ScsiPathImpl::GetChannelNumber() { RefreshIfStale(); return _info.channel; }
uint32_t ScsiPathImpl::GetTargetNumber() { RefreshIfStale(); return _info.target; }
uint32_t ScsiPathImpl::GetLun() { RefreshIfStale(); return _info.lun; }
uint32_t ScsiPathImpl::GetMaxIOSize() { RefreshIfStale(); return _info.maxIOSize; }

std::string ScsiPathImpl::GetMultipathPluginIdentifier() {
    RefreshIfStale();
    std::string plugin = FixedString(_info.plugin);
    return plugin.empty() ? "(unclaimed)" : plugin;
}

std::unique_ptr<HostCtl::Storage::Lun> ScsiPathImpl::GetDevice() {
    return StorageInfoImpl().GetDeviceByName(GetDeviceIdentifier(), false);
}

std::unique_ptr<HostCtl::Storage::ScsiInterface> ScsiPathImpl::GetAdapter() {
    return StorageInfoImpl().GetScsiInterface(GetAdapterName());
}

HostCtl::Storage::ScsiPath::PathState ScsiPathImpl::GetState() {
    return static_cast<PathState>(
        KsiRead<KsiStorageValue>(KSI_NODE_storage_scsifw_paths_state, {_runtimeName}).value);
}

std::string ScsiPathImpl::GetStateString() {
    return ScsiPath::GetStateString(GetState());
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
