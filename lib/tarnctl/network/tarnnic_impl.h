// One kernel NIC: its entry in the configuration group "halden/network/tarnnics"
// (store objects "network"/"tarnnics"/name, with the "ip" and
// "enabled_services" sub-objects) and its interface on a netstack in the kernel.
// Changes go to the kernel first and are recorded only when it accepted them;
// while the host boots they replay to the kernel and record nothing.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "configstore/configfileutil.h"
#include "hostctl/network.h"
#include "lib/tarnctl_object.h"
#include "network/network_util.h"
#include "network/tarnnic_hooks.h"

namespace TarnCtl::Network {

// The tag table: id, display name, store name and the advanced option listing
// the NICs that carry the tag ("" when none).
struct TarnNicTagRow {
    HostCtl::Network::TarnNicTagType id;
    const char* name;
    const char* csName;
    const char* advBranch;
    const char* advOption;
};
const std::vector<TarnNicTagRow>& TarnNicTagTable();
// Throws "Invalid tag <id>" for an id without a row.
std::string TarnNicTagIdToName(HostCtl::Network::TarnNicTagType id);
// By display name or store name; throws "Invalid tag <name>".
HostCtl::Network::TarnNicTagType TarnNicTagNameToId(const std::string& name);
HostCtl::Network::TarnNicTagType TarnNicTagCSNameToId(const std::string& csName);
std::vector<std::string> GetTagCSNames();

class TarnNicImpl : public virtual HostCtl::Network::TarnNic, public TarnCtl::Lib::TarnCtlObject {
public:
    static constexpr const char* kConfigArray = "/net/tarnosnic/child";
    static constexpr unsigned DHCP_RETRY_TIMEOUT = 90;
    static constexpr int SEMKEY_DHCPV6 = 0x484848;
    static constexpr int SEMKEY_RAFLAGS = 0x595959;
    static constexpr int IPC_PERM = 0600;
    static constexpr int SEM_LOCK_ARRAY_SIZE = 2;

    // A NIC known by its connection point and netstack ("" is the default netstack).
    TarnNicImpl(const HostCtl::Network::ConnectionPoint& cp, const std::string& netstackKey);

    // ---- Creation and lookup
    static void CreateTarnNic(const HostCtl::Network::ConnectionPoint* cp, const std::string& netstackKey,
                              const HostCtl::Network::IpConfig& ip, const HostCtl::Network::MacAddress& mac,
                              HostCtl::Network::Pnic* pnic, uint32_t mtu, uint32_t tsoMss, uint32_t numRxQueue,
                              const std::string& name, bool systemOwned = false);
    static std::string GetFreeTarnNicName();
    // The NIC plumbed in the kernel or present in the configuration.
    static bool TarnNicExists(const HostCtl::Network::ConnectionPoint& cp, const std::string& netstackKey);
    static bool TarnNicConfigExists(const HostCtl::Network::ConnectionPoint& cp, const std::string& netstackKey);
    static void AddTarnNicDestroyCallback(TarnNicHooks::DestroyFn fn) { TarnNicHooks::AddTarnNicDestroyCallback(fn); }
    static void AddTarnNicReconfigTagCallback(TarnNicHooks::ReconfigTagFn fn) {
        TarnNicHooks::AddTarnNicReconfigTagCallback(fn);
    }
    // The netstack a key names: "" is the default one.
    static std::string NetstackKey(const std::string& key) { return key.empty() ? kDefaultNetstack : key; }
    // The connection point of a configuration entry.
    static HostCtl::Network::ConnectionPoint ConnectionOf(ConfigStoreUtil::ConfigBranchUtil& entry);
    // The netstack a NIC of that name is plumbed on in the kernel, or "".
    static std::string KernelNetstackOf(const std::string& name);
    // Names of the plumbed NICs of every netstack.
    static std::vector<std::string> KernelNicNames();

