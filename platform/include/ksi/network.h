// Record layouts of the kernel's network nodes (/net/...): plain structs shared
// by the library and the simulation. Strings are NUL-padded fixed arrays; a
// record read is always the whole struct. Port-set, port-group, kernel-NIC and
// route records are added below by the areas that use them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ksi/nodes.h"

// ---- TCP/IP stack instances (netstacks) ----------------------------------------

// The kernel's marker of a running instance.
enum : uint32_t { KSI_NETSTACK_RUNNING = 4660 };

// /net/tcpip/instances/properties, instance: netstack key.
struct KsiTcpipInstanceProps {
    char name[64];
    uint32_t state;       // KSI_NETSTACK_RUNNING while it runs
    uint32_t socketMax;
    char ccAlgo[16];      // the instance's congestion-control algorithm
    uint8_t ipv6Enabled;
    uint8_t reserved[3];
};

// /net/tcpip/instances/availablecc: a comma-separated list in at most this many bytes.
enum : unsigned { KSI_TCPIP_AVAILABLECC_LEN = 64 };
// /net/tcpip/instances/defaultcc and /net/tcpip/instances/ecn: one text.
struct KsiTcpipText {
    char text[16];
};

// ---- Kernel-NIC addresses, gateways, routes and neighbours of a netstack ------

enum : unsigned { KSI_TCPIP_IFNAME_LEN = 32 };

// /net/tcpip/instances/vNics/v4/ipaddrmask, instance: netstack, NIC. Both words
// in network order; address 0 when the NIC has no IPv4 address.
struct KsiVnicIpv4Address {
    uint32_t address;
    uint32_t netmask;
};

// /net/tcpip/instances/vNics/v6/addresses, instance: netstack, NIC, index.
struct KsiVnicIpv6Address {
    uint8_t address[16];
    uint32_t prefix;
};

// /net/tcpip/instances/vNics/properties, instance: netstack, NIC: a plumbed
// kernel NIC. Set takes "mtu=N" or "macaddr=xx:xx:xx:xx:xx:xx" to change one.
// /net/tcpip/instances/plumb, instance: netstack, Set inputs "if=NAME", the
// connection ("portset=PG" | "dvsId=..", "portId=..", "cnId=.." | "opqnwid=..",
// "opqnwtype=..", "extid=.."), "macaddr=..", "tsomss=N", "mtu=N",
// "numRxQueue=N", "rtadv=0|1". vNics/unplumb and vNics/unbind: Set, no inputs.
enum KsiVnicConnection : uint32_t { KSI_VNIC_PORTGROUP = 1, KSI_VNIC_DVPORT = 2, KSI_VNIC_OPAQUE = 3 };
struct KsiVnicProperties {
    char name[KSI_TCPIP_IFNAME_LEN];
    char portgroup[128];    // port group, dvs id or opaque network id
    char port[64];          // dv port id or opaque network type
    char connection[64];    // connection id or external id
    uint32_t connectionType;  // KsiVnicConnection
    uint8_t mac[6];
    uint8_t rtadv;
    uint8_t reserved;
    uint32_t mtu;
    uint32_t tsoMss;
    uint32_t numRxQueue;
};
// vNics/v4/ipaddrmask Set inputs: address text, netmask text. vNics/v4/ipaddr
// and vNics/v4/netmask Get one word (network order). vNics/v4/gateway: Set one
// address text, Get one word.
// vNics/v6/enable and vNics/v6/rtadv: Set / Get one 0/1 integer (uint8 record);
// vNics/v6/ip6gateway: Set an address text, Get 16 bytes. vNics/v6/addresses
// Set inputs ("add" | "del", address text, prefix length).
// vNics/tags: Set inputs ("ADD" | "DEL", tag id 1..13); Get the tag bit mask
// (bit id-1 set for each tag).
struct KsiVnicTags {
    uint32_t mask;
};

// /net/tcpip/instances/v4/gateway and v6/gateway, instance: netstack. Set takes
// one input, the address text ("0.0.0.0" / "::" removes the gateway); Get gives
// the gateway in effect and the interface that reaches it.
struct KsiIpv4Gateway {
    uint32_t address;  // network order
    char interface[KSI_TCPIP_IFNAME_LEN];
};
struct KsiIpv6Gateway {
    uint8_t address[16];
    char interface[KSI_TCPIP_IFNAME_LEN];
};

// How a route came to be.
enum KsiRouteKind : uint32_t {
    KSI_ROUTE_STATIC = 0,   // added through the route node
    KSI_ROUTE_SUBNET = 1,   // made by the kernel for a NIC's own network
    KSI_ROUTE_DEFAULT = 2,  // the default gateway
};

