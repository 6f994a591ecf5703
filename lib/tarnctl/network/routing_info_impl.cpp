// Routing of one netstack. Every change goes to the kernel first and is then
// recorded in the netstack's "route" branch of the configuration tree, whose
// write reaches the store's "routing_config" in one transaction; when recording
// fails the kernel change is undone. While the host boots nothing is recorded.
#include "network/routing_info_impl.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <optional>

#include "hostctl/exception.h"
#include "ksi/network.h"
#include "network/netstack_instance_impl.h"
#include "network/network_info_impl.h"
#include "network/network_util.h"
#include "network/routing_nics.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using ConfigStoreUtil::ConfigBranchUtil;
using ConfigStoreUtil::ConfigFileUtil;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HostCtl::Lib::HostCtlException;
using TarnCtl::Lib::SysinfoException;

namespace {

const char* kTag = "RoutingInfo";

bool IsDefaultRoute(const Ipv4Network& net) {
    return net.GetNetwork().IsAllzeroAddress() && net.GetNetmask().IsAllzeroAddress();
}

std::string ClosestNetworkText(const std::string& network, const std::string& netmask, const std::string& closest) {
    return "Invalid network/netmask combination.  The network specificed is not valid with the given netmask.  "
           "The closest network to " +
           network + " with netmask " + netmask + " is " + closest;
}

void CheckNetwork(const Ipv4Network& net) {
    uint32_t network = net.GetNetwork().GetBinaryAddress(), mask = net.GetNetmask().GetBinaryAddress();
    if ((network & ~mask) != 0)
        throw HostCtlException(ClosestNetworkText(net.GetNetwork().GetStringAddress(),
                                                  net.GetNetmask().GetStringAddress(),
                                                  Ipv4Address(network & mask).GetStringAddress()));
}

Ipv6Address Masked(const Ipv6Address& a, unsigned prefix) {
    Ipv6_addr bin = a.GetBinaryAddress();
    Ipv6_addr mask = Ipv6Network::NetmaskFromNumber(prefix).GetBinaryAddress();
    for (int i = 0; i < 16; ++i) bin.s6_addr[i] &= mask.s6_addr[i];
    return Ipv6Address(bin);
}

void CheckNetwork(const Ipv6Network& net) {
    if (net.GetNetmask() > 128) throw HostCtlException("Invalid IPv6 prefix length " + std::to_string(net.GetNetmask()));
    Ipv6Address closest = Masked(net.GetAddress(), net.GetNetmask());
    Ipv6_addr a = closest.GetBinaryAddress(), b = net.GetAddress().GetBinaryAddress();
    if (std::memcmp(&a, &b, sizeof a) != 0)
        throw HostCtlException(ClosestNetworkText(net.GetAddress().GetStringAddress(),
                                                  std::to_string(net.GetNetmask()), closest.GetStringAddress()));
}

// One kernel Set on a routing node of the netstack; the status, never a throw.
TARN_ReturnStatus KernelSet(uint32_t node, const std::string& key, const std::vector<std::string>& texts,
                            const int64_t* prefix = nullptr, size_t prefixAt = 0) {
    Util::Sysinfo si(node);
    si.SetThrowOnError(false);
    si.SetInstance(key);
    for (size_t i = 0; i < texts.size(); ++i) {
        if (prefix && i == prefixAt) si.AddInput(static_cast<long>(*prefix));
        si.AddInput(texts[i]);
    }
    if (prefix && prefixAt == texts.size()) si.AddInput(static_cast<long>(*prefix));
    return si.Set();
}

std::string Reason(TARN_ReturnStatus status) { return TARN_ReturnStatusToString(status); }

// The kernel's answer to a route "add" or "del" as the caller sees it.
void CheckRouteStatus(TARN_ReturnStatus status, bool add, const std::string& net, const std::string& gw) {
    if (status == TARN_OK) return;
    if (add && status == TARN_EXISTS)
        throw SysinfoException("Duplicate route to network " + net + " found.  Please delete the old route first.",
                               status);
    if (!add && status == TARN_NOT_FOUND)
        throw SysinfoException("Unable to find route " + net + " with gateway " + gw, status);
    throw SysinfoException(std::string(add ? "Unable to add route to network " : "Unable to delete route to network ") +
                               net + HostCtl::Lib::StatusTail(status),
                           status);
}

// The element of `list` ("routes" / "v6routes") for `net`, made when absent, with its store id.
void RecordChild(ConfigBranchUtil& route, const std::string& list, const std::string& net, const std::string& gw) {
    auto routes = route.GetArray(list + "/child");
    ConfigBranchUtil child = routes.FindInstanceWithValue("network", net);
    if (!child) child = routes.NewInstance();
    child.SetValue("network", net);
    child.SetValue("gateway", gw);
    child.RegisterConfigStoreId(list + "/" + std::to_string(child.GetArrayIndex()));
}

void RemoveChild(ConfigBranchUtil& route, const std::string& list, const std::string& net) {
    auto routes = route.GetArray(list + "/child");
    if (routes.FindInstanceWithValue("network", net)) routes.RemoveInstance("network", net);
}

std::string Field(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

Ipv6Address V6(const uint8_t* bytes) {
    Ipv6_addr bin;
    std::memcpy(&bin, bytes, sizeof bin);
    return Ipv6Address(bin);
}

}  // namespace

// ---- The netstack's entry ----------------------------------------------------------------

ConfigBranchUtil NetstackConfigEntry(ConfigFileUtil& config, const std::string& key, bool create) {
    auto array = config.GetArray(NetstackInstanceImpl::kConfigArray);
    ConfigBranchUtil entry = array.FindInstanceWithValue("key", key);
    if (entry || !create) return entry;
    KsiTcpipInstanceProps props{};
    if (!NetstackInstanceImpl::ReadKernelProperties(key, &props)) return entry;
    entry = array.NewInstance();
    entry.SetValue("key", key);
    entry.SetValue("name", key);
    entry.SetValue("enable", true);
    return entry;
}

// ---- Object ---------------------------------------------------------------------------------

RoutingInfoImpl::RoutingInfoImpl(const std::string& netstackKey) : _key(netstackKey) {}

void RoutingInfoImpl::SetNetstackInstanceKey(const std::string& key) {
    NetworkInfoImpl::IsNetworkObjectNameValid(key, true);
    _key = key;
    _stale = true;
}

void RoutingInfoImpl::Refresh() {
    _stale = false;
    KsiIpv4Gateway v4{};
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_v4_gateway);
    si.SetThrowOnError(false);
    si.SetInstance(_key);
    _gateway = si.Get(&v4, sizeof v4) == TARN_OK ? Ipv4Address(v4.address) : Ipv4Address();
    KsiIpv6Gateway v6{};
    Util::Sysinfo si6(KSI_NODE_net_tcpip_instances_v6_gateway);
    si6.SetThrowOnError(false);
    si6.SetInstance(_key);
    _v6gateway = si6.Get(&v6, sizeof v6) == TARN_OK ? V6(v6.address) : Ipv6Address();
}

void RoutingInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Routing Info");
    printer->BeginObject();
    printer->Print("Netstack", _key);
    printer->Print("Default Gateway", GetTarnosDefaultGateway().GetStringAddress());
    printer->Print("IPv6 Default Gateway", GetIpv6TarnosDefaultGateway().GetStringAddress());
    printer->EndObject();
}

void RoutingInfoImpl::RequireIpv6() {
    if (!NetworkInfoImpl().IsTarnIpv6Enabled()) throw HostCtlException("Ipv6 not Enabled");
}

std::string RoutingInfoImpl::ReadConfigValue(const std::string& name) {
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    ConfigBranchUtil entry = NetstackConfigEntry(config.GetFile(), _key, false);
    std::string value;
    if (entry && entry.HasBranch("route")) entry.GetBranch("route").GetValue(name, &value);
    return value;
}

void RoutingInfoImpl::Record(const std::function<void(ConfigBranchUtil& route)>& change) {
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    ConfigBranchUtil entry = NetstackConfigEntry(config.GetFile(), _key, true);
    if (!entry)
        throw HostCtlException("Unable to find netstack instance with key: " + _key +
                               " at config location /net/netstackinstance");
    ConfigBranchUtil route = entry.GetBranch("route");
    change(route);
    config->Write();
}

