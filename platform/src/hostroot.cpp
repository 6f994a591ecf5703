// Confines every host path below the host root directory. A path that would
// leave the root, lexically or through a symlink, is refused.
#include "platform/hostroot.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <climits>
#include <deque>
#include <cstdlib>
#include <mutex>
#include <vector>

#include "hostctl/exception.h"

namespace Platform {
namespace {

std::mutex gMutex;
std::string gRoot;      // as given, absolute
std::string gRealRoot;  // realpath of gRoot
bool gDefault = false;

void MakeDirs(const std::string& path) {
    for (size_t pos = 1; pos <= path.size(); ++pos) {
        if (pos == path.size() || path[pos] == '/')
            ::mkdir(path.substr(0, pos).c_str(), 0755);
    }
}

std::string DefaultRoot() {
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/')
        return std::string(xdg) + "/tarnctl/host";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/share/tarnctl/host";
}

std::string Absolute(const std::string& dir) {
    if (!dir.empty() && dir[0] == '/')
        return dir;
    char cwd[PATH_MAX];
    if (!getcwd(cwd, sizeof cwd))
        throw HostCtl::Lib::HostCtlException("Invalid host root " + dir + ": no working directory");
    return std::string(cwd) + "/" + dir;
}

void InitLocked(const std::string& dir, bool isDefault) {
    std::string abs = Absolute(dir);
    while (abs.size() > 1 && abs.back() == '/')
        abs.pop_back();
    MakeDirs(abs);
    char real[PATH_MAX];
    if (!realpath(abs.c_str(), real))
        throw HostCtl::Lib::HostCtlException("Invalid host root " + abs + ": cannot create it");
    gRoot = abs;
    gRealRoot = real;
    gDefault = isDefault;
}

void EnsureLocked() {
    if (!gRoot.empty())
        return;
    if (const char* env = std::getenv("TARNCTL_ROOT"); env && *env)
        InitLocked(env, false);
    else
        InitLocked(DefaultRoot(), true);
}

// Names the root too: the same host path means a different file under another root.
[[noreturn]] void Refuse(std::string_view hostPath, const char* why) {
    std::string root;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        EnsureLocked();
        root = gRoot;
    }
    throw HostCtl::Lib::HostCtlException("Invalid host path " + std::string(hostPath) + ": " + why +
                                         " (host root " + root + ")");
}

// The components of an absolute host path; ".." is refused.
std::vector<std::string> Components(std::string_view hostPath) {
    if (hostPath.empty() || hostPath[0] != '/')
        Refuse(hostPath, "not an absolute path");
    std::vector<std::string> comps;
    size_t i = 1;
    while (i <= hostPath.size()) {
        size_t j = hostPath.find('/', i);
        if (j == std::string_view::npos)
            j = hostPath.size();
        std::string c(hostPath.substr(i, j - i));
        if (c == "..")
            Refuse(hostPath, "'..' is not allowed");
        if (!c.empty() && c != ".")
            comps.push_back(std::move(c));
        i = j + 1;
    }
    return comps;
}

std::string RealRoot() {
    std::lock_guard<std::mutex> lock(gMutex);
    EnsureLocked();
    return gRealRoot;
}

// A symbolic link's target split at "/", empty, "." and ".." parts kept.
std::vector<std::string> LinkParts(const std::string& target) {
    std::vector<std::string> parts;
    for (size_t a = 0; a <= target.size();) {
        size_t b = target.find('/', a);
        if (b == std::string::npos)
            b = target.size();
        parts.push_back(target.substr(a, b - a));
        a = b + 1;
    }
    return parts;
}

std::mutex gHookMutex;
std::function<void(const std::string&)> gOpenHook;

void OpenHook(const std::string& component) {
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> g(gHookMutex);
        hook = gOpenHook;
    }
    if (hook)
        hook(component);
}

class Fd {
public:
    explicit Fd(int fd) : _fd(fd) {}
    ~Fd() {
        if (_fd >= 0)
            ::close(_fd);
    }
    Fd(Fd&& o) noexcept : _fd(o._fd) { o._fd = -1; }
    Fd& operator=(Fd&& o) noexcept {
        std::swap(_fd, o._fd);
        return *this;
    }
    int Get() const { return _fd; }
    int Release() {
        int fd = _fd;
        _fd = -1;
        return fd;
    }

private:
    int _fd;
};

bool ReadLinkAt(int dir, const std::string& name, std::string* target) {
    char buf[PATH_MAX];
    ssize_t n = ::readlinkat(dir, name.c_str(), buf, sizeof buf - 1);
    if (n < 0)
        return false;
    target->assign(buf, static_cast<size_t>(n));
    return true;
}

