// One port group: creation with policies derived from its switch, VLAN, the
// four policies (recorded as the port group sets them, applied derived from the
// switch's effective policy), guest VLAN filters, fence id, rename and removal.
// Port groups are looked up by name in the kernel, one lookup whatever the
// size of the host.
#include "network/portgroup_impl.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "hostctl/exception.h"
#include "network/network_info_impl.h"
#include "network/network_policy_serializer.h"
#include "network/network_util.h"
#include "network/pnic_impl.h"
#include "network/vswitch_impl.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using ConfigStoreUtil::ConfigBranchUtil;
using ConfigStoreUtil::ConfigFileUtil;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HaldenConfigStore::BootAwareTransaction;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "PortGroup";

// Team flags: base word, notify switch, rolling restoration, order being rebuilt.
constexpr long kTeamFlagsBase = 20;
constexpr long kTeamFlagsNotify = 52;
constexpr long kTeamFlagsRolling = 8;
constexpr long kTeamFlagsRebuild = 64;
// Link criteria word, and with beacon probing in use.
constexpr long kLinkCriteria = 640;
constexpr long kLinkCriteriaBeacon = 672;

std::string NameLengthError(const std::string& name) { return "Invalid name (too long/short): '" + name + "'"; }

bool ValidLength(const std::string& name) { return !name.empty() && name.size() <= KSI_PORTGROUP_NAME_MAX; }

KsiPortgroupInfo ReadInfo(const std::string& cls, const std::string& name, bool* found) {
    KsiPortgroupInfo info{};
    *found = PortsetKernel::GetStruct(KSI_PG_CREATE, {cls, name}, &info, sizeof info);
    return info;
}

std::string RangesText(const std::vector<VlanRange>& ranges) {
    std::string out;
    for (const VlanRange& r : ranges)
        out += (out.empty() ? "" : ",") + std::to_string(r.first) + "-" + std::to_string(r.last);
    return out;
}

std::vector<VlanRange> ParseRanges(const std::string& text) {
    std::vector<std::string> parts;
    HostCtl::Misc::StringTokenize(text, parts, ",");
    std::vector<VlanRange> out;
    for (const std::string& p : parts) {
        unsigned first = 0, last = 0;
        if (std::sscanf(p.c_str(), "%u-%u", &first, &last) == 2 && first <= last && last <= PortGroup::MAX_VLAN_ID)
            out.push_back({static_cast<uint16_t>(first), static_cast<uint16_t>(last)});
    }
    return out;
}

void CheckRanges(const std::vector<VlanRange>& ranges) {
    if (ranges.size() > KSI_GUEST_VLAN_MAX_RANGES)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Too many guest VLAN ranges: %zu (at most %u)", ranges.size(),
                                                        KSI_GUEST_VLAN_MAX_RANGES));
    for (const VlanRange& r : ranges)
        if (r.first > r.last || r.last > PortGroup::MAX_VLAN_ID)
            throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid guest VLAN range: %u-%u", r.first, r.last));
}

}  // namespace

PortGroupImpl::PortGroupImpl(const std::string& name, const std::string& vswitch)
    : _name(name), _vswitch(vswitch), _class(PortsetImpl::GetPortcfgKSINode()) {}

PortGroupImpl::PortGroupImpl(const std::string& name, const std::string& vswitch, const std::string& nodeClass)
    : _name(name), _vswitch(vswitch), _class(nodeClass) {}

std::vector<std::string> PortGroupImpl::Instance() const { return {_class, _name}; }

bool PortGroupImpl::IsValidPortGroup(const std::string& name, const std::string& nodeClass) {
    bool found = false;
    ReadInfo(nodeClass.empty() ? PortsetImpl::GetPortcfgKSINode() : nodeClass, name, &found);
    return found;
}

std::string PortGroupImpl::PortsetOf(const std::string& name) {
    bool found = false;
    KsiPortgroupInfo info = ReadInfo(PortsetImpl::GetPortcfgKSINode(), name, &found);
    return found ? std::string(info.portset, strnlen(info.portset, sizeof info.portset)) : "";
}

