// hostctl net netstack ...: TCP/IP stack instances (netstacks): listing,
// adding, removing and their settings; and hostctl net settings: the
// host-wide network settings (number of switches, IPv6 of the kernel's stack).
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

std::unique_ptr<NetworkInfo> Network() { return HostCtl::HostFactory::GetHost()->GetNetworkInfo(); }

std::string StateText(uint32_t state) {
    switch (state) {
    case NETSTACK_RUNNING: return "running";
    case NETSTACK_CONFIGURED: return "configured";
    default: return "absent";
    }
}

void NetstackList() {
    Table t({"Key", "Name", "State", "Max Connections", "Congestion Control", "IPv6", "ECN"});
    t.SetKind("Max Connections", Table::Kind::Number);
    t.SetKind("IPv6", Table::Kind::Bool);
    for (auto& ns : Network()->ListNetstackInstances())
        t.AddRow({ns->GetKey(), ns->GetInstanceName(), StateText(ns->GetState()),
                  std::to_string(ns->GetMaxConnections()), ns->GetCongestionControlAlgorithm(),
                  ns->GetIpv6Enabled() ? "true" : "false", ns->GetEcnStatus()});
    t.Print();
}

struct Settings {
    std::string key;
    std::optional<std::string> name, algo, ecn, ipv6;
    std::optional<unsigned> maxConnections;
    bool createOnly = false;
};

void NetstackAdd(const Settings& a) {
    std::optional<bool> ipv6;
    if (a.ipv6) ipv6 = HostCtlTool::OnOffValue("--ipv6", *a.ipv6);
    auto network = Network();
    auto ns = network->GetNetstackInstanceByKey(a.key);
    // Values are set on the new object before it exists anywhere; the netstack
    // is created with them.
    if (a.name) ns->SetInstanceName(*a.name, false);
    if (a.maxConnections) ns->SetMaxConnections(*a.maxConnections, false);
    if (a.algo) ns->SetCongestionControlAlgorithm(*a.algo, false);
    if (ipv6) ns->SetIpv6Enabled(*ipv6, false);
    network->AddNetstackInstance(ns.get(), a.createOnly);
    if (a.ecn) ns->SetEcnStatus(*a.ecn);
}

void NetstackSet(const Settings& a) {
    std::optional<bool> ipv6;
    if (a.ipv6) ipv6 = HostCtlTool::OnOffValue("--ipv6", *a.ipv6);
    if (!a.name && !a.maxConnections && !a.algo && !a.ecn && !ipv6)
        throw CommandFailure{"Nothing to set: give at least one setting"};
    auto ns = Network()->LookupNetstackInstanceByKey(a.key);
    if (!ns) throw CommandFailure{"Unknown netstack " + a.key};
    if (a.name) ns->SetInstanceName(*a.name, true);
    if (a.maxConnections) ns->SetMaxConnections(*a.maxConnections, true);
    if (a.algo) ns->SetCongestionControlAlgorithm(*a.algo, true);
    if (a.ecn) ns->SetEcnStatus(*a.ecn);
    if (ipv6) ns->SetIpv6Enabled(*ipv6, true);
}

void SettingsShow() {
    auto network = Network();
    HostCtlTool::Record r;
    r.Add("Max Virtual Switches", static_cast<uint64_t>(network->GetMaxVirtualSwitches()))
        .Add("Configured Max Virtual Switches", static_cast<uint64_t>(network->GetConfiguredMaxVirtualSwitches()))
        .Add("IPv6 Enabled", network->IsTarnIpv6Enabled())
        .Add("IPv6 Enabled After Reboot", network->GetTarnIpv6Enabled());
    r.Print();
}

void SettingsSet(std::optional<unsigned> maxSwitches, std::optional<std::string> ipv6Text) {
    std::optional<bool> ipv6;
    if (ipv6Text) ipv6 = HostCtlTool::OnOffValue("--ipv6", *ipv6Text);
    if (!maxSwitches && !ipv6) throw CommandFailure{"Nothing to set: give at least one setting"};
    auto network = Network();
    if (maxSwitches) network->SetConfiguredMaxVirtualSwitches(*maxSwitches);
    if (ipv6) network->SetTarnIpv6Enabled(*ipv6);
    HostCtlTool::Message("The change takes effect at the next reboot.");
}

void AddSettingOptions(CLI::App* cmd, Settings& s) {
    cmd->add_option("--name", s.name, "Display name");
    cmd->add_option("--max-connections", s.maxConnections, "Socket limit (2000 to 20000)");
    cmd->add_option("--congestion-control", s.algo, "Congestion-control algorithm (newreno, cubic, ...)");
    cmd->add_option("--ecn", s.ecn, "ECN: disabled, enabled or echo-only");
    cmd->add_option("--ipv6", s.ipv6, "IPv6 in this netstack: on or off");
}

HostCtlTool::CommandGroup gNetstack("net.netstack", 62, [](CLI::App& app) {
    CLI::App* net = HostCtlTool::NetGroup(app);
    CLI::App* ns = net->add_subcommand("netstack", "TCP/IP stack instances");
    ns->require_subcommand(1);
    ns->add_subcommand("list", "List the netstacks")->callback(NetstackList);

    static Settings add;
    auto* a = ns->add_subcommand("add", "Add a netstack and start it (survives reboots)");
    a->add_option("key", add.key, "Netstack key")->required();
    AddSettingOptions(a, add);
    a->add_flag("--create-only", add.createOnly, "Record the netstack without starting it");
    a->callback([] { NetstackAdd(add); });

    static std::string removeKey;
    auto* r = ns->add_subcommand("remove", "Stop and remove a netstack");
    r->add_option("key", removeKey, "Netstack key")->required();
    r->callback([] { Network()->RemoveNetstackInstance(removeKey, false); });

    static Settings set;
    auto* s = ns->add_subcommand("set", "Change a netstack's settings");
    s->add_option("key", set.key, "Netstack key")->required();
    AddSettingOptions(s, set);
    s->callback([] { NetstackSet(set); });

    CLI::App* settings = net->add_subcommand("settings", "Host-wide network settings");
    settings->require_subcommand(1);
    settings->add_subcommand("show", "Show the host-wide network settings")->callback(SettingsShow);
    static std::optional<unsigned> maxSwitches;
    static std::optional<std::string> ipv6;
    auto* ss = settings->add_subcommand("set", "Change host-wide settings (effective after a reboot)");
    ss->add_option("--max-vswitches", maxSwitches, "Maximum number of virtual switches");
    ss->add_option("--ipv6", ipv6, "IPv6 in the kernel's TCP/IP stack: on or off");
    ss->callback([] { SettingsSet(maxSwitches, ipv6); });
});

}  // namespace