// /net/tcpip/instances/v4/route: List with instance {netstack} gives the route
// keys ("network/prefix"), Get {netstack, key} one route. Set {netstack} takes
// "add" or "del", the network, the netmask and the gateway (texts).
struct KsiIpv4Route {
    uint32_t network;  // network order
    uint32_t netmask;
    uint32_t gateway;
    char interface[KSI_TCPIP_IFNAME_LEN];
    uint32_t kind;     // KsiRouteKind
};

// /net/tcpip/instances/v6/route: as the IPv4 node; Set takes "add" or "del",
// the network, the prefix length and the gateway.
struct KsiIpv6Route {
    uint8_t network[16];
    uint32_t prefix;
    uint8_t gateway[16];
    char interface[KSI_TCPIP_IFNAME_LEN];
    uint32_t kind;
};

// Neighbour entry types and IPv6 neighbour states.
enum KsiNeighborType : uint32_t { KSI_NEIGHBOR_DYNAMIC = 0, KSI_NEIGHBOR_STATIC = 1, KSI_NEIGHBOR_LOCAL = 2 };
enum KsiNeighborState : uint32_t {
    KSI_ND_INCOMPLETE = 0,
    KSI_ND_REACHABLE = 1,
    KSI_ND_STALE = 2,
    KSI_ND_DELAY = 3,
    KSI_ND_PROBE = 4,
};

// /net/tcpip/instances/v4/neighbors and v6/neighbors: List {netstack} gives the
// neighbour addresses, Get {netstack, address} one entry. Set {netstack} takes
// "del" and an address, or "clear".
struct KsiIpv4Neighbor {
    uint32_t address;  // network order
    uint8_t mac[6];
    uint8_t reserved[2];
    char interface[KSI_TCPIP_IFNAME_LEN];
    uint32_t type;     // KsiNeighborType
};
struct KsiIpv6Neighbor {
    uint8_t address[16];
    uint8_t mac[6];
    uint8_t reserved[2];
    char interface[KSI_TCPIP_IFNAME_LEN];
    uint32_t type;
    uint32_t state;    // KsiNeighborState
};

// ---- Physical-NIC capability and queue settings ----------------------------

// The 0/1 nodes of a NIC's capability masks and queue-balancing features, each
// with its configuration and profile key, in the order of the library's
// offload and netqueue items (the library checks the counts).
struct KsiPnicSettingNode {
    uint32_t node;
    const char* key;
};
inline constexpr KsiPnicSettingNode KSI_PNIC_OFFLOAD_NODES[] = {
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_IP_CSUM, "ipv4cso"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_TSO, "ipv4tso"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_NET_SG, "sg"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_OFFSET_BASED_OFFLOAD, "obo"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_ENCAP, "vxlanencap"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_GENEVE_OFFLOAD, "geneveoffload"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_TSO6, "ipv6tso"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_TSO6_EXT_HDRS, "ipv6tsoext"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_IP6_CSUM, "ipv6cso"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_IP6_CSUM_EXT_HDRS, "ipv6csoext"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_NET_HIGH_DMA, "highdma"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_NET_SG_SPAN_PAGES, "sgsp"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_VLAN_TX, "tagging"},
    {KSI_NODE_net_pNics_maskHwCapabilities_CAP_VLAN_RX, "untagging"},
};
inline constexpr KsiPnicSettingNode KSI_PNIC_QUEUE_NODES[] = {
    {KSI_NODE_net_pNics_netqueueBal_netqueueBalState, "lbState"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_RX_QUEUE_PAIR, "rxqpair"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_RX_QUEUE_NO_FEAT, "rxqnofeat"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_RX_QUEUE_PREEMPTIBLE, "rxqpreempt"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_RX_QUEUE_LATENCY, "rxqlatency"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_RX_DYNAMIC_LB, "rxdynlb"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_DYNAMIC_POOL_LB, "dynpoollb"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_MAC_LEARN_LB, "maclearnlb"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_RSS, "rsslb"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_LRO, "lrolb"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_GENEVE_OAM, "geneveoamlb"},
    {KSI_NODE_net_pNics_queueLBSetting_FEAT_RSSLRO, "rsslrolb"},
};

// ---- Physical NICs -------------------------------------------------------------

// Flags of KsiPnicProperties::flags.
enum : uint32_t {
    KSI_PNIC_LEGACY = 1u << 0,        // configured through the ethtool-style channel
    KSI_PNIC_PSEUDO = 1u << 1,
    KSI_PNIC_RDMA = 1u << 2,
    KSI_PNIC_BMC = 1u << 3,
    KSI_PNIC_K2K = 1u << 4,
    KSI_PNIC_MGMT_PREFERRED = 1u << 5,
    KSI_PNIC_MGMT_CAPABLE = 1u << 6,
    KSI_PNIC_FCOE = 1u << 7,
    KSI_PNIC_RESPOOLS_SUPPORTED = 1u << 8,
    KSI_PNIC_RESPOOLS_ALLOWED = 1u << 9,
};

