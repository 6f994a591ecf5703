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

class AdvancedUserIntegerOptionImpl : public HostCtl::Adv::AdvancedIntegerOption,
                                      public AdvancedOptionImpl {
public:
    explicit AdvancedUserIntegerOptionImpl(const std::string& name);
    // Filled from a definition and the stored value object (may be null); not stale.
    AdvancedUserIntegerOptionImpl(const UserOptionDefinition& definition,
                                  const HaldenConfigStore::ConfigStoreObject* value);

    void LoadConfig() override {}
    int GetType() override { return 0; }
    void SetToDefault() override;
    void UpdateValueToCstore() override;
    int64_t GetDefaultValue() override;
    int64_t GetMinimum() override;
    int64_t GetMaximum() override;
    int64_t GetValue() override;
    // Throws "Value %ld is not in the allowed range [%ld-%ld]" outside the range.
    void SetValue(long value) override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;
    bool IsHidden() override { return IsHiddenInt(); }

    void RefreshFromCstore();

protected:
    void RefreshInt() override { RefreshFromCstore(); }

private:
    void Fill(const UserOptionDefinition& definition, const HaldenConfigStore::ConfigStoreObject* value);
    void SetValueInternalCstore(int64_t value, bool reset);

    int64_t _value = 0;
    int64_t _minimum = 0;
    int64_t _maximum = 0;
    int64_t _default = 0;
};

class AdvancedUserStringOptionImpl : public HostCtl::Adv::AdvancedStringOption,
                                     public AdvancedOptionImpl {
public:
    explicit AdvancedUserStringOptionImpl(const std::string& name);
    AdvancedUserStringOptionImpl(const UserOptionDefinition& definition,
                                 const HaldenConfigStore::ConfigStoreObject* value,
                                 const HaldenConfigStore::ConfigStoreObject* productLocker);

    void LoadConfig() override {}
    int GetType() override { return 1; }
    void SetToDefault() override;
    void UpdateValueToCstore() override;
    std::string GetDefaultValue() override;
    std::string GetValidCharacters() override { return ""; }
    std::string GetValue() override;
    void SetValue(const std::string& value) override;
    bool IsHidden() override { return IsHiddenInt(); }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    void RefreshFromCstore();

protected:
    void RefreshInt() override { RefreshFromCstore(); }

private:
    void Fill(const UserOptionDefinition& definition, const HaldenConfigStore::ConfigStoreObject* value,
              const HaldenConfigStore::ConfigStoreObject* productLocker);
    // Writes (or with `reset`, deletes) the option's value object.
    void SetValueInternalCstore(const std::string& value, bool reset);
    void SetProductLockerInt(const std::string& value);

    std::string _default;
    std::string _value;
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
