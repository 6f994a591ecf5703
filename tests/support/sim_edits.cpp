// Kernel faults and profile edits for the tests.
#include "sim_edits.h"

#include <stdexcept>

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace TarnTest {

TarnSim::Fault KernelFault(uint32_t node, TARN_ReturnStatus status, const FaultAt& at) {
    TarnSim::Fault f;
    f.module = at.module;
    f.node = node;
    f.instance = at.instance;
    f.status = status;
    f.count = at.count;
    f.op = at.op;
    f.skip = at.skip;
    return f;
}

void FailKernel(uint32_t node, TARN_ReturnStatus status, const FaultAt& at) {
    TarnSim::InjectFault(KernelFault(node, status, at));
}

std::string EditProfile(const std::string& profile, const std::function<void(rapidjson::Document&)>& edit) {
    rapidjson::Document doc;
    doc.Parse(profile.c_str());
    if (doc.HasParseError())
        throw std::runtime_error("the profile to edit is no JSON");
    edit(doc);
    rapidjson::StringBuffer text;
    rapidjson::Writer<rapidjson::StringBuffer> w(text);
    doc.Accept(w);
    return text.GetString();
}

}  // namespace TarnTest
