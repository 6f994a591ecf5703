// The console UI and the log daemon as simulated daemons, and the console's
// keyboard driver: a loaded keymap is kept with the kernel state (so a reboot
// clears it, as on a real console) under area "console", key "keymap".
#include "system_daemons.h"

#include <string>

#include "platform/console.h"
#include "platform/misc.h"
#include "sim/kernel.h"
#include "sim/processes.h"

namespace TarnSim {

namespace {

struct Daemon {
    const char* name;
    const char* pidFile;
};

const Daemon kDaemons[] = {
    {"hcui", "/var/run/hcui.pid"},
    {"corelogd", "/var/run/quillon/corelogd.pid"},
};

// A keymap as the console driver takes it: text with at least one key binding.
bool LoadKeymap(const std::string& text) {
    if (text.find("keycode") == std::string::npos) return false;
    WithState([&](KernelState& s) { s.SetAreaValue("console", "keymap", text); }, true);
    return true;
}

struct Registrar {
    Registrar() {
        Platform::Console::SetKeymapLoader(LoadKeymap);
        // Their init scripts restart them with the same PID files.
        for (const auto& d : kDaemons)
            RegisterService(d.name, {d.pidFile, nullptr});
    }
} gRegistrar;

}  // namespace

void StartSystemDaemons(KernelState& state) {
    for (const auto& d : kDaemons) {
        std::string name = d.name;
        HostCtl::Misc::WriteHostFileAtomic("/etc/init.d/" + name, "#!/bin/sh\n# " + name + "\n", 0755);
        StartProcess(state, "/etc/init.d/" + name, name, {"/etc/init.d/" + name, "start"}, d.pidFile);
    }
}

}  // namespace TarnSim
