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

// The kernel node of one option: the record node addressed by branch and name.
void Address(Util::Sysinfo& si, const AdvancedOptionImpl& option) {
    si.SetInstance(option.GetBranchName());
    si.AddInstancePath(option.GetName());
}

template <class Record>
Record ReadRecord(unsigned int node, const AdvancedOptionImpl& option) {
    Util::Sysinfo si(node);
    Address(si, option);
    Record record{};
    si.Get(&record, sizeof(record));
    return record;
}

template <class Value>
void WriteRecord(unsigned int node, AdvancedOptionImpl& option, const Value& value) {
    Util::Sysinfo si(node);
    Address(si, option);
    si.AddInput(value);
    SetKernel(si, option.GetOptionPath());
}

// The option's field in its branch's store object; false when nothing is stored.
template <class Value>
bool StoredValue(const AdvancedOptionImpl& option, Value* out) {
    const std::string& branch = option.GetBranchName();
    auto object = AdvStore()->Get(GetCsObjId(branch));
    return object && object->GetValue(GetConfigstoreOptionName(branch, option.GetName()), out);
}

// Persists the option's field in its branch's store object.
template <class Value>
void StoreValue(const AdvancedOptionImpl& option, const Value& value) {
    const std::string& branch = option.GetBranchName();
    auto store = AdvStore();
    auto id = GetCsObjId(branch);
    auto object = store->Get(id);
    if (!object) object = std::make_shared<ConfigStoreObject>(id);
    object->SetValue(GetConfigstoreOptionName(branch, option.GetName()), value);
    store->Write(object);
}

// Drops the option's field; the branch's object goes away with its last field.
void RemoveStoredValue(const AdvancedOptionImpl& option) {
    const std::string& branch = option.GetBranchName();
    auto store = AdvStore();
    auto id = GetCsObjId(branch);
    auto object = store->Get(id);
    if (!object || !object->Remove(GetConfigstoreOptionName(branch, option.GetName()))) return;
    if (object->IsEmpty())
        store->Delete(id);
    else
        store->Write(object);
}

std::string Quoted(const std::string& value) { return "\"" + value + "\""; }
std::string AsText(long value) { return std::to_string(value); }
std::string AsText(const std::string& value) { return value; }
std::string Shown(long value) { return std::to_string(value); }
std::string Shown(const std::string& value) { return Quoted(value); }

// A set goes to the kernel first and, outside boot (which replays values the
// store already holds), to the store in the same transaction; then the log
// line and the audit record. `writeKernel` returns the value the kernel kept,
// which is what is stored and audited; `old` is the value before, as audited.
template <class Value>
void SetPersisted(AdvancedOptionImpl& option, const std::function<Value()>& writeKernel, const std::string old) {
    auto store = AdvStore();
    if (store->IsBoot()) {
        writeKernel();
        return;
    }
    Value kept{};
    {
        ConfigStoreTransaction txn(store);
        kept = writeKernel();
        StoreValue(option, kept);
        txn.Commit();
    }
    const std::string text = AsText(kept);
    TarnCtl_LogInfoInt("%s: Set %s to %s\n", "AdvancedOption", option.GetOptionPath().c_str(), Shown(kept).c_str());
    if (old == text)
        EmitAudit::Success("settings.advanced.set", option.GetOptionPath(), "value", old, "comment",
                           "no change");
    else
        EmitAudit::Success("settings.advanced.set", option.GetOptionPath(), "value", text);
}

