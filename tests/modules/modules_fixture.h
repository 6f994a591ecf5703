// Shared helpers of the module and boot-option tests: a fresh simulated host
// per test, the store objects, and a way to run a host tool as an oracle.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fixture.h"
#include "platform/audit.h"
#include "platform/configstore.h"
#include "sim/profile.h"

namespace ModTest {

class ModulesHostTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    }
    static std::shared_ptr<HaldenConfigStore::ConfigStore> Store() {
        return HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
    }
    static std::shared_ptr<HaldenConfigStore::ConfigStoreObject> ModuleSettings(const std::string& name) {
        return Store()->Get(HaldenConfigStore::ConfigStoreObjectId("module_settings", "tarnos", "halden", name));
    }
    static std::shared_ptr<HaldenConfigStore::ConfigStoreObject> BootOptions() {
        return Store()->Get(HaldenConfigStore::ConfigStoreObjectId("options", "tarnos", "halden"));
    }
    // The real path of a host file.
    std::string Real(const std::string& hostPath) const { return Root() + hostPath; }
};

// Runs `argv` (no shell) and returns its standard output; fails the test on a
// non-zero exit.
std::string Run(const std::vector<std::string>& argv);

struct Outcome {
    int status = -1;  // exit status
    std::string out, err;
};
// Runs `argv` (no shell) and collects its exit status and both outputs.
Outcome RunCapture(const std::vector<std::string>& argv);

// Reads a whole real file / writes one.
std::string ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::string& content);

}  // namespace ModTest
