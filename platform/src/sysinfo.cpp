// The kernel client: the raw KSI_* calls, the Sysinfo access object and the
// parameter-list helpers, all forwarding to the process's kernel backend
// (the simulation unless a test installs another).
#include "platform/sysinfo.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>

#include "platform/backend_slot.h"
#include "platform/kevt.h"
#include "platform/log.h"

// ---- Node table ----------------------------------------------------------------

namespace {
#define KSI_NODE_PATH(name, path) {KsiNodeId(path), #name, path},
const KsiNodeEntry kNodeTable[] = {
#include "ksi/nodes.def"
};
#undef KSI_NODE_PATH
constexpr unsigned kNodeCount = sizeof(kNodeTable) / sizeof(kNodeTable[0]);
}  // namespace

const KsiNodeEntry* KsiNodeTable(unsigned int* count) {
    if (count)
        *count = kNodeCount;
    return kNodeTable;
}

const KsiNodeEntry* KsiNodeById(uint32_t id) {
    // Built once; the table is static, so a sorted index needs no lock after that.
    static const std::vector<const KsiNodeEntry*> sorted = [] {
        std::vector<const KsiNodeEntry*> v;
        for (const auto& e : kNodeTable)
            v.push_back(&e);
        std::sort(v.begin(), v.end(), [](auto* a, auto* b) { return a->id < b->id; });
        return v;
    }();
    auto it = std::lower_bound(sorted.begin(), sorted.end(), id,
                               [](const KsiNodeEntry* e, uint32_t v) { return e->id < v; });
    return it != sorted.end() && (*it)->id == id ? *it : nullptr;
}

// ---- Raw interface ---------------------------------------------------------------

std::string KSI_Param::AsText() const {
    return kind == Integer ? std::to_string(number) : text;
}

KSI_ParamListInt* KSI_ParamListCreate() {
    return new KSI_ParamListInt;
}

void KSI_ParamListDestroy(KSI_ParamListInt* list) {
    delete list;
}

namespace {
const std::vector<KSI_Param>& Params(const KSI_ParamListInt* list) {
    static const std::vector<KSI_Param> empty;
    return list ? list->params : empty;
}
}  // namespace

TARN_ReturnStatus KSI_Get(const char* module, uint32_t node, const KSI_ParamListInt* instance,
                          const KSI_ParamListInt* inputs, void* buffer, unsigned int length) {
    return Platform::Kernel::GetBackend().Get(module, node, Params(instance), Params(inputs), buffer,
                                              length);
}

TARN_ReturnStatus KSI_Set(const char* module, uint32_t node, const KSI_ParamListInt* instance,
                          const KSI_ParamListInt* inputs) {
    return Platform::Kernel::GetBackend().Set(module, node, Params(instance), Params(inputs));
}

TARN_ReturnStatus KSI_SetStruct(const char* module, uint32_t node, const KSI_ParamListInt* instance,
                                const void* buffer, unsigned int length) {
    return Platform::Kernel::GetBackend().SetStruct(module, node, Params(instance), buffer, length);
}

TARN_ReturnStatus KSI_GetInstanceListAlloc(const char* module, uint32_t node,
                                           const KSI_ParamListInt* instance, KSI_ParamListInt** out) {
    if (!out)
        return TARN_BAD_PARAM;
    *out = nullptr;
    auto list = std::make_unique<KSI_ParamListInt>();
    TARN_ReturnStatus st =
        Platform::Kernel::GetBackend().List(module, node, Params(instance), &list->params);
    if (st == TARN_OK)
        *out = list.release();
    return st;
}

