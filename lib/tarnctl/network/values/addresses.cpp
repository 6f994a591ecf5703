// IPv4, IPv6, MAC, host and port addresses: parsing, predicates, comparison
// and text forms.
#include <arpa/inet.h>

#include <cstring>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "network/values/text_codec.h"

using HostCtl::Lib::HostCtlException;
namespace V = TarnCtl::Network::Values;

namespace HostCtl::Network {

namespace {

constexpr size_t kMaxIpv6Text = 64;

// A 32-bit word read from its four bytes in memory as a little-endian integer.
inline uint32_t LittleEndianWeight(uint32_t word) {
    uint8_t b[4];
    std::memcpy(b, &word, 4);
    return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

// A run of ones from the top bit followed only by zeros (host order).
inline bool IsMaskWord(uint32_t host) {
    uint32_t inv = ~host;
    return (inv & (inv + 1)) == 0;
}

// Where the zone suffix begins, or npos. Only the first "%" counts.
inline size_t ZonePos(const std::string& text) { return text.find('%'); }

// The address part of a (possibly scoped) IPv6 text, checked as IsValidAddress does.
bool ParseScopedIpv6(const std::string& text, Ipv6_addr* bin, size_t* zonePos) {
    if (text.size() > kMaxIpv6Text) return false;
    size_t pos = ZonePos(text);
    size_t len = text.size();
    if (pos != std::string::npos) {
        if (pos == text.size() - 1) return false;
        len = pos;
    }
    const char* end = V::CStringEnd(text.data(), len);
    if (!V::ParseIpv6(text.data(), end, bin->s6_addr)) return false;
    *zonePos = pos;
    return true;
}

}  // namespace

IpAddress::~IpAddress() = default;

// ---- Ipv4Address -----------------------------------------------------------------

bool Ipv4Address::Parse(const char* text, size_t length, unsigned int* word) {
    uint8_t b[4];
    if (!V::ParseIpv4(text, V::CStringEnd(text, length), b)) return false;
    std::memcpy(word, b, 4);
    return true;
}

Ipv4Address::Ipv4Address(const std::string& text) {
    if (!V::ParseIpv4Z(text.c_str(), reinterpret_cast<uint8_t*>(&_addr)))
        throw HostCtlException("Invalid IP Address " + text);
}

bool Ipv4Address::IsValidAddress(const std::string& text) {
    uint8_t b[4];
    return V::ParseIpv4Z(text.c_str(), b);
}

std::string Ipv4Address::GetStringAddress() const {
    char buf[16];
    uint8_t b[4];
    std::memcpy(b, &_addr, 4);
    return std::string(buf, V::FormatIpv4(b, buf));
}

bool Ipv4Address::IsValidAddress() const {
    // Every word prints as a dotted quad that parses back; kept as a round trip
    // so the predicate means the same as for IPv6.
    char buf[16];
    uint8_t b[4];
    std::memcpy(b, &_addr, 4);
    size_t n = V::FormatIpv4(b, buf);
    return V::ParseIpv4(buf, buf + n, b);
}

bool Ipv4Address::IsLoopbackAddress() const { return _addr == htonl(0x7f000001u); }

bool Ipv4Address::IsValidNetmask() const { return IsMaskWord(ntohl(_addr)); }

bool Ipv4Address::IsValidMulticastAddress() const {
    uint32_t first = ntohl(_addr) >> 24;
    return first >= 224 && first <= 239;
}

bool Ipv4Address::operator<(const Ipv4Address& o) const {
    return LittleEndianWeight(_addr) < LittleEndianWeight(o._addr);
}

// ---- Ipv6Address -----------------------------------------------------------------

bool Ipv6Address::Parse(const char* text, size_t length, Ipv6_addr* out) {
    return V::ParseIpv6(text, V::CStringEnd(text, length), out->s6_addr);
}

std::string Ipv6Address::Format(const Ipv6_addr& bin) {
    char buf[48];
    return std::string(buf, V::FormatIpv6(bin.s6_addr, buf));
}

bool Ipv6Address::IsValidAddress(const std::string& text) {
    Ipv6_addr bin;
    size_t zone;
    return ParseScopedIpv6(text, &bin, &zone);
}

Ipv6Address::Ipv6Address(const std::string& text) {
    Ipv6_addr bin;
    size_t zone;
    if (!ParseScopedIpv6(text, &bin, &zone)) throw HostCtlException("Invalid IPv6 Address " + text);
    char buf[48];
    size_t n = V::FormatIpv6(bin.s6_addr, buf);
    if (zone == std::string::npos) {
        _text.assign(buf, n);
    } else {
        _text.reserve(n + text.size() - zone);
        _text.assign(buf, n);
        _text.append(text, zone, std::string::npos);
    }
}

Ipv6Address::Ipv6Address(const Ipv6_addr& bin) : _text(Format(bin)) {}

void Ipv6Address::SetBinaryAddress(const Ipv6_addr& bin) { _text = Format(bin); }

Ipv6_addr Ipv6Address::GetBinaryAddress() const {
    Ipv6_addr bin;
    size_t pos = ZonePos(_text);
    size_t len = pos == std::string::npos ? _text.size() : pos;
    if (!Parse(_text.data(), len, &bin)) throw HostCtlException("Invalid IP Address " + _text);
    return bin;
}

std::string Ipv6Address::GetStringAddress() const {
    size_t pos = ZonePos(_text);
    return pos == std::string::npos ? _text : _text.substr(0, pos);
}

std::string Ipv6Address::GetZone() const {
    size_t pos = ZonePos(_text);
    return pos == std::string::npos ? std::string() : _text.substr(pos);
}

bool Ipv6Address::IsValidAddress() const { return IsValidAddress(_text); }

bool Ipv6Address::IsLoopbackAddress() const {
    Ipv6_addr b = GetBinaryAddress();
    static const uint8_t loop[16] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1};
    return std::memcmp(b.s6_addr, loop, 16) == 0;
}

bool Ipv6Address::IsAllzeroAddress() const {
    Ipv6_addr b = GetBinaryAddress();
    static const uint8_t zero[16] = {};
    return std::memcmp(b.s6_addr, zero, 16) == 0;
}

bool Ipv6Address::IsValidNetmask() const {
    Ipv6_addr b = GetBinaryAddress();
    // Each 32-bit word on its own, so ffff:ffff::ffff:0:0:0 passes.
    for (int i = 0; i < 4; ++i) {
        uint32_t w;
        std::memcpy(&w, b.s6_addr + 4 * i, 4);
        if (!IsMaskWord(ntohl(w))) return false;
    }
    return true;
}

bool Ipv6Address::IsValidMulticastAddress() const { return GetBinaryAddress().s6_addr[0] == 0xff; }

bool Ipv6Address::operator==(const Ipv6Address& o) const {
    Ipv6_addr a = GetBinaryAddress(), b = o.GetBinaryAddress();
    if (std::memcmp(a.s6_addr, b.s6_addr, 16) != 0) return false;
    size_t pa = ZonePos(_text), pb = ZonePos(o._text);
    if (pa == std::string::npos || pb == std::string::npos) return pa == pb;
    return _text.compare(pa, std::string::npos, o._text, pb, std::string::npos) == 0;
}

// ---- MacAddress ------------------------------------------------------------------

bool MacAddress::Parse(const std::string& text, unsigned char* out) {
    return V::ParseMac(text.c_str(), out);
}

MacAddress::MacAddress(const std::string& text) {
    if (!Parse(text, _bytes)) throw HostCtlException("Invalid MAC address " + text);
}

MacAddress::MacAddress(const unsigned char* bytes) { std::memcpy(_bytes, bytes, 6); }

MacAddress::MacAddress(const unsigned int* bytes) { std::memcpy(_bytes, bytes, 6); }

bool MacAddress::IsValid(const unsigned char* b) {
    bool zero = (b[0] | b[1] | b[2] | b[3] | b[4] | b[5]) == 0;
    return !zero && (b[0] & 1) == 0;
}

bool MacAddress::IsValid(const std::string& text) {
    unsigned char b[6];
    return Parse(text, b) && IsValid(b);
}

std::string MacAddress::GetStringAddress() const {
    char buf[17];
    V::FormatMac(_bytes, buf);
    return std::string(buf, 17);
}

void MacAddress::GetBinaryAddress(unsigned char* out) const { std::memcpy(out, _bytes, 6); }

bool MacAddress::operator==(const MacAddress& o) const { return std::memcmp(_bytes, o._bytes, 6) == 0; }

bool MacAddress::operator<(const MacAddress& o) const { return std::memcmp(_bytes, o._bytes, 6) < 0; }

// ---- HostAddress -----------------------------------------------------------------

HostAddress::HostAddress(const std::string& host) : _host(host) { ResolveHostAddress(); }

void HostAddress::ResolveHostAddress() {
    uint8_t w[4];
    if (V::ParseIpv4Z(_host.c_str(), w)) {
        _kind = IPV4;
        return;
    }
    Ipv6_addr bin;
    size_t zone;
    if (ParseScopedIpv6(_host, &bin, &zone)) {
        _kind = IPV6;
        _host = Ipv6Address::Format(bin);
        return;
    }
    _kind = HOSTNAME;
}

Ipv4Address HostAddress::GetIpv4Address() const {
    return _kind == IPV4 ? Ipv4Address(_host) : Ipv4Address();
}

// ---- PortAddress -----------------------------------------------------------------

PortAddress::PortAddress(const std::string& address, unsigned short port) { Assign(address, port); }

PortAddress::~PortAddress() = default;

namespace {
// A copy of the held address. Re-parsing its text gives the same value except
// where a scoped IPv6 text grew past 64 characters when made canonical
// ("::f:fe44" prints as "::0.15.254.68"); cloning keeps the address then too.
std::unique_ptr<IpAddress> Clone(const IpAddress* a) {
    if (auto v6 = dynamic_cast<const Ipv6Address*>(a)) return std::make_unique<Ipv6Address>(*v6);
    return std::make_unique<Ipv4Address>(dynamic_cast<const Ipv4Address&>(*a));
}
}  // namespace

PortAddress::PortAddress(const PortAddress& o) : _port(o._port) {
    if (o._address) _address = Clone(o._address.get());
}

PortAddress& PortAddress::operator=(const PortAddress& o) {
    if (this != &o) {
        PortAddress copy(o);
        *this = std::move(copy);
    }
    return *this;
}

void PortAddress::Assign(const std::string& address, unsigned short port) {
    unsigned int w;
    if (V::ParseIpv4Z(address.c_str(), reinterpret_cast<uint8_t*>(&w))) {
        _address = std::make_unique<Ipv4Address>(w);
    } else if (Ipv6Address::IsValidAddress(address)) {
        _address = std::make_unique<Ipv6Address>(address);
    }
    _port = port;
}

std::string PortAddress::GetStringAddress() const {
    if (!_address) return std::string();
    return _address->GetStringAddress() + ":" + std::to_string(_port);
}

}  // namespace HostCtl::Network
