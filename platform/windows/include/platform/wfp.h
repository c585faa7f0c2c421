// The filtering engine's management API (fwpuclnt) as the system uses it, for the real Windows
// target: mingw-w64's headers, and what they lack, with the values of Microsoft's
// documentation (fwpmtypes.h, fwpmu.h and fwptypes.h of the Windows SDK).
#pragma once

#include "platform/win.h"

// clang-format off
#include <rpc.h>
#include <fwpmu.h>
// clang-format on

// Session flags (FWPM_SESSION0).
#ifndef FWPM_SESSION_FLAG_DYNAMIC
#define FWPM_SESSION_FLAG_DYNAMIC 0x00000001
#define FWPM_SESSION_FLAG_RESERVED 0x10000000
#endif

// Which members of FWPM_NET_EVENT_HEADER1 are set.
#ifndef FWPM_NET_EVENT_FLAG_IP_PROTOCOL_SET
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
#endif

// Change subscriptions (FWPM_FILTER_SUBSCRIPTION0).
#ifndef FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_ADD
#define FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_ADD 0x00000001
#define FWPM_SUBSCRIPTION_FLAG_NOTIFY_ON_DELETE 0x00000002
#endif

// The network stack's direction values that classify drops carry (msFwpDirection).
#ifndef FWP_DIRECTION_IN
#define FWP_DIRECTION_IN 0x00003900L
#define FWP_DIRECTION_OUT 0x00003901L
#define FWP_DIRECTION_FORWARD 0x00003902L
#endif

// Keywords of FWPM_ENGINE_NET_EVENT_MATCH_ANY_KEYWORDS beyond inbound multicast and broadcast.
#ifndef FWPM_NET_EVENT_KEYWORD_CAPABILITY_DROP
#define FWPM_NET_EVENT_KEYWORD_CAPABILITY_DROP 0x00000004
#define FWPM_NET_EVENT_KEYWORD_CAPABILITY_ALLOW 0x00000008
#define FWPM_NET_EVENT_KEYWORD_CLASSIFY_ALLOW 0x00000010
#define FWPM_NET_EVENT_KEYWORD_PORT_SCANNING_DROP 0x00000020
#endif

// Members of enumerations that mingw-w64's declarations end before. FWPM_NET_EVENT1 has no
// union member for the event types from 6 on.
inline constexpr UINT32 FWPM_NET_EVENT_TYPE_CLASSIFY_ALLOW = 6;
inline constexpr UINT32 FWPM_NET_EVENT_TYPE_CAPABILITY_DROP = 7;
inline constexpr UINT32 FWPM_NET_EVENT_TYPE_CAPABILITY_ALLOW = 8;
inline constexpr UINT32 FWPM_NET_EVENT_TYPE_CLASSIFY_DROP_MAC = 9;
inline constexpr UINT32 FWPM_NET_EVENT_TYPE_LPM_PACKET_ARRIVAL = 10;
inline constexpr FWPM_ENGINE_OPTION FWPM_ENGINE_MONITOR_IPSEC_CONNECTIONS =
    static_cast<FWPM_ENGINE_OPTION>(3);
