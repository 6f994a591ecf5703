// Kernel NICs: creation, plumbing, IP configuration (static, DHCP, DHCPv6,
// router advertisements), MTU, MAC, tags and removal. Every change reaches the
// kernel before it is recorded; a static address that cannot be bound puts the
// previous one back, and an enable whose addressing fails unplumbs again.
#include "network/tarnnic_impl.h"

#include <arpa/inet.h>

#include <algorithm>
#include <csignal>
#include <cstring>

#include "hostctl/exception.h"
#include "ksi/network.h"
#include "network/dns_config_impl.h"
#include "network/hosts_file.h"
#include "network/mac_generator.h"
#include "network/network_info_impl.h"
#include "network/network_util.h"
#include "network/portgroup_impl.h"
#include "network/routing_info_impl.h"
#include "network/routing_nics.h"
#include "network/tarnnic_dhcp.h"
#include "platform/exec.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using ConfigStoreUtil::ConfigBranchUtil;
using ConfigStoreUtil::ConfigFileUtil;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "TarnNicImpl";

const std::vector<TarnNicTagRow> kTagRows = {
    {TarnNicTagType::Management, "Management", "management", "Net", "ManagementIface"},
    {TarnNicTagType::VelMove, "Velmove", "velmove", "Migrate", "Tarnnic"},
    {TarnNicTagType::FaultToleranceLogging, "faultToleranceLogging", "fault_tolerance_logging", "FT", "Tarnnic"},
    {TarnNicTagType::CorvaneReplication, "CorvaneReplication", "corvane_replication", "", ""},
    {TarnNicTagType::CorvaneReplicationNfc, "CorvaneReplicationNFC", "corvane_replication_nfc", "", ""},
    {TarnNicTagType::CorvaneProvisioning, "CorvaneProvisioning", "corvane_provisioning", "Net", "ProvisioningTarnnics"},
    {TarnNicTagType::Morra, "MORRA", "morra", "", ""},
    {TarnNicTagType::Witness, "MORRAWitness", "witness", "", ""},
    {TarnNicTagType::CorvaneBackupNfc, "CorvaneBackupNFC", "corvane_backup_nfc", "", ""},
    {TarnNicTagType::PrecisionTimeProtocol, "PrecisionTimeProtocol", "precision_time_protocol", "", ""},
    {TarnNicTagType::NvmeTcp, "NVMeTCP", "nvme_tcp", "", ""},
    {TarnNicTagType::NvmeRdma, "NVMeRDMA", "nvme_rdma", "", ""},
    {TarnNicTagType::MorraExternal, "MORRAExternal", "morra_external", "", ""},
};

const TarnNicTagRow* FindTag(TarnNicTagType id) {
    for (const TarnNicTagRow& r : kTagRows)
        if (r.id == id) return &r;
    return nullptr;
}

std::vector<std::pair<std::string, std::string>> ConnectionKeys(const ConnectionPoint& cp, const std::string& key) {
    switch (cp.GetType()) {
        case ConnectionPoint::VSS_PORT_GROUP:
            return {{"portgroup", cp.GetPortGroupName()}, {"netstackInstance", key}};
        case ConnectionPoint::VDS:
            return {{"dvsId", cp.GetDvsId()}, {"dvpId", cp.GetDvPortId()}, {"netstackInstance", key}};
        case ConnectionPoint::OPAQUE_NETWORK:
            return {{"opaqueNetworkId", cp.GetOpaqueNetworkId()},
                    {"opaqueNetworkType", cp.GetOpaqueNetworkType()},
                    {"externalId", cp.GetExternalId()},
                    {"netstackInstance", key}};
        default:
            return {};
    }
}

ConfigBranchUtil FindEntry(ConfigFileUtil& config, const ConnectionPoint& cp, const std::string& key) {
    auto keys = ConnectionKeys(cp, key);
    if (keys.empty()) return ConfigBranchUtil();
    return config.GetArray(TarnNicImpl::kConfigArray).FindInstanceWithValues(keys);
}

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// Addresses given by the caller, not the placeholders of DHCPv6 or autoconfiguration.
bool IsStaticV6(const Ipv6Network& n) {
    return n.GetIpv6AddressType() == Ipv6Network(n.GetAddress(), n.GetNetmask()).GetIpv6AddressType();
}

std::string V4Text(uint32_t word) { return Ipv4Address(word).GetStringAddress(); }

uint32_t KernelWord(uint32_t node, const std::string& key, const std::string& name) {
    uint32_t word = 0;
    KernelStep("Unable to read the IPv4 settings of tarnnic " + name, [&] {
        Util::Sysinfo si(node);
        si.SetInstance(key);
        si.AddInstancePath(name);
        si.Get(&word, sizeof word);
    });
    return word;
}

bool ReadProps(const std::string& key, const std::string& name, KsiVnicProperties* out) {
    std::memset(out, 0, sizeof *out);
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_properties);
    si.SetThrowOnError(false);
    si.SetInstance(key);
    si.AddInstancePath(name);
    return si.Get(out, sizeof *out) == TARN_OK;
}

bool KernelIpv6Enabled(const std::string& key) {
    KsiTcpipInstanceProps p{};
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_properties);
    si.SetThrowOnError(false);
    si.SetInstance(key);
    return si.Get(&p, sizeof p) == TARN_OK && p.ipv6Enabled;
}

std::string MgmtIfaceOption() {
    try {
        return GetAdvString("Net", "ManagementIface");
    } catch (const HostCtlException&) {
        return "";
    }
}

}  // namespace

// ---- Tag table ------------------------------------------------------------------------------

const std::vector<TarnNicTagRow>& TarnNicTagTable() { return kTagRows; }

std::string TarnNicTagIdToName(TarnNicTagType id) {
    const TarnNicTagRow* r = FindTag(id);
    if (!r) throw HostCtlException("Invalid tag " + std::to_string(static_cast<int>(id)));
    return r->name;
}

TarnNicTagType TarnNicTagNameToId(const std::string& name) {
    for (const TarnNicTagRow& r : kTagRows)
        if (name == r.name || name == r.csName) return r.id;
    throw HostCtlException("Invalid tag " + name);
}

TarnNicTagType TarnNicTagCSNameToId(const std::string& csName) {
    for (const TarnNicTagRow& r : kTagRows)
        if (csName == r.csName) return r.id;
    throw HostCtlException("Invalid tag " + csName);
}

std::vector<std::string> GetTagCSNames() {
    std::vector<std::string> out;
    for (const TarnNicTagRow& r : kTagRows) out.push_back(r.csName);
    return out;
}

// ---- Construction and lookup ------------------------------------------------------------

TarnNicImpl::TarnNicImpl(const ConnectionPoint& cp, const std::string& netstackKey)
    : _cp(cp), _netstack(NetstackKey(netstackKey)) {}

ConnectionPoint TarnNicImpl::ConnectionOf(ConfigBranchUtil& entry) {
    std::string type = "VSS_PORT_GROUP", a, b, c;
    entry.GetValue("PortConnectionType", &type);
    if (type == "VDS") {
        entry.GetValue("dvsId", &a);
        entry.GetValue("dvpId", &b);
        entry.GetValue("connectionId", &c);
        return ConnectionPoint::DVPort(a, b, c);
    }
    if (type == "OPAQUE_NETWORK") {
        entry.GetValue("opaqueNetworkId", &a);
        entry.GetValue("opaqueNetworkType", &b);
        entry.GetValue("externalId", &c);
        return ConnectionPoint::OpaqueNetwork(a, b, c);
    }
    entry.GetValue("portgroup", &a);
    return ConnectionPoint::PortGroup(a);
}

