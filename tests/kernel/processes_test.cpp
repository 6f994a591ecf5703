// Simulated daemons: a start through TarnCtl_Daemon leaves a process with a
// pid and a PID file, it lives until signalled through the one signal seam,
// signals are recorded, and a reboot ends every process and starts the
// services /bin/chkconfig has enabled.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "fixture.h"
#include "platform/exec.h"
#include "platform/hostroot.h"
#include "platform/misc.h"
#include "sim/faults.h"
#include "sim/processes.h"
#include "sim/profile.h"

namespace {

using Platform::Exec::Invocation;
using Platform::Exec::Result;

// A daemon program for the tests: "-pf FILE" names its PID file, "-r" is a
// release run that starts nothing, "--fail" exits 2. SIGUSR2 ends it; SIGTERM
// does not (it only reloads), to show the handler decides.
const TarnSim::DaemonRegistration kDaemon("/bin/ktest-daemon", {
    .run = [](const Invocation& inv, TarnSim::Launch& launch) -> Result {
        std::string pidFile;
        for (size_t i = 1; i < inv.argv.size(); ++i) {
            if (inv.argv[i] == "--fail")
                return {2, "", "ktest-daemon: failing on purpose\n"};
            if (inv.argv[i] == "-r")
                return {0, "released\n", ""};
            if (inv.argv[i] == "-pf" && i + 1 < inv.argv.size())
                pidFile = inv.argv[++i];
        }
        launch.start = true;
        launch.pidFile = pidFile;
        return {0, "", ""};
    },
    .onSignal = [](const TarnSim::Process&, int signal) { return signal == SIGUSR2; },
});

// A second daemon with the default signal behaviour.
const TarnSim::DaemonRegistration kPlainDaemon("/sbin/ktest-plain", {
    .run = [](const Invocation&, TarnSim::Launch& launch) -> Result {
        launch.start = true;
        launch.name = "plaind";
        launch.pidFile = "/var/run/plaind.pid";
        return {0, "", ""};
    },
    .onSignal = nullptr,
});

class ProcessTest : public TarnTest::HostTest {
protected:
    // The processes besides the host's own console and log daemons.
    // Processes other than the host's own: the console, the log daemon and the
    // DHCP client of the management NIC that a host without configuration brings up at boot.
    static std::vector<TarnSim::Process> Others() {
        std::vector<TarnSim::Process> out;
        for (auto& p : TarnSim::Processes())
            if (p.name != "hcui" && p.name != "corelogd" && p.name != "dhclient-uw")
                out.push_back(std::move(p));
        return out;
    }
    static int StartDaemon(const std::string& pidFile = "/var/run/kd.pid") {
        EXPECT_TRUE(TarnCtl::Util::TarnCtl_Daemon("/bin/ktest-daemon -pf %s", pidFile.c_str()));
        auto all = Others();
        return all.empty() ? 0 : all.back().pid;
    }
    static std::vector<int> Pids() {
        std::vector<int> out;
        for (const auto& p : Others())
            out.push_back(p.pid);
        return out;
    }
    static bool Exists(const std::string& hostPath) { return HostCtl::Misc::HostFileExists(hostPath); }
    static void Script(const std::string& name) {
        HostCtl::Misc::WriteHostFileAtomic("/etc/init.d/" + name, "#!/bin/sh\n", 0755);
    }
    static bool Run(const std::string& line) { return TarnCtl::Util::TarnCtl_Exec("%s", line.c_str()); }
};

TEST_F(ProcessTest, ADaemonStartLeavesAProcessWithItsPidFile) {
    int pid = StartDaemon();
    ASSERT_GT(pid, 0);
    auto p = TarnSim::FindProcess(pid);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->name, "ktest-daemon");
    EXPECT_EQ(p->argv, (std::vector<std::string>{"/bin/ktest-daemon", "-pf", "/var/run/kd.pid"}));
    EXPECT_EQ(p->pidFile, "/var/run/kd.pid");
    EXPECT_TRUE(p->signals.empty());
    EXPECT_EQ(TarnTest::ReadHost("/var/run/kd.pid"), std::to_string(pid) + "\n");
    EXPECT_EQ(Platform::Exec::FindProcesses("ktest-daemon"), std::vector<int>{pid});
    EXPECT_NE(TarnTest::ReadHost("/var/log/tarnctl-exec.log").find("daemon: /bin/ktest-daemon -pf /var/run/kd.pid"),
              std::string::npos);
}

