// libFuzzer harness for the network address texts. Differential: every input
// is read by the library's own parsers and by the C library (inet_pton,
// inet_ntop, sscanf), which must agree exactly; then every text constructor
// runs on it and may refuse only with HostCtlException.
#include <arpa/inet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"

using namespace HostCtl::Network;

namespace {

void Check(bool ok, const char* what, const std::string& text) {
    if (ok) return;
    std::fprintf(stderr, "mismatch in %s for text of %zu bytes\n", what, text.size());
    std::abort();
}

template <typename F>
void Refusable(F f) {
    try {
        f();
    } catch (const HostCtl::Lib::HostCtlException&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);

    // IPv4 against inet_pton / inet_ntop.
    in_addr ref4;
    bool ok4 = inet_pton(AF_INET, text.c_str(), &ref4) == 1;
    unsigned int word = 0;
    Check(Ipv4Address::Parse(text.data(), text.size(), &word) == ok4, "ipv4 accept", text);
    Check(Ipv4Address::IsValidAddress(text) == ok4, "ipv4 accept (string)", text);
    if (ok4) {
        Check(word == ref4.s_addr, "ipv4 value", text);
        char buf[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &ref4, buf, sizeof buf);
        Check(Ipv4Address(word).GetStringAddress() == buf, "ipv4 print", text);
    }

    // IPv6 against inet_pton / inet_ntop.
    uint8_t ref6[16];
    bool ok6 = inet_pton(AF_INET6, text.c_str(), ref6) == 1;
    Ipv6_addr bin;
    Check(Ipv6Address::Parse(text.data(), text.size(), &bin) == ok6, "ipv6 accept", text);
    if (ok6) {
        Check(std::memcmp(bin.s6_addr, ref6, 16) == 0, "ipv6 value", text);
        char buf[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, ref6, buf, sizeof buf);
        Check(Ipv6Address::Format(bin) == buf, "ipv6 print", text);
    }
    // Any 16 input bytes also print as inet_ntop prints them.
    if (size >= 16) {
        Ipv6_addr raw;
        std::memcpy(raw.s6_addr, data, 16);
        char buf[INET6_ADDRSTRLEN];
        inet_ntop(AF_INET6, data, buf, sizeof buf);
        Check(Ipv6Address::Format(raw) == buf, "ipv6 print raw", text);
    }

    // MAC against sscanf.
    unsigned char refMac[6], mac[6];
    bool okMac = std::sscanf(text.c_str(), "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx", &refMac[0], &refMac[1],
                             &refMac[2], &refMac[3], &refMac[4], &refMac[5]) == 6;
    Check(MacAddress::Parse(text, mac) == okMac, "mac accept", text);
    if (okMac) Check(std::memcmp(mac, refMac, 6) == 0, "mac value", text);

    // Every text constructor: a value or a HostCtlException, nothing else.
    Refusable([&] {
        Ipv6Address a(text);
        Check(Ipv6Address::IsValidAddress(text), "ipv6 ctor vs check", text);
        // The canonical text can outgrow the 64-character limit ("::f:fe44" prints
        // as "::0.15.254.68"); the value then no longer passes its own check.
        if (a.GetScopedStringAddress().size() <= 64)
            Check(Ipv6Address(a.GetScopedStringAddress()) == a, "ipv6 canonical round trip", text);
        else
            Check(!a.IsValidAddress(), "ipv6 overlong canonical text", text);
        a.IsValidNetmask();
        a.IsLoopbackAddress();
    });
    Refusable([&] {
        Ipv4Network n(text);
        Check(Ipv4Network(n.GetStringAddress()) == n, "ipv4 network round trip", text);
    });
    Refusable([&] {
        Ipv6Network n(text);
        Check(n.IsValid(), "ipv6 network valid", text);
        n.IsValidNetworkAddress(n.GetAddress());
        Ipv6Network::NetmaskFromNumber(n.GetNetmask());
    });
    Ipv6Network::IsValidAddressAndNetmask(text);
    Refusable([&] { MacAddress m(text); m.IsValid(); });
    HostAddress h(text);
    Check(h.GetHostAddressType() <= 2, "host kind", text);
    PortAddress p(text, 80);
    PortAddress copy(p);
    Check(copy.GetStringAddress() == p.GetStringAddress(), "port address copy", text);
    return 0;
}
