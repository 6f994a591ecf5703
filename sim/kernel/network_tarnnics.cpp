// The simulated kernel's own NICs (kernel NICs) on its netstacks: plumbing onto
// a port group (or a distributed port / opaque network, taken as given),
// unplumbing, IPv4 address, mask and gateway, IPv6 enable, router
// advertisements, addresses and gateway, service tags and the MTU / MAC of a
// plumbed NIC. A NIC name is unique across netstacks, as the kernel's
// interface table is one. Records live below {netstack, NIC}, so unplumbing
// removes everything of the NIC at once.
#include <arpa/inet.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "hostctl/status.h"
#include "ksi/network.h"
#include "network_model.h"

namespace TarnSim::Network {

namespace {

const char* const kPortgroupClasses[] = {KSI_PORTCFG_CLASS, KSI_PORTSET_CLASS_ETHERSWITCH};

bool NetstackRuns(const KernelState& s, const std::string& key) {
    return s.Has("", KSI_NODE_net_tcpip_instances_properties, {key});
}

bool Ipv6On(const KernelState& s, const std::string& key) {
    KsiTcpipInstanceProps p{};
    return s.Read(KSI_NODE_net_tcpip_instances_properties, {key}, &p) && p.ipv6Enabled;
}

// The class under which port group `pg` is recorded, or null.
const char* PortgroupClass(const KernelState& s, const std::string& pg) {
    for (const char* cls : kPortgroupClasses)
        if (s.Has("", KSI_PG_CREATE, {cls, pg})) return cls;
    return nullptr;
}

void CountOnPortgroup(KernelState& s, const std::string& pg, int delta) {
    const char* cls = PortgroupClass(s, pg);
    KsiPortgroupInfo info{};
    if (!cls || !s.Read(KSI_PG_CREATE, {cls, pg}, &info)) return;
    if (delta < 0 && info.tarnNics == 0) return;
    info.tarnNics = static_cast<uint32_t>(static_cast<int>(info.tarnNics) + delta);
    s.Put(KSI_PG_CREATE, {cls, pg}, info);
}

// The netstack a NIC is plumbed on, or "".
std::string NetstackOf(const KernelState& s, const std::string& nic) {
    for (const std::string& key : s.Instances("", KSI_NODE_net_tcpip_instances_properties))
        if (s.Has("", KSI_NODE_net_tcpip_instances_vNics_properties, {key, nic})) return key;
    return "";
}

bool Plumbed(const Call& c) {
    return c.instance.size() == 2 &&
           c.state.Has("", KSI_NODE_net_tcpip_instances_vNics_properties, {c.instance[0], c.instance[1]});
}

bool ParseUnsigned(const std::string& text, uint32_t* out) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos || text.size() > 9) return false;
    *out = static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
    return true;
}

bool ParseMac(const std::string& text, uint8_t* out) {
    unsigned v[6];
    char extra = 0;
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x%c", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &extra) != 6)
        return false;
    for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(v[i]);
    return (out[0] & 1) == 0;
}

bool MtuInRange(uint32_t mtu) { return mtu >= 1280 && mtu <= 9190; }

