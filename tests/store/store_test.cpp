// Behaviour of the configuration store: objects and their JSON form, ids,
// queries, transactions (also under SIGKILL and between processes), boot mode,
// desired configuration, schema defaults, and the kernel-first write pattern.
#include <signal.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <sqlite3.h>
#include <sys/wait.h>
#include <unistd.h>

#include <limits>
#include <thread>

#include "fixture.h"
#include "platform/configstore.h"
#include "platform/configstore_json.h"
#include "platform/faultpoint.h"
#include "platform/hostroot.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"
#include "sim/faults.h"
#include "sim/kernel.h"

namespace {

using namespace HaldenConfigStore;

std::shared_ptr<ConfigStore> Store() {
    return ConfigStore::GetStore(sGlobalNamespace);
}

std::shared_ptr<ConfigStoreObject> Obj(const std::string& key, const std::string& instance = "",
                                       long value = 1) {
    auto o = std::make_shared<ConfigStoreObject>(ConfigStoreObjectId(key, "net", "halden", instance));
    o->SetValue("value", value);
    return o;
}

size_t Count(const std::string& key) {
    return Store()->List(std::make_shared<FilterSpecObject>(ConfigStoreObjectId(key, "net", "halden")))
        .size();
}

class StoreTest : public TarnTest::HostTest {};

// ---- Objects --------------------------------------------------------------------

TEST(StoreObject, JsonFormRoundTripsEveryFieldKind) {
    ConfigStoreObject o(ConfigStoreObjectId("k", "g", "halden"));
    o.SetValue("name", "vSwitch0");
    o.SetValue("enabled", true);
    o.SetValue("mtu", 9000);
    o.SetValue("port", static_cast<unsigned short>(22));
    o.SetValue("uplinks", std::vector<std::string>{"nic0", "nic1"});
    o.CreateSubObject(SubObjectId("policy"))->SetValue("mode", "failover");
    o.CreateSubObject(SubObjectId("ports", 0))->SetValue("id", 1);
    o.CreateSubObject(SubObjectId("ports"))->SetValue("id", 2);
    std::string json = o.GetData();
    EXPECT_EQ(json,
              R"({"enabled":true,"mtu":9000,"name":"vSwitch0","policy":{"mode":"failover"},)"
              R"("port":22,"ports":[{"id":1},{"id":2}],"uplinks":["nic0","nic1"]})");
    auto back = ConfigStoreObject::FromData(o.GetConfigStoreObjectId(), json);
    EXPECT_TRUE(*back == o);
    EXPECT_EQ(back->GetSubObjectInstances(SubObjectId("ports")).size(), 2u);
    StoreObject match;
    match.SetValue("id", 2);
    auto found = back->GetSubObjectInstances(SubObjectId("ports"), &match);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0]->GetData(), R"({"id":2})");
}

TEST(StoreObject, TypedReadsConvertOnlyWhenTheValueFits) {
    ConfigStoreObject o(ConfigStoreObjectId("k", "g", "halden"));
    o.SetValue("big", 5000000000L);
    o.SetValue("neg", -1);
    o.SetValue("text", "12");
    int i = 0;
    unsigned u = 0;
    long l = 0;
    std::string s;
    EXPECT_FALSE(o.GetValue("big", &i));
    EXPECT_TRUE(o.GetValue("big", &l));
    EXPECT_EQ(l, 5000000000L);
    EXPECT_FALSE(o.GetValue("neg", &u));
    EXPECT_TRUE(o.GetValue("neg", &i));
    EXPECT_FALSE(o.GetValue("text", &i));  // text stays text
    EXPECT_FALSE(o.GetValue("missing", &s));
    EXPECT_TRUE(o.Remove("text"));
    EXPECT_FALSE(o.Remove("text"));
}

