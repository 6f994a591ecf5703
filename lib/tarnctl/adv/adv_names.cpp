// The advanced-option name maps, built once at library load from the generated
// rows. Keys and values are string views into the rows or into names derived
// once by the rule, which live as long as the library.
#include "adv/adv_names.h"

#include <cctype>
#include <deque>
#include <unordered_map>

namespace TarnCtl::Adv {

std::string StoreNameRule(std::string_view name) {
    std::vector<std::string> words;
    std::string word;
    auto flush = [&] {
        if (!word.empty()) words.push_back(std::move(word));
        word.clear();
    };
    for (size_t i = 0; i < name.size(); ++i) {
        char c = name[i];
        if (c == '-' || c == '_') {
            flush();
            continue;
        }
        bool upper = std::isupper(static_cast<unsigned char>(c));
        if (upper && i > 0) {
            char prev = name[i - 1];
            bool prevLowerOrDigit = std::islower(static_cast<unsigned char>(prev)) ||
                                    std::isdigit(static_cast<unsigned char>(prev));
            bool acronymEnds = std::isupper(static_cast<unsigned char>(prev)) && i + 1 < name.size() &&
                               std::islower(static_cast<unsigned char>(name[i + 1]));
            if (prevLowerOrDigit || acronymEnds) flush();
        }
        word.push_back(c);
    }
    flush();
    std::string out;
    for (auto& w : words) {
        size_t uppers = 0;
        bool acronym = true;
        for (char c : w) {
            if (std::isupper(static_cast<unsigned char>(c)))
                ++uppers;
            else if (!std::isdigit(static_cast<unsigned char>(c)))
                acronym = false;
        }
        if (!(acronym && uppers >= 2))
            for (auto& c : w) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        if (!out.empty()) out.push_back('_');
        out += w;
    }
    return out;
}

namespace {

struct Tables {
    std::unordered_map<std::string_view, std::string_view> optionToStore;
    // Keyed by branch + "/" + store field name.
    std::unordered_map<std::string_view, std::string_view> storeToOption;
    std::unordered_map<std::string_view, std::string_view> branchToStore;
    std::unordered_map<std::string_view, std::string_view> storeToBranch;
    std::unordered_map<std::string_view, std::string_view> branchToComponent;
    std::unordered_map<std::string_view, const Generated::UserVarRow*> userVars;
    std::deque<std::string> owned;  // derived names; a deque never moves its elements

    Tables() {
        using namespace Generated;
        for (size_t i = 0; i < kBranchRowCount; ++i) {
            const BranchRow& r = kBranchRows[i];
            branchToStore.emplace(r.branch, r.store);
            storeToBranch.emplace(r.store, r.branch);
            branchToComponent.emplace(r.branch, r.component);
        }
        optionToStore.reserve(kOptionRowCount);
        storeToOption.reserve(kOptionRowCount);
        for (size_t i = 0; i < kOptionRowCount; ++i) {
            const OptionRow& r = kOptionRows[i];
            std::string_view path(r.path);
            size_t slash = path.find('/');
            std::string_view option = path.substr(slash + 1);
            std::string_view store;
            if (r.store) {
                store = r.store;
            } else {
                owned.push_back(StoreNameRule(option));
                store = owned.back();
            }
            optionToStore.emplace(path, store);
            owned.push_back(std::string(path.substr(0, slash)) + "/" + std::string(store));
            storeToOption.emplace(owned.back(), option);
        }
        for (size_t i = 0; i < kUserVarRowCount; ++i)
            userVars.emplace(kUserVarRows[i].name, &kUserVarRows[i]);
    }
};

const Tables& T() {
    static const Tables tables;
    return tables;
}

// Built when the library is loaded rather than on the first lookup.
[[maybe_unused]] const Tables& gLoaded = T();

}  // namespace

std::string GetConfigstoreBranchName(const std::string& branch) {
    auto it = T().branchToStore.find(branch);
    if (it != T().branchToStore.end()) return std::string(it->second);
    return StoreNameRule(branch);
}

std::string GetConfigstoreComponentName(const std::string& branch) {
    auto it = T().branchToComponent.find(branch);
    return it != T().branchToComponent.end() ? std::string(it->second) : "halden";
}

std::string GetConfigstoreOptionName(const std::string& branch, const std::string& option) {
    std::string path = branch + "/" + option;
    auto it = T().optionToStore.find(path);
    if (it != T().optionToStore.end()) return std::string(it->second);
    return StoreNameRule(option);
}

std::string GetBranchFromConfigstoreName(const std::string& storeName) {
    auto it = T().storeToBranch.find(storeName);
    return it != T().storeToBranch.end() ? std::string(it->second) : std::string();
}

std::string GetOptionFromConfigstoreName(const std::string& branch, const std::string& field) {
    std::string key = branch + "/" + field;
    auto it = T().storeToOption.find(key);
    return it != T().storeToOption.end() ? std::string(it->second) : std::string();
}

size_t OptionNameTableSize() { return T().optionToStore.size(); }
size_t OptionNameReverseTableSize() { return T().storeToOption.size(); }
size_t BranchTableSize() { return T().branchToStore.size(); }

const Generated::UserVarRow* FindBuiltinUserVar(std::string_view name) {
    auto it = T().userVars.find(name);
    return it != T().userVars.end() ? it->second : nullptr;
}

}  // namespace TarnCtl::Adv
