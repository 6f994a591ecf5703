// A path as the device and adapter objects see it: its kernel identity,
// adapter, device, owning plug-in and live state.
#pragma once

#include <string>

#include "hostctl/storage.h"
#include "ksi/storage.h"
#include "lib/tarnctl_object.h"

namespace TarnCtl::Storage {

class ScsiPathImpl : public virtual HostCtl::Storage::ScsiPath, public virtual TarnCtl::Lib::TarnCtlObject {
public:
    explicit ScsiPathImpl(const std::string& runtimeName);

    void Refresh() override;
    std::string GetName() const override { return _runtimeName; }
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::string GetIdentifier() override;
    std::string GetRuntimeName() override { return _runtimeName; }
    std::string GetAdapterIdentifier() override;
    std::string GetTargetIdentifier() override;
    std::string GetDeviceIdentifier() override;
    std::unique_ptr<HostCtl::Storage::Lun> GetDevice() override;
    std::string GetAdapterName() override;
    std::unique_ptr<HostCtl::Storage::ScsiInterface> GetAdapter() override;
    std::string GetMultipathPluginIdentifier() override;
    uint32_t GetChannelNumber() override;
    uint32_t GetTargetNumber() override;
    uint32_t GetLun() override;
    PathState GetState() override;
    std::string GetStateString() override;
    uint32_t GetMaxIOSize() override;

private:
    void RefreshIfStale() {
        if (_stale)
            Refresh();
    }
    std::string _runtimeName;
    bool _stale = true;
    KsiStoragePathInfo _info{};
    KsiStoragePathUid _uid{};
};

}  // namespace TarnCtl::Storage