std::vector<std::string> TarnNicImpl::KernelNicNames() {
    std::vector<std::string> keys, out;
    Util::Sysinfo list(KSI_NODE_net_tcpip_instances);
    list.SetThrowOnError(false);
    list.List(keys);
    for (const std::string& key : keys) {
        std::vector<std::string> names;
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_properties);
        si.SetThrowOnError(false);
        si.SetInstance(key);
        si.List(names);
        out.insert(out.end(), names.begin(), names.end());
    }
    return out;
}

std::string TarnNicImpl::KernelNetstackOf(const std::string& name) {
    std::vector<std::string> keys;
    Util::Sysinfo list(KSI_NODE_net_tcpip_instances);
    list.SetThrowOnError(false);
    list.List(keys);
    KsiVnicProperties p{};
    for (const std::string& key : keys)
        if (ReadProps(key, name, &p)) return key;
    return "";
}

std::string TarnNicImpl::GetFreeTarnNicName() {
    std::vector<std::string> used = KernelNicNames();
    {
        SynchronizedConfigFileUtil config({kTarnnicsRoot});
        for (ConfigBranchUtil& e : config->GetArray(kConfigArray).GetInstances()) {
            std::string name;
            if (e.GetValue("name", &name)) used.push_back(name);
        }
    }
    try {
        auto o = NetStore()->Get(HaldenConfigStore::ConfigStoreObjectId(kNetworkSystem, kNetwork, kHalden));
        std::vector<std::string> dpu;
        if (o && o->GetValue("dpu_vnics", &dpu)) used.insert(used.end(), dpu.begin(), dpu.end());
    } catch (const HostCtlException& e) {
        TarnCtl_LogVerboseInt("%s: No DPU NIC list: %s\n", kTag, e.what());
    }
    for (unsigned n = 0;; ++n) {
        std::string name = "tarn" + std::to_string(n);
        if (std::find(used.begin(), used.end(), name) == used.end()) return name;
    }
}

bool TarnNicImpl::TarnNicConfigExists(const ConnectionPoint& cp, const std::string& netstackKey) {
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    return static_cast<bool>(FindEntry(config.GetFile(), cp, NetstackKey(netstackKey)));
}

bool TarnNicImpl::TarnNicExists(const ConnectionPoint& cp, const std::string& netstackKey) {
    const std::string key = NetstackKey(netstackKey);
    std::vector<std::string> names;
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_properties);
    si.SetThrowOnError(false);
    si.SetInstance(key);
    si.List(names);
    for (const std::string& name : names) {
        KsiVnicProperties p{};
        if (!ReadProps(key, name, &p)) continue;
        std::string a = Text(p.portgroup, sizeof p.portgroup);
        std::string b = Text(p.port, sizeof p.port);
        std::string c = Text(p.connection, sizeof p.connection);
        if (cp.GetType() == ConnectionPoint::VSS_PORT_GROUP && p.connectionType == KSI_VNIC_PORTGROUP &&
            a == cp.GetPortGroupName())
            return true;
        if (cp.GetType() == ConnectionPoint::VDS && p.connectionType == KSI_VNIC_DVPORT && a == cp.GetDvsId() &&
            b == cp.GetDvPortId())
            return true;
        if (cp.GetType() == ConnectionPoint::OPAQUE_NETWORK && p.connectionType == KSI_VNIC_OPAQUE &&
            a == cp.GetOpaqueNetworkId() && b == cp.GetOpaqueNetworkType() && c == cp.GetExternalId())
            return true;
    }
    return TarnNicConfigExists(cp, key);
}

ConfigBranchUtil TarnNicImpl::GetConfigLocation(ConfigFileUtil& config, bool create) {
    ConfigBranchUtil entry = FindEntry(config, _cp, _netstack);
    if (entry) return entry;
    const std::string location = "/net/tarnosnic";
    if (!create) {
        switch (_cp.GetType()) {
            case ConnectionPoint::VDS:
                throw HostCtlException("Unable to find tarnnic for dvsId: " + _cp.GetDvsId() + " dvpId: " +
                                       _cp.GetDvPortId() + " and netstackInstance: " + _netstack +
                                       " at config location " + location);
            case ConnectionPoint::OPAQUE_NETWORK:
                throw HostCtlException("Unable to find tarnnic for opaque network: " + _cp.GetOpaqueNetworkId() +
                                       " network type: " + _cp.GetOpaqueNetworkType() + " netstackInstance: " +
                                       _netstack + " at config location " + location);
            default:
                throw HostCtlException("Unable to find tarnnic for portgroup: " + _cp.GetPortGroupName() +
                                       " netstackInstance: " + _netstack + " at config location " + location);
        }
    }
    entry = config.GetArray(kConfigArray).NewInstance();
    for (const auto& kv : ConnectionKeys(_cp, _netstack))
        if (!(kv.first == "connectionId" && kv.second.empty())) entry.SetValue(kv.first, kv.second);
    if (_cp.GetType() == ConnectionPoint::VDS && !_cp.GetConnectionId().empty())
        entry.SetValue("connectionId", _cp.GetConnectionId());
    entry.SetValue("PortConnectionType", std::string(ConnectionPoint::TypeName(_cp.GetType())));
    entry.SetValue("macMode", std::string("AUTO_GENERATED"));
    return entry;
}

std::string TarnNicImpl::GetMacGenStr() const {
    switch (_cp.GetType()) {
        case ConnectionPoint::VDS:
            return _cp.GetDvsId() + ":" + _cp.GetDvPortId();
        case ConnectionPoint::OPAQUE_NETWORK:
            return _cp.GetOpaqueNetworkId() + ":" + _cp.GetOpaqueNetworkType() + ":" + _cp.GetExternalId();
        default:
            return _cp.GetPortGroupName();
    }
}

std::string TarnNicImpl::Portstr() const { return _cp.ToString(); }

// ---- Reading --------------------------------------------------------------------------------

void TarnNicImpl::Refresh() {
    _stale = false;
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = FindEntry(config.GetFile(), _cp, _netstack);
    if (entry) entry.GetValue("name", &_name);
}

void TarnNicImpl::RefreshIfStale() {
    if (_stale) Refresh();
}

bool TarnNicImpl::IsPlumbed() {
    RefreshIfStale();
    KsiVnicProperties p{};
    return !_name.empty() && ReadProps(_netstack, _name, &p);
}

std::string TarnNicImpl::GetInterfaceName() {
    RefreshIfStale();
    return _name;
}

std::string TarnNicImpl::GetPortGroupName() {
    return _cp.GetType() == ConnectionPoint::VSS_PORT_GROUP ? _cp.GetPortGroupName() : "";
}

namespace {
template <typename T>
T EntryValue(ConfigBranchUtil& entry, const char* name, T fallback) {
    T v = fallback;
    entry.GetValue(name, &v);
    return v;
}
}  // namespace

template <typename T>
T TarnNicImpl::ConfigValue(const char* name, T fallback) {
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    return EntryValue<T>(entry, name, fallback);
}

