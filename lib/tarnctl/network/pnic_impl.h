// One physical NIC. Settings go to the kernel through native nodes, or for
// legacy drivers through the ethtool-style device-control channel (see
// pnic_legacy.h); what must survive a reboot is recorded in the NIC's entry of
// "halden/network/nics" ("/net/pnic", by "name") and replayed by LoadConfig.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "configstore/configfileutil.h"
#include "hostctl/network.h"
#include "ksi/network.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Network {

class PnicImpl : public virtual HostCtl::Network::Pnic, public TarnCtl::Lib::TarnCtlObject {
public:
    static constexpr const char* kConfigArray = "/net/pnic/child";
    // A 0/1 kernel node of the NIC and its configuration key.
    using SettingNode = KsiPnicSettingNode;

    explicit PnicImpl(const std::string& name);

    // ---- Static helpers
    // The name is a NIC the kernel claimed.
    static bool IsValidPnic(const std::string& name);
    // The name a NIC recorded as `oldName` has now (found through its recorded
    // MAC), or "" when there is none.
    static std::string GetNewNicName(const std::string& oldName);
    // "10000", "37500"; "auto" for 0 and for speeds not in the list.
    static std::string GetLinkSpeedString(HostCtl::Network::LinkSpeed speed);
    static std::string GetDuplexString(HostCtl::Network::Duplex duplex);
    // True for the speeds of the LinkSpeed list (0 excluded).
    static bool IsKnownLinkSpeed(uint32_t speed);
    // The configuration key of an offload / netqueue item ("ipv4cso", "lbState").
    static const char* OffloadKey(uint32_t item);
    static const char* NetqueueKey(uint32_t item);

    // ---- HostCtlObject
    void Refresh() override;
    std::string GetName() const override { return _name; }
    // Boot replay of the recorded settings; failures are logged per setting.
    void LoadConfig() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // The kernel's properties record; throws when the NIC is unknown.
    KsiPnicProperties ReadProperties();

    // ---- Queries
    std::string GetMappedName() override { return _name; }
    unsigned int GetMTU() override;
    HostCtl::Network::Duplex GetDuplex() override;
    HostCtl::Network::LinkSpeed GetLinkSpeed() override;
    bool IsLinkUp() override;
    bool IsOperationalLinkUp() override;
    bool IsAdministrativeLinkUp() override;
    bool IsEnabled() override;
    bool IsPseudoDevice() override;
    bool IsLegacy() override;
    bool IsRdmaCapable() override;
    HostCtl::Network::MacAddress GetMacAddress() override;
    HostCtl::Network::MacAddress GetVirtualMacAddress() override;
    std::string GetPCIDevBusAddress() override;
    std::string GetDriverName() override;
    std::string GetHint() override;
    HostCtl::Network::NicCapabilities GetHardwareCapabilities() override;
    bool GetResPoolsSchedAllowed() override;
    bool GetResPoolsSchedSupported() override;
    bool GetEnsDriverExists() override { return false; }
    bool GetEnsDriverDriven() override { return false; }
    bool GetConnectedToEns() override { return false; }
    std::string GetConfiguredEnsMode() override { return "none"; }
    std::vector<std::string> GetSupportedEnsModes() override { return {}; }
    bool GetFastSwitchSupported() override { return false; }
    bool IsBMCNic() override;
    bool IsK2KNic() override;
    bool IsMgmtPreferred() override;
    bool IsMgmtCapable() override;
    HostCtl::Network::PnicInfo GetPnicInfo() override;
    HostCtl::Network::PnicLinkStatus GetPnicLinkStatus() override;
    HostCtl::Network::PnicStats GetPnicStats() override;
    std::map<std::string, uint64_t> GetPnicPrivStats() override;
    HostCtl::Network::PnicDriverInfo GetPnicDriverInfo() override;
    HostCtl::Network::PnicPauseInfo GetPnicPauseInfo() override;
    HostCtl::Network::PnicCoalesceInfo GetPnicCoalesceInfo() override;
    void GetPnicRingInfo(HostCtl::Network::PnicRingInfo& current, HostCtl::Network::PnicRingInfo& maximum) override;
    HostCtl::Network::PnicOffloadInfo GetPnicOffloadInfo() override;
    HostCtl::Network::PnicNetqueueInfo GetPnicNetqueueInfo() override;
    HostCtl::Network::PnicQueueCounts GetPnicQueueCounts() override;
    std::vector<HostCtl::Network::PnicLinkMode> GetSupportedModes() override;
    uint32_t GetWakeOnLANSupported() override;
    uint32_t GetWakeOnLANEnabled() override;
    HostCtl::Network::LinkSpeed GetConfiguredLinkSpeed() override;
    HostCtl::Network::Duplex GetConfiguredDuplex() override;
    std::map<std::string, std::string> GetConfiguredOptions() override;
    HostCtl::Network::CdpSummary GetCdpInfo() override;
    HostCtl::Network::LldpInfo GetLldpInfo() override;
    std::string GetPort() override;
    std::string GetPciDevice() override;

