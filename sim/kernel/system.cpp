// The simulated kernel's system and hardware-fact nodes, filled from the
// "system" profile section: boot facts, version, clock, UUIDs, IOMMU, IPMI
// and dump facts, kernel log levels, maintenance mode, clock discipline
// limits and the read-cache switch. Writes are checked as the kernel checks
// them; a refusal changes nothing.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include <rapidjson/document.h>

#include "hostctl/status.h"
#include "ksi/system.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "sim/kernel.h"
#include "../programs/system_daemons.h"

namespace TarnSim {

namespace {

using Value = rapidjson::Value;

std::string Str(const Value* o, const char* key, const char* fallback = "") {
    if (!o || !o->IsObject()) return fallback;
    auto it = o->FindMember(key);
    return it != o->MemberEnd() && it->value.IsString() ? it->value.GetString() : fallback;
}
int64_t Int(const Value* o, const char* key, int64_t fallback = 0) {
    if (!o || !o->IsObject()) return fallback;
    auto it = o->FindMember(key);
    return it != o->MemberEnd() && it->value.IsInt64() ? it->value.GetInt64() : fallback;
}
bool Bool(const Value* o, const char* key, bool fallback = false) {
    if (!o || !o->IsObject()) return fallback;
    auto it = o->FindMember(key);
    return it != o->MemberEnd() && it->value.IsBool() ? it->value.GetBool() : fallback;
}
const Value* Sub(const Value* o, const char* key) {
    if (!o || !o->IsObject()) return nullptr;
    auto it = o->FindMember(key);
    return it != o->MemberEnd() ? &it->value : nullptr;
}

void PutText(KernelState& s, uint32_t node, const std::string& text, size_t limit) {
    std::string bytes = text.substr(0, limit);
    s.Write("", node, {}, bytes.c_str(), bytes.size() + 1);
}
void PutU32(KernelState& s, uint32_t node, int64_t value, const InstancePath& instance = {}) {
    s.Put(node, instance, static_cast<uint32_t>(value));
}
void CopyText(char* out, size_t size, const std::string& text) {
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min(text.size(), size - 1));
}

// Parses "8-4-4-4-12" hex text; false for anything else.
bool ParseUuid(const std::string& text, Ksi::System::Uuid* out) {
    if (text.size() != 36) return false;
    size_t b = 0;
    for (size_t i = 0; i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (text[i++] != '-') return false;
            continue;
        }
        auto hex = [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; };
        if (!hex(text[i]) || !hex(text[i + 1])) return false;
        out->bytes[b++] = static_cast<uint8_t>(std::stoi(text.substr(i, 2), nullptr, 16));
        i += 2;
    }
    return b == 16;
}

