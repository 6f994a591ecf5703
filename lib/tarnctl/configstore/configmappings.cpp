// The one table of store-property to legacy-path rows and its companions. Row
// patterns use "[####]" for an element index and "[#]" for a position in a list
// of strings; a legacy path always numbers its elements "child[####]".
#include "configstore/configmappings.h"

#include <cctype>
#include <cstdio>
#include <mutex>

namespace TarnCtl::ConfigStoreUtil::Mappings {

namespace {

using P = PropType;

// Enumeration texts, paired per property below.
const EnumPairs kTeaming = {{"NONE", "none"},
                            {"LOADBALANCE_SRCID", "lb_srcid"},
                            {"LOADBALANCE_SRCMAC", "lb_srcmac"},
                            {"LOADBALANCE_IP", "lb_ip"},
                            {"FAILOVER_EXPLICIT", "fo_explicit"}};
const EnumPairs kLinkDiscoveryOperation = {
    {"NONE", "down"}, {"LISTEN", "listen"}, {"ADVERTISE", "advertise"}, {"BOTH", "both"}};
const EnumPairs kLinkDiscoveryProtocol = {{"CDP", "CDP"}};
const EnumPairs kBeacon = {{"TRUE", "true"}, {"IGNORE", "ignore"}};
const EnumPairs kTarnNicType = {{"TARNNIC_TYPE_GENERIC", "generic"}, {"TARNNIC_TYPE_ISCSI", "iscsi"}};
const EnumPairs kMacMode = {
    {"PNIC_BASED", "PNIC_BASED"}, {"USER_DEFINED", "USER_DEFINED"}, {"AUTO_GENERATED", "AUTO_GENERATED"}};
const EnumPairs kPortType = {
    {"VSS_PORT_GROUP", "VSS_PORT_GROUP"}, {"VDS", "VDS"}, {"OPAQUE_NETWORK", "OPAQUE_NETWORK"}};
const EnumPairs kCongestion = {{"NEWRENO", "newreno"}, {"CUBIC", "cubic"}, {"DCTCP", "dctcp"}};
const EnumPairs kEcn = {{"DISABLED", "disabled"}, {"ENABLED", "enabled"}, {"ECHOONLY", "echo-only"}};
const EnumPairs kGatewaySource = {{"DHCP", "DHCP"}, {"MANUAL", "MANUAL"}};
const EnumPairs kLinkSpeed = {
    {"SPEED_10", "10"},       {"SPEED_100", "100"},       {"SPEED_1000", "1000"},
    {"SPEED_2500", "2500"},   {"SPEED_5000", "5000"},     {"SPEED_10000", "10000"},
    {"SPEED_20000", "20000"}, {"SPEED_25000", "25000"},   {"SPEED_40000", "40000"},
    {"SPEED_50000", "50000"}, {"SPEED_56000", "56000"},   {"SPEED_100000", "100000"},
    {"SPEED_200000", "200000"}, {"SPEED_400000", "400000"}, {"SPEED_37500", "37500"},
    {"SPEED_75000", "75000"}};
// The store keeps duplex as a bool (true for full).
const EnumPairs kDuplex = {{"true", "full"}, {"false", "half"}};
const EnumPairs kFirewallAction = {{"PASS", "true"}, {"DROP", "false"}};
const EnumPairs kIpsecMode = {{"TRANSPORT", "transport"}, {"TUNNEL", "tunnel"}};
const EnumPairs kIpsecEncryption = {{"TDES_CBC", "3des-cbc"}, {"AES128_CBC", "aes128-cbc"}};
const EnumPairs kIpsecIntegrity = {{"HMAC_SHA1", "hmac-sha1"}, {"HMAC_SHA2_256", "hmac-sha2-256"}};
const EnumPairs kIpsecAction = {{"DISCARD", "discard"}, {"IPSEC", "ipsec"}, {"NONE", "none"}};
const EnumPairs kIpsecProtocol = {{"ANY", "any"}, {"TCP", "tcp"}, {"UDP", "udp"}, {"ICMP6", "icmp6"}};
const EnumPairs kIpsecDirection = {{"IN", "in"}, {"OUT", "out"}};

struct RowSpec {
    const char* store;
    const char* legacy;
    PropType type;
    const EnumPairs* enums;
};

#define VSS "halden/network_vss/switches[####]/"
#define VSSL "net/vswitch/child[####]/"
#define PG VSS "port_groups[####]/"
#define PGL VSSL "portgroup/child[####]/"
#define NIC "halden/network/tarnnics[####]/"
#define NICL "net/tarnosnic/child[####]/"
#define PNIC "halden/network/nics[####]/"
#define PNICL "net/pnic/child[####]/"
#define NS "halden/network/net_stacks[####]/"
#define NSL "net/netstackinstance/child[####]/"
#define SA "halden/network/ip_security_associations[####]/"
#define SAL "net/ipsecAssociation/child[####]/"
#define SP "halden/network/ip_security_policies[####]/"
#define SPL "net/ipsecPolicy/child[####]/"
#define VDS "halden/network_vds/switches[####]/"
#define VDSL "net/dvswitch/child[####]/"
#define FWR "halden/network/firewall_rule_sets[####]/"
#define FWRL "firewall/services/child[####]/"

const RowSpec kRows[] = {
    // Kernel NICs.
    {NIC "device", NICL "name", P::String, nullptr},
    {NIC "port_connection_type", NICL "PortConnectionType", P::String, &kPortType},
    {NIC "net_stack_instance_key", NICL "netstackInstance", P::String, nullptr},
    {NIC "port_group", NICL "portgroup", P::String, nullptr},
    {NIC "vds_port/switch_id", NICL "dvsId", P::String, nullptr},
    {NIC "vds_port/port_id", NICL "dvpId", P::String, nullptr},
    {NIC "vds_port/connection_id", NICL "connectionId", P::Int, nullptr},
    {NIC "enabled", NICL "enable", P::Bool, nullptr},
    {NIC "mac", NICL "mac", P::String, nullptr},
    {NIC "mac_mode", NICL "macMode", P::String, &kMacMode},
    {NIC "mac_from_user", NICL "macFromUser", P::String, nullptr},
    {NIC "nic", NICL "nic", P::String, nullptr},
    {NIC "mtu", NICL "mtu", P::Int, nullptr},
    {NIC "tso_mss", NICL "tsoMss", P::Int, nullptr},
    {NIC "num_rx_queue", NICL "numRxQueue", P::Int, nullptr},
    {NIC "system_owned", NICL "systemOwned", P::Bool, nullptr},
    {NIC "type", NICL "type", P::String, &kTarnNicType},
    {NIC "opaque_network/network_id", NICL "opaqueNetworkId", P::String, nullptr},
    {NIC "opaque_network/network_type", NICL "opaqueNetworkType", P::String, nullptr},
    {NIC "opaque_network/external_id", NICL "externalId", P::String, nullptr},
    {NIC "ip/dhcp_bound", NICL "dhcpBound", P::Bool, nullptr},
    {NIC "ip/dhcp_server", NICL "dhcpServer", P::String, nullptr},
    {NIC "ip/ipv4_address", NICL "ipv4address", P::String, nullptr},
    {NIC "ip/ipv4_subnet_mask", NICL "ipv4netmask", P::String, nullptr},
    {NIC "ip/ip_route_default_gateway", NICL "ipv4gateway", P::String, nullptr},
    {NIC "ip/dhcp", NICL "dhcp", P::Bool, nullptr},
    {NIC "ip/dhcp_dns", NICL "dhcpDns", P::Bool, nullptr},
    {NIC "ip/ipv6_enabled", NICL "ipv6", P::Bool, nullptr},
    {NIC "ip/ipv6/dhcp", NICL "dhcpv6", P::Bool, nullptr},
    {NIC "ip/ipv6/dhcp_dns", NICL "dhcpDns6", P::Bool, nullptr},
    {NIC "ip/ipv6/auto_configuration_enabled", NICL "routAdv", P::Bool, nullptr},
    {NIC "ip/ipv6/ip_route_ip_v6_default_gateway", NICL "ipv6gateway", P::String, nullptr},
    {NIC "ip/ipv6/ipv6_address[####]/address", NICL "ipv6network/child[####]/ipv6address", P::String, nullptr},
    {NIC "ip/ipv6/ipv6_address[####]/prefix_length", NICL "ipv6network/child[####]/ipv6netmask", P::Int, nullptr},
    {NIC "enabled_services/management", NICL "tags/Management", P::Bool, nullptr},
    {NIC "enabled_services/velmove", NICL "tags/Velmove", P::Bool, nullptr},
    {NIC "enabled_services/fault_tolerance_logging", NICL "tags/faultToleranceLogging", P::Bool, nullptr},
    {NIC "enabled_services/corvane_replication", NICL "tags/CorvaneReplication", P::Bool, nullptr},
    {NIC "enabled_services/corvane_replication_nfc", NICL "tags/CorvaneReplicationNFC", P::Bool, nullptr},
    {NIC "enabled_services/corvane_provisioning", NICL "tags/CorvaneProvisioning", P::Bool, nullptr},
    {NIC "enabled_services/morra", NICL "tags/MORRA", P::Bool, nullptr},
    {NIC "enabled_services/witness", NICL "tags/MORRAWitness", P::Bool, nullptr},
    {NIC "enabled_services/morra_external", NICL "tags/MORRAExternal", P::Bool, nullptr},
    {NIC "enabled_services/corvane_backup_nfc", NICL "tags/CorvaneBackupNFC", P::Bool, nullptr},
    {NIC "enabled_services/precision_time_protocol", NICL "tags/PrecisionTimeProtocol", P::Bool, nullptr},
    {NIC "enabled_services/nvme_tcp", NICL "tags/NVMeTCP", P::Bool, nullptr},
    {NIC "enabled_services/nvme_rdma", NICL "tags/NVMeRDMA", P::Bool, nullptr},

    // Physical NICs.
    {PNIC "name", PNICL "name", P::String, nullptr},
    {PNIC "mac", PNICL "mac", P::String, nullptr},
    {PNIC "virtual_mac", PNICL "virtualMac", P::String, nullptr},
    {PNIC "link_speed_mb", PNICL "speed", P::String, &kLinkSpeed},
    {PNIC "duplex", PNICL "duplex", P::Bool, &kDuplex},
    {PNIC "auto_negotiation", PNICL "autoNegotiation", P::Bool, nullptr},
    {PNIC "enabled", PNICL "nicEnabled", P::Bool, nullptr},
    {PNIC "ring/rx", PNICL "rx", P::Int, nullptr},
    {PNIC "ring/tx", PNICL "tx", P::Int, nullptr},
    {PNIC "capabilities/ipv4_cso", PNICL "ipv4cso", P::Int, nullptr},
    {PNIC "capabilities/ipv4_tso", PNICL "ipv4tso", P::Int, nullptr},
    {PNIC "capabilities/sg", PNICL "sg", P::Int, nullptr},
    {PNIC "capabilities/obo", PNICL "obo", P::Int, nullptr},
    {PNIC "capabilities/vxlan_encap", PNICL "vxlanencap", P::Int, nullptr},
    {PNIC "capabilities/geneve_offload", PNICL "geneveoffload", P::Int, nullptr},
    {PNIC "capabilities/ipv6_tso", PNICL "ipv6tso", P::Int, nullptr},
    {PNIC "capabilities/ipv6_tso_ext", PNICL "ipv6tsoext", P::Int, nullptr},
    {PNIC "capabilities/ipv6_cso", PNICL "ipv6cso", P::Int, nullptr},
    {PNIC "capabilities/ipv6_cso_ext", PNICL "ipv6csoext", P::Int, nullptr},
    {PNIC "capabilities/high_dma", PNICL "highdma", P::Int, nullptr},
    {PNIC "capabilities/sg_span_pages", PNICL "sgsp", P::Int, nullptr},
    {PNIC "capabilities/vlan_tagging", PNICL "tagging", P::Int, nullptr},
    {PNIC "capabilities/vlan_untagging", PNICL "untagging", P::Int, nullptr},
    {PNIC "queue_balancing/state", PNICL "lbState", P::Int, nullptr},
    {PNIC "queue_balancing/rx_queue_pair", PNICL "rxqpair", P::Int, nullptr},
    {PNIC "queue_balancing/rx_queue_no_feature", PNICL "rxqnofeat", P::Int, nullptr},
    {PNIC "queue_balancing/rx_queue_preemptible", PNICL "rxqpreempt", P::Int, nullptr},
    {PNIC "queue_balancing/rx_queue_latency", PNICL "rxqlatency", P::Int, nullptr},
    {PNIC "queue_balancing/rx_dynamic_lb", PNICL "rxdynlb", P::Int, nullptr},
    {PNIC "queue_balancing/dynamic_pool_lb", PNICL "dynpoollb", P::Int, nullptr},
    {PNIC "queue_balancing/mac_learn_lb", PNICL "maclearnlb", P::Int, nullptr},
    {PNIC "queue_balancing/rss_lb", PNICL "rsslb", P::Int, nullptr},
    {PNIC "queue_balancing/lro_lb", PNICL "lrolb", P::Int, nullptr},
    {PNIC "queue_balancing/geneve_oam_lb", PNICL "geneveoamlb", P::Int, nullptr},
    {PNIC "queue_balancing/rss_lro_lb", PNICL "rsslrolb", P::Int, nullptr},

    // Standard switches and their port groups.
    {VSS "name", VSSL "name", P::String, nullptr},
    {VSS "num_ports", VSSL "numPorts", P::Int, nullptr},
    {VSS "mtu", VSSL "mtu", P::Int, nullptr},
    {VSS "bridge/nics[#]", VSSL "uplinks/child[####]/pnic", P::ListElement, nullptr},
    {VSS "policy/nic_teaming/policy", VSSL "teamPolicy/team", P::String, &kTeaming},
    {VSS "policy/nic_teaming/notify_switches", VSSL "teamPolicy/notifySwitches", P::Bool, nullptr},
    {VSS "policy/nic_teaming/rolling_order", VSSL "teamPolicy/rollingOrder", P::Bool, nullptr},
    {VSS "policy/nic_teaming/link_criteria_beacon", VSSL "teamPolicy/linkCriteria/beacon", P::String, &kBeacon},
    {VSS "policy/nic_teaming/active_nics[#]", VSSL "teamPolicy/activeNics/child[####]/pnic", P::ListElement, nullptr},
    {VSS "policy/nic_teaming/standby_nics[#]", VSSL "teamPolicy/standbyNics/child[####]/pnic", P::ListElement, nullptr},
    {VSS "policy/security/allow_promiscuous", VSSL "securityPolicy/allowPromiscuous", P::Bool, nullptr},
    {VSS "policy/security/mac_changes", VSSL "securityPolicy/macChange", P::Bool, nullptr},
    {VSS "policy/security/forged_transmits", VSSL "securityPolicy/forgedTransmits", P::Bool, nullptr},
    {VSS "policy/traffic_shaping/enabled", VSSL "shapingPolicy/enabled", P::Bool, nullptr},
    {VSS "policy/traffic_shaping/peak_bandwidth", VSSL "shapingPolicy/peakBandwidth", P::Int, nullptr},
    {VSS "policy/traffic_shaping/average_bandwidth", VSSL "shapingPolicy/avgBandwidth", P::Int, nullptr},
    {VSS "policy/traffic_shaping/burst_size", VSSL "shapingPolicy/burstSize", P::Int, nullptr},
    {VSS "beacon_config/interval", VSSL "beacon/timeout", P::Int, nullptr},
    {VSS "beacon_config/threshold", VSSL "beacon/threshold", P::Int, nullptr},
    {VSS "link_discovery_protocol_config/operation", VSSL "cdp/status", P::String, &kLinkDiscoveryOperation},
    {VSS "link_discovery_protocol_config/protocol", VSSL "cdp/protocol", P::String, &kLinkDiscoveryProtocol},
    {VSS "overlays[####]/overlay_id", VSSL "overlays/child[####]/overlayId", P::Int, nullptr},
    {VSS "overlays[####]/overlay", VSSL "overlays/child[####]/overlay", P::String, nullptr},
    {PG "name", PGL "name", P::String, nullptr},
    {PG "vlan_id", PGL "vlanId", P::Int, nullptr},
    {PG "fence_id", PGL "fenceId", P::Int, nullptr},
    {PG "guest_vlan_ranges", PGL "guestVlans", P::String, nullptr},
    {PG "policy/nic_teaming/policy", PGL "teamPolicy/team", P::String, &kTeaming},
    {PG "policy/nic_teaming/notify_switches", PGL "teamPolicy/notifySwitches", P::Bool, nullptr},
    {PG "policy/nic_teaming/rolling_order", PGL "teamPolicy/rollingOrder", P::Bool, nullptr},
    {PG "policy/nic_teaming/link_criteria_beacon", PGL "teamPolicy/linkCriteria/beacon", P::String, &kBeacon},
    {PG "policy/nic_teaming/active_nics[#]", PGL "teamPolicy/activeNics/child[####]/pnic", P::ListElement, nullptr},
    {PG "policy/nic_teaming/standby_nics[#]", PGL "teamPolicy/standbyNics/child[####]/pnic", P::ListElement, nullptr},
    {PG "policy/security/allow_promiscuous", PGL "securityPolicy/allowPromiscuous", P::Bool, nullptr},
    {PG "policy/security/mac_changes", PGL "securityPolicy/macChange", P::Bool, nullptr},
    {PG "policy/security/forged_transmits", PGL "securityPolicy/forgedTransmits", P::Bool, nullptr},
    // Port-group shaping is written by the policy serialiser like the switch's.
    {PG "policy/traffic_shaping/enabled", PGL "shapingPolicy/enabled", P::Bool, nullptr},
    {PG "policy/traffic_shaping/peak_bandwidth", PGL "shapingPolicy/peakBandwidth", P::Int, nullptr},
    {PG "policy/traffic_shaping/average_bandwidth", PGL "shapingPolicy/avgBandwidth", P::Int, nullptr},
    {PG "policy/traffic_shaping/burst_size", PGL "shapingPolicy/burstSize", P::Int, nullptr},

    // Netstack instances, with their routing and resolver settings.
    {NS "key", NSL "key", P::String, nullptr},
    {NS "name", NSL "name", P::String, nullptr},
    {NS "max_connections", NSL "maxConnections", P::Int, nullptr},
    {NS "ipv6_enabled", NSL "ipv6Enabled", P::Bool, nullptr},
    {NS "enabled", NSL "enable", P::Bool, nullptr},
    {NS "congestion_control_algorithm", NSL "congestionAlgo", P::String, &kCongestion},
    {NS "ecn_status", NSL "ecnStatus", P::String, &kEcn},
    {NS "routing_config/ipv4_default_gateway", NSL "route/gateway", P::String, nullptr},
    {NS "routing_config/ipv4_effect_default_gateway", NSL "route/effectgateway", P::String, nullptr},
    {NS "routing_config/source", NSL "route/source", P::String, &kGatewaySource},
    {NS "routing_config/ipv6_default_gateway", NSL "route/v6gateway", P::String, nullptr},
    {NS "routing_config/routes[####]/network", NSL "route/routes/child[####]/network", P::String, nullptr},
    {NS "routing_config/routes[####]/gateway", NSL "route/routes/child[####]/gateway", P::String, nullptr},
    {NS "routing_config/v6routes[####]/network", NSL "route/v6routes/child[####]/network", P::String, nullptr},
    {NS "routing_config/v6routes[####]/gateway", NSL "route/v6routes/child[####]/gateway", P::String, nullptr},
    {NS "dns/name_server[#]", NSL "dns/nameServer/child[####]/address", P::ListElement, nullptr},
    {NS "dns/search_domain[#]", NSL "dns/searchDomain/child[####]/name", P::ListElement, nullptr},
    {NS "dns/system_search_domain[#]", NSL "dns/systemSearchDomain/child[####]/name", P::ListElement, nullptr},
    {NS "dns/ra_name_server[#]", NSL "dns/raNameServer/child[####]/address", P::ListElement, nullptr},
    {NS "dns/ra_search_domain[#]", NSL "dns/raSearchDomain/child[####]/name", P::ListElement, nullptr},
    {NS "dns/host_name", NSL "dns/hostName", P::String, nullptr},
    {NS "dns/domain_name", NSL "dns/domainName", P::String, nullptr},

    // IPsec policies.
    {SP "name", SPL "name", P::String, nullptr},
    {SP "source_address", SPL "srcAddress", P::String, nullptr},
    {SP "source_prefix_length", SPL "srcPrefixLength", P::Int, nullptr},
    {SP "source_port", SPL "srcPort", P::Int, nullptr},
    {SP "destination_address", SPL "dstAddress", P::String, nullptr},
    {SP "destination_prefix_length", SPL "dstPrefixLength", P::Int, nullptr},
    {SP "destination_port", SPL "dstPort", P::Int, nullptr},
    {SP "upper_layer_protocol", SPL "ulProtocol", P::String, &kIpsecProtocol},
    {SP "direction", SPL "direction", P::String, &kIpsecDirection},
    {SP "action", SPL "action", P::String, &kIpsecAction},
    {SP "mode", SPL "mode", P::String, &kIpsecMode},
    {SP "association_name", SPL "saName", P::String, nullptr},

    // Distributed switches.
    {VDS "uuid", VDSL "dvsId", P::String, nullptr},
    {VDS "portset_name", VDSL "name", P::String, nullptr},
    {VDS "alias", VDSL "alias", P::String, nullptr},
    {VDS "configured_max_ports", VDSL "maxPorts", P::Int, nullptr},
    {VDS "mtu", VDSL "mtu", P::Int, nullptr},
    {VDS "product/name", VDSL "productName", P::String, nullptr},
    {VDS "product/vendor", VDSL "vendor", P::String, nullptr},
    {VDS "product/version", VDSL "version", P::String, nullptr},
    {VDS "forwarding_class/class", VDSL "forwardingClass", P::String, nullptr},
    {VDS "uplinks[#]", VDSL "uplinks/child[####]/pnic", P::ListElement, nullptr},
    {VDS "link_discovery_protocol_config/operation", VDSL "cdp/status", P::String, &kLinkDiscoveryOperation},
    {VDS "link_discovery_protocol_config/protocol", VDSL "cdp/protocol", P::String, &kLinkDiscoveryProtocol},

    // IPsec security associations.
    {SA "name", SAL "name", P::String, nullptr},
    {SA "source_address", SAL "srcAddress", P::String, nullptr},
    {SA "destination_address", SAL "dstAddress", P::String, nullptr},
    {SA "spi", SAL "spi", P::Int, nullptr},
    {SA "mode", SAL "mode", P::String, &kIpsecMode},
    {SA "encryption_algorithm", SAL "encryptionAlgorithm", P::String, &kIpsecEncryption},
    {SA "encryption_key", SAL "encryptionKey", P::String, nullptr},
    {SA "integrity_algorithm", SAL "integrityAlgorithm", P::String, &kIpsecIntegrity},
    {SA "integrity_key", SAL "integrityKey", P::String, nullptr},

    // Firewall rulesets.
    {FWR "name", FWRL "name", P::String, nullptr},
    {FWR "enabled", FWRL "enabled", P::Bool, nullptr},
    {FWR "num_clients", FWRL "numClients", P::Int, nullptr},
    {FWR "allow_all_ip", FWRL "allowedall", P::Bool, nullptr},
    {FWR "allowed_ips[####]/address", FWRL "allowedip/child[####]/ipstr", P::String, nullptr},

    // Singletons: network dump target, firewall, network system.
    {"halden/system/netdump/enabled", "net/netdump/enabled", P::Bool, nullptr},
    {"halden/system/netdump/host_vnic", "net/netdump/hostVNic", P::String, nullptr},
    {"halden/system/netdump/network_server_ip", "net/netdump/serverIP", P::String, nullptr},
    {"halden/system/netdump/port", "net/netdump/serverPort", P::Int, nullptr},
    {"halden/network/firewall/enabled", "firewall/cfg/enabled", P::Bool, nullptr},
    {"halden/network/firewall/default_action", "firewall/cfg/defaultaction", P::String, &kFirewallAction},
    {"halden/network/firewall/allow_other_l4_traffic", "firewall/cfg/passotherL4", P::Bool, nullptr},
    {"halden/network/firewall/allow_IGMP_traffic", "firewall/cfg/passIGMP", P::Bool, nullptr},
    {"halden/network/network_system/tarnnic_post_upgrade_needed", "net/networkSystem/tarnnicPostUpgradeNeeded",
     P::Bool, nullptr},
};

const char* const kCapabilityNames[] = {
    "VlanTag", "VlanUntag", "SwLRO", "ChecksumOffload", "TcpSegmentationOffload", "ScatterGatherTx",
    "ScatterGatherSpanPagesTx", "HighDMA", "ChecksumOffloadIPv6", "ChecksumOffloadIPv6ExtHdrs",
    "TcpSegmentationOffloadIPv6", "TcpSegmentationOffloadIPv6ExtHdrs", "TcpSegmentationOffload256k",
    "UplinkReadOnlyInetHeaders", "UPT", "ENCAP", "DCB", "OffsetBasedOffload", "Sched", "SRIOV",
    "AdjustHeaderAlignment", "GenericOffload", "GeneveOffload", "HW_DCB", "BMC_NIC", "K2K_NIC", "PreferredMgmtNic"};

struct ObjectSpec {
    const char* spec;        // store object spec
    const char* legacy;      // legacy top-level branch
    const char* instanceId;  // naming property, empty for singletons
};

const ObjectSpec kObjects[] = {
    {"halden/network_vss/switches", "/net/vswitch", "name"},
    {"halden/network/tarnnics", "/net/tarnosnic", "device"},
    {"halden/network/net_stacks", "/net/netstackinstance", "key"},
    {"halden/network/nics", "/net/pnic", "name"},
    {"halden/network/firewall_rule_sets", "/firewall/services", "name"},
    {"halden/network/ip_security_associations", "/net/ipsecAssociation", "name"},
    {"halden/network/ip_security_policies", "/net/ipsecPolicy", "name"},
    {"halden/network_vds/switches", "/net/dvswitch", "uuid"},
    {"halden/system/netdump", "/net/netdump", ""},
    {"halden/network/firewall", "/firewall/cfg", ""},
    {"halden/network/network_system", "/net/networkSystem", ""},
};

// Lists of objects inside an object, matched by these properties when merged or written.
const std::pair<const char*, const char*> kListInstanceIds[] = {
    {"port_groups", "name"},   {"ipv6_address", "address"}, {"allowed_ips", "address"},
    {"routes", "network"},     {"v6routes", "network"},   {"overlays", "overlay_id"},
};

Tables* Build() {
    auto* t = new Tables;
    t->rows.reserve(sizeof kRows / sizeof kRows[0]);
    for (const RowSpec& r : kRows) t->rows.push_back({r.store, r.legacy, r.type, r.enums});
    // Capability policies of switches and port groups: one bool per capability name.
    for (const char* cap : kCapabilityNames) {
        t->rows.push_back({std::string(VSS "policy/capabilities/") + cap, std::string(VSSL "capabilities/") + cap,
                           P::Bool, nullptr});
        t->rows.push_back({std::string(PG "policy/capabilities/") + cap, std::string(PGL "capabilities/") + cap,
                           P::Bool, nullptr});
    }
    for (const MappingRow& row : t->rows) {
        t->mapping.emplace(row.legacy, &row);
        if (row.enums) t->enumMapping.emplace(row.store, row.enums);
    }
    for (const ObjectSpec& o : kObjects) {
        std::string spec = o.spec;
        size_t a = spec.find('/');
        size_t b = spec.find('/', a + 1);
        t->csoIdGroupMap[o.legacy] = spec.substr(a + 1, b - a - 1);
        t->csoIdKeyMap[o.legacy] = spec.substr(b + 1);
        t->legacyOfSpec[spec] = o.legacy;
        t->allowedNetworkConfigStoreObject.insert(spec);
        if (*o.instanceId) {
            t->allowedNetworkObject.push_back(o.legacy);
            t->instanceIdMapping[spec] = o.instanceId;
            // A nested lock may add single instances; they follow those in memory.
            t->incrementReadIdxMap[spec] = o.legacy;
        } else {
            t->allowedNetworkSingletonObject.push_back(o.legacy);
            t->allowedNetworkSingletonConfigStoreObject.insert(spec);
        }
        if (spec.rfind("halden/network", 0) == 0 || spec == "halden/system/netdump") {
            std::string legacy = o.legacy;
            if (legacy.rfind("/net/", 0) == 0) t->allowedUpgradeNetworkNameSet.insert(legacy.substr(5));
        }
    }
    for (const auto& [member, prop] : kListInstanceIds) t->instanceIdMapping[member] = prop;
    for (MappingRow& row : t->rows) {
        for (const ObjectSpec& o : kObjects) {
            std::string spec = o.spec;
            bool multi = *o.instanceId != 0;
            std::string storePrefix = spec + (multi ? "[####]/" : "/");
            std::string legacyPrefix = std::string(o.legacy).substr(1) + (multi ? "/child[####]/" : "/");
            if (row.store.compare(0, storePrefix.size(), storePrefix) != 0) continue;
            row.spec = spec;
            row.storeRel = row.store.substr(storePrefix.size());
            row.legacyRel = row.legacy.compare(0, legacyPrefix.size(), legacyPrefix) == 0
                                ? row.legacy.substr(legacyPrefix.size())
                                : row.legacy;
            t->rowsBySpec[spec].push_back(&row);
            // "<list>[####]/<prop>" (or the object's own "[####]/<prop>") names an element.
            size_t slot = row.store.rfind("[####]/");
            size_t legacySlot = row.legacy.rfind("[####]/");
            if (slot == std::string::npos || legacySlot == std::string::npos) break;
            std::string prop = row.store.substr(slot + 7);
            std::string owner = row.store.substr(0, slot);
            std::string member = owner.substr(owner.rfind('/') + 1);
            auto named = t->instanceIdMapping.find(owner == spec ? spec : member);
            if (prop.find('/') == std::string::npos && named != t->instanceIdMapping.end() && named->second == prop) {
                row.namesElement = true;
                std::string leaf = row.legacy.substr(legacySlot + 7);
                t->elementLists[row.legacy.substr(0, legacySlot)] = {owner == spec ? std::string() : member, prop, leaf};
            }
            break;
        }
    }
    return t;
}

}  // namespace

const Tables& GetTables() {
    static std::once_flag once;
    static Tables* tables = nullptr;
    std::call_once(once, [] {
        tables = Build();
        // Keyed the other way; built once here rather than per converter.
        for (const MappingRow& row : tables->rows) tables->reverseMapping.emplace(row.store, &row);
    });
    return *tables;
}

std::string MapEnum(const MappingRow& row, const std::string& text, bool toStore) {
    if (!row.enums) return text;
    for (const auto& [store, legacy] : *row.enums) {
        if (toStore ? legacy == text : store == text) return toStore ? store : legacy;
    }
    return text;
}

std::string NormalizePath(const std::string& path, std::vector<long>* indices) {
    std::string out;
    out.reserve(path.size());
    size_t i = 0;
    while (i < path.size() && path[i] == '/') ++i;
    while (i < path.size()) {
        char c = path[i];
        if (c == '[') {
            size_t close = path.find(']', i + 1);
            if (close != std::string::npos && close > i + 1) {
                bool numeric = true;
                for (size_t k = i + 1; k < close; ++k) {
                    if (!std::isdigit(static_cast<unsigned char>(path[k]))) numeric = false;
                }
                if (numeric && close - i - 1 <= 9) {
                    if (indices) indices->push_back(std::stol(path.substr(i + 1, close - i - 1)));
                    out += close + 1 == path.size() ? "[#]" : "[####]";
                    i = close + 1;
                    continue;
                }
            }
        }
        out.push_back(c);
        ++i;
    }
    return out;
}

std::string InsertIndices(const std::string& pattern, const std::vector<long>& indices) {
    std::string out;
    out.reserve(pattern.size() + 8);
    size_t next = 0;
    size_t i = 0;
    for (;;) {
        size_t open = pattern.find('[', i);
        if (open == std::string::npos) {
            out.append(pattern, i, std::string::npos);
            return out;
        }
        out.append(pattern, i, open - i);
        bool wide = pattern.compare(open, 6, "[####]") == 0;
        bool narrow = !wide && pattern.compare(open, 3, "[#]") == 0;
        if (!(wide || narrow) || next >= indices.size()) {
            out.push_back('[');
            i = open + 1;
            continue;
        }
        long index = indices[next++];
        char buf[32];
        if (index >= 0 && index <= 9999) {
            // Hot path of every tree read: four digits without a format call.
            buf[0] = '[';
            for (int d = 4; d >= 1; --d, index /= 10) buf[d] = static_cast<char>('0' + index % 10);
            buf[5] = ']';
            out.append(buf, 6);
        } else {
            std::snprintf(buf, sizeof buf, "[%04ld]", index);
            out += buf;
        }
        i = open + (wide ? 6 : 3);
    }
}

}  // namespace TarnCtl::ConfigStoreUtil::Mappings
