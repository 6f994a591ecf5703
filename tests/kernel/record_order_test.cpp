// The order the simulated kernel keeps its records in and the questions a
// listing answers: instance order key by key, records written out of order
// laid out in order again once they are enough of a node, lookups in and out
// of that order, listings that follow keys coming and going, and instance
// checks that agree with the listing (list handlers, list faults and backends
// that only answer List included).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "../../sim/kernel/core_records.h"
#include "fixture.h"
#include "forwarding_backend.h"
#include "platform/sysinfo.h"
#include "sim/faults.h"
#include "sim/kernel.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace {

using TarnSim::KernelState;
using TarnSim::RecordStore;
using TarnSim::TailLess;
using TarnCtl::Util::Sysinfo;

// A full record key of node 0x2a of module "m": the instance tail after the prefix.
std::string Key(const std::vector<std::string>& instance) {
    std::string k("m\0" "0000002a\0", 11);
    for (const auto& i : instance) {
        k += i;
        k.push_back('\0');
    }
    return k;
}

std::string Tail(const std::vector<std::string>& instance) {
    return Key(instance).substr(11);
}

// Each node's records as ForEach visits them: the first instance key of each.
std::vector<std::string> Visited(const RecordStore& store) {
    std::vector<std::string> out;
    store.ForEach([&](std::string_view key, std::string_view) {
        std::string_view tail = key.substr(TarnSim::NodePrefixLength(key));
        out.emplace_back(tail.substr(0, tail.find('\0')));
    });
    return out;
}

std::string ValueOf(const RecordStore& store, const std::string& key) {
    std::string_view v;
    return store.Find(key, &v) ? std::string(v) : "(none)";
}

TEST(RecordOrder, TailsCompareKeyByKeyNumbersByValueFirst) {
    struct Case {
        std::vector<std::string> a, b;
        bool less;
    };
    const Case cases[] = {
        {{"2"}, {"10"}, true},         // numbers by value
        {{"10"}, {"2"}, false},
        {{"007"}, {"8"}, true},        // leading zeros do not count
        {{"007"}, {"7"}, true},        // equal value: by text
        {{"7"}, {"007"}, false},
        {{"99"}, {"a"}, true},         // numbers before names
        {{"a"}, {"99"}, false},
        {{"L10"}, {"L2"}, true},       // names as text
        {{"dev"}, {"dev", "1"}, true}, // a path before the paths below it
        {{"dev", "1"}, {"dev"}, false},
        {{"dev", "9"}, {"dev", "10"}, true},
        {{"a", "z"}, {"b", "a"}, true},
        {{"x"}, {"x"}, false},
        {{}, {"0"}, true},
        {{}, {}, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TailLess(Tail(c.a), Tail(c.b)), c.less)
            << ::testing::PrintToString(c.a) << " < " << ::testing::PrintToString(c.b);
}

TEST(RecordOrder, OutOfOrderRecordsAreLaidOutInOrderKeepingEveryValue) {
    RecordStore store;
    // 500 keys written in a scrambled order (347 and 500 are coprime).
    std::vector<std::string> names;
    for (int i = 0; i < 500; ++i)
        names.push_back("k" + std::to_string(100000 + (i * 347) % 500));
    for (size_t i = 0; i < names.size(); ++i)
        store.Set(Key({names[i]}), std::string(8 + i % 40, static_cast<char>('a' + i % 26)) + names[i]);
    store.Tidy();
    std::vector<std::string> sorted = names;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Visited(store), sorted);
    // Every value still belongs to its key, read in order, backwards and scrambled.
    int wrong = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string want = std::string(8 + i % 40, static_cast<char>('a' + i % 26)) + names[i];
        wrong += ValueOf(store, Key({names[i]})) != want;
    }
    for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
        const std::string v = ValueOf(store, Key({*it}));
        wrong += v.size() < it->size() || v.compare(v.size() - it->size(), it->size(), *it) != 0;
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(store.Size(), 500u);

    // A removed record between two read in order is not found, its neighbours are.
    ASSERT_TRUE(store.Erase(Key({sorted[11]})));
    EXPECT_NE(ValueOf(store, Key({sorted[10]})), "(none)");
    EXPECT_EQ(ValueOf(store, Key({sorted[11]})), "(none)");
    EXPECT_NE(ValueOf(store, Key({sorted[12]})), "(none)");
    EXPECT_NE(ValueOf(store, Key({sorted[12]})), "(none)");  // the same one again
    // Replacing a value keeps its place.
    store.Set(Key({sorted[3]}), "replaced, and longer than any value before it");
    store.Tidy();
    std::vector<std::string> left = sorted;
    left.erase(left.begin() + 11);
    EXPECT_EQ(Visited(store), left);
    EXPECT_EQ(ValueOf(store, Key({sorted[3]})), "replaced, and longer than any value before it");
}

