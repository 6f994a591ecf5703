// The network object: name validation, the accessors of the domain's areas,
// physical NIC listings, the host-wide settings (number of switches, IPv6 of
// the kernel's stack) and netstack lookup, listing, adding and removal.
// Areas that are not built on this host answer "<operation> is not available yet".
#include "network/network_info_impl.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "hostctl/exception.h"
#include "ksi/network.h"
#include "network/dns_config_impl.h"
#include "network/netstack_instance_impl.h"
#include "network/network_util.h"
#include "network/pnic_impl.h"
#include "network/portgroup_impl.h"
#include "network/routing_info_impl.h"
#include "network/tarnnic_info_impl.h"
#include "network/vswitch_impl.h"
#include "network/vswitch_info_impl.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using ConfigStoreUtil::ConfigBranchUtil;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HostCtl::Lib::HostCtlException;

bool NetworkInfoImpl::IsNetworkObjectNameValid(const std::string& name, bool throwOnError) {
    if (name.find_first_of(NetworkNameBlacklistChar) == std::string::npos) return true;
    if (throwOnError)
        throw HostCtlException("Invalid characters in specified  value: '" + name +
                               "'; Cannot contain any of these characters '" + NetworkNameBlacklistChar + "'");
    return false;
}

void NetworkInfoImpl::Refresh() {
    _refreshPending = false;
    uint32_t max = 0;
    Util::Sysinfo si(KSI_NODE_net_maxPortsets);
    si.Get(&max, sizeof max);
    _maxPortsets = max;
    _configuredMaxPortsets = GetBootOptionNetNumPortsets();
    if (_configuredMaxPortsets == 0) _configuredMaxPortsets = _maxPortsets;
}

void NetworkInfoImpl::RefreshIfPending() {
    if (_refreshPending) Refresh();
}

void NetworkInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Network Info");
    printer->BeginObject();
    printer->Print("Name", std::string("network"));
    printer->Print("Max Virtual Switches", static_cast<uint32_t>(GetMaxVirtualSwitches()));
    printer->Print("IPv6 Enabled", IsTarnIpv6Enabled());
    printer->Print("Physical NICs", static_cast<uint32_t>(GetPnicNameList(PnicGetType::Present).size()));
    printer->EndObject();
}

// ---- Areas of the domain ---------------------------------------------------------------

std::unique_ptr<RoutingInfo> NetworkInfoImpl::GetRoutingInfo(const std::string& netstackKey) {
    IsNetworkObjectNameValid(netstackKey, true);
    return std::make_unique<RoutingInfoImpl>(netstackKey);
}

std::unique_ptr<DnsConfig> NetworkInfoImpl::GetDnsConfig(const std::string& netstackKey) {
    IsNetworkObjectNameValid(netstackKey, true);
    return std::make_unique<DnsConfigImpl>(netstackKey);
}

std::unique_ptr<IpSecConfig> NetworkInfoImpl::GetIpSecConfig() { ThrowNotAvailable("IPsec configuration"); }

std::unique_ptr<VirtualSwitchInfo> NetworkInfoImpl::GetVirtualSwitchInfo() {
    return std::make_unique<VirtualSwitchInfoImpl>();
}

std::unique_ptr<TarnosNicInfo> NetworkInfoImpl::GetTarnosNicInfo() { return std::make_unique<TarnosNicInfoImpl>(); }

std::vector<std::string> NetworkInfoImpl::GetAllPortGroupNames(PortsetGetType type) {
    if (!(type & PORTSET_GET_VSS)) return {};
    return PortGroupImpl::ListAll();
}

std::vector<std::unique_ptr<PortGroup>> NetworkInfoImpl::GetAllPortGroups(PortsetGetType type) {
    std::vector<std::unique_ptr<PortGroup>> out;
    for (const std::string& name : GetAllPortGroupNames(type))
        out.push_back(std::make_unique<PortGroupImpl>(name, PortGroupImpl::PortsetOf(name)));
    return out;
}

