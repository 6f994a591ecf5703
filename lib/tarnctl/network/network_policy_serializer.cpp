// Policy and address values to configuration entries and back. Teaming lives
// in the switch's (or port group's) store object and is written there in one
// transaction; the tree's "teamPolicy" branch is rebuilt to match, so that the
// tree and the store agree until the next read. Security, shaping,
// capabilities and IP settings go through the tree; removed items are also
// taken out of the store object at once.
#include "network/network_policy_serializer.h"

#include <strings.h>

#include "hostctl/exception.h"
#include "network/network_util.h"
#include "network/pnic_impl.h"
#include "platform/log.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;

namespace {

const char* const kTeamNames[] = {"NONE", "LOADBALANCE_IP", "LOADBALANCE_SRCMAC", "LOADBALANCE_SRCID",
                                  "FAILOVER_EXPLICIT", nullptr};
const char* const kIgnore = "ignore";  // LinkCriteriaSelectionPolicy::IGNORE_STR

ConfigStoreObjectId SwitchId(const std::string& vswitch) {
    return ConfigStoreObjectId(kSwitches, kNetworkVss, kHalden, vswitch);
}

std::shared_ptr<ConfigStoreObject> SwitchObject(const std::string& vswitch) {
    auto o = NetStore()->Get(SwitchId(vswitch));
    if (!o) throw HostCtlException("Unable to find configuration of virtual switch " + vswitch);
    return o;
}

template <typename T>
void SetOrRemove(ConfigStoreObject& o, const std::string& name, bool set, const T& value) {
    if (set) {
        o.SetValue(name, value);
    } else {
        o.Remove(name);
    }
}

// Takes `fields` out of the store's copy of a policy right away (a removal the
// tree alone would not carry to the store).
void RemoveFromStore(const std::string& vswitch, const std::string& portGroup, const std::string& subPolicy,
                     const std::vector<std::string>& fields) {
    if (vswitch.empty() || fields.empty() || IsBootMode()) return;
    auto store = NetStore();
    auto sw = store->Get(SwitchId(vswitch));
    if (!sw) return;
    auto sub = NetworkPolicySerializer::GetSubPolicyFromCs(*sw, portGroup, subPolicy, false);
    if (!sub) return;
    bool changed = false;
    for (const std::string& f : fields) changed |= sub->Remove(f);
    if (!changed) return;
    // Opened only to write: an abandoned inner transaction would drop the caller's outer one.
    ConfigStoreTransaction t(store);
    store->Write(sw);
    t.Commit();
}

}  // namespace

int NetworkPolicySerializer::ParseString(const std::string& text, const char* const* names) {
    for (int i = 0; names[i]; ++i)
        if (strcasecmp(text.c_str(), names[i]) == 0) return i;
    throw HostCtlException("NicTeamingPolicy Error: Invalid string: " + text);
}

// ---- Store sub-objects ---------------------------------------------------------------------

std::shared_ptr<ConfigStoreObject> NetworkPolicySerializer::GetSubPolicyFromCs(StoreObject& switchObject,
                                                                               const std::string& portGroup,
                                                                               const std::string& subPolicy,
                                                                               bool create) {
    ConfigStoreObject* owner = &switchObject;
    std::shared_ptr<ConfigStoreObject> pgObject;
    if (!portGroup.empty()) {
        HaldenConfigStore::StoreObject match;
        match.SetValue("name", portGroup);
        auto pgs = switchObject.GetSubObjectInstances(SubObjectId("port_groups"), &match);
        if (pgs.empty()) return nullptr;
        pgObject = pgs.front();
        owner = pgObject.get();
    }
    auto policy = owner->GetSubObject(SubObjectId("policy"));
    if (!policy) {
        if (!create) return nullptr;
        policy = owner->CreateSubObject(SubObjectId("policy"));
    }
    auto sub = policy->GetSubObject(SubObjectId(subPolicy));
    if (!sub && create) sub = policy->CreateSubObject(SubObjectId(subPolicy));
    return sub;
}

