// The path-addressed configuration tree that the network and firewall code works
// on: branches, arrays of numbered elements and text values, filled from the
// configuration store by ConfigStoreConvertor and written back to it. The tree
// itself is not synchronised; it is touched only while the converter is locked.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "hostctl/exception.h"

namespace TarnCtl::ConfigStoreUtil {

class ConfigStoreConvertor;
class ConfigValue;
namespace Mappings {
struct MappingRow;
}

// Counts the changes made to any configuration tree: nodes made or removed
// (structure), values set or marked for write-back (values). The converter
// compares them to know whether a tree still holds exactly what it last read
// or wrote, so that it may keep the tree instead of reading it again.
struct TreeChanges {
    static std::atomic<uint64_t> structure;
    static std::atomic<uint64_t> values;
    static void Structure() { structure.fetch_add(1, std::memory_order_relaxed); }
    static void Values() { values.fetch_add(1, std::memory_order_relaxed); }
};

class ConfigBranch;
class ConfigArray;

class ConfigNode {
public:
    enum Type { kBranchType = 0, kValueType = 1, kArrayType = 2 };
    enum ObjectType { kNoObject = 0, kMultiInstanceObject = 1, kSingletonObject = 2 };

    ConfigNode(std::string name, std::string key, const std::shared_ptr<ConfigNode>& parent,
               const std::shared_ptr<ConfigStoreConvertor>& owner);
    virtual ~ConfigNode();
    ConfigNode(const ConfigNode&) = delete;
    ConfigNode& operator=(const ConfigNode&) = delete;

    virtual std::string GetKey() const { return _key; }
    // Writes dirty content back through the owning converter.
    virtual void Print() = 0;
    virtual int GetType() const = 0;
    // Detaches the node (and its subtree) from its parent and tells the owning
    // converter, so that the next write-back removes what it stood for.
    virtual void Destroy();
    // Marks the node for write-back.
    virtual void Dirty() = 0;

    std::shared_ptr<ConfigNode> GetParent() const { return _parent.lock(); }
    std::shared_ptr<ConfigStoreConvertor> GetOwner() const { return _owner.lock(); }
    const std::string& GetName() const { return _name; }
    // 1 below a multi-instance store object's branch, 2 below a singleton's, else 0.
    int FindObjectType() const;

    // Releases the subtree without reporting anything (the tree is dropped).
    virtual void ReleaseSubtree() { _parent.reset(); }

protected:
    // Drops the child of that name from this node's children and hands it back.
    virtual std::shared_ptr<ConfigNode> ForgetChild(const std::string& /*name*/) { return nullptr; }
    std::string _name;
    std::string _key;
    // Weak links upwards: children are owned by their parent, the tree by the
    // converter, so no reference cycle keeps a dropped tree alive.
    std::weak_ptr<ConfigNode> _parent;
    std::weak_ptr<ConfigStoreConvertor> _owner;
};

class ConfigValue : public ConfigNode, public std::enable_shared_from_this<ConfigValue> {
public:
    ConfigValue(std::string name, std::string key, const std::shared_ptr<ConfigNode>& parent,
                const std::shared_ptr<ConfigStoreConvertor>& owner, std::string value = "");
    std::shared_ptr<ConfigValue> GetThis() { return shared_from_this(); }

    int GetType() const override { return kValueType; }
    void Print() override;
    void Dirty() override {
        TreeChanges::Values();
        _dirty = 1;
    }

    void SetValue(bool value);
    void SetValue(uint8_t value);
    void SetValue(int value);
    void SetValue(uint32_t value);
    void SetValue(uint64_t value);
    void SetValue(int64_t value);
    void SetValue(const std::string& value);
    void SetValue(std::string&& value);
    void SetValue(const char* value);
    // Stores text read from the store: no change tracking, stays clean.
    void InitValue(std::string value) {
        TreeChanges::Values();
        _value = std::move(value);
    }

    bool GetBoolValue() const;
    uint8_t GetByteValue() const;
    int GetIntValue() const;
    uint32_t GetUint32Value() const;
    uint64_t GetUint64Value() const;
    int64_t GetInt64Value() const;
    const std::string& GetStringValue() const { return _value; }

    // The write-back's lookup of this value's path in the mapping table: the
    // row (null when unmapped) and the path's element indices. Kept with the
    // value, whose path never changes.
    struct MappedPath {
        const Mappings::MappingRow* row = nullptr;
        std::vector<long> indices;
    };
    const MappedPath* GetMappedPath() const { return _mapped.get(); }
    const MappedPath& SetMappedPath(std::unique_ptr<MappedPath> mapped) {
        _mapped = std::move(mapped);
        return *_mapped;
    }

    void SetDirty(bool dirty) {
        TreeChanges::Values();
        _dirty = dirty ? 1 : 0;
    }
    bool IsDirty() const { return _dirty != 0; }

private:
    // Stores the text when it differs; returns whether it changed.
    bool Assign(std::string&& text);
    void IfArrayDirtyAll();

    std::string _value;
    uint8_t _dirty = 0;
    std::unique_ptr<MappedPath> _mapped;
};

class ConfigBranch : public ConfigNode, public std::enable_shared_from_this<ConfigBranch> {
public:
    ConfigBranch(std::string name, std::string key, const std::shared_ptr<ConfigNode>& parent,
                 const std::shared_ptr<ConfigStoreConvertor>& owner, int64_t arrayIndex = -1);
    // A new root branch (key "/").
    static std::shared_ptr<ConfigBranch> NewRoot(const std::shared_ptr<ConfigStoreConvertor>& owner);
    std::shared_ptr<ConfigBranch> GetThis() { return shared_from_this(); }

