// Resolver configuration of a netstack: the resolver file's order, the store
// record, refusals, rollback when the store fails, boot replay and the import of
// an existing resolver file; host name, domain and FQDN with their limits.
#include "../network/network_fixture.h"
#include "network/dns_config_impl.h"
#include "network/network_info_impl.h"
#include "platform/hostroot.h"
#include <sys/stat.h>
#include "network/hosts_file.h"
#include "platform/boot.h"
#include "platform/misc.h"

namespace NetTest {
namespace {

using namespace HostCtl::Network;
using TarnCtl::Network::DnsConfigImpl;

const char* kStack = "defaultTcpipStack";

class DnsTest : public NetHostTest {
protected:
    static std::string Resolv(const std::string& path = "/etc/resolv.conf") { return TarnTest::ReadHost(path); }
    static std::string Stored(const std::string& key = kStack) { return Data("net_stacks", "network", key); }
    static std::string Dns(const std::string& key = kStack) {
        std::string s = Stored(key);
        size_t at = s.find("\"dns\":");
        return at == std::string::npos ? "<none>" : s.substr(at, s.find('}', at) - at + 1);
    }
    static std::string HostName() { return TarnCtl::Network::GetAdvString("Misc", "HostName"); }
    DnsConfigImpl dns{kStack};
};

std::string Repeat(char c, size_t n) { return std::string(n, c); }

// ---- Resolver file -------------------------------------------------------------------------

TEST_F(DnsTest, ConfiguredEntriesComeBeforeRouterAdvertisedOnes) {
    dns.SetIpv6HostInfo({"fd00::53", "not-an-address"}, {"ra.example"});
    dns.AddNameServer(Ipv4Address("10.0.0.53"));
    dns.AddSystemNameServer(Ipv4Address("10.0.0.54"));
    dns.AddNameServer(Ipv6Address("fd00:1::53"));
    dns.AddSearchDomain("corp.example");
    dns.AddSystemSearchDomain("sys.example");
    EXPECT_EQ(Resolv(), "nameserver 10.0.0.53\nnameserver fd00:1::53\nnameserver 10.0.0.54\nnameserver fd00::53\n"
                        "search corp.example sys.example ra.example\n");
    EXPECT_EQ(dns.GetNameServers(), (std::vector<std::string>{"10.0.0.53", "fd00:1::53", "10.0.0.54"}));
    EXPECT_EQ(dns.GetAllNameServers(), (std::vector<std::string>{"10.0.0.53", "fd00:1::53", "10.0.0.54", "fd00::53"}));
    EXPECT_EQ(dns.GetIpv6NameServers(true), (std::vector<std::string>{"fd00::53"}));
    EXPECT_EQ(dns.GetIpv6NameServers(false), (std::vector<std::string>{"fd00:1::53"}));
    EXPECT_EQ(dns.GetSearchDomainsString(), "corp.example sys.example ra.example");
    EXPECT_EQ(Dns(), R"("dns":{"name_server":["10.0.0.53","fd00:1::53","10.0.0.54"],"ra_name_server":["fd00::53"],)"
                     R"("ra_search_domain":["ra.example"],"search_domain":["corp.example"],)"
                     R"("system_search_domain":["sys.example"]})");
    // No domains at all: no search line.
    DnsConfigImpl other(kStack);
    other.SetSearchDomainsString("");
    other.RemoveIpv6NameServers();
    other.SetIpv6HostInfo({}, {});
    EXPECT_EQ(Resolv(), "nameserver 10.0.0.53\nnameserver fd00:1::53\nnameserver 10.0.0.54\n");
}

TEST_F(DnsTest, OtherNetstacksUseTheirOwnFile) {
    TarnCtl::Network::NetworkInfoImpl net;
    auto ns = net.GetNetstackInstanceByKey("vmo");
    net.AddNetstackInstance(ns.get(), false);
    DnsConfigImpl vmo("vmo");
    vmo.AddNameServer(Ipv4Address("10.1.0.53"));
    EXPECT_EQ(Resolv("/etc/vmo-resolv.conf"), "nameserver 10.1.0.53\n");
    EXPECT_EQ(Resolv(), "");
    EXPECT_EQ(Dns("vmo"), R"("dns":{"name_server":["10.1.0.53"],"ra_name_server":[],"ra_search_domain":[],)"
                          R"("search_domain":[],"system_search_domain":[]})");
    EXPECT_EQ(Thrown([&] { vmo.SetHostname("h", true); }),
              "Hostname can only be set for default netstack instance, and not for vmo");
    EXPECT_EQ(Thrown([&] { vmo.SetDomain("d.example", true); }),
              "Domain can only be set for default netstack instance, and not for vmo");
    EXPECT_EQ(Thrown([&] { vmo.SetFqdn("h.d.example", true, "h"); }),
              "FQDN can only be set for default netstack instance, and not for vmo");
    EXPECT_EQ(HostName(), "localhost");
}

TEST_F(DnsTest, RefusalsChangeNothing) {
    dns.AddNameServer(Ipv4Address("10.0.0.53"));
    dns.AddSearchDomain("corp.example");
    const std::string file = Resolv(), stored = Stored();
    const std::pair<std::function<void()>, std::string> rows[] = {
        {[] { DnsConfigImpl(kStack).AddNameServer(Ipv4Address("10.0.0.53")); }, "Name server 10.0.0.53 is already configured"},
        {[] { DnsConfigImpl(kStack).AddNameServer(Ipv4Address("0.0.0.0")); }, "Invalid name server address: 0.0.0.0"},
        {[] { DnsConfigImpl(kStack).RemoveNameServer(Ipv4Address("10.0.0.54")); }, "Name server 10.0.0.54 is not configured"},
        {[] { DnsConfigImpl(kStack).AddSearchDomain("corp.example"); }, "Search domain corp.example is already configured"},
        {[] { DnsConfigImpl(kStack).AddSearchDomain("a..b"); },
         "Invalid domain name, may not contain 0 length label (see RFC 2181)"},
        {[] { DnsConfigImpl(kStack).AddSearchDomain("a_b.example"); },
         "Invalid domain name, may not contain any characters other than a-z 0-9 and '-'"},
        {[] { DnsConfigImpl(kStack).SetSearchDomainsString("ok.example bad..example"); },
         "Invalid domain name, may not contain 0 length label (see RFC 2181)"},
        {[] { DnsConfigImpl(kStack).RemoveSearchDomain("other.example"); }, "Search domain other.example is not configured"},
    };
    for (const auto& [op, text] : rows) {
        EXPECT_EQ(Thrown(op), text);
        EXPECT_EQ(Resolv(), file) << text;
        EXPECT_EQ(Stored(), stored) << text;
    }
}

TEST_F(DnsTest, RemovalsReachFileAndStore) {
    dns.AddNameServer(Ipv4Address("10.0.0.53"));
    dns.AddNameServer(Ipv4Address("10.0.0.54"));
    dns.AddSearchDomain("a.example");
    dns.AddSearchDomain("b.example");
    dns.RemoveNameServer(Ipv4Address("10.0.0.53"));
    dns.RemoveSearchDomain("b.example");
    EXPECT_EQ(Resolv(), "nameserver 10.0.0.54\nsearch a.example\n");
    EXPECT_NE(Dns().find(R"("name_server":["10.0.0.54"])"), std::string::npos) << Dns();
    // The system does not bring back what the user removed.
    dns.AddSystemNameServer(Ipv4Address("10.0.0.53"));
    dns.RemoveNameServers();
    EXPECT_EQ(Resolv(), "search a.example\n");
    EXPECT_NE(Dns().find(R"("name_server":[])"), std::string::npos) << Dns();
}

TEST_F(DnsTest, FailedStoreWritePutsTheFileBack) {
    dns.AddNameServer(Ipv4Address("10.0.0.53"));
    const std::string file = Resolv(), stored = Stored();
    for (auto op : {TarnSim::StoreFault::Op::Write, TarnSim::StoreFault::Op::Commit}) {
        TarnSim::StoreFault f;
        f.op = op;
        TarnSim::InjectStoreFault(f);
        std::string text = Thrown([] { DnsConfigImpl(kStack).AddNameServer(Ipv4Address("10.0.0.54")); });
        EXPECT_EQ(text.rfind("Unable to save the DNS configuration of netstack defaultTcpipStack: ", 0), 0u) << text;
        EXPECT_NE(text.find("injected fault"), std::string::npos) << text;
        EXPECT_EQ(Resolv(), file);
        EXPECT_EQ(Stored(), stored);
        TarnSim::ClearFaults();
    }
    // The object keeps working with its old lists.
    dns.AddSearchDomain("corp.example");
    EXPECT_EQ(Resolv(), "nameserver 10.0.0.53\nsearch corp.example\n");
}

TEST_F(DnsTest, UnwritableFileChangesNothing) {
    dns.AddNameServer(Ipv4Address("10.0.0.53"));
    const std::string stored = Stored();
    ::unlink(Platform::HostPath("/etc/resolv.conf").c_str());
    ::mkdir(Platform::HostPath("/etc/resolv.conf").c_str(), 0755);
    ::mkdir(Platform::HostPath("/etc/resolv.conf/x").c_str(), 0755);
    std::string text = Thrown([] { DnsConfigImpl(kStack).AddNameServer(Ipv4Address("10.0.0.54")); });
    EXPECT_EQ(text.rfind("Unable to save the DNS configuration of netstack defaultTcpipStack: Couldn't rename temp "
                         "file during write of /etc/resolv.conf: ",
                         0),
              0u)
        << text;
    EXPECT_EQ(Stored(), stored);
}

// ---- Boot and upgrade ------------------------------------------------------------------------

TEST_F(DnsTest, WhileBootingOnlyTheFileIsWritten) {
    Booting([] { DnsConfigImpl(kStack).AddNameServer(Ipv4Address("10.0.0.53")); });
    EXPECT_EQ(Resolv(), "nameserver 10.0.0.53\n");
    EXPECT_EQ(Stored(), "<absent>");
}

TEST_F(DnsTest, ResolverFileComesBackAfterAReboot) {
    dns.AddNameServer(Ipv4Address("10.0.0.53"));
    dns.AddSearchDomain("corp.example");
    dns.SetIpv6HostInfo({"fd00::53"}, {});
    HostCtl::Misc::WriteHostFileAtomic("/etc/resolv.conf", "nameserver 9.9.9.9\n");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Resolv(), "nameserver 10.0.0.53\nnameserver fd00::53\nsearch corp.example\n");
    // Nothing recorded: the file is left alone.
    TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    HostCtl::Misc::WriteHostFileAtomic("/etc/resolv.conf", "nameserver 9.9.9.9\n");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Resolv(), "nameserver 9.9.9.9\n");
}

