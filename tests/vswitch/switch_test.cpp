// Switch creation and removal, MTU with its rollback, uplinks with theirs,
// CDP, beacon settings, overlays and boot-mode replay of the switch setters.
#include "vswitch_fixture.h"

namespace VsTest {

namespace {

class VswitchTest : public SwitchTest {
protected:
    void SetUp() override {
        SwitchTest::SetUp();
        Info()->AddVirtualSwitch("vs1", 0);
    }
};

}  // namespace

TEST_F(VswitchTest, CreationRecordsTheSwitchAndRefusesDuplicatesAndBadNames) {
    EXPECT_EQ(R"({"link_discovery_protocol_config":{"operation":"LISTEN"},"name":"vs1"})", SwitchData("vs1"));
    EXPECT_EQ(CDP_LISTEN, Switch("vs1")->GetCdpStatus());
    EXPECT_EQ(Portset::DEF_NUM_PORTS, Switch("vs1")->GetNumPorts());

    EXPECT_EQ("A portset with this name already exists.  Please choose another name.",
              Thrown([] { Info()->AddVirtualSwitch("vs1", 64); }));
    EXPECT_EQ(R"({"link_discovery_protocol_config":{"operation":"LISTEN"},"name":"vs1"})", SwitchData("vs1"));
    EXPECT_EQ("Invalid characters in specified  value: 'v\"s'; Cannot contain any of these characters '\"'",
              Thrown([] { Info()->AddVirtualSwitch("v\"s", 0); }));
    EXPECT_FALSE(Info()->SwitchExists("v\"s"));

    // The kernel bounds the name: 32 bytes pass, 33 do not.
    Info()->AddVirtualSwitch(std::string(32, 'a'), 64);
    EXPECT_EQ(64u, Switch(std::string(32, 'a'))->GetNumPorts());
    EXPECT_EQ(64u, Switch(std::string(32, 'a'))->GetNumConfiguredPorts());
    EXPECT_NE("<no exception>", Thrown([] { Info()->AddVirtualSwitch(std::string(33, 'a'), 0); }));
    EXPECT_EQ("<absent>", SwitchData(std::string(33, 'a')));
}

TEST_F(VswitchTest, UnsupportedClassAndFailedRecordLeaveNoPortSet) {
    Fault(KSI_NODE_net_create, TARN_NOT_SUPPORTED);
    EXPECT_EQ("Portset class cswitch is not supported on this host. Please check the installation of supporting "
              "software.",
              Thrown([] { Info()->AddVirtualSwitch("vs2", 0); }));
    EXPECT_FALSE(Info()->SwitchExists("vs2"));

    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit, 0, 1});
    EXPECT_NE("<no exception>", Thrown([] { Info()->AddVirtualSwitch("vs2", 0); }));
    EXPECT_FALSE(Info()->SwitchExists("vs2"));
    EXPECT_EQ("<absent>", SwitchData("vs2"));
}

TEST_F(VswitchTest, RemovingAnUnknownSwitchIsRefused) {
    EXPECT_EQ("Invalid virtual switch name, not a virtual switch", Thrown([] { Info()->RemoveVirtualSwitch("nope"); }));
    Info()->RemoveVirtualSwitch("vs1");
    EXPECT_FALSE(Info()->SwitchExists("vs1"));
    EXPECT_EQ("<absent>", SwitchData("vs1"));
}

TEST_F(VswitchTest, MtuBoundsBothSides) {
    auto sw = Switch("vs1");
    sw->AddUplink("pnx2", true);
    sw->AddUplink("pnx3", true);
    for (uint32_t bad : {1279u, 9191u}) {
        EXPECT_EQ("Unable to set MTU. Valid MTU values are 1280-9190", Thrown([&] { sw->SetMTU(bad); }));
        EXPECT_EQ(1500u, sw->GetMTU());
    }
    EXPECT_EQ(std::string::npos, SwitchData("vs1").find("\"mtu\""));
    for (uint32_t good : {1280u, 9190u}) {
        sw->SetMTU(good);
        EXPECT_EQ(good, sw->GetMTU());
        EXPECT_EQ(good, PnicMtu("pnx2"));
        EXPECT_EQ(good, PnicMtu("pnx3"));
        EXPECT_NE(std::string::npos, SwitchData("vs1").find("\"mtu\":" + std::to_string(good)));
    }
}

