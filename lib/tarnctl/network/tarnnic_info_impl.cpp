// The kernel-NIC inventory. Enumerations read the configuration entries once
// and build each NIC object from its own entry, so listing stays linear; boot
// restore migrates entries without a netstack to the default one first.
#include "network/tarnnic_info_impl.h"

#include <arpa/inet.h>

#include <algorithm>

#include "hostctl/exception.h"
#include "network/network_info_impl.h"
#include "network/network_util.h"
#include "network/tarnnic_hooks.h"
#include "network/tarnnic_impl.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "platform/printer.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using ConfigStoreUtil::ConfigBranchUtil;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "TarnosNicInfoImpl";

bool Wanted(const ConnectionPoint& cp, PortsetGetType type) {
    switch (cp.GetType()) {
        case ConnectionPoint::VSS_PORT_GROUP: return type & PORTSET_GET_VSS;
        case ConnectionPoint::VDS: return type & PORTSET_GET_DVS;
        case ConnectionPoint::OPAQUE_NETWORK: return type & PORTSET_GET_OPAQUE;
        default: return false;
    }
}

struct EntryInfo {
    std::string name, key;
    ConnectionPoint cp;
};

// Every configured kernel NIC, in configuration order.
std::vector<EntryInfo> Entries() {
    std::vector<EntryInfo> out;
    SynchronizedConfigFileUtil config({kTarnnicsRoot});
    for (ConfigBranchUtil& e : config->GetArray(TarnNicImpl::kConfigArray).GetInstances()) {
        EntryInfo info;
        e.GetValue("name", &info.name);
        info.key = kDefaultNetstack;
        e.GetValue("netstackInstance", &info.key);
        info.cp = TarnNicImpl::ConnectionOf(e);
        out.push_back(std::move(info));
    }
    return out;
}

std::unique_ptr<TarnNic> Make(const EntryInfo& e) { return std::make_unique<TarnNicImpl>(e.cp, e.key); }

}  // namespace

void TarnosNicInfoImpl::AddInternal(const ConnectionPoint* cp, const std::string& netstackKey, const IpConfig& ip,
                                    const MacAddress& mac, Pnic* pnic, uint32_t mtu, uint32_t tsoMss,
                                    uint32_t numRxQueue, const std::string& name) {
    const std::string key = TarnNicImpl::NetstackKey(netstackKey);
    if (cp && TarnNicImpl::TarnNicExists(*cp, key))
        throw HostCtlException("A tarnos nic for the connection point already exists: " + cp->ToString());
    TarnNicImpl::CreateTarnNic(cp, key, ip, mac, pnic, mtu, tsoMss, numRxQueue, name);
    TarnNicImpl nic(*cp, key);
    TarnCtl_LogInfoInt("%s: Added tarnNic, netstack:'%s', interface:'%s'\n", kTag, key.c_str(),
                       nic.GetInterfaceName().c_str());
}

void TarnosNicInfoImpl::AddTarnosNic(const ConnectionPoint* cp, const std::string& netstackKey, const IpConfig& ip,
                                     Pnic* pnic, uint32_t mtu, uint32_t tsoMss, uint32_t numRxQueue,
                                     const std::string& name) {
    if (!cp) throw HostCtlException("Invalid ConnectionPoint.");
    if (!pnic) throw HostCtlException("Invalid Pnic.");
    AddInternal(cp, netstackKey, ip, pnic->GetMacAddress(), pnic, mtu, tsoMss, numRxQueue, name);
}

void TarnosNicInfoImpl::AddTarnosNic(const ConnectionPoint* cp, const std::string& netstackKey, const IpConfig& ip,
                                     const MacAddress& mac, uint32_t mtu, uint32_t tsoMss, uint32_t numRxQueue,
                                     const std::string& name) {
    if (!cp) throw HostCtlException("Invalid ConnectionPoint.");
    AddInternal(cp, netstackKey, ip, mac, nullptr, mtu, tsoMss, numRxQueue, name);
}

void TarnosNicInfoImpl::AddTarnosNic(const std::string& portGroup, const std::string& netstackKey,
                                     const IpConfig& ip, const MacAddress& mac, uint32_t mtu, uint32_t tsoMss,
                                     uint32_t numRxQueue, const std::string& name) {
    ConnectionPoint cp = ConnectionPoint::PortGroup(portGroup);
    AddInternal(&cp, netstackKey, ip, mac, nullptr, mtu, tsoMss, numRxQueue, name);
}

void TarnosNicInfoImpl::RemoveTarnosNic(const ConnectionPoint* cp, const std::string& netstackKey) {
    if (!cp) throw HostCtlException("Invalid ConnectionPoint.");
    TarnNicImpl(*cp, TarnNicImpl::NetstackKey(netstackKey)).Destroy();
}

void TarnosNicInfoImpl::RemoveTarnosNic(const std::string& portGroup, const std::string& netstackKey) {
    TarnNicImpl(ConnectionPoint::PortGroup(portGroup), TarnNicImpl::NetstackKey(netstackKey)).Destroy();
}