TEST_F(DnsTest, UpgradeImportsAnExistingResolverFile) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/resolv.conf",
                                       "# made by hand\nnameserver 10.0.0.53\nnameserver bogus\noptions ndots:2\n"
                                       "domain corp.example\nsearch a.example corp.example b..example\n"
                                       "nameserver fd00::53\n");
    Platform::Boot::RunUpgrade();
    EXPECT_EQ(Dns(), R"("dns":{"name_server":["10.0.0.53","fd00::53"],"ra_name_server":[],"ra_search_domain":[],)"
                     R"("search_domain":["corp.example","a.example"],"system_search_domain":[]})");
    DnsConfigImpl after(kStack);
    EXPECT_EQ(after.GetSearchDomains(), (std::vector<std::string>{"corp.example", "a.example"}));
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Resolv(), "nameserver 10.0.0.53\nnameserver fd00::53\nsearch corp.example a.example\n");
}

// ---- Host name, domain, FQDN --------------------------------------------------------------

TEST_F(DnsTest, HostnameLimits) {
    EXPECT_NO_THROW(DnsConfigImpl::ValidateHostname(Repeat('h', 63)));
    EXPECT_EQ(Thrown([] { DnsConfigImpl::ValidateHostname(Repeat('h', 64)); }),
              "Invalid hostname, may not be longer than 63 chars");
    EXPECT_EQ(Thrown([] { DnsConfigImpl::ValidateHostname(""); }), "Invalid hostname, may not be empty.");
    EXPECT_EQ(Thrown([] { DnsConfigImpl::ValidateHostname("host.name"); }),
              "Invalid hostname, may not contain any characters other than a-z 0-9 and '-'");
    EXPECT_NO_THROW(DnsConfigImpl::ValidateHostname("a-Z-09"));
}