TEST(RecordOrder, DeeperPathsFollowTheirParentAndNodesStaySeparate) {
    RecordStore store;
    store.Set(Key({"dev", "10"}), "dev/10");
    store.Set(Key({"dev"}), "dev");
    store.Set(Key({"dev", "9"}), "dev/9");
    store.Set(Key({"a"}), "a");
    std::string other("m\0" "0000002b\0" "a\0", 13);
    store.Set(other, "other node");
    store.Tidy();
    std::vector<std::string> values;
    store.ForEach([&](std::string_view, std::string_view v) { values.emplace_back(v); });
    EXPECT_EQ(values, (std::vector<std::string>{"a", "dev", "dev/9", "dev/10", "other node"}));
    EXPECT_EQ(ValueOf(store, other), "other node");
    EXPECT_EQ(ValueOf(store, Key({"dev", "9"})), "dev/9");
}

TEST(RecordOrder, ReorderWaitsUntilMoreThanAnEighthAreOutOfOrder) {
    RecordStore store;
    // 98 in order, then 14 each before the last: 14 * 8 == 98 + 14, not more.
    for (int i = 0; i < 98; ++i)
        store.Set(Key({"n" + std::to_string(5000 + i)}), "in order");
    for (int i = 0; i < 14; ++i)
        store.Set(Key({"n" + std::to_string(4999 - i)}), "late");
    store.Tidy();
    std::vector<std::string> visited = Visited(store);
    ASSERT_EQ(visited.size(), 112u);
    EXPECT_EQ(visited[98], "n4999");  // still where it was written
    // One more tips it: everything in order.
    store.Set(Key({"n4985"}), "late");
    store.Tidy();
    visited = Visited(store);
    ASSERT_EQ(visited.size(), 113u);
    EXPECT_TRUE(std::is_sorted(visited.begin(), visited.end()));
    EXPECT_EQ(visited.front(), "n4985");
    // In order again: further writes in order leave it so.
    store.Set(Key({"n6000"}), "in order");
    store.Tidy();
    EXPECT_EQ(Visited(store).back(), "n6000");
}

TEST(RecordOrder, InterleavedRunsCountAsOutOfOrderThoughFewStepsGoBack) {
    // Paths written device by device, eight adapters each, but listed adapter
    // by adapter: only one step in eight goes back from the record before,
    // yet almost every record sits away from its place in the listing.
    RecordStore store;
    std::vector<std::string> written;
    for (int target = 0; target < 64; ++target)
        for (int adapter = 1; adapter <= 8; ++adapter)
            written.push_back("hba" + std::to_string(adapter) + ":T" + std::to_string(100 + target));
    for (const auto& name : written)
        store.Set(Key({name}), "path " + name);
    store.Tidy();
    std::vector<std::string> sorted = written;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(Visited(store), sorted);
    int wrong = 0;
    for (const auto& name : sorted)
        wrong += ValueOf(store, Key({name})) != "path " + name;
    EXPECT_EQ(wrong, 0);
    // Laid out in order, later records after the greatest one stay in place.
    store.Set(Key({"hba9:T100"}), "path hba9:T100");
    store.Tidy();
    EXPECT_EQ(Visited(store).back(), "hba9:T100");
}

TEST(RecordOrder, ARecordBelowTheGreatestCountsEvenAfterOneAboveIt) {
    RecordStore store;
    // 70 in order; then 9 pairs, the first a step back, the second a step
    // forward from it but still below the greatest: both are out of place.
    for (int i = 0; i < 70; ++i)
        store.Set(Key({"n" + std::to_string(5000 + 2 * i)}), "in order");  // n5000 .. n5138
    for (int i = 0; i < 9; ++i) {
        store.Set(Key({"n" + std::to_string(5001 + 4 * i)}), "late");
        store.Set(Key({"n" + std::to_string(5003 + 4 * i)}), "late");
    }
    // 18 of 88 are out of order: more than an eighth, so laid out in order.
    store.Tidy();
    std::vector<std::string> visited = Visited(store);
    ASSERT_EQ(visited.size(), 88u);
    EXPECT_TRUE(std::is_sorted(visited.begin(), visited.end()));
}

