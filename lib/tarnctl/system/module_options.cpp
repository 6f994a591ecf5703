// Module option parsing and validation. Integer checks are exact: a value must
// be a decimal integer that fits the declared type, so "-1" for an unsigned
// type is refused rather than wrapped.
#include "system/module_options.h"

#include <cstdint>
#include <limits>

#include <boost/regex.hpp>

#include "hostctl/exception.h"
#include "platform/kevt.h"
#include "platform/log.h"

using HostCtl::Lib::HostCtlException;

namespace TarnCtl::System {

namespace {

// Range of one scalar C type; `isSigned` false for the unsigned ones.
struct Range {
    bool isSigned;
    uint64_t maxPositive;  // largest value
    uint64_t maxNegative;  // magnitude of the smallest value (signed only)
};

bool ScalarRange(const std::string& type, Range* out) {
    if (type == "int") *out = {true, INT32_MAX, static_cast<uint64_t>(INT32_MAX) + 1};
    else if (type == "short") *out = {true, INT16_MAX, static_cast<uint64_t>(INT16_MAX) + 1};
    else if (type == "long") *out = {true, INT64_MAX, static_cast<uint64_t>(INT64_MAX) + 1};
    else if (type == "uint") *out = {false, UINT32_MAX, 0};
    else if (type == "ushort") *out = {false, UINT16_MAX, 0};
    else if (type == "ulong") *out = {false, UINT64_MAX, 0};
    else if (type == "byte") *out = {false, UINT8_MAX, 0};
    else return false;
    return true;
}

bool FitsDecimal(const std::string& text, const Range& r) {
    size_t i = 0;
    bool negative = false;
    if (!text.empty() && text[0] == '-') {
        if (!r.isSigned) return false;
        negative = true;
        i = 1;
    }
    if (i >= text.size()) return false;
    uint64_t limit = negative ? r.maxNegative : r.maxPositive;
    uint64_t v = 0;
    for (; i < text.size(); ++i) {
        char c = text[i];
        if (c < '0' || c > '9') return false;
        uint64_t digit = static_cast<uint64_t>(c - '0');
        if (v > (limit - digit) / 10) return false;
        v = v * 10 + digit;
    }
    return true;
}

}  // namespace

ModuleOptionMap ParseOptions(const std::string& text) {
    ModuleOptionMap out;
    size_t i = 0;
    auto space = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f'; };
    while (i < text.size()) {
        while (i < text.size() && space(text[i])) ++i;
        size_t start = i;
        while (i < text.size() && !space(text[i])) ++i;
        if (i == start) break;
        std::string token = text.substr(start, i - start);
        size_t eq = token.find('=');
        if (eq == std::string::npos)
            out[token] = "";
        else
            out[token.substr(0, eq)] = token.substr(eq + 1);
    }
    return out;
}

std::string FormatOptions(const ModuleOptionMap& options) {
    std::string out;
    for (const auto& [name, value] : options) {
        if (!out.empty()) out += ' ';
        out += value.empty() ? name : name + "=" + value;
    }
    return out;
}

bool CheckParameterValue(const std::string& type, const std::string& value) {
    Range r;
    static const std::string kArray = "array of ";
    if (type.compare(0, kArray.size(), kArray) == 0) {
        std::string element = type.substr(kArray.size());
        if (element == "byte" || !ScalarRange(element, &r)) return true;
        size_t start = 0;
        while (true) {
            size_t comma = value.find(',', start);
            std::string item = value.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
            if (!FitsDecimal(item, r)) return false;
            if (comma == std::string::npos) return true;
            start = comma + 1;
        }
    }
    if (!ScalarRange(type, &r)) return true;
    return FitsDecimal(value, r);
}

void ValidateOptions(const std::string& module, const ModuleOptionMap& options, const ModuleFileInfo& info) {
    static const boost::regex maxVfs("^\\d+(?:,\\d+)*$");
    for (const auto& [name, value] : options) {
        const auto* param = info.FindParameter(name);
        if (!param) throw HostCtlException("Unable to set invalid module parameter " + name);
        if (!CheckParameterValue(param->type, value))
            throw HostCtlException("Invalid value " + value + " for module parameter " + name);
        if (name != "max_vfs") continue;
        if (!boost::regex_match(value, maxVfs)) {
            TarnCtl_LogWarnInt("%s: Max vfs value '%s' does not meet expected format\n", "ModuleImpl", value.c_str());
            throw HostCtlException("Value of max_vfs parameter must be a comma-separated list of integers");
        }
        if (KevtUserLib_Init() != 0) {
            TarnCtl_LogWarnInt("%s: Unable to post the max_vfs event for module %s\n", "ModuleImpl", module.c_str());
            continue;
        }
        KevtUserLib_AddKevt("@&!*@*@(kevt.user.module.maxvfs.set)Setting the max_vfs option for module %s may not "
                            "work asexpected. It may be overridden by per-device SRIOV configuration.",
                            module.c_str());
        KevtUserLib_Close();
    }
}

}  // namespace TarnCtl::System
