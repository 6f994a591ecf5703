// Hardware profiles and the simulated host's life cycle: first boot of a fresh
// host root from the built-in profile, `sim init` from a profile file, reboot
// (kernel reset plus the boot sequence) and synthetic profile generation. Also
// holds the "host" area: the machine's identity, which other areas may read.
#include <rapidjson/document.h>
#include <rapidjson/error/en.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include "core_internal.h"
#include "hostctl/exception.h"
#include "platform/boot.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "sim/processes.h"
#include "sim/profile.h"

namespace TarnSim::Generated {
// Written at build time from sim/profiles/default/*.json.
extern const char* const kDefaultProfile;
}

namespace TarnSim {

namespace {

constexpr const char* kProfileCopy = "/var/lib/tarnsim/profile.json";

void Parse(rapidjson::Document& doc, const std::string& json) {
    doc.Parse(json.c_str(), json.size());
    if (doc.HasParseError())
        throw HostCtl::Lib::HostCtlException(HostCtl::Misc::StrPrintf(
            "Invalid profile: %s at offset %zu", rapidjson::GetParseError_En(doc.GetParseError()),
            doc.GetErrorOffset()));
    if (!doc.IsObject())
        throw HostCtl::Lib::HostCtlException("Invalid profile: the top level must be a JSON object");
}

std::string JsonText(const rapidjson::Value& v) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    v.Accept(w);
    return sb.GetString();
}

// The "host" area: identity of the simulated machine, kept as area values
// ("host"/"name", ...) for the domains that report it.
const AreaRegistration hostArea({
    .name = "host",
    .order = 0,
    .init =
        [](KernelState& state, const rapidjson::Value* section) {
            static const std::pair<const char*, const char*> defaults[] = {
                {"name", "tarnhost"},   {"domain", "localdomain"},
                {"uuid", "4c4c4544-0042-3510-8052-b4c04f4d3232"},
                {"version", "8.0.0"},   {"build", "1"},
                {"vendor", "Tarn Simulated"}, {"model", "Simulated Host"},
            };
            for (const auto& [key, value] : defaults) {
                std::string v = value;
                if (section && section->IsObject() && section->HasMember(key)) {
                    const auto& m = (*section)[key];
                    v = m.IsString() ? m.GetString() : JsonText(m);
                }
                state.SetAreaValue("host", key, v);
            }
            // Anything else the profile says about the host is kept as JSON text.
            if (section && section->IsObject())
                for (auto it = section->MemberBegin(); it != section->MemberEnd(); ++it) {
                    std::string key = it->name.GetString();
                    if (!state.HasAreaValue("host", key))
                        state.SetAreaValue("host", key,
                                           it->value.IsString() ? it->value.GetString()
                                                                : JsonText(it->value));
                }
        },
    .generate =
        [](rapidjson::Value& out, rapidjson::Document::AllocatorType& alloc,
           const GenerateOptions& options) {
            out.SetObject();
            std::string name = "tarnhost-gen" + std::to_string(options.Get("seed", 1));
            out.AddMember("name", rapidjson::Value(name.c_str(), alloc), alloc);
            out.AddMember("domain", "localdomain", alloc);
            out.AddMember("version", "8.0.0", alloc);
        },
    .options = {{"seed", "number distinguishing generated hosts", 1}},
});

}  // namespace

void InitFromProfile(KernelState& state, const std::string& profileJson, bool keepFaults) {
    rapidjson::Document doc;
    Parse(doc, profileJson);
    state.data().Clear(keepFaults);
    for (const Area* area : Areas()) {
        if (!area->init)
            continue;
        const rapidjson::Value* section = nullptr;
        if (auto it = doc.FindMember(area->name.c_str()); it != doc.MemberEnd())
            section = &it->value;
        try {
            area->init(state, section);
        } catch (const std::exception& e) {
            // One broken area must not keep the rest of the machine from coming up.
            TarnCtl_LogErrorInt("%s: Area %s failed to initialise: %s\n", "TarnSim",
                                area->name.c_str(), e.what());
        }
    }
    state.data().dirty = true;
}

namespace Profile {

const std::string& DefaultProfile() {
    static const std::string text = Generated::kDefaultProfile;
    return text;
}

std::string CurrentProfile() {
    std::string text;
    if (HostCtl::Misc::ReadHostFile(kProfileCopy, &text) && !text.empty())
        return text;
    return DefaultProfile();
}

void ResetKernel(const std::string& profileJson, bool keepFaults) {
    {
        rapidjson::Document doc;
        Parse(doc, profileJson);  // refuse before anything changes
    }
    RunExclusive([&](KernelState& s) {
        InitFromProfile(s, profileJson, keepFaults);
    });
}

void InitHost(const std::string& profileJson) {
    rapidjson::Document doc;
    Parse(doc, profileJson);
    HostCtl::Misc::WriteHostFileAtomic(kProfileCopy, profileJson);
    ResetKernel(profileJson, false);
    HaldenConfigStore::ResetStore();
}

std::vector<Platform::Boot::Outcome> Reboot() {
    // The whole reboot is one boot: a process killed anywhere in it leaves no boot mode behind.
    Platform::Boot::BootSession session;
    Platform::Boot::EnterPhase("processes");
    EndAllProcesses();
    Platform::Boot::EnterPhase("kernel");
    ResetKernel(CurrentProfile(), true);
    std::vector<Platform::Boot::Outcome> outcomes = Platform::Boot::RunBoot();
    for (const auto& o : outcomes)
        if (!o.ok)
            TarnCtl_LogWarnInt("%s: Boot step %s failed: %s\n", "TarnSim", o.name.c_str(),
                               o.error.c_str());
    // Services come up once the configuration is restored, as the host's rc scripts do.
    Platform::Boot::EnterPhase("services");
    for (auto& o : StartEnabledServices())
        outcomes.push_back(std::move(o));
    Platform::Boot::EnterPhase("end");
    return outcomes;
}

std::string Generate(const GenerateOptions& options) {
    rapidjson::Document base;
    Parse(base, DefaultProfile());
    rapidjson::Document out;
    out.SetObject();
    auto& alloc = out.GetAllocator();
    for (const Area* area : Areas()) {
        rapidjson::Value section;
        if (area->generate) {
            area->generate(section, alloc, options);
        } else if (auto it = base.FindMember(area->name.c_str()); it != base.MemberEnd()) {
            section.CopyFrom(it->value, alloc);
        } else {
            continue;
        }
        out.AddMember(rapidjson::Value(area->name.c_str(), alloc), section, alloc);
    }
    // Sections of the default profile that no registered area claims stay as they are.
    for (auto it = base.MemberBegin(); it != base.MemberEnd(); ++it)
        if (!out.HasMember(it->name)) {
            rapidjson::Value v;
            v.CopyFrom(it->value, alloc);
            out.AddMember(rapidjson::Value(it->name, alloc), v, alloc);
        }
    rapidjson::StringBuffer sb;
    rapidjson::PrettyWriter<rapidjson::StringBuffer> w(sb);
    w.SetIndent(' ', 2);
    out.Accept(w);
    return std::string(sb.GetString()) + "\n";
}

}  // namespace Profile
}  // namespace TarnSim
