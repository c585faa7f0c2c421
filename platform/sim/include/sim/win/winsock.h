// Simulated Windows: Winsock start-up, name resolution and address text conversion.
//
// Only the upper-case type names are declared (SOCKADDR, SOCKADDR_IN6, IN_ADDR, ...): the
// lower-case structure tags of the Windows headers would collide with the host's socket headers.
// Layouts and values are those of 64-bit Windows.
#pragma once

#include <cstddef>

#include "sim/win/base.h"

#ifndef MAKEWORD
#define MAKEWORD(low, high) \
    static_cast<WORD>((static_cast<BYTE>(low)) | (static_cast<WORD>(static_cast<BYTE>(high)) << 8))
#endif

typedef USHORT ADDRESS_FAMILY;
typedef UINT_PTR SOCKET;
typedef INT* LPINT;

#define INVALID_SOCKET (~static_cast<SOCKET>(0))
#define SOCKET_ERROR (-1)

#define AF_UNSPEC 0
#define AF_INET 2
#define AF_INET6 23
#define SOCK_STREAM 1
#define SOCK_DGRAM 2
#define IPPROTO_TCP 6
#define IPPROTO_UDP 17

#define INET_ADDRSTRLEN 22
#define INET6_ADDRSTRLEN 65

// Winsock error codes.
#define WSABASEERR 10000
#define WSAEINTR 10004L
#define WSAEFAULT 10014L
#define WSAEINVAL 10022L
#define WSAEAFNOSUPPORT 10047L
#define WSAENOBUFS 10055L
#define WSAEPROCLIM 10067L
#define WSASYSNOTREADY 10091L
#define WSAVERNOTSUPPORTED 10092L
#define WSANOTINITIALISED 10093L
#define WSATYPE_NOT_FOUND 10109L
#define WSAHOST_NOT_FOUND 11001L
#define WSATRY_AGAIN 11002L
#define WSANO_RECOVERY 11003L
#define WSANO_DATA 11004L
#define EAI_AGAIN WSATRY_AGAIN
#define EAI_BADFLAGS WSAEINVAL
#define EAI_FAIL WSANO_RECOVERY
#define EAI_FAMILY WSAEAFNOSUPPORT
#define EAI_MEMORY WSA_NOT_ENOUGH_MEMORY
#define EAI_NONAME WSAHOST_NOT_FOUND
#define EAI_NODATA EAI_NONAME
#define WSA_NOT_ENOUGH_MEMORY ERROR_NOT_ENOUGH_MEMORY
#define WSA_INVALID_PARAMETER ERROR_INVALID_PARAMETER

#define WSADESCRIPTION_LEN 256
#define WSASYS_STATUS_LEN 128

typedef struct WSAData {
    WORD wVersion;
    WORD wHighVersion;
    USHORT iMaxSockets;
    USHORT iMaxUdpDg;
    char* lpVendorInfo;
    char szDescription[WSADESCRIPTION_LEN + 1];
    char szSystemStatus[WSASYS_STATUS_LEN + 1];
} WSADATA, *LPWSADATA;

typedef struct SOCKADDR {
    ADDRESS_FAMILY sa_family;
    CHAR sa_data[14];
} SOCKADDR, *PSOCKADDR, *LPSOCKADDR;

typedef struct IN_ADDR {
    union {
        struct {
            UCHAR s_b1, s_b2, s_b3, s_b4;
        } S_un_b;
        struct {
            USHORT s_w1, s_w2;
        } S_un_w;
        ULONG S_addr;
    } S_un;
} IN_ADDR, *PIN_ADDR, *LPIN_ADDR;

typedef struct SOCKADDR_IN {
    ADDRESS_FAMILY sin_family;
    USHORT sin_port;  // network byte order
    IN_ADDR sin_addr;
    CHAR sin_zero[8];
} SOCKADDR_IN, *PSOCKADDR_IN;

typedef struct IN6_ADDR {
    union {
        UCHAR Byte[16];
        USHORT Word[8];
    } u;
} IN6_ADDR, *PIN6_ADDR, *LPIN6_ADDR;

typedef struct SOCKADDR_IN6 {
    ADDRESS_FAMILY sin6_family;
    USHORT sin6_port;  // network byte order
    ULONG sin6_flowinfo;
    IN6_ADDR sin6_addr;
    ULONG sin6_scope_id;
} SOCKADDR_IN6, *PSOCKADDR_IN6;

typedef struct addrinfoW {
    int ai_flags;
    int ai_family;
    int ai_socktype;
    int ai_protocol;
    size_t ai_addrlen;
    PWSTR ai_canonname;
    SOCKADDR* ai_addr;
    struct addrinfoW* ai_next;
} ADDRINFOW, *PADDRINFOW;

// Only passed as null by the system.
struct WSAPROTOCOL_INFOW;
typedef WSAPROTOCOL_INFOW* LPWSAPROTOCOL_INFOW;

// Start-up is counted: every successful WSAStartup needs one WSACleanup. Resolution and
// WSAAddressToStringW fail with WSANOTINITIALISED while the count is zero, as on Windows;
// InetPtonW and InetNtopW, whose documented errors do not include it, work without.
int WSAStartup(WORD versionRequested, LPWSADATA data);
int WSACleanup();
int WSAGetLastError();
void WSASetLastError(int error);

// Resolves names from the simulated machine's DNS table (sim/winsock_control.h); numeric
// IPv4 and IPv6 texts resolve to themselves. Returns 0 or the error code (also set as the
// last error), WSAHOST_NOT_FOUND for an unknown name.
int GetAddrInfoW(PCWSTR nodeName, PCWSTR serviceName, const ADDRINFOW* hints, PADDRINFOW* result);
void FreeAddrInfoW(PADDRINFOW addrInfo);

// Text of an IPv4 or IPv6 socket address as Windows writes it: "a.b.c.d[:port]";
// IPv6 in lower-case hexadecimal with the longest run (two groups or more) of zero groups
// compressed, dotted last 32 bits for IPv4-compatible, -mapped, -translated and ISATAP
// addresses, "%scope" when the scope id is not zero, and "[...]:port" when the port is not
// zero. The length is in characters and includes the terminating null.
INT WSAAddressToStringW(LPSOCKADDR address, DWORD addressLength, LPWSAPROTOCOL_INFOW protocolInfo,
                        LPWSTR addressString, LPDWORD addressStringLength);

// A text address into a socket address: IPv4 as "a.b.c.d[:port]", where, as on Windows, the
// parts may be octal (leading 0) or hexadecimal (0x) and the last part may fill the remaining
// bytes ("10.1" is 10.0.0.1); IPv6 as "addr[%scope]" or "[addr[%scope]]:port". WSAEINVAL
// for a text that is no address (white space included), WSAEFAULT with the size needed for
// a short buffer, WSANOTINITIALISED before WSAStartup.
INT WSAStringToAddressW(LPWSTR addressString, INT addressFamily, LPWSAPROTOCOL_INFOW protocolInfo,
                        LPSOCKADDR address, LPINT addressLength);

// Strict text forms: IPv4 only as four decimal parts without leading zeros; IPv6 without zone.
// 1 on success, 0 for a text that is no address (last error WSAEINVAL), -1 for a bad family
// (WSAEAFNOSUPPORT) or a null pointer (WSAEFAULT).
INT InetPtonW(INT family, PCWSTR addressString, PVOID address);
PCWSTR InetNtopW(INT family, const VOID* address, PWSTR stringBuffer, size_t stringBufferSize);
