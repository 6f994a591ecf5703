// Kernel records of the advanced-option nodes (/config/intOpts, /config/strOpts),
// shared by the library and the simulated kernel. Layouts are byte-exact and
// packed: the kernel hands out exactly these many bytes per option.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Ksi::Adv {

inline constexpr unsigned int kDescriptionLength = 512;
inline constexpr unsigned int kStringValueLength = 512;
inline constexpr unsigned int kValidCharsLength = 32;

#pragma pack(push, 1)

// One integer option at instance (branch, option). Set takes the new value as
// its single integer input.
struct IntOption {
    int64_t defaultValue;
    int64_t minimum;
    int64_t maximum;
    int64_t currentValue;
    uint8_t hidden;
    char description[kDescriptionLength];
    uint8_t hostSpecific;
    uint8_t reserved;
    uint8_t rebootRequired;
    uint8_t maintenanceModeRequired;
};

// One string option at instance (branch, option). Set takes the new value as
// its single text input. An empty valid-character set admits every printable
// character.
struct StrOption {
    char defaultValue[kStringValueLength];
    char validCharacters[kValidCharsLength];
    char currentValue[kStringValueLength];
    uint8_t hidden;
    char description[kDescriptionLength];
    uint8_t hostSpecific;
    uint8_t reserved;
    uint8_t rebootRequired;
    uint8_t maintenanceModeRequired;
};

#pragma pack(pop)

static_assert(sizeof(IntOption) == 549);
static_assert(offsetof(IntOption, defaultValue) == 0);
static_assert(offsetof(IntOption, minimum) == 8);
static_assert(offsetof(IntOption, maximum) == 16);
static_assert(offsetof(IntOption, currentValue) == 24);
static_assert(offsetof(IntOption, hidden) == 32);
static_assert(offsetof(IntOption, description) == 33);
static_assert(offsetof(IntOption, hostSpecific) == 545);
static_assert(offsetof(IntOption, rebootRequired) == 547);
static_assert(offsetof(IntOption, maintenanceModeRequired) == 548);

static_assert(sizeof(StrOption) == 1573);
static_assert(offsetof(StrOption, defaultValue) == 0);
static_assert(offsetof(StrOption, validCharacters) == 512);
static_assert(offsetof(StrOption, currentValue) == 544);
static_assert(offsetof(StrOption, hidden) == 1056);
static_assert(offsetof(StrOption, description) == 1057);
static_assert(offsetof(StrOption, hostSpecific) == 1569);
static_assert(offsetof(StrOption, rebootRequired) == 1571);
static_assert(offsetof(StrOption, maintenanceModeRequired) == 1572);

// The marker record kept per branch at /config (instance: branch name), so that
// listing /config names every branch, even one without options.
struct Branch {
    uint8_t present;
};

}  // namespace Ksi::Adv
