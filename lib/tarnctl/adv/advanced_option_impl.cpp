// Kernel advanced options: lazy refresh from the kernel record, and writes that
// go to the kernel first and to the configuration store only once the kernel
// accepted them, in one store transaction, followed by the audit record.
#include "adv/advanced_option_impl.h"

#include <cstring>
#include <functional>
#include <vector>

#include "adv/adv_config.h"
#include "adv/adv_names.h"
#include "adv/advanced_option_branch_impl.h"
#include "hostctl/exception.h"
#include "ksi/adv.h"
#include "platform/audit.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;
namespace EmitAudit = TarnCtl::Util::EmitAudit;

namespace TarnCtl::Adv {

namespace {

// Text fields of kernel records are NUL-terminated unless they fill the field.
std::string RecordText(const char* text, size_t size) { return std::string(text, strnlen(text, size)); }

// A kernel refusal names the option and carries the kernel's status and events.
void SetKernel(TarnCtl::Util::Sysinfo& si, const std::string& path) {
    try {
        si.Set();
    } catch (const TarnCtl::Lib::SysinfoException& e) {
        throw TarnCtl::Lib::SysinfoException(
            "Unable to set option " + path + HostCtl::Lib::StatusTail(e.GetStatus()), e.GetStatus(),
            e.GetKevtMessage());
    }
}

// Persists or drops one field of a branch's store object; the object goes
// away with its last field.
void StoreField(const std::string& branch, const std::string& field,
                const std::function<void(ConfigStoreObject&)>& set) {
    auto store = AdvStore();
    auto id = GetCsObjId(branch);
    auto object = store->Get(id);
    if (!object) object = std::make_shared<ConfigStoreObject>(id);
    set(*object);
    store->Write(object);
}

void RemoveStoreField(const std::string& branch, const std::string& field) {
    auto store = AdvStore();
    auto id = GetCsObjId(branch);
    auto object = store->Get(id);
    if (!object || !object->Remove(field)) return;
    if (object->IsEmpty())
        store->Delete(id);
    else
        store->Write(object);
}

}  // namespace

// ---- AdvancedOptionImpl ---------------------------------------------------------

AdvancedOptionImpl::AdvancedOptionImpl(std::string branchName, std::string optionName)
    : _branchName(std::move(branchName)), _optionName(std::move(optionName)) {}

void AdvancedOptionImpl::Refresh() {
    RefreshInt();
    _stale = false;
}

std::string AdvancedOptionImpl::GetOptionName() {
    EnsureFresh();
    return _optionName;
}

std::string AdvancedOptionImpl::GetOptionPath() { return "/" + _branchName + "/" + _optionName; }

std::string AdvancedOptionImpl::GetDescription() {
    EnsureFresh();
    return _description;
}

bool AdvancedOptionImpl::IsHostSpecific() {
    EnsureFresh();
    return _hostSpecific;
}

std::string AdvancedOptionImpl::GetImpact() {
    EnsureFresh();
    return _impact;
}

const char* AdvancedOptionImpl::ImpactOf(bool reboot, bool maintenance) {
    if (reboot) return "reboot";
    if (maintenance) return "maintenance-mode";
    return "none";
}

std::unique_ptr<HostCtl::Adv::AdvancedOption> AdvancedOptionImpl::FindOption(const std::string& path) {
    if (path.empty() || path[0] != '/')
        throw HostCtlException("Invalid option name (no slash): " + path);
    std::vector<std::string> parts;
    HostCtl::Misc::StringTokenize(path, parts, "/");
    if (parts.empty()) throw HostCtlException("Unable to find option " + path);
    std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch> branch =
        std::make_unique<AdvancedOptionBranchImpl>();
    for (size_t i = 0; i + 1 < parts.size(); ++i) branch = branch->GetBranchByName(parts[i]);
    return branch->GetOptionByName(parts.back());
}

// ---- AdvancedIntegerOptionImpl ----------------------------------------------------

AdvancedIntegerOptionImpl::AdvancedIntegerOptionImpl(std::string branchName, std::string optionName)
    : AdvancedOptionImpl(std::move(branchName), std::move(optionName)) {}

AdvancedIntegerOptionImpl::AdvancedIntegerOptionImpl(std::string branchName, std::string optionName,
                                                     const Ksi::Adv::IntOption& record)
    : AdvancedOptionImpl(std::move(branchName), std::move(optionName)) {
    Fill(record);
    _stale = false;
}

void AdvancedIntegerOptionImpl::Fill(const Ksi::Adv::IntOption& r) {
    _default = r.defaultValue;
    _minimum = r.minimum;
    _maximum = r.maximum;
    _value = r.currentValue;
    _hidden = r.hidden != 0;
    _description = RecordText(r.description, sizeof(r.description));
    _hostSpecific = r.hostSpecific != 0;
    _impact = ImpactOf(r.rebootRequired, r.maintenanceModeRequired);
}

void AdvancedIntegerOptionImpl::RefreshInt() {
    Util::Sysinfo si(KSI_NODE_config_intOpts);
    si.SetInstance(_branchName);
    si.AddInstancePath(_optionName);
    Ksi::Adv::IntOption record{};
    si.Get(&record, sizeof(record));
    Fill(record);
}

int64_t AdvancedIntegerOptionImpl::GetDefaultValue() {
    EnsureFresh();
    return _default;
}
int64_t AdvancedIntegerOptionImpl::GetMinimum() {
    EnsureFresh();
    return _minimum;
}
int64_t AdvancedIntegerOptionImpl::GetMaximum() {
    EnsureFresh();
    return _maximum;
}
int64_t AdvancedIntegerOptionImpl::GetValue() {
    EnsureFresh();
    return _value;
}

void AdvancedIntegerOptionImpl::WriteKernel(int64_t value) {
    Util::Sysinfo si(KSI_NODE_config_intOpts);
    si.SetInstance(_branchName);
    si.AddInstancePath(_optionName);
    si.AddInput(static_cast<long>(value));
    SetKernel(si, GetOptionPath());
    // The kernel took the value; whatever else it derived is re-read on next use.
    _value = value;
    _stale = true;
}

void AdvancedIntegerOptionImpl::UpdateValueToCstore() {
    EnsureFresh();
    std::string field = GetConfigstoreOptionName(_branchName, _optionName);
    int64_t value = _value;
    StoreField(_branchName, field, [&](ConfigStoreObject& o) { o.SetValue(field, static_cast<long>(value)); });
}

void AdvancedIntegerOptionImpl::SetValue(long value) {
    EnsureFresh();
    int64_t old = _value;
    auto store = AdvStore();
    if (store->IsBoot()) {
        // Boot replays values; the store already holds them.
        WriteKernel(value);
        return;
    }
    {
        ConfigStoreTransaction txn(store);
        WriteKernel(value);
        std::string field = GetConfigstoreOptionName(_branchName, _optionName);
        StoreField(_branchName, field, [&](ConfigStoreObject& o) { o.SetValue(field, value); });
        txn.Commit();
    }
    TarnCtl_LogInfoInt("%s: Set %s to %ld\n", "AdvancedOption", GetOptionPath().c_str(), value);
    if (old == value)
        EmitAudit::Success("settings.advanced.set", GetOptionPath(), "value", std::to_string(old),
                           "comment", "no change");
    else
        EmitAudit::Success("settings.advanced.set", GetOptionPath(), "value", std::to_string(value));
}

void AdvancedIntegerOptionImpl::SetToDefault() {
    EnsureFresh();
    int64_t def = _default;
    auto store = AdvStore();
    {
        ConfigStoreTransaction txn(store);
        WriteKernel(def);
        if (!store->IsBoot())
            RemoveStoreField(_branchName, GetConfigstoreOptionName(_branchName, _optionName));
        txn.Commit();
    }
    if (store->IsBoot()) return;
    TarnCtl_LogInfoInt("%s: Reset %s to %ld\n", "AdvancedOption", GetOptionPath().c_str(),
                       static_cast<long>(def));
    EmitAudit::Success("settings.advanced.reset", GetOptionPath(), "value", std::to_string(def));
}

void AdvancedIntegerOptionImpl::LoadConfig() {
    auto object = AdvStore()->Get(GetCsObjId(_branchName));
    long value = 0;
    if (!object || !object->GetValue(GetConfigstoreOptionName(_branchName, _optionName), &value))
        return;
    WriteKernel(value);
}

void AdvancedIntegerOptionImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    EnsureFresh();
    printer->SetType("Advanced Integer Option");
    printer->BeginObject();
    printer->Print("Path", GetOptionPath());
    printer->Print("Type", "integer");
    printer->Print("Int Value", _value);
    printer->Print("Default Int Value", _default);
    printer->Print("Min Value", _minimum);
    printer->Print("Max Value", _maximum);
    printer->Print("Description", _description);
    printer->Print("Host Specific", _hostSpecific);
    printer->Print("Impact", _impact);
    printer->EndObject();
}

