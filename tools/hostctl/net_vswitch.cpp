// hostctl net vswitch ... and hostctl net portgroup ...: standard switches,
// their uplinks and port groups, and the four policies. Policy options take a
// value or "inherit", which drops the override (the port group then follows
// its switch, the switch the defaults). `show` prints each policy item's
// effective value beside the configured one.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <optional>

#include "command.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/network.h"
#include "net_group.h"
#include "output.h"

namespace {

using namespace HostCtl::Network;
using HostCtlTool::CommandFailure;
using HostCtlTool::Table;

const char* const kCdpTexts[] = {"down", "listen", "advertise", "both"};
const char* kInherit = "inherit";

std::unique_ptr<VirtualSwitchInfo> Switches() {
    return HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetVirtualSwitchInfo();
}

std::unique_ptr<VirtualSwitch> FindSwitch(const std::string& name) {
    auto sw = Switches()->GetVirtualSwitchByName(name, PORTSET_GET_VSS);
    if (!sw) throw CommandFailure{"Unknown virtual switch " + name};
    return sw;
}

// One host-wide name listing, then one lookup per switch: no port-group object is built but the one asked for.
std::unique_ptr<PortGroup> FindPortGroup(const std::string& name) {
    auto names = HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetAllPortGroupNames(PORTSET_GET_VSS);
    if (std::find(names.begin(), names.end(), name) != names.end())
        for (auto& sw : Switches()->GetVirtualSwitches(PORTSET_GET_VSS))
            if (auto pg = sw->GetPortGroupByName(name)) return pg;
    throw CommandFailure{"Unknown port group " + name};
}

std::string Join(const std::vector<std::string>& items, const char* sep = ",") {
    std::string out;
    for (const std::string& s : items) out += (out.empty() ? "" : sep) + s;
    return out;
}

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start <= text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        if (!item.empty()) out.push_back(item);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return out;
}

bool IsInherit(const std::optional<std::string>& v) { return v && *v == kInherit; }

uint64_t NumberValue(const std::string& option, const std::string& value) {
    size_t used = 0;
    unsigned long long n = 0;
    try {
        n = std::stoull(value, &used);
    } catch (const std::exception&) {
        used = 0;
    }
    if (value.empty() || used != value.size() || value[0] == '-')
        throw CommandFailure{"Invalid value for " + option + ": " + value + " (a number or inherit)"};
    return n;
}

// ---- Policy options -----------------------------------------------------------------------

struct PolicyOptions {
    std::optional<std::string> team, notify, rolling, detection, order, active;
    std::optional<std::string> promiscuous, macChange, forged;
    std::optional<std::string> shaping, peak, average, burst;
    std::vector<std::string> caps;

    bool Teaming() const { return team || notify || rolling || detection || order || active; }
    bool Security() const { return promiscuous || macChange || forged; }
    bool Shaping() const { return shaping || peak || average || burst; }
    bool Any() const { return Teaming() || Security() || Shaping() || !caps.empty(); }
};

void AddPolicyOptions(CLI::App* cmd, PolicyOptions& o) {
    cmd->add_option("--teaming-policy", o.team, "none, lb_ip, lb_srcmac, lb_srcid, fo_explicit or inherit");
    cmd->add_option("--notify-switches", o.notify, "on, off or inherit");
    cmd->add_option("--rolling-order", o.rolling, "on, off or inherit");
    cmd->add_option("--failure-detection", o.detection, "link, beacon or inherit");
    cmd->add_option("--uplink-order", o.order, "Comma-separated NIC names in teaming order, or inherit");
    cmd->add_option("--active-uplinks", o.active, "How many uplinks of the order are active");
    cmd->add_option("--allow-promiscuous", o.promiscuous, "on, off or inherit");
    cmd->add_option("--allow-mac-change", o.macChange, "on, off or inherit");
    cmd->add_option("--allow-forged-transmits", o.forged, "on, off or inherit");
    cmd->add_option("--shaping", o.shaping, "Traffic shaping: on, off or inherit");
    cmd->add_option("--shaping-peak", o.peak, "Peak bandwidth in bits per second, or inherit");
    cmd->add_option("--shaping-average", o.average, "Average bandwidth in bits per second, or inherit");
    cmd->add_option("--shaping-burst", o.burst, "Burst size in bytes, or inherit");
    cmd->add_option("--capability", o.caps, "NAME=on|off|inherit (repeatable), e.g. TcpSegmentationOffload=off");
}

