// The adapters over the host configuration file's own classes behave like the
// store-backed ones for callers written against the file.
#include <gtest/gtest.h>

#include "configstore/configfileutil.h"
#include "fixture.h"
#include "platform/configfile.h"
#include "platform/configstore.h"

using namespace TarnCtl::ConfigStoreUtil;

namespace {

class FileAdapterTest : public TarnTest::HostTest {};

std::string ThrownText(const std::function<void()>& f) {
    try {
        f();
    } catch (const ConfigFileException& e) {
        return e.what();
    }
    return "<no exception>";
}

TEST_F(FileAdapterTest, ForwardsToTheHostConfigurationFile) {
    ConfigFileUtil file(TarnCtl::Config::ConfigFile::GetFile());
    file.Lock({});
    auto array = file.GetArray("/net/pnic/child");
    ASSERT_TRUE(static_cast<bool>(array));
    auto nic = array.NewInstance();
    nic.SetValue("name", "pnx0");
    nic.SetValue("rx", 512);
    EXPECT_EQ(nic.GetKey(), "/net/pnic/child[0000]");
    EXPECT_EQ(nic.GetArrayIndex(), 0);
    int rx = 0;
    EXPECT_TRUE(file.GetValue("/net/pnic/child[0000]/rx", &rx));
    EXPECT_EQ(rx, 512);
    EXPECT_TRUE(array.HasInstance("name", "pnx0"));
    EXPECT_EQ(array.FindInstanceWithIndex(0).GetKey(), "/net/pnic/child[0000]");
    EXPECT_EQ(ThrownText([&] { array.FindInstanceWithIndex(4); }), "Config Convertor: unable to find instance");
    EXPECT_EQ(ThrownText([&] { array.RemoveInstance("name", "pnx7"); }),
              "Config Convertor: no matching instance to remove: pnx7");
    file.Write();
    file.Unlock();
    EXPECT_NE(TarnTest::ReadHost("/etc/tarn/tarn.conf").find("/net/pnic/child[0000]/rx = \"512\""), std::string::npos)
        << TarnTest::ReadHost("/etc/tarn/tarn.conf");
}

// What callers get from GetFile() writes to the configuration store, not to the
// host configuration file.
TEST_F(FileAdapterTest, TheProcessConfigurationIsTheStore) {
    ConfigFileUtil file = ConfigFileUtil::GetFile();
    file.Lock({"halden/network/nics"});
    auto nic = file.GetArray("/net/pnic/child").NewInstance();
    nic.SetValue("name", "pnx0");
    nic.SetValue("rx", 512);
    file.Write();
    file.Unlock();
    auto stored = HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace)
                      ->Get(HaldenConfigStore::ConfigStoreObjectId("nics", "network", "halden", "pnx0"));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->GetData(), R"({"name":"pnx0","ring":{"rx":512}})");
    EXPECT_EQ(TarnTest::ReadHost("/etc/tarn/tarn.conf"), "");
}

}  // namespace
