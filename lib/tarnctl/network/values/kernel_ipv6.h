// The one question the network values ask the host: is IPv6 enabled in the
// kernel's TCP/IP stack right now. Kept alone so tests and tools can replace it.
#pragma once

namespace TarnCtl::Network::Values {

// Live state of the default netstack; false when the kernel cannot tell.
bool KernelIpv6Enabled();

}  // namespace TarnCtl::Network::Values
