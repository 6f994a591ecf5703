// The MAC generator (see mac_generator.h). The digest input is the system
// UUID, then the seed, then the random bytes, in that order; the random bytes
// come from the host's random source, or from the quick generator seeded with
// the time-stamp counter when that source fails.
#include "network/mac_generator.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "hostctl/exception.h"
#include "hostctl/network.h"
#include "network/network_info_impl.h"
#include "network/pnic_impl.h"
#include "network/tarnnic_info_impl.h"
#include "platform/crypto.h"
#include "platform/log.h"
#include "system/system_info_impl.h"

namespace TarnCtl::Network {

using HostCtl::Lib::HostCtlException;
using HostCtl::Network::MacAddress;

namespace {
const char* kTag = "MacAddressGenerator";
}

MacAddressGenerator& MacAddressGenerator::GetSingleton() {
    static MacAddressGenerator generator(System::SystemInfoImpl().GetSystemUuid(true).bytes);
    return generator;
}

MacAddressGenerator::MacAddressGenerator(const uint8_t (&systemUuid)[16]) { std::memcpy(_uuid, systemUuid, 16); }

MacAddress MacAddressGenerator::GenerateMacAddr(const void* seed, size_t length, uint8_t type) {
    Platform::Crypto::Backend& crypto = Platform::Crypto::GetBackend();
    uint8_t random[8];
    if (!crypto.RandomBytes(random, sizeof random)) {
        TarnCtl_LogWarnInt("%s: CryptoRandom_GetBytes failed, using the quick generator\n", kTag);
        uint64_t state = 0;
        if (!crypto.QuickSeed(static_cast<uint32_t>(crypto.ReadTsc()), &state))
            throw HostCtlException("Unable to generate a Valid MAC address for interface, Random_QuickSeed() failed");
        const uint32_t draws[2] = {crypto.QuickNext(&state), crypto.QuickNext(&state)};
        std::memcpy(random, draws, sizeof random);
    }
    std::vector<uint8_t> input(_uuid, _uuid + sizeof _uuid);
    const auto* s = static_cast<const uint8_t*>(seed);
    input.insert(input.end(), s, s + length);
    input.insert(input.end(), random, random + sizeof random);
    uint8_t digest[Platform::Crypto::kSha1Length];
    if (!crypto.Sha1(input.data(), input.size(), digest))
        throw HostCtlException("Unable to generate a Valid MAC address for interface, CryptoHash failed");
    const unsigned char mac[6] = {kOui[0],
                                  kOui[1],
                                  kOui[2],
                                  static_cast<unsigned char>((((digest[0] & 0x0F) | (type << 4)) & 0x3F) | 0x40),
                                  digest[1],
                                  digest[2]};
    return MacAddress(mac);
}

MacAddress MacAddressGenerator::GenerateMacAddr(const std::string& seedText, const std::string& prefix,
                                                uint8_t type) {
    if (seedText.compare(0, prefix.size(), prefix) == 0) {
        const std::string number = seedText.substr(prefix.size());
        // Digits only up front: strtoul would also take blanks and a sign.
        if (!number.empty() && number[0] >= '0' && number[0] <= '9') {
            char* end = nullptr;
            errno = 0;
            unsigned long value = std::strtoul(number.c_str(), &end, 0);
            if (errno == 0 && *end == '\0' && value <= UINT32_MAX) {
                const uint32_t seed = static_cast<uint32_t>(value);  // host byte order
                return GenerateMacAddr(&seed, sizeof seed, type);
            }
        }
    }
    return GenerateBackupMacAddr(seedText);
}

MacAddress MacAddressGenerator::GenerateBackupMacAddr(const std::string& seed) {
    uint8_t digest[Platform::Crypto::kSha1Length];
    if (!Platform::Crypto::GetBackend().Sha1(seed.data(), seed.size(), digest))
        throw HostCtlException("Unable to generate a backup MAC address for interface, CryptoHash failed");
    return GenerateMacAddr(digest, sizeof digest, kBackup);
}

MacAddress MacAddressGenerator::GenerateTarnNicMacAddr(const std::string& seed) {
    return Unique(GenerateMacAddr(seed.data(), seed.size(), kTarnNic), seed);
}

MacAddress MacAddressGenerator::GeneratePnicPseudoMac(const std::string& nicMac) {
    return Unique(GenerateMacAddr(nicMac.data(), nicMac.size(), kPnicPseudo), nicMac);
}

MacAddress MacAddressGenerator::GenerateSvcifMacAddr(const std::string& seedText) {
    return Unique(GenerateMacAddr(seedText, "svcif", kSvcif), seedText);
}

MacAddress MacAddressGenerator::Unique(MacAddress mac, const std::string& seed) {
    for (int tries = 0; !CheckMacUniqueness(mac); ++tries) {
        // A random source that keeps giving the same bytes would loop for ever.
        if (tries == kMaxBackupTries)
            throw HostCtlException("Unable to generate a unique MAC address for interface, " + mac.GetStringAddress() +
                                   " is in use");
        TarnCtl_LogInfoInt("%s: MAC address %s is in use, generating a backup address\n", kTag,
                           mac.GetStringAddress().c_str());
        mac = GenerateBackupMacAddr(seed);
    }
    return mac;
}

bool MacAddressGenerator::CheckMacUniqueness(const MacAddress& mac) {
    NetworkInfoImpl net;
    for (const std::string& name : net.GetPnicNameList(HostCtl::Network::PnicGetType::All))
        if (PnicImpl(name).GetMacAddress() == mac) return false;
    for (const auto& nic : TarnosNicInfoImpl().GetTarnosNics(HostCtl::Network::PORTSET_GET_ALL))
        if (nic->GetMacAddress() == mac) return false;
    return true;
}

}  // namespace TarnCtl::Network