std::shared_ptr<ConfigStoreObject> NetworkPolicySerializer::GetTeamingFromCs(StoreObject& sw, const std::string& pg,
                                                                             bool create) {
    return GetSubPolicyFromCs(sw, pg, "nic_teaming", create);
}
std::shared_ptr<ConfigStoreObject> NetworkPolicySerializer::GetSecurityFromCs(StoreObject& sw, const std::string& pg,
                                                                              bool create) {
    return GetSubPolicyFromCs(sw, pg, "security", create);
}
std::shared_ptr<ConfigStoreObject> NetworkPolicySerializer::GetShapingFromCs(StoreObject& sw, const std::string& pg,
                                                                             bool create) {
    return GetSubPolicyFromCs(sw, pg, "traffic_shaping", create);
}

// ---- Link criteria ------------------------------------------------------------------------

void NetworkPolicySerializer::SaveConfiguration(Branch& branch, const LinkCriteriaSelectionPolicy& policy) {
    Branch lc = branch.GetBranch("linkCriteria");
    lc.RemoveAllChildren();
    if (policy.GetFlagSet() & LinkCriteriaSelectionPolicy::BEACON)
        lc.SetValue("beacon", std::string(policy.GetIgnoreFlags() & LinkCriteriaSelectionPolicy::BEACON ? kIgnore : "true"));
}

void NetworkPolicySerializer::LoadConfiguration(Branch& branch, LinkCriteriaSelectionPolicy& policy) {
    std::string beacon;
    if (branch.HasBranch("linkCriteria") && branch.GetBranch("linkCriteria").GetValue("beacon", &beacon))
        policy.SetBeacon(beacon == kIgnore);
}

// ---- Teaming ---------------------------------------------------------------------------------

void NetworkPolicySerializer::SaveConfiguration(Branch& branch, const NicTeamingPolicy& policy,
                                                const std::string& vswitch, const std::string& portGroup) {
    TarnCtl_LogInfoInt("%s: Save teamming [%s], sw [%s], pg [%s]\n", "NicTeamingPolicy", policy.ToString().c_str(),
                       vswitch.c_str(), portGroup.c_str());
    Branch team = branch.GetBranch("teamPolicy");
    team.RemoveAllChildren();

    std::vector<std::string> active, standby;
    if (policy.HasUplinkOrder()) {
        const auto& order = policy.GetUplinkOrder();
        NicTeamingPolicy sized(policy);
        int n = policy.GetMaxActiveUplinks();
        if (n < 0 || n > static_cast<int>(order.size())) sized.SetMaxActiveUplinks(static_cast<int>(order.size()));
        n = sized.GetMaxActiveUplinks();
        if (n > static_cast<int>(order.size())) n = static_cast<int>(order.size());
        active.assign(order.begin(), order.begin() + n);
        standby.assign(order.begin() + n, order.end());
    }
    const LinkCriteriaSelectionPolicy& lc = policy.GetLinkCriteria();
    bool beaconSet = policy.HasLinkCriteria() && (lc.GetFlagSet() & LinkCriteriaSelectionPolicy::BEACON);
    bool beaconIgnored = lc.GetIgnoreFlags() & LinkCriteriaSelectionPolicy::BEACON;

    if (!IsBootMode()) {
        auto store = NetStore();
        ConfigStoreTransaction t(store);
        auto sw = SwitchObject(vswitch);
        auto sub = GetTeamingFromCs(*sw, portGroup, true);
        if (!sub) throw HostCtlException("Unable to find configuration of port group " + portGroup);
        SetOrRemove(*sub, "policy", policy.HasTeamingPolicy(),
                    std::string(NicTeamingPolicy::TeamPolicyTypeName(policy.GetTeamingPolicy())));
        SetOrRemove(*sub, "notify_switches", policy.HasNotifySwitch(), policy.GetNotifySwitch());
        SetOrRemove(*sub, "rolling_order", policy.HasRollingRestoration(), policy.GetRollingRestoration());
        SetOrRemove(*sub, "link_criteria_beacon", beaconSet, std::string(beaconIgnored ? "IGNORE" : "TRUE"));
        SetOrRemove(*sub, "active_nics", policy.HasUplinkOrder(), active);
        SetOrRemove(*sub, "standby_nics", policy.HasUplinkOrder(), standby);
        store->Write(sw);
        t.Commit();
    }

    // The tree shows what the store now holds.
    if (policy.HasTeamingPolicy())
        team.SetValue("team", std::string(NicTeamingPolicy::TeamPolicyTypeKeyword(policy.GetTeamingPolicy())));
    if (policy.HasNotifySwitch()) team.SetValue("notifySwitches", policy.GetNotifySwitch());
    if (policy.HasRollingRestoration()) team.SetValue("rollingOrder", policy.GetRollingRestoration());
    if (beaconSet) team.GetBranch("linkCriteria").SetValue("beacon", std::string(beaconIgnored ? kIgnore : "true"));
    for (const auto& [name, list] : {std::pair<const char*, const std::vector<std::string>*>{"activeNics", &active},
                                     {"standbyNics", &standby}}) {
        auto array = team.GetArray(std::string(name) + "/child");
        for (const std::string& nic : *list) array.NewInstance().SetValue("pnic", nic);
    }
}

