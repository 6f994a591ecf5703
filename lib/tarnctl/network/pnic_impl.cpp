// Physical NICs: queries and changes over both driver paths, the recorded
// settings and their boot replay, and the rename map. Each setting operation
// picks the path by the NIC's driver kind: native nodes, or the legacy
// device-control channel.
#include "network/pnic_impl.h"

#include <linux/ethtool.h>

#include <algorithm>
#include <cstring>
#include <iterator>

#include "hostctl/exception.h"
#include "network/network_util.h"
#include "network/pnic_legacy.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Network {

using namespace HostCtl::Network;
using ConfigStoreUtil::ConfigBranchUtil;
using ConfigStoreUtil::ConfigFileUtil;
using ConfigStoreUtil::SynchronizedConfigFileUtil;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;

namespace {

const uint32_t kLinkSpeeds[] = {10,    100,   1000,  2500,  5000,   10000,  20000,  25000,
                                37500, 40000, 50000, 56000, 75000, 100000, 200000, 400000};

// Capability-mask and queue-balancing nodes, in PnicOffload / PnicNetqueue order.
using SettingNode = PnicImpl::SettingNode;
constexpr auto& kOffloads = KSI_PNIC_OFFLOAD_NODES;
constexpr auto& kNetqueue = KSI_PNIC_QUEUE_NODES;
static_assert(std::size(KSI_PNIC_OFFLOAD_NODES) == PNIC_OFFLOAD_COUNT);
static_assert(std::size(KSI_PNIC_QUEUE_NODES) == PNIC_NETQUEUE_COUNT);

std::string Text(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

ConfigStoreObjectId StoreId(const std::string& name) { return ConfigStoreObjectId("nics", kNetwork, kHalden, name); }

// Reads one fixed record of the NIC; a refusal throws "<what>; Status(...)".
template <typename T>
T ReadNode(uint32_t node, const std::string& name, const std::string& what) {
    T out{};
    KernelStep(what, [&] {
        Util::Sysinfo si(node);
        si.SetInstance(name);
        si.Get(&out, sizeof out);
    });
    return out;
}

}  // namespace

PnicImpl::PnicImpl(const std::string& name) : _name(name) {}

// ---- Static helpers ---------------------------------------------------------------------

bool PnicImpl::IsValidPnic(const std::string& name) {
    Util::Sysinfo si(KSI_NODE_net_pNics);
    return si.IsValidInstance(name);
}

bool PnicImpl::IsKnownLinkSpeed(uint32_t speed) {
    return std::find(std::begin(kLinkSpeeds), std::end(kLinkSpeeds), speed) != std::end(kLinkSpeeds);
}

std::string PnicImpl::GetLinkSpeedString(LinkSpeed speed) {
    return IsKnownLinkSpeed(speed) ? std::to_string(static_cast<uint32_t>(speed)) : "auto";
}

std::string PnicImpl::GetDuplexString(Duplex duplex) {
    switch (duplex) {
    case LINK_DUPLEX_FULL: return "full";
    case LINK_DUPLEX_HALF: return "half";
    default: return "auto";
    }
}

const char* PnicImpl::OffloadKey(uint32_t item) { return item < PNIC_OFFLOAD_COUNT ? kOffloads[item].key : ""; }
const char* PnicImpl::NetqueueKey(uint32_t item) { return item < PNIC_NETQUEUE_COUNT ? kNetqueue[item].key : ""; }

std::string PnicImpl::GetNewNicName(const std::string& oldName) {
    SynchronizedConfigFileUtil config({kNicsRoot});
    auto array = config->GetArray(kConfigArray);
    ConfigBranchUtil old = array.FindInstanceWithValue("name", oldName);
    std::string mac;
    if (!old || !old.GetValue("mac", &mac) || mac.empty()) return "";
    for (ConfigBranchUtil& entry : array.GetInstances()) {
        std::string name, entryMac;
        if (!entry.GetValue("name", &name) || name == oldName) continue;
        if (entry.GetValue("mac", &entryMac) && entryMac == mac && IsValidPnic(name)) return name;
    }
    return "";
}

// ---- Reading ------------------------------------------------------------------------------

void PnicImpl::Refresh() { ReadProperties(); }

KsiPnicProperties PnicImpl::ReadProperties() {
    return ReadNode<KsiPnicProperties>(KSI_NODE_net_pNics_properties, _name,
                                       "Unable to get properties of pnic " + _name);
}

KsiPnicLinkStatus PnicImpl::ReadLinkStatus() {
    return ReadNode<KsiPnicLinkStatus>(KSI_NODE_net_pNics_linkStatus, _name,
                                       "Unable to get link status of pnic " + _name);
}

unsigned int PnicImpl::GetMTU() { return ReadProperties().mtu; }
Duplex PnicImpl::GetDuplex() {
    KsiPnicLinkStatus l = ReadLinkStatus();
    return l.duplex == 2 ? LINK_DUPLEX_HALF : l.duplex == 1 ? LINK_DUPLEX_FULL : LINK_DUPLEX_AUTO;
}
LinkSpeed PnicImpl::GetLinkSpeed() { return static_cast<LinkSpeed>(ReadLinkStatus().speed); }
bool PnicImpl::IsLinkUp() { return ReadLinkStatus().linkUp; }
bool PnicImpl::IsOperationalLinkUp() { return ReadLinkStatus().linkUp; }
bool PnicImpl::IsAdministrativeLinkUp() { return ReadLinkStatus().adminUp; }
bool PnicImpl::IsEnabled() { return ReadLinkStatus().adminUp; }
bool PnicImpl::IsPseudoDevice() { return ReadProperties().flags & KSI_PNIC_PSEUDO; }
bool PnicImpl::IsLegacy() { return ReadProperties().flags & KSI_PNIC_LEGACY; }
bool PnicImpl::IsRdmaCapable() { return ReadProperties().flags & KSI_PNIC_RDMA; }
bool PnicImpl::IsBMCNic() { return ReadProperties().flags & KSI_PNIC_BMC; }
bool PnicImpl::IsK2KNic() { return ReadProperties().flags & KSI_PNIC_K2K; }
bool PnicImpl::IsMgmtPreferred() { return ReadProperties().flags & KSI_PNIC_MGMT_PREFERRED; }
bool PnicImpl::IsMgmtCapable() { return ReadProperties().flags & KSI_PNIC_MGMT_CAPABLE; }
bool PnicImpl::GetResPoolsSchedAllowed() { return ReadProperties().flags & KSI_PNIC_RESPOOLS_ALLOWED; }
bool PnicImpl::GetResPoolsSchedSupported() { return ReadProperties().flags & KSI_PNIC_RESPOOLS_SUPPORTED; }
MacAddress PnicImpl::GetMacAddress() { return MacAddress(ReadProperties().mac); }
MacAddress PnicImpl::GetVirtualMacAddress() { return MacAddress(ReadProperties().virtualMac); }
std::string PnicImpl::GetPCIDevBusAddress() {
    KsiPnicProperties p = ReadProperties();
    return Text(p.pciAddress, sizeof p.pciAddress);
}
std::string PnicImpl::GetPciDevice() { return GetPCIDevBusAddress(); }
std::string PnicImpl::GetDriverName() {
    KsiPnicProperties p = ReadProperties();
    return Text(p.driver, sizeof p.driver);
}
std::string PnicImpl::GetHint() {
    KsiPnicProperties p = ReadProperties();
    return Text(p.description, sizeof p.description);
}

NicCapabilities PnicImpl::GetHardwareCapabilities() {
    uint64_t known = 0;
    for (const auto& c : NicCapabilities::Capabilities()) known |= c.bit;
    return NicCapabilities(ReadProperties().hwCapabilities & known, known);
}

PnicLinkStatus PnicImpl::GetPnicLinkStatus() {
    KsiPnicLinkStatus l = ReadLinkStatus();
    PnicLinkStatus s;
    s.linkUp = l.linkUp;
    s.adminUp = l.adminUp;
    s.speed = l.speed;
    s.duplex = l.duplex == 2 ? LINK_DUPLEX_HALF : l.duplex == 1 ? LINK_DUPLEX_FULL : LINK_DUPLEX_AUTO;
    s.autoNegotiation = l.autoNeg;
    return s;
}

PnicInfo PnicImpl::GetPnicInfo() {
    KsiPnicProperties p = ReadProperties();
    PnicInfo info;
    info.name = _name;
    info.driver = Text(p.driver, sizeof p.driver);
    info.pciAddress = Text(p.pciAddress, sizeof p.pciAddress);
    info.mac = MacAddress(p.mac);
    info.virtualMac = MacAddress(p.virtualMac);
    info.mtu = p.mtu;
    info.link = GetPnicLinkStatus();
    info.description = Text(p.description, sizeof p.description);
    return info;
}

PnicStats PnicImpl::GetPnicStats() {
    KsiPnicStats k = ReadNode<KsiPnicStats>(KSI_NODE_net_pNics_stats, _name, "Unable to get statistics of pnic " + _name);
    return PnicStats{k.rxPackets, k.txPackets, k.rxBytes, k.txBytes, k.rxErrors, k.txErrors, k.rxDropped, k.txDropped};
}

std::map<std::string, uint64_t> PnicImpl::GetPnicPrivStats() {
    PnicStats s = GetPnicStats();
    return {{"rx_packets", s.packetsReceived}, {"tx_packets", s.packetsSent},     {"rx_bytes", s.bytesReceived},
            {"tx_bytes", s.bytesSent},         {"rx_errors", s.receiveErrors},    {"tx_errors", s.sendErrors},
            {"rx_dropped", s.receiveDropped},  {"tx_dropped", s.sendDropped}};
}

PnicDriverInfo PnicImpl::GetPnicDriverInfo() {
    PnicDriverInfo d;
    if (IsLegacy()) {
        ethtool_drvinfo info{};
        info.cmd = ETHTOOL_GDRVINFO;
        LegacyChannel(_name).Ethtool(&info, "ETHTOOL_GDRVINFO");
        d.driver = Text(info.driver, sizeof info.driver);
        d.version = Text(info.version, sizeof info.version);
        d.firmwareVersion = Text(info.fw_version, sizeof info.fw_version);
        d.busInfo = Text(info.bus_info, sizeof info.bus_info);
        return d;
    }
    KsiPnicProperties p = ReadProperties();
    d.driver = Text(p.driver, sizeof p.driver);
    d.version = Text(p.driverVersion, sizeof p.driverVersion);
    d.firmwareVersion = Text(p.firmwareVersion, sizeof p.firmwareVersion);
    d.busInfo = Text(p.pciAddress, sizeof p.pciAddress);
    return d;
}

PnicPauseInfo PnicImpl::GetPnicPauseInfo() {
    if (IsLegacy()) {
        ethtool_pauseparam p{};
        p.cmd = ETHTOOL_GPAUSEPARAM;
        LegacyChannel(_name).Ethtool(&p, "ETHTOOL_GPAUSEPARAM");
        return PnicPauseInfo{p.autoneg != 0, p.rx_pause != 0, p.tx_pause != 0};
    }
    auto k = ReadNode<KsiPnicPauseParams>(KSI_NODE_net_pNics_firmware_pauseParams, _name,
                                          "Unable to get pause parameters of pnic " + _name);
    return PnicPauseInfo{k.autoNeg != 0, k.rx != 0, k.tx != 0};
}

PnicCoalesceInfo PnicImpl::GetPnicCoalesceInfo() {
    if (IsLegacy()) {
        ethtool_coalesce c{};
        c.cmd = ETHTOOL_GCOALESCE;
        LegacyChannel(_name).Ethtool(&c, "ETHTOOL_GCOALESCE");
        return PnicCoalesceInfo{c.rx_coalesce_usecs, c.rx_max_coalesced_frames, c.tx_coalesce_usecs,
                                c.tx_max_coalesced_frames, c.use_adaptive_rx_coalesce != 0,
                                c.use_adaptive_tx_coalesce != 0};
    }
    auto k = ReadNode<KsiPnicCoalesceParams>(KSI_NODE_net_pNics_coalesceParams, _name,
                                             "Unable to get coalesce parameters of pnic " + _name);
    return PnicCoalesceInfo{k.rxUsecs, k.rxFrames, k.txUsecs, k.txFrames, k.adaptiveRx != 0, k.adaptiveTx != 0};
}

void PnicImpl::GetPnicRingInfo(PnicRingInfo& current, PnicRingInfo& maximum) {
    const uint32_t all = PnicRingInfo::RING_RX | PnicRingInfo::RING_RX_MINI | PnicRingInfo::RING_RX_JUMBO |
                         PnicRingInfo::RING_TX;
    if (IsLegacy()) {
        ethtool_ringparam r{};
        r.cmd = ETHTOOL_GRINGPARAM;
        LegacyChannel(_name).Ethtool(&r, "ETHTOOL_GRINGPARAM");
        current = PnicRingInfo{all, r.rx_pending, r.rx_mini_pending, r.rx_jumbo_pending, r.tx_pending};
        maximum = PnicRingInfo{all, r.rx_max_pending, r.rx_mini_max_pending, r.rx_jumbo_max_pending, r.tx_max_pending};
        return;
    }
    auto k = ReadNode<KsiPnicRingParams>(KSI_NODE_net_pNics_firmware_ringParams, _name,
                                         "Unable to get ring parameters of pnic " + _name);
    current = PnicRingInfo{all, k.rx, k.rxMini, k.rxJumbo, k.tx};
    maximum = PnicRingInfo{all, k.maxRx, k.maxRxMini, k.maxRxJumbo, k.maxTx};
}

PnicOffloadInfo PnicImpl::GetPnicOffloadInfo() {
    PnicOffloadInfo info;
    for (uint32_t i = 0; i < PNIC_OFFLOAD_COUNT; ++i)
        info.Set(i, ReadNode<uint32_t>(kOffloads[i].node, _name, "Unable to get capability mask of pnic " + _name) != 0);
    return info;
}

PnicNetqueueInfo PnicImpl::GetPnicNetqueueInfo() {
    PnicNetqueueInfo info;
    for (uint32_t i = 0; i < PNIC_NETQUEUE_COUNT; ++i)
        info.Set(i, ReadNode<uint32_t>(kNetqueue[i].node, _name, "Unable to get queue settings of pnic " + _name) != 0);
    return info;
}

PnicQueueCounts PnicImpl::GetPnicQueueCounts() {
    PnicQueueCounts q;
    q.rx = ReadNode<uint32_t>(KSI_NODE_net_pNics_rxqueues_queueCount, _name, "Unable to get queue count of pnic " + _name);
    q.tx = ReadNode<uint32_t>(KSI_NODE_net_pNics_txqueues_queueCount, _name, "Unable to get queue count of pnic " + _name);
    return q;
}

std::vector<PnicLinkMode> PnicImpl::GetSupportedModes() {
    auto m = ReadNode<KsiPnicModes>(KSI_NODE_net_pNics_supportedModes, _name,
                                    "Unable to get supported modes of pnic " + _name);
    std::vector<PnicLinkMode> out;
    for (uint32_t i = 0; i < m.count && i < KSI_PNIC_MAX_MODES; ++i)
        out.push_back(PnicLinkMode{m.modes[i].speed, m.modes[i].duplex == 2 ? LINK_DUPLEX_HALF : LINK_DUPLEX_FULL});
    return out;
}

uint32_t PnicImpl::GetWakeOnLANSupported() {
    if (IsLegacy()) {
        ethtool_wolinfo w{};
        w.cmd = ETHTOOL_GWOL;
        LegacyChannel(_name).Ethtool(&w, "ETHTOOL_GWOL");
        return w.supported;
    }
    uint32_t v[2] = {};
    KernelStep("Unable to get wake-on-LAN settings of pnic " + _name, [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_wol);
        si.SetInstance(_name);
        si.Get(v, sizeof v);
    });
    return v[0];
}

