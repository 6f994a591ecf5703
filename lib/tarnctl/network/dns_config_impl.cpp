// Resolver configuration of a netstack. The resolver file is what every
// program reads, so it is written first (atomically) and the store record
// after it; when the record cannot be written the file is put back. Router-
// advertised servers and domains always come after the configured ones.
#include "network/dns_config_impl.h"

#include <algorithm>
#include <fstream>

#include <boost/regex.hpp>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "network/hosts_file.h"
#include "network/netstack_instance_impl.h"
#include "network/network_info_impl.h"
#include "network/network_util.h"
#include "network/routing_info_impl.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::SubObjectId;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "DnsConfig";

ConfigStoreObjectId NetstackId(const std::string& key) { return ConfigStoreObjectId("net_stacks", kNetwork, kHalden, key); }

bool Contains(const std::vector<std::string>& list, const std::string& item) {
    return std::find(list.begin(), list.end(), item) != list.end();
}

void AppendNew(std::vector<std::string>& out, const std::vector<std::string>& items) {
    for (const std::string& i : items)
        if (!Contains(out, i)) out.push_back(i);
}

std::string Join(const std::vector<std::string>& list, const char* sep) {
    std::string out;
    for (const std::string& i : list) out += (out.empty() ? "" : sep) + i;
    return out;
}

bool Erase(std::vector<std::string>& list, const std::string& item) {
    auto it = std::find(list.begin(), list.end(), item);
    if (it == list.end()) return false;
    list.erase(it);
    return true;
}

// The canonical text of a name-server address; throws when it is none.
std::string ServerText(const IpAddress& address) {
    if (!address.IsValidAddress() || address.IsAllzeroAddress())
        throw HostCtlException("Invalid name server address: " + address.GetStringAddress());
    return address.GetStringAddress();
}

bool IsIpv6Text(const std::string& text) { return text.find(':') != std::string::npos; }

// A search domain: the domain-name rules without a host name.
void ValidateSearchDomain(const std::string& domain) {
    if (domain.empty()) throw HostCtlException("Invalid domain name, may not contain 0 length label (see RFC 2181)");
    DnsConfigImpl::ValidateDomainname(domain, "");
}

}  // namespace

// ---- Names ---------------------------------------------------------------------------------

std::string DnsConfigImpl::ResolverPath(const std::string& key) {
    return key == kDefaultNetstack ? "/etc/resolv.conf" : "/etc/" + key + "-resolv.conf";
}

void DnsConfigImpl::ValidateHostname(const std::string& name) {
    static const boost::regex allowed("^[a-zA-Z0-9-]+$");
    if (name.empty()) throw HostCtlException("Invalid hostname, may not be empty.");
    if (name.size() > 63) throw HostCtlException("Invalid hostname, may not be longer than 63 chars");
    if (!boost::regex_match(name, allowed))
        throw HostCtlException("Invalid hostname, may not contain any characters other than a-z 0-9 and '-'");
}

void DnsConfigImpl::ValidateDomainname(const std::string& domain, const std::string& hostname) {
    static const boost::regex dot("\\.");
    static const boost::regex label("[a-zA-Z0-9-]+");
    if (domain.size() + hostname.size() > 255)
        throw HostCtlException("Invalid domain name, domain name + hostname may not exceed 255 characters.");
    // -1 keeps empty pieces, so "a..b" and a trailing dot show up as empty labels.
    boost::sregex_token_iterator it(domain.begin(), domain.end(), dot, -1), end;
    std::vector<std::string> labels(it, end);
    if (!domain.empty() && domain.back() == '.') labels.emplace_back();
    for (const std::string& l : labels) {
        if (l.empty()) throw HostCtlException("Invalid domain name, may not contain 0 length label (see RFC 2181)");
        if (l.size() > 63)
            throw HostCtlException("Invalid domain name, may not contain label of length greater than 63 (see RFC 2181)");
        if (!boost::regex_match(l, label))
            throw HostCtlException("Invalid domain name, may not contain any characters other than a-z 0-9 and '-'");
    }
}

