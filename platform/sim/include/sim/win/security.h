// Simulated Windows: security.
#pragma once

#include "sim/win/base.h"
