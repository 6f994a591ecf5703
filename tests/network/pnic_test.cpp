// Physical NICs: link mode validation and its store transaction, rings with
// the "NoChange" refusal and the legacy channel's field mapping, wake-on-LAN,
// MTU, administrative state, neighbours (LLDP bound checks, CDP), the rename
// map and the boot replay.
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>

#include "network/network_info_impl.h"
#include "network/pnic_impl.h"
#include "network_fixture.h"
#include "platform/netdev.h"
#include "platform/sysinfo.h"
#include "sim_edits.h"

namespace NetTest {
namespace {

using namespace HostCtl::Network;
using TarnCtl::Network::NetworkInfoImpl;
using TarnCtl::Network::ParseLldpFrame;
using TarnCtl::Network::PnicImpl;

// Forwards device-control requests to the simulation, keeping a copy of each
// ethtool request; can fail one command with an errno.
class RecordingNetDev : public Platform::NetDev::Backend {
public:
    RecordingNetDev() { _next = Platform::NetDev::SetBackend(this); }
    ~RecordingNetDev() override { Platform::NetDev::SetBackend(_next); }
    int Open(const std::string& device) override { return _next->Open(device); }
    void Close(int handle) override { _next->Close(handle); }
    int Ioctl(int handle, unsigned long request, struct ifreq* req) override {
        uint32_t cmd = 0;
        if (request == SIOCETHTOOL) std::memcpy(&cmd, req->ifr_data, sizeof cmd);
        commands.push_back(request == SIOCETHTOOL ? cmd : static_cast<uint32_t>(request));
        if (cmd == ETHTOOL_SRINGPARAM) std::memcpy(&lastRing, req->ifr_data, sizeof lastRing);
        if (cmd != 0 && cmd == failCommand) return -failErrno;
        return _next->Ioctl(handle, request, req);
    }
    std::vector<uint32_t> commands;
    ethtool_ringparam lastRing{};
    uint32_t failCommand = 0;
    int failErrno = EIO;

private:
    Platform::NetDev::Backend* _next;
};

class PnicTest : public NetHostTest {
protected:
    static KsiPnicLinkStatus Link(const std::string& nic) {
        KsiPnicLinkStatus l{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_net_pNics_linkStatus);
        si.SetInstance(nic);
        si.Get(&l, sizeof l);
        return l;
    }
    static KsiPnicRingParams Rings(const std::string& nic) {
        KsiPnicRingParams r{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_net_pNics_firmware_ringParams);
        si.SetInstance(nic);
        si.Get(&r, sizeof r);
        return r;
    }
    static uint32_t Setting(uint32_t node, const std::string& nic) {
        uint32_t v = 0;
        TarnCtl::Util::Sysinfo si(node);
        si.SetInstance(nic);
        si.Get(&v, sizeof v);
        return v;
    }
    static std::string Nic(const std::string& name) { return Data("nics", "network", name); }
};

// ---- Link mode ----------------------------------------------------------------------------------------

struct ModeCase {
    const char* name;
    const char* nic;
    uint32_t speed;
    uint32_t duplex;
    const char* error;  // nullptr: accepted
};

class PnicModeRefusalTest : public PnicTest, public ::testing::WithParamInterface<ModeCase> {};

TEST_P(PnicModeRefusalTest, RefusalsChangeNothing) {
    const ModeCase& c = GetParam();
    KsiPnicLinkStatus before = Link(c.nic);
    PnicImpl nic(c.nic);
    EXPECT_EQ(Thrown([&] { nic.SetLinkSpeedAndDuplex(static_cast<LinkSpeed>(c.speed), static_cast<Duplex>(c.duplex)); }),
              c.error);
    KsiPnicLinkStatus after = Link(c.nic);
    EXPECT_EQ(after.speed, before.speed);
    EXPECT_EQ(after.autoNeg, before.autoNeg);
    EXPECT_EQ(Nic(c.nic), "<absent>");
}

const std::string kNotSupported = "Unable to set speed/duplex of pnic pnx0" + HostCtl::Lib::StatusTail(TARN_NOT_SUPPORTED);
const ModeCase kModeRefusals[] = {
    {"SpeedWithAutoDuplex", "pnx0", 1000, 0, "Must set both speed and duplex to auto or both to manual settings."},
    {"AutoSpeedWithDuplex", "pnx0", 0, 1, "Must set both speed and duplex to auto or both to manual settings."},
    {"SpeedNotInTheList", "pnx0", 123, 1, "Unsupported speed."},
    {"DuplexOutOfRange", "pnx0", 1000, 3, "Unsupported duplex."},
    {"ModeTheNicLacks", "pnx0", 25000, 1, kNotSupported.c_str()},
    {"LegacyModeTheDriverLacks", "pnx1", 25000, 1, "This Speed/Duplex setting not supported."},
    {"LegacyHalfDuplex", "pnx1", 1000, 2, "This Speed/Duplex setting not supported."},
};
INSTANTIATE_TEST_SUITE_P(Cases, PnicModeRefusalTest, ::testing::ValuesIn(kModeRefusals),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PnicTest, ManualAndAutomaticModesAreRecordedInOneObject) {
    PnicImpl nic("pnx0");
    nic.SetLinkSpeedAndDuplex(LINK_SPEED_1000, LINK_DUPLEX_FULL);
    KsiPnicLinkStatus l = Link("pnx0");
    EXPECT_EQ(l.speed, 1000u);
    EXPECT_EQ(l.duplex, 1u);
    EXPECT_EQ(l.autoNeg, 0u);
    EXPECT_EQ(Nic("pnx0"),
              R"({"auto_negotiation":false,"duplex":true,"link_speed_mb":"SPEED_1000","mac":"00:1b:21:0a:4c:00","name":"pnx0"})");
    EXPECT_EQ(nic.GetConfiguredLinkSpeed(), LINK_SPEED_1000);
    EXPECT_EQ(nic.GetConfiguredDuplex(), LINK_DUPLEX_FULL);
    nic.SetLinkSpeedAndDuplex(LINK_SPEED_100, LINK_DUPLEX_HALF);
    EXPECT_EQ(Link("pnx0").duplex, 2u);
    EXPECT_EQ(Nic("pnx0"),
              R"({"auto_negotiation":false,"duplex":false,"link_speed_mb":"SPEED_100","mac":"00:1b:21:0a:4c:00","name":"pnx0"})");
    nic.SetLinkSpeedAndDuplex(LINK_SPEED_AUTO, LINK_DUPLEX_AUTO);
    EXPECT_EQ(Link("pnx0").autoNeg, 1u);
    EXPECT_EQ(Link("pnx0").speed, 10000u);
    EXPECT_EQ(Nic("pnx0"), R"({"auto_negotiation":true,"mac":"00:1b:21:0a:4c:00","name":"pnx0"})");
    EXPECT_EQ(nic.GetConfiguredLinkSpeed(), LINK_SPEED_AUTO);
}

TEST_F(PnicTest, LegacyDriversChangeTheModeThroughTheChannel) {
    RecordingNetDev dev;
    PnicImpl nic("pnx1");
    nic.SetLinkSpeedAndDuplex(LINK_SPEED_1000, LINK_DUPLEX_FULL);
    EXPECT_EQ(dev.commands, (std::vector<uint32_t>{ETHTOOL_GSET, ETHTOOL_SSET}));
    EXPECT_EQ(Link("pnx1").speed, 1000u);
    EXPECT_EQ(Link("pnx1").autoNeg, 0u);
    EXPECT_NE(Nic("pnx1").find("\"link_speed_mb\":\"SPEED_1000\""), std::string::npos);
    // Native nodes refuse legacy NICs: the channel is the only way.
    TarnCtl::Util::Sysinfo si(KSI_NODE_net_pNics_linkSet);
    si.SetThrowOnError(false);
    si.SetInstance("pnx1");
    si.AddInput("10000");
    si.AddInput("full");
    EXPECT_EQ(si.Set(), TARN_NOT_SUPPORTED);
}

TEST_F(PnicTest, SpeedTexts) {
    EXPECT_EQ(PnicImpl::GetLinkSpeedString(LINK_SPEED_37500), "37500");
    EXPECT_EQ(PnicImpl::GetLinkSpeedString(static_cast<LinkSpeed>(123)), "auto");
    EXPECT_EQ(PnicImpl::GetLinkSpeedString(LINK_SPEED_AUTO), "auto");
    EXPECT_EQ(PnicImpl::GetLinkSpeedString(LINK_SPEED_400000), "400000");
    EXPECT_EQ(PnicImpl::GetDuplexString(LINK_DUPLEX_HALF), "half");
    EXPECT_EQ(PnicImpl::GetDuplexString(LINK_DUPLEX_AUTO), "auto");
    // A NIC that offers 37500 Mbit/s records it in the store form.
    Kernel([](TarnSim::KernelState& s) {
        KsiPnicModes m{};
        m.count = 1;
        m.modes[0].speed = 37500;
        m.modes[0].duplex = 1;
        s.Put(KSI_NODE_net_pNics_supportedModes, {"pnx3"}, m);
    });
    PnicImpl("pnx3").SetLinkSpeedAndDuplex(LINK_SPEED_37500, LINK_DUPLEX_FULL);
    EXPECT_NE(Nic("pnx3").find("\"link_speed_mb\":\"SPEED_37500\""), std::string::npos);
    EXPECT_EQ(PnicImpl("pnx3").GetConfiguredLinkSpeed(), LINK_SPEED_37500);
}

// ---- Rings ----------------------------------------------------------------------------------------------

TEST_F(PnicTest, RingSizesThatChangeNothingAreRefusedBeforeAnyWrite) {
    RecordingNetDev dev;
    for (const char* name : {"pnx0", "pnx1"}) {
        PnicImpl nic(name);
        PnicRingInfo current, max;
        nic.GetPnicRingInfo(current, max);
        PnicRingInfo same;
        same.flags = PnicRingInfo::RING_RX | PnicRingInfo::RING_TX;
        same.rx = current.rx;
        same.tx = current.tx;
        same.rxJumbo = 77;  // not flagged: not a change
        dev.commands.clear();
        try {
            nic.SetPnicRingInfo(same);
            ADD_FAILURE() << name << ": no exception";
        } catch (const SyscallFailureException& e) {
            EXPECT_STREQ(e.what(), "SetPnicRingInfo failed: NoChange");
            EXPECT_EQ(e.GetCall(), "SetPnicRingInfo");
            EXPECT_EQ(e.GetReason(), "NoChange");
        }
        EXPECT_EQ(std::count(dev.commands.begin(), dev.commands.end(), ETHTOOL_SRINGPARAM), 0) << name;
        EXPECT_EQ(Thrown([&] { nic.SetPnicRingInfo(PnicRingInfo{}); }), "SetPnicRingInfo failed: NoChange");
        EXPECT_EQ(Nic(name), "<absent>");
    }
    EXPECT_EQ(Rings("pnx0").rx, 1024u);
}

TEST_F(PnicTest, NativeRingsAreSetAndRecorded) {
    PnicImpl nic("pnx0");
    PnicRingInfo r;
    r.flags = PnicRingInfo::RING_RX;
    r.rx = 2048;
    r.tx = 1;  // not flagged
    nic.SetPnicRingInfo(r);
    EXPECT_EQ(Rings("pnx0").rx, 2048u);
    EXPECT_EQ(Rings("pnx0").tx, 1024u);
    EXPECT_EQ(Nic("pnx0"), R"({"mac":"00:1b:21:0a:4c:00","name":"pnx0","ring":{"rx":2048,"tx":1024}})");
    r.rx = 4097;  // above the maximum
    EXPECT_EQ(Thrown([&] { nic.SetPnicRingInfo(r); }),
              "Unable to set ring parameters of pnic pnx0" + HostCtl::Lib::StatusTail(TARN_BAD_PARAM));
    EXPECT_EQ(Rings("pnx0").rx, 2048u);
    EXPECT_EQ(Nic("pnx0"), R"({"mac":"00:1b:21:0a:4c:00","name":"pnx0","ring":{"rx":2048,"tx":1024}})");
}

TEST_F(PnicTest, LegacyRingRequestsChangeExactlyTheFlaggedFields) {
    // pnx1 has no mini or jumbo rings; each flag bit selects one field of the request.
    RecordingNetDev dev;
    const uint32_t flags[] = {PnicRingInfo::RING_RX_MINI, PnicRingInfo::RING_RX_JUMBO, PnicRingInfo::RING_RX,
                              PnicRingInfo::RING_TX};
    for (uint32_t flag : flags) {
        KsiPnicRingParams before = Rings("pnx1");
        PnicRingInfo r{flag, 100, 101, 102, 103};
        std::string error = Thrown([&] { PnicImpl("pnx1").SetPnicRingInfo(r); });
        EXPECT_EQ(dev.lastRing.rx_pending, flag == PnicRingInfo::RING_RX ? 100u : before.rx) << flag;
        EXPECT_EQ(dev.lastRing.rx_mini_pending, flag == PnicRingInfo::RING_RX_MINI ? 101u : before.rxMini) << flag;
        EXPECT_EQ(dev.lastRing.rx_jumbo_pending, flag == PnicRingInfo::RING_RX_JUMBO ? 102u : before.rxJumbo) << flag;
        EXPECT_EQ(dev.lastRing.tx_pending, flag == PnicRingInfo::RING_TX ? 103u : before.tx) << flag;
        KsiPnicRingParams after = Rings("pnx1");
        if (flag == PnicRingInfo::RING_RX || flag == PnicRingInfo::RING_TX) {
            EXPECT_EQ(error, "<no exception>");
            EXPECT_EQ(after.rx, dev.lastRing.rx_pending);
            EXPECT_EQ(after.tx, dev.lastRing.tx_pending);
        } else {
            // The driver has no such ring: the request fails and nothing changes or is recorded.
            EXPECT_EQ(error, "ioctl failed: Invalid argument (ETHTOOL_SRINGPARAM on pnx1)");
            EXPECT_EQ(after.rx, before.rx);
            EXPECT_EQ(after.tx, before.tx);
            EXPECT_EQ(Nic("pnx1"), "<absent>");
        }
    }
    EXPECT_EQ(Nic("pnx1"), R"({"mac":"00:1b:21:0a:4c:01","name":"pnx1","ring":{"rx":100,"tx":103}})");
}

// ---- Wake-on-LAN, MTU, state ----------------------------------------------------------------------------

TEST_F(PnicTest, WakeOnLanOnBothPaths) {
    RecordingNetDev dev;
    PnicImpl legacy("pnx1");
    EXPECT_EQ(legacy.GetWakeOnLANSupported(), 34u);
    legacy.SetWakeOnLANEnabled(true);
    EXPECT_EQ(legacy.GetWakeOnLANEnabled(), static_cast<uint32_t>(WOL_MAGIC));
    EXPECT_NE(std::find(dev.commands.begin(), dev.commands.end(), ETHTOOL_SWOL), dev.commands.end());
    dev.failCommand = ETHTOOL_SWOL;
    try {
        legacy.SetWakeOnLANEnabled(false);
        ADD_FAILURE() << "no exception";
    } catch (const SyscallFailureException& e) {
        EXPECT_STREQ(e.what(), "ioctl failed: Input/output error (ETHTOOL_SWOL on pnx1)");
        EXPECT_EQ(e.GetCall(), "ioctl");
    }
    EXPECT_EQ(legacy.GetWakeOnLANEnabled(), static_cast<uint32_t>(WOL_MAGIC));

    PnicImpl native("pnx0");
    native.SetWakeOnLANEnabled(false);
    EXPECT_EQ(native.GetWakeOnLANEnabled(), 0u);
    EXPECT_EQ(Thrown([] { PnicImpl("pnx2").SetWakeOnLANEnabled(true); }),
              "Wake-on-LAN by magic packet is not supported by pnic pnx2");
}

TEST_F(PnicTest, MtuOnBothPaths) {
    RecordingNetDev dev;
    PnicImpl("pnx0").SetMTU(9000);
    EXPECT_EQ(PnicImpl("pnx0").GetMTU(), 9000u);
    EXPECT_EQ(Thrown([] { PnicImpl("pnx0").SetMTU(9001); }),
              "Unable to set MTU of pnic pnx0 to 9001" + HostCtl::Lib::StatusTail(TARN_BAD_PARAM));
    EXPECT_EQ(PnicImpl("pnx0").GetMTU(), 9000u);
    EXPECT_TRUE(dev.commands.empty());
    PnicImpl("pnx1").SetMTU(1600);
    EXPECT_EQ(dev.commands, (std::vector<uint32_t>{static_cast<uint32_t>(SIOCSIFMTU)}));
    EXPECT_EQ(PnicImpl("pnx1").GetMTU(), 1600u);
}

TEST_F(PnicTest, AdministrativeStateIsSetAndRecorded) {
    PnicImpl nic("pnx3");
    nic.SetEnabled(false);
    EXPECT_EQ(Link("pnx3").adminUp, 0u);
    EXPECT_EQ(Link("pnx3").linkUp, 0u);
    EXPECT_FALSE(nic.IsEnabled());
    EXPECT_EQ(Nic("pnx3"), R"({"enabled":false,"mac":"0c:42:a1:5d:70:11","name":"pnx3"})");
    Fault(KSI_NODE_net_pNics_linkSet, TARN_BUSY, "pnx3");
    EXPECT_EQ(Thrown([&] { nic.SetEnabled(true); }),
              "Unable to bring pnic pnx3 up" + HostCtl::Lib::StatusTail(TARN_BUSY));
    EXPECT_EQ(Nic("pnx3"), R"({"enabled":false,"mac":"0c:42:a1:5d:70:11","name":"pnx3"})");
    nic.SetEnabled(true);
    EXPECT_EQ(Link("pnx3").linkUp, 1u);
    // A NIC without a cable comes up administratively only.
    PnicImpl("pnx2").SetEnabled(true);
    EXPECT_EQ(Link("pnx2").adminUp, 1u);
    EXPECT_EQ(Link("pnx2").linkUp, 0u);
}

TEST_F(PnicTest, SetterWritesNothingWhileBooting) {
    Booting([] {
        PnicImpl("pnx0").SetLinkSpeedAndDuplex(LINK_SPEED_1000, LINK_DUPLEX_FULL);
        PnicImpl("pnx3").SetEnabled(false);
        PnicRingInfo r{PnicRingInfo::RING_RX, 2048, 0, 0, 0};
        PnicImpl("pnx0").SetPnicRingInfo(r);
    });
    EXPECT_EQ(Link("pnx0").speed, 1000u);
    EXPECT_EQ(Link("pnx3").adminUp, 0u);
    EXPECT_EQ(Rings("pnx0").rx, 2048u);
    EXPECT_EQ(Nic("pnx0"), "<absent>");
    EXPECT_EQ(Nic("pnx3"), "<absent>");
}

TEST_F(PnicTest, OffloadAndQueueSettingsAreSetAndRecordedByKey) {
    PnicImpl nic("pnx0");
    PnicOffloadInfo off;
    off.Set(PNIC_OFFLOAD_IPV4_TSO, false);
    off.Set(PNIC_OFFLOAD_VLAN_UNTAGGING, false);
    nic.SetPnicOffloadInfo(off);
    PnicNetqueueInfo nq;
    nq.Set(PNIC_NETQUEUE_RSS_LB, false);
    nic.SetPnicNetqueueInfo(nq);
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_maskHwCapabilities_CAP_TSO, "pnx0"), 0u);
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_maskHwCapabilities_CAP_VLAN_RX, "pnx0"), 0u);
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_maskHwCapabilities_CAP_IP_CSUM, "pnx0"), 1u);
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_queueLBSetting_FEAT_RSS, "pnx0"), 0u);
    EXPECT_FALSE(nic.GetPnicOffloadInfo().Get(PNIC_OFFLOAD_IPV4_TSO));
    EXPECT_TRUE(nic.GetPnicOffloadInfo().Get(PNIC_OFFLOAD_IPV4_CSO));
    EXPECT_EQ(Nic("pnx0"), R"({"capabilities":{"ipv4_tso":0,"vlan_untagging":0},"mac":"00:1b:21:0a:4c:00",)"
                           R"("name":"pnx0","queue_balancing":{"rss_lb":0}})");
}

