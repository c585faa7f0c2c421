#!/usr/bin/env bash
# The demo: the example policy written into a file-backed settings store by the management
# tool, and what the firewall plug-in makes of it on the simulated machine, before and after
# the management switches on network isolation.
#
#   examples/demo.sh BINDIR     (./dev demo builds BINDIR and runs this)
set -euo pipefail

BIN="$(cd "${1:?usage: demo.sh BINDIR}" && pwd)"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
WORK="$(dirname "$BIN")/demo"

# A fresh machine and store every run.
rm -rf "$WORK"
export TARN_SIM_ROOT="$WORK/machine" TARN_ORRERY_ROOT="$WORK/store"
mkdir -p "$TARN_SIM_ROOT/C/Windows/System32/drivers/etc" "$TARN_ORRERY_ROOT"

# The corporate names that the policy's rules use, as the machine's DNS would answer them.
cat > "$TARN_SIM_ROOT/C/Windows/System32/drivers/etc/hosts" <<'HOSTS'
10.20.5.10     wiki.corp.example.com
10.20.7.21     ftp.legacy.example.com
203.0.113.10   vpn.corp.example.com
10.20.1.2      cps.corp.example.com
HOSTS

orrery() { "$BIN/orrery" "$@"; }
view() { "$BIN/tarn_policy_view"; }
step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }

step "management writes the example policy (examples/policy.json)"
orrery import "$HERE/policy.json"
echo "store: $TARN_ORRERY_ROOT"

step "the firewall settings as the plug-in reads them"
view

step "management switches on network isolation"
orrery set windows.firewall.network_isolation.enabled true --type bool
view

step "a broken policy (examples/policy-broken.json): every refused rule and why"
orrery import "$HERE/policy-broken.json"
view