std::vector<std::string> PortGroupImpl::ListAll() {
    return PortsetKernel::List(KSI_PG_CREATE, {PortsetImpl::GetPortcfgKSINode()}, "Unable to list portgroups");
}

// ---- Configuration ------------------------------------------------------------------------

ConfigBranchUtil PortGroupImpl::GetConfigLocation(ConfigFileUtil& config) {
    ConfigBranchUtil sw = config.GetArray(kVswitchArray).FindInstanceWithValue("name", _vswitch);
    if (!sw) throw HostCtlException("Unable to find Vswitch configuration for " + _vswitch);
    auto array = sw.GetBranch("portgroup").GetArray("child");
    ConfigBranchUtil entry = array.FindInstanceWithValue("name", _name);
    if (!entry) {
        entry = array.NewInstance();
        entry.SetValue("name", _name);
    }
    entry.RegisterConfigStoreId("port_groups/" + std::to_string(entry.GetArrayIndex()));
    return entry;
}

void PortGroupImpl::Record(const std::function<void(ConfigBranchUtil&)>& apply) {
    BootAwareTransaction t(NetStore());
    SynchronizedConfigFileUtil config({SwitchSpec(_vswitch)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile());
    apply(entry);
    RecordConfig(config.GetFile());
    t.Commit();
}

SwitchPolicies PortGroupImpl::SwitchEffective() { return VirtualSwitchImpl(_vswitch).GetNetPolicy(); }

// ---- Creation and removal -----------------------------------------------------------------

void PortGroupImpl::CreatePortGroupInternal(const std::string& name, const std::string& vswitch,
                                            const std::string& nodeClass) {
    if (!ValidLength(name)) throw HostCtlException(NameLengthError(name));
    KernelStep("Unable to create portgroup " + name + " on " + vswitch, [&] {
        Util::Sysinfo si(KSI_PG_CREATE);
        si.SetInstance(nodeClass.empty() ? PortsetImpl::GetPortcfgKSINode() : nodeClass);
        si.AddInput(name);
        si.AddInput(vswitch);
        si.Set();
    });
}

void PortGroupImpl::CreatePortGroupEx(const std::string& name, const std::string& vswitch,
                                      const SwitchPolicies& policies) {
    CreatePortGroupInternal(name, vswitch);
    PortGroupImpl pg(name, vswitch);
    try {
        BootAwareTransaction t(NetStore());
        {
            SynchronizedConfigFileUtil config({SwitchSpec(vswitch)});
            ConfigBranchUtil entry = pg.GetConfigLocation(config.GetFile());
            entry.SetValue("vlanId", static_cast<int64_t>(0));
            RecordConfig(config.GetFile());
        }
        try {
            pg.SetDerivedTeamingPolicy(policies.teaming);
            pg.SetDerivedNicCapabilities(policies.caps);
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Unable to apply derived network policy: %s\n", kTag,
                                e.GetDetailedMessage().c_str());
            throw;
        }
        t.Commit();
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Unable to create portgroup with derived network policy: %s\n", kTag,
                            e.GetDetailedMessage().c_str());
        try {
            pg.DestroyInternal();
        } catch (const HostCtlException& undo) {
            TarnCtl_LogWarnInt("%s: %s\n", kTag, undo.GetDetailedMessage().c_str());
        }
        throw;
    }
}

void PortGroupImpl::DestroyInternal() {
    PortsetKernel::SetWord(KSI_PG_CREATE, Instance(), "destroy", "Unable to destroy portgroup " + _name);
}

bool PortGroupImpl::IsInUse(std::vector<std::string>& reasons) {
    bool found = false;
    KsiPortgroupInfo info = ReadInfo(_class, _name, &found);
    if (!found) return false;
    if (info.activePorts) reasons.push_back(std::to_string(info.activePorts) + " active ports");
    for (uint32_t i = 0; i < info.tarnNics; ++i) reasons.push_back("Tarnos NIC");
    return !reasons.empty();
}

