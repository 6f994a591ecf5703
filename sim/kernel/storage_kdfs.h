// Shared between the simulated file-system library (its entries run as calls
// of a private kernel module, so that they are atomic, injectable and see one
// state) and the disk file-system area that answers them.
#pragma once

#include <cstdint>

namespace TarnSim::Kdfs {

inline constexpr const char* kLibModule = "tarnfslib";

// One node of the private module per library entry.
enum Entry : uint32_t {
    kInit = 1,
    kCreateFS,
    kSpanFS,
    kGrowFS,
    kSetFSName,
    kUpgradeFS,
    kConfigATSOnly,
    kGetFSUnmapProperty,
    kSetFSUnmapProperty,
    kGetVolUnmapCapability,
    kInitAsyncUnmap,
    kPerformAsyncUnmap,
    kEndAsyncUnmap,
    kCheckForExistingFS,
    kScanAdapter,
    kReserveDisk,
    kGetKDFSVersion,
    kGetDeviceProperties,
    kGetKDFSHostUUID,
    kRescanDevices,
    kGetClusteredVMDKVol,
    kSetClusteredVMDKVol,
    kSetClusteredVMDKState,
};

// A reply is JSON text written into the caller's buffer of this size.
inline constexpr unsigned kReplySize = 64 * 1024;

}  // namespace TarnSim::Kdfs