// /net/pNics/properties, instance: NIC name.
struct KsiPnicProperties {
    char name[32];
    char driver[32];
    char driverVersion[32];
    char firmwareVersion[32];
    char pciAddress[32];
    char description[64];
    uint8_t mac[6];         // hardware MAC
    uint8_t virtualMac[6];  // all zero when none is set
    uint32_t mtu;
    uint32_t flags;         // KSI_PNIC_*
    uint64_t hwCapabilities;  // uplink capability bits
    uint32_t wolSupported;  // WAKE_* bits
    uint32_t wolEnabled;
};

// /net/pNics/linkStatus, instance: NIC name.
struct KsiPnicLinkStatus {
    uint32_t linkUp;     // operational
    uint32_t adminUp;    // administrative
    uint32_t speed;      // Mbit/s; 0 while down
    uint32_t duplex;     // 1 full, 2 half
    uint32_t autoNeg;    // 1 while negotiating automatically
};

// /net/pNics/supportedModes and /net/pNics/supportedLinkStatus, instance: NIC name.
enum : unsigned { KSI_PNIC_MAX_MODES = 16 };
struct KsiPnicModes {
    uint32_t count;
    struct {
        uint32_t speed;
        uint32_t duplex;  // 1 full, 2 half
    } modes[KSI_PNIC_MAX_MODES];
};

// /net/pNics/firmware/ringParams, instance: NIC name (SetStruct with the
// current four sizes; the maxima are read-only).
struct KsiPnicRingParams {
    uint32_t rx, rxMini, rxJumbo, tx;
    uint32_t maxRx, maxRxMini, maxRxJumbo, maxTx;
};

// /net/pNics/firmware/pauseParams, instance: NIC name.
struct KsiPnicPauseParams {
    uint32_t autoNeg, rx, tx;
};

// /net/pNics/coalesceParams, instance: NIC name.
struct KsiPnicCoalesceParams {
    uint32_t rxUsecs, rxFrames, txUsecs, txFrames, adaptiveRx, adaptiveTx;
};

// /net/pNics/stats, instance: NIC name.
struct KsiPnicStats {
    uint64_t rxPackets, txPackets, rxBytes, txBytes, rxErrors, txErrors, rxDropped, txDropped;
};

// /net/pNics/cdpInfo, instance: NIC name (absent when no neighbour speaks CDP).
struct KsiPnicCdpInfo {
    uint32_t version, timeout, ttl, samples;
    char deviceId[64];
    uint32_t ipAddress;     // network order
    uint32_t prefixAddress; // network order
    uint32_t prefixLength;
    char portId[64];
    uint32_t capabilities;
    char softwareVersion[128];
    char platform[64];
    uint32_t vlan;
    uint32_t fullDuplex;
    uint32_t mtu;
    char systemName[64];
    char systemOid[64];
    uint32_t mgmtAddress;   // network order
    char location[64];
};

// /net/pNics/lldpInfo, instance: NIC name: the neighbour's raw LLDP data unit
// (TLVs with a 7-bit type and 9-bit length header).
enum : unsigned { KSI_PNIC_LLDP_MAX = 1500 };
struct KsiPnicLldpFrame {
    uint32_t length;  // bytes used in `data`
    uint8_t data[KSI_PNIC_LLDP_MAX];
};

// ---- Port sets (standard switches) and port groups ---------------------------

// Port-set classes of a standard switch, and the node class of port-group
// settings when the switch is not an etherswitch.
inline constexpr const char* KSI_PORTSET_CLASS_CSWITCH = "cswitch";
inline constexpr const char* KSI_PORTSET_CLASS_ETHERSWITCH = "etherswitch";
inline constexpr const char* KSI_PORTCFG_CLASS = "portcfg";
enum : unsigned { KSI_PORTSET_NAME_MAX = 32, KSI_PORTGROUP_NAME_MAX = 127 };

// /net/create (Set; inputs name, port count as decimal text, class, flags).
// /net/portsets lists the port sets; /net/portsets/properties, instance: name.
struct KsiPortsetProperties {
    char name[36];
    char switchClass[16];
    uint32_t numPorts;      // configured at creation
    uint32_t portsInUse;    // uplinks, connected ports and kernel NICs
    uint32_t mtu;
    uint8_t systemSwitch;   // 1 for a system (DPU host networking) switch
    uint8_t reserved[3];
};
// /net/portsets/mtu (Get/Set one integer), /net/portsets/link and
// /net/portsets/unlink (Set, input: NIC name), /net/portsets/destroy (Set,
// input "destroy"), instance: port-set name. /net/portsets/uplinks lists the
// linked NICs in link order; /net/portsets/portgroups the port groups.
// /net/portsets/overlays, instance: port set / index (0-255): Set with the
// overlay name, Get a KsiPortsetOverlay.
struct KsiPortsetOverlay {
    char name[64];
};

