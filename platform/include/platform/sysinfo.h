// Client of the kernel's system-information tree. A node is addressed by a
// 32-bit id (KSI_NODE_* from ksi/nodes.h, or a module's own number after
// SetModule) and a path of instance keys. Reads return a node's fixed-layout
// record (layouts in ksi/<area>.h); writes take a list of inputs or a record.
// One Sysinfo object per access; objects are not shared between threads.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "hostctl/exception.h"
#include "hostctl/status.h"
#include "ksi/nodes.h"

// ---- Raw interface ------------------------------------------------------------

// One instance key or input value: text or integer.
struct KSI_Param {
    enum Kind : uint8_t { String, Integer, LongString } kind = String;
    std::string text;   // String, LongString
    int64_t number = 0; // Integer
    bool operator==(const KSI_Param& o) const {
        return kind == o.kind && text == o.text && number == o.number;
    }
    // Instance keys compare and print as text; an integer key is its decimal text.
    std::string AsText() const;
};

struct KSI_ParamListInt {
    std::vector<KSI_Param> params;
};

KSI_ParamListInt* KSI_ParamListCreate();
void KSI_ParamListDestroy(KSI_ParamListInt* list);

// `module` is null for the core kernel. `instance` and `inputs` may be null.
TARN_ReturnStatus KSI_Get(const char* module, uint32_t node, const KSI_ParamListInt* instance,
                          const KSI_ParamListInt* inputs, void* buffer, unsigned int length);
TARN_ReturnStatus KSI_Set(const char* module, uint32_t node, const KSI_ParamListInt* instance,
                          const KSI_ParamListInt* inputs);
TARN_ReturnStatus KSI_SetStruct(const char* module, uint32_t node,
                                const KSI_ParamListInt* instance, const void* buffer,
                                unsigned int length);
// Lists the instance keys directly below `instance` on `node`; *out is
// allocated on success and freed by the caller with KSI_ParamListDestroy.
TARN_ReturnStatus KSI_GetInstanceListAlloc(const char* module, uint32_t node,
                                           const KSI_ParamListInt* instance,
                                           KSI_ParamListInt** out);

namespace Platform::Kernel {

// What sits behind the raw calls: the real kernel, or the simulation. Every
// implementation is safe for concurrent use from several threads.
class Backend {
public:
    virtual ~Backend() = default;
    virtual TARN_ReturnStatus Get(const char* module, uint32_t node,
                                  const std::vector<KSI_Param>& instance,
                                  const std::vector<KSI_Param>& inputs, void* buffer,
                                  unsigned int length) = 0;
    virtual TARN_ReturnStatus Set(const char* module, uint32_t node,
                                  const std::vector<KSI_Param>& instance,
                                  const std::vector<KSI_Param>& inputs) = 0;
    virtual TARN_ReturnStatus SetStruct(const char* module, uint32_t node,
                                        const std::vector<KSI_Param>& instance,
                                        const void* buffer, unsigned int length) = 0;
    virtual TARN_ReturnStatus List(const char* module, uint32_t node,
                                   const std::vector<KSI_Param>& instance,
                                   std::vector<KSI_Param>* out) = 0;
    // The keys List would return below `instance`, as text (an integer key
    // as its decimal text), straight into *out. This default lists and
    // converts; a backend that keeps its keys as text overrides it.
    virtual TARN_ReturnStatus ListNames(const char* module, uint32_t node, const std::vector<KSI_Param>& instance,
                                        std::vector<std::string>* out);
    // Whether `key` is one of the instances List would return below
    // `instance`, as *found. This default lists and looks; a backend that can
    // answer without a listing of every instance overrides it.
    virtual TARN_ReturnStatus HasInstance(const char* module, uint32_t node,
                                          const std::vector<KSI_Param>& instance, std::string_view key,
                                          bool* found);
};

// The process-wide backend: the one set by SetBackend, else the registered
// default, else one that fails every call with TARN_NOT_SUPPORTED.
Backend& GetBackend();
// Replaces the backend (tests wrap it to inject faults); null puts the default
// back. Returns the backend that was in effect.
Backend* SetBackend(Backend* backend);
// Registers the host's kernel (the simulation does so when it is loaded).
void RegisterDefaultBackend(Backend* backend);

}  // namespace Platform::Kernel

// ---- Client -------------------------------------------------------------------

namespace TarnCtl::Util {

class Sysinfo {
public:
    explicit Sysinfo(unsigned int nodeId);
    Sysinfo(const Sysinfo&) = delete;
    Sysinfo& operator=(const Sysinfo&) = delete;

    // Settings.
    void SetThrowOnError(bool on) { _throw = on; }
    void SetVerboseThrow(bool on) { _verbose = on; }
    void SetDefaultErrorMessage(const char* message) { _defaultMessage = message ? message : ""; }
    void SetMessageForError(TARN_ReturnStatus status, const char* message);
    void SetModule(std::string_view moduleName) { _module = std::string(moduleName); }
    void SetNode(unsigned int nodeId) { _node = nodeId; }

