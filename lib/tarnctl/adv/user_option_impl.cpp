// Administrator-defined ("UserVars") options: definitions and values in the
// configuration store, the range check, the product locker location kept in an
// object of its own, and the disabled-protocols rule.
#include "adv/user_option_impl.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <vector>

#include "adv/adv_config.h"
#include "adv/adv_names.h"
#include "hostctl/exception.h"
#include "platform/audit.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"

using HaldenConfigStore::ConfigStoreException;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;
using HostCtl::Misc::StrPrintf;
namespace EmitAudit = TarnCtl::Util::EmitAudit;

namespace TarnCtl::Adv {

namespace {

const char* kProductLocker = "ProductLockerLocation";
const char* kDisabledProtocolsPath = "/UserVars/HaldenVPsDisabledProtocols";
const char* kDisabledProtocolsMessage =
    "sslv3, tlsv1, tlsv1.1 must be disabled. Optionally tlsv1.3 can be be disabled";
const std::string kKdfsVolumes = "/kdfs/volumes/";

ConfigStoreObjectId DefinitionId(const std::string& name) {
    return ConfigStoreObjectId(kUserVarDefinitionsKey, kAdvGroup, "halden", name);
}
ConfigStoreObjectId ValueId(const std::string& name) {
    return ConfigStoreObjectId(kUserVarsKey, kAdvGroup, "halden", name);
}
ConfigStoreObjectId ProductLockerId() { return ConfigStoreObjectId("product_locker", "system", "halden"); }

std::string UserPath(const std::string& name) { return std::string("/") + kUserVarsBranch + "/" + name; }

UserOptionDefinition FromBuiltin(const Generated::UserVarRow& row) {
    UserOptionDefinition d;
    d.name = row.name;
    d.isString = row.isString;
    d.description = row.description;
    d.hidden = row.flags & HostCtl::Adv::USER_OPT_HIDDEN;
    d.hostSpecific = row.flags & HostCtl::Adv::USER_OPT_HOST_SPECIFIC;
    d.impact = (row.flags & HostCtl::Adv::USER_OPT_REBOOT_REQUIRED)            ? "reboot"
               : (row.flags & HostCtl::Adv::USER_OPT_MAINTENANCE_MODE_REQUIRED) ? "maintenance-mode"
                                                                              : "none";
    d.integerDefault = row.integerDefault;
    d.minimum = row.minimum;
    d.maximum = row.maximum;
    d.stringDefault = row.stringDefault;
    d.builtin = true;
    return d;
}

// The value kept in the product-locker object, or the default when there is none.
std::string ProductLockerValue(const ConfigStoreObject* object, const std::string& fallback) {
    if (!object) return fallback;
    std::string path, datastore;
    object->GetValue("path", &path);
    if (object->GetValue("datastore_name", &datastore) && !datastore.empty())
        return kKdfsVolumes + datastore + path;
    return path.empty() ? fallback : path;
}

// The disabled-protocols rule: sslv3, tlsv1 and tlsv1.1 all named, tlsv1.2 not,
// tlsv1.3 optional, nothing else; case does not matter, order neither.
bool DisabledProtocolsAcceptable(const std::string& value) {
    std::vector<std::string> tokens;
    HostCtl::Misc::StringTokenize(value, tokens, ", ");
    std::set<std::string> seen;
    for (auto t : tokens) {
        std::transform(t.begin(), t.end(), t.begin(), [](unsigned char c) { return std::tolower(c); });
        if (t != "sslv3" && t != "tlsv1" && t != "tlsv1.1" && t != "tlsv1.3") return false;
        seen.insert(t);
    }
    return seen.count("sslv3") && seen.count("tlsv1") && seen.count("tlsv1.1");
}

std::shared_ptr<ConfigStoreObject> DefinitionObject(const UserOptionDefinition& d) {
    auto o = std::make_shared<ConfigStoreObject>(DefinitionId(d.name));
    o->SetValue("option_name", d.name);
    o->SetValue("type", d.isString ? "STRING" : "INTEGER");
    o->SetValue("description", d.description);
    o->SetValue("hidden", d.hidden);
    o->SetValue("host_specific", d.hostSpecific);
    // Reboot wins when both impacts are asked for; no impact, no field.
    if (d.impact == "reboot")
        o->SetValue("impact", "REBOOT_REQUIRED");
    else if (d.impact == "maintenance-mode")
        o->SetValue("impact", "MAINTENANCE_MODE_REQUIRED");
    if (d.isString) {
        auto sub = o->CreateSubObject(HaldenConfigStore::SubObjectId("string_definition"));
        sub->SetValue("string_default", d.stringDefault);
    } else {
        auto sub = o->CreateSubObject(HaldenConfigStore::SubObjectId("integer_definition"));
        sub->SetValue("integer_default", static_cast<long>(d.integerDefault));
        sub->SetValue("min", static_cast<long>(d.minimum));
        sub->SetValue("max", static_cast<long>(d.maximum));
    }
    return o;
}

void ValidateName(const std::string& name) {
    if (name.empty() || name.size() > 128)
        throw HostCtlException("Invalid user option name: " + name);
    for (unsigned char c : name)
        if (!std::isalnum(c) && c != '_' && c != '.' && c != '-')
            throw HostCtlException("Invalid user option name: " + name);
}

void ValidateCommon(const std::string& name, const std::string& description, unsigned int flags) {
    ValidateName(name);
    if (description.size() > 511) throw HostCtlException("Invalid description: longer than 511 characters");
    if (flags & ~0xfu) throw HostCtlException(StrPrintf("Invalid user option flags: %u", flags));
}

UserOptionDefinition MakeDefinition(const std::string& name, const std::string& description,
                                    unsigned int flags) {
    UserOptionDefinition d;
    d.name = name;
    d.description = description;
    d.hidden = flags & HostCtl::Adv::USER_OPT_HIDDEN;
    d.hostSpecific = flags & HostCtl::Adv::USER_OPT_HOST_SPECIFIC;
    if (flags & HostCtl::Adv::USER_OPT_REBOOT_REQUIRED)
        d.impact = "reboot";
    else if (flags & HostCtl::Adv::USER_OPT_MAINTENANCE_MODE_REQUIRED)
        d.impact = "maintenance-mode";
    return d;
}

std::string RangeMessage(long value, long minimum, long maximum) {
    return StrPrintf("Value %ld is not in the allowed range [%ld-%ld]", value, minimum, maximum);
}

void ValidateInteger(const std::string& name, const std::string& description, int32_t defaultValue,
                     int32_t minimum, int32_t maximum, unsigned int flags) {
    ValidateCommon(name, description, flags);
    if (minimum > maximum)
        throw HostCtlException(StrPrintf("Invalid range [%d-%d]: minimum above maximum", minimum, maximum));
    if (defaultValue < minimum || defaultValue > maximum)
        throw HostCtlException(RangeMessage(defaultValue, minimum, maximum));
}

void ValidateString(const std::string& name, const std::string& description,
                    const std::string& defaultValue, unsigned int flags) {
    ValidateCommon(name, description, flags);
    if (defaultValue.size() > 511)
        throw HostCtlException("Invalid default value: longer than 511 characters");
}

UserOptionDefinition IntegerDefinition(const std::string& name, const std::string& description,
                                       int32_t defaultValue, int32_t minimum, int32_t maximum,
                                       unsigned int flags) {
    UserOptionDefinition d = MakeDefinition(name, description, flags);
    d.integerDefault = defaultValue;
    d.minimum = minimum;
    d.maximum = maximum;
    return d;
}

UserOptionDefinition StringDefinition(const std::string& name, const std::string& description,
                                      const std::string& defaultValue, unsigned int flags) {
    UserOptionDefinition d = MakeDefinition(name, description, flags);
    d.isString = true;
    d.stringDefault = defaultValue;
    return d;
}

void WriteDefinition(const UserOptionDefinition& d) {
    ConfigStoreTransaction txn(AdvStore());
    AdvStore()->Write(DefinitionObject(d));
    txn.Commit();
}

// Writes (or with `reset`, deletes) a user option's value object in one
// transaction; a store failure is logged and reported as the option's own.
// `shown` is the value as logged, `who` the logging class.
template <class Value>
void WriteUserValue(const char* who, const std::string& name, const char* field, const Value& value,
                    const std::string& shown, bool reset) {
    auto store = AdvStore();
    ConfigStoreTransaction txn(store);
    try {
        if (reset) {
            store->Delete(ValueId(name));
        } else {
            auto o = std::make_shared<ConfigStoreObject>(ValueId(name));
            o->SetValue("option_name", name);
            o->SetValue(field, value);
            store->Write(o);
        }
    } catch (const ConfigStoreException& e) {
        TarnCtl_LogWarnInt("%s: Set %s into configStore with %s failed: %s\n", who, name.c_str(),
                           shown.c_str(), e.GetDetailedMessage().c_str());
        throw HostCtlException("Unable to set value for UserVar " + name);
    }
    TarnCtl_LogVerboseInt("%s: Set %s with value %s into configStore\n", who, name.c_str(), shown.c_str());
    txn.Commit();
}

void AuditSet(const std::string& path, bool unchanged, const std::string& text) {
    if (unchanged)
        EmitAudit::Success("settings.advanced.set", path, "value", text, "comment", "no change");
    else
        EmitAudit::Success("settings.advanced.set", path, "value", text);
}

}  // namespace

bool ParseUserOptionDefinition(const ConfigStoreObject& o, UserOptionDefinition* out) {
    UserOptionDefinition d;
    std::string type, impact;
    if (!o.GetValue("option_name", &d.name)) d.name = o.GetConfigStoreObjectId().GetInstanceId();
    if (!o.GetValue("type", &type)) return false;
    o.GetValue("description", &d.description);
    o.GetValue("hidden", &d.hidden);
    o.GetValue("host_specific", &d.hostSpecific);
    if (o.GetValue("impact", &impact))
        d.impact = impact == "REBOOT_REQUIRED"             ? "reboot"
                   : impact == "MAINTENANCE_MODE_REQUIRED" ? "maintenance-mode"
                                                           : "none";
    if (type == "STRING") {
        d.isString = true;
        auto sub = o.GetSubObject(HaldenConfigStore::SubObjectId("string_definition"));
        if (sub) sub->GetValue("string_default", &d.stringDefault);
    } else if (type == "INTEGER") {
        auto sub = o.GetSubObject(HaldenConfigStore::SubObjectId("integer_definition"));
        if (!sub) return false;
        long v = 0;
        if (sub->GetValue("integer_default", &v)) d.integerDefault = v;
        if (sub->GetValue("min", &v)) d.minimum = v;
        if (sub->GetValue("max", &v)) d.maximum = v;
    } else {
        return false;
    }
    *out = std::move(d);
    return true;
}

bool GetBuiltinUserOptionDefinition(const std::string& name, UserOptionDefinition* out) {
    const auto* row = FindBuiltinUserVar(name);
    if (!row) return false;
    *out = FromBuiltin(*row);
    return true;
}

bool GetUserOptionDefinition(const std::string& name, UserOptionDefinition* out) {
    auto stored = AdvStore()->Get(DefinitionId(name));
    if (stored && ParseUserOptionDefinition(*stored, out)) return true;
    return GetBuiltinUserOptionDefinition(name, out);
}

// ---- Integer user options -------------------------------------------------------

AdvancedUserIntegerOptionImpl::AdvancedUserIntegerOptionImpl(const std::string& name)
    : IntegerOptionImpl(kUserVarsBranch, name) {}

AdvancedUserIntegerOptionImpl::AdvancedUserIntegerOptionImpl(const UserOptionDefinition& definition,
                                                             const ConfigStoreObject* value)
    : IntegerOptionImpl(kUserVarsBranch, definition.name) {
    Fill(definition, value);
    _stale = false;
}

void AdvancedUserIntegerOptionImpl::Fill(const UserOptionDefinition& d, const ConfigStoreObject* value) {
    FillCommon(d.hidden, d.description, d.hostSpecific, d.impact);
    _default = d.integerDefault;
    _minimum = d.minimum;
    _maximum = d.maximum;
    long v = 0;
    _value = value && value->GetValue("integer_value", &v) ? v : _default;
}

void AdvancedUserIntegerOptionImpl::RefreshFromCstore() {
    UserOptionDefinition d;
    if (!GetUserOptionDefinition(_optionName, &d) || d.isString)
        throw HostCtlException("Unable to get values for unregistered UserVar " + _optionName);
    auto value = AdvStore()->Get(ValueId(_optionName));
    Fill(d, value.get());
}

void AdvancedUserIntegerOptionImpl::SetValueInternalCstore(int64_t value, bool reset) {
    WriteUserValue("AdvancedUserIntegerOptionImpl", _optionName, "integer_value", static_cast<long>(value),
                   std::to_string(value), reset);
}

void AdvancedUserIntegerOptionImpl::SetValue(long value) {
    EnsureFresh();
    if (value < _minimum || value > _maximum)
        throw HostCtlException(RangeMessage(value, _minimum, _maximum));
    int64_t old = _value;
    SetValueInternalCstore(value, false);
    _value = value;
    AuditSet(UserPath(_optionName), old == value, std::to_string(value));
}

void AdvancedUserIntegerOptionImpl::SetToDefault() {
    EnsureFresh();
    SetValueInternalCstore(_default, true);
    _value = _default;
    EmitAudit::Success("settings.advanced.reset", UserPath(_optionName), "value", std::to_string(_default));
}

void AdvancedUserIntegerOptionImpl::UpdateValueToCstore() {
    EnsureFresh();
    SetValueInternalCstore(_value, false);
}

// ---- String user options --------------------------------------------------------

AdvancedUserStringOptionImpl::AdvancedUserStringOptionImpl(const std::string& name)
    : StringOptionImpl(kUserVarsBranch, name) {}

AdvancedUserStringOptionImpl::AdvancedUserStringOptionImpl(const UserOptionDefinition& definition,
                                                           const ConfigStoreObject* value,
                                                           const ConfigStoreObject* productLocker)
    : StringOptionImpl(kUserVarsBranch, definition.name) {
    Fill(definition, value, productLocker);
    _stale = false;
}

void AdvancedUserStringOptionImpl::Fill(const UserOptionDefinition& d, const ConfigStoreObject* value,
                                        const ConfigStoreObject* productLocker) {
    FillCommon(d.hidden, d.description, d.hostSpecific, d.impact);
    _default = d.stringDefault;
    if (_optionName == kProductLocker) {
        _value = ProductLockerValue(productLocker, _default);
        return;
    }
    std::string v;
    _value = value && value->GetValue("string_value", &v) ? v : _default;
}

void AdvancedUserStringOptionImpl::RefreshFromCstore() {
    UserOptionDefinition d;
    if (!GetUserOptionDefinition(_optionName, &d) || !d.isString)
        throw HostCtlException("Unable to get values for unregistered UserVar " + _optionName);
    auto store = AdvStore();
    std::shared_ptr<ConfigStoreObject> value, locker;
    if (_optionName == kProductLocker)
        locker = store->Get(ProductLockerId());
    else
        value = store->Get(ValueId(_optionName));
    Fill(d, value.get(), locker.get());
}

void AdvancedUserStringOptionImpl::SetValueInternalCstore(const std::string& value, bool reset) {
    WriteUserValue("AdvancedUserStringOptionImpl", _optionName, "string_value", value, value, reset);
}

void AdvancedUserStringOptionImpl::SetProductLockerInt(const std::string& value) {
    auto store = AdvStore();
    ConfigStoreTransaction txn(store);
    if (value == _default) {
        TarnCtl_LogVerboseInt("%s: Delete configuration of %s from configStore\n",
                              "AdvancedUserStringOptionImpl", _optionName.c_str());
        if (store->Get(ProductLockerId())) store->Delete(ProductLockerId());
    } else {
        TarnCtl_LogVerboseInt("%s: Set %s with value %s into configStore\n",
                              "AdvancedUserStringOptionImpl", _optionName.c_str(), value.c_str());
        auto o = std::make_shared<ConfigStoreObject>(ProductLockerId());
        size_t slash = std::string::npos;
        if (HostCtl::Misc::StartsWith(value, kKdfsVolumes))
            slash = value.find('/', kKdfsVolumes.size());
        if (slash != std::string::npos) {
            std::string datastore = value.substr(kKdfsVolumes.size(), slash - kKdfsVolumes.size());
            std::string path = value.substr(slash);
            TarnCtl_LogVerboseInt("%s: Extracted datastore %s and path %s\n",
                                  "AdvancedUserStringOptionImpl", datastore.c_str(), path.c_str());
            o->SetValue("datastore_name", datastore);
            o->SetValue("path", path);
        } else {
            o->SetValue("path", value);
        }
        store->Write(o);
    }
    txn.Commit();
}

void AdvancedUserStringOptionImpl::SetValue(const std::string& value) {
    EnsureFresh();
    if (_optionName == kProductLocker) {
        SetProductLockerInt(value);
        _value = value;
        return;
    }
    std::string path = UserPath(_optionName);
    if (path == kDisabledProtocolsPath && !DisabledProtocolsAcceptable(value)) {
        EmitAudit::Failure("settings.advanced.set", kDisabledProtocolsMessage, path, "value", value);
        throw HostCtlException(kDisabledProtocolsMessage);
    }
    std::string old = _value;
    SetValueInternalCstore(value, false);
    _value = value;
    AuditSet(path, old == value, value);
}

void AdvancedUserStringOptionImpl::SetToDefault() {
    EnsureFresh();
    if (_optionName == kProductLocker) {
        SetProductLockerInt(_default);
        _value = _default;
        return;
    }
    SetValueInternalCstore(_default, true);
    _value = _default;
    EmitAudit::Success("settings.advanced.reset", UserPath(_optionName), "value", _default);
}

void AdvancedUserStringOptionImpl::UpdateValueToCstore() {
    EnsureFresh();
    if (_optionName == kProductLocker) {
        SetProductLockerInt(_value);
        return;
    }
    SetValueInternalCstore(_value, false);
}

// ---- Definitions -----------------------------------------------------------------

bool UserAdvancedOptionImpl::HasUserOption(const std::string& name) {
    UserOptionDefinition d;
    return GetUserOptionDefinition(name, &d);
}

void UserAdvancedOptionImpl::AddUserIntegerOption(const std::string& name, const std::string& description,
                                                  int32_t defaultValue, int32_t minimum, int32_t maximum,
                                                  unsigned int flags) {
    ValidateInteger(name, description, defaultValue, minimum, maximum, flags);
    if (HasUserOption(name)) throw HostCtlException("Duplicate user option found");
    WriteDefinition(IntegerDefinition(name, description, defaultValue, minimum, maximum, flags));
    TarnCtl_LogInfoInt("%s: Added user option %s\n", "UserAdvancedOptionImpl", name.c_str());
    EmitAudit::Success("settings.advanced.add", UserPath(name), "type", "INTEGER", "value",
                       std::to_string(defaultValue));
}

void UserAdvancedOptionImpl::AddUserStringOption(const std::string& name, const std::string& description,
                                                 const std::string& defaultValue, unsigned int flags) {
    ValidateString(name, description, defaultValue, flags);
    if (HasUserOption(name)) throw HostCtlException("Duplicate user option found");
    WriteDefinition(StringDefinition(name, description, defaultValue, flags));
    TarnCtl_LogInfoInt("%s: Added user option %s\n", "UserAdvancedOptionImpl", name.c_str());
    EmitAudit::Success("settings.advanced.add", UserPath(name), "type", "STRING", "value", defaultValue);
}

void UserAdvancedOptionImpl::UpdateUserIntegerOption(const std::string& name, const std::string& description,
                                                     int32_t defaultValue, int32_t minimum,
                                                     int32_t maximum, unsigned int flags) {
    ValidateInteger(name, description, defaultValue, minimum, maximum, flags);
    UserOptionDefinition old;
    if (!GetUserOptionDefinition(name, &old)) throw HostCtlException("Unable to find option " + name);
    if (old.isString) throw HostCtlException("Invalid type: user option " + name + " is a string option");
    // A value kept from before must still fit the new range.
    auto store = AdvStore();
    auto value = store->Get(ValueId(name));
    long current = 0;
    if (value && value->GetValue("integer_value", &current) && (current < minimum || current > maximum))
        throw HostCtlException(RangeMessage(current, minimum, maximum));
    WriteDefinition(IntegerDefinition(name, description, defaultValue, minimum, maximum, flags));
    EmitAudit::Success("settings.advanced.add", UserPath(name), "type", "INTEGER", "value",
                       std::to_string(defaultValue), "comment", "update");
}

void UserAdvancedOptionImpl::UpdateUserStringOption(const std::string& name, const std::string& description,
                                                    const std::string& defaultValue, unsigned int flags) {
    ValidateString(name, description, defaultValue, flags);
    UserOptionDefinition old;
    if (!GetUserOptionDefinition(name, &old)) throw HostCtlException("Unable to find option " + name);
    if (!old.isString) throw HostCtlException("Invalid type: user option " + name + " is an integer option");
    WriteDefinition(StringDefinition(name, description, defaultValue, flags));
    EmitAudit::Success("settings.advanced.add", UserPath(name), "type", "STRING", "value", defaultValue,
                       "comment", "update");
}

void UserAdvancedOptionImpl::DeleteOption(const std::string& name, bool ignoreMissing) {
    UserOptionDefinition d;
    if (!GetUserOptionDefinition(name, &d)) {
        if (ignoreMissing) return;
        throw HostCtlException("Unable to find option " + name);
    }
    if (FindBuiltinUserVar(name))
        throw HostCtlException("Unable to delete built-in user option " + name);
    auto store = AdvStore();
    ConfigStoreTransaction txn(store);
    store->Delete(DefinitionId(name));
    store->Delete(ValueId(name));
    txn.Commit();
    TarnCtl_LogVerboseInt("%s: Delete configuration of %s from configStore\n", "UserAdvancedOptionImpl",
                          name.c_str());
    EmitAudit::Success("settings.advanced.delete", UserPath(name));
}

}  // namespace TarnCtl::Adv
