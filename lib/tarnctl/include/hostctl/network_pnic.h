// Physical NICs: link modes, rings, pause, coalescing, offload and queue
// settings, neighbours learned by CDP and LLDP, and the values they travel in.
// Built by the network-core issue (PnicImpl).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "hostctl/object.h"

namespace HostCtl::Network {

// Link speed in Mbit/s; 0 is automatic negotiation.
enum LinkSpeed : uint32_t {
    LINK_SPEED_AUTO = 0,
    LINK_SPEED_10 = 10,
    LINK_SPEED_100 = 100,
    LINK_SPEED_1000 = 1000,
    LINK_SPEED_2500 = 2500,
    LINK_SPEED_5000 = 5000,
    LINK_SPEED_10000 = 10000,
    LINK_SPEED_20000 = 20000,
    LINK_SPEED_25000 = 25000,
    LINK_SPEED_37500 = 37500,
    LINK_SPEED_40000 = 40000,
    LINK_SPEED_50000 = 50000,
    LINK_SPEED_56000 = 56000,
    LINK_SPEED_75000 = 75000,
    LINK_SPEED_100000 = 100000,
    LINK_SPEED_200000 = 200000,
    LINK_SPEED_400000 = 400000,
};

enum Duplex : uint32_t { LINK_DUPLEX_AUTO = 0, LINK_DUPLEX_FULL = 1, LINK_DUPLEX_HALF = 2 };

// Which NICs a listing covers: those the kernel claimed, or also unclaimed ones.
enum class PnicGetType : uint32_t { Present = 0, All = 1 };

// A link mode a NIC offers.
struct PnicLinkMode {
    uint32_t speed = 0;  // Mbit/s
    Duplex duplex = LINK_DUPLEX_FULL;
    bool operator==(const PnicLinkMode& o) const { return speed == o.speed && duplex == o.duplex; }
};

struct PnicLinkStatus {
    bool linkUp = false;        // operational state
    bool adminUp = false;       // administrative state
    uint32_t speed = 0;         // Mbit/s; 0 while the link is down
    Duplex duplex = LINK_DUPLEX_AUTO;
    bool autoNegotiation = false;
};

struct PnicDriverInfo {
    std::string driver;
    std::string version;
    std::string firmwareVersion;
    std::string busInfo;  // PCI address
};

// Ring sizes. `flags` says which of the four sizes a change request sets:
// 1 rx, 2 rxMini, 4 rxJumbo, 8 tx, in field order.
struct PnicRingInfo {
    enum : uint32_t { RING_RX = 1, RING_RX_MINI = 2, RING_RX_JUMBO = 4, RING_TX = 8 };
    uint32_t flags = 0;
    uint32_t rx = 0;
    uint32_t rxMini = 0;
    uint32_t rxJumbo = 0;
    uint32_t tx = 0;
};

struct PnicPauseInfo {
    bool autoNegotiation = false;
    bool rx = false;
    bool tx = false;
    bool operator==(const PnicPauseInfo& o) const {
        return autoNegotiation == o.autoNegotiation && rx == o.rx && tx == o.tx;
    }
};

struct PnicCoalesceInfo {
    uint32_t rxUsecs = 0;
    uint32_t rxFrames = 0;
    uint32_t txUsecs = 0;
    uint32_t txFrames = 0;
    bool adaptiveRx = false;
    bool adaptiveTx = false;
};

// The hardware capability masks a NIC's owner may switch on or off, in the
// order of their configuration keys.
enum PnicOffload : uint32_t {
    PNIC_OFFLOAD_IPV4_CSO = 0,   // "ipv4cso"
    PNIC_OFFLOAD_IPV4_TSO,       // "ipv4tso"
    PNIC_OFFLOAD_SG,             // "sg"
    PNIC_OFFLOAD_OBO,            // "obo"
    PNIC_OFFLOAD_VXLAN_ENCAP,    // "vxlanencap"
    PNIC_OFFLOAD_GENEVE,         // "geneveoffload"
    PNIC_OFFLOAD_IPV6_TSO,       // "ipv6tso"
    PNIC_OFFLOAD_IPV6_TSO_EXT,   // "ipv6tsoext"
    PNIC_OFFLOAD_IPV6_CSO,       // "ipv6cso"
    PNIC_OFFLOAD_IPV6_CSO_EXT,   // "ipv6csoext"
    PNIC_OFFLOAD_HIGH_DMA,       // "highdma"
    PNIC_OFFLOAD_SG_SPAN_PAGES,  // "sgsp"
    PNIC_OFFLOAD_VLAN_TAGGING,   // "tagging"
    PNIC_OFFLOAD_VLAN_UNTAGGING, // "untagging"
    PNIC_OFFLOAD_COUNT
};

// Receive-queue balancing: the balancer itself and its eleven features.
enum PnicNetqueue : uint32_t {
    PNIC_NETQUEUE_BALANCER = 0,  // "lbState"
    PNIC_NETQUEUE_RX_QUEUE_PAIR,     // "rxqpair"
    PNIC_NETQUEUE_RX_QUEUE_NO_FEAT,  // "rxqnofeat"
    PNIC_NETQUEUE_RX_QUEUE_PREEMPT,  // "rxqpreempt"
    PNIC_NETQUEUE_RX_QUEUE_LATENCY,  // "rxqlatency"
    PNIC_NETQUEUE_RX_DYNAMIC_LB,     // "rxdynlb"
    PNIC_NETQUEUE_DYNAMIC_POOL_LB,   // "dynpoollb"
    PNIC_NETQUEUE_MAC_LEARN_LB,      // "maclearnlb"
    PNIC_NETQUEUE_RSS_LB,            // "rsslb"
    PNIC_NETQUEUE_LRO_LB,            // "lrolb"
    PNIC_NETQUEUE_GENEVE_OAM_LB,     // "geneveoamlb"
    PNIC_NETQUEUE_RSS_LRO_LB,        // "rsslrolb"
    PNIC_NETQUEUE_COUNT
};

// A set of on/off settings: `mask` says which are given, `values` their state;
// bit i stands for item i of PnicOffload or PnicNetqueue.
struct PnicSettingBits {
    uint32_t mask = 0;
    uint32_t values = 0;
    void Set(uint32_t item, bool on) {
        mask |= 1u << item;
        values = on ? (values | (1u << item)) : (values & ~(1u << item));
    }
    bool Has(uint32_t item) const { return mask & (1u << item); }
    bool Get(uint32_t item) const { return values & (1u << item); }
};
using PnicOffloadInfo = PnicSettingBits;
using PnicNetqueueInfo = PnicSettingBits;

struct PnicQueueCounts {
    uint32_t rx = 0;
    uint32_t tx = 0;
};

struct PnicStats {
    uint64_t packetsReceived = 0;
    uint64_t packetsSent = 0;
    uint64_t bytesReceived = 0;
    uint64_t bytesSent = 0;
    uint64_t receiveErrors = 0;
    uint64_t sendErrors = 0;
    uint64_t receiveDropped = 0;
    uint64_t sendDropped = 0;
};

// Wake-on-LAN mode bits (the ethtool WAKE_* values).
enum : uint32_t {
    WOL_PHY = 0x01, WOL_UCAST = 0x02, WOL_MCAST = 0x04, WOL_BCAST = 0x08,
    WOL_ARP = 0x10, WOL_MAGIC = 0x20, WOL_MAGICSECURE = 0x40,
};

// One NIC as a listing shows it.
struct PnicInfo {
    std::string name;
    std::string driver;
    std::string pciAddress;
    MacAddress mac;
    MacAddress virtualMac;
    uint32_t mtu = 0;
    PnicLinkStatus link;
    std::string description;
};

// What the LLDP neighbour announced.
struct LldpInfo {
    std::string chassisId;
    std::string portId;
    uint32_t ttl = 0;
    std::string portDescription;
    std::string systemName;
    std::string systemDescription;
    uint32_t capabilities = 0;
    std::string managementAddress;
};

// A failed system call of a NIC driver path (an ioctl, or a request refused
// before any call was made). The message names the call and the reason:
// "<call> failed: <reason>".
class SyscallFailureException : public HostCtl::Lib::HostCtlException {
public:
    SyscallFailureException(const std::string& call, const std::string& reason);
    const std::string& GetCall() const { return _call; }
    const std::string& GetReason() const { return _reason; }

private:
    std::string _call;
    std::string _reason;
};

class Pnic : public virtual HostCtl::Lib::HostCtlObject {
public:
    // ---- Queries
    virtual std::string GetMappedName() = 0;
    virtual unsigned int GetMTU() = 0;
    virtual Duplex GetDuplex() = 0;
    virtual LinkSpeed GetLinkSpeed() = 0;
    virtual bool IsLinkUp() = 0;
    virtual bool IsOperationalLinkUp() = 0;
    virtual bool IsAdministrativeLinkUp() = 0;
    virtual bool IsEnabled() = 0;
    virtual bool IsPseudoDevice() = 0;
    virtual bool IsLegacy() = 0;
    virtual bool IsRdmaCapable() = 0;
    virtual MacAddress GetMacAddress() = 0;
    virtual MacAddress GetVirtualMacAddress() = 0;
    virtual std::string GetPCIDevBusAddress() = 0;
    virtual std::string GetDriverName() = 0;
    virtual std::string GetHint() = 0;
    virtual NicCapabilities GetHardwareCapabilities() = 0;
    virtual bool GetResPoolsSchedAllowed() = 0;
    virtual bool GetResPoolsSchedSupported() = 0;
    virtual bool GetEnsDriverExists() = 0;
    virtual bool GetEnsDriverDriven() = 0;
    virtual bool GetConnectedToEns() = 0;
    virtual std::string GetConfiguredEnsMode() = 0;
    virtual std::vector<std::string> GetSupportedEnsModes() = 0;
    virtual bool GetFastSwitchSupported() = 0;
    virtual bool IsBMCNic() = 0;
    virtual bool IsK2KNic() = 0;
    virtual bool IsMgmtPreferred() = 0;
    virtual bool IsMgmtCapable() = 0;
    virtual PnicInfo GetPnicInfo() = 0;
    virtual PnicLinkStatus GetPnicLinkStatus() = 0;
    virtual PnicStats GetPnicStats() = 0;
    virtual std::map<std::string, uint64_t> GetPnicPrivStats() = 0;
    virtual PnicDriverInfo GetPnicDriverInfo() = 0;
    virtual PnicPauseInfo GetPnicPauseInfo() = 0;
    virtual PnicCoalesceInfo GetPnicCoalesceInfo() = 0;
    virtual void GetPnicRingInfo(PnicRingInfo& current, PnicRingInfo& maximum) = 0;
    virtual PnicOffloadInfo GetPnicOffloadInfo() = 0;
    virtual PnicNetqueueInfo GetPnicNetqueueInfo() = 0;
    virtual PnicQueueCounts GetPnicQueueCounts() = 0;
    virtual std::vector<PnicLinkMode> GetSupportedModes() = 0;
    virtual uint32_t GetWakeOnLANSupported() = 0;
    virtual uint32_t GetWakeOnLANEnabled() = 0;
    virtual LinkSpeed GetConfiguredLinkSpeed() = 0;
    virtual Duplex GetConfiguredDuplex() = 0;
    // Every recorded setting of the NIC: configuration key -> text.
    virtual std::map<std::string, std::string> GetConfiguredOptions() = 0;
    virtual CdpSummary GetCdpInfo() = 0;
    virtual LldpInfo GetLldpInfo() = 0;
    // The switch port the NIC is the uplink of, "" when none.
    virtual std::string GetPort() = 0;
    virtual std::string GetPciDevice() = 0;

