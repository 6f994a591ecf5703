// Test helpers that change the simulated host: kernel failures armed for the
// next calls, and host profiles edited before a host is made from them.
//
//   TarnTest::FailKernel(KSI_NODE_net_pNics_linkSet, TARN_BUSY, {.instance = "pnx3", .skip = 1});
//   TarnSim::Profile::InitHost(TarnTest::EditProfile(profile, [](rapidjson::Document& doc) {
//       doc["pci"]["devices"].Clear();
//   }));
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include <rapidjson/document.h>

#include "sim/faults.h"

namespace TarnTest {

// Which calls of a node a kernel fault strikes: those at `instance` ("a/b";
// "" any) of `op` in `module` ("" the core kernel); the first `skip` of them
// pass, the next `count` fail.
struct FaultAt {
    std::string module;
    std::string instance;
    TarnSim::KernelOp op = TarnSim::KernelOp::Any;
    unsigned int skip = 0;
    unsigned int count = 1;
};

// The fault failing the calls of `node` that `at` names with `status`.
TarnSim::Fault KernelFault(uint32_t node, TARN_ReturnStatus status, const FaultAt& at = {});
// Arms that fault.
void FailKernel(uint32_t node, TARN_ReturnStatus status, const FaultAt& at = {});

// The profile (a simulated host's JSON text) as `edit` changed it. Throws
// std::runtime_error when `profile` is no JSON.
std::string EditProfile(const std::string& profile, const std::function<void(rapidjson::Document&)>& edit);

}  // namespace TarnTest
