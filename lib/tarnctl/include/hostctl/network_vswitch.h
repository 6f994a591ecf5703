// Standard virtual switches and their port groups, and the port-set base that
// distributed switches share. Built by the switches-and-port-groups issue
// (VirtualSwitchInfoImpl, VirtualSwitchImpl, PortGroupImpl, PortsetImpl); the
// distributed and opaque operations of VirtualSwitchInfo belong to the
// distributed-switch Part and stay "not available" until it is built.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/nettypes.h"
#include "hostctl/object.h"

namespace HostCtl::Network {

class DVSwitch;
class PortGroup;

// Which switch kinds a listing covers (bits).
enum PortsetGetType : uint32_t {
    PORTSET_GET_VSS = 1,
    PORTSET_GET_DVS = 2,
    PORTSET_GET_OPAQUE = 4,
    PORTSET_GET_ALL = 7,
};

// Link-discovery state of a switch; texts "down", "listen", "advertise", "both",
// store values "NONE", "LISTEN", "ADVERTISE", "BOTH".
enum CdpStatus : uint32_t { CDP_DOWN = 0, CDP_LISTEN = 1, CDP_ADVERTISE = 2, CDP_BOTH = 3 };

// A range of VLAN ids a guest may tag itself (both ends included).
struct VlanRange {
    uint16_t first = 0;
    uint16_t last = 0;
    bool operator==(const VlanRange& o) const { return first == o.first && last == o.last; }
};

// The kernel port set under every switch kind.
class Portset : public virtual HostCtl::Lib::HostCtlObject {
public:
    static constexpr uint32_t DEF_NUM_PORTS = 128;
    static constexpr uint32_t MIN_NUM_PORTS = 1;
    static constexpr uint32_t DEF_MTU = 1500;
    static constexpr uint32_t MAX_VSNAME_SZ = 32;
    static constexpr uint32_t DEF_BEACON_INTERVAL = 5;
    static constexpr uint32_t DEF_BEACON_THRESHOLD = 3;

    virtual uint32_t GetNumPorts() = 0;
    virtual uint32_t GetMTU() = 0;
    virtual void SetMTU(uint32_t mtu) = 0;
    // Uplink NIC names in link order; `configured` asks the configuration
    // instead of the kernel.
    virtual std::vector<std::string> GetUplinks(bool configured) = 0;
    virtual std::string GetSwitchClass() = 0;
    virtual CdpStatus GetCdpStatus() = 0;
    virtual void SetCdpStatus(CdpStatus status) = 0;
    virtual void Destroy() = 0;
};

class VirtualSwitch : public virtual Portset {
public:
    virtual uint32_t GetFlags() = 0;
    virtual void SetType(const std::string& type) = 0;
    // Deprecated: logs and does nothing.
    virtual void SetNumPorts(uint32_t numPorts) = 0;
    virtual uint32_t GetNumConfiguredPorts() = 0;
    virtual uint32_t GetPortsInUse() = 0;
    virtual uint32_t GetPortsAvailable() = 0;
    virtual uint32_t GetNumAccessPorts() = 0;
    virtual uint32_t GetNumAccessPortsInUse() = 0;
    virtual std::string GetType() = 0;
    virtual std::vector<std::pair<uint16_t, uint64_t>> GetUplinkVlanStats(const std::string& uplink) = 0;
    virtual void SetUplinkVlanStatsEnabled(const std::string& uplink, bool on) = 0;
    virtual std::vector<uint32_t> GetPortList() = 0;
    virtual bool GetFastPathActivated() = 0;
    virtual std::string GetFastPathMode() = 0;
    virtual void ActivateFastPath(const std::string& mode) = 0;
    virtual void DeactivateFastPath() = 0;
    virtual void RefreshEns() = 0;
    virtual std::string GetEnsInfo() = 0;

    virtual std::vector<std::unique_ptr<PortGroup>> GetPortGroups() = 0;
    // Empty when the switch has no port group of that name.
    virtual std::unique_ptr<PortGroup> GetPortGroupByName(const std::string& name) = 0;
    virtual void AddPortGroup(const std::string& name) = 0;
    virtual void RemovePortGroup(const std::string& name) = 0;

    // Policies: Get is the effective policy (own settings over the defaults),
    // GetConfigured only what is recorded; Set records the given policy and
    // applies the derived one to every port group.
    virtual PortSecurityPolicy GetSecurityPolicy() = 0;
    virtual PortSecurityPolicy GetConfiguredSecurityPolicy() = 0;
    virtual void SetSecurityPolicy(const PortSecurityPolicy& policy) = 0;
    virtual NicCapabilities GetNicCapabilities() = 0;
    virtual NicCapabilities GetConfiguredNicCapabilities() = 0;
    virtual void SetNicCapabilities(const NicCapabilities& caps) = 0;
    virtual ShapingPolicy GetShapingPolicy() = 0;
    virtual ShapingPolicy GetConfiguredShapingPolicy() = 0;
    virtual void SetShapingPolicy(const ShapingPolicy& policy) = 0;
    virtual NicTeamingPolicy GetTeamingPolicy() = 0;
    virtual NicTeamingPolicy GetConfiguredTeamingPolicy() = 0;
    virtual void SetTeamingPolicy(const NicTeamingPolicy& policy) = 0;

    virtual void AddUplink(const std::string& nic, bool updatePolicies) = 0;
    virtual void RemoveUplink(const std::string& nic, bool updatePolicies) = 0;