// A full record key of `node` of module "m".
std::string NodeKey(uint32_t node, const std::string& instance) {
    char prefix[12];
    std::snprintf(prefix, sizeof prefix, "m%c%08x%c", 0, node, 0);
    return std::string(prefix, 11) + instance + '\0';
}

TEST(RecordOrder, ReadsAlternatingOverManyNodesEachFindTheirOwnNode) {
    // More nodes than reads remember tables for, read round and round.
    RecordStore store;
    for (uint32_t node = 0; node < 300; ++node)
        store.Set(NodeKey(node * 7 + 1, "dev"), "node " + std::to_string(node * 7 + 1));
    int wrong = 0;
    for (int pass = 0; pass < 3; ++pass)
        for (uint32_t node = 0; node < 300; ++node) {
            const uint32_t id = pass == 1 ? (299 - node) * 7 + 1 : node * 7 + 1;
            wrong += ValueOf(store, NodeKey(id, "dev")) != "node " + std::to_string(id);
            wrong += ValueOf(store, NodeKey(id + 1, "dev")) != "(none)";  // a node never written
        }
    EXPECT_EQ(wrong, 0);
}

TEST(RecordOrder, AStoreMovedOrClearedForgetsTheTablesItRead) {
    RecordStore first;
    first.Set(NodeKey(5, "dev"), "first");
    ASSERT_EQ(ValueOf(first, NodeKey(5, "dev")), "first");
    RecordStore second(std::move(first));
    EXPECT_EQ(ValueOf(second, NodeKey(5, "dev")), "first");
    // The store moved from starts empty and its new records are its own.
    EXPECT_EQ(ValueOf(first, NodeKey(5, "dev")), "(none)");
    first.Set(NodeKey(5, "dev"), "again");
    EXPECT_EQ(ValueOf(first, NodeKey(5, "dev")), "again");
    EXPECT_EQ(ValueOf(second, NodeKey(5, "dev")), "first");
    RecordStore third;
    third.Set(NodeKey(5, "dev"), "third");
    ASSERT_EQ(ValueOf(third, NodeKey(5, "dev")), "third");
    third = std::move(second);
    EXPECT_EQ(ValueOf(third, NodeKey(5, "dev")), "first");
    EXPECT_EQ(ValueOf(second, NodeKey(5, "dev")), "(none)");
    EXPECT_EQ(second.Size(), 0u);
    third.Clear();
    EXPECT_EQ(ValueOf(third, NodeKey(5, "dev")), "(none)");
    third.Set(NodeKey(5, "dev"), "after clearing");
    EXPECT_EQ(ValueOf(third, NodeKey(5, "dev")), "after clearing");
}

// ---- Through the kernel client ----------------------------------------------------

constexpr const char* kModule = "ordertest";
constexpr uint32_t kNode = 0x51;

class ListingTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        TarnTest::HostTest::SetUp();
        TarnSim::Profile::InitHost("{}");
    }
    void Put(const TarnSim::InstancePath& path) {
        TarnSim::WithState([&](KernelState& s) { s.Put(kModule, kNode, path, uint32_t{1}); }, true);
    }
    void Remove(const TarnSim::InstancePath& path) {
        TarnSim::WithState([&](KernelState& s) { ASSERT_TRUE(s.Remove(kModule, kNode, path)); }, true);
    }
    std::vector<std::string> List(const TarnSim::InstancePath& parent = {}) {
        Sysinfo si(kNode);
        si.SetModule(kModule);
        for (const auto& k : parent)
            si.AddInstancePath(k);
        std::vector<std::string> out;
        si.List(out);
        return out;
    }
    bool Has(const std::string& key, const TarnSim::InstancePath& parent = {}) {
        Sysinfo si(kNode);
        si.SetModule(kModule);
        si.SetThrowOnError(false);
        for (const auto& k : parent)
            si.AddInstancePath(k);
        return si.IsValidInstance(key);
    }
};

