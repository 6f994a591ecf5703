// The host root: every absolute host path ("/etc/hosts") resolves below one
// directory, and nothing outside it is read or written. The root comes from
// SetHostRoot (the tool's --root, a test fixture), else TARNCTL_ROOT, else the
// embedded default host under the user's data directory.
#pragma once

#include <functional>
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

// Opens a host path with no window for a symbolic link swapped in after a check:
// the path is walked one component at a time from the root directory (openat
// with O_NOFOLLOW); a link met on the way, the last component included, is read
// and its target walked the same way, as inside a chroot. `flags` and `mode` are
// open(2)'s for the last component. Returns the descriptor, or -1 with errno set
// (ENOENT for a missing directory on the way). Throws like HostPath for a path
// that is refused.
int OpenHostFile(std::string_view hostPath, int flags, unsigned mode = 0644);
// The directory that holds a host path's last component (links followed as
// above), opened O_RDONLY | O_DIRECTORY, and that component's name in `name`.
// Missing directories on the way are made (0755) when `create`. Returns -1 with
// errno set when the directory cannot be reached.
int OpenHostParent(std::string_view hostPath, std::string* name, bool create);

namespace Testing {
// Called with each path component just before a walk opens it; lets a test swap
// a directory for a symbolic link at that moment. Empty: no hook.
void SetOpenHook(std::function<void(const std::string& component)> hook);
}  // namespace Testing

}  // namespace Platform