    virtual void SetBeaconInterval(uint32_t seconds) = 0;
    virtual void UnsetBeaconInterval() = 0;
    virtual uint32_t GetBeaconInterval() = 0;
    virtual bool IsBeaconEnabled() = 0;
    virtual void SetBeaconThreshold(uint32_t threshold) = 0;
    virtual uint32_t GetBeaconThreshold() = 0;
    // Owners that still ask for beacon probing ("VS:<switch>", "PG:<port group>").
    virtual std::vector<std::string> NeedBeacon() = 0;

    virtual void UnsetCdpStatus() = 0;
    virtual std::string GetCdpStatusString() = 0;
    virtual std::string GetOverlayForIndex(uint8_t index) = 0;
    virtual void SetOverlayForIndex(uint8_t index, const std::string& name) = 0;
    virtual void UnsetMTU() = 0;
    virtual void UnsetNumPorts() = 0;
    virtual void RestoreUplinks() = 0;
    virtual void FetchNetPolicyForPortGroups() = 0;
    virtual void Restore() = 0;
};

class PortGroup : public virtual HostCtl::Lib::HostCtlObject {
public:
    static constexpr uint32_t MIN_VLAN_ID = 0;
    static constexpr uint32_t MAX_VLAN_ID = 4095;

    virtual void SetName(const std::string& name) = 0;
    virtual std::string GetType() = 0;
    virtual uint32_t GetVlanId() = 0;
    virtual void SetVlanId(uint32_t id) = 0;
    virtual void UnsetVlanId() = 0;
    virtual std::string GetPortsetName() = 0;
    virtual std::unique_ptr<VirtualSwitch> GetVirtualSwitch() = 0;
    virtual uint32_t GetActiveClients() = 0;
    virtual bool IsZombie() = 0;
    virtual std::vector<uint32_t> GetPorts() = 0;
    // True when in use; `reasons` gets one text per reason ("2 active ports", "Tarnos NIC").
    virtual bool IsInUse(std::vector<std::string>& reasons) = 0;

    // Get: effective (own over the switch's over the defaults); GetConfigured:
    // what the port group records itself.
    virtual PortSecurityPolicy GetSecurityPolicy() = 0;
    virtual PortSecurityPolicy GetConfiguredSecurityPolicy() = 0;
    virtual void SetSecurityPolicy(const PortSecurityPolicy& policy) = 0;
    virtual NicCapabilities GetNicCapabilities() = 0;
    virtual NicCapabilities GetConfiguredNicCapabilities() = 0;
    virtual void SetNicCapabilities(const NicCapabilities& caps) = 0;
    virtual ShapingPolicy GetShapingPolicy() = 0;
    virtual ShapingPolicy GetConfiguredShapingPolicy() = 0;
    virtual void SetShapingPolicy(const ShapingPolicy& policy) = 0;
    virtual NicTeamingPolicy GetTeamingPolicy() = 0;
    virtual NicTeamingPolicy GetConfiguredTeamingPolicy() = 0;
    virtual void SetTeamingPolicy(const NicTeamingPolicy& policy) = 0;

    virtual std::vector<VlanRange> GetGuestVlanFilters() = 0;
    virtual void SetGuestVlanFilters(const std::vector<VlanRange>& filters) = 0;
    virtual void AddGuestVlanFilter(const VlanRange& filter) = 0;
    virtual void ClearGuestVlanFilters() = 0;
    virtual uint32_t GetFenceId() = 0;
    virtual void SetFenceId(uint32_t id) = 0;
    virtual void Destroy() = 0;
    virtual void Restore() = 0;
};

class VirtualSwitchInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual void AddVirtualSwitch(const std::string& name, uint32_t numPorts) = 0;
    virtual void AddVirtualSwitchWithPolicy(const NicTeamingPolicy& teaming, const PortSecurityPolicy& security,
                                            const ShapingPolicy& shaping, const NicCapabilities& caps,
                                            const std::string& name, uint32_t numPorts) = 0;
    virtual void RemoveVirtualSwitch(const std::string& name) = 0;
    virtual std::vector<std::unique_ptr<VirtualSwitch>> GetVirtualSwitches(PortsetGetType type) = 0;
    // Empty when there is no such switch.
    virtual std::unique_ptr<VirtualSwitch> GetVirtualSwitchByName(const std::string& name,
                                                                  PortsetGetType type) = 0;
    virtual bool SwitchExists(const std::string& name) = 0;
    virtual std::vector<std::unique_ptr<Portset>> GetAllSwitches() = 0;

    // Distributed and opaque switches.
    virtual void AddDVSwitch(const std::string& name, const std::string& id, const std::string& alias,
                             const std::string& version, uint32_t numPorts, uint32_t maxPorts, bool opaque) = 0;
    virtual void RemoveDVSwitch(const std::string& id) = 0;
    virtual std::vector<std::unique_ptr<DVSwitch>> GetDVSwitches() = 0;
    virtual std::unique_ptr<DVSwitch> GetDVSwitchByName(const std::string& name) = 0;
    virtual std::unique_ptr<DVSwitch> GetDVSwitchById(const std::string& id) = 0;
    virtual std::vector<std::unique_ptr<DVSwitch>> GetOpaqueSwitches() = 0;
    virtual void SaveDVSCache(const std::string& file) = 0;
    virtual void LoadDVSCache(const std::string& file) = 0;
};

}  // namespace HostCtl::Network