uint32_t TarnNicImpl::GetMtu() {
    KsiVnicProperties p{};
    if (IsPlumbed() && ReadProps(_netstack, _name, &p)) return p.mtu;
    return ConfigValue<unsigned int>("mtu", DEFAULT_MTU);
}

uint32_t TarnNicImpl::GetTsoMss() { return ConfigValue<unsigned int>("tsoMss", DEFAULT_TSOMSS); }

uint32_t TarnNicImpl::GetNumRxQueue() { return ConfigValue<unsigned int>("numRxQueue", 0u); }

MacAddress TarnNicImpl::GetMacAddress() {
    KsiVnicProperties p{};
    if (IsPlumbed() && ReadProps(_netstack, _name, &p)) return MacAddress(p.mac);
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    std::string mode = EntryValue<std::string>(entry, "macMode", "AUTO_GENERATED");
    std::string text = EntryValue<std::string>(entry, mode == "USER_DEFINED" ? "macFromUser" : "mac", "");
    unsigned char bytes[6] = {};
    MacAddress::Parse(text, bytes);
    return MacAddress(bytes);
}

bool TarnNicImpl::GetDhcpBound() { return ConfigValue<bool>("dhcpBound", false); }

std::string TarnNicImpl::GetDhcpServer() { return ConfigValue<std::string>("dhcpServer", ""); }

bool TarnNicImpl::IsSystemOwned() { return ConfigValue<bool>("systemOwned", false); }

TarnNic::TarnNicType TarnNicImpl::GetTarnNicType() {
    return ConfigValue<std::string>("type", "TARNNIC_TYPE_GENERIC") == "TARNNIC_TYPE_ISCSI"
               ? TARNNIC_TYPE_ISCSI
               : TARNNIC_TYPE_GENERIC;
}

bool TarnNicImpl::IsNetDumpInterface() {
    RefreshIfStale();
    std::string nic;
    bool enabled = false;
    SynchronizedConfigFileUtil config({"halden/system/netdump"});
    config->GetValue("/net/netdump/hostVNic", &nic);
    config->GetValue("/net/netdump/enabled", &enabled);
    return enabled && !_name.empty() && nic == _name;
}

std::vector<TarnNicTagType> TarnNicImpl::GetTags() {
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    std::vector<TarnNicTagType> out;
    for (const TarnNicTagRow& r : kTagRows) {
        bool on = false;
        if (entry.GetValue(std::string("tags/") + r.name, &on) && on) out.push_back(r.id);
    }
    return out;
}

bool TarnNicImpl::HasTag(TarnNicTagType tag) {
    auto tags = GetTags();
    return std::find(tags.begin(), tags.end(), tag) != tags.end();
}

IpConfig TarnNicImpl::GetConfiguredIpConfig() {
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    IpConfig ip;
    std::string text;
    bool flag = false;
    if (entry.GetValue("dhcp", &flag) && flag) {
        ip.SetUseDhcp(true);
    } else if (entry.GetValue("ipv4address", &text) && Ipv4Address::IsValidAddress(text)) {
        ip.SetIpv4Address(Ipv4Address(text));
        if (entry.GetValue("ipv4netmask", &text)) ip.SetIpv4Netmask(Ipv4Address(text));
        if (entry.GetValue("ipv4gateway", &text) && Ipv4Address::IsValidAddress(text))
            ip.SetIpv4Gateway(Ipv4Address(text));
    }
    ip.SetDhcpDns(EntryValue<bool>(entry, "dhcpDns", false));
    bool v6 = EntryValue<bool>(entry, "ipv6", false);
    ip.SetUseIpv6(v6);
    if (v6) {
        ip.SetUseIpv6Dhcp(EntryValue<bool>(entry, "dhcpv6", false));
        ip.SetIpv6DhcpDns(EntryValue<bool>(entry, "dhcpDns6", false));
        ip.SetUseIpv6RouterAdvertised(EntryValue<bool>(entry, "routAdv", false));
        if (entry.GetValue("ipv6gateway", &text) && Ipv6Address::IsValidAddress(text))
            ip.SetIpv6Gateway(Ipv6Address(text));
        for (ConfigBranchUtil& n : entry.GetArray("ipv6network/child").GetInstances()) {
            std::string addr;
            unsigned int prefix = 0;
            if (n.GetValue("ipv6address", &addr) && n.GetValue("ipv6netmask", &prefix))
                ip.AddIpv6Network(Ipv6Network(Ipv6Address(addr), prefix));
        }
    }
    return ip;
}

IpConfig TarnNicImpl::GetIpConfig() {
    IpConfig configured = GetConfiguredIpConfig();
    if (!IsPlumbed()) return configured;
    // What the kernel runs with; the modes come from the configuration.
    IpConfig ip;
    uint32_t addr = KernelWord(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddr, _netstack, _name);
    if (addr != 0) {
        ip.SetIpv4Address(Ipv4Address(addr));
        ip.SetIpv4Netmask(Ipv4Address(KernelWord(KSI_NODE_net_tcpip_instances_vNics_v4_netmask, _netstack, _name)));
        uint32_t gw = KernelWord(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, _netstack, _name);
        if (gw != 0) ip.SetIpv4Gateway(Ipv4Address(gw));
    }
    // After the addresses, which would take the mode away: a leased address keeps its DHCP mode.
    if (configured.GetUseDhcp()) ip.SetUseDhcp(true, false);
    ip.SetDhcpDns(configured.GetDhcpDns());
    ip.SetUseIpv6(configured.GetUseIpv6());
    ip.SetUseIpv6Dhcp(configured.GetUseIpv6Dhcp());
    ip.SetUseIpv6RouterAdvertised(configured.GetUseIpv6RouterAdvertised());
    ip.SetIpv6DhcpDns(configured.GetIpv6DhcpDns());
    for (const Ipv6Network& n : KernelNicIpv6Addresses(_netstack, _name)) ip.AddIpv6Network(n);
    uint8_t gw6[16] = {};
    Util::Sysinfo g(KSI_NODE_net_tcpip_instances_vNics_v6_ip6gateway);
    g.SetThrowOnError(false);
    g.SetInstance(_netstack);
    g.AddInstancePath(_name);
    if (g.Get(gw6, sizeof gw6) == TARN_OK) {
        Ipv6_addr bin;
        std::memcpy(&bin, gw6, sizeof bin);
        ip.SetIpv6Gateway(Ipv6Address(bin));
    }
    return ip;
}

void TarnNicImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Tarnos NIC");
    printer->BeginObject();
    printer->Print("Name", GetInterfaceName());
    printer->Print("Netstack", _netstack);
    printer->Print("Connection", _cp.ToString());
    printer->Print("Enabled", IsPlumbed());
    printer->EndObject();
}

// ---- Recording ------------------------------------------------------------------------------

void TarnNicImpl::Record(const std::function<void(ConfigBranchUtil&)>& apply) {
    if (IsBootMode()) return;
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    apply(entry);
    config->Write();
}

void TarnNicImpl::KernelSet(uint32_t node, const std::vector<std::string>& inputs, const std::string& what) {
    KernelStep(what, [&] {
        Util::Sysinfo si(node);
        si.SetInstance(_netstack);
        si.AddInstancePath(_name);
        for (const std::string& i : inputs) si.AddInput(i);
        si.Set();
    });
}

