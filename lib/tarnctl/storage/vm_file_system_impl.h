// A disk file-system volume, mounted (read from the file-system switch) or
// unmounted (read from the volume headers the scan found), with the
// operations that change it through the file-system library and the
// logical-volume driver, and its kdfs_datastores record.
#pragma once

#include <initializer_list>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hostctl/storage.h"
#include "hostctl/storage_volumes.h"
#include "lib/tarnctl_object.h"
#include "storage/unresolved_kdfs_volume_impl.h"

namespace TarnCtl::Storage {

class VmFileSystemImpl : public virtual HostCtl::Storage::VmFileSystem, public virtual TarnCtl::Lib::TarnCtlObject {
public:
    // Create types, by the library's format names.
    static constexpr const char* KDFS3_CREATE_TYPE = "kdfs3";
    static constexpr const char* KDFS5_CREATE_TYPE = "kdfs5";
    static constexpr const char* KDFS6_CREATE_TYPE = "kdfs6";
    static constexpr const char* KDFS6L_CREATE_TYPE = "kdfs6l";
    static constexpr const char* KDFSL_CREATE_TYPE = "kdfsl";
    // The host's own OS-data volumes (made when the host is installed).
    static constexpr const char* KDFSOS_CREATE_TYPE = "kdfsos";

    // A volume by UUID; reads on first use (throws then when it is unknown).
    explicit VmFileSystemImpl(std::string uuid);
    // An unmounted volume as the scan found it.
    explicit VmFileSystemImpl(const KdfsVolumeRecord& record);

    void Refresh() override;
    std::string GetName() const override { return _label.empty() ? _uuid : _label; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::string GetUuid() override { return _uuid; }
    std::string GetVolumeName() override;
    std::string GetConsolePath() override;
    std::string GetType() override;
    uint64_t GetSize() override;
    bool IsMounted() override;
    bool IsAccessible() override;

    std::string GetLvmName() override;
    std::string GetHeadExtentName() override;
    uint32_t GetMajorVersion() override;
    uint32_t GetMinorVersion() override;
    uint64_t GetBlockSize() override;
    uint64_t GetTotalBlocks() override;
    uint64_t GetBlocksUsed() override;
    std::vector<std::string> GetExtents() override;
    uint32_t GetExtentCount() override;
    std::unique_ptr<HostCtl::Storage::DiskLunPartition> GetHeadPartition() override;
    bool IsAccessibleWithReason(std::string* reason) override;
    bool IsForceMounted() override;
    bool IsReadOnly() override;
    LockMode GetLockMode() override;
    bool IsActiveVolume(bool includeThisHost) override;
    std::vector<HostCtl::Storage::KdfsUserInfo> GetKdfsUserInfo(LivenessCheckType check) override;
    bool IsIormEnabled() override;
    void DisableIORM() override;
    SopiStatus GetSOPIState() override;
    SopiStatus GetSOPIAtsStatus() override;
    bool IsWearSupported() override;
    HostCtl::Storage::KdfsLightStats GetKdfsLightStats() override;

    void SetVolumeName(const std::string& label) override;
    void AddExtent(const std::string& partition, unsigned int flags) override;
    void GrowExtent(const std::string& partition) override;
    void SetLockMode(LockMode mode) override;
    HostCtl::Storage::VolumeUnmapProperty GetVolumeUnmapProperty() override;
    void SetVolumeUnmapProperty(const HostCtl::Storage::VolumeUnmapProperty& property) override;
    uint64_t UnmapVolume(uint32_t reclaimUnit) override;
    void ConvertToVersion3() override;
    void ConvertToVersion5() override;
    void Mount(MountOption option) override;
    void Unmount(UnmountOption option) override;
    void SetPersistentMount(bool persistent) override;
    bool IsForceMountPersistent() override;
    bool IsAutomountEligible() override;
    void DeleteState() override;
    bool GetClusteredVmdkVolume() override;
    void SetClusteredVmdkVolume(bool enabled) override;
    void SetClusteredVmdkState(uint32_t state) override;
    bool HasFibreChannelTransport() override;
    bool HasTcpTransport() override;
    bool IsNVMe() override;

    // ---- Class operations.
    // Formats `partition` (device:n or its /kdfs/devices/disks path); returns the UUID.
    static std::string CreateFileSystem(const std::string& partition, const std::string& label, int version,
                                        uint64_t blockSize, uint32_t count,
                                        const HostCtl::Storage::VolumeUnmapProperty* unmap, bool flag, int options);
    // Mounted volumes, then unmounted ones; with a device, those with an extent on it.
    static std::vector<std::unique_ptr<VmFileSystemImpl>> GetKdfsFileSystems(const std::string& device);
    static std::unique_ptr<VmFileSystemImpl> GetKDFSFileSystemByUUID(const std::string& uuid);
    static std::unique_ptr<VmFileSystemImpl> GetKDFSFileSystemByLabel(const std::string& label);
    static std::unique_ptr<VmFileSystemImpl> FindUnmountedFileSystemByUUIDOrByLabel(const std::string& name);
    // Boot: mounts every unmounted datastore the user did not unmount.
    static void AutomountKdfsFileSystems();
    // Boot, before the datastores: the same for the host's OS-data volumes.
    static void AutomountOSDataFileSystems();
    static void GetPersistentlyUnmountedFsUuids(std::set<std::string>& uuids);

private:
    void Ensure();
    void MountInternal(const std::string& mode);
    // Mounts the unmounted volumes of one kind (OS data or datastores) that
    // the user did not unmount.
    static void AutomountInternal(bool osData);
    // Deactivates a diagnostic file kept on this volume before it goes away.
    void MoveDiagnosticFileOff();
    // One status over every extent device (every primitive, or ATS alone).
    SopiStatus CombinedSopiStatus(bool atsOnly);
    // Upgrades a version 3 volume before it is mounted.
    void UpgradeOnMount();
    std::string LibraryPath();
    void RequireMounted(const char* message);
    // True when a path of a device under an extent runs over an adapter of one of `types`.
    bool AnyExtentPathOver(std::initializer_list<HostCtl::Storage::ScsiInterface::ScsiInterfaceType> types);

    std::string _uuid;
    bool _stale = true;
    bool _mounted = false;
    std::string _label, _lvm, _type, _createType;
    uint32_t _major = 0, _minor = 0, _flags = 0;
    uint64_t _blockSize = 0, _totalBlocks = 0, _blocksUsed = 0, _size = 0;
    std::vector<std::string> _extents;
};

}  // namespace TarnCtl::Storage
