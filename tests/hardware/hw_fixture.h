// The hardware tests' host: the default simulated host (its PCI tree,
// firmware and CPU facts), or the default host with another "pci" section.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fixture.h"
#include "hardware/pci_device_impl.h"
#include "hostctl/exception.h"
#include "platform/configstore.h"

#include <rapidjson/document.h>

namespace HwTest {

// The default profile with its "pci" devices replaced by `devicesJson` (a
// JSON array) when given.
std::string Profile(const std::string& devicesJson = "");

// The message of the HostCtlException `fn` throws, "" when it throws none.
template <typename Fn>
std::string Refusal(Fn fn) {
    try {
        fn();
    } catch (const HostCtl::Lib::HostCtlException& e) {
        return e.what();
    }
    return "";
}

struct Outcome {
    int status = -1;
    std::string out, err;
};

class HardwareTest : public TarnTest::HostTest {
public:
    void SetUp() override;
    void TearDown() override;
    // Makes the host anew from `profile`.
    void InitHost(const std::string& profile);
    // Makes the host anew from the default profile with its "hardware"
    // section changed by `edit`.
    void InitWithHardware(
        const std::function<void(rapidjson::Value&, rapidjson::Document::AllocatorType&)>& edit);
    std::shared_ptr<HaldenConfigStore::ConfigStore> Store();
    // The store object of a device, empty when there is none.
    std::shared_ptr<HaldenConfigStore::ConfigStoreObject> Stored(const std::string& sbdf);
    // Every pci_devices instance in the store.
    std::vector<std::string> StoredDevices();
    TarnCtl::Hardware::PciDeviceImpl Device(const std::string& sbdf) { return TarnCtl::Hardware::PciDeviceImpl(sbdf); }
    // Addresses of every PCI function the kernel lists.
    std::vector<std::string> Addresses();
    // Runs the built hostctl on this host root.
    Outcome Hostctl(std::vector<std::string> args);
    // Records the standard switch `name` with the uplinks `nics`.
    void AddSwitch(const std::string& name, const std::vector<std::string>& nics);
};

}  // namespace HwTest
