// Operator actions on the simulated storage fabric that no kernel call
// offers: pulling and re-plugging a path, as `hostctl sim path` does.
#pragma once

#include <cstdint>
#include <string>

namespace TarnSim::StoragePaths {

// Kills the path (runtime name) as a pulled cable would; the multipathing
// plug-in moves I/O off it. False when there is no such path.
bool FailPath(const std::string& runtimeName);
// Brings a path back to active; false when there is no such path.
bool RestorePath(const std::string& runtimeName);
// Puts the path in any kernel path state (0 active, 1 off, 2 dead, 3
// standby, others as the kernel might report them), as the fabric would;
// the plug-in follows. False when there is no such path.
bool SetPathState(const std::string& runtimeName, uint32_t value);

}  // namespace TarnSim::StoragePaths
