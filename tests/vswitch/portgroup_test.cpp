// Port groups: names, VLANs, the teaming node sequence, effective versus
// recorded policy after switch setters, beacon ownership, removal while in
// use, rename, guest VLAN filters and the rollbacks of creation and of a
// switch policy change.
#include "vswitch_fixture.h"

#include "platform/misc.h"

namespace VsTest {

namespace {

class PortGroupTest : public SwitchTest {
protected:
    void SetUp() override {
        SwitchTest::SetUp();
        Info()->AddVirtualSwitch("vs1", 0);
        Info()->AddVirtualSwitch("vs2", 0);
        Switch("vs1")->AddUplink("pnx0", true);
        Switch("vs1")->AddUplink("pnx3", true);
    }
    static bool KernelHas(const std::string& pg) {
        KsiPortgroupInfo info{};
        TarnCtl::Util::Sysinfo si(KSI_PG_CREATE);
        si.SetThrowOnError(false);
        si.SetInstance("portcfg");
        si.AddInstancePath(pg);
        return si.Get(&info, sizeof info) == TARN_OK;
    }
    static std::string Inst(const std::string& pg) { return "portcfg/" + pg; }
};

}  // namespace

TEST_F(PortGroupTest, NamesAreCheckedBeforeAnythingChanges) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("taken");
    const std::string before1 = SwitchData("vs1"), before2 = SwitchData("vs2");
    struct Row {
        std::string name;
        std::string error;
    };
    const std::vector<Row> rows = {
        {"a\"b", "Invalid characters in specified  value: 'a\"b'; Cannot contain any of these characters '\"'"},
        {"", "Creating a port group with derived network policies failed: Invalid name (too long/short): ''"},
        {std::string(128, 'n'), "Creating a port group with derived network policies failed: Invalid name (too "
                                "long/short): '" + std::string(128, 'n') + "'"},
        {"taken", "A portgroup with the name taken already exists"},
    };
    for (const Row& r : rows) {
        // Unique on the host: the other switch refuses the name as well.
        EXPECT_EQ(r.error, Thrown([&] { Switch("vs2")->AddPortGroup(r.name); })) << r.name;
        if (!r.name.empty()) EXPECT_EQ(r.name == "taken", KernelHas(r.name)) << r.name;
    }
    EXPECT_EQ(before1, SwitchData("vs1"));
    EXPECT_EQ(before2, SwitchData("vs2"));

    Switch("vs2")->AddPortGroup(std::string(127, 'n'));
    EXPECT_TRUE(KernelHas(std::string(127, 'n')));
    EXPECT_NE(std::string::npos, SwitchData("vs2").find("\"name\":\"" + std::string(127, 'n') + "\",\"vlan_id\":0"));
}

TEST_F(PortGroupTest, CreationAppliesTheSwitchTeamingAndCapabilities) {
    RecordingKernel k;
    Switch("vs1")->AddPortGroup("pg1");
    auto caps = k.Of({KSI_PG_CAPABILITIES, KSI_PG_SECURITY, KSI_NODE_net_portgroups_shaper});
    ASSERT_EQ(1u, caps.size());
    EXPECT_EQ((Write{KSI_PG_CAPABILITIES, Inst("pg1"), "struct"}), caps[0]);
    KsiPortgroupCaps c{};
    TarnCtl::Util::Sysinfo si(KSI_PG_CAPABILITIES);
    si.SetInstance("portcfg");
    si.AddInstancePath("pg1");
    si.Get(&c, sizeof c);
    EXPECT_EQ(NicCapabilities::GetDefaultPolicy().GetMask(), c.mask);
    EXPECT_EQ(NicCapabilities::GetDefaultPolicy().GetFlags(), c.flags);
    EXPECT_EQ(3u, KernelInt(KSI_PG_TEAM_POLICY, {"portcfg", "pg1"}));
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx3"}), KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "pg1"}));
}

