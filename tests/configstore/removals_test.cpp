// Removals made through the configuration tree reach the store: every list kind
// of the mapping table (object lists, string lists, nested lists), whole
// instances, single values and branches; renames keep what the store holds; the
// id map; removals that cannot be mapped fail loudly and change nothing.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <functional>

#include "configstore/configfileutil.h"
#include "configstore/configstoreconvertor.h"
#include "fixture.h"
#include "platform/configstore.h"
#include "platform/log.h"

using namespace TarnCtl::ConfigStoreUtil;
using HaldenConfigStore::ConfigStore;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;

namespace {

const char* kVss = "halden/network_vss/switches";
const char* kStacks = "halden/network/net_stacks";
const char* kNics = "halden/network/tarnnics";

const char* kSwitch0 = R"({"name":"vSwitch0","mtu":1500,"extra":"kept",
  "bridge":{"nics":["pnx0","pnx1","pnx2"]},
  "policy":{"nic_teaming":{"policy":"LOADBALANCE_SRCID","active_nics":["pnx0","pnx1"],"rolling_order":true},
            "security":{"allow_promiscuous":false}},
  "port_groups":[{"name":"Management","vlan_id":0,"other":1},
                 {"name":"VM","vlan_id":10,"other":2,
                  "policy":{"nic_teaming":{"active_nics":["pnx1","pnx2"],"standby_nics":["pnx0"]}}},
                 {"name":"NFS","vlan_id":20,"other":3}]})";

const char* kStack = R"({"key":"defaultTcpipStack","name":"default","unmapped":7,
  "routing_config":{"ipv4_default_gateway":"10.0.0.1","source":"MANUAL",
    "routes":[{"network":"10.1.0.0/16","gateway":"10.0.0.2","metric":5},
              {"network":"10.2.0.0/16","gateway":"10.0.0.3","metric":6}],
    "v6routes":[{"network":"fd00::/64","gateway":"fe80::1"},{"network":"fd01::/64","gateway":"fe80::2"}]},
  "dns":{"name_server":["10.0.0.53","10.0.0.54"],"search_domain":["a.example","b.example"],
         "system_search_domain":["sys.example"],"ra_name_server":["fd00::53"],"ra_search_domain":["ra.example"],
         "host_name":"h1"}})";

const char* kNic0 = R"({"device":"tarn0","mtu":1500,
  "ip":{"ipv4_address":"10.0.0.5","ipv6":{"dhcp":false,
    "ipv6_address":[{"address":"fd00::5","prefix_length":64},{"address":"fd00::6","prefix_length":80}]}}})";

class RemovalTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        store = ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
        conv = std::make_shared<ConfigStoreConvertor>();
        Put("switches", "network_vss", "vSwitch0", kSwitch0);
        Put("switches", "network_vss", "vSwitch1", R"({"name":"vSwitch1","mtu":9000})");
        Put("net_stacks", "network", "defaultTcpipStack", kStack);
        Put("tarnnics", "network", "tarn0", kNic0);
    }
    void TearDown() override {
        while (conv->GetNestingCount() > 0) conv->Unlock();
        conv.reset();
        HostTest::TearDown();
    }
    static ConfigStoreObjectId Id(const std::string& key, const std::string& group, const std::string& instance) {
        return instance.empty() ? ConfigStoreObjectId(key, group, "halden")
                                : ConfigStoreObjectId(key, group, "halden", instance);
    }
    void Put(const std::string& key, const std::string& group, const std::string& instance, const std::string& json) {
        store->Write(ConfigStoreObject::FromData(Id(key, group, instance), json));
    }
    std::string Data(const std::string& key, const std::string& group, const std::string& instance) {
        auto o = store->Get(Id(key, group, instance));
        return o ? o->GetData() : std::string("<absent>");
    }
    rapidjson::Document Stored(const std::string& key, const std::string& group, const std::string& instance) {
        rapidjson::Document d;
        d.Parse(Data(key, group, instance).c_str());
        return d;
    }
    rapidjson::Document Switch0() { return Stored("switches", "network_vss", "vSwitch0"); }
    rapidjson::Document Stack() { return Stored("net_stacks", "network", "defaultTcpipStack"); }
    static rapidjson::Document Json(const std::string& text) {
        rapidjson::Document d;
        d.Parse(text.c_str());
        return d;
    }
    static std::string Names(const rapidjson::Value& list, const char* prop) {
        std::string out;
        for (const auto& e : list.GetArray()) out += std::string(out.empty() ? "" : ",") + e[prop].GetString();
        return out;
    }
    static std::string Strings(const rapidjson::Value& list) {
        std::string out;
        for (const auto& e : list.GetArray()) out += std::string(out.empty() ? "" : ",") + e.GetString();
        return out;
    }
    std::string Thrown(const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "<no exception>";
    }
    // Locks, runs `change` on the tree, writes back and unlocks.
    void Change(const std::vector<std::string>& specs, const std::function<void(ConfigFileUtil&)>& change) {
        conv->Lock(specs);
        ConfigFileUtil file(conv);
        change(file);
        conv->Write();
        conv->Unlock();
    }

    std::shared_ptr<ConfigStore> store;
    std::shared_ptr<ConfigStoreConvertor> conv;
};

