// The simulated kernel's advanced options: the "advanced" profile section fills
// one record per option under /config/intOpts and /config/strOpts (instance:
// branch, option) and one marker per branch under /config. Writes are checked
// as the kernel checks them: integers against their range, strings against
// their length and valid characters; a refusal changes nothing.
#include <cstring>
#include <string>

#include <rapidjson/document.h>

#include "hostctl/status.h"
#include "ksi/adv.h"
#include "platform/misc.h"
#include "sim/kernel.h"

namespace TarnSim {

namespace {

void CopyText(char* out, size_t size, const std::string& text) {
    std::memset(out, 0, size);
    std::memcpy(out, text.data(), std::min(text.size(), size - 1));
}

std::string Str(const rapidjson::Value& o, const char* key, const char* fallback = "") {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsString() ? it->value.GetString() : fallback;
}
int64_t Int(const rapidjson::Value& o, const char* key, int64_t fallback = 0) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsInt64() ? it->value.GetInt64() : fallback;
}
bool Bool(const rapidjson::Value& o, const char* key) {
    auto it = o.FindMember(key);
    return it != o.MemberEnd() && it->value.IsBool() && it->value.GetBool();
}

void FillCommon(const rapidjson::Value& o, uint8_t* hidden, char* description, size_t descSize,
                uint8_t* hostSpecific, uint8_t* reboot, uint8_t* maintenance) {
    *hidden = Bool(o, "hidden");
    CopyText(description, descSize, Str(o, "description"));
    *hostSpecific = Bool(o, "hostSpecific");
    std::string impact = Str(o, "impact", "none");
    *reboot = impact == "reboot";
    *maintenance = impact == "maintenance-mode";
}

void InitAdvanced(KernelState& state, const rapidjson::Value* section) {
    if (!section || !section->IsObject()) return;
    const Ksi::Adv::Branch marker{1};
    auto branches = section->FindMember("branches");
    if (branches != section->MemberEnd() && branches->value.IsArray())
        for (const auto& b : branches->value.GetArray())
            if (b.IsObject()) state.Put(KSI_NODE_config, {Str(b, "branch")}, marker);
    auto options = section->FindMember("options");
    if (options == section->MemberEnd() || !options->value.IsArray()) return;
    for (const auto& o : options->value.GetArray()) {
        if (!o.IsObject()) continue;
        std::string path = Str(o, "path");
        size_t slash = path.find('/');
        if (slash == std::string::npos || slash == 0 || slash + 1 == path.size()) continue;
        InstancePath instance{path.substr(0, slash), path.substr(slash + 1)};
        state.Put(KSI_NODE_config, {instance[0]}, marker);
        if (Str(o, "type") == "string") {
            Ksi::Adv::StrOption r{};
            std::string def = Str(o, "default");
            CopyText(r.defaultValue, sizeof(r.defaultValue), def);
            CopyText(r.validCharacters, sizeof(r.validCharacters), Str(o, "validCharacters"));
            CopyText(r.currentValue, sizeof(r.currentValue), def);
            FillCommon(o, &r.hidden, r.description, sizeof(r.description), &r.hostSpecific,
                       &r.rebootRequired, &r.maintenanceModeRequired);
            state.Put(KSI_NODE_config_strOpts, instance, r);
        } else {
            Ksi::Adv::IntOption r{};
            r.defaultValue = Int(o, "default");
            r.minimum = Int(o, "min", INT64_MIN);
            r.maximum = Int(o, "max", INT64_MAX);
            r.currentValue = r.defaultValue;
            FillCommon(o, &r.hidden, r.description, sizeof(r.description), &r.hostSpecific,
                       &r.rebootRequired, &r.maintenanceModeRequired);
            state.Put(KSI_NODE_config_intOpts, instance, r);
            if (int64_t step = Int(o, "step"); step > 1)
                state.SetAreaValue("advanced", "step/" + path, std::to_string(step));
        }
    }
}

TARN_ReturnStatus SetInt(Call& c) {
    Ksi::Adv::IntOption r{};
    if (c.instance.size() != 2 || !c.state.Read(c.node, c.instance, &r)) return TARN_NOT_FOUND;
    int64_t v = 0;
    if (!c.InputInt(0, &v)) return TARN_BAD_PARAM;
    if (v < r.minimum || v > r.maximum) {
        RaiseEvent(HostCtl::Misc::StrPrintf("Value %ld for option /%s/%s is outside the range [%ld, %ld]",
                                            static_cast<long>(v), c.instance[0].c_str(),
                                            c.instance[1].c_str(), static_cast<long>(r.minimum),
                                            static_cast<long>(r.maximum)));
        return TARN_BAD_PARAM;
    }
    // Options with a granularity ("step" in the profile) keep the value rounded
    // down to it from the minimum, as the kernel's allocators do; the record
    // then holds the value set, which is what the caller reads back.
    const std::string step = c.state.GetAreaValue("advanced", "step/" + c.instance[0] + "/" + c.instance[1]);
    if (!step.empty()) {
        const int64_t n = std::stoll(step);
        v -= (v - r.minimum) % n;
    }
    r.currentValue = v;
    c.state.Put(c.node, c.instance, r);
    return TARN_OK;
}

TARN_ReturnStatus SetStr(Call& c) {
    Ksi::Adv::StrOption r{};
    if (c.instance.size() != 2 || !c.state.Read(c.node, c.instance, &r)) return TARN_NOT_FOUND;
    std::string v;
    if (!c.InputText(0, &v)) return TARN_BAD_PARAM;
    if (v.size() >= sizeof(r.currentValue)) {
        RaiseEvent(HostCtl::Misc::StrPrintf("Value for option /%s/%s is longer than %zu characters",
                                            c.instance[0].c_str(), c.instance[1].c_str(),
                                            sizeof(r.currentValue) - 1));
        return TARN_BAD_PARAM;
    }
    std::string valid(r.validCharacters, strnlen(r.validCharacters, sizeof(r.validCharacters)));
    for (char ch : v) {
        bool ok = valid.empty() ? (ch >= 0x20 && ch < 0x7f) : valid.find(ch) != std::string::npos;
        if (!ok) {
            RaiseEvent(HostCtl::Misc::StrPrintf("Invalid character 0x%02x in value for option /%s/%s",
                                                static_cast<unsigned char>(ch), c.instance[0].c_str(),
                                                c.instance[1].c_str()));
            return TARN_BAD_PARAM;
        }
    }
    CopyText(r.currentValue, sizeof(r.currentValue), v);
    c.state.Put(c.node, c.instance, r);
    return TARN_OK;
}

// Records are the kernel's own: nobody overwrites one wholesale.
TARN_ReturnStatus RefuseStruct(Call&, const void*, unsigned int) { return TARN_NOT_SUPPORTED; }

Area AdvArea() {
    Area a;
    a.name = "advanced";
    a.order = 30;
    a.init = InitAdvanced;
    return a;
}

NodeHandler OptionNode(SetFn set) {
    NodeHandler h;
    h.set = std::move(set);
    h.setStruct = RefuseStruct;
    return h;
}

// Applying the module options given at boot: the simulated modules take them
// as they are; the kernel counts the applications for inspection.
NodeHandler ModuleOptionsNode() {
    NodeHandler h;
    h.set = [](Call& c) {
        long n = std::stol(c.state.GetAreaValue("advanced", "moduleOptionsApplied", "0"));
        c.state.SetAreaValue("advanced", "moduleOptionsApplied", std::to_string(n + 1));
        return TARN_OK;
    };
    return h;
}

const AreaRegistration advArea(AdvArea());
const NodeRegistration intNode(KSI_NODE_config_intOpts, OptionNode(SetInt));
const NodeRegistration strNode(KSI_NODE_config_strOpts, OptionNode(SetStr));
const NodeRegistration moduleOpts(KSI_NODE_system_bootModuleAdvConfigOpts, ModuleOptionsNode());

}  // namespace

}  // namespace TarnSim
