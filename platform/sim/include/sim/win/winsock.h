// Simulated Windows: winsock.
#pragma once

#include "sim/win/base.h"
