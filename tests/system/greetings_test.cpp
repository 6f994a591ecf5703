// Greeting texts: escape markers, store objects, read-only files written
// whole, audit records, console and log daemon notification through the
// signal seam, and the failure paths.
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>

#include "hostctl/exception.h"
#include "platform/exec.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"
#include "sim/processes.h"
#include "system_fixture.h"

namespace SystemTest {
namespace {

unsigned Mode(const std::string& hostPath) {
    struct stat st {};
    if (::stat(Platform::HostPath(hostPath).c_str(), &st) != 0) return 0;
    return st.st_mode & 07777;
}

std::vector<std::vector<std::string>> SignalCalls() {
    std::vector<std::vector<std::string>> out;
    for (const auto& c : Platform::Exec::RecordedCalls())
        if (!c.empty() && c[0] == "signal:") out.push_back(c);
    return out;
}

class GreetingTest : public SystemHostTest {
protected:
    void SetUp() override {
        SystemHostTest::SetUp();
        Platform::Exec::ClearRecordedCalls();
    }
};

// One greeting as the tests drive it.
struct GreetingCase {
    const char* name;
    const char* key;
    const char* field;
    const char* file;
    const char* option;
    void (TarnCtl::System::SystemInfoImpl::*set)(const std::string&);
    std::string (TarnCtl::System::SystemInfoImpl::*get)();
    void (TarnCtl::System::SystemInfoImpl::*restore)();
};

using Impl = TarnCtl::System::SystemInfoImpl;
const GreetingCase kCases[] = {
    {"welcome", "welcome_message", "message", "/etc/quillon/welcome", "Annotations.WelcomeMessage",
     &Impl::SetWelcomeMessage, &Impl::GetWelcomeMessage, &Impl::RestoreWelcomeMessage},
    {"motd", "etc_motd", "motd", "/etc/motd", "Config.Etc.motd", &Impl::SetMotd, &Impl::GetMotd, &Impl::RestoreMotd},
    {"issue", "etc_issue", "issue", "/etc/issue", "Config.Etc.issue", &Impl::SetIssue, &Impl::GetIssue,
     &Impl::RestoreIssue},
};

class EachGreeting : public GreetingTest, public ::testing::WithParamInterface<GreetingCase> {};

TEST_P(EachGreeting, SetWritesStoreAndReadOnlyFileAndAudits) {
    const auto& g = GetParam();
    (system.*g.set)("Welcome to tarnhost01\nauthorised use only");
    EXPECT_EQ(StoreText(g.key, g.field), "Welcome to tarnhost01\nauthorised use only");
    EXPECT_EQ(TarnTest::ReadHost(g.file), "Welcome to tarnhost01\nauthorised use only");
    EXPECT_EQ(Mode(g.file), 0444u);
    EXPECT_EQ((system.*g.get)(), "Welcome to tarnhost01\nauthorised use only");
    // The file is read-only; a second write still replaces it.
    (system.*g.set)("second");
    EXPECT_EQ(TarnTest::ReadHost(g.file), "second");
    EXPECT_EQ(Mode(g.file), 0444u);
    auto audit = Audit();
    ASSERT_EQ(audit.size(), 2u);
    EXPECT_EQ(audit[1].event, "settings.advanced.set");
    EXPECT_EQ(audit[1].object, g.option);
    EXPECT_EQ(audit[1].result, 1);
    EXPECT_EQ(Items(audit[1]), "value=second");
}

TEST_P(EachGreeting, EmptyTextDeletesTheObjectAndEmptiesTheFile) {
    const auto& g = GetParam();
    (system.*g.set)("hello");
    ASSERT_NE(StoreObject(g.key), nullptr);
    (system.*g.set)("");
    EXPECT_EQ(StoreObject(g.key), nullptr);
    EXPECT_EQ((system.*g.get)(), "");
    EXPECT_TRUE(HostCtl::Misc::HostFileExists(g.file));
    EXPECT_EQ(TarnTest::ReadHost(g.file), "");
}

TEST_P(EachGreeting, FileFailureIsAuditedAndChangesNothing) {
    const auto& g = GetParam();
    (system.*g.set)("kept");
    // A directory where the file should be: the new file cannot take its place.
    ::unlink(Platform::HostPath(g.file).c_str());
    ASSERT_EQ(::mkdir(Platform::HostPath(g.file).c_str(), 0755), 0);
    EXPECT_EQ(ErrorOf([&] { (system.*g.set)("lost"); }), std::string("Error opening file ") + g.file);
    EXPECT_EQ(StoreText(g.key, g.field), "kept");
    auto audit = Audit();
    ASSERT_EQ(audit.size(), 2u);
    EXPECT_EQ(audit[1].event, "settings.advanced.set");
    EXPECT_EQ(audit[1].result, 0);
    EXPECT_EQ(Items(audit[1]), std::string("reason=Error opening file ") + g.file + ",value=lost");
}

TEST_P(EachGreeting, RestoreRewritesTheFileFromTheStoreAndMarksBootStatus) {
    const auto& g = GetParam();
    (system.*g.set)("from the store");
    ::unlink(Platform::HostPath(g.file).c_str());
    TarnSim::Profile::Reboot();
    EXPECT_EQ(TarnTest::ReadHost(g.file), "from the store");
    EXPECT_EQ(Mode(g.file), 0444u);
    EXPECT_EQ((system.*g.get)(), "from the store");
    EXPECT_EQ(TarnCtl::System::SystemStore()->GetBootStatus(HaldenConfigStore::ConfigStoreObjectId(g.key, "system", "halden")),
              std::optional<bool>(true));
    // The greeting's own record, past those of the network bring-up of this unconfigured host.
    auto audit = Audit();
    std::erase_if(audit, [](const auto& r) { return r.object.rfind("/Net/", 0) == 0 || r.object == "/Misc/HostIPAddr"; });
    ASSERT_FALSE(audit.empty());
    EXPECT_EQ(audit.back().event, "settings.advanced.reset");
    EXPECT_EQ(audit.back().object, g.option);
}

TEST_P(EachGreeting, RestoreWithoutRecordLeavesTheFileAlone) {
    const auto& g = GetParam();
    HostCtl::Misc::WriteHostFileAtomic(g.file, "left by hand");
    (system.*g.restore)();
    EXPECT_EQ(TarnTest::ReadHost(g.file), "left by hand");
    EXPECT_TRUE(Audit().empty());
    EXPECT_EQ(TarnCtl::System::SystemStore()->GetBootStatus(HaldenConfigStore::ConfigStoreObjectId(g.key, "system", "halden")),
              std::optional<bool>(true));
}

TEST_P(EachGreeting, RestorePrefersTheDesiredConfiguration) {
    const auto& g = GetParam();
    (system.*g.set)("current");
    auto desired = std::make_shared<HaldenConfigStore::ConfigStoreObject>(
        HaldenConfigStore::ConfigStoreObjectId(g.key, "system", "halden"));
    desired->SetValue(g.field, std::string("desired"));
    TarnCtl::System::SystemStore()->SetDesiredUserConfig(desired);
    (system.*g.restore)();
    EXPECT_EQ(TarnTest::ReadHost(g.file), "desired");
}

TEST_P(EachGreeting, BootModeWritesTheFileAndRecordsNothing) {
    const auto& g = GetParam();
    auto store = TarnCtl::System::SystemStore();
    store->SetBootMode(true);
    (system.*g.set)("replayed");
    store->SetBootMode(false);
    EXPECT_EQ(TarnTest::ReadHost(g.file), "replayed");
    EXPECT_EQ(StoreObject(g.key), nullptr);
    EXPECT_TRUE(Audit().empty());
    EXPECT_TRUE(SignalCalls().empty());
}

INSTANTIATE_TEST_SUITE_P(Texts, EachGreeting, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(GreetingTest, MotdEscapeMarkersRoundTrip) {
    system.SetMotd("<ESC>[1;31mBold red<ESC>[0m");
    EXPECT_EQ(TarnTest::ReadHost("/etc/motd"), "\x1b[1;31mBold red\x1b[0m");
    EXPECT_EQ(StoreText("etc_motd", "motd"), "\x1b[1;31mBold red\x1b[0m");
    EXPECT_EQ(system.GetMotd(), "<ESC>[1;31mBold red<ESC>[0m");
    system.SetIssue("\x1b[2J<ESC>[H");
    EXPECT_EQ(TarnTest::ReadHost("/etc/issue"), "\x1b[2J\x1b[H");
    EXPECT_EQ(system.GetIssue(), "<ESC>[2J<ESC>[H");
    // The welcome message is taken as given.
    system.SetWelcomeMessage("<ESC>[1m");
    EXPECT_EQ(TarnTest::ReadHost("/etc/quillon/welcome"), "<ESC>[1m");
    EXPECT_EQ(system.GetWelcomeMessage(), "<ESC>[1m");
}

TEST_F(GreetingTest, GetFallsBackToTheDesiredObject) {
    auto desired = std::make_shared<HaldenConfigStore::ConfigStoreObject>(
        HaldenConfigStore::ConfigStoreObjectId("etc_motd", "system", "halden"));
    desired->SetValue("motd", std::string("\x1b[0mdesired"));
    TarnCtl::System::SystemStore()->SetDesiredUserConfig(desired);
    EXPECT_EQ(system.GetMotd(), "<ESC>[0mdesired");
    system.SetMotd("current");
    EXPECT_EQ(system.GetMotd(), "current");
}

TEST_F(GreetingTest, ResetRemovesTheObjectAndAudits) {
    system.SetIssue("x");
    system.ResetIssue();
    EXPECT_EQ(StoreObject("etc_issue"), nullptr);
    EXPECT_EQ(TarnTest::ReadHost("/etc/issue"), "");
    EXPECT_EQ(Mode("/etc/issue"), 0444u);
    auto audit = Audit();
    ASSERT_EQ(audit.size(), 2u);
    EXPECT_EQ(audit[1].event, "settings.advanced.reset");
    EXPECT_EQ(audit[1].object, "Config.Etc.issue");
    EXPECT_EQ(Items(audit[1]), "value=");
    EXPECT_EQ(system.GetIssueDefault(), "");
    EXPECT_EQ(system.GetMotdDefault(), "");
    EXPECT_EQ(system.GetWelcomeMessageDefault(), "");
}

TEST_F(GreetingTest, WelcomeMessageSignalsTheSimulatedConsoleOnly) {
    Platform::Log::Capture capture;
    system.SetMotd("no signal for this one");
    EXPECT_TRUE(SignalCalls().empty());
    system.SetWelcomeMessage("hi");
    EXPECT_EQ(SignalCalls(), (std::vector<std::vector<std::string>>{{"signal:", "hcui", std::to_string(SIGUSR1)}}));
    EXPECT_TRUE(capture.Contains("SystemInfo: Notifying HCUI of configuration change", Platform::Log::Level::Info));
    // The signal reached the simulated console process its PID file names, whose
    // pid no real process can have.
    int pid = std::stoi(TarnTest::ReadHost("/var/run/hcui.pid"));
    EXPECT_GT(pid, 4194304);
    auto console = TarnSim::FindProcess(pid);
    ASSERT_TRUE(console.has_value());
    EXPECT_EQ(console->name, "hcui");
    EXPECT_EQ(console->signals, std::vector<int>{SIGUSR1});
}

TEST_F(GreetingTest, NoConsolePidFileMeansNoSignal) {
    ::unlink(Platform::HostPath("/var/run/hcui.pid").c_str());
    system.SetWelcomeMessage("hi");
    EXPECT_TRUE(SignalCalls().empty());
    HostCtl::Misc::WriteHostFileAtomic("/var/run/hcui.pid", "garbage\n");
    system.SetWelcomeMessage("hi again");
    EXPECT_TRUE(SignalCalls().empty());
}

TEST_F(GreetingTest, InsideTheConsoleItselfNothingIsSignalled) {
    HostCtl::Misc::WriteHostFileAtomic("/var/run/hcui.pid", std::to_string(::getpid()) + "\n");
    Platform::Log::Capture capture;
    system.SetWelcomeMessage("hi");
    EXPECT_TRUE(SignalCalls().empty());
    EXPECT_TRUE(capture.Contains("SystemInfo: Skipping HCUI notify, since we are in HCUI", Platform::Log::Level::Warning));
}

TEST_F(GreetingTest, StoppedConsoleIsLoggedNotThrown) {
    // Killed outright, the console leaves its PID file behind.
    std::string pid = std::to_string(std::stoi(TarnTest::ReadHost("/var/run/hcui.pid")));
    ASSERT_EQ(Platform::Exec::Kill(std::stoi(pid), SIGKILL), 0);
    Platform::Exec::ClearRecordedCalls();
    Platform::Log::Capture capture;
    system.SetWelcomeMessage("hi");
    EXPECT_EQ(SignalCalls().size(), 1u);
    EXPECT_TRUE(capture.Contains("SystemInfo: Unable to notify HCUI [pid=" + pid + "]", Platform::Log::Level::Warning));
    EXPECT_EQ(StoreText("welcome_message", "message"), "hi");
}

TEST_F(GreetingTest, LogDaemonIsSignalledOrItsAbsenceReported) {
    TarnCtl::System::NotifyCorelogd();
    EXPECT_EQ(SignalCalls(), (std::vector<std::vector<std::string>>{{"signal:", "corelogd", std::to_string(SIGUSR2)}}));
    int pid = std::stoi(TarnTest::ReadHost("/var/run/quillon/corelogd.pid"));
    ASSERT_EQ(Platform::Exec::Kill(pid, SIGKILL), 0);
    EXPECT_EQ(ErrorOf([] { TarnCtl::System::NotifyCorelogd(); }), "Unable to notify corelogd pid " + std::to_string(pid));
    ::unlink(Platform::HostPath("/var/run/quillon/corelogd.pid").c_str());
    Platform::Exec::ClearRecordedCalls();
    TarnCtl::System::NotifyCorelogd();
    EXPECT_TRUE(SignalCalls().empty());
}

}  // namespace
}  // namespace SystemTest
