// String and file helpers of the host's core management library.
#pragma once

#include <cstdarg>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log.h"

namespace HostCtl::Misc {

std::string StrPrintf(const char* fmt, ...) TARN_PRINTF(1, 2);
// StrPrintf over an argument list; `ap` is consumed.
std::string StrPrintfV(const char* fmt, va_list ap);
// `text` as a JSON string literal, quotes included.
std::string JsonQuote(std::string_view text);

inline std::string StrCat(std::string_view a, std::string_view b) {
    std::string s;
    s.reserve(a.size() + b.size());
    s.append(a).append(b);
    return s;
}
template <typename... Rest>
std::string StrCat(std::string_view a, std::string_view b, std::string_view c, Rest&&... rest) {
    static_assert(sizeof...(Rest) <= 5, "StrCat takes two to eight pieces");
    std::string s = StrCat(a, b);
    s.append(c);
    ((s.append(std::string_view(rest))), ...);
    return s;
}

// Splits `text` at any of the delimiter characters; empty pieces are dropped.
void StringTokenize(std::string_view text, std::vector<std::string>& out,
                    std::string_view delimiters);
bool StartsWith(std::string_view text, std::string_view prefix);

// Opens a host path (below the host root) for reading; check is_open(). The
// path is walked without following a link swapped in (Platform::OpenHostFile).
std::unique_ptr<std::ifstream> GetIfstream(const std::string& hostPath);

// Writes a host file atomically: the content goes to a temporary file in the
// target's directory, created (O_EXCL, O_NOFOLLOW) with the target's mode from
// the start, so a private file is never readable by others, not even for a
// moment; Commit() writes, fsyncs and renames it over the target, then fsyncs
// the directory. Destroying it uncommitted removes the temporary. Readers see
// either the whole old or the whole new content, never a mix.
class TmpOfstreamWrapper {
public:
    explicit TmpOfstreamWrapper(const std::string& hostPath, unsigned defaultMode = 0644);
    ~TmpOfstreamWrapper();
    TmpOfstreamWrapper(const TmpOfstreamWrapper&) = delete;
    TmpOfstreamWrapper& operator=(const TmpOfstreamWrapper&) = delete;
    std::ostream& Stream() { return _stream; }
    template <typename T>
    TmpOfstreamWrapper& operator<<(const T& v) {
        _stream << v;
        return *this;
    }
    // Throws HostCtl::Lib::HostCtlException when the write, sync or rename fails;
    // the target then keeps its old content.
    void Commit();

private:
    void Discard();

    std::string _hostPath;
    std::string _target;  // below the root, for messages
    std::string _name;    // the target's name in its directory
    std::string _tmpName;
    int _dir = -1;
    int _fd = -1;
    std::ostringstream _stream;
    bool _committed = false;
};

namespace Testing {
// Called before each step of a TmpOfstreamWrapper commit ("write", "fsync",
// "rename", "fsync-dir") with the target's host path; a non-zero result fails
// that step with that errno value. Empty: no hook.
void SetAtomicWriteHook(std::function<int(const std::string& step, const std::string& hostPath)> hook);
}  // namespace Testing

// Whole-file helpers over host paths.
bool ReadHostFile(const std::string& hostPath, std::string* out);
void WriteHostFileAtomic(const std::string& hostPath, const std::string& content,
                         unsigned mode = 0644);
bool HostFileExists(const std::string& hostPath);

}  // namespace HostCtl::Misc