void DnsConfigImpl::ValidateFqdn(const std::string& fqdn) {
    if (fqdn.empty()) throw HostCtlException("Invalid FQDN, may not be empty.");
    if (fqdn.size() > 255)
        throw HostCtlException(
            "Invalid fully qualified domain name, may not be longer than 255 characters (see RFC 2181)");
    size_t dot = fqdn.find('.');
    ValidateHostname(fqdn.substr(0, dot));
    if (dot != std::string::npos) ValidateDomainname(fqdn.substr(dot + 1), fqdn.substr(0, dot));
}

bool DnsConfigImpl::IsLocalhostName(const std::string& name) {
    static const boost::regex localhost(R"(^localhost(\..*)*)");
    return boost::regex_match(name, localhost);
}

bool DnsConfigImpl::IsLocalhostIpAddr(const std::string& text) {
    if (Ipv4Address::IsValidAddress(text)) return Ipv4Address(text).IsLoopbackAddress();
    if (Ipv6Address::IsValidAddress(text)) return Ipv6Address(text).IsLoopbackAddress();
    return false;
}

// ---- Object ----------------------------------------------------------------------------------

DnsConfigImpl::DnsConfigImpl(const std::string& netstackKey) : _key(netstackKey), _path(ResolverPath(netstackKey)) {}

void DnsConfigImpl::SetNetstackInstanceKey(const std::string& key) {
    NetworkInfoImpl::IsNetworkObjectNameValid(key, true);
    _key = key;
    _path = ResolverPath(key);
    _stale = true;
}

bool DnsConfigImpl::ReadStore(Lists* out, bool raOnly) {
    auto object = NetStore()->Get(NetstackId(_key));
    if (!object) {
        TarnCtl_LogVerboseInt("%s: Can't get netstack[%s]\n", kTag, _key.c_str());
        return false;
    }
    auto dns = object->GetSubObject(SubObjectId("dns"));
    if (!dns) {
        TarnCtl_LogVerboseInt("%s: Can't get dns config[%s]\n", kTag, _key.c_str());
        return false;
    }
    if (!raOnly) {
        dns->GetValue("name_server", &out->servers);
        dns->GetValue("search_domain", &out->domains);
        dns->GetValue("system_search_domain", &out->systemDomains);
    }
    dns->GetValue("ra_name_server", &out->raServers);
    dns->GetValue("ra_search_domain", &out->raDomains);
    return true;
}

bool DnsConfigImpl::ReadResolverFile(Lists* out) {
    auto in = HostCtl::Misc::GetIfstream(_path);
    if (!in || !in->is_open()) return false;
    std::string line;
    while (std::getline(*in, line)) {
        std::vector<std::string> words;
        HostCtl::Misc::StringTokenize(line, words, " \t\r");
        if (words.size() < 2) continue;
        if (words[0] == "nameserver") {
            AppendNew(out->servers, {words[1]});
        } else if (words[0] == "search" || words[0] == "domain") {
            AppendNew(out->domains, std::vector<std::string>(words.begin() + 1, words.end()));
        }
    }
    return true;
}

void DnsConfigImpl::Refresh() {
    _stale = false;
    Lists lists;
    if (!ReadStore(&lists, false)) {
        lists = Lists();
        ReadResolverFile(&lists);
    }
    _lists = lists;
}

void DnsConfigImpl::RefreshIfStale() {
    if (_stale) Refresh();
}

std::vector<std::string> DnsConfigImpl::Configured() const {
    std::vector<std::string> out = _lists.servers;
    AppendNew(out, _lists.systemServers);
    return out;
}

std::vector<std::string> DnsConfigImpl::ConfiguredDomains() const {
    std::vector<std::string> out = _lists.domains;
    AppendNew(out, _lists.systemDomains);
    return out;
}

// ---- Files and store --------------------------------------------------------------------------

