// The host's MAC generator for kernel NICs (interface only on this branch).
#pragma once

#include <string>

#include "hostctl/nettypes.h"

namespace TarnCtl::Network {

class MacAddressGenerator {
public:
    // The one process-wide generator.
    static MacAddressGenerator& GetSingleton();
    // A MAC for a kernel NIC from its seed string, unique among the host's NICs.
    HostCtl::Network::MacAddress GenerateTarnNicMacAddr(const std::string& seed);
    // True when no physical or kernel NIC has this MAC.
    bool CheckMacUniqueness(const HostCtl::Network::MacAddress& mac);
};

}  // namespace TarnCtl::Network
