// The tool as scripts use it: every command group's JSON has snake_case keys
// and typed values, tables keep their headings, and host path errors name the
// path tried and the host root.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "fixture.h"

namespace {

struct ToolRun {
    int status = -1;
    std::string out, err;
};

std::string Drain(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return text;
}

// Runs hostctl with `args` on the test's host root; stderr goes to a file so
// that neither pipe can fill while the other is read.
class ToolTest : public TarnTest::HostTest {
protected:
    ToolRun Hostctl(std::vector<std::string> args) {
        args.insert(args.begin(), {HOSTCTL_PROGRAM, "--root", Root()});
        const std::string errFile = Root() + "/.stderr";
        int out[2];
        if (::pipe(out) != 0)
            return {};
        pid_t pid = ::fork();
        if (pid == 0) {
            ::dup2(out[1], 1);
            int err = ::open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(err, 2);
            ::close(out[0]);
            std::vector<char*> argv;
            for (auto& a : args)
                argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ToolRun r;
        r.out = Drain(out[0]);
        int status = 0;
        ::waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        int err = ::open(errFile.c_str(), O_RDONLY);
        r.err = err >= 0 ? Drain(err) : "";
        return r;
    }

    rapidjson::Document Json(const std::vector<std::string>& args) {
        std::vector<std::string> all{"--format", "json"};
        all.insert(all.end(), args.begin(), args.end());
        ToolRun r = Hostctl(all);
        EXPECT_EQ(r.status, 0) << r.err;
        rapidjson::Document doc;
        doc.Parse(r.out.c_str());
        EXPECT_FALSE(doc.HasParseError()) << r.out;
        return doc;
    }
};

// Every key of every object in the document is lower snake_case.
void ExpectSnakeKeys(const rapidjson::Value& v, const std::string& where) {
    if (v.IsArray()) {
        for (const auto& e : v.GetArray())
            ExpectSnakeKeys(e, where);
    } else if (v.IsObject()) {
        for (const auto& m : v.GetObject()) {
            std::string key = m.name.GetString();
            EXPECT_FALSE(key.empty()) << where;
            for (char c : key)
                EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') << where << ": " << key;
            ExpectSnakeKeys(m.value, where);
        }
    }
}

TEST_F(ToolTest, DeviceListForScripts) {
    auto doc = Json({"storage", "device", "list"});
    ASSERT_TRUE(doc.IsArray());
    ASSERT_GT(doc.Size(), 0u);
    const auto& first = doc[0];
    ASSERT_TRUE(first.HasMember("display_name"));
    EXPECT_TRUE(first["display_name"].IsString());
    EXPECT_GT(first["display_name"].GetStringLength(), 0u);
    EXPECT_TRUE(first["size_mb"].IsNumber());
    EXPECT_TRUE(first["paths"].IsNumber());
    EXPECT_TRUE(first["local"].IsBool());
    EXPECT_FALSE(first.HasMember("Display Name"));
}

TEST_F(ToolTest, EveryListingHasSnakeCaseKeys) {
    const std::vector<std::vector<std::string>> commands = {
        {"storage", "adapter", "list"},
        {"storage", "device", "list"},
        {"system", "settings", "advanced", "list", "--branch", "Net"},
        {"system", "settings", "advanced", "user", "list"},
        {"net", "address", "check", "10.0.0.1"},
        {"store", "list"},
        {"sim", "show"},
        {"sim", "faults"},
        {"host", "print"},
        {"storage", "device", "show", "naa.5000c500a1b2c3d4"},
    };
    for (const auto& c : commands) {
        std::string where;
        for (const auto& a : c)
            where += a + " ";
        auto doc = Json(c);
        ExpectSnakeKeys(doc, where);
    }
}

TEST_F(ToolTest, IntegerOptionValuesAreNumbers) {
    auto doc = Json({"system", "settings", "advanced", "list", "--branch", "Net"});
    ASSERT_TRUE(doc.IsArray());
    bool sawInteger = false, sawString = false;
    for (const auto& o : doc.GetArray()) {
        std::string type = o["type"].GetString();
        if (type == "integer") {
            sawInteger = true;
            EXPECT_TRUE(o["value"].IsInt64()) << o["path"].GetString();
            EXPECT_TRUE(o["default"].IsInt64()) << o["path"].GetString();
        } else {
            sawString = true;
            EXPECT_TRUE(o["value"].IsString()) << o["path"].GetString();
        }
    }
    EXPECT_TRUE(sawInteger);
    EXPECT_TRUE(sawString);
}

TEST_F(ToolTest, TablesKeepHumanHeadings) {
    ToolRun r = Hostctl({"storage", "device", "list"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("Device", 0), 0u) << r.out;
    EXPECT_NE(r.out.find("Display Name"), std::string::npos);
    EXPECT_EQ(r.out.find("display_name"), std::string::npos);
}

TEST_F(ToolTest, HostPathErrorsNameThePathAndTheRoot) {
    ToolRun missing = Hostctl({"config", "import-legacy", "/etc/legacy.conf"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_EQ(missing.err, "hostctl: ConfigParser: failed to open halden.conf (host path /etc/legacy.conf: " +
                               Root() + "/etc/legacy.conf below host root " + Root() + ")\n");
    ToolRun outside = Hostctl({"config", "import-legacy", "/etc/../../x"});
    EXPECT_EQ(outside.status, 1);
    EXPECT_EQ(outside.err, "hostctl: ConfigParser: failed to open halden.conf (host path /etc/../../x: not a path "
                           "below host root " + Root() + ")\n");
}

TEST_F(ToolTest, UsageErrorsExitTwoFailuresOne) {
    EXPECT_EQ(Hostctl({"storage", "device", "show"}).status, 2);
    ToolRun r = Hostctl({"storage", "device", "show", "naa.0bad"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

}  // namespace

TEST_F(ToolTest, KernelNicsThroughTheTool) {
    ASSERT_EQ(0, Hostctl({"net", "vswitch", "add", "vs1"}).status);
    ASSERT_EQ(0, Hostctl({"net", "portgroup", "add", "pg1", "--vswitch", "vs1"}).status);
    ToolRun add = Hostctl({"net", "interface", "add", "--portgroup", "pg1", "--ipv4", "192.168.20.5", "--netmask",
                           "255.255.255.0", "--mtu", "9000", "--mac", "02:00:4c:6a:00:01"});
    ASSERT_EQ(0, add.status) << add.err;
    ASSERT_EQ(0, Hostctl({"net", "interface", "tag", "add", "tarn0", "Velmove"}).status);
    auto doc = Json({"net", "interface", "list"});
    ExpectSnakeKeys(doc, "net interface list");
    ASSERT_TRUE(doc.IsArray());
    ASSERT_EQ(1u, doc.Size());
    EXPECT_STREQ("tarn0", doc[0]["name"].GetString());
    EXPECT_STREQ("192.168.20.5", doc[0]["ipv4_address"].GetString());
    EXPECT_EQ(9000, doc[0]["mtu"].GetInt());
    EXPECT_TRUE(doc[0]["enabled"].GetBool());
    EXPECT_FALSE(doc[0]["dhcp"].GetBool());
    EXPECT_STREQ("Velmove", doc[0]["tags"].GetString());
    ToolRun bad = Hostctl({"net", "interface", "set", "tarn0", "--mtu", "9191"});
    EXPECT_EQ(1, bad.status);
    EXPECT_NE(std::string::npos, bad.err.find("Unable to set MTU.  Valid MTU values are 1280-9190")) << bad.err;
    EXPECT_EQ(1, Hostctl({"net", "interface", "show", "tarn9"}).status);
    EXPECT_EQ(2, Hostctl({"net", "interface", "add"}).status);
    ASSERT_EQ(0, Hostctl({"net", "interface", "remove", "tarn0"}).status);
    EXPECT_EQ(0u, Json({"net", "interface", "list"}).Size());
}
