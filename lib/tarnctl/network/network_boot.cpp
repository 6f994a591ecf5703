// The network domain's boot steps, in the order the host fixes for them:
// netstacks first (kernel NICs plug into them), then physical NIC settings
// (before switches take the NICs as uplinks). Later areas take orders after
// these: switches and port groups 220, kernel NICs 230, routes and DNS 240.
#include "network/network_info_impl.h"
#include "platform/boot.h"

namespace TarnCtl::Network {

namespace {

const Platform::Boot::Step kNetstacks("network.netstacks", 200, [] { NetworkInfoImpl().RestoreNetstackInstances(); });
const Platform::Boot::Step kPnics("network.pnics", 210, [] { NetworkInfoImpl().RestorePnics(); });

}  // namespace

}  // namespace TarnCtl::Network