TARN_ReturnStatus Plumb(Call& c) {
    if (c.instance.size() != 1) return TARN_BAD_PARAM;
    const std::string& key = c.instance[0];
    if (!NetstackRuns(c.state, key)) return TARN_NOT_FOUND;
    KsiVnicProperties p{};
    std::string name;
    p.mtu = 1500;
    p.tsoMss = 65535;
    bool haveMac = false;
    for (size_t i = 0; i < c.InputCount(); ++i) {
        std::string text;
        if (!c.InputText(i, &text)) return TARN_BAD_PARAM;
        size_t eq = text.find('=');
        if (eq == std::string::npos) return TARN_BAD_PARAM;
        std::string k = text.substr(0, eq), v = text.substr(eq + 1);
        if (k == "if") {
            name = v;
        } else if (k == "portset") {
            p.connectionType = KSI_VNIC_PORTGROUP;
            CopyText(p.portgroup, v);
        } else if (k == "dvsId" || k == "opqnwid") {
            p.connectionType = k == "dvsId" ? KSI_VNIC_DVPORT : KSI_VNIC_OPAQUE;
            CopyText(p.portgroup, v);
        } else if (k == "portId" || k == "opqnwtype") {
            CopyText(p.port, v);
        } else if (k == "cnId" || k == "extid") {
            CopyText(p.connection, v);
        } else if (k == "macaddr") {
            if (!ParseMac(v, p.mac)) return TARN_BAD_PARAM;
            haveMac = true;
        } else if (k == "tsomss") {
            if (!ParseUnsigned(v, &p.tsoMss)) return TARN_BAD_PARAM;
        } else if (k == "mtu") {
            if (!ParseUnsigned(v, &p.mtu) || !MtuInRange(p.mtu)) return TARN_BAD_PARAM;
        } else if (k == "numRxQueue") {
            if (!ParseUnsigned(v, &p.numRxQueue)) return TARN_BAD_PARAM;
        } else if (k == "rtadv") {
            if (v != "0" && v != "1") return TARN_BAD_PARAM;
            p.rtadv = v == "1";
        } else {
            return TARN_BAD_PARAM;
        }
    }
    if (name.empty() || name.size() >= KSI_TCPIP_IFNAME_LEN || !haveMac || p.connectionType == 0)
        return TARN_MISSING_PARAMETER;
    if (!NetstackOf(c.state, name).empty()) return TARN_EXISTS;
    std::string pg = FieldText(p.portgroup, sizeof p.portgroup);
    // Only standard port groups are modelled; other connections are taken as given.
    if (p.connectionType == KSI_VNIC_PORTGROUP && !PortgroupClass(c.state, pg)) return TARN_NOT_FOUND;
    CopyText(p.name, name);
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_properties, {key, name}, p);
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {key, name}, KsiVnicIpv4Address{});
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, {key, name}, uint32_t{0});
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_tags, {key, name}, KsiVnicTags{});
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_v6_rtadv, {key, name}, uint8_t{p.rtadv});
    if (p.connectionType == KSI_VNIC_PORTGROUP) CountOnPortgroup(c.state, pg, 1);
    PlumbNeighbors(c.state, key, name);
    return TARN_OK;
}

TARN_ReturnStatus Unplumb(Call& c) {
    if (!Plumbed(c)) return TARN_NOT_FOUND;
    KsiVnicProperties p{};
    c.state.Read(KSI_NODE_net_tcpip_instances_vNics_properties, c.instance, &p);
    if (p.connectionType == KSI_VNIC_PORTGROUP) CountOnPortgroup(c.state, FieldText(p.portgroup, sizeof p.portgroup), -1);
    c.state.RemoveBelow("", c.instance);
    UnplumbNeighbors(c.state, c.instance[0], c.instance[1]);
    return TARN_OK;
}

TARN_ReturnStatus SetProperty(Call& c) {
    if (!Plumbed(c)) return TARN_NOT_FOUND;
    std::string text;
    if (!c.InputText(0, &text)) return TARN_MISSING_PARAMETER;
    KsiVnicProperties p{};
    c.state.Read(KSI_NODE_net_tcpip_instances_vNics_properties, c.instance, &p);
    if (text.rfind("mtu=", 0) == 0) {
        if (!ParseUnsigned(text.substr(4), &p.mtu) || !MtuInRange(p.mtu)) return TARN_BAD_PARAM;
    } else if (text.rfind("macaddr=", 0) == 0) {
        if (!ParseMac(text.substr(8), p.mac)) return TARN_BAD_PARAM;
    } else {
        return TARN_BAD_PARAM;
    }
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_properties, c.instance, p);
    return TARN_OK;
}

TARN_ReturnStatus SetIpv4(Call& c) {
    if (!Plumbed(c)) return TARN_NOT_FOUND;
    std::string addr, mask;
    if (!c.InputText(0, &addr) || !c.InputText(1, &mask)) return TARN_MISSING_PARAMETER;
    KsiVnicIpv4Address a{};
    if (inet_pton(AF_INET, addr.c_str(), &a.address) != 1 || inet_pton(AF_INET, mask.c_str(), &a.netmask) != 1)
        return TARN_BAD_PARAM;
    // A netmask is contiguous ones; an address is neither 0 nor multicast.
    uint32_t m = ntohl(a.netmask);
    if (m == 0 || (~m & (~m + 1)) != 0 || a.address == 0 || (ntohl(a.address) >> 28) == 14) return TARN_BAD_PARAM;
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, c.instance, a);
    return TARN_OK;
}

