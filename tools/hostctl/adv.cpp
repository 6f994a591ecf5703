// hostctl system settings advanced ...: list, read, set and reset the kernel's
// advanced options, define user options, and bring the host in line with a
// desired configuration. "system" and "settings" are shared with other groups,
// so they are looked up before being created.
#include <CLI/CLI.hpp>

#include <fstream>
#include <iostream>
#include <sstream>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "adv/adv_config.h"
#include "adv/adv_names.h"
#include "adv/advanced_option_branch_impl.h"
#include "adv/advanced_option_impl.h"
#include "adv/user_option_impl.h"
#include "command.h"
#include "hostctl/adv.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "output.h"
#include "platform/configstore.h"

namespace {

using HostCtl::Adv::AdvancedIntegerOption;
using HostCtl::Adv::AdvancedOption;
using HostCtl::Adv::AdvancedStringOption;

// Values and defaults keep their type so JSON shows integers as numbers.
struct Row {
    std::string path, type, range, impact, description;
    HostCtlTool::Cell value{""}, def{""};
    bool offDefault;
};

Row Describe(AdvancedOption& o) {
    Row r;
    r.path = o.GetOptionPath();
    r.impact = o.GetImpact();
    r.description = o.GetDescription();
    if (auto* i = dynamic_cast<AdvancedIntegerOption*>(&o)) {
        r.type = "integer";
        r.value = static_cast<int64_t>(i->GetValue());
        r.def = static_cast<int64_t>(i->GetDefaultValue());
        r.range = std::to_string(i->GetMinimum()) + "-" + std::to_string(i->GetMaximum());
    } else if (auto* s = dynamic_cast<AdvancedStringOption*>(&o)) {
        r.type = "string";
        r.value = s->GetValue();
        r.def = s->GetDefaultValue();
        r.range = s->GetValidCharacters();
    }
    r.offDefault = r.value.Text() != r.def.Text();
    return r;
}

void PrintOptions(std::vector<std::unique_ptr<AdvancedOption>>& options, bool delta,
                  HostCtlTool::Table& t) {
    for (auto& o : options) {
        Row r = Describe(*o);
        if (delta && !r.offDefault) continue;
        t.AddRow({r.path, r.type, r.value, r.def, r.range, r.impact, r.description});
    }
}

bool IsHidden(AdvancedOption& o) {
    if (auto* i = dynamic_cast<AdvancedIntegerOption*>(&o)) return i->IsHidden();
    if (auto* s = dynamic_cast<AdvancedStringOption*>(&o)) return s->IsHidden();
    return false;
}

void ImpactMessage(const HostCtl::Adv::OptionImpact& impact, const char* when) {
    if (impact.reboot)
        HostCtlTool::Message(std::string("A reboot is ") + when + " for the changes to take effect");
    else if (impact.maintenanceMode)
        HostCtlTool::Message(std::string("Maintenance mode is ") + when + " for the changes to take effect");
}

// One desired object of a remediation file: {"key", "group", "component",
// "instance", "data"}; group defaults to "advanced_options" and the component
// to the branch's own.
std::shared_ptr<HaldenConfigStore::ConfigStoreObject> DesiredObject(const rapidjson::Value& v) {
    auto str = [&](const char* k) {
        auto it = v.FindMember(k);
        return it != v.MemberEnd() && it->value.IsString() ? std::string(it->value.GetString()) : std::string();
    };
    if (!v.IsObject() || str("key").empty())
        throw HostCtlTool::CommandFailure{"Invalid desired configuration: every object needs a \"key\""};
    std::string key = str("key"), group = str("group"), component = str("component"), instance = str("instance");
    if (group.empty()) group = TarnCtl::Adv::kAdvGroup;
    if (group != TarnCtl::Adv::kAdvGroup)
        throw HostCtlTool::CommandFailure{"Invalid desired configuration: group " + group +
                                          " is not \"advanced_options\""};
    if (component.empty()) {
        std::string branch = TarnCtl::Adv::GetBranchFromConfigstoreName(key);
        component = branch.empty() ? "halden" : TarnCtl::Adv::GetConfigstoreComponentName(branch);
    }
    std::string data = "{}";
    auto it = v.FindMember("data");
    if (it != v.MemberEnd()) {
        if (!it->value.IsObject())
            throw HostCtlTool::CommandFailure{"Invalid desired configuration: \"data\" of " + key +
                                              " is not an object"};
        rapidjson::StringBuffer sb;
        rapidjson::Writer<rapidjson::StringBuffer> w(sb);
        it->value.Accept(w);
        data = sb.GetString();
    }
    return HaldenConfigStore::ConfigStoreObject::FromData(
        HaldenConfigStore::ConfigStoreObjectId(key, group, component, instance), data);
}

std::vector<std::shared_ptr<HaldenConfigStore::ConfigStoreObject>> ReadDesiredFile(const std::string& path) {
    // The desired configuration is the operator's own file, not a file of the host.
    std::ifstream in(path);
    if (!in) throw HostCtlTool::CommandFailure{"Unable to read the desired configuration " + path};
    std::stringstream ss;
    ss << in.rdbuf();
    rapidjson::Document doc;
    doc.Parse(ss.str().c_str());
    if (doc.HasParseError())
        throw HostCtlTool::CommandFailure{"Invalid desired configuration: " + path + " is not JSON"};
    std::vector<std::shared_ptr<HaldenConfigStore::ConfigStoreObject>> out;
    if (doc.IsArray())
        for (const auto& v : doc.GetArray()) out.push_back(DesiredObject(v));
    else
        out.push_back(DesiredObject(doc));
    return out;
}

struct UserArgs {
    std::string name, type = "integer", description, def;
    long minimum = 0, maximum = 0;
    bool hidden = false, hostSpecific = false, reboot = false, maintenance = false;
    unsigned int Flags() const {
        unsigned int f = 0;
        if (hidden) f |= HostCtl::Adv::USER_OPT_HIDDEN;
        if (hostSpecific) f |= HostCtl::Adv::USER_OPT_HOST_SPECIFIC;
        if (reboot) f |= HostCtl::Adv::USER_OPT_REBOOT_REQUIRED;
        if (maintenance) f |= HostCtl::Adv::USER_OPT_MAINTENANCE_MODE_REQUIRED;
        return f;
    }
};

int32_t Int32Arg(const std::string& what, long v) {
    if (v < INT32_MIN || v > INT32_MAX)
        throw HostCtlTool::CommandFailure{"Invalid " + what + ": " + std::to_string(v) +
                                          " does not fit in 32 bits"};
    return static_cast<int32_t>(v);
}

void AddUserOptions(CLI::App* user, UserArgs& a, bool update) {
    user->add_option("name", a.name, "Option name")->required();
    user->add_option("--type", a.type, "integer or string")
        ->check(CLI::IsMember({"integer", "string"}))
        ->capture_default_str();
    user->add_option("--description", a.description, "Description");
    user->add_option("--default", a.def, "Default value")->required();
    user->add_option("--min", a.minimum, "Minimum (integer options)");
    user->add_option("--max", a.maximum, "Maximum (integer options)");
    user->add_flag("--hidden", a.hidden, "Hide the option from plain listings");
    user->add_flag("--host-specific", a.hostSpecific, "The value belongs to this host only");
    user->add_flag("--reboot", a.reboot, "A change needs a reboot");
    user->add_flag("--maintenance-mode", a.maintenance, "A change needs maintenance mode");
    user->callback([&a, update] {
        TarnCtl::Adv::UserAdvancedOptionImpl u;
        if (a.type == "string") {
            if (update)
                u.UpdateUserStringOption(a.name, a.description, a.def, a.Flags());
            else
                u.AddUserStringOption(a.name, a.description, a.def, a.Flags());
        } else {
            long def = 0;
            try {
                size_t used = 0;
                def = std::stol(a.def, &used);
                if (used != a.def.size()) throw std::invalid_argument(a.def);
            } catch (const std::exception&) {
                throw HostCtlTool::CommandFailure{"Invalid integer default: " + a.def};
            }
            if (update)
                u.UpdateUserIntegerOption(a.name, a.description, Int32Arg("default", def),
                                          Int32Arg("minimum", a.minimum), Int32Arg("maximum", a.maximum),
                                          a.Flags());
            else
                u.AddUserIntegerOption(a.name, a.description, Int32Arg("default", def),
                                       Int32Arg("minimum", a.minimum), Int32Arg("maximum", a.maximum),
                                       a.Flags());
        }
        HostCtlTool::Message(std::string(update ? "Updated" : "Added") + " /UserVars/" + a.name);
    });
}

HostCtlTool::CommandGroup gAdv("system.settings.advanced", 40, [](CLI::App& app) {
    auto* system = HostCtlTool::SharedSubcommand(app, "system", "System services and settings");
    auto* settings = HostCtlTool::SharedSubcommand(*system, "settings", "Host settings");
    auto* adv = settings->add_subcommand("advanced", "The kernel's advanced options");
    adv->require_subcommand(1);

    static std::string branch;
    static bool hidden = false, delta = false;
    auto* list = adv->add_subcommand("list", "List options with their values");
    list->add_option("--branch", branch, "Only this branch (\"UserVars\" for user options)");
    list->add_flag("--hidden", hidden, "Include hidden options");
    list->add_flag("--delta", delta, "Only options off their default");
    list->callback([] {
        auto root = HostCtl::HostFactory::GetHost()->GetAdvancedOptions();
        HostCtlTool::Table t({"Path", "Type", "Value", "Default", "Range", "Impact", "Description"});
        std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch>> branches;
        if (branch.empty())
            branches = root->GetBranches();
        else
            branches.push_back(root->GetBranchByName(branch));
        for (auto& b : branches) {
            auto options = b->GetOptions(hidden);
            PrintOptions(options, delta, t);
        }
        t.Print();
    });

    static std::string getPath;
    auto* get = adv->add_subcommand("get", "Show one option");
    get->add_option("path", getPath, "Option path, e.g. /Net/TcpipHeapSize")->required();
    get->callback([] {
        auto o = TarnCtl::Adv::AdvancedOptionImpl::FindOption(getPath);
        Row r = Describe(*o);
        HostCtlTool::Record rec;
        rec.Add("Path", r.path).Add("Type", r.type).Add("Value", r.value).Add("Default", r.def);
        if (auto* i = dynamic_cast<AdvancedIntegerOption*>(o.get()))
            rec.Add("Minimum", static_cast<int64_t>(i->GetMinimum()))
                .Add("Maximum", static_cast<int64_t>(i->GetMaximum()));
        else
            rec.Add("Valid Characters", r.range);
        rec.Add("Description", r.description)
            .Add("Hidden", IsHidden(*o))
            .Add("Host Specific", o->IsHostSpecific())
            .Add("Impact", r.impact);
        rec.Print();
    });

    static std::string setPath, setValue;
    auto* set = adv->add_subcommand("set", "Set an option (kept across reboots)");
    set->add_option("path", setPath, "Option path")->required();
    set->add_option("value", setValue, "New value")->required();
    set->callback([] {
        auto o = TarnCtl::Adv::AdvancedOptionImpl::FindOption(setPath);
        if (auto* i = dynamic_cast<AdvancedIntegerOption*>(o.get())) {
            long v = 0;
            try {
                size_t used = 0;
                v = std::stol(setValue, &used, 0);
                if (used != setValue.size()) throw std::invalid_argument(setValue);
            } catch (const std::exception&) {
                throw HostCtlTool::CommandFailure{"Invalid integer value: " + setValue};
            }
            i->SetValue(v);
        } else if (auto* s = dynamic_cast<AdvancedStringOption*>(o.get())) {
            s->SetValue(setValue);
        }
        HostCtlTool::Message("Set " + o->GetOptionPath());
        std::string impact = o->GetImpact();
        ImpactMessage({impact == "reboot", impact == "maintenance-mode"}, "needed");
    });

    static std::string resetPath;
    auto* reset = adv->add_subcommand("reset", "Reset an option to its default");
    reset->add_option("path", resetPath, "Option path")->required();
    reset->callback([] {
        auto o = TarnCtl::Adv::AdvancedOptionImpl::FindOption(resetPath);
        o->SetToDefault();
        HostCtlTool::Message("Reset " + o->GetOptionPath());
    });

    auto* user = adv->add_subcommand("user", "User-defined options (branch UserVars)");
    user->require_subcommand(1);
    static UserArgs addArgs, updateArgs;
    AddUserOptions(user->add_subcommand("add", "Define a user option"), addArgs, false);
    AddUserOptions(user->add_subcommand("update", "Redefine a user option"), updateArgs, true);

    static std::string deleteName;
    auto* del = user->add_subcommand("delete", "Delete a user option and its value");
    del->add_option("name", deleteName, "Option name")->required();
    del->callback([] {
        TarnCtl::Adv::UserAdvancedOptionImpl().DeleteOption(deleteName, false);
        HostCtlTool::Message("Deleted /UserVars/" + deleteName);
    });

    static bool userHidden = false;
    auto* ulist = user->add_subcommand("list", "List user options");
    ulist->add_flag("--hidden", userHidden, "Include hidden options");
    ulist->callback([] {
        TarnCtl::Adv::AdvancedUserOptionBranchImpl b;
        auto options = b.GetOptions(userHidden);
        HostCtlTool::Table t({"Path", "Type", "Value", "Default", "Range", "Impact", "Description"});
        PrintOptions(options, false, t);
        t.Print();
    });

    static std::string file;
    static bool dryRun = false;
    auto* rem = adv->add_subcommand("remediate", "Bring the options in line with a desired configuration");
    rem->add_option("file", file, "Desired configuration (JSON: objects with key, data)")
        ->required()
        ->check(CLI::ExistingFile);
    rem->add_flag("--dry-run", dryRun, "Only report what the change would need");
    rem->callback([] {
        auto desired = ReadDesiredFile(file);
        HostCtl::Adv::OptionImpact impact;
        for (const auto& d : desired) {
            HostCtl::Adv::OptionImpact i;
            if (d->GetConfigStoreObjectId().GetKey() == TarnCtl::Adv::kUserVarsKey)
                i = TarnCtl::Adv::CheckUserOptionImpact(d->GetConfigStoreObjectId().GetInstanceId());
            else
                i = TarnCtl::Adv::CheckOptionImpact(*d);
            impact.reboot |= i.reboot;
            impact.maintenanceMode |= i.maintenanceMode;
        }
        if (!dryRun) {
            for (const auto& d : desired) {
                if (d->GetConfigStoreObjectId().GetKey() == TarnCtl::Adv::kUserVarsKey)
                    TarnCtl::Adv::RemediateDesiredUserConfig(*d);
                else
                    TarnCtl::Adv::RemediateDesiredConfig(*d);
            }
        }
        if (HostCtlTool::GlobalOptions().Json()) {
            HostCtlTool::Record rec;
            rec.Add("applied", !dryRun).Add("rebootRequired", impact.reboot).Add("maintenanceModeRequired",
                                                                                 impact.maintenanceMode);
            rec.Print();
            return;
        }
        HostCtlTool::Message(dryRun ? "Nothing changed (dry run)" : "Remediated " + std::to_string(desired.size()) + " object(s)");
        HostCtlTool::Message(std::string("Reboot required: ") + (impact.reboot ? "yes" : "no"));
        HostCtlTool::Message(std::string("Maintenance mode required: ") + (impact.maintenanceMode ? "yes" : "no"));
    });
});

}  // namespace