void Bool(const std::optional<std::string>& v, const char* option, const std::function<void(bool)>& set,
          const std::function<void()>& unset) {
    if (!v) return;
    if (*v == kInherit) {
        unset();
    } else {
        set(HostCtlTool::OnOffValue(option, *v));
    }
}

NicTeamingPolicy ChangedTeaming(NicTeamingPolicy p, const PolicyOptions& o) {
    if (o.team) {
        NicTeamingPolicy::TeamPolicyType t;
        if (IsInherit(o.team)) {
            p.UnsetTeamingPolicy();
        } else if (NicTeamingPolicy::TeamPolicyTypeFromKeyword(*o.team, &t)) {
            p.SetTeamingPolicy(t);
        } else {
            throw CommandFailure{"Invalid value for --teaming-policy: " + *o.team};
        }
    }
    Bool(o.notify, "--notify-switches", [&](bool b) { p.SetNotifySwitch(b); }, [&] { p.UnsetNotifySwitch(); });
    Bool(o.rolling, "--rolling-order", [&](bool b) { p.SetRollingRestoration(b); },
         [&] { p.UnsetRollingRestoration(); });
    if (o.detection) {
        if (IsInherit(o.detection)) {
            p.UnsetLinkCriteria();
        } else if (*o.detection == "beacon" || *o.detection == "link") {
            LinkCriteriaSelectionPolicy lc = p.HasLinkCriteria() ? p.GetLinkCriteria() : LinkCriteriaSelectionPolicy();
            lc.SetBeacon(*o.detection == "link");
            p.SetLinkCriteria(lc);
        } else {
            throw CommandFailure{"Invalid value for --failure-detection: " + *o.detection + " (link, beacon or inherit)"};
        }
    }
    if (o.order) {
        if (IsInherit(o.order)) {
            p.UnsetUplinkOrder();
        } else {
            std::vector<std::string> order = Split(*o.order);
            int active = p.HasUplinkOrder() ? p.GetMaxActiveUplinks() : static_cast<int>(order.size());
            p.SetUplinkOrder(order);
            p.SetMaxActiveUplinks(std::min(active, static_cast<int>(order.size())));
        }
    }
    if (o.active) {
        if (!p.HasUplinkOrder()) throw CommandFailure{"--active-uplinks needs an uplink order (--uplink-order)"};
        uint64_t n = NumberValue("--active-uplinks", *o.active);
        if (n > p.GetUplinkOrder().size())
            throw CommandFailure{"Invalid value for --active-uplinks: " + *o.active + " (at most " +
                                 std::to_string(p.GetUplinkOrder().size()) + ")"};
        p.SetMaxActiveUplinks(static_cast<int>(n));
    }
    return p;
}

PortSecurityPolicy ChangedSecurity(PortSecurityPolicy p, const PolicyOptions& o) {
    Bool(o.promiscuous, "--allow-promiscuous", [&](bool b) { p.SetAllowPromiscuous(b); },
         [&] { p.UnsetAllowPromiscuous(); });
    Bool(o.macChange, "--allow-mac-change", [&](bool b) { p.SetAllowMacAddressChange(b); },
         [&] { p.UnsetAllowMacAddressChange(); });
    Bool(o.forged, "--allow-forged-transmits", [&](bool b) { p.SetAllowForgedTransmits(b); },
         [&] { p.UnsetAllowForgedTransmits(); });
    return p;
}

