// Kernel advanced options: the common part (names, flags, lazy refresh) and the
// integer and string options over the kernel's /config/intOpts and
// /config/strOpts records.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "hostctl/adv.h"
#include "ksi/adv.h"
#include "lib/tarnctl_object.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Adv {

// An option's description: kept in the option itself when short, as nearly
// all are, and on the heap only when longer, so that listing options does not
// allocate a text for each.
class DescriptionText {
public:
    void Assign(std::string_view text) {
        if (text.size() <= kInline) {
            std::memcpy(_inline, text.data(), text.size());
            _long.clear();
        } else {
            _long.assign(text);
        }
        _size = text.size();
    }
    std::string Str() const { return _size <= kInline ? std::string(_inline, _size) : _long; }

private:
    static constexpr size_t kInline = 96;
    size_t _size = 0;
    char _inline[kInline]{};
    std::string _long;
};

class AdvancedOptionImpl : public virtual HostCtl::Adv::AdvancedOption,
                           public TarnCtl::Lib::TarnCtlObject {
public:
    AdvancedOptionImpl(std::string branchName, std::string optionName);

    void Refresh() override;
    void SaveConfig() override { UpdateValueToCstore(); }
    std::string GetName() const override { return _optionName; }

    std::string GetOptionName() override;
    std::string GetOptionPath() override;
    std::string GetDescription() override;
    bool IsHostSpecific() override;
    std::string GetImpact() override;

    const std::string& GetBranchName() const { return _branchName; }
    // The option's name without a copy (GetName returns one).
    const std::string& OptionName() const { return _optionName; }

    // The option at "/Branch/Option" (a user option under "/UserVars/...").
    // Throws "Invalid option name (no slash): " + path, "Unable to find branch "
    // + name or "Unable to find option " + name.
    static std::unique_ptr<HostCtl::Adv::AdvancedOption> FindOption(const std::string& path);

protected:
    // Re-reads the kernel record (or, for user options, the store objects).
    virtual void RefreshInt() = 0;
    void EnsureFresh() {
        if (_stale) Refresh();
    }
    bool IsHiddenInt() {
        EnsureFresh();
        return _hidden;
    }
    // The impact text of the record's two flags.
    static const char* ImpactOf(bool reboot, bool maintenance);
    // Sets what every option has besides its value.
    void FillCommon(bool hidden, std::string_view description, bool hostSpecific, std::string_view impact);
    // The same from a kernel record (integer or string).
    template <class Record>
    void FillCommonFrom(const Record& r) {
        FillFlags(r.hidden != 0, r.hostSpecific != 0);
        _description.Assign({r.description, strnlen(r.description, sizeof(r.description))});
        _impact = ImpactOf(r.rebootRequired, r.maintenanceModeRequired);
    }
    void FillFlags(bool hidden, bool hostSpecific) {
        _hidden = hidden;
        _hostSpecific = hostSpecific;
    }

    bool _stale = true;
    std::string _branchName;
    std::string _optionName;
    DescriptionText _description;
    bool _hidden = false;
    bool _hostSpecific = false;
    const char* _impact = "none";  // one of ImpactOf's texts
};

// What integer options (kernel and user) share: the cached range and value,
// their getters and the printed record.
//
// The bases are in this order, the common option last and direct, so that a
// cast from the common option to the integer interface (what every listing
// does to each option) finds both at this class's first two bases and stops
// there, instead of walking the whole implementation hierarchy.
class IntegerOptionImpl : public AdvancedOptionImpl,
                          public HostCtl::Adv::AdvancedIntegerOption,
                          public virtual HostCtl::Adv::AdvancedOption {
public:
    using AdvancedOptionImpl::AdvancedOptionImpl;

    int GetType() override { return 0; }
    int64_t GetDefaultValue() override;
    int64_t GetMinimum() override;
    int64_t GetMaximum() override;
    int64_t GetValue() override;
    bool IsHidden() override { return IsHiddenInt(); }

protected:
    void PrintAs(TarnCtl::Lib::ObjectPrinter* printer, const char* type);

    int64_t _value = 0;
    int64_t _minimum = 0;
    int64_t _maximum = 0;
    int64_t _default = 0;
};

// What string options (kernel and user) share: the cached default and value,
// their getters and the printed record. Bases ordered as IntegerOptionImpl's.
class StringOptionImpl : public AdvancedOptionImpl,
                         public HostCtl::Adv::AdvancedStringOption,
                         public virtual HostCtl::Adv::AdvancedOption {
public:
    using AdvancedOptionImpl::AdvancedOptionImpl;

    int GetType() override { return 1; }
    std::string GetDefaultValue() override;
    std::string GetValue() override;
    bool IsHidden() override { return IsHiddenInt(); }

protected:
    // `validCharacters` is printed when given (kernel options have them).
    void PrintAs(TarnCtl::Lib::ObjectPrinter* printer, const char* type,
                 const std::string* validCharacters);

    std::string _default;
    std::string _value;
};

class AdvancedIntegerOptionImpl : public IntegerOptionImpl {
public:
    AdvancedIntegerOptionImpl(std::string branchName, std::string optionName);

    // Reads the option's record from `node`, addressed at this option by the
    // caller (a listing walks one node over its siblings); on success the
    // option is filled and not stale. With throwing off, the status says why not.
    TARN_ReturnStatus ReadFrom(Util::Sysinfo& node);

    void LoadConfig() override;
    void SetToDefault() override;
    void UpdateValueToCstore() override;
    void SetValue(long value) override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override { PrintAs(printer, "Advanced Integer Option"); }

protected:
    void RefreshInt() override;

private:
    // Keeps what the option shows of the record, not the record itself (most
    // of it is room for a description few options fill).
    void Fill(const Ksi::Adv::IntOption& record);
    // Writes `value` to the kernel and returns the value it kept; a refusal
    // throws SysinfoException.
    int64_t WriteKernel(int64_t value);
};

class AdvancedStringOptionImpl : public StringOptionImpl {
public:
    AdvancedStringOptionImpl(std::string branchName, std::string optionName);
    AdvancedStringOptionImpl(std::string branchName, std::string optionName,
                             const Ksi::Adv::StrOption& record);

    void LoadConfig() override;
    void SetToDefault() override;
    void UpdateValueToCstore() override;
    std::string GetValidCharacters() override;
    void SetValue(const std::string& value) override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override {
        PrintAs(printer, "Advanced String Option", &_validCharacters);
    }

protected:
    void RefreshInt() override;

private:
    void Fill(const Ksi::Adv::StrOption& record);
    void WriteKernel(const std::string& value);

    std::string _validCharacters;
};

}  // namespace TarnCtl::Adv