// Every field kind through the store and back: scalars at their limits, string
// lists (also empty), a nested object, lists of objects (also empty) holding
// nested objects and lists of their own.
TEST_F(StoreTest, EveryFieldKindRoundTripsThroughTheStore) {
    ConfigStoreObjectId id("every", "net", "halden", "i1");
    auto o = std::make_shared<ConfigStoreObject>(id);
    o->SetValue("text", "vSwitch0");
    o->SetValue("ctext", static_cast<const char*>("c"));
    o->SetValue("yes", true);
    o->SetValue("no", false);
    o->SetValue("int_min", std::numeric_limits<int>::min());
    o->SetValue("long_max", std::numeric_limits<long>::max());
    o->SetValue("long_min", std::numeric_limits<long>::min());
    o->SetValue("uint_max", std::numeric_limits<unsigned int>::max());
    o->SetValue("ushort", static_cast<unsigned short>(65535));
    o->SetValue("strings", std::vector<std::string>{"a", "b"});
    o->SetValue("no_strings", std::vector<std::string>{});
    auto nested = o->CreateSubObject(SubObjectId("policy"));
    nested->SetValue("mode", "failover");
    nested->CreateSubObject(SubObjectId("inner"))->SetValue("depth", 2);
    auto pg = o->CreateSubObject(SubObjectId("port_groups"));
    ASSERT_EQ(o->GetSubObjectInstances(SubObjectId("port_groups")).size(), 1u);  // a nested object so far
    o->DeleteSubObject(SubObjectId("port_groups"));
    o->MutableFields()["port_groups"].v = StoreValue::ObjectList{};
    o->MutableFields()["no_objects"].v = StoreValue::ObjectList{};
    pg = o->CreateSubObject(SubObjectId("port_groups"));  // appends to the list
    pg->SetValue("name", "VM");
    pg->SetValue("nics", std::vector<std::string>{"n0"});
    pg->CreateSubObject(SubObjectId("policy"))->SetValue("vlan", 10);
    pg->CreateSubObject(SubObjectId("routes", 0))->SetValue("network", "10.0.0.0/8");
    o->CreateSubObject(SubObjectId("port_groups"))->SetValue("name", "NFS");
    Store()->Write(o);
    auto back = Store()->Get(id);
    ASSERT_TRUE(back);
    EXPECT_TRUE(*back == *o) << back->GetData();
    EXPECT_TRUE(*o->Clone() == *o);
    // The kinds as a reader sees them.
    EXPECT_TRUE(std::holds_alternative<StoreValue::ObjectList>(back->Fields().at("no_objects").v));
    EXPECT_TRUE(std::holds_alternative<std::vector<std::string>>(back->Fields().at("no_strings").v));
    std::vector<std::string> strings{"x"};
    EXPECT_TRUE(back->GetValue("no_strings", &strings));
    EXPECT_TRUE(strings.empty());
    EXPECT_FALSE(back->GetValue("no_objects", &strings));
    long l = 0;
    EXPECT_TRUE(back->GetValue("long_min", &l));
    EXPECT_EQ(l, std::numeric_limits<long>::min());
    unsigned u = 0;
    EXPECT_TRUE(back->GetValue("uint_max", &u));
    EXPECT_EQ(u, std::numeric_limits<unsigned int>::max());
    auto groups = back->GetSubObjectInstances(SubObjectId("port_groups"));
    ASSERT_EQ(groups.size(), 2u);
    EXPECT_EQ(groups[0]->GetData(),
              R"({"name":"VM","nics":["n0"],"policy":{"vlan":10},"routes":[{"network":"10.0.0.0/8"}]})");
    EXPECT_EQ(back->GetSubObject(SubObjectId("policy"))->GetSubObject(SubObjectId("inner"))->GetData(),
              R"({"depth":2})");
    // The JSON form shows an empty list either way.
    EXPECT_NE(back->GetData().find(R"("no_objects":[])"), std::string::npos) << back->GetData();
    // Appending to the empty list read back makes a list of one.
    back->CreateSubObject(SubObjectId("no_objects"))->SetValue("id", 1);
    Store()->Write(back);
    auto again = Store()->Get(id);
    EXPECT_EQ(again->GetSubObjectInstances(SubObjectId("no_objects")).size(), 1u);
    EXPECT_NE(again->GetData().find(R"("no_objects":[{"id":1}])"), std::string::npos) << again->GetData();
}

