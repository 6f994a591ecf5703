// Kernel boot options. A value set now is for the next boot: it goes to the
// boot configuration first (what the kernel reads when it starts), then to the
// store in the same transaction; a failed store commit puts the boot
// configuration back. Values are checked against the option's exact type
// before anything is written.
#include "system/kernel_opts.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "hostctl/exception.h"
#include "platform/audit.h"
#include "platform/boot.h"
#include "platform/bootconfig.h"
#include "platform/configfile.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "system/kernel_opt_impl.h"

using HaldenConfigStore::ConfigStore;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::ConfigStoreTransaction;
using HostCtl::Lib::HostCtlException;
using HostCtl::System::KernelOption;
using Ksi::BootOptions::Row;
namespace EmitAudit = TarnCtl::Util::EmitAudit;

namespace TarnCtl::System {

namespace {

const char* kTag = "KernelOpts";

std::shared_ptr<ConfigStore> Store() { return ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace); }

// A value as one of the three calls gives it.
struct Value {
    KernelOption::OptionType type;  // TYPE_BOOL, TYPE_INT64 (any integer) or TYPE_STRING
    bool b = false;
    long n = 0;
    std::string s;
};

// The integer range of an option type.
void IntRange(KernelOption::OptionType type, long* lo, long* hi) {
    switch (type) {
        case KernelOption::TYPE_UINT8: *lo = 0, *hi = UINT8_MAX; break;
        case KernelOption::TYPE_UINT32: *lo = 0, *hi = UINT32_MAX; break;
        case KernelOption::TYPE_INT32: *lo = INT32_MIN, *hi = INT32_MAX; break;
        default: *lo = LONG_MIN, *hi = LONG_MAX; break;
    }
}

void CheckValue(const Row& row, const Value& v) {
    auto type = KernelOpts::GetOptionType(row);
    if (v.type == KernelOption::TYPE_INT64) {
        long lo, hi;
        IntRange(type, &lo, &hi);
        if (v.n < lo || v.n > hi)
            throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid value %ld for key (%s): must be between %ld and %ld",
                                                            v.n, row.name, lo, hi));
    } else if (v.type == KernelOption::TYPE_STRING) {
        if (v.s.size() >= Ksi::BootOptions::kStringSize)
            throw HostCtlException(HostCtl::Misc::StrPrintf("Invalid value for key (%s): longer than %u bytes", row.name,
                                                            Ksi::BootOptions::kStringSize - 1));
        if (v.s.find_first_of("\"\r\n") != std::string::npos)
            throw HostCtlException(std::string("Invalid value for key (") + row.name +
                                   "): contains a double quote or a line break");
    }
}

std::string ValueText(const Value& v) {
    if (v.type == KernelOption::TYPE_BOOL) return v.b ? "TRUE" : "FALSE";
    if (v.type == KernelOption::TYPE_INT64) return std::to_string(v.n);
    return v.s;
}

void PutField(ConfigStoreObject& o, const Row& row, const Value& v) {
    if (v.type == KernelOption::TYPE_BOOL)
        o.SetValue(row.storeField, v.b);
    else if (v.type == KernelOption::TYPE_INT64)
        o.SetValue(row.storeField, v.n);
    else
        o.SetValue(row.storeField, v.s);
}

// The option's value from the text of the host configuration file or the boot
// configuration, by the option's own type.
Value ParseText(const Row& row, const std::string& text) {
    auto type = KernelOpts::GetOptionType(row);
    Value v;
    if (type == KernelOption::TYPE_BOOL) {
        v.type = type;
        if (strcasecmp(text.c_str(), "TRUE") == 0)
            v.b = true;
        else if (strcasecmp(text.c_str(), "FALSE") != 0)
            throw HostCtlException("Invalid value '" + text + "' for key (" + row.name + "): not TRUE or FALSE");
        return v;
    }
    if (type == KernelOption::TYPE_STRING) {
        v.type = type;
        v.s = text;
        return v;
    }
    v.type = KernelOption::TYPE_INT64;
    char* end = nullptr;
    errno = 0;
    v.n = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || errno || *end)
        throw HostCtlException("Invalid value '" + text + "' for key (" + row.name + "): not a number");
    return v;
}

// The run-time record, or empty when the kernel does not answer.
std::string ReadRuntimeRecord() {
    std::string record(Ksi::BootOptions::kRecordSize, '\0');
    Util::Sysinfo si(KSI_NODE_system_tarn_cotable);
    si.Get(record.data(), Ksi::BootOptions::kRecordSize);
    return record;
}

