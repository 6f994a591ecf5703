// The storage domain object.
#include "storage/storage_info_impl.h"

#include "platform/printer.h"

namespace TarnCtl::Storage {

void StorageInfoImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Storage Info");
    printer->BeginObject();
    printer->EndObject();
}

}  // namespace TarnCtl::Storage
