// The converter against the configuration store: reading objects into legacy
// paths, write-back of exactly what changed, lock nesting, boot-time merging,
// the sticky legacy import and deletions.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "configstore/configfileutil.h"
#include "configstore/configmappings.h"
#include "configstore/configparser.h"
#include "configstore/configstoreconvertor.h"
#include "fixture.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/misc.h"

using namespace TarnCtl::ConfigStoreUtil;
using HaldenConfigStore::ConfigStore;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;

namespace {

const char* kVss = "halden/network_vss/switches";

const char* kSwitch0 = R"({"name":"vSwitch0","num_ports":128,"mtu":1500,"extra":"kept",
  "bridge":{"nics":["pnx0","pnx1"]},
  "policy":{"nic_teaming":{"policy":"LOADBALANCE_SRCID","link_criteria_beacon":"IGNORE","notify_switches":true}},
  "port_groups":[{"name":"Management","vlan_id":0},{"name":"VM","vlan_id":10,"other":1}]})";
const char* kSwitch1 = R"({"name":"vSwitch1","mtu":9000})";

class ConvertorTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        store = ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
        conv = std::make_shared<ConfigStoreConvertor>();
    }
    void TearDown() override {
        while (conv->GetNestingCount() > 0) conv->Unlock();
        conv.reset();
        HostTest::TearDown();
    }
    void Put(const std::string& key, const std::string& group, const std::string& instance, const std::string& json) {
        ConfigStoreObjectId id = instance.empty() ? ConfigStoreObjectId(key, group, "halden")
                                                  : ConfigStoreObjectId(key, group, "halden", instance);
        store->Write(ConfigStoreObject::FromData(id, json));
    }
    std::string Data(const std::string& key, const std::string& group, const std::string& instance) {
        ConfigStoreObjectId id = instance.empty() ? ConfigStoreObjectId(key, group, "halden")
                                                  : ConfigStoreObjectId(key, group, "halden", instance);
        auto o = store->Get(id);
        return o ? o->GetData() : std::string("<absent>");
    }
    void PutSwitches() {
        Put("switches", "network_vss", "vSwitch0", kSwitch0);
        Put("switches", "network_vss", "vSwitch1", kSwitch1);
    }
    std::string Value(const std::string& path) {
        std::string v;
        return conv->GetValue(path, &v) ? v : "<absent>";
    }
    static rapidjson::Document Json(const std::string& text) {
        rapidjson::Document d;
        d.Parse(text.c_str());
        return d;
    }

    std::shared_ptr<ConfigStore> store;
    std::shared_ptr<ConfigStoreConvertor> conv;
};

