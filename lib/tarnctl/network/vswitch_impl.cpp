// One standard switch: creation, port groups, the four policies (recorded as
// given, applied derived to every port group), uplinks, MTU, beaconing, CDP and
// overlays. Every change goes to the kernel first and is recorded in one store
// transaction afterwards; steps that can half-succeed put back what they did.
#include "network/vswitch_impl.h"

#include <algorithm>
#include <charconv>
#include <cstring>

#include "hostctl/exception.h"
#include "network/network_info_impl.h"
#include "network/network_policy_serializer.h"
#include "network/network_util.h"
#include "network/pnic_impl.h"
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
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;

const char* VirtualSwitchImpl::kTag = "VirtualSwitchImpl";

namespace {

const char* const kCdpTexts[] = {"down", "listen", "advertise", "both"};

// All of `text` as a decimal number that fits 64 bits.
bool ParseDecimal(const std::string& text, uint64_t* out) {
    const char* end = text.data() + text.size();
    auto [ptr, ec] = std::from_chars(text.data(), end, *out);
    return !text.empty() && ec == std::errc() && ptr == end;
}

// Applies `apply` to every port group; when one fails, `undo` puts the ones
// already changed back (failures logged) and the failure is passed on.
void ForEachPortGroup(const std::vector<std::string>& names, const std::string& vswitch,
                      const std::function<void(PortGroupImpl&)>& apply,
                      const std::function<void(PortGroupImpl&)>& undo) {
    size_t done = 0;
    try {
        for (; done < names.size(); ++done) {
            PortGroupImpl pg(names[done], vswitch);
            apply(pg);
        }
    } catch (const HostCtlException&) {
        for (size_t i = 0; i < done; ++i) {
            try {
                PortGroupImpl pg(names[i], vswitch);
                undo(pg);
            } catch (const HostCtlException& e) {
                TarnCtl_LogWarnInt("%s: Unable to restore the policy of portgroup %s: %s\n", "VirtualSwitchImpl",
                                   names[i].c_str(), e.GetDetailedMessage().c_str());
            }
        }
        throw;
    }
}

template <typename P>
P Derived(const P& configured) {
    P p = configured;
    p.Derive(P::GetDefaultPolicy());
    return p;
}

}  // namespace

VirtualSwitchImpl::VirtualSwitchImpl(const std::string& name) : PortsetImpl(name) {}

bool VirtualSwitchImpl::IsStandardSwitch(const std::string& name) {
    KsiPortsetProperties p{};
    if (!ReadProperties(name, &p) || p.systemSwitch) return false;
    std::string cls(p.switchClass, strnlen(p.switchClass, sizeof p.switchClass));
    return cls == KSI_PORTSET_CLASS_CSWITCH || cls == KSI_PORTSET_CLASS_ETHERSWITCH;
}

CdpStatus VirtualSwitchImpl::ParseCdp(const std::string& text) {
    for (uint32_t i = 0; i < 4; ++i)
        if (text == kCdpTexts[i]) return static_cast<CdpStatus>(i);
    throw HostCtlException("Invalid CDP status string");
}

// ---- Configuration ------------------------------------------------------------------------

ConfigBranchUtil VirtualSwitchImpl::GetConfigLocation(ConfigFileUtil& config, bool create) {
    auto array = config.GetArray(kVswitchArray);
    ConfigBranchUtil entry = array.FindInstanceWithValue("name", _name);
    if (entry) return entry;
    if (!create) throw HostCtlException("Unable to find vswitch at config location /net/vswitch");
    entry = array.NewInstance();
    entry.SetValue("name", _name);
    return entry;
}

void VirtualSwitchImpl::Record(const std::function<void(ConfigBranchUtil&)>& apply) {
    BootAwareTransaction t(NetStore());
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    apply(entry);
    RecordConfig(config.GetFile());
    t.Commit();
}

SwitchPolicies VirtualSwitchImpl::Configured(ConfigBranchUtil& entry) {
    SwitchPolicies p;
    NetworkPolicySerializer::LoadConfiguration(entry, p.teaming, _name, "");
    NetworkPolicySerializer::LoadConfiguration(entry, p.security, _name, "");
    NetworkPolicySerializer::LoadConfiguration(entry, p.shaping, _name, "");
    NetworkPolicySerializer::LoadConfiguration(entry, p.caps, _name, "");
    return p;
}