TEST_F(PnicTest, ARefusedSettingPutsBackTheOnesAlreadyChanged) {
    PnicOffloadInfo off;
    off.Set(PNIC_OFFLOAD_IPV4_TSO, false);
    off.Set(PNIC_OFFLOAD_HIGH_DMA, false);
    off.Set(PNIC_OFFLOAD_VLAN_UNTAGGING, false);
    Kernel([](TarnSim::KernelState& s) { s.SetAreaValue("network.pnics", "pnx0/fixed/untagging", "1"); });
    EXPECT_EQ(Thrown([&] { PnicImpl("pnx0").SetPnicOffloadInfo(off); }),
              "Unable to set untagging of pnic pnx0" + HostCtl::Lib::StatusTail(TARN_NOT_SUPPORTED));
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_maskHwCapabilities_CAP_TSO, "pnx0"), 1u);
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_maskHwCapabilities_CAP_NET_HIGH_DMA, "pnx0"), 1u);
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_maskHwCapabilities_CAP_VLAN_RX, "pnx0"), 1u);
    EXPECT_EQ(Nic("pnx0"), "<absent>");
}

// ---- Neighbours -------------------------------------------------------------------------------------------

TEST_F(PnicTest, LldpNeighbourIsParsed) {
    LldpInfo l = PnicImpl("pnx0").GetLldpInfo();
    EXPECT_EQ(l.chassisId, "00:1c:73:aa:bb:01");
    EXPECT_EQ(l.portId, "Ethernet12");
    EXPECT_EQ(l.ttl, 120u);
    EXPECT_EQ(l.systemName, "tor-a.lab.example");
    EXPECT_EQ(l.portDescription, "host-a uplink 0");
    EXPECT_EQ(l.capabilities, 20u);
    EXPECT_EQ(l.managementAddress, "192.168.10.2");
    EXPECT_EQ(Thrown([] { PnicImpl("pnx3").GetLldpInfo(); }),
              std::string("Unable to collect LLDP data for this NIC: ") + TARN_ReturnStatusToString(TARN_NOT_FOUND));
}

