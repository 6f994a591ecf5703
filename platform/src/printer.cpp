// The object printer: an indented "Label: value" layout, or JSON where each
// object is {"type": ..., entries...}, keys are the labels in snake_case and a
// nested object is keyed by its type.
#include "platform/printer.h"

#include <cctype>
#include <cstdio>
#include <map>

#include "lib/tarnctl_object.h"
#include "platform/misc.h"

namespace TarnCtl::Lib {
using HostCtl::Misc::JsonQuote;

ObjectPrinter::ObjectPrinter(std::ostream& out, Format format) : _out(out), _format(format) {}
std::string JsonKey(const std::string& label) {
    std::string key;
    char prev = 0;
    for (char c : label) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u)) {
            if (!key.empty() && key.back() != '_')
                key.push_back('_');
        } else {
            // "rebootRequired" -> reboot_required; "IOs" and "MB" stay one word.
            if (std::isupper(u) && prev &&
                (std::islower(static_cast<unsigned char>(prev)) || std::isdigit(static_cast<unsigned char>(prev))))
                key.push_back('_');
            key.push_back(static_cast<char>(std::tolower(u)));
        }
        prev = std::isalnum(u) ? c : 0;
    }
    while (!key.empty() && key.back() == '_')
        key.pop_back();
    return key;
}

ObjectPrinter::~ObjectPrinter() = default;

void ObjectPrinter::SetType(const char* typeName) { _pendingType = typeName ? typeName : ""; }

void ObjectPrinter::Separator() {
    if (_stack.empty())
        return;
    Frame& f = _stack.back();
    if (_format == Format::Json && !f.first)
        _out << ",";
    f.first = false;
}

static std::string Indent(size_t depth) { return std::string(depth * 3, ' '); }

void ObjectPrinter::BeginObject() {
    std::string type = _pendingType.empty() ? "Object" : _pendingType;
    _pendingType.clear();
    if (_format == Format::Text) {
        _out << Indent(_stack.size()) << type << " {\n";
    } else {
        Separator();
        if (!_stack.empty() && !_stack.back().list) {
            // Key the nested object by its type; repeats get a counter.
            int n = ++_stack.back().childTypes[type];
            std::string key = n == 1 ? type : type + " " + std::to_string(n);
            _out << JsonQuote(JsonKey(key)) << ":";
        }
        _out << "{" << JsonQuote("type") << ":" << JsonQuote(type);
    }
    // The "type" entry already stands first in JSON, so the next entry needs a comma.
    _stack.push_back({false, _format != Format::Json, {}});
}

void ObjectPrinter::EndObject() {
    if (_stack.empty())
        return;
    _stack.pop_back();
    if (_format == Format::Text)
        _out << Indent(_stack.size()) << "}\n";
    else
        _out << "}";
    if (_stack.empty())
        Finish();
}

void ObjectPrinter::Finish() {
    if (_topDone)
        return;
    _topDone = true;
    if (_format == Format::Json)
        _out << "\n";
    _out.flush();
}

void ObjectPrinter::Entry(const char* label, const std::string& text, bool quoted) {
    if (_format == Format::Text) {
        _out << Indent(_stack.size()) << label << ": " << text << "\n";
    } else {
        Separator();
        _out << JsonQuote(JsonKey(label)) << ":" << (quoted ? JsonQuote(text) : text);
    }
}

void ObjectPrinter::Print(const char* label, bool value) {
    Entry(label, value ? "true" : "false", false);
}
void ObjectPrinter::Print(const char* label, const char* value) {
    Entry(label, value ? value : "", true);
}
void ObjectPrinter::Print(const char* label, const std::string& value) { Entry(label, value, true); }

void ObjectPrinter::Number(const char* label, uint64_t magnitude, bool negative, bool hex, const char* unit) {
    char buf[32];
    if (hex)
        std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(magnitude));
    else
        std::snprintf(buf, sizeof buf, "%s%llu", negative ? "-" : "", static_cast<unsigned long long>(magnitude));
    if (_format == Format::Text) {
        std::string text = buf;
        if (unit && *unit)
            text += std::string(" ") + unit;
        Entry(label, text, false);
    } else {
        // Hex is for people; scripts get the number itself.
        std::snprintf(buf, sizeof buf, "%s%llu", negative ? "-" : "", static_cast<unsigned long long>(magnitude));
        Entry(label, buf, false);
    }
}

void ObjectPrinter::Print(const char* label, uint8_t v, bool hex, const char* unit) { Number(label, v, false, hex, unit); }
void ObjectPrinter::Print(const char* label, uint16_t v, bool hex, const char* unit) { Number(label, v, false, hex, unit); }
void ObjectPrinter::Print(const char* label, uint32_t v, bool hex, const char* unit) { Number(label, v, false, hex, unit); }
void ObjectPrinter::Print(const char* label, uint64_t v, bool hex, const char* unit) { Number(label, v, false, hex, unit); }
void ObjectPrinter::Print(const char* label, int32_t v, bool hex, const char* unit) {
    Print(label, static_cast<int64_t>(v), hex, unit);
}
void ObjectPrinter::Print(const char* label, int64_t v, bool hex, const char* unit) {
    if (hex)
        Number(label, static_cast<uint64_t>(v), false, true, unit);
    else
        Number(label, v < 0 ? 0 - static_cast<uint64_t>(v) : static_cast<uint64_t>(v), v < 0, false, unit);
}

void ObjectPrinter::PrintObject(TarnCtlObject* object) {
    if (object)
        object->Print(this);
}

void ObjectPrinter::OpenList(const char* label) {
    if (_format == Format::Text) {
        _out << Indent(_stack.size()) << label << ": [\n";
    } else {
        Separator();
        _out << JsonQuote(JsonKey(label)) << ":[";
    }
    _stack.push_back({true, true, {}});
}

void ObjectPrinter::CloseList() {
    if (_stack.empty())
        return;
    _stack.pop_back();
    if (_format == Format::Text)
        _out << Indent(_stack.size()) << "]\n";
    else
        _out << "]";
}

ObjectPrinter::VectorPrinterHelper::VectorPrinterHelper(const char* label, ObjectPrinter* printer)
    : _printer(printer) {
    _printer->OpenList(label);
}

ObjectPrinter::VectorPrinterHelper::~VectorPrinterHelper() { _printer->CloseList(); }

void ObjectPrinter::VectorPrinterHelper::Print(TarnCtlObject* object) { _printer->PrintObject(object); }

}  // namespace TarnCtl::Lib
