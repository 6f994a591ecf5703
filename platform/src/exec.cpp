// Command runner: splits command lines itself and dispatches to registered
// host programs; nothing is ever handed to a shell or to exec().
#include "platform/exec.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <map>
#include <mutex>

#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/misc.h"

namespace Platform::Exec {
namespace {

struct Registry {
    std::mutex mutex;
    std::map<std::string, Program> exact;
    std::map<std::string, Program> prefixes;  // keys end in '/'
    std::vector<std::vector<std::string>> calls;
    ProcessTable* processes = nullptr;
    Interceptor interceptor;
};

Registry& Reg() {
    static Registry* r = new Registry;  // lives for the process; registrars run at load time
    return *r;
}

std::string Quote(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\n'\"\\;|&$`()<>*?") == std::string::npos)
        return arg;
    std::string out = "'";
    for (char c : arg) {
        if (c == '\'')
            out += "'\\''";
        else
            out += c;
    }
    return out + "'";
}

// Appends one line to the exec log: "exec: ARGV...", "daemon: ARGV...", or
// for signals the argv as given ("kill: PID SIG").
void Record(const Invocation& inv, const char* prefix) {
    std::string line = prefix;
    for (const auto& a : inv.argv)
        line += (line.empty() ? "" : " ") + Quote(a);
    line += "\n";
    try {
        std::string path = Platform::HostPath("/var/log/tarnctl-exec.log");
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            HostCtl::Misc::WriteHostFileAtomic("/var/log/.keep", "");
            fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        }
        if (fd >= 0) {
            ssize_t ignored = ::write(fd, line.data(), line.size());
            (void)ignored;
            ::close(fd);
        }
    } catch (const HostCtl::Lib::HostCtlException&) {
        // Recording never fails the command.
    }
}

}  // namespace

std::vector<std::string> SplitCommandLine(const std::string& line) {
    std::vector<std::string> out;
    std::string cur;
    bool inArg = false;
    char quote = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        char c = line[i];
        if (quote) {
            if (c == quote) {
                quote = 0;
            } else if (c == '\\' && quote == '"' && i + 1 < line.size() &&
                       (line[i + 1] == '"' || line[i + 1] == '\\')) {
                cur += line[++i];
            } else {
                cur += c;
            }
        } else if (c == '\'' || c == '"') {
            quote = c;
            inArg = true;
        } else if (c == '\\' && i + 1 < line.size()) {
            cur += line[++i];
            inArg = true;
        } else if (c == ' ' || c == '\t' || c == '\n') {
            if (inArg) {
                out.push_back(std::move(cur));
                cur.clear();
                inArg = false;
            }
        } else {
            cur += c;
            inArg = true;
        }
    }
    if (quote)
        throw HostCtl::Lib::HostCtlException("Invalid command line: unterminated quote");
    if (inArg)
        out.push_back(std::move(cur));
    return out;
}

void RegisterProgram(const std::string& path, Program program) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (!path.empty() && path.back() == '/')
        r.prefixes[path] = std::move(program);
    else
        r.exact[path] = std::move(program);
}

void UnregisterProgram(const std::string& path) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.exact.erase(path);
    r.prefixes.erase(path);
}

bool IsProgramExecutable(const std::string& path) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.exact.count(path) > 0;
}