void TarnNicImpl::RecordIpConfig(ConfigBranchUtil& entry, const IpConfig& ip) {
    entry.SetValue("dhcp", ip.GetUseDhcp());
    entry.SetValue("dhcpDns", ip.GetDhcpDns());
    entry.SetValue("dhcpv6", ip.GetUseIpv6Dhcp());
    entry.SetValue("dhcpDns6", ip.GetIpv6DhcpDns());
    entry.SetValue("routAdv", ip.GetUseIpv6RouterAdvertised());
    entry.SetValue("ipv6", ip.GetUseIpv6());
    bool staticV4 = !ip.GetUseDhcp() && !ip.GetIpv4UseNone() && ip.IsIpv4Valid();
    entry.SetValue("ipv4address", staticV4 ? ip.GetIpv4Address().GetStringAddress() : std::string(""));
    entry.SetValue("ipv4netmask", staticV4 ? ip.GetIpv4Netmask().GetStringAddress() : std::string(""));
    entry.SetValue("ipv4gateway",
                   staticV4 && !ip.GetIpv4Gateway().IsAllzeroAddress() ? ip.GetIpv4Gateway().GetStringAddress()
                                                                      : std::string(""));
    if (!ip.GetUseDhcp()) {
        entry.SetValue("dhcpBound", false);
        entry.SetValue("dhcpServer", std::string(""));
    }
    entry.SetValue("ipv6gateway", ip.GetIpv6Gateway().GetStringAddress());
    entry.Remove("ipv6network");
    ConfigStoreUtil::ConfigArrayUtil list = entry.GetArray("ipv6network/child");
    for (const Ipv6Network& n : ip.GetIpv6Network()) {
        if (!IsStaticV6(n)) continue;
        ConfigBranchUtil e = list.NewInstance();
        e.SetValue("ipv6address", n.GetAddress().GetStringAddress());
        e.SetValue("ipv6netmask", n.GetNetmask());
    }
}

// ---- Creation --------------------------------------------------------------------------------

void TarnNicImpl::CreateTarnNicInternal(const IpConfig& ip, const MacAddress& mac, Pnic* pnic, uint32_t mtu,
                                        uint32_t tsoMss, uint32_t numRxQueue, const std::string& name,
                                        bool systemOwned) {
    std::string mode = "AUTO_GENERATED";
    MacAddress use = mac;
    if (!mac.IsValid()) {
        use = MacAddressGenerator::GetSingleton().GenerateTarnNicMacAddr(GetMacGenStr());
    } else {
        mode = pnic ? "PNIC_BASED" : "USER_DEFINED";
    }
    std::string nicName = name;
    if (nicName.empty()) {
        nicName = GetFreeTarnNicName();
    } else if (!HostCtl::Misc::StartsWith(nicName, "tarn")) {
        throw HostCtlException("Interface names must be in the form tarnX");
    }
    if (mtu != 0 && (mtu < MIN_MTU || mtu > MAX_MTU))
        throw HostCtlException(HostCtl::Misc::StrPrintf("Unable to set MTU.  Valid MTU values are %u-%u", MIN_MTU,
                                                        MAX_MTU));
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    if (config->GetArray(kConfigArray).FindInstanceWithValue("name", nicName))
        throw HostCtlException("A tarnos nic named " + nicName + " already exists.");
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), true);
    entry.SetValue("name", nicName);
    entry.SetValue("mac", use.GetStringAddress());
    entry.SetValue("macMode", mode);
    if (mode == "PNIC_BASED") entry.SetValue("nic", pnic->GetName());
    if (mode == "USER_DEFINED") entry.SetValue("macFromUser", use.GetStringAddress());
    entry.SetValue("tsoMss", tsoMss ? tsoMss : DEFAULT_TSOMSS);
    if (mtu) entry.SetValue("mtu", mtu);
    if (numRxQueue) entry.SetValue("numRxQueue", numRxQueue);
    if (systemOwned) entry.SetValue("systemOwned", true);
    entry.SetValue("enable", false);
    RecordIpConfig(entry, ip);
    config->Write();
    _name = nicName;
    _stale = false;
}

void TarnNicImpl::RemoveConfigInternal() {
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = FindEntry(config.GetFile(), _cp, _netstack);
    if (!entry) return;
    config->GetArray(kConfigArray).RemoveInstance("name", _name);
    config->Write();
}

void TarnNicImpl::CreateTarnNic(const ConnectionPoint* cp, const std::string& netstackKey, const IpConfig& ip,
                                const MacAddress& mac, Pnic* pnic, uint32_t mtu, uint32_t tsoMss,
                                uint32_t numRxQueue, const std::string& name, bool systemOwned) {
    if (!cp) throw HostCtlException("Invalid ConnectionPoint.");
    TarnNicImpl nic(*cp, netstackKey);
    nic.CreateTarnNicInternal(ip, mac, pnic, mtu, tsoMss, numRxQueue, name, systemOwned);
    try {
        nic.Enable();
    } catch (...) {
        // A NIC that never came up is not left behind in the configuration.
        nic.RemoveConfigInternal();
        throw;
    }
}

// ---- Enable / disable -------------------------------------------------------------------------

void TarnNicImpl::Unplumb() {
    KernelSet(KSI_NODE_net_tcpip_instances_vNics_unplumb, {}, "Unable to unplumb tarnnic " + _name);
}

