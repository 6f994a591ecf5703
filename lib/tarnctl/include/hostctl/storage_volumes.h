// Disk file-system volumes: a mounted or unmounted volume on one or more disk
// partitions ("extents"), and an unresolved volume: one found on disks that
// are not the ones it was written on (a LUN snapshot or replica), which must
// be resignatured or force-mounted before use.
#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hostctl/object.h"

namespace HostCtl::Storage {

class DiskLunPartition;

// A file-system volume of any kind.
class FileSystem : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetUuid() = 0;
    virtual std::string GetVolumeName() = 0;
    // "/kdfs/volumes/<UUID>" when mounted, else "".
    virtual std::string GetConsolePath() = 0;
    // "KDFS", "KDFS-L", "NFS", ...
    virtual std::string GetType() = 0;
    virtual uint64_t GetSize() = 0;
    virtual bool IsMounted() = 0;
    virtual bool IsAccessible() = 0;
};

// Space-reclaim settings of a volume.
struct VolumeUnmapProperty {
    uint32_t granularity = 0;          // bytes
    std::string priority = "low";      // "none", "low", "medium", "high" (method "priority")
    std::string method = "priority";   // "priority" or "fixed"
    uint32_t bandwidth = 0;            // MB/s (method "fixed")
};

// One host's heartbeat slot on a volume: a host that has (state 1) or had
// (state 0) the volume open.
struct KdfsUserInfo {
    std::string hostUuid;
    uint32_t state = 0;   // 0 free, 1 live
    int64_t stampUS = 0;  // when the host last wrote the slot
    bool thisHost = false;
};

// Light-weight I/O counters of a mounted volume since it was mounted.
struct KdfsLightStats {
    uint64_t readOps = 0;
    uint64_t writeOps = 0;
    uint64_t readBytes = 0;
    uint64_t writeBytes = 0;
    uint32_t openFiles = 0;
};

class VmFileSystem : public virtual FileSystem {
public:
    static constexpr size_t MAX_FS_NAME_LENGTH = 128;
    static constexpr size_t MAC_SIZE = 21;

    enum LockMode : uint32_t { LOCK_MODE_PUBLIC = 0, LOCK_MODE_ATS_ONLY = 1, LOCK_MODE_ATS_SCSI = 2 };
    static std::string GetLockModeString(LockMode mode);
    enum MountOption : uint32_t { MOUNT_DEFAULT = 0, MOUNT_SKIP_UPGRADE = 1 };
    enum UnmountOption : uint32_t { UNMOUNT_TRANSIENT = 0, UNMOUNT_PERSISTENT = 1 };
    // Which heartbeat slots GetKdfsUserInfo reports.
    enum LivenessCheckType : uint32_t {
        LIVENESS_ALL_SLOTS = 0,        // every slot, live or free
        LIVENESS_LIVE = 1,             // live slots of any host
        LIVENESS_LIVE_OTHER_HOSTS = 2  // live slots of hosts other than this one
    };
    // Storage-offload primitive support of the devices under a volume.
    enum SopiStatus : uint32_t { SOPI_STATUS_UNKNOWN = 0, SOPI_STATUS_SUPPORTED = 1, SOPI_STATUS_UNSUPPORTED = 2 };
    // "unknown", "supported", "unsupported".
    static std::string GetSopiStatusString(SopiStatus status);

    virtual std::string GetLvmName() = 0;
    // device:partition of extent 0.
    virtual std::string GetHeadExtentName() = 0;
    virtual uint32_t GetMajorVersion() = 0;
    virtual uint32_t GetMinorVersion() = 0;
    virtual uint64_t GetBlockSize() = 0;
    virtual uint64_t GetTotalBlocks() = 0;
    virtual uint64_t GetBlocksUsed() = 0;
    // device:partition of every extent, by extent index.
    virtual std::vector<std::string> GetExtents() = 0;
    virtual uint32_t GetExtentCount() = 0;
    virtual std::unique_ptr<DiskLunPartition> GetHeadPartition() = 0;
    virtual bool IsAccessibleWithReason(std::string* reason) = 0;
    virtual bool IsForceMounted() = 0;
    virtual bool IsReadOnly() = 0;
    virtual LockMode GetLockMode() = 0;
    // True when another host has the volume open (`includeThisHost`: any host).
    virtual bool IsActiveVolume(bool includeThisHost) = 0;
    // The heartbeat slots on the volume's head extent that `check` selects.
    virtual std::vector<KdfsUserInfo> GetKdfsUserInfo(LivenessCheckType check) = 0;
    // Whether I/O resource management runs on the (mounted) volume.
    virtual bool IsIormEnabled() = 0;
    // Turns I/O resource management off on a mounted volume; the setting is
    // kept on the volume (it holds after a remount or a reboot).
    virtual void DisableIORM() = 0;
    // Over every device under an extent: unsupported when one device lacks a
    // primitive, supported when every device has every one, else unknown.
    virtual SopiStatus GetSOPIState() = 0;
    // The same for the atomic test-and-set primitive alone.
    virtual SopiStatus GetSOPIAtsStatus() = 0;
    // True when every device under an extent reports its wear level.
    virtual bool IsWearSupported() = 0;
    virtual KdfsLightStats GetKdfsLightStats() = 0;

