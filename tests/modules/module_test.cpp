// Kernel modules against the simulated host: names and files, load and unload
// through the loader, options and the enabled flag in the store (refusals
// change nothing, boot mode records nothing), bundles, loggers, and the boot
// that brings options and flags back.
#include "hostctl/exception.h"
#include "ksi/modules.h"
#include "modules_fixture.h"
#include "platform/bootconfig.h"
#include "platform/configstore.h"
#include "platform/kevt.h"
#include "platform/log.h"
#include "platform/modloader.h"
#include "platform/sysinfo.h"
#include "sim/faults.h"
#include "sim_edits.h"
#include "system/module_impl.h"

using HostCtl::Lib::HostCtlException;
using TarnCtl::System::ModuleImpl;

namespace {

class ModuleTest : public ModTest::ModulesHostTest {
protected:
    static std::string StoredOptions(const std::string& name) {
        auto o = ModuleSettings(name);
        std::string text = "(no object)";
        if (o && !o->GetValue("options", &text)) text = "(no field)";
        return text;
    }
    static Ksi::Modules::General Record(const std::string& name) {
        TarnCtl::Util::Sysinfo si(KSI_NODE_system_modules_general);
        si.SetInstance(name);
        Ksi::Modules::General g{};
        si.Get(&g, sizeof(g));
        return g;
    }
    static std::vector<std::string> Loaded() {
        TarnCtl::Util::Sysinfo si(KSI_NODE_system_modules);
        std::vector<std::string> names;
        si.List(names);
        return names;
    }
    template <typename F>
    static std::string Refusal(F f) {
        try {
            f();
        } catch (const HostCtlException& e) {
            return e.what();
        }
        return "(accepted)";
    }
};

// A loader that fails the next calls it is told to, and passes the rest on.
class FailingLoader : public Platform::ModLoader::Backend {
public:
    FailingLoader() : _next(Platform::ModLoader::SetBackend(this)) {}
    ~FailingLoader() override { Platform::ModLoader::SetBackend(nullptr); }
    TARN_ReturnStatus Load(const char* name, const char* options, int flags) override {
        ++loads;
        return failLoad ? failLoad : _next->Load(name, options, flags);
    }
    TARN_ReturnStatus Unload(const char* name) override { return _next->Unload(name); }
    TARN_ReturnStatus IsModuleLoaded(const char* name) override { return _next->IsModuleLoaded(name); }
    TARN_ReturnStatus failLoad = TARN_OK;
    int loads = 0;

private:
    Platform::ModLoader::Backend* _next;
};

TEST(ModuleNames, FileNameIsTheLastComponent) {
    EXPECT_EQ(ModuleImpl::FileNameFromPath("/usr/lib/quillon/tarnmod/nic_tg10"), "nic_tg10");
    EXPECT_EQ(ModuleImpl::FileNameFromPath("nic_tg10"), "nic_tg10");
    EXPECT_EQ(ModuleImpl::FileNameFromPath("a//b.o"), "b.o");
    for (const std::string bad : {"", "/", "/usr/lib/", "x//"}) {
        try {
            ModuleImpl::FileNameFromPath(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const HostCtlException& e) {
            EXPECT_EQ(std::string(e.what()), "Unable to determine filename from " + bad);
        }
    }
    // Many components and a trailing slash: refused, not stuck backtracking.
    std::string deep;
    for (int i = 0; i < 20000; ++i) deep += "/d";
    EXPECT_EQ(ModuleImpl::FileNameFromPath(deep), "d");
    EXPECT_THROW(ModuleImpl::FileNameFromPath(deep + "/"), HostCtlException);
    EXPECT_THROW(ModuleImpl::FileNameFromPath(std::string(20000, '/')), HostCtlException);
}

TEST_F(ModuleTest, ValidNamesAreLoadedModulesOrFiles) {
    EXPECT_TRUE(ModuleImpl::IsValidName("nic_tg10"));
    EXPECT_TRUE(ModuleImpl::IsValidName("fc_qlx"));
    EXPECT_TRUE(ModuleImpl::IsValidName("/usr/lib/quillon/tarnmod/nic_tg25"));
    EXPECT_FALSE(ModuleImpl::IsValidName("nosuch"));
    EXPECT_FALSE(ModuleImpl::IsValidName(""));
    EXPECT_FALSE(ModuleImpl::IsValidName("../etc/passwd"));
    EXPECT_EQ(ModuleImpl::CheckModuleFile("fc_qlx"), "/usr/lib/quillon/tarnmod/fc_qlx.o");
    EXPECT_EQ(ModuleImpl::CheckModuleFile("nosuch"), "");
    // A loaded module stays valid when its file goes away.
    ModuleImpl("ipmi_si").Load("", false);
    ASSERT_EQ(::unlink(Real("/usr/lib/quillon/tarnmod/ipmi_si").c_str()), 0);
    EXPECT_TRUE(ModuleImpl::IsValidName("ipmi_si"));
}

TEST_F(ModuleTest, LoadShowsOptionsInTheKernelRecordAndAgainIsAccepted) {
    ModuleImpl m("nic_tg10");
    EXPECT_FALSE(m.IsLoaded());
    EXPECT_EQ(Refusal([&] { m.GetModuleId(); }), "Cannot access module instance.");
    m.Load("max_vfs=4,4 debug_level=2", false);
    EXPECT_TRUE(m.IsLoaded());
    Ksi::Modules::General g = Record("nic_tg10");
    EXPECT_STREQ(g.options, "max_vfs=4,4 debug_level=2");
    EXPECT_EQ(m.GetModuleId(), g.moduleId);
    EXPECT_EQ(m.GetVersion(), "4.2.8-1tarn");
    EXPECT_EQ(m.GetLoadedOptions(), "max_vfs=4,4 debug_level=2");
    // Already loaded: accepted, and the module keeps its first options.
    ModuleImpl again("nic_tg10");
    EXPECT_NO_THROW(again.Load("max_vfs=1", false));
    EXPECT_STREQ(Record("nic_tg10").options, "max_vfs=4,4 debug_level=2");
    EXPECT_EQ(Loaded(), std::vector<std::string>{"nic_tg10"});
}

TEST_F(ModuleTest, LoadUsesTheStoredOptionsWhenGivenNone) {
    ModuleImpl m("sas_mpt3");
    m.SetOptionString("max_sgl_entries=128", false);
    m.Load("", false);
    EXPECT_STREQ(Record("sas_mpt3").options, "max_sgl_entries=128");
}

TEST_F(ModuleTest, LoadRefusals) {
    EXPECT_EQ(Refusal([] { ModuleImpl("nosuch").Load("", false); }), "Invalid module name nosuch");
    EXPECT_EQ(Refusal([] { ModuleImpl("nic_tg10").Load("debug_level=256", false); }),
              "Invalid value 256 for module parameter debug_level");
    EXPECT_TRUE(Loaded().empty());
    // Skipping validation hands the text to the loader as it is.
    ModuleImpl("nic_e1g").Load("anything=at_all", true);
    EXPECT_STREQ(Record("nic_e1g").options, "anything=at_all");
    FailingLoader loader;
    loader.failLoad = TARN_NO_MEMORY;
    EXPECT_EQ(Refusal([] { ModuleImpl("nic_tg25").Load("", false); }),
              std::string("Unable to load module nic_tg25: ") + TARN_ReturnStatusToString(TARN_NO_MEMORY));
    EXPECT_EQ(loader.loads, 1);
    EXPECT_EQ(Loaded(), std::vector<std::string>{"nic_e1g"});
}

TEST_F(ModuleTest, LoaderRecordsAndStatuses) {
    EXPECT_EQ(TARNMod_IsModuleLoaded("nic_tg10"), TARN_NOT_FOUND);
    EXPECT_EQ(TARNMod_Load("nic_tg10", "a=1"), TARN_OK);
    EXPECT_EQ(TARNMod_IsModuleLoaded("nic_tg10"), TARN_OK);
    EXPECT_EQ(TARNMod_Load("nic_tg10", ""), TARN_BUSY);
    EXPECT_EQ(TARNMod_Load("nosuch", ""), TARN_NOT_FOUND);
    EXPECT_EQ(TARNMod_Load("../nic_tg10", ""), TARN_NOT_FOUND);
    EXPECT_EQ(TARNMod_Load("", ""), TARN_BAD_PARAM);
    EXPECT_EQ(TARNMod_Load("nic_tg25", std::string(1023, 'x').c_str()), TARN_OK);
    EXPECT_EQ(TARNMod_Load("nic_e1g", std::string(1024, 'x').c_str()), TARN_BAD_PARAM);
    EXPECT_EQ(TARNMod_Unload("nic_tg10"), TARN_OK);
    EXPECT_EQ(TARNMod_Unload("nic_tg10"), TARN_MODULE_NOT_LOADED);
    EXPECT_EQ(Loaded(), std::vector<std::string>{"nic_tg25"});
    // Scripted kernel failure of one module's load.
    TarnTest::FailKernel(KSI_NODE_system_modules, TARN_NO_MEMORY, {.instance = "nic_e1g"});
    EXPECT_EQ(TARNMod_Load("nic_e1g", ""), TARN_NO_MEMORY);
    EXPECT_EQ(TARNMod_IsModuleLoaded("nic_e1g"), TARN_NOT_FOUND);
}

TEST_F(ModuleTest, ScriptedLoaderFailuresReachTheCaller) {
    // The second load through the kernel fails; name checks (reads) pass by.
    TarnTest::FailKernel(KSI_NODE_system_modules, TARN_FAILURE, {.op = TarnSim::KernelOp::Set, .skip = 1});
    ModuleImpl("nic_tg10").Load("", false);
    EXPECT_EQ(Refusal([] { ModuleImpl("nic_tg25").Load("max_vfs=1", false); }),
              "Unable to load module nic_tg25: Failure");
    ModuleImpl("nic_tg25").Load("max_vfs=1", false);
    EXPECT_EQ(Loaded(), (std::vector<std::string>{"nic_tg10", "nic_tg25"}));
    TarnTest::FailKernel(KSI_NODE_system_modules, TARN_BUSY, {.instance = "nic_tg10", .op = TarnSim::KernelOp::Set});
    EXPECT_EQ(Refusal([] { ModuleImpl("nic_tg10").Unload(); }), "Unable to unload module nic_tg10: Busy");
    EXPECT_TRUE(ModuleImpl("nic_tg10").IsLoaded());
}

TEST_F(ModuleTest, UnloadAndItsRefusal) {
    ModuleImpl m("nic_tg10");
    m.Load("", false);
    m.Unload();
    EXPECT_FALSE(m.IsLoaded());
    EXPECT_EQ(Refusal([&] { m.Unload(); }), "Unable to unload module nic_tg10: Module not loaded");
    // The loggers went with the module.
    TarnCtl::Util::Sysinfo si(KSI_NODE_system_modules_loglevels);
    si.SetInstance("nic_tg10");
    std::vector<std::string> names;
    si.SetThrowOnError(false);
    si.List(names);
    EXPECT_TRUE(names.empty());
}

TEST_F(ModuleTest, OptionStringIsStoredExactlyAndRefusalsChangeNothing) {
    ModuleImpl m("nic_tg10");
    EXPECT_EQ(m.GetOptionString(), "");
    m.SetOptionString("max_vfs=8,8  debug_level=1", false);
    EXPECT_EQ(StoredOptions("nic_tg10"), "max_vfs=8,8  debug_level=1");
    EXPECT_EQ(m.GetOptions(), (std::map<std::string, std::string>{{"debug_level", "1"}, {"max_vfs", "8,8"}}));
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"max_vfs=8,x", "Invalid value 8,x for module parameter max_vfs"},
        {"debug_level=256", "Invalid value 256 for module parameter debug_level"},
        {"interrupt_mode=2147483648", "Invalid value 2147483648 for module parameter interrupt_mode"},
        {"rss_queues=1,-1", "Invalid value 1,-1 for module parameter rss_queues"},
        {"max_vfs=8 typo=1", "Unable to set invalid module parameter typo"},
    };
    for (const auto& [text, message] : refused) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Refusal([&] { m.SetOptionString(text, false); }), message);
        EXPECT_EQ(Refusal([&] { m.AppendOptionString(text, false); }), message);
        EXPECT_EQ(StoredOptions("nic_tg10"), "max_vfs=8,8  debug_level=1");
    }
    // Just inside the limits is stored.
    m.SetOptionString("debug_level=255 interrupt_mode=-2147483648 rss_queues=4294967295", false);
    EXPECT_EQ(StoredOptions("nic_tg10"), "debug_level=255 interrupt_mode=-2147483648 rss_queues=4294967295");
    // A module without an object has none of the fields.
    EXPECT_EQ(ModuleSettings("nic_tg25"), nullptr);
}