void NetworkPolicySerializer::LoadConfiguration(Branch& branch, NicTeamingPolicy& policy, const std::string& vswitch,
                                                const std::string& portGroup) {
    auto store = NetStore();
    auto sw = store->Get(SwitchId(vswitch));
    if (!sw) return;
    auto sub = GetTeamingFromCs(*sw, portGroup, false);
    if (!sub) return;
    std::string text;
    if (sub->GetValue("policy", &text))
        policy.SetTeamingPolicy(static_cast<NicTeamingPolicy::TeamPolicyType>(ParseString(text, kTeamNames)));
    bool b = false;
    if (sub->GetValue("notify_switches", &b)) policy.SetNotifySwitch(b);
    if (sub->GetValue("rolling_order", &b)) policy.SetRollingRestoration(b);
    if (sub->GetValue("link_criteria_beacon", &text)) {
        LinkCriteriaSelectionPolicy lc;
        lc.SetBeacon(text == "IGNORE");
        policy.SetLinkCriteria(lc);
    }
    std::vector<std::string> active, standby;
    bool hasActive = sub->GetValue("active_nics", &active);
    bool hasStandby = sub->GetValue("standby_nics", &standby);
    if (!hasActive && !hasStandby) return;
    bool changed = false;
    auto repair = [&](std::vector<std::string>& names) {
        for (std::string& name : names) {
            if (PnicImpl::IsValidPnic(name)) continue;
            std::string renamed = PnicImpl::GetNewNicName(name);
            if (renamed.empty()) {
                TarnCtl_LogWarnInt("%s: NIC %s does not exist\n", "PortGroup", name.c_str());
                continue;
            }
            name = renamed;
            changed = true;
        }
    };
    repair(active);
    repair(standby);
    std::vector<std::string> order = active;
    order.insert(order.end(), standby.begin(), standby.end());
    policy.SetUplinkOrder(order);
    policy.SetMaxActiveUplinks(static_cast<int>(active.size()));
    if (!changed || IsBootMode()) return;
    ConfigStoreTransaction t(store);
    if (hasActive) sub->SetValue("active_nics", active);
    if (hasStandby) sub->SetValue("standby_nics", standby);
    store->Write(sw);
    t.Commit();
}

// ---- Security, shaping, capabilities ------------------------------------------------------

void NetworkPolicySerializer::SaveConfiguration(Branch& branch, const PortSecurityPolicy& policy,
                                                const std::string& vswitch, const std::string& portGroup) {
    Branch b = branch.GetBranch("securityPolicy");
    std::vector<std::string> removed;
    auto item = [&](bool has, const char* key, const char* storeKey, bool value) {
        if (has) {
            b.SetValue(key, value);
        } else {
            b.Remove(key);
            removed.push_back(storeKey);
        }
    };
    item(policy.HasAllowPromiscuous(), "allowPromiscuous", "allow_promiscuous", policy.GetAllowPromiscuous());
    item(policy.HasAllowMacAddressChange(), "macChange", "mac_changes", policy.GetAllowMacAddressChange());
    item(policy.HasAllowForgedTransmits(), "forgedTransmits", "forged_transmits", policy.GetAllowForgedTransmits());
    RemoveFromStore(vswitch, portGroup, "security", removed);
}

