// Winsock start-up for the lifetime of an object: the library keeps one (version 2.2) while
// it is loaded, for the address text conversions.
#pragma once

namespace tarn::net {

class WinSocketInitializer {
public:
    // SocketException with WSAStartup's code when Winsock cannot start.
    WinSocketInitializer(unsigned char major, unsigned char minor);
    ~WinSocketInitializer();
    WinSocketInitializer(const WinSocketInitializer&) = delete;
    WinSocketInitializer& operator=(const WinSocketInitializer&) = delete;
};

}  // namespace tarn::net
