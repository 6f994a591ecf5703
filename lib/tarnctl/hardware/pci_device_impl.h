// One PCI function: its configuration header (read lazily, once per
// Refresh), the facts of its kernel nodes, its names, and its configured
// settings in the store object halden/hardware/pci_devices/<address>.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hostctl/hardware.h"
#include "ksi/hardware.h"
#include "lib/tarnctl_object.h"
#include "platform/configstore.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Hardware {

using HostCtl::Hardware::PciAddress;
using HostCtl::Hardware::PciDevice;

class PciDeviceImpl : public virtual PciDevice, public TarnCtl::Lib::TarnCtlObject {
public:
    // Throws address + ": device not found" when the kernel has no such function.
    explicit PciDeviceImpl(const PciAddress& address);
    explicit PciDeviceImpl(const std::string& address);

    void Refresh() override;
    void LoadConfig() override;
    std::string GetName() const override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    uint16_t GetSeg() override { return _address.seg; }
    uint8_t GetBus() override { return _address.bus; }
    uint8_t GetSlot() override { return _address.slot; }
    uint8_t GetFunction() override { return _address.func; }
    uint32_t GetPhysicalSlot() override { return Header().physicalSlot; }
    int32_t GetNumaNode() override { return Header().numaNode; }
    uint16_t GetVendorId() override { return Header().vendorId; }
    std::string GetVendor() override;
    uint16_t GetDeviceId() override { return Header().deviceId; }
    uint16_t GetSubVendorId() override { return Header().subVendorId; }
    uint16_t GetSubDeviceId() override { return Header().subDeviceId; }
    std::string GetDevice() override;
    uint8_t GetType() override { return Header().headerType; }
    uint8_t GetProgIF() override { return Header().progIf; }
    uint8_t GetRevisionId() override { return Header().revision; }
    uint8_t GetSpawnedBus() override { return Header().spawnedBus; }
    std::vector<HostCtl::Hardware::PciCapability> GetCapabilities() override;
    bool HasCapability(uint32_t id, bool extended) override;
    // The offset of a capability, -1 when absent.
    int GetCapabilityIndex(uint32_t id, bool extended);
    int GetPciExpressPortType() override;
    bool IsHaldenioReservedDevice() override;
    bool IsBootDevice() override;
    std::string GetSBDFString() override;
    std::string GetPfSbdfString() override;
    std::string GetTarnosDeviceName() override;
    std::string GetSlotDescription() override;
    uint64_t GetDlBusAddress() override { return Header().dlBusAddress; }
    bool IsInPassthruUseByVM() override;
    bool IsInDriverVMMode() override;
    PciDeviceOwner GetRuntimeDeviceOwner() override;
    void SetRuntimeDeviceOwner(PciDeviceOwner owner) override;
    bool HasConfiguredDeviceOwner() override;
    PciDeviceOwner GetConfiguredDeviceOwner() override;
    void SetConfiguredDeviceOwner(PciDeviceOwner owner) override;
    // The owner for this device alone, without its group (boot replay).
    void SetConfiguredDevOwnerNoDeps(PciDeviceOwner owner);
    std::unique_ptr<PciDevice> GetParentDevice() override;
    std::vector<std::unique_ptr<PciDevice>> GetDependantDevice() override;
    std::vector<std::unique_ptr<PciDevice>> GetDependentChildDevices() override;
    bool IsPassthruCapable() override;
    bool IsSriovCapable() override;
    uint32_t GetMaxVFsSupported() override;
    void SetConfiguredMaxVfs(uint32_t n) override;
    uint32_t GetCurrentNumVfs() override;
    void SetRuntimeMaxVfs(uint32_t n) override;
    uint32_t GetRuntimeMaxVfs() override;
    bool HasConfiguredMaxVfs() override;
    uint32_t GetConfiguredMaxVfs() override;
    uint32_t GetSupportedNumVfs() override;
    bool IsVirtualFunction() override;
    uint16_t GetDeviceClass() override { return Header().classCode; }
    std::string GetDeviceClassName() override;
    uint8_t GetInterruptLine() override { return Header().interruptLine; }
    uint32_t GetIrq() override { return Header().irq; }
    uint32_t GetInterruptVector() override { return Header().vector; }
    uint8_t GetPciPin() override { return Header().pin; }
    uint32_t GetFlags() override { return Header().flags; }
    uint32_t GetModuleId() override { return Header().moduleId; }
    std::string GetModuleName() override;
    uint32_t GetChassis() override { return Header().chassis; }
    PciResetMethod GetPciResetMethod() override;
    std::string GetResetMethodString() override;
    std::string GetHardwareLabel() override;
    void SetHardwareLabel(const std::string& label) override;
    void DeleteHardwareLabelFromCS();
    uint32_t GetVfId() override;
    bool IsHotplugSlot() override;
    uint32_t GetHotplugSlotNum() override;
    HostCtl::Hardware::PciHotplugSlotInfo GetHotplugSlotInfo() override;
    bool GetHotplugSlotAdapterPresent() override { return GetHotplugSlotInfo().adapterPresent; }
    uint16_t GetHotplugSlotAdapterDeviceID() override { return HotplugAdapter()->GetDeviceId(); }
    uint16_t GetHotplugSlotAdapterVendorID() override { return HotplugAdapter()->GetVendorId(); }
    std::string GetHotplugSlotAdapterAlias() override { return HotplugAdapter()->GetTarnosDeviceName(); }
    std::string GetHotplugSlotAdapterSBDFString() override { return HotplugAdapter()->GetSBDFString(); }
    std::string GetHotplugSlotAdapterDesc() override { return HotplugAdapter()->GetDevice(); }
    bool GetHotplugSurpriseEnabled() override { return GetHotplugSlotInfo().surpriseEnabled; }
    bool GetHotplugAttnButtonPresent() override { return GetHotplugSlotInfo().attnButtonPresent; }
    HostCtl::Hardware::PciCxlInfo GetCxlInfo() override;
    bool GetDPC() override;
    void EnableDPC(bool on) override;
    void TriggerDPCSoft() override;
    bool IsDPCContainmentDone() override;
    bool IsDPCInProgress() override;
    // The link state of a port (Ksi::Hardware::PciPortStatus), kPortLinkUp for other functions.
    uint32_t GetPciePortOperationStatus();
    bool GetAttnIndicator() override;
    void SetAttnIndicator(bool on) override;
    std::vector<HostCtl::Hardware::PciBar> GetBARInfo() override;
    bool IsPciExpress() override;
    bool IsP2PBridge() override;
    std::string GetDeviceDriver() override;
    std::string GetDeviceDriverType() override;
    std::string GetBoundDriver() override;
    // Binds the function's own module (`bind`) or unbinds its driver.
    void SetBoundDriverInt(bool bind);
    bool GetFPTShareable() override;
    void RestoreResetAttr() override;
    void RestoreFptShareableAttr() override;

