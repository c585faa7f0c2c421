#include "standin/orrery/JsonText.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "standin/orrery/PyxOrrery.h"

namespace tarn::orrery {

namespace {

// Builds the value from the parser's events, with a stack of open containers instead of
// recursion, and stops at the first rule broken.
class Builder {
public:
    using string_t = Json::string_t;
    using number_integer_t = Json::number_integer_t;
    using number_unsigned_t = Json::number_unsigned_t;
    using number_float_t = Json::number_float_t;
    using binary_t = Json::binary_t;

    Builder(const JsonRules& rules, ParsedJson& result) : m_rules(rules), m_result(result) {}

    bool null() { return put(Json(nullptr)) != nullptr; }
    bool boolean(bool value) { return put(Json(value)) != nullptr; }
    bool number_integer(number_integer_t value) { return put(Json(value)) != nullptr; }
    bool number_unsigned(number_unsigned_t value) { return put(Json(value)) != nullptr; }
    bool number_float(number_float_t value, const string_t&) { return put(Json(value)) != nullptr; }
    bool string(string_t& value) { return put(Json(std::move(value))) != nullptr; }
    bool binary(binary_t&) { return refuse(PYX_ORRERY_E_INVALID_JSON, "binary values"); }
    bool start_object(std::size_t) { return open(Json::object()); }
    bool start_array(std::size_t) { return open(Json::array()); }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    bool key(string_t& name) {
        if (m_rules.memberNamesAreKeys && !isValidMemberName(name)) {
            return refuse(
                PYX_ORRERY_E_INVALID_KEY,
                "the member name \"" + name +
                    "\" is not a key segment (empty, or with '.' or a control character)");
        }
        m_key = std::move(name);
        return true;
    }
    bool parse_error(std::size_t, const std::string&, const Json::exception& e) {
        return refuse(PYX_ORRERY_E_INVALID_JSON, e.what());
    }

private:
    // Adds a value to the open container (or makes it the root); null when refused.
    Json* put(Json value) {
        if (m_open.empty()) {
            m_result.value = std::move(value);
            return &m_result.value;
        }
        Json& container = *m_open.back();
        if (container.is_array()) {
            container.push_back(std::move(value));
            return &container.back();
        }
        auto& members = container.get_ref<Json::object_t&>();
        auto [it, inserted] = members.try_emplace(m_key, std::move(value));
        if (!inserted) {
            if (m_rules.refuseDuplicates) {
                refuse(PYX_ORRERY_E_DUPLICATE_MEMBER,
                       "the member \"" + m_key + "\" appears twice in one object");
                return nullptr;
            }
            it->second = std::move(value);
        }
        return &it->second;
    }
    bool open(Json container) {
        if (m_open.size() + 1 > m_rules.maxDepth) {
            return refuse(PYX_ORRERY_E_TOO_DEEP, "the value is nested deeper than " +
                                                     std::to_string(m_rules.maxDepth) + " levels");
        }
        Json* added = put(std::move(container));
        if (added == nullptr) {
            return false;
        }
        m_open.push_back(added);
        m_result.depth = std::max(m_result.depth, m_open.size());
        return true;
    }
    bool close() {
        m_open.pop_back();
        return true;
    }
    bool refuse(int code, std::string reason) {
        if (m_result.error == 0) {
            m_result.error = code;
            m_result.reason = std::move(reason);
        }
        return false;
    }

    const JsonRules& m_rules;
    ParsedJson& m_result;
    std::vector<Json*> m_open;  // each points into the one before it, the last is being filled
    std::string m_key;
};

}  // namespace

bool isValidMemberName(std::string_view name) {
    if (name.empty()) {
        return false;
    }
    for (const char c : name) {
        if (c == '.' || static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
            return false;
        }
    }
    return true;
}

ParsedJson parseJson(std::string_view text, const JsonRules& rules) {
    ParsedJson result;
    Builder builder(rules, result);
    if (!Json::sax_parse(text, &builder) && result.error == 0) {
        result.error = PYX_ORRERY_E_INVALID_JSON;
        result.reason = "the text is not JSON";
    }
    if (result.error != 0) {
        result.value = Json();
        result.depth = 0;
    }
    return result;
}

}  // namespace tarn::orrery
