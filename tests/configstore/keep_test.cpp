// The converter keeps its tree from one lock to the next only while the tree
// is exactly what a new read would give: every change by anyone else, every
// change left unwritten, a failed or rolled-back write, another set of objects
// and the boot's merged view make the next lock read the store again.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <set>
#include <sstream>

#include "configstore/configfileutil.h"
#include "configstore/configstoreconvertor.h"
#include "configstore/configupgradeparser.h"
#include "fixture.h"
#include "platform/configstore.h"
#include "sim/faults.h"

using namespace TarnCtl::ConfigStoreUtil;
using HaldenConfigStore::ConfigStore;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;

namespace {

const char* kVss = "halden/network_vss/switches";
const char* kFirewall = "halden/network/firewall";

const char* kSwitch0 = R"({"name":"vSwitch0","num_ports":128,"mtu":1500,"extra":"kept",
  "policy":{"nic_teaming":{"policy":"LOADBALANCE_SRCID","notify_switches":true}},
  "port_groups":[{"name":"Management","vlan_id":0},{"name":"VM","vlan_id":10}]})";
const char* kSwitch1 = R"({"name":"vSwitch1","mtu":9000})";

const char* kMtu0 = "/net/vswitch/child[0000]/mtu";

class KeepTest : public TarnTest::HostTest {
public:  // the table rows below act through the fixture
    void SetUp() override {
        HostTest::SetUp();
        store = ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
        conv = std::make_shared<ConfigStoreConvertor>();
        Put("vSwitch0", kSwitch0);
        Put("vSwitch1", kSwitch1);
    }
    void TearDown() override {
        while (conv->GetNestingCount() > 0) conv->Unlock();
        conv.reset();
        store->SetBootMode(false);
        HostTest::TearDown();
    }
    static ConfigStoreObjectId Id(const std::string& instance) {
        return ConfigStoreObjectId("switches", "network_vss", "halden", instance);
    }
    void Put(const std::string& instance, const std::string& json) {
        store->Write(ConfigStoreObject::FromData(Id(instance), json));
    }
    rapidjson::Document Stored(const std::string& instance) {
        auto o = store->Get(Id(instance));
        rapidjson::Document d;
        d.Parse(o ? o->GetData().c_str() : "{}");
        return d;
    }
    // Another process writes the object through its own store connection.
    void PutFromOtherProcess(const std::string& instance, const std::string& json) {
        pid_t child = fork();
        ASSERT_NE(child, -1);
        if (child == 0) {
            auto own = ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
            own->Write(ConfigStoreObject::FromData(Id(instance), json));
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    std::string Value(const std::string& path) {
        std::string v;
        return conv->GetValue(path, &v) ? v : "<absent>";
    }
    // One lock, `change`, write-back and unlock, as every setter does.
    void Cycle(const std::function<void()>& change, const std::vector<std::string>& specs = {kVss}) {
        conv->Lock(specs);
        change();
        conv->Write();
        conv->Unlock();
    }
    // The value at `path` as the next lock of `specs` shows it; `kept` tells
    // whether that lock kept the tree of the one before.
    std::string NextLockValue(const std::string& path, bool* kept = nullptr,
                              const std::vector<std::string>& specs = {kVss}) {
        auto before = conv->GetRoot();  // held, so a new root cannot take its address
        conv->Lock(specs);
        if (kept) *kept = conv->GetRoot() == before;
        std::string v = Value(path);
        conv->Unlock();
        return v;
    }
    static std::string Thrown(const std::function<void()>& f) {
        try {
            f();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "<no exception>";
    }

    std::shared_ptr<ConfigStore> store;
    std::shared_ptr<ConfigStoreConvertor> conv;
};

TEST_F(KeepTest, UnchangedStoreKeepsTheTreeAfterReadAndAfterWriteBack) {
    conv->Lock({kVss});
    conv->Unlock();
    bool kept = false;
    EXPECT_EQ(NextLockValue(kMtu0, &kept), "1500");
    EXPECT_TRUE(kept);

    Cycle([&] {
        conv->SetValue(kMtu0, 9000);
        conv->SetValue("/net/vswitch/child[0000]/teamPolicy/team", "fo_explicit");
        conv->SetValue("/net/vswitch/child[0000]/portgroup/child[0001]/vlanId", 20);
    });
    EXPECT_EQ(NextLockValue(kMtu0, &kept), "9000");
    EXPECT_TRUE(kept);
    EXPECT_EQ(NextLockValue("/net/vswitch/child[0000]/teamPolicy/team"), "fo_explicit");
    EXPECT_EQ(NextLockValue("/net/vswitch/child[0000]/portgroup/child[0001]/vlanId"), "20");
    // A kept tree writes on from what it wrote: the store holds both writes.
    Cycle([&] { conv->SetValue("/net/vswitch/child[0000]/numPorts", 64); });
    auto sw = Stored("vSwitch0");
    EXPECT_EQ(sw["mtu"].GetInt(), 9000);
    EXPECT_EQ(sw["num_ports"].GetInt(), 64);
    EXPECT_EQ(sw["port_groups"][1]["vlan_id"].GetInt(), 20);
    EXPECT_STREQ(sw["policy"]["nic_teaming"]["policy"].GetString(), "FAILOVER_EXPLICIT");
    EXPECT_STREQ(sw["extra"].GetString(), "kept");
    EXPECT_EQ(NextLockValue(kMtu0, &kept), "9000");
    EXPECT_TRUE(kept);
}

// Each row: what happens after a lock, set and write-back of mtu 9000, and
// what the next lock must show.
struct RebuildCase {
    const char* name;
    std::function<void(KeepTest&)> between;
    std::string path;
    std::string expected;
};

TEST_F(KeepTest, EveryChangeTheTreeDoesNotHoldMakesTheNextLockReadTheStore) {
    const std::string numPorts1 = "/net/vswitch/child[0001]/numPorts";
    const std::vector<RebuildCase> cases = {
        {"another process writes",
         [](KeepTest& t) { t.PutFromOtherProcess("vSwitch1", R"({"name":"vSwitch1","mtu":9000,"num_ports":16})"); },
         numPorts1, "16"},
        {"this process writes the store directly",
         [](KeepTest& t) { t.Put("vSwitch1", R"({"name":"vSwitch1","mtu":9000,"num_ports":24})"); }, numPorts1,
         "24"},
        {"a value set and not written",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->SetValue(kMtu0, 1280);
             t.conv->Unlock();
         },
         kMtu0, "9000"},
        {"a value marked for write-back and not written",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->GetValue(kMtu0)->Dirty();
             t.conv->Unlock();
         },
         kMtu0, "9000"},
        {"an element made and not written",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->GetBranch("/net/vswitch/child[0005]");
             t.conv->Unlock();
         },
         "/net/vswitch/child[0005]/name", "<absent>"},
        {"an empty value made and written with another",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->GetValue("/net/vswitch/child[0001]/numPorts");
             t.conv->SetValue(kMtu0, 1280);
             t.conv->Write();
             t.conv->Unlock();
         },
         numPorts1, "<absent>"},
        {"an element removed and not written",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->GetBranch("/net/vswitch")->GetArray("child")->RemoveElement("child[0001]");
             t.conv->Unlock();
         },
         "/net/vswitch/child[0001]/mtu", "9000"},
        {"a value put in the tree as read and not written",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->GetValue(kMtu0)->InitValue("4000");
             t.conv->Unlock();
         },
         kMtu0, "9000"},
        {"a write-back that fails",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->SetValue(kMtu0, 1280);
             TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Write, 0, 1});
             EXPECT_EQ(Thrown([&] { t.conv->Write(); }),
                       "Unable to write halden/network_vss/switches/vSwitch0: injected fault");
             t.conv->Unlock();
         },
         kMtu0, "9000"},
        {"a write-back whose commit fails",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->SetValue(kMtu0, 1280);
             TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit, 0, 1});
             EXPECT_EQ(Thrown([&] { t.conv->Write(); }), "Unable to commit the store transaction: injected fault");
             t.conv->Unlock();
         },
         kMtu0, "9000"},
        {"a write-back inside a transaction that is rolled back",
         [](KeepTest& t) {
             HaldenConfigStore::ConfigStoreTransaction tx(t.store);
             t.conv->Lock({kVss});
             t.conv->SetValue(kMtu0, 1280);
             t.conv->Write();
             t.conv->Unlock();
         },
         kMtu0, "9000"},
        {"the store changes between the lock and its write-back",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.Put("vSwitch1", R"({"name":"vSwitch1","mtu":9000,"num_ports":48})");
             t.conv->SetValue(kMtu0, 1280);
             t.conv->Write();
             t.conv->Unlock();
         },
         numPorts1, "48"},
        {"a value the store keeps in another form",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->SetValue(kMtu0, "01280");
             t.conv->Write();
             t.conv->Unlock();
         },
         kMtu0, "1280"},
        {"a value the store has no property for",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->SetValue("/net/vswitch/child[0000]/unknownKey", "x");
             t.conv->Write();
             t.conv->Unlock();
         },
         "/net/vswitch/child[0000]/unknownKey", "<absent>"},
        {"an element written under a number the store does not keep",
         [](KeepTest& t) {
             t.conv->Lock({kVss});
             t.conv->SetValue("/net/vswitch/child[0000]/portgroup/child[0007]/name", "Storage");
             t.conv->Write();
             t.conv->Unlock();
         },
         "/net/vswitch/child[0000]/portgroup/child[0002]/name", "Storage"},
        {"a tree rebuilt from a legacy file",
         [](KeepTest& t) {
             ConfigUpgradeParser parser(
                 std::make_unique<std::istringstream>("/net/vswitch/child[0000]/mtu = \"1280\"\n"));
             t.conv->GetBranchFromSticky(std::set<std::string>{"vswitch"}, parser);
         },
         kMtu0, "9000"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Put("vSwitch0", kSwitch0);
        Put("vSwitch1", kSwitch1);
        Cycle([&] { conv->SetValue(kMtu0, 9000); });
        c.between(*this);
        bool kept = true;
        EXPECT_EQ(NextLockValue(c.path, &kept), c.expected);
        EXPECT_FALSE(kept);
    }
}

