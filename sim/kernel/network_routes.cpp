// The simulated kernel's routing of each netstack: default gateways, static
// routes, the subnet routes the kernel derives from its interfaces' addresses,
// and neighbour tables. The "neighbors" slice of the "network" profile section
// is what the network answers each kernel NIC, by interface name; the entries
// join the netstack's tables when a NIC of that name is plumbed and leave with it:
//   "neighbors": {"tarn0": [{"ip": "192.168.10.1", "mac": "02:00:4c:aa:01:01", "type": "dynamic"},
//                           {"ip": "fd00:10::1", "mac": "02:00:4c:aa:01:01", "state": 2}]}
// Subnet routes and the default route are computed when read, so they follow
// address changes; only static routes and gateways are records.
#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "hostctl/status.h"
#include "ksi/network.h"
#include "network_model.h"

namespace TarnSim::Network {

namespace {

bool Running(const KernelState& s, const std::string& key) {
    return s.Has("", KSI_NODE_net_tcpip_instances_properties, {key});
}

bool ParseV4(const std::string& text, uint32_t* out) { return inet_pton(AF_INET, text.c_str(), out) == 1; }
bool ParseV6(const std::string& text, uint8_t* out) { return inet_pton(AF_INET6, text.c_str(), out) == 1; }

std::string V4Text(uint32_t word) {
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &word, buf, sizeof buf);
    return buf;
}
std::string V6Text(const uint8_t* bytes) {
    char buf[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, bytes, buf, sizeof buf);
    return buf;
}

int PrefixOf(uint32_t netmask) {
    uint32_t h = ntohl(netmask);
    int n = 0;
    while (n < 32 && (h & (0x80000000u >> n))) ++n;
    // Contiguous only.
    return (n == 32 || (h << n) == 0) ? n : -1;
}

void MaskV6(uint8_t* a, unsigned prefix) {
    for (unsigned i = 0; i < 16; ++i) {
        unsigned bits = prefix > i * 8 ? prefix - i * 8 : 0;
        if (bits < 8) a[i] &= static_cast<uint8_t>(0xff << (8 - bits));
    }
}
bool InV6(const uint8_t* addr, const uint8_t* net, unsigned prefix) {
    uint8_t a[16];
    std::memcpy(a, addr, 16);
    MaskV6(a, prefix);
    uint8_t n[16];
    std::memcpy(n, net, 16);
    MaskV6(n, prefix);
    return std::memcmp(a, n, 16) == 0;
}

std::string V4Key(uint32_t network, uint32_t netmask) {
    return V4Text(network) + "/" + std::to_string(PrefixOf(netmask));
}
std::string V6Key(const uint8_t* network, unsigned prefix) { return V6Text(network) + "/" + std::to_string(prefix); }

// ---- Interfaces of a netstack ------------------------------------------------------------

struct V4If {
    std::string name;
    KsiVnicIpv4Address addr;
};
struct V6If {
    std::string name;
    KsiVnicIpv6Address addr;
};

std::vector<std::string> Interfaces(const KernelState& s, const std::string& key) {
    return s.Instances("", KSI_NODE_net_tcpip_instances_vNics_properties, {key});
}

std::vector<V4If> V4Interfaces(const KernelState& s, const std::string& key) {
    std::vector<V4If> out;
    for (const std::string& nic : Interfaces(s, key)) {
        V4If i{nic, {}};
        if (s.Read(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {key, nic}, &i.addr) && i.addr.address != 0)
            out.push_back(i);
    }
    return out;
}

std::vector<V6If> V6Interfaces(const KernelState& s, const std::string& key) {
    std::vector<V6If> out;
    for (const std::string& nic : Interfaces(s, key))
        for (const std::string& idx : s.Instances("", KSI_NODE_net_tcpip_instances_vNics_v6_addresses, {key, nic})) {
            V6If i{nic, {}};
            if (s.Read(KSI_NODE_net_tcpip_instances_vNics_v6_addresses, {key, nic, idx}, &i.addr)) out.push_back(i);
        }
    return out;
}

bool IsLinkLocal(const uint8_t* a) { return a[0] == 0xfe && (a[1] & 0xc0) == 0x80; }

// The interface whose network holds `gw`, or "".
std::string V4Reaching(const KernelState& s, const std::string& key, uint32_t gw) {
    for (const V4If& i : V4Interfaces(s, key))
        if ((i.addr.address & i.addr.netmask) == (gw & i.addr.netmask)) return i.name;
    return "";
}
std::string V6Reaching(const KernelState& s, const std::string& key, const uint8_t* gw) {
    // Every IPv6 interface has a link-local address, so a link-local gateway is on its link.
    for (const V6If& i : V6Interfaces(s, key))
        if (IsLinkLocal(gw) || InV6(gw, i.addr.address, i.addr.prefix)) return i.name;
    return "";
}

// ---- Routes as the kernel lists them --------------------------------------------------------

std::vector<std::pair<std::string, KsiIpv4Route>> V4Routes(const KernelState& s, const std::string& key) {
    std::vector<std::pair<std::string, KsiIpv4Route>> out;
    KsiIpv4Gateway gw{};
    if (s.Read(KSI_NODE_net_tcpip_instances_v4_gateway, {key}, &gw) && gw.address != 0) {
        KsiIpv4Route r{};
        r.gateway = gw.address;
        std::memcpy(r.interface, gw.interface, sizeof r.interface);
        r.kind = KSI_ROUTE_DEFAULT;
        out.emplace_back("0.0.0.0/0", r);
    }
    for (const V4If& i : V4Interfaces(s, key)) {
        KsiIpv4Route r{};
        r.network = i.addr.address & i.addr.netmask;
        r.netmask = i.addr.netmask;
        CopyText(r.interface, i.name);
        r.kind = KSI_ROUTE_SUBNET;
        out.emplace_back(V4Key(r.network, r.netmask), r);
    }
    for (const std::string& k : s.Instances("", KSI_NODE_net_tcpip_instances_v4_route, {key})) {
        KsiIpv4Route r{};
        if (s.Read(KSI_NODE_net_tcpip_instances_v4_route, {key, k}, &r)) out.emplace_back(k, r);
    }
    return out;
}

std::vector<std::pair<std::string, KsiIpv6Route>> V6Routes(const KernelState& s, const std::string& key) {
    std::vector<std::pair<std::string, KsiIpv6Route>> out;
    KsiIpv6Gateway gw{};
    static const uint8_t zero[16] = {};
    if (s.Read(KSI_NODE_net_tcpip_instances_v6_gateway, {key}, &gw) && std::memcmp(gw.address, zero, 16) != 0) {
        KsiIpv6Route r{};
        std::memcpy(r.gateway, gw.address, 16);
        std::memcpy(r.interface, gw.interface, sizeof r.interface);
        r.kind = KSI_ROUTE_DEFAULT;
        out.emplace_back("::/0", r);
    }
    for (const V6If& i : V6Interfaces(s, key)) {
        if (IsLinkLocal(i.addr.address)) continue;
        KsiIpv6Route r{};
        std::memcpy(r.network, i.addr.address, 16);
        MaskV6(r.network, i.addr.prefix);
        r.prefix = i.addr.prefix;
        CopyText(r.interface, i.name);
        r.kind = KSI_ROUTE_SUBNET;
        out.emplace_back(V6Key(r.network, r.prefix), r);
    }
    for (const std::string& k : s.Instances("", KSI_NODE_net_tcpip_instances_v6_route, {key})) {
        KsiIpv6Route r{};
        if (s.Read(KSI_NODE_net_tcpip_instances_v6_route, {key, k}, &r)) out.emplace_back(k, r);
    }
    return out;
}

template <typename R>
TARN_ReturnStatus ListRoutes(const std::vector<std::pair<std::string, R>>& routes, std::vector<std::string>* out) {
    for (const auto& [k, r] : routes) out->push_back(k);
    return TARN_OK;
}

template <typename R>
TARN_ReturnStatus GetRoute(const std::vector<std::pair<std::string, R>>& routes, const std::string& key, void* buf,
                           unsigned len) {
    for (const auto& [k, r] : routes)
        if (k == key) {
            std::memset(buf, 0, len);
            std::memcpy(buf, &r, len < sizeof r ? len : sizeof r);
            return TARN_OK;
        }
    return TARN_NOT_FOUND;
}

// ---- Setters --------------------------------------------------------------------------------

TARN_ReturnStatus SetV4Gateway(Call& c) {
    if (c.instance.size() != 1 || !Running(c.state, c.instance[0])) return TARN_NOT_FOUND;
    std::string text;
    KsiIpv4Gateway gw{};
    if (!c.InputText(0, &text)) return TARN_MISSING_PARAMETER;
    if (!ParseV4(text, &gw.address)) return TARN_BAD_PARAM;
    if (gw.address != 0) {
        std::string nic = V4Reaching(c.state, c.instance[0], gw.address);
        if (nic.empty()) return TARN_BAD_PARAM;
        CopyText(gw.interface, nic);
    }
    c.state.Put(KSI_NODE_net_tcpip_instances_v4_gateway, c.instance, gw);
    return TARN_OK;
}

TARN_ReturnStatus SetV6Gateway(Call& c) {
    if (c.instance.size() != 1 || !Running(c.state, c.instance[0])) return TARN_NOT_FOUND;
    KsiTcpipInstanceProps p{};
    c.state.Read(KSI_NODE_net_tcpip_instances_properties, c.instance, &p);
    if (!p.ipv6Enabled) return TARN_NOT_SUPPORTED;
    std::string text;
    KsiIpv6Gateway gw{};
    if (!c.InputText(0, &text)) return TARN_MISSING_PARAMETER;
    if (!ParseV6(text, gw.address)) return TARN_BAD_PARAM;
    static const uint8_t zero[16] = {};
    if (std::memcmp(gw.address, zero, 16) != 0) {
        std::string nic = V6Reaching(c.state, c.instance[0], gw.address);
        if (nic.empty()) return TARN_BAD_PARAM;
        CopyText(gw.interface, nic);
    }
    c.state.Put(KSI_NODE_net_tcpip_instances_v6_gateway, c.instance, gw);
    return TARN_OK;
}

TARN_ReturnStatus SetV4Route(Call& c) {
    if (c.instance.size() != 1 || !Running(c.state, c.instance[0])) return TARN_NOT_FOUND;
    const std::string& key = c.instance[0];
    std::string op, net, mask, gwText;
    if (!c.InputText(0, &op) || !c.InputText(1, &net) || !c.InputText(2, &mask) || !c.InputText(3, &gwText))
        return TARN_MISSING_PARAMETER;
    KsiIpv4Route r{};
    if (!ParseV4(net, &r.network) || !ParseV4(mask, &r.netmask) || !ParseV4(gwText, &r.gateway)) return TARN_BAD_PARAM;
    int prefix = PrefixOf(r.netmask);
    if (prefix <= 0 || (r.network & ~r.netmask) != 0) return TARN_BAD_PARAM;
    std::string routeKey = V4Key(r.network, r.netmask);
    if (op == "add") {
        for (const auto& [k, existing] : V4Routes(c.state, key))
            if (k == routeKey) return TARN_EXISTS;
        CopyText(r.interface, V4Reaching(c.state, key, r.gateway));
        r.kind = KSI_ROUTE_STATIC;
        c.state.Put(KSI_NODE_net_tcpip_instances_v4_route, {key, routeKey}, r);
        return TARN_OK;
    }
    if (op != "del") return TARN_BAD_PARAM;
    KsiIpv4Route existing{};
    if (!c.state.Read(KSI_NODE_net_tcpip_instances_v4_route, {key, routeKey}, &existing)) {
        for (const auto& [k, derived] : V4Routes(c.state, key))
            if (k == routeKey && derived.kind == KSI_ROUTE_SUBNET) return TARN_NO_PERMISSION;
        return TARN_NOT_FOUND;
    }
    if (existing.gateway != r.gateway) return TARN_NOT_FOUND;
    c.state.Remove("", KSI_NODE_net_tcpip_instances_v4_route, {key, routeKey});
    return TARN_OK;
}

TARN_ReturnStatus SetV6Route(Call& c) {
    if (c.instance.size() != 1 || !Running(c.state, c.instance[0])) return TARN_NOT_FOUND;
    const std::string& key = c.instance[0];
    std::string op, net, gwText;
    int64_t prefix = -1;
    if (!c.InputText(0, &op) || !c.InputText(1, &net) || !c.InputInt(2, &prefix) || !c.InputText(3, &gwText))
        return TARN_MISSING_PARAMETER;
    KsiIpv6Route r{};
    if (!ParseV6(net, r.network) || !ParseV6(gwText, r.gateway) || prefix <= 0 || prefix > 128) return TARN_BAD_PARAM;
    r.prefix = static_cast<uint32_t>(prefix);
    uint8_t masked[16];
    std::memcpy(masked, r.network, 16);
    MaskV6(masked, r.prefix);
    if (std::memcmp(masked, r.network, 16) != 0) return TARN_BAD_PARAM;
    std::string routeKey = V6Key(r.network, r.prefix);
    if (op == "add") {
        for (const auto& [k, existing] : V6Routes(c.state, key))
            if (k == routeKey) return TARN_EXISTS;
        CopyText(r.interface, V6Reaching(c.state, key, r.gateway));
        r.kind = KSI_ROUTE_STATIC;
        c.state.Put(KSI_NODE_net_tcpip_instances_v6_route, {key, routeKey}, r);
        return TARN_OK;
    }
    if (op != "del") return TARN_BAD_PARAM;
    KsiIpv6Route existing{};
    if (!c.state.Read(KSI_NODE_net_tcpip_instances_v6_route, {key, routeKey}, &existing)) {
        for (const auto& [k, derived] : V6Routes(c.state, key))
            if (k == routeKey && derived.kind == KSI_ROUTE_SUBNET) return TARN_NO_PERMISSION;
        return TARN_NOT_FOUND;
    }
    if (std::memcmp(existing.gateway, r.gateway, 16) != 0) return TARN_NOT_FOUND;
    c.state.Remove("", KSI_NODE_net_tcpip_instances_v6_route, {key, routeKey});
    return TARN_OK;
}

// "del" ADDRESS or "clear" on one neighbour node.
TARN_ReturnStatus SetNeighbors(Call& c, uint32_t node, bool v6) {
    if (c.instance.size() != 1 || !Running(c.state, c.instance[0])) return TARN_NOT_FOUND;
    std::string op, address;
    if (!c.InputText(0, &op)) return TARN_MISSING_PARAMETER;
    if (op == "clear") {
        for (const std::string& a : c.state.Instances("", node, c.instance))
            c.state.Remove("", node, {c.instance[0], a});
        return TARN_OK;
    }
    if (op != "del") return TARN_BAD_PARAM;
    if (!c.InputText(1, &address)) return TARN_MISSING_PARAMETER;
    uint8_t bin[16];
    if (!(v6 ? ParseV6(address, bin) : ParseV4(address, reinterpret_cast<uint32_t*>(bin)))) return TARN_BAD_PARAM;
    std::string canonical = v6 ? V6Text(bin) : V4Text(*reinterpret_cast<uint32_t*>(bin));
    return c.state.Remove("", node, {c.instance[0], canonical}) ? TARN_OK : TARN_NOT_FOUND;
}

NodeHandler RouteHandler(bool v6) {
    NodeHandler h;
    h.set = v6 ? SetHandler(SetV6Route).set : SetHandler(SetV4Route).set;
    h.list = [v6](Call& c, std::vector<std::string>* out) -> TARN_ReturnStatus {
        if (c.instance.size() != 1 || !Running(c.state, c.instance[0])) return TARN_NOT_FOUND;
        return v6 ? ListRoutes(V6Routes(c.state, c.instance[0]), out) : ListRoutes(V4Routes(c.state, c.instance[0]), out);
    };
    h.get = [v6](Call& c, void* buf, unsigned len) -> TARN_ReturnStatus {
        if (c.instance.size() != 2) return TARN_BAD_PARAM;
        return v6 ? GetRoute(V6Routes(c.state, c.instance[0]), c.instance[1], buf, len)
                  : GetRoute(V4Routes(c.state, c.instance[0]), c.instance[1], buf, len);
    };
    return h;
}

const NodeRegistration kV4Gateway(KSI_NODE_net_tcpip_instances_v4_gateway, SetHandler(SetV4Gateway));
const NodeRegistration kV6Gateway(KSI_NODE_net_tcpip_instances_v6_gateway, SetHandler(SetV6Gateway));
const NodeRegistration kV4Route(KSI_NODE_net_tcpip_instances_v4_route, RouteHandler(false));
const NodeRegistration kV6Route(KSI_NODE_net_tcpip_instances_v6_route, RouteHandler(true));
const NodeRegistration kV4Neighbors(KSI_NODE_net_tcpip_instances_v4_neighbors, SetHandler([](Call& c) {
                                        return SetNeighbors(c, KSI_NODE_net_tcpip_instances_v4_neighbors, false);
                                    }));
const NodeRegistration kV6Neighbors(KSI_NODE_net_tcpip_instances_v6_neighbors, SetHandler([](Call& c) {
                                        return SetNeighbors(c, KSI_NODE_net_tcpip_instances_v6_neighbors, true);
                                    }));

// ---- Profile slice -------------------------------------------------------------------------

bool ParseMac(const std::string& text, uint8_t* out) {
    unsigned v[6];
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(v[i]);
    return true;
}

uint32_t NeighborType(const std::string& text) {
    if (text == "static") return KSI_NEIGHBOR_STATIC;
    if (text == "local") return KSI_NEIGHBOR_LOCAL;
    return KSI_NEIGHBOR_DYNAMIC;
}

void AddNeighbors(KernelState& s, const std::string& key, const std::string& nic, const rapidjson::Value& list) {
    for (const auto& n : list.GetArray()) {
        if (!n.IsObject()) continue;
        std::string ip = Str(n, "ip");
        uint8_t mac[6] = {};
        if (!ParseMac(Str(n, "mac"), mac)) continue;
        uint32_t v4 = 0;
        if (ParseV4(ip, &v4)) {
            KsiIpv4Neighbor e{};
            e.address = v4;
            std::memcpy(e.mac, mac, 6);
            CopyText(e.interface, nic);
            e.type = NeighborType(Str(n, "type"));
            s.Put(KSI_NODE_net_tcpip_instances_v4_neighbors, {key, V4Text(v4)}, e);
            continue;
        }
        KsiIpv6Neighbor e{};
        if (!ParseV6(ip, e.address)) continue;
        std::memcpy(e.mac, mac, 6);
        CopyText(e.interface, nic);
        e.type = NeighborType(Str(n, "type"));
        e.state = static_cast<uint32_t>(Int(n, "state", KSI_ND_REACHABLE));
        s.Put(KSI_NODE_net_tcpip_instances_v6_neighbors, {key, V6Text(e.address)}, e);
    }
}

const char* kNeighborArea = "network.neighbors";

void InitNeighbors(KernelState& s, const rapidjson::Value* network) {
    const rapidjson::Value* byNic = network ? Object(*network, "neighbors") : nullptr;
    if (!byNic) {
        s.RemoveAreaValue(kNeighborArea, "config");
        return;
    }
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    byNic->Accept(w);
    s.SetAreaValue(kNeighborArea, "config", buf.GetString());
}

// Kernel NICs plug into netstacks, which start at order 10.
const SectionPartRegistration kPart("neighbors", 40, InitNeighbors);

}  // namespace

