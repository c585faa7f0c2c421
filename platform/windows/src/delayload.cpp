// The delay-load helper's notification hook: it hands over the modules that the resolver
// loaded by full path. A library that the resolver does not have is not looked for on the
// search path: the helper is given a module without the entry, and its failure (an exception
// that ends the process) shows the call that came before the library was loaded.
#include "platform/delayload.h"

#include <delayimp.h>

#include <atomic>

namespace {

std::atomic<tarn::platform::DelayLoadResolver> g_resolver{nullptr};

FARPROC WINAPI notify(unsigned reason, PDelayLoadInfo info) {
    if (reason != dliNotePreLoadLibrary || info == nullptr) {
        return nullptr;
    }
    const auto resolver = g_resolver.load();
    HMODULE module = resolver != nullptr ? resolver(info->szDll) : nullptr;
    if (module == nullptr) {
        module = GetModuleHandleW(L"kernel32.dll");
    }
    return reinterpret_cast<FARPROC>(module);
}

}  // namespace

// Declared with C linkage by delayimp.h; this is its definition.
PfnDliHook __pfnDliNotifyHook2 = notify;

namespace tarn::platform {

void setDelayLoadResolver(DelayLoadResolver resolver) {
    g_resolver = resolver;
}

}  // namespace tarn::platform