void RoutingInfoImpl::RecordOrUndo(const std::function<void(ConfigBranchUtil& route)>& change,
                                   const std::function<void()>& undo) {
    try {
        Record(change);
    } catch (...) {
        try {
            undo();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to take back a routing change of netstack %s: %s\n", kTag, _key.c_str(),
                               e.GetDetailedMessage().c_str());
        }
        throw;
    }
}

// ---- Reachability -------------------------------------------------------------------------

bool RoutingInfoImpl::HasLocalRouteToAddress(const Ipv4Address& a) {
    bool anyAddress = false;
    for (const KernelNicAddresses& nic : GetKernelNicAddressSource().ListKernelNicAddresses(_key)) {
        if (nic.ipv4.IsAllzeroAddress() || !nic.netmask.IsValidNetmask()) {
            TarnCtl_LogVerboseInt("%s: Skipping over tarnnic %s, ip: %s in gateway reachability check\n", kTag,
                                  nic.name.c_str(), nic.ipv4.GetStringAddress().c_str());
            continue;
        }
        anyAddress = true;
        if (Ipv4Network(nic.ipv4, nic.netmask).IsValidNetworkAddress(a)) return true;
    }
    if (!anyAddress) throw HostCtlException("Cannot set gateway or routes until kernel TCP stack has at least 1 IP address");
    return false;
}

bool RoutingInfoImpl::HasLocalRouteToAddress(const Ipv6Address& a) {
    bool anyAddress = false;
    const Ipv6_addr bin = a.GetBinaryAddress();
    const bool linkLocal = bin.s6_addr[0] == 0xfe && (bin.s6_addr[1] & 0xc0) == 0x80;
    for (const KernelNicAddresses& nic : GetKernelNicAddressSource().ListKernelNicAddresses(_key)) {
        if (nic.ipv6.empty()) {
            TarnCtl_LogVerboseInt("%s: Skipping over tarnnic %s, ip: %s in gateway reachability check\n", kTag,
                                  nic.name.c_str(), "::");
            continue;
        }
        anyAddress = true;
        // Every IPv6 interface has a link-local address: a link-local gateway is on its link.
        if (linkLocal) return true;
        for (const Ipv6Network& n : nic.ipv6)
            if (n.IsValidNetworkAddress(a)) return true;
    }
    if (!anyAddress) throw HostCtlException("Cannot set gateway or routes until kernel TCP stack has at least 1 IP address");
    return false;
}

// ---- IPv4 default gateway -------------------------------------------------------------------

void RoutingInfoImpl::SetKernelGateway(const Ipv4Address& gw) {
    KernelSet(KSI_NODE_net_tcpip_instances_v4_gateway, _key, {gw.GetStringAddress()});
    _gateway = gw;
}

Ipv4Address RoutingInfoImpl::GetTarnosDefaultGateway() {
    Refresh();
    return _gateway;
}

Ipv4Address RoutingInfoImpl::GetTarnosConfigDefaultGateway() {
    std::string text = ReadConfigValue("gateway");
    return text.empty() ? Ipv4Address() : Ipv4Address(text);
}

std::string RoutingInfoImpl::GetDefaultGatewaySource(const Ipv4Network&) {
    std::string source = ReadConfigValue("source");
    return source.empty() ? "MANUAL" : source;
}

template <typename Address>
void RoutingInfoImpl::WriteCheckedGateway(const Address& gw, uint32_t node, const std::string& family) {
    const std::string text = gw.GetStringAddress();
    if (!gw.IsAllzeroAddress() && !HasLocalRouteToAddress(gw))
        throw HostCtlException("Unable to set Tarnos " + family + "gateway address to " + text +
                               " as there are no Tarnos interfaces on the same network with that IP address.");
    TARN_ReturnStatus status = KernelSet(node, _key, {text});
    if (status != TARN_OK)
        throw SysinfoException("Unable to set Tarnos " + family + "gateway address (" + text + ") :" +
                                   Reason(status) + ". Please verify your IP settings and try again.",
                               status);
}

void RoutingInfoImpl::SetTarnosDefaultGatewayInternal(const Ipv4Address& gw) {
    WriteCheckedGateway(gw, KSI_NODE_net_tcpip_instances_v4_gateway, "");
    _gateway = gw;
}

