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

std::unique_ptr<std::ifstream> GetIfstream(const std::string& hostPath) {
    return std::make_unique<std::ifstream>(Platform::HostPath(hostPath));
}

namespace {

void MakeParentDirs(const std::string& realPath) {
    for (size_t pos = 1; pos < realPath.size(); ++pos) {
        if (realPath[pos] == '/')
            ::mkdir(realPath.substr(0, pos).c_str(), 0755);
    }
}

std::string TempName(const std::string& target) {
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    char suffix[24];
    std::snprintf(suffix, sizeof suffix, ".%016llx", static_cast<unsigned long long>(rng()));
    size_t slash = target.rfind('/');
    return target.substr(0, slash + 1) + "." + target.substr(slash + 1) + suffix + ".tmp";
}

}  // namespace

TmpOfstreamWrapper::TmpOfstreamWrapper(const std::string& hostPath, unsigned defaultMode)
    : _target(Platform::HostPath(hostPath)), _tmp(TempName(_target)), _mode(defaultMode) {
    struct stat st;
    if (::stat(_target.c_str(), &st) == 0)
        _mode = st.st_mode & 07777;
    MakeParentDirs(_target);
    _stream.open(_tmp, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!_stream.is_open())
        throw HostCtl::Lib::HostCtlException("Unable to open temporary file for " + hostPath + ": " +
                                             std::strerror(errno));
}

TmpOfstreamWrapper::~TmpOfstreamWrapper() {
    if (!_committed) {
        if (_stream.is_open())
            _stream.close();
        ::unlink(_tmp.c_str());
    }
}

void TmpOfstreamWrapper::Commit() {
    if (_committed)
        return;
    _stream.flush();
    bool ok = _stream.good();
    _stream.close();
    int fd = ::open(_tmp.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ok = ok && ::fsync(fd) == 0 && ::fchmod(fd, _mode) == 0;
        ::close(fd);
    } else {
        ok = false;
    }
    if (!ok || ::rename(_tmp.c_str(), _target.c_str()) != 0) {
        int err = errno;
        ::unlink(_tmp.c_str());
        throw HostCtl::Lib::HostCtlException("Unable to write " + _target + ": " + std::strerror(err));
    }
    _committed = true;
    // Make the rename itself durable.
    std::string dir = _target.substr(0, _target.rfind('/'));
    int dfd = ::open(dir.empty() ? "/" : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
}

bool ReadHostFile(const std::string& hostPath, std::string* out) {
    std::ifstream in(Platform::HostPath(hostPath), std::ios::binary);
    if (!in.is_open())
        return false;
    std::ostringstream ss;
    ss << in.rdbuf();
    *out = ss.str();
    return true;
}

void WriteHostFileAtomic(const std::string& hostPath, const std::string& content, unsigned mode) {
    TmpOfstreamWrapper file(hostPath, mode);
    file.Stream().write(content.data(), static_cast<std::streamsize>(content.size()));
    file.Commit();
}

bool HostFileExists(const std::string& hostPath) {
    struct stat st;
    return ::stat(Platform::HostPath(hostPath).c_str(), &st) == 0;
}

}  // namespace HostCtl::Misc
