// Simulated Windows: the base filtering engine's management API (fwpuclnt) and the two RPC
// runtime functions that its users need for GUID texts. Names, values and structure layouts
// follow the Windows SDK (fwptypes.h, fwpmtypes.h, fwpmu.h, rpcdce.h); only what the system
// and its tests use is declared. The engine's behaviour is described in sim/wfp_control.h.
#pragma once

#include "sim/win/base.h"
#include "sim/win/security.h"
#include "sim/win/time.h"

// Only pointers to a SID appear in the engine's structures.
struct _SID;
typedef struct _SID SID;

// --- RPC runtime --------------------------------------------------------------------------

typedef GUID UUID;
typedef WCHAR* RPC_WSTR;
typedef LONG RPC_STATUS;

#define RPC_S_OK 0L
#define RPC_S_OUT_OF_MEMORY 14L
#define RPC_S_INVALID_ARG 87L
#define RPC_S_UNKNOWN_AUTHN_SERVICE 1747L

#define RPC_C_AUTHN_NONE 0
#define RPC_C_AUTHN_WINNT 10
#define RPC_C_AUTHN_DEFAULT 0xFFFFFFFFL

typedef struct _SEC_WINNT_AUTH_IDENTITY_W {
    unsigned short* User;
    ULONG UserLength;
    unsigned short* Domain;
    ULONG DomainLength;
    unsigned short* Password;
    ULONG PasswordLength;
    ULONG Flags;
} SEC_WINNT_AUTH_IDENTITY_W;

// "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx" in lower case; free the text with RpcStringFreeW,
// which leaves the pointer as it was.
RPC_STATUS UuidToStringW(const UUID* uuid, RPC_WSTR* text);
RPC_STATUS RpcStringFreeW(RPC_WSTR* text);

// --- Engine errors ------------------------------------------------------------------------

#define FWP_E_CALLOUT_NOT_FOUND static_cast<HRESULT>(0x80320001L)
#define FWP_E_FILTER_NOT_FOUND static_cast<HRESULT>(0x80320003L)
#define FWP_E_LAYER_NOT_FOUND static_cast<HRESULT>(0x80320004L)
#define FWP_E_NOT_FOUND static_cast<HRESULT>(0x80320008L)
#define FWP_E_ALREADY_EXISTS static_cast<HRESULT>(0x80320009L)
#define FWP_E_DYNAMIC_SESSION_IN_PROGRESS static_cast<HRESULT>(0x8032000BL)
#define FWP_E_TXN_IN_PROGRESS static_cast<HRESULT>(0x8032000EL)
#define FWP_E_NULL_POINTER static_cast<HRESULT>(0x8032001CL)
#define FWP_E_INVALID_ENUMERATOR static_cast<HRESULT>(0x8032001DL)
#define FWP_E_INVALID_FLAGS static_cast<HRESULT>(0x8032001EL)
#define FWP_E_TYPE_MISMATCH static_cast<HRESULT>(0x80320027L)
#define FWP_E_OUT_OF_BOUNDS static_cast<HRESULT>(0x80320028L)
#define FWP_E_INVALID_PARAMETER static_cast<HRESULT>(0x80320035L)
#define FWP_E_STILL_ON static_cast<HRESULT>(0x80320043L)

// --- Base types (fwptypes.h) --------------------------------------------------------------

typedef enum FWP_DIRECTION_ {
    FWP_DIRECTION_OUTBOUND = 0,
    FWP_DIRECTION_INBOUND = 1,
    FWP_DIRECTION_MAX = 2
} FWP_DIRECTION;

// The direction values of the network stack that classify drops carry.
#define FWP_DIRECTION_IN 0x00003900L
#define FWP_DIRECTION_OUT 0x00003901L
#define FWP_DIRECTION_FORWARD 0x00003902L

typedef enum FWP_IP_VERSION_ {
    FWP_IP_VERSION_V4 = 0,
    FWP_IP_VERSION_V6 = 1,
    FWP_IP_VERSION_NONE = 2,
    FWP_IP_VERSION_MAX = 3
} FWP_IP_VERSION;

