// Behaviour of the configuration tree: text encodings, change tracking, relative
// paths, array element numbering and the exact failure texts.
#include <gtest/gtest.h>

#include "configstore/confignode.h"

using namespace TarnCtl::ConfigStoreUtil;

namespace {

std::shared_ptr<ConfigBranch> Root() { return ConfigBranch::NewRoot(nullptr); }

std::string ThrownText(const std::function<void()>& f) {
    try {
        f();
    } catch (const ConfigFileException& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST(ConfigTree, WritesEachTypeInItsTextForm) {
    auto root = Root();
    auto b = root->GetBranch("net/vswitch");
    b->SetValue("flag", true);
    b->SetValue("byte", static_cast<uint8_t>(0xab));
    b->SetValue("int", -42);
    b->SetValue("u32", 4000000000u);
    b->SetValue("u64", static_cast<uint64_t>(18446744073709551615ull));
    b->SetValue("i64", static_cast<int64_t>(-9000000000));
    b->SetValue("str", std::string("text"));
    b->SetValue("cstr", "c text");
    const std::pair<const char*, const char*> expected[] = {
        {"flag", "true"}, {"byte", "ab"}, {"int", "-42"}, {"u32", "4000000000"},
        {"u64", "18446744073709551615"}, {"i64", "-9000000000"}, {"str", "text"}, {"cstr", "c text"}};
    for (const auto& [name, text] : expected) {
        EXPECT_EQ(b->GetValue(name)->GetStringValue(), text) << name;
    }
    uint64_t u64 = 0;
    ASSERT_TRUE(b->GetValue("u64", &u64));
    EXPECT_EQ(u64, 18446744073709551615ull);
    uint8_t byte = 0;
    ASSERT_TRUE(b->GetValue("byte", &byte));
    EXPECT_EQ(byte, 0xab);
}

TEST(ConfigTree, BooleanReadTable) {
    const std::pair<const char*, bool> accepted[] = {{"true", true}, {"yes", true}, {"1", true},
                                                     {"false", false}, {"no", false}, {"0", false}};
    auto root = Root();
    for (const auto& [text, value] : accepted) {
        root->SetValue("b", std::string(text));
        bool out = !value;
        ASSERT_TRUE(root->GetValue("b", &out)) << text;
        EXPECT_EQ(out, value) << text;
    }
    root->GetBranch("net")->SetValue("b", "on");
    EXPECT_EQ(ThrownText([&] { root->GetBranch("net")->GetValue("b")->GetBoolValue(); }),
              "Config Convertor: boolean value expected in /net/b");
}

TEST(ConfigTree, ConversionFailuresNameTheKey) {
    auto v = Root()->GetBranch("a")->GetValue("v");
    v->SetValue("zz");
    EXPECT_EQ(ThrownText([&] { v->GetIntValue(); }), "Config Convertor: integer value expected in /a/v");
    EXPECT_EQ(ThrownText([&] { v->GetUint32Value(); }), "Config Convertor: uint32 value expected in /a/v");
    EXPECT_EQ(ThrownText([&] { v->GetUint64Value(); }), "Config Convertor: uint64 value expected in /a/v");
    EXPECT_EQ(ThrownText([&] { v->GetInt64Value(); }), "Config Convertor: int64 value expected in /a/v");
    v->SetValue("xyz");
    EXPECT_EQ(ThrownText([&] { v->GetByteValue(); }), "Config Convertor: hex byte value expected in /a/v");
}

// Each typed read on both sides of its type's limits: the largest (smallest)
// value reads back, one past it is refused with the type's text, never wrapped.
TEST(ConfigTree, TypedReadsRefuseOverflow) {
    auto v = Root()->GetBranch("a")->GetValue("v");
    auto read = [&](const char* text, auto get) -> std::string {
        v->InitValue(text);
        try {
            return std::to_string(get());
        } catch (const ConfigFileException& e) {
            return e.what();
        }
    };
    auto asInt = [&] { return static_cast<long long>(v->GetIntValue()); };
    auto asU32 = [&] { return static_cast<unsigned long long>(v->GetUint32Value()); };
    auto asU64 = [&] { return static_cast<unsigned long long>(v->GetUint64Value()); };
    auto asI64 = [&] { return static_cast<long long>(v->GetInt64Value()); };
    auto asByte = [&] { return static_cast<unsigned>(v->GetByteValue()); };
    const std::string i = "Config Convertor: integer value expected in /a/v";
    const std::string u32 = "Config Convertor: uint32 value expected in /a/v";
    const std::string u64 = "Config Convertor: uint64 value expected in /a/v";
    const std::string i64 = "Config Convertor: int64 value expected in /a/v";
    const std::string byte = "Config Convertor: hex byte value expected in /a/v";
    EXPECT_EQ(read("2147483647", asInt), "2147483647");
    EXPECT_EQ(read("2147483648", asInt), i);
    EXPECT_EQ(read("-2147483648", asInt), "-2147483648");
    EXPECT_EQ(read("-2147483649", asInt), i);
    EXPECT_EQ(read("4294967295", asU32), "4294967295");
    EXPECT_EQ(read("4294967296", asU32), u32);
    EXPECT_EQ(read("0", asU32), "0");
    EXPECT_EQ(read("-1", asU32), u32);
    EXPECT_EQ(read("18446744073709551615", asU64), "18446744073709551615");
    EXPECT_EQ(read("18446744073709551616", asU64), u64);
    EXPECT_EQ(read("-1", asU64), u64);
    EXPECT_EQ(read("9223372036854775807", asI64), "9223372036854775807");
    EXPECT_EQ(read("9223372036854775808", asI64), i64);
    EXPECT_EQ(read("-9223372036854775808", asI64), "-9223372036854775808");
    EXPECT_EQ(read("-9223372036854775809", asI64), i64);
    EXPECT_EQ(read("ff", asByte), "255");
    EXPECT_EQ(read("100", asByte), byte);
    EXPECT_EQ(read("0", asByte), "0");
    EXPECT_EQ(read("-1", asByte), byte);
    // As scanf: leading blanks and trailing text are read over.
    EXPECT_EQ(read(" 12kb", asInt), "12");
}

TEST(ConfigTree, SettingTheCurrentTextLeavesAValueClean) {
    auto root = Root();
    auto v = root->GetBranch("net/vswitch/child[0000]")->GetValue("mtu");
    v->InitValue("1500");
    root->GetBranch("net/vswitch/child[0000]")->SetValue("mtu", 1500);
    EXPECT_FALSE(v->IsDirty());
    root->GetBranch("net/vswitch/child[0000]")->SetValue("mtu", 9000);
    EXPECT_TRUE(v->IsDirty());
    EXPECT_EQ(v->GetStringValue(), "9000");
}

TEST(ConfigTree, ChangedStringMarksTheWholeArrayElement) {
    auto root = Root();
    auto element = root->GetBranch("net/vswitch/child[0002]");
    element->GetValue("name")->InitValue("vSwitch0");
    element->GetValue("mtu")->InitValue("1500");
    element->GetBranch("cdp")->GetValue("status")->InitValue("listen");
    element->SetValue("name", std::string("vSwitch0"));  // unchanged: nothing marked
    EXPECT_FALSE(element->GetValue("mtu")->IsDirty());
    element->SetValue("name", "vSwitch1");
    EXPECT_TRUE(element->GetValue("name")->IsDirty());
    EXPECT_TRUE(element->GetValue("mtu")->IsDirty());
    EXPECT_FALSE(element->GetBranch("cdp")->GetValue("status")->IsDirty());
    // Outside an array element only the value itself is marked.
    auto plain = root->GetBranch("firewall/cfg");
    plain->GetValue("enabled")->InitValue("true");
    plain->SetValue("defaultaction", "false");
    EXPECT_FALSE(plain->GetValue("enabled")->IsDirty());
    // Dirty() on a branch marks everything below it.
    root->Dirty();
    EXPECT_TRUE(plain->GetValue("enabled")->IsDirty());
    EXPECT_TRUE(element->GetBranch("cdp")->GetValue("status")->IsDirty());
}

TEST(ConfigTree, ElementKeysAndRelativePaths) {
    auto root = Root();
    auto sw = root->GetBranch("net")->GetBranch("vswitch")->GetArray("child")->GetInstance("child[0003]");
    EXPECT_EQ(sw->GetKey(), "/net/vswitch/child[0003]");
    EXPECT_EQ(sw->GetArrayIndex(), 3);
    sw->SetValue("uplinks/child[0000]/pnic", "pnx0");
    EXPECT_TRUE(sw->HasValue("uplinks/child[0000]/pnic"));
    EXPECT_FALSE(sw->HasValue("uplinks/child[0001]/pnic"));
    EXPECT_FALSE(sw->HasValue("uplinks/child[0000]"));
    EXPECT_TRUE(sw->HasBranch("uplinks/child[0000]"));
    EXPECT_EQ(sw->GetValue("uplinks/child[0000]/pnic")->GetKey(), "/net/vswitch/child[0003]/uplinks/child[0000]/pnic");
    EXPECT_EQ(root->GetBranch("net/vswitch/child[0003]"), sw);
    std::string pnic;
    EXPECT_TRUE(root->GetValue("net/vswitch/child[0003]/uplinks/child[0000]/pnic", &pnic));
    EXPECT_EQ(pnic, "pnx0");
    // Looking must not create.
    EXPECT_FALSE(root->GetValue("net/nothing/here", &pnic));
    EXPECT_FALSE(root->GetBranch("net")->HasBranch("nothing"));
    EXPECT_TRUE(sw->Remove("uplinks/child[0000]"));
    EXPECT_FALSE(sw->HasBranch("uplinks/child[0000]"));
}

TEST(ConfigTree, KindClashesThrow) {
    auto root = Root();
    root->SetValue("net/mtu", 1500);
    EXPECT_EQ(ThrownText([&] { root->GetBranch("net/mtu"); }), "Config Convertor: GetBranch: not a Branch: mtu");
    EXPECT_EQ(ThrownText([&] { root->GetBranch("net")->GetArray("mtu"); }),
              "Config Convertor: GetBranch: not a Branch: mtu");
    EXPECT_FALSE(root->GetBranch("net")->HasBranch("mtu"));
    EXPECT_TRUE(root->GetBranch("net")->HasValue("mtu"));
}

TEST(ConfigTree, NewInstanceFillsTheFirstGapFromTheHint) {
    auto array = Root()->GetBranch("net/vswitch")->GetArray("child");
    for (const char* n : {"child[0000]", "child[0001]", "child[0003]"}) array->GetInstance(n);
    auto created = array->NewInstance();
    EXPECT_EQ(created->GetName(), "child[0002]");
    EXPECT_EQ(created->GetKey(), "/net/vswitch/child[0002]");
    EXPECT_EQ(created->GetArrayIndex(), 2);
    EXPECT_EQ(array->NewInstance()->GetName(), "child[0004]");
    array->SetNextIndexHint(10);
    EXPECT_EQ(array->NewInstance()->GetName(), "child[0010]");
    std::string key, name;
    array->GetNamesFromIndex(7, key, name);
    EXPECT_EQ(name, "child[0007]");
    EXPECT_EQ(key, "/net/vswitch/child[0007]");
    array->GetNamesFromIndex("tarn0", key, name);
    EXPECT_EQ(name, "child[tarn0]");
}

TEST(ConfigTree, FindAndRemoveInstances) {
    auto array = Root()->GetBranch("net/pnic")->GetArray("child");
    auto a = array->NewInstance();
    a->SetValue("name", "pnx0");
    a->SetValue("mac", "00:11");
    auto b = array->NewInstance();
    b->SetValue("name", "pnx1");
    b->SetValue("mac", "00:11");
    EXPECT_EQ(array->FindInstanceWithValue("name", "pnx1"), b);
    EXPECT_EQ(array->FindInstanceWithValues({{"mac", "00:11"}, {"name", "pnx0"}}), a);
    EXPECT_EQ(array->FindInstanceWithValues({{"mac", "00:12"}, {"name", "pnx0"}}), nullptr);
    EXPECT_TRUE(array->HasInstance("name", "pnx0"));
    EXPECT_EQ(array->FindInstanceWithIndex(1), b);
    EXPECT_EQ(ThrownText([&] { array->FindInstanceWithIndex(5); }), "Config Convertor: unable to find instance");
    EXPECT_EQ(ThrownText([&] { array->RemoveInstance("name", "pnx9"); }),
              "Config Convertor: no matching instance to remove: pnx9");
    array->RemoveInstance("name", "pnx0");
    EXPECT_EQ(array->GetInstanceKeys(), std::vector<std::string>{"child[0001]"});
    EXPECT_EQ(array->NewInstance()->GetName(), "child[0000]");
}

}  // namespace