SwitchPolicies VirtualSwitchImpl::GetNetPolicy() {
    SwitchPolicies p = ConfiguredPolicies();
    return {Derived(p.teaming), Derived(p.security), Derived(p.shaping), Derived(p.caps)};
}

// ---- Creation and removal -----------------------------------------------------------------

void VirtualSwitchImpl::CreateVirtualSwitch(const std::string& name, uint32_t numPorts) {
    NetworkInfoImpl::IsNetworkObjectNameValid(name, true);
    const std::string cls = StandardSwitchClass();
    const std::string unsupported =
        "Portset class " + cls + " is not supported on this host. Please check the installation of supporting software.";
    Util::Sysinfo si(KSI_NODE_net_create);
    si.SetMessageForError(TARN_EXISTS, "A portset with this name already exists.  Please choose another name.");
    si.SetMessageForError(TARN_NOT_SUPPORTED, unsupported.c_str());
    si.AddInput(name);
    si.AddInput(std::to_string(numPorts ? numPorts : Portset::DEF_NUM_PORTS));
    si.AddInput(cls);
    si.AddInput(0);
    si.Set();
    VirtualSwitchImpl sw(name);
    try {
        BootAwareTransaction t(NetStore());
        SynchronizedConfigFileUtil config({SwitchSpec(name)});
        ConfigBranchUtil entry = sw.GetConfigLocation(config.GetFile(), true);
        entry.GetBranch("cdp").SetValue("status", std::string(kCdpTexts[CDP_LISTEN]));
        if (numPorts) entry.SetValue("numPorts", static_cast<int64_t>(numPorts));
        RecordConfig(config.GetFile());
        t.Commit();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to record virtual switch %s, removing it: %s\n", kTag, name.c_str(),
                           e.GetDetailedMessage().c_str());
        try {
            PortsetKernel::SetWord(DESTROY_NODES[0], {name}, "destroy", "Unable to remove portset " + name);
        } catch (const HostCtlException& undo) {
            TarnCtl_LogWarnInt("%s: %s\n", kTag, undo.GetDetailedMessage().c_str());
        }
        throw;
    }
}

void VirtualSwitchImpl::CreateVirtualSwitchWithPolicy(const NicTeamingPolicy& teaming,
                                                      const PortSecurityPolicy& security,
                                                      const ShapingPolicy& shaping, const NicCapabilities& caps,
                                                      const std::string& name, uint32_t numPorts) {
    if (!shaping.IsValid()) throw HostCtlException("Invalid shaping policy on vswitch: " + name);
    CreateVirtualSwitch(name, numPorts);
    VirtualSwitchImpl(name).SetNetPolicyInt({teaming, security, shaping, caps});
}

void VirtualSwitchImpl::Destroy() {
    std::vector<std::string> pgs = PortGroupNames();
    // Nothing is removed while any port group is in use.
    for (const std::string& pg : pgs) {
        std::vector<std::string> reasons;
        if (PortGroupImpl(pg, _name).IsInUse(reasons))
            throw HostCtlException("PortGroup \"" + pg + "\" on VirtualSwitch \"" + _name + "\" is still in use: " +
                                   JoinList(reasons));
    }
    for (const std::string& pg : pgs) PortGroupImpl(pg, _name).Destroy();
    KsiPortsetProperties p{};
    if (ReadProperties(_name, &p))
        PortsetKernel::SetInt(KSI_PS_CDP_STATUS, SwitchInstance(), CDP_DOWN, "Unable to set CDP status of " + _name);
    Util::Sysinfo si(DESTROY_NODES[0]);
    const std::string missing = "Cannot Delete non-existant portset " + _name;
    si.SetMessageForError(TARN_NOT_FOUND, missing.c_str());
    si.SetInstance(_name);
    si.AddInput("destroy");
    si.Set();
    BootAwareTransaction t(NetStore());
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    auto array = config->GetArray(kVswitchArray);
    if (array.FindInstanceWithValue("name", _name)) array.RemoveInstance("name", _name);
    RecordConfig(config.GetFile());
    t.Commit();
}

// ---- Port groups ----------------------------------------------------------------------------

std::vector<std::string> VirtualSwitchImpl::PortGroupNames() {
    return PortsetKernel::List(KSI_NODE_net_portsets_portgroups, {_name}, "Unable to list portgroups of " + _name);
}

