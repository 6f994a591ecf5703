// The simulated device-control channel of legacy-driver NICs: SIOCETHTOOL with
// the standard linux/ethtool.h structures (settings, driver info, wake-on-LAN,
// rings, pause, coalescing, link) and the MTU requests, answered from the same
// model as the kernel nodes. Native-driver NICs do not answer it (-EOPNOTSUPP),
// as they have no such channel.
#include <linux/ethtool.h>
#include <linux/sockios.h>
#include <net/if.h>

#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "network_model.h"
#include "network_pnic_model.h"
#include "platform/netdev.h"

namespace TarnSim {

namespace {

using namespace Network::Pnics;

class SimNetDev : public Platform::NetDev::Backend {
public:
    int Open(const std::string& device) override {
        bool exists = false;
        WithState([&](KernelState& s) { exists = Exists(s, device); });
        if (!exists) return -ENODEV;
        std::lock_guard<std::mutex> g(_mu);
        _open[++_next] = device;
        return _next;
    }

    void Close(int handle) override {
        std::lock_guard<std::mutex> g(_mu);
        _open.erase(handle);
    }

    int Ioctl(int handle, unsigned long request, struct ifreq* req) override {
        std::string device;
        {
            std::lock_guard<std::mutex> g(_mu);
            auto it = _open.find(handle);
            if (it == _open.end()) return -EBADF;
            device = it->second;
        }
        if (!req || device != std::string(req->ifr_name, strnlen(req->ifr_name, IFNAMSIZ))) return -EINVAL;
        int rc = -EOPNOTSUPP;
        bool changes = request == SIOCSIFMTU || (request == SIOCETHTOOL && req->ifr_data && IsSetCommand(req));
        WithState(
            [&](KernelState& s) {
                if (!Exists(s, device)) {
                    rc = -ENODEV;
                    return;
                }
                if (!IsLegacy(s, device)) return;
                rc = Dispatch(s, device, request, req);
            },
            changes);
        return rc;
    }

private:
    static uint32_t Command(const struct ifreq* req) {
        uint32_t cmd = 0;
        std::memcpy(&cmd, req->ifr_data, sizeof cmd);
        return cmd;
    }
    static bool IsSetCommand(const struct ifreq* req) {
        switch (Command(req)) {
        case ETHTOOL_SSET: case ETHTOOL_SWOL: case ETHTOOL_SRINGPARAM: case ETHTOOL_SPAUSEPARAM:
        case ETHTOOL_SCOALESCE:
            return true;
        default:
            return false;
        }
    }

