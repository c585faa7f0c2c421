#include "net/WinSocketInitializer.h"

#include "common/exceptions/ErrorCodeException.h"
#include "platform/win.h"

namespace tarn::net {

WinSocketInitializer::WinSocketInitializer(unsigned char major, unsigned char minor) {
    WSADATA data{};
    if (const int result = WSAStartup(MAKEWORD(major, minor), &data); result != 0) {
        throw SocketException(result, nullptr,
                              L"tarn::net::WinSocketInitializer::WinSocketInitializer",
                              L"WinSocketInitializer", __LINE__);
    }
}

WinSocketInitializer::~WinSocketInitializer() {
    WSACleanup();
}

}  // namespace tarn::net
