// Tables, records and progress for hostctl output.
#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "command.h"
#include "platform/misc.h"

namespace HostCtlTool {

std::string JsonQuote(const std::string& text) { return HostCtl::Misc::JsonQuote(text); }

namespace {

bool IsInteger(const std::string& s) {
    if (s.empty() || s.size() > 20)
        return false;
    size_t i = s[0] == '-' ? 1 : 0;
    if (i == s.size())
        return false;
    if (s[i] == '0' && s.size() > i + 1)
        return false;  // keep leading-zero texts as strings
    return std::all_of(s.begin() + i, s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string JsonCell(const std::string& cell, Table::Kind kind) {
    if (kind == Table::Kind::Number && IsInteger(cell))
        return cell;
    if (kind == Table::Kind::Bool && (cell == "true" || cell == "false"))
        return cell;
    return JsonQuote(cell);
}

}  // namespace

Table::Table(std::vector<std::string> columns) : _columns(std::move(columns)), _kinds(_columns.size(), Kind::Text) {}

Table& Table::SetKind(const std::string& column, Kind kind) {
    for (size_t i = 0; i < _columns.size(); ++i)
        if (_columns[i] == column)
            _kinds[i] = kind;
    return *this;
}

void Table::AddRow(std::vector<std::string> cells) {
    cells.resize(_columns.size());
    _rows.push_back(std::move(cells));
}

void Table::Print() const {
    if (GlobalOptions().Json())
        PrintJson(std::cout);
    else
        PrintText(std::cout);
}

void Table::PrintText(std::ostream& out) const {
    std::vector<size_t> width(_columns.size());
    for (size_t i = 0; i < _columns.size(); ++i)
        width[i] = _columns[i].size();
    for (const auto& row : _rows)
        for (size_t i = 0; i < row.size(); ++i)
            width[i] = std::max(width[i], row[i].size());
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (size_t i = 0; i < cells.size(); ++i) {
            text += cells[i];
            if (i + 1 < cells.size())
                text += std::string(width[i] - cells[i].size() + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out << text << "\n";
    };
    line(_columns);
    std::vector<std::string> rule;
    for (size_t w : width)
        rule.push_back(std::string(w, '-'));
    line(rule);
    for (const auto& row : _rows)
        line(row);
}

void Table::PrintJson(std::ostream& out) const {
    out << "[";
    for (size_t r = 0; r < _rows.size(); ++r) {
        out << (r ? ",\n " : "\n ") << "{";
        for (size_t i = 0; i < _columns.size(); ++i)
            out << (i ? ", " : "") << JsonQuote(_columns[i]) << ": " << JsonCell(_rows[r][i], _kinds[i]);
        out << "}";
    }
    out << (_rows.empty() ? "]\n" : "\n]\n");
}

Record& Record::Add(const std::string& key, const std::string& value) {
    _fields.push_back({key, value, Field::Str, nullptr});
    return *this;
}
Record& Record::Add(const std::string& key, int64_t value) {
    _fields.push_back({key, std::to_string(value), Field::Raw, nullptr});
    return *this;
}
Record& Record::Add(const std::string& key, uint64_t value) {
    _fields.push_back({key, std::to_string(value), Field::Raw, nullptr});
    return *this;
}
Record& Record::Add(const std::string& key, bool value) {
    _fields.push_back({key, value ? "true" : "false", Field::Raw, nullptr});
    return *this;
}
Record& Record::AddTable(const std::string& key, const Table& table) {
    _fields.push_back({key, "", Field::Sub, std::make_shared<Table>(table)});
    return *this;
}

void Record::Print() const {
    if (GlobalOptions().Json()) {
        std::cout << "{";
        for (size_t i = 0; i < _fields.size(); ++i) {
            const Field& f = _fields[i];
            std::cout << (i ? ",\n " : "\n ") << JsonQuote(f.key) << ": ";
            if (f.kind == Field::Str)
                std::cout << JsonQuote(f.text);
            else if (f.kind == Field::Raw)
                std::cout << f.text;
            else
                f.table->PrintJson(std::cout);
        }
        std::cout << "\n}\n";
        return;
    }
    size_t width = 0;
    for (const auto& f : _fields)
        if (f.kind != Field::Sub)
            width = std::max(width, f.key.size());
    for (const auto& f : _fields) {
        if (f.kind == Field::Sub) {
            std::cout << f.key << ":\n";
            f.table->PrintText(std::cout);
        } else {
            std::cout << f.key << ":" << std::string(width - f.key.size() + 1, ' ') << f.text << "\n";
        }
    }
}

Progress::Progress(std::string what, size_t total)
    : _what(std::move(what)), _total(total), _active(isatty(STDERR_FILENO) && !GlobalOptions().Json()) {}

Progress::~Progress() {
    if (_active && _done > 0)
        std::cerr << "\r\033[K" << std::flush;
}

void Progress::Step(const std::string& item) {
    ++_done;
    if (!_active)
        return;
    std::cerr << "\r\033[K" << _what << " [" << _done << "/" << _total << "] " << item << std::flush;
}

void Message(const std::string& text) {
    if (!GlobalOptions().Json())
        std::cout << text << "\n";
}

}  // namespace HostCtlTool
