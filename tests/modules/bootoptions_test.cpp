// Kernel boot options: the generated table, typed sets with their refusals
// (nothing written anywhere on a refusal), the boot configuration and audit
// record of a set, boot mode, rollback of a failed write, the upgrade from the
// host configuration file, and values in effect after a reboot.
#include <sys/stat.h>

#include <set>
#include <sstream>

#include "hostctl/exception.h"
#include "ksi/modules.h"
#include "modules_fixture.h"
#include "platform/bootconfig.h"
#include "platform/configfile.h"
#include "platform/log.h"
#include "platform/printer.h"
#include "sim/faults.h"
#include "system/kernel_opt_impl.h"
#include "system/kernel_opts.h"

using HostCtl::Lib::HostCtlException;
using HostCtl::System::KernelOption;
using TarnCtl::System::KernelOpts;

namespace {

TEST(BootOptionTable, CountsTypesAndLayout) {
    ASSERT_EQ(Ksi::BootOptions::kRowCount, 316u);
    std::map<std::string, int> byType;
    unsigned end = 0;
    for (size_t i = 0; i < Ksi::BootOptions::kRowCount; ++i) {
        const auto& r = Ksi::BootOptions::kRows[i];
        byType[r.type]++;
        // Fields are packed in table order and never overlap.
        EXPECT_EQ(r.offset, end) << r.name;
        end = r.offset + r.size;
    }
    EXPECT_LE(end, Ksi::BootOptions::kRecordSize);
    EXPECT_EQ(byType, (std::map<std::string, int>{{"Bool", 175}, {"uint8", 27}, {"uint32", 104}, {"int64", 8},
                                                  {"string", 2}}));
}

TEST(BootOptionTable, StoreFieldsAreUniqueAndRoundTrip) {
    std::set<std::string> fields, names;
    for (size_t i = 0; i < Ksi::BootOptions::kRowCount; ++i) {
        const auto& r = Ksi::BootOptions::kRows[i];
        EXPECT_TRUE(fields.insert(r.storeField).second) << r.storeField;
        EXPECT_TRUE(names.insert(r.name).second) << r.name;
        const auto* back = Ksi::BootOptions::FindRowByStoreField(r.storeField);
        ASSERT_NE(back, nullptr) << r.storeField;
        EXPECT_STREQ(back->name, r.name);
        EXPECT_EQ(Ksi::BootOptions::FindRow(r.name), &r);
    }
    const std::vector<std::pair<const char*, const char*>> examples = {
        {"maxHTPerCore", "max_HT_per_core"},
        {"createNoMemFakeNUMAnode", "create_no_mem_fake_NUMA_node"},
        {"delayCFOH", "delay_CFOH"},
        {"reliableMemPsodOnAllocFailure", "reliable_mem_psod_on_alloc_failure"},
        {"netNumPortsets", "net_num_portsets"},
        {"hyperthreading", "hyperthreading"},
    };
    for (const auto& [name, field] : examples) EXPECT_STREQ(KernelOpts::GetOptionInfo(name).storeField, field) << name;
    EXPECT_EQ(Ksi::BootOptions::FindRow("nosuch"), nullptr);
    EXPECT_EQ(Ksi::BootOptions::FindRowByStoreField("nosuch"), nullptr);
}

TEST(BootOptionTable, TypesFromTheDescriptor) {
    const std::vector<std::pair<const char*, KernelOption::OptionType>> cases = {
        {"hyperthreading", KernelOption::TYPE_BOOL}, {"logPort", KernelOption::TYPE_UINT8},
        {"netNumPortsets", KernelOption::TYPE_UINT32}, {"com1_mem", KernelOption::TYPE_INT64},
        {"userInitPath", KernelOption::TYPE_STRING},
    };
    for (const auto& [name, type] : cases) EXPECT_EQ(KernelOpts::GetOptionType(name), type) << name;
    Ksi::BootOptions::Row odd{"x", "Bool", "atoi", "", "", true, "x", 0, 1};
    EXPECT_EQ(KernelOpts::GetOptionType(odd), KernelOption::TYPE_STRING);
    odd.type = "int32";
    EXPECT_EQ(KernelOpts::GetOptionType(odd), KernelOption::TYPE_INT32);
    const std::vector<std::pair<KernelOption::OptionType, const char*>> names = {
        {KernelOption::TYPE_UNKNOWN, "Unknown"}, {KernelOption::TYPE_STRING, "string"},
        {KernelOption::TYPE_BOOL, "Bool"},       {KernelOption::TYPE_INT32, "int32"},
        {KernelOption::TYPE_UINT8, "uint8"},     {KernelOption::TYPE_UINT32, "uint32"},
        {KernelOption::TYPE_INT64, "int64"},
    };
    for (const auto& [type, text] : names) EXPECT_EQ(KernelOpts::GetOptionTypeString(type), text);
    EXPECT_EQ(KernelOpts::GetOptionNames().size(), 316u);
    EXPECT_EQ(KernelOpts::GetOptionNames().front(), "netPreemptionEnabled");
}

class BootOptionTest : public ModTest::ModulesHostTest {
protected:
    static std::string KernelOptLine() {
        return Platform::BootConfig::FormatKernelOptions(Platform::BootConfig::KernelOptions());
    }
    template <typename F>
    std::string Refusal(F f) {
        std::string before = KernelOptLine();
        auto stored = BootOptions();
        std::string data = stored ? stored->GetData() : "(none)";
        size_t audits = Platform::Audit::ReadLog().size();
        std::string why = "(accepted)";
        try {
            f();
        } catch (const HostCtlException& e) {
            why = e.what();
        }
        // A refusal writes nothing: not the boot configuration, not the store, no audit.
        EXPECT_EQ(KernelOptLine(), before);
        auto after = BootOptions();
        EXPECT_EQ(after ? after->GetData() : "(none)", data);
        EXPECT_EQ(Platform::Audit::ReadLog().size(), audits);
        return why;
    }
};

TEST_F(BootOptionTest, SetRecordsForTheNextBootAndAudits) {
    KernelOpts::SetOption("hyperthreading", false);
    KernelOpts::SetOption("logPort", 255L);
    KernelOpts::SetOption("userInitPath", std::string("/bin/my init"));
    bool b = true;
    long n = 0;
    std::string s;
    auto o = BootOptions();
    ASSERT_TRUE(o);
    ASSERT_TRUE(o->GetValue("hyperthreading", &b));
    EXPECT_FALSE(b);
    ASSERT_TRUE(o->GetValue("log_port", &n));
    EXPECT_EQ(n, 255);
    ASSERT_TRUE(o->GetValue("user_init_path", &s));
    EXPECT_EQ(s, "/bin/my init");
    EXPECT_EQ(KernelOptLine(), "hyperthreading=FALSE logPort=255 userInitPath=\"/bin/my init\"");
    auto audit = Platform::Audit::ReadLog();
    ASSERT_EQ(audit.size(), 3u);
    EXPECT_EQ(audit[0].event, "settings.kernel.set");
    EXPECT_EQ(audit[0].object, "hyperthreading");
    EXPECT_EQ(audit[0].result, 1);
    EXPECT_EQ(audit[0].items, (std::vector<std::pair<std::string, std::string>>{{"value", "FALSE"}}));
    EXPECT_EQ(audit[1].items, (std::vector<std::pair<std::string, std::string>>{{"value", "255"}}));
    // The run-time value changes only with the next boot.
    EXPECT_TRUE(KernelOpts::GetRuntimeValueBool("hyperthreading"));
    auto opt = KernelOpts::GetOption("hyperthreading");
    EXPECT_EQ(opt->GetValueString(), "FALSE");
    EXPECT_EQ(opt->GetRuntimeValueString(), "TRUE");
    EXPECT_EQ(opt->GetDefaultValueString(), "TRUE");
}

TEST_F(BootOptionTest, RefusalsChangeNothing) {
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("nosuch", true); }), "Invalid Key Name: nosuch");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("hyperthreading", 1L); }),
              "Invalid type 'int64' for key (hyperthreading) 'Bool'");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("logPort", std::string("3")); }),
              "Invalid type 'string' for key (logPort) 'uint8'");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("userInitPath", true); }),
              "Invalid type 'Bool' for key (userInitPath) 'string'");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("BOOTIF", 1L); }), "Kernel option cannot be saved: BOOTIF");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("logPort", 256L); }),
              "Invalid value 256 for key (logPort): must be between 0 and 255");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("logPort", -1L); }),
              "Invalid value -1 for key (logPort): must be between 0 and 255");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("netNumPortsets", 4294967296L); }),
              "Invalid value 4294967296 for key (netNumPortsets): must be between 0 and 4294967295");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("netNumPortsets", -1L); }),
              "Invalid value -1 for key (netNumPortsets): must be between 0 and 4294967295");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("userInitPath", std::string(257, 'a')); }),
              "Invalid value for key (userInitPath): longer than 256 bytes");
    EXPECT_EQ(Refusal([] { KernelOpts::SetOption("userInitPath", "a\"b"); }),
              "Invalid value for key (userInitPath): contains a double quote or a line break");
}

