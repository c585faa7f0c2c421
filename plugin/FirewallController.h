// The firewall controller as the plug-in creates and drives it: constructed with the namespace
// name and the plug-in's stop event, told of every settings change as a delegate, started with
// the settings provider, and stopped (blocking) before it is released.
#pragma once

#include <memory>
#include <string>

#include "control/WinFW.h"

using FirewallController = WinFW;

std::shared_ptr<FirewallController> makeFirewallController(const std::wstring& namespaceName,
                                                           tarn::SharedEvent stopEvent);
