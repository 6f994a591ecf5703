// The two process-wide caches of unresolved volumes and the scope guard that
// enables them around a batch of storage queries.
#include <mutex>

#include "lib/cache.h"
#include "platform/log.h"
#include "storage/storage_info_impl.h"

namespace TarnCtl::Storage {

using VolumeList = std::vector<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>>;

namespace {
// Who computes the lists; tests put a counting producer here. Set before any
// storage query runs, read under each cache's mutex.
VolumeList (*gProducer)(bool snapshots) = ListUnresolvedKdfsVolumes;
}  // namespace

void SetUnresolvedVolumeProducer(VolumeList (*producer)(bool snapshots)) {
    gProducer = producer ? producer : ListUnresolvedKdfsVolumes;
}

namespace {

class UnresolvedKdfsVolumeCacheBase
    : public TarnCtl::Lib::TarnCtlCache<std::shared_ptr<HostCtl::Storage::UnresolvedKdfsVolume>> {
public:
    explicit UnresolvedKdfsVolumeCacheBase(bool snapshots) : _snapshots(snapshots) {}

protected:
    void _Populate(unsigned long key) override {
        _cache.erase(key);
        TarnCtl_LogInfoInt(_snapshots ? "%s: Getting list of UnresolvedKdfsVolume\n"
                                      : "%s: Getting list of UnresolvedKdfsVolume (NoSnapShot)\n",
                           "StorageInfo");
        _cache[key] = std::make_shared<VolumeList>(gProducer(_snapshots));
    }

private:
    bool _snapshots;
};

class UnresolvedKdfsVolumeCache : public UnresolvedKdfsVolumeCacheBase {
public:
    UnresolvedKdfsVolumeCache() : UnresolvedKdfsVolumeCacheBase(true) {}
    static UnresolvedKdfsVolumeCache& Instance() {
        static std::mutex creation;
        static UnresolvedKdfsVolumeCache* instance = nullptr;
        std::lock_guard<std::mutex> guard(creation);
        if (!instance)
            instance = new UnresolvedKdfsVolumeCache;
        return *instance;
    }
};

class UnresolvedKdfsVolumeNoSnapShotCache : public UnresolvedKdfsVolumeCacheBase {
public:
    UnresolvedKdfsVolumeNoSnapShotCache() : UnresolvedKdfsVolumeCacheBase(false) {}
    static UnresolvedKdfsVolumeNoSnapShotCache& Instance() {
        static std::mutex creation;
        static UnresolvedKdfsVolumeNoSnapShotCache* instance = nullptr;
        std::lock_guard<std::mutex> guard(creation);
        if (!instance)
            instance = new UnresolvedKdfsVolumeNoSnapShotCache;
        return *instance;
    }
};

}  // namespace

VolumeList CachedUnresolvedKdfsVolumes(bool snapshots) {
    UnresolvedKdfsVolumeCache::List cached;
    auto& cache = snapshots ? static_cast<UnresolvedKdfsVolumeCacheBase&>(UnresolvedKdfsVolumeCache::Instance())
                            : UnresolvedKdfsVolumeNoSnapShotCache::Instance();
    if (cache.Get(cached) && cached)
        return *cached;
    return gProducer(snapshots);
}

// Only copies are unresolved; unmounted originals are listed as volumes.
VolumeList StorageInfoImpl::GetUnresolvedVolumes() {
    VolumeList out;
    for (auto& v : CachedUnresolvedKdfsVolumes(true))
        if (v->IsSnapshot())
            out.push_back(v);
    return out;
}

}  // namespace TarnCtl::Storage

namespace HostCtl::Storage {

StorageInfoScopedCache::StorageInfoScopedCache(bool keep) : _keep(keep) {
    TarnCtl::Storage::UnresolvedKdfsVolumeCache::Instance().Enable();
    TarnCtl::Storage::UnresolvedKdfsVolumeNoSnapShotCache::Instance().Enable();
}

StorageInfoScopedCache::~StorageInfoScopedCache() {
    if (_keep)
        return;
    TarnCtl::Storage::UnresolvedKdfsVolumeCache::Instance().Disable();
    TarnCtl::Storage::UnresolvedKdfsVolumeNoSnapShotCache::Instance().Disable();
    if (_global) {
        TarnCtl::Storage::UnresolvedKdfsVolumeCache::Instance().SetGlobal(false);
        TarnCtl::Storage::UnresolvedKdfsVolumeNoSnapShotCache::Instance().SetGlobal(false);
    }
}

void StorageInfoScopedCache::EnableGlobal() {
    TarnCtl::Storage::UnresolvedKdfsVolumeCache::Instance().SetGlobal(true);
    TarnCtl::Storage::UnresolvedKdfsVolumeNoSnapShotCache::Instance().SetGlobal(true);
    _global = true;
}

}  // namespace HostCtl::Storage
