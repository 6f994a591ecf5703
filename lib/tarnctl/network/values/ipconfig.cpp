// IpConfig: the IPv4 and IPv6 settings of one interface, with the rules that
// keep the static/DHCP/none choices consistent. The kernel's IPv6 state is
// asked for each time it matters (never cached).
#include <algorithm>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "network/values/kernel_ipv6.h"

using HostCtl::Lib::HostCtlException;
using TarnCtl::Network::Values::KernelIpv6Enabled;

namespace HostCtl::Network {

IpConfig::IpConfig() : _useIpv6(KernelIpv6Enabled()) {}

IpConfig::~IpConfig() = default;

void IpConfig::CalcBroadcast() {
    _ipv4Broadcast = Ipv4Address(_ipv4Address.GetBinaryAddress() | ~_ipv4Netmask.GetBinaryAddress());
}

void IpConfig::SetIpv4Address(const Ipv4Address& a) {
    if (!a.IsValidAddress()) throw HostCtlException("Invalid Ip Address: " + a.GetStringAddress());
    _ipv4Address = a;
    CalcBroadcast();
    _useDhcp = false;
    _ipv4UseNone = false;
}

void IpConfig::SetIpv4Netmask(const Ipv4Address& m) {
    if (!m.IsValidNetmask()) throw HostCtlException("Invalid Ip Netmask: " + m.GetStringAddress());
    _ipv4Netmask = m;
    CalcBroadcast();
    _useDhcp = false;
}

void IpConfig::SetIpv4Broadcast(const Ipv4Address& b) {
    _ipv4Broadcast = b;
    _useDhcp = false;
}

void IpConfig::SetIpv4Gateway(const Ipv4Address& g) {
    if (!g.IsValidAddress())
        throw HostCtlException("Invalid gateway Ip Address: " + g.GetStringAddress());
    _ipv4Gateway = g;
}

void IpConfig::SetIpv6Gateway(const Ipv6Address& g) {
    if (!g.IsValidAddress())
        throw HostCtlException("Invalid gateway Ip Address: " + g.GetStringAddress());
    _ipv6Gateway = g;
}

void IpConfig::SetIpv4UseNone() {
    _useDhcp = false;
    _ipv4Address = _ipv4Netmask = _ipv4Broadcast = _ipv4Gateway = Ipv4Address();
    _dhcpDns = false;
    _ipv4UseNone = true;
}

void IpConfig::SetUseDhcp(bool on) { SetUseDhcp(on, on); }

void IpConfig::SetUseDhcp(bool on, bool clear) {
    _useDhcp = on;
    _ipv4UseNone = false;
    if (clear) _ipv4Address = _ipv4Netmask = _ipv4Gateway = _ipv4Broadcast = Ipv4Address();
    if (!IsUsingDhcp()) _dhcpDns = false;
    if (!_useDhcp && _ipv4Address.IsAllzeroAddress()) _ipv4UseNone = true;
}

void IpConfig::SetDhcpDns(bool on) {
    if (on && !IsUsingDhcp()) throw HostCtlException("DHCP DNS can only be set when using DHCP");
    _dhcpDns = on;
}

void IpConfig::SetIpv6DhcpDns(bool on) {
    if (on && !IsUsingIpv6Dhcp())
        throw HostCtlException("DHCP DNS IPv6 can only be set when using DHCPv6 or RA");
    _ipv6DhcpDns = on;
}

void IpConfig::SetUseIpv6(bool on) { _useIpv6 = on && KernelIpv6Enabled(); }

void IpConfig::SetUseIpv6Dhcp(bool on) {
    _useIpv6Dhcp = on;
    if (!IsUsingIpv6Dhcp()) _ipv6DhcpDns = false;
}

bool IpConfig::IsUsingIpv6Dhcp() const {
    return (_useIpv6Dhcp || _useIpv6RouterAdvertised) && KernelIpv6Enabled();
}

bool IpConfig::IsUsingDhcp() const { return _useDhcp || IsUsingIpv6Dhcp(); }

void IpConfig::AddIpv6Network(const Ipv6Network& n) {
    if (!n.IsValid()) throw HostCtlException("Invalid Ipv6 Network: " + n.GetStringAddress());
    if (std::find(_ipv6Networks.begin(), _ipv6Networks.end(), n) != _ipv6Networks.end())
        throw HostCtlException("Address already exists in the config");
    _ipv6Networks.push_back(n);
}

void IpConfig::RemoveIpv6Network(const Ipv6Network& n) {
    auto it = std::find(_ipv6Networks.begin(), _ipv6Networks.end(), n);
    if (it == _ipv6Networks.end()) throw HostCtlException("Address not found");
    _ipv6Networks.erase(it);
}

bool IpConfig::IsIpv4Valid() const {
    return _useDhcp || (!_ipv4Address.IsAllzeroAddress() && !_ipv4Netmask.IsAllzeroAddress());
}

bool IpConfig::IsIpv6Valid() const {
    if (_useIpv6Dhcp || _useIpv6RouterAdvertised) return true;
    for (const Ipv6Network& n : _ipv6Networks)
        if (n.GetAddress().GetStringAddress() != "::" && n.GetNetmask() != 0) return true;
    return false;
}

bool IpConfig::ContainsAddress(const std::string& s) const {
    if (s == _ipv4Address.GetStringAddress()) return true;
    for (const Ipv6Network& n : _ipv6Networks)
        if (s == n.GetStringAddress()) return true;
    return false;
}

}  // namespace HostCtl::Network
