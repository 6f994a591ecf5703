// Advanced options and the configuration store: store ids, desired-state
// remediation and impact checks, boot-time replay, and the boot steps that
// register them.
#include "adv/adv_config.h"

#include <set>

#include "adv/adv_names.h"
#include "adv/advanced_option_branch_impl.h"
#include "adv/advanced_option_impl.h"
#include "adv/user_option_impl.h"
#include "hostctl/exception.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HostCtl::Adv::OptionImpact;
using HostCtl::Lib::HostCtlException;

namespace TarnCtl::Adv {

namespace {

bool gUpgrading = false;

void AddImpact(OptionImpact& impact, const std::string& text) {
    if (text == "reboot") impact.reboot = true;
    if (text == "maintenance-mode") impact.maintenanceMode = true;
}

// One option of a branch with what remediation would do to it.
struct Plan {
    HostCtl::Adv::AdvancedOption* option;
    enum { Keep, Set, Reset } action = Keep;
    bool changes = false;  // the kernel value would change
    long intValue = 0;
    std::string stringValue;
};

// Works out, and validates, what bringing a branch in line with `desired` means,
// without changing anything.
std::vector<Plan> PlanBranch(const std::string& branch, const ConfigStoreObject& desired,
                             const ConfigStoreObject* current,
                             std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>>& options) {
    AdvancedOptionBranchImpl b(branch);
    options = b.GetOptions(true);
    std::set<std::string> known;
    std::vector<Plan> plans;
    for (auto& o : options) {
        Plan p{o.get()};
        std::string field = GetConfigstoreOptionName(branch, o->GetOptionName());
        known.insert(field);
        auto* io = dynamic_cast<HostCtl::Adv::AdvancedIntegerOption*>(o.get());
        auto* so = dynamic_cast<HostCtl::Adv::AdvancedStringOption*>(o.get());
        if (desired.HasValue(field)) {
            p.action = Plan::Set;
            if (io) {
                bool b = false;
                if (desired.GetValue(field, &p.intValue)) {
                } else if (desired.GetValue(field, &b)) {
                    p.intValue = b;
                } else {
                    throw HostCtlException("Invalid value for option " + o->GetOptionPath() +
                                           ": an integer is expected");
                }
                if (p.intValue < io->GetMinimum() || p.intValue > io->GetMaximum())
                    throw HostCtlException(HostCtl::Misc::StrPrintf(
                        "Invalid value %ld for option %s: not in the range [%ld-%ld]", p.intValue,
                        o->GetOptionPath().c_str(), static_cast<long>(io->GetMinimum()),
                        static_cast<long>(io->GetMaximum())));
                p.changes = p.intValue != io->GetValue();
            } else if (so) {
                if (!desired.GetValue(field, &p.stringValue))
                    throw HostCtlException("Invalid value for option " + o->GetOptionPath() +
                                           ": a string is expected");
                p.changes = p.stringValue != so->GetValue();
            }
        } else {
            bool offDefault = io ? io->GetValue() != io->GetDefaultValue()
                                 : so && so->GetValue() != so->GetDefaultValue();
            if (offDefault || (current && current->HasValue(field))) {
                p.action = Plan::Reset;
                p.changes = offDefault;
            }
        }
        plans.push_back(p);
    }
    for (const auto& field : desired.GetFieldNames())
        if (!known.count(field))
            throw HostCtlException("Unable to find option " + branch + "/" + field);
    return plans;
}

std::string BranchOfDesired(const ConfigStoreObject& desired) {
    const std::string& key = desired.GetConfigStoreObjectId().GetKey();
    std::string branch = GetBranchFromConfigstoreName(key);
    if (branch.empty()) throw HostCtlException("Unable to find branch " + key);
    return branch;
}

}  // namespace

std::shared_ptr<HaldenConfigStore::ConfigStore> AdvStore() {
    return HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
}

ConfigStoreObjectId GetCsObjId(const std::string& branch) {
    return ConfigStoreObjectId(GetConfigstoreBranchName(branch), kAdvGroup, GetConfigstoreComponentName(branch));
}

ConfigStoreObjectId MakeCfgObjId(const ConfigStoreObjectId& id, const std::string& instance) {
    ConfigStoreObjectId copy = id;
    copy.SetInstanceId(instance);
    return copy;
}

void RemediateDesiredConfig(const ConfigStoreObject& desired) {
    std::string branch = BranchOfDesired(desired);
    TarnCtl_LogInfoInt("%s: Remediating for ns %s\n", "RemediateDesiredConfig",
                       desired.GetConfigStoreObjectId().GetKey().c_str());
    auto current = AdvStore()->Get(GetCsObjId(branch));
    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>> options;
    auto plans = PlanBranch(branch, desired, current.get(), options);
    for (const auto& p : plans) {
        if (p.action == Plan::Set) {
            TarnCtl_LogInfoInt("%s: Setting value for option %s\n", "RemediateDesiredConfig",
                               p.option->GetOptionName().c_str());
            if (auto* io = dynamic_cast<HostCtl::Adv::AdvancedIntegerOption*>(p.option))
                io->SetValue(p.intValue);
            else if (auto* so = dynamic_cast<HostCtl::Adv::AdvancedStringOption*>(p.option))
                so->SetValue(p.stringValue);
        } else if (p.action == Plan::Reset) {
            TarnCtl_LogInfoInt("%s: Resetting value for option %s\n", "RemediateDesiredConfig",
                               p.option->GetOptionName().c_str());
            p.option->SetToDefault();
        }
    }
}

OptionImpact CheckOptionImpact(const ConfigStoreObject& desired) {
    std::string branch = BranchOfDesired(desired);
    TarnCtl_LogInfoInt("%s: For ns %s\n", "CheckOptionImpact", desired.GetConfigStoreObjectId().GetKey().c_str());
    auto current = AdvStore()->Get(GetCsObjId(branch));
    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>> options;
    OptionImpact impact;
    for (const auto& p : PlanBranch(branch, desired, current.get(), options))
        if (p.changes) AddImpact(impact, p.option->GetImpact());
    return impact;
}

OptionImpact CheckOptionImpact(const std::string& branch, const std::string& option) {
    OptionImpact impact;
    AddImpact(impact, AdvancedOptionBranchImpl(branch).GetOptionByName(option)->GetImpact());
    return impact;
}

void ResetBranch(const std::string& branch) { RemediateDesiredConfig(ConfigStoreObject(GetCsObjId(branch))); }

void RemediateDesiredUserConfig(const ConfigStoreObject& desired) {
    std::string name;
    if (!desired.GetValue("option_name", &name)) name = desired.GetConfigStoreObjectId().GetInstanceId();
    TarnCtl_LogInfoInt("%s: Remediating user option %s\n", "RemediateDesiredUserConfig", name.c_str());
    auto option = AdvancedUserOptionBranchImpl().GetOptionByName(name);
    if (auto* io = dynamic_cast<HostCtl::Adv::AdvancedIntegerOption*>(option.get())) {
        long v = 0;
        if (desired.GetValue("integer_value", &v))
            io->SetValue(v);
        else if (desired.HasValue("string_value"))
            throw HostCtlException("Invalid value for option /UserVars/" + name + ": an integer is expected");
        else
            io->SetToDefault();
    } else if (auto* so = dynamic_cast<HostCtl::Adv::AdvancedStringOption*>(option.get())) {
        std::string v;
        if (desired.GetValue("string_value", &v))
            so->SetValue(v);
        else if (desired.HasValue("integer_value"))
            throw HostCtlException("Invalid value for option /UserVars/" + name + ": a string is expected");
        else
            so->SetToDefault();
    }
}

void ResetUserOption(const std::string& name) { AdvancedUserOptionBranchImpl().GetOptionByName(name)->SetToDefault(); }

OptionImpact CheckUserOptionImpact(const std::string& name) {
    UserOptionDefinition d;
    if (!GetUserOptionDefinition(name, &d))
        throw HostCtlException("Unable to get values for unregistered UserVar " + name);
    OptionImpact impact;
    AddImpact(impact, d.impact);
    return impact;
}

std::string ConfFileKey(const std::string& branch, const std::string& option) {
    return "/adv/" + branch + "/" + option;
}

bool IsUpgrading() { return gUpgrading; }
void SetUpgrading(bool upgrading) { gUpgrading = upgrading; }

TARN_ReturnStatus SetModuleOptions() {
    try {
        Util::Sysinfo si(KSI_NODE_system_bootModuleAdvConfigOpts);
        si.Set();
        return TARN_OK;
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: SetModuleOptions failed with %s\n", "TarnCtl", e.GetDetailedMessage().c_str());
        return TARN_FAILURE;
    }
}

void LoadAllConfig() {
    std::set<std::string> keys;
    for (const auto& id : AdvStore()->ListIds(kAdvGroup)) keys.insert(id.GetKey());
    for (const auto& key : keys) {
        if (key == kUserVarDefinitionsKey || key == kUserVarsKey) continue;
        std::string branch = GetBranchFromConfigstoreName(key);
        if (branch.empty()) {
            TarnCtl_LogWarnInt("%s: Skipping store object %s of no known branch\n", "AdvancedOptionBranchImpl",
                               key.c_str());
            continue;
        }
        try {
            AdvancedOptionBranchImpl(branch).LoadConfig();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to load branch %s: %s\n", "AdvancedOptionBranchImpl",
                               branch.c_str(), e.GetDetailedMessage().c_str());
        }
    }
}

namespace {
// Advanced options come first: other domains' restore follows their values.
const Platform::Boot::Step kLoad("advanced.options", 100, [] { LoadAllConfig(); });
const Platform::Boot::Step kModules("advanced.modules", 105, [] {
    if (SetModuleOptions() != TARN_OK) throw HostCtlException("Failed to apply the boot module options");
});
}  // namespace

}  // namespace TarnCtl::Adv