std::vector<std::unique_ptr<PortGroup>> VirtualSwitchImpl::GetPortGroups() {
    std::vector<std::unique_ptr<PortGroup>> out;
    for (const std::string& pg : PortGroupNames()) out.push_back(std::make_unique<PortGroupImpl>(pg, _name));
    return out;
}

std::unique_ptr<PortGroup> VirtualSwitchImpl::GetPortGroupByName(const std::string& name) {
    if (PortGroupImpl::PortsetOf(name) != _name) return nullptr;
    return std::make_unique<PortGroupImpl>(name, _name);
}

void VirtualSwitchImpl::AddPortGroup(const std::string& name) {
    NetworkInfoImpl::IsNetworkObjectNameValid(name, true);
    if (PortGroupImpl::IsValidPortGroup(name)) throw HostCtlException("A portgroup with the name " + name + " already exists");
    SwitchPolicies policies = GetNetPolicy();
    try {
        PortGroupImpl::CreatePortGroupEx(name, _name, policies);
    } catch (const HostCtlException& e) {
        throw HostCtlException(std::string("Creating a port group with derived network policies failed: ") + e.what());
    }
}

void VirtualSwitchImpl::RemovePortGroup(const std::string& name) {
    if (PortGroupImpl::PortsetOf(name) != _name)
        throw HostCtlException("Portgroup: " + name + " does not belong to this vswitch: " + _name);
    PortGroupImpl(name, _name).Destroy();
}

// ---- Policies -----------------------------------------------------------------------------

PortSecurityPolicy VirtualSwitchImpl::GetSecurityPolicy() { return GetNetPolicy().security; }
NicCapabilities VirtualSwitchImpl::GetNicCapabilities() { return GetNetPolicy().caps; }
ShapingPolicy VirtualSwitchImpl::GetShapingPolicy() { return GetNetPolicy().shaping; }
NicTeamingPolicy VirtualSwitchImpl::GetTeamingPolicy() { return GetNetPolicy().teaming; }

SwitchPolicies VirtualSwitchImpl::ConfiguredPolicies() {
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    return Configured(entry);
}

PortSecurityPolicy VirtualSwitchImpl::GetConfiguredSecurityPolicy() { return ConfiguredPolicies().security; }
NicCapabilities VirtualSwitchImpl::GetConfiguredNicCapabilities() { return ConfiguredPolicies().caps; }
ShapingPolicy VirtualSwitchImpl::GetConfiguredShapingPolicy() { return ConfiguredPolicies().shaping; }
NicTeamingPolicy VirtualSwitchImpl::GetConfiguredTeamingPolicy() { return ConfiguredPolicies().teaming; }

void VirtualSwitchImpl::SetTeamingPolicy(const NicTeamingPolicy& policy) { SetTeamingPolicyInt(policy); }

void VirtualSwitchImpl::SetTeamingPolicyInt(const NicTeamingPolicy& policy) {
    SwitchPolicies before = GetNetPolicy();
    CheckBeacon(policy, "VS:" + _name);
    NicTeamingPolicy effective = Derived(policy);
    BootAwareTransaction t(NetStore());
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    ForEachPortGroup(
        PortGroupNames(), _name, [&](PortGroupImpl& pg) { pg.SetDerivedTeamingPolicy(effective); },
        [&](PortGroupImpl& pg) { pg.SetDerivedTeamingPolicy(before.teaming); });
    NetworkPolicySerializer::SaveConfiguration(entry, policy, _name, "");
    RecordConfig(config.GetFile());
    t.Commit();
    ReleaseBeacon();
}

void VirtualSwitchImpl::SetSecurityPolicy(const PortSecurityPolicy& policy) {
    SwitchPolicies before = GetNetPolicy();
    PortSecurityPolicy effective = Derived(policy);
    BootAwareTransaction t(NetStore());
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    ForEachPortGroup(
        PortGroupNames(), _name, [&](PortGroupImpl& pg) { pg.SetDerivedSecurityPolicy(effective); },
        [&](PortGroupImpl& pg) { pg.SetDerivedSecurityPolicy(before.security); });
    NetworkPolicySerializer::SaveConfiguration(entry, policy, _name, "");
    RecordConfig(config.GetFile());
    t.Commit();
}