typedef enum FWP_AF_ {
    FWP_AF_INET = FWP_IP_VERSION_V4,
    FWP_AF_INET6 = FWP_IP_VERSION_V6,
    FWP_AF_ETHER = FWP_IP_VERSION_NONE,
    FWP_AF_NONE = FWP_AF_ETHER + 1
} FWP_AF;

typedef enum FWP_ETHER_ENCAP_METHOD_ {
    FWP_ETHER_ENCAP_METHOD_ETHER_V2 = 0,
    FWP_ETHER_ENCAP_METHOD_SNAP = 1,
    FWP_ETHER_ENCAP_METHOD_SNAP_W_OUI_ZERO = 3
} FWP_ETHER_ENCAP_METHOD;

typedef enum FWP_DATA_TYPE_ {
    FWP_EMPTY = 0,
    FWP_UINT8 = 1,
    FWP_UINT16 = 2,
    FWP_UINT32 = 3,
    FWP_UINT64 = 4,
    FWP_INT8 = 5,
    FWP_INT16 = 6,
    FWP_INT32 = 7,
    FWP_INT64 = 8,
    FWP_FLOAT = 9,
    FWP_DOUBLE = 10,
    FWP_BYTE_ARRAY16_TYPE = 11,
    FWP_BYTE_BLOB_TYPE = 12,
    FWP_SID = 13,
    FWP_SECURITY_DESCRIPTOR_TYPE = 14,
    FWP_TOKEN_INFORMATION_TYPE = 15,
    FWP_TOKEN_ACCESS_INFORMATION_TYPE = 16,
    FWP_UNICODE_STRING_TYPE = 17,
    FWP_BYTE_ARRAY6_TYPE = 18,
    FWP_SINGLE_DATA_TYPE_MAX = 0xff
} FWP_DATA_TYPE;

typedef enum FWP_MATCH_TYPE_ { FWP_MATCH_EQUAL = 0, FWP_MATCH_TYPE_MAX = 12 } FWP_MATCH_TYPE;

typedef UINT32 FWP_ACTION_TYPE;

typedef struct FWP_BYTE_ARRAY6_ {
    UINT8 byteArray6[6];
} FWP_BYTE_ARRAY6;

typedef struct FWP_BYTE_ARRAY16_ {
    UINT8 byteArray16[16];
} FWP_BYTE_ARRAY16;

typedef struct FWP_BYTE_BLOB_ {
    UINT32 size;
    UINT8* data;
} FWP_BYTE_BLOB;

typedef struct FWP_VALUE0_ {
    FWP_DATA_TYPE type;
    union {
        UINT8 uint8;
        UINT16 uint16;
        UINT32 uint32;
        UINT64* uint64;
        INT32 int32;
        FWP_BYTE_ARRAY16* byteArray16;
        FWP_BYTE_BLOB* byteBlob;
        SID* sid;
        LPWSTR unicodeString;
        FWP_BYTE_ARRAY6* byteArray6;
    };
} FWP_VALUE0;

// Same layout as FWP_VALUE0; the further members of the condition union are not used here.
typedef struct FWP_CONDITION_VALUE0_ {
    FWP_DATA_TYPE type;
    union {
        UINT8 uint8;
        UINT16 uint16;
        UINT32 uint32;
        UINT64* uint64;
        FWP_BYTE_BLOB* byteBlob;
        LPWSTR unicodeString;
    };
} FWP_CONDITION_VALUE0;

// --- Management types (fwpmtypes.h) -------------------------------------------------------

typedef struct FWPM_DISPLAY_DATA0_ {
    wchar_t* name;
    wchar_t* description;
} FWPM_DISPLAY_DATA0;

#define FWPM_SESSION_FLAG_DYNAMIC 0x00000001
#define FWPM_SESSION_FLAG_RESERVED 0x10000000

typedef struct FWPM_SESSION0_ {
    GUID sessionKey;
    FWPM_DISPLAY_DATA0 displayData;
    UINT32 flags;
    UINT32 txnWaitTimeoutInMSec;
    DWORD processId;
    SID* sid;
    wchar_t* username;
    BOOL kernelMode;
} FWPM_SESSION0;

