// Reads the kernel's live IPv6 switch of the default netstack for IpConfig.
// A read failure counts as "disabled" (with a warning) so that building a
// value never fails because of the host.
#include "network/values/kernel_ipv6.h"

#include <cstdint>

#include "ksi/nodes.h"
#include "platform/log.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network::Values {

bool KernelIpv6Enabled() {
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_v6conf);
    si.SetThrowOnError(false);
    si.SetInstance("defaultTcpipStack");
    uint8_t enabled = 0;
    TARN_ReturnStatus status = si.Get(&enabled, sizeof enabled);
    if (status != TARN_OK) {
        TarnCtl_LogWarnInt("%s: Unable to read the IPv6 state of the kernel: %s\n", "IpConfig",
                           si.MessageFor(status).c_str());
        return false;
    }
    return enabled != 0;
}

}  // namespace TarnCtl::Network::Values