TEST_F(DnsTest, DomainLimits) {
    const std::string label63 = Repeat('d', 63);
    EXPECT_NO_THROW(DnsConfigImpl::ValidateDomainname(label63 + ".example", "h"));
    EXPECT_EQ(Thrown([&] { DnsConfigImpl::ValidateDomainname(Repeat('d', 64) + ".example", "h"); }),
              "Invalid domain name, may not contain label of length greater than 63 (see RFC 2181)");
    // Domain plus host name: 255 characters at most.
    const std::string domain = label63 + "." + label63 + "." + label63 + "." + Repeat('d', 59);  // 251
    EXPECT_NO_THROW(DnsConfigImpl::ValidateDomainname(domain, "abcd"));
    EXPECT_EQ(Thrown([&] { DnsConfigImpl::ValidateDomainname(domain, "abcde"); }),
              "Invalid domain name, domain name + hostname may not exceed 255 characters.");
    for (const char* bad : {"a..b", ".a", "a.", "."})
        EXPECT_EQ(Thrown([&] { DnsConfigImpl::ValidateDomainname(bad, "h"); }),
                  "Invalid domain name, may not contain 0 length label (see RFC 2181)")
            << bad;
}

TEST_F(DnsTest, FqdnLimits) {
    const std::string label63 = Repeat('f', 63);
    const std::string fqdn255 = label63 + "." + label63 + "." + label63 + "." + label63;
    ASSERT_EQ(fqdn255.size(), 255u);
    EXPECT_NO_THROW(DnsConfigImpl::ValidateFqdn(fqdn255));
    EXPECT_EQ(Thrown([&] { DnsConfigImpl::ValidateFqdn(fqdn255 + "f"); }),
              "Invalid fully qualified domain name, may not be longer than 255 characters (see RFC 2181)");
    EXPECT_EQ(Thrown([] { DnsConfigImpl::ValidateFqdn(""); }), "Invalid FQDN, may not be empty.");
    EXPECT_EQ(Thrown([] { DnsConfigImpl::ValidateFqdn("host..example"); }),
              "Invalid domain name, may not contain 0 length label (see RFC 2181)");
}