// Leaves of one object arrive moving down, sideways and back up between
// branches of several elements; each lands on its own path and nowhere else.
TEST_F(ConvertorTest, ReadLeavesLandOnTheirOwnBranches) {
    Put("switches", "network_vss", "vSwitch0",
        R"({"name":"vSwitch0","mtu":1500,"num_ports":64,
            "policy":{"nic_teaming":{"active_nics":["a0","a1"],"link_criteria_beacon":"IGNORE",
                                     "policy":"FAILOVER_EXPLICIT","standby_nics":["s0"]},
                      "security":{"allow_promiscuous":true},"traffic_shaping":{"burst_size":7}},
            "port_groups":[{"name":"pg0","vlan_id":1},{"name":"pg1","vlan_id":2}]})");
    Put("switches", "network_vss", "vSwitch1", R"({"name":"vSwitch1","mtu":9000,"policy":{"security":{"mac_changes":false}}})");
    conv->Lock({kVss});
    const std::pair<const char*, const char*> expected[] = {
        {"/net/vswitch/child[0000]/name", "vSwitch0"},
        {"/net/vswitch/child[0000]/mtu", "1500"},
        {"/net/vswitch/child[0000]/numPorts", "64"},
        {"/net/vswitch/child[0000]/teamPolicy/activeNics/child[0000]/pnic", "a0"},
        {"/net/vswitch/child[0000]/teamPolicy/activeNics/child[0001]/pnic", "a1"},
        {"/net/vswitch/child[0000]/teamPolicy/linkCriteria/beacon", "ignore"},
        {"/net/vswitch/child[0000]/teamPolicy/team", "fo_explicit"},
        {"/net/vswitch/child[0000]/teamPolicy/standbyNics/child[0000]/pnic", "s0"},
        {"/net/vswitch/child[0000]/securityPolicy/allowPromiscuous", "true"},
        {"/net/vswitch/child[0000]/shapingPolicy/burstSize", "7"},
        {"/net/vswitch/child[0000]/portgroup/child[0000]/name", "pg0"},
        {"/net/vswitch/child[0000]/portgroup/child[0000]/vlanId", "1"},
        {"/net/vswitch/child[0000]/portgroup/child[0001]/name", "pg1"},
        {"/net/vswitch/child[0000]/portgroup/child[0001]/vlanId", "2"},
        {"/net/vswitch/child[0001]/name", "vSwitch1"},
        {"/net/vswitch/child[0001]/mtu", "9000"},
        {"/net/vswitch/child[0001]/securityPolicy/macChange", "false"},
    };
    for (const auto& [path, value] : expected) EXPECT_EQ(Value(path), value) << path;
    // Nothing strayed into a neighbour.
    auto sw0 = conv->GetRoot()->GetBranch("net/vswitch/child[0000]");
    EXPECT_EQ(sw0->GetBranch("teamPolicy")->GetValueNames(), (std::vector<std::string>{"team"}));
    EXPECT_EQ(sw0->GetBranch("securityPolicy")->GetValueNames(), (std::vector<std::string>{"allowPromiscuous"}));
    EXPECT_EQ(sw0->GetValueNames(), (std::vector<std::string>{"mtu", "name", "numPorts"}));
    EXPECT_EQ(sw0->GetBranch("portgroup/child[0001]")->GetValueNames(), (std::vector<std::string>{"name", "vlanId"}));
    auto sw1 = conv->GetRoot()->GetBranch("net/vswitch/child[0001]");
    EXPECT_EQ(sw1->GetValueNames(), (std::vector<std::string>{"mtu", "name"}));
    EXPECT_FALSE(sw1->HasBranch("teamPolicy"));
    conv->Unlock();
}

TEST_F(ConvertorTest, ReadsStoreObjectsUnderLegacyPaths) {
    PutSwitches();
    conv->Lock({kVss});
    const std::pair<const char*, const char*> rows[] = {
        {"/net/vswitch/child[0000]/name", "vSwitch0"},
        {"/net/vswitch/child[0000]/numPorts", "128"},
        {"/net/vswitch/child[0000]/uplinks/child[0001]/pnic", "pnx1"},
        {"/net/vswitch/child[0000]/teamPolicy/team", "lb_srcid"},
        {"/net/vswitch/child[0000]/teamPolicy/linkCriteria/beacon", "ignore"},
        {"/net/vswitch/child[0000]/teamPolicy/notifySwitches", "true"},
        {"/net/vswitch/child[0000]/portgroup/child[0001]/name", "VM"},
        {"/net/vswitch/child[0000]/portgroup/child[0001]/vlanId", "10"},
        {"/net/vswitch/child[0001]/name", "vSwitch1"},
        {"/net/vswitch/child[0001]/mtu", "9000"},
        {"/net/vswitch/child[0000]/extra", "<absent>"},
    };
    for (const auto& [path, value] : rows) EXPECT_EQ(Value(path), value) << path;
    int mtu = 0;
    EXPECT_TRUE(ConfigFileUtil(conv).GetBranch("/net/vswitch/child[0001]").GetValue("mtu", &mtu));
    EXPECT_EQ(mtu, 9000);
    conv->Unlock();
}

