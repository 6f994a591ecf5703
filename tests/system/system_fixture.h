// Shared helpers of the system-domain tests: a fresh simulated host per test,
// raw kernel records, store objects, audit records and recorded kernel writes.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fixture.h"
#include "forwarding_backend.h"
#include "platform/audit.h"
#include "platform/configstore.h"
#include "platform/sysinfo.h"
#include "sim/kernel.h"
#include "sim/profile.h"
#include "sim_edits.h"
#include "system/system_info_impl.h"

namespace SystemTest {

class SystemHostTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    }

    template <class T>
    static T Record(uint32_t node, const TarnSim::InstancePath& instance = {}) {
        T out{};
        TarnSim::WithState([&](TarnSim::KernelState& s) { s.Read(node, instance, &out); });
        return out;
    }
    template <class T>
    static void PutRecord(uint32_t node, const T& value, const TarnSim::InstancePath& instance = {}) {
        TarnSim::WithState([&](TarnSim::KernelState& s) { s.Put(node, instance, value); }, true);
    }
    static void Fault(uint32_t node, TARN_ReturnStatus status, unsigned count = 1) {
        TarnTest::FailKernel(node, status, {.count = count});
    }
    static std::shared_ptr<HaldenConfigStore::ConfigStoreObject> StoreObject(const std::string& key,
                                                                             const std::string& group = "system",
                                                                             const std::string& instance = "") {
        auto id = instance.empty() ? HaldenConfigStore::ConfigStoreObjectId(key, group, "halden")
                                   : HaldenConfigStore::ConfigStoreObjectId(key, group, "halden", instance);
        return TarnCtl::System::SystemStore()->Get(id);
    }
    static std::string StoreText(const std::string& key, const std::string& field) {
        auto o = StoreObject(key);
        std::string text;
        if (o) o->GetValue(field, &text);
        return text;
    }
    static std::vector<Platform::Audit::Record> Audit() { return Platform::Audit::ReadLog(); }
    // Adds a loaded kernel module, as the module loader would.
    static void LoadModule(const std::string& name) { PutRecord<uint32_t>(KSI_NODE_system_modules, 1, {name}); }
    static std::vector<std::vector<std::string>> Signals();

    TarnCtl::System::SystemInfoImpl system;
};

// The items of an audit record as "key=value" joined by ",".
inline std::string Items(const Platform::Audit::Record& r) {
    std::string s;
    for (const auto& [k, v] : r.items) s += (s.empty() ? "" : ",") + k + "=" + v;
    return s;
}

// Records the inputs of every Set on the kernel and forwards all calls.
class RecordingBackend : public TarnTest::InstalledBackend {
public:
    struct SetCall {
        uint32_t node;
        std::vector<KSI_Param> inputs;
    };
    TARN_ReturnStatus Set(const char* m, uint32_t n, const std::vector<KSI_Param>& i,
                          const std::vector<KSI_Param>& in) override {
        {
            std::lock_guard<std::mutex> g(_mu);
            sets.push_back({n, in});
        }
        return Next().Set(m, n, i, in);
    }
    std::vector<SetCall> SetsOf(uint32_t node) const {
        std::vector<SetCall> out;
        for (const auto& s : sets)
            if (s.node == node) out.push_back(s);
        return out;
    }
    std::vector<SetCall> sets;

private:
    std::mutex _mu;
};

// Runs `fn` and returns the text of the HostCtlException it throws ("" when none).
template <class Fn>
std::string ErrorOf(Fn fn) {
    try {
        fn();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        return e.what();
    }
    return "";
}

}  // namespace SystemTest
