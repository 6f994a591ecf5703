// String and file helpers. File helpers take host paths and resolve them
// below the host root; replacement is atomic (temporary file, fsync, rename).
#include "platform/misc.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <sstream>

#include "hostctl/exception.h"
#include "platform/hostroot.h"

namespace HostCtl::Misc {

std::string StrPrintfV(const char* fmt, va_list ap) {
    va_list copy;
    va_copy(copy, ap);
    char small[256];
    int n = vsnprintf(small, sizeof small, fmt, copy);
    va_end(copy);
    std::string out;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        out.assign(small, n);
    } else if (n >= 0) {
        out.resize(n + 1);
        vsnprintf(out.data(), n + 1, fmt, ap);
        out.resize(n);
    }
    return out;
}

std::string StrPrintf(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string out = StrPrintfV(fmt, ap);
    va_end(ap);
    return out;
}

std::string JsonQuote(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        switch (c) {
            case '"': out += "\\\""; break;
            case '\\': out += "\\\\"; break;
            case '\n': out += "\\n"; break;
            case '\r': out += "\\r"; break;
            case '\t': out += "\\t"; break;
            default:
                if (c < 0x20) {
                    char b[8];
                    std::snprintf(b, sizeof b, "\\u%04x", c);
                    out += b;
                } else {
                    out += static_cast<char>(c);
                }
        }
    }
    return out + "\"";
}

void StringTokenize(std::string_view text, std::vector<std::string>& out, std::string_view delimiters) {
    size_t i = 0;
    while (i < text.size()) {
        size_t j = text.find_first_of(delimiters, i);
        if (j == std::string_view::npos)
            j = text.size();
        if (j > i)
            out.emplace_back(text.substr(i, j - i));
        i = j + 1;
    }
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

namespace {

std::mutex gHookMutex;
std::function<int(const std::string&, const std::string&)> gWriteHook;

// The errno a test hook injects into a commit step, 0 for none.
int HookedError(const char* step, const std::string& hostPath) {
    std::function<int(const std::string&, const std::string&)> hook;
    {
        std::lock_guard<std::mutex> g(gHookMutex);
        hook = gWriteHook;
    }
    return hook ? hook(step, hostPath) : 0;
}

std::string TempName(const std::string& name) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(rng()));
    return "." + name + suffix + ".tmp";
}

// The file's own descriptor as a path that names the open file itself: opening
// it does not walk the host path again.
std::string FdPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace

namespace Testing {
void SetAtomicWriteHook(std::function<int(const std::string& step, const std::string& hostPath)> hook) {
    std::lock_guard<std::mutex> g(gHookMutex);
    gWriteHook = std::move(hook);
}
}  // namespace Testing

std::unique_ptr<std::ifstream> GetIfstream(const std::string& hostPath) {
    auto in = std::make_unique<std::ifstream>();
    int fd = Platform::OpenHostFile(hostPath, O_RDONLY);
    if (fd < 0)
        return in;  // not open
    in->open(FdPath(fd), std::ios::in | std::ios::binary);
    ::close(fd);
    return in;
}

TmpOfstreamWrapper::TmpOfstreamWrapper(const std::string& hostPath, unsigned defaultMode)
    : _hostPath(hostPath), _target(Platform::HostPath(hostPath)) {
    _dir = Platform::OpenHostParent(hostPath, &_name, true);
    if (_dir < 0 || _name == ".")
        throw HostCtl::Lib::HostCtlException("Unable to open temporary file for " + hostPath + ": " +
                                             std::strerror(_dir < 0 ? errno : EISDIR));
    unsigned mode = defaultMode & 07777;
    struct stat st;
    if (::fstatat(_dir, _name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        mode = st.st_mode & 07777;
    _tmpName = TempName(_name);
    // Made with the final mode (the umask may only narrow it), then set exactly.
    _fd = ::openat(_dir, _tmpName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (_fd < 0 || ::fchmod(_fd, mode) != 0) {
        int err = errno;
        Discard();
        ::close(_dir);
        _dir = -1;
        throw HostCtl::Lib::HostCtlException("Unable to open temporary file for " + hostPath + ": " +
                                             std::strerror(err));
    }
}

TmpOfstreamWrapper::~TmpOfstreamWrapper() {
    if (!_committed)
        Discard();
    if (_dir >= 0)
        ::close(_dir);
}

void TmpOfstreamWrapper::Discard() {
    if (_fd >= 0)
        ::close(_fd);
    _fd = -1;
    if (_dir >= 0 && !_tmpName.empty())
        ::unlinkat(_dir, _tmpName.c_str(), 0);
}

void TmpOfstreamWrapper::Commit() {
    if (_committed)
        return;
    auto fail = [this](int err) {
        Discard();
        throw HostCtl::Lib::HostCtlException("Unable to write " + _target + ": " + std::strerror(err));
    };
    if (!_stream.good())
        fail(EIO);
    const std::string data = _stream.str();
    if (int err = HookedError("write", _hostPath))
        fail(err);
    for (size_t done = 0; done < data.size();) {
        ssize_t n = ::write(_fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(n < 0 ? errno : EIO);
        done += static_cast<size_t>(n);
    }
    // The content must be on disk before the rename makes it the file.
    if (int err = HookedError("fsync", _hostPath))
        fail(err);
    if (::fsync(_fd) != 0)
        fail(errno);
    ::close(_fd);
    _fd = -1;
    if (int err = HookedError("rename", _hostPath))
        fail(err);
    if (::renameat(_dir, _tmpName.c_str(), _dir, _name.c_str()) != 0)
        fail(errno);
    _committed = true;
    // Make the rename itself durable; the new content is in place either way.
    int err = HookedError("fsync-dir", _hostPath);
    if (err == 0 && ::fsync(_dir) != 0)
        err = errno;
    if (err != 0)
        TarnCtl_LogWarnInt("%s: Unable to sync the directory of %s: %s\n", "TarnCtl", _target.c_str(),
                           std::strerror(err));
}

bool ReadHostFile(const std::string& hostPath, std::string* out) {
    int fd = Platform::OpenHostFile(hostPath, O_RDONLY);
    if (fd < 0)
        return false;
    std::string data;
    char buf[65536];
    for (;;) {
        ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ::close(fd);
            return false;
        }
        if (n == 0)
            break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    *out = std::move(data);
    return true;
}

void WriteHostFileAtomic(const std::string& hostPath, const std::string& content, unsigned mode) {
    TmpOfstreamWrapper file(hostPath, mode);
    file.Stream().write(content.data(), static_cast<std::streamsize>(content.size()));
    file.Commit();
}

bool HostFileExists(const std::string& hostPath) {
    std::string name;
    int dir = Platform::OpenHostParent(hostPath, &name, false);
    if (dir < 0)
        return false;
    struct stat st;
    bool exists = ::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    ::close(dir);
    return exists;
}

}  // namespace HostCtl::Misc
