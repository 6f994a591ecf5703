// The object printer of the host's core management library. Objects describe
// themselves through SetType / BeginObject / Print(label, value) / PrintObject /
// EndObject; the printer renders an indented text layout or JSON.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace TarnCtl::Lib {

class TarnCtlObject;

// The JSON key of a human label, the one naming rule of every JSON output
// (this printer and the tool's listings): words (split at spaces, punctuation
// and lower-to-upper case changes) in lower case joined by "_"
// ("Display Name" -> "display_name", "rebootRequired" -> "reboot_required",
// "Size MB" -> "size_mb").
std::string JsonKey(const std::string& label);

class ObjectPrinter {
public:
    enum class Format { Text, Json };
    explicit ObjectPrinter(std::ostream& out, Format format = Format::Text);
    virtual ~ObjectPrinter();
    ObjectPrinter(const ObjectPrinter&) = delete;
    ObjectPrinter& operator=(const ObjectPrinter&) = delete;

    virtual void BeginObject();
    virtual void EndObject();
    virtual void Print(const char* label, bool value);
    virtual void Print(const char* label, const char* value);
    virtual void Print(const char* label, const std::string& value);
    virtual void PrintObject(TarnCtlObject* object);

    void SetType(const char* typeName);
    void Print(const char* label, uint8_t value, bool hex = false, const char* unit = nullptr);
    void Print(const char* label, uint16_t value, bool hex = false, const char* unit = nullptr);
    void Print(const char* label, uint32_t value, bool hex = false, const char* unit = nullptr);
    void Print(const char* label, uint64_t value, bool hex = false, const char* unit = nullptr);
    void Print(const char* label, int32_t value, bool hex = false, const char* unit = nullptr);
    void Print(const char* label, int64_t value, bool hex = false, const char* unit = nullptr);
    // Ends the output (closes JSON); called once when the top object is done.
    void Finish();

    // Prints a labelled list of child objects; the destructor closes the list.
    class VectorPrinterHelper {
    public:
        VectorPrinterHelper(const char* label, ObjectPrinter* printer);
        ~VectorPrinterHelper();
        VectorPrinterHelper(const VectorPrinterHelper&) = delete;
        VectorPrinterHelper& operator=(const VectorPrinterHelper&) = delete;
        void Print(TarnCtlObject* object);

    private:
        ObjectPrinter* _printer;
    };

private:
    void Entry(const char* label, const std::string& text, bool quoted);
    void Number(const char* label, uint64_t magnitude, bool negative, bool hex, const char* unit);
    void OpenList(const char* label);
    void CloseList();
    void Separator();

    std::ostream& _out;
    Format _format;
    std::string _pendingType;
    struct Frame {
        bool list;
        bool first;
        std::map<std::string, int> childTypes;  // JSON keys of nested objects so far
    };
    std::vector<Frame> _stack;
    bool _topDone = false;
};

}  // namespace TarnCtl::Lib