TEST_F(BootOptionTest, ValuesAtTheLimitsAreAccepted) {
    KernelOpts::SetOption("logPort", 0L);
    KernelOpts::SetOption("tty1Port", 255L);
    KernelOpts::SetOption("netNumPortsets", 4294967295L);
    KernelOpts::SetOption("com1_mem", LONG_MIN);
    KernelOpts::SetOption("poisonMarker", LONG_MAX);
    KernelOpts::SetOption("userInitPath", std::string(256, 'a'));
    EXPECT_EQ(Platform::Audit::ReadLog().size(), 6u);
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelOpts::GetOption("tty1Port")->GetRuntimeValueString(), "255");
    EXPECT_EQ(KernelOpts::GetOption("netNumPortsets")->GetRuntimeValueString(), "4294967295");
    EXPECT_EQ(KernelOpts::GetOption("com1_mem")->GetRuntimeValueString(), std::to_string(LONG_MIN));
    EXPECT_EQ(KernelOpts::GetOption("poisonMarker")->GetRuntimeValueString(), std::to_string(LONG_MAX));
    EXPECT_EQ(KernelOpts::GetOption("userInitPath")->GetRuntimeValueString(), std::string(256, 'a'));
}

TEST_F(BootOptionTest, InEffectAfterAReboot) {
    EXPECT_TRUE(KernelOpts::GetRuntimeValueBool("hyperthreading"));
    KernelOpts::GetOption("hyperthreading");
    auto typed = KernelOpts::GetOption("netNumPortsets");
    auto* u32 = dynamic_cast<HostCtl::System::KernelUint32Option*>(typed.get());
    ASSERT_NE(u32, nullptr);
    EXPECT_EQ(u32->GetRuntimeValue(), 1024u);
    u32->SetValue(2048);
    EXPECT_EQ(u32->GetValue(), 2048u);
    KernelOpts::SetOption("hyperthreading", false);
    TarnSim::Profile::Reboot();
    EXPECT_FALSE(KernelOpts::GetRuntimeValueBool("hyperthreading"));
    EXPECT_EQ(KernelOpts::GetCurrentValues().at("netNumPortsets"), "2048");
    // The delta lists exactly the options configured off their default.
    auto delta = KernelOpts::GetAllOptions(false);
    ASSERT_EQ(delta.size(), 2u);
    EXPECT_EQ(delta[0]->GetName(), "hyperthreading");
    EXPECT_EQ(delta[1]->GetName(), "netNumPortsets");
    EXPECT_EQ(KernelOpts::GetAllOptions(true).size(), 316u);
    EXPECT_EQ(Refusal([] { KernelOpts::GetRuntimeValueBool("logPort"); }),
              "Invalid type 'Bool' for key (logPort) 'uint8'");
}

