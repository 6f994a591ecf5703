// Process-wide hooks that the distributed-storage plug-in fills from its
// constructor. The library never fills them; users load the plug-in on demand
// (HostImpl::LoadTarnCtlPlugins) and skip their plug-in step when a hook stays empty.
#pragma once

#include <string>

namespace TarnCtl::Util {

class MorraUtilApi {
public:
    static bool (*isMorraEnabledFn)();
    static bool (*isMorraActiveFn)();
    static bool (*startMorraMgmtDaemonFn)();
    static bool (*saveMorraDecomStateFn)(const std::string&, const std::string&);
    static unsigned long (*getMorraCapacityFn)();

    static bool IsMorraEnabled();
    static bool IsMorraActive();
    // Throws "Failed to start Morra management daemon." when the hook says no.
    static void StartMorraMgmtDaemon();
    // Throws "Failed to save Morra decom state." when the hook says no.
    static void SaveMorraDecomState(const std::string& a, const std::string& b);
    static unsigned long GetMorraCapacity();
};

}  // namespace TarnCtl::Util

namespace TarnCtl::AdvStats {

struct MorraDomStats;

class MorraStatsApi {
public:
    static bool (*isMorraEnabledFn)();
    // Indexed by role: 0 "Client", 1 "Owner", 2 "CompMgr". Fills a zeroed record.
    static void (*getMorraDomStatsFn[3])(MorraDomStats*);
};

}  // namespace TarnCtl::AdvStats
