#include "plugin/FirewallController.h"

std::shared_ptr<FirewallController> makeFirewallController(const std::wstring&, tarn::SharedEvent) {
    return nullptr;
}
