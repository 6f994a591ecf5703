// Networks and routes: text forms, netmask arithmetic, membership and the two
// deliberate orderings that other code relies on.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <vector>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"

using namespace HostCtl::Network;
using HostCtl::Lib::HostCtlException;

TEST(Ipv4NetworkText, PrefixReadingRules) {
    struct Row {
        const char* text;
        const char* network;
        const char* netmask;
        const char* printed;
    } rows[] = {
        {"10.0.0.1/24", "10.0.0.1", "255.255.255.0", "10.0.0.1/24"},  // host bits kept
        {"10.0.0.1/abc", "10.0.0.1", "0.0.0.0", "10.0.0.1/0"},
        {"10.0.0.1/", "10.0.0.1", "0.0.0.0", "10.0.0.1/0"},
        {"10.0.0.1/ \t16junk", "10.0.0.1", "255.255.0.0", "10.0.0.1/16"},
        {"10.0.0.1/32", "10.0.0.1", "255.255.255.255", "10.0.0.1/32"},
        {"10.0.0.1/0", "10.0.0.1", "0.0.0.0", "10.0.0.1/0"},
        {"10.0.0.1/4294967296", "10.0.0.1", "0.0.0.0", "10.0.0.1/0"},  // too large reads as 0
        {"10.0.0.1/+8", "10.0.0.1", "0.0.0.0", "10.0.0.1/0"},
        {"192.168.7.9/1/2", "192.168.7.9", "128.0.0.0", "192.168.7.9/1"},
    };
    for (const Row& r : rows) {
        Ipv4Network n(r.text);
        EXPECT_EQ(n.GetNetwork().GetStringAddress(), r.network) << r.text;
        EXPECT_EQ(n.GetNetmask().GetStringAddress(), r.netmask) << r.text;
        EXPECT_EQ(n.GetStringAddress(), r.printed) << r.text;
    }
    EXPECT_THROW(Ipv4Network("10.0.0.1/4294967295"), HostCtlException);
}

TEST(Ipv4NetworkValue, NetmaskArithmeticAndMembership) {
    for (unsigned n = 0; n <= 32; ++n) {
        Ipv4Address m = Ipv4Network::NetmaskFromNumber(n);
        EXPECT_TRUE(m.IsValidNetmask());
        EXPECT_EQ(Ipv4Network::NumberFromNetmask(m), n);
    }
    EXPECT_EQ(Ipv4Network::NetmaskFromNumber(20).GetStringAddress(), "255.255.240.0");
    Ipv4Network net("192.168.4.77/22");
    EXPECT_TRUE(net.IsValidNetworkAddress(Ipv4Address("192.168.7.1")));
    EXPECT_FALSE(net.IsValidNetworkAddress(Ipv4Address("192.168.8.1")));
    EXPECT_EQ(Ipv4Network(), Ipv4Network("0.0.0.0/0"));
    EXPECT_FALSE(Ipv4Network("10.0.0.0/8") == Ipv4Network("10.0.0.0/16"));
    // A refused netmask changes nothing.
    Ipv4Network keep("10.0.0.0/8");
    EXPECT_THROW(keep.SetNetmask(Ipv4Address("255.0.0.255")), HostCtlException);
    EXPECT_EQ(keep.GetStringAddress(), "10.0.0.0/8");
}

TEST(Ipv4NetworkOrder, LastOctetWeighsMostAndNetmaskIsIgnored) {
    std::vector<Ipv4Network> v{Ipv4Network("1.0.0.2/32"), Ipv4Network("2.0.0.1/32"),
                               Ipv4Network("9.9.9.0/24"), Ipv4Network("0.0.0.3/32")};
    std::sort(v.begin(), v.end());
    std::vector<std::string> got;
    for (auto& n : v) got.push_back(n.GetStringAddress());
    EXPECT_EQ(got, (std::vector<std::string>{"9.9.9.0/24", "2.0.0.1/32", "1.0.0.2/32", "0.0.0.3/32"}));
    Ipv4Network a("10.0.0.0/8"), b("10.0.0.0/16");
    EXPECT_FALSE(a < b);
    EXPECT_FALSE(b < a);
}

