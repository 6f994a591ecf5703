// The one question the hardware area asks the standard switches: is a NIC an
// uplink of one? It reads the switches' recorded configuration (group
// network_vss, key switches, one object per switch, uplinks in "bridge"/"nics"),
// which is what every switch is rebuilt from at boot.
#include "hardware/pci_device_impl.h"

#include <algorithm>

namespace TarnCtl::Hardware {

std::string GetUplinkSwitchOfNic(const std::string& nicName) {
    using namespace HaldenConfigStore;
    auto store = ConfigStore::GetStore(sGlobalNamespace);
    auto filter = std::make_shared<FilterSpecObject>(ConfigStoreObjectId("switches", "network_vss", "halden"));
    for (const auto& sw : store->List(filter)) {
        std::vector<std::string> nics;
        auto bridge = sw->GetSubObject(SubObjectId("bridge"));
        if (bridge && bridge->GetValue("nics", &nics) && std::find(nics.begin(), nics.end(), nicName) != nics.end()) {
            std::string name = sw->GetConfigStoreObjectId().GetInstanceId();
            return name.empty() ? sw->GetConfigStoreObjectId().GetKey() : name;
        }
    }
    return "";
}

}  // namespace TarnCtl::Hardware
