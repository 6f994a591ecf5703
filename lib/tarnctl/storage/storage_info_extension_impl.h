// The storage domain's extension for disk file-system volumes: enumeration of
// mounted and unmounted volumes, lookups by UUID, label and path, the volume
// rescans, and formatting or spanning onto a blank disk (which lays one
// partition over the disk first and takes it away again if the volume step fails).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/storage.h"
#include "storage/vm_file_system_impl.h"

namespace TarnCtl::Storage {

class StorageInfoExtensionImpl {
public:
    std::vector<std::unique_ptr<VmFileSystemImpl>> GetKdfsFileSystems(const std::string& device);
    std::vector<std::unique_ptr<HostCtl::Storage::FileSystem>> GetFileSystems();
    std::unique_ptr<HostCtl::Storage::FileSystem> GetFileSystemByUUID(const std::string& uuid);
    std::unique_ptr<HostCtl::Storage::FileSystem> GetFileSystemByLabel(const std::string& label);
    std::unique_ptr<HostCtl::Storage::FileSystem> GetFileSystemByPath(const std::string& path);
    void RescanKdfs();
    void RescanKdfsDevices(const std::string& device);
    void RescanOneKdfsVolume(const std::string& uuid, bool force);

    // `target` is device:partition, or a device: a blank disk gets one
    // partition over the whole disk, a disk with one partition uses it.
    // Returns the new volume's UUID.
    std::string CreateFileSystemOn(const std::string& target, const std::string& label, int version,
                                   uint64_t blockSize);
    // Spans `volume` onto `target` (as for CreateFileSystemOn).
    void ExtendFileSystemOnto(HostCtl::Storage::VmFileSystem& volume, const std::string& target);

private:
    // The partition to use on `target`; `created` when it was laid down now.
    std::string PreparePartition(const std::string& target, bool* created);
    void RemovePartitions(const std::string& device);
};

}  // namespace TarnCtl::Storage
