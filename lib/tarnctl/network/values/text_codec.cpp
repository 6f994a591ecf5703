// Hand-written address conversions that follow the C library's grammar step
// by step (see text_codec.h). Kept free of allocation and locale so that
// parsing and printing a million addresses stays cheap.
#include "network/values/text_codec.h"

#include <cstdio>
#include <cstring>

namespace TarnCtl::Network::Values {

namespace {

// Hex digit values by character, -1 for anything else.
struct HexTable {
    int8_t v[256];
    constexpr HexTable() : v() {
        for (int i = 0; i < 256; ++i) v[i] = -1;
        for (int i = 0; i < 10; ++i) v['0' + i] = static_cast<int8_t>(i);
        for (int i = 0; i < 6; ++i) {
            v['a' + i] = static_cast<int8_t>(10 + i);
            v['A' + i] = static_cast<int8_t>(10 + i);
        }
    }
};
constexpr HexTable kHexValue;

inline int HexValue(unsigned char c) { return kHexValue.v[c]; }

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

inline char* PutDecimal(unsigned v, char* p) {
    if (v >= 100) {
        *p++ = static_cast<char>('0' + v / 100);
        v %= 100;
        *p++ = static_cast<char>('0' + v / 10);
        *p++ = static_cast<char>('0' + v % 10);
    } else if (v >= 10) {
        *p++ = static_cast<char>('0' + v / 10);
        *p++ = static_cast<char>('0' + v % 10);
    } else {
        *p++ = static_cast<char>('0' + v);
    }
    return p;
}

constexpr char kHex[] = "0123456789abcdef";

inline char* PutHexWord(unsigned v, char* p) {
    // "%x": no leading zeros.
    if (v >= 0x1000) *p++ = kHex[(v >> 12) & 0xf];
    if (v >= 0x100) *p++ = kHex[(v >> 8) & 0xf];
    if (v >= 0x10) *p++ = kHex[(v >> 4) & 0xf];
    *p++ = kHex[v & 0xf];
    return p;
}

}  // namespace

bool IsSpaceChar(char c) {
    return c == ' ' || c == '\f' || c == '\n' || c == '\r' || c == '\t' || c == '\v';
}

const char* CStringEnd(const char* s, size_t n) {
    const void* nul = std::memchr(s, '\0', n);
    return nul ? static_cast<const char*>(nul) : s + n;
}

bool ParseIpv4(const char* s, const char* end, uint8_t out[4]) {
    // Octet by octet: 1 to 3 digits, no leading zero, at most 255, dots between.
    uint8_t tmp[4];
    for (int i = 0; i < 4; ++i) {
        if (s == end || !IsDigit(*s)) return false;
        unsigned v = static_cast<unsigned>(*s++ - '0');
        if (s != end && IsDigit(*s)) {
            if (v == 0) return false;  // leading zero
            v = v * 10 + static_cast<unsigned>(*s++ - '0');
            if (s != end && IsDigit(*s)) {
                v = v * 10 + static_cast<unsigned>(*s++ - '0');
                if (v > 255) return false;
                if (s != end && IsDigit(*s)) return false;
            }
        }
        tmp[i] = static_cast<uint8_t>(v);
        if (i < 3) {
            if (s == end || *s != '.') return false;
            ++s;
        }
    }
    if (s != end) return false;
    std::memcpy(out, tmp, 4);
    return true;
}

bool ParseIpv4Z(const char* s, uint8_t out[4]) {
    // As ParseIpv4, with the terminating NUL as the end mark (no length checks):
    // '\0' is neither a digit nor a dot, so every test below stops on it.
    uint8_t tmp[4];
    for (int i = 0; i < 4; ++i) {
        if (!IsDigit(*s)) return false;
        unsigned v = static_cast<unsigned>(*s++ - '0');
        if (IsDigit(*s)) {
            if (v == 0) return false;  // leading zero
            v = v * 10 + static_cast<unsigned>(*s++ - '0');
            if (IsDigit(*s)) {
                v = v * 10 + static_cast<unsigned>(*s++ - '0');
                if (v > 255 || IsDigit(*s)) return false;
            }
        }
        tmp[i] = static_cast<uint8_t>(v);
        if (i < 3 && *s++ != '.') return false;
    }
    if (*s != '\0') return false;
    std::memcpy(out, tmp, 4);
    return true;
}

bool ParseIpv6(const char* s, const char* end, uint8_t out[16]) {
    uint8_t tmp[16] = {};
    uint8_t* tp = tmp;
    uint8_t* const endp = tmp + 16;
    uint8_t* colonp = nullptr;

    if (s == end) return false;
    // A leading ':' must be the start of "::".
    if (*s == ':') {
        ++s;
        if (s == end || *s != ':') return false;
    }
    const char* curtok = s;
    int xdigits = 0;
    unsigned val = 0;
    while (s < end) {
        char ch = *s++;
        int digit = HexValue(static_cast<unsigned char>(ch));
        if (digit >= 0) {
            if (xdigits == 4) return false;
            val = (val << 4) | static_cast<unsigned>(digit);
            ++xdigits;
            continue;
        }
        if (ch == ':') {
            curtok = s;
            if (xdigits == 0) {
                if (colonp) return false;  // a second "::"
                colonp = tp;
                continue;
            }
            if (s == end) return false;  // trailing single ':'
            if (tp + 2 > endp) return false;
            *tp++ = static_cast<uint8_t>(val >> 8);
            *tp++ = static_cast<uint8_t>(val);
            xdigits = 0;
            val = 0;
            continue;
        }
        // The current token may be a dotted IPv4 tail running to the end.
        if (ch == '.' && tp + 4 <= endp && ParseIpv4(curtok, end, tp)) {
            tp += 4;
            xdigits = 0;
            break;
        }
        return false;
    }
    if (xdigits > 0) {
        if (tp + 2 > endp) return false;
        *tp++ = static_cast<uint8_t>(val >> 8);
        *tp++ = static_cast<uint8_t>(val);
    }
    if (colonp) {
        if (tp == endp) return false;  // "::" would stand for no group at all
        size_t n = static_cast<size_t>(tp - colonp);
        std::memmove(endp - n, colonp, n);
        std::memset(colonp, 0, static_cast<size_t>(endp - n - colonp));
        tp = endp;
    }
    if (tp != endp) return false;
    std::memcpy(out, tmp, 16);
    return true;
}

size_t FormatIpv4(const uint8_t in[4], char* out) {
    char* p = out;
    p = PutDecimal(in[0], p);
    *p++ = '.';
    p = PutDecimal(in[1], p);
    *p++ = '.';
    p = PutDecimal(in[2], p);
    *p++ = '.';
    p = PutDecimal(in[3], p);
    return static_cast<size_t>(p - out);
}

size_t FormatIpv6(const uint8_t in[16], char* out) {
    unsigned words[8];
    for (int i = 0; i < 8; ++i) words[i] = (unsigned(in[2 * i]) << 8) | in[2 * i + 1];

    // The first longest run of at least two zero groups becomes "::".
    int bestBase = -1, bestLen = 0, curBase = -1, curLen = 0;
    for (int i = 0; i < 8; ++i) {
        if (words[i] == 0) {
            if (curBase == -1) {
                curBase = i;
                curLen = 1;
            } else {
                ++curLen;
            }
        } else if (curBase != -1) {
            if (bestBase == -1 || curLen > bestLen) {
                bestBase = curBase;
                bestLen = curLen;
            }
            curBase = -1;
        }
    }
    if (curBase != -1 && (bestBase == -1 || curLen > bestLen)) {
        bestBase = curBase;
        bestLen = curLen;
    }
    if (bestBase != -1 && bestLen < 2) bestBase = -1;

    char* p = out;
    for (int i = 0; i < 8; ++i) {
        if (bestBase != -1 && i >= bestBase && i < bestBase + bestLen) {
            if (i == bestBase) *p++ = ':';
            continue;
        }
        if (i != 0) *p++ = ':';
        // IPv4-compatible (::a.b.c.d) and IPv4-mapped (::ffff:a.b.c.d) forms.
        if (i == 6 && bestBase == 0 && (bestLen == 6 || (bestLen == 5 && words[5] == 0xffff))) {
            p += FormatIpv4(in + 12, p);
            return static_cast<size_t>(p - out);
        }
        p = PutHexWord(words[i], p);
    }
    if (bestBase != -1 && bestBase + bestLen == 8) *p++ = ':';
    return static_cast<size_t>(p - out);
}

bool ParseMac(const char* text, uint8_t out[6]) {
    // Fast path for plain hex fields; anything else (white space, signs, a
    // "0x" prefix, short input) is left to sscanf itself so that the grammar
    // stays exactly sscanf's.
    uint8_t tmp[6];
    const char* p = text;
    bool plain = true;
    for (int i = 0; i < 6 && plain; ++i) {
        int hi = HexValue(static_cast<unsigned char>(p[0]));
        if (hi < 0 || (p[0] == '0' && (p[1] == 'x' || p[1] == 'X'))) {
            plain = false;
            break;
        }
        int lo = HexValue(static_cast<unsigned char>(p[1]));
        if (lo >= 0) {
            tmp[i] = static_cast<uint8_t>(hi << 4 | lo);
            p += 2;
        } else {
            tmp[i] = static_cast<uint8_t>(hi);
            p += 1;
        }
        if (i < 5) {
            if (*p != ':') {
                plain = false;
                break;
            }
            ++p;
        }
    }
    if (plain) {
        std::memcpy(out, tmp, 6);
        return true;
    }
    unsigned char b[6];
    if (std::sscanf(text, "%2hhx:%2hhx:%2hhx:%2hhx:%2hhx:%2hhx", &b[0], &b[1], &b[2], &b[3],
                    &b[4], &b[5]) != 6)
        return false;
    std::memcpy(out, b, 6);
    return true;
}

void FormatMac(const uint8_t in[6], char* out) {
    for (int i = 0; i < 6; ++i) {
        out[3 * i] = kHex[in[i] >> 4];
        out[3 * i + 1] = kHex[in[i] & 0xf];
        if (i < 5) out[3 * i + 2] = ':';
    }
}

uint32_t ReadPrefixNumber(const char* s, const char* end, bool* overflow) {
    *overflow = false;
    while (s < end && IsSpaceChar(*s)) ++s;
    uint64_t v = 0;
    while (s < end && IsDigit(*s)) {
        v = v * 10 + static_cast<unsigned>(*s++ - '0');
        if (v > 0xffffffffull) {
            *overflow = true;
            return 0;
        }
    }
    return static_cast<uint32_t>(v);
}

}  // namespace TarnCtl::Network::Values
