// The option languages of the native multipathing plug-in. The SATP token
// table and the PSP key rules are the plug-in's; texts are kept as it prints
// them.
#include "storage/nmp_options.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "hostctl/exception.h"
#include "platform/log.h"
#include "platform/misc.h"

namespace TarnCtl::Storage::Nmp {

using HostCtl::Lib::HostCtlException;

namespace {

struct TokenRow {
    const char* token;
    const char* field;
    bool value;
};
const TokenRow kSatpTokens[] = {
    {"action_OnRetryErrors=on", "action_on_retry", true},
    {"enable_action_OnRetryErrors", "action_on_retry", true},
    {"action_OnRetryErrors=off", "action_on_retry", false},
    {"disable_action_OnRetryErrors", "action_on_retry", false},
    {"explicit_allow=on", "explicit_alua", true},
    {"enable_explicit_alua", "explicit_alua", true},
    {"explicit_allow=off", "explicit_alua", false},
    {"disable_explicit_alua", "explicit_alua", false},
    {"alua_followover=on", "alua_follow_over", true},
    {"enable_alua_followover", "alua_follow_over", true},
    {"alua_followover=off", "alua_follow_over", false},
    {"disable_alua_followover", "alua_follow_over", false},
    {"ipfilter=on", "ip_filter", true},
    {"ipfilter_on", "ip_filter", true},
    {"ipfilter=off", "ip_filter", false},
    {"ipfilter_off", "ip_filter", false},
    {"navireg=on", "navi_reg", true},
    {"navireg_on", "navi_reg", true},
    {"navireg=off", "navi_reg", false},
    {"navireg_off", "navi_reg", false},
    {"enable_capacity_flash", "enable_capacity_flash", true},
};
const char* const kSupportTokens[] = {"implicit_support=on", "implicit_support=off", "explicit_support=on",
                                      "explicit_support=off"};

// Per SATP family: the recorded fields and the "name=" word the kernel takes.
struct RebuildRow {
    const char* satp;
    const char* field;
    const char* word;  // "<word>=on|off"; null: a bare flag written when true
};
const RebuildRow kRebuild[] = {
    {"QUIL_SATP_ALUA_CX", "action_on_retry", "action_OnRetryErrors"},
    {"QUIL_SATP_CX", "navi_reg", "navireg"},
    {"QUIL_SATP_CX", "ip_filter", "ipfilter"},
    {"QUIL_SATP_INV", "navi_reg", "navireg"},
    {"QUIL_SATP_INV", "ip_filter", "ipfilter"},
    {"QUIL_SATP_ALUA", "explicit_alua", "explicit_allow"},
    {"QUIL_SATP_ALUA", "alua_follow_over", "alua_followover"},
    {"QUIL_SATP_LOCAL", "enable_capacity_flash", nullptr},
};

const char* const kNmpOptions[] = {"enable_ssd",   "disable_ssd",   "reset_on_attempted_reserve",
                                   "enable_local", "disable_local", "throttle_sll"};

const char* const kRoundRobinKeys[] = {"policy", "iops", "bytes", "latencyEvalTime", "samplingCycles", "useANO"};

bool ParseLong(const std::string& text, long* out) {
    if (text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, 10);
    if (errno == ERANGE || *end != '\0')
        return false;
    *out = v;
    return true;
}

}  // namespace

std::string StoreText(const HaldenConfigStore::StoreObject* object, const char* field) {
    std::string v;
    if (object)
        object->GetValue(field, &v);
    return v;
}

std::string RecordedPluginName(const HaldenConfigStore::StoreObject* sub) {
    const std::string type = StoreText(sub, "type");
    return type == kThirdPartySatp || type == kThirdPartyPsp ? StoreText(sub, "name") : type;
}

const std::vector<std::string>& PlatformSatps() {
    static const std::vector<std::string> kSatps = {
        "QUIL_SATP_ALUA_CX", "QUIL_SATP_CX",  "QUIL_SATP_ALUA", "QUIL_SATP_MSA",        "QUIL_SATP_DEFAULT_AP",
        "QUIL_SATP_SVC",     "QUIL_SATP_EQL", "QUIL_SATP_INV",  "QUIL_SATP_EVA",        "QUIL_SATP_SYMM",
        "QUIL_SATP_LSI",     "QUIL_SATP_DEFAULT_AA", "QUIL_SATP_LOCAL"};
    return kSatps;
}

bool IsPlatformSatp(const std::string& name) {
    const auto& all = PlatformSatps();
    return std::find(all.begin(), all.end(), name) != all.end();
}

bool IsPlatformPsp(const std::string& name) {
    return name == "QUIL_PSP_FIXED" || name == "QUIL_PSP_RR" || name == "QUIL_PSP_MRU";
}

std::vector<std::string> SplitOptionTokens(const std::string& text) {
    std::vector<std::string> out;
    std::string token;
    auto flush = [&] {
        if (!token.empty())
            out.push_back(token);
        token.clear();
    };
    for (char c : text) {
        if (c == '\t' || c == ' ' || c == ';' || c == '{' || c == '}' || c == ',')
            flush();
        else
            token += c;
    }
    flush();
    return out;
}

bool ApplySatpOptionTokens(const std::string& satp, const std::string& options,
                           HaldenConfigStore::StoreObject& fields) {
    bool valid = true;
    for (const auto& token : SplitOptionTokens(options)) {
        auto row = std::find_if(std::begin(kSatpTokens), std::end(kSatpTokens),
                                [&](const TokenRow& r) { return token == r.token; });
        if (row != std::end(kSatpTokens)) {
            fields.SetValue(row->field, row->value);
            continue;
        }
        if (std::find(std::begin(kSupportTokens), std::end(kSupportTokens), token) != std::end(kSupportTokens)) {
            TarnCtl_LogInfoInt("%s: Ignoring token %s for SATP %s\n", "NmpDeviceConfigImpl", token.c_str(),
                               satp.c_str());
            continue;
        }
        TarnCtl_LogWarnInt("%s: Invalid option %s provided for SATP %s\n", "NmpDeviceConfigImpl", token.c_str(),
                           satp.c_str());
        valid = false;
    }
    return valid;
}

std::string BuildSatpConfigString(const std::string& satp, const HaldenConfigStore::StoreObject& fields) {
    std::string out;
    for (const auto& row : kRebuild) {
        bool on = false;
        if (satp != row.satp || !fields.GetValue(row.field, &on))
            continue;
        std::string token;
        if (row.word)
            token = std::string(row.word) + (on ? "=on" : "=off");
        else if (on)
            token = row.field;
        if (token.empty())
            continue;
        out += (out.empty() ? "" : " ") + token;
    }
    return out;
}

std::map<std::string, std::string> ParsePspConfigString(const std::string& text) {
    std::map<std::string, std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(';', start);
        if (end == std::string::npos)
            end = text.size();
        const std::string item = text.substr(start, end - start);
        start = end + 1;
        const size_t eq = item.find('=');
        if (eq == std::string::npos || eq == 0 || eq + 1 == item.size())
            throw HostCtlException("Please provide the configstring in the format key1=val1;key2=val2");
        const std::string key = item.substr(0, eq);
        if (!out.emplace(key, item.substr(eq + 1)).second)
            throw HostCtlException("Duplicate configuration " + key);
    }
    return out;
}

