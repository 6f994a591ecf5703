// Simulated service control: init scripts under /etc/init.d and
// /bin/chkconfig. An init script exists when its file exists in the host
// root; its service runs as a simulated process (sim/processes.h) called
// after the script. /bin/chkconfig keeps the boot-time state of each service
// in /etc/chkconfig.db, one "/etc/init.d/NAME<TAB>on|off" line per service.
#include <csignal>
#include <string>
#include <vector>

#include "platform/exec.h"
#include "platform/misc.h"
#include "sim/processes.h"

namespace {

using Platform::Exec::Invocation;
using Platform::Exec::Result;

constexpr const char* kChkconfigDb = "/etc/chkconfig.db";

bool ValidName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

bool Running(const std::string& name) {
    return !Platform::Exec::FindProcesses(name).empty();
}

void Start(const std::string& name, const Invocation& inv) {
    TarnSim::StartProcess(inv.argv[0], name, inv.argv, TarnSim::ServicePidFile(name));
}

// Ends the service's processes as its stop action does (a clean exit).
void Stop(const std::string& name) {
    for (int pid : Platform::Exec::FindProcesses(name))
        TarnSim::SignalPid(pid, SIGTERM);
}

Result InitScript(const Invocation& inv) {
    const std::string& path = inv.argv[0];
    std::string name = path.substr(path.rfind('/') + 1);
    if (!ValidName(name) || !HostCtl::Misc::HostFileExists(path))
        return {127, "", path + ": not found\n"};
    std::string action = inv.argv.size() > 1 ? inv.argv[1] : "";
    if (action == "start") {
        if (Running(name))
            return {0, name + " is already running\n", ""};
        Start(name, inv);
        return {0, name + " started\n", ""};
    }
    if (action == "stop") {
        Stop(name);
        return {0, name + " stopped\n", ""};
    }
    if (action == "restart") {
        Stop(name);
        Start(name, inv);
        return {0, name + " restarted\n", ""};
    }
    if (action == "reload" || action == "force-reload") {
        // A reload is a SIGHUP to the running daemon.
        if (!Platform::Exec::SignalProcess(name, SIGHUP))
            return {1, "", name + " is not running\n"};
        return {0, name + " " + action + "ed\n", ""};
    }
    if (action == "status")
        return Running(name) ? Result{0, name + " is running\n", ""} : Result{3, name + " is not running\n", ""};
    return {2, "", "Usage: " + path + " {start|stop|restart|reload|status}\n"};
}

// The lines of /etc/chkconfig.db as (script path, state).
std::vector<std::pair<std::string, std::string>> ReadDb() {
    std::string text;
    std::vector<std::pair<std::string, std::string>> out;
    if (!HostCtl::Misc::ReadHostFile(kChkconfigDb, &text))
        return out;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(pos, end - pos);
        pos = end + 1;
        size_t tab = line.find('\t');
        if (tab != std::string::npos)
            out.emplace_back(line.substr(0, tab), line.substr(tab + 1));
    }
    return out;
}

void SetState(const std::string& script, const std::string& state) {
    auto db = ReadDb();
    bool found = false;
    for (auto& [s, st] : db)
        if (s == script) {
            st = state;
            found = true;
        }
    if (!found)
        db.emplace_back(script, state);
    std::string text;
    for (const auto& [s, st] : db)
        text += s + "\t" + st + "\n";
    HostCtl::Misc::WriteHostFileAtomic(kChkconfigDb, text);
}

Result Chkconfig(const Invocation& inv) {
    const auto& a = inv.argv;
    if (a.size() == 2 && a[1] == "--list") {
        std::string out;
        for (const auto& [script, state] : ReadDb())
            out += script.substr(script.rfind('/') + 1) + "\t" + state + "\n";
        return {0, out, ""};
    }
    if (a.size() < 2 || a.size() > 3 || !ValidName(a[1]))
        return {2, "", "usage: chkconfig NAME [on|off]\n"};
    const std::string script = "/etc/init.d/" + a[1];
    if (!HostCtl::Misc::HostFileExists(script))
        return {1, "", "chkconfig: service " + a[1] + " does not exist\n"};
    if (a.size() == 2) {
        for (const auto& [s, state] : ReadDb())
            if (s == script)
                return {state == "on" ? 0 : 1, "", ""};
        return {1, "", ""};
    }
    if (a[2] != "on" && a[2] != "off")
        return {2, "", "usage: chkconfig NAME [on|off]\n"};
    SetState(script, a[2]);
    return {0, "", ""};
}

struct Registrar {
    Registrar() {
        Platform::Exec::RegisterProgram("/etc/init.d/", InitScript);
        Platform::Exec::RegisterProgram("/bin/chkconfig", Chkconfig);
    }
} gRegistrar;

}  // namespace
