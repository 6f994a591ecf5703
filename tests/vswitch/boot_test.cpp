// Boot replay of recorded switches: everything comes back after a reboot, a
// renamed NIC is repaired through the rename map, and each bad record is
// logged with the replay going on.
#include "vswitch_fixture.h"

#include "network/vswitch_impl.h"

namespace VsTest {

namespace {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;

ConfigStoreObjectId SwitchId(const std::string& name) {
    return ConfigStoreObjectId("switches", "network_vss", "halden", name);
}

class BootTest : public SwitchTest {
protected:
    void SetUp() override {
        SwitchTest::SetUp();
        Info()->AddVirtualSwitch("vs1", 0);
        auto sw = Switch("vs1");
        sw->AddUplink("pnx0", true);
        sw->AddUplink("pnx2", true);
        sw->AddPortGroup("pg1");
        sw->AddPortGroup("pg2");
        Pg("vs1", "pg1")->SetVlanId(100);
        NicTeamingPolicy own;
        own.SetTeamingPolicy(NicTeamingPolicy::FAILOVER_EXPLICIT);
        own.SetUplinkOrder({"pnx2", "pnx0"});
        own.SetMaxActiveUplinks(1);
        Pg("vs1", "pg1")->SetTeamingPolicy(own);
        NicTeamingPolicy swTeam = sw->GetConfiguredTeamingPolicy();
        swTeam.SetTeamingPolicy(NicTeamingPolicy::LOADBALANCE_IP);
        sw->SetTeamingPolicy(swTeam);
        sw->SetMTU(9000);
        sw->SetCdpStatus(CDP_BOTH);
        sw->SetOverlayForIndex(2, "geneve");
    }
    static void Replay() {
        Booting([] { Info()->LoadConfig(); });
    }
    static void PutSwitch(const std::string& name, const std::string& json) {
        Store()->Write(ConfigStoreObject::FromData(SwitchId(name), json));
    }
};

}  // namespace

TEST_F(BootTest, RebootRestoresSwitchUplinksPortGroupsAndPolicies) {
    const std::string recorded = SwitchData("vs1");
    TarnSim::Profile::Reboot();
    auto sw = Switch("vs1");
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx2"}), sw->GetUplinks(false));
    EXPECT_EQ(9000u, sw->GetMTU());
    EXPECT_EQ(9000u, PnicMtu("pnx0"));
    EXPECT_EQ(9000u, PnicMtu("pnx2"));
    EXPECT_EQ(CDP_BOTH, sw->GetCdpStatus());
    EXPECT_EQ("geneve", sw->GetOverlayForIndex(2));
    EXPECT_EQ(100u, Pg("vs1", "pg1")->GetVlanId());
    EXPECT_EQ(0u, Pg("vs1", "pg2")->GetVlanId());
    // The port group keeps its override; the other follows the switch.
    EXPECT_EQ(4u, KernelInt(KSI_PG_TEAM_POLICY, {"portcfg", "pg1"}));
    EXPECT_EQ((std::vector<std::string>{"pnx2", "pnx0"}), KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "pg1"}));
    EXPECT_EQ(1u, KernelInt(KSI_PG_TEAM_POLICY, {"portcfg", "pg2"}));
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx2"}), KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "pg2"}));
    EXPECT_EQ(std::optional<bool>(true), Store()->GetBootStatus(SwitchId("vs1")));
    EXPECT_EQ(recorded, SwitchData("vs1"));
}

