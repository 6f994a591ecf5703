// Turns the network policy and address values into configuration entries and
// back, in both forms: the configuration-tree branch of a switch, port group,
// kernel NIC or netstack, and the configuration-store object of the same item.
// No other code writes these keys. Static operations only; no state.
//
// Tree keys under the owner's entry: "teamPolicy" (team, notifySwitches,
// rollingOrder, linkCriteria/beacon, activeNics, standbyNics), "securityPolicy"
// (allowPromiscuous, macChange, forgedTransmits), "shapingPolicy" (enabled,
// peakBandwidth, avgBandwidth, burstSize), "capabilities" (one key per
// capability), "linkCriteria"/"beacon", and the IpConfig and IpRouting keys.
// Store form: "policy"/"nic_teaming", "policy"/"security",
// "policy"/"traffic_shaping" of the switch object or of its "port_groups" element.
#pragma once

#include <memory>
#include <string>

#include "configstore/configfileutil.h"
#include "hostctl/nettypes.h"
#include "platform/configstore.h"

namespace TarnCtl::Network {

class NetworkPolicySerializer {
public:
    using Branch = ConfigStoreUtil::ConfigBranchUtil;
    using StoreObject = HaldenConfigStore::ConfigStoreObject;

    // Link criteria: only the beacon criterion is recorded ("true" / "ignore").
    static void LoadConfiguration(Branch& branch, HostCtl::Network::LinkCriteriaSelectionPolicy& policy);
    static void SaveConfiguration(Branch& branch, const HostCtl::Network::LinkCriteriaSelectionPolicy& policy);

    // Policies of a switch (`portGroup` empty) or of one of its port groups;
    // `branch` is the owner's entry.
    static void LoadConfiguration(Branch& branch, HostCtl::Network::NicCapabilities& caps,
                                  const std::string& vswitch, const std::string& portGroup);
    static void SaveConfiguration(Branch& branch, const HostCtl::Network::NicCapabilities& caps,
                                  const std::string& vswitch, const std::string& portGroup);
    static void LoadConfiguration(Branch& branch, HostCtl::Network::PortSecurityPolicy& policy,
                                  const std::string& vswitch, const std::string& portGroup);
    static void SaveConfiguration(Branch& branch, const HostCtl::Network::PortSecurityPolicy& policy,
                                  const std::string& vswitch, const std::string& portGroup);
    static void LoadConfiguration(Branch& branch, HostCtl::Network::ShapingPolicy& policy,
                                  const std::string& vswitch, const std::string& portGroup);
    static void SaveConfiguration(Branch& branch, const HostCtl::Network::ShapingPolicy& policy,
                                  const std::string& vswitch, const std::string& portGroup);
    // Teaming: saved in one store transaction (unset items removed); loading
    // repairs renamed uplinks through the NIC rename map and writes the
    // corrected lists back once, only when something changed.
    static void LoadConfiguration(Branch& branch, HostCtl::Network::NicTeamingPolicy& policy,
                                  const std::string& vswitch, const std::string& portGroup);
    static void SaveConfiguration(Branch& branch, const HostCtl::Network::NicTeamingPolicy& policy,
                                  const std::string& vswitch, const std::string& portGroup);

    static void LoadConfiguration(Branch& branch, HostCtl::Network::IpConfig& config);
    static void SaveConfiguration(Branch& branch, const HostCtl::Network::IpConfig& config);
    // The kernel NIC's store object (its "ip" sub-object).
    static void LoadConfiguration(StoreObject& object, HostCtl::Network::IpConfig& config);
    static void SaveConfiguration(StoreObject& object, const HostCtl::Network::IpConfig& config);
    static void LoadConfiguration(Branch& branch, HostCtl::Network::IpRouting& routing);
    static void SaveConfiguration(Branch& branch, const HostCtl::Network::IpRouting& routing);

    // The policy sub-object ("nic_teaming", "security", "traffic_shaping") of
    // the switch object, or of its port group when `portGroup` is given; made
    // when absent and `create`, else empty.
    static std::shared_ptr<StoreObject> GetSubPolicyFromCs(StoreObject& switchObject, const std::string& portGroup,
                                                           const std::string& subPolicy, bool create);
    static std::shared_ptr<StoreObject> GetTeamingFromCs(StoreObject& switchObject, const std::string& portGroup,
                                                         bool create = false);
    static std::shared_ptr<StoreObject> GetSecurityFromCs(StoreObject& switchObject, const std::string& portGroup,
                                                          bool create = false);
    static std::shared_ptr<StoreObject> GetShapingFromCs(StoreObject& switchObject, const std::string& portGroup,
                                                         bool create = false);

    // Index of `text` in the null-terminated `names` (case-insensitive); no
    // match throws "NicTeamingPolicy Error: Invalid string: " + text.
    static int ParseString(const std::string& text, const char* const* names);
};

}  // namespace TarnCtl::Network
