// Addresses: predicates, equality, host and port addresses, and every refusal
// message of the address, network and configuration values.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <set>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"

using namespace HostCtl::Network;
using HostCtl::Lib::HostCtlException;

namespace {

std::string MessageOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const HostCtlException& e) {
        return e.what();
    }
    return "<no exception>";
}

}  // namespace

TEST(Refusals, EveryMessageExactly) {
    struct Row {
        const char* what;
        std::function<void()> call;
        std::string message;
    };
    const Row rows[] = {
        {"ipv4 text", [] { Ipv4Address("1.2.3"); }, "Invalid IP Address 1.2.3"},
        {"ipv4 octet 256", [] { Ipv4Address("10.0.0.256"); }, "Invalid IP Address 10.0.0.256"},
        {"ipv4 first octet 256", [] { Ipv4Address("256.1.1.1"); }, "Invalid IP Address 256.1.1.1"},
        {"ipv6 text", [] { Ipv6Address("1::2::3"); }, "Invalid IPv6 Address 1::2::3"},
        {"ipv6 trailing %", [] { Ipv6Address("fe80::1%"); }, "Invalid IPv6 Address fe80::1%"},
        {"ipv4 net no slash", [] { Ipv4Network("10.0.0.1"); }, "Invalid Network name, not / found"},
        {"ipv4 net address", [] { Ipv4Network("10.0.0/8"); }, "Invalid IP Address 10.0.0"},
        {"ipv4 net prefix", [] { Ipv4Network("10.0.0.1/33"); }, "Invalid netmask, must be 32 > x > 0"},
        {"ipv4 mask number", [] { Ipv4Network::NetmaskFromNumber(40); }, "Invalid netmask, must be 32 > x > 0"},
        {"ipv4 number of mask", [] { Ipv4Network::NumberFromNetmask(Ipv4Address("255.0.255.0")); },
         "Not a valid netmask"},
        {"ipv4 net ctor", [] { Ipv4Network(Ipv4Address("1.0.0.0"), Ipv4Address("0.255.0.0")); },
         "Invalid Netmask"},
        {"ipv4 net words", [] { Ipv4Network(0u, htonl(0x00ff0000)); }, "Invalid Netmask"},
        {"ipv4 set netmask", [] { Ipv4Network().SetNetmask(Ipv4Address("255.0.0.1")); },
         "Not a valid Netmask"},
        {"ipv6 net no slash", [] { Ipv6Network("::1"); },
         "Invalid IPv6 address, usage <ipv6::>/<prefix-length>"},
        {"ipv6 net two slashes", [] { Ipv6Network("::1/64/1"); },
         "Invalid IPv6 address, usage <ipv6::>/<prefix-length>"},
        {"ipv6 net address", [] { Ipv6Network("fe80:::1/64"); }, "Invalid IPv6 Address fe80:::1"},
        {"ipv6 net prefix", [] { Ipv6Network("fe80::1/129"); }, "Invalid Ipv6 Network: fe80::1/129"},
        {"ipv6 mask number", [] { Ipv6Network::NetmaskFromNumber(129); },
         "Invalid netmask, must be 128 > x > 0"},
        {"ipv6 number of mask", [] { Ipv6Network::NumberFromNetmask(Ipv6Address("ffff:fff7::")); },
         "Not a valid netmask"},
        {"mac text", [] { MacAddress("01:02:03:04:05"); }, "Invalid MAC address 01:02:03:04:05"},
        {"team type", [] { NicTeamingPolicy().SetTeamingPolicy(NicTeamingPolicy::TeamPolicyType(5)); },
         "Invalid teaming policy type: 5"},
        {"shaping fill", [] { ShapingPolicy().FillValues(); },
         "Cannot fill values from invalid shaping policy"},
    };
    for (const Row& r : rows) EXPECT_EQ(MessageOf(r.call), r.message) << r.what;
}