uint32_t PnicImpl::GetWakeOnLANEnabled() {
    if (IsLegacy()) {
        ethtool_wolinfo w{};
        w.cmd = ETHTOOL_GWOL;
        LegacyChannel(_name).Ethtool(&w, "ETHTOOL_GWOL");
        return w.wolopts;
    }
    uint32_t v[2] = {};
    KernelStep("Unable to get wake-on-LAN settings of pnic " + _name, [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_wol);
        si.SetInstance(_name);
        si.Get(v, sizeof v);
    });
    return v[1];
}

// ---- Recorded configuration ---------------------------------------------------------------

ConfigBranchUtil PnicImpl::GetConfigLocation(ConfigFileUtil& config, bool create) {
    auto array = config.GetArray(kConfigArray);
    ConfigBranchUtil entry = array.FindInstanceWithValue("name", _name);
    if (entry || !create) return entry;
    entry = array.NewInstance();
    entry.SetValue("name", _name);
    entry.SetValue("mac", GetMacAddress().GetStringAddress());
    return entry;
}

void PnicImpl::CreateConfigStoreObject() {
    auto store = NetStore();
    if (store->Get(StoreId(_name))) return;
    auto o = std::make_shared<ConfigStoreObject>(StoreId(_name));
    o->SetValue("name", _name);
    o->SetValue("mac", GetMacAddress().GetStringAddress());
    store->Write(o);
}

