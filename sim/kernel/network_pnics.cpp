// The simulated kernel's physical NICs, from the "pnics" list of the "network"
// profile section. One entry:
//   {"name": "pnx0", "driver": "ixgbe_native", "legacy": false, "pci": "0000:3b:00.0",
//    "mac": "00:1b:21:0a:00:00", "description": "...", "claimed": true,
//    "link": "up"|"down", "speeds": [1000, 10000], "halfSpeeds": [100],
//    "mtu": 1500, "maxMtu": 9000, "flags": ["mgmtCapable", "rdma", "fcoe", ...],
//    "rings": {"rx": 1024, "tx": 1024, "maxRx": 4096, "maxTx": 4096, "maxRxMini": 0, "maxRxJumbo": 0},
//    "wol": {"supported": 33, "enabled": 0}, "queues": {"rx": 8, "tx": 8},
//    "offloads": {"ipv4tso": false, ...}, "netqueue": {"rsslb": false, ...},
//    "fixed": ["untagging", ...] (settings the NIC refuses to change),
//    "lldp": {"chassisId": "...", "portId": "...", "ttl": 120, "systemName": "...", ...}
//        or {"raw": "<hex bytes of the data unit>"},
//    "cdp": {"deviceId": "...", "portId": "...", ...}}
// Native-driver nodes refuse changes to legacy-driver NICs (TARN_NOT_SUPPORTED):
// those go through the device-control channel.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <arpa/inet.h>

#include "network_model.h"
#include "network_pnic_model.h"
#include "platform/misc.h"

