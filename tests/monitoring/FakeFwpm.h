// A filtering engine's look-ups for decoding tests: filters and layers by id, answers that can
// be forced, and every record it hands out counted until it comes back through freeMemory.
#pragma once

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>

#include "monitoring/IFwpmWrapper.h"

namespace tarn::test {

class FakeFwpm : public IFwpmWrapper {
public:
    struct FilterText {
        std::optional<std::wstring> name;
        std::optional<std::wstring> description;
    };

    std::map<UINT64, FilterText> filters;
    std::map<UINT16, std::optional<std::wstring>> layers;
    std::map<GUID, UINT64, bool (*)(const GUID&, const GUID&)> filterKeys{&guidLess};
    DWORD filterAnswer = ERROR_SUCCESS;  // a failure code forces every filter look-up to fail
    bool nullFilter = false;             // success with a null filter

    DWORD filterGetById(HANDLE, UINT64 id, FWPM_FILTER0** filter) override {
        std::lock_guard lock(m_mutex);
        ++filterLookups;
        return lookUpFilter(id, filter);
    }
    DWORD filterGetByKey(HANDLE, const GUID* key, FWPM_FILTER0** filter) override {
        std::lock_guard lock(m_mutex);
        ++filterLookups;
        const auto it = filterKeys.find(*key);
        return lookUpFilter(it == filterKeys.end() ? 0 : it->second, filter);
    }
    DWORD layerGetById(HANDLE, UINT16 id, FWPM_LAYER0** layer) override {
        std::lock_guard lock(m_mutex);
        ++layerLookups;
        const auto it = layers.find(id);
        if (it == layers.end()) {
            return static_cast<DWORD>(FWP_E_LAYER_NOT_FOUND);
        }
        auto record = std::make_unique<Record<FWPM_LAYER0>>();
        record->name = it->second;
        record->value.displayData.name = record->name ? record->name->data() : nullptr;
        record->value.layerId = id;
        *layer = &record->value;
        m_live.emplace(&record->value, std::move(record));
        return ERROR_SUCCESS;
    }
    void freeMemory(FWPM_FILTER0** filter) override { release(reinterpret_cast<void**>(filter)); }
    void freeMemory(FWPM_LAYER0** layer) override { release(reinterpret_cast<void**>(layer)); }

    DWORD engineSetOption(HANDLE, FWPM_ENGINE_OPTION, const FWP_VALUE0*) override {
        return ERROR_SUCCESS;
    }
    DWORD netEventSubscribe(HANDLE, const FWPM_NET_EVENT_SUBSCRIPTION0*, FWPM_NET_EVENT_CALLBACK0,
                            void*, HANDLE*) override {
        return ERROR_SUCCESS;
    }
    DWORD filterSubscribeChanges(HANDLE, const FWPM_FILTER_SUBSCRIPTION0*,
                                 FWPM_FILTER_CHANGE_CALLBACK0, void*, HANDLE*) override {
        return ERROR_SUCCESS;
    }
    DWORD filterUnsubscribeChanges(HANDLE, HANDLE) override { return ERROR_SUCCESS; }
    DWORD netEventUnsubscribe(HANDLE, HANDLE) override { return ERROR_SUCCESS; }

    size_t live() const {
        std::lock_guard lock(m_mutex);
        return m_live.size();
    }

    int filterLookups = 0;
    int layerLookups = 0;
    int frees = 0;
    int badFrees = 0;

private:
    struct RecordBase {
        virtual ~RecordBase() = default;
    };
    template <typename T>
    struct Record : RecordBase {
        T value{};
        std::optional<std::wstring> name;
        std::optional<std::wstring> description;
    };

    static bool guidLess(const GUID& a, const GUID& b) {
        return std::memcmp(&a, &b, sizeof(GUID)) < 0;
    }

    DWORD lookUpFilter(UINT64 id, FWPM_FILTER0** filter) {
        if (filterAnswer != ERROR_SUCCESS) {
            return filterAnswer;
        }
        if (nullFilter) {
            *filter = nullptr;
            return ERROR_SUCCESS;
        }
        const auto it = filters.find(id);
        if (it == filters.end()) {
            return static_cast<DWORD>(FWP_E_FILTER_NOT_FOUND);
        }
        auto record = std::make_unique<Record<FWPM_FILTER0>>();
        record->name = it->second.name;
        record->description = it->second.description;
        record->value.displayData.name = record->name ? record->name->data() : nullptr;
        record->value.displayData.description =
            record->description ? record->description->data() : nullptr;
        record->value.filterId = id;
        *filter = &record->value;
        m_live.emplace(&record->value, std::move(record));
        return ERROR_SUCCESS;
    }

    void release(void** pointer) {
        std::lock_guard lock(m_mutex);
        if (m_live.erase(*pointer) == 0) {
            ++badFrees;
        } else {
            ++frees;
        }
        *pointer = nullptr;
    }

    mutable std::mutex m_mutex;
    std::map<void*, std::unique_ptr<RecordBase>> m_live;
};

}  // namespace tarn::test