typedef enum FWPM_ENGINE_OPTION_ {
    FWPM_ENGINE_COLLECT_NET_EVENTS = 0,
    FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS = 1,
    FWPM_ENGINE_NAME_CACHE = 2,
    FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS = 3,
    FWPM_ENGINE_PACKET_QUEUING = 4,
    FWPM_ENGINE_TXN_WATCHDOG_TIMEOUT_IN_MSEC = 5,
    FWPM_ENGINE_OPTION_MAX = 6
} FWPM_ENGINE_OPTION;

#define FWPM_NET_EVENT_KEYWORD_INBOUND_MCAST 0x00000001
#define FWPM_NET_EVENT_KEYWORD_INBOUND_BCAST 0x00000002
#define FWPM_NET_EVENT_KEYWORD_CAPABILITY_DROP 0x00000004
#define FWPM_NET_EVENT_KEYWORD_CAPABILITY_ALLOW 0x00000008
#define FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW 0x00000010
#define FWPM_NET_EVENT_KEYWORD_PORT_SCANNING_DROP 0x00000020

typedef struct FWPM_ACTION0_ {
    FWP_ACTION_TYPE type;
    union {
        GUID filterType;
        GUID calloutKey;
    };
} FWPM_ACTION0;

typedef struct FWPM_FILTER_CONDITION0_ {
    GUID fieldKey;
    FWP_MATCH_TYPE matchType;
    FWP_CONDITION_VALUE0 conditionValue;
} FWPM_FILTER_CONDITION0;

typedef struct FWPM_FILTER0_ {
    GUID filterKey;
    FWPM_DISPLAY_DATA0 displayData;
    UINT32 flags;
    GUID* providerKey;
    FWP_BYTE_BLOB providerData;
    GUID layerKey;
    GUID subLayerKey;
    FWP_VALUE0 weight;
    UINT32 numFilterConditions;
    FWPM_FILTER_CONDITION0* filterCondition;
    FWPM_ACTION0 action;
    union {
        UINT64 rawContext;
        GUID providerContextKey;
    };
    GUID* reserved;
    UINT64 filterId;
    FWP_VALUE0 effectiveWeight;
} FWPM_FILTER0;

typedef enum FWPM_FIELD_TYPE_ {
    FWPM_FIELD_RAW_DATA = 0,
    FWPM_FIELD_IP_ADDRESS = 1,
    FWPM_FIELD_FLAGS = 2,
    FWPM_FIELD_TYPE_MAX = 3
} FWPM_FIELD_TYPE;

typedef struct FWPM_FIELD0_ {
    GUID* fieldKey;
    FWPM_FIELD_TYPE type;
    FWP_DATA_TYPE dataType;
} FWPM_FIELD0;

typedef struct FWPM_LAYER0_ {
    GUID layerKey;
    FWPM_DISPLAY_DATA0 displayData;
    UINT32 flags;
    UINT32 numFields;
    FWPM_FIELD0* field;
    GUID defaultSubLayerKey;
    UINT16 layerId;
} FWPM_LAYER0;

typedef enum FWPM_CHANGE_TYPE_ {
    FWPM_CHANGE_ADD = 1,
    FWPM_CHANGE_DELETE = 2,
    FWPM_CHANGE_TYPE_MAX = 3
} FWPM_CHANGE_TYPE;

typedef struct FWPM_FILTER_CHANGE0_ {
    FWPM_CHANGE_TYPE changeType;
    GUID filterKey;
    UINT64 filterId;
} FWPM_FILTER_CHANGE0;

typedef enum FWP_FILTER_ENUM_TYPE_ {
    FWP_FILTER_ENUM_FULLY_CONTAINED = 0,
    FWP_FILTER_ENUM_OVERLAPPING = 1,
    FWP_FILTER_ENUM_TYPE_MAX = 2
} FWP_FILTER_ENUM_TYPE;

typedef struct FWPM_FILTER_ENUM_TEMPLATE0_ {
    GUID* providerKey;
    GUID layerKey;
    FWP_FILTER_ENUM_TYPE enumType;
    UINT32 flags;
    void* providerContextTemplate;
    UINT32 numFilterConditions;
    FWPM_FILTER_CONDITION0* filterCondition;
    UINT32 actionMask;
    GUID* calloutKey;
} FWPM_FILTER_ENUM_TEMPLATE0;

