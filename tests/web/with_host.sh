#!/usr/bin/env bash
# Runs a command beside kestrel-host --web, inside the lab (this shell is in the library's
# namespace, as lumet_lab_test runs it): waits for the page address the host prints and hands it
# to the command as PAGE_URL; the host's log goes to OUTPUT_DIR; the host ends with the command.
# Usage: with_host.sh KESTREL_HOST OUTPUT_DIR COMMAND...
set -euo pipefail
host=${1:?kestrel-host}
out=${2:?output folder}
shift 2
mkdir -p "$out"
[ -n "${LAB_NS_PID:-}" ] || { echo "with_host: not inside the lab" >&2; exit 2; }

work=$(mktemp -d)
host_pid=
cleanup() {
  local rc=$?
  if [ -n "$host_pid" ]; then kill "$host_pid" 2>/dev/null || true; wait "$host_pid" 2>/dev/null || true; fi
  rm -rf "$work" 2>/dev/null || { sleep 1; rm -rf "$work" 2>/dev/null || true; }
  exit "$rc"
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
[ -n "$page" ] || { echo "with_host: kestrel-host printed no page address" >&2; cat "$out/kestrel-host.log" >&2; exit 1; }
export PAGE_URL=$page WORK_DIR=$work
"$@"
