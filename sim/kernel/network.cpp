// The "network" profile section loader: one simulated area whose init and
// generator run every registered slice (network_model.h) in order.
// Slices register from static objects in other files, in any order; each
// registration re-registers the area so its generator flags stay complete.
#include <algorithm>
#include <mutex>

#include "network_model.h"

namespace TarnSim::Network {

namespace {

struct Parts {
    std::mutex mu;
    std::vector<SectionPart> list;
};
Parts& GetParts() {
    static Parts p;
    return p;
}

std::vector<SectionPart> Snapshot() {
    Parts& p = GetParts();
    std::lock_guard<std::mutex> g(p.mu);
    return p.list;
}

Area BuildArea() {
    Area area;
    area.name = "network";
    area.order = 30;
    area.init = [](KernelState& state, const rapidjson::Value* section) {
        const rapidjson::Value* network = section && section->IsObject() ? section : nullptr;
        for (const SectionPart& part : Snapshot())
            if (part.init) part.init(state, network);
    };
    area.generate = [](rapidjson::Value& out, Alloc& alloc, const GenerateOptions& options) {
        out.SetObject();
        for (const SectionPart& part : Snapshot())
            if (part.generate) part.generate(out, alloc, options);
    };
    for (const SectionPart& part : Snapshot())
        area.options.insert(area.options.end(), part.options.begin(), part.options.end());
    return area;
}

}  // namespace

void RegisterSectionPart(SectionPart part) {
    {
        Parts& p = GetParts();
        std::lock_guard<std::mutex> g(p.mu);
        p.list.push_back(std::move(part));
        std::stable_sort(p.list.begin(), p.list.end(), [](const SectionPart& a, const SectionPart& b) {
            return a.order != b.order ? a.order < b.order : a.name < b.name;
        });
    }
    RegisterArea(BuildArea());
}

std::string Str(const rapidjson::Value& o, const char* key, const char* fallback) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsString() ? it->value.GetString() : fallback;
}
int64_t Int(const rapidjson::Value& o, const char* key, int64_t fallback) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsInt64() ? it->value.GetInt64() : fallback;
}
bool Bool(const rapidjson::Value& o, const char* key, bool fallback) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsBool() ? it->value.GetBool() : fallback;
}
const rapidjson::Value* Array(const rapidjson::Value& o, const char* key) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsArray() ? &it->value : nullptr;
}
const rapidjson::Value* Object(const rapidjson::Value& o, const char* key) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsObject() ? &it->value : nullptr;
}

}  // namespace TarnSim::Network
