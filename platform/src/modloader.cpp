// The module loader library's calls, forwarding to the process's backend: the
// one a test installed, else the host's registered loader (the simulation
// registers its own), else one that refuses every call.
#include "platform/modloader.h"

#include "platform/backend_slot.h"

namespace Platform::ModLoader {

namespace {

class NoLoader : public Backend {
public:
    TARN_ReturnStatus Load(const char*, const char*, int) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus Unload(const char*) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus IsModuleLoaded(const char*) override { return TARN_NOT_SUPPORTED; }
};

constinit BackendSlot<Backend, NoLoader> gSlot;

}  // namespace

void RegisterDefaultBackend(Backend* backend) { gSlot.RegisterDefault(backend); }
Backend& GetBackend() { return gSlot.Get(); }
Backend* SetBackend(Backend* backend) { return gSlot.Set(backend); }

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
