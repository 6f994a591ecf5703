// The PCI inventory: every function the kernel reports, the kernel-owned and
// the passthrough ones.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hardware/pci_device_impl.h"
#include "hostctl/hardware.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Hardware {

// Every function's address, in segment, bus, slot, function order. A level
// that cannot be listed is logged and skipped.
std::vector<PciAddress> ScanPciBus();

class PciInfoImpl : public virtual HostCtl::Hardware::PciInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    void Refresh() override {}
    std::string GetName() const override { return "PciInfo"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::vector<std::unique_ptr<PciDevice>> GetAllPciDevices() override;
    std::vector<std::unique_ptr<PciDevice>> GetTarnosPciDevices() override;
    std::vector<std::unique_ptr<PciDevice>> GetPassthruPciDevices() override;
    bool PciPassthruDisabled() override;
    void UnbindDeviceList(const std::vector<std::string>& addresses) override;
    void ScanAndBind(int segment) override;
    // Boot: the passthrough map attributes and the stored owners and VF counts
    // of every device go back into the kernel.
    static void RestoreAll();
};

}  // namespace TarnCtl::Hardware
