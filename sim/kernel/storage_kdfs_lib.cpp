// The file-system library as the simulated host answers it: each entry is one
// call of the library's private kernel module (so a failed entry changes
// nothing and `hostctl sim fault` can fail it), and each call is recorded,
// with its arguments and status, in /var/log/tarnfs.log under the host root.
#include <filesystem>
#include <fstream>

#include <rapidjson/document.h>

#include "hostctl/status.h"
#include "platform/hostroot.h"
#include "platform/misc.h"
#include "platform/sysinfo.h"
#include "platform/tarnfs.h"
#include "storage_kdfs.h"

namespace TarnSim {

namespace {

using namespace Kdfs;

void Record(const char* entry, const std::vector<std::string>& args, TARN_ReturnStatus status) {
    std::string line = std::string(entry) + "(";
    for (size_t i = 0; i < args.size(); ++i)
        line += (i ? ", " : "") + args[i];
    line += ") = " + HostCtl::Lib::StatusHex(status) + "\n";
    try {
        const std::string path = Platform::HostPath("/var/log/tarnfs.log");
        std::error_code ec;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
        std::ofstream(path, std::ios::app) << line;
    } catch (...) {
        // Recording never changes the outcome of a call.
    }
}

class SimTarnfs : public Platform::Tarnfs::Backend {
public:
    TARN_ReturnStatus Init() override { return Call("TarnfsLib_Init", kInit, {}); }

