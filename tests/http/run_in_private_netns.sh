#!/bin/sh
# Runs a test program inside a private network namespace that holds only its
# own loopback link. Exit code 77 (skipped) where namespaces are not allowed.
unshare -n true 2>/dev/null || { echo "no private network namespace available"; exit 77; }
exec unshare -n sh -c 'ip link set lo up && HTTP_TEST_PRIVATE_NETNS=1 exec "$@"' sh "$@"
