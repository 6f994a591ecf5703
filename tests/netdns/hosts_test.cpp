// The hosts file: lines kept byte for byte unless they are entries, tab
// alignment, the localhost rule and entries, the user's operations with their
// refusals, the store mirror and the rebuild at boot.
#include <sys/stat.h>

#include "../network/network_fixture.h"
#include "network/hosts_file.h"
#include "platform/hostroot.h"
#include "platform/misc.h"

namespace NetTest {
namespace {

using TarnCtl::Network::HostsFile;
using TarnCtl::Network::HostsFileEntry;

class HostsTest : public NetHostTest {
protected:
    static void WriteHosts(const std::string& text) { HostCtl::Misc::WriteHostFileAtomic("/etc/hosts", text, 0644); }
    static std::string Hosts() { return TarnTest::ReadHost("/etc/hosts"); }
    static std::string Stored() { return Data("etc_hosts", "network", ""); }
    static unsigned Mode() {
        struct stat st {};
        ::stat(Platform::HostPath("/etc/hosts").c_str(), &st);
        return st.st_mode & 07777;
    }
};

// The example of the hosts(5) manual page, with comment, blank and malformed lines.
const char* kManualExample =
    "# The following lines are desirable for IPv4 capable hosts\n"
    "127.0.0.1       localhost\n"
    "\n"
    "# 127.0.1.1 is often used for the FQDN of the machine\n"
    "127.0.1.1       thishost.example.org   thishost\n"
    "192.168.1.10    foo.example.org        foo\n"
    "192.168.1.13    bar.example.org        bar\n"
    "146.82.138.7    master.debian.org      master\n"
    "209.237.226.90  www.opensource.org\n"
    "\n"
    "# The following lines are desirable for IPv6 capable hosts\n"
    "::1             localhost ip6-localhost ip6-loopback\n"
    "ff02::1         ip6-allnodes\n"
    "ff02::2         ip6-allrouters\n"
    "   10.0.0.7 indented.example\n"
    "10.0.0.99\n"
    "10.0.0.98 !bad\n"
    "zz.example 10.0.0.1\n"
    "10.0.0.5 five.example five # kept comment\t \n";

TEST_F(HostsTest, ManualExampleIsRewrittenWithOtherLinesUnchanged) {
    WriteHosts(kManualExample);
    HostsFile hosts;
    hosts.Parse();
    size_t comments = 0;
    for (const auto& e : hosts.GetEntries()) comments += e->IsComment();
    EXPECT_EQ(comments, 9u);
    hosts.Write(false);
    // Widest address 209.237.226.90 (14): 2 column tabs less one per 8 characters of the address.
    EXPECT_EQ(Hosts(),
              "# The following lines are desirable for IPv4 capable hosts\n"
              "127.0.0.1\tlocalhost\n"
              "\n"
              "# 127.0.1.1 is often used for the FQDN of the machine\n"
              "127.0.1.1\tthishost.example.org thishost\n"
              "192.168.1.10\tfoo.example.org foo\n"
              "192.168.1.13\tbar.example.org bar\n"
              "146.82.138.7\tmaster.debian.org master\n"
              "209.237.226.90\twww.opensource.org\n"
              "\n"
              "# The following lines are desirable for IPv6 capable hosts\n"
              "::1\t\tlocalhost ip6-localhost ip6-loopback\n"
              "ff02::1\t\tip6-allnodes\n"
              "ff02::2\t\tip6-allrouters\n"
              "   10.0.0.7 indented.example\n"
              "10.0.0.99\n"
              "10.0.0.98 !bad\n"
              "zz.example 10.0.0.1\n"
              "10.0.0.5\tfive.example five # kept comment\t \n");
    // Written twice, the file does not change.
    HostsFile again;
    again.Parse();
    again.Write(false);
    HostsFile third;
    third.Parse();
    third.Write(false);
    std::string once = Hosts();
    HostsFile fourth;
    fourth.Parse();
    fourth.Write(false);
    EXPECT_EQ(Hosts(), once);
}

TEST_F(HostsTest, EntryFieldsFromALine) {
    HostsFileEntry e("10.0.0.5   five.example five  cinq  #note");
    EXPECT_FALSE(e.IsComment());
    EXPECT_EQ(e.GetIpAddress(), "10.0.0.5");
    EXPECT_EQ(e.GetHostName(), "five.example");
    EXPECT_EQ(e.GetAliases(), (std::vector<std::string>{"five", "cinq"}));
    EXPECT_EQ(e.GetComment(), "note");
    HostsFileEntry none("10.0.0.99   ");
    EXPECT_TRUE(none.IsComment());
    EXPECT_EQ(none.GetComment(), "10.0.0.99   ");
    // Matching: by address or by name, never for comment lines.
    EXPECT_TRUE(e.Matches(HostsFileEntry("10.0.0.5", "other", {})));
    EXPECT_TRUE(e.Matches(HostsFileEntry("10.0.0.6", "five.example", {})));
    EXPECT_FALSE(e.Matches(HostsFileEntry("10.0.0.6", "five", {})));
    EXPECT_FALSE(none.Matches(HostsFileEntry("10.0.0.99   ", "", {})));
}

TEST_F(HostsTest, TabsAlignAfterTheWidestAddress) {
    struct Row {
        std::vector<std::pair<const char*, const char*>> entries;
        const char* expected;
    };
    const Row rows[] = {
        {{{"10.0.0.1", "a"}, {"fe80::1234:5678", "b"}},
         "10.0.0.1\ta\nfe80::1234:5678\tb\n127.0.0.1\tlocalhost.localdomain localhost\n"
         "::1\t\tlocalhost.localdomain localhost\n"},
        {{{"10.0.0.1", "a"}, {"2001:db8:85a3:8d3:1319:8a2e:370:7348", "long"}},
         "10.0.0.1\t\t\t\ta\n2001:db8:85a3:8d3:1319:8a2e:370:7348\tlong\n"
         "127.0.0.1\t\t\t\tlocalhost.localdomain localhost\n::1\t\t\t\t\tlocalhost.localdomain localhost\n"},
        {{{"1.2.3.4", "seven"}}, "1.2.3.4\t\tseven\n127.0.0.1\tlocalhost.localdomain localhost\n"
                                  "::1\t\tlocalhost.localdomain localhost\n"},
    };
    for (const Row& r : rows) {
        HostsFile hosts;
        for (const auto& [ip, name] : r.entries) hosts.AddEntry(std::make_shared<HostsFileEntry>(ip, name, std::vector<std::string>{}));
        hosts.Write(false);
        EXPECT_EQ(Hosts(), r.expected);
    }
    EXPECT_EQ(HostsFileEntry("10.0.0.1", "a", {"b", "c"}, "x").GetFormattedLine(0), "10.0.0.1\ta b c #x");
    EXPECT_EQ(HostsFileEntry("12345678", "a", {}).GetFormattedLine(7), "12345678\ta");
    EXPECT_EQ(HostsFileEntry("12345678", "a", {}).GetFormattedLine(8), "12345678\ta");
    EXPECT_EQ(HostsFileEntry("1234567", "a", {}).GetFormattedLine(8), "1234567\t\ta");
}

TEST_F(HostsTest, LocalhostEntriesAreAlwaysWritten) {
    WriteHosts("10.0.0.1 a\n");
    HostsFile hosts;
    hosts.Parse();
    hosts.RemoveEntryByIpAddress("127.0.0.1");
    hosts.RemoveEntryByIpAddress("::1");
    hosts.Write(false);
    EXPECT_EQ(Hosts(), "10.0.0.1\ta\n127.0.0.1\tlocalhost.localdomain localhost\n::1\t\tlocalhost.localdomain localhost\n");
    // Present ones are left as they are.
    WriteHosts("::1 ip6-localhost\n127.0.0.1 loop\n");
    HostsFile kept;
    kept.Parse();
    kept.Write(false);
    EXPECT_EQ(Hosts(), "::1\t\tip6-localhost\n127.0.0.1\tloop\n");
}

TEST_F(HostsTest, LocalhostNameRemovesTheMatchingEntriesAndAddsNone) {
    WriteHosts("10.0.0.7 seven\n10.0.0.8 eight\n");
    HostsFile hosts;
    hosts.Parse();
    hosts.AddOrReplaceEntry("10.0.0.7", "localhost.localdomain", {});
    EXPECT_EQ(Hosts(), "10.0.0.8\teight\n127.0.0.1\tlocalhost.localdomain localhost\n"
                       "::1\t\tlocalhost.localdomain localhost\n");
    EXPECT_FALSE(hosts.HasEntryForIp("10.0.0.7"));
}

TEST_F(HostsTest, AddOrReplaceReplacesEveryMatch) {
    WriteHosts("10.0.0.7 seven\n10.0.0.8 eight\n# note\n");
    HostsFile hosts;
    hosts.Parse();
    hosts.AddOrReplaceEntry("10.0.0.7", "eight", {"8"});
    EXPECT_EQ(Hosts(), "10.0.0.7\teight 8\n10.0.0.7\teight 8\n# note\n127.0.0.1\tlocalhost.localdomain localhost\n"
                       "::1\t\tlocalhost.localdomain localhost\n");
    hosts.AddOrReplaceEntry("10.0.0.9", "nine", {});
    EXPECT_TRUE(hosts.HasEntryForHostName("nine"));
    const std::string before = Hosts();
    hosts.AddOrReplaceEntry("", "x", {});
    hosts.AddOrReplaceEntry("10.0.0.10", "", {});
    EXPECT_EQ(Hosts(), before);
}

TEST_F(HostsTest, UserEntriesAreCheckedAndRefusalsChangeNothing) {
    TarnCtl::Network::SetAdvString("Net", "ManagementAddr", "192.168.10.5");
    HostsFile().AddEntryFromUser("10.0.0.1", "web.example", {"web"}, "front");
    const std::string file = Hosts(), stored = Stored();
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[] { HostsFile().AddEntryFromUser("192.168.10.5", "mgmt", {}, ""); },
         "User can not set item for management IP: 192.168.10.5"},
        {[] { HostsFile().AddEntryFromUser("10.0.0.2", "localhost", {}, ""); }, "User can not set item for default loopBack."},
        {[] { HostsFile().AddEntryFromUser("127.0.0.1", "mine", {}, ""); }, "User can not set item for default loopBack."},
        {[] { HostsFile().AddEntryFromUser("10.0.0.256", "x", {}, ""); }, "Invalid IP address: 10.0.0.256"},
        {[] { HostsFile().AddEntryFromUser("10.0.0.2", "bad_name", {}, ""); }, "Invalid hostName: bad_name"},
        {[] { HostsFile().AddEntryFromUser("10.0.0.2", "ok", {"fine", "no way"}, ""); }, "Invalid alias: no way"},
        {[] { HostsFile().AddEntryFromUser("10.0.0.2", "ok", {}, "two\nlines"); }, "Invalid comment contain newline."},
        {[] { HostsFile().RemoveEntryFromUser("10.0.0.1", "other.example"); },
         "Unable to find an entry for IP address 10.0.0.1 with host name other.example"},
        {[] { HostsFile().RemoveEntryFromUser("192.168.10.5", "mgmt"); },
         "User can not set item for management IP: 192.168.10.5"},
    };
    for (const auto& [op, text] : rows) {
        EXPECT_EQ(Thrown(op), text);
        EXPECT_EQ(Hosts(), file) << text;
        EXPECT_EQ(Stored(), stored) << text;
    }
}