TEST_F(ModuleTest, AppendKeepsConfiguredValuesAndAddsNewOnes) {
    ModuleImpl m("nic_tg10");
    m.SetOptionString("max_vfs=8,8", false);
    m.AppendOptionString("max_vfs=2 debug_level=3", false);
    EXPECT_EQ(StoredOptions("nic_tg10"), "debug_level=3 max_vfs=8,8");
    m.SetOptions({{"interrupt_mode", "1"}});
    EXPECT_EQ(StoredOptions("nic_tg10"), "interrupt_mode=1");
    EXPECT_EQ(Refusal([&] { m.SetOptions({{"interrupt_mode", "x"}}); }),
              "Invalid value x for module parameter interrupt_mode");
    EXPECT_EQ(StoredOptions("nic_tg10"), "interrupt_mode=1");
}

TEST_F(ModuleTest, CopyParameters) {
    ModuleImpl source("nic_tg10");
    source.SetOptionString("max_vfs=4,4 debug_level=2", false);
    ModuleImpl target("nic_tg25");
    EXPECT_EQ(Refusal([&] { target.CopyParameters("nosuch", {"max_vfs"}); }), "Unknown module: nosuch");
    EXPECT_EQ(Refusal([&] { target.CopyParameters("nic_tg10", {"max_vfs", "debug_level"}); }),
              "Module 'nic_tg25' does not define parameter 'debug_level'");
    EXPECT_EQ(ModuleSettings("nic_tg25"), nullptr);
    target.CopyParameters("nic_tg10", {"max_vfs"});
    EXPECT_EQ(StoredOptions("nic_tg25"), "max_vfs=4,4");
    EXPECT_EQ(Refusal([&] { target.CopyParameters("nic_tg10", {"max_vfs"}); }),
              "Cannot set parameters for module 'nic_tg25', since parameters are already configured for module.");
}