void RoutingInfoImpl::SetTarnosDefaultGateway(const Ipv4Address& gw, bool fromDhcp) {
    const Ipv4Address previous = GetTarnosDefaultGateway();
    SetTarnosDefaultGatewayInternal(gw);
    if (IsBootMode()) return;
    const std::string text = gw.GetStringAddress();
    RecordOrUndo(
        [&](ConfigBranchUtil& route) {
            route.SetValue(fromDhcp ? "effectgateway" : "gateway", text);
            route.SetValue("source", std::string(fromDhcp ? "DHCP" : "MANUAL"));
        },
        [&] { SetKernelGateway(previous); });
}

void RoutingInfoImpl::UnsetTarnosDefaultGateway() {
    const Ipv4Address previous = GetTarnosDefaultGateway();
    SetTarnosDefaultGatewayInternal(Ipv4Address());
    if (IsBootMode()) return;
    RecordOrUndo(
        [&](ConfigBranchUtil& route) {
            route.Remove("gateway");
            route.SetValue("source", std::string("MANUAL"));
        },
        [&] { SetKernelGateway(previous); });
}

std::string RoutingInfoImpl::GetTarnosIpv4DefaultGatewayInterface() {
    KsiIpv4Gateway v4{};
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_v4_gateway);
    si.SetThrowOnError(false);
    si.SetInstance(_key);
    if (si.Get(&v4, sizeof v4) != TARN_OK || v4.address == 0) return "";
    return Field(v4.interface, sizeof v4.interface);
}

std::string RoutingInfoImpl::GetConsoleDefaultGatewayDevice() { return GetTarnosIpv4DefaultGatewayInterface(); }

// ---- IPv6 default gateway -------------------------------------------------------------------

Ipv6Address RoutingInfoImpl::GetIpv6TarnosDefaultGateway() {
    RequireIpv6();
    Refresh();
    return _v6gateway;
}

Ipv6Address RoutingInfoImpl::GetIpv6TarnosConfigDefaultGateway() {
    RequireIpv6();
    std::string text = ReadConfigValue("v6gateway");
    return text.empty() ? Ipv6Address() : Ipv6Address(text);
}

void RoutingInfoImpl::SetIpv6TarnosDefaultGatewayInternal(const Ipv6Address& gw) {
    RequireIpv6();
    WriteCheckedGateway(gw, KSI_NODE_net_tcpip_instances_v6_gateway, "IPv6 ");
    _v6gateway = gw;
}

void RoutingInfoImpl::SetIpv6TarnosDefaultGateway(const Ipv6Address& gw) {
    const Ipv6Address previous = GetIpv6TarnosDefaultGateway();
    SetIpv6TarnosDefaultGatewayInternal(gw);
    if (IsBootMode()) return;
    RecordOrUndo(
        [&](ConfigBranchUtil& route) {
            if (gw.IsAllzeroAddress())
                route.Remove("v6gateway");
            else
                route.SetValue("v6gateway", gw.GetStringAddress());
        },
        [&] {
            KernelSet(KSI_NODE_net_tcpip_instances_v6_gateway, _key, {previous.GetStringAddress()});
            _v6gateway = previous;
        });
}

void RoutingInfoImpl::UnsetIpv6TarnosDefaultGateway() { SetIpv6TarnosDefaultGateway(Ipv6Address()); }

std::string RoutingInfoImpl::GetTarnosIpv6DefaultGatewayInterface() {
    KsiIpv6Gateway v6{};
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_v6_gateway);
    si.SetThrowOnError(false);
    si.SetInstance(_key);
    if (si.Get(&v6, sizeof v6) != TARN_OK) return "";
    return Field(v6.interface, sizeof v6.interface);
}

// ---- Static routes -------------------------------------------------------------------------

void RoutingInfoImpl::AddTarnosRouteInternal(const Ipv4Network& net, const Ipv4Address& gw) {
    CheckNetwork(net);
    KernelRoute(true, net, gw);
}

void RoutingInfoImpl::KernelRoute(bool add, const Ipv4Network& net, const Ipv4Address& gw) {
    TARN_ReturnStatus status =
        KernelSet(KSI_NODE_net_tcpip_instances_v4_route, _key,
                  {add ? "add" : "del", net.GetNetwork().GetStringAddress(), net.GetNetmask().GetStringAddress(),
                   gw.GetStringAddress()});
    CheckRouteStatus(status, add, net.GetStringAddress(), gw.GetStringAddress());
}