uint32_t MaintenanceState(const std::string& text) {
    if (text == "enabled") return 1;
    if (text == "disabled") return 2;
    if (text == "none") return 0;
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

uint32_t IommuType(const std::string& text) {
    if (text == "none") return 0;
    if (text == "intel-vtd") return 1;
    if (text == "amd-vi") return 2;
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

uint32_t DmaPolicy(const std::string& text) {
    if (text == "default") return 0;
    if (text == "strict") return 1;
    if (text == "relaxed") return 2;
    return static_cast<uint32_t>(std::strtoul(text.c_str(), nullptr, 10));
}

// The host's keymap set: each archive of the section's list is copied byte
// for byte from the build machine's keymap package into /usr/share/keymaps
// under the host root, and /usr/share/keymaps/list names them. Missing
// archives are skipped with a warning, so a machine without the package
// simply offers fewer layouts.
void InstallKeymaps(const Value* section) {
    const Value* keymaps = Sub(section, "keymaps");
    if (!keymaps || !keymaps->IsArray()) return;
    std::string sourceDir = Str(section, "keymapSource", "/usr/share/keymaps");
    std::string list;
    for (const auto& k : keymaps->GetArray()) {
        std::string layout = Str(&k, "layout"), source = Str(&k, "source");
        if (layout.empty() || source.empty() || source.find("..") != std::string::npos) continue;
        std::ifstream in(sourceDir + "/" + source, std::ios::binary);
        std::ostringstream bytes;
        if (!in.is_open() || !(bytes << in.rdbuf())) {
            TarnCtl_LogWarnInt("%s: Keymap archive %s/%s not found, layout %s left out\n", "TarnSim",
                               sourceDir.c_str(), source.c_str(), layout.c_str());
            continue;
        }
        std::string file = source.substr(source.rfind('/') + 1);
        HostCtl::Misc::WriteHostFileAtomic("/usr/share/keymaps/" + file, bytes.str());
        list += layout + " " + file + "\n";
    }
    HostCtl::Misc::WriteHostFileAtomic("/usr/share/keymaps/list", list);
}

// The alternate boot bank holds the build installed before the running one.
void InstallAltBootSlot(const Value* section) {
    std::string build = Str(section, "altBootBuild");
    if (build.empty()) return;
    HostCtl::Misc::WriteHostFileAtomic("/altbootslot/boot.cfg",
                                       "bootstate=0\ntitle=Loading Quillon Halden\nkernel=/b.b00\nbuild=" + build +
                                           "\nupdated=1\n");
}

void InitSystem(KernelState& s, const Value* section) {
    InstallKeymaps(section);
    InstallAltBootSlot(section);
    StartSystemDaemons(s);
    PutText(s, KSI_NODE_system_bootMAC, Str(section, "bootMAC"), Ksi::System::kMacTextLength - 1);
    PutText(s, KSI_NODE_system_statelessBootMAC, Str(section, "statelessBootMAC"), Ksi::System::kMacTextLength - 1);
    PutText(s, KSI_NODE_system_bootFsUUID, Str(section, "bootFsUUID"), Ksi::System::kBootFsUuidLength - 1);
    PutText(s, KSI_NODE_system_bootCmdLine, Str(section, "bootCmdLine"), Ksi::System::kBootCmdLineLength - 1);
    PutU32(s, KSI_NODE_system_bootFailure, Bool(section, "bootFailure"));

    const Value* options = Sub(section, "bootOptions");
    Ksi::System::BootOption bo{};
    bo.noAutoPartition = Bool(options, "noAutoPartition");
    bo.allowLegacyCpu = Bool(options, "allowLegacyCpu");
    bo.ignoreHeadless = Bool(options, "ignoreHeadless");
    s.Put(KSI_NODE_system_bootOption, {}, bo);

    // The running version: product texts from this section, numbers from the host's identity.
    const Value* version = Sub(section, "version");
    Ksi::System::Version v{};
    CopyText(v.product, sizeof(v.product), Str(version, "product", "Quillon Halden"));
    CopyText(v.version, sizeof(v.version), s.GetAreaValue("host", "version", "8.0.0"));
    CopyText(v.build, sizeof(v.build), s.GetAreaValue("host", "build", "1"));
    CopyText(v.release, sizeof(v.release), Str(version, "release", "Release"));
    CopyText(v.patch, sizeof(v.patch), Str(version, "patch", "0.0"));
    s.Put(KSI_NODE_system_version, {}, v);

    Ksi::System::Uuid uuid{};
    ParseUuid(s.GetAreaValue("host", "uuid"), &uuid);
    s.Put(KSI_NODE_system_systemUuid, {}, uuid);

    const Value* clock = Sub(section, "clock");
    Ksi::System::Rtc rtc{};
    rtc.month = static_cast<uint32_t>(Int(clock, "month", 1));
    rtc.day = static_cast<uint32_t>(Int(clock, "day", 1));
    rtc.year = static_cast<uint32_t>(Int(clock, "year", 2026));
    rtc.hour = static_cast<uint32_t>(Int(clock, "hour", 0));
    rtc.minute = static_cast<uint32_t>(Int(clock, "minute", 0));
    rtc.second = static_cast<uint32_t>(Int(clock, "second", 0));
    s.Put(KSI_NODE_hardware_chipset_rtc, {}, rtc);

    PutU32(s, KSI_NODE_system_maintenanceMode, MaintenanceState(Str(section, "maintenanceMode", "disabled")));

    const Value* iommu = Sub(section, "iommu");
    PutU32(s, KSI_NODE_hardware_iov_iommuType, IommuType(Str(iommu, "type", "intel-vtd")));
    PutU32(s, KSI_NODE_hardware_iov_DMAREnabled, Bool(iommu, "dmarEnabled", true));
    PutU32(s, KSI_NODE_hardware_iov_NestedCapable, Bool(iommu, "nested"));
    PutU32(s, KSI_NODE_hardware_iov_SLDirtyCapable, Bool(iommu, "slDirty"));
    PutU32(s, KSI_NODE_system_dma_policy, DmaPolicy(Str(section, "dmaPolicy", "default")));
    PutU32(s, KSI_NODE_hardware_ipmiSupport, Int(section, "ipmiSupport", 1));
    PutU32(s, KSI_NODE_hardware_apeiSupport, Bool(section, "apeiSupport", true));
    PutU32(s, KSI_NODE_hardware_ps2MousePassthruSupport, Bool(section, "ps2MousePassthru"));

    PutU32(s, KSI_NODE_system_supportedVMs, Int(section, "supportedVMs", 1024));
    const Value* limits = Sub(section, "vmLimits");
    Ksi::System::VmLimits vl{static_cast<uint32_t>(Int(limits, "maxVms", 1024)),
                             static_cast<uint32_t>(Int(limits, "maxVcpusPerVm", 768))};
    s.Put(KSI_NODE_system_vmLimits, {}, vl);
    s.Put(KSI_NODE_system_cbrc_perVmdkOverheadInBytes, {}, static_cast<int64_t>(Int(section, "cbrcOverheadPerVmdk", 0)));
    PutU32(s, KSI_NODE_system_cbrc_enable, 0);

    PutU32(s, KSI_NODE_system_debugging_debugTerminal, Bool(section, "debugTerminal"));
    PutU32(s, KSI_NODE_system_debugging_tarnosDumpEnabled, Bool(section, "tarnosDumpEnabled", true));
    PutU32(s, KSI_NODE_system_debugging_liveCoreDumpOnWorldPanic, 0);
    PutU32(s, KSI_NODE_userworld_global_coreDumpEnabled, Bool(section, "coreDumpEnabled", true));

    const Value* ntp = Sub(section, "ntpClock");
    s.Put(KSI_NODE_system_ntpclock_maxNegPhaseCorrection, {}, static_cast<int32_t>(Int(ntp, "maxNegPhaseCorrection", 500)));
    s.Put(KSI_NODE_system_ntpclock_maxPosPhaseCorrection, {}, static_cast<int32_t>(Int(ntp, "maxPosPhaseCorrection", 500)));
    s.Put(KSI_NODE_system_ntpclock_maxLargeCorrections, {}, static_cast<int32_t>(Int(ntp, "maxLargeCorrections", 4)));
    s.Put(KSI_NODE_system_ntpclock_numLargeCorrections, {}, static_cast<int32_t>(Int(ntp, "numLargeCorrections", 0)));

    const Value* levels = Sub(section, "logLevels");
    if (levels && levels->IsArray())
        for (const auto& l : levels->GetArray()) {
            std::string name = Str(&l, "name");
            if (name.empty()) continue;
            Ksi::System::LogLevel rec{static_cast<uint32_t>(Int(&l, "level")), static_cast<uint32_t>(Int(&l, "default"))};
            s.Put(KSI_NODE_system_loglevels, {name}, rec);
        }
}

// A flag or small number written as one integer input.
TARN_ReturnStatus SetU32(Call& c, int64_t lo, int64_t hi) {
    int64_t v = 0;
    if (!c.InputInt(0, &v)) return TARN_MISSING_PARAMETER;
    if (v < lo || v > hi) return TARN_BAD_PARAM;
    c.state.Put(c.node, c.instance, static_cast<uint32_t>(v));
    return TARN_OK;
}

NodeHandler FlagNode() {
    NodeHandler h;
    h.set = [](Call& c) { return SetU32(c, 0, 1); };
    return h;
}

// A clock discipline limit: a signed 32-bit count, never negative.
NodeHandler LimitNode() {
    NodeHandler h;
    h.set = [](Call& c) {
        int64_t v = 0;
        if (!c.InputInt(0, &v)) return TARN_MISSING_PARAMETER;
        if (v < 0 || v > INT32_MAX) return TARN_BAD_PARAM;
        c.state.Put(c.node, {}, static_cast<int32_t>(v));
        return TARN_OK;
    };
    return h;
}

const NodeRegistration rDebugTerminal(KSI_NODE_system_debugging_debugTerminal, FlagNode());
const NodeRegistration rTarnosDump(KSI_NODE_system_debugging_tarnosDumpEnabled, FlagNode());
const NodeRegistration rLiveDumpPanic(KSI_NODE_system_debugging_liveCoreDumpOnWorldPanic, FlagNode());
const NodeRegistration rCoreDump(KSI_NODE_userworld_global_coreDumpEnabled, FlagNode());
const NodeRegistration rNegPhase(KSI_NODE_system_ntpclock_maxNegPhaseCorrection, LimitNode());
const NodeRegistration rPosPhase(KSI_NODE_system_ntpclock_maxPosPhaseCorrection, LimitNode());
const NodeRegistration rLargeCorrections(KSI_NODE_system_ntpclock_maxLargeCorrections, LimitNode());

bool IsWorld(const InstancePath& instance) {
    return instance.size() == 1 && !instance[0].empty() &&
           instance[0].find_first_not_of("0123456789") == std::string::npos;
}

const NodeRegistration rWorldCoreDump(KSI_NODE_userworld_cartel_debug_coreDumpEnabled, [] {
    NodeHandler h;
    h.get = [](Call& c, void* buffer, unsigned int length) {
        if (!IsWorld(c.instance)) return TARN_NOT_FOUND;
        // A world that never had its switch set follows the global switch.
        uint32_t value = 0;
        if (!c.state.Read(c.node, c.instance, &value)) c.state.Read(KSI_NODE_userworld_global_coreDumpEnabled, {}, &value);
        std::memcpy(buffer, &value, std::min<size_t>(length, sizeof(value)));
        return TARN_OK;
    };
    h.set = [](Call& c) { return IsWorld(c.instance) ? SetU32(c, 0, 1) : TARN_NOT_FOUND; };
    return h;
}());

const NodeRegistration rLiveDumpWorld(KSI_NODE_world_livedumptarnos, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        std::string text;
        if (!IsWorld(c.instance)) return TARN_NOT_FOUND;
        if (!c.InputText(0, &text)) return TARN_MISSING_PARAMETER;
        if (text != "enabled" && text != "disabled") return TARN_BAD_PARAM;
        c.state.Write("", c.node, c.instance, text.c_str(), text.size() + 1);
        return TARN_OK;
    };
    return h;
}());

