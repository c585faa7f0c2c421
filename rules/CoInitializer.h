// COM for the thread that makes it, for as long as it lives (multithreaded apartment).
#pragma once

#include "platform/win.h"

class CoInitializer {
public:
    CoInitializer();
    ~CoInitializer();
    CoInitializer(const CoInitializer&) = delete;
    CoInitializer& operator=(const CoInitializer&) = delete;

    HRESULT result() const { return m_result; }

private:
    HRESULT m_result;
};
