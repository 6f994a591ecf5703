// The storage domain: adapters and their kinds, SCSI devices and partitions,
// paths as the devices and adapters see them, and the storage domain object
// that lists and looks them up and carries the rescan operations.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hostctl/object.h"
#include "hostctl/storage_volumes.h"

namespace HostCtl::Storage {

// ---- Values -------------------------------------------------------------------

// I/O counters of an adapter, a device or a path, in the kernel's order.
struct StorageStatistics {
    uint64_t commands = 0;
    uint64_t blocksRead = 0;
    uint64_t blocksWritten = 0;
    uint64_t aborts = 0;
    uint64_t resets = 0;
    uint64_t readOps = 0;
    uint64_t writeOps = 0;
    uint64_t reserveUnitOps = 0;
    uint64_t reservationConflicts = 0;
    uint64_t paeCommands = 0;
    uint64_t paeCopies = 0;
    uint64_t splitCommands = 0;
    uint64_t splitCopies = 0;
    uint64_t issueTime = 0;
    uint64_t totalTime = 0;
    uint64_t readsIssueTime = 0;
    uint64_t writesIssueTime = 0;
    uint64_t readsTotalTime = 0;
    uint64_t writesTotalTime = 0;
    uint64_t layerTime = 0;
    uint64_t layerTimeRead = 0;
    uint64_t layerTimeWrite = 0;
    uint64_t queueTime = 0;
    uint64_t queueTimeRead = 0;
    uint64_t queueTimeWrite = 0;

    static constexpr unsigned kCounters = 25;
    // Fills the counters from 25 values in the order above.
    void SetValues(const uint64_t* values);
    // One "Label: value" line per counter (queue times before layer times).
    std::string ToString() const;
};

// Task-management counters, set together.
struct TaskManagementStats {
    uint64_t abortTasks = 0;
    uint64_t abortTaskSets = 0;
    uint64_t clearAcas = 0;
    uint64_t clearTaskSets = 0;
    uint64_t lunResets = 0;
    uint64_t targetResets = 0;
    void SetValues(uint64_t abortTask, uint64_t abortTaskSet, uint64_t clearAca,
                   uint64_t clearTaskSet, uint64_t lunReset, uint64_t targetReset);
};

struct ScsiStats {
    StorageStatistics io;
    TaskManagementStats taskManagement;
};

// Claim-rule classes of the pluggable storage architecture.
enum PSAClaimRuleClass : int { MP = 1, Filter = 2, SOPI = 3 };

class Lun;
class ScsiInterface;
namespace Nmp {
class NmpDeviceConfig;
class NmpPsaPlugin;
class NmpScsiPathConfig;
}  // namespace Nmp

// ---- Paths --------------------------------------------------------------------

// One route from an adapter through a target to a device.
class ScsiPath : public virtual HostCtl::Lib::HostCtlObject {
public:
    enum PathState : uint32_t { ACTIVE = 0, OFF = 1, DEAD = 2, STANDBY = 3, CHANGED = 4 };

    // The path UID: adapter, target and device UIDs joined with "-".
    virtual std::string GetIdentifier() = 0;
    // adapter:channel:target:LUN.
    virtual std::string GetRuntimeName() = 0;
    virtual std::string GetAdapterIdentifier() = 0;
    virtual std::string GetTargetIdentifier() = 0;
    virtual std::string GetControllerName() = 0;
    virtual uint32_t GetNSId() = 0;
    virtual bool IsUniqueIdentifier() = 0;
    virtual bool IsPersistableIdentifier() = 0;
    virtual std::string GetDeviceIdentifier() = 0;
    virtual std::unique_ptr<Lun> GetDevice() = 0;
    virtual std::string GetAdapterName() = 0;
    virtual std::unique_ptr<ScsiInterface> GetAdapter() = 0;
    // "(unclaimed)" when no plug-in owns the path.
    virtual std::string GetMultipathPluginIdentifier() = 0;
    // The owning plug-in's object; empty when unclaimed or not the native one.
    virtual std::unique_ptr<HostCtl::Lib::HostCtlObject> GetMultipathPlugin() = 0;
    // Runs the multipathing claim rules for this path's location / releases it.
    virtual void Claim() = 0;
    virtual void Unclaim() = 0;
    virtual uint32_t GetChannelNumber() = 0;
    virtual uint32_t GetTargetNumber() = 0;
    virtual uint32_t GetLun() = 0;
    // Read afresh on every call.
    virtual PathState GetState() = 0;
    virtual std::string GetStateString() = 0;
    // Only ACTIVE ("on") and OFF; recorded when the identifier is persistable.
    virtual void SetState(PathState state) = 0;
    // The native plug-in's view of the path; empty when another plug-in owns it.
    virtual std::unique_ptr<Nmp::NmpScsiPathConfig> GetScsiPathConfig() = 0;
    virtual std::string GetTransportMapping() = 0;
    virtual void GetScsiStats(ScsiStats& stats) = 0;
    virtual uint32_t GetMaxIOSize() = 0;
    // Forgets the path's recorded SATP and PSP configuration strings.
    virtual void RemoveNmpSettings() = 0;
    // The device UID as the path's UID record has it.
    virtual std::string GetDeviceUid() = 0;

