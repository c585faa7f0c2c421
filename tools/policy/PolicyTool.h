// tarn_policy: what a policy does to an endpoint, for administrators.
//
//   tarn_policy show    [-n NAMESPACE] [--root FOLDER]
//   tarn_policy preview (POLICY | -n NAMESPACE) [--machine FILE] [--json] [--root FOLDER]
//   tarn_policy diff    OLD NEW [--machine FILE] [--json]
//   tarn_policy check   (POLICY | -n NAMESPACE) [--machine FILE] [--root FOLDER]
#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "tools/policy/Preview.h"

namespace tarn::policy {

// Runs one command line (without the program name). Exit codes: 0 done (check: every rule
// accepted), 1 check found a refused or partly applied rule, 2 a wrong command line or a policy
// or machine that cannot be read.
int run(const std::vector<std::wstring>& args, std::ostream& out, std::ostream& err);

// The problems that `check` prints, one a line, for the refusals of one or more previews.
std::vector<std::string> problemLines(const std::vector<Refusal>& refusals);

// The policies that `check` previews: one per profile of the policy (that profile chosen by
// hand, the firewall on, isolation off) and one with isolation on when the policy has an
// isolation profile.
std::vector<json> checkVariants(const json& policy);

}  // namespace tarn::policy
