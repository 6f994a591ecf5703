// Costs of the configuration tree path: reading a generated legacy file of
// 100,000 statements against a plain line split of the same bytes, and locking
// plus writing back a tree of 1,000 values against writing the same store
// objects directly. Prints the two ratios after the runs.
#include <benchmark/benchmark.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>
#include <string_view>

#include "configstore/configstoreconvertor.h"
#include "configstore/configupgradeparser.h"
#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/log.h"

#include "ratios.h"

using namespace TarnCtl::ConfigStoreUtil;
using HaldenConfigStore::ConfigStore;
using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;

namespace {

constexpr int kStatements = 100000;
constexpr int kSwitches = 100;  // 10 values each

const std::string& LegacyText() {
    static const std::string text = [] {
        std::string s;
        s.reserve(kStatements * 64);
        char buf[160];
        for (int i = 0; i < kStatements; ++i) {
            if (i % 50 == 0) s += "# switch block\n";
            std::snprintf(buf, sizeof buf, "/net/vswitch/child[%04d]/portgroup/child[%04d]/vlanId = \"%d\"\n",
                          i / 100, i % 100, i % 4096);
            s += buf;
        }
        return s;
    }();
    return text;
}

void BM_LegacyParse(benchmark::State& state) {
    const std::string& text = LegacyText();
    for (auto _ : state) {
        ConfigUpgradeParser p(std::make_unique<std::istringstream>(text));
        size_t n = 0;
        for (;;) {
            auto keys = p.GetSubKeys();
            if (keys[0].kind == ConfigUpgradeParser::kEnd) break;
            ++n;
        }
        if (n != kStatements) state.SkipWithError("wrong statement count");
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LegacyParse)->Unit(benchmark::kMillisecond);

void BM_LineSplit(benchmark::State& state) {
    const std::string& text = LegacyText();
    for (auto _ : state) {
        // The same bytes through the same stream, cut into lines only.
        std::istringstream in(text);
        std::string line;
        size_t n = 0;
        while (std::getline(in, line)) n += line.size() > 0;
        benchmark::DoNotOptimize(n);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_LineSplit)->Unit(benchmark::kMillisecond);

std::string SwitchJson(int i, int variant) {
    char buf[512];
    std::snprintf(buf, sizeof buf,
                  R"({"name":"vSwitch%d","num_ports":%d,"mtu":%d,)"
                  R"("policy":{"nic_teaming":{"policy":"%s","notify_switches":%s,"rolling_order":%s},)"
                  R"("security":{"allow_promiscuous":%s,"mac_changes":%s,"forged_transmits":%s}},)"
                  R"("port_groups":[{"name":"pg%d","vlan_id":%d}]})",
                  i, 128 + variant, 1500 + variant, variant ? "FAILOVER_EXPLICIT" : "LOADBALANCE_SRCID",
                  variant ? "true" : "false", variant ? "true" : "false", variant ? "true" : "false",
                  variant ? "true" : "false", variant ? "true" : "false", i, 10 + variant);
    return buf;
}

void SeedStore() {
    static bool done = false;
    if (done) return;
    done = true;
    char dir[] = "/tmp/tarn-bench-configtree-XXXXXX";
    if (!mkdtemp(dir)) std::abort();
    Platform::SetHostRoot(dir);
    auto store = ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    HaldenConfigStore::ConfigStoreTransaction tx(store);
    for (int i = 0; i < kSwitches; ++i) {
        store->Write(ConfigStoreObject::FromData(
            ConfigStoreObjectId("switches", "network_vss", "halden", "vSwitch" + std::to_string(i)), SwitchJson(i, 0)));
    }
    tx.Commit();
}

void BM_TreeLockWriteBack(benchmark::State& state) {
    SeedStore();
    auto conv = ConfigStoreConvertor::GetConvertor();
    int variant = 0;
    for (auto _ : state) {
        variant ^= 1;
        conv->Lock({"halden/network_vss/switches"});
        auto array = conv->GetRoot()->GetBranch("net/vswitch")->GetArray("child");
        size_t values = 0;
        for (const auto& sw : array->GetInstances()) {
            sw->SetValue("numPorts", 128 + variant);
            sw->SetValue("mtu", 1500 + variant);
            sw->SetValue("teamPolicy/team", variant ? "fo_explicit" : "lb_srcid");
            sw->SetValue("teamPolicy/notifySwitches", variant != 0);
            sw->SetValue("teamPolicy/rollingOrder", variant != 0);
            sw->SetValue("securityPolicy/allowPromiscuous", variant != 0);
            sw->SetValue("securityPolicy/macChange", variant != 0);
            sw->SetValue("securityPolicy/forgedTransmits", variant != 0);
            sw->SetValue("portgroup/child[0000]/vlanId", 10 + variant);
            values += 10;
        }
        if (values != kSwitches * 10) state.SkipWithError("tree not filled");
        conv->Write();
        conv->Unlock();
    }
}
BENCHMARK(BM_TreeLockWriteBack)->Unit(benchmark::kMillisecond);

void BM_RawStoreWrites(benchmark::State& state) {
    SeedStore();
    auto store = ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    std::vector<std::shared_ptr<ConfigStoreObject>> objects[2];
    for (int v = 0; v < 2; ++v) {
        for (int i = 0; i < kSwitches; ++i) {
            objects[v].push_back(ConfigStoreObject::FromData(
                ConfigStoreObjectId("switches", "network_vss", "halden", "vSwitch" + std::to_string(i)),
                SwitchJson(i, v)));
        }
    }
    int variant = 0;
    for (auto _ : state) {
        variant ^= 1;
        HaldenConfigStore::ConfigStoreTransaction tx(store);
        for (const auto& o : objects[variant]) store->Write(o);
        tx.Commit();
    }
}
BENCHMARK(BM_RawStoreWrites)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    return BenchRatios::RunWithRatios(argc, argv,
                                      {{"BM_LegacyParse", "BM_LineSplit"},
                                       {"BM_TreeLockWriteBack", "BM_RawStoreWrites"}},
                                      "/tmp/tarn-bench-configtree-");
}
