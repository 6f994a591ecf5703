// Reading the hardware profile sections (pci.cpp, hardware.cpp): typed
// members of a JSON object with a fallback when absent or of another type,
// and fixed-size text fields of kernel records.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include <rapidjson/document.h>

namespace TarnSim::HardwareJson {

using Value = rapidjson::Value;

inline const Value* Sub(const Value* o, const char* key) {
    if (!o || !o->IsObject()) return nullptr;
    auto it = o->FindMember(key);
    return it != o->MemberEnd() ? &it->value : nullptr;
}
inline std::string Str(const Value* o, const char* key, const char* fallback = "") {
    const Value* v = Sub(o, key);
    return v && v->IsString() ? v->GetString() : fallback;
}
inline int64_t Int(const Value* o, const char* key, int64_t fallback = 0) {
    const Value* v = Sub(o, key);
    return v && v->IsInt64() ? v->GetInt64() : fallback;
}
inline bool Bool(const Value* o, const char* key, bool fallback = false) {
    const Value* v = Sub(o, key);
    return v && v->IsBool() ? v->GetBool() : fallback;
}
// Copies `text` into a NUL-padded field, cut to leave the final NUL.
inline void CopyText(char* out, size_t size, const std::string& text) {
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min(text.size(), size - 1));
}

}  // namespace TarnSim::HardwareJson