#define FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_ADD 0x00000001
#define FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_DELETE 0x00000002

typedef struct FWPM_FILTER_SUBSCRIPTION0_ {
    FWPM_FILTER_ENUM_TEMPLATE0* enumTemplate;
    UINT32 flags;
    GUID sessionKey;
} FWPM_FILTER_SUBSCRIPTION0;

// --- Network events -----------------------------------------------------------------------

typedef enum FWPM_NET_EVENT_TYPE_ {
    FWPM_NET_EVENT_TYPE_IKEEXT_MM_FAILURE = 0,
    FWPM_NET_EVENT_TYPE_IKEEXT_QM_FAILURE = 1,
    FWPM_NET_EVENT_TYPE_IKEEXT_EM_FAILURE = 2,
    FWPM_NET_EVENT_TYPE_CLASSIFY_DROP = 3,
    FWPM_NET_EVENT_TYPE_IPSEC_KERNEL_DROP = 4,
    FWPM_NET_EVENT_TYPE_IPSEC_DOSP_DROP = 5,
    FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW = 6,
    FWPM_NET_EVENT_TYPE_CAPABILITY_DROP = 7,
    FWPM_NET_EVENT_TYPE_CAPABILITY_ALLOW = 8,
    FWPM_NET_EVENT_TYPE_CLASSIFY_DROP_MAC = 9,
    FWPM_NET_EVENT_TYPE_LPM_PACKET_ARRIVAL = 10,
    FWPM_NET_EVENT_TYPE_MAX = 11
} FWPM_NET_EVENT_TYPE;

#define FWPM_NET_EVENT_FLAG_IP_PROTOCOL_SET 0x00000001
#define FWPM_NET_EVENT_FLAG_LOCAL_ADDR_SET 0x00000002
#define FWPM_NET_EVENT_FLAG_REMOTE_ADDR_SET 0x00000004
#define FWPM_NET_EVENT_FLAG_LOCAL_PORT_SET 0x00000008
#define FWPM_NET_EVENT_FLAG_REMOTE_PORT_SET 0x00000010
#define FWPM_NET_EVENT_FLAG_APP_ID_SET 0x00000020
#define FWPM_NET_EVENT_FLAG_USER_ID_SET 0x00000040
#define FWPM_NET_EVENT_FLAG_SCOPE_ID_SET 0x00000080
#define FWPM_NET_EVENT_FLAG_IP_VERSION_SET 0x00000100
#define FWPM_NET_EVENT_FLAG_REAUTH_REASON_SET 0x00000200

typedef enum DL_ADDRESS_TYPE_ { DlUnicast = 0, DlMulticast = 1, DlBroadcast = 2 } DL_ADDRESS_TYPE;

#if defined(__clang__)
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wnested-anon-types"
#pragma clang diagnostic ignored "-Wgnu-anonymous-struct"
#endif
typedef struct FWPM_NET_EVENT_HEADER1_ {
    FILETIME timeStamp;
    UINT32 flags;
    FWP_IP_VERSION ipVersion;
    UINT8 ipProtocol;
    union {
        UINT32 localAddrV4;
        FWP_BYTE_ARRAY16 localAddrV6;
    };
    union {
        UINT32 remoteAddrV4;
        FWP_BYTE_ARRAY16 remoteAddrV6;
    };
    UINT16 localPort;
    UINT16 remotePort;
    UINT32 scopeId;
    FWP_BYTE_BLOB appId;
    SID* userId;
    // Anonymous structures as the SDK has them (a compiler extension, marked as one).
    union {
        __extension__ struct {
            FWP_AF addressFamily;
            union {
                __extension__ struct {
                    FWP_BYTE_ARRAY6 dstAddrEth;
                    FWP_BYTE_ARRAY6 srcAddrEth;
                    DL_ADDRESS_TYPE addrType;
                    FWP_ETHER_ENCAP_METHOD encapMethod;
                    UINT16 etherType;
                    UINT32 snapControl;
                    UINT32 snapOui;
                    UINT16 vlanTag;
                    UINT64 ifLuid;
                };
            };
        };
    };
} FWPM_NET_EVENT_HEADER1;
#if defined(__clang__)
#pragma clang diagnostic pop
#endif

