#!/usr/bin/env bash
# avahi_netns.sh COMMAND...: COMMAND against a real avahi-daemon in a network and mount namespace
# of its own (loopback, a veth pair with both ends inside, a private system bus, a tmpfs over
# /run/avahi-daemon), so nothing reaches the machine's interfaces, buses or files. COMMAND then
# sees QUORVEL_AVAHI_NETNS=ready, or =skipped with the reason in QUORVEL_AVAHI_SKIP.
set -u

if [ -z "${QUORVEL_AVAHI_NETNS:-}" ]; then
  reason=""
  for tool in unshare ip dbus-daemon avahi-daemon; do
    command -v "$tool" >/dev/null || reason="missing $tool (Debian packages avahi-daemon dbus iproute2)"
  done
  [ "$(id -u)" -eq 0 ] || reason="needs root for a network namespace"
  [ -n "$reason" ] || unshare --net --mount true 2>/dev/null || reason="unshare --net --mount is not allowed here"
  if [ -n "$reason" ]; then
    export QUORVEL_AVAHI_NETNS=skipped QUORVEL_AVAHI_SKIP="$reason"
    exec "$@"
  fi
  export QUORVEL_AVAHI_NETNS=inside
  exec unshare --net --mount --propagation private -- "$0" "$@"
fi
[ "$QUORVEL_AVAHI_NETNS" = inside ] || { echo "avahi_netns.sh: unexpected state" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/quorvel-avahi.XXXXXX")
pids=""
cleanup() {
  [ -n "$pids" ] && kill -TERM $pids 2>/dev/null
  for pid in $pids; do wait "$pid" 2>/dev/null; done
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 143' TERM; trap 'exit 130' INT
fail() { echo "avahi_netns.sh: $*" >&2; cat "$tmp/avahi.log" >&2 2>/dev/null; exit 1; }
wait_for() { for _ in $(seq 100); do eval "$1" && return 0; sleep 0.1; done; fail "$2"; }

ip link set lo up || fail "cannot bring lo up"
ip link add qv0 type veth peer name qv1 || fail "cannot add a veth pair"
ip addr add 169.254.77.1/16 dev qv0 || fail "cannot add an address"
for link in qv0 qv1; do ip link set "$link" multicast on up || fail "cannot bring $link up"; done

cat >"$tmp/system.conf" <<CONF
<busconfig>
  <type>system</type>
  <listen>unix:path=$tmp/system_bus_socket</listen>
  <auth>EXTERNAL</auth>
  <policy context="default"><allow user="*"/><allow own="*"/><allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/></policy>
</busconfig>
CONF
dbus-daemon --config-file="$tmp/system.conf" --nofork --nopidfile >"$tmp/bus.log" 2>&1 &
pids="$!"
wait_for '[ -S "$tmp/system_bus_socket" ]' "the private system bus did not start"
export DBUS_SYSTEM_BUS_ADDRESS="unix:path=$tmp/system_bus_socket"

# The daemon's pid file and socket go to a tmpfs that only this namespace sees.
if [ -d /run/avahi-daemon ]; then
  mount -t tmpfs tmpfs /run/avahi-daemon || fail "cannot mount a tmpfs on /run/avahi-daemon"
else
  mount -t tmpfs tmpfs /run && mkdir -p /run/avahi-daemon || fail "cannot mount a tmpfs on /run"
fi
printf '%s\n' "[server]" use-ipv4=yes use-ipv6=no allow-interfaces=qv0 "[wide-area]" enable-wide-area=no \
  "[publish]" publish-hinfo=no publish-workstation=no >"$tmp/avahi-daemon.conf"
avahi-daemon -f "$tmp/avahi-daemon.conf" --no-drop-root --no-chroot --no-rlimits >"$tmp/avahi.log" 2>&1 &
pids="$! $pids"
wait_for 'grep -q "Server startup complete" "$tmp/avahi.log"' "avahi-daemon did not start"

export QUORVEL_AVAHI_NETNS=ready
"$@"
