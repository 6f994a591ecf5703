// The host's file-system library: formats, spans, grows, renames and upgrades
// disk file-system volumes, reads the volume headers on partitions, reports
// which hosts hold a volume open, and reserves or resets disks. The library
// reaches it only through the TarnfsLib_ entries below; what answers them is
// a Backend (the one registered at load time, the simulation here; tests
// wrap it to inject failures). Every entry returns a kernel status (0 success); the caller puts
// TARN_ReturnStatusToString of a failure into its own message. Backends are
// safe for concurrent use.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "hostctl/status.h"

// What a format passes (devicePath is "/kdfs/devices/disks/<device>:<n>").
struct TarnfsCreateRecord {
    std::string devicePath;
    std::string createType;  // "kdfs3", "kdfs5", "kdfs6", "kdfs6l", "kdfsl"
    std::string label;
    uint64_t blockSize = 0;
    uint32_t count = 0;
    uint32_t options = 0;    // bit 32 (0x20): the caller's flag
    bool hasUnmap = false;
    uint32_t unmapGranularity = 0;
    uint32_t unmapPriority = 0;
};

struct TarnfsCreateResult {
    uint8_t uuid[16] = {};
};

// Space-reclaim settings of a volume.
struct TarnfsUnmapProperty {
    uint32_t granularity = 0;  // bytes
    std::string priority;      // "none", "low", "medium", "high"
    std::string method;        // "priority" or "fixed"
    uint32_t bandwidth = 0;    // MB/s for "fixed"
};

// One host's heartbeat slot on a volume.
struct TarnfsHeartbeat {
    std::string hostUuid;
    uint32_t state = 0;  // 0 free, 1 live
    int64_t stampUS = 0;
};

// The volume header found on a partition.
struct TarnfsDeviceProperties {
    bool hasKdfs = false;
    uint8_t uuid[16] = {};
    std::string label;
    std::string lvmName;
    uint32_t extentIndex = 0;
    uint32_t extentCount = 0;       // extents the volume had when this header was written
    std::string formattedDevice;    // the device the extent was written on
    uint64_t startSector = 0, endSector = 0;
    std::string createType;
    uint32_t majorVersion = 0, minorVersion = 0;
    uint64_t blockSize = 0;
};