// ---- AdvancedStringOptionImpl -----------------------------------------------------

AdvancedStringOptionImpl::AdvancedStringOptionImpl(std::string branchName, std::string optionName)
    : AdvancedOptionImpl(std::move(branchName), std::move(optionName)) {}

AdvancedStringOptionImpl::AdvancedStringOptionImpl(std::string branchName, std::string optionName,
                                                   const Ksi::Adv::StrOption& record)
    : AdvancedOptionImpl(std::move(branchName), std::move(optionName)) {
    Fill(record);
    _stale = false;
}

void AdvancedStringOptionImpl::Fill(const Ksi::Adv::StrOption& r) {
    _default = RecordText(r.defaultValue, sizeof(r.defaultValue));
    _validCharacters = RecordText(r.validCharacters, sizeof(r.validCharacters));
    _value = RecordText(r.currentValue, sizeof(r.currentValue));
    _hidden = r.hidden != 0;
    _description = RecordText(r.description, sizeof(r.description));
    _hostSpecific = r.hostSpecific != 0;
    _impact = ImpactOf(r.rebootRequired, r.maintenanceModeRequired);
}

void AdvancedStringOptionImpl::RefreshInt() {
    Util::Sysinfo si(KSI_NODE_config_strOpts);
    si.SetInstance(_branchName);
    si.AddInstancePath(_optionName);
    Ksi::Adv::StrOption record{};
    si.Get(&record, sizeof(record));
    Fill(record);
}

