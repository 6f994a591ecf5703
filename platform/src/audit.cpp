// Audit records: the item list EmitAudit builds, and the audit library
// stand-in that appends one JSON line per record to /var/log/audit.log.
#include "platform/audit.h"

#include <fcntl.h>
#include <unistd.h>

#include <mutex>
#include <sstream>

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include "hostctl/exception.h"
#include "platform/hostroot.h"
#include "platform/misc.h"

namespace {
std::mutex gContextMutex;
std::string gUser, gIp, gOpId;
const char* kAuditLog = "/var/log/audit.log";
}  // namespace

void QuilAudit_LogList(const char* event, const char* user, const char* object, int result,
                       const QuilAuditItem* items) {
    rapidjson::StringBuffer buf;
    rapidjson::Writer<rapidjson::StringBuffer> w(buf);
    w.StartObject();
    w.Key("event");
    w.String(event ? event : "");
    w.Key("user");
    w.String(user ? user : "");
    w.Key("object");
    w.String(object ? object : "");
    w.Key("result");
    w.Int(result);
    w.Key("items");
    w.StartArray();
    for (const QuilAuditItem* it = items; it && (it->key || it->value); ++it) {
        w.StartArray();
        w.String(it->key ? it->key : "");
        w.String(it->value ? it->value : "");
        w.EndArray();
    }
    w.EndArray();
    w.EndObject();
    std::string line = std::string(buf.GetString(), buf.GetSize()) + "\n";
    try {
        if (!HostCtl::Misc::HostFileExists("/var/log"))
            HostCtl::Misc::WriteHostFileAtomic("/var/log/.keep", "");
        std::string path = Platform::HostPath(kAuditLog);
        int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ssize_t ignored = ::write(fd, line.data(), line.size());
            (void)ignored;
            ::close(fd);
        }
    } catch (const HostCtl::Lib::HostCtlException&) {
        // Auditing never fails the operation that emits it.
    }
}

namespace TarnCtl::Util::EmitAudit::Details {

// The returned pointers stay valid until the context is changed again.
const char* GetAuditUser() {
    std::lock_guard<std::mutex> lock(gContextMutex);
    return gUser.c_str();
}
const char* GetAuditIP() {
    std::lock_guard<std::mutex> lock(gContextMutex);
    return gIp.c_str();
}
const char* GetAuditOpId() {
    std::lock_guard<std::mutex> lock(gContextMutex);
    return gOpId.c_str();
}

void SetAuditContext(const std::string& user, const std::string& ip, const std::string& opId) {
    std::lock_guard<std::mutex> lock(gContextMutex);
    gUser = user;
    gIp = ip;
    gOpId = opId;
}

void AuditList(const std::string& event, const std::string& object, char result,
               const std::vector<std::pair<std::string, std::string>>& pairs) {
    std::string ip = GetAuditIP();
    std::string opId = GetAuditOpId();
    std::string user = GetAuditUser();
    std::vector<QuilAuditItem> items;
    items.reserve(pairs.size() + 3);
    for (const auto& [k, v] : pairs)
        items.push_back({k.c_str(), v.c_str()});
    if (!ip.empty())
        items.push_back({"ip", ip.c_str()});
    if (!opId.empty())
        items.push_back({"opID", opId.c_str()});
    items.push_back({nullptr, nullptr});
    QuilAudit_LogList(event.c_str(), user.c_str(), object.c_str(), result, items.data());
}

}  // namespace TarnCtl::Util::EmitAudit::Details

namespace Platform::Audit {

std::vector<Record> ReadLog() {
    std::vector<Record> out;
    std::string text;
    if (!HostCtl::Misc::ReadHostFile(kAuditLog, &text))
        return out;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        rapidjson::Document d;
        if (d.Parse(line.c_str()).HasParseError() || !d.IsObject())
            continue;
        Record r;
        r.event = d["event"].GetString();
        r.user = d["user"].GetString();
        r.object = d["object"].GetString();
        r.result = d["result"].GetInt();
        for (const auto& item : d["items"].GetArray())
            r.items.emplace_back(item[0].GetString(), item[1].GetString());
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace Platform::Audit
