// The kernel port set under a standard switch, and the small kernel and
// configuration helpers that switches and port groups share: the node class of
// port-group settings, integer node access, and where a switch's entry lives
// (one store object per switch, so an operation locks only its own switch).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "configstore/configfileutil.h"
#include "hostctl/network_vswitch.h"
#include "ksi/network.h"
#include "lib/tarnctl_object.h"
#include "platform/configstore.h"

namespace TarnCtl::Network {

// Node groups of the port set: the port-set, link, unlink and destroy nodes.
inline constexpr uint32_t PORT_SET_NODES[] = {KSI_NODE_net_portsets, KSI_NODE_net_portsets_properties};
inline constexpr uint32_t LINK_NODES[] = {KSI_NODE_net_portsets_link};
inline constexpr uint32_t UNLINK_NODES[] = {KSI_NODE_net_portsets_unlink};
inline constexpr uint32_t DESTROY_NODES[] = {KSI_NODE_net_portsets_destroy};

// Configuration of standard switches: the tree array and the store object of one switch.
inline constexpr const char* kVswitchArray = "/net/vswitch/child";
std::string SwitchSpec(const std::string& vswitch);
HaldenConfigStore::ConfigStoreObjectId SwitchStoreId(const std::string& vswitch);
// Writes the configuration tree back to the store, except while the host
// boots: setters then replay to the kernel and record nothing.
void RecordConfig(ConfigStoreUtil::ConfigFileUtil& config);
// `items` joined with ", ".
std::string JoinList(const std::vector<std::string>& items);

// `policy` with `nic` added to (removed from) its uplink order. Without an
// order of its own a policy that gains an uplink takes `uplinks` (all active).
// A new uplink is active when every uplink was; maxActive never exceeds the order.
HostCtl::Network::NicTeamingPolicy WithUplink(const HostCtl::Network::NicTeamingPolicy& policy, const std::string& nic,
                                              bool add, const std::vector<std::string>& uplinks);

namespace PortsetKernel {
// One integer to a node; a refusal throws SysinfoException "<what>; Status(...)= ...".
void SetInt(uint32_t node, const std::vector<std::string>& instance, long value, const std::string& what);
// One integer read; throws like SetInt.
uint32_t GetInt(uint32_t node, const std::vector<std::string>& instance, const std::string& what);
void SetWord(uint32_t node, const std::vector<std::string>& instance, const std::string& word, const std::string& what);
void SetStruct(uint32_t node, const std::vector<std::string>& instance, void* data, unsigned length,
               const std::string& what);
// False when the record is absent.
bool GetStruct(uint32_t node, const std::vector<std::string>& instance, void* data, unsigned length);
std::vector<std::string> List(uint32_t node, const std::vector<std::string>& instance, const std::string& what);
}  // namespace PortsetKernel

class PortsetImpl : public virtual HostCtl::Network::Portset, public virtual TarnCtl::Lib::TarnCtlObject {
public:
    explicit PortsetImpl(const std::string& name);

    // True when the kernel runs standard switches as etherswitches (boot option
    // "netVSSUseEtherswitch" at run time).
    static bool IsClassEtherswitch();
    // Class of a new standard switch: "etherswitch" or "cswitch".
    static std::string StandardSwitchClass();
    // Node class of port-group settings: "etherswitch" or "portcfg".
    static std::string GetPortcfgKSINode();
    // The kernel's properties of a port set, or false when there is none.
    static bool ReadProperties(const std::string& name, KsiPortsetProperties* out);
    // Every port set of the kernel.
    static std::vector<std::string> ListPortsets();

    void Refresh() override {}
    std::string GetName() const override { return _name; }

    uint32_t GetNumPorts() override;
    uint32_t GetMTU() override;
    // Kernel: the linked NICs in link order; configured: the recorded "uplinks".
    std::vector<std::string> GetUplinks(bool configured) override;
    std::string GetSwitchClass() override;

    // Every port of the port set in the kernel's slot order (uplinks first).
    std::vector<KsiPortInfo> GetPortInfos();

protected:
    KsiPortsetProperties Properties();
    // Instance of the switch-setting nodes (5003-5006): class / switch.
    std::vector<std::string> SwitchInstance();

    std::string _name;
};

}  // namespace TarnCtl::Network