// A reset writes the default to the kernel and drops the stored field.
void ResetPersisted(AdvancedOptionImpl& option, const std::function<void()>& writeKernel,
                    const std::string& shown, const std::string& text) {
    auto store = AdvStore();
    {
        ConfigStoreTransaction txn(store);
        writeKernel();
        if (!store->IsBoot()) RemoveStoredValue(option);
        txn.Commit();
    }
    if (store->IsBoot()) return;
    TarnCtl_LogInfoInt("%s: Reset %s to %s\n", "AdvancedOption", option.GetOptionPath().c_str(),
                       shown.c_str());
    EmitAudit::Success("settings.advanced.reset", option.GetOptionPath(), "value", text);
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
    return _description.Str();
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

void AdvancedOptionImpl::FillCommon(bool hidden, std::string_view description, bool hostSpecific,
                                    std::string_view impact) {
    FillFlags(hidden, hostSpecific);
    _description.Assign(description);
    _impact = ImpactOf(impact == "reboot", impact == "maintenance-mode");
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

// ---- Integer and string options, kernel and user ----------------------------------

int64_t IntegerOptionImpl::GetDefaultValue() {
    EnsureFresh();
    return _default;
}
int64_t IntegerOptionImpl::GetMinimum() {
    EnsureFresh();
    return _minimum;
}
int64_t IntegerOptionImpl::GetMaximum() {
    EnsureFresh();
    return _maximum;
}
int64_t IntegerOptionImpl::GetValue() {
    EnsureFresh();
    return _value;
}

void IntegerOptionImpl::PrintAs(TarnCtl::Lib::ObjectPrinter* printer, const char* type) {
    EnsureFresh();
    printer->SetType(type);
    printer->BeginObject();
    printer->Print("Path", GetOptionPath());
    printer->Print("Type", "integer");
    printer->Print("Int Value", _value);
    printer->Print("Default Int Value", _default);
    printer->Print("Min Value", _minimum);
    printer->Print("Max Value", _maximum);
    printer->Print("Description", GetDescription());
    printer->Print("Host Specific", _hostSpecific);
    printer->Print("Impact", GetImpact());
    printer->EndObject();
}

std::string StringOptionImpl::GetDefaultValue() {
    EnsureFresh();
    return _default;
}
std::string StringOptionImpl::GetValue() {
    EnsureFresh();
    return _value;
}

void StringOptionImpl::PrintAs(TarnCtl::Lib::ObjectPrinter* printer, const char* type,
                               const std::string* validCharacters) {
    EnsureFresh();
    printer->SetType(type);
    printer->BeginObject();
    printer->Print("Path", GetOptionPath());
    printer->Print("Type", "string");
    printer->Print("String Value", _value);
    printer->Print("Default String Value", _default);
    if (validCharacters) printer->Print("Valid Characters", *validCharacters);
    printer->Print("Description", GetDescription());
    printer->Print("Host Specific", _hostSpecific);
    printer->Print("Impact", GetImpact());
    printer->EndObject();
}

// ---- AdvancedIntegerOptionImpl ----------------------------------------------------

AdvancedIntegerOptionImpl::AdvancedIntegerOptionImpl(std::string branchName, std::string optionName)
    : IntegerOptionImpl(std::move(branchName), std::move(optionName)) {}

TARN_ReturnStatus AdvancedIntegerOptionImpl::ReadFrom(Util::Sysinfo& node) {
    // Zeroed: a kernel that hands out a shorter record leaves the rest empty, not indeterminate.
    Ksi::Adv::IntOption record{};
    TARN_ReturnStatus st = node.Get(&record, sizeof(record));
    if (st == TARN_OK) {
        Fill(record);
        _stale = false;
    }
    return st;
}

void AdvancedIntegerOptionImpl::Fill(const Ksi::Adv::IntOption& r) {
    _default = r.defaultValue;
    _minimum = r.minimum;
    _maximum = r.maximum;
    _value = r.currentValue;
    FillCommonFrom(r);
}

void AdvancedIntegerOptionImpl::RefreshInt() {
    // A failed read leaves the option as it was.
    Fill(ReadRecord<Ksi::Adv::IntOption>(KSI_NODE_config_intOpts, *this));
}

int64_t AdvancedIntegerOptionImpl::WriteKernel(int64_t value) {
    WriteRecord(KSI_NODE_config_intOpts, *this, static_cast<long>(value));
    // The kernel may keep another value than the one given (rounded to its
    // granularity); its record holds the value set.
    RefreshInt();
    _stale = false;
    return _value;
}

void AdvancedIntegerOptionImpl::UpdateValueToCstore() {
    EnsureFresh();
    StoreValue(*this, static_cast<long>(_value));
}

void AdvancedIntegerOptionImpl::SetValue(long value) {
    EnsureFresh();
    SetPersisted<long>(*this, [&] { return static_cast<long>(WriteKernel(value)); }, std::to_string(_value));
}

void AdvancedIntegerOptionImpl::SetToDefault() {
    EnsureFresh();
    int64_t def = _default;
    std::string text = std::to_string(def);
    ResetPersisted(*this, [&] { WriteKernel(def); }, text, text);
}

void AdvancedIntegerOptionImpl::LoadConfig() {
    long value = 0;
    if (StoredValue(*this, &value)) WriteKernel(value);
}

// ---- AdvancedStringOptionImpl -----------------------------------------------------

AdvancedStringOptionImpl::AdvancedStringOptionImpl(std::string branchName, std::string optionName)
    : StringOptionImpl(std::move(branchName), std::move(optionName)) {}

AdvancedStringOptionImpl::AdvancedStringOptionImpl(std::string branchName, std::string optionName,
                                                   const Ksi::Adv::StrOption& record)
    : StringOptionImpl(std::move(branchName), std::move(optionName)) {
    Fill(record);
    _stale = false;
}

void AdvancedStringOptionImpl::Fill(const Ksi::Adv::StrOption& r) {
    _default = RecordText(r.defaultValue, sizeof(r.defaultValue));
    _validCharacters = RecordText(r.validCharacters, sizeof(r.validCharacters));
    _value = RecordText(r.currentValue, sizeof(r.currentValue));
    FillCommonFrom(r);
}

void AdvancedStringOptionImpl::RefreshInt() {
    Fill(ReadRecord<Ksi::Adv::StrOption>(KSI_NODE_config_strOpts, *this));
}

std::string AdvancedStringOptionImpl::GetValidCharacters() {
    EnsureFresh();
    return _validCharacters;
}

void AdvancedStringOptionImpl::WriteKernel(const std::string& value) {
    WriteRecord(KSI_NODE_config_strOpts, *this, value);
    _value = value;
    _stale = true;
}

void AdvancedStringOptionImpl::UpdateValueToCstore() {
    EnsureFresh();
    StoreValue(*this, _value);
}

void AdvancedStringOptionImpl::SetValue(const std::string& value) {
    EnsureFresh();
    SetPersisted<std::string>(*this, [&] {
        WriteKernel(value);
        return value;
    }, _value);
}

void AdvancedStringOptionImpl::SetToDefault() {
    EnsureFresh();
    std::string def = _default;
    ResetPersisted(*this, [&] { WriteKernel(def); }, Quoted(def), def);
}

void AdvancedStringOptionImpl::LoadConfig() {
    std::string value;
    if (StoredValue(*this, &value)) WriteKernel(value);
}

}  // namespace TarnCtl::Adv