void VirtualSwitchImpl::SetShapingPolicy(const ShapingPolicy& policy) {
    if (!policy.IsValid()) throw HostCtlException("Invalid shaping policy on vswitch: " + _name);
    SwitchPolicies before = GetNetPolicy();
    ShapingPolicy effective = Derived(policy);
    BootAwareTransaction t(NetStore());
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    ForEachPortGroup(
        PortGroupNames(), _name, [&](PortGroupImpl& pg) { pg.SetDerivedShapingPolicy(effective); },
        [&](PortGroupImpl& pg) { pg.SetDerivedShapingPolicy(before.shaping); });
    NetworkPolicySerializer::SaveConfiguration(entry, policy, _name, "");
    RecordConfig(config.GetFile());
    t.Commit();
}

void VirtualSwitchImpl::SetNicCapabilities(const NicCapabilities& caps) {
    SwitchPolicies before = GetNetPolicy();
    NicCapabilities effective = Derived(caps);
    BootAwareTransaction t(NetStore());
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    ForEachPortGroup(
        PortGroupNames(), _name, [&](PortGroupImpl& pg) { pg.SetDerivedNicCapabilities(effective); },
        [&](PortGroupImpl& pg) { pg.SetDerivedNicCapabilities(before.caps); });
    NetworkPolicySerializer::SaveConfiguration(entry, caps, _name, "");
    RecordConfig(config.GetFile());
    t.Commit();
}

void VirtualSwitchImpl::SetNetPolicyInt(const SwitchPolicies& configured) {
    if (!configured.shaping.IsValid()) throw HostCtlException("Invalid shaping policy on vswitch: " + _name);
    BootAwareTransaction t(NetStore());
    SetTeamingPolicyInt(configured.teaming);
    SetSecurityPolicy(configured.security);
    SetShapingPolicy(configured.shaping);
    SetNicCapabilities(configured.caps);
    t.Commit();
}

void VirtualSwitchImpl::FetchNetPolicyForPortGroups() {
    SwitchPolicies effective = GetNetPolicy();
    const std::string nodeClass = GetPortcfgKSINode();
    for (const std::string& name : PortGroupNames()) PortGroupImpl(name, _name, nodeClass).SetDerivedPolicies(effective);
}

// ---- Beaconing ----------------------------------------------------------------------------

void VirtualSwitchImpl::CheckBeacon(const NicTeamingPolicy& policy, const std::string& owner) {
    const LinkCriteriaSelectionPolicy& lc = policy.GetLinkCriteria();
    if (!policy.HasLinkCriteria() || !lc.HasBeacon() || lc.IsIgnored(LinkCriteriaSelectionPolicy::BEACON)) return;
    uint32_t interval = Portset::DEF_BEACON_INTERVAL, threshold = Portset::DEF_BEACON_THRESHOLD;
    {
        SynchronizedConfigFileUtil config({SwitchSpec(_name)});
        ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
        if (entry.HasBranch("beacon")) {
            ConfigBranchUtil b = entry.GetBranch("beacon");
            b.GetValue("timeout", &interval);
            b.GetValue("threshold", &threshold);
        }
    }
    TarnCtl_LogVerboseInt("%s: Beacon probing asked for by %s\n", kTag, owner.c_str());
    auto instance = SwitchInstance();
    PortsetKernel::SetInt(KSI_PS_BEACON_INTERVAL, instance, interval, "Unable to set beacon interval of " + _name);
    PortsetKernel::SetInt(KSI_PS_BEACON_THRESHOLD, instance, threshold, "Unable to set beacon threshold of " + _name);
    PortsetKernel::SetInt(KSI_PS_BEACON_ENABLE, instance, 1, "Unable to enable beaconing on " + _name);
}

std::vector<std::string> VirtualSwitchImpl::NeedBeacon() {
    std::vector<std::string> owners;
    auto sw = NetStore()->Get(SwitchStoreId(_name));
    if (!sw) return owners;
    auto asks = [](HaldenConfigStore::ConfigStoreObject& owner) {
        auto policy = owner.GetSubObject(SubObjectId("policy"));
        auto team = policy ? policy->GetSubObject(SubObjectId("nic_teaming")) : nullptr;
        std::string beacon;
        return team && team->GetValue("link_criteria_beacon", &beacon) && beacon == "TRUE";
    };
    if (asks(*sw)) owners.push_back("VS:" + _name);
    for (const auto& pg : sw->GetSubObjectInstances(SubObjectId("port_groups"))) {
        std::string name;
        if (asks(*pg) && pg->GetValue("name", &name)) owners.push_back("PG:" + name);
    }
    TarnCtl_LogInfoInt("%s: Beacon VS/PG count %ld\n", kTag, static_cast<long>(owners.size()));
    return owners;
}

