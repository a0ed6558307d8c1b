#!/usr/bin/env bash
# The web API's page in a real browser, inside the lab: kestrel-host --web against the lab's
# minidlna and two gmediarender instances, Debian's chromium headless driven by page_test.mjs,
# which opens only the library's page address. Leaves the screenshot in the output folder.
# Usage: web_lab_test.sh KESTREL_HOST OUTPUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
out=${2:?output folder}
[ -d "$here/node_modules/playwright-core" ] || { echo "web_lab_test: run scripts/setup web (npm ci)" >&2; exit 2; }
chromium=$(command -v chromium || true)
[ -n "$chromium" ] || { echo "web_lab_test: chromium is not installed (scripts/setup web)" >&2; exit 2; }
export CHROMIUM=$chromium SCREENSHOT="$out/nmc-page.png" LAB_SCRIPT="$here/../lab/lab.sh"
export SOAP_PROBE="$here/soap_probe.py"
exec "$here/with_host.sh" "$1" "$out" bash -c 'PROFILE="$WORK_DIR/profile" timeout 150 node "$0"' "$here/page_test.mjs"
