// One namespace's content: the value tree, the constraint bits of keys and the generation
// that every write raises. Published documents are immutable and shared, so readers and the
// objects handed to callers never copy or lock them.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarn::orrery {

using Json = nlohmann::json;

struct Document {
    uint64_t generation = 0;
    Json values = Json::object();
    std::map<std::string, uint32_t> constraints;  // dotted UTF-8 key -> bits (never 0)
    // The file form of top-level values as last written, so that a write serialises only the
    // members it changed. An entry, where present, is the text of that member's value; whoever
    // changes a member drops its entry.
    std::map<std::string, std::shared_ptr<const std::string>> memberTexts;
};
using DocumentPtr = std::shared_ptr<const Document>;

// The file form: {"generation":N,"constraints":{...},"values":{...}}.
std::string serialize(const Document& document);
// The same text; fills the document's missing member texts on the way and reuses the others.
std::string serializeCaching(Document& document);
// Nullopt when the text is not a store document, with the reason in `error` if given
// (PYX_ORRERY_E_TOO_DEEP for values nested deeper than the store allows).
std::optional<Document> parseDocument(const std::string& text, int* error = nullptr);

// The value at the path below `root`; null when absent or when the path crosses a non-object.
const Json* findValue(const Json& root, const std::vector<std::string>& path);
// Stores `value` at the path, creating missing objects on the way. The library's error code:
// a path that crosses a non-object is refused (PYX_ORRERY_E_WRONG_TYPE).
int storeValue(Json& root, const std::vector<std::string>& path, Json value);
// Removes the value at the path; PYX_ORRERY_E_NOT_FOUND when there is none.
int eraseValue(Json& root, const std::vector<std::string>& path);

// The constraint bits in force for a key: those of the nearest constrained key at or above it.
uint32_t constraintsOf(const Document& document, const std::string& key);
// Whether writing `key` would change a read-only key: one at, above or below it.
bool touchesReadOnlyKey(const Document& document, const std::string& key);
// Whether replacing all values by `values` would change the value of a read-only key.
bool changesReadOnlyValue(const Document& document, const Json& values);

// The full keys whose values differ between two value trees, in key order. Objects are
// walked; any other value (arrays too) is compared as a whole; an absent value and an empty
// object both count as no value.
std::vector<std::string> changedKeys(const Json& before, const Json& after);
// The same for two trees that differ at most at or below `path`, from the values at the path
// (null: none there).
std::vector<std::string> changedKeysAt(const Json* before, const Json* after,
                                       const std::vector<std::string>& path);

}  // namespace tarn::orrery
