// Ports of a switch and of its port groups, access ports, per-uplink VLAN
// statistics, the switch type and the first uplink behind a port group.
#include "vswitch_fixture.h"

#include "network/vswitch_impl.h"

namespace VsTest {

namespace {

class PortsTest : public SwitchTest {
protected:
    void SetUp() override {
        SwitchTest::SetUp();
        Info()->AddVirtualSwitch("vs1", 0);
        Switch("vs1")->AddUplink("pnx2", true);
        Switch("vs1")->AddUplink("pnx3", true);
        Switch("vs1")->AddPortGroup("pg1");
        Switch("vs1")->AddPortGroup("pg2");
    }
    static std::unique_ptr<NetworkInfo> Net() { return HostCtl::HostFactory::GetHost()->GetNetworkInfo(); }
    static void SetStats(const std::string& nic, const std::string& entries) {
        Kernel([&](TarnSim::KernelState& s) { s.SetAreaValue("network.portsets", "vlanStats/" + nic, entries); });
    }
};

}  // namespace

TEST_F(PortsTest, PortListsCountUplinksThenEachPortGroupsClients) {
    SetClients("pg1", 2, 1);
    const std::vector<uint32_t> ports = Switch("vs1")->GetPortList();
    ASSERT_EQ(5u, ports.size());
    const uint32_t base = ports[0] & 0xffff0000u;
    EXPECT_NE(0u, base);
    EXPECT_EQ((std::vector<uint32_t>{base | 1, base | 2, base | 3, base | 4, base | 5}), ports);
    EXPECT_EQ((std::vector<uint32_t>{base | 3, base | 4, base | 5}), Pg("vs1", "pg1")->GetPorts());
    EXPECT_TRUE(Pg("vs1", "pg2")->GetPorts().empty());
    EXPECT_EQ(5u, Switch("vs1")->GetPortsInUse());

    // A second switch has its own number; the host-wide list holds both.
    Info()->AddVirtualSwitch("vs2", 0);
    Switch("vs2")->AddUplink("pnx0", true);
    const std::vector<uint32_t> other = Switch("vs2")->GetPortList();
    ASSERT_EQ(1u, other.size());
    EXPECT_NE(base, other[0] & 0xffff0000u);
    std::vector<std::string> all = Net()->GetAllPorts();
    for (uint32_t id : ports) EXPECT_EQ(1, std::count(all.begin(), all.end(), std::to_string(id))) << id;
    EXPECT_EQ(1, std::count(all.begin(), all.end(), std::to_string(other[0])));
    EXPECT_EQ(6u, all.size());

    // A removed uplink gives up its port.
    Switch("vs1")->RemoveUplink("pnx2", true);
    EXPECT_EQ((std::vector<uint32_t>{base | 1, base | 2, base | 3, base | 4}), Switch("vs1")->GetPortList());
}

TEST_F(PortsTest, SwitchNumbersAreReusedSmallestFirst) {
    Info()->AddVirtualSwitch("vs2", 0);
    Switch("vs2")->AddUplink("pnx0", true);
    const uint32_t second = Switch("vs2")->GetPortList()[0] & 0xffff0000u;
    Switch("vs2")->RemoveUplink("pnx0", true);
    Info()->RemoveVirtualSwitch("vs2");
    Info()->AddVirtualSwitch("vs3", 0);
    Switch("vs3")->AddUplink("pnx0", true);
    EXPECT_EQ(second | 1, Switch("vs3")->GetPortList()[0]);
}

TEST_F(PortsTest, PortsOfAMissingSwitchAreRefused) {
    TarnCtl::Network::VirtualSwitchImpl gone("nope");
    EXPECT_EQ("Unable to list ports of nope; Status(0xbad0003)= Not found", Thrown([&] { gone.GetPortList(); }));
    EXPECT_EQ("Unable to find portset nope", Thrown([&] { gone.GetNumAccessPorts(); }));
}

TEST_F(PortsTest, AccessPortsAreTheKernelNicPortsWithinTheReservedCount) {
    EXPECT_EQ(16u, Switch("vs1")->GetNumAccessPorts());
    EXPECT_EQ(0u, Switch("vs1")->GetNumAccessPortsInUse());
    SetClients("pg1", 3, 2);
    SetClients("pg2", 0, 1);
    EXPECT_EQ(3u, Switch("vs1")->GetNumAccessPortsInUse());
    // A switch smaller than the reservation has only its own ports.
    for (uint32_t n : {15u, 16u, 17u}) {
        Info()->AddVirtualSwitch("small", n);
        EXPECT_EQ(std::min(n, 16u), Switch("small")->GetNumAccessPorts()) << n;
        Info()->RemoveVirtualSwitch("small");
    }
}

TEST_F(PortsTest, UplinkVlanStatisticsAreCountedOnlyWhileEnabled) {
    Switch("vs1")->RemoveUplink("pnx3", true);
    Switch("vs1")->AddUplink("pnx0", true);
    auto sw = Switch("vs1");
    EXPECT_EQ("No such uplink: pnx1", Thrown([&] { sw->GetUplinkVlanStats("pnx1"); }));
    EXPECT_EQ("No such uplink: pnx1", Thrown([&] { sw->SetUplinkVlanStatsEnabled("pnx1", true); }));
    EXPECT_EQ("VLAN statistics are not enabled on uplink pnx0", Thrown([&] { sw->GetUplinkVlanStats("pnx0"); }));

    const std::string before = SwitchData("vs1");
    sw->SetUplinkVlanStatsEnabled("pnx0", true);
    using Stats = std::vector<std::pair<uint16_t, uint64_t>>;
    EXPECT_EQ((Stats{{0, 48210}, {100, 1532}, {4094, 7}}), sw->GetUplinkVlanStats("pnx0"));
    EXPECT_EQ("VLAN statistics are not enabled on uplink pnx2", Thrown([&] { sw->GetUplinkVlanStats("pnx2"); }));
    EXPECT_EQ(before, SwitchData("vs1"));  // a diagnostic: nothing recorded

    sw->SetUplinkVlanStatsEnabled("pnx0", false);
    EXPECT_EQ("VLAN statistics are not enabled on uplink pnx0", Thrown([&] { sw->GetUplinkVlanStats("pnx0"); }));

    // Unlinking the uplink stops the counting.
    sw->SetUplinkVlanStatsEnabled("pnx0", true);
    sw->RemoveUplink("pnx0", true);
    sw->AddUplink("pnx0", true);
    EXPECT_EQ("VLAN statistics are not enabled on uplink pnx0", Thrown([&] { sw->GetUplinkVlanStats("pnx0"); }));

    Fault(KSI_NODE_net_portsets_uplinks_vlanStats, TARN_BUSY);
    EXPECT_EQ("Unable to enable VLAN statistics on uplink pnx0; Status(0xbad0004)= Busy",
              Thrown([&] { sw->SetUplinkVlanStatsEnabled("pnx0", true); }));
    EXPECT_EQ("VLAN statistics are not enabled on uplink pnx0", Thrown([&] { sw->GetUplinkVlanStats("pnx0"); }));
}

TEST_F(PortsTest, VlanStatisticsEntriesAreCheckedOnBothSidesOfTheirLimits) {
    using TarnCtl::Network::VirtualSwitchImpl;
    EXPECT_EQ((std::pair<uint16_t, uint64_t>{4095, 0}), VirtualSwitchImpl::ParseVlanStat("4095:0"));
    EXPECT_EQ((std::pair<uint16_t, uint64_t>{0, UINT64_MAX}),
              VirtualSwitchImpl::ParseVlanStat("0:18446744073709551615"));
    for (const char* bad : {"4096:1", "0:18446744073709551616", "-1:5", "+1:5", " 1:5", "1:5x", "1:", ":5", "15",
                            "65536:1", "1:-5"})
        EXPECT_EQ(std::string("Invalid VLAN statistics entry from the kernel: '") + bad + "'",
                  Thrown([&] { VirtualSwitchImpl::ParseVlanStat(bad); }))
            << bad;

    // What the kernel hands over goes through the same check.
    Switch("vs1")->SetUplinkVlanStatsEnabled("pnx2", true);
    SetStats("pnx2", "7:1,9:18446744073709551616");
    EXPECT_EQ("Invalid VLAN statistics entry from the kernel: '9:18446744073709551616'",
              Thrown([] { Switch("vs1")->GetUplinkVlanStats("pnx2"); }));
}

TEST_F(PortsTest, SwitchTypeKeepsItsOwnAndRefusesOthers) {
    RecordingKernel k;
    auto sw = Switch("vs1");
    sw->SetType("vswitch");
    EXPECT_TRUE(k.writes.empty());
    EXPECT_EQ("Enhanced switching is not available yet", Thrown([&] { sw->SetType("ens"); }));
    EXPECT_EQ("Invalid virtual switch type: 'bogus'", Thrown([&] { sw->SetType("bogus"); }));
    EXPECT_EQ("Invalid virtual switch type: ''", Thrown([&] { sw->SetType(""); }));
    EXPECT_TRUE(k.writes.empty());
    EXPECT_EQ("vswitch", sw->GetType());
}

TEST_F(PortsTest, FirstUplinkOfAPortGroupFollowsItsTeamingOrder) {
    EXPECT_EQ("Unable to find portgroup nope", Thrown([] { Net()->GetFirstPnicFromPortGroupName("nope"); }));
    EXPECT_EQ("pnx2", Net()->GetFirstPnicFromPortGroupName("pg1"));

    NicTeamingPolicy own;
    own.SetUplinkOrder({"pnx3", "pnx2"});
    own.SetMaxActiveUplinks(1);
    Pg("vs1", "pg1")->SetTeamingPolicy(own);
    EXPECT_EQ("pnx3", Net()->GetFirstPnicFromPortGroupName("pg1"));
    EXPECT_EQ("pnx2", Net()->GetFirstPnicFromPortGroupName("pg2"));

    // An uplink gone from the switch carries nothing for the port group.
    Switch("vs1")->RemoveUplink("pnx3", true);
    EXPECT_EQ("pnx2", Net()->GetFirstPnicFromPortGroupName("pg1"));
    Switch("vs1")->RemoveUplink("pnx2", true);
    EXPECT_EQ("", Net()->GetFirstPnicFromPortGroupName("pg1"));
}

}  // namespace VsTest