TEST_F(PortGroupTest, CreationRollsBackWhenTheDerivedPolicyCannotBeApplied) {
    const std::string before = SwitchData("vs1");
    for (uint32_t node : {KSI_PG_TEAM_FLAGS, KSI_PG_CAPABILITIES}) {
        Platform::Log::Capture log;
        Fault(node, TARN_BUSY);
        std::string error = Thrown([] { Switch("vs1")->AddPortGroup("pg1"); });
        EXPECT_EQ(0u, error.find("Creating a port group with derived network policies failed: Unable to set "));
        EXPECT_TRUE(log.Contains("PortGroup: Unable to apply derived network policy: "));
        EXPECT_TRUE(log.Contains("PortGroup: Unable to create portgroup with derived network policy: "));
        EXPECT_FALSE(KernelHas("pg1"));
        EXPECT_EQ(before, SwitchData("vs1"));
    }
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit, 0, 1});
    EXPECT_NE("<no exception>", Thrown([] { Switch("vs1")->AddPortGroup("pg1"); }));
    EXPECT_FALSE(KernelHas("pg1"));
    EXPECT_EQ(before, SwitchData("vs1"));
}

TEST_F(PortGroupTest, VlanModesAndBounds) {
    Switch("vs1")->AddPortGroup("pg1");
    auto pg = Pg("vs1", "pg1");
    struct Row {
        uint32_t id;
        const char* inputs;
    };
    for (const Row& r : std::vector<Row>{{0, "0,16"}, {1, "1,20"}, {10, "10,20"}, {4094, "4094,20"}, {4095, "4095,3"}}) {
        RecordingKernel k;
        pg->SetVlanId(r.id);
        EXPECT_EQ(std::vector<Write>{(Write{KSI_PG_VLAN, Inst("pg1"), r.inputs})}, k.Of({KSI_PG_VLAN})) << r.id;
        EXPECT_EQ(r.id, pg->GetVlanId());
        EXPECT_NE(std::string::npos, SwitchData("vs1").find("\"vlan_id\":" + std::to_string(r.id)));
    }
    const std::string before = SwitchData("vs1");
    for (uint32_t bad : {4096u, 0xffffffffu}) {
        RecordingKernel k;
        EXPECT_EQ("Invalid vlan id: " + std::to_string(bad), Thrown([&] { pg->SetVlanId(bad); }));
        EXPECT_TRUE(k.writes.empty());
    }
    EXPECT_EQ(4095u, pg->GetVlanId());
    EXPECT_EQ(before, SwitchData("vs1"));
    pg->UnsetVlanId();
    EXPECT_EQ(0u, pg->GetVlanId());
}

// The exact kernel sequence of one teaming policy, with a renamed NIC and an unknown one.
TEST_F(PortGroupTest, TeamingNodeSequenceAndFlags) {
    Switch("vs1")->AddPortGroup("pg1");
    // pnx9 was the name of the NIC now called pnx2 (same MAC).
    auto nic = [&](const std::string& name) {
        Store()->Write(HaldenConfigStore::ConfigStoreObject::FromData(
            HaldenConfigStore::ConfigStoreObjectId("nics", "network", "halden", name),
            R"({"name":")" + name + R"(","mac":"0c:42:a1:5d:70:10"})"));
    };
    nic("pnx9");
    nic("pnx2");
    NicTeamingPolicy p;
    p.SetTeamingPolicy(NicTeamingPolicy::FAILOVER_EXPLICIT);
    p.SetNotifySwitch(true);
    p.SetRollingRestoration(true);
    LinkCriteriaSelectionPolicy lc;
    lc.SetBeacon(false);
    p.SetLinkCriteria(lc);
    p.SetUplinkOrder({"pnx3", "pnx9", "pnxBad", "pnx0"});
    p.SetMaxActiveUplinks(1);
    Platform::Log::Capture log;
    RecordingKernel k;
    Pg("vs1", "pg1")->SetTeamingPolicy(p);
    const std::string i = Inst("pg1");
    const std::vector<Write> expected = {
        {KSI_PG_TEAM_POLICY, i, "4"},
        {KSI_PG_TEAM_FLAGS, i, "60"},
        {KSI_PG_LINK_CRITERIA, i, "672"},
        {KSI_PG_TEAM_FLAGS, i, "124"},
        {KSI_PG_UPLINK_ORDER, i + "/pnx0", "remove"},
        {KSI_PG_UPLINK_ORDER, i + "/pnx3", "remove"},
        {KSI_PG_UPLINK_ADD, i + "/pnx3", ""},
        {KSI_PG_UPLINK_ADD, i + "/pnx2", ""},
        {KSI_PG_UPLINK_ADD, i + "/pnx0", ""},
        {KSI_PG_MAX_ACTIVE, i, "1"},
        {KSI_PG_TEAM_FLAGS, i, "60"},
    };
    EXPECT_EQ(expected, k.Of({KSI_PG_TEAM_POLICY, KSI_PG_TEAM_FLAGS, KSI_PG_LINK_CRITERIA, KSI_PG_UPLINK_ORDER,
                              KSI_PG_UPLINK_ADD, KSI_PG_MAX_ACTIVE}));
    EXPECT_TRUE(log.Contains("PortGroup: Unable to find mapping for pnxBad"));
    EXPECT_TRUE(log.Contains("PortGroup: Not a valid pnic: pnxBad for teaming on portgroup: pg1"));
    EXPECT_FALSE(log.Contains("Unable to find mapping for pnx9"));
    EXPECT_EQ((std::vector<std::string>{"pnx3", "pnx2", "pnx0"}), KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "pg1"}));
}

