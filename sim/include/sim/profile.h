// Hardware profiles and the simulated host's life cycle. A profile is a JSON
// object whose top-level keys are area names; each area (sim/kernel.h) fills
// the kernel from its own section. The built-in default profile is merged at
// build time from sim/profiles/default/*.json.
#pragma once

#include <string>
#include <vector>

#include "platform/boot.h"
#include "sim/kernel.h"

namespace TarnSim::Profile {

// The built-in default profile (JSON text).
const std::string& DefaultProfile();
// The profile the host under the current root runs on: the copy kept at
// /var/lib/tarnsim/profile.json, else the default.
std::string CurrentProfile();

// Makes a new host under the current root: keeps `profileJson` as the host's
// profile, resets the kernel from it (faults cleared) and empties the
// configuration store. Throws HostCtl::Lib::HostCtlException "Invalid profile: ..."
// for text that is not a JSON object; nothing changes then.
void InitHost(const std::string& profileJson);

// Reboots the host as one boot (Platform::Boot::BootSession): ends every
// simulated process, resets the kernel to the kept profile (area state and
// records; injected faults stay), runs the boot sequence
// (Platform::Boot::RunBoot) and starts the services /bin/chkconfig enabled.
// Returns the steps' outcomes, then one "service:NAME" outcome per service.
std::vector<Platform::Boot::Outcome> Reboot();

// Resets the kernel from `profileJson` without touching the store or the kept
// profile copy; used by InitHost, Reboot and first use of a fresh root.
void ResetKernel(const std::string& profileJson, bool keepFaults);

// A synthetic profile: every area with a generator writes its section from
// `options`; areas without one copy their section of the default profile.
// Returns pretty-printed JSON.
std::string Generate(const GenerateOptions& options);

}  // namespace TarnSim::Profile