TEST(StoreObject, AppendingWithoutAnIndexAppends) {
    ConfigStoreObjectId id("k", "g", "halden");
    // An empty list from JSON takes objects, appended one after the other.
    auto o = ConfigStoreObject::FromData(id, R"({"l":[],"s":["a"],"n":5})");
    o->CreateSubObject(SubObjectId("l"))->SetValue("id", 1);
    o->CreateSubObject(SubObjectId("l"))->SetValue("id", 2);
    o->CreateSubObject(SubObjectId("l", 2))->SetValue("id", 3);
    EXPECT_EQ(o->GetData(), R"({"l":[{"id":1},{"id":2},{"id":3}],"n":5,"s":["a"]})");
    auto e = ConfigStoreObject::FromData(id, R"({"l":[]})");
    e->CreateSubObject(SubObjectId("l", 0))->SetValue("id", 1);
    EXPECT_EQ(e->GetData(), R"({"l":[{"id":1}]})");
    // A field holding values is not replaced by a sub-object.
    for (const char* field : {"s", "n"}) {
        try {
            o->CreateSubObject(SubObjectId(field));
            ADD_FAILURE() << field;
        } catch (const InvalidArgumentException& ex) {
            EXPECT_EQ(std::string(ex.what()), std::string("Invalid sub-object ") + field + ": the field holds a value");
        }
    }
    EXPECT_EQ(o->GetData(), R"({"l":[{"id":1},{"id":2},{"id":3}],"n":5,"s":["a"]})");
}

// Every integer conversion of a field, on both sides of its limit.
TEST(StoreObject, IntegerFieldsRefuseWhatOverflows) {
    ConfigStoreObjectId id("k", "g", "halden");
    auto o = ConfigStoreObject::FromData(
        id, R"({"i_hi":2147483647,"i_over":2147483648,"i_lo":-2147483648,"i_under":-2147483649,)"
            R"("u_hi":4294967295,"u_over":4294967296,"u_zero":0,"u_neg":-1,)"
            R"("l_hi":9223372036854775807,"l_lo":-9223372036854775808})");
    int i = 0;
    unsigned u = 0;
    long l = 0;
    EXPECT_TRUE(o->GetValue("i_hi", &i));
    EXPECT_EQ(i, 2147483647);
    EXPECT_TRUE(o->GetValue("i_lo", &i));
    EXPECT_EQ(i, -2147483647 - 1);
    i = 7;
    EXPECT_FALSE(o->GetValue("i_over", &i));
    EXPECT_FALSE(o->GetValue("i_under", &i));
    EXPECT_EQ(i, 7);  // a refusal leaves the output alone
    EXPECT_TRUE(o->GetValue("u_hi", &u));
    EXPECT_EQ(u, 4294967295u);
    EXPECT_TRUE(o->GetValue("u_zero", &u));
    EXPECT_EQ(u, 0u);
    u = 7;
    EXPECT_FALSE(o->GetValue("u_over", &u));
    EXPECT_FALSE(o->GetValue("u_neg", &u));
    EXPECT_EQ(u, 7u);
    EXPECT_TRUE(o->GetValue("l_hi", &l));
    EXPECT_EQ(l, std::numeric_limits<long>::max());
    EXPECT_TRUE(o->GetValue("l_lo", &l));
    EXPECT_EQ(l, std::numeric_limits<long>::min());
    for (const char* json : {R"({"x":9223372036854775808})", R"({"x":18446744073709551615})"}) {
        try {
            ConfigStoreObject::FromData(id, json);
            ADD_FAILURE() << json;
        } catch (const InvalidArgumentException& e) {
            EXPECT_STREQ(e.what(), "Invalid object data: field x is out of the integer range");
        }
    }
}

