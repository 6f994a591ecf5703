// What the configuration store and the simulated kernel cost over their bare
// foundations: store writes against raw SQLite doing the same durable upsert
// (same WAL / synchronous settings), and Sysinfo::Get of a record against a
// memcpy of it. Prints the ratios after the runs.
#include <benchmark/benchmark.h>
#include <ftw.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <map>
#include <string>

#include "platform/configstore.h"
#include "platform/hostroot.h"
#include "platform/sysinfo.h"
#include "sim/kernel.h"

#include "ratios.h"

namespace {

using namespace HaldenConfigStore;

constexpr uint32_t kBenchNode = 0x7e60;  // a core id outside the node table: plain records
struct Record {
    uint64_t a, b, c, d;
    char name[64];
};

std::shared_ptr<ConfigStoreObject> MakeObject(int i) {
    auto o = std::make_shared<ConfigStoreObject>(
        ConfigStoreObjectId("bench", "bench", "halden", std::to_string(i)));
    o->SetValue("name", "vSwitch" + std::to_string(i));
    o->SetValue("mtu", 1500);
    o->SetValue("enabled", true);
    o->SetValue("uplinks", std::vector<std::string>{"nic0", "nic1"});
    return o;
}

// The same durable upsert the store does, straight on SQLite.
class RawDb {
public:
    RawDb() {
        std::string path = Platform::HostPath("/var/lib/rawbench.db");
        sqlite3_open(path.c_str(), &_db);
        sqlite3_busy_timeout(_db, 30000);
        sqlite3_exec(_db,
                     "PRAGMA journal_mode=WAL; PRAGMA synchronous=FULL;"
                     "CREATE TABLE IF NOT EXISTS objects(component TEXT NOT NULL, grp TEXT NOT NULL,"
                     " key TEXT NOT NULL, instance TEXT NOT NULL, data TEXT NOT NULL,"
                     " PRIMARY KEY(component, grp, key, instance)) WITHOUT ROWID;",
                     nullptr, nullptr, nullptr);
        sqlite3_prepare_v2(_db,
                           "INSERT INTO objects(component, grp, key, instance, data) VALUES(?1, ?2,"
                           " ?3, ?4, ?5) ON CONFLICT(component, grp, key, instance) DO UPDATE SET"
                           " data=excluded.data",
                           -1, &_put, nullptr);
    }
    ~RawDb() {
        sqlite3_finalize(_put);
        sqlite3_close(_db);
    }
    void Begin() { sqlite3_exec(_db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr); }
    void Commit() { sqlite3_exec(_db, "COMMIT", nullptr, nullptr, nullptr); }
    void Put(const std::string& instance, const std::string& data) {
        sqlite3_reset(_put);
        sqlite3_bind_text(_put, 1, "halden", -1, SQLITE_STATIC);
        sqlite3_bind_text(_put, 2, "bench", -1, SQLITE_STATIC);
        sqlite3_bind_text(_put, 3, "bench", -1, SQLITE_STATIC);
        sqlite3_bind_text(_put, 4, instance.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(_put, 5, data.c_str(), static_cast<int>(data.size()), SQLITE_TRANSIENT);
        sqlite3_step(_put);
    }

private:
    sqlite3* _db = nullptr;
    sqlite3_stmt* _put = nullptr;
};

void BM_StoreWrite_OnePerTransaction(benchmark::State& state) {
    auto store = ConfigStore::GetStore(sGlobalNamespace);
    int i = 0;
    for (auto _ : state) {
        ConfigStoreTransaction tx(store);
        store->Write(MakeObject(i++ % 100));
        tx.Commit();
    }
}
BENCHMARK(BM_StoreWrite_OnePerTransaction)->UseRealTime();

void BM_RawSqlite_OnePerTransaction(benchmark::State& state) {
    RawDb db;
    int i = 0;
    for (auto _ : state) {
        // The object is serialised here too, so both sides do the same work.
        auto o = MakeObject(i++ % 100);
        db.Begin();
        db.Put(o->GetConfigStoreObjectId().GetInstanceId(), o->GetData());
        db.Commit();
    }
}
BENCHMARK(BM_RawSqlite_OnePerTransaction)->UseRealTime();

void BM_StoreWrite_1000InOneTransaction(benchmark::State& state) {
    auto store = ConfigStore::GetStore(sGlobalNamespace);
    for (auto _ : state) {
        ConfigStoreTransaction tx(store);
        for (int i = 0; i < 1000; ++i)
            store->Write(MakeObject(i));
        tx.Commit();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_StoreWrite_1000InOneTransaction)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_RawSqlite_1000InOneTransaction(benchmark::State& state) {
    RawDb db;
    for (auto _ : state) {
        db.Begin();
        for (int i = 0; i < 1000; ++i) {
            auto o = MakeObject(i);
            db.Put(o->GetConfigStoreObjectId().GetInstanceId(), o->GetData());
        }
        db.Commit();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}
BENCHMARK(BM_RawSqlite_1000InOneTransaction)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_SysinfoGet_Record(benchmark::State& state) {
    Record r{1, 2, 3, 4, "device"};
    {
        TarnCtl::Util::Sysinfo s(kBenchNode);
        s.SetInstance("hbx1");
        s.SetStruct(&r, sizeof r);
    }
    Record out{};
    for (auto _ : state) {
        TarnCtl::Util::Sysinfo s(kBenchNode);
        s.SetInstance("hbx1");
        s.Get(&out, sizeof out);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_SysinfoGet_Record);

void BM_Memcpy_Record(benchmark::State& state) {
    Record r{1, 2, 3, 4, "device"};
    Record out{};
    for (auto _ : state) {
        benchmark::DoNotOptimize(r);
        std::memcpy(&out, &r, sizeof r);
        benchmark::DoNotOptimize(out);
    }
}
BENCHMARK(BM_Memcpy_Record);

}  // namespace

int main(int argc, char** argv) {
    char dir[] = "/tmp/tarnctl-bench-XXXXXX";
    if (!mkdtemp(dir))
        return 1;
    Platform::SetHostRoot(dir);
    benchmark::Initialize(&argc, argv);
    BenchRatios::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios({
        {"BM_StoreWrite_OnePerTransaction", "BM_RawSqlite_OnePerTransaction", "store.one",
         "Store: one object per transaction (`bench_store_kernel`)", "raw SQLite durable upsert"},
        {"BM_StoreWrite_1000InOneTransaction", "BM_RawSqlite_1000InOneTransaction", "store.thousand",
         "Store: 1,000 objects in one transaction", "raw SQLite, one transaction"},
        {"BM_SysinfoGet_Record", "BM_Memcpy_Record", "kernel.get", "Kernel `Sysinfo::Get` of a 96-byte record",
         "`memcpy` of the record"},
    });
    benchmark::Shutdown();
    nftw(
        dir, [](const char* path, const struct stat*, int, struct FTW*) { return ::remove(path); },
        16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