TEST_F(KeepTest, AnotherSetOfObjectsIsReadAgain) {
    store->Write(ConfigStoreObject::FromData(ConfigStoreObjectId("firewall", "network", "halden"),
                                             R"({"enabled":true,"default_action":"DROP"})"));
    conv->Lock({kVss});
    conv->Unlock();
    bool kept = true;
    EXPECT_EQ(NextLockValue("/firewall/cfg/enabled", &kept, {kVss, kFirewall}), "true");
    EXPECT_FALSE(kept);
    // Fewer objects than the tree holds.
    EXPECT_EQ(NextLockValue("/firewall/cfg/enabled", &kept, {kVss}), "<absent>");
    EXPECT_FALSE(kept);
    // Objects a nested lock added: the next outer lock of the first objects reads again.
    conv->Lock({kVss});
    conv->Lock({kFirewall});
    EXPECT_EQ(Value("/firewall/cfg/enabled"), "true");
    conv->Unlock();
    conv->Unlock();
    EXPECT_EQ(NextLockValue("/firewall/cfg/enabled", &kept, {kVss}), "<absent>");
    EXPECT_FALSE(kept);
    // ... and so does one of all of them: a nested read may number elements
    // otherwise than one read of everything.
    conv->Lock({kVss});
    conv->Lock({kFirewall});
    conv->Unlock();
    conv->Unlock();
    EXPECT_EQ(NextLockValue("/firewall/cfg/enabled", &kept, {kVss, kFirewall}), "true");
    EXPECT_FALSE(kept);
    EXPECT_EQ(NextLockValue("/firewall/cfg/enabled", &kept, {kFirewall, kVss}), "true");
    EXPECT_TRUE(kept);
}

