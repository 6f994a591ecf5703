// The boot configuration the host boots from (/bootslot/boot.cfg under the
// host root): "key=value" lines; "kernelopt" holds the kernel boot options as
// space-separated name=value tokens (a value with spaces in double quotes),
// "modules" the modules loaded at boot. The kernel reads it at every boot.
#pragma once

#include <string>
#include <utility>
#include <vector>

namespace HaldenConfigStore {
class ConfigStoreObject;
// Writes the boot options of `object` (halden/tarnos/options; one field per
// option, store field names) into the boot configuration's "kernelopt" line,
// replacing what was there. Throws HostCtlException on a failed write, leaving
// the file as it was.
void UpdateKernelOptions(const ConfigStoreObject& object);
}  // namespace HaldenConfigStore

namespace Platform::BootConfig {

inline constexpr const char* kPath = "/bootslot/boot.cfg";

using OptionList = std::vector<std::pair<std::string, std::string>>;

// The kernelopt tokens in order (a bare token has an empty value).
OptionList KernelOptions();
// The modules the host loads at boot.
std::vector<std::string> Modules();
// Writes the "modules" line (the simulation does so for a new host).
void SetModules(const std::vector<std::string>& modules);

// Token text as written to and read from the kernelopt line.
std::string FormatKernelOptions(const OptionList& options);
OptionList ParseKernelOptions(const std::string& line);

}  // namespace Platform::BootConfig
