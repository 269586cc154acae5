#!/usr/bin/env bash
# Checks Quorvel as a user installs it. Builds a tree for /usr, validates the desktop entry and
# the AppStream metadata with their own validators, builds the Debian package, installs it,
# starts the program from its menu entry's command and from the user service's command, and
# removes the package again, checking that nothing of it is left.
#
# Installing needs root or password-less sudo; without either that part is skipped, and said so.
# A quorvel package already installed (say, left by an interrupted run) is removed first.
#
# Usage: packaging/check-package.sh [BUILD_DIR]        (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
source_dir=$PWD

if [ "${1:-}" = "--run-unit-command" ]; then
  # Inside a fresh network namespace (where allowed) and a temporary HOME, XDG tree and session
  # bus (tests/netns.sh, tests/isolated.sh): the service's command against the installed
  # simulator. The settings name the simulator first, so the real device is never contacted.
  shift
  sim_pid="" app_pid=""
  finish() {
    if [ -n "$app_pid" ]; then kill "$app_pid" 2>/dev/null || true; fi
    if [ -n "$sim_pid" ]; then kill "$sim_pid" 2>/dev/null || true; fi
    wait 2>/dev/null || true
  }
  trap finish EXIT
  /usr/bin/m1620-sim --port-file "$HOME/port" --log "$HOME/sim.log" >/dev/null &
  sim_pid=$!
  for _ in $(seq 100); do [ -s "$HOME/port" ] && break; sleep 0.1; done
  [ -s "$HOME/port" ] || { echo "the simulator did not start"; exit 1; }
  host="127.0.0.1:$(cat "$HOME/port")"
  mkdir -p "$XDG_CONFIG_HOME/Quorvel"
  printf '{"customHost":"%s","useCustomHost":true}\n' "$host" >"$XDG_CONFIG_HOME/Quorvel/settings.json"

  log="$XDG_STATE_HOME/Quorvel/sync.log"
  "$@" 2>"$HOME/stderr" &
  app_pid=$!
  for _ in $(seq 150); do grep -qF "[INFO] Connected to $host" "$log" 2>/dev/null && break; sleep 0.1; done
  grep -qF "[INFO] Connected to $host" "$log" 2>/dev/null \
    || { echo "no \"Connected to $host\" in the log:"; cat "$log" "$HOME/stderr" 2>/dev/null; exit 1; }
  echo "connected to the simulator at $host"

  # A second start is refused with status 3, which the unit does not restart.
  status=0
  "$@" 2>"$HOME/second" || status=$?
  [ "$status" -eq 3 ] || { echo "a second start ended with $status, not 3"; cat "$HOME/second"; exit 1; }
  echo "a second start is refused with status 3: $(cat "$HOME/second")"

  # systemctl stop sends SIGTERM; a clean stop must end with 0, or Restart=on-failure restarts it.
  kill -TERM "$app_pid"
  status=0
  wait "$app_pid" || status=$?
  app_pid=""
  [ "$status" -eq 0 ] || { echo "SIGTERM ended it with status $status, not 0"; exit 1; }
  echo "SIGTERM ends it with status 0"
  exit 0
fi

build=${1:-build-package}
jobs=${QUORVEL_JOBS:-2}
app_id=app.quorvel.Quorvel
# What the package installs, under /usr.
files=(
  bin/quorvel
  bin/m1620-sim
  libexec/quorvel/quorvel-engine
  "share/applications/$app_id.desktop"
  "share/metainfo/$app_id.metainfo.xml"
  "share/icons/hicolor/scalable/apps/$app_id.svg"
  lib/systemd/user/quorvel.service
  share/dbus-1/interfaces/app.quorvel.Quorvel1.xml
  share/doc/quorvel/copyright
)

