// The simulated native multipathing plug-in ("nmp" module): its SATPs and
// PSPs, the SATP claim rules that pick a device's SATP (whose default PSP the
// device gets), path groups with state and priority, and the working path set
// each policy chooses. Dead paths move I/O: the most-recently-used and fixed
// policies fail over to another live path, fixed fails back to its preferred
// path when that returns. An optional "nmp" profile section adds SATP rules.
#include <algorithm>
#include <cerrno>
#include <optional>
#include <cstring>
#include <map>

#include <rapidjson/document.h>

#include "hostctl/status.h"
#include "ksi/nmp.h"
#include "ksi/storage.h"
#include "sim/kernel.h"
#include "sim/storage_paths.h"
#include "storage_model.h"

namespace TarnSim::StorageModel {

namespace {

// The simulation's own per-path facts (group, priority, the plug-in its claim
// rule names, state-change refusal), kept with the device's other records.
enum : uint32_t { kPathFlagsNode = 3, kLivePathsNode = 4 };
struct PathFlags {
    uint32_t optimized;
    uint32_t priority;
    uint32_t stateStatus;
    char plugin[32];
};

template <size_t N>
std::string Text(const char (&field)[N]) {
    return std::string(field, strnlen(field, N));
}
template <size_t N>
void Set(char (&out)[N], const std::string& text) {
    std::memset(out, 0, N);
    std::memcpy(out, text.data(), std::min(text.size(), N - 1));
}
std::string Trim(std::string s) {
    while (!s.empty() && s.back() == ' ')
        s.pop_back();
    return s;
}

const char* const kFixed = "QUIL_PSP_FIXED";
const char* const kRr = "QUIL_PSP_RR";
const char* const kMru = "QUIL_PSP_MRU";

struct SatpRow {
    const char* name;
    const char* defaultPsp;
    const char* description;
    bool deviceConfig, pathConfig;
};
const SatpRow kSatps[] = {
    {"QUIL_SATP_ALUA_CX", kRr, "Supports EMC CX that use the ALUA protocol", true, true},
    {"QUIL_SATP_CX", kMru, "Supports EMC CX that do not use the ALUA protocol", true, false},
    {"QUIL_SATP_ALUA", kMru, "Supports non-specific arrays that use the ALUA protocol", true, true},
    {"QUIL_SATP_MSA", kMru, "Placeholder (plugin not loaded)", false, false},
    {"QUIL_SATP_DEFAULT_AP", kMru, "Supports non-specific active/passive arrays", false, false},
    {"QUIL_SATP_SVC", kFixed, "Supports IBM SVC", false, false},
    {"QUIL_SATP_EQL", kFixed, "Supports EqualLogic arrays", false, false},
    {"QUIL_SATP_INV", kFixed, "Supports EMC Invista", true, false},
    {"QUIL_SATP_EVA", kFixed, "Supports HP EVA", false, false},
    {"QUIL_SATP_SYMM", kRr, "Supports EMC Symmetrix", false, false},
    {"QUIL_SATP_LSI", kMru, "Supports LSI and other arrays compatible with the SIS 6.10 in non-AVT mode", false,
     false},
    {"QUIL_SATP_DEFAULT_AA", kFixed, "Supports non-specific active/active arrays", false, false},
    {"QUIL_SATP_LOCAL", kFixed, "Supports direct attached devices", true, false},
};

struct PspRow {
    const char* name;
    const char* description;
    bool options;
};
const PspRow kPsps[] = {
    {kFixed, "Fixed Path Selection", false},
    {kRr, "Round Robin Path Selection", true},
    {kMru, "Most Recently Used Path Selection", false},
};

// The system rules: vendor/model first, then transport.
struct RuleRow {
    const char* satp;
    const char* vendor;
    const char* model;
    const char* transport;
};
const RuleRow kSystemRules[] = {
    {"QUIL_SATP_ALUA_CX", "DGC", "", ""},       {"QUIL_SATP_SYMM", "TARNARR", "", ""},
    {"QUIL_SATP_SYMM", "EMC", "SYMMETRIX", ""}, {"QUIL_SATP_EQL", "EQLOGIC", "", ""},
    {"QUIL_SATP_EVA", "HP", "HSV", ""},         {"QUIL_SATP_MSA", "HP", "MSA", ""},
    {"QUIL_SATP_SVC", "IBM", "2145", ""},       {"QUIL_SATP_LSI", "LSI", "", ""},
    {"QUIL_SATP_INV", "EMC", "Invista", ""},
    {"QUIL_SATP_LOCAL", "", "", "usb"},         {"QUIL_SATP_LOCAL", "", "", "sas"},
    {"QUIL_SATP_LOCAL", "", "", "sata"},        {"QUIL_SATP_LOCAL", "", "", "block"},
    {"QUIL_SATP_LOCAL", "", "", "parallel"},    {"QUIL_SATP_LOCAL", "", "", "ide"},
    {"QUIL_SATP_LOCAL", "", "", "pcie"},
};

bool HasDevice(const KernelState& s, const std::string& uid) {
    return s.Has(kNmpModule, KSI_NMP_NODE_DEVICE, {uid});
}

KsiNmpDeviceInfo ReadDevice(const KernelState& s, const std::string& uid) {
    KsiNmpDeviceInfo d{};
    s.Read(kNmpModule, KSI_NMP_NODE_DEVICE, {uid}, &d);
    return d;
}

uint32_t CoreState(const KernelState& s, const std::string& path) {
    KsiStorageValue v{2};
    s.Read(KSI_NODE_storage_scsifw_paths_state, {path}, &v);
    return v.value;
}

// Each claimed path of a device with its live state and group, in path
// order, kept in one record of the device: a walk of the device's paths reads
// that one record (next to the device's other records in listing order)
// instead of a listing plus a state and a group lookup per path, which on a
// host with a hundred thousand paths would each miss the cache. Kept with the
// kernel's records, so every process and a reboot see the same copy; every
// change of a path's state or of the device's claimed paths rebuilds it
// (RefreshLivePaths).
struct LivePathHead {
    uint32_t state;
    uint16_t optimized;
    uint16_t nameLength;
};

// The device's paths as the plug-in's records give them.
std::string BuildLivePaths(const KernelState& s, const std::string& uid) {
    std::string block;
    for (const auto& p : s.Instances(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, {uid})) {
        KsiNmpPathInfo info{};
        s.Read(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, {uid, p}, &info);
        const LivePathHead head{CoreState(s, p), static_cast<uint16_t>(info.optimized != 0),
                                static_cast<uint16_t>(std::min<size_t>(p.size(), 0xffff))};
        block.append(reinterpret_cast<const char*>(&head), sizeof head).append(p, 0, head.nameLength);
    }
    return block;
}

// After any change of the device's claimed paths or of one's state; a
// device without claimed paths keeps none.
void RefreshLivePaths(KernelState& s, const std::string& uid) {
    const std::string block = BuildLivePaths(s, uid);
    if (block.empty())
        s.Remove(kModule, kLivePathsNode, {uid});
    else
        s.Write(kModule, kLivePathsNode, {uid}, block.data(), block.size());
}

// A read of one device's kept paths; it views the copy KernelState::Find
// hands out, so it lives only while few other records are found.
class LivePaths {
public:
    struct Path {
        std::string_view name;
        uint32_t state;
        bool optimized;
        bool Alive() const { return state == 0; }
    };
    // `device`: {uid}. A state written before the copy was kept has none:
    // the paths then come from the plug-in's records.
    LivePaths(const KernelState& s, const InstancePath& device) {
        if (const std::string* kept = s.Find(kModule, kLivePathsNode, device))
            _block = *kept;
        else
            _block = _built = BuildLivePaths(s, device.at(0));
    }
    template <typename Fn>
    void ForEach(Fn&& fn) const {
        size_t at = 0;
        while (at + sizeof(LivePathHead) <= _block.size()) {
            LivePathHead head;
            std::memcpy(&head, _block.data() + at, sizeof head);
            at += sizeof head;
            const size_t length = std::min<size_t>(head.nameLength, _block.size() - at);
            fn(Path{_block.substr(at, length), head.state, head.optimized != 0});
            at += length;
        }
    }
    // Whether `path` is one of the device's paths and lives.
    bool Alive(std::string_view path) const {
        bool alive = false;
        ForEach([&](const Path& p) { alive = alive || (p.name == path && p.Alive()); });
        return alive;
    }
    // The first live path, optimized ones before the others; "" when none lives.
    std::string FirstLive() const {
        std::string_view optimized, unoptimized;
        ForEach([&](const Path& p) {
            if (!p.Alive())
                return;
            if (p.optimized && optimized.empty())
                optimized = p.name;
            if (unoptimized.empty())
                unoptimized = p.name;
        });
        return std::string(optimized.empty() ? unoptimized : optimized);
    }

private:
    std::string _built;
    std::string_view _block;
};

std::vector<std::string> WorkingPaths(const KernelState& s, const InstancePath& device, const KsiNmpDeviceInfo& d) {
    const LivePaths live(s, device);
    const std::string psp = Text(d.psp);
    if (psp == kRr) {
        std::vector<std::string> optimized, other;
        live.ForEach([&](const LivePaths::Path& p) {
            if (p.Alive())
                (p.optimized ? optimized : other).emplace_back(p.name);
        });
        if (d.useANO || optimized.empty())
            optimized.insert(optimized.end(), std::make_move_iterator(other.begin()),
                             std::make_move_iterator(other.end()));
        return optimized;
    }
    const std::string preferred = Text(d.preferred);
    if (psp == kFixed && !preferred.empty() && live.Alive(preferred))
        return {preferred};
    const std::string current = Text(d.current);
    if (!current.empty() && live.Alive(current))
        return {current};
    std::string first = live.FirstLive();
    if (first.empty())
        return {};
    return {first};
}

// `working`: the device's working paths when the caller has them already;
// only the fixed and most-recently-used texts name a path, so round robin
// never walks the paths here.
std::string RenderPspConfig(const KernelState& s, const InstancePath& device, const KsiNmpDeviceInfo& d,
                            const std::vector<std::string>* working = nullptr) {
    const std::string psp = Text(d.psp);
    std::string current;
    if (psp == kFixed || psp == kMru) {
        if (working)
            current = working->empty() ? "" : working->front();
        else if (auto paths = WorkingPaths(s, device, d); !paths.empty())
            current = paths.front();
    }
    if (psp == kFixed)
        return "{preferred=" + (d.preferred[0] ? Text(d.preferred) : std::string("none")) + ";current=" +
               (current.empty() ? "none" : current) + "}";
    if (psp == kRr) {
        static const char* const kPolicies[] = {"iops", "bytes", "latency"};
        return "{policy=" + std::string(kPolicies[std::min<uint32_t>(d.rrPolicy, 2)]) +
               ",iops=" + std::to_string(d.iops) + ",bytes=" + std::to_string(d.bytes) +
               ",useANO=" + std::to_string(d.useANO) + ";latencyEvalTime=" + std::to_string(d.latencyEvalTime) +
               ",samplingCycles=" + std::to_string(d.samplingCycles) + "}";
    }
    if (psp != kMru)
        return Text(d.thirdPartyConfig);
    return "{current=" + (current.empty() ? std::string("none") : current) + "}";
}

// Keeps the most recently used path on a live one of the device and
// re-renders the PSP's text. The device's kept paths must be current.
void Save(KernelState& s, const std::string& uid, KsiNmpDeviceInfo& d) {
    const InstancePath device{uid};
    const LivePaths live(s, device);
    if (!live.Alive(Text(d.current)))
        Set(d.current, live.FirstLive());
    Set(d.pspConfig, RenderPspConfig(s, device, d));
    s.Put(kNmpModule, KSI_NMP_NODE_DEVICE, device, d);
}

void ResetPspSettings(KsiNmpDeviceInfo& d) {
    Set(d.preferred, "");
    Set(d.thirdPartyConfig, "");
    d.rrPolicy = KSI_NMP_RR_IOPS;
    d.iops = 1000;
    d.bytes = 10485760;
    d.useANO = 0;
    d.latencyEvalTime = 180000;
    d.samplingCycles = 16;
}

std::string SatpDefaultPsp(const KernelState& s, const std::string& satp) {
    KsiNmpSatpInfo info{};
    s.Read(kNmpModule, KSI_NMP_NODE_SATPS, {satp}, &info);
    return Text(info.defaultPsp);
}

struct DeviceFacts {
    std::string uid, vendor, model, driver, transport;
    bool local = false;
};

DeviceFacts Facts(const KernelState& s, const std::string& uid, const std::string& path) {
    DeviceFacts f;
    f.uid = uid;
    KsiStorageDeviceInfo info{};
    s.Read(KSI_NODE_storage_scsifw_devices_info, {uid}, &info);
    f.vendor = Trim(Text(info.vendor));
    f.model = Trim(Text(info.model));
    f.local = (info.flags & KSI_DEVICE_LOCAL) != 0;
    KsiStoragePathInfo p{};
    s.Read(KSI_NODE_storage_scsifw_paths_info, {path}, &p);
    KsiStorageAdapterInfo a{};
    s.Read(KSI_NODE_storage_scsifw_adapters_info, {Text(p.adapter)}, &a);
    f.driver = Text(a.driver);
    f.transport = a.transport ? TransportText(a.transport) : "";
    return f;
}

bool VendorModelMatch(const std::string& ruleVendor, const std::string& ruleModel, const DeviceFacts& f) {
    if (ruleVendor.empty() && ruleModel.empty())
        return false;
    if (!ruleVendor.empty() && ruleVendor != f.vendor)
        return false;
    return ruleModel.empty() || f.model.rfind(ruleModel, 0) == 0;
}

// The SATP (and a rule's PSP, if it names one) the claim rules give a device:
// rules added by users before the system's, device before vendor/model before
// driver before transport; an unmatched device gets the local or the
// active/active SATP.
std::pair<std::string, std::string> ChooseSatp(const KernelState& s, const DeviceFacts& f) {
    struct Hit {
        int rank;
        std::string satp, psp;
    };
    std::optional<Hit> best;
    auto consider = [&](int rank, const std::string& satp, const std::string& psp) {
        if (!best || rank < best->rank)
            best = Hit{rank, satp, psp};
    };
    for (const auto& satp : s.Instances(kNmpModule, KSI_NMP_NODE_SATP_RULES)) {
        for (const auto& n : s.Instances(kNmpModule, KSI_NMP_NODE_SATP_RULES, {satp})) {
            KsiNmpSatpRule r{};
            s.Read(kNmpModule, KSI_NMP_NODE_SATP_RULES, {satp, n}, &r);
            const std::string psp = Text(r.defaultPsp);
            if (r.uid[0] && Text(r.uid) == f.uid)
                consider(0, satp, psp);
            else if (VendorModelMatch(Text(r.vendor), Text(r.model), f))
                consider(1, satp, psp);
            else if (r.driver[0] && Text(r.driver) == f.driver)
                consider(2, satp, psp);
            else if (r.transport[0] && Text(r.transport) == f.transport)
                consider(3, satp, psp);
        }
    }
    if (best)
        return {best->satp, best->psp};
    for (const auto& r : kSystemRules)
        if (VendorModelMatch(r.vendor, r.model, f))
            return {r.satp, ""};
    if (f.local)
        return {"QUIL_SATP_LOCAL", ""};
    for (const auto& r : kSystemRules)
        if (*r.transport && f.transport == r.transport)
            return {r.satp, ""};
    return {"QUIL_SATP_DEFAULT_AA", ""};
}

// Puts a path under the native plug-in: the device's record (SATP, PSP) on
// its first path, then the path's group record.
void ClaimForNmp(KernelState& s, const std::string& uid, const std::string& path, const PathFlags& flags) {
    KsiNmpDeviceInfo d{};
    if (!HasDevice(s, uid)) {
        auto [satp, psp] = ChooseSatp(s, Facts(s, uid, path));
        Set(d.satp, satp);
        Set(d.psp, psp.empty() ? SatpDefaultPsp(s, satp) : psp);
        ResetPspSettings(d);
    } else {
        d = ReadDevice(s, uid);
    }
    KsiNmpPathInfo p{};
    p.optimized = flags.optimized;
    p.priority = flags.priority;
    s.Put(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, {uid, path}, p);
    RefreshLivePaths(s, uid);
    Save(s, uid, d);
}

void SetPathPlugin(KernelState& s, const std::string& path, const std::string& plugin) {
    KsiStoragePathInfo info{};
    s.Read(KSI_NODE_storage_scsifw_paths_info, {path}, &info);
    Set(info.plugin, plugin);
    s.Put(KSI_NODE_storage_scsifw_paths_info, {path}, info);
}

void SetDevicePlugin(KernelState& s, const std::string& uid, const std::string& plugin) {
    KsiStorageDeviceInfo info{};
    if (!s.Read(KSI_NODE_storage_scsifw_devices_info, {uid}, &info))
        return;
    Set(info.plugin, plugin);
    s.Put(KSI_NODE_storage_scsifw_devices_info, {uid}, info);
}

std::string PathDevice(const KernelState& s, const std::string& path) {
    KsiStoragePathInfo info{};
    s.Read(KSI_NODE_storage_scsifw_paths_info, {path}, &info);
    return Text(info.deviceUid);
}

// ---- Area: the plug-in's tables, and rules from the profile ------------------------

void InitNmp(KernelState& s, const rapidjson::Value* section) {
    s.Put(KSI_NODE_storage_scsifw_plugins, {"NMP"}, KsiStorageValue{1});
    for (const auto& row : kSatps) {
        KsiNmpSatpInfo info{};
        Set(info.name, row.name);
        Set(info.defaultPsp, row.defaultPsp);
        Set(info.description, row.description);
        info.deviceConfig = row.deviceConfig;
        info.pathConfig = row.pathConfig;
        s.Put(kNmpModule, KSI_NMP_NODE_SATPS, {row.name}, info);
    }
    for (const auto& row : kPsps) {
        KsiNmpPspInfo info{};
        Set(info.name, row.name);
        Set(info.description, row.description);
        info.options = row.options;
        s.Put(kNmpModule, KSI_NMP_NODE_PSPS, {row.name}, info);
    }
    if (!section || !section->IsObject())
        return;
    auto text = [](const rapidjson::Value& o, const char* key) {
        auto it = o.FindMember(key);
        return it != o.MemberEnd() && it->value.IsString() ? std::string(it->value.GetString()) : std::string();
    };
    auto flag = [](const rapidjson::Value& o, const char* key) {
        auto it = o.FindMember(key);
        return it != o.MemberEnd() && it->value.IsBool() && it->value.GetBool();
    };
    // Plug-ins of other vendors loaded next to the platform's.
    if (auto it = section->FindMember("satps"); it != section->MemberEnd() && it->value.IsArray()) {
        for (const auto& o : it->value.GetArray()) {
            if (!o.IsObject() || text(o, "name").empty())
                continue;
            KsiNmpSatpInfo info{};
            Set(info.name, text(o, "name"));
            Set(info.defaultPsp, text(o, "defaultPsp").empty() ? kFixed : text(o, "defaultPsp"));
            Set(info.description, text(o, "description"));
            info.deviceConfig = flag(o, "deviceConfig");
            info.pathConfig = flag(o, "pathConfig");
            s.Put(kNmpModule, KSI_NMP_NODE_SATPS, {text(o, "name")}, info);
        }
    }
    if (auto it = section->FindMember("psps"); it != section->MemberEnd() && it->value.IsArray()) {
        for (const auto& o : it->value.GetArray()) {
            if (!o.IsObject() || text(o, "name").empty())
                continue;
            KsiNmpPspInfo info{};
            Set(info.name, text(o, "name"));
            Set(info.description, text(o, "description"));
            info.pathConfig = flag(o, "pathConfig");
            info.options = flag(o, "options");
            s.Put(kNmpModule, KSI_NMP_NODE_PSPS, {text(o, "name")}, info);
        }
    }
    auto rules = section->FindMember("rules");
    if (rules == section->MemberEnd() || !rules->value.IsArray())
        return;
    unsigned n = 0;
    for (const auto& r : rules->value.GetArray()) {
        if (!r.IsObject() || !r.HasMember("satp") || !r["satp"].IsString())
            continue;
        auto str = [&](const char* key) {
            auto it = r.FindMember(key);
            return it != r.MemberEnd() && it->value.IsString() ? std::string(it->value.GetString()) : std::string();
        };
        KsiNmpSatpRule rule{};
        Set(rule.uid, str("device"));
        Set(rule.vendor, str("vendor"));
        Set(rule.model, str("model"));
        Set(rule.driver, str("driver"));
        Set(rule.transport, str("transport"));
        Set(rule.defaultPsp, str("psp"));
        Set(rule.description, str("description"));
        Set(rule.ruleGroup, "system");
        s.Put(kNmpModule, KSI_NMP_NODE_SATP_RULES, {str("satp"), std::to_string(n++)}, rule);
    }
}

// Before the storage area places paths, so that they find the plug-in's tables.
const AreaRegistration nmpArea({.name = "nmp", .order = 19, .init = InitNmp});

// ---- SATPs: default PSP and claim rules -------------------------------------------------

TARN_ReturnStatus SatpRule(Call& c, const std::string& satp) {
    KsiNmpSatpRule rule{};
    bool remove = false;
    for (size_t i = 0; i < c.InputCount(); ++i) {
        std::string in;
        c.InputText(i, &in);
        if (in == "remove") {
            remove = true;
            continue;
        }
        const size_t eq = in.find('=');
        const std::string key = in.substr(0, eq), value = eq == std::string::npos ? "" : in.substr(eq + 1);
        if (key == "uid") Set(rule.uid, value);
        else if (key == "vendor") Set(rule.vendor, value);
        else if (key == "model") Set(rule.model, value);
        else if (key == "hbadriver") Set(rule.driver, value);
        else if (key == "transport") Set(rule.transport, value);
        else if (key == "opt") Set(rule.options, value);
        else if (key == "claim") Set(rule.claimOptions, value);
        else if (key == "defaultpsp") Set(rule.defaultPsp, value);
        else if (key == "pspopt") Set(rule.pspOptions, value);
        else if (key == "desc") Set(rule.description, value);
        else if (key == "rulegroup") Set(rule.ruleGroup, value);
        else {
            RaiseEvent("SATP " + satp + ": unknown rule input " + in);
            return TARN_BAD_PARAM;
        }
    }
    if (!rule.uid[0] && !rule.vendor[0] && !rule.model[0] && !rule.driver[0] && !rule.transport[0] &&
        !rule.claimOptions[0])
        return TARN_MISSING_PARAMETER;
    if (rule.defaultPsp[0] && !c.state.Has(kNmpModule, KSI_NMP_NODE_PSPS, {Text(rule.defaultPsp)})) {
        RaiseEvent("SATP " + satp + ": no PSP " + Text(rule.defaultPsp));
        return TARN_BAD_PARAM;
    }
    if (!rule.ruleGroup[0])
        Set(rule.ruleGroup, "user");
    auto same = [&](const KsiNmpSatpRule& o) {
        return Text(o.uid) == Text(rule.uid) && Text(o.vendor) == Text(rule.vendor) &&
               Text(o.model) == Text(rule.model) && Text(o.driver) == Text(rule.driver) &&
               Text(o.transport) == Text(rule.transport) && Text(o.claimOptions) == Text(rule.claimOptions) &&
               Text(o.options) == Text(rule.options) && Text(o.defaultPsp) == Text(rule.defaultPsp) &&
               Text(o.pspOptions) == Text(rule.pspOptions);
    };
    long next = 0;
    for (const auto& n : c.state.Instances(kNmpModule, KSI_NMP_NODE_SATP_RULES, {satp})) {
        KsiNmpSatpRule o{};
        c.state.Read(kNmpModule, KSI_NMP_NODE_SATP_RULES, {satp, n}, &o);
        next = std::max(next, std::stol(n) + 1);
        if (!same(o))
            continue;
        if (remove) {
            c.state.Remove(kNmpModule, KSI_NMP_NODE_SATP_RULES, {satp, n});
            return TARN_OK;
        }
        RaiseEvent("SATP " + satp + ": the rule exists already");
        return TARN_EXISTS;
    }
    if (remove)
        return TARN_NOT_FOUND;
    c.state.Put(kNmpModule, KSI_NMP_NODE_SATP_RULES, {satp, std::to_string(next)}, rule);
    return TARN_OK;
}

TARN_ReturnStatus SatpSet(Call& c) {
    if (c.instance.size() != 1 || !c.state.Has(kNmpModule, KSI_NMP_NODE_SATPS, c.instance))
        return TARN_NOT_FOUND;
    const std::string satp = c.instance[0];
    std::string first;
    if (c.InputCount() == 0)
        return TARN_MISSING_PARAMETER;
    c.InputText(0, &first);
    if (c.InputCount() > 1 || first.rfind("defaultpsp=", 0) != 0)
        return SatpRule(c, satp);
    const std::string psp = first.substr(11);
    if (!c.state.Has(kNmpModule, KSI_NMP_NODE_PSPS, {psp})) {
        RaiseEvent("No PSP " + psp);
        return TARN_BAD_PARAM;
    }
    KsiNmpSatpInfo info{};
    c.state.Read(kNmpModule, KSI_NMP_NODE_SATPS, c.instance, &info);
    Set(info.defaultPsp, psp);
    c.state.Put(kNmpModule, KSI_NMP_NODE_SATPS, c.instance, info);
    // Devices that never had a PSP of their own follow their SATP's default.
    for (const auto& uid : c.state.Instances(kNmpModule, KSI_NMP_NODE_DEVICE)) {
        KsiNmpDeviceInfo d = ReadDevice(c.state, uid);
        if (Text(d.satp) != satp || d.pspExplicit || Text(d.psp) == psp)
            continue;
        Set(d.psp, psp);
        ResetPspSettings(d);
        Save(c.state, uid, d);
    }
    return TARN_OK;
}

const NodeRegistration satpNode(kNmpModule, KSI_NMP_NODE_SATPS, {.set = SatpSet});

// ---- Devices: PSP, option strings, preferred path ----------------------------------------

TARN_ReturnStatus PspDevice(Call& c) {
    if (c.instance.size() != 1 || !c.state.Has(kNmpModule, KSI_NMP_NODE_PSPS, c.instance))
        return TARN_NOT_FOUND;
    std::string in, uid;
    bool remove = false;
    for (size_t i = 0; i < c.InputCount(); ++i) {
        c.InputText(i, &in);
        if (in == "remove")
            remove = true;
        else if (in.rfind("device=", 0) == 0)
            uid = in.substr(7);
        else
            return TARN_BAD_PARAM;
    }
    if (uid.empty())
        return TARN_MISSING_PARAMETER;
    if (!HasDevice(c.state, uid)) {
        RaiseEvent("Device " + uid + " is not claimed by NMP");
        return TARN_NOT_FOUND;
    }
    KsiNmpDeviceInfo d = ReadDevice(c.state, uid);
    if (remove) {
        Set(d.psp, SatpDefaultPsp(c.state, Text(d.satp)));
        d.pspExplicit = 0;
    } else {
        Set(d.psp, c.instance[0]);
        d.pspExplicit = 1;
    }
    ResetPspSettings(d);
    Save(c.state, uid, d);
    return TARN_OK;
}

const NodeRegistration pspDeviceNode(kNmpModule, KSI_NMP_NODE_PSP_DEVICE, {.set = PspDevice});

KsiNmpSatpInfo SatpOf(const KernelState& s, const KsiNmpDeviceInfo& d) {
    KsiNmpSatpInfo info{};
    s.Read(kNmpModule, KSI_NMP_NODE_SATPS, {Text(d.satp)}, &info);
    return info;
}

const NodeRegistration satpConfigNode(kNmpModule, KSI_NMP_NODE_DEVICE_SATP_CONFIG, {
    .set = [](Call& c) -> TARN_ReturnStatus {
        std::string verb, text;
        if (c.instance.size() != 1 || !HasDevice(c.state, c.instance[0]))
            return TARN_NOT_FOUND;
        if (!c.InputText(0, &verb) || verb != "satpconfig" || !c.InputText(1, &text))
            return TARN_BAD_PARAM;
        KsiNmpDeviceInfo d = ReadDevice(c.state, c.instance[0]);
        if (!SatpOf(c.state, d).deviceConfig)
            return TARN_NOT_SUPPORTED_BY_TARGET;
        if (text.size() >= sizeof(d.satpConfig))
            return TARN_BAD_PARAM;
        Set(d.satpConfig, text);
        Save(c.state, c.instance[0], d);
        return TARN_OK;
    },
});

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* out) {
    if (text.empty() || text.size() > 20 || !std::all_of(text.begin(), text.end(), ::isdigit))
        return false;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
    if (errno == ERANGE || v > max)
        return false;
    *out = v;
    return true;
}

// The round-robin policy's device configuration: "key=value;..." with the
// keys the library sends; "policy=rr" restores the defaults.
TARN_ReturnStatus RoundRobinConfig(KsiNmpDeviceInfo& d, const std::string& text) {
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        if (item.empty())
            continue;
        const size_t eq = item.find('=');
        if (eq == std::string::npos)
            return TARN_BAD_PARAM;
        const std::string key = item.substr(0, eq), value = item.substr(eq + 1);
        uint64_t n = 0;
        if (key == "policy") {
            if (value == "rr") ResetPspSettings(d);
            else if (value == "iops") d.rrPolicy = KSI_NMP_RR_IOPS;
            else if (value == "bytes") d.rrPolicy = KSI_NMP_RR_BYTES;
            else if (value == "latency") d.rrPolicy = KSI_NMP_RR_LATENCY;
            else return TARN_BAD_PARAM;
        } else if (key == "iops" && ParseUnsigned(value, 0xffffffffu, &n) && n > 0) {
            d.iops = static_cast<uint32_t>(n);
        } else if (key == "bytes" && ParseUnsigned(value, 0xffffffffu, &n) && n > 0) {
            d.bytes = n;
        } else if (key == "useANO" && (value == "0" || value == "1")) {
            d.useANO = value == "1";
        } else if (key == "latencyEvalTime" && ParseUnsigned(value, 0xffffffffu, &n) && n > 0) {
            d.latencyEvalTime = static_cast<uint32_t>(n);
        } else if (key == "samplingCycles" && ParseUnsigned(value, 0xffffffffu, &n) && n > 0) {
            d.samplingCycles = static_cast<uint32_t>(n);
        } else {
            return TARN_BAD_PARAM;
        }
    }
    return TARN_OK;
}