// Code holding a parsed document gets exactly what the JSON text would give.
TEST(StoreObject, DocumentFormMatchesTheTextForm) {
    ConfigStoreObject o(ConfigStoreObjectId("k", "g", "halden", "i"));
    o.SetValue("name", "vSwitch0");
    o.SetValue("enabled", false);
    o.SetValue("mtu", -9000L);
    o.SetValue("uplinks", std::vector<std::string>{"nic0", ""});
    o.CreateSubObject(SubObjectId("policy"))->SetValue("mode", "failover");
    o.CreateSubObject(SubObjectId("ports", 0))->SetValue("id", 1);
    o.CreateSubObject(SubObjectId("empty", 0));
    o.DeleteSubObject(SubObjectId("empty", 0));
    rapidjson::Document doc;
    ObjectToJson(o, doc, doc.GetAllocator());
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    doc.Accept(w);
    EXPECT_EQ(std::string(sb.GetString(), sb.GetSize()), o.GetData());
    auto back = ObjectFromJson(o.GetConfigStoreObjectId(), doc);
    EXPECT_TRUE(*back == *ConfigStoreObject::FromData(o.GetConfigStoreObjectId(), o.GetData()));
    EXPECT_EQ(back->GetData(), o.GetData());
    EXPECT_EQ(back->GetConfigStoreObjectId().ToString(), "halden/g/k/i");

    ConfigStoreObjectId id("k", "g", "halden");
    const std::pair<const char*, const char*> bad[] = {
        {"[1]", "Invalid object data for halden/g/k: not a JSON object"},
        {R"({"x": 1.5})", "Invalid object data: field x is not an integer"},
        {R"({"p": {"x": 18446744073709551615}})", "Invalid object data: field p.x is out of the integer range"},
    };
    for (const auto& [json, message] : bad) {
        rapidjson::Document d;
        d.Parse(json);
        try {
            ObjectFromJson(id, d);
            ADD_FAILURE() << json;
        } catch (const InvalidArgumentException& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
}

TEST(StoreObject, BadDataIsRefusedWithTheReason) {
    ConfigStoreObjectId id("k", "g", "halden");
    const std::pair<const char*, const char*> cases[] = {
        {"[1]", "Invalid object data for halden/g/k: not a JSON object"},
        {R"({"x": 1.5})", "Invalid object data: field x is not an integer"},
        {R"({"l": [{"a":1}, "b"]})", "Invalid object data: list l mixes objects and values"},
        {R"({"l": [1]})", "Invalid object data: list l must hold strings or objects"},
    };
    for (const auto& [json, message] : cases) {
        try {
            ConfigStoreObject::FromData(id, json);
            ADD_FAILURE() << json;
        } catch (const InvalidArgumentException& e) {
            EXPECT_STREQ(e.what(), message);
        }
    }
}

TEST(StoreObject, GeneratedInstanceIdsAreUniqueUuids) {
    std::set<std::string> ids;
    for (int i = 0; i < 200; ++i) {
        std::string id = ConfigStoreObjectId::GenerateInstanceId();
        ASSERT_EQ(id.size(), 36u);
        EXPECT_EQ(id[14], '4');
        ids.insert(id);
    }
    EXPECT_EQ(ids.size(), 200u);
}

// ---- Store operations -------------------------------------------------------------

TEST_F(StoreTest, WriteGetListDelete) {
    auto s = Store();
    s->Write(Obj("switch", "b", 2));
    s->Write(Obj("switch", "a", 1));
    s->Write(Obj("dns"));
    auto got = s->Get(ConfigStoreObjectId("switch", "net", "halden", "a"));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->GetData(), R"({"value":1})");
    EXPECT_EQ(got->GetConfigStoreObjectId().GetInstanceId(), "a");
    EXPECT_EQ(s->Get(ConfigStoreObjectId("switch", "net", "halden", "zz")), nullptr);

    auto filter = std::make_shared<FilterSpecObject>(ConfigStoreObjectId("switch", "net", "halden"));
    auto all = s->List(filter);
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0]->GetConfigStoreObjectId().GetInstanceId(), "a");
    filter->SetValue("value", 2);
    all = s->List(filter);
    ASSERT_EQ(all.size(), 1u);
    EXPECT_EQ(all[0]->GetConfigStoreObjectId().GetInstanceId(), "b");

    auto anyKey = std::make_shared<FilterSpecObject>(ConfigStoreObjectId("", "net", "halden"));
    EXPECT_EQ(s->List(anyKey).size(), 3u);
    EXPECT_EQ(s->ListIds("net").size(), 3u);

    s->Delete(ConfigStoreObjectId("switch", "net", "halden"));  // every instance
    EXPECT_EQ(Count("switch"), 0u);
    EXPECT_EQ(Count("dns"), 1u);
}

