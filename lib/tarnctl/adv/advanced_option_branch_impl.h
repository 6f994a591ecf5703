// The advanced-option tree: a branch of named kernel tunables.
#pragma once

#include "hostctl/adv.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Adv {

class AdvancedOptionBranchImpl : public virtual HostCtl::Adv::AdvancedOptionBranch,
                                 public TarnCtl::Lib::TarnCtlObject {
public:
    AdvancedOptionBranchImpl() = default;
    void Refresh() override {}
    std::string GetName() const override { return "/"; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;
};

}  // namespace TarnCtl::Adv