namespace TarnSim::Network {

namespace Pnics {

namespace {
const char* kArea = "network.pnics";
}

bool Exists(const KernelState& s, const std::string& name) {
    return s.Has("", KSI_NODE_net_pNics_properties, {name});
}
KsiPnicProperties Props(const KernelState& s, const std::string& name) {
    KsiPnicProperties p{};
    s.Read(KSI_NODE_net_pNics_properties, {name}, &p);
    return p;
}
void PutProps(KernelState& s, const std::string& name, const KsiPnicProperties& p) {
    s.Put(KSI_NODE_net_pNics_properties, {name}, p);
}
bool IsLegacy(const KernelState& s, const std::string& name) { return Props(s, name).flags & KSI_PNIC_LEGACY; }
KsiPnicModes Modes(const KernelState& s, const std::string& name) {
    KsiPnicModes m{};
    s.Read(KSI_NODE_net_pNics_supportedModes, {name}, &m);
    return m;
}
KsiPnicLinkStatus Link(const KernelState& s, const std::string& name) {
    KsiPnicLinkStatus l{};
    s.Read(KSI_NODE_net_pNics_linkStatus, {name}, &l);
    return l;
}
uint32_t MaxMtu(const KernelState& s, const std::string& name) {
    return static_cast<uint32_t>(std::stoul(s.GetAreaValue(kArea, name + "/maxMtu", "9000")));
}

namespace {

// The link as it comes out of the configured mode, the cable and the admin state.
void Recompute(KernelState& s, const std::string& name) {
    KsiPnicLinkStatus l = Link(s, name);
    bool cable = s.GetAreaValue(kArea, name + "/cable", "up") == "up";
    std::string mode = s.GetAreaValue(kArea, name + "/mode", "auto");
    l.linkUp = l.adminUp && cable;
    if (mode == "auto") {
        KsiPnicModes m = Modes(s, name);
        uint32_t best = 0, duplex = 1;
        for (uint32_t i = 0; i < m.count && i < KSI_PNIC_MAX_MODES; ++i)
            if (m.modes[i].speed > best || (m.modes[i].speed == best && m.modes[i].duplex == 1)) {
                best = m.modes[i].speed;
                duplex = m.modes[i].duplex;
            }
        l.autoNeg = 1;
        l.speed = best;
        l.duplex = duplex;
    } else {
        unsigned speed = 0, duplex = 1;
        std::sscanf(mode.c_str(), "%u/%u", &speed, &duplex);
        l.autoNeg = 0;
        l.speed = speed;
        l.duplex = duplex;
    }
    if (!l.linkUp) l.speed = 0;
    s.Put(KSI_NODE_net_pNics_linkStatus, {name}, l);
}

}  // namespace

TARN_ReturnStatus SetMode(KernelState& s, const std::string& name, uint32_t speed, uint32_t duplex) {
    if (speed != 0) {
        KsiPnicModes m = Modes(s, name);
        bool offered = false;
        for (uint32_t i = 0; i < m.count && i < KSI_PNIC_MAX_MODES; ++i)
            offered |= m.modes[i].speed == speed && m.modes[i].duplex == duplex;
        if (!offered) return TARN_NOT_SUPPORTED;
    }
    s.SetAreaValue(kArea, name + "/mode", speed == 0 ? "auto" : std::to_string(speed) + "/" + std::to_string(duplex));
    Recompute(s, name);
    return TARN_OK;
}

void SetAdmin(KernelState& s, const std::string& name, bool up) {
    KsiPnicLinkStatus l = Link(s, name);
    l.adminUp = up;
    s.Put(KSI_NODE_net_pNics_linkStatus, {name}, l);
    Recompute(s, name);
}

TARN_ReturnStatus SetMtu(KernelState& s, const std::string& name, uint32_t mtu) {
    if (mtu < 1280 || mtu > MaxMtu(s, name)) return TARN_BAD_PARAM;
    KsiPnicProperties p = Props(s, name);
    p.mtu = mtu;
    PutProps(s, name, p);
    return TARN_OK;
}

TARN_ReturnStatus SetWol(KernelState& s, const std::string& name, uint32_t modes) {
    KsiPnicProperties p = Props(s, name);
    if (modes & ~p.wolSupported) return TARN_NOT_SUPPORTED;
    p.wolEnabled = modes;
    PutProps(s, name, p);
    return TARN_OK;
}

TARN_ReturnStatus SetRings(KernelState& s, const std::string& name, uint32_t rx, uint32_t rxMini, uint32_t rxJumbo,
                           uint32_t tx) {
    KsiPnicRingParams r{};
    s.Read(KSI_NODE_net_pNics_firmware_ringParams, {name}, &r);
    if (rx > r.maxRx || rxMini > r.maxRxMini || rxJumbo > r.maxRxJumbo || tx > r.maxTx) return TARN_BAD_PARAM;
    r.rx = rx;
    r.rxMini = rxMini;
    r.rxJumbo = rxJumbo;
    r.tx = tx;
    s.Put(KSI_NODE_net_pNics_firmware_ringParams, {name}, r);
    return TARN_OK;
}

}  // namespace Pnics

namespace {

using namespace Pnics;

const char* kArea = "network.pnics";

using SettingNode = KsiPnicSettingNode;
constexpr auto& kOffloadNodes = KSI_PNIC_OFFLOAD_NODES;
constexpr auto& kQueueNodes = KSI_PNIC_QUEUE_NODES;

struct FlagName {
    const char* name;
    uint32_t bit;
};
const FlagName kFlags[] = {
    {"pseudo", KSI_PNIC_PSEUDO},         {"rdma", KSI_PNIC_RDMA},
    {"bmc", KSI_PNIC_BMC},               {"k2k", KSI_PNIC_K2K},
    {"mgmtPreferred", KSI_PNIC_MGMT_PREFERRED}, {"mgmtCapable", KSI_PNIC_MGMT_CAPABLE},
    {"fcoe", KSI_PNIC_FCOE},             {"resPools", KSI_PNIC_RESPOOLS_SUPPORTED},
};

bool ParseMac(const std::string& text, uint8_t out[6]) {
    unsigned b[6];
    if (std::sscanf(text.c_str(), "%2x:%2x:%2x:%2x:%2x:%2x", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5]) != 6)
        return false;
    for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(b[i]);
    return true;
}

// ---- LLDP data unit from the profile -------------------------------------------

void PutTlv(std::vector<uint8_t>& out, unsigned type, const std::vector<uint8_t>& value) {
    unsigned header = (type << 9) | static_cast<unsigned>(value.size());
    out.push_back(static_cast<uint8_t>(header >> 8));
    out.push_back(static_cast<uint8_t>(header));
    out.insert(out.end(), value.begin(), value.end());
}
std::vector<uint8_t> Bytes(uint8_t first, const std::string& text) {
    std::vector<uint8_t> v{first};
    v.insert(v.end(), text.begin(), text.end());
    return v;
}

std::vector<uint8_t> LldpFrame(const rapidjson::Value& l) {
    std::vector<uint8_t> out;
    std::string raw = Str(l, "raw");
    if (!raw.empty()) {
        for (size_t i = 0; i + 1 < raw.size(); i += 2)
            out.push_back(static_cast<uint8_t>(std::stoul(raw.substr(i, 2), nullptr, 16)));
        return out;
    }
    std::string chassis = Str(l, "chassisId");
    uint8_t mac[6];
    if (ParseMac(chassis, mac)) {
        PutTlv(out, 1, {4, mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]});
    } else {
        PutTlv(out, 1, Bytes(7, chassis));
    }
    PutTlv(out, 2, Bytes(5, Str(l, "portId")));
    unsigned ttl = static_cast<unsigned>(Int(l, "ttl", 120));
    PutTlv(out, 3, {static_cast<uint8_t>(ttl >> 8), static_cast<uint8_t>(ttl)});
    std::string portDesc = Str(l, "portDescription");
    if (!portDesc.empty()) PutTlv(out, 4, std::vector<uint8_t>(portDesc.begin(), portDesc.end()));
    std::string sysName = Str(l, "systemName");
    if (!sysName.empty()) PutTlv(out, 5, std::vector<uint8_t>(sysName.begin(), sysName.end()));
    std::string sysDesc = Str(l, "systemDescription");
    if (!sysDesc.empty()) PutTlv(out, 6, std::vector<uint8_t>(sysDesc.begin(), sysDesc.end()));
    unsigned caps = static_cast<unsigned>(Int(l, "capabilities", 0));
    if (caps)
        PutTlv(out, 7, {static_cast<uint8_t>(caps >> 8), static_cast<uint8_t>(caps), static_cast<uint8_t>(caps >> 8),
                        static_cast<uint8_t>(caps)});
    std::string mgmt = Str(l, "managementAddress");
    in_addr a{};
    if (!mgmt.empty() && inet_pton(AF_INET, mgmt.c_str(), &a) == 1) {
        const uint8_t* b = reinterpret_cast<const uint8_t*>(&a);
        // address string length (subtype + 4 bytes), subtype IPv4, address,
        // interface numbering unknown, interface number 0, no OID.
        PutTlv(out, 8, {5, 1, b[0], b[1], b[2], b[3], 1, 0, 0, 0, 0, 0});
    }
    PutTlv(out, 0, {});
    return out;
}

