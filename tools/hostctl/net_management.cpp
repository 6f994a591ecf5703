// hostctl net management show: the host's management interface (the kernel
// NIC the management chain picks), its address and the options that follow it.
#include <CLI/CLI.hpp>

#include "command.h"
#include "hostctl/host.h"
#include "hostctl/network.h"
#include "net_group.h"
#include "output.h"

namespace {

using namespace HostCtl::Network;

void ManagementShow() {
    auto network = HostCtl::HostFactory::GetHost()->GetNetworkInfo();
    auto nic = network->GetManagementInterface();
    if (!nic) throw HostCtlTool::CommandFailure{"No management interface: the host has no kernel NIC"};
    HostCtlTool::Record r;
    r.Add("Interface", nic->GetInterfaceName())
        .Add("Portgroup", nic->GetPortGroupName())
        .Add("Netstack", nic->GetNetstackInstanceKey())
        .Add("IPv4 Address", nic->GetIpConfig().GetIpv4Address().GetStringAddress())
        .Add("MAC Address", nic->GetMacAddress().GetStringAddress())
        .Add("Uplink", network->GetPnicFromInterface(nic->GetInterfaceName()))
        .Add("Tagged", network->GetTaggedManagementInterface());
    r.Print();
}

HostCtlTool::CommandGroup gManagement("net.management", 66, [](CLI::App& app) {
    CLI::App* net = HostCtlTool::NetGroup(app);
    CLI::App* m = net->add_subcommand("management", "The host's management interface");
    m->require_subcommand(1);
    m->add_subcommand("show", "Show the management interface (tagging one when none is)")->callback(ManagementShow);
});

}  // namespace
