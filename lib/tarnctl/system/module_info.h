// Metadata of a kernel module file: the entries of its ELF64 ".tarnmodinfo"
// section and what they declare. Kept free of kernel and store calls so that
// the parser can be read, tested and fuzzed on its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hostctl/system_modules.h"

namespace TarnCtl::System {

struct ModuleFileInfo {
    std::vector<HostCtl::System::ModuleParam> parameters;  // in declaration order
    HostCtl::System::ModuleNamespace providedNamespace;
    std::vector<HostCtl::System::ModuleNamespace> requiredNamespaces;
    std::map<std::string, std::string> facts;  // "version", "license", "build_type", ...

    // The declared parameter `name`, or null.
    const HostCtl::System::ModuleParam* FindParameter(const std::string& name) const;
    std::string Fact(const std::string& key) const;
};

// The non-empty NUL-separated entries of section ".tarnmodinfo" of the ELF64
// image `data`. Every offset and size of the image is checked against `size`
// before use. Throws HostCtlException: "Not a valid 64-bit ELF file" for
// anything but a little-endian ELF64 image, "Malformed module file: " + reason
// for headers or sections outside the image, "No .tarnmodinfo section in
// module file" when the section is missing.
std::vector<std::string> ReadModInfoSection(const uint8_t* data, size_t size);

// Classifies the entries in this order: parameter ("param_NAME:TYPE"),
// parameter description ("param_desc_NAME=TEXT"), namespace
// ("nsRequired=NAME#VERSION", "nsProvides=..."), other fact ("KEY=VALUE").
// Anything else throws "Unknown data in module info '" + entry + "'".
ModuleFileInfo ParseModInfoEntries(const std::vector<std::string>& entries);

// Opens, maps and parses the module file at `hostPath`.
ModuleFileInfo ReadModuleHeader(const std::string& hostPath);

}  // namespace TarnCtl::System