// ---- object lists -------------------------------------------------------------

TEST_F(RemovalTest, RemovedPortGroupLeavesTheStoreAndTheOthersKeepTheirFields) {
    Change({kVss}, [](ConfigFileUtil& f) {
        f.GetBranch("/net/vswitch/child[0000]").GetArray("portgroup/child").RemoveInstance("name", "VM");
    });
    auto sw = Switch0();
    ASSERT_EQ(Names(sw["port_groups"], "name"), "Management,NFS");
    EXPECT_EQ(sw["port_groups"][1]["other"].GetInt(), 3);  // unmapped field of a survivor
    EXPECT_EQ(sw["port_groups"][1]["vlan_id"].GetInt(), 20);
    EXPECT_STREQ(sw["extra"].GetString(), "kept");
    // A fresh read sees exactly the survivors.
    conv->Lock({kVss});
    std::string name;
    EXPECT_TRUE(conv->GetValue("/net/vswitch/child[0000]/portgroup/child[0001]/name", &name));
    EXPECT_EQ(name, "NFS");
    EXPECT_FALSE(conv->GetValue("/net/vswitch/child[0000]/portgroup/child[0002]/name", &name));
    conv->Unlock();
}

TEST_F(RemovalTest, DestroyDetachesTheNodeAndTheWriteFollows) {
    conv->Lock({kVss});
    auto array = conv->GetRoot()->GetArray("net/vswitch/child[0000]/portgroup/child");
    auto element = array->GetInstance("child[0000]");
    element->Destroy();
    EXPECT_FALSE(array->HasElement("child[0000]"));
    EXPECT_EQ(array->Size(), 2u);
    EXPECT_FALSE(conv->GetRoot()->HasBranch("net/vswitch/child[0000]/portgroup/child[0000]"));
    EXPECT_EQ(element->GetParent(), nullptr);
    auto mtu = conv->GetValue("/net/vswitch/child[0000]/mtu");
    mtu->Destroy();
    EXPECT_FALSE(conv->GetRoot()->HasValue("net/vswitch/child[0000]/mtu"));
    conv->Write();
    conv->Unlock();
    auto sw = Switch0();
    EXPECT_EQ(Names(sw["port_groups"], "name"), "VM,NFS");
    EXPECT_FALSE(sw.HasMember("mtu"));
    EXPECT_STREQ(sw["extra"].GetString(), "kept");
}

TEST_F(RemovalTest, EveryPortGroupRemovedLeavesAnEmptyList) {
    Change({kVss}, [](ConfigFileUtil& f) { f.Remove("/net/vswitch/child[0000]/portgroup"); });
    auto sw = Switch0();
    ASSERT_TRUE(sw["port_groups"].IsArray());
    EXPECT_EQ(sw["port_groups"].Size(), 0u);
    EXPECT_EQ(Strings(sw["bridge"]["nics"]), "pnx0,pnx1,pnx2");
}

