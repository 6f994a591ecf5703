// The PCI name database: vendor, device and subsystem names from the host's
// pciids directories and /usr/share/hwdata/pci.ids, and the class names. One
// process-wide cache serves every lookup; PciNameDb is the table itself, so
// tests and the benchmark can build one from any files.
#pragma once

#include <cstdint>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

namespace TarnCtl::Hardware {

// The host paths the database reads, in precedence order.
extern const char* const kPciidDirs[5];
extern const char* const kPciIdsFile;

class PciNameDb {
public:
    // Only devices whose vendor << 16 | device key is in `present` are kept
    // (vendors are always kept: subsystem names need them). Without a call,
    // every device is kept.
    void SetPresent(std::set<uint32_t> present);
    // Reads one file in the pci.ids format; entries already held win. A file
    // that cannot be read throws "Failed to scan pciid file " + path.
    void ScanFile(const std::string& realPath);
    // Every regular "*.ids" file of a directory, in directory order; a missing
    // directory is no source. An unreadable one throws
    // "Failed to scan pciid directory " + path.
    void ScanDir(const std::string& realPath);
    void Lookup(std::string& vendor, std::string& model, uint16_t vendorId, uint16_t deviceId,
                uint16_t subVendorId, uint16_t subDeviceId) const;
    size_t DeviceCount() const { return _devices.size(); }
    size_t VendorCount() const { return _vendors.size(); }

private:
    struct Subsystem {
        uint16_t subVendor;
        std::string name;
    };
    struct Device {
        std::string vendorName;
        std::string name;
        std::unordered_map<uint32_t, Subsystem> subsystems;
    };
    bool Wanted(uint32_t key) const { return !_filter || _present.count(key) != 0; }
    std::string VendorName(uint16_t id) const;

    bool _filter = false;
    std::set<uint32_t> _present;
    std::unordered_map<uint16_t, std::string> _vendors;
    std::unordered_map<uint32_t, Device> _devices;
};

// Class names of a pci.ids file: class << 8 | subclass -> subclass name.
// Subclass lines count only inside the class section (a device line of the
// vendor section has the same shape).
std::map<uint16_t, std::string> ReadPciClasses(const std::string& realPath);

// The process-wide cache. Rebuild when one of the five directories changed
// since the last build (or the host root changed); true when it rebuilt.
bool RefreshPciNameCache();
// Drops the cache: the next lookup builds it again.
void ResetPciNameCache();

// vendor << 16 | device of every PCI function the kernel reports.
std::set<uint32_t> PreBuildMap();

}  // namespace TarnCtl::Hardware
