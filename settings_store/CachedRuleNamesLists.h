// The names of the rules that this system installed or changed on the Windows firewall, kept
// as four string arrays in the settings store so that its own rules are known across
// restarts. The owner serialises every call under its lock.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "standin/orrery/PyxOrrery.h"

class CachedRuleNamesLists {
public:
    // The four lists, empty.
    CachedRuleNamesLists();

    // Appends the name unless the list holds an equal one (case-sensitive). In memory only.
    void addRuleToList(const std::wstring& listKey, const std::wstring& ruleName);
    // Erases the first equal name; the others keep their order. In memory only.
    void removeRuleFromList(const std::wstring& listKey, const std::wstring& ruleName);
    // Writes the list as a JSON array of strings.
    void storeList(PyxOrreryHandle handle, const std::wstring& listKey);
    // What storeList writes: a copy of the list, or none for an unknown key (logged).
    std::optional<std::vector<std::wstring>> namesToStore(const std::wstring& listKey) const;
    std::vector<std::wstring> getList(const std::wstring& listKey) const;
    // Replaces every list by what the store holds (empty when it cannot be read).
    void loadLists(PyxOrreryHandle handle);

private:
    std::map<std::wstring, std::vector<std::wstring>> m_lists;
};
