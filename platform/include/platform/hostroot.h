// The host root: every absolute host path ("/etc/hosts") resolves below one
// directory, and nothing outside it is read or written. The root comes from
// SetHostRoot (the tool's --root, a test fixture), else TARNCTL_ROOT, else the
// embedded default host under the user's data directory.
#pragma once

#include <string>
#include <string_view>

namespace Platform {

void SetHostRoot(const std::string& directory);
// The current root directory (absolute, no trailing slash); created on first use.
const std::string& HostRoot();
// True when the root was chosen by neither SetHostRoot nor TARNCTL_ROOT.
bool UsingDefaultHostRoot();
// Maps a host path to the real path below the root. Throws
// HostCtl::Lib::HostCtlException "Invalid host path ..." for a relative path,
// a ".." component, or a path that leads out of the root through a symlink.
std::string HostPath(std::string_view hostPath);

}  // namespace Platform
