// A fresh host root per test.
#include "fixture.h"

#include <ftw.h>
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

void HostTest::SetUp() { _root = MakeFreshRoot(); }

void HostTest::TearDown() {
    if (!HasFailure() || std::getenv("TARNCTL_KEEP_ROOT") == nullptr)
        RemoveTree(_root);
}

}  // namespace TarnTest