    // ---- Changes
    void SetLinkSpeedAndDuplex(HostCtl::Network::LinkSpeed speed, HostCtl::Network::Duplex duplex) override;
    void RestartNegotiation() override;
    void SetMTU(unsigned int mtu) override;
    void SetEnabled(bool on) override;
    void SetWakeOnLANEnabled(bool on) override;
    void SetPnicRingInfo(const HostCtl::Network::PnicRingInfo& info) override;
    void SetPnicPauseInfo(const HostCtl::Network::PnicPauseInfo& info) override;
    void SetPnicCoalesceInfo(const HostCtl::Network::PnicCoalesceInfo& info) override;
    void SetPnicOffloadInfo(const HostCtl::Network::PnicOffloadInfo& info) override;
    void SetPnicNetqueueInfo(const HostCtl::Network::PnicNetqueueInfo& info) override;
    void SetPnicInfo(const HostCtl::Network::PnicInfo& info) override;
    void SetVirtualMac(const HostCtl::Network::MacAddress& mac) override;
    void SetResPoolsSchedAllowed(bool on) override;
    void IdentifyNic(unsigned int seconds) override;
    void ChangeEEPROM(uint32_t offset, const std::vector<uint8_t>& data) override;
    std::vector<uint8_t> DumpEEPROM() override;
    std::vector<uint8_t> DumpRegister() override;
    std::string RunSelfTest(bool online) override;
    void ReassociateDriver() override;
    void AttachUplink() override;
    void DetachUplink() override;
    void EnableAutoRebind() override;

    // The NIC's record; made with "name" and the current hardware "mac" when
    // absent and `create` (else an empty adapter).
    ConfigStoreUtil::ConfigBranchUtil GetConfigLocation(ConfigStoreUtil::ConfigFileUtil& config, bool create);
    // Makes the store object "network"/"nics"/name with "name" and "mac" when absent.
    void CreateConfigStoreObject();
    // Boot: applies recorded "rx" and "tx" that differ from the current sizes.
    void SetPnicRingSize(ConfigStoreUtil::ConfigBranchUtil& entry);

private:
    KsiPnicLinkStatus ReadLinkStatus();
    void SetEnabledInternal(bool on);
    void SetLinkModeInternal(HostCtl::Network::LinkSpeed speed, HostCtl::Network::Duplex duplex);
    void SetRingsInternal(const HostCtl::Network::PnicRingInfo& info);
    void SetSettingNode(uint32_t node, bool on, const char* what);
    void SetSettings(const SettingNode* nodes, uint32_t count, const HostCtl::Network::PnicSettingBits& info);
    // Records values in the NIC's entry (made when absent); nothing in boot mode.
    void Record(const std::function<void(ConfigStoreUtil::ConfigBranchUtil&)>& apply);
    // Runs `record` after a kernel change; when it throws, `putBack` undoes the
    // kernel change (a failure of that is logged) and the error is rethrown.
    void RecordOrPutBack(const char* what, const std::function<void()>& record, const std::function<void()>& putBack);

    std::string _name;
};

// Parses an LLDP data unit; throws HostCtlException "TLV read over boundary.",
// "TLV length overflow." or "Invalid TLV." for a malformed one.
HostCtl::Network::LldpInfo ParseLldpFrame(const uint8_t* data, size_t length);

}  // namespace TarnCtl::Network