TARN_ReturnStatus ConfigSet(Call& c) {
    std::string verb, text;
    if (c.instance.empty() || c.instance.size() > 2 || !HasDevice(c.state, c.instance[0]))
        return TARN_NOT_FOUND;
    if (!c.InputText(0, &verb) || !c.InputText(1, &text) || (verb != "pspconfig" && verb != "satpconfig"))
        return TARN_BAD_PARAM;
    const std::string uid = c.instance[0];
    KsiNmpDeviceInfo d = ReadDevice(c.state, uid);
    if (c.instance.size() == 1) {
        if (verb != "pspconfig")
            return TARN_BAD_PARAM;
        if (Text(d.psp) != kRr) {
            KsiNmpPspInfo psp{};
            c.state.Read(kNmpModule, KSI_NMP_NODE_PSPS, {Text(d.psp)}, &psp);
            // Other vendors' PSPs with options keep their text as given.
            if (Text(d.psp) == kFixed || Text(d.psp) == kMru || !psp.options)
                return TARN_NOT_SUPPORTED_BY_TARGET;
            if (text.size() >= sizeof(d.thirdPartyConfig))
                return TARN_BAD_PARAM;
            Set(d.thirdPartyConfig, text);
            Save(c.state, uid, d);
            return TARN_OK;
        }
        if (TARN_ReturnStatus st = RoundRobinConfig(d, text); st != TARN_OK)
            return st;
        Save(c.state, uid, d);
        return TARN_OK;
    }
    const std::string path = c.instance[1];
    KsiNmpPathInfo p{};
    if (!c.state.Read(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, {uid, path}, &p)) {
        RaiseEvent("Path " + path + " is not a path of device " + uid);
        return TARN_NOT_FOUND;
    }
    if (verb == "pspconfig" && text == "preferred") {
        if (Text(d.psp) != kFixed)
            return TARN_NOT_SUPPORTED_BY_TARGET;
        Set(d.preferred, path);
        Save(c.state, uid, d);
        return TARN_OK;
    }
    if (verb == "satpconfig") {
        if (!SatpOf(c.state, d).pathConfig)
            return TARN_NOT_SUPPORTED_BY_TARGET;
        if (text.size() >= sizeof(p.satpConfig))
            return TARN_BAD_PARAM;
        Set(p.satpConfig, text);
    } else {
        KsiNmpPspInfo psp{};
        c.state.Read(kNmpModule, KSI_NMP_NODE_PSPS, {Text(d.psp)}, &psp);
        if (!psp.pathConfig)
            return TARN_NOT_SUPPORTED_BY_TARGET;
        if (text.size() >= sizeof(p.pspConfig))
            return TARN_BAD_PARAM;
        Set(p.pspConfig, text);
    }
    c.state.Put(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, {uid, path}, p);
    return TARN_OK;
}