    // Boot replay of the stored settings (owner, VF count) into the kernel.
    void ApplyDeviceOwnershipConfig();
    void ApplyDeviceMaxvfsConfig();
    // Refuses an owner value other than the two known ones ("Unknown owner %d").
    static void ValidateDeviceOwnershipConfig(int owner);
    // Refuses a label on a device that is not configured for passthrough.
    void ValidateDeviceHwLabelConfig();

    static std::string OwnerText(PciDeviceOwner owner);       // "tarnos" / "VM passthru"
    static std::string OwnerStoreText(PciDeviceOwner owner);  // "OWNER_TARNOS" / ...
    static HaldenConfigStore::ConfigStoreObjectId StoreId(const std::string& sbdf);

private:
    const Ksi::Hardware::PciConfigHeader& Header();
    const Ksi::Hardware::PciConfigSpace& ConfigSpace();
    // A Sysinfo addressed at this function.
    std::unique_ptr<TarnCtl::Util::Sysinfo> Node(unsigned int node);
    uint32_t ReadU32(unsigned int node);
    // One address of a link node ("" for none); a failed read throws
    // "Unable to read the <what> of PCI device <address>" with the status.
    std::string ReadAddress(unsigned int node, const char* what);
    // The addresses of a list node; a failed listing throws "Unable to list
    // the <what> of PCI device <address>" with the status.
    static constexpr const char* kDependants = "dependants";
    static constexpr const char* kChildren = "children";
    std::vector<std::string> ListBelow(unsigned int node, const char* what);
    // The device, its dependants and children: the group that changes owner
    // together. Throws when a member's dependants or children cannot be listed.
    std::vector<std::unique_ptr<PciDeviceImpl>> OwnershipGroup();
    void CheckOwnerChange(PciDeviceOwner owner);
    // The group of an owner change to `owner`, every member checked; throws
    // `lead` + the cause when the group cannot be found, nothing written.
    std::vector<std::unique_ptr<PciDeviceImpl>> CheckedOwnerGroupInt(PciDeviceOwner owner, const std::string& lead);
    // Gives every member of `group` the run-time owner `owner`; `changed`
    // collects the members changed with their old owner, for PutBackOwnersInt.
    using OwnerChanges = std::vector<std::pair<PciDeviceImpl*, PciDeviceOwner>>;
    static void ChangeGroupOwnerInt(std::vector<std::unique_ptr<PciDeviceImpl>>& group, PciDeviceOwner owner,
                                    OwnerChanges& changed);
    static void PutBackOwnersInt(const OwnerChanges& changed);
    // The run-time owner of this function alone, with its host driver: let go
    // before passthrough, bound again when the host may drive it.
    void SetRuntimeOwnerInt(PciDeviceOwner owner);
    // True when a host driver may take the function: it has a module, no
    // driver VM drives it, and the port above it is not contained.
    bool MayTakeHostDriverInt();
    std::shared_ptr<HaldenConfigStore::ConfigStoreObject> StoredObject();
    // Reads, changes and writes this device's store object (created with
    // "sbdf" and "dl_bus_address" on the first write).
    void UpdateStore(const std::function<void(HaldenConfigStore::ConfigStoreObject&)>& change);
    void RequireSriov(const char* message);
    void RestoreAttrInt(unsigned int node, unsigned long value);
    Ksi::Hardware::PciDpc DpcState();
    // The adapter in this hotplug slot; throws when the slot is empty.
    std::unique_ptr<PciDeviceImpl> HotplugAdapter();