ShapingPolicy ChangedShaping(ShapingPolicy p, const PolicyOptions& o) {
    Bool(o.shaping, "--shaping", [&](bool b) { p.SetEnabled(b); }, [&] { p.UnsetEnabled(); });
    auto number = [&](const std::optional<std::string>& v, const char* option, auto set, auto unset) {
        if (!v) return;
        if (IsInherit(v)) {
            (p.*unset)();
        } else {
            (p.*set)(NumberValue(option, *v));
        }
    };
    number(o.peak, "--shaping-peak", &ShapingPolicy::SetPeakBps, &ShapingPolicy::UnsetPeakBps);
    number(o.average, "--shaping-average", &ShapingPolicy::SetAverageBps, &ShapingPolicy::UnsetAverageBps);
    number(o.burst, "--shaping-burst", &ShapingPolicy::SetBurstSize, &ShapingPolicy::UnsetBurstSize);
    return p;
}

NicCapabilities ChangedCaps(NicCapabilities p, const PolicyOptions& o) {
    for (const std::string& item : o.caps) {
        size_t eq = item.find('=');
        std::string name = item.substr(0, eq), value = eq == std::string::npos ? "" : item.substr(eq + 1);
        const NicCapabilities::Capability* cap = nullptr;
        for (const auto& c : NicCapabilities::Capabilities())
            if (name == c.name) cap = &c;
        if (!cap) throw CommandFailure{"Unknown capability: " + name};
        if (value == kInherit) {
            p.Unset(cap->bit);
        } else {
            p.Set(cap->bit, HostCtlTool::OnOffValue("--capability " + name, value));
        }
    }
    return p;
}

// Computes every changed policy first, so that a bad option changes nothing.
template <typename Target>
void ApplyPolicies(Target& t, const PolicyOptions& o) {
    std::optional<NicTeamingPolicy> team;
    std::optional<PortSecurityPolicy> security;
    std::optional<ShapingPolicy> shaping;
    std::optional<NicCapabilities> caps;
    if (o.Teaming()) team = ChangedTeaming(t.GetConfiguredTeamingPolicy(), o);
    if (o.Security()) security = ChangedSecurity(t.GetConfiguredSecurityPolicy(), o);
    if (o.Shaping()) shaping = ChangedShaping(t.GetConfiguredShapingPolicy(), o);
    if (!o.caps.empty()) caps = ChangedCaps(t.GetConfiguredNicCapabilities(), o);
    if (team) t.SetTeamingPolicy(*team);
    if (security) t.SetSecurityPolicy(*security);
    if (shaping) t.SetShapingPolicy(*shaping);
    if (caps) t.SetNicCapabilities(*caps);
}

// ---- Showing policies ---------------------------------------------------------------------

const char* OnOff(bool b) { return b ? "on" : "off"; }

