// Listing a branch: every option as its kernel record says at the time of the
// listing (values, range, description, flags), what another process changed
// since the previous listing, records filling their text fields, and the
// records that cannot be read.
#include "adv_fixture.h"
#include "sim_edits.h"

#include <algorithm>
#include <cstring>
#include <sstream>

#include "adv/advanced_option_branch_impl.h"
#include "adv/user_option_impl.h"
#include "hostctl/exception.h"
#include "ksi/adv.h"
#include "platform/log.h"
#include "platform/printer.h"
#include "platform/sysinfo.h"
#include "sim/faults.h"
#include "sim/kernel.h"

namespace AdvTest {
namespace {

using HostCtl::Adv::AdvancedIntegerOption;
using HostCtl::Adv::AdvancedOption;
using HostCtl::Adv::AdvancedStringOption;
using TarnCtl::Adv::AdvancedOptionBranchImpl;

class ListingTest : public AdvHostTest {
protected:
    // The option `name` of one listing of `branch` (hidden ones included).
    static std::unique_ptr<AdvancedOption> Listed(const std::string& branch, const std::string& name) {
        std::unique_ptr<AdvancedOption> found;
        for (auto& o : AdvancedOptionBranchImpl().GetBranchByName(branch)->GetOptions(true))
            if (o->GetName() == name) found = std::move(o);
        return found;
    }
    static int64_t ListedValue(const std::string& branch, const std::string& name) {
        auto o = Listed(branch, name);
        return o ? dynamic_cast<AdvancedIntegerOption&>(*o).GetValue() : -1;
    }
    // Writes the kernel only, as another tool on the host would.
    static void KernelSet(const char* branch, const char* option, long value) {
        TarnCtl::Util::Sysinfo si(KSI_NODE_config_intOpts);
        si.SetInstance(branch);
        si.AddInstancePath(option);
        si.AddInput(value);
        si.Set();
    }
    static Ksi::Adv::IntOption Record(const char* branch, const char* option) {
        Ksi::Adv::IntOption r{};
        TarnSim::WithState([&](TarnSim::KernelState& s) {
            ASSERT_TRUE(s.Read(KSI_NODE_config_intOpts, {branch, option}, &r));
        });
        return r;
    }
    static void PutRecord(const char* branch, const char* option, const Ksi::Adv::IntOption& r) {
        TarnSim::WithState([&](TarnSim::KernelState& s) { s.Put(KSI_NODE_config_intOpts, {branch, option}, r); },
                           true);
    }
    // The record with its description made of `length` times `c`; one that
    // fills the whole field has no end mark, and the byte after the field is
    // a flag the text must not run into.
    static void PutDescription(const char* branch, const char* option, size_t length, char c) {
        Ksi::Adv::IntOption r = Record(branch, option);
        std::memset(r.description, 0, sizeof(r.description));
        std::memset(r.description, c, std::min(length, sizeof(r.description)));
        r.hostSpecific = 'x';
        PutRecord(branch, option, r);
    }
    static std::string Printed(AdvancedIntegerOption& o) {
        std::ostringstream out;
        TarnCtl::Lib::ObjectPrinter printer(out);
        dynamic_cast<TarnCtl::Lib::TarnCtlObject&>(o).Print(&printer);
        return out.str();
    }
};

// Listed options are checked against their records below; one found by its
// path reads the same record.
TEST_F(ListingTest, AnOptionFoundByItsPathCarriesItsWholeRecord) {
    struct Row {
        const char* path;
        int64_t value, def, min, max;
        const char* description;
        const char* impact;
        bool hostSpecific;
    } rows[] = {
        {"/Mem/IdleTax", 75, 75, 0, 99, "Idle memory tax rate in percent", "none", false},
        {"/Mem/KernelMemReservedMB", 0, 0, 0, 8192, "Kernel memory reserved in megabytes", "reboot", true},
        {"/Net/TcpipHeapSize", 0, 0, 0, 32, "Initial TCP/IP heap size in megabytes", "reboot", false},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.path);
        auto o = Int(r.path);
        EXPECT_EQ(o->GetOptionPath(), r.path);
        EXPECT_EQ(o->GetValue(), r.value);
        EXPECT_EQ(o->GetDefaultValue(), r.def);
        EXPECT_EQ(o->GetMinimum(), r.min);
        EXPECT_EQ(o->GetMaximum(), r.max);
        EXPECT_EQ(o->GetDescription(), r.description);
        EXPECT_EQ(o->GetImpact(), r.impact);
        EXPECT_EQ(o->IsHostSpecific(), r.hostSpecific);
        EXPECT_FALSE(o->IsHidden());
    }
}

TEST_F(ListingTest, PrintedOptionShowsTheRecordsDescriptionAndImpact) {
    auto listed = Listed("Mem", "KernelMemReservedMB");
    ASSERT_TRUE(listed);
    std::string text = Printed(dynamic_cast<AdvancedIntegerOption&>(*listed));
    EXPECT_NE(text.find("Description: Kernel memory reserved in megabytes"), std::string::npos) << text;
    EXPECT_NE(text.find("Impact: reboot"), std::string::npos) << text;
    EXPECT_NE(text.find("Max Value: 8192"), std::string::npos) << text;
}

TEST_F(ListingTest, AValueChangedByAnotherProcessShowsAtTheNextListing) {
    auto before = Listed("Mem", "IdleTax");
    ASSERT_TRUE(before);
    ASSERT_EQ(TarnTest::RunInChild([] { KernelSet("Mem", "IdleTax", 20); }), 0);
    EXPECT_EQ(ListedValue("Mem", "IdleTax"), 20);
    // An option of the earlier listing keeps what it read until refreshed.
    auto& o = dynamic_cast<AdvancedIntegerOption&>(*before);
    EXPECT_EQ(o.GetValue(), 75);
    o.Refresh();
    EXPECT_EQ(o.GetValue(), 20);

    // So for the administrators' options, kept in the store.
    TarnCtl::Adv::UserAdvancedOptionImpl().AddUserIntegerOption("Retries", "How often", 5, 1, 10, 0);
    auto retries = [] {
        auto o = Listed("UserVars", "Retries");
        return o ? dynamic_cast<AdvancedIntegerOption&>(*o).GetValue() : -1;
    };
    EXPECT_EQ(retries(), 5);
    ASSERT_EQ(TarnTest::RunInChild([] { Int("/UserVars/Retries")->SetValue(9); }), 0);
    EXPECT_EQ(retries(), 9);
}

TEST_F(ListingTest, ImpactTakesRebootBeforeMaintenance) {
    struct Row {
        uint8_t reboot, maintenance;
        const char* impact;
    } rows[] = {{0, 0, "none"}, {1, 0, "reboot"}, {0, 1, "maintenance-mode"}, {1, 1, "reboot"}};
    for (const auto& row : rows) {
        Ksi::Adv::IntOption r = Record("Mem", "IdleTax");
        r.rebootRequired = row.reboot;
        r.maintenanceModeRequired = row.maintenance;
        PutRecord("Mem", "IdleTax", r);
        auto o = Listed("Mem", "IdleTax");
        ASSERT_TRUE(o);
        EXPECT_EQ(o->GetImpact(), row.impact);
        EXPECT_EQ(Int("/Mem/IdleTax")->GetImpact(), row.impact);
    }
}

TEST_F(ListingTest, AFailedRefreshKeepsWhatTheOptionHad) {
    auto listed = Listed("Mem", "IdleTax");
    ASSERT_TRUE(listed);
    auto& o = dynamic_cast<AdvancedIntegerOption&>(*listed);
    Ksi::Adv::IntOption r = Record("Mem", "IdleTax");
    r.currentValue = 30;
    std::strcpy(r.description, "Changed");
    r.rebootRequired = 1;
    PutRecord("Mem", "IdleTax", r);
    TarnTest::FailKernel(KSI_NODE_config_intOpts, TARN_BUSY, {.instance = "Mem/IdleTax", .op = TarnSim::KernelOp::Get});
    EXPECT_THROW(o.Refresh(), HostCtl::Lib::HostCtlException);
    EXPECT_EQ(o.GetValue(), 75);
    EXPECT_EQ(o.GetDescription(), "Idle memory tax rate in percent");
    EXPECT_EQ(o.GetImpact(), "none");
    o.Refresh();
    EXPECT_EQ(o.GetValue(), 30);
    EXPECT_EQ(o.GetDescription(), "Changed");
    EXPECT_EQ(o.GetImpact(), "reboot");
}

TEST_F(ListingTest, AnOptionWhoseRecordCannotBeReadIsSkipped) {
    const size_t all = AdvancedOptionBranchImpl("Mem").GetOptions(true).size();
    TarnTest::FailKernel(KSI_NODE_config_intOpts, TARN_BUSY, {.instance = "Mem/IdleTax", .op = TarnSim::KernelOp::Get});
    Platform::Log::Capture log;
    auto options = AdvancedOptionBranchImpl("Mem").GetOptions(true);
    EXPECT_EQ(options.size(), all - 1);
    for (const auto& o : options) EXPECT_NE(o->GetName(), "IdleTax");
    EXPECT_EQ(log.Count("AdvancedOptionBranchImpl: Skipping option Mem/IdleTax: ", Platform::Log::Level::Warning), 1u);
    // The next listing has it again.
    EXPECT_EQ(ListedValue("Mem", "IdleTax"), 75);
}

TEST_F(ListingTest, EveryListedOptionShowsExactlyItsKernelRecord) {
    size_t integers = 0, strings = 0;
    for (const auto& branch : AdvancedOptionBranchImpl::GetKernelBranchNames()) {
        for (auto& listed : AdvancedOptionBranchImpl(branch).GetOptions(true)) {
            const std::string name = listed->GetName();
            SCOPED_TRACE(branch + "/" + name);
            EXPECT_EQ(listed->GetOptionPath(), "/" + branch + "/" + name);
            // What records of both kinds hold beside their values.
            auto common = [](auto* o, const auto& r) {
                EXPECT_EQ(o->GetDescription(), r.description);
                EXPECT_EQ(o->GetImpact(),
                          r.rebootRequired ? "reboot" : r.maintenanceModeRequired ? "maintenance-mode" : "none");
                EXPECT_EQ(o->IsHidden(), r.hidden != 0);
                EXPECT_EQ(o->IsHostSpecific(), r.hostSpecific != 0);
            };
            if (auto* o = dynamic_cast<AdvancedIntegerOption*>(listed.get())) {
                ++integers;
                Ksi::Adv::IntOption r = Record(branch.c_str(), name.c_str());
                EXPECT_EQ(o->GetType(), 0);
                EXPECT_EQ(o->GetValue(), r.currentValue);
                EXPECT_EQ(o->GetDefaultValue(), r.defaultValue);
                EXPECT_EQ(o->GetMinimum(), r.minimum);
                EXPECT_EQ(o->GetMaximum(), r.maximum);
                common(o, r);
                continue;
            }
            auto* o = dynamic_cast<AdvancedStringOption*>(listed.get());
            ASSERT_TRUE(o);
            ++strings;
            Ksi::Adv::StrOption r{};
            TarnSim::WithState([&](TarnSim::KernelState& s) {
                ASSERT_TRUE(s.Read(KSI_NODE_config_strOpts, {branch, name}, &r));
            });
            EXPECT_EQ(o->GetType(), 1);
            EXPECT_EQ(o->GetValue(), r.currentValue);
            EXPECT_EQ(o->GetDefaultValue(), r.defaultValue);
            EXPECT_EQ(o->GetValidCharacters(), r.validCharacters);
            common(o, r);
        }
    }
    // The default host's 563 integer and 17 string options, every one listed.
    EXPECT_EQ(integers, 563u);
    EXPECT_EQ(strings, 17u);
}

TEST_F(ListingTest, DescriptionsOfEveryLengthAreExactThroughListingAndRefresh) {
    // Short ones stay with the option, longer ones do not: both sides of
    // that and of the whole field, each after a longer and after a shorter one.
    const size_t lengths[] = {0, 1, 95, 96, 97, 200, Ksi::Adv::kDescriptionLength - 1, Ksi::Adv::kDescriptionLength,
                              96, 0, 97, 1};
    auto listed = Listed("Mem", "IdleTax");
    ASSERT_TRUE(listed);
    char c = 'a';
    for (size_t length : lengths) {
        SCOPED_TRACE(length);
        PutDescription("Mem", "IdleTax", length, c);
        const std::string expected(length, c);
        auto fresh = Listed("Mem", "IdleTax");
        ASSERT_TRUE(fresh);
        EXPECT_EQ(fresh->GetDescription(), expected);
        EXPECT_EQ(Int("/Mem/IdleTax")->GetDescription(), expected);
        // The option of the first listing takes each in turn.
        listed->Refresh();
        EXPECT_EQ(listed->GetDescription(), expected);
        ++c;
    }
}

TEST_F(ListingTest, OptionsOfEachKindCastToTheirOwnInterfaceOnly) {
    TarnCtl::Adv::UserAdvancedOptionImpl users;
    users.AddUserIntegerOption("Retries", "How often", 5, 1, 10, HostCtl::Adv::USER_OPT_REBOOT_REQUIRED);
    users.AddUserStringOption("Motto", std::string(300, 'm'), "hello", HostCtl::Adv::USER_OPT_MAINTENANCE_MODE_REQUIRED);
    struct Row {
        const char* branch;
        const char* name;
        bool integer;
        const char* description;
        const char* impact;
    } rows[] = {
        {"Mem", "IdleTax", true, "Idle memory tax rate in percent", "none"},
        {"Net", "TcpipDefaultCC", false, "Default congestion control algorithm", "none"},
        {"UserVars", "Retries", true, "How often", "reboot"},
        {"UserVars", "Motto", false, nullptr, "maintenance-mode"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::string(row.branch) + "/" + row.name);
        auto branch = AdvancedOptionBranchImpl().GetBranchByName(row.branch);
        // Through the common option interface, as GetOptions gives them...
        auto listed = Listed(row.branch, row.name);
        ASSERT_TRUE(listed);
        auto* asInt = dynamic_cast<AdvancedIntegerOption*>(listed.get());
        auto* asStr = dynamic_cast<AdvancedStringOption*>(listed.get());
        EXPECT_EQ(asInt != nullptr, row.integer);
        EXPECT_EQ(asStr != nullptr, !row.integer);
        EXPECT_EQ(listed->GetType(), row.integer ? 0 : 1);
        EXPECT_EQ(listed->GetDescription(), row.description ? row.description : std::string(300, 'm'));
        EXPECT_EQ(listed->GetImpact(), row.impact);
        if (asInt) EXPECT_EQ(static_cast<AdvancedOption*>(asInt), listed.get());
        if (asStr) EXPECT_EQ(static_cast<AdvancedOption*>(asStr), listed.get());
        // ...and through the root interface, as a branch's children.
        bool found = false;
        for (auto& child : dynamic_cast<TarnCtl::Lib::TarnCtlObject&>(*branch).GetChildren()) {
            if (child->GetName() != row.name) continue;
            found = true;
            EXPECT_EQ(dynamic_cast<AdvancedIntegerOption*>(child.get()) != nullptr, row.integer);
            EXPECT_EQ(dynamic_cast<AdvancedStringOption*>(child.get()) != nullptr, !row.integer);
            auto* option = dynamic_cast<AdvancedOption*>(child.get());
            ASSERT_TRUE(option);
            EXPECT_EQ(option->GetOptionPath(), std::string("/") + row.branch + "/" + row.name);
            EXPECT_TRUE(TarnCtl::Util::tarnctl_cast(child.get()));
        }
        EXPECT_TRUE(found);
    }
}

}  // namespace
}  // namespace AdvTest