void VirtualSwitchImpl::ReleaseBeacon() {
    if (!NeedBeacon().empty() || !IsBeaconEnabled()) return;
    PortsetKernel::SetInt(KSI_PS_BEACON_ENABLE, SwitchInstance(), 0, "Unable to disable beaconing on " + _name);
}

bool VirtualSwitchImpl::IsBeaconEnabled() {
    return PortsetKernel::GetInt(KSI_PS_BEACON_ENABLE, SwitchInstance(), "Unable to read beaconing of " + _name);
}

uint32_t VirtualSwitchImpl::GetBeaconInterval() {
    return PortsetKernel::GetInt(KSI_PS_BEACON_INTERVAL, SwitchInstance(), "Unable to read beacon interval of " + _name);
}

uint32_t VirtualSwitchImpl::GetBeaconThreshold() {
    return PortsetKernel::GetInt(KSI_PS_BEACON_THRESHOLD, SwitchInstance(),
                                 "Unable to read beacon threshold of " + _name);
}

void VirtualSwitchImpl::SetBeaconInterval(uint32_t seconds) {
    if (seconds < 1 || seconds > 0xffff) throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid beacon interval: %u", seconds));
    PortsetKernel::SetInt(KSI_PS_BEACON_INTERVAL, SwitchInstance(), seconds, "Unable to set beacon interval of " + _name);
    Record([&](ConfigBranchUtil& e) { e.GetBranch("beacon").SetValue("timeout", seconds); });
}

void VirtualSwitchImpl::UnsetBeaconInterval() {
    PortsetKernel::SetInt(KSI_PS_BEACON_INTERVAL, SwitchInstance(), Portset::DEF_BEACON_INTERVAL,
                          "Unable to set beacon interval of " + _name);
    Record([&](ConfigBranchUtil& e) {
        if (e.HasBranch("beacon")) e.GetBranch("beacon").Remove("timeout");
    });
}

void VirtualSwitchImpl::SetBeaconThreshold(uint32_t threshold) {
    if (threshold < 1 || threshold > 0xffff)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid beacon threshold: %u", threshold));
    PortsetKernel::SetInt(KSI_PS_BEACON_THRESHOLD, SwitchInstance(), threshold,
                          "Unable to set beacon threshold of " + _name);
    Record([&](ConfigBranchUtil& e) { e.GetBranch("beacon").SetValue("threshold", threshold); });
}

// ---- CDP, overlays, ports -----------------------------------------------------------------

CdpStatus VirtualSwitchImpl::GetCdpStatus() {
    return static_cast<CdpStatus>(
        PortsetKernel::GetInt(KSI_PS_CDP_STATUS, SwitchInstance(), "Unable to read CDP status of " + _name));
}

std::string VirtualSwitchImpl::GetCdpStatusString() {
    uint32_t s = GetCdpStatus();
    return s < 4 ? kCdpTexts[s] : "unknown";
}

void VirtualSwitchImpl::SetCdpStatus(CdpStatus status) {
    if (status > CDP_BOTH) throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid CDP status: %u", status));
    PortsetKernel::SetInt(KSI_PS_CDP_STATUS, SwitchInstance(), status, "Unable to set CDP status of " + _name);
    Record([&](ConfigBranchUtil& e) { e.GetBranch("cdp").SetValue("status", std::string(kCdpTexts[status])); });
}

void VirtualSwitchImpl::UnsetCdpStatus() {
    PortsetKernel::SetInt(KSI_PS_CDP_STATUS, SwitchInstance(), CDP_LISTEN, "Unable to set CDP status of " + _name);
    Record([&](ConfigBranchUtil& e) {
        if (e.HasBranch("cdp")) e.GetBranch("cdp").Remove("status");
    });
}

