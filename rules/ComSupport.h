// Owners of COM resources (interface pointers, BSTRs, VARIANTs), so that every reference and
// every string is released on every path.
#pragma once

#include <string>
#include <string_view>

#include "common/WinHandles.h"
#include "common/exceptions/ErrorCodeException.h"
#include "platform/win.h"

namespace tarn {

template <class I>
struct ComTraits {
    static I* invalid() { return nullptr; }
    static bool valid(I* p) { return p != nullptr; }
    static void close(I* p) { p->Release(); }
};
// Holds one reference. Declare it after the thread's CoInitializer, never in a static.
template <class I>
using ComPtr = UniqueResource<I*, ComTraits<I>>;

template <class To, class From>
HRESULT queryInterface(From* from, ComPtr<To>& to) {
    return from->QueryInterface(__uuidof(To), reinterpret_cast<void**>(to.put()));
}

struct BstrTraits {
    static BSTR invalid() { return nullptr; }
    static bool valid(BSTR b) { return b != nullptr; }
    static void close(BSTR b) { ::SysFreeString(b); }
};
// An empty owner is the null BSTR, which COM reads as the empty string.
using UniqueBstr = UniqueResource<BSTR, BstrTraits>;

// HRESULTs as exceptions, where memory for a string runs out.
struct HResultCategory {
    using CodeType = long;
    static const wchar_t* name() { return L"ComException"; }
    static std::wstring message(long code);
};
using ComException = ErrorCodeException<HResultCategory, long>;

// A BSTR of the text (the empty text gives an empty, non-null BSTR); throws ComException with
// E_OUTOFMEMORY when it cannot be allocated.
UniqueBstr makeBstr(std::wstring_view text);
inline std::wstring toWide(BSTR b) {
    return b != nullptr ? std::wstring(b, ::SysStringLen(b)) : std::wstring();
}

// A VARIANT cleared on every path.
class UniqueVariant {
public:
    UniqueVariant() { ::VariantInit(&m_v); }
    ~UniqueVariant() { ::VariantClear(&m_v); }
    UniqueVariant(const UniqueVariant&) = delete;
    UniqueVariant& operator=(const UniqueVariant&) = delete;

    // Cleared, for use as an out-parameter.
    VARIANT* reset() {
        ::VariantClear(&m_v);
        return &m_v;
    }
    VARIANT& get() { return m_v; }

private:
    VARIANT m_v;
};

}  // namespace tarn