template <typename T>
T RecordValue(const std::string& record, const Row& row) {
    T v{};
    std::memcpy(&v, record.data() + row.offset, sizeof(T));
    return v;
}

template <>
bool RecordValue<bool>(const std::string& record, const Row& row) {
    return record[row.offset] != 0;
}

template <>
std::string RecordValue<std::string>(const std::string& record, const Row& row) {
    const char* p = record.data() + row.offset;
    return std::string(p, strnlen(p, row.size));
}

template <typename T>
T DefaultValue(const Row& row) {
    if constexpr (std::is_same_v<T, bool>) {
        return strcasecmp(row.defaultValue, "TRUE") == 0;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return row.defaultValue;
    } else {
        return static_cast<T>(std::strtoll(row.defaultValue, nullptr, 10));
    }
}

// The configured value: the store field when it holds one of the right type,
// else the default.
template <typename T>
T ConfiguredValue(const ConfigStoreObject* object, const Row& row) {
    if (object && object->HasValue(row.storeField)) {
        if constexpr (std::is_same_v<T, bool>) {
            bool b;
            if (object->GetValue(row.storeField, &b)) return b;
        } else if constexpr (std::is_same_v<T, std::string>) {
            std::string s;
            if (object->GetValue(row.storeField, &s)) return s;
        } else {
            long n;
            if (object->GetValue(row.storeField, &n)) return static_cast<T>(n);
        }
        TarnCtl_LogWarnInt("%s: Could not get value for '%s': %s\n", kTag, row.name, "stored value has the wrong type");
    }
    return DefaultValue<T>(row);
}

template <typename Impl, typename T>
std::unique_ptr<KernelOptionImpl> Make(const Row& row, const ConfigStoreObject* object, const std::string& record) {
    T def = DefaultValue<T>(row);
    T runtime = record.empty() ? def : RecordValue<T>(record, row);
    return std::make_unique<Impl>(row, ConfiguredValue<T>(object, row), runtime, def);
}

std::unique_ptr<KernelOptionImpl> MakeOption(const Row& row, const ConfigStoreObject* object,
                                             const std::string& record) {
    switch (KernelOpts::GetOptionType(row)) {
        case KernelOption::TYPE_BOOL: return Make<KernelBoolOptionImpl, bool>(row, object, record);
        case KernelOption::TYPE_INT32: return Make<KernelInt32OptionImpl, int32_t>(row, object, record);
        case KernelOption::TYPE_UINT8: return Make<KernelUint8OptionImpl, uint8_t>(row, object, record);
        case KernelOption::TYPE_UINT32: return Make<KernelUint32OptionImpl, uint32_t>(row, object, record);
        case KernelOption::TYPE_INT64: return Make<KernelInt64OptionImpl, int64_t>(row, object, record);
        default: return Make<KernelStringOptionImpl, std::string>(row, object, record);
    }
}

std::string RuntimeRecordOrEmpty() {
    try {
        return ReadRuntimeRecord();
    } catch (const HostCtlException& e) {
        TarnCtl_LogWarnInt("%s: Could not get option values: %s\n", kTag, e.GetDetailedMessage().c_str());
        return "";
    }
}

void SetOptionInt(const std::string& name, const Value& value) {
    const Row& row = KernelOpts::GetOptionInfo(name);
    KernelOpts::CheckOptionType(name, value.type);
    if (!row.saveable) throw HostCtlException("Kernel option cannot be saved: " + name);
    CheckValue(row, value);
    auto store = Store();
    auto current = store->Get(KernelOpts::StoreId());
    auto updated = current ? current->Clone() : std::make_shared<ConfigStoreObject>(KernelOpts::StoreId());
    PutField(*updated, row, value);
    if (store->IsBoot()) {
        // Boot replays: the boot configuration follows, nothing is recorded.
        HaldenConfigStore::UpdateKernelOptions(*updated);
        return;
    }
    {
        ConfigStoreTransaction txn(store);
        HaldenConfigStore::UpdateKernelOptions(*updated);
        try {
            store->Write(updated);
            txn.Commit();
        } catch (const HostCtlException&) {
            // The store kept the old values: so must the next boot.
            try {
                HaldenConfigStore::UpdateKernelOptions(current ? *current : ConfigStoreObject(KernelOpts::StoreId()));
            } catch (const HostCtlException& e) {
                TarnCtl_LogErrorInt("%s: Unable to restore the boot configuration: %s\n", kTag,
                                    e.GetDetailedMessage().c_str());
            }
            throw;
        }
    }
    std::string text = ValueText(value);
    TarnCtl_LogInfoInt("%s: Set boot option %s to %s\n", kTag, name.c_str(), text.c_str());
    EmitAudit::Success("settings.kernel.set", name, "value", text);
}

}  // namespace

