// Kernel records of the system and hardware-fact nodes (/system/..., /hardware/...),
// shared by the library and the simulated kernel. Layouts are byte-exact and packed.
// Flags and small numbers are 32-bit records; texts are NUL-padded arrays.
#pragma once

#include <cstdint>

namespace Ksi::System {

inline constexpr unsigned int kBootCmdLineLength = 4096;
inline constexpr unsigned int kBootFsUuidLength = 38;
inline constexpr unsigned int kMacTextLength = 32;
inline constexpr unsigned int kVersionFieldLength = 64;
inline constexpr unsigned int kVersionPatchLength = 112;

#pragma pack(push, 1)

// /system/version: five texts, 368 bytes.
struct Version {
    char product[kVersionFieldLength];
    char version[kVersionFieldLength];
    char build[kVersionFieldLength];
    char release[kVersionFieldLength];
    char patch[kVersionPatchLength];
};
static_assert(sizeof(Version) == 368);

// /hardware/chipset/rtc, read in the order Set takes its six integer inputs.
struct Rtc {
    uint32_t month;
    uint32_t day;
    uint32_t year;
    uint32_t hour;
    uint32_t minute;
    uint32_t second;
};

// /system/loglevels and /system/modules/loglevels (instance: logger name).
// Set takes the new level as its single integer input.
struct LogLevel {
    uint32_t level;
    uint32_t defaultLevel;
};

// /system/vmLimits.
struct VmLimits {
    uint32_t maxVms;
    uint32_t maxVcpusPerVm;
};

// /system/bootOption: three switches, one byte each.
struct BootOption {
    uint8_t noAutoPartition;
    uint8_t allowLegacyCpu;
    uint8_t ignoreHeadless;
};

// /system/systemUuid and /system/generateUuid.
struct Uuid {
    uint8_t bytes[16];
};

#pragma pack(pop)

}  // namespace Ksi::System