    // Instance path.
    void SetInstance(std::string_view key);
    void SetInstance(unsigned long key);
    void SetInstance(long key);
    void SetInstance(int key) { SetInstance(static_cast<long>(key)); }
    void SetInstance(const char* key) { SetInstance(std::string_view(key)); }
    void SetInstance(const std::string& key) { SetInstance(std::string_view(key)); }
    void AddInstancePath(std::string_view key);
    void AddInstancePath(unsigned long key);
    void AddInstancePath(long key);
    void AddInstancePath(int key) { AddInstancePath(static_cast<long>(key)); }
    void AddInstancePath(const char* key) { AddInstancePath(std::string_view(key)); }
    void AddInstancePath(const std::string& key) { AddInstancePath(std::string_view(key)); }
    void RemoveInstancePath();
    void ResetInstance();
    // Remembers the current depth; SetMarkInstance(key) cuts the path back to
    // the mark and appends `key` (walking siblings below one parent).
    void SetMark();
    void SetMarkInstance(std::string_view key);
    void SetMarkInstance(long key);
    // True when `key` is an instance directly below the current path.
    bool IsValidInstance(std::string_view key);
    bool IsValidInstance(long key);

    // Inputs.
    void AddInput(std::string_view value);
    void AddInput(const char* value) { AddInput(std::string_view(value)); }
    void AddInput(const std::string& value) { AddInput(std::string_view(value)); }
    void AddInput(long value);
    void AddInput(unsigned long value);
    void AddInput(int value) { AddInput(static_cast<long>(value)); }
    void AddInput(unsigned int value) { AddInput(static_cast<unsigned long>(value)); }
    void AddInput(bool value) { AddInput(static_cast<long>(value)); }
    void AddLongStringInput(std::string_view value);
    void ResetInput();
    void Reset();

    // Access. Each returns the status; with throwing on, a failure throws
    // TarnCtl::Lib::SysinfoException (message: the one set for the status, else
    // the default message, else the kernel's status text) with the status and
    // the kernel events raised during the call.
    TARN_ReturnStatus Get(void* buffer, unsigned int length);
    TARN_ReturnStatus Set();
    TARN_ReturnStatus Set(void* buffer, unsigned int length);
    TARN_ReturnStatus SetStruct(void* buffer, unsigned int length);
    TARN_ReturnStatus List(std::vector<std::string>& out);
    TARN_ReturnStatus List(std::vector<unsigned long>& out);
    TARN_ReturnStatus List(std::vector<long>& out);

    // Throws SysinfoException for `status` as a failed access would.
    void ThrowStatus(TARN_ReturnStatus& status, const HostCtl::Lib::KevtMessage& kevts);
    // The message a failure with `status` would carry.
    std::string MessageFor(TARN_ReturnStatus status) const;

    const std::vector<KSI_Param>& Instance() const { return _instance; }
    const std::vector<KSI_Param>& Inputs() const { return _inputs; }

private:
    TARN_ReturnStatus Finish(TARN_ReturnStatus status, HostCtl::Lib::KevtMessage kevts);
    TARN_ReturnStatus ListRaw(std::vector<KSI_Param>& out);
    const char* Module() const { return _module.empty() ? nullptr : _module.c_str(); }

    unsigned int _node;
    std::string _module;
    bool _throw = true;
    bool _verbose = false;
    std::string _defaultMessage;
    std::map<TARN_ReturnStatus, std::string> _messages;
    std::vector<KSI_Param> _instance;
    std::vector<KSI_Param> _inputs;
    size_t _mark = 0;
};

// Parameter-list style helpers over the raw calls. Lists are freed by the
// caller with KSI_ParamListDestroy. Failures throw SysinfoException.
class SysinfoUtil {
public:
    static KSI_ParamListInt* GetStringParamList(const std::vector<std::string>& values);
    static KSI_ParamListInt* GetIntParamList(const std::vector<long>& values);
    static KSI_ParamListInt* GetParamList();
    static void AddToParamList(KSI_ParamListInt* list, std::string_view value);
    static void AddToParamList(KSI_ParamListInt* list, long value);

    static void SysinfoGet(unsigned int node, void* buffer, unsigned int length,
                           const KSI_ParamListInt* params);
    static void SysinfoSet(unsigned int node, const KSI_ParamListInt* inputs,
                           const KSI_ParamListInt* params);

    static std::vector<std::string> GetStringInstanceList(unsigned int node,
                                                          const KSI_ParamListInt* params = nullptr);
    static std::vector<long> GetIntegerInstanceList(unsigned int node,
                                                    const KSI_ParamListInt* params = nullptr);
    static std::vector<int64_t> GetInteger64InstanceList(unsigned int node,
                                                         const KSI_ParamListInt* params = nullptr);
    static KSI_ParamListInt* GetInstanceList(unsigned int node,
                                             const KSI_ParamListInt* params = nullptr);
    static bool IsValidInstance(unsigned int node, std::string_view key,
                                const KSI_ParamListInt* params = nullptr);
    // The instance of `list` whose text equals `name`, or "" when none does.
    static std::string GetNamedStringFromInstanceList(const KSI_ParamListInt* list,
                                                      std::string_view name);
};

}  // namespace TarnCtl::Util
