#include "standin/orrery/Document.h"

#include "standin/orrery/JsonText.h"
#include "standin/orrery/PyxOrrery.h"
#include "standin/orrery/Text.h"

namespace tarn::orrery {

namespace {

std::string header(const Document& document) {
    // The generation comes first so that it can be told at a glance in the file.
    std::string text = "{\"generation\":" + std::to_string(document.generation);
    text += ",\"constraints\":";
    text += Json(document.constraints).dump();
    text += ",\"values\":";
    return text;
}

}  // namespace

std::string serialize(const Document& document) {
    std::string text = header(document);
    text += document.values.dump();
    text += "}";
    return text;
}

std::string serializeCaching(Document& document) {
    std::erase_if(document.memberTexts,
                  [&](const auto& entry) { return !document.values.contains(entry.first); });
    std::vector<std::shared_ptr<const std::string>> parts;
    size_t size = 0;
    for (const auto& [name, value] : document.values.items()) {
        auto& cached = document.memberTexts[name];
        if (!cached) {
            cached = std::make_shared<const std::string>(Json(name).dump() + ":" + value.dump());
        }
        size += cached->size() + 1;
        parts.push_back(cached);
    }
    std::string text = header(document);
    text.reserve(text.size() + size + 2);
    text += '{';
    for (size_t i = 0; i < parts.size(); ++i) {
        if (i > 0) {
            text += ',';
        }
        text += *parts[i];
    }
    text += "}}";
    return text;
}

std::optional<Document> parseDocument(const std::string& text, int* error) {
    // The values sit one level below the document's own object. Names are not checked here:
    // this reads what any writer left, and only writes are held to the rules.
    ParsedJson result = parseJson(text, {kMaxDepth + 1, false, false});
    if (error != nullptr) {
        *error = result.error != 0 ? result.error : PYX_ORRERY_E_INVALID_JSON;
    }
    Json& parsed = result.value;
    if (result.error != 0 || !parsed.is_object()) {
        return std::nullopt;
    }
    Document document;
    const auto values = parsed.find("values");
    if (values == parsed.end() || !values->is_object()) {
        return std::nullopt;
    }
    document.values = std::move(*values);
    if (const auto generation = parsed.find("generation"); generation != parsed.end()) {
        if (!generation->is_number_unsigned()) {
            return std::nullopt;
        }
        document.generation = generation->get<uint64_t>();
    }
    if (const auto constraints = parsed.find("constraints"); constraints != parsed.end()) {
        if (!constraints->is_object()) {
            return std::nullopt;
        }
        for (const auto& [key, bits] : constraints->items()) {
            if (!bits.is_number_unsigned() || bits.get<uint64_t>() > UINT32_MAX) {
                return std::nullopt;
            }
            if (bits.get<uint32_t>() != 0) {
                document.constraints.emplace(key, bits.get<uint32_t>());
            }
        }
    }
    if (error != nullptr) {
        *error = PYX_ORRERY_OK;
    }
    return document;
}

const Json* findValue(const Json& root, const std::vector<std::string>& path) {
    const Json* node = &root;
    for (const auto& segment : path) {
        if (!node->is_object()) {
            return nullptr;
        }
        const auto it = node->find(segment);
        if (it == node->end()) {
            return nullptr;
        }
        node = &*it;
    }
    return node;
}

int storeValue(Json& root, const std::vector<std::string>& path, Json value) {
    Json* node = &root;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        auto it = node->find(path[i]);
        if (it == node->end()) {
            it = node->emplace(path[i], Json::object()).first;
        } else if (!it->is_object()) {
            return PYX_ORRERY_E_WRONG_TYPE;
        }
        node = &*it;
    }
    (*node)[path.back()] = std::move(value);
    return PYX_ORRERY_OK;
}

int eraseValue(Json& root, const std::vector<std::string>& path) {
    Json* node = &root;
    for (size_t i = 0; i + 1 < path.size(); ++i) {
        const auto it = node->find(path[i]);
        if (it == node->end() || !it->is_object()) {
            return PYX_ORRERY_E_NOT_FOUND;
        }
        node = &*it;
    }
    return node->erase(path.back()) == 0 ? PYX_ORRERY_E_NOT_FOUND : PYX_ORRERY_OK;
}