std::string NetworkInfoImpl::GetFirstPnicFromPortGroupName(const std::string& portGroup) {
    const std::string vswitch = PortGroupImpl::PortsetOf(portGroup);
    if (vswitch.empty()) throw HostCtlException("Unable to find portgroup " + portGroup);
    VirtualSwitchImpl sw(vswitch);
    std::vector<std::string> linked = sw.GetUplinks(false);
    // The kernel's teaming order of the port group is the one traffic takes;
    // a name in it that is no longer linked carries nothing.
    PortGroupImpl pg(portGroup, vswitch);
    for (const std::string& nic : pg.GetKernelUplinkOrder())
        if (std::find(linked.begin(), linked.end(), nic) != linked.end()) return nic;
    return linked.empty() ? "" : linked.front();
}

std::vector<std::string> NetworkInfoImpl::GetAllPorts() {
    std::vector<std::string> out;
    for (const std::string& ps : PortsetImpl::ListPortsets()) {
        if (!VirtualSwitchImpl::IsStandardSwitch(ps)) continue;
        for (uint32_t id : VirtualSwitchImpl(ps).GetPortList()) out.push_back(std::to_string(id));
    }
    return out;
}

// ---- Not specified on this host ------------------------------------------------------------

std::vector<std::string> NetworkInfoImpl::GetDVFilterFastPaths() { ThrowNotAvailable("Filter fast paths"); }
void NetworkInfoImpl::SendWakeOnLAN(const std::string& interface, const MacAddress& target) {
    ThrowNotAvailable("Sending a wake-on-LAN frame");
}
std::vector<NetstackConnection> NetworkInfoImpl::GetCurrentIpTarnosConnections(const std::string& key) {
    ThrowNotAvailable("Listing connections");
}
std::vector<NetstackConnection> NetworkInfoImpl::GetCurrentTcpTarnosConnections(const std::string& key) {
    ThrowNotAvailable("Listing connections");
}
std::vector<NetstackConnection> NetworkInfoImpl::GetCurrentUdpTarnosConnections(const std::string& key) {
    ThrowNotAvailable("Listing connections");
}
std::vector<SriovNicInfo> NetworkInfoImpl::GetAllSriovInfo() { ThrowNotAvailable("SR-IOV information"); }
std::vector<std::string> NetworkInfoImpl::GetSriovNics() { ThrowNotAvailable("SR-IOV information"); }
std::vector<SriovVfInfo> NetworkInfoImpl::GetSriovNicVFInfo(const std::string& name) {
    ThrowNotAvailable("SR-IOV information");
}
std::map<std::string, uint64_t> NetworkInfoImpl::GetSriovNicVFStats(const std::string& name, uint32_t vfId) {
    ThrowNotAvailable("SR-IOV information");
}
NetDumperParams NetworkInfoImpl::GetNetDumperParams() { ThrowNotAvailable("The network dump client"); }
Ipv4Address NetworkInfoImpl::GetNetDumpServerIpv4() { ThrowNotAvailable("The network dump client"); }
void NetworkInfoImpl::SetNetDumperParams(const std::string&, const Ipv4Address&, uint16_t) {
    ThrowNotAvailable("The network dump client");
}
void NetworkInfoImpl::SetNetDumperParams(const std::string&, const Ipv6Address&, uint16_t) {
    ThrowNotAvailable("The network dump client");
}
void NetworkInfoImpl::EnableNetDumper() { ThrowNotAvailable("The network dump client"); }
void NetworkInfoImpl::DisableNetDumper() { ThrowNotAvailable("The network dump client"); }
bool NetworkInfoImpl::GetNetDumperEnabled() { ThrowNotAvailable("The network dump client"); }
std::string NetworkInfoImpl::RunNetDumperCheck() { ThrowNotAvailable("The network dump client"); }
bool NetworkInfoImpl::IsNetDumperRestorable() { ThrowNotAvailable("The network dump client"); }
void NetworkInfoImpl::RestoreNetDumper() { ThrowNotAvailable("The network dump client"); }
std::string NetworkInfoImpl::GetFerroTransportNodeId() { ThrowNotAvailable("The transport-node identity"); }
void NetworkInfoImpl::SetFerroTransportNodeId(const std::string&) { ThrowNotAvailable("The transport-node identity"); }
uint32_t NetworkInfoImpl::GetMaxLcores() { ThrowNotAvailable("Packet-processing cores"); }
void NetworkInfoImpl::SetMaxLcores(uint32_t) { ThrowNotAvailable("Packet-processing cores"); }
std::vector<uint32_t> NetworkInfoImpl::GetLcoreList() { ThrowNotAvailable("Packet-processing cores"); }
void NetworkInfoImpl::AddLcore(uint32_t) { ThrowNotAvailable("Packet-processing cores"); }
void NetworkInfoImpl::RemoveLcore(uint32_t) { ThrowNotAvailable("Packet-processing cores"); }
std::string NetworkInfoImpl::GetLcoreSwitch(uint32_t) { ThrowNotAvailable("Packet-processing cores"); }
std::string NetworkInfoImpl::GetLcoreAffinity(uint32_t) { ThrowNotAvailable("Packet-processing cores"); }
void NetworkInfoImpl::AddLcoreSwitch(uint32_t, const std::string&) { ThrowNotAvailable("Packet-processing cores"); }
void NetworkInfoImpl::SetLcoreAffinity(uint32_t, const std::string&) { ThrowNotAvailable("Packet-processing cores"); }
void NetworkInfoImpl::RestoreRfc7217SecretKey() { ThrowNotAvailable("Restoring the address-generation secret"); }

