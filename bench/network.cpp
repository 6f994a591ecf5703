// Costs of standard switches at the scale of a large host: adding one more
// port group and setting one port group's VLAN on generated hosts of 8, 64 and
// 512 port groups (over 4, 16 and 64 switches), which must not grow with the
// host; and the boot replay of the 512-port-group host against a baseline of
// the raw store reads and kernel writes that replay needs (the writes are the
// ones the replay itself made, recorded once and played back raw).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "hostctl/host.h"
#include "hostctl/network.h"
#include "network/network_util.h"
#include "network/vswitch_info_impl.h"
#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/sysinfo.h"
#include "sim/profile.h"

#include "ratios.h"

namespace {

using namespace HostCtl::Network;

struct Host {
    std::string root;
    int switches = 0;
    int portGroups = 0;
};

std::string SwitchName(int i) { return "vs" + std::to_string(i); }
std::string PortGroupName(int i) { return "pg" + std::to_string(i); }

std::unique_ptr<VirtualSwitchInfo> Switches() {
    return HostCtl::HostFactory::GetHost()->GetNetworkInfo()->GetVirtualSwitchInfo();
}

// One generated host per size, made once through the library and reused:
// port groups spread evenly, the first switch with two uplinks.
const Host& UseHost(int portGroups) {
    static std::map<int, Host> hosts;
    auto it = hosts.find(portGroups);
    if (it != hosts.end()) {
        Platform::SetHostRoot(it->second.root);
        return it->second;
    }
    char dir[] = "/tmp/tarn-bench-network-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    Platform::SetHostRoot(dir);
    TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    Host h;
    h.root = dir;
    h.portGroups = portGroups;
    h.switches = portGroups <= 8 ? 4 : portGroups <= 64 ? 16 : 64;
    auto info = Switches();
    for (int s = 0; s < h.switches; ++s) info->AddVirtualSwitch(SwitchName(s), 0);
    auto first = info->GetVirtualSwitchByName(SwitchName(0), PORTSET_GET_VSS);
    first->AddUplink("pnx0", true);
    first->AddUplink("pnx3", true);
    for (int p = 0; p < portGroups; ++p) {
        auto sw = info->GetVirtualSwitchByName(SwitchName(p % h.switches), PORTSET_GET_VSS);
        sw->AddPortGroup(PortGroupName(p));
        sw->GetPortGroupByName(PortGroupName(p))->SetVlanId(1 + p % 4000);
    }
    return hosts[portGroups] = h;
}

void AddPortGroup(benchmark::State& state, int portGroups) {
    const Host& h = UseHost(portGroups);
    int n = 0;
    for (auto _ : state) {
        std::string sw = SwitchName(n % h.switches), pg = "extra" + std::to_string(n++);
        Switches()->GetVirtualSwitchByName(sw, PORTSET_GET_VSS)->AddPortGroup(pg);
        state.PauseTiming();
        Switches()->GetVirtualSwitchByName(sw, PORTSET_GET_VSS)->RemovePortGroup(pg);
        state.ResumeTiming();
    }
}

void SetVlan(benchmark::State& state, int portGroups) {
    const Host& h = UseHost(portGroups);
    int n = 0;
    for (auto _ : state) {
        int p = n % h.portGroups;
        // Every set changes the VLAN (an unchanged value would write nothing).
        int vlan = 100 + (n++ / h.portGroups) % 2;
        auto sw = Switches()->GetVirtualSwitchByName(SwitchName(p % h.switches), PORTSET_GET_VSS);
        sw->GetPortGroupByName(PortGroupName(p))->SetVlanId(vlan);
    }
}

// ---- Boot replay --------------------------------------------------------------------------

struct RecordedWrite {
    uint32_t node;
    std::vector<KSI_Param> instance, inputs;
    std::string buffer;
    bool isStruct;
};

// Keeps every kernel write of one replay for the baseline to play back.
class Recorder : public Platform::Kernel::Backend {
public:
    Recorder() { _next = Platform::Kernel::SetBackend(this); }
    ~Recorder() override { Platform::Kernel::SetBackend(_next); }
    TARN_ReturnStatus Get(const char* m, uint32_t node, const std::vector<KSI_Param>& i,
                          const std::vector<KSI_Param>& in, void* b, unsigned l) override {
        return _next->Get(m, node, i, in, b, l);
    }
    TARN_ReturnStatus Set(const char* m, uint32_t node, const std::vector<KSI_Param>& i,
                          const std::vector<KSI_Param>& in) override {
        writes.push_back({node, i, in, "", false});
        return _next->Set(m, node, i, in);
    }
    TARN_ReturnStatus SetStruct(const char* m, uint32_t node, const std::vector<KSI_Param>& i, const void* b,
                                unsigned l) override {
        writes.push_back({node, i, {}, std::string(static_cast<const char*>(b), l), true});
        return _next->SetStruct(m, node, i, b, l);
    }
    TARN_ReturnStatus List(const char* m, uint32_t node, const std::vector<KSI_Param>& i,
                           std::vector<KSI_Param>* out) override {
        return _next->List(m, node, i, out);
    }
    std::vector<RecordedWrite> writes;

private:
    Platform::Kernel::Backend* _next;
};

void ResetKernel() { TarnSim::Profile::ResetKernel(TarnSim::Profile::CurrentProfile(), true); }

void Replay() {
    auto store = TarnCtl::Network::NetStore();
    store->SetBootMode(true);
    TarnCtl::Network::VirtualSwitchInfoImpl().LoadConfig();
    store->SetBootMode(false);
}

const std::vector<RecordedWrite>& ReplayWrites() {
    static const std::vector<RecordedWrite> writes = [] {
        UseHost(512);
        ResetKernel();
        Recorder r;
        Replay();
        return r.writes;
    }();
    return writes;
}

void BM_BootReplay512(benchmark::State& state) {
    UseHost(512);
    for (auto _ : state) {
        state.PauseTiming();
        ResetKernel();
        state.ResumeTiming();
        Replay();
    }
}

// The floor under the replay: each switch's store object read once and every
// kernel write the replay made, played back directly.
void BM_RawBootReads512(benchmark::State& state) {
    const Host& h = UseHost(512);
    const auto& writes = ReplayWrites();
    auto store = TarnCtl::Network::NetStore();
    auto& kernel = Platform::Kernel::GetBackend();
    for (auto _ : state) {
        state.PauseTiming();
        ResetKernel();
        state.ResumeTiming();
        size_t bytes = 0;
        for (int s = 0; s < h.switches; ++s) {
            auto o = store->Get(HaldenConfigStore::ConfigStoreObjectId("switches", "network_vss", "halden",
                                                                      SwitchName(s)));
            bytes += o ? o->GetData().size() : 0;
        }
        for (const RecordedWrite& w : writes) {
            if (w.isStruct) {
                kernel.SetStruct(nullptr, w.node, w.instance, w.buffer.data(), static_cast<unsigned>(w.buffer.size()));
            } else {
                kernel.Set(nullptr, w.node, w.instance, w.inputs);
            }
        }
        benchmark::DoNotOptimize(bytes);
    }
}

void Register() {
    for (int size : {8, 64, 512}) {
        benchmark::RegisterBenchmark(("BM_AddPortGroup" + std::to_string(size)).c_str(),
                                     [size](benchmark::State& s) { AddPortGroup(s, size); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(40);
        benchmark::RegisterBenchmark(("BM_SetVlan" + std::to_string(size)).c_str(),
                                     [size](benchmark::State& s) { SetVlan(s, size); })
            ->Unit(benchmark::kMillisecond)
            ->Iterations(40);
    }
    benchmark::RegisterBenchmark("BM_BootReplay512", BM_BootReplay512)->Unit(benchmark::kMillisecond)->Iterations(3);
    benchmark::RegisterBenchmark("BM_RawBootReads512", BM_RawBootReads512)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
}

}  // namespace

int main(int argc, char** argv) {
    Register();
    return BenchRatios::RunWithRatios(
        argc, argv,
        {{"BM_AddPortGroup512", "BM_AddPortGroup8", "network.add_portgroup_512_vs_8",
          "add one port group on a host of 512 port groups", "the same on a host of 8"},
         {"BM_SetVlan512", "BM_SetVlan8", "network.set_vlan_512_vs_8",
          "set one port group's VLAN on a host of 512 port groups", "the same on a host of 8"},
         {"BM_BootReplay512", "BM_RawBootReads512", "network.boot_replay_512",
          "boot replay of 64 switches with 512 port groups",
          "raw store reads of the switch objects and the replay's kernel writes"}},
        "/tmp/tarn-bench-network-");
}