TEST_F(PnicTest, LldpTlvBoundsAreChecked) {
    const std::vector<std::pair<std::vector<uint8_t>, std::string>> cases = {
        {{0x02}, "TLV read over boundary."},
        {{0x06, 0x02, 0x00, 0x78, 0x02}, "TLV read over boundary."},
        {{0x02, 0x07, 0x04, 0x00}, "TLV length overflow."},
        {{0x06, 0x03, 0x00, 0x78}, "TLV length overflow."},
        {{0x06, 0x01, 0x00}, "Invalid TLV."},
        {{0x02, 0x01, 0x07}, "Invalid TLV."},
        {{0x00, 0x01, 0x00}, "Invalid TLV."},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(Thrown([&] { ParseLldpFrame(bytes.data(), bytes.size()); }), text) << text;
    // A TLV that ends exactly at the end of the data is whole.
    const std::vector<uint8_t> exact = {0x06, 0x02, 0x00, 0x78};
    EXPECT_EQ(ParseLldpFrame(exact.data(), exact.size()).ttl, 120u);
    // Through the NIC, with the reason after the NIC's message.
    Kernel([](TarnSim::KernelState& s) {
        KsiPnicLldpFrame f{};
        const uint8_t bad[] = {0x02, 0x07, 0x04, 0x00};
        f.length = sizeof bad;
        std::memcpy(f.data, bad, sizeof bad);
        s.Put(KSI_NODE_net_pNics_lldpInfo, {"pnx3"}, f);
    });
    EXPECT_EQ(Thrown([] { PnicImpl("pnx3").GetLldpInfo(); }),
              "Unable to collect LLDP data for this NIC: TLV length overflow.");
}

TEST_F(PnicTest, CdpNeighbour) {
    EXPECT_EQ(Thrown([] { PnicImpl("pnx0").GetCdpInfo(); }), "Unable to collect CDP data for this NIC.");
    Kernel([](TarnSim::KernelState& s) {
        KsiPnicCdpInfo c{};
        c.version = 2;
        std::strcpy(c.deviceId, "tor-b");
        std::strcpy(c.portId, "GigabitEthernet1/0/7");
        c.vlan = 100;
        c.mtu = 9000;
        c.fullDuplex = 1;
        s.Put(KSI_NODE_net_pNics_cdpInfo, {"pnx0"}, c);
    });
    CdpSummary c = PnicImpl("pnx0").GetCdpInfo();
    EXPECT_EQ(c.cdpVersion, 2u);
    EXPECT_EQ(c.deviceId, "tor-b");
    EXPECT_EQ(c.portId, "GigabitEthernet1/0/7");
    EXPECT_EQ(c.vlan, 100);
    EXPECT_EQ(c.mtu, 9000u);
    EXPECT_TRUE(c.fullDuplex);
}

// ---- Inventory and the rename map ------------------------------------------------------------------------------

TEST_F(PnicTest, InventoryLooksNicsUp) {
    NetworkInfoImpl net;
    EXPECT_EQ(net.GetPnicNameList(PnicGetType::Present), (std::vector<std::string>{"pnx0", "pnx1", "pnx2", "pnx3"}));
    EXPECT_TRUE(PnicImpl::IsValidPnic("pnx3"));
    EXPECT_FALSE(PnicImpl::IsValidPnic("pnx4"));
    EXPECT_EQ(net.GetPnicByName("pnx4", false), nullptr);
    ASSERT_NE(net.GetPnicByName("pnx2", false), nullptr);
    EXPECT_TRUE(net.GetPnicByName("pnx1", false)->IsLegacy());
    EXPECT_FALSE(net.GetPnicByName("pnx2", false)->IsLinkUp());
    EXPECT_EQ(net.GetPnicByName("pnx2", false)->GetHardwareCapabilities().GetMask() & 0x1, 0x1u);
}

TEST_F(PnicTest, RenamedNicsAreFoundThroughTheirRecordedMac) {
    // pnx7 was recorded with the MAC that pnx1 has now; pnx9 shares it but is not present.
    Put("nics", "network", "pnx7", R"({"name":"pnx7","mac":"00:1b:21:0a:4c:01"})");
    Put("nics", "network", "pnx9", R"({"name":"pnx9","mac":"00:1b:21:0a:4c:01"})");
    Put("nics", "network", "pnx8", R"({"name":"pnx8","mac":"02:00:00:00:00:08"})");
    EXPECT_EQ(PnicImpl::GetNewNicName("pnx7"), "");  // pnx1 has no record yet
    NetworkInfoImpl().RestorePnics();                  // boot records every present NIC with its MAC
    EXPECT_EQ(Nic("pnx1"), R"({"mac":"00:1b:21:0a:4c:01","name":"pnx1"})");
    EXPECT_EQ(PnicImpl::GetNewNicName("pnx7"), "pnx1");
    EXPECT_EQ(PnicImpl::GetNewNicName("pnx9"), "pnx1");
    EXPECT_EQ(PnicImpl::GetNewNicName("pnx8"), "");
    EXPECT_EQ(PnicImpl::GetNewNicName("pnx5"), "");
}

// ---- Boot replay -------------------------------------------------------------------------------------------------

struct ReplayCase {
    const char* name;
    bool uplink;  // pnx3 is an uplink of a recorded switch
    uint32_t adminUpAfter;
};

class PnicReplayTest : public PnicTest, public ::testing::WithParamInterface<ReplayCase> {};

TEST_P(PnicReplayTest, AdministrativeStateComesBackOnlyForUplinks) {
    const ReplayCase& c = GetParam();
    if (c.uplink) Put("switches", "network_vss", "vSwitch0", R"({"name":"vSwitch0","bridge":{"nics":["pnx3"]}})");
    PnicImpl("pnx3").SetEnabled(false);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Link("pnx3").adminUp, c.adminUpAfter);
}