// ---- Physical NICs ----------------------------------------------------------------------

std::vector<std::string> NetworkInfoImpl::GetPnicNameList(PnicGetType type) {
    Util::Sysinfo si(type == PnicGetType::All ? KSI_NODE_net_pNicsAll : KSI_NODE_net_pNics);
    std::vector<std::string> names;
    si.List(names);
    return names;
}

std::vector<std::unique_ptr<Pnic>> NetworkInfoImpl::GetPnics(PnicGetType type) {
    std::vector<std::unique_ptr<Pnic>> out;
    for (const std::string& name : GetPnicNameList(type)) out.push_back(std::make_unique<PnicImpl>(name));
    return out;
}

std::unique_ptr<Pnic> NetworkInfoImpl::GetPnicByName(const std::string& name, bool all) {
    Util::Sysinfo si(all ? KSI_NODE_net_pNicsAll : KSI_NODE_net_pNics);
    if (!si.IsValidInstance(name)) return nullptr;
    return std::make_unique<PnicImpl>(name);
}

std::vector<std::string> NetworkInfoImpl::GetFcoeCapablePnics() {
    std::vector<std::string> out;
    for (const std::string& name : GetPnicNameList(PnicGetType::Present))
        if (PnicImpl(name).ReadProperties().flags & KSI_PNIC_FCOE) out.push_back(name);
    return out;
}

bool NetworkInfoImpl::IsPnicBmcNic(const std::string& name) { return PnicImpl(name).IsBMCNic(); }

NicCapabilities NetworkInfoImpl::GetSystemCapabilities() {
    // What every present NIC can do: a capability counts for the host only when all have it.
    uint64_t known = 0;
    for (const auto& c : NicCapabilities::Capabilities()) known |= c.bit;
    uint64_t common = known;
    for (const std::string& name : GetPnicNameList(PnicGetType::Present))
        common &= PnicImpl(name).ReadProperties().hwCapabilities;
    return NicCapabilities(common, known);
}

void NetworkInfoImpl::RestorePnics() {
    for (const std::string& name : GetPnicNameList(PnicGetType::Present)) {
        try {
            PnicImpl nic(name);
            // Every present NIC is recorded with its MAC, so that a later rename can be traced.
            nic.CreateConfigStoreObject();
            nic.LoadConfig();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Failed to restore pnic %s: %s\n", "NetworkInfoImpl", name.c_str(),
                               e.GetDetailedMessage().c_str());
        }
    }
}

// ---- Host-wide settings ----------------------------------------------------------------------

unsigned int NetworkInfoImpl::GetMaxVirtualSwitches() {
    RefreshIfPending();
    return _maxPortsets;
}

unsigned int NetworkInfoImpl::GetConfiguredMaxVirtualSwitches() {
    RefreshIfPending();
    return _configuredMaxPortsets;
}

void NetworkInfoImpl::SetConfiguredMaxVirtualSwitches(unsigned int n) {
    if (n == 0) throw HostCtlException("Invalid number of virtual switches: 0");
    if (!IsBootMode()) SetBootOptionNetNumPortsets(n);
    _configuredMaxPortsets = n;
}

bool NetworkInfoImpl::IsTarnIpv6Enabled() {
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_v6conf);
    si.SetThrowOnError(false);
    si.SetInstance(kDefaultNetstack);
    uint8_t on = 0;
    return si.Get(&on, sizeof on) == TARN_OK && on != 0;
}

