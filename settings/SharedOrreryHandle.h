// A store handle that other threads read while its owner may take it away. Readers get the
// handle or null; a handle closed under a reader's call makes the library answer "invalid
// handle", which every caller treats as a failed read.
#pragma once

#include <atomic>

#include "settings_store/OrreryResources.h"

namespace tarn {

class SharedOrreryHandle {
public:
    SharedOrreryHandle() = default;
    ~SharedOrreryHandle() { reset(); }
    SharedOrreryHandle(const SharedOrreryHandle&) = delete;
    SharedOrreryHandle& operator=(const SharedOrreryHandle&) = delete;

    PyxOrreryHandle get() const { return m_handle.load(std::memory_order_acquire); }
    // Keeps `handle` (owned from now on) and closes the one held before.
    void reset(PyxOrreryHandle handle = nullptr) {
        const UniqueOrreryHandle previous(m_handle.exchange(handle, std::memory_order_acq_rel));
    }

private:
    std::atomic<PyxOrreryHandle> m_handle{nullptr};
};

}  // namespace tarn
