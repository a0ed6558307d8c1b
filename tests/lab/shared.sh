#!/usr/bin/env bash
# shared.sh CMD...: runs a test command in the lab that the tests of one ctest
# run share (LAB_DIR; brought up by the fixture lab_up, taken down by
# lab_down), like "lab.sh run CMD...". The shared tests run one at a time
# (RESOURCE_LOCK lab_peers) and leave the peers as they found them; when one
# fails, it may have left a peer stopped, paused or busy, so the lab is
# brought up afresh for its retry and for the tests after it. A fresh lab
# takes about 3 s; one per test was what every lab test paid before.
set -uo pipefail
lab=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)/lab.sh
rc=0
"$lab" run "$@" || rc=$?
if [ $rc -ne 0 ] && "$lab" status > /dev/null 2>&1; then
  echo "shared.sh: exit status $rc; bringing the shared lab ($LAB_DIR) up afresh" >&2
  "$lab" up > /dev/null 2>&1 || echo "shared.sh: the shared lab did not come up again" >&2
fi
exit $rc
