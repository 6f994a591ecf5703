// The address texts against the C library as an independent reference:
// wherever the rules agree, parsing and printing must give exactly what
// inet_pton/inet_ntop and sscanf give, over edge cases and many random inputs.
#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"

using namespace HostCtl::Network;

namespace {

std::mt19937_64& Rng() {
    static std::mt19937_64 rng(20240611);
    return rng;
}

std::string RandomText(const char* alphabet, size_t maxLen) {
    size_t n = Rng()() % (maxLen + 1);
    size_t k = std::strlen(alphabet);
    std::string s;
    for (size_t i = 0; i < n; ++i) s.push_back(alphabet[Rng()() % k]);
    return s;
}

// 16 bytes shaped like real addresses: zero runs, ffff groups, mapped forms.
void RandomIpv6Bytes(uint8_t b[16]) {
    for (int i = 0; i < 16; ++i) b[i] = static_cast<uint8_t>(Rng()());
    switch (Rng()() % 6) {
    case 0: break;
    case 1: {  // a zero run somewhere
        int start = Rng()() % 8, len = 1 + Rng()() % (8 - start);
        std::memset(b + 2 * start, 0, 2 * len);
        break;
    }
    case 2: {  // two zero runs, maybe of equal length
        int len = 1 + Rng()() % 3;
        int a = Rng()() % (8 - len);
        std::memset(b + 2 * a, 0, 2 * len);
        int c = Rng()() % (8 - len);
        std::memset(b + 2 * c, 0, 2 * len);
        break;
    }
    case 3:  // IPv4-mapped or -compatible
        std::memset(b, 0, 10);
        if (Rng()() % 2) b[10] = b[11] = 0xff; else b[10] = b[11] = 0;
        break;
    case 4:  // sparse: each group zero with high probability
        for (int g = 0; g < 8; ++g)
            if (Rng()() % 3) b[2 * g] = b[2 * g + 1] = 0;
        break;
    case 5:  // small groups (fewer hex digits)
        for (int g = 0; g < 8; ++g) {
            b[2 * g] = 0;
            if (Rng()() % 2) b[2 * g + 1] &= 0x0f;
        }
        break;
    }
}

std::string Ntop6(const uint8_t b[16]) {
    char buf[INET6_ADDRSTRLEN];
    EXPECT_NE(inet_ntop(AF_INET6, b, buf, sizeof buf), nullptr);
    return buf;
}

void ExpectIpv6ParseAgrees(const std::string& text) {
    uint8_t ref[16];
    bool refOk = inet_pton(AF_INET6, text.c_str(), ref) == 1;
    Ipv6_addr mine;
    bool ok = Ipv6Address::Parse(text.data(), text.size(), &mine);
    ASSERT_EQ(ok, refOk) << "text: \"" << text << "\"";
    if (ok) {
        ASSERT_EQ(std::memcmp(ref, mine.s6_addr, 16), 0) << text;
    }
    // Without "%", and at most 64 characters, the checking test agrees too.
    if (text.find('%') == std::string::npos && text.size() <= 64) {
        ASSERT_EQ(Ipv6Address::IsValidAddress(text), refOk) << text;
    }
}

void ExpectIpv4ParseAgrees(const std::string& text) {
    in_addr ref;
    bool refOk = inet_pton(AF_INET, text.c_str(), &ref) == 1;
    ASSERT_EQ(Ipv4Address::IsValidAddress(text), refOk) << "text: \"" << text << "\"";
    if (refOk) {
        ASSERT_EQ(Ipv4Address(text).GetBinaryAddress(), ref.s_addr) << text;
    }
}

void ExpectMacParseAgrees(const std::string& text) {
    unsigned char ref[6];
    bool refOk = std::sscanf(text.c_str(), "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx", &ref[0], &ref[1],
                             &ref[2], &ref[3], &ref[4], &ref[5]) == 6;
    unsigned char mine[6];
    bool ok = MacAddress::Parse(text, mine);
    ASSERT_EQ(ok, refOk) << "text: \"" << text << "\"";
    if (ok) {
        ASSERT_EQ(std::memcmp(ref, mine, 6), 0) << text;
    }
}

}  // namespace

