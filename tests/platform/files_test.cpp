// Host root confinement and atomic file replacement.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <atomic>
#include <fstream>
#include <thread>

#include "fixture.h"
#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/misc.h"

namespace {

class RootTest : public TarnTest::HostTest {};

TEST_F(RootTest, MapsAbsolutePathsBelowTheRoot) {
    EXPECT_EQ(Platform::HostPath("/etc/hosts"), Root() + "/etc/hosts");
    EXPECT_EQ(Platform::HostPath("//etc/./hosts"), Root() + "/etc/hosts");
    EXPECT_EQ(Platform::HostPath("/"), Root());
}

TEST_F(RootTest, RefusesRelativeAndDotDotPaths) {
    for (const char* bad : {"etc/hosts", "", "/etc/../../outside", "/..", "/a/b/../c"}) {
        EXPECT_THROW(Platform::HostPath(bad), HostCtl::Lib::HostCtlException) << bad;
    }
}

TEST_F(RootTest, SymlinksCannotLeadOut) {
    ::mkdir((Root() + "/etc").c_str(), 0755);
    ASSERT_EQ(::symlink("../../../../../../../../tmp", (Root() + "/etc/up").c_str()), 0);
    ASSERT_EQ(::symlink("../..", (Root() + "/etc/up2").c_str()), 0);
    EXPECT_THROW(Platform::HostPath("/etc/up/x"), HostCtl::Lib::HostCtlException);
    EXPECT_THROW(Platform::HostPath("/etc/up2/x"), HostCtl::Lib::HostCtlException);
    EXPECT_THROW(HostCtl::Misc::WriteHostFileAtomic("/etc/up/tarnctl-escape", "x"),
                 HostCtl::Lib::HostCtlException);
}

TEST_F(RootTest, AbsoluteSymlinksAreReadBelowTheRoot) {
    ::mkdir((Root() + "/etc").c_str(), 0755);
    ASSERT_EQ(::symlink("/etc", (Root() + "/etc/loop").c_str()), 0);
    ASSERT_EQ(::symlink("/nonexistent-outside/file", (Root() + "/etc/dangling").c_str()), 0);
    ASSERT_EQ(::symlink("..", (Root() + "/etc/parent").c_str()), 0);
    EXPECT_EQ(Platform::HostPath("/etc/loop/passwd"), Root() + "/etc/passwd");
    EXPECT_EQ(Platform::HostPath("/etc/dangling"), Root() + "/nonexistent-outside/file");
    EXPECT_EQ(Platform::HostPath("/etc/parent/etc/x"), Root() + "/etc/x");
    HostCtl::Misc::WriteHostFileAtomic("/etc/dangling", "inside");
    EXPECT_EQ(TarnTest::ReadHost("/nonexistent-outside/file"), "inside");
    EXPECT_NE(::access("/nonexistent-outside/file", F_OK), 0);
}

class AtomicFileTest : public TarnTest::HostTest {};

TEST_F(AtomicFileTest, UncommittedWriteLeavesTheOldFile) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/motd", "old");
    {
        HostCtl::Misc::TmpOfstreamWrapper f("/etc/motd");
        f << "new";
    }
    EXPECT_EQ(TarnTest::ReadHost("/etc/motd"), "old");
    // No temporary is left behind.
    int entries = 0;
    for (auto* d = opendir((Root() + "/etc").c_str()); d;) {
        while (auto* e = readdir(d))
            entries += e->d_name[0] != '.' || std::string(e->d_name).size() > 2;
        closedir(d);
        break;
    }
    EXPECT_EQ(entries, 1);
}

TEST_F(AtomicFileTest, KeepsTheTargetsMode) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/shadow", "a", 0600);
    HostCtl::Misc::WriteHostFileAtomic("/etc/shadow", "b", 0644);
    struct stat st;
    ASSERT_EQ(::stat((Root() + "/etc/shadow").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(TarnTest::ReadHost("/etc/shadow"), "b");
}

TEST_F(AtomicFileTest, ConcurrentReaderSeesOnlyWholeContents) {
    const std::string a(64 * 1024, 'a'), b(96 * 1024, 'b');
    HostCtl::Misc::WriteHostFileAtomic("/etc/big", a);
    std::atomic<bool> stop{false};
    std::atomic<int> torn{0}, reads{0};
    std::string real = Platform::HostPath("/etc/big");
    std::thread reader([&] {
        while (!stop) {
            std::ifstream in(real, std::ios::binary);
            std::string s((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            if (s != a && s != b)
                ++torn;
            ++reads;
        }
    });
    for (int i = 0; i < 200; ++i)
        HostCtl::Misc::WriteHostFileAtomic("/etc/big", i % 2 ? a : b);
    while (reads < 50)
        std::this_thread::yield();
    stop = true;
    reader.join();
    EXPECT_EQ(torn, 0);
}

TEST(Strings, TokenizeDropsEmptyPieces) {
    std::vector<std::string> out;
    HostCtl::Misc::StringTokenize(",a,,b c,", out, ", ");
    EXPECT_EQ(out, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(HostCtl::Misc::StrCat("a", "b", "c", std::string("d")), "abcd");
    EXPECT_EQ(HostCtl::Misc::StrPrintf("%s-%04d", "x", 7), "x-0007");
    EXPECT_EQ(HostCtl::Misc::StrPrintf("%s", std::string(1000, 'z').c_str()).size(), 1000u);
    EXPECT_TRUE(HostCtl::Misc::StartsWith("/etc/hosts", "/etc/"));
    EXPECT_FALSE(HostCtl::Misc::StartsWith("/e", "/etc"));
}

}  // namespace
