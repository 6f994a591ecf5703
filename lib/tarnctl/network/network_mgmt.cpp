// The host's management interface and network bring-up: which kernel NIC is
// the management interface (its Management tag, else the "ManagementIface"
// option, else the NIC behind the default route, else the first), keeping the
// management address in the options and the hosts file, building the first
// switch and management NIC on a host without network configuration, and
// clearing it all. The tag is the kernel NIC's own Management tag, so it is
// stored with the NIC and goes away with it.
#include <algorithm>
#include <csignal>
#include <cstdio>

#include <boost/regex.hpp>

#include "hostctl/exception.h"
#include "network/hosts_file.h"
#include "network/network_info_impl.h"
#include "network/network_util.h"
#include "network/pnic_impl.h"
#include "network/portgroup_impl.h"
#include "network/portset_impl.h"
#include "network/routing_info_impl.h"
#include "network/tarnnic_impl.h"
#include "network/tarnnic_info_impl.h"
#include "network/vswitch_impl.h"
#include "network/vswitch_info_impl.h"
#include "platform/boot.h"
#include "platform/exec.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "system/system_info_impl.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "NetworkInfoImpl";

std::unique_ptr<TarnNic> NicByName(const std::string& name) {
    if (name.empty()) return nullptr;
    return TarnosNicInfoImpl().GetTarnosNicByInterface(name, true, PORTSET_GET_ALL);
}

// The boot NIC's MAC: seven dash-separated bytes whose first (the hardware
// type) is skipped, or a plain "xx:xx:xx:xx:xx:xx".
bool BootNicMac(MacAddress* out) {
    std::string text;
    try {
        text = System::SystemInfoImpl().GetBootNicMacAddress();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to read the boot NIC MAC: %s\n", kTag, e.what());
        return false;
    }
    unsigned char b[7];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%2hhx-%2hhx-%2hhx-%2hhx-%2hhx-%2hhx-%2hhx%c", &b[0], &b[1], &b[2], &b[3], &b[4],
                    &b[5], &b[6], &tail) == 7) {
        *out = MacAddress(b + 1);
        return true;
    }
    unsigned char m[6];
    if (!MacAddress::Parse(text, m)) return false;
    *out = MacAddress(m);
    return true;
}

// The uplink of automatic configuration: the command line's, the boot NIC, or
// the first management-capable NIC; "" when there is none.
std::string ChooseBootUplink(const std::string& cmdline) {
    NetworkInfoImpl net;
    const std::vector<std::string> present = net.GetPnicNameList(PnicGetType::Present);
    boost::smatch m;
    if (boost::regex_search(cmdline, m, boost::regex("autoConfigNetworkPnic=(pnx[0-9]*)"))) {
        const std::string wanted = m[1];
        if (std::find(present.begin(), present.end(), wanted) != present.end()) return wanted;
        TarnCtl_LogWarnInt("%s: Couldn't find pnic %s for auto config\n", kTag, wanted.c_str());
        TarnCtl_LogWarnInt("%s: Unable to auto config network from cmdline pnic\n", kTag);
    }
    MacAddress boot;
    if (BootNicMac(&boot))
        for (const std::string& nic : present)
            if (PnicImpl(nic).GetMacAddress() == boot) return nic;
    for (const std::string& nic : present)
        if (PnicImpl(nic).IsMgmtCapable()) return nic;
    return "";
}

}  // namespace

// ---- The tag -------------------------------------------------------------------------------

std::string NetworkInfoImpl::GetTaggedManagementInterface() {
    auto tagged = TarnosNicInfoImpl().GetTarnosNicsByTag(TarnNicTagType::Management);
    return tagged.empty() ? "" : tagged.front()->GetInterfaceName();
}

void NetworkInfoImpl::SetTaggedManagementInterface(const std::string& name) {
    auto nic = NicByName(name);
    if (!nic) throw HostCtlException("Unable to find tarnnic " + name);
    // One management interface: the tag moves.
    for (auto& other : TarnosNicInfoImpl().GetTarnosNicsByTag(TarnNicTagType::Management))
        if (other->GetInterfaceName() != name) other->RemoveTag(TarnNicTagType::Management);
    if (!nic->HasTag(TarnNicTagType::Management)) nic->AddTag(TarnNicTagType::Management, true);
}

void NetworkInfoImpl::UnsetTaggedManagementInterface() {
    for (auto& nic : TarnosNicInfoImpl().GetTarnosNicsByTag(TarnNicTagType::Management))
        nic->RemoveTag(TarnNicTagType::Management);
}

std::unique_ptr<TarnNic> NetworkInfoImpl::GetInterfaceByName(const std::string& name) { return NicByName(name); }

// ---- The chain -----------------------------------------------------------------------------

std::unique_ptr<TarnNic> NetworkInfoImpl::GetManagementInterface() { return FindManagementInterface(true); }

