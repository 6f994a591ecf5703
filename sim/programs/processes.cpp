// The simulated process table: records in the kernel's area state (area
// "processes", one JSON value per pid), the daemon and service registries,
// and the process table behind Platform::Exec's signal seam.
#include "sim/processes.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <map>
#include <mutex>

#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "sim/faults.h"
#include "sim/kernel.h"

namespace TarnSim {

namespace {

constexpr const char* kArea = "processes";       // "%08d" pid -> JSON record
constexpr const char* kCounter = "process-table";  // "next" -> next pid
// Above PID_MAX_LIMIT (4194304): no real process has these ids, so a check
// against the caller's own pid can never match a simulated process.
constexpr int kFirstPid = 4194400;

struct Registry {
    std::mutex mu;
    std::map<std::string, DaemonProgram> daemons;  // by program path
    std::map<std::string, ServiceSpec> services;   // by service name
};
Registry& Reg() {
    static Registry* r = new Registry;  // filled by other files' static registrations
    return *r;
}

std::string Key(int pid) {
    return HostCtl::Misc::StrPrintf("%08d", pid);
}

std::string Encode(const Process& p) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    w.Key("name");
    w.String(p.name.c_str());
    w.Key("argv");
    w.StartArray();
    for (const auto& a : p.argv)
        w.String(a.c_str());
    w.EndArray();
    w.Key("pidFile");
    w.String(p.pidFile.c_str());
    w.Key("signals");
    w.StartArray();
    for (int s : p.signals)
        w.Int(s);
    w.EndArray();
    w.EndObject();
    return sb.GetString();
}

std::optional<Process> Decode(int pid, const std::string& json) {
    rapidjson::Document d;
    d.Parse(json.c_str(), json.size());
    if (d.HasParseError() || !d.IsObject())
        return std::nullopt;
    Process p;
    p.pid = pid;
    if (d.HasMember("name") && d["name"].IsString())
        p.name = d["name"].GetString();
    if (d.HasMember("pidFile") && d["pidFile"].IsString())
        p.pidFile = d["pidFile"].GetString();
    if (d.HasMember("argv") && d["argv"].IsArray())
        for (const auto& a : d["argv"].GetArray())
            if (a.IsString())
                p.argv.push_back(a.GetString());
    if (d.HasMember("signals") && d["signals"].IsArray())
        for (const auto& s : d["signals"].GetArray())
            if (s.IsInt())
                p.signals.push_back(s.GetInt());
    return p;
}

std::optional<Process> Read(KernelState& s, int pid) {
    if (!s.HasAreaValue(kArea, Key(pid)))
        return std::nullopt;
    return Decode(pid, s.GetAreaValue(kArea, Key(pid)));
}

std::vector<Process> All(KernelState& s) {
    std::vector<Process> out;
    for (const auto& key : s.AreaKeys(kArea))  // zero-padded keys: ascending pid
        if (auto p = Decode(std::atoi(key.c_str()), s.GetAreaValue(kArea, key)))
            out.push_back(std::move(*p));
    return out;
}

void RemovePidFile(const std::string& path) {
    if (!path.empty())
        ::unlink(Platform::HostPath(path).c_str());
}

std::string BaseName(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The signal behaviour of a process: its daemon program's, else its service's.
SignalFn ActionFor(const Process& p) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.mu);
    if (!p.argv.empty())
        if (auto it = r.daemons.find(p.argv[0]); it != r.daemons.end() && it->second.onSignal)
            return it->second.onSignal;
    if (auto it = r.services.find(p.name); it != r.services.end() && it->second.onSignal)
        return it->second.onSignal;
    return DefaultSignalAction;
}

class SimProcessTable : public Platform::Exec::ProcessTable {
public:
    int Signal(int pid, int signal) override { return SignalPid(pid, signal); }
    std::vector<int> Find(const std::string& name) override {
        std::vector<int> out;
        for (const auto& p : Processes())
            if (p.name == name)
                out.push_back(p.pid);
        return out;
    }
};

const bool gRegistered = [] {
    static SimProcessTable table;
    Platform::Exec::RegisterProcessTable(&table);
    return true;
}();

}  // namespace

bool DefaultSignalAction(const Process&, int signal) {
    return signal == SIGINT || signal == SIGQUIT || signal == SIGTERM || signal == SIGKILL;
}

void RegisterDaemon(const std::string& path, DaemonProgram program) {
    {
        Registry& r = Reg();
        std::lock_guard<std::mutex> g(r.mu);
        r.daemons[path] = program;
    }
    Platform::Exec::RegisterProgram(path, [path, run = program.run](const Platform::Exec::Invocation& inv) {
        Launch launch;
        Platform::Exec::Result result = run(inv, launch);
        if (result.status == 0 && launch.start)
            StartProcess(inv.argv[0], launch.name.empty() ? BaseName(inv.argv[0]) : launch.name, inv.argv,
                         launch.pidFile);
        return result;
    });
}

