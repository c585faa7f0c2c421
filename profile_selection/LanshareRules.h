// The allow rules of the product's peer distribution (Lanshare), built from the four local
// keys that automatic profile selection computes: the port, the two sides and the subnet.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/FWRule.h"
#include "standin/orrery/PyxOrrery.h"

// "Tarn Lanshare (TCP 8080:in)": the protocol (6 TCP, else UDP), port and direction.
std::wstring makeLanshareRuleName(int32_t protocol, int32_t port, FWRule::Direction direction);

// An allow rule of the host program for the port, limited to the subnet (empty: any remote
// address). Inbound rules listen on the port; the outbound rule reaches it from any port
// above the well-known ones.
FWRule makeLanshareRule(int32_t protocol, int32_t port, FWRule::Direction direction,
                        const std::wstring& subnet);

// Appends the server's two inbound rules (TCP, then UDP) and the client's outbound UDP rule,
// as the local keys say; nothing when both sides are off or the port cannot be read.
void appendLanshareRules(PyxOrreryHandle handle, std::vector<FWRule>& rules);