void PutCdp(KernelState& s, const std::string& name, const rapidjson::Value& c) {
    KsiPnicCdpInfo r{};
    r.version = static_cast<uint32_t>(Int(c, "version", 2));
    r.timeout = static_cast<uint32_t>(Int(c, "timeout", 60));
    r.ttl = static_cast<uint32_t>(Int(c, "ttl", 180));
    r.samples = static_cast<uint32_t>(Int(c, "samples", 1));
    CopyText(r.deviceId, Str(c, "deviceId"));
    inet_pton(AF_INET, Str(c, "address", "0.0.0.0").c_str(), &r.ipAddress);
    CopyText(r.portId, Str(c, "portId"));
    r.capabilities = static_cast<uint32_t>(Int(c, "capabilities", 0x28));
    CopyText(r.softwareVersion, Str(c, "version"));
    CopyText(r.platform, Str(c, "platform"));
    r.vlan = static_cast<uint32_t>(Int(c, "vlan", 1));
    r.fullDuplex = Bool(c, "fullDuplex", true);
    r.mtu = static_cast<uint32_t>(Int(c, "mtu", 1500));
    CopyText(r.systemName, Str(c, "systemName"));
    inet_pton(AF_INET, Str(c, "managementAddress", "0.0.0.0").c_str(), &r.mgmtAddress);
    CopyText(r.location, Str(c, "location"));
    s.Put(KSI_NODE_net_pNics_cdpInfo, {name}, r);
}

