// Pure text and value rules of the system domain: UUID texts, the boot
// file-system UUID regrouping, recovery-key masking, escape markers, clock
// field checks, the keymap list and the alternate boot bank's build line.
#include "system/system_values.h"

#include <climits>
#include <cstdio>
#include <ctime>
#include <regex>

#include "hostctl/exception.h"
#include "platform/misc.h"

namespace TarnCtl::System {

using HostCtl::Lib::HostCtlException;
using HostCtl::System::RtcDateTime;

std::string FormatUuid(const uint8_t (&b)[16]) {
    return HostCtl::Misc::StrPrintf(
        "%02hhx%02hhx%02hhx%02hhx-%02hhx%02hhx-%02hhx%02hhx-%02hhx%02hhx-%02hhx%02hhx%02hhx%02hhx%02hhx%02hhx",
        b[0], b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14],
        b[15]);
}

std::string RegroupBootFsUuid(const std::string& raw) {
    if (raw.size() != 32) return raw;
    auto pair = [&](int n) { return raw.substr(static_cast<size_t>(n - 1) * 2, 2); };
    // Two little-endian words, one little-endian half word, then the rest as read.
    return pair(4) + pair(3) + pair(2) + pair(1) + "-" + pair(8) + pair(7) + pair(6) + pair(5) + "-" +
           pair(10) + pair(9) + "-" + raw.substr(20, 12);
}

namespace {
constexpr std::string_view kKeyPrefix = "encryptionRecoveryKey=";
constexpr size_t kMinKeyDigits = 6;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
}  // namespace

// The kernel's expression is "encryptionRecoveryKey=((\d+){6}-)*(\d+){6}":
// digit runs of at least six, joined by single dashes. A backtracking matcher
// takes exponential time on long digit runs; the match it finds is the one
// ending after the last run of at least six digits that can be reached
// through dash-separated runs of at least six, which one scan finds.
std::string MaskRecoveryKeys(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    size_t copied = 0;
    size_t at = line.find(kKeyPrefix);
    while (at != std::string::npos) {
        size_t p = at + kKeyPrefix.size();
        size_t matchEnd = std::string::npos;
        while (true) {
            size_t q = p;
            while (q < line.size() && IsDigit(line[q])) ++q;
            if (q - p < kMinKeyDigits) break;
            matchEnd = q;
            if (q >= line.size() || line[q] != '-') break;
            p = q + 1;
        }
        if (matchEnd == std::string::npos) {
            at = line.find(kKeyPrefix, at + 1);
            continue;
        }
        out.append(line, copied, at - copied);
        out += "encryptionRecoveryKey=XXXXXX-XXXXXX";
        copied = matchEnd;
        at = line.find(kKeyPrefix, matchEnd);
    }
    out.append(line, copied, std::string::npos);
    return out;
}

namespace {
constexpr std::string_view kEscMarker = "<ESC>";
}

std::string EscapeMarkersToBytes(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, kEscMarker.size(), kEscMarker) == 0) {
            out += '\x1b';
            i += kEscMarker.size();
        } else {
            out += text[i++];
        }
    }
    return out;
}

std::string EscapeBytesToMarkers(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (c == '\x1b')
            out += kEscMarker;
        else
            out += c;
    }
    return out;
}

std::string RtcFieldErrors(const RtcDateTime& t) {
    std::string errors;
    if (t.day < 1 || t.day > 31) errors += "Day is out of range (1-31). ";
    if (t.month < 1 || t.month > 12) errors += "Month is out of range (1-12). ";
    if (t.year < 1970) errors += "Epoch is 1970, no dates before 1970 allowed. ";
    if (t.hour > 23) errors += "Hour is out of range (0-23). ";
    if (t.minute > 59) errors += "Minute is out of range (0-59). ";
    if (t.second > 59) errors += "Second is out of range (0-59). ";
    return errors;
}

RtcDateTime NormaliseRtc(const RtcDateTime& t) {
    // The calendar year must fit the C library's int field.
    if (t.year > static_cast<uint32_t>(INT_MAX) - 1900u) throw HostCtlException("Invalid time specified.");
    struct tm in = {};
    in.tm_year = static_cast<int>(t.year) - 1900;
    in.tm_mon = static_cast<int>(t.month) - 1;
    in.tm_mday = static_cast<int>(t.day);
    in.tm_hour = static_cast<int>(t.hour);
    in.tm_min = static_cast<int>(t.minute);
    in.tm_sec = static_cast<int>(t.second);
    time_t seconds = timegm(&in);
    struct tm out = {};
    if (seconds == static_cast<time_t>(-1) || !gmtime_r(&seconds, &out) ||
        out.tm_year > INT_MAX - 1900)
        throw HostCtlException("Invalid time specified.");
    RtcDateTime n;
    n.day = static_cast<uint32_t>(out.tm_mday);
    n.month = static_cast<uint32_t>(out.tm_mon + 1);
    n.year = static_cast<uint32_t>(out.tm_year) + 1900u;
    n.hour = static_cast<uint32_t>(out.tm_hour);
    n.minute = static_cast<uint32_t>(out.tm_min);
    n.second = static_cast<uint32_t>(out.tm_sec);
    return n;
}

std::map<std::string, std::string> ParseKeymapList(std::istream& in) {
    std::map<std::string, std::string> keymaps;
    std::string line;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t space = line.rfind(' ');
        if (space == std::string::npos) continue;
        keymaps[line.substr(0, space)] = line.substr(space + 1);
    }
    return keymaps;
}

bool ParseAltBootBuildLine(const std::string& line, HostCtl::System::TarnVersion* out) {
    static const std::regex pattern("^build=(\\d+\\.\\d+\\.\\d)\\-(\\d+)\\.(\\d+)\\.(\\d+)");
    std::smatch m;
    if (!std::regex_search(line, m, pattern) || m.size() < 5) return false;
    out->product = "Quillon Halden";
    out->release = "Release";
    out->version = m[1].str();
    out->patch = m[2].str() + "." + m[3].str();
    out->build = m[4].str();
    return true;
}

}  // namespace TarnCtl::System

namespace HostCtl::System {

SoftwareUuid SoftwareUuid::FromBytes(const uint8_t (&raw)[16]) {
    SoftwareUuid u;
    std::copy(std::begin(raw), std::end(raw), std::begin(u.bytes));
    u.text = TarnCtl::System::FormatUuid(u.bytes);
    return u;
}

SoftwareUuid SoftwareUuid::FromText(const std::string& text) {
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    SoftwareUuid u;
    bool ok = text.size() == 36;
    size_t byte = 0;
    for (size_t i = 0; ok && i < text.size();) {
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            ok = text[i] == '-';
            ++i;
            continue;
        }
        int hi = hex(text[i]), lo = i + 1 < text.size() ? hex(text[i + 1]) : -1;
        ok = hi >= 0 && lo >= 0 && byte < 16;
        if (ok) u.bytes[byte++] = static_cast<uint8_t>(hi << 4 | lo);
        i += 2;
    }
    if (!ok || byte != 16) throw HostCtl::Lib::HostCtlException("Invalid UUID: " + text);
    u.text = TarnCtl::System::FormatUuid(u.bytes);
    return u;
}

}  // namespace HostCtl::System