// While the host boots a lock shows the desired configuration merged in
// (here the rolling order, which the stored vSwitch0 lacks): never a kept tree's
// view, and never kept for a lock after the boot.
TEST_F(KeepTest, BootModeLocksNeverShareATree) {
    const std::string rolling = "/net/vswitch/child[0000]/teamPolicy/rollingOrder";
    store->SetDesiredUserConfig(ConfigStoreObject::FromData(
        Id("vSwitch0"), R"({"name":"vSwitch0","policy":{"nic_teaming":{"rolling_order":true}}})"));
    struct Row {
        const char* name;
        std::function<void(KeepTest&)> before;  // runs before the lock below
        bool bootAtLock;
        std::string expected;
    };
    const std::vector<Row> rows = {
        {"boot begins after a lock", [](KeepTest& t) { t.Cycle([&] { t.conv->SetValue(kMtu0, 9000); }); }, true,
         "true"},
        {"tree read while booting, locked after",
         [](KeepTest& t) {
             t.store->SetBootMode(true);
             t.conv->Lock({kVss});
             EXPECT_EQ(t.Value("/net/vswitch/child[0000]/teamPolicy/rollingOrder"), "true");
             t.conv->Unlock();
             t.store->SetBootMode(false);
         },
         false, "<absent>"},
        {"tree written while booting, locked after",
         [](KeepTest& t) {
             t.store->SetBootMode(true);
             t.Cycle([&] { t.conv->SetValue(kMtu0, 9000); });
             t.store->SetBootMode(false);
         },
         false, "<absent>"},
        {"read while booting, locked in the next boot",
         [](KeepTest& t) {
             t.store->SetBootMode(true);
             t.conv->Lock({kVss});
             t.conv->Unlock();
             t.store->SetBootMode(false);
         },
         true, "true"},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.name);
        Put("vSwitch0", kSwitch0);
        r.before(*this);
        if (r.bootAtLock) store->SetBootMode(true);
        bool kept = true;
        EXPECT_EQ(NextLockValue(rolling, &kept), r.expected);
        EXPECT_FALSE(kept);
        if (r.bootAtLock) store->SetBootMode(false);
        EXPECT_EQ(NextLockValue(rolling), "<absent>");
    }
}