const ReplayCase kReplay[] = {{"Uplink", true, 0}, {"NotAnUplink", false, 1}};
INSTANTIATE_TEST_SUITE_P(Cases, PnicReplayTest, ::testing::ValuesIn(kReplay),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PnicTest, RecordedSettingsComeBackAfterAReboot) {
    PnicImpl("pnx0").SetLinkSpeedAndDuplex(LINK_SPEED_10000, LINK_DUPLEX_FULL);
    PnicImpl("pnx1").SetLinkSpeedAndDuplex(LINK_SPEED_1000, LINK_DUPLEX_FULL);
    PnicRingInfo r{PnicRingInfo::RING_RX | PnicRingInfo::RING_TX, 2048, 0, 0, 512};
    PnicImpl("pnx0").SetPnicRingInfo(r);
    PnicImpl("pnx0").SetVirtualMac(MacAddress("02:00:00:aa:bb:cc"));
    PnicOffloadInfo off;
    off.Set(PNIC_OFFLOAD_SG, false);
    PnicImpl("pnx3").SetPnicOffloadInfo(off);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Link("pnx0").speed, 10000u);
    EXPECT_EQ(Link("pnx0").autoNeg, 0u);
    EXPECT_EQ(Link("pnx1").speed, 1000u);
    EXPECT_EQ(Link("pnx1").autoNeg, 0u);
    EXPECT_EQ(Rings("pnx0").rx, 2048u);
    EXPECT_EQ(Rings("pnx0").tx, 512u);
    EXPECT_EQ(PnicImpl("pnx0").GetVirtualMacAddress().GetStringAddress(), "02:00:00:aa:bb:cc");
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_maskHwCapabilities_CAP_NET_SG, "pnx3"), 0u);
    EXPECT_EQ(Setting(KSI_NODE_net_pNics_maskHwCapabilities_CAP_NET_SG, "pnx0"), 1u);
}

