// hostctl net route ...: a netstack's routing table and static routes;
// hostctl net gateway ...: its default gateways.
#include <CLI/CLI.hpp>

#include "command.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/network.h"
#include "ksi/network.h"
#include "net_group.h"
#include "output.h"

namespace {

using namespace HostCtl::Network;
using HostCtlTool::CommandFailure;
using HostCtlTool::Table;

std::unique_ptr<RoutingInfo> Routing(const std::string& netstack) {
    return HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetRoutingInfo(netstack);
}

Ipv4Network V4Net(const std::string& text) {
    if (text.find('/') == std::string::npos) throw CommandFailure{"Invalid network " + text + " (address/prefix)"};
    try {
        return Ipv4Network(text);
    } catch (const HostCtl::Lib::HostCtlException& e) {
        throw CommandFailure{"Invalid network " + text + ": " + e.what()};
    }
}

Ipv6Network V6Net(const std::string& text) {
    size_t slash = text.find('/');
    if (slash == std::string::npos || !Ipv6Address::IsValidAddress(text.substr(0, slash)))
        throw CommandFailure{"Invalid network " + text + " (address/prefix)"};
    const std::string prefix = text.substr(slash + 1);
    if (prefix.empty() || prefix.size() > 3 || prefix.find_first_not_of("0123456789") != std::string::npos ||
        std::stoul(prefix) > 128)
        throw CommandFailure{"Invalid network " + text + " (prefix length 0 to 128)"};
    return Ipv6Network(Ipv6Address(text.substr(0, slash)), static_cast<unsigned>(std::stoul(prefix)));
}

Ipv4Address V4(const std::string& text) {
    if (!Ipv4Address::IsValidAddress(text)) throw CommandFailure{"Invalid IPv4 address " + text};
    return Ipv4Address(text);
}

Ipv6Address V6(const std::string& text) {
    if (!Ipv6Address::IsValidAddress(text)) throw CommandFailure{"Invalid IPv6 address " + text};
    return Ipv6Address(text);
}

struct RouteArgs {
    std::string netstack = "defaultTcpipStack";
    bool ipv6 = false;
    std::string network, gateway;
    bool dhcp = false;
};

void RouteList(const RouteArgs& a) {
    auto routing = Routing(a.netstack);
    Table t({"Network", a.ipv6 ? "Prefix Length" : "Netmask", "Gateway", "Interface"});
    if (a.ipv6) {
        for (const Ipv6Route& r : routing->GetCurrentIpv6TarnosRoutes(PORTSET_GET_ALL))
            t.AddRow({r.network.GetAddress().GetStringAddress(), r.network.GetNetmask(), r.gateway.GetStringAddress(),
                      r.interface});
    } else {
        for (const Ipv4Route& r : routing->GetCurrentTarnosRoutes(PORTSET_GET_ALL))
            t.AddRow({r.network.GetNetwork().GetStringAddress(), r.network.GetNetmask().GetStringAddress(),
                      r.gateway.GetStringAddress(), r.interface});
    }
    t.Print();
}

void RouteChange(const RouteArgs& a, bool add) {
    auto routing = Routing(a.netstack);
    if (a.ipv6) {
        Ipv6Network net = V6Net(a.network);
        Ipv6Address gw = V6(a.gateway);
        add ? routing->AddIpv6TarnosRoute(net, gw) : routing->RemoveIpv6TarnosRoute(net, gw);
    } else {
        Ipv4Network net = V4Net(a.network);
        Ipv4Address gw = V4(a.gateway);
        add ? routing->AddTarnosRoute(net, gw) : routing->RemoveTarnosRoute(net, gw);
    }
}

void GatewayShow(const RouteArgs& a) {
    auto routing = Routing(a.netstack);
    HostCtlTool::Record r;
    r.Add("Netstack", a.netstack)
        .Add("IPv4 Gateway", routing->GetTarnosDefaultGateway().GetStringAddress())
        .Add("IPv4 Interface", routing->GetTarnosIpv4DefaultGatewayInterface())
        .Add("IPv4 Configured Gateway", routing->GetTarnosConfigDefaultGateway().GetStringAddress())
        .Add("IPv4 Source", routing->GetDefaultGatewaySource(Ipv4Network()));
    if (a.ipv6)
        r.Add("IPv6 Gateway", routing->GetIpv6TarnosDefaultGateway().GetStringAddress())
            .Add("IPv6 Interface", routing->GetTarnosIpv6DefaultGatewayInterface());
    r.Print();
}

void GatewaySet(const RouteArgs& a) {
    auto routing = Routing(a.netstack);
    if (a.ipv6) {
        if (a.dhcp) throw CommandFailure{"--dhcp applies to IPv4 gateways only"};
        routing->SetIpv6TarnosDefaultGateway(V6(a.gateway));
    } else {
        routing->SetTarnosDefaultGateway(V4(a.gateway), a.dhcp);
    }
}

void GatewayUnset(const RouteArgs& a) {
    auto routing = Routing(a.netstack);
    a.ipv6 ? routing->UnsetIpv6TarnosDefaultGateway() : routing->UnsetTarnosDefaultGateway();
}

void CommonOptions(CLI::App* cmd, RouteArgs& a) {
    cmd->add_option("--netstack", a.netstack, "Netstack key (default: defaultTcpipStack)");
    cmd->add_flag("--ipv6", a.ipv6, "IPv6 instead of IPv4");
}

HostCtlTool::CommandGroup gRoute("net.route", 66, [](CLI::App& app) {
    CLI::App* net = HostCtlTool::NetGroup(app);
    CLI::App* route = net->add_subcommand("route", "Routing table and static routes of a netstack");
    route->require_subcommand(1);

    static RouteArgs list;
    auto* l = route->add_subcommand("list", "List the routes in effect, widest netmask first");
    CommonOptions(l, list);
    l->callback([] { RouteList(list); });

    static RouteArgs add;
    auto* a = route->add_subcommand("add", "Add a static route (survives reboots)");
    a->add_option("network", add.network, "Network as address/prefix")->required();
    a->add_option("gateway", add.gateway, "Gateway address")->required();
    CommonOptions(a, add);
    a->callback([] { RouteChange(add, true); });

    static RouteArgs remove;
    auto* r = route->add_subcommand("remove", "Remove a static route");
    r->add_option("network", remove.network, "Network as address/prefix")->required();
    r->add_option("gateway", remove.gateway, "Gateway address")->required();
    CommonOptions(r, remove);
    r->callback([] { RouteChange(remove, false); });

    CLI::App* gateway = net->add_subcommand("gateway", "Default gateways of a netstack");
    gateway->require_subcommand(1);
    static RouteArgs show;
    auto* g = gateway->add_subcommand("show", "Show the default gateways");
    CommonOptions(g, show);
    g->callback([] { GatewayShow(show); });

    static RouteArgs set;
    auto* s = gateway->add_subcommand("set", "Set the default gateway (survives reboots)");
    s->add_option("address", set.gateway, "Gateway address")->required();
    CommonOptions(s, set);
    s->add_flag("--dhcp", set.dhcp, "Record the gateway as learned from DHCP");
    s->callback([] { GatewaySet(set); });

    static RouteArgs unset;
    auto* u = gateway->add_subcommand("unset", "Remove the default gateway");
    CommonOptions(u, unset);
    u->callback([] { GatewayUnset(unset); });
});

}  // namespace