TEST_F(RemovalTest, RoutesV6RoutesAndIpv6AddressesFollowRemovals) {
    Change({kStacks, kNics}, [](ConfigFileUtil& f) {
        f.GetArray("/net/netstackinstance/child[0000]/route/routes/child").RemoveInstance("network", "10.1.0.0/16");
        f.GetArray("/net/netstackinstance/child[0000]/route/v6routes/child").RemoveInstance("network", "fd01::/64");
        f.GetArray("/net/tarnosnic/child[0000]/ipv6network/child").RemoveInstance("ipv6address", "fd00::5");
    });
    auto stack = Stack();
    EXPECT_EQ(Names(stack["routing_config"]["routes"], "network"), "10.2.0.0/16");
    EXPECT_EQ(stack["routing_config"]["routes"][0]["metric"].GetInt(), 6);
    EXPECT_EQ(Names(stack["routing_config"]["v6routes"], "network"), "fd00::/64");
    EXPECT_STREQ(stack["routing_config"]["ipv4_default_gateway"].GetString(), "10.0.0.1");
    auto nic = Stored("tarnnics", "network", "tarn0");
    ASSERT_EQ(Names(nic["ip"]["ipv6"]["ipv6_address"], "address"), "fd00::6");
    EXPECT_EQ(nic["ip"]["ipv6"]["ipv6_address"][0]["prefix_length"].GetInt(), 80);
}

TEST_F(RemovalTest, RemovedRouteBranchTakesTheRoutingConfiguration) {
    Change({kStacks}, [](ConfigFileUtil& f) { f.Remove("/net/netstackinstance/child[0000]/route"); });
    EXPECT_TRUE(Stack() == Json(R"({"key":"defaultTcpipStack","name":"default","unmapped":7,
        "routing_config":{"routes":[],"v6routes":[]},
        "dns":{"name_server":["10.0.0.53","10.0.0.54"],"search_domain":["a.example","b.example"],
               "system_search_domain":["sys.example"],"ra_name_server":["fd00::53"],
               "ra_search_domain":["ra.example"],"host_name":"h1"}})"))
        << Data("net_stacks", "network", "defaultTcpipStack");
}

// ---- string lists -------------------------------------------------------------

TEST_F(RemovalTest, StringListsAreRebuiltFromWhatIsLeft) {
    Change({kVss}, [](ConfigFileUtil& f) {
        auto sw = f.GetBranch("/net/vswitch/child[0000]");
        sw.Remove("uplinks/child[0001]");                       // bridge/nics
        sw.Remove("teamPolicy/activeNics/child[0000]");         // policy/nic_teaming/active_nics
        sw.Remove("portgroup/child[0001]/teamPolicy/standbyNics/child[0000]");  // nested, last entry
    });
    auto sw = Switch0();
    EXPECT_EQ(Strings(sw["bridge"]["nics"]), "pnx0,pnx2");
    EXPECT_EQ(Strings(sw["policy"]["nic_teaming"]["active_nics"]), "pnx1");
    const auto& pg = sw["port_groups"][1]["policy"]["nic_teaming"];
    EXPECT_EQ(Strings(pg["active_nics"]), "pnx1,pnx2");
    ASSERT_TRUE(pg["standby_nics"].IsArray());
    EXPECT_EQ(pg["standby_nics"].Size(), 0u);
}

