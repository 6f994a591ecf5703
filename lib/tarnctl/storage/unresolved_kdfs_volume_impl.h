// Volumes found on disk but not mounted: the scan of every disk partition
// through the file-system library, grouped into volumes by UUID and
// logical-volume name. A group whose extents sit on devices other than the
// ones they were written on is a copy (snapshot) that must be resolved.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/storage_volumes.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Storage {

struct KdfsExtentRecord {
    std::string device;
    uint32_t partition = 0;
    uint32_t index = 0;
    uint32_t count = 0;  // extents the volume had when the header was written
    uint64_t start = 0, end = 0;
    std::string uuid;
    std::string formattedDevice;
    std::string Name() const { return device + ":" + std::to_string(partition); }
};

struct KdfsVolumeRecord {
    std::string uuid, label, lvm, type;
    uint32_t major = 0, minor = 0;
    uint64_t blockSize = 0;
    bool snapshot = false;
    std::vector<KdfsExtentRecord> extents;  // by index
};

class UnresolvedKdfsExtentImpl : public virtual HostCtl::Storage::UnresolvedKdfsExtent,
                                 public virtual TarnCtl::Lib::TarnCtlObject {
public:
    explicit UnresolvedKdfsExtentImpl(KdfsExtentRecord r) : _r(std::move(r)) {}
    void Refresh() override {}
    std::string GetName() const override { return _r.Name(); }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;
    std::string GetDeviceName() override { return _r.device; }
    uint32_t GetPartition() override { return _r.partition; }
    uint32_t GetKdfsExtentIndex() override { return _r.index; }
    uint64_t GetStart() override { return _r.start; }
    uint64_t GetEnd() override { return _r.end; }
    std::string GetKdfsUuid() override { return _r.uuid; }

private:
    KdfsExtentRecord _r;
};

class UnresolvedKdfsVolumeImpl : public virtual HostCtl::Storage::UnresolvedKdfsVolume,
                                 public virtual TarnCtl::Lib::TarnCtlObject {
public:
    explicit UnresolvedKdfsVolumeImpl(KdfsVolumeRecord r) : _r(std::move(r)) {}

    void Refresh() override {}
    std::string GetName() const override { return _r.label.empty() ? _r.uuid : _r.label; }
    // Boot: force-mounts this volume again when it was recorded so.
    void LoadConfig() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::string GetKdfsUuid() override { return _r.uuid; }
    std::string GetKdfsLabel() override { return _r.label; }
    std::string GetLvmName() override { return _r.lvm; }
    std::string GetHeadExtent() override;
    uint64_t GetTotalSize() override;
    std::string GetVolumeType() override { return _r.type; }
    bool IsSnapshot() override { return _r.snapshot; }
    std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsExtent>> GetExtents() override;
    std::string GetExtentStatus() override;
    bool CanResolve(bool checkSource, bool checkInUse, ResolveError* error) override;
    std::string ResolveVolume() override;
    void ForceMountKdfs(bool persistent, bool readOnly) override;

    const KdfsVolumeRecord& Record() const { return _r; }
    std::vector<std::string> ExtentNames() const;

    // Every unmounted volume on the host's disks; with `snapshots` false the
    // copies are left out.
    static std::vector<std::shared_ptr<UnresolvedKdfsVolumeImpl>> Scan(bool snapshots);
    // Boot: force-mounts every recorded snapshot volume whose extents are all present.
    static void RestoreForceMounted();

private:
    // The extent-set check alone.
    ResolveError CheckExtents() const;

    KdfsVolumeRecord _r;
};

}  // namespace TarnCtl::Storage
