// Shared helpers of the advanced-option tests: a fresh simulated host per test
// and typed access to options by path.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "adv/adv_config.h"
#include "adv/advanced_option_impl.h"
#include "fixture.h"
#include "hostctl/adv.h"
#include "platform/audit.h"
#include "platform/configstore.h"
#include "sim/profile.h"

namespace AdvTest {

class AdvHostTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    }

    template <typename T>
    static std::unique_ptr<T> Find(const std::string& path) {
        auto o = TarnCtl::Adv::AdvancedOptionImpl::FindOption(path);
        auto* typed = dynamic_cast<T*>(o.get());
        if (!typed) throw std::runtime_error("option " + path + " has another type");
        o.release();
        return std::unique_ptr<T>(typed);
    }
    static std::unique_ptr<HostCtl::Adv::AdvancedIntegerOption> Int(const std::string& path) {
        return Find<HostCtl::Adv::AdvancedIntegerOption>(path);
    }
    static std::unique_ptr<HostCtl::Adv::AdvancedStringOption> Str(const std::string& path) {
        return Find<HostCtl::Adv::AdvancedStringOption>(path);
    }
    static std::shared_ptr<HaldenConfigStore::ConfigStoreObject> StoreObject(const std::string& key,
                                                                             const std::string& component = "halden") {
        return TarnCtl::Adv::AdvStore()->Get(
            HaldenConfigStore::ConfigStoreObjectId(key, "advanced_options", component));
    }
    static std::vector<Platform::Audit::Record> Audit() { return Platform::Audit::ReadLog(); }
};

// The items of an audit record as "key=value" joined by ",".
inline std::string Items(const Platform::Audit::Record& r) {
    std::string s;
    for (const auto& [k, v] : r.items) s += (s.empty() ? "" : ",") + k + "=" + v;
    return s;
}

}  // namespace AdvTest