TEST_F(PnicTest, ReplaySkipsAModeTheNicNoLongerOffersAndGoesOn) {
    Put("nics", "network", "pnx0",
        R"({"name":"pnx0","mac":"00:1b:21:0a:4c:00","auto_negotiation":false,"link_speed_mb":"SPEED_25000",)"
        R"("duplex":true,"ring":{"rx":512}})");
    Platform::Log::Capture log;
    TarnSim::Profile::Reboot();
    EXPECT_TRUE(log.Contains("PnicImpl: Failed to restore speed/duplex setting for pnic pnx0: Speed 25000 with duplex "
                             "full is not supported by the NIC"));
    EXPECT_EQ(Link("pnx0").autoNeg, 1u);
    EXPECT_EQ(Rings("pnx0").rx, 512u);
}

// ---- Store failures put the NIC back ----------------------------------------------------------

struct StoreFaultCase {
    const char* name;
    TarnSim::StoreFault::Op op;
    const char* text;
};
const StoreFaultCase kNicStoreFaults[] = {
    {"write", TarnSim::StoreFault::Op::Write, "Unable to write halden/network/nics/pnx0: injected fault"},
    {"commit", TarnSim::StoreFault::Op::Commit, "Unable to commit the store transaction: injected fault"},
};

TEST_F(PnicTest, LinkModeIsPutBackWhenTheStoreRefusesIt) {
    PnicImpl nic("pnx0");
    for (const auto& c : kNicStoreFaults) {
        SCOPED_TRACE(c.name);
        TarnSim::InjectStoreFault({c.op});
        EXPECT_EQ(Thrown([&] { nic.SetLinkSpeedAndDuplex(LINK_SPEED_1000, LINK_DUPLEX_FULL); }), c.text);
        EXPECT_EQ(Link("pnx0").autoNeg, 1u);
        EXPECT_EQ(Link("pnx0").speed, 10000u);
        EXPECT_EQ(Nic("pnx0"), "<absent>");
    }
    // From one manual mode to another: the first one comes back.
    nic.SetLinkSpeedAndDuplex(LINK_SPEED_1000, LINK_DUPLEX_FULL);
    const std::string recorded = Nic("pnx0");
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    EXPECT_EQ(Thrown([&] { nic.SetLinkSpeedAndDuplex(LINK_SPEED_100, LINK_DUPLEX_HALF); }),
              "Unable to commit the store transaction: injected fault");
    EXPECT_EQ(Link("pnx0").speed, 1000u);
    EXPECT_EQ(Link("pnx0").duplex, 1u);
    EXPECT_EQ(Link("pnx0").autoNeg, 0u);
    EXPECT_EQ(Nic("pnx0"), recorded);
    // And back from manual to automatic.
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Write});
    EXPECT_EQ(Thrown([&] { nic.SetLinkSpeedAndDuplex(LINK_SPEED_AUTO, LINK_DUPLEX_AUTO); }),
              "Unable to write halden/network/nics/pnx0: injected fault");
    EXPECT_EQ(Link("pnx0").speed, 1000u);
    EXPECT_EQ(Link("pnx0").autoNeg, 0u);
    EXPECT_EQ(Nic("pnx0"), recorded);
}