void AddPnic(KernelState& s, const rapidjson::Value& n) {
    std::string name = Str(n, "name");
    if (name.empty() || name.size() >= sizeof(KsiPnicProperties::name)) return;
    KsiPnicProperties p{};
    CopyText(p.name, name);
    CopyText(p.driver, Str(n, "driver", "ixgbe_native"));
    CopyText(p.driverVersion, Str(n, "driverVersion", "1.8.7"));
    CopyText(p.firmwareVersion, Str(n, "firmwareVersion", "0x800009e0"));
    CopyText(p.pciAddress, Str(n, "pci"));
    CopyText(p.description, Str(n, "description"));
    ParseMac(Str(n, "mac"), p.mac);
    p.mtu = static_cast<uint32_t>(Int(n, "mtu", 1500));
    if (Bool(n, "legacy")) p.flags |= KSI_PNIC_LEGACY;
    if (const rapidjson::Value* flags = Array(n, "flags"))
        for (const auto& f : flags->GetArray())
            for (const FlagName& fn : kFlags)
                if (f.IsString() && std::strcmp(f.GetString(), fn.name) == 0) p.flags |= fn.bit;
    p.hwCapabilities = static_cast<uint64_t>(Int(n, "hwCapabilities", 0x3c0b032bLL));
    if (const rapidjson::Value* w = Object(n, "wol")) {
        p.wolSupported = static_cast<uint32_t>(Int(*w, "supported", 0));
        p.wolEnabled = static_cast<uint32_t>(Int(*w, "enabled", 0)) & p.wolSupported;
    }
    PutProps(s, name, p);
    s.SetAreaValue(kArea, name + "/maxMtu", std::to_string(Int(n, "maxMtu", 9000)));
    s.SetAreaValue(kArea, name + "/cable", Str(n, "link", "up") == "down" ? "down" : "up");

    uint8_t marker = 1;
    s.Put(KSI_NODE_net_pNicsAll, {name}, marker);
    if (Bool(n, "claimed", true)) s.Put(KSI_NODE_net_pNics, {name}, marker);

    KsiPnicModes m{};
    if (const rapidjson::Value* speeds = Array(n, "speeds"))
        for (const auto& v : speeds->GetArray())
            if (v.IsUint() && m.count < KSI_PNIC_MAX_MODES) m.modes[m.count++] = {v.GetUint(), 1};
    if (const rapidjson::Value* speeds = Array(n, "halfSpeeds"))
        for (const auto& v : speeds->GetArray())
            if (v.IsUint() && m.count < KSI_PNIC_MAX_MODES) m.modes[m.count++] = {v.GetUint(), 2};
    s.Put(KSI_NODE_net_pNics_supportedModes, {name}, m);
    s.Put(KSI_NODE_net_pNics_supportedLinkStatus, {name}, m);

    KsiPnicLinkStatus l{};
    l.adminUp = 1;
    s.Put(KSI_NODE_net_pNics_linkStatus, {name}, l);
    SetMode(s, name, 0, 0);

    KsiPnicRingParams r{1024, 0, 0, 1024, 4096, 0, 0, 4096};
    if (const rapidjson::Value* rings = Object(n, "rings")) {
        r.rx = static_cast<uint32_t>(Int(*rings, "rx", r.rx));
        r.tx = static_cast<uint32_t>(Int(*rings, "tx", r.tx));
        r.maxRx = static_cast<uint32_t>(Int(*rings, "maxRx", r.maxRx));
        r.maxTx = static_cast<uint32_t>(Int(*rings, "maxTx", r.maxTx));
        r.maxRxMini = static_cast<uint32_t>(Int(*rings, "maxRxMini", 0));
        r.maxRxJumbo = static_cast<uint32_t>(Int(*rings, "maxRxJumbo", 0));
    }
    s.Put(KSI_NODE_net_pNics_firmware_ringParams, {name}, r);
    s.Put(KSI_NODE_net_pNics_firmware_pauseParams, {name}, KsiPnicPauseParams{1, 1, 1});
    s.Put(KSI_NODE_net_pNics_coalesceParams, {name}, KsiPnicCoalesceParams{50, 64, 50, 64, 1, 1});
    s.Put(KSI_NODE_net_pNics_stats, {name}, KsiPnicStats{});
    uint32_t rxq = 8, txq = 8;
    if (const rapidjson::Value* q = Object(n, "queues")) {
        rxq = static_cast<uint32_t>(Int(*q, "rx", rxq));
        txq = static_cast<uint32_t>(Int(*q, "tx", txq));
    }
    s.Put(KSI_NODE_net_pNics_rxqueues_queueCount, {name}, rxq);
    s.Put(KSI_NODE_net_pNics_txqueues_queueCount, {name}, txq);
    const rapidjson::Value* offloads = Object(n, "offloads");
    for (const SettingNode& o : kOffloadNodes)
        s.Put(o.node, {name}, static_cast<uint32_t>(offloads ? Bool(*offloads, o.key, true) : true));
    if (const rapidjson::Value* fixed = Array(n, "fixed"))
        for (const auto& f : fixed->GetArray())
            if (f.IsString()) s.SetAreaValue(kArea, name + "/fixed/" + f.GetString(), "1");
    const rapidjson::Value* netqueue = Object(n, "netqueue");
    for (const SettingNode& o : kQueueNodes)
        s.Put(o.node, {name}, static_cast<uint32_t>(netqueue ? Bool(*netqueue, o.key, true) : true));
    s.Put(KSI_NODE_net_pNics_genericOpts_transceiverType, {name}, uint32_t{0});
    s.Put(KSI_NODE_net_pNics_genericOpts_phyAddress, {name}, uint32_t{0});
    s.Put(KSI_NODE_net_pNics_genericOpts_messageLevel, {name}, uint32_t{7});
    s.Put(KSI_NODE_net_pNics_genericOpts_cableType, {name}, uint32_t{1});

    if (const rapidjson::Value* lldp = Object(n, "lldp")) {
        std::vector<uint8_t> frame = LldpFrame(*lldp);
        KsiPnicLldpFrame f{};
        f.length = static_cast<uint32_t>(std::min<size_t>(frame.size(), KSI_PNIC_LLDP_MAX));
        std::memcpy(f.data, frame.data(), f.length);
        s.Put(KSI_NODE_net_pNics_lldpInfo, {name}, f);
    }
    if (const rapidjson::Value* cdp = Object(n, "cdp")) PutCdp(s, name, *cdp);
}

