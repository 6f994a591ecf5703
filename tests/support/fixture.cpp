// A fresh host root per test.
#include "fixture.h"

#include <ftw.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

#include "platform/hostroot.h"
#include "platform/misc.h"

namespace TarnTest {

std::string MakeFreshRoot() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tarnctl-test-XXXXXX";
    if (!mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    Platform::SetHostRoot(pattern);
    return pattern;
}

void RemoveTree(const std::string& dir) {
    if (dir.find("/tarnctl-test-") == std::string::npos)
        return;
    nftw(
        dir.c_str(),
        [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

std::string ReadHost(const std::string& hostPath) {
    std::string out;
    HostCtl::Misc::ReadHostFile(hostPath, &out);
    return out;
}

int RunInChild(const std::function<void()>& fn) {
    pid_t pid = fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        int rc = 0;
        try {
            fn();
        } catch (...) {
            rc = 3;
        }
        _exit(rc);
    }
    int st = 0;
    waitpid(pid, &st, 0);
    return WIFEXITED(st) ? WEXITSTATUS(st) : 100;
}

void HostTest::SetUp() { _root = MakeFreshRoot(); }

void HostTest::TearDown() {
    if (!HasFailure() || std::getenv("TARNCTL_KEEP_ROOT") == nullptr)
        RemoveTree(_root);
}

}  // namespace TarnTest
