// PCI address texts. The four accepted forms differ only in field widths and
// radix: two colons with a 4-digit segment is hex, with 5 digits decimal;
// one colon with a 2-digit bus is hex, with 3 digits decimal.
#include <cctype>

#include "hostctl/exception.h"
#include "hostctl/hardware.h"
#include "platform/misc.h"

namespace HostCtl::Hardware {

namespace {

// Parses exactly `width` digits of `radix` from `text` at `pos`; false otherwise.
bool Field(const std::string& text, size_t& pos, size_t width, int radix, unsigned long* out) {
    if (pos + width > text.size()) return false;
    unsigned long v = 0;
    for (size_t i = pos; i < pos + width; ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        int d = std::isdigit(c) ? c - '0' : std::isxdigit(c) ? std::tolower(c) - 'a' + 10 : -1;
        if (d < 0 || d >= radix) return false;
        v = v * radix + d;
    }
    pos += width;
    *out = v;
    return true;
}

bool Sep(const std::string& text, size_t& pos, char c) {
    if (pos >= text.size() || text[pos] != c) return false;
    ++pos;
    return true;
}

}  // namespace

PciAddress ParsePciString(const std::string& text) {
    auto invalid = [&] { return HostCtl::Lib::HostCtlException("Invalid PCI address: " + text); };
    size_t colons = 0, firstColon = text.find(':');
    for (char c : text) colons += c == ':';
    unsigned long seg = 0, bus = 0, slot = 0, fn = 0;
    size_t pos = 0;
    int radix;
    if (colons == 2) {
        if (firstColon != 4 && firstColon != 5) throw invalid();
        radix = firstColon == 4 ? 16 : 10;
        if (!Field(text, pos, firstColon, radix, &seg) || !Sep(text, pos, ':')) throw invalid();
        if (!Field(text, pos, radix == 16 ? 2 : 3, radix, &bus)) throw invalid();
    } else if (colons == 1) {
        if (firstColon != 2 && firstColon != 3) throw invalid();
        radix = firstColon == 2 ? 16 : 10;
        if (!Field(text, pos, firstColon, radix, &bus)) throw invalid();
    } else {
        throw invalid();
    }
    if (!Sep(text, pos, ':') || !Field(text, pos, 2, radix, &slot) || !Sep(text, pos, '.') ||
        !Field(text, pos, 1, radix, &fn) || pos != text.size())
        throw invalid();
    if (seg > 0xffff || bus > 0xff || slot > 0x1f || fn > 7) throw invalid();
    return {static_cast<uint16_t>(seg), static_cast<uint8_t>(bus), static_cast<uint8_t>(slot),
            static_cast<uint8_t>(fn)};
}

std::string GetSBDFString(const PciAddress& a) {
    return HostCtl::Misc::StrPrintf("%04x:%02x:%02x.%x", a.seg, a.bus, a.slot, a.func);
}

}  // namespace HostCtl::Hardware
