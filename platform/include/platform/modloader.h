// The kernel module loader library. Each call returns a kernel status:
// TARN_OK, TARN_BUSY (0xbad0004) for a module that is already loaded,
// TARN_NOT_FOUND when no module file of that name exists, TARN_MODULE_NOT_LOADED
// when unloading a module that is not loaded. Safe from any thread.
#pragma once

#include "hostctl/status.h"

// Loads module `name` (a file of the module directory) with the option string
// `options` (may be empty or null).
TARN_ReturnStatus TARNMod_Load(const char* name, const char* options, int flags = 0);
TARN_ReturnStatus TARNMod_Unload(const char* name);
// TARN_OK when the module is loaded, TARN_NOT_FOUND when it is not.
TARN_ReturnStatus TARNMod_IsModuleLoaded(const char* name);

namespace Platform::ModLoader {

// What answers the calls: the real loader, or the simulation.
class Backend {
public:
    virtual ~Backend() = default;
    virtual TARN_ReturnStatus Load(const char* name, const char* options, int flags) = 0;
    virtual TARN_ReturnStatus Unload(const char* name) = 0;
    virtual TARN_ReturnStatus IsModuleLoaded(const char* name) = 0;
};

// The process-wide backend: the one set by SetBackend, else the registered
// default, else one that fails every call with TARN_NOT_SUPPORTED.
Backend& GetBackend();
// Replaces the backend (tests wrap it); null puts the default back. Returns
// the backend that was in effect.
Backend* SetBackend(Backend* backend);
// Registers the host's loader (the simulation does so when it is loaded).
void RegisterDefaultBackend(Backend* backend);

}  // namespace Platform::ModLoader