TEST_F(DnsTest, HostNameDomainAndFqdnGoToTheHostNameOption) {
    dns.SetHostname("host01", true);
    EXPECT_EQ(HostName(), "host01");
    dns.SetDomain("corp.example", true);
    EXPECT_EQ(HostName(), "host01.corp.example");
    EXPECT_EQ(dns.GetHostname(), "host01");
    EXPECT_EQ(dns.GetDomain(), "corp.example");
    EXPECT_EQ(dns.GetFqdn(), "host01.corp.example");
    dns.SetHostname("host02", true);
    EXPECT_EQ(HostName(), "host02.corp.example");
    EXPECT_NE(Dns().find(R"("host_name":"host02")"), std::string::npos) << Stored();
    dns.SetDomain("", true);
    EXPECT_EQ(HostName(), "host02");
    // Refusals leave the name as it is.
    EXPECT_EQ(Thrown([&] { dns.SetHostname(Repeat('h', 64), true); }), "Invalid hostname, may not be longer than 63 chars");
    EXPECT_EQ(Thrown([&] { dns.SetDomain(Repeat('d', 64), true); }),
              "Invalid domain name, may not contain label of length greater than 63 (see RFC 2181)");
    EXPECT_EQ(Thrown([&] { dns.SetFqdn("", true, ""); }), "Invalid FQDN, may not be empty.");
    EXPECT_EQ(HostName(), "host02");
    dns.SetFqdn("host03.lab.example", true, "");
    EXPECT_EQ(HostName(), "host03.lab.example");
    EXPECT_EQ(Dns().find("host_name"), std::string::npos) << Stored();
}

TEST_F(DnsTest, NewNameReachesTheManagementEntryOfTheHostsFile) {
    TarnCtl::Network::SetAdvString("Net", "ManagementAddr", "192.168.10.5");
    HostCtl::Misc::WriteHostFileAtomic("/etc/hosts", "192.168.10.5 old.example old\n10.0.0.1 web\n");
    dns.SetFqdn("host01.corp.example", true, "host01");
    EXPECT_EQ(TarnTest::ReadHost("/etc/hosts"),
              "192.168.10.5\thost01.corp.example host01\n10.0.0.1\tweb\n127.0.0.1\tlocalhost.localdomain localhost\n"
              "::1\t\tlocalhost.localdomain localhost\n");
    // A hosts file that cannot be written takes the name change back.
    ::unlink(Platform::HostPath("/etc/hosts").c_str());
    ::mkdir(Platform::HostPath("/etc/hosts").c_str(), 0755);
    ::mkdir(Platform::HostPath("/etc/hosts/x").c_str(), 0755);
    EXPECT_NE(Thrown([&] { dns.SetHostname("host09", true); }), "<no exception>");
    EXPECT_EQ(HostName(), "host01.corp.example");
}

TEST_F(DnsTest, LocalhostNamesAndAddresses) {
    for (const char* yes : {"localhost", "localhost.localdomain", "localhost.a.b"}) EXPECT_TRUE(dns.IsLocalhost(yes)) << yes;
    for (const char* no : {"localhostx", "mylocalhost", "", "localhos"}) EXPECT_FALSE(dns.IsLocalhost(no)) << no;
    EXPECT_TRUE(dns.IsLocalhostIpAddr("127.0.0.1"));
    EXPECT_TRUE(dns.IsLocalhostIpAddr("::1"));
    EXPECT_FALSE(dns.IsLocalhostIpAddr("10.0.0.1"));
    EXPECT_FALSE(dns.IsLocalhostIpAddr("localhost"));
}

}  // namespace
}  // namespace NetTest