namespace Platform::Tarnfs {

class Backend {
public:
    virtual ~Backend() = default;
    virtual TARN_ReturnStatus Init() = 0;
    virtual TARN_ReturnStatus CreateFS(const TarnfsCreateRecord& record, TarnfsCreateResult* result,
                                       char* errorBuffer /* 512 bytes */) = 0;
    virtual TARN_ReturnStatus SpanFS(const std::string& volumePath, const std::string& extentPath) = 0;
    virtual TARN_ReturnStatus GrowFS(const std::string& volumePath, const std::string& extentPath) = 0;
    virtual TARN_ReturnStatus SetFSName(const std::string& volumePath, const std::string& label) = 0;
    virtual TARN_ReturnStatus UpgradeFS(const std::string& volumePath) = 0;
    virtual TARN_ReturnStatus ConfigATSOnly(const std::string& headPath, bool enable) = 0;
    virtual TARN_ReturnStatus GetFSUnmapProperty(const std::string& headPath, TarnfsUnmapProperty* out) = 0;
    virtual TARN_ReturnStatus SetFSUnmapProperty(const std::string& headPath,
                                                 const TarnfsUnmapProperty& property) = 0;
    virtual TARN_ReturnStatus GetVolUnmapCapability(const std::string& volumePath, bool* allDevicesSupport) = 0;
    virtual TARN_ReturnStatus InitAsyncUnmapVolume(const std::string& volumePath, uint32_t reclaimUnit,
                                                   uint64_t* handle) = 0;
    virtual TARN_ReturnStatus PerformAsyncUnmapVolume(uint64_t handle, uint64_t* blocksReclaimed) = 0;
    virtual TARN_ReturnStatus EndAsyncUnmapVolume(uint64_t handle) = 0;
    virtual TARN_ReturnStatus CheckForExistingFS(const std::string& devicePath, uint32_t flags,
                                                 std::vector<TarnfsHeartbeat>* heartbeats) = 0;
    virtual TARN_ReturnStatus ScanAdapter(const std::string& adapter /* "" for all */) = 0;
    virtual TARN_ReturnStatus ReserveDisk(const std::string& device, const std::string& operation) = 0;
    virtual TARN_ReturnStatus GetKDFSVersion(const std::string& volumePath, uint32_t* major, uint32_t* minor) = 0;
    virtual TARN_ReturnStatus GetDeviceProperties(const std::string& devicePath, TarnfsDeviceProperties* out) = 0;
    virtual TARN_ReturnStatus GetKDFSHostUUID(std::string* uuid) = 0;
    virtual TARN_ReturnStatus RescanDevices(const std::string& device /* "" for all */) = 0;
    virtual TARN_ReturnStatus GetClusteredVMDKVol(const std::string& volumePath, bool* enabled) = 0;
    virtual TARN_ReturnStatus SetClusteredVMDKVol(const std::string& volumePath, bool enabled) = 0;
    virtual TARN_ReturnStatus SetClusteredVMDKState(const std::string& volumePath, uint32_t state) = 0;
};

// The process-wide backend: the registered one unless replaced.
Backend& GetBackend();
// Replaces the backend (null: back to the registered one); returns the
// previous one (never null).
Backend* SetBackend(Backend* backend);
// Called once at load time by the component that answers the entries.
void RegisterDefaultBackend(Backend* backend);

// Forwards every call to a target; a test overrides the calls it cares about.
class BackendWrapper : public Backend {
public:
    explicit BackendWrapper(Backend* target) : _t(target) {}
    TARN_ReturnStatus Init() override { return _t->Init(); }
    TARN_ReturnStatus CreateFS(const TarnfsCreateRecord& r, TarnfsCreateResult* o, char* e) override {
        return _t->CreateFS(r, o, e);
    }
    TARN_ReturnStatus SpanFS(const std::string& v, const std::string& x) override { return _t->SpanFS(v, x); }
    TARN_ReturnStatus GrowFS(const std::string& v, const std::string& x) override { return _t->GrowFS(v, x); }
    TARN_ReturnStatus SetFSName(const std::string& v, const std::string& l) override { return _t->SetFSName(v, l); }
    TARN_ReturnStatus UpgradeFS(const std::string& v) override { return _t->UpgradeFS(v); }
    TARN_ReturnStatus ConfigATSOnly(const std::string& h, bool e) override { return _t->ConfigATSOnly(h, e); }
    TARN_ReturnStatus GetFSUnmapProperty(const std::string& h, TarnfsUnmapProperty* p) override {
        return _t->GetFSUnmapProperty(h, p);
    }
    TARN_ReturnStatus SetFSUnmapProperty(const std::string& h, const TarnfsUnmapProperty& p) override {
        return _t->SetFSUnmapProperty(h, p);
    }
    TARN_ReturnStatus GetVolUnmapCapability(const std::string& v, bool* a) override {
        return _t->GetVolUnmapCapability(v, a);
    }
    TARN_ReturnStatus InitAsyncUnmapVolume(const std::string& v, uint32_t u, uint64_t* h) override {
        return _t->InitAsyncUnmapVolume(v, u, h);
    }
    TARN_ReturnStatus PerformAsyncUnmapVolume(uint64_t h, uint64_t* b) override {
        return _t->PerformAsyncUnmapVolume(h, b);
    }
    TARN_ReturnStatus EndAsyncUnmapVolume(uint64_t h) override { return _t->EndAsyncUnmapVolume(h); }
    TARN_ReturnStatus CheckForExistingFS(const std::string& d, uint32_t f, std::vector<TarnfsHeartbeat>* h) override {
        return _t->CheckForExistingFS(d, f, h);
    }
    TARN_ReturnStatus ScanAdapter(const std::string& a) override { return _t->ScanAdapter(a); }
    TARN_ReturnStatus ReserveDisk(const std::string& d, const std::string& o) override { return _t->ReserveDisk(d, o); }
    TARN_ReturnStatus GetKDFSVersion(const std::string& v, uint32_t* a, uint32_t* b) override {
        return _t->GetKDFSVersion(v, a, b);
    }
    TARN_ReturnStatus GetDeviceProperties(const std::string& d, TarnfsDeviceProperties* o) override {
        return _t->GetDeviceProperties(d, o);
    }
    TARN_ReturnStatus GetKDFSHostUUID(std::string* u) override { return _t->GetKDFSHostUUID(u); }
    TARN_ReturnStatus RescanDevices(const std::string& d) override { return _t->RescanDevices(d); }
    TARN_ReturnStatus GetClusteredVMDKVol(const std::string& v, bool* e) override {
        return _t->GetClusteredVMDKVol(v, e);
    }
    TARN_ReturnStatus SetClusteredVMDKVol(const std::string& v, bool e) override {
        return _t->SetClusteredVMDKVol(v, e);
    }
    TARN_ReturnStatus SetClusteredVMDKState(const std::string& v, uint32_t s) override {
        return _t->SetClusteredVMDKState(v, s);
    }

protected:
    Backend* _t;
};

}  // namespace Platform::Tarnfs

