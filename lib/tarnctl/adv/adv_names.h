// Name tables of the advanced options: option path to configuration-store field
// name, branch to store key and component, and the host's built-in user
// options. The rows are generated at build time from the advanced-option data
// file; the maps over them are built once at library load.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace TarnCtl::Adv {

namespace Generated {
struct BranchRow {
    const char* branch;
    const char* store;
    const char* component;
};
struct OptionRow {
    const char* path;   // "Net/DVFilterFakeSNic"
    const char* store;  // explicit store name, or null: derived by StoreNameRule
};
struct UserVarRow {
    const char* name;
    bool isString;
    const char* stringDefault;
    int64_t integerDefault, minimum, maximum;
    const char* description;
    unsigned int flags;  // HostCtl::Adv::UserOptFlags
};
extern const BranchRow kBranchRows[];
extern const size_t kBranchRowCount;
extern const OptionRow kOptionRows[];
extern const size_t kOptionRowCount;
extern const UserVarRow kUserVarRows[];
extern const size_t kUserVarRowCount;
}  // namespace Generated

// The naming rule the table follows: the option name split into words at case
// changes, words joined by "_", all lower case except upper-case acronyms
// ("VEXWorlds" -> "VEX_worlds"). Used for options the table does not know.
std::string StoreNameRule(std::string_view optionName);

std::string GetConfigstoreBranchName(const std::string& branch);
std::string GetConfigstoreComponentName(const std::string& branch);
// Looks up branch + "/" + option; options missing from the table follow the rule.
std::string GetConfigstoreOptionName(const std::string& branch, const std::string& option);
// Reverse lookups; empty when unknown.
std::string GetBranchFromConfigstoreName(const std::string& storeName);
std::string GetOptionFromConfigstoreName(const std::string& branch, const std::string& field);

// Sizes of the path maps (forward and reverse), for tests.
size_t OptionNameTableSize();
size_t OptionNameReverseTableSize();
size_t BranchTableSize();

// The built-in user option of `name`, or null.
const Generated::UserVarRow* FindBuiltinUserVar(std::string_view name);

}  // namespace TarnCtl::Adv
