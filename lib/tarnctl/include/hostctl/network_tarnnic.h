// Kernel NICs: the host's own interfaces on a port group, a distributed port
// or an opaque network, with their addresses, MAC, MTU and service tags.
// Built by the kernel-NIC issue (TarnNicImpl, TarnosNicInfoImpl, TarnosNicApi,
// MacAddressGenerator); until then the inventory is "not available".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/nettypes.h"
#include "hostctl/network_vswitch.h"
#include "hostctl/object.h"

namespace HostCtl::Network {

class Pnic;

// Service tags of a kernel NIC; the numbers are the kernel's tag ids.
enum class TarnNicTagType : int {
    Management = 1,
    VelMove = 2,
    FaultToleranceLogging = 3,
    CorvaneReplication = 4,
    CorvaneReplicationNfc = 5,
    CorvaneProvisioning = 6,
    Morra = 7,
    Witness = 8,
    CorvaneBackupNfc = 9,
    PrecisionTimeProtocol = 10,
    NvmeTcp = 11,
    NvmeRdma = 12,
    MorraExternal = 13,
};

// Display names of the tags ("Management", "Velmove", ...) and the lookup by
// display or store name ("velmove"); an unknown one throws HostCtlException
// "Invalid tag <id or name>".
std::string TarnNicTagName(TarnNicTagType tag);
TarnNicTagType TarnNicTagFromName(const std::string& name);

// Where a kernel NIC is connected: a standard port group, a distributed port or
// an opaque network.
class ConnectionPoint {
public:
    enum Type : uint32_t { NONE = 0, VSS_PORT_GROUP = 1, VDS = 2, OPAQUE_NETWORK = 3 };

    static ConnectionPoint PortGroup(const std::string& name);
    static ConnectionPoint DVPort(const std::string& dvsId, const std::string& portId,
                                  const std::string& connectionId = "");
    static ConnectionPoint OpaqueNetwork(const std::string& networkId, const std::string& networkType,
                                         const std::string& externalId);

    Type GetType() const { return _type; }
    const std::string& GetPortGroupName() const { return _a; }
    const std::string& GetDvsId() const { return _a; }
    const std::string& GetDvPortId() const { return _b; }
    const std::string& GetConnectionId() const { return _c; }
    const std::string& GetOpaqueNetworkId() const { return _a; }
    const std::string& GetOpaqueNetworkType() const { return _b; }
    const std::string& GetExternalId() const { return _c; }
    // "VSS_PORT_GROUP", "VDS", "OPAQUE_NETWORK" (the configuration's connection type).
    static const char* TypeName(Type t);
    // Human-readable: the port-group name, "dvsId:portId", "id:type:externalId".
    std::string ToString() const;
    bool operator==(const ConnectionPoint& o) const {
        return _type == o._type && _a == o._a && _b == o._b && _c == o._c;
    }

private:
    Type _type = NONE;
    std::string _a, _b, _c;
};

// An interface of the host's own TCP/IP stack; kernel NICs are the only kind.
class NetworkInterface : public virtual HostCtl::Lib::HostCtlObject {
public:
};

class TarnNic : public virtual NetworkInterface {
public:
    static constexpr uint32_t DEFAULT_MTU = 1500;
    static constexpr uint32_t MIN_MTU = 1280;
    static constexpr uint32_t MAX_MTU = 9190;
    static constexpr uint32_t DEFAULT_TSOMSS = 65535;

    enum TarnNicType : uint32_t { TARNNIC_TYPE_GENERIC = 0, TARNNIC_TYPE_ISCSI = 1 };