void PortGroupImpl::Destroy() {
    std::vector<std::string> reasons;
    if (IsInUse(reasons))
        throw HostCtlException("Unable to delete portgroup \"" + _name + "\", for the following reasons: " +
                               JoinList(reasons));
    DestroyInternal();
    {
        BootAwareTransaction t(NetStore());
        SynchronizedConfigFileUtil config({SwitchSpec(_vswitch)});
        ConfigBranchUtil sw = config->GetArray(kVswitchArray).FindInstanceWithValue("name", _vswitch);
        if (sw && sw.HasBranch("portgroup")) {
            auto array = sw.GetBranch("portgroup").GetArray("child");
            if (array.FindInstanceWithValue("name", _name)) array.RemoveInstance("name", _name);
        }
        RecordConfig(config.GetFile());
        t.Commit();
    }
    // The port group may have been the last one asking for beacon probing.
    VirtualSwitchImpl(_vswitch).ReleaseBeacon();
}

void PortGroupImpl::SetName(const std::string& name) {
    NetworkInfoImpl::IsNetworkObjectNameValid(name, true);
    if (!ValidLength(name)) throw HostCtlException(NameLengthError(name));
    if (IsValidPortGroup(name)) throw HostCtlException("A portgroup with the name " + name + " Already exists");
    KsiPortgroupShaper shaper{};
    bool hasShaper = PortsetKernel::GetStruct(KSI_NODE_net_portgroups_shaper, Instance(), &shaper, sizeof shaper);
    KernelStep("Unable to rename portgroup " + _name + " to " + name, [&] {
        Util::Sysinfo si(KSI_PG_CREATE);
        si.SetInstance(_class);
        si.AddInstancePath(_name);
        si.AddInput("rename");
        si.AddInput(name);
        si.Set();
    });
    const std::string old = _name;
    try {
        _name = name;
        if (hasShaper)
            PortsetKernel::SetStruct(KSI_NODE_net_portgroups_shaper, Instance(), &shaper, sizeof shaper,
                                     "Unable to carry the shaper of " + old + " over to " + name);
        BootAwareTransaction t(NetStore());
        SynchronizedConfigFileUtil config({SwitchSpec(_vswitch)});
        ConfigBranchUtil sw = config->GetArray(kVswitchArray).FindInstanceWithValue("name", _vswitch);
        if (!sw) throw HostCtlException("Unable to find Vswitch configuration for " + _vswitch);
        ConfigBranchUtil entry = sw.GetBranch("portgroup").GetArray("child").FindInstanceWithValue("name", old);
        if (!entry) throw HostCtlException("Unable to find configuration of portgroup " + old);
        entry.SetValue("name", name);
        RecordConfig(config.GetFile());
        t.Commit();
    } catch (const HostCtlException&) {
        // The kernel port group takes its old name back.
        try {
            Util::Sysinfo si(KSI_PG_CREATE);
            si.SetInstance(_class);
            si.AddInstancePath(name);
            si.AddInput("rename");
            si.AddInput(old);
            si.Set();
            if (hasShaper)
                PortsetKernel::SetStruct(KSI_NODE_net_portgroups_shaper, {_class, old}, &shaper, sizeof shaper,
                                         "Unable to restore the shaper of " + old);
        } catch (const HostCtlException& undo) {
            TarnCtl_LogWarnInt("%s: Unable to restore the name of portgroup %s: %s\n", kTag, old.c_str(),
                               undo.GetDetailedMessage().c_str());
        }
        _name = old;
        throw;
    }
}

// ---- VLAN, clients ------------------------------------------------------------------------

uint32_t PortGroupImpl::GetVlanId() {
    return PortsetKernel::GetInt(KSI_PG_VLAN_ID, Instance(), "Unable to read the vlan id of portgroup " + _name);
}

