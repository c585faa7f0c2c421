// The firewall controller as the plug-in creates and drives it: constructed with the namespace
// name and the plug-in's stop event, told of every settings change as a delegate, started with
// the settings provider, and stopped (blocking) before it is released.
#pragma once

#include <memory>
#include <string>

#include "plugin/Stoppable.h"
#include "settings/FWSettingsDelegate.h"
#include "settings/IFWSettingsProvider.h"

class FirewallController : public FWSettingsDelegate, public tarn::Stoppable {
public:
    FirewallController(std::wstring, tarn::SharedEvent stopEvent)
        : tarn::Stoppable(std::move(stopEvent)) {}
    // False when the controller cannot run; nothing of it runs then.
    virtual bool start(std::shared_ptr<IFWSettingsProvider> provider) = 0;
};

// The controller of this build; null when the build has none.
std::shared_ptr<FirewallController> makeFirewallController(const std::wstring& namespaceName,
                                                           tarn::SharedEvent stopEvent);
