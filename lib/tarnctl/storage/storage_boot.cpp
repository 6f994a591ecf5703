// The storage domain's boot steps: replay each device's stored settings
// (state, queue tuning), name devices from their configured display names,
// then scrub stored device configuration.
#include "hostctl/exception.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "storage/lun_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

namespace {

// Every device with a block_devices object that is present now gets its
// settings back; absent devices keep theirs for when they return.
void RestoreDeviceSettings() {
    auto store = Store();
    auto objects = store->List(std::make_shared<HaldenConfigStore::FilterSpecObject>(
        HaldenConfigStore::ConfigStoreObjectId("block_devices", "storage", "halden")));
    for (const auto& object : objects) {
        const std::string uid = object->GetConfigStoreObjectId().GetInstanceId();
        try {
            auto lun = StorageInfoImpl::GetLun(uid, false);
            if (lun)
                lun->LoadConfig();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to restore settings of device %s: %s\n", "StorageInfo", uid.c_str(),
                               e.what());
        }
    }
}

const Platform::Boot::Step kDevices("storage.devices", 400, RestoreDeviceSettings);
const Platform::Boot::Step kNames("storage.names", 410, [] { StorageInfoImpl().LoadConfig(); });
const Platform::Boot::Step kScrub("storage.scrub", 490, [] { StorageInfoImpl().PsaPostBootScrub(); });

}  // namespace

}  // namespace TarnCtl::Storage
