// Routing of a netstack on the default simulated host with kernel NIC tarn0 of
// the default netstack at 192.168.10.5/24 and fd00:10::5/64: the refusal texts and
// their order, recording in the netstack's store object, rollback of the kernel
// change when recording fails, boot replay, and the listing.
#include <arpa/inet.h>

#include <cstdio>

#include "../network/network_fixture.h"
#include "hostctl/host.h"
#include "network/network_info_impl.h"
#include "network/routing_info_impl.h"
#include "network/routing_nics.h"
#include "platform/boot.h"
#include "platform/sysinfo.h"

namespace NetTest {
namespace {

using namespace HostCtl::Network;
using TarnCtl::Network::RoutingInfoImpl;

const char* kStack = "defaultTcpipStack";

class RoutingTest : public NetHostTest {
protected:
    void SetUp() override {
        NetHostTest::SetUp();
        AddTarn0();
    }
    RoutingInfoImpl routing{kStack};

    // tarn0 on a port group of switch vs0 with its static addresses, as a configured host has it.
    static void AddTarn0() {
        auto net = HostCtl::HostFactory::GetHost()->GetNetworkInfo();
        auto switches = net->GetVirtualSwitchInfo();
        switches->AddVirtualSwitch("vs0", 0);
        switches->GetVirtualSwitchByName("vs0", PORTSET_GET_VSS)->AddPortGroup("pg0");
        IpConfig ip;
        ip.SetIpv4Address(Ipv4Address("192.168.10.5"));
        ip.SetIpv4Netmask(Ipv4Address("255.255.255.0"));
        ip.SetUseIpv6(true);
        ip.AddIpv6Network(Ipv6Network("fd00:10::5/64"));
        net->GetTarnosNicInfo()->AddTarnosNic("pg0", kStack, ip, MacAddress("02:00:4c:6a:00:05"), 0, 0, 0, "tarn0");
    }

