// IpConfig: the static/DHCP/none rules and the questions put to the kernel
// about IPv6, answered here by a stand-in kernel that can also fail.
#include <gtest/gtest.h>

#include <cstring>

#include "fixture.h"
#include "forwarding_backend.h"
#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "ksi/nodes.h"
#include "platform/log.h"
#include "platform/sysinfo.h"

using namespace HostCtl::Network;
using HostCtl::Lib::HostCtlException;

namespace {

// Answers the default netstack's IPv6 switch; everything else goes on to the
// backend it replaced.
class Ipv6Kernel : public TarnTest::InstalledBackend {
public:
    uint8_t enabled = 1;
    TARN_ReturnStatus status = TARN_OK;
    int reads = 0;

    TARN_ReturnStatus Get(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                          const std::vector<KSI_Param>& inputs, void* buffer, unsigned length) override {
        if (node != KSI_NODE_net_tcpip_instances_v6conf)
            return Next().Get(module, node, instance, inputs, buffer, length);
        ++reads;
        EXPECT_EQ(instance.size(), 1u);
        if (!instance.empty()) EXPECT_EQ(instance[0].AsText(), "defaultTcpipStack");
        if (status != TARN_OK) return status;
        std::memset(buffer, 0, length);
        *static_cast<uint8_t*>(buffer) = enabled;
        return TARN_OK;
    }
};

class IpConfigTest : public TarnTest::HostTest {
protected:
    Ipv6Kernel kernel;
};

}  // namespace

TEST_F(IpConfigTest, UseIpv6FollowsTheKernelEachTime) {
    IpConfig on;
    EXPECT_TRUE(on.GetUseIpv6());
    kernel.enabled = 0;
    IpConfig off;
    EXPECT_FALSE(off.GetUseIpv6());
    off.SetUseIpv6(true);
    EXPECT_FALSE(off.GetUseIpv6());
    off.EnableIpv6();  // without asking
    EXPECT_TRUE(off.GetUseIpv6());
    kernel.enabled = 1;
    off.SetUseIpv6(true);
    EXPECT_TRUE(off.GetUseIpv6());
    off.SetUseIpv6Dhcp(true);
    EXPECT_TRUE(off.IsUsingIpv6Dhcp());
    kernel.enabled = 0;  // not cached
    EXPECT_FALSE(off.IsUsingIpv6Dhcp());
    EXPECT_FALSE(off.IsUsingDhcp());
}

TEST_F(IpConfigTest, AKernelThatCannotTellMeansNoIpv6) {
    kernel.status = TARN_NOT_FOUND;
    Platform::Log::Capture log;
    IpConfig c;
    EXPECT_FALSE(c.GetUseIpv6());
    EXPECT_TRUE(log.Contains("IpConfig: Unable to read the IPv6 state of the kernel",
                             Platform::Log::Level::Warning));
}

TEST_F(IpConfigTest, Defaults) {
    IpConfig c;
    EXPECT_EQ(c.GetIpv4Address().GetStringAddress(), "0.0.0.0");
    EXPECT_EQ(c.GetIpv6Gateway().GetScopedStringAddress(), "::");
    EXPECT_TRUE(c.GetIpv4UseNone());
    EXPECT_FALSE(c.GetUseDhcp() || c.GetDhcpDns() || c.GetIpv6DhcpDns() || c.GetUseIpv6Dhcp() ||
                 c.GetUseIpv6RouterAdvertised());
    EXPECT_TRUE(c.GetIpv6Network().empty());
    EXPECT_FALSE(c.IsValid());
}

TEST_F(IpConfigTest, StaticAddressComputesBroadcastAndLeavesDhcp) {
    IpConfig c;
    c.SetUseDhcp(true);
    c.SetIpv4Address(Ipv4Address("192.168.10.20"));
    EXPECT_FALSE(c.GetUseDhcp());
    EXPECT_FALSE(c.GetIpv4UseNone());
    EXPECT_EQ(c.GetIpv4Broadcast().GetStringAddress(), "255.255.255.255");
    c.SetIpv4Netmask(Ipv4Address("255.255.255.0"));
    EXPECT_EQ(c.GetIpv4Broadcast().GetStringAddress(), "192.168.10.255");
    EXPECT_TRUE(c.IsIpv4Valid());
    EXPECT_THROW(c.SetIpv4Netmask(Ipv4Address("255.0.255.0")), HostCtlException);
    EXPECT_EQ(c.GetIpv4Netmask().GetStringAddress(), "255.255.255.0");
    try {
        c.SetIpv4Netmask(Ipv4Address("0.0.0.255"));
        FAIL();
    } catch (const HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Invalid Ip Netmask: 0.0.0.255");
    }
    c.SetIpv4Gateway(Ipv4Address("192.168.10.1"));
    EXPECT_TRUE(c.ContainsAddress("192.168.10.20"));
    c.SetIpv4UseNone();
    EXPECT_TRUE(c.GetIpv4UseNone());
    EXPECT_EQ(c.GetIpv4Gateway().GetStringAddress(), "0.0.0.0");
    EXPECT_EQ(c.GetIpv4Broadcast().GetStringAddress(), "0.0.0.0");
}

