#!/usr/bin/env bash
# Lifecycle of the lab itself: the single-namespace topology passes the smoke test; every way
# a lab ends (its command finishing, SIGTERM in hold mode, 'down' after the supervisor was
# killed outright) leaves none of its processes and no namespace behind; a lab whose namespace
# gained an interface it did not make refuses to run commands.
# Runs its own small labs in LAB_DIR (given by the caller), independent of the ctest fixture's.
set -uo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
LAB="$HERE/lab.sh"
: "${LAB_DIR:?set LAB_DIR}"
export LAB_DIR LAB_BULK=${LAB_BULK:-40} LAB_RENDERERS=${LAB_RENDERERS:-2}
TMP=$(mktemp -d)
trap '"$LAB" down > /dev/null 2>&1; rm -rf "$TMP"' EXIT
FAILS=0
check() {  # check NAME COMMAND...
  local name=$1; shift
  if "$@"; then echo "PASS $name"; else echo "FAIL $name"; FAILS=$((FAILS + 1)); fi
}

# all_gone PIDFILE [MARK]: no process recorded there is still alive (same PID and start time), no
# namespace of the lab remains and its in-memory data is removed. MARK (uptime in seconds, default:
# when the lab's teardown began, from its logs/netns.last) lies after every start of a process of
# the lab and before its namespaces could end. The kernel reuses the number of an ended namespace
# at once, for any lab of another LAB_DIR that starts just then: a process that started after MARK
# in a namespace of that number is not the lab's.
all_gone() {
  local file=$1 mark=${2:-} pid st name ok=0 s
  while read -r pid st name; do
    s=$(cat "/proc/$pid/stat" 2> /dev/null) || continue
    s=${s##*) }; set -- $s
    if [ "${20}" = "$st" ]; then echo "  still running: $pid ($name)"; ok=1; fi
    if pgrep -g "$pid" > /dev/null; then echo "  group $pid ($name) has members"; ok=1; fi
  done < "$file"
  if [ -f "$TMP/data" ] && [ -e "$(cat "$TMP/data")" ]; then echo "  data $(cat "$TMP/data") left"; ok=1; fi
  [ ! -e "$LAB_DIR/pids" ] || { echo "  $LAB_DIR/pids left"; ok=1; }
  # no process is left in the lab's namespaces, so the kernel has removed them
  [ -s "$TMP/ns" ] || { echo "  no namespaces recorded"; ok=1; }
  python3 - "$TMP/ns" "$mark" "$LAB_DIR/logs/netns.last" << 'EOF' || ok=1
import os, sys, time
lab = set(open(sys.argv[1]).read().split())
if sys.argv[2]:
    mark = float(sys.argv[2])
else:
    uptime = float(open("/proc/uptime").read().split()[0])
    mark = uptime - (time.time() - os.stat(sys.argv[3]).st_mtime)
tick = os.sysconf("SC_CLK_TCK")
left, newer = [], []
for p in filter(str.isdigit, os.listdir("/proc")):
    try:
        if os.readlink("/proc/%s/ns/net" % p) not in lab:
            continue
        start = int(open("/proc/%s/stat" % p).read().rsplit(")", 1)[1].split()[19]) / tick
    except (OSError, ValueError, IndexError):
        continue
    (left if start < mark else newer).append(p)
if newer:
    print("  (not the lab's: %s, started in a namespace that reused its number)" % " ".join(newer))
if left:
    print("  processes still in the lab's namespaces: %s" % " ".join(left))
sys.exit(1 if left else 0)
EOF
  return $ok
}
uptime_now() { cut -d' ' -f1 /proc/uptime; }
# some_alive PIDFILE: at least one recorded process still runs
some_alive() {
  local pid st name s
  while read -r pid st name; do
    s=$(cat "/proc/$pid/stat" 2> /dev/null) || continue
    s=${s##*) }; set -- $s
    [ "${20}" = "$st" ] && return 0
  done < "$1"
  return 1
}
not() { ! "$@" > /dev/null; }
snapshot() {
  cp "$LAB_DIR/pids" "$TMP/pids"; cp "$LAB_DIR/data" "$TMP/data"
  ( set -a; . "$LAB_DIR/lab.env"; readlink "/proc/$LAB_NS_PID/ns/net" "/proc/$LAB_PEERS_NS_PID/ns/net" ) > "$TMP/ns"
}
up_for() { [ -s "$TMP/pids" ] && [ "$(wc -l < "$TMP/pids")" -ge $((LAB_RENDERERS + 3)) ]; }

echo "== single topology: smoke test through 'run' (the lab lives only for the command)"
rm -f "$TMP/pids" "$TMP/data" "$TMP/ns"
LAB_TOPOLOGY=single "$LAB" run bash -c 'cp "$LAB_DIR/pids" "$LAB_DIR/data" "$0"/ &&
  readlink /proc/self/ns/net > "$0/ns" && [ "$LAB_NS_PID" = "$LAB_PEERS_NS_PID" ] &&
  [ "$LAB_ADDR" = "$LAB_PEER_ADDR" ] && [ "$LAB_IFACE" = lab0 ] && exec python3 "$1"' \
  "$TMP" "$HERE/smoke.py"
check "single topology: smoke test passes" [ $? = 0 ]
check "the lab recorded its namespace holder, peers and file server" up_for
check "the command ran outside the host's namespace" \
  bash -c "[ -s '$TMP/ns' ] && [ \"\$(cat '$TMP/ns')\" != \"\$(readlink /proc/self/ns/net)\" ]"
check "command finished: nothing of the lab is left" all_gone "$TMP/pids"

echo "== 'run' passes the command's exit status through"
"$LAB" run bash -c 'exit 7' > /dev/null 2>&1
check "exit status 7 comes back" [ $? = 7 ]

echo "== hold mode ends on SIGTERM"
rm -f "$TMP/pids" "$TMP/data"
setsid "$LAB" hold > "$TMP/hold.log" 2>&1 &
HOLD=$!
for _ in $(seq 600); do [ -f "$LAB_DIR/ready" ] && break; kill -0 $HOLD 2> /dev/null || break; sleep 0.1; done
check "hold: lab comes up" [ -f "$LAB_DIR/ready" ]
snapshot
check "status reports the lab" bash -c "'$LAB' status > /dev/null"
kill -TERM $HOLD
for _ in $(seq 200); do kill -0 $HOLD 2> /dev/null || break; sleep 0.1; done
check "hold: the holding process ended" bash -c "! kill -0 $HOLD 2> /dev/null"
check "hold: nothing of the lab is left after SIGTERM" all_gone "$TMP/pids"
check "status reports no lab" bash -c "! '$LAB' status > /dev/null"

echo "== an interface the lab did not make: refuse"
"$LAB" up > "$TMP/up.log" 2>&1
check "up succeeds" [ $? = 0 ]
snapshot
check "while up, the leftover check does see the lab" not all_gone "$TMP/pids" "$(uptime_now)"
R2=uuid:0ab0c0d0-0000-4000-8000-000000000002
"$LAB" stop renderer2
check "stop renderer2: it no longer answers M-SEARCH" \
  not "$LAB" run python3 "$HERE/labtool.py" msearch upnp:rootdevice 3 "$R2"
check "start renderer2: answers M-SEARCH again, at its old description URL" \
  bash -c "[ \"\$('$LAB' start renderer2 2> /dev/null)\" = \"\$('$LAB' status | sed -n 's/^LAB_RENDERER2_DESC=//p')\" ]"
check "start of a running peer is refused" not "$LAB" start renderer2
snapshot
"$LAB" run ip link add stray0 type veth peer name stray1 2> /dev/null
"$LAB" run true > /dev/null 2> "$TMP/refuse.log"
rc=$?
check "run refuses (exit 2)" [ $rc = 2 ]
check "and says why" grep -q "'stray[01]'.*refusing" "$TMP/refuse.log"

echo "== supervisor killed outright: 'down' still ends everything"
SUP=$(cut -d' ' -f1 "$LAB_DIR/supervisor")
kill -KILL "$SUP"
sleep 0.2
check "peers outlive the killed supervisor (so 'down' has work to do)" some_alive "$TMP/pids"
MARK=$(uptime_now)
"$LAB" down > /dev/null 2>&1
check "down after SIGKILL: nothing of the lab is left" all_gone "$TMP/pids" "$MARK"

echo "== a lab that cannot get ready: up fails and leaves nothing behind"
rm -f "$TMP/pids" "$TMP/data" "$TMP/ns"
LAB_TIMEOUT=0 "$LAB" up > "$TMP/up.log" 2>&1
check "up fails" [ $? = 1 ]
check "and shows the lab's log" grep -q "no M-SEARCH answer within 0s" "$TMP/up.log"
cp "$LAB_DIR/logs/pids.last" "$TMP/pids"; cp "$LAB_DIR/logs/netns.last" "$TMP/ns"
check "the lab had started its peers" up_for
check "failed up: nothing of the lab is left" all_gone "$TMP/pids"

echo "lifecycle: $([ $FAILS = 0 ] && echo "all checks passed" || echo "$FAILS FAILED")"
[ $FAILS = 0 ]