TEST_F(PortGroupTest, TeamFlagsTable) {
    Switch("vs1")->AddPortGroup("pg1");
    struct Row {
        int notify, rolling;  // -1 unset
        bool beaconUsed;
        long flags, criteria;
    };
    // Unset notify and rolling come from the switch's effective policy
    // (defaults: notify on, rolling off).
    const std::vector<Row> rows = {{0, 0, false, 20, 640}, {1, 0, false, 52, 640}, {0, 1, true, 28, 672},
                                   {1, 1, true, 60, 672},  {-1, -1, false, 52, 640}};
    for (const Row& r : rows) {
        NicTeamingPolicy p;
        if (r.notify >= 0) p.SetNotifySwitch(r.notify);
        if (r.rolling >= 0) p.SetRollingRestoration(r.rolling);
        LinkCriteriaSelectionPolicy lc;
        lc.SetBeacon(!r.beaconUsed);
        p.SetLinkCriteria(lc);
        Pg("vs1", "pg1")->SetTeamingPolicy(p);
        EXPECT_EQ(static_cast<uint32_t>(r.flags), KernelInt(KSI_PG_TEAM_FLAGS, {"portcfg", "pg1"}));
        EXPECT_EQ(static_cast<uint32_t>(r.criteria), KernelInt(KSI_PG_LINK_CRITERIA, {"portcfg", "pg1"}));
    }
}

TEST_F(PortGroupTest, SwitchSetterRecordsWhatIsGivenAndAppliesDerived) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("own");
    sw->AddPortGroup("plain");
    NicTeamingPolicy own;
    own.SetTeamingPolicy(NicTeamingPolicy::FAILOVER_EXPLICIT);
    own.SetUplinkOrder({"pnx3", "pnx0"});
    own.SetMaxActiveUplinks(1);
    Pg("vs1", "own")->SetTeamingPolicy(own);

    NicTeamingPolicy lbIp;
    lbIp.SetTeamingPolicy(NicTeamingPolicy::LOADBALANCE_IP);
    sw->SetTeamingPolicy(lbIp);
    // Applied: the override stays, the plain port group follows the switch.
    EXPECT_EQ(4u, KernelInt(KSI_PG_TEAM_POLICY, {"portcfg", "own"}));
    EXPECT_EQ((std::vector<std::string>{"pnx3", "pnx0"}), KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "own"}));
    EXPECT_EQ(1u, KernelInt(KSI_PG_MAX_ACTIVE, {"portcfg", "own"}));
    EXPECT_EQ(1u, KernelInt(KSI_PG_TEAM_POLICY, {"portcfg", "plain"}));
    // Recorded: only what was given (the uplink order was dropped, nothing derived).
    auto data = SwitchData("vs1");
    EXPECT_EQ(0u, data.find(R"({"bridge":{"nics":["pnx0","pnx3"]},"link_discovery_protocol_config":{"operation":)"
                            R"("LISTEN"},"name":"vs1","policy":{"nic_teaming":{"policy":"LOADBALANCE_IP"}},)"));
    EXPECT_EQ(NicTeamingPolicy::LOADBALANCE_IP, sw->GetConfiguredTeamingPolicy().GetTeamingPolicy());
    EXPECT_FALSE(sw->GetConfiguredTeamingPolicy().HasNotifySwitch());
    EXPECT_TRUE(sw->GetTeamingPolicy().GetNotifySwitch());
    EXPECT_EQ(NicTeamingPolicy::FAILOVER_EXPLICIT, Pg("vs1", "own")->GetTeamingPolicy().GetTeamingPolicy());
    EXPECT_EQ(NicTeamingPolicy::LOADBALANCE_IP, Pg("vs1", "plain")->GetTeamingPolicy().GetTeamingPolicy());
    EXPECT_FALSE(Pg("vs1", "plain")->GetConfiguredTeamingPolicy().HasTeamingPolicy());

    // Security the same way.
    PortSecurityPolicy pgSec;
    pgSec.SetAllowForgedTransmits(true);
    Pg("vs1", "own")->SetSecurityPolicy(pgSec);
    PortSecurityPolicy swSec;
    swSec.SetAllowPromiscuous(true);
    swSec.SetAllowForgedTransmits(false);
    sw->SetSecurityPolicy(swSec);
    auto sec = [](const std::string& pg) {
        KsiPortgroupSecurity s{};
        TarnCtl::Util::Sysinfo si(KSI_PG_SECURITY);
        si.SetInstance("portcfg");
        si.AddInstancePath(pg);
        si.Get(&s, sizeof s);
        return s;
    };
    EXPECT_EQ(1, sec("own").allowPromiscuous);
    EXPECT_EQ(1, sec("own").allowForgedTransmits);
    EXPECT_EQ(0, sec("plain").allowForgedTransmits);
    EXPECT_EQ(1, sec("plain").allowPromiscuous);
    EXPECT_EQ(7, sec("plain").flags);
    EXPECT_NE(std::string::npos,
              SwitchData("vs1").find(R"("security":{"allow_promiscuous":true,"forged_transmits":false})"));
}