passed=0 failed=0 skipped=0
pass() { echo "  ok: $*"; passed=$((passed + 1)); }
fail() { echo "  FAILED: $*"; failed=$((failed + 1)); }
skip() { echo "  skipped: $*"; skipped=$((skipped + 1)); }
# check DESCRIPTION COMMAND...: runs the command with its output shown, indented.
check() {
  local what=$1 status=0
  shift
  "$@" 2>&1 | sed 's/^/    /' || status=${PIPESTATUS[0]}
  if [ "$status" -eq 0 ]; then pass "$what"; else fail "$what (exit status $status)"; fi
}
summary() {
  echo "packaging: $passed passed, $failed failed, $skipped skipped"
  [ "$failed" -eq 0 ]
}

stage=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-stage.XXXXXX")
as_root=()
installed_by_us=""
cleanup() {
  rm -rf "$stage"
  if [ -n "$installed_by_us" ]; then
    echo "-- removing the package after a failed check"
    "${as_root[@]}" dpkg -r quorvel >/dev/null || true
  fi
}
trap cleanup EXIT

echo "-- build tree for /usr: $build"
if [ -f "$build/CMakeCache.txt" ]; then
  # A tree built already (the test command's): only its prefix must be /usr; its tests stay.
  cmake -S . -B "$build" -DCMAKE_INSTALL_PREFIX=/usr >/dev/null
else
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DQUORVEL_BUILD_BENCH=OFF >/dev/null
fi
cmake --build "$build" -j"$jobs"
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || { echo "no project version in $build/CMakeCache.txt"; exit 1; }

echo "-- the configured files, by their own validators"
check "desktop-file-validate $build/packaging/$app_id.desktop" \
  desktop-file-validate "$build/packaging/$app_id.desktop"
check "appstreamcli validate --no-net $build/packaging/$app_id.metainfo.xml" \
  appstreamcli validate --no-net "$build/packaging/$app_id.metainfo.xml"
check "the release entry is for version $version" \
  grep -F "<release version=\"$version\"" "$build/packaging/$app_id.metainfo.xml"
check "the unit starts /usr/bin/quorvel --headless" \
  grep -Fx "ExecStart=/usr/bin/quorvel --headless" "$build/packaging/quorvel.service"