TEST_F(VswitchTest, MtuRefusedByOneUplinkRestoresEverythingAndNamesIt) {
    auto sw = Switch("vs1");
    sw->AddUplink("pnx3", true);
    sw->AddUplink("pnx0", true);
    const std::string before = SwitchData("vs1");
    // pnx0 takes at most 9000.
    EXPECT_EQ("Unable to set MTU to 9100. The following uplinks refused the MTU setting: pnx0",
              Thrown([&] { sw->SetMTU(9100); }));
    EXPECT_EQ(1500u, sw->GetMTU());
    EXPECT_EQ(1500u, PnicMtu("pnx0"));
    EXPECT_EQ(1500u, PnicMtu("pnx3"));
    EXPECT_EQ(before, SwitchData("vs1"));

    // An injected refusal of pnx3, whose restore fails too: logged, still named.
    Platform::Log::Capture log;
    Fault(KSI_NODE_net_pNics_mtu, TARN_BUSY, "pnx3", 2, TarnSim::KernelOp::Set);
    EXPECT_EQ("Unable to set MTU to 9000. The following uplinks refused the MTU setting: pnx3",
              Thrown([&] { sw->SetMTU(9000); }));
    EXPECT_TRUE(log.Contains("VirtualSwitchImpl: Unable to restore MTU setting for pnx3: "));
    EXPECT_EQ(1500u, sw->GetMTU());
    EXPECT_EQ(1500u, PnicMtu("pnx0"));
    EXPECT_EQ(before, SwitchData("vs1"));
}

TEST_F(VswitchTest, AddUplinkTakesTheSwitchMtuFirst) {
    auto sw = Switch("vs1");
    sw->SetMTU(9000);
    RecordingKernel k;
    sw->AddUplink("pnx3", true);
    auto w = k.Of({KSI_NODE_net_pNics_mtu, KSI_NODE_net_portsets_link});
    ASSERT_GE(w.size(), 2u);
    EXPECT_EQ((Write{KSI_NODE_net_pNics_mtu, "pnx3", "9000"}), w[0]);
    EXPECT_EQ((Write{KSI_NODE_net_portsets_link, "vs1", "pnx3"}), w[1]);
    EXPECT_EQ(9000u, PnicMtu("pnx3"));
    EXPECT_EQ(std::vector<std::string>{"pnx3"}, sw->GetUplinks(false));
    EXPECT_EQ(std::vector<std::string>{"pnx3"}, sw->GetUplinks(true));
    EXPECT_EQ("Uplink already exists: pnx3", Thrown([&] { sw->AddUplink("pnx3", true); }));
    EXPECT_EQ("Not a valid pnic: pnx7", Thrown([&] { sw->AddUplink("pnx7", true); }));
}

