// hostctl net nic ...: the physical NICs: listing, one NIC in detail, and
// changes to link mode, administrative state, MTU, rings, wake-on-LAN and the
// offload and queue-balancing settings.
#include <CLI/CLI.hpp>

#include <iostream>
#include <optional>

#include "command.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "hostctl/network.h"
#include "net_group.h"
#include "network/pnic_impl.h"
#include "output.h"

namespace {

using namespace HostCtl::Network;
using HostCtlTool::CommandFailure;
using HostCtlTool::Table;
using TarnCtl::Network::PnicImpl;

std::string Bool(bool b) { return b ? "true" : "false"; }
std::string UpDown(bool b) { return b ? "up" : "down"; }

std::unique_ptr<Pnic> Nic(const std::string& name) {
    auto nic = HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetPnicByName(name, false);
    if (!nic) throw CommandFailure{"Unknown NIC " + name};
    return nic;
}

void NicList() {
    Table t({"Name", "Driver", "PCI Address", "MAC Address", "MTU", "Link", "Admin", "Speed", "Duplex", "Description"});
    t.SetKind("MTU", Table::Kind::Number);
    t.SetKind("Speed", Table::Kind::Number);
    for (auto& nic : HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetPnics(PnicGetType::Present)) {
        try {
            PnicInfo i = nic->GetPnicInfo();
            t.AddRow({i.name, i.driver, i.pciAddress, i.mac.GetStringAddress(), std::to_string(i.mtu),
                      UpDown(i.link.linkUp), UpDown(i.link.adminUp), std::to_string(i.link.speed),
                      i.link.linkUp ? PnicImpl::GetDuplexString(i.link.duplex) : "", i.description});
        } catch (const HostCtl::Lib::HostCtlException& e) {
            std::cerr << "Skipping NIC " << nic->GetName() << ": " << e.what() << "\n";
        }
    }
    t.Print();
}

void NicShow(const std::string& name) {
    auto nic = Nic(name);
    PnicInfo i = nic->GetPnicInfo();
    PnicRingInfo ring, ringMax;
    nic->GetPnicRingInfo(ring, ringMax);
    PnicQueueCounts q = nic->GetPnicQueueCounts();
    HostCtlTool::Record r;
    r.Add("Name", i.name)
        .Add("Driver", i.driver)
        .Add("Legacy Driver", nic->IsLegacy())
        .Add("PCI Address", i.pciAddress)
        .Add("MAC Address", i.mac.GetStringAddress())
        .Add("Virtual MAC Address", i.virtualMac.GetStringAddress())
        .Add("MTU", static_cast<uint64_t>(i.mtu))
        .Add("Link", UpDown(i.link.linkUp))
        .Add("Admin", UpDown(i.link.adminUp))
        .Add("Speed", static_cast<uint64_t>(i.link.speed))
        .Add("Duplex", i.link.linkUp ? PnicImpl::GetDuplexString(i.link.duplex) : "")
        .Add("Auto Negotiation", i.link.autoNegotiation)
        .Add("Configured Speed", PnicImpl::GetLinkSpeedString(nic->GetConfiguredLinkSpeed()))
        .Add("Configured Duplex", PnicImpl::GetDuplexString(nic->GetConfiguredDuplex()))
        .Add("Ring RX", static_cast<uint64_t>(ring.rx))
        .Add("Ring TX", static_cast<uint64_t>(ring.tx))
        .Add("Ring RX Max", static_cast<uint64_t>(ringMax.rx))
        .Add("Ring TX Max", static_cast<uint64_t>(ringMax.tx))
        .Add("RX Queues", static_cast<uint64_t>(q.rx))
        .Add("TX Queues", static_cast<uint64_t>(q.tx))
        .Add("Wake On LAN Supported", static_cast<uint64_t>(nic->GetWakeOnLANSupported()))
        .Add("Wake On LAN Enabled", static_cast<uint64_t>(nic->GetWakeOnLANEnabled()))
        .Add("Description", i.description);
    Table modes({"Speed", "Duplex"});
    modes.SetKind("Speed", Table::Kind::Number);
    for (const PnicLinkMode& m : nic->GetSupportedModes())
        modes.AddRow({std::to_string(m.speed), PnicImpl::GetDuplexString(m.duplex)});
    r.AddTable("Supported Modes", modes);
    Table settings({"Setting", "Enabled"});
    settings.SetKind("Enabled", Table::Kind::Bool);
    PnicOffloadInfo off = nic->GetPnicOffloadInfo();
    for (uint32_t k = 0; k < PNIC_OFFLOAD_COUNT; ++k) settings.AddRow({PnicImpl::OffloadKey(k), Bool(off.Get(k))});
    PnicNetqueueInfo nq = nic->GetPnicNetqueueInfo();
    for (uint32_t k = 0; k < PNIC_NETQUEUE_COUNT; ++k) settings.AddRow({PnicImpl::NetqueueKey(k), Bool(nq.Get(k))});
    r.AddTable("Settings", settings);
    try {
        LldpInfo l = nic->GetLldpInfo();
        Table lldp({"Chassis Id", "Port Id", "TTL", "System Name", "Port Description", "Management Address"});
        lldp.SetKind("TTL", Table::Kind::Number);
        lldp.AddRow({l.chassisId, l.portId, std::to_string(l.ttl), l.systemName, l.portDescription,
                     l.managementAddress});
        r.AddTable("LLDP Neighbor", lldp);
    } catch (const HostCtl::Lib::HostCtlException&) {
        // No neighbour announced itself: nothing to show.
    }
    r.Print();
}

struct SetArgs {
    std::string nic;
    std::optional<std::string> speed, duplex;
    bool autoNeg = false, up = false, down = false;
    std::optional<unsigned> mtu, rx, tx;
    std::optional<std::string> wol;
    std::vector<std::string> offloads, netqueue;
};

// "KEY=on|off" items of --offload / --netqueue.
void ParseSettings(const std::string& option, const std::vector<std::string>& items, bool offload,
                   PnicSettingBits* out) {
    const uint32_t count = offload ? PNIC_OFFLOAD_COUNT : PNIC_NETQUEUE_COUNT;
    for (const std::string& item : items) {
        size_t eq = item.find('=');
        std::string key = item.substr(0, eq);
        uint32_t k = 0;
        while (k < count && key != (offload ? PnicImpl::OffloadKey(k) : PnicImpl::NetqueueKey(k))) ++k;
        if (eq == std::string::npos || k == count)
            throw CommandFailure{"Invalid value for " + option + ": " + item + " (KEY=on|off; see 'net nic show')"};
        out->Set(k, HostCtlTool::OnOffValue(option, item.substr(eq + 1)));
    }
}

LinkSpeed ParseSpeed(const std::string& text) {
    if (text == "auto") return LINK_SPEED_AUTO;
    char* end = nullptr;
    unsigned long n = std::strtoul(text.c_str(), &end, 10);
    if (text.empty() || *end || n == 0 || n > 0xffffffffUL)
        throw CommandFailure{"Invalid value for --speed: " + text + " (Mbit/s or auto)"};
    return static_cast<LinkSpeed>(n);
}

Duplex ParseDuplex(const std::string& text) {
    if (text == "auto") return LINK_DUPLEX_AUTO;
    if (text == "full") return LINK_DUPLEX_FULL;
    if (text == "half") return LINK_DUPLEX_HALF;
    throw CommandFailure{"Invalid value for --duplex: " + text + " (full, half or auto)"};
}

void NicSet(const SetArgs& a) {
    // Read every argument before the first change, so a typo changes nothing.
    if (a.up && a.down) throw CommandFailure{"--up and --down exclude each other"};
    if (a.autoNeg && (a.speed || a.duplex)) throw CommandFailure{"--auto excludes --speed and --duplex"};
    std::optional<LinkSpeed> speed;
    std::optional<Duplex> duplex;
    if (a.speed || a.duplex || a.autoNeg) {
        speed = a.autoNeg ? LINK_SPEED_AUTO : ParseSpeed(a.speed.value_or("auto"));
        duplex = a.autoNeg ? LINK_DUPLEX_AUTO : ParseDuplex(a.duplex.value_or(a.speed ? "full" : "auto"));
    }
    std::optional<bool> wol;
    if (a.wol) wol = HostCtlTool::OnOffValue("--wol", *a.wol);
    PnicOffloadInfo offloads;
    PnicNetqueueInfo netqueue;
    ParseSettings("--offload", a.offloads, true, &offloads);
    ParseSettings("--netqueue", a.netqueue, false, &netqueue);
    bool any = speed || a.up || a.down || a.mtu || a.rx || a.tx || wol || offloads.mask || netqueue.mask;
    if (!any) throw CommandFailure{"Nothing to set: give at least one setting"};

    auto nic = Nic(a.nic);
    if (speed) nic->SetLinkSpeedAndDuplex(*speed, *duplex);
    if (a.up || a.down) nic->SetEnabled(a.up);
    if (a.mtu) nic->SetMTU(*a.mtu);
    if (a.rx || a.tx) {
        PnicRingInfo ring;
        if (a.rx) {
            ring.flags |= PnicRingInfo::RING_RX;
            ring.rx = *a.rx;
        }
        if (a.tx) {
            ring.flags |= PnicRingInfo::RING_TX;
            ring.tx = *a.tx;
        }
        nic->SetPnicRingInfo(ring);
    }
    if (wol) nic->SetWakeOnLANEnabled(*wol);
    if (offloads.mask) nic->SetPnicOffloadInfo(offloads);
    if (netqueue.mask) nic->SetPnicNetqueueInfo(netqueue);
}

HostCtlTool::CommandGroup gNic("net.nic", 61, [](CLI::App& app) {
    CLI::App* nic = HostCtlTool::NetGroup(app)->add_subcommand("nic", "Physical NICs");
    nic->require_subcommand(1);
    nic->add_subcommand("list", "List the physical NICs")->callback(NicList);

    static std::string showName;
    auto* show = nic->add_subcommand("show", "Show one NIC with its settings and neighbour");
    show->add_option("nic", showName, "NIC name (pnx0)")->required();
    show->callback([] { NicShow(showName); });

    static SetArgs set;
    auto* s = nic->add_subcommand("set", "Change a NIC's settings; link mode, state and rings survive reboots");
    s->add_option("nic", set.nic, "NIC name (pnx0)")->required();
    s->add_option("--speed", set.speed, "Link speed in Mbit/s, or auto");
    s->add_option("--duplex", set.duplex, "full, half or auto (with a speed, full unless given)");
    s->add_flag("--auto", set.autoNeg, "Negotiate speed and duplex automatically");
    s->add_flag("--up", set.up, "Bring the NIC up (administrative state)");
    s->add_flag("--down", set.down, "Take the NIC down (administrative state)");
    s->add_option("--mtu", set.mtu, "MTU in bytes");
    s->add_option("--rx", set.rx, "Receive ring size");
    s->add_option("--tx", set.tx, "Transmit ring size");
    s->add_option("--wol", set.wol, "Wake-on-LAN by magic packet: on or off");
    s->add_option("--offload", set.offloads, "Capability mask KEY=on|off (ipv4cso, ipv4tso, sg, ...); repeatable");
    s->add_option("--netqueue", set.netqueue, "Queue balancing KEY=on|off (lbState, rsslb, ...); repeatable");
    s->callback([] { NicSet(set); });
});

}  // namespace
