// Storage enumeration cost on generated hosts, each operation against a loop
// of the raw kernel (and store) work it needs, measured in the same run:
// GetLuns at 256, 1,024, 4,096 and 16,384 devices (also against one pread of
// the same bytes from a file per device, what a real kernel crossing costs) and
// GetScsiInterfaces at 256, 1,024 and 4,096 devices; every path
// and every device's multipathing configuration at 256, 4,096 and 16,384
// devices; the boot replay of 4,096 devices' recorded policies. Each reports
// its cost per device or per path and the ratio to its baseline, each side
// the least CPU time of several batches taken in turns; the end of the run
// prints how the per-unit cost changes from the smallest host to the largest
// (flat is 1.0).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <unistd.h>

#include "ksi/nmp.h"
#include "ksi/storage.h"
#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "sim/profile.h"
#include "storage/nmp_boot.h"
#include "storage/nmp_device_config_impl.h"
#include "storage/storage_info_impl.h"
#include "storage/storage_util.h"

#include "ratios.h"

namespace {
using BenchRatios::CpuSeconds;
using BenchRatios::LeastSecondsPerCall;

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

// The device records GetLuns reads, written back to back into a file under
// the host root: one pread per device is what a real kernel crossing of the
// same bytes costs.
class PreadBaseline {
public:
    explicit PreadBaseline(size_t devices) : _devices(devices) {
        const std::string path = Platform::HostRoot() + "/bench-device-records";
        _fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        std::string bytes;
        for (const auto& uid : List(KSI_NODE_storage_scsifw_devices)) {
            KsiStorageDeviceInfo info{};
            TarnCtl::Util::Sysinfo si(KSI_NODE_storage_scsifw_devices_info);
            si.SetInstance(uid);
            si.Get(&info, sizeof(info));
            bytes.append(reinterpret_cast<const char*>(&info), sizeof(info));
        }
        if (_fd < 0 || ::pwrite(_fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size()))
            std::abort();
    }
    ~PreadBaseline() { ::close(_fd); }
    size_t operator()() const {
        size_t n = 0;
        for (size_t i = 0; i < _devices; ++i) {
            KsiStorageDeviceInfo info{};
            n += ::pread(_fd, &info, sizeof(info), static_cast<off_t>(i * sizeof(info))) == sizeof(info) &&
                 info.type == 0;
        }
        return n;
    }

private:
    size_t _devices;
    int _fd = -1;
};

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

// Per-unit cost of each measured run by benchmark, unit and paths per device,
// then devices; the last run of a configuration is the one that counts.
struct UnitCost {
    double seconds = 0;  // library, per unit
    double ratio = 0;    // library / baseline
};
std::map<std::string, std::map<long, UnitCost>> perUnit;

// The body every benchmark here shares: the library call (`library` returns
// "" or what went wrong) and its baseline, plus any `others` (further
// baselines, whose CPU seconds per call come back in that order), timed in
// interleaved batches, least per call of each; the benchmark's own loop runs
// the library call as well and counts as one more library batch. Reports CPU
// ns per unit for library and baseline and their ratio.
template <typename Baseline, typename Library>
std::vector<double> Measure(benchmark::State& state, const char* name, const char* unit, long units,
                            Baseline&& baseline, Library&& library,
                            const std::vector<std::function<void()>>& others = {}) {
    std::string error;
    std::vector<std::function<void()>> sides = {[&] {
                                                    std::string e = library();
                                                    if (error.empty())
                                                        error = std::move(e);
                                                },
                                                [&] { benchmark::DoNotOptimize(baseline()); }};
    sides.insert(sides.end(), others.begin(), others.end());
    std::vector<double> least = LeastSecondsPerCall(sides);
    double total = 0;
    for (auto _ : state) {
        const double start = CpuSeconds();
        std::string e = library();
        total += CpuSeconds() - start;
        if (error.empty())
            error = std::move(e);
    }
    if (!error.empty()) {
        state.SkipWithError(error.c_str());
        return {};
    }
    const double perCall = std::min(least[0], total / static_cast<double>(state.iterations()));
    const double base = least[1];
    const double n = static_cast<double>(units);
    state.counters[std::string("ns_per_") + unit] = perCall * 1e9 / n;
    state.counters[std::string("baseline_ns_per_") + unit] = base * 1e9 / n;
    state.counters["ratio_to_baseline"] = perCall / base;
    perUnit[std::string(name) + "." + unit + "." + std::to_string(state.range(1)) + "paths"][state.range(0)] = {
        perCall / n, perCall / base};
    return {least.begin() + 2, least.end()};
}

void BM_GetLuns(benchmark::State& state) {
    const long devices = state.range(0);
    UseHost(devices, state.range(1));
    TarnCtl::Storage::StorageInfoImpl storage;
    storage.GetLuns(false, false);  // the once-a-day stamping happens outside the timing
    const PreadBaseline pread(static_cast<size_t>(devices));
    const std::vector<double> others = Measure(
        state, "GetLuns", "device", devices, RawDeviceReads,
        [&]() -> std::string {
            auto luns = storage.GetLuns(false, false);
            return static_cast<long>(luns.size()) == devices ? ""
                                                             : "wrong device count " + std::to_string(luns.size());
        },
        {[&] { benchmark::DoNotOptimize(pread()); }});
    if (others.empty())
        return;
    const double preadSeconds = others[0];
    const double perCall = state.counters["ns_per_device"] * static_cast<double>(devices) * 1e-9;
    state.counters["pread_ns_per_device"] = preadSeconds * 1e9 / static_cast<double>(devices);
    state.counters["ratio_to_pread"] = perCall / preadSeconds;
}

void BM_GetScsiInterfaces(benchmark::State& state) {
    const long devices = state.range(0);
    UseHost(devices, state.range(1));
    TarnCtl::Storage::StorageInfoImpl storage;
    Measure(state, "GetScsiInterfaces", "device", devices, RawAdapterReads, [&]() -> std::string {
        benchmark::DoNotOptimize(storage.GetScsiInterfaces().size());
        return "";
    });
}

const std::vector<std::vector<int64_t>> kSizes = {{256, 1024, 4096}, {4, 8}};
const std::vector<std::vector<int64_t>> kLunSizes = {{256, 1024, 4096, 16384}, {4, 8}};
BENCHMARK(BM_GetLuns)->ArgsProduct(kLunSizes)->ArgNames({"devices", "paths"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GetScsiInterfaces)->ArgsProduct(kSizes)->ArgNames({"devices", "paths"})->Unit(benchmark::kMicrosecond);

// ---- Paths and multipathing ------------------------------------------------------------
// Listing every path and every device's multipathing configuration against the
// raw kernel reads they need, per path / per device, at 256, 4,096 and 16,384
// devices; and the boot replay of 4,096 devices' recorded policies against the
// raw store read and kernel writes it needs.

// What a path listing needs: the path list, each path's info, UID and state.
size_t RawPathReads() {
    size_t n = 0;
    for (const auto& name : List(KSI_NODE_storage_scsifw_paths)) {
        KsiStoragePathInfo info{};
        KsiStoragePathUid uid{};
        KsiStorageValue state{};
        TarnCtl::Util::Sysinfo a(KSI_NODE_storage_scsifw_paths_info);
        a.SetInstance(name);
        a.Get(&info, sizeof(info));
        TarnCtl::Util::Sysinfo b(KSI_NODE_storage_scsifw_paths_pathUid);
        b.SetInstance(name);
        b.Get(&uid, sizeof(uid));
        TarnCtl::Util::Sysinfo c(KSI_NODE_storage_scsifw_paths_state);
        c.SetInstance(name);
        c.Get(&state, sizeof(state));
        n += state.value == 0;
    }
    return n;
}

void BM_ListPaths(benchmark::State& state) {
    const long devices = state.range(0), paths = state.range(1);
    UseHost(devices, paths);
    TarnCtl::Storage::StorageInfoImpl storage;
    Measure(state, "ListPaths", "path", devices * paths, RawPathReads, [&]() -> std::string {
        long listed = 0;
        for (auto& p : storage.GetScsiPaths()) {
            benchmark::DoNotOptimize(p->GetIdentifier());
            benchmark::DoNotOptimize(p->GetMultipathPluginIdentifier());
            benchmark::DoNotOptimize(p->GetState());
            ++listed;
        }
        return listed == devices * paths ? "" : "wrong path count " + std::to_string(listed);
    });
}

// What a multipathing listing needs: the device list, each device's info
// (its plug-in), its NMP record and its working paths.
size_t RawNmpReads() {
    size_t n = 0;
    for (const auto& uid : List(KSI_NODE_storage_scsifw_devices)) {
        KsiStorageDeviceInfo info{};
        TarnCtl::Util::Sysinfo a(KSI_NODE_storage_scsifw_devices_info);
        a.SetInstance(uid);
        a.Get(&info, sizeof(info));
        KsiNmpDeviceInfo nmp{};
        TarnCtl::Util::Sysinfo b(KSI_NMP_NODE_DEVICE);
        b.SetModule(kNmpModule);
        b.SetInstance(uid);
        b.Get(&nmp, sizeof(nmp));
        std::vector<std::string> working;
        TarnCtl::Util::Sysinfo c(KSI_NMP_NODE_WORKING_PATHS);
        c.SetModule(kNmpModule);
        c.SetInstance(uid);
        c.List(working);
        n += working.size();
    }
    return n;
}

void BM_ListNmpDevices(benchmark::State& state) {
    const long devices = state.range(0), paths = state.range(1);
    UseHost(devices, paths);
    TarnCtl::Storage::StorageInfoImpl storage;
    storage.GetLuns(false, false);
    Measure(state, "ListNmpDevices", "device", devices, RawNmpReads, [&]() -> std::string {
        size_t working = 0;
        for (auto& lun : storage.GetLuns(false, false)) {
            auto config = lun->GetDeviceConfig();
            benchmark::DoNotOptimize(config->GetStorageArrayTypeString());
            benchmark::DoNotOptimize(config->GetPathSelectionPolicyName());
            working += config->GetWorkingPathSetRuntimeNames().size();
        }
        return static_cast<long>(working) == devices * paths ? ""
                                                             : "wrong working path count " + std::to_string(working);
    });
}

// Every device recorded with round robin at an IOPS limit of 10.
void RecordPolicies() {
    auto store = TarnCtl::Storage::Store();
    HaldenConfigStore::ConfigStoreTransaction txn(store);
    for (const auto& uid : List(KSI_NODE_storage_scsifw_devices)) {
        auto object = std::make_shared<HaldenConfigStore::ConfigStoreObject>(TarnCtl::Storage::BlockDeviceId(uid));
        object->SetValue("device", uid);
        object->SetValue("plugin", "NMP");
        auto psp = object->CreateSubObject(HaldenConfigStore::SubObjectId("psp"));
        psp->SetValue("type", "QUIL_PSP_RR");
        auto rr = psp->CreateSubObject(HaldenConfigStore::SubObjectId("round_robin"));
        rr->SetValue("policy", "IOPS");
        rr->SetValue("iops", 10L);
        store->Write(object);
    }
    txn.Commit();
}

// The replay's raw work: one store listing, two kernel writes per device.
size_t RawReplay() {
    auto objects = TarnCtl::Storage::Store()->List(std::make_shared<HaldenConfigStore::FilterSpecObject>(
        HaldenConfigStore::ConfigStoreObjectId("block_devices", "storage", "halden")));
    for (const auto& object : objects) {
        const std::string uid = object->GetConfigStoreObjectId().GetInstanceId();
        TarnCtl::Util::Sysinfo a(KSI_NMP_NODE_PSP_DEVICE);
        a.SetModule(kNmpModule);
        a.SetInstance("QUIL_PSP_RR");
        a.AddInput("device=" + uid);
        a.Set();
        TarnCtl::Util::Sysinfo b(KSI_NMP_NODE_CONFIG);
        b.SetModule(kNmpModule);
        b.SetInstance(uid);
        b.AddInput("pspconfig");
        b.AddInput("policy=iops;iops=10");
        b.Set();
    }
    return objects.size();
}

void BM_BootReplay(benchmark::State& state) {
    const long devices = state.range(0);
    UseHost(devices, state.range(1));
    RecordPolicies();
    auto store = TarnCtl::Storage::Store();
    store->SetBootMode(true);
    Measure(state, "BootReplay", "device", devices, RawReplay, [] {
        TarnCtl::Storage::Nmp::RestoreMultipathing();
        return std::string();
    });
    store->SetBootMode(false);
    if (TarnCtl::Storage::Nmp::NmpDeviceConfigImpl(List(KSI_NODE_storage_scsifw_devices).front())
            .GetPathSelectionPolicyName() != "QUIL_PSP_RR")
        state.SkipWithError("the replay did not set the policy");
}

const std::vector<std::vector<int64_t>> kPathSizes = {{256, 4096, 16384}, {4, 8}};
BENCHMARK(BM_ListPaths)->ArgsProduct(kPathSizes)->ArgNames({"devices", "paths"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ListNmpDevices)->ArgsProduct(kPathSizes)->ArgNames({"devices", "paths"})->Unit(benchmark::kMillisecond);
BENCHMARK(BM_BootReplay)->Args({4096, 4})->ArgNames({"devices", "paths"})->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    Platform::Log::SetStderrLevel(Platform::Log::Level::None);
    benchmark::Initialize(&argc, argv);
    BenchRatios::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintCounterRatios("ratio_to_baseline", "storage.", "Storage enumeration (`bench_storage`)",
                                "raw kernel reads those calls need");
    benchmark::Shutdown();
    // Cost per unit of the largest host over the smallest, absolute and as
    // the ratio to the raw work measured beside it (flat is 1.00).
    for (const auto& [key, bySize] : perUnit) {
        const UnitCost& small = bySize.begin()->second;
        const UnitCost& large = bySize.rbegin()->second;
        if (bySize.size() < 2 || small.seconds <= 0 || small.ratio <= 0)
            continue;
        const std::string sizes = std::to_string(bySize.rbegin()->first) + " over " +
                                  std::to_string(bySize.begin()->first) + " devices";
        BenchRatios::PrintRatio("storage.growth." + key, large.seconds / small.seconds,
                                "Cost per unit of " + key + " (`bench_storage`), " + sizes, "the smaller host");
        BenchRatios::PrintRatio("storage.growth_over_baseline." + key, large.ratio / small.ratio,
                                "Ratio to the raw reads of " + key + " (`bench_storage`), " + sizes,
                                "the smaller host");
    }
    // The generated hosts are scratch.
    for (const auto& [key, dir] : roots)
        nftw(dir.c_str(), [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); }, 16,
             FTW_DEPTH | FTW_PHYS);
    return 0;
}
