// The abstract root of every domain interface.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace HostCtl::Lib {

// Every domain interface derives from this virtually, so that an implementation
// reaching it through several interfaces holds one copy. Objects hold no lock
// between calls; a client shares one between threads at its own risk.
class HostCtlObject {
public:
    virtual ~HostCtlObject() = default;
    // Re-reads the object's state from the kernel.
    virtual void Refresh() = 0;
    // Persists the object's configuration.
    virtual void SaveConfig() = 0;
    // Applies the object's persisted configuration.
    virtual void LoadConfig() = 0;
    virtual std::string GetName() const = 0;
    // The object's children, owned by the caller.
    virtual std::vector<std::unique_ptr<HostCtlObject>> GetChildren() = 0;
};

}  // namespace HostCtl::Lib