std::string VirtualSwitchImpl::GetOverlayForIndex(uint8_t index) {
    KsiPortsetOverlay o{};
    if (!PortsetKernel::GetStruct(KSI_NODE_net_portsets_overlays, {_name, std::to_string(index)}, &o, sizeof o))
        return "";
    return std::string(o.name, strnlen(o.name, sizeof o.name));
}

void VirtualSwitchImpl::SetOverlayForIndex(uint8_t index, const std::string& name) {
    if (name.size() >= sizeof(KsiPortsetOverlay::name))
        throw HostCtlException("Invalid overlay name (too long): '" + name + "'");
    PortsetKernel::SetWord(KSI_NODE_net_portsets_overlays, {_name, std::to_string(index)}, name,
                           "Unable to set overlay " + std::to_string(index) + " of " + _name);
    Record([&](ConfigBranchUtil& e) {
        auto array = e.GetBranch("overlays").GetArray("child");
        ConfigBranchUtil o = array.FindInstanceWithValue("overlayId", std::to_string(index));
        if (name.empty()) {
            if (o) array.RemoveInstance("overlayId", std::to_string(index));
            return;
        }
        if (!o) {
            o = array.NewInstance();
            o.SetValue("overlayId", static_cast<uint32_t>(index));
        }
        o.SetValue("overlay", name);
    });
}

uint32_t VirtualSwitchImpl::GetFlags() { return Properties().systemSwitch; }
void VirtualSwitchImpl::SetType(const std::string& type) {
    // A standard switch has one type of its own; the enhanced data path is a
    // mode this host does not run.
    if (type == GetType()) return;
    if (type == "ens" || type == "ens-interrupt") ThrowNotAvailable("Enhanced switching");
    throw HostCtlException("Invalid virtual switch type: '" + type + "'");
}

void VirtualSwitchImpl::SetNumPorts(uint32_t) {
    TarnCtl_LogWarnInt("%s: SetNumPorts is deprecated for virtual switch %s\n", kTag, _name.c_str());
}

void VirtualSwitchImpl::UnsetNumPorts() { Record([](ConfigBranchUtil& e) { e.Remove("numPorts"); }); }

uint32_t VirtualSwitchImpl::GetNumConfiguredPorts() {
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    uint32_t n = Portset::DEF_NUM_PORTS;
    entry.GetValue("numPorts", &n);
    return n;
}

uint32_t VirtualSwitchImpl::GetPortsInUse() { return Properties().portsInUse; }

uint32_t VirtualSwitchImpl::GetPortsAvailable() {
    KsiPortsetProperties p = Properties();
    return p.numPorts > p.portsInUse ? p.numPorts - p.portsInUse : 0;
}

KsiPortsetAccessPorts VirtualSwitchImpl::AccessPorts() {
    KsiPortsetAccessPorts a{};
    if (!PortsetKernel::GetStruct(KSI_NODE_net_portsets_accessPorts, {_name}, &a, sizeof a))
        throw HostCtlException("Unable to find portset " + _name);
    return a;
}

uint32_t VirtualSwitchImpl::GetNumAccessPorts() { return AccessPorts().total; }
uint32_t VirtualSwitchImpl::GetNumAccessPortsInUse() { return AccessPorts().inUse; }

void VirtualSwitchImpl::RequireUplink(const std::string& uplink) {
    std::vector<std::string> linked = GetUplinks(false);
    if (std::find(linked.begin(), linked.end(), uplink) == linked.end())
        throw HostCtlException("No such uplink: " + uplink);
}

std::vector<std::pair<uint16_t, uint64_t>> VirtualSwitchImpl::GetUplinkVlanStats(const std::string& uplink) {
    RequireUplink(uplink);
    std::vector<std::string> entries;
    const std::string disabled = "VLAN statistics are not enabled on uplink " + uplink;
    Util::Sysinfo si(KSI_NODE_net_portsets_uplinks_vlanStats);
    si.SetMessageForError(TARN_INVALID_STATE, disabled.c_str());
    si.AddInstancePath(_name);
    si.AddInstancePath(uplink);
    si.List(entries);
    std::vector<std::pair<uint16_t, uint64_t>> out;
    out.reserve(entries.size());
    for (const std::string& e : entries) out.push_back(ParseVlanStat(e));
    return out;
}

