// Disk file-system volumes: reading, creating, spanning, growing, renaming,
// lock mode, space reclamation, upgrade, mount and unmount with the
// persistent "unmounted" mark, automount at boot, and listing and lookups.
#include "storage/vm_file_system_impl.h"

#include <sys/stat.h>

#include <algorithm>

#include <cstring>

#include "hostctl/exception.h"
#include "ksi/adv.h"
#include "ksi/kdfs.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "platform/tarnfs.h"
#include "storage/disk_lun_impl.h"
#include "storage/kdfs_util.h"
#include "storage/lun_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

namespace HostCtl::Storage {

std::string VmFileSystem::GetLockModeString(LockMode mode) {
    switch (mode) {
    case LOCK_MODE_PUBLIC: return "public";
    case LOCK_MODE_ATS_ONLY: return "ATS-only";
    case LOCK_MODE_ATS_SCSI: return "ATS+SCSI";
    }
    return "unknown";
}

}  // namespace HostCtl::Storage

namespace TarnCtl::Storage {

using HostCtl::Lib::HostCtlException;
using HostCtl::Storage::VolumeUnmapProperty;
using TarnCtl::Util::Sysinfo;

namespace {

constexpr const char* kComponent = "VmFileSystem";

// "device:n" from "device:n" or its /kdfs/devices/disks path.
std::string ExtentName(const std::string& partition) {
    return HostCtl::Misc::StartsWith(partition, Kdfs::kDisksDir) ? partition.substr(std::strlen(Kdfs::kDisksDir))
                                                                  : partition;
}

std::shared_ptr<UnresolvedKdfsVolumeImpl> FindUnmounted(const std::string& uuid, const std::string& label) {
    for (auto& v : CachedUnresolvedKdfsVolumes(false)) {
        auto* impl = dynamic_cast<UnresolvedKdfsVolumeImpl*>(v.get());
        if (impl && !impl->IsSnapshot() &&
            ((!uuid.empty() && impl->GetKdfsUuid() == uuid) || (!label.empty() && impl->GetKdfsLabel() == label)))
            return std::dynamic_pointer_cast<UnresolvedKdfsVolumeImpl>(v);
    }
    return nullptr;
}

bool ReduceUnmapLoadDisabled() {
    Sysinfo si(KSI_NODE_config_intOpts);
    si.SetThrowOnError(false);
    si.SetInstance("KDFS3");
    si.AddInstancePath("DisableReduceUnmapLoad");
    Ksi::Adv::IntOption option{};
    return si.Get(&option, sizeof(option)) == TARN_OK && option.currentValue != 0;
}

}  // namespace

// ---- Reading --------------------------------------------------------------------------------

VmFileSystemImpl::VmFileSystemImpl(std::string uuid) : _uuid(std::move(uuid)) {}

VmFileSystemImpl::VmFileSystemImpl(const KdfsVolumeRecord& r)
    : _uuid(r.uuid), _stale(false), _label(r.label), _lvm(r.lvm), _createType(r.type), _major(r.major),
      _minor(r.minor), _blockSize(r.blockSize) {
    _type = r.type == KDFSL_CREATE_TYPE || r.type == KDFS6L_CREATE_TYPE ? "KDFS-L"
            : r.type == KDFSOS_CREATE_TYPE                                 ? "KDFSOS"
                                                                           : "KDFS";
    uint64_t sectors = 0;
    for (const auto& e : r.extents) {
        sectors += e.end - e.start + 1;
        _extents.push_back(e.Name());
    }
    _size = sectors * 512;
    _totalBlocks = _blockSize ? _size / _blockSize : 0;
}

void VmFileSystemImpl::Refresh() {
    _stale = false;
    if (Kdfs::IsMountedUuid(_uuid)) {
        auto v = KsiRead<KsiFsVolume>(KSI_NODE_system_fsSwitch_volumes, {_uuid});
        _mounted = true;
        _label = FixedString(v.label);
        _lvm = FixedString(v.lvmName);
        _type = FixedString(v.type);
        _major = v.majorVersion;
        _minor = v.minorVersion;
        _blockSize = v.blockSize;
        _totalBlocks = v.totalBlocks;
        _blocksUsed = v.blocksUsed;
        _size = v.totalBlocks * v.blockSize;
        _flags = v.flags;
        _extents.clear();
        Sysinfo si(KSI_LVM_NODE_EXTENTS);
        si.SetModule(KSI_LVM_MODULE);
        si.SetInstance(_uuid);
        std::vector<std::string> indexes;
        si.List(indexes);
        std::vector<std::pair<uint32_t, std::string>> ordered;
        for (const auto& i : indexes) {
            Sysinfo e(KSI_LVM_NODE_EXTENTS);
            e.SetModule(KSI_LVM_MODULE);
            e.AddInstancePath(_uuid);
            e.AddInstancePath(i);
            KsiLvmExtent rec{};
            e.Get(&rec, sizeof(rec));
            ordered.emplace_back(rec.index, FixedString(rec.device) + ":" + std::to_string(rec.partition));
        }
        std::sort(ordered.begin(), ordered.end());
        for (auto& [index, name] : ordered)
            _extents.push_back(std::move(name));
        return;
    }
    auto unmounted = FindUnmounted(_uuid, "");
    if (!unmounted) {
        _stale = true;
        throw HostCtlException("Unable to find volume " + _uuid);
    }
    *this = VmFileSystemImpl(unmounted->Record());
}

void VmFileSystemImpl::Ensure() {
    if (_stale)
        Refresh();
}

std::string VmFileSystemImpl::GetVolumeName() { Ensure(); return _label; }
std::string VmFileSystemImpl::GetConsolePath() { Ensure(); return _mounted ? Kdfs::kVolumesDir + _uuid : ""; }
std::string VmFileSystemImpl::GetType() { Ensure(); return _type; }
uint64_t VmFileSystemImpl::GetSize() { Ensure(); return _size; }
bool VmFileSystemImpl::IsMounted() { Ensure(); return _mounted; }
bool VmFileSystemImpl::IsAccessible() { return IsAccessibleWithReason(nullptr); }
std::string VmFileSystemImpl::GetLvmName() { Ensure(); return _lvm; }
std::string VmFileSystemImpl::GetHeadExtentName() { Ensure(); return _extents.empty() ? "" : _extents.front(); }
uint32_t VmFileSystemImpl::GetMajorVersion() { Ensure(); return _major; }
uint32_t VmFileSystemImpl::GetMinorVersion() { Ensure(); return _minor; }
uint64_t VmFileSystemImpl::GetBlockSize() { Ensure(); return _blockSize; }
uint64_t VmFileSystemImpl::GetTotalBlocks() { Ensure(); return _totalBlocks; }
uint64_t VmFileSystemImpl::GetBlocksUsed() { Ensure(); return _blocksUsed; }
std::vector<std::string> VmFileSystemImpl::GetExtents() { Ensure(); return _extents; }
uint32_t VmFileSystemImpl::GetExtentCount() { Ensure(); return static_cast<uint32_t>(_extents.size()); }
bool VmFileSystemImpl::IsForceMounted() { Ensure(); return _mounted && (_flags & KSI_FS_FORCE_MOUNTED); }
bool VmFileSystemImpl::IsReadOnly() { Ensure(); return _mounted && (_flags & KSI_FS_READ_ONLY); }

VmFileSystemImpl::LockMode VmFileSystemImpl::GetLockMode() {
    Ensure();
    return (_flags & KSI_FS_ATS_ONLY) ? LOCK_MODE_ATS_ONLY : LOCK_MODE_PUBLIC;
}

std::unique_ptr<HostCtl::Storage::DiskLunPartition> VmFileSystemImpl::GetHeadPartition() {
    return StorageInfoImpl().GetPartitionByName(GetHeadExtentName());
}

bool VmFileSystemImpl::IsAccessibleWithReason(std::string* reason) {
    Ensure();
    std::string why;
    if (!_mounted)
        why = "Volume is not mounted";
    else if (!(_flags & KSI_FS_ACCESSIBLE))
        why = "Volume is not accessible";
    if (reason)
        *reason = why;
    return why.empty();
}

std::string VmFileSystemImpl::LibraryPath() {
    return Kdfs::kVolumesDir + _uuid;
}

void VmFileSystemImpl::RequireMounted(const char* message) {
    if (!Kdfs::IsMountedUuid(_uuid))
        throw HostCtlException(message);
    Ensure();
}

// ---- Creating -------------------------------------------------------------------------------

std::string VmFileSystemImpl::CreateFileSystem(const std::string& partition, const std::string& label, int version,
                                               uint64_t blockSize, uint32_t count, const VolumeUnmapProperty* unmap,
                                               bool flag, int options) {
    std::unique_ptr<HostCtl::Storage::DiskLunPartition> part;
    try {
        part = HostCtl::Misc::StartsWith(partition, Kdfs::kDisksDir)
                   ? StorageInfoImpl().GetPartitionByDevfsPath(partition)
                   : StorageInfoImpl().GetPartitionByName(partition);
    } catch (const HostCtlException&) {
    }
    if (!part || part->GetPartitionNumber() == 0)
        throw HostCtlException("Unknown disk parition " + partition);
    const std::string extent = part->GetDiskName() + ":" + std::to_string(part->GetPartitionNumber());

    const char* type = nullptr;
    switch (version) {
    case 3: type = KDFS3_CREATE_TYPE; break;
    case 5: type = KDFS5_CREATE_TYPE; break;
    case 6: type = KDFS6_CREATE_TYPE; break;
    case 51: type = KDFSL_CREATE_TYPE; break;
    case 52: type = KDFS6L_CREATE_TYPE; break;
    default: throw HostCtlException("Unsupported KDFS version requested");
    }
    constexpr uint64_t kMiB = 0x100000;
    if (blockSize == 0)
        blockSize = kMiB;
    if (blockSize < kMiB || blockSize > 256 * kMiB || (blockSize & (blockSize - 1)) != 0)
        throw HostCtlException(
            "Block size must be an integer bewtween 1M and 256M in powers of 2.  ie blockSize = x^2");
    if (count == 0)
        count = 256;
    if (label.size() > MAX_FS_NAME_LENGTH)
        throw HostCtlException("Label name too long, must be limited to " + std::to_string(MAX_FS_NAME_LENGTH) +
                               " characters");

    TarnfsCreateRecord record;
    record.devicePath = Kdfs::DevicePath(extent);
    record.createType = type;
    record.label = label;
    record.blockSize = blockSize;
    record.count = count;
    record.options = static_cast<uint32_t>(options) | (flag ? 32u : 0u);
    if (unmap) {
        static const char* const kPriorities[] = {"none", "low", "medium", "high"};
        record.hasUnmap = true;
        record.unmapGranularity = unmap->granularity;
        for (uint32_t i = 0; i < 4; ++i)
            if (unmap->priority == kPriorities[i])
                record.unmapPriority = i;
    }
    Kdfs::EnsureLibrary();
    TarnfsCreateResult result;
    char error[512] = {};
    if (TarnfsLib_CreateFS(record, &result, error) != TARN_OK) {
        TarnCtl_LogErrorInt("%s: %s\n", "VmFileSystemImpl", error);
        throw HostCtlException(std::string(" Unable to create Filesystem, please see Tarnos log for more details: ") +
                               error);
    }
    const std::string uuid = Kdfs::FormatUuid(result.uuid);
    struct stat st {};
    if (!Kdfs::IsMountedUuid(uuid) || ::stat(Platform::HostPath(Kdfs::kVolumesDir + uuid).c_str(), &st) != 0 ||
        !S_ISDIR(st.st_mode))
        throw HostCtlException("Unable to find filesystem for partition " + partition +
                               " or unable to get UUID for filesystem");
    return uuid;
}

// ---- Changing -------------------------------------------------------------------------------

void VmFileSystemImpl::SetVolumeName(const std::string& label) {
    if (label.size() > MAX_FS_NAME_LENGTH)
        throw HostCtlException("Label name too long, must be limited to " + std::to_string(MAX_FS_NAME_LENGTH) +
                               " characters");
    RequireMounted("Unable to Set Volume Name, Unmounted volume");
    std::string path = GetConsolePath();
    if (path.empty()) {
        path = LibraryPath();
        TarnCtl_LogInfoInt("%s: Console path not set. Using uuid. %s\n", kComponent, path.c_str());
    }
    Kdfs::EnsureLibrary();
    if (TarnfsLib_SetFSName(path, label) != TARN_OK)
        throw HostCtlException("Unable to set Filesystem name");
    _stale = true;
}

void VmFileSystemImpl::AddExtent(const std::string& partition, unsigned int) {
    const std::string extent = ExtentName(partition);
    if (HostCtl::Misc::StartsWith(GetHeadExtentName(), "ramdisk"))
        throw HostCtlException("Cannot add extent to RAMdisk");
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLib_SpanFS(LibraryPath(), Kdfs::DevicePath(extent));
    if (st != TARN_OK)
        throw HostCtlException("Unable to add extent to filesystem : " + Kdfs::StatusText(st));
    _stale = true;
}

void VmFileSystemImpl::GrowExtent(const std::string& partition) {
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLib_GrowFS(LibraryPath(), Kdfs::DevicePath(ExtentName(partition)));
    if (st != TARN_OK)
        throw HostCtlException(std::string("Unable to grow Filesystem, please see Tarnos log fordetails ") + ": " +
                               Kdfs::StatusText(st));
    Refresh();
}

void VmFileSystemImpl::SetLockMode(LockMode mode) {
    const LockMode current = GetLockMode();
    const bool toggle = (current == LOCK_MODE_PUBLIC && mode == LOCK_MODE_ATS_ONLY) ||
                        (current == LOCK_MODE_ATS_ONLY && mode == LOCK_MODE_PUBLIC);
    if (!toggle)
        throw HostCtlException(
            "Invalid request to change Locking Mode for Filesystem, may only enable or disable ATS. Cur mode: " +
            GetLockModeString(current) + ", Req mode: " + GetLockModeString(mode));
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLib_ConfigATSOnly(Kdfs::DevicePath(GetHeadExtentName()), mode == LOCK_MODE_ATS_ONLY);
    if (st != TARN_OK)
        throw HostCtlException(
            "Failed to update Locking Mode for Filesystem, Tarnos log may contain more details.\nReason: " +
            Kdfs::StatusText(st));
    _stale = true;
}

VolumeUnmapProperty VmFileSystemImpl::GetVolumeUnmapProperty() {
    RequireMounted("Volume not mounted");
    Kdfs::EnsureLibrary();
    TarnfsUnmapProperty p;
    TARN_ReturnStatus st = TarnfsLib_GetFSUnmapProperty(Kdfs::DevicePath(GetHeadExtentName()), &p);
    if (st != TARN_OK)
        throw HostCtlException(
            "Failed to retrieve unmap property for filesystem, Tarnos log may contain more details.\nReason: " +
            Kdfs::StatusText(st));
    VolumeUnmapProperty out;
    out.granularity = p.granularity;
    out.priority = ReduceUnmapLoadDisabled() ? "low" : p.priority;
    out.method = p.method;
    out.bandwidth = p.bandwidth;
    return out;
}

void VmFileSystemImpl::SetVolumeUnmapProperty(const VolumeUnmapProperty& property) {
    RequireMounted("Volume not mounted");
    if (property.method == "fixed" && property.bandwidth == 0)
        throw HostCtlException("reclaim-bandwidth must be greater than zero");
    Kdfs::EnsureLibrary();
    TarnfsUnmapProperty p;
    p.granularity = property.granularity;
    p.priority = property.priority;
    p.method = property.method;
    p.bandwidth = property.bandwidth;
    TARN_ReturnStatus st = TarnfsLib_SetFSUnmapProperty(Kdfs::DevicePath(GetHeadExtentName()), p);
    if (st != TARN_OK)
        throw HostCtlException(
            "Failed to update unmap property for filesystem, Tarnos log may contain more details.\nReason: " +
            Kdfs::StatusText(st));
}

uint64_t VmFileSystemImpl::UnmapVolume(uint32_t reclaimUnit) {
    RequireMounted("Volume not mounted");
    Refresh();
    const std::string name = GetName();
    Kdfs::EnsureLibrary();
    bool all = false;
    if (TarnfsLib_GetVolUnmapCapability(LibraryPath(), &all) != TARN_OK)
        throw HostCtlException("Failed to detect Unmap Support on Volume " + name);
    if (!all)
        TarnCtl_LogWarnInt("%s: %s\n", kComponent,
                           ("One or more devices backing volume " + name +
                            " do not support Unmap, proceeding with unmap anyway")
                               .c_str());
    const uint64_t freeBlocks = _totalBlocks > _blocksUsed ? _totalBlocks - _blocksUsed : 0;
    if (freeBlocks == 0)
        throw HostCtlException("Not enough free blocks (" + std::to_string(freeBlocks) + " )for unmap in volume " +
                               name);
    if (reclaimUnit >= freeBlocks)
        throw HostCtlException("reclaimUnit should be less than total free blocks " + std::to_string(freeBlocks));
    uint64_t handle = 0, reclaimed = 0;
    TARN_ReturnStatus st = TarnfsLib_InitAsyncUnmapVolume(LibraryPath(), reclaimUnit, &handle);
    if (st != TARN_OK)
        throw HostCtlException("Failed to reclaim space on volume " + name + ": " + Kdfs::StatusText(st));
    st = TarnfsLib_PerformAsyncUnmapVolume(handle, &reclaimed);
    TARN_ReturnStatus end = TarnfsLib_EndAsyncUnmapVolume(handle);
    if (st == TARN_OK)
        st = end;
    if (st != TARN_OK)
        throw HostCtlException("Failed to reclaim space on volume " + name + ": " + Kdfs::StatusText(st));
    return reclaimed;
}

void VmFileSystemImpl::ConvertToVersion3() {
    throw HostCtlException("In-place upgrade of a KDFS-2 volume to KDFS-3format is not supported on this platform");
}

void VmFileSystemImpl::ConvertToVersion5() {
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLib_UpgradeFS(LibraryPath());
    if (st != TARN_OK)
        throw HostCtlException("Unable to Upgrade Filesystem: " + Kdfs::StatusText(st));
    _stale = true;
}

bool VmFileSystemImpl::GetClusteredVmdkVolume() {
    Kdfs::EnsureLibrary();
    bool enabled = false;
    TARN_ReturnStatus st = TarnfsLib_GetClusteredVMDKVol(LibraryPath(), &enabled);
    if (st != TARN_OK)
        throw HostCtlException("Unable to get clustered virtual disk support of volume: " + Kdfs::StatusText(st));
    return enabled;
}

void VmFileSystemImpl::SetClusteredVmdkVolume(bool enabled) {
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLib_SetClusteredVMDKVol(LibraryPath(), enabled);
    if (st != TARN_OK)
        throw HostCtlException("Unable to set clustered virtual disk support of volume: " + Kdfs::StatusText(st));
}

void VmFileSystemImpl::SetClusteredVmdkState(uint32_t state) {
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLib_SetClusteredVMDKState(LibraryPath(), state);
    if (st != TARN_OK)
        throw HostCtlException("Unable to set clustered virtual disk state of volume: " + Kdfs::StatusText(st));
}

// ---- Transports -----------------------------------------------------------------------------

bool VmFileSystemImpl::AnyExtentPathOver(
    std::initializer_list<HostCtl::Storage::ScsiInterface::ScsiInterfaceType> types) {
    for (const auto& device : Kdfs::ExtentDevices(GetExtents())) {
        auto lun = StorageInfoImpl::GetLun(device, true);
        if (!lun)
            continue;
        for (const auto& path : lun->GetPaths()) {
            auto adapter = path->GetAdapter();
            if (adapter && std::find(types.begin(), types.end(), adapter->GetInterfaceType()) != types.end())
                return true;
        }
    }
    return false;
}

bool VmFileSystemImpl::HasFibreChannelTransport() {
    using T = HostCtl::Storage::ScsiInterface;
    return AnyExtentPathOver({T::SCSI_IFACE_TYPE_FC, T::SCSI_IFACE_TYPE_FCOE, T::SCSI_IFACE_TYPE_FC_LEGACY});
}

bool VmFileSystemImpl::HasTcpTransport() {
    return AnyExtentPathOver({HostCtl::Storage::ScsiInterface::SCSI_IFACE_TYPE_TCP});
}

bool VmFileSystemImpl::IsNVMe() {
    for (const auto& device : Kdfs::ExtentDevices(GetExtents())) {
        auto lun = StorageInfoImpl::GetLun(device, true);
        if (lun && lun->IsNVMe())
            return true;
    }
    return false;
}

// ---- Mounting -------------------------------------------------------------------------------

void VmFileSystemImpl::MountInternal(const std::string& mode) {
    if (Kdfs::IsMountedUuid(_uuid)) {
        TarnCtl_LogWarnInt("%s: Volume %s is already mounted\n", kComponent, _uuid.c_str());
        throw HostCtlException("Unable to mount volume " + GetName() +
                               "because a volume with a matching UUID is already mounted");
    }
    auto found = FindUnmounted(_uuid, "");
    if (!found)
        throw HostCtlException("Unable to find volume uuid[" + _uuid + "] lvm [" + _lvm + "] devices");
    std::vector<std::string> inputs{found->GetLvmName(), mode};
    for (const auto& e : found->ExtentNames())
        inputs.push_back(e);
    TARN_ReturnStatus st = Kdfs::WriteLvm(KSI_LVM_NODE_MOUNT, inputs);
    if (st != TARN_OK)
        throw HostCtlException("Unable to mount volume " + GetName() + ": " + Kdfs::StatusText(st));
    Refresh();
}

void VmFileSystemImpl::UpgradeOnMount() {
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLib_UpgradeFS(LibraryPath());
    if (st != TARN_OK) {
        Kdfs::UpdateDatastore(_uuid, [](HaldenConfigStore::ConfigStoreObject& o) {
            o.SetValue("failed_to_upgrade_kdfs3", true);
        });
        throw HostCtlException("Filesystem upgrade failed during mount: " + Kdfs::StatusText(st));
    }
    TarnCtl_LogInfoInt("%s: Mount: upgraded kdfs3 volume to kdfs5\n", kComponent);
    _major = 5;
}

void VmFileSystemImpl::Mount(MountOption option) {
    // Nothing may reach the kernel or the library for a UUID that is mounted.
    if (Kdfs::IsMountedUuid(_uuid)) {
        TarnCtl_LogWarnInt("%s: Volume %s is already mounted\n", kComponent, _uuid.c_str());
        throw HostCtlException("Unable to mount volume " + GetName() +
                               "because a volume with a matching UUID is already mounted");
    }
    Ensure();
    if (_major == 3) {
        if (option == MOUNT_SKIP_UPGRADE)
            TarnCtl_LogInfoInt("%s: Mounting the file system without an upgrade\n", kComponent);
        else
            UpgradeOnMount();
    }
    MountInternal("rw");
    if (!Kdfs::GetDatastore(_uuid))
        return;
    Kdfs::RecordOrPutBack(
        [&] {
            Kdfs::UpdateDatastore(_uuid,
                                  [](HaldenConfigStore::ConfigStoreObject& o) { o.SetValue("unmounted", false); });
        },
        [&] { return Kdfs::WriteLvm(KSI_LVM_NODE_UNMOUNT, {_uuid}); }, "the unmount of volume " + _uuid);
}

void VmFileSystemImpl::Unmount(UnmountOption option) {
    StorageLockGuard guard;
    MoveDiagnosticFileOff();
    const bool record = option == UNMOUNT_PERSISTENT && !InBootMode();
    // What mounting it back takes, should the record fail.
    std::vector<std::string> remount;
    if (record && Kdfs::IsMountedUuid(_uuid)) {
        Refresh();
        remount = {_lvm, IsReadOnly() ? "ro" : "rw"};
        remount.insert(remount.end(), _extents.begin(), _extents.end());
    }
    TARN_ReturnStatus st = Kdfs::WriteLvm(KSI_LVM_NODE_UNMOUNT, {_uuid});
    if (st == TARN_NOT_FOUND)
        throw HostCtlException("Can't retrieve logical volume information");
    if (st != TARN_OK)
        throw HostCtlException("Unable to unmount volume " + GetName() + ": " + Kdfs::StatusText(st));
    _stale = true;
    if (!record)
        return;
    Kdfs::RecordOrPutBack(
        [&] {
            Kdfs::UpdateDatastore(_uuid, [](HaldenConfigStore::ConfigStoreObject& o) {
                o.SetValue("unmounted", true);
                o.DeleteSubObject(HaldenConfigStore::SubObjectId("snap_volume"));
            });
        },
        [&] { return Kdfs::WriteLvm(KSI_LVM_NODE_MOUNT, remount); }, "the mount of volume " + _uuid);
    TarnCtl_LogInfoInt("%s: Volume unmount info stored in config store\n", kComponent);
}

void VmFileSystemImpl::SetPersistentMount(bool persistent) {
    if (!IsForceMounted())
        throw HostCtlException(
            "Cannot change mounting properties on normal KDFS volumes.  This operation is only valid for resolved "
            "snapshot volumes");
    const bool readOnly = IsReadOnly();
    const std::vector<std::string> extents = GetExtents();
    const std::string lvm = GetLvmName();
    Kdfs::UpdateDatastore(_uuid, [&](HaldenConfigStore::ConfigStoreObject& o) {
        if (!persistent) {
            o.DeleteSubObject(HaldenConfigStore::SubObjectId("snap_volume"));
            return;
        }
        auto snap = o.CreateSubObject(HaldenConfigStore::SubObjectId("snap_volume"));
        snap->SetValue("lvm_name", lvm);
        snap->SetValue("read_only", readOnly);
        snap->SetValue("extents", extents);
    });
}

bool VmFileSystemImpl::IsForceMountPersistent() {
    if (!IsForceMounted())
        throw HostCtlException(
            "Cannot get mounting properties on normal KDFS volumes.  This operation is only valid for resolved "
            "snapshot volumes");
    auto object = Kdfs::GetDatastore(_uuid);
    return object && object->GetSubObject(HaldenConfigStore::SubObjectId("snap_volume"));
}

bool VmFileSystemImpl::IsAutomountEligible() {
    auto object = Kdfs::GetDatastore(_uuid);
    bool unmounted = false;
    return !(object && object->GetValue("unmounted", &unmounted) && unmounted);
}

void VmFileSystemImpl::DeleteState() {
    auto store = Store();
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    store->Delete(Kdfs::DatastoreId(_uuid));
    txn.Commit();
    TarnCtl_LogInfoInt("%s: All confs for volume UUID %s deleted from config store.\n", kComponent, _uuid.c_str());
}

// ---- Class operations -----------------------------------------------------------------------

void VmFileSystemImpl::GetPersistentlyUnmountedFsUuids(std::set<std::string>& uuids) {
    for (const auto& object : Kdfs::ListDatastores()) {
        bool unmounted = false;
        if (object->GetValue("unmounted", &unmounted) && unmounted)
            uuids.insert(object->GetConfigStoreObjectId().GetInstanceId());
    }
}

void VmFileSystemImpl::AutomountKdfsFileSystems() {
    AutomountInternal(false);
}

void VmFileSystemImpl::AutomountOSDataFileSystems() {
    AutomountInternal(true);
}

void VmFileSystemImpl::AutomountInternal(bool osData) {
    std::set<std::string> userUnmounted;
    GetPersistentlyUnmountedFsUuids(userUnmounted);
    for (const auto& v : UnresolvedKdfsVolumeImpl::Scan(false)) {
        if ((v->Record().type == KDFSOS_CREATE_TYPE) != osData)
            continue;
        const std::string uuid = v->GetKdfsUuid();
        if (userUnmounted.count(uuid)) {
            TarnCtl_LogInfoInt("%s: Skipping volume %s: %s\n", kComponent, uuid.c_str(), "unmounted by the user");
            continue;
        }
        try {
            VmFileSystemImpl fs(v->Record());
            if (fs._major == 3) {
                Kdfs::EnsureLibrary();
                if (TarnfsLib_UpgradeFS(fs.LibraryPath()) == TARN_OK)
                    TarnCtl_LogInfoInt("%s: Upgraded volume %s: KDFS3 to KDFS5 during auto-mount.\n", kComponent,
                                       uuid.c_str());
                else
                    TarnCtl_LogWarnInt("%s: Upgrade volume %s: KDFS3 to KDFS5 failed during mount.\n", kComponent,
                                       uuid.c_str());
            }
            // The host's own OS data is mounted read-write, not in the
            // datastores' shared mode.
            fs.MountInternal(osData ? "rw" : "rwlite");
            TarnCtl_LogInfoInt("%s: Automounted volume %s\n", kComponent, uuid.c_str());
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Skipping volume %s: %s\n", kComponent, uuid.c_str(), e.what());
        }
    }
}

std::vector<std::unique_ptr<VmFileSystemImpl>> VmFileSystemImpl::GetKdfsFileSystems(const std::string& device) {
    std::vector<std::unique_ptr<VmFileSystemImpl>> out;
    TarnCtl_LogVerboseInt("%s: Fs Info from fsswitch\n", kComponent);
    for (const auto& uuid : KsiList(KSI_NODE_system_fsSwitch_volumes)) {
        if (uuid.empty()) {
            TarnCtl_LogWarnInt("%s: fsUUID is null, skipping  %s\n", kComponent, uuid.c_str());
            continue;
        }
        try {
            auto fs = std::make_unique<VmFileSystemImpl>(uuid);
            fs->Refresh();
            out.push_back(std::move(fs));
        } catch (const HostCtlException&) {
            TarnCtl_LogWarnInt("%s: Unable to get FS info for %s\n", kComponent, uuid.c_str());
        }
    }
    TarnCtl_LogVerboseInt("%s: Fs Info from UnresolvedKdfsVolume\n", kComponent);
    for (const auto& v : CachedUnresolvedKdfsVolumes(false)) {
        auto* impl = dynamic_cast<UnresolvedKdfsVolumeImpl*>(v.get());
        if (!impl || impl->IsSnapshot())
            continue;
        if (impl->GetKdfsUuid().empty()) {
            TarnCtl_LogWarnInt("%s: fsUUID is null, skipping  %s\n", kComponent, impl->GetLvmName().c_str());
            continue;
        }
        out.push_back(std::make_unique<VmFileSystemImpl>(impl->Record()));
    }
    if (device.empty())
        return out;
    std::string primary = device;
    try {
        primary = StorageInfoImpl().ResolveRuntimeLunName(device);
    } catch (const HostCtlException&) {
    }
    std::vector<std::unique_ptr<VmFileSystemImpl>> onDevice;
    for (auto& fs : out)
        for (const auto& e : fs->GetExtents())
            if (e.substr(0, e.rfind(':')) == primary) {
                onDevice.push_back(std::move(fs));
                break;
            }
    return onDevice;
}

std::unique_ptr<VmFileSystemImpl> VmFileSystemImpl::GetKDFSFileSystemByUUID(const std::string& uuid) {
    if (Kdfs::IsMountedUuid(uuid)) {
        auto fs = std::make_unique<VmFileSystemImpl>(uuid);
        fs->Refresh();
        return fs;
    }
    auto v = FindUnmounted(uuid, "");
    return v ? std::make_unique<VmFileSystemImpl>(v->Record()) : nullptr;
}

std::unique_ptr<VmFileSystemImpl> VmFileSystemImpl::GetKDFSFileSystemByLabel(const std::string& label) {
    if (label.empty())
        return nullptr;
    Sysinfo si(KSI_NODE_system_fsSwitch_volumeLabels);
    si.SetThrowOnError(false);
    si.SetInstance(label);
    KsiFsVolumeLabel l{};
    if (si.Get(&l, sizeof(l)) == TARN_OK)
        return GetKDFSFileSystemByUUID(FixedString(l.uuid));
    auto v = FindUnmounted("", label);
    return v ? std::make_unique<VmFileSystemImpl>(v->Record()) : nullptr;
}

std::unique_ptr<VmFileSystemImpl> VmFileSystemImpl::FindUnmountedFileSystemByUUIDOrByLabel(const std::string& name) {
    auto v = FindUnmounted(name, "");
    if (!v)
        v = FindUnmounted("", name);
    return v ? std::make_unique<VmFileSystemImpl>(v->Record()) : nullptr;
}

// ---- Printing -------------------------------------------------------------------------------

void VmFileSystemImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    Ensure();
    printer->SetType("VmFileSystem");
    printer->BeginObject();
    printer->Print("UUID", _uuid);
    printer->Print("Volume Name", _label);
    printer->Print("Type", _type);
    printer->Print("Mounted", _mounted);
    printer->Print("Console Path", GetConsolePath());
    printer->Print("Major Version", _major);
    printer->Print("Minor Version", _minor);
    printer->Print("Block Size", _blockSize, false, "bytes");
    printer->Print("Size", _size, false, "bytes");
    printer->Print("Head Extent", GetHeadExtentName());
    printer->EndObject();
}

}  // namespace TarnCtl::Storage
