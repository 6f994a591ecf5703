// PciDeviceImpl: reading one PCI function from the kernel. The header is
// read once per Refresh; the configuration space only when a capability is
// asked for. Settings (owner, VFs, labels) are in pci_owner.cpp.
#include "hardware/pci_device_impl.h"

#include <cstring>

#include "hardware/pci_config.h"
#include "hardware/pci_names.h"
#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"

namespace TarnCtl::Hardware {

using namespace Ksi::Hardware;
using HostCtl::Lib::HostCtlException;

namespace {

std::string Text(const char* s, size_t n) { return std::string(s, strnlen(s, n)); }

const char* const kResetNames[] = {"None", "Default", "Function reset", "Power state reset", "Link reset",
                                   "Bridge reset", "Quirk reset", "Software reset"};

}  // namespace

PciDeviceImpl::PciDeviceImpl(const PciAddress& address)
    : _address(address), _sbdf(HostCtl::Hardware::GetSBDFString(address)) {
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigHeader);
    si->SetThrowOnError(false);
    if (si->Get(&_header, sizeof _header) != TARN_OK) throw HostCtlException(_sbdf + ": device not found");
    _stale = false;
    HostCtl::Hardware::GetVendorModelFromPCI(_vendor, _model, _header.vendorId, _header.deviceId,
                                             _header.subVendorId, _header.subDeviceId);
}

PciDeviceImpl::PciDeviceImpl(const std::string& address)
    : PciDeviceImpl(HostCtl::Hardware::ParsePciString(address)) {}

std::unique_ptr<TarnCtl::Util::Sysinfo> PciNode(unsigned int node, const PciAddress& address) {
    auto si = std::make_unique<TarnCtl::Util::Sysinfo>(node);
    si->SetInstance(static_cast<long>(address.seg));
    si->AddInstancePath(static_cast<long>(address.bus));
    si->AddInstancePath(static_cast<long>(address.slot));
    si->AddInstancePath(static_cast<long>(address.func));
    return si;
}

std::unique_ptr<TarnCtl::Util::Sysinfo> PciDeviceImpl::Node(unsigned int node) { return PciNode(node, _address); }

void PciDeviceImpl::Refresh() {
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigHeader);
    si->SetDefaultErrorMessage((_sbdf + ": device not found").c_str());
    si->Get(&_header, sizeof _header);
    _space.reset();
    HostCtl::Hardware::GetVendorModelFromPCI(_vendor, _model, _header.vendorId, _header.deviceId,
                                             _header.subVendorId, _header.subDeviceId);
    _stale = false;
}

const PciConfigHeader& PciDeviceImpl::Header() {
    if (_stale) Refresh();
    return _header;
}

const PciConfigSpace& PciDeviceImpl::ConfigSpace() {
    if (!_space) {
        PciConfigSpace cs{};
        Node(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigSpace)->Get(&cs, sizeof cs);
        if (cs.length > kPciConfigSpaceMax) throw HostCtlException("Capability data extends outside of config space");
        _space = cs;
    }
    return *_space;
}

uint32_t PciDeviceImpl::ReadU32(unsigned int node) {
    uint32_t v = 0;
    auto si = Node(node);
    si->SetThrowOnError(false);
    return si->Get(&v, sizeof v) == TARN_OK ? v : 0;
}

// Parent and physical-function links decide who a device may be handed to:
// a failed read is an error, never "no parent".
std::string PciDeviceImpl::ReadAddress(unsigned int node, const char* what) {
    PciAddressText t{};
    auto si = Node(node);
    si->SetThrowOnError(false);
    TARN_ReturnStatus st = si->Get(&t, sizeof t);
    if (st != TARN_OK)
        throw TarnCtl::Lib::SysinfoException(
            HostCtl::Misc::StrCat("Unable to read the ", what, " of PCI device ", _sbdf, HostCtl::Lib::StatusTail(st)),
            st, {});
    return Text(t.sbdf, sizeof t.sbdf);
}

