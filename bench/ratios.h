// Shared main of the benchmarks that measure an operation against its raw
// baseline: runs them, prints "ratio A / B = x" for each pair, and removes the
// benchmark's temporary host root.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/hostroot.h"
#include "platform/log.h"

namespace BenchRatios {

// Keeps each benchmark's time per iteration for the ratios, keyed by function
// name so that settings such as a fixed iteration count do not change the key.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            if (r.run_type == Run::RT_Iteration && r.iterations > 0)
                times[r.run_name.function_name] = r.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, double> times;
};

// The whole of a benchmark program's main. `rootPrefix` is the prefix of the
// temporary host root the benchmark made; only such a root is removed.
inline int RunWithRatios(int argc, char** argv,
                         std::initializer_list<std::pair<const char*, const char*>> pairs,
                         const std::string& rootPrefix) {
    Platform::Log::SetStderrLevel(Platform::Log::Level::None);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    for (const auto& [a, b] : pairs) {
        auto ia = reporter.times.find(a), ib = reporter.times.find(b);
        if (ia == reporter.times.end() || ib == reporter.times.end() || ib->second <= 0) continue;
        std::printf("ratio %s / %s = %.2f\n", a, b, ia->second / ib->second);
    }
    benchmark::Shutdown();
    if (!Platform::UsingDefaultHostRoot()) {
        std::error_code ec;
        const std::string& root = Platform::HostRoot();
        if (root.rfind(rootPrefix, 0) == 0) std::filesystem::remove_all(root, ec);
    }
    return 0;
}

}  // namespace BenchRatios
