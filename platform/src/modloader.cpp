// The module loader library's calls, forwarding to the process's backend (the
// simulated kernel's loader unless a test installs another).
#include "platform/modloader.h"

#include <atomic>

namespace TarnSim {
Platform::ModLoader::Backend& ModLoaderBackend();
}

namespace Platform::ModLoader {

namespace {
std::atomic<Backend*> gBackend{nullptr};
}

Backend& GetBackend() {
    Backend* b = gBackend.load(std::memory_order_acquire);
    return b ? *b : TarnSim::ModLoaderBackend();
}

Backend* SetBackend(Backend* backend) {
    Backend* prev = gBackend.exchange(backend, std::memory_order_acq_rel);
    return prev ? prev : &TarnSim::ModLoaderBackend();
}

}  // namespace Platform::ModLoader

TARN_ReturnStatus TARNMod_Load(const char* name, const char* options, int flags) {
    if (!name || !*name) return TARN_BAD_PARAM;
    return Platform::ModLoader::GetBackend().Load(name, options ? options : "", flags);
}

TARN_ReturnStatus TARNMod_Unload(const char* name) {
    if (!name || !*name) return TARN_BAD_PARAM;
    return Platform::ModLoader::GetBackend().Unload(name);
}

TARN_ReturnStatus TARNMod_IsModuleLoaded(const char* name) {
    if (!name || !*name) return TARN_BAD_PARAM;
    return Platform::ModLoader::GetBackend().IsModuleLoaded(name);
}
