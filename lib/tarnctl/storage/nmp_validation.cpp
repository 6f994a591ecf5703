// Validation of desired native multipathing settings, in the order users see
// the results. Texts (misspellings included) are the ones operators know.
#include "storage/nmp_validation.h"

#include <algorithm>
#include <cctype>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "storage/lun_impl.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/nmp_options.h"
#include "storage/nmp_psa_plugin_impl.h"
#include "storage/scsi_path_impl.h"
#include "storage/storage_info_impl.h"

namespace TarnCtl::Storage::Nmp {

using HaldenConfigManager::ValidationErrorInfo;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;

namespace {

std::shared_ptr<ConfigStoreObject> Sub(const ConfigStoreObject* object, const char* name) {
    return object ? object->GetSubObject(SubObjectId(name)) : nullptr;
}

// Appends records under one entry's path and identifier prefix.
class Recorder {
public:
    Recorder(std::vector<ValidationErrorInfo>& result, const std::string& key, int index)
        : _result(result), _base("/halden/storage/" + key + "/" + std::to_string(index)),
          _prefix(std::string(HaldenConfigManager::kValidationMessageNamespace) + "halden.storage." + key + ".") {}
    void operator()(const std::string& path, const std::string& suffix, std::vector<std::string> args = {}) {
        _result.push_back({_base + path, {_prefix + suffix, std::move(args)}});
    }

private:
    std::vector<ValidationErrorInfo>& _result;
    std::string _base, _prefix;
};

// Kernel module names: letters, digits, "_" and "-", at most 64 bytes.
bool IsValidModuleName(const std::string& name) {
    return !name.empty() && name.size() <= 64 &&
           std::all_of(name.begin(), name.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-'; });
}

void ValidateRoundRobin(Recorder& record, const ConfigStoreObject* psp, const std::string& device) {
    auto rr = Sub(psp, "round_robin");
    const std::string policy = StoreText(rr.get(), "policy");
    const std::string at = "/nmp/psp/round_robin/policy";
    if (policy != "DEFAULT" && policy != "BYTES" && policy != "IOPS" && policy != "LATENCY") {
        record(at, "unknown_policy", {policy, device});
        return;
    }
    const bool bytes = rr->HasValue("bytes"), iops = rr->HasValue("iops");
    const bool cycles = rr->HasValue("num_sampling_cycles"), evalTime = rr->HasValue("latency_eval_time");
    if ((policy == "BYTES" && !bytes) || (policy == "IOPS" && !iops) ||
        ((policy == "DEFAULT" || policy == "LATENCY") && (bytes || iops)))
        record(at, "invalid_option", {policy, device});
    if (policy != "LATENCY" && (cycles || evalTime))
        record(at, "invalid_policy", {policy, device});
}

}  // namespace

void NMPDeviceValidateConfig(std::vector<ValidationErrorInfo>& result, const ConfigStoreObject& object, int index) {
    Recorder record(result, "block_devices", index);
    StorageInfoImpl storage;
    if (!storage.GetNmpPsaPlugin()) {
        record("/plugin", "plugin_notfound", {"Native Multipathing Plugin"});
        return;
    }
    std::string device = StoreText(&object, "device");
    auto psp = Sub(Sub(&object, "nmp").get(), "psp");
    if (!psp)
        return;
    const std::string type = StoreText(psp.get(), "type");
    if (type.empty()) {
        record("/nmp/psp/type", "missing_psp_type");
        return;
    }
    if (type != PathSelectionPolicyImpl::FIXED_POLICY && type != PathSelectionPolicyImpl::RR_POLICY)
        return;
    auto lun = StorageInfoImpl::GetLun(device, false);
    const std::string current = lun ? NmpDeviceConfigImpl(lun->GetIdentifier()).GetPathSelectionPolicyName() : "";
    if (current != type) {
        TarnCtl_LogInfoInt("During Validation device: %s is not using the %s path selection policy", device.c_str(),
                           type.c_str());
        return;
    }
    if (type == PathSelectionPolicyImpl::FIXED_POLICY) {
        const std::string preferred = StoreText(psp.get(), "preferred_path");
        if (!preferred.empty() && !ScsiPathImpl::GetPath(preferred))
            record("/nmp/psp/preferred_path", "unknown_path", {preferred, device});
        return;
    }
    ValidateRoundRobin(record, psp.get(), device);
}

void NmpClaimRuleValidate(const ConfigStoreObject& object, std::vector<ValidationErrorInfo>& result, int index) {
    Recorder record(result, "nmp_claim_rules", index);
    auto criteria = Sub(&object, "criteria");
    auto settings = Sub(&object, "settings");
    auto vendorSub = Sub(criteria.get(), "vendor");
    const std::string device = StoreText(criteria.get(), "device"), driver = StoreText(criteria.get(), "driver");
    const std::string transport = StoreText(criteria.get(), "transport"), type = StoreText(criteria.get(), "type");
    const std::string vendor = StoreText(vendorSub.get(), "vendor"), model = StoreText(vendorSub.get(), "model");
    const std::string claimOptions = StoreText(vendorSub.get(), "claim_options");
    bool force = false;
    if (settings)
        settings->GetValue("force", &force);
    const std::string satp = RecordedPluginName(Sub(settings.get(), "satp").get());
    try {
        StorageInfoImpl storage;
        if (!satp.empty() && !force && !storage.IsRegisteredPsaPluginName(satp, "SATP")) {
            TarnCtl_LogErrorInt("SATP = %s is not registered.", satp.c_str());
            record("/settings/satp/type", "satp_not_registered", {satp});
        }
        if (!device.empty() && !force) {
            try {
                storage.ResolveRuntimeLunName(device);
            } catch (const HostCtlException&) {
                TarnCtl_LogErrorInt("Unknown device = %s", device.c_str());
            }
        }
        if (!driver.empty() && !force && !IsValidModuleName(driver))
            TarnCtl_LogErrorInt("Invalid Module name: %s", driver.c_str());
        const bool vendorGroup = !vendor.empty() || !model.empty() || !claimOptions.empty();
        const int groups = !device.empty() + vendorGroup + !driver.empty() + !transport.empty();
        if (groups == 0) {
            TarnCtl_LogErrorInt(
                "Missing required parameter. Must specify at least one of device, vendor, model, driver, "
                "transportor claim-option.");
            record("/criteria", "missing_params");
        } else if (groups > 1) {
            TarnCtl_LogErrorInt(
                "device, vendor / model / claim-option, driver and transport options are mutually exclusive.");
            record("/criteria", "mutually_exclusive_params");
        }
        if ((type == "DEVICE" && device.empty()) || (type == "DRIVER" && driver.empty()) ||
            (type == "TRANSPORT" && transport.empty()) || (type == "VENDOR" && vendor.empty() && model.empty())) {
            TarnCtl_LogErrorInt("Invalid ruleType = %s with options provided", type.c_str());
            record("/criteria/type", "invalid_type_or_params", {type});
        }
        const std::string psp = RecordedPluginName(Sub(settings.get(), "psp").get());
        if (!psp.empty() && !force && !storage.IsRegisteredPsaPluginName(psp, "PSP")) {
            TarnCtl_LogErrorInt("PSP = %s is not registred", psp.c_str());
            record("/settings/psp/type", "not_registered_psp", {psp});
        }
        const auto tokens = ParseNmpOptions(StoreText(settings.get(), "options"));
        for (const auto& token : tokens) {
            if (IsNmpOption(token))
                continue;
            TarnCtl_LogErrorInt("Invalid token = %s found for nmp options", token.c_str());
            record("/settings/options", "invalid.token", {token});
        }
        auto has = [&](const char* t) { return std::find(tokens.begin(), tokens.end(), t) != tokens.end(); };
        if ((has("enable_ssd") && has("disable_ssd")) || (has("enable_local") && has("disable_local"))) {
            TarnCtl_LogErrorInt(
                "Invalid configuration for nmp options.Specify only one of enable/disable_ssd and "
                "enable/disable_local");
            record("/settings/options", "invalid.nmp_option");
        }
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("Exception caught while validatingclaimrule with SATP = %s", satp.c_str());
    }
}

}  // namespace TarnCtl::Storage::Nmp