std::pair<uint16_t, uint64_t> VirtualSwitchImpl::ParseVlanStat(const std::string& entry) {
    const auto bad = [&] { return HostCtlException("Invalid VLAN statistics entry from the kernel: '" + entry + "'"); };
    size_t colon = entry.find(':');
    if (colon == std::string::npos) throw bad();
    uint64_t vlan = 0, packets = 0;
    if (!ParseDecimal(entry.substr(0, colon), &vlan) || vlan > PortGroup::MAX_VLAN_ID ||
        !ParseDecimal(entry.substr(colon + 1), &packets))
        throw bad();
    return {static_cast<uint16_t>(vlan), packets};
}

void VirtualSwitchImpl::SetUplinkVlanStatsEnabled(const std::string& uplink, bool on) {
    RequireUplink(uplink);
    // Counting is a diagnostic of the running kernel: nothing is recorded.
    PortsetKernel::SetInt(KSI_NODE_net_portsets_uplinks_vlanStats, {_name, uplink}, on ? 1 : 0,
                          "Unable to " + std::string(on ? "enable" : "disable") + " VLAN statistics on uplink " + uplink);
}

std::vector<uint32_t> VirtualSwitchImpl::GetPortList() {
    std::vector<uint32_t> out;
    for (const KsiPortInfo& p : GetPortInfos()) out.push_back(p.portId);
    return out;
}
void VirtualSwitchImpl::ActivateFastPath(const std::string&) { ThrowNotAvailable("The switch fast path"); }
void VirtualSwitchImpl::DeactivateFastPath() { ThrowNotAvailable("The switch fast path"); }
void VirtualSwitchImpl::RefreshEns() { ThrowNotAvailable("Enhanced switching"); }
std::string VirtualSwitchImpl::GetEnsInfo() { ThrowNotAvailable("Enhanced switching"); }

// ---- MTU ----------------------------------------------------------------------------------

void VirtualSwitchImpl::SetMTU(uint32_t mtu) {
    if (mtu < TarnNic::MIN_MTU || mtu > TarnNic::MAX_MTU)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Unable to set MTU. Valid MTU values are %u-%u",
                                                        TarnNic::MIN_MTU, TarnNic::MAX_MTU));
    SetMTUInternal(mtu);
    Record([&](ConfigBranchUtil& e) { e.SetValue("mtu", mtu); });
}

void VirtualSwitchImpl::UnsetMTU() {
    SetMTUInternal(Portset::DEF_MTU);
    Record([](ConfigBranchUtil& e) { e.Remove("mtu"); });
}

void VirtualSwitchImpl::SetMTUInternal(uint32_t mtu) {
    const uint32_t old = GetMTU();
    PortsetKernel::SetInt(KSI_NODE_net_portsets_mtu, {_name}, mtu, "Unable to set MTU of portset " + _name);
    std::vector<std::string> uplinks = GetUplinks(false), refused;
    for (const std::string& nic : uplinks) {
        try {
            PnicImpl(nic).SetMTU(mtu);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Uplink %s refused MTU %u: %s\n", kTag, nic.c_str(), mtu,
                               e.GetDetailedMessage().c_str());
            refused.push_back(nic);
        }
    }
    if (refused.empty()) return;
    try {
        PortsetKernel::SetInt(KSI_NODE_net_portsets_mtu, {_name}, old, "Unable to restore MTU of portset " + _name);
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to restore MTU setting for %s: %s\n", kTag, _name.c_str(),
                           e.GetDetailedMessage().c_str());
    }
    for (const std::string& nic : uplinks) {
        try {
            PnicImpl(nic).SetMTU(old);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to restore MTU setting for %s: %s\n", kTag, nic.c_str(),
                               e.GetDetailedMessage().c_str());
        }
    }
    throw HostCtlException(HostCtl::Misc::StrPrintf(
        "Unable to set MTU to %u. The following uplinks refused the MTU setting: %s", mtu, JoinList(refused).c_str()));
}

// ---- Uplinks ------------------------------------------------------------------------------

void VirtualSwitchImpl::HandleUplinkUpdatePolicies(const std::string& nic, bool add) {
    std::vector<std::string> uplinks = GetUplinks(true);
    // Port groups with an order of their own are recorded first; the switch
    // step then applies every port group's derived teaming at once.
    for (const std::string& pg : PortGroupNames()) PortGroupImpl(pg, _name).UpdateUplinkOrder(nic, add);
    SetTeamingPolicyInt(WithUplink(GetConfiguredTeamingPolicy(), nic, add, uplinks));
}

