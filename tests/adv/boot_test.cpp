// Boot-time replay of persisted options and of the boot module options.
#include "adv_fixture.h"
#include "sim_edits.h"

#include <algorithm>

#include "platform/boot.h"
#include "platform/log.h"
#include "sim/kernel.h"

namespace AdvTest {
namespace {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;

class BootTest : public AdvHostTest {
protected:
    static void WriteBranch(const std::string& key, const std::string& json, const std::string& component = "halden") {
        auto store = TarnCtl::Adv::AdvStore();
        HaldenConfigStore::ConfigStoreTransaction txn(store);
        store->Write(ConfigStoreObject::FromData(ConfigStoreObjectId(key, "advanced_options", component), json));
        txn.Commit();
    }
};

TEST_F(BootTest, BadStoredValuesAreSkippedAndTheRestLoads) {
    WriteBranch("net", R"({"tcpip_heap_size": 12, "gone_option": 1, "IGMP_version": 7})");
    WriteBranch("MORRA", R"({"object_scrubs_per_year": 12})", "morra");
    Platform::Log::Capture capture;
    TarnSim::Profile::Reboot();
    EXPECT_EQ(Int("/Net/TcpipHeapSize")->GetValue(), 12);
    EXPECT_EQ(Int("/MORRA/ObjectScrubsPerYear")->GetValue(), 12);
    EXPECT_EQ(Int("/Net/IGMPVersion")->GetValue(), 3);
    EXPECT_TRUE(capture.Contains("AdvancedOptionBranchImpl: Option Net/gone_option no longer exists, skipping",
                                 Platform::Log::Level::Warning));
    EXPECT_TRUE(capture.Contains("AdvancedOptionBranchImpl: Unable to load option /Net/IGMPVersion",
                                 Platform::Log::Level::Warning));
    // Replaying records nothing new; only the network bring-up of this unconfigured host
    // records its management options.
    for (const auto& r : Audit())
        EXPECT_TRUE(r.object == "/Net/ManagementAddr" || r.object == "/Misc/HostIPAddr" ||
                    r.object == "/Net/ManagementIface")
            << r.event << " " << r.object;
}

TEST_F(BootTest, ModuleOptionsFailureIsAStatus) {
    EXPECT_EQ(TarnCtl::Adv::SetModuleOptions(), TARN_OK);
    TarnTest::FailKernel(KSI_NODE_system_bootModuleAdvConfigOpts, TARN_BUSY);
    Platform::Log::Capture capture;
    EXPECT_EQ(TarnCtl::Adv::SetModuleOptions(), 0x0bad0001u);
    EXPECT_TRUE(capture.Contains("TarnCtl: SetModuleOptions failed with", Platform::Log::Level::Error));
}

TEST_F(BootTest, BootStepsRunFirstAndSucceed) {
    Int("/Mem/IdleTax")->SetValue(33);
    // Options come before the module options, and both before the storage restores.
    const std::vector<std::string> order = {"advanced.options", "advanced.modules", "storage.devices",
                                            "storage.names", "storage.scrub"};
    const auto names = Platform::Boot::BootStepNames();
    std::vector<std::string> registered;
    for (const auto& n : names)
        if (std::find(order.begin(), order.end(), n) != order.end())
            registered.push_back(n);
    EXPECT_EQ(registered, order);

    const auto outcomes = Platform::Boot::RunBoot();
    std::vector<std::string> ran;
    size_t advanced = 0;
    for (const auto& o : outcomes) {
        ran.push_back(o.name);
        if (o.name.rfind("advanced.", 0) == 0) {
            ++advanced;
            EXPECT_TRUE(o.ok) << o.name << ": " << o.error;
        }
    }
    EXPECT_EQ(ran, names);
    EXPECT_EQ(advanced, 2u);
    EXPECT_EQ(Int("/Mem/IdleTax")->GetValue(), 33);
}

}  // namespace
}  // namespace AdvTest