TEST_F(HostsTest, UserEntriesAreMirroredAndComeBackAtBoot) {
    TarnCtl::Network::SetAdvString("Net", "ManagementAddr", "192.168.10.5");
    WriteHosts("192.168.10.5 host.example host\n# mine\n");
    HostsFile().AddEntryFromUser("10.0.0.1", "web.example", {"web", "www"}, " front");
    HostsFile().AddEntryFromUser("fd00::1", "v6.example", {}, "");
    EXPECT_EQ(Stored(),
              R"({"host_names":[{"aliases":["web","www"],"comment":" front","ip_address":"10.0.0.1","name":"web.example"},)"
              R"({"aliases":[],"comment":"","ip_address":"fd00::1","name":"v6.example"}]})");
    EXPECT_EQ(Mode(), 0644u);
    // A lost file is made new from the store; the management entry is not the user's.
    ::unlink(Platform::HostPath("/etc/hosts").c_str());
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Hosts(), "# Do not modify this file directly, please use haldencli.\n"
                       "10.0.0.1\tweb.example web www # front\nfd00::1\t\tv6.example\n"
                       "127.0.0.1\tlocalhost.localdomain localhost\n::1\t\tlocalhost.localdomain localhost\n");
    // A kept file keeps its lines and gets missing stored entries back.
    WriteHosts("# edited\n10.0.0.1 web.example\n");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Hosts(), "# edited\n10.0.0.1\tweb.example web www # front\n127.0.0.1\tlocalhost.localdomain localhost\n"
                       "::1\t\tlocalhost.localdomain localhost\nfd00::1\t\tv6.example\n");
    HostsFile().RemoveEntryFromUser("10.0.0.1", "web.example");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Hosts().find("web.example"), std::string::npos) << Hosts();
    EXPECT_EQ(Stored(), R"({"host_names":[{"aliases":[],"comment":"","ip_address":"fd00::1","name":"v6.example"}]})");
}

