// Kernel advanced options: set, persist, reboot, reset, kernel refusals, the
// tree and path lookup.
#include "adv_fixture.h"
#include "sim_edits.h"

#include "adv/advanced_option_branch_impl.h"
#include "hostctl/exception.h"
#include "hostctl/host.h"
#include "sim/kernel.h"

namespace AdvTest {
namespace {

using HostCtl::Lib::HostCtlException;

class OptionsTest : public AdvHostTest {};

TEST_F(OptionsTest, SetValuesSurviveAReboot) {
    Int("/Net/TcpipHeapSize")->SetValue(16);
    Str("/Misc/HostName")->SetValue("host-a.lab");
    Int("/NFS/MaxVolumes")->SetValue(64);

    auto net = StoreObject("net");
    ASSERT_TRUE(net);
    long v = 0;
    EXPECT_TRUE(net->GetValue("tcpip_heap_size", &v));
    EXPECT_EQ(v, 16);
    std::string s;
    ASSERT_TRUE(StoreObject("misc"));
    EXPECT_TRUE(StoreObject("misc")->GetValue("host_name", &s));
    EXPECT_EQ(s, "host-a.lab");
    ASSERT_TRUE(StoreObject("NFSv3"));

    TarnSim::Profile::Reboot();

    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 16);
    EXPECT_EQ(Str("/Misc/HostName")->GetValue(), "host-a.lab");
    EXPECT_EQ(Int("/NFS/MaxVolumes")->GetValue(), 64);
    // Untouched options come back at their defaults.
    EXPECT_EQ(Int("/Net/TcpipHeapMax")->GetValue(), 512);
}

TEST_F(OptionsTest, SetAuditsTheNewValueAndNoChange) {
    auto o = Int("/Mem/IdleTax");
    o->SetValue(50);
    o->SetValue(50);
    auto log = Audit();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].event, "settings.advanced.set");
    EXPECT_EQ(log[0].object, "/Mem/IdleTax");
    EXPECT_EQ(log[0].result, 1);
    EXPECT_EQ(Items(log[0]), "value=50");
    EXPECT_EQ(Items(log[1]), "value=50,comment=no change");
    // Setting the current value still records it.
    long v = 0;
    EXPECT_TRUE(StoreObject("mem")->GetValue("idle_tax", &v));
}

TEST_F(OptionsTest, ResetOfTheLastOptionOfABranchRemovesTheBranchObject) {
    Int("/Net/TcpipHeapSize")->SetValue(8);
    Int("/Net/IGMPVersion")->SetValue(2);

    Int("/Net/TcpipHeapSize")->SetToDefault();
    auto net = StoreObject("net");
    ASSERT_TRUE(net);
    EXPECT_FALSE(net->HasValue("tcpip_heap_size"));
    EXPECT_TRUE(net->HasValue("IGMP_version"));

    auto igmp = Int("/Net/IGMPVersion");
    igmp->SetToDefault();
    EXPECT_FALSE(StoreObject("net"));
    EXPECT_EQ(igmp->GetValue(), 3);

    auto log = Audit();
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3].event, "settings.advanced.reset");
    EXPECT_EQ(log[3].object, "/Net/IGMPVersion");
    EXPECT_EQ(Items(log[3]), "value=3");
}

TEST_F(OptionsTest, KernelRefusalStoresAndAuditsNothing) {
    auto o = Int("/Net/TcpipHeapSize");
    try {
        o->SetValue(99);
        FAIL() << "accepted a value outside the range";
    } catch (const TarnCtl::Lib::SysinfoException& e) {
        EXPECT_EQ(e.GetStatus(), TARN_BAD_PARAM);
        EXPECT_EQ(std::string(e.what()),
                  "Unable to set option /Net/TcpipHeapSize" + HostCtl::Lib::StatusTail(TARN_BAD_PARAM));
        EXPECT_NE(e.GetDetailedMessage().find("outside the range [0, 32]"), std::string::npos);
    }
    EXPECT_THROW(Str("/Net/TcpipDefaultCC")->SetValue("new-reno"), TarnCtl::Lib::SysinfoException);
    EXPECT_FALSE(StoreObject("net"));
    EXPECT_TRUE(Audit().empty());
    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 0);
    EXPECT_EQ(Str("/Net/TcpipDefaultCC")->GetValue(), "newreno");
}

