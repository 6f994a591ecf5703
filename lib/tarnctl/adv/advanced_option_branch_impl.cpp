// The advanced-option tree: branches listed by the kernel, their options read
// with one record access each, boot-time replay of a branch's persisted values
// and the listing of administrator-defined options.
#include "adv/advanced_option_branch_impl.h"

#include <algorithm>
#include <map>
#include <unordered_map>

#include "adv/adv_config.h"
#include "adv/adv_names.h"
#include "adv/advanced_option_impl.h"
#include "adv/user_option_impl.h"
#include "hostctl/exception.h"
#include "ksi/adv.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HostCtl::Lib::HostCtlException;

namespace TarnCtl::Adv {

AdvancedOptionBranchImpl::AdvancedOptionBranchImpl() : _branchName("ROOT") {}

AdvancedOptionBranchImpl::AdvancedOptionBranchImpl(std::string branchName)
    : _branchName(std::move(branchName)) {}

std::vector<std::string> AdvancedOptionBranchImpl::GetKernelBranchNames() {
    Util::Sysinfo si(KSI_NODE_config);
    std::vector<std::string> names;
    si.List(names);
    return names;
}

std::vector<std::unique_ptr<HostCtl::Lib::HostCtlObject>> AdvancedOptionBranchImpl::GetChildren() {
    std::vector<std::unique_ptr<HostCtl::Lib::HostCtlObject>> out;
    if (IsRoot()) {
        for (auto& b : GetBranches()) out.push_back(std::move(b));
    } else {
        for (auto& o : GetOptions(true)) out.push_back(std::move(o));
    }
    return out;
}

std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>> AdvancedOptionBranchImpl::GetOptions(
    bool includeHidden) {
    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>> out;
    if (IsRoot()) return out;

    std::vector<std::string> names;
    Util::Sysinfo ints(KSI_NODE_config_intOpts);
    ints.SetInstance(_branchName);
    ints.List(names);
    ints.SetMark();
    out.reserve(names.size());
    for (auto& name : names) {
        // The record is read straight into the option that keeps it.
        auto option = std::make_unique<AdvancedIntegerOptionImpl>(_branchName, std::move(name));
        try {
            ints.SetMarkInstance(option->OptionName());
            option->ReadFrom(ints);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping option %s/%s: %s\n", "AdvancedOptionBranchImpl",
                               _branchName.c_str(), option->OptionName().c_str(), e.GetDetailedMessage().c_str());
            continue;
        }
        if (!includeHidden && option->IsHidden()) continue;
        out.push_back(std::move(option));
    }

    Util::Sysinfo strs(KSI_NODE_config_strOpts);
    strs.SetInstance(_branchName);
    strs.List(names);
    strs.SetMark();
    out.reserve(out.size() + names.size());
    for (auto& name : names) {
        Ksi::Adv::StrOption record{};
        try {
            strs.SetMarkInstance(name);
            strs.Get(&record, sizeof(record));
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping option %s/%s: %s\n", "AdvancedOptionBranchImpl",
                               _branchName.c_str(), name.c_str(), e.GetDetailedMessage().c_str());
            continue;
        }
        if (!includeHidden && record.hidden) continue;
        out.push_back(std::make_unique<AdvancedStringOptionImpl>(_branchName, std::move(name), record));
    }
    return out;
}

std::unique_ptr<HostCtl::Adv::AdvancedOption> AdvancedOptionBranchImpl::GetOptionByName(
    const std::string& name) {
    if (IsRoot()) throw HostCtlException("Unable to find option " + name);
    Util::Sysinfo ints(KSI_NODE_config_intOpts);
    ints.SetThrowOnError(false);
    ints.SetInstance(_branchName);
    ints.AddInstancePath(name);
    auto option = std::make_unique<AdvancedIntegerOptionImpl>(_branchName, name);
    TARN_ReturnStatus st = option->ReadFrom(ints);
    if (st == TARN_OK) return option;
    if (st != TARN_NOT_FOUND) ints.ThrowStatus(st, {});

    Util::Sysinfo strs(KSI_NODE_config_strOpts);
    strs.SetThrowOnError(false);
    strs.SetInstance(_branchName);
    strs.AddInstancePath(name);
    Ksi::Adv::StrOption srec{};
    st = strs.Get(&srec, sizeof(srec));
    if (st == TARN_OK) return std::make_unique<AdvancedStringOptionImpl>(_branchName, name, srec);
    if (st != TARN_NOT_FOUND) strs.ThrowStatus(st, {});
    throw HostCtlException("Unable to find option " + name);
}

std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch>> AdvancedOptionBranchImpl::GetBranches() {
    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch>> out;
    if (!IsRoot()) return out;
    auto names = GetKernelBranchNames();
    out.reserve(names.size() + 1);
    for (auto& name : names)
        out.push_back(std::make_unique<AdvancedOptionBranchImpl>(std::move(name)));
    out.push_back(std::make_unique<AdvancedUserOptionBranchImpl>());
    return out;
}

std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch> AdvancedOptionBranchImpl::GetBranchByName(
    const std::string& name) {
    if (IsRoot()) {
        if (name == kUserVarsBranch) return std::make_unique<AdvancedUserOptionBranchImpl>();
        auto names = GetKernelBranchNames();
        if (std::find(names.begin(), names.end(), name) != names.end())
            return std::make_unique<AdvancedOptionBranchImpl>(name);
    }
    throw HostCtlException("Unable to find branch " + name);
}

