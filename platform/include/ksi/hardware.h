// Kernel records of the PCI and hardware-inventory nodes (/hardware/pci/...,
// /hardware/bios, /uefi, /memory, /timer, /power), shared by the library and
// the simulated kernel. Layouts are packed; texts are NUL-padded arrays.
#pragma once

#include <cstdint>

namespace Ksi::Hardware {

inline constexpr unsigned int kPciConfigSpaceMax = 4096;
inline constexpr unsigned int kPciAddressLength = 16;  // "ssss:bb:dd.f" + NUL
inline constexpr unsigned int kMaxBars = 6;
inline constexpr unsigned int kMaxBootEntries = 32;

// Header flags.
enum PciFlags : uint32_t {
    kPciFlagBootDevice = 1u << 0,  // the device the host booted from
    kPciFlagReserved = 1u << 1,    // kept by the system, never handed away
    kPciFlagHotplugSlot = 1u << 2,
    kPciFlagPciExpress = 1u << 3,
};

// Owners as the kernel and the store number them.
enum PciOwner : uint32_t { kOwnerTarnos = 0, kOwnerPassthru = 1 };

// Reset methods (kernel numbering).
enum PciResetMethod : uint32_t {
    kResetNone = 0, kResetDefault, kResetFunction, kResetPowerState, kResetLink, kResetBridge,
    kResetQuirk, kResetSoftware,
};

#pragma pack(push, 1)

// .../func/pciConfigHeader, instance: seg/bus/slot/func.
struct PciConfigHeader {
    uint16_t vendorId;
    uint16_t deviceId;
    uint16_t subVendorId;
    uint16_t subDeviceId;
    uint16_t classCode;  // class << 8 | subclass
    uint8_t progIf;
    uint8_t revision;
    uint8_t headerType;  // 0 endpoint, 1 PCI-to-PCI bridge
    uint8_t interruptLine;
    uint8_t pin;
    uint8_t spawnedBus;  // secondary bus of a bridge
    uint32_t irq;
    uint32_t vector;
    uint32_t flags;      // PciFlags
    uint32_t moduleId;
    uint32_t chassis;
    uint32_t physicalSlot;
    int32_t numaNode;
    uint64_t dlBusAddress;  // device-layer address of the device-tree node
    char deviceName[32];    // kernel device name ("pnx0", "hbx1"), "" when none
    char moduleName[32];    // driver module bound to it
    char slotDescription[64];
};

// .../func/pciConfigSpace: the raw space, `length` bytes valid (256 or 4096).
struct PciConfigSpace {
    uint32_t length;
    uint8_t data[kPciConfigSpaceMax];
};

struct PciBar {
    uint64_t address;
    uint64_t size;
    uint32_t flags;  // bit 0 I/O, bit 1 64-bit, bit 2 prefetchable
};
// .../func/BARInfo.
struct PciBarInfo {
    uint32_t count;
    PciBar bars[kMaxBars];
};

// .../func/parent, .../func/passthruDependent, .../func/vfProperties: one
// address ("" for none: a device directly under the host bridge has no parent).
struct PciAddressText {
    char sbdf[kPciAddressLength];
};

// .../func/owner: run-time owner; Set takes the owner as one integer input.
struct PciOwnerState {
    uint32_t owner;      // PciOwner
    uint32_t inUseByVm;  // a running VM holds the device
    uint32_t driverVm;   // driven by a driver VM, never by a host driver
};

// .../func/driver: the host driver bound to the function, "" when none. Set
// takes one text input: "" unbinds, the function's module binds it again.
struct PciDriverBinding {
    char name[32];
};

// /hardware/pci/rescan: Set takes one integer input, the segment to scan (-1
// every segment); every function the host owns that has no driver is bound to
// its module.

// .../func/hotplugSlotInfo.
struct PciHotplugSlot {
    uint32_t slotNumber;
    uint32_t adapterPresent;
    uint32_t surpriseEnabled;
    uint32_t attnButtonPresent;
};

// .../func/DPC. Set takes one integer input: 1 enables, 0 disables
// containment on a capable port. .../func/softTriggerDPC: Set (no input)
// triggers containment on an enabled port; the port's DPC status register
// then reports the trigger and its link is down until the next reboot.
struct PciDpc {
    uint32_t capable;
    uint32_t enabled;
    uint32_t containmentDone;
    uint32_t inProgress;
};

// .../func/pciePortOperationStatus: the link of a port.
enum PciPortStatus : uint32_t { kPortLinkUp = 0, kPortLinkDown = 1, kPortContained = 2 };

// .../func/cxlInfo: present only on CXL devices.
struct PciCxlInfo {
    uint32_t version;  // 1, 2 or 3
    uint32_t cache;    // CXL.cache supported
    uint32_t mem;      // CXL.mem supported
    uint64_t memBytes; // device-attached memory
};

// /hardware/bios/dmiInfo.
struct DmiInfo {
    char productName[64];
    char vendorName[64];
    char serialNumber[64];
    char biosVendor[64];
    char biosVersion[64];
    char biosReleaseDate[32];
    uint8_t uuid[16];
};

// /uefi/variable, instance "BootOrder": the boot order; instance "BootNNNN":
// one entry's description.
struct UefiBootOrder {
    uint32_t count;
    uint16_t entries[kMaxBootEntries];
};
struct UefiBootEntry {
    char description[128];
};

// /hardware/cpu/cpuInfo.
struct CpuInfo {
    uint32_t numPackages;
    uint32_t numCores;
    uint32_t numThreads;
    uint32_t htActive;
    uint32_t htSupported;
    uint32_t htMitigated;
    uint32_t hvSupport;  // 0 none, 1 disabled, 2 enabled
    uint32_t cpuid[4];   // leaf 1: eax, ebx, ecx, edx
};
// /hardware/cpu/cpuList, instance: CPU id.
struct Cpu {
    uint32_t id;
    uint32_t package;
    uint32_t core;
    uint32_t thread;
    uint64_t mhz;
};

// /hardware/bmc/info: the board's management controller. /hardware/bmc/osInfo
// Set takes two text inputs (OS name, version); /hardware/bmc/hostname one
// (the host's name). The controller keeps both across host reboots.
struct BmcInfo {
    uint32_t present;
    char version[32];
    char osName[64];
    char osVersion[64];
    char hostname[256];
};

// /hardware/cpu/sgxInfo.
struct SgxInfo {
    uint32_t supported;
    uint32_t enabled;
    uint32_t flexibleLaunchControl;
    uint64_t epcBytes;  // enclave page cache
};
// /hardware/cpu/sevInfo.
struct SevInfo {
    uint32_t supported;
    uint32_t enabled;
    uint32_t esSupported;  // encrypted state
    uint32_t maxGuests;
};
// /hardware/cpu/tdxInfo.
struct TdxInfo {
    uint32_t supported;
    uint32_t enabled;
    uint32_t maxGuests;
};
// /hardware/nvd/info: non-volatile DIMMs.
struct NvdInfo {
    uint32_t count;
    uint64_t bytes;
};

// /hardware/dvx/info: device virtualization extensions, through which a
// device's driver offers virtual instances of it to virtual machines.
struct DvxInfo {
    uint32_t supported;
    uint32_t enabled;
};
// /hardware/dvx/devices, instance: the PCI address of a device offering instances.
struct DvxDevice {
    char driver[32];
    uint32_t maxInstances;
    uint32_t usedInstances;
};

// /hardware/smartCard/readers, instance: reader index.
struct SmartCardReader {
    char name[64];
    uint32_t vendorId;   // USB ids
    uint32_t productId;
    uint32_t cardPresent;
};

// /power/policies, instance: policy id; /power/currentPolicy holds one of the ids.
struct PowerPolicy {
    uint32_t id;
    char shortName[16];
    char name[64];
};
// /power/hardwareSupport bits.
enum PowerSupport : uint32_t { kPowerPStates = 1u << 0, kPowerCStates = 1u << 1 };

// /memory/memInfo.
struct MemInfo {
    uint64_t physicalBytes;
    uint64_t reservedBytes;
    uint32_t numaNodes;
};
// /memory/nodeList, instance: NUMA node id.
struct NumaNode {
    uint32_t id;
    uint64_t bytes;
};
// /memory/tiers/info, instance: tier index.
struct MemoryTier {
    uint32_t type;   // 0 memoryTier ... 4 vmOverheadTier
    uint32_t media;  // 0 DRAM, 1 PMem, 2 NVMe
    uint64_t bytes;
};

// /timer/info.
struct TimerInfo {
    uint64_t uptimeMicros;
    uint64_t tscHz;
};

#pragma pack(pop)

}  // namespace Ksi::Hardware