TEST_F(VswitchTest, AddUplinkRollbacks) {
    auto sw = Switch("vs1");
    sw->SetMTU(9000);
    const std::string before = SwitchData("vs1");
    auto unchanged = [&] {
        EXPECT_TRUE(sw->GetUplinks(false).empty());
        EXPECT_EQ(1500u, PnicMtu("pnx3"));
        EXPECT_EQ(before, SwitchData("vs1"));
    };
    {
        // The NIC refuses the MTU: the MTU message, nothing linked.
        Platform::Log::Capture log;
        Fault(KSI_NODE_net_pNics_mtu, TARN_BAD_PARAM, "pnx3", 1, TarnSim::KernelOp::Set);
        EXPECT_EQ("Unable to add uplink! The MTU setting used by this virtual switch is not supported by the NIC "
                  "being added.",
                  Thrown([&] { sw->AddUplink("pnx3", true); }));
        EXPECT_TRUE(log.Contains("VirtualSwitchImpl: Unable to Add Uplink pnx3: "));
        unchanged();
    }
    // Linking fails after the MTU changed: the MTU goes back.
    Fault(KSI_NODE_net_portsets_link, TARN_BUSY);
    EXPECT_NE("<no exception>", Thrown([&] { sw->AddUplink("pnx3", true); }));
    unchanged();
    // The record fails after linking: unlinked, MTU back.
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit, 0, 1});
    EXPECT_NE("<no exception>", Thrown([&] { sw->AddUplink("pnx3", true); }));
    unchanged();
    // Updating the port groups' teaming fails: the same.
    sw->AddPortGroup("pg1");
    const std::string withPg = SwitchData("vs1");
    Fault(KSI_PG_UPLINK_ADD, TARN_BUSY);
    EXPECT_NE("<no exception>", Thrown([&] { sw->AddUplink("pnx3", true); }));
    EXPECT_TRUE(sw->GetUplinks(false).empty());
    EXPECT_EQ(1500u, PnicMtu("pnx3"));
    EXPECT_EQ(withPg, SwitchData("vs1"));
}

TEST_F(VswitchTest, UplinksJoinAndLeaveTheTeamingOrder) {
    auto sw = Switch("vs1");
    sw->AddPortGroup("pg1");
    sw->AddUplink("pnx0", true);
    sw->AddUplink("pnx3", true);
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx3"}), sw->GetConfiguredTeamingPolicy().GetUplinkOrder());
    EXPECT_EQ((std::vector<std::string>{"pnx0", "pnx3"}), KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "pg1"}));
    EXPECT_EQ(2u, KernelInt(KSI_PG_MAX_ACTIVE, {"portcfg", "pg1"}));
    sw->SetMTU(9000);
    sw->RemoveUplink("pnx0", true);
    EXPECT_EQ(std::vector<std::string>{"pnx3"}, sw->GetUplinks(false));
    EXPECT_EQ(std::vector<std::string>{"pnx3"}, KernelList(KSI_PG_UPLINK_ORDER, {"portcfg", "pg1"}));
    EXPECT_EQ(1500u, PnicMtu("pnx0"));
    EXPECT_NE(std::string::npos, SwitchData("vs1").find(R"("bridge":{"nics":["pnx3"]})"));
    EXPECT_EQ("No such uplink: pnx0", Thrown([&] { sw->RemoveUplink("pnx0", true); }));
}

TEST_F(VswitchTest, CdpBeaconAndOverlaySettings) {
    auto sw = Switch("vs1");
    sw->SetCdpStatus(CDP_BOTH);
    EXPECT_EQ("both", sw->GetCdpStatusString());
    EXPECT_NE(std::string::npos, SwitchData("vs1").find(R"("operation":"BOTH")"));
    EXPECT_EQ("Invalid CDP status: 4", Thrown([&] { sw->SetCdpStatus(static_cast<CdpStatus>(4)); }));
    EXPECT_EQ("both", sw->GetCdpStatusString());

    for (uint32_t bad : {0u, 65536u}) {
        EXPECT_EQ("Invalid beacon interval: " + std::to_string(bad), Thrown([&] { sw->SetBeaconInterval(bad); }));
        EXPECT_EQ("Invalid beacon threshold: " + std::to_string(bad), Thrown([&] { sw->SetBeaconThreshold(bad); }));
    }
    EXPECT_EQ(Portset::DEF_BEACON_INTERVAL, sw->GetBeaconInterval());
    sw->SetBeaconInterval(65535);
    sw->SetBeaconThreshold(1);
    EXPECT_EQ(65535u, sw->GetBeaconInterval());
    EXPECT_EQ(1u, sw->GetBeaconThreshold());
    EXPECT_NE(std::string::npos, SwitchData("vs1").find(R"("beacon_config":{"interval":65535,"threshold":1})"));
    sw->UnsetBeaconInterval();
    EXPECT_EQ(Portset::DEF_BEACON_INTERVAL, sw->GetBeaconInterval());

    sw->SetOverlayForIndex(3, "geneve");
    sw->SetOverlayForIndex(255, "vxlan");
    EXPECT_EQ("geneve", sw->GetOverlayForIndex(3));
    EXPECT_EQ("", sw->GetOverlayForIndex(4));
    EXPECT_NE(std::string::npos, SwitchData("vs1").find(R"({"overlay":"geneve","overlay_id":3})"));
    sw->SetOverlayForIndex(3, "");
    EXPECT_EQ("", sw->GetOverlayForIndex(3));
    EXPECT_EQ(std::string::npos, SwitchData("vs1").find("geneve"));
    EXPECT_EQ("Invalid overlay name (too long): '" + std::string(64, 'o') + "'",
              Thrown([&] { sw->SetOverlayForIndex(1, std::string(64, 'o')); }));
}

