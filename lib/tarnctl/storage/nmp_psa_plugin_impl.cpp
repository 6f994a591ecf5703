// The native multipathing plug-in, its SATPs and PSPs. SATP claim rules go to
// the kernel first and are recorded afterwards (never at boot, when the
// recorded ones are replayed); a rule's type follows from which match field
// it has, in the plug-in's order.
#include "storage/nmp_psa_plugin_impl.h"

#include <algorithm>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "storage/nmp_options.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage::Nmp {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::FilterSpecObject;
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;
using HostCtl::Misc::StrPrintf;
using HostCtl::Storage::Nmp::SatpClaimRule;
using TarnCtl::Util::Sysinfo;

std::vector<std::string> NmpList(uint32_t node, std::initializer_list<std::string_view> instance) {
    Sysinfo si(node);
    si.SetModule(kNmpModule);
    for (std::string_view key : instance)
        si.AddInstancePath(key);
    std::vector<std::string> out;
    si.List(out);
    return out;
}

Sysinfo& NmpNode(Sysinfo& si, std::initializer_list<std::string_view> instance) {
    si.SetModule(kNmpModule);
    for (std::string_view key : instance)
        si.AddInstancePath(key);
    return si;
}

namespace {

// PSP options compared in one spelling: round-robin ones as recorded.
std::string NormalizedPspOptions(const std::string& psp, const std::string& options) {
    if (psp != PathSelectionPolicyImpl::RR_POLICY || options.empty())
        return options;
    try {
        ConfigStoreObject rr(ConfigStoreObjectId("x", "x", "x"));
        RoundRobinToStore(ParsePspConfigString(options), rr);
        return RoundRobinFromStore(rr);
    } catch (const HostCtlException&) {
        return options;
    }
}

bool SameRule(const SatpClaimRule& a, const SatpClaimRule& b) {
    return a.satp == b.satp && a.uid == b.uid && a.vendor == b.vendor && a.model == b.model &&
           a.driver == b.driver && a.transport == b.transport && a.options == b.options &&
           a.claimOptions == b.claimOptions && a.defaultPsp == b.defaultPsp &&
           NormalizedPspOptions(a.defaultPsp, a.pspOptions) == NormalizedPspOptions(b.defaultPsp, b.pspOptions);
}

// The duplicate check's view of a rule: type, SATP, match value, PSP, PSP options.
bool SameMatch(const SatpClaimRule& a, const SatpClaimRule& b) {
    const std::string type = StorageArrayTypeImpl::RuleType(a);
    if (type != StorageArrayTypeImpl::RuleType(b) || a.satp != b.satp || a.defaultPsp != b.defaultPsp ||
        NormalizedPspOptions(a.defaultPsp, a.pspOptions) != NormalizedPspOptions(b.defaultPsp, b.pspOptions))
        return false;
    if (type == "DRIVER")
        return a.driver == b.driver;
    if (type == "DEVICE")
        return a.uid == b.uid;
    if (type == "TRANSPORT")
        return a.transport == b.transport;
    return a.vendor == b.vendor && a.model == b.model && a.claimOptions == b.claimOptions;
}

std::string DuplicateMessage(const SatpClaimRule& r) {
    const std::string type = StorageArrayTypeImpl::RuleType(r);
    const char* psp = r.defaultPsp.c_str();
    const char* opts = r.pspOptions.c_str();
    if (type == "DRIVER")
        return StrPrintf("Duplicate %s rule found for SATP %s matching driver %s PSP %s and PSP Options %s",
                         type.c_str(), r.satp.c_str(), r.driver.c_str(), psp, opts);
    if (type == "DEVICE")
        return StrPrintf("Duplicate %s rule found for SATP %s matching device %s PSP %s and PSP Options %s",
                         type.c_str(), r.satp.c_str(), r.uid.c_str(), psp, opts);
    if (type == "TRANSPORT")
        return StrPrintf("Duplicate %s rule found for SATP %s matching transport %s PSP %s and PSP Options %s",
                         type.c_str(), r.satp.c_str(), r.transport.c_str(), psp, opts);
    return StrPrintf(
        "Duplicate %s rule found for SATP %s matching vendor %s model %s claim options %s PSP %s and PSP Options %s",
        type.c_str(), r.satp.c_str(), r.vendor.c_str(), r.model.c_str(), r.claimOptions.c_str(), psp, opts);
}

void SetRecordedPluginName(ConfigStoreObject& sub, const std::string& name, bool platform, const char* thirdParty) {
    if (platform) {
        sub.SetValue("type", name);
    } else {
        sub.SetValue("type", thirdParty);
        sub.SetValue("name", name);
    }
}

// True when `name` is an instance of the plug-in's listing node; a failing
// listing counts as no.
bool IsNmpInstance(uint32_t node, const std::string& name) {
    if (name.empty())
        return false;
    Sysinfo si(node);
    si.SetModule(kNmpModule);
    try {
        return si.IsValidInstance(name);
    } catch (const HostCtlException&) {
        return false;
    }
}

}  // namespace

