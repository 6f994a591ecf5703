// The distributed-storage plug-in loader and whole-host printing.
#pragma once

#include <pthread.h>

namespace TarnCtl::Lib {
class ObjectPrinter;
}

namespace TarnCtl {

class HostImpl {
public:
    // Makes sure the plug-in has been loaded once; a failed load is logged and
    // absorbed, and the next caller tries again.
    static void LoadTarnCtlPlugins();
    // One load attempt; the caller holds the loader mutex. Throws
    // HostCtl::Lib::HostCtlException "Failed to load Morra plugin".
    static void LoadTarnCtlPluginsLockedInt();
    static void Print(TarnCtl::Lib::ObjectPrinter* printer);

    static unsigned char _pluginLoaded;
    static pthread_mutex_t _loaderMutex;
    // The plug-in file name; tests point it at their own builds.
    static const char* _pluginPath;
    // Called by every caller that found the plug-in not loaded, before it takes
    // the loader mutex; null outside tests, which park callers there to make
    // them all race for the mutex.
    static void (*_beforeLoaderLock)();
};

}  // namespace TarnCtl