const NodeRegistration configNode(kNmpModule, KSI_NMP_NODE_CONFIG, {.set = ConfigSet});

const char* GroupState(uint32_t coreState, bool optimized) {
    switch (coreState) {
    case 0: return optimized ? "active" : "active unoptimized";
    case 1: return "off";
    case 2: return "dead";
    case 3: return "standby";
    default: return "unknown";
    }
}

// The group state follows the path's live state on every read.
const NodeRegistration devicePathsNode(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, {
    .get = [](Call& c, void* buffer, unsigned int length) -> TARN_ReturnStatus {
        KsiNmpPathInfo p{};
        if (c.instance.size() != 2 || !c.state.Read(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, c.instance, &p))
            return TARN_NOT_FOUND;
        Set(p.groupState, GroupState(CoreState(c.state, c.instance[1]), p.optimized));
        std::memcpy(buffer, &p, std::min<size_t>(length, sizeof(p)));
        return TARN_OK;
    },
});

// The PSP's text shows the path in use now.
const NodeRegistration deviceNode(kNmpModule, KSI_NMP_NODE_DEVICE, {
    .get = [](Call& c, void* buffer, unsigned int length) -> TARN_ReturnStatus {
        KsiNmpDeviceInfo d{};
        if (c.instance.size() != 1 || !c.state.Read(kNmpModule, KSI_NMP_NODE_DEVICE, c.instance, &d))
            return TARN_NOT_FOUND;
        if (Text(d.psp) != kRr) {
            auto working = WorkingPaths(c.state, c.instance, d);
            Set(d.current, working.empty() ? "" : working.front());
            Set(d.pspConfig, RenderPspConfig(c.state, c.instance, d, &working));
        } else {
            Set(d.pspConfig, RenderPspConfig(c.state, c.instance, d));
        }
        std::memcpy(buffer, &d, std::min<size_t>(length, sizeof(d)));
        return TARN_OK;
    },
});