void NetworkPolicySerializer::LoadConfiguration(Branch& branch, PortSecurityPolicy& policy, const std::string& vswitch,
                                                const std::string& portGroup) {
    if (!branch.HasBranch("securityPolicy")) return;
    Branch b = branch.GetBranch("securityPolicy");
    bool v = false;
    if (b.GetValue("allowPromiscuous", &v)) policy.SetAllowPromiscuous(v);
    if (b.GetValue("macChange", &v)) policy.SetAllowMacAddressChange(v);
    if (b.GetValue("forgedTransmits", &v)) policy.SetAllowForgedTransmits(v);
}

void NetworkPolicySerializer::SaveConfiguration(Branch& branch, const ShapingPolicy& policy, const std::string& vswitch,
                                                const std::string& portGroup) {
    Branch b = branch.GetBranch("shapingPolicy");
    std::vector<std::string> removed;
    auto drop = [&](const char* key, const char* storeKey) {
        b.Remove(key);
        removed.push_back(storeKey);
    };
    if (policy.HasEnabled()) b.SetValue("enabled", policy.GetEnabled()); else drop("enabled", "enabled");
    if (policy.HasPeakBps()) b.SetValue("peakBandwidth", static_cast<int64_t>(policy.GetPeakBps()));
    else drop("peakBandwidth", "peak_bandwidth");
    if (policy.HasAverageBps()) b.SetValue("avgBandwidth", static_cast<int64_t>(policy.GetAverageBps()));
    else drop("avgBandwidth", "average_bandwidth");
    if (policy.HasBurstSize()) b.SetValue("burstSize", static_cast<int64_t>(policy.GetBurstSize()));
    else drop("burstSize", "burst_size");
    RemoveFromStore(vswitch, portGroup, "traffic_shaping", removed);
}

void NetworkPolicySerializer::LoadConfiguration(Branch& branch, ShapingPolicy& policy, const std::string& vswitch,
                                                const std::string& portGroup) {
    if (!branch.HasBranch("shapingPolicy")) return;
    Branch b = branch.GetBranch("shapingPolicy");
    bool enabled = false;
    int64_t n = 0;
    if (b.GetValue("enabled", &enabled)) policy.SetEnabled(enabled);
    if (b.GetValue("peakBandwidth", &n) && n >= 0) policy.SetPeakBps(static_cast<uint64_t>(n));
    if (b.GetValue("avgBandwidth", &n) && n >= 0) policy.SetAverageBps(static_cast<uint64_t>(n));
    if (b.GetValue("burstSize", &n) && n >= 0) policy.SetBurstSize(static_cast<uint64_t>(n));
}

void NetworkPolicySerializer::SaveConfiguration(Branch& branch, const NicCapabilities& caps,
                                                const std::string& vswitch, const std::string& portGroup) {
    Branch b = branch.GetBranch("capabilities");
    b.RemoveAllChildren();
    for (const auto& c : NicCapabilities::Capabilities())
        if (caps.Has(c.bit)) b.SetValue(c.name, caps.Get(c.bit));
}

void NetworkPolicySerializer::LoadConfiguration(Branch& branch, NicCapabilities& caps, const std::string& vswitch,
                                                const std::string& portGroup) {
    if (!branch.HasBranch("capabilities")) return;
    Branch b = branch.GetBranch("capabilities");
    for (const auto& c : NicCapabilities::Capabilities()) {
        bool v = false;
        if (b.GetValue(c.name, &v)) caps.Set(c.bit, v);
    }
}

// ---- IpConfig and IpRouting ---------------------------------------------------------------

void NetworkPolicySerializer::SaveConfiguration(Branch& branch, const IpConfig& ip) {
    for (const char* key : {"ipv4address", "ipv4netmask", "ipv4broadcast", "ipv4gateway"}) branch.Remove(key);
    branch.SetValue("dhcp", ip.GetUseDhcp());
    if (!ip.GetUseDhcp() && !ip.GetIpv4UseNone()) {
        branch.SetValue("ipv4address", ip.GetIpv4Address().GetStringAddress());
        branch.SetValue("ipv4netmask", ip.GetIpv4Netmask().GetStringAddress());
        branch.SetValue("ipv4broadcast", ip.GetIpv4Broadcast().GetStringAddress());
        branch.SetValue("ipv4gateway", ip.GetIpv4Gateway().GetStringAddress());
    }
    branch.SetValue("ipv6", ip.GetUseIpv6());
    branch.SetValue("dhcpv6", ip.GetUseIpv6Dhcp());
    branch.SetValue("dhcpDns", ip.GetDhcpDns());
    branch.SetValue("routAdv", ip.GetUseIpv6RouterAdvertised());
    branch.SetValue("dhcpDns6", ip.GetIpv6DhcpDns());
    branch.SetValue("ipv6gateway", ip.GetIpv6Gateway().GetStringAddress());
    Branch nets = branch.GetBranch("ipv6network");
    nets.RemoveAllChildren();
    auto array = nets.GetArray("child");
    for (const Ipv6Network& n : ip.GetIpv6Network()) {
        Branch e = array.NewInstance();
        e.SetValue("ipv6address", n.GetAddress().GetStringAddress());
        e.SetValue("ipv6netmask", static_cast<uint32_t>(n.GetNetmask()));
    }
}

