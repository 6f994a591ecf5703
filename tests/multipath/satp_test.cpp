// SATPs: the default PSP with its record, claim rules (type, input order,
// duplicates, kernel refusals, removal), their replay at boot, and rules
// choosing the SATP of devices claimed afterwards.
#include <gtest/gtest.h>

#include "hostctl/exception.h"
#include "ksi/nmp.h"
#include "platform/boot.h"
#include "platform/log.h"
#include "sim/kernel.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/nmp_psa_plugin_impl.h"
#include "multipath_fixture.h"

namespace MultipathTest {
namespace {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::FilterSpecObject;
using HaldenConfigStore::SubObjectId;
using HostCtl::Storage::Nmp::SatpClaimRule;
using TarnCtl::Storage::Nmp::NmpDeviceConfigImpl;
using TarnCtl::Storage::Nmp::NmpPsaPluginImpl;
using TarnCtl::Storage::Nmp::StorageArrayTypeImpl;

class SatpTest : public MultipathHostTest {
protected:
    std::vector<std::shared_ptr<ConfigStoreObject>> StoredRules() {
        return Store()->List(std::make_shared<FilterSpecObject>(ConfigStoreObjectId("nmp_claim_rules", "storage", "halden")));
    }
    std::vector<SatpClaimRule> UserRules(const std::string& satp) {
        return StorageArrayTypeImpl(satp).GetClaimRules(false, true);
    }
};

SatpClaimRule VendorRule(const std::string& vendor, const std::string& psp = "") {
    SatpClaimRule r;
    r.vendor = vendor;
    r.defaultPsp = psp;
    return r;
}

TEST_F(SatpTest, DefaultPspIsSetRecordedAndFollowedByDevicesWithoutTheirOwn) {
    StorageArrayTypeImpl eva("QUIL_SATP_EVA");
    EXPECT_EQ(eva.GetDefaultPathSelectionPolicyName(), "QUIL_PSP_FIXED");
    eva.SetDefaultPathSelectionPolicyName("QUIL_PSP_MRU", true);
    EXPECT_EQ(eva.GetDefaultPathSelectionPolicyName(), "QUIL_PSP_MRU");
    EXPECT_EQ(NmpDeviceConfigImpl(kFixedLun).GetPathSelectionPolicyName(), "QUIL_PSP_MRU");
    auto stored = Store()->Get(StorageArrayTypeImpl::DefaultPspId("QUIL_SATP_EVA"));
    ASSERT_TRUE(stored);
    std::string psp;
    EXPECT_TRUE(stored->GetValue("default_psp", &psp));
    EXPECT_EQ(psp, "QUIL_PSP_MRU");
    Reboot();
    EXPECT_EQ(StorageArrayTypeImpl("QUIL_SATP_EVA").GetDefaultPathSelectionPolicyName(), "QUIL_PSP_MRU");
    EXPECT_EQ(NmpDeviceConfigImpl(kFixedLun).GetPathSelectionPolicyName(), "QUIL_PSP_MRU");
}

TEST_F(SatpTest, DefaultPspRefusalsAndUnrecordedChangesLeaveTheStoreAlone) {
    StorageArrayTypeImpl eva("QUIL_SATP_EVA");
    const auto before = StoreIds();
    EXPECT_EQ(ErrorText([&] { eva.SetDefaultPathSelectionPolicyName("", true); }), "Invalid PSP name.  PSP cannot be empty.");
    EXPECT_TRUE(TakeWrites().empty());
    EXPECT_EQ(ErrorText([&] { eva.SetDefaultPathSelectionPolicyName("QUIL_PSP_NONE", true); }),
              "Unable to set the default PSP of SATP QUIL_SATP_EVA to QUIL_PSP_NONE");
    EXPECT_EQ(eva.GetDefaultPathSelectionPolicyName(), "QUIL_PSP_FIXED");
    eva.SetDefaultPathSelectionPolicyName("QUIL_PSP_RR", false);
    EXPECT_EQ(eva.GetDefaultPathSelectionPolicyName(), "QUIL_PSP_RR");
    Store()->SetBootMode(true);
    eva.SetDefaultPathSelectionPolicyName("QUIL_PSP_MRU", true);
    Store()->SetBootMode(false);
    EXPECT_EQ(eva.GetDefaultPathSelectionPolicyName(), "QUIL_PSP_MRU");
    EXPECT_EQ(StoreIds(), before);
}

TEST_F(SatpTest, RuleTypeFollowsTheFirstMatchFieldInOrderAndInputsKeepTheirOrder) {
    SatpClaimRule full;
    full.uid = "naa.1";
    full.vendor = "ACME";
    full.model = "Box";
    full.driver = "lpfc";
    full.transport = "fc";
    full.options = "enable_ssd";
    full.claimOptions = "tpgs_on";
    full.defaultPsp = "QUIL_PSP_RR";
    full.pspOptions = "iops=5";
    full.description = "all fields";
    full.ruleGroup = "user";
    struct Case {
        std::function<void(SatpClaimRule&)> trim;
        const char* type;
    } cases[] = {
        {[](SatpClaimRule&) {}, "DRIVER"},
        {[](SatpClaimRule& r) { r.driver.clear(); }, "DEVICE"},
        {[](SatpClaimRule& r) { r.driver.clear(); r.uid.clear(); }, "TRANSPORT"},
        {[](SatpClaimRule& r) { r.driver.clear(); r.uid.clear(); r.transport.clear(); }, "VENDOR"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        SatpClaimRule rule = full;
        c.trim(rule);
        EXPECT_EQ(StorageArrayTypeImpl::RuleType(rule), c.type);
    }
    StorageArrayTypeImpl alua("QUIL_SATP_ALUA");
    TakeWrites();
    alua.AddClaimRule(full);
    auto writes = TakeWrites();
    ASSERT_EQ(writes.size(), 1u);
    EXPECT_EQ(writes[0].node, 5000u);
    EXPECT_EQ(writes[0].instance, std::vector<std::string>{"QUIL_SATP_ALUA"});
    EXPECT_EQ(writes[0].inputs,
              (std::vector<std::string>{"uid=naa.1", "vendor=ACME", "model=Box", "hbadriver=lpfc", "transport=fc",
                                        "opt=enable_ssd", "claim=tpgs_on", "defaultpsp=QUIL_PSP_RR", "pspopt=iops=5",
                                        "desc=all fields", "rulegroup=user"}));
    auto rules = StoredRules();
    ASSERT_EQ(rules.size(), 1u);
    auto criteria = rules[0]->GetSubObject(SubObjectId("criteria"));
    std::string type, driver;
    criteria->GetValue("type", &type);
    criteria->GetValue("driver", &driver);
    EXPECT_EQ(type, "DRIVER");
    EXPECT_EQ(driver, "lpfc");
    EXPECT_FALSE(criteria->HasValue("device"));
    auto back = StorageArrayTypeImpl::RuleFromStore(*rules[0]);
    EXPECT_EQ(back.satp, "QUIL_SATP_ALUA");
    EXPECT_EQ(back.defaultPsp, "QUIL_PSP_RR");
    EXPECT_EQ(back.pspOptions, "iops=5");
    EXPECT_EQ(back.options, "enable_ssd");
    EXPECT_EQ(back.description, "all fields");
    // Only the fields given are sent.
    alua.AddClaimRule(VendorRule("ACME2"));
    EXPECT_EQ(TakeWrites().at(0).inputs, std::vector<std::string>{"vendor=ACME2"});
}

TEST_F(SatpTest, DuplicateAndUnsupportedRulesAreRefusedBeforeTheKernel) {
    StorageArrayTypeImpl alua("QUIL_SATP_ALUA");
    SatpClaimRule driver;
    driver.driver = "lpfc";
    driver.defaultPsp = "QUIL_PSP_RR";
    driver.pspOptions = "iops=5";
    alua.AddClaimRule(driver);
    SatpClaimRule vendor = VendorRule("ACME");
    vendor.model = "Box";
    alua.AddClaimRule(vendor);
    TakeWrites();
    const auto before = StoreIds();
    SatpClaimRule same = driver;
    same.description = "other words";
    EXPECT_EQ(ErrorText([&] { alua.AddClaimRule(same); }),
              "Duplicate DRIVER rule found for SATP QUIL_SATP_ALUA matching driver lpfc PSP QUIL_PSP_RR and PSP "
              "Options iops=5");
    EXPECT_EQ(ErrorText([&] { alua.AddClaimRule(vendor); }),
              "Duplicate VENDOR rule found for SATP QUIL_SATP_ALUA matching vendor ACME model Box claim options  PSP "
              " and PSP Options ");
    SatpClaimRule fixedOptions = VendorRule("ACME3", "QUIL_PSP_FIXED");
    fixedOptions.pspOptions = "iops=5";
    EXPECT_EQ(ErrorText([&] { alua.AddClaimRule(fixedOptions); }), "QUIL_PSP_FIXED plugin does not support PSP options");
    SatpClaimRule badRr = VendorRule("ACME3", "QUIL_PSP_RR");
    badRr.pspOptions = "policy=iops;bytes=1";
    EXPECT_EQ(ErrorText([&] { alua.AddClaimRule(badRr); }), "Invalid configuration for policy=iops");
    SatpClaimRule badOpt = VendorRule("ACME3");
    badOpt.options = "enable_ssd disable_ssd";
    EXPECT_EQ(ErrorText([&] { alua.AddClaimRule(badOpt); }),
              "Invalid configuration for nmp options. Specify only one of enable/disable_ssd and enable/disable_local");
    EXPECT_TRUE(TakeWrites().empty());
    EXPECT_EQ(StoreIds(), before);
    // Another PSP makes it a different rule.
    SatpClaimRule other = driver;
    other.pspOptions = "iops=6";
    alua.AddClaimRule(other);
    EXPECT_EQ(UserRules("QUIL_SATP_ALUA").size(), 3u);
}

TEST_F(SatpTest, KernelRefusalsReadAsTheModuleWordsThemAndRecordNothing) {
    const std::pair<TARN_ReturnStatus, const char*> cases[] = {
        {TARN_MISSING_PARAMETER, "Invalid input count passed to SATP module"},
        {TARN_BAD_PARAM, "Invalid input to SATP module add rule."},
        {TARN_NOT_FOUND, "Unable to find SATP with that name."},
        {TARN_FAILURE, "Unable to add new SATP claim rule"},
        {TARN_EXISTS, "Unable to add new SATP claim rule"},
    };
    StorageArrayTypeImpl alua("QUIL_SATP_ALUA");
    const auto before = StoreIds();
    for (const auto& [status, text] : cases) {
        SCOPED_TRACE(text);
        TarnSim::InjectFault({"nmp", KSI_NMP_NODE_SATPS, "QUIL_SATP_ALUA", status, 1});
        EXPECT_EQ(ErrorText([&] { alua.AddClaimRule(VendorRule("ACME")); }), text);
        EXPECT_EQ(StoreIds(), before);
    }
    EXPECT_TRUE(UserRules("QUIL_SATP_ALUA").empty());
    // The simulated module's own checks give the same texts.
    SatpClaimRule empty;
    empty.description = "matches nothing";
    EXPECT_EQ(ErrorText([&] { alua.AddClaimRule(empty); }), "Invalid input count passed to SATP module");
    EXPECT_EQ(ErrorText([] { StorageArrayTypeImpl("QUIL_SATP_NONE").AddClaimRule(VendorRule("ACME")); }),
              "Unable to find SATP with that name.");
    EXPECT_EQ(ErrorText([&] { alua.AddClaimRule(VendorRule("ACME", "QUIL_PSP_NONE")); }),
              "Invalid input to SATP module add rule.");
    EXPECT_EQ(StoreIds(), before);
}

TEST_F(SatpTest, DeletingARuleTakesItOutOfKernelAndStore) {
    StorageArrayTypeImpl alua("QUIL_SATP_ALUA");
    alua.AddClaimRule(VendorRule("ACME", "QUIL_PSP_MRU"));
    alua.AddClaimRule(VendorRule("OTHER"));
    EXPECT_EQ(ErrorText([&] { alua.DeleteClaimRule(VendorRule("ACME")); }),
              "No rule matching the given options found, nothing to delete. Specify all options for the rule to "
              "delete it successfully.");
    TarnSim::InjectFault({"nmp", KSI_NMP_NODE_SATPS, "QUIL_SATP_ALUA", TARN_FAILURE, 1});
    EXPECT_EQ(ErrorText([&] { alua.DeleteClaimRule(VendorRule("ACME", "QUIL_PSP_MRU")); }), "Unable to delete the rule.");
    EXPECT_EQ(StoredRules().size(), 2u);
    TakeWrites();
    alua.DeleteClaimRule(VendorRule("ACME", "QUIL_PSP_MRU"));
    EXPECT_EQ(TakeWrites().at(0).inputs, (std::vector<std::string>{"vendor=ACME", "defaultpsp=QUIL_PSP_MRU", "remove"}));
    ASSERT_EQ(UserRules("QUIL_SATP_ALUA").size(), 1u);
    EXPECT_EQ(UserRules("QUIL_SATP_ALUA")[0].vendor, "OTHER");
    ASSERT_EQ(StoredRules().size(), 1u);
    EXPECT_EQ(StorageArrayTypeImpl::RuleFromStore(*StoredRules()[0]).vendor, "OTHER");
}

TEST_F(SatpTest, NonForceRulesAndAllOfAnSatpsConfigurationCanBeDropped) {
    StorageArrayTypeImpl alua("QUIL_SATP_ALUA");
    SatpClaimRule forced = VendorRule("FORCED");
    forced.force = true;
    alua.AddClaimRule(forced);
    alua.AddClaimRule(VendorRule("PLAIN"));
    StorageArrayTypeImpl("QUIL_SATP_CX").AddClaimRule(VendorRule("CXONE"));
    alua.SetDefaultPathSelectionPolicyName("QUIL_PSP_RR", true);
    alua.DeleteNonForceClaimRules();
    ASSERT_EQ(UserRules("QUIL_SATP_ALUA").size(), 1u);
    EXPECT_EQ(UserRules("QUIL_SATP_ALUA")[0].vendor, "FORCED");
    EXPECT_EQ(StoredRules().size(), 2u);
    alua.DestroyConfig();
    ASSERT_EQ(StoredRules().size(), 1u);
    EXPECT_EQ(StorageArrayTypeImpl::RuleFromStore(*StoredRules()[0]).satp, "QUIL_SATP_CX");
    EXPECT_FALSE(Store()->Get(StorageArrayTypeImpl::DefaultPspId("QUIL_SATP_ALUA")));
}

TEST_F(SatpTest, RulesComeBackAtBootAndAFailingOneIsSkipped) {
    StorageArrayTypeImpl("QUIL_SATP_ALUA").AddClaimRule(VendorRule("ACME", "QUIL_PSP_MRU"));
    StorageArrayTypeImpl("QUIL_SATP_CX").AddClaimRule(VendorRule("CXONE"));
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    TarnSim::InjectFault({"nmp", KSI_NMP_NODE_SATPS, "QUIL_SATP_CX", TARN_FAILURE, 1});
    Platform::Log::Capture log;
    Platform::Boot::RunBoot();
    EXPECT_TRUE(log.Contains("SATP Load: Unable to load rule for SATP QUIL_SATP_CX, skipping: Unable to add new SATP claim rule"));
    ASSERT_EQ(UserRules("QUIL_SATP_ALUA").size(), 1u);
    EXPECT_EQ(UserRules("QUIL_SATP_ALUA")[0].defaultPsp, "QUIL_PSP_MRU");
    EXPECT_TRUE(UserRules("QUIL_SATP_CX").empty());
    EXPECT_EQ(StoredRules().size(), 2u);
}

TEST_F(SatpTest, ARuleChoosesTheSatpAndPspOfDevicesClaimedAfterIt) {
    StorageArrayTypeImpl("QUIL_SATP_ALUA").AddClaimRule(VendorRule("HP", "QUIL_PSP_MRU"));
    // Devices already claimed keep what they have.
    EXPECT_EQ(NmpDeviceConfigImpl(kFixedLun).GetStorageArrayTypeString(), "QUIL_SATP_EVA");
    storage.UnclaimPathsByDevice(kFixedLun);
    storage.ClaimPaths(HostCtl::Storage::MP, "*", -1, -1, -1);
    EXPECT_EQ(NmpDeviceConfigImpl(kFixedLun).GetStorageArrayTypeString(), "QUIL_SATP_ALUA");
    EXPECT_EQ(NmpDeviceConfigImpl(kFixedLun).GetPathSelectionPolicyName(), "QUIL_PSP_MRU");
}

TEST_F(SatpTest, PluginListsItsSatpsAndPsps) {
    NmpPsaPluginImpl plugin;
    std::vector<std::string> satps, psps;
    for (auto& s : plugin.GetStorageArrayTypes())
        satps.push_back(s->GetName());
    for (auto& p : plugin.GetPathSelectionPolicies())
        psps.push_back(p->GetName());
    EXPECT_EQ(satps.size(), 14u);
    EXPECT_NE(std::find(satps.begin(), satps.end(), "PURE_SATP_AA"), satps.end());
    EXPECT_EQ(psps, (std::vector<std::string>{"PURE_PSP_LB", "QUIL_PSP_FIXED", "QUIL_PSP_MRU", "QUIL_PSP_RR"}));
    EXPECT_EQ(plugin.GetStorageArrayTypeByName("QUIL_SATP_EVA", false)->GetInfoString(), "Supports HP EVA");
    EXPECT_FALSE(plugin.GetStorageArrayTypeByName("QUIL_SATP_NONE", false));
    EXPECT_EQ(ErrorText([&] { plugin.GetStorageArrayTypeByName("QUIL_SATP_NONE", true); }),
              "Unable to find SATP with name QUIL_SATP_NONE");
    const auto system = StorageArrayTypeImpl("PURE_SATP_AA").GetClaimRules(true, false);
    ASSERT_EQ(system.size(), 1u);
    EXPECT_EQ(system[0].vendor, "PURE");
    EXPECT_EQ(system[0].ruleGroup, "system");
}

}  // namespace
}  // namespace MultipathTest
