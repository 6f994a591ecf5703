// Name resolution of one netstack: its name servers and search domains
// (configured by the user or the system, or learned from IPv6 router
// advertisements), written to the netstack's resolver file and recorded in the
// netstack's store object ("dns"); and, for the default netstack only, the
// host name, domain and FQDN (the advanced option Misc/HostName).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "hostctl/network_dns.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Network {

class DnsConfigImpl : public virtual HostCtl::Network::DnsConfig, public TarnCtl::Lib::TarnCtlObject {
public:
    explicit DnsConfigImpl(const std::string& netstackKey);

    // "/etc/resolv.conf" for the default netstack, else "/etc/<key>-resolv.conf".
    static std::string ResolverPath(const std::string& key);
    // Validation with the exact refusal texts; they throw HostCtlException.
    static void ValidateHostname(const std::string& name);
    static void ValidateDomainname(const std::string& domain, const std::string& hostname);
    static void ValidateFqdn(const std::string& fqdn);
    // "localhost" and its subdomains.
    static bool IsLocalhostName(const std::string& name);

    // ---- HostCtlObject
    void Refresh() override;
    void SaveConfig() override { SetConfigStore(); }
    void LoadConfig() override { RestoreResolvConf(); }
    std::string GetName() const override { return "dns"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // ---- DnsConfig
    std::vector<std::string> GetNameServers() override;
    std::vector<std::string> GetAllNameServers() override;
    std::vector<std::string> GetIpv6NameServers(bool routerAdvertised) override;
    void AddNameServer(const HostCtl::Network::IpAddress& address) override;
    void AddUserNameServer(const HostCtl::Network::IpAddress& address) override;
    void AddSystemNameServer(const HostCtl::Network::IpAddress& address) override;
    void RemoveNameServer(const HostCtl::Network::IpAddress& address) override;
    void RemoveNameServers() override;
    void RemoveIpv6NameServers() override;
    std::vector<std::string> GetSearchDomains() override;
    std::string GetSearchDomainsString() override;
    void SetSearchDomainsString(const std::string& text) override;
    void AddSearchDomain(const std::string& domain) override;
    void AddUserSearchDomain(const std::string& domain) override;
    void AddSystemSearchDomain(const std::string& domain) override;
    void RemoveSearchDomain(const std::string& domain) override;
    std::string GetHostname() override;
    void SetHostname(const std::string& name, bool persist) override;
    std::string GetDomain() override;
    void SetDomain(const std::string& name, bool persist) override;
    std::string GetFqdn() override;
    void SetFqdn(const std::string& name, bool persist, const std::string& userHostName) override;
    std::string GetPreferredHostname() override;
    void SetIpv6HostInfo(const std::vector<std::string>& nameServers,
                         const std::vector<std::string>& searchDomains) override;
    bool IsLocalhost(const std::string& name) override { return IsLocalhostName(name); }
    bool IsLocalhostIpAddr(const std::string& text) override;
    void SaveToResolvConf() override;
    void SetConfigStore() override;
    void RestoreResolvConf() override;
    void RestoreResolvConfUserConfigure() override;
    void RestoreResolvConfIpv6RA() override;
    void UpgradeFromResolvConf() override;
    std::string GetNetstackInstanceKey() override { return _key; }
    void SetNetstackInstanceKey(const std::string& key) override;
    std::string DnsInfoStr() override;

private:
    struct Lists {
        std::vector<std::string> servers, systemServers, raServers;
        std::vector<std::string> domains, systemDomains, raDomains;
    };
    void RefreshIfStale();
    // Reads the store's lists; false when the netstack has no "dns" record.
    bool ReadStore(Lists* out, bool raOnly);
    // Reads the resolver file's keywords into `out` (configured lists).
    bool ReadResolverFile(Lists* out);
    // Applies `change` to the lists, then writes the file and the store; any
    // failure puts lists and file back as they were.
    void Change(const std::function<void()>& change);
    // Writes the lists to the store; throws on failure.
    void PersistInt();
    // Records the netstack when it runs but was never recorded.
    void EnsureRecorded();
    void RequireDefault(const char* what);
    void SetFqdnInt(const std::string& fqdn, bool persist, const std::string& userHostName);
    std::vector<std::string> Configured() const;
    std::vector<std::string> ConfiguredDomains() const;

    std::string _key;
    std::string _path;
    Lists _lists;
    // Removed by the user: kept out when the system offers them again.
    std::vector<std::string> _removedServers, _removedDomains;
    bool _stale = true;
};

// Boot: every netstack's resolver file from its record.
void RestoreResolverFiles();

}  // namespace TarnCtl::Network