void NetworkPolicySerializer::LoadConfiguration(Branch& branch, IpConfig& ip) {
    bool b = false;
    std::string text;
    if (branch.GetValue("dhcp", &b) && b) {
        ip.SetUseDhcp(true);
    } else if (branch.GetValue("ipv4address", &text) && !text.empty()) {
        ip.SetIpv4Address(Ipv4Address(text));
        std::string mask = "255.255.255.0";
        branch.GetValue("ipv4netmask", &mask);
        ip.SetIpv4Netmask(Ipv4Address(mask));
        if (branch.GetValue("ipv4broadcast", &text) && !text.empty()) ip.SetIpv4Broadcast(Ipv4Address(text));
        if (branch.GetValue("ipv4gateway", &text) && !text.empty()) ip.SetIpv4Gateway(Ipv4Address(text));
    }
    if (branch.GetValue("ipv6", &b)) {
        if (b) ip.EnableIpv6(); else ip.SetUseIpv6(false);
    }
    if (branch.GetValue("dhcpv6", &b)) ip.SetUseIpv6Dhcp(b);
    if (branch.GetValue("routAdv", &b)) ip.SetUseIpv6RouterAdvertised(b);
    if (branch.GetValue("dhcpDns", &b) && b) ip.SetDhcpDns(true);
    if (branch.GetValue("dhcpDns6", &b) && b) ip.SetIpv6DhcpDns(true);
    if (branch.GetValue("ipv6gateway", &text) && !text.empty()) ip.SetIpv6Gateway(Ipv6Address(text));
    if (!branch.HasBranch("ipv6network")) return;
    for (Branch& e : branch.GetBranch("ipv6network").GetArray("child").GetInstances()) {
        std::string address;
        unsigned int prefix = 0;
        if (!e.GetValue("ipv6address", &address)) throw HostCtlException("Missing configuration data: ipv6address");
        if (!e.GetValue("ipv6netmask", &prefix)) throw HostCtlException("Missing configuration data: ipv6netmask");
        ip.AddIpv6Network(Ipv6Network(Ipv6Address(address), prefix));
    }
}

void NetworkPolicySerializer::SaveConfiguration(StoreObject& object, const IpConfig& ip) {
    auto sub = object.GetSubObject(SubObjectId("ip"));
    if (!sub) sub = object.CreateSubObject(SubObjectId("ip"));
    for (const char* key : {"ipv4_address", "ipv4_subnet_mask", "ip_route_default_gateway"}) sub->Remove(key);
    if (!ip.GetUseDhcp() && !ip.GetIpv4UseNone()) {
        if (ip.GetIpv4Address().IsAllzeroAddress()) {
            TarnCtl_LogWarnInt("%s: No IPv4 address given for tarnnic\n", "IpConfig");
        } else {
            sub->SetValue("ipv4_address", ip.GetIpv4Address().GetStringAddress());
            sub->SetValue("ipv4_subnet_mask", ip.GetIpv4Netmask().GetStringAddress());
            sub->SetValue("ip_route_default_gateway", ip.GetIpv4Gateway().GetStringAddress());
        }
    }
    sub->SetValue("dhcp", ip.GetUseDhcp());
    sub->SetValue("dhcp_dns", ip.GetDhcpDns());
    sub->SetValue("ipv6_enabled", ip.GetUseIpv6());
    auto v6 = sub->CreateSubObject(SubObjectId("ipv6"));
    v6->SetValue("dhcp", ip.GetUseIpv6Dhcp());
    v6->SetValue("dhcp_dns", ip.GetIpv6DhcpDns());
    v6->SetValue("auto_configuration_enabled", ip.GetUseIpv6RouterAdvertised());
    v6->SetValue("ip_route_ip_v6_default_gateway", ip.GetIpv6Gateway().GetStringAddress());
    // A list even when it holds one address (a lone sub-object would read as an object).
    v6->MutableFields()["ipv6_address"].v = HaldenConfigStore::StoreValue::ObjectList{};
    for (const Ipv6Network& n : ip.GetIpv6Network()) {
        auto a = v6->CreateSubObject(SubObjectId("ipv6_address"));
        a->SetValue("address", n.GetAddress().GetStringAddress());
        a->SetValue("prefix_length", static_cast<unsigned int>(n.GetNetmask()));
    }
}