TEST_F(RemovalTest, DnsListsFollowRemovals) {
    // One row per DNS list of the mapping table: (tree array, element to drop, store member, left).
    struct Row {
        const char* array;
        const char* drop;
        const char* member;
        const char* left;
    };
    const Row rows[] = {
        {"dns/nameServer/child", "child[0000]", "name_server", "10.0.0.54"},
        {"dns/searchDomain/child", "child[0001]", "search_domain", "a.example"},
        {"dns/systemSearchDomain/child", "child[0000]", "system_search_domain", ""},
        {"dns/raNameServer/child", "child[0000]", "ra_name_server", ""},
        {"dns/raSearchDomain/child", "child[0000]", "ra_search_domain", ""},
    };
    for (const Row& r : rows) {
        Put("net_stacks", "network", "defaultTcpipStack", kStack);
        Change({kStacks}, [&](ConfigFileUtil& f) {
            auto stack = f.GetBranch("/net/netstackinstance/child[0000]");
            std::string arrayPath = r.array;
            std::string holder = arrayPath.substr(0, arrayPath.rfind('/'));
            EXPECT_TRUE(stack.GetBranch(holder).Remove(r.drop)) << r.array;
        });
        auto stack = Stack();
        EXPECT_EQ(Strings(stack["dns"][r.member]), r.left) << r.member;
        EXPECT_STREQ(stack["dns"]["host_name"].GetString(), "h1") << r.member;
    }
}

TEST_F(RemovalTest, WholeStringListRemovedKeepsAnEmptyList) {
    Change({kVss}, [](ConfigFileUtil& f) { f.Remove("/net/vswitch/child[0000]/uplinks"); });
    auto sw = Switch0();
    ASSERT_TRUE(sw["bridge"]["nics"].IsArray());
    EXPECT_EQ(sw["bridge"]["nics"].Size(), 0u);
    // Read back: no uplink in the tree, and an added one makes a list of one.
    Change({kVss}, [](ConfigFileUtil& f) {
        EXPECT_FALSE(f.HasValue("/net/vswitch/child[0000]/uplinks/child[0000]/pnic"));
        f.GetBranch("/net/vswitch/child[0000]").GetArray("uplinks/child").NewInstance().SetValue("pnic", "pnx9");
    });
    EXPECT_EQ(Strings(Switch0()["bridge"]["nics"]), "pnx9");
}

// ---- whole instances, values, branches ------------------------------------------

TEST_F(RemovalTest, RemovedInstancesAreDeleted) {
    Change({kVss}, [](ConfigFileUtil& f) { f.GetArray("/net/vswitch/child").RemoveInstance("name", "vSwitch1"); });
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch1"), "<absent>");
    EXPECT_NE(Data("switches", "network_vss", "vSwitch0"), "<absent>");
    // Locked for one instance, a removed top branch deletes only that instance.
    Put("switches", "network_vss", "vSwitch1", R"({"name":"vSwitch1"})");
    Change({std::string(kVss) + "/vSwitch1"}, [](ConfigFileUtil& f) { f.Remove("/net/vswitch"); });
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch1"), "<absent>");
    EXPECT_NE(Data("switches", "network_vss", "vSwitch0"), "<absent>");
    // Everything below "/net": every object read.
    Change({kVss, kStacks}, [](ConfigFileUtil& f) { f.Remove("/net"); });
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch0"), "<absent>");
    EXPECT_EQ(Data("net_stacks", "network", "defaultTcpipStack"), "<absent>");
    EXPECT_NE(Data("tarnnics", "network", "tarn0"), "<absent>");  // never read, never touched
}

TEST_F(RemovalTest, RemovedSingletonIsDeleted) {
    Put("firewall", "network", "", R"({"enabled":true,"default_action":"DROP"})");
    Change({"halden/network/firewall"}, [](ConfigFileUtil& f) { f.Remove("/firewall/cfg/enabled"); });
    EXPECT_TRUE(Stored("firewall", "network", "") == Json(R"({"default_action":"DROP"})"));
    Change({"halden/network/firewall"}, [](ConfigFileUtil& f) { f.Remove("/firewall/cfg"); });
    EXPECT_EQ(Data("firewall", "network", ""), "<absent>");
}