TEST(Ipv4AgainstLibc, EdgeTexts) {
    for (const char* t :
         {"0.0.0.0", "255.255.255.255", "1.2.3.4", "127.0.0.1", "01.2.3.4", "1.2.3.04", "1.2.3.0",
          "256.1.1.1", "1.2.3.256", "1.2.3", "1.2.3.4.", ".1.2.3.4", "1..2.3", "1.2.3.4.5", "",
          " 1.2.3.4", "1.2.3.4 ", "0x1.2.3.4", "1.2.3.-4", "1.2.3.4/24", "999.0.0.0", "00.0.0.0",
          "1.2.3.4\n", "10.0.0.1%eth0", "1.2.3.255", "249.250.251.252"})
        ExpectIpv4ParseAgrees(t);
}

TEST(Ipv4AgainstLibc, RandomTexts) {
    for (int i = 0; i < 200000; ++i) ExpectIpv4ParseAgrees(RandomText("0123456789..25x ", 17));
}

TEST(Ipv4AgainstLibc, PrintingEveryShapeOfWord) {
    for (int i = 0; i < 200000; ++i) {
        uint32_t w = static_cast<uint32_t>(Rng()());
        if (i % 4 == 0) w &= 0x0f0f0f0f;  // short octets
        char ref[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &w, ref, sizeof ref);
        Ipv4Address a(w);
        ASSERT_EQ(a.GetStringAddress(), ref);
        ASSERT_EQ(Ipv4Address(std::string(ref)).GetBinaryAddress(), w);
    }
}

TEST(Ipv6AgainstLibc, EdgeTexts) {
    for (const char* t :
         {"::", "::1", "1::", "::ffff:1.2.3.4", "::1.2.3.4", "1:2:3:4:5:6:7:8", "1:2:3:4:5:6:7::",
          "::2:3:4:5:6:7:8", "1:2:3:4:5:6:1.2.3.4", "1:2:3:4:5:6:7:1.2.3.4", "1::2::3", ":::",
          ":1::", "1:", ":1", "1::2:", "12345::", "0000:0000::", "FE80::1", "fe80::1%eth0",
          "::ffff:01.2.3.4", "::ffff:1.2.3", "1:2:3:4:5:6:7:8:9", "1:2:3:4:5:6:7:8::", "::1:2:3:4:5:6:7",
          "::1:2:3:4:5:6:7:8", "1.2.3.4", "::1.2.3.4.5", "::1.2.3.4:5", "g::", "", ":", "::0:0",
          "0:0:0:0:0:0:0:0", "1:0:0:1:0:0:0:1", "::ffff:255.255.255.255", "1::1.2.3.4",
          "a:b:c:d:e:f:1.2.3.4"})
        ExpectIpv6ParseAgrees(t);
}

TEST(Ipv6AgainstLibc, RandomTexts) {
    for (int i = 0; i < 200000; ++i) ExpectIpv6ParseAgrees(RandomText("0123456789abcdefABF::::..g", 46));
}

TEST(Ipv6AgainstLibc, MutatedCanonicalTexts) {
    // Valid texts with one character changed, dropped or doubled stay close to
    // the grammar's edges.
    const char* extra = "0123456789abcdefABCDEF:.%x ";
    for (int i = 0; i < 100000; ++i) {
        uint8_t b[16];
        RandomIpv6Bytes(b);
        std::string t = Ntop6(b);
        size_t pos = Rng()() % (t.size() + 1);
        switch (Rng()() % 3) {
        case 0: t.insert(t.begin() + pos, extra[Rng()() % std::strlen(extra)]); break;
        case 1: if (pos < t.size()) t.erase(pos, 1); break;
        case 2: if (pos < t.size()) t[pos] = extra[Rng()() % std::strlen(extra)]; break;
        }
        ExpectIpv6ParseAgrees(t);
    }
}

TEST(Ipv6AgainstLibc, PrintingIsInetNtop) {
    for (int i = 0; i < 200000; ++i) {
        Ipv6_addr bin;
        RandomIpv6Bytes(bin.s6_addr);
        std::string ref = Ntop6(bin.s6_addr);
        ASSERT_EQ(Ipv6Address::Format(bin), ref);
        // The constructor canonicalises exactly as a round trip through libc does.
        std::string upper = ref;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_EQ(Ipv6Address(upper).GetStringAddress(), ref);
        ASSERT_EQ(Ipv6Address(bin).GetStringAddress(), ref);
    }
}

