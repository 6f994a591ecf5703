// The module loader library's calls, forwarding to the process's backend: the
// one a test installed, else the host's registered loader (the simulation
// registers its own), else one that refuses every call.
#include "platform/modloader.h"

#include <atomic>

namespace Platform::ModLoader {

namespace {

class NoLoader : public Backend {
public:
    TARN_ReturnStatus Load(const char*, const char*, int) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus Unload(const char*) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus IsModuleLoaded(const char*) override { return TARN_NOT_SUPPORTED; }
};

std::atomic<Backend*> gBackend{nullptr};
std::atomic<Backend*> gDefault{nullptr};

Backend& Default() {
    static NoLoader none;
    Backend* d = gDefault.load(std::memory_order_acquire);
    return d ? *d : none;
}

}  // namespace

void RegisterDefaultBackend(Backend* backend) { gDefault.store(backend, std::memory_order_release); }

Backend& GetBackend() {
    Backend* b = gBackend.load(std::memory_order_acquire);
    return b ? *b : Default();
}

Backend* SetBackend(Backend* backend) {
    Backend* prev = gBackend.exchange(backend, std::memory_order_acq_rel);
    return prev ? prev : &Default();
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