    static std::string Stored() { return Data("net_stacks", "network", kStack); }
    // "network via gateway" of every route the kernel lists, in listing order.
    static std::string KernelRoutes() {
        std::string out;
        for (const Ipv4Route& r : RoutingInfoImpl(kStack).GetCurrentTarnosRoutes(PORTSET_GET_ALL))
            out += (out.empty() ? "" : ",") + r.network.GetStringAddress() + " via " + r.gateway.GetStringAddress();
        return out;
    }
    static std::string KernelGateway() { return RoutingInfoImpl(kStack).GetTarnosDefaultGateway().GetStringAddress(); }
    // Takes tarn0's IPv4 address away (and with no IPv6 address either, the stack has none).
    static void DropAddresses(bool v6Too) {
        Kernel([&](TarnSim::KernelState& s) {
            s.Put(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {kStack, "tarn0"}, KsiVnicIpv4Address{});
            if (!v6Too) return;
            KsiVnicProperties p{};
            s.Read(KSI_NODE_net_tcpip_instances_vNics_properties, {kStack, "tarn0"}, &p);
            s.RemoveBelow("", {kStack, "tarn0"});
            s.Put(KSI_NODE_net_tcpip_instances_vNics_properties, {kStack, "tarn0"}, p);
        });
    }
    static void Add(const std::string& net, const std::string& gw) {
        RoutingInfoImpl(kStack).AddTarnosRoute(Ipv4Network(net), Ipv4Address(gw));
    }
    static void Remove(const std::string& net, const std::string& gw) {
        RoutingInfoImpl(kStack).RemoveTarnosRoute(Ipv4Network(net), Ipv4Address(gw));
    }
};

// The network part of a.b.c.d/p, computed byte by byte without the library.
std::string ClosestByHand(const std::string& address, int prefix) {
    unsigned o[4];
    std::sscanf(address.c_str(), "%u.%u.%u.%u", &o[0], &o[1], &o[2], &o[3]);
    for (int i = 0; i < 4; ++i) {
        int bits = std::max(0, std::min(8, prefix - 8 * i));
        o[i] &= (0xff00u >> bits) & 0xffu;
    }
    return std::to_string(o[0]) + "." + std::to_string(o[1]) + "." + std::to_string(o[2]) + "." + std::to_string(o[3]);
}

std::string MaskByHand(int prefix) { return ClosestByHand("255.255.255.255", prefix); }

// ---- Static routes: refusals ----------------------------------------------------------------

TEST_F(RoutingTest, HostBitsNameTheClosestNetwork) {
    const std::pair<const char*, int> rows[] = {
        {"10.0.0.5", 24}, {"172.16.5.9", 12}, {"192.168.1.255", 31}, {"10.255.255.255", 9}, {"10.0.0.1", 31},
    };
    const std::string before = Stored();
    for (const auto& [address, prefix] : rows) {
        const std::string net = std::string(address) + "/" + std::to_string(prefix);
        EXPECT_EQ(Thrown([&] { Add(net, "192.168.10.1"); }),
                  "Invalid network/netmask combination.  The network specificed is not valid with the given netmask."
                  "  The closest network to " +
                      std::string(address) + " with netmask " + MaskByHand(prefix) + " is " +
                      ClosestByHand(address, prefix))
            << net;
    }
    EXPECT_EQ(KernelRoutes(), "192.168.10.0/24 via 0.0.0.0");
    EXPECT_EQ(Stored(), before);
    // The closest network itself is accepted.
    Add("10.0.0.0/24", "192.168.10.1");
    EXPECT_EQ(KernelRoutes(), "10.0.0.0/24 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0");
}

TEST_F(RoutingTest, ReachabilityIsCheckedBeforeTheNetwork) {
    // Unreachable gateway and host bits: the gateway is named.
    EXPECT_EQ(Thrown([] { Add("10.0.0.5/24", "10.9.9.9"); }),
              "Unable to route to gateway address 10.9.9.9 no route to that subnet exists");
    // Without any address on the stack, that comes first of all.
    DropAddresses(false);
    EXPECT_EQ(Thrown([] { Add("10.0.0.5/24", "10.9.9.9"); }),
              "Cannot set gateway or routes until kernel TCP stack has at least 1 IP address");
    EXPECT_EQ(Thrown([] { Add("10.0.0.0/24", "192.168.10.1"); }),
              "Cannot set gateway or routes until kernel TCP stack has at least 1 IP address");
    EXPECT_EQ(Data("net_stacks", "network", kStack), "<absent>");
}

TEST_F(RoutingTest, ReachabilityFollowsTheInterfaceNetworkToItsEdges) {
    EXPECT_TRUE(routing.HasLocalRouteToAddress(Ipv4Address("192.168.10.0")));
    EXPECT_TRUE(routing.HasLocalRouteToAddress(Ipv4Address("192.168.10.255")));
    EXPECT_FALSE(routing.HasLocalRouteToAddress(Ipv4Address("192.168.11.0")));
    EXPECT_FALSE(routing.HasLocalRouteToAddress(Ipv4Address("192.168.9.255")));
    EXPECT_TRUE(routing.HasLocalRouteToAddress(Ipv6Address("fd00:10::ffff")));
    EXPECT_TRUE(routing.HasLocalRouteToAddress(Ipv6Address("fe80::1")));
    EXPECT_FALSE(routing.HasLocalRouteToAddress(Ipv6Address("fd00:11::1")));
    Platform::Log::Capture log;
    DropAddresses(false);
    EXPECT_FALSE(routing.HasLocalRouteToAddress(Ipv6Address("fd00:11::1")));
    EXPECT_EQ(Thrown([&] { routing.HasLocalRouteToAddress(Ipv4Address("192.168.10.1")); }),
              "Cannot set gateway or routes until kernel TCP stack has at least 1 IP address");
    EXPECT_TRUE(log.Contains("RoutingInfo: Skipping over tarnnic tarn0, ip: 0.0.0.0 in gateway reachability check"));
}

TEST_F(RoutingTest, DuplicateRouteIsRefused) {
    Add("10.20.0.0/16", "192.168.10.1");
    const std::string stored = Stored();
    const std::string text = "Duplicate route to network 10.20.0.0/16 found.  Please delete the old route first.";
    EXPECT_EQ(Thrown([] { Add("10.20.0.0/16", "192.168.10.2"); }), text);
    // The kernel's own subnet route counts too.
    EXPECT_EQ(Thrown([] { Add("192.168.10.0/24", "192.168.10.2"); }),
              "Duplicate route to network 192.168.10.0/24 found.  Please delete the old route first.");
    // The text comes from the kernel's status, whatever the route.
    Fault(KSI_NODE_net_tcpip_instances_v4_route, TARN_EXISTS);
    EXPECT_EQ(Thrown([] { Add("10.30.0.0/16", "192.168.10.1"); }),
              "Duplicate route to network 10.30.0.0/16 found.  Please delete the old route first.");
    Fault(KSI_NODE_net_tcpip_instances_v4_route, TARN_BUSY);
    EXPECT_EQ(Thrown([] { Add("10.30.0.0/16", "192.168.10.1"); }),
              "Unable to add route to network 10.30.0.0/16" + HostCtl::Lib::StatusTail(TARN_BUSY));
    EXPECT_EQ(KernelRoutes(), "10.20.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0");
    EXPECT_EQ(Stored(), stored);
}

TEST_F(RoutingTest, RoutesAreRecordedInTheNetstackObject) {
    Add("10.20.0.0/16", "192.168.10.1");
    Add("10.30.0.0/16", "192.168.10.2");
    EXPECT_NE(Stored().find(R"("routes":[{"gateway":"192.168.10.1","network":"10.20.0.0/16"},)"
                            R"({"gateway":"192.168.10.2","network":"10.30.0.0/16"}])"),
              std::string::npos)
        << Stored();
    // The default netstack was recorded on the way, enabled, so it stays consistent.
    EXPECT_NE(Stored().find(R"("enabled":true)"), std::string::npos) << Stored();
    EXPECT_EQ(TarnCtl::Network::NetworkInfoImpl().GetNetstackInstanceState(kStack), static_cast<uint32_t>(NETSTACK_RUNNING));
}

// ---- Removal --------------------------------------------------------------------------------

TEST_F(RoutingTest, SubnetRouteCannotBeRemoved) {
    const std::string before = Stored();
    EXPECT_EQ(Thrown([] { Remove("192.168.10.0/24", "0.0.0.0"); }),
              "Unable to delete route to 192.168.10.0/24 this route is automatically created based on the  IP "
              "address and netmask of one of the Tarnos TCP/IP  interfaces");
    EXPECT_EQ(KernelRoutes(), "192.168.10.0/24 via 0.0.0.0");
    EXPECT_EQ(Stored(), before);
}

TEST_F(RoutingTest, MissingRouteIsNamedWithItsGateway) {
    Add("10.20.0.0/16", "192.168.10.1");
    const std::string stored = Stored();
    EXPECT_EQ(Thrown([] { Remove("10.30.0.0/16", "192.168.10.1"); }),
              "Unable to find route 10.30.0.0/16 with gateway 192.168.10.1");
    EXPECT_EQ(Thrown([] { Remove("10.20.0.0/16", "192.168.10.2"); }),
              "Unable to find route 10.20.0.0/16 with gateway 192.168.10.2");
    EXPECT_EQ(KernelRoutes(), "10.20.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0");
    EXPECT_EQ(Stored(), stored);
}

TEST_F(RoutingTest, RemovedRouteStaysRemovedAfterAReboot) {
    Add("10.20.0.0/16", "192.168.10.1");
    Add("10.30.0.0/16", "192.168.10.1");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelRoutes(), "10.20.0.0/16 via 192.168.10.1,10.30.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0");
    Remove("10.20.0.0/16", "192.168.10.1");
    EXPECT_EQ(Stored().find("10.20.0.0/16"), std::string::npos) << Stored();
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelRoutes(), "10.30.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0");
    Remove("10.30.0.0/16", "192.168.10.1");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelRoutes(), "192.168.10.0/24 via 0.0.0.0");
    EXPECT_NE(Stored().find(R"("routes":[])"), std::string::npos) << Stored();
}