void InitPnics(KernelState& s, const rapidjson::Value* network) {
    const rapidjson::Value* list = network ? Array(*network, "pnics") : nullptr;
    if (!list) return;
    for (const auto& n : list->GetArray())
        if (n.IsObject()) AddPnic(s, n);
}

// ---- Generator ------------------------------------------------------------------

rapidjson::Value Text(const std::string& s, Alloc& alloc) {
    return rapidjson::Value(s.c_str(), static_cast<rapidjson::SizeType>(s.size()), alloc);
}

void GeneratePnics(rapidjson::Value& network, Alloc& alloc, const GenerateOptions& options) {
    const long count = std::max(0L, options.Get("pnics", 4));
    const long legacy = std::clamp(options.Get("legacy-pnics", 0), 0L, count);
    rapidjson::Value list(rapidjson::kArrayType);
    for (long i = 0; i < count; ++i) {
        bool fast = i % 2 == 1;  // alternate 10G and 25G ports
        bool isLegacy = i >= count - legacy;
        rapidjson::Value n(rapidjson::kObjectType);
        n.AddMember("name", Text("pnx" + std::to_string(i), alloc), alloc);
        n.AddMember("driver", Text(isLegacy ? "e1000e" : (fast ? "mlx5_native" : "ixgbe_native"), alloc), alloc);
        n.AddMember("legacy", isLegacy, alloc);
        n.AddMember("pci", Text(HostCtl::Misc::StrPrintf("0000:%02lx:00.%ld", 0x3b + i / 2, i % 2), alloc), alloc);
        n.AddMember("mac", Text(HostCtl::Misc::StrPrintf("00:1b:21:%02lx:%02lx:%02lx", (i >> 16) & 0xff,
                                                         (i >> 8) & 0xff, i & 0xff), alloc), alloc);
        rapidjson::Value speeds(rapidjson::kArrayType);
        speeds.PushBack(1000, alloc).PushBack(fast ? 25000 : 10000, alloc);
        n.AddMember("speeds", speeds, alloc);
        rapidjson::Value flags(rapidjson::kArrayType);
        flags.PushBack(Text("mgmtCapable", alloc), alloc);
        n.AddMember("flags", flags, alloc);
        list.PushBack(n, alloc);
    }
    network.AddMember("pnics", list, alloc);
}

