// hostctl net ...: network commands. `net address check TEXT` shows how the
// library reads a text as each kind of network address it knows.
#include <CLI/CLI.hpp>

#include <arpa/inet.h>

#include <cstring>
#include <string>
#include <vector>

#include "command.h"
#include "net_group.h"
#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "output.h"

namespace {

using namespace HostCtl::Network;

std::string Ipv4Type(const Ipv4Address& a) {
    uint32_t h = ntohl(a.GetBinaryAddress());
    std::string t;
    if (a.IsAllzeroAddress()) t = "unspecified";
    else if (h == 0xffffffffu) t = "broadcast";
    else if ((h >> 24) == 127) t = "loopback";
    else if (a.IsValidMulticastAddress()) t = "multicast";
    else t = "unicast";
    if (a.IsValidNetmask()) t += ", netmask /" + std::to_string(Ipv4Network::NumberFromNetmask(a));
    return t;
}

const char* Ipv4Scope(const Ipv4Address& a) {
    uint32_t h = ntohl(a.GetBinaryAddress());
    if ((h >> 24) == 127) return "Host";
    if ((h >> 16) == 0xa9fe || (h >> 8) == 0xe00000) return Ipv6Network::Ipv6ScopeLabel(IPV6_SCOPE_LINK_LOCAL);
    if (a.IsAllzeroAddress()) return Ipv6Network::Ipv6ScopeLabel(IPV6_SCOPE_UNKNOWN);
    return Ipv6Network::Ipv6ScopeLabel(IPV6_SCOPE_GLOBAL);
}

// The scope an address has by its own bits (the kernel reports the same codes).
const char* Ipv6ScopeOf(const Ipv6Address& a) {
    Ipv6_addr b = a.GetBinaryAddress();
    const uint8_t* s = b.s6_addr;
    uint32_t code = IPV6_SCOPE_GLOBAL;
    if (a.IsAllzeroAddress() || a.IsLoopbackAddress()) code = IPV6_SCOPE_UNKNOWN;
    else if (s[0] == 0xfe && (s[1] & 0xc0) == 0x80) code = IPV6_SCOPE_LINK_LOCAL;
    else if (s[0] == 0xfe && (s[1] & 0xc0) == 0xc0) code = IPV6_SCOPE_SITE_LOCAL;
    else if (s[0] == 0xff && (s[1] & 0x0f) == 0x2) code = IPV6_SCOPE_LINK_LOCAL;
    else if (s[0] == 0xff && (s[1] & 0x0f) == 0x5) code = IPV6_SCOPE_SITE_LOCAL;
    if (a.IsLoopbackAddress()) return "Host";
    return Ipv6Network::Ipv6ScopeLabel(code);
}

std::string Ipv6Type(const Ipv6Address& a) {
    Ipv6_addr b = a.GetBinaryAddress();
    static const uint8_t mapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};
    std::string t;
    if (a.IsAllzeroAddress()) t = "unspecified";
    else if (a.IsLoopbackAddress()) t = "loopback";
    else if (a.IsValidMulticastAddress()) t = "multicast";
    else if (std::memcmp(b.s6_addr, mapped, 12) == 0) t = "IPv4-mapped";
    else t = "unicast";
    if (a.IsValidNetmask()) t += ", netmask /" + std::to_string(Ipv6Network::NumberFromNetmask(a));
    return t;
}

struct Verdict {
    std::string kind;
    bool accepted = false;
    std::string canonical, zone, scope, type, detail;
};

// Runs one reading; a refusal records the library's own message.
template <typename F>
Verdict Try(const char* kind, F read) {
    Verdict v;
    v.kind = kind;
    try {
        read(v);
        v.accepted = true;
    } catch (const HostCtl::Lib::HostCtlException& e) {
        v = Verdict{};
        v.kind = kind;
        v.detail = e.what();
    }
    return v;
}