template <typename Target>
Table PolicyTable(Target& t) {
    Table table({"Policy", "Setting", "Effective", "Configured"});
    auto row = [&](const char* policy, const char* setting, const std::string& eff, bool has, const std::string& conf) {
        table.AddRow({policy, setting, eff, has ? conf : kInherit});
    };
    NicTeamingPolicy te = t.GetTeamingPolicy(), tc = t.GetConfiguredTeamingPolicy();
    auto team = [](const NicTeamingPolicy& p) {
        const char* k = NicTeamingPolicy::TeamPolicyTypeKeyword(p.GetTeamingPolicy());
        return std::string(k ? k : "unknown");
    };
    auto detection = [](const NicTeamingPolicy& p) {
        const auto& lc = p.GetLinkCriteria();
        return std::string(lc.HasBeacon() && !lc.IsIgnored(LinkCriteriaSelectionPolicy::BEACON) ? "beacon" : "link");
    };
    auto active = [](const NicTeamingPolicy& p) {
        const auto& o = p.GetUplinkOrder();
        size_t n = std::min<size_t>(std::max(0, p.GetMaxActiveUplinks()), o.size());
        return Join(std::vector<std::string>(o.begin(), o.begin() + n));
    };
    auto standby = [](const NicTeamingPolicy& p) {
        const auto& o = p.GetUplinkOrder();
        size_t n = std::min<size_t>(std::max(0, p.GetMaxActiveUplinks()), o.size());
        return Join(std::vector<std::string>(o.begin() + n, o.end()));
    };
    row("teaming", "load balancing", team(te), tc.HasTeamingPolicy(), team(tc));
    row("teaming", "notify switches", OnOff(te.GetNotifySwitch()), tc.HasNotifySwitch(), OnOff(tc.GetNotifySwitch()));
    row("teaming", "rolling order", OnOff(te.GetRollingRestoration()), tc.HasRollingRestoration(),
        OnOff(tc.GetRollingRestoration()));
    row("teaming", "failure detection", detection(te), tc.HasLinkCriteria(), detection(tc));
    row("teaming", "active uplinks", active(te), tc.HasUplinkOrder(), active(tc));
    row("teaming", "standby uplinks", standby(te), tc.HasUplinkOrder(), standby(tc));
    PortSecurityPolicy se = t.GetSecurityPolicy(), sc = t.GetConfiguredSecurityPolicy();
    row("security", "allow promiscuous", OnOff(se.GetAllowPromiscuous()), sc.HasAllowPromiscuous(),
        OnOff(sc.GetAllowPromiscuous()));
    row("security", "allow mac change", OnOff(se.GetAllowMacAddressChange()), sc.HasAllowMacAddressChange(),
        OnOff(sc.GetAllowMacAddressChange()));
    row("security", "allow forged transmits", OnOff(se.GetAllowForgedTransmits()), sc.HasAllowForgedTransmits(),
        OnOff(sc.GetAllowForgedTransmits()));
    ShapingPolicy he = t.GetShapingPolicy(), hc = t.GetConfiguredShapingPolicy();
    auto num = [](bool has, uint64_t v) { return has ? std::to_string(v) : std::string("-"); };
    row("shaping", "enabled", OnOff(he.GetEnabled()), hc.HasEnabled(), OnOff(hc.GetEnabled()));
    row("shaping", "peak bps", num(he.HasPeakBps(), he.GetPeakBps()), hc.HasPeakBps(), num(true, hc.GetPeakBps()));
    row("shaping", "average bps", num(he.HasAverageBps(), he.GetAverageBps()), hc.HasAverageBps(),
        num(true, hc.GetAverageBps()));
    row("shaping", "burst size", num(he.HasBurstSize(), he.GetBurstSize()), hc.HasBurstSize(),
        num(true, hc.GetBurstSize()));
    NicCapabilities ce = t.GetNicCapabilities(), cc = t.GetConfiguredNicCapabilities();
    for (const auto& c : NicCapabilities::Capabilities())
        if (ce.Has(c.bit) || cc.Has(c.bit))
            row("capabilities", c.name, ce.Has(c.bit) ? OnOff(ce.Get(c.bit)) : "-", cc.Has(c.bit),
                OnOff(cc.Get(c.bit)));
    return table;
}

std::string PortIds(const std::vector<uint32_t>& ids) {
    std::string out;
    for (uint32_t id : ids) out += (out.empty() ? "" : ",") + std::to_string(id);
    return out;
}

// ---- Switch commands ----------------------------------------------------------------------

void SwitchList() {
    Table t({"Name", "Class", "Ports", "Used Ports", "MTU", "CDP", "Uplinks", "Portgroups"});
    for (auto& sw : Switches()->GetVirtualSwitches(PORTSET_GET_VSS)) {
        std::vector<std::string> pgs;
        for (auto& pg : sw->GetPortGroups()) pgs.push_back(pg->GetName());
        t.AddRow({sw->GetName(), sw->GetSwitchClass(), uint64_t{sw->GetNumPorts()}, uint64_t{sw->GetPortsInUse()},
                  uint64_t{sw->GetMTU()}, sw->GetCdpStatusString(), Join(sw->GetUplinks(false)), Join(pgs)});
    }
    t.Print();
}

