// Waiting on a condition that other threads or processes bring about.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace tarn::test {

// Checks `condition` every few milliseconds until it holds; false when `timeout` passed first.
inline bool eventually(const std::function<bool()>& condition,
                       std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

}  // namespace tarn::test