    static std::string GetStateString(PathState state);
};

// ---- Adapters -----------------------------------------------------------------

class ScsiInterface : public virtual HostCtl::Lib::HostCtlObject {
public:
    enum ScsiInterfaceType : uint32_t {
        SCSI_IFACE_TYPE_NONE = 0,
        SCSI_IFACE_TYPE_BLOCK = 1,
        SCSI_IFACE_TYPE_FC = 2,
        SCSI_IFACE_TYPE_ISCSI = 3,
        SCSI_IFACE_TYPE_IDE = 4,
        SCSI_IFACE_TYPE_ISCSI_VENDOR = 5,
        SCSI_IFACE_TYPE_SAS = 6,
        SCSI_IFACE_TYPE_SATA = 7,
        SCSI_IFACE_TYPE_USB = 8,
        SCSI_IFACE_TYPE_PSCSI = 9,
        SCSI_IFACE_TYPE_OTHER = 10,
        SCSI_IFACE_TYPE_FCOE = 11,
        SCSI_IFACE_TYPE_PCIE = 12,
        SCSI_IFACE_TYPE_RDMA = 13,
        SCSI_IFACE_TYPE_TCP = 14,
        // Reported by some kernels for Fibre Channel and FCoE alike.
        SCSI_IFACE_TYPE_FC_LEGACY = 240,
    };

    // "block", "fc", ... ; "unknown" for values without a string.
    static std::string GetInterfaceTypeString(ScsiInterfaceType type);
    // The type of a string of the table; throws "Unknown transport type <s>".
    static ScsiInterfaceType GetValidInterfaceType(const std::string& type);