TEST_F(ModuleTest, EnabledFlag) {
    ModuleImpl m("usb_storage");
    EXPECT_TRUE(m.GetEnabled());
    m.SetEnabled(false);
    EXPECT_FALSE(m.GetEnabled());
    bool enabled = true;
    ASSERT_TRUE(ModuleSettings("usb_storage")->GetValue("enabled", &enabled));
    EXPECT_FALSE(enabled);
    // The options and the flag live in one object and leave each other alone.
    m.SetOptionString("delay_use=5", false);
    EXPECT_FALSE(ModuleImpl("usb_storage").GetEnabled());
    m.SetEnabled(true);
    EXPECT_EQ(StoredOptions("usb_storage"), "delay_use=5");
    EXPECT_EQ(ModuleImpl::GetModulesFromCs(), std::vector<std::string>{"usb_storage"});
}

TEST_F(ModuleTest, BootModeRecordsNothing) {
    Store()->SetBootMode(true);
    ModuleImpl m("nic_tg10");
    m.SetOptionString("max_vfs=2", false);
    m.SetEnabled(false);
    Store()->SetBootMode(false);
    EXPECT_EQ(ModuleSettings("nic_tg10"), nullptr);
}

TEST_F(ModuleTest, OptionsAndEnabledFlagSurviveAReboot) {
    ModuleImpl("nic_tg10").SetOptionString("max_vfs=8,8", false);
    ModuleImpl("usb_storage").SetEnabled(false);
    ModuleImpl("sas_mpt3").SetOptionString("queue_depths=32,64", false);
    TarnSim::Profile::Reboot();
    std::vector<std::string> expected = Platform::BootConfig::Modules();
    expected.erase(std::find(expected.begin(), expected.end(), "usb_storage"));
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(Loaded(), expected);
    EXPECT_STREQ(Record("nic_tg10").options, "max_vfs=8,8");
    EXPECT_STREQ(Record("sas_mpt3").options, "queue_depths=32,64");
    EXPECT_STREQ(Record("nic_e1g").options, "");
    EXPECT_FALSE(ModuleImpl("usb_storage").IsLoaded());
    // Nothing was recorded while booting.
    EXPECT_EQ(StoredOptions("nic_tg10"), "max_vfs=8,8");
    EXPECT_EQ(ModuleImpl::GetModulesFromCs().size(), 3u);
}