TEST(IpRoutingTable, EquivalentKeysShareOneEntry) {
    IpRouting r;
    EXPECT_EQ(r.GetIpv4Gateway().GetStringAddress(), "0.0.0.0");
    r.AddIpv4Route(Ipv4Network("10.0.0.0/8"), Ipv4Address("192.168.0.1"));
    r.AddIpv4Route(Ipv4Network("10.0.0.0/16"), Ipv4Address("192.168.0.2"));
    auto routes = r.GetIpv4Routes();
    ASSERT_EQ(routes.size(), 1u);
    EXPECT_EQ(routes.begin()->first.GetStringAddress(), "10.0.0.0/8");  // first key kept
    EXPECT_EQ(routes.begin()->second.GetStringAddress(), "192.168.0.2");  // later gateway

    r.SetIpv4Gateway(Ipv4Address("192.168.0.254"));
    EXPECT_EQ(r.GetIpv4Gateway().GetStringAddress(), "192.168.0.254");
    EXPECT_EQ(r.GetIpv4Routes().count(IpRouting::DEFAULT_IPV4_ROUTE), 1u);
    r.UnsetIpv4Gateway();
    EXPECT_EQ(r.GetIpv4Gateway().GetStringAddress(), "0.0.0.0");
    r.RemoveIpv4Route(Ipv4Network("10.0.0.0/24"));  // equivalent key removes it
    EXPECT_TRUE(r.GetIpv4Routes().empty());
    r.RemoveIpv4Route(Ipv4Network("10.0.0.0/24"));  // none left: no failure
}

TEST(Ipv6NetworkText, ParsingAndPrinting) {
    Ipv6Network n("FE80:0::1%tarn0/64");
    EXPECT_EQ(n.GetStringAddress(), "fe80::1/64");
    EXPECT_EQ(n.GetAddress().GetScopedStringAddress(), "fe80::1%tarn0");
    EXPECT_EQ(n.GetIpv6AddressType(), 11u);
    EXPECT_EQ(n.GetIpv6Scope(), 4u);
    EXPECT_EQ(n.GetIpv6AddressStatus(), 11u);
    EXPECT_EQ(Ipv6Network("2001:db8::/abc").GetNetmask(), 0u);
    EXPECT_EQ(Ipv6Network("2001:db8::/ 48x").GetNetmask(), 48u);
    EXPECT_EQ(Ipv6Network("2001:db8::/128").GetNetmask(), 128u);
    EXPECT_THROW(Ipv6Network("2001:db8::/99999999999"), HostCtlException);
}

TEST(Ipv6NetworkText, CheckingTest) {
    struct Row {
        const char* text;
        bool valid;
    } rows[] = {
        {"2001:db8::/64", true},  {"2001:db8::/0", false},     {"2001:db8::/128", true},
        {"2001:db8::/129", false}, {"2001:db8::/ 64", false},  {"2001:db8::/64 ", false},
        {"2001:db8::/abc", false}, {"2001:db8::", false},      {"fe80::1%tarn0/10", true},
        {"zz::/64", false},        {"2001:db8::/64/1", true},  {"2001:db8::/12ab", true},
    };
    for (const Row& r : rows) EXPECT_EQ(Ipv6Network::IsValidAddressAndNetmask(r.text), r.valid) << r.text;
}