void NetworkPolicySerializer::LoadConfiguration(StoreObject& object, IpConfig& ip) {
    auto sub = object.GetSubObject(SubObjectId("ip"));
    if (!sub) return;
    bool b = false;
    std::string text;
    if (sub->GetValue("dhcp", &b) && b) {
        ip.SetUseDhcp(true);
    } else if (sub->GetValue("ipv4_address", &text) && !text.empty()) {
        ip.SetIpv4Address(Ipv4Address(text));
        std::string mask = "255.255.255.0";
        sub->GetValue("ipv4_subnet_mask", &mask);
        ip.SetIpv4Netmask(Ipv4Address(mask));
        if (sub->GetValue("ip_route_default_gateway", &text) && !text.empty()) ip.SetIpv4Gateway(Ipv4Address(text));
    }
    if (sub->GetValue("ipv6_enabled", &b)) {
        if (b) ip.EnableIpv6(); else ip.SetUseIpv6(false);
    }
    if (sub->GetValue("dhcp_dns", &b) && b) ip.SetDhcpDns(true);
    auto v6 = sub->GetSubObject(SubObjectId("ipv6"));
    if (!v6) return;
    if (v6->GetValue("dhcp", &b)) ip.SetUseIpv6Dhcp(b);
    if (v6->GetValue("auto_configuration_enabled", &b)) ip.SetUseIpv6RouterAdvertised(b);
    if (v6->GetValue("dhcp_dns", &b) && b) ip.SetIpv6DhcpDns(true);
    if (v6->GetValue("ip_route_ip_v6_default_gateway", &text) && !text.empty()) ip.SetIpv6Gateway(Ipv6Address(text));
    for (const auto& a : v6->GetSubObjectInstances(SubObjectId("ipv6_address"))) {
        std::string address;
        unsigned int prefix = 0;
        if (!a->GetValue("address", &address)) throw HostCtlException("Missing configuration data: ipv6address");
        if (!a->GetValue("prefix_length", &prefix)) throw HostCtlException("Missing configuration data: ipv6netmask");
        ip.AddIpv6Network(Ipv6Network(Ipv6Address(address), prefix));
    }
}

void NetworkPolicySerializer::SaveConfiguration(Branch& branch, const IpRouting& routing) {
    Branch route = branch.GetBranch("route");
    route.Remove("default");
    route.Remove("child");
    auto array = route.GetArray("child");
    for (const auto& [net, gw] : routing.GetIpv4Routes()) {
        if (net == IpRouting::DEFAULT_IPV4_ROUTE) {
            route.SetValue("default", gw.GetStringAddress());
            continue;
        }
        Branch e = array.NewInstance();
        e.SetValue("network", net.GetStringAddress());
        e.SetValue("gateway", gw.GetStringAddress());
    }
}

void NetworkPolicySerializer::LoadConfiguration(Branch& branch, IpRouting& routing) {
    if (!branch.HasBranch("route")) return;
    Branch route = branch.GetBranch("route");
    std::string text;
    if (route.GetValue("default", &text) && !text.empty()) routing.SetIpv4Gateway(Ipv4Address(text));
    for (Branch& e : route.GetArray("child").GetInstances()) {
        std::string net, gw;
        if (e.GetValue("network", &net) && e.GetValue("gateway", &gw))
            routing.AddIpv4Route(Ipv4Network(net), Ipv4Address(gw));
    }
}

}  // namespace TarnCtl::Network