std::vector<Verdict> CheckAddress(const std::string& text) {
    std::vector<Verdict> out;
    out.push_back(Try("IPv4 address", [&](Verdict& v) {
        Ipv4Address a(text);
        v.canonical = a.GetStringAddress();
        v.scope = Ipv4Scope(a);
        v.type = Ipv4Type(a);
    }));
    out.push_back(Try("IPv6 address", [&](Verdict& v) {
        Ipv6Address a(text);
        v.canonical = a.GetScopedStringAddress();
        v.zone = a.GetZone().empty() ? "" : a.GetZone().substr(1);
        v.scope = Ipv6ScopeOf(a);
        v.type = Ipv6Type(a);
    }));
    out.push_back(Try("IPv4 network", [&](Verdict& v) {
        Ipv4Network n(text);
        v.canonical = n.GetStringAddress();
        v.scope = Ipv4Scope(n.GetNetwork());
        v.type = "netmask " + n.GetNetmask().GetStringAddress();
        Ipv4Address masked(n.GetNetwork().GetBinaryAddress() & n.GetNetmask().GetBinaryAddress());
        if (!(masked == n.GetNetwork())) v.detail = "host bits set; network " + masked.GetStringAddress();
    }));
    out.push_back(Try("IPv6 network", [&](Verdict& v) {
        Ipv6Network n(text);
        v.canonical = n.GetStringAddress();
        std::string zone = n.GetAddress().GetZone();
        v.zone = zone.empty() ? "" : zone.substr(1);
        v.scope = Ipv6ScopeOf(n.GetAddress());
        v.type = "prefix length " + std::to_string(n.GetNetmask());
        if (!Ipv6Network::IsValidAddressAndNetmask(text))
            v.detail = "not accepted as a configured address/prefix (prefix 1 to 128, no spaces)";
    }));
    out.push_back(Try("MAC address", [&](Verdict& v) {
        MacAddress m(text);
        v.canonical = m.GetStringAddress();
        const unsigned char* b = m.Bytes();
        bool zero = (b[0] | b[1] | b[2] | b[3] | b[4] | b[5]) == 0;
        v.type = zero ? "all-zero" : (b[0] & 1) ? "group" : "unicast";
        v.type += (b[0] & 2) ? ", locally administered" : "";
        if (!m.IsValid()) v.detail = "not usable as a station address";
    }));
    HostAddress h(text);
    Verdict host;
    host.kind = "Host address";
    host.accepted = true;
    host.canonical = h.GetHostName();
    static const char* kinds[] = {"IPv4", "IPv6", "host name"};
    host.type = kinds[h.GetHostAddressType() < 3 ? h.GetHostAddressType() : 2];
    out.push_back(host);
    return out;
}

HostCtlTool::CommandGroup gNet("net", 60, [](CLI::App& app) {
    CLI::App* net = HostCtlTool::NetGroup(app);
    auto* address = net->add_subcommand("address", "Network address texts");
    address->require_subcommand(1);
    auto* check = address->add_subcommand(
        "check", "Read TEXT as every kind of address (IPv4, IPv6 with zone, networks, MAC, host)");
    static std::string text;
    check->add_option("TEXT", text, "The text to read")->required();
    check->callback([] {
        std::vector<Verdict> verdicts = CheckAddress(text);
        HostCtlTool::Table table({"Kind", "Accepted", "Canonical", "Zone", "Scope", "Type", "Detail"});
        table.SetKind("Accepted", HostCtlTool::Table::Kind::Bool);
        bool any = false;
        for (const Verdict& v : verdicts) {
            table.AddRow({v.kind, v.accepted ? "true" : "false", v.canonical, v.zone, v.scope, v.type,
                          v.detail});
            if (v.accepted && v.kind != "Host address") any = true;
        }
        table.Print();
        if (!any) throw HostCtlTool::CommandFailure{"'" + text + "' is not an IP, network or MAC address"};
    });
});

}  // namespace
