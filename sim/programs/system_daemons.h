// The console UI ("hcui") and the log daemon ("corelogd") of the simulated
// host, and the console's keyboard driver.
#pragma once

namespace TarnSim {
class KernelState;

// Starts both daemons as the host boots: init script present, service
// running, PID file written. Their pids lie above the largest pid a Linux
// kernel hands out, so a stray signal can never reach a real process.
void StartSystemDaemons(KernelState& state);
}  // namespace TarnSim
