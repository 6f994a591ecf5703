// Default printing of implementation objects, and the downcast from the root
// interface to the implementation part.
#include "lib/tarnctl_object.h"

#include "platform/printer.h"

namespace TarnCtl::Lib {

void TarnCtlObject::Print(ObjectPrinter* printer) {
    printer->SetType("Object");
    printer->BeginObject();
    printer->Print("Name", GetName());
    printer->EndObject();
}

}  // namespace TarnCtl::Lib

namespace TarnCtl::Util {

TarnCtl::Lib::TarnCtlObject* tarnctl_cast(HostCtl::Lib::HostCtlObject* object) {
    return dynamic_cast<TarnCtl::Lib::TarnCtlObject*>(object);
}

}  // namespace TarnCtl::Util
