// The console UI and the log daemon as simulated daemons, and the console's
// keyboard driver: a loaded keymap is kept with the kernel state (so a reboot
// clears it, as on a real console) under area "console", key "keymap".
#include "system_daemons.h"

#include <string>

#include "platform/console.h"
#include "platform/misc.h"
#include "sim/kernel.h"

namespace TarnSim {

namespace {

struct Daemon {
    const char* name;
    const char* pidFile;
    long pid;
};

// Above PID_MAX_LIMIT (4194304): no real process has these ids.
const Daemon kDaemons[] = {
    {"hcui", "/var/run/hcui.pid", 4194401},
    {"corelogd", "/var/run/quillon/corelogd.pid", 4194402},
};

// A keymap as the console driver takes it: text with at least one key binding.
bool LoadKeymap(const std::string& text) {
    if (text.find("keycode") == std::string::npos) return false;
    WithState([&](KernelState& s) { s.SetAreaValue("console", "keymap", text); }, true);
    return true;
}

struct Registrar {
    Registrar() { Platform::Console::SetKeymapLoader(LoadKeymap); }
} gRegistrar;

}  // namespace

void StartSystemDaemons(KernelState&) {
    for (const auto& d : kDaemons) {
        std::string name = d.name;
        HostCtl::Misc::WriteHostFileAtomic("/etc/init.d/" + name, "#!/bin/sh\n# " + name + "\n", 0755);
        HostCtl::Misc::WriteHostFileAtomic("/var/lib/tarnsim/services/" + name, "running");
        HostCtl::Misc::WriteHostFileAtomic(d.pidFile, std::to_string(d.pid) + "\n");
    }
}

}  // namespace TarnSim