#define IKEEXT_CERT_HASH_LEN 20

// The IKE and AuthIP records: their leading members as in the SDK; the engine fills them with
// zeros, and the system never reads them.
typedef struct FWPM_NET_EVENT_IKEEXT_MM_FAILURE1_ {
    UINT32 failureErrorCode;
    UINT32 failurePoint;
    UINT32 flags;
    UINT32 keyingModuleType;
    UINT32 mmState;
    UINT32 saRole;
    UINT32 mmAuthMethod;
    UINT8 endCertHash[IKEEXT_CERT_HASH_LEN];
    UINT64 mmId;
    UINT64 mmFilterId;
    wchar_t* localPrincipalNameForAuth;
    wchar_t* remotePrincipalNameForAuth;
    UINT32 numLocalPrincipalGroupSids;
    LPWSTR* localPrincipalGroupSids;
    UINT32 numRemotePrincipalGroupSids;
    LPWSTR* remotePrincipalGroupSids;
} FWPM_NET_EVENT_IKEEXT_MM_FAILURE1;

typedef struct FWPM_NET_EVENT_IKEEXT_QM_FAILURE0_ {
    UINT32 failureErrorCode;
    UINT32 failurePoint;
    UINT32 keyingModuleType;
    UINT32 qmState;
    UINT32 saRole;
    UINT32 saTrafficType;
    FWP_CONDITION_VALUE0 localSubNet;
    FWP_CONDITION_VALUE0 remoteSubNet;
    UINT64 qmFilterId;
} FWPM_NET_EVENT_IKEEXT_QM_FAILURE0;

typedef struct FWPM_NET_EVENT_IKEEXT_EM_FAILURE1_ {
    UINT32 failureErrorCode;
    UINT32 failurePoint;
    UINT32 flags;
    UINT32 emState;
    UINT32 saRole;
    UINT32 emAuthMethod;
    UINT8 endCertHash[IKEEXT_CERT_HASH_LEN];
    UINT64 mmId;
    UINT64 qmFilterId;
    wchar_t* localPrincipalNameForAuth;
    wchar_t* remotePrincipalNameForAuth;
    UINT32 numLocalPrincipalGroupSids;
    LPWSTR* localPrincipalGroupSids;
    UINT32 numRemotePrincipalGroupSids;
    LPWSTR* remotePrincipalGroupSids;
    UINT32 saTrafficType;
} FWPM_NET_EVENT_IKEEXT_EM_FAILURE1;

typedef struct FWPM_NET_EVENT_CLASSIFY_DROP1_ {
    UINT64 filterId;
    UINT16 layerId;
    UINT32 reauthReason;
    UINT32 originalProfile;
    UINT32 currentProfile;
    UINT32 msFwpDirection;
    BOOL isLoopback;
} FWPM_NET_EVENT_CLASSIFY_DROP1;

typedef UINT32 IPSEC_SA_SPI;

typedef struct FWPM_NET_EVENT_IPSEC_KERNEL_DROP0_ {
    INT32 failureStatus;
    FWP_DIRECTION direction;
    IPSEC_SA_SPI spi;
    UINT64 filterId;
    UINT16 layerId;
} FWPM_NET_EVENT_IPSEC_KERNEL_DROP0;

typedef struct FWPM_NET_EVENT_IPSEC_DOSP_DROP0_ {
    FWP_IP_VERSION ipVersion;
    union {
        UINT32 publicHostV4Addr;
        UINT8 publicHostV6Addr[16];
    };
    union {
        UINT32 internalHostV4Addr;
        UINT8 internalHostV6Addr[16];
    };
    INT32 failureStatus;
    FWP_DIRECTION direction;
} FWPM_NET_EVENT_IPSEC_DOSP_DROP0;