void PnicImpl::Record(const std::function<void(ConfigBranchUtil&)>& apply) {
    if (IsBootMode()) return;
    SynchronizedConfigFileUtil config({kNicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), true);
    apply(entry);
    config->Write();
}

void PnicImpl::RecordOrPutBack(const char* what, const std::function<void()>& record,
                               const std::function<void()>& putBack) {
    try {
        record();
    } catch (const HostCtlException&) {
        // The store decides the next boot; the NIC follows it now.
        try {
            putBack();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to put back %s of pnic %s: %s\n", "PnicImpl", what, _name.c_str(),
                               e.GetDetailedMessage().c_str());
        }
        throw;
    }
}

LinkSpeed PnicImpl::GetConfiguredLinkSpeed() {
    auto o = NetStore()->Get(StoreId(_name));
    std::string speed;
    bool autoNeg = true;
    if (!o || (o->GetValue("auto_negotiation", &autoNeg) && autoNeg) || !o->GetValue("link_speed_mb", &speed))
        return LINK_SPEED_AUTO;
    if (speed.rfind("SPEED_", 0) != 0) return LINK_SPEED_AUTO;
    uint32_t n = static_cast<uint32_t>(std::strtoul(speed.c_str() + 6, nullptr, 10));
    return IsKnownLinkSpeed(n) ? static_cast<LinkSpeed>(n) : LINK_SPEED_AUTO;
}

