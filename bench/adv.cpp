// Costs of the advanced options: listing every option with its values against
// reading the same kernel records raw, and setting 1,000 options one by one
// (each its own transaction, kernel write and audit record) against writing
// the same store objects directly. Prints the two ratios after the runs; the
// listing's is taken in interleaved CPU-time batches, least of each side.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>

#include "adv/adv_config.h"
#include "adv/adv_names.h"
#include "adv/advanced_option_branch_impl.h"
#include "hostctl/adv.h"
#include "hostctl/host.h"
#include "ksi/adv.h"
#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/sysinfo.h"
#include "sim/profile.h"

#include "ratios.h"

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreTransaction;

namespace {

using BenchRatios::LeastSecondsPerCall;

constexpr int kSets = 1000;

struct Plan {
    std::string branch, option, field;
    long value;
};

struct Setup {
    std::vector<std::pair<std::string, std::string>> intOptions, strOptions;  // (branch, option)
    std::vector<Plan> plans;
    // The branch object as the store holds it right after each plan's set.
    std::vector<std::shared_ptr<ConfigStoreObject>> objects;
};

const Setup& Host() {
    static const Setup setup = [] {
        char dir[] = "/tmp/tarn-bench-adv-XXXXXX";
        if (!mkdtemp(dir)) std::abort();
        Platform::SetHostRoot(dir);
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
        Setup s;
        struct Candidate {
            std::string branch, option;
            long def, alt;
        };
        std::vector<Candidate> candidates;
        for (const auto& b : TarnCtl::Adv::AdvancedOptionBranchImpl::GetKernelBranchNames()) {
            for (const auto& o : TarnCtl::Adv::AdvancedOptionBranchImpl(b).GetOptions(true)) {
                auto* io = dynamic_cast<HostCtl::Adv::AdvancedIntegerOption*>(o.get());
                if (!io) {
                    s.strOptions.emplace_back(b, o->GetOptionName());
                    continue;
                }
                s.intOptions.emplace_back(b, o->GetOptionName());
                if (io->GetMaximum() > io->GetMinimum())
                    candidates.push_back({b, o->GetOptionName(), static_cast<long>(io->GetDefaultValue()),
                                          static_cast<long>(io->GetDefaultValue() == io->GetMaximum()
                                                                ? io->GetMinimum()
                                                                : io->GetDefaultValue() + 1)});
            }
        }
        // Every option in turn, off its default and back again, until 1,000 sets.
        std::map<std::string, std::shared_ptr<ConfigStoreObject>> state;
        for (int i = 0; i < kSets; ++i) {
            const auto& c = candidates[i % candidates.size()];
            long value = (i / candidates.size()) % 2 ? c.def : c.alt;
            std::string field = TarnCtl::Adv::GetConfigstoreOptionName(c.branch, c.option);
            s.plans.push_back({c.branch, c.option, field, value});
            auto& o = state[c.branch];
            o = o ? o->Clone() : std::make_shared<ConfigStoreObject>(TarnCtl::Adv::GetCsObjId(c.branch));
            o->SetValue(field, value);
            s.objects.push_back(o);
        }
        return s;
    }();
    return setup;
}

// The raw reads the listing needs: every option's kernel record and the
// user-option store objects.
int64_t RawRecords() {
    const Setup& s = Host();
    int64_t sum = 0;
    for (const auto& [b, o] : s.intOptions) {
        TarnCtl::Util::Sysinfo si(KSI_NODE_config_intOpts);
        si.SetInstance(b);
        si.AddInstancePath(o);
        Ksi::Adv::IntOption r{};
        si.Get(&r, sizeof(r));
        sum += r.currentValue;
    }
    for (const auto& [b, o] : s.strOptions) {
        TarnCtl::Util::Sysinfo si(KSI_NODE_config_strOpts);
        si.SetInstance(b);
        si.AddInstancePath(o);
        Ksi::Adv::StrOption r{};
        si.Get(&r, sizeof(r));
        sum += r.currentValue[0];
    }
    // The user options live in the store: their definitions, values and
    // the product locker object, read once each.
    auto store = TarnCtl::Adv::AdvStore();
    for (const char* key : {TarnCtl::Adv::kUserVarDefinitionsKey, TarnCtl::Adv::kUserVarsKey})
        sum += static_cast<int64_t>(store->List(std::make_shared<HaldenConfigStore::FilterSpecObject>(
                                                    HaldenConfigStore::ConfigStoreObjectId(
                                                        key, TarnCtl::Adv::kAdvGroup, "halden")))
                                        .size());
    sum += store->Get(HaldenConfigStore::ConfigStoreObjectId("product_locker", "system", "halden")) != nullptr;
    return sum;
}

// One listing of every option with its values, as a caller walks it;
// returns the number of options seen.
size_t ListAll() {
    size_t n = 0;
    int64_t sum = 0;
    auto root = HostCtl::HostFactory::GetHost()->GetAdvancedOptions();
    for (auto& b : root->GetBranches()) {
        for (auto& o : b->GetOptions(true)) {
            if (auto* io = dynamic_cast<HostCtl::Adv::AdvancedIntegerOption*>(o.get()))
                sum += io->GetValue() + io->GetDefaultValue() + io->GetMinimum() + io->GetMaximum();
            else if (auto* so = dynamic_cast<HostCtl::Adv::AdvancedStringOption*>(o.get()))
                sum += static_cast<int64_t>(so->GetValue().size() + so->GetDefaultValue().size());
            ++n;
        }
    }
    benchmark::DoNotOptimize(sum);
    return n;
}

// CPU seconds per call of the listing and of its raw reads, taken in
// interleaved batches (least of each), so a busy spell of the shared machine
// does not decide the ratio; 0 until the listing's benchmark ran.
double listSeconds = 0, rawSeconds = 0;

void BM_AdvListAll(benchmark::State& state) {
    Host();
    size_t n = 0;
    for (auto _ : state)
        n = ListAll();
    state.counters["options"] = static_cast<double>(n);
    const auto least = LeastSecondsPerCall({[] { ListAll(); }, [] { benchmark::DoNotOptimize(RawRecords()); }});
    listSeconds = least[0];
    rawSeconds = least[1];
}
BENCHMARK(BM_AdvListAll)->Unit(benchmark::kMillisecond);

void BM_RawKernelRecords(benchmark::State& state) {
    Host();
    for (auto _ : state)
        benchmark::DoNotOptimize(RawRecords());
}
BENCHMARK(BM_RawKernelRecords)->Unit(benchmark::kMillisecond);

void BM_AdvSet1000(benchmark::State& state) {
    const Setup& s = Host();
    for (auto _ : state) {
        for (const auto& p : s.plans) {
            auto o = TarnCtl::Adv::AdvancedOptionBranchImpl(p.branch).GetOptionByName(p.option);
            dynamic_cast<HostCtl::Adv::AdvancedIntegerOption&>(*o).SetValue(p.value);
        }
    }
    state.SetItemsProcessed(state.iterations() * kSets);
}
BENCHMARK(BM_AdvSet1000)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_RawStore1000(benchmark::State& state) {
    const Setup& s = Host();
    auto store = TarnCtl::Adv::AdvStore();
    for (auto _ : state) {
        for (const auto& o : s.objects) {
            ConfigStoreTransaction txn(store);
            store->Write(o);
            txn.Commit();
        }
    }
    state.SetItemsProcessed(state.iterations() * kSets);
}
BENCHMARK(BM_RawStore1000)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    return BenchRatios::RunWithRatios(
        argc, argv,
        {{"BM_AdvSet1000", "BM_RawStore1000", "adv.set1000", "Advanced options: 1,000 sets, one transaction each",
          "raw store writes of the same objects"}},
        "/tmp/tarn-bench-adv-", false, [] {
            if (listSeconds > 0 && rawSeconds > 0)
                BenchRatios::PrintRatio("adv.list", listSeconds / rawSeconds,
                                        "Advanced options: list every option with its values (`bench_adv`)",
                                        "raw reads of the kernel records and user-option store objects");
        });
}
