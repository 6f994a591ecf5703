// The host's fixed-moment sequences: boot (restore / LoadConfig steps in the
// order the host fixes), upgrade (import legacy configuration) and apply
// (bring kernel and files in line after a store change). Library domains
// register their steps from their own .cpp files with static registrations:
//
//   static Platform::Boot::Step s("network.vswitch", 300, [] { ...LoadConfig... });
//
// A step reports failure by throwing; the failure is logged and the sequence
// goes on with the next step.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace Platform::Boot {

using StepFn = std::function<void()>;

// Boot steps run in ascending `order` (ties by name) while the configuration
// store reports boot mode.
void RegisterStep(const std::string& name, int order, StepFn fn);
// Upgrade steps run by `hostctl sim upgrade`, in ascending order.
void RegisterUpgradeStep(const std::string& name, int order, StepFn fn);
// Apply steps of a store group ("authentication", "syslog", ...), run by
// RunApply(group) after a change to that group.
void RegisterApplyStep(const std::string& group, StepFn fn);

struct Step {
    Step(const std::string& name, int order, StepFn fn) { RegisterStep(name, order, std::move(fn)); }
};
struct UpgradeStep {
    UpgradeStep(const std::string& name, int order, StepFn fn) {
        RegisterUpgradeStep(name, order, std::move(fn));
    }
};
struct ApplyStep {
    ApplyStep(const std::string& group, StepFn fn) { RegisterApplyStep(group, std::move(fn)); }
};

struct Outcome {
    std::string name;
    bool ok;
    std::string error;  // the exception text of a failed step
};

// Runs the boot sequence: store boot mode on, every boot step, boot mode off.
std::vector<Outcome> RunBoot();

// ---- Boot mode ---------------------------------------------------------------
// Boot mode belongs to the process that runs the boot: it holds an exclusive
// lock on /var/lib/configstore/boot.lock for the boot's whole duration and
// writes its pid into the file as the boot-mode flag. A holder that dies, even
// by SIGKILL, releases the lock, so a crash never leaves the host in boot
// mode: the next process that looks finds the flag without a holder, logs
// "The last boot (pid N) was interrupted; boot mode is off" and clears it.

// Takes boot mode for this process, waiting while another process boots.
// Nests within a process (only the outermost begin and end count).
void BeginBootMode();
void EndBootMode();
// True while a live process (this one or another) runs a boot under this root.
bool InProgress();

// Boot mode for a scope (the whole reboot: kernel reset, steps, services).
class BootSession {
public:
    BootSession() { BeginBootMode(); }
    ~BootSession() { EndBootMode(); }
    BootSession(const BootSession&) = delete;
    BootSession& operator=(const BootSession&) = delete;
};

// A boot step that makes configuration the host has none of (the first boot
// building its network), rather than replaying recorded configuration, records
// like any change: for the pause's scope this process does not see itself
// booting. The boot lock stays held, so other processes still wait for the boot.
// Nests; does nothing outside boot mode.
class BootModePause {
public:
    BootModePause();
    ~BootModePause();
    BootModePause(const BootModePause&) = delete;
    BootModePause& operator=(const BootModePause&) = delete;
};

// Test seam: called as a boot enters each phase (the reboot's own phases and
// "step:NAME" before each boot step), so a test can stop a boot at a known point.
using PhaseHook = std::function<void(const std::string& phase)>;
void SetPhaseHook(PhaseHook hook);
void EnterPhase(const std::string& phase);
std::vector<Outcome> RunUpgrade();
// Runs the apply steps of `group` (every group when empty).
std::vector<Outcome> RunApply(const std::string& group);
// Registered step names in run order, for tools.
std::vector<std::string> BootStepNames();

}  // namespace Platform::Boot