void DnsConfigImpl::SaveToResolvConf() {
    RefreshIfStale();
    std::unique_ptr<HostCtl::Misc::TmpOfstreamWrapper> out;
    try {
        out = std::make_unique<HostCtl::Misc::TmpOfstreamWrapper>(_path, 0644);
    } catch (const HostCtlException& e) {
        throw HostCtlException(std::string("file error: ") + e.what());
    }
    std::vector<std::string> servers = Configured();
    AppendNew(servers, _lists.raServers);
    for (const std::string& s : servers) *out << "nameserver " << s << '\n';
    std::vector<std::string> domains = ConfiguredDomains();
    AppendNew(domains, _lists.raDomains);
    if (!domains.empty()) *out << "search " << Join(domains, " ") << '\n';
    try {
        out->Commit();
    } catch (const HostCtlException& e) {
        std::string text = e.what();
        size_t colon = text.rfind(": ");
        throw HostCtlException("Couldn't rename temp file during write of " + _path + ": " +
                               (colon == std::string::npos ? text : text.substr(colon + 2)));
    }
}

void DnsConfigImpl::EnsureRecorded() {
    // A running netstack that was never recorded (the default one on a new host) is recorded first.
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    if (!config->GetArray(NetstackInstanceImpl::kConfigArray).FindInstanceWithValue("key", _key) &&
        NetstackConfigEntry(config.GetFile(), _key, true))
        config->Write();
}

void DnsConfigImpl::PersistInt() {
    EnsureRecorded();
    auto store = NetStore();
    const ConfigStoreObjectId id = NetstackId(_key);
    HaldenConfigStore::BootAwareTransaction tx(store);
    auto object = store->Get(id);
    if (!object) {
        TarnCtl_LogWarnInt("%s: Fail to get DNS of netstack[%s]\n", kTag, _key.c_str());
        throw HostCtlException("Netstack instance '" + _key + "' is not found");
    }
    auto dns = object->GetSubObject(SubObjectId("dns"));
    if (!dns) dns = object->CreateSubObject(SubObjectId("dns"));
    const std::vector<std::string> servers = Configured();
    TarnCtl_LogVerboseInt("%s: SetConfigStore: calc done. Prepare namesvr list: { %s } for configstore persist\n", kTag,
                          Join(servers, ", ").c_str());
    TarnCtl_LogVerboseInt("%s: SetConfigStore: calc done. Prepare user list: { %s } for configstore persist\n", kTag,
                          Join(_lists.domains, ", ").c_str());
    TarnCtl_LogVerboseInt("%s: SetConfigStore: calc done. Prepare system list: { %s } for configstore persist\n",
                          kTag, Join(_lists.systemDomains, ", ").c_str());
    dns->SetValue("name_server", servers);
    dns->SetValue("search_domain", _lists.domains);
    dns->SetValue("system_search_domain", _lists.systemDomains);
    dns->SetValue("ra_name_server", _lists.raServers);
    dns->SetValue("ra_search_domain", _lists.raDomains);
    store->Write(object, HaldenConfigStore::BootWriteFlag(id, store->IsBoot()));
    tx.Commit();
}

void DnsConfigImpl::SetConfigStore() {
    RefreshIfStale();
    try {
        PersistInt();
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Failed to write to config store: %s\n", kTag, e.what());
    }
}

void DnsConfigImpl::Change(const std::function<void()>& change) {
    RefreshIfStale();
    const Lists before = _lists;
    change();
    try {
        SaveToResolvConf();
        if (!IsBootMode()) PersistInt();
    } catch (const HostCtlException& e) {
        _lists = before;
        try {
            SaveToResolvConf();
        } catch (const HostCtlException& again) {
            TarnCtl_LogErrorInt("%s: Unable to put back %s: %s\n", kTag, _path.c_str(), again.what());
        }
        throw HostCtlException("Unable to save the DNS configuration of netstack " + _key + ": " + e.what());
    }
}

void DnsConfigImpl::RestoreResolvConfUserConfigure() {
    Lists lists;
    if (ReadStore(&lists, false)) {
        _lists.servers = lists.servers;
        _lists.domains = lists.domains;
        _lists.systemDomains = lists.systemDomains;
    }
    _stale = false;
}

void DnsConfigImpl::RestoreResolvConfIpv6RA() {
    Lists lists;
    if (ReadStore(&lists, true)) {
        _lists.raServers = lists.raServers;
        _lists.raDomains = lists.raDomains;
    }
    _stale = false;
}