TEST_F(OptionsTest, KernelFailureOnResetKeepsThePersistedValue) {
    Int("/Mem/IdleTax")->SetValue(40);
    auto o = Int("/Mem/IdleTax");
    TarnTest::FailKernel(KSI_NODE_config_intOpts, TARN_BUSY, {.instance = "Mem/IdleTax"});
    EXPECT_THROW(o->SetToDefault(), TarnCtl::Lib::SysinfoException);
    long v = 0;
    ASSERT_TRUE(StoreObject("mem"));
    EXPECT_TRUE(StoreObject("mem")->GetValue("idle_tax", &v));
    EXPECT_EQ(v, 40);
    EXPECT_EQ(Audit().size(), 1u);
}

TEST_F(OptionsTest, BootModeReplaysWithoutRecording) {
    auto store = TarnCtl::Adv::AdvStore();
    store->SetBootMode(true);
    Int("/Mem/IdleTax")->SetValue(30);
    store->SetBootMode(false);
    EXPECT_EQ(Int("/Mem/IdleTax")->GetValue(), 30);
    EXPECT_FALSE(StoreObject("mem"));
    EXPECT_TRUE(Audit().empty());
}

TEST_F(OptionsTest, FindOptionRejectsBadPaths) {
    struct Case {
        const char* path;
        const char* message;
    } cases[] = {
        {"Net/TcpipHeapSize", "Invalid option name (no slash): Net/TcpipHeapSize"},
        {"/Nope/TcpipHeapSize", "Unable to find branch Nope"},
        {"/Net/Nope", "Unable to find option Nope"},
        {"/UserVars/Nope", "Unable to find option Nope"},
        {"/Net", "Unable to find option Net"},
    };
    for (const auto& c : cases) {
        try {
            TarnCtl::Adv::AdvancedOptionImpl::FindOption(c.path);
            ADD_FAILURE() << c.path << " was found";
        } catch (const HostCtlException& e) {
            EXPECT_EQ(std::string(e.what()), c.message) << c.path;
        }
    }
}

TEST_F(OptionsTest, TreeListsEveryBranchAndFiltersHiddenOptions) {
    auto root = HostCtl::HostFactory::GetHost()->GetAdvancedOptions();
    EXPECT_EQ(root->GetBranchName(), "ROOT");
    EXPECT_TRUE(root->GetOptions(true).empty());
    auto branches = root->GetBranches();
    ASSERT_EQ(branches.size(), 57u);
    EXPECT_EQ(branches.back()->GetBranchName(), "UserVars");

    auto net = root->GetBranchByName("Net");
    auto all = net->GetOptions(true);
    auto visible = net->GetOptions(false);
    auto has = [](const auto& list, const std::string& path) {
        for (const auto& o : list)
            if (o->GetOptionPath() == path) return true;
        return false;
    };
    EXPECT_TRUE(has(all, "/Net/DVFilterFakeSNic"));
    EXPECT_FALSE(has(visible, "/Net/DVFilterFakeSNic"));
    EXPECT_TRUE(has(visible, "/Net/TcpipHeapSize"));
    // Integer options first, then string options.
    EXPECT_EQ(all.back()->GetType(), 1);
    EXPECT_EQ(all.front()->GetType(), 0);
}

TEST_F(OptionsTest, ImpactFollowsTheKernelFlags) {
    struct Case {
        const char* path;
        const char* impact;
    } cases[] = {
        {"/Net/TcpipHeapSize", "reboot"},
        {"/LVM/EnableResignature", "maintenance-mode"},
        {"/Net/UseHwTSO", "none"},
        {"/Mem/KernelMemReservedMB", "reboot"},
    };
    for (const auto& c : cases) EXPECT_EQ(TarnCtl::Adv::AdvancedOptionImpl::FindOption(c.path)->GetImpact(), c.impact);
    EXPECT_TRUE(Int("/Mem/KernelMemReservedMB")->IsHostSpecific());
}

TEST_F(OptionsTest, GettersReadTheKernelWhenStale) {
    auto a = Int("/Mem/IdleTax");
    auto b = Int("/Mem/IdleTax");
    EXPECT_EQ(b->GetValue(), 75);
    a->SetValue(20);
    // b read its record before the write and keeps it until refreshed.
    EXPECT_EQ(b->GetValue(), 75);
    b->Refresh();
    EXPECT_EQ(b->GetValue(), 20);
}

}  // namespace
}  // namespace AdvTest
