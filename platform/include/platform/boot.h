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
std::vector<Outcome> RunUpgrade();
// Runs the apply steps of `group` (every group when empty).
std::vector<Outcome> RunApply(const std::string& group);
// Registered step names in run order, for tools.
std::vector<std::string> BootStepNames();

}  // namespace Platform::Boot