void RegisterService(const std::string& name, ServiceSpec spec) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.mu);
    r.services[name] = std::move(spec);
}

std::string ServicePidFile(const std::string& name) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> g(r.mu);
    auto it = r.services.find(name);
    return it != r.services.end() && !it->second.pidFile.empty() ? it->second.pidFile
                                                                  : "/var/run/" + name + ".pid";
}

std::vector<Process> Processes() {
    std::vector<Process> out;
    WithState([&](KernelState& s) { out = All(s); });
    return out;
}

std::optional<Process> FindProcess(int pid) {
    std::optional<Process> out;
    WithState([&](KernelState& s) { out = Read(s, pid); });
    return out;
}

int StartProcess(KernelState& s, const std::string& program, const std::string& name,
                 const std::vector<std::string>& argv, const std::string& pidFile) {
    bool writePidFile = !pidFile.empty() && !TakeProgramFault(program, ProgramFault::Kind::NoPidFile, nullptr);
    Process p;
    p.name = name;
    p.argv = argv;
    p.pidFile = writePidFile ? pidFile : "";
    p.pid = std::max(kFirstPid, std::atoi(s.GetAreaValue(kCounter, "next").c_str()));
    s.SetAreaValue(kCounter, "next", std::to_string(p.pid + 1));
    s.SetAreaValue(kArea, Key(p.pid), Encode(p));
    if (writePidFile)
        HostCtl::Misc::WriteHostFileAtomic(pidFile, std::to_string(p.pid) + "\n");
    TarnCtl_LogVerboseInt("%s: Started process %d (%s)%s\n", "TarnSim", p.pid, name.c_str(),
                          writePidFile || pidFile.empty() ? "" : " without its PID file");
    return p.pid;
}

int StartProcess(const std::string& program, const std::string& name, const std::vector<std::string>& argv,
                 const std::string& pidFile) {
    int pid = 0;
    WithState([&](KernelState& s) { pid = StartProcess(s, program, name, argv, pidFile); }, true);
    return pid;
}

int SignalPid(int pid, int signal) {
    int rc = 0;
    std::string pidFileToRemove;
    WithState(
        [&](KernelState& s) {
            std::optional<Process> p = Read(s, pid);
            if (!p) {
                rc = ESRCH;
                return;
            }
            if (signal == 0)
                return;
            p->signals.push_back(signal);
            if (signal == SIGKILL || ActionFor(*p)(*p, signal)) {
                s.RemoveAreaValue(kArea, Key(pid));
                if (signal != SIGKILL)
                    pidFileToRemove = p->pidFile;
            } else {
                s.SetAreaValue(kArea, Key(pid), Encode(*p));
            }
        },
        true);
    RemovePidFile(pidFileToRemove);
    return rc;
}

void EndAllProcesses() {
    std::vector<Process> ended;
    WithState(
        [&](KernelState& s) {
            ended = All(s);
            for (const auto& p : ended)
                s.RemoveAreaValue(kArea, Key(p.pid));
        },
        true);
    // A reboot clears /var/run: no PID file outlives its process.
    for (const auto& p : ended)
        RemovePidFile(p.pidFile);
}

std::vector<std::string> EnabledServices() {
    std::string db;
    std::vector<std::string> out;
    if (!HostCtl::Misc::ReadHostFile("/etc/chkconfig.db", &db))
        return out;
    std::vector<std::string> lines;
    HostCtl::Misc::StringTokenize(db, lines, "\n");
    for (const auto& line : lines) {
        size_t tab = line.find('\t');
        if (tab == std::string::npos || line.substr(tab + 1) != "on" ||
            !HostCtl::Misc::StartsWith(line, "/etc/init.d/"))
            continue;
        std::string script = line.substr(0, tab);
        if (HostCtl::Misc::HostFileExists(script))
            out.push_back(BaseName(script));
    }
    return out;
}

std::vector<Platform::Boot::Outcome> StartEnabledServices() {
    std::vector<Platform::Boot::Outcome> out;
    for (const auto& name : EnabledServices()) {
        std::string output, error;
        int status = TarnCtl::Util::RunShellCmd(0, "/etc/init.d/" + name + " start", "", output, error);
        while (!error.empty() && error.back() == '\n')
            error.pop_back();
        if (status != 0)
            TarnCtl_LogErrorInt("%s: Service %s failed to start (status %d): %s\n", "TarnSim", name.c_str(),
                                status, error.c_str());
        out.push_back({"service:" + name, status == 0,
                       status == 0 ? "" : "exit status " + std::to_string(status) + ": " + error});
    }
    return out;
}

}  // namespace TarnSim
