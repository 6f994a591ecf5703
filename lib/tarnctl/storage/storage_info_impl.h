// The storage domain object: adapter and device enumeration and lookups,
// rescans, stale-device stamping and purging, and the boot-time restore of
// device names. Process-wide tables are built once by the first constructor.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "hostctl/storage.h"
#include "ksi/storage.h"
#include "lib/tarnctl_object.h"
#include "storage/storage_util.h"

namespace TarnCtl::Storage {

class LunImpl;
class StorageInfoExtensionImpl;
// Made in the volume code, which owns the extension's definition.
std::shared_ptr<StorageInfoExtensionImpl> MakeStorageInfoExtension();

class StorageInfoImpl : public virtual HostCtl::Storage::StorageInfo, public virtual TarnCtl::Lib::TarnCtlObject {
public:
    StorageInfoImpl();

    void Refresh() override {}
    std::string GetName() const override { return "storage"; }
    // Boot: restores multipathing configuration, then names devices from
    // their configured display names.
    void LoadConfig() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    // Adapters.
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiInterface>> GetScsiInterfaces() override;
    std::unique_ptr<HostCtl::Storage::ScsiInterface> GetScsiInterface(const std::string& name) override;
    bool IsValidScsiInterface(const std::string& name) override;
    std::vector<std::unique_ptr<HostCtl::Storage::FibreChannelInterface>> GetFibreChannelInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::FibreChannelOverEthernetInterface>>
    GetFibreChannelOverEthernetInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::iScsiInterface>> GetiScsiInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::BlockScsiInterface>> GetBlockScsiInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::IdeScsiInterface>> GetIdeScsiInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::ParallelScsiInterface>> GetParallelScsiInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::PcieInterface>> GetPcieScsiInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::RdmaInterface>> GetRdmaScsiInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::SerialAttachedScsiInterface>>
    GetSerialAttachedScsiInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::UsbInterface>> GetUsbInterfaces() override;
    std::vector<std::unique_ptr<HostCtl::Storage::SataInterface>> GetSataInterfaces() override;

    // Devices.
    std::vector<std::unique_ptr<HostCtl::Storage::Lun>> GetLuns(bool includeOffline, bool forceStamp) override;
    std::unique_ptr<HostCtl::Storage::Lun> GetLunByUUID(const std::string& uid) override;
    void PurgeStaleLuns(unsigned int days) override;
    void PurgeStaleLunsForce() override;
    void DeleteLunState(const std::string& uid) override;
    std::vector<std::unique_ptr<HostCtl::Storage::DiskLun>> GetDiskLuns() override;
    std::vector<std::unique_ptr<HostCtl::Storage::DiskLun>> GetDiskLuns(const std::set<std::string>& names) override;
    std::vector<std::unique_ptr<HostCtl::Storage::Lun>> GetCdroms() override;
    std::unique_ptr<HostCtl::Storage::Lun> GetDeviceByName(const std::string& name, bool allowOffline) override;
    std::string ResolveRuntimeLunName(const std::string& name) override;
    std::unique_ptr<HostCtl::Storage::Lun> GetDeviceByDevfsPath(const std::string& path) override;
    std::unique_ptr<HostCtl::Storage::DiskLunPartition> GetPartitionByName(const std::string& name) override;
    std::unique_ptr<HostCtl::Storage::DiskLunPartition> GetPartitionByNumber(const std::string& device,
                                                                             unsigned short number) override;
    std::unique_ptr<HostCtl::Storage::DiskLunPartition> GetPartitionByDevfsPath(const std::string& path) override;
    std::map<std::string, std::string> GetDisplayNameMap() override;
    void GetConfiguredDisplayNames(std::map<std::string, std::string>& names) override;

    // Paths.
    std::vector<std::unique_ptr<HostCtl::Storage::ScsiPath>> GetScsiPaths() override;
    std::vector<std::string> GetScsiAdaptersForDevice(const std::string& device) override;
    std::unique_ptr<HostCtl::Storage::ScsiPath> GetPathByName(const std::string& name) override;
    void RunPsaClaimRules(HostCtl::Storage::PSAClaimRuleClass ruleClass, bool wait) override;
    // Claiming and the native plug-in (storage_info_paths.cpp).
    void ClaimPaths(HostCtl::Storage::PSAClaimRuleClass ruleClass, const std::string& adapter, long channel,
                    long target, long lun) override;
    void UnclaimPaths(HostCtl::Storage::PSAClaimRuleClass ruleClass, const std::string& adapter, long channel,
                      long target, long lun) override;
    void UnclaimPathsByPlugin(const std::string& plugin) override;
    void UnclaimPathsByDevice(const std::string& device) override;
    bool IsRegisteredPsaPluginName(const std::string& name, const std::string& kind) override;
    std::unique_ptr<HostCtl::Storage::Nmp::NmpPsaPlugin> GetNmpPsaPlugin() override;