// ---- Nodes ----------------------------------------------------------------------

bool OneNic(const Call& c) { return c.instance.size() == 1 && Exists(c.state, c.instance[0]); }

// Changes through native nodes: the NIC must exist and have a native driver.
TARN_ReturnStatus NativeOnly(const Call& c) {
    if (!OneNic(c)) return TARN_NOT_FOUND;
    return IsLegacy(c.state, c.instance[0]) ? TARN_NOT_SUPPORTED : TARN_OK;
}

// One input: the administrative state (1 up, 0 down). Two inputs: speed text
// ("auto" or Mbit/s) and duplex text ("auto", "full", "half").
TARN_ReturnStatus LinkSet(Call& c) {
    if (!OneNic(c)) return TARN_NOT_FOUND;
    const std::string& name = c.instance[0];
    if (c.InputCount() == 1) {
        int64_t up = 0;
        if (!c.InputInt(0, &up) || (up != 0 && up != 1)) return TARN_BAD_PARAM;
        SetAdmin(c.state, name, up == 1);
        return TARN_OK;
    }
    if (IsLegacy(c.state, name)) return TARN_NOT_SUPPORTED;
    std::string speed, duplex;
    if (!c.InputText(0, &speed) || !c.InputText(1, &duplex)) return TARN_MISSING_PARAMETER;
    if (speed == "auto" && duplex == "auto") return SetMode(c.state, name, 0, 0);
    char* end = nullptr;
    unsigned long mbps = std::strtoul(speed.c_str(), &end, 10);
    if (speed.empty() || *end || mbps == 0) return TARN_BAD_PARAM;
    if (duplex != "full" && duplex != "half") return TARN_BAD_PARAM;
    return SetMode(c.state, name, static_cast<uint32_t>(mbps), duplex == "full" ? 1 : 2);
}

TARN_ReturnStatus MtuSet(Call& c) {
    if (TARN_ReturnStatus st = NativeOnly(c)) return st;
    int64_t mtu = 0;
    if (!c.InputInt(0, &mtu) || mtu < 0 || mtu > 65535) return TARN_BAD_PARAM;
    return SetMtu(c.state, c.instance[0], static_cast<uint32_t>(mtu));
}

TARN_ReturnStatus WolSet(Call& c) {
    if (TARN_ReturnStatus st = NativeOnly(c)) return st;
    int64_t modes = 0;
    if (!c.InputInt(0, &modes) || modes < 0 || modes > 0xff) return TARN_BAD_PARAM;
    return SetWol(c.state, c.instance[0], static_cast<uint32_t>(modes));
}

TARN_ReturnStatus WolGet(Call& c, void* buffer, unsigned length) {
    if (!OneNic(c)) return TARN_NOT_FOUND;
    KsiPnicProperties p = Props(c.state, c.instance[0]);
    uint32_t v[2] = {p.wolSupported, p.wolEnabled};
    std::memcpy(buffer, v, std::min<size_t>(length, sizeof v));
    return TARN_OK;
}

TARN_ReturnStatus MtuGet(Call& c, void* buffer, unsigned length) {
    if (!OneNic(c)) return TARN_NOT_FOUND;
    uint32_t mtu = Props(c.state, c.instance[0]).mtu;
    std::memcpy(buffer, &mtu, std::min<size_t>(length, sizeof mtu));
    return TARN_OK;
}

