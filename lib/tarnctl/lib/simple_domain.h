// Base for domain objects that so far only identify and print themselves:
// the domains whose behaviour is not built yet.
#pragma once

#include <string>

#include "lib/tarnctl_object.h"
#include "platform/printer.h"

namespace TarnCtl::Lib {

template <typename Interface>
class SimpleDomainImpl : public virtual Interface, public TarnCtlObject {
public:
    SimpleDomainImpl(const char* typeName, const char* name) : _typeName(typeName), _name(name) {}
    void Refresh() override {}
    std::string GetName() const override { return _name; }
    void Print(ObjectPrinter* printer) override {
        printer->SetType(_typeName);
        printer->BeginObject();
        printer->Print("Name", _name);
        PrintEntries(printer);
        printer->EndObject();
    }

protected:
    virtual void PrintEntries(ObjectPrinter*) {}

private:
    const char* _typeName;
    const char* _name;
};

}  // namespace TarnCtl::Lib