// ---- PSPs ----------------------------------------------------------------------------------

bool PathSelectionPolicyImpl::IsValidPsp(const std::string& name) {
    return IsNmpInstance(KSI_NMP_NODE_PSPS, name);
}

bool PathSelectionPolicyImpl::SupportsOptions(const std::string& name) {
    try {
        return NmpRead<KsiNmpPspInfo>(KSI_NMP_NODE_PSPS, {name}).options != 0;
    } catch (const HostCtlException&) {
        return false;
    }
}

void PathSelectionPolicyImpl::Refresh() {
    _info = NmpRead<KsiNmpPspInfo>(KSI_NMP_NODE_PSPS, {_name});
    _stale = false;
}

std::string PathSelectionPolicyImpl::GetInfoString() {
    if (_stale)
        Refresh();
    return TarnCtl::Storage::FixedString(_info.description);
}

// ---- SATPs ---------------------------------------------------------------------------------

bool StorageArrayTypeImpl::IsValidSatp(const std::string& name) {
    return IsNmpInstance(KSI_NMP_NODE_SATPS, name);
}

ConfigStoreObjectId StorageArrayTypeImpl::DefaultPspId(const std::string& satp) {
    return ConfigStoreObjectId("satp_default_psps", "storage", "halden", satp);
}

ConfigStoreObjectId StorageArrayTypeImpl::ClaimRuleId(const std::string& instance) {
    return instance.empty() ? ConfigStoreObjectId("nmp_claim_rules", "storage", "halden")
                            : ConfigStoreObjectId("nmp_claim_rules", "storage", "halden", instance);
}

std::string StorageArrayTypeImpl::RuleType(const SatpClaimRule& rule) {
    if (!rule.driver.empty())
        return "DRIVER";
    if (!rule.uid.empty())
        return "DEVICE";
    if (!rule.transport.empty())
        return "TRANSPORT";
    return "VENDOR";
}

void StorageArrayTypeImpl::RuleToStore(const SatpClaimRule& rule, ConfigStoreObject& out) {
    const std::string type = RuleType(rule);
    auto criteria = out.CreateSubObject(SubObjectId("criteria"));
    criteria->SetValue("type", type);
    if (type == "DRIVER") {
        criteria->SetValue("driver", rule.driver);
    } else if (type == "DEVICE") {
        criteria->SetValue("device", rule.uid);
    } else if (type == "TRANSPORT") {
        criteria->SetValue("transport", rule.transport);
    } else {
        auto vendor = criteria->CreateSubObject(SubObjectId("vendor"));
        if (!rule.vendor.empty()) vendor->SetValue("vendor", rule.vendor);
        if (!rule.model.empty()) vendor->SetValue("model", rule.model);
        if (!rule.claimOptions.empty()) vendor->SetValue("claim_options", rule.claimOptions);
    }
    auto settings = out.CreateSubObject(SubObjectId("settings"));
    SetRecordedPluginName(*settings->CreateSubObject(SubObjectId("satp")), rule.satp, IsPlatformSatp(rule.satp), kThirdPartySatp);
    if (!rule.options.empty())
        settings->SetValue("options", rule.options);
    if (!rule.defaultPsp.empty()) {
        auto psp = settings->CreateSubObject(SubObjectId("psp"));
        SetRecordedPluginName(*psp, rule.defaultPsp, IsPlatformPsp(rule.defaultPsp), kThirdPartyPsp);
        if (!rule.pspOptions.empty()) {
            if (rule.defaultPsp == PathSelectionPolicyImpl::RR_POLICY)
                RoundRobinToStore(ParsePspConfigString(rule.pspOptions),
                                  *psp->CreateSubObject(SubObjectId("round_robin")));
            else
                psp->SetValue("options", rule.pspOptions);
        }
    }
    if (!rule.description.empty())
        settings->SetValue("description", rule.description);
    if (rule.force)
        settings->SetValue("force", true);
}

