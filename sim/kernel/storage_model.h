// The simulated storage hardware: adapters and devices as the "storage"
// profile section describes them, and how they are placed into (and taken out
// of) the kernel's storage nodes. Shared by the area, its node handlers and
// its profile generator.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <rapidjson/fwd.h>

#include "sim/kernel.h"

namespace TarnSim::StorageModel {

// The simulation's own per-object flags, kept in a private kernel module so
// that they travel with the kernel state.
inline constexpr const char* kModule = "simstorage";
enum : uint32_t { kAdapterFlagsNode = 1, kDeviceFlagsNode = 2 };

struct AdapterFlags {
    uint32_t rescanStatus;  // status every scan step of this adapter returns
};
struct DeviceFlags {
    uint32_t stateStatus;  // status a state change returns (busy, wrong state)
};

struct AdapterSpec {
    std::string name, driver, description, uid;
    uint32_t transport = 0;
    uint32_t queueDepth = 128;
    bool nvme = false;
    int pciSegment = -1, pciBus = 0, pciSlot = 0, pciFunction = 0;
    uint32_t guardType = 0, protMask = 0;
    uint32_t rescanStatus = 0;
};

struct PathSpec {
    std::string adapter;
    uint32_t channel = 0, target = 0, lun = 0;
    std::string state = "active";  // active, off, dead, standby
    std::string plugin = "NMP";
    std::string targetUid;
    bool optimized = true;     // in the array's optimized target port group
    uint32_t priority = 0;     // the group's array priority
    uint32_t stateStatus = 0;  // status a path state change returns (busy)
    std::string RuntimeName() const;
};

struct PartitionSpec {
    uint32_t number = 0;
    uint64_t start = 0, end = 0;
    std::string typeGuid, guid;
};

struct DeviceSpec {
    std::string uid;
    std::vector<std::string> otherUids;
    uint32_t type = 0;
    std::string typeString = "Direct-Access";
    std::string vendor, model, revision = "0001";
    uint64_t blocks = 0;
    uint32_t blockSize = 512;
    uint32_t queueDepth = 64;
    uint32_t scsiLevel = 6;
    bool local = false, ssd = false, removable = false, nvme = false, pseudo = false;
    bool persistable = true, rdmCapable = true;
    bool wear = false;  // reports its wear level
    // Offload primitives: ats, clone, zero, delete (KSI_SOPI_*).
    uint32_t sopi[4] = {};
    uint32_t status = 0;
    uint32_t stateStatus = 0;
    std::vector<PathSpec> paths;
    std::vector<PartitionSpec> partitions;
    std::vector<std::string> worlds;  // ids of worlds holding the device open
};

struct Hardware {
    std::vector<AdapterSpec> adapters;
    std::vector<DeviceSpec> devices;
};

// Reads the "storage" section (null: no storage).
Hardware Parse(const rapidjson::Value* section);
// The hardware of the host's current profile.
Hardware CurrentHardware();

uint32_t TransportFromText(const std::string& text);
const char* TransportText(uint32_t transport);

void AddAdapter(KernelState& state, const AdapterSpec& adapter);
// Places the device and those of its paths whose adapter is present.
void AddDevice(KernelState& state, const DeviceSpec& device);
void AddPath(KernelState& state, const DeviceSpec& device, const PathSpec& path);
void RemovePath(KernelState& state, const std::string& deviceUid, const std::string& adapter,
                const std::string& runtimeName);
// Removes the device and everything below it (persisted attributes stay).
void RemoveDevice(KernelState& state, const std::string& uid);

// The multipathing side of the model (storage_nmp.cpp): a placed path is
// claimed by the plug-in its claim rule gives; a removed one is released; a
// path state change lets the plug-in move I/O; claim-rule runs and
// claim/unclaim requests of the claimrule node.
void ClaimNewPath(KernelState& state, const DeviceSpec& device, const PathSpec& path);
void ReleasePath(KernelState& state, const std::string& deviceUid, const std::string& runtimeName);
// A path leaving the host: released, and its counters and facts dropped.
void ForgetPath(KernelState& state, const std::string& deviceUid, const std::string& runtimeName);
void PathStateChanged(KernelState& state, const std::string& runtimeName);
TARN_ReturnStatus ClaimRuleCall(Call& c);

// Persistent device attributes survive reboots in a file of the host.
void LoadPersistentAttributes(KernelState& state);
void SavePersistentAttributes(const KernelState& state);

}  // namespace TarnSim::StorageModel
