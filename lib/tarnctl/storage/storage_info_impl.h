// The storage domain object.
#pragma once

#include "hostctl/storage.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Storage {

class StorageInfoImpl : public virtual HostCtl::Storage::StorageInfo, public TarnCtl::Lib::TarnCtlObject {
public:
    StorageInfoImpl() = default;
    void Refresh() override {}
    std::string GetName() const override { return "storage"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;
};

}  // namespace TarnCtl::Storage
