// JSON conversion of UTF-16 strings: a std::wstring is a JSON string holding its UTF-8 form.
// Every translation unit that converts wide strings to or from JSON includes this header, so
// that all of them agree (without it the JSON library would make arrays of numbers).
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "common/Str.h"

namespace nlohmann {

template <>
struct adl_serializer<std::wstring> {
    // Conversion failures throw std::runtime_error with the texts of tarn::str.
    static void to_json(json& j, const std::wstring& value) { j = tarn::str::toUtf8(value); }
    // A value that is not a string throws the JSON library's "type must be string" error.
    static void from_json(const json& j, std::wstring& value) {
        value = tarn::str::fromUtf8(j.get<std::string>());
    }
};

}  // namespace nlohmann
