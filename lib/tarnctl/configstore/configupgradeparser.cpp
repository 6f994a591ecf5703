// Statement reader of the legacy configuration text. The file is read in fixed
// blocks so that memory stays bounded for any input; a statement may straddle
// two blocks. Opening a host path lives in configupgradeparser_open.cpp so this
// file builds with the standard library alone.
#include "configstore/configupgradeparser.h"

#include <cstdio>

namespace TarnCtl::ConfigStoreUtil {

ConfigUpgradeParser::ConfigUpgradeParser(std::unique_ptr<std::istream> in)
    : _in(std::move(in)), _buf(new char[kBlockSize]) {
    if (!_in || !*_in) {
        throw Exception("ConfigParser: failed to open halden.conf");
    }
}

ConfigUpgradeParser::~ConfigUpgradeParser() = default;

bool ConfigUpgradeParser::Fill() {
    if (_eof) return false;
    _in->read(_buf.get(), kBlockSize);
    _len = static_cast<size_t>(_in->gcount());
    _pos = 0;
    if (_len < kBlockSize) _eof = true;
    return _len > 0;
}

void ConfigUpgradeParser::SkipSpace() {
    while (IsSpace(Peek())) Next();
}

void ConfigUpgradeParser::Fail(const char* message) const {
    char pos[48];
    std::snprintf(pos, sizeof pos, "%d,%d: ", _line, _column);
    throw Exception(std::string("ConfigParser: ") + pos + message);
}

namespace {

// Character classes for ReadRun: 0 ordinary, 1 ends the run, 2 a line feed that
// only needs counting.
struct StopTable {
    unsigned char c[256] = {};
    StopTable(const char* stops, bool newlineEnds) {
        for (const char* p = stops; *p; ++p) c[static_cast<unsigned char>(*p)] = 1;
        c[static_cast<unsigned char>('\n')] = newlineEnds ? 1 : 2;
    }
};

const StopTable kComponentStop("/[=", false);
const StopTable kAfterIndexStop("/=", false);
const StopTable kIndexStop("]", false);
const StopTable kValueStop("\"", false);
const StopTable kLineStop("", true);

}  // namespace

// Consumes characters up to one that ends the run (left unread) and appends at
// most `room` of them to `out` (none when `out` is null). Returns the character
// that ended the run, or -1 at end of file.
int ConfigUpgradeParser::ReadRun(const unsigned char* stop, std::string* out, size_t& room) {
    for (;;) {
        if (_pos == _len && !Fill()) return -1;
        const char* begin = _buf.get() + _pos;
        const char* end = _buf.get() + _len;
        const char* p = begin;
        while (p < end && !stop[static_cast<unsigned char>(*p)]) ++p;
        size_t n = static_cast<size_t>(p - begin);
        if (n > 0) {
            if (out && room > 0) {
                size_t keep = n < room ? n : room;
                out->append(begin, keep);
                room -= keep;
            }
            _column += static_cast<int>(n);
            _pos += n;
        }
        if (p == end) continue;
        int c = static_cast<unsigned char>(*p);
        if (stop[c] == 1) return c;
        Next();  // a line feed inside the run
        if (out && room > 0) {
            out->push_back('\n');
            --room;
        }
    }
}

std::vector<ConfigUpgradeParser::SubKey> ConfigUpgradeParser::GetSubKeys() {
    std::vector<SubKey> keys;
    keys.reserve(8);
    size_t none = 0;
    for (;;) {
        SkipSpace();
        if (Peek() != '#') break;
        if (ReadRun(kLineStop.c, nullptr, none) == -1) break;
    }
    int c = Next();
    if (c == -1) {
        keys.push_back({kEnd, {}, {}});
        return keys;
    }
    if (c != '/') Fail("forward slash expected");

    // Components up to "="; every character past the limits is read and dropped.
    size_t pathRoom = kMaxPathChars;
    size_t components = 0;
    bool dropping = false;  // past the component limit
    SubKey current{kComponent, {}, {}};
    for (;;) {
        if (current.kind == kIndexedComponent) {
            // Anything between "]" and the next separator is not part of the name.
            c = ReadRun(kAfterIndexStop.c, nullptr, none);
        } else {
            c = ReadRun(kComponentStop.c, dropping ? nullptr : &current.text, pathRoom);
        }
        if (c == -1) Fail("assignment character expected");
        Next();
        if (c == '[') {
            current.kind = kIndexedComponent;
            if (ReadRun(kIndexStop.c, dropping ? nullptr : &current.index, pathRoom) == -1) {
                Fail("right bracket expected");
            }
            Next();
            continue;
        }
        if (c == '=') {
            // White space before "=" does not belong to the name.
            std::string& t = current.text;
            size_t n = t.size();
            while (n > 0 && IsSpace(static_cast<unsigned char>(t[n - 1]))) --n;
            pathRoom += t.size() - n;
            t.resize(n);
        }
        if (!dropping) {
            keys.push_back(std::move(current));
            if (++components == kMaxComponents) dropping = true;
        }
        current = SubKey{kComponent, {}, {}};
        if (c == '=') break;
    }

    SkipSpace();
    c = Next();
    if (c != '"') Fail("quote character expected");
    SubKey value{kValue, {}, {}};
    size_t valueRoom = kMaxValueChars;
    // There is no escape: the next quote ends the value. A value still open at
    // the end of the file is refused rather than taking the rest of the file.
    if (ReadRun(kValueStop.c, &value.text, valueRoom) != '"') Fail("quote character expected");
    Next();
    keys.push_back(std::move(value));
    keys.push_back({kEnd, {}, {}});
    return keys;
}

}  // namespace TarnCtl::ConfigStoreUtil
