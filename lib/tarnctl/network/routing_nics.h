// What routing needs from the kernel NICs: which NICs a netstack has and their
// addresses. Kernel-NIC objects are the natural answer; until they exist the
// kernel's interface nodes of the netstack answer it (the default source).
// Tests and the kernel-NIC code install their own source with
// SetKernelNicAddressSource. Sources are called on the caller's thread only.
#pragma once

#include <string>
#include <vector>

#include "hostctl/nettypes.h"

namespace TarnCtl::Network {

struct KernelNicAddresses {
    std::string name;
    HostCtl::Network::Ipv4Address ipv4;  // 0.0.0.0 when the NIC has none
    HostCtl::Network::Ipv4Address netmask;
    std::vector<HostCtl::Network::Ipv6Network> ipv6;
};

class KernelNicAddressSource {
public:
    virtual ~KernelNicAddressSource() = default;
    // The kernel NICs of netstack `key` in kernel order. Throws HostCtlException
    // when they cannot be read.
    virtual std::vector<KernelNicAddresses> ListKernelNicAddresses(const std::string& key) = 0;
};

// The IPv6 addresses the kernel holds for NIC `name` of netstack `key`, in
// kernel order; none when they cannot be read.
std::vector<HostCtl::Network::Ipv6Network> KernelNicIpv6Addresses(const std::string& key, const std::string& name);

// The source in effect.
KernelNicAddressSource& GetKernelNicAddressSource();
// Installs `source` (null puts the kernel-node default back); returns the previous one.
KernelNicAddressSource* SetKernelNicAddressSource(KernelNicAddressSource* source);

}  // namespace TarnCtl::Network