bool NetworkInfoImpl::GetTarnIpv6Enabled() { return GetTcpip4Ipv6Option(); }

void NetworkInfoImpl::SetTarnIpv6Enabled(bool on) {
    if (!on && HostHasDpu()) throw HostCtlException("Disabling IPv6 is not allowed on a host that has a DPU.");
    if (!IsBootMode()) SetTcpip4Ipv6Option(on);
}

bool NetworkInfoImpl::IsTarnIpv6GlobalRouterAdvEnabled(const std::string& key) {
    if (!IsTarnIpv6Enabled()) throw HostCtlException("Ipv6 not Enabled");
    uint8_t on = 0;
    KernelStep("Unable to read router advertisement state of netstack instance " + key, [&] {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_v6_rtadv);
        si.SetInstance(key);
        si.Get(&on, sizeof on);
    });
    return on != 0;
}

void NetworkInfoImpl::SetTarnIpv6GlobalRouterAdvEnabled(bool on, const std::string& key) {
    if (!IsTarnIpv6Enabled()) throw HostCtlException("Ipv6 not Enabled");
    KernelStep("Unable to set router advertisement state of netstack instance " + key, [&] {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances_v6_rtadv);
        si.SetInstance(key);
        si.AddInput(on ? 1 : 0);
        si.Set();
    });
}

// ---- Netstacks ---------------------------------------------------------------------------------

std::vector<std::string> NetworkInfoImpl::GetNetstackInstancePreDefinedKeys() {
    return {"velmove", "CorvaneProvisioning", "mirror", "ops"};
}
unsigned int NetworkInfoImpl::GetNetstackInstanceMaxConnectionsDefault() {
    return NetstackInstanceImpl::kDefaultMaxConnections;
}
bool NetworkInfoImpl::GetNetstackInstanceIpv6EnabledDefault() { return true; }
std::string NetworkInfoImpl::GetNetstackInstanceCongestionAlgoDefault() {
    return NetstackInstanceImpl::kDefaultCongestionAlgo;
}

std::unique_ptr<NetstackInstance> NetworkInfoImpl::GetNetstackInstanceByKey(const std::string& key) {
    return std::make_unique<NetstackInstanceImpl>(key);
}

std::unique_ptr<NetstackInstance> NetworkInfoImpl::GetDefaultNetstackInstance() {
    return GetNetstackInstanceByKey(kDefaultNetstack);
}

std::unique_ptr<NetstackInstance> NetworkInfoImpl::GetNetstackInstanceRTByKey(const std::string& key) {
    return BuildRunning(key);
}

std::unique_ptr<NetstackInstanceImpl> NetworkInfoImpl::BuildRunning(const std::string& key) {
    KsiTcpipInstanceProps props{};
    if (!NetstackInstanceImpl::ReadKernelProperties(key, &props)) return nullptr;
    auto ns = std::make_unique<NetstackInstanceImpl>(key);
    KsiTcpipText ecn{};
    Util::Sysinfo si(KSI_NODE_net_tcpip_instances_ecn);
    si.SetThrowOnError(false);
    si.SetInstance(key);
    std::string ecnText = NetstackInstanceImpl::kDefaultEcnStatus;
    if (si.Get(&ecn, sizeof ecn) == TARN_OK) ecnText = std::string(ecn.text, strnlen(ecn.text, sizeof ecn.text));
    ns->SetFields(key, props.socketMax, std::string(props.ccAlgo, strnlen(props.ccAlgo, sizeof props.ccAlgo)),
                  props.ipv6Enabled != 0, ecnText);
    ns->SetState(NETSTACK_RUNNING);
    return ns;
}

