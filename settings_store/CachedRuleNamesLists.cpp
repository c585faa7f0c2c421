#include "settings_store/CachedRuleNamesLists.h"

#include <algorithm>
#include <string>

#include "common/logging/Log.h"
#include "settings_store/Orrery.h"
#include "settings_store/OrreryKeys.h"

namespace {

// The list of a key, or null after logging an unknown key under the operation's tag.
template <typename Lists>
auto* findList(Lists& lists, const std::wstring& listKey, const char* operation) {
    const auto list = lists.find(listKey);
    if (list == lists.end()) {
        TARN_LOG_TAG(TarnPyxLogging::LevelWarning,
                     std::string("CachedRuleNamesLists::") + operation)
            << "Unknown array name: " << listKey;
        return static_cast<decltype(&list->second)>(nullptr);
    }
    return &list->second;
}

}  // namespace

CachedRuleNamesLists::CachedRuleNamesLists() {
    for (const wchar_t* key : tarn::keys::kRuleNameLists) {
        m_lists[key];
    }
}

void CachedRuleNamesLists::addRuleToList(const std::wstring& listKey,
                                         const std::wstring& ruleName) {
    auto* names = findList(m_lists, listKey, "addRuleToList");
    if (names != nullptr && std::find(names->begin(), names->end(), ruleName) == names->end()) {
        names->push_back(ruleName);
    }
}

void CachedRuleNamesLists::removeRuleFromList(const std::wstring& listKey,
                                              const std::wstring& ruleName) {
    auto* names = findList(m_lists, listKey, "removeRuleFromList");
    if (names == nullptr) {
        return;
    }
    if (const auto name = std::find(names->begin(), names->end(), ruleName); name != names->end()) {
        names->erase(name);
    }
}

void CachedRuleNamesLists::storeList(PyxOrreryHandle handle, const std::wstring& listKey) {
    if (const auto names = namesToStore(listKey)) {
        Orrery::setStringArray(handle, listKey, *names);
    }
}

std::optional<std::vector<std::wstring>> CachedRuleNamesLists::namesToStore(
    const std::wstring& listKey) const {
    if (const auto* names = findList(m_lists, listKey, "storeList")) {
        return *names;
    }
    return std::nullopt;
}

std::vector<std::wstring> CachedRuleNamesLists::getList(const std::wstring& listKey) const {
    const auto* names = findList(m_lists, listKey, "getList");
    return names == nullptr ? std::vector<std::wstring>() : *names;
}

void CachedRuleNamesLists::loadLists(PyxOrreryHandle handle) {
    for (auto& [key, names] : m_lists) {
        names = Orrery::getObjectFromOrrery<std::vector<std::wstring>>(handle, key, {});
    }
}