// Walks to the directory holding the last component without letting the kernel
// follow any link: each directory is opened O_NOFOLLOW from its parent's
// descriptor, and a link is read and its target walked the same way (an absolute
// one from the root again). `dirs` ends with that directory, `last` with the
// component ("." when the path names a directory itself). False with errno set
// when a directory on the way is missing or is none.
bool WalkToParent(std::string_view hostPath, bool create, std::vector<Fd>* dirs, std::string* last) {
    std::vector<std::string> comps = Components(hostPath);
    std::string root = RealRoot();
    dirs->clear();
    dirs->emplace_back(::open(root.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dirs->back().Get() < 0)
        return false;
    std::deque<std::string> todo(comps.begin(), comps.end());
    int hops = 0;
    auto follow = [&](const std::string& target) {
        if (++hops > 40)
            Refuse(hostPath, "too many symbolic links");
        if (target.empty())
            Refuse(hostPath, "unreadable symbolic link");
        std::vector<std::string> parts = LinkParts(target);
        todo.insert(todo.begin(), parts.begin(), parts.end());
        if (target[0] == '/')
            dirs->erase(dirs->begin() + 1, dirs->end());
    };
    while (!todo.empty()) {
        std::string c = std::move(todo.front());
        todo.pop_front();
        if (c.empty() || c == ".")
            continue;
        if (c == "..") {  // only ever from a symlink's target
            if (dirs->size() <= 1)
                Refuse(hostPath, "a symbolic link leads out of the host root");
            dirs->pop_back();
            continue;
        }
        int dir = dirs->back().Get();
        OpenHook(c);
        std::string target;
        if (todo.empty()) {
            if (ReadLinkAt(dir, c, &target)) {
                follow(target);
                continue;
            }
            *last = c;
            return true;
        }
        int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
        Fd next(::openat(dir, c.c_str(), flags));
        if (next.Get() < 0 && errno == ENOENT && create) {
            ::mkdirat(dir, c.c_str(), 0755);
            next = Fd(::openat(dir, c.c_str(), flags));
        }
        if (next.Get() >= 0) {
            dirs->push_back(std::move(next));
            continue;
        }
        int err = errno;
        if (ReadLinkAt(dir, c, &target)) {
            follow(target);
            continue;
        }
        errno = err;
        return false;
    }
    *last = ".";
    return true;
}

}  // namespace

int OpenHostFile(std::string_view hostPath, int flags, unsigned mode) {
    std::vector<Fd> dirs;
    std::string last;
    if (!WalkToParent(hostPath, (flags & O_CREAT) != 0, &dirs, &last))
        return -1;
    // A link swapped in after the walk read this name is refused (ELOOP), not followed.
    return ::openat(dirs.back().Get(), last.c_str(), flags | O_NOFOLLOW | O_CLOEXEC, mode);
}

int OpenHostParent(std::string_view hostPath, std::string* name, bool create) {
    std::vector<Fd> dirs;
    if (!WalkToParent(hostPath, create, &dirs, name))
        return -1;
    return dirs.back().Release();
}

namespace Testing {
void SetOpenHook(std::function<void(const std::string& component)> hook) {
    std::lock_guard<std::mutex> g(gHookMutex);
    gOpenHook = std::move(hook);
}
}  // namespace Testing

void SetHostRoot(const std::string& directory) {
    std::lock_guard<std::mutex> lock(gMutex);
    InitLocked(directory, false);
}

const std::string& HostRoot() {
    std::lock_guard<std::mutex> lock(gMutex);
    EnsureLocked();
    return gRoot;
}

bool UsingDefaultHostRoot() {
    std::lock_guard<std::mutex> lock(gMutex);
    EnsureLocked();
    return gDefault;
}

std::string HostPath(std::string_view hostPath) {
    std::vector<std::string> comps = Components(hostPath);
    std::string realRoot = RealRoot();
    // Walk the components, following symlinks by hand as a chroot would: an
    // absolute target starts again at the root, and ".." may not climb above it.
    std::deque<std::string> todo(comps.begin(), comps.end());
    std::string cur = realRoot;
    int hops = 0;
    while (!todo.empty()) {
        std::string c = std::move(todo.front());
        todo.pop_front();
        if (c.empty() || c == ".")
            continue;
        if (c == "..") {  // only ever from a symlink's target
            if (cur.size() <= realRoot.size())
                Refuse(hostPath, "a symbolic link leads out of the host root");
            cur.erase(cur.rfind('/'));
            continue;
        }
        std::string next = cur + "/" + c;
        struct stat st;
        if (lstat(next.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            cur = std::move(next);
            continue;
        }
        if (++hops > 40)
            Refuse(hostPath, "too many symbolic links");
        char target[PATH_MAX];
        ssize_t n = readlink(next.c_str(), target, sizeof target - 1);
        if (n < 0)
            Refuse(hostPath, "unreadable symbolic link");
        target[n] = '\0';
        std::string t(target);
        std::vector<std::string> parts = LinkParts(t);
        todo.insert(todo.begin(), parts.begin(), parts.end());
        if (t[0] == '/')
            cur = realRoot;
    }
    return cur;
}

}  // namespace Platform
