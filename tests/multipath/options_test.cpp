// The option languages: the SATP token table and its way back to kernel
// strings per SATP family, PSP configuration strings and the round-robin
// rules, the NMP device options of claim rules.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "storage/nmp_options.h"
#include "multipath_fixture.h"

namespace MultipathTest {
namespace {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using namespace TarnCtl::Storage::Nmp;

ConfigStoreObject Fields() {
    return ConfigStoreObject(ConfigStoreObjectId("satp", "storage", "halden"));
}

struct TokenCase {
    const char* token;
    const char* field;
    bool value;
};

TEST(SatpOptions, EveryTokenOfTheTableSetsItsField) {
    const TokenCase cases[] = {
        {"action_OnRetryErrors=on", "action_on_retry", true},   {"enable_action_OnRetryErrors", "action_on_retry", true},
        {"action_OnRetryErrors=off", "action_on_retry", false}, {"disable_action_OnRetryErrors", "action_on_retry", false},
        {"explicit_allow=on", "explicit_alua", true},           {"enable_explicit_alua", "explicit_alua", true},
        {"explicit_allow=off", "explicit_alua", false},         {"disable_explicit_alua", "explicit_alua", false},
        {"alua_followover=on", "alua_follow_over", true},       {"enable_alua_followover", "alua_follow_over", true},
        {"alua_followover=off", "alua_follow_over", false},     {"disable_alua_followover", "alua_follow_over", false},
        {"ipfilter=on", "ip_filter", true},                     {"ipfilter_on", "ip_filter", true},
        {"ipfilter=off", "ip_filter", false},                   {"ipfilter_off", "ip_filter", false},
        {"navireg=on", "navi_reg", true},                       {"navireg_on", "navi_reg", true},
        {"navireg=off", "navi_reg", false},                     {"navireg_off", "navi_reg", false},
        {"enable_capacity_flash", "enable_capacity_flash", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.token);
        auto fields = Fields();
        // The opposite value first, so that a token that sets nothing shows.
        fields.SetValue(c.field, !c.value);
        EXPECT_TRUE(ApplySatpOptionTokens("QUIL_SATP_ALUA", c.token, fields));
        bool value = !c.value;
        ASSERT_TRUE(fields.GetValue(c.field, &value));
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(fields.GetFieldNames().size(), 1u);
    }
}

TEST(SatpOptions, SupportTokensAreIgnoredWithALog) {
    for (const char* token : {"implicit_support=on", "implicit_support=off", "explicit_support=on",
                              "explicit_support=off"}) {
        Platform::Log::Capture log;
        auto fields = Fields();
        EXPECT_TRUE(ApplySatpOptionTokens("QUIL_SATP_ALUA", token, fields));
        EXPECT_TRUE(fields.IsEmpty());
        EXPECT_TRUE(log.Contains(std::string("Ignoring token ") + token + " for SATP QUIL_SATP_ALUA"));
    }
}

TEST(SatpOptions, AnInvalidTokenAfterValidOnesKeepsThemAndReportsIt) {
    Platform::Log::Capture log;
    auto fields = Fields();
    EXPECT_FALSE(ApplySatpOptionTokens("QUIL_SATP_ALUA", " {enable_explicit_alua;;bogus_token, navireg_on}\t",
                                       fields));
    bool explicitAlua = false, navi = false;
    EXPECT_TRUE(fields.GetValue("explicit_alua", &explicitAlua));
    EXPECT_TRUE(explicitAlua);
    EXPECT_TRUE(fields.GetValue("navi_reg", &navi));
    EXPECT_TRUE(navi);
    EXPECT_TRUE(log.Contains("Invalid option bogus_token provided for SATP QUIL_SATP_ALUA"));
}

TEST(SatpOptions, TokensSplitAtEveryDelimiter) {
    EXPECT_EQ(SplitOptionTokens("a\tb c;d{e}f,g  ;"), (std::vector<std::string>{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_TRUE(SplitOptionTokens(" ;{},\t").empty());
}

struct RebuildCase {
    const char* satp;
    const char* options;
    const char* kernel;
};

TEST(SatpOptions, EachFamilyRebuildsItsOwnFieldsAndRoundTrips) {
    const RebuildCase cases[] = {
        {"QUIL_SATP_ALUA_CX", "enable_action_OnRetryErrors navireg_on", "action_OnRetryErrors=on"},
        {"QUIL_SATP_ALUA_CX", "disable_action_OnRetryErrors", "action_OnRetryErrors=off"},
        {"QUIL_SATP_CX", "navireg_on ipfilter=off explicit_allow=on", "navireg=on ipfilter=off"},
        {"QUIL_SATP_INV", "navireg=off ipfilter_on", "navireg=off ipfilter=on"},
        {"QUIL_SATP_ALUA", "enable_explicit_alua disable_alua_followover ipfilter_on",
         "explicit_allow=on alua_followover=off"},
        {"QUIL_SATP_LOCAL", "enable_capacity_flash navireg_on", "enable_capacity_flash"},
        {"QUIL_SATP_DEFAULT_AA", "enable_capacity_flash navireg_on", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.satp) + " " + c.options);
        auto fields = Fields();
        ASSERT_TRUE(ApplySatpOptionTokens(c.satp, c.options, fields));
        const std::string kernel = BuildSatpConfigString(c.satp, fields);
        EXPECT_EQ(kernel, c.kernel);
        // The rebuilt string gives the same fields of that family back.
        auto again = Fields();
        ASSERT_TRUE(ApplySatpOptionTokens(c.satp, kernel, again));
        EXPECT_EQ(BuildSatpConfigString(c.satp, again), kernel);
    }
    auto off = Fields();
    off.SetValue("enable_capacity_flash", false);
    EXPECT_EQ(BuildSatpConfigString("QUIL_SATP_LOCAL", off), "");
}

TEST(SatpOptions, PlatformNames) {
    EXPECT_EQ(PlatformSatps().size(), 13u);
    EXPECT_TRUE(IsPlatformSatp("QUIL_SATP_LOCAL"));
    EXPECT_FALSE(IsPlatformSatp("PURE_SATP_AA"));
    EXPECT_TRUE(IsPlatformPsp("QUIL_PSP_MRU"));
    EXPECT_FALSE(IsPlatformPsp("PURE_PSP_LB"));
}

struct PspCase {
    const char* text;
    const char* error;  // "" when the string is accepted as round-robin settings
};

TEST(PspConfigString, RoundRobinAcceptAndRefuseTable) {
    const PspCase cases[] = {
        {"iops=10", ""},
        {"policy=iops;iops=10", ""},
        {"policy=bytes;bytes=1048576;useANO=1", ""},
        {"policy=latency;latencyEvalTime=30000;samplingCycles=32;useANO=true", ""},
        {"policy=rr", ""},
        {"policy=rr;useANO=false", ""},
        {"useANO=0", ""},
        {"iops=9223372036854775807", ""},
        {"", "Empty PSP_RR option"},
        {"iops", "Please provide the configstring in the format key1=val1;key2=val2"},
        {"iops=", "Please provide the configstring in the format key1=val1;key2=val2"},
        {"=10", "Please provide the configstring in the format key1=val1;key2=val2"},
        {"iops=10;;bytes=4", "Please provide the configstring in the format key1=val1;key2=val2"},
        {"iops=10;iops=20", "Duplicate configuration iops"},
        {"policy=iops;bytes=5", "Invalid configuration for policy=iops"},
        {"policy=iops;latencyEvalTime=5", "Invalid configuration for policy=iops"},
        {"policy=iops;samplingCycles=5", "Invalid configuration for policy=iops"},
        {"policy=bytes;iops=5", "Invalid configuration for policy=bytes"},
        {"policy=bytes;samplingCycles=5", "Invalid configuration for policy=bytes"},
        {"policy=bytes;latencyEvalTime=5", "Invalid configuration for policy=bytes"},
        {"policy=latency;iops=5", "Invalid configuration for policy=latency"},
        {"policy=latency;bytes=5", "Invalid configuration for policy=latency"},
        {"policy=rr;iops=5", "Invalid configuration for policy=rr"},
        {"policy=rr;bytes=5", "Invalid configuration for policy=rr"},
        {"policy=rr;latencyEvalTime=5", "Invalid configuration for policy=rr"},
        {"policy=rr;samplingCycles=5", "Invalid configuration for policy=rr"},
        {"policy=fast", "Invalid value fast for policy"},
        {"iops=ten", "Invalid value ten for iops"},
        {"iops=10x", "Invalid value 10x for iops"},
        {"iops=9223372036854775808", "Invalid value 9223372036854775808 for iops"},
        {"useANO=2", "Invalid value 2 for useANO"},
        {"speed=3", "Invalid PSP_RR option speed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        try {
            ValidateRoundRobinOptions(ParsePspConfigString(c.text));
        } catch (const HostCtl::Lib::HostCtlException& e) {
            error = e.what();
        }
        EXPECT_EQ(error, c.error);
    }
}

TEST(PspConfigString, RecordedRoundRobinSettingsRebuildTheString) {
    auto rr = Fields();
    RoundRobinToStore(ParsePspConfigString("policy=latency;latencyEvalTime=30000;samplingCycles=32;useANO=true"), rr);
    std::string policy;
    long evalTime = 0, cycles = 0;
    bool ano = false;
    EXPECT_TRUE(rr.GetValue("policy", &policy));
    EXPECT_EQ(policy, "LATENCY");
    EXPECT_TRUE(rr.GetValue("latency_eval_time", &evalTime));
    EXPECT_EQ(evalTime, 30000);
    EXPECT_TRUE(rr.GetValue("num_sampling_cycles", &cycles));
    EXPECT_EQ(cycles, 32);
    EXPECT_TRUE(rr.GetValue("use_ano", &ano));
    EXPECT_TRUE(ano);
    EXPECT_EQ(RoundRobinFromStore(rr), "policy=latency;latencyEvalTime=30000;samplingCycles=32;useANO=1");

    auto def = Fields();
    RoundRobinToStore(ParsePspConfigString("policy=rr"), def);
    EXPECT_TRUE(def.GetValue("policy", &policy));
    EXPECT_EQ(policy, "DEFAULT");
    EXPECT_EQ(RoundRobinFromStore(def), "policy=rr");
}

TEST(NmpOptions, TokensAndContradictions) {
    EXPECT_EQ(ErrorText([] { ValidateNmpOptConfigString("enable_ssd reset_on_attempted_reserve throttle_sll"); }),
              "(no exception)");
    EXPECT_EQ(ErrorText([] { ValidateNmpOptConfigString("enable_local;disable_ssd"); }), "(no exception)");
    EXPECT_EQ(ErrorText([] { ValidateNmpOptConfigString("enable_ssd turbo"); }),
              "Invalid token turbo found for nmp options");
    const char* contradiction =
        "Invalid configuration for nmp options. Specify only one of enable/disable_ssd and enable/disable_local";
    EXPECT_EQ(ErrorText([] { ValidateNmpOptConfigString("enable_ssd disable_ssd"); }), contradiction);
    EXPECT_EQ(ErrorText([] { ValidateNmpOptConfigString("enable_local,disable_local"); }), contradiction);
    EXPECT_TRUE(IsNmpOption("throttle_sll"));
    EXPECT_FALSE(IsNmpOption("THROTTLE_SLL"));
}

}  // namespace
}  // namespace MultipathTest