Duplex PnicImpl::GetConfiguredDuplex() {
    auto o = NetStore()->Get(StoreId(_name));
    bool autoNeg = true, full = false;
    if (!o || (o->GetValue("auto_negotiation", &autoNeg) && autoNeg) || !o->GetValue("duplex", &full))
        return LINK_DUPLEX_AUTO;
    return full ? LINK_DUPLEX_FULL : LINK_DUPLEX_HALF;
}

std::map<std::string, std::string> PnicImpl::GetConfiguredOptions() {
    std::map<std::string, std::string> out;
    SynchronizedConfigFileUtil config({kNicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    if (!entry) return out;
    for (const std::string& key : entry.GetValueNames()) {
        std::string value;
        if (entry.GetValue(key, &value)) out[key] = value;
    }
    return out;
}

// ---- Changes ----------------------------------------------------------------------------------

void PnicImpl::SetLinkModeInternal(LinkSpeed speed, Duplex duplex) {
    if (IsLegacy()) {
        bool offered = speed == LINK_SPEED_AUTO;
        for (const PnicLinkMode& m : GetSupportedModes()) offered |= m.speed == speed && m.duplex == duplex;
        if (!offered) throw HostCtlException("This Speed/Duplex setting not supported.");
        LegacyChannel channel(_name);
        ethtool_cmd cmd{};
        cmd.cmd = ETHTOOL_GSET;
        channel.Ethtool(&cmd, "ETHTOOL_GSET");
        cmd.cmd = ETHTOOL_SSET;
        if (speed == LINK_SPEED_AUTO) {
            cmd.autoneg = AUTONEG_ENABLE;
        } else {
            cmd.autoneg = AUTONEG_DISABLE;
            ethtool_cmd_speed_set(&cmd, speed);
            cmd.duplex = duplex == LINK_DUPLEX_HALF ? DUPLEX_HALF : DUPLEX_FULL;
        }
        channel.Ethtool(&cmd, "ETHTOOL_SSET");
        return;
    }
    if (speed != LINK_SPEED_AUTO && !IsKnownLinkSpeed(speed)) throw HostCtlException("Unsupported speed.");
    if (speed != LINK_SPEED_AUTO && duplex != LINK_DUPLEX_FULL && duplex != LINK_DUPLEX_HALF)
        throw HostCtlException("Unsupported duplex.");
    ReadLinkStatus();
    KernelStep("Unable to set speed/duplex of pnic " + _name, [&] {
        Util::Sysinfo allow(KSI_NODE_net_pNics_allowLinkStatusChange);
        allow.SetInstance(_name);
        allow.AddInput(1);
        allow.Set();
        Util::Sysinfo si(KSI_NODE_net_pNics_linkSet);
        si.SetInstance(_name);
        si.AddInput(GetLinkSpeedString(speed));
        si.AddInput(speed == LINK_SPEED_AUTO ? std::string("auto") : GetDuplexString(duplex));
        si.Set();
    });
}

void PnicImpl::SetLinkSpeedAndDuplex(LinkSpeed speed, Duplex duplex) {
    if ((speed == LINK_SPEED_AUTO) != (duplex == LINK_DUPLEX_AUTO))
        throw HostCtlException("Must set both speed and duplex to auto or both to manual settings.");
    if (IsBootMode()) {
        SetLinkModeInternal(speed, duplex);
        return;
    }
    // The mode to go back to: a link that is down reports no speed, so a
    // manual mode is then taken from the store.
    const KsiPnicLinkStatus before = ReadLinkStatus();
    LinkSpeed oldSpeed = LINK_SPEED_AUTO;
    Duplex oldDuplex = LINK_DUPLEX_AUTO;
    if (!before.autoNeg && before.speed != 0) {
        oldSpeed = static_cast<LinkSpeed>(before.speed);
        oldDuplex = before.duplex == 2 ? LINK_DUPLEX_HALF : LINK_DUPLEX_FULL;
    } else if (!before.autoNeg) {
        oldSpeed = GetConfiguredLinkSpeed();
        oldDuplex = GetConfiguredDuplex();
    }
    SetLinkModeInternal(speed, duplex);
    RecordOrPutBack("speed/duplex", [&] {
        auto store = NetStore();
        ConfigStoreTransaction t(store);
        auto o = store->Get(StoreId(_name));
        if (!o) {
            o = std::make_shared<ConfigStoreObject>(StoreId(_name));
            o->SetValue("name", _name);
            o->SetValue("mac", GetMacAddress().GetStringAddress());
        }
        if (speed == LINK_SPEED_AUTO) {
            o->SetValue("auto_negotiation", true);
            o->Remove("link_speed_mb");
            o->Remove("duplex");
        } else {
            o->SetValue("auto_negotiation", false);
            o->SetValue("link_speed_mb", "SPEED_" + std::to_string(static_cast<uint32_t>(speed)));
            o->SetValue("duplex", duplex == LINK_DUPLEX_FULL);
        }
        store->Write(o);
        t.Commit();
    }, [&] { SetLinkModeInternal(oldSpeed, oldDuplex); });
}

void PnicImpl::RestartNegotiation() {
    if (!ReadLinkStatus().autoNeg) throw HostCtlException("Auto-negotiation is not enabled on pnic " + _name);
    SetLinkModeInternal(LINK_SPEED_AUTO, LINK_DUPLEX_AUTO);
}

void PnicImpl::SetMTU(unsigned int mtu) {
    if (IsLegacy()) {
        LegacyChannel(_name).SetMtu(mtu);
        return;
    }
    KernelStep("Unable to set MTU of pnic " + _name + " to " + std::to_string(mtu), [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_mtu);
        si.SetInstance(_name);
        si.AddInput(mtu);
        si.Set();
    });
}

void PnicImpl::SetEnabledInternal(bool on) {
    KernelStep(std::string("Unable to bring pnic ") + _name + (on ? " up" : " down"), [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_linkSet);
        si.SetInstance(_name);
        si.AddInput(on ? 1 : 0);
        si.Set();
    });
}

