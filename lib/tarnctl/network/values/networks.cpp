// IPv4 and IPv6 networks (address plus netmask or prefix length), the IPv4
// route table and the neighbour-discovery summary.
#include <arpa/inet.h>

#include <cstring>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "network/values/text_codec.h"
#include "platform/misc.h"

using HostCtl::Lib::HostCtlException;
namespace V = TarnCtl::Network::Values;

namespace HostCtl::Network {

namespace {

inline unsigned LeadingOnesWord(uint32_t host) {
    return host == 0xffffffffu ? 32 : static_cast<unsigned>(__builtin_clz(~host));
}

}  // namespace

// ---- Ipv4Network -----------------------------------------------------------------

Ipv4Network::~Ipv4Network() = default;

Ipv4Network::Ipv4Network(const Ipv4Address& network, const Ipv4Address& netmask)
    : _network(network), _netmask(netmask) {
    if (!netmask.IsValidNetmask()) throw HostCtlException("Invalid Netmask");
}

Ipv4Network::Ipv4Network(unsigned int network, unsigned int netmask)
    : Ipv4Network(Ipv4Address(network), Ipv4Address(netmask)) {}

Ipv4Network::Ipv4Network(const std::string& text) {
    size_t slash = text.find('/');
    if (slash == std::string::npos) throw HostCtlException("Invalid Network name, not / found");
    unsigned int word;
    if (!Ipv4Address::Parse(text.data(), slash, &word))
        throw HostCtlException("Invalid IP Address " + text.substr(0, slash));
    bool overflow;
    // A prefix too large to read, or no number at all, reads as 0.
    unsigned prefix = V::ReadPrefixNumber(text.data() + slash + 1, text.data() + text.size(), &overflow);
    _netmask = NetmaskFromNumber(prefix);
    _network = Ipv4Address(word);
}

Ipv4Address Ipv4Network::NetmaskFromNumber(unsigned int n) {
    if (n > 32) throw HostCtlException("Invalid netmask, must be 32 > x > 0");
    uint32_t host = n == 0 ? 0 : 0xffffffffu << (32 - n);
    return Ipv4Address(htonl(host));
}

unsigned int Ipv4Network::NumberFromNetmask(const Ipv4Address& mask) {
    if (!mask.IsValidNetmask()) throw HostCtlException("Not a valid netmask");
    return LeadingOnesWord(ntohl(mask.GetBinaryAddress()));
}

void Ipv4Network::SetNetmask(const Ipv4Address& m) {
    if (!m.IsValidNetmask()) throw HostCtlException("Not a valid Netmask");
    _netmask = m;
}

std::string Ipv4Network::GetStringAddress() const {
    return Misc::StrPrintf("%s/%u", _network.GetStringAddress().c_str(), NumberFromNetmask(_netmask));
}

bool Ipv4Network::IsValidNetworkAddress(const Ipv4Address& a) const {
    uint32_t m = _netmask.GetBinaryAddress();
    return (_network.GetBinaryAddress() & m) == (a.GetBinaryAddress() & m);
}

// ---- Ipv6Network -----------------------------------------------------------------

Ipv6Network::~Ipv6Network() = default;

Ipv6Network::Ipv6Network(const Ipv6Address& address, unsigned int prefix)
    : _address(address), _prefix(prefix) {}

Ipv6Network::Ipv6Network(const std::string& text) {
    size_t slash = text.find('/');
    if (slash == std::string::npos || text.find('/', slash + 1) != std::string::npos)
        throw HostCtlException("Invalid IPv6 address, usage <ipv6::>/<prefix-length>");
    Ipv6Address address(text.substr(0, slash));
    bool overflow;
    unsigned prefix = V::ReadPrefixNumber(text.data() + slash + 1, text.data() + text.size(), &overflow);
    // Unlike IPv4, a prefix too large to read is refused rather than read as 0.
    if (overflow || prefix > 128) throw HostCtlException("Invalid Ipv6 Network: " + text);
    Ipv6Network built(address, prefix);
    // A scoped address whose canonical text outgrew 64 characters fails here.
    if (!built.IsValid()) throw HostCtlException("Invalid Ipv6 Network: " + text);
    *this = std::move(built);
}

bool Ipv6Network::IsValidAddressAndNetmask(const std::string& text) {
    size_t slash = text.find('/');
    if (slash == std::string::npos) return false;
    if (!Ipv6Address::IsValidAddress(text.substr(0, slash))) return false;
    const char* p = text.data() + slash + 1;
    const char* end = text.data() + text.size();
    for (const char* q = p; q < end; ++q)
        if (V::IsSpaceChar(*q)) return false;
    bool overflow;
    unsigned n = V::ReadPrefixNumber(p, end, &overflow);
    return !overflow && n >= 1 && n <= 128;
}

Ipv6Address Ipv6Network::NetmaskFromNumber(unsigned int n) {
    if (n > 128) throw HostCtlException("Invalid netmask, must be 128 > x > 0");
    Ipv6_addr bin;
    std::memset(&bin, 0, sizeof bin);
    for (unsigned i = 0; i < 16; ++i) {
        if (n >= 8) {
            bin.s6_addr[i] = 0xff;
            n -= 8;
        } else {
            bin.s6_addr[i] = static_cast<uint8_t>(0xff00u >> n);
            break;
        }
    }
    return Ipv6Address(bin);
}

unsigned int Ipv6Network::NumberFromNetmask(const Ipv6Address& mask) {
    if (!mask.IsValidNetmask()) throw HostCtlException("Not a valid netmask");
    Ipv6_addr bin = mask.GetBinaryAddress();
    unsigned total = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t w;
        std::memcpy(&w, bin.s6_addr + 4 * i, 4);
        total += LeadingOnesWord(ntohl(w));
    }
    return total;
}

