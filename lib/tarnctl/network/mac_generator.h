// The host's MAC generator for kernel NICs and the addresses derived like
// theirs: six bytes made of the project's fixed vendor prefix and three bytes
// of a SHA-1 digest over the system UUID, a seed and 8 random bytes. The
// fourth byte carries the address type, so generated addresses of different
// kinds never meet. One process-wide instance; tests construct their own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "hostctl/nettypes.h"

namespace TarnCtl::Network {

class MacAddressGenerator {
public:
    // Locally administered unicast prefix: the project has no IEEE OUI of its own.
    static constexpr uint8_t kOui[3] = {0x02, 0x54, 0x4e};
    // Address types (byte 3, bits 4-5).
    enum Type : uint8_t { kSvcif = 0, kPnicPseudo = 1, kTarnNic = 2, kBackup = 3 };
    // A generated address that collides with a NIC is replaced this many times at most.
    static constexpr int kMaxBackupTries = 64;

    // The one process-wide generator, made with the host's system UUID.
    static MacAddressGenerator& GetSingleton();
    explicit MacAddressGenerator(const uint8_t (&systemUuid)[16]);

    // SHA-1 over the UUID, `length` bytes of `seed` and 8 random bytes (the
    // quick generator's when the random source fails), laid out for `type`.
    HostCtl::Network::MacAddress GenerateMacAddr(const void* seed, size_t length, uint8_t type);
    // `seedText` is `prefix` followed by an unsigned 32-bit number in decimal,
    // octal ("0") or hexadecimal ("0x") notation: that number, as 4 bytes in
    // the host's order, is the seed. Anything else gets a backup address.
    HostCtl::Network::MacAddress GenerateMacAddr(const std::string& seedText, const std::string& prefix, uint8_t type);

    // A kernel NIC's address from its seed string, unique among the host's NICs.
    HostCtl::Network::MacAddress GenerateTarnNicMacAddr(const std::string& seed);
    // A pseudo address for a physical NIC, seeded with its MAC text.
    HostCtl::Network::MacAddress GeneratePnicPseudoMac(const std::string& nicMac);
    // Type 3 from the SHA-1 of `seed`.
    HostCtl::Network::MacAddress GenerateBackupMacAddr(const std::string& seed);
    // The legacy service-console interface's address ("svcif<n>").
    HostCtl::Network::MacAddress GenerateSvcifMacAddr(const std::string& seedText);
    // True when no physical or kernel NIC has this MAC.
    bool CheckMacUniqueness(const HostCtl::Network::MacAddress& mac);

private:
    // `mac`, or backups of `seed` while it collides with a NIC.
    HostCtl::Network::MacAddress Unique(HostCtl::Network::MacAddress mac, const std::string& seed);

    uint8_t _uuid[16];
};

}  // namespace TarnCtl::Network