// An empty list is "none"; a failed listing throws, so that no caller takes
// it for "none" and splits a group of dependent devices.
std::vector<std::string> PciDeviceImpl::ListBelow(unsigned int node, const char* what) {
    std::vector<std::string> out;
    auto si = Node(node);
    si->SetThrowOnError(false);
    TARN_ReturnStatus st = si->List(out);
    if (st != TARN_OK)
        throw TarnCtl::Lib::SysinfoException(
            HostCtl::Misc::StrCat("Unable to list the ", what, " of PCI device ", _sbdf, HostCtl::Lib::StatusTail(st)),
            st, {});
    return out;
}

std::string PciDeviceImpl::GetName() const { return "PCI " + _sbdf; }
std::string PciDeviceImpl::GetSBDFString() { return _sbdf; }

std::string PciDeviceImpl::GetVendor() {
    Header();
    return _vendor;
}
std::string PciDeviceImpl::GetDevice() {
    Header();
    return _model;
}
std::string PciDeviceImpl::GetDeviceClassName() { return HostCtl::Hardware::GetPCIClass(Header().classCode); }
std::string PciDeviceImpl::GetTarnosDeviceName() { return Text(Header().deviceName, sizeof _header.deviceName); }
std::string PciDeviceImpl::GetModuleName() { return Text(Header().moduleName, sizeof _header.moduleName); }
std::string PciDeviceImpl::GetSlotDescription() {
    return Text(Header().slotDescription, sizeof _header.slotDescription);
}

std::vector<HostCtl::Hardware::PciCapability> PciDeviceImpl::GetCapabilities() {
    const PciConfigSpace& cs = ConfigSpace();
    return WalkCapabilities(cs.data, cs.length, _sbdf);
}

int PciDeviceImpl::GetCapabilityIndex(uint32_t id, bool extended) {
    for (const auto& c : GetCapabilities())
        if (c.id == id && c.extended == extended) return static_cast<int>(c.offset);
    return -1;
}

bool PciDeviceImpl::HasCapability(uint32_t id, bool extended) { return GetCapabilityIndex(id, extended) >= 0; }

int PciDeviceImpl::GetPciExpressPortType() {
    const PciConfigSpace& cs = ConfigSpace();
    return ReadPortType(cs.data, cs.length, _sbdf);
}

bool PciDeviceImpl::IsPciExpress() { return HasCapability(kCapPciExpress, false); }
bool PciDeviceImpl::IsHaldenioReservedDevice() { return (Header().flags & kPciFlagReserved) != 0; }
bool PciDeviceImpl::IsBootDevice() { return (Header().flags & kPciFlagBootDevice) != 0; }
bool PciDeviceImpl::IsHotplugSlot() { return (Header().flags & kPciFlagHotplugSlot) != 0; }
bool PciDeviceImpl::IsP2PBridge() { return ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_p2pBridge) != 0; }
bool PciDeviceImpl::IsVirtualFunction() { return ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_isVF) != 0; }

uint32_t PciDeviceImpl::GetVfId() {
    if (!IsVirtualFunction()) throw HostCtlException(_sbdf + " is not a virtual function");
    return ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_vfId);
}

std::string PciDeviceImpl::GetPfSbdfString() {
    return IsVirtualFunction() ? ReadAddress(KSI_NODE_hardware_pci_seg_bus_slot_func_vfProperties, "physical function") : "";
}

bool PciDeviceImpl::IsPassthruCapable() {
    return ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_inIommuScope) != 0 &&
           ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_meetsPassthruAcsReq) != 0;
}

bool PciDeviceImpl::IsInPassthruUseByVM() {
    PciOwnerState st{};
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_owner);
    si->SetDefaultErrorMessage("Unable to get PCI ownership");
    si->Get(&st, sizeof st);
    return st.inUseByVm != 0;
}

bool PciDeviceImpl::IsInDriverVMMode() {
    PciOwnerState st{};
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_owner);
    si->SetDefaultErrorMessage("Unable to get PCI ownership");
    si->Get(&st, sizeof st);
    return st.driverVm != 0;
}

