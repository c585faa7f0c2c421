// When two texts of a firewall rule property mean the same, although they differ in form:
// Windows rewrites some of what it stores, and a rule that already holds the wanted value
// must not be written again.
#pragma once

#include <string>
#include <string_view>

namespace rule_setters {

enum class Compare {
    Exact,      // only equal texts
    List,       // comma lists of ports or interface types: any order, any letter case
    Addresses,  // address lists by the addresses they mean
    Path,       // program paths after expanding environment variables, any letter case
};

// The comparison of a property, by the name of its put operation ("put_LocalPorts").
Compare comparisonOf(std::string_view propertyName);

// Without trailing commas and spaces; a text of only commas and spaces becomes empty.
std::wstring_view trimListTail(std::wstring_view value);

bool valuesEquivalent(Compare how, const std::wstring& current, const std::wstring& wanted);

}  // namespace rule_setters