const NodeRegistration workingPathsNode(kNmpModule, KSI_NMP_NODE_WORKING_PATHS, {
    .list = [](Call& c, std::vector<std::string>* out) -> TARN_ReturnStatus {
        KsiNmpDeviceInfo d{};
        if (c.instance.size() != 1 || !c.state.Read(kNmpModule, KSI_NMP_NODE_DEVICE, c.instance, &d))
            return TARN_NOT_FOUND;
        *out = WorkingPaths(c.state, c.instance, d);
        return TARN_OK;
    },
});

// ---- Claiming --------------------------------------------------------------------------

struct ClaimRequest {
    bool unclaim = false;
    std::string pluginType, format;
    std::map<std::string, std::string> keys;
};

bool Matches(const KernelState& s, const ClaimRequest& r, const std::string& path) {
    KsiStoragePathInfo info{};
    s.Read(KSI_NODE_storage_scsifw_paths_info, {path}, &info);
    if (r.format == "plugin")
        return Text(info.plugin) == r.keys.at("plugin");
    if (r.format == "deviceuid") {
        const std::string& uid = r.keys.at("deviceuid");
        return uid == "*" || Text(info.deviceUid) == uid;
    }
    auto number = [&](const char* key, uint32_t value) {
        const std::string& v = r.keys.at(key);
        return v == "-1" || v == "*" || v == std::to_string(value);
    };
    const std::string& adapter = r.keys.at("adapter");
    return (adapter == "*" || adapter == Text(info.adapter)) && number("channel", info.channel) &&
           number("target", info.target) && number("lun", info.lun);
}

}  // namespace

