// The PCI name database on a 256-device host: building it from the real
// pci.ids (with the host's pciids directories, filtered to the present ids)
// and naming every device, against a baseline that only reads the same file
// line by line in the same run; and one lookup once the database is built.
// Prints the ratio build / baseline.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "hardware/pci_names.h"
#include "hostctl/hardware.h"
#include "platform/hostroot.h"
#include "platform/misc.h"
#include "ratios.h"
#include "sim/profile.h"

namespace {

const char* kRootPrefix = "/tmp/tarnctl-bench-pci-";

struct Ids {
    uint16_t vendor, device, subVendor, subDevice;
};

// Real devices of servers, cycled over the host's 256 functions.
const Ids kModels[] = {
    {0x8086, 0x1563, 0x8086, 0x0001}, {0x8086, 0x10fb, 0x8086, 0x0003}, {0x15b3, 0x1015, 0x15b3, 0x0003},
    {0x15b3, 0x1017, 0x15b3, 0x0020}, {0x1077, 0x2261, 0x1077, 0x029a}, {0x1000, 0x0097, 0x1000, 0x30e0},
    {0x10de, 0x1eb8, 0x10de, 0x12a2}, {0x8086, 0x1572, 0x8086, 0x0001}, {0x14e4, 0x16d7, 0x14e4, 0x1402},
    {0x144d, 0xa808, 0x144d, 0xa801}, {0x8086, 0x0a54, 0x8086, 0x4802}, {0x1924, 0x0b03, 0x1924, 0x8022},
    {0x19a2, 0x0710, 0x10df, 0xe70e}, {0x8086, 0x37d2, 0x8086, 0x0000}, {0x1d0f, 0xefa1, 0x0000, 0x0000},
    {0x9005, 0x028f, 0x9005, 0x0800},
};

std::vector<Ids> gHostIds;

std::string Hex(uint16_t v) { return HostCtl::Misc::StrPrintf("%04x", v); }

void MakeHost() {
    std::string dir = std::string(kRootPrefix) + "XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    Platform::SetHostRoot(dir);
    std::string devices;
    for (int i = 0; i < 256; ++i) {
        const Ids& m = kModels[i % (sizeof kModels / sizeof kModels[0])];
        gHostIds.push_back(m);
        devices += std::string(devices.empty() ? "" : ",") + "{\"address\": \"" +
                   HostCtl::Misc::StrPrintf("0000:%02x:%02x.%x", 1 + i / 32, (i / 8) % 4, i % 8) +
                   "\", \"vendor\": \"" + Hex(m.vendor) + "\", \"device\": \"" + Hex(m.device) +
                   "\", \"subVendor\": \"" + Hex(m.subVendor) + "\", \"subDevice\": \"" + Hex(m.subDevice) +
                   "\", \"class\": \"0200\"}";
    }
    TarnSim::Profile::InitHost("{\"pci\": {\"devices\": [" + devices + "]}}");
}

void BM_BuildAndNameAll(benchmark::State& state) {
    for (auto _ : state) {
        TarnCtl::Hardware::ResetPciNameCache();
        size_t named = 0;
        for (const auto& id : gHostIds) {
            std::string vendor, model;
            HostCtl::Hardware::GetVendorModelFromPCI(vendor, model, id.vendor, id.device, id.subVendor, id.subDevice);
            named += model != "Unknown";
        }
        if (named != gHostIds.size()) state.SkipWithError("a device of the host stayed unnamed");
        benchmark::DoNotOptimize(named);
    }
}
BENCHMARK(BM_BuildAndNameAll)->Unit(benchmark::kMillisecond);

void BM_BaselineReadLines(benchmark::State& state) {
    std::string path = Platform::HostPath("/usr/share/hwdata/pci.ids");
    for (auto _ : state) {
        std::ifstream in(path);
        std::string line;
        size_t lines = 0;
        while (std::getline(in, line)) ++lines;
        benchmark::DoNotOptimize(lines);
    }
}
BENCHMARK(BM_BaselineReadLines)->Unit(benchmark::kMillisecond);

void BM_OneLookup(benchmark::State& state) {
    std::string vendor, model;
    HostCtl::Hardware::GetVendorModelFromPCI(vendor, model, 0x8086, 0x1563, 0x8086, 0x0001);  // built once
    for (auto _ : state) {
        HostCtl::Hardware::GetVendorModelFromPCI(vendor, model, 0x15b3, 0x1015, 0x15b3, 0x0003);
        benchmark::DoNotOptimize(model);
    }
}
BENCHMARK(BM_OneLookup)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
    MakeHost();
    return BenchRatios::RunWithRatios(
        argc, argv,
        {{"BM_BuildAndNameAll", "BM_BaselineReadLines", "pci.names",
          "PCI names: build from the real pci.ids and name every device of a 256-device host (`bench_pci`)",
          "read the same file line by line"}},
        kRootPrefix);
}