PciDevice::PciDeviceOwner PciDeviceImpl::GetRuntimeDeviceOwner() {
    PciOwnerState st{};
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_owner);
    si->SetDefaultErrorMessage("Unable to get PCI ownership");
    si->Get(&st, sizeof st);
    return st.owner == kOwnerPassthru ? OWNER_PASSTHRU : OWNER_TARNOS;
}

std::unique_ptr<PciDevice> PciDeviceImpl::GetParentDevice() {
    std::string parent = ReadAddress(KSI_NODE_hardware_pci_seg_bus_slot_func_parent, "parent");
    if (parent.empty()) return nullptr;
    return std::make_unique<PciDeviceImpl>(parent);
}

std::vector<std::unique_ptr<PciDevice>> PciDeviceImpl::GetDependantDevice() {
    std::vector<std::unique_ptr<PciDevice>> out;
    for (const auto& a : ListBelow(KSI_NODE_hardware_pci_seg_bus_slot_func_passthruDependent, kDependants))
        out.push_back(std::make_unique<PciDeviceImpl>(a));
    return out;
}

std::vector<std::unique_ptr<PciDevice>> PciDeviceImpl::GetDependentChildDevices() {
    std::vector<std::unique_ptr<PciDevice>> out;
    for (const auto& a : ListBelow(KSI_NODE_hardware_pci_seg_bus_slot_func_children, kChildren))
        out.push_back(std::make_unique<PciDeviceImpl>(a));
    return out;
}

bool PciDeviceImpl::IsSriovCapable() {
    if (HasCapability(kExtCapSriov, true)) return true;
    TarnCtl_LogVerboseInt("%s: Could not find SR-IOV capability of device %s\n", "PciDevice", _sbdf.c_str());
    return false;
}

void PciDeviceImpl::RequireSriov(const char* message) {
    if (!IsSriovCapable()) throw HostCtlException(message);
}

uint32_t PciDeviceImpl::GetSupportedNumVfs() {
    RequireSriov("Device is not SRIOV capable");
    const PciConfigSpace& cs = ConfigSpace();
    return ReadSriov(cs.data, cs.length, _sbdf).totalVfs;
}
uint32_t PciDeviceImpl::GetMaxVFsSupported() { return GetSupportedNumVfs(); }

uint32_t PciDeviceImpl::GetCurrentNumVfs() {
    RequireSriov("Device is not SRIOV capable");
    return ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_currentNumVfs);
}

uint32_t PciDeviceImpl::GetRuntimeMaxVfs() {
    RequireSriov("Device is not SRIOV capable");
    uint32_t n = 0;
    TarnCtl::Util::Sysinfo si(KSI_NODE_system_devicetree_devices_maxVfs);
    si.SetInstance(HostCtl::Misc::StrPrintf("0x%lx", static_cast<unsigned long>(GetDlBusAddress())));
    si.Get(&n, sizeof n);
    return n;
}

PciDevice::PciResetMethod PciDeviceImpl::GetPciResetMethod() {
    uint32_t m = ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_resetMethod);
    return m <= kResetSoftware ? static_cast<PciResetMethod>(m) : RESET_DEFAULT;
}
std::string PciDeviceImpl::GetResetMethodString() { return kResetNames[GetPciResetMethod()]; }

bool PciDeviceImpl::GetFPTShareable() { return ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_fptShareable) != 0; }

uint32_t PciDeviceImpl::GetHotplugSlotNum() { return GetHotplugSlotInfo().slotNumber; }

HostCtl::Hardware::PciHotplugSlotInfo PciDeviceImpl::GetHotplugSlotInfo() {
    PciHotplugSlot slot{};
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_hotplugSlotInfo);
    si->SetDefaultErrorMessage((_sbdf + " is not a hotplug slot").c_str());
    si->Get(&slot, sizeof slot);
    return {slot.slotNumber, slot.adapterPresent != 0, slot.surpriseEnabled != 0, slot.attnButtonPresent != 0};
}