void PlumbNeighbors(KernelState& s, const std::string& key, const std::string& nic) {
    rapidjson::Document d;
    d.Parse(s.GetAreaValue(kNeighborArea, "config", "{}").c_str());
    if (!d.IsObject()) return;
    if (const rapidjson::Value* list = Array(d, nic.c_str())) AddNeighbors(s, key, nic, *list);
}

void UnplumbNeighbors(KernelState& s, const std::string& key, const std::string& nic) {
    for (const std::string& ip : s.Instances("", KSI_NODE_net_tcpip_instances_v4_neighbors, {key})) {
        KsiIpv4Neighbor e{};
        if (s.Read(KSI_NODE_net_tcpip_instances_v4_neighbors, {key, ip}, &e) &&
            FieldText(e.interface, sizeof e.interface) == nic)
            s.Remove("", KSI_NODE_net_tcpip_instances_v4_neighbors, {key, ip});
    }
    for (const std::string& ip : s.Instances("", KSI_NODE_net_tcpip_instances_v6_neighbors, {key})) {
        KsiIpv6Neighbor e{};
        if (s.Read(KSI_NODE_net_tcpip_instances_v6_neighbors, {key, ip}, &e) &&
            FieldText(e.interface, sizeof e.interface) == nic)
            s.Remove("", KSI_NODE_net_tcpip_instances_v6_neighbors, {key, ip});
    }
}

}  // namespace TarnSim::Network