TEST_F(StoreTest, EmptyIdPartsAreInvalidArguments) {
    struct Case {
        ConfigStoreObjectId id;
        const char* message;
    };
    const Case cases[] = {
        {{"", "net", "halden"}, "Invalid object id 'halden/net/' for write: empty key"},
        {{"k", "", "halden"}, "Invalid object id 'halden//k' for write: empty group"},
        {{"k", "net", ""}, "Invalid object id '/net/k' for write: empty component"},
    };
    for (const auto& c : cases) {
        try {
            Store()->Write(std::make_shared<ConfigStoreObject>(c.id));
            ADD_FAILURE() << c.message;
        } catch (const InvalidArgumentException& e) {
            EXPECT_STREQ(e.what(), c.message);
        }
    }
    EXPECT_TRUE(Store()->ListIds().empty());
}

TEST_F(StoreTest, StoreFollowsTheHostRoot) {
    Store()->Write(Obj("here"));
    std::string first = Platform::HostRoot();
    std::string second = TarnTest::MakeFreshRoot();
    EXPECT_EQ(Count("here"), 0u);
    Platform::SetHostRoot(first);
    EXPECT_EQ(Count("here"), 1u);
    TarnTest::RemoveTree(second);
}

// ---- Transactions ------------------------------------------------------------------

TEST_F(StoreTest, UncommittedTransactionLeavesNothing) {
    {
        ConfigStoreTransaction tx(Store());
        Store()->Write(Obj("a"));
        Store()->Write(Obj("b"));
    }
    EXPECT_TRUE(Store()->ListIds().empty());
    {
        ConfigStoreTransaction tx(Store());
        Store()->Write(Obj("a"));
        tx.Commit();
    }
    EXPECT_EQ(Count("a"), 1u);
}

TEST_F(StoreTest, NestedTransactionsJoinTheOuter) {
    {
        ConfigStoreTransaction outer(Store());
        {
            ConfigStoreTransaction inner(Store());
            Store()->Write(Obj("inner"));
            inner.Commit();  // not yet durable: the outer decides
        }
        Store()->Write(Obj("outer"));
    }
    EXPECT_TRUE(Store()->ListIds().empty());

    ConfigStoreTransaction outer(Store());
    {
        ConfigStoreTransaction inner(Store());
        Store()->Write(Obj("inner"));
    }  // abandoned inner: the whole transaction is lost
    try {
        outer.Commit();
        FAIL();
    } catch (const ConfigStoreException& e) {
        EXPECT_STREQ(e.what(),
                     "Unable to commit: an inner transaction was abandoned, every write is dropped");
    }
    EXPECT_TRUE(Store()->ListIds().empty());
}

TEST_F(StoreTest, OtherThreadsDoNotJoinATransaction) {
    ConfigStoreTransaction* open = new ConfigStoreTransaction(Store());
    Store()->Write(Obj("mine"));
    // The other thread sees no open transaction of its own, and its write is
    // made only after this one ended: it survives the rollback, ours does not.
    bool otherInTransaction = true;
    std::thread other([&] {
        otherInTransaction = Store()->InTransaction();
        Store()->Write(Obj("theirs"));
    });
    delete open;  // rolled back
    other.join();
    EXPECT_FALSE(otherInTransaction);
    EXPECT_EQ(Count("mine"), 0u);
    EXPECT_EQ(Count("theirs"), 1u);
}

