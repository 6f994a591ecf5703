// The fixed tables that tie the configuration store's objects to the legacy tree
// paths: property rows, enumeration texts, instance-naming properties and the
// objects the converter may read. All rows live in configmappings.cpp; later
// domains add their rows there.
#pragma once

#include <map>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace TarnCtl::ConfigStoreUtil::Mappings {

// How a tree value (always text) is written into the store.
enum class PropType {
    Auto,        // the kind the stored object already has for the property
    String,
    Bool,
    Int,
    ListElement  // one element of a list of strings ("[#]" in the store path)
};

// (store value, legacy text)
using EnumPairs = std::vector<std::pair<std::string, std::string>>;

struct MappingRow {
    std::string store;   // "halden/network_vss/switches[####]/name"
    std::string legacy;  // "net/vswitch/child[####]/name"
    PropType type;
    const EnumPairs* enums;  // null when the property is not an enumeration
    // Filled when the tables are built:
    std::string spec;       // the object: "halden/network_vss/switches"
    std::string storeRel;   // below the object: "port_groups[####]/vlan_id"
    std::string legacyRel;  // below the object's tree element: "portgroup/child[####]/vlanId"
    bool namesElement = false;  // the property names its list element (or object instance)
};

// A list of store objects inside an object, as the tree holds it.
struct ElementList {
    std::string member;  // store list member: "port_groups"
    std::string prop;    // naming property of an element: "name"
    std::string leaf;    // tree value holding that name in an element: "name"
};

struct Tables {
    std::vector<MappingRow> rows;
    // legacy pattern -> row, and store pattern -> row.
    std::unordered_map<std::string, const MappingRow*> mapping;
    std::unordered_map<std::string, const MappingRow*> reverseMapping;
    // Legacy top-level branch ("/net/vswitch") -> store key / group.
    std::map<std::string, std::string> csoIdKeyMap;
    std::map<std::string, std::string> csoIdGroupMap;
    // Object spec -> legacy top-level branch ("halden/network_vss/switches" -> "/net/vswitch").
    std::map<std::string, std::string> legacyOfSpec;
    // Store pattern -> enumeration pairs of that property.
    std::map<std::string, const EnumPairs*> enumMapping;
    // Object spec ("halden/network_vss/switches") or list member name
    // ("port_groups") -> the property that names an instance.
    std::map<std::string, std::string> instanceIdMapping;
    // Specs whose instances are appended after the elements in memory -> legacy branch.
    std::map<std::string, std::string> incrementReadIdxMap;
    std::vector<std::string> allowedNetworkObject;           // "/net/vswitch", ...
    std::vector<std::string> allowedNetworkSingletonObject;  // "/net/netdump", ...
    std::set<std::string> allowedNetworkConfigStoreObject;
    std::set<std::string> allowedNetworkSingletonConfigStoreObject;
    std::set<std::string> allowedUpgradeNetworkNameSet;
    // Object spec -> its rows.
    std::map<std::string, std::vector<const MappingRow*>> rowsBySpec;
    // Legacy array pattern ("net/vswitch/child[####]/portgroup/child") -> the
    // store list its elements stand for; top-level arrays ("net/vswitch/child")
    // name the object instances.
    std::unordered_map<std::string, ElementList> elementLists;
};

// The tables, built once on first use (thread-safe).
const Tables& GetTables();

// Store text -> legacy text (or legacy -> store with `toStore`); unchanged when
// the property has no pairing for the text.
std::string MapEnum(const MappingRow& row, const std::string& text, bool toStore);

// "/net/vswitch/child[0003]/portgroup/child[0001]/vlanId" ->
// pattern "net/vswitch/child[####]/portgroup/child[####]/vlanId", indices {3, 1}.
// Leading slashes are dropped; an index at the very end becomes "[#]".
std::string NormalizePath(const std::string& path, std::vector<long>* indices);
// Puts indices back into the "[####]" / "[#]" slots of a pattern ("%04d").
std::string InsertIndices(const std::string& pattern, const std::vector<long>& indices);

}  // namespace TarnCtl::ConfigStoreUtil::Mappings