    // The adapter name (hbx0).
    virtual std::string GetIdentifier() = 0;
    virtual std::string GetAdapterUid() = 0;
    virtual uint32_t GetAdapterCapabilities() = 0;
    virtual uint32_t ProtMask() = 0;
    virtual std::string GuardType() = 0;
    virtual uint32_t GetAdapterStatus() = 0;
    virtual std::string GetDriver() = 0;
    virtual uint32_t GetQueueDepth() = 0;
    // "SCSI" or "NVME".
    virtual std::string GetCommunicationProtocol() = 0;
    virtual std::vector<std::unique_ptr<ScsiPath>> GetScsiPaths() = 0;
    virtual StorageStatistics GetStorageStatistics() = 0;
    virtual void GetScsiStats(ScsiStats& stats) = 0;
    // "ssss:bb:dd.f" of the adapter's PCI function; empty when it has none.
    virtual std::string GetPciAddress() = 0;
    virtual ScsiInterfaceType GetInterfaceType() = 0;
    // The adapter's own description (driver's words), used for block adapters.
    virtual std::string GetDescription() = 0;
    // Discover, drop dead devices, update paths, then (unless skipClaim) claim.
    virtual void Rescan(bool skipClaim) = 0;
    virtual void RescanDiscoverNewDevices() = 0;
    // True when devices were removed.
    virtual bool RescanRemoveDeadDevices() = 0;
    virtual void RescanUpdatePathState() = 0;
    virtual bool IsLocalOnly() = 0;
    virtual bool IsVirtual() = 0;
    // The transport word used in generated device names.
    virtual std::string GetTransportMapping(const std::string& pathName) = 0;
};

// The adapter kinds; the storage object hands each adapter out as its kind.
class BlockScsiInterface : public virtual ScsiInterface {};
class FibreChannelInterface : public virtual ScsiInterface {};
class FibreChannelOverEthernetInterface : public virtual ScsiInterface {};
class iScsiInterface : public virtual ScsiInterface {};
class IdeScsiInterface : public virtual ScsiInterface {};
class SerialAttachedScsiInterface : public virtual ScsiInterface {};
class SataInterface : public virtual ScsiInterface {};
class UsbInterface : public virtual ScsiInterface {};
class ParallelScsiInterface : public virtual ScsiInterface {};
class PcieInterface : public virtual ScsiInterface {};
class RdmaInterface : public virtual ScsiInterface {};
class TcpInterface : public virtual ScsiInterface {};

// ---- Devices ------------------------------------------------------------------

// A logical unit above its paths, identified by its primary UID.
class Lun : public virtual HostCtl::Lib::HostCtlObject {
public:
    enum LunStatus : uint32_t {
        LUN_ON = 0,
        LUN_OFF = 1,
        LUN_DEAD = 2,
        LUN_QUIESCED = 3,
        LUN_DEGRADED = 4,
        LUN_NOT_CONNECTED = 5,
        LUN_DEAD_TIMEOUT = 6,
        LUN_UNKNOWN = 7,
        LUN_ON_ALT = 8,
    };
    // SCSI peripheral types, plus the two IDE kinds.
    enum LunType : uint32_t {
        LUN_TYPE_DISK = 0,
        LUN_TYPE_TAPE = 1,
        LUN_TYPE_PRINTER = 2,
        LUN_TYPE_PROCESSOR = 3,
        LUN_TYPE_WORM = 4,
        LUN_TYPE_CDROM = 5,
        LUN_TYPE_SCANNER = 6,
        LUN_TYPE_OPTICAL = 7,
        LUN_TYPE_MEDIA_CHANGER = 8,
        LUN_TYPE_COMM = 9,
        LUN_TYPE_IDE_CDROM = 10,
        LUN_TYPE_IDE_OTHER = 11,
        LUN_TYPE_RAID = 12,
        LUN_TYPE_ENCLOSURE = 13,
    };

    static std::string GetStatusString(LunStatus status);