const NodeRegistration rLiveDump(KSI_NODE_system_debugging_performLiveCoreDump, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        int64_t world = 0;
        if (!c.InputInt(0, &world)) return TARN_MISSING_PARAMETER;
        if (world < 0 || world > UINT32_MAX) return TARN_BAD_PARAM;
        c.state.Put(c.node, {}, static_cast<uint32_t>(world));
        return TARN_OK;
    };
    return h;
}());

const NodeRegistration rMaintenance(KSI_NODE_system_maintenanceMode, [] {
    NodeHandler h;
    h.set = [](Call& c) { return SetU32(c, 1, 2); };
    return h;
}());

// Six integer inputs: month, day, year, hour, minute, second.
const NodeRegistration rRtc(KSI_NODE_hardware_chipset_rtc, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        if (c.InputCount() != 6) return TARN_MISSING_PARAMETER;
        int64_t v[6];
        for (size_t i = 0; i < 6; ++i)
            if (!c.InputInt(i, &v[i]) || v[i] < 0 || v[i] > UINT32_MAX) return TARN_BAD_PARAM;
        Ksi::System::Rtc rtc{static_cast<uint32_t>(v[0]), static_cast<uint32_t>(v[1]), static_cast<uint32_t>(v[2]),
                             static_cast<uint32_t>(v[3]), static_cast<uint32_t>(v[4]), static_cast<uint32_t>(v[5])};
        if (rtc.month < 1 || rtc.month > 12 || rtc.day < 1 || rtc.day > 31 || rtc.hour > 23 || rtc.minute > 59 ||
            rtc.second > 59)
            return TARN_BAD_PARAM;
        c.state.Put(c.node, {}, rtc);
        return TARN_OK;
    };
    return h;
}());

