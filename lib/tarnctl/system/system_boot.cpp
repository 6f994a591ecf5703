// Boot steps of the system domain: the host's UUID, maintenance mode, the greeting files, the
// keyboard layout and the read-cache switch come back from the store. Each
// is its own step so that one failure leaves the others to run; the cache
// waits for the kernel modules.
#include "platform/boot.h"
#include "system/system_info_impl.h"

namespace TarnCtl::System {
namespace {

// The host's UUID is made on the first boot and handed to the kernel on every boot.
const Platform::Boot::Step kUuid("system.uuid", 110, [] {
    SystemInfoImpl system;
    system.SetTarnosUuid(true);
    system.SetInceptionTimestamp();
});
const Platform::Boot::Step kMaintenance("system.maintenance", 120, [] { SystemInfoImpl().RestoreMaintenanceMode(); });
const Platform::Boot::Step kWelcome("system.welcome", 130, [] { SystemInfoImpl().RestoreWelcomeMessage(); });
const Platform::Boot::Step kMotd("system.motd", 131, [] { SystemInfoImpl().RestoreMotd(); });
const Platform::Boot::Step kIssue("system.issue", 132, [] { SystemInfoImpl().RestoreIssue(); });
const Platform::Boot::Step kKeyboard("system.keyboard", 140, [] { SystemInfoImpl().RestoreKeyboardLayout(); });
const Platform::Boot::Step kCbrc("system.cbrc", 210, [] { SystemInfoImpl().RestoreCbrc(); });

}  // namespace
}  // namespace TarnCtl::System
