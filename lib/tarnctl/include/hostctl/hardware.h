// PCI devices, passthrough and the hardware inventory: the PCI device and
// inventory interfaces, the processor, memory and NUMA summaries, the host's
// firmware facts, and the PCI name database's free functions.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "hostctl/object.h"

namespace HostCtl::Hardware {

// One PCI function's address; text forms in ParsePciString / GetSBDFString.
struct PciAddress {
    uint16_t seg = 0;
    uint8_t bus = 0;
    uint8_t slot = 0;
    uint8_t func = 0;
    bool operator==(const PciAddress&) const = default;
};

struct PciCapability {
    uint32_t id;
    uint32_t offset;
    bool extended;
};

struct PciBar {
    uint64_t address;
    uint64_t size;
    bool io;
    bool is64;
    bool prefetchable;
};

struct PciHotplugSlotInfo {
    uint32_t slotNumber;
    bool adapterPresent;
    bool surpriseEnabled;
    bool attnButtonPresent;
};

// A CXL device's facts; isCxl false (the rest zero) for other devices.
struct PciCxlInfo {
    bool isCxl;
    uint32_t version;
    bool cache;
    bool mem;
    uint64_t memBytes;
};

class PciDevice : public virtual HostCtl::Lib::HostCtlObject {
public:
    // A fixed underlying type: an owner read from outside may hold any value.
    enum PciDeviceOwner : int { OWNER_TARNOS = 0, OWNER_PASSTHRU = 1 };
    enum PciResetMethod : int {
        RESET_NONE = 0, RESET_DEFAULT, RESET_FUNCTION, RESET_POWER_STATE, RESET_LINK, RESET_BRIDGE,
        RESET_QUIRK, RESET_SOFTWARE,
    };

