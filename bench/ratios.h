// How every benchmark program reports its comparisons, and the shared main of
// those that measure an operation against a raw baseline in the same run.
//
// Each comparison is one line of its own on stdout:
//
//   RATIO <id> <value> | <what is measured> | <baseline>
//
// e.g. "RATIO adv.list 1.84 | Advanced options: list all options with values
// (bench_adv) | raw kernel record reads". <id> has no spaces; <value> is the
// library's time over the baseline's, or the baseline's over the library's
// when <what> says "speed-up". bench/report.cmake (`make bench`) runs every
// bench_* program, collects these lines and writes the README's table, so a
// new benchmark joins the table by printing them (PrintRatio, or one of the
// reporters below).
#pragma once

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/hostroot.h"
#include "platform/log.h"

namespace BenchRatios {

inline void PrintRatio(const std::string& id, double value, const std::string& what, const std::string& baseline) {
    std::printf("RATIO %s %.2f | %s | %s\n", id.c_str(), value, what.c_str(), baseline.c_str());
    std::fflush(stdout);
}

// The process's CPU time in seconds. The machine these run on is shared, so
// wall time mostly measures the wait for a core; CPU time measures the work.
inline double CpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// CPU seconds per call of `fn` over one batch of at least `minSeconds` (and
// at least one call).
template <typename Fn>
inline double BatchSecondsPerCall(Fn&& fn, double minSeconds) {
    const double start = CpuSeconds();
    int reps = 0;
    double elapsed = 0;
    do {
        benchmark::DoNotOptimize(fn());
        ++reps;
        elapsed = CpuSeconds() - start;
    } while (elapsed < minSeconds);
    return elapsed / reps;
}

// The shared machine adds noise to any one batch; a batch cannot run faster
// than its work allows, so the least of several is the cost of the work.
// The sides compared take turns, so a busy spell hits all of them alike.
constexpr int kRounds = 5;
constexpr double kBatchSeconds = 0.06;

// CPU seconds per call of each of `fns`: the least of kRounds interleaved
// batches, after one warming call each (first touches of a fresh host).
inline std::vector<double> LeastSecondsPerCall(const std::vector<std::function<void()>>& fns) {
    for (const auto& fn : fns)
        fn();
    std::vector<double> best(fns.size(), 0);
    for (int round = 0; round < kRounds; ++round)
        for (size_t i = 0; i < fns.size(); ++i) {
            const double t = BatchSecondsPerCall([&] { return (fns[i](), 0); }, kBatchSeconds);
            best[i] = round == 0 ? t : std::min(best[i], t);
        }
    return best;
}

// One comparison of two benchmark functions of the program. All five texts
// are required (a bare pair of names means the older form below).
struct Ratio {
    Ratio(const char* library, const char* baseline, const char* id, const char* what, const char* baselineText,
          bool speedUp = false)
        : library(library), baseline(baseline), id(id), what(what), baselineText(baselineText), speedUp(speedUp) {}
    const char* library;       // benchmark function name
    const char* baseline;      // benchmark function name
    const char* id;            // RATIO id
    const char* what;          // what the library side does
    const char* baselineText;  // what the baseline does
    bool speedUp;              // report baseline / library instead
};

// Keeps each benchmark's seconds per iteration (wall and CPU), keyed by
// function name so that settings such as a fixed iteration count or
// UseRealTime do not change the key, and each run's counters by run name.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs) {
            if (r.run_type != Run::RT_Iteration || r.iterations <= 0)
                continue;
            const double unit = benchmark::GetTimeUnitMultiplier(r.time_unit);
            wall[r.run_name.function_name] = r.GetAdjustedRealTime() / unit;
            cpu[r.run_name.function_name] = r.GetAdjustedCPUTime() / unit;
            for (const auto& [name, counter] : r.counters)
                counters[r.benchmark_name()][name] = counter.value;
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // Prints one RATIO line per comparison whose two sides both ran.
    void PrintRatios(const std::vector<Ratio>& ratios, bool useCpuTime = false) const {
        const auto& times = useCpuTime ? cpu : wall;
        for (const auto& r : ratios) {
            auto a = times.find(r.library), b = times.find(r.baseline);
            if (a == times.end() || b == times.end() || a->second <= 0 || b->second <= 0)
                continue;
            PrintRatio(r.id, r.speedUp ? b->second / a->second : a->second / b->second, r.what, r.baselineText);
        }
    }
    // One RATIO line per run that carries `counter` (a ratio the benchmark
    // worked out itself): id = idPrefix + run name.
    void PrintCounterRatios(const std::string& counter, const std::string& idPrefix, const std::string& what,
                            const std::string& baselineText) const {
        for (const auto& [run, values] : counters) {
            auto it = values.find(counter);
            if (it != values.end())
                PrintRatio(idPrefix + run, it->second, what + " " + run, baselineText);
        }
    }

    std::map<std::string, double> wall, cpu;
    std::map<std::string, std::map<std::string, double>> counters;
};

// The whole of a benchmark program's main. `rootPrefix` is the prefix of the
// temporary host root the benchmark made; only such a root is removed.
// `afterRuns` prints what the program worked out itself, after the ratios.
inline int RunWithRatios(int argc, char** argv, const std::vector<Ratio>& ratios, const std::string& rootPrefix,
                         bool useCpuTime = false, const std::function<void()>& afterRuns = {}) {
    Platform::Log::SetStderrLevel(Platform::Log::Level::None);
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios(ratios, useCpuTime);
    if (afterRuns)
        afterRuns();
    benchmark::Shutdown();
    if (!rootPrefix.empty() && !Platform::UsingDefaultHostRoot()) {
        std::error_code ec;
        const std::string& root = Platform::HostRoot();
        if (root.rfind(rootPrefix, 0) == 0)
            std::filesystem::remove_all(root, ec);
    }
    return 0;
}

inline int RunWithRatios(int argc, char** argv, std::initializer_list<Ratio> ratios, const std::string& rootPrefix,
                         bool useCpuTime = false, const std::function<void()>& afterRuns = {}) {
    return RunWithRatios(argc, argv, std::vector<Ratio>(ratios), rootPrefix, useCpuTime, afterRuns);
}

// Older form: pairs of function names; the RATIO id and texts are the names.
inline int RunWithRatios(int argc, char** argv,
                         std::initializer_list<std::pair<const char*, const char*>> pairs,
                         const std::string& rootPrefix) {
    static std::vector<std::string> ids;  // the Ratio entries point into it
    std::vector<Ratio> ratios;
    for (const auto& [a, b] : pairs)
        ids.push_back(std::string(a) + "/" + b);
    size_t i = 0;
    for (const auto& [a, b] : pairs)
        ratios.emplace_back(a, b, ids[i++].c_str(), a, b);
    return RunWithRatios(argc, argv, ratios, rootPrefix);
}

}  // namespace BenchRatios