TEST_F(ModuleTest, BootLeavesOutOptionsThatNoLongerValidate) {
    auto o = std::make_shared<HaldenConfigStore::ConfigStoreObject>(
        HaldenConfigStore::ConfigStoreObjectId("module_settings", "tarnos", "halden", "nic_tg10"));
    o->SetValue("options", std::string("max_vfs=x"));
    Store()->Write(o);
    Platform::Log::Capture log;
    TarnSim::Profile::Reboot();
    EXPECT_TRUE(log.Contains("ModuleImpl: Failed to validate module \"nic_tg10\" options (\"max_vfs=x\")",
                             Platform::Log::Level::Error));
    EXPECT_STREQ(Record("nic_tg10").options, "");
    EXPECT_EQ(StoredOptions("nic_tg10"), "max_vfs=x");
}

TEST_F(ModuleTest, BootReportsModulesThatFailToLoad) {
    Platform::BootConfig::SetModules({"nic_tg10", "nosuch"});
    TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true);
    Store()->SetBootMode(true);
    std::string why = Refusal([] { ModuleImpl::RestoreAllModules(); });
    Store()->SetBootMode(false);
    EXPECT_EQ(why, "Failed to load 1 of the boot modules");
    EXPECT_EQ(Loaded(), std::vector<std::string>{"nic_tg10"});
}

