// The management-interface chain (tag, option, default route, first NIC), the
// management address kept in the options and the hosts file, automatic
// bring-up of a host without network configuration, and clearing it.
#include "../tarnnic/tarnnic_fixture.h"
#include "network/network_util.h"
#include "platform/hostroot.h"

#include <fstream>
#include <sstream>

namespace MgmtTest {

using namespace HostCtl::Network;
using NetTest::Thrown;

namespace {

class MgmtTest : public NicTest::NicHostTest {
protected:
    static std::unique_ptr<NetworkInfo> Net() { return HostCtl::HostFactory::GetHost()->GetNetworkInfo(); }
    static void SetAdv(const std::string& branch, const std::string& option, const std::string& value) {
        TarnCtl::Network::SetAdvString(branch, option, value);
    }
    static std::string Tagged() { return Net()->GetTaggedManagementInterface(); }
    static void SetCmdline(const std::string& text) {
        Kernel([&](TarnSim::KernelState& s) {
            s.Write("", KSI_NODE_system_bootCmdLine, {}, text.c_str(), text.size() + 1);
        });
    }
    static void SetBootMac(const std::string& text) {
        Kernel([&](TarnSim::KernelState& s) { s.Write("", KSI_NODE_system_bootMAC, {}, text.c_str(), text.size() + 1); });
    }
    static std::string HostsFile() {
        std::ifstream in(Platform::HostPath("/etc/hosts"));
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
    static std::vector<std::string> SwitchNames() {
        std::vector<std::string> out;
        for (auto& sw : Info()->GetVirtualSwitches(PORTSET_GET_VSS)) out.push_back(sw->GetName());
        return out;
    }
};

}  // namespace

// One row per link of the chain: what is set up, which NIC answers, which log line says why.
TEST_F(MgmtTest, ChainPrecedence) {
    Add("pg1", "tarn5", Static("192.168.10.50", "255.255.255.0"), "", "02:00:4c:6a:00:05");
    Add("pg2", "tarn6", Static("10.0.0.60", "255.255.255.0"), "", "02:00:4c:6a:00:06");
    struct Row {
        const char* what;
        std::function<void()> setUp;
        const char* expected;
        const char* log;
    };
    const std::vector<Row> rows = {
        {"tag", [] { Net()->SetTaggedManagementInterface("tarn6"); }, "tarn6", nullptr},
        {"option",
         [] {
             Net()->UnsetTaggedManagementInterface();
             SetAdv("Net", "ManagementIface", "nope,tarn6");
         },
         "tarn6", "NetworkInfoImpl: Tagging interface tarn6 as Management (from advIface)"},
        {"default route",
         [] {
             Net()->UnsetTaggedManagementInterface();
             Net()->GetRoutingInfo("defaultTcpipStack")->SetTarnosDefaultGateway(Ipv4Address("10.0.0.1"), false);
         },
         "tarn6", "NetworkInfoImpl: Tagging tarn6 as Management"},
        {"first NIC",
         [] {
             Net()->UnsetTaggedManagementInterface();
             Net()->GetRoutingInfo("defaultTcpipStack")->UnsetTarnosDefaultGateway();
         },
         "tarn5", "SelectManagementInterface: No default route set, 2 vnics, tagged "},
    };
    for (const Row& r : rows) {
        r.setUp();
        Platform::Log::Capture log;
        auto nic = Net()->GetManagementInterface();
        ASSERT_TRUE(nic) << r.what;
        EXPECT_EQ(r.expected, nic->GetInterfaceName()) << r.what;
        EXPECT_EQ(r.expected, Tagged()) << r.what;
        if (r.log) {
            EXPECT_TRUE(log.Contains(r.log)) << r.what;
        }
    }
}

TEST_F(MgmtTest, TheTagMovesAndOnlyKernelNicsCanCarryIt) {
    Add("pg1", "tarn5", Static("192.168.10.50", "255.255.255.0"), "", "02:00:4c:6a:00:05");
    Add("pg2", "tarn6", Static("10.0.0.60", "255.255.255.0"), "", "02:00:4c:6a:00:06");
    Net()->SetManagementInterface(Nic("pg1").get());
    EXPECT_EQ("tarn5", Tagged());
    Net()->SetTaggedManagementInterface("tarn6");
    EXPECT_EQ("tarn6", Tagged());
    EXPECT_FALSE(Nic("pg1")->HasTag(TarnNicTagType::Management));
    EXPECT_EQ("tarn6", Adv("Net", "ManagementIface"));

    EXPECT_EQ("Embedded HALDEN requires a Tarnos NIC as a management interface.",
              Thrown([] { Net()->SetManagementInterface(nullptr); }));
    EXPECT_EQ("Unable to find tarnnic tarn9", Thrown([] { Net()->SetTaggedManagementInterface("tarn9"); }));
    EXPECT_EQ("tarn6", Tagged());
    Net()->UnsetTaggedManagementInterface();
    EXPECT_EQ("", Tagged());
}

TEST_F(MgmtTest, UpdateKeepsTheAddressInTheOptionsAndTheHostsFile) {
    SetAdv("Misc", "HostName", "host-a");
    Add("pg1", "tarn5", Static("192.168.10.50", "255.255.255.0"), "", "02:00:4c:6a:00:05");
    Net()->SetTaggedManagementInterface("tarn5");
    Net()->UpdateManagementInterface();
    EXPECT_EQ("192.168.10.50", Adv("Net", "ManagementAddr"));
    EXPECT_EQ("192.168.10.50", Adv("Misc", "HostIPAddr"));
    EXPECT_NE(std::string::npos, HostsFile().find("192.168.10.50")) << HostsFile();
    EXPECT_NE(std::string::npos, HostsFile().find("host-a")) << HostsFile();
}

TEST_F(MgmtTest, UpdateFollowsTheChainWithoutTagging) {
    Add("pg1", "tarn5", Static("192.168.10.50", "255.255.255.0"), "", "02:00:4c:6a:00:05");
    Add("pg2", "tarn6", Static("10.0.0.60", "255.255.255.0"), "", "02:00:4c:6a:00:06");
    Net()->UnsetTaggedManagementInterface();
    SetAdv("Net", "ManagementIface", "tarn6");
    Net()->UpdateManagementInterface();
    EXPECT_EQ("10.0.0.60", Adv("Net", "ManagementAddr"));
    EXPECT_EQ("", Tagged());
    EXPECT_EQ(0u, KernelTags("tarn5") | KernelTags("tarn6"));
}

TEST_F(MgmtTest, UpdateWithoutAnyInterfaceFallsBackToLoopback) {
    SetAdv("Net", "ManagementAddr", "192.168.10.50");
    SetAdv("Misc", "HostIPAddr", "192.168.10.50");
    Platform::Log::Capture log;
    Net()->UpdateManagementInterface();
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Cannot update Management NIC, no suitable network connection found."));
    EXPECT_EQ("127.0.0.1", Adv("Net", "ManagementAddr"));
    EXPECT_EQ("127.0.0.1", Adv("Misc", "HostIPAddr"));
}

TEST_F(MgmtTest, AutoConfigWithACommandLineUplinkAndVlan) {
    SetCmdline("runweasel autoConfigNetworkPnic=pnx3 defaultVlanId=77");
    Platform::Log::Capture log;
    Net()->AutoConfigNetwork();
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Setting boot uplink to pnx3"));
    auto sw = Switch("vSwitch0");
    EXPECT_EQ(std::vector<std::string>{"pnx3"}, sw->GetUplinks(false));
    EXPECT_EQ(Portset::DEF_NUM_PORTS, sw->GetNumConfiguredPorts());
    NicTeamingPolicy t = sw->GetConfiguredTeamingPolicy();
    EXPECT_EQ(std::vector<std::string>{"pnx3"}, t.GetUplinkOrder());
    EXPECT_EQ(1, t.GetMaxActiveUplinks());
    EXPECT_EQ(77u, Pg("vSwitch0", "Management Network")->GetVlanId());
    EXPECT_EQ(0u, Pg("vSwitch0", "VM Network")->GetVlanId());
    auto nic = Nic("Management Network", "defaultTcpipStack");
    EXPECT_TRUE(nic->GetConfiguredIpConfig().GetUseDhcp());
    EXPECT_EQ(nic->GetInterfaceName(), Tagged());
    EXPECT_EQ(nic->GetInterfaceName(), Net()->GetManagementInterface()->GetInterfaceName());
    EXPECT_EQ("pnx3", Net()->GetPnicFromInterface(nic->GetInterfaceName()));

    // Once configured, a second run changes nothing.
    Platform::Log::Capture again;
    Net()->AutoConfigNetwork();
    EXPECT_TRUE(again.Contains("NetworkInfoImpl: vSwitch0 already configured, skip auto config."));
    EXPECT_TRUE(again.Contains("NetworkInfoImpl: Management tarnnic already configured, skip auto config."));
    EXPECT_EQ(1u, Nics()->GetTarnosNicNames().size());
}

TEST_F(MgmtTest, AutoConfigFallsBackToTheBootNicMac) {
    SetCmdline("autoConfigNetworkPnic=pnx9");
    SetBootMac("01-00-1b-21-0a-4c-01");  // pnx1, after the hardware type
    Platform::Log::Capture log;
    Net()->AutoConfigNetwork();
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Couldn't find pnic pnx9 for auto config"));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Unable to auto config network from cmdline pnic"));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Setting boot uplink to pnx1"));
    EXPECT_EQ(std::vector<std::string>{"pnx1"}, Switch("vSwitch0")->GetUplinks(false));
}

TEST_F(MgmtTest, AutoConfigKeepsAnExistingFirstSwitch) {
    Info()->AddVirtualSwitch("vSwitch0", 64);
    Switch("vSwitch0")->AddPortGroup("Management Network");
    const std::string before = SwitchData("vSwitch0");
    Net()->AutoConfigNetwork();
    EXPECT_EQ(before, SwitchData("vSwitch0"));
    EXPECT_TRUE(Switch("vSwitch0")->GetUplinks(false).empty());
    EXPECT_TRUE(Nic("Management Network", "defaultTcpipStack"));
}

TEST_F(MgmtTest, AutoConfigGoesOnPastAVlanFailure) {
    SetCmdline("autoConfigNetworkPnic=pnx3 defaultVlanId=12");
    Fault(KSI_PG_VLAN, TARN_BUSY);
    Platform::Log::Capture log;
    Net()->AutoConfigNetwork();
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Unable to set vlanid on Management Network Error: "));
    EXPECT_TRUE(log.Contains("NetworkInfoImpl: Unable to AutoConfigure vlan id on management port group"));
    EXPECT_EQ(0u, Pg("vSwitch0", "Management Network")->GetVlanId());
    EXPECT_TRUE(Nic("Management Network", "defaultTcpipStack"));
}

TEST_F(MgmtTest, ClearRemovesEveryKernelNicAndSwitch) {
    SetCmdline("autoConfigNetworkPnic=pnx3");
    Net()->AutoConfigNetwork();
    Add("pg1", "tarn5", Static("192.168.10.50", "255.255.255.0"), "", "02:00:4c:6a:00:05");
    Net()->ClearNetworkConfig();
    EXPECT_TRUE(Nics()->GetTarnosNicNames().empty());
    EXPECT_TRUE(SwitchNames().empty());
    EXPECT_EQ("<absent>", SwitchData("vSwitch0"));
    EXPECT_EQ("<absent>", SwitchData("vs1"));
}

}  // namespace MgmtTest