TEST_F(IpConfigTest, DhcpSwitchesAndDns) {
    IpConfig c;
    c.SetIpv4Address(Ipv4Address("10.0.0.5"));
    c.SetIpv4Netmask(Ipv4Address("255.0.0.0"));
    try {
        c.SetDhcpDns(true);
        FAIL();
    } catch (const HostCtlException& e) {
        EXPECT_STREQ(e.what(), "DHCP DNS can only be set when using DHCP");
    }
    c.SetUseDhcp(true, false);  // keep the addresses
    EXPECT_EQ(c.GetIpv4Address().GetStringAddress(), "10.0.0.5");
    c.SetDhcpDns(true);
    EXPECT_TRUE(c.GetDhcpDns());
    c.SetUseDhcp(false);  // DNS from DHCP ends with DHCP
    EXPECT_FALSE(c.GetDhcpDns());
    EXPECT_FALSE(c.GetIpv4UseNone());  // the address is still there
    c.SetUseDhcp(true);
    EXPECT_EQ(c.GetIpv4Address().GetStringAddress(), "0.0.0.0");
    c.SetUseDhcp(false);  // no address left: no IPv4 at all
    EXPECT_TRUE(c.GetIpv4UseNone());

    // DHCPv6 keeps the IPv4 DNS choice alive.
    c.SetUseDhcp(true);
    c.SetDhcpDns(true);
    c.SetUseIpv6Dhcp(true);
    c.SetUseDhcp(false, false);
    EXPECT_TRUE(c.GetDhcpDns());
}

TEST_F(IpConfigTest, Ipv6DhcpDns) {
    IpConfig c;
    try {
        c.SetIpv6DhcpDns(true);
        FAIL();
    } catch (const HostCtlException& e) {
        EXPECT_STREQ(e.what(), "DHCP DNS IPv6 can only be set when using DHCPv6 or RA");
    }
    c.SetUseIpv6RouterAdvertised(true);
    c.SetIpv6DhcpDns(true);
    c.SetUseIpv6Dhcp(false);  // router advertisements still in use
    EXPECT_TRUE(c.GetIpv6DhcpDns());
    c.SetUseIpv6RouterAdvertised(false);
    c.SetUseIpv6Dhcp(false);
    EXPECT_FALSE(c.GetIpv6DhcpDns());
    c.SetIpv6DhcpDns(false);  // turning off always works
}

TEST_F(IpConfigTest, Ipv6NetworkList) {
    IpConfig c;
    c.AddIpv6Network(Ipv6Network("2001:db8::5/64"));
    c.AddIpv6Network(Ipv6Network("fe80::5%tarn0/64"));
    c.AddIpv6Network(Ipv6Network("fe80::5/64"));  // another zone: another address
    c.AddIpv6Network(Ipv6Network("2001:db8::6/64"));
    auto message = [&](const Ipv6Network& n, bool add) {
        try {
            add ? c.AddIpv6Network(n) : c.RemoveIpv6Network(n);
        } catch (const HostCtlException& e) {
            return std::string(e.what());
        }
        return std::string();
    };
    EXPECT_EQ(message(Ipv6Network("2001:DB8:0::5/64"), true), "Address already exists in the config");
    EXPECT_EQ(message(Ipv6Network(Ipv6Address("::1"), 200), true), "Invalid Ipv6 Network: ::1/200");
    EXPECT_EQ(message(Ipv6Network("2001:db8::5/65"), false), "Address not found");
    c.RemoveIpv6Network(Ipv6Network("fe80::5%tarn0/64"));
    std::vector<std::string> left;
    for (auto& n : c.GetIpv6Network()) left.push_back(n.GetAddress().GetScopedStringAddress());
    EXPECT_EQ(left, (std::vector<std::string>{"2001:db8::5", "fe80::5", "2001:db8::6"}));
    EXPECT_TRUE(c.ContainsAddress("2001:db8::6/64"));
    EXPECT_FALSE(c.ContainsAddress("2001:db8::6"));
    EXPECT_TRUE(c.IsIpv6Valid());

    IpConfig placeholders;
    Ipv6Network dhcp;
    dhcp.SetUseDhcp();
    placeholders.AddIpv6Network(dhcp);
    EXPECT_FALSE(placeholders.IsIpv6Valid());
    placeholders.SetUseIpv6RouterAdvertised(true);
    EXPECT_TRUE(placeholders.IsValid());
}
