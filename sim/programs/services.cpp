// Simulated service control: init scripts under /etc/init.d, /bin/chkconfig,
// and signals to daemons. Service state lives under /var/lib/tarnsim/services
// in the host root; an init script exists when its file exists there.
#include <unistd.h>

#include <csignal>
#include <string>

#include "platform/exec.h"
#include "platform/hostroot.h"
#include "platform/misc.h"

namespace {

using Platform::Exec::Invocation;
using Platform::Exec::Result;

const std::string kStateDir = "/var/lib/tarnsim/services/";
const std::string kBootDir = "/var/lib/tarnsim/chkconfig/";

bool Running(const std::string& name) {
    std::string state;
    return HostCtl::Misc::ReadHostFile(kStateDir + name, &state) && state == "running";
}

void SetRunning(const std::string& name, bool running) {
    HostCtl::Misc::WriteHostFileAtomic(kStateDir + name, running ? "running" : "stopped");
}

bool ValidName(const std::string& name) {
    return !name.empty() && name.find('/') == std::string::npos && name != "." && name != "..";
}

Result InitScript(const Invocation& inv) {
    const std::string& path = inv.argv[0];
    std::string name = path.substr(path.rfind('/') + 1);
    if (!ValidName(name) || !HostCtl::Misc::HostFileExists(path))
        return {127, "", path + ": not found\n"};
    std::string action = inv.argv.size() > 1 ? inv.argv[1] : "";
    if (action == "start") {
        SetRunning(name, true);
        return {0, name + " started\n", ""};
    }
    if (action == "stop") {
        SetRunning(name, false);
        return {0, name + " stopped\n", ""};
    }
    if (action == "restart" || action == "reload" || action == "force-reload") {
        if (action != "restart" && !Running(name))
            return {1, "", name + " is not running\n"};
        SetRunning(name, true);
        return {0, name + " " + action + "ed\n", ""};
    }
    if (action == "status")
        return Running(name) ? Result{0, name + " is running\n", ""} : Result{3, name + " is not running\n", ""};
    return {2, "", "Usage: " + path + " {start|stop|restart|reload|status}\n"};
}

Result Chkconfig(const Invocation& inv) {
    const auto& a = inv.argv;
    if (a.size() == 2 && a[1] == "--list")
        return {0, "", ""};
    if (a.size() < 2 || !ValidName(a[1]))
        return {2, "", "usage: chkconfig NAME [on|off]\n"};
    const std::string& name = a[1];
    if (!HostCtl::Misc::HostFileExists("/etc/init.d/" + name))
        return {1, "", "chkconfig: service " + name + " does not exist\n"};
    if (a.size() == 2)
        return HostCtl::Misc::HostFileExists(kBootDir + name) ? Result{0, "", ""} : Result{1, "", ""};
    if (a[2] == "on") {
        HostCtl::Misc::WriteHostFileAtomic(kBootDir + name, "on");
        return {0, "", ""};
    }
    if (a[2] == "off") {
        ::unlink(Platform::HostPath(kBootDir + name).c_str());
        return {0, "", ""};
    }
    return {2, "", "usage: chkconfig NAME [on|off]\n"};
}

struct Registrar {
    Registrar() {
        Platform::Exec::RegisterProgram("/etc/init.d/", InitScript);
        Platform::Exec::RegisterProgram("/bin/chkconfig", Chkconfig);
        // A daemon takes a signal only while its service runs; nothing real is signalled.
        Platform::Exec::RegisterSignalHandler([](const std::string& name, int) { return Running(name); });
    }
} gRegistrar;

}  // namespace
