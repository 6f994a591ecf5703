// Distributed switches as the host sees them: proxy switches on a kernel port
// set of a distributed class, and their ports. No issue builds these yet: the
// switch inventory's distributed operations are "not available".
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/nettypes.h"
#include "hostctl/network_vswitch.h"
#include "hostctl/object.h"

namespace HostCtl::Network {

class DVPort;

enum class DVSPortType : uint32_t { All = 0, Uplink = 1, Shadow = 2, Zombie = 3 };

class DVSwitch : public virtual Portset {
public:
    virtual std::string GetDvsId() = 0;
    virtual std::string GetDvsName() = 0;
    virtual std::string GetVersion() = 0;
    virtual void SetVersion(const std::string& version) = 0;
    virtual void SetNumPorts(uint32_t numPorts) = 0;
    virtual std::unique_ptr<DVPort> GetDVPort(const std::string& id) = 0;
    virtual std::vector<std::unique_ptr<DVPort>> GetDVPorts(DVSPortType type, bool refresh) = 0;
    virtual std::unique_ptr<DVPort> GetDVPortByExternalId(const std::string& id) = 0;
    virtual void AddDVPort(const std::string& id, const std::string& name) = 0;
    virtual void RemoveDVPort(const std::string& id) = 0;
    virtual void AddUplink(const std::string& nic, const std::string& portId) = 0;
    virtual void RemoveUplink(const std::string& nic) = 0;
    virtual std::vector<std::string> GetUplinkPorts() = 0;
    virtual std::string GetUplinkPortName(const std::string& portId) = 0;
    virtual std::string GetUplinkPortId(const std::string& nic) = 0;
    virtual std::vector<std::string> GetShadowDVPorts() = 0;
    virtual std::vector<std::string> GetZombieDVPorts() = 0;
    virtual std::string GetVendorProp(const std::string& name) = 0;
    virtual std::vector<uint8_t> GetVendorData(const std::string& name) = 0;
    virtual void SetVendorData(const std::string& name, const std::vector<uint8_t>& data) = 0;
    virtual void ClearProp(const std::string& name) = 0;
    virtual std::map<std::string, std::string> GetDvsGlobalConfig() = 0;
    virtual std::map<std::string, std::string> GetDvsHostConfig() = 0;
    virtual std::map<std::string, std::string> GetDvsExtraConfig() = 0;
    virtual std::string ExecuteDvsCommand(const std::string& command, const std::vector<uint8_t>& bytes) = 0;
    virtual void Restore() = 0;
};

class DVPort : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual bool IsCreated() = 0;
    virtual bool IsInUse(std::vector<std::string>& reasons) = 0;
    virtual void Destroy() = 0;
    virtual std::string GetConnectionId() = 0;
    virtual void SetConnectionId(const std::string& id) = 0;
    virtual std::string GetPortGroupId() = 0;
    virtual void SetPortGroupId(const std::string& id) = 0;
    virtual bool IsBlocked() = 0;
    virtual void SetBlocked(bool on) = 0;
    virtual uint32_t GetVlanId() = 0;
    virtual void SetVlanId(uint32_t id) = 0;
    virtual NicTeamingPolicy GetTeamingPolicy() = 0;
    virtual void SetTeamingPolicy(const NicTeamingPolicy& policy) = 0;
    virtual PortSecurityPolicy GetSecurityPolicy() = 0;
    virtual void SetSecurityPolicy(const PortSecurityPolicy& policy) = 0;
    virtual ShapingPolicy GetShapingPolicy() = 0;
    virtual void SetShapingPolicy(const ShapingPolicy& policy) = 0;
    virtual std::string GetPortPersistencePath() = 0;
    virtual void SetPortPersistencePath(const std::string& path) = 0;
};

}  // namespace HostCtl::Network