TEST_F(PortGroupTest, ShapingIsValidatedAndCarriedToTheShaperNode) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("pg1");
    const std::string before = SwitchData("vs1");
    ShapingPolicy bad;
    bad.SetEnabled(true);
    bad.SetPeakBps(1000);  // no burst size
    EXPECT_EQ("Invalid shaping policy on vswitch: vs1", Thrown([&] { sw->SetShapingPolicy(bad); }));
    EXPECT_EQ("Invalid shaper policy on portgroup: pg1", Thrown([&] { Pg("vs1", "pg1")->SetShapingPolicy(bad); }));
    EXPECT_EQ(before, SwitchData("vs1"));
    ShapingPolicy good = bad;
    good.SetBurstSize(4096);
    Pg("vs1", "pg1")->SetShapingPolicy(good);
    KsiPortgroupShaper s{};
    TarnCtl::Util::Sysinfo si(KSI_NODE_net_portgroups_shaper);
    si.SetInstance("portcfg");
    si.AddInstancePath("pg1");
    si.Get(&s, sizeof s);
    EXPECT_EQ(1u, s.enabled);
    EXPECT_EQ(1000u, s.peakBps);
    EXPECT_EQ(1000u, s.averageBps);  // filled from the peak
    EXPECT_EQ(4096u, s.burstSize);
}

TEST_F(PortGroupTest, SwitchPolicyChangeRollsBackThePortGroupsAlreadyChanged) {
    auto sw = Switch("vs1");
    for (const char* pg : {"a", "b", "c"}) sw->AddPortGroup(pg);
    const std::string before = SwitchData("vs1");
    // The second port group refuses.
    Fault(KSI_PG_TEAM_POLICY, TARN_BUSY, "portcfg/b", 1, TarnSim::KernelOp::Set);
    NicTeamingPolicy p;
    p.SetTeamingPolicy(NicTeamingPolicy::LOADBALANCE_SRCMAC);
    EXPECT_EQ(0u, Thrown([&] { sw->SetTeamingPolicy(p); }).find("Unable to set teaming policy on portgroup b"));
    for (const char* pg : {"a", "b", "c"}) EXPECT_EQ(3u, KernelInt(KSI_PG_TEAM_POLICY, {"portcfg", pg})) << pg;
    EXPECT_EQ(before, SwitchData("vs1"));
}

