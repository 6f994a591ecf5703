// The kernel-NIC inventory: free names, name and MTU limits, one NIC per
// connection point and netstack, lookups, and removal down to the last NIC.
#include "tarnnic_fixture.h"

namespace NicTest {

namespace {

class InventoryTest : public NicHostTest {};

}  // namespace

TEST_F(InventoryTest, FreeNameIsTheSmallestNumberNotUsedInKernelOrConfiguration) {
    auto free = [] { return TarnCtl::Network::TarnNicImpl::GetFreeTarnNicName(); };
    EXPECT_EQ("tarn0", free());
    Add("pg1", "tarn0");
    Add("pg2", "tarn2", IpConfig(), "", "02:00:4c:6a:00:02");
    EXPECT_EQ("tarn1", free());
    Add("pg30", "", IpConfig(), "", "02:00:4c:6a:00:03");
    EXPECT_EQ((std::vector<std::string>{"tarn0", "tarn1", "tarn2"}), Nics()->GetTarnosNicNames());
    EXPECT_EQ("tarn1", Nic("pg30")->GetInterfaceName());
    EXPECT_EQ("tarn3", free());
    // A NIC only the kernel has holds its name.
    TarnCtl::Util::Sysinfo si(KSI_NODE_net_tcpip_instances_plumb);
    si.SetInstance("defaultTcpipStack");
    for (const char* in : {"if=tarn3", "portset=pg1", "macaddr=02:00:4c:6a:00:09"}) si.AddInput(std::string(in));
    si.Set();
    EXPECT_EQ("tarn4", free());
    // A configured NIC that is not plumbed still holds its name, and so does a DPU NIC.
    Nic("pg30")->Disable();
    EXPECT_FALSE(Plumbed("tarn1"));
    EXPECT_EQ("tarn4", free());
    Put("network_system", "network", "", R"({"dpu_vnics":["tarn4","tarn5"]})");
    EXPECT_EQ("tarn6", free());
}

TEST_F(InventoryTest, NamesNotOfTheFormTarnXAreRefusedBeforeAnythingChanges) {
    OrderedKernel k;
    for (const std::string& bad : {"knic1", "eth0", "Tarn1", "tar1"}) {
        EXPECT_EQ("Interface names must be in the form tarnX",
                  Thrown([&] { Add("pg1", bad); }))
            << bad;
    }
    EXPECT_TRUE(k.Of({KSI_NODE_net_tcpip_instances_plumb}).empty());
    EXPECT_TRUE(Nics()->GetTarnosNicNames().empty());
    EXPECT_EQ("<absent>", NicData("knic1"));
    Add("pg1", "tarn7");
    EXPECT_TRUE(Plumbed("tarn7"));
}

TEST_F(InventoryTest, OneNicPerConnectionPointAndNetstack) {
    Add("pg1", "tarn1");
    const std::string before = NicData("tarn1");
    OrderedKernel k;
    EXPECT_EQ("A tarnos nic for the connection point already exists: pg1",
              Thrown([&] { Add("pg1", "tarn2", IpConfig(), "defaultTcpipStack"); }));
    EXPECT_TRUE(k.Of({KSI_NODE_net_tcpip_instances_plumb}).empty());
    EXPECT_EQ("<absent>", NicData("tarn2"));
    EXPECT_EQ(before, NicData("tarn1"));

    // The same port group on another netstack is another connection point.
    AddNetstack("vmo");
    Add("pg1", "tarn2", IpConfig(), "vmo", "02:00:4c:6a:00:02");
    EXPECT_TRUE(Plumbed("tarn2", "vmo"));
    EXPECT_EQ("vmo", Nics()->GetTarnnicNetstackInstanceKey("tarn2"));
    EXPECT_EQ(1u, Nics()->GetTarnNicCountByNetstackInstance("vmo"));
    EXPECT_EQ(1u, Nics()->GetTarnNicCountByNetstackInstance(""));
    EXPECT_TRUE(Nics()->TarnosNicExists(ConnectionPoint::PortGroup("pg1"), "vmo"));
    EXPECT_FALSE(Nics()->TarnosNicExists(ConnectionPoint::PortGroup("pg2"), "vmo"));
}

TEST_F(InventoryTest, CreationRecordsTheEntryAndPlumbsWithTheInputsInOrder) {
    OrderedKernel k;
    Nics()->AddTarnosNic("pg1", "", Static("192.168.20.5", "255.255.255.0"), MacAddress("02:00:4c:6a:00:01"), 9000,
                         0, 4, "tarn1");
    auto plumb = k.Of({KSI_NODE_net_tcpip_instances_plumb});
    ASSERT_EQ(1u, plumb.size());
    EXPECT_EQ((VsTest::Write{KSI_NODE_net_tcpip_instances_plumb, "defaultTcpipStack",
                             "if=tarn1,portset=pg1,macaddr=02:00:4c:6a:00:01,tsomss=65535,mtu=9000,numRxQueue=4,"
                             "rtadv=0"}),
              plumb[0]);
    EXPECT_EQ("192.168.20.5/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
    std::string data = NicData("tarn1");
    for (const char* part : {"\"device\":\"tarn1\"", "\"port_group\":\"pg1\"", "\"mac_mode\":\"USER_DEFINED\"",
                             "\"mac_from_user\":\"02:00:4c:6a:00:01\"", "\"mtu\":9000", "\"num_rx_queue\":4",
                             "\"enabled\":true", "\"ipv4_address\":\"192.168.20.5\"",
                             "\"net_stack_instance_key\":\"defaultTcpipStack\"",
                             "\"port_connection_type\":\"VSS_PORT_GROUP\""})
        EXPECT_NE(std::string::npos, data.find(part)) << part << " in " << data;
    auto nic = Nic("pg1");
    EXPECT_EQ(9000u, nic->GetMtu());
    EXPECT_EQ(4u, nic->GetNumRxQueue());
    EXPECT_EQ("02:00:4c:6a:00:01", nic->GetMacAddress().GetStringAddress());
    EXPECT_EQ("192.168.20.5", nic->GetIpConfig().GetIpv4Address().GetStringAddress());
    EXPECT_EQ(nullptr, Nics()->GetTarnosNicByInterface("tarn9", true, PORTSET_GET_ALL));
    ASSERT_NE(nullptr, Nics()->GetTarnosNicByInterface("tarn1", false, PORTSET_GET_VSS));
    EXPECT_EQ(nullptr, Nics()->GetTarnosNicByInterface("tarn1", false, PORTSET_GET_DVS));
}

TEST_F(InventoryTest, MtuLimitsOnBothSides) {
    Add("pg1", "tarn1");
    auto nic = Nic("pg1");
    const std::string before = NicData("tarn1");
    OrderedKernel k;
    for (uint32_t bad : {1279u, 9191u, 0u}) {
        EXPECT_EQ("Unable to set MTU.  Valid MTU values are 1280-9190", Thrown([&] { nic->SetMtu(bad); })) << bad;
    }
    EXPECT_TRUE(k.writes.empty());
    EXPECT_EQ(before, NicData("tarn1"));
    EXPECT_EQ("Unable to set MTU.  Valid MTU values are 1280-9190",
              Thrown([&] { Nics()->AddTarnosNic("pg2", "", IpConfig(), MacAddress("02:00:4c:6a:00:02"), 9191, 0, 0, ""); }));
    EXPECT_EQ("<absent>", NicData("tarn2"));
    for (uint32_t good : {1280u, 9190u}) {
        nic->SetMtu(good);
        EXPECT_EQ(good, KernelProps("tarn1").mtu);
        EXPECT_NE(std::string::npos, NicData("tarn1").find("\"mtu\":" + std::to_string(good)));
    }
    nic->UnsetMtu();
    EXPECT_EQ(1500u, KernelProps("tarn1").mtu);
    EXPECT_EQ(std::string::npos, NicData("tarn1").find("\"mtu\""));
    EXPECT_EQ(1500u, nic->GetMtu());
}

TEST_F(InventoryTest, RemovingTheLastNicEmptiesTheManagementInterfaceOption) {
    Add("pg1", "tarn1");
    Add("pg2", "tarn2", IpConfig(), "", "02:00:4c:6a:00:02");
    TarnCtl::Network::SetAdvString("Net", "ManagementIface", "tarn1");
    Nics()->RemoveTarnosNic("pg1", "");
    EXPECT_EQ("tarn1", Adv("Net", "ManagementIface"));
    EXPECT_FALSE(Plumbed("tarn1"));
    EXPECT_EQ("<absent>", NicData("tarn1"));
    EXPECT_EQ(0u, Nics()->GetTarnosNicNames().size() - 1);
    Nics()->RemoveTarnosNic("pg2", "");
    EXPECT_EQ("", Adv("Net", "ManagementIface"));
    EXPECT_TRUE(Nics()->GetTarnosNicNames().empty());
    EXPECT_EQ("There is no Tarnos TCP/IP interface on the portgroup pg2 on netstack instance defaultTcpipStack",
              Thrown([&] { Nics()->RemoveTarnosNic("pg2", ""); }));
    // The port group is free again.
    Switch("vs1")->RemovePortGroup("pg2");
}

}  // namespace NicTest