// What a write-back keeps of the objects it stored is only used while
// nothing else wrote, and never after a write that failed part-way.
TEST_F(KeepTest, WriteBacksBuildOnTheStoreNotOnWhatTheyKept) {
    conv->Lock({kVss});
    conv->SetValue(kMtu0, 9000);
    conv->Write();
    // A write-back refused before it reaches the store, then one that fails in it.
    // (A value below the element: only it is written, not the whole element.)
    conv->SetValue("/net/vswitch/child[0000]/teamPolicy/notifySwitches", "maybe");
    EXPECT_EQ(Thrown([&] { conv->Write(); }),
              "Config Convertor: boolean value expected in /net/vswitch/child[0000]/teamPolicy/notifySwitches");
    conv->SetValue("/net/vswitch/child[0000]/teamPolicy/notifySwitches", false);
    conv->Write();
    auto sw0 = Stored("vSwitch0");
    EXPECT_EQ(sw0["mtu"].GetInt(), 9000);
    EXPECT_FALSE(sw0["policy"]["nic_teaming"]["notify_switches"].GetBool());
    EXPECT_EQ(sw0["num_ports"].GetInt(), 128);
    conv->SetValue("/net/vswitch/child[0000]/numPorts", 64);
    conv->Write();
    conv->SetValue("/net/vswitch/child[0000]/numPorts", 32);
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit, 0, 1});
    EXPECT_EQ(Thrown([&] { conv->Write(); }), "Unable to commit the store transaction: injected fault");
    EXPECT_EQ(Stored("vSwitch0")["num_ports"].GetInt(), 64);
    conv->SetValue("/net/vswitch/child[0001]/numPorts", 16);
    conv->Write();  // the failed write's value is still pending and goes in now
    sw0 = Stored("vSwitch0");
    EXPECT_EQ(sw0["mtu"].GetInt(), 9000);
    EXPECT_EQ(sw0["num_ports"].GetInt(), 32);
    EXPECT_EQ(Stored("vSwitch1")["num_ports"].GetInt(), 16);

    // Another process writes between two write-backs of one lock.
    PutFromOtherProcess("vSwitch0", R"({"name":"vSwitch0","mtu":9000,"num_ports":64,"extra":"other process"})");
    conv->SetValue(kMtu0, 1600);
    conv->Write();
    conv->Unlock();
    sw0 = Stored("vSwitch0");
    EXPECT_STREQ(sw0["extra"].GetString(), "other process");
    EXPECT_EQ(sw0["mtu"].GetInt(), 1600);
    EXPECT_FALSE(sw0.HasMember("port_groups"));

    // ... and between two locks, after an exact write-back.
    Cycle([&] { conv->SetValue(kMtu0, 1700); });
    PutFromOtherProcess("vSwitch0", R"({"name":"vSwitch0","mtu":1700,"extra":"again"})");
    Cycle([&] { conv->SetValue("/net/vswitch/child[0000]/numPorts", 32); });
    sw0 = Stored("vSwitch0");
    EXPECT_STREQ(sw0["extra"].GetString(), "again");
    EXPECT_EQ(sw0["num_ports"].GetInt(), 32);
}