std::unique_ptr<NetstackInstanceImpl> NetworkInfoImpl::BuildNetstack(const std::string& key, const char* component) {
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    ConfigBranchUtil entry = config->GetArray(NetstackInstanceImpl::kConfigArray).FindInstanceWithValue("key", key);
    KsiTcpipInstanceProps props{};
    bool running = NetstackInstanceImpl::ReadKernelProperties(key, &props);
    if (!entry) {
        if (!running) return nullptr;
        // Running but not configured: the default netstack before its first configuration.
        return BuildRunning(key);
    }
    bool enabled = false;
    entry.GetValue("enable", &enabled);
    if (!enabled && running) throw HostCtlException("Inconsistent state of Netstack instance, is not enabled in config: " + key);
    if (enabled && !running && !IsBootMode()) {
        entry.SetValue("enable", false);
        config->Write();
        TarnCtl_LogWarnInt("%s: Updated netstack state in config to disabled: %s, since it does not exist in kernel\n",
                           component, key.c_str());
    }
    std::unique_ptr<NetstackInstanceImpl> ns(new (std::nothrow) NetstackInstanceImpl(key));
    if (!ns) throw HostCtlException("Cannot allocate NetstackInstance object");
    std::string name = key, algo = NetstackInstanceImpl::kDefaultCongestionAlgo,
                ecn = NetstackInstanceImpl::kDefaultEcnStatus;
    unsigned int maxConnections = NetstackInstanceImpl::kDefaultMaxConnections;
    bool ipv6 = true;
    entry.GetValue("name", &name);
    entry.GetValue("maxConnections", &maxConnections);
    entry.GetValue("congestionAlgo", &algo);
    entry.GetValue("ipv6Enabled", &ipv6);
    entry.GetValue("ecnStatus", &ecn);
    ns->SetFields(name, maxConnections, algo, ipv6, ecn);
    ns->SetState(running ? NETSTACK_RUNNING : NETSTACK_CONFIGURED);
    return ns;
}

std::unique_ptr<NetstackInstance> NetworkInfoImpl::LookupNetstackInstanceByKey(const std::string& key) {
    return BuildNetstack(key, "NetworkInfoImpl::LookupNetstackInstanceByKey");
}

uint32_t NetworkInfoImpl::GetNetstackInstanceState(const std::string& key) {
    auto ns = LookupNetstackInstanceByKey(key);
    return ns ? ns->GetState() : static_cast<uint32_t>(NETSTACK_ABSENT);
}

std::vector<std::unique_ptr<NetstackInstance>> NetworkInfoImpl::ListNetstackInstances() {
    std::vector<std::string> keys;
    {
        Util::Sysinfo si(KSI_NODE_net_tcpip_instances);
        si.List(keys);
    }
    {
        SynchronizedConfigFileUtil config({kNetstacksRoot});
        for (auto& entry : config->GetArray(NetstackInstanceImpl::kConfigArray).GetInstances()) {
            std::string key;
            if (entry.GetValue("key", &key) && std::find(keys.begin(), keys.end(), key) == keys.end())
                keys.push_back(key);
        }
    }
    std::vector<std::unique_ptr<NetstackInstance>> out;
    for (const std::string& key : keys)
        if (auto ns = BuildNetstack(key, "NetworkInfoImpl::ListNetstackInstances")) out.push_back(std::move(ns));
    return out;
}

void NetworkInfoImpl::AddNetstackInstance(NetstackInstance* ns, bool createOnly) {
    if (!ns) throw HostCtlException("Netstack instance invalid input");
    const std::string key = ns->GetKey();
    uint32_t state = GetNetstackInstanceState(key);
    if (state == NETSTACK_ABSENT) {
        try {
            ns->Create();
            if (!createOnly) ns->Enable();
        } catch (...) {
            try {
                ns->Destroy(false);
            } catch (const HostCtlException& e) {
                TarnCtl_LogWarnInt("%s: Unable to clean up netstack instance %s: %s\n", "NetworkInfoImpl",
                                   key.c_str(), e.GetDetailedMessage().c_str());
            }
            throw;
        }
        return;
    }
    if (state == NETSTACK_CONFIGURED && !createOnly) {
        ns->Enable();
        return;
    }
    throw HostCtlException("Netstack instance '" + key + "' is already found " +
                           (state == NETSTACK_CONFIGURED ? "in config" : "in kernel"));
}

void NetworkInfoImpl::RemoveNetstackInstance(const std::string& key, bool force) {
    TarnCtl_LogInfoInt("%s: Removing netstack instance %s\n", "NetworkInfoImpl", key.c_str());
    std::vector<std::string> nics;
    try {
        nics = NetstackInstanceImpl::KernelNicNames(key);
    } catch (const HostCtlException& e) {
        throw HostCtlException(std::string("Failed to get list of Tarnos adapters on the netstack instance; ") +
                               e.what());
    }
    if (!nics.empty()) {
        std::string names;
        for (const std::string& n : nics) names += (names.empty() ? "" : ", ") + n;
        throw HostCtlException("Cannot remove netstack instance '" + key + "' when Tarnos adapters:" + names +
                               " exist");
    }
    auto ns = LookupNetstackInstanceByKey(key);
    if (!ns) throw HostCtlException("Netstack instance '" + key + "' is not found");
    try {
        if (ns->GetState() == NETSTACK_RUNNING) ns->Disable();
        ns->Destroy(true);
    } catch (const HostCtlException& e) {
        throw HostCtlException(std::string("Error destroying netstack instance: ") + e.what());
    }
}

