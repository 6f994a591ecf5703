// Output helpers for hostctl: tables that also print as JSON, values, and
// progress on a terminal.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace HostCtlTool {

// A listing: readable aligned columns, or with --format json an array of
// objects keyed by column name. Cells are text; cells of columns marked
// numeric are written as JSON numbers when they parse as integers, and
// "true"/"false" cells of boolean columns as JSON booleans.
class Table {
public:
    enum class Kind { Text, Number, Bool };
    explicit Table(std::vector<std::string> columns);
    Table& SetKind(const std::string& column, Kind kind);
    void AddRow(std::vector<std::string> cells);
    size_t Rows() const { return _rows.size(); }
    // Prints in the global format to stdout.
    void Print() const;
    void PrintText(std::ostream& out) const;
    void PrintJson(std::ostream& out) const;

private:
    std::vector<std::string> _columns;
    std::vector<Kind> _kinds;
    std::vector<std::vector<std::string>> _rows;
};

// One object: "Label: value" lines, or a JSON object.
class Record {
public:
    Record& Add(const std::string& key, const std::string& value);
    Record& Add(const std::string& key, const char* value) { return Add(key, std::string(value)); }
    Record& Add(const std::string& key, int64_t value);
    Record& Add(const std::string& key, uint64_t value);
    Record& Add(const std::string& key, int value) { return Add(key, static_cast<int64_t>(value)); }
    Record& Add(const std::string& key, unsigned value) { return Add(key, static_cast<uint64_t>(value)); }
    Record& Add(const std::string& key, bool value);
    // A nested list printed under the record (JSON: an array field).
    Record& AddTable(const std::string& key, const Table& table);
    void Print() const;

private:
    struct Field {
        std::string key, text;
        enum { Str, Raw, Sub } kind;
        std::shared_ptr<Table> table;
    };
    std::vector<Field> _fields;
};

// Escapes a string for JSON output (with the quotes).
std::string JsonQuote(const std::string& text);

// Progress of a long operation: "\r[ 3/10] text" on stderr when stderr is a
// terminal (and the format is not JSON); silent otherwise.
class Progress {
public:
    Progress(std::string what, size_t total);
    ~Progress();
    void Step(const std::string& item);

private:
    std::string _what;
    size_t _total, _done = 0;
    bool _active;
};

// Prints a plain message line (suppressed in JSON mode, where commands print data only).
void Message(const std::string& text);

}  // namespace HostCtlTool
