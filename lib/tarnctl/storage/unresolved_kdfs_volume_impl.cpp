// Unmounted and snapshot volumes: the partition scan, the resolve checks in
// their fixed order (duplicate, missing, extra extents; heartbeats; the
// original online), resignature, force mount and its boot-time replay.
#include "storage/unresolved_kdfs_volume_impl.h"

#include <algorithm>
#include <map>
#include <set>

#include "hostctl/exception.h"
#include "ksi/kdfs.h"
#include "ksi/storage.h"
#include "platform/log.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "platform/tarnfs.h"
#include "storage/kdfs_util.h"
#include "storage/storage_util.h"

namespace HostCtl::Storage {

std::string UnresolvedKdfsVolume::ResolveErrorToString(int error) {
    switch (error) {
    case 0: return "ok";
    case 1: return "duplicate extents found";
    case 2: return "some extents missing";
    case 3: return "extra extents found";
    case 4: return "failed to check for existing active volumes";
    case 5: return "the volume is being actively used";
    case 6: return "the original volume is still online";
    case 7: return "the original volume has some extents online";
    default: return "unknown error";
    }
}

}  // namespace HostCtl::Storage

namespace TarnCtl::Storage {

using HostCtl::Lib::HostCtlException;
using HostCtl::Storage::UnresolvedKdfsVolume;
using TarnCtl::Util::Sysinfo;

namespace {

// device:partition of every extent of every mounted volume.
std::set<std::string> MountedExtents() {
    std::set<std::string> out;
    for (const auto& uuid : KsiList(KSI_NODE_system_fsSwitch_volumes)) {
        Sysinfo si(KSI_LVM_NODE_EXTENTS);
        si.SetModule(KSI_LVM_MODULE);
        si.SetThrowOnError(false);
        si.SetInstance(uuid);
        std::vector<std::string> indexes;
        si.List(indexes);
        for (const auto& i : indexes) {
            Sysinfo e(KSI_LVM_NODE_EXTENTS);
            e.SetModule(KSI_LVM_MODULE);
            e.SetThrowOnError(false);
            e.AddInstancePath(uuid);
            e.AddInstancePath(i);
            KsiLvmExtent rec{};
            if (e.Get(&rec, sizeof(rec)) == TARN_OK)
                out.insert(FixedString(rec.device) + ":" + std::to_string(rec.partition));
        }
    }
    return out;
}

}  // namespace

// ---- Scan -----------------------------------------------------------------------------------

std::vector<std::shared_ptr<UnresolvedKdfsVolumeImpl>> UnresolvedKdfsVolumeImpl::Scan(bool snapshots) {
    Kdfs::EnsureLibrary();
    const auto mounted = MountedExtents();
    std::map<std::string, KdfsVolumeRecord> groups;  // ordered: stable listings
    for (const auto& device : KsiList(KSI_NODE_storage_scsifw_devices)) {
        KsiStorageDeviceInfo info{};
        Sysinfo si(KSI_NODE_storage_scsifw_devices_info);
        si.SetThrowOnError(false);
        si.SetInstance(device);
        if (si.Get(&info, sizeof(info)) != TARN_OK || info.type != 0)
            continue;
        for (const auto& number : KsiList(KSI_NODE_storage_scsifw_devices_partitions, {device})) {
            const std::string extent = device + ":" + number;
            if (number == "0" || mounted.count(extent))
                continue;
            TarnfsDeviceProperties p;
            TARN_ReturnStatus st = TarnfsLibKSI_GetDeviceProperties(Kdfs::DevicePath(extent), &p);
            if (st != TARN_OK) {
                TarnCtl_LogWarnInt("%s: Skipping partition %s: %s\n", "UnresolvedKdfsVolume", extent.c_str(),
                                   Kdfs::StatusText(st).c_str());
                continue;
            }
            if (!p.hasKdfs)
                continue;
            const bool copy = p.formattedDevice != device;
            if (copy && !snapshots)
                continue;
            const std::string uuid = Kdfs::FormatUuid(p.uuid);
            auto& g = groups[uuid + "/" + p.lvmName + (copy ? "/copy" : "")];
            KdfsExtentRecord e;
            e.device = device;
            e.partition = static_cast<uint32_t>(std::stoul(number));
            e.index = p.extentIndex;
            e.count = p.extentCount;
            e.start = p.startSector;
            e.end = p.endSector;
            e.uuid = uuid;
            e.formattedDevice = p.formattedDevice;
            if (g.extents.empty() || p.extentIndex == 0) {
                g.uuid = uuid;
                g.label = p.label;
                g.lvm = p.lvmName;
                g.type = p.createType;
                g.major = p.majorVersion;
                g.minor = p.minorVersion;
                g.blockSize = p.blockSize;
            }
            g.snapshot = copy;
            g.extents.push_back(std::move(e));
        }
    }
    std::vector<std::shared_ptr<UnresolvedKdfsVolumeImpl>> out;
    out.reserve(groups.size());
    for (auto& [key, g] : groups) {
        std::stable_sort(g.extents.begin(), g.extents.end(),
                         [](const KdfsExtentRecord& a, const KdfsExtentRecord& b) { return a.index < b.index; });
        out.push_back(std::make_shared<UnresolvedKdfsVolumeImpl>(std::move(g)));
    }
    return out;
}

std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>> ListUnresolvedKdfsVolumes(bool snapshots) {
    std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>> out;
    for (auto& v : UnresolvedKdfsVolumeImpl::Scan(snapshots))
        out.push_back(std::move(v));
    return out;
}

// ---- Values ---------------------------------------------------------------------------------

std::string UnresolvedKdfsVolumeImpl::GetHeadExtent() {
    return _r.extents.empty() ? "" : _r.extents.front().Name();
}

uint64_t UnresolvedKdfsVolumeImpl::GetTotalSize() {
    uint64_t sectors = 0;
    for (const auto& e : _r.extents)
        sectors += e.end - e.start + 1;
    return sectors * 512;
}

std::vector<std::string> UnresolvedKdfsVolumeImpl::ExtentNames() const {
    std::vector<std::string> out;
    for (const auto& e : _r.extents)
        out.push_back(e.Name());
    return out;
}

std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsExtent>> UnresolvedKdfsVolumeImpl::GetExtents() {
    std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsExtent>> out;
    for (const auto& e : _r.extents)
        out.push_back(std::make_shared<UnresolvedKdfsExtentImpl>(e));
    return out;
}

// ---- Resolving ------------------------------------------------------------------------------

UnresolvedKdfsVolume::ResolveError UnresolvedKdfsVolumeImpl::CheckExtents() const {
    // The volume's extent count is what its head says; without a head, the
    // largest count any extent knows.
    uint32_t count = 0;
    bool head = false;
    for (const auto& e : _r.extents) {
        if (e.index == 0 && !head)
            count = e.count;
        else if (!head)
            count = std::max(count, e.count);
        head |= e.index == 0;
    }
    std::set<uint32_t> seen;
    bool duplicate = false, extra = false;
    for (const auto& e : _r.extents) {
        duplicate |= !seen.insert(e.index).second;
        extra |= e.index >= count;
    }
    if (duplicate)
        return RESOLVE_DUPLICATE_EXTENTS;
    for (uint32_t i = 0; i < count; ++i)
        if (!seen.count(i))
            return RESOLVE_MISSING_EXTENTS;
    if (extra)
        return RESOLVE_EXTRA_EXTENTS;
    return RESOLVE_OK;
}

std::string UnresolvedKdfsVolumeImpl::GetExtentStatus() {
    ResolveError e = CheckExtents();
    return e == RESOLVE_OK ? "complete" : ResolveErrorToString(e);
}

bool UnresolvedKdfsVolumeImpl::CanResolve(bool checkSource, bool checkInUse, ResolveError* error) {
    ResolveError result = CheckExtents();
    if (result == RESOLVE_OK && checkInUse) {
        Kdfs::EnsureLibrary();
        std::vector<TarnfsHeartbeat> heartbeats;
        std::string self;
        if (TarnfsLib_CheckForExistingFS(Kdfs::DevicePath(GetHeadExtent()), 0, &heartbeats) != TARN_OK ||
            TarnfsLibKSI_GetKDFSHostUUID(&self) != TARN_OK) {
            result = RESOLVE_CHECK_FAILED;
        } else {
            for (const auto& hb : heartbeats)
                if (hb.state != 0 && hb.hostUuid != self)
                    result = RESOLVE_IN_USE;
        }
    }
    if (result == RESOLVE_OK && checkSource) {
        if (Kdfs::IsMountedUuid(_r.uuid)) {
            result = RESOLVE_SOURCE_ONLINE;
        } else {
            const auto mounted = MountedExtents();
            for (const auto& e : _r.extents)
                if (mounted.count(e.formattedDevice + ":" + std::to_string(e.partition)))
                    result = RESOLVE_SOURCE_EXTENTS_ONLINE;
        }
    }
    if (error)
        *error = result;
    return result == RESOLVE_OK;
}

std::string UnresolvedKdfsVolumeImpl::ResolveVolume() {
    ResolveError error = RESOLVE_OK;
    // A new identity does not collide with the original, so it may stay online.
    if (!CanResolve(false, true, &error))
        throw HostCtlException("Unable to resignature this volume due to " + ResolveErrorToString(error));
    TARN_ReturnStatus st = Kdfs::WriteLvm(KSI_LVM_NODE_RESIGNATURE, ExtentNames());
    if (st != TARN_OK)
        throw HostCtlException("Unable to resignature this volume due to " + Kdfs::StatusText(st));
    TarnfsDeviceProperties p;
    if (TarnfsLibKSI_GetDeviceProperties(Kdfs::DevicePath(GetHeadExtent()), &p) != TARN_OK || !p.hasKdfs)
        throw HostCtlException("Unable to find filesystem for partition " + GetHeadExtent() +
                               " or unable to get UUID for filesystem");
    return Kdfs::FormatUuid(p.uuid);
}

namespace {

void RecordForceMount(const std::string& uuid, const std::string& lvm, bool readOnly,
                      const std::vector<std::string>& extents) {
    Kdfs::UpdateDatastore(uuid, [&](HaldenConfigStore::ConfigStoreObject& o) {
        auto snap = o.CreateSubObject(HaldenConfigStore::SubObjectId("snap_volume"));
        snap->SetValue("lvm_name", lvm);
        snap->SetValue("read_only", readOnly);
        snap->SetValue("extents", extents);
    });
}

}  // namespace

void UnresolvedKdfsVolumeImpl::ForceMountKdfs(bool persistent, bool readOnly) {
    ResolveError error = RESOLVE_OK;
    if (!CanResolve(false, true, &error))
        throw HostCtlException("Unable to mount this KDFS volume due to " + ResolveErrorToString(error));
    if (Kdfs::IsMountedUuid(_r.uuid)) {
        TarnCtl_LogWarnInt("%s: Volume %s is already mounted\n", "UnresolvedKdfsVolume", _r.uuid.c_str());
        throw HostCtlException("Unable to mount volume " + GetName() +
                               "because a volume with a matching UUID is already mounted");
    }
    std::vector<std::string> inputs{_r.lvm, readOnly ? "ro" : "rw"};
    for (const auto& e : ExtentNames())
        inputs.push_back(e);
    TARN_ReturnStatus st = Kdfs::WriteLvm(KSI_LVM_NODE_MOUNT, inputs);
    if (st != TARN_OK)
        throw HostCtlException("Unable to mount this KDFS volume due to " + Kdfs::StatusText(st));
    if (persistent && !InBootMode()) {
        Kdfs::RecordOrPutBack([&] { RecordForceMount(_r.uuid, _r.lvm, readOnly, ExtentNames()); },
                              [&] { return Kdfs::WriteLvm(KSI_LVM_NODE_UNMOUNT, {_r.uuid}); },
                              "the unmount of volume " + _r.uuid);
        TarnCtl_LogInfoInt("%s: Forced mount info stored in config store for UUID %s.\n", "UnresolvedKdfsVolume",
                           _r.uuid.c_str());
    }
}

// ---- Boot -----------------------------------------------------------------------------------

namespace {

// Mounts a recorded snapshot volume when every extent is present; false (and
// a log line) when one is missing.
bool RestoreOne(const HaldenConfigStore::ConfigStoreObject& object) {
    const std::string uuid = object.GetConfigStoreObjectId().GetInstanceId();
    auto snap = object.GetSubObject(HaldenConfigStore::SubObjectId("snap_volume"));
    if (!snap)
        throw HostCtlException("Unable to find volume information");
    std::string lvm;
    bool readOnly = false;
    std::vector<std::string> extents;
    snap->GetValue("lvm_name", &lvm);
    snap->GetValue("read_only", &readOnly);
    snap->GetValue("extents", &extents);
    Kdfs::EnsureLibrary();
    for (const auto& extent : extents) {
        TarnfsDeviceProperties p;
        if (TarnfsLibKSI_GetDeviceProperties(Kdfs::DevicePath(extent), &p) != TARN_OK || !p.hasKdfs ||
            p.lvmName != lvm) {
            TarnCtl_LogWarnInt("%s: Unable to find extent %s for resolved KDFS volume %s unable to restore volume\n",
                               "UnresolvedKdfsVolume", extent.c_str(), uuid.c_str());
            return false;
        }
    }
    std::vector<std::string> inputs{lvm, readOnly ? "ro" : "rw"};
    inputs.insert(inputs.end(), extents.begin(), extents.end());
    TARN_ReturnStatus st = Kdfs::WriteLvm(KSI_LVM_NODE_MOUNT, inputs);
    if (st != TARN_OK)
        throw HostCtlException("Unable to mount this KDFS volume due to " + Kdfs::StatusText(st));
    TarnCtl_LogInfoInt("%s: KDFS volume UUID %s force mounted successfully.\n", "UnresolvedKdfsVolume", uuid.c_str());
    return true;
}

}  // namespace

void UnresolvedKdfsVolumeImpl::LoadConfig() {
    auto object = Kdfs::GetDatastore(_r.uuid);
    if (!object)
        throw HostCtlException("Unable to find volume information");
    RestoreOne(*object);
}

void UnresolvedKdfsVolumeImpl::RestoreForceMounted() {
    for (const auto& object : Kdfs::ListDatastores()) {
        if (!object->GetSubObject(HaldenConfigStore::SubObjectId("snap_volume")))
            continue;
        try {
            RestoreOne(*object);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Unable to restore volume %s: %s\n", "UnresolvedKdfsVolume",
                               object->GetConfigStoreObjectId().GetInstanceId().c_str(), e.what());
        }
    }
}

// ---- Printing -------------------------------------------------------------------------------

void UnresolvedKdfsExtentImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Unresolved KDFS Extent");
    printer->BeginObject();
    printer->Print("Device", _r.device);
    printer->Print("Partition", _r.partition);
    printer->Print("Extent Index", _r.index);
    printer->Print("Start", _r.start);
    printer->Print("End", _r.end);
    printer->Print("KDFS UUID", _r.uuid);
    printer->EndObject();
}

void UnresolvedKdfsVolumeImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Unresolved KDFS Volume");
    printer->BeginObject();
    printer->Print("KDFS UUID", _r.uuid);
    printer->Print("KDFS Label", _r.label);
    printer->Print("Head Extent", GetHeadExtent());
    printer->Print("Total Size", GetTotalSize(), false, "bytes");
    printer->Print("Extent Status", GetExtentStatus());
    {
        TarnCtl::Lib::ObjectPrinter::VectorPrinterHelper list("Extents", printer);
        for (const auto& e : _r.extents) {
            UnresolvedKdfsExtentImpl extent(e);
            list.Print(&extent);
        }
    }
    printer->EndObject();
}

}  // namespace TarnCtl::Storage
