#include "settings_store/CachedRuleNamesLists.h"

#include <algorithm>

#include "common/logging/Log.h"
#include "settings_store/Orrery.h"
#include "settings_store/OrreryKeys.h"

CachedRuleNamesLists::CachedRuleNamesLists() {
    for (const wchar_t* key : tarn::keys::kRuleNameLists) {
        m_lists[key];
    }
}

void CachedRuleNamesLists::addRuleToList(const std::wstring& listKey,
                                         const std::wstring& ruleName) {
    const auto list = m_lists.find(listKey);
    if (list == m_lists.end()) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Unknown array name: " << listKey;
        return;
    }
    if (std::find(list->second.begin(), list->second.end(), ruleName) == list->second.end()) {
        list->second.push_back(ruleName);
    }
}

void CachedRuleNamesLists::removeRuleFromList(const std::wstring& listKey,
                                              const std::wstring& ruleName) {
    const auto list = m_lists.find(listKey);
    if (list == m_lists.end()) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Unknown array name: " << listKey;
        return;
    }
    const auto name = std::find(list->second.begin(), list->second.end(), ruleName);
    if (name != list->second.end()) {
        list->second.erase(name);
    }
}

void CachedRuleNamesLists::storeList(PyxOrreryHandle handle, const std::wstring& listKey) {
    const auto list = m_lists.find(listKey);
    if (list == m_lists.end()) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Unknown array name: " << listKey;
        return;
    }
    Orrery::setStringArray(handle, listKey, list->second);
}

std::vector<std::wstring> CachedRuleNamesLists::getList(const std::wstring& listKey) const {
    const auto list = m_lists.find(listKey);
    if (list == m_lists.end()) {
        TARN_LOG(TarnPyxLogging::LevelWarning) << "Unknown array name: " << listKey;
        return {};
    }
    return list->second;
}

void CachedRuleNamesLists::loadLists(PyxOrreryHandle handle) {
    for (auto& [key, names] : m_lists) {
        names = Orrery::getObjectFromOrrery<std::vector<std::wstring>>(handle, key, {});
    }
}