std::unique_ptr<TarnNic> TarnosNicInfoImpl::GetTarnosNic(const ConnectionPoint& cp, const std::string& netstackKey) {
    if (!TarnNicImpl::TarnNicConfigExists(cp, netstackKey)) return nullptr;
    return std::make_unique<TarnNicImpl>(cp, TarnNicImpl::NetstackKey(netstackKey));
}

std::unique_ptr<TarnNic> TarnosNicInfoImpl::GetTarnosNicByInterface(const std::string& name, bool configured,
                                                                    PortsetGetType type) {
    for (const EntryInfo& e : Entries()) {
        if (e.name != name || !Wanted(e.cp, type)) continue;
        if (!configured && TarnNicImpl::KernelNetstackOf(name).empty()) return nullptr;
        return Make(e);
    }
    return nullptr;
}

std::vector<std::unique_ptr<TarnNic>> TarnosNicInfoImpl::GetTarnosNics(PortsetGetType type) {
    std::vector<std::unique_ptr<TarnNic>> out;
    for (const EntryInfo& e : Entries())
        if (Wanted(e.cp, type)) out.push_back(Make(e));
    return out;
}

std::vector<std::unique_ptr<TarnNic>> TarnosNicInfoImpl::GetTarnosNicsByTag(TarnNicTagType tag) {
    std::vector<std::unique_ptr<TarnNic>> out;
    for (auto& nic : GetTarnosNics(PORTSET_GET_ALL))
        if (nic->HasTag(tag)) out.push_back(std::move(nic));
    return out;
}

std::vector<std::unique_ptr<TarnNic>> TarnosNicInfoImpl::GetTarnosNicsByType(TarnNic::TarnNicType type) {
    std::vector<std::unique_ptr<TarnNic>> out;
    for (auto& nic : GetTarnosNics(PORTSET_GET_ALL))
        if (nic->GetTarnNicType() == type) out.push_back(std::move(nic));
    return out;
}

std::vector<std::unique_ptr<TarnNic>> TarnosNicInfoImpl::GetTarnosNicsByInstanceKey(const std::string& key,
                                                                                    PortsetGetType type) {
    std::vector<std::unique_ptr<TarnNic>> out;
    for (const EntryInfo& e : Entries())
        if (e.key == TarnNicImpl::NetstackKey(key) && Wanted(e.cp, type)) out.push_back(Make(e));
    return out;
}

std::vector<std::string> TarnosNicInfoImpl::GetTarnosNicNames() {
    std::vector<std::string> out;
    for (const EntryInfo& e : Entries()) out.push_back(e.name);
    return out;
}

std::string TarnosNicInfoImpl::GetTarnnicNetstackInstanceKey(const std::string& name) {
    for (const EntryInfo& e : Entries())
        if (e.name == name) return e.key;
    throw HostCtlException("Unable to find tarnnic " + name);
}

uint32_t TarnosNicInfoImpl::GetTarnNicCountByNetstackInstance(const std::string& key) {
    uint32_t n = 0;
    for (const EntryInfo& e : Entries()) n += e.key == TarnNicImpl::NetstackKey(key);
    return n;
}

uint32_t TarnosNicInfoImpl::GetTarnNicCountWithTag(const std::string& tagName) {
    return static_cast<uint32_t>(GetTarnosNicsByTag(TarnNicTagNameToId(tagName)).size());
}

bool TarnosNicInfoImpl::TarnosNicExists(const ConnectionPoint& cp, const std::string& netstackKey) {
    return TarnNicImpl::TarnNicExists(cp, netstackKey);
}

bool TarnosNicInfoImpl::TarnosNicConfigExists(const ConnectionPoint& cp, const std::string& netstackKey) {
    return TarnNicImpl::TarnNicConfigExists(cp, netstackKey);
}

void TarnosNicInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Tarnos NICs");
    printer->BeginObject();
    printer->Print("Name", GetName());
    printer->Print("Count", static_cast<uint32_t>(GetTarnosNicNames().size()));
    printer->EndObject();
}

