// One port group of a standard switch. The kernel holds the port group's
// effective settings (its own policy over its switch's over the defaults);
// the configuration records only what the port group sets itself, in its
// entry under the switch ("portgroup"/"child" by "name"; store sub-object
// "port_groups/" + index of the switch's object).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "configstore/configfileutil.h"
#include "hostctl/network_vswitch.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Network {

// The switch's effective policies, handed to a port group that derives its own from them.
struct SwitchPolicies {
    HostCtl::Network::NicTeamingPolicy teaming;
    HostCtl::Network::PortSecurityPolicy security;
    HostCtl::Network::ShapingPolicy shaping;
    HostCtl::Network::NicCapabilities caps;
};

class PortGroupImpl : public virtual HostCtl::Network::PortGroup, public TarnCtl::Lib::TarnCtlObject {
public:
    PortGroupImpl(const std::string& name, const std::string& vswitch);
    // With the node class already known (GetPortcfgKSINode), as a switch walking its port groups has it.
    PortGroupImpl(const std::string& name, const std::string& vswitch, const std::string& nodeClass);

    // True when a port group of that name exists anywhere on the host.
    // `nodeClass` "" asks the kernel for it (GetPortcfgKSINode).
    static bool IsValidPortGroup(const std::string& name, const std::string& nodeClass = "");
    // The switch a port group belongs to ("" when there is no such port group).
    static std::string PortsetOf(const std::string& name);
    // Every port group of the host (one kernel listing).
    static std::vector<std::string> ListAll();

    // Creates the port group with policies derived from `policies`: kernel,
    // record, then teaming and capabilities applied; a failure destroys it
    // again and is passed on.
    static void CreatePortGroupEx(const std::string& name, const std::string& vswitch, const SwitchPolicies& policies);
    // Kernel only: "Invalid name (too long/short): '<name>'" for 0 or 128+ bytes.
    static void CreatePortGroupInternal(const std::string& name, const std::string& vswitch,
                                        const std::string& nodeClass = "");

    // ---- HostCtlObject
    void Refresh() override {}
    std::string GetName() const override { return _name; }
    // Boot: the recorded port group's settings go to the kernel.
    void LoadConfig() override { Restore(); }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // ---- PortGroup
    void SetName(const std::string& name) override;
    std::string GetType() override { return "vss"; }
    uint32_t GetVlanId() override;
    void SetVlanId(uint32_t id) override;
    void UnsetVlanId() override;
    std::string GetPortsetName() override { return _vswitch; }
    std::unique_ptr<HostCtl::Network::VirtualSwitch> GetVirtualSwitch() override;
    uint32_t GetActiveClients() override;
    bool IsZombie() override;
    std::vector<uint32_t> GetPorts() override;
    bool IsInUse(std::vector<std::string>& reasons) override;

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

    std::vector<HostCtl::Network::VlanRange> GetGuestVlanFilters() override;
    void SetGuestVlanFilters(const std::vector<HostCtl::Network::VlanRange>& filters) override;
    void AddGuestVlanFilter(const HostCtl::Network::VlanRange& filter) override;
    void ClearGuestVlanFilters() override;
    uint32_t GetFenceId() override;
    void SetFenceId(uint32_t id) override;
    void Destroy() override;
    void Restore() override;

    // ---- Internal
    // Apply this port group's own policy derived from the switch's effective one.
    void SetDerivedTeamingPolicy(const HostCtl::Network::NicTeamingPolicy& switchPolicy);
    void SetDerivedSecurityPolicy(const HostCtl::Network::PortSecurityPolicy& switchPolicy);
    void SetDerivedShapingPolicy(const HostCtl::Network::ShapingPolicy& switchPolicy);
    void SetDerivedNicCapabilities(const HostCtl::Network::NicCapabilities& switchCaps);
    // All four at once, reading the port group's own policies once.
    void SetDerivedPolicies(const SwitchPolicies& switchPolicies);
    // Kernel writes of one policy.
    void ApplyTeamingPolicy(const HostCtl::Network::NicTeamingPolicy& policy);
    void ApplySecurityPolicy(const HostCtl::Network::PortSecurityPolicy& policy);
    void ApplyShapingPolicy(const HostCtl::Network::ShapingPolicy& policy);
    void ApplyNicCapabilities(const HostCtl::Network::NicCapabilities& caps);
    // Kernel "destroy" of the port group.
    void DestroyInternal();
    void SetVlanIdInternal(uint32_t id);
    // The port group's entry in the switch's configuration (made when missing),
    // registered as the store sub-object "port_groups/" + index.
    ConfigStoreUtil::ConfigBranchUtil GetConfigLocation(ConfigStoreUtil::ConfigFileUtil& config);
    // Records the port group's own teaming with an order that gains or loses `nic`
    // (only when it sets an order itself); the caller applies it.
    void UpdateUplinkOrder(const std::string& nic, bool add);
    // The teaming order the kernel holds for the port group.
    std::vector<std::string> GetKernelUplinkOrder();

private:
    std::vector<std::string> Instance() const;
    SwitchPolicies SwitchEffective();
    // What the port group records itself (read once for all four).
    SwitchPolicies OwnPolicies();
    // Records in the port group's entry and writes, in one transaction.
    void Record(const std::function<void(ConfigStoreUtil::ConfigBranchUtil&)>& apply);

    std::string _name;
    std::string _vswitch;
    std::string _class;  // node class of port-group settings
};

}  // namespace TarnCtl::Network