void ValidateRoundRobinOptions(const std::map<std::string, std::string>& options) {
    if (options.empty())
        throw HostCtlException("Empty PSP_RR option");
    for (const auto& [key, value] : options) {
        if (std::find(std::begin(kRoundRobinKeys), std::end(kRoundRobinKeys), key) == std::end(kRoundRobinKeys))
            throw HostCtlException("Invalid PSP_RR option " + key);
        long number = 0;
        if (key == "policy") {
            if (value != "rr" && value != "iops" && value != "bytes" && value != "latency")
                throw HostCtlException("Invalid value " + value + " for policy");
        } else if (key == "useANO") {
            if (value != "0" && value != "1" && value != "false" && value != "true")
                throw HostCtlException("Invalid value " + value + " for useANO");
        } else if (!ParseLong(value, &number)) {
            throw HostCtlException("Invalid value " + value + " for " + key);
        }
    }
    auto policy = options.find("policy");
    if (policy == options.end())
        return;
    auto has = [&](const char* key) { return options.count(key) > 0; };
    const std::string& p = policy->second;
    if (p == "latency" && (has("iops") || has("bytes")))
        throw HostCtlException("Invalid configuration for policy=latency");
    if (p == "iops" && (has("bytes") || has("latencyEvalTime") || has("samplingCycles")))
        throw HostCtlException("Invalid configuration for policy=iops");
    if (p == "bytes" && (has("iops") || has("latencyEvalTime") || has("samplingCycles")))
        throw HostCtlException("Invalid configuration for policy=bytes");
    if (p == "rr" && (has("iops") || has("bytes") || has("latencyEvalTime") || has("samplingCycles")))
        throw HostCtlException("Invalid configuration for policy=rr");
}