    PciAddress _address;
    std::string _sbdf;
    bool _stale = true;
    Ksi::Hardware::PciConfigHeader _header{};
    std::optional<Ksi::Hardware::PciConfigSpace> _space;
    std::string _vendor, _model;
};

// A Sysinfo addressed at the function `address` of `node`.
std::unique_ptr<TarnCtl::Util::Sysinfo> PciNode(unsigned int node, const PciAddress& address);

// The name of the standard switch that has the NIC `nicName` as an uplink, ""
// when none does. The switches' own area answers; this is the one place the
// hardware area asks.
std::string GetUplinkSwitchOfNic(const std::string& nicName);

// Passthrough attribute map (/etc/quillon/passthru.map) and driver map
// (/etc/quillon/oem.map.d/*.map) entries of a device.
struct PassthruAttrs {
    uint32_t resetMethod;  // Ksi::Hardware::PciResetMethod
    bool fptShareable;
};
PassthruAttrs GetPassthruAttrs(uint16_t vendorId, uint16_t deviceId);
struct DriverEntry {
    std::string driver;
    std::string type;
};
// The entry of "%04x:%04x:%04x:%04x", or none.
std::optional<DriverEntry> GetDriverEntry(uint16_t vendorId, uint16_t deviceId, uint16_t subVendorId,
                                          uint16_t subDeviceId);

}  // namespace TarnCtl::Hardware