// A change made while the file is missing starts from the stored entries, so
// neither the new file nor the store loses what the user had recorded.
TEST_F(HostsTest, ChangesToALostFileKeepTheStoredEntries) {
    HostsFile().AddEntryFromUser("10.0.0.1", "web.example", {"web"}, "");
    ::unlink(Platform::HostPath("/etc/hosts").c_str());
    HostsFile().AddEntryFromUser("10.0.0.2", "db.example", {}, "");
    EXPECT_EQ(Hosts(), "# Do not modify this file directly, please use haldencli.\n"
                       "10.0.0.1\tweb.example web\n"
                       "127.0.0.1\tlocalhost.localdomain localhost\n::1\t\tlocalhost.localdomain localhost\n"
                       "10.0.0.2\tdb.example\n");
    EXPECT_EQ(Stored(),
              R"({"host_names":[{"aliases":["web"],"comment":"","ip_address":"10.0.0.1","name":"web.example"},)"
              R"({"aliases":[],"comment":"","ip_address":"10.0.0.2","name":"db.example"}]})");
    // The same through a management address update.
    ::unlink(Platform::HostPath("/etc/hosts").c_str());
    HostsFile hosts;
    hosts.ParseOrInit();
    hosts.AddOrReplaceEntry("192.168.10.7", "mgmt.example", {});
    EXPECT_NE(Hosts().find("10.0.0.1\tweb.example web\n"), std::string::npos) << Hosts();
    EXPECT_NE(Stored().find("db.example"), std::string::npos) << Stored();
}