TEST_F(StoreTest, KilledWriterLeavesAllOrNothing) {
    constexpr int kObjects = 400;
    // Where the writer stops to be killed: before its k-th write (-1: before
    // the commit, kObjects: after it). The store's fault point is the seam:
    // the writer announces the point on a pipe and waits there to be killed.
    constexpr int kBeforeCommit = -1;
    const int stops[] = {0, 1, kObjects / 2, kObjects - 1, kBeforeCommit, kObjects};
    for (int stop : stops) {
        Store()->Delete(ConfigStoreObjectId("bulk", "net", "halden"));
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        pid_t pid = fork();
        if (pid == 0) {
            close(ready[0]);
            auto announceAndWait = [fd = ready[1]] {
                char c = 1;
                if (write(fd, &c, 1) != 1)
                    _exit(3);
                for (;;)
                    pause();
            };
            int writes = 0;
            Platform::FaultPoint::Register([&](Platform::FaultPoint::Point point) {
                if (point == Platform::FaultPoint::Point::StoreWrite ? writes++ == stop : stop == kBeforeCommit)
                    announceAndWait();
                return false;
            });
            auto s = Store();
            ConfigStoreTransaction tx(s);
            for (int i = 0; i < kObjects; ++i)
                s->Write(Obj("bulk", std::to_string(i), i));
            tx.Commit();
            announceAndWait();
        }
        close(ready[1]);
        char c = 0;
        ASSERT_EQ(read(ready[0], &c, 1), 1) << "stop " << stop;
        close(ready[0]);
        kill(pid, SIGKILL);
        int st;
        waitpid(pid, &st, 0);
        ASSERT_TRUE(WIFSIGNALED(st)) << "stop " << stop;
        EXPECT_EQ(Count("bulk"), stop == kObjects ? static_cast<size_t>(kObjects) : 0u) << "stop " << stop;
    }
    // The database opens cleanly and passes its own check.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(Platform::HostPath("/var/lib/configstore/store.db").c_str(), &db), SQLITE_OK);
    sqlite3_stmt* check = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA integrity_check", -1, &check, nullptr);
    ASSERT_EQ(sqlite3_step(check), SQLITE_ROW);
    EXPECT_STREQ(reinterpret_cast<const char*>(sqlite3_column_text(check, 0)), "ok");
    sqlite3_finalize(check);
    sqlite3_close(db);
}

TEST_F(StoreTest, ConcurrentProcessesLoseNoWrite) {
    Store()->ListIds();  // the database exists before the writers race
    constexpr int kPerChild = 60;
    std::vector<pid_t> kids;
    for (int c = 0; c < 2; ++c) {
        pid_t pid = fork();
        if (pid == 0) {
            for (int i = 0; i < kPerChild; ++i) {
                ConfigStoreTransaction tx(Store());
                Store()->Write(Obj("c" + std::to_string(c), std::to_string(i), i));
                tx.Commit();
            }
            _exit(0);
        }
        kids.push_back(pid);
    }
    for (pid_t p : kids) {
        int st;
        waitpid(p, &st, 0);
        ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    }
    EXPECT_EQ(Count("c0"), static_cast<size_t>(kPerChild));
    EXPECT_EQ(Count("c1"), static_cast<size_t>(kPerChild));
}

// A store fault armed by another process fires at this process's next write
// or commit, whether this root had a running kernel before or none at all
// (the write before it found no fault and must not be trusted afterwards).
struct ArmedElsewhere {
    bool kernelRunning;
    TarnSim::StoreFault::Op op;
};

class StoreFaultFromOtherProcess : public TarnTest::HostTest,
                                   public ::testing::WithParamInterface<ArmedElsewhere> {};

TEST_P(StoreFaultFromOtherProcess, FiresAtTheNextChange) {
    const ArmedElsewhere c = GetParam();
    if (c.kernelRunning)
        EXPECT_TRUE(TarnSim::AllFaults().empty());  // boots the kernel of this root
    for (int i = 0; i < 3; ++i) {  // several clean writes: whatever is remembered of "no fault"
        ConfigStoreTransaction tx(Store());
        Store()->Write(Obj("armed", "a", i));
        tx.Commit();
    }
    EXPECT_EQ(HostCtl::Misc::HostFileExists("/var/lib/tarnsim/kernel.state"), c.kernelRunning);

    pid_t pid = fork();
    if (pid == 0) {
        TarnSim::InjectStoreFault({c.op});
        _exit(0);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);

    try {
        ConfigStoreTransaction tx(Store());
        Store()->Write(Obj("armed", "a", 7));
        tx.Commit();
        ADD_FAILURE() << "the fault armed by the other process did not fire";
    } catch (const ConfigStoreException& e) {
        EXPECT_EQ(std::string(e.what()), c.op == TarnSim::StoreFault::Op::Write
                                             ? "Unable to write halden/net/armed/a: injected fault"
                                             : "Unable to commit the store transaction: injected fault");
    }
    long value = 0;
    ASSERT_TRUE(Store()->Get(ConfigStoreObjectId("armed", "net", "halden", "a"))->GetValue("value", &value));
    EXPECT_EQ(value, 2);
    EXPECT_TRUE(TarnSim::AllFaults().store.empty());  // consumed

    // Consumed once: the next change goes through.
    ConfigStoreTransaction tx(Store());
    Store()->Write(Obj("armed", "a", 8));
    tx.Commit();
    ASSERT_TRUE(Store()->Get(ConfigStoreObjectId("armed", "net", "halden", "a"))->GetValue("value", &value));
    EXPECT_EQ(value, 8);
}

