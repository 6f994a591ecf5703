// Multi-step changes put back what they did when a later step fails: the
// store write or commit after the kernel, the console or the file changed.
#include <sys/stat.h>

#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/misc.h"
#include "system_fixture.h"

namespace SystemTest {
namespace {

using namespace HostCtl::System;

void FailStore(TarnSim::StoreFault::Op op) {
    TarnSim::StoreFault f;
    f.op = op;
    TarnSim::InjectStoreFault(f);
}

std::string LoadedKeymap() {
    std::string text;
    TarnSim::WithState([&](TarnSim::KernelState& s) { text = s.GetAreaValue("console", "keymap"); });
    return text;
}

class RollbackTest : public SystemHostTest {};

TEST_F(RollbackTest, FailedCommitPutsTheGreetingFileBackAndIsAudited) {
    system.SetMotd("old");
    FailStore(TarnSim::StoreFault::Op::Commit);
    std::string error = ErrorOf([&] { system.SetMotd("new"); });
    ASSERT_NE(error, "");
    EXPECT_EQ(TarnTest::ReadHost("/etc/motd"), "old");
    struct stat st {};
    ASSERT_EQ(::stat(Platform::HostPath("/etc/motd").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0444u);
    EXPECT_EQ(system.GetMotd(), "old");
    auto audit = Audit();
    ASSERT_EQ(audit.size(), 2u);
    EXPECT_EQ(audit[1].result, 0);
    EXPECT_EQ(Items(audit[1]), "reason=" + error + ",value=new");
}

TEST_F(RollbackTest, FailedCommitRemovesAGreetingFileThatWasNotThere) {
    FailStore(TarnSim::StoreFault::Op::Commit);
    EXPECT_NE(ErrorOf([&] { system.SetIssue("new"); }), "");
    EXPECT_FALSE(HostCtl::Misc::HostFileExists("/etc/issue"));
    EXPECT_EQ(StoreObject("etc_issue"), nullptr);
}

TEST_F(RollbackTest, FailedStoreWriteLeavesTheGreetingFileUntouched) {
    system.SetWelcomeMessage("old");
    FailStore(TarnSim::StoreFault::Op::Write);
    EXPECT_NE(ErrorOf([&] { system.SetWelcomeMessage("new"); }), "");
    EXPECT_EQ(TarnTest::ReadHost("/etc/quillon/welcome"), "old");
    EXPECT_EQ(system.GetWelcomeMessage(), "old");
}

TEST_F(RollbackTest, FailedResetKeepsTextAndFile) {
    system.SetIssue("kept");
    FailStore(TarnSim::StoreFault::Op::Commit);
    EXPECT_NE(ErrorOf([&] { system.ResetIssue(); }), "");
    EXPECT_EQ(TarnTest::ReadHost("/etc/issue"), "kept");
    EXPECT_EQ(system.GetIssue(), "kept");
}

TEST_F(RollbackTest, FailedCommitReloadsThePreviousKeyboardLayout) {
    system.SetKeyboardLayout("German");
    std::string german = LoadedKeymap();
    FailStore(TarnSim::StoreFault::Op::Commit);
    EXPECT_NE(ErrorOf([&] { system.SetKeyboardLayout("French"); }), "");
    EXPECT_EQ(LoadedKeymap(), german);
    EXPECT_EQ(system.GetKeyboardLayout(), "German");
}

TEST_F(RollbackTest, FailedRecordTakesMaintenanceModeBack) {
    for (auto op : {TarnSim::StoreFault::Op::Write, TarnSim::StoreFault::Op::Commit}) {
        FailStore(op);
        EXPECT_NE(ErrorOf([&] { system.SetMaintenanceModeState(MAINTENANCE_MODE_ENABLED); }), "");
        EXPECT_EQ(system.GetMaintenanceModeState(), MAINTENANCE_MODE_DISABLED);
        EXPECT_EQ(StoreObject("maintenance_mode", "maintenance"), nullptr);
    }
}

TEST_F(RollbackTest, FailedRecordSwitchesTheReadCacheBack) {
    LoadModule("cbrc_filter_2");
    FailStore(TarnSim::StoreFault::Op::Commit);
    EXPECT_NE(ErrorOf([&] { system.SetCbrcEnabled(true); }), "");
    EXPECT_FALSE(system.GetCbrcRuntimeEnabled());
    EXPECT_EQ(StoreObject("CBRC"), nullptr);
    system.SetCbrcEnabled(true);
    FailStore(TarnSim::StoreFault::Op::Write);
    EXPECT_NE(ErrorOf([&] { system.SetCbrcEnabled(false); }), "");
    EXPECT_TRUE(system.GetCbrcRuntimeEnabled());
}

}  // namespace
}  // namespace SystemTest