TEST_F(HostsTest, StoreFailureLeavesTheFileWrittenAndIsLogged) {
    HostsFile().AddEntryFromUser("10.0.0.1", "a.example", {}, "");
    const std::string stored = Stored();
    TarnSim::InjectStoreFault({TarnSim::StoreFault::Op::Commit});
    Platform::Log::Capture log;
    HostsFile().AddEntryFromUser("10.0.0.2", "b.example", {}, "");
    EXPECT_NE(Hosts().find("10.0.0.2\tb.example\n"), std::string::npos);
    EXPECT_EQ(Stored(), stored);
    EXPECT_TRUE(log.Contains("HostsFile: Failed to save /etc/hosts to configstore: Unable to commit the store "
                             "transaction: injected fault"));
}

TEST_F(HostsTest, WhileBootingTheStoreIsNotWritten) {
    Booting([] { HostsFile().AddEntryFromUser("10.0.0.1", "a.example", {}, ""); });
    EXPECT_NE(Hosts().find("10.0.0.1\ta.example"), std::string::npos);
    EXPECT_EQ(Stored(), "<absent>");
}

TEST_F(HostsTest, FileEndsWorldReadableAndFailuresKeepTheOldOne) {
    WriteHosts("10.0.0.1 a\n");
    ::chmod(Platform::HostPath("/etc/hosts").c_str(), 0600);
    HostsFile().AddEntryFromUser("10.0.0.2", "b", {}, "");
    EXPECT_EQ(Mode(), 0644u);
    EXPECT_EQ(Thrown([] { HostsFile().Parse(); }), "<no exception>");
    ::unlink(Platform::HostPath("/etc/hosts").c_str());
    EXPECT_EQ(Thrown([] { HostsFile().Parse(); }), "Unable to parse /etc/hosts file.");
    // A directory in the way: the rename fails and nothing is left behind.
    ::mkdir(Platform::HostPath("/etc/hosts").c_str(), 0755);
    ::mkdir(Platform::HostPath("/etc/hosts/x").c_str(), 0755);
    HostsFile h;
    h.AddEntry(std::make_shared<HostsFileEntry>("10.0.0.3", "c", std::vector<std::string>{}));
    std::string text = Thrown([&] { h.Write(false); });
    EXPECT_EQ(text.rfind("Couldn't rename temp file during write of /etc/hosts: ", 0), 0u) << text;
}

}  // namespace
}  // namespace NetTest
