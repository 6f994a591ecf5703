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

std::vector<ConfigUpgradeParser::SubKey> ConfigUpgradeParser::GetSubKeys() {
    std::vector<SubKey> keys;
    for (;;) {
        SkipSpace();
        if (Peek() != '#') break;
        int c;
        do {
            c = Next();
        } while (c != -1 && c != '\n');
    }
    int c = Next();
    if (c == -1) {
        keys.push_back({kEnd, {}, {}});
        return keys;
    }
    if (c != '/') Fail("forward slash expected");

    // Components up to "="; every character past the limits is read and dropped.
    size_t pathChars = 0;
    size_t components = 0;
    bool dropping = false;  // past the component limit
    SubKey current{kComponent, {}, {}};
    auto finish = [&](bool last) {
        if (last) {
            // White space before "=" does not belong to the name.
            std::string& t = current.text;
            size_t n = t.size();
            while (n > 0 && IsSpace(static_cast<unsigned char>(t[n - 1]))) --n;
            pathChars -= t.size() - n;
            t.resize(n);
        }
        if (!dropping) {
            keys.push_back(std::move(current));
            if (++components == kMaxComponents) dropping = true;
        }
        current = SubKey{kComponent, {}, {}};
    };
    for (;;) {
        c = Next();
        if (c == -1) Fail("assignment character expected");
        if (c == '/' || c == '=') {
            finish(c == '=');
            if (c == '=') break;
            continue;
        }
        if (c == '[') {
            current.kind = kIndexedComponent;
            for (;;) {
                int d = Next();
                if (d == -1) Fail("right bracket expected");
                if (d == ']') break;
                if (!dropping && pathChars < kMaxPathChars) {
                    current.index.push_back(static_cast<char>(d));
                    ++pathChars;
                }
            }
            // Anything between "]" and the next separator is not part of the name.
            for (;;) {
                int d = Peek();
                if (d == -1 || d == '/' || d == '=') break;
                Next();
            }
            continue;
        }
        if (current.kind == kComponent && !dropping && pathChars < kMaxPathChars) {
            current.text.push_back(static_cast<char>(c));
            ++pathChars;
        }
    }

    SkipSpace();
    // "=" was consumed by the component loop; a second one is not expected here.
    c = Next();
    if (c != '"') Fail("quote character expected");
    SubKey value{kValue, {}, {}};
    for (;;) {
        c = Next();
        if (c == -1 || c == '"') break;  // there is no escape: the next quote ends it
        if (value.text.size() < kMaxValueChars) value.text.push_back(static_cast<char>(c));
    }
    keys.push_back(std::move(value));
    keys.push_back({kEnd, {}, {}});
    return keys;
}

}  // namespace TarnCtl::ConfigStoreUtil