TEST_F(ListingTest, ListingsFollowKeysAddedAndRemovedBetweenThem) {
    Put({"b"});
    Put({"a"});
    EXPECT_EQ(List(), (std::vector<std::string>{"a", "b"}));
    Put({"c"});
    EXPECT_EQ(List(), (std::vector<std::string>{"a", "b", "c"}));
    Put({"0"});
    EXPECT_EQ(List(), (std::vector<std::string>{"0", "a", "b", "c"}));
    Remove({"b"});
    EXPECT_EQ(List(), (std::vector<std::string>{"0", "a", "c"}));
    // A key with two records below it stays until both are gone.
    Put({"a", "1"});
    EXPECT_EQ(List({"a"}), (std::vector<std::string>{"1"}));
    Remove({"a"});
    EXPECT_EQ(List(), (std::vector<std::string>{"0", "a", "c"}));
    Remove({"a", "1"});
    EXPECT_EQ(List(), (std::vector<std::string>{"0", "c"}));
    EXPECT_TRUE(List({"a"}).empty());
}

TEST_F(ListingTest, ReadsByNumberAndByVeryLongKeysFindTheirRecords) {
    const std::string longKey(700, 'k');
    TarnSim::WithState(
        [&](KernelState& s) {
            s.Put(kModule, kNode, {"grp", "42"}, uint32_t{42});
            s.Put(kModule, kNode, {"grp", "-9223372036854775808"}, uint32_t{64});
            s.Put(kModule, kNode, {"grp", longKey}, uint32_t{700});
        },
        true);
    auto read = [&](auto key) {
        Sysinfo si(kNode);
        si.SetModule(kModule);
        si.SetThrowOnError(false);
        si.SetInstance("grp");
        si.AddInstancePath(key);
        uint32_t v = 0;
        return si.Get(&v, sizeof v) == TARN_OK ? v : 0u;
    };
    EXPECT_EQ(read(42L), 42u);
    EXPECT_EQ(read(std::string("42")), 42u);
    EXPECT_EQ(read(static_cast<long>(INT64_MIN)), 64u);
    EXPECT_EQ(read(longKey), 700u);
    EXPECT_EQ(read(longKey + "x"), 0u);
    EXPECT_EQ(read(43L), 0u);
}

TEST_F(ListingTest, InstanceChecksAgreeWithTheListing) {
    Put({"grp", "naa.1"});
    Put({"grp", "7"});
    Put({"top"});
    EXPECT_TRUE(Has("naa.1", {"grp"}));
    EXPECT_TRUE(Has("7", {"grp"}));
    EXPECT_FALSE(Has("naa.2", {"grp"}));
    EXPECT_FALSE(Has("naa.1"));        // below another parent
    EXPECT_FALSE(Has("grp", {"grp"}));
    EXPECT_TRUE(Has("grp"));
    EXPECT_TRUE(Has("top"));
    EXPECT_FALSE(Has("", {"grp"}));
    Remove({"top"});
    EXPECT_FALSE(Has("top"));
    Sysinfo numbers(kNode);
    numbers.SetModule(kModule);
    numbers.SetInstance("grp");
    EXPECT_TRUE(numbers.IsValidInstance(7L));
    EXPECT_FALSE(numbers.IsValidInstance(8L));
}

TEST_F(ListingTest, InstanceChecksOfAListingNodeAskItsHandler) {
    // Keys the handler makes up, with no record behind them.
    TarnSim::RegisterNode(kModule, kNode + 1, {.list = [](TarnSim::Call&, std::vector<std::string>* out) {
        *out = {"made", "up"};
        return TARN_OK;
    }});
    Sysinfo si(kNode + 1);
    si.SetModule(kModule);
    EXPECT_TRUE(si.IsValidInstance("up"));
    EXPECT_FALSE(si.IsValidInstance("down"));
}

TEST_F(ListingTest, InstanceChecksCountAsListingsForFaults) {
    Put({"x"});
    TarnTest::FailKernel(kNode, TARN_BUSY, {.module = kModule, .op = TarnSim::KernelOp::List, .skip = 1, .count = 1});
    EXPECT_TRUE(Has("x"));   // passes: the skipped call
    EXPECT_FALSE(Has("x"));  // fails: the faulted call
    EXPECT_TRUE(Has("x"));   // the fault is used up
    EXPECT_TRUE(TarnSim::Faults().empty());
}

