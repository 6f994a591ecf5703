// The MAC generator: the digest input and byte layout per type against SHA-1
// computed here with libcrypto's one-shot SHA1, the quick-generator path when
// the random source fails, seed texts parsed like strtoul, the failure texts,
// and the uniqueness loop against physical and kernel NIC addresses.
#include <openssl/sha.h>

#include <cstdlib>
#include <cstring>
#include <deque>
#include <optional>

#include "../tarnnic/tarnnic_fixture.h"
#include "network/mac_generator.h"
#include "platform/crypto.h"

namespace MacTest {

using HostCtl::Network::IpConfig;
using HostCtl::Network::MacAddress;
using NetTest::Thrown;
using TarnCtl::Network::MacAddressGenerator;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr uint8_t kUuid[16] = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17,
                               0x18, 0x19, 0x1a, 0x1b, 0x1c, 0x1d, 0x1e, 0x1f};

Bytes Random(uint64_t n) {
    Bytes b(8);
    for (int i = 0; i < 8; ++i) b[i] = static_cast<uint8_t>(n >> (8 * i));
    return b;
}

// Hands out chosen random bytes (the last ones again when the queue runs
// dry), a chosen counter and quick draws, and fails the calls it is told to.
class FakeCrypto : public Platform::Crypto::Backend {
public:
    FakeCrypto() { _prev = Platform::Crypto::SetBackend(this); }
    ~FakeCrypto() override { Platform::Crypto::SetBackend(_prev); }
    bool RandomBytes(void* out, size_t length) override {
        ++randomCalls;
        if (randomFails) return false;
        if (randoms.size() > 1) {
            last = randoms.front();
            randoms.pop_front();
        } else if (!randoms.empty()) {
            last = randoms.front();
        }
        std::memcpy(out, last.data(), std::min(length, last.size()));
        return true;
    }
    uint64_t ReadTsc() override { return tsc; }
    bool QuickSeed(uint32_t seed, uint64_t* state) override {
        seeds.push_back(seed);
        *state = 0;
        return !quickSeedFails;
    }
    uint32_t QuickNext(uint64_t* state) override { return draws.at((*state)++); }
    bool Sha1(const void* data, size_t length, uint8_t (&out)[Platform::Crypto::kSha1Length]) override {
        if (sha1FailAt && ++sha1Calls == *sha1FailAt) return false;
        return _prev->Sha1(data, length, out);
    }

    std::deque<Bytes> randoms{Random(3)};
    Bytes last = Random(3);
    bool randomFails = false;
    int randomCalls = 0;
    uint64_t tsc = 0;
    bool quickSeedFails = false;
    std::vector<uint32_t> draws;
    std::vector<uint32_t> seeds;
    std::optional<int> sha1FailAt;
    int sha1Calls = 0;

private:
    Platform::Crypto::Backend* _prev;
};

Bytes Sha1(const Bytes& in) {
    Bytes d(SHA_DIGEST_LENGTH);
    SHA1(in.data(), in.size(), d.data());
    return d;
}
Bytes Cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
Bytes Uuid() { return Bytes(kUuid, kUuid + 16); }
Bytes HostOrder(uint32_t v) {
    Bytes b(4);
    std::memcpy(b.data(), &v, 4);
    return b;
}

// The address the layout gives for `type` over SHA-1 of UUID || seed || random.
std::string Expected(uint8_t type, const Bytes& seed, const Bytes& random) {
    Bytes d = Sha1(Cat({Uuid(), seed, random}));
    char buf[18];
    std::snprintf(buf, sizeof buf, "02:54:4e:%02x:%02x:%02x", ((((d[0] & 0x0F) | (type << 4)) & 0x3F) | 0x40), d[1],
                  d[2]);
    return buf;
}
std::string ExpectedBackup(const std::string& seed, const Bytes& random) {
    return Expected(3, Sha1(Text(seed)), random);
}

class MacGenTest : public NicTest::NicHostTest {
protected:
    static void SetPnx2Mac(const std::string& mac) {
        Kernel([&](TarnSim::KernelState& s) {
            KsiPnicProperties p{};
            ASSERT_TRUE(s.Read(KSI_NODE_net_pNics_properties, {"pnx2"}, &p));
            MacAddress(mac).GetBinaryAddress(p.mac);
            s.Put(KSI_NODE_net_pNics_properties, {"pnx2"}, p);
        });
    }
    FakeCrypto crypto;
    MacAddressGenerator gen{kUuid};
};

}  // namespace