// /net/portsets/ports lists the ports of a port set (decimal port ids: the
// port set's number above the low 16 bits, the port's slot in them) in slot order:
// uplinks in link order, then each port group's connected and kernel-NIC
// ports; Get on port set / port id gives a KsiPortInfo.
enum : uint32_t { KSI_PORT_UPLINK = 1, KSI_PORT_VM = 2, KSI_PORT_ACCESS = 3 };
struct KsiPortInfo {
    uint32_t portId;
    uint32_t type;        // KSI_PORT_*
    char portgroup[128];  // empty for uplink ports
    char client[64];      // the uplink NIC, or "<port group>.<n>" for a client port
};
// /net/portsets/accessPorts, instance: port set: the ports the kernel keeps for
// the host's own (kernel NIC) access to the switch, and how many are taken.
struct KsiPortsetAccessPorts {
    uint32_t total;
    uint32_t inUse;
};
// /net/portsets/uplinks/vlanStats, instance: port set / uplink: Set one integer
// (1 counts packets per VLAN on that uplink, 0 stops and clears); List gives
// "<vlan id>:<packets>" per VLAN seen, and fails "invalid state" while off.

// Numeric nodes of switch and port-group settings. Instance: node class
// ("etherswitch" or "portcfg" for port groups, the port-set class for switch
// settings) / port-group or switch name (/ uplink name where noted).
enum : uint32_t {
    KSI_PG_CREATE = 5002,            // Set on [class] inputs (pg, switch); on [class, pg]:
                                     // "destroy", or ("rename", new name); Get KsiPortgroupInfo
    KSI_PS_CDP_STATUS = 5003,        // switch: Get/Set one integer (CdpStatus)
    KSI_PS_BEACON_INTERVAL = 5004,   // switch: seconds
    KSI_PS_BEACON_ENABLE = 5005,     // switch: 0/1
    KSI_PS_BEACON_THRESHOLD = 5006,  // switch
    KSI_PG_CAPABILITIES = 5008,      // Get/SetStruct KsiPortgroupCaps
    KSI_PG_TEAM_POLICY = 5010,       // team policy type
    KSI_PG_TEAM_FLAGS = 5011,        // team flags word
    KSI_PG_LINK_CRITERIA = 5014,     // link criteria word
    KSI_PG_MAX_ACTIVE = 5015,        // maximum active uplinks
    KSI_PG_UPLINK_ADD = 5016,        // Set on [class, pg, uplink]: append to the order
    KSI_PG_UPLINK_ORDER = 5018,      // List on [class, pg]; Set "remove" on [class, pg, uplink]
    KSI_PG_SECURITY = 5022,          // Get/SetStruct KsiPortgroupSecurity
    KSI_PG_VLAN = 5024,              // Set inputs (id, mode)
    KSI_PG_VLAN_ID = 5027,           // Get one integer
    KSI_PG_FENCE_ID = 5040,          // Get/Set one integer
};
// VLAN modes of KSI_PG_VLAN.
enum : uint32_t { KSI_VLAN_MODE_ALL = 3, KSI_VLAN_MODE_UNTAGGED = 16, KSI_VLAN_MODE_TAGGED = 20 };

struct KsiPortgroupInfo {
    char name[128];
    char portset[36];
    uint32_t vlanId;
    uint32_t vlanMode;
    uint32_t activePorts;   // connected virtual-machine ports
    uint32_t tarnNics;      // kernel NICs on the port group
};
struct KsiPortgroupCaps {
    uint64_t flags;
    uint64_t mask;
};
struct KsiPortgroupSecurity {
    uint8_t flags;  // PortSecurityPolicy flags
    uint8_t allowPromiscuous;
    uint8_t allowMacAddressChange;
    uint8_t allowForgedTransmits;
};
// /net/portgroups/shaper, instance: class / port group.
struct KsiPortgroupShaper {
    uint32_t enabled;
    uint32_t reserved;
    uint64_t peakBps;
    uint64_t averageBps;
    uint64_t burstSize;
};
// /net/portgroups/guestVlans, instance: class / port group: the VLAN ranges a
// guest may tag itself.
enum : unsigned { KSI_GUEST_VLAN_MAX_RANGES = 64 };
struct KsiGuestVlanFilters {
    uint32_t count;
    struct {
        uint16_t first;
        uint16_t last;
    } ranges[KSI_GUEST_VLAN_MAX_RANGES];
};
