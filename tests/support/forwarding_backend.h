// A kernel backend standing between the library and the backend in place:
// every call goes on to the next one, and a test overrides the calls it
// watches or changes.
#pragma once

#include <vector>

#include "platform/sysinfo.h"

namespace TarnTest {

class ForwardingBackend : public Platform::Kernel::Backend {
public:
    explicit ForwardingBackend(Platform::Kernel::Backend* next) : _next(next) {}

    TARN_ReturnStatus Get(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                          const std::vector<KSI_Param>& inputs, void* buffer, unsigned int length) override {
        return _next->Get(module, node, instance, inputs, buffer, length);
    }
    TARN_ReturnStatus Set(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                          const std::vector<KSI_Param>& inputs) override {
        return _next->Set(module, node, instance, inputs);
    }
    TARN_ReturnStatus SetStruct(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                                const void* buffer, unsigned int length) override {
        return _next->SetStruct(module, node, instance, buffer, length);
    }
    TARN_ReturnStatus List(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                           std::vector<KSI_Param>* out) override {
        return _next->List(module, node, instance, out);
    }

protected:
    Platform::Kernel::Backend& Next() const { return *_next; }

private:
    Platform::Kernel::Backend* _next;
};

// A forwarding backend in place for its lifetime; the one before it comes
// back when it goes.
class InstalledBackend : public ForwardingBackend {
public:
    InstalledBackend() : ForwardingBackend(Platform::Kernel::SetBackend(this)) {}
    ~InstalledBackend() override { Platform::Kernel::SetBackend(&Next()); }
    InstalledBackend(const InstalledBackend&) = delete;
    InstalledBackend& operator=(const InstalledBackend&) = delete;
};

}  // namespace TarnTest
