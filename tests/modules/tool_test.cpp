// hostctl system module / bootoption as a new user would try them: the NIC
// driver's parameters, max_vfs set and an out-of-range value refused with
// nothing stored, a module disabled, a boot option set, and all of it in
// effect after a reboot of the simulated host. Exit statuses 0, 1 and 2.
#include "ksi/modules.h"
#include "modules_fixture.h"
#include "platform/sysinfo.h"

namespace {

class ToolTest : public ModTest::ModulesHostTest {
protected:
    ModTest::Outcome Hostctl(std::vector<std::string> args) {
        args.insert(args.begin(), {TEST_HOSTCTL, "--root", Root()});
        return ModTest::RunCapture(args);
    }
    static std::string StoredOptions(const std::string& name) {
        auto o = ModuleSettings(name);
        std::string text = "(none)";
        if (o) o->GetValue("options", &text);
        return text;
    }
};

TEST_F(ToolTest, NewUserScenario) {
    auto params = Hostctl({"system", "module", "parameters", "nic_tg10"});
    ASSERT_EQ(params.status, 0) << params.err;
    EXPECT_NE(params.out.find("max_vfs         array of int"), std::string::npos) << params.out;

    auto set = Hostctl({"system", "module", "set-options", "nic_tg10", "max_vfs=8,8"});
    ASSERT_EQ(set.status, 0) << set.err;
    EXPECT_EQ(StoredOptions("nic_tg10"), "max_vfs=8,8");

    auto bad = Hostctl({"system", "module", "set-options", "nic_tg10", "max_vfs=8,2147483648"});
    EXPECT_EQ(bad.status, 1);
    EXPECT_EQ(bad.err, "hostctl: Invalid value 8,2147483648 for module parameter max_vfs\n");
    EXPECT_EQ(StoredOptions("nic_tg10"), "max_vfs=8,8");

    ASSERT_EQ(Hostctl({"system", "module", "disable", "usb_storage"}).status, 0);
    auto boot = Hostctl({"system", "bootoption", "set", "hyperthreading", "FALSE"});
    ASSERT_EQ(boot.status, 0) << boot.err;
    auto numeric = Hostctl({"system", "bootoption", "set", "hyperthreading", "0"});
    EXPECT_EQ(numeric.status, 1);
    EXPECT_EQ(numeric.err, "hostctl: Invalid type 'int64' for key (hyperthreading) 'Bool'\n");

    ASSERT_EQ(Hostctl({"sim", "reboot"}).status, 0);
    auto loaded = Hostctl({"system", "module", "list", "--loaded"});
    ASSERT_EQ(loaded.status, 0) << loaded.err;
    EXPECT_NE(loaded.out.find("nic_tg10"), std::string::npos);
    EXPECT_NE(loaded.out.find("max_vfs=8,8"), std::string::npos);
    EXPECT_EQ(loaded.out.find("usb_storage"), std::string::npos) << loaded.out;
    auto show = Hostctl({"system", "module", "show", "nic_tg10"});
    EXPECT_NE(show.out.find("Loaded Options:    max_vfs=8,8"), std::string::npos) << show.out;
    auto ht = Hostctl({"system", "bootoption", "get", "hyperthreading"});
    EXPECT_NE(ht.out.find("Runtime:     FALSE"), std::string::npos) << ht.out;
    auto delta = Hostctl({"system", "bootoption", "list", "--delta"});
    EXPECT_NE(delta.out.find("hyperthreading  Bool  FALSE  FALSE    TRUE"), std::string::npos) << delta.out;
}

TEST_F(ToolTest, FailuresAndUsage) {
    auto unknown = Hostctl({"system", "module", "show", "nosuch"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_EQ(unknown.err, "hostctl: Invalid Module name nosuch\n");
    auto key = Hostctl({"system", "bootoption", "set", "nosuch", "1"});
    EXPECT_EQ(key.status, 1);
    EXPECT_EQ(key.err, "hostctl: Invalid Key Name: nosuch\n");
    auto range = Hostctl({"system", "bootoption", "set", "logPort", "99999999999999999999"});
    EXPECT_EQ(range.status, 1);
    EXPECT_EQ(range.err, "hostctl: Invalid value 99999999999999999999 for key (logPort): out of range\n");
    EXPECT_EQ(Hostctl({"system", "module", "load"}).status, 2);
    EXPECT_EQ(Hostctl({"system", "bootoption", "set", "logPort"}).status, 2);
    auto load = Hostctl({"system", "module", "load", "nic_e1g", "--options", "copybreak=256"});
    ASSERT_EQ(load.status, 0) << load.err;
    TarnCtl::Util::Sysinfo si(KSI_NODE_system_modules_general);
    si.SetInstance("nic_e1g");
    Ksi::Modules::General g{};
    si.Get(&g, sizeof(g));
    EXPECT_STREQ(g.options, "copybreak=256");
    EXPECT_EQ(Hostctl({"system", "module", "load", "nic_e1g"}).status, 0);
    EXPECT_EQ(Hostctl({"system", "module", "unload", "nic_e1g"}).status, 0);
    auto again = Hostctl({"system", "module", "unload", "nic_e1g"});
    EXPECT_EQ(again.status, 1);
    EXPECT_EQ(again.err, "hostctl: Unable to unload module nic_e1g: Module not loaded\n");
}

}  // namespace