    // The primary UID.
    virtual std::string GetIdentifier() = 0;
    // Tells the kernel the device's display name.
    virtual void NameDevice() = 0;
    virtual std::string GetDisplayName() = 0;
    // As GetDisplayName, using `configured` (UID -> stored name) instead of
    // reading the store; for listings of many devices.
    virtual std::string GetDisplayName(const std::map<std::string, std::string>& configured) = 0;
    virtual bool IsDisplayNameSettable() = 0;
    // `set` true stores `name`; false removes a stored name.
    virtual void SetDisplayName(const std::string& name, bool set) = 0;
    virtual bool HasDisplayName() = 0;
    virtual bool HasUserConfiguredDisplayName() = 0;
    virtual std::string GetMultipathPluginName() = 0;
    virtual LunType GetLunType() = 0;
    virtual std::string GetLunTypeString() = 0;
    virtual std::string GetConsoleDevice() = 0;
    virtual std::string GetDevfsPath() = 0;
    virtual uint32_t GetQueueDepth() = 0;
    virtual std::string GetVendor() = 0;
    virtual std::string GetModel() = 0;
    virtual std::string GetRevision() = 0;
    virtual uint32_t GetScsiLevel() = 0;
    virtual bool IsPseudoLun() = 0;
    virtual void Reserve() = 0;
    virtual void Reset() = 0;
    virtual LunStatus GetStatus() = 0;
    virtual std::string GetStatusString() = 0;
    // Only LUN_ON and LUN_OFF; with `persist` the detached state is recorded.
    virtual void SetStatus(LunStatus status, bool persist) = 0;
    // Standard inquiry and VPD pages as "<page>: <hex>" lines.
    virtual std::vector<std::string> GetDurableNames() = 0;
    virtual bool IsRdmCapable() = 0;
    virtual bool IsLocal() = 0;
    virtual bool IsRemovableDevice() = 0;
    virtual bool IsSSD() = 0;
    virtual std::vector<std::string> GetUids() = 0;
    virtual std::vector<std::string> GetPathNames() = 0;
    virtual std::vector<std::unique_ptr<ScsiPath>> GetPaths() = 0;
    // Multipathing: the native plug-in's configuration of the device (empty
    // when another plug-in owns it); release every path; run the filter
    // claim rules on the device; forget a previous plug-in's stored settings.
    virtual std::unique_ptr<Nmp::NmpDeviceConfig> GetDeviceConfig() = 0;
    virtual void UnclaimAllPaths() = 0;
    virtual void ClaimFilters() = 0;
    virtual void CleanPrevMppConfig() = 0;
    virtual uint64_t GetSize() = 0;
    virtual uint64_t GetNumBlocks() = 0;
    virtual uint32_t GetBlockSize() = 0;
    virtual StorageStatistics GetStorageStatistics() = 0;
    virtual bool IsNVMe() = 0;
    virtual bool IsOffline() = 0;
    virtual void SetDetached(bool detached) = 0;
    virtual uint32_t GetQueueFullSampleSize() = 0;
    virtual uint32_t GetQueueFullThreshold() = 0;
    virtual void SetQueueFullParameters(uint32_t threshold, uint32_t sampleSize) = 0;
    virtual uint32_t GetLatencySensitiveThreshold() = 0;
    virtual void SetLatencySensitiveThreshold(uint32_t threshold) = 0;
    virtual uint32_t GetMaxQueueDepth() = 0;
    virtual void SetMaxQueueDepth(uint32_t depth) = 0;
    virtual uint32_t GetNumReqOutstanding() = 0;
    virtual void SetNumReqOutstanding(uint32_t count) = 0;
    virtual bool IsProtEnabled() = 0;
    virtual void SetProt(bool enable) = 0;
    virtual bool IsDetached() = 0;
    virtual void SetNotShared(bool notShared) = 0;
    virtual bool IsNotShared() = 0;
    virtual void SetPerenniallyReserved(bool reserved) = 0;
    virtual bool IsPerenniallyReserved() = 0;
    virtual void DeleteState() = 0;
    virtual void MarkPDL(bool lost) = 0;
    virtual bool IsDeviceInquiryCacheIgnored() = 0;
    virtual void SetDeviceInquiryCacheIgnored(bool ignored) = 0;
};

class DiskLunPartition : public virtual HostCtl::Lib::HostCtlObject {
public:
    enum PartitionType : uint32_t {
        PARTITION_TYPE_NONE = 0,
        PARTITION_TYPE_FAT16 = 0x06,
        PARTITION_TYPE_NTFS = 0x07,
        PARTITION_TYPE_FAT32 = 0x0c,
        PARTITION_TYPE_EXTENDED = 0x0f,
        PARTITION_TYPE_LINUX_SWAP = 0x82,
        PARTITION_TYPE_LINUX = 0x83,
        PARTITION_TYPE_LINUX_LVM = 0x8e,
        PARTITION_TYPE_LINUX_RAID = 0xfd,
        PARTITION_TYPE_DUMP = 0xfc,
        PARTITION_TYPE_KDFS = 0xfb,
        PARTITION_TYPE_EFI = 0xef,
        PARTITION_TYPE_BASIC_DATA = 0x100,
        PARTITION_TYPE_BOOTPART = 0x101,
        PARTITION_TYPE_OSDATA = 0x102,
        PARTITION_TYPE_UNKNOWN = 0xffff,
    };
    static std::string GetPartitionTypeString(PartitionType type);
    // The partition type of a GUID text; PARTITION_TYPE_UNKNOWN when unknown.
    static PartitionType PartitionTypeFromGuid(const std::string& guid);
    // The GUID text of a type; empty when the type has none.
    static std::string GuidFromPartitionType(PartitionType type);

