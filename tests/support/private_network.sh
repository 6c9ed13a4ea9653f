#!/bin/sh
# Runs a command in a network namespace of its own, with only loopback up, so that servers on
# fixed ports (the demo catalogue's 8690 and 8691) never meet a running demo or another run.
# Exits 77, which the tests take as "skipped", when no namespace can be made here.
set -u
if [ "$(id -u)" -eq 0 ]; then
  enter="unshare --net"
else
  # A user namespace of one's own gives the right to bring loopback up inside it.
  enter="unshare --map-current-user --keep-caps --net"
fi
if ! $enter true 2>/dev/null; then
  echo "SKIPPED: cannot make a private network namespace here ($enter); the test needs one" >&2
  exit 77
fi
exec $enter sh -c 'ip link set lo up && exec "$@"' private-network "$@"
