// The host's "/etc/hosts": parsed line by line into entries (lines that are not
// entries are kept as read), edited, and written back atomically with the
// columns aligned by tabs and both localhost entries present. The user's
// entries are mirrored in the store object "halden/network/etc_hosts", from
// which the file is rebuilt at boot.
#pragma once

#include <memory>
#include <string>
#include <vector>

namespace TarnCtl::Network {

class HostsFileEntry {
public:
    // An entry from one line of the file: a comment entry (holding the whole
    // line) when the line is not "address name [aliases] [#comment]".
    explicit HostsFileEntry(const std::string& line);
    HostsFileEntry(const std::string& ip, const std::string& hostName, const std::vector<std::string>& aliases,
                   const std::string& comment = "");

    bool IsComment() const { return _ip.empty(); }
    const std::string& GetIpAddress() const { return _ip; }
    void SetIpAddress(const std::string& ip) { _ip = ip; }
    const std::string& GetHostName() const { return _hostName; }
    void SetHostName(const std::string& name) { _hostName = name; }
    const std::vector<std::string>& GetAliases() const { return _aliases; }
    const std::string& GetComment() const { return _comment; }
    // Both are entries and share the address or the host name.
    bool Matches(const HostsFileEntry& other) const;
    // Takes the other entry's address, host name and aliases.
    void Replace(const HostsFileEntry& other);
    // The line as written, the address padded with tabs to the column after `width`.
    std::string GetFormattedLine(size_t width) const;

private:
    std::string _ip, _hostName, _comment;
    std::vector<std::string> _aliases;
};

class HostsFile {
public:
    using EntryPtr = std::shared_ptr<HostsFileEntry>;
    static constexpr const char* kPath = "/etc/hosts";
    static constexpr const char* kInitHeader = "# Do not modify this file directly, please use haldencli.";

    // Reads "/etc/hosts"; throws "Unable to parse /etc/hosts file." when it cannot be opened.
    void Parse();
    // Writes the file (localhost entries ensured, mode 0644); with `persist`
    // the user entries go to the store as well (failures there are logged).
    void Write(bool persist);
    const std::vector<EntryPtr>& GetEntries() const { return _entries; }
    void AddEntry(const EntryPtr& entry);
    // Every entry matching by address or name takes the new values, else one is
    // appended; a localhost name removes the matching entries instead. Writes
    // with persistence. Nothing happens when ip or name is empty.
    void AddOrReplaceEntry(const std::string& ip, const std::string& hostName, const std::vector<std::string>& aliases);
    // The user's operations: checked (ValidateItem, CheckUserItem), applied to
    // the file as read now, written and mirrored in the store.
    void AddEntryFromUser(const std::string& ip, const std::string& hostName, const std::vector<std::string>& aliases,
                          const std::string& comment);
    void RemoveEntryFromUser(const std::string& ip, const std::string& hostName);
    // Removes the entries with both this address and this name; false when none.
    bool RemoveUserEntry(const std::string& ip, const std::string& hostName);
    void RemoveEntry(const EntryPtr& entry);
    void RemoveEntryByIpAddress(const std::string& ip);
    void RemoveEntryByHostName(const std::string& name);
    void ReplaceHostName(const std::string& oldName, const std::string& newName);
    void ReplaceIpAddress(const std::string& oldIp, const std::string& newIp);
    bool HasEntryForIp(const std::string& ip) const;
    bool HasEntryForHostName(const std::string& name) const;
    void EnsureLocalhostEntries();
    // Writes a new file: the header, the stored user entries, localhost.
    void InitEtcHosts();
    // Adds the stored user entries to the file as it is (boot).
    void RestoreEtcHosts();
    // Mirrors the user entries in the store; failures are logged.
    void SaveConfigStore();
    // The user entries recorded in the store.
    static std::vector<HostsFileEntry> GetEntriesFromConfig();
    static void ValidateItem(const std::string& ip, const std::string& hostName,
                             const std::vector<std::string>& aliases, const std::string& comment);
    static void CheckUserItem(const std::string& ip, const std::string& hostName, bool adding);
    void Reset();

    // Parses the file when it exists, else starts from a new file's contents:
    // the header, the stored user entries and the localhost entries.
    void ParseOrInit();
    // The address of the management interface ("" when none is set).
    static std::string ManagementAddress();
    // True for entries the user owns: not comments, not localhost, not the management address.
    static bool IsUserEntry(const HostsFileEntry& e, const std::string& managementAddress);

private:
    size_t Width() const;
    // Every matching entry takes `wanted` (its comment too, when asked), else it is appended.
    void Merge(const HostsFileEntry& wanted, bool withComment);
    void WriteLines(const std::vector<std::string>& lines, const char* closeFailure);
    void ResetToStored();

    std::vector<EntryPtr> _entries;
};

}  // namespace TarnCtl::Network