uint32_t constraintsOf(const Document& document, const std::string& key) {
    uint32_t found = 0;
    size_t foundLength = 0;
    for (const auto& [constrained, bits] : document.constraints) {
        if (isAtOrBelow(key, constrained) && (found == 0 || constrained.size() > foundLength)) {
            found = bits;
            foundLength = constrained.size();
        }
    }
    return found;
}

bool touchesReadOnlyKey(const Document& document, const std::string& key) {
    for (const auto& [constrained, bits] : document.constraints) {
        if ((bits & PYX_ORRERY_CONSTRAINT_READ_ONLY) != 0 &&
            (isAtOrBelow(key, constrained) || isAtOrBelow(constrained, key))) {
            return true;
        }
    }
    return false;
}

bool changesReadOnlyValue(const Document& document, const Json& values) {
    for (const auto& [constrained, bits] : document.constraints) {
        if ((bits & PYX_ORRERY_CONSTRAINT_READ_ONLY) == 0) {
            continue;
        }
        std::vector<std::string> path;
        for (size_t start = 0;;) {
            const size_t dot = constrained.find('.', start);
            path.push_back(constrained.substr(start, dot - start));
            if (dot == std::string::npos) {
                break;
            }
            start = dot + 1;
        }
        const Json* before = findValue(document.values, path);
        const Json* after = findValue(values, path);
        if ((before == nullptr) != (after == nullptr) || (before != nullptr && *before != *after)) {
            return true;
        }
    }
    return false;
}

namespace {

bool hasMembers(const Json* node) {
    return node != nullptr && node->is_object() && !node->empty();
}

// A value that is reported under its own key: anything but an object.
const Json* leafPart(const Json* node) {
    return node != nullptr && !node->is_object() ? node : nullptr;
}

std::string childKey(const std::string& prefix, const std::string& name) {
    return prefix.empty() ? name : prefix + "." + name;
}

void collectChanges(const Json* before, const Json* after, const std::string& prefix,
                    std::vector<std::string>& out) {
    const Json* leafBefore = leafPart(before);
    const Json* leafAfter = leafPart(after);
    if ((leafBefore != nullptr || leafAfter != nullptr) &&
        (leafBefore == nullptr || leafAfter == nullptr || *leafBefore != *leafAfter)) {
        out.push_back(prefix);
    }
    if (!hasMembers(before) && !hasMembers(after)) {
        return;
    }
    static const Json empty = Json::object();
    const Json& left = hasMembers(before) ? *before : empty;
    const Json& right = hasMembers(after) ? *after : empty;
    // Both sides iterate in key order: a merge walk visits every key once.
    auto l = left.begin();
    auto r = right.begin();
    while (l != left.end() || r != right.end()) {
        if (r == right.end() || (l != left.end() && l.key() < r.key())) {
            collectChanges(&*l, nullptr, childKey(prefix, l.key()), out);
            ++l;
        } else if (l == left.end() || r.key() < l.key()) {
            collectChanges(nullptr, &*r, childKey(prefix, r.key()), out);
            ++r;
        } else {
            if (*l != *r) {
                collectChanges(&*l, &*r, childKey(prefix, l.key()), out);
            }
            ++l;
            ++r;
        }
    }
}

}  // namespace

std::vector<std::string> changedKeys(const Json& before, const Json& after) {
    std::vector<std::string> out;
    if (before != after) {
        collectChanges(&before, &after, std::string(), out);
    }
    return out;
}

std::vector<std::string> changedKeysAt(const Json* before, const Json* after,
                                       const std::vector<std::string>& path) {
    // Above the path there are only objects (or nothing), which have no value of their own.
    std::vector<std::string> out;
    if (before == nullptr && after == nullptr) {
        return out;
    }
    std::string prefix;
    for (const auto& segment : path) {
        prefix = childKey(prefix, segment);
    }
    if (before == nullptr || after == nullptr || *before != *after) {
        collectChanges(before, after, prefix, out);
    }
    return out;
}

}  // namespace tarn::orrery
