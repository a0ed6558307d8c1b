#!/bin/sh
# Runs a test program inside a private network namespace holding only its
# loopback link (with a few extra link-local addresses the tests use as
# "interfaces").
# Nothing sent there can leave the namespace. Exit code 77 (skipped) where
# namespaces are not allowed.
unshare -n true 2>/dev/null || { echo "no private network namespace available"; exit 77; }
exec unshare -n sh -c '
  ip link set lo up &&
  ip link set lo multicast on &&
  ip addr add 169.254.9.1/24 dev lo &&
  ip addr add 169.254.9.2/24 dev lo &&
  ip addr add 169.254.8.1/24 dev lo &&
  ip route add 239.0.0.0/8 dev lo &&
  SSDP_TEST_PRIVATE_NETNS=1 exec "$@"' sh "$@"
