// Boot steps of the disk file-system volumes: the host's OS-data volumes,
// then force-mounted snapshot volumes (the user asked for them by name), then
// every other volume the user did not unmount.
#include "platform/boot.h"
#include "storage/unresolved_kdfs_volume_impl.h"
#include "storage/vm_file_system_impl.h"

namespace TarnCtl::Storage {

namespace {

const Platform::Boot::Step kOSData("storage.kdfs.osdata", 415, [] {
    VmFileSystemImpl::AutomountOSDataFileSystems();
});
const Platform::Boot::Step kSnapshots("storage.kdfs.snapshots", 420, [] {
    UnresolvedKdfsVolumeImpl::RestoreForceMounted();
});
const Platform::Boot::Step kAutomount("storage.kdfs.automount", 430, [] {
    VmFileSystemImpl::AutomountKdfsFileSystems();
});

}  // namespace

}  // namespace TarnCtl::Storage