std::unique_ptr<TarnNic> NetworkInfoImpl::SelectManagementInterface() { return SelectManagementInterfaceInt(true); }

std::unique_ptr<TarnNic> NetworkInfoImpl::FindManagementInterface(bool tag) {
    if (auto nic = NicByName(GetTaggedManagementInterface())) return nic;
    std::string adv;
    try {
        adv = GetAdvString("Net", "ManagementIface");
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: %s\n", kTag, e.GetDetailedMessage().c_str());
    }
    std::vector<std::string> names;
    HostCtl::Misc::StringTokenize(adv, names, ",");
    for (const std::string& name : names) {
        if (auto nic = NicByName(name)) {
            if (tag) {
                TarnCtl_LogInfoInt("%s: Tagging interface %s as Management (from advIface)\n", kTag, name.c_str());
                SetTaggedManagementInterface(name);
            }
            return nic;
        }
    }
    if (tag) TarnCtl_LogInfoInt("%s: No interface was tagged for mgmt, selecting new one.\n", kTag);
    return SelectManagementInterfaceInt(tag);
}

std::unique_ptr<TarnNic> NetworkInfoImpl::SelectManagementInterfaceInt(bool tag) {
    RoutingInfoImpl routing(kDefaultNetstack);
    std::string chosen;
    try {
        chosen = routing.GetTarnosIpv4DefaultGatewayInterface();
        if (chosen.empty() && IsTarnIpv6Enabled()) chosen = routing.GetTarnosIpv6DefaultGatewayInterface();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: %s\n", "SelectManagementInterface", e.GetDetailedMessage().c_str());
    }
    if (chosen.empty()) {
        std::vector<std::string> nics = TarnosNicInfoImpl().GetTarnosNicNames();
        if (tag)
            TarnCtl_LogInfoInt("%s: No default route set, %zu vnics, tagged %s\n", "SelectManagementInterface",
                               nics.size(), GetTaggedManagementInterface().c_str());
        if (nics.empty()) return nullptr;
        chosen = nics.front();
    }
    auto nic = NicByName(chosen);
    if (!nic || !tag) return nic;
    TarnCtl_LogInfoInt("%s: Tagging %s as Management\n", kTag, chosen.c_str());
    SetTaggedManagementInterface(chosen);
    return nic;
}

void NetworkInfoImpl::SetManagementInterface(NetworkInterface* iface) {
    auto* nic = dynamic_cast<TarnNic*>(iface);
    if (!nic) throw HostCtlException("Embedded HALDEN requires a Tarnos NIC as a management interface.");
    SetTaggedManagementInterface(nic->GetInterfaceName());
}

void NetworkInfoImpl::UpdateManagementInterface() {
    // Keeping the address current follows the chain but leaves the tags alone:
    // enabling a NIC must not re-tag the host's interfaces.
    auto nic = FindManagementInterface(false);
    if (!nic) {
        TarnCtl_LogWarnInt("%s: Cannot update Management NIC, no suitable network connection found.\n", kTag);
        SetAdvString("Net", "ManagementAddr", "127.0.0.1");
        SetAdvString("Misc", "HostIPAddr", "127.0.0.1");
        return;
    }
    const std::string address = nic->GetIpConfig().GetIpv4Address().GetStringAddress();
    if (address != "0.0.0.0") {
        std::string host = GetAdvString("Misc", "HostName");
        if (host.empty()) host = "localhost";
        HostsFile hosts;
        hosts.ParseOrInit();
        if (!hosts.HasEntryForIp(address) || !hosts.HasEntryForHostName(host))
            hosts.AddOrReplaceEntry(address, host, {});
    }
    // The console shows the management address.
    if (!Platform::Exec::FindProcesses("hcui").empty()) Platform::Exec::SignalProcess("hcui", SIGUSR1);
    SetAdvString("Net", "ManagementAddr", address);
    SetAdvString("Misc", "HostIPAddr", address);
}

std::string NetworkInfoImpl::GetPnicFromInterface(const std::string& interface) {
    auto nic = NicByName(interface);
    if (!nic) throw HostCtlException("Unable to find tarnnic " + interface);
    const std::string pg = nic->GetPortGroupName();
    return pg.empty() ? "" : GetFirstPnicFromPortGroupName(pg);
}

// ---- Bring-up and clearing -----------------------------------------------------------------

