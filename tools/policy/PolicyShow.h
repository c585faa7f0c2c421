// Prints what the firewall settings make of the policy in a namespace's settings store: the
// current profile, the current settings, every current rule, every refused rule with its
// reason, and the built-in default rules.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace tarn::policy {

// The command "show": runs its arguments (after the command word): 0 on success, 1 when the store
// cannot be opened, 2 for a wrong command line.
int show(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);

}  // namespace tarn::policy