// Sixteen integer inputs, one per byte.
const NodeRegistration rSystemUuid(KSI_NODE_system_systemUuid, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        if (c.InputCount() != 16) return TARN_MISSING_PARAMETER;
        Ksi::System::Uuid u{};
        for (size_t i = 0; i < 16; ++i) {
            int64_t b = 0;
            if (!c.InputInt(i, &b) || b < 0 || b > 255) return TARN_BAD_PARAM;
            u.bytes[i] = static_cast<uint8_t>(b);
        }
        c.state.Put(c.node, {}, u);
        return TARN_OK;
    };
    return h;
}());

// Every read hands out a fresh random (version 4) UUID.
const NodeRegistration rGenerateUuid(KSI_NODE_system_generateUuid, [] {
    NodeHandler h;
    h.get = [](Call&, void* buffer, unsigned int length) {
        static thread_local std::mt19937_64 rng{std::random_device{}()};
        Ksi::System::Uuid u{};
        for (auto& b : u.bytes) b = static_cast<uint8_t>(rng());
        u.bytes[6] = static_cast<uint8_t>((u.bytes[6] & 0x0f) | 0x40);
        u.bytes[8] = static_cast<uint8_t>((u.bytes[8] & 0x3f) | 0x80);
        std::memcpy(buffer, &u, std::min<size_t>(length, sizeof(u)));
        return TARN_OK;
    };
    return h;
}());