    virtual uint16_t GetSeg() = 0;
    virtual uint8_t GetBus() = 0;
    virtual uint8_t GetSlot() = 0;
    virtual uint8_t GetFunction() = 0;
    virtual uint32_t GetPhysicalSlot() = 0;
    virtual int32_t GetNumaNode() = 0;
    virtual uint16_t GetVendorId() = 0;
    virtual std::string GetVendor() = 0;
    virtual uint16_t GetDeviceId() = 0;
    virtual uint16_t GetSubVendorId() = 0;
    virtual uint16_t GetSubDeviceId() = 0;
    virtual std::string GetDevice() = 0;
    virtual uint8_t GetType() = 0;
    virtual uint8_t GetProgIF() = 0;
    virtual uint8_t GetRevisionId() = 0;
    virtual uint8_t GetSpawnedBus() = 0;
    virtual std::vector<PciCapability> GetCapabilities() = 0;
    virtual bool HasCapability(uint32_t id, bool extended) = 0;
    virtual int GetPciExpressPortType() = 0;
    virtual bool IsHaldenioReservedDevice() = 0;
    virtual bool IsBootDevice() = 0;
    virtual std::string GetSBDFString() = 0;
    virtual std::string GetPfSbdfString() = 0;
    virtual std::string GetTarnosDeviceName() = 0;
    virtual std::string GetSlotDescription() = 0;
    virtual uint64_t GetDlBusAddress() = 0;
    virtual bool IsInPassthruUseByVM() = 0;
    // Driven by a driver VM: the host never binds a driver to it.
    virtual bool IsInDriverVMMode() = 0;
    virtual PciDeviceOwner GetRuntimeDeviceOwner() = 0;
    virtual void SetRuntimeDeviceOwner(PciDeviceOwner owner) = 0;
    virtual bool HasConfiguredDeviceOwner() = 0;
    virtual PciDeviceOwner GetConfiguredDeviceOwner() = 0;
    virtual void SetConfiguredDeviceOwner(PciDeviceOwner owner) = 0;
    virtual std::unique_ptr<PciDevice> GetParentDevice() = 0;
    virtual std::vector<std::unique_ptr<PciDevice>> GetDependantDevice() = 0;
    virtual std::vector<std::unique_ptr<PciDevice>> GetDependentChildDevices() = 0;
    virtual bool IsPassthruCapable() = 0;
    virtual bool IsSriovCapable() = 0;
    virtual uint32_t GetMaxVFsSupported() = 0;
    virtual void SetConfiguredMaxVfs(uint32_t n) = 0;
    virtual uint32_t GetCurrentNumVfs() = 0;
    virtual void SetRuntimeMaxVfs(uint32_t n) = 0;
    virtual uint32_t GetRuntimeMaxVfs() = 0;
    virtual bool HasConfiguredMaxVfs() = 0;
    virtual uint32_t GetConfiguredMaxVfs() = 0;
    virtual uint32_t GetSupportedNumVfs() = 0;
    virtual bool IsVirtualFunction() = 0;
    virtual uint16_t GetDeviceClass() = 0;
    virtual std::string GetDeviceClassName() = 0;
    virtual uint8_t GetInterruptLine() = 0;
    virtual uint32_t GetIrq() = 0;
    virtual uint32_t GetInterruptVector() = 0;
    virtual uint8_t GetPciPin() = 0;
    virtual uint32_t GetFlags() = 0;
    virtual uint32_t GetModuleId() = 0;
    virtual std::string GetModuleName() = 0;
    virtual uint32_t GetChassis() = 0;
    virtual PciResetMethod GetPciResetMethod() = 0;
    virtual std::string GetResetMethodString() = 0;
    virtual std::string GetHardwareLabel() = 0;
    virtual void SetHardwareLabel(const std::string& label) = 0;
    virtual uint32_t GetVfId() = 0;
    virtual bool IsHotplugSlot() = 0;
    virtual uint32_t GetHotplugSlotNum() = 0;
    virtual PciHotplugSlotInfo GetHotplugSlotInfo() = 0;
    virtual bool GetHotplugSlotAdapterPresent() = 0;
    // The adapter in a hotplug slot: the first endpoint below the slot's port.
    virtual uint16_t GetHotplugSlotAdapterDeviceID() = 0;
    virtual uint16_t GetHotplugSlotAdapterVendorID() = 0;
    virtual std::string GetHotplugSlotAdapterAlias() = 0;
    virtual std::string GetHotplugSlotAdapterSBDFString() = 0;
    virtual std::string GetHotplugSlotAdapterDesc() = 0;
    virtual bool GetHotplugSurpriseEnabled() = 0;
    virtual bool GetHotplugAttnButtonPresent() = 0;
    virtual PciCxlInfo GetCxlInfo() = 0;
    // Downstream port containment of a PCI Express port.
    virtual bool GetDPC() = 0;
    virtual void EnableDPC(bool on) = 0;
    virtual void TriggerDPCSoft() = 0;
    virtual bool IsDPCContainmentDone() = 0;
    virtual bool IsDPCInProgress() = 0;
    virtual bool GetAttnIndicator() = 0;
    virtual void SetAttnIndicator(bool on) = 0;
    virtual std::vector<PciBar> GetBARInfo() = 0;
    virtual bool IsPciExpress() = 0;
    virtual bool IsP2PBridge() = 0;
    virtual std::string GetDeviceDriver() = 0;
    virtual std::string GetDeviceDriverType() = 0;
    // The host driver bound to the function now, "" when none.
    virtual std::string GetBoundDriver() = 0;
    virtual bool GetFPTShareable() = 0;
    virtual void RestoreResetAttr() = 0;
    virtual void RestoreFptShareableAttr() = 0;
};

class PciInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::vector<std::unique_ptr<PciDevice>> GetAllPciDevices() = 0;
    virtual std::vector<std::unique_ptr<PciDevice>> GetTarnosPciDevices() = 0;
    virtual std::vector<std::unique_ptr<PciDevice>> GetPassthruPciDevices() = 0;
    virtual bool PciPassthruDisabled() = 0;
    // Unbinds the host drivers of the devices (addresses) and their
    // dependants; all or none: a failure binds back those already unbound.
    virtual void UnbindDeviceList(const std::vector<std::string>& addresses) = 0;
    // Binds a driver to every host-owned function of the segment (-1: of
    // every segment) that has none.
    virtual void ScanAndBind(int segment) = 0;
};

struct CpuSummary {
    uint32_t numPackages, numCores, numThreads;
    bool htActive, htSupported, htEnabled, htMitigated;
    uint32_t hvSupport;
    std::string modelName;
    std::string rawCpuid;  // "0x%08x,0x%08x,0x%08x,0x%08x"
};

struct MemoryTierSummary {
    std::string type;
    std::string media;
    uint64_t bytes;
};

struct MemorySummary {
    uint64_t physicalBytes, reservedBytes;
    std::string tieringType;
    std::vector<MemoryTierSummary> tiers;
};

struct NumaNodeSummary {
    uint32_t id;
    uint64_t bytes;
};

class CpuInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual CpuSummary GetSummary() = 0;
    virtual void SetHyperthreadingEnabled(bool on) = 0;
};

class MemoryInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual MemorySummary GetSummary() = 0;
};

class NumaInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::vector<NumaNodeSummary> GetNodes() = 0;
};

struct BootDevice {
    uint16_t id;
    std::string description;
};