void RoutingInfoImpl::AddTarnosRoute(const Ipv4Network& net, const Ipv4Address& gw) {
    if (IsDefaultRoute(net)) {
        SetTarnosDefaultGateway(gw, false);
        return;
    }
    AddRecordedRoute(net, gw, "routes");
}

template <typename Network, typename Address>
void RoutingInfoImpl::AddRecordedRoute(const Network& net, const Address& gw, const std::string& list) {
    if (!HasLocalRouteToAddress(gw))
        throw HostCtlException("Unable to route to gateway address " + gw.GetStringAddress() +
                               " no route to that subnet exists");
    CheckNetwork(net);
    KernelRoute(true, net, gw);
    if (IsBootMode()) return;
    RecordOrUndo([&](ConfigBranchUtil& route) { RecordChild(route, list, net.GetStringAddress(), gw.GetStringAddress()); },
                 [&] { KernelRoute(false, net, gw); });
}

void RoutingInfoImpl::RemoveTarnosRoute(const Ipv4Network& net, const Ipv4Address& gw) {
    if (IsDefaultRoute(net)) {
        if (!(GetTarnosDefaultGateway() == gw) || gw.IsAllzeroAddress())
            throw HostCtlException("Unable to find route " + net.GetStringAddress() + " with gateway " +
                                   gw.GetStringAddress());
        UnsetTarnosDefaultGateway();
        return;
    }
    CheckNetwork(net);
    for (const KernelNicAddresses& nic : GetKernelNicAddressSource().ListKernelNicAddresses(_key)) {
        if (nic.ipv4.IsAllzeroAddress() || !nic.netmask.IsValidNetmask()) continue;
        uint32_t mask = nic.netmask.GetBinaryAddress();
        if (mask == net.GetNetmask().GetBinaryAddress() &&
            (nic.ipv4.GetBinaryAddress() & mask) == net.GetNetwork().GetBinaryAddress())
            throw HostCtlException("Unable to delete route to " + net.GetStringAddress() +
                                   " this route is automatically created based on the  IP address and netmask of "
                                   "one of the Tarnos TCP/IP  interfaces");
    }
    KernelRoute(false, net, gw);
    if (IsBootMode()) return;
    RecordOrUndo([&](ConfigBranchUtil& route) { RemoveChild(route, "routes", net.GetStringAddress()); },
                 [&] { KernelRoute(true, net, gw); });
}

void RoutingInfoImpl::AddIpv6TarnosRouteInternal(const Ipv6Network& net, const Ipv6Address& gw) {
    CheckNetwork(net);
    KernelRoute(true, net, gw);
}

void RoutingInfoImpl::KernelRoute(bool add, const Ipv6Network& net, const Ipv6Address& gw) {
    const int64_t prefix = net.GetNetmask();
    TARN_ReturnStatus status =
        KernelSet(KSI_NODE_net_tcpip_instances_v6_route, _key,
                  {add ? "add" : "del", net.GetAddress().GetStringAddress(), gw.GetStringAddress()}, &prefix, 2);
    CheckRouteStatus(status, add, net.GetStringAddress(), gw.GetStringAddress());
}

void RoutingInfoImpl::AddIpv6TarnosRoute(const Ipv6Network& net, const Ipv6Address& gw) {
    RequireIpv6();
    if (net.GetNetmask() == 0 && net.GetAddress().IsAllzeroAddress()) {
        SetIpv6TarnosDefaultGateway(gw);
        return;
    }
    AddRecordedRoute(net, gw, "v6routes");
}