Result Run(const Invocation& inv) {
    Program program;
    Interceptor interceptor;
    {
        Registry& r = Reg();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.calls.push_back(inv.argv);
        interceptor = r.interceptor;
        if (!inv.argv.empty()) {
            const std::string& name = inv.argv[0];
            if (auto it = r.exact.find(name); it != r.exact.end()) {
                program = it->second;
            } else {
                // Longest registered directory prefix that holds the program.
                for (const auto& [prefix, p] : r.prefixes) {
                    if (HostCtl::Misc::StartsWith(name, prefix) && name.size() > prefix.size() &&
                        name.find('/', prefix.size()) == std::string::npos)
                        program = p;
                }
            }
        }
    }
    Record(inv, inv.daemon ? "daemon:" : "exec:");
    if (interceptor && !inv.argv.empty())
        if (std::optional<Result> r = interceptor(inv))
            return *r;
    if (!program) {
        std::string name = inv.argv.empty() ? std::string("(empty command)") : inv.argv[0];
        TarnCtl_LogErrorInt("%s: %s: command not found\n", "TarnCtl", name.c_str());
        return Result{127, "", name + ": command not found\n"};
    }
    try {
        return program(inv);
    } catch (const std::exception& e) {
        TarnCtl_LogErrorInt("%s: %s failed: %s\n", "TarnCtl", inv.argv[0].c_str(), e.what());
        return Result{1, "", std::string(e.what()) + "\n"};
    }
}

void RegisterInterceptor(Interceptor interceptor) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.interceptor = std::move(interceptor);
}

void RegisterProcessTable(ProcessTable* table) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.processes = table;
}

namespace {
// Records a signal like a command and returns the process table (or null).
ProcessTable* RecordSignal(std::vector<std::string> argv) {
    Invocation inv;
    inv.argv = std::move(argv);
    ProcessTable* table;
    {
        Registry& r = Reg();
        std::lock_guard<std::mutex> lock(r.mutex);
        r.calls.push_back(inv.argv);
        table = r.processes;
    }
    Record(inv, "");
    return table;
}
}  // namespace

int Kill(int pid, int signal) {
    ProcessTable* table = RecordSignal({"kill:", std::to_string(pid), std::to_string(signal)});
    return table ? table->Signal(pid, signal) : ESRCH;
}

bool SignalProcess(const std::string& name, int signal) {
    ProcessTable* table = RecordSignal({"signal:", name, std::to_string(signal)});
    if (!table)
        return false;
    bool any = false;
    for (int pid : table->Find(name))
        any = table->Signal(pid, signal) == 0 || any;
    return any;
}

std::vector<int> FindProcesses(const std::string& name) {
    ProcessTable* table;
    {
        Registry& r = Reg();
        std::lock_guard<std::mutex> lock(r.mutex);
        table = r.processes;
    }
    return table ? table->Find(name) : std::vector<int>{};
}

std::vector<std::vector<std::string>> RecordedCalls() {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.calls;
}

void ClearRecordedCalls() {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.calls.clear();
}

}  // namespace Platform::Exec

namespace TarnCtl::Util {
namespace {

Platform::Exec::Result RunLine(const std::string& line, const std::string& input, bool daemon) {
    Platform::Exec::Invocation inv;
    try {
        inv.argv = Platform::Exec::SplitCommandLine(line);
    } catch (const HostCtl::Lib::HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: %s: %s\n", "TarnCtl", line.c_str(), e.what());
        return {2, "", std::string(e.what()) + "\n"};
    }
    inv.input = input;
    inv.daemon = daemon;
    TarnCtl_LogVerboseInt("%s: running %s\n", "TarnCtl", line.c_str());
    return Platform::Exec::Run(inv);
}

}  // namespace

bool TarnCtl_Exec(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string line = HostCtl::Misc::StrPrintfV(fmt, ap);
    va_end(ap);
    return RunLine(line, "", false).status == 0;
}

int RunShellCmd(int, const std::string& command, const std::string& input, std::string& output) {
    auto r = RunLine(command, input, false);
    output = r.output;
    return r.status;
}

int RunShellCmd(int, const std::string& command, const std::string& input, std::string& output,
                std::string& errorOutput) {
    auto r = RunLine(command, input, false);
    output = r.output;
    errorOutput = r.error;
    return r.status;
}

bool TarnCtl_Daemon(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string line = HostCtl::Misc::StrPrintfV(fmt, ap);
    va_end(ap);
    return RunLine(line, "", true).status == 0;
}

}  // namespace TarnCtl::Util