struct BmcFacts {
    std::string version;
    std::string osName;
    std::string osVersion;
    std::string hostname;  // the host's name as the BMC caches it
};
struct SgxFacts {
    bool supported, enabled, flexibleLaunchControl;
    uint64_t epcBytes;
};
struct SevFacts {
    bool supported, enabled, esSupported;
    uint32_t maxGuests;
};
struct TdxFacts {
    bool supported, enabled;
    uint32_t maxGuests;
};
struct NvdFacts {
    uint32_t count;
    uint64_t bytes;
};

// Device virtualization extensions: drivers that offer virtual instances of
// their device to virtual machines.
struct DvxDeviceFacts {
    std::string sbdf;
    std::string driver;
    uint32_t maxInstances;
    uint32_t usedInstances;
};
struct DvxFacts {
    bool supported, enabled;
    std::vector<DvxDeviceFacts> devices;  // empty unless supported
};
// A device a virtual machine can be given now: handed to passthrough.
struct AssignableDevice {
    std::string sbdf;
    std::string vendorName;
    std::string deviceName;
    std::string hardwareLabel;
    bool inUseByVm;
};
struct SmartCardReaderFacts {
    std::string name;
    uint16_t vendorId;  // USB ids
    uint16_t productId;
    bool cardPresent;
};
struct PowerPolicyFacts {
    uint32_t id;
    std::string shortName;
    std::string name;
};
struct PowerFacts {
    PowerPolicyFacts current;
    uint32_t hardwareSupport;                  // bits, as GetPowerManagementHardwareSupport
    std::vector<std::string> supportedTechniques;  // "ACPI P-states", "ACPI C-states"
    std::vector<PowerPolicyFacts> policies;    // by id
};
// Persistent memory: the NVDIMM modules and the part of it the memory tiers use.
struct PMemFacts {
    uint32_t modules;
    uint64_t moduleBytes;
    uint64_t tierBytes;
};

class HardwareInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual DvxFacts GetDVXInfo() = 0;
    virtual std::vector<AssignableDevice> GetAssignableHardwareInfo() = 0;
    virtual std::unique_ptr<PciInfo> GetPciInfo() = 0;
    virtual bool IsSmcPresent() = 0;
    virtual std::unique_ptr<MemoryInfo> GetMemoryInfo() = 0;
    virtual std::unique_ptr<CpuInfo> GetCpuInfo() = 0;
    virtual std::vector<SmartCardReaderFacts> GetSmartCardInfo() = 0;
    virtual PowerFacts GetPowerInfo() = 0;
    virtual uint32_t GetPowerManagementCurrentPolicy() = 0;
    virtual uint32_t GetPowerManagementHardwareSupport() = 0;
    virtual std::unique_ptr<NumaInfo> GetNumaInfo() = 0;
    virtual std::string GetHardwareUuid() = 0;
    virtual std::string GetProductName() = 0;
    virtual std::string GetVendorName() = 0;
    virtual std::string GetSerialNumber() = 0;
    virtual uint64_t GetHardwareUptime() = 0;
    virtual std::vector<BootDevice> GetBootDevices() = 0;
    virtual void SwapBootDeviceOrder(uint16_t a, uint16_t b) = 0;
    virtual bool IsIPMISupported() = 0;
    virtual std::string GetBMCVersion() = 0;
    virtual PMemFacts GetPMemInfo() = 0;
    virtual std::string GetBiosInfo() = 0;
    virtual BmcFacts GetBmcInfo() = 0;
    // Tells the BMC which OS runs on the host.
    virtual void SetBmcOSInfo(const std::string& name, const std::string& version) = 0;
    // Hands the host's name to the BMC and checks that it took it.
    virtual void ReportToBmcHaldenHostname(const std::string& name) = 0;
    virtual NvdFacts GetNvdInfo() = 0;
    virtual SgxFacts GetSgxInfo() = 0;
    virtual SevFacts GetSevInfo() = 0;
    virtual TdxFacts GetTdxInfo() = 0;
};

// ---- PCI addresses and the name database (free functions).

// Parses "%04x:%02x:%02x.%x", "%05d:%03d:%02d.%d", "%02x:%02x.%x" or
// "%03d:%02d.%d", told apart by the widths of their fields; anything else
// throws "Invalid PCI address: " + text.
PciAddress ParsePciString(const std::string& text);
// The canonical text "%04x:%02x:%02x.%x".
std::string GetSBDFString(const PciAddress& address);

// Vendor and model names of an id set; never fails (falls back to "Unknown").
void GetVendorModelFromPCI(std::string& vendorName, std::string& modelName, uint16_t vendorId,
                           uint16_t deviceId, uint16_t subVendorId, uint16_t subDeviceId);
// The name of a class << 8 | subclass code, "Unknown" when none.
std::string GetPCIClass(uint16_t classCode);

}  // namespace HostCtl::Hardware
