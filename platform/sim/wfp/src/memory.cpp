// What the simulated engine hands to its clients: counted allocations, FwpmFreeMemory0, and
// the RPC runtime's GUID texts.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "internal.h"
#include "wfp_internal.h"

namespace sim::wfp::detail {
namespace {

struct Block {
    Memory kind;
    uint64_t generation;  // blocks of an earlier test are freed without being counted
};

struct Allocations {
    std::mutex mutex;
    std::unordered_map<void*, Block> live;
    uint64_t generation = 0;
    size_t badFrees = 0;
};

Allocations& allocations() {
    static auto* table = new Allocations;
    return *table;
}

}  // namespace

void* allocate(size_t size, Memory kind) {
    void* block = std::calloc(1, size == 0 ? 1 : size);
    if (block == nullptr) {
        return nullptr;
    }
    auto& table = allocations();
    std::lock_guard lock(table.mutex);
    table.live.emplace(block, Block{kind, table.generation});
    return block;
}

bool release(void* block, Memory kind) {
    auto& table = allocations();
    {
        std::lock_guard lock(table.mutex);
        const auto it = table.live.find(block);
        if (it == table.live.end() || it->second.kind != kind) {
            ++table.badFrees;
            return false;
        }
        table.live.erase(it);
    }
    std::free(block);
    return true;
}

void forgetAllocations() {
    auto& table = allocations();
    std::lock_guard lock(table.mutex);
    ++table.generation;
    table.badFrees = 0;
}

size_t liveAllocationCount() {
    auto& table = allocations();
    std::lock_guard lock(table.mutex);
    size_t count = 0;
    for (const auto& [block, info] : table.live) {
        count += info.generation == table.generation ? 1 : 0;
    }
    return count;
}

size_t badFreeCount() {
    auto& table = allocations();
    std::lock_guard lock(table.mutex);
    return table.badFrees;
}

}  // namespace sim::wfp::detail

namespace sim::wfp {

size_t liveAllocations() {
    return detail::liveAllocationCount();
}

size_t badFrees() {
    return detail::badFreeCount();
}

}  // namespace sim::wfp

using sim::wfp::detail::Memory;

void WINAPI FwpmFreeMemory0(void** p) {
    SIM_API("FwpmFreeMemory0");
    if (p == nullptr || *p == nullptr) {
        return;
    }
    // Windows would corrupt its heap on a pointer it did not hand out; the engine counts it.
    sim::wfp::detail::release(*p, Memory::Engine);
    *p = nullptr;
}

RPC_STATUS UuidToStringW(const UUID* uuid, RPC_WSTR* text) {
    SIM_API("UuidToStringW");
    if (simFault_) {
        return static_cast<RPC_STATUS>(*simFault_);
    }
    if (uuid == nullptr || text == nullptr) {
        return RPC_S_INVALID_ARG;
    }
    char narrow[40];
    std::snprintf(narrow, sizeof narrow, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                  uuid->Data1, uuid->Data2, uuid->Data3, uuid->Data4[0], uuid->Data4[1],
                  uuid->Data4[2], uuid->Data4[3], uuid->Data4[4], uuid->Data4[5], uuid->Data4[6],
                  uuid->Data4[7]);
    const size_t length = std::strlen(narrow);
    auto* wide = static_cast<WCHAR*>(
        sim::wfp::detail::allocate((length + 1) * sizeof(WCHAR), Memory::RpcString));
    if (wide == nullptr) {
        return RPC_S_OUT_OF_MEMORY;
    }
    for (size_t i = 0; i < length; ++i) {
        wide[i] = static_cast<WCHAR>(narrow[i]);
    }
    *text = wide;
    return RPC_S_OK;
}

RPC_STATUS RpcStringFreeW(RPC_WSTR* text) {
    SIM_API("RpcStringFreeW");
    if (text == nullptr) {
        return RPC_S_INVALID_ARG;
    }
    // The pointer is left as it was: nothing documents that it is cleared, and wine does not
    // clear it.
    if (*text != nullptr) {
        sim::wfp::detail::release(*text, Memory::RpcString);
    }
    return RPC_S_OK;
}
