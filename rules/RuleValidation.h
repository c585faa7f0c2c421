// Checks of a rule against the rules accepted before it: a second rule of one name, and
// outbound block rules so broad that they would cut the system off from its web services or
// from DNS, are refused.
#pragma once

#include <string>
#include <vector>

#include "settings/FWRule.h"

// True when the rule may be applied; a refusal is reported through `reporter` only.
bool validateRule(const FWRule& rule, const std::vector<FWRule>& accepted,
                  const InvalidRuleReporter& reporter);

// True when the rule is not narrowed by address, program, service, package or local port.
bool matchesAnyTraffic(const FWRule& rule);

// True when the port text ("80,443", "1000-2000", "*", "") covers portA, or portB (0: none),
// or is malformed. Numbers are read as _wtoi reads them.
bool portsContainThesePortsOrInvalid(const std::wstring& ports, int portA, int portB);
