// Upgrade from the old host configuration file into the store, and the replay
// of the upgraded values at the next boot.
#include "adv_fixture.h"

#include "adv/advanced_option_branch_impl.h"
#include "platform/log.h"
#include "platform/misc.h"

namespace AdvTest {
namespace {

class UpgradeTest : public AdvHostTest {};

TEST_F(UpgradeTest, ValuesMoveFromTheFileToTheStore) {
    HostCtl::Misc::WriteHostFileAtomic("/etc/tarn/tarn.conf",
                                       "/adv/Net/TcpipHeapSize = \"8\"\n"
                                       "/adv/Net/VanishedOption = \"3\"\n"
                                       "/adv/Mem/IdleTax = \"500\"\n"
                                       "/adv/Misc/HostName = \"old-host\"\n"
                                       "/adv/Gone/Thing = \"1\"\n"
                                       "/advUserOptions/Color/type = \"string\"\n"
                                       "/advUserOptions/Color/default = \"blue\"\n"
                                       "/advUserOptions/Color/value = \"green\"\n"
                                       "/advUserOptions/ConsoleTimeOut/value = \"300\"\n"
                                       "/system/uuid = \"keep-me\"\n");
    Platform::Log::Capture capture;
    EXPECT_TRUE(TarnCtl::Adv::AdvancedOptionBranchImpl().UpgradeConfigToConfigStore());
    EXPECT_FALSE(TarnCtl::Adv::IsUpgrading());

    long v = 0;
    ASSERT_TRUE(StoreObject("net"));
    EXPECT_TRUE(StoreObject("net")->GetValue("tcpip_heap_size", &v));
    EXPECT_EQ(v, 8);
    std::string s;
    ASSERT_TRUE(StoreObject("misc"));
    EXPECT_TRUE(StoreObject("misc")->GetValue("host_name", &s));
    EXPECT_EQ(s, "old-host");
    EXPECT_FALSE(StoreObject("mem"));
    EXPECT_TRUE(capture.Contains(
        "AdvancedOptionBranchImpl: Option /adv/Net/VanishedOption no longer exists, skipping", Platform::Log::Level::Warning));
    EXPECT_TRUE(capture.Contains("AdvancedOptionBranchImpl: Option /adv/Gone/Thing no longer exists, skipping"));
    EXPECT_TRUE(capture.Contains("UpgradeConfigToConfigStore: Option Load for /adv/Mem/IdleTax Failed: Invalid value 500",
                                 Platform::Log::Level::Warning));

    std::string conf = TarnTest::ReadHost("/etc/tarn/tarn.conf");
    EXPECT_EQ(conf.find("TcpipHeapSize"), std::string::npos);
    EXPECT_EQ(conf.find("HostName"), std::string::npos);
    EXPECT_EQ(conf.find("advUserOptions"), std::string::npos);
    EXPECT_NE(conf.find("/adv/Mem/IdleTax"), std::string::npos);
    EXPECT_NE(conf.find("/system/uuid"), std::string::npos);

    // The kernel takes the values at the next boot.
    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 0);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 8);
    EXPECT_EQ(Str("/Misc/HostName")->GetValue(), "old-host");
    EXPECT_EQ(Str("/UserVars/Color")->GetValue(), "green");
    EXPECT_EQ(Int("/UserVars/ConsoleTimeOut")->GetValue(), 300);
}

}  // namespace
}  // namespace AdvTest