// ---- KernelOpts -------------------------------------------------------------------------

ConfigStoreObjectId KernelOpts::StoreId() { return ConfigStoreObjectId("options", "tarnos", "halden"); }

std::vector<std::string> KernelOpts::GetOptionNames() {
    std::vector<std::string> out;
    out.reserve(Ksi::BootOptions::kRowCount);
    for (size_t i = 0; i < Ksi::BootOptions::kRowCount; ++i) out.push_back(Ksi::BootOptions::kRows[i].name);
    return out;
}

const Row& KernelOpts::GetOptionInfo(const std::string& name) {
    const Row* row = Ksi::BootOptions::FindRow(name.c_str());
    if (!row) throw HostCtlException("Invalid Key Name: " + name);
    return *row;
}

KernelOpts::OptionType KernelOpts::GetOptionType(const Row& row) {
    std::string type = row.type, parser = row.parser;
    if (type == "Bool" && parser == "TrueFalse") return KernelOption::TYPE_BOOL;
    if (parser == "atoi") {
        if (type == "int32") return KernelOption::TYPE_INT32;
        if (type == "uint8") return KernelOption::TYPE_UINT8;
        if (type == "uint32") return KernelOption::TYPE_UINT32;
        if (type == "int64") return KernelOption::TYPE_INT64;
    }
    return KernelOption::TYPE_STRING;
}

KernelOpts::OptionType KernelOpts::GetOptionType(const std::string& name) {
    return GetOptionType(GetOptionInfo(name));
}

std::string KernelOpts::GetOptionTypeString(OptionType type) {
    switch (type) {
        case KernelOption::TYPE_STRING: return "string";
        case KernelOption::TYPE_BOOL: return "Bool";
        case KernelOption::TYPE_INT32: return "int32";
        case KernelOption::TYPE_UINT8: return "uint8";
        case KernelOption::TYPE_UINT32: return "uint32";
        case KernelOption::TYPE_INT64: return "int64";
        default: return "Unknown";
    }
}

void KernelOpts::CheckOptionType(const std::string& name, OptionType type) {
    OptionType actual = GetOptionType(name);
    bool integer = actual == KernelOption::TYPE_INT32 || actual == KernelOption::TYPE_UINT8 ||
                   actual == KernelOption::TYPE_UINT32 || actual == KernelOption::TYPE_INT64;
    bool ok = type == KernelOption::TYPE_INT64 ? integer : type == actual;
    if (!ok)
        throw HostCtlException("Invalid type '" + GetOptionTypeString(type) + "' for key (" + name + ") '" +
                               GetOptionTypeString(actual) + "'");
}

std::map<std::string, std::string> KernelOpts::GetCurrentValues() {
    std::string record = ReadRuntimeRecord();
    std::map<std::string, std::string> out;
    for (size_t i = 0; i < Ksi::BootOptions::kRowCount; ++i) {
        const Row& row = Ksi::BootOptions::kRows[i];
        out[row.name] = MakeOption(row, nullptr, record)->GetRuntimeValueString();
    }
    return out;
}

std::vector<std::unique_ptr<HostCtl::System::KernelOption>> KernelOpts::GetAllOptions(bool all) {
    std::string record = RuntimeRecordOrEmpty();
    auto object = Store()->Get(StoreId());
    std::vector<std::unique_ptr<HostCtl::System::KernelOption>> out;
    for (size_t i = 0; i < Ksi::BootOptions::kRowCount; ++i) {
        auto option = MakeOption(Ksi::BootOptions::kRows[i], object.get(), record);
        if (!all && option->GetValueString() == option->GetDefaultValueString()) continue;
        out.push_back(std::move(option));
    }
    return out;
}

std::unique_ptr<KernelOptionImpl> KernelOpts::GetOption(const std::string& name) {
    const Row& row = GetOptionInfo(name);
    auto object = Store()->Get(StoreId());
    return MakeOption(row, object.get(), RuntimeRecordOrEmpty());
}

void KernelOpts::SetOption(const std::string& name, const std::string& value) {
    Value v;
    v.type = KernelOption::TYPE_STRING;
    v.s = value;
    SetOptionInt(name, v);
}

void KernelOpts::SetOption(const std::string& name, const char* value) {
    SetOption(name, std::string(value ? value : ""));
}