namespace Platform::Kernel {

TARN_ReturnStatus Backend::HasInstance(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                                       std::string_view key, bool* found) {
    *found = false;
    std::vector<KSI_Param> keys;
    TARN_ReturnStatus st = List(module, node, instance, &keys);
    if (st == TARN_OK)
        *found = std::any_of(keys.begin(), keys.end(), [&](const KSI_Param& k) { return k.AsText() == key; });
    return st;
}

TARN_ReturnStatus Backend::ListNames(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                                     std::vector<std::string>* out) {
    std::vector<KSI_Param> keys;
    TARN_ReturnStatus st = List(module, node, instance, &keys);
    out->clear();
    if (st == TARN_OK) {
        // The keys are ours: move their text rather than copy it.
        out->reserve(keys.size());
        for (auto& k : keys)
            out->push_back(k.kind == KSI_Param::Integer ? std::to_string(k.number) : std::move(k.text));
    }
    return st;
}

namespace {
// Answers when no kernel registered itself: every call fails, loudly once.
class NoKernel : public Backend {
public:
    TARN_ReturnStatus Get(const char*, uint32_t, const std::vector<KSI_Param>&,
                          const std::vector<KSI_Param>&, void*, unsigned int) override {
        return Missing();
    }
    TARN_ReturnStatus Set(const char*, uint32_t, const std::vector<KSI_Param>&,
                          const std::vector<KSI_Param>&) override {
        return Missing();
    }
    TARN_ReturnStatus SetStruct(const char*, uint32_t, const std::vector<KSI_Param>&, const void*,
                                unsigned int) override {
        return Missing();
    }
    TARN_ReturnStatus List(const char*, uint32_t, const std::vector<KSI_Param>&,
                           std::vector<KSI_Param>*) override {
        return Missing();
    }

private:
    static TARN_ReturnStatus Missing() {
        static std::once_flag once;
        std::call_once(once, [] {
            TarnCtl_LogErrorInt("%s: No kernel backend is registered\n", "Sysinfo");
        });
        return TARN_NOT_SUPPORTED;
    }
};

constinit BackendSlot<Backend, NoKernel> gSlot;
}  // namespace

Backend& GetBackend() { return gSlot.Get(); }
Backend* SetBackend(Backend* backend) { return gSlot.Set(backend); }
void RegisterDefaultBackend(Backend* backend) { gSlot.RegisterDefault(backend); }

}  // namespace Platform::Kernel

// ---- Client -------------------------------------------------------------------

