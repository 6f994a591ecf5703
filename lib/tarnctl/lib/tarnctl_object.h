// Common base of implementation classes: defaults for the root operations and
// the Print slot.
#pragma once

#include "hostctl/object.h"

namespace TarnCtl::Lib {

class ObjectPrinter;

class TarnCtlObject : public virtual HostCtl::Lib::HostCtlObject {
public:
    void SaveConfig() override {}
    void LoadConfig() override {}
    std::vector<std::unique_ptr<HostCtl::Lib::HostCtlObject>> GetChildren() override { return {}; }
    // Writes the object's description to the printer.
    virtual void Print(ObjectPrinter* printer);
};

}  // namespace TarnCtl::Lib

namespace TarnCtl::Util {
// The implementation part of an object known only by its root interface;
// null when the object is not one of the library's.
TarnCtl::Lib::TarnCtlObject* tarnctl_cast(HostCtl::Lib::HostCtlObject* object);
}  // namespace TarnCtl::Util