void DnsConfigImpl::RestoreResolvConf() {
    Lists probe;
    if (!ReadStore(&probe, false)) return;  // nothing recorded: the file stays as it is
    _lists = Lists();
    RestoreResolvConfUserConfigure();
    RestoreResolvConfIpv6RA();
    SaveToResolvConf();
}

void DnsConfigImpl::UpgradeFromResolvConf() {
    Lists found;
    if (!ReadResolverFile(&found)) {
        TarnCtl_LogInfoInt("%s: No %s to upgrade from\n", kTag, _path.c_str());
        return;
    }
    // What the store holds already stays; the file adds to it.
    _lists = Lists();
    ReadStore(&_lists, false);
    _stale = false;
    for (const std::string& s : found.servers) {
        if (Ipv4Address::IsValidAddress(s) || Ipv6Address::IsValidAddress(s))
            AppendNew(_lists.servers, {s});
        else
            TarnCtl_LogWarnInt("%s: Skipping name server %s of %s\n", kTag, s.c_str(), _path.c_str());
    }
    for (const std::string& d : found.domains) {
        try {
            ValidateSearchDomain(d);
            AppendNew(_lists.domains, {d});
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping search domain %s of %s: %s\n", kTag, d.c_str(), _path.c_str(), e.what());
        }
    }
    PersistInt();
    TarnCtl_LogInfoInt("%s: Imported %zu name servers and %zu search domains from %s\n", kTag, found.servers.size(),
                       found.domains.size(), _path.c_str());
}

// ---- Name servers ---------------------------------------------------------------------------

std::vector<std::string> DnsConfigImpl::GetNameServers() {
    RefreshIfStale();
    return Configured();
}

std::vector<std::string> DnsConfigImpl::GetAllNameServers() {
    RefreshIfStale();
    std::vector<std::string> out = Configured();
    AppendNew(out, _lists.raServers);
    return out;
}

std::vector<std::string> DnsConfigImpl::GetIpv6NameServers(bool routerAdvertised) {
    RefreshIfStale();
    if (routerAdvertised) return _lists.raServers;
    std::vector<std::string> out;
    for (const std::string& s : Configured())
        if (IsIpv6Text(s)) out.push_back(s);
    return out;
}

void DnsConfigImpl::AddNameServer(const IpAddress& address) { AddUserNameServer(address); }

void DnsConfigImpl::AddUserNameServer(const IpAddress& address) {
    const std::string text = ServerText(address);
    RefreshIfStale();
    if (Contains(Configured(), text)) throw HostCtlException("Name server " + text + " is already configured");
    Change([&] {
        _lists.servers.push_back(text);
        Erase(_removedServers, text);
    });
}

void DnsConfigImpl::AddSystemNameServer(const IpAddress& address) {
    const std::string text = ServerText(address);
    RefreshIfStale();
    if (Contains(Configured(), text) || Contains(_removedServers, text)) return;
    Change([&] { _lists.systemServers.push_back(text); });
}

void DnsConfigImpl::RemoveNameServer(const IpAddress& address) {
    const std::string text = address.GetStringAddress();
    RefreshIfStale();
    if (!Contains(Configured(), text)) throw HostCtlException("Name server " + text + " is not configured");
    Change([&] {
        Erase(_lists.servers, text);
        Erase(_lists.systemServers, text);
        AppendNew(_removedServers, {text});
    });
}

void DnsConfigImpl::RemoveNameServers() {
    Change([&] {
        AppendNew(_removedServers, Configured());
        _lists.servers.clear();
        _lists.systemServers.clear();
    });
}

void DnsConfigImpl::RemoveIpv6NameServers() {
    Change([&] { _lists.raServers.clear(); });
}

