// The network domain: the network object every network question starts from,
// and netstack (TCP/IP stack instance) objects. The domain's other interfaces
// live in the headers included below, one per area:
//   network_pnic.h     physical NICs                    (network-core issue)
//   network_vswitch.h  standard switches, port groups   (switches issue)
//   network_tarnnic.h  kernel NICs                      (kernel-NIC issue)
//   network_routing.h  routing                          (DNS-and-routing issue)
//   network_dns.h      DNS                              (DNS-and-routing issue)
//   network_dvs.h      distributed switches             (not built yet)
// NetworkInfo and NetstackInstance are built by the network-core issue; the
// management-interface chain, AutoConfigNetwork and ClearNetworkConfig by the
// kernel-NIC issue. Operations whose area is not built yet throw
// HostCtlException "<operation> is not available yet".
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/nettypes.h"
#include "hostctl/network_dns.h"
#include "hostctl/network_dvs.h"
#include "hostctl/network_pnic.h"
#include "hostctl/network_routing.h"
#include "hostctl/network_tarnnic.h"
#include "hostctl/network_vswitch.h"
#include "hostctl/object.h"

namespace HostCtl::Network {

// States of a netstack: absent, configured but not running, running (the
// kernel's own marker of a running instance).
enum NetstackState : uint32_t {
    NETSTACK_ABSENT = 1,
    NETSTACK_CONFIGURED = 2,
    NETSTACK_RUNNING = 4660,
};

// One open connection of a netstack.
struct NetstackConnection {
    std::string protocol;  // "tcp", "udp", "ip"
    std::string localAddress;
    std::string remoteAddress;
    std::string state;
    uint32_t worldId = 0;
};

struct SriovNicInfo {
    std::string name;
    std::string pciAddress;
    uint32_t maxVfs = 0;
    uint32_t numVfs = 0;
};

struct SriovVfInfo {
    uint32_t vfId = 0;
    std::string pciAddress;
    MacAddress mac;
    bool active = false;
};

struct NetDumperParams {
    std::string interfaceName;
    std::string serverAddress;
    uint16_t serverPort = 0;
    bool enabled = false;
};

class NetstackInstance : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetKey() = 0;
    virtual void SetKey(const std::string& key) = 0;
    virtual std::string GetInstanceName() = 0;
    virtual void SetInstanceName(const std::string& name, bool persist) = 0;
    virtual unsigned int GetMaxConnections() = 0;
    // 2000 to 20000.
    virtual void SetMaxConnections(const unsigned int& n, bool persist) = 0;
    virtual void UnsetMaxConnections() = 0;
    virtual std::string GetCongestionControlAlgorithm() = 0;
    virtual void SetCongestionControlAlgorithm(const std::string& name, bool persist) = 0;
    virtual void UnsetCongestionControlAlgorithm() = 0;
    virtual std::vector<std::string> GetTarnNicNames() = 0;
    virtual bool GetCurrentIpv6Enabled() = 0;
    virtual void SetIpv6Enabled(bool on, bool persist) = 0;
    virtual bool GetIpv6Enabled() = 0;
    // "disabled", "enabled" or "echo-only".
    virtual void SetEcnStatus(const std::string& text) = 0;
    virtual std::string GetEcnStatus() = 0;
    virtual uint32_t GetState() = 0;
    virtual unsigned int GetCurrentMaxConnections() = 0;
    virtual bool IsEnabled() = 0;
    virtual void Enable() = 0;
    virtual void Create() = 0;
    virtual void Disable() = 0;
    virtual void Destroy(bool write) = 0;
    // The kernel's available algorithms ("newreno", "cubic", ...).
    virtual std::vector<std::string> GetCongestionControlAlgorithmList() = 0;
    // Applies an algorithm to the default netstack without touching the configuration.
    virtual void UpdateDefaultNSCongestionControlAlgorithm(const std::string& name) = 0;
};

class NetworkInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::unique_ptr<RoutingInfo> GetRoutingInfo(const std::string& netstackKey) = 0;
    virtual std::unique_ptr<DnsConfig> GetDnsConfig(const std::string& netstackKey) = 0;
    virtual std::unique_ptr<IpSecConfig> GetIpSecConfig() = 0;
    virtual std::unique_ptr<VirtualSwitchInfo> GetVirtualSwitchInfo() = 0;
    virtual std::unique_ptr<TarnosNicInfo> GetTarnosNicInfo() = 0;

    // ---- Physical NICs
    virtual std::vector<std::unique_ptr<Pnic>> GetPnics(PnicGetType type) = 0;
    // Empty when `name` is not a NIC (of the claimed ones, or of all with `all`).
    virtual std::unique_ptr<Pnic> GetPnicByName(const std::string& name, bool all) = 0;
    virtual std::vector<std::string> GetPnicNameList(PnicGetType type) = 0;
    virtual std::vector<std::string> GetFcoeCapablePnics() = 0;
    virtual std::vector<std::string> GetDVFilterFastPaths() = 0;

    // ---- Host-wide settings
    virtual unsigned int GetMaxVirtualSwitches() = 0;
    virtual unsigned int GetConfiguredMaxVirtualSwitches() = 0;
    // Takes effect at the next boot.
    virtual void SetConfiguredMaxVirtualSwitches(unsigned int n) = 0;
    virtual NicCapabilities GetSystemCapabilities() = 0;
    virtual std::vector<std::string> GetAllPortGroupNames(PortsetGetType type) = 0;
    virtual void SendWakeOnLAN(const std::string& interface, const MacAddress& target) = 0;

    // ---- Management interface
    virtual std::unique_ptr<TarnNic> GetManagementInterface() = 0;
    virtual void SetManagementInterface(NetworkInterface* iface) = 0;
    virtual void UpdateManagementInterface() = 0;
    virtual std::unique_ptr<TarnNic> SelectManagementInterface() = 0;
    virtual std::unique_ptr<TarnNic> GetInterfaceByName(const std::string& name) = 0;
    virtual std::string GetTaggedManagementInterface() = 0;
    virtual void SetTaggedManagementInterface(const std::string& name) = 0;
    virtual void UnsetTaggedManagementInterface() = 0;

    // ---- IPv6 of the kernel's stack: live state and the state after the next boot.
    virtual bool IsTarnIpv6Enabled() = 0;
    virtual void SetTarnIpv6Enabled(bool on) = 0;
    virtual bool GetTarnIpv6Enabled() = 0;
    virtual bool IsTarnIpv6GlobalRouterAdvEnabled(const std::string& key) = 0;
    virtual void SetTarnIpv6GlobalRouterAdvEnabled(bool on, const std::string& key) = 0;

    virtual std::vector<NetstackConnection> GetCurrentIpTarnosConnections(const std::string& key) = 0;
    virtual std::vector<NetstackConnection> GetCurrentTcpTarnosConnections(const std::string& key) = 0;
    virtual std::vector<NetstackConnection> GetCurrentUdpTarnosConnections(const std::string& key) = 0;

    virtual std::vector<SriovNicInfo> GetAllSriovInfo() = 0;
    virtual std::vector<std::string> GetSriovNics() = 0;
    virtual std::vector<SriovVfInfo> GetSriovNicVFInfo(const std::string& name) = 0;
    virtual std::map<std::string, uint64_t> GetSriovNicVFStats(const std::string& name, uint32_t vfId) = 0;

    // ---- Netstacks
    virtual void AddNetstackInstance(NetstackInstance* ns, bool createOnly) = 0;
    virtual void RemoveNetstackInstance(const std::string& key, bool force) = 0;
    virtual std::vector<std::unique_ptr<NetstackInstance>> ListNetstackInstances() = 0;
    // A new object with the key and every default, without asking anything.
    virtual std::unique_ptr<NetstackInstance> GetNetstackInstanceByKey(const std::string& key) = 0;
    // The configured or running instance, or empty.
    virtual std::unique_ptr<NetstackInstance> LookupNetstackInstanceByKey(const std::string& key) = 0;
    virtual std::unique_ptr<NetstackInstance> GetDefaultNetstackInstance() = 0;
    virtual uint32_t GetNetstackInstanceState(const std::string& key) = 0;
    virtual std::vector<std::string> GetNetstackInstancePreDefinedKeys() = 0;
    virtual unsigned int GetNetstackInstanceMaxConnectionsDefault() = 0;
    virtual bool GetNetstackInstanceIpv6EnabledDefault() = 0;
    virtual std::string GetNetstackInstanceCongestionAlgoDefault() = 0;
    // The running instance as the kernel reports it, or empty.
    virtual std::unique_ptr<NetstackInstance> GetNetstackInstanceRTByKey(const std::string& key) = 0;

    // ---- Network core dump client
    virtual NetDumperParams GetNetDumperParams() = 0;
    virtual Ipv4Address GetNetDumpServerIpv4() = 0;
    virtual void SetNetDumperParams(const std::string& interface, const Ipv4Address& server, uint16_t port) = 0;
    virtual void SetNetDumperParams(const std::string& interface, const Ipv6Address& server, uint16_t port) = 0;
    virtual void EnableNetDumper() = 0;
    virtual void DisableNetDumper() = 0;
    virtual bool GetNetDumperEnabled() = 0;
    virtual std::string RunNetDumperCheck() = 0;
    virtual bool IsNetDumperRestorable() = 0;
    virtual void RestoreNetDumper() = 0;

    virtual std::string GetFerroTransportNodeId() = 0;
    virtual void SetFerroTransportNodeId(const std::string& id) = 0;

    // ---- Packet-processing cores
    virtual uint32_t GetMaxLcores() = 0;
    virtual void SetMaxLcores(uint32_t n) = 0;
    virtual std::vector<uint32_t> GetLcoreList() = 0;
    virtual void AddLcore(uint32_t id) = 0;
    virtual void RemoveLcore(uint32_t id) = 0;
    virtual std::string GetLcoreSwitch(uint32_t id) = 0;
    virtual std::string GetLcoreAffinity(uint32_t id) = 0;
    virtual void AddLcoreSwitch(uint32_t id, const std::string& switchName) = 0;
    virtual void SetLcoreAffinity(uint32_t id, const std::string& affinity) = 0;

    virtual std::vector<std::string> GetAllPorts() = 0;
    virtual std::vector<std::unique_ptr<PortGroup>> GetAllPortGroups(PortsetGetType type) = 0;
    virtual std::string GetFirstPnicFromPortGroupName(const std::string& portGroup) = 0;
    virtual std::string GetPnicFromInterface(const std::string& interface) = 0;
    virtual bool IsPnicBmcNic(const std::string& name) = 0;

    // ---- Boot-time restore
    virtual void RestorePnics() = 0;
    virtual void RestoreNetstackInstances() = 0;
    virtual void RestoreRfc7217SecretKey() = 0;
    // Builds the first switch and management interface on a host without network configuration.
    virtual void AutoConfigNetwork() = 0;
    // Removes every kernel NIC and switch.
    virtual void ClearNetworkConfig() = 0;
};

}  // namespace HostCtl::Network