TEST(MacAgainstSscanf, EdgeTexts) {
    for (const char* t :
         {"01:02:03:04:05:06", "1:2:3:4:5:6", "AA:BB:CC:DD:EE:FF", "01:02:03:04:05",
          "01:02:03:04:05:06:07", "01:02:03:04:05:06junk", "001:02:03:04:05:06", " 1: 2: 3: 4: 5: 6",
          "0x1:2:3:4:5:6", "1:2:3:4:5:0x6", "+1:2:3:4:5:6", "-1:2:3:4:5:6", "01-02-03-04-05-06", "",
          "g1:02:03:04:05:06", "01:02:03:04:05:0", "01:02:03:04:05:", "0:0:0:0:0:0", "1:2:3:4:5:6 ",
          "01:02:03:04:05:6g", "ff:ff:ff:ff:ff:ff"})
        ExpectMacParseAgrees(t);
}

TEST(MacAgainstSscanf, RandomTexts) {
    for (int i = 0; i < 100000; ++i) ExpectMacParseAgrees(RandomText("0123456789abcdefAFx::::  +-", 20));
}

TEST(MacAgainstSscanf, PrintingIsLowerCaseHex) {
    for (int i = 0; i < 10000; ++i) {
        unsigned char b[6];
        for (auto& c : b) c = static_cast<unsigned char>(Rng()());
        char ref[18];
        std::snprintf(ref, sizeof ref, "%02x:%02x:%02x:%02x:%02x:%02x", b[0], b[1], b[2], b[3], b[4], b[5]);
        ASSERT_EQ(MacAddress(b).GetStringAddress(), ref);
        ASSERT_EQ(MacAddress(std::string(ref)), MacAddress(b));
    }
}

// Where this system's rules differ from the C library, on purpose.
TEST(RulesBeyondLibc, Ipv6ZoneIsAcceptedAndKeptUnchanged) {
    // libc refuses a "%zone"; the address keeps it as typed.
    uint8_t ref[16];
    EXPECT_EQ(inet_pton(AF_INET6, "FE80:0:0:0:0:0:0:1%tarn0", ref), 0);
    Ipv6Address a("FE80:0:0:0:0:0:0:1%tarn0");
    EXPECT_EQ(a.GetScopedStringAddress(), "fe80::1%tarn0");
    EXPECT_EQ(a.GetStringAddress(), "fe80::1");
    EXPECT_TRUE(a.IsScopedAddress());
    EXPECT_EQ(Ipv6Address("fe80::1%A/b%c").GetScopedStringAddress(), "fe80::1%A/b%c");
    EXPECT_FALSE(Ipv6Address::IsValidAddress("fe80::1%"));
}

TEST(RulesBeyondLibc, Ipv6TextLimitedTo64Characters) {
    // Every zone-less valid text is at most 45 characters, so only zones hit the limit.
    std::string base = "fe80::1%";
    std::string zone64(64 - base.size(), 'z');
    EXPECT_TRUE(Ipv6Address::IsValidAddress(base + zone64));
    EXPECT_FALSE(Ipv6Address::IsValidAddress(base + zone64 + "z"));
}

TEST(RulesBeyondLibc, CanonicalTextMayOutgrowTheLimit) {
    // "::f:fe44" is canonically "::0.15.254.68": with a long zone the stored
    // text passes 64 characters and the value fails its own validity test,
    // while copies of a port address keep it.
    std::string zone = "%" + std::string(64 - 9, 'z');
    Ipv6Address a("::f:fe44" + zone);
    EXPECT_EQ(a.GetStringAddress(), "::0.15.254.68");
    EXPECT_FALSE(a.IsValidAddress());
    EXPECT_THROW(Ipv6Network("::f:fe44" + zone + "/64"), HostCtl::Lib::HostCtlException);
    PortAddress p("::f:fe44" + zone, 80);
    PortAddress copy(p);
    EXPECT_EQ(copy.GetStringAddress(), "::0.15.254.68:80");
}

TEST(RulesBeyondLibc, TextsEndAtAnEmbeddedNul) {
    // A std::string is read the way a C string would be: up to its first NUL.
    EXPECT_EQ(Ipv4Address(std::string("1.2.3.4\0junk", 12)).GetStringAddress(), "1.2.3.4");
    EXPECT_EQ(Ipv6Address(std::string("::1\0x%eth0", 10)).GetScopedStringAddress(), "::1%eth0");
}

TEST(RulesBeyondLibc, Ipv4LoopbackIsOnlyOneAddress) {
    // Unlike IN_LOOPBACK (all of 127/8), only 127.0.0.1 counts.
    EXPECT_TRUE(Ipv4Address("127.0.0.1").IsLoopbackAddress());
    EXPECT_FALSE(Ipv4Address("127.0.0.2").IsLoopbackAddress());
}