// ---- Rollback -------------------------------------------------------------------------------

TEST_F(RoutingTest, FailedRecordingTakesTheKernelChangeBack) {
    Add("10.20.0.0/16", "192.168.10.1");
    routing.SetTarnosDefaultGateway(Ipv4Address("192.168.10.1"), false);
    const std::string stored = Stored();
    const std::string routes = KernelRoutes();
    struct Row {
        const char* what;
        std::function<void()> change;
    };
    const Row rows[] = {
        {"add", [] { Add("10.30.0.0/16", "192.168.10.1"); }},
        {"remove", [] { Remove("10.20.0.0/16", "192.168.10.1"); }},
        {"gateway", [] { RoutingInfoImpl(kStack).SetTarnosDefaultGateway(Ipv4Address("192.168.10.7"), false); }},
        {"dhcp gateway", [] { RoutingInfoImpl(kStack).SetTarnosDefaultGateway(Ipv4Address("192.168.10.7"), true); }},
        {"unset", [] { RoutingInfoImpl(kStack).UnsetTarnosDefaultGateway(); }},
    };
    for (const Row& r : rows) {
        for (auto op : {TarnSim::StoreFault::Op::Write, TarnSim::StoreFault::Op::Commit}) {
            TarnSim::StoreFault f;
            f.op = op;
            TarnSim::InjectStoreFault(f);
            std::string text = Thrown(r.change);
            EXPECT_NE(text.find("injected fault"), std::string::npos) << r.what << ": " << text;
            EXPECT_EQ(KernelRoutes(), routes) << r.what;
            EXPECT_EQ(KernelGateway(), "192.168.10.1") << r.what;
            EXPECT_EQ(Stored(), stored) << r.what;
            TarnSim::ClearFaults();
        }
    }
}

