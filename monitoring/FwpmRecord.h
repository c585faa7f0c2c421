// Owner of one record that an engine look-up returned: freed through the same wrapper on
// every path.
#pragma once

#include <utility>

#include "monitoring/IFwpmWrapper.h"

template <typename Record>
class FwpmRecord {
public:
    explicit FwpmRecord(IFwpmWrapper& fwpm) : m_fwpm(fwpm) {}
    ~FwpmRecord() { reset(); }
    FwpmRecord(const FwpmRecord&) = delete;
    FwpmRecord& operator=(const FwpmRecord&) = delete;

    Record* get() const { return m_record; }
    Record* operator->() const { return m_record; }
    explicit operator bool() const { return m_record != nullptr; }
    // For the look-up's out-parameter.
    Record** put() {
        reset();
        return &m_record;
    }
    void reset() {
        if (m_record != nullptr) {
            m_fwpm.freeMemory(&m_record);
            m_record = nullptr;
        }
    }

private:
    IFwpmWrapper& m_fwpm;
    Record* m_record = nullptr;
};
