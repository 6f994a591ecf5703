// Upgrade from the old host configuration file: option values kept at
// "/adv/Branch/Option" and user options kept below "/advUserOptions/<name>"
// move into the configuration store and leave the file. Values go to the store
// only; the boot sequence then replays them into the kernel.
#include <cerrno>
#include <cstdlib>

#include "adv/adv_config.h"
#include "adv/adv_names.h"
#include "adv/advanced_option_branch_impl.h"
#include "adv/advanced_option_impl.h"
#include "adv/user_option_impl.h"
#include "hostctl/exception.h"
#include "platform/boot.h"
#include "platform/configfile.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/misc.h"

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;
using TarnCtl::Config::SynchronizedConfigFile;

namespace TarnCtl::Adv {

namespace {

const char* kUserOptionsRoot = "/advUserOptions";

bool ParseLong(const std::string& text, long* out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 0);
    if (errno || *end) return false;
    *out = v;
    return true;
}

// Scoped upgrading flag: cleared however the run ends.
struct UpgradingScope {
    UpgradingScope() { SetUpgrading(true); }
    ~UpgradingScope() { SetUpgrading(false); }
};

void UpgradeUserOption(TarnCtl::Config::ConfigFile& file, const std::string& name) {
    std::string base = std::string(kUserOptionsRoot) + "/" + name;
    auto branch = file.GetBranch(base);
    auto store = AdvStore();
    ConfigStoreTransaction txn(store);
    UserOptionDefinition d;
    if (!GetUserOptionDefinition(name, &d)) {
        std::string type, description, def;
        if (!branch->GetValue("type", &type))
            throw HostCtlException("Unable to get values for unregistered UserVar " + name);
        branch->GetValue("description", &description);
        branch->GetValue("default", &def);
        bool hidden = false, hostSpecific = false;
        branch->GetValue("hidden", &hidden);
        branch->GetValue("hostSpecific", &hostSpecific);
        auto o = std::make_shared<ConfigStoreObject>(
            ConfigStoreObjectId(kUserVarDefinitionsKey, kAdvGroup, "halden", name));
        o->SetValue("option_name", name);
        o->SetValue("description", description);
        o->SetValue("hidden", hidden);
        o->SetValue("host_specific", hostSpecific);
        if (type == "string") {
            o->SetValue("type", "STRING");
            o->CreateSubObject(HaldenConfigStore::SubObjectId("string_definition"))->SetValue("string_default", def);
            d.isString = true;
        } else {
            long v = 0, lo = 0, hi = 0;
            if (!ParseLong(def, &v) || !branch->GetValue("min", &lo) || !branch->GetValue("max", &hi) || lo > hi ||
                v < lo || v > hi)
                throw HostCtlException("Invalid definition of user option " + name);
            o->SetValue("type", "INTEGER");
            auto sub = o->CreateSubObject(HaldenConfigStore::SubObjectId("integer_definition"));
            sub->SetValue("integer_default", v);
            sub->SetValue("min", lo);
            sub->SetValue("max", hi);
            d.minimum = lo;
            d.maximum = hi;
        }
        store->Write(o);
    }
    std::string value;
    if (branch->GetValue("value", &value)) {
        auto o = std::make_shared<ConfigStoreObject>(ConfigStoreObjectId(kUserVarsKey, kAdvGroup, "halden", name));
        o->SetValue("option_name", name);
        if (d.isString) {
            o->SetValue("string_value", value);
        } else {
            long v = 0;
            if (!ParseLong(value, &v) || v < d.minimum || v > d.maximum)
                throw HostCtlException("Invalid value " + value + " for option /UserVars/" + name);
            o->SetValue("integer_value", v);
        }
        store->Write(o);
    }
    txn.Commit();
    file.Remove(base);
}

}  // namespace

void RemovefromConfFile(const std::string& branch, const std::string& option) {
    SynchronizedConfigFile file;
    if (file->Remove(ConfFileKey(branch, option))) file.Write();
}

std::vector<std::string> AdvancedOptionBranchImpl::GetOptionsToUpgrade() {
    SynchronizedConfigFile file;
    return file->ChildNames("/adv/" + _branchName, true);
}

void AdvancedOptionBranchImpl::UpgradeOption(const std::string& option) {
    SynchronizedConfigFile file;
    std::string text;
    if (!file->GetValue(ConfFileKey(_branchName, option), &text)) return;
    std::unique_ptr<HostCtl::Adv::AdvancedOption> opt;
    try {
        opt = GetOptionByName(option);
    } catch (const HostCtlException& e) {
        if (!HostCtl::Misc::StartsWith(e.what(), "Unable to find option")) throw;
        TarnCtl_LogWarnInt("%s: Option %s no longer exists, skipping\n", "AdvancedOptionBranchImpl",
                           ConfFileKey(_branchName, option).c_str());
        return;
    }
    std::string field = GetConfigstoreOptionName(_branchName, option);
    auto store = AdvStore();
    ConfigStoreTransaction txn(store);
    auto id = GetCsObjId(_branchName);
    auto object = store->Get(id);
    if (!object) object = std::make_shared<ConfigStoreObject>(id);
    if (auto* io = dynamic_cast<HostCtl::Adv::AdvancedIntegerOption*>(opt.get())) {
        long v = 0;
        if (!ParseLong(text, &v) || v < io->GetMinimum() || v > io->GetMaximum())
            throw HostCtlException("Invalid value " + text + " for option " + opt->GetOptionPath());
        object->SetValue(field, v);
    } else {
        object->SetValue(field, text);
    }
    store->Write(object);
    txn.Commit();
    RemovefromConfFile(_branchName, option);
}

bool AdvancedOptionBranchImpl::UpgradeConfigToConfigStore() {
    UpgradingScope upgrading;
    // One lock for the whole run; the file is re-read only once.
    SynchronizedConfigFile file;
    std::vector<std::string> branches;
    if (IsRoot())
        branches = file->ChildNames("/adv", false);
    else
        branches.push_back(_branchName);
    for (const auto& b : branches) {
        AdvancedOptionBranchImpl branch(b);
        for (const auto& option : branch.GetOptionsToUpgrade()) {
            try {
                branch.UpgradeOption(option);
            } catch (const HostCtlException& e) {
                TarnCtl_LogWarnInt("%s: Option Load for %s Failed: %s\n", "UpgradeConfigToConfigStore",
                                   ConfFileKey(b, option).c_str(), e.GetDetailedMessage().c_str());
            }
        }
    }
    if (IsRoot()) AdvancedUserOptionBranchImpl().UpgradeConfigToConfigStore();
    return true;
}

bool AdvancedUserOptionBranchImpl::UpgradeConfigToConfigStore() {
    UpgradingScope upgrading;
    SynchronizedConfigFile file;
    bool changed = false;
    for (const auto& name : file->ChildNames(kUserOptionsRoot, false)) {
        try {
            UpgradeUserOption(*file, name);
            changed = true;
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Option Load for %s Failed: %s\n", "UpgradeConfigToConfigStore",
                               (std::string(kUserOptionsRoot) + "/" + name).c_str(),
                               e.GetDetailedMessage().c_str());
        }
    }
    if (changed) file.Write();
    return true;
}

namespace {
const Platform::Boot::UpgradeStep kUpgrade("advanced.options", 100,
                                           [] { AdvancedOptionBranchImpl().UpgradeConfigToConfigStore(); });
}  // namespace

}  // namespace TarnCtl::Adv
