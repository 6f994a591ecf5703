// Policy serialisation: teaming saved in one store transaction with unset
// items removed and the active/standby split, teaming loaded with renamed
// uplinks repaired and written back only when something changed, the other
// policies, IP settings and routes in both forms, and ParseString.
#include <sqlite3.h>

#include "configstore/configfileutil.h"
#include "network/network_info_impl.h"
#include "network/network_policy_serializer.h"
#include "network_fixture.h"
#include "platform/hostroot.h"

namespace NetTest {
namespace {

using namespace HostCtl::Network;
using TarnCtl::ConfigStoreUtil::ConfigBranchUtil;
using TarnCtl::ConfigStoreUtil::SynchronizedConfigFileUtil;
using TarnCtl::Network::NetworkPolicySerializer;

class SerializerTest : public NetHostTest {
protected:
    void SetUp() override {
        NetHostTest::SetUp();
        Put("switches", "network_vss", "vSwitch0",
            R"({"name":"vSwitch0","mtu":1500,"port_groups":[{"name":"PG1","vlan_id":5}]})");
    }
    // The switch's entry (with the switch group locked for the caller's scope).
    static ConfigBranchUtil Switch(SynchronizedConfigFileUtil& config) {
        return config->GetArray("/net/vswitch/child").FindInstanceWithValue("name", "vSwitch0");
    }
    static ConfigBranchUtil PortGroup(ConfigBranchUtil sw) {
        return sw.GetArray("portgroup/child").FindInstanceWithValue("name", "PG1");
    }
    static std::string Teaming(const std::string& pg = "") {
        auto sw = Object("switches", "network_vss", "vSwitch0");
        auto sub = NetworkPolicySerializer::GetTeamingFromCs(*sw, pg);
        return sub ? sub->GetData() : "<absent>";
    }
    // Commits made by any connection to the store since the last call.
    int64_t StoreCommits() {
        if (!_db) sqlite3_open_v2(Platform::HostPath("/var/lib/configstore/store.db").c_str(), &_db,
                                  SQLITE_OPEN_READONLY, nullptr);
        sqlite3_stmt* st = nullptr;
        sqlite3_prepare_v2(_db, "PRAGMA data_version", -1, &st, nullptr);
        int64_t v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int64(st, 0) : -1;
        sqlite3_finalize(st);
        return v;
    }
    void TearDown() override {
        if (_db) sqlite3_close(_db);
        NetHostTest::TearDown();
    }
    static NicTeamingPolicy Order(int maxActive) {
        NicTeamingPolicy p;
        p.SetTeamingPolicy(NicTeamingPolicy::FAILOVER_EXPLICIT);
        p.SetNotifySwitch(true);
        p.SetRollingRestoration(false);
        LinkCriteriaSelectionPolicy lc;
        lc.SetBeacon(false);
        p.SetLinkCriteria(lc);
        p.SetUplinkOrder({"pnx0", "pnx1", "pnx2", "pnx3"});
        if (maxActive >= 0) p.SetMaxActiveUplinks(maxActive);
        return p;
    }

private:
    sqlite3* _db = nullptr;
};

TEST_F(SerializerTest, ParseStringIgnoresCase) {
    const char* const names[] = {"NONE", "LOADBALANCE_IP", "FAILOVER_EXPLICIT", nullptr};
    EXPECT_EQ(NetworkPolicySerializer::ParseString("none", names), 0);
    EXPECT_EQ(NetworkPolicySerializer::ParseString("LoadBalance_Ip", names), 1);
    EXPECT_EQ(NetworkPolicySerializer::ParseString("FAILOVER_EXPLICIT", names), 2);
    EXPECT_EQ(Thrown([&] { NetworkPolicySerializer::ParseString("lb_ip", names); }),
              "NicTeamingPolicy Error: Invalid string: lb_ip");
    EXPECT_EQ(Thrown([&] { NetworkPolicySerializer::ParseString("", names); }), "NicTeamingPolicy Error: Invalid string: ");
}

struct SplitCase {
    int maxActive;
    const char* expected;
};

TEST_F(SerializerTest, TeamingSplitsTheOrderIntoActiveAndStandby) {
    const SplitCase cases[] = {
        {2, R"({"active_nics":["pnx0","pnx1"],"link_criteria_beacon":"TRUE","notify_switches":true,)"
            R"("policy":"FAILOVER_EXPLICIT","rolling_order":false,"standby_nics":["pnx2","pnx3"]})"},
        {9, R"({"active_nics":["pnx0","pnx1","pnx2","pnx3"],"link_criteria_beacon":"TRUE","notify_switches":true,)"
            R"("policy":"FAILOVER_EXPLICIT","rolling_order":false,"standby_nics":[]})"},
        {-1, R"({"active_nics":["pnx0","pnx1","pnx2","pnx3"],"link_criteria_beacon":"TRUE","notify_switches":true,)"
             R"("policy":"FAILOVER_EXPLICIT","rolling_order":false,"standby_nics":[]})"},
        {0, R"({"active_nics":[],"link_criteria_beacon":"TRUE","notify_switches":true,)"
            R"("policy":"FAILOVER_EXPLICIT","rolling_order":false,"standby_nics":["pnx0","pnx1","pnx2","pnx3"]})"},
        {4, R"({"active_nics":["pnx0","pnx1","pnx2","pnx3"],"link_criteria_beacon":"TRUE","notify_switches":true,)"
            R"("policy":"FAILOVER_EXPLICIT","rolling_order":false,"standby_nics":[]})"},
    };
    for (const SplitCase& c : cases) {
        SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
        auto sw = Switch(config);
        NetworkPolicySerializer::SaveConfiguration(sw, Order(c.maxActive), "vSwitch0", "");
        EXPECT_EQ(Teaming(), c.expected) << c.maxActive;
        // The caller's write afterwards leaves the store as the save made it.
        config->Write();
        EXPECT_EQ(Teaming(), c.expected) << c.maxActive;
    }
}

TEST_F(SerializerTest, TeamingSaveRemovesUnsetItemsInOneTransaction) {
    {
        SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
        auto sw = Switch(config);
        auto pg = PortGroup(sw);
        NetworkPolicySerializer::SaveConfiguration(pg, Order(1), "vSwitch0", "PG1");
        config->Write();
    }
    EXPECT_EQ(Teaming(), "<absent>");
    EXPECT_NE(Teaming("PG1").find("\"active_nics\":[\"pnx0\"]"), std::string::npos) << Teaming("PG1");
    int64_t before = StoreCommits();
    {
        SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
        auto pg = PortGroup(Switch(config));
        NicTeamingPolicy only;
        only.SetTeamingPolicy(NicTeamingPolicy::LOADBALANCE_IP);
        NetworkPolicySerializer::SaveConfiguration(pg, only, "vSwitch0", "PG1");
        EXPECT_EQ(StoreCommits(), before + 1);
        config->Write();
    }
    EXPECT_EQ(Teaming("PG1"), R"({"policy":"LOADBALANCE_IP"})");
    auto sw = Object("switches", "network_vss", "vSwitch0");
    EXPECT_NE(sw->GetData().find("\"vlan_id\":5"), std::string::npos);
}

TEST_F(SerializerTest, TeamingOfAnUnknownSwitchIsRefused) {
    SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
    auto sw = Switch(config);
    EXPECT_EQ(Thrown([&] { NetworkPolicySerializer::SaveConfiguration(sw, Order(1), "vSwitch9", ""); }),
              "Unable to find configuration of virtual switch vSwitch9");
    EXPECT_EQ(Thrown([&] { NetworkPolicySerializer::SaveConfiguration(sw, Order(1), "vSwitch0", "PG9"); }),
              "Unable to find configuration of port group PG9");
}

TEST_F(SerializerTest, TeamingLoadsFromTheStoreObject) {
    Put("switches", "network_vss", "vSwitch0",
        R"({"name":"vSwitch0","policy":{"nic_teaming":{"policy":"loadbalance_ip","notify_switches":false,)"
        R"("link_criteria_beacon":"IGNORE","active_nics":["pnx0"],"standby_nics":["pnx1","pnx2"]}}})");
    SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
    auto sw = Switch(config);
    NicTeamingPolicy p;
    NetworkPolicySerializer::LoadConfiguration(sw, p, "vSwitch0", "");
    EXPECT_EQ(p.GetTeamingPolicy(), NicTeamingPolicy::LOADBALANCE_IP);
    EXPECT_TRUE(p.HasNotifySwitch());
    EXPECT_FALSE(p.GetNotifySwitch());
    EXPECT_FALSE(p.HasRollingRestoration());
    ASSERT_TRUE(p.HasLinkCriteria());
    EXPECT_TRUE(p.GetLinkCriteria().HasBeacon());
    EXPECT_TRUE(p.GetLinkCriteria().GetBeacon());
    EXPECT_EQ(p.GetUplinkOrder(), (std::vector<std::string>{"pnx0", "pnx1", "pnx2"}));
    EXPECT_EQ(p.GetMaxActiveUplinks(), 1);

    Put("switches", "network_vss", "vSwitch0",
        R"({"name":"vSwitch0","policy":{"nic_teaming":{"policy":"round_robin"}}})");
    NicTeamingPolicy bad;
    EXPECT_EQ(Thrown([&] { NetworkPolicySerializer::LoadConfiguration(sw, bad, "vSwitch0", ""); }),
              "NicTeamingPolicy Error: Invalid string: round_robin");
}

TEST_F(SerializerTest, RenamedUplinksAreRepairedAndWrittenBackOnce) {
    // pnxOld was recorded with pnx1's MAC; pnxGone has no successor.
    Put("nics", "network", "pnxOld", R"({"name":"pnxOld","mac":"00:1b:21:0a:4c:01"})");
    TarnCtl::Network::NetworkInfoImpl().RestorePnics();
    Put("switches", "network_vss", "vSwitch0",
        R"({"name":"vSwitch0","port_groups":[{"name":"PG1","policy":{"nic_teaming":)"
        R"({"active_nics":["pnxOld","pnx0"],"standby_nics":["pnxGone"]}}}]})");
    Platform::Log::Capture log;
    int64_t before = StoreCommits();
    {
        SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
        auto pg = PortGroup(Switch(config));
        NicTeamingPolicy p;
        NetworkPolicySerializer::LoadConfiguration(pg, p, "vSwitch0", "PG1");
        EXPECT_EQ(p.GetUplinkOrder(), (std::vector<std::string>{"pnx1", "pnx0", "pnxGone"}));
        EXPECT_EQ(p.GetMaxActiveUplinks(), 2);
    }
    EXPECT_EQ(StoreCommits(), before + 1);
    EXPECT_EQ(Teaming("PG1"), R"({"active_nics":["pnx1","pnx0"],"standby_nics":["pnxGone"]})");
    EXPECT_TRUE(log.Contains("PortGroup: NIC pnxGone does not exist"));
    // Nothing left to repair: no further write.
    before = StoreCommits();
    {
        SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
        auto pg = PortGroup(Switch(config));
        NicTeamingPolicy p;
        NetworkPolicySerializer::LoadConfiguration(pg, p, "vSwitch0", "PG1");
        EXPECT_EQ(p.GetUplinkOrder(), (std::vector<std::string>{"pnx1", "pnx0", "pnxGone"}));
    }
    EXPECT_EQ(StoreCommits(), before);
}

TEST_F(SerializerTest, SecurityShapingAndCapabilitiesRoundTrip) {
    PortSecurityPolicy sec;
    sec.SetAllowPromiscuous(true);
    sec.SetAllowForgedTransmits(false);
    ShapingPolicy shaping;
    shaping.SetEnabled(true);
    shaping.SetPeakBps(2000000);
    shaping.SetBurstSize(65536);
    NicCapabilities caps;
    caps.SetVlanTag(false);
    caps.SetChecksumOffload(true);
    {
        SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
        auto sw = Switch(config);
        NetworkPolicySerializer::SaveConfiguration(sw, sec, "vSwitch0", "");
        NetworkPolicySerializer::SaveConfiguration(sw, shaping, "vSwitch0", "");
        NetworkPolicySerializer::SaveConfiguration(sw, caps, "vSwitch0", "");
        config->Write();
    }
    auto sw = Object("switches", "network_vss", "vSwitch0");
    EXPECT_EQ(NetworkPolicySerializer::GetSecurityFromCs(*sw, "")->GetData(),
              R"({"allow_promiscuous":true,"forged_transmits":false})");
    EXPECT_EQ(NetworkPolicySerializer::GetShapingFromCs(*sw, "")->GetData(),
              R"({"burst_size":65536,"enabled":true,"peak_bandwidth":2000000})");
    {
        SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
        auto branch = Switch(config);
        PortSecurityPolicy s2;
        NetworkPolicySerializer::LoadConfiguration(branch, s2, "vSwitch0", "");
        EXPECT_TRUE(s2 == sec);
        ShapingPolicy sh2;
        NetworkPolicySerializer::LoadConfiguration(branch, sh2, "vSwitch0", "");
        EXPECT_TRUE(sh2 == shaping);
        NicCapabilities c2;
        NetworkPolicySerializer::LoadConfiguration(branch, c2, "vSwitch0", "");
        EXPECT_TRUE(c2 == caps);
        // Unsetting an item removes it from the tree and the store.
        PortSecurityPolicy fewer;
        fewer.SetAllowPromiscuous(true);
        NetworkPolicySerializer::SaveConfiguration(branch, fewer, "vSwitch0", "");
        config->Write();
    }
    sw = Object("switches", "network_vss", "vSwitch0");
    EXPECT_EQ(NetworkPolicySerializer::GetSecurityFromCs(*sw, "")->GetData(), R"({"allow_promiscuous":true})");
}

TEST_F(SerializerTest, LinkCriteriaRecordOnlyTheBeacon) {
    SynchronizedConfigFileUtil config({TarnCtl::Network::kVssRoot});
    auto team = Switch(config).GetBranch("teamPolicy");
    LinkCriteriaSelectionPolicy lc;
    lc.SetMinimumSpeed(1000, false);
    lc.SetBeacon(true);
    NetworkPolicySerializer::SaveConfiguration(team, lc);
    std::string beacon;
    EXPECT_TRUE(team.GetBranch("linkCriteria").GetValue("beacon", &beacon));
    EXPECT_EQ(beacon, "ignore");
    LinkCriteriaSelectionPolicy loaded;
    NetworkPolicySerializer::LoadConfiguration(team, loaded);
    EXPECT_EQ(loaded.GetFlagSet(), static_cast<uint32_t>(LinkCriteriaSelectionPolicy::BEACON));
    EXPECT_TRUE(loaded.GetBeacon());
    lc.SetBeacon(false);
    NetworkPolicySerializer::SaveConfiguration(team, lc);
    EXPECT_TRUE(team.GetBranch("linkCriteria").GetValue("beacon", &beacon));
    EXPECT_EQ(beacon, "true");
    LinkCriteriaSelectionPolicy none;
    NetworkPolicySerializer::SaveConfiguration(team, none);
    EXPECT_FALSE(team.GetBranch("linkCriteria").HasValue("beacon"));
}

TEST_F(SerializerTest, IpConfigFileForm) {
    Put("tarnnics", "network", "tarn1", R"({"device":"tarn1"})");
    SynchronizedConfigFileUtil config({"halden/network/tarnnics"});
    auto nic = config->GetArray("/net/tarnosnic/child").FindInstanceWithValue("name", "tarn1");
    ASSERT_TRUE(static_cast<bool>(nic));
    IpConfig ip;
    ip.SetIpv4Address(Ipv4Address("10.0.0.5"));
    ip.SetIpv4Netmask(Ipv4Address("255.255.0.0"));
    ip.SetIpv4Gateway(Ipv4Address("10.0.0.1"));
    ip.EnableIpv6();
    ip.SetUseIpv6RouterAdvertised(true);
    ip.AddIpv6Network(Ipv6Network(Ipv6Address("2001:db8::5"), 64));
    NetworkPolicySerializer::SaveConfiguration(nic, ip);
    IpConfig back;
    NetworkPolicySerializer::LoadConfiguration(nic, back);
    EXPECT_EQ(back.GetIpv4Address().GetStringAddress(), "10.0.0.5");
    EXPECT_EQ(back.GetIpv4Netmask().GetStringAddress(), "255.255.0.0");
    EXPECT_EQ(back.GetIpv4Broadcast().GetStringAddress(), "10.0.255.255");
    EXPECT_EQ(back.GetIpv4Gateway().GetStringAddress(), "10.0.0.1");
    EXPECT_TRUE(back.GetUseIpv6RouterAdvertised());
    ASSERT_EQ(back.GetIpv6Network().size(), 1u);
    EXPECT_EQ(back.GetIpv6Network()[0].GetStringAddress(), "2001:db8::5/64");

    // A missing netmask reads as 255.255.255.0.
    nic.Remove("ipv4netmask");
    IpConfig defaulted;
    NetworkPolicySerializer::LoadConfiguration(nic, defaulted);
    EXPECT_EQ(defaulted.GetIpv4Netmask().GetStringAddress(), "255.255.255.0");

    auto child = nic.GetBranch("ipv6network").GetArray("child").NewInstance();
    child.SetValue("ipv6address", "2001:db8::9");
    EXPECT_EQ(Thrown([&] {
                  IpConfig missing;
                  NetworkPolicySerializer::LoadConfiguration(nic, missing);
              }),
              "Missing configuration data: ipv6netmask");
    child.Remove("ipv6address");
    child.SetValue("ipv6netmask", 64);
    EXPECT_EQ(Thrown([&] {
                  IpConfig missing;
                  NetworkPolicySerializer::LoadConfiguration(nic, missing);
              }),
              "Missing configuration data: ipv6address");
}

TEST_F(SerializerTest, IpConfigStoreForm) {
    HaldenConfigStore::ConfigStoreObject o(HaldenConfigStore::ConfigStoreObjectId("tarnnics", "network", "halden", "tarn1"));
    IpConfig ip;
    ip.SetIpv4Address(Ipv4Address("192.168.1.20"));
    ip.SetIpv4Netmask(Ipv4Address("255.255.255.0"));
    ip.EnableIpv6();
    ip.SetUseIpv6Dhcp(true);
    ip.AddIpv6Network(Ipv6Network(Ipv6Address("fd00::20"), 48));
    NetworkPolicySerializer::SaveConfiguration(o, ip);
    EXPECT_EQ(o.GetData(),
              R"({"ip":{"dhcp":false,"dhcp_dns":false,"ip_route_default_gateway":"0.0.0.0","ipv4_address":"192.168.1.20",)"
              R"("ipv4_subnet_mask":"255.255.255.0","ipv6":{"auto_configuration_enabled":false,"dhcp":true,)"
              R"("dhcp_dns":false,"ip_route_ip_v6_default_gateway":"::","ipv6_address":[{"address":"fd00::20",)"
              R"("prefix_length":48}]},"ipv6_enabled":true}})");
    IpConfig back;
    NetworkPolicySerializer::LoadConfiguration(o, back);
    EXPECT_EQ(back.GetIpv4Address().GetStringAddress(), "192.168.1.20");
    EXPECT_TRUE(back.GetUseIpv6Dhcp());
    ASSERT_EQ(back.GetIpv6Network().size(), 1u);
    EXPECT_EQ(back.GetIpv6Network()[0].GetStringAddress(), "fd00::20/48");

    // A static configuration without an address is logged and leaves the address out.
    IpConfig empty;
    empty.SetIpv4Address(Ipv4Address("0.0.0.0"));  // static, but no address
    empty.SetIpv4Netmask(Ipv4Address("255.255.255.0"));
    Platform::Log::Capture log;
    NetworkPolicySerializer::SaveConfiguration(o, empty);
    EXPECT_TRUE(log.Contains("IpConfig: No IPv4 address given for tarnnic"));
    EXPECT_EQ(o.GetData().find("ipv4_address"), std::string::npos);
}

TEST_F(SerializerTest, IpRoutingRoundTrip) {
    Put("net_stacks", "network", "vmo", R"({"key":"vmo"})");
    SynchronizedConfigFileUtil config({TarnCtl::Network::kNetstacksRoot});
    auto ns = config->GetArray("/net/netstackinstance/child").FindInstanceWithValue("key", "vmo");
    IpRouting r;
    r.SetIpv4Gateway(Ipv4Address("10.0.0.1"));
    r.AddIpv4Route(Ipv4Network("192.168.0.0/16"), Ipv4Address("10.0.0.254"));
    NetworkPolicySerializer::SaveConfiguration(ns, r);
    IpRouting back;
    NetworkPolicySerializer::LoadConfiguration(ns, back);
    EXPECT_EQ(back.GetIpv4Gateway().GetStringAddress(), "10.0.0.1");
    auto routes = back.GetIpv4Routes();
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[Ipv4Network("192.168.0.0/16")].GetStringAddress(), "10.0.0.254");
}

}  // namespace
}  // namespace NetTest