TEST_F(ConvertorTest, RoundTripWithoutChangesWritesNothing) {
    PutSwitches();
    Put("firewall", "network", "", R"({"enabled":true,"default_action":"DROP"})");
    std::string before0 = Data("switches", "network_vss", "vSwitch0");
    Platform::Log::Capture capture;
    conv->Lock({kVss, "halden/network/firewall"});
    // Setting values to the text they already have changes nothing either.
    conv->SetValue("/net/vswitch/child[0000]/mtu", 1500);
    conv->SetValue("/net/vswitch/child[0000]/name", "vSwitch0");
    conv->SetValue("/firewall/cfg/defaultaction", false);
    conv->Write();
    conv->Unlock();
    EXPECT_EQ(capture.Count("Config Convertor Update API applies"), 0u);
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch0"), before0);
}

TEST_F(ConvertorTest, WritesBackExactlyTheChangedValues) {
    PutSwitches();
    std::string before1 = Data("switches", "network_vss", "vSwitch1");
    Platform::Log::Capture capture;
    conv->Lock({kVss});
    conv->SetValue("/net/vswitch/child[0000]/mtu", 9000);
    conv->SetValue("/net/vswitch/child[0000]/portgroup/child[0001]/vlanId", 20);
    conv->SetValue("/net/vswitch/child[0000]/teamPolicy/team", "fo_explicit");
    conv->Write();
    conv->Unlock();
    EXPECT_EQ(capture.Count("Config Convertor Update API applies"), 1u);
    auto expected = Json(kSwitch0);
    expected["mtu"].SetInt(9000);
    expected["port_groups"][1]["vlan_id"].SetInt(20);
    expected["policy"]["nic_teaming"]["policy"].SetString("FAILOVER_EXPLICIT");
    EXPECT_TRUE(Json(Data("switches", "network_vss", "vSwitch0")) == expected)
        << Data("switches", "network_vss", "vSwitch0");
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch1"), before1);
}

// The write-back starts from what the store holds when it writes, not from
// what the lock read: a change made in between by this process or by another
// one is kept, and a second write-back under the same lock sees the first.
TEST_F(ConvertorTest, WriteBackKeepsStoreChangesMadeWhileLocked) {
    PutSwitches();
    conv->Lock({kVss});
    Put("switches", "network_vss", "vSwitch0", R"({"name":"vSwitch0","mtu":1500,"extra":"same process"})");
    conv->SetValue("/net/vswitch/child[0000]/numPorts", 64);
    conv->Write();
    auto sw0 = Json(Data("switches", "network_vss", "vSwitch0"));
    EXPECT_STREQ(sw0["extra"].GetString(), "same process");
    EXPECT_EQ(sw0["num_ports"].GetInt(), 64);
    EXPECT_FALSE(sw0.HasMember("port_groups"));

    // Another process's connection commits between two write-backs.
    pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0) {
        auto own = ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
        own->Write(ConfigStoreObject::FromData(ConfigStoreObjectId("switches", "network_vss", "halden", "vSwitch1"),
                                               R"({"name":"vSwitch1","mtu":9000,"extra":"other process"})"));
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    conv->SetValue("/net/vswitch/child[0001]/numPorts", 32);
    conv->SetValue("/net/vswitch/child[0000]/mtu", 1600);
    conv->Write();
    conv->Unlock();
    auto sw1 = Json(Data("switches", "network_vss", "vSwitch1"));
    EXPECT_STREQ(sw1["extra"].GetString(), "other process");
    EXPECT_EQ(sw1["num_ports"].GetInt(), 32);
    sw0 = Json(Data("switches", "network_vss", "vSwitch0"));
    EXPECT_EQ(sw0["num_ports"].GetInt(), 64);
    EXPECT_EQ(sw0["mtu"].GetInt(), 1600);
    EXPECT_STREQ(sw0["extra"].GetString(), "same process");
}

