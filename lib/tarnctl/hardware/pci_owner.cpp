// PciDeviceImpl's settings: owner (passthrough), SR-IOV VF count and the
// hardware label, kept in halden/hardware/pci_devices/<address>.
//
// An owner change covers the whole group of the device (its dependants and
// children): every member is checked before anything is written, the kernel
// takes the new run-time owner member by member (put back on a failure), and
// the store records all members in one transaction, so a group is never split.
#include <set>

#include "hardware/pci_device_impl.h"
#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "system/kernel_opts.h"

namespace TarnCtl::Hardware {

using namespace HaldenConfigStore;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "PciDevice";
constexpr size_t kMaxLabelLength = 64;

std::shared_ptr<ConfigStore> Store() { return ConfigStore::GetStore(sGlobalNamespace); }

}  // namespace

ConfigStoreObjectId PciDeviceImpl::StoreId(const std::string& sbdf) {
    return ConfigStoreObjectId("pci_devices", "hardware", "halden", sbdf);
}

std::shared_ptr<ConfigStoreObject> PciDeviceImpl::StoredObject() { return Store()->Get(StoreId(_sbdf)); }

void PciDeviceImpl::UpdateStore(const std::function<void(ConfigStoreObject&)>& change) {
    auto store = Store();
    auto current = store->Get(StoreId(_sbdf));
    auto object = current ? current->Clone() : std::make_shared<ConfigStoreObject>(StoreId(_sbdf));
    if (!current) {
        object->SetValue("sbdf", _sbdf);
        object->SetValue("dl_bus_address", HostCtl::Misc::StrPrintf("0x%lx", static_cast<unsigned long>(GetDlBusAddress())));
    }
    change(*object);
    store->Write(object, BootWriteFlag(object->GetConfigStoreObjectId(), store->IsBoot()));
}

// ---- Owner ---------------------------------------------------------------------

void PciDeviceImpl::ValidateDeviceOwnershipConfig(int owner) {
    if (owner != OWNER_TARNOS && owner != OWNER_PASSTHRU)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Unknown owner %d", owner));
}

bool PciDeviceImpl::HasConfiguredDeviceOwner() {
    auto o = StoredObject();
    return o && o->HasValue("owner");
}

PciDevice::PciDeviceOwner PciDeviceImpl::GetConfiguredDeviceOwner() {
    std::string text;
    auto o = StoredObject();
    if (o && o->GetValue("owner", &text) && text == "OWNER_PASSTHRU") return OWNER_PASSTHRU;
    return OWNER_TARNOS;
}

bool PciDeviceImpl::MayTakeHostDriverInt() {
    if (GetModuleName().empty() || IsInDriverVMMode()) return false;
    std::string parent = ReadAddress(KSI_NODE_hardware_pci_seg_bus_slot_func_parent, "parent");
    if (parent.empty()) return true;
    return PciDeviceImpl(parent).GetPciePortOperationStatus() != Ksi::Hardware::kPortContained;
}

void PciDeviceImpl::SetRuntimeOwnerInt(PciDeviceOwner owner) {
    ValidateDeviceOwnershipConfig(owner);
    // The kernel hands a device to passthrough only once no host driver holds it.
    bool unbound = false;
    if (owner == OWNER_PASSTHRU && !GetBoundDriver().empty()) {
        SetBoundDriverInt(false);
        unbound = true;
        TarnCtl_LogInfoInt("%s: Unbound device %s\n", "PciInfo", _sbdf.c_str());
    }
    try {
        auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_owner);
        si->SetDefaultErrorMessage("Unable to set PCI ownership");
        si->AddInput(static_cast<long>(owner));
        si->Set();
    } catch (const HostCtlException&) {
        if (unbound) try {
                SetBoundDriverInt(true);
            } catch (const HostCtlException& r) {
                TarnCtl_LogWarnInt("%s: Unable to bind device %s again: %s\n", kTag, _sbdf.c_str(),
                                   r.GetDetailedMessage().c_str());
            }
        throw;
    }
    if (owner != OWNER_TARNOS || !GetBoundDriver().empty() || !MayTakeHostDriverInt()) return;
    try {
        SetBoundDriverInt(true);
    } catch (const HostCtlException&) {
        // Back with passthrough, as it was: a device the host owns but cannot drive helps nobody.
        try {
            auto si = Node(KSI_NODE_hardware_pci_seg_bus_slot_func_owner);
            si->AddInput(static_cast<long>(OWNER_PASSTHRU));
            si->Set();
        } catch (const HostCtlException& r) {
            TarnCtl_LogWarnInt("%s: Unable to restore the owner of %s: %s\n", kTag, _sbdf.c_str(),
                               r.GetDetailedMessage().c_str());
        }
        throw;
    }
}