TEST_F(ModuleTest, ContainingBundle) {
    EXPECT_EQ(ModuleImpl("nic_tg10").GetContainingZIB(), "tarn-nic-drivers");
    EXPECT_EQ(ModuleImpl("nic_tg10").GetZIBAcceptanceLevel(), "certified");
    EXPECT_EQ(ModuleImpl("fc_qlx").GetContainingZIB(), "partner-fc-qlx");
    EXPECT_EQ(ModuleImpl("fc_qlx").GetZIBAcceptanceLevel(), "partner");
    EXPECT_EQ(ModuleImpl("cbrc_filter_2").GetContainingZIB(), "unknown");
    EXPECT_EQ(ModuleImpl("cbrc_filter_2").GetZIBAcceptanceLevel(), "unknown");
    ModTest::WriteFile(Real("/var/db/haldenimg/zibs/aaa-broken.xml"), "<zib><name>x</name");
    Platform::Log::Capture log;
    EXPECT_EQ(ModuleImpl("nic_e1g").GetContainingZIB(), "tarn-nic-drivers");
    EXPECT_TRUE(log.Contains("ModuleImpl: haldencli: Failed to parse XML in '/var/db/haldenimg/zibs/aaa-broken.xml' "
                             "when looking for acceptance level for module 'nic_e1g'"));
}

TEST_F(ModuleTest, Loggers) {
    ModuleImpl m("nic_tg10");
    m.Load("", false);
    EXPECT_EQ(m.GetLogLevelNames(), (std::vector<std::string>{"debug", "io"}));
    m.SetLogLevel("io", 4);
    EXPECT_EQ(m.GetLogLevel("io").level, 4u);
    EXPECT_EQ(m.GetLogLevel("debug").level, 0u);
    auto all = m.GetAllLogLevels();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[1].name, "io");
    EXPECT_EQ(all[1].level, 4u);
    m.SetDefaultLogLevel("io");
    EXPECT_EQ(m.GetLogLevel("io").level, 0u);
    EXPECT_EQ(Refusal([&] { m.SetLogLevel("nosuch", 1); }).rfind("Unable to set log level nosuch of module nic_tg10", 0),
              0u);
}

TEST_F(ModuleTest, LoadedModulesProvideTheirNamespaces) {
    EXPECT_TRUE(ModuleImpl::GetLoadedNamespaces().empty());
    ModuleImpl("nic_tg10").Load("", false);
    ModuleImpl("fc_qlx").Load("", false);
    ModuleImpl("nic_e1g").Load("", false);  // provides none
    auto loaded = ModuleImpl::GetLoadedNamespaces();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded[0].name, "tarn_fc_transport");
    EXPECT_EQ(loaded[0].version, "1.4");
    EXPECT_EQ(loaded[1].name, "tarn_nic_tg");
    EXPECT_EQ(loaded[1].version, "1.0");
    ModuleImpl("nic_tg10").Unload();
    loaded = ModuleImpl::GetLoadedNamespaces();
    ASSERT_EQ(loaded.size(), 1u);
    EXPECT_EQ(loaded[0].name, "tarn_fc_transport");
}

TEST_F(ModuleTest, EveryModuleIsListed) {
    ModuleImpl("nic_tg10").Load("", false);
    auto names = ModuleImpl::GetAllModuleNames();
    EXPECT_EQ(names.size(), 12u);
    EXPECT_NE(std::find(names.begin(), names.end(), "fc_qlx"), names.end());
    EXPECT_TRUE(std::is_sorted(names.begin(), names.end()));
}

}  // namespace
