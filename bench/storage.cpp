// Storage enumeration cost on generated hosts: GetLuns and GetScsiInterfaces
// against a baseline loop of the raw kernel reads those calls need, at 256,
// 1,024 and 4,096 devices with 4 and 8 paths each. Reports time per device and
// the ratio to the baseline measured in the same run.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include <ftw.h>
#include <unistd.h>

#include "ksi/storage.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "sim/profile.h"
#include "storage/storage_info_impl.h"

namespace {

std::map<std::pair<long, long>, std::string> roots;

// One generated host root per (devices, paths), made once and reused.
void UseHost(long devices, long paths) {
    auto key = std::make_pair(devices, paths);
    auto it = roots.find(key);
    if (it != roots.end()) {
        Platform::SetHostRoot(it->second);
        return;
    }
    std::string dir = "/tmp/tarnctl-bench-XXXXXX";
    if (!mkdtemp(dir.data()))
        std::abort();
    Platform::SetHostRoot(dir);
    TarnSim::GenerateOptions options;
    options.values = {{"storage-devices", devices}, {"paths-per-device", paths}, {"storage-adapters", 9}};
    TarnSim::Profile::InitHost(TarnSim::Profile::Generate(options));
    roots[key] = dir;
}

std::vector<std::string> List(uint32_t node) {
    std::vector<std::string> out;
    TarnCtl::Util::Sysinfo si(node);
    si.List(out);
    return out;
}

// What GetLuns needs from the kernel: the device list and each device's info.
size_t RawDeviceReads() {
    size_t n = 0;
    for (const auto& uid : List(KSI_NODE_storage_scsifw_devices)) {
        KsiStorageDeviceInfo info{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_storage_scsifw_devices_info);
        si.SetInstance(uid);
        si.Get(&info, sizeof(info));
        n += info.type == 0;
    }
    return n;
}

// What GetScsiInterfaces needs: the adapter list and each adapter's info.
size_t RawAdapterReads() {
    size_t n = 0;
    for (const auto& name : List(KSI_NODE_storage_scsifw_adapters)) {
        KsiStorageAdapterInfo info{};
        TarnCtl::Util::Sysinfo si(KSI_NODE_storage_scsifw_adapters_info);
        si.SetInstance(name);
        si.Get(&info, sizeof(info));
        n += info.transport != 0;
    }
    return n;
}

// Seconds per call of `fn`, repeated for at least a third of a second.
template <typename Fn>
double SecondsPerCall(Fn&& fn) {
    auto start = std::chrono::steady_clock::now();
    int reps = 0;
    double elapsed = 0;
    do {
        benchmark::DoNotOptimize(fn());
        ++reps;
        elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    } while (elapsed < 0.33 || reps < 3);
    return elapsed / reps;
}

void Report(benchmark::State& state, double libraryTotal, int64_t iterations, double baseline, long devices) {
    double perCall = libraryTotal / static_cast<double>(iterations);
    state.counters["ns_per_device"] = perCall * 1e9 / devices;
    state.counters["baseline_ns_per_device"] = baseline * 1e9 / devices;
    state.counters["ratio_to_baseline"] = perCall / baseline;
}

void BM_GetLuns(benchmark::State& state) {
    const long devices = state.range(0), paths = state.range(1);
    UseHost(devices, paths);
    TarnCtl::Storage::StorageInfoImpl storage;
    storage.GetLuns(false, false);  // the once-a-day stamping happens outside the timing
    const double baseline = SecondsPerCall(RawDeviceReads);
    double total = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto luns = storage.GetLuns(false, false);
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        if (static_cast<long>(luns.size()) != devices)
            state.SkipWithError(("wrong device count " + std::to_string(luns.size())).c_str());
    }
    Report(state, total, state.iterations(), baseline, devices);
}

void BM_GetScsiInterfaces(benchmark::State& state) {
    const long devices = state.range(0), paths = state.range(1);
    UseHost(devices, paths);
    TarnCtl::Storage::StorageInfoImpl storage;
    const double baseline = SecondsPerCall(RawAdapterReads);
    double total = 0;
    for (auto _ : state) {
        auto start = std::chrono::steady_clock::now();
        auto adapters = storage.GetScsiInterfaces();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        benchmark::DoNotOptimize(adapters.size());
    }
    Report(state, total, state.iterations(), baseline, devices);
}

const std::vector<std::vector<int64_t>> kSizes = {{256, 1024, 4096}, {4, 8}};
BENCHMARK(BM_GetLuns)->ArgsProduct(kSizes)->ArgNames({"devices", "paths"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetScsiInterfaces)->ArgsProduct(kSizes)->ArgNames({"devices", "paths"})->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    Platform::Log::SetStderrLevel(Platform::Log::Level::None);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    // The generated hosts are scratch.
    for (const auto& [key, dir] : roots)
        nftw(dir.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
             FTW_DEPTH | FTW_PHYS);
    return 0;
}
