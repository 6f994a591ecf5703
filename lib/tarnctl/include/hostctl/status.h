// Kernel status codes as the library tests them. The kernel owns the values;
// the texts come from TARN_ReturnStatusToString, which the platform layer supplies.
#pragma once

#include <cstdint>
#include <string>

typedef uint32_t TARN_ReturnStatus;

// Codes tested by value somewhere in the library. One place, so that a code
// with two readings (0xbad0003 is "not found" to file code and "not supported"
// to device code) is named once and both names visibly share it.
enum : TARN_ReturnStatus {
    TARN_OK = 0,
    TARN_FAILURE = 0x0bad0001,
    TARN_WOULD_BLOCK = 0x0bad0002,
    TARN_NOT_FOUND = 0x0bad0003,
    TARN_NOT_SUPPORTED_BY_TARGET = 0x0bad0003,
    TARN_BUSY = 0x0bad0004,
    TARN_EXISTS = 0x0bad0005,
    TARN_LIMIT_EXCEEDED = 0x0bad0006,
    TARN_ALREADY_ENABLED = 0x0bad0007,
    TARN_BAD_PARAM = 0x0bad0009,
    TARN_NO_MEMORY = 0x0bad000b,
    TARN_NOT_SUPPORTED = 0x0bad0020,
    TARN_TIMEOUT = 0x0bad0021,
    TARN_NO_PERMISSION = 0x0bad0022,
    TARN_INVALID_STATE = 0x0bad0036,
    TARN_NOT_EMPTY = 0x0bad0056,
    TARN_MODULE_NOT_LOADED = 0x0bad0060,
    TARN_MISSING_PARAMETER = 0x0bad0083,
};

// The kernel's text for a status; unknown codes get "Unknown status 0x...".
const char* TARN_ReturnStatusToString(TARN_ReturnStatus status);

namespace HostCtl::Lib {
// "0xbad0004": the hexadecimal form used in "; Status(...)= ..." message tails.
std::string StatusHex(TARN_ReturnStatus status);
// "; Status(0xbad0004)= Busy": the tail every kernel failure message ends with.
std::string StatusTail(TARN_ReturnStatus status);
}