TARN_ReturnStatus RingSet(Call& c, const void* buffer, unsigned length) {
    if (TARN_ReturnStatus st = NativeOnly(c)) return st;
    if (length < 4 * sizeof(uint32_t)) return TARN_BAD_PARAM;
    uint32_t v[4];
    std::memcpy(v, buffer, sizeof v);
    return SetRings(c.state, c.instance[0], v[0], v[1], v[2], v[3]);
}

template <typename T>
SetStructFn NativeStruct(uint32_t node) {
    return [node](Call& c, const void* buffer, unsigned length) -> TARN_ReturnStatus {
        if (TARN_ReturnStatus st = NativeOnly(c)) return st;
        if (length < sizeof(T)) return TARN_BAD_PARAM;
        T v;
        std::memcpy(&v, buffer, sizeof v);
        c.state.Put(node, c.instance, v);
        return TARN_OK;
    };
}

// A 0/1 setting of the kernel's uplink layer (capability masks, queue
// balancing), for every driver kind; a NIC's "fixed" settings refuse changes.
NodeHandler Switch(const SettingNode& setting) {
    NodeHandler h;
    uint32_t node = setting.node;
    std::string key = setting.key;
    h.set = [node, key](Call& c) -> TARN_ReturnStatus {
        if (!OneNic(c)) return TARN_NOT_FOUND;
        if (c.state.GetAreaValue(kArea, c.instance[0] + "/fixed/" + key) == "1") return TARN_NOT_SUPPORTED;
        int64_t on = 0;
        if (!c.InputInt(0, &on) || (on != 0 && on != 1)) return TARN_BAD_PARAM;
        c.state.Put(node, c.instance, static_cast<uint32_t>(on));
        return TARN_OK;
    };
    return h;
}

TARN_ReturnStatus VirtualMacSet(Call& c) {
    if (!OneNic(c)) return TARN_NOT_FOUND;
    std::string text;
    uint8_t mac[6];
    if (!c.InputText(0, &text) || !ParseMac(text, mac)) return TARN_BAD_PARAM;
    KsiPnicProperties p = Props(c.state, c.instance[0]);
    std::memcpy(p.virtualMac, mac, 6);
    PutProps(c.state, c.instance[0], p);
    return TARN_OK;
}

TARN_ReturnStatus AllowLinkChange(Call& c) {
    if (!OneNic(c)) return TARN_NOT_FOUND;
    return TARN_OK;
}

const NodeRegistration kLinkSet(KSI_NODE_net_pNics_linkSet, SetHandler(LinkSet));
const NodeRegistration kAllow(KSI_NODE_net_pNics_allowLinkStatusChange, SetHandler(AllowLinkChange));
const NodeRegistration kMtu(KSI_NODE_net_pNics_mtu, GetSetHandler(MtuGet, MtuSet));
const NodeRegistration kWol(KSI_NODE_net_pNics_wol, GetSetHandler(WolGet, WolSet));
const NodeRegistration kRings(KSI_NODE_net_pNics_firmware_ringParams, SetStructHandler(RingSet));
const NodeRegistration kPause(KSI_NODE_net_pNics_firmware_pauseParams,
                              SetStructHandler(NativeStruct<KsiPnicPauseParams>(KSI_NODE_net_pNics_firmware_pauseParams)));
const NodeRegistration kCoalesce(KSI_NODE_net_pNics_coalesceParams,
                                 SetStructHandler(NativeStruct<KsiPnicCoalesceParams>(KSI_NODE_net_pNics_coalesceParams)));
const NodeRegistration kVirtualMac(KSI_NODE_net_pNics_virtualMac, SetHandler(VirtualMacSet));

struct SwitchRegistrations {
    SwitchRegistrations() {
        for (const SettingNode& o : kOffloadNodes) RegisterNode("", o.node, Switch(o));
        for (const SettingNode& o : kQueueNodes) RegisterNode("", o.node, Switch(o));
    }
} const kSwitches;

const SectionPartRegistration kPart("pnics", 20, InitPnics, GeneratePnics,
                                    {{"pnics", "physical NICs of a generated host", 4},
                                     {"legacy-pnics", "of those, how many use a legacy driver", 0}});

}  // namespace

}  // namespace TarnSim::Network