void ClaimNewPath(KernelState& s, const DeviceSpec& device, const PathSpec& path) {
    const std::string name = path.RuntimeName();
    PathFlags flags{};
    flags.optimized = path.optimized;
    flags.priority = path.priority;
    flags.stateStatus = path.stateStatus;
    Set(flags.plugin, path.plugin);
    s.Put(kModule, kPathFlagsNode, {device.uid, name}, flags);
    s.Put(KSI_NODE_storage_scsifw_paths_stats, {name}, KsiStorageStats{});
    if (path.plugin == "NMP")
        ClaimForNmp(s, device.uid, name, flags);
}

void ReleasePath(KernelState& s, const std::string& uid, const std::string& path) {
    if (!s.Remove(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, {uid, path}) || !HasDevice(s, uid))
        return;
    RefreshLivePaths(s, uid);
    if (s.Instances(kNmpModule, KSI_NMP_NODE_DEVICE_PATHS, {uid}).empty()) {
        s.Remove(kNmpModule, KSI_NMP_NODE_DEVICE, {uid});
        return;
    }
    KsiNmpDeviceInfo d = ReadDevice(s, uid);
    if (Text(d.preferred) == path)
        Set(d.preferred, "");
    Save(s, uid, d);
}

void ForgetPath(KernelState& s, const std::string& uid, const std::string& path) {
    ReleasePath(s, uid, path);
    s.Remove("", KSI_NODE_storage_scsifw_paths_stats, {path});
    s.Remove(kModule, kPathFlagsNode, {uid, path});
}

