#!/usr/bin/env python3
"""kestrel-host --web --terminal with libkestrel64 in the shared lab, driven
through its standard input as a person would type: the lab's server and
renderers listed as they answer; a server browsed down to an album (a title
with "&" and "<" shown as it is) and the 2,000-item container paged; a track
refused on the first renderer for its format (named, with the formats the
renderer takes); a track played on the first renderer (PLAYING, then the
volume read back by a second control point, kestrel-soap), stopped; the 30-second track handed from the
first renderer to the second ("handoff rN": the second PLAYING by
GetTransportInfo, the first stopped); a search across all servers
("search-all") whose merged rows "play N" plays; the second renderer stopped
with lab.sh in mid-play ("the renderer is gone ...") goes from the list
("gone") and comes back ("back") under its number; failures said in words;
"playlist publish" says what goes and shows its waiting, which Ctrl-C stops;
Ctrl-C ends
the host cleanly with the component's balance at zero. Beside it, a host in a
namespace of its own with only loopback says that no servers and no
renderers were found yet; and scripts/run's forward, started in a namespace
of its own (as this machine's would be), carries a request into the lab to
the host's web API and ends once the host's namespace is gone.

Usage: host_terminal_lab_test.py HOST LIBKESTREL64 KESTREL_SOAP LAB_FORWARD LAB_SH
"""
import os
import queue
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HOST, LIBRARY, SOAP, FORWARD, LAB_SH = sys.argv[1:6]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return cond


class Terminal:
    """The host's terminal mode: lines in, lines out."""

    def __init__(self, appdata, prefix=(), options=()):
        env = dict(os.environ, KESTREL_APP_SUPPORT_DIR=appdata)
        self.p = subprocess.Popen([*prefix, HOST, "--web", "--terminal", *options, LIBRARY], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, env=env)
        self.lines = queue.Queue()
        self.all = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for raw in self.p.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\n")
            self.all.append(line)
            self.lines.put(line)
        self.lines.put(None)

    def send(self, line):
        self.p.stdin.write((line + "\n").encode())
        self.p.stdin.flush()

    def wait(self, pattern, timeout=20):
        """The match of the first line (from now on) that pattern finds."""
        end = time.time() + timeout
        while time.time() < end:
            try:
                line = self.lines.get(timeout=max(0.05, end - time.time()))
            except queue.Empty:
                break
            if line is None:
                break
            m = re.search(pattern, line)
            if m:
                return m
        return None

    def listing(self, command, timeout=20):
        """Sends a browse command; answers {title: number} of the entries it
        lists and the closing line."""
        self.send(command)
        entries, end = {}, time.time() + timeout
        while time.time() < end:
            try:
                line = self.lines.get(timeout=max(0.05, end - time.time()))
            except queue.Empty:
                break
            if line is None:
                break
            m = re.match(r"entry: (\d+) (\[dir\]|     ) (.*)$", line)
            if m:
                entries[m.group(3)] = int(m.group(1))
            elif line.startswith("browse: entries") or line.startswith("error:") or "empty" in line:
                return entries, line
        return entries, None


def soap_volume(desc, udn):
    p = subprocess.run([SOAP, "--renderer", desc, udn, "volume"], capture_output=True, timeout=60)
    return p.stdout.decode().strip()


def soap_state(i):
    """Renderer i's CurrentTransportState by GetTransportInfo (kestrel-soap)."""
    p = subprocess.run([SOAP, "--renderer", os.environ["LAB_RENDERER%d_DESC" % i], os.environ["LAB_RENDERER%d_UDN" % i],
                        "transport"], capture_output=True, timeout=60)
    return p.stdout.decode().split("\t")[0].strip()