namespace TarnCtl::Util {

namespace {
KSI_Param TextParam(std::string_view s, KSI_Param::Kind kind = KSI_Param::String) {
    KSI_Param p;
    p.kind = kind;
    p.text = std::string(s);
    return p;
}
KSI_Param IntParam(int64_t n) {
    KSI_Param p;
    p.kind = KSI_Param::Integer;
    p.number = n;
    return p;
}
bool ParseLong(const KSI_Param& p, long* out) {
    if (p.kind == KSI_Param::Integer) {
        *out = static_cast<long>(p.number);
        return true;
    }
    if (p.text.empty())
        return false;
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(p.text.c_str(), &end, 0);
    if (errno || *end)
        return false;
    *out = v;
    return true;
}
}  // namespace

Sysinfo::Sysinfo(unsigned int nodeId) : _node(nodeId) {}

void Sysinfo::SetMessageForError(TARN_ReturnStatus status, const char* message) {
    _messages[status] = message ? message : "";
}

void Sysinfo::SetInstance(std::string_view key) {
    _instance.clear();
    _mark = 0;
    AddInstancePath(key);
}
void Sysinfo::SetInstance(unsigned long key) {
    _instance.clear();
    _mark = 0;
    AddInstancePath(key);
}
void Sysinfo::SetInstance(long key) {
    _instance.clear();
    _mark = 0;
    AddInstancePath(key);
}
void Sysinfo::AddInstancePath(std::string_view key) {
    _instance.push_back(TextParam(key));
}
void Sysinfo::AddInstancePath(unsigned long key) {
    _instance.push_back(IntParam(static_cast<int64_t>(key)));
}
void Sysinfo::AddInstancePath(long key) {
    _instance.push_back(IntParam(key));
}
void Sysinfo::RemoveInstancePath() {
    if (!_instance.empty())
        _instance.pop_back();
    if (_mark > _instance.size())
        _mark = _instance.size();
}
void Sysinfo::ResetInstance() {
    _instance.clear();
    _mark = 0;
}
void Sysinfo::SetMark() {
    _mark = _instance.size();
}
void Sysinfo::SetMarkInstance(std::string_view key) {
    // A walk over siblings replaces the one text key after the mark: its
    // storage takes the next key without a new allocation.
    if (_instance.size() == _mark + 1 && _instance.back().kind == KSI_Param::String) {
        _instance.back().text.assign(key);
        return;
    }
    _instance.resize(_mark);
    AddInstancePath(key);
}
void Sysinfo::SetMarkInstance(long key) {
    _instance.resize(_mark);
    AddInstancePath(key);
}

bool Sysinfo::IsValidInstance(std::string_view key) {
    bool found = false;
    return Platform::Kernel::GetBackend().HasInstance(Module(), _node, _instance, key, &found) == TARN_OK && found;
}
bool Sysinfo::IsValidInstance(long key) {
    return IsValidInstance(std::to_string(key));
}

void Sysinfo::AddInput(std::string_view value) {
    _inputs.push_back(TextParam(value));
}
void Sysinfo::AddInput(long value) {
    _inputs.push_back(IntParam(value));
}
void Sysinfo::AddInput(unsigned long value) {
    _inputs.push_back(IntParam(static_cast<int64_t>(value)));
}
void Sysinfo::AddLongStringInput(std::string_view value) {
    _inputs.push_back(TextParam(value, KSI_Param::LongString));
}
void Sysinfo::ResetInput() {
    _inputs.clear();
}
void Sysinfo::Reset() {
    ResetInstance();
    ResetInput();
}

std::string Sysinfo::MessageFor(TARN_ReturnStatus status) const {
    if (auto it = _messages.find(status); it != _messages.end())
        return it->second;
    if (!_defaultMessage.empty())
        return _defaultMessage;
    return TARN_ReturnStatusToString(status);
}

void Sysinfo::ThrowStatus(TARN_ReturnStatus& status, const HostCtl::Lib::KevtMessage& kevts) {
    std::string message = MessageFor(status);
    if (_verbose) {
        const KsiNodeEntry* e = KsiNodeById(_node);
        std::string where = e ? e->path : HostCtl::Lib::StatusHex(_node);
        for (const auto& k : _instance)
            where += (where.empty() || where.back() != '/' ? "/" : "") + k.AsText();
        message += " (node " + where + ")" + HostCtl::Lib::StatusTail(status);
    }
    throw TarnCtl::Lib::SysinfoException(message, status, kevts);
}

TARN_ReturnStatus Sysinfo::Finish(TARN_ReturnStatus status, HostCtl::Lib::KevtMessage kevts) {
    if (status != TARN_OK && _throw)
        ThrowStatus(status, kevts);
    return status;
}

TARN_ReturnStatus Sysinfo::Get(void* buffer, unsigned int length) {
    TarnCtl::Lib::TarnCtlKevtLib kevt;
    TARN_ReturnStatus st =
        Platform::Kernel::GetBackend().Get(Module(), _node, _instance, _inputs, buffer, length);
    if (st == TARN_OK)
        return st;
    HostCtl::Lib::KevtMessage msg;
    kevt.KevtsToKevtMessage(msg);
    return Finish(st, msg);
}

TARN_ReturnStatus Sysinfo::Set() {
    TarnCtl::Lib::TarnCtlKevtLib kevt;
    TARN_ReturnStatus st = Platform::Kernel::GetBackend().Set(Module(), _node, _instance, _inputs);
    if (st == TARN_OK)
        return st;
    HostCtl::Lib::KevtMessage msg;
    kevt.KevtsToKevtMessage(msg);
    return Finish(st, msg);
}

TARN_ReturnStatus Sysinfo::Set(void* buffer, unsigned int length) {
    return SetStruct(buffer, length);
}

TARN_ReturnStatus Sysinfo::SetStruct(void* buffer, unsigned int length) {
    TarnCtl::Lib::TarnCtlKevtLib kevt;
    TARN_ReturnStatus st =
        Platform::Kernel::GetBackend().SetStruct(Module(), _node, _instance, buffer, length);
    if (st == TARN_OK)
        return st;
    HostCtl::Lib::KevtMessage msg;
    kevt.KevtsToKevtMessage(msg);
    return Finish(st, msg);
}

TARN_ReturnStatus Sysinfo::ListRaw(std::vector<KSI_Param>& out) {
    out.clear();
    return Platform::Kernel::GetBackend().List(Module(), _node, _instance, &out);
}

TARN_ReturnStatus Sysinfo::List(std::vector<std::string>& out) {
    TarnCtl::Lib::TarnCtlKevtLib kevt;
    TARN_ReturnStatus st = Platform::Kernel::GetBackend().ListNames(Module(), _node, _instance, &out);
    if (st == TARN_OK)
        return st;
    out.clear();
    HostCtl::Lib::KevtMessage msg;
    kevt.KevtsToKevtMessage(msg);
    return Finish(st, msg);
}

TARN_ReturnStatus Sysinfo::List(std::vector<long>& out) {
    TarnCtl::Lib::TarnCtlKevtLib kevt;
    std::vector<KSI_Param> keys;
    TARN_ReturnStatus st = ListRaw(keys);
    out.clear();
    if (st == TARN_OK) {
        out.reserve(keys.size());
        for (const auto& k : keys) {
            long v;
            // A key that is no number cannot be an instance of an integer-keyed node.
            if (ParseLong(k, &v))
                out.push_back(v);
        }
        return st;
    }
    HostCtl::Lib::KevtMessage msg;
    kevt.KevtsToKevtMessage(msg);
    return Finish(st, msg);
}

TARN_ReturnStatus Sysinfo::List(std::vector<unsigned long>& out) {
    std::vector<long> values;
    TARN_ReturnStatus st = List(values);
    out.assign(values.begin(), values.end());
    return st;
}

// ---- SysinfoUtil ------------------------------------------------------------------

namespace {
[[noreturn]] void ThrowFor(TARN_ReturnStatus status, TarnCtl::Lib::TarnCtlKevtLib& kevt) {
    HostCtl::Lib::KevtMessage msg;
    kevt.KevtsToKevtMessage(msg);
    throw TarnCtl::Lib::SysinfoException(TARN_ReturnStatusToString(status), status, msg);
}
}  // namespace

KSI_ParamListInt* SysinfoUtil::GetStringParamList(const std::vector<std::string>& values) {
    auto* list = KSI_ParamListCreate();
    for (const auto& v : values)
        list->params.push_back(TextParam(v));
    return list;
}

KSI_ParamListInt* SysinfoUtil::GetIntParamList(const std::vector<long>& values) {
    auto* list = KSI_ParamListCreate();
    for (long v : values)
        list->params.push_back(IntParam(v));
    return list;
}

KSI_ParamListInt* SysinfoUtil::GetParamList() {
    return KSI_ParamListCreate();
}

void SysinfoUtil::AddToParamList(KSI_ParamListInt* list, std::string_view value) {
    if (list)
        list->params.push_back(TextParam(value));
}

void SysinfoUtil::AddToParamList(KSI_ParamListInt* list, long value) {
    if (list)
        list->params.push_back(IntParam(value));
}

void SysinfoUtil::SysinfoGet(unsigned int node, void* buffer, unsigned int length,
                             const KSI_ParamListInt* params) {
    TarnCtl::Lib::TarnCtlKevtLib kevt;
    TARN_ReturnStatus st = KSI_Get(nullptr, node, params, nullptr, buffer, length);
    if (st != TARN_OK)
        ThrowFor(st, kevt);
}

void SysinfoUtil::SysinfoSet(unsigned int node, const KSI_ParamListInt* inputs,
                             const KSI_ParamListInt* params) {
    TarnCtl::Lib::TarnCtlKevtLib kevt;
    TARN_ReturnStatus st = KSI_Set(nullptr, node, params, inputs);
    if (st != TARN_OK)
        ThrowFor(st, kevt);
}

KSI_ParamListInt* SysinfoUtil::GetInstanceList(unsigned int node, const KSI_ParamListInt* params) {
    TarnCtl::Lib::TarnCtlKevtLib kevt;
    KSI_ParamListInt* out = nullptr;
    TARN_ReturnStatus st = KSI_GetInstanceListAlloc(nullptr, node, params, &out);
    if (st != TARN_OK)
        ThrowFor(st, kevt);
    return out;
}

std::vector<std::string> SysinfoUtil::GetStringInstanceList(unsigned int node,
                                                            const KSI_ParamListInt* params) {
    std::unique_ptr<KSI_ParamListInt> list(GetInstanceList(node, params));
    std::vector<std::string> out;
    out.reserve(list->params.size());
    for (auto& p : list->params)
        out.push_back(p.kind == KSI_Param::Integer ? std::to_string(p.number) : std::move(p.text));
    return out;
}

std::vector<long> SysinfoUtil::GetIntegerInstanceList(unsigned int node,
                                                      const KSI_ParamListInt* params) {
    std::unique_ptr<KSI_ParamListInt> list(GetInstanceList(node, params));
    std::vector<long> out;
    for (const auto& p : list->params) {
        long v;
        if (ParseLong(p, &v))
            out.push_back(v);
    }
    return out;
}

std::vector<int64_t> SysinfoUtil::GetInteger64InstanceList(unsigned int node,
                                                           const KSI_ParamListInt* params) {
    std::vector<long> v = GetIntegerInstanceList(node, params);
    return std::vector<int64_t>(v.begin(), v.end());
}

bool SysinfoUtil::IsValidInstance(unsigned int node, std::string_view key,
                                  const KSI_ParamListInt* params) {
    bool found = false;
    return Platform::Kernel::GetBackend().HasInstance(nullptr, node, Params(params), key, &found) == TARN_OK &&
           found;
}

std::string SysinfoUtil::GetNamedStringFromInstanceList(const KSI_ParamListInt* list,
                                                        std::string_view name) {
    if (list)
        for (const auto& p : list->params)
            if (p.AsText() == name)
                return p.AsText();
    return "";
}

}  // namespace TarnCtl::Util