TEST_F(PortGroupTest, BeaconStaysOnUntilItsLastOwnerGoes) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("pg1");
    sw->AddPortGroup("pg2");
    NicTeamingPolicy beacon;
    LinkCriteriaSelectionPolicy lc;
    lc.SetBeacon(false);
    beacon.SetLinkCriteria(lc);
    NicTeamingPolicy noBeacon;
    lc.SetBeacon(true);
    noBeacon.SetLinkCriteria(lc);

    sw->SetBeaconInterval(7);
    sw->SetTeamingPolicy(beacon);
    EXPECT_TRUE(sw->IsBeaconEnabled());
    EXPECT_EQ(7u, sw->GetBeaconInterval());
    Pg("vs1", "pg1")->SetTeamingPolicy(beacon);
    Pg("vs1", "pg2")->SetTeamingPolicy(beacon);
    EXPECT_EQ((std::vector<std::string>{"VS:vs1", "PG:pg1", "PG:pg2"}), sw->NeedBeacon());

    sw->SetTeamingPolicy(noBeacon);
    EXPECT_TRUE(sw->IsBeaconEnabled());
    Pg("vs1", "pg1")->SetTeamingPolicy(noBeacon);
    EXPECT_TRUE(sw->IsBeaconEnabled());
    EXPECT_EQ(std::vector<std::string>{"PG:pg2"}, sw->NeedBeacon());
    // The last owner leaves by being removed.
    sw->RemovePortGroup("pg2");
    EXPECT_FALSE(sw->IsBeaconEnabled());
    EXPECT_TRUE(sw->NeedBeacon().empty());
}

TEST_F(PortGroupTest, RemovalInUseNamesEveryReasonAndChangesNothing) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("pg1");
    sw->AddPortGroup("pg2");
    Switch("vs2")->AddPortGroup("other");
    SetClients("pg1", 2, 1);
    const std::string before = SwitchData("vs1");
    std::vector<std::string> reasons;
    EXPECT_TRUE(Pg("vs1", "pg1")->IsInUse(reasons));
    EXPECT_EQ((std::vector<std::string>{"2 active ports", "Tarnos NIC"}), reasons);
    EXPECT_EQ("Unable to delete portgroup \"pg1\", for the following reasons: 2 active ports, Tarnos NIC",
              Thrown([&] { sw->RemovePortGroup("pg1"); }));
    EXPECT_EQ("Portgroup: other does not belong to this vswitch: vs1", Thrown([&] { sw->RemovePortGroup("other"); }));
    EXPECT_EQ("PortGroup \"pg1\" on VirtualSwitch \"vs1\" is still in use: 2 active ports, Tarnos NIC",
              Thrown([] { Info()->RemoveVirtualSwitch("vs1"); }));
    // Nothing went, not even the unused port group listed before it.
    EXPECT_TRUE(KernelHas("pg1"));
    EXPECT_TRUE(KernelHas("pg2"));
    EXPECT_TRUE(Info()->SwitchExists("vs1"));
    EXPECT_EQ(before, SwitchData("vs1"));

    SetClients("pg1", 0, 0);
    sw->RemovePortGroup("pg1");
    EXPECT_FALSE(KernelHas("pg1"));
    EXPECT_EQ(std::string::npos, SwitchData("vs1").find("pg1"));
    Info()->RemoveVirtualSwitch("vs1");
    EXPECT_FALSE(KernelHas("pg2"));
    EXPECT_EQ("<absent>", SwitchData("vs1"));
}

TEST_F(PortGroupTest, RenameIsOneCommittedTransaction) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("pg1");
    sw->AddPortGroup("pg2");
    ShapingPolicy shaping;
    shaping.SetEnabled(true);
    shaping.SetAverageBps(5000);
    shaping.SetBurstSize(100);
    Pg("vs1", "pg1")->SetShapingPolicy(shaping);
    Pg("vs1", "pg1")->SetVlanId(12);

    const std::string before = SwitchData("vs1");
    EXPECT_EQ("A portgroup with the name pg2 Already exists", Thrown([] { Pg("vs1", "pg1")->SetName("pg2"); }));
    EXPECT_EQ("Invalid name (too long/short): '" + std::string(128, 'r') + "'",
              Thrown([] { Pg("vs1", "pg1")->SetName(std::string(128, 'r')); }));
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit, 0, 1});
    EXPECT_NE("<no exception>", Thrown([] { Pg("vs1", "pg1")->SetName("renamed"); }));
    EXPECT_TRUE(KernelHas("pg1"));
    EXPECT_FALSE(KernelHas("renamed"));
    EXPECT_EQ(before, SwitchData("vs1"));

    auto pg = Pg("vs1", "pg1");
    pg->SetName("renamed");
    EXPECT_EQ("renamed", pg->GetName());
    EXPECT_FALSE(KernelHas("pg1"));
    EXPECT_EQ(12u, Pg("vs1", "renamed")->GetVlanId());
    KsiPortgroupShaper s{};
    TarnCtl::Util::Sysinfo si(KSI_NODE_net_portgroups_shaper);
    si.SetInstance("portcfg");
    si.AddInstancePath("renamed");
    si.Get(&s, sizeof s);
    EXPECT_EQ(5000u, s.averageBps);
    auto data = SwitchData("vs1");
    EXPECT_NE(std::string::npos, data.find(R"("name":"renamed")"));
    EXPECT_EQ(std::string::npos, data.find(R"("name":"pg1")"));
    EXPECT_NE(std::string::npos, data.find(R"("average_bandwidth":5000)"));
}