TEST_F(KeepTest, AKeptTreeStartsWithoutRegisteredIds) {
    conv->Lock({kVss});
    conv->RegisterConfigStoreId("/net/vswitch/child[0000]/portgroup/child[0001]", "port_groups/1");
    EXPECT_EQ(conv->GetConfigStoreId("/net/vswitch/child[0000]/portgroup/child[0001]"), "port_groups/1");
    conv->Unlock();
    auto before = conv->GetRoot();
    conv->Lock({kVss});
    EXPECT_EQ(conv->GetRoot(), before);
    EXPECT_EQ(conv->GetConfigStoreId("/net/vswitch/child[0000]/portgroup/child[0001]"), "");
    conv->Unlock();
}

// A rename through a kept tree: the element is found by the name the store
// knows it by, and after the write-back by its new name.
TEST_F(KeepTest, RenamedElementsOfAKeptTree) {
    Cycle([&] { conv->SetValue("/net/vswitch/child[0000]/portgroup/child[0001]/name", "Guests"); });
    Cycle([&] { conv->SetValue("/net/vswitch/child[0000]/portgroup/child[0001]/vlanId", 30); });
    auto sw0 = Stored("vSwitch0");
    ASSERT_EQ(sw0["port_groups"].Size(), 2u);
    EXPECT_STREQ(sw0["port_groups"][1]["name"].GetString(), "Guests");
    EXPECT_EQ(sw0["port_groups"][1]["vlan_id"].GetInt(), 30);
    // Removing the other one leaves the renamed one, known by its new name.
    Cycle([&] {
        conv->GetBranch("/net/vswitch/child[0000]")->GetArray("portgroup/child")->RemoveInstance("name", "Management");
    });
    sw0 = Stored("vSwitch0");
    ASSERT_EQ(sw0["port_groups"].Size(), 1u);
    EXPECT_STREQ(sw0["port_groups"][0]["name"].GetString(), "Guests");
    EXPECT_EQ(sw0["port_groups"][0]["vlan_id"].GetInt(), 30);
    EXPECT_EQ(NextLockValue("/net/vswitch/child[0000]/portgroup/child[0000]/name"), "Guests");
    EXPECT_EQ(NextLockValue("/net/vswitch/child[0000]/portgroup/child[0001]/name"), "<absent>");
}

}  // namespace
