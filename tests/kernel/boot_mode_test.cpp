// Boot mode belongs to the process running the boot: a reboot killed at any
// point leaves a host whose next settings are recorded and survive the next
// reboot, and the next process logs that the last boot was interrupted.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include "adv/advanced_option_impl.h"
#include "fixture.h"
#include "hostctl/adv.h"
#include "platform/boot.h"
#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "sim/profile.h"

namespace {

using Platform::Log::Level;

constexpr const char* kOption = "/Mem/IdleTax";

std::shared_ptr<HaldenConfigStore::ConfigStore> Store() {
    return HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
}

std::unique_ptr<HostCtl::Adv::AdvancedIntegerOption> Option() {
    auto o = TarnCtl::Adv::AdvancedOptionImpl::FindOption(kOption);
    auto* typed = dynamic_cast<HostCtl::Adv::AdvancedIntegerOption*>(o.get());
    if (!typed)
        throw std::runtime_error("not an integer option");
    o.release();
    return std::unique_ptr<HostCtl::Adv::AdvancedIntegerOption>(typed);
}

// A child process that reboots the host and stops for good when the boot
// enters `phase`; the parent learns through a pipe that it got there.
class StoppedBoot {
public:
    explicit StoppedBoot(const std::string& phase) {
        int fds[2];
        if (::pipe(fds) != 0)
            throw std::runtime_error("pipe failed");
        _pid = ::fork();
        if (_pid == 0) {
            ::close(fds[0]);
            Platform::Boot::SetPhaseHook([phase, fd = fds[1]](const std::string& now) {
                if (now != phase)
                    return;
                char c = 1;
                (void)!::write(fd, &c, 1);
                for (;;)
                    ::pause();
            });
            TarnSim::Profile::Reboot();
            _exit(0);  // the phase never came: the parent reads end of file
        }
        ::close(fds[1]);
        char c = 0;
        _reached = ::read(fds[0], &c, 1) == 1;
        ::close(fds[0]);
    }
    ~StoppedBoot() { Kill(); }
    bool Reached() const { return _reached; }
    pid_t Pid() const { return _pid; }
    void Kill() {
        if (_pid <= 0)
            return;
        ::kill(_pid, SIGKILL);
        int st = 0;
        ::waitpid(_pid, &st, 0);
        _pid = -1;
    }

private:
    pid_t _pid = -1;
    bool _reached = false;
};

class BootModeTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    }
};

std::vector<std::string> Phases() {
    std::vector<std::string> out{"processes", "kernel"};
    for (const auto& name : Platform::Boot::BootStepNames())
        out.push_back("step:" + name);
    out.push_back("services");
    out.push_back("end");
    return out;
}

TEST_F(BootModeTest, ARebootKilledAtAnyPointLeavesNoBootModeAndLaterSettingsSurvive) {
    const auto phases = Phases();
    ASSERT_GE(phases.size(), 4u);
    long value = 20;
    for (const auto& phase : phases) {
        SCOPED_TRACE("killed at " + phase);
        StoppedBoot boot(phase);
        ASSERT_TRUE(boot.Reached());
        // While the booting process lives, every process sees boot mode.
        EXPECT_TRUE(Store()->IsBoot());
        pid_t pid = boot.Pid();
        boot.Kill();

        Platform::Log::Capture log;
        EXPECT_FALSE(Store()->IsBoot());
        EXPECT_FALSE(Store()->IsBoot());
        const std::string line =
            "Boot: The last boot (pid " + std::to_string(pid) + ") was interrupted; boot mode is off";
        EXPECT_EQ(log.Count(line, Level::Warning), 1u);

        // A setting made now is recorded ...
        ++value;
        Option()->SetValue(value);
        auto stored = Store()->Get(HaldenConfigStore::ConfigStoreObjectId("mem", "advanced_options", "halden"));
        ASSERT_NE(stored, nullptr);
        long recorded = 0;
        EXPECT_TRUE(stored->GetValue("idle_tax", &recorded)) << stored->GetData();
        EXPECT_EQ(recorded, value);
        // ... and comes back after the next (complete) reboot.
        TarnSim::Profile::Reboot();
        EXPECT_FALSE(Store()->IsBoot());
        EXPECT_EQ(Option()->GetValue(), value);
    }
}

TEST_F(BootModeTest, TheNextBootLogsTheInterruptedOne) {
    pid_t pid;
    {
        StoppedBoot boot("kernel");
        ASSERT_TRUE(boot.Reached());
        pid = boot.Pid();
    }
    Platform::Log::Capture log;
    TarnSim::Profile::Reboot();
    EXPECT_EQ(log.Count("Boot: The last boot (pid " + std::to_string(pid) + ") was interrupted; boot mode is off",
                        Level::Warning),
              1u);
    EXPECT_FALSE(Store()->IsBoot());
}

TEST_F(BootModeTest, BootModeNestsWithinAProcessAndEndsWithTheOutermost) {
    EXPECT_FALSE(Store()->IsBoot());
    Store()->SetBootMode(true);
    {
        Platform::Boot::BootSession inner;
        EXPECT_TRUE(Store()->IsBoot());
    }
    EXPECT_TRUE(Store()->IsBoot());
    // Another process sees it too.
    pid_t pid = ::fork();
    if (pid == 0)
        _exit(Platform::Boot::InProgress() ? 0 : 1);
    int st = 0;
    ::waitpid(pid, &st, 0);
    EXPECT_TRUE(WIFEXITED(st) && WEXITSTATUS(st) == 0);
    Store()->SetBootMode(false);
    EXPECT_FALSE(Store()->IsBoot());
    // Ending again is harmless and logs no interruption.
    Platform::Log::Capture log;
    Store()->SetBootMode(false);
    EXPECT_FALSE(Store()->IsBoot());
    EXPECT_FALSE(log.Contains("interrupted"));
}

// A pause lets the booting process record like any change, while the boot
// still holds its lock (no other process can begin one), and it comes back afterwards.
TEST_F(BootModeTest, APauseHidesBootModeFromThisProcessOnly) {
    {
        Platform::Boot::BootModePause outside;
        EXPECT_FALSE(Store()->IsBoot());
    }
    Platform::Boot::BootSession session;
    {
        Platform::Boot::BootModePause pause;
        EXPECT_FALSE(Store()->IsBoot());
        {
            Platform::Boot::BootModePause nested;
            EXPECT_FALSE(Store()->IsBoot());
        }
        EXPECT_FALSE(Store()->IsBoot());
        int fd = ::open(Platform::HostPath("/var/lib/configstore/boot.lock").c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        EXPECT_NE(0, ::flock(fd, LOCK_SH | LOCK_NB));
        EXPECT_EQ(EWOULDBLOCK, errno);
        ::close(fd);
    }
    EXPECT_TRUE(Store()->IsBoot());
}

TEST_F(BootModeTest, ACompletedRebootLogsNoInterruption) {
    Platform::Log::Capture log;
    TarnSim::Profile::Reboot();
    EXPECT_FALSE(Store()->IsBoot());
    EXPECT_FALSE(log.Contains("interrupted"));
}

}  // namespace
