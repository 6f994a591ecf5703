// Exact, allocation-free text conversions of addresses. They accept and print
// precisely what the C library's inet_pton/inet_ntop (IPv4, IPv6) and
// sscanf("%2hhx:...") (MAC) do, only faster; the tests and the fuzzer hold
// them to that.
#pragma once

#include <cstddef>
#include <cstdint>

namespace TarnCtl::Network::Values {

// inet_pton(AF_INET) over [s, end): four dotted decimal parts, no leading zeros.
bool ParseIpv4(const char* s, const char* end, uint8_t out[4]);
// The same over a NUL-terminated text (what inet_pton itself reads).
bool ParseIpv4Z(const char* s, uint8_t out[4]);
// inet_pton(AF_INET6) over [s, end), embedded dotted IPv4 tail included.
bool ParseIpv6(const char* s, const char* end, uint8_t out[16]);
// inet_ntop(AF_INET): writes at most 15 characters, returns the length (no NUL).
size_t FormatIpv4(const uint8_t in[4], char* out);
// inet_ntop(AF_INET6): writes at most 45 characters, returns the length (no NUL).
size_t FormatIpv6(const uint8_t in[16], char* out);
// sscanf(text, "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx") == 6; `text` is NUL-terminated.
bool ParseMac(const char* text, uint8_t out[6]);
// "%02x:%02x:%02x:%02x:%02x:%02x": writes 17 characters.
void FormatMac(const uint8_t in[6], char* out);

// Where a C string would end: the first NUL in [s, s + n), else s + n.
const char* CStringEnd(const char* s, size_t n);

// An unsigned decimal prefix length: leading white space skipped, digits read
// up to the first non-digit. No digits give 0. *overflow tells whether the
// digits exceed 32 bits (the value is then 0).
uint32_t ReadPrefixNumber(const char* s, const char* end, bool* overflow);

bool IsSpaceChar(char c);

}  // namespace TarnCtl::Network::Values