TEST(ConfigMappings, IndicesRoundTripThroughPatterns) {
    struct Case {
        std::string path, pattern, back;
    } cases[] = {
        {"/net/vswitch/child[0000]/mtu", "net/vswitch/child[####]/mtu", "/net/vswitch/child[0000]/mtu"},
        {"/net/vswitch/child[0007]/portgroup/child[0012]/vlanId",
         "net/vswitch/child[####]/portgroup/child[####]/vlanId",
         "/net/vswitch/child[0007]/portgroup/child[0012]/vlanId"},
        {"/net/vswitch/child[9999]/name", "net/vswitch/child[####]/name", "/net/vswitch/child[9999]/name"},
        {"/net/vswitch/child[10000]/name", "net/vswitch/child[####]/name", "/net/vswitch/child[10000]/name"},
        // A last index stands for a list entry; it comes back four digits wide.
        {"/net/vswitch/child[123456789]/bridge/nics[3]", "net/vswitch/child[####]/bridge/nics[#]",
         "/net/vswitch/child[123456789]/bridge/nics[0003]"},
        {"/net/a[b]/c[]/d", "net/a[b]/c[]/d", "/net/a[b]/c[]/d"},
    };
    for (const auto& c : cases) {
        std::vector<long> indices;
        EXPECT_EQ(Mappings::NormalizePath(c.path, &indices), c.pattern) << c.path;
        EXPECT_EQ(Mappings::InsertIndices("/" + c.pattern, indices), c.back) << c.path;
    }
    // A pattern with more places than indices keeps the rest as written.
    EXPECT_EQ(Mappings::InsertIndices("/a[####]/b[#]", {5}), "/a[0005]/b[#]");
    EXPECT_EQ(Mappings::InsertIndices("/a[[####]x", {42}), "/a[[0042]x");
}

TEST_F(ConvertorTest, NewElementsAreAppendedAndListsRebuilt) {
    PutSwitches();
    conv->Lock({kVss});
    auto sw = ConfigFileUtil(conv).GetBranch("/net/vswitch/child[0000]");
    auto pg = sw.GetArray("portgroup/child").NewInstance();
    EXPECT_EQ(pg.GetKey(), "/net/vswitch/child[0000]/portgroup/child[0002]");
    pg.SetValue("name", "NFS");
    pg.SetValue("vlanId", 30);
    sw.GetArray("uplinks/child").NewInstance().SetValue("pnic", "pnx2");
    auto created = ConfigFileUtil(conv).GetArray("/net/vswitch/child").NewInstance();
    created.SetValue("name", "vSwitch2");
    created.SetValue("mtu", 1600);
    conv->Write();
    conv->Unlock();
    auto sw0 = Json(Data("switches", "network_vss", "vSwitch0"));
    ASSERT_EQ(sw0["port_groups"].Size(), 3u);
    EXPECT_STREQ(sw0["port_groups"][2]["name"].GetString(), "NFS");
    EXPECT_EQ(sw0["port_groups"][2]["vlan_id"].GetInt(), 30);
    ASSERT_EQ(sw0["bridge"]["nics"].Size(), 3u);
    EXPECT_STREQ(sw0["bridge"]["nics"][2].GetString(), "pnx2");
    EXPECT_TRUE(Json(Data("switches", "network_vss", "vSwitch2")) == Json(R"({"name":"vSwitch2","mtu":1600})"))
        << Data("switches", "network_vss", "vSwitch2");
}

TEST_F(ConvertorTest, WriteBackFailures) {
    conv->Lock({kVss});
    ConfigFileUtil(conv).GetArray("/net/vswitch/child").NewInstance().SetValue("mtu", 1500);
    try {
        conv->Write();
        ADD_FAILURE() << "no exception";
    } catch (const ConfigFileException& e) {
        EXPECT_STREQ(e.what(), "InstanceId not found: /net/vswitch/child[0000]/mtu");
    }
    conv->GetBranch("/net/vswitch/child[0000]")->SetValue("name", "vSwitch5");
    conv->SetValue("/net/vswitch/child[0000]/numPorts", "many");
    try {
        conv->Write();
        ADD_FAILURE() << "no exception";
    } catch (const ConfigFileException& e) {
        EXPECT_STREQ(e.what(), "Config Convertor: int64 value expected in /net/vswitch/child[0000]/numPorts");
    }
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch5"), "<absent>");  // nothing half-written
    Platform::Log::Capture capture;
    conv->SetValue("/net/vswitch/child[0000]/numPorts", 64);
    conv->SetValue("/net/vswitch/child[0000]/unknownKey", "x");
    conv->Write();
    EXPECT_TRUE(capture.Contains(
        "Key /net/vswitch/child[0000]/unknownKey can not map to valid Config Store object property"));
    // The value of the first, failed write is still pending and goes in too.
    EXPECT_TRUE(Json(Data("switches", "network_vss", "vSwitch5")) ==
                Json(R"({"name":"vSwitch5","num_ports":64,"mtu":1500})"))
        << Data("switches", "network_vss", "vSwitch5");
    conv->Unlock();
}

