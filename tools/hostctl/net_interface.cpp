// hostctl net interface ...: the host's kernel NICs: listing, showing, adding
// on a port group, removing, changing addresses (static IPv4/IPv6, DHCP), MTU
// and MAC, and their service tags.
#include <CLI/CLI.hpp>

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

std::unique_ptr<TarnosNicInfo> Nics() {
    return HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetTarnosNicInfo();
}

std::unique_ptr<TarnNic> Lookup(const std::string& name) {
    auto nic = Nics()->GetTarnosNicByInterface(name, true, PORTSET_GET_ALL);
    if (!nic) throw CommandFailure{"Unknown interface " + name};
    return nic;
}

// The display names of the NIC's tags.
std::string TagText(TarnNic& nic) {
    std::string out;
    for (TarnNicTagType t : nic.GetTags()) out += (out.empty() ? "" : ",") + TarnNicTagName(t);
    return out;
}

std::string Ipv6Text(const IpConfig& ip) {
    std::string out;
    for (const Ipv6Network& n : ip.GetIpv6Network()) out += (out.empty() ? "" : ",") + n.GetStringAddress();
    return out;
}

void InterfaceList() {
    Table t({"Name", "Port Group", "Netstack", "Enabled", "IPv4 Address", "IPv4 Netmask", "DHCP", "MAC Address",
             "MTU", "Tags"});
    for (auto& nic : Nics()->GetTarnosNics(PORTSET_GET_ALL)) {
        IpConfig ip = nic->GetIpConfig();
        t.AddRow({nic->GetInterfaceName(), nic->GetConnectionPoint().ToString(), nic->GetNetstackInstanceKey(),
                  nic->IsEnabled(),
                  ip.GetIpv4Address().GetStringAddress(), ip.GetIpv4Netmask().GetStringAddress(),
                  nic->GetConfiguredIpConfig().GetUseDhcp(), nic->GetMacAddress().GetStringAddress(),
                  uint64_t{nic->GetMtu()}, TagText(*nic)});
    }
    t.Print();
}

void InterfaceShow(const std::string& name) {
    auto nic = Lookup(name);
    IpConfig ip = nic->GetIpConfig();
    IpConfig conf = nic->GetConfiguredIpConfig();
    HostCtlTool::Record r;
    r.Add("Name", nic->GetInterfaceName())
        .Add("Connection", nic->GetConnectionPoint().ToString())
        .Add("Connection Type", std::string(ConnectionPoint::TypeName(nic->GetConnectionPoint().GetType())))
        .Add("Netstack", nic->GetNetstackInstanceKey())
        .Add("MAC Address", nic->GetMacAddress().GetStringAddress())
        .Add("MTU", uint64_t{nic->GetMtu()})
        .Add("DHCP", conf.GetUseDhcp())
        .Add("DHCP Bound", nic->GetDhcpBound())
        .Add("DHCP Server", nic->GetDhcpServer())
        .Add("IPv4 Address", ip.GetIpv4Address().GetStringAddress())
        .Add("IPv4 Netmask", ip.GetIpv4Netmask().GetStringAddress())
        .Add("IPv4 Gateway", ip.GetIpv4Gateway().GetStringAddress())
        .Add("IPv6 Enabled", conf.GetUseIpv6())
        .Add("DHCPv6", conf.GetUseIpv6Dhcp())
        .Add("IPv6 Addresses", Ipv6Text(ip))
        .Add("Tags", TagText(*nic));
    r.Print();
}

struct Settings {
    std::string name, portGroup, netstack;
    std::optional<std::string> ipv4, netmask, gateway, dhcp, ipv6Gateway, mac;
    std::vector<std::string> ipv6;
    std::optional<uint32_t> mtu;
};

// The IP configuration the options ask for, starting from `base`.
IpConfig IpFromOptions(const Settings& s, IpConfig base, bool* changed) {
    *changed = false;
    if (s.dhcp && HostCtlTool::OnOffValue("--dhcp", *s.dhcp)) {
        if (s.ipv4) throw CommandFailure{"--ipv4 and --dhcp on exclude each other"};
        base.SetUseDhcp(true);
        *changed = true;
    } else if (s.ipv4) {
        if (!s.netmask) throw CommandFailure{"--ipv4 needs --netmask"};
        if (!Ipv4Address::IsValidAddress(*s.ipv4)) throw CommandFailure{"Invalid IPv4 address " + *s.ipv4};
        if (!Ipv4Address::IsValidAddress(*s.netmask)) throw CommandFailure{"Invalid IPv4 netmask " + *s.netmask};
        base.SetUseDhcp(false);
        base.SetIpv4Address(Ipv4Address(*s.ipv4));
        base.SetIpv4Netmask(Ipv4Address(*s.netmask));
        base.SetIpv4Gateway(s.gateway ? Ipv4Address(*s.gateway) : Ipv4Address());
        *changed = true;
    } else if (s.dhcp) {
        throw CommandFailure{"--dhcp off needs --ipv4 and --netmask"};
    }
    if (!s.ipv6.empty() || s.ipv6Gateway) {
        base.SetUseIpv6(true);
        for (const Ipv6Network& n : base.GetIpv6Network()) base.RemoveIpv6Network(n);
        for (const std::string& text : s.ipv6) {
            if (!Ipv6Network::IsValidAddressAndNetmask(text)) throw CommandFailure{"Invalid IPv6 address " + text};
            base.AddIpv6Network(Ipv6Network(text));
        }
        if (s.ipv6Gateway) base.SetIpv6Gateway(Ipv6Address(*s.ipv6Gateway));
        *changed = true;
    }
    return base;
}