void SwitchShow(const std::string& name) {
    auto sw = FindSwitch(name);
    std::vector<std::string> pgs;
    for (auto& pg : sw->GetPortGroups()) pgs.push_back(pg->GetName());
    HostCtlTool::Record r;
    r.Add("Name", sw->GetName())
        .Add("Class", sw->GetSwitchClass())
        .Add("Ports", static_cast<uint64_t>(sw->GetNumPorts()))
        .Add("Configured Ports", static_cast<uint64_t>(sw->GetNumConfiguredPorts()))
        .Add("Used Ports", static_cast<uint64_t>(sw->GetPortsInUse()))
        .Add("Access Ports", static_cast<uint64_t>(sw->GetNumAccessPorts()))
        .Add("Access Ports In Use", static_cast<uint64_t>(sw->GetNumAccessPortsInUse()))
        .Add("Port IDs", PortIds(sw->GetPortList()))
        .Add("MTU", static_cast<uint64_t>(sw->GetMTU()))
        .Add("CDP Status", sw->GetCdpStatusString())
        .Add("Beacon Enabled", sw->IsBeaconEnabled())
        .Add("Beacon Interval", static_cast<uint64_t>(sw->GetBeaconInterval()))
        .Add("Beacon Threshold", static_cast<uint64_t>(sw->GetBeaconThreshold()))
        .Add("Uplinks", Join(sw->GetUplinks(false)))
        .Add("Portgroups", Join(pgs))
        .AddTable("Policies", PolicyTable(*sw));
    r.Print();
}

struct SwitchSettings {
    std::string name;
    std::optional<std::string> mtu, cdp, beaconInterval, beaconThreshold;
    std::optional<unsigned> ports;
    PolicyOptions policy;
};

void SwitchSet(const SwitchSettings& s) {
    if (!s.mtu && !s.cdp && !s.beaconInterval && !s.beaconThreshold && !s.ports && !s.policy.Any())
        throw CommandFailure{"Nothing to set: give at least one setting"};
    std::optional<CdpStatus> cdp;
    if (s.cdp && *s.cdp != kInherit) {
        for (uint32_t i = 0; i < 4; ++i)
            if (*s.cdp == kCdpTexts[i]) cdp = static_cast<CdpStatus>(i);
        if (!cdp) throw CommandFailure{"Invalid value for --cdp: " + *s.cdp + " (down, listen, advertise, both)"};
    }
    std::optional<uint64_t> mtu, interval, threshold;
    if (s.mtu && !IsInherit(s.mtu)) mtu = NumberValue("--mtu", *s.mtu);
    if (s.beaconInterval && !IsInherit(s.beaconInterval)) interval = NumberValue("--beacon-interval", *s.beaconInterval);
    if (s.beaconThreshold && !IsInherit(s.beaconThreshold))
        threshold = NumberValue("--beacon-threshold", *s.beaconThreshold);
    auto sw = FindSwitch(s.name);
    if (s.ports) sw->SetNumPorts(*s.ports);
    if (mtu) sw->SetMTU(static_cast<uint32_t>(std::min<uint64_t>(*mtu, UINT32_MAX)));
    if (IsInherit(s.mtu)) sw->UnsetMTU();
    if (cdp) sw->SetCdpStatus(*cdp);
    if (IsInherit(s.cdp)) sw->UnsetCdpStatus();
    if (interval) sw->SetBeaconInterval(static_cast<uint32_t>(std::min<uint64_t>(*interval, UINT32_MAX)));
    if (IsInherit(s.beaconInterval)) sw->UnsetBeaconInterval();
    if (threshold) sw->SetBeaconThreshold(static_cast<uint32_t>(std::min<uint64_t>(*threshold, UINT32_MAX)));
    ApplyPolicies(*sw, s.policy);
}

