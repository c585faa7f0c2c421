#include "plugin/FirewallController.h"

std::shared_ptr<FirewallController> makeFirewallController(const std::wstring& namespaceName,
                                                           tarn::SharedEvent stopEvent) {
    return std::make_shared<WinFW>(namespaceName, std::move(stopEvent));
}