const NodeRegistration rLogLevels(KSI_NODE_system_loglevels, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        Ksi::System::LogLevel rec{};
        if (c.instance.size() != 1 || !c.state.Read(c.node, c.instance, &rec)) return TARN_NOT_FOUND;
        int64_t level = 0;
        if (!c.InputInt(0, &level)) return TARN_MISSING_PARAMETER;
        if (level < 0 || level > UINT32_MAX) return TARN_BAD_PARAM;
        rec.level = static_cast<uint32_t>(level);
        c.state.Put(c.node, c.instance, rec);
        return TARN_OK;
    };
    return h;
}());

const NodeRegistration rSysAlert(KSI_NODE_system_sysAlert, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        std::string text;
        if (!c.InputText(0, &text)) return TARN_MISSING_PARAMETER;
        c.state.Write("", c.node, {}, text.c_str(), text.size() + 1);
        return TARN_OK;
    };
    return h;
}());

// The read cache: switched only while its module is loaded, and only to the other state.
const NodeRegistration rCbrc(KSI_NODE_system_cbrc_enable, [] {
    NodeHandler h;
    h.set = [](Call& c) {
        int64_t v = 0;
        if (!c.InputInt(0, &v)) return TARN_MISSING_PARAMETER;
        auto modules = c.state.Instances("", KSI_NODE_system_modules);
        if (std::find(modules.begin(), modules.end(), "cbrc_filter_2") == modules.end())
            return TARN_MODULE_NOT_LOADED;
        uint32_t current = 0;
        c.state.Read(c.node, {}, &current);
        if (v != 0 && current != 0) return TARN_ALREADY_ENABLED;
        c.state.Put(c.node, {}, static_cast<uint32_t>(v != 0));
        return TARN_OK;
    };
    return h;
}());

const AreaRegistration systemArea({
    .name = "system",
    .order = 10,
    .init = InitSystem,
    .generate = {},
    .options = {},
});

}  // namespace
}  // namespace TarnSim