void PathStateChanged(KernelState& s, const std::string& path) {
    const std::string uid = PathDevice(s, path);
    if (uid.empty() || !HasDevice(s, uid))
        return;
    RefreshLivePaths(s, uid);
    KsiNmpDeviceInfo d = ReadDevice(s, uid);
    Save(s, uid, d);
}

TARN_ReturnStatus ClaimRuleCall(Call& c) {
    ClaimRequest r;
    for (size_t i = 0; i < c.InputCount(); ++i) {
        std::string in;
        c.InputText(i, &in);
        if (in == "unclaim") r.unclaim = true;
        else if (in == "claim" || in == "wait") continue;
        else if (in.rfind("plugintype=", 0) == 0) r.pluginType = in.substr(11);
        else if (in.rfind("format=", 0) == 0) r.format = in.substr(7);
        else if (const size_t eq = in.find('='); eq != std::string::npos) r.keys[in.substr(0, eq)] = in.substr(eq + 1);
        else return TARN_BAD_PARAM;
    }
    if (r.pluginType != "MP")
        return r.pluginType == "Filter" ? TARN_OK : TARN_BAD_PARAM;
    auto has = [&](std::initializer_list<const char*> keys) {
        return std::all_of(keys.begin(), keys.end(), [&](const char* k) { return r.keys.count(k) > 0; });
    };
    if (!((r.format == "location" && has({"adapter", "channel", "target", "lun"})) ||
          (r.format == "plugin" && has({"plugin"})) || (r.format == "deviceuid" && has({"deviceuid"}))))
        return TARN_BAD_PARAM;
    std::vector<std::string> selected;
    for (const auto& path : c.state.Instances("", KSI_NODE_storage_scsifw_paths))
        if (Matches(c.state, r, path))
            selected.push_back(path);
    if (r.unclaim) {
        // Nothing changes when any selected device is open.
        for (const auto& path : selected) {
            const std::string uid = PathDevice(c.state, path);
            if (!c.state.Instances("", KSI_NODE_storage_scsifw_devices_worlds, {uid}).empty()) {
                RaiseEvent("Device " + uid + " is in use");
                return TARN_BUSY;
            }
        }
        for (const auto& path : selected) {
            const std::string uid = PathDevice(c.state, path);
            SetPathPlugin(c.state, path, "");
            ReleasePath(c.state, uid, path);
            bool claimed = false;
            for (const auto& other : c.state.Instances("", KSI_NODE_storage_scsifw_devices_paths, {uid})) {
                KsiStoragePathInfo info{};
                c.state.Read(KSI_NODE_storage_scsifw_paths_info, {other}, &info);
                claimed = claimed || info.plugin[0];
            }
            if (!claimed)
                SetDevicePlugin(c.state, uid, "");
        }
        return TARN_OK;
    }
    for (const auto& path : selected) {
        KsiStoragePathInfo info{};
        c.state.Read(KSI_NODE_storage_scsifw_paths_info, {path}, &info);
        if (info.plugin[0])
            continue;
        const std::string uid = Text(info.deviceUid);
        PathFlags flags{1, 0, 0, "NMP"};
        c.state.Read(kModule, kPathFlagsNode, {uid, path}, &flags);
        const std::string plugin = flags.plugin[0] ? Text(flags.plugin) : "NMP";
        SetPathPlugin(c.state, path, plugin);
        SetDevicePlugin(c.state, uid, plugin);
        if (plugin == "NMP")
            ClaimForNmp(c.state, uid, path, flags);
    }
    return TARN_OK;
}

