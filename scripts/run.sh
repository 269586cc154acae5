#!/usr/bin/env bash
# Builds Quorvel and runs it against the bundled device simulator, in a temporary settings
# and log tree so that nothing of yours is touched and the real device address is never
# contacted. Ctrl-C ends both.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORVEL_BUILD_DIR:-build}

cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"${QUORVEL_JOBS:-2}" --target quorvel m1620-sim >/dev/null

demo=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-demo.XXXXXX")
sim_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null && wait "$app_pid" 2>/dev/null
  [ -n "$sim_pid" ] && kill "$sim_pid" 2>/dev/null && wait "$sim_pid" 2>/dev/null
  rm -rf "$demo"
}
trap cleanup EXIT
trap 'exit 0' INT TERM

"$build/bin/m1620-sim" --port-file "$demo/port" --log "$demo/sim.log" >/dev/null &
sim_pid=$!
for _ in $(seq 50); do [ -s "$demo/port" ] && break; sleep 0.1; done
port=$(cat "$demo/port")

export XDG_CONFIG_HOME="$demo/config" XDG_STATE_HOME="$demo/state" XDG_RUNTIME_DIR="$demo/runtime"
mkdir -p "$XDG_CONFIG_HOME/Quorvel" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '{"customHost":"127.0.0.1:%s","useCustomHost":true}\n' "$port" >"$XDG_CONFIG_HOME/Quorvel/settings.json"

cat <<TXT
Simulated M-1620 on 127.0.0.1:$port (settings and log in $demo, removed on exit).
Change its MADI input from another terminal and watch Quorvel follow:
  curl -s -X POST '127.0.0.1:$port/sim/state?madi=96000'
  curl -s -X POST '127.0.0.1:$port/sim/fault?mode=hang'      # then mode=none
Ctrl-C ends the demo.

TXT

"$build/bin/quorvel" --headless &
app_pid=$!
for _ in $(seq 50); do [ -f "$XDG_STATE_HOME/Quorvel/sync.log" ] && break; sleep 0.1; done
tail -n +1 -f "$XDG_STATE_HOME/Quorvel/sync.log" --pid "$app_pid"