// Address and mask read from the one record both are set through.
GetFn Ipv4Word(bool mask) {
    return [mask](Call& c, void* buffer, unsigned length) {
        KsiVnicIpv4Address a{};
        if (!c.state.Read(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, c.instance, &a)) return TARN_NOT_FOUND;
        uint32_t word = mask ? a.netmask : a.address;
        std::memcpy(buffer, &word, std::min<size_t>(length, sizeof word));
        return TARN_OK;
    };
}

TARN_ReturnStatus Unbind(Call& c) {
    if (!Plumbed(c)) return TARN_NOT_FOUND;
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, c.instance, KsiVnicIpv4Address{});
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, c.instance, uint32_t{0});
    return TARN_OK;
}

TARN_ReturnStatus SetGateway(Call& c) {
    if (!Plumbed(c)) return TARN_NOT_FOUND;
    std::string text;
    uint32_t gw = 0;
    if (!c.InputText(0, &text)) return TARN_MISSING_PARAMETER;
    if (inet_pton(AF_INET, text.c_str(), &gw) != 1) return TARN_BAD_PARAM;
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, c.instance, gw);
    return TARN_OK;
}

SetFn V6Flag(uint32_t node) {
    return [node](Call& c) {
        if (!Plumbed(c)) return TARN_NOT_FOUND;
        int64_t on = 0;
        if (!c.InputInt(0, &on) || (on != 0 && on != 1)) return TARN_BAD_PARAM;
        if (!Ipv6On(c.state, c.instance[0])) return TARN_NOT_SUPPORTED;
        c.state.Put(node, c.instance, static_cast<uint8_t>(on));
        if (node == KSI_NODE_net_tcpip_instances_vNics_v6_enable && !on) {
            for (const std::string& i : c.state.Instances("", KSI_NODE_net_tcpip_instances_vNics_v6_addresses, c.instance))
                c.state.Remove("", KSI_NODE_net_tcpip_instances_vNics_v6_addresses, {c.instance[0], c.instance[1], i});
            c.state.Remove("", KSI_NODE_net_tcpip_instances_vNics_v6_ip6gateway, c.instance);
        }
        return TARN_OK;
    };
}

bool V6Enabled(const Call& c) {
    uint8_t on = 0;
    return c.state.Read(KSI_NODE_net_tcpip_instances_vNics_v6_enable, c.instance, &on) && on;
}

TARN_ReturnStatus SetIpv6Gateway(Call& c) {
    if (!Plumbed(c)) return TARN_NOT_FOUND;
    if (!V6Enabled(c)) return TARN_NOT_SUPPORTED;
    std::string text;
    uint8_t gw[16];
    if (!c.InputText(0, &text)) return TARN_MISSING_PARAMETER;
    if (inet_pton(AF_INET6, text.c_str(), gw) != 1) return TARN_BAD_PARAM;
    c.state.Write("", KSI_NODE_net_tcpip_instances_vNics_v6_ip6gateway, c.instance, gw, sizeof gw);
    return TARN_OK;
}