TEST_F(VswitchTest, DeprecatedAndUnavailableOperations) {
    auto sw = Switch("vs1");
    Platform::Log::Capture log;
    sw->SetNumPorts(64);
    EXPECT_TRUE(log.Contains("VirtualSwitchImpl: SetNumPorts is deprecated for virtual switch vs1"));
    EXPECT_EQ(Portset::DEF_NUM_PORTS, sw->GetNumPorts());
    EXPECT_EQ("The switch fast path is not available yet", Thrown([&] { sw->ActivateFastPath("ens"); }));
    EXPECT_EQ("Distributed switches is not available yet", Thrown([] { Info()->GetDVSwitches(); }));
}

// Setters in boot mode replay to the kernel and record nothing.
TEST_F(VswitchTest, BootModeSettersReplayAndRecordNothing) {
    auto sw = Switch("vs1");
    sw->AddUplink("pnx3", true);
    sw->AddPortGroup("pg1");
    struct Row {
        const char* what;
        std::function<void()> set;
        std::function<bool()> applied;
    };
    const std::vector<Row> rows = {
        {"mtu", [&] { sw->SetMTU(9000); }, [&] { return sw->GetMTU() == 9000 && PnicMtu("pnx3") == 9000; }},
        {"cdp", [&] { sw->SetCdpStatus(CDP_ADVERTISE); }, [&] { return sw->GetCdpStatus() == CDP_ADVERTISE; }},
        {"beacon interval", [&] { sw->SetBeaconInterval(9); }, [&] { return sw->GetBeaconInterval() == 9; }},
        {"overlay", [&] { sw->SetOverlayForIndex(1, "x"); }, [&] { return sw->GetOverlayForIndex(1) == "x"; }},
        {"security", [&] {
             PortSecurityPolicy p;
             p.SetAllowPromiscuous(true);
             sw->SetSecurityPolicy(p);
         },
         [&] {
             KsiPortgroupSecurity s{};
             TarnCtl::Util::Sysinfo si(KSI_PG_SECURITY);
             si.SetInstance("portcfg");
             si.AddInstancePath("pg1");
             si.Get(&s, sizeof s);
             return s.allowPromiscuous == 1;
         }},
        {"vlan", [&] { Pg("vs1", "pg1")->SetVlanId(42); }, [&] { return Pg("vs1", "pg1")->GetVlanId() == 42; }},
        {"fence", [&] { Pg("vs1", "pg1")->SetFenceId(5); }, [&] { return Pg("vs1", "pg1")->GetFenceId() == 5; }},
    };
    for (const Row& r : rows) {
        const std::string before = SwitchData("vs1");
        Booting(r.set);
        EXPECT_TRUE(r.applied()) << r.what;
        EXPECT_EQ(before, SwitchData("vs1")) << r.what;
    }
}

}  // namespace VsTest