TEST_F(ProcessTest, EachStartIsANewProcessWithAHigherPid) {
    int a = StartDaemon("/var/run/a.pid");
    int b = StartDaemon("/var/run/b.pid");
    EXPECT_GT(b, a);
    EXPECT_EQ(Pids(), (std::vector<int>{a, b}));
    EXPECT_EQ(Platform::Exec::FindProcesses("ktest-daemon"), (std::vector<int>{a, b}));
}

TEST_F(ProcessTest, ReleaseAndFailedRunsLeaveNoProcess) {
    std::string out, err;
    EXPECT_EQ(TarnCtl::Util::RunShellCmd(0, "/bin/ktest-daemon -r -pf /var/run/kd.pid", "", out, err), 0);
    EXPECT_EQ(out, "released\n");
    EXPECT_FALSE(TarnCtl::Util::TarnCtl_Daemon("/bin/ktest-daemon --fail -pf /var/run/kd.pid"));
    EXPECT_TRUE(Others().empty());
    EXPECT_FALSE(Exists("/var/run/kd.pid"));
}

TEST_F(ProcessTest, AProcessLivesUntilASignalItsHandlerEndsItOn) {
    int pid = StartDaemon();
    EXPECT_EQ(Platform::Exec::Kill(pid, SIGHUP), 0);
    EXPECT_EQ(Platform::Exec::Kill(pid, SIGTERM), 0);  // this daemon only reloads on TERM
    EXPECT_EQ(Platform::Exec::Kill(pid, 0), 0);        // existence check, not recorded
    auto p = TarnSim::FindProcess(pid);
    ASSERT_TRUE(p.has_value());
    EXPECT_EQ(p->signals, (std::vector<int>{SIGHUP, SIGTERM}));
    EXPECT_EQ(Platform::Exec::Kill(pid, SIGUSR2), 0);
    EXPECT_FALSE(TarnSim::FindProcess(pid).has_value());
    // A clean exit takes the PID file with it.
    EXPECT_FALSE(Exists("/var/run/kd.pid"));
    EXPECT_EQ(Platform::Exec::Kill(pid, 0), ESRCH);
    EXPECT_EQ(Platform::Exec::Kill(pid, SIGTERM), ESRCH);
    const std::string log = TarnTest::ReadHost("/var/log/tarnctl-exec.log");
    EXPECT_NE(log.find("kill: " + std::to_string(pid) + " 1\n"), std::string::npos);
    EXPECT_NE(log.find("kill: " + std::to_string(pid) + " 12\n"), std::string::npos);
}

TEST_F(ProcessTest, DefaultHandlerEndsOnTermAndKeepsOtherSignals) {
    ASSERT_TRUE(TarnCtl::Util::TarnCtl_Daemon("/sbin/ktest-plain"));
    int pid = Platform::Exec::FindProcesses("plaind").at(0);
    EXPECT_TRUE(Platform::Exec::SignalProcess("plaind", SIGUSR1));
    EXPECT_TRUE(Platform::Exec::SignalProcess("plaind", SIGUSR2));
    EXPECT_EQ(TarnSim::FindProcess(pid)->signals, (std::vector<int>{SIGUSR1, SIGUSR2}));
    EXPECT_TRUE(Platform::Exec::SignalProcess("plaind", SIGTERM));
    EXPECT_TRUE(Platform::Exec::FindProcesses("plaind").empty());
    EXPECT_FALSE(Platform::Exec::SignalProcess("plaind", SIGTERM));
    EXPECT_FALSE(Exists("/var/run/plaind.pid"));
}

TEST_F(ProcessTest, SigkillEndsAnyProcessAndLeavesItsPidFileBehind) {
    int pid = StartDaemon();
    EXPECT_EQ(Platform::Exec::Kill(pid, SIGKILL), 0);
    EXPECT_FALSE(TarnSim::FindProcess(pid).has_value());
    EXPECT_EQ(TarnTest::ReadHost("/var/run/kd.pid"), std::to_string(pid) + "\n");
}

TEST_F(ProcessTest, NoPidFileFaultStartsTheProcessWithoutItsPidFileOnce) {
    TarnSim::InjectProgramFault({"/bin/ktest-daemon", TarnSim::ProgramFault::Kind::NoPidFile});
    int first = StartDaemon("/var/run/first.pid");
    ASSERT_TRUE(TarnSim::FindProcess(first).has_value());
    EXPECT_EQ(TarnSim::FindProcess(first)->pidFile, "");
    EXPECT_FALSE(Exists("/var/run/first.pid"));
    int second = StartDaemon("/var/run/second.pid");
    EXPECT_EQ(TarnTest::ReadHost("/var/run/second.pid"), std::to_string(second) + "\n");
    EXPECT_TRUE(TarnSim::AllFaults().programs.empty());
}

