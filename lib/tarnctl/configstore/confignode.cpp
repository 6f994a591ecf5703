// Branches, arrays and text values of the configuration tree, with change
// tracking: only values whose text really changed are written back, and a
// changed element of an array is written back as a whole.
#include "configstore/confignode.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <climits>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <set>

#include "configstore/configmappings.h"
#include "configstore/configstoreconvertor.h"

namespace TarnCtl::ConfigStoreUtil {

namespace {

[[noreturn]] void Throw(const std::string& message) { throw ConfigFileException(message); }

// Splits "a[12]" into ("a", "12"); false when the name carries no index.
bool SplitIndexed(const std::string& name, std::string* base) {
    if (name.size() < 3 || name.back() != ']') return false;
    size_t open = name.find('[');
    if (open == std::string::npos || open == 0 || open + 1 >= name.size() - 1) return false;
    *base = name.substr(0, open);
    return true;
}

std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= path.size()) {
        size_t j = path.find('/', i);
        if (j == std::string::npos) j = path.size();
        if (j > i) parts.push_back(path.substr(i, j - i));
        i = j + 1;
    }
    return parts;
}

// Reads a number as scanf would (leading white space, trailing text allowed)
// but refuses one outside [lo, hi] instead of wrapping it.
bool ReadSigned(const std::string& text, int base, long long lo, long long hi, long long* out) {
    errno = 0;
    char* end = nullptr;
    long long v = std::strtoll(text.c_str(), &end, base);
    if (end == text.c_str() || errno == ERANGE || v < lo || v > hi) return false;
    *out = v;
    return true;
}

bool ReadUnsigned(const std::string& text, int base, unsigned long long hi, unsigned long long* out) {
    size_t first = text.find_first_not_of(" \t\n\r\f\v");
    // strtoull takes "-1" as the largest value: a sign is no unsigned number.
    if (first == std::string::npos || text[first] == '-' || text[first] == '+') return false;
    errno = 0;
    char* end = nullptr;
    unsigned long long v = std::strtoull(text.c_str(), &end, base);
    if (end == text.c_str() || errno == ERANGE || v > hi) return false;
    *out = v;
    return true;
}

}  // namespace

// ---------------------------------------------------------------- ConfigNode

std::atomic<uint64_t> TreeChanges::structure{0};
std::atomic<uint64_t> TreeChanges::values{0};

ConfigNode::ConfigNode(std::string name, std::string key, const std::shared_ptr<ConfigNode>& parent,
                       const std::shared_ptr<ConfigStoreConvertor>& owner)
    : _name(std::move(name)), _key(std::move(key)), _parent(parent), _owner(owner) {
    TreeChanges::Structure();
}

ConfigNode::~ConfigNode() = default;

void ConfigNode::Destroy() {
    // Report first: the converter still needs the node's place in the tree.
    if (auto owner = GetOwner()) owner->NoteRemoval(*this);
    std::shared_ptr<ConfigNode> keep;  // the parent may hold the last reference
    if (auto parent = _parent.lock()) keep = parent->ForgetChild(_name);
    ReleaseSubtree();
}

int ConfigNode::FindObjectType() const {
    const auto& t = Mappings::GetTables();
    auto under = [this](const std::string& prefix) {
        return _key.compare(0, prefix.size(), prefix) == 0 &&
               (_key.size() == prefix.size() || _key[prefix.size()] == '/');
    };
    for (const auto& p : t.allowedNetworkObject) {
        if (under(p)) return kMultiInstanceObject;
    }
    for (const auto& p : t.allowedNetworkSingletonObject) {
        if (under(p)) return kSingletonObject;
    }
    return kNoObject;
}

// --------------------------------------------------------------- ConfigValue

ConfigValue::ConfigValue(std::string name, std::string key, const std::shared_ptr<ConfigNode>& parent,
                         const std::shared_ptr<ConfigStoreConvertor>& owner, std::string value)
    : ConfigNode(std::move(name), std::move(key), parent, owner), _value(std::move(value)) {}