INSTANTIATE_TEST_SUITE_P(Store, StoreFaultFromOtherProcess,
                         ::testing::Values(ArmedElsewhere{false, TarnSim::StoreFault::Op::Write},
                                           ArmedElsewhere{false, TarnSim::StoreFault::Op::Commit},
                                           ArmedElsewhere{true, TarnSim::StoreFault::Op::Write},
                                           ArmedElsewhere{true, TarnSim::StoreFault::Op::Commit}));

// ---- Kernel first, then the store ----------------------------------------------------

// A kernel node that refuses values above 9000 and accepts the rest.
constexpr uint32_t kMtuNode = 0x7e58;
const TarnSim::NodeRegistration kMtu(kMtuNode, {
    .set = [](TarnSim::Call& c) -> TARN_ReturnStatus {
        int64_t v = 0;
        if (!c.InputInt(0, &v) || v > 9000)
            return TARN_BAD_PARAM;
        c.state.Put(kMtuNode, {}, v);
        return TARN_OK;
    },
});

void SetMtu(long mtu) {
    TarnCtl::Util::Sysinfo s(kMtuNode);
    s.SetDefaultErrorMessage("Unable to set the MTU");
    s.AddInput(mtu);
    s.Set();  // the kernel first: a refusal throws before the store is touched
    ConfigStoreTransaction tx(Store());
    auto o = Obj("mtu", "", mtu);
    Store()->Write(o);
    tx.Commit();
}

TEST_F(StoreTest, KernelRefusalLeavesTheStoreUntouched) {
    SetMtu(1500);
    try {
        SetMtu(9500);
        FAIL();
    } catch (const TarnCtl::Lib::SysinfoException& e) {
        EXPECT_STREQ(e.what(), "Unable to set the MTU");
        EXPECT_EQ(e.GetStatus(), TARN_BAD_PARAM);
    }
    auto o = Store()->Get(ConfigStoreObjectId("mtu", "net", "halden"));
    ASSERT_TRUE(o);
    long v = 0;
    o->GetValue("value", &v);
    EXPECT_EQ(v, 1500);
}

// ---- Boot mode, desired configuration, schema defaults ---------------------------------

TEST_F(StoreTest, BootModeIsSeenByOtherProcesses) {
    EXPECT_FALSE(Store()->IsBoot());
    Store()->SetBootMode(true);
    pid_t pid = fork();
    if (pid == 0)
        _exit(Store()->IsBoot() ? 0 : 1);
    int st;
    waitpid(pid, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), 0);
    Store()->SetBootMode(false);
    EXPECT_FALSE(Store()->IsBoot());
}

TEST_F(StoreTest, DesiredConfigurationAndBootStatus) {
    auto s = Store();
    ConfigStoreObjectId id("ntp", "net", "halden");
    EXPECT_EQ(s->GetDesiredUserConfig(id, 0), nullptr);
    s->SetDesiredUserConfig(Obj("ntp", "1", 10));
    s->SetDesiredUserConfig(Obj("ntp", "2", 20));
    EXPECT_EQ(s->GetDesiredUserConfigInstances(id, 0).size(), 2u);
    EXPECT_EQ(Count("ntp"), 0u);  // desired is not configured
    ConfigStoreObjectId one("ntp", "net", "halden", "1");
    EXPECT_FALSE(s->GetBootStatus(one).has_value());
    s->SetBootStatus(one, true);
    EXPECT_EQ(s->GetBootStatus(one), std::optional<bool>(true));
    s->ClearDesiredUserConfig(id);
    EXPECT_TRUE(s->GetDesiredUserConfigInstances(id, 0).empty());
}