// A backend that answers List only, adding one key of its own ("from-the-wrapper"
// unless given): the default instance check and name listing go through it.
class ListOnlyBackend : public TarnTest::ForwardingBackend {
public:
    explicit ListOnlyBackend(Platform::Kernel::Backend* next, KSI_Param extra = TextKey("from-the-wrapper"))
        : ForwardingBackend(next), _extra(std::move(extra)) {}
    TARN_ReturnStatus List(const char* m, uint32_t n, const std::vector<KSI_Param>& i,
                           std::vector<KSI_Param>* out) override {
        ++lists;
        TARN_ReturnStatus st = Next().List(m, n, i, out);
        if (st == TARN_OK)
            out->push_back(_extra);
        return st;
    }
    static KSI_Param TextKey(const std::string& text) {
        KSI_Param p;
        p.text = text;
        return p;
    }
    int lists = 0;

private:
    KSI_Param _extra;
};

TEST_F(ListingTest, ABackendAnsweringOnlyListsIsAskedThroughItsListing) {
    Put({"x"});
    ListOnlyBackend wrapper(&Platform::Kernel::GetBackend());
    Platform::Kernel::Backend* before = Platform::Kernel::SetBackend(&wrapper);
    const bool wrapped = Has("from-the-wrapper");
    const bool plain = Has("x");
    const bool absent = Has("y");
    Platform::Kernel::SetBackend(before);
    EXPECT_TRUE(wrapped);
    EXPECT_TRUE(plain);
    EXPECT_FALSE(absent);
    EXPECT_EQ(wrapper.lists, 3);
}

TEST_F(ListingTest, NameListingsGiveExactlyTheKeysIntoTheCallersList) {
    const std::string longKey(40, 'l');
    Put({"grp", longKey});
    Put({"grp", "b"});
    Put({"grp", "a"});
    Sysinfo si(kNode);
    si.SetModule(kModule);
    si.SetInstance("grp");
    // A list that held more and longer names keeps none of them.
    std::vector<std::string> names{std::string(100, 'x'), "y", "z", "w"};
    si.List(names);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", longKey}));
    si.List(names);
    EXPECT_EQ(names, (std::vector<std::string>{"a", "b", longKey}));

    // A listing handler's keys come the same way.
    TarnSim::RegisterNode(kModule, kNode + 2, {.list = [](TarnSim::Call&, std::vector<std::string>* out) {
        *out = {"made", "up"};
        return TARN_OK;
    }});
    Sysinfo handled(kNode + 2);
    handled.SetModule(kModule);
    handled.List(names);
    EXPECT_EQ(names, (std::vector<std::string>{"made", "up"}));

    // A refused listing leaves no names behind, with or without throwing.
    TarnTest::FailKernel(kNode, TARN_BUSY, {.module = kModule, .op = TarnSim::KernelOp::List, .count = 2});
    si.SetThrowOnError(false);
    names = {"stale"};
    EXPECT_EQ(si.List(names), TARN_BUSY);
    EXPECT_TRUE(names.empty());
    si.SetThrowOnError(true);
    names = {"stale"};
    try {
        si.List(names);
        ADD_FAILURE() << "a refused listing did not throw";
    } catch (const TarnCtl::Lib::SysinfoException& e) {
        EXPECT_EQ(e.GetStatus(), TARN_BUSY);
    }
    EXPECT_TRUE(names.empty());
    si.List(names);
    EXPECT_EQ(names.size(), 3u);
}

TEST_F(ListingTest, NameListingsThroughABackendAnsweringOnlyListsSeeItsKeys) {
    Put({"x"});
    Put({"y"});
    KSI_Param number;
    number.kind = KSI_Param::Integer;
    number.number = -42;
    ListOnlyBackend wrapper(&Platform::Kernel::GetBackend(), number);
    Platform::Kernel::Backend* before = Platform::Kernel::SetBackend(&wrapper);
    const std::vector<std::string> names = List();
    Platform::Kernel::SetBackend(before);
    EXPECT_EQ(names, (std::vector<std::string>{"x", "y", "-42"}));
    EXPECT_EQ(wrapper.lists, 1);
}

}  // namespace
