// Confines every host path below the host root directory. A path that would
// leave the root, lexically or through a symlink, is refused.
#include "platform/hostroot.h"

#include <sys/stat.h>
#include <unistd.h>

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

}  // namespace

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
    std::string realRoot;
    {
        std::lock_guard<std::mutex> lock(gMutex);
        EnsureLocked();
        realRoot = gRealRoot;
    }
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
        std::vector<std::string> parts;
        std::string t(target);
        for (size_t a = 0; a <= t.size();) {
            size_t b = t.find('/', a);
            if (b == std::string::npos)
                b = t.size();
            parts.push_back(t.substr(a, b - a));
            a = b + 1;
        }
        todo.insert(todo.begin(), parts.begin(), parts.end());
        if (t[0] == '/')
            cur = realRoot;
    }
    return cur;
}

}  // namespace Platform