    virtual std::string GetDiskName() = 0;
    virtual uint16_t GetPartitionNumber() = 0;
    virtual uint64_t GetStartSector() = 0;
    virtual uint64_t GetEndSector() = 0;
    virtual PartitionType GetPartitionType() = 0;
    virtual std::string GetPartitionGuid() = 0;
    virtual std::string GetConsoleDevice() = 0;
    virtual std::string GetDevfsPath() = 0;
};

// One entry of a partition table to write.
struct PartitionSpec {
    uint16_t number = 0;
    uint64_t startSector = 0;
    uint64_t endSector = 0;
    DiskLunPartition::PartitionType type = DiskLunPartition::PARTITION_TYPE_NONE;
};

class DiskLun : public virtual Lun {
public:
    // Partition 0 (the whole disk) first, then the table's partitions.
    virtual std::vector<std::unique_ptr<DiskLunPartition>> GetPartitions() = 0;
    // By name "<disk>:<n>"; throws when none matches.
    virtual std::unique_ptr<DiskLunPartition> GetPartition(const std::string& name) = 0;
    virtual std::unique_ptr<DiskLunPartition> GetPartition(uint16_t number) = 0;
    virtual void SetPartitionTable(const std::vector<PartitionSpec>& partitions) = 0;
    // Writes an empty table of `label` ("gpt", "msdos").
    virtual void MkLabelPartitionTable(const std::string& label) = 0;
};

// ---- Volumes (enumerated by the disk file system code) -------------------------

// Brackets a batch of storage queries: while it lives, the expensive lists of
// unresolved volumes are computed once for this thread (or, after
// EnableGlobal, for every thread) and reused.
class StorageInfoScopedCache {
public:
    explicit StorageInfoScopedCache(bool keep = false);
    ~StorageInfoScopedCache();
    StorageInfoScopedCache(const StorageInfoScopedCache&) = delete;
    StorageInfoScopedCache& operator=(const StorageInfoScopedCache&) = delete;
    void EnableGlobal();

private:
    bool _keep;
    bool _global = false;
};

// ---- The domain object --------------------------------------------------------

class StorageInfo : public virtual HostCtl::Lib::HostCtlObject {
public:
    // Adapters.
    virtual std::vector<std::unique_ptr<ScsiInterface>> GetScsiInterfaces() = 0;
    virtual std::unique_ptr<ScsiInterface> GetScsiInterface(const std::string& name) = 0;
    virtual bool IsValidScsiInterface(const std::string& name) = 0;
    virtual std::vector<std::unique_ptr<FibreChannelInterface>> GetFibreChannelInterfaces() = 0;
    virtual std::vector<std::unique_ptr<FibreChannelOverEthernetInterface>>
    GetFibreChannelOverEthernetInterfaces() = 0;
    virtual std::vector<std::unique_ptr<iScsiInterface>> GetiScsiInterfaces() = 0;
    virtual std::vector<std::unique_ptr<BlockScsiInterface>> GetBlockScsiInterfaces() = 0;
    virtual std::vector<std::unique_ptr<IdeScsiInterface>> GetIdeScsiInterfaces() = 0;
    virtual std::vector<std::unique_ptr<ParallelScsiInterface>> GetParallelScsiInterfaces() = 0;
    virtual std::vector<std::unique_ptr<PcieInterface>> GetPcieScsiInterfaces() = 0;
    virtual std::vector<std::unique_ptr<RdmaInterface>> GetRdmaScsiInterfaces() = 0;
    virtual std::vector<std::unique_ptr<SerialAttachedScsiInterface>>
    GetSerialAttachedScsiInterfaces() = 0;
    virtual std::vector<std::unique_ptr<UsbInterface>> GetUsbInterfaces() = 0;
    virtual std::vector<std::unique_ptr<SataInterface>> GetSataInterfaces() = 0;

