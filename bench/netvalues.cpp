// Parsing and printing a million IPv4, IPv6 and MAC texts with the network
// value types, against the C library's inet_pton/inet_ntop and
// ether_aton_r/ether_ntoa_r in the same run; ends with a table of ratios.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/ether.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "hostctl/nettypes.h"

#include "ratios.h"

using namespace HostCtl::Network;

namespace {

constexpr size_t kCount = 1000000;

struct Data {
    std::vector<std::string> v4, v6, mac;
    std::vector<uint32_t> v4bin;
    std::vector<Ipv6_addr> v6bin;
    std::vector<ether_addr> macbin;
};

const Data& Inputs() {
    static const Data d = [] {
        Data d;
        std::mt19937_64 rng(42);
        d.v4.reserve(kCount);
        d.v6.reserve(kCount);
        d.mac.reserve(kCount);
        char buf[64];
        for (size_t i = 0; i < kCount; ++i) {
            uint32_t w = static_cast<uint32_t>(rng());
            d.v4bin.push_back(w);
            inet_ntop(AF_INET, &w, buf, sizeof buf);
            d.v4.emplace_back(buf);

            // Realistic IPv6 mix: global, link-local with zero runs, mapped.
            Ipv6_addr a;
            for (auto& b : a.s6_addr) b = static_cast<uint8_t>(rng());
            switch (i % 4) {
            case 1: std::memset(a.s6_addr + 2, 0, 6); a.s6_addr[0] = 0xfe; a.s6_addr[1] = 0x80; break;
            case 2: std::memset(a.s6_addr + 4, 0, 8); break;
            case 3: std::memset(a.s6_addr, 0, 10); a.s6_addr[10] = a.s6_addr[11] = 0xff; break;
            }
            d.v6bin.push_back(a);
            inet_ntop(AF_INET6, &a, buf, sizeof buf);
            d.v6.emplace_back(buf);

            ether_addr e;
            for (auto& b : e.ether_addr_octet) b = static_cast<uint8_t>(rng());
            d.macbin.push_back(e);
            std::snprintf(buf, sizeof buf, "%02x:%02x:%02x:%02x:%02x:%02x", e.ether_addr_octet[0],
                          e.ether_addr_octet[1], e.ether_addr_octet[2], e.ether_addr_octet[3],
                          e.ether_addr_octet[4], e.ether_addr_octet[5]);
            d.mac.emplace_back(buf);
        }
        return d;
    }();
    return d;
}

void Million(benchmark::State& state) { state.SetItemsProcessed(state.iterations() * kCount); }

// ---- IPv4
void Ipv4ParseLib(benchmark::State& state) {
    const auto& d = Inputs();
    for (auto _ : state)
        for (const auto& t : d.v4) benchmark::DoNotOptimize(Ipv4Address(t).GetBinaryAddress());
    Million(state);
}
void Ipv4ParseLibc(benchmark::State& state) {
    const auto& d = Inputs();
    in_addr a;
    for (auto _ : state)
        for (const auto& t : d.v4) {
            inet_pton(AF_INET, t.c_str(), &a);
            benchmark::DoNotOptimize(a.s_addr);
        }
    Million(state);
}
void Ipv4PrintLib(benchmark::State& state) {
    const auto& d = Inputs();
    for (auto _ : state)
        for (uint32_t w : d.v4bin) benchmark::DoNotOptimize(Ipv4Address(w).GetStringAddress());
    Million(state);
}
void Ipv4PrintLibc(benchmark::State& state) {
    const auto& d = Inputs();
    char buf[INET_ADDRSTRLEN];
    for (auto _ : state)
        for (uint32_t w : d.v4bin) benchmark::DoNotOptimize(inet_ntop(AF_INET, &w, buf, sizeof buf));
    Million(state);
}

// ---- IPv6
void Ipv6ParseLib(benchmark::State& state) {
    const auto& d = Inputs();
    Ipv6_addr a;
    for (auto _ : state)
        for (const auto& t : d.v6) benchmark::DoNotOptimize(Ipv6Address::Parse(t.data(), t.size(), &a));
    Million(state);
}
void Ipv6ParseLibc(benchmark::State& state) {
    const auto& d = Inputs();
    in6_addr a;
    for (auto _ : state)
        for (const auto& t : d.v6) benchmark::DoNotOptimize(inet_pton(AF_INET6, t.c_str(), &a));
    Million(state);
}
// The whole constructor: validate, parse, print back canonically, keep the text.
void Ipv6ConstructLib(benchmark::State& state) {
    const auto& d = Inputs();
    for (auto _ : state)
        for (const auto& t : d.v6) benchmark::DoNotOptimize(Ipv6Address(t));
    Million(state);
}
void Ipv6ConstructLibc(benchmark::State& state) {
    const auto& d = Inputs();
    in6_addr a;
    char buf[INET6_ADDRSTRLEN];
    for (auto _ : state)
        for (const auto& t : d.v6) {
            inet_pton(AF_INET6, t.c_str(), &a);
            benchmark::DoNotOptimize(std::string(inet_ntop(AF_INET6, &a, buf, sizeof buf)));
        }
    Million(state);
}
void Ipv6PrintLib(benchmark::State& state) {
    const auto& d = Inputs();
    for (auto _ : state)
        for (const auto& a : d.v6bin) benchmark::DoNotOptimize(Ipv6Address::Format(a));
    Million(state);
}
void Ipv6PrintLibc(benchmark::State& state) {
    const auto& d = Inputs();
    char buf[INET6_ADDRSTRLEN];
    for (auto _ : state)
        for (const auto& a : d.v6bin) benchmark::DoNotOptimize(inet_ntop(AF_INET6, &a, buf, sizeof buf));
    Million(state);
}

// ---- MAC
void MacParseLib(benchmark::State& state) {
    const auto& d = Inputs();
    for (auto _ : state)
        for (const auto& t : d.mac) benchmark::DoNotOptimize(MacAddress(t).Bytes()[0]);
    Million(state);
}
void MacParseLibc(benchmark::State& state) {
    const auto& d = Inputs();
    ether_addr e;
    for (auto _ : state)
        for (const auto& t : d.mac) benchmark::DoNotOptimize(ether_aton_r(t.c_str(), &e));
    Million(state);
}
// The MAC grammar itself is sscanf's; this is what a plain implementation costs.
void MacParseSscanf(benchmark::State& state) {
    const auto& d = Inputs();
    unsigned char b[6];
    for (auto _ : state)
        for (const auto& t : d.mac)
            benchmark::DoNotOptimize(std::sscanf(t.c_str(), "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx", &b[0],
                                                 &b[1], &b[2], &b[3], &b[4], &b[5]));
    Million(state);
}
void MacPrintLib(benchmark::State& state) {
    const auto& d = Inputs();
    for (auto _ : state)
        for (const auto& e : d.macbin) benchmark::DoNotOptimize(MacAddress(e.ether_addr_octet).GetStringAddress());
    Million(state);
}
void MacPrintLibc(benchmark::State& state) {
    const auto& d = Inputs();
    char buf[32];
    for (auto _ : state)
        for (const auto& e : d.macbin) benchmark::DoNotOptimize(ether_ntoa_r(&e, buf));
    Million(state);
}

}  // namespace

