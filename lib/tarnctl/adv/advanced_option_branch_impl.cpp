// The advanced-option tree: a branch of named kernel tunables.
#include "adv/advanced_option_branch_impl.h"

#include "platform/printer.h"

namespace TarnCtl::Adv {

void AdvancedOptionBranchImpl::Print(TarnCtl::Lib::ObjectPrinter* printer) {
    printer->SetType("Advanced Option Branch");
    printer->BeginObject();
    printer->Print("Name", GetName());
    printer->EndObject();
}

}  // namespace TarnCtl::Adv