TEST_F(StoreTest, BootAppliedWriteRecordsTheBootStatus) {
    auto s = Store();
    ConfigStoreObjectId a("rule", "net", "halden", "a"), b("rule", "net", "halden", "b");
    s->Write(Obj("rule", "a"), 0);
    EXPECT_EQ(s->GetBootStatus(a), std::nullopt);
    s->Write(Obj("rule", "b", 7), ConfigStore::kBootApplied);
    EXPECT_EQ(s->GetBootStatus(b), std::optional<bool>(true));
    long v = 0;
    EXPECT_TRUE(s->Get(b)->GetValue("value", &v));
    EXPECT_EQ(v, 7);
    // Inside a caller's transaction both belong to it.
    {
        ConfigStoreTransaction tx(s);
        s->Write(Obj("rule", "c"), ConfigStore::kBootApplied);
    }
    EXPECT_EQ(s->Get(ConfigStoreObjectId("rule", "net", "halden", "c")), nullptr);
    EXPECT_EQ(s->GetBootStatus(ConfigStoreObjectId("rule", "net", "halden", "c")), std::nullopt);
    for (int flag : {-1, 2}) {
        try {
            s->Write(Obj("rule", "d"), flag);
            ADD_FAILURE() << flag;
        } catch (const InvalidArgumentException& e) {
            EXPECT_EQ(std::string(e.what()),
                      "Invalid write flag " + std::to_string(flag) + " for halden/net/rule/d");
        }
    }
    EXPECT_EQ(s->Get(ConfigStoreObjectId("rule", "net", "halden", "d")), nullptr);
}

TEST(BootWriteRule, FlagByGroupAndKey) {
    struct Row {
        const char* key;
        const char* group;
        int booting;
        int notBooting;
    };
    const Row rows[] = {
        {"switches", "network_vss", 0, 0},   {"anything", "network_vss", 0, 0},
        {"tarnnics", "network", 0, 0},        {"net_stacks", "network", 0, 0},
        {"nics", "network", 1, 0},            {"firewall", "network", 1, 0},
        {"switches", "network_vds", 1, 0},    {"netdump", "system", 1, 0},
        {"block_devices", "storage", 1, 0},   {"tarnnics_x", "network", 1, 0},
    };
    for (const Row& r : rows) {
        ConfigStoreObjectId id(r.key, r.group, "halden", "i");
        EXPECT_EQ(BootWriteFlag(id, true), r.booting) << r.group << "/" << r.key;
        EXPECT_EQ(BootWriteFlag(id, false), r.notBooting) << r.group << "/" << r.key;
    }
}

TEST_F(StoreTest, BootAwareTransactionOpensOnlyOutsideBoot) {
    auto s = Store();
    {
        BootAwareTransaction tx(s);
        EXPECT_TRUE(tx.Opened());
        EXPECT_TRUE(s->InTransaction());
        s->Write(Obj("x"));
    }  // not committed: dropped
    EXPECT_EQ(Count("x"), 0u);
    s->SetBootMode(true);
    {
        BootAwareTransaction tx(s);
        EXPECT_FALSE(tx.Opened());
        EXPECT_FALSE(s->InTransaction());
        s->Write(Obj("y"));
    }  // boot writes are not held back
    EXPECT_EQ(Count("y"), 1u);
    s->SetBootMode(false);
    {
        BootAwareTransaction tx(s, false);
        s->Write(Obj("z"));
        tx.Commit();
    }
    EXPECT_EQ(Count("z"), 1u);
    EXPECT_FALSE(s->InTransaction());
}

TEST_F(StoreTest, SchemaDefaultsFilterUnchangedObjects) {
    auto def = std::make_shared<ConfigStoreObject>(ConfigStoreObjectId("syslog_cfg", "net", "halden"));
    def->SetValue("value", 1L);
    Schema::RegisterDefault(def);
    auto got = Schema::GetDefaultObject(ConfigStoreObjectId("syslog_cfg", "net", "halden", "x"));
    ASSERT_TRUE(got);
    EXPECT_EQ(got->GetConfigStoreObjectId().GetInstanceId(), "x");
    auto same = Obj("syslog_cfg", "a", 1);
    auto changed = Obj("syslog_cfg", "b", 2);
    auto kept = Schema::FilterDefaultConfigInstances({same, changed});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0], changed);
    EXPECT_EQ(Schema::GetDefaultObject(ConfigStoreObjectId("nothing", "net", "halden")), nullptr);
}

}  // namespace