void InterfaceAdd(const Settings& s) {
    bool changed = false;
    IpConfig ip = IpFromOptions(s, IpConfig(), &changed);
    MacAddress mac;
    if (s.mac) mac = MacAddress(*s.mac);
    Nics()->AddTarnosNic(s.portGroup, s.netstack, ip, mac, s.mtu.value_or(0), 0, 0, s.name);
}

void InterfaceSet(const Settings& s) {
    auto nic = Lookup(s.name);
    bool changed = false;
    IpConfig ip = IpFromOptions(s, nic->GetConfiguredIpConfig(), &changed);
    if (!changed && !s.mtu && !s.mac && s.portGroup.empty()) throw CommandFailure{"Nothing to set: give at least one setting"};
    if (s.mtu) nic->SetMtu(*s.mtu);
    if (s.mac) nic->SetMacAddress(MacAddress(*s.mac));
    if (!s.portGroup.empty()) nic->SetPortGroup(s.portGroup);
    if (changed) nic->SetIpConfig(ip);
}

void AddSettingOptions(CLI::App* cmd, Settings& s) {
    cmd->add_option("--ipv4", s.ipv4, "Static IPv4 address");
    cmd->add_option("--netmask", s.netmask, "IPv4 netmask");
    cmd->add_option("--gateway", s.gateway, "IPv4 gateway");
    cmd->add_option("--dhcp", s.dhcp, "IPv4 by DHCP: on or off");
    cmd->add_option("--ipv6", s.ipv6, "Static IPv6 address/prefix (repeatable)");
    cmd->add_option("--ipv6-gateway", s.ipv6Gateway, "IPv6 gateway");
    cmd->add_option("--mtu", s.mtu, "MTU (1280 to 9190)");
    cmd->add_option("--mac", s.mac, "MAC address");
}

HostCtlTool::CommandGroup gInterface("net.interface", 64, [](CLI::App& app) {
    CLI::App* net = HostCtlTool::NetGroup(app);
    CLI::App* iface = net->add_subcommand("interface", "The host's kernel NICs");
    iface->require_subcommand(1);
    iface->add_subcommand("list", "List the kernel NICs")->callback(InterfaceList);

    static std::string showName;
    auto* sh = iface->add_subcommand("show", "Show one kernel NIC");
    sh->add_option("name", showName, "Interface name (tarnN)")->required();
    sh->callback([] { InterfaceShow(showName); });

    static Settings add;
    auto* a = iface->add_subcommand("add", "Add a kernel NIC on a port group (survives reboots)");
    a->add_option("--portgroup", add.portGroup, "Port group")->required();
    a->add_option("--netstack", add.netstack, "Netstack key (default: defaultTcpipStack)");
    a->add_option("--name", add.name, "Interface name (default: the first free tarnN)");
    AddSettingOptions(a, add);
    a->callback([] { InterfaceAdd(add); });

    static std::string removeName;
    auto* r = iface->add_subcommand("remove", "Remove a kernel NIC");
    r->add_option("name", removeName, "Interface name")->required();
    r->callback([] { Lookup(removeName)->Destroy(); });

    static Settings set;
    auto* s = iface->add_subcommand("set", "Change a kernel NIC");
    s->add_option("name", set.name, "Interface name")->required();
    s->add_option("--portgroup", set.portGroup, "Move to this port group");
    AddSettingOptions(s, set);
    s->callback([] { InterfaceSet(set); });

    CLI::App* tag = iface->add_subcommand("tag", "Service tags of kernel NICs");
    tag->require_subcommand(1);
    static std::string tagNic, tagName;
    auto* ta = tag->add_subcommand("add", "Tag a kernel NIC for a service");
    ta->add_option("name", tagNic, "Interface name")->required();
    ta->add_option("tag", tagName, "Tag (Management, Velmove, faultToleranceLogging, ...)")->required();
    ta->callback([] { Lookup(tagNic)->AddTag(tagName, true); });
    auto* tr = tag->add_subcommand("remove", "Remove a service tag");
    tr->add_option("name", tagNic, "Interface name")->required();
    tr->add_option("tag", tagName, "Tag")->required();
    tr->callback([] { Lookup(tagNic)->RemoveTag(TarnNicTagFromName(tagName)); });
    static std::string listNic;
    auto* tl = tag->add_subcommand("list", "List the tags of a kernel NIC");
    tl->add_option("name", listNic, "Interface name")->required();
    tl->callback([] {
        Table t({"Name", "Tag"});
        auto nic = Lookup(listNic);
        for (TarnNicTagType tag : nic->GetTags()) t.AddRow({listNic, TarnNicTagName(tag)});
        t.Print();
    });
});

}  // namespace