TEST_F(BootTest, RenamedNicIsRepairedAndABadCdpStringIsLoggedWhileTheRestGoesOn) {
    // The NIC once named pnx9 is pnx2 now (same MAC).
    for (const char* name : {"pnx9", "pnx2"})
        Store()->Write(ConfigStoreObject::FromData(ConfigStoreObjectId("nics", "network", "halden", name),
                                                   std::string(R"({"name":")") + name +
                                                       R"(","mac":"0c:42:a1:5d:70:10"})"));
    std::string data = SwitchData("vs1");
    auto replace = [&](const std::string& from, const std::string& to) {
        size_t at = data.find(from);
        ASSERT_NE(std::string::npos, at) << from;
        data.replace(at, from.size(), to);
    };
    replace(R"("nics":["pnx0","pnx2"])", R"("nics":["pnx0","pnx9"])");
    replace(R"("operation":"BOTH")", R"("operation":"SOMETIMES")");
    PutSwitch("vs1", data);
    ResetKernel();
    Platform::Log::Capture log;
    Replay();
    auto sw = Switch("vs1");
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx2"}), sw->GetUplinks(false));
    EXPECT_NE(std::string::npos, SwitchData("vs1").find(R"("bridge":{"nics":["pnx0","pnx2"]})"));
    EXPECT_TRUE(log.Contains("Invalid CDP status string"));
    EXPECT_EQ(CDP_LISTEN, sw->GetCdpStatus());
    // Later steps still ran.
    EXPECT_EQ(9000u, sw->GetMTU());
    EXPECT_EQ(100u, Pg("vs1", "pg1")->GetVlanId());
    EXPECT_EQ("geneve", sw->GetOverlayForIndex(2));
    EXPECT_EQ(std::optional<bool>(false), Store()->GetBootStatus(SwitchId("vs1")));
}

TEST_F(BootTest, EveryBadRecordIsLoggedAndSkipped) {
    PutSwitch("vs3", R"({"name":"vs3","bridge":{"nics":["pnx7","pnx3"]},"mtu":70000,)"
                     R"("overlays":[{"overlay":"lost"},{"overlay":"ok","overlay_id":4}],)"
                     R"("port_groups":[{"name":"pgA","vlan_id":5000},{"name":"pgB","vlan_id":4095},)"
                     R"({"name":"pg1","vlan_id":7}]})");
    Platform::Log::Capture log;
    Replay();
    const char* expected[] = {
        "VirtualSwitchImpl: Unable to restore uplink pnx7  of virtual swtich vs3. Reason was Unable to find mapping "
        "for pnx7: ",
        "VirtualSwitchImpl: Unable to load configuration for Portgroup pgA on virtual switch vs3: Invalid vlan id: "
        "5000",
        "VirtualSwitchImpl: Portgroup pg1 Already exists, skipping",
        "VirtualSwitchImpl: Missing overlay information for virtual switch vs3, skipping",
        "VirtualSwitchImpl: Unable to set MTU to 70000 on virtual switch vs3: ",
    };
    for (const char* line : expected) EXPECT_TRUE(log.Contains(line)) << line;
    auto sw = Switch("vs3");
    EXPECT_EQ(std::vector<std::string>{"pnx3"}, sw->GetUplinks(false));
    EXPECT_EQ(4095u, Pg("vs3", "pgB")->GetVlanId());
    EXPECT_EQ("ok", sw->GetOverlayForIndex(4));
    EXPECT_EQ(1500u, sw->GetMTU());
    EXPECT_EQ(std::optional<bool>(false), Store()->GetBootStatus(SwitchId("vs3")));
    // The existing switch was left as it was.
    EXPECT_EQ(100u, Pg("vs1", "pg1")->GetVlanId());
}

TEST_F(BootTest, ASwitchWithoutEntryOnlyWarns) {
    Platform::Log::Capture log;
    Booting([] { TarnCtl::Network::VirtualSwitchImpl("ghost").LoadConfig(); });
    EXPECT_TRUE(log.Contains("VirtualSwitchImpl: No view for virtual switch: ghost"));
    EXPECT_FALSE(Info()->SwitchExists("ghost"));
}

TEST_F(BootTest, BeaconComesBackWhenAPortGroupAsksForIt) {
    NicTeamingPolicy beacon = Pg("vs1", "pg2")->GetConfiguredTeamingPolicy();
    LinkCriteriaSelectionPolicy lc;
    lc.SetBeacon(false);
    beacon.SetLinkCriteria(lc);
    Pg("vs1", "pg2")->SetTeamingPolicy(beacon);
    Switch("vs1")->SetBeaconThreshold(9);
    TarnSim::Profile::Reboot();
    EXPECT_TRUE(Switch("vs1")->IsBeaconEnabled());
    EXPECT_EQ(9u, Switch("vs1")->GetBeaconThreshold());
    EXPECT_EQ(672u, KernelInt(KSI_PG_LINK_CRITERIA, {"portcfg", "pg2"}));
}

}  // namespace VsTest
