// Capability walks over a raw configuration space. Each visited offset is
// remembered, so a list that points back is refused at once instead of being
// walked until some count runs out.
#include "hardware/pci_config.h"

#include <set>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"

namespace TarnCtl::Hardware {

namespace {

constexpr uint32_t kStdSpace = 256;
constexpr uint32_t kMaxCapId = 0x15;
constexpr uint32_t kMaxExtCapId = 0x2f;

uint16_t U16(const uint8_t* d, uint32_t off) { return static_cast<uint16_t>(d[off] | d[off + 1] << 8); }
uint32_t U32(const uint8_t* d, uint32_t off) { return U16(d, off) | static_cast<uint32_t>(U16(d, off + 2)) << 16; }

// Bytes a capability occupies, so that reading its fields stays in the space.
uint32_t CapSize(uint32_t id) {
    switch (id) {
        case 0x01: return 8;     // power management
        case 0x05: return 10;    // MSI
        case 0x10: return 0x3c;  // PCI Express
        case 0x11: return 12;    // MSI-X
        default: return 2;
    }
}
uint32_t ExtCapSize(uint32_t id) {
    switch (id) {
        case 0x01: return 0x48;  // AER
        case 0x0d: return 8;     // ACS
        case 0x10: return 0x40;  // SR-IOV
        case 0x1d: return 0x1c;  // DPC
        default: return 4;
    }
}

[[noreturn]] void Outside() {
    throw HostCtl::Lib::HostCtlException("Capability data extends outside of config space");
}
[[noreturn]] void Loops(const std::string& tag, uint32_t off) {
    throw HostCtl::Lib::HostCtlException(
        HostCtl::Misc::StrPrintf("Capability list of %s loops at offset 0x%02x", tag.c_str(), off));
}

}  // namespace

std::vector<HostCtl::Hardware::PciCapability> WalkCapabilities(const uint8_t* data, uint32_t length,
                                                               const std::string& tag) {
    std::vector<HostCtl::Hardware::PciCapability> caps;
    if (length < 0x40) Outside();
    std::set<uint32_t> seen;
    // Status bit 4: the capability list exists.
    if (U16(data, 0x06) & 0x10) {
        for (uint32_t off = data[0x34] & 0xfc; off != 0; off = data[off + 1] & 0xfc) {
            if (off < 0x40 || off + 2 > std::min(length, kStdSpace)) Outside();
            if (!seen.insert(off).second) Loops(tag, off);
            uint32_t id = data[off];
            if (off + CapSize(id) > std::min(length, kStdSpace)) Outside();
            if (id == 0 || id > kMaxCapId) {
                TarnCtl_LogWarnInt("%s: invalid PCI capability ID: %lu\n", tag.c_str(), static_cast<unsigned long>(id));
                continue;
            }
            caps.push_back({id, off, false});
        }
    }
    if (length <= kStdSpace) return caps;
    seen.clear();
    for (uint32_t off = kStdSpace; off != 0;) {
        if (off < kStdSpace || off + 4 > length) Outside();
        if (!seen.insert(off).second) Loops(tag, off);
        uint32_t header = U32(data, off);
        if (header == 0 || header == 0xffffffff) break;
        uint32_t id = header & 0xffff;
        if (off + ExtCapSize(id) > length) Outside();
        if (id == 0 || id > kMaxExtCapId)
            TarnCtl_LogWarnInt("%s: Invalid PCI extended capability ID: %lu\n", tag.c_str(),
                               static_cast<unsigned long>(id));
        else
            caps.push_back({id, off, true});
        off = (header >> 20) & 0xffc;
    }
    return caps;
}

SriovFacts ReadSriov(const uint8_t* data, uint32_t length, const std::string& tag) {
    SriovFacts f;
    for (const auto& c : WalkCapabilities(data, length, tag)) {
        if (!c.extended || c.id != kExtCapSriov) continue;
        f.present = true;
        f.totalVfs = U16(data, c.offset + 0x0e);
        f.numVfs = U16(data, c.offset + 0x10);
        f.firstOffset = U16(data, c.offset + 0x14);
        f.stride = U16(data, c.offset + 0x16);
        f.vfDeviceId = U16(data, c.offset + 0x1a);
        break;
    }
    return f;
}

int ReadPortType(const uint8_t* data, uint32_t length, const std::string& tag) {
    for (const auto& c : WalkCapabilities(data, length, tag))
        if (!c.extended && c.id == kCapPciExpress) return (U16(data, c.offset + 2) >> 4) & 0xf;
    return -1;
}

}  // namespace TarnCtl::Hardware
