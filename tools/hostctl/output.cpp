// Tables, records and progress for hostctl output; JSON keys and kinds are
// decided here once for every command group.
#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>

#include "command.h"
#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/misc.h"
#include "platform/printer.h"

namespace HostCtlTool {

std::string JsonQuote(const std::string& text) { return HostCtl::Misc::JsonQuote(text); }

std::string JsonKey(const std::string& heading) { return TarnCtl::Lib::JsonKey(heading); }

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

// A cell as JSON: its own kind first, then the column's.
std::string JsonCell(const Cell& cell, Cell::Kind column) {
    const std::string& text = cell.Text();
    Cell::Kind kind = cell.GetKind() == Cell::Kind::Text ? column : cell.GetKind();
    if (kind == Cell::Kind::Number && IsInteger(text))
        return text;
    if (kind == Cell::Kind::Bool && (text == "true" || text == "false"))
        return text;
    return JsonQuote(text);
}

}  // namespace

Table::Table(std::vector<std::string> headings)
    : _headings(std::move(headings)), _kinds(_headings.size(), Kind::Text) {
    for (const auto& h : _headings)
        _keys.push_back(JsonKey(h));
}

Table& Table::SetKind(const std::string& heading, Kind kind) {
    for (size_t i = 0; i < _headings.size(); ++i)
        if (_headings[i] == heading)
            _kinds[i] = kind;
    return *this;
}

Table& Table::SetKey(const std::string& heading, std::string key) {
    for (size_t i = 0; i < _headings.size(); ++i)
        if (_headings[i] == heading)
            _keys[i] = key;
    return *this;
}

void Table::AddRow(std::vector<Cell> cells) {
    cells.resize(_headings.size(), Cell(""));
    _rows.push_back(std::move(cells));
}

void Table::AddRow(std::initializer_list<Cell> cells) { AddRow(std::vector<Cell>(cells)); }

void Table::AddRow(const std::vector<std::string>& cells) { AddRow(std::vector<Cell>(cells.begin(), cells.end())); }

void Table::Print() const {
    if (GlobalOptions().Json())
        PrintJson(std::cout);
    else
        PrintText(std::cout);
}

void Table::PrintText(std::ostream& out) const {
    std::vector<size_t> width(_headings.size());
    for (size_t i = 0; i < _headings.size(); ++i)
        width[i] = _headings[i].size();
    for (const auto& row : _rows)
        for (size_t i = 0; i < row.size(); ++i)
            width[i] = std::max(width[i], row[i].Text().size());
    auto line = [&](auto cellText) {
        std::string text;
        for (size_t i = 0; i < _headings.size(); ++i) {
            const std::string& cell = cellText(i);
            text += cell;
            if (i + 1 < _headings.size())
                text += std::string(width[i] - cell.size() + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out << text << "\n";
    };
    line([&](size_t i) -> const std::string& { return _headings[i]; });
    std::vector<std::string> rule;
    for (size_t w : width)
        rule.push_back(std::string(w, '-'));
    line([&](size_t i) -> const std::string& { return rule[i]; });
    for (const auto& row : _rows)
        line([&](size_t i) -> const std::string& { return row[i].Text(); });
}

void Table::PrintJson(std::ostream& out) const {
    WriteJson(out);
    out << "\n";
}

void Table::WriteJson(std::ostream& out) const {
    out << "[";
    for (size_t r = 0; r < _rows.size(); ++r) {
        out << (r ? ",\n " : "\n ") << "{";
        for (size_t i = 0; i < _headings.size(); ++i)
            out << (i ? ", " : "") << JsonQuote(_keys[i]) << ": " << JsonCell(_rows[r][i], _kinds[i]);
        out << "}";
    }
    out << (_rows.empty() ? "]" : "\n]");
}

Record& Record::Add(const std::string& label, Cell value) {
    _fields.push_back({label, std::move(value), nullptr});
    return *this;
}

Record& Record::AddTable(const std::string& label, const Table& table) {
    _fields.push_back({label, Cell(""), std::make_shared<Table>(table)});
    return *this;
}

void Record::Print() const {
    if (GlobalOptions().Json())
        PrintJson(std::cout);
    else
        PrintText(std::cout);
}

void Record::PrintJson(std::ostream& out) const {
    out << "{";
    for (size_t i = 0; i < _fields.size(); ++i) {
        const Field& f = _fields[i];
        out << (i ? ",\n " : "\n ") << JsonQuote(JsonKey(f.label)) << ": ";
        if (f.table)
            f.table->WriteJson(out);
        else
            out << JsonCell(f.value, Cell::Kind::Text);
    }
    out << "\n}\n";
}

void Record::PrintText(std::ostream& out) const {
    size_t width = 0;
    for (const auto& f : _fields)
        if (!f.table)
            width = std::max(width, f.label.size());
    for (const auto& f : _fields) {
        if (f.table) {
            out << f.label << ":\n";
            f.table->PrintText(out);
        } else {
            out << f.label << ":" << std::string(width - f.label.size() + 1, ' ') << f.value.Text() << "\n";
        }
    }
}

std::string HostPathMessage(const std::string& what, const std::string& hostPath) {
    const std::string& root = Platform::HostRoot();
    try {
        return what + " " + hostPath + ": " + Platform::HostPath(hostPath) + " below host root " + root;
    } catch (const HostCtl::Lib::HostCtlException&) {
        return what + " " + hostPath + ": not a path below host root " + root;
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
