#include "rules/ComSupport.h"

#include "rules/ComErrors.h"

namespace tarn {

std::wstring HResultCategory::message(long code) {
    return comErrorMessage(code);
}

UniqueBstr makeBstr(std::wstring_view text) {
    UniqueBstr result(::SysAllocStringLen(text.data(), static_cast<UINT>(text.size())));
    if (!result) {
        throw ComException(E_OUTOFMEMORY, nullptr, L"tarn::makeBstr", L"ComSupport", __LINE__);
    }
    return result;
}

}  // namespace tarn