// ---- Path state ---------------------------------------------------------------------------

namespace {

TARN_ReturnStatus PathStateSet(Call& c) {
    int64_t value = 0;
    if (c.instance.size() != 1 || !c.state.Has("", KSI_NODE_storage_scsifw_paths, c.instance))
        return TARN_NOT_FOUND;
    if (!c.InputInt(0, &value) || (value != 0 && value != 1))
        return TARN_BAD_PARAM;
    const std::string path = c.instance[0];
    PathFlags flags{};
    c.state.Read(kModule, kPathFlagsNode, {PathDevice(c.state, path), path}, &flags);
    if (flags.stateStatus != TARN_OK) {
        RaiseEvent("Path " + path + " refused the state change");
        return flags.stateStatus;
    }
    if (CoreState(c.state, path) == 2) {
        RaiseEvent("Path " + path + " is dead");
        return TARN_INVALID_STATE;
    }
    c.state.Put(KSI_NODE_storage_scsifw_paths_state, c.instance, KsiStorageValue{static_cast<uint32_t>(value)});
    PathStateChanged(c.state, path);
    return TARN_OK;
}

const NodeRegistration pathStateNode(KSI_NODE_storage_scsifw_paths_state, {
    .set = PathStateSet,
    .setStruct = [](Call&, const void*, unsigned int) { return TARN_NOT_SUPPORTED; },
});

}  // namespace

}  // namespace TarnSim::StorageModel

namespace TarnSim::StoragePaths {

bool SetPathState(const std::string& path, uint32_t value) {
    bool found = false;
    WithState(
        [&](KernelState& s) {
            if (!s.Has("", KSI_NODE_storage_scsifw_paths, {path}))
                return;
            found = true;
            s.Put(KSI_NODE_storage_scsifw_paths_state, {path}, KsiStorageValue{value});
            StorageModel::PathStateChanged(s, path);
        },
        true);
    return found;
}

bool FailPath(const std::string& runtimeName) {
    return SetPathState(runtimeName, 2);
}

bool RestorePath(const std::string& runtimeName) {
    return SetPathState(runtimeName, 0);
}

}  // namespace TarnSim::StoragePaths