TEST(Ipv4AddressValue, DefaultAndPredicates) {
    Ipv4Address zero;
    EXPECT_EQ(zero.GetStringAddress(), "0.0.0.0");
    EXPECT_TRUE(zero.IsAllzeroAddress());
    EXPECT_TRUE(zero.IsValidAddress());
    EXPECT_EQ(zero.GetIpAddressType(), 0u);
    // The word is in network order, as inet_pton stores it.
    EXPECT_EQ(Ipv4Address("10.1.2.3").GetBinaryAddress(), htonl(0x0a010203));
    EXPECT_EQ(Ipv4Address(htonl(0xc0a80001)).GetStringAddress(), "192.168.0.1");

    struct Row {
        const char* text;
        bool netmask, multicast;
    } rows[] = {
        {"0.0.0.0", true, false},        {"255.255.255.255", true, false}, {"255.255.255.0", true, false},
        {"255.255.0.255", false, false}, {"128.0.0.0", true, false},       {"0.0.0.1", false, false},
        {"224.0.0.1", false, true},      {"239.255.255.255", false, true}, {"223.1.1.1", false, false},
        {"240.0.0.0", true, false},
    };
    for (const Row& r : rows) {
        Ipv4Address a(r.text);
        EXPECT_EQ(a.IsValidNetmask(), r.netmask) << r.text;
        EXPECT_EQ(a.IsValidMulticastAddress(), r.multicast) << r.text;
    }
}

TEST(Ipv6AddressValue, PredicatesAndBinaryForm) {
    Ipv6Address def;
    EXPECT_EQ(def.GetScopedStringAddress(), "::");
    EXPECT_TRUE(def.IsAllzeroAddress());
    EXPECT_EQ(def.GetIpAddressType(), 1u);
    EXPECT_TRUE(Ipv6Address("0:0::1").IsLoopbackAddress());
    EXPECT_FALSE(Ipv6Address("::2").IsLoopbackAddress());
    EXPECT_TRUE(Ipv6Address("ff02::1%tarn0").IsValidMulticastAddress());
    EXPECT_FALSE(Ipv6Address("fe02::1").IsValidMulticastAddress());
    // Each 32-bit word is a mask of its own.
    EXPECT_TRUE(Ipv6Address("ffff:ffff::ffff:0:0:0").IsValidNetmask());
    EXPECT_EQ(Ipv6Network::NumberFromNetmask(Ipv6Address("ffff:ffff::ffff:0:0:0")), 48u);
    EXPECT_TRUE(Ipv6Address("ffff:0:ffff::").IsValidNetmask());  // ffff0000 twice
    EXPECT_FALSE(Ipv6Address("ffff:ffff:0:ffff::").IsValidNetmask());
    EXPECT_TRUE(Ipv6Address("::ffff").IsValidNetmask() == false);

    Ipv6Address a("2001:db8::7%tarn2");
    Ipv6_addr bin = a.GetBinaryAddress();
    EXPECT_EQ(bin.s6_addr[0], 0x20);
    EXPECT_EQ(bin.s6_addr[15], 7);
    Ipv6Address b(bin);
    EXPECT_EQ(b.GetScopedStringAddress(), "2001:db8::7");
    a.SetBinaryAddress(bin);
    EXPECT_FALSE(a.IsScopedAddress());
}

TEST(Ipv6AddressValue, EqualityNeedsTheSameZone) {
    EXPECT_EQ(Ipv6Address("FE80::1"), Ipv6Address("fe80:0::1"));
    EXPECT_FALSE(Ipv6Address("fe80::1") == Ipv6Address("fe80::1%tarn0"));
    EXPECT_FALSE(Ipv6Address("fe80::1%tarn0") == Ipv6Address("fe80::1"));
    EXPECT_FALSE(Ipv6Address("fe80::1%tarn0") == Ipv6Address("fe80::1%tarn1"));
    EXPECT_EQ(Ipv6Address("fe80::1%tarn0"), Ipv6Address("fe80:0:0::1%tarn0"));
}