// The write-back's integer conversion on both sides of the 64-bit range.
TEST_F(ConvertorTest, WriteBackIntegersAtTheInt64Limits) {
    PutSwitches();
    const std::pair<const char*, const char*> rows[] = {
        {"9223372036854775807", "9223372036854775807"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"9223372036854775808", nullptr},
        {"-9223372036854775809", nullptr},
        {"99999999999999999999", nullptr},
    };
    for (const auto& [text, stored] : rows) {
        std::string before = Data("switches", "network_vss", "vSwitch1");
        conv->Lock({kVss});
        conv->SetValue("/net/vswitch/child[0001]/mtu", std::string(text));
        if (stored) {
            conv->Write();
            auto d = Json(Data("switches", "network_vss", "vSwitch1"));
            EXPECT_EQ(std::to_string(d["mtu"].GetInt64()), stored) << text;
        } else {
            try {
                conv->Write();
                ADD_FAILURE() << text;
            } catch (const ConfigFileException& e) {
                EXPECT_STREQ(e.what(), "Config Convertor: int64 value expected in /net/vswitch/child[0001]/mtu");
            }
            EXPECT_EQ(Data("switches", "network_vss", "vSwitch1"), before) << text;
        }
        conv->Unlock();
    }
}

TEST_F(ConvertorTest, SingletonEnumerationsMapBothWays) {
    Put("firewall", "network", "", R"({"enabled":true,"default_action":"DROP","allow_IGMP_traffic":false})");
    conv->Lock({"halden/network/firewall"});
    EXPECT_EQ(Value("/firewall/cfg/defaultaction"), "false");
    EXPECT_EQ(Value("/firewall/cfg/passIGMP"), "false");
    conv->SetValue("/firewall/cfg/defaultaction", true);
    conv->SetValue("/firewall/cfg/passotherL4", true);
    conv->Write();
    conv->Unlock();
    EXPECT_TRUE(Json(Data("firewall", "network", "")) ==
                Json(R"({"enabled":true,"default_action":"PASS","allow_IGMP_traffic":false,
                         "allow_other_l4_traffic":true})"))
        << Data("firewall", "network", "");
}

TEST_F(ConvertorTest, NestedLockNeitherBlocksNorRebuilds) {
    PutSwitches();
    Put("tarnnics", "network", "tarn0", R"({"device":"tarn0","mtu":1500})");
    conv->Lock({kVss});
    conv->SetValue("/net/vswitch/child[0000]/mtu", 1700);
    conv->Lock({"halden/network/tarnnics", kVss + std::string("/vSwitch1")});
    EXPECT_EQ(conv->GetNestingCount(), 2u);
    EXPECT_EQ(Value("/net/vswitch/child[0000]/mtu"), "1700");
    EXPECT_EQ(Value("/net/tarnosnic/child[0000]/name"), "tarn0");
    EXPECT_EQ(Value("/net/vswitch/child[0002]/name"), "<absent>");  // the instance was already there
    EXPECT_EQ(conv->GetAllowedSpecs(), (std::vector<std::string>{kVss, "halden/network/tarnnics"}));
    conv->Unlock();
    EXPECT_EQ(conv->GetNestingCount(), 1u);

    // Another thread gets in only once this one has let go: whenever it runs, it
    // finds no nesting but its own. No sleep: wait until it is on its way in.
    std::atomic<bool> locked{false};
    std::atomic<uint32_t> nestingSeen{0};
    std::mutex m;
    std::condition_variable cv;
    bool started = false;
    std::thread other([&] {
        {
            std::lock_guard<std::mutex> g(m);
            started = true;
        }
        cv.notify_one();
        conv->Lock({kVss});
        nestingSeen = conv->GetNestingCount();
        locked = true;
        conv->Unlock();
    });
    {
        std::unique_lock<std::mutex> g(m);
        cv.wait(g, [&] { return started; });
    }
    EXPECT_FALSE(locked.load());
    conv->Unlock();
    other.join();
    EXPECT_TRUE(locked.load());
    EXPECT_EQ(nestingSeen.load(), 1u);
    EXPECT_EQ(conv->GetNestingCount(), 0u);
}