TEST_F(ProcessTest, ExitFaultOnADaemonStartsNothing) {
    TarnSim::InjectProgramFault({"/bin/ktest-daemon", TarnSim::ProgramFault::Kind::ExitStatus, 4});
    EXPECT_FALSE(TarnCtl::Util::TarnCtl_Daemon("/bin/ktest-daemon -pf /var/run/kd.pid"));
    EXPECT_TRUE(Others().empty());
    EXPECT_FALSE(Exists("/var/run/kd.pid"));
}

TEST_F(ProcessTest, ProcessesAndSignalsAreSharedBetweenProcesses) {
    pid_t child = fork();
    if (child == 0)
        _exit(TarnCtl::Util::TarnCtl_Daemon("/bin/ktest-daemon -pf /var/run/kd.pid") ? 0 : 1);
    int st = 0;
    waitpid(child, &st, 0);
    ASSERT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    ASSERT_EQ(Others().size(), 1u);
    int pid = Others()[0].pid;
    EXPECT_EQ(Platform::Exec::Kill(pid, SIGHUP), 0);
    child = fork();
    if (child == 0) {
        auto p = TarnSim::FindProcess(pid);
        _exit(p && p->signals == std::vector<int>{SIGHUP} ? 0 : 1);
    }
    waitpid(child, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
}

TEST_F(ProcessTest, InitScriptsRunTheirServiceAsAProcess) {
    Script("ntpd");
    EXPECT_FALSE(Run("/etc/init.d/ntpd status"));
    EXPECT_FALSE(Run("/etc/init.d/ntpd reload"));
    EXPECT_TRUE(Run("/etc/init.d/ntpd start"));
    std::vector<int> pids = Platform::Exec::FindProcesses("ntpd");
    ASSERT_EQ(pids.size(), 1u);
    EXPECT_EQ(TarnTest::ReadHost("/var/run/ntpd.pid"), std::to_string(pids[0]) + "\n");
    EXPECT_TRUE(Run("/etc/init.d/ntpd start"));  // already running: still one
    EXPECT_EQ(Platform::Exec::FindProcesses("ntpd"), pids);
    EXPECT_TRUE(Run("/etc/init.d/ntpd reload"));
    EXPECT_EQ(TarnSim::FindProcess(pids[0])->signals, std::vector<int>{SIGHUP});
    EXPECT_TRUE(Run("/etc/init.d/ntpd restart"));
    std::vector<int> restarted = Platform::Exec::FindProcesses("ntpd");
    ASSERT_EQ(restarted.size(), 1u);
    EXPECT_GT(restarted[0], pids[0]);
    EXPECT_TRUE(Run("/etc/init.d/ntpd stop"));
    EXPECT_TRUE(Platform::Exec::FindProcesses("ntpd").empty());
    EXPECT_FALSE(Exists("/var/run/ntpd.pid"));
}

TEST_F(ProcessTest, ARegisteredServiceWritesItsOwnPidFile) {
    TarnSim::RegisterService("corelogd", {"/var/run/quillon/corelogd.pid", nullptr});
    Script("corelogd");
    EXPECT_TRUE(Run("/etc/init.d/corelogd start"));
    EXPECT_EQ(TarnTest::ReadHost("/var/run/quillon/corelogd.pid"),
              std::to_string(Platform::Exec::FindProcesses("corelogd").at(0)) + "\n");
}

TEST_F(ProcessTest, ChkconfigKeepsOneLinePerServiceInItsDatabase) {
    Script("ntpd");
    Script("sshd");
    EXPECT_TRUE(Run("/bin/chkconfig ntpd on"));
    EXPECT_TRUE(Run("/bin/chkconfig sshd on"));
    EXPECT_TRUE(Run("/bin/chkconfig ntpd off"));
    EXPECT_EQ(TarnTest::ReadHost("/etc/chkconfig.db"), "/etc/init.d/ntpd\toff\n/etc/init.d/sshd\ton\n");
    std::string out;
    EXPECT_EQ(TarnCtl::Util::RunShellCmd(0, "/bin/chkconfig --list", "", out), 0);
    EXPECT_EQ(out, "ntpd\toff\nsshd\ton\n");
    EXPECT_FALSE(Run("/bin/chkconfig ntpd"));
    EXPECT_TRUE(Run("/bin/chkconfig sshd"));
    EXPECT_FALSE(Run("/bin/chkconfig sshd maybe"));
    EXPECT_FALSE(Run("/bin/chkconfig missing on"));
    EXPECT_EQ(TarnTest::ReadHost("/etc/chkconfig.db"), "/etc/init.d/ntpd\toff\n/etc/init.d/sshd\ton\n");
}

TEST_F(ProcessTest, ARebootEndsEveryProcessAndStartsTheEnabledServices) {
    TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    Script("ntpd");
    Script("sshd");
    Script("snmpd");
    EXPECT_TRUE(Run("/bin/chkconfig ntpd on"));
    EXPECT_TRUE(Run("/bin/chkconfig snmpd on"));
    EXPECT_TRUE(Run("/bin/chkconfig sshd off"));
    ASSERT_EQ(::unlink(Platform::HostPath("/etc/init.d/snmpd").c_str()), 0);  // enabled, but gone
    StartDaemon();
    EXPECT_TRUE(Run("/etc/init.d/sshd start"));
    EXPECT_TRUE(Run("/etc/init.d/ntpd start"));

    auto outcomes = TarnSim::Profile::Reboot();

    std::vector<TarnSim::Process> now = Others();
    ASSERT_EQ(now.size(), 1u);
    EXPECT_EQ(now[0].name, "ntpd");
    EXPECT_EQ(now[0].argv, (std::vector<std::string>{"/etc/init.d/ntpd", "start"}));
    EXPECT_FALSE(Exists("/var/run/kd.pid"));
    EXPECT_FALSE(Exists("/var/run/sshd.pid"));
    EXPECT_EQ(TarnTest::ReadHost("/var/run/ntpd.pid"), std::to_string(now[0].pid) + "\n");
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().name, "service:ntpd");
    EXPECT_TRUE(outcomes.back().ok);
    size_t services = 0;
    for (const auto& o : outcomes)
        services += o.name.rfind("service:", 0) == 0;
    EXPECT_EQ(services, 1u);
}

