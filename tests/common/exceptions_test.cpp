// The exception family's message layout, the system texts of codes and the shared caches.
#include <gtest/gtest.h>

#include <string>

#include "common/Str.h"
#include "common/WinHandles.h"
#include "common/exceptions/ErrorCodeException.h"
#include "platform/win.h"

namespace {

using tarn::BaseException;
using tarn::SocketException;
using tarn::Win32Exception;

std::wstring systemText(DWORD code) {
    LPWSTR buffer = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<LPWSTR>(&buffer), 0, nullptr);
    const tarn::UniqueLocalMemory owner(buffer);
    return buffer == nullptr ? std::wstring() : std::wstring(buffer);
}

TEST(Exceptions, BaseExceptionMessageLayout) {
    const BaseException withFile(L"Bad input", L"tarn::net::IPNetwork::create", L"IPNetwork", 42);
    EXPECT_STREQ(withFile.what(),
                 "Type: tarn::BaseException, Reason: Bad input, Function: "
                 "tarn::net::IPNetwork::create, File: IPNetwork, Line: 42");
    const BaseException absent(L"r", L"f", nullptr, 7);
    EXPECT_EQ(absent.wideMessage(),
              L"Type: tarn::BaseException, Reason: r, Function: f, File: , Line: 7");
    EXPECT_EQ(absent.file(), L"");
}

TEST(Exceptions, Win32ErrorWithoutReasonCarriesTheSystemText) {
    const Win32Exception error(5, nullptr, L"tarn::Thing::run", L"Thing", 3);
    ASSERT_FALSE(systemText(5).empty());
    EXPECT_EQ(error.reason(), systemText(5));
    EXPECT_EQ(error.code(), 5ul);
    const std::wstring message = error.wideMessage();
    EXPECT_EQ(message.rfind(L"Type: Win32Exception, Reason: " + systemText(5), 0), 0u)
        << message.size();
    EXPECT_TRUE(
        message.ends_with(L", Function: tarn::Thing::run, File: Thing, Line: 3, Error Code : 5"));
}

TEST(Exceptions, AGivenReasonWinsAndUnknownCodesHaveNoText) {
    const Win32Exception explained(160, L"No address", L"f", L"SocketAddress", 1);
    EXPECT_EQ(explained.reason(), L"No address");
    const Win32Exception unknown(0x2FFFFFFF, L"", L"f", L"x", 1);
    EXPECT_EQ(unknown.reason(), L"");
}

TEST(Exceptions, SocketErrorsUseTheirOwnTypeText) {
    const SocketException error(10047, nullptr, L"tarn::net::IPAddress::create", L"SocketAddress",
                                9);
    EXPECT_EQ(error.reason(), systemText(10047));
    EXPECT_TRUE(error.wideMessage().starts_with(L"Type: SocketException, Reason: "));
    EXPECT_TRUE(error.wideMessage().ends_with(L", Line: 9, Error Code : 10047"));
    const SocketException negative(-1, L"x", L"f", L"g", 1);
    EXPECT_TRUE(negative.wideMessage().ends_with(L"Error Code : -1"));
}

TEST(Exceptions, CopiesShareTheirStringsAndMessage) {
    const Win32Exception original(2, L"missing", L"f", L"file", 10);
    const Win32Exception copy = original;  // NOLINT: the copy is the point
    EXPECT_EQ(&copy.reason(), &original.reason());
    const char* text = copy.what();
    EXPECT_EQ(original.what(), text) << "one cache for both";
    try {
        throw copy;
    } catch (const std::exception& caught) {
        EXPECT_STREQ(caught.what(), text);
    }
}

TEST(Exceptions, ConversionOfAnOverlongTextIsRefused) {
    // Only the length is looked at before anything is read.
    const wchar_t wide = L'x';
    const char narrow = 'x';
    const size_t tooLong = size_t{1} << 31;
    try {
        tarn::str::toMultibyte(std::wstring_view(&wide, tooLong));
        FAIL() << "no exception";
    } catch (const BaseException& e) {
        EXPECT_EQ(e.reason(), L"Too long string");
        EXPECT_EQ(e.function(), L"tarn::str::toMultibyte");
        EXPECT_EQ(e.file(), L"Str");
    }
    try {
        tarn::str::toUnicode(std::string_view(&narrow, tooLong));
        FAIL() << "no exception";
    } catch (const BaseException& e) {
        EXPECT_EQ(e.function(), L"tarn::str::toUnicode");
    }
    EXPECT_EQ(tarn::str::toUnicode(tarn::str::toMultibyte(L"plain text")), L"plain text");
}

}  // namespace