TEST_F(RemovalTest, RemovedPolicyBranchTakesOnlyItsProperties) {
    Change({kVss}, [](ConfigFileUtil& f) { f.Remove("/net/vswitch/child[0000]/teamPolicy"); });
    auto sw = Switch0();
    // Lists keep their kind, emptied.
    EXPECT_TRUE(sw["policy"]["nic_teaming"] == Json(R"({"active_nics":[]})"))
        << Data("switches", "network_vss", "vSwitch0");
    EXPECT_FALSE(sw["policy"]["security"]["allow_promiscuous"].GetBool());
    EXPECT_EQ(Strings(sw["bridge"]["nics"]), "pnx0,pnx1,pnx2");
}

TEST_F(RemovalTest, RemovedAndMadeAgainStartsFromNothing) {
    Change({kVss}, [](ConfigFileUtil& f) {
        f.GetArray("/net/vswitch/child").RemoveInstance("name", "vSwitch0");
        auto again = f.GetArray("/net/vswitch/child").NewInstance();
        again.SetValue("name", "vSwitch0");
        again.SetValue("mtu", 1600);
    });
    EXPECT_TRUE(Switch0() == Json(R"({"name":"vSwitch0","mtu":1600})")) << Data("switches", "network_vss", "vSwitch0");
}

TEST_F(RemovalTest, RenamesKeepWhatTheStoreHolds) {
    Change({kVss}, [](ConfigFileUtil& f) {
        f.SetValue("/net/vswitch/child[0000]/portgroup/child[0001]/name", "VM Network");
        f.SetValue("/net/vswitch/child[0001]/name", "vSwitch9");
    });
    auto sw = Switch0();
    ASSERT_EQ(Names(sw["port_groups"], "name"), "Management,VM Network,NFS");
    EXPECT_EQ(sw["port_groups"][1]["other"].GetInt(), 2);
    EXPECT_EQ(Strings(sw["port_groups"][1]["policy"]["nic_teaming"]["standby_nics"]), "pnx0");
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch1"), "<absent>");
    EXPECT_TRUE(Stored("switches", "network_vss", "vSwitch9") == Json(R"({"name":"vSwitch9","mtu":9000})"))
        << Data("switches", "network_vss", "vSwitch9");
    // Renamed and then removed in a later write of the same lock.
    conv->Lock({kVss});
    ConfigFileUtil f(conv);
    f.SetValue("/net/vswitch/child[0000]/portgroup/child[0002]/name", "Storage");
    conv->Write();
    f.GetArray("/net/vswitch/child[0000]/portgroup/child").RemoveInstance("name", "Storage");
    conv->Write();
    conv->Unlock();
    EXPECT_EQ(Names(Switch0()["port_groups"], "name"), "Management,VM Network");
}

TEST_F(RemovalTest, AFailedWriteKeepsTheRemovalPending) {
    conv->Lock({kVss});
    ConfigFileUtil f(conv);
    f.Remove("/net/vswitch/child[0000]/uplinks/child[0000]");
    f.SetValue("/net/vswitch/child[0000]/mtu", "big");
    std::string before = Data("switches", "network_vss", "vSwitch0");
    EXPECT_EQ(Thrown([&] { conv->Write(); }),
              "Config Convertor: int64 value expected in /net/vswitch/child[0000]/mtu");
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch0"), before);
    f.SetValue("/net/vswitch/child[0000]/mtu", 1700);
    conv->Write();
    conv->Unlock();
    auto sw = Switch0();
    EXPECT_EQ(Strings(sw["bridge"]["nics"]), "pnx1,pnx2");
    EXPECT_EQ(sw["mtu"].GetInt(), 1700);
}

TEST_F(RemovalTest, PreviewShowsRemovalsWithoutStoringThem) {
    conv->Lock({kVss});
    ConfigFileUtil f(conv);
    f.GetArray("/net/vswitch/child").RemoveInstance("name", "vSwitch1");
    f.Remove("/net/vswitch/child[0000]/portgroup/child[0000]");
    std::string before = Data("switches", "network_vss", "vSwitch0");
    auto preview = conv->PreviewWrite();
    ASSERT_EQ(preview.size(), 2u);
    EXPECT_EQ(preview[0].first, "halden/network_vss/switches/vSwitch1");
    EXPECT_EQ(preview[0].second, "<deleted>");
    EXPECT_EQ(preview[1].first, "halden/network_vss/switches/vSwitch0");
    EXPECT_EQ(Names(Json(preview[1].second)["port_groups"], "name"), "VM,NFS");
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch0"), before);
    EXPECT_NE(Data("switches", "network_vss", "vSwitch1"), "<absent>");
    conv->Write();  // the preview left everything pending
    conv->Unlock();
    EXPECT_EQ(Data("switches", "network_vss", "vSwitch1"), "<absent>");
    EXPECT_EQ(Names(Switch0()["port_groups"], "name"), "VM,NFS");
}

