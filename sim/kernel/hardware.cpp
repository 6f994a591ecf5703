// The simulated host's firmware and inventory facts, from the "hardware"
// profile section (DMI, UEFI boot entries, CPU packages, memory and NUMA,
// power and its policies, IPMI, uptime, DVX devices, smart card readers), and its hardware data files: the PCI id database is
// copied from the build machine's pci.ids package into
// /usr/share/hwdata/pci.ids (the section's "pciIds" names another file), and
// the project's OEM and driver names and passthrough and driver maps are
// written at their host paths. Files already equal are left alone, so a
// reboot does not touch the directories the name database watches, and the
// maps under /etc, once there, are the administrator's to change.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <sstream>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include <rapidjson/document.h>

#include "hostctl/status.h"
#include "ksi/hardware.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "sim/kernel.h"
#include "hardware_json.h"

namespace TarnSim::Generated {
struct HwDataFile {
    const char* path;
    const unsigned char* data;
    size_t size;
};
extern const HwDataFile kHwDataFiles[];
extern const size_t kHwDataFileCount;
}  // namespace TarnSim::Generated

namespace TarnSim {

namespace {

using Value = rapidjson::Value;
using namespace Ksi::Hardware;

using namespace HardwareJson;

void WriteIfChanged(const std::string& hostPath, const std::string& content) {
    std::string old;
    if (HostCtl::Misc::ReadHostFile(hostPath, &old) && old == content) return;
    HostCtl::Misc::WriteHostFileAtomic(hostPath, content);
}

void InstallHwData(const Value* section) {
    for (size_t i = 0; i < Generated::kHwDataFileCount; ++i) {
        const auto& f = Generated::kHwDataFiles[i];
        std::string path = f.path;
        // Files under /etc are the administrator's once written; package data follows the build.
        if (path.rfind("/etc/", 0) == 0 && HostCtl::Misc::HostFileExists(path)) continue;
        WriteIfChanged(path, std::string(reinterpret_cast<const char*>(f.data), f.size));
    }
    std::string source = Str(section, "pciIds", "/usr/share/misc/pci.ids");
    std::ifstream in(source, std::ios::binary);
    std::ostringstream bytes;
    if (!in.is_open() || !(bytes << in.rdbuf())) {
        TarnCtl_LogWarnInt("%s: PCI id database %s not found, devices stay unnamed\n", "TarnSim", source.c_str());
        return;
    }
    WriteIfChanged("/usr/share/hwdata/pci.ids", bytes.str());
}

bool ParseUuid(const std::string& text, uint8_t* out) {
    std::string hex;
    for (char c : text)
        if (c != '-') hex += c;
    if (hex.size() != 32) return false;
    for (size_t i = 0; i < 16; ++i) out[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
    return true;
}

uint32_t TierType(const std::string& t) {
    static const char* names[] = {"memoryTier", "persistentTier", "cachingTier", "unmappableTier", "vmOverheadTier"};
    for (uint32_t i = 0; i < 5; ++i)
        if (t == names[i]) return i;
    return static_cast<uint32_t>(std::strtoul(t.c_str(), nullptr, 10));
}
uint32_t Media(const std::string& m) {
    if (m == "DRAM") return 0;
    if (m == "PMem") return 1;
    if (m == "NVMe") return 2;
    return static_cast<uint32_t>(std::strtoul(m.c_str(), nullptr, 10));
}
uint32_t Tiering(const std::string& t) {
    if (t == "noTiering") return 0;
    if (t == "hardwareTiering") return 1;
    if (t == "softwareTiering") return 2;
    return static_cast<uint32_t>(std::strtoul(t.c_str(), nullptr, 10));
}

std::string BootKey(uint16_t id) { return HostCtl::Misc::StrPrintf("Boot%04X", id); }

// The firmware's non-volatile variables: a medium of the board, so a reboot
// keeps them and only `sim init` (a new machine) clears them.
const char* const kNvram = "disk.nvram";
const char* const kBootOrderVar = "BootOrder";

// "3,1,7": the boot order as NVRAM holds it.
std::string NvramOrderText(const UefiBootOrder& order) {
    std::string out;
    for (uint32_t i = 0; i < order.count && i < kMaxBootEntries; ++i)
        out += (i ? "," : "") + std::to_string(order.entries[i]);
    return out;
}

bool ParseNvramOrder(const std::string& text, UefiBootOrder* out) {
    if (text.empty()) return false;
    std::vector<std::string> ids;
    HostCtl::Misc::StringTokenize(text, ids, ",");
    if (ids.size() > kMaxBootEntries) return false;
    *out = UefiBootOrder{};
    for (const auto& id : ids) {
        char* end = nullptr;
        unsigned long v = std::strtoul(id.c_str(), &end, 10);
        if (id.empty() || *end || v > 0xffff) return false;
        out->entries[out->count++] = static_cast<uint16_t>(v);
    }
    return true;
}

bool NamesOnlyEntries(const KernelState& s, const UefiBootOrder& order) {
    for (uint32_t i = 0; i < order.count; ++i)
        if (!s.Has("", KSI_NODE_uefi_variable, {BootKey(order.entries[i])})) return false;
    return true;
}

// The BMC keeps what the host told it (OS info, hostname) on its own
// flash: a host reboot keeps it, a new machine starts without.
const char* const kBmcFlash = "disk.bmc";

void InitBmcAndSecurity(KernelState& s, const Value* section) {
    BmcInfo b{};  // present 0: a board without a BMC
    if (const Value* bmc = Sub(section, "bmc")) {
        b.present = 1;
        CopyText(b.version, sizeof b.version, Str(bmc, "version"));
        CopyText(b.osName, sizeof b.osName, s.GetAreaValue(kBmcFlash, "osName"));
        CopyText(b.osVersion, sizeof b.osVersion, s.GetAreaValue(kBmcFlash, "osVersion"));
        CopyText(b.hostname, sizeof b.hostname, s.GetAreaValue(kBmcFlash, "hostname"));
        // A controller whose hostname cache never follows (a firmware fault of some boards).
        s.SetAreaValue("hardware", "bmcStaleHostname", Bool(bmc, "staleHostnameCache") ? "1" : "0");
    }
    s.Put(KSI_NODE_hardware_bmc_info, {}, b);
    const Value* cpu = Sub(section, "cpu");
    if (const Value* v = Sub(cpu, "sgx"))
        s.Put(KSI_NODE_hardware_cpu_sgxInfo, {},
              SgxInfo{static_cast<uint32_t>(Bool(v, "supported")), static_cast<uint32_t>(Bool(v, "enabled")),
                      static_cast<uint32_t>(Bool(v, "flc")), static_cast<uint64_t>(Int(v, "epcBytes"))});
    if (const Value* v = Sub(cpu, "sev"))
        s.Put(KSI_NODE_hardware_cpu_sevInfo, {},
              SevInfo{static_cast<uint32_t>(Bool(v, "supported")), static_cast<uint32_t>(Bool(v, "enabled")),
                      static_cast<uint32_t>(Bool(v, "es")), static_cast<uint32_t>(Int(v, "maxGuests"))});
    if (const Value* v = Sub(cpu, "tdx"))
        s.Put(KSI_NODE_hardware_cpu_tdxInfo, {},
              TdxInfo{static_cast<uint32_t>(Bool(v, "supported")), static_cast<uint32_t>(Bool(v, "enabled")),
                      static_cast<uint32_t>(Int(v, "maxGuests"))});
    if (const Value* v = Sub(section, "nvd"))
        s.Put(KSI_NODE_hardware_nvd_info, {},
              NvdInfo{static_cast<uint32_t>(Int(v, "count")), static_cast<uint64_t>(Int(v, "bytes"))});
}

// "dvx" {supported, enabled, devices [{address, driver, maxInstances,
// usedInstances}]}, "smartCard" {readers [{name, vendorId, productId,
// cardPresent}]}, "power" {policies [{id, shortName, name}]} (the four usual
// policies when absent). Numbers are kept as given, so a profile can describe
// a record the library must refuse.
void InitDevicesAndPolicies(KernelState& s, const Value* section) {
    const Value* dvx = Sub(section, "dvx");
    s.Put(KSI_NODE_hardware_dvx_info, {},
          DvxInfo{static_cast<uint32_t>(Bool(dvx, "supported")), static_cast<uint32_t>(Bool(dvx, "enabled"))});
    if (const Value* devices = Sub(dvx, "devices"); devices && devices->IsArray())
        for (const auto& d : devices->GetArray()) {
            DvxDevice rec{};
            CopyText(rec.driver, sizeof rec.driver, Str(&d, "driver"));
            rec.maxInstances = static_cast<uint32_t>(Int(&d, "maxInstances"));
            rec.usedInstances = static_cast<uint32_t>(Int(&d, "usedInstances"));
            s.Put(KSI_NODE_hardware_dvx_devices, {Str(&d, "address")}, rec);
        }
    if (const Value* readers = Sub(Sub(section, "smartCard"), "readers"); readers && readers->IsArray()) {
        uint32_t i = 0;
        for (const auto& r : readers->GetArray()) {
            SmartCardReader rec{};
            CopyText(rec.name, sizeof rec.name, Str(&r, "name"));
            rec.vendorId = static_cast<uint32_t>(Int(&r, "vendorId"));
            rec.productId = static_cast<uint32_t>(Int(&r, "productId"));
            rec.cardPresent = static_cast<uint32_t>(Bool(&r, "cardPresent"));
            s.Put(KSI_NODE_hardware_smartCard_readers, {std::to_string(i++)}, rec);
        }
    }
    auto putPolicy = [&](uint32_t id, const std::string& shortName, const std::string& name) {
        PowerPolicy p{};
        p.id = id;
        CopyText(p.shortName, sizeof p.shortName, shortName);
        CopyText(p.name, sizeof p.name, name);
        s.Put(KSI_NODE_power_policies, {std::to_string(id)}, p);
    };
    const Value* policies = Sub(Sub(section, "power"), "policies");
    if (policies && policies->IsArray()) {
        for (const auto& p : policies->GetArray())
            putPolicy(static_cast<uint32_t>(Int(&p, "id")), Str(&p, "shortName"), Str(&p, "name"));
    } else {
        putPolicy(1, "static", "High Performance");
        putPolicy(2, "dynamic", "Balanced");
        putPolicy(3, "low", "Low Power");
        putPolicy(4, "custom", "Custom");
    }
}

void InitHardware(KernelState& s, const Value* section) {
    InstallHwData(section);
    const Value* dmi = Sub(section, "dmi");
    DmiInfo d{};
    CopyText(d.productName, sizeof d.productName, Str(dmi, "product"));
    CopyText(d.vendorName, sizeof d.vendorName, Str(dmi, "vendor"));
    CopyText(d.serialNumber, sizeof d.serialNumber, Str(dmi, "serial"));
    CopyText(d.biosVendor, sizeof d.biosVendor, Str(dmi, "biosVendor"));
    CopyText(d.biosVersion, sizeof d.biosVersion, Str(dmi, "biosVersion"));
    CopyText(d.biosReleaseDate, sizeof d.biosReleaseDate, Str(dmi, "biosDate"));
    ParseUuid(Str(dmi, "uuid"), d.uuid);
    s.Put(KSI_NODE_hardware_bios_dmiInfo, {}, d);

    if (const Value* boot = Sub(section, "bootOrder"); boot && boot->IsArray()) {
        UefiBootOrder order{};
        for (const auto& e : boot->GetArray()) {
            if (order.count >= kMaxBootEntries) break;
            uint16_t id = static_cast<uint16_t>(Int(&e, "id"));
            order.entries[order.count++] = id;
            UefiBootEntry entry{};
            CopyText(entry.description, sizeof entry.description, Str(&e, "description"));
            s.Put(KSI_NODE_uefi_variable, {BootKey(id)}, entry);
        }
        // The firmware keeps its variables across a reboot: an order written
        // before wins over the factory one, as long as it names only entries
        // the machine still has.
        UefiBootOrder saved{};
        if (ParseNvramOrder(s.GetAreaValue(kNvram, kBootOrderVar), &saved) && NamesOnlyEntries(s, saved))
            order = saved;
        s.Put(KSI_NODE_uefi_variable, {kBootOrderVar}, order);
    }

    const Value* cpu = Sub(section, "cpu");
    CpuInfo ci{};
    ci.numPackages = static_cast<uint32_t>(Int(cpu, "packages", 1));
    ci.numCores = ci.numPackages * static_cast<uint32_t>(Int(cpu, "coresPerPackage", 4));
    uint32_t threadsPerCore = static_cast<uint32_t>(Int(cpu, "threadsPerCore", 1));
    ci.numThreads = ci.numCores * threadsPerCore;
    ci.htSupported = threadsPerCore > 1;
    ci.htActive = threadsPerCore > 1;
    ci.htMitigated = static_cast<uint32_t>(Int(cpu, "htMitigated", 0));
    ci.hvSupport = static_cast<uint32_t>(Int(cpu, "hvSupport", 3));
    if (const Value* id = Sub(cpu, "cpuid"); id && id->IsArray())
        for (rapidjson::SizeType i = 0; i < id->Size() && i < 4; ++i)
            ci.cpuid[i] = (*id)[i].IsUint() ? (*id)[i].GetUint() : 0;
    s.Put(KSI_NODE_hardware_cpu_cpuInfo, {}, ci);
    std::string model = Str(cpu, "model", "Generic x86-64 CPU");
    s.Write("", KSI_NODE_hardware_cpu_cpuModelName, {}, model.c_str(), model.size() + 1);
    uint32_t perPackage = ci.numPackages ? ci.numThreads / ci.numPackages : 0;
    for (uint32_t p = 0; p < ci.numPackages; ++p) s.Put(KSI_NODE_hardware_cpu_packageList, {std::to_string(p)}, p);
    for (uint32_t t = 0; t < ci.numThreads; ++t) {
        Cpu c{t, perPackage ? t / perPackage : 0, t / threadsPerCore, t % threadsPerCore,
              static_cast<uint64_t>(Int(cpu, "mhz", 2000))};
        s.Put(KSI_NODE_hardware_cpu_cpuList, {std::to_string(t)}, c);
    }

    const Value* mem = Sub(section, "memory");
    const Value* numa = Sub(mem, "numa");
    MemInfo mi{static_cast<uint64_t>(Int(mem, "physicalBytes", 1ll << 34)),
               static_cast<uint64_t>(Int(mem, "reservedBytes", 0)),
               numa && numa->IsArray() ? numa->Size() : 1};
    s.Put(KSI_NODE_memory_memInfo, {}, mi);
    if (numa && numa->IsArray())
        for (const auto& n : numa->GetArray()) {
            NumaNode node{static_cast<uint32_t>(Int(&n, "id")), static_cast<uint64_t>(Int(&n, "bytes"))};
            s.Put(KSI_NODE_memory_nodeList, {std::to_string(node.id)}, node);
        }
    s.Put(KSI_NODE_memory_tieringType, {}, Tiering(Str(mem, "tiering", "noTiering")));
    if (const Value* tiers = Sub(mem, "tiers"); tiers && tiers->IsArray()) {
        uint32_t i = 0;
        for (const auto& t : tiers->GetArray()) {
            MemoryTier tier{TierType(Str(&t, "type")), Media(Str(&t, "media")), static_cast<uint64_t>(Int(&t, "bytes"))};
            s.Put(KSI_NODE_memory_tiers_info, {std::to_string(i++)}, tier);
        }
    }

    InitBmcAndSecurity(s, section);
    InitDevicesAndPolicies(s, section);

    const Value* power = Sub(section, "power");
    s.Put(KSI_NODE_power_currentPolicy, {}, static_cast<uint32_t>(Int(power, "policy", 1)));
    s.Put(KSI_NODE_power_hardwareSupport, {}, static_cast<uint32_t>(Int(power, "hardwareSupport", 0)));
    s.Put(KSI_NODE_timer_info, {},
          TimerInfo{static_cast<uint64_t>(Int(section, "uptimeMicros", 0)), static_cast<uint64_t>(Int(section, "tscHz", 2993000000ll))});
}

// The boot order is written whole; every entry must name an existing Boot#### variable.
const NodeRegistration rUefi(KSI_NODE_uefi_variable, [] {
    NodeHandler h;
    h.setStruct = [](Call& c, const void* buffer, unsigned int length) {
        if (c.instance != InstancePath{"BootOrder"}) return TARN_NOT_SUPPORTED;
        if (!c.state.Has("", c.node, c.instance)) return TARN_NOT_SUPPORTED;
        if (length != sizeof(UefiBootOrder)) return TARN_BAD_PARAM;
        UefiBootOrder order{};
        std::memcpy(&order, buffer, sizeof order);
        if (order.count > kMaxBootEntries || !NamesOnlyEntries(c.state, order)) return TARN_BAD_PARAM;
        c.state.Put(c.node, c.instance, order);
        c.state.SetAreaValue(kNvram, kBootOrderVar, NvramOrderText(order));
        return TARN_OK;
    };
    return h;
}());

// Writes texts into the BMC's record and its flash; `fields` pairs a flash key with its record field.
TARN_ReturnStatus SetBmcTexts(Call& c, std::initializer_list<std::pair<const char*, std::pair<char*, size_t>>> fields,
                              BmcInfo& b) {
    size_t i = 0;
    for (const auto& [key, field] : fields) {
        std::string text;
        if (!c.InputText(i++, &text)) return TARN_MISSING_PARAMETER;
        if (text.size() >= field.second) return TARN_BAD_PARAM;
        CopyText(field.first, field.second, text);
        c.state.SetAreaValue(kBmcFlash, key, text);
    }
    c.state.Put(KSI_NODE_hardware_bmc_info, {}, b);
    return TARN_OK;
}

const NodeRegistration rBmcOs(KSI_NODE_hardware_bmc_osInfo, [] {
    NodeHandler h;
    h.set = [](Call& c) -> TARN_ReturnStatus {
        BmcInfo b{};
        if (!c.state.Read(KSI_NODE_hardware_bmc_info, {}, &b) || !b.present) return TARN_NOT_SUPPORTED;
        return SetBmcTexts(c, {{"osName", {b.osName, sizeof b.osName}}, {"osVersion", {b.osVersion, sizeof b.osVersion}}},
                           b);
    };
    return h;
}());

const NodeRegistration rBmcHostname(KSI_NODE_hardware_bmc_hostname, [] {
    NodeHandler h;
    h.set = [](Call& c) -> TARN_ReturnStatus {
        BmcInfo b{};
        if (!c.state.Read(KSI_NODE_hardware_bmc_info, {}, &b) || !b.present) return TARN_NOT_SUPPORTED;
        if (c.state.GetAreaValue("hardware", "bmcStaleHostname") == "1") {
            std::string ignored;
            return c.InputText(0, &ignored) ? TARN_OK : TARN_MISSING_PARAMETER;  // accepted, never cached
        }
        return SetBmcTexts(c, {{"hostname", {b.hostname, sizeof b.hostname}}}, b);
    };
    return h;
}());

const AreaRegistration area({.name = "hardware", .order = 12, .init = InitHardware});

}  // namespace

}  // namespace TarnSim
