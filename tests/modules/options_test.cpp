// Module option strings: parsing, and the value checks of every declared C
// type with the values just inside and just outside each range.
#include "hostctl/exception.h"
#include "modules_fixture.h"
#include "platform/kevt.h"
#include "platform/log.h"
#include "system/module_options.h"

using HostCtl::Lib::HostCtlException;
using TarnCtl::System::CheckParameterValue;
using TarnCtl::System::FormatOptions;
using TarnCtl::System::ModuleOptionMap;
using TarnCtl::System::ParseOptions;

namespace {

TEST(ModuleOptionText, LaterTokenReplacesEarlierAndNameEndsAtFirstEquals) {
    ModuleOptionMap m = ParseOptions("a=1 b  c=x=y\ta=2");
    EXPECT_EQ(m, (ModuleOptionMap{{"a", "2"}, {"b", ""}, {"c", "x=y"}}));
    EXPECT_TRUE(ParseOptions("").empty());
    EXPECT_TRUE(ParseOptions(" \t\n ").empty());
    EXPECT_EQ(ParseOptions("=5"), (ModuleOptionMap{{"", "5"}}));
    EXPECT_EQ(ParseOptions("k="), (ModuleOptionMap{{"k", ""}}));
}

TEST(ModuleOptionText, FormatRoundTrips) {
    ModuleOptionMap m{{"max_vfs", "8,8"}, {"flag", ""}, {"c", "x=y"}};
    EXPECT_EQ(FormatOptions(m), "c=x=y flag max_vfs=8,8");
    EXPECT_EQ(ParseOptions(FormatOptions(m)), m);
}

struct ValueCase {
    const char* type;
    const char* value;
    bool ok;
};

TEST(ModuleParameterValues, EachTypeAtItsLimits) {
    const std::vector<ValueCase> cases = {
        {"int", "2147483647", true},   {"int", "2147483648", false}, {"int", "-2147483648", true},
        {"int", "-2147483649", false}, {"int", "0", true},           {"int", "-0", true},
        {"short", "32767", true},      {"short", "32768", false},    {"short", "-32768", true},
        {"short", "-32769", false},    {"short", "40000", false},
        {"long", "9223372036854775807", true},   {"long", "9223372036854775808", false},
        {"long", "-9223372036854775808", true},  {"long", "-9223372036854775809", false},
        {"long", "99999999999999999999", false},
        {"uint", "4294967295", true},  {"uint", "4294967296", false}, {"uint", "-1", false},
        {"uint", "-0", false},         {"uint", "0", true},
        {"ushort", "65535", true},     {"ushort", "65536", false},   {"ushort", "-1", false},
        {"ulong", "18446744073709551615", true}, {"ulong", "18446744073709551616", false},
        {"ulong", "-1", false},
        {"byte", "255", true},         {"byte", "256", false},       {"byte", "0", true},  {"byte", "-1", false},
        // Only decimal digits after an optional minus.
        {"int", "", false},            {"int", "-", false},          {"int", "+1", false},
        {"int", " 1", false},          {"int", "1 ", false},         {"int", "0x10", false},
        {"int", "1a", false},          {"uint", "007", true},
        // Types without a check take anything.
        {"charp", "-1,x y", true},     {"bool", "maybe", true},      {"array of byte", "999", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.value);
        EXPECT_EQ(CheckParameterValue(c.type, c.value), c.ok);
    }
}

TEST(ModuleParameterValues, ArraysCheckEveryElement) {
    const std::vector<ValueCase> cases = {
        {"array of int", "1,2,3", true},          {"array of int", "-1,2147483647", true},
        {"array of int", "1,2147483648", false},  {"array of uint", "1,2,-3", false},
        {"array of uint", "4294967295,0", true},  {"array of uint", "4294967296", false},
        {"array of short", "1,40000", false},     {"array of short", "-32768,32767", true},
        {"array of ushort", "65535,65535", true}, {"array of ushort", "65536", false},
        {"array of long", "-9223372036854775808", true}, {"array of long", "9223372036854775808", false},
        {"array of ulong", "18446744073709551615,1", true}, {"array of ulong", "1,18446744073709551616", false},
        {"array of int", "5", true},              {"array of int", "", false},
        {"array of int", "1,,2", false},          {"array of int", "1,", false},
        {"array of int", ",1", false},            {"array of int", "1;2", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.type) + " " + c.value);
        EXPECT_EQ(CheckParameterValue(c.type, c.value), c.ok);
    }
}

class ValidateTest : public ModTest::ModulesHostTest {
protected:
    static TarnCtl::System::ModuleFileInfo Info() {
        TarnCtl::System::ModuleFileInfo info;
        info.parameters = {{"max_vfs", "array of uint", ""}, {"depth", "short", ""}, {"name", "charp", ""}};
        return info;
    }
    static std::string Refusal(const std::string& text) {
        try {
            TarnCtl::System::ValidateOptions("nic_x", ParseOptions(text), Info());
        } catch (const HostCtlException& e) {
            return e.what();
        }
        return "(accepted)";
    }
};

TEST_F(ValidateTest, RefusalTexts) {
    EXPECT_EQ(Refusal("depth=40000"), "Invalid value 40000 for module parameter depth");
    EXPECT_EQ(Refusal("max_vfs=1,2,-3"), "Invalid value 1,2,-3 for module parameter max_vfs");
    EXPECT_EQ(Refusal("depth=1 bogus=2"), "Unable to set invalid module parameter bogus");
    EXPECT_EQ(Refusal("depth"), "Invalid value  for module parameter depth");
    EXPECT_EQ(Refusal("depth=-32768 name=anything"), "(accepted)");
}

TEST_F(ValidateTest, MaxVfsFormatAndEvent) {
    // "array of int" would let a sign through; max_vfs itself takes digits only.
    TarnCtl::System::ModuleFileInfo info;
    info.parameters = {{"max_vfs", "array of int", ""}};
    Platform::Log::Capture log;
    try {
        TarnCtl::System::ValidateOptions("nic_x", ParseOptions("max_vfs=8,-1"), info);
        ADD_FAILURE() << "accepted";
    } catch (const HostCtlException& e) {
        EXPECT_STREQ(e.what(), "Value of max_vfs parameter must be a comma-separated list of integers");
    }
    EXPECT_TRUE(log.Contains("ModuleImpl: Max vfs value '8,-1' does not meet expected format"));
    EXPECT_TRUE(Platform::Kevt::ReadLog().empty());

    TarnCtl::System::ValidateOptions("nic_x", ParseOptions("max_vfs=8,8"), info);
    auto events = Platform::Kevt::ReadLog();
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0],
              "@&!*@*@(kevt.user.module.maxvfs.set)Setting the max_vfs option for module nic_x may not work "
              "asexpected. It may be overridden by per-device SRIOV configuration.");
}

}  // namespace