void TarnosNicInfoImpl::LoadConfig() {
    std::string previous;
    try {
        previous = GetAdvString("Net", "ManagementIface");
    } catch (const HostCtlException&) {
    }
    TarnCtl_LogInfoInt("%s: Storing previous management interface:'%s'\n", kTag, previous.c_str());
    {
        // Entries of older hosts have no netstack: they belong to the default one.
        SynchronizedConfigFileUtil config({kTarnnicsRoot});
        bool changed = false;
        for (ConfigBranchUtil& e : config->GetArray(TarnNicImpl::kConfigArray).GetInstances()) {
            std::string name, key;
            e.GetValue("name", &name);
            if (e.GetValue("netstackInstance", &key) && !key.empty()) continue;
            TarnCtl_LogInfoInt("%s: Processing migration for'%s'\n", kTag, name.c_str());
            e.SetValue("netstackInstance", std::string(kDefaultNetstack));
            TarnCtl_LogInfoInt("%s: Updated netstackInstance config for'%s', previous value exists: %s\n", kTag,
                               name.c_str(), key.empty() ? "false" : "true");
            changed = true;
        }
        if (changed) config->Write();
    }
    for (const EntryInfo& e : Entries()) {
        TarnCtl_LogInfoInt("%s: Processing config for'%s'\n", kTag, e.name.c_str());
        try {
            TarnNicImpl(e.cp, e.key).LoadConfig();
        } catch (const HostCtlException& ex) {
            TarnCtl_LogErrorInt("%s: %s\n", kTag,
                                ("Error restoring Tarnos NIC " + e.name + " network is in an unknown state. Skipping.")
                                    .c_str());
            TarnCtl_LogErrorInt("%s: %s\n", kTag, ex.what());
        }
    }
    auto store = NetStore();
    if (store->IsBoot()) {
        HaldenConfigStore::ConfigStoreObjectId group(kTarnnics, kNetwork, kHalden);
        if (!store->GetDesiredUserConfigInstances(group, 0).empty()) store->SetBootStatus(group, true);
    }
}

// ---- Facade for other programs ------------------------------------------------------------

namespace {
std::unique_ptr<TarnNic> ByName(const std::string& name) {
    auto nic = TarnosNicInfoImpl().GetTarnosNicByInterface(name, true, PORTSET_GET_ALL);
    if (!nic) throw HostCtlException("Unable to find tarnnic " + name);
    return nic;
}
}  // namespace

std::vector<std::string> TarnosNicApi::GetTarnosNicNames() { return TarnosNicInfoImpl().GetTarnosNicNames(); }

std::string TarnosNicApi::GetTarnosNicState(const std::string& name) {
    auto nic = ByName(name);
    ConnectionPoint cp = nic->GetConnectionPoint();
    if (cp.GetType() == ConnectionPoint::NONE) TarnCtl_LogInfoInt("%s: TarnNic connection type is None.\n", kTag);
    return std::string(ConnectionPoint::TypeName(cp.GetType())) + " " + cp.ToString() + " " +
           (nic->IsEnabled() ? "enabled" : "disabled");
}

void TarnosNicApi::AddTarnosNicTag(const std::string& name, TarnNicTagType tag, bool notify) {
    ByName(name)->AddTag(tag, notify);
}

void TarnosNicApi::RemoveTarnosNicTag(const std::string& name, TarnNicTagType tag) { ByName(name)->RemoveTag(tag); }

void TarnosNicApi::TouchTarnosNic(const std::string& name) {
    auto nic = ByName(name);
    bool recordedEnabled = false;
    {
        SynchronizedConfigFileUtil config({kTarnnicsRoot});
        ConfigBranchUtil e = config->GetArray(TarnNicImpl::kConfigArray).FindInstanceWithValue("name", name);
        if (e) e.GetValue("enable", &recordedEnabled);
    }
    if (recordedEnabled && !nic->IsEnabled()) {
        TarnCtl_LogInfoInt("%s: Touch: plumbing tarnnic %s again\n", kTag, name.c_str());
        nic->Enable();
    }
    for (TarnNicTagType tag : nic->GetTags())
        for (auto fn : TarnNicHooks::_reconfigTagCallbacks) fn(name, tag, true);
    TarnCtl_LogInfoInt("%s: Touched tarnnic %s\n", kTag, name.c_str());
}

void TarnosNicApi::GetPreferredVitNetworkAddressForTarnNic(const std::string& name, std::string& address,
                                                           bool& isIpv6) {
    auto nic = ByName(name);
    if (!nic->IsEnabled()) throw HostCtlException("Tarnnic " + name + " is not enabled");
    IpConfig ip = nic->GetIpConfig();
    if (!ip.GetIpv4Address().IsAllzeroAddress()) {
        address = ip.GetIpv4Address().GetStringAddress();
        isIpv6 = false;
        return;
    }
    for (const Ipv6Network& n : ip.GetIpv6Network()) {
        // fe80::/10 reaches only the link: no use to peers on other subnets.
        const std::string text = n.GetAddress().GetStringAddress();
        unsigned char bytes[16] = {};
        if (inet_pton(AF_INET6, text.substr(0, text.find('%')).c_str(), bytes) != 1) continue;
        if (bytes[0] == 0xfe && (bytes[1] & 0xc0) == 0x80) continue;
        address = text;
        isIpv6 = true;
        return;
    }
    throw HostCtlException("Tarnnic " + name + " has no usable address");
}

// After switches and port groups, before the routes that need the NICs' addresses.
namespace {
const Platform::Boot::Step kTarnnicBoot("network.tarnnics", 230, [] { TarnosNicInfoImpl().LoadConfig(); });
}  // namespace

}  // namespace TarnCtl::Network