    // Devices.
    virtual std::vector<std::unique_ptr<Lun>> GetLuns(bool includeOffline = false,
                                                      bool forceStamp = false) = 0;
    // Empty when `uid` is not a live device's primary UID.
    virtual std::unique_ptr<Lun> GetLunByUUID(const std::string& uid) = 0;
    virtual void PurgeStaleLuns(unsigned int days) = 0;
    virtual void PurgeStaleLunsForce() = 0;
    virtual void DeleteLunState(const std::string& uid) = 0;
    virtual std::vector<std::unique_ptr<DiskLun>> GetDiskLuns() = 0;
    virtual std::vector<std::unique_ptr<DiskLun>> GetDiskLuns(const std::set<std::string>& names) = 0;
    virtual std::vector<std::unique_ptr<Lun>> GetCdroms() = 0;
    // Any UID of the device; empty when the name resolves to nothing.
    virtual std::unique_ptr<Lun> GetDeviceByName(const std::string& name,
                                                 bool allowOffline = false) = 0;
    // The primary UID behind any UID; throws when unknown.
    virtual std::string ResolveRuntimeLunName(const std::string& name) = 0;
    virtual std::unique_ptr<Lun> GetDeviceByDevfsPath(const std::string& path) = 0;
    virtual std::unique_ptr<DiskLunPartition> GetPartitionByName(const std::string& name) = 0;
    virtual std::unique_ptr<DiskLunPartition> GetPartitionByNumber(const std::string& device,
                                                                   unsigned short number) = 0;
    virtual std::unique_ptr<DiskLunPartition> GetPartitionByDevfsPath(const std::string& path) = 0;
    // Device UID -> display name of every live device.
    virtual std::map<std::string, std::string> GetDisplayNameMap() = 0;
    // Device UID -> stored display name.
    virtual void GetConfiguredDisplayNames(std::map<std::string, std::string>& names) = 0;

    // Paths.
    virtual std::vector<std::unique_ptr<ScsiPath>> GetScsiPaths() = 0;
    virtual std::vector<std::string> GetScsiAdaptersForDevice(const std::string& device) = 0;
    virtual std::unique_ptr<ScsiPath> GetPathByName(const std::string& name) = 0;
    virtual void RunPsaClaimRules(PSAClaimRuleClass ruleClass, bool wait) = 0;
    // Claiming by location ("*" / -1 match any), by plug-in and by device.
    virtual void ClaimPaths(PSAClaimRuleClass ruleClass, const std::string& adapter, long channel, long target,
                            long lun) = 0;
    virtual void UnclaimPaths(PSAClaimRuleClass ruleClass, const std::string& adapter, long channel, long target,
                              long lun) = 0;
    virtual void UnclaimPathsByPlugin(const std::string& plugin) = 0;
    virtual void UnclaimPathsByDevice(const std::string& device) = 0;
    // True when `name` is a loaded plug-in of `kind` ("SATP", "PSP", "MP").
    virtual bool IsRegisteredPsaPluginName(const std::string& name, const std::string& kind) = 0;
    // The native multipathing plug-in; empty when it is not loaded.
    virtual std::unique_ptr<Nmp::NmpPsaPlugin> GetNmpPsaPlugin() = 0;

    // Unresolved (snapshot) volumes.
    virtual std::vector<std::shared_ptr<UnresolvedKdfsVolume>> GetUnresolvedVolumes() = 0;

    // ---- Disk file-system volumes.
    // Every volume of the host (disk file-system volumes; other kinds as their
    // domains are built).
    virtual std::vector<std::unique_ptr<FileSystem>> GetFileSystems() = 0;
    // Mounted and unmounted volumes; with a device, those with an extent on it.
    virtual std::vector<std::unique_ptr<VmFileSystem>> GetKdfsFileSystems(const std::string& device = "") = 0;
    // Empty when none matches.
    virtual std::unique_ptr<FileSystem> GetFileSystemByUUID(const std::string& uuid) = 0;
    virtual std::unique_ptr<FileSystem> GetFileSystemByLabel(const std::string& label) = 0;
    // A mounted volume by "/kdfs/volumes/<UUID or label>[/...]".
    virtual std::unique_ptr<FileSystem> GetFileSystemByPath(const std::string& path) = 0;
    virtual void RescanKdfs() = 0;
    virtual void RescanOneKdfsVolume(const std::string& uuid, bool force) = 0;
    virtual void RescanKdfsDevices(const std::string& device) = 0;
    // Mounts every unmounted volume the user did not unmount.
    virtual void AutomountVolumes() = 0;
    virtual void DeleteKdfsFileSystemState(const std::string& uuid) = 0;

    // Rescans `adapter` ("*" for all) by `type` ("add", "delete", "update",
    // anything else: all steps); returns the per-adapter error text.
    virtual std::string RescanAdapters(const std::string& adapter, const std::string& type,
                                       bool skipClaim) = 0;

    // Boot-time scrub of stored device configuration.
    virtual void PsaPostBootScrub() = 0;
};

}  // namespace HostCtl::Storage

#include "hostctl/storage_paths.h"
