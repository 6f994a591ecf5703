// "/etc/hosts": whole lines that match the entry pattern become entries, every
// other line is kept byte for byte. Writes go through a temporary file renamed
// over the old one, so readers never see half a file; the store mirror of the
// user's entries is best effort (a failure there is logged, the file stands).
#include "network/hosts_file.h"

#include <sys/stat.h>

#include <boost/algorithm/string/split.hpp>
#include <boost/regex.hpp>

#include "hostctl/exception.h"
#include "hostctl/nettypes.h"
#include "network/dns_config_impl.h"
#include "network/network_util.h"
#include "platform/boot.h"
#include "platform/hostroot.h"
#include "platform/log.h"
#include "platform/misc.h"

namespace TarnCtl::Network {

using HaldenConfigStore::ConfigStoreObject;
using HaldenConfigStore::ConfigStoreObjectId;
using HaldenConfigStore::StoreValue;
using HostCtl::Lib::HostCtlException;

namespace {

const char* kTag = "HostsFile";

const boost::regex& LinePattern() {
    static const boost::regex re(R"(^([0-9a-fA-F\.:].+?)\s+([a-zA-Z0-9\.-]+)\s*([^#]*)#?(.*))");
    return re;
}

std::vector<std::string> SplitAliases(const std::string& text) {
    static const boost::regex ws(R"(\s+)");
    std::vector<std::string> out;
    boost::sregex_token_iterator it(text.begin(), text.end(), ws, -1), end;
    for (; it != end; ++it)
        if (it->length() > 0) out.push_back(it->str());
    return out;
}

ConfigStoreObjectId StoreId() { return ConfigStoreObjectId("etc_hosts", kNetwork, kHalden); }

bool SameAddress(const std::string& a, const std::string& b) {
    if (a == b) return true;
    if (HostCtl::Network::Ipv4Address::IsValidAddress(a) && HostCtl::Network::Ipv4Address::IsValidAddress(b))
        return HostCtl::Network::Ipv4Address(a) == HostCtl::Network::Ipv4Address(b);
    if (HostCtl::Network::Ipv6Address::IsValidAddress(a) && HostCtl::Network::Ipv6Address::IsValidAddress(b))
        return HostCtl::Network::Ipv6Address(a) == HostCtl::Network::Ipv6Address(b);
    return false;
}

}  // namespace

// ---- Entries -----------------------------------------------------------------------------

HostsFileEntry::HostsFileEntry(const std::string& line) {
    boost::smatch m;
    if (!boost::regex_match(line, m, LinePattern())) {
        _comment = line;
        return;
    }
    _ip = m[1].str();
    _hostName = m[2].str();
    _aliases = SplitAliases(m[3].str());
    _comment = m[4].str();
}

HostsFileEntry::HostsFileEntry(const std::string& ip, const std::string& hostName,
                               const std::vector<std::string>& aliases, const std::string& comment)
    : _ip(ip), _hostName(hostName), _comment(comment), _aliases(aliases) {}

bool HostsFileEntry::Matches(const HostsFileEntry& other) const {
    if (IsComment() || other.IsComment()) return false;
    if (!_ip.empty() && !other._ip.empty() && _ip == other._ip) return true;
    return !_hostName.empty() && !other._hostName.empty() && _hostName == other._hostName;
}

void HostsFileEntry::Replace(const HostsFileEntry& other) {
    _ip = other._ip;
    _hostName = other._hostName;
    _aliases = other._aliases;
}

std::string HostsFileEntry::GetFormattedLine(size_t width) const {
    if (IsComment()) return _comment;
    long tabs = static_cast<long>(width / 8 + 1) - static_cast<long>(_ip.size() / 8);
    if (tabs < 1) tabs = 1;
    std::string line = _ip + std::string(static_cast<size_t>(tabs), '\t') + _hostName;
    for (const std::string& a : _aliases) line += " " + a;
    if (!_comment.empty()) line += " #" + _comment;
    return line;
}

// ---- The file ----------------------------------------------------------------------------

void HostsFile::Reset() { _entries.clear(); }

void HostsFile::Parse() {
    auto in = HostCtl::Misc::GetIfstream(kPath);
    if (!in || !in->is_open()) throw HostCtlException("Unable to parse /etc/hosts file.");
    Reset();
    std::string line;
    while (std::getline(*in, line)) _entries.push_back(std::make_shared<HostsFileEntry>(line));
    EnsureLocalhostEntries();
}

void HostsFile::ParseOrInit() {
    if (HostCtl::Misc::HostFileExists(kPath)) {
        Parse();
        return;
    }
    // A lost file starts again from the stored entries: a change written over
    // a bare file would otherwise record that the user's entries are gone.
    ResetToStored();
}

void HostsFile::ResetToStored() {
    Reset();
    _entries.push_back(std::make_shared<HostsFileEntry>(std::string(kInitHeader)));
    for (const HostsFileEntry& e : GetEntriesFromConfig()) _entries.push_back(std::make_shared<HostsFileEntry>(e));
    EnsureLocalhostEntries();
}

size_t HostsFile::Width() const {
    size_t width = 0;
    for (const EntryPtr& e : _entries)
        if (!e->IsComment()) width = std::max(width, e->GetIpAddress().size());
    return width;
}

void HostsFile::EnsureLocalhostEntries() {
    for (const char* ip : {"127.0.0.1", "::1"})
        if (!HasEntryForIp(ip))
            _entries.push_back(
                std::make_shared<HostsFileEntry>(ip, "localhost.localdomain", std::vector<std::string>{"localhost"}));
}

void HostsFile::WriteLines(const std::vector<std::string>& lines, const char* closeFailure) {
    std::unique_ptr<HostCtl::Misc::TmpOfstreamWrapper> out;
    try {
        out = std::make_unique<HostCtl::Misc::TmpOfstreamWrapper>(kPath, 0644);
    } catch (const HostCtlException& e) {
        throw HostCtlException(std::string("Unable to get temporary file for the writing of file ") + kPath + ": " +
                               e.what());
    }
    for (const std::string& line : lines) *out << line << '\n';
    if (!out->Stream().good()) throw HostCtlException(closeFailure);
    try {
        out->Commit();
    } catch (const HostCtlException& e) {
        std::string text = e.what();
        size_t colon = text.rfind(": ");
        throw HostCtlException(std::string("Couldn't rename temp file during write of ") + kPath + ": " +
                               (colon == std::string::npos ? text : text.substr(colon + 2)));
    }
    // Readers of every user need the file: it ends at 0644 whatever it was.
    if (::chmod(Platform::HostPath(kPath).c_str(), 0644) != 0)
        TarnCtl_LogWarnInt("%s: Unable to update permissions of /etc/hosts file.\n", kTag);
}

void HostsFile::Write(bool persist) {
    EnsureLocalhostEntries();
    const size_t width = Width();
    std::vector<std::string> lines;
    lines.reserve(_entries.size());
    for (const EntryPtr& e : _entries) lines.push_back(e->GetFormattedLine(width));
    WriteLines(lines, "Unable to close tmp file for /etc/hosts.");
    if (persist && !IsBootMode()) SaveConfigStore();
}

void HostsFile::AddEntry(const EntryPtr& entry) { _entries.push_back(entry); }

void HostsFile::AddOrReplaceEntry(const std::string& ip, const std::string& hostName,
                                  const std::vector<std::string>& aliases) {
    if (ip.empty() || hostName.empty()) return;
    HostsFileEntry wanted(ip, hostName, aliases);
    if (DnsConfigImpl::IsLocalhostName(hostName)) {
        std::erase_if(_entries, [&](const EntryPtr& e) { return e->Matches(wanted); });
    } else {
        Merge(wanted, false);
    }
    Write(true);
}

void HostsFile::Merge(const HostsFileEntry& wanted, bool withComment) {
    bool matched = false;
    for (const EntryPtr& e : _entries)
        if (e->Matches(wanted)) {
            if (withComment)
                *e = wanted;
            else
                e->Replace(wanted);
            matched = true;
        }
    if (!matched) _entries.push_back(std::make_shared<HostsFileEntry>(wanted));
}

void HostsFile::ValidateItem(const std::string& ip, const std::string& hostName,
                             const std::vector<std::string>& aliases, const std::string& comment) {
    if (!HostCtl::Network::Ipv4Address::IsValidAddress(ip) && !HostCtl::Network::Ipv6Address::IsValidAddress(ip))
        throw HostCtlException("Invalid IP address: " + ip);
    auto valid = [](const std::string& name) {
        try {
            DnsConfigImpl::ValidateFqdn(name);
            return true;
        } catch (const HostCtlException&) {
            return false;
        }
    };
    if (!valid(hostName)) throw HostCtlException("Invalid hostName: " + hostName);
    for (const std::string& a : aliases)
        if (!valid(a)) throw HostCtlException("Invalid alias: " + a);
    if (comment.find_first_of("\r\n") != std::string::npos) throw HostCtlException("Invalid comment contain newline.");
}

std::string HostsFile::ManagementAddress() {
    try {
        return GetAdvString("Net", "ManagementAddr");
    } catch (const HostCtlException& e) {
        TarnCtl_LogVerboseInt("%s: No management address: %s\n", kTag, e.what());
        return "";
    }
}

void HostsFile::CheckUserItem(const std::string& ip, const std::string& hostName, bool) {
    const std::string mgmt = ManagementAddress();
    if (!mgmt.empty() && SameAddress(ip, mgmt)) throw HostCtlException("User can not set item for management IP: " + ip);
    if (DnsConfigImpl::IsLocalhostName(hostName) || SameAddress(ip, "127.0.0.1") || SameAddress(ip, "::1"))
        throw HostCtlException("User can not set item for default loopBack.");
}

bool HostsFile::IsUserEntry(const HostsFileEntry& e, const std::string& managementAddress) {
    if (e.IsComment() || DnsConfigImpl::IsLocalhostName(e.GetHostName())) return false;
    if (SameAddress(e.GetIpAddress(), "127.0.0.1") || SameAddress(e.GetIpAddress(), "::1")) return false;
    return managementAddress.empty() || !SameAddress(e.GetIpAddress(), managementAddress);
}

void HostsFile::AddEntryFromUser(const std::string& ip, const std::string& hostName,
                                 const std::vector<std::string>& aliases, const std::string& comment) {
    ValidateItem(ip, hostName, aliases, comment);
    CheckUserItem(ip, hostName, true);
    ParseOrInit();
    Merge(HostsFileEntry(ip, hostName, aliases, comment), true);
    Write(true);
}

bool HostsFile::RemoveUserEntry(const std::string& ip, const std::string& hostName) {
    size_t before = _entries.size();
    std::erase_if(_entries, [&](const EntryPtr& e) {
        return !e->IsComment() && SameAddress(e->GetIpAddress(), ip) && e->GetHostName() == hostName;
    });
    return _entries.size() != before;
}

void HostsFile::RemoveEntryFromUser(const std::string& ip, const std::string& hostName) {
    ValidateItem(ip, hostName, {}, "");
    CheckUserItem(ip, hostName, false);
    ParseOrInit();
    if (!RemoveUserEntry(ip, hostName))
        throw HostCtlException("Unable to find an entry for IP address " + ip + " with host name " + hostName);
    Write(true);
}

void HostsFile::RemoveEntry(const EntryPtr& entry) {
    std::erase_if(_entries, [&](const EntryPtr& e) { return e == entry; });
}

void HostsFile::RemoveEntryByIpAddress(const std::string& ip) {
    std::erase_if(_entries, [&](const EntryPtr& e) { return !e->IsComment() && e->GetIpAddress() == ip; });
}

void HostsFile::RemoveEntryByHostName(const std::string& name) {
    std::erase_if(_entries, [&](const EntryPtr& e) { return !e->IsComment() && e->GetHostName() == name; });
}

void HostsFile::ReplaceHostName(const std::string& oldName, const std::string& newName) {
    for (const EntryPtr& e : _entries)
        if (!e->IsComment() && e->GetHostName() == oldName) e->SetHostName(newName);
}

void HostsFile::ReplaceIpAddress(const std::string& oldIp, const std::string& newIp) {
    for (const EntryPtr& e : _entries)
        if (!e->IsComment() && e->GetIpAddress() == oldIp) e->SetIpAddress(newIp);
}

bool HostsFile::HasEntryForIp(const std::string& ip) const {
    for (const EntryPtr& e : _entries)
        if (!e->IsComment() && e->GetIpAddress() == ip) return true;
    return false;
}

bool HostsFile::HasEntryForHostName(const std::string& name) const {
    for (const EntryPtr& e : _entries)
        if (!e->IsComment() && e->GetHostName() == name) return true;
    return false;
}

// ---- Store mirror, initialisation and restore ---------------------------------------------

void HostsFile::SaveConfigStore() {
    try {
        auto store = NetStore();
        const ConfigStoreObjectId id = StoreId();
        auto object = store->Get(id);
        if (!object) object = std::make_shared<ConfigStoreObject>(id);
        StoreValue::ObjectList list;
        const std::string mgmt = ManagementAddress();
        for (const EntryPtr& e : _entries) {
            if (!IsUserEntry(*e, mgmt)) continue;
            auto item = std::make_shared<ConfigStoreObject>(id);
            item->SetValue("ip_address", e->GetIpAddress());
            item->SetValue("name", e->GetHostName());
            item->SetValue("aliases", e->GetAliases());
            item->SetValue("comment", e->GetComment());
            list.push_back(item);
        }
        object->MutableFields()["host_names"].v = std::move(list);
        HaldenConfigStore::BootAwareTransaction tx(store);
        store->Write(object, HaldenConfigStore::BootWriteFlag(id, store->IsBoot()));
        tx.Commit();
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Failed to save /etc/hosts to configstore: %s\n", kTag, e.what());
    } catch (const std::exception& e) {
        TarnCtl_LogErrorInt("%s: Unexpected exception during save /etc/hosts: %s\n", kTag, e.what());
    }
}

std::vector<HostsFileEntry> HostsFile::GetEntriesFromConfig() {
    std::vector<HostsFileEntry> out;
    auto object = NetStore()->Get(StoreId());
    if (!object) return out;
    for (const auto& item : object->GetSubObjectInstances(HaldenConfigStore::SubObjectId("host_names"))) {
        std::string ip, name, comment;
        std::vector<std::string> aliases;
        if (!item->GetValue("ip_address", &ip) || !item->GetValue("name", &name)) {
            TarnCtl_LogWarnInt("%s: Skipping a stored /etc/hosts entry without address or name\n", kTag);
            continue;
        }
        item->GetValue("aliases", &aliases);
        item->GetValue("comment", &comment);
        out.emplace_back(ip, name, aliases, comment);
    }
    return out;
}

void HostsFile::InitEtcHosts() {
    TarnCtl_LogInfoInt("%s: initializing /etc/hosts. on Halden\n", kTag);
    try {
        ResetToStored();
        const size_t width = Width();
        std::vector<std::string> lines;
        for (const EntryPtr& e : _entries) lines.push_back(e->GetFormattedLine(width));
        WriteLines(lines, "Unable to close /etc/hosts during init.");
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Failed to init /etc/hosts: %s\n", kTag, e.what());
        throw;
    } catch (const std::exception& e) {
        TarnCtl_LogErrorInt("%s: Unexpected exception during init /etc/hosts: %s\n", kTag, e.what());
        throw HostCtlException(std::string("Unexpected exception during init /etc/hosts: ") + e.what());
    }
    TarnCtl_LogInfoInt("%s: initialized /etc/hosts.\n", kTag);
}

void HostsFile::RestoreEtcHosts() {
    TarnCtl_LogInfoInt("%s: Restore /etc/hosts.\n", kTag);
    try {
        ParseOrInit();
        for (const HostsFileEntry& stored : GetEntriesFromConfig()) Merge(stored, true);
        Write(false);
    } catch (const HostCtlException& e) {
        TarnCtl_LogErrorInt("%s: Failed to restore /etc/hosts: %s\n", kTag, e.what());
        throw;
    } catch (const std::exception& e) {
        TarnCtl_LogErrorInt("%s: Unexpected exception during restore /etc/hosts: %s\n", kTag, e.what());
        throw HostCtlException(std::string("Unexpected exception during restore /etc/hosts: ") + e.what());
    }
    TarnCtl_LogInfoInt("%s: Restored /etc/hosts.\n", kTag);
}

namespace {
// A missing file is made new (header and stored entries); an existing one keeps
// its lines and gets the stored entries back.
const Platform::Boot::Step kHosts("network.hosts", 245, [] {
    HostsFile hosts;
    if (!HostCtl::Misc::HostFileExists(HostsFile::kPath))
        hosts.InitEtcHosts();
    else
        hosts.RestoreEtcHosts();
});
}  // namespace

}  // namespace TarnCtl::Network
