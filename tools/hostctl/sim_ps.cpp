// hostctl sim ps, hostctl sim kill: the simulated host's processes (daemons
// started through the command runner and init scripts) and their signals.
#include <CLI/CLI.hpp>

#include <cerrno>

#include "command.h"
#include "output.h"
#include "platform/exec.h"
#include "sim/processes.h"

namespace {

std::string Join(const std::vector<std::string>& parts) {
    std::string s;
    for (const auto& p : parts)
        s += (s.empty() ? "" : " ") + p;
    return s;
}

HostCtlTool::CommandGroup gSimPs("sim-ps", 92, [](CLI::App& app) {
    CLI::App* sim = app.get_subcommand("sim");
    sim->add_subcommand("ps", "The simulated processes: pid, name, PID file, signals received")->callback([] {
        HostCtlTool::Table t({"PID", "Name", "PID File", "Signals", "Command"});
        t.SetKind("PID", HostCtlTool::Table::Kind::Number);
        for (const auto& p : TarnSim::Processes()) {
            std::string signals;
            for (int s : p.signals)
                signals += (signals.empty() ? "" : ",") + std::to_string(s);
            t.AddRow({std::to_string(p.pid), p.name, p.pidFile, signals, Join(p.argv)});
        }
        t.Print();
    });

    static int pid = 0, signal = 15;
    auto* kill = sim->add_subcommand("kill", "Send a signal to a simulated process");
    kill->add_option("pid", pid, "Process id")->required();
    kill->add_option("--signal,-s", signal, "Signal number")->capture_default_str()->check(CLI::Range(0, 64));
    kill->callback([] {
        int rc = Platform::Exec::Kill(pid, signal);
        if (rc == ESRCH)
            throw HostCtlTool::CommandFailure{"No such process " + std::to_string(pid)};
        HostCtlTool::Message("Sent signal " + std::to_string(signal) + " to " + std::to_string(pid));
    });
});

}  // namespace
