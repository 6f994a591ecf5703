// The process-wide backend of a platform interface: the one a caller (a test)
// put in place, else the one the host registered when it was loaded, else a
// fallback that refuses every call. The pointers are set at load time or by
// tests and only loaded by readers, so any thread may call through it.
#pragma once

#include <atomic>

namespace Platform {

template <class Backend, class Fallback>
class BackendSlot {
public:
    constexpr BackendSlot() = default;
    BackendSlot(const BackendSlot&) = delete;
    BackendSlot& operator=(const BackendSlot&) = delete;

    Backend& Get() {
        Backend* b = _override.load(std::memory_order_acquire);
        return b ? *b : Effective();
    }
    // Puts `backend` in place (null goes back to the default); returns the one
    // that was in effect.
    Backend* Set(Backend* backend) {
        Backend* prev = _override.exchange(backend, std::memory_order_acq_rel);
        return prev ? prev : &Effective();
    }
    void RegisterDefault(Backend* backend) { _default.store(backend, std::memory_order_release); }

private:
    Backend& Effective() {
        if (Backend* d = _default.load(std::memory_order_acquire))
            return *d;
        static Fallback* none = new Fallback;  // never destroyed: callers may outlive statics
        return *none;
    }

    // Constant-initialised, so registrations from other files' static
    // initialisers land whatever the initialisation order.
    std::atomic<Backend*> _override{nullptr};
    std::atomic<Backend*> _default{nullptr};
};

}  // namespace Platform
