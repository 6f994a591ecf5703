// The advanced-option tree: the root ("ROOT"), one branch per kernel branch,
// and the "UserVars" branch of administrator-defined options.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "hostctl/adv.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Adv {

class AdvancedOptionBranchImpl : public HostCtl::Adv::AdvancedOptionBranch,
                                 public TarnCtl::Lib::TarnCtlObject {
public:
    // The root branch.
    AdvancedOptionBranchImpl();
    explicit AdvancedOptionBranchImpl(std::string branchName);

    void Refresh() override {}
    // Replays every persisted option of the branch (of every branch, for the root).
    void LoadConfig() override;
    std::string GetName() const override { return _branchName; }
    std::vector<std::unique_ptr<HostCtl::Lib::HostCtlObject>> GetChildren() override;

    std::string GetBranchName() override { return _branchName; }
    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>> GetOptions(bool includeHidden) override;
    std::unique_ptr<HostCtl::Adv::AdvancedOption> GetOptionByName(const std::string& name) override;
    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch>> GetBranches() override;
    std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch> GetBranchByName(const std::string& name) override;
    bool UpgradeConfigToConfigStore() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    bool IsRoot() const { return _branchName == "ROOT"; }
    // Names of the kernel's branches, in kernel order.
    static std::vector<std::string> GetKernelBranchNames();

protected:
    // Options of this branch with a value left in the old host configuration file.
    virtual std::vector<std::string> GetOptionsToUpgrade();
    // Moves one option's value from the file to the store.
    virtual void UpgradeOption(const std::string& option);

private:
    std::string _branchName;
};

// The "UserVars" branch: options defined by administrators, kept only in the
// configuration store.
class AdvancedUserOptionBranchImpl : public AdvancedOptionBranchImpl {
public:
    AdvancedUserOptionBranchImpl();
    void LoadConfig() override {}
    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOption>> GetOptions(bool includeHidden) override;
    std::unique_ptr<HostCtl::Adv::AdvancedOption> GetOptionByName(const std::string& name) override;
    std::vector<std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch>> GetBranches() override { return {}; }
    std::unique_ptr<HostCtl::Adv::AdvancedOptionBranch> GetBranchByName(const std::string& name) override;
    bool UpgradeConfigToConfigStore() override;
};

}  // namespace TarnCtl::Adv
