#!/usr/bin/env python3
"""kestrel-host --terminal uploading into rygel's server in a lab of its own
(LAB_RYGEL=1): a 2 MiB file goes with progress lines (bytes, rate, time left)
about once a second and lands in rygel's upload folder byte for byte; a
second upload cancelled with Ctrl-C says so and the host goes on; a file of
no known format and a missing file are refused in words; Ctrl-C then ends
the host with the component's balance at zero.

Usage: host_terminal_upload_lab_test.py HOST LIBKESTREL64
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

HOST, LIBRARY = sys.argv[1:3]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return cond


if os.environ.get("LAB_RYGEL") != "1":
    print("host_terminal_upload_lab: needs LAB_RYGEL=1")
    sys.exit(1)

work = tempfile.mkdtemp(prefix="host_upload_lab")
lines, seen = queue.Queue(), []
p = subprocess.Popen([HOST, "--terminal", LIBRARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                     stderr=subprocess.STDOUT, env=dict(os.environ, KESTREL_APP_SUPPORT_DIR=work))


def read():
    for raw in p.stdout:
        line = raw.decode("utf-8", "replace").rstrip("\n")
        seen.append(line)
        lines.put(line)
    lines.put(None)


threading.Thread(target=read, daemon=True).start()


def send(text):
    p.stdin.write((text + "\n").encode())
    p.stdin.flush()


def wait(pattern, timeout=20, collect=None):
    end = time.time() + timeout
    while time.time() < end:
        try:
            line = lines.get(timeout=max(0.05, end - time.time()))
        except queue.Empty:
            return None
        if line is None:
            return None
        if collect is not None:
            collect.append(line)
        m = re.search(pattern, line)
        if m:
            return m
    return None


try:
    name = os.environ["LAB_RYGEL_SERVER_NAME"]
    m = wait(r"^server: added (s\d+) " + re.escape(name) + "$", 30)
    check(m is not None, "rygel's server is listed")
    server = m.group(1) if m else "s1"
    body = os.urandom(2 * 1024 * 1024)
    path = os.path.join(work, "slow-upload.mp3")
    with open(path, "wb") as f:
        f.write(body)

    for command, pattern in (("upload %s/nothing.mp3 %s" % (work, server), r'^error: upload: ".*" is no file'),
                             ("upload %s %s" % (work, server), r"^error: upload: .* is no file"),
                             ("upload %s s99" % path, r'^error: no server "s99"'),
                             ("upload", r"^error: usage: upload FILE \[sN\]")):
        send(command)
        check(wait(pattern, 10) is not None, "%r is refused in words" % command)
    odd = os.path.join(work, "notes.xyz")
    with open(odd, "wb") as f:
        f.write(b"x")
    send("upload %s %s" % (odd, server))
    check(wait(r"^error: upload: the format of .* is not known", 10) is not None, "an unknown format is refused")

    # The slow upload: progress with rate and time left, then done.
    send("upload %s %s" % (path, server))
    said = []
    done = wait(r"^(upload: done|error: upload)", 90, said)
    check(done is not None and done.group(1) == "upload: done", "the upload is done: %s" % said[-3:])
    progress = [x for x in said if re.match(r"^progress: upload \d+ of %d bytes, \d+/s, about \d+ s left$" % len(body), x)]
    check(len(progress) >= 1, "progress lines with rate and time left: %s" % said)
    check(any(re.match(r"^progress: upload: all %d bytes sent in [\d.]+ s; waiting for the server's answer$" % len(body), x)
              for x in said), "the wait for the server's answer said once the body is sent")
    stored = [os.path.join(d, f) for d, _, fs in os.walk(os.environ["LAB_RYGEL_UPLOAD"]) for f in fs]
    check(any(open(s, "rb").read() == body for s in stored), "the file in rygel's upload folder byte for byte")

    # Ctrl-C during an upload cancels it; the host goes on.
    send("upload %s %s" % (path, server))
    check(wait(r"^progress: upload ", 20) is not None, "the second upload shows progress")
    p.send_signal(signal.SIGINT)
    check(wait(r"^upload: cancelling", 10) is not None, "Ctrl-C is taken as a cancel")
    check(wait(r'^upload: upload of "slow-upload" to %s .* cancelled after \d+ of %d bytes$' % (server, len(body)), 30)
          is not None, "the upload says it was cancelled")
    send("list")
    check(wait(r"^server: %s " % server, 10) is not None, "the host goes on after the cancel")

    p.send_signal(signal.SIGINT)
    check(wait(r"^info: stopping$", 10) is not None, "Ctrl-C then ends the host")
    check(wait(r"^balance blocks=0 ", 40) is not None, "the component's balance is zero at the end")
    check(p.wait(timeout=40) == 0, "exit status 0")
finally:
    if p.poll() is None:
        p.send_signal(signal.SIGTERM)
        try:
            p.wait(timeout=40)
        except subprocess.TimeoutExpired:
            p.kill()
    shutil.rmtree(work, ignore_errors=True)

if failures:
    print("host output (last 40 lines):\n  " + "\n  ".join(seen[-40:]))
    sys.exit(1)
print("OK")
