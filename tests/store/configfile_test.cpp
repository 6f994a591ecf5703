// Behaviour of the host configuration file: values and their text forms, the
// file's line format, arrays, locking between processes and dropped changes.
#include <sys/wait.h>
#include <unistd.h>

#include "fixture.h"
#include "platform/configfile.h"

namespace {

using namespace TarnCtl::Config;

class ConfigFileTest : public TarnTest::HostTest {};

TEST_F(ConfigFileTest, WrittenValuesReadBackInAnotherProcessAndKeepTheirLineForm) {
    {
        SynchronizedConfigFile f;
        f->SetValue("/system/uuid", "5f1d-9a");
        f->SetValue("/system/visl/VMlocation", "/volumes/a \"b\"");
        f->SetValue("/net/mtu", 1500);
        f->SetValue("/net/enabled", true);
        f->SetValue("/net/flags", static_cast<unsigned char>(0x1f));
        f.Write();
    }
    EXPECT_EQ(TarnTest::ReadHost("/etc/tarn/tarn.conf"),
              "/net/enabled = \"true\"\n"
              "/net/flags = \"1f\"\n"
              "/net/mtu = \"1500\"\n"
              "/system/uuid = \"5f1d-9a\"\n"
              "/system/visl/VMlocation = \"/volumes/a \\\"b\\\"\"\n");
    pid_t pid = fork();
    if (pid == 0) {
        ConfigFile* f = ConfigFile::GetFile();
        std::string loc;
        int mtu = 0;
        unsigned char flags = 0;
        bool ok = f->GetValue("/system/visl/VMlocation", &loc) && loc == "/volumes/a \"b\"" &&
                  f->GetValue("/net/mtu", &mtu) && mtu == 1500 && f->GetValue("/net/flags", &flags) &&
                  flags == 0x1f;
        _exit(ok ? 0 : 1);
    }
    int st;
    waitpid(pid, &st, 0);
    EXPECT_EQ(WEXITSTATUS(st), 0);
}

TEST_F(ConfigFileTest, TypedReadsRefuseTextThatDoesNotConvert) {
    SynchronizedConfigFile f;
    f->SetValue("/a/word", "on");
    f->SetValue("/a/yes", "yes");
    f->SetValue("/a/neg", -5);
    bool b = false;
    unsigned u = 0;
    long l = 0;
    EXPECT_FALSE(f->GetValue("/a/word", &b));
    EXPECT_TRUE(f->GetValue("/a/yes", &b));
    EXPECT_TRUE(b);
    EXPECT_FALSE(f->GetValue("/a/neg", &u));
    EXPECT_TRUE(f->GetValue("/a/neg", &l));
    EXPECT_EQ(l, -5);
    EXPECT_FALSE(f->GetValue("/a/missing", &l));
}

TEST_F(ConfigFileTest, UnwrittenChangesAreDroppedAtUnlock) {
    {
        SynchronizedConfigFile f;
        f->SetValue("/kept", "1");
        f.Write();
        f->SetValue("/lost", "1");
    }
    ConfigFile* f = ConfigFile::GetFile();
    EXPECT_TRUE(f->HasValue("/kept"));
    EXPECT_FALSE(f->HasValue("/lost"));
}

TEST_F(ConfigFileTest, BranchesValuesAndRelativePaths) {
    SynchronizedConfigFile f;
    auto sw = f->GetBranch("/net/vswitch/child[0000]");
    sw->SetValue("name", "vSwitch0");
    sw->SetValue("uplinks/child[0000]/pnic", "nic0");
    EXPECT_TRUE(sw->HasValue("uplinks/child[0000]/pnic"));
    EXPECT_TRUE(f->HasBranch("/net/vswitch/child[0000]/uplinks"));
    EXPECT_EQ(sw->GetValueNames(), std::vector<std::string>{"name"});
    auto matched = f->MatchValues("/net/vswitch/child[*]/name");
    ASSERT_EQ(matched.size(), 1u);
    EXPECT_EQ(matched.begin()->second, "vSwitch0");
    EXPECT_TRUE(f->Remove("/net/vswitch/child[0000]"));
    EXPECT_FALSE(f->HasValue("/net/vswitch/child[0000]/name"));
    EXPECT_FALSE(f->Remove("/net/vswitch/child[0000]"));
}

TEST_F(ConfigFileTest, ArraysFillGapsAndFindElementsByValue) {
    SynchronizedConfigFile f;
    auto arr = f->GetArray("/resource/child");
    for (long i : {0L, 1L, 3L})
        arr->GetInstance(i)->SetValue("name", "g" + std::to_string(i));
    auto fresh = arr->NewInstance();
    EXPECT_EQ(fresh->GetPath(), "/resource/child[0002]");
    fresh->SetValue("name", "g2");
    arr->GetInstance("knic0")->SetValue("name", "keyed");
    EXPECT_EQ(arr->GetInstanceKeys(), (std::vector<std::string>{"0000", "0001", "0002", "0003", "knic0"}));
    EXPECT_TRUE(arr->HasKey("3"));
    EXPECT_TRUE(arr->HasKey("knic0"));
    auto found = arr->FindInstanceWithValue("name", "g3");
    ASSERT_TRUE(found);
    EXPECT_EQ(found->GetName(), "child[0003]");
    EXPECT_TRUE(arr->HasInstance({{"name", "keyed"}}));
    EXPECT_TRUE(arr->RemoveInstance("name", "g1"));
    EXPECT_FALSE(arr->RemoveInstance("name", "g1"));
    EXPECT_EQ(arr->NewInstance()->GetName(), "child[0001]");
}

TEST_F(ConfigFileTest, LockerReportsTheHoldingProcess) {
    ConfigFileLocker locker("/etc/tarn/test.lock");
    EXPECT_FALSE(locker.IsLocked());
    EXPECT_EQ(locker.GetLockedPid(), 0);
    int ready[2], done[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(done), 0);
    pid_t pid = fork();
    if (pid == 0) {
        ConfigFileLocker mine("/etc/tarn/test.lock");
        mine.Lock();
        char c = 1;
        (void)!write(ready[1], &c, 1);
        (void)!read(done[0], &c, 1);
        mine.Unlock();
        _exit(0);
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_TRUE(locker.IsLocked());
    EXPECT_EQ(locker.GetLockedPid(), pid);
    EXPECT_FALSE(locker.TryLock(20));
    (void)!write(done[1], &c, 1);
    int st;
    waitpid(pid, &st, 0);
    EXPECT_TRUE(locker.TryLock(1000));
    EXPECT_EQ(locker.GetLockedPid(), getpid());
    locker.Unlock();
    EXPECT_FALSE(locker.IsLocked());
    for (int fd : {ready[0], ready[1], done[0], done[1]})
        close(fd);
}

}  // namespace