SatpClaimRule StorageArrayTypeImpl::RuleFromStore(const ConfigStoreObject& object) {
    SatpClaimRule rule;
    auto criteria = object.GetSubObject(SubObjectId("criteria"));
    rule.driver = StoreText(criteria.get(), "driver");
    rule.uid = StoreText(criteria.get(), "device");
    rule.transport = StoreText(criteria.get(), "transport");
    if (auto vendor = criteria ? criteria->GetSubObject(SubObjectId("vendor")) : nullptr) {
        rule.vendor = StoreText(vendor.get(), "vendor");
        rule.model = StoreText(vendor.get(), "model");
        rule.claimOptions = StoreText(vendor.get(), "claim_options");
    }
    auto settings = object.GetSubObject(SubObjectId("settings"));
    if (!settings)
        return rule;
    rule.satp = RecordedPluginName(settings->GetSubObject(SubObjectId("satp")).get());
    rule.options = StoreText(settings.get(), "options");
    rule.description = StoreText(settings.get(), "description");
    settings->GetValue("force", &rule.force);
    if (auto psp = settings->GetSubObject(SubObjectId("psp"))) {
        rule.defaultPsp = RecordedPluginName(psp.get());
        rule.pspOptions = StoreText(psp.get(), "options");
        if (auto rr = psp->GetSubObject(SubObjectId("round_robin")))
            rule.pspOptions = RoundRobinFromStore(*rr);
    }
    return rule;
}

void StorageArrayTypeImpl::Refresh() {
    _info = NmpRead<KsiNmpSatpInfo>(KSI_NMP_NODE_SATPS, {_name});
    _stale = false;
}

std::string StorageArrayTypeImpl::GetInfoString() {
    if (_stale)
        Refresh();
    return FixedString(_info.description);
}

// The platform's SATPs take option strings per device, not per SATP.
std::string StorageArrayTypeImpl::GetConfigurationString() {
    if (_stale)
        Refresh();
    return "";
}

void StorageArrayTypeImpl::SetConfigurationString(const std::string& config) {
    throw HostCtlException("The SATP " + _name + " does not support SATP configuration strings.");
}

std::string StorageArrayTypeImpl::GetDefaultPathSelectionPolicyName() {
    Refresh();
    return FixedString(_info.defaultPsp);
}

void StorageArrayTypeImpl::SetDefaultPathSelectionPolicyName(const std::string& psp, bool persist) {
    if (psp.empty())
        throw HostCtlException("Invalid PSP name.  PSP cannot be empty.");
    Sysinfo si(KSI_NMP_NODE_SATPS);
    NmpNode(si, {_name});
    si.SetDefaultErrorMessage(("Unable to set the default PSP of SATP " + _name + " to " + psp).c_str());
    si.AddInput("defaultpsp=" + psp);
    si.Set();
    _stale = true;
    auto store = Store();
    if (!persist || store->IsBoot())
        return;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    auto object = std::make_shared<ConfigStoreObject>(DefaultPspId(_name));
    object->SetValue("default_psp", psp);
    store->Write(object);
    txn.Commit();
}

