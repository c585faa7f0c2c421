// An IP socket address without port: the family and the raw address bytes in network order.
#pragma once

#include <cstdint>
#include <vector>

namespace tarn::net {

struct SocketAddress {
    int family = 0;              // AF_INET or AF_INET6
    std::vector<uint8_t> bytes;  // 4 or 16, network order
};

}  // namespace tarn::net
