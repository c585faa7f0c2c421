// COM apartments, object creation, BSTR and VARIANT of the simulated machine.
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <unordered_set>

#include "sim/com_control.h"
#include "sim/machine.h"
#include "sim/win/com.h"

const IID IID_IUnknown = simUuidOf<IUnknown>();
const IID IID_IDispatch = simUuidOf<IDispatch>();
const IID IID_IEnumVARIANT = simUuidOf<IEnumVARIANT>();

namespace {

struct GuidLess {
    bool operator()(const GUID& a, const GUID& b) const {
        return std::memcmp(&a, &b, sizeof a) < 0;
    }
};

struct Runtime {
    std::mutex mutex;
    std::map<GUID, sim::com::ClassFactory, GuidLess> classes;
    std::unordered_set<const void*> liveStrings;
    uint64_t badFrees = 0;
};

Runtime& runtime() {
    static Runtime* instance = new Runtime;  // never destroyed: strings outlive static objects
    return *instance;
}

struct Apartment {
    int count = 0;
    DWORD model = 0;
};
thread_local Apartment apartment;

[[maybe_unused]] const bool resetHook = [] {
    sim::onReset([] {
        std::lock_guard lock(runtime().mutex);
        runtime().badFrees = 0;
    });
    return true;
}();

// The length prefix holds the byte length, as on Windows.
uint32_t& prefixOf(BSTR text) {
    return *reinterpret_cast<uint32_t*>(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

}  // namespace

namespace sim::com {

void registerClass(const CLSID& clsid, ClassFactory factory) {
    std::lock_guard lock(runtime().mutex);
    runtime().classes[clsid] = std::move(factory);
}

uint64_t liveStrings() {
    std::lock_guard lock(runtime().mutex);
    return runtime().liveStrings.size();
}

uint64_t badFrees() {
    std::lock_guard lock(runtime().mutex);
    return runtime().badFrees;
}

int initCount() {
    return apartment.count;
}

}  // namespace sim::com

HRESULT CoInitializeEx(LPVOID reserved, DWORD coInit) {
    SIM_API("CoInitializeEx");
    if (simFault_) {
        return static_cast<HRESULT>(*simFault_);
    }
    if (reserved != nullptr || (coInit & ~0xEu) != 0) {
        return E_INVALIDARG;
    }
    const DWORD model = coInit & COINIT_APARTMENTTHREADED;
    if (apartment.count > 0 && apartment.model != model) {
        return RPC_E_CHANGED_MODE;
    }
    apartment.model = model;
    return apartment.count++ == 0 ? S_OK : S_FALSE;
}

void CoUninitialize() {
    SIM_API("CoUninitialize");
    if (apartment.count > 0) {
        --apartment.count;
    }
}

HRESULT CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID riid,
                         LPVOID* object) {
    SIM_API("CoCreateInstance");
    if (object == nullptr) {
        return E_POINTER;
    }
    *object = nullptr;
    if (simFault_) {
        return static_cast<HRESULT>(*simFault_);
    }
    if (apartment.count == 0) {
        return CO_E_NOTINITIALIZED;
    }
    if (outer != nullptr) {
        return CLASS_E_NOAGGREGATION;
    }
    sim::com::ClassFactory factory;
    {
        std::lock_guard lock(runtime().mutex);
        const auto it = runtime().classes.find(clsid);
        if (it == runtime().classes.end() || (context & CLSCTX_INPROC_SERVER) == 0) {
            return REGDB_E_CLASSNOTREG;
        }
        factory = it->second;
    }
    return factory(riid, object);
}

BSTR SysAllocStringLen(const OLECHAR* text, UINT length) {
    SIM_API("SysAllocStringLen");
    if (simFault_) {
        return nullptr;
    }
    char* block =
        static_cast<char*>(std::malloc(sizeof(uint32_t) + (length + 1) * sizeof(OLECHAR)));
    if (block == nullptr) {
        return nullptr;
    }
    BSTR result = reinterpret_cast<BSTR>(block + sizeof(uint32_t));
    prefixOf(result) = static_cast<uint32_t>(length * sizeof(OLECHAR));
    if (text != nullptr) {
        std::memcpy(result, text, length * sizeof(OLECHAR));
    } else {
        std::memset(result, 0, length * sizeof(OLECHAR));
    }
    result[length] = 0;
    std::lock_guard lock(runtime().mutex);
    runtime().liveStrings.insert(result);
    return result;
}

BSTR SysAllocString(const OLECHAR* text) {
    return text == nullptr ? nullptr
                           : SysAllocStringLen(text, static_cast<UINT>(std::wcslen(text)));
}

void SysFreeString(BSTR text) {
    SIM_API("SysFreeString");
    if (text == nullptr) {
        return;
    }
    {
        std::lock_guard lock(runtime().mutex);
        if (runtime().liveStrings.erase(text) == 0) {
            ++runtime().badFrees;
            return;
        }
    }
    std::free(reinterpret_cast<char*>(text) - sizeof(uint32_t));
}

UINT SysStringLen(BSTR text) {
    return text == nullptr ? 0 : prefixOf(text) / sizeof(OLECHAR);
}

UINT SysStringByteLen(BSTR text) {
    return text == nullptr ? 0 : prefixOf(text);
}

HRESULT VarBstrCmp(BSTR left, BSTR right, LCID, ULONG) {
    SIM_API("VarBstrCmp");
    if (simFault_) {
        return static_cast<HRESULT>(*simFault_);
    }
    const UINT leftLength = SysStringLen(left);
    const UINT rightLength = SysStringLen(right);
    for (UINT i = 0; i < leftLength && i < rightLength; ++i) {
        if (left[i] != right[i]) {
            return static_cast<uint16_t>(left[i]) < static_cast<uint16_t>(right[i]) ? VARCMP_LT
                                                                                    : VARCMP_GT;
        }
    }
    if (leftLength == rightLength) {
        return VARCMP_EQ;
    }
    return leftLength < rightLength ? VARCMP_LT : VARCMP_GT;
}

void VariantInit(VARIANTARG* variant) {
    std::memset(variant, 0, sizeof *variant);
    variant->vt = VT_EMPTY;
}

HRESULT VariantClear(VARIANTARG* variant) {
    SIM_API("VariantClear");
    if (variant == nullptr) {
        return E_INVALIDARG;
    }
    switch (variant->vt) {
        case VT_BSTR:
            SysFreeString(variant->bstrVal);
            break;
        case VT_UNKNOWN:
        case VT_DISPATCH:
            if (variant->punkVal != nullptr) {
                variant->punkVal->Release();
            }
            break;
        case VT_EMPTY:
        case VT_NULL:
        case VT_I2:
        case VT_I4:
        case VT_BOOL:
        case VT_ERROR:
            break;
        default:
            return DISP_E_BADVARTYPE;
    }
    VariantInit(variant);
    return S_OK;
}

HRESULT VariantCopy(VARIANTARG* destination, const VARIANTARG* source) {
    if (destination == nullptr || source == nullptr) {
        return E_INVALIDARG;
    }
    if (destination == source) {
        return S_OK;
    }
    VARIANT copy = *source;
    if (copy.vt == VT_BSTR && copy.bstrVal != nullptr) {
        copy.bstrVal = SysAllocStringLen(source->bstrVal, SysStringLen(source->bstrVal));
        if (copy.bstrVal == nullptr) {
            return E_OUTOFMEMORY;
        }
    } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal != nullptr) {
        copy.punkVal->AddRef();
    }
    if (const HRESULT hr = VariantClear(destination); FAILED(hr)) {
        VariantClear(&copy);
        return hr;
    }
    *destination = copy;
    return S_OK;
}

HRESULT VariantChangeType(VARIANTARG* destination, const VARIANTARG* source, USHORT, VARTYPE type) {
    SIM_API("VariantChangeType");
    if (simFault_) {
        return static_cast<HRESULT>(*simFault_);
    }
    if (destination == nullptr || source == nullptr) {
        return E_INVALIDARG;
    }
    if (source->vt == type) {
        return VariantCopy(destination, source);
    }
    if (type != VT_DISPATCH || source->vt != VT_UNKNOWN) {
        return DISP_E_TYPEMISMATCH;
    }
    IDispatch* dispatch = nullptr;
    if (source->punkVal == nullptr || FAILED(source->punkVal->QueryInterface(
                                          IID_IDispatch, reinterpret_cast<void**>(&dispatch)))) {
        return DISP_E_TYPEMISMATCH;
    }
    VariantClear(destination);
    destination->vt = VT_DISPATCH;
    destination->pdispVal = dispatch;
    return S_OK;
}
