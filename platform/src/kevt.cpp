// Host events (appended to /var/log/kevt.log) and the per-thread collectors
// of kernel event messages.
#include "platform/kevt.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdarg>
#include <sstream>

#include "platform/hostroot.h"
#include "platform/misc.h"

namespace {
thread_local TarnCtl::Lib::TarnCtlKevtLib* tInnermost = nullptr;
std::atomic<int> gNextContext{1};
const char* kEventLog = "/var/log/kevt.log";
}  // namespace

int KevtUserLib_Init() {
    try {
        if (!HostCtl::Misc::HostFileExists("/var/log"))
            HostCtl::Misc::WriteHostFileAtomic("/var/log/.keep", "");
        return 0;
    } catch (const HostCtl::Lib::HostCtlException&) {
        return -1;
    }
}

int KevtUserLib_AddKevt(const char* fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string text = HostCtl::Misc::StrPrintfV(fmt, ap);
    va_end(ap);
    try {
        std::string path = Platform::HostPath(kEventLog);
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0)
            return -1;
        text += "\n";
        ssize_t w = ::write(fd, text.data(), text.size());
        ::close(fd);
        return w == static_cast<ssize_t>(text.size()) ? 0 : -1;
    } catch (const HostCtl::Lib::HostCtlException&) {
        return -1;
    }
}

void KevtUserLib_Close() {}

namespace TarnCtl::Lib {

TarnCtlKevtLib::TarnCtlKevtLib() : _context(gNextContext++), _outer(tInnermost) { tInnermost = this; }

TarnCtlKevtLib::TarnCtlKevtLib(int context) : _context(context), _outer(tInnermost) { tInnermost = this; }

TarnCtlKevtLib::~TarnCtlKevtLib() {
    // Collectors nest by scope on one thread, so the innermost is this one.
    if (tInnermost == this)
        tInnermost = _outer;
}

void TarnCtlKevtLib::KevtsToKevtMessage(HostCtl::Lib::KevtMessage& out) {
    out = HostCtl::Lib::KevtMessage(std::move(_collected));
    _collected.clear();
}

void RaiseKernelEvent(const std::string& text) {
    for (TarnCtlKevtLib* c = tInnermost; c; c = c->_outer)
        c->_collected.push_back(text);
}

}  // namespace TarnCtl::Lib

namespace Platform::Kevt {

std::vector<std::string> ReadLog() {
    std::vector<std::string> out;
    std::string text;
    if (!HostCtl::Misc::ReadHostFile(kEventLog, &text))
        return out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        out.push_back(line);
    return out;
}

}  // namespace Platform::Kevt