void PnicImpl::SetEnabled(bool on) {
    if (IsBootMode()) {
        SetEnabledInternal(on);
        return;
    }
    const bool wasUp = ReadLinkStatus().adminUp != 0;
    SetEnabledInternal(on);
    RecordOrPutBack("the administrative state",
                    [&] { Record([&](ConfigBranchUtil& e) { e.SetValue("nicEnabled", on); }); },
                    [&] { SetEnabledInternal(wasUp); });
}

void PnicImpl::SetWakeOnLANEnabled(bool on) {
    uint32_t modes = 0;
    if (on) {
        if (!(GetWakeOnLANSupported() & WOL_MAGIC))
            throw HostCtlException("Wake-on-LAN by magic packet is not supported by pnic " + _name);
        modes = WOL_MAGIC;
    }
    if (IsLegacy()) {
        ethtool_wolinfo w{};
        w.cmd = ETHTOOL_SWOL;
        w.wolopts = modes;
        LegacyChannel(_name).Ethtool(&w, "ETHTOOL_SWOL");
        return;
    }
    KernelStep("Unable to set wake-on-LAN of pnic " + _name, [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_wol);
        si.SetInstance(_name);
        si.AddInput(modes);
        si.Set();
    });
}

void PnicImpl::SetRingsInternal(const PnicRingInfo& info) {
    if (IsLegacy()) {
        LegacyChannel channel(_name);
        ethtool_ringparam r{};
        r.cmd = ETHTOOL_GRINGPARAM;
        channel.Ethtool(&r, "ETHTOOL_GRINGPARAM");
        r.cmd = ETHTOOL_SRINGPARAM;
        if (info.flags & PnicRingInfo::RING_RX) r.rx_pending = info.rx;
        if (info.flags & PnicRingInfo::RING_RX_MINI) r.rx_mini_pending = info.rxMini;
        if (info.flags & PnicRingInfo::RING_RX_JUMBO) r.rx_jumbo_pending = info.rxJumbo;
        if (info.flags & PnicRingInfo::RING_TX) r.tx_pending = info.tx;
        channel.Ethtool(&r, "ETHTOOL_SRINGPARAM");
        return;
    }
    auto k = ReadNode<KsiPnicRingParams>(KSI_NODE_net_pNics_firmware_ringParams, _name,
                                         "Unable to get ring parameters of pnic " + _name);
    if (info.flags & PnicRingInfo::RING_RX) k.rx = info.rx;
    if (info.flags & PnicRingInfo::RING_RX_MINI) k.rxMini = info.rxMini;
    if (info.flags & PnicRingInfo::RING_RX_JUMBO) k.rxJumbo = info.rxJumbo;
    if (info.flags & PnicRingInfo::RING_TX) k.tx = info.tx;
    KernelStep("Unable to set ring parameters of pnic " + _name, [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_firmware_ringParams);
        si.SetInstance(_name);
        si.SetStruct(&k, sizeof k);
    });
}

