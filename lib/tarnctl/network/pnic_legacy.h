// The device-control channel of legacy-driver NICs: SIOCETHTOOL requests with
// the standard linux/ethtool.h structures, and the MTU requests. A failed
// request throws SyscallFailureException "ioctl failed: <reason> (<request> on <nic>)".
#pragma once

#include <cstdint>
#include <string>

namespace TarnCtl::Network {

class LegacyChannel {
public:
    // Opens the NIC's channel (OpenDevice); throws when the device cannot be opened.
    explicit LegacyChannel(const std::string& nic);
    ~LegacyChannel();
    LegacyChannel(const LegacyChannel&) = delete;
    LegacyChannel& operator=(const LegacyChannel&) = delete;

    // `data` is an ethtool structure whose first word is the command.
    void Ethtool(void* data, const char* commandName);
    uint32_t GetMtu();
    void SetMtu(uint32_t mtu);

private:
    std::string _nic;
    int _handle;
};

}  // namespace TarnCtl::Network