TEST_F(ProcessTest, TheHostsOwnDaemonsRunAfterInitAndAfterEveryReboot) {
    TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    auto own = [] {
        std::map<std::string, int> out;
        for (const auto& p : TarnSim::Processes())
            if (p.name == "hcui" || p.name == "corelogd")
                out[p.name] = p.pid;
        return out;
    };
    auto before = own();
    ASSERT_EQ(before.size(), 2u);
    EXPECT_EQ(TarnTest::ReadHost("/var/run/hcui.pid"), std::to_string(before["hcui"]) + "\n");
    EXPECT_EQ(TarnTest::ReadHost("/var/run/quillon/corelogd.pid"), std::to_string(before["corelogd"]) + "\n");
    // Simulated pids are never a real process's.
    EXPECT_GT(before["hcui"], 4194304);
    ASSERT_EQ(Platform::Exec::Kill(before["corelogd"], SIGKILL), 0);
    TarnSim::Profile::Reboot();
    auto after = own();
    ASSERT_EQ(after.size(), 2u);
    // The killed log daemon runs again.
    EXPECT_TRUE(TarnSim::FindProcess(after["corelogd"]).has_value());
    EXPECT_EQ(TarnTest::ReadHost("/var/run/quillon/corelogd.pid"), std::to_string(after["corelogd"]) + "\n");
    // Their init scripts control them like any service.
    EXPECT_TRUE(Run("/etc/init.d/hcui stop"));
    EXPECT_FALSE(Exists("/var/run/hcui.pid"));
    EXPECT_TRUE(Run("/etc/init.d/hcui start"));
    EXPECT_EQ(TarnTest::ReadHost("/var/run/hcui.pid"), std::to_string(own()["hcui"]) + "\n");
}

TEST_F(ProcessTest, AServiceThatFailsToStartAtBootIsAFailedOutcome) {
    TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    Script("ntpd");
    EXPECT_TRUE(Run("/bin/chkconfig ntpd on"));
    TarnSim::InjectProgramFault({"/etc/init.d/ntpd", TarnSim::ProgramFault::Kind::ExitStatus, 5});
    auto outcomes = TarnSim::Profile::Reboot();
    ASSERT_FALSE(outcomes.empty());
    EXPECT_EQ(outcomes.back().name, "service:ntpd");
    EXPECT_FALSE(outcomes.back().ok);
    EXPECT_EQ(outcomes.back().error, "exit status 5: /etc/init.d/ntpd: failed (injected exit status 5)");
    EXPECT_TRUE(Others().empty());
}

}  // namespace