    virtual void Enable() = 0;
    virtual void Disable() = 0;
    // True while the NIC is plumbed in the kernel.
    virtual bool IsEnabled() = 0;
    virtual void Destroy() = 0;
    virtual IpConfig GetIpConfig() = 0;
    virtual IpConfig GetConfiguredIpConfig() = 0;
    virtual void SetIpConfig(const IpConfig& config) = 0;
    virtual uint32_t GetMtu() = 0;
    virtual void SetMtu(uint32_t mtu) = 0;
    virtual void UnsetMtu() = 0;
    virtual MacAddress GetMacAddress() = 0;
    virtual void SetMacAddress(const MacAddress& mac) = 0;
    virtual void SetMacAddressFromPnic(Pnic* pnic) = 0;
    virtual void SetMacAddressAutoGenerate() = 0;
    virtual std::vector<TarnNicTagType> GetTags() = 0;
    virtual bool HasTag(TarnNicTagType tag) = 0;
    virtual void AddTag(TarnNicTagType tag, bool notify) = 0;
    virtual void AddTag(const std::string& tagName, bool notify) = 0;
    virtual void RemoveTag(TarnNicTagType tag) = 0;
    virtual std::string GetNetstackInstanceKey() = 0;
    virtual void SetNetstackInstanceKey(const std::string& key) = 0;
    virtual ConnectionPoint GetConnectionPoint() = 0;
    virtual void SetConnectionPoint(const ConnectionPoint& cp, bool rollback) = 0;
    virtual void SetPortGroup(const std::string& name) = 0;
    virtual std::string GetPortGroupName() = 0;
    virtual std::string GetInterfaceName() = 0;
    virtual uint32_t GetTsoMss() = 0;
    virtual uint32_t GetNumRxQueue() = 0;
    virtual bool GetDhcpBound() = 0;
    virtual std::string GetDhcpServer() = 0;
    virtual void RenewDHCPLease() = 0;
    virtual void RenewDHCPv6Lease() = 0;
    virtual void SetDhcpDns(bool on) = 0;
    virtual void SetIpv6DhcpDns(bool on) = 0;
    virtual bool IsSystemOwned() = 0;
    virtual void SetSystemOwned(bool on) = 0;
    virtual TarnNicType GetTarnNicType() = 0;
    virtual void SetTarnNicType(TarnNicType type) = 0;
    virtual bool IsNetDumpInterface() = 0;
};

class TarnosNicInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    // `netstackKey` "" means "defaultTcpipStack"; `name` "" takes the first free "tarnN".
    virtual void AddTarnosNic(const ConnectionPoint* cp, const std::string& netstackKey, const IpConfig& ip,
                              Pnic* pnic, uint32_t mtu, uint32_t tsoMss, uint32_t numRxQueue,
                              const std::string& name) = 0;
    virtual void AddTarnosNic(const ConnectionPoint* cp, const std::string& netstackKey, const IpConfig& ip,
                              const MacAddress& mac, uint32_t mtu, uint32_t tsoMss, uint32_t numRxQueue,
                              const std::string& name) = 0;
    virtual void AddTarnosNic(const std::string& portGroup, const std::string& netstackKey, const IpConfig& ip,
                              const MacAddress& mac, uint32_t mtu, uint32_t tsoMss, uint32_t numRxQueue,
                              const std::string& name) = 0;
    virtual void RemoveTarnosNic(const ConnectionPoint* cp, const std::string& netstackKey) = 0;
    virtual void RemoveTarnosNic(const std::string& portGroup, const std::string& netstackKey) = 0;
    virtual std::unique_ptr<TarnNic> GetTarnosNic(const ConnectionPoint& cp, const std::string& netstackKey) = 0;
    virtual std::unique_ptr<TarnNic> GetTarnosNicByInterface(const std::string& name, bool configured,
                                                             PortsetGetType type) = 0;
    virtual std::vector<std::unique_ptr<TarnNic>> GetTarnosNics(PortsetGetType type) = 0;
    virtual std::vector<std::unique_ptr<TarnNic>> GetTarnosNicsByTag(TarnNicTagType tag) = 0;
    virtual std::vector<std::unique_ptr<TarnNic>> GetTarnosNicsByType(TarnNic::TarnNicType type) = 0;
    virtual std::vector<std::unique_ptr<TarnNic>> GetTarnosNicsByInstanceKey(const std::string& key,
                                                                             PortsetGetType type) = 0;
    virtual std::vector<std::string> GetTarnosNicNames() = 0;
    virtual std::string GetTarnnicNetstackInstanceKey(const std::string& name) = 0;
    virtual uint32_t GetTarnNicCountByNetstackInstance(const std::string& key) = 0;
    virtual uint32_t GetTarnNicCountWithTag(const std::string& tagName) = 0;
    virtual bool TarnosNicExists(const ConnectionPoint& cp, const std::string& netstackKey) = 0;
    virtual bool TarnosNicConfigExists(const ConnectionPoint& cp, const std::string& netstackKey) = 0;
};

}  // namespace HostCtl::Network