std::unique_ptr<PciDeviceImpl> PciDeviceImpl::HotplugAdapter() {
    HostCtl::Hardware::PciHotplugSlotInfo slot = GetHotplugSlotInfo();
    if (slot.adapterPresent)
        for (const auto& a : ListBelow(KSI_NODE_hardware_pci_seg_bus_slot_func_children, kChildren)) {
            auto d = std::make_unique<PciDeviceImpl>(a);
            if (!d->IsP2PBridge()) return d;
        }
    throw HostCtlException(HostCtl::Misc::StrPrintf("No adapter in hotplug slot %u of %s", slot.slotNumber, _sbdf.c_str()));
}

HostCtl::Hardware::PciCxlInfo PciDeviceImpl::GetCxlInfo() {
    Ksi::Hardware::PciCxlInfo c{};
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_cxlInfo);
    si->SetThrowOnError(false);
    if (si->Get(&c, sizeof c) != TARN_OK) return {false, 0, false, false, 0};
    return {true, c.version, c.cache != 0, c.mem != 0, c.memBytes};
}

// ---- Downstream port containment: run-time state of the port, never recorded.

PciDpc PciDeviceImpl::DpcState() {
    PciDpc d{};
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_DPC);
    si->SetThrowOnError(false);
    if (si->Get(&d, sizeof d) != TARN_OK) d = PciDpc{};
    return d;
}

bool PciDeviceImpl::GetDPC() { return DpcState().enabled != 0; }
bool PciDeviceImpl::IsDPCContainmentDone() { return DpcState().containmentDone != 0; }
bool PciDeviceImpl::IsDPCInProgress() { return DpcState().inProgress != 0; }

void PciDeviceImpl::EnableDPC(bool on) {
    PciDpc d = DpcState();
    if (!d.capable) throw HostCtlException("Device " + _sbdf + " does not support DPC");
    if (!on && d.containmentDone)
        throw HostCtlException("Cannot disable DPC on device " + _sbdf + " while its link is contained");
    if ((d.enabled != 0) == on) return;
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_DPC);
    si->SetDefaultErrorMessage(((on ? "Unable to enable DPC on device " : "Unable to disable DPC on device ") + _sbdf).c_str());
    si->AddInput(on);
    si->Set();
    TarnCtl_LogInfoInt("%s: DPC %s on device %s\n", "PciDevice", on ? "enabled" : "disabled", _sbdf.c_str());
}

void PciDeviceImpl::TriggerDPCSoft() {
    PciDpc d = DpcState();
    if (!d.capable) throw HostCtlException("Device " + _sbdf + " does not support DPC");
    if (!d.enabled) throw HostCtlException("DPC is not enabled on device " + _sbdf);
    if (d.containmentDone) throw HostCtlException("DPC containment is already done on device " + _sbdf);
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_softTriggerDPC);
    si->SetDefaultErrorMessage(("Unable to trigger DPC on device " + _sbdf).c_str());
    si->Set();
    TarnCtl_LogInfoInt("%s: DPC triggered on device %s\n", "PciDevice", _sbdf.c_str());
}

uint32_t PciDeviceImpl::GetPciePortOperationStatus() {
    return ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_pciePortOperationStatus);
}

bool PciDeviceImpl::GetAttnIndicator() {
    if (!IsHotplugSlot()) throw HostCtlException(_sbdf + " is not a hotplug slot");
    return ReadU32(KSI_NODE_hardware_pci_seg_bus_slot_func_attnIndicator) != 0;
}

void PciDeviceImpl::SetAttnIndicator(bool on) {
    if (!IsHotplugSlot()) throw HostCtlException(_sbdf + " is not a hotplug slot");
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_attnIndicator);
    si->SetDefaultErrorMessage(("Unable to set the attention indicator of " + _sbdf).c_str());
    si->AddInput(on);
    si->Set();
}