void NetworkInfoImpl::RestoreNetstackInstances() {
    auto store = NetStore();
    const HaldenConfigStore::ConfigStoreObjectId group("net_stacks", kNetwork, kHalden);
    bool haveDefault = false;
    std::vector<std::unique_ptr<NetstackInstanceImpl>> instances;
    {
        SynchronizedConfigFileUtil config({kNetstacksRoot});
        auto entries = config->GetArray(NetstackInstanceImpl::kConfigArray).GetInstances();
        TarnCtl_LogInfoInt("%s: Enabling %zu netstack instances during boot\n", "NetworkInfoImpl", entries.size());
        for (auto& entry : entries) {
            std::string key;
            if (!entry.GetValue("key", &key)) continue;
            unsigned int maxConnections = NetstackInstanceImpl::kDefaultMaxConnections;
            bool ipv6 = true;
            std::string algo = NetstackInstanceImpl::kDefaultCongestionAlgo;
            std::string name = key, ecn = NetstackInstanceImpl::kDefaultEcnStatus;
            entry.GetValue("maxConnections", &maxConnections);
            entry.GetValue("ipv6Enabled", &ipv6);
            entry.GetValue("congestionAlgo", &algo);
            entry.GetValue("name", &name);
            entry.GetValue("ecnStatus", &ecn);
            auto ns = std::make_unique<NetstackInstanceImpl>(key);
            ns->SetFields(name, maxConnections, algo, ipv6, ecn);
            instances.push_back(std::move(ns));
        }
    }
    for (auto& ns : instances) {
        const std::string key = ns->GetKey();
        try {
            if (ns->IsDefault()) {
                haveDefault = true;
                ns->ApplyEcnStatus();
                std::string configured = ns->GetCongestionControlAlgorithm();
                if (GetAdvString("Net", "TcpipDefaultStackCCAlgo") != configured) {
                    std::string previous = GetAdvString("Net", "TcpipDefaultStackCCAlgo");
                    ns->UpdateDefaultNSCongestionControlAlgorithm(configured);
                    TarnCtl_LogInfoInt(
                        "%s: Updated default netstack congestioncontrol algorithm from %sto %s as read from the config store\n",
                        "NetworkInfoImpl", previous.c_str(), configured.c_str());
                }
            }
            if (ns->IsEnabled()) {
                TarnCtl_LogInfoInt("%s: Netstack instance:%s already enabled\n", "NetworkInfoImpl", key.c_str());
            } else {
                ns->Enable();
                TarnCtl_LogInfoInt("%s: Enabled netstack instance:%s during boot\n", "NetworkInfoImpl", key.c_str());
            }
            if (store->IsBoot()) store->SetBootStatus(group, true);
        } catch (const HostCtlException& e) {
            TarnCtl_LogErrorInt("%s: Failed to enable %s during boot, error %s\n", "NetworkInfoImpl", key.c_str(),
                                e.GetDetailedMessage().c_str());
        }
    }
    if (!haveDefault) CreateDefaultNetstackRecord();
}

void NetworkInfoImpl::CreateDefaultNetstackRecord() {
    auto def = BuildRunning(kDefaultNetstack);
    if (!def) {
        TarnCtl_LogErrorInt("%s: Failed to get kernel state for default netstack\n", "NetworkInfoImpl");
        throw HostCtlException("Failed to get kernel state for default netstack");
    }
    def->Create();
    TarnCtl_LogInfoInt("%s: Created default netstack instance in configuration during boot\n", "NetworkInfoImpl");
}

void NetworkInfoImpl::EnsureDefaultNetstackRecord() {
    SynchronizedConfigFileUtil config({kNetstacksRoot});
    if (config->GetArray(NetstackInstanceImpl::kConfigArray).FindInstanceWithValue("key", kDefaultNetstack)) return;
    CreateDefaultNetstackRecord();
}

}  // namespace TarnCtl::Network
