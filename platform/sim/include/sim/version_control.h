// Test-control side of the simulated operating system version.
#pragma once

#include <cstdint>

namespace sim::version {

struct OsVersion {
    uint32_t major = 10;
    uint32_t minor = 0;
    uint32_t build = 19045;
    uint32_t platformId = 2;  // VER_PLATFORM_WIN32_NT
    uint16_t servicePackMajor = 0;
    uint16_t servicePackMinor = 0;
    uint16_t suiteMask = 0x0100;  // VER_SUITE_SINGLEUSERTS
    uint8_t productType = 1;      // VER_NT_WORKSTATION
};

// The machine's version; a reset brings back the default (a Windows 10 workstation).
void setOsVersion(const OsVersion& version);
// Only the product type: 1 workstation, 2 domain controller, 3 server.
void setProductType(uint8_t productType);
OsVersion osVersion();

}  // namespace sim::version
