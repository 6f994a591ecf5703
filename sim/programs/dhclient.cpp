// The simulated DHCP client "/bin/dhclient-uw" and the DHCP servers it talks
// to. A start leases an address from the profile's "dhcp" section for the
// NIC's port group and VLAN, sets it on the kernel NIC, writes the lease file
// and leaves a process with its PID file; a release (-r) drops the address and
// the lease. A server entry with "answer": false (or no entry) answers nobody:
// the client keeps running without an address, as a real one keeps trying.
//
//   "dhcp": {"servers": [{"portgroup": "Management Network", "vlan": 0,
//             "network": "192.168.10.0/24", "first": "192.168.10.100",
//             "last": "192.168.10.199", "gateway": "192.168.10.1",
//             "server": "192.168.10.1", "ipv6Prefix": "fd00:10::/64"}],
//            "poolMemoryMb": 20}
//
// The "dhclient" resource pool's memory (/sched/groups/memAllocationInMB,
// instance "dhclient") is kept here as well: Get one uint32, Set one integer.
#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "hostctl/status.h"
#include "ksi/network.h"
#include "platform/misc.h"
#include "sim/kernel.h"
#include "sim/processes.h"

namespace TarnSim {

namespace {

const char* kArea = "network.dhcp";
const char* kProgram = "/bin/dhclient-uw";

struct Args {
    std::string netstack = "defaultTcpipStack", pidFile, leaseFile, configFile, hostName, ifName;
    bool v6 = false, release = false, stateless = false;
};

bool ParseArgs(const std::vector<std::string>& argv, Args* a) {
    for (size_t i = 1; i < argv.size(); ++i) {
        const std::string& w = argv[i];
        auto next = [&](std::string* out) {
            if (i + 1 >= argv.size()) return false;
            *out = argv[++i];
            return true;
        };
        if (w.rfind("++group=", 0) == 0) {
            size_t at = w.find(",netstack=");
            if (at != std::string::npos) a->netstack = w.substr(at + 10);
        } else if (w == "-pf") {
            if (!next(&a->pidFile)) return false;
        } else if (w == "-lf") {
            if (!next(&a->leaseFile)) return false;
        } else if (w == "-cf") {
            if (!next(&a->configFile)) return false;
        } else if (w == "-hn") {
            if (!next(&a->hostName)) return false;
        } else if (w == "-rt") {
            std::string ignored;
            if (!next(&ignored)) return false;
        } else if (w == "-6") {
            a->v6 = true;
        } else if (w == "-4" || w == "-nw" || w == "-d") {
        } else if (w == "-r") {
            a->release = true;
        } else if (w == "-S") {
            a->stateless = true;
        } else if (!w.empty() && w[0] == '-') {
            return false;
        } else {
            a->ifName = w;
        }
    }
    return !a->ifName.empty() && !a->pidFile.empty();
}

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

uint32_t Host(const std::string& text) {
    uint32_t w = 0;
    inet_pton(AF_INET, text.c_str(), &w);
    return ntohl(w);
}
std::string V4(uint32_t host) {
    uint32_t w = htonl(host);
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &w, buf, sizeof buf);
    return buf;
}

// The server answering a NIC on port group `pg` with VLAN `vlan`, or null.
const rapidjson::Value* FindServer(const rapidjson::Document& d, const std::string& pg, uint32_t vlan) {
    const rapidjson::Value* byVlan = nullptr;
    if (!d.IsObject() || !d.HasMember("servers") || !d["servers"].IsArray()) return nullptr;
    for (const auto& s : d["servers"].GetArray()) {
        if (!s.IsObject()) continue;
        uint32_t v = s.HasMember("vlan") && s["vlan"].IsUint() ? s["vlan"].GetUint() : 0;
        if (v != vlan) continue;
        if (s.HasMember("portgroup") && s["portgroup"].IsString()) {
            if (pg == s["portgroup"].GetString()) return &s;
        } else if (!byVlan) {
            byVlan = &s;
        }
    }
    return byVlan;
}

std::string Str(const rapidjson::Value& o, const char* key) {
    return o.HasMember(key) && o[key].IsString() ? o[key].GetString() : "";
}

// Leases an IPv4 address to the NIC: the lowest free one of the server's range.
bool LeaseV4(KernelState& s, const Args& a, const rapidjson::Value& server, std::string* lease) {
    std::string net = Str(server, "network");
    size_t slash = net.find('/');
    if (slash == std::string::npos) return false;
    int prefix = std::atoi(net.c_str() + slash + 1);
    if (prefix <= 0 || prefix > 30) return false;
    uint32_t mask = prefix == 0 ? 0 : 0xffffffffu << (32 - prefix);
    uint32_t first = Host(Str(server, "first")), last = Host(Str(server, "last"));
    std::vector<uint32_t> taken;
    for (const std::string& key : s.Instances("", KSI_NODE_net_tcpip_instances_properties))
        for (const std::string& nic : s.Instances("", KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {key})) {
            if (key == a.netstack && nic == a.ifName) continue;
            KsiVnicIpv4Address x{};
            if (s.Read(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {key, nic}, &x)) taken.push_back(ntohl(x.address));
        }
    for (uint32_t h = first; h != 0 && h <= last; ++h) {
        if (std::find(taken.begin(), taken.end(), h) != taken.end()) continue;
        KsiVnicIpv4Address addr{htonl(h), htonl(mask)};
        s.Put(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {a.netstack, a.ifName}, addr);
        std::string gw = Str(server, "gateway");
        uint32_t gwWord = gw.empty() ? 0 : htonl(Host(gw));
        s.Put(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, {a.netstack, a.ifName}, gwWord);
        *lease = "lease {\n  interface \"" + a.ifName + "\";\n  fixed-address " + V4(h) + ";\n  option subnet-mask " +
                 V4(mask) + ";\n" + (gw.empty() ? "" : "  option routers " + gw + ";\n") +
                 "  option dhcp-server-identifier " + Str(server, "server") + ";\n}\n";
        return true;
    }
    return false;
}

bool LeaseV6(KernelState& s, const Args& a, const rapidjson::Value& server, std::string* lease) {
    std::string net = Str(server, "ipv6Prefix");
    size_t slash = net.find('/');
    KsiVnicIpv6Address addr{};
    if (slash == std::string::npos || inet_pton(AF_INET6, net.substr(0, slash).c_str(), addr.address) != 1) return false;
    uint8_t on = 0;
    if (!s.Read(KSI_NODE_net_tcpip_instances_vNics_v6_enable, {a.netstack, a.ifName}, &on) || !on) return false;
    // The NIC's number picks the host part, so each NIC keeps its address.
    unsigned n = static_cast<unsigned>(std::atoi(a.ifName.c_str() + a.ifName.find_first_of("0123456789")));
    addr.address[14] = static_cast<uint8_t>((0x100 + n) >> 8);
    addr.address[15] = static_cast<uint8_t>(0x100 + n);
    addr.prefix = 128;
    std::vector<std::string> idx = s.Instances("", KSI_NODE_net_tcpip_instances_vNics_v6_addresses, {a.netstack, a.ifName});
    std::string next = idx.empty() ? "0" : std::to_string(std::atol(idx.back().c_str()) + 1);
    s.Put(KSI_NODE_net_tcpip_instances_vNics_v6_addresses, {a.netstack, a.ifName, next}, addr);
    char buf[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, addr.address, buf, sizeof buf);
    *lease = "lease6 {\n  interface \"" + a.ifName + "\";\n  iaaddr " + buf + ";\n}\n";
    return true;
}

Platform::Exec::Result Run(const Platform::Exec::Invocation& inv, Launch& launch) {
    Args a;
    if (!ParseArgs(inv.argv, &a)) return {2, "", "dhclient-uw: usage error\n"};
    bool plumbed = false;
    std::string lease;
    WithState(
        [&](KernelState& s) {
            KsiVnicProperties p{};
            plumbed = s.Read(KSI_NODE_net_tcpip_instances_vNics_properties, {a.netstack, a.ifName}, &p);
            if (!plumbed) return;
            if (a.release) {
                if (!a.v6) {
                    s.Put(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {a.netstack, a.ifName}, KsiVnicIpv4Address{});
                    s.Put(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, {a.netstack, a.ifName}, uint32_t{0});
                }
                return;
            }
            if (a.stateless) return;
            std::string pg = Text(p.portgroup, sizeof p.portgroup);
            uint32_t vlan = 0;
            for (const char* cls : {KSI_PORTCFG_CLASS, KSI_PORTSET_CLASS_ETHERSWITCH}) {
                KsiPortgroupInfo info{};
                if (s.Read(KSI_PG_CREATE, {cls, pg}, &info)) vlan = info.vlanId;
            }
            rapidjson::Document d;
            d.Parse(s.GetAreaValue(kArea, "config", "{}").c_str());
            const rapidjson::Value* server = FindServer(d, pg, vlan);
            if (!server || (server->HasMember("answer") && (*server)["answer"].IsFalse())) return;
            if (a.v6) LeaseV6(s, a, *server, &lease);
            else LeaseV4(s, a, *server, &lease);
        },
        true);
    if (!plumbed) return {1, "", "dhclient-uw: no such interface " + a.ifName + "\n"};
    if (a.release) {
        if (!a.leaseFile.empty() && HostCtl::Misc::HostFileExists(a.leaseFile))
            HostCtl::Misc::WriteHostFileAtomic(a.leaseFile, "", 0644);
        return {0, "", ""};
    }
    if (!a.leaseFile.empty() && !lease.empty()) HostCtl::Misc::WriteHostFileAtomic(a.leaseFile, lease, 0644);
    launch.start = true;
    launch.pidFile = a.pidFile;
    return {0, "", ""};
}

void InitDhcp(KernelState& s, const rapidjson::Value* section) {
    std::string text = "{}";
    uint32_t pool = 20;
    if (section && section->IsObject()) {
        rapidjson::StringBuffer buf;
        rapidjson::Writer<rapidjson::StringBuffer> w(buf);
        section->Accept(w);
        text = buf.GetString();
        if (section->HasMember("poolMemoryMb") && (*section)["poolMemoryMb"].IsUint())
            pool = (*section)["poolMemoryMb"].GetUint();
    }
    s.SetAreaValue(kArea, "config", text);
    s.Put(KSI_NODE_sched_groups_memAllocationInMB, {"dhclient"}, pool);
}

TARN_ReturnStatus SetPoolMemory(Call& c) {
    int64_t mb = 0;
    if (c.instance.size() != 1 || !c.state.Has("", KSI_NODE_sched_groups_memAllocationInMB, c.instance))
        return TARN_NOT_FOUND;
    if (!c.InputInt(0, &mb) || mb < 0 || mb > 1024 * 1024) return TARN_BAD_PARAM;
    c.state.Put(KSI_NODE_sched_groups_memAllocationInMB, c.instance, static_cast<uint32_t>(mb));
    return TARN_OK;
}

NodeHandler PoolHandler() {
    NodeHandler h;
    h.set = SetPoolMemory;
    return h;
}

const DaemonRegistration kDhclient(kProgram, {Run, nullptr});
const AreaRegistration kArea_({.name = "dhcp", .order = 45, .init = InitDhcp, .generate = nullptr, .options = {}});
const NodeRegistration kPool(KSI_NODE_sched_groups_memAllocationInMB, PoolHandler());

}  // namespace

}  // namespace TarnSim
