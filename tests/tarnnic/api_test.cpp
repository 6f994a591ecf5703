// The facade for other programs (touching a NIC, the address distributed
// storage should use), a DHCPv6 client whose state cannot be decided, and the
// network dump client's re-enable on an address change.
#include "tarnnic_fixture.h"

#include "network/tarnnic_hooks.h"

namespace NicTest {

namespace {

using TarnCtl::Network::TarnosNicApi;

struct TagCall {
    std::string nic;
    TarnNicTagType tag;
    bool set;
    bool operator==(const TagCall& o) const { return nic == o.nic && tag == o.tag && set == o.set; }
};
std::vector<TagCall> gCalls;
void OnTag(const std::string& nic, TarnNicTagType tag, bool set) { gCalls.push_back({nic, tag, set}); }

class ApiTest : public NicHostTest {
protected:
    static void SetUpTestSuite() { TarnosNicApi::AddTarnosNicReconfigTagCallback(OnTag); }
    void SetUp() override {
        NicHostTest::SetUp();
        _wait = TarnCtl::Network::Dhclient::SetPidWait(std::chrono::milliseconds(0));
        gCalls.clear();
    }
    void TearDown() override {
        TarnCtl::Network::Dhclient::SetPidWait(_wait);
        NicHostTest::TearDown();
    }
    // The NIC disappears from the kernel behind the library's back.
    static void LoseInKernel(const std::string& name) {
        TarnCtl::Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_unplumb);
        si.SetInstance("defaultTcpipStack");
        si.AddInstancePath(name);
        si.Set();
    }
    static std::pair<std::string, bool> Preferred(const std::string& name) {
        std::string address = "untouched";
        bool v6 = true;
        TarnosNicApi::GetPreferredVitNetworkAddressForTarnNic(name, address, v6);
        return {address, v6};
    }
    std::chrono::milliseconds _wait{};
};

IpConfig V6Only(const std::string& network) {
    IpConfig ip;
    ip.SetIpv4UseNone();
    ip.SetUseIpv6(true);
    if (!network.empty()) ip.AddIpv6Network(Ipv6Network(network));
    return ip;
}

}  // namespace