void AdvancedOptionBranchImpl::LoadConfig() {
    if (IsRoot()) {
        LoadAllConfig();
        return;
    }
    auto object = AdvStore()->Get(GetCsObjId(_branchName));
    if (!object) return;
    // Fields the name table does not know are matched against the kernel's
    // options of the branch by the naming rule (built once, on demand).
    std::unordered_map<std::string, std::string> byRule;
    bool byRuleBuilt = false;
    for (const auto& [field, value] : object->Fields()) {
        std::string option = GetOptionFromConfigstoreName(_branchName, field);
        if (option.empty()) {
            if (!byRuleBuilt) {
                for (auto node : {KSI_NODE_config_intOpts, KSI_NODE_config_strOpts}) {
                    Util::Sysinfo si(node);
                    si.SetInstance(_branchName);
                    std::vector<std::string> names;
                    si.List(names);
                    for (auto& n : names) byRule.emplace(GetConfigstoreOptionName(_branchName, n), n);
                }
                byRuleBuilt = true;
            }
            auto it = byRule.find(field);
            if (it == byRule.end()) {
                TarnCtl_LogWarnInt("%s: Option %s no longer exists, skipping\n", "AdvancedOptionBranchImpl",
                                   (_branchName + "/" + field).c_str());
                continue;
            }
            option = it->second;
        }
        try {
            bool isString = std::holds_alternative<std::string>(value.v);
            Util::Sysinfo si(isString ? KSI_NODE_config_strOpts : KSI_NODE_config_intOpts);
            si.SetInstance(_branchName);
            si.AddInstancePath(option);
            if (isString)
                si.AddInput(std::get<std::string>(value.v));
            else if (std::holds_alternative<int64_t>(value.v))
                si.AddInput(static_cast<long>(std::get<int64_t>(value.v)));
            else if (std::holds_alternative<bool>(value.v))
                si.AddInput(static_cast<long>(std::get<bool>(value.v)));
            else
                throw HostCtlException("Invalid stored value for option /" + _branchName + "/" + option);
            si.Set();
            TarnCtl_LogVerboseInt("%s: Loaded /%s/%s\n", "AdvancedOptionBranchImpl", _branchName.c_str(),
                                  option.c_str());
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to load option /%s/%s: %s\n", "AdvancedOptionBranchImpl",
                               _branchName.c_str(), option.c_str(), e.GetDetailedMessage().c_str());
        }
    }
}

void AdvancedOptionBranchImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Advanced Option Branch");
    printer->BeginObject();
    printer->Print("Name", _branchName);
    printer->EndObject();
}

// ---- The user branch ---------------------------------------------------------------

AdvancedUserOptionBranchImpl::AdvancedUserOptionBranchImpl() : AdvancedOptionBranchImpl(kUserVarsBranch) {}

std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>> AdvancedUserOptionBranchImpl::GetOptions(
    bool includeHidden) {
    auto store = AdvStore();
    // One listing of definitions and one of values, then the built-in options
    // nobody has redefined.
    std::map<std::string, UserOptionDefinition> defs;
    auto defFilter = std::make_shared<HaldenConfigStore::FilterSpecObject>(
        ConfigStoreObjectId(kUserVarDefinitionsKey, kAdvGroup, "halden"));
    for (const auto& o : store->List(defFilter)) {
        UserOptionDefinition d;
        if (!ParseUserOptionDefinition(*o, &d)) {
            TarnCtl_LogWarnInt("%s: Skipping malformed user option definition %s\n",
                               "AdvancedUserOptionBranchImpl",
                               o->GetConfigStoreObjectId().GetInstanceId().c_str());
            continue;
        }
        defs.emplace(d.name, std::move(d));
    }
    for (size_t i = 0; i < Generated::kUserVarRowCount; ++i) {
        const char* name = Generated::kUserVarRows[i].name;
        // Not among the stored definitions just listed: the built-in one, without
        // asking the store once more per option.
        if (!defs.count(name)) {
            UserOptionDefinition d;
            GetBuiltinUserOptionDefinition(name, &d);
            defs.emplace(name, std::move(d));
        }
    }
    std::map<std::string, std::shared_ptr<ConfigStoreObject>> values;
    auto valueFilter = std::make_shared<HaldenConfigStore::FilterSpecObject>(
        ConfigStoreObjectId(kUserVarsKey, kAdvGroup, "halden"));
    for (const auto& o : store->List(valueFilter)) values[o->GetConfigStoreObjectId().GetInstanceId()] = o;
    auto locker = store->Get(ConfigStoreObjectId("product_locker", "system", "halden"));

    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>> out;
    for (const auto& [name, d] : defs) {
        if (!includeHidden && d.hidden) continue;
        auto v = values.find(name);
        const ConfigStoreObject* value = v == values.end() ? nullptr : v->second.get();
        if (d.isString)
            out.push_back(std::make_unique<AdvancedUserStringOptionImpl>(d, value, locker.get()));
        else
            out.push_back(std::make_unique<AdvancedUserIntegerOptionImpl>(d, value));
    }
    return out;
}

std::unique_ptr<HostCtl::Adv::AdvancedOption> AdvancedUserOptionBranchImpl::GetOptionByName(
    const std::string& name) {
    UserOptionDefinition d;
    if (!GetUserOptionDefinition(name, &d)) throw HostCtlException("Unable to find option " + name);
    if (d.isString)
        return std::make_unique<AdvancedUserStringOptionImpl>(name);
    return std::make_unique<AdvancedUserIntegerOptionImpl>(name);
}

std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch> AdvancedUserOptionBranchImpl::GetBranchByName(
    const std::string& name) {
    throw HostCtlException("Unable to find branch " + name);
}

}  // namespace TarnCtl::Adv