// ---- Port-group commands ------------------------------------------------------------------

void PortGroupList(const std::string& vswitch) {
    Table t({"Name", "Virtual Switch", "VLAN ID", "Active Clients"});
    auto add = [&](PortGroup& pg) {
        t.AddRow({pg.GetName(), pg.GetPortsetName(), uint64_t{pg.GetVlanId()}, uint64_t{pg.GetActiveClients()}});
    };
    if (!vswitch.empty()) {
        for (auto& pg : FindSwitch(vswitch)->GetPortGroups()) add(*pg);
    } else {
        for (auto& pg : HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetAllPortGroups(PORTSET_GET_VSS))
            add(*pg);
    }
    t.Print();
}

void PortGroupShow(const std::string& name) {
    auto pg = FindPortGroup(name);
    std::string filters;
    for (const VlanRange& r : pg->GetGuestVlanFilters())
        filters += (filters.empty() ? "" : ",") + std::to_string(r.first) + "-" + std::to_string(r.last);
    HostCtlTool::Record r;
    r.Add("Name", pg->GetName())
        .Add("Virtual Switch", pg->GetPortsetName())
        .Add("VLAN ID", static_cast<uint64_t>(pg->GetVlanId()))
        .Add("Active Clients", static_cast<uint64_t>(pg->GetActiveClients()))
        .Add("Port IDs", PortIds(pg->GetPorts()))
        .Add("Guest VLANs", filters)
        .Add("Fence ID", static_cast<uint64_t>(pg->GetFenceId()))
        .AddTable("Policies", PolicyTable(*pg));
    r.Print();
}

struct PortGroupSettings {
    std::string name, vswitch;
    std::optional<std::string> vlan, newName;
    PolicyOptions policy;
};

void PortGroupAdd(const PortGroupSettings& s) {
    std::optional<uint64_t> vlan;
    if (s.vlan) vlan = NumberValue("--vlan", *s.vlan);
    auto sw = FindSwitch(s.vswitch);
    sw->AddPortGroup(s.name);
    if (vlan && *vlan) sw->GetPortGroupByName(s.name)->SetVlanId(static_cast<uint32_t>(std::min<uint64_t>(*vlan, UINT32_MAX)));
}

void PortGroupSet(const PortGroupSettings& s) {
    if (!s.vlan && !s.newName && !s.policy.Any()) throw CommandFailure{"Nothing to set: give at least one setting"};
    std::optional<uint64_t> vlan;
    if (s.vlan && !IsInherit(s.vlan)) vlan = NumberValue("--vlan", *s.vlan);
    auto pg = FindPortGroup(s.name);
    if (vlan) pg->SetVlanId(static_cast<uint32_t>(std::min<uint64_t>(*vlan, UINT32_MAX)));
    if (IsInherit(s.vlan)) pg->UnsetVlanId();
    ApplyPolicies(*pg, s.policy);
    if (s.newName) pg->SetName(*s.newName);
}

