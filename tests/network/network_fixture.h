// Shared helpers of the network tests: a fresh simulated host per test (the
// default profile: pnx0 10G native with an LLDP neighbour, pnx1 10G legacy
// driver, pnx2 25G link down, pnx3 25G), store and kernel access, and fault
// injection on kernel nodes.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "fixture.h"
#include "hostctl/exception.h"
#include "hostctl/network.h"
#include "ksi/network.h"
#include "network/network_util.h"
#include "platform/configstore.h"
#include "platform/log.h"
#include "sim/faults.h"
#include "sim/kernel.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace NetTest {

class NetHostTest : public TarnTest::HostTest {
protected:
    void SetUp() override {
        HostTest::SetUp();
        TarnSim::Profile::InitHost(TarnSim::Profile::DefaultProfile());
    }
    static std::shared_ptr<HaldenConfigStore::ConfigStore> Store() { return TarnCtl::Network::NetStore(); }
    // The stored object (or empty).
    static std::shared_ptr<HaldenConfigStore::ConfigStoreObject> Object(const std::string& key,
                                                                        const std::string& group,
                                                                        const std::string& instance) {
        return Store()->Get(HaldenConfigStore::ConfigStoreObjectId(key, group, "halden", instance));
    }
    static std::string Data(const std::string& key, const std::string& group, const std::string& instance) {
        auto o = Object(key, group, instance);
        return o ? o->GetData() : "<absent>";
    }
    static void Put(const std::string& key, const std::string& group, const std::string& instance,
                    const std::string& json) {
        Store()->Write(HaldenConfigStore::ConfigStoreObject::FromData(
            HaldenConfigStore::ConfigStoreObjectId(key, group, "halden", instance), json));
    }
    // The next `count` calls of `node` (for `instance`, when given; of `op`
    // only, when given) fail with `status`.
    static void Fault(uint32_t node, TARN_ReturnStatus status, const std::string& instance = "", unsigned count = 1,
                      TarnSim::KernelOp op = TarnSim::KernelOp::Any) {
        TarnTest::FailKernel(node, status, {.instance = instance, .op = op, .count = count});
    }
    static void Kernel(const std::function<void(TarnSim::KernelState&)>& fn) { TarnSim::WithState(fn, true); }
    // Runs `fn` with the store in boot mode.
    static void Booting(const std::function<void()>& fn) {
        Store()->SetBootMode(true);
        try {
            fn();
        } catch (...) {
            Store()->SetBootMode(false);
            throw;
        }
        Store()->SetBootMode(false);
    }
};

// The text of the HostCtlException `f` throws, or "<no exception>".
inline std::string Thrown(const std::function<void()>& f) {
    try {
        f();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        return e.what();
    }
    return "<no exception>";
}

}  // namespace NetTest
