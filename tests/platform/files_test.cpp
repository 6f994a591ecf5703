// Host root confinement and atomic file replacement.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <cerrno>
#include <fstream>
#include <iterator>
#include <vector>

#include "fixture.h"
#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/log.h"
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

// The temporary of a replacement is born with the target's mode: a private file
// is never readable by others, whatever the umask.
TEST_F(AtomicFileTest, TemporaryHasTheTargetsModeFromTheStart) {
    struct Row {
        unsigned existing;  // 0: no target yet
        unsigned requested;
        unsigned expected;
    };
    const Row rows[] = {{0600, 0644, 0600}, {0640, 0600, 0640}, {0, 0600, 0600}, {0, 0644, 0644}};
    mode_t old = ::umask(0);  // the umask must not be what keeps the file private
    for (const Row& r : rows) {
        std::string host = "/etc/secret" + std::to_string(r.existing) + std::to_string(r.requested);
        if (r.existing)
            HostCtl::Misc::WriteHostFileAtomic(host, "old", r.existing);
        std::vector<unsigned> seen;
        HostCtl::Misc::Testing::SetAtomicWriteHook([&](const std::string& step, const std::string&) {
            if (step != "write")
                return 0;
            for (auto* d = opendir((Root() + "/etc").c_str()); d;) {
                while (auto* e = readdir(d)) {
                    std::string n = e->d_name;
                    if (n.size() > 4 && n.compare(n.size() - 4, 4, ".tmp") == 0) {
                        struct stat st;
                        if (::stat((Root() + "/etc/" + n).c_str(), &st) == 0)
                            seen.push_back(st.st_mode & 07777);
                    }
                }
                closedir(d);
                break;
            }
            return 0;
        });
        HostCtl::Misc::WriteHostFileAtomic(host, "new", r.requested);
        HostCtl::Misc::Testing::SetAtomicWriteHook(nullptr);
        EXPECT_EQ(seen, std::vector<unsigned>{r.expected}) << host;
        struct stat st;
        ASSERT_EQ(::stat((Root() + host).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, r.expected) << host;
    }
    ::umask(old);
}

// fsync of the content, then the rename, then fsync of the directory.
TEST_F(AtomicFileTest, CommitSyncsBeforeItRenames) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/motd", "old");
    std::vector<std::string> steps;
    HostCtl::Misc::Testing::SetAtomicWriteHook([&](const std::string& step, const std::string& host) {
        steps.push_back(step + " " + host + " " + TarnTest::ReadHost("/etc/motd"));
        return 0;
    });
    HostCtl::Misc::WriteHostFileAtomic("/etc/motd", "new");
    HostCtl::Misc::Testing::SetAtomicWriteHook(nullptr);
    EXPECT_EQ(steps, (std::vector<std::string>{"write /etc/motd old", "fsync /etc/motd old",
                                               "rename /etc/motd old", "fsync-dir /etc/motd new"}));
}