TEST(Ipv6NetworkValue, MasksMembershipAndPlaceholders) {
    EXPECT_EQ(Ipv6Network::NetmaskFromNumber(0).GetStringAddress(), "::");
    EXPECT_EQ(Ipv6Network::NetmaskFromNumber(65).GetStringAddress(), "ffff:ffff:ffff:ffff:8000::");
    EXPECT_EQ(Ipv6Network::NetmaskFromNumber(128).GetStringAddress(),
              "ffff:ffff:ffff:ffff:ffff:ffff:ffff:ffff");
    for (unsigned n = 0; n <= 128; ++n)
        EXPECT_EQ(Ipv6Network::NumberFromNetmask(Ipv6Network::NetmaskFromNumber(n)), n);

    Ipv6Network net(Ipv6Address("2001:db8:aa::"), 48);
    EXPECT_TRUE(net.IsValid());
    EXPECT_TRUE(net.IsValidNetworkAddress(Ipv6Address("2001:db8:aa:1::9")));
    EXPECT_FALSE(net.IsValidNetworkAddress(Ipv6Address("2001:db8:ab::")));
    EXPECT_FALSE(Ipv6Network(Ipv6Address("::"), 129).IsValid());

    Ipv6Network d(Ipv6Address("2001::1"), 64);
    d.SetUseDhcp();
    EXPECT_EQ(d.GetStringAddress(), "::/0");
    EXPECT_EQ(d.GetIpv6AddressType(), 9u);
    d.SetUseRouterAdvertised();
    EXPECT_EQ(d.GetIpv6AddressType(), 7u);
}

TEST(Ipv6NetworkValue, LabelsOfKernelCodes) {
    EXPECT_STREQ(Ipv6Network::Ipv6AddressTypeLabel(0), "Static");
    EXPECT_STREQ(Ipv6Network::Ipv6AddressTypeLabel(7), "Autoconf");
    EXPECT_STREQ(Ipv6Network::Ipv6AddressTypeLabel(9), "DHCP");
    EXPECT_STREQ(Ipv6Network::Ipv6AddressTypeLabel(11), "Unknown");
    EXPECT_STREQ(Ipv6Network::Ipv6ScopeLabel(1), "Link Local");
    EXPECT_STREQ(Ipv6Network::Ipv6ScopeLabel(2), "Site Local");
    EXPECT_STREQ(Ipv6Network::Ipv6ScopeLabel(3), "Global");
    EXPECT_STREQ(Ipv6Network::Ipv6ScopeLabel(4), "Unknown");
    EXPECT_STREQ(Ipv6Network::Ipv6AddressStatusLabel(2), "TENTATIVE");
    EXPECT_STREQ(Ipv6Network::Ipv6AddressStatusLabel(3), "DUPLICATED");
    EXPECT_STREQ(Ipv6Network::Ipv6AddressStatusLabel(5), "DEPRECATED");
    EXPECT_STREQ(Ipv6Network::Ipv6AddressStatusLabel(0), "PREFERRED");
    EXPECT_STREQ(Ipv6Network::Ipv6AddressStatusLabel(11), "PREFERRED");
}

TEST(Ipv6NetworkOrder, ReversedTextThenPrefix) {
    std::vector<Ipv6Network> v{Ipv6Network("2001:db8::/64"), Ipv6Network("fe80::1%tarn0/64"),
                               Ipv6Network("2001:db8::/48"), Ipv6Network("2001:db9::/64"),
                               Ipv6Network("::1/128")};
    std::sort(v.begin(), v.end());
    std::vector<std::string> got;
    for (auto& n : v) got.push_back(n.GetStringAddress());
    EXPECT_EQ(got, (std::vector<std::string>{"fe80::1/64", "::1/128", "2001:db9::/64",
                                             "2001:db8::/64", "2001:db8::/48"}));  // ':' sorts above '2' 
}

TEST(Ipv6NetworkValue, EqualityIgnoresTypeScopeAndStatus) {
    Ipv6Network a("2001:db8::1/64"), b("2001:DB8:0::1/64");
    b.SetIpv6AddressType(IPV6_ADDRESS_DHCP);
    b.SetIpv6Scope(IPV6_SCOPE_GLOBAL);
    b.SetIpv6AddressStatus(IPV6_STATUS_DEPRECATED);
    EXPECT_EQ(a, b);
    EXPECT_FALSE(a == Ipv6Network("2001:db8::1/65"));
    EXPECT_FALSE(Ipv6Network("fe80::1/64") == Ipv6Network("fe80::1%tarn0/64"));
}
