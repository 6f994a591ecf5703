// A device's multipathing operations: its native plug-in configuration,
// releasing and filtering its paths, and forgetting what an earlier plug-in
// recorded for it.
#include "hostctl/exception.h"
#include "storage/lun_impl.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

std::unique_ptr<HostCtl::Storage::Nmp::NmpDeviceConfig> LunImpl::GetDeviceConfig() {
    if (GetMultipathPluginName() != "NMP")
        return nullptr;
    return std::make_unique<Nmp::NmpDeviceConfigImpl>(GetIdentifier());
}

void LunImpl::UnclaimAllPaths() {
    StorageInfoImpl().UnclaimPathsByDevice(GetIdentifier());
    _stale = true;
}

void LunImpl::ClaimFilters() {
    TarnCtl::Util::Sysinfo si(KSI_NODE_storage_scsifw_claimrule);
    si.SetDefaultErrorMessage(("Unable to claim filters for device " + GetIdentifier()).c_str());
    si.AddInput("claim");
    si.AddInput("plugintype=Filter");
    si.AddInput("format=deviceuid");
    si.AddInput("deviceuid=" + GetIdentifier());
    si.Set();
}

// The plug-in fields of a device's record belong to the plug-in that wrote
// them; a device moving to another plug-in starts without them.
void LunImpl::CleanPrevMppConfig() {
    UpdateBlockDevice(GetIdentifier(), [](HaldenConfigStore::ConfigStoreObject& object) {
        object.Remove("plugin");
        for (const char* sub : {"satp", "psp", "nmp", "hpp"})
            object.DeleteSubObject(HaldenConfigStore::SubObjectId(sub));
    });
}

}  // namespace TarnCtl::Storage
