// Pure value rules: UUID texts against libuuid, the boot file-system UUID
// regrouping, recovery-key masking, escape markers, clock field checks, the
// keymap list and the alternate boot bank's build line.
#include <gtest/gtest.h>
#include <uuid/uuid.h>

#include <random>
#include <regex>
#include <sstream>

#include "hostctl/exception.h"
#include "system/system_values.h"
#include "system_fixture.h"

namespace SystemTest {
namespace {

using HostCtl::System::RtcDateTime;
using HostCtl::System::SoftwareUuid;
using namespace TarnCtl::System;

TEST(SoftwareUuidText, MatchesLibuuidCanonicalFormForManyValues) {
    std::mt19937 rng(7);
    for (int n = 0; n < 500; ++n) {
        uint8_t raw[16];
        for (auto& b : raw) b = static_cast<uint8_t>(rng());
        if (n == 0) std::fill(std::begin(raw), std::end(raw), 0xff);
        if (n == 1) std::fill(std::begin(raw), std::end(raw), 0x00);
        char oracle[37];
        uuid_unparse_lower(raw, oracle);
        SoftwareUuid u = SoftwareUuid::FromBytes(raw);
        ASSERT_EQ(u.text, oracle);
        // The text parses back to the same bytes, also from upper case.
        uuid_t upper;
        char upperText[37];
        std::copy(std::begin(raw), std::end(raw), upper);
        uuid_unparse_upper(upper, upperText);
        SoftwareUuid back = SoftwareUuid::FromText(upperText);
        ASSERT_TRUE(std::equal(std::begin(raw), std::end(raw), back.bytes));
        ASSERT_EQ(back.text, oracle);
    }
}

TEST(SoftwareUuidText, MalformedTextsAreRefusedByName) {
    for (std::string bad : {"", "4c4c4544-0042-3510-8052-b4c04f4d323",   // one digit short
                            "4c4c4544-0042-3510-8052-b4c04f4d32321",     // one digit long
                            "4c4c45440-042-3510-8052-b4c04f4d3232",      // dash misplaced
                            "4c4c4544-0042-3510-8052-b4c04f4d323g",      // not hex
                            "0x4c4c45-0042-3510-8052-b4c04f4d3232"})     // prefix
        EXPECT_EQ(ErrorOf([&] { SoftwareUuid::FromText(bad); }), "Invalid UUID: " + bad) << bad;
}

TEST(BootFsUuid, ThirtyTwoCharactersAreRegroupedPairwise) {
    EXPECT_EQ(RegroupBootFsUuid("0123456789abcdef0123456789abcdef"), "67452301-efcdab89-2301-456789abcdef");
    EXPECT_EQ(RegroupBootFsUuid("5f3a1c2e4b6d7f8091a2b3c4d5e6f708"), "2e1c3a5f-807f6d4b-a291-b3c4d5e6f708");
}

TEST(BootFsUuid, OtherLengthsAreLeftAlone) {
    for (std::string raw : {std::string(), std::string(31, 'a'), std::string(33, 'b'),
                            std::string("5f3a1c2e-4b6d-7f80-91a2-b3c4d5e6f708")})
        EXPECT_EQ(RegroupBootFsUuid(raw), raw) << raw.size();
}

struct MaskCase {
    const char* name;
    std::string in, out;
};

class MaskTest : public ::testing::TestWithParam<MaskCase> {};

TEST_P(MaskTest, MasksAsTheKernelExpression) { EXPECT_EQ(MaskRecoveryKeys(GetParam().in), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(
    Lines, MaskTest,
    ::testing::Values(
        MaskCase{"Single", "a encryptionRecoveryKey=123456 b", "a encryptionRecoveryKey=XXXXXX-XXXXXX b"},
        MaskCase{"Groups", "encryptionRecoveryKey=123456-234567-345678", "encryptionRecoveryKey=XXXXXX-XXXXXX"},
        MaskCase{"FiveDigitsIsNoKey", "encryptionRecoveryKey=12345 x", "encryptionRecoveryKey=12345 x"},
        MaskCase{"ShortTailStaysAfterLastFullGroup", "encryptionRecoveryKey=123456-234567-12 x",
                 "encryptionRecoveryKey=XXXXXX-XXXXXX-12 x"},
        MaskCase{"TrailingDash", "encryptionRecoveryKey=123456-", "encryptionRecoveryKey=XXXXXX-XXXXXX-"},
        MaskCase{"LongRun", "encryptionRecoveryKey=12345678901234z", "encryptionRecoveryKey=XXXXXX-XXXXXXz"},
        MaskCase{"Twice", "encryptionRecoveryKey=111111 encryptionRecoveryKey=222222-333333",
                 "encryptionRecoveryKey=XXXXXX-XXXXXX encryptionRecoveryKey=XXXXXX-XXXXXX"},
        MaskCase{"Nested", "encryptionRecoveryKey=encryptionRecoveryKey=123456",
                 "encryptionRecoveryKey=encryptionRecoveryKey=XXXXXX-XXXXXX"},
        MaskCase{"None", "runweasel autoPartition=FALSE", "runweasel autoPartition=FALSE"}),
    [](const auto& info) { return std::string(info.param.name); });

// The documented expression on short inputs built from the characters that
// matter; a backtracking engine is fine at this size.
TEST(MaskRecoveryKeys, EqualsTheDocumentedExpressionOnRandomLines) {
    const std::regex oracle("encryptionRecoveryKey=((\\d+){6}-)*(\\d+){6}");
    const char* pieces[] = {"encryptionRecoveryKey=", "1", "12345", "123456", "1234567", "-", " ", "x", "9"};
    std::mt19937 rng(11);
    for (int n = 0; n < 3000; ++n) {
        std::string line;
        int parts = static_cast<int>(rng() % 8);
        for (int i = 0; i < parts; ++i) line += pieces[rng() % 9];
        ASSERT_EQ(MaskRecoveryKeys(line),
                  std::regex_replace(line, oracle, "encryptionRecoveryKey=XXXXXX-XXXXXX"))
            << line;
    }
}

// Long digit runs and many almost-keys: a backtracking matcher explodes (or
// overflows its stack) here; one scan does not.
TEST(MaskRecoveryKeys, LongAdversarialLineIsMaskedExactly) {
    std::string line;
    std::string expected;
    for (int i = 0; i < 2000; ++i) {
        line += "encryptionRecoveryKey=" + std::string(60, '7') + "-" + std::string(5, '1') + " ";
        expected += "encryptionRecoveryKey=XXXXXX-XXXXXX-11111 ";
    }
    line += "encryptionRecoveryKey=" + std::string(200000, '3');
    expected += "encryptionRecoveryKey=XXXXXX-XXXXXX";
    EXPECT_EQ(MaskRecoveryKeys(line), expected);
}

TEST(EscapeMarkers, RoundTripBothWays) {
    std::string marked = "<ESC>[1;31mAlert<ESC>[0m <ESC <ESC>";
    std::string bytes = "\x1b[1;31mAlert\x1b[0m <ESC \x1b";
    EXPECT_EQ(EscapeMarkersToBytes(marked), bytes);
    EXPECT_EQ(EscapeBytesToMarkers(bytes), marked);
    EXPECT_EQ(EscapeMarkersToBytes("<<ESC>>"), "<\x1b>");
    EXPECT_EQ(EscapeMarkersToBytes("<esc>"), "<esc>");
}

struct RtcCase {
    const char* name;
    RtcDateTime time;
    std::string errors;
};

class RtcFieldTest : public ::testing::TestWithParam<RtcCase> {};

TEST_P(RtcFieldTest, NamesEveryFaultInOrder) { EXPECT_EQ(RtcFieldErrors(GetParam().time), GetParam().errors); }

// Fields: day, month, year, hour, minute, second.
INSTANTIATE_TEST_SUITE_P(
    Fields, RtcFieldTest,
    ::testing::Values(RtcCase{"AllAtLowerLimits", {1, 1, 1970, 0, 0, 0}, ""},
                      RtcCase{"AllAtUpperLimits", {31, 12, 2100, 23, 59, 59}, ""},
                      RtcCase{"DayZero", {0, 1, 1970, 0, 0, 0}, "Day is out of range (1-31). "},
                      RtcCase{"Day32", {32, 1, 1970, 0, 0, 0}, "Day is out of range (1-31). "},
                      RtcCase{"MonthZero", {1, 0, 1970, 0, 0, 0}, "Month is out of range (1-12). "},
                      RtcCase{"Month13", {1, 13, 1970, 0, 0, 0}, "Month is out of range (1-12). "},
                      RtcCase{"Year1969", {1, 1, 1969, 0, 0, 0}, "Epoch is 1970, no dates before 1970 allowed. "},
                      RtcCase{"Hour24", {1, 1, 1970, 24, 0, 0}, "Hour is out of range (0-23). "},
                      RtcCase{"Minute60", {1, 1, 1970, 0, 60, 0}, "Minute is out of range (0-59). "},
                      RtcCase{"Second60", {1, 1, 1970, 0, 0, 60}, "Second is out of range (0-59). "},
                      RtcCase{"DayAndMonth", {0, 13, 2000, 0, 0, 0},
                              "Day is out of range (1-31). Month is out of range (1-12). "},
                      RtcCase{"Everything", {0, 0, 0, 24, 60, 60},
                              "Day is out of range (1-31). Month is out of range (1-12). Epoch is 1970, no dates "
                              "before 1970 allowed. Hour is out of range (0-23). Minute is out of range (0-59). "
                              "Second is out of range (0-59). "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(NormaliseRtc, RollsOverAsACalendarInUtc) {
    RtcDateTime n = NormaliseRtc({31, 2, 2027, 23, 59, 59});  // 31 February
    EXPECT_EQ(n.day, 3u);
    EXPECT_EQ(n.month, 3u);
    EXPECT_EQ(n.year, 2027u);
    EXPECT_EQ(n.hour, 23u);
    n = NormaliseRtc({31, 12, 1999, 23, 59, 59});
    EXPECT_EQ(n.day, 31u);
    EXPECT_EQ(n.month, 12u);
    EXPECT_EQ(n.year, 1999u);
}

TEST(NormaliseRtc, YearsBeyondTheCalendarAreRefused) {
    EXPECT_EQ(ErrorOf([] { NormaliseRtc({1, 1, 4294967295u, 0, 0, 0}); }), "Invalid time specified.");
    EXPECT_EQ(ErrorOf([] { NormaliseRtc({1, 1, 2147481748u, 0, 0, 0}); }), "Invalid time specified.");
}

TEST(KeymapList, SplitsAtTheLastSpace) {
    std::istringstream in(
        "German de-latin1.kmap.gz\n"
        "Swiss German sg-latin1.kmap.gz\r\n"
        "nospace\n"
        "\n"
        "US Default us.kmap.gz\n"
        "German de.kmap.gz\n");
    auto map = ParseKeymapList(in);
    EXPECT_EQ(map.size(), 3u);
    EXPECT_EQ(map["Swiss German"], "sg-latin1.kmap.gz");
    EXPECT_EQ(map["German"], "de.kmap.gz");  // the later line wins
    EXPECT_EQ(map["US Default"], "us.kmap.gz");
    EXPECT_EQ(map.count("nospace"), 0u);
}

TEST(AltBootBuild, VersionBuildAndPatchFromTheLine) {
    HostCtl::System::TarnVersion v;
    ASSERT_TRUE(ParseAltBootBuildLine("build=8.0.3-0.35.24280767", &v));
    EXPECT_EQ(v.product, "Quillon Halden");
    EXPECT_EQ(v.release, "Release");
    EXPECT_EQ(v.version, "8.0.3");
    EXPECT_EQ(v.patch, "0.35");
    EXPECT_EQ(v.build, "24280767");
    HostCtl::System::TarnVersion none;
    EXPECT_FALSE(ParseAltBootBuildLine("build=8.0.13-0.35.1", &none));  // one digit after the second dot
    EXPECT_FALSE(ParseAltBootBuildLine(" build=8.0.3-0.35.1", &none));
    EXPECT_FALSE(ParseAltBootBuildLine("build=8.0.3-0.35", &none));
    EXPECT_TRUE(none.product.empty());
}

}  // namespace
}  // namespace SystemTest
