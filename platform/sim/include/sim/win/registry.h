// Simulated Windows: registry.
#pragma once

#include "sim/win/base.h"
