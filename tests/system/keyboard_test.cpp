// Keyboard layouts: the keymap list, loading a real gzip keymap archive into
// the simulated console, the stored layout and its replay at boot.
#include <zlib.h>

#include "hostctl/exception.h"
#include "platform/configstore.h"
#include "platform/console.h"
#include "platform/hostroot.h"
#include "platform/misc.h"
#include "system_fixture.h"

namespace SystemTest {
namespace {

std::string LoadedKeymap() {
    std::string text;
    TarnSim::WithState([&](TarnSim::KernelState& s) { text = s.GetAreaValue("console", "keymap"); });
    return text;
}

class KeyboardTest : public SystemHostTest {};

TEST_F(KeyboardTest, LayoutsAreSortedAndTwoWordNamesKept) {
    auto layouts = system.GetKeyboardLayouts();
    ASSERT_FALSE(layouts.empty());
    EXPECT_TRUE(std::is_sorted(layouts.begin(), layouts.end()));
    EXPECT_NE(std::find(layouts.begin(), layouts.end(), "Swiss German"), layouts.end());
    EXPECT_NE(std::find(layouts.begin(), layouts.end(), "US Default"), layouts.end());
    EXPECT_EQ(system.GetLayoutFromZipFileName("sg-latin1.kmap.gz"), "Swiss German");
    EXPECT_EQ(system.GetLayoutFromZipFileName("none.kmap.gz"), "");
}

TEST_F(KeyboardTest, SettingALayoutLoadsTheRealArchiveAndStoresIt) {
    EXPECT_EQ(system.GetKeyboardLayout(), "");
    system.SetKeyboardLayout("German");
    // The console got the inflated text of the package's German keymap.
    std::string keymap = LoadedKeymap();
    EXPECT_EQ(keymap.rfind("# de-latin1.map: German keymap", 0), 0u) << keymap.substr(0, 80);
    EXPECT_NE(keymap.find("keycode"), std::string::npos);
    EXPECT_EQ(system.GetKeyboardLayout(), "German");
    EXPECT_EQ(StoreText("keyboard", "layout"), "German");
    system.SetKeyboardLayout("Swiss German");
    EXPECT_EQ(StoreText("keyboard", "layout"), "Swiss German");
    EXPECT_EQ(LoadedKeymap().find("de-latin1"), std::string::npos);
}

TEST_F(KeyboardTest, UnknownLayoutIsRefusedAndNothingChanges) {
    system.SetKeyboardLayout("French");
    std::string loaded = LoadedKeymap();
    EXPECT_EQ(ErrorOf([&] { system.SetKeyboardLayout("Klingon"); }), "Invalid keymap specified");
    EXPECT_EQ(ErrorOf([&] { system.SetKeyboardLayout("german"); }), "Invalid keymap specified");
    EXPECT_EQ(ErrorOf([&] { system.SetKeyboardLayout(""); }), "Invalid keymap specified");
    EXPECT_EQ(StoreText("keyboard", "layout"), "French");
    EXPECT_EQ(LoadedKeymap(), loaded);
}

TEST_F(KeyboardTest, BrokenArchivesAreNotLoaded) {
    HostCtl::Misc::WriteHostFileAtomic("/usr/share/keymaps/list",
                                       "Plain plain.kmap\nCorrupt corrupt.kmap.gz\nMissing missing.kmap.gz\nEscape "
                                       "../../etc/motd\nGerman de-latin1.kmap.gz\n");
    HostCtl::Misc::WriteHostFileAtomic("/usr/share/keymaps/plain.kmap", "keycode 1 = Escape\n");
    std::string gz = TarnTest::ReadHost("/usr/share/keymaps/de-latin1.kmap.gz");
    HostCtl::Misc::WriteHostFileAtomic("/usr/share/keymaps/corrupt.kmap.gz", gz.substr(0, gz.size() / 2));
    TarnCtl::System::SystemInfoImpl fresh;
    for (const char* name : {"Plain", "Corrupt", "Missing", "Escape"}) {
        EXPECT_EQ(ErrorOf([&] { fresh.SetKeyboardLayout(name); }), "Unable to load keymap") << name;
        EXPECT_EQ(StoreObject("keyboard"), nullptr) << name;
    }
    EXPECT_EQ(LoadedKeymap(), "");
    fresh.SetKeyboardLayout("German");
    EXPECT_EQ(StoreText("keyboard", "layout"), "German");
}

TEST_F(KeyboardTest, ConsoleRefusalStoresNothing) {
    auto previous = Platform::Console::SetKeymapLoader([](const std::string&) { return false; });
    EXPECT_EQ(ErrorOf([&] { system.SetKeyboardLayout("German"); }), "Unable to load keymap");
    Platform::Console::SetKeymapLoader(previous);
    EXPECT_EQ(StoreObject("keyboard"), nullptr);
}

TEST_F(KeyboardTest, MissingListIsReported) {
    ::unlink(Platform::HostPath("/usr/share/keymaps/list").c_str());
    EXPECT_EQ(ErrorOf([&] { system.GetKeyboardLayouts(); }), "Unable to read keymap list");
    EXPECT_EQ(ErrorOf([&] { system.SetKeyboardLayout("German"); }), "Unable to read keymap list");
}

TEST_F(KeyboardTest, LayoutComesBackAfterReboot) {
    system.SetKeyboardLayout("Swiss German");
    TarnSim::Profile::Reboot();
    // The console starts empty after a reboot; the boot step loaded the stored layout again.
    EXPECT_EQ(LoadedKeymap().rfind("keymaps 0-2,4-6,8,12\ninclude \"qwertz-layout\"", 0), 0u);
    EXPECT_EQ(TarnCtl::System::SystemInfoImpl().GetKeyboardLayout(), "Swiss German");
    EXPECT_EQ(TarnCtl::System::SystemStore()->GetBootStatus(
                  HaldenConfigStore::ConfigStoreObjectId("keyboard", "system", "halden")),
              std::optional<bool>(true));
}

TEST_F(KeyboardTest, RestoreFailureIsNamed) {
    system.SetKeyboardLayout("German");
    ::unlink(Platform::HostPath("/usr/share/keymaps/de-latin1.kmap.gz").c_str());
    EXPECT_EQ(ErrorOf([] { TarnCtl::System::SystemInfoImpl().RestoreKeyboardLayout(); }),
              "Failed to set keyboard layout: Unable to load keymap");
}

TEST_F(KeyboardTest, BootModeLoadsAndRecordsNothing) {
    auto store = TarnCtl::System::SystemStore();
    store->SetBootMode(true);
    system.SetKeyboardLayout("Italian");
    store->SetBootMode(false);
    EXPECT_NE(LoadedKeymap(), "");
    EXPECT_EQ(StoreObject("keyboard"), nullptr);
}

}  // namespace
}  // namespace SystemTest