std::vector<SatpClaimRule> StorageArrayTypeImpl::GetClaimRules(bool system, bool user) {
    std::vector<SatpClaimRule> out;
    for (const auto& n : NmpList(KSI_NMP_NODE_SATP_RULES, {_name})) {
        auto r = NmpRead<KsiNmpSatpRule>(KSI_NMP_NODE_SATP_RULES, {_name, n});
        SatpClaimRule rule;
        rule.satp = _name;
        rule.uid = FixedString(r.uid);
        rule.vendor = FixedString(r.vendor);
        rule.model = FixedString(r.model);
        rule.driver = FixedString(r.driver);
        rule.transport = FixedString(r.transport);
        rule.options = FixedString(r.options);
        rule.claimOptions = FixedString(r.claimOptions);
        rule.defaultPsp = FixedString(r.defaultPsp);
        rule.pspOptions = FixedString(r.pspOptions);
        rule.description = FixedString(r.description);
        rule.ruleGroup = FixedString(r.ruleGroup);
        if ((rule.ruleGroup == "system" && system) || (rule.ruleGroup != "system" && user))
            out.push_back(std::move(rule));
    }
    return out;
}

std::vector<std::shared_ptr<ConfigStoreObject>> StorageArrayTypeImpl::StoredRules() {
    return Store()->List(std::make_shared<FilterSpecObject>(ClaimRuleId()));
}

void StorageArrayTypeImpl::SendRule(const SatpClaimRule& rule, bool remove) {
    Sysinfo si(KSI_NMP_NODE_SATPS);
    NmpNode(si, {_name});
    const std::pair<const char*, const std::string*> inputs[] = {
        {"uid=", &rule.uid},          {"vendor=", &rule.vendor},         {"model=", &rule.model},
        {"hbadriver=", &rule.driver}, {"transport=", &rule.transport},   {"opt=", &rule.options},
        {"claim=", &rule.claimOptions}, {"defaultpsp=", &rule.defaultPsp}, {"pspopt=", &rule.pspOptions},
        {"desc=", &rule.description}, {"rulegroup=", &rule.ruleGroup},
    };
    for (const auto& [prefix, value] : inputs)
        if (!value->empty())
            si.AddInput(prefix + *value);
    if (remove) {
        si.AddInput("remove");
        si.SetDefaultErrorMessage("Unable to delete the rule.");
        si.SetMessageForError(TARN_NOT_FOUND,
                              "No rule matching the given options found, nothing to delete. Specify all options "
                              "for the rule to delete it successfully.");
    } else {
        si.SetDefaultErrorMessage("Unable to add new SATP claim rule");
        si.SetMessageForError(TARN_MISSING_PARAMETER, "Invalid input count passed to SATP module");
        si.SetMessageForError(TARN_BAD_PARAM, "Invalid input to SATP module add rule.");
        si.SetMessageForError(TARN_NOT_FOUND, "Unable to find SATP with that name.");
    }
    si.Set();
}

void StorageArrayTypeImpl::AddClaimRule(const SatpClaimRule& given) {
    SatpClaimRule rule = given;
    rule.satp = _name;
    if (!rule.pspOptions.empty()) {
        if (!PathSelectionPolicyImpl::SupportsOptions(rule.defaultPsp))
            throw HostCtlException(StrPrintf("%s plugin does not support PSP options", rule.defaultPsp.c_str()));
        if (rule.defaultPsp == PathSelectionPolicyImpl::RR_POLICY)
            ValidateRoundRobinOptions(ParsePspConfigString(rule.pspOptions));
    }
    if (!rule.options.empty())
        ValidateNmpOptConfigString(rule.options);
    auto store = Store();
    const bool boot = store->IsBoot();
    if (!boot) {
        for (const auto& object : StoredRules()) {
            SatpClaimRule stored = RuleFromStore(*object);
            if (SameMatch(stored, rule))
                throw HostCtlException(DuplicateMessage(rule));
        }
    }
    SendRule(rule, false);
    if (boot)
        return;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    auto object = std::make_shared<ConfigStoreObject>(ClaimRuleId(ConfigStoreObjectId::GenerateInstanceId()));
    RuleToStore(rule, *object);
    store->Write(object);
    txn.Commit();
}

void StorageArrayTypeImpl::DeleteClaimRule(const SatpClaimRule& given) {
    SatpClaimRule rule = given;
    rule.satp = _name;
    SendRule(rule, true);
    auto store = Store();
    if (store->IsBoot())
        return;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    for (const auto& object : StoredRules())
        if (SameRule(RuleFromStore(*object), rule))
            store->Delete(object->GetConfigStoreObjectId());
    txn.Commit();
}

