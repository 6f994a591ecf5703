// The PCI name database. Files are read line by line; only lines of present
// devices (and every vendor line) go through the patterns, so building stays
// close to the cost of reading the file. Class names are read by a small
// state machine because a subclass line looks like a device line.
#include "hardware/pci_names.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <mutex>

#include <boost/regex.hpp>

#include "hostctl/exception.h"
#include "hostctl/hardware.h"
#include "platform/hostroot.h"
#include "platform/log.h"

namespace TarnCtl::Hardware {

const char* const kPciidDirs[5] = {
    "/usr/share/hwdata/oem.pciids.d",    "/usr/share/hwdata/ihv.pciids.d",
    "/usr/share/hwdata/default.pciids.d", "/usr/share/hwdata/driver.pciids.d",
    "/usr/share/hwdata/fallback.pciids.d",
};
const char* const kPciIdsFile = "/usr/share/hwdata/pci.ids";

namespace {

const boost::regex kDeviceLine("\\A\t([[:xdigit:]]{4})  ([^\t]+)\\Z");
const boost::regex kSubsystemLine("\\A\t\t([[:xdigit:]]{4}) ([[:xdigit:]]{4})  ([^\t]*)\\Z");
const boost::regex kClassLine("^C ([0-9a-fA-F]{2})\\s*(.+)");
const boost::regex kSubclassLine("^\\t([0-9a-fA-F]{2})\\s*(.+)");

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Four hex digits at `p`, or -1.
long Hex4(const std::string& line, size_t p) {
    if (line.size() < p + 4) return -1;
    long v = 0;
    for (size_t i = p; i < p + 4; ++i) {
        int d = HexDigit(line[i]);
        if (d < 0) return -1;
        v = v << 4 | d;
    }
    return v;
}

// The vendor-line pattern "\\A([[:xdigit:]]{4})  ([^\t]+)\\Z" checked by hand:
// vendor lines are the bulk of what a filtered build must still read.
bool IsVendorLine(const std::string& line) {
    return line.size() > 6 && Hex4(line, 0) >= 0 && line[4] == ' ' && line[5] == ' ' &&
           line.find('\t', 6) == std::string::npos;
}

uint16_t ParseHex(const std::string& text) { return static_cast<uint16_t>(std::stoul(text, nullptr, 16)); }

}  // namespace

void PciNameDb::SetPresent(std::set<uint32_t> present) {
    _filter = true;
    _present = std::move(present);
}

void PciNameDb::ScanFile(const std::string& realPath) {
    std::ifstream in(realPath);
    if (!in.is_open()) throw HostCtl::Lib::HostCtlException("Failed to scan pciid file " + realPath);
    std::string line;
    long vendor = -1;          // vendor of the current block, -1 outside one
    std::string vendorName;
    Device* device = nullptr;  // the kept device whose subsystem lines follow
    boost::smatch m;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == '\t') {
            if (vendor < 0) continue;
            if (line.size() > 1 && line[1] == '\t') {
                if (device && boost::regex_match(line, m, kSubsystemLine)) {
                    uint32_t key = static_cast<uint32_t>(ParseHex(m[1]) << 16 | ParseHex(m[2]));
                    device->subsystems.try_emplace(key, Subsystem{ParseHex(m[1]), m[3]});
                }
                continue;
            }
            device = nullptr;
            long id = Hex4(line, 1);
            if (id < 0) continue;
            uint32_t key = static_cast<uint32_t>(vendor << 16 | id);
            if (!Wanted(key) || !boost::regex_match(line, m, kDeviceLine)) continue;
            auto [it, added] = _devices.try_emplace(key, Device{vendorName, m[2], {}});
            device = &it->second;
            continue;
        }
        device = nullptr;
        if (IsVendorLine(line)) {
            vendor = Hex4(line, 0);
            vendorName = line.substr(6);
            _vendors.try_emplace(static_cast<uint16_t>(vendor), vendorName);
        } else {
            vendor = -1;  // class section or anything else ends the vendor block
        }
    }
    if (in.bad()) throw HostCtl::Lib::HostCtlException("Failed to scan pciid file " + realPath);
}

void PciNameDb::ScanDir(const std::string& realPath) {
    DIR* dir = opendir(realPath.c_str());
    if (!dir) {
        if (errno == ENOENT) return;
        throw HostCtl::Lib::HostCtlException("Failed to scan pciid directory " + realPath);
    }
    std::vector<std::string> files;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() <= 4 || name.compare(name.size() - 4, 4, ".ids") != 0) continue;
        struct stat st {};
        std::string path = realPath + "/" + name;
        if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) files.push_back(path);
    }
    closedir(dir);
    for (const auto& f : files) ScanFile(f);
}

std::string PciNameDb::VendorName(uint16_t id) const {
    auto it = _vendors.find(id);
    return it == _vendors.end() ? "" : it->second;
}