#define NET_BENCH(f) BENCHMARK(f)->Unit(benchmark::kMillisecond)->MinTime(0.5)
NET_BENCH(Ipv4ParseLib);
NET_BENCH(Ipv4ParseLibc);
NET_BENCH(Ipv4PrintLib);
NET_BENCH(Ipv4PrintLibc);
NET_BENCH(Ipv6ParseLib);
NET_BENCH(Ipv6ParseLibc);
NET_BENCH(Ipv6ConstructLib);
NET_BENCH(Ipv6ConstructLibc);
NET_BENCH(Ipv6PrintLib);
NET_BENCH(Ipv6PrintLibc);
NET_BENCH(MacParseLib);
NET_BENCH(MacParseLibc);
NET_BENCH(MacParseSscanf);
NET_BENCH(MacPrintLib);
NET_BENCH(MacPrintLibc);

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    Inputs();  // generate outside the timings
    BenchRatios::RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    // CPU time: the machine is shared, wall time is noisy.
    reporter.PrintRatios(
        {
            {"Ipv4ParseLib", "Ipv4ParseLibc", "net.ipv4.parse",
             "Address values: IPv4 parse speed-up, one million texts (`bench_netvalues`)", "`inet_pton`", true},
            {"Ipv4PrintLib", "Ipv4PrintLibc", "net.ipv4.print", "Address values: IPv4 print speed-up", "`inet_ntop`",
             true},
            {"Ipv6ParseLib", "Ipv6ParseLibc", "net.ipv6.parse", "Address values: IPv6 parse speed-up", "`inet_pton`",
             true},
            {"Ipv6ConstructLib", "Ipv6ConstructLibc", "net.ipv6.construct",
             "Address values: IPv6 construct speed-up", "`inet_pton` + `inet_ntop` + string", true},
            {"Ipv6PrintLib", "Ipv6PrintLibc", "net.ipv6.print", "Address values: IPv6 print speed-up", "`inet_ntop`",
             true},
            {"MacParseLib", "MacParseLibc", "net.mac.parse", "Address values: MAC parse speed-up", "`ether_aton_r`",
             true},
            {"MacParseLib", "MacParseSscanf", "net.mac.parse_sscanf", "Address values: MAC parse speed-up",
             "`sscanf`", true},
            {"MacPrintLib", "MacPrintLibc", "net.mac.print", "Address values: MAC print speed-up", "`ether_ntoa_r`",
             true},
        },
        true);
    benchmark::Shutdown();
    return 0;
}
