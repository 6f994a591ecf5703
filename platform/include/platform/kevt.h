// Host events and kernel event messages.
// KevtUserLib_* post user-visible host events; the stand-in appends them to
// /var/log/kevt.log under the host root. Kernel event messages are raised by the
// (simulated) kernel during a call and collected per thread by TarnCtlKevtLib.
#pragma once

#include <string>
#include <vector>

#include "hostctl/exception.h"
#include "platform/log.h"

int KevtUserLib_Init();
// Text form "@&!*@*@(" + event id + ")" + human-readable text with placeholders.
int KevtUserLib_AddKevt(const char* fmt, ...) TARN_PRINTF(1, 2);
void KevtUserLib_Close();

namespace TarnCtl::Lib {

// Collects the kernel event messages raised on this thread during its lifetime.
// Not to be shared between threads.
class TarnCtlKevtLib {
public:
    TarnCtlKevtLib();
    explicit TarnCtlKevtLib(int context);
    ~TarnCtlKevtLib();
    TarnCtlKevtLib(const TarnCtlKevtLib&) = delete;
    TarnCtlKevtLib& operator=(const TarnCtlKevtLib&) = delete;
    // Moves what was collected so far into `out`.
    void KevtsToKevtMessage(HostCtl::Lib::KevtMessage& out);
    int GetContext() const { return _context; }

private:
    friend void RaiseKernelEvent(const std::string& text);
    int _context;
    std::vector<std::string> _collected;
    TarnCtlKevtLib* _outer;
};

// Called by the kernel side: hands `text` to every live collector of this thread.
void RaiseKernelEvent(const std::string& text);

}  // namespace TarnCtl::Lib

namespace Platform::Kevt {
// Host events posted so far, read back from the events log.
std::vector<std::string> ReadLog();
}
