// The command runner: splitting, dispatch, recording, and that hostile text
// never reaches anything that would interpret it.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "fixture.h"
#include "hostctl/exception.h"
#include "platform/exec.h"
#include "platform/log.h"
#include "platform/misc.h"

using ::testing::ElementsAre;

namespace {

struct SplitCase {
    const char* line;
    std::vector<std::string> argv;
};

void PrintTo(const SplitCase& c, std::ostream* os) { *os << c.line; }

class SplitTest : public ::testing::TestWithParam<SplitCase> {};

TEST_P(SplitTest, KeepsShellSyntaxLiteral) {
    EXPECT_EQ(Platform::Exec::SplitCommandLine(GetParam().line), GetParam().argv);
}

INSTANTIATE_TEST_SUITE_P(
    Hostile, SplitTest,
    ::testing::Values(
        SplitCase{"/bin/echo a b", {"/bin/echo", "a", "b"}},
        SplitCase{"/bin/echo a; rm -rf /", {"/bin/echo", "a;", "rm", "-rf", "/"}},
        SplitCase{"/bin/echo `id`", {"/bin/echo", "`id`"}},
        SplitCase{"/bin/echo $(reboot)", {"/bin/echo", "$(reboot)"}},
        SplitCase{"/bin/echo a|b&&c", {"/bin/echo", "a|b&&c"}},
        SplitCase{"/bin/echo 'a b' \"c d\"", {"/bin/echo", "a b", "c d"}},
        SplitCase{"/bin/echo 'it''s'", {"/bin/echo", "its"}},
        SplitCase{"/bin/echo \"say \\\"hi\\\"\"", {"/bin/echo", "say \"hi\""}},
        SplitCase{"/bin/echo a\\ b", {"/bin/echo", "a b"}},
        SplitCase{"/bin/echo ''", {"/bin/echo", ""}},
        SplitCase{"  /bin/echo\t\tx  ", {"/bin/echo", "x"}},
        SplitCase{"/bin/echo '$(x)' \"`y`\"", {"/bin/echo", "$(x)", "`y`"}}));

TEST(Split, UnterminatedQuoteIsRefused) {
    EXPECT_THROW(Platform::Exec::SplitCommandLine("/bin/echo 'open"), HostCtl::Lib::HostCtlException);
}

class ExecTest : public TarnTest::HostTest {};

TEST_F(ExecTest, DispatchesArgumentsVerbatimAndRecordsTheCall) {
    std::vector<std::string> seen;
    Platform::Exec::RegisterProgram("/bin/probe", [&](const Platform::Exec::Invocation& inv) {
        seen = inv.argv;
        return Platform::Exec::Result{0, "out:" + inv.input, ""};
    });
    std::string out;
    EXPECT_EQ(TarnCtl::Util::RunShellCmd(0, "/bin/probe x;touch /tmp/pwned `id` $(id)", "in", out), 0);
    EXPECT_THAT(seen, ElementsAre("/bin/probe", "x;touch", "/tmp/pwned", "`id`", "$(id)"));
    EXPECT_EQ(out, "out:in");
    EXPECT_FALSE(HostCtl::Misc::HostFileExists("/tmp/pwned"));
    EXPECT_NE(TarnTest::ReadHost("/var/log/tarnctl-exec.log").find("'$(id)'"), std::string::npos);
    Platform::Exec::UnregisterProgram("/bin/probe");
}

TEST_F(ExecTest, UnknownProgramFailsWith127AndALogLine) {
    Platform::Log::Capture log;
    std::string out, err;
    EXPECT_EQ(TarnCtl::Util::RunShellCmd(0, "/bin/sh -c 'reboot'", "", out, err), 127);
    EXPECT_FALSE(TarnCtl::Util::TarnCtl_Exec("/sbin/%s", "reboot"));
    EXPECT_TRUE(log.Contains("/bin/sh: command not found", Platform::Log::Level::Error));
    EXPECT_TRUE(log.Contains("/sbin/reboot: command not found", Platform::Log::Level::Error));
}

TEST_F(ExecTest, InitScriptsAndChkconfigKeepServiceState) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/init.d/ntpd", "#!/bin/sh\n", 0755);
    EXPECT_FALSE(TarnCtl::Util::TarnCtl_Exec("/etc/init.d/ntpd status"));
    EXPECT_TRUE(TarnCtl::Util::TarnCtl_Exec("/etc/init.d/ntpd start"));
    EXPECT_TRUE(TarnCtl::Util::TarnCtl_Exec("/etc/init.d/ntpd status"));
    EXPECT_TRUE(Platform::Exec::SignalProcess("ntpd", 1));
    EXPECT_TRUE(TarnCtl::Util::TarnCtl_Exec("/etc/init.d/ntpd stop"));
    EXPECT_FALSE(Platform::Exec::SignalProcess("ntpd", 1));
    EXPECT_FALSE(TarnCtl::Util::TarnCtl_Exec("/etc/init.d/missing start"));

    EXPECT_FALSE(TarnCtl::Util::TarnCtl_Exec("/bin/chkconfig ntpd"));
    EXPECT_TRUE(TarnCtl::Util::TarnCtl_Exec("/bin/chkconfig ntpd on"));
    EXPECT_TRUE(TarnCtl::Util::TarnCtl_Exec("/bin/chkconfig ntpd"));
    EXPECT_TRUE(TarnCtl::Util::TarnCtl_Exec("/bin/chkconfig ntpd off"));
    EXPECT_FALSE(TarnCtl::Util::TarnCtl_Exec("/bin/chkconfig ntpd"));
}

TEST_F(ExecTest, DaemonStartsAreMarkedInTheRecord) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/init.d/snmpd", "", 0755);
    EXPECT_TRUE(TarnCtl::Util::TarnCtl_Daemon("/etc/init.d/snmpd %s", "start"));
    EXPECT_NE(TarnTest::ReadHost("/var/log/tarnctl-exec.log").find("daemon: /etc/init.d/snmpd start"),
              std::string::npos);
}

}  // namespace