TEST_F(PnicTest, LegacyLinkModeIsPutBackThroughTheChannel) {
    RecordingNetDev dev;
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    EXPECT_EQ(Thrown([] { PnicImpl("pnx1").SetLinkSpeedAndDuplex(LINK_SPEED_1000, LINK_DUPLEX_FULL); }),
              "Unable to commit the store transaction: injected fault");
    EXPECT_EQ(dev.commands, (std::vector<uint32_t>{ETHTOOL_GSET, ETHTOOL_SSET, ETHTOOL_GSET, ETHTOOL_SSET}));
    EXPECT_EQ(Link("pnx1").autoNeg, 1u);
    EXPECT_EQ(Nic("pnx1"), "<absent>");
}

TEST_F(PnicTest, AManualModeOfALinkWithoutCarrierComesBackFromTheStore) {
    // The mode the NIC is set to, which a link without carrier does not show.
    auto mode = [] {
        std::string m;
        Kernel([&](TarnSim::KernelState& s) { m = s.GetAreaValue("network.pnics", "pnx2/mode", "auto"); });
        return m;
    };
    PnicImpl nic("pnx2");
    nic.SetLinkSpeedAndDuplex(LINK_SPEED_1000, LINK_DUPLEX_FULL);
    ASSERT_EQ(Link("pnx2").speed, 0u);  // no carrier: the kernel shows no speed
    ASSERT_EQ(mode(), "1000/1");
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    EXPECT_EQ(Thrown([&] { nic.SetLinkSpeedAndDuplex(LINK_SPEED_10000, LINK_DUPLEX_FULL); }),
              "Unable to commit the store transaction: injected fault");
    EXPECT_EQ(mode(), "1000/1");
    EXPECT_EQ(Link("pnx2").autoNeg, 0u);
    EXPECT_EQ(nic.GetConfiguredLinkSpeed(), LINK_SPEED_1000);
}

