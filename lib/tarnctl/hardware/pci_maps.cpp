// The passthrough attribute map (/etc/quillon/passthru.map: reset method and
// FPT-shareable flag by vendor:device, "ffff:ffff" the default) and the OEM
// driver map (/etc/quillon/oem.map.d/*.map). Both are small files read when
// asked; a malformed line is logged and skipped.
#include <dirent.h>

#include <algorithm>
#include <map>
#include <sstream>

#include <boost/regex.hpp>

#include "hardware/pci_device_impl.h"
#include "ksi/hardware.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"

namespace TarnCtl::Hardware {

namespace {

const char* kPassthruMap = "/etc/quillon/passthru.map";
const char* kDriverMapDir = "/etc/quillon/oem.map.d";
constexpr size_t kMaxMapLine = 512;

bool Hex4(const std::string& text, uint16_t* out) {
    if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
        return false;
    *out = static_cast<uint16_t>(std::stoul(text, nullptr, 16));
    return true;
}

uint32_t ResetMethodOf(const std::string& word) {
    if (word == "flr") return Ksi::Hardware::kResetFunction;
    if (word == "d3d0") return Ksi::Hardware::kResetPowerState;
    if (word == "link") return Ksi::Hardware::kResetLink;
    if (word == "bridge") return Ksi::Hardware::kResetBridge;
    return Ksi::Hardware::kResetDefault;
}

std::map<std::string, PassthruAttrs> ReadPassthruMap() {
    std::map<std::string, PassthruAttrs> map;
    auto in = HostCtl::Misc::GetIfstream(kPassthruMap);
    if (!in || !in->is_open()) return map;
    std::string line;
    while (std::getline(*in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream words(line);
        std::string vendor, device, reset, shareable, extra;
        uint16_t v = 0, d = 0;
        if (line.size() > kMaxMapLine || !(words >> vendor >> device >> reset >> shareable) || (words >> extra) ||
            !Hex4(vendor, &v) || !Hex4(device, &d)) {
            TarnCtl_LogWarnInt("%s: %s: Invalid line: %s\n", "PassthruMap", kPassthruMap, line.c_str());
            continue;
        }
        map.try_emplace(HostCtl::Misc::StrPrintf("%04x:%04x", v, d), PassthruAttrs{ResetMethodOf(reset), shareable != "false"});
    }
    return map;
}

}  // namespace

PassthruAttrs GetPassthruAttrs(uint16_t vendorId, uint16_t deviceId) {
    auto map = ReadPassthruMap();
    auto it = map.find(HostCtl::Misc::StrPrintf("%04x:%04x", vendorId, deviceId));
    if (it == map.end()) it = map.find("ffff:ffff");
    return it == map.end() ? PassthruAttrs{Ksi::Hardware::kResetDefault, true} : it->second;
}

std::optional<DriverEntry> GetDriverEntry(uint16_t vendorId, uint16_t deviceId, uint16_t subVendorId,
                                          uint16_t subDeviceId) {
    static const boost::regex kLine("\\A([^=]+)=([^=]+)\\Z");
    static const boost::regex kId("([0-9a-fA-F]{4})");
    std::string key = HostCtl::Misc::StrPrintf("%04x:%04x:%04x:%04x", vendorId, deviceId, subVendorId, subDeviceId);
    std::string dirPath = Platform::HostPath(kDriverMapDir);
    DIR* dir = opendir(dirPath.c_str());
    if (!dir) return std::nullopt;
    std::vector<std::string> files;
    while (dirent* e = readdir(dir)) {
        std::string name = e->d_name;
        if (name.size() > 4 && name.compare(name.size() - 4, 4, ".map") == 0) files.push_back(name);
    }
    closedir(dir);
    std::sort(files.begin(), files.end());
    for (const auto& f : files) {
        auto in = HostCtl::Misc::GetIfstream(std::string(kDriverMapDir) + "/" + f);
        if (!in || !in->is_open()) continue;
        std::string line, current;
        std::optional<DriverEntry> found;
        boost::smatch m;
        while (std::getline(*in, line)) {
            if (line.empty() || line[0] == '#') continue;
            if (!boost::regex_match(line, m, kLine)) {
                TarnCtl_LogWarnInt("%s: %s: Invalid line: %s\n", "DriverMap", f.c_str(), line.c_str());
                continue;
            }
            std::string name = m[1], value = m[2];
            if (name == "id") {
                if (found) return found;
                current.clear();
                for (boost::sregex_iterator i(value.begin(), value.end(), kId), end; i != end; ++i)
                    current += (current.empty() ? "" : ":") + HostCtl::Misc::StrPrintf("%04x", static_cast<unsigned>(std::stoul((*i)[1], nullptr, 16)));
                if (current == key) found = DriverEntry{};
            } else if (found && name == "driver") {
                found->driver = value;
            } else if (found && name == "class") {
                found->type = value;
            }
        }
        if (found) return found;
    }
    return std::nullopt;
}

}  // namespace TarnCtl::Hardware
