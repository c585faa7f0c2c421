#!/usr/bin/env bash
# The demo: the firewall plug-in run by the carrier host on a simulated office machine, with
# the example policy in a fresh settings store; then the management switches isolation on,
# the machine moves to a public network, and the host stops.
#
#   examples/demo.sh BINDIR [--watch]   (./dev demo builds BINDIR and runs this)
#
# --watch keeps the host running: a policy change made with `orrery` in another terminal shows
# in the firewall view, which is redrawn every second, until Ctrl-C.
set -euo pipefail

BIN="$(cd "${1:?usage: demo.sh BINDIR [--watch]}" && pwd)"
WATCH="${2:-}"
HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
WORK="$(dirname "$BIN")/demo"
NS=default

# A fresh machine and store every run.
rm -rf "$WORK"
mkdir -p "$WORK"
export TARN_SIM_ROOT="$WORK/machine" TARN_ORRERY_ROOT="$WORK/store"
MACHINE="$WORK/machine.json"
STORE="$TARN_ORRERY_ROOT/$NS.json"
LOG="$TARN_SIM_ROOT/C/ProgramData/Tarn/Log/Firewall/FirewallPlugin.log"
mkdir -p "$TARN_SIM_ROOT/C/Windows/System32/drivers/etc" "$TARN_ORRERY_ROOT"

# The corporate names that the policy's rules use, as the machine's DNS would answer them.
cp "$HERE/hosts" "$TARN_SIM_ROOT/C/Windows/System32/drivers/etc/hosts"

step() { printf '\n\033[1m== %s\033[0m\n' "$*"; }
view() { "$BIN/tarn_firewall_view" "$MACHINE" --store "$STORE"; }
snapshot() { cp "$MACHINE" "$WORK/$1.json"; }
# Waits up to 30 s until the command succeeds.
wait_for() {
    for _ in $(seq 300); do
        "$@" >/dev/null 2>&1 && return 0
        kill -0 "$HOST" 2>/dev/null || { echo "the host ended early:"; tail -n 20 "$LOG"; exit 1; }
        sleep 0.1
    done
    echo "timed out waiting for: $*"; tail -n 20 "$LOG"; exit 1
}
status() { "$BIN/orrery" get "status.windows.firewall.$1" 2>/dev/null; }

step "an office machine with the product installed"
PYX='C:\Program Files\Tarn\PYX'
"$BIN/tarn_sim_machine" "$MACHINE" network office-lan \
    -- registry-string "HKLM\\SOFTWARE\\WOW6432Node\\Tarn\\NS\\$NS\\PYX" InstallPath "$PYX" \
    -- link "$BIN/libtarn_pyx_orrery.so" "$PYX\\tarn_pyx_orrery_32.dll" \
    -- link "$BIN/libtarn_alert_api.so" "$PYX\\tarn_alert_api_32.dll" \
    -- link "$BIN/libtarn_events_api.so" "$PYX\\tarn_events_api_32.dll"

step "management writes the example policy (examples/policy.json) and is online"
"$BIN/orrery" import "$HERE/policy.json"
"$BIN/orrery" set status.windows.orrery.last_successful_update_timestamp "$(date +%s)" --type int64
echo "store: $STORE"

step "the carrier host starts the plug-in"
# The host's standard input takes commands for the machine ("network public-hotspot").
mkfifo "$WORK/commands"
"$BIN/carrier" --namespace "$NS" --machine "$MACHINE" < "$WORK/commands" &
HOST=$!
exec 3>"$WORK/commands"
stop_host() {
    trap - EXIT INT
    kill -INT "$HOST" 2>/dev/null || true
    local code=0
    wait "$HOST" || code=$?
    exec 3>&-
    echo "carrier ended with exit code $code"
}
# Whatever ends the demo also ends the host.
trap 'stop_host' EXIT INT
wait_for grep -q "Tarn Firewall" "$MACHINE"
wait_for status enabled
sleep 1  # the machine file is saved twice a second
snapshot first-pass
view

if [ "$WATCH" = "--watch" ]; then
    step "watching (Ctrl-C ends): in another terminal, for example"
    echo "  TARN_ORRERY_ROOT=$TARN_ORRERY_ROOT $BIN/orrery set windows.firewall.network_isolation.enabled true --type bool"
    echo "  echo 'network public-hotspot' > /proc/$HOST/fd/0   # moves the machine"
    while kill -0 "$HOST" 2>/dev/null; do
        sleep 1
        clear || true
        view
        "$BIN/tarn_firewall_view" diff "$WORK/first-pass.json" "$MACHINE" | sed 's/^/  since start: /'
    done
    exit 0
fi

step "management switches on network isolation"
"$BIN/orrery" set windows.firewall.network_isolation.enabled true --type bool
# The pass that applies the isolation profile writes its status; isolation counts as active
# from the next pass on, which any change starts: here the re-apply trigger.
wait_for sh -c "'$BIN/orrery' get status.windows.firewall.network_isolation.profile_isolation | grep -q true"
"$BIN/orrery" set windows.firewall.trigger_settings_reapply "$(date +%s)" --type string
wait_for sh -c "'$BIN/orrery' get status.windows.firewall.network_isolation.enabled | grep -q true"
sleep 1
snapshot isolated
"$BIN/tarn_firewall_view" diff "$WORK/first-pass.json" "$WORK/isolated.json"
echo "-- handler launches and events"
grep -E "Profile Isolation turned|CreateProcess|launch" "$LOG" | sed 's/^.*: //' || true
"$BIN/tarn_spool" --namespace "$NS" || true

step "the machine moves to a public Wi-Fi network"
"$BIN/orrery" set windows.firewall.network_isolation.enabled false --type bool
echo "network public-hotspot" >&3
wait_for sh -c "'$BIN/orrery' get windows.firewall.current_autoselected_profile_name | grep -q public_wifi"
sleep 2
snapshot public
echo "security profile: $(status current_security_level_name || true)"
"$BIN/tarn_firewall_view" diff "$WORK/isolated.json" "$WORK/public.json"

step "the host stops"
stop_host
view