TEST_F(PnicTest, AdministrativeStateIsPutBackWhenTheStoreRefusesIt) {
    PnicImpl nic("pnx3");
    for (auto op : {TarnSim::StoreFault::Op::Write, TarnSim::StoreFault::Op::Commit}) {
        TarnSim::InjectStoreFault({op});
        EXPECT_NE(Thrown([&] { nic.SetEnabled(false); }), "");
        EXPECT_EQ(Link("pnx3").adminUp, 1u);
        EXPECT_EQ(Link("pnx3").linkUp, 1u);
        EXPECT_EQ(Nic("pnx3"), "<absent>");
    }
    nic.SetEnabled(false);
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    EXPECT_EQ(Thrown([&] { nic.SetEnabled(true); }), "Unable to commit the store transaction: injected fault");
    EXPECT_EQ(Link("pnx3").adminUp, 0u);
    EXPECT_EQ(Nic("pnx3"), R"({"enabled":false,"mac":"0c:42:a1:5d:70:11","name":"pnx3"})");
}

TEST_F(PnicTest, AFailedPutBackIsLoggedAndTheStoreErrorThrown) {
    Platform::Log::Capture log;
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    // The second write, the put-back, fails.
    TarnTest::FailKernel(KSI_NODE_net_pNics_linkSet, TARN_BUSY, {.instance = "pnx3", .skip = 1});
    EXPECT_EQ(Thrown([] { PnicImpl("pnx3").SetEnabled(false); }),
              "Unable to commit the store transaction: injected fault");
    EXPECT_TRUE(log.Contains("PnicImpl: Unable to put back the administrative state of pnic pnx3: Unable to bring "
                             "pnic pnx3 up" + HostCtl::Lib::StatusTail(TARN_BUSY)));
    EXPECT_EQ(Link("pnx3").adminUp, 0u);
}

}  // namespace
}  // namespace NetTest
