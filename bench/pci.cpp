// The PCI name database on a generated host of 256 PCI functions: building
// it from the real pci.ids (with the host's pciids directories, filtered to
// the present ids) and naming every device, against a baseline that only reads the same file
// line by line in the same run; and one lookup once the database is built.
// Prints the ratio build / baseline.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "hardware/pci_info_impl.h"
#include "hardware/pci_names.h"
#include "hostctl/hardware.h"
#include "platform/hostroot.h"
#include "ratios.h"
#include "sim/profile.h"

namespace {

const char* kRootPrefix = "/tmp/tarnctl-bench-pci-";

struct Ids {
    uint16_t vendor, device, subVendor, subDevice;
};

// The ids of every function of the host, read once from the kernel.
std::vector<Ids> gHostIds;

// A host generated as `hostctl sim generate --pci-devices 256` makes it:
// 256 functions below their root ports, besides its NICs and storage adapters.
void MakeHost() {
    std::string dir = std::string(kRootPrefix) + "XXXXXX";
    if (!mkdtemp(dir.data())) std::abort();
    Platform::SetHostRoot(dir);
    TarnSim::GenerateOptions options;
    options.values = {{"pci-devices", 256}};
    TarnSim::Profile::InitHost(TarnSim::Profile::Generate(options));
    for (const auto& a : TarnCtl::Hardware::ScanPciBus()) {
        Ksi::Hardware::PciConfigHeader h{};
        TarnCtl::Hardware::PciNode(KSI_NODE_hardware_pci_seg_bus_slot_func_pciConfigHeader, a)->Get(&h, sizeof h);
        gHostIds.push_back({h.vendorId, h.deviceId, h.subVendorId, h.subDeviceId});
    }
    if (gHostIds.size() < 256) std::abort();
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
