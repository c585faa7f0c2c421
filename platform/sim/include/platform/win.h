// The Windows API as the system uses it, for the simulated machine (Linux builds).
#pragma once

#include "sim/win/base.h"
#include "sim/win/com.h"
#include "sim/win/console.h"
#include "sim/win/files.h"
#include "sim/win/firewall.h"
#include "sim/win/iphlp.h"
#include "sim/win/modules.h"
#include "sim/win/processes.h"
#include "sim/win/registry.h"
#include "sim/win/security.h"
#include "sim/win/sync.h"
#include "sim/win/time.h"
#include "sim/win/version.h"
#include "sim/win/winsock.h"