bool ConfigValue::Assign(std::string&& text) {
    if (text == _value) return false;
    TreeChanges::Values();
    _value = std::move(text);
    _dirty = 1;
    return true;
}

void ConfigValue::IfArrayDirtyAll() {
    auto parent = std::dynamic_pointer_cast<ConfigBranch>(GetParent());
    if (!parent || parent->GetArrayIndex() < 0) return;
    // The store keeps an element as one object: write all of its values together.
    for (const auto& [name, child] : parent->GetChildren()) {
        if (child->GetType() == kValueType) child->Dirty();
    }
}

void ConfigValue::SetValue(bool value) { Assign(value ? "true" : "false"); }
void ConfigValue::SetValue(uint8_t value) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%x", value);
    Assign(buf);
}
void ConfigValue::SetValue(int value) { Assign(std::to_string(value)); }
void ConfigValue::SetValue(uint32_t value) { Assign(std::to_string(value)); }
void ConfigValue::SetValue(uint64_t value) { Assign(std::to_string(value)); }
void ConfigValue::SetValue(int64_t value) { Assign(std::to_string(value)); }
void ConfigValue::SetValue(const std::string& value) {
    if (Assign(std::string(value))) IfArrayDirtyAll();
}
void ConfigValue::SetValue(std::string&& value) {
    if (Assign(std::move(value))) IfArrayDirtyAll();
}
void ConfigValue::SetValue(const char* value) {
    if (Assign(std::string(value ? value : ""))) IfArrayDirtyAll();
}

bool ConfigValue::GetBoolValue() const {
    if (_value == "true" || _value == "yes" || _value == "1") return true;
    if (_value == "false" || _value == "no" || _value == "0") return false;
    Throw("Config Convertor: boolean value expected in " + GetKey());
}

uint8_t ConfigValue::GetByteValue() const {
    unsigned long long v = 0;
    if (!ReadUnsigned(_value, 16, UCHAR_MAX, &v)) Throw("Config Convertor: hex byte value expected in " + GetKey());
    return static_cast<uint8_t>(v);
}

int ConfigValue::GetIntValue() const {
    long long v = 0;
    if (!ReadSigned(_value, 10, INT_MIN, INT_MAX, &v)) Throw("Config Convertor: integer value expected in " + GetKey());
    return static_cast<int>(v);
}

uint32_t ConfigValue::GetUint32Value() const {
    unsigned long long v = 0;
    if (!ReadUnsigned(_value, 10, UINT32_MAX, &v)) Throw("Config Convertor: uint32 value expected in " + GetKey());
    return static_cast<uint32_t>(v);
}

uint64_t ConfigValue::GetUint64Value() const {
    // Read back with the conversion it was written with, so that values above
    // the signed range survive a round trip.
    unsigned long long v = 0;
    if (!ReadUnsigned(_value, 10, UINT64_MAX, &v)) Throw("Config Convertor: uint64 value expected in " + GetKey());
    return v;
}

int64_t ConfigValue::GetInt64Value() const {
    long long v = 0;
    if (!ReadSigned(_value, 10, INT64_MIN, INT64_MAX, &v)) Throw("Config Convertor: int64 value expected in " + GetKey());
    return v;
}

void ConfigValue::Print() {
    if (!_dirty) return;
    int type = FindObjectType();
    if (type == kNoObject) return;
    if (auto owner = GetOwner()) owner->PrintValue(*this, type);
    _dirty = 0;
}

// -------------------------------------------------------------- ConfigBranch

ConfigBranch::ConfigBranch(std::string name, std::string key, const std::shared_ptr<ConfigNode>& parent,
                           const std::shared_ptr<ConfigStoreConvertor>& owner, int64_t arrayIndex)
    : ConfigNode(std::move(name), std::move(key), parent, owner), _arrayIndex(arrayIndex) {}

