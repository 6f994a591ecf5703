// Disk file-system volumes as the storage domain object hands them out.
#include "storage/storage_info_extension_impl.h"

#include <cstring>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/tarnfs.h"
#include "storage/disk_lun_impl.h"
#include "storage/kdfs_util.h"
#include "storage/storage_info_impl.h"

namespace TarnCtl::Storage {

using HostCtl::Lib::HostCtlException;
using HostCtl::Storage::DiskLunPartition;
using HostCtl::Storage::FileSystem;

std::shared_ptr<StorageInfoExtensionImpl> MakeStorageInfoExtension() {
    return std::make_shared<StorageInfoExtensionImpl>();
}

std::vector<std::unique_ptr<VmFileSystemImpl>> StorageInfoExtensionImpl::GetKdfsFileSystems(const std::string& device) {
    return VmFileSystemImpl::GetKdfsFileSystems(device);
}

// Only disk file-system volumes exist on this host so far; NFS, VFAT and the
// other kinds join this list as their domains are built.
std::vector<std::unique_ptr<FileSystem>> StorageInfoExtensionImpl::GetFileSystems() {
    std::vector<std::unique_ptr<FileSystem>> out;
    for (auto& fs : GetKdfsFileSystems(""))
        out.push_back(std::move(fs));
    return out;
}

std::unique_ptr<FileSystem> StorageInfoExtensionImpl::GetFileSystemByUUID(const std::string& uuid) {
    return VmFileSystemImpl::GetKDFSFileSystemByUUID(uuid);
}

std::unique_ptr<FileSystem> StorageInfoExtensionImpl::GetFileSystemByLabel(const std::string& label) {
    return VmFileSystemImpl::GetKDFSFileSystemByLabel(label);
}

std::unique_ptr<FileSystem> StorageInfoExtensionImpl::GetFileSystemByPath(const std::string& path) {
    if (!HostCtl::Misc::StartsWith(path, Kdfs::kVolumesDir))
        return nullptr;
    std::string name = path.substr(std::strlen(Kdfs::kVolumesDir));
    name = name.substr(0, name.find('/'));
    if (name.empty())
        return nullptr;
    auto fs = Kdfs::IsMountedUuid(name) ? VmFileSystemImpl::GetKDFSFileSystemByUUID(name)
                                        : VmFileSystemImpl::GetKDFSFileSystemByLabel(name);
    if (!fs || !fs->IsMounted())
        return nullptr;
    return fs;
}

void StorageInfoExtensionImpl::RescanKdfs() {
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLib_ScanAdapter("");
    if (st != TARN_OK)
        throw HostCtlException("Not all KDFS volumes were updated; the error encountered was '" +
                               Kdfs::StatusText(st) + "'.");
}

void StorageInfoExtensionImpl::RescanKdfsDevices(const std::string& device) {
    TarnCtl_LogInfoInt("%s: Rescanning kdfs devices\n", "StorageInfo");
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLibKSI_RescanDevices(device);
    if (st != TARN_OK)
        throw HostCtlException("Unable to rescan devices for KDFS volumes: " + Kdfs::StatusText(st));
}

void StorageInfoExtensionImpl::RescanOneKdfsVolume(const std::string& uuid, bool) {
    TarnCtl_LogInfoInt("%s: Rescanning volume %s\n", "StorageInfo", uuid.c_str());
    Kdfs::EnsureLibrary();
    TARN_ReturnStatus st = TarnfsLibKSI_RescanDevices("");
    if (st != TARN_OK)
        throw HostCtlException("Unable to rescan volume " + uuid + ": " + Kdfs::StatusText(st));
}

// ---- Formatting onto disks --------------------------------------------------------------------

std::string StorageInfoExtensionImpl::PreparePartition(const std::string& target, bool* created) {
    *created = false;
    auto lun = StorageInfoImpl::GetLun(target, false);
    auto* disk = dynamic_cast<DiskLunImpl*>(lun.get());
    if (!disk) {
        // Not a device: take it as device:partition and let the volume code judge it.
        if (target.find(':') != std::string::npos)
            return target;
        throw HostCtlException("Unknown disk " + target);
    }
    std::vector<std::unique_ptr<DiskLunPartition>> partitions = disk->GetPartitions();
    const std::string name = disk->GetIdentifier();
    if (partitions.size() > 1) {
        if (partitions.size() == 2)
            return name + ":" + std::to_string(partitions[1]->GetPartitionNumber());
        throw HostCtlException("Device " + name + " has several partitions; name one as " + name + ":<number>");
    }
    const uint64_t blocks = disk->GetNumBlocks();
    // GPT keeps 34 sectors at the end for its backup; start at 1 MiB.
    if (blocks < 2048 + 34 + 1)
        throw HostCtlException("Device " + name + " is too small for a volume");
    HostCtl::Storage::PartitionSpec spec;
    spec.number = 1;
    spec.startSector = 2048;
    spec.endSector = blocks - 34;
    spec.type = DiskLunPartition::PARTITION_TYPE_KDFS;
    disk->SetPartitionTable({spec});
    *created = true;
    return name + ":1";
}

void StorageInfoExtensionImpl::RemovePartitions(const std::string& device) {
    try {
        auto lun = StorageInfoImpl::GetLun(device, false);
        if (auto* disk = dynamic_cast<DiskLunImpl*>(lun.get()))
            disk->MkLabelPartitionTable("gpt");
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Unable to remove the partition laid on %s: %s\n", "StorageInfo", device.c_str(),
                            e.what());
    }
}

std::string StorageInfoExtensionImpl::CreateFileSystemOn(const std::string& target, const std::string& label,
                                                         int version, uint64_t blockSize) {
    bool created = false;
    const std::string partition = PreparePartition(target, &created);
    try {
        return VmFileSystemImpl::CreateFileSystem(partition, label, version, blockSize, 0, nullptr, false, 0);
    } catch (const HostCtlException&) {
        if (created)
            RemovePartitions(partition.substr(0, partition.rfind(':')));
        throw;
    }
}

void StorageInfoExtensionImpl::ExtendFileSystemOnto(HostCtl::Storage::VmFileSystem& volume,
                                                    const std::string& target) {
    bool created = false;
    const std::string partition = PreparePartition(target, &created);
    try {
        volume.AddExtent(partition, 0);
    } catch (const HostCtlException&) {
        if (created)
            RemovePartitions(partition.substr(0, partition.rfind(':')));
        throw;
    }
}

}  // namespace TarnCtl::Storage