void KernelOpts::SetOption(const std::string& name, bool value) {
    Value v;
    v.type = KernelOption::TYPE_BOOL;
    v.b = value;
    SetOptionInt(name, v);
}

void KernelOpts::SetOption(const std::string& name, long value) {
    Value v;
    v.type = KernelOption::TYPE_INT64;
    v.n = value;
    SetOptionInt(name, v);
}

bool KernelOpts::GetRuntimeValueBool(const std::string& name) {
    const Row& row = GetOptionInfo(name);
    CheckOptionType(name, KernelOption::TYPE_BOOL);
    return RecordValue<bool>(ReadRuntimeRecord(), row);
}

void KernelOpts::ConfigStoreUpgrade() {
    TarnCtl::Config::SynchronizedConfigFile file;
    std::map<std::string, std::string> values = file->ValuesBelow("/tarnos");
    if (values.empty()) return;
    std::string got;
    for (const auto& [path, text] : values) got += (got.empty() ? "" : " ") + path.substr(8) + "=" + text;
    TarnCtl_LogInfoInt("%s: Got configuration: %s\n", kTag, got.c_str());
    auto store = Store();
    auto current = store->Get(StoreId());
    auto updated = current ? current->Clone() : std::make_shared<ConfigStoreObject>(StoreId());
    for (const auto& [path, text] : values) {
        std::string name = path.substr(8);  // after "/tarnos/"
        try {
            if (name.find('/') != std::string::npos) throw HostCtlException("Invalid Key Name: " + name);
            const Row& row = GetOptionInfo(name);
            Value v = ParseText(row, text);
            CheckValue(row, v);
            PutField(*updated, row, v);
        } catch (const HostCtlException& e) {
            TarnCtl_LogWarnInt("%s: Could not get value for '%s': %s\n", kTag, name.c_str(),
                               e.GetDetailedMessage().c_str());
        }
    }
    TarnCtl_LogInfoInt("%s: Writing final configuration: %s\n", kTag, updated->GetData().c_str());
    {
        ConfigStoreTransaction txn(store);
        HaldenConfigStore::UpdateKernelOptions(*updated);
        store->Write(updated);
        txn.Commit();
    }
    file->Remove("/tarnos");
    file.Write();
}

// ---- Option objects -----------------------------------------------------------------------

KernelOption::OptionType KernelOptionImpl::GetType() { return KernelOpts::GetOptionType(*_row); }

void KernelOptionImpl::PrintValues(TarnCtl::Lib::ObjectPrinter* printer, const char* type) {
    printer->SetType(type);
    printer->BeginObject();
    printer->Print("Option Name", std::string(_row->name));
    printer->Print("Configured Value", GetValueString());
    printer->Print("Runtime Value", GetRuntimeValueString());
    printer->Print("Default Value", GetDefaultValueString());
    printer->EndObject();
}

template <typename T>
std::string KernelTypedOptionImpl<T>::Text(const T& value) {
    if constexpr (std::is_same_v<T, bool>) {
        return value ? "TRUE" : "FALSE";
    } else if constexpr (std::is_same_v<T, std::string>) {
        return value;
    } else {
        return std::to_string(static_cast<int64_t>(value));
    }
}

template <typename T>
void KernelTypedOptionImpl<T>::SetValue(T value) {
    if constexpr (std::is_same_v<T, bool> || std::is_same_v<T, std::string>)
        KernelOpts::SetOption(GetName(), value);
    else
        KernelOpts::SetOption(GetName(), static_cast<long>(value));
    _configured = value;
}

template class KernelTypedOptionImpl<bool>;
template class KernelTypedOptionImpl<int32_t>;
template class KernelTypedOptionImpl<int64_t>;
template class KernelTypedOptionImpl<uint8_t>;
template class KernelTypedOptionImpl<uint32_t>;
template class KernelTypedOptionImpl<std::string>;

void KernelOpts::RestoreBootConfiguration() {
    auto object = Store()->Get(StoreId());
    HaldenConfigStore::UpdateKernelOptions(object ? *object : ConfigStoreObject(StoreId()));
}

namespace {
const Platform::Boot::UpgradeStep kUpgrade("system.bootoptions", 110, [] { KernelOpts::ConfigStoreUpgrade(); });
// The kernel has read the boot configuration; from here on the store decides
// what the next boot gets, whatever was edited into the file by hand.
const Platform::Boot::Step kRestore("system.bootoptions", 95, [] { KernelOpts::RestoreBootConfiguration(); });
}  // namespace

}  // namespace TarnCtl::System
