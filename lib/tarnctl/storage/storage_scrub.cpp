// After boot, stored device configuration is brought up to date: multipathing
// sub-objects written while a device was absent are settled, and the settings
// of NVMe devices recorded under their legacy UID move to their current UID.
#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/log.h"
#include "storage/lun_impl.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::FilterSpecObject;
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "StorageInfo";

std::vector<std::shared_ptr<ConfigStoreObject>> List(const char* key) {
    return Store()->List(std::make_shared<FilterSpecObject>(ConfigStoreObjectId(key, "storage", "halden")));
}

ConfigStoreObjectId UidMapId(const std::string& legacyUid) {
    return ConfigStoreObjectId("device_uid_maps", "storage", "halden", legacyUid);
}

// A multipathing sub-object written while its device was absent holds
// "SATP_UNKNOWN" / "PSP_UNKNOWN". Once the device is back, the native
// plug-in's present configuration fills it in; a device that another plug-in
// claimed has no use for it and it is dropped. Absent devices keep theirs.
void PsaHandleMissingDeviceConfig() {
    auto store = Store();
    for (const auto& object : List("block_devices")) {
        const std::string uid = object->GetConfigStoreObjectId().GetInstanceId();
        for (const auto& [field, unknown] : {std::pair<const char*, const char*>{"satp", "SATP_UNKNOWN"},
                                             std::pair<const char*, const char*>{"psp", "PSP_UNKNOWN"}}) {
            auto sub = object->GetSubObject(SubObjectId(field));
            std::string type;
            if (!sub || !sub->GetValue("type", &type) || type != unknown)
                continue;
            try {
                auto lun = StorageInfoImpl::GetLun(uid, false);
                if (!lun)
                    continue;
                HaldenConfigStore::ConfigStoreTransaction txn(store);
                if (lun->GetMultipathPluginName() != "NMP") {
                    object->DeleteSubObject(SubObjectId(field));
                } else {
                    Nmp::NmpDeviceConfigImpl config(lun->GetIdentifier());
                    if (std::string(field) == "satp")
                        config.FillSatpConfig(*sub);
                    else
                        config.FillPspConfig(*sub);
                }
                store->Write(object);
                txn.Commit();
            } catch (const HostCtlException& e) {
                if (std::string(field) == "satp")
                    TarnCtl_LogWarnInt("%s: PsaHandleMissingDeviceSatpConfig: failed to update SATP config for "
                                       "device id %s. Error %s\n",
                                       kTag, uid.c_str(), e.what());
                else
                    TarnCtl_LogWarnInt("%s: PsaPostBootScrub: PsaHandleMissingDeviceConfig: failed to update for "
                                       "device id %s PSP config. Error %s\n",
                                       kTag, uid.c_str(), e.what());
            }
        }
    }
}

// Records a UID map for every NVMe device that also carries a legacy UID.
void PsaUpdateMissingDeviceUidMaps() {
    auto store = Store();
    int added = 0;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    for (const auto& uid : KsiList(KSI_NODE_storage_scsifw_devices)) {
        try {
            auto info = KsiRead<KsiStorageDeviceInfo>(KSI_NODE_storage_scsifw_devices_info, {uid});
            if (!(info.flags & KSI_DEVICE_NVME))
                continue;
            for (const auto& other : KsiList(KSI_NODE_storage_scsifw_devices_uids, {uid})) {
                if (other.rfind("lgc", 0) != 0 || store->Get(UidMapId(other)))
                    continue;
                auto map = std::make_shared<ConfigStoreObject>(UidMapId(other));
                map->SetValue("new_uid", uid);
                map->SetValue("need_update", true);
                store->Write(map);
                ++added;
            }
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping lun %s: %s\n", kTag, uid.c_str(), e.what());
        }
    }
    txn.Commit();
    TarnCtl_LogInfoInt("%s: PsaUpdateMissingDeviceUidMaps: added %d new devices\n", kTag, added);
}

// Moves the block_devices object of `from` to `to` unless `to` already has one.
void PsaScrubDeviceConfig(const std::string& from, const std::string& to) {
    auto store = Store();
    auto old = store->Get(BlockDeviceId(from));
    if (!old || store->Get(BlockDeviceId(to)))
        return;
    auto moved = ConfigStoreObject::FromData(BlockDeviceId(to), old->GetData());
    moved->SetValue("device", to);
    store->Write(moved);
    store->Delete(BlockDeviceId(from));
}

// Points SATP claim rules of type DEVICE at `to` instead of `from`.
int PsaScrubSatpClaimrules(const std::string& from, const std::string& to) {
    auto store = Store();
    int scrubbed = 0;
    for (const auto& rule : List("nmp_claim_rules")) {
        auto criteria = rule->GetSubObject(SubObjectId("criteria"));
        std::string type, device;
        if (!criteria || !criteria->GetValue("type", &type) || type != "DEVICE" ||
            !criteria->GetValue("device", &device) || device != from)
            continue;
        criteria->SetValue("device", to);
        store->Write(rule);
        ++scrubbed;
    }
    return scrubbed;
}

// Moves stored settings along the UID maps; `forward` from legacy to new UIDs.
void ScrubAlongUidMaps(bool forward) {
    auto store = Store();
    int updated = 0;
    int rules = 0;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    for (const auto& map : List("device_uid_maps")) {
        const std::string legacy = map->GetConfigStoreObjectId().GetInstanceId();
        std::string current;
        bool needUpdate = false;
        if (!map->GetValue("new_uid", &current))
            continue;
        map->GetValue("need_update", &needUpdate);
        if (forward != needUpdate)
            continue;
        const std::string& from = forward ? legacy : current;
        const std::string& to = forward ? current : legacy;
        PsaScrubDeviceConfig(from, to);
        rules += PsaScrubSatpClaimrules(from, to);
        map->SetValue("need_update", !forward);
        store->Write(map);
        ++updated;
    }
    txn.Commit();
    if (updated == 0) {
        TarnCtl_LogInfoInt("%s: NVMe NGUID devices with the need of updating the config not found\n", kTag);
        return;
    }
    TarnCtl_LogInfoInt("%s: PsaScrubSatpClaimrules: Scrubbed %d rules\n", kTag, rules);
    TarnCtl_LogInfoInt("%s: PsaUpdateDeviceUidMaps: updated %d devices\n", kTag, updated);
}

}  // namespace

void StorageInfoImpl::PsaPostBootScrub() {
    PsaHandleMissingDeviceConfig();
    PsaUpdateMissingDeviceUidMaps();
    ScrubAlongUidMaps(true);
}

// Undoes the NVMe identity migration: settings go back to the legacy UIDs.
void PsaNguidDisableScrub() {
    TarnCtl_LogInfoInt("%s: reverting settings..\n", kTag);
    ScrubAlongUidMaps(false);
}

}  // namespace TarnCtl::Storage
