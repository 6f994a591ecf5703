// What a volume reports beyond its layout: the hosts holding it open (its
// heartbeat slots), I/O resource management, the offload and wear support of
// the devices under it, its light-weight I/O counters, and the diagnostic
// file that must leave it before an unmount.
#include <cstring>

#include "hostctl/exception.h"
#include "ksi/kdfs.h"
#include "ksi/storage.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"
#include "platform/tarnfs.h"
#include "storage/kdfs_util.h"
#include "storage/storage_util.h"
#include "storage/vm_file_system_impl.h"

namespace HostCtl::Storage {

std::string VmFileSystem::GetSopiStatusString(SopiStatus status) {
    switch (status) {
    case SOPI_STATUS_UNKNOWN: return "unknown";
    case SOPI_STATUS_SUPPORTED: return "supported";
    case SOPI_STATUS_UNSUPPORTED: return "unsupported";
    }
    return "unknown";
}

}  // namespace HostCtl::Storage

namespace TarnCtl::Storage {

using HostCtl::Lib::HostCtlException;
using HostCtl::Storage::KdfsLightStats;
using HostCtl::Storage::KdfsUserInfo;
using TarnCtl::Util::Sysinfo;

namespace {

constexpr const char* kComponent = "VmFileSystem";

}  // namespace

std::vector<KdfsUserInfo> VmFileSystemImpl::GetKdfsUserInfo(LivenessCheckType check) {
    if (check != LIVENESS_ALL_SLOTS && check != LIVENESS_LIVE && check != LIVENESS_LIVE_OTHER_HOSTS)
        throw HostCtlException("Invalid liveness check type " + std::to_string(static_cast<uint32_t>(check)));
    Kdfs::EnsureLibrary();
    std::vector<TarnfsHeartbeat> heartbeats;
    if (TarnfsLib_CheckForExistingFS(Kdfs::DevicePath(GetHeadExtentName()), 0, &heartbeats) != TARN_OK)
        throw HostCtlException("Unable to query live KDFS state of volume.");
    std::string self;
    if (TarnfsLibKSI_GetKDFSHostUUID(&self) != TARN_OK)
        throw HostCtlException("Unable to query UUID of the host.");
    std::vector<KdfsUserInfo> users;
    for (const auto& hb : heartbeats) {
        const bool mine = hb.hostUuid == self;
        if (check != LIVENESS_ALL_SLOTS && hb.state == 0)
            continue;
        if (check == LIVENESS_LIVE_OTHER_HOSTS && mine)
            continue;
        users.push_back({hb.hostUuid, hb.state, hb.stampUS, mine});
    }
    return users;
}

bool VmFileSystemImpl::IsActiveVolume(bool includeThisHost) {
    const auto users = GetKdfsUserInfo(includeThisHost ? LIVENESS_LIVE : LIVENESS_LIVE_OTHER_HOSTS);
    for (const auto& u : users)
        TarnCtl_LogInfoInt("%s: Host %s has volume %s open. HB state: %x, HB stampUS: %ld\n", kComponent,
                           u.hostUuid.c_str(), _uuid.c_str(), u.state, static_cast<long>(u.stampUS));
    return !users.empty();
}

// ---- I/O resource management ----------------------------------------------------------------

bool VmFileSystemImpl::IsIormEnabled() {
    Ensure();
    return _mounted && (_flags & KSI_FS_IORM_ENABLED);
}

void VmFileSystemImpl::DisableIORM() {
    RequireMounted("Unable to change iormState on Unmounted volume");
    TARN_ReturnStatus st = Kdfs::WriteLvm(KSI_LVM_NODE_IORM, {_uuid, "0"});
    if (st != TARN_OK)
        throw HostCtlException("Failed to set IormState " + Kdfs::StatusText(st));
    _stale = true;
}

// ---- Devices under the volume ---------------------------------------------------------------

VmFileSystemImpl::SopiStatus VmFileSystemImpl::CombinedSopiStatus(bool atsOnly) {
    const auto devices = Kdfs::ExtentDevices(GetExtents());
    if (devices.empty())
        return SOPI_STATUS_UNKNOWN;
    bool allSupported = true;
    for (const auto& device : devices) {
        Sysinfo si(KSI_NODE_storage_scsifw_devices_sopiCacheData);
        si.SetThrowOnError(false);
        si.SetInstance(device);
        KsiStorageSopiCacheData data{};
        // A device the kernel cannot describe tells nothing either way.
        if (si.Get(&data, sizeof(data)) != TARN_OK) {
            allSupported = false;
            continue;
        }
        const uint32_t all[] = {data.ats, data.clone, data.zero, data.deleteStatus};
        for (size_t i = 0; i < (atsOnly ? 1u : 4u); ++i) {
            if (all[i] == KSI_SOPI_UNSUPPORTED)
                return SOPI_STATUS_UNSUPPORTED;
            allSupported &= all[i] == KSI_SOPI_SUPPORTED;
        }
    }
    return allSupported ? SOPI_STATUS_SUPPORTED : SOPI_STATUS_UNKNOWN;
}

VmFileSystemImpl::SopiStatus VmFileSystemImpl::GetSOPIState() {
    return CombinedSopiStatus(false);
}

VmFileSystemImpl::SopiStatus VmFileSystemImpl::GetSOPIAtsStatus() {
    return CombinedSopiStatus(true);
}

bool VmFileSystemImpl::IsWearSupported() {
    const auto devices = Kdfs::ExtentDevices(GetExtents());
    if (devices.empty())
        return false;
    for (const auto& device : devices) {
        Sysinfo si(KSI_NODE_storage_scsifw_devices_info);
        si.SetThrowOnError(false);
        si.SetInstance(device);
        KsiStorageDeviceInfo info{};
        if (si.Get(&info, sizeof(info)) != TARN_OK || !(info.flags & KSI_DEVICE_WEAR_SUPPORTED))
            return false;
    }
    return true;
}

// ---- Counters ---------------------------------------------------------------------------------

KdfsLightStats VmFileSystemImpl::GetKdfsLightStats() {
    RequireMounted("Volume not mounted");
    Sysinfo si(KSI_LVM_NODE_LIGHT_STATS);
    si.SetThrowOnError(false);
    si.SetModule(KSI_LVM_MODULE);
    si.SetInstance(_uuid);
    KsiLvmLightStats raw{};
    TARN_ReturnStatus st = si.Get(&raw, sizeof(raw));
    if (st != TARN_OK)
        throw HostCtlException("Unable to get light-weight statistics of volume " + GetName() + ": " +
                               Kdfs::StatusText(st));
    KdfsLightStats out;
    out.readOps = raw.readOps;
    out.writeOps = raw.writeOps;
    out.readBytes = raw.readBytes;
    out.writeBytes = raw.writeBytes;
    out.openFiles = raw.openFiles;
    return out;
}

// ---- Diagnostic file --------------------------------------------------------------------------

void VmFileSystemImpl::MoveDiagnosticFileOff() {
    Sysinfo si(KSI_NODE_system_dumpFile);
    si.SetThrowOnError(false);
    KsiDumpFile active{};
    if (si.Get(&active, sizeof(active)) != TARN_OK)
        return;
    const std::string path = FixedString(active.path);
    Ensure();
    for (const std::string& name : {_uuid, _label}) {
        if (name.empty() || !HostCtl::Misc::StartsWith(path, Kdfs::kVolumesDir + name + "/"))
            continue;
        // Deactivating it and activating another belongs to the core-dump
        // files, which this host does not manage yet; unmounting under an
        // active file would pull it away from the kernel.
        throw HostCtlException("Moving the diagnostic file " + path + " off volume " + GetName() +
                               " is not available yet");
    }
}

}  // namespace TarnCtl::Storage