// The record that FwpmNetEventSubscribe0 delivers. The union has members only for the types
// 0 to 5; events of later types carry a null pointer there.
typedef struct FWPM_NET_EVENT1_ {
    FWPM_NET_EVENT_HEADER1 header;
    FWPM_NET_EVENT_TYPE type;
    union {
        FWPM_NET_EVENT_IKEEXT_MM_FAILURE1* ikeMmFailure;
        FWPM_NET_EVENT_IKEEXT_QM_FAILURE0* ikeQmFailure;
        FWPM_NET_EVENT_IKEEXT_EM_FAILURE1* ikeEmFailure;
        FWPM_NET_EVENT_CLASSIFY_DROP1* classifyDrop;
        FWPM_NET_EVENT_IPSEC_KERNEL_DROP0* ipsecDrop;
        FWPM_NET_EVENT_IPSEC_DOSP_DROP0* idpDrop;
    };
} FWPM_NET_EVENT1;

typedef struct FWPM_NET_EVENT_ENUM_TEMPLATE0_ {
    FILETIME startTime;
    FILETIME endTime;
    UINT32 numFilterConditions;
    FWPM_FILTER_CONDITION0* filterCondition;
} FWPM_NET_EVENT_ENUM_TEMPLATE0;

typedef struct FWPM_NET_EVENT_SUBSCRIPTION0_ {
    FWPM_NET_EVENT_ENUM_TEMPLATE0* enumTemplate;
    UINT32 flags;
    GUID sessionKey;
} FWPM_NET_EVENT_SUBSCRIPTION0;

// --- Functions (fwpmu.h) ------------------------------------------------------------------

typedef void(CALLBACK* FWPM_NET_EVENT_CALLBACK0)(void* context, const FWPM_NET_EVENT1* event);
typedef void(CALLBACK* FWPM_FILTER_CHANGE_CALLBACK0)(void* context,
                                                     const FWPM_FILTER_CHANGE0* change);

DWORD WINAPI FwpmEngineOpen0(const wchar_t* serverName, UINT32 authnService,
                             SEC_WINNT_AUTH_IDENTITY_W* authIdentity, const FWPM_SESSION0* session,
                             HANDLE* engineHandle);
DWORD WINAPI FwpmEngineClose0(HANDLE engineHandle);
DWORD WINAPI FwpmEngineSetOption0(HANDLE engineHandle, FWPM_ENGINE_OPTION option,
                                  const FWP_VALUE0* newValue);
DWORD WINAPI FwpmEngineGetOption0(HANDLE engineHandle, FWPM_ENGINE_OPTION option,
                                  FWP_VALUE0** value);

DWORD WINAPI FwpmNetEventSubscribe0(HANDLE engineHandle,
                                    const FWPM_NET_EVENT_SUBSCRIPTION0* subscription,
                                    FWPM_NET_EVENT_CALLBACK0 callback, void* context,
                                    HANDLE* eventsHandle);
DWORD WINAPI FwpmNetEventUnsubscribe0(HANDLE engineHandle, HANDLE eventsHandle);
DWORD WINAPI FwpmFilterSubscribeChanges0(HANDLE engineHandle,
                                         const FWPM_FILTER_SUBSCRIPTION0* subscription,
                                         FWPM_FILTER_CHANGE_CALLBACK0 callback, void* context,
                                         HANDLE* changeHandle);
DWORD WINAPI FwpmFilterUnsubscribeChanges0(HANDLE engineHandle, HANDLE changeHandle);

DWORD WINAPI FwpmFilterGetById0(HANDLE engineHandle, UINT64 id, FWPM_FILTER0** filter);
DWORD WINAPI FwpmFilterGetByKey0(HANDLE engineHandle, const GUID* key, FWPM_FILTER0** filter);
DWORD WINAPI FwpmLayerGetById0(HANDLE engineHandle, UINT16 id, FWPM_LAYER0** layer);
DWORD WINAPI FwpmLayerGetByKey0(HANDLE engineHandle, const GUID* key, FWPM_LAYER0** layer);

// Frees what the engine returned and sets *p to null; a null *p is ignored.
void WINAPI FwpmFreeMemory0(void** p);