    static int Dispatch(KernelState& s, const std::string& name, unsigned long request, struct ifreq* req) {
        if (request == SIOCGIFMTU) {
            req->ifr_mtu = static_cast<int>(Props(s, name).mtu);
            return 0;
        }
        if (request == SIOCSIFMTU)
            return req->ifr_mtu < 0 || SetMtu(s, name, static_cast<uint32_t>(req->ifr_mtu)) != TARN_OK ? -EINVAL : 0;
        if (request != SIOCETHTOOL || !req->ifr_data) return -EINVAL;
        void* data = req->ifr_data;
        switch (Command(req)) {
        case ETHTOOL_GSET: {
            auto* cmd = static_cast<ethtool_cmd*>(data);
            KsiPnicLinkStatus l = Link(s, name);
            std::memset(cmd, 0, sizeof *cmd);
            cmd->cmd = ETHTOOL_GSET;
            ethtool_cmd_speed_set(cmd, l.linkUp ? l.speed : static_cast<uint32_t>(SPEED_UNKNOWN));
            cmd->duplex = !l.linkUp ? DUPLEX_UNKNOWN : l.duplex == 2 ? DUPLEX_HALF : DUPLEX_FULL;
            cmd->autoneg = l.autoNeg ? AUTONEG_ENABLE : AUTONEG_DISABLE;
            cmd->port = PORT_TP;
            cmd->supported = SUPPORTED_Autoneg | SUPPORTED_TP;
            KsiPnicModes m = Modes(s, name);
            for (uint32_t i = 0; i < m.count && i < KSI_PNIC_MAX_MODES; ++i) {
                if (m.modes[i].speed == 1000) cmd->supported |= SUPPORTED_1000baseT_Full;
                if (m.modes[i].speed == 100) cmd->supported |= m.modes[i].duplex == 2 ? SUPPORTED_100baseT_Half : SUPPORTED_100baseT_Full;
                if (m.modes[i].speed == 10000) cmd->supported |= SUPPORTED_10000baseT_Full;
            }
            cmd->advertising = cmd->supported;
            return 0;
        }
        case ETHTOOL_SSET: {
            auto* cmd = static_cast<ethtool_cmd*>(data);
            if (cmd->autoneg == AUTONEG_ENABLE) return SetMode(s, name, 0, 0) == TARN_OK ? 0 : -EINVAL;
            uint32_t duplex = cmd->duplex == DUPLEX_HALF ? 2 : cmd->duplex == DUPLEX_FULL ? 1 : 0;
            if (!duplex) return -EINVAL;
            return SetMode(s, name, ethtool_cmd_speed(cmd), duplex) == TARN_OK ? 0 : -EINVAL;
        }
        case ETHTOOL_GDRVINFO: {
            auto* info = static_cast<ethtool_drvinfo*>(data);
            KsiPnicProperties p = Props(s, name);
            std::memset(info, 0, sizeof *info);
            info->cmd = ETHTOOL_GDRVINFO;
            std::strncpy(info->driver, p.driver, sizeof info->driver - 1);
            std::strncpy(info->version, p.driverVersion, sizeof info->version - 1);
            std::strncpy(info->fw_version, p.firmwareVersion, sizeof info->fw_version - 1);
            std::strncpy(info->bus_info, p.pciAddress, sizeof info->bus_info - 1);
            return 0;
        }
        case ETHTOOL_GWOL: {
            auto* wol = static_cast<ethtool_wolinfo*>(data);
            KsiPnicProperties p = Props(s, name);
            std::memset(wol, 0, sizeof *wol);
            wol->cmd = ETHTOOL_GWOL;
            wol->supported = p.wolSupported;
            wol->wolopts = p.wolEnabled;
            return 0;
        }
        case ETHTOOL_SWOL:
            return SetWol(s, name, static_cast<ethtool_wolinfo*>(data)->wolopts) == TARN_OK ? 0 : -EINVAL;
        case ETHTOOL_GLINK: {
            auto* v = static_cast<ethtool_value*>(data);
            v->data = Link(s, name).linkUp;
            return 0;
        }
        case ETHTOOL_GRINGPARAM: {
            auto* r = static_cast<ethtool_ringparam*>(data);
            KsiPnicRingParams k{};
            s.Read(KSI_NODE_net_pNics_firmware_ringParams, {name}, &k);
            std::memset(r, 0, sizeof *r);
            r->cmd = ETHTOOL_GRINGPARAM;
            r->rx_max_pending = k.maxRx;
            r->rx_mini_max_pending = k.maxRxMini;
            r->rx_jumbo_max_pending = k.maxRxJumbo;
            r->tx_max_pending = k.maxTx;
            r->rx_pending = k.rx;
            r->rx_mini_pending = k.rxMini;
            r->rx_jumbo_pending = k.rxJumbo;
            r->tx_pending = k.tx;
            return 0;
        }
        case ETHTOOL_SRINGPARAM: {
            auto* r = static_cast<ethtool_ringparam*>(data);
            return SetRings(s, name, r->rx_pending, r->rx_mini_pending, r->rx_jumbo_pending, r->tx_pending) == TARN_OK
                       ? 0
                       : -EINVAL;
        }
        case ETHTOOL_GPAUSEPARAM: {
            auto* p = static_cast<ethtool_pauseparam*>(data);
            KsiPnicPauseParams k{};
            s.Read(KSI_NODE_net_pNics_firmware_pauseParams, {name}, &k);
            *p = ethtool_pauseparam{ETHTOOL_GPAUSEPARAM, k.autoNeg, k.rx, k.tx};
            return 0;
        }
        case ETHTOOL_SPAUSEPARAM: {
            auto* p = static_cast<ethtool_pauseparam*>(data);
            s.Put(KSI_NODE_net_pNics_firmware_pauseParams, {name},
                  KsiPnicPauseParams{p->autoneg ? 1u : 0u, p->rx_pause ? 1u : 0u, p->tx_pause ? 1u : 0u});
            return 0;
        }
        case ETHTOOL_GCOALESCE: {
            auto* c = static_cast<ethtool_coalesce*>(data);
            KsiPnicCoalesceParams k{};
            s.Read(KSI_NODE_net_pNics_coalesceParams, {name}, &k);
            std::memset(c, 0, sizeof *c);
            c->cmd = ETHTOOL_GCOALESCE;
            c->rx_coalesce_usecs = k.rxUsecs;
            c->rx_max_coalesced_frames = k.rxFrames;
            c->tx_coalesce_usecs = k.txUsecs;
            c->tx_max_coalesced_frames = k.txFrames;
            c->use_adaptive_rx_coalesce = k.adaptiveRx;
            c->use_adaptive_tx_coalesce = k.adaptiveTx;
            return 0;
        }
        case ETHTOOL_SCOALESCE: {
            auto* c = static_cast<ethtool_coalesce*>(data);
            s.Put(KSI_NODE_net_pNics_coalesceParams, {name},
                  KsiPnicCoalesceParams{c->rx_coalesce_usecs, c->rx_max_coalesced_frames, c->tx_coalesce_usecs,
                                        c->tx_max_coalesced_frames, c->use_adaptive_rx_coalesce ? 1u : 0u,
                                        c->use_adaptive_tx_coalesce ? 1u : 0u});
            return 0;
        }
        default:
            return -EOPNOTSUPP;
        }
    }

    std::mutex _mu;
    std::map<int, std::string> _open;
    int _next = 2;
};

}  // namespace

namespace {
// The simulated NICs answer device-control requests as soon as the library is loaded.
const bool gRegistered = (Platform::NetDev::RegisterDefaultBackend(new SimNetDev), true);
}  // namespace

}  // namespace TarnSim