std::string AdvancedStringOptionImpl::GetDefaultValue() {
    EnsureFresh();
    return _default;
}
std::string AdvancedStringOptionImpl::GetValidCharacters() {
    EnsureFresh();
    return _validCharacters;
}
std::string AdvancedStringOptionImpl::GetValue() {
    EnsureFresh();
    return _value;
}

void AdvancedStringOptionImpl::WriteKernel(const std::string& value) {
    Util::Sysinfo si(KSI_NODE_config_strOpts);
    si.SetInstance(_branchName);
    si.AddInstancePath(_optionName);
    si.AddInput(value);
    SetKernel(si, GetOptionPath());
    _value = value;
    _stale = true;
}

void AdvancedStringOptionImpl::UpdateValueToCstore() {
    EnsureFresh();
    std::string field = GetConfigstoreOptionName(_branchName, _optionName);
    std::string value = _value;
    StoreField(_branchName, field, [&](ConfigStoreObject& o) { o.SetValue(field, value); });
}

void AdvancedStringOptionImpl::SetValue(const std::string& value) {
    EnsureFresh();
    std::string old = _value;
    auto store = AdvStore();
    if (store->IsBoot()) {
        WriteKernel(value);
        return;
    }
    {
        ConfigStoreTransaction txn(store);
        WriteKernel(value);
        std::string field = GetConfigstoreOptionName(_branchName, _optionName);
        StoreField(_branchName, field, [&](ConfigStoreObject& o) { o.SetValue(field, value); });
        txn.Commit();
    }
    TarnCtl_LogInfoInt("%s: Set %s to \"%s\"\n", "AdvancedOption", GetOptionPath().c_str(),
                       value.c_str());
    if (old == value)
        EmitAudit::Success("settings.advanced.set", GetOptionPath(), "value", old, "comment",
                           "no change");
    else
        EmitAudit::Success("settings.advanced.set", GetOptionPath(), "value", value);
}

void AdvancedStringOptionImpl::SetToDefault() {
    EnsureFresh();
    std::string def = _default;
    auto store = AdvStore();
    {
        ConfigStoreTransaction txn(store);
        WriteKernel(def);
        if (!store->IsBoot())
            RemoveStoreField(_branchName, GetConfigstoreOptionName(_branchName, _optionName));
        txn.Commit();
    }
    if (store->IsBoot()) return;
    TarnCtl_LogInfoInt("%s: Reset %s to \"%s\"\n", "AdvancedOption", GetOptionPath().c_str(),
                       def.c_str());
    EmitAudit::Success("settings.advanced.reset", GetOptionPath(), "value", def);
}

void AdvancedStringOptionImpl::LoadConfig() {
    auto object = AdvStore()->Get(GetCsObjId(_branchName));
    std::string value;
    if (!object || !object->GetValue(GetConfigstoreOptionName(_branchName, _optionName), &value))
        return;
    WriteKernel(value);
}

void AdvancedStringOptionImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    EnsureFresh();
    printer->SetType("Advanced String Option");
    printer->BeginObject();
    printer->Print("Path", GetOptionPath());
    printer->Print("Type", "string");
    printer->Print("String Value", _value);
    printer->Print("Default String Value", _default);
    printer->Print("Valid Characters", _validCharacters);
    printer->Print("Description", _description);
    printer->Print("Host Specific", _hostSpecific);
    printer->Print("Impact", _impact);
    printer->EndObject();
}

}  // namespace TarnCtl::Adv