// ---- Default gateway ------------------------------------------------------------------------

TEST_F(RoutingTest, GatewayMustBeReachableExceptTheEmptyOne) {
    EXPECT_EQ(Thrown([&] { routing.SetTarnosDefaultGateway(Ipv4Address("10.9.9.9"), false); }),
              "Unable to set Tarnos gateway address to 10.9.9.9 as there are no Tarnos interfaces on the same network "
              "with that IP address.");
    EXPECT_EQ(KernelGateway(), "0.0.0.0");
    EXPECT_EQ(Stored(), "<absent>");
    Fault(KSI_NODE_net_tcpip_instances_v4_gateway, TARN_BUSY, "", 1, TarnSim::KernelOp::Set);
    EXPECT_EQ(Thrown([&] { routing.SetTarnosDefaultGateway(Ipv4Address("192.168.10.1"), false); }),
              std::string("Unable to set Tarnos gateway address (192.168.10.1) :") +
                  TARN_ReturnStatusToString(TARN_BUSY) + ". Please verify your IP settings and try again.");
    EXPECT_EQ(Stored(), "<absent>");
    DropAddresses(true);
    routing.SetTarnosDefaultGateway(Ipv4Address("0.0.0.0"), false);
    EXPECT_EQ(KernelGateway(), "0.0.0.0");
}

TEST_F(RoutingTest, GatewaySourceComesBackAfterAReboot) {
    struct Row {
        bool dhcp;
        const char* source;
        const char* field;
    };
    for (const Row& r : {Row{false, "MANUAL", "ipv4_default_gateway"}, Row{true, "DHCP", "ipv4_effect_default_gateway"}}) {
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
        AddTarn0();
        RoutingInfoImpl(kStack).SetTarnosDefaultGateway(Ipv4Address("192.168.10.1"), r.dhcp);
        EXPECT_NE(Stored().find(std::string("\"") + r.field + "\":\"192.168.10.1\""), std::string::npos) << Stored();
        EXPECT_NE(Stored().find(std::string("\"source\":\"") + r.source + "\""), std::string::npos) << Stored();
        TarnSim::Profile::Reboot();
        RoutingInfoImpl after(kStack);
        EXPECT_EQ(after.GetTarnosDefaultGateway().GetStringAddress(), "192.168.10.1") << r.source;
        EXPECT_EQ(after.GetDefaultGatewaySource(Ipv4Network()), r.source);
        EXPECT_EQ(after.GetTarnosIpv4DefaultGatewayInterface(), "tarn0");
        EXPECT_EQ(KernelRoutes(), "0.0.0.0/0 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0");
    }
    // A manual gateway over a DHCP one: the manual one is in effect after the reboot.
    RoutingInfoImpl(kStack).SetTarnosDefaultGateway(Ipv4Address("192.168.10.3"), false);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelGateway(), "192.168.10.3");
    RoutingInfoImpl(kStack).UnsetTarnosDefaultGateway();
    EXPECT_EQ(Stored().find("ipv4_default_gateway"), std::string::npos) << Stored();
    EXPECT_NE(Stored().find(R"("source":"MANUAL")"), std::string::npos) << Stored();
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelGateway(), "0.0.0.0");
}

