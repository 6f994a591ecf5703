// The multipathing boot step: the native plug-in's SATP defaults and claim
// rules, then each present NMP device's recorded PSP, policy settings and SATP
// options, then recorded path states and path option strings. It runs before
// devices are named. Every failure is logged and the replay goes on.
#include <map>

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "storage/lun_impl.h"
#include "storage/nmp_boot.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/nmp_psa_plugin_impl.h"
#include "storage/scsi_path_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage::Nmp {

using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::FilterSpecObject;
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;

namespace {

void RestoreDevices() {
    auto objects = Store()->List(std::make_shared<FilterSpecObject>(ConfigStoreObjectId("block_devices", "storage", "halden")));
    for (const auto& object : objects) {
        if (!object->GetSubObject(SubObjectId("psp")) && !object->GetSubObject(SubObjectId("satp")))
            continue;
        const std::string uid = object->GetConfigStoreObjectId().GetInstanceId();
        try {
            // Absent devices and devices of another plug-in keep their record.
            auto lun = StorageInfoImpl::GetLun(uid, false);
            if (!lun || lun->GetMultipathPluginName() != "NMP")
                continue;
            NmpDeviceConfigImpl(lun->GetIdentifier()).LoadConfigInternal(*object);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to restore NMP configuration of device %s: %s\n", "NmpDeviceConfigImpl",
                               uid.c_str(), e.what());
        }
    }
}

void RestorePaths() {
    auto objects = Store()->List(
        std::make_shared<FilterSpecObject>(ConfigStoreObjectId("paths", "storage", "halden")));
    if (objects.empty())
        return;
    // Recorded by path UID; one pass over the paths maps them to runtime names.
    std::map<std::string, std::string> byUid;
    for (const auto& name : KsiList(KSI_NODE_storage_scsifw_paths)) {
        try {
            byUid[ScsiPathImpl(name).GetIdentifier()] = name;
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping path %s: %s\n", "ScsiPathImpl", name.c_str(), e.what());
        }
    }
    for (const auto& object : objects) {
        const std::string uid = object->GetConfigStoreObjectId().GetInstanceId();
        auto it = byUid.find(uid);
        if (it == byUid.end())
            continue;
        try {
            ScsiPathImpl(it->second).LoadConfigInternal(*object);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to restore settings of path %s: %s\n", "ScsiPathImpl", uid.c_str(),
                               e.what());
        }
    }
}

}  // namespace

void RestoreMultipathing() {
    if (!NmpPsaPluginImpl::IsLoaded()) {
        TarnCtl_LogWarnInt("%s: The NMP plug-in is not loaded; nothing to restore\n", "NmpPsa");
        return;
    }
    NmpPsaPluginImpl().LoadConfig();
    RestoreDevices();
    RestorePaths();
}

namespace {

const Platform::Boot::Step kMultipathing("storage.multipath", 405, RestoreMultipathing);

}  // namespace

}  // namespace TarnCtl::Storage::Nmp