    std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>> GetUnresolvedVolumes() override;

    // Disk file-system volumes (storage_info_volumes.cpp, through the extension).
    std::vector<std::unique_ptr<HostCtl::Storage::FileSystem>> GetFileSystems() override;
    std::vector<std::unique_ptr<HostCtl::Storage::VmFileSystem>> GetKdfsFileSystems(const std::string& device) override;
    std::unique_ptr<HostCtl::Storage::FileSystem> GetFileSystemByUUID(const std::string& uuid) override;
    std::unique_ptr<HostCtl::Storage::FileSystem> GetFileSystemByLabel(const std::string& label) override;
    std::unique_ptr<HostCtl::Storage::FileSystem> GetFileSystemByPath(const std::string& path) override;
    void RescanKdfs() override;
    void RescanOneKdfsVolume(const std::string& uuid, bool force) override;
    void RescanKdfsDevices(const std::string& device) override;
    void AutomountVolumes() override;
    void DeleteKdfsFileSystemState(const std::string& uuid) override;
    StorageInfoExtensionImpl& Extension() { return *_extension; }
    StorageLockFile& Lock() { return _lock; }

    std::string RescanAdapters(const std::string& adapter, const std::string& type, bool skipClaim) override;
    void PsaPostBootScrub() override;

    // ---- Implementation-level operations.

    // The adapter kind the decision tree picks for an adapter's info record;
    // throws for the combinations it refuses.
    static HostCtl::Storage::ScsiInterface::ScsiInterfaceType InterfaceTypeFor(const KsiStorageAdapterInfo& info);
    // A device object for a primary UID (a disk becomes a DiskLunImpl).
    static std::unique_ptr<LunImpl> MakeLun(std::string uid, const KsiStorageDeviceInfo& info);
    // Resolves any UID; with allowOffline, a persisted-only UID gives an
    // offline device. Empty when neither works.
    static std::unique_ptr<LunImpl> GetLun(const std::string& name, bool allowOffline);
    // Called with each adapter name as a rescan of several adapters reaches it.
    void SetRescanProgress(std::function<void(const std::string&)> progress) { _progress = std::move(progress); }

    // Driver module -> interface type, for adapters whose transport the kernel
    // does not report.
    static const std::map<std::string, uint32_t>& ModuleTypes();
    // NFS 4.1 security-type string -> number.
    static const std::map<std::string, int>& AuthMap();

    // Recommended dump size contributions of the plug-in.
    static std::vector<unsigned long (*)()> _coreDumpSizeCallbacks;
    static void AddCoreDumpSizeCbkFn(unsigned long (*fn)());

    static constexpr const char* kLockFile = kStorageLockFile;
    static constexpr long kStampInterval = 86400;

private:
    std::vector<std::unique_ptr<LunImpl>> EnumerateLuns(bool includeOffline);
    // True when the once-a-day stamping (or a forced one) is due.
    static bool StampDue(bool force);
    void StampLastSeen(const std::vector<std::string>& uids, bool force);
    void PurgeDevices(const std::vector<std::string>& uids);
    template <typename Kind>
    std::vector<std::unique_ptr<Kind>> TypedInterfaces();

    StorageLockFile _lock{kLockFile};
    std::string _netstack = "defaultTcpipStack";
    std::function<void(const std::string&)> _progress;
    std::shared_ptr<StorageInfoExtensionImpl> _extension = MakeStorageInfoExtension();
};

// Lists of unresolved volumes, with and without snapshot detection; filled
// by the disk file-system enumeration.
std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>> ListUnresolvedKdfsVolumes(bool snapshots);
// Replaces what the caches and GetUnresolvedVolumes call to compute the lists
// (tests); null restores ListUnresolvedKdfsVolumes.
void SetUnresolvedVolumeProducer(
    std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>> (*producer)(bool snapshots));
// The same through the process-wide cache when a scoped cache enables it.
std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>> CachedUnresolvedKdfsVolumes(bool snapshots);

}  // namespace TarnCtl::Storage
