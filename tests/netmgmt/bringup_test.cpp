// The host's network bring-up at boot: a host without network configuration
// builds its first switch, the management port group and a DHCP management
// kernel NIC, and records them so that later boots replay them; a host with
// any kernel NIC or switch is left as configured. Also a new user's first walk
// through kernel NICs, ending with a reboot.
#include "../tarnnic/tarnnic_fixture.h"
#include "network/network_info_impl.h"
#include "platform/boot.h"

namespace MgmtTest {

using namespace HostCtl::Network;
using NetTest::Thrown;

namespace {

class BringUpTest : public VsTest::SwitchTest {
protected:
    static std::unique_ptr<NetworkInfo> Net() { return HostCtl::HostFactory::GetHost()->GetNetworkInfo(); }
    static std::unique_ptr<TarnosNicInfo> Nics() { return Net()->GetTarnosNicInfo(); }
    static std::unique_ptr<TarnNic> ByName(const std::string& name) {
        auto nic = Nics()->GetTarnosNicByInterface(name, true, PORTSET_GET_ALL);
        if (!nic) throw std::runtime_error("no kernel NIC " + name);
        return nic;
    }
    static std::string Adv(const std::string& branch, const std::string& option) {
        return TarnCtl::Network::GetAdvString(branch, option);
    }
    // The outcome of one boot step, "<missing>" when it did not run.
    static std::string Outcome(const std::vector<Platform::Boot::Outcome>& all, const std::string& name) {
        for (const auto& o : all)
            if (o.name == name) return o.ok ? "ok" : "failed: " + o.error;
        return "<missing>";
    }
    // "name pg address/mask dhcp tags mac" of a kernel NIC as the library reports it.
    static std::string Summary(const std::string& name) {
        auto nic = ByName(name);
        IpConfig ip = nic->GetIpConfig();
        std::string tags;
        for (TarnNicTagType t : nic->GetTags()) tags += (tags.empty() ? "" : ",") + TarnNicTagName(t);
        return name + " " + nic->GetPortGroupName() + " " + ip.GetIpv4Address().GetStringAddress() + "/" +
               ip.GetIpv4Netmask().GetStringAddress() + (ip.GetUseDhcp() ? " dhcp " : " static ") + tags + " " +
               nic->GetMacAddress().GetStringAddress();
    }
    static std::string KernelAddress(const std::string& name) {
        KsiVnicIpv4Address a{};
        Kernel([&](TarnSim::KernelState& s) {
            s.Read(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, {"defaultTcpipStack", name}, &a);
        });
        return Ipv4Address(a.address).GetStringAddress();
    }
    static std::vector<std::string> DhcpClients() {
        std::vector<std::string> out;
        for (const auto& p : TarnSim::Processes())
            if (p.name == "dhclient-uw") out.push_back(p.pidFile);
        return out;
    }
};

}  // namespace

TEST_F(BringUpTest, TheFirstBootBringsUpTheManagementNetworkAndRecordsIt) {
    EXPECT_TRUE(Nics()->GetTarnosNicNames().empty());
    EXPECT_FALSE(Net()->GetManagementInterface());
    Platform::Log::Capture log;
    auto outcomes = TarnSim::Profile::Reboot();
    EXPECT_EQ("ok", Outcome(outcomes, "network.autoconfig"));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: No network configuration, configuring the network automatically"));
    // The default profile's boot NIC is pnx0.
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Setting boot uplink to pnx0"));
    EXPECT_EQ(std::vector<std::string>{"pnx0"}, Switch("vSwitch0")->GetUplinks(false));

    ASSERT_EQ(std::vector<std::string>{"tarn0"}, Nics()->GetTarnosNicNames());
    auto nic = ByName("tarn0");
    EXPECT_EQ("Management Network", nic->GetPortGroupName());
    EXPECT_EQ("defaultTcpipStack", nic->GetNetstackInstanceKey());
    IpConfig configured = nic->GetConfiguredIpConfig();
    EXPECT_TRUE(configured.GetUseDhcp());
    EXPECT_TRUE(configured.GetDhcpDns());
    EXPECT_TRUE(configured.GetUseIpv6RouterAdvertised());
    // The simulated server of VLAN 0 leases its first address.
    EXPECT_EQ("192.168.10.100", KernelAddress("tarn0"));
    EXPECT_TRUE(nic->GetDhcpBound());
    EXPECT_EQ("192.168.10.1", nic->GetDhcpServer());
    EXPECT_EQ(std::vector<std::string>{"/var/run/dhcp-tarn0.pid"}, DhcpClients());
    EXPECT_EQ("tarn0", Net()->GetManagementInterface()->GetInterfaceName());
    EXPECT_EQ("tarn0", Adv("Net", "ManagementIface"));
    EXPECT_EQ("192.168.10.100", Adv("Net", "ManagementAddr"));
    EXPECT_EQ("192.168.10.100", Adv("Misc", "HostIPAddr"));

    // Recorded as new configuration, not as a replay: the store holds all of it.
    const std::string stored = Data("tarnnics", "network", "tarn0");
    EXPECT_NE(std::string::npos, stored.find("\"enabled\":true")) << stored;
    EXPECT_NE(std::string::npos, stored.find("\"management\":true")) << stored;
    EXPECT_NE(std::string::npos, stored.find("\"port_group\":\"Management Network\"")) << stored;
    EXPECT_NE("<absent>", SwitchData("vSwitch0"));
    EXPECT_NE(std::string::npos, SwitchData("vSwitch0").find("VM Network"));
    EXPECT_FALSE(Platform::Boot::InProgress());
}

TEST_F(BringUpTest, LaterBootsReplayTheBringUpUnchanged) {
    TarnSim::Profile::Reboot();
    const std::string before = Summary("tarn0");
    const std::string storedNic = Data("tarnnics", "network", "tarn0");
    const std::string storedSwitch = SwitchData("vSwitch0");
    Platform::Log::Capture log;
    auto outcomes = TarnSim::Profile::Reboot();
    EXPECT_EQ("ok", Outcome(outcomes, "network.autoconfig"));
    EXPECT_FALSE(log.Contains("No network configuration, configuring the network automatically"));
    EXPECT_EQ(before, Summary("tarn0"));
    EXPECT_EQ("tarn0 Management Network 192.168.10.100/255.255.255.0 dhcp Management",
              before.substr(0, before.rfind(' ')));
    EXPECT_EQ(std::vector<std::string>{"tarn0"}, Nics()->GetTarnosNicNames());
    EXPECT_EQ(storedNic, Data("tarnnics", "network", "tarn0"));
    EXPECT_EQ(storedSwitch, SwitchData("vSwitch0"));
    EXPECT_EQ("tarn0", Net()->GetManagementInterface()->GetInterfaceName());
    EXPECT_EQ(std::vector<std::string>{"/var/run/dhcp-tarn0.pid"}, DhcpClients());
}

// Only a host with neither kernel NICs nor switches builds its own network.
TEST_F(BringUpTest, AConfiguredHostIsLeftAsConfigured) {
    struct Row {
        const char* what;
        std::function<void()> setUp;
    };
    const std::vector<Row> rows = {
        {"a switch", [] { Info()->AddVirtualSwitch("vs1", 0); }},
        {"a kernel NIC",
         [] {
             Info()->AddVirtualSwitch("vs1", 0);
             Switch("vs1")->AddPortGroup("pg1");
             IpConfig ip;
             ip.SetIpv4Address(Ipv4Address("10.1.0.5"));
             ip.SetIpv4Netmask(Ipv4Address("255.255.0.0"));
             Nics()->AddTarnosNic("pg1", "", ip, MacAddress("02:00:4c:6a:00:01"), 0, 0, 0, "");
             // Removing the switch record leaves a kernel NIC as the only configuration.
             Store()->Delete(HaldenConfigStore::ConfigStoreObjectId("switches", "network_vss", "halden", "vs1"));
         }},
    };
    for (const Row& r : rows) {
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
        r.setUp();
        EXPECT_TRUE(TarnCtl::Network::NetworkInfoImpl::HasNetworkConfiguration()) << r.what;
        Platform::Log::Capture log;
        auto outcomes = TarnSim::Profile::Reboot();
        EXPECT_EQ("ok", Outcome(outcomes, "network.autoconfig")) << r.what;
        EXPECT_TRUE(log.Contains("NetworkInfoImpl: Network already configured, no auto config at boot")) << r.what;
        EXPECT_EQ("<absent>", SwitchData("vSwitch0")) << r.what;
        EXPECT_FALSE(Nics()->TarnosNicConfigExists(ConnectionPoint::PortGroup("Management Network"), "")) << r.what;
    }
    TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    EXPECT_FALSE(TarnCtl::Network::NetworkInfoImpl::HasNetworkConfiguration());
}

// A failing bring-up is the step's failure; the boot goes on and nothing half-made is recorded as the NIC.
TEST_F(BringUpTest, AFailedBringUpFailsItsStepOnly) {
    Fault(KSI_NODE_net_tcpip_instances_plumb, TARN_BUSY);
    auto outcomes = TarnSim::Profile::Reboot();
    EXPECT_EQ(0u, Outcome(outcomes, "network.autoconfig").find("failed: Unable to create tarnnic tarn0"))
        << Outcome(outcomes, "network.autoconfig");
    EXPECT_EQ("ok", Outcome(outcomes, "network.routes"));
    EXPECT_TRUE(Nics()->GetTarnosNicNames().empty());
    EXPECT_EQ("<absent>", Data("tarnnics", "network", "tarn0"));
    // The next boot finds the switch and brings up the NIC.
    outcomes = TarnSim::Profile::Reboot();
    EXPECT_EQ("ok", Outcome(outcomes, "network.autoconfig"));
    EXPECT_EQ(std::vector<std::string>{"tarn0"}, Nics()->GetTarnosNicNames());
}

// What a new user does: a management NIC from the first boot, a second NIC with a
// static address on a new port group tagged for migration, DHCP on and off, a reboot.
TEST_F(BringUpTest, ANewUsersWalkSurvivesAReboot) {
    TarnSim::Profile::Reboot();
    Switch("vSwitch0")->AddPortGroup("Migration");
    Pg("vSwitch0", "Migration")->SetVlanId(20);
    IpConfig ip;
    ip.SetIpv4Address(Ipv4Address("10.20.1.5"));
    ip.SetIpv4Netmask(Ipv4Address("255.255.0.0"));
    Nics()->AddTarnosNic("Migration", "", ip, MacAddress(), 0, 0, 0, "");
    ByName("tarn1")->AddTag(TarnNicTagType::VelMove, true);
    EXPECT_EQ("tarn1", Adv("Migrate", "Tarnnic"));
    EXPECT_EQ("10.20.1.5", KernelAddress("tarn1"));

    IpConfig dhcp;
    dhcp.SetUseDhcp(true);
    ByName("tarn1")->SetIpConfig(dhcp);
    EXPECT_EQ("10.20.0.50", KernelAddress("tarn1"));  // VLAN 20's server
    EXPECT_EQ(2u, DhcpClients().size());
    ByName("tarn1")->SetIpConfig(ip);
    EXPECT_EQ("10.20.1.5", KernelAddress("tarn1"));
    EXPECT_EQ(std::vector<std::string>{"/var/run/dhcp-tarn0.pid"}, DhcpClients());

    const std::string mgmt = Summary("tarn0"), second = Summary("tarn1");
    EXPECT_EQ("tarn1 Migration 10.20.1.5/255.255.0.0 static Velmove", second.substr(0, second.rfind(' ')));
    TarnSim::Profile::Reboot();
    EXPECT_EQ(mgmt, Summary("tarn0"));
    EXPECT_EQ(second, Summary("tarn1"));
    EXPECT_EQ("10.20.1.5", KernelAddress("tarn1"));
    EXPECT_EQ("192.168.10.100", KernelAddress("tarn0"));
    EXPECT_EQ("tarn0", Net()->GetManagementInterface()->GetInterfaceName());
    EXPECT_EQ("tarn1", Adv("Migrate", "Tarnnic"));
    EXPECT_EQ("192.168.10.100", Adv("Net", "ManagementAddr"));
}

}  // namespace MgmtTest
