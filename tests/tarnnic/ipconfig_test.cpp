// Addresses of kernel NICs: an enable whose addressing fails unplumbs again,
// a static bind that fails puts the previous address back, the DHCP client's
// exact command lines and the release before a static address, stale PID
// files, the resource-pool raise and its rollback, and DHCPv6 without IPv6.
#include "tarnnic_fixture.h"

#include <sys/ipc.h>
#include <sys/sem.h>

#include <csignal>

#include "hostctl/status.h"

namespace NicTest {

namespace {

std::string Busy() { return "; Status(0xbad0004)= " + std::string(TARN_ReturnStatusToString(TARN_BUSY)); }

class IpConfigTest : public NicHostTest {
protected:
    void SetUp() override {
        NicHostTest::SetUp();
        _wait = TarnCtl::Network::Dhclient::SetPidWait(std::chrono::milliseconds(0));
    }
    void TearDown() override {
        TarnCtl::Network::Dhclient::SetPidWait(_wait);
        NicHostTest::TearDown();
    }
    // The dhclient runs since the test began.
    static std::vector<std::string> Dhclients() {
        std::vector<std::string> out;
        for (const std::string& p : Programs())
            if (p.rfind("/bin/dhclient-uw", 0) == 0) out.push_back(p);
        return out;
    }
    static long Pool() { return TarnCtl::Network::Dhclient::GetPoolMemory(); }
    std::chrono::milliseconds _wait{};
};

const std::string kStart1 =
    "/bin/dhclient-uw ++group=dhclient,netstack=defaultTcpipStack -pf /var/run/dhcp-tarn1.pid -rt 90 -lf "
    "/var/lib/dhcp/dhclient-tarn1.leases -cf /etc/dhclient-tarn1.conf -hn localhost -4 -nw -d tarn1";
const std::string kRelease1 =
    "/bin/dhclient-uw ++group=dhclientrelease,netstack=defaultTcpipStack -pf /var/run/dhcp-tarn1.pid -lf "
    "/var/lib/dhcp/dhclient-tarn1.leases -cf /etc/dhclient-tarn1.conf -4 -r -d tarn1";

}  // namespace

TEST_F(IpConfigTest, EnableWithAnAddressingFailureUnplumbsAndRethrows) {
    Fault(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask, TARN_BUSY, "defaultTcpipStack/tarn1");
    OrderedKernel k;
    EXPECT_EQ("Unable to set IPv4 address 192.168.20.5 on tarnnic tarn1" + Busy(),
              Thrown([&] { Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0")); }));
    auto w = k.Of({KSI_NODE_net_tcpip_instances_plumb, KSI_NODE_net_tcpip_instances_vNics_unplumb});
    ASSERT_EQ(2u, w.size());
    EXPECT_EQ(KSI_NODE_net_tcpip_instances_plumb, w[0].node);
    EXPECT_EQ((VsTest::Write{KSI_NODE_net_tcpip_instances_vNics_unplumb, "defaultTcpipStack/tarn1", ""}), w[1]);
    EXPECT_FALSE(Plumbed("tarn1"));
    EXPECT_EQ("<absent>", NicData("tarn1"));
    EXPECT_TRUE(Nics()->GetTarnosNicNames().empty());
    // Nothing is left on the port group: it can go.
    Switch("vs1")->RemovePortGroup("pg1");
}

TEST_F(IpConfigTest, BindFailureRestoresThePreviousAddress) {
    Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0", "192.168.20.1"));
    ASSERT_EQ("192.168.20.5/255.255.255.0 gw 192.168.20.1", KernelV4("tarn1"));
    const std::string before = NicData("tarn1");
    struct Row {
        uint32_t node;
        std::string error;
    };
    const std::vector<Row> rows = {
        {KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask,
         "Unable to set IPv4 address 192.168.20.6 on tarnnic tarn1" + Busy()},
        {KSI_NODE_net_tcpip_instances_vNics_v4_gateway,
         "Unable to set IPv4 gateway 192.168.20.254 on tarnnic tarn1" + Busy()},
    };
    for (const Row& r : rows) {
        Fault(r.node, TARN_BUSY, "defaultTcpipStack/tarn1", 1, TarnSim::KernelOp::Set);
        EXPECT_EQ(r.error, Thrown([&] { Nic("pg1")->SetIpConfig(Static("192.168.20.6", "255.255.255.0",
                                                                         "192.168.20.254")); }));
        EXPECT_EQ("192.168.20.5/255.255.255.0 gw 192.168.20.1", KernelV4("tarn1"));
        EXPECT_EQ(before, NicData("tarn1"));
    }
    // Unbinding happens only when the address changes.
    OrderedKernel k;
    Nic("pg1")->SetIpConfig(Static("192.168.20.5", "255.255.255.0", "192.168.20.1"));
    EXPECT_TRUE(k.Of({KSI_NODE_net_tcpip_instances_vNics_unbind}).empty());
    Nic("pg1")->SetIpConfig(Static("192.168.20.7", "255.255.0.0"));
    EXPECT_EQ(1u, k.Of({KSI_NODE_net_tcpip_instances_vNics_unbind}).size());
    EXPECT_EQ("192.168.20.7/255.255.0.0 gw 0.0.0.0", KernelV4("tarn1"));
    EXPECT_NE(std::string::npos, NicData("tarn1").find("\"ipv4_address\":\"192.168.20.7\""));
}

TEST_F(IpConfigTest, InvalidAddressesAreRefusedBeforeAnythingChanges) {
    Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
    const std::string before = NicData("tarn1");
    OrderedKernel k;
    for (const std::string bad : {"0.0.0.0", "127.0.0.1", "224.0.0.5", "239.255.255.255"})
        EXPECT_EQ("Invalid IPv4 address " + bad, Thrown([&] { Nic("pg1")->SetIpConfig(Static(bad, "255.255.255.0")); }));
    IpConfig noMask;
    noMask.SetIpv4Address(Ipv4Address("192.168.20.6"));
    EXPECT_EQ("Invalid IPv4 netmask 0.0.0.0", Thrown([&] { Nic("pg1")->SetIpConfig(noMask); }));
    EXPECT_TRUE(k.writes.empty());
    EXPECT_TRUE(Dhclients().empty());
    EXPECT_EQ(before, NicData("tarn1"));
    // Just outside loopback and multicast are host addresses.
    Nic("pg1")->SetIpConfig(Static("223.255.255.254", "255.255.255.0"));
    EXPECT_EQ("223.255.255.254/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
    Nic("pg1")->SetIpConfig(Static("128.0.0.1", "255.255.255.0"));
    EXPECT_EQ("128.0.0.1/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
}

TEST_F(IpConfigTest, DhcpStartsTheClientAndStaticReleasesTheLeaseBeforeBinding) {
    Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
    long pool = Pool();
    Nic("pg1")->SetIpConfig(Dhcp());
    EXPECT_EQ((std::vector<std::string>{kStart1}), Dhclients());
    EXPECT_TRUE(TarnCtl::Network::Dhclient::IsRunning("tarn1", false));
    EXPECT_EQ(pool + 35, Pool());
    // The profile's server for VLAN 0 leased the first address of its range.
    EXPECT_EQ("192.168.10.100/255.255.255.0 gw 192.168.10.1", KernelV4("tarn1"));
    EXPECT_TRUE(Nic("pg1")->GetDhcpBound());
    EXPECT_EQ("192.168.10.1", Nic("pg1")->GetDhcpServer());
    EXPECT_EQ("send host-name \"localhost\";\nrequest subnet-mask, broadcast-address, routers, domain-name, "
              "domain-name-servers, host-name;\nignore domain-name, domain-name-servers;\n",
              TarnTest::ReadHost("/etc/dhclient-tarn1.conf"));
    EXPECT_TRUE(Nic("pg1")->GetConfiguredIpConfig().GetUseDhcp());
    int pid = TarnCtl::Network::Dhclient::RunningPid("tarn1", false);

    // Asking again renews instead of starting a second client.
    Nic("pg1")->SetIpConfig(Dhcp());
    EXPECT_EQ(1u, Dhclients().size());

    Platform::Exec::ClearRecordedCalls();
    OrderedKernel k;
    Nic("pg1")->SetIpConfig(Static("192.168.20.9", "255.255.255.0"));
    EXPECT_EQ((std::vector<std::string>{kRelease1}), Dhclients());
    auto calls = Platform::Exec::RecordedCalls();
    size_t release = 0;
    while (release < calls.size() && calls[release][0] != "/bin/dhclient-uw") ++release;
    ASSERT_LT(release, calls.size());
    // The address is bound only after the release ran.
    for (size_t i = 0; i < k.writes.size(); ++i)
        if (k.writes[i].node == KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask) {
            EXPECT_GT(k.programsBefore[i], release);
        }
    EXPECT_EQ(1u, k.Of({KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask}).size());
    EXPECT_FALSE(TarnCtl::Network::Dhclient::IsRunning("tarn1", false));
    EXPECT_FALSE(TarnSim::FindProcess(pid).has_value());
    EXPECT_EQ("192.168.20.9/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
    EXPECT_FALSE(Nic("pg1")->GetDhcpBound());
}

TEST_F(IpConfigTest, AStalePidFileOfADeadClientIsNotTakenAsRunning) {
    Add("pg1", "tarn1", Dhcp());
    int pid = TarnCtl::Network::Dhclient::RunningPid("tarn1", false);
    ASSERT_NE(0, pid);
    // SIGKILL leaves the PID file behind.
    TarnSim::SignalPid(pid, SIGKILL);
    ASSERT_TRUE(HostCtl::Misc::HostFileExists("/var/run/dhcp-tarn1.pid"));
    EXPECT_FALSE(TarnCtl::Network::Dhclient::IsRunning("tarn1", false));
    Platform::Exec::ClearRecordedCalls();
    Nic("pg1")->SetIpConfig(Dhcp());
    EXPECT_EQ((std::vector<std::string>{kStart1}), Dhclients());
    int again = TarnCtl::Network::Dhclient::RunningPid("tarn1", false);
    EXPECT_NE(0, again);
    EXPECT_NE(pid, again);
}

TEST_F(IpConfigTest, AFailedStartTakesThePoolMemoryBack) {
    Add("pg1", "tarn1");
    long pool = Pool();
    TarnSim::InjectProgramFault({"/bin/dhclient-uw", TarnSim::ProgramFault::Kind::ExitStatus});
    const std::string before = NicData("tarn1");
    EXPECT_EQ("Unable to start dhclient daemon " + kStart1, Thrown([&] { Nic("pg1")->SetIpConfig(Dhcp()); }));
    EXPECT_EQ(pool, Pool());
    EXPECT_EQ(before, NicData("tarn1"));
    // A pool that cannot grow stops the start before the client runs.
    Fault(KSI_NODE_sched_groups_memAllocationInMB, TARN_BUSY, "dhclient", 1, TarnSim::KernelOp::Set);
    Platform::Exec::ClearRecordedCalls();
    EXPECT_EQ("Failure increasing dhclient RP memory: Unable to set the memory of resource pool dhclient" + Busy(),
              Thrown([&] { Nic("pg1")->SetIpConfig(Dhcp()); }));
    EXPECT_TRUE(Dhclients().empty());
    EXPECT_EQ(pool, Pool());
}

TEST_F(IpConfigTest, APidFileThatNeverComesIsAFailure) {
    Add("pg1", "tarn1");
    TarnSim::InjectProgramFault({"/bin/dhclient-uw", TarnSim::ProgramFault::Kind::NoPidFile});
    EXPECT_EQ("no valid dhclient PID file found yet", Thrown([&] { Nic("pg1")->SetIpConfig(Dhcp()); }));
}

TEST_F(IpConfigTest, NoServerAnsweringLeavesTheClientRunningWithoutAnAddress) {
    Add("pg30", "tarn1", Dhcp());
    EXPECT_TRUE(TarnCtl::Network::Dhclient::IsRunning("tarn1", false));
    EXPECT_EQ("0.0.0.0/0.0.0.0 gw 0.0.0.0", KernelV4("tarn1"));
    EXPECT_FALSE(Nic("pg30")->GetDhcpBound());
}

TEST_F(IpConfigTest, Dhcpv6CommandLinesAndIpv6Off) {
    Add("pg1", "tarn1");
    IpConfig ip;
    ip.SetIpv4UseNone();
    ip.SetUseIpv6(true);
    ip.SetUseIpv6Dhcp(true);
    Nic("pg1")->SetIpConfig(ip);
    EXPECT_EQ((std::vector<std::string>{
                  "/bin/dhclient-uw ++group=dhclient,netstack=defaultTcpipStack -pf /var/run/dhcp6-tarn1.pid -rt 90 "
                  "-lf /var/lib/dhcp/dhclient6-tarn1.leases -cf /etc/dhclient6-tarn1.conf -6 -nw -d tarn1"}),
              Dhclients());
    EXPECT_TRUE(TarnCtl::Network::Dhclient::IsRunning("tarn1", true));
    // The start ran under the host-wide DHCPv6 semaphore (mode 0600), released again.
    int sem = semget(0x484848, 0, 0);
    ASSERT_GE(sem, 0);
    struct semid_ds ds {};
    ASSERT_EQ(0, semctl(sem, 0, IPC_STAT, &ds));
    EXPECT_EQ(0600u, ds.sem_perm.mode & 0777u);
    EXPECT_EQ(2u, ds.sem_nsems);
    EXPECT_EQ(0, semctl(sem, 0, GETVAL));
    EXPECT_EQ("/bin/dhclient-uw ++group=dhclient,netstack=vmo -pf /var/run/dhcp6-tarn4.pid -rt 90 -cf "
              "/etc/dhclient6-tarn4.conf -6 -nw -d -S tarn4",
              TarnCtl::Network::Dhclient::StartCommand("tarn4", "vmo", true, true, "host"));
    // Switching DHCPv6 off stops the client.
    Platform::Exec::ClearRecordedCalls();
    ip.SetUseIpv6Dhcp(false);
    Nic("pg1")->SetIpConfig(ip);
    EXPECT_EQ((std::vector<std::string>{
                  "/bin/dhclient-uw ++group=dhclientrelease,netstack=defaultTcpipStack -pf /var/run/dhcp6-tarn1.pid "
                  "-lf /var/lib/dhcp/dhclient6-tarn1.leases -cf /etc/dhclient6-tarn1.conf -6 -r -d tarn1"}),
              Dhclients());
    EXPECT_FALSE(TarnCtl::Network::Dhclient::IsRunning("tarn1", true));
}

TEST_F(IpConfigTest, StaticIpv6AddressesAndGateway) {
    Add("pg1", "tarn1");
    IpConfig ip = Static("192.168.20.5", "255.255.255.0");
    ip.SetUseIpv6(true);
    ip.AddIpv6Network(Ipv6Network("fd00:20::5/64"));
    ip.AddIpv6Network(Ipv6Network("fd00:21::5/64"));
    ip.SetIpv6Gateway(Ipv6Address("fd00:20::1"));
    Nic("pg1")->SetIpConfig(ip);
    auto got = Nic("pg1")->GetIpConfig();
    ASSERT_EQ(2u, got.GetIpv6Network().size());
    EXPECT_EQ("fd00:20::5/64", got.GetIpv6Network()[0].GetStringAddress());
    EXPECT_EQ("fd00:21::5/64", got.GetIpv6Network()[1].GetStringAddress());
    EXPECT_EQ("fd00:20::1", got.GetIpv6Gateway().GetStringAddress());
    ip.RemoveIpv6Network(Ipv6Network("fd00:20::5/64"));
    Nic("pg1")->SetIpConfig(ip);
    got = Nic("pg1")->GetIpConfig();
    ASSERT_EQ(1u, got.GetIpv6Network().size());
    EXPECT_EQ("fd00:21::5/64", got.GetIpv6Network()[0].GetStringAddress());
    auto configured = Nic("pg1")->GetConfiguredIpConfig();
    ASSERT_EQ(1u, configured.GetIpv6Network().size());
    EXPECT_EQ("fd00:21::5/64", configured.GetIpv6Network()[0].GetStringAddress());
}

}  // namespace NicTest

namespace NicTest {

TEST_F(IpConfigTest, Dhcpv6StopsWhenTheKernelHasNoIpv6) {
    Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
    IpConfig ip = Static("192.168.20.5", "255.255.255.0");
    ip.SetUseIpv6(true);
    ip.SetUseIpv6Dhcp(true);
    Nic("pg1")->SetIpConfig(ip);
    ASSERT_TRUE(TarnCtl::Network::Dhclient::IsRunning("tarn1", true));
    Kernel([](TarnSim::KernelState& s) {
        KsiTcpipInstanceProps p{};
        s.Read(KSI_NODE_net_tcpip_instances_properties, {"defaultTcpipStack"}, &p);
        p.ipv6Enabled = 0;
        s.Put(KSI_NODE_net_tcpip_instances_properties, {"defaultTcpipStack"}, p);
    });
    const std::string before = NicData("tarn1");
    EXPECT_EQ("Cannot start DHCPv6 client when IPv6 is not enabled", Thrown([&] { Nic("pg1")->SetIpConfig(ip); }));
    EXPECT_TRUE(TarnCtl::Network::Dhclient::IsRunning("tarn1", true));
    EXPECT_EQ(before, NicData("tarn1"));
    Platform::Exec::ClearRecordedCalls();
    ip.SetUseIpv6Dhcp(false);
    Nic("pg1")->SetIpConfig(ip);
    EXPECT_FALSE(TarnCtl::Network::Dhclient::IsRunning("tarn1", true));
    ASSERT_EQ(1u, Dhclients().size());
    EXPECT_NE(std::string::npos, Dhclients()[0].find(" -6 -r -d tarn1"));
}

}  // namespace NicTest