const char* Ipv6Network::Ipv6AddressTypeLabel(uint32_t type) {
    switch (type) {
    case IPV6_ADDRESS_STATIC: return "Static";
    case IPV6_ADDRESS_AUTOCONF: return "Autoconf";
    case IPV6_ADDRESS_DHCP: return "DHCP";
    default: return "Unknown";
    }
}

const char* Ipv6Network::Ipv6ScopeLabel(uint32_t scope) {
    switch (scope) {
    case IPV6_SCOPE_LINK_LOCAL: return "Link Local";
    case IPV6_SCOPE_SITE_LOCAL: return "Site Local";
    case IPV6_SCOPE_GLOBAL: return "Global";
    default: return "Unknown";
    }
}

const char* Ipv6Network::Ipv6AddressStatusLabel(uint32_t status) {
    switch (status) {
    case IPV6_STATUS_TENTATIVE: return "TENTATIVE";
    case IPV6_STATUS_DUPLICATED: return "DUPLICATED";
    case IPV6_STATUS_DEPRECATED: return "DEPRECATED";
    default: return "PREFERRED";
    }
}

bool Ipv6Network::IsValid() const { return _address.IsValidAddress() && _prefix <= 128; }

bool Ipv6Network::IsValidNetworkAddress(const Ipv6Address& a) const {
    Ipv6_addr mine = _address.GetBinaryAddress(), other = a.GetBinaryAddress();
    Ipv6_addr mask = NetmaskFromNumber(_prefix).GetBinaryAddress();
    for (int i = 0; i < 16; ++i)
        if ((mine.s6_addr[i] ^ other.s6_addr[i]) & mask.s6_addr[i]) return false;
    return true;
}

void Ipv6Network::SetUseDhcp() {
    _type = IPV6_ADDRESS_DHCP;
    _address = Ipv6Address();
    _prefix = 0;
}

void Ipv6Network::SetUseRouterAdvertised() {
    _type = IPV6_ADDRESS_AUTOCONF;
    _address = Ipv6Address();
    _prefix = 0;
}

std::string Ipv6Network::GetStringAddress() const {
    return Misc::StrPrintf("%s/%u", _address.GetStringAddress().c_str(), _prefix);
}

bool Ipv6Network::operator<(const Ipv6Network& o) const {
    // Deliberately reversed (descending text, then descending prefix).
    int c = o._address.GetStringAddress().compare(_address.GetStringAddress());
    if (c != 0) return c < 0;
    return o._prefix < _prefix;
}

// ---- IpRouting -------------------------------------------------------------------

const Ipv4Network IpRouting::DEFAULT_IPV4_ROUTE(0u, 0u);

IpRouting::~IpRouting() = default;

void IpRouting::AddIpv4Route(const Ipv4Network& net, const Ipv4Address& gw) { _routes[net] = gw; }

void IpRouting::RemoveIpv4Route(const Ipv4Network& net) { _routes.erase(net); }

void IpRouting::SetIpv4Gateway(const Ipv4Address& gw) { AddIpv4Route(DEFAULT_IPV4_ROUTE, gw); }

void IpRouting::UnsetIpv4Gateway() { RemoveIpv4Route(DEFAULT_IPV4_ROUTE); }

Ipv4Address IpRouting::GetIpv4Gateway() {
    auto it = _routes.find(DEFAULT_IPV4_ROUTE);
    return it == _routes.end() ? Ipv4Address() : it->second;
}

// ---- CdpSummary ------------------------------------------------------------------

std::vector<std::pair<std::string, std::string>> CdpSummary::GetPrintFields() const {
    auto u = [](uint64_t v) { return std::to_string(v); };
    return {
        {"Cdp Version", u(cdpVersion)},
        {"Timeout", u(timeout)},
        {"Time-to-live", u(ttl)},
        {"Samples", u(samples)},
        {"Device Id", deviceId},
        {"Ip Address", ipAddress.GetStringAddress()},
        {"Ip Prefix", ipPrefix.GetStringAddress()},
        {"Port Id", portId},
        {"Capabilities", u(capabilities)},
        {"Version", version},
        {"Platform", platform},
        {"Vlan", u(vlan)},
        {"Duplex", fullDuplex ? "true" : "false"},
        {"MTU", u(mtu)},
        {"System Name", systemName},
        {"System OID", systemOid},
        {"Mgmt Ip Address", mgmtIpAddress.GetStringAddress()},
        {"Location", location},
    };
}

}  // namespace HostCtl::Network
