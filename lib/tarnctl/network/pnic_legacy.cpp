// The legacy drivers' device-control channel (see pnic_legacy.h), and the
// system-call failure exception both driver paths raise.
#include "network/pnic_legacy.h"

#include <linux/sockios.h>
#include <net/if.h>

#include <cstring>

#include "hostctl/network_pnic.h"
#include "platform/netdev.h"

namespace HostCtl::Network {

SyscallFailureException::SyscallFailureException(const std::string& call, const std::string& reason)
    : HostCtl::Lib::HostCtlException(call + " failed: " + reason), _call(call), _reason(reason) {}

}  // namespace HostCtl::Network

namespace TarnCtl::Network {

using HostCtl::Network::SyscallFailureException;

LegacyChannel::LegacyChannel(const std::string& nic) : _nic(nic) {
    _handle = Platform::NetDev::GetBackend().Open(nic);
    if (_handle < 0) throw SyscallFailureException("open", std::strerror(-_handle) + (" (" + nic + ")"));
}

LegacyChannel::~LegacyChannel() { Platform::NetDev::GetBackend().Close(_handle); }

namespace {

ifreq Request(const std::string& nic) {
    ifreq req;
    std::memset(&req, 0, sizeof req);
    std::strncpy(req.ifr_name, nic.c_str(), IFNAMSIZ - 1);
    return req;
}

}  // namespace

void LegacyChannel::Ethtool(void* data, const char* commandName) {
    ifreq req = Request(_nic);
    req.ifr_data = static_cast<char*>(data);
    int rc = Platform::NetDev::GetBackend().Ioctl(_handle, SIOCETHTOOL, &req);
    if (rc < 0)
        throw SyscallFailureException("ioctl", std::string(std::strerror(-rc)) + " (" + commandName + " on " + _nic + ")");
}

uint32_t LegacyChannel::GetMtu() {
    ifreq req = Request(_nic);
    int rc = Platform::NetDev::GetBackend().Ioctl(_handle, SIOCGIFMTU, &req);
    if (rc < 0) throw SyscallFailureException("ioctl", std::string(std::strerror(-rc)) + " (SIOCGIFMTU on " + _nic + ")");
    return static_cast<uint32_t>(req.ifr_mtu);
}

void LegacyChannel::SetMtu(uint32_t mtu) {
    ifreq req = Request(_nic);
    req.ifr_mtu = static_cast<int>(mtu);
    int rc = Platform::NetDev::GetBackend().Ioctl(_handle, SIOCSIFMTU, &req);
    if (rc < 0) throw SyscallFailureException("ioctl", std::string(std::strerror(-rc)) + " (SIOCSIFMTU on " + _nic + ")");
}

}  // namespace TarnCtl::Network