TEST_F(BootOptionTest, BootModeWritesTheBootConfigurationOnly) {
    Store()->SetBootMode(true);
    KernelOpts::SetOption("vga", false);
    Store()->SetBootMode(false);
    EXPECT_EQ(BootOptions(), nullptr);
    EXPECT_TRUE(Platform::Audit::ReadLog().empty());
    EXPECT_EQ(KernelOptLine(), "vga=FALSE");
}

TEST_F(BootOptionTest, FailedBootConfigurationWriteLeavesTheStore) {
    KernelOpts::SetOption("vga", false);
    // A directory where the file should be: the replacing rename fails.
    const std::string cfg = Real(Platform::BootConfig::kPath);
    ASSERT_EQ(::rename(cfg.c_str(), (cfg + ".saved").c_str()), 0);
    ASSERT_EQ(::mkdir(cfg.c_str(), 0755), 0);
    auto before = BootOptions()->GetData();
    EXPECT_THROW(KernelOpts::SetOption("hyperthreading", false), HostCtlException);
    EXPECT_EQ(BootOptions()->GetData(), before);
    EXPECT_EQ(Platform::Audit::ReadLog().size(), 1u);
}

TEST_F(BootOptionTest, FailedStoreWriteOrCommitPutsTheBootConfigurationBack) {
    KernelOpts::SetOption("vga", false);
    for (auto op : {TarnSim::StoreFault::Op::Write, TarnSim::StoreFault::Op::Commit}) {
        SCOPED_TRACE(TarnSim::StoreFaultOpName(op));
        TarnSim::StoreFault f;
        f.op = op;
        TarnSim::InjectStoreFault(f);
        EXPECT_NE(Refusal([] { KernelOpts::SetOption("hyperthreading", false); }), "(accepted)");
        EXPECT_EQ(KernelOptLine(), "vga=FALSE");
    }
    TarnSim::Profile::Reboot();
    EXPECT_TRUE(KernelOpts::GetRuntimeValueBool("hyperthreading"));
    EXPECT_FALSE(KernelOpts::GetRuntimeValueBool("vga"));
}