TEST_F(RoutingTest, DefaultNetworkRouteIsTheGateway) {
    Add("0.0.0.0/0", "192.168.10.1");
    EXPECT_EQ(KernelGateway(), "192.168.10.1");
    EXPECT_NE(Stored().find(R"("ipv4_default_gateway":"192.168.10.1")"), std::string::npos);
    EXPECT_EQ(Thrown([] { Remove("0.0.0.0/0", "192.168.10.2"); }),
              "Unable to find route 0.0.0.0/0 with gateway 192.168.10.2");
    Remove("0.0.0.0/0", "192.168.10.1");
    EXPECT_EQ(KernelGateway(), "0.0.0.0");
}

// ---- Boot mode ------------------------------------------------------------------------------

TEST_F(RoutingTest, WhileBootingChangesReachOnlyTheKernel) {
    struct Row {
        const char* what;
        std::function<void()> change;
        const char* routes;
        const char* gateway;
    };
    const Row rows[] = {
        {"add", [] { Add("10.20.0.0/16", "192.168.10.1"); }, "10.20.0.0/16 via 192.168.10.1,10.40.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0", "192.168.10.1"},
        {"remove", [] { Remove("10.40.0.0/16", "192.168.10.1"); }, "192.168.10.0/24 via 0.0.0.0", "192.168.10.1"},
        {"gateway", [] { RoutingInfoImpl(kStack).SetTarnosDefaultGateway(Ipv4Address("192.168.10.9"), false); },
         "0.0.0.0/0 via 192.168.10.9,10.40.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0", "192.168.10.9"},
        {"unset", [] { RoutingInfoImpl(kStack).UnsetTarnosDefaultGateway(); },
         "10.40.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0", "0.0.0.0"},
    };
    for (const Row& r : rows) {
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
        AddTarn0();
        Add("10.40.0.0/16", "192.168.10.1");
        RoutingInfoImpl(kStack).SetTarnosDefaultGateway(Ipv4Address("192.168.10.1"), false);
        const std::string stored = Stored();
        Booting(r.change);
        std::string routes = KernelRoutes();
        // The gateway row is listed only when one is set.
        if (std::string(r.gateway) == "192.168.10.1") routes.erase(0, routes.find(',') + 1);
        EXPECT_EQ(routes, r.routes) << r.what;
        EXPECT_EQ(KernelGateway(), r.gateway) << r.what;
        EXPECT_EQ(Stored(), stored) << r.what;
    }
}

TEST_F(RoutingTest, ReloadGoesOnPastBadEntries) {
    Put("net_stacks", "network", kStack,
        R"({"key":"defaultTcpipStack","name":"defaultTcpipStack","enabled":true,
            "routing_config":{"ipv4_default_gateway":"10.9.9.9","source":"MANUAL",
              "routes":[{"network":"10.50.0.0/16"},{"gateway":"192.168.10.1"},
                        {"network":"not-a-network","gateway":"192.168.10.1"},
                        {"network":"10.60.0.5/16","gateway":"192.168.10.1"},
                        {"network":"10.70.0.0/16","gateway":"192.168.10.1"}]}})");
    Platform::Log::Capture log;
    Booting([] { RoutingInfoImpl(kStack).LoadConfig(); });
    EXPECT_EQ(KernelRoutes(), "10.70.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0");
    EXPECT_TRUE(log.Contains("RoutingInfo: LoadConfig called on RoutingInfo"));
    EXPECT_EQ(log.Count("RoutingInfo: Missing configuration data: gateway"), 1u);
    EXPECT_EQ(log.Count("RoutingInfo: Missing configuration data: network"), 1u);
    EXPECT_EQ(log.Count("RoutingInfo: Found Bad Route, Skipping."), 3u);
    EXPECT_TRUE(log.Contains("RoutingInfo: Unable to restore Tarnos default gateway (10.9.9.9) :Unable to set Tarnos "
                             "gateway address to 10.9.9.9 as there are no Tarnos interfaces"));
    EXPECT_TRUE(log.Contains("RoutingInfo: Unable to restore Tarnos route (10.60.0.5/16) :Invalid network/netmask"));
}