std::vector<HostCtl::Hardware::PciBar> PciDeviceImpl::GetBARInfo() {
    PciBarInfo info{};
    Node(KSI_NODE_hardware_pci_seg_bus_slot_func_BARInfo)->Get(&info, sizeof info);
    std::vector<HostCtl::Hardware::PciBar> bars;
    for (uint32_t i = 0; i < info.count && i < kMaxBars; ++i)
        bars.push_back({info.bars[i].address, info.bars[i].size, (info.bars[i].flags & 1) != 0,
                        (info.bars[i].flags & 2) != 0, (info.bars[i].flags & 4) != 0});
    return bars;
}

std::string PciDeviceImpl::GetDeviceDriver() {
    auto e = GetDriverEntry(GetVendorId(), GetDeviceId(), GetSubVendorId(), GetSubDeviceId());
    return e ? e->driver : "(Unknown)";
}
std::string PciDeviceImpl::GetDeviceDriverType() {
    auto e = GetDriverEntry(GetVendorId(), GetDeviceId(), GetSubVendorId(), GetSubDeviceId());
    return e ? e->type : "(Unknown)";
}

std::string PciDeviceImpl::GetBoundDriver() {
    PciDriverBinding b{};
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_driver);
    si->SetThrowOnError(false);
    if (si->Get(&b, sizeof b) != TARN_OK) return "";
    return Text(b.name, sizeof b.name);
}

void PciDeviceImpl::SetBoundDriverInt(bool bind) {
    auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_driver);
    si->SetDefaultErrorMessage(((bind ? "Failed to bind device " : "Failed to unbind device ") + _sbdf).c_str());
    si->AddInput(bind ? GetModuleName() : std::string());
    si->Set();
}

// Writes one passthrough-map attribute to its node; a refusal is logged, the boot goes on.
void PciDeviceImpl::RestoreAttrInt(unsigned int node, unsigned long value) {
    try {
        auto si = Node(node);
        si->AddInput(value);
        si->Set();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Restoring passthru map attributes for device %s failed: %s\n", "PciDevice",
                           _sbdf.c_str(), e.GetDetailedMessage().c_str());
    }
}

void PciDeviceImpl::RestoreResetAttr() {
    RestoreAttrInt(KSI_NODE_hardware_pci_seg_bus_slot_func_resetMethod,
                   GetPassthruAttrs(GetVendorId(), GetDeviceId()).resetMethod);
}

void PciDeviceImpl::RestoreFptShareableAttr() {
    RestoreAttrInt(KSI_NODE_hardware_pci_seg_bus_slot_func_fptShareable,
                   GetPassthruAttrs(GetVendorId(), GetDeviceId()).fptShareable);
}

std::string PciDeviceImpl::OwnerText(PciDeviceOwner owner) {
    return owner == OWNER_PASSTHRU ? "VM passthru" : "tarnos";
}
std::string PciDeviceImpl::OwnerStoreText(PciDeviceOwner owner) {
    return owner == OWNER_PASSTHRU ? "OWNER_PASSTHRU" : "OWNER_TARNOS";
}

void PciDeviceImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("PCI Device");
    printer->BeginObject();
    printer->Print("Address", _sbdf);
    printer->Print("Vendor Name", GetVendor());
    printer->Print("Device Name", GetDevice());
    printer->Print("Vendor ID", GetVendorId(), true);
    printer->Print("Device ID", GetDeviceId(), true);
    printer->Print("SubVendor ID", GetSubVendorId(), true);
    printer->Print("SubDevice ID", GetSubDeviceId(), true);
    printer->Print("Device Class", GetDeviceClass(), true);
    printer->Print("Device Class Name", GetDeviceClassName());
    printer->Print("Tarnos Device Name", GetTarnosDeviceName());
    printer->Print("Module Name", GetModuleName());
    printer->Print("Runtime Owner", OwnerText(GetRuntimeDeviceOwner()));
    printer->Print("Configured Owner", HasConfiguredDeviceOwner() ? OwnerText(GetConfiguredDeviceOwner()) : "");
    printer->Print("Reset Method", GetResetMethodString());
    printer->EndObject();
}

}  // namespace TarnCtl::Hardware
