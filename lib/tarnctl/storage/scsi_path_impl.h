// A path: its kernel identity read lazily from the info and UID records, its
// live state read afresh on every call, its state change (recorded when the
// path's identifier survives reboots), claiming, and the native plug-in's
// view of it.
#pragma once

#include <string>

#include "hostctl/storage.h"
#include "ksi/storage.h"
#include "lib/tarnctl_object.h"
#include "platform/configstore.h"

namespace TarnCtl::Storage {

class ScsiPathImpl : public virtual HostCtl::Storage::ScsiPath, public virtual TarnCtl::Lib::TarnCtlObject {
public:
    explicit ScsiPathImpl(std::string runtimeName);

    // A path by runtime name or path UID; empty when neither matches.
    static std::unique_ptr<ScsiPathImpl> GetPath(const std::string& name);
    // The store object of a path's recorded settings.
    static HaldenConfigStore::ConfigStoreObjectId PathId(const std::string& pathUid);

    void Refresh() override;
    std::string GetName() const override { return _runtimeName; }
    // Boot: a path recorded "OFF" is set off again.
    void LoadConfig() override;
    void Print(TarnCtl::Lib::ObjectPrinter* printer) override;

    std::string GetIdentifier() override;
    std::string GetRuntimeName() override { return _runtimeName; }
    std::string GetAdapterIdentifier() override;
    std::string GetTargetIdentifier() override;
    std::string GetControllerName() override;
    uint32_t GetNSId() override;
    bool IsUniqueIdentifier() override;
    bool IsPersistableIdentifier() override;
    std::string GetDeviceIdentifier() override;
    std::unique_ptr<HostCtl::Storage::Lun> GetDevice() override;
    std::string GetAdapterName() override;
    std::unique_ptr<HostCtl::Storage::ScsiInterface> GetAdapter() override;
    std::string GetMultipathPluginIdentifier() override;
    std::unique_ptr<HostCtl::Lib::HostCtlObject> GetMultipathPlugin() override;
    void Claim() override;
    void Unclaim() override;
    uint32_t GetChannelNumber() override;
    uint32_t GetTargetNumber() override;
    uint32_t GetLun() override;
    PathState GetState() override;
    std::string GetStateString() override;
    void SetState(PathState state) override;
    std::unique_ptr<HostCtl::Storage::Nmp::NmpScsiPathConfig> GetScsiPathConfig() override;
    std::string GetTransportMapping() override;
    void GetScsiStats(HostCtl::Storage::ScsiStats& stats) override;
    uint32_t GetMaxIOSize() override;
    void RemoveNmpSettings() override;
    std::string GetDeviceUid() override;

    // Boot: replays a recorded path object (state, option strings).
    void LoadConfigInternal(const HaldenConfigStore::ConfigStoreObject& object);

private:
    void RefreshIfStale() {
        if (_stale)
            Refresh();
    }
    std::string _runtimeName;
    bool _stale = true;
    // The info record's texts back to back (adapter, device UID, plug-in,
    // controller) and its numbers: the record itself is over 400 bytes, most
    // of it padding of fixed-size fields, and a listing makes one per path.
    struct Info {
        std::string text;
        uint16_t adapterLength = 0, deviceLength = 0, pluginLength = 0;
        uint32_t channel = 0, target = 0, lun = 0, nsId = 0, flags = 0, maxIOSize = 0;
    } _info;
    std::string InfoText(size_t at, size_t length) const { return _info.text.substr(at, length); }
    // The identifier "adapter-target-device" from the UID record, with the
    // lengths of its first two parts: the record's fixed-size fields would
    // more than double the object, and a listing makes one per path.
    std::string _identifier;
    uint32_t _adapterUidLength = 0, _targetUidLength = 0;
};

}  // namespace TarnCtl::Storage
