// Every setter of modules and boot options while the store reports boot mode:
// the values are replayed (the boot configuration follows for boot options)
// and nothing is recorded in the store or audited.
#include <functional>

#include "modules_fixture.h"
#include "platform/bootconfig.h"
#include "system/kernel_opt_impl.h"
#include "system/kernel_opts.h"
#include "system/module_impl.h"

using TarnCtl::System::KernelOpts;
using TarnCtl::System::ModuleImpl;

namespace {

struct BootCase {
    const char* what;
    std::function<void()> set;
    const char* kernelopt;  // the boot configuration's options afterwards
};

class BootModeTest : public ModTest::ModulesHostTest {};

TEST_F(BootModeTest, SettersRecordNothing) {
    const std::vector<BootCase> cases = {
        {"module option string", [] { ModuleImpl("nic_tg10").SetOptionString("max_vfs=2", false); }, ""},
        {"module option append", [] { ModuleImpl("nic_tg10").AppendOptionString("debug_level=1", false); }, ""},
        {"module option map", [] { ModuleImpl("nic_tg25").SetOptions({{"max_vfs", "1"}}); }, ""},
        {"module disabled", [] { ModuleImpl("usb_storage").SetEnabled(false); }, ""},
        {"module copy", [] { ModuleImpl("nic_tg25").CopyParameters("nic_tg10", {"max_vfs"}); }, ""},
        {"Bool option", [] { KernelOpts::SetOption("vga", false); }, "vga=FALSE"},
        {"uint8 option", [] { KernelOpts::SetOption("logPort", 7L); }, "logPort=7"},
        {"uint32 option", [] { KernelOpts::SetOption("netNumPortsets", 64L); }, "netNumPortsets=64"},
        {"int64 option", [] { KernelOpts::SetOption("com1_mem", -5L); }, "com1_mem=-5"},
        {"string option", [] { KernelOpts::SetOption("userInitPath", "/bin/x"); }, "userInitPath=/bin/x"},
        {"typed option object",
         [] {
             auto o = KernelOpts::GetOption("hyperthreading");
             dynamic_cast<HostCtl::System::KernelBoolOption&>(*o).SetValue(false);
         },
         "hyperthreading=FALSE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HaldenConfigStore::ConfigStoreObject empty(KernelOpts::StoreId());
        HaldenConfigStore::UpdateKernelOptions(empty);
        Store()->SetBootMode(true);
        c.set();
        Store()->SetBootMode(false);
        EXPECT_EQ(Platform::BootConfig::FormatKernelOptions(Platform::BootConfig::KernelOptions()), c.kernelopt);
        EXPECT_TRUE(Store()->ListIds("tarnos").empty());
        EXPECT_TRUE(Platform::Audit::ReadLog().empty());
    }
}

}  // namespace
