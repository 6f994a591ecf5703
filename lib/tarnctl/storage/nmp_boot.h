// The multipathing boot step, callable on its own (benchmarks, tools).
#pragma once

namespace TarnCtl::Storage::Nmp {

// Replays the native plug-in's recorded configuration: SATP default PSPs and
// claim rules, each present NMP device's PSP, settings and SATP options,
// then recorded path states and path option strings. Logs failures.
void RestoreMultipathing();

}  // namespace TarnCtl::Storage::Nmp