void TarnNicImpl::Enable() {
    Refresh();
    if (IsPlumbed()) return;
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    std::string mac = EntryValue<std::string>(entry, "mac", "");
    std::string mode = EntryValue<std::string>(entry, "macMode", "AUTO_GENERATED");
    if (mode == "USER_DEFINED") mac = EntryValue<std::string>(entry, "macFromUser", mac);
    if (!_bootMac.empty()) mac = _bootMac;
    if (!MacAddress::IsValid(mac) && mode == "AUTO_GENERATED") {
        mac = MacAddressGenerator::GetSingleton().GenerateTarnNicMacAddr(GetMacGenStr()).GetStringAddress();
        if (!IsBootMode()) entry.SetValue("mac", mac);
    }
    std::vector<std::string> inputs = {"if=" + _name};
    switch (_cp.GetType()) {
        case ConnectionPoint::VDS:
            inputs.push_back("dvsId=" + _cp.GetDvsId());
            inputs.push_back("portId=" + _cp.GetDvPortId());
            inputs.push_back("cnId=" + _cp.GetConnectionId());
            break;
        case ConnectionPoint::OPAQUE_NETWORK:
            inputs.push_back("opqnwid=" + _cp.GetOpaqueNetworkId());
            inputs.push_back("opqnwtype=" + _cp.GetOpaqueNetworkType());
            inputs.push_back("extid=" + _cp.GetExternalId());
            break;
        default:
            inputs.push_back("portset=" + _cp.GetPortGroupName());
    }
    inputs.push_back("macaddr=" + mac);
    inputs.push_back("tsomss=" + std::to_string(EntryValue<unsigned int>(entry, "tsoMss", DEFAULT_TSOMSS)));
    inputs.push_back("mtu=" + std::to_string(EntryValue<unsigned int>(entry, "mtu", DEFAULT_MTU)));
    inputs.push_back("numRxQueue=" + std::to_string(EntryValue<unsigned int>(entry, "numRxQueue", 0u)));
    inputs.push_back(std::string("rtadv=") + (EntryValue<bool>(entry, "routAdv", false) ? "1" : "0"));
    KernelStep("Unable to create tarnnic " + _name + " on netstack " + _netstack, [&] {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_plumb);
        si.SetInstance(_netstack);
        for (const std::string& i : inputs) si.AddInput(i);
        si.Set();
    });
    try {
        SetIpConfigInternal(GetConfiguredIpConfig());
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Error setting IP address, deleting kernel instance for tarnnic %s on netstack %s due "
                            "to %s\n",
                            kTag, _name.c_str(), _netstack.c_str(), e.what());
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_unplumb);
        si.SetThrowOnError(false);
        si.SetInstance(_netstack);
        si.AddInstancePath(_name);
        si.Set();
        throw;
    }
    try {
        RoutingInfoImpl(_netstack).LoadConfig();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Exception when load routing info: %s\n", kTag, e.what());
    } catch (...) {
        TarnCtl_LogWarnInt("%s: Unexpected exception when load routing info\n", kTag);
    }
    try {
        NetworkInfoImpl().UpdateManagementInterface();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Exception when update management interface: %s\n", kTag, e.what());
    } catch (...) {
        TarnCtl_LogWarnInt("%s: Unexpected exception when update management interface\n", kTag);
    }
    for (const TarnNicTagRow& r : kTagRows) {
        bool on = false;
        if (entry.GetValue(std::string("tags/") + r.name, &on) && on) {
            try {
                SetTagInKernel(r.id, true);
            } catch (const HostCtlException& e) {
                TarnCtl_LogWarnInt("%s: Restoring tag %s of %s failed: %s\n", kTag, r.name, _name.c_str(), e.what());
            }
        }
    }
    if (!IsBootMode()) {
        entry.SetValue("enable", true);
        config->Write();
    }
    TarnCtl_LogInfoInt("%s: Enable: netstack:'%s', interface:'%s', portStr:'%s'\n", kTag, _netstack.c_str(),
                       _name.c_str(), Portstr().c_str());
}

void TarnNicImpl::StopDhcpClients(bool v4, bool v6) {
    if (v4) Dhclient::Stop(_name, _netstack, false);
    if (v6) Dhclient::Stop(_name, _netstack, true);
}

void TarnNicImpl::Disable() {
    Refresh();
    if (IsPlumbed()) {
        StopDhcpClients(true, true);
        Unplumb();
    }
    Record([&](ConfigBranchUtil& e) {
        e.SetValue("enable", false);
        e.SetValue("dhcpBound", false);
        e.SetValue("dhcpServer", std::string(""));
    });
    TarnCtl_LogInfoInt("%s: Disable: netstack:'%s', interface:'%s', portStr:'%s'\n", kTag, _netstack.c_str(),
                       _name.c_str(), Portstr().c_str());
}

// ---- IP configuration --------------------------------------------------------------------------

bool TarnNicImpl::IsManagementInterface() {
    if (HasTag(TarnNicTagType::Management)) return true;
    std::vector<std::string> names;
    HostCtl::Misc::StringTokenize(MgmtIfaceOption(), names, ",");
    return std::find(names.begin(), names.end(), _name) != names.end();
}

void TarnNicImpl::Bind(const Ipv4Address& address, const Ipv4Address& netmask, const Ipv4Address& gateway, bool) {
    uint32_t oldAddr = KernelWord(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddr, _netstack, _name);
    uint32_t oldMask = KernelWord(KSI_NODE_net_tcpip_instances_vNics_v4_netmask, _netstack, _name);
    uint32_t oldGw = KernelWord(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, _netstack, _name);
    try {
        if (oldAddr != 0 && (oldAddr != address.GetBinaryAddress() || oldMask != netmask.GetBinaryAddress() ||
                             oldGw != gateway.GetBinaryAddress()))
            KernelSet(KSI_NODE_net_tcpip_instances_vNics_unbind, {}, "Unable to unbind tarnnic " + _name);
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask,
                  {address.GetStringAddress(), netmask.GetStringAddress()},
                  "Unable to set IPv4 address " + address.GetStringAddress() + " on tarnnic " + _name);
        if (!gateway.IsAllzeroAddress())
            KernelSet(KSI_NODE_net_tcpip_instances_vNics_v4_gateway, {gateway.GetStringAddress()},
                      "Unable to set IPv4 gateway " + gateway.GetStringAddress() + " on tarnnic " + _name);
        if (IsNetDumpInterface()) {
            TarnCtl_LogInfoInt("%s: Bind: changing ip of netdump interface\n", kTag);
            // The dump client follows the new address; the address change does
            // not wait on a client that cannot come back.
            try {
                NetworkInfoImpl().EnableNetDumper();
            } catch (const HostCtlException& e) {
                TarnCtl_LogWarnInt("%s: Bind: Unable to re-enable the network dump client: %s\n", kTag, e.what());
            }
        }
        if (IsManagementInterface() && !IsBootMode()) {
            SetAdvString("Misc", "HostIPAddr", address.GetStringAddress());
            SetAdvString("Net", "ManagementAddr", address.GetStringAddress());
            std::string host = GetAdvString("Misc", "HostName");
            if (host.empty()) host = "localhost";
            HostsFile hosts;
            hosts.ParseOrInit();
            hosts.AddOrReplaceEntry(address.GetStringAddress(), host, {});
        }
    } catch (const HostCtlException& e) {
        Util::Sysinfo un(KSI_NODE_net_tcpip_instances_vNics_unbind);
        un.SetThrowOnError(false);
        un.SetInstance(_netstack);
        un.AddInstancePath(_name);
        un.Set();
        if (oldAddr != 0) {
            Util::Sysinfo si(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddrmask);
            si.SetThrowOnError(false);
            si.SetInstance(_netstack);
            si.AddInstancePath(_name);
            si.AddInput(V4Text(oldAddr));
            si.AddInput(V4Text(oldMask));
            si.Set();
            if (oldGw != 0) {
                Util::Sysinfo g(KSI_NODE_net_tcpip_instances_vNics_v4_gateway);
                g.SetThrowOnError(false);
                g.SetInstance(_netstack);
                g.AddInstancePath(_name);
                g.AddInput(V4Text(oldGw));
                g.Set();
            }
        }
        TarnCtl_LogErrorInt("%s: Bind: %s\n", kTag, e.what());
        throw;
    }
}

