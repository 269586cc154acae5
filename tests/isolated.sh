#!/usr/bin/env bash
# Runs a test in a fresh temporary HOME and XDG tree, on a private session bus, so that it
# never reads or writes the user's settings, logs or desktop. The tree is removed after.
set -u
root=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-test.XXXXXX")
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/home" "$root/config" "$root/state" "$root/data" "$root/cache" "$root/runtime"
chmod 700 "$root/runtime"
export HOME="$root/home" XDG_CONFIG_HOME="$root/config" XDG_STATE_HOME="$root/state"
export XDG_DATA_HOME="$root/data" XDG_CACHE_HOME="$root/cache" XDG_RUNTIME_DIR="$root/runtime"
export QUORVEL_TEST_ROOT="$root"
if [ -z "${QUORVEL_NO_BUS:-}" ] && command -v dbus-run-session >/dev/null; then
  dbus-run-session -- "$@"
else
  "$@"
fi