TEST_F(ConvertorTest, NestedInstancesFollowThoseInMemory) {
    Put("tarnnics", "network", "tarn0", R"({"device":"tarn0"})");
    Put("tarnnics", "network", "tarn1", R"({"device":"tarn1","ip":{"ipv6":{"ipv6_address":[{"address":"fe80::1","prefix_length":64}]}}})");
    conv->Lock({"halden/network/tarnnics/tarn1"});
    conv->Lock({"halden/network/tarnnics/tarn0"});
    EXPECT_EQ(Value("/net/tarnosnic/child[0000]/name"), "tarn1");
    EXPECT_EQ(Value("/net/tarnosnic/child[0000]/ipv6network/child[0000]/ipv6netmask"), "64");
    EXPECT_EQ(Value("/net/tarnosnic/child[0001]/name"), "tarn0");
    conv->Unlock();
    conv->Unlock();
}

TEST_F(ConvertorTest, ReadFailuresReleaseTheLock) {
    try {
        conv->Lock({"halden/network"});
        ADD_FAILURE() << "no exception";
    } catch (const ConfigFileException& e) {
        EXPECT_STREQ(e.what(), "ConfigStoreConvertor: read failed: Config Convertor: invalid object spec: halden/network");
    }
    EXPECT_EQ(conv->GetNestingCount(), 0u);
    conv->Lock({kVss});
    try {
        conv->Lock({"halden"});
        ADD_FAILURE() << "no exception";
    } catch (const ConfigFileException& e) {
        EXPECT_STREQ(e.what(), "ConfigStoreConvertor: nested read failed: Config Convertor: invalid object spec: halden");
    }
    EXPECT_EQ(conv->GetNestingCount(), 1u);
    conv->Unlock();
    std::thread other([&] {
        conv->Lock({kVss});
        conv->Unlock();
    });
    other.join();  // would hang if a failed lock kept the mutex
}

TEST_F(ConvertorTest, BootMergesDesiredAndCurrent) {
    Put("switches", "network_vss", "vSwitch0",
        R"({"name":"vSwitch0","mtu":9000,"port_groups":[{"name":"A","vlan_id":2},{"name":"B","vlan_id":3}]})");
    store->SetDesiredUserConfig(ConfigStoreObject::FromData(
        ConfigStoreObjectId("switches", "network_vss", "halden", "vSwitch0"),
        R"({"name":"vSwitch0","mtu":1500,"num_ports":64,"port_groups":[{"name":"A","vlan_id":1}]})"));
    store->SetDesiredUserConfig(ConfigStoreObject::FromData(
        ConfigStoreObjectId("switches", "network_vss", "halden", "vSwitch7"), R"({"name":"vSwitch7"})"));
    store->SetBootMode(true);
    conv->Lock({kVss});
    store->SetBootMode(false);
    EXPECT_EQ(Value("/net/vswitch/child[0000]/mtu"), "9000");
    EXPECT_EQ(Value("/net/vswitch/child[0000]/numPorts"), "64");
    EXPECT_EQ(Value("/net/vswitch/child[0000]/portgroup/child[0000]/vlanId"), "2");
    EXPECT_EQ(Value("/net/vswitch/child[0000]/portgroup/child[0001]/name"), "B");
    EXPECT_EQ(Value("/net/vswitch/child[0001]/name"), "vSwitch7");
    conv->Unlock();
}