    // ---- HostCtlObject
    void Refresh() override;
    std::string GetName() const override { return _name; }
    void LoadConfig() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // ---- TarnNic
    void Enable() override;
    void Disable() override;
    bool IsEnabled() override { return IsPlumbed(); }
    void Destroy() override;
    HostCtl::Network::IpConfig GetIpConfig() override;
    HostCtl::Network::IpConfig GetConfiguredIpConfig() override;
    void SetIpConfig(const HostCtl::Network::IpConfig& config) override;
    uint32_t GetMtu() override;
    void SetMtu(uint32_t mtu) override;
    void UnsetMtu() override;
    HostCtl::Network::MacAddress GetMacAddress() override;
    void SetMacAddress(const HostCtl::Network::MacAddress& mac) override;
    void SetMacAddressFromPnic(HostCtl::Network::Pnic* pnic) override;
    void SetMacAddressAutoGenerate() override;
    std::vector<HostCtl::Network::TarnNicTagType> GetTags() override;
    bool HasTag(HostCtl::Network::TarnNicTagType tag) override;
    void AddTag(HostCtl::Network::TarnNicTagType tag, bool notify) override;
    void AddTag(const std::string& tagName, bool notify) override;
    void RemoveTag(HostCtl::Network::TarnNicTagType tag) override;
    std::string GetNetstackInstanceKey() override { return _netstack; }
    void SetNetstackInstanceKey(const std::string& key) override;
    HostCtl::Network::ConnectionPoint GetConnectionPoint() override { return _cp; }
    void SetConnectionPoint(const HostCtl::Network::ConnectionPoint& cp, bool rollback) override;
    void SetPortGroup(const std::string& name) override;
    std::string GetPortGroupName() override;
    std::string GetInterfaceName() override;
    uint32_t GetTsoMss() override;
    uint32_t GetNumRxQueue() override;
    bool GetDhcpBound() override;
    std::string GetDhcpServer() override;
    void RenewDHCPLease() override;
    void RenewDHCPv6Lease() override;
    void SetDhcpDns(bool on) override;
    void SetIpv6DhcpDns(bool on) override;
    bool IsSystemOwned() override;
    void SetSystemOwned(bool on) override;
    TarnNicType GetTarnNicType() override;
    void SetTarnNicType(TarnNicType type) override;
    bool IsNetDumpInterface() override;

    // ---- Internal
    bool IsPlumbed();
    // Throws the "Unable to find tarnnic for ..." text when not found and not creating.
    ConfigStoreUtil::ConfigBranchUtil GetConfigLocation(ConfigStoreUtil::ConfigFileUtil& config, bool create);
    // Seed of the NIC's generated MAC.
    std::string GetMacGenStr() const;
    // Static IPv4 binding with rollback to the previous address.
    void Bind(const HostCtl::Network::Ipv4Address& address, const HostCtl::Network::Ipv4Address& netmask,
              const HostCtl::Network::Ipv4Address& gateway, bool persist);
    // Keeps the tag's advanced option equal to the NICs carrying it and tells the callbacks.
    static void ProcessTagChanges(HostCtl::Network::TarnNicTagType tag, const std::string& nicName, bool set);
    // Creates the entry of a new NIC (no kernel change).
    void CreateTarnNicInternal(const HostCtl::Network::IpConfig& ip, const HostCtl::Network::MacAddress& mac,
                               HostCtl::Network::Pnic* pnic, uint32_t mtu, uint32_t tsoMss, uint32_t numRxQueue,
                               const std::string& name, bool systemOwned);
    // Removes the entry and the store object, with no kernel change (creation rollback).
    void RemoveConfigInternal();

private:
    void RefreshIfStale();
    // A value of the NIC's entry, `fallback` when it has none.
    template <typename T>
    T ConfigValue(const char* name, T fallback);
    std::string Portstr() const;
    void SetIpConfigInternal(const HostCtl::Network::IpConfig& ip);
    // `v6ClientRuns`: whether the NIC's DHCPv6 client runs, decided before any change.
    void SetIpv6ConfigInternal(const HostCtl::Network::IpConfig& ip, bool v6ClientRuns);
    void RecordIpConfig(ConfigStoreUtil::ConfigBranchUtil& entry, const HostCtl::Network::IpConfig& ip);
    // Runs `apply` on the NIC's entry and writes it, unless the host boots.
    void Record(const std::function<void(ConfigStoreUtil::ConfigBranchUtil&)>& apply);
    void KernelSet(uint32_t node, const std::vector<std::string>& inputs, const std::string& what);
    void Unplumb();
    bool IsManagementInterface();
    void SetTagInKernel(HostCtl::Network::TarnNicTagType tag, bool add);
    void StopDhcpClients(bool v4, bool v6);

    HostCtl::Network::ConnectionPoint _cp;
    std::string _netstack;
    std::string _name;  // "" until found
    bool _stale = true;
    std::string _bootMac;  // a physical NIC's current MAC followed at boot, "" when none
};

}  // namespace TarnCtl::Network
