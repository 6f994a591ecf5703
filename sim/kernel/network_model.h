// The simulated kernel's network model: shared pieces of the sim/kernel/network*.cpp
// files. The "network" profile section is one object read by several files; each
// registers the slice it understands (its keys, its `hostctl sim generate`
// flags), and the section loader hands the whole object to every slice in order.
//
//   static TarnSim::Network::SectionPartRegistration part(
//       "portsets", 30, InitPortsets, GeneratePortsets,
//       {{"vswitches", "standard switches of a generated host", 2}});
//
// Slices in use: "tcpip" (10, netstacks), "pnics" (20, physical NICs); port
// sets and port groups, routes and kernel NICs add theirs.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <rapidjson/document.h>

#include "sim/kernel.h"

namespace TarnSim::Network {

using Alloc = rapidjson::MemoryPoolAllocator<rapidjson::CrtAllocator>;

struct SectionPart {
    std::string name;
    int order = 50;
    // `network` is the whole "network" section, or null when the profile has none.
    std::function<void(KernelState& state, const rapidjson::Value* network)> init;
    // Adds this slice's keys to the generated "network" object (already an object).
    std::function<void(rapidjson::Value& network, Alloc& alloc, const GenerateOptions& options)> generate;
    std::vector<GenerateOption> options;
};

void RegisterSectionPart(SectionPart part);
struct SectionPartRegistration {
    SectionPartRegistration(std::string name, int order, decltype(SectionPart::init) init,
                            decltype(SectionPart::generate) generate = nullptr,
                            std::vector<GenerateOption> options = {}) {
        SectionPart part;
        part.name = std::move(name);
        part.order = order;
        part.init = std::move(init);
        part.generate = std::move(generate);
        part.options = std::move(options);
        RegisterSectionPart(std::move(part));
    }
};

// Node handlers with one callback (the others keep their plain-storage default).
inline NodeHandler SetHandler(SetFn set) {
    NodeHandler h;
    h.set = std::move(set);
    return h;
}
// A read and, when `set` is given, a write of the same node.
inline NodeHandler GetSetHandler(GetFn get, SetFn set) {
    NodeHandler h;
    h.get = std::move(get);
    h.set = std::move(set);
    return h;
}
inline NodeHandler ListHandler(ListFn list) {
    NodeHandler h;
    h.list = std::move(list);
    return h;
}
inline NodeHandler SetStructHandler(SetStructFn setStruct) {
    NodeHandler h;
    h.setStruct = std::move(setStruct);
    return h;
}

// ---- JSON helpers for the slices.
std::string Str(const rapidjson::Value& o, const char* key, const char* fallback = "");
int64_t Int(const rapidjson::Value& o, const char* key, int64_t fallback = 0);
bool Bool(const rapidjson::Value& o, const char* key, bool fallback = false);
// The member `key` when it is an array / object, else null.
const rapidjson::Value* Array(const rapidjson::Value& o, const char* key);
const rapidjson::Value* Object(const rapidjson::Value& o, const char* key);

// Copies text into a fixed NUL-padded field, cutting it to fit.
template <size_t N>
void CopyText(char (&out)[N], const std::string& text) {
    std::memset(out, 0, N);
    std::memcpy(out, text.data(), text.size() < N - 1 ? text.size() : N - 1);
}
inline std::string FieldText(const char* field, size_t size) { return std::string(field, strnlen(field, size)); }

// The profile's neighbours of kernel NIC `nic` join netstack `key`'s tables
// when it is plumbed and leave them when it is unplumbed.
void PlumbNeighbors(KernelState& s, const std::string& key, const std::string& nic);
void UnplumbNeighbors(KernelState& s, const std::string& key, const std::string& nic);

}  // namespace TarnSim::Network