TEST_F(PortGroupTest, GuestVlanFiltersAndFenceId) {
    Switch("vs1")->AddPortGroup("pg1");
    auto pg = Pg("vs1", "pg1");
    const std::string before = SwitchData("vs1");
    EXPECT_EQ("Invalid guest VLAN range: 10-5", Thrown([&] { pg->AddGuestVlanFilter({10, 5}); }));
    EXPECT_EQ("Invalid guest VLAN range: 1-4096", Thrown([&] { pg->AddGuestVlanFilter({1, 4096}); }));
    std::vector<VlanRange> many(65, VlanRange{1, 1});
    EXPECT_EQ("Too many guest VLAN ranges: 65 (at most 64)", Thrown([&] { pg->SetGuestVlanFilters(many); }));
    EXPECT_EQ(before, SwitchData("vs1"));
    many.pop_back();
    pg->SetGuestVlanFilters(many);
    EXPECT_EQ(64u, pg->GetGuestVlanFilters().size());
    pg->ClearGuestVlanFilters();
    pg->AddGuestVlanFilter({0, 4095});
    pg->AddGuestVlanFilter({100, 200});
    EXPECT_EQ((std::vector<VlanRange>{{0, 4095}, {100, 200}}), pg->GetGuestVlanFilters());
    EXPECT_NE(std::string::npos, SwitchData("vs1").find(R"("guest_vlan_ranges":"0-4095,100-200")"));
    pg->SetFenceId(0xffffffffu);
    EXPECT_EQ(0xffffffffu, pg->GetFenceId());
    EXPECT_NE(std::string::npos, SwitchData("vs1").find(R"("fence_id":4294967295)"));
}

}  // namespace VsTest

