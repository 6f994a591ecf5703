// The simulated kernel's port sets (standard switches) and port groups:
// creation and destruction, uplinks linked in order, the port-set MTU (the
// uplinks' own MTUs stay with the NICs), overlays, and the numeric nodes of
// switch and port-group settings (ksi/network.h). The "portsets" slice of the
// "network" profile section: {"classes": ["cswitch", "etherswitch"]} lists the
// port-set classes this kernel supports (both by default). Port groups are
// found by name across the whole host in one lookup, as the kernel keys them.
// Connected ports and kernel NICs of a port group are fields of its record
// that tests and later areas fill in; the port list, the access ports and
// the ports in use are counted from them when asked. A port set gets the
// smallest free number at creation (its port ids carry it). Per-uplink VLAN
// statistics come from the slice's "vlanStats": {"pnx0": {"100": packets}}.
// "accessPorts" (default 16) is the number of access ports of every port set.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "hostctl/status.h"
#include "ksi/network.h"
#include "network_model.h"
#include "platform/misc.h"

namespace TarnSim::Network {

namespace {

const char* kArea = "network.portsets";

// Records of one port group, moved together by a rename (the shaper excepted:
// the library carries it over itself) and removed together by a destroy.
const uint32_t kPortgroupNodes[] = {
    KSI_PG_CREATE,      KSI_PG_CAPABILITIES, KSI_PG_TEAM_POLICY,   KSI_PG_TEAM_FLAGS,
    KSI_PG_LINK_CRITERIA, KSI_PG_MAX_ACTIVE, KSI_PG_SECURITY,      KSI_PG_FENCE_ID,
    KSI_NODE_net_portgroups_guestVlans,
};
const uint32_t kSwitchNodes[] = {KSI_PS_CDP_STATUS, KSI_PS_BEACON_INTERVAL, KSI_PS_BEACON_ENABLE,
                                 KSI_PS_BEACON_THRESHOLD};

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> out;
    HostCtl::Misc::StringTokenize(text, out, ",");
    return out;
}
std::string Join(const std::vector<std::string>& list) {
    std::string out;
    for (const std::string& s : list) out += (out.empty() ? "" : ",") + s;
    return out;
}

void PutList(KernelState& s, const std::string& key, const std::vector<std::string>& list) {
    if (list.empty()) {
        s.RemoveAreaValue(kArea, key);
    } else {
        s.SetAreaValue(kArea, key, Join(list));
    }
}

std::string UplinksKey(const std::string& ps) { return "uplinks/" + ps; }
std::string UplinkOfKey(const std::string& nic) { return "uplinkOf/" + nic; }
std::string OrderKey(const std::string& cls, const std::string& pg) { return "order/" + cls + "/" + pg; }
std::string NumberKey(const std::string& ps) { return "number/" + ps; }
std::string VlanStatsKey(const std::string& nic) { return "vlanStats/" + nic; }
std::string VlanStatsOnKey(const std::string& ps, const std::string& nic) { return "vlanStatsOn/" + ps + "/" + nic; }

bool ReadPortset(const KernelState& s, const std::string& ps, KsiPortsetProperties* out) {
    return s.Read(KSI_NODE_net_portsets_properties, {ps}, out);
}

bool IsPgClass(const std::string& cls) {
    return cls == KSI_PORTCFG_CLASS || cls == KSI_PORTSET_CLASS_ETHERSWITCH;
}

// The port group addressed by the first two instance keys.
bool ReadPortgroup(const Call& c, KsiPortgroupInfo* out) {
    return c.instance.size() >= 2 && IsPgClass(c.instance[0]) &&
           c.state.Read(KSI_PG_CREATE, {c.instance[0], c.instance[1]}, out);
}

// ---- Port sets ----------------------------------------------------------------------------

TARN_ReturnStatus CreatePortset(Call& c) {
    std::string name, ports, cls;
    int64_t flags = 0;
    if (!c.InputText(0, &name) || !c.InputText(1, &ports) || !c.InputText(2, &cls) || !c.InputInt(3, &flags))
        return TARN_MISSING_PARAMETER;
    if (name.empty() || name.size() > KSI_PORTSET_NAME_MAX) return TARN_BAD_PARAM;
    char* end = nullptr;
    unsigned long n = std::strtoul(ports.c_str(), &end, 10);
    if (ports.empty() || *end || n == 0 || n > 65535) return TARN_BAD_PARAM;
    auto classes = Split(c.state.GetAreaValue(kArea, "classes", "cswitch,etherswitch"));
    if (std::find(classes.begin(), classes.end(), cls) == classes.end()) return TARN_NOT_SUPPORTED;
    if (c.state.Has("", KSI_NODE_net_portsets_properties, {name})) return TARN_EXISTS;
    KsiPortsetProperties p{};
    CopyText(p.name, name);
    CopyText(p.switchClass, cls);
    p.numPorts = static_cast<uint32_t>(n);
    p.mtu = 1500;
    c.state.Put(KSI_NODE_net_portsets_properties, {name}, p);
    std::vector<bool> used(1, true);
    for (const std::string& key : c.state.AreaKeys(kArea)) {
        if (key.rfind("number/", 0) != 0) continue;
        unsigned long taken = std::strtoul(c.state.GetAreaValue(kArea, key).c_str(), nullptr, 10);
        if (taken >= used.size()) used.resize(taken + 1, false);
        used[taken] = true;
    }
    size_t number = std::find(used.begin(), used.end(), false) - used.begin();
    c.state.SetAreaValue(kArea, NumberKey(name), std::to_string(number));
    // A new switch listens for link discovery, with beaconing off at its defaults.
    const uint32_t defaults[] = {1, 5, 0, 3};
    for (size_t i = 0; i < 4; ++i) c.state.Put(kSwitchNodes[i], {cls, name}, defaults[i]);
    return TARN_OK;
}

TARN_ReturnStatus DestroyPortset(Call& c) {
    std::string word;
    if (c.instance.size() != 1 || !c.InputText(0, &word) || word != "destroy") return TARN_BAD_PARAM;
    const std::string& ps = c.instance[0];
    KsiPortsetProperties p{};
    if (!ReadPortset(c.state, ps, &p)) return TARN_NOT_FOUND;
    if (!c.state.Instances("", KSI_NODE_net_portsets_portgroups, {ps}).empty()) return TARN_BUSY;
    for (const std::string& nic : Split(c.state.GetAreaValue(kArea, UplinksKey(ps)))) {
        c.state.RemoveAreaValue(kArea, UplinkOfKey(nic));
        c.state.RemoveAreaValue(kArea, VlanStatsOnKey(ps, nic));
    }
    c.state.RemoveAreaValue(kArea, UplinksKey(ps));
    c.state.RemoveAreaValue(kArea, NumberKey(ps));
    std::string cls = FieldText(p.switchClass, sizeof p.switchClass);
    for (uint32_t node : kSwitchNodes) c.state.Remove("", node, {cls, ps});
    for (const std::string& idx : c.state.Instances("", KSI_NODE_net_portsets_overlays, {ps}))
        c.state.Remove("", KSI_NODE_net_portsets_overlays, {ps, idx});
    c.state.Remove("", KSI_NODE_net_portsets_properties, {ps});
    return TARN_OK;
}

TARN_ReturnStatus GetProperties(Call& c, void* buffer, unsigned length) {
    if (c.instance.size() != 1) return TARN_NOT_FOUND;
    const std::string& ps = c.instance[0];
    KsiPortsetProperties p{};
    if (!ReadPortset(c.state, ps, &p)) return TARN_NOT_FOUND;
    // Ports in use are counted when asked: uplinks plus what each port group holds.
    uint32_t inUse = static_cast<uint32_t>(Split(c.state.GetAreaValue(kArea, UplinksKey(ps))).size());
    for (const std::string& pg : c.state.Instances("", KSI_NODE_net_portsets_portgroups, {ps})) {
        const std::string* cls = c.state.Find("", KSI_NODE_net_portsets_portgroups, {ps, pg});
        KsiPortgroupInfo info{};
        if (cls && c.state.Read(KSI_PG_CREATE, {*cls, pg}, &info)) inUse += info.activePorts + info.tarnNics;
    }
    p.portsInUse = inUse;
    std::memcpy(buffer, &p, std::min<size_t>(length, sizeof p));
    return TARN_OK;
}

TARN_ReturnStatus SetPortsetMtu(Call& c) {
    int64_t mtu = 0;
    KsiPortsetProperties p{};
    if (c.instance.size() != 1 || !ReadPortset(c.state, c.instance[0], &p)) return TARN_NOT_FOUND;
    if (!c.InputInt(0, &mtu) || mtu < 1280 || mtu > 9190) return TARN_BAD_PARAM;
    p.mtu = static_cast<uint32_t>(mtu);
    c.state.Put(KSI_NODE_net_portsets_properties, c.instance, p);
    return TARN_OK;
}

TARN_ReturnStatus GetPortsetMtu(Call& c, void* buffer, unsigned length) {
    KsiPortsetProperties p{};
    if (c.instance.size() != 1 || !ReadPortset(c.state, c.instance[0], &p)) return TARN_NOT_FOUND;
    std::memcpy(buffer, &p.mtu, std::min<size_t>(length, sizeof p.mtu));
    return TARN_OK;
}

TARN_ReturnStatus Link(Call& c) {
    std::string nic;
    if (c.instance.size() != 1 || !c.state.Has("", KSI_NODE_net_portsets_properties, c.instance)) return TARN_NOT_FOUND;
    if (!c.InputText(0, &nic)) return TARN_MISSING_PARAMETER;
    if (!c.state.Has("", KSI_NODE_net_pNics, {nic})) return TARN_NOT_FOUND;
    if (c.state.HasAreaValue(kArea, UplinkOfKey(nic))) return TARN_BUSY;
    auto list = Split(c.state.GetAreaValue(kArea, UplinksKey(c.instance[0])));
    list.push_back(nic);
    PutList(c.state, UplinksKey(c.instance[0]), list);
    c.state.SetAreaValue(kArea, UplinkOfKey(nic), c.instance[0]);
    return TARN_OK;
}

TARN_ReturnStatus Unlink(Call& c) {
    std::string nic;
    if (c.instance.size() != 1 || !c.state.Has("", KSI_NODE_net_portsets_properties, c.instance)) return TARN_NOT_FOUND;
    if (!c.InputText(0, &nic)) return TARN_MISSING_PARAMETER;
    auto list = Split(c.state.GetAreaValue(kArea, UplinksKey(c.instance[0])));
    auto it = std::find(list.begin(), list.end(), nic);
    if (it == list.end()) return TARN_NOT_FOUND;
    list.erase(it);
    PutList(c.state, UplinksKey(c.instance[0]), list);
    c.state.RemoveAreaValue(kArea, UplinkOfKey(nic));
    c.state.RemoveAreaValue(kArea, VlanStatsOnKey(c.instance[0], nic));
    return TARN_OK;
}

TARN_ReturnStatus ListUplinks(Call& c, std::vector<std::string>* out) {
    if (c.instance.size() != 1 || !c.state.Has("", KSI_NODE_net_portsets_properties, c.instance)) return TARN_NOT_FOUND;
    *out = Split(c.state.GetAreaValue(kArea, UplinksKey(c.instance[0])));
    return TARN_OK;
}

TARN_ReturnStatus ListPortsets(Call& c, std::vector<std::string>* out) {
    *out = c.state.Instances("", KSI_NODE_net_portsets_properties);
    return TARN_OK;
}

TARN_ReturnStatus SetOverlay(Call& c) {
    std::string name;
    if (c.instance.size() != 2 || !c.state.Has("", KSI_NODE_net_portsets_properties, {c.instance[0]}))
        return TARN_NOT_FOUND;
    char* end = nullptr;
    unsigned long idx = std::strtoul(c.instance[1].c_str(), &end, 10);
    if (c.instance[1].empty() || *end || idx > 255) return TARN_BAD_PARAM;
    if (!c.InputText(0, &name)) return TARN_MISSING_PARAMETER;
    if (name.size() >= sizeof(KsiPortsetOverlay::name)) return TARN_BAD_PARAM;
    if (name.empty()) {
        c.state.Remove("", KSI_NODE_net_portsets_overlays, c.instance);
        return TARN_OK;
    }
    KsiPortsetOverlay o{};
    CopyText(o.name, name);
    c.state.Put(KSI_NODE_net_portsets_overlays, c.instance, o);
    return TARN_OK;
}

// ---- Ports --------------------------------------------------------------------------------

// Every port of `ps` in slot order, counted from its uplinks and the clients
// of its port groups.
std::vector<KsiPortInfo> Ports(const KernelState& s, const std::string& ps) {
    std::vector<KsiPortInfo> out;
    const uint32_t base = static_cast<uint32_t>(std::strtoul(s.GetAreaValue(kArea, NumberKey(ps)).c_str(), nullptr, 10))
                          << 16;
    auto add = [&](uint32_t type, const std::string& pg, const std::string& client) {
        KsiPortInfo port{};
        port.portId = base | static_cast<uint32_t>(out.size() + 1);
        port.type = type;
        CopyText(port.portgroup, pg);
        CopyText(port.client, client);
        out.push_back(port);
    };
    for (const std::string& nic : Split(s.GetAreaValue(kArea, UplinksKey(ps)))) add(KSI_PORT_UPLINK, "", nic);
    for (const std::string& pg : s.Instances("", KSI_NODE_net_portsets_portgroups, {ps})) {
        const std::string* cls = s.Find("", KSI_NODE_net_portsets_portgroups, {ps, pg});
        KsiPortgroupInfo info{};
        if (!cls || !s.Read(KSI_PG_CREATE, {*cls, pg}, &info)) continue;
        uint32_t n = 0;
        for (uint32_t i = 0; i < info.activePorts; ++i) add(KSI_PORT_VM, pg, pg + "." + std::to_string(++n));
        for (uint32_t i = 0; i < info.tarnNics; ++i) add(KSI_PORT_ACCESS, pg, pg + "." + std::to_string(++n));
    }
    return out;
}

TARN_ReturnStatus ListPorts(Call& c, std::vector<std::string>* out) {
    if (c.instance.size() != 1 || !c.state.Has("", KSI_NODE_net_portsets_properties, c.instance)) return TARN_NOT_FOUND;
    for (const KsiPortInfo& p : Ports(c.state, c.instance[0])) out->push_back(std::to_string(p.portId));
    return TARN_OK;
}

TARN_ReturnStatus GetPort(Call& c, void* buffer, unsigned length) {
    if (c.instance.size() != 2 || !c.state.Has("", KSI_NODE_net_portsets_properties, {c.instance[0]}))
        return TARN_NOT_FOUND;
    for (const KsiPortInfo& p : Ports(c.state, c.instance[0]))
        if (std::to_string(p.portId) == c.instance[1]) {
            std::memcpy(buffer, &p, std::min<size_t>(length, sizeof p));
            return TARN_OK;
        }
    return TARN_NOT_FOUND;
}

TARN_ReturnStatus GetAccessPorts(Call& c, void* buffer, unsigned length) {
    KsiPortsetProperties p{};
    if (c.instance.size() != 1 || !ReadPortset(c.state, c.instance[0], &p)) return TARN_NOT_FOUND;
    KsiPortsetAccessPorts a{};
    a.total = std::min<uint32_t>(p.numPorts, static_cast<uint32_t>(std::strtoul(
                                                 c.state.GetAreaValue(kArea, "accessPorts", "16").c_str(), nullptr, 10)));
    for (const KsiPortInfo& port : Ports(c.state, c.instance[0]))
        if (port.type == KSI_PORT_ACCESS) ++a.inUse;
    std::memcpy(buffer, &a, std::min<size_t>(length, sizeof a));
    return TARN_OK;
}

bool IsUplinkOf(const KernelState& s, const std::string& ps, const std::string& nic) {
    return s.GetAreaValue(kArea, UplinkOfKey(nic)) == ps;
}

TARN_ReturnStatus SetVlanStats(Call& c) {
    int64_t on = 0;
    if (c.instance.size() != 2 || !IsUplinkOf(c.state, c.instance[0], c.instance[1])) return TARN_NOT_FOUND;
    if (!c.InputInt(0, &on) || (on != 0 && on != 1)) return TARN_BAD_PARAM;
    if (on) {
        c.state.SetAreaValue(kArea, VlanStatsOnKey(c.instance[0], c.instance[1]), "1");
    } else {
        c.state.RemoveAreaValue(kArea, VlanStatsOnKey(c.instance[0], c.instance[1]));
    }
    return TARN_OK;
}

TARN_ReturnStatus ListVlanStats(Call& c, std::vector<std::string>* out) {
    if (c.instance.size() != 2 || !IsUplinkOf(c.state, c.instance[0], c.instance[1])) return TARN_NOT_FOUND;
    if (!c.state.HasAreaValue(kArea, VlanStatsOnKey(c.instance[0], c.instance[1]))) return TARN_INVALID_STATE;
    *out = Split(c.state.GetAreaValue(kArea, VlanStatsKey(c.instance[1])));
    return TARN_OK;
}

// ---- Switch settings ----------------------------------------------------------------------

// A 32-bit setting of 0..max on an object `exists` finds by the call's two-part instance.
NodeHandler BoundedInt(uint32_t node, int64_t max, bool (*exists)(Call& c)) {
    NodeHandler h;
    h.set = [node, max, exists](Call& c) {
        int64_t v = 0;
        if (c.instance.size() != 2 || !exists(c)) return TARN_NOT_FOUND;
        if (!c.InputInt(0, &v) || v < 0 || v > max) return TARN_BAD_PARAM;
        c.state.Put(node, c.instance, static_cast<uint32_t>(v));
        return TARN_OK;
    };
    return h;
}

NodeHandler SwitchInt(uint32_t node, int64_t max) {
    return BoundedInt(node, max, [](Call& c) {
        KsiPortsetProperties p{};
        return ReadPortset(c.state, c.instance[1], &p) && FieldText(p.switchClass, sizeof p.switchClass) == c.instance[0];
    });
}

// ---- Port groups --------------------------------------------------------------------------

void RemovePortgroupRecords(KernelState& s, const std::string& cls, const std::string& pg) {
    for (uint32_t node : kPortgroupNodes) s.Remove("", node, {cls, pg});
    s.Remove("", KSI_NODE_net_portgroups_shaper, {cls, pg});
    s.RemoveAreaValue(kArea, OrderKey(cls, pg));
}

TARN_ReturnStatus PortgroupCommand(Call& c) {
    if (c.instance.size() == 1) {  // create
        std::string pg, ps;
        if (!IsPgClass(c.instance[0])) return TARN_BAD_PARAM;
        if (!c.InputText(0, &pg) || !c.InputText(1, &ps)) return TARN_MISSING_PARAMETER;
        if (pg.empty() || pg.size() > KSI_PORTGROUP_NAME_MAX) return TARN_BAD_PARAM;
        if (!c.state.Has("", KSI_NODE_net_portsets_properties, {ps})) return TARN_NOT_FOUND;
        if (c.state.Has("", KSI_PG_CREATE, {c.instance[0], pg})) return TARN_EXISTS;
        KsiPortgroupInfo info{};
        CopyText(info.name, pg);
        CopyText(info.portset, ps);
        info.vlanMode = KSI_VLAN_MODE_UNTAGGED;
        c.state.Put(KSI_PG_CREATE, {c.instance[0], pg}, info);
        c.state.Write("", KSI_NODE_net_portsets_portgroups, {ps, pg}, c.instance[0].data(), c.instance[0].size());
        return TARN_OK;
    }
    KsiPortgroupInfo info{};
    if (c.instance.size() != 2 || !ReadPortgroup(c, &info)) return TARN_NOT_FOUND;
    const std::string cls = c.instance[0], pg = c.instance[1];
    std::string ps = FieldText(info.portset, sizeof info.portset);
    std::string word;
    if (!c.InputText(0, &word)) return TARN_MISSING_PARAMETER;
    if (word == "destroy") {
        if (info.activePorts || info.tarnNics) return TARN_BUSY;
        RemovePortgroupRecords(c.state, cls, pg);
        c.state.Remove("", KSI_NODE_net_portsets_portgroups, {ps, pg});
        return TARN_OK;
    }
    if (word != "rename") return TARN_BAD_PARAM;
    std::string to;
    if (!c.InputText(1, &to)) return TARN_MISSING_PARAMETER;
    if (to.empty() || to.size() > KSI_PORTGROUP_NAME_MAX) return TARN_BAD_PARAM;
    if (c.state.Has("", KSI_PG_CREATE, {cls, to})) return TARN_EXISTS;
    for (uint32_t node : kPortgroupNodes) {
        const std::string* r = c.state.Find("", node, {cls, pg});
        if (!r) continue;
        std::string copy = *r;
        c.state.Write("", node, {cls, to}, copy.data(), copy.size());
    }
    std::string order = c.state.GetAreaValue(kArea, OrderKey(cls, pg));
    RemovePortgroupRecords(c.state, cls, pg);
    if (!order.empty()) c.state.SetAreaValue(kArea, OrderKey(cls, to), order);
    CopyText(info.name, to);
    c.state.Put(KSI_PG_CREATE, {cls, to}, info);
    c.state.Remove("", KSI_NODE_net_portsets_portgroups, {ps, pg});
    c.state.Write("", KSI_NODE_net_portsets_portgroups, {ps, to}, cls.data(), cls.size());
    return TARN_OK;
}

NodeHandler PortgroupInt(uint32_t node, int64_t max) {
    return BoundedInt(node, max, [](Call& c) {
        KsiPortgroupInfo info{};
        return ReadPortgroup(c, &info);
    });
}

template <typename T>
NodeHandler PortgroupStruct(uint32_t node) {
    NodeHandler h;
    h.setStruct = [node](Call& c, const void* buffer, unsigned length) {
        KsiPortgroupInfo info{};
        if (c.instance.size() != 2 || !ReadPortgroup(c, &info)) return TARN_NOT_FOUND;
        if (length != sizeof(T)) return TARN_BAD_PARAM;
        c.state.Write("", node, c.instance, buffer, length);
        return TARN_OK;
    };
    return h;
}

TARN_ReturnStatus SetVlan(Call& c) {
    int64_t id = 0, mode = 0;
    KsiPortgroupInfo info{};
    if (c.instance.size() != 2 || !ReadPortgroup(c, &info)) return TARN_NOT_FOUND;
    if (!c.InputInt(0, &id) || !c.InputInt(1, &mode)) return TARN_MISSING_PARAMETER;
    if (id < 0 || id > 4095) return TARN_BAD_PARAM;
    if (mode != KSI_VLAN_MODE_ALL && mode != KSI_VLAN_MODE_UNTAGGED && mode != KSI_VLAN_MODE_TAGGED)
        return TARN_BAD_PARAM;
    info.vlanId = static_cast<uint32_t>(id);
    info.vlanMode = static_cast<uint32_t>(mode);
    c.state.Put(KSI_PG_CREATE, c.instance, info);
    return TARN_OK;
}

TARN_ReturnStatus GetVlanId(Call& c, void* buffer, unsigned length) {
    KsiPortgroupInfo info{};
    if (c.instance.size() != 2 || !ReadPortgroup(c, &info)) return TARN_NOT_FOUND;
    std::memcpy(buffer, &info.vlanId, std::min<size_t>(length, sizeof info.vlanId));
    return TARN_OK;
}

TARN_ReturnStatus AddToOrder(Call& c) {
    KsiPortgroupInfo info{};
    if (c.instance.size() != 3 || !ReadPortgroup(c, &info)) return TARN_NOT_FOUND;
    const std::string& nic = c.instance[2];
    if (!c.state.Has("", KSI_NODE_net_pNics, {nic})) return TARN_NOT_FOUND;
    std::string key = OrderKey(c.instance[0], c.instance[1]);
    auto order = Split(c.state.GetAreaValue(kArea, key));
    if (std::find(order.begin(), order.end(), nic) != order.end()) return TARN_EXISTS;
    order.push_back(nic);
    PutList(c.state, key, order);
    return TARN_OK;
}

TARN_ReturnStatus RemoveFromOrder(Call& c) {
    std::string word;
    KsiPortgroupInfo info{};
    if (c.instance.size() != 3 || !ReadPortgroup(c, &info)) return TARN_NOT_FOUND;
    if (!c.InputText(0, &word) || word != "remove") return TARN_BAD_PARAM;
    std::string key = OrderKey(c.instance[0], c.instance[1]);
    auto order = Split(c.state.GetAreaValue(kArea, key));
    auto it = std::find(order.begin(), order.end(), c.instance[2]);
    if (it == order.end()) return TARN_NOT_FOUND;
    order.erase(it);
    PutList(c.state, key, order);
    return TARN_OK;
}

TARN_ReturnStatus ListOrder(Call& c, std::vector<std::string>* out) {
    KsiPortgroupInfo info{};
    if (c.instance.size() != 2 || !ReadPortgroup(c, &info)) return TARN_NOT_FOUND;
    *out = Split(c.state.GetAreaValue(kArea, OrderKey(c.instance[0], c.instance[1])));
    return TARN_OK;
}

// ---- Registration -------------------------------------------------------------------------

const NodeRegistration kCreate(KSI_NODE_net_create, SetHandler(CreatePortset));
const NodeRegistration kPortsets(KSI_NODE_net_portsets, ListHandler(ListPortsets));
const NodeRegistration kProperties(KSI_NODE_net_portsets_properties, GetSetHandler(GetProperties, nullptr));
const NodeRegistration kMtu(KSI_NODE_net_portsets_mtu, GetSetHandler(GetPortsetMtu, SetPortsetMtu));
const NodeRegistration kLink(KSI_NODE_net_portsets_link, SetHandler(Link));
const NodeRegistration kUnlink(KSI_NODE_net_portsets_unlink, SetHandler(Unlink));
const NodeRegistration kDestroy(KSI_NODE_net_portsets_destroy, SetHandler(DestroyPortset));
const NodeRegistration kUplinks(KSI_NODE_net_portsets_uplinks, ListHandler(ListUplinks));
const NodeRegistration kOverlays(KSI_NODE_net_portsets_overlays, SetHandler(SetOverlay));
const NodeRegistration kPorts(KSI_NODE_net_portsets_ports, [] {
    NodeHandler h;
    h.get = GetPort;
    h.list = ListPorts;
    return h;
}());
const NodeRegistration kAccessPorts(KSI_NODE_net_portsets_accessPorts, GetSetHandler(GetAccessPorts, nullptr));
const NodeRegistration kVlanStats(KSI_NODE_net_portsets_uplinks_vlanStats, [] {
    NodeHandler h;
    h.set = SetVlanStats;
    h.list = ListVlanStats;
    return h;
}());

const NodeRegistration kCdp(KSI_PS_CDP_STATUS, SwitchInt(KSI_PS_CDP_STATUS, 3));
const NodeRegistration kBeaconInterval(KSI_PS_BEACON_INTERVAL, SwitchInt(KSI_PS_BEACON_INTERVAL, 0xffff));
const NodeRegistration kBeaconEnable(KSI_PS_BEACON_ENABLE, SwitchInt(KSI_PS_BEACON_ENABLE, 1));
const NodeRegistration kBeaconThreshold(KSI_PS_BEACON_THRESHOLD, SwitchInt(KSI_PS_BEACON_THRESHOLD, 0xffff));

const NodeRegistration kPortgroup(KSI_PG_CREATE, SetHandler(PortgroupCommand));
const NodeRegistration kCaps(KSI_PG_CAPABILITIES, PortgroupStruct<KsiPortgroupCaps>(KSI_PG_CAPABILITIES));
const NodeRegistration kTeam(KSI_PG_TEAM_POLICY, PortgroupInt(KSI_PG_TEAM_POLICY, 4));
const NodeRegistration kFlags(KSI_PG_TEAM_FLAGS, PortgroupInt(KSI_PG_TEAM_FLAGS, 0xffff));
const NodeRegistration kCriteria(KSI_PG_LINK_CRITERIA, PortgroupInt(KSI_PG_LINK_CRITERIA, 0xffff));
const NodeRegistration kMaxActive(KSI_PG_MAX_ACTIVE, PortgroupInt(KSI_PG_MAX_ACTIVE, 128));
const NodeRegistration kOrderAdd(KSI_PG_UPLINK_ADD, SetHandler(AddToOrder));
const NodeRegistration kOrder(KSI_PG_UPLINK_ORDER, [] {
    NodeHandler h;
    h.set = RemoveFromOrder;
    h.list = ListOrder;
    return h;
}());
const NodeRegistration kSecurity(KSI_PG_SECURITY, PortgroupStruct<KsiPortgroupSecurity>(KSI_PG_SECURITY));
const NodeRegistration kVlan(KSI_PG_VLAN, SetHandler(SetVlan));
const NodeRegistration kVlanId(KSI_PG_VLAN_ID, GetSetHandler(GetVlanId, nullptr));
const NodeRegistration kFence(KSI_PG_FENCE_ID, PortgroupInt(KSI_PG_FENCE_ID, 0xffffffffLL));
const NodeRegistration kShaper(KSI_NODE_net_portgroups_shaper,
                               PortgroupStruct<KsiPortgroupShaper>(KSI_NODE_net_portgroups_shaper));
const NodeRegistration kGuestVlans(KSI_NODE_net_portgroups_guestVlans,
                                   PortgroupStruct<KsiGuestVlanFilters>(KSI_NODE_net_portgroups_guestVlans));

void InitPortsets(KernelState& s, const rapidjson::Value* network) {
    const rapidjson::Value* p = network ? Object(*network, "portsets") : nullptr;
    std::vector<std::string> classes;
    if (p)
        if (const rapidjson::Value* list = Array(*p, "classes"))
            for (const auto& v : list->GetArray())
                if (v.IsString()) classes.push_back(v.GetString());
    s.SetAreaValue(kArea, "classes", classes.empty() ? "cswitch,etherswitch" : Join(classes));
    s.SetAreaValue(kArea, "accessPorts", std::to_string(p ? std::max<int64_t>(0, Int(*p, "accessPorts", 16)) : 16));
    if (const rapidjson::Value* stats = p ? Object(*p, "vlanStats") : nullptr)
        for (const auto& nic : stats->GetObject()) {
            if (!nic.value.IsObject()) continue;
            std::vector<std::string> entries;
            for (const auto& vlan : nic.value.GetObject())
                if (vlan.value.IsUint64())
                    entries.push_back(std::string(vlan.name.GetString()) + ":" + std::to_string(vlan.value.GetUint64()));
            PutList(s, VlanStatsKey(nic.name.GetString()), entries);
        }
}

const SectionPartRegistration kPart("portsets", 30, InitPortsets);

}  // namespace

}  // namespace TarnSim::Network
