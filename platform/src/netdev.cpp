// The process-wide network device-control backend: the one the host (here the
// simulation) registered when it was loaded, unless a caller (a test) puts
// another in place. Without one every device is missing.
#include "platform/netdev.h"

#include <cerrno>

#include "platform/backend_slot.h"

namespace Platform::NetDev {

namespace {

class NoDevices : public Backend {
public:
    int Open(const std::string&) override { return -ENODEV; }
    int Ioctl(int, unsigned long, struct ifreq*) override { return -ENODEV; }
    void Close(int) override {}
};

constinit BackendSlot<Backend, NoDevices> gSlot;

}  // namespace

Backend& GetBackend() { return gSlot.Get(); }
Backend* SetBackend(Backend* backend) { return gSlot.Set(backend); }
void RegisterDefaultBackend(Backend* backend) { gSlot.RegisterDefault(backend); }

}  // namespace Platform::NetDev
