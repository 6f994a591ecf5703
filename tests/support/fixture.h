// Test fixture: every test runs against a fresh, empty host root of its own,
// removed again afterwards, so tests never share state or touch the machine.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace TarnTest {

// Creates a fresh temporary directory and makes it the host root.
std::string MakeFreshRoot();
// Removes a directory tree (only below /tmp, as a guard).
void RemoveTree(const std::string& dir);
// Reads a host file below the current root ("" when absent).
std::string ReadHost(const std::string& hostPath);
// Runs `fn` in a child process, as another program on the same host would;
// returns its exit status: 0 when `fn` returned, 3 when it threw, 100 when
// the child did not exit (`fn` may end the child itself with _exit).
int RunInChild(const std::function<void()>& fn);

class HostTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The real directory of the host root.
    const std::string& Root() const { return _root; }

private:
    std::string _root;
};

}  // namespace TarnTest
