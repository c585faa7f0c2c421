// The filtering engine's management API as the system uses it, for the simulated machine.
#pragma once

#include "platform/win.h"
#include "sim/win/wfp.h"
