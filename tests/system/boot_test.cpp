// What comes back after a reboot, and what setters do while the store is in
// boot mode (replay to the kernel or the file, record nothing).
#include <algorithm>

#include "platform/boot.h"
#include "platform/hostroot.h"
#include "platform/misc.h"
#include "system_fixture.h"

namespace SystemTest {
namespace {

using namespace HostCtl::System;
using HaldenConfigStore::ConfigStoreObjectId;

class SystemBootTest : public SystemHostTest {
protected:
    static std::optional<bool> BootStatus(const std::string& key, const std::string& group = "system") {
        return TarnCtl::System::SystemStore()->GetBootStatus(ConfigStoreObjectId(key, group, "halden"));
    }
    static std::string Outcome(const std::vector<Platform::Boot::Outcome>& outcomes, const std::string& name) {
        for (const auto& o : outcomes)
            if (o.name == name) return o.ok ? "ok" : o.error;
        return "missing";
    }
};

TEST_F(SystemBootTest, MotdKeyboardAndMaintenanceModeSurviveAReboot) {
    system.SetMotd("<ESC>[1mWelcome<ESC>[0m");
    system.SetKeyboardLayout("German");
    system.SetMaintenanceModeState(MAINTENANCE_MODE_ENABLED);
    TarnSim::Profile::Reboot();
    TarnCtl::System::SystemInfoImpl after;
    EXPECT_EQ(after.GetMotd(), "<ESC>[1mWelcome<ESC>[0m");
    EXPECT_EQ(TarnTest::ReadHost("/etc/motd"), "\x1b[1mWelcome\x1b[0m");
    EXPECT_EQ(after.GetKeyboardLayout(), "German");
    std::string keymap;
    TarnSim::WithState([&](TarnSim::KernelState& s) { keymap = s.GetAreaValue("console", "keymap"); });
    EXPECT_EQ(keymap.rfind("# de-latin1.map: German keymap", 0), 0u);
    EXPECT_EQ(after.GetMaintenanceModeState(), MAINTENANCE_MODE_ENABLED);
    EXPECT_EQ(BootStatus("maintenance_mode", "maintenance"), std::optional<bool>(true));
    // Leaving maintenance mode is kept as well.
    after.SetMaintenanceModeState(MAINTENANCE_MODE_DISABLED);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(after.GetMaintenanceModeState(), MAINTENANCE_MODE_DISABLED);
}

TEST_F(SystemBootTest, WithoutRecordsTheKernelKeepsItsProfileValues) {
    auto outcomes = Platform::Boot::RunBoot();
    for (const char* step : {"system.uuid", "system.maintenance", "system.welcome", "system.motd", "system.issue",
                             "system.keyboard", "system.cbrc"})
        EXPECT_EQ(Outcome(outcomes, step), "ok") << step;
    EXPECT_EQ(system.GetMaintenanceModeState(), MAINTENANCE_MODE_DISABLED);
    EXPECT_FALSE(system.GetCbrcRuntimeEnabled());
    EXPECT_FALSE(HostCtl::Misc::HostFileExists("/etc/motd"));
    EXPECT_EQ(BootStatus("keyboard"), std::optional<bool>(true));
    EXPECT_EQ(BootStatus("etc_motd"), std::optional<bool>(true));
    // The system steps audit nothing; only the network bring-up of this unconfigured
    // host records its management options.
    for (const auto& r : Audit())
        EXPECT_TRUE(r.event == "settings.advanced.set" &&
                    (r.object == "/Net/ManagementAddr" || r.object == "/Misc/HostIPAddr" ||
                     r.object == "/Net/ManagementIface"))
            << r.event << " " << r.object;
}

TEST_F(SystemBootTest, FirstBootMakesTheSystemUuidAndHandsItToTheKernel) {
    EXPECT_FALSE(system.HasSystemUuid());
    TarnSim::Profile::Reboot();
    SoftwareUuid made = system.GetSystemUuid(false);
    EXPECT_EQ(system.GetTarnosUuid().text, made.text);
    std::string inception = system.GetInceptionTimestamp();
    TarnSim::Profile::Reboot();
    EXPECT_EQ(system.GetSystemUuid(false).text, made.text);
    EXPECT_EQ(system.GetTarnosUuid().text, made.text);
    EXPECT_EQ(system.GetInceptionTimestamp(), inception);
}

TEST_F(SystemBootTest, ReadCacheIsSwitchedOnAgainWhenItsModuleIsLoaded) {
    LoadModule("cbrc_filter_2");
    system.SetCbrcEnabled(true);
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    EXPECT_FALSE(system.GetCbrcRuntimeEnabled());
    LoadModule("cbrc_filter_2");
    auto outcomes = Platform::Boot::RunBoot();
    EXPECT_EQ(Outcome(outcomes, "system.cbrc"), "ok");
    EXPECT_TRUE(system.GetCbrcRuntimeEnabled());
    EXPECT_EQ(BootStatus("CBRC"), std::optional<bool>(true));
}

TEST_F(SystemBootTest, ReadCacheStepFailsWithoutItsModule) {
    LoadModule("cbrc_filter_2");
    system.SetCbrcEnabled(true);
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    auto outcomes = Platform::Boot::RunBoot();
    EXPECT_EQ(Outcome(outcomes, "system.cbrc"),
              "CBRC module is not loaded, cannot enable disable it. Please see Tarnos.log for details");
    // The other steps ran.
    EXPECT_EQ(Outcome(outcomes, "system.keyboard"), "ok");
}

TEST_F(SystemBootTest, OneFailingStepLeavesTheOthers) {
    system.SetKeyboardLayout("German");
    system.SetIssue("issue text");
    ::unlink(Platform::HostPath("/usr/share/keymaps/de-latin1.kmap.gz").c_str());
    ::unlink(Platform::HostPath("/etc/issue").c_str());
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    // The kernel reset put the archive back; take it away again before the boot steps.
    ::unlink(Platform::HostPath("/usr/share/keymaps/de-latin1.kmap.gz").c_str());
    auto outcomes = Platform::Boot::RunBoot();
    EXPECT_EQ(Outcome(outcomes, "system.keyboard"), "Failed to set keyboard layout: Unable to load keymap");
    EXPECT_EQ(Outcome(outcomes, "system.issue"), "ok");
    EXPECT_EQ(TarnTest::ReadHost("/etc/issue"), "issue text");
}

// Each setter while the store is in boot mode: the kernel (or file) takes the
// value, the store and the audit log do not.
struct BootModeCase {
    const char* name;
    std::function<void(TarnCtl::System::SystemInfoImpl&)> set;
    std::function<bool(TarnCtl::System::SystemInfoImpl&)> applied;
    const char* key;
    const char* group;
};

class BootModeSetters : public SystemBootTest, public ::testing::WithParamInterface<BootModeCase> {};

TEST_P(BootModeSetters, ReplayWithoutRecording) {
    const auto& c = GetParam();
    LoadModule("cbrc_filter_2");
    auto store = TarnCtl::System::SystemStore();
    store->SetBootMode(true);
    c.set(system);
    store->SetBootMode(false);
    EXPECT_TRUE(c.applied(system));
    EXPECT_EQ(StoreObject(c.key, c.group), nullptr);
    EXPECT_TRUE(Audit().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Setters, BootModeSetters,
    ::testing::Values(
        BootModeCase{"Maintenance", [](auto& s) { s.SetMaintenanceModeState(MAINTENANCE_MODE_ENABLED); },
                     [](auto& s) { return s.GetMaintenanceModeState() == MAINTENANCE_MODE_ENABLED; },
                     "maintenance_mode", "maintenance"},
        BootModeCase{"ReadCache", [](auto& s) { s.SetCbrcEnabled(true); },
                     [](auto& s) { return s.GetCbrcRuntimeEnabled(); }, "CBRC", "system"},
        BootModeCase{"Keyboard", [](auto& s) { s.SetKeyboardLayout("Spanish"); },
                     [](auto&) {
                         std::string k;
                         TarnSim::WithState([&](TarnSim::KernelState& st) { k = st.GetAreaValue("console", "keymap"); });
                         return !k.empty();
                     },
                     "keyboard", "system"},
        BootModeCase{"Motd", [](auto& s) { s.SetMotd("m"); },
                     [](auto&) { return TarnTest::ReadHost("/etc/motd") == "m"; }, "etc_motd", "system"},
        BootModeCase{"Issue", [](auto& s) { s.SetIssue("i"); },
                     [](auto&) { return TarnTest::ReadHost("/etc/issue") == "i"; }, "etc_issue", "system"},
        BootModeCase{"Welcome", [](auto& s) { s.SetWelcomeMessage("w"); },
                     [](auto&) { return TarnTest::ReadHost("/etc/quillon/welcome") == "w"; }, "welcome_message",
                     "system"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace SystemTest