std::vector<std::unique_ptr<PciDeviceImpl>> PciDeviceImpl::OwnershipGroup() {
    std::vector<std::unique_ptr<PciDeviceImpl>> group;
    std::set<std::string> seen{_sbdf};
    group.push_back(std::make_unique<PciDeviceImpl>(_address));
    // Breadth-first over dependants and children; each device once.
    for (size_t i = 0; i < group.size(); ++i) {
        std::vector<std::string> next = group[i]->ListBelow(KSI_NODE_hardware_pci_seg_bus_slot_func_passthruDependent, kDependants);
        for (const auto& c : group[i]->ListBelow(KSI_NODE_hardware_pci_seg_bus_slot_func_children, kChildren)) next.push_back(c);
        for (const auto& a : next)
            if (seen.insert(a).second) group.push_back(std::make_unique<PciDeviceImpl>(a));
    }
    return group;
}

// The checks of an owner change, in their fixed order, for one device.
void PciDeviceImpl::CheckOwnerChange(PciDeviceOwner owner) {
    if (owner == OWNER_PASSTHRU) {
        if (!IsPassthruCapable()) throw HostCtlException("Device " + _sbdf + " is not passthrough capable.");
        if (ReadAddress(KSI_NODE_hardware_pci_seg_bus_slot_func_parent, "parent").empty())
            throw HostCtlException("PCI device " + _sbdf +
                                   " is not passthrough capable because it is directly under the PCI host bridge.");
        if (IsHaldenioReservedDevice())
            throw HostCtlException("Device " + _sbdf + " is system reserved and does not support passthru.");
        if (IsBootDevice()) throw HostCtlException("Cannot configure passthru on boot device.");
        std::string nic = GetTarnosDeviceName();
        if (!nic.empty()) {
            std::string vswitch = GetUplinkSwitchOfNic(nic);
            if (!vswitch.empty())
                throw HostCtlException(HostCtl::Misc::StrCat("Device ownership cannot be changed to passthru",
                                                             " for uplink ", nic, " as it is used by vswitch ",
                                                             vswitch));
        }
    }
    if (IsInPassthruUseByVM()) throw HostCtlException("Device " + _sbdf + " is in use by a VM in passthru mode");
}

std::vector<std::unique_ptr<PciDeviceImpl>> PciDeviceImpl::CheckedOwnerGroupInt(PciDeviceOwner owner,
                                                                                 const std::string& lead) {
    ValidateDeviceOwnershipConfig(owner);
    if (owner == OWNER_PASSTHRU && System::KernelOpts::GetRuntimeValueBool("disablePciPassthrough"))
        throw HostCtlException("Attempt to set device " + _sbdf + " for PCI passthrough when this feature is disabled.");
    // A member or a fact the kernel would not give: without the whole group
    // the change could split it, so it is refused.
    auto refuse = [&](const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Failed while configuring ownership for PCI device %s and its dependents.\n", kTag,
                            _sbdf.c_str());
        return HostCtlException(lead + _sbdf + ": " + e.what());
    };
    std::vector<std::unique_ptr<PciDeviceImpl>> group;
    try {
        group = OwnershipGroup();
    } catch (const HostCtlException& e) {
        throw refuse(e);
    }
    try {
        for (auto& d : group) d->CheckOwnerChange(owner);
    } catch (const TarnCtl::Lib::SysinfoException& e) {
        throw refuse(e);  // the checks' own refusals go out as they are
    }
    return group;
}

void PciDeviceImpl::ChangeGroupOwnerInt(std::vector<std::unique_ptr<PciDeviceImpl>>& group, PciDeviceOwner owner,
                                        OwnerChanges& changed) {
    for (auto& d : group) {
        PciDeviceOwner old = d->GetRuntimeDeviceOwner();
        if (old == owner) continue;
        d->SetRuntimeOwnerInt(owner);
        changed.emplace_back(d.get(), old);
    }
}

