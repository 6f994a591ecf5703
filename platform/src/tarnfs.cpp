// The file-system library entries: each forwards to the process-wide backend:
// the one that registered itself (the simulation) unless a test put another in
// its place.
#include "platform/tarnfs.h"

#include <atomic>

namespace Platform::Tarnfs {

namespace {

// Answers when no file-system library registered itself: every call fails.
class NoLibrary : public Backend {
public:
    TARN_ReturnStatus Init() override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus CreateFS(const TarnfsCreateRecord&, TarnfsCreateResult*, char* e) override {
        if (e)
            e[0] = '\0';
        return TARN_NOT_SUPPORTED;
    }
    TARN_ReturnStatus SpanFS(const std::string&, const std::string&) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus GrowFS(const std::string&, const std::string&) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus SetFSName(const std::string&, const std::string&) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus UpgradeFS(const std::string&) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus ConfigATSOnly(const std::string&, bool) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus GetFSUnmapProperty(const std::string&, TarnfsUnmapProperty*) override {
        return TARN_NOT_SUPPORTED;
    }
    TARN_ReturnStatus SetFSUnmapProperty(const std::string&, const TarnfsUnmapProperty&) override {
        return TARN_NOT_SUPPORTED;
    }
    TARN_ReturnStatus GetVolUnmapCapability(const std::string&, bool*) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus InitAsyncUnmapVolume(const std::string&, uint32_t, uint64_t*) override {
        return TARN_NOT_SUPPORTED;
    }
    TARN_ReturnStatus PerformAsyncUnmapVolume(uint64_t, uint64_t*) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus EndAsyncUnmapVolume(uint64_t) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus CheckForExistingFS(const std::string&, uint32_t, std::vector<TarnfsHeartbeat>*) override {
        return TARN_NOT_SUPPORTED;
    }
    TARN_ReturnStatus ScanAdapter(const std::string&) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus ReserveDisk(const std::string&, const std::string&) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus GetKDFSVersion(const std::string&, uint32_t*, uint32_t*) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus GetDeviceProperties(const std::string&, TarnfsDeviceProperties*) override {
        return TARN_NOT_SUPPORTED;
    }
    TARN_ReturnStatus GetKDFSHostUUID(std::string*) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus RescanDevices(const std::string&) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus GetClusteredVMDKVol(const std::string&, bool*) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus SetClusteredVMDKVol(const std::string&, bool) override { return TARN_NOT_SUPPORTED; }
    TARN_ReturnStatus SetClusteredVMDKState(const std::string&, uint32_t) override { return TARN_NOT_SUPPORTED; }
};

// Both are set at load time or by tests; readers only load them.
std::atomic<Backend*> gDefault{nullptr};
std::atomic<Backend*> gOverride{nullptr};

Backend& Effective(Backend* b) {
    static NoLibrary* none = new NoLibrary;
    return b ? *b : *none;
}

}  // namespace

Backend& GetBackend() {
    Backend* b = gOverride.load(std::memory_order_acquire);
    return b ? *b : Effective(gDefault.load(std::memory_order_acquire));
}

Backend* SetBackend(Backend* backend) {
    Backend* prev = gOverride.exchange(backend, std::memory_order_acq_rel);
    return prev ? prev : &Effective(gDefault.load(std::memory_order_acquire));
}

void RegisterDefaultBackend(Backend* backend) {
    gDefault.store(backend, std::memory_order_release);
}

}  // namespace Platform::Tarnfs

using Platform::Tarnfs::GetBackend;

TARN_ReturnStatus TarnfsLib_Init() { return GetBackend().Init(); }
TARN_ReturnStatus TarnfsLib_CreateFS(const TarnfsCreateRecord& r, TarnfsCreateResult* o, char* e) {
    return GetBackend().CreateFS(r, o, e);
}
TARN_ReturnStatus TarnfsLib_SpanFS(const std::string& v, const std::string& x) { return GetBackend().SpanFS(v, x); }
TARN_ReturnStatus TarnfsLib_GrowFS(const std::string& v, const std::string& x) { return GetBackend().GrowFS(v, x); }
TARN_ReturnStatus TarnfsLib_SetFSName(const std::string& v, const std::string& l) {
    return GetBackend().SetFSName(v, l);
}
TARN_ReturnStatus TarnfsLib_UpgradeFS(const std::string& v) { return GetBackend().UpgradeFS(v); }
TARN_ReturnStatus TarnfsLib_ConfigATSOnly(const std::string& h, bool e) { return GetBackend().ConfigATSOnly(h, e); }
TARN_ReturnStatus TarnfsLib_GetFSUnmapProperty(const std::string& h, TarnfsUnmapProperty* p) {
    return GetBackend().GetFSUnmapProperty(h, p);
}
TARN_ReturnStatus TarnfsLib_SetFSUnmapProperty(const std::string& h, const TarnfsUnmapProperty& p) {
    return GetBackend().SetFSUnmapProperty(h, p);
}
TARN_ReturnStatus TarnfsLib_GetVolUnmapCapability(const std::string& v, bool* a) {
    return GetBackend().GetVolUnmapCapability(v, a);
}
TARN_ReturnStatus TarnfsLib_InitAsyncUnmapVolume(const std::string& v, uint32_t u, uint64_t* h) {
    return GetBackend().InitAsyncUnmapVolume(v, u, h);
}
TARN_ReturnStatus TarnfsLib_PerformAsyncUnmapVolume(uint64_t h, uint64_t* b) {
    return GetBackend().PerformAsyncUnmapVolume(h, b);
}
TARN_ReturnStatus TarnfsLib_EndAsyncUnmapVolume(uint64_t h) { return GetBackend().EndAsyncUnmapVolume(h); }
TARN_ReturnStatus TarnfsLib_CheckForExistingFS(const std::string& d, uint32_t f, std::vector<TarnfsHeartbeat>* h) {
    return GetBackend().CheckForExistingFS(d, f, h);
}
TARN_ReturnStatus TarnfsLib_ScanAdapter(const std::string& a) { return GetBackend().ScanAdapter(a); }
TARN_ReturnStatus TarnfsLib_ReserveDisk(const std::string& d, const std::string& o) {
    return GetBackend().ReserveDisk(d, o);
}
TARN_ReturnStatus TarnfsLib_GetKDFSVersion(const std::string& v, uint32_t* a, uint32_t* b) {
    return GetBackend().GetKDFSVersion(v, a, b);
}
TARN_ReturnStatus TarnfsLibKSI_GetDeviceProperties(const std::string& d, TarnfsDeviceProperties* o) {
    return GetBackend().GetDeviceProperties(d, o);
}
TARN_ReturnStatus TarnfsLibKSI_GetKDFSHostUUID(std::string* u) { return GetBackend().GetKDFSHostUUID(u); }
TARN_ReturnStatus TarnfsLibKSI_RescanDevices(const std::string& d) { return GetBackend().RescanDevices(d); }
TARN_ReturnStatus TarnfsLib_GetClusteredVMDKVol(const std::string& v, bool* e) {
    return GetBackend().GetClusteredVMDKVol(v, e);
}
TARN_ReturnStatus TarnfsLib_SetClusteredVMDKVol(const std::string& v, bool e) {
    return GetBackend().SetClusteredVMDKVol(v, e);
}
TARN_ReturnStatus TarnfsLib_SetClusteredVMDKState(const std::string& v, uint32_t s) {
    return GetBackend().SetClusteredVMDKState(v, s);
}
