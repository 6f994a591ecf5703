// Desired-state remediation of advanced options and its impact check.
#include "adv_fixture.h"

#include "hostctl/exception.h"
#include "platform/log.h"

namespace AdvTest {
namespace {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using namespace TarnCtl::Adv;

class RemediateTest : public AdvHostTest {
protected:
    static ConfigStoreObject Desired(const std::string& key, const std::string& json = "{}") {
        return *ConfigStoreObject::FromData(ConfigStoreObjectId(key, "advanced_options", "halden"), json);
    }
};

TEST_F(RemediateTest, EmptyDesiredObjectResetsEveryNonDefaultOption) {
    Int("/Net/TcpipHeapSize")->SetValue(8);
    Int("/Net/DVFilterFakeSNic")->SetValue(1);  // hidden options too
    Str("/Net/TcpipDefaultCC")->SetValue("cubic");
    Int("/Mem/IdleTax")->SetValue(10);  // another branch stays
    // A field at the default value is still dropped from the store.
    Int("/Net/IGMPVersion")->SetValue(3);

    Platform::Log::Capture capture;
    RemediateDesiredConfig(Desired("net"));

    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 0);
    EXPECT_EQ(Int("/Net/DVFilterFakeSNic")->GetValue(), 0);
    EXPECT_EQ(Str("/Net/TcpipDefaultCC")->GetValue(), "newreno");
    EXPECT_FALSE(StoreObject("net"));
    EXPECT_EQ(Int("/Mem/IdleTax")->GetValue(), 10);
    EXPECT_TRUE(capture.Contains("RemediateDesiredConfig: Remediating for ns net"));
    EXPECT_TRUE(capture.Contains("RemediateDesiredConfig: Resetting value for option TcpipHeapSize"));
    EXPECT_TRUE(capture.Contains("RemediateDesiredConfig: Resetting value for option IGMPVersion"));
    EXPECT_FALSE(capture.Contains("Resetting value for option UseHwTSO"));
    size_t resets = 0;
    for (const auto& r : Audit()) resets += r.event == "settings.advanced.reset";
    EXPECT_EQ(resets, 4u);
}

TEST_F(RemediateTest, DesiredValuesAreSetAndOthersReset) {
    Int("/Net/TcpipHeapSize")->SetValue(8);
    RemediateDesiredConfig(Desired("net", R"({"IGMP_version": 2, "tcpip_default_CC": "cubic"})"));
    EXPECT_EQ(Int("/Net/IGMPVersion")->GetValue(), 2);
    EXPECT_EQ(Str("/Net/TcpipDefaultCC")->GetValue(), "cubic");
    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 0);
    auto net = StoreObject("net");
    ASSERT_TRUE(net);
    EXPECT_EQ(net->GetFieldNames(), (std::vector<std::string>{"IGMP_version", "tcpip_default_CC"}));
}

TEST_F(RemediateTest, EveryOptionOfTheBranchIsVisitedInItsOwnOrder) {
    // The desired object names a string option before an integer one and a
    // hidden option; one value equals what is set already.
    Int("/Net/IGMPVersion")->SetValue(2);
    Platform::Log::Capture capture;
    RemediateDesiredConfig(
        Desired("net", R"({"tcpip_default_CC": "cubic", "IGMP_version": 2, "DV_filter_fakes_nic": 1})"));
    // Integer options come before string options, whatever the desired order.
    std::string text;
    for (const auto& line : capture.Lines())
        text += line.text + "\n";
    const size_t igmp = text.find("Setting value for option IGMPVersion\n");
    const size_t fake = text.find("Setting value for option DVFilterFakeSNic\n");
    const size_t cc = text.find("Setting value for option TcpipDefaultCC\n");
    ASSERT_NE(igmp, std::string::npos);
    ASSERT_NE(fake, std::string::npos);
    ASSERT_NE(cc, std::string::npos);
    EXPECT_LT(std::max(igmp, fake), cc);
    EXPECT_EQ(Int("/Net/DVFilterFakeSNic")->GetValue(), 1);
    // A desired value equal to the current one is still set, and audited as such.
    bool noChange = false;
    for (const auto& r : Audit())
        noChange |= r.object == "/Net/IGMPVersion" && Items(r) == "value=2,comment=no change";
    EXPECT_TRUE(noChange);
}

TEST_F(RemediateTest, InvalidDesiredObjectChangesNothing) {
    Int("/Net/TcpipHeapSize")->SetValue(8);
    struct Case {
        const char* key;
        const char* json;
        const char* message;
    } cases[] = {
        {"net", R"({"no_such_option": 1})", "Unable to find option Net/no_such_option"},
        {"net", R"({"IGMP_version": "two"})", "Invalid value for option /Net/IGMPVersion: an integer is expected"},
        {"net", R"({"IGMP_version": 9})", "Invalid value 9 for option /Net/IGMPVersion: not in the range [2-3]"},
        {"nowhere", "{}", "Unable to find branch nowhere"},
    };
    for (const auto& c : cases) {
        try {
            RemediateDesiredConfig(Desired(c.key, c.json));
            ADD_FAILURE() << c.json;
        } catch (const HostCtl::Lib::HostCtlException& e) {
            EXPECT_EQ(std::string(e.what()), c.message);
        }
    }
    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 8);
    EXPECT_EQ(Audit().size(), 1u);
}

TEST_F(RemediateTest, ImpactCheck) {
    EXPECT_EQ(CheckOptionImpact(Desired("net", R"({"IGMP_version": 2})")), (HostCtl::Adv::OptionImpact{false, false}));
    EXPECT_EQ(CheckOptionImpact(Desired("net", R"({"tcpip_heap_size": 4})")), (HostCtl::Adv::OptionImpact{true, false}));
    EXPECT_EQ(CheckOptionImpact(Desired("LVM", R"({"enable_resignature": 1})")), (HostCtl::Adv::OptionImpact{false, true}));
    // Desiring the current value needs nothing; resetting a changed option needs what it needs.
    EXPECT_EQ(CheckOptionImpact(Desired("net", R"({"tcpip_heap_size": 0})")), (HostCtl::Adv::OptionImpact{}));
    Int("/Net/TcpipHeapSize")->SetValue(8);
    EXPECT_EQ(CheckOptionImpact(Desired("net")), (HostCtl::Adv::OptionImpact{true, false}));
    EXPECT_EQ(CheckOptionImpact("LVM", "DisallowSnapshotLun"), (HostCtl::Adv::OptionImpact{false, true}));
    // The check changes nothing.
    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 8);
}

TEST_F(RemediateTest, UserOptionRemediation) {
    ConfigStoreObject set = *ConfigStoreObject::FromData(
        ConfigStoreObjectId("user_vars", "advanced_options", "halden", "ConsoleTimeOut"), R"({"integer_value": 120})");
    RemediateDesiredUserConfig(set);
    EXPECT_EQ(Int("/UserVars/ConsoleTimeOut")->GetValue(), 120);
    RemediateDesiredUserConfig(
        ConfigStoreObject(ConfigStoreObjectId("user_vars", "advanced_options", "halden", "ConsoleTimeOut")));
    EXPECT_EQ(Int("/UserVars/ConsoleTimeOut")->GetValue(), 600);
    EXPECT_EQ(CheckUserOptionImpact("HaldenVPsDisabledProtocols"), (HostCtl::Adv::OptionImpact{true, false}));
}

}  // namespace
}  // namespace AdvTest
