// The boot configuration file: read by the kernel at boot, written when boot
// options are recorded for the next boot. Lines other than the one being
// changed are kept as they are; the file is replaced atomically.
#include "platform/bootconfig.h"

#include <cctype>
#include <sstream>
#include <unordered_map>

#include "hostctl/exception.h"
#include "ksi/modules.h"
#include "platform/configstore.h"
#include "platform/misc.h"

namespace Platform::BootConfig {

namespace {

std::vector<std::string> Lines() {
    std::string text;
    std::vector<std::string> out;
    if (!HostCtl::Misc::ReadHostFile(kPath, &text)) return out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) out.push_back(line);
    return out;
}

std::string Value(const std::string& key) {
    for (const auto& line : Lines())
        if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    return "";
}

// Replaces (or appends) the line of `key`.
void WriteValue(const std::string& key, const std::string& value) {
    std::vector<std::string> lines = Lines();
    bool found = false;
    for (auto& line : lines)
        if (line.compare(0, key.size() + 1, key + "=") == 0) {
            line = key + "=" + value;
            found = true;
        }
    if (!found) lines.push_back(key + "=" + value);
    std::string text;
    for (const auto& line : lines) text += line + "\n";
    HostCtl::Misc::TmpOfstreamWrapper out(kPath, 0644);
    out << text;
    out.Commit();
}

}  // namespace

OptionList ParseKernelOptions(const std::string& line) {
    OptionList out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i]))) ++i;
        if (i >= line.size()) break;
        std::string token;
        bool quoted = false;
        while (i < line.size() && (quoted || !std::isspace(static_cast<unsigned char>(line[i])))) {
            if (line[i] == '"')
                quoted = !quoted;
            else
                token += line[i];
            ++i;
        }
        size_t eq = token.find('=');
        if (eq == std::string::npos)
            out.emplace_back(token, "");
        else
            out.emplace_back(token.substr(0, eq), token.substr(eq + 1));
    }
    return out;
}

std::string FormatKernelOptions(const OptionList& options) {
    std::string out;
    for (const auto& [name, value] : options) {
        if (!out.empty()) out += ' ';
        bool quote = value.empty() || value.find_first_of(" \t") != std::string::npos;
        out += name + "=" + (quote ? "\"" + value + "\"" : value);
    }
    return out;
}

OptionList KernelOptions() { return ParseKernelOptions(Value("kernelopt")); }

std::vector<std::string> Modules() {
    std::vector<std::string> out;
    std::istringstream in(Value("modules"));
    std::string name;
    while (in >> name) out.push_back(name);
    return out;
}

void SetModules(const std::vector<std::string>& modules) {
    std::string line;
    for (const auto& m : modules) line += (line.empty() ? "" : " ") + m;
    WriteValue("modules", line);
}

}  // namespace Platform::BootConfig

namespace Ksi::BootOptions {

namespace {
const Row* Lookup(const char* key, bool byStoreField) {
    // Built once; the table is fixed at build time.
    static const auto* byName = [] {
        auto* m = new std::unordered_map<std::string, const Row*>;
        for (size_t i = 0; i < kRowCount; ++i) m->emplace(kRows[i].name, &kRows[i]);
        return m;
    }();
    static const auto* byField = [] {
        auto* m = new std::unordered_map<std::string, const Row*>;
        for (size_t i = 0; i < kRowCount; ++i) m->emplace(kRows[i].storeField, &kRows[i]);
        return m;
    }();
    const auto* map = byStoreField ? byField : byName;
    auto it = map->find(key ? key : "");
    return it == map->end() ? nullptr : it->second;
}
}  // namespace

const Row* FindRow(const char* name) { return Lookup(name, false); }
const Row* FindRowByStoreField(const char* field) { return Lookup(field, true); }

}  // namespace Ksi::BootOptions

namespace HaldenConfigStore {

void UpdateKernelOptions(const ConfigStoreObject& object) {
    Platform::BootConfig::OptionList options;
    for (size_t i = 0; i < Ksi::BootOptions::kRowCount; ++i) {
        const auto& row = Ksi::BootOptions::kRows[i];
        const std::string field = row.storeField;
        if (!object.HasValue(field)) continue;
        std::string type = row.type;
        std::string text;
        if (type == "Bool") {
            bool b = false;
            if (!object.GetValue(field, &b))
                throw HostCtl::Lib::HostCtlException("Invalid boot option field " + field + ": not a boolean");
            text = b ? "TRUE" : "FALSE";
        } else if (type == "string") {
            if (!object.GetValue(field, &text))
                throw HostCtl::Lib::HostCtlException("Invalid boot option field " + field + ": not a string");
        } else {
            long v = 0;
            if (!object.GetValue(field, &v))
                throw HostCtl::Lib::HostCtlException("Invalid boot option field " + field + ": not a number");
            text = std::to_string(v);
        }
        options.emplace_back(row.name, text);
    }
    Platform::BootConfig::WriteValue("kernelopt", Platform::BootConfig::FormatKernelOptions(options));
}

}  // namespace HaldenConfigStore