// ---- Listing --------------------------------------------------------------------------------

TEST_F(RoutingTest, ListingIsOrderedByNetmask) {
    Add("10.20.0.0/16", "192.168.10.1");
    Add("10.0.0.0/8", "192.168.10.2");
    Add("10.20.30.16/28", "192.168.10.3");
    Add("10.19.0.0/16", "192.168.10.4");
    routing.SetTarnosDefaultGateway(Ipv4Address("192.168.10.1"), false);
    EXPECT_EQ(KernelRoutes(),
              "0.0.0.0/0 via 192.168.10.1,10.0.0.0/8 via 192.168.10.2,10.19.0.0/16 via 192.168.10.4,"
              "10.20.0.0/16 via 192.168.10.1,192.168.10.0/24 via 0.0.0.0,10.20.30.16/28 via 192.168.10.3");
}

TEST_F(RoutingTest, ListingSkipsRoutesThatDoNotRead) {
    Kernel([](TarnSim::KernelState& s) {
        KsiIpv4Route bad{};
        bad.network = htonl(0x0a000000);
        bad.netmask = htonl(0xff00ff00);  // not a netmask
        s.Put(KSI_NODE_net_tcpip_instances_v4_route, {kStack, "10.0.0.0/x"}, bad);
        KsiIpv6Route wide{};
        wide.prefix = 129;
        s.Put(KSI_NODE_net_tcpip_instances_v6_route, {kStack, "::/129"}, wide);
    });
    Platform::Log::Capture log;
    EXPECT_EQ(KernelRoutes(), "192.168.10.0/24 via 0.0.0.0");
    auto v6 = routing.GetCurrentIpv6TarnosRoutes(PORTSET_GET_ALL);
    ASSERT_EQ(v6.size(), 1u);
    EXPECT_EQ(v6[0].network.GetStringAddress(), "fd00:10::/64");
    EXPECT_TRUE(log.Contains("RoutingInfo: Skipping routes 10.0.0.0/x of netstack defaultTcpipStack"));
    EXPECT_TRUE(log.Contains("RoutingInfo: Skipping IPv6 routes ::/129 of netstack defaultTcpipStack"));
}

// ---- IPv6 -----------------------------------------------------------------------------------