HostCtlTool::CommandGroup gVswitch("net.vswitch", 64, [](CLI::App& app) {
    CLI::App* net = HostCtlTool::NetGroup(app);
    CLI::App* vs = net->add_subcommand("vswitch", "Standard virtual switches");
    vs->require_subcommand(1);
    vs->add_subcommand("list", "List the standard switches")->callback(SwitchList);

    static std::string showName;
    auto* show = vs->add_subcommand("show", "Show a switch with its effective and configured policies");
    show->add_option("name", showName, "Switch name")->required();
    show->callback([] { SwitchShow(showName); });

    static std::string addName;
    static unsigned addPorts = 0;
    auto* add = vs->add_subcommand("add", "Add a standard switch (survives reboots)");
    add->add_option("name", addName, "Switch name (at most 32 bytes)")->required();
    add->add_option("--ports", addPorts, "Number of ports (default 128)");
    add->callback([] { Switches()->AddVirtualSwitch(addName, addPorts); });

    static std::string removeName;
    auto* rm = vs->add_subcommand("remove", "Remove a switch and its port groups (none may be in use)");
    rm->add_option("name", removeName, "Switch name")->required();
    rm->callback([] { Switches()->RemoveVirtualSwitch(removeName); });

    static SwitchSettings set;
    auto* s = vs->add_subcommand("set", "Change a switch's settings and policies");
    s->add_option("name", set.name, "Switch name")->required();
    s->add_option("--mtu", set.mtu, "MTU (1280 to 9190), or inherit for 1500");
    s->add_option("--cdp", set.cdp, "down, listen, advertise, both or inherit");
    s->add_option("--beacon-interval", set.beaconInterval, "Beacon probing interval in seconds, or inherit");
    s->add_option("--beacon-threshold", set.beaconThreshold, "Beacon probing threshold");
    s->add_option("--ports", set.ports, "Number of ports (deprecated: has no effect)");
    AddPolicyOptions(s, set.policy);
    s->callback([] { SwitchSet(set); });

    CLI::App* up = vs->add_subcommand("uplink", "Uplinks of a switch");
    up->require_subcommand(1);
    static std::string upSwitch, upNic;
    auto* ua = up->add_subcommand("add", "Link a NIC to the switch (it takes the switch's MTU)");
    ua->add_option("vswitch", upSwitch, "Switch name")->required();
    ua->add_option("nic", upNic, "NIC name")->required();
    ua->callback([] { FindSwitch(upSwitch)->AddUplink(upNic, true); });
    auto* ur = up->add_subcommand("remove", "Unlink a NIC from the switch");
    ur->add_option("vswitch", upSwitch, "Switch name")->required();
    ur->add_option("nic", upNic, "NIC name")->required();
    ur->callback([] { FindSwitch(upSwitch)->RemoveUplink(upNic, true); });

    CLI::App* pg = net->add_subcommand("portgroup", "Port groups of standard switches");
    pg->require_subcommand(1);
    static std::string listSwitch;
    auto* pl = pg->add_subcommand("list", "List port groups");
    pl->add_option("--vswitch", listSwitch, "Only the port groups of this switch");
    pl->callback([] { PortGroupList(listSwitch); });

    static std::string pgShow;
    auto* ps = pg->add_subcommand("show", "Show a port group with its effective and configured policies");
    ps->add_option("name", pgShow, "Port group name")->required();
    ps->callback([] { PortGroupShow(pgShow); });

    static PortGroupSettings pgAdd;
    auto* pa = pg->add_subcommand("add", "Add a port group to a switch (survives reboots)");
    pa->add_option("name", pgAdd.name, "Port group name (1 to 127 bytes, unique on the host)")->required();
    pa->add_option("--vswitch", pgAdd.vswitch, "Switch name")->required();
    pa->add_option("--vlan", pgAdd.vlan, "VLAN id (0 to 4095; 4095 passes all VLANs to the guest)");
    pa->callback([] { PortGroupAdd(pgAdd); });

    static std::string pgRemove;
    auto* pr = pg->add_subcommand("remove", "Remove a port group (it must not be in use)");
    pr->add_option("name", pgRemove, "Port group name")->required();
    pr->callback([] {
        auto p = FindPortGroup(pgRemove);
        FindSwitch(p->GetPortsetName())->RemovePortGroup(pgRemove);
    });

    static PortGroupSettings pgSet;
    auto* pset = pg->add_subcommand("set", "Change a port group's VLAN, name and policies");
    pset->add_option("name", pgSet.name, "Port group name")->required();
    pset->add_option("--vlan", pgSet.vlan, "VLAN id (0 to 4095), or inherit for 0");
    pset->add_option("--name", pgSet.newName, "New name");
    AddPolicyOptions(pset, pgSet.policy);
    pset->callback([] { PortGroupSet(pgSet); });
});

}  // namespace