namespace VsTest {

// A kernel refusal of any setter leaves the record as it was.
TEST_F(PortGroupTest, KernelRefusalRecordsNothing) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("pg1");
    sw->AddPortGroup("pg2");
    auto pg = Pg("vs1", "pg1");
    PortSecurityPolicy sec;
    sec.SetAllowMacAddressChange(true);
    ShapingPolicy shaping;
    shaping.SetEnabled(false);
    NicCapabilities caps;
    caps.SetVlanTag(false);
    NicTeamingPolicy team;
    team.SetTeamingPolicy(NicTeamingPolicy::NONE);
    struct Row {
        const char* what;
        uint32_t node;
        std::function<void()> set;
    };
    const std::vector<Row> rows = {
        {"vlan", KSI_PG_VLAN, [&] { pg->SetVlanId(5); }},
        {"fence", KSI_PG_FENCE_ID, [&] { pg->SetFenceId(5); }},
        {"guest vlans", KSI_NODE_net_portgroups_guestVlans, [&] { pg->AddGuestVlanFilter({1, 2}); }},
        {"pg security", KSI_PG_SECURITY, [&] { pg->SetSecurityPolicy(sec); }},
        {"pg shaping", KSI_NODE_net_portgroups_shaper, [&] { pg->SetShapingPolicy(shaping); }},
        {"pg caps", KSI_PG_CAPABILITIES, [&] { pg->SetNicCapabilities(caps); }},
        {"pg teaming", KSI_PG_TEAM_FLAGS, [&] { pg->SetTeamingPolicy(team); }},
        {"pg rename", KSI_PG_CREATE, [&] { pg->SetName("other"); }},
        {"pg remove", KSI_PG_CREATE, [&] { sw->RemovePortGroup("pg2"); }},
        {"sw security", KSI_PG_SECURITY, [&] { sw->SetSecurityPolicy(sec); }},
        {"sw shaping", KSI_NODE_net_portgroups_shaper, [&] { sw->SetShapingPolicy(shaping); }},
        {"sw caps", KSI_PG_CAPABILITIES, [&] { sw->SetNicCapabilities(caps); }},
        {"sw teaming", KSI_PG_TEAM_POLICY, [&] { sw->SetTeamingPolicy(team); }},
        {"cdp", KSI_PS_CDP_STATUS, [&] { sw->SetCdpStatus(CDP_DOWN); }},
        {"beacon interval", KSI_PS_BEACON_INTERVAL, [&] { sw->SetBeaconInterval(9); }},
        {"beacon threshold", KSI_PS_BEACON_THRESHOLD, [&] { sw->SetBeaconThreshold(9); }},
        {"mtu", KSI_NODE_net_portsets_mtu, [&] { sw->SetMTU(2000); }},
        {"overlay", KSI_NODE_net_portsets_overlays, [&] { sw->SetOverlayForIndex(1, "x"); }},
        {"remove uplink", KSI_NODE_net_portsets_unlink, [&] { sw->RemoveUplink("pnx3", false); }},
    };
    for (const Row& r : rows) {
        const std::string before = SwitchData("vs1");
        Fault(r.node, TARN_BUSY, "", 1, TarnSim::KernelOp::Set);
        EXPECT_NE("<no exception>", Thrown(r.set)) << r.what;
        EXPECT_EQ(before, SwitchData("vs1")) << r.what;
        TarnSim::ClearFaults();
    }
    EXPECT_TRUE(KernelHas("pg1"));
    EXPECT_TRUE(KernelHas("pg2"));
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx3"}), sw->GetUplinks(false));
}

TEST_F(PortGroupTest, RenameLengthBothSides) {
    Switch("vs1")->AddPortGroup("pg1");
    const std::string longest(127, 'r');
    Pg("vs1", "pg1")->SetName(longest);
    EXPECT_TRUE(KernelHas(longest));
    EXPECT_EQ("Invalid name (too long/short): ''", Thrown([&] { Pg("vs1", longest)->SetName(""); }));
    EXPECT_EQ("Invalid characters in specified  value: 'a\"'; Cannot contain any of these characters '\"'",
              Thrown([&] { Pg("vs1", longest)->SetName("a\""); }));
    EXPECT_TRUE(KernelHas(longest));
}

}  // namespace VsTest

namespace VsTest {

TEST_F(PortGroupTest, UplinksJoinPortGroupOrdersActiveOnlyWhenAllWereActive) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("all");
    sw->AddPortGroup("some");
    NicTeamingPolicy all, some;
    all.SetUplinkOrder({"pnx0", "pnx3"});
    all.SetMaxActiveUplinks(2);
    some.SetUplinkOrder({"pnx3", "pnx0"});
    some.SetMaxActiveUplinks(1);
    Pg("vs1", "all")->SetTeamingPolicy(all);
    Pg("vs1", "some")->SetTeamingPolicy(some);
    sw->AddUplink("pnx2", true);
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx3", "pnx2"}),
              Pg("vs1", "all")->GetConfiguredTeamingPolicy().GetUplinkOrder());
    EXPECT_EQ(3, Pg("vs1", "all")->GetConfiguredTeamingPolicy().GetMaxActiveUplinks());
    EXPECT_EQ(3u, KernelInt(KSI_PG_MAX_ACTIVE, {"portcfg", "all"}));
    EXPECT_EQ((std::vector<std::string>{"pnx3", "pnx0", "pnx2"}), KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "some"}));
    EXPECT_EQ(1u, KernelInt(KSI_PG_MAX_ACTIVE, {"portcfg", "some"}));
    sw->RemoveUplink("pnx3", true);
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx2"}), KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "some"}));
    EXPECT_EQ(1u, KernelInt(KSI_PG_MAX_ACTIVE, {"portcfg", "some"}));
    EXPECT_EQ(2u, KernelInt(KSI_PG_MAX_ACTIVE, {"portcfg", "all"}));
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx2"}), sw->GetConfiguredTeamingPolicy().GetUplinkOrder());
}

}  // namespace VsTest
