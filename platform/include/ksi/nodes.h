// Node ids of the kernel's system-information tree. Every KSI_NODE_<name>
// constant comes from the one table in nodes.def; the id is a hash of the
// node's path, so adding a node never renumbers another. The simulation
// checks at start-up that no two paths share an id.
#pragma once

#include <cstdint>
#include <string_view>

constexpr uint32_t KsiNodeId(std::string_view path) {
    uint32_t h = 2166136261u;
    for (char c : path) {
        h ^= static_cast<uint8_t>(c);
        h *= 16777619u;
    }
    // Keep clear of the small numbers that kernel modules use for their own nodes.
    return h | 0x80000000u;
}

#define KSI_NODE_PATH(name, path) inline constexpr uint32_t KSI_NODE_##name = KsiNodeId(path);
#include "ksi/nodes.def"
#undef KSI_NODE_PATH

struct KsiNodeEntry {
    uint32_t id;
    const char* name;  // "storage_scsifw_devices"
    const char* path;  // "/storage/scsifw/devices"
};
// Every node of the table, in table order.
const KsiNodeEntry* KsiNodeTable(unsigned int* count);
// The entry of `id`, or null.
const KsiNodeEntry* KsiNodeById(uint32_t id);
