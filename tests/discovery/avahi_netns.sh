#!/usr/bin/env bash
# Runs a test against a real avahi-daemon that lives in a network and mount namespace of its
# own: loopback plus a veth pair whose both ends stay inside, a private system bus on a
# temporary socket and a tmpfs over /run/avahi-daemon. Nothing reaches the machine's own
# interfaces, buses or files. Where the machine does not allow this (not root, no unshare,
# avahi-daemon or avahi-utils missing), the test runs as it is and skips, saying why.
#
#   avahi_netns.sh COMMAND...
# COMMAND then sees QUORVEL_AVAHI_NETNS=ready when all is up, or QUORVEL_AVAHI_NETNS=skipped
# and the reason in QUORVEL_AVAHI_SKIP.
set -u

missing=()
for tool in unshare ip dbus-daemon avahi-daemon avahi-publish; do
  command -v "$tool" >/dev/null || missing+=("$tool")
done

if [ -z "${QUORVEL_AVAHI_NETNS:-}" ]; then
  reason=""
  if [ "$(id -u)" -ne 0 ]; then
    reason="needs root for a network namespace"
  elif [ ${#missing[@]} -gt 0 ]; then
    reason="missing ${missing[*]} (Debian packages avahi-daemon avahi-utils dbus iproute2)"
  elif ! unshare --net --mount true 2>/dev/null; then
    reason="unshare --net --mount is not allowed here"
  fi
  if [ -n "$reason" ]; then
    export QUORVEL_AVAHI_NETNS=skipped QUORVEL_AVAHI_SKIP="$reason"
    exec "$@"
  fi
  export QUORVEL_AVAHI_NETNS=inside
  exec unshare --net --mount --propagation private -- "$0" "$@"
fi

# From here on: inside the new namespaces.
[ "$QUORVEL_AVAHI_NETNS" = inside ] || { echo "avahi_netns.sh: unexpected state" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-avahi.XXXXXX")
bus_pid=""
avahi_pid=""
cleanup() {
  for pid in $avahi_pid $bus_pid; do
    kill -TERM "$pid" 2>/dev/null
  done
  for pid in $avahi_pid $bus_pid; do
    for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 143' TERM
trap 'exit 130' INT
fail() { echo "avahi_netns.sh: $*" >&2; [ -f "$tmp/avahi.log" ] && cat "$tmp/avahi.log" >&2; exit 1; }

ip link set lo up || fail "cannot bring lo up"
ip link add qv0 type veth peer name qv1 || fail "cannot add a veth pair"
ip link set qv0 multicast on && ip link set qv1 multicast on || fail "cannot set multicast"
ip addr add 169.254.77.1/16 dev qv0 || fail "cannot add an address"
ip link set qv0 up && ip link set qv1 up || fail "cannot bring the veth pair up"

cat >"$tmp/system.conf" <<CONF
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path=$tmp/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <allow own="*"/>
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
  </policy>
</busconfig>
CONF
dbus-daemon --config-file="$tmp/system.conf" --nofork --nopidfile >"$tmp/bus.log" 2>&1 &
bus_pid=$!
for _ in $(seq 100); do [ -S "$tmp/system_bus_socket" ] && break; sleep 0.05; done
[ -S "$tmp/system_bus_socket" ] || fail "the private system bus did not start"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$tmp/system_bus_socket"

# The daemon's pid file and socket go to a tmpfs that only this namespace sees.
if [ -d /run/avahi-daemon ]; then
  mount -t tmpfs tmpfs /run/avahi-daemon || fail "cannot mount a tmpfs on /run/avahi-daemon"
else
  mount -t tmpfs tmpfs /run || fail "cannot mount a tmpfs on /run"
  mkdir -p /run/avahi-daemon
fi

cat >"$tmp/avahi-daemon.conf" <<CONF
[server]
use-ipv4=yes
use-ipv6=no
allow-interfaces=qv0
enable-dbus=yes
[wide-area]
enable-wide-area=no
[publish]
publish-hinfo=no
publish-workstation=no
[reflector]
enable-reflector=no
CONF
avahi-daemon -f "$tmp/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits >"$tmp/avahi.log" 2>&1 &
avahi_pid=$!
for _ in $(seq 100); do grep -q "Server startup complete" "$tmp/avahi.log" && break; sleep 0.1; done
grep -q "Server startup complete" "$tmp/avahi.log" || fail "avahi-daemon did not start"

export QUORVEL_AVAHI_NETNS=ready
"$@"
status=$?
exit $status
