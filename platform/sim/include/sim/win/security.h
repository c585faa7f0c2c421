// Simulated Windows: security identifiers, the process token and security descriptors.
// The process runs as one account (by default the system account "S-1-5-18" at system
// integrity); sim/security_control.h changes it.
#pragma once

#include "sim/win/base.h"

typedef void* PSID;
typedef void* PSECURITY_DESCRIPTOR;
typedef unsigned char* PUCHAR;

typedef struct _SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
} SID_IDENTIFIER_AUTHORITY, *PSID_IDENTIFIER_AUTHORITY;

#define SID_REVISION 1
#define SID_MAX_SUB_AUTHORITIES 15
#define SECURITY_MAX_SID_SIZE 68

typedef struct _SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
} SID_AND_ATTRIBUTES, *PSID_AND_ATTRIBUTES;

typedef struct _TOKEN_USER {
    SID_AND_ATTRIBUTES User;
} TOKEN_USER, *PTOKEN_USER;

typedef struct _TOKEN_MANDATORY_LABEL {
    SID_AND_ATTRIBUTES Label;
} TOKEN_MANDATORY_LABEL, *PTOKEN_MANDATORY_LABEL;

typedef enum _TOKEN_INFORMATION_CLASS {
    TokenUser = 1,
    TokenGroups,
    TokenPrivileges,
    TokenOwner,
    TokenPrimaryGroup,
    TokenDefaultDacl,
    TokenSource,
    TokenType,
    TokenImpersonationLevel,
    TokenStatistics,
    TokenRestrictedSids,
    TokenSessionId,
    TokenIntegrityLevel = 25,
} TOKEN_INFORMATION_CLASS;

typedef enum WELL_KNOWN_SID_TYPE {
    WinNullSid = 0,
    WinWorldSid = 1,
    WinLocalSid = 2,
    WinCreatorOwnerSid = 3,
    WinCreatorGroupSid = 4,
    WinNetworkSid = 13,
    WinBatchSid = 14,
    WinInteractiveSid = 15,
    WinServiceSid = 16,
    WinAuthenticatedUserSid = 17,
    WinLocalSystemSid = 22,
    WinLocalServiceSid = 23,
    WinNetworkServiceSid = 24,
    WinBuiltinDomainSid = 25,
    WinBuiltinAdministratorsSid = 26,
    WinBuiltinUsersSid = 27,
    WinLowLabelSid = 66,
    WinMediumLabelSid = 67,
    WinHighLabelSid = 68,
    WinSystemLabelSid = 69,
} WELL_KNOWN_SID_TYPE;

#define TOKEN_QUERY 0x0008
#define TOKEN_READ 0x00020008

#define SECURITY_MANDATORY_UNTRUSTED_RID 0x00000000L
#define SECURITY_MANDATORY_LOW_RID 0x00001000L
#define SECURITY_MANDATORY_MEDIUM_RID 0x00002000L
#define SECURITY_MANDATORY_MEDIUM_PLUS_RID 0x00002100L
#define SECURITY_MANDATORY_HIGH_RID 0x00003000L
#define SECURITY_MANDATORY_SYSTEM_RID 0x00004000L

#define SDDL_REVISION_1 1

#define ERROR_UNKNOWN_REVISION 1305L
#define ERROR_INVALID_ACL 1336L
#define ERROR_INVALID_SID 1337L
#define ERROR_INVALID_SECURITY_DESCR 1338L

BOOL OpenProcessToken(HANDLE process, DWORD desiredAccess, PHANDLE token);
BOOL GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS informationClass, LPVOID information,
                         DWORD length, PDWORD returnLength);

BOOL IsValidSid(PSID sid);
DWORD GetLengthSid(PSID sid);
BOOL EqualSid(PSID a, PSID b);
BOOL IsWellKnownSid(PSID sid, WELL_KNOWN_SID_TYPE type);
PUCHAR GetSidSubAuthorityCount(PSID sid);
PDWORD GetSidSubAuthority(PSID sid, DWORD index);
// Results are LocalAlloc'd; free them with LocalFree.
BOOL ConvertSidToStringSidW(PSID sid, LPWSTR* text);
BOOL ConvertStringSidToSidW(LPCWSTR text, PSID* sid);

// Self-relative descriptors of the SDDL subset the system writes: owner, group, DACL and SACL
// with allow, deny, audit and mandatory-label entries (object entries are refused).
BOOL ConvertStringSecurityDescriptorToSecurityDescriptorW(LPCWSTR text, DWORD revision,
                                                          PSECURITY_DESCRIPTOR* descriptor,
                                                          PULONG size);
BOOL IsValidSecurityDescriptor(PSECURITY_DESCRIPTOR descriptor);
