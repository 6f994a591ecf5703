// The registry and runner of the host's boot, upgrade and apply steps. Steps
// are registered by library domains at static-initialisation time; a failing
// step is logged and the sequence goes on.
#include "platform/boot.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <mutex>

#include "hostctl/exception.h"
#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/log.h"

namespace Platform::Boot {

namespace {

struct Entry {
    std::string name;
    int order;
    StepFn fn;
};

struct Registry {
    std::mutex mu;
    std::vector<Entry> boot, upgrade;
    std::vector<Entry> apply;  // name = group
};

Registry& Reg() {
    static Registry* r = new Registry;  // used from other files' static initialisers
    return *r;
}

std::vector<Entry> Sorted(std::vector<Entry> v) {
    std::stable_sort(v.begin(), v.end(), [](const Entry& a, const Entry& b) {
        return a.order != b.order ? a.order < b.order : a.name < b.name;
    });
    return v;
}

std::vector<Outcome> Run(const char* what, const std::vector<Entry>& steps, bool phases = false) {
    std::vector<Outcome> out;
    for (const auto& s : steps) {
        if (phases)
            EnterPhase("step:" + s.name);
        Outcome o{s.name, true, ""};
        try {
            s.fn();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            o = {s.name, false, e.GetDetailedMessage()};
        } catch (const std::exception& e) {
            o = {s.name, false, e.what()};
        }
        if (o.ok)
            TarnCtl_LogVerboseInt("%s: %s step %s done\n", "Boot", what, s.name.c_str());
        else
            TarnCtl_LogErrorInt("%s: %s step %s failed: %s\n", "Boot", what, s.name.c_str(),
                                o.error.c_str());
        out.push_back(std::move(o));
    }
    return out;
}

}  // namespace

void RegisterStep(const std::string& name, int order, StepFn fn) {
    std::lock_guard<std::mutex> g(Reg().mu);
    Reg().boot.push_back({name, order, std::move(fn)});
}

void RegisterUpgradeStep(const std::string& name, int order, StepFn fn) {
    std::lock_guard<std::mutex> g(Reg().mu);
    Reg().upgrade.push_back({name, order, std::move(fn)});
}

void RegisterApplyStep(const std::string& group, StepFn fn) {
    std::lock_guard<std::mutex> g(Reg().mu);
    Reg().apply.push_back({group, 0, std::move(fn)});
}

std::vector<Outcome> RunBoot() {
    std::vector<Entry> steps;
    {
        std::lock_guard<std::mutex> g(Reg().mu);
        steps = Sorted(Reg().boot);
    }
    BootSession session;
    TarnCtl_LogInfoInt("%s: Running %zu boot steps\n", "Boot", steps.size());
    return Run("Boot", steps, true);
}

std::vector<Outcome> RunUpgrade() {
    std::vector<Entry> steps;
    {
        std::lock_guard<std::mutex> g(Reg().mu);
        steps = Sorted(Reg().upgrade);
    }
    return Run("Upgrade", steps);
}

std::vector<Outcome> RunApply(const std::string& group) {
    std::vector<Entry> steps;
    {
        std::lock_guard<std::mutex> g(Reg().mu);
        for (const auto& e : Reg().apply)
            if (group.empty() || e.name == group)
                steps.push_back(e);
    }
    return Run("Apply", steps);
}

std::vector<std::string> BootStepNames() {
    std::lock_guard<std::mutex> g(Reg().mu);
    std::vector<std::string> out;
    for (const auto& e : Sorted(Reg().boot))
        out.push_back(e.name);
    return out;
}

// ---- Boot mode -------------------------------------------------------------------

namespace {

constexpr const char* kBootLock = "/var/lib/configstore/boot.lock";
constexpr const char* kCleanupLock = "/var/lib/configstore/boot.cleanup";

// This process's hold on boot mode. `fd` holds the exclusive flock while
// `depth` > 0; both only under `mu`.
struct Hold {
    std::mutex mu;
    int depth = 0;
    int paused = 0;  // BootModePause scopes open inside the hold
    int fd = -1;
    PhaseHook hook;
};
Hold& TheHold() {
    static Hold* h = new Hold;
    return *h;
}

int OpenHostFile(const char* hostPath, int flags) {
    std::string path = Platform::HostPath(hostPath);
    if (flags & O_CREAT)
        for (size_t p = 1; p < path.size(); ++p)
            if (path[p] == '/')
                ::mkdir(path.substr(0, p).c_str(), 0755);
    return ::open(path.c_str(), flags | O_CLOEXEC | O_NOFOLLOW, 0644);
}

void Flock(int fd, int how) {
    while (::flock(fd, how) != 0 && errno == EINTR) {
    }
}

std::string ReadFlag(int fd) {
    char buf[64];
    ssize_t n = ::pread(fd, buf, sizeof buf - 1, 0);
    std::string flag(buf, n > 0 ? static_cast<size_t>(n) : 0);
    while (!flag.empty() && (flag.back() == '\n' || flag.back() == ' '))
        flag.pop_back();
    return flag;
}

void LogInterrupted(const std::string& flag) {
    TarnCtl_LogWarnInt("%s: The last boot (pid %s) was interrupted; boot mode is off\n", "Boot",
                       flag.c_str());
}

}  // namespace

void BeginBootMode() {
    Hold& h = TheHold();
    std::lock_guard<std::mutex> g(h.mu);
    if (h.depth > 0) {
        ++h.depth;
        return;
    }
    int fd = OpenHostFile(kBootLock, O_RDWR | O_CREAT);
    if (fd < 0)
        throw HostCtl::Lib::HostCtlException("Unable to take boot mode: cannot open " +
                                             Platform::HostPath(kBootLock));
    // Waits for another process's boot to end.
    Flock(fd, LOCK_EX);
    std::string stale = ReadFlag(fd);
    if (!stale.empty())
        LogInterrupted(stale);
    std::string flag = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd, 0) != 0 ||
        ::pwrite(fd, flag.data(), flag.size(), 0) != static_cast<ssize_t>(flag.size())) {
        ::close(fd);
        throw HostCtl::Lib::HostCtlException("Unable to take boot mode: cannot write " +
                                             Platform::HostPath(kBootLock));
    }
    h.fd = fd;
    h.depth = 1;
}

