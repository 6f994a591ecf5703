// Routing of one netstack: default gateways, static routes and neighbour
// tables. Built by the DNS-and-routing issue (RoutingInfoImpl); until then
// NetworkInfo::GetRoutingInfo is "not available".
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostctl/nettypes.h"
#include "hostctl/network_vswitch.h"
#include "hostctl/object.h"

namespace HostCtl::Network {

struct Ipv4Route {
    Ipv4Network network;
    Ipv4Address gateway;
    std::string interface;
};

struct Ipv6Route {
    Ipv6Network network;
    Ipv6Address gateway;
    std::string interface;
};

struct Ipv4Neighbor {
    Ipv4Address address;
    MacAddress mac;
    std::string interface;
    uint32_t type = 0;
};

struct Ipv6Neighbor {
    Ipv6Address address;
    MacAddress mac;
    std::string interface;
    uint32_t type = 0;
    uint32_t state = 0;
};

class RoutingInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetConsoleDefaultGatewayDevice() = 0;
    virtual Ipv4Address GetTarnosDefaultGateway() = 0;
    virtual Ipv4Address GetTarnosConfigDefaultGateway() = 0;
    virtual void SetTarnosDefaultGateway(const Ipv4Address& gw, bool fromDhcp) = 0;
    virtual void UnsetTarnosDefaultGateway() = 0;
    virtual Ipv6Address GetIpv6TarnosDefaultGateway() = 0;
    virtual Ipv6Address GetIpv6TarnosConfigDefaultGateway() = 0;
    virtual void SetIpv6TarnosDefaultGateway(const Ipv6Address& gw) = 0;
    virtual void UnsetIpv6TarnosDefaultGateway() = 0;
    // Sorted by netmask.
    virtual std::vector<Ipv4Route> GetCurrentTarnosRoutes(PortsetGetType type) = 0;
    virtual std::vector<Ipv6Route> GetCurrentIpv6TarnosRoutes(PortsetGetType type) = 0;
    virtual void AddTarnosRoute(const Ipv4Network& net, const Ipv4Address& gw) = 0;
    virtual void AddIpv6TarnosRoute(const Ipv6Network& net, const Ipv6Address& gw) = 0;
    virtual void RemoveTarnosRoute(const Ipv4Network& net, const Ipv4Address& gw) = 0;
    virtual void RemoveIpv6TarnosRoute(const Ipv6Network& net, const Ipv6Address& gw) = 0;
    virtual void GetCurrentIpv4TarnosNeighbors(std::vector<Ipv4Neighbor>& out, const std::string& interface,
                                               PortsetGetType type) = 0;
    virtual void GetCurrentIpv6TarnosNeighbors(std::vector<Ipv6Neighbor>& out, const std::string& interface,
                                               PortsetGetType type) = 0;
    virtual void RemoveIpv4Neighbor(const Ipv4Neighbor& neighbor) = 0;
    virtual void RemoveIpv6Neighbor(const Ipv6Neighbor& neighbor) = 0;
    virtual std::string GetIpv4NeighborType(uint32_t type) = 0;
    virtual std::string GetIpv6NeighborType(uint32_t type) = 0;
    virtual std::string GetIpv6NeighborState(uint32_t state) = 0;
    virtual void SetNetstackInstanceKey(const std::string& key) = 0;
    virtual std::string GetNetstackInstanceKey() = 0;
    virtual std::string GetTarnosIpv4DefaultGatewayInterface() = 0;
    virtual std::string GetTarnosIpv6DefaultGatewayInterface() = 0;

    // Deletes the netstack's routing configuration (file branch and store).
    virtual void RemoveConfig(bool write) = 0;
    virtual bool HasLocalRouteToAddress(const Ipv4Address& a) = 0;
    virtual bool HasLocalRouteToAddress(const Ipv6Address& a) = 0;
    // "MANUAL" or "DHCP".
    virtual std::string GetDefaultGatewaySource(const Ipv4Network& net) = 0;
    virtual void ClearNeighbors(bool ipv6) = 0;
};

}  // namespace HostCtl::Network
