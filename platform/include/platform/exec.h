// Command runner: runs host programs without ever handing a string to a shell.
// A command line is split into arguments (single and double quotes group,
// backslash escapes the next character; ; | & $ ` are plain characters) and
// dispatched to the program registered under its path. Every call is recorded
// in /var/log/tarnctl-exec.log under the host root. An unknown program fails
// with status 127 and an error log line.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/log.h"

namespace TarnCtl::Util {

// Runs the printf-formatted command line; true when it exited 0.
bool TarnCtl_Exec(const char* fmt, ...) TARN_PRINTF(1, 2);
// Runs `command` with `input` on standard input; collects standard output (and
// error). Returns the exit status. `n` is passed through as the caller gives it.
int RunShellCmd(int n, const std::string& command, const std::string& input, std::string& output);
int RunShellCmd(int n, const std::string& command, const std::string& input, std::string& output,
                std::string& errorOutput);
// Starts a daemon; true when it started.
bool TarnCtl_Daemon(const char* fmt, ...) TARN_PRINTF(1, 2);

}  // namespace TarnCtl::Util

namespace Platform::Exec {

struct Invocation {
    std::vector<std::string> argv;  // argv[0] is the program path as given
    std::string input;
    bool daemon = false;
};

struct Result {
    int status = 0;
    std::string output;
    std::string error;
};

using Program = std::function<Result(const Invocation&)>;

// Splits a command line into arguments. Throws HostCtl::Lib::HostCtlException
// "Invalid command line: unterminated quote" for an unbalanced quote.
std::vector<std::string> SplitCommandLine(const std::string& line);

// Registers a simulated program under its absolute path ("/bin/chkconfig") or a
// glob-free prefix ending in "/" ("/etc/init.d/" serves every init script).
// Later registrations replace earlier ones.
void RegisterProgram(const std::string& path, Program program);
void UnregisterProgram(const std::string& path);
// True when the host has an executable program at `path` (a registered one).
bool IsProgramExecutable(const std::string& path);

Result Run(const Invocation& invocation);

// Consulted before every run (the simulation's program faults): a result
// returned here is the run's result, and the program does not run. The run is
// recorded either way.
using Interceptor = std::function<std::optional<Result>(const Invocation&)>;
void RegisterInterceptor(Interceptor interceptor);

// ---- Processes and signals --------------------------------------------------
// The one seam through which the library finds the host's daemons and signals
// them. The host's process table answers (the simulation's, sim/processes.h);
// nothing real is ever signalled.
class ProcessTable {
public:
    virtual ~ProcessTable() = default;
    // Delivers `signal` to process `pid`: 0, or ESRCH when no such process
    // runs. Signal 0 only tests that it runs.
    virtual int Signal(int pid, int signal) = 0;
    // The ids of the running processes called `name`, ascending.
    virtual std::vector<int> Find(const std::string& name) = 0;
};
void RegisterProcessTable(ProcessTable* table);

// Sends `signal` to process `pid` as kill(2) would: 0, or an errno value
// (ESRCH: no such process). Recorded as "kill: PID SIGNAL".
int Kill(int pid, int signal);
// Sends `signal` to every process called `name` ("ntpd", "corelogd"); false
// when none runs. Recorded as "signal: NAME SIGNAL".
bool SignalProcess(const std::string& name, int signal);
// The ids of the running processes called `name`, ascending.
std::vector<int> FindProcesses(const std::string& name);

// Calls recorded since the process started (and in the exec log file).
std::vector<std::vector<std::string>> RecordedCalls();
void ClearRecordedCalls();

}  // namespace Platform::Exec
