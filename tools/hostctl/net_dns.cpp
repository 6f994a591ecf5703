// hostctl net dns ...: a netstack's name servers and search domains and the
// host's name, domain and FQDN; hostctl net hosts ...: the user's entries of
// /etc/hosts.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <optional>

#include "command.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/network.h"
#include "net_group.h"
#include "network/hosts_file.h"
#include "output.h"

namespace {

using namespace HostCtl::Network;
using HostCtlTool::CommandFailure;
using HostCtlTool::Table;

std::unique_ptr<NetworkInfo> Network() { return HostCtl::HostFactory::GetHost()->GetNetworkInfo(); }

// An address of either family from the command line.
std::unique_ptr<IpAddress> Address(const std::string& option, const std::string& text) {
    if (Ipv4Address::IsValidAddress(text)) return std::make_unique<Ipv4Address>(text);
    if (Ipv6Address::IsValidAddress(text)) return std::make_unique<Ipv6Address>(text);
    throw CommandFailure{"Invalid value for " + option + ": " + text + " (an IPv4 or IPv6 address)"};
}

bool Has(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

void DnsShow(const std::string& netstack) {
    auto dns = Network()->GetDnsConfig(netstack);
    const auto configured = dns->GetNameServers();
    Table servers({"Address", "Source"});
    for (const std::string& s : dns->GetAllNameServers())
        servers.AddRow({s, Has(configured, s) ? "configured" : "router-advertised"});
    Table domains({"Domain"});
    for (const std::string& d : dns->GetSearchDomains()) domains.AddRow({d});
    HostCtlTool::Record r;
    r.Add("Netstack", netstack);
    if (netstack == "defaultTcpipStack")
        r.Add("Host Name", dns->GetHostname()).Add("Domain", dns->GetDomain()).Add("FQDN", dns->GetFqdn());
    r.AddTable("Name Servers", servers).AddTable("Search Domains", domains);
    r.Print();
}

struct DnsSettings {
    std::string netstack = "defaultTcpipStack";
    std::vector<std::string> addServers, removeServers, addSearch, removeSearch;
    std::optional<std::string> search, hostname, domain;
};

void DnsSet(const DnsSettings& s) {
    if (s.addServers.empty() && s.removeServers.empty() && s.addSearch.empty() && s.removeSearch.empty() &&
        !s.search && !s.hostname && !s.domain)
        throw CommandFailure{"Nothing to set: give at least one setting"};
    // Every address is read before anything changes.
    std::vector<std::unique_ptr<IpAddress>> add, remove;
    for (const std::string& a : s.addServers) add.push_back(Address("--add-server", a));
    for (const std::string& a : s.removeServers) remove.push_back(Address("--remove-server", a));
    auto dns = Network()->GetDnsConfig(s.netstack);
    for (const auto& a : remove) dns->RemoveNameServer(*a);
    for (const auto& a : add) dns->AddNameServer(*a);
    if (s.search) dns->SetSearchDomainsString(*s.search);
    for (const std::string& d : s.removeSearch) dns->RemoveSearchDomain(d);
    for (const std::string& d : s.addSearch) dns->AddSearchDomain(d);
    if (s.hostname) dns->SetHostname(*s.hostname, true);
    if (s.domain) dns->SetDomain(*s.domain, true);
}

void HostsList() {
    TarnCtl::Network::HostsFile hosts;
    hosts.ParseOrInit();
    const std::string mgmt = TarnCtl::Network::HostsFile::ManagementAddress();
    Table t({"Address", "Host Name", "Aliases", "Comment", "User"});
    for (const auto& e : hosts.GetEntries()) {
        if (e->IsComment()) continue;
        std::string aliases;
        for (const std::string& a : e->GetAliases()) aliases += (aliases.empty() ? "" : " ") + a;
        t.AddRow({e->GetIpAddress(), e->GetHostName(), aliases, e->GetComment(),
                  TarnCtl::Network::HostsFile::IsUserEntry(*e, mgmt)});
    }
    t.Print();
}

HostCtlTool::CommandGroup gDns("net.dns", 64, [](CLI::App& app) {
    CLI::App* net = HostCtlTool::NetGroup(app);
    CLI::App* dns = net->add_subcommand("dns", "Name servers, search domains and the host name");
    dns->require_subcommand(1);

    static std::string showNetstack = "defaultTcpipStack";
    auto* show = dns->add_subcommand("show", "Show the resolver configuration of a netstack");
    show->add_option("--netstack", showNetstack, "Netstack key (default: defaultTcpipStack)");
    show->callback([] { DnsShow(showNetstack); });

    static DnsSettings set;
    auto* s = dns->add_subcommand("set", "Change the resolver configuration (survives reboots)");
    s->add_option("--netstack", set.netstack, "Netstack key (default: defaultTcpipStack)");
    s->add_option("--add-server", set.addServers, "Add a name server (repeatable)");
    s->add_option("--remove-server", set.removeServers, "Remove a name server (repeatable)");
    s->add_option("--search", set.search, "Replace the search domains (space-separated)");
    s->add_option("--add-search", set.addSearch, "Add a search domain (repeatable)");
    s->add_option("--remove-search", set.removeSearch, "Remove a search domain (repeatable)");
    s->add_option("--hostname", set.hostname, "Host name (default netstack only)");
    s->add_option("--domain", set.domain, "Domain (default netstack only; empty removes it)");
    s->callback([] { DnsSet(set); });

    CLI::App* hosts = net->add_subcommand("hosts", "Entries of /etc/hosts");
    hosts->require_subcommand(1);
    hosts->add_subcommand("list", "List the entries of /etc/hosts")->callback(HostsList);

    static std::string ip, name, comment;
    static std::vector<std::string> aliases;
    auto* a = hosts->add_subcommand("add", "Add or replace an entry (matched by address or name)");
    a->add_option("address", ip, "IPv4 or IPv6 address")->required();
    a->add_option("name", name, "Host name")->required();
    a->add_option("--alias", aliases, "Alias (repeatable)");
    a->add_option("--comment", comment, "Comment written after the entry");
    a->callback([] { TarnCtl::Network::HostsFile().AddEntryFromUser(ip, name, aliases, comment); });

    static std::string removeIp, removeName;
    auto* r = hosts->add_subcommand("remove", "Remove the entry with this address and name");
    r->add_option("address", removeIp, "IPv4 or IPv6 address")->required();
    r->add_option("name", removeName, "Host name")->required();
    r->callback([] { TarnCtl::Network::HostsFile().RemoveEntryFromUser(removeIp, removeName); });
});

}  // namespace