echo "-- cmake --install into a staging folder"
DESTDIR="$stage" cmake --install "$build" >/dev/null
missing=()
for f in "${files[@]}"; do [ -f "$stage/usr/$f" ] || missing+=("/usr/$f"); done
if [ ${#missing[@]} -eq 0 ]; then pass "all ${#files[@]} files installed"; else fail "not installed: ${missing[*]}"; fi
# The tree as a whole: the metadata's launchable entry and icon are where it says.
check "appstreamcli validate-tree --no-net (staged install)" appstreamcli validate-tree --no-net "$stage"

echo "-- Debian package"
rm -f "$build"/quorvel_*.deb
(cd "$build" && cpack -G DEB) | sed 's/^/    /'
debs=("$build"/quorvel_*.deb)
[ -f "${debs[0]}" ] || { fail "cpack made no package"; summary; exit 1; }
deb=$(realpath "${debs[0]}")
echo "    $(basename "$deb"), $(stat -c %s "$deb") bytes, installed size $(dpkg-deb -f "$deb" Installed-Size) KiB"
echo "    Depends: $(dpkg-deb -f "$deb" Depends)"
check "package quorvel, version $version-1, section sound" \
  test "$(dpkg-deb -f "$deb" Package)/$(dpkg-deb -f "$deb" Version)/$(dpkg-deb -f "$deb" Section)" \
  = "quorvel/$version-1/sound"
check "dependencies computed from the binaries (libqt6core6, libc6)" \
  bash -c 'dpkg-deb -f "$1" Depends | grep -E "(^|, )libqt6core6 " | grep -E "(^|, )libc6 "' _ "$deb"
expected=$(printf './usr/%s\n' "${files[@]}" | sort)
check "the package holds exactly the ${#files[@]} files, all under /usr" \
  diff <(echo "$expected") <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort)

echo "-- install, run, remove"
if [ "$(id -u)" -eq 0 ]; then
  as_root=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
  as_root=(sudo -n)
else
  skip "installing the package needs root or password-less sudo; run as root to check it"
  summary
  exit
fi

pkg_status() { dpkg-query -W -f='${db:Status-Status}' quorvel 2>/dev/null || true; }
if [ -n "$(pkg_status)" ] && [ "$(pkg_status)" != not-installed ]; then
  echo "    a quorvel package is already installed ($(pkg_status)), perhaps left by an earlier run: purging it first"
  "${as_root[@]}" dpkg --purge quorvel >/dev/null
fi

# As a user would: apt resolves the computed dependencies. Where apt cannot (no package lists,
# say), dpkg installs it as long as they are all there already.
installed_by_us=1
if ! "${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
  -o DPkg::Lock::Timeout=300 "$deb" 2>&1 | { grep -v '^N: Download is performed unsandboxed' || true; } \
  | sed 's/(Reading database \.\.\. [0-9]*%//g; s/^/    /'; then
  echo "    apt-get could not install it; trying dpkg -i"
  "${as_root[@]}" dpkg -i "$deb" 2>&1 | sed 's/(Reading database \.\.\. [0-9]*%//g; s/^/    /' || true
fi
check "the package is installed" test "$(pkg_status)" = installed
mapfile -t owned < <(dpkg -L quorvel)
missing=()
for f in "${files[@]}"; do [ -f "/usr/$f" ] || missing+=("/usr/$f"); done
if [ ${#missing[@]} -eq 0 ]; then pass "all ${#files[@]} files in /usr"; else fail "missing: ${missing[*]}"; fi

check "/usr/bin/quorvel --version prints \"Quorvel $version (…)\"" \
  bash -c 'out=$(/usr/bin/quorvel --version) && echo "$out" && [[ $out == "Quorvel $1 ("*")" ]]' _ "$version"
check "/usr/bin/m1620-sim --version prints \"m1620-sim $version\"" \
  bash -c 'out=$(/usr/bin/m1620-sim --version) && echo "$out" && [ "$out" = "m1620-sim $1" ]' _ "$version"
check "every library found" bash -c '! ldd /usr/bin/quorvel /usr/libexec/quorvel/quorvel-engine /usr/bin/m1620-sim | grep "not found"'
# The menu's command, found on the PATH as the desktop finds it.
exec_line=$(sed -n 's/^Exec=//p' "/usr/share/applications/$app_id.desktop")
check "the menu entry's command \"$exec_line\" is /usr/bin/quorvel" \
  bash -c 'p=$(PATH=/usr/bin:/bin command -v "$1") && echo "$p" && [ "$p" = /usr/bin/quorvel ] \
           && PATH=/usr/bin:/bin "$1" --version' _ "$exec_line"

unit=/usr/lib/systemd/user/quorvel.service
if command -v systemd-analyze >/dev/null; then
  check "systemd-analyze verify $unit" systemd-analyze verify "$unit"
else
  skip "systemd-analyze verify (no systemd-analyze on this machine)"
fi
read -ra exec_start <<<"$(sed -n 's/^ExecStart=//p' "$unit")"
check "the unit's command \"${exec_start[*]}\": runs, refuses a second start, stops cleanly" \
  tests/netns.sh tests/isolated.sh "$source_dir/packaging/check-package.sh" --run-unit-command "${exec_start[@]}"

"${as_root[@]}" dpkg -r quorvel | sed 's/^/    /'
installed_by_us=""
# With no configuration files to keep, dpkg forgets the package altogether.
check "dpkg -r quorvel: not installed, no configuration left" \
  bash -c '[ -z "$1" ] || [ "$1" = not-installed ]' _ "$(pkg_status)"
left=()
for f in "${owned[@]}"; do
  # Folders shared with other packages stay; ours must go.
  if [ -d "$f" ]; then
    case "$f" in */quorvel) [ -e "$f" ] && left+=("$f") ;; esac
  elif [ -e "$f" ] || [ -L "$f" ]; then
    left+=("$f")
  fi
done
if [ ${#left[@]} -eq 0 ]; then pass "nothing of the package left"; else fail "left behind: ${left[*]}"; fi

summary