void RoutingInfoImpl::RemoveIpv6TarnosRoute(const Ipv6Network& net, const Ipv6Address& gw) {
    RequireIpv6();
    if (net.GetNetmask() == 0 && net.GetAddress().IsAllzeroAddress()) {
        if (!(GetIpv6TarnosDefaultGateway() == gw) || gw.IsAllzeroAddress())
            throw HostCtlException("Unable to find route " + net.GetStringAddress() + " with gateway " +
                                   gw.GetStringAddress());
        UnsetIpv6TarnosDefaultGateway();
        return;
    }
    CheckNetwork(net);
    for (const KernelNicAddresses& nic : GetKernelNicAddressSource().ListKernelNicAddresses(_key))
        for (const Ipv6Network& own : nic.ipv6)
            if (own.GetNetmask() == net.GetNetmask() &&
                Masked(own.GetAddress(), own.GetNetmask()).GetStringAddress() == net.GetAddress().GetStringAddress())
                throw HostCtlException("Unable to delete route to " + net.GetStringAddress() +
                                       " this route is automatically created based on the  IP address and netmask "
                                       "of one of the Tarnos TCP/IP  interfaces");
    KernelRoute(false, net, gw);
    if (IsBootMode()) return;
    RecordOrUndo([&](ConfigBranchUtil& route) { RemoveChild(route, "v6routes", net.GetStringAddress()); },
                 [&] { KernelRoute(true, net, gw); });
}

// ---- Listing -------------------------------------------------------------------------------

void RoutingInfoImpl::SortRoutesByNetmask(std::vector<Ipv4Route>& routes) {
    auto prefix = [](const Ipv4Route& r) { return Ipv4Network::NumberFromNetmask(r.network.GetNetmask()); };
    std::stable_sort(routes.begin(), routes.end(), [&](const Ipv4Route& a, const Ipv4Route& b) {
        unsigned pa = prefix(a), pb = prefix(b);
        if (pa != pb) return pa < pb;
        return ntohl(a.network.GetNetwork().GetBinaryAddress()) < ntohl(b.network.GetNetwork().GetBinaryAddress());
    });
}

void RoutingInfoImpl::SortV6RoutesByNetmask(std::vector<Ipv6Route>& routes) {
    std::stable_sort(routes.begin(), routes.end(), [](const Ipv6Route& a, const Ipv6Route& b) {
        if (a.network.GetNetmask() != b.network.GetNetmask()) return a.network.GetNetmask() < b.network.GetNetmask();
        Ipv6_addr x = a.network.GetAddress().GetBinaryAddress(), y = b.network.GetAddress().GetBinaryAddress();
        return std::memcmp(&x, &y, sizeof x) < 0;
    });
}

// Every record of a per-netstack listing node, with its key; records that do
// not read (or that `usable` refuses) are logged and left out.
template <typename Rec>
std::vector<std::pair<std::string, Rec>> RoutingInfoImpl::ReadRecords(uint32_t node, const std::string& what,
                                                                         const std::function<bool(const Rec&)>& usable) {
    std::vector<std::string> keys;
    KernelStep("Unable to list the " + what + " of netstack instance " + _key, [&] {
        Util::Sysinfo si(node);
        si.SetInstance(_key);
        si.List(keys);
    });
    std::vector<std::pair<std::string, Rec>> out;
    out.reserve(keys.size());
    for (const std::string& k : keys) {
        Rec r{};
        Util::Sysinfo si(node);
        si.SetThrowOnError(false);
        si.SetInstance(_key);
        si.AddInstancePath(k);
        if (si.Get(&r, sizeof r) != TARN_OK || !usable(r)) {
            TarnCtl_LogWarnInt("%s: Skipping %s %s of netstack %s\n", kTag, what.c_str(), k.c_str(), _key.c_str());
            continue;
        }
        out.emplace_back(k, r);
    }
    return out;
}

std::vector<Ipv4Route> RoutingInfoImpl::GetCurrentTarnosRoutes(PortsetGetType) {
    std::vector<Ipv4Route> out;
    for (const auto& [k, r] : ReadRecords<KsiIpv4Route>(KSI_NODE_net_tcpip_instances_v4_route, "routes",
                                                        [](const KsiIpv4Route& r) {
                                                            return Ipv4Address(r.netmask).IsValidNetmask();
                                                        }))
        out.push_back({Ipv4Network(r.network, r.netmask), Ipv4Address(r.gateway), Field(r.interface, sizeof r.interface)});
    SortRoutesByNetmask(out);
    return out;
}

std::vector<Ipv6Route> RoutingInfoImpl::GetCurrentIpv6TarnosRoutes(PortsetGetType) {
    RequireIpv6();
    std::vector<Ipv6Route> out;
    for (const auto& [k, r] : ReadRecords<KsiIpv6Route>(KSI_NODE_net_tcpip_instances_v6_route, "IPv6 routes",
                                                        [](const KsiIpv6Route& r) { return r.prefix <= 128; }))
        out.push_back({Ipv6Network(V6(r.network), r.prefix), V6(r.gateway), Field(r.interface, sizeof r.interface)});
    SortV6RoutesByNetmask(out);
    return out;
}