TARN_ReturnStatus SetIpv6Address(Call& c) {
    if (!Plumbed(c)) return TARN_NOT_FOUND;
    if (!V6Enabled(c)) return TARN_NOT_SUPPORTED;
    std::string op, text;
    int64_t prefix = 0;
    if (!c.InputText(0, &op) || !c.InputText(1, &text) || !c.InputInt(2, &prefix)) return TARN_MISSING_PARAMETER;
    KsiVnicIpv6Address a{};
    if (inet_pton(AF_INET6, text.c_str(), a.address) != 1 || prefix < 1 || prefix > 128) return TARN_BAD_PARAM;
    a.prefix = static_cast<uint32_t>(prefix);
    std::vector<std::string> indexes =
        c.state.Instances("", KSI_NODE_net_tcpip_instances_vNics_v6_addresses, c.instance);
    for (const std::string& i : indexes) {
        KsiVnicIpv6Address have{};
        c.state.Read(KSI_NODE_net_tcpip_instances_vNics_v6_addresses, {c.instance[0], c.instance[1], i}, &have);
        if (std::memcmp(have.address, a.address, 16) != 0) continue;
        if (op != "del") return TARN_EXISTS;
        c.state.Remove("", KSI_NODE_net_tcpip_instances_vNics_v6_addresses, {c.instance[0], c.instance[1], i});
        return TARN_OK;
    }
    if (op == "del") return TARN_NOT_FOUND;
    if (op != "add") return TARN_BAD_PARAM;
    long next = indexes.empty() ? 0 : std::atol(indexes.back().c_str()) + 1;
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_v6_addresses, {c.instance[0], c.instance[1], std::to_string(next)}, a);
    return TARN_OK;
}

TARN_ReturnStatus SetTag(Call& c) {
    if (!Plumbed(c)) return TARN_NOT_FOUND;
    std::string op;
    int64_t id = 0;
    if (!c.InputText(0, &op) || !c.InputInt(1, &id)) return TARN_MISSING_PARAMETER;
    if (id < 1 || id > 13 || (op != "ADD" && op != "DEL")) return TARN_BAD_PARAM;
    KsiVnicTags t{};
    c.state.Read(KSI_NODE_net_tcpip_instances_vNics_tags, c.instance, &t);
    uint32_t bit = 1u << (id - 1);
    t.mask = op == "ADD" ? (t.mask | bit) : (t.mask & ~bit);
    c.state.Put(KSI_NODE_net_tcpip_instances_vNics_tags, c.instance, t);
    return TARN_OK;
}

NodeHandler WordGet(GetFn get) {
    NodeHandler h;
    h.get = std::move(get);
    return h;
}
NodeHandler SetAndPlain(SetFn set) {
    NodeHandler h;
    h.set = std::move(set);
    h.setStruct = [](Call&, const void*, unsigned) { return TARN_NOT_SUPPORTED; };
    return h;
}

const NodeRegistration kPlumb(KSI_NODE_net_tcpip_instances_plumb, SetHandler(Plumb));
const NodeRegistration kUnplumb(KSI_NODE_net_tcpip_instances_vNics_unplumb, SetHandler(Unplumb));
const NodeRegistration kProps(KSI_NODE_net_tcpip_instances_vNics_properties, SetAndPlain(SetProperty));
const NodeRegistration kIpMask(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, SetAndPlain(SetIpv4));
const NodeRegistration kIpAddr(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddr, WordGet(Ipv4Word(false)));
const NodeRegistration kNetmask(KSI_NODE_net_tcpip_instances_vNics_v4_netmask, WordGet(Ipv4Word(true)));
const NodeRegistration kGateway(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, SetAndPlain(SetGateway));
const NodeRegistration kUnbind(KSI_NODE_net_tcpip_instances_vNics_unbind, SetHandler(Unbind));
const NodeRegistration kV6Enable(KSI_NODE_net_tcpip_instances_vNics_v6_enable,
                                 SetAndPlain(V6Flag(KSI_NODE_net_tcpip_instances_vNics_v6_enable)));
const NodeRegistration kV6RtAdv(KSI_NODE_net_tcpip_instances_vNics_v6_rtadv,
                                SetAndPlain(V6Flag(KSI_NODE_net_tcpip_instances_vNics_v6_rtadv)));
const NodeRegistration kV6Gateway(KSI_NODE_net_tcpip_instances_vNics_v6_ip6gateway, SetAndPlain(SetIpv6Gateway));
const NodeRegistration kV6Addresses(KSI_NODE_net_tcpip_instances_vNics_v6_addresses, SetAndPlain(SetIpv6Address));
const NodeRegistration kTags(KSI_NODE_net_tcpip_instances_vNics_tags, SetAndPlain(SetTag));

}  // namespace

}  // namespace TarnSim::Network
