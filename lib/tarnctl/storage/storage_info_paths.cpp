// The storage domain's claiming operations and its way to the native
// multipathing plug-in. Claim and unclaim requests go to the kernel's
// claim-rule node as separate inputs; its refusals read as the plug-in
// framework words them.
#include "hostctl/exception.h"
#include "ksi/storage.h"
#include "platform/sysinfo.h"
#include "storage/nmp_psa_plugin_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

using TarnCtl::Util::Sysinfo;

namespace {

// A claim-rule node request with the framework's refusal texts.
void SendClaim(bool claim, HostCtl::Storage::PSAClaimRuleClass ruleClass,
               std::initializer_list<std::string> selection) {
    Sysinfo si(KSI_NODE_storage_scsifw_claimrule);
    si.SetMessageForError(TARN_BAD_PARAM, "Internal Error, Invalid parameters for claim");
    si.SetMessageForError(TARN_INVALID_STATE,
                          "Invalid claim state found in the Tarnos.  Please check Tarnos log files for more "
                          "information.");
    si.SetMessageForError(TARN_TIMEOUT,
                          "Unable to unclaim paths. Operation timed out.  See Tarnos logs for more information.");
    si.SetMessageForError(TARN_BUSY,
                          "Unable to unclaim paths.  Busy or in use devices detected.  See Tarnos logs for more "
                          "information.");
    si.AddInput(claim ? "claim" : "unclaim");
    si.AddInput(std::string("plugintype=") +
                (ruleClass == HostCtl::Storage::MP ? "MP" : ruleClass == HostCtl::Storage::Filter ? "Filter" : "SOPI"));
    for (const auto& input : selection)
        si.AddInput(input);
    si.Set();
}

}  // namespace

void StorageInfoImpl::ClaimPaths(HostCtl::Storage::PSAClaimRuleClass ruleClass, const std::string& adapter,
                                 long channel, long target, long lun) {
    SendClaim(true, ruleClass,
              {"format=location", "adapter=" + adapter, "channel=" + std::to_string(channel),
               "target=" + std::to_string(target), "lun=" + std::to_string(lun)});
}

void StorageInfoImpl::UnclaimPaths(HostCtl::Storage::PSAClaimRuleClass ruleClass, const std::string& adapter,
                                   long channel, long target, long lun) {
    SendClaim(false, ruleClass,
              {"format=location", "adapter=" + adapter, "channel=" + std::to_string(channel),
               "target=" + std::to_string(target), "lun=" + std::to_string(lun)});
}

void StorageInfoImpl::UnclaimPathsByPlugin(const std::string& plugin) {
    SendClaim(false, HostCtl::Storage::MP, {"format=plugin", "plugin=" + plugin});
}

void StorageInfoImpl::UnclaimPathsByDevice(const std::string& device) {
    SendClaim(false, HostCtl::Storage::MP, {"format=deviceuid", "deviceuid=" + device});
}

bool StorageInfoImpl::IsRegisteredPsaPluginName(const std::string& name, const std::string& kind) {
    if (name.empty())
        return false;
    if (kind == "SATP")
        return Nmp::StorageArrayTypeImpl::IsValidSatp(name);
    if (kind == "PSP")
        return Nmp::PathSelectionPolicyImpl::IsValidPsp(name);
    try {
        for (const auto& plugin : KsiList(KSI_NODE_storage_scsifw_plugins))
            if (plugin == name)
                return true;
    } catch (const HostCtl::Lib::HostCtlException&) {
    }
    return false;
}

std::unique_ptr<HostCtl::Storage::Nmp::NmpPsaPlugin> StorageInfoImpl::GetNmpPsaPlugin() {
    if (!Nmp::NmpPsaPluginImpl::IsLoaded())
        return nullptr;
    return std::make_unique<Nmp::NmpPsaPluginImpl>();
}

}  // namespace TarnCtl::Storage