TEST_F(AtomicFileTest, AFailedStepLeavesTheOldFile) {
    for (const char* failing : {"write", "fsync", "rename"}) {
        HostCtl::Misc::WriteHostFileAtomic("/etc/motd", "old", 0640);
        HostCtl::Misc::Testing::SetAtomicWriteHook([&](const std::string& step, const std::string&) {
            return step == failing ? EIO : 0;
        });
        try {
            HostCtl::Misc::WriteHostFileAtomic("/etc/motd", "new");
            ADD_FAILURE() << failing;
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to write " + Root() + "/etc/motd: Input/output error") << failing;
        }
        HostCtl::Misc::Testing::SetAtomicWriteHook(nullptr);
        EXPECT_EQ(TarnTest::ReadHost("/etc/motd"), "old") << failing;
        struct stat st;
        ASSERT_EQ(::stat((Root() + "/etc/motd").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0640u);
        int entries = 0;  // no temporary left behind
        for (auto* d = opendir((Root() + "/etc").c_str()); d;) {
            while (auto* e = readdir(d))
                entries += std::string(e->d_name) != "." && std::string(e->d_name) != "..";
            closedir(d);
            break;
        }
        EXPECT_EQ(entries, 1) << failing;
    }
    // A directory that cannot be synced: the new content is in place, with a warning.
    Platform::Log::Capture capture;
    HostCtl::Misc::Testing::SetAtomicWriteHook([](const std::string& step, const std::string&) {
        return step == "fsync-dir" ? EIO : 0;
    });
    HostCtl::Misc::WriteHostFileAtomic("/etc/motd", "newer");
    HostCtl::Misc::Testing::SetAtomicWriteHook(nullptr);
    EXPECT_EQ(TarnTest::ReadHost("/etc/motd"), "newer");
    EXPECT_TRUE(capture.Contains("Unable to sync the directory of " + Root() + "/etc/motd: Input/output error"));
}

// A reader in the middle of every replacement (at the moment before the rename,
// and one that opened the file before the commit) sees a whole content.
TEST_F(AtomicFileTest, ConcurrentReaderSeesOnlyWholeContents) {
    const std::string a(64 * 1024, 'a'), b(96 * 1024, 'b');
    HostCtl::Misc::WriteHostFileAtomic("/etc/big", a);
    std::vector<std::string> midway;
    HostCtl::Misc::Testing::SetAtomicWriteHook([&](const std::string& step, const std::string&) {
        if (step == "rename")
            midway.push_back(TarnTest::ReadHost("/etc/big"));
        return 0;
    });
    for (int i = 0; i < 10; ++i) {
        const std::string& before = i % 2 ? b : a;
        const std::string& after = i % 2 ? a : b;
        auto early = HostCtl::Misc::GetIfstream("/etc/big");
        ASSERT_TRUE(early->is_open());
        HostCtl::Misc::WriteHostFileAtomic("/etc/big", after);
        std::string s((std::istreambuf_iterator<char>(*early)), std::istreambuf_iterator<char>());
        EXPECT_TRUE(s == before) << i;
        ASSERT_EQ(midway.size(), static_cast<size_t>(i + 1));
        EXPECT_TRUE(midway.back() == before) << i;
        EXPECT_TRUE(TarnTest::ReadHost("/etc/big") == after) << i;
    }
    HostCtl::Misc::Testing::SetAtomicWriteHook(nullptr);
}

// A directory or file swapped for a link to the outside just before the walk
// opens it is read as a path inside the root, never followed out.
TEST_F(AtomicFileTest, SymlinkSwappedInIsNotFollowed) {
    std::string outside = TarnTest::MakeFreshRoot();  // a second directory, outside this root
    Platform::SetHostRoot(Root());
    std::ofstream(outside + "/sshd_config") << "OUTSIDE";
    HostCtl::Misc::WriteHostFileAtomic("/etc/ssh/sshd_config", "inside");
    HostCtl::Misc::WriteHostFileAtomic("/etc/motd", "motd");
    auto swapAt = [&](const std::string& component, const std::string& real) {
        Platform::Testing::SetOpenHook([=](const std::string& c) {
            if (c != component)
                return;
            ::rename(real.c_str(), (real + ".moved").c_str());
            (void)!::symlink(outside.c_str(), real.c_str());
        });
    };
    swapAt("ssh", Root() + "/etc/ssh");
    std::string text;
    EXPECT_FALSE(HostCtl::Misc::ReadHostFile("/etc/ssh/sshd_config", &text));  // no such file below the root
    Platform::Testing::SetOpenHook(nullptr);
    EXPECT_EQ(text, "");
    HostCtl::Misc::WriteHostFileAtomic("/etc/ssh/sshd_config", "written");
    EXPECT_EQ(TarnTest::ReadHost(outside + "/sshd_config"), "written");  // the outside path, below the root
    std::ifstream out(outside + "/sshd_config");
    std::string outsideText((std::istreambuf_iterator<char>(out)), std::istreambuf_iterator<char>());
    EXPECT_EQ(outsideText, "OUTSIDE");
    // The last component swapped for a link.
    ::unlink((outside + "/motd").c_str());
    std::ofstream(outside + "/motd") << "OUTSIDE";
    Platform::Testing::SetOpenHook([&](const std::string& c) {
        if (c != "motd")
            return;
        ::unlink((Root() + "/etc/motd").c_str());
        (void)!::symlink((outside + "/motd").c_str(), (Root() + "/etc/motd").c_str());
    });
    auto in = HostCtl::Misc::GetIfstream("/etc/motd");
    Platform::Testing::SetOpenHook(nullptr);
    EXPECT_FALSE(in->is_open());
    EXPECT_FALSE(HostCtl::Misc::HostFileExists("/etc/motd"));
    TarnTest::RemoveTree(outside);
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