// ---- Neighbours ---------------------------------------------------------------------------

void RoutingInfoImpl::GetCurrentIpv4TarnosNeighbors(std::vector<Ipv4Neighbor>& out, const std::string& interface,
                                                    PortsetGetType) {
    for (const auto& [k, n] : ReadRecords<KsiIpv4Neighbor>(KSI_NODE_net_tcpip_instances_v4_neighbors, "neighbors",
                                                           [](const KsiIpv4Neighbor&) { return true; })) {
        std::string nic = Field(n.interface, sizeof n.interface);
        if (interface.empty() || nic == interface) out.push_back({Ipv4Address(n.address), MacAddress(n.mac), nic, n.type});
    }
}

void RoutingInfoImpl::GetCurrentIpv6TarnosNeighbors(std::vector<Ipv6Neighbor>& out, const std::string& interface,
                                                    PortsetGetType) {
    RequireIpv6();
    for (const auto& [k, n] : ReadRecords<KsiIpv6Neighbor>(KSI_NODE_net_tcpip_instances_v6_neighbors,
                                                           "IPv6 neighbors", [](const KsiIpv6Neighbor&) { return true; })) {
        std::string nic = Field(n.interface, sizeof n.interface);
        if (interface.empty() || nic == interface)
            out.push_back({V6(n.address), MacAddress(n.mac), nic, n.type, n.state});
    }
}

void RoutingInfoImpl::RemoveNeighbor(uint32_t node, const std::string& text) {
    TARN_ReturnStatus status = KernelSet(node, _key, {"del", text});
    if (status == TARN_NOT_FOUND) throw SysinfoException("Unable to find neighbor " + text, status);
    if (status != TARN_OK)
        throw SysinfoException("Unable to remove neighbor " + text + HostCtl::Lib::StatusTail(status), status);
}

void RoutingInfoImpl::RemoveIpv4Neighbor(const Ipv4Neighbor& neighbor) {
    RemoveNeighbor(KSI_NODE_net_tcpip_instances_v4_neighbors, neighbor.address.GetStringAddress());
}

void RoutingInfoImpl::RemoveIpv6Neighbor(const Ipv6Neighbor& neighbor) {
    RequireIpv6();
    RemoveNeighbor(KSI_NODE_net_tcpip_instances_v6_neighbors, neighbor.address.GetStringAddress());
}

void RoutingInfoImpl::ClearNeighbors(bool ipv6) {
    if (ipv6) RequireIpv6();
    TARN_ReturnStatus status = KernelSet(
        ipv6 ? KSI_NODE_net_tcpip_instances_v6_neighbors : KSI_NODE_net_tcpip_instances_v4_neighbors, _key, {"clear"});
    if (status != TARN_OK)
        throw SysinfoException("Unable to clear the neighbors of netstack instance " + _key +
                                   HostCtl::Lib::StatusTail(status),
                               status);
}

std::string RoutingInfoImpl::GetIpv4NeighborType(uint32_t type) {
    switch (type) {
    case KSI_NEIGHBOR_DYNAMIC: return "Dynamic";
    case KSI_NEIGHBOR_STATIC: return "Static";
    case KSI_NEIGHBOR_LOCAL: return "Local";
    default: return "Unknown";
    }
}

std::string RoutingInfoImpl::GetIpv6NeighborType(uint32_t type) { return GetIpv4NeighborType(type); }

std::string RoutingInfoImpl::GetIpv6NeighborState(uint32_t state) {
    switch (state) {
    case KSI_ND_INCOMPLETE: return "Incomplete";
    case KSI_ND_REACHABLE: return "Reachable";
    case KSI_ND_STALE: return "Stale";
    case KSI_ND_DELAY: return "Delay";
    case KSI_ND_PROBE: return "Probe";
    default: return "Unknown";
    }
}

// ---- Boot, reload and removal ------------------------------------------------------------