void PortGroupImpl::SetVlanIdInternal(uint32_t id) {
    if (id > MAX_VLAN_ID) throw HostCtlException("Invalid vlan id: " + std::to_string(id));
    uint32_t mode = id == 0 ? KSI_VLAN_MODE_UNTAGGED : id == MAX_VLAN_ID ? KSI_VLAN_MODE_ALL : KSI_VLAN_MODE_TAGGED;
    KernelStep("Unable to set vlan id " + std::to_string(id) + " on portgroup " + _name, [&] {
        Util::Sysinfo si(KSI_PG_VLAN);
        si.SetInstance(_class);
        si.AddInstancePath(_name);
        si.AddInput(id);
        si.AddInput(mode);
        si.Set();
    });
}

void PortGroupImpl::SetVlanId(uint32_t id) {
    SetVlanIdInternal(id);
    Record([&](ConfigBranchUtil& e) { e.SetValue("vlanId", static_cast<int64_t>(id)); });
}

void PortGroupImpl::UnsetVlanId() { SetVlanId(0); }

std::unique_ptr<VirtualSwitch> PortGroupImpl::GetVirtualSwitch() {
    return std::make_unique<VirtualSwitchImpl>(_vswitch);
}

uint32_t PortGroupImpl::GetActiveClients() {
    bool found = false;
    KsiPortgroupInfo info = ReadInfo(_class, _name, &found);
    return found ? info.activePorts + info.tarnNics : 0;
}

bool PortGroupImpl::IsZombie() { return !IsValidPortGroup(_name); }

std::vector<uint32_t> PortGroupImpl::GetPorts() {
    std::vector<uint32_t> out;
    for (const KsiPortInfo& p : VirtualSwitchImpl(_vswitch).GetPortInfos())
        if (std::string(p.portgroup, strnlen(p.portgroup, sizeof p.portgroup)) == _name) out.push_back(p.portId);
    return out;
}

std::vector<std::string> PortGroupImpl::GetKernelUplinkOrder() {
    return PortsetKernel::List(KSI_PG_UPLINK_ORDER, Instance(), "Unable to read the teaming order of portgroup " + _name);
}

// ---- Policies -----------------------------------------------------------------------------

