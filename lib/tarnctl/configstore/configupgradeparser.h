// Reader of the legacy configuration text format ("/net/vswitch/child[0000]/name = "x"")
// that older hosts kept their settings in. It depends on nothing but the standard
// library so that it can be built alone (for the fuzzer) and must survive any input.
#pragma once

#include <cstddef>
#include <exception>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace TarnCtl::ConfigStoreUtil {

class ConfigUpgradeParser {
public:
    // A malformed statement or an unreadable file: "ConfigParser: " + "line,column: " + text.
    class Exception : public std::exception {
    public:
        explicit Exception(std::string message) : _message(std::move(message)) {}
        const char* what() const noexcept override { return _message.c_str(); }

    private:
        std::string _message;
    };

    enum Kind { kEnd = 0, kComponent = 1, kIndexedComponent = 2, kValue = 3 };

    struct SubKey {
        int kind;
        std::string text;   // component name or value
        std::string index;  // index text of an indexed component
    };

    static constexpr size_t kBlockSize = 16384;
    static constexpr size_t kMaxPathChars = 8191;   // all components of one statement
    static constexpr size_t kMaxValueChars = 8191;  // one value
    static constexpr size_t kMaxEntries = 128;      // components + value + end mark
    static constexpr size_t kMaxComponents = kMaxEntries - 2;

    // Opens a host path (resolved below the host root). Throws Exception
    // "ConfigParser: failed to open halden.conf" when it cannot be read.
    explicit ConfigUpgradeParser(const char* path);
    // Reads from a stream the caller prepared (tests, the fuzzer, stdin).
    explicit ConfigUpgradeParser(std::unique_ptr<std::istream> in);
    ~ConfigUpgradeParser();
    ConfigUpgradeParser(const ConfigUpgradeParser&) = delete;
    ConfigUpgradeParser& operator=(const ConfigUpgradeParser&) = delete;

    // The next statement: its components, then the value, then the end mark.
    // At end of file a list whose only entry is the end mark.
    std::vector<SubKey> GetSubKeys();

    int GetLine() const { return _line; }
    int GetColumn() const { return _column; }

private:
    bool Fill();
    int Peek() {
        if (_pos == _len && !Fill()) return -1;
        return static_cast<unsigned char>(_buf[_pos]);
    }
    int Next() {
        if (_pos == _len && !Fill()) return -1;
        char c = _buf[_pos++];
        if (c == '\n') {
            ++_line;
            _column = 0;
        } else {
            ++_column;
        }
        return static_cast<unsigned char>(c);
    }
    static bool IsSpace(int c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
    void SkipSpace();
    int ReadRun(const unsigned char* stop, std::string* out, size_t& room);
    [[noreturn]] void Fail(const char* message) const;

    std::unique_ptr<std::istream> _in;
    std::unique_ptr<char[]> _buf;
    size_t _pos = 0;
    size_t _len = 0;
    bool _eof = false;
    int _line = 1;
    int _column = 0;
};

}  // namespace TarnCtl::ConfigStoreUtil
