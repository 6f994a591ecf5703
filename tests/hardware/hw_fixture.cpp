// The hardware tests' host and helpers.
#include "hw_fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <rapidjson/document.h>

#include <fstream>
#include <sstream>

#include "hardware/pci_info_impl.h"
#include "hardware/pci_names.h"
#include "sim/faults.h"
#include "sim/profile.h"
#include "sim_edits.h"

namespace HwTest {

std::string Profile(const std::string& devicesJson) {
    return TarnTest::EditProfile(TarnSim::Profile::DefaultProfile(), [&](rapidjson::Document& doc) {
        if (devicesJson.empty()) return;
        rapidjson::Document devices(&doc.GetAllocator());
        devices.Parse(devicesJson.c_str());
        if (devices.HasParseError()) throw std::runtime_error("bad devices JSON: " + devicesJson);
        doc["pci"]["devices"].CopyFrom(devices, doc.GetAllocator());
    });
}

void HardwareTest::SetUp() {
    TarnTest::HostTest::SetUp();
    InitHost(Profile());
}

void HardwareTest::TearDown() {
    TarnCtl::Hardware::ResetPciNameCache();
    TarnTest::HostTest::TearDown();
}

void HardwareTest::InitHost(const std::string& profile) { TarnSim::Profile::InitHost(profile); }

void HardwareTest::InitWithHardware(
    const std::function<void(rapidjson::Value&, rapidjson::Document::AllocatorType&)>& edit) {
    InitHost(TarnTest::EditProfile(Profile(), [&](rapidjson::Document& doc) {
        edit(doc["hardware"], doc.GetAllocator());
    }));
}

std::shared_ptr<HaldenConfigStore::ConfigStore> HardwareTest::Store() {
    return HaldenConfigStore::ConfigStore::GetStore(HaldenConfigStore::sGlobalNamespace);
}

std::shared_ptr<HaldenConfigStore::ConfigStoreObject> HardwareTest::Stored(const std::string& sbdf) {
    return Store()->Get(TarnCtl::Hardware::PciDeviceImpl::StoreId(sbdf));
}

std::vector<std::string> HardwareTest::StoredDevices() {
    std::vector<std::string> out;
    for (const auto& id : Store()->ListIds("hardware"))
        if (id.GetKey() == "pci_devices") out.push_back(id.GetInstanceId());
    return out;
}

std::vector<std::string> HardwareTest::Addresses() {
    std::vector<std::string> out;
    for (const auto& a : TarnCtl::Hardware::ScanPciBus()) out.push_back(HostCtl::Hardware::GetSBDFString(a));
    return out;
}

void HardwareTest::AddSwitch(const std::string& name, const std::vector<std::string>& nics) {
    auto o = std::make_shared<HaldenConfigStore::ConfigStoreObject>(
        HaldenConfigStore::ConfigStoreObjectId("switches", "network_vss", "halden", name));
    o->SetValue("name", name);
    o->CreateSubObject(HaldenConfigStore::SubObjectId("bridge"))->SetValue("nics", nics);
    Store()->Write(o);
}

Outcome HardwareTest::Hostctl(std::vector<std::string> args) {
    args.insert(args.begin(), {TEST_HOSTCTL, "--root", Root()});
    std::string outPath = Root() + "/.out", errPath = Root() + "/.err";
    pid_t pid = fork();
    if (pid == 0) {
        freopen(outPath.c_str(), "w", stdout);
        freopen(errPath.c_str(), "w", stderr);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    auto slurp = [](const std::string& p) {
        std::ifstream in(p);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    };
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, slurp(outPath), slurp(errPath)};
}

}  // namespace HwTest