void RoundRobinToStore(const std::map<std::string, std::string>& options, HaldenConfigStore::StoreObject& out) {
    for (const auto& [key, value] : options) {
        long number = 0;
        if (key == "policy") {
            out.SetValue("policy", value == "rr" ? std::string("DEFAULT")
                                                 : value == "iops"  ? std::string("IOPS")
                                                 : value == "bytes" ? std::string("BYTES")
                                                                    : std::string("LATENCY"));
        } else if (key == "useANO") {
            out.SetValue("use_ano", value == "1" || value == "true");
        } else if (ParseLong(value, &number)) {
            const char* field = key == "iops"              ? "iops"
                                : key == "bytes"           ? "bytes"
                                : key == "latencyEvalTime" ? "latency_eval_time"
                                                           : "num_sampling_cycles";
            out.SetValue(field, number);
        }
    }
}

std::string RoundRobinFromStore(const HaldenConfigStore::StoreObject& rr) {
    std::string out;
    auto add = [&](const std::string& item) { out += (out.empty() ? "" : ";") + item; };
    std::string policy;
    if (rr.GetValue("policy", &policy)) {
        std::string word = policy == "DEFAULT" ? "rr" : policy;
        std::transform(word.begin(), word.end(), word.begin(), ::tolower);
        add("policy=" + word);
    }
    for (const auto& [field, key] : {std::pair<const char*, const char*>{"iops", "iops"},
                                     {"bytes", "bytes"},
                                     {"latency_eval_time", "latencyEvalTime"},
                                     {"num_sampling_cycles", "samplingCycles"}}) {
        long n = 0;
        if (rr.GetValue(field, &n))
            add(std::string(key) + "=" + std::to_string(n));
    }
    bool ano = false;
    if (rr.GetValue("use_ano", &ano))
        add(std::string("useANO=") + (ano ? "1" : "0"));
    return out;
}

std::vector<std::string> ParseNmpOptions(const std::string& text) {
    return SplitOptionTokens(text);
}

bool IsNmpOption(const std::string& token) {
    return std::find(std::begin(kNmpOptions), std::end(kNmpOptions), token) != std::end(kNmpOptions);
}

void ValidateNmpOptConfigString(const std::string& text) {
    auto tokens = ParseNmpOptions(text);
    for (const auto& token : tokens)
        if (!IsNmpOption(token))
            throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid token %s found for nmp options", token.c_str()));
    auto has = [&](const char* t) { return std::find(tokens.begin(), tokens.end(), t) != tokens.end(); };
    if ((has("enable_ssd") && has("disable_ssd")) || (has("enable_local") && has("disable_local")))
        throw HostCtlException(
            "Invalid configuration for nmp options. Specify only one of enable/disable_ssd and "
            "enable/disable_local");
}

}  // namespace TarnCtl::Storage::Nmp
