// Kernel records of loaded modules and of the boot-option table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Ksi::Modules {

// /system/modules (instance: module name): one record per loaded module.
struct Loaded {
    uint32_t moduleId;
};

// /system/modules/general (instance: module name).
struct General {
    uint32_t moduleId;
    uint32_t useCount;
    char version[64];
    char buildType[32];
    uint64_t readOnlyAddr;
    uint32_t readOnlyLength;
    uint32_t writableLength;
    uint64_t writableAddr;
    uint64_t textBase;
    uint64_t dataBase;
    uint64_t bssBase;
    char options[1024];  // the option string the module was loaded with
};

// /system/modules/loglevels (instance: module name, logger name). Set takes
// the new level as its single integer input.
struct LogLevel {
    uint32_t level;
    uint32_t defaultLevel;
};

// /system/modloader/namespaces (instance: namespace) and
// /system/modloader/namespaces/versions (instance: namespace, version): the
// namespaces loaded modules provide.
struct Namespace {
    uint32_t versions;  // how many versions are provided
};
struct NamespaceVersion {
    char module[64];  // the module providing it
};

}  // namespace Ksi::Modules

namespace Ksi::BootOptions {

// /system/tarn/cotable: the run-time values of every boot option in one
// record, each at its row's offset (little endian; Bool and uint8 one byte,
// uint32 four, int64 eight, strings NUL-terminated in kStringSize bytes).
inline constexpr unsigned int kRecordSize = 13402;
inline constexpr unsigned int kStringSize = 257;

// One entry of the boot-option table, generated at build time from the
// table's data file (the same file feeds the simulated kernel's defaults).
struct Row {
    const char* name;         // "hyperthreading"
    const char* type;         // "Bool", "int32", "uint8", "uint32", "int64", "string"
    const char* parser;       // "TrueFalse", "atoi", ...
    const char* defaultValue; // as text: "TRUE", "0", "/bin/init"
    const char* description;
    bool saveable;            // may be recorded for the next boot
    const char* storeField;   // field of halden/tarnos/options
    unsigned int offset;      // in the run-time record
    unsigned int size;
};

extern const Row kRows[];
extern const size_t kRowCount;

// The row of `name`, or null.
const Row* FindRow(const char* name);
const Row* FindRowByStoreField(const char* field);

}  // namespace Ksi::BootOptions
