// One standard virtual switch. Its policies exist only in the configuration:
// a switch setter records the policy given and applies, to every port group,
// that port group's own policy derived from the switch's effective one. The
// switch's entry is "/net/vswitch"/"child" by "name", the store object
// "network_vss"/"switches"/<name>.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "network/portgroup_impl.h"
#include "network/portset_impl.h"

namespace TarnCtl::Network {

class VirtualSwitchImpl : public virtual HostCtl::Network::VirtualSwitch, public PortsetImpl {
public:
    explicit VirtualSwitchImpl(const std::string& name);

    // Kernel port set, then the record (CDP status, entry, "numPorts" when a
    // count is given); a failed record removes the port set again.
    static void CreateVirtualSwitch(const std::string& name, uint32_t numPorts);
    static void CreateVirtualSwitchWithPolicy(const HostCtl::Network::NicTeamingPolicy& teaming,
                                              const HostCtl::Network::PortSecurityPolicy& security,
                                              const HostCtl::Network::ShapingPolicy& shaping,
                                              const HostCtl::Network::NicCapabilities& caps,
                                              const std::string& name, uint32_t numPorts);
    // True when a standard switch of that name runs in the kernel.
    static bool IsStandardSwitch(const std::string& name);

    // ---- HostCtlObject
    // Boot replay of the recorded switch; every failing step is logged.
    void LoadConfig() override;
    // The replay itself; true when every step worked (the caller records the boot status).
    bool LoadConfigInt();
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // ---- Portset
    void SetMTU(uint32_t mtu) override;
    HostCtl::Network::CdpStatus GetCdpStatus() override;
    void SetCdpStatus(HostCtl::Network::CdpStatus status) override;
    void Destroy() override;

    // ---- VirtualSwitch
    uint32_t GetFlags() override;
    void SetType(const std::string& type) override;
    void SetNumPorts(uint32_t numPorts) override;
    uint32_t GetNumConfiguredPorts() override;
    uint32_t GetPortsInUse() override;
    uint32_t GetPortsAvailable() override;
    uint32_t GetNumAccessPorts() override;
    uint32_t GetNumAccessPortsInUse() override;
    std::string GetType() override { return "vswitch"; }
    std::vector<std::pair<uint16_t, uint64_t>> GetUplinkVlanStats(const std::string& uplink) override;
    void SetUplinkVlanStatsEnabled(const std::string& uplink, bool on) override;
    std::vector<uint32_t> GetPortList() override;
    bool GetFastPathActivated() override { return false; }
    std::string GetFastPathMode() override { return "none"; }
    void ActivateFastPath(const std::string& mode) override;
    void DeactivateFastPath() override;
    void RefreshEns() override;
    std::string GetEnsInfo() override;

    std::vector<std::unique_ptr<HostCtl::Network::PortGroup>> GetPortGroups() override;
    std::unique_ptr<HostCtl::Network::PortGroup> GetPortGroupByName(const std::string& name) override;
    void AddPortGroup(const std::string& name) override;
    void RemovePortGroup(const std::string& name) override;

    HostCtl::Network::PortSecurityPolicy GetSecurityPolicy() override;
    HostCtl::Network::PortSecurityPolicy GetConfiguredSecurityPolicy() override;
    void SetSecurityPolicy(const HostCtl::Network::PortSecurityPolicy& policy) override;
    HostCtl::Network::NicCapabilities GetNicCapabilities() override;
    HostCtl::Network::NicCapabilities GetConfiguredNicCapabilities() override;
    void SetNicCapabilities(const HostCtl::Network::NicCapabilities& caps) override;
    HostCtl::Network::ShapingPolicy GetShapingPolicy() override;
    HostCtl::Network::ShapingPolicy GetConfiguredShapingPolicy() override;
    void SetShapingPolicy(const HostCtl::Network::ShapingPolicy& policy) override;
    HostCtl::Network::NicTeamingPolicy GetTeamingPolicy() override;
    HostCtl::Network::NicTeamingPolicy GetConfiguredTeamingPolicy() override;
    void SetTeamingPolicy(const HostCtl::Network::NicTeamingPolicy& policy) override;

