// The storage domain object's disk file-system operations, handed to its
// extension object.
#include "storage/storage_info_extension_impl.h"
#include "storage/storage_info_impl.h"

namespace TarnCtl::Storage {

std::vector<std::unique_ptr<HostCtl::Storage::FileSystem>> StorageInfoImpl::GetFileSystems() {
    return _extension->GetFileSystems();
}

std::vector<std::unique_ptr<HostCtl::Storage::VmFileSystem>> StorageInfoImpl::GetKdfsFileSystems(
    const std::string& device) {
    std::vector<std::unique_ptr<HostCtl::Storage::VmFileSystem>> out;
    for (auto& fs : _extension->GetKdfsFileSystems(device))
        out.push_back(std::move(fs));
    return out;
}

std::unique_ptr<HostCtl::Storage::FileSystem> StorageInfoImpl::GetFileSystemByUUID(const std::string& uuid) {
    return _extension->GetFileSystemByUUID(uuid);
}

std::unique_ptr<HostCtl::Storage::FileSystem> StorageInfoImpl::GetFileSystemByLabel(const std::string& label) {
    return _extension->GetFileSystemByLabel(label);
}

std::unique_ptr<HostCtl::Storage::FileSystem> StorageInfoImpl::GetFileSystemByPath(const std::string& path) {
    return _extension->GetFileSystemByPath(path);
}

void StorageInfoImpl::RescanKdfs() {
    _extension->RescanKdfs();
}

void StorageInfoImpl::RescanOneKdfsVolume(const std::string& uuid, bool force) {
    _extension->RescanOneKdfsVolume(uuid, force);
}

void StorageInfoImpl::RescanKdfsDevices(const std::string& device) {
    _extension->RescanKdfsDevices(device);
}

void StorageInfoImpl::AutomountVolumes() {
    VmFileSystemImpl::AutomountKdfsFileSystems();
}

void StorageInfoImpl::DeleteKdfsFileSystemState(const std::string& uuid) {
    VmFileSystemImpl(uuid).DeleteState();
}

}  // namespace TarnCtl::Storage