TEST_F(RoutingTest, Ipv6RoutesAndGateway) {
    routing.AddIpv6TarnosRoute(Ipv6Network(Ipv6Address("fd00:20::"), 48), Ipv6Address("fd00:10::1"));
    routing.SetIpv6TarnosDefaultGateway(Ipv6Address("fe80::1"));
    EXPECT_EQ(Thrown([&] { routing.AddIpv6TarnosRoute(Ipv6Network(Ipv6Address("fd00:20::1"), 48),
                                                      Ipv6Address("fd00:10::1")); }),
              "Invalid network/netmask combination.  The network specificed is not valid with the given netmask.  "
              "The closest network to fd00:20::1 with netmask 48 is fd00:20::");
    EXPECT_EQ(Thrown([&] { routing.AddIpv6TarnosRoute(Ipv6Network(Ipv6Address("fd00:30::"), 48),
                                                      Ipv6Address("fd00:11::1")); }),
              "Unable to route to gateway address fd00:11::1 no route to that subnet exists");
    EXPECT_EQ(Thrown([&] { routing.RemoveIpv6TarnosRoute(Ipv6Network(Ipv6Address("fd00:10::"), 64),
                                                         Ipv6Address("::")); }),
              "Unable to delete route to fd00:10::/64 this route is automatically created based on the  IP address "
              "and netmask of one of the Tarnos TCP/IP  interfaces");
    EXPECT_NE(Stored().find(R"("v6routes":[{"gateway":"fd00:10::1","network":"fd00:20::/48"}])"), std::string::npos)
        << Stored();
    EXPECT_NE(Stored().find(R"("ipv6_default_gateway":"fe80::1")"), std::string::npos) << Stored();
    TarnSim::Profile::Reboot();
    RoutingInfoImpl after(kStack);
    auto routes = after.GetCurrentIpv6TarnosRoutes(PORTSET_GET_ALL);
    ASSERT_EQ(routes.size(), 3u);
    EXPECT_EQ(routes[0].network.GetStringAddress(), "::/0");
    EXPECT_EQ(routes[0].gateway.GetStringAddress(), "fe80::1");
    EXPECT_EQ(routes[1].network.GetStringAddress(), "fd00:20::/48");
    EXPECT_EQ(routes[2].network.GetStringAddress(), "fd00:10::/64");
    after.RemoveIpv6TarnosRoute(Ipv6Network(Ipv6Address("fd00:20::"), 48), Ipv6Address("fd00:10::1"));
    after.UnsetIpv6TarnosDefaultGateway();
    TarnSim::Profile::Reboot();
    EXPECT_EQ(RoutingInfoImpl(kStack).GetCurrentIpv6TarnosRoutes(PORTSET_GET_ALL).size(), 1u);
}

TEST_F(RoutingTest, Ipv6OperationsNeedIpv6) {
    Kernel([](TarnSim::KernelState& s) {
        uint8_t off = 0;
        s.Put(KSI_NODE_net_tcpip_instances_v6conf, {kStack}, off);
    });
    const std::function<void()> ops[] = {
        [&] { routing.SetIpv6TarnosDefaultGateway(Ipv6Address("fe80::1")); },
        [&] { routing.AddIpv6TarnosRoute(Ipv6Network(Ipv6Address("fd00:20::"), 48), Ipv6Address("fd00:10::1")); },
        [&] { routing.RemoveIpv6TarnosRoute(Ipv6Network(Ipv6Address("fd00:20::"), 48), Ipv6Address("fd00:10::1")); },
        [&] { routing.GetCurrentIpv6TarnosRoutes(PORTSET_GET_ALL); },
        [&] { routing.ClearNeighbors(true); },
    };
    for (const auto& op : ops) EXPECT_EQ(Thrown(op), "Ipv6 not Enabled");
    EXPECT_EQ(Stored(), "<absent>");
}

// ---- Neighbours -----------------------------------------------------------------------------

TEST_F(RoutingTest, NeighborsAreListedAndRemoved) {
    std::vector<Ipv4Neighbor> v4;
    routing.GetCurrentIpv4TarnosNeighbors(v4, "", PORTSET_GET_ALL);
    ASSERT_EQ(v4.size(), 2u);
    EXPECT_EQ(v4[0].address.GetStringAddress(), "192.168.10.1");
    EXPECT_EQ(v4[0].mac.GetStringAddress(), "02:00:4c:aa:01:01");
    EXPECT_EQ(routing.GetIpv4NeighborType(v4[0].type), "Dynamic");
    EXPECT_EQ(routing.GetIpv4NeighborType(v4[1].type), "Static");
    EXPECT_EQ(routing.GetIpv4NeighborType(77), "Unknown");
    std::vector<Ipv6Neighbor> v6;
    routing.GetCurrentIpv6TarnosNeighbors(v6, "tarn0", PORTSET_GET_ALL);
    ASSERT_EQ(v6.size(), 1u);
    EXPECT_EQ(routing.GetIpv6NeighborState(v6[0].state), "Stale");
    std::vector<Ipv4Neighbor> other;
    routing.GetCurrentIpv4TarnosNeighbors(other, "tarn9", PORTSET_GET_ALL);
    EXPECT_TRUE(other.empty());

    routing.RemoveIpv4Neighbor(v4[0]);
    EXPECT_EQ(Thrown([&] { routing.RemoveIpv4Neighbor(v4[0]); }), "Unable to find neighbor 192.168.10.1");
    v4.clear();
    routing.GetCurrentIpv4TarnosNeighbors(v4, "", PORTSET_GET_ALL);
    ASSERT_EQ(v4.size(), 1u);
    routing.ClearNeighbors(false);
    v4.clear();
    routing.GetCurrentIpv4TarnosNeighbors(v4, "", PORTSET_GET_ALL);
    EXPECT_TRUE(v4.empty());
}