    // ---- Changes
    virtual void SetLinkSpeedAndDuplex(LinkSpeed speed, Duplex duplex) = 0;
    virtual void RestartNegotiation() = 0;
    virtual void SetMTU(unsigned int mtu) = 0;
    virtual void SetEnabled(bool on) = 0;
    virtual void SetWakeOnLANEnabled(bool on) = 0;
    virtual void SetPnicRingInfo(const PnicRingInfo& info) = 0;
    virtual void SetPnicPauseInfo(const PnicPauseInfo& info) = 0;
    virtual void SetPnicCoalesceInfo(const PnicCoalesceInfo& info) = 0;
    virtual void SetPnicOffloadInfo(const PnicOffloadInfo& info) = 0;
    virtual void SetPnicNetqueueInfo(const PnicNetqueueInfo& info) = 0;
    virtual void SetPnicInfo(const PnicInfo& info) = 0;
    virtual void SetVirtualMac(const MacAddress& mac) = 0;
    virtual void SetResPoolsSchedAllowed(bool on) = 0;
    virtual void IdentifyNic(unsigned int seconds) = 0;
    virtual void ChangeEEPROM(uint32_t offset, const std::vector<uint8_t>& data) = 0;
    virtual std::vector<uint8_t> DumpEEPROM() = 0;
    virtual std::vector<uint8_t> DumpRegister() = 0;
    virtual std::string RunSelfTest(bool online) = 0;
    virtual void ReassociateDriver() = 0;
    virtual void AttachUplink() = 0;
    virtual void DetachUplink() = 0;
    virtual void EnableAutoRebind() = 0;
};

}  // namespace HostCtl::Network
