// The fault-point hook: one registered decider, read on every store change.
#include "platform/faultpoint.h"

#include <mutex>

namespace Platform::FaultPoint {
namespace {
std::mutex gMu;
Hook& TheHook() {
    static Hook* h = new Hook;  // registered from other files' static initialisers
    return *h;
}
}  // namespace

void Register(Hook hook) {
    std::lock_guard<std::mutex> g(gMu);
    TheHook() = std::move(hook);
}

bool Fails(Point point) {
    Hook hook;
    {
        std::lock_guard<std::mutex> g(gMu);
        hook = TheHook();
    }
    return hook && hook(point);
}

}  // namespace Platform::FaultPoint
