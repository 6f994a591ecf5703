// Placeholder of the host's MAC generator: refuses until the generator lands.
#include "network/mac_generator.h"

#include "network/network_util.h"

namespace TarnCtl::Network {

MacAddressGenerator& MacAddressGenerator::GetSingleton() {
    static MacAddressGenerator generator;
    return generator;
}

HostCtl::Network::MacAddress MacAddressGenerator::GenerateTarnNicMacAddr(const std::string&) {
    ThrowNotAvailable("Generating a kernel NIC MAC address");
}

bool MacAddressGenerator::CheckMacUniqueness(const HostCtl::Network::MacAddress&) {
    ThrowNotAvailable("Checking MAC uniqueness");
}

}  // namespace TarnCtl::Network
