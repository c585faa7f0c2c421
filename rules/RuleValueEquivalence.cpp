#include "rules/RuleValueEquivalence.h"

#include <algorithm>
#include <cwctype>
#include <vector>

#include "platform/win.h"
#include "rules/AddressRanges.h"

namespace rule_setters {

namespace {

std::wstring lower(std::wstring text) {
    for (wchar_t& c : text) {
        c = static_cast<wchar_t>(std::towlower(c));
    }
    return text;
}

std::vector<std::wstring> sortedItems(const std::wstring& value) {
    std::vector<std::wstring> items;
    const std::wstring text = lower(value);
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(L',', start);
        items.push_back(text.substr(start, comma == std::wstring::npos ? comma : comma - start));
        if (comma == std::wstring::npos) {
            break;
        }
        start = comma + 1;
    }
    std::sort(items.begin(), items.end());
    return items;
}

std::wstring expanded(const std::wstring& path) {
    std::wstring buffer(1024, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD needed = ::ExpandEnvironmentStringsW(path.c_str(), buffer.data(),
                                                         static_cast<DWORD>(buffer.size()));
        if (needed == 0) {
            return path;
        }
        if (needed <= buffer.size()) {
            buffer.resize(needed - 1);
            return buffer;
        }
        buffer.assign(needed, L'\0');
    }
    return path;
}

}  // namespace

Compare comparisonOf(std::string_view propertyName) {
    if (propertyName == "put_InterfaceTypes" || propertyName == "put_LocalPorts" ||
        propertyName == "put_RemotePorts") {
        return Compare::List;
    }
    if (propertyName == "put_RemoteAddresses" || propertyName == "put_LocalAddresses") {
        return Compare::Addresses;
    }
    if (propertyName == "put_ApplicationName") {
        return Compare::Path;
    }
    return Compare::Exact;
}

std::wstring_view trimListTail(std::wstring_view value) {
    const size_t end = value.find_last_not_of(L", ");
    return end == std::wstring_view::npos ? std::wstring_view() : value.substr(0, end + 1);
}

bool valuesEquivalent(Compare how, const std::wstring& current, const std::wstring& wanted) {
    switch (how) {
        case Compare::Exact:
            return current == wanted;
        case Compare::List:
            return sortedItems(current) == sortedItems(wanted);
        case Compare::Addresses:
            return addressListsEquivalent(current, wanted);
        case Compare::Path:
            return lower(expanded(current)) == lower(expanded(wanted));
    }
    return false;
}

}  // namespace rule_setters