void NetworkInfoImpl::AutoConfigNetwork() {
    std::string cmdline;
    try {
        cmdline = System::SystemInfoImpl().GetBootCommandLine();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Unable to read the boot command line: %s\n", kTag, e.what());
    }
    const std::string uplink = ChooseBootUplink(cmdline);
    TarnCtl_LogInfoInt("%s: Setting boot uplink to %s\n", kTag, uplink.c_str());

    VirtualSwitchInfoImpl switches;
    // A bring-up that fails after making the switch takes the switch away
    // again, so the host stays without configuration and the next boot retries.
    bool madeSwitch = false;
    try {
        if (switches.SwitchExists("vSwitch0")) {
            TarnCtl_LogInfoInt("%s: vSwitch0 already configured, skip auto config.\n", kTag);
        } else {
            switches.AddVirtualSwitch("vSwitch0", HostCtl::Network::Portset::DEF_NUM_PORTS);
            madeSwitch = true;
            BuildFirstSwitch(uplink, cmdline);
        }
        EnsureDefaultNetstackRecord();
        TarnosNicInfoImpl nics;
        if (nics.TarnosNicExists(ConnectionPoint::PortGroup(MGMT_PGNAME), kDefaultNetstack)) {
            TarnCtl_LogInfoInt("%s: Management tarnnic already configured, skip auto config.\n", kTag);
            return;
        }
        IpConfig ip;
        ip.SetUseDhcp(true);
        ip.SetDhcpDns(true);
        ip.SetUseIpv6RouterAdvertised(true);
        nics.AddTarnosNic(MGMT_PGNAME, kDefaultNetstack, ip, MacAddress(), 0, 0, 0, "");
        auto nic = nics.GetTarnosNic(ConnectionPoint::PortGroup(MGMT_PGNAME), kDefaultNetstack);
        if (nic) SetTaggedManagementInterface(nic->GetInterfaceName());
    } catch (const HostCtlException& e) {
        if (madeSwitch) {
            TarnCtl_LogWarnInt("%s: Auto config failed, removing vSwitch0: %s\n", kTag, e.what());
            try {
                switches.RemoveVirtualSwitch("vSwitch0");
            } catch (const HostCtlException& again) {
                TarnCtl_LogErrorInt("%s: Unable to remove vSwitch0 after a failed auto config: %s\n", kTag,
                                    again.what());
            }
        }
        throw;
    }
}

void NetworkInfoImpl::BuildFirstSwitch(const std::string& uplink, const std::string& cmdline) {
    VirtualSwitchImpl sw("vSwitch0");
    if (!uplink.empty()) sw.AddUplink(uplink, false);
    sw.AddPortGroup(MGMT_PGNAME);
    sw.AddPortGroup(VM_PGNAME);
    if (!uplink.empty()) {
        NicTeamingPolicy teaming;
        teaming.SetUplinkOrder({uplink});
        teaming.SetMaxActiveUplinks(1);
        sw.SetTeamingPolicy(teaming);
    }
    boost::smatch m;
    if (boost::regex_search(cmdline, m, boost::regex("defaultVlanId=(\\d+)"))) {
        try {
            unsigned long vlan = std::stoul(m[1]);
            PortGroupImpl(MGMT_PGNAME, "vSwitch0").SetVlanId(vlan > UINT32_MAX ? UINT32_MAX : vlan);
        } catch (const std::exception& e) {
            TarnCtl_LogWarnInt("%s: Unable to set vlanid on %s Error: %s\n", kTag, MGMT_PGNAME, e.what());
            TarnCtl_LogWarnInt("%s: Unable to AutoConfigure vlan id on management port group\n", kTag);
        }
    }
}

bool NetworkInfoImpl::HasNetworkConfiguration() {
    {
        ConfigStoreUtil::SynchronizedConfigFileUtil nics({kTarnnicsRoot});
        if (!nics->GetArray(TarnNicImpl::kConfigArray).GetInstances().empty()) return true;
    }
    ConfigStoreUtil::SynchronizedConfigFileUtil switches({kVssRoot});
    return !switches->GetArray(kVswitchArray).GetInstances().empty();
}

void NetworkInfoImpl::AutoConfigNetworkAtBoot() {
    if (HasNetworkConfiguration()) {
        TarnCtl_LogVerboseInt("%s: Network already configured, no auto config at boot\n", kTag);
        return;
    }
    TarnCtl_LogInfoInt("%s: No network configuration, configuring the network automatically\n", kTag);
    Platform::Boot::BootModePause recording;
    AutoConfigNetwork();
}

void NetworkInfoImpl::ClearNetworkConfig() {
    TarnosNicInfoImpl nics;
    for (const std::string& name : nics.GetTarnosNicNames())
        if (auto nic = NicByName(name)) nic->Destroy();
    VirtualSwitchInfoImpl switches;
    for (auto& sw : switches.GetVirtualSwitches(PORTSET_GET_VSS)) switches.RemoveVirtualSwitch(sw->GetName());
    // Distributed switches and their cache are not built on this host: nothing to remove or save.
}

// After the network's own restore (kernel NICs, routes, DNS, /etc/hosts): a
// host with configuration comes up through those, and the bring-up's address
// lands in a hosts file that already holds the stored entries (the new NIC's
// enable reloads the routes itself).
namespace {
const Platform::Boot::Step kAutoConfig("network.autoconfig", 250, [] { NetworkInfoImpl().AutoConfigNetworkAtBoot(); });
}  // namespace

}  // namespace TarnCtl::Network