std::shared_ptr<ConfigBranch> ConfigBranch::NewRoot(const std::shared_ptr<ConfigStoreConvertor>& owner) {
    return std::make_shared<ConfigBranch>("", "/", nullptr, owner);
}

std::string ConfigBranch::GetKey() const { return IsRoot() ? std::string() : _key; }

std::string ConfigBranch::ChildKey(const std::string& name) const {
    std::string key;
    const size_t base = IsRoot() ? 0 : _key.size();
    key.reserve(base + 1 + name.size());
    key.append(_key, 0, base);
    key.push_back('/');
    key += name;
    return key;
}

void ConfigBranch::Print() {
    auto owner = GetOwner();
    bool root = IsRoot() && owner;
    if (root) owner->BeginPrint();
    // Copy: printing must not be disturbed by nodes the write-back touches.
    std::vector<std::shared_ptr<ConfigNode>> children;
    children.reserve(_children.size());
    for (const auto& [name, child] : _children) children.push_back(child);
    for (const auto& child : children) child->Print();
    if (root) owner->EndPrint();
}

std::shared_ptr<ConfigNode> ConfigBranch::ForgetChild(const std::string& name) {
    auto it = _children.find(name);
    if (it == _children.end()) return nullptr;
    TreeChanges::Structure();
    auto node = std::move(it->second);
    _children.erase(it);
    return node;
}

void ConfigBranch::ReleaseSubtree() {
    auto children = std::move(_children);
    _children.clear();
    for (auto& [name, child] : children) child->ReleaseSubtree();
    ConfigNode::ReleaseSubtree();
}

void ConfigBranch::Dirty() {
    for (auto& [name, child] : _children) child->Dirty();
}

std::shared_ptr<ConfigNode> ConfigBranch::Find(const std::string& name) const {
    auto it = _children.find(name);
    return it == _children.end() ? nullptr : it->second;
}

std::pair<std::shared_ptr<ConfigBranch>, std::string> ConfigBranch::Resolve(const std::string& path,
                                                                            bool create) {
    // Components are the non-empty texts between slashes; the last one is handed back.
    size_t end = path.size();
    while (end > 0 && path[end - 1] == '/') --end;
    if (end == 0) return {nullptr, std::string()};
    size_t last = path.rfind('/', end - 1);
    last = last == std::string::npos ? 0 : last + 1;
    std::shared_ptr<ConfigBranch> branch = GetThis();
    std::string part;
    for (size_t i = 0; i < last && branch;) {
        size_t j = path.find('/', i);
        if (j > i) {
            part.assign(path, i, j - i);
            branch = branch->GetBranchInt(part, create);
        }
        i = j + 1;
    }
    return {branch, path.substr(last, end - last)};
}

std::shared_ptr<ConfigBranch> ConfigBranch::GetBranchInt(const std::string& name, bool create) {
    if (name.find('/') != std::string::npos) {
        auto [branch, last] = Resolve(name, create);
        if (!branch) return nullptr;
        return branch->GetBranchInt(last, create);
    }
    std::string base;
    if (SplitIndexed(name, &base)) {
        // "child[0003]": element of the array "child".
        auto node = Find(base);
        std::shared_ptr<ConfigArray> array;
        if (node) {
            if (node->GetType() != kArrayType) Throw("Config Convertor: GetBranch: not a Branch: " + name);
            array = std::static_pointer_cast<ConfigArray>(node);
        } else if (!create) {
            return nullptr;
        } else {
            array = GetArray(base);
        }
        if (!create && !array->HasElement(name)) return nullptr;
        return array->GetInstance(name);
    }
    auto node = Find(name);
    if (node) {
        if (node->GetType() != kBranchType) Throw("Config Convertor: GetBranch: not a Branch: " + name);
        return std::static_pointer_cast<ConfigBranch>(node);
    }
    if (!create) return nullptr;
    auto branch = std::make_shared<ConfigBranch>(name, ChildKey(name), GetThis(), GetOwner());
    _children.emplace(name, branch);
    return branch;
}