// Worked out apart with Python's hashlib: SHA-1 of the UUID, "Management Network"
// and the random bytes 03 00 .. 00 begins fe f1 1b.
TEST_F(MacGenTest, KnownVector) {
    const std::string seed = "Management Network";
    EXPECT_EQ("02:54:4e:6e:f1:1b", gen.GenerateMacAddr(seed.data(), seed.size(), 2).GetStringAddress());
}

TEST_F(MacGenTest, ByteThreeCarriesTheTypeForEveryKind) {
    // Random bytes 3 and 8 give digests whose first byte has its high nibble
    // set, so a missing mask shows.
    const std::string seed = "Management Network";
    struct Row {
        uint8_t type;
        uint64_t random;
        const char* byte3;
    };
    for (const Row& r : {Row{0, 3, "4e"}, Row{1, 3, "5e"}, Row{2, 3, "6e"}, Row{3, 3, "7e"}, Row{0, 8, "43"},
                         Row{3, 8, "73"}}) {
        crypto.randoms = {Random(r.random)};
        const std::string mac = gen.GenerateMacAddr(seed.data(), seed.size(), r.type).GetStringAddress();
        EXPECT_EQ(Expected(r.type, Text(seed), Random(r.random)), mac) << int(r.type);
        EXPECT_EQ(r.byte3, mac.substr(9, 2)) << int(r.type);
    }
    // The named generators pick their types.
    crypto.randoms = {Random(3)};
    EXPECT_EQ(Expected(2, Text("pgX"), Random(3)), gen.GenerateTarnNicMacAddr("pgX").GetStringAddress());
    EXPECT_EQ(Expected(1, Text("00:1b:21:0a:4c:07"), Random(3)),
              gen.GeneratePnicPseudoMac("00:1b:21:0a:4c:07").GetStringAddress());
    EXPECT_EQ(ExpectedBackup("pgX", Random(3)), gen.GenerateBackupMacAddr("pgX").GetStringAddress());
    EXPECT_EQ(Expected(0, HostOrder(7), Random(3)), gen.GenerateSvcifMacAddr("svcif7").GetStringAddress());
}

TEST_F(MacGenTest, FailingRandomSourceFallsBackToTheQuickGenerator) {
    crypto.randomFails = true;
    crypto.tsc = 0x1234567890abcdefULL;
    crypto.draws = {0x11223344, 0x55667788};
    const std::string seed = "pg1";
    const std::string mac = gen.GenerateMacAddr(seed.data(), seed.size(), 2).GetStringAddress();
    EXPECT_EQ(std::vector<uint32_t>{0x90abcdef}, crypto.seeds);  // the counter's low 32 bits
    EXPECT_EQ(Expected(2, Text(seed), Cat({HostOrder(0x11223344), HostOrder(0x55667788)})), mac);

    crypto.quickSeedFails = true;
    EXPECT_EQ("Unable to generate a Valid MAC address for interface, Random_QuickSeed() failed",
              Thrown([&] { gen.GenerateMacAddr(seed.data(), seed.size(), 2); }));
}

TEST_F(MacGenTest, DigestFailuresHaveTheirOwnTexts) {
    crypto.sha1FailAt = 1;
    EXPECT_EQ("Unable to generate a Valid MAC address for interface, CryptoHash failed",
              Thrown([&] { gen.GenerateTarnNicMacAddr("pg1"); }));
    crypto.sha1Calls = 0;
    EXPECT_EQ("Unable to generate a backup MAC address for interface, CryptoHash failed",
              Thrown([&] { gen.GenerateBackupMacAddr("pg1"); }));
    // The backup's own digest passes, the address's fails.
    crypto.sha1Calls = 0;
    crypto.sha1FailAt = 2;
    EXPECT_EQ("Unable to generate a Valid MAC address for interface, CryptoHash failed",
              Thrown([&] { gen.GenerateBackupMacAddr("pg1"); }));
}

