// The PCI inventory and its boot step. Enumeration walks the kernel's
// segment, bus, slot and function levels once; a device that fails to read
// is logged and left out, never failing the listing.
#include "hardware/pci_info_impl.h"

#include <algorithm>
#include <set>

#include "hardware/pci_config.h"
#include "hardware/pci_names.h"
#include "hostctl/exception.h"
#include "platform/boot.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "system/kernel_opts.h"

namespace TarnCtl::Hardware {

namespace {

const char* kTag = "PciInfo";

std::vector<long> ListLevel(unsigned int node, const std::vector<long>& path) {
    TarnCtl::Util::Sysinfo si(node);
    for (size_t i = 0; i < path.size(); ++i) {
        if (i == 0)
            si.SetInstance(path[i]);
        else
            si.AddInstancePath(path[i]);
    }
    std::vector<long> out;
    si.List(out);
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

std::vector<PciAddress> ScanPciBus() {
    std::vector<PciAddress> out;
    for (long seg : ListLevel(KSI_NODE_hardware_pci_seg, {}))
        for (long bus : ListLevel(KSI_NODE_hardware_pci_seg_bus, {seg}))
            for (long slot : ListLevel(KSI_NODE_hardware_pci_seg_bus_slot, {seg, bus}))
                for (long fn : ListLevel(KSI_NODE_hardware_pci_seg_bus_slot_func, {seg, bus, slot})) {
                    if (seg < 0 || seg > 0xffff || bus < 0 || bus > 0xff || slot < 0 || slot > 0x1f || fn < 0 || fn > 7) {
                        TarnCtl_LogWarnInt("%s: Skipping invalid PCI address %ld:%ld:%ld.%ld\n", kTag, seg, bus, slot, fn);
                        continue;
                    }
                    out.push_back({static_cast<uint16_t>(seg), static_cast<uint8_t>(bus), static_cast<uint8_t>(slot),
                                   static_cast<uint8_t>(fn)});
                }
    return out;
}

// The VFs a physical function may bring count as present: they appear when
// the VF count is set, long after the names were built.
std::set<uint32_t> PreBuildMap() {
    std::set<uint32_t> present;
    for (const auto& a : ScanPciBus()) {
        auto node = [&](unsigned int id) {
            auto si = PciNode(id, a);
            si->SetThrowOnError(false);
            return si;
        };
        Ksi::Hardware::PciConfigHeader h{};
        if (node(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigHeader)->Get(&h, sizeof h) != TARN_OK) continue;
        present.insert(static_cast<uint32_t>(h.vendorId) << 16 | h.deviceId);
        uint32_t maxVfs = 0;  // only SR-IOV functions have the node
        if (node(KSI_NODE_hardware_pci_seg_bus_slot_func_maxNumVFs)->Get(&maxVfs, sizeof maxVfs) != TARN_OK) continue;
        auto cs = std::make_unique<Ksi::Hardware::PciConfigSpace>();
        if (node(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigSpace)->Get(cs.get(), sizeof *cs) != TARN_OK) continue;
        try {
            SriovFacts f = ReadSriov(cs->data, std::min<uint32_t>(cs->length, Ksi::Hardware::kPciConfigSpaceMax),
                                     HostCtl::Hardware::GetSBDFString(a));
            if (f.present) present.insert(static_cast<uint32_t>(h.vendorId) << 16 | f.vfDeviceId);
        } catch (const HostCtl::Lib::HostCtlException&) {
            // A broken capability list names no VFs; the device itself is named.
        }
    }
    return present;
}

std::vector<std::unique_ptr<PciDevice>> PciInfoImpl::GetAllPciDevices() {
    RefreshPciNameCache();
    std::vector<std::unique_ptr<PciDevice>> out;
    for (const auto& a : ScanPciBus()) {
        try {
            out.push_back(std::make_unique<PciDeviceImpl>(a));
        } catch (const HostCtl::Lib::HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping PCI device %s: %s\n", kTag, HostCtl::Hardware::GetSBDFString(a).c_str(),
                               e.GetDetailedMessage().c_str());
        }
    }
    return out;
}

std::vector<std::unique_ptr<PciDevice>> PciInfoImpl::GetTarnosPciDevices() {
    std::vector<std::unique_ptr<PciDevice>> out;
    for (auto& d : GetAllPciDevices())
        if (d->GetRuntimeDeviceOwner() == PciDevice::OWNER_TARNOS) out.push_back(std::move(d));
    return out;
}

std::vector<std::unique_ptr<PciDevice>> PciInfoImpl::GetPassthruPciDevices() {
    std::vector<std::unique_ptr<PciDevice>> out;
    for (auto& d : GetAllPciDevices())
        if (d->GetRuntimeDeviceOwner() == PciDevice::OWNER_PASSTHRU) out.push_back(std::move(d));
    return out;
}

bool PciInfoImpl::PciPassthruDisabled() { return System::KernelOpts::GetRuntimeValueBool("disablePciPassthrough"); }

void PciInfoImpl::UnbindDeviceList(const std::vector<std::string>& addresses) {
    // The devices and their dependants, each once, all found before anything changes.
    std::vector<std::unique_ptr<PciDeviceImpl>> devices;
    std::set<std::string> seen;
    auto add = [&](std::unique_ptr<PciDeviceImpl> d) {
        if (seen.insert(d->GetSBDFString()).second) devices.push_back(std::move(d));
    };
    for (const auto& address : addresses) {
        auto d = std::make_unique<PciDeviceImpl>(address);
        std::vector<std::unique_ptr<PciDevice>> deps;
        try {
            deps = d->GetDependantDevice();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            throw HostCtl::Lib::HostCtlException("Failed to get dependant device for " + d->GetSBDFString() + ": " +
                                                 e.what());
        }
        add(std::move(d));
        for (auto& dep : deps) add(std::make_unique<PciDeviceImpl>(dep->GetSBDFString()));
    }
    std::vector<PciDeviceImpl*> unbound;
    try {
        for (auto& d : devices) {
            if (d->GetBoundDriver().empty()) continue;
            d->SetBoundDriverInt(false);
            unbound.push_back(d.get());
            TarnCtl_LogInfoInt("%s: Unbound device %s\n", kTag, d->GetSBDFString().c_str());
        }
    } catch (const HostCtl::Lib::HostCtlException& e) {
        // All or none: the drivers already let go take their devices back.
        for (auto it = unbound.rbegin(); it != unbound.rend(); ++it) try {
                (*it)->SetBoundDriverInt(true);
            } catch (const HostCtl::Lib::HostCtlException& r) {
                TarnCtl_LogWarnInt("%s: Unable to bind device %s again: %s\n", kTag, (*it)->GetSBDFString().c_str(),
                                   r.GetDetailedMessage().c_str());
            }
        throw;
    }
}

void PciInfoImpl::ScanAndBind(int segment) {
    if (segment < -1 || segment > 0xffff)
        throw HostCtl::Lib::HostCtlException(HostCtl::Misc::StrPrintf("Invalid PCI segment %d", segment));
    TarnCtl::Util::Sysinfo si(KSI_NODE_hardware_pci_rescan);
    si.SetDefaultErrorMessage("Failed to rebind devices.");
    si.AddInput(segment);
    si.Set();
}

void PciInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("PCI Info");
    printer->BeginObject();
    {
        TarnCtl::Lib::ObjectPrinter::VectorPrinterHelper all("All Pci Devices", printer);
        for (auto& d : GetAllPciDevices()) all.Print(dynamic_cast<TarnCtl::Lib::TarnCtlObject*>(d.get()));
    }
    {
        TarnCtl::Lib::ObjectPrinter::VectorPrinterHelper tarnos("Tarnos Pci Devices", printer);
        for (auto& d : GetTarnosPciDevices()) tarnos.Print(dynamic_cast<TarnCtl::Lib::TarnCtlObject*>(d.get()));
    }
    printer->EndObject();
}

void PciInfoImpl::RestoreAll() {
    // Physical functions first: their VFs must exist before a VF's stored owner applies.
    for (const auto& a : ScanPciBus()) {
        try {
            auto d = std::make_unique<PciDeviceImpl>(a);
            d->LoadConfig();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Verification of passthru config for %s failed: %s\n", kTag,
                               HostCtl::Hardware::GetSBDFString(a).c_str(), e.GetDetailedMessage().c_str());
        }
    }
    // The VFs made by the walk above were not seen by it: their stored owners now.
    auto store = HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    auto filter = std::make_shared<HaldenConfigStore::FilterSpecObject>(PciDeviceImpl::StoreId(""));
    for (const auto& o : store->List(filter)) {
        const std::string& sbdf = o->GetConfigStoreObjectId().GetInstanceId();
        try {
            PciDeviceImpl d(sbdf);
            d.ApplyDeviceOwnershipConfig();
        } catch (const HostCtl::Lib::HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Verification of passthru config for %s failed: %s\n", kTag, sbdf.c_str(),
                               e.GetDetailedMessage().c_str());
        }
    }
}

namespace {
// After the boot options (95) so that passthrough switches are known, before
// the network and storage restores take their devices.
const Platform::Boot::Step kPciRestore("hardware.pci", 150, [] { PciInfoImpl::RestoreAll(); });
}  // namespace

}  // namespace TarnCtl::Hardware