std::shared_ptr<ConfigBranch> ConfigBranch::GetBranch(const std::string& name) {
    auto branch = GetBranchInt(name, true);
    if (!branch) Throw("Config Convertor: GetBranch: not a Branch: " + name);
    return branch;
}

std::shared_ptr<ConfigArray> ConfigBranch::GetArray(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        auto [branch, last] = Resolve(name, true);
        if (!branch) Throw("Config Convertor: GetBranch: not a Branch: " + name);
        return branch->GetArray(last);
    }
    auto node = Find(name);
    if (node) {
        if (node->GetType() != kArrayType) Throw("Config Convertor: GetBranch: not a Branch: " + name);
        return std::static_pointer_cast<ConfigArray>(node);
    }
    auto array = std::make_shared<ConfigArray>(name, ChildKey(name), GetThis(), GetOwner());
    _children.emplace(name, array);
    return array;
}

std::shared_ptr<ConfigValue> ConfigBranch::GetValue(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        auto [branch, last] = Resolve(name, true);
        if (!branch) Throw("Config Convertor: GetBranch: not a Branch: " + name);
        return branch->GetValue(last);
    }
    auto node = Find(name);
    if (node) {
        if (node->GetType() != kValueType) Throw("Config Convertor: GetValue: not a Value: " + name);
        return std::static_pointer_cast<ConfigValue>(node);
    }
    auto value = std::make_shared<ConfigValue>(name, ChildKey(name), GetThis(), GetOwner());
    _children.emplace(name, value);
    return value;
}

namespace {
template <typename T, typename Get>
bool ReadTyped(ConfigBranch& self, const std::string& name, T* out, Get get) {
    auto [branch, last] = name.find('/') != std::string::npos
                              ? self.Resolve(name, false)
                              : std::make_pair(self.GetThis(), name);
    if (!branch || !branch->HasValue(last)) return false;
    T v = get(*branch->GetValue(last));
    if (out) *out = v;
    return true;
}
}  // namespace

bool ConfigBranch::GetValue(const std::string& name, bool* out) {
    return ReadTyped(*this, name, out, [](ConfigValue& v) { return v.GetBoolValue(); });
}
bool ConfigBranch::GetValue(const std::string& name, uint8_t* out) {
    return ReadTyped(*this, name, out, [](ConfigValue& v) { return v.GetByteValue(); });
}
bool ConfigBranch::GetValue(const std::string& name, int* out) {
    return ReadTyped(*this, name, out, [](ConfigValue& v) { return v.GetIntValue(); });
}
bool ConfigBranch::GetValue(const std::string& name, uint32_t* out) {
    return ReadTyped(*this, name, out, [](ConfigValue& v) { return v.GetUint32Value(); });
}
bool ConfigBranch::GetValue(const std::string& name, uint64_t* out) {
    return ReadTyped(*this, name, out, [](ConfigValue& v) { return v.GetUint64Value(); });
}
bool ConfigBranch::GetValue(const std::string& name, int64_t* out) {
    return ReadTyped(*this, name, out, [](ConfigValue& v) { return v.GetInt64Value(); });
}
bool ConfigBranch::GetValue(const std::string& name, std::string* out) {
    return ReadTyped(*this, name, out, [](ConfigValue& v) { return v.GetStringValue(); });
}

bool ConfigBranch::HasValue(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        auto [branch, last] = Resolve(name, false);
        return branch && branch->HasValue(last);
    }
    auto node = Find(name);
    return node && node->GetType() == kValueType;
}

bool ConfigBranch::HasBranch(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        auto [branch, last] = Resolve(name, false);
        return branch && branch->HasBranch(last);
    }
    std::string base;
    if (SplitIndexed(name, &base)) {
        auto node = Find(base);
        return node && node->GetType() == kArrayType &&
               std::static_pointer_cast<ConfigArray>(node)->HasElement(name);
    }
    auto node = Find(name);
    return node && node->GetType() == kBranchType;
}

