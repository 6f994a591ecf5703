// The process-wide network device-control backend: the one the host (here the
// simulation) registered when it was loaded, unless a caller (a test) puts
// another in place. Without one every device is missing.
#include "platform/netdev.h"

#include <atomic>
#include <cerrno>

namespace Platform::NetDev {

namespace {

class NoDevices : public Backend {
public:
    int Open(const std::string&) override { return -ENODEV; }
    int Ioctl(int, unsigned long, struct ifreq*) override { return -ENODEV; }
    void Close(int) override {}
};

// Both are set at load time or by tests; readers only load them.
std::atomic<Backend*> gDefault{nullptr};
std::atomic<Backend*> gOverride{nullptr};

Backend& Effective(Backend* b) {
    static NoDevices* none = new NoDevices;
    return b ? *b : *none;
}

}  // namespace

Backend& GetBackend() {
    Backend* b = gOverride.load(std::memory_order_acquire);
    return b ? *b : Effective(gDefault.load(std::memory_order_acquire));
}

Backend* SetBackend(Backend* backend) {
    Backend* prev = gOverride.exchange(backend, std::memory_order_acq_rel);
    return prev ? prev : &Effective(gDefault.load(std::memory_order_acquire));
}

void RegisterDefaultBackend(Backend* backend) { gDefault.store(backend, std::memory_order_release); }

}  // namespace Platform::NetDev
