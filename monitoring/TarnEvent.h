// One event of the event library, owned while it lives: created with its namespace, name and
// kind, sent to all, freed when destroyed.
#pragma once

#include <string>

#include "monitoring/EventLibrary.h"

class TarnEvent {
public:
    TarnEvent(const std::wstring& namespaceName, const std::wstring& eventName, int kind,
              const EventLibrary& library = linkedEventLibrary());
    ~TarnEvent();
    TarnEvent(const TarnEvent&) = delete;
    TarnEvent& operator=(const TarnEvent&) = delete;

    // Adds the event for every receiver; nothing without an event handle.
    void SendAll();

private:
    const EventLibrary& m_library;
    TarnEventHandle m_handle = nullptr;
};
