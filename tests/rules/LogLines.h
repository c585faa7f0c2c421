// Log assertions shared by the rule tests.
#pragma once

#include <string>

#include "tests/support/LogCapture.h"

namespace tarn::test {

// Whether a line with exactly this level, tag and message was logged.
inline bool logged(const LogCapture& log, int32_t level, const std::string& tag,
                   const std::string& message) {
    for (const auto& line : log.lines()) {
        if (line.level == level && line.tag == tag && line.message == message) {
            return true;
        }
    }
    return false;
}

}  // namespace tarn::test
