// Advanced options and the configuration store: store ids, desired-state
// remediation, impact checks, resets, the old host configuration file and the
// boot-time application of module options.
#pragma once

#include <memory>
#include <string>

#include "hostctl/adv.h"
#include "hostctl/status.h"
#include "platform/configstore.h"

namespace TarnCtl::Adv {

inline constexpr const char* kAdvGroup = "advanced_options";
inline constexpr const char* kUserVarsBranch = "UserVars";
inline constexpr const char* kUserVarDefinitionsKey = "user_var_definitions";
inline constexpr const char* kUserVarsKey = "user_vars";

// The store every advanced option is kept in.
std::shared_ptr<HaldenConfigStore::ConfigStore> AdvStore();

// Id of a branch's store object: (branch store name, "advanced_options",
// branch component).
HaldenConfigStore::ConfigStoreObjectId GetCsObjId(const std::string& branch);
// A copy of `id` with the instance id replaced.
HaldenConfigStore::ConfigStoreObjectId MakeCfgObjId(const HaldenConfigStore::ConfigStoreObjectId& id,
                                                    const std::string& instance);

// Brings one branch in line with `desired` (a branch object as stored): options
// it names are set, every other option off its default (or still persisted) is
// reset. Throws before changing anything when the object names an unknown
// option or holds a value of the wrong type.
void RemediateDesiredConfig(const HaldenConfigStore::ConfigStoreObject& desired);
// What remediating `desired` would need before it takes effect.
HostCtl::Adv::OptionImpact CheckOptionImpact(const HaldenConfigStore::ConfigStoreObject& desired);
// The impact of changing one option.
HostCtl::Adv::OptionImpact CheckOptionImpact(const std::string& branch, const std::string& option);
// Resets every option of the branch that is off its default or persisted.
void ResetBranch(const std::string& branch);

// A desired user option value: an instance of ("user_vars", "advanced_options",
// "halden") named after the option; without a value field the option is reset.
void RemediateDesiredUserConfig(const HaldenConfigStore::ConfigStoreObject& desired);
void ResetUserOption(const std::string& name);
HostCtl::Adv::OptionImpact CheckUserOptionImpact(const std::string& name);

// The old host configuration file kept option values at "/adv/Branch/Option".
std::string ConfFileKey(const std::string& branch, const std::string& option);
void RemovefromConfFile(const std::string& branch, const std::string& option);

// True while an upgrade from the host configuration file runs in this process.
bool IsUpgrading();
void SetUpgrading(bool upgrading);

// Applies the options given to kernel modules at boot; returns the kernel's
// status (0x0bad0001 on any failure) instead of throwing.
TARN_ReturnStatus SetModuleOptions();

// Boot: replays every persisted option into the kernel, user options included.
// Failures of single options are logged and skipped.
void LoadAllConfig();

}  // namespace TarnCtl::Adv