bool ConfigBranch::HasArray(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        auto [branch, last] = Resolve(name, false);
        return branch && branch->HasArray(last);
    }
    auto node = Find(name);
    return node && node->GetType() == kArrayType;
}

bool ConfigBranch::Remove(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        auto [branch, last] = Resolve(name, false);
        return branch && branch->Remove(last);
    }
    std::string base;
    if (!_children.count(name) && SplitIndexed(name, &base)) {
        auto node = Find(base);
        if (!node || node->GetType() != kArrayType) return false;
        return std::static_pointer_cast<ConfigArray>(node)->RemoveElement(name);
    }
    auto it = _children.find(name);
    if (it == _children.end()) return false;
    auto node = it->second;  // Destroy detaches it from this branch
    node->Destroy();
    return true;
}

void ConfigBranch::RemoveAllChildren() {
    auto children = _children;
    for (auto& [name, child] : children) child->Destroy();
}

std::vector<std::string> ConfigBranch::GetValueNames() const {
    std::vector<std::string> names;
    for (const auto& [name, child] : _children) {
        if (child->GetType() == kValueType) names.push_back(name);
    }
    return names;
}

std::vector<std::shared_ptr<ConfigBranch>> ConfigBranch::GetBranches() const {
    std::vector<std::shared_ptr<ConfigBranch>> out;
    for (const auto& [name, child] : _children) {
        if (child->GetType() == kBranchType) out.push_back(std::static_pointer_cast<ConfigBranch>(child));
    }
    return out;
}

std::vector<std::shared_ptr<ConfigArray>> ConfigBranch::GetArrays() const {
    std::vector<std::shared_ptr<ConfigArray>> out;
    for (const auto& [name, child] : _children) {
        if (child->GetType() == kArrayType) out.push_back(std::static_pointer_cast<ConfigArray>(child));
    }
    return out;
}

// --------------------------------------------------------------- ConfigArray

ConfigArray::ConfigArray(std::string name, std::string key, const std::shared_ptr<ConfigNode>& parent,
                         const std::shared_ptr<ConfigStoreConvertor>& owner)
    : ConfigNode(std::move(name), std::move(key), parent, owner) {}

int64_t ConfigArray::IndexOfName(const std::string& elementName) {
    size_t open = elementName.find('[');
    if (open == std::string::npos) return -1;
    int v = 0;
    if (std::sscanf(elementName.c_str() + open + 1, "%d", &v) != 1) return -1;
    return v;
}

std::string ConfigArray::ElementKey(const std::string& elementName) const {
    // Elements sit beside the array in paths: "/net/vswitch/child[0003]".
    std::string base = _key.substr(0, _key.size() - std::min(_key.size(), _name.size() + 1));
    return base + "/" + elementName;
}

std::shared_ptr<ConfigBranch> ConfigArray::MakeElement(const std::string& elementName) {
    auto element = std::make_shared<ConfigBranch>(elementName, ElementKey(elementName), GetThis(),
                                                  GetOwner(), IndexOfName(elementName));
    _children.emplace(elementName, element);
    return element;
}

void ConfigArray::Print() {
    std::vector<std::shared_ptr<ConfigBranch>> children;
    children.reserve(_children.size());
    for (const auto& [name, child] : _children) children.push_back(child);
    for (const auto& child : children) child->Print();
}

std::shared_ptr<ConfigNode> ConfigArray::ForgetChild(const std::string& name) {
    auto it = _children.find(name);
    if (it == _children.end()) return nullptr;
    TreeChanges::Structure();
    std::shared_ptr<ConfigNode> node = std::move(it->second);
    _children.erase(it);
    return node;
}