void DnsConfigImpl::SetIpv6HostInfo(const std::vector<std::string>& nameServers,
                                    const std::vector<std::string>& searchDomains) {
    std::vector<std::string> servers, domains;
    for (const std::string& s : nameServers) {
        if (Ipv6Address::IsValidAddress(s))
            AppendNew(servers, {Ipv6Address(s).GetStringAddress()});
        else
            TarnCtl_LogWarnInt("%s: Skipping advertised name server %s\n", kTag, s.c_str());
    }
    for (const std::string& d : searchDomains) {
        try {
            ValidateSearchDomain(d);
            AppendNew(domains, {d});
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping advertised search domain %s: %s\n", kTag, d.c_str(), e.what());
        }
    }
    Change([&] {
        _lists.raServers = servers;
        _lists.raDomains = domains;
    });
}

// ---- Search domains --------------------------------------------------------------------------

std::vector<std::string> DnsConfigImpl::GetSearchDomains() {
    RefreshIfStale();
    std::vector<std::string> out = ConfiguredDomains();
    AppendNew(out, _lists.raDomains);
    return out;
}

std::string DnsConfigImpl::GetSearchDomainsString() { return Join(GetSearchDomains(), " "); }

void DnsConfigImpl::SetSearchDomainsString(const std::string& text) {
    std::vector<std::string> words, domains;
    HostCtl::Misc::StringTokenize(text, words, " \t,");
    for (const std::string& d : words) {
        ValidateSearchDomain(d);
        AppendNew(domains, {d});
    }
    Change([&] {
        _lists.domains = domains;
        _lists.systemDomains.clear();
    });
}

void DnsConfigImpl::AddSearchDomain(const std::string& domain) { AddUserSearchDomain(domain); }

void DnsConfigImpl::AddUserSearchDomain(const std::string& domain) {
    ValidateSearchDomain(domain);
    RefreshIfStale();
    if (Contains(ConfiguredDomains(), domain))
        throw HostCtlException("Search domain " + domain + " is already configured");
    Change([&] {
        _lists.domains.push_back(domain);
        Erase(_removedDomains, domain);
    });
}

void DnsConfigImpl::AddSystemSearchDomain(const std::string& domain) {
    ValidateSearchDomain(domain);
    RefreshIfStale();
    if (Contains(ConfiguredDomains(), domain) || Contains(_removedDomains, domain)) return;
    Change([&] { _lists.systemDomains.push_back(domain); });
}

void DnsConfigImpl::RemoveSearchDomain(const std::string& domain) {
    RefreshIfStale();
    if (!Contains(ConfiguredDomains(), domain)) throw HostCtlException("Search domain " + domain + " is not configured");
    Change([&] {
        Erase(_lists.domains, domain);
        Erase(_lists.systemDomains, domain);
        AppendNew(_removedDomains, {domain});
    });
}

// ---- Host name, domain, FQDN ----------------------------------------------------------------

void DnsConfigImpl::RequireDefault(const char* what) {
    if (_key != kDefaultNetstack)
        throw HostCtlException(std::string(what) + " can only be set for default netstack instance, and not for " + _key);
}

std::string DnsConfigImpl::GetFqdn() { return GetAdvString("Misc", "HostName"); }

std::string DnsConfigImpl::GetHostname() {
    std::string fqdn = GetFqdn();
    return fqdn.substr(0, fqdn.find('.'));
}

std::string DnsConfigImpl::GetDomain() {
    std::string fqdn = GetFqdn();
    size_t dot = fqdn.find('.');
    return dot == std::string::npos ? "" : fqdn.substr(dot + 1);
}

std::string DnsConfigImpl::GetPreferredHostname() {
    // The option is a name on hosts that keep one; otherwise the host name is preferred.
    try {
        std::string preferred = GetAdvString("Misc", "PreferredHostName");
        if (!preferred.empty()) return preferred;
    } catch (const HostCtlException& e) {
        TarnCtl_LogVerboseInt("%s: No preferred host name: %s\n", kTag, e.what());
    }
    return GetHostname();
}

void DnsConfigImpl::SetHostname(const std::string& name, bool persist) {
    RequireDefault("Hostname");
    ValidateHostname(name);
    const std::string domain = GetDomain();
    if (!domain.empty()) ValidateDomainname(domain, name);
    SetFqdnInt(domain.empty() ? name : name + "." + domain, persist, name);
}