appdata = tempfile.mkdtemp(prefix="host_terminal_lab")
lonely_appdata = tempfile.mkdtemp(prefix="host_terminal_alone")
# A host with nothing to find: a network namespace of its own, loopback only.
lonely = Terminal(lonely_appdata, ("unshare", "-n", "sh", "-c", 'ip link set lo up && exec "$0" "$@"'))
url_file = os.path.join(appdata, "web-url")
host_started = time.monotonic()
t = Terminal(appdata, options=("--web-url-file", url_file))
# The forward as scripts/run starts it, in a namespace of its own standing
# for this machine's: it listens on that namespace's 127.0.0.1 and connects
# inside the host's; a request through it, then it waits for its end.
FORWARD_CLIENT = r"""
ip link set lo up
python3 "$0" "$1" "$2" 20 &
fwd=$!
port=""
for i in $(seq 100); do
  port=$(sed -n 's#^http://[0-9.]*:\([0-9]*\)/.*#\1#p' "$2" 2> /dev/null)
  [ -n "$port" ] && curl -s -m 2 -o /dev/null "http://127.0.0.1:$port/" && break
  sleep 0.2
done
echo "status=$(curl -s -m 5 -o /dev/null -w '%{http_code}' "http://127.0.0.1:$port/nmc/rpc/get_renderers")"
wait $fwd
echo "forward-exit=$?"
"""
forward = None
try:
    server_name = os.environ["LAB_SERVER_NAME"]
    r1_name = os.environ["LAB_RENDERER1_NAME"]
    m = t.wait(r"^server: added (s\d+) " + re.escape(server_name) + "$", 30)
    check(m is not None, "the lab server is listed as it answers")
    server = m.group(1) if m else "s1"
    seen = {}
    for i in range(1, int(os.environ["LAB_RENDERERS"]) + 1):
        name = os.environ["LAB_RENDERER%d_NAME" % i]
        if name not in seen:
            found = [line for line in t.all if re.match(r"^renderer: added r\d+ " + re.escape(name) + "$", line)]
            seen[name] = found[0].split()[2] if found else None
            if not found:
                m = t.wait(r"^renderer: added (r\d+) " + re.escape(name) + "$", 30)
                seen[name] = m.group(1) if m else None
        check(seen[name] is not None, "renderer %s is listed as it answers" % name)
    r1 = seen.get(r1_name) or "r1"

    t.send("list")
    check(t.wait(r"^server: %s %s$" % (server, re.escape(server_name))) is not None, "list shows the server")

    # Browsing: down to the album, titles as they are.
    entries, end = t.listing("browse " + server)
    check("Browse Folders" in entries, "the server's root: %s (%s)" % (entries, end))
    for title in ("Browse Folders", "music", "Alpha Artist", "First Album"):
        if title not in entries:
            check(False, "no %r in %s" % (title, entries))
            raise SystemExit(1)
        entries, end = t.listing("open %d" % entries[title])
    check("Rock & Roll <Live>" in entries, "the album's titles as they are: %s" % entries)
    song = entries.get("First Song")
    tone = entries.get("Long Tone")
    name2 = os.environ.get("LAB_RENDERER2_NAME")
    r2 = seen.get(name2)

    # Failures in words, and nothing done.
    for command, pattern in (("open 99", r"^error: cannot open entry 99: no such entry|^error: cannot open entry 99: not found"),
                             ("open %d" % (song or 1), r"^error: entry \d+ is an item, not a container"),
                             ("browse s99", r'^error: no server "s99"'),
                             ("use r99", r"^error: usage: use rN"),
                             ("vol 101", r"^error: usage: vol \[0-100\]"),
                             ("seek soon", r"^error: usage: seek")):
        t.send(command)
        check(t.wait(pattern, 10) is not None, "%r is refused in words" % command)

    # Playing on the first renderer, its volume read back by another
    # control point, then stopped.
    t.send("use " + r1)
    check(t.wait(r"^renderer: using %s " % r1) is not None, "use " + r1)
    # An item the renderer cannot take: refused before anything is sent,
    # with its format and the formats the renderer takes (its own list).
    base = re.match(r"(http://[^/]+)/", os.environ["LAB_SERVER_DESC"]).group(1)
    t.send("play %s/clip.swf Flash Clip" % base)
    check(t.wait(r'^error: play on %s .* refused: "Flash Clip" is application/x-shockwave-flash, a format the renderer '
                 r'does not take; it takes these application formats: .*application/ogg.* \(\d+ formats in all\)$' % r1, 20)
          is not None, "a format the renderer does not take is refused in words")
    t.send("play %d" % (song or 1))
    check(t.wait(r"^renderer: %s .*: play \"First Song\" asked" % r1) is not None, "play is asked")
    check(t.wait(r"^event: PLAYING on %s " % r1, 20) is not None, "PLAYING arrives as an event")
    before = soap_volume(os.environ["LAB_RENDERER1_DESC"], os.environ["LAB_RENDERER1_UDN"])
    t.send("vol 33")
    check(t.wait(r"^renderer: %s .*: volume set to 33" % r1) is not None, "vol 33")
    check(soap_volume(os.environ["LAB_RENDERER1_DESC"], os.environ["LAB_RENDERER1_UDN"]) == "33",
          "the volume read back by kestrel-soap")
    t.send("stop")
    check(t.wait(r"^event: STOPPED on %s " % r1, 20) is not None, "STOPPED after stop")
    if before.isdigit():
        t.send("vol " + before)

    # Handoff: the 30-second track moves from the renderer in use to the
    # second one at its position; the second one is used from then on.
    if check(tone is not None and r2 is not None, "the album has Long Tone and there is a second renderer"):
        t.send("handoff")
        check(t.wait(r"^error: usage: handoff rN", 10) is not None, "handoff without a renderer is refused in words")
        t.send("handoff " + r1)
        check(t.wait(r"^error: %s .* is the renderer in use" % r1, 10) is not None, "a handoff to itself is refused")
        t.send("play %d" % tone)
        check(t.wait(r"^event: PLAYING on %s " % r1, 20) is not None, "Long Tone PLAYING on " + r1)
        time.sleep(4)
        t.send("handoff " + r2)
        m = t.wait(r'^(handoff|error): (handed off from "%s" to "%s": .*|handoff failed.*)$'
                   % (re.escape(r1_name), re.escape(name2)), 60)
        check(m is not None and m.group(1) == "handoff" and re.search(r" at 0:00:0[3-9]$", m.group(2)),
              "handed off at the position: %r" % (m.group(2) if m else None))
        check(t.wait(r"^renderer: using %s " % r2, 10) is not None, "the second renderer is used after the handoff")
        check(soap_state(2) == "PLAYING", "GetTransportInfo on the second renderer says PLAYING")
        check(soap_state(1) == "STOPPED", "the first renderer stopped once the second one played")

    # One search across every server: each server's outcome, the merged rows
    # numbered; "play N" plays a row on the renderer in use.
    t.send("search-all Tone")
    rows, end_line, deadline = {}, None, time.time() + 30
    while time.time() < deadline and end_line is None:
        try:
            line = t.lines.get(timeout=max(0.05, deadline - time.time()))
        except queue.Empty:
            break
        m = re.match(r"entry: (\d+)       (.*)  \((.*)\)$", line)
        if m:
            rows[(m.group(2), m.group(3))] = int(m.group(1))
        elif re.match(r"^search: (\d+ rows? from|nothing found)", line):
            end_line = line
    outcomes = [line for line in t.all if line.startswith("search: " + server_name + " ")]
    check(any(o.startswith("search: %s answered (" % server_name) for o in outcomes),
          "the lab server's outcome said: %s" % outcomes)
    row = rows.get(("Long Tone", server_name))
    check(row is not None and end_line is not None and "play N" in end_line,
          "Long Tone among the merged rows with its server: %s (%r)" % (rows, end_line))
    if row is not None:
        t.send("stop")
        check(t.wait(r"^event: STOPPED on ", 20) is not None, "stopped before the merged row plays")
        t.send("play %d" % row)
        check(t.wait(r"^renderer: r\d+ .*: play \"Long Tone\" asked", 20) is not None, "a merged row is played")
        check(t.wait(r"^event: PLAYING on ", 20) is not None, "the merged row PLAYING")

    # Paging the 2,000-item container.
    t.listing("up")
    t.listing("up")
    entries, end = t.listing("up")
    entries, end = t.listing("open %d" % entries.get("bulk", 1))
    total = int(os.environ["LAB_BULK_COUNT"])
    check(end == 'browse: entries 1-20 of %d (page 1 of %d; "next" for more)' % (total, (total + 19) // 20),
          "first page of the bulk container: %r" % end)
    check(len(entries) == 20, "20 entries a page: %d" % len(entries))
    _, end = t.listing("next")
    check(end is not None and end.startswith("browse: entries 21-40 of %d" % total), "next page: %r" % end)
    entries, end = t.listing("page %d" % total)
    check(end is not None and end.startswith("browse: entries %d-%d of %d" % (total - 19, total, total)),
          "last page: %r" % end)
    check(len(entries) == 20 and max(entries.values()) == total, "the last page's numbers: %s" % entries.values())

    # The forward into the lab.
    forward = subprocess.Popen(["unshare", "-n", "sh", "-c", FORWARD_CLIENT, FORWARD, str(t.p.pid), url_file],
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
    forward_lines = []
    for raw in forward.stdout:
        forward_lines.append(raw.decode("utf-8", "replace").rstrip("\n"))
        if forward_lines[-1].startswith("status="):
            break
    check("status=200" in forward_lines, "a request through the forward reaches the web API: %s" % forward_lines[-4:])

    # A renderer that leaves in mid-play (the merged row plays on it) is
    # said to be gone; it comes back under its number.
    if r2 is not None:
        # The control point takes no byebye during its first 10 s of searching.
        time.sleep(max(0.0, host_started + 12.0 - time.monotonic()))
        subprocess.run([LAB_SH, "stop", "renderer2"], capture_output=True, timeout=60)
        check(t.wait(r"^renderer: gone %s %s$" % (r2, re.escape(name2)), 30) is not None,
              "renderer2 is gone after lab.sh stop")
        check(t.wait(r"^error: the renderer is gone: %s %s left the network in mid-play" % (r2, re.escape(name2)), 5)
              is not None, "the renderer stopped in mid-play is said to be gone")
        subprocess.run([LAB_SH, "start", "renderer2"], capture_output=True, timeout=60)
        check(t.wait(r"^renderer: back %s %s$" % (r2, re.escape(name2)), 30) is not None,
              "renderer2 is back under its number after lab.sh start")

    # Publishing the playlists shows what goes and the time so far; Ctrl-C
    # stops the waiting, not the host.
    t.send("playlist publish")
    check(t.wait(r"^playlist: publishing \d+ playlist\(s\), \d+ entr(y|ies) to the local playlist server", 10) is not None,
          "publishing says what goes")
    m = t.wait(r"^(progress: publishing .*waiting for the playlist server, \d+\.\d s|playlist: published .*)$", 10)
    check(m is not None, "publishing shows its progress")
    if m is not None and m.group(1).startswith("progress"):
        t.p.send_signal(signal.SIGINT)
        check(t.wait(r"^playlist: stopped waiting after ", 10) is not None, "Ctrl-C stops the publish's waiting")

    # Ctrl-C ends it cleanly.
    t.p.send_signal(signal.SIGINT)
    check(t.wait(r"^info: stopping$", 10) is not None, "Ctrl-C is taken")
    check(t.wait(r"^balance blocks=0 ", 40) is not None, "the component's balance is zero at the end")
    try:
        check(t.p.wait(timeout=40) == 0, "exit status 0 after Ctrl-C")
    except subprocess.TimeoutExpired:
        check(False, "the host ends after Ctrl-C")

    try:
        rest, _ = forward.communicate(timeout=10)
        forward_lines += rest.decode("utf-8", "replace").splitlines()
        check("forward-exit=0" in forward_lines, "the forward ends with the host's namespace: %s" % forward_lines[-4:])
    except subprocess.TimeoutExpired:
        check(False, "the forward ends with the host's namespace")

    for pattern in (r"^info: no servers found yet \(", r"^info: no renderers found yet \("):
        check(lonely.wait(pattern, 20) is not None, "a host with nothing to find says %s" % pattern)
finally:
    if forward is not None and forward.poll() is None:
        os.killpg(forward.pid, signal.SIGKILL)  # the shell and the forward it started
        forward.wait()
    for h in (t, lonely):
        if h.p.poll() is None:
            h.p.send_signal(signal.SIGTERM)
            try:
                h.p.wait(timeout=40)
            except subprocess.TimeoutExpired:
                h.p.kill()
    shutil.rmtree(appdata, ignore_errors=True)
    shutil.rmtree(lonely_appdata, ignore_errors=True)

if failures:
    print("host terminal output (last 60 lines):\n  " + "\n  ".join(t.all[-60:]))
    sys.exit(1)
print("OK")