TEST_F(RemovalTest, UnmappableRemovalFailsAndKeepsTheNode) {
    conv->Lock({kVss});
    conv->GetRoot()->GetBranch("net/vswitch")->SetValue("stray", "x");
    EXPECT_EQ(Thrown([&] { conv->GetRoot()->Remove("net/vswitch/stray"); }),
              "Config Convertor: removal of /net/vswitch/stray can not map to a Config Store object");
    EXPECT_TRUE(conv->GetRoot()->HasValue("net/vswitch/stray"));
    // Nodes outside every store object go quietly: the store never had them.
    conv->GetRoot()->GetBranch("system")->SetValue("uuid", "u");
    EXPECT_TRUE(conv->GetRoot()->Remove("system"));
    conv->Unlock();
}

// ---- deletion at once -----------------------------------------------------------

TEST_F(RemovalTest, DeletionAtOnceReachesEveryListKind) {
    conv->Lock({kVss, kStacks});
    ConfigFileUtil f(conv);
    f.GetBranch("/net/vswitch/child[0000]/uplinks/child[0000]").HaldenConfToConfigStoreDelete();
    EXPECT_EQ(Strings(Switch0()["bridge"]["nics"]), "pnx1,pnx2");
    f.GetBranch("/net/vswitch/child[0000]/portgroup/child[0002]").HaldenConfToConfigStoreDelete();
    EXPECT_EQ(Names(Switch0()["port_groups"], "name"), "Management,VM");
    f.GetBranch("/net/netstackinstance/child[0000]/route/routes/child[0001]").HaldenConfToConfigStoreDelete();
    EXPECT_EQ(Names(Stack()["routing_config"]["routes"], "network"), "10.1.0.0/16");
    // Only the branch goes: other changes in the tree wait for Write.
    f.Remove("/net/netstackinstance/child[0000]/dns/nameServer/child[0000]");
    f.GetBranch("/net/netstackinstance/child[0000]/dns/searchDomain/child[0000]").HaldenConfToConfigStoreDelete();
    auto stack = Stack();
    EXPECT_EQ(Strings(stack["dns"]["search_domain"]), "b.example");
    EXPECT_EQ(Strings(stack["dns"]["name_server"]), "10.0.0.53,10.0.0.54");
    f.GetBranch("/net/vswitch/child[0000]").SetValue("unmapped/child[0000]/item", "o");
    EXPECT_EQ(Thrown([&] { f.GetBranch("/net/vswitch/child[0000]/unmapped").HaldenConfToConfigStoreDelete(); }),
              "Config Convertor: removal of /net/vswitch/child[0000]/unmapped can not map to valid Config Store "
              "object property");
    conv->Unlock();
}

// ---- the id map ----------------------------------------------------------------

