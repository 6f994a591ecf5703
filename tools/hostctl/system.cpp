// hostctl system ...: the host's identity and boot facts, the hardware clock,
// maintenance mode, greeting texts, the keyboard layout and kernel log levels.
// "system" is shared with other groups, so it is looked up before being created.
#include <CLI/CLI.hpp>

#include <iostream>

#include "command.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/system.h"
#include "output.h"
#include "system/system_info_impl.h"

namespace {

using HostCtl::System::MaintenanceMode;
using TarnCtl::System::SystemInfoImpl;

std::string Bool(bool b) { return b ? "true" : "false"; }

// A fact that may be missing on this host: its text, or "" after a warning.
template <class Fn>
std::string Optional(Fn read) {
    try {
        return read();
    } catch (const HostCtl::Lib::HostCtlException&) {
        return "";
    }
}

std::string MaintenanceText(MaintenanceMode m) {
    switch (m) {
        case HostCtl::System::MAINTENANCE_MODE_ENABLED: return "enabled";
        case HostCtl::System::MAINTENANCE_MODE_DISABLED: return "disabled";
        case HostCtl::System::MAINTENANCE_MODE_NONE: return "none";
        default: return "unknown";
    }
}

void Info() {
    SystemInfoImpl s;
    auto version = s.GetTarnVersion(HostCtl::System::TARN_VERSION_RUNNING);
    HostCtlTool::Record r;
    r.Add("system_uuid", Optional([&] { return s.GetSystemUuid(false).text; }));
    r.Add("tarnos_uuid", s.GetTarnosUuid().text);
    r.Add("product", version.product).Add("version", version.version).Add("build", version.build);
    r.Add("release", version.release).Add("patch", version.patch);
    r.Add("alt_boot_bank_version", Optional([&] {
        auto alt = s.GetTarnVersion(HostCtl::System::TARN_VERSION_ALT_BOOT_BANK);
        return alt.version.empty() ? std::string() : alt.version + "-" + alt.patch + "." + alt.build;
    }));
    r.Add("boot_nic_mac", s.GetBootNicMacAddress());
    r.Add("boot_fs_uuid", s.GetBootFsUUID());
    r.Add("boot_volume", s.GetBootVolume());
    r.Add("boot_command_line", s.GetBootCommandLine());
    r.Add("boot_failure", s.IsSystemBootFailureDetected());
    r.Add("pxe_booted", s.IsPxeBooted());
    r.Add("maintenance_mode", MaintenanceText(s.GetMaintenanceModeState()));
    r.Add("supported_vms", s.GetSupportedVMs());
    r.Print();
}

void PrintClock(const HostCtl::System::RtcDateTime& t) {
    if (HostCtlTool::GlobalOptions().Json()) {
        HostCtlTool::Record r;
        r.Add("year", t.year).Add("month", t.month).Add("day", t.day);
        r.Add("hour", t.hour).Add("minute", t.minute).Add("second", t.second);
        r.Print();
        return;
    }
    char text[64];
    std::snprintf(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u UTC", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    std::cout << text << "\n";
}

// The three greetings by their command names.
struct GreetingOps {
    std::string (SystemInfoImpl::*get)();
    void (SystemInfoImpl::*set)(const std::string&);
};

GreetingOps Greeting(const std::string& name) {
    if (name == "welcome") return {&SystemInfoImpl::GetWelcomeMessage, &SystemInfoImpl::SetWelcomeMessage};
    if (name == "motd") return {&SystemInfoImpl::GetMotd, &SystemInfoImpl::SetMotd};
    return {&SystemInfoImpl::GetIssue, &SystemInfoImpl::SetIssue};
}

void PrintGreeting(const std::string& name, const std::string& text) {
    if (HostCtlTool::GlobalOptions().Json()) {
        HostCtlTool::Record r;
        r.Add("name", name).Add("text", text);
        r.Print();
        return;
    }
    std::cout << text << (text.empty() || text.back() == '\n' ? "" : "\n");
}

void LogLevelList() {
    HostCtlTool::Table t({"name", "level", "default_level"});
    t.SetKind("level", HostCtlTool::Table::Kind::Number).SetKind("default_level", HostCtlTool::Table::Kind::Number);
    for (const auto& l : SystemInfoImpl().GetAllLogLevels())
        t.AddRow({l.name, std::to_string(l.level), std::to_string(l.defaultLevel)});
    t.Print();
}

HostCtlTool::CommandGroup gSystem("system", 30, [](CLI::App& app) {
    auto* system = HostCtlTool::SharedSubcommand(app, "system", "System services and settings");

    system->add_subcommand("info", "The host's UUIDs, version and boot facts")->callback(Info);

    auto* clock = system->add_subcommand("clock", "The hardware clock (UTC)");
    clock->require_subcommand(1);
    clock->add_subcommand("get", "Read the clock")->callback([] { PrintClock(SystemInfoImpl().GetRtcDateTime()); });
    static HostCtl::System::RtcDateTime when;
    auto* cset = clock->add_subcommand("set", "Set the clock; out-of-range days roll over into the next month");
    cset->add_option("--year", when.year, "Year (1970 or later)")->required();
    cset->add_option("--month", when.month, "Month (1-12)")->required();
    cset->add_option("--day", when.day, "Day (1-31)")->required();
    cset->add_option("--hour", when.hour, "Hour (0-23)")->required();
    cset->add_option("--minute", when.minute, "Minute (0-59)")->required();
    cset->add_option("--second", when.second, "Second (0-59)")->required();
    cset->callback([] {
        SystemInfoImpl s;
        s.SetRtcDateTime(when);
        PrintClock(s.GetRtcDateTime());
    });

    auto* maint = system->add_subcommand("maintenance", "Maintenance mode");
    maint->require_subcommand(1);
    maint->add_subcommand("get", "Show the maintenance mode")->callback([] {
        SystemInfoImpl s;
        HostCtlTool::Record r;
        r.Add("maintenance_mode", MaintenanceText(s.GetMaintenanceModeState()));
        auto partial = s.ListPartialMaintenanceModeInfo();
        if (!partial.empty()) {
            HostCtlTool::Table t({"id", "enabled"});
            t.SetKind("enabled", HostCtlTool::Table::Kind::Bool);
            for (const auto& p : partial) t.AddRow({p.id, Bool(p.enabled)});
            r.AddTable("partial_modes", t);
        }
        r.Print();
    });
    maint->add_subcommand("enter", "Enter maintenance mode")->callback([] {
        SystemInfoImpl().SetMaintenanceModeState(HostCtl::System::MAINTENANCE_MODE_ENABLED);
        HostCtlTool::Message("Maintenance mode entered");
    });
    maint->add_subcommand("exit", "Leave maintenance mode")->callback([] {
        SystemInfoImpl().SetMaintenanceModeState(HostCtl::System::MAINTENANCE_MODE_DISABLED);
        HostCtlTool::Message("Maintenance mode exited");
    });
    static std::string partialId;
    static bool partialEnabled = false;
    auto* partial = maint->add_subcommand("partial", "Set a partial maintenance mode");
    partial->add_option("id", partialId, "Partial maintenance mode id")->required();
    partial->add_option("enabled", partialEnabled, "true or false")->required();
    partial->callback([] {
        SystemInfoImpl().SetPartialMaintenanceModeStatus(partialId, partialEnabled);
        HostCtlTool::Message("Partial maintenance mode " + partialId + (partialEnabled ? " enabled" : " disabled"));
    });

    auto* greeting = system->add_subcommand("greeting", "Welcome message, /etc/motd and /etc/issue (\"<ESC>\" is the escape character)");
    greeting->require_subcommand(1);
    static std::string which, text;
    auto names = CLI::IsMember({"welcome", "motd", "issue"});
    auto* gget = greeting->add_subcommand("get", "Show a greeting");
    gget->add_option("name", which, "welcome, motd or issue")->required()->check(names);
    gget->callback([] {
        SystemInfoImpl s;
        PrintGreeting(which, (s.*Greeting(which).get)());
    });
    auto* gset = greeting->add_subcommand("set", "Set a greeting (an empty text removes it)");
    gset->add_option("name", which, "welcome, motd or issue")->required()->check(names);
    gset->add_option("text", text, "The text")->required();
    gset->callback([] {
        SystemInfoImpl s;
        (s.*Greeting(which).set)(text);
        HostCtlTool::Message("Set " + which);
    });
    auto* greset = greeting->add_subcommand("reset", "Reset a greeting to its (empty) default");
    greset->add_option("name", which, "welcome, motd or issue")->required()->check(names);
    greset->callback([] {
        SystemInfoImpl s;
        if (which == "welcome")
            s.SetWelcomeMessage("");
        else if (which == "motd")
            s.ResetMotd();
        else
            s.ResetIssue();
        HostCtlTool::Message("Reset " + which);
    });

    auto* keyboard = system->add_subcommand("keyboard", "Keyboard layout of the console");
    keyboard->require_subcommand(1);
    keyboard->add_subcommand("list", "List the layouts")->callback([] {
        SystemInfoImpl s;
        std::string current = s.GetKeyboardLayout();
        HostCtlTool::Table t({"layout", "current"});
        t.SetKind("current", HostCtlTool::Table::Kind::Bool);
        for (const auto& name : s.GetKeyboardLayouts()) t.AddRow({name, Bool(name == current)});
        t.Print();
    });
    keyboard->add_subcommand("get", "Show the configured layout")->callback([] {
        HostCtlTool::Record r;
        r.Add("layout", SystemInfoImpl().GetKeyboardLayout());
        r.Print();
    });
    static std::string layout;
    auto* kset = keyboard->add_subcommand("set", "Load a layout and keep it");
    kset->add_option("layout", layout, "Layout name (quote names with spaces)")->required();
    kset->callback([] {
        SystemInfoImpl().SetKeyboardLayout(layout);
        HostCtlTool::Message("Keyboard layout set to " + layout);
    });

    auto* loglevel = system->add_subcommand("loglevel", "Kernel log levels");
    loglevel->require_subcommand(1);
    loglevel->add_subcommand("list", "List the loggers")->callback(LogLevelList);
    static std::string logger;
    static uint32_t level = 0;
    static bool toDefault = false;
    auto* lset = loglevel->add_subcommand("set", "Set a logger's level");
    lset->add_option("name", logger, "Logger name")->required();
    auto* levelOpt = lset->add_option("level", level, "New level");
    auto* defaultOpt = lset->add_flag("--default", toDefault, "Back to the logger's default level");
    levelOpt->excludes(defaultOpt);
    lset->callback([levelOpt] {
        SystemInfoImpl s;
        if (toDefault)
            s.SetDefaultLogLevel(logger);
        else if (levelOpt->count() == 0)
            throw CLI::RequiredError("level or --default");
        else
            s.SetLogLevel(logger, level);
        auto l = s.GetLogLevel(logger);
        HostCtlTool::Message(logger + " level " + std::to_string(l.level));
    });
});

}  // namespace