    virtual void SetVolumeName(const std::string& label) = 0;
    // Spans the volume onto `partition` (device:n of another device).
    virtual void AddExtent(const std::string& partition, unsigned int flags) = 0;
    // Grows the extent on `partition` into the free space after it.
    virtual void GrowExtent(const std::string& partition) = 0;
    virtual void SetLockMode(LockMode mode) = 0;
    virtual VolumeUnmapProperty GetVolumeUnmapProperty() = 0;
    virtual void SetVolumeUnmapProperty(const VolumeUnmapProperty& property) = 0;
    // Reclaims free space; returns the blocks reclaimed.
    virtual uint64_t UnmapVolume(uint32_t reclaimUnit) = 0;
    virtual void ConvertToVersion3() = 0;
    virtual void ConvertToVersion5() = 0;
    virtual void Mount(MountOption option) = 0;
    virtual void Unmount(UnmountOption option) = 0;
    // Resolved (force-mounted) snapshot volumes only.
    virtual void SetPersistentMount(bool persistent) = 0;
    virtual bool IsForceMountPersistent() = 0;
    // False when the user unmounted the volume.
    virtual bool IsAutomountEligible() = 0;
    virtual void DeleteState() = 0;
    virtual bool GetClusteredVmdkVolume() = 0;
    virtual void SetClusteredVmdkVolume(bool enabled) = 0;
    // Passed to the file-system library unchanged.
    virtual void SetClusteredVmdkState(uint32_t state) = 0;
    // Whether a device under any extent is reached over Fibre Channel (or
    // FCoE), over NVMe/TCP, or is an NVMe device.
    virtual bool HasFibreChannelTransport() = 0;
    virtual bool HasTcpTransport() = 0;
    virtual bool IsNVMe() = 0;
};

// One extent of an unresolved volume.
class UnresolvedKdfsExtent : public virtual HostCtl::Lib::HostCtlObject {
public:
    virtual std::string GetDeviceName() = 0;
    virtual uint32_t GetPartition() = 0;
    virtual uint32_t GetKdfsExtentIndex() = 0;
    virtual uint64_t GetStart() = 0;
    virtual uint64_t GetEnd() = 0;
    virtual std::string GetKdfsUuid() = 0;
};

class UnresolvedKdfsVolume : public virtual HostCtl::Lib::HostCtlObject {
public:
    enum ResolveError : int {
        RESOLVE_OK = 0,
        RESOLVE_DUPLICATE_EXTENTS = 1,
        RESOLVE_MISSING_EXTENTS = 2,
        RESOLVE_EXTRA_EXTENTS = 3,
        RESOLVE_CHECK_FAILED = 4,
        RESOLVE_IN_USE = 5,
        RESOLVE_SOURCE_ONLINE = 6,
        RESOLVE_SOURCE_EXTENTS_ONLINE = 7,
    };
    static std::string ResolveErrorToString(int error);

    virtual std::string GetKdfsUuid() = 0;
    virtual std::string GetKdfsLabel() = 0;
    virtual std::string GetLvmName() = 0;
    // device:partition of the extent with index 0 (or the lowest present).
    virtual std::string GetHeadExtent() = 0;
    virtual uint64_t GetTotalSize() = 0;
    virtual std::string GetVolumeType() = 0;
    // True for a copy (its extents sit on devices other than those written).
    virtual bool IsSnapshot() = 0;
    // Ordered by extent index.
    virtual std::vector<std::shared_ptr<UnresolvedKdfsExtent>> GetExtents() = 0;
    // "complete", or the reason the extent set is not.
    virtual std::string GetExtentStatus() = 0;
    // Checks extents, then (checkInUse) heartbeats, then (checkSource) whether
    // the original volume is online. `error` gets the first failure.
    virtual bool CanResolve(bool checkSource, bool checkInUse, ResolveError* error) = 0;
    // Gives the copy a new identity and mounts it; returns the new UUID.
    virtual std::string ResolveVolume() = 0;
    // Mounts the copy under its old identity (`persistent`: again at boot).
    virtual void ForceMountKdfs(bool persistent, bool readOnly) = 0;
};

}  // namespace HostCtl::Storage
