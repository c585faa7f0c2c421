// A unit of delayed work for Tarn::TaskScheduler.
#pragma once

#include <functional>
#include <string>
#include <utility>

namespace Tarn {

class Task {
public:
    // A unique task exists at most once (by name) in a scheduler's queue.
    Task(std::string name, bool unique) : m_name(std::move(name)), m_unique(unique) {}
    virtual ~Task() = default;
    Task(const Task&) = delete;
    Task& operator=(const Task&) = delete;

    virtual void execute() = 0;
    // Called instead of execute() for a task that is discarded when the scheduler stops.
    virtual void onCancel() {}

    const std::string& name() const { return m_name; }
    bool unique() const { return m_unique; }

private:
    std::string m_name;
    bool m_unique;
};

// A unique task that runs a function; an empty function throws std::bad_function_call.
class UniqueFuncTask : public Task {
public:
    UniqueFuncTask(std::string name, std::function<void()> function)
        : Task(std::move(name), true), m_function(std::move(function)) {}

    void execute() override { m_function(); }

private:
    std::function<void()> m_function;
};

}  // namespace Tarn