// A seed after the prefix is a whole unsigned 32-bit number as strtoul reads
// it with base 0; anything else gets a backup address from the whole text.
TEST_F(MacGenTest, SeedTextsAreParsedLikeStrtoul) {
    struct Row {
        const char* text;
        bool number;
    };
    const Row rows[] = {
        {"svcif0", true},           {"svcif10", true},          {"svcif010", true},      {"svcif0x1A", true},
        {"svcif0X1a", true},        {"svcif4294967295", true},  {"svcif0xffffffff", true}, {"svcif037777777777", true},
        {"svcif4294967296", false}, {"svcif0x100000000", false}, {"svcif12abc", false},   {"svcif09", false},
        {"svcif", false},           {"svcif 5", false},          {"svcif-1", false},      {"svcif+5", false},
        {"svcif0x", false},         {"other5", false},           {"svcif99999999999999999999999", false},
    };
    for (const Row& r : rows) {
        const std::string text = r.text;
        std::string expected;
        if (r.number) {
            const std::string rest = text.substr(5);
            char* end = nullptr;
            unsigned long n = std::strtoul(rest.c_str(), &end, 0);
            ASSERT_EQ('\0', *end) << text;
            expected = Expected(0, HostOrder(static_cast<uint32_t>(n)), Random(3));
        } else {
            expected = ExpectedBackup(text, Random(3));
        }
        EXPECT_EQ(expected, gen.GenerateMacAddr(text, "svcif", 0).GetStringAddress()) << text;
    }
    // The number is written in the host's (little-endian) order.
    EXPECT_EQ(Expected(1, Bytes{0x04, 0x03, 0x02, 0x01}, Random(3)),
              gen.GenerateMacAddr("n0x01020304", "n", 1).GetStringAddress());
}

TEST_F(MacGenTest, UniquenessChecksPhysicalAndKernelNics) {
    EXPECT_FALSE(gen.CheckMacUniqueness(MacAddress("00:1b:21:0a:4c:00")));  // pnx0
    EXPECT_FALSE(gen.CheckMacUniqueness(MacAddress("0c:42:a1:5d:70:11")));  // pnx3
    EXPECT_TRUE(gen.CheckMacUniqueness(MacAddress("02:00:4c:6a:00:01")));
    Add("pg1", "", IpConfig(), "", "02:00:4c:6a:00:01");
    EXPECT_FALSE(gen.CheckMacUniqueness(MacAddress("02:00:4c:6a:00:01")));
    EXPECT_TRUE(gen.CheckMacUniqueness(MacAddress("02:00:4c:6a:00:02")));
}

TEST_F(MacGenTest, ACollidingAddressIsReplacedByABackup) {
    // The first address equals a kernel NIC's, the first backup a physical NIC's.
    const std::string first = Expected(2, Text("pg2"), Random(3));
    const std::string backup1 = ExpectedBackup("pg2", Random(4));
    const std::string backup2 = ExpectedBackup("pg2", Random(5));
    Add("pg1", "", IpConfig(), "", first);
    SetPnx2Mac(backup1);
    crypto.randoms = {Random(3), Random(4), Random(5)};
    EXPECT_EQ(backup2, gen.GenerateTarnNicMacAddr("pg2").GetStringAddress());
    EXPECT_EQ(3, crypto.randomCalls);
}

TEST_F(MacGenTest, ARandomSourceStuckOnOneCollidingValueEndsWithAnError) {
    const std::string first = Expected(2, Text("pg2"), Random(4));
    const std::string backup = ExpectedBackup("pg2", Random(4));
    Add("pg1", "", IpConfig(), "", first);
    SetPnx2Mac(backup);
    crypto.randoms = {Random(4)};
    EXPECT_EQ("Unable to generate a unique MAC address for interface, " + backup + " is in use",
              Thrown([&] { gen.GenerateTarnNicMacAddr("pg2"); }));
    EXPECT_EQ(1 + MacAddressGenerator::kMaxBackupTries, crypto.randomCalls);
}

TEST(MachineCrypto, DigestAndQuickGeneratorOfTheDefaultBackend) {
    Platform::Crypto::Backend& b = Platform::Crypto::GetBackend();
    uint8_t d[Platform::Crypto::kSha1Length];
    ASSERT_TRUE(b.Sha1("abc", 3, d));
    EXPECT_EQ(Sha1(Text("abc")), Bytes(d, d + sizeof d));
    uint64_t s1 = 0, s2 = 0;
    ASSERT_TRUE(b.QuickSeed(42, &s1));
    ASSERT_TRUE(b.QuickSeed(42, &s2));
    const uint32_t a = b.QuickNext(&s1);
    EXPECT_EQ(a, b.QuickNext(&s2));
    EXPECT_NE(a, b.QuickNext(&s1));
    uint8_t r[16] = {};
    EXPECT_TRUE(b.RandomBytes(r, sizeof r));
}

}  // namespace MacTest
