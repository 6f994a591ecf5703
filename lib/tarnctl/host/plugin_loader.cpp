// Loads the distributed-storage plug-in once, on demand. A failed attempt is
// logged and leaves the plug-in unloaded, so the next hook user tries again.
#include <dlfcn.h>

#include "host/host_impl.h"
#include "hostctl/exception.h"
#include "platform/log.h"

namespace TarnCtl {

unsigned char HostImpl::_pluginLoaded = 0;
pthread_mutex_t HostImpl::_loaderMutex = PTHREAD_MUTEX_INITIALIZER;
const char* HostImpl::_pluginPath = "libmorratarnctl.so";
void (*HostImpl::_beforeLoaderLock)() = nullptr;

void HostImpl::LoadTarnCtlPluginsLockedInt() {
    void* handle = dlopen(_pluginPath, RTLD_LAZY);
    if (!handle) {
        const char* err = dlerror();
        TarnCtl_LogErrorInt("%s: Couldn't open tarnctl Morra plugin: %s\n", "TarnCtl", err ? err : "");
        throw HostCtl::Lib::HostCtlException("Failed to load Morra plugin");
    }
    dlerror();
    void* symbol = dlsym(handle, "TarnctlPluginConstructor");
    if (const char* err = dlerror()) {
        TarnCtl_LogErrorInt("%s: Couldn't locate constructor in Morra plugin: %s\n", "TarnCtl", err);
        throw HostCtl::Lib::HostCtlException("Failed to load Morra plugin");
    }
    // The handle stays open for the life of the process: the hooks point into it.
    reinterpret_cast<void (*)()>(symbol)();
}

void HostImpl::LoadTarnCtlPlugins() {
    if (__atomic_load_n(&_pluginLoaded, __ATOMIC_ACQUIRE))
        return;
    if (_beforeLoaderLock)
        _beforeLoaderLock();
    pthread_mutex_lock(&_loaderMutex);
    struct Unlock {
        ~Unlock() { pthread_mutex_unlock(&_loaderMutex); }
    } unlock;
    if (_pluginLoaded)
        return;
    try {
        LoadTarnCtlPluginsLockedInt();
        __atomic_store_n(&_pluginLoaded, 1, __ATOMIC_RELEASE);
    } catch (const HostCtl::Lib::HostCtlException&) {
        // Already logged; the next user of a hook tries again.
    }
}

}  // namespace TarnCtl
