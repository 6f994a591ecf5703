// Administrator-defined options of the "UserVars" branch. They live only in the
// configuration store: definitions in "user_var_definitions", values in
// "user_vars", one instance per option named after it. The host's built-in
// user options are defined even before anything is stored for them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "adv/advanced_option_impl.h"

namespace HaldenConfigStore {
class ConfigStoreObject;
}

namespace TarnCtl::Adv {

struct UserOptionDefinition {
    std::string name;
    bool isString = false;
    std::string description;
    bool hidden = false;
    bool hostSpecific = false;
    std::string impact = "none";  // "reboot", "maintenance-mode" or "none"
    int64_t integerDefault = 0, minimum = 0, maximum = 0;
    std::string stringDefault;
    bool builtin = false;  // from the host's built-in list, not (yet) stored
};

// Parses a stored definition; false when it is malformed.
bool ParseUserOptionDefinition(const HaldenConfigStore::ConfigStoreObject& object,
                               UserOptionDefinition* out);
// The definition of `name`: the stored one, else the built-in one; false when neither.
bool GetUserOptionDefinition(const std::string& name, UserOptionDefinition* out);
// The built-in definition of `name` alone (the store not asked); false when
// the host has no such built-in option.
bool GetBuiltinUserOptionDefinition(const std::string& name, UserOptionDefinition* out);

class AdvancedUserIntegerOptionImpl : public IntegerOptionImpl {
public:
    explicit AdvancedUserIntegerOptionImpl(const std::string& name);
    // Filled from a definition and the stored value object (may be null); not stale.
    AdvancedUserIntegerOptionImpl(const UserOptionDefinition& definition,
                                  const HaldenConfigStore::ConfigStoreObject* value);

    void LoadConfig() override {}
    void SetToDefault() override;
    void UpdateValueToCstore() override;
    // Throws "Value %ld is not in the allowed range [%ld-%ld]" outside the range.
    void SetValue(long value) override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override { PrintAs(printer, "Advanced User Integer Option"); }

    void RefreshFromCstore();

protected:
    void RefreshInt() override { RefreshFromCstore(); }

private:
    void Fill(const UserOptionDefinition& definition, const HaldenConfigStore::ConfigStoreObject* value);
    // Writes (or with `reset`, deletes) the option's value object in one transaction.
    void SetValueInternalCstore(int64_t value, bool reset);
};

class AdvancedUserStringOptionImpl : public StringOptionImpl {
public:
    explicit AdvancedUserStringOptionImpl(const std::string& name);
    AdvancedUserStringOptionImpl(const UserOptionDefinition& definition,
                                 const HaldenConfigStore::ConfigStoreObject* value,
                                 const HaldenConfigStore::ConfigStoreObject* productLocker);

    void LoadConfig() override {}
    void SetToDefault() override;
    void UpdateValueToCstore() override;
    std::string GetValidCharacters() override { return ""; }
    void SetValue(const std::string& value) override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override {
        PrintAs(printer, "Advanced User String Option", nullptr);
    }

    void RefreshFromCstore();

protected:
    void RefreshInt() override { RefreshFromCstore(); }

private:
    void Fill(const UserOptionDefinition& definition, const HaldenConfigStore::ConfigStoreObject* value,
              const HaldenConfigStore::ConfigStoreObject* productLocker);
    // Writes (or with `reset`, deletes) the option's value object in one transaction.
    void SetValueInternalCstore(const std::string& value, bool reset);
    void SetProductLockerInt(const std::string& value);
};

// Defines, redefines and deletes user options. Every change is one store
// transaction and is audited.
class UserAdvancedOptionImpl {
public:
    void AddUserIntegerOption(const std::string& name, const std::string& description,
                              int32_t defaultValue, int32_t minimum, int32_t maximum,
                              unsigned int flags);
    void AddUserStringOption(const std::string& name, const std::string& description,
                             const std::string& defaultValue, unsigned int flags);
    void UpdateUserIntegerOption(const std::string& name, const std::string& description,
                                 int32_t defaultValue, int32_t minimum, int32_t maximum,
                                 unsigned int flags);
    void UpdateUserStringOption(const std::string& name, const std::string& description,
                                const std::string& defaultValue, unsigned int flags);
    // Removes the definition and the value. With `ignoreMissing` an unknown
    // name is not an error.
    void DeleteOption(const std::string& name, bool ignoreMissing);
    bool HasUserOption(const std::string& name);
};

}  // namespace TarnCtl::Adv
