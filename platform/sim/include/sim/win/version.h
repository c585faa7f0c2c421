// Simulated Windows: version.
#pragma once

#include "sim/win/base.h"
