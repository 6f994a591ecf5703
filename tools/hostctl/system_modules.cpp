// hostctl system module ... and hostctl system bootoption ...: list, load and
// configure kernel modules, and read and set the kernel's boot options for the
// next boot. "system" is shared with other groups, so it is looked up before
// being created.
#include <CLI/CLI.hpp>

#include <cctype>

#include "command.h"
#include "hostctl/exception.h"
#include "output.h"
#include "platform/misc.h"
#include "system/kernel_opt_impl.h"
#include "system/kernel_opts.h"
#include "system/module_impl.h"

namespace {

using TarnCtl::System::KernelOpts;
using TarnCtl::System::ModuleImpl;

std::string YesNo(bool b) { return b ? "true" : "false"; }

ModuleImpl Module(const std::string& name) {
    if (!ModuleImpl::IsValidName(name)) throw HostCtlTool::CommandFailure{"Invalid Module name " + name};
    return ModuleImpl(name);
}

std::string Hex(uint64_t v) { return HostCtl::Misc::StrPrintf("0x%016llx", static_cast<unsigned long long>(v)); }

std::string Namespace(const HostCtl::System::ModuleNamespace& ns) {
    return ns.name.empty() ? "" : ns.name + "#" + ns.version;
}

void AddModuleCommands(CLI::App* system) {
    auto* mod = system->add_subcommand("module", "Kernel modules: load, unload, options kept across reboots");
    mod->require_subcommand(1);

    static bool loadedOnly = false;
    auto* list = mod->add_subcommand("list", "List the modules");
    list->add_flag("--loaded", loadedOnly, "Only loaded modules");
    list->callback([] {
        HostCtlTool::Table t({"Name", "Loaded", "Enabled", "File Version", "Options"});
        t.SetKind("Loaded", HostCtlTool::Table::Kind::Bool).SetKind("Enabled", HostCtlTool::Table::Kind::Bool);
        for (const auto& name : ModuleImpl::GetAllModuleNames()) {
            ModuleImpl m(name);
            bool loaded = m.IsLoaded();
            if (loadedOnly && !loaded) continue;
            std::string version;
            try {
                version = m.GetFileVersion();
            } catch (const HostCtl::Lib::HostCtlException& e) {
                version = std::string("(") + e.what() + ")";
            }
            t.AddRow({name, YesNo(loaded), YesNo(m.GetEnabled()), version, m.GetOptionString()});
        }
        t.Print();
    });

    static std::string showName;
    auto* show = mod->add_subcommand("show", "Show one module");
    show->add_option("name", showName, "Module name")->required();
    show->callback([] {
        ModuleImpl m = Module(showName);
        HostCtlTool::Record r;
        r.Add("Name", m.GetName()).Add("File Path", m.GetFilePath()).Add("Loaded", m.IsLoaded());
        if (m.IsLoaded())
            r.Add("Module ID", m.GetModuleId())
                .Add("Version", m.GetVersion())
                .Add("Build Type", m.GetBuildType())
                .Add("Use Count", m.GetUseCount())
                .Add("Loaded Options", m.GetLoadedOptions())
                .Add("Read Only Address", Hex(m.GetReadOnlyAddr()))
                .Add("Read Only Length", m.GetReadOnlyLength())
                .Add("Writable Address", Hex(m.GetWritableAddr()))
                .Add("Writable Length", m.GetWritableLength())
                .Add("Text Base", Hex(m.GetTextBaseAddr()))
                .Add("Data Base", Hex(m.GetDataBaseAddr()))
                .Add("Bss Base", Hex(m.GetBssBaseAddr()));
        r.Add("Enabled", m.GetEnabled()).Add("Options", m.GetOptionString());
        r.Add("File Version", m.GetFileVersion())
            .Add("License", m.GetLicense())
            .Add("Provides", Namespace(m.GetNamespace()));
        std::string required;
        for (const auto& ns : m.GetRequiredNamespaces()) required += (required.empty() ? "" : " ") + Namespace(ns);
        r.Add("Requires", required).Add("Bundle", m.GetContainingZIB()).Add("Acceptance Level", m.GetZIBAcceptanceLevel());
        r.Print();
    });

    static std::string paramsName;
    auto* params = mod->add_subcommand("parameters", "The parameters a module file declares");
    params->add_option("name", paramsName, "Module name")->required();
    params->callback([] {
        ModuleImpl m = Module(paramsName);
        auto options = m.GetOptions();
        HostCtlTool::Table t({"Name", "Type", "Value", "Description"});
        for (const auto& p : m.GetParameters()) {
            auto it = options.find(p.name);
            t.AddRow({p.name, p.type, it == options.end() ? "" : it->second, p.description});
        }
        t.Print();
    });

    static std::string loadName, loadOptions;
    static bool loadSkip = false;
    auto* load = mod->add_subcommand("load", "Load a module (a loaded one is left as it is)");
    load->add_option("name", loadName, "Module name")->required();
    load->add_option("--options", loadOptions, "Option string (default: the configured one)");
    load->add_flag("--skip-validation", loadSkip, "Do not check the options against the module file");
    load->callback([] {
        ModuleImpl(loadName).Load(loadOptions, loadSkip);
        HostCtlTool::Message("Module " + loadName + " is loaded");
    });

    static std::string unloadName;
    auto* unload = mod->add_subcommand("unload", "Unload a module");
    unload->add_option("name", unloadName, "Module name")->required();
    unload->callback([] {
        ModuleImpl(unloadName).Unload();
        HostCtlTool::Message("Unloaded module " + unloadName);
    });

    static std::string optName, optText;
    static bool optAppend = false, optSkip = false;
    auto* setOpts = mod->add_subcommand("set-options", "Set the options used from the next load on");
    setOpts->add_option("name", optName, "Module name")->required();
    setOpts->add_option("options", optText, "Option string, e.g. \"max_vfs=8,8\" (\"\" clears)")->required();
    setOpts->add_flag("--append", optAppend, "Add to the configured options (configured ones are kept)");
    setOpts->add_flag("--skip-validation", optSkip, "Do not check the options against the module file");
    setOpts->callback([] {
        ModuleImpl m = Module(optName);
        if (optAppend)
            m.AppendOptionString(optText, optSkip);
        else
            m.SetOptionString(optText, optSkip);
        HostCtlTool::Message("Options of " + optName + ": \"" + m.GetOptionString() +
                             "\" (in effect at the next load or reboot)");
    });

    static std::string enableName, disableName;
    auto* enable = mod->add_subcommand("enable", "Load the module at boot");
    enable->add_option("name", enableName, "Module name")->required();
    enable->callback([] {
        Module(enableName).SetEnabled(true);
        HostCtlTool::Message("Enabled module " + enableName);
    });
    auto* disable = mod->add_subcommand("disable", "Do not load the module at boot");
    disable->add_option("name", disableName, "Module name")->required();
    disable->callback([] {
        Module(disableName).SetEnabled(false);
        HostCtlTool::Message("Disabled module " + disableName);
    });
}

bool IsInteger(const std::string& s) {
    size_t i = s.size() > 1 && s[0] == '-' ? 1 : 0;
    if (i >= s.size()) return false;
    for (; i < s.size(); ++i)
        if (!std::isdigit(static_cast<unsigned char>(s[i]))) return false;
    return true;
}

void AddBootOptionCommands(CLI::App* system) {
    auto* boot = system->add_subcommand("bootoption", "Kernel boot options (set for the next boot)");
    boot->require_subcommand(1);

    static bool delta = false;
    auto* list = boot->add_subcommand("list", "List the boot options");
    list->add_flag("--delta", delta, "Only options configured off their default");
    list->callback([] {
        HostCtlTool::Table t({"Name", "Type", "Value", "Runtime", "Default", "Saveable", "Description"});
        t.SetKind("Saveable", HostCtlTool::Table::Kind::Bool);
        for (auto& o : KernelOpts::GetAllOptions(!delta)) {
            auto* impl = dynamic_cast<TarnCtl::System::KernelOptionImpl*>(o.get());
            t.AddRow({o->GetName(), KernelOpts::GetOptionTypeString(o->GetType()), o->GetValueString(),
                      o->GetRuntimeValueString(), o->GetDefaultValueString(), YesNo(impl && impl->IsSaveable()),
                      o->GetDescription()});
        }
        t.Print();
    });

    static std::string getName;
    auto* get = boot->add_subcommand("get", "Show one boot option");
    get->add_option("name", getName, "Option name")->required();
    get->callback([] {
        auto o = KernelOpts::GetOption(getName);
        HostCtlTool::Record r;
        r.Add("Name", o->GetName())
            .Add("Type", KernelOpts::GetOptionTypeString(o->GetType()))
            .Add("Value", o->GetValueString())
            .Add("Runtime", o->GetRuntimeValueString())
            .Add("Default", o->GetDefaultValueString())
            .Add("Saveable", o->IsSaveable())
            .Add("Description", o->GetDescription());
        r.Print();
    });

    static std::string setName, setValue;
    auto* set = boot->add_subcommand("set", "Set a boot option for the next boot");
    set->add_option("name", setName, "Option name")->required();
    set->add_option("value", setValue, "TRUE/FALSE, a number or text, by the option's type")->required();
    set->callback([] {
        // The value's form decides the call, as for the library's callers: a
        // number for a Bool option is refused with the type-mismatch message.
        std::string lower;
        for (char c : setValue) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (lower == "true" || lower == "false")
            KernelOpts::SetOption(setName, lower == "true");
        else if (IsInteger(setValue) && KernelOpts::GetOptionType(setName) != HostCtl::System::KernelOption::TYPE_STRING)
            try {
                KernelOpts::SetOption(setName, std::stol(setValue));
            } catch (const std::out_of_range&) {
                throw HostCtlTool::CommandFailure{"Invalid value " + setValue + " for key (" + setName +
                                                  "): out of range"};
            }
        else
            KernelOpts::SetOption(setName, setValue);
        HostCtlTool::Message("Set " + setName + " for the next boot; a reboot is needed for it to take effect");
    });
}

HostCtlTool::CommandGroup gModules("system.modules", 45, [](CLI::App& app) {
    auto* system = HostCtlTool::SharedSubcommand(app, "system", "System services and settings");
    AddModuleCommands(system);
    AddBootOptionCommands(system);
});

}  // namespace
