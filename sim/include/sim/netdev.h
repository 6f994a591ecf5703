// The simulated answer to network device-control requests: legacy-driver NICs
// of the simulated kernel reply to SIOCETHTOOL and the MTU requests from the
// same model the kernel nodes show.
#pragma once

#include "platform/netdev.h"

namespace TarnSim {

Platform::NetDev::Backend& NetDevBackend();

}  // namespace TarnSim