void PciNameDb::Lookup(std::string& vendor, std::string& model, uint16_t vendorId, uint16_t deviceId,
                       uint16_t subVendorId, uint16_t subDeviceId) const {
    auto it = _devices.find(static_cast<uint32_t>(vendorId) << 16 | deviceId);
    if (it == _devices.end()) {
        model = "Unknown";
        vendor = VendorName(vendorId);
        if (vendor.empty()) vendor = "Unknown";
        return;
    }
    const Device& d = it->second;
    vendor = d.vendorName.empty() ? VendorName(vendorId) : d.vendorName;
    if (vendor.empty()) vendor = "Unknown";
    model = d.name;
    uint32_t subKey = static_cast<uint32_t>(subVendorId) << 16 | subDeviceId;
    if (subKey != 0) {
        auto s = d.subsystems.find(subKey);
        if (s != d.subsystems.end() && !s->second.name.empty()) {
            std::string subVendor = VendorName(s->second.subVendor);
            if (!subVendor.empty()) vendor = subVendor;
            model = s->second.name;
        }
    }
    if (model.empty()) model = "Unknown";
}

std::map<uint16_t, std::string> ReadPciClasses(const std::string& realPath) {
    std::map<uint16_t, std::string> classes;
    std::ifstream in(realPath);
    if (!in.is_open()) return classes;
    std::string line;
    bool inClass = false;
    int cls = 0;
    boost::smatch m;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        if (line[0] == 'C' && boost::regex_search(line, m, kClassLine)) {
            inClass = true;
            cls = ParseHex(m[1]);
        } else if (line[0] != '\t') {
            inClass = false;  // a vendor line: back in the device section
        } else if (inClass && boost::regex_search(line, m, kSubclassLine) && !(line.size() > 1 && line[1] == '\t')) {
            classes.emplace(static_cast<uint16_t>(cls << 8 | ParseHex(m[1])), m[2]);
        }
    }
    return classes;
}

namespace {

// The process-wide cache. Every field is read and written under `mutex` only.
struct NameCache {
    std::mutex mutex;
    bool built = false;
    std::string root;                    // host root the cache was built for
    std::vector<timespec> dirTimes;      // the five directories' mtimes at the build
    PciNameDb db;
    bool classesBuilt = false;
    std::map<uint16_t, std::string> classes;
};

NameCache& Cache() {
    static NameCache* cache = new NameCache;
    return *cache;
}

std::vector<timespec> DirTimes() {
    std::vector<timespec> times;
    for (const char* d : kPciidDirs) {
        struct stat st {};
        timespec t{};
        if (stat(Platform::HostPath(d).c_str(), &st) == 0) t = st.st_mtim;
        times.push_back(t);
    }
    return times;
}

bool SameTimes(const std::vector<timespec>& a, const std::vector<timespec>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const timespec& x, const timespec& y) {
        return x.tv_sec == y.tv_sec && x.tv_nsec == y.tv_nsec;
    });
}

// Builds the table; `cache.mutex` is held.
void BuildLocked(NameCache& cache) {
    PciNameDb db;
    try {
        db.SetPresent(PreBuildMap());
    } catch (const HostCtl::Lib::HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to list the PCI devices, keeping every name: %s\n", "PciNames",
                           e.GetDetailedMessage().c_str());
    }
    for (const char* d : kPciidDirs) {
        try {
            db.ScanDir(Platform::HostPath(d));
        } catch (const HostCtl::Lib::HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: %s\n", "ScanPciidDir", e.what());
        }
    }
    try {
        db.ScanFile(Platform::HostPath(kPciIdsFile));
    } catch (const HostCtl::Lib::HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: %s\n", "ScanPciidFile", e.what());
    }
    cache.db = std::move(db);
    cache.dirTimes = DirTimes();
    cache.root = Platform::HostRoot();
    cache.built = true;
}

void EnsureBuiltLocked(NameCache& cache) {
    if (!cache.built || cache.root != Platform::HostRoot()) {
        cache.classesBuilt = false;
        BuildLocked(cache);
    }
}

}  // namespace

bool RefreshPciNameCache() {
    NameCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (cache.built && cache.root == Platform::HostRoot() && SameTimes(cache.dirTimes, DirTimes())) return false;
    cache.classesBuilt = cache.classesBuilt && cache.root == Platform::HostRoot();
    BuildLocked(cache);
    return true;
}

void ResetPciNameCache() {
    NameCache& cache = Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    cache.built = false;
    cache.classesBuilt = false;
    cache.db = PciNameDb();
    cache.classes.clear();
}

}  // namespace TarnCtl::Hardware

namespace HostCtl::Hardware {

void GetVendorModelFromPCI(std::string& vendorName, std::string& modelName, uint16_t vendorId,
                           uint16_t deviceId, uint16_t subVendorId, uint16_t subDeviceId) {
    auto& cache = TarnCtl::Hardware::Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    TarnCtl::Hardware::EnsureBuiltLocked(cache);
    cache.db.Lookup(vendorName, modelName, vendorId, deviceId, subVendorId, subDeviceId);
}

std::string GetPCIClass(uint16_t classCode) {
    auto& cache = TarnCtl::Hardware::Cache();
    std::lock_guard<std::mutex> lock(cache.mutex);
    if (!cache.classesBuilt || cache.root != Platform::HostRoot()) {
        TarnCtl::Hardware::EnsureBuiltLocked(cache);
        cache.classes = TarnCtl::Hardware::ReadPciClasses(Platform::HostPath(TarnCtl::Hardware::kPciIdsFile));
        cache.classesBuilt = true;
    }
    auto it = cache.classes.find(classCode);
    return it == cache.classes.end() ? "Unknown" : it->second;
}

}  // namespace HostCtl::Hardware