void RoutingInfoImpl::LoadConfig() {
    TarnCtl_LogInfoInt("%s: LoadConfig called on RoutingInfo\n", kTag);
    struct Entry {
        std::string network, gateway;
    };
    std::string gateway, v6gateway, source;
    std::vector<Entry> routes, v6routes;
    {
        SynchronizedConfigFileUtil config({kNetstacksRoot});
        ConfigBranchUtil entry = NetstackConfigEntry(config.GetFile(), _key, false);
        if (!entry || !entry.HasBranch("route")) return;
        ConfigBranchUtil route = entry.GetBranch("route");
        route.GetValue("source", &source);
        route.GetValue(source == "DHCP" ? "effectgateway" : "gateway", &gateway);
        route.GetValue("v6gateway", &v6gateway);
        auto read = [&](const char* array, std::vector<Entry>& out) {
            if (!route.HasBranch(std::string(array).substr(0, std::string(array).find('/')))) return;
            for (ConfigBranchUtil child : route.GetArray(array).GetInstances()) {
                Entry e;
                bool ok = true;
                for (const char* key : {"network", "gateway"}) {
                    if (!child.GetValue(key, key[0] == 'n' ? &e.network : &e.gateway)) {
                        TarnCtl_LogWarnInt("%s: Missing configuration data: %s\n", kTag, key);
                        ok = false;
                    }
                }
                if (ok) {
                    out.push_back(e);
                } else {
                    TarnCtl_LogWarnInt("%s: Found Bad Route, Skipping.\n", kTag);
                }
            }
        };
        read("routes/child", routes);
        read("v6routes/child", v6routes);
    }
    auto attempt = [&](const char* what, const std::string& item, const std::function<void()>& step) {
        try {
            step();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to restore Tarnos %s (%s) :%s\n", kTag, what, item.c_str(), e.what());
        }
    };
    if (!gateway.empty())
        attempt("default gateway", gateway, [&] { SetTarnosDefaultGatewayInternal(Ipv4Address(gateway)); });
    // An entry whose texts are not a network and an address is bad; one the kernel refuses is logged as such.
    for (const Entry& r : routes) {
        std::optional<Ipv4Network> net;
        std::optional<Ipv4Address> gw;
        try {
            net.emplace(r.network);
            gw.emplace(r.gateway);
        } catch (const std::exception&) {
            TarnCtl_LogWarnInt("%s: Found Bad Route, Skipping.\n", kTag);
            continue;
        }
        attempt("route", r.network, [&] { AddTarnosRouteInternal(*net, *gw); });
    }
    if (!v6gateway.empty())
        attempt("IPv6 default gateway", v6gateway,
                [&] { SetIpv6TarnosDefaultGatewayInternal(Ipv6Address(v6gateway)); });
    for (const Entry& r : v6routes) {
        std::optional<Ipv6Network> net;
        std::optional<Ipv6Address> gw;
        try {
            net.emplace(r.network);
            gw.emplace(r.gateway);
        } catch (const std::exception&) {
            TarnCtl_LogWarnInt("%s: Found Bad Route, Skipping.\n", kTag);
            continue;
        }
        attempt("IPv6 route", r.network, [&] {
            RequireIpv6();
            AddIpv6TarnosRouteInternal(*net, *gw);
        });
    }
}

void RoutingInfoImpl::RemoveConfig(bool write) {
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    ConfigBranchUtil entry = NetstackConfigEntry(config.GetFile(), _key, false);
    if (entry && entry.HasBranch("route")) {
        entry.Remove("route");
        if (write) config->Write();
    }
    TarnCtl_LogInfoInt("%s: Removed routing configuration for netstack %s\n", kTag, _key.c_str());
}

// Every recorded netstack's routes come back after the netstacks and kernel NICs.
void RestoreRoutes() {
    std::vector<std::string> keys;
    {
        SynchronizedConfigFileUtil config({kNetstacksRoot});
        for (auto& entry : config->GetArray(NetstackInstanceImpl::kConfigArray).GetInstances()) {
            std::string key;
            if (entry.GetValue("key", &key)) keys.push_back(key);
        }
    }
    for (const std::string& key : keys) RoutingInfoImpl(key).LoadConfig();
}

namespace {
const Platform::Boot::Step kRoutes("network.routes", 240, RestoreRoutes);
}  // namespace

}  // namespace TarnCtl::Network
