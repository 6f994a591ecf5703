// Routing of one netstack: default gateways, static routes and neighbour
// tables in the kernel, recorded in the netstack's configuration entry
// ("/net/netstackinstance/child[..]/route", store sub-object "routing_config").
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "configstore/configfileutil.h"
#include "hostctl/network_routing.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Network {

// The configuration entry of netstack `key`. With `create`, a netstack that
// runs but was never recorded (the default one on a new host) is recorded the
// way netstack creation records it; otherwise an empty adapter comes back.
ConfigStoreUtil::ConfigBranchUtil NetstackConfigEntry(ConfigStoreUtil::ConfigFileUtil& config, const std::string& key,
                                                     bool create);

// Boot: replays the routing of every recorded netstack into the kernel.
void RestoreRoutes();

class RoutingInfoImpl : public virtual HostCtl::Network::RoutingInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    explicit RoutingInfoImpl(const std::string& netstackKey);

    // ---- HostCtlObject
    void Refresh() override;
    void LoadConfig() override;
    std::string GetName() const override { return "routing"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // ---- RoutingInfo
    std::string GetConsoleDefaultGatewayDevice() override;
    HostCtl::Network::Ipv4Address GetTarnosDefaultGateway() override;
    HostCtl::Network::Ipv4Address GetTarnosConfigDefaultGateway() override;
    void SetTarnosDefaultGateway(const HostCtl::Network::Ipv4Address& gw, bool fromDhcp) override;
    void UnsetTarnosDefaultGateway() override;
    HostCtl::Network::Ipv6Address GetIpv6TarnosDefaultGateway() override;
    HostCtl::Network::Ipv6Address GetIpv6TarnosConfigDefaultGateway() override;
    void SetIpv6TarnosDefaultGateway(const HostCtl::Network::Ipv6Address& gw) override;
    void UnsetIpv6TarnosDefaultGateway() override;
    std::vector<HostCtl::Network::Ipv4Route> GetCurrentTarnosRoutes(HostCtl::Network::PortsetGetType type) override;
    std::vector<HostCtl::Network::Ipv6Route> GetCurrentIpv6TarnosRoutes(
        HostCtl::Network::PortsetGetType type) override;
    void AddTarnosRoute(const HostCtl::Network::Ipv4Network& net, const HostCtl::Network::Ipv4Address& gw) override;
    void AddIpv6TarnosRoute(const HostCtl::Network::Ipv6Network& net, const HostCtl::Network::Ipv6Address& gw) override;
    void RemoveTarnosRoute(const HostCtl::Network::Ipv4Network& net, const HostCtl::Network::Ipv4Address& gw) override;
    void RemoveIpv6TarnosRoute(const HostCtl::Network::Ipv6Network& net,
                               const HostCtl::Network::Ipv6Address& gw) override;
    void GetCurrentIpv4TarnosNeighbors(std::vector<HostCtl::Network::Ipv4Neighbor>& out, const std::string& interface,
                                       HostCtl::Network::PortsetGetType type) override;
    void GetCurrentIpv6TarnosNeighbors(std::vector<HostCtl::Network::Ipv6Neighbor>& out, const std::string& interface,
                                       HostCtl::Network::PortsetGetType type) override;
    void RemoveIpv4Neighbor(const HostCtl::Network::Ipv4Neighbor& neighbor) override;
    void RemoveIpv6Neighbor(const HostCtl::Network::Ipv6Neighbor& neighbor) override;
    std::string GetIpv4NeighborType(uint32_t type) override;
    std::string GetIpv6NeighborType(uint32_t type) override;
    std::string GetIpv6NeighborState(uint32_t state) override;
    void SetNetstackInstanceKey(const std::string& key) override;
    std::string GetNetstackInstanceKey() override { return _key; }
    std::string GetTarnosIpv4DefaultGatewayInterface() override;
    std::string GetTarnosIpv6DefaultGatewayInterface() override;
    void RemoveConfig(bool write) override;
    bool HasLocalRouteToAddress(const HostCtl::Network::Ipv4Address& a) override;
    bool HasLocalRouteToAddress(const HostCtl::Network::Ipv6Address& a) override;
    std::string GetDefaultGatewaySource(const HostCtl::Network::Ipv4Network& net) override;
    void ClearNeighbors(bool ipv6) override;

    // Route lists come back ordered by netmask: the default route first, then
    // wider networks before narrower ones; equal netmasks by network.
    static void SortRoutesByNetmask(std::vector<HostCtl::Network::Ipv4Route>& routes);
    static void SortV6RoutesByNetmask(std::vector<HostCtl::Network::Ipv6Route>& routes);

    // The kernel steps alone, as boot replay and rollback use them.
    void SetTarnosDefaultGatewayInternal(const HostCtl::Network::Ipv4Address& gw);
    void SetIpv6TarnosDefaultGatewayInternal(const HostCtl::Network::Ipv6Address& gw);
    void AddTarnosRouteInternal(const HostCtl::Network::Ipv4Network& net, const HostCtl::Network::Ipv4Address& gw);
    void AddIpv6TarnosRouteInternal(const HostCtl::Network::Ipv6Network& net,
                                    const HostCtl::Network::Ipv6Address& gw);

private:
    void RequireIpv6();
    // One route "add" or "del" in the kernel, with the caller's texts on failure.
    void KernelRoute(bool add, const HostCtl::Network::Ipv4Network& net, const HostCtl::Network::Ipv4Address& gw);
    void KernelRoute(bool add, const HostCtl::Network::Ipv6Network& net, const HostCtl::Network::Ipv6Address& gw);
    template <typename Rec>
    std::vector<std::pair<std::string, Rec>> ReadRecords(uint32_t node, const std::string& what,
                                                            const std::function<bool(const Rec&)>& usable);
    void RemoveNeighbor(uint32_t node, const std::string& text);
    // The checked kernel write of either family's default gateway; `family` names it in the texts.
    template <typename Address>
    void WriteCheckedGateway(const Address& gw, uint32_t node, const std::string& family);
    // A static route of either family: checked, written to the kernel, then recorded under `list`.
    template <typename Network, typename Address>
    void AddRecordedRoute(const Network& net, const Address& gw, const std::string& list);
    // Puts a gateway back without any check (rollback).
    void SetKernelGateway(const HostCtl::Network::Ipv4Address& gw);
    // Records under "route" in one tree write; `change` edits the branch.
    void Record(const std::function<void(ConfigStoreUtil::ConfigBranchUtil& route)>& change);
    // Record; when that fails, `undo` takes the kernel change back and the failure goes on.
    void RecordOrUndo(const std::function<void(ConfigStoreUtil::ConfigBranchUtil& route)>& change,
                      const std::function<void()>& undo);
    std::string ReadConfigValue(const std::string& name);

    std::string _key;
    HostCtl::Network::Ipv4Address _gateway;
    HostCtl::Network::Ipv6Address _v6gateway;
    bool _stale = true;
};

}  // namespace TarnCtl::Network