TEST(ConfigMerge, KindChangeEndsTheMerge) {
    auto desired = ConfigStoreObject::FromData(ConfigStoreObjectId("k", "g", "halden"), R"({"a":1,"b":false,"c":1})");
    auto current = ConfigStoreObject::FromData(ConfigStoreObjectId("k", "g", "halden"), R"({"a":5,"b":true,"c":7})");
    rapidjson::Document merged;
    merged.Parse(ConfigParser::MergeConfigStoreObject(desired, current).c_str());
    EXPECT_EQ(merged["a"].GetInt(), 5);
    EXPECT_FALSE(merged["b"].GetBool());
    EXPECT_EQ(merged["c"].GetInt(), 1);
}

TEST_F(ConvertorTest, StickyImportStoresNetworkSettings) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/halden.conf",
                                       "# old host\n"
                                       "/net/vswitch/child[0000]/name = \"vSwitch0\"\n"
                                       "/net/vswitch/child[0000]/mtu = \"9000\"\n"
                                       "/net/vswitch/child[0000]/portgroup/child[0000]/name = \"VM\"\n"
                                       "/net/vswitch/child[0000]/portgroup/child[0000]/vlanId = \"5\"\n"
                                       "/net/vswitch/child[0000]/uplinks/child[0000]/pnic = \"pnx0\"\n"
                                       "/net/pnic/child[0000]/name = \"pnx0\"\n"
                                       "/system/uuid = \"ignored\"\n");
    Put("switches", "network_vss", "vSwitch0", R"({"name":"vSwitch0","extra":"kept"})");
    conv->Lock({kVss});
    conv->GetBranchFromSticky(std::set<std::string>{"vswitch"}, "/etc/halden.conf");
    EXPECT_EQ(Value("/net/pnic/child[0000]/name"), "<absent>");
    EXPECT_EQ(Value("/system/uuid"), "<absent>");
    conv->Write();
    conv->Unlock();
    EXPECT_TRUE(Json(Data("switches", "network_vss", "vSwitch0")) ==
                Json(R"({"name":"vSwitch0","extra":"kept","mtu":9000,"bridge":{"nics":["pnx0"]},
                         "port_groups":[{"name":"VM","vlan_id":5}]})"))
        << Data("switches", "network_vss", "vSwitch0");
}

TEST_F(ConvertorTest, DeletionsApplyAtOnce) {
    PutSwitches();
    conv->Lock({kVss});
    ConfigFileUtil file(conv);
    file.GetBranch("/net/vswitch/child[0000]/portgroup/child[0000]").HaldenConfToConfigStoreDelete();
    auto sw0 = Json(Data("switches", "network_vss", "vSwitch0"));
    ASSERT_EQ(sw0["port_groups"].Size(), 1u);
    EXPECT_STREQ(sw0["port_groups"][0]["name"].GetString(), "VM");
    file.GetBranch("/net/vswitch/child[0001]").HaldenConfToConfigStoreDelete();
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch1"), "<absent>");
    conv->Unlock();
}

TEST_F(ConvertorTest, SynchronizedFileHoldsTheSharedLock) {
    PutSwitches();
    auto shared = ConfigStoreConvertor::GetConvertor();
    {
        SynchronizedConfigFileUtil file({kVss});
        EXPECT_EQ(shared->GetNestingCount(), 1u);
        std::string name;
        EXPECT_TRUE(file->GetValue("/net/vswitch/child[0001]/name", &name));
        EXPECT_EQ(name, "vSwitch1");
        file->SetValue("/net/vswitch/child[0001]/mtu", 1280);
        file->Write();
    }
    EXPECT_EQ(shared->GetNestingCount(), 0u);
    EXPECT_TRUE(Json(Data("switches", "network_vss", "vSwitch1")) == Json(R"({"name":"vSwitch1","mtu":1280})"));
}

}  // namespace
