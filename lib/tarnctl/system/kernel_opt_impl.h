// One kernel boot option as an object: name, type, description, and its
// default, configured and run-time values. Setting a value records it for the
// next boot through KernelOpts.
#pragma once

#include <cstdint>
#include <string>

#include "hostctl/system_modules.h"
#include "ksi/modules.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::System {

class KernelOptionImpl : public virtual HostCtl::System::KernelOption, public TarnCtl::Lib::TarnCtlObject {
public:
    explicit KernelOptionImpl(const Ksi::BootOptions::Row& row) : _row(&row) {}
    void Refresh() override {}
    std::string GetName() const override { return _row->name; }
    OptionType GetType() override;
    std::string GetDescription() override { return _row->description; }
    bool IsSaveable() const { return _row->saveable; }

protected:
    void PrintValues(TarnCtl::Lib::ObjectPrinter* printer, const char* type);

    const Ksi::BootOptions::Row* _row;
};

template <typename T>
class KernelTypedOptionImpl : public KernelOptionImpl, public HostCtl::System::KernelTypedOption<T> {
public:
    KernelTypedOptionImpl(const Ksi::BootOptions::Row& row, T configured, T runtime, T def)
        : KernelOptionImpl(row), _configured(configured), _runtime(runtime), _default(def) {}
    T GetDefaultValue() override { return _default; }
    T GetValue() override { return _configured; }
    T GetRuntimeValue() override { return _runtime; }
    void SetValue(T value) override;
    std::string GetDefaultValueString() override { return Text(_default); }
    std::string GetValueString() override { return Text(_configured); }
    std::string GetRuntimeValueString() override { return Text(_runtime); }
    static std::string Text(const T& value);

private:
    T _configured, _runtime, _default;
};

class KernelBoolOptionImpl : public KernelTypedOptionImpl<bool> {
public:
    using KernelTypedOptionImpl::KernelTypedOptionImpl;
    void Print(TarnCtl::Lib::ObjectPrinter* p) override { PrintValues(p, "Kernel Bool Option"); }
};
class KernelInt32OptionImpl : public KernelTypedOptionImpl<int32_t> {
public:
    using KernelTypedOptionImpl::KernelTypedOptionImpl;
    void Print(TarnCtl::Lib::ObjectPrinter* p) override { PrintValues(p, "Kernel Int32 Option"); }
};
class KernelInt64OptionImpl : public KernelTypedOptionImpl<int64_t> {
public:
    using KernelTypedOptionImpl::KernelTypedOptionImpl;
    void Print(TarnCtl::Lib::ObjectPrinter* p) override { PrintValues(p, "Kernel Int64 Option"); }
};
class KernelUint8OptionImpl : public KernelTypedOptionImpl<uint8_t> {
public:
    using KernelTypedOptionImpl::KernelTypedOptionImpl;
    void Print(TarnCtl::Lib::ObjectPrinter* p) override { PrintValues(p, "Kernel Uint8 Option"); }
};
class KernelUint32OptionImpl : public KernelTypedOptionImpl<uint32_t> {
public:
    using KernelTypedOptionImpl::KernelTypedOptionImpl;
    void Print(TarnCtl::Lib::ObjectPrinter* p) override { PrintValues(p, "Kernel Uint32 Option"); }
};
class KernelStringOptionImpl : public KernelTypedOptionImpl<std::string> {
public:
    using KernelTypedOptionImpl::KernelTypedOptionImpl;
    void Print(TarnCtl::Lib::ObjectPrinter* p) override { PrintValues(p, "Kernel String Option"); }
};

}  // namespace TarnCtl::System