void ConfigArray::ReleaseSubtree() {
    auto children = std::move(_children);
    _children.clear();
    for (auto& [name, child] : children) child->ReleaseSubtree();
    ConfigNode::ReleaseSubtree();
}

void ConfigArray::Dirty() {
    for (auto& [name, child] : _children) child->Dirty();
}

std::shared_ptr<ConfigBranch> ConfigArray::NewInstance() {
    std::set<int64_t> used;
    for (const auto& [name, child] : _children) used.insert(child->GetArrayIndex());
    long index = _nextIndex;
    while (used.count(index)) ++index;
    std::string key, name;
    GetNamesFromIndex(index, key, name);
    return MakeElement(name);
}

std::shared_ptr<ConfigBranch> ConfigArray::GetInstance(const std::string& key) {
    auto it = _children.find(key);
    if (it != _children.end()) return it->second;
    return MakeElement(key);
}

std::vector<std::shared_ptr<ConfigBranch>> ConfigArray::GetInstances() const {
    std::vector<std::shared_ptr<ConfigBranch>> out;
    out.reserve(_children.size());
    for (const auto& [name, child] : _children) out.push_back(child);
    // Numbered elements in index order ("child[10000]" sorts after "child[9999]").
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
        return a->GetArrayIndex() < b->GetArrayIndex();
    });
    return out;
}

std::vector<std::string> ConfigArray::GetInstanceKeys() const {
    std::vector<std::string> out;
    for (const auto& element : GetInstances()) out.push_back(element->GetName());
    return out;
}

std::shared_ptr<ConfigBranch> ConfigArray::FindInstanceWithValues(
    const std::vector<std::pair<std::string, std::string>>& values) const {
    for (const auto& element : GetInstances()) {
        bool all = true;
        for (const auto& [name, value] : values) {
            std::string text;
            if (!element->GetValue(name, &text) || text != value) {
                all = false;
                break;
            }
        }
        if (all) return element;
    }
    return nullptr;
}

std::shared_ptr<ConfigBranch> ConfigArray::FindInstanceWithValue(const std::string& name,
                                                                 const std::string& value) const {
    return FindInstanceWithValues({{name, value}});
}

bool ConfigArray::HasInstance(const std::string& name, const std::string& value) const {
    return FindInstanceWithValue(name, value) != nullptr;
}

bool ConfigArray::HasInstance(const std::vector<std::pair<std::string, std::string>>& values) const {
    return FindInstanceWithValues(values) != nullptr;
}

std::shared_ptr<ConfigBranch> ConfigArray::FindInstanceWithIndex(long index) const {
    for (const auto& [name, child] : _children) {
        if (child->GetArrayIndex() == index) return child;
    }
    Throw("Config Convertor: unable to find instance");
}

void ConfigArray::RemoveInstance(const std::string& name, const std::string& value) {
    auto element = FindInstanceWithValue(name, value);
    if (!element) Throw("Config Convertor: no matching instance to remove: " + value);
    RemoveElement(element->GetName());
}

bool ConfigArray::RemoveElement(const std::string& elementName) {
    auto it = _children.find(elementName);
    if (it == _children.end()) return false;
    auto element = it->second;  // Destroy detaches it from this array
    element->Destroy();
    return true;
}

void ConfigArray::GetNamesFromIndex(long index, std::string& keyOut, std::string& nameOut) const {
    char buf[48];
    std::snprintf(buf, sizeof buf, "[%04ld]", index);
    nameOut = _name + buf;
    keyOut = ElementKey(nameOut);
}

void ConfigArray::GetNamesFromIndex(const std::string& index, std::string& keyOut,
                                    std::string& nameOut) const {
    nameOut = _name + "[" + index + "]";
    keyOut = ElementKey(nameOut);
}

int64_t ConfigArray::GetEndIndex() const {
    int64_t end = 0;
    for (const auto& [name, child] : _children) end = std::max(end, child->GetArrayIndex() + 1);
    return end;
}

}  // namespace TarnCtl::ConfigStoreUtil