void StorageArrayTypeImpl::DeleteNonForceClaimRules() {
    for (const auto& object : StoredRules()) {
        SatpClaimRule rule = RuleFromStore(*object);
        if (rule.satp == _name && !rule.force)
            DeleteClaimRule(rule);
    }
}

void StorageArrayTypeImpl::DestroyConfig() {
    auto store = Store();
    if (store->IsBoot())
        return;
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    if (store->Get(DefaultPspId(_name)))
        store->Delete(DefaultPspId(_name));
    for (const auto& object : StoredRules())
        if (RuleFromStore(*object).satp == _name)
            store->Delete(object->GetConfigStoreObjectId());
    txn.Commit();
}

void StorageArrayTypeImpl::LoadConfig() {
    LoadConfigInternal(StoredRules(), Store()->Get(DefaultPspId(_name)));
}

void StorageArrayTypeImpl::LoadConfigInternal(const std::vector<std::shared_ptr<ConfigStoreObject>>& rules,
                                              const std::shared_ptr<ConfigStoreObject>& defaultPsp) {
    std::string psp;
    if (defaultPsp && defaultPsp->GetValue("default_psp", &psp))
        SetDefaultPathSelectionPolicyName(psp, false);
    for (const auto& object : rules) {
        SatpClaimRule rule = RuleFromStore(*object);
        if (rule.satp != _name)
            continue;
        try {
            AddClaimRule(rule);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to load rule for SATP %s, skipping: %s\n", "SATP Load", _name.c_str(),
                               e.what());
        }
    }
}

// ---- The plug-in ---------------------------------------------------------------------------

bool NmpPsaPluginImpl::IsLoaded() {
    try {
        for (const auto& name : KsiList(KSI_NODE_storage_scsifw_plugins))
            if (name == "NMP")
                return true;
    } catch (const HostCtlException&) {
    }
    return false;
}

std::vector<std::unique_ptr<HostCtl::Storage::Nmp::StorageArrayType>> NmpPsaPluginImpl::GetStorageArrayTypes() {
    std::vector<std::unique_ptr<HostCtl::Storage::Nmp::StorageArrayType>> out;
    for (const auto& name : NmpList(KSI_NMP_NODE_SATPS))
        out.push_back(std::make_unique<StorageArrayTypeImpl>(name));
    return out;
}

std::vector<std::unique_ptr<HostCtl::Storage::Nmp::PathSelectionPolicy>>
NmpPsaPluginImpl::GetPathSelectionPolicies() {
    std::vector<std::unique_ptr<HostCtl::Storage::Nmp::PathSelectionPolicy>> out;
    for (const auto& name : NmpList(KSI_NMP_NODE_PSPS))
        out.push_back(std::make_unique<PathSelectionPolicyImpl>(name));
    return out;
}

std::unique_ptr<HostCtl::Storage::Nmp::StorageArrayType> NmpPsaPluginImpl::GetStorageArrayTypeByName(
    const std::string& name, bool throwIfMissing) {
    if (StorageArrayTypeImpl::IsValidSatp(name))
        return std::make_unique<StorageArrayTypeImpl>(name);
    if (throwIfMissing)
        throw HostCtlException("Unable to find SATP with name " + name);
    return nullptr;
}

void NmpPsaPluginImpl::LoadConfig() {
    for (auto& psp : GetPathSelectionPolicies()) {
        try {
            psp->LoadConfig();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: NMP Plugin failed to load PSP config %s: %s\n", "NmpPsa", psp->GetName().c_str(),
                               e.what());
        }
    }
    auto store = Store();
    auto rules = store->List(std::make_shared<FilterSpecObject>(StorageArrayTypeImpl::ClaimRuleId()));
    for (const auto& name : NmpList(KSI_NMP_NODE_SATPS)) {
        try {
            StorageArrayTypeImpl(name).LoadConfigInternal(rules, store->Get(StorageArrayTypeImpl::DefaultPspId(name)));
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: NMP Plugin failed to load SATP config %s: %s\n", "NmpPsa", name.c_str(),
                               e.what());
        }
    }
}

}  // namespace TarnCtl::Storage::Nmp