void PnicImpl::SetPnicRingInfo(const PnicRingInfo& info) {
    PnicRingInfo current, maximum;
    GetPnicRingInfo(current, maximum);
    bool change = ((info.flags & PnicRingInfo::RING_RX) && info.rx != current.rx) ||
                  ((info.flags & PnicRingInfo::RING_RX_MINI) && info.rxMini != current.rxMini) ||
                  ((info.flags & PnicRingInfo::RING_RX_JUMBO) && info.rxJumbo != current.rxJumbo) ||
                  ((info.flags & PnicRingInfo::RING_TX) && info.tx != current.tx);
    if (!change) throw SyscallFailureException("SetPnicRingInfo", "NoChange");
    SetRingsInternal(info);
    GetPnicRingInfo(current, maximum);
    Record([&](ConfigBranchUtil& e) {
        e.SetValue("rx", current.rx);
        e.SetValue("tx", current.tx);
    });
}

void PnicImpl::SetPnicRingSize(ConfigBranchUtil& entry) {
    PnicRingInfo current, maximum, wanted;
    GetPnicRingInfo(current, maximum);
    unsigned int rx = 0, tx = 0;
    if (entry.GetValue("rx", &rx) && rx != current.rx) {
        wanted.flags |= PnicRingInfo::RING_RX;
        wanted.rx = rx;
    }
    if (entry.GetValue("tx", &tx) && tx != current.tx) {
        wanted.flags |= PnicRingInfo::RING_TX;
        wanted.tx = tx;
    }
    if (wanted.flags) SetRingsInternal(wanted);
}

void PnicImpl::SetPnicPauseInfo(const PnicPauseInfo& info) {
    if (IsLegacy()) {
        ethtool_pauseparam p{ETHTOOL_SPAUSEPARAM, info.autoNegotiation, info.rx, info.tx};
        LegacyChannel(_name).Ethtool(&p, "ETHTOOL_SPAUSEPARAM");
        return;
    }
    KsiPnicPauseParams k{info.autoNegotiation, info.rx, info.tx};
    KernelStep("Unable to set pause parameters of pnic " + _name, [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_firmware_pauseParams);
        si.SetInstance(_name);
        si.SetStruct(&k, sizeof k);
    });
}

