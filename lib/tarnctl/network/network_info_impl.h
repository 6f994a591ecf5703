// The network object: entry to the whole network domain, host-wide network
// settings and the netstacks. It holds almost no state; each question reads
// the kernel or the configuration when it is asked.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/network.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Network {

class NetstackInstanceImpl;

class NetworkInfoImpl : public virtual HostCtl::Network::NetworkInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    static constexpr const char* MGMT_PGNAME = "Management Network";
    static constexpr const char* VM_PGNAME = "VM Network";
    static constexpr const char* DefaultDVSCacheFile = "/etc/quillon/dvsdata.db";
    static constexpr const char* NetworkNameBlacklistChar = "\"";

    NetworkInfoImpl() = default;

    // A name is valid when it holds none of the blacklisted characters; with
    // `throwOnError` an invalid one throws instead of returning false.
    static bool IsNetworkObjectNameValid(const std::string& name, bool throwOnError);

    // ---- HostCtlObject
    void Refresh() override;
    std::string GetName() const override { return "NetworkInfo"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // ---- Other areas
    std::unique_ptr<HostCtl::Network::RoutingInfo> GetRoutingInfo(const std::string& netstackKey) override;
    std::unique_ptr<HostCtl::Network::DnsConfig> GetDnsConfig(const std::string& netstackKey) override;
    std::unique_ptr<HostCtl::Network::IpSecConfig> GetIpSecConfig() override;
    std::unique_ptr<HostCtl::Network::VirtualSwitchInfo> GetVirtualSwitchInfo() override;
    std::unique_ptr<HostCtl::Network::TarnosNicInfo> GetTarnosNicInfo() override;

    // ---- Physical NICs
    std::vector<std::unique_ptr<HostCtl::Network::Pnic>> GetPnics(HostCtl::Network::PnicGetType type) override;
    std::unique_ptr<HostCtl::Network::Pnic> GetPnicByName(const std::string& name, bool all) override;
    std::vector<std::string> GetPnicNameList(HostCtl::Network::PnicGetType type) override;
    std::vector<std::string> GetFcoeCapablePnics() override;
    std::vector<std::string> GetDVFilterFastPaths() override;

    // ---- Host-wide settings
    unsigned int GetMaxVirtualSwitches() override;
    unsigned int GetConfiguredMaxVirtualSwitches() override;
    void SetConfiguredMaxVirtualSwitches(unsigned int n) override;
    HostCtl::Network::NicCapabilities GetSystemCapabilities() override;
    std::vector<std::string> GetAllPortGroupNames(HostCtl::Network::PortsetGetType type) override;
    void SendWakeOnLAN(const std::string& interface, const HostCtl::Network::MacAddress& target) override;

    // ---- Management interface
    std::unique_ptr<HostCtl::Network::TarnNic> GetManagementInterface() override;
    void SetManagementInterface(HostCtl::Network::NetworkInterface* iface) override;
    void UpdateManagementInterface() override;
    std::unique_ptr<HostCtl::Network::TarnNic> SelectManagementInterface() override;
    std::unique_ptr<HostCtl::Network::TarnNic> GetInterfaceByName(const std::string& name) override;
    std::string GetTaggedManagementInterface() override;
    void SetTaggedManagementInterface(const std::string& name) override;
    void UnsetTaggedManagementInterface() override;

    // ---- IPv6
    bool IsTarnIpv6Enabled() override;
    void SetTarnIpv6Enabled(bool on) override;
    bool GetTarnIpv6Enabled() override;
    bool IsTarnIpv6GlobalRouterAdvEnabled(const std::string& key) override;
    void SetTarnIpv6GlobalRouterAdvEnabled(bool on, const std::string& key) override;

    std::vector<HostCtl::Network::NetstackConnection> GetCurrentIpTarnosConnections(const std::string& key) override;
    std::vector<HostCtl::Network::NetstackConnection> GetCurrentTcpTarnosConnections(const std::string& key) override;
    std::vector<HostCtl::Network::NetstackConnection> GetCurrentUdpTarnosConnections(const std::string& key) override;

    std::vector<HostCtl::Network::SriovNicInfo> GetAllSriovInfo() override;
    std::vector<std::string> GetSriovNics() override;
    std::vector<HostCtl::Network::SriovVfInfo> GetSriovNicVFInfo(const std::string& name) override;
    std::map<std::string, uint64_t> GetSriovNicVFStats(const std::string& name, uint32_t vfId) override;

    // ---- Netstacks
    void AddNetstackInstance(HostCtl::Network::NetstackInstance* ns, bool createOnly) override;
    void RemoveNetstackInstance(const std::string& key, bool force) override;
    std::vector<std::unique_ptr<HostCtl::Network::NetstackInstance>> ListNetstackInstances() override;
    std::unique_ptr<HostCtl::Network::NetstackInstance> GetNetstackInstanceByKey(const std::string& key) override;
    std::unique_ptr<HostCtl::Network::NetstackInstance> LookupNetstackInstanceByKey(const std::string& key) override;
    std::unique_ptr<HostCtl::Network::NetstackInstance> GetDefaultNetstackInstance() override;
    uint32_t GetNetstackInstanceState(const std::string& key) override;
    std::vector<std::string> GetNetstackInstancePreDefinedKeys() override;
    unsigned int GetNetstackInstanceMaxConnectionsDefault() override;
    bool GetNetstackInstanceIpv6EnabledDefault() override;
    std::string GetNetstackInstanceCongestionAlgoDefault() override;
    std::unique_ptr<HostCtl::Network::NetstackInstance> GetNetstackInstanceRTByKey(const std::string& key) override;

    // ---- Network core dump client
    HostCtl::Network::NetDumperParams GetNetDumperParams() override;
    HostCtl::Network::Ipv4Address GetNetDumpServerIpv4() override;
    void SetNetDumperParams(const std::string& interface, const HostCtl::Network::Ipv4Address& server,
                            uint16_t port) override;
    void SetNetDumperParams(const std::string& interface, const HostCtl::Network::Ipv6Address& server,
                            uint16_t port) override;
    void EnableNetDumper() override;
    void DisableNetDumper() override;
    bool GetNetDumperEnabled() override;
    std::string RunNetDumperCheck() override;
    bool IsNetDumperRestorable() override;
    void RestoreNetDumper() override;

    std::string GetFerroTransportNodeId() override;
    void SetFerroTransportNodeId(const std::string& id) override;

    uint32_t GetMaxLcores() override;
    void SetMaxLcores(uint32_t n) override;
    std::vector<uint32_t> GetLcoreList() override;
    void AddLcore(uint32_t id) override;
    void RemoveLcore(uint32_t id) override;
    std::string GetLcoreSwitch(uint32_t id) override;
    std::string GetLcoreAffinity(uint32_t id) override;
    void AddLcoreSwitch(uint32_t id, const std::string& switchName) override;
    void SetLcoreAffinity(uint32_t id, const std::string& affinity) override;

    std::vector<std::string> GetAllPorts() override;
    std::vector<std::unique_ptr<HostCtl::Network::PortGroup>> GetAllPortGroups(
        HostCtl::Network::PortsetGetType type) override;
    std::string GetFirstPnicFromPortGroupName(const std::string& portGroup) override;
    std::string GetPnicFromInterface(const std::string& interface) override;
    bool IsPnicBmcNic(const std::string& name) override;

    // ---- Boot-time restore
    void RestorePnics() override;
    void RestoreNetstackInstances() override;
    void RestoreRfc7217SecretKey() override;
    void AutoConfigNetwork() override;
    void ClearNetworkConfig() override;
    // The first switch's uplink, port groups, teaming and management VLAN.
    void BuildFirstSwitch(const std::string& uplink, const std::string& cmdline);
    // True when the configuration holds a kernel NIC or a standard switch.
    static bool HasNetworkConfiguration();
    // The boot's bring-up: on a host without network configuration,
    // AutoConfigNetwork, recorded like any change (it is new configuration,
    // not a replay); otherwise nothing.
    void AutoConfigNetworkAtBoot();

    // The default netstack's configuration record from its kernel state
    // ("Failed to get kernel state for default netstack" when it does not run),
    // and the same only when the record is missing.
    void CreateDefaultNetstackRecord();
    void EnsureDefaultNetstackRecord();
    // The management chain; with `tag` the interface it settles on is tagged
    // (and the choice logged), without it nothing is changed.
    std::unique_ptr<HostCtl::Network::TarnNic> FindManagementInterface(bool tag);
    std::unique_ptr<HostCtl::Network::TarnNic> SelectManagementInterfaceInt(bool tag);

private:
    void RefreshIfPending();
    // The consistency rules between a netstack's record and the kernel, shared
    // by the lookup and the listing; `component` names the caller in warnings.
    std::unique_ptr<NetstackInstanceImpl> BuildNetstack(const std::string& key, const char* component);
    // The running instance from the kernel's values, or empty.
    std::unique_ptr<NetstackInstanceImpl> BuildRunning(const std::string& key);

    bool _refreshPending = true;
    unsigned int _maxPortsets = 0;
    unsigned int _configuredMaxPortsets = 0;
};

}  // namespace TarnCtl::Network