TEST_F(RemovalTest, IdMapRegistration) {
    conv->Lock({kVss, kStacks});
    ConfigFileUtil f(conv);
    const std::string pg = "/net/vswitch/child[0000]/portgroup/child[0002]";
    const std::string route = "/net/netstackinstance/child[0000]/route/routes/child[0001]";
    f.GetBranch(pg).RegisterConfigStoreId("port_groups/2");
    f.RegisterConfigStoreId(route, "routes/1");
    EXPECT_EQ(conv->GetConfigStoreId(pg), "port_groups/2");
    EXPECT_EQ(conv->GetConfigStoreId(route), "routes/1");
    const std::pair<std::pair<std::string, std::string>, std::string> refused[] = {
        {{pg, "routes/2"}, "Config Convertor: sub-object id routes/2 does not name the store list of " + pg},
        {{pg, "port_groups/1"}, "Config Convertor: sub-object id port_groups/1 does not match the index of " + pg},
        {{pg, "port_groups/"}, "Config Convertor: invalid sub-object id: port_groups/"},
        {{pg, "port_groups/x1"}, "Config Convertor: invalid sub-object id: port_groups/x1"},
        {{pg, "2"}, "Config Convertor: invalid sub-object id: 2"},
        {{"/net/vswitch/child[0000]/portgroup/child[0007]", "port_groups/7"},
         "Config Convertor: no tree element at /net/vswitch/child[0000]/portgroup/child[0007]"},
        {{"/net/vswitch/child[0000]", "switches/0"},
         "Config Convertor: /net/vswitch/child[0000] is not an element of a store list"},
        {{"/net/vswitch/child[0000]/uplinks/child[0000]", "nics/0"},
         "Config Convertor: /net/vswitch/child[0000]/uplinks/child[0000] is not an element of a store list"},
    };
    for (const auto& [args, text] : refused) {
        EXPECT_EQ(Thrown([&] { f.RegisterConfigStoreId(args.first, args.second); }), text) << args.second;
    }
    EXPECT_EQ(conv->GetConfigStoreId(pg), "port_groups/2");  // refusals change nothing
    EXPECT_EQ(conv->GetConfigStoreId("/net/vswitch/child[0000]/portgroup/child[0007]"), "");
    // A removed element leaves the id map.
    f.Remove(pg);
    EXPECT_EQ(conv->GetConfigStoreId(pg), "");
    EXPECT_EQ(conv->GetConfigStoreId(route), "routes/1");
    conv->Unlock();
}

// ---- boot-time writes ---------------------------------------------------------

TEST_F(RemovalTest, BootWritesFlagEveryObjectButSwitchesNicsAndNetstacks) {
    Put("nics", "network", "pnx0", R"({"name":"pnx0","mtu":1500})");
    Put("firewall", "network", "", R"({"enabled":true})");
    struct Row {
        const char* path;
        const char* value;
        ConfigStoreObjectId id;
        bool applied;
    };
    const Row rows[] = {
        {"/net/vswitch/child[0000]/mtu", "1600", Id("switches", "network_vss", "vSwitch0"), false},
        {"/net/tarnosnic/child[0000]/mtu", "1600", Id("tarnnics", "network", "tarn0"), false},
        {"/net/netstackinstance/child[0000]/name", "other", Id("net_stacks", "network", "defaultTcpipStack"), false},
        {"/net/pnic/child[0000]/rx", "512", Id("nics", "network", "pnx0"), true},
        {"/firewall/cfg/enabled", "false", Id("firewall", "network", ""), true},
    };
    store->SetBootMode(true);
    conv->Lock({kVss, kNics, kStacks, "halden/network/nics", "halden/network/firewall"});
    for (const Row& r : rows) conv->SetValue(r.path, std::string(r.value));
    conv->Write();
    EXPECT_FALSE(store->InTransaction());
    conv->Unlock();
    store->SetBootMode(false);
    for (const Row& r : rows) {
        EXPECT_EQ(store->GetBootStatus(r.id), r.applied ? std::optional<bool>(true) : std::nullopt) << r.path;
    }
    EXPECT_EQ(Stored("nics", "network", "pnx0")["ring"]["rx"].GetInt(), 512);
    EXPECT_EQ(Switch0()["mtu"].GetInt(), 1600);
    // Outside boot nothing is flagged.
    Put("nics", "network", "pnx1", R"({"name":"pnx1"})");
    Change({"halden/network/nics"}, [](ConfigFileUtil& f) { f.SetValue("/net/pnic/child[0001]/rx", 256); });
    EXPECT_EQ(store->GetBootStatus(Id("nics", "network", "pnx1")), std::nullopt);
}

}  // namespace