void PnicImpl::SetPnicCoalesceInfo(const PnicCoalesceInfo& info) {
    if (IsLegacy()) {
        LegacyChannel channel(_name);
        ethtool_coalesce c{};
        c.cmd = ETHTOOL_GCOALESCE;
        channel.Ethtool(&c, "ETHTOOL_GCOALESCE");
        c.cmd = ETHTOOL_SCOALESCE;
        c.rx_coalesce_usecs = info.rxUsecs;
        c.rx_max_coalesced_frames = info.rxFrames;
        c.tx_coalesce_usecs = info.txUsecs;
        c.tx_max_coalesced_frames = info.txFrames;
        c.use_adaptive_rx_coalesce = info.adaptiveRx;
        c.use_adaptive_tx_coalesce = info.adaptiveTx;
        channel.Ethtool(&c, "ETHTOOL_SCOALESCE");
        return;
    }
    KsiPnicCoalesceParams k{info.rxUsecs, info.rxFrames, info.txUsecs, info.txFrames, info.adaptiveRx, info.adaptiveTx};
    KernelStep("Unable to set coalesce parameters of pnic " + _name, [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_coalesceParams);
        si.SetInstance(_name);
        si.SetStruct(&k, sizeof k);
    });
}

void PnicImpl::SetSettingNode(uint32_t node, bool on, const char* what) {
    KernelStep(std::string("Unable to set ") + what + " of pnic " + _name, [&] {
        Util::Sysinfo si(node);
        si.SetInstance(_name);
        si.AddInput(on ? 1 : 0);
        si.Set();
    });
}

void PnicImpl::SetSettings(const SettingNode* nodes, uint32_t count, const PnicSettingBits& info) {
    // Several nodes: a refusal puts back the ones already changed, then passes the refusal on.
    PnicSettingBits done;
    try {
        for (uint32_t i = 0; i < count; ++i) {
            if (!info.Has(i)) continue;
            bool previous = ReadNode<uint32_t>(nodes[i].node, _name, "Unable to get settings of pnic " + _name) != 0;
            SetSettingNode(nodes[i].node, info.Get(i), nodes[i].key);
            done.Set(i, previous);
        }
    } catch (const HostCtlException&) {
        for (uint32_t i = 0; i < count; ++i) {
            if (!done.Has(i)) continue;
            try {
                SetSettingNode(nodes[i].node, done.Get(i), nodes[i].key);
            } catch (const HostCtlException& e) {
                TarnCtl_LogWarnInt("%s: Unable to restore %s of pnic %s: %s\n", "PnicImpl", nodes[i].key,
                                   _name.c_str(), e.GetDetailedMessage().c_str());
            }
        }
        throw;
    }
    Record([&](ConfigBranchUtil& e) {
        for (uint32_t i = 0; i < count; ++i)
            if (info.Has(i)) e.SetValue(nodes[i].key, info.Get(i) ? 1 : 0);
    });
}

void PnicImpl::SetPnicOffloadInfo(const PnicOffloadInfo& info) { SetSettings(kOffloads, PNIC_OFFLOAD_COUNT, info); }

void PnicImpl::SetPnicNetqueueInfo(const PnicNetqueueInfo& info) {
    SetSettings(kNetqueue, PNIC_NETQUEUE_COUNT, info);
}

void PnicImpl::SetVirtualMac(const MacAddress& mac) {
    if (!mac.IsValid()) throw HostCtlException("Invalid MAC address " + mac.GetStringAddress());
    KernelStep("Unable to set virtual MAC of pnic " + _name, [&] {
        Util::Sysinfo si(KSI_NODE_net_pNics_virtualMac);
        si.SetInstance(_name);
        si.AddInput(mac.GetStringAddress());
        si.Set();
    });
    Record([&](ConfigBranchUtil& e) { e.SetValue("virtualMac", mac.GetStringAddress()); });
}

void PnicImpl::SetPnicInfo(const PnicInfo& info) { ThrowNotAvailable("Setting NIC information"); }
void PnicImpl::SetResPoolsSchedAllowed(bool on) { ThrowNotAvailable("Resource-pool scheduling"); }
void PnicImpl::IdentifyNic(unsigned int seconds) { ThrowNotAvailable("Identifying a NIC"); }
void PnicImpl::ChangeEEPROM(uint32_t offset, const std::vector<uint8_t>& data) {
    ThrowNotAvailable("Changing the EEPROM");
}
std::vector<uint8_t> PnicImpl::DumpEEPROM() { ThrowNotAvailable("Dumping the EEPROM"); }
std::vector<uint8_t> PnicImpl::DumpRegister() { ThrowNotAvailable("Dumping the registers"); }
std::string PnicImpl::RunSelfTest(bool online) { ThrowNotAvailable("The NIC self test"); }
void PnicImpl::ReassociateDriver() { ThrowNotAvailable("Driver re-association"); }
void PnicImpl::AttachUplink() { ThrowNotAvailable("Attaching an uplink"); }
void PnicImpl::DetachUplink() { ThrowNotAvailable("Detaching an uplink"); }
void PnicImpl::EnableAutoRebind() { ThrowNotAvailable("Automatic driver rebinding"); }
std::string PnicImpl::GetPort() { ThrowNotAvailable("Looking up the uplink port of a NIC"); }

