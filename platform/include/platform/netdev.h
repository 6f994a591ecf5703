// Device-control requests on a network device by name: the SIOC* ioctls
// (SIOCETHTOOL with the standard linux/ethtool.h structures, SIOCGIFMTU,
// SIOCSIFMTU), as drivers without native kernel nodes are configured. The
// request's `struct ifreq` names the device; for SIOCETHTOOL its ifr_data
// points at the ethtool structure, whose first word is the command.
// Implementations are safe for concurrent use.
#pragma once

#include <string>

struct ifreq;

namespace Platform::NetDev {

class Backend {
public:
    virtual ~Backend() = default;
    // Opens the control channel of `device`; a handle >= 0, or -errno.
    virtual int Open(const std::string& device) = 0;
    // 0, or -errno (-EOPNOTSUPP for a command the driver lacks, -ENODEV, -EINVAL).
    virtual int Ioctl(int handle, unsigned long request, struct ifreq* req) = 0;
    virtual void Close(int handle) = 0;
};

// The process-wide backend: the one set by SetBackend, else the host's default.
Backend& GetBackend();
// Replaces the backend (tests wrap it to inject faults); returns the previous
// one; null goes back to the default.
Backend* SetBackend(Backend* backend);
// The host's own backend, registered once when it is loaded.
void RegisterDefaultBackend(Backend* backend);

}  // namespace Platform::NetDev
