#!/usr/bin/env bash
# The web API's page in a real browser, inside the lab (run by lumet_lab_test, so this shell is
# in the library's namespace): kestrel-host --web against the lab's minidlna and two
# gmediarender instances, Debian's chromium headless driven by tests/web/page_test.mjs, which
# opens only the library's page address. Leaves the screenshot in the output folder.
# Usage: web_lab_test.sh KESTREL_HOST OUTPUT_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
host=${1:?kestrel-host}
out=${2:?output folder}
mkdir -p "$out"
[ -n "${LAB_NS_PID:-}" ] || { echo "web_lab_test: not inside the lab" >&2; exit 2; }
[ -d "$here/node_modules/playwright-core" ] || { echo "web_lab_test: run scripts/setup web (npm ci)" >&2; exit 2; }
chromium=$(command -v chromium || true)
[ -n "$chromium" ] || { echo "web_lab_test: chromium is not installed (scripts/setup web)" >&2; exit 2; }

work=$(mktemp -d)
host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null && wait "$host_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
mkfifo "$work/in"
"$host" --web --json -i < "$work/in" > "$out/kestrel-host.log" 2>&1 &
host_pid=$!
exec 3> "$work/in"   # keeps the host's input open until the end
page=
for _ in $(seq 1 100); do
  page=$(grep -o '"page":"[^"]*"' "$out/kestrel-host.log" | head -n 1 | cut -d'"' -f4 || true)
  [ -n "$page" ] && break
  sleep 0.2
done
[ -n "$page" ] || { echo "web_lab_test: kestrel-host printed no page address" >&2; cat "$out/kestrel-host.log" >&2; exit 1; }

export PAGE_URL=$page CHROMIUM=$chromium SCREENSHOT="$out/nmc-page.png" LAB_SCRIPT="$here/../lab/lab.sh"
export SOAP_PROBE="$here/soap_probe.py" PROFILE="$work/profile"
timeout 150 node "$here/page_test.mjs"