// ---- Boot replay ----------------------------------------------------------------------------

namespace {

// Whether `nic` is recorded as an uplink of a standard switch.
bool IsRecordedUplink(const std::string& nic) {
    SynchronizedConfigFileUtil config({kVssRoot});
    for (ConfigBranchUtil& sw : config->GetArray("/net/vswitch/child").GetInstances())
        for (ConfigBranchUtil& up : sw.GetArray("uplinks/child").GetInstances()) {
            std::string name;
            if (up.GetValue("pnic", &name) && name == nic) return true;
        }
    return false;
}

}  // namespace

void PnicImpl::LoadConfig() {
    SynchronizedConfigFileUtil config({kNicsRoot});
    ConfigBranchUtil entry = GetConfigLocation(config.GetFile(), false);
    if (!entry) return;
    auto attempt = [&](const char* what, const std::function<void()>& step) {
        try {
            step();
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Failed to restore %s of pnic %s: %s\n", "PnicImpl", what, _name.c_str(),
                               e.GetDetailedMessage().c_str());
        }
    };
    std::string virtualMac;
    if (entry.GetValue("virtualMac", &virtualMac) && !virtualMac.empty())
        attempt("virtual MAC", [&] {
            KernelStep("Unable to set virtual MAC of pnic " + _name, [&] {
                Util::Sysinfo si(KSI_NODE_net_pNics_virtualMac);
                si.SetInstance(_name);
                si.AddInput(virtualMac);
                si.Set();
            });
        });

    bool autoNeg = false;
    std::string speedText, duplexText;
    bool hasAuto = entry.GetValue("autoNegotiation", &autoNeg);
    bool hasSpeed = entry.GetValue("speed", &speedText) && entry.GetValue("duplex", &duplexText);
    if ((hasAuto && autoNeg) || hasSpeed) {
        try {
            LinkSpeed speed = LINK_SPEED_AUTO;
            Duplex duplex = LINK_DUPLEX_AUTO;
            if (!(hasAuto && autoNeg)) {
                speed = static_cast<LinkSpeed>(std::strtoul(speedText.c_str(), nullptr, 10));
                duplex = duplexText == "half" ? LINK_DUPLEX_HALF : LINK_DUPLEX_FULL;
                auto modes = ReadNode<KsiPnicModes>(KSI_NODE_net_pNics_supportedLinkStatus, _name,
                                                    "Unable to get supported link modes of pnic " + _name);
                bool allowed = false;
                for (uint32_t i = 0; i < modes.count && i < KSI_PNIC_MAX_MODES; ++i)
                    allowed |= modes.modes[i].speed == speed && modes.modes[i].duplex == static_cast<uint32_t>(duplex);
                if (!allowed)
                    throw HostCtlException("Speed " + speedText + " with duplex " + duplexText +
                                           " is not supported by the NIC");
            }
            SetLinkModeInternal(speed, duplex);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Failed to restore speed/duplex setting for pnic %s: %s\n", "PnicImpl",
                               _name.c_str(), e.GetDetailedMessage().c_str());
        }
    }

    bool enabled = true;
    if (entry.GetValue("nicEnabled", &enabled) && IsRecordedUplink(_name))
        attempt("administrative state", [&] { SetEnabledInternal(enabled); });

    for (const SettingNode& s : kOffloads) {
        int on = 0;
        if (entry.GetValue(s.key, &on)) attempt(s.key, [&] { SetSettingNode(s.node, on != 0, s.key); });
    }
    for (const SettingNode& s : kNetqueue) {
        int on = 0;
        if (entry.GetValue(s.key, &on)) attempt(s.key, [&] { SetSettingNode(s.node, on != 0, s.key); });
    }
    attempt("ring sizes", [&] { SetPnicRingSize(entry); });
}

void PnicImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    PnicInfo info = GetPnicInfo();
    printer->SetType("Physical NIC");
    printer->BeginObject();
    printer->Print("Name", _name);
    printer->Print("Driver", info.driver);
    printer->Print("PCI Address", info.pciAddress);
    printer->Print("MAC Address", info.mac.GetStringAddress());
    printer->Print("MTU", info.mtu);
    printer->Print("Link Up", info.link.linkUp);
    printer->Print("Admin Up", info.link.adminUp);
    printer->Print("Speed", GetLinkSpeedString(static_cast<LinkSpeed>(info.link.speed)));
    printer->Print("Duplex", GetDuplexString(info.link.duplex));
    printer->EndObject();
}

}  // namespace TarnCtl::Network