    std::string GetKey() const override;
    int GetType() const override { return kBranchType; }
    void Print() override;
    void ReleaseSubtree() override;
    void Dirty() override;
    bool IsRoot() const { return _key == "/"; }

    // Names may be relative paths ("uplinks/child[0000]/pnic"); "child[0003]"
    // names element 3 of the array "child".
    std::shared_ptr<ConfigBranch> GetBranch(const std::string& name);
    std::shared_ptr<ConfigArray> GetArray(const std::string& name);
    std::shared_ptr<ConfigValue> GetValue(const std::string& name);

    bool GetValue(const std::string& name, bool* out);
    bool GetValue(const std::string& name, uint8_t* out);
    bool GetValue(const std::string& name, int* out);
    bool GetValue(const std::string& name, uint32_t* out);
    bool GetValue(const std::string& name, uint64_t* out);
    bool GetValue(const std::string& name, int64_t* out);
    bool GetValue(const std::string& name, std::string* out);

    template <typename T>
    void SetValue(const std::string& name, T&& value) {
        GetValue(name)->SetValue(std::forward<T>(value));
    }
    template <typename T>
    void SetValue(const char* name, T&& value) {
        GetValue(std::string(name))->SetValue(std::forward<T>(value));
    }

    bool HasValue(const std::string& name);
    bool HasBranch(const std::string& name);
    bool HasArray(const std::string& name);
    // Removes the named child (value, branch, array or array element); false when absent.
    bool Remove(const std::string& name);
    void RemoveAllChildren();
    std::vector<std::string> GetValueNames() const;
    std::vector<std::shared_ptr<ConfigBranch>> GetBranches() const;
    std::vector<std::shared_ptr<ConfigArray>> GetArrays() const;
    const std::map<std::string, std::shared_ptr<ConfigNode>>& GetChildren() const { return _children; }
    int64_t GetArrayIndex() const { return _arrayIndex; }
    // For an element of a list of store objects: the naming value the store
    // knows it by (as read, or as last written); empty for a new element.
    const std::string& GetStoreName() const { return _storeName; }
    void SetStoreName(std::string name) { _storeName = std::move(name); }

    // The branch a relative path leads to, and the last component; no creation
    // when `create` is false (then the branch may be empty).
    std::pair<std::shared_ptr<ConfigBranch>, std::string> Resolve(const std::string& path,
                                                                  bool create);

protected:
    std::shared_ptr<ConfigNode> ForgetChild(const std::string& name) override;

private:
    friend class ConfigArray;
    std::shared_ptr<ConfigNode> Find(const std::string& name) const;
    std::shared_ptr<ConfigBranch> GetBranchInt(const std::string& name, bool create);
    // The key of a child of that name ("/net" + "/" + name; "/" + name below the root).
    std::string ChildKey(const std::string& name) const;

    std::map<std::string, std::shared_ptr<ConfigNode>> _children;
    int64_t _arrayIndex;
    std::string _storeName;
};

class ConfigArray : public ConfigNode, public std::enable_shared_from_this<ConfigArray> {
public:
    ConfigArray(std::string name, std::string key, const std::shared_ptr<ConfigNode>& parent,
                const std::shared_ptr<ConfigStoreConvertor>& owner);
    std::shared_ptr<ConfigArray> GetThis() { return shared_from_this(); }

    int GetType() const override { return kArrayType; }
    void Print() override;
    void ReleaseSubtree() override;
    void Dirty() override;

    // A new element at the first unused index from the next-index hint upwards.
    std::shared_ptr<ConfigBranch> NewInstance();
    // The element of that name ("child[0003]"), created when absent.
    std::shared_ptr<ConfigBranch> GetInstance(const std::string& key);
    std::vector<std::shared_ptr<ConfigBranch>> GetInstances() const;
    std::vector<std::string> GetInstanceKeys() const;
    bool HasInstance(const std::string& name, const std::string& value) const;
    bool HasInstance(const std::vector<std::pair<std::string, std::string>>& values) const;
    bool HasElement(const std::string& elementName) const { return _children.count(elementName) > 0; }
    std::shared_ptr<ConfigBranch> FindInstanceWithValue(const std::string& name,
                                                        const std::string& value) const;
    std::shared_ptr<ConfigBranch> FindInstanceWithValues(
        const std::vector<std::pair<std::string, std::string>>& values) const;
    // Throws ConfigFileException "Config Convertor: unable to find instance" when none.
    std::shared_ptr<ConfigBranch> FindInstanceWithIndex(long index) const;
    // Throws "Config Convertor: no matching instance to remove: " + value when none.
    void RemoveInstance(const std::string& name, const std::string& value);
    bool RemoveElement(const std::string& elementName);

    // "name[0003]" from a numeric index, "name[key]" from a text key.
    void GetNamesFromIndex(long index, std::string& keyOut, std::string& nameOut) const;
    void GetNamesFromIndex(const std::string& index, std::string& keyOut, std::string& nameOut) const;

    uint32_t GetNextIndexHint() const { return _nextIndex; }
    void SetNextIndexHint(uint32_t index) {
        TreeChanges::Structure();
        _nextIndex = index;
    }
    // One past the highest numeric element index (0 when empty).
    int64_t GetEndIndex() const;
    size_t Size() const { return _children.size(); }

    // The index a element name carries ("child[0003]" -> 3), -1 when not numeric.
    static int64_t IndexOfName(const std::string& elementName);

protected:
    std::shared_ptr<ConfigNode> ForgetChild(const std::string& name) override;

private:
    std::string ElementKey(const std::string& elementName) const;
    std::shared_ptr<ConfigBranch> MakeElement(const std::string& elementName);

    std::map<std::string, std::shared_ptr<ConfigBranch>> _children;
    uint32_t _nextIndex = 0;
};

}  // namespace TarnCtl::ConfigStoreUtil
