#!/usr/bin/env bash
# Runs a command in a fresh network namespace with only loopback up, so that a test of the
# real program cannot send a packet anywhere else. Where the machine does not allow a new
# namespace (not root, no unshare), it runs on the machine's loopback as usual.
set -u
if [ -z "${QUORVEL_IN_NETNS:-}" ] && command -v unshare >/dev/null && command -v ip >/dev/null \
   && unshare --net true 2>/dev/null; then
  export QUORVEL_IN_NETNS=1
  exec unshare --net -- bash -c 'ip link set lo up && exec "$@"' netns "$@"
fi
exec "$@"
