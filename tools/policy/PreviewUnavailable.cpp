// A real Windows machine has no machine to preview on: a preview would change its firewall.
#include "tools/policy/Preview.h"

namespace tarn::policy {

PrivateMachineRoot::PrivateMachineRoot() = default;
PrivateMachineRoot::~PrivateMachineRoot() = default;

PreviewResult preview(const PreviewInput&) {
    throw PolicyError("a preview needs the simulated machine (the Linux build)");
}

}  // namespace tarn::policy