// The library's entries, as the host's file-system library names them.
TARN_ReturnStatus TarnfsLib_Init();
TARN_ReturnStatus TarnfsLib_CreateFS(const TarnfsCreateRecord& record, TarnfsCreateResult* result,
                                     char* errorBuffer);
TARN_ReturnStatus TarnfsLib_SpanFS(const std::string& volumePath, const std::string& extentPath);
TARN_ReturnStatus TarnfsLib_GrowFS(const std::string& volumePath, const std::string& extentPath);
TARN_ReturnStatus TarnfsLib_SetFSName(const std::string& volumePath, const std::string& label);
TARN_ReturnStatus TarnfsLib_UpgradeFS(const std::string& volumePath);
TARN_ReturnStatus TarnfsLib_ConfigATSOnly(const std::string& headPath, bool enable);
TARN_ReturnStatus TarnfsLib_GetFSUnmapProperty(const std::string& headPath, TarnfsUnmapProperty* out);
TARN_ReturnStatus TarnfsLib_SetFSUnmapProperty(const std::string& headPath, const TarnfsUnmapProperty& property);
TARN_ReturnStatus TarnfsLib_GetVolUnmapCapability(const std::string& volumePath, bool* allDevicesSupport);
TARN_ReturnStatus TarnfsLib_InitAsyncUnmapVolume(const std::string& volumePath, uint32_t reclaimUnit,
                                                 uint64_t* handle);
TARN_ReturnStatus TarnfsLib_PerformAsyncUnmapVolume(uint64_t handle, uint64_t* blocksReclaimed);
TARN_ReturnStatus TarnfsLib_EndAsyncUnmapVolume(uint64_t handle);
TARN_ReturnStatus TarnfsLib_CheckForExistingFS(const std::string& devicePath, uint32_t flags,
                                               std::vector<TarnfsHeartbeat>* heartbeats);
TARN_ReturnStatus TarnfsLib_ScanAdapter(const std::string& adapter);
TARN_ReturnStatus TarnfsLib_ReserveDisk(const std::string& device, const std::string& operation);
TARN_ReturnStatus TarnfsLib_GetKDFSVersion(const std::string& volumePath, uint32_t* major, uint32_t* minor);
TARN_ReturnStatus TarnfsLibKSI_GetDeviceProperties(const std::string& devicePath, TarnfsDeviceProperties* out);
TARN_ReturnStatus TarnfsLibKSI_GetKDFSHostUUID(std::string* uuid);
TARN_ReturnStatus TarnfsLibKSI_RescanDevices(const std::string& device);
TARN_ReturnStatus TarnfsLib_GetClusteredVMDKVol(const std::string& volumePath, bool* enabled);
TARN_ReturnStatus TarnfsLib_SetClusteredVMDKVol(const std::string& volumePath, bool enabled);
TARN_ReturnStatus TarnfsLib_SetClusteredVMDKState(const std::string& volumePath, uint32_t state);
