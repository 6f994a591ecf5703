// Reading a PCI function's raw configuration space: the capability and
// extended-capability lists (a bounded walk: a loop or a capability reaching
// past the space is refused, not followed) and the facts held in them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostctl/hardware.h"

namespace TarnCtl::Hardware {

inline constexpr uint32_t kCapPciExpress = 0x10;
inline constexpr uint32_t kExtCapSriov = 0x10;
inline constexpr uint32_t kExtCapDpc = 0x1d;

// Both lists in walk order. `tag` names the device in log lines. Throws
// HostCtlException "Capability data extends outside of config space" or
// "Capability list of " + tag + " loops at offset 0x.." for broken lists.
std::vector<HostCtl::Hardware::PciCapability> WalkCapabilities(const uint8_t* data, uint32_t length,
                                                               const std::string& tag);

// The SR-IOV capability's fields (all zero when absent).
struct SriovFacts {
    bool present = false;
    uint16_t totalVfs = 0;
    uint16_t numVfs = 0;
    uint16_t firstOffset = 0;
    uint16_t stride = 0;
    uint16_t vfDeviceId = 0;
};
SriovFacts ReadSriov(const uint8_t* data, uint32_t length, const std::string& tag);
// The PCI Express device/port type (bits 7:4 of the capability register), -1
// without a PCI Express capability.
int ReadPortType(const uint8_t* data, uint32_t length, const std::string& tag);

}  // namespace TarnCtl::Hardware