void PciDeviceImpl::PutBackOwnersInt(const OwnerChanges& changed) {
    for (auto it = changed.rbegin(); it != changed.rend(); ++it) try {
            it->first->SetRuntimeOwnerInt(it->second);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to restore the owner of %s: %s\n", kTag, it->first->GetSBDFString().c_str(),
                               e.GetDetailedMessage().c_str());
        }
}

void PciDeviceImpl::SetRuntimeDeviceOwner(PciDeviceOwner owner) {
    auto group = CheckedOwnerGroupInt(owner, "Unable to set PCI ownership of ");
    OwnerChanges changed;
    try {
        ChangeGroupOwnerInt(group, owner, changed);
    } catch (const HostCtlException&) {
        PutBackOwnersInt(changed);
        throw;
    }
}

void PciDeviceImpl::SetConfiguredDeviceOwner(PciDeviceOwner owner) {
    auto store = Store();
    bool booting = store->IsBoot();
    std::vector<std::unique_ptr<PciDeviceImpl>> group = CheckedOwnerGroupInt(owner, "Failed to configure device owner for ");
    if (!booting && HasConfiguredDeviceOwner() && GetConfiguredDeviceOwner() == owner)
        throw HostCtlException(owner == OWNER_PASSTHRU ? "Device owner is already configured to passthru."
                                                       : "Device owner is already configured to tarnos.");
    if (!booting && !HasConfiguredDeviceOwner() && owner == OWNER_TARNOS)
        throw HostCtlException("Device owner is already configured to tarnos.");

    // Kernel first, member by member; a refusal puts back those already changed.
    OwnerChanges changed;
    try {
        ChangeGroupOwnerInt(group, owner, changed);
        if (!booting) {
            ConfigStoreTransaction tx(store);
            for (auto& d : group) d->UpdateStore([&](ConfigStoreObject& o) { o.SetValue("owner", OwnerStoreText(owner)); });
            tx.Commit();
        }
    } catch (const HostCtlException& e) {
        PutBackOwnersInt(changed);
        TarnCtl_LogErrorInt("%s: Failed while configuring ownership for PCI device %s and its dependents.\n", kTag,
                            _sbdf.c_str());
        throw HostCtlException("Failed to configure device owner for " + _sbdf + ": " + e.what());
    }
    TarnCtl_LogInfoInt("%s: Device %s and %zu dependent devices configured for %s\n", kTag, _sbdf.c_str(),
                       group.size() - 1, OwnerText(owner).c_str());
}

void PciDeviceImpl::SetConfiguredDevOwnerNoDeps(PciDeviceOwner owner) {
    ValidateDeviceOwnershipConfig(owner);
    bool changed = GetRuntimeDeviceOwner() != owner;
    if (changed) SetRuntimeOwnerInt(owner);
    auto store = Store();
    if (store->IsBoot()) return;
    try {
        ConfigStoreTransaction tx(store);
        UpdateStore([&](ConfigStoreObject& o) { o.SetValue("owner", OwnerStoreText(owner)); });
        tx.Commit();
    } catch (const HostCtlException&) {
        if (changed) PutBackOwnersInt({{this, owner == OWNER_PASSTHRU ? OWNER_TARNOS : OWNER_PASSTHRU}});
        throw;
    }
}

void PciDeviceImpl::ApplyDeviceOwnershipConfig() {
    if (!HasConfiguredDeviceOwner()) return;
    PciDeviceOwner owner = GetConfiguredDeviceOwner();
    if (GetRuntimeDeviceOwner() != owner) SetRuntimeOwnerInt(owner);
}

// ---- SR-IOV ---------------------------------------------------------------------

void PciDeviceImpl::SetRuntimeMaxVfs(uint32_t n) {
    try {
        TarnCtl::Util::Sysinfo si(KSI_NODE_system_devicetree_devices_maxVfs);
        si.SetInstance(HostCtl::Misc::StrPrintf("0x%lx", static_cast<unsigned long>(GetDlBusAddress())));
        si.SetDefaultErrorMessage(("Unable to set the number of VFs of " + _sbdf).c_str());
        si.AddInput(n);
        si.Set();
    } catch (const TarnCtl::Lib::SysinfoException& e) {
        TarnCtl_LogErrorInt("%s: Failed to set runtime maxVfs for device %s: %s\n", kTag, _sbdf.c_str(), e.what());
        throw TarnCtl::Lib::SysinfoException(e.what() + HostCtl::Lib::StatusTail(e.GetStatus()), e.GetStatus(),
                                             e.GetKevtMessage());
    }
    TarnCtl_LogInfoInt("%s: Set runtime maxVfs for device %s: %d\n", kTag, _sbdf.c_str(), static_cast<int>(n));
}

