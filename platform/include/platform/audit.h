// Audit records. EmitAudit builds the item list and hands it to QuilAudit_LogList,
// whose stand-in appends one JSON line per record to /var/log/audit.log under the
// host root. User, client address and operation id come from the caller context.
#pragma once

#include <string>
#include <utility>
#include <vector>

struct QuilAuditItem {
    const char* key;
    const char* value;
};

// The audit library's entry; the item list ends with a pair of two nulls.
void QuilAudit_LogList(const char* event, const char* user, const char* object, int result,
                       const QuilAuditItem* items);

namespace TarnCtl::Util::EmitAudit {

namespace Details {

const char* GetAuditUser();
const char* GetAuditIP();
const char* GetAuditOpId();
// Sets the caller context (process-wide); the tool sets it from its options.
void SetAuditContext(const std::string& user, const std::string& ip, const std::string& opId);

inline std::string AuditValue(const std::string& v) { return v; }
inline std::string AuditValue(const char* v) { return v ? v : ""; }

void AuditList(const std::string& event, const std::string& object, char result,
               const std::vector<std::pair<std::string, std::string>>& pairs);

inline void CollectPairs(std::vector<std::pair<std::string, std::string>>&) {}
template <typename V, typename... Rest>
void CollectPairs(std::vector<std::pair<std::string, std::string>>& out, const char* key,
                  const V& value, const Rest&... rest) {
    out.emplace_back(key, AuditValue(value));
    CollectPairs(out, rest...);
}

template <typename... KV>
void AuditImpl(const std::string& event, const std::string& object, char result,
               const KV&... keyValues) {
    static_assert(sizeof...(KV) % 2 == 0, "audit items come in key/value pairs");
    std::vector<std::pair<std::string, std::string>> pairs;
    CollectPairs(pairs, keyValues...);
    AuditList(event, object, result, pairs);
}

}  // namespace Details

template <typename... KV>
void Success(const std::string& event, const std::string& object, const KV&... keyValues) {
    Details::AuditImpl(event, object, 1, keyValues...);
}

template <typename... KV>
void Failure(const std::string& event, const std::string& reason, const std::string& object,
             const KV&... keyValues) {
    Details::AuditImpl(event, object, 0, "reason", reason, keyValues...);
}

}  // namespace TarnCtl::Util::EmitAudit

namespace Platform::Audit {
struct Record {
    std::string event, user, object;
    int result = 0;
    std::vector<std::pair<std::string, std::string>> items;
};
// Records read back from the audit log under the host root, oldest first.
std::vector<Record> ReadLog();
}  // namespace Platform::Audit
