// The native multipathing plug-in's own objects: the plug-in (its SATPs and
// PSPs), an SATP with its default PSP and claim rules, and a PSP. They read
// the "nmp" module's tree and record their settings in the store groups
// satp_default_psps and nmp_claim_rules.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/storage.h"
#include "ksi/nmp.h"
#include "lib/tarnctl_object.h"
#include "platform/configstore.h"
#include "platform/sysinfo.h"

namespace TarnCtl::Storage::Nmp {

// Reads a record of the plug-in's tree; throws SysinfoException.
template <typename T>
T NmpRead(uint32_t node, std::initializer_list<std::string_view> instance) {
    TarnCtl::Util::Sysinfo si(node);
    si.SetModule(kNmpModule);
    for (std::string_view key : instance)
        si.AddInstancePath(key);
    T record{};
    si.Get(&record, sizeof(record));
    return record;
}
std::vector<std::string> NmpList(uint32_t node, std::initializer_list<std::string_view> instance = {});
// A write to the plug-in's tree with the inputs given.
TarnCtl::Util::Sysinfo& NmpNode(TarnCtl::Util::Sysinfo& si, std::initializer_list<std::string_view> instance);

class PathSelectionPolicyImpl : public virtual HostCtl::Storage::Nmp::PathSelectionPolicy,
                                public virtual TarnCtl::Lib::TarnCtlObject {
public:
    static constexpr const char* FIXED_POLICY = "QUIL_PSP_FIXED";
    static constexpr const char* RR_POLICY = "QUIL_PSP_RR";
    static constexpr const char* MRU_POLICY = "QUIL_PSP_MRU";

    explicit PathSelectionPolicyImpl(const std::string& name) : _name(name) {}
    static bool IsValidPsp(const std::string& name);
    // True when the PSP takes option strings (claim rules' PSP options).
    static bool SupportsOptions(const std::string& name);

    void Refresh() override;
    std::string GetName() const override { return _name; }
    std::string GetInfoString() override;

private:
    std::string _name;
    KsiNmpPspInfo _info{};
    bool _stale = true;
};

class StorageArrayTypeImpl : public virtual HostCtl::Storage::Nmp::StorageArrayType,
                             public virtual TarnCtl::Lib::TarnCtlObject {
public:
    explicit StorageArrayTypeImpl(const std::string& name) : _name(name) {}
    static bool IsValidSatp(const std::string& name);
    static HaldenConfigStore::ConfigStoreObjectId DefaultPspId(const std::string& satp);
    static HaldenConfigStore::ConfigStoreObjectId ClaimRuleId(const std::string& instance = "");
    // The rule type its fields give: "DRIVER", "DEVICE", "TRANSPORT" or "VENDOR".
    static std::string RuleType(const HostCtl::Storage::Nmp::SatpClaimRule& rule);
    // The rule as recorded in nmp_claim_rules, and back.
    static void RuleToStore(const HostCtl::Storage::Nmp::SatpClaimRule& rule, HaldenConfigStore::ConfigStoreObject& out);
    static HostCtl::Storage::Nmp::SatpClaimRule RuleFromStore(const HaldenConfigStore::ConfigStoreObject& object);

    void Refresh() override;
    std::string GetName() const override { return _name; }
    // Boot: replays the recorded default PSP and claim rules of this SATP.
    void LoadConfig() override;

    std::string GetInfoString() override;
    std::string GetConfigurationString() override;
    void SetConfigurationString(const std::string& config) override;
    std::string GetDefaultPathSelectionPolicyName() override;
    void SetDefaultPathSelectionPolicyName(const std::string& psp, bool persist) override;
    std::vector<HostCtl::Storage::Nmp::SatpClaimRule> GetClaimRules(bool system, bool user) override;
    void AddClaimRule(const HostCtl::Storage::Nmp::SatpClaimRule& rule) override;
    void DeleteClaimRule(const HostCtl::Storage::Nmp::SatpClaimRule& rule) override;
    void DeleteNonForceClaimRules() override;
    void DestroyConfig() override;

    // Boot: the SATP's rules among `rules` (all recorded rules, read once).
    void LoadConfigInternal(const std::vector<std::shared_ptr<HaldenConfigStore::ConfigStoreObject>>& rules,
                            const std::shared_ptr<HaldenConfigStore::ConfigStoreObject>& defaultPsp);

private:
    void SendRule(const HostCtl::Storage::Nmp::SatpClaimRule& rule, bool remove);
    std::vector<std::shared_ptr<HaldenConfigStore::ConfigStoreObject>> StoredRules();

    std::string _name;
    KsiNmpSatpInfo _info{};
    bool _stale = true;
};

class NmpPsaPluginImpl : public virtual HostCtl::Storage::Nmp::NmpPsaPlugin,
                         public virtual TarnCtl::Lib::TarnCtlObject {
public:
    // True when the plug-in's tree is there.
    static bool IsLoaded();

    void Refresh() override {}
    std::string GetName() const override { return "NMP"; }
    // Boot: every PSP's and SATP's recorded configuration; a failing one is
    // logged and the rest go on.
    void LoadConfig() override;

    std::vector<std::unique_ptr<HostCtl::Storage::Nmp::StorageArrayType>> GetStorageArrayTypes() override;
    std::vector<std::unique_ptr<HostCtl::Storage::Nmp::PathSelectionPolicy>> GetPathSelectionPolicies() override;
    std::unique_ptr<HostCtl::Storage::Nmp::StorageArrayType> GetStorageArrayTypeByName(const std::string& name,
                                                                                      bool throwIfMissing) override;
};

}  // namespace TarnCtl::Storage::Nmp