void TarnNicImpl::SetIpConfigInternal(const IpConfig& ip) {
    // Whether to start or stop the DHCPv6 client must be known before anything changes.
    bool v6ClientRuns = false;
    if (ip.GetUseIpv6() && KernelIpv6Enabled(_netstack)) {
        Dhclient::ClientState state = Dhclient::GetClientState(_name, true);
        if (state == Dhclient::ClientState::Unknown)
            throw HostCtlException("Failure finding state for kill/exec dhclient");
        v6ClientRuns = state == Dhclient::ClientState::Running;
    }
    if (ip.GetUseDhcp()) {
        if (Dhclient::IsRunning(_name, false)) {
            RenewDHCPLease();
        } else {
            Dhclient::StartV4(_name, _netstack, ip.GetDhcpDns());
        }
        Dhclient::Lease lease = Dhclient::ReadLease(_name);
        if (!IsBootMode()) {
            SynchronizedConfigFileUtil config({kTarnnicsRoot});
            ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
            entry.SetValue("dhcpBound", lease.bound);
            entry.SetValue("dhcpServer", lease.server);
            config->Write();
        }
    } else {
        // A lease is given back before a static address takes its place.
        Dhclient::Stop(_name, _netstack, false);
        if (!ip.GetIpv4UseNone() && ip.IsIpv4Valid()) {
            Bind(ip.GetIpv4Address(), ip.GetIpv4Netmask(), ip.GetIpv4Gateway(), true);
            TarnCtl_LogInfoInt("%s: IPv4 address set up successfully on tarnnic %s\n", kTag, _name.c_str());
        } else if (KernelWord(KSI_NODE_net_tcpip_instances_vNics_v4_ipaddr, _netstack, _name) != 0) {
            KernelSet(KSI_NODE_net_tcpip_instances_vNics_unbind, {}, "Unable to unbind tarnnic " + _name);
        }
    }
    SetIpv6ConfigInternal(ip, v6ClientRuns);
}

void TarnNicImpl::SetIpv6ConfigInternal(const IpConfig& ip, bool v6ClientRuns) {
    bool kernelV6 = KernelIpv6Enabled(_netstack);
    if (!kernelV6 || !ip.GetUseIpv6()) {
        if (!kernelV6)
            TarnCtl_LogInfoInt("%s: Ipv6 not Enabled: ipv6 %d, tarn %d\n", kTag, 0, ip.GetUseIpv6() ? 1 : 0);
        if (Dhclient::IsRunning(_name, true)) {
            TarnCtl_LogInfoInt("%s: Killing DHCPv6 client for tarnnic %s since IPv6 is disabled\n", kTag,
                               _name.c_str());
            Dhclient::Stop(_name, _netstack, true);
        }
        if (kernelV6) KernelSet(KSI_NODE_net_tcpip_instances_vNics_v6_enable, {"0"}, "Unable to disable IPv6 on tarnnic " + _name);
        return;
    }
    KernelSet(KSI_NODE_net_tcpip_instances_vNics_v6_enable, {"1"}, "Unable to enable IPv6 on tarnnic " + _name);
    {
        Dhclient::SemaphoreLock lock(SEMKEY_RAFLAGS);
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_v6_rtadv, {ip.GetUseIpv6RouterAdvertised() ? "1" : "0"},
                  "Unable to set router advertisements on tarnnic " + _name);
    }
    const bool running = v6ClientRuns;
    if (ip.GetUseIpv6Dhcp() && !running) {
        TarnCtl_LogInfoInt("%s: Executing DHCPv6 client for tarnnic %s\n", kTag, _name.c_str());
        Dhclient::StartV6(_name, _netstack, false, ip.GetIpv6DhcpDns());
    } else if (!ip.GetUseIpv6Dhcp() && running) {
        TarnCtl_LogInfoInt("%s: Killing DHCPv6 client for tarnnic %s\n", kTag, _name.c_str());
        Dhclient::Stop(_name, _netstack, true);
    }
    // Static addresses: those configured, no others.
    IpConfig current = GetIpConfig();
    std::vector<Ipv6Network> want;
    for (const Ipv6Network& n : ip.GetIpv6Network())
        if (IsStaticV6(n)) want.push_back(n);
    auto same = [](const Ipv6Network& a, const Ipv6Network& b) {
        return a.GetAddress().GetStringAddress() == b.GetAddress().GetStringAddress();
    };
    for (const Ipv6Network& have : current.GetIpv6Network())
        if (std::none_of(want.begin(), want.end(), [&](const Ipv6Network& w) { return same(w, have); }))
            KernelSet(KSI_NODE_net_tcpip_instances_vNics_v6_addresses,
                      {"del", have.GetAddress().GetStringAddress(), std::to_string(have.GetNetmask())},
                      "Unable to remove IPv6 address " + have.GetStringAddress() + " from tarnnic " + _name);
    for (const Ipv6Network& w : want) {
        auto cur = current.GetIpv6Network();
        if (std::any_of(cur.begin(), cur.end(), [&](const Ipv6Network& h) { return same(w, h); })) continue;
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_v6_addresses,
                  {"add", w.GetAddress().GetStringAddress(), std::to_string(w.GetNetmask())},
                  "Unable to add IPv6 address " + w.GetStringAddress() + " to tarnnic " + _name);
    }
    if (!ip.GetIpv6Gateway().IsAllzeroAddress())
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_v6_ip6gateway, {ip.GetIpv6Gateway().GetStringAddress()},
                  "Unable to set IPv6 gateway on tarnnic " + _name);
    TarnCtl_LogInfoInt("%s: IPv6 address set up successfully on tarnnic %s\n", kTag, _name.c_str());
}

void TarnNicImpl::SetIpConfig(const IpConfig& config) {
    if (!config.GetUseDhcp() && !config.GetIpv4UseNone()) {
        // A static address is one a host can own: not 0, loopback or multicast.
        const Ipv4Address& a = config.GetIpv4Address();
        if (a.IsAllzeroAddress() || a.IsLoopbackAddress() || a.IsValidMulticastAddress())
            throw HostCtlException("Invalid IPv4 address " + a.GetStringAddress());
        if (!config.GetIpv4Netmask().IsValidNetmask() || config.GetIpv4Netmask().IsAllzeroAddress())
            throw HostCtlException("Invalid IPv4 netmask " + config.GetIpv4Netmask().GetStringAddress());
    }
    if (config.GetUseIpv6() && !KernelIpv6Enabled(NetstackKey(_netstack)) && config.GetUseIpv6Dhcp())
        throw HostCtlException("Cannot start DHCPv6 client when IPv6 is not enabled");
    if (IsPlumbed()) SetIpConfigInternal(config);
    Record([&](ConfigBranchUtil& e) { RecordIpConfig(e, config); });
}

void TarnNicImpl::RenewDHCPLease() {
    if (!IsPlumbed()) throw HostCtlException("Unable to renew the DHCP lease of tarnnic " + _name + ": not enabled");
    int pid = Dhclient::RunningPid(_name, false);
    if (!pid) throw HostCtlException("No DHCP client runs for tarnnic " + _name);
    Platform::Exec::Kill(pid, SIGUSR2);
}

void TarnNicImpl::RenewDHCPv6Lease() {
    if (!IsPlumbed()) throw HostCtlException("Unable to renew the DHCPv6 lease of tarnnic " + _name + ": not enabled");
    int pid = Dhclient::RunningPid(_name, true);
    if (!pid) throw HostCtlException("No DHCPv6 client runs for tarnnic " + _name);
    Platform::Exec::Kill(pid, SIGUSR2);
}

void TarnNicImpl::SetDhcpDns(bool on) {
    IpConfig ip = GetConfiguredIpConfig();
    ip.SetDhcpDns(on);
    if (IsPlumbed() && ip.GetUseDhcp()) Dhclient::WriteConfig(_name, false, "", on);
    Record([&](ConfigBranchUtil& e) { e.SetValue("dhcpDns", on); });
}

void TarnNicImpl::SetIpv6DhcpDns(bool on) {
    if (IsPlumbed() && GetConfiguredIpConfig().GetUseIpv6Dhcp()) Dhclient::WriteConfig(_name, true, "", on);
    Record([&](ConfigBranchUtil& e) { e.SetValue("dhcpDns6", on); });
}

