#!/usr/bin/env bash
# Builds Quorvel and runs it against the bundled device simulator, in a temporary settings
# and log tree so that nothing of yours is touched and the real device address is never
# contacted. With a display, Quorvel sits in the tray (click its icon for the panel); without
# one it runs headless. Either way its log is followed here. Ctrl-C (or "Quit Quorvel") ends both.
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

desktop=""
if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then desktop=1; fi
# The demo gets a runtime folder of its own, so it runs beside a Quorvel of yours. The desktop's
# sockets there (Wayland, the session bus) are named by absolute path so the tray still works.
runtime=${XDG_RUNTIME_DIR:-}
if [ -n "$runtime" ]; then
  if [ -n "${WAYLAND_DISPLAY:-}" ] && [ "${WAYLAND_DISPLAY#/}" = "$WAYLAND_DISPLAY" ]; then
    export WAYLAND_DISPLAY="$runtime/$WAYLAND_DISPLAY"
  fi
  if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] && [ -S "$runtime/bus" ]; then
    export DBUS_SESSION_BUS_ADDRESS="unix:path=$runtime/bus"
  fi
fi
export XDG_CONFIG_HOME="$demo/config" XDG_STATE_HOME="$demo/state" XDG_RUNTIME_DIR="$demo/runtime"
mkdir -p "$XDG_CONFIG_HOME/Quorvel" "$XDG_STATE_HOME" "$XDG_RUNTIME_DIR"
chmod 700 "$XDG_RUNTIME_DIR"
printf '{"customHost":"127.0.0.1:%s","useCustomHost":true,"showRateInMenuBar":true}\n' "$port" >"$XDG_CONFIG_HOME/Quorvel/settings.json"

cat <<TXT
Simulated M-1620 on 127.0.0.1:$port (settings and log in $demo, removed on exit).
${desktop:+Quorvel is in your tray: click its icon for the panel, right-click for its menu.
}Change its MADI input from another terminal and watch Quorvel follow:
  curl -s -X POST '127.0.0.1:$port/sim/state?madi=96000'
  curl -s -X POST '127.0.0.1:$port/sim/fault?mode=hang'      # then mode=none
Ctrl-C ends the demo${desktop:+, and so does Quit Quorvel}.

TXT

if [ -n "$desktop" ]; then
  "$build/bin/quorvel" &
else
  "$build/bin/quorvel" --headless &
fi
app_pid=$!
for _ in $(seq 50); do [ -f "$XDG_STATE_HOME/Quorvel/sync.log" ] && break; sleep 0.1; done
tail -n +1 -f "$XDG_STATE_HOME/Quorvel/sync.log" --pid "$app_pid"