void DnsConfigImpl::SetDomain(const std::string& name, bool persist) {
    RequireDefault("Domain");
    const std::string host = GetHostname();
    if (!name.empty()) ValidateDomainname(name, host);
    SetFqdnInt(name.empty() ? host : host + "." + name, persist, host);
}

void DnsConfigImpl::SetFqdn(const std::string& name, bool persist, const std::string& userHostName) {
    RequireDefault("FQDN");
    ValidateFqdn(name);
    SetFqdnInt(name, persist, userHostName);
}

void DnsConfigImpl::SetFqdnInt(const std::string& fqdn, bool persist, const std::string& userHostName) {
    const std::string previous = GetFqdn();
    SetAdvString("Misc", "HostName", fqdn);
    try {
        const std::string mgmt = HostsFile::ManagementAddress();
        if (!mgmt.empty()) {
            HostsFile hosts;
            hosts.ParseOrInit();
            size_t dot = fqdn.find('.');
            std::vector<std::string> aliases;
            if (dot != std::string::npos) aliases.push_back(fqdn.substr(0, dot));
            hosts.AddOrReplaceEntry(mgmt, fqdn, aliases);
        }
    } catch (const HostCtlException&) {
        SetAdvString("Misc", "HostName", previous);
        throw;
    }
    if (!persist || IsBootMode()) return;
    try {
        EnsureRecorded();
        auto store = NetStore();
        const ConfigStoreObjectId id = NetstackId(_key);
        auto object = store->Get(id);
        if (!object) throw HostCtlException("Netstack instance '" + _key + "' is not found");
        auto dns = object->GetSubObject(SubObjectId("dns"));
        if (!dns) dns = object->CreateSubObject(SubObjectId("dns"));
        if (userHostName.empty()) {
            dns->Remove("host_name");
            TarnCtl_LogInfoInt("%s: Cleared user host name: %s\n", kTag, fqdn.c_str());
        } else {
            dns->SetValue("host_name", userHostName);
            TarnCtl_LogInfoInt("%s: Set user host name: %s\n", kTag, userHostName.c_str());
        }
        HaldenConfigStore::BootAwareTransaction tx(store);
        store->Write(object, HaldenConfigStore::BootWriteFlag(id, store->IsBoot()));
        tx.Commit();
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Failed to set user host name to config store: %s\n", kTag, e.what());
    }
}

// ---- Printing --------------------------------------------------------------------------------

std::string DnsConfigImpl::DnsInfoStr() {
    RefreshIfStale();
    return "netstack " + _key + ": nameservers {" + Join(Configured(), ", ") + "} router-advertised {" +
           Join(_lists.raServers, ", ") + "} search {" + Join(ConfiguredDomains(), ", ") + "} router-advertised {" +
           Join(_lists.raDomains, ", ") + "}";
}

void DnsConfigImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("DNS Config");
    printer->BeginObject();
    printer->Print("Netstack", _key);
    printer->Print("Name Servers", Join(GetAllNameServers(), ", "));
    printer->Print("Search Domains", Join(GetSearchDomains(), ", "));
    printer->EndObject();
}

// ---- Boot and upgrade ------------------------------------------------------------------------

void RestoreResolverFiles() {
    std::vector<std::string> keys{kDefaultNetstack};
    {
        SynchronizedConfigFileUtil config({kNetstacksRoot});
        for (auto& entry : config->GetArray(NetstackInstanceImpl::kConfigArray).GetInstances()) {
            std::string key;
            if (entry.GetValue("key", &key) && !Contains(keys, key)) keys.push_back(key);
        }
    }
    for (const std::string& key : keys) {
        try {
            DnsConfigImpl(key).RestoreResolvConf();
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Unable to restore the resolver file of netstack %s: %s\n", kTag, key.c_str(),
                                e.what());
        }
    }
}

namespace {
const Platform::Boot::Step kResolver("network.dns", 242, RestoreResolverFiles);
const Platform::Boot::UpgradeStep kUpgrade("network.dns", 240,
                                           [] { DnsConfigImpl(kDefaultNetstack).UpgradeFromResolvConf(); });
}  // namespace

}  // namespace TarnCtl::Network