    void AddUplink(const std::string& nic, bool updatePolicies) override;
    void RemoveUplink(const std::string& nic, bool updatePolicies) override;

    void SetBeaconInterval(uint32_t seconds) override;
    void UnsetBeaconInterval() override;
    uint32_t GetBeaconInterval() override;
    bool IsBeaconEnabled() override;
    void SetBeaconThreshold(uint32_t threshold) override;
    uint32_t GetBeaconThreshold() override;
    std::vector<std::string> NeedBeacon() override;

    void UnsetCdpStatus() override;
    std::string GetCdpStatusString() override;
    std::string GetOverlayForIndex(uint8_t index) override;
    void SetOverlayForIndex(uint8_t index, const std::string& name) override;
    void UnsetMTU() override;
    void UnsetNumPorts() override;
    void RestoreUplinks() override;
    void FetchNetPolicyForPortGroups() override;
    void Restore() override { LoadConfig(); }

    // ---- Internal
    // The switch's effective policies (configured over the defaults).
    SwitchPolicies GetNetPolicy();
    // All four switch policies at once (recorded as given, applied derived).
    void SetNetPolicyInt(const SwitchPolicies& configured);
    // The switch's entry; a missing one is made when `create`, else
    // "Unable to find vswitch at config location /net/vswitch".
    ConfigStoreUtil::ConfigBranchUtil GetConfigLocation(ConfigStoreUtil::ConfigFileUtil& config, bool create);
    // Turns beaconing on when `policy` asks for beacon probing (`owner` is
    // "VS:<switch>" or "PG:<port group>").
    void CheckBeacon(const HostCtl::Network::NicTeamingPolicy& policy, const std::string& owner);
    // Turns beaconing off when no owner asks for it any more.
    void ReleaseBeacon();
    // Port-set MTU and every uplink; a refusal restores all and names the refusing uplinks.
    void SetMTUInternal(uint32_t mtu);
    // Adds (removes) `nic` to (from) the uplink order of the switch and of the
    // port groups that keep an order of their own, and applies the result.
    void HandleUplinkUpdatePolicies(const std::string& nic, bool add);
    // Port-group names of this switch in the kernel.
    std::vector<std::string> PortGroupNames();
    // One "<vlan id>:<packets>" entry of the kernel's VLAN statistics; anything
    // else (a VLAN id above 4095, a count past 64 bits) throws
    // "Invalid VLAN statistics entry from the kernel: '<entry>'".
    static std::pair<uint16_t, uint64_t> ParseVlanStat(const std::string& entry);

private:
    static const char* kTag;
    KsiPortsetAccessPorts AccessPorts();
    // "No such uplink: <nic>" unless `nic` is linked to this switch.
    void RequireUplink(const std::string& nic);
    // CDP status of `text` ("down", "listen", "advertise", "both"); others throw
    // "Invalid CDP status string".
    static HostCtl::Network::CdpStatus ParseCdp(const std::string& text);
    // Records in the switch's entry and writes, in one transaction.
    void Record(const std::function<void(ConfigStoreUtil::ConfigBranchUtil&)>& apply);
    SwitchPolicies Configured(ConfigStoreUtil::ConfigBranchUtil& entry);
    // The four recorded switch policies, read under the switch's lock.
    SwitchPolicies ConfiguredPolicies();
    void SetTeamingPolicyInt(const HostCtl::Network::NicTeamingPolicy& policy);
    bool LoadUplinks(ConfigStoreUtil::ConfigBranchUtil& entry);
    bool LoadPortGroups(ConfigStoreUtil::ConfigBranchUtil& entry);
    bool LoadSettings(ConfigStoreUtil::ConfigBranchUtil& entry);
};

}  // namespace TarnCtl::Network
