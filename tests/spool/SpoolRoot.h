// A fresh spool folder that the libraries use while this object lives (TARN_SPOOL_ROOT), and
// the entries of a namespace's spool.
#pragma once

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "standin/spool/Spool.h"
#include "tests/support/TempDir.h"

namespace tarn::test {

class SpoolRoot {
public:
    SpoolRoot() { SetEnvironmentVariableW(L"TARN_SPOOL_ROOT", m_folder.path().c_str()); }
    ~SpoolRoot() { SetEnvironmentVariableW(L"TARN_SPOOL_ROOT", nullptr); }
    SpoolRoot(const SpoolRoot&) = delete;
    SpoolRoot& operator=(const SpoolRoot&) = delete;

    const std::wstring& path() const { return m_folder.path(); }
    std::vector<std::string> lines(const std::wstring& nameSpace) const {
        spool::Reader reader(spool::spoolPath(nameSpace));
        auto read = reader.readNew();
        EXPECT_TRUE(read.has_value());
        return read.value_or(std::vector<std::string>{});
    }
    std::vector<nlohmann::json> entries(const std::wstring& nameSpace) const {
        std::vector<nlohmann::json> parsed;
        for (const auto& line : lines(nameSpace)) {
            parsed.push_back(nlohmann::json::parse(line));
        }
        return parsed;
    }

private:
    TempDir m_folder;
};

}  // namespace tarn::test
