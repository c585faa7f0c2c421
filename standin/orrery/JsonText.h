// JSON text that enters the store, parsed without recursion and held to the store's rules: a
// depth limit (so that no later copy, comparison or dump of a value recurses without bound),
// member names that can be key segments, and no member given twice.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

namespace tarn::orrery {

using Json = nlohmann::json;

// Deepest nesting of a namespace's value tree: its root object is level 1, and a value under
// a key of n segments adds n levels. Policies use fewer than ten.
inline constexpr size_t kMaxDepth = 100;

struct JsonRules {
    size_t maxDepth = kMaxDepth;     // levels of objects and arrays; a scalar alone has none
    bool memberNamesAreKeys = true;  // not empty, no '.', no control character
    bool refuseDuplicates = true;    // otherwise the last one counts
};

struct ParsedJson {
    Json value;
    size_t depth = 0;    // the deepest level of objects and arrays in the text
    int error = 0;       // the library's error code
    std::string reason;  // what is wrong, for people, when error is not 0
};

ParsedJson parseJson(std::string_view text, const JsonRules& rules = {});

// Whether a member name can be one segment of a dotted key.
bool isValidMemberName(std::string_view name);

}  // namespace tarn::orrery