TEST_F(BootOptionTest, KernelIgnoresBootValuesOutsideTheType) {
    Platform::BootConfig::SetModules({});
    std::string cfg = ModTest::ReadFile(Real(Platform::BootConfig::kPath));
    ModTest::WriteFile(Real(Platform::BootConfig::kPath),
                       cfg + "kernelopt=logPort=256 tty1Port=7 hyperthreading=maybe nosuch=1 com1_port=-1\n");
    Platform::Log::Capture log;
    TarnSim::Profile::Reboot();
    auto now = KernelOpts::GetCurrentValues();
    EXPECT_EQ(now.at("logPort"), "0");
    EXPECT_EQ(now.at("tty1Port"), "7");
    EXPECT_EQ(now.at("hyperthreading"), "TRUE");
    EXPECT_EQ(now.at("com1_port"), "1016");
    EXPECT_TRUE(log.Contains("TarnSim: Ignoring boot option logPort: invalid value '256'"));
    EXPECT_TRUE(log.Contains("TarnSim: Ignoring unknown boot option nosuch"));
    // The boot rewrote the options from the store: the hand edits are gone
    // for the next boot.
    EXPECT_EQ(KernelOptLine(), "");
    KernelOpts::SetOption("vga", false);
    ModTest::WriteFile(Real(Platform::BootConfig::kPath), "modules=nic_tg10\nkernelopt=vga=TRUE logPort=9\n");
    TarnSim::Profile::Reboot();
    EXPECT_EQ(KernelOptLine(), "vga=FALSE");
    EXPECT_EQ(Platform::BootConfig::Modules(), std::vector<std::string>{"nic_tg10"});
}

TEST_F(BootOptionTest, UpgradeMovesOptionsFromTheHostConfigurationFile) {
    {
        TarnCtl::Config::SynchronizedConfigFile f;
        f->SetValue("/tarnos/hyperthreading", std::string("FALSE"));
        f->SetValue("/tarnos/netNumPortsets", std::string("512"));
        f->SetValue("/tarnos/logPort", std::string("300"));
        f->SetValue("/tarnos/nosuch", std::string("1"));
        f->SetValue("/system/uuid", std::string("kept"));
        f.Write();
    }
    Platform::Log::Capture log;
    KernelOpts::ConfigStoreUpgrade();
    auto o = BootOptions();
    ASSERT_TRUE(o);
    EXPECT_EQ(o->GetFieldNames(), (std::vector<std::string>{"hyperthreading", "net_num_portsets"}));
    EXPECT_EQ(KernelOptLine(), "hyperthreading=FALSE netNumPortsets=512");
    EXPECT_TRUE(log.Contains("KernelOpts: Got configuration: hyperthreading=FALSE logPort=300 netNumPortsets=512 nosuch=1"));
    EXPECT_TRUE(log.Contains("KernelOpts: Could not get value for 'logPort': Invalid value 300 for key (logPort): "
                             "must be between 0 and 255"));
    EXPECT_TRUE(log.Contains("KernelOpts: Could not get value for 'nosuch': Invalid Key Name: nosuch"));
    EXPECT_TRUE(log.Contains("KernelOpts: Writing final configuration: "));
    TarnCtl::Config::SynchronizedConfigFile f;
    EXPECT_TRUE(f->ValuesBelow("/tarnos").empty());
    std::string uuid;
    EXPECT_TRUE(f->GetValue("/system/uuid", &uuid));
    // Nothing left to move: a second run changes nothing.
    auto data = o->GetData();
    KernelOpts::ConfigStoreUpgrade();
    EXPECT_EQ(BootOptions()->GetData(), data);
}

TEST_F(BootOptionTest, OptionsPrintTheirRecord) {
    KernelOpts::SetOption("logPort", 3L);
    std::ostringstream out;
    TarnCtl::Lib::ObjectPrinter printer(out);
    KernelOpts::GetOption("logPort")->Print(&printer);
    printer.Finish();
    std::string text = out.str();
    EXPECT_NE(text.find("Kernel Uint8 Option"), std::string::npos) << text;
    EXPECT_NE(text.find("Configured Value"), std::string::npos) << text;
    std::ostringstream out2;
    TarnCtl::Lib::ObjectPrinter printer2(out2);
    KernelOpts::GetOption("vga")->Print(&printer2);
    printer2.Finish();
    EXPECT_NE(out2.str().find("Kernel Bool Option"), std::string::npos);
    EXPECT_NE(out2.str().find("TRUE"), std::string::npos);
}

TEST(BootConfigText, QuotedValuesRoundTrip) {
    Platform::BootConfig::OptionList list = {{"a", "1"}, {"b", "x y"}, {"c", ""}};
    std::string line = Platform::BootConfig::FormatKernelOptions(list);
    EXPECT_EQ(line, "a=1 b=\"x y\" c=\"\"");
    EXPECT_EQ(Platform::BootConfig::ParseKernelOptions(line), list);
    EXPECT_EQ(Platform::BootConfig::ParseKernelOptions("  bare  k=v "),
              (Platform::BootConfig::OptionList{{"bare", ""}, {"k", "v"}}));
}

}  // namespace
