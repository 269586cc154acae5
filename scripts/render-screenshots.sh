#!/usr/bin/env bash
# Renders the panel in its main states, the settings window's two tabs and the tray icon to PNG
# in docs/images/, the pictures the README shows. Needs no display: the widgets are drawn
# offscreen at twice the pixel density, so they stay sharp on HiDPI screens. Nothing is sent
# anywhere.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${QUORVEL_BUILD_DIR:-build}

[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
if ! log=$(cmake --build "$build" -j"${QUORVEL_JOBS:-2}" --target render-screenshots 2>&1); then
  echo "$log" >&2
  exit 1
fi

# The same texts and times for everyone: English with a 24-hour clock, temporary settings.
tmp=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-shots.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/runtime" && chmod 700 "$tmp/runtime"
env -u DISPLAY -u WAYLAND_DISPLAY \
  QT_QPA_PLATFORM=offscreen QT_SCALE_FACTOR=2 LANG=en_GB.UTF-8 LC_ALL=en_GB.UTF-8 \
  HOME="$tmp" XDG_CONFIG_HOME="$tmp/config" XDG_STATE_HOME="$tmp/state" XDG_RUNTIME_DIR="$tmp/runtime" \
  "$build/bin/render-screenshots" docs/images 2> >(grep -v 'does not support' >&2)
