// Setters of a kernel NIC refused by the kernel change nothing; netstack and
// connection-point moves with their refusals and rollback; the network-dump
// interface cannot be removed.
#include "sim_edits.h"
#include "tarnnic_fixture.h"

#include "hostctl/status.h"

namespace NicTest {

namespace {

class SettersTest : public NicHostTest {
protected:
    void SetUp() override {
        NicHostTest::SetUp();
        Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
    }
};

std::string Busy() { return "; Status(0xbad0004)= " + std::string(TARN_ReturnStatusToString(TARN_BUSY)); }

}  // namespace

TEST_F(SettersTest, KernelRefusalsLeaveTheRecordAsItWas) {
    struct Row {
        const char* what;
        uint32_t node;
        std::function<void()> change;
        std::string error;
    };
    const std::vector<Row> rows = {
        {"mtu", KSI_NODE_net_tcpip_instances_vNics_properties, [] { Nic("pg1")->SetMtu(9000); },
         "Unable to set MTU of tarnnic tarn1" + Busy()},
        {"unset mtu", KSI_NODE_net_tcpip_instances_vNics_properties, [] { Nic("pg1")->UnsetMtu(); },
         "Unable to set MTU of tarnnic tarn1" + Busy()},
        {"mac", KSI_NODE_net_tcpip_instances_vNics_properties,
         [] { Nic("pg1")->SetMacAddress(MacAddress("02:00:4c:6a:00:77")); },
         "Unable to set MAC address of tarnnic tarn1" + Busy()},
        {"disable", KSI_NODE_net_tcpip_instances_vNics_unplumb, [] { Nic("pg1")->Disable(); },
         "Unable to unplumb tarnnic tarn1" + Busy()},
        {"ipv6", KSI_NODE_net_tcpip_instances_vNics_v6_enable,
         [] {
             IpConfig ip = Static("192.168.20.5", "255.255.255.0");
             ip.SetUseIpv6(true);
             Nic("pg1")->SetIpConfig(ip);
         },
         "Unable to enable IPv6 on tarnnic tarn1" + Busy()},
    };
    for (const Row& r : rows) {
        const std::string before = NicData("tarn1");
        Fault(r.node, TARN_BUSY, "defaultTcpipStack/tarn1", 1, TarnSim::KernelOp::Set);
        EXPECT_EQ(r.error, Thrown(r.change)) << r.what;
        EXPECT_EQ(before, NicData("tarn1")) << r.what;
        EXPECT_TRUE(Plumbed("tarn1")) << r.what;
    }
    EXPECT_EQ(1500u, KernelProps("tarn1").mtu);
    EXPECT_EQ("02:00:4c:6a:00:01", MacAddress(KernelProps("tarn1").mac).GetStringAddress());
    EXPECT_EQ("Invalid MAC address 01:00:5e:00:00:01",
              Thrown([] { Nic("pg1")->SetMacAddress(MacAddress("01:00:5e:00:00:01")); }));
}

TEST_F(SettersTest, NetstackMovesOnlyWhileDisabledAndOnlyToRunningNetstacks) {
    AddNetstack("vmo");
    const std::string before = NicData("tarn1");
    EXPECT_EQ("Cannot change netstack key while tarnnic is enabled", Thrown([] { Nic("pg1")->SetNetstackInstanceKey("vmo"); }));
    Nic("pg1")->Disable();
    EXPECT_EQ("Netstack instance nope is not valid.", Thrown([] { Nic("pg1")->SetNetstackInstanceKey("nope"); }));
    EXPECT_NE(std::string::npos, NicData("tarn1").find("\"net_stack_instance_key\":\"defaultTcpipStack\""));
    Nic("pg1")->SetNetstackInstanceKey("vmo");
    EXPECT_EQ("vmo", Nics()->GetTarnnicNetstackInstanceKey("tarn1"));
    auto nic = Nic("pg1", "vmo");
    nic->Enable();
    EXPECT_TRUE(Plumbed("tarn1", "vmo"));
    EXPECT_FALSE(Plumbed("tarn1"));
    EXPECT_NE(before, NicData("tarn1"));
}

TEST_F(SettersTest, ConnectionPointMovesAndRollsBack) {
    Add("pg2", "tarn2", IpConfig(), "", "02:00:4c:6a:00:02");
    EXPECT_EQ("A tarnos nic for the connection point already exists.", Thrown([] { Nic("pg1")->SetPortGroup("pg2"); }));
    Switch("vs1")->AddPortGroup("pg3");
    Nic("pg1")->SetPortGroup("pg3");
    EXPECT_EQ("pg3", std::string(KernelProps("tarn1").portgroup));
    EXPECT_EQ("192.168.20.5/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
    EXPECT_NE(std::string::npos, NicData("tarn1").find("\"port_group\":\"pg3\""));

    // The kernel refuses the new plumb: the NIC goes back where it was.
    Switch("vs1")->AddPortGroup("pg4");
    TarnTest::FailKernel(KSI_NODE_net_tcpip_instances_plumb, TARN_BUSY, {.op = TarnSim::KernelOp::Set});
    EXPECT_EQ("Updating ConnectionPoint failed: Unable to create tarnnic tarn1 on netstack defaultTcpipStack" + Busy() +
                  " Rollback successful, previous settings restored.",
              Thrown([] { Nic("pg3")->SetPortGroup("pg4"); }));
    EXPECT_EQ("pg3", std::string(KernelProps("tarn1").portgroup));
    EXPECT_EQ("192.168.20.5/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
    EXPECT_NE(std::string::npos, NicData("tarn1").find("\"port_group\":\"pg3\""));
    // Both plumbs refused: the rollback fails too and says so.
    TarnTest::FailKernel(KSI_NODE_net_tcpip_instances_plumb, TARN_BUSY, {.op = TarnSim::KernelOp::Set, .count = 2});
    EXPECT_EQ("Updating ConnectionPoint failed: Unable to create tarnnic tarn1 on netstack defaultTcpipStack" + Busy() +
                  " Also unable to rollback ConnectionPoint for the Nic.",
              Thrown([] { Nic("pg3")->SetPortGroup("pg4"); }));
}

TEST_F(SettersTest, TheNetworkDumpInterfaceCannotBeRemoved) {
    Put("netdump", "system", "", R"({"enabled":true,"host_vnic":"tarn1"})");
    EXPECT_EQ("Cannot delete this interface, it is currently being used for Network Dump. Please disable network dump "
              "before deleting.",
              Thrown([] { Nics()->RemoveTarnosNic("pg1", ""); }));
    EXPECT_TRUE(Plumbed("tarn1"));
    EXPECT_NE("<absent>", NicData("tarn1"));
    Put("netdump", "system", "", R"({"enabled":false,"host_vnic":"tarn1"})");
    Nics()->RemoveTarnosNic("pg1", "");
    EXPECT_EQ("<absent>", NicData("tarn1"));
}

TEST_F(SettersTest, RemovalStopsDhcpAndDeletesLeaseFiles) {
    Nic("pg1")->SetIpConfig(Dhcp());
    ASSERT_TRUE(HostCtl::Misc::HostFileExists("/var/lib/dhcp/dhclient-tarn1.leases"));
    int pid = TarnCtl::Network::Dhclient::RunningPid("tarn1", false);
    ASSERT_NE(0, pid);
    Nics()->RemoveTarnosNic("pg1", "");
    EXPECT_FALSE(TarnSim::FindProcess(pid).has_value());
    EXPECT_FALSE(HostCtl::Misc::HostFileExists("/var/lib/dhcp/dhclient-tarn1.leases"));
    EXPECT_FALSE(Plumbed("tarn1"));
}

}  // namespace NicTest
