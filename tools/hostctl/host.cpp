// hostctl host ...: the whole host.
#include <CLI/CLI.hpp>

#include <iostream>

#include "command.h"
#include "host/host_impl.h"
#include "platform/printer.h"

namespace {

HostCtlTool::CommandGroup gHost("host", 0, [](CLI::App& app) {
    auto* host = app.add_subcommand("host", "The whole host");
    host->require_subcommand(1);
    host->add_subcommand("print", "Print every domain of the host")->callback([] {
        TarnCtl::Lib::ObjectPrinter printer(std::cout, HostCtlTool::GlobalOptions().Json()
                                                           ? TarnCtl::Lib::ObjectPrinter::Format::Json
                                                           : TarnCtl::Lib::ObjectPrinter::Format::Text);
        TarnCtl::HostImpl::Print(&printer);
    });
});

}  // namespace