bool PciDeviceImpl::HasConfiguredMaxVfs() {
    auto o = StoredObject();
    return o && o->HasValue("max_vfs");
}

uint32_t PciDeviceImpl::GetConfiguredMaxVfs() {
    long n = 0;
    auto o = StoredObject();
    if (o) o->GetValue("max_vfs", &n);
    return n < 0 ? 0 : static_cast<uint32_t>(n);
}

void PciDeviceImpl::SetConfiguredMaxVfs(uint32_t n) {
    if (!IsSriovCapable()) throw HostCtlException(_sbdf + ": device is not SRIOV capable");
    uint32_t supported = GetSupportedNumVfs();
    if (n > supported)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid number of VFs %u for device %s: it supports 0 to %u",
                                                        n, _sbdf.c_str(), supported));
    auto store = Store();
    uint32_t old = GetRuntimeMaxVfs();
    if (old != n) SetRuntimeMaxVfs(n);
    if (store->IsBoot()) return;
    try {
        ConfigStoreTransaction tx(store);
        UpdateStore([&](ConfigStoreObject& o) { o.SetValue("max_vfs", static_cast<long>(n)); });
        tx.Commit();
    } catch (const HostCtlException& e) {
        if (old != n) try {
                SetRuntimeMaxVfs(old);
            } catch (const HostCtlException& r) {
                TarnCtl_LogWarnInt("%s: Unable to restore %u VFs of %s: %s\n", kTag, old, _sbdf.c_str(),
                                   r.GetDetailedMessage().c_str());
            }
        throw;
    }
}

void PciDeviceImpl::ApplyDeviceMaxvfsConfig() {
    if (!HasConfiguredMaxVfs()) return;
    uint32_t n = GetConfiguredMaxVfs();
    if (GetRuntimeMaxVfs() != n) SetRuntimeMaxVfs(n);
}

// ---- Hardware label --------------------------------------------------------------

void PciDeviceImpl::ValidateDeviceHwLabelConfig() {
    if (!HasConfiguredDeviceOwner() || GetConfiguredDeviceOwner() != OWNER_PASSTHRU)
        throw HostCtlException(_sbdf + " owner is not configured to passthru");
}

std::string PciDeviceImpl::GetHardwareLabel() {
    std::string label;
    auto o = StoredObject();
    if (o) o->GetValue("hardware_label", &label);
    return label;
}

void PciDeviceImpl::SetHardwareLabel(const std::string& label) {
    bool printable = !label.empty() && label.size() <= kMaxLabelLength;
    for (unsigned char c : label) printable = printable && c >= 0x20 && c < 0x7f;
    if (!printable)
        throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid hardware label '%s': 1 to %zu printable characters",
                                                        label.c_str(), kMaxLabelLength));
    ValidateDeviceHwLabelConfig();
    auto store = Store();
    if (store->IsBoot()) return;  // a label lives in the store only: nothing to replay
    ConfigStoreTransaction tx(store);
    UpdateStore([&](ConfigStoreObject& o) { o.SetValue("hardware_label", label); });
    tx.Commit();
}

void PciDeviceImpl::DeleteHardwareLabelFromCS() {
    auto store = Store();
    auto o = StoredObject();
    if (!o || !o->HasValue("hardware_label") || store->IsBoot()) return;
    ConfigStoreTransaction tx(store);
    UpdateStore([](ConfigStoreObject& obj) { obj.Remove("hardware_label"); });
    tx.Commit();
}

// ---- Boot ---------------------------------------------------------------------------

void PciDeviceImpl::LoadConfig() {
    RestoreResetAttr();
    RestoreFptShareableAttr();
    try {
        ApplyDeviceOwnershipConfig();
        ApplyDeviceMaxvfsConfig();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Verification of passthru config for %s failed: %s\n", kTag, _sbdf.c_str(),
                           e.GetDetailedMessage().c_str());
    }
}

}  // namespace TarnCtl::Hardware
