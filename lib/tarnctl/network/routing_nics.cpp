// The default kernel-NIC address source: the interface nodes of the kernel's
// TCP/IP instance (NIC list, IPv4 address and netmask, IPv6 addresses).
#include "network/routing_nics.h"

#include <cstring>

#include "ksi/network.h"
#include "network/network_util.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;

namespace {

class KernelNodeSource : public KernelNicAddressSource {
public:
    std::vector<KernelNicAddresses> ListKernelNicAddresses(const std::string& key) override {
        std::vector<std::string> names;
        KernelStep("Unable to list the Tarnos interfaces of netstack instance " + key, [&] {
            Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_properties);
            si.SetInstance(key);
            si.List(names);
        });
        std::vector<KernelNicAddresses> out;
        out.reserve(names.size());
        for (const std::string& name : names) {
            KernelNicAddresses nic;
            nic.name = name;
            KsiVnicIpv4Address v4{};
            Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask);
            si.SetThrowOnError(false);
            si.SetInstance(key);
            si.AddInstancePath(name);
            if (si.Get(&v4, sizeof v4) == TARN_OK && v4.address != 0) {
                nic.ipv4 = Ipv4Address(v4.address);
                nic.netmask = Ipv4Address(v4.netmask);
            }
            nic.ipv6 = KernelNicIpv6Addresses(key, name);
            out.push_back(std::move(nic));
        }
        return out;
    }
};

KernelNodeSource gKernelNodes;
// Replaced only by tests and by the kernel-NIC code at start-up, before use.
KernelNicAddressSource* gSource = &gKernelNodes;

}  // namespace

std::vector<Ipv6Network> KernelNicIpv6Addresses(const std::string& key, const std::string& name) {
    std::vector<std::string> indexes;
    Util::Sysinfo list(KSI_NODE_net_tcpip_instances_vNics_v6_addresses);
    list.SetThrowOnError(false);
    list.SetInstance(key);
    list.AddInstancePath(name);
    list.List(indexes);
    std::vector<Ipv6Network> out;
    for (const std::string& index : indexes) {
        KsiVnicIpv6Address v6{};
        Util::Sysinfo a(KSI_NODE_net_tcpip_instances_vNics_v6_addresses);
        a.SetThrowOnError(false);
        a.SetInstance(key);
        a.AddInstancePath(name);
        a.AddInstancePath(index);
        if (a.Get(&v6, sizeof v6) != TARN_OK || v6.prefix > 128) continue;
        Ipv6_addr bin;
        std::memcpy(&bin, v6.address, sizeof bin);
        out.emplace_back(Ipv6Address(bin), v6.prefix);
    }
    return out;
}

KernelNicAddressSource& GetKernelNicAddressSource() { return *gSource; }

KernelNicAddressSource* SetKernelNicAddressSource(KernelNicAddressSource* source) {
    KernelNicAddressSource* previous = gSource;
    gSource = source ? source : &gKernelNodes;
    return previous;
}

}  // namespace TarnCtl::Network
