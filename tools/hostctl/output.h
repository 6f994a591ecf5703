// Output helpers shared by every hostctl command group: what a command prints
// for people (aligned tables, "Label: value" lines) and, with --format json,
// for scripts.
//
// How a command group prints:
//   - A listing is a Table built from human headings. With --format json it is
//     an array of objects whose keys are the headings in snake_case
//     ("Display Name" -> "display_name", "Size MB" -> "size_mb",
//     "rebootRequired" -> "reboot_required"; see JsonKey). Scripts depend on
//     these keys: when a heading changes, pin the old key with SetKey.
//   - Cells are typed: pass integers and bools as such and they print as JSON
//     numbers and booleans (`t.AddRow({name, uint64_t{size}, isLocal})`); text
//     stays a JSON string. For text cells that hold numbers (a counter already
//     formatted), SetKind(heading, Kind::Number) prints integer texts as numbers.
//   - One object is a Record with the same rules: Add(label, value) with the
//     value's own type; AddTable nests a listing.
//   - Data goes to stdout; Message() lines are for people only and are left out
//     of JSON output, so `hostctl --format json ... | jq` always gets one document.
//   - A failure about a host path names the path it tried and the host root:
//     throw CommandFailure{HostPathMessage("Unable to read", hostPath)}.
#pragma once

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <iosfwd>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace HostCtlTool {

// The JSON key of a heading: words (split at spaces, punctuation and
// lower-to-upper case changes) in lower case joined by "_".
std::string JsonKey(const std::string& heading);

// One table cell or record value with its JSON kind.
class Cell {
public:
    enum class Kind { Text, Number, Bool };
    Cell(std::string text) : _text(std::move(text)) {}
    Cell(const char* text) : _text(text ? text : "") {}
    Cell(bool value) : _text(value ? "true" : "false"), _kind(Kind::Bool) {}
    template <std::integral T>
        requires(!std::same_as<T, bool> && !std::same_as<T, char>)
    Cell(T value) : _text(std::to_string(value)), _kind(Kind::Number) {}
    const std::string& Text() const { return _text; }
    Kind GetKind() const { return _kind; }

private:
    std::string _text;
    Kind _kind = Kind::Text;
};

// A listing: readable aligned columns, or with --format json an array of
// objects keyed by the columns' JSON keys.
class Table {
public:
    using Kind = Cell::Kind;
    explicit Table(std::vector<std::string> headings);
    // Marks a column whose text cells are integers (or "true"/"false") so JSON
    // prints them as numbers (booleans); other texts stay strings.
    Table& SetKind(const std::string& heading, Kind kind);
    // Replaces the JSON key derived from a heading.
    Table& SetKey(const std::string& heading, std::string key);
    void AddRow(std::initializer_list<Cell> cells);
    void AddRow(std::vector<Cell> cells);
    void AddRow(const std::vector<std::string>& cells);
    size_t Rows() const { return _rows.size(); }
    // Prints in the global format to stdout.
    void Print() const;
    void PrintText(std::ostream& out) const;
    void PrintJson(std::ostream& out) const;

private:
    friend class Record;
    void WriteJson(std::ostream& out) const;  // without the final newline
    std::vector<std::string> _headings;
    std::vector<std::string> _keys;
    std::vector<Kind> _kinds;
    std::vector<std::vector<Cell>> _rows;
};

// One object: "Label: value" lines, or a JSON object keyed by JsonKey(label).
class Record {
public:
    Record& Add(const std::string& label, Cell value);
    // A nested list printed under the record (JSON: an array field).
    Record& AddTable(const std::string& label, const Table& table);
    void Print() const;
    void PrintText(std::ostream& out) const;
    void PrintJson(std::ostream& out) const;

private:
    struct Field {
        std::string label;
        Cell value;
        std::shared_ptr<Table> table;
    };
    std::vector<Field> _fields;
};

// Escapes a string for JSON output (with the quotes).
std::string JsonQuote(const std::string& text);

// "<what> <hostPath>: <real path> below host root <root>", or, for a path the
// host root refuses, "<what> <hostPath>: not a path below host root <root>".
std::string HostPathMessage(const std::string& what, const std::string& hostPath);

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
