// Simulated processes: what a daemon started through the command runner leaves
// running. A process is a record in the simulated kernel's state, never a real
// process: a pid, a name, its command line, the PID file it wrote and the
// signals it received. Every process of the host root is visible to every
// process using that root (`hostctl sim ps`); a reboot ends them all (their
// PID files go too) and then starts the services /bin/chkconfig has enabled.
//
// The library reaches processes only through Platform::Exec::Kill,
// SignalProcess and FindProcesses (platform/exec.h); this table answers them.
//
// A simulated program becomes a daemon by registering (from sim/programs/):
//
//   static TarnSim::DaemonRegistration d("/bin/dhclient-uw", {
//       .run = [](const Platform::Exec::Invocation& inv, TarnSim::Launch& launch) {
//           if (/* a release run */) return Platform::Exec::Result{0, "", ""};
//           launch.start = true;                  // leave a process running
//           launch.pidFile = "/var/run/dhcp-tarn0.pid";
//           return Platform::Exec::Result{0, "", ""};
//       },
//       .onSignal = [](const TarnSim::Process& p, int sig) { return sig == SIGTERM; },
//   });
//
// An init script (/etc/init.d/NAME) runs its service as a process called NAME
// whose PID file is /var/run/NAME.pid, unless RegisterService says otherwise.
// A program fault of kind NoPidFile (sim/faults.h) on the program's path makes
// the next start leave its process without a PID file.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/boot.h"
#include "platform/exec.h"

namespace TarnSim {

struct Process {
    int pid = 0;
    std::string name;               // "dhclient-uw", "ntpd"
    std::vector<std::string> argv;  // the command line that started it
    std::string pidFile;            // host path it wrote, "" when none
    std::vector<int> signals;       // received, oldest first (signal 0 is not kept)
};

// What a run leaves behind; filled by a daemon program's `run`.
struct Launch {
    bool start = false;    // leave a process running
    std::string name;      // default: the base name of argv[0]
    std::string pidFile;   // host path the process writes its pid to; "" for none
};

// What a signal does to a process: true ends it. A process ended by any
// signal but SIGKILL removes its PID file, as a daemon's clean exit does.
using SignalFn = std::function<bool(const Process& process, int signal)>;
// SIGHUP, SIGUSR1, SIGUSR2 and others are only recorded; SIGINT, SIGQUIT,
// SIGTERM and SIGKILL end the process.
bool DefaultSignalAction(const Process& process, int signal);

struct DaemonProgram {
    std::function<Platform::Exec::Result(const Platform::Exec::Invocation& invocation, Launch& launch)> run;
    SignalFn onSignal;  // null: DefaultSignalAction
};
// Registers a daemon program under its absolute path (as RegisterProgram).
void RegisterDaemon(const std::string& path, DaemonProgram program);
struct DaemonRegistration {
    DaemonRegistration(const std::string& path, DaemonProgram program) {
        RegisterDaemon(path, std::move(program));
    }
};

// How an init script's service runs: its PID file and signal behaviour.
struct ServiceSpec {
    std::string pidFile;  // "" -> /var/run/NAME.pid
    SignalFn onSignal;    // null: DefaultSignalAction
};
void RegisterService(const std::string& name, ServiceSpec spec);
// The PID file of service `name`.
std::string ServicePidFile(const std::string& name);

// ---- The process table ------------------------------------------------------------
std::vector<Process> Processes();  // ascending pid
std::optional<Process> FindProcess(int pid);
// Starts a process as a launch of `program` (a path) does: records it and
// writes its pid to `pidFile` (unless empty, or a NoPidFile fault of `program`
// fires). Returns the pid.
int StartProcess(const std::string& program, const std::string& name,
                 const std::vector<std::string>& argv, const std::string& pidFile);
// The same inside a kernel-state transaction (a profile's init starting its daemons).
class KernelState;
int StartProcess(KernelState& state, const std::string& program, const std::string& name,
                 const std::vector<std::string>& argv, const std::string& pidFile);
// Delivers a signal (the process table behind Platform::Exec::Kill): 0, or ESRCH.
int SignalPid(int pid, int signal);
// Ends every process and removes their PID files (the first part of a reboot).
void EndAllProcesses();
// Services enabled in /etc/chkconfig.db ("/etc/init.d/NAME<TAB>on" lines) whose
// init script exists, in file order.
std::vector<std::string> EnabledServices();
// Starts each enabled service through its init script; one outcome per
// service, named "service:NAME".
std::vector<Platform::Boot::Outcome> StartEnabledServices();

}  // namespace TarnSim
