// The Windows Firewall of a machine file for people: the rules in a table (ours first, then
// the other programs'), the three profiles' defaults, the status keys that the plug-in wrote
// into the settings store, and the differences between two machine files.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace tarn::view {

// The firewall section of a machine file as text; `store` (a settings store document, may be
// null) adds its "status.windows.firewall." keys. Throws std::invalid_argument for a document
// without a firewall section.
std::string renderFirewall(const nlohmann::json& machine, const nlohmann::json* store = nullptr);

// What changed from `before` to `after`: rules added ("+"), removed ("-") and changed ("~",
// with each changed property), profile defaults, and registry values. "no differences" when
// the firewalls and registries are equal.
std::string renderDiff(const nlohmann::json& before, const nlohmann::json& after);

// Pieces of the above for other views: the rules of a machine file as a table under a title
// with their count, and the three profiles' defaults as a table.
std::string renderRules(const std::string& title, const std::vector<nlohmann::json>& rules);
std::string renderProfiles(const nlohmann::json& profiles);

// The members that differ between two objects: name -> [before, after], null where unset.
nlohmann::json memberChanges(const nlohmann::json& before, const nlohmann::json& after);
// The rules of two machine files, matched by name: {"add": [rule...], "change": [{"name",
// "writes": memberChanges}...], "remove": [rule...]}. Throws like renderDiff.
nlohmann::json ruleChanges(const nlohmann::json& before, const nlohmann::json& after);

// Runs the tool on its arguments (without the program name); 0 on success, 2 for a usage
// error, 1 when a file cannot be read.
int runTool(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace tarn::view