// ---- MTU, MAC, flags -------------------------------------------------------------------------

void TarnNicImpl::SetMtu(uint32_t mtu) {
    if (mtu < MIN_MTU || mtu > MAX_MTU)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Unable to set MTU.  Valid MTU values are %u-%u", MIN_MTU,
                                                        MAX_MTU));
    if (IsPlumbed())
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_properties, {"mtu=" + std::to_string(mtu)},
                  "Unable to set MTU of tarnnic " + _name);
    Record([&](ConfigBranchUtil& e) { e.SetValue("mtu", mtu); });
}

void TarnNicImpl::UnsetMtu() {
    if (IsPlumbed())
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_properties, {"mtu=" + std::to_string(DEFAULT_MTU)},
                  "Unable to set MTU of tarnnic " + _name);
    Record([&](ConfigBranchUtil& e) { e.Remove("mtu"); });
}

void TarnNicImpl::SetMacAddress(const MacAddress& mac) {
    if (!mac.IsValid()) throw HostCtlException("Invalid MAC address " + mac.GetStringAddress());
    if (IsPlumbed())
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_properties, {"macaddr=" + mac.GetStringAddress()},
                  "Unable to set MAC address of tarnnic " + _name);
    Record([&](ConfigBranchUtil& e) {
        e.SetValue("macMode", std::string("USER_DEFINED"));
        e.SetValue("macFromUser", mac.GetStringAddress());
        e.SetValue("mac", mac.GetStringAddress());
    });
}

void TarnNicImpl::SetMacAddressFromPnic(Pnic* pnic) {
    if (!pnic) throw HostCtlException("Invalid Pnic.");
    MacAddress mac = pnic->GetMacAddress();
    if (IsPlumbed())
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_properties, {"macaddr=" + mac.GetStringAddress()},
                  "Unable to set MAC address of tarnnic " + _name);
    Record([&](ConfigBranchUtil& e) {
        e.SetValue("macMode", std::string("PNIC_BASED"));
        e.SetValue("nic", pnic->GetName());
        e.SetValue("mac", mac.GetStringAddress());
    });
}

void TarnNicImpl::SetMacAddressAutoGenerate() {
    MacAddress mac = MacAddressGenerator::GetSingleton().GenerateTarnNicMacAddr(GetMacGenStr());
    if (IsPlumbed())
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_properties, {"macaddr=" + mac.GetStringAddress()},
                  "Unable to set MAC address of tarnnic " + _name);
    Record([&](ConfigBranchUtil& e) {
        e.SetValue("macMode", std::string("AUTO_GENERATED"));
        e.SetValue("mac", mac.GetStringAddress());
        e.Remove("macFromUser");
        e.Remove("nic");
    });
}

void TarnNicImpl::SetSystemOwned(bool on) {
    Record([&](ConfigBranchUtil& e) { e.SetValue("systemOwned", on); });
}

void TarnNicImpl::SetTarnNicType(TarnNicType type) {
    if (type != TARNNIC_TYPE_GENERIC && type != TARNNIC_TYPE_ISCSI)
        throw HostCtlException("Invalid tarnnic type " + std::to_string(static_cast<unsigned>(type)));
    Record([&](ConfigBranchUtil& e) {
        e.SetValue("type", std::string(type == TARNNIC_TYPE_ISCSI ? "TARNNIC_TYPE_ISCSI" : "TARNNIC_TYPE_GENERIC"));
    });
}

// ---- Netstack and connection point -----------------------------------------------------------

void TarnNicImpl::SetNetstackInstanceKey(const std::string& key) {
    if (IsPlumbed()) throw HostCtlException("Cannot change netstack key while tarnnic is enabled");
    const std::string newKey = NetstackKey(key);
    {
        KsiTcpipInstanceProps p{};
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_properties);
        si.SetThrowOnError(false);
        si.SetInstance(newKey);
        if (si.Get(&p, sizeof p) != TARN_OK) throw HostCtlException("Netstack instance " + key + " is not valid.");
    }
    if (TarnNicConfigExists(_cp, newKey)) throw HostCtlException("A tarnos nic for the connection point already exists.");
    const std::string old = _netstack;
    Record([&](ConfigBranchUtil& e) { e.SetValue("netstackInstance", newKey); });
    _netstack = newKey;
    TarnCtl_LogInfoInt("%s: Updated netstack for tarnnic: %s to %s\n", kTag, _name.c_str(), newKey.c_str());
    (void)old;
}

void TarnNicImpl::SetConnectionPoint(const ConnectionPoint& cp, bool rollback) {
    if (cp.GetType() == ConnectionPoint::NONE) throw HostCtlException("Invalid ConnectionPoint.");
    if (TarnNicExists(cp, _netstack)) throw HostCtlException("A tarnos nic for the connection point already exists.");
    RefreshIfStale();
    const ConnectionPoint old = _cp;
    bool wasPlumbed = IsPlumbed();
    auto rewrite = [&](const ConnectionPoint& to) {
        if (IsBootMode()) return;
        SynchronizedConfigFileUtil config({kTarnnicsRoot});
        ConfigBranchUtil entry = config->GetArray(kConfigArray).FindInstanceWithValue("name", _name);
        if (!entry) throw HostCtlException("Unable to find tarnnic " + _name);
        for (const char* k : {"portgroup", "dvsId", "dvpId", "connectionId", "opaqueNetworkId", "opaqueNetworkType",
                              "externalId"})
            entry.Remove(k);
        for (const auto& kv : ConnectionKeys(to, _netstack)) entry.SetValue(kv.first, kv.second);
        if (to.GetType() == ConnectionPoint::VDS && !to.GetConnectionId().empty())
            entry.SetValue("connectionId", to.GetConnectionId());
        entry.SetValue("PortConnectionType", std::string(ConnectionPoint::TypeName(to.GetType())));
        config->Write();
    };
    try {
        if (wasPlumbed) {
            StopDhcpClients(true, true);
            Unplumb();
        }
        rewrite(cp);
        _cp = cp;
        if (wasPlumbed) Enable();
    } catch (const HostCtlException& e) {
        std::string message = "Updating ConnectionPoint failed: " + std::string(e.what());
        if (!rollback) throw HostCtlException(message);
        try {
            _cp = old;
            rewrite(old);
            if (wasPlumbed) Enable();
            throw HostCtlException(message + " Rollback successful, previous settings restored.");
        } catch (const HostCtlException& again) {
            if (std::string(again.what()).find("Rollback successful") != std::string::npos) throw;
            throw HostCtlException(message + " Also unable to rollback ConnectionPoint for the Nic.");
        }
    }
}

void TarnNicImpl::SetPortGroup(const std::string& name) {
    if (!PortGroupImpl::IsValidPortGroup(name)) throw HostCtlException("Invalid portgroup " + name);
    SetConnectionPoint(ConnectionPoint::PortGroup(name), true);
}

// ---- Tags -------------------------------------------------------------------------------------

void TarnNicImpl::SetTagInKernel(TarnNicTagType tag, bool add) {
    try {
        KernelSet(KSI_NODE_net_tcpip_instances_vNics_tags, {add ? "ADD" : "DEL", std::to_string(static_cast<int>(tag))},
                  "Unable to change tags of tarnnic " + _name);
    } catch (const HostCtlException& e) {
        throw HostCtlException("Validation for tag " + TarnNicTagIdToName(tag) + " failed with error: " + e.what());
    }
}

