// The spool of a product namespace: the file into which the alert and event libraries append
// what they send, one JSON object per line, for the product's transport to take:
//
//   {"time":"2026-01-31T08:05:09.042Z","namespace":"ns","source":"alert",
//    "type":"firewall.tarn_rule_triggered.block","payload":{...}}
//
// The file is <folder>\<namespace>.jsonl and only ever grows. Every process appends under one
// named mutex per spool, each line with a single write to a freshly opened appending handle,
// so lines of several threads and processes never mix and a spool that someone moved away is
// simply started again. A line is in the file when append returns, so it survives a crash of
// the writing process; the file is flushed to disk when a second has passed since the last
// flush of that spool by the process.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace tarn::spool {

// The folder of the spools: TARN_SPOOL_ROOT, else the registry string "DataPath" under
// HKLM\SOFTWARE\Tarn\PYX\Spool (32-bit view), else %ProgramData%\Tarn\Spool.
std::wstring spoolFolder();
std::wstring spoolPath(const std::wstring& nameSpace);

// 1 to 200 characters, valid UTF-16, none of \ / : * ? " < > | or control characters, not "."
// or "..".
bool isValidNamespace(std::wstring_view nameSpace);

enum class Result { Ok, InvalidNamespace, Io };

// Whether the namespace's spool can be written: creates its folder and opens the file.
Result prepare(const std::wstring& nameSpace);

// Appends one line. `source` says which library sent it ("alert", "event").
Result append(const std::wstring& nameSpace, std::string_view source, std::string_view type,
              const nlohmann::json& payload);

// The line as append writes it, without the line end; `time` is ISO 8601 UTC.
std::string formatLine(const std::wstring& nameSpace, std::string_view source,
                       std::string_view type, const nlohmann::json& payload,
                       const std::string& time);

// Reading a spool as it grows: whole lines from a byte offset on.
class Reader {
public:
    explicit Reader(std::wstring path) : m_path(std::move(path)) {}
    // The complete lines added since the last call (without their line ends); nullopt when
    // the file cannot be read. A spool that became shorter is read again from its start.
    std::optional<std::vector<std::string>> readNew();

private:
    std::wstring m_path;
    uint64_t m_offset = 0;
    std::string m_partial;
};

}  // namespace tarn::spool