SwitchPolicies PortGroupImpl::OwnPolicies() {
    SwitchPolicies own;
    SynchronizedConfigFileUtil config({SwitchSpec(_vswitch)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile());
    NetworkPolicySerializer::LoadConfiguration(entry, own.teaming, _vswitch, _name);
    NetworkPolicySerializer::LoadConfiguration(entry, own.security, _vswitch, _name);
    NetworkPolicySerializer::LoadConfiguration(entry, own.shaping, _vswitch, _name);
    NetworkPolicySerializer::LoadConfiguration(entry, own.caps, _vswitch, _name);
    return own;
}

PortSecurityPolicy PortGroupImpl::GetConfiguredSecurityPolicy() { return OwnPolicies().security; }
NicCapabilities PortGroupImpl::GetConfiguredNicCapabilities() { return OwnPolicies().caps; }
ShapingPolicy PortGroupImpl::GetConfiguredShapingPolicy() { return OwnPolicies().shaping; }
NicTeamingPolicy PortGroupImpl::GetConfiguredTeamingPolicy() { return OwnPolicies().teaming; }

PortSecurityPolicy PortGroupImpl::GetSecurityPolicy() {
    PortSecurityPolicy p = GetConfiguredSecurityPolicy();
    p.Derive(SwitchEffective().security);
    return p;
}
NicCapabilities PortGroupImpl::GetNicCapabilities() {
    NicCapabilities p = GetConfiguredNicCapabilities();
    p.Derive(SwitchEffective().caps);
    return p;
}
ShapingPolicy PortGroupImpl::GetShapingPolicy() {
    ShapingPolicy p = GetConfiguredShapingPolicy();
    p.Derive(SwitchEffective().shaping);
    return p;
}
NicTeamingPolicy PortGroupImpl::GetTeamingPolicy() {
    NicTeamingPolicy p = GetConfiguredTeamingPolicy();
    p.Derive(SwitchEffective().teaming);
    return p;
}

void PortGroupImpl::SetDerivedTeamingPolicy(const NicTeamingPolicy& switchPolicy) {
    NicTeamingPolicy p = GetConfiguredTeamingPolicy();
    p.Derive(switchPolicy);
    ApplyTeamingPolicy(p);
}
void PortGroupImpl::SetDerivedSecurityPolicy(const PortSecurityPolicy& switchPolicy) {
    PortSecurityPolicy p = GetConfiguredSecurityPolicy();
    p.Derive(switchPolicy);
    ApplySecurityPolicy(p);
}
void PortGroupImpl::SetDerivedShapingPolicy(const ShapingPolicy& switchPolicy) {
    ShapingPolicy p = GetConfiguredShapingPolicy();
    p.Derive(switchPolicy);
    ApplyShapingPolicy(p);
}
void PortGroupImpl::SetDerivedNicCapabilities(const NicCapabilities& switchCaps) {
    NicCapabilities p = GetConfiguredNicCapabilities();
    p.Derive(switchCaps);
    ApplyNicCapabilities(p);
}

void PortGroupImpl::SetDerivedPolicies(const SwitchPolicies& sw) {
    SwitchPolicies own = OwnPolicies();
    own.teaming.Derive(sw.teaming);
    own.security.Derive(sw.security);
    own.shaping.Derive(sw.shaping);
    own.caps.Derive(sw.caps);
    ApplyTeamingPolicy(own.teaming);
    ApplySecurityPolicy(own.security);
    ApplyShapingPolicy(own.shaping);
    ApplyNicCapabilities(own.caps);
}

void PortGroupImpl::SetTeamingPolicy(const NicTeamingPolicy& policy) {
    VirtualSwitchImpl sw(_vswitch);
    NicTeamingPolicy effective = policy;
    effective.Derive(sw.GetNetPolicy().teaming);
    sw.CheckBeacon(policy, "PG:" + _name);
    ApplyTeamingPolicy(effective);
    Record([&](ConfigBranchUtil& e) { NetworkPolicySerializer::SaveConfiguration(e, policy, _vswitch, _name); });
    sw.ReleaseBeacon();
}

void PortGroupImpl::SetSecurityPolicy(const PortSecurityPolicy& policy) {
    PortSecurityPolicy effective = policy;
    effective.Derive(SwitchEffective().security);
    ApplySecurityPolicy(effective);
    Record([&](ConfigBranchUtil& e) { NetworkPolicySerializer::SaveConfiguration(e, policy, _vswitch, _name); });
}

void PortGroupImpl::SetShapingPolicy(const ShapingPolicy& policy) {
    ShapingPolicy effective = policy;
    effective.Derive(SwitchEffective().shaping);
    ApplyShapingPolicy(effective);
    Record([&](ConfigBranchUtil& e) { NetworkPolicySerializer::SaveConfiguration(e, policy, _vswitch, _name); });
}

void PortGroupImpl::SetNicCapabilities(const NicCapabilities& caps) {
    NicCapabilities effective = caps;
    effective.Derive(SwitchEffective().caps);
    ApplyNicCapabilities(effective);
    Record([&](ConfigBranchUtil& e) { NetworkPolicySerializer::SaveConfiguration(e, caps, _vswitch, _name); });
}

void PortGroupImpl::UpdateUplinkOrder(const std::string& nic, bool add) {
    NicTeamingPolicy own = GetConfiguredTeamingPolicy();
    if (!own.HasUplinkOrder()) return;
    NicTeamingPolicy updated = WithUplink(own, nic, add, {});
    if (updated == own) return;
    Record([&](ConfigBranchUtil& e) { NetworkPolicySerializer::SaveConfiguration(e, updated, _vswitch, _name); });
}

// ---- Kernel writes of the policies --------------------------------------------------------

void PortGroupImpl::ApplyTeamingPolicy(const NicTeamingPolicy& p) {
    const std::vector<std::string> inst = Instance();
    const std::string what = "Unable to set teaming policy on portgroup " + _name;
    if (p.HasTeamingPolicy()) PortsetKernel::SetInt(KSI_PG_TEAM_POLICY, inst, p.GetTeamingPolicy(), what);
    long flags = kTeamFlagsBase;
    if (p.HasNotifySwitch() && p.GetNotifySwitch()) flags = kTeamFlagsNotify;
    if (p.HasRollingRestoration() && p.GetRollingRestoration()) flags += kTeamFlagsRolling;
    PortsetKernel::SetInt(KSI_PG_TEAM_FLAGS, inst, flags, what);
    if (p.HasLinkCriteria()) {
        const LinkCriteriaSelectionPolicy& lc = p.GetLinkCriteria();
        bool beacon = lc.HasBeacon() && !lc.IsIgnored(LinkCriteriaSelectionPolicy::BEACON);
        PortsetKernel::SetInt(KSI_PG_LINK_CRITERIA, inst, beacon ? kLinkCriteriaBeacon : kLinkCriteria, what);
    }
    if (!p.HasUplinkOrder()) return;
    PortsetKernel::SetInt(KSI_PG_TEAM_FLAGS, inst, flags + kTeamFlagsRebuild, what);
    for (const std::string& uplink : PortsetKernel::List(KSI_PG_UPLINK_ORDER, inst, what)) {
        std::vector<std::string> path = inst;
        path.push_back(uplink);
        PortsetKernel::SetWord(KSI_PG_UPLINK_ORDER, path, "remove", what);
    }
    for (const std::string& listed : p.GetUplinkOrder()) {
        std::string nic = listed;
        if (!PnicImpl::IsValidPnic(nic)) {
            // NIC names can change between boots: try the name it has now.
            nic = PnicImpl::GetNewNicName(listed);
            if (nic.empty()) TarnCtl_LogWarnInt("%s: Unable to find mapping for %s\n", kTag, listed.c_str());
            if (nic.empty() || !PnicImpl::IsValidPnic(nic)) {
                TarnCtl_LogWarnInt("%s: Not a valid pnic: %s for teaming on portgroup: %s\n", kTag, listed.c_str(),
                                   _name.c_str());
                continue;
            }
        }
        std::vector<std::string> path = inst;
        path.push_back(nic);
        KernelStep(what, [&] {
            Util::Sysinfo si(KSI_PG_UPLINK_ADD);
            for (const std::string& key : path) si.AddInstancePath(key);
            si.Set();
        });
    }
    PortsetKernel::SetInt(KSI_PG_MAX_ACTIVE, inst, std::max(0, p.GetMaxActiveUplinks()), what);
    PortsetKernel::SetInt(KSI_PG_TEAM_FLAGS, inst, flags, what);
}

void PortGroupImpl::ApplySecurityPolicy(const PortSecurityPolicy& p) {
    KsiPortgroupSecurity s{p.GetFlags(), p.GetAllowPromiscuous(), p.GetAllowMacAddressChange(),
                           p.GetAllowForgedTransmits()};
    PortsetKernel::SetStruct(KSI_PG_SECURITY, Instance(), &s, sizeof s,
                             "Unable to set security policy on portgroup " + _name);
}

void PortGroupImpl::ApplyShapingPolicy(const ShapingPolicy& p) {
    if (!p.IsValid()) throw HostCtlException("Invalid shaper policy on portgroup: " + _name);
    ShapingPolicy v = p.FillValues();
    KsiPortgroupShaper s{v.GetEnabled(), 0, v.GetPeakBps(), v.GetAverageBps(), v.GetBurstSize()};
    PortsetKernel::SetStruct(KSI_NODE_net_portgroups_shaper, Instance(), &s, sizeof s,
                             "Unable to set shaping policy on portgroup " + _name);
}

void PortGroupImpl::ApplyNicCapabilities(const NicCapabilities& caps) {
    KsiPortgroupCaps c{caps.GetFlags(), caps.GetMask()};
    PortsetKernel::SetStruct(KSI_PG_CAPABILITIES, Instance(), &c, sizeof c,
                             "Unable to set capabilities on portgroup " + _name);
}

// ---- Guest VLANs, fence id ----------------------------------------------------------------

std::vector<VlanRange> PortGroupImpl::GetGuestVlanFilters() {
    KsiGuestVlanFilters f{};
    std::vector<VlanRange> out;
    if (!PortsetKernel::GetStruct(KSI_NODE_net_portgroups_guestVlans, Instance(), &f, sizeof f)) return out;
    for (uint32_t i = 0; i < f.count && i < KSI_GUEST_VLAN_MAX_RANGES; ++i)
        out.push_back({f.ranges[i].first, f.ranges[i].last});
    return out;
}

void PortGroupImpl::SetGuestVlanFilters(const std::vector<VlanRange>& filters) {
    CheckRanges(filters);
    KsiGuestVlanFilters f{};
    f.count = static_cast<uint32_t>(filters.size());
    for (size_t i = 0; i < filters.size(); ++i) f.ranges[i] = {filters[i].first, filters[i].last};
    PortsetKernel::SetStruct(KSI_NODE_net_portgroups_guestVlans, Instance(), &f, sizeof f,
                             "Unable to set guest VLAN filters on portgroup " + _name);
    Record([&](ConfigBranchUtil& e) {
        if (filters.empty()) {
            e.Remove("guestVlans");
        } else {
            e.SetValue("guestVlans", RangesText(filters));
        }
    });
}

void PortGroupImpl::AddGuestVlanFilter(const VlanRange& filter) {
    std::vector<VlanRange> filters = GetGuestVlanFilters();
    if (std::find(filters.begin(), filters.end(), filter) != filters.end()) return;
    filters.push_back(filter);
    SetGuestVlanFilters(filters);
}

void PortGroupImpl::ClearGuestVlanFilters() { SetGuestVlanFilters({}); }

uint32_t PortGroupImpl::GetFenceId() {
    uint32_t id = 0;
    PortsetKernel::GetStruct(KSI_PG_FENCE_ID, Instance(), &id, sizeof id);
    return id;
}

void PortGroupImpl::SetFenceId(uint32_t id) {
    PortsetKernel::SetInt(KSI_PG_FENCE_ID, Instance(), id, "Unable to set fence id on portgroup " + _name);
    Record([&](ConfigBranchUtil& e) { e.SetValue("fenceId", static_cast<int64_t>(id)); });
}

// ---- Boot ---------------------------------------------------------------------------------

void PortGroupImpl::Restore() {
    int64_t vlan = 0, fence = -1;
    std::string ranges;
    {
        SynchronizedConfigFileUtil config({SwitchSpec(_vswitch)});
        ConfigBranchUtil entry = GetConfigLocation(config.GetFile());
        entry.GetValue("vlanId", &vlan);
        entry.GetValue("fenceId", &fence);
        entry.GetValue("guestVlans", &ranges);
    }
    if (vlan < 0 || vlan > MAX_VLAN_ID) throw HostCtlException("Invalid vlan id: " + std::to_string(vlan));
    if (vlan != 0) SetVlanIdInternal(static_cast<uint32_t>(vlan));
    if (fence >= 0 && fence <= 0xffffffffLL)
        PortsetKernel::SetInt(KSI_PG_FENCE_ID, Instance(), static_cast<long>(fence),
                              "Unable to set fence id on portgroup " + _name);
    if (!ranges.empty()) {
        std::vector<VlanRange> filters = ParseRanges(ranges);
        if (filters.size() > KSI_GUEST_VLAN_MAX_RANGES) filters.resize(KSI_GUEST_VLAN_MAX_RANGES);
        KsiGuestVlanFilters f{};
        f.count = static_cast<uint32_t>(filters.size());
        for (size_t i = 0; i < filters.size(); ++i) f.ranges[i] = {filters[i].first, filters[i].last};
        PortsetKernel::SetStruct(KSI_NODE_net_portgroups_guestVlans, Instance(), &f, sizeof f,
                                 "Unable to set guest VLAN filters on portgroup " + _name);
    }
}

void PortGroupImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("PortGroup");
    printer->Print("Name", _name);
    printer->Print("Virtual Switch", _vswitch);
    printer->Print("VLAN ID", GetVlanId());
    printer->Print("Active Clients", GetActiveClients());
}

}  // namespace TarnCtl::Network
