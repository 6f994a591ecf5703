// The process-wide network device-control backend: the simulation unless a
// caller (a test) puts another in place.
#include "platform/netdev.h"

#include <atomic>

#include "sim/netdev.h"

namespace Platform::NetDev {

namespace {
std::atomic<Backend*> gBackend{nullptr};
}

Backend& GetBackend() {
    Backend* b = gBackend.load(std::memory_order_acquire);
    return b ? *b : TarnSim::NetDevBackend();
}

Backend* SetBackend(Backend* backend) {
    Backend* prev = gBackend.exchange(backend, std::memory_order_acq_rel);
    return prev ? prev : &TarnSim::NetDevBackend();
}

}  // namespace Platform::NetDev