void VirtualSwitchImpl::AddUplink(const std::string& nic, bool updatePolicies) {
    if (!PnicImpl::IsValidPnic(nic)) throw HostCtlException("Not a valid pnic: " + nic);
    std::vector<std::string> linked = GetUplinks(false);
    if (std::find(linked.begin(), linked.end(), nic) != linked.end())
        throw HostCtlException("Uplink already exists: " + nic);
    PnicImpl pnic(nic);
    const uint32_t oldMtu = pnic.GetMTU(), mtu = GetMTU();
    bool mtuChanged = false, mtuFailed = false, isLinked = false;
    try {
        BootAwareTransaction t(NetStore());
        if (oldMtu != mtu) {
            try {
                pnic.SetMTU(mtu);
            } catch (const HostCtlException&) {
                mtuFailed = true;
                throw;
            }
            mtuChanged = true;
        }
        PortsetKernel::SetWord(LINK_NODES[0], {_name}, nic, "Unable to link " + nic + " to " + _name);
        isLinked = true;
        {
            SynchronizedConfigFileUtil config({SwitchSpec(_name)});
            ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
            entry.GetBranch("uplinks").GetArray("child").NewInstance().SetValue("pnic", nic);
            RecordConfig(config.GetFile());
            if (updatePolicies) HandleUplinkUpdatePolicies(nic, true);
        }
        t.Commit();
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Unable to Add Uplink %s: %s\n", kTag, nic.c_str(), e.GetDetailedMessage().c_str());
        if (mtuChanged) {
            try {
                pnic.SetMTU(oldMtu);
            } catch (const HostCtlException& undo) {
                TarnCtl_LogWarnInt("%s: Unable to restore MTU setting for %s: %s\n", kTag, nic.c_str(),
                                   undo.GetDetailedMessage().c_str());
            }
        }
        if (isLinked) {
            try {
                PortsetKernel::SetWord(UNLINK_NODES[0], {_name}, nic, "Unable to unlink " + nic + " from " + _name);
            } catch (const HostCtlException& undo) {
                TarnCtl_LogWarnInt("%s: %s\n", kTag, undo.GetDetailedMessage().c_str());
            }
        }
        if (mtuFailed)
            throw HostCtlException(
                "Unable to add uplink! The MTU setting used by this virtual switch is not supported by the NIC being "
                "added.");
        throw;
    }
}

void VirtualSwitchImpl::RemoveUplink(const std::string& nic, bool updatePolicies) {
    std::vector<std::string> linked = GetUplinks(false);
    if (std::find(linked.begin(), linked.end(), nic) == linked.end()) throw HostCtlException("No such uplink: " + nic);
    BootAwareTransaction t(NetStore());
    SynchronizedConfigFileUtil config({SwitchSpec(_name)});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    if (updatePolicies) HandleUplinkUpdatePolicies(nic, false);
    PortsetKernel::SetWord(UNLINK_NODES[0], {_name}, nic, "Unable to unlink " + nic + " from " + _name);
    try {
        PnicImpl(nic).SetMTU(Portset::DEF_MTU);
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to restore MTU setting for %s: %s\n", kTag, nic.c_str(),
                           e.GetDetailedMessage().c_str());
    }
    if (entry.HasBranch("uplinks")) {
        auto array = entry.GetBranch("uplinks").GetArray("child");
        if (array.FindInstanceWithValue("pnic", nic)) array.RemoveInstance("pnic", nic);
    }
    RecordConfig(config.GetFile());
    t.Commit();
}

// ---- Printing -----------------------------------------------------------------------------

void VirtualSwitchImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("VirtualSwitch");
    printer->Print("Name", _name);
    printer->Print("Class", GetSwitchClass());
    printer->Print("Num Ports", GetNumPorts());
    printer->Print("Used Ports", GetPortsInUse());
    printer->Print("MTU", GetMTU());
    printer->Print("CDP Status", GetCdpStatusString());
    printer->Print("Beacon Enabled", IsBeaconEnabled());
    printer->Print("Uplinks", JoinList(GetUplinks(false)));
    printer->Print("Portgroups", JoinList(PortGroupNames()));
}

}  // namespace TarnCtl::Network
