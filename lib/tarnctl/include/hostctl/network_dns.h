// Name resolution of one netstack: name servers, search domains, host name,
// domain and FQDN, written to the netstack's resolver file. Built by the
// DNS-and-routing issue (DnsConfigImpl; the hosts file is its HostsFile and
// HostsFileEntry); until then NetworkInfo::GetDnsConfig is "not available".
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/nettypes.h"
#include "hostctl/object.h"

namespace HostCtl::Network {

class DnsConfig : public virtual HostCtl::Lib::HostCtlObject {
public:
    // Configured servers, then system and router-advertised ones.
    virtual std::vector<std::string> GetNameServers() = 0;
    virtual std::vector<std::string> GetAllNameServers() = 0;
    virtual std::vector<std::string> GetIpv6NameServers(bool routerAdvertised) = 0;
    virtual void AddNameServer(const IpAddress& address) = 0;
    virtual void AddUserNameServer(const IpAddress& address) = 0;
    virtual void AddSystemNameServer(const IpAddress& address) = 0;
    virtual void RemoveNameServer(const IpAddress& address) = 0;
    virtual void RemoveNameServers() = 0;
    virtual void RemoveIpv6NameServers() = 0;
    virtual std::vector<std::string> GetSearchDomains() = 0;
    virtual std::string GetSearchDomainsString() = 0;
    virtual void SetSearchDomainsString(const std::string& text) = 0;
    virtual void AddSearchDomain(const std::string& domain) = 0;
    virtual void AddUserSearchDomain(const std::string& domain) = 0;
    virtual void AddSystemSearchDomain(const std::string& domain) = 0;
    virtual void RemoveSearchDomain(const std::string& domain) = 0;
    virtual std::string GetHostname() = 0;
    virtual void SetHostname(const std::string& name, bool persist) = 0;
    virtual std::string GetDomain() = 0;
    virtual void SetDomain(const std::string& name, bool persist) = 0;
    virtual std::string GetFqdn() = 0;
    virtual void SetFqdn(const std::string& name, bool persist, const std::string& source) = 0;
    virtual std::string GetPreferredHostname() = 0;
    virtual void SetIpv6HostInfo(const std::vector<std::string>& nameServers,
                                 const std::vector<std::string>& searchDomains) = 0;
    virtual bool IsLocalhost(const std::string& name) = 0;
    virtual bool IsLocalhostIpAddr(const std::string& text) = 0;
    virtual void SaveToResolvConf() = 0;
    virtual void SetConfigStore() = 0;
    virtual void RestoreResolvConf() = 0;
    virtual void RestoreResolvConfUserConfigure() = 0;
    virtual void RestoreResolvConfIpv6RA() = 0;
    virtual void UpgradeFromResolvConf() = 0;
    virtual std::string GetNetstackInstanceKey() = 0;
    virtual void SetNetstackInstanceKey(const std::string& key) = 0;
    virtual std::string DnsInfoStr() = 0;
};

// IPsec settings of the host; not specified further, so the accessor is "not available".
class IpSecConfig : public virtual HostCtl::Lib::HostCtlObject {
public:
};

}  // namespace HostCtl::Network