void TarnNicImpl::AddTag(TarnNicTagType tag, bool notify) {
    const TarnNicTagRow* row = FindTag(tag);
    if (!row) throw HostCtlException("Invalid tag " + std::to_string(static_cast<int>(tag)));
    RefreshIfStale();
    if (IsPlumbed()) SetTagInKernel(tag, true);
    Record([&](ConfigBranchUtil& e) { e.SetValue(std::string("tags/") + row->name, true); });
    if (!IsBootMode() && notify) ProcessTagChanges(tag, _name, true);
}

void TarnNicImpl::AddTag(const std::string& tagName, bool notify) { AddTag(TarnNicTagNameToId(tagName), notify); }

void TarnNicImpl::RemoveTag(TarnNicTagType tag) {
    const TarnNicTagRow* row = FindTag(tag);
    if (!row) throw HostCtlException("Invalid tagId " + std::to_string(static_cast<int>(tag)));
    RefreshIfStale();
    if (IsPlumbed()) SetTagInKernel(tag, false);
    Record([&](ConfigBranchUtil& e) { e.Remove(std::string("tags/") + row->name); });
    if (!IsBootMode()) ProcessTagChanges(tag, _name, false);
}

void TarnNicImpl::ProcessTagChanges(TarnNicTagType tag, const std::string& nicName, bool set) {
    const TarnNicTagRow* row = FindTag(tag);
    if (!row) return;
    try {
        if (*row->advOption) {
            std::vector<std::string> names;
            SynchronizedConfigFileUtil config({kTarnnicsRoot});
            for (ConfigBranchUtil& e : config->GetArray(kConfigArray).GetInstances()) {
                bool on = false;
                std::string name;
                if (e.GetValue(std::string("tags/") + row->name, &on) && on && e.GetValue("name", &name))
                    names.push_back(name);
            }
            std::string list;
            for (const std::string& n : names) list += (list.empty() ? "" : ",") + n;
            if (GetAdvString(row->advBranch, row->advOption) != list) SetAdvString(row->advBranch, row->advOption, list);
        }
        for (auto fn : TarnNicHooks::_reconfigTagCallbacks) fn(nicName, tag, set);
        if (tag == TarnNicTagType::Management && set) {
            TarnCtl_LogInfoInt("%s: ProcessTagChanges: Refreshing HCUI after adding management tarnnic\n", kTag);
            if (!Platform::Exec::FindProcesses("hcui").empty()) Platform::Exec::SignalProcess("hcui", SIGUSR1);
        }
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: ProcessTagChanges: %s\n", kTag,
                            ("Failed to send tag change notification: " + std::string(e.what())).c_str());
    }
}

// ---- Removal ----------------------------------------------------------------------------------

void TarnNicImpl::Destroy() {
    Refresh();
    if (_name.empty() && !TarnNicExists(_cp, _netstack)) {
        if (_cp.GetType() == ConnectionPoint::VSS_PORT_GROUP)
            throw HostCtlException("There is no Tarnos TCP/IP interface on the portgroup " + _cp.GetPortGroupName() +
                                   " on netstack instance " + _netstack);
        throw HostCtlException("There is no Tarnos TCP/IP interface on the connection point on netstack instance " +
                               _netstack);
    }
    if (IsNetDumpInterface())
        throw HostCtlException("Cannot delete this interface, it is currently being used for Network Dump. Please "
                               "disable network dump before deleting.");
    try {
        for (auto fn : TarnNicHooks::_destroyCallbacks) fn(_name);
        std::vector<TarnNicTagType> tags = GetTags();
        if (IsPlumbed()) {
            StopDhcpClients(true, true);
            Unplumb();
        }
        if (!IsBootMode()) {
            SynchronizedConfigFileUtil config({kTarnnicsRoot});
            config->GetArray(kConfigArray).RemoveInstance("name", _name);
            config->Write();
        }
        for (TarnNicTagType t : tags) ProcessTagChanges(t, _name, false);
        bool last = false;
        {
            SynchronizedConfigFileUtil config({kTarnnicsRoot});
            last = config->GetArray(kConfigArray).GetInstances().empty();
        }
        if (last && !IsBootMode()) {
            TarnCtl_LogInfoInt("%s: Deleting last tarnnic: Setting advIface to NULL\n", kTag);
            try {
                SetAdvString("Net", "ManagementIface", "");
            } catch (const HostCtlException& e) {
                throw HostCtlException("Failed to set ManagementIface to NULL before deleting last tarnnic:" +
                                       std::string(e.what()));
            }
        }
        try {
            RoutingInfoImpl(_netstack).LoadConfig();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Exception when load routing info: %s\n", kTag, e.what());
        }
        for (bool v6 : {false, true}) {
            std::string path = Dhclient::LeaseFile(_name, v6);
            if (HostCtl::Misc::HostFileExists(path)) std::remove(Platform::HostPath(path).c_str());
        }
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Destroy: %s\n", kTag, e.what());
        throw;
    }
    TarnCtl_LogInfoInt("%s: Removed tarnNic, netstack:'%s', port group:'%s'\n", kTag, _netstack.c_str(),
                       GetPortGroupName().c_str());
}

// ---- Boot -------------------------------------------------------------------------------------

void TarnNicImpl::LoadConfig() {
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    entry.GetValue("name", &_name);
    _stale = false;
    std::string key;
    if (entry.GetValue("netstackInstance", &key) && key != _netstack) {
        TarnCtl_LogWarnInt("%s: Inconsistency in Netstack instance in object: %s and configruation: %s, choosing "
                           "configuration value\n",
                           kTag, _netstack.c_str(), key.c_str());
        _netstack = key;
    }
    bool enable = EntryValue<bool>(entry, "enable", false);
    std::string nic;
    if (EntryValue<std::string>(entry, "macMode", "") == "PNIC_BASED" && entry.GetValue("nic", &nic)) {
        try {
            if (GetAdvInt("Net", "FollowHardwareMac") == 1) {
                auto pnic = NetworkInfoImpl().GetPnicByName(nic, true);
                if (pnic) _bootMac = pnic->GetMacAddress().GetStringAddress();
            }
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to follow the MAC of %s: %s\n", kTag, nic.c_str(), e.what());
        }
    }
    if (enable) Enable();
    // The tags restored by Enable come from the entry; the advanced-option lists only follow them.
    if (HasTag(TarnNicTagType::VelMove))
        TarnCtl_LogVerboseInt("%s: Skip setting velmove tag from adv during load tarnnic\n", kTag);
    if (HasTag(TarnNicTagType::FaultToleranceLogging))
        TarnCtl_LogVerboseInt("%s: Skip setting FT tag from adv during load tarnnic\n", kTag);
    TarnCtl_LogInfoInt("%s: Restore tagging information in tarnos for interface: %s\n", kTag, _name.c_str());
}

}  // namespace TarnCtl::Network

namespace HostCtl::Network {
std::string TarnNicTagName(TarnNicTagType tag) { return TarnCtl::Network::TarnNicTagIdToName(tag); }
TarnNicTagType TarnNicTagFromName(const std::string& name) { return TarnCtl::Network::TarnNicTagNameToId(name); }
}  // namespace HostCtl::Network
