// Checks of a desired block_devices entry, in the order users see their
// results: device name, queue-full pair, detaching a device in use, present
// status, overrides for local and NVMe devices only, not-shared on local
// devices, then the multipathing plug-in's own checks.
#include "storage/device_config_validation.h"

#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/log.h"
#include "storage/lun_impl.h"
#include "storage/nmp_validation.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

using HaldenConfigManager::ValidationErrorInfo;

DeviceConfigValidator::SubValidator DeviceConfigValidator::_hppDeviceValidateConfig;
DeviceConfigValidator::SubValidator DeviceConfigValidator::_nmpDeviceValidateConfig = Nmp::NMPDeviceValidateConfig;

bool DeviceConfigValidator::CheckLunInUse(const std::string& device) {
    return !KsiList(KSI_NODE_storage_scsifw_devices_worlds, {device}).empty();
}

void DeviceConfigValidator::ValidateDeviceConfig(std::vector<ValidationErrorInfo>& result,
                                                 const HaldenConfigStore::ConfigStoreObject& object, int index) {
    const std::string base = "/halden/storage/block_devices/" + std::to_string(index);
    auto record = [&](const std::string& field, const std::string& suffix, std::vector<std::string> args) {
        result.push_back({base + field,
                          {std::string(HaldenConfigManager::kValidationMessageNamespace) +
                               "halden.storage.block_devices." + suffix,
                           std::move(args)}});
    };
    std::string device;
    object.GetValue("device", &device);
    if (device.empty()) {
        TarnCtl_LogErrorInt("Device name missing for index = %d", index);
        record("/device", "misssing_device_name", {});
        return;
    }
    try {
        auto lun = StorageInfoImpl::GetLun(device, false);
        if (!lun) {
            TarnCtl_LogErrorInt("Unknown Device: %s", device.c_str());
            record("/device", "unknown_device", {device});
            return;
        }
        const bool hasThreshold = object.HasValue("queue_full_threshold");
        const bool hasSample = object.HasValue("queue_full_sample_size");
        if (hasThreshold != hasSample)
            record(hasThreshold ? "/queue_full_sample_size" : "/queue_full_threshold", "qfThreshold_qfSampleSize",
                   {device});
        std::string state;
        object.GetValue("state", &state);
        if (state == "OFF" && CheckLunInUse(lun->GetIdentifier()))
            record("/state", "device_in_use", {device});
        if (hasThreshold && hasSample) {
            long threshold = 0, sample = 0;
            object.GetValue("queue_full_threshold", &threshold);
            object.GetValue("queue_full_sample_size", &sample);
            if (threshold > sample)
                record("/queue_full_threshold", "invalid_qFullThreshold", {device});
            if (lun->GetStatus() == HostCtl::Storage::Lun::LUN_OFF && state != "ON")
                record("/state", "invalid_present_status", {device});
        }
        if (!lun->IsLocal() && !lun->IsNVMe()) {
            for (const char* field : {"ats_supported", "clone_supported", "delete_supported", "zero_supported"})
                if (object.HasValue(field))
                    record(std::string("/") + field, "not_local", {field, device});
        }
        bool notShared = true;
        if (object.GetValue("not_shared", &notShared) && !notShared && lun->IsLocal())
            record("/not_shared", "notShared", {device});
        const std::string plugin = lun->GetMultipathPluginName();
        if (object.GetSubObject(HaldenConfigStore::SubObjectId("hpp"))) {
            if (plugin == "HPP") {
                if (_hppDeviceValidateConfig)
                    _hppDeviceValidateConfig(result, object, index);
            } else {
                TarnCtl_LogInfoInt("Currently Device: %s is not claimed by HPPplugin", device.c_str());
            }
        }
        if (object.GetSubObject(HaldenConfigStore::SubObjectId("nmp"))) {
            if (plugin == "NMP") {
                if (_nmpDeviceValidateConfig)
                    _nmpDeviceValidateConfig(result, object, index);
            } else {
                TarnCtl_LogInfoInt("Currently Device: %s is not claimed byNMP plugin", device.c_str());
            }
        }
    } catch (const HostCtl::Lib::HostCtlException& e) {
        TarnCtl_LogErrorInt("Exception caught while validating block device %s: %s", device.c_str(), e.what());
        throw;
    }
}

}  // namespace TarnCtl::Storage