TEST(MacAddressValue, ValidityAndForms) {
    EXPECT_EQ(MacAddress("01:2:A:04:05:f").GetStringAddress(), "01:02:0a:04:05:0f");
    EXPECT_EQ(MacAddress().GetStringAddress(), "00:00:00:00:00:00");
    EXPECT_FALSE(MacAddress().IsValid());
    EXPECT_TRUE(MacAddress("02:00:4c:01:02:03").IsValid());
    EXPECT_TRUE(MacAddress::IsValid(std::string("02:00:00:00:00:01")));
    EXPECT_FALSE(MacAddress::IsValid(std::string("01:00:5e:00:00:01")));  // group bit
    EXPECT_FALSE(MacAddress::IsValid(std::string("00:00:00:00:00:00")));
    EXPECT_FALSE(MacAddress::IsValid(std::string("01:02:03:04:05")));
    unsigned int words[2] = {0, 0};
    const unsigned char src[8] = {0xaa, 0xbb, 0xcc, 0xdd, 0xee, 0xff, 0x11, 0x22};
    std::memcpy(words, src, 8);
    MacAddress m(words);
    EXPECT_EQ(m.GetStringAddress(), "aa:bb:cc:dd:ee:ff");
    unsigned char out[6];
    m.GetBinaryAddress(out);
    EXPECT_EQ(std::memcmp(out, src, 6), 0);
}

TEST(HostAddressValue, Kinds) {
    HostAddress v4("10.0.0.1");
    EXPECT_EQ(v4.GetHostAddressType(), 0u);
    EXPECT_EQ(v4.GetIpv4Address().GetStringAddress(), "10.0.0.1");
    HostAddress v6("FE80:0::1%tarn0");
    EXPECT_EQ(v6.GetHostAddressType(), 1u);
    EXPECT_EQ(v6.GetHostName(), "fe80::1");  // canonical, zone dropped
    EXPECT_EQ(v6.GetIpv4Address().GetStringAddress(), "0.0.0.0");
    HostAddress name("nas01.example");
    EXPECT_EQ(name.GetHostAddressType(), 2u);
    EXPECT_EQ(name.GetHostName(), "nas01.example");
    EXPECT_EQ(HostAddress("fe80::1"), v6);
    EXPECT_FALSE(HostAddress("10.0.0.01") == v4);
}

TEST(PortAddressValue, HoldsWhatParsesAndKeepsThePreviousOtherwise) {
    PortAddress none("not-an-address", 3260);
    EXPECT_EQ(none.GetAddress(), nullptr);
    EXPECT_EQ(none.GetStringAddress(), "");
    EXPECT_EQ(none.GetPort(), 3260);

    PortAddress p("10.0.0.5", 3260);
    EXPECT_EQ(p.GetStringAddress(), "10.0.0.5:3260");
    p.Assign("FE80::5%tarn1", 860);
    EXPECT_EQ(p.GetStringAddress(), "fe80::5:860");  // unbracketed
    EXPECT_EQ(p.GetAddress()->GetIpAddressType(), 1u);
    p.Assign("junk", 861);
    EXPECT_EQ(p.GetStringAddress(), "fe80::5:861");

    PortAddress copy(p);
    EXPECT_EQ(copy.GetStringAddress(), "fe80::5:861");
    EXPECT_NE(copy.GetAddress(), p.GetAddress());
    PortAddress assigned;
    assigned = p;
    EXPECT_EQ(dynamic_cast<const Ipv6Address*>(assigned.GetAddress())->GetScopedStringAddress(),
              "fe80::5%tarn1");
}

TEST(AddressContainers, SortAndDeduplicate) {
    std::set<Ipv4Address> s4{Ipv4Address("10.0.0.2"), Ipv4Address("10.0.0.1"), Ipv4Address("10.0.0.2")};
    EXPECT_EQ(s4.size(), 2u);
    std::set<MacAddress> sm{MacAddress("00:00:00:00:00:02"), MacAddress("00:00:00:00:00:01")};
    EXPECT_EQ(sm.begin()->GetStringAddress(), "00:00:00:00:00:01");
}