void EndBootMode() {
    Hold& h = TheHold();
    std::lock_guard<std::mutex> g(h.mu);
    if (h.depth == 0 || --h.depth > 0)
        return;
    // Flag off before the lock goes, so no reader sees a flag without a holder.
    if (::ftruncate(h.fd, 0) != 0)
        TarnCtl_LogErrorInt("%s: Unable to clear the boot-mode flag\n", "Boot");
    Flock(h.fd, LOCK_UN);
    ::close(h.fd);
    h.fd = -1;
}

bool InProgress() {
    {
        Hold& h = TheHold();
        std::lock_guard<std::mutex> g(h.mu);
        // While paused the lock is still this process's own: no one else boots.
        if (h.depth > 0)
            return h.paused == 0;
    }
    int fd = OpenHostFile(kBootLock, O_RDONLY);
    if (fd < 0)
        return false;
    struct stat st {};
    // An empty file is the common case: no boot, and no lock to take.
    if (::fstat(fd, &st) != 0 || st.st_size == 0) {
        ::close(fd);
        return false;
    }
    if (::flock(fd, LOCK_SH | LOCK_NB) != 0) {
        // Held exclusively: a live process is booting.
        ::close(fd);
        return errno == EWOULDBLOCK;
    }
    // No booter can hold the lock now, so a flag left in the file belongs to a
    // dead one. One process clears it (and logs), the others see it cleared.
    if (!ReadFlag(fd).empty()) {
        int cleanup = OpenHostFile(kCleanupLock, O_RDWR | O_CREAT);
        int rw = OpenHostFile(kBootLock, O_RDWR);
        if (cleanup >= 0 && rw >= 0) {
            Flock(cleanup, LOCK_EX);
            std::string stale = ReadFlag(rw);
            if (!stale.empty() && ::ftruncate(rw, 0) == 0)
                LogInterrupted(stale);
        }
        if (rw >= 0)
            ::close(rw);
        if (cleanup >= 0)
            ::close(cleanup);
    }
    ::close(fd);
    return false;
}

BootModePause::BootModePause() {
    Hold& h = TheHold();
    std::lock_guard<std::mutex> g(h.mu);
    ++h.paused;
}

BootModePause::~BootModePause() {
    Hold& h = TheHold();
    std::lock_guard<std::mutex> g(h.mu);
    --h.paused;
}

void SetPhaseHook(PhaseHook hook) {
    Hold& h = TheHold();
    std::lock_guard<std::mutex> g(h.mu);
    h.hook = std::move(hook);
}

void EnterPhase(const std::string& phase) {
    PhaseHook hook;
    {
        Hold& h = TheHold();
        std::lock_guard<std::mutex> g(h.mu);
        hook = h.hook;
    }
    TarnCtl_LogVerboseInt("%s: Entering %s\n", "Boot", phase.c_str());
    if (hook)
        hook(phase);
}

}  // namespace Platform::Boot
