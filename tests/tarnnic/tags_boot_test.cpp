// Tags of kernel NICs (kernel, store, the advanced-option lists and the
// registered callbacks), management side effects, setters while the host
// boots, and kernel NICs coming back after a reboot.
#include "sim_edits.h"
#include "tarnnic_fixture.h"

#include "network/tarnnic_hooks.h"

namespace NicTest {

namespace {

struct TagCall {
    std::string nic;
    TarnNicTagType tag;
    bool set;
    bool operator==(const TagCall& o) const { return nic == o.nic && tag == o.tag && set == o.set; }
};
std::vector<TagCall> gTagCalls;
std::vector<std::string> gDestroyed;
void OnTag(const std::string& nic, TarnNicTagType tag, bool set) { gTagCalls.push_back({nic, tag, set}); }
void OnDestroy(const std::string& nic) { gDestroyed.push_back(nic); }

class TagsTest : public NicHostTest {
protected:
    static void SetUpTestSuite() {
        TarnCtl::Network::TarnosNicApi::AddTarnosNicReconfigTagCallback(OnTag);
        TarnCtl::Network::TarnosNicApi::AddTarnosNicDestroyCallback(OnDestroy);
    }
    void SetUp() override {
        NicHostTest::SetUp();
        gTagCalls.clear();
        gDestroyed.clear();
        Add("pg1", "tarn1", Static("192.168.20.5", "255.255.255.0"));
        Add("pg2", "tarn2", Static("192.168.21.5", "255.255.255.0"), "", "02:00:4c:6a:00:02");
    }
};

}  // namespace

TEST_F(TagsTest, TagChangesReachKernelStoreOptionsAndCallbacks) {
    Nic("pg1")->AddTag(TarnNicTagType::VelMove, true);
    EXPECT_EQ(1u << 1, KernelTags("tarn1"));
    EXPECT_NE(std::string::npos, NicData("tarn1").find("\"enabled_services\":{\"velmove\":true}"));
    EXPECT_EQ("tarn1", Adv("Migrate", "Tarnnic"));
    Nic("pg2")->AddTag("Velmove", true);
    Nic("pg2")->AddTag(TarnNicTagType::FaultToleranceLogging, true);
    EXPECT_EQ("tarn1,tarn2", Adv("Migrate", "Tarnnic"));
    EXPECT_EQ("tarn2", Adv("FT", "Tarnnic"));
    EXPECT_EQ((1u << 1) | (1u << 2), KernelTags("tarn2"));
    EXPECT_EQ(2u, Nics()->GetTarnNicCountWithTag("Velmove"));
    ASSERT_EQ(1u, Nics()->GetTarnosNicsByTag(TarnNicTagType::FaultToleranceLogging).size());

    Nic("pg1")->RemoveTag(TarnNicTagType::VelMove);
    EXPECT_EQ(0u, KernelTags("tarn1"));
    EXPECT_EQ("tarn2", Adv("Migrate", "Tarnnic"));
    EXPECT_EQ(std::string::npos, NicData("tarn1").find("velmove"));
    EXPECT_FALSE(Nic("pg1")->HasTag(TarnNicTagType::VelMove));
    EXPECT_EQ((std::vector<TagCall>{{"tarn1", TarnNicTagType::VelMove, true},
                                    {"tarn2", TarnNicTagType::VelMove, true},
                                    {"tarn2", TarnNicTagType::FaultToleranceLogging, true},
                                    {"tarn1", TarnNicTagType::VelMove, false}}),
              gTagCalls);

    // Removing a NIC takes its tags out of the lists and tells the callbacks.
    gTagCalls.clear();
    Nics()->RemoveTarnosNic("pg2", "");
    EXPECT_EQ("", Adv("Migrate", "Tarnnic"));
    EXPECT_EQ("", Adv("FT", "Tarnnic"));
    EXPECT_EQ((std::vector<std::string>{"tarn2"}), gDestroyed);
    EXPECT_EQ(2u, gTagCalls.size());
}

TEST_F(TagsTest, RefusedTagsChangeNothing) {
    const std::string before = NicData("tarn1");
    Fault(KSI_NODE_net_tcpip_instances_vNics_tags, TARN_BUSY, "defaultTcpipStack/tarn1");
    EXPECT_EQ("Validation for tag Velmove failed with error: Unable to change tags of tarnnic tarn1; Status(0xbad0004)= " +
                  std::string(TARN_ReturnStatusToString(TARN_BUSY)),
              Thrown([&] { Nic("pg1")->AddTag(TarnNicTagType::VelMove, true); }));
    EXPECT_EQ("Invalid tag 14", Thrown([&] { Nic("pg1")->AddTag(static_cast<TarnNicTagType>(14), true); }));
    EXPECT_EQ("Invalid tag 0", Thrown([&] { Nic("pg1")->AddTag(static_cast<TarnNicTagType>(0), true); }));
    EXPECT_EQ("Invalid tagId 14", Thrown([&] { Nic("pg1")->RemoveTag(static_cast<TarnNicTagType>(14)); }));
    EXPECT_EQ("Invalid tag Bogus", Thrown([&] { Nic("pg1")->AddTag("Bogus", true); }));
    EXPECT_EQ(before, NicData("tarn1"));
    EXPECT_EQ(0u, KernelTags("tarn1"));
    EXPECT_EQ("", Adv("Migrate", "Tarnnic"));
    EXPECT_TRUE(gTagCalls.empty());
    // Both ends of the id range are tags.
    Nic("pg1")->AddTag(TarnNicTagType::Management, false);
    Nic("pg1")->AddTag(TarnNicTagType::MorraExternal, false);
    EXPECT_EQ(1u | (1u << 12), KernelTags("tarn1"));
}

TEST_F(TagsTest, ManagementTagSetsHostAddressOptionsAndHostsEntry) {
    TarnCtl::Network::SetAdvString("Misc", "HostName", "host-a");
    Nic("pg1")->AddTag(TarnNicTagType::Management, true);
    EXPECT_EQ("tarn1", Adv("Net", "ManagementIface"));
    Nic("pg1")->SetIpConfig(Static("192.168.20.8", "255.255.255.0"));
    EXPECT_EQ("192.168.20.8", Adv("Misc", "HostIPAddr"));
    EXPECT_EQ("192.168.20.8", Adv("Net", "ManagementAddr"));
    EXPECT_NE(std::string::npos, TarnTest::ReadHost("/etc/hosts").find("192.168.20.8\thost-a"))
        << TarnTest::ReadHost("/etc/hosts");
    // Another NIC's address is not the host's.
    Nic("pg2")->SetIpConfig(Static("192.168.21.9", "255.255.255.0"));
    EXPECT_EQ("192.168.20.8", Adv("Misc", "HostIPAddr"));
}

TEST_F(TagsTest, SettersWhileBootingReachTheKernelAndRecordNothing) {
    struct Row {
        const char* what;
        std::function<void()> change;
        std::function<bool()> inKernel;
    };
    const std::vector<Row> rows = {
        {"mtu", [] { Nic("pg1")->SetMtu(9000); }, [] { return KernelProps("tarn1").mtu == 9000; }},
        {"tag", [] { Nic("pg1")->AddTag(TarnNicTagType::NvmeTcp, true); },
         [] { return KernelTags("tarn1") == (1u << 10); }},
        {"address", [] { Nic("pg1")->SetIpConfig(Static("192.168.20.77", "255.255.255.0")); },
         [] { return KernelV4("tarn1") == "192.168.20.77/255.255.255.0 gw 0.0.0.0"; }},
        {"mac", [] { Nic("pg1")->SetMacAddress(MacAddress("02:00:4c:6a:00:99")); },
         [] { return MacAddress(KernelProps("tarn1").mac).GetStringAddress() == "02:00:4c:6a:00:99"; }},
        {"disable", [] { Nic("pg1")->Disable(); }, [] { return !Plumbed("tarn1"); }},
    };
    for (const Row& r : rows) {
        const std::string before = NicData("tarn1");
        Booting(r.change);
        EXPECT_TRUE(r.inKernel()) << r.what;
        EXPECT_EQ(before, NicData("tarn1")) << r.what;
    }
    EXPECT_EQ("", Adv("Net", "ManagementIface"));
}

TEST_F(TagsTest, KernelNicsComeBackAfterAReboot) {
    Nic("pg1")->AddTag(TarnNicTagType::VelMove, true);
    Nic("pg1")->SetMtu(9000);
    Nic("pg2")->SetIpConfig(Dhcp());
    Switch("vs1")->AddPortGroup("pg3");
    Add("pg3", "tarn3", IpConfig(), "", "02:00:4c:6a:00:03");
    Nic("pg3")->Disable();
    const std::string one = NicData("tarn1"), two = NicData("tarn2");
    TarnSim::Profile::Reboot();
    EXPECT_TRUE(Plumbed("tarn1"));
    EXPECT_EQ("192.168.20.5/255.255.255.0 gw 0.0.0.0", KernelV4("tarn1"));
    EXPECT_EQ(1u << 1, KernelTags("tarn1"));
    EXPECT_EQ(9000u, KernelProps("tarn1").mtu);
    EXPECT_EQ("02:00:4c:6a:00:01", MacAddress(KernelProps("tarn1").mac).GetStringAddress());
    EXPECT_TRUE(TarnCtl::Network::Dhclient::IsRunning("tarn2", false));
    EXPECT_EQ("192.168.10.100/255.255.255.0 gw 192.168.10.1", KernelV4("tarn2"));
    EXPECT_FALSE(Plumbed("tarn3"));
    EXPECT_EQ("tarn1", Adv("Migrate", "Tarnnic"));
    EXPECT_EQ(one, NicData("tarn1"));
    EXPECT_EQ(two, NicData("tarn2"));
}

TEST_F(TagsTest, BootRestoreMigratesEntriesWithoutANetstackAndSkipsBrokenOnes) {
    // An entry of an older host: no netstack recorded.
    auto o = Object("tarnnics", "network", "tarn1");
    ASSERT_TRUE(o);
    std::string data = o->GetData();
    const std::string key = "\"net_stack_instance_key\":\"defaultTcpipStack\",";
    ASSERT_NE(std::string::npos, data.find(key));
    data.erase(data.find(key), key.size());
    Put("tarnnics", "network", "tarn1", data);
    ResetKernel();
    Booting([] { Info()->LoadConfig(); });
    // The kernel refuses the second NIC: it is skipped and the restore goes on.
    TarnTest::FailKernel(KSI_NODE_net_tcpip_instances_plumb, TARN_BUSY, {.op = TarnSim::KernelOp::Set});
    Booting([] { TarnCtl::Network::TarnosNicInfoImpl().LoadConfig(); });
    EXPECT_FALSE(Plumbed("tarn1"));
    EXPECT_TRUE(Plumbed("tarn2"));
    EXPECT_NE(std::string::npos, NicData("tarn1").find(key));
}

}  // namespace NicTest
