// Base of long-running classes: an own stop event plus the plug-in's shared stop event, so
// that setting either ends every wait of the object.
#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "common/WinHandles.h"

namespace tarn {

// The plug-in's stop event, shared by every long-running object.
using SharedEvent = std::shared_ptr<UniqueHandle>;

// A manual-reset, initially non-signalled event without a name; empty when it cannot be made.
SharedEvent makeSharedEvent();

class Stoppable {
public:
    explicit Stoppable(SharedEvent sharedStopEvent = nullptr);
    virtual ~Stoppable() = default;
    Stoppable(const Stoppable&) = delete;
    Stoppable& operator=(const Stoppable&) = delete;

    // Sets the own event and returns at once.
    virtual void requestStop();
    // Derived classes shut their work down here and wait for it.
    virtual void stop();

    // Waits until a stop event is set (true) or the time is up (false);
    // std::chrono::milliseconds::max() waits without limit.
    bool waitFor(std::chrono::milliseconds duration) const;
    bool isStopped() const { return waitFor(std::chrono::milliseconds(0)); }

    // Waits for `event` or a stop event and returns the wait's result: WAIT_OBJECT_0 for
    // `event`, WAIT_TIMEOUT when the time is up. A stop wins over `event`: check isStopped()
    // first.
    DWORD waitForEventOrStop(
        HANDLE event, std::chrono::milliseconds timeout = std::chrono::milliseconds::max()) const;

private:
    UniqueHandle m_stopEvent;
    SharedEvent m_sharedStopEvent;  // keeps the shared handle open while listed
    std::vector<HANDLE> m_handles;
};

}  // namespace tarn