TEST_F(ApiTest, TouchPlumbsALostNicAgainAndAnnouncesItsTags) {
    Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
    Nic("pg1")->AddTag(TarnNicTagType::VelMove, true);
    Nic("pg1")->AddTag(TarnNicTagType::Morra, true);
    gCalls.clear();
    const std::string before = NicData("tarn1");
    LoseInKernel("tarn1");
    ASSERT_FALSE(Plumbed("tarn1"));
    TarnosNicApi::TouchTarnosNic("tarn1");
    EXPECT_TRUE(Plumbed("tarn1"));
    EXPECT_EQ("192.168.20.5/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
    EXPECT_EQ((1u << 1) | (1u << 6), KernelTags("tarn1"));
    EXPECT_EQ((std::vector<TagCall>{{"tarn1", TarnNicTagType::VelMove, true}, {"tarn1", TarnNicTagType::Morra, true}}),
              gCalls);
    EXPECT_EQ(before, NicData("tarn1"));

    // A plumbed NIC is not plumbed twice; a disabled one stays disabled.
    OrderedKernel k;
    TarnosNicApi::TouchTarnosNic("tarn1");
    EXPECT_TRUE(k.Of({KSI_NODE_net_tcpip_instances_plumb}).empty());
    Nic("pg1")->Disable();
    TarnosNicApi::TouchTarnosNic("tarn1");
    EXPECT_FALSE(Plumbed("tarn1"));
    EXPECT_EQ("Unable to find tarnnic tarn9", Thrown([] { TarnosNicApi::TouchTarnosNic("tarn9"); }));
}

TEST_F(ApiTest, ThePreferredAddressIsIpv4ElseTheFirstIpv6BeyondTheLink) {
    Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
    EXPECT_EQ(std::make_pair(std::string("192.168.20.5"), false), Preferred("tarn1"));

    Add("pg2", "tarn2", V6Only("fe80::5/64"), "", "02:00:4c:6a:00:02");
    EXPECT_EQ("Tarnnic tarn2 has no usable address", Thrown([] { Preferred("tarn2"); }));
    IpConfig both = V6Only("fe80::5/64");
    both.AddIpv6Network(Ipv6Network("febf::7/64"));  // the last of fe80::/10
    both.AddIpv6Network(Ipv6Network("fec0::6/64"));
    Nic("pg2")->SetIpConfig(both);
    EXPECT_EQ(std::make_pair(std::string("fec0::6"), true), Preferred("tarn2"));

    Nic("pg1")->Disable();
    EXPECT_EQ("Tarnnic tarn1 is not enabled", Thrown([] { Preferred("tarn1"); }));
    EXPECT_EQ("Unable to find tarnnic tarn9", Thrown([] { Preferred("tarn9"); }));
    std::string address = "kept";
    bool v6 = true;
    EXPECT_ANY_THROW(TarnosNicApi::GetPreferredVitNetworkAddressForTarnNic("tarn9", address, v6));
    EXPECT_EQ("kept", address);
}

// A DHCPv6 PID file that names no process leaves the client's state open: the
// change is refused before anything reaches the kernel, the programs or the store.
TEST_F(ApiTest, AnUndecidableDhcpv6StateRefusesTheChange) {
    Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
    IpConfig ip = Static("192.168.20.5", "255.255.255.0");
    ip.SetUseIpv6(true);
    ip.SetUseIpv6Dhcp(true);
    for (const char* text : {"", "abc\n", "12x\n", "-4\n", "99999999999\n"}) {
        HostCtl::Misc::WriteHostFileAtomic("/var/run/dhcp6-tarn1.pid", text);
        EXPECT_EQ(TarnCtl::Network::Dhclient::ClientState::Unknown,
                  TarnCtl::Network::Dhclient::GetClientState("tarn1", true))
            << text;
        const std::string before = NicData("tarn1");
        Platform::Exec::ClearRecordedCalls();
        OrderedKernel k;
        EXPECT_EQ("Failure finding state for kill/exec dhclient", Thrown([&] { Nic("pg1")->SetIpConfig(ip); }))
            << text;
        EXPECT_TRUE(k.writes.empty()) << text;
        EXPECT_TRUE(Programs().empty()) << text;
        EXPECT_EQ(before, NicData("tarn1")) << text;
    }
    // A stale file of a dead client is a stopped client: the start goes ahead.
    HostCtl::Misc::WriteHostFileAtomic("/var/run/dhcp6-tarn1.pid", "4199999\n");
    EXPECT_EQ(TarnCtl::Network::Dhclient::ClientState::Stopped, TarnCtl::Network::Dhclient::GetClientState("tarn1", true));
    Nic("pg1")->SetIpConfig(ip);
    EXPECT_EQ(TarnCtl::Network::Dhclient::ClientState::Running, TarnCtl::Network::Dhclient::GetClientState("tarn1", true));
    // Without IPv6 on the NIC the DHCPv6 state does not matter.
    HostCtl::Misc::WriteHostFileAtomic("/var/run/dhcp6-tarn2.pid", "abc\n");
    IpConfig v4Only = Static("192.168.21.5", "255.255.255.0");
    v4Only.SetUseIpv6(false);
    Add("pg2", "tarn2", v4Only, "", "02:00:4c:6a:00:02");
    EXPECT_EQ("192.168.21.5/255.255.255.0 gw 0.0.0.0", KernelV4("tarn2"));
}

TEST_F(ApiTest, AnAddressChangeOfTheDumpInterfaceTriesToReEnableTheDumpClient) {
    Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
    Put("netdump", "system", "", R"({"enabled":true,"host_vnic":"tarn1"})");
    Platform::Log::Capture log;
    Nic("pg1")->SetIpConfig(Static("192.168.20.6", "255.255.255.0"));
    EXPECT_TRUE(log.Contains("TarnNicImpl: Bind: changing ip of netdump interface"));
    EXPECT_TRUE(log.Contains(
        "TarnNicImpl: Bind: Unable to re-enable the network dump client: The network dump client is not available yet"));
    EXPECT_EQ("192.168.20.6/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
    // Another NIC's address change leaves the dump client alone.
    Add("pg2", "tarn2", Static("192.168.21.5", "255.255.255.0"), "", "02:00:4c:6a:00:02");
    Platform::Log::Capture other;
    Nic("pg2")->SetIpConfig(Static("192.168.21.6", "255.255.255.0"));
    EXPECT_FALSE(other.Contains("Bind: changing ip of netdump interface"));
    EXPECT_FALSE(other.Contains("dump client"));
}

}  // namespace NicTest
