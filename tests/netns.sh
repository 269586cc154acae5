#!/usr/bin/env bash
# Runs a command in a fresh network namespace with only loopback up, so that a test of the
# real program cannot send a packet anywhere else, and in a mount namespace of its own, so
# such a test may mount a small file system (a full disk) that nobody else sees. Where the
# machine does not allow new namespaces (not root, no unshare), it runs on the machine's
# loopback as usual, and tests that need a mount skip.
set -u
if [ -z "${QUORVEL_IN_NETNS:-}" ] && command -v unshare >/dev/null && command -v ip >/dev/null \
   && unshare --net --mount true 2>/dev/null; then
  export QUORVEL_IN_NETNS=1 QUORVEL_IN_MOUNTNS=1
  exec unshare --net --mount --propagation private -- bash -c 'ip link set lo up && exec "$@"' netns "$@"
fi
exec "$@"