    TARN_ReturnStatus CreateFS(const TarnfsCreateRecord& r, TarnfsCreateResult* out, char* error) override {
        rapidjson::Document d;
        TARN_ReturnStatus st =
            Call("TarnfsLib_CreateFS", kCreateFS,
                 {r.devicePath, r.createType, r.label, std::to_string(r.blockSize), std::to_string(r.count),
                  std::to_string(r.options), std::to_string(r.hasUnmap ? r.unmapGranularity : 0),
                  std::to_string(r.hasUnmap ? r.unmapPriority : 0)},
                 &d);
        if (error) {
            std::string text = Text(d, "error");
            if (st != TARN_OK && text.empty())
                text = TARN_ReturnStatusToString(st);
            std::snprintf(error, 512, "%s", text.c_str());
        }
        if (st == TARN_OK && out) {
            const std::string hex = Text(d, "uuid");
            for (size_t i = 0; i < 16 && 2 * i + 1 < hex.size(); ++i)
                out->uuid[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        }
        return st;
    }
    TARN_ReturnStatus SpanFS(const std::string& v, const std::string& x) override {
        return Call("TarnfsLib_SpanFS", kSpanFS, {v, x});
    }
    TARN_ReturnStatus GrowFS(const std::string& v, const std::string& x) override {
        return Call("TarnfsLib_GrowFS", kGrowFS, {v, x});
    }
    TARN_ReturnStatus SetFSName(const std::string& v, const std::string& l) override {
        return Call("TarnfsLib_SetFSName", kSetFSName, {v, l});
    }
    TARN_ReturnStatus UpgradeFS(const std::string& v) override { return Call("TarnfsLib_UpgradeFS", kUpgradeFS, {v}); }
    TARN_ReturnStatus ConfigATSOnly(const std::string& h, bool e) override {
        return Call("TarnfsLib_ConfigATSOnly", kConfigATSOnly, {h, e ? "1" : "0"});
    }
    TARN_ReturnStatus GetFSUnmapProperty(const std::string& h, TarnfsUnmapProperty* p) override {
        rapidjson::Document d;
        TARN_ReturnStatus st = Call("TarnfsLib_GetFSUnmapProperty", kGetFSUnmapProperty, {h}, &d);
        if (st == TARN_OK && p) {
            p->granularity = static_cast<uint32_t>(Number(d, "granularity"));
            p->priority = Text(d, "priority");
            p->method = Text(d, "method");
            p->bandwidth = static_cast<uint32_t>(Number(d, "bandwidth"));
        }
        return st;
    }
    TARN_ReturnStatus SetFSUnmapProperty(const std::string& h, const TarnfsUnmapProperty& p) override {
        return Call("TarnfsLib_SetFSUnmapProperty", kSetFSUnmapProperty,
                    {h, std::to_string(p.granularity), p.priority, p.method, std::to_string(p.bandwidth)});
    }
    TARN_ReturnStatus GetVolUnmapCapability(const std::string& v, bool* all) override {
        rapidjson::Document d;
        TARN_ReturnStatus st = Call("TarnfsLib_GetVolUnmapCapability", kGetVolUnmapCapability, {v}, &d);
        if (st == TARN_OK && all)
            *all = d.HasMember("all") && d["all"].IsBool() && d["all"].GetBool();
        return st;
    }
    TARN_ReturnStatus InitAsyncUnmapVolume(const std::string& v, uint32_t unit, uint64_t* handle) override {
        rapidjson::Document d;
        TARN_ReturnStatus st = Call("TarnfsLib_InitAsyncUnmapVolume", kInitAsyncUnmap, {v, std::to_string(unit)}, &d);
        if (st == TARN_OK && handle)
            *handle = Number(d, "handle");
        return st;
    }
    TARN_ReturnStatus PerformAsyncUnmapVolume(uint64_t h, uint64_t* reclaimed) override {
        rapidjson::Document d;
        TARN_ReturnStatus st = Call("TarnfsLib_PerformAsyncUnmapVolume", kPerformAsyncUnmap, {std::to_string(h)}, &d);
        if (st == TARN_OK && reclaimed)
            *reclaimed = Number(d, "reclaimed");
        return st;
    }
    TARN_ReturnStatus EndAsyncUnmapVolume(uint64_t h) override {
        return Call("TarnfsLib_EndAsyncUnmapVolume", kEndAsyncUnmap, {std::to_string(h)});
    }
    TARN_ReturnStatus CheckForExistingFS(const std::string& dev, uint32_t flags,
                                         std::vector<TarnfsHeartbeat>* hb) override {
        rapidjson::Document d;
        TARN_ReturnStatus st =
            Call("TarnfsLib_CheckForExistingFS", kCheckForExistingFS, {dev, std::to_string(flags)}, &d);
        if (st == TARN_OK && hb) {
            hb->clear();
            if (d.HasMember("hb") && d["hb"].IsArray())
                for (const auto& b : d["hb"].GetArray())
                    hb->push_back({Text(b, "host"), static_cast<uint32_t>(Number(b, "state")),
                                   b.HasMember("stamp") && b["stamp"].IsInt64() ? b["stamp"].GetInt64() : 0});
        }
        return st;
    }
    TARN_ReturnStatus ScanAdapter(const std::string& a) override { return Call("TarnfsLib_ScanAdapter", kScanAdapter, {a}); }
    TARN_ReturnStatus ReserveDisk(const std::string& dev, const std::string& op) override {
        return Call("TarnfsLib_ReserveDisk", kReserveDisk, {dev, op});
    }
    TARN_ReturnStatus GetKDFSVersion(const std::string& v, uint32_t* major, uint32_t* minor) override {
        rapidjson::Document d;
        TARN_ReturnStatus st = Call("TarnfsLib_GetKDFSVersion", kGetKDFSVersion, {v}, &d);
        if (st == TARN_OK) {
            if (major)
                *major = static_cast<uint32_t>(Number(d, "major"));
            if (minor)
                *minor = static_cast<uint32_t>(Number(d, "minor"));
        }
        return st;
    }
    TARN_ReturnStatus GetDeviceProperties(const std::string& dev, TarnfsDeviceProperties* p) override {
        rapidjson::Document d;
        TARN_ReturnStatus st = Call("TarnfsLibKSI_GetDeviceProperties", kGetDeviceProperties, {dev}, &d);
        if (st != TARN_OK || !p)
            return st;
        *p = TarnfsDeviceProperties{};
        p->hasKdfs = d.HasMember("kdfs") && d["kdfs"].IsBool() && d["kdfs"].GetBool();
        if (!p->hasKdfs)
            return st;
        const std::string hex = Text(d, "uuid");
        for (size_t i = 0; i < 16 && 2 * i + 1 < hex.size(); ++i)
            p->uuid[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
        p->label = Text(d, "label");
        p->lvmName = Text(d, "lvm");
        p->extentIndex = static_cast<uint32_t>(Number(d, "index"));
        p->extentCount = static_cast<uint32_t>(Number(d, "count"));
        p->formattedDevice = Text(d, "device");
        p->startSector = Number(d, "start");
        p->endSector = Number(d, "end");
        p->createType = Text(d, "type");
        p->majorVersion = static_cast<uint32_t>(Number(d, "major"));
        p->minorVersion = static_cast<uint32_t>(Number(d, "minor"));
        p->blockSize = Number(d, "blockSize");
        return st;
    }
    TARN_ReturnStatus GetKDFSHostUUID(std::string* uuid) override {
        rapidjson::Document d;
        TARN_ReturnStatus st = Call("TarnfsLibKSI_GetKDFSHostUUID", kGetKDFSHostUUID, {}, &d);
        if (st == TARN_OK && uuid)
            *uuid = Text(d, "uuid");
        return st;
    }
    TARN_ReturnStatus RescanDevices(const std::string& dev) override {
        return Call("TarnfsLibKSI_RescanDevices", kRescanDevices, {dev});
    }
    TARN_ReturnStatus GetClusteredVMDKVol(const std::string& v, bool* enabled) override {
        rapidjson::Document d;
        TARN_ReturnStatus st = Call("TarnfsLib_GetClusteredVMDKVol", kGetClusteredVMDKVol, {v}, &d);
        if (st == TARN_OK && enabled)
            *enabled = d.HasMember("enabled") && d["enabled"].IsBool() && d["enabled"].GetBool();
        return st;
    }
    TARN_ReturnStatus SetClusteredVMDKVol(const std::string& v, bool enabled) override {
        return Call("TarnfsLib_SetClusteredVMDKVol", kSetClusteredVMDKVol, {v, enabled ? "1" : "0"});
    }
    TARN_ReturnStatus SetClusteredVMDKState(const std::string& v, uint32_t state) override {
        return Call("TarnfsLib_SetClusteredVMDKState", kSetClusteredVMDKState, {v, std::to_string(state)});
    }

private:
    static std::string Text(const rapidjson::Value& d, const char* key) {
        return d.IsObject() && d.HasMember(key) && d[key].IsString() ? d[key].GetString() : "";
    }
    static uint64_t Number(const rapidjson::Value& d, const char* key) {
        return d.IsObject() && d.HasMember(key) && d[key].IsUint64() ? d[key].GetUint64() : 0;
    }

    TARN_ReturnStatus Call(const char* name, Entry entry, const std::vector<std::string>& args,
                           rapidjson::Document* reply = nullptr) {
        std::vector<KSI_Param> inputs;
        for (const auto& a : args) {
            KSI_Param p;
            p.text = a;
            inputs.push_back(std::move(p));
        }
        std::vector<char> buffer(kReplySize, '\0');
        TARN_ReturnStatus st =
            Platform::Kernel::GetBackend().Get(kLibModule, entry, {}, inputs, buffer.data(), kReplySize);
        Record(name, args, st);
        if (reply)
            reply->Parse(buffer.data());
        return st;
    }
};

}  // namespace

Platform::Tarnfs::Backend& SimTarnfsBackend() {
    static SimTarnfs* b = new SimTarnfs;
    return *b;
}

namespace {
// The simulation answers the file-system library as soon as it is loaded.
const bool gRegistered = (Platform::Tarnfs::RegisterDefaultBackend(&SimTarnfsBackend()), true);
}  // namespace

}  // namespace TarnSim
