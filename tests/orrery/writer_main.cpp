// A helper program for the store's tests: writes PREFIX.nNNNN = N, one write per key, from
// the number of keys already below PREFIX up to TOTAL - 1.
//   orrery_test_writer NAMESPACE PREFIX TOTAL
#include <cstdio>
#include <cwchar>
#include <string>

#include "platform/win.h"
#include "settings_store/OrreryResources.h"

int main() {
    int count = 0;
    LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
    if (argv == nullptr || count != 4) {
        std::fputs("usage: orrery_test_writer NAMESPACE PREFIX TOTAL\n", stderr);
        return 2;
    }
    const std::wstring nameSpace = argv[1];
    const std::wstring prefix = argv[2];
    const int total = _wtoi(argv[3]);
    LocalFree(argv);
    int err = -1;
    const tarn::UniqueOrreryHandle handle(
        PyxOrrery_OpenHandle(nameSpace.c_str(), L"S-1-5-18", L"writer", &err));
    if (!handle || err != PYX_ORRERY_OK) {
        std::fprintf(stderr, "open failed: %d\n", err);
        return 1;
    }
    int next = 0;
    {
        const tarn::UniqueOrreryObject existing(
            PyxOrrery_GetObject(handle.get(), prefix.c_str(), &err));
        if (existing) {
            const tarn::UniqueOrreryString text(PyxOrrery_ObjectToStringUtf8(existing.get()));
            // Members look like "nNNNN":N; counting the colons counts them.
            for (const char* c = static_cast<const char*>(text.get()); *c != '\0'; ++c) {
                next += *c == ':' ? 1 : 0;
            }
        }
    }
    for (int i = next; i < total; ++i) {
        wchar_t key[256];
        std::swprintf(key, 256, L"%ls.n%04d", prefix.c_str(), i);
        if (const int code = PyxOrrery_SetInt32(handle.get(), key, i); code != PYX_ORRERY_OK) {
            std::fprintf(stderr, "write %d failed: %d\n", i, code);
            return 1;
        }
    }
    return 0;
}