// ---- Removal of the configuration ---------------------------------------------------------

TEST_F(RoutingTest, RemoveConfigTakesTheRoutingBranch) {
    Add("10.20.0.0/16", "192.168.10.1");
    routing.SetTarnosDefaultGateway(Ipv4Address("192.168.10.1"), false);
    Platform::Log::Capture log;
    routing.RemoveConfig(true);
    // What is left of the branch is the emptied lists.
    EXPECT_NE(Stored().find(R"("routing_config":{"routes":[]})"), std::string::npos) << Stored();
    EXPECT_TRUE(log.Contains("RoutingInfo: Removed routing configuration for netstack defaultTcpipStack"));
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelRoutes(), "192.168.10.0/24 via 0.0.0.0");
}

// ---- The address source seam --------------------------------------------------------------

class FixedSource : public TarnCtl::Network::KernelNicAddressSource {
public:
    std::vector<TarnCtl::Network::KernelNicAddresses> ListKernelNicAddresses(const std::string& key) override {
        asked.push_back(key);
        TarnCtl::Network::KernelNicAddresses nic;
        nic.name = "tarn7";
        nic.ipv4 = Ipv4Address("10.77.0.5");
        nic.netmask = Ipv4Address("255.255.0.0");
        return {nic};
    }
    std::vector<std::string> asked;
};

TEST_F(RoutingTest, ReachabilityAsksTheInstalledSource) {
    FixedSource source;
    auto* previous = TarnCtl::Network::SetKernelNicAddressSource(&source);
    EXPECT_TRUE(routing.HasLocalRouteToAddress(Ipv4Address("10.77.200.1")));
    EXPECT_FALSE(routing.HasLocalRouteToAddress(Ipv4Address("192.168.10.1")));
    EXPECT_EQ(Thrown([] { Remove("10.77.0.0/16", "10.77.0.1"); }),
              "Unable to delete route to 10.77.0.0/16 this route is automatically created based on the  IP address "
              "and netmask of one of the Tarnos TCP/IP  interfaces");
    TarnCtl::Network::SetKernelNicAddressSource(previous);
    EXPECT_EQ(source.asked, (std::vector<std::string>{kStack, kStack, kStack}));
    EXPECT_TRUE(routing.HasLocalRouteToAddress(Ipv4Address("192.168.10.1")));
}

// ---- Netstack removal ----------------------------------------------------------------------

TEST_F(RoutingTest, RemovedNetstackTakesItsKernelRoutesAlong) {
    auto start = [] {
        TarnCtl::Network::NetworkInfoImpl net;
        auto ns = net.GetNetstackInstanceByKey("vmo");
        net.AddNetstackInstance(ns.get(), false);
    };
    start();
    TarnCtl::Util::Sysinfo si(KSI_NODE_net_tcpip_instances_v4_route);
    si.SetInstance("vmo");
    for (const char* in : {"add", "10.20.0.0", "255.255.0.0", "10.0.0.1"}) si.AddInput(in);
    si.Set();
    EXPECT_EQ(RoutingInfoImpl("vmo").GetCurrentTarnosRoutes(PORTSET_GET_ALL).size(), 1u);
    TarnCtl::Network::NetworkInfoImpl().RemoveNetstackInstance("vmo", false);
    start();
    EXPECT_TRUE(RoutingInfoImpl("vmo").GetCurrentTarnosRoutes(PORTSET_GET_ALL).empty());
}

}  // namespace
}  // namespace NetTest
