#!/usr/bin/env python3
"""Benchmark in a lab of its own with many renderers and crafted servers
(LAB_CRAFTED_SERVERS, tests/lab/crafted_peer.py): kestrel-host with
libkestrel64 until every lab renderer, the lab's server and the crafted
servers are listed, then the host's threads and memory (resident now and
peak), beside the same host before the component saw any device.

Usage: bench_cp_host_scale.py HOST LIBKESTREL64
"""
import json
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

HOST, LIBRARY = sys.argv[1:3]
COUNT = int(os.environ["LAB_RENDERERS"])
SERVERS = 1 + int(os.environ.get("LAB_CRAFTED_SERVERS", "0"))


def status(pid):
    fields = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            fields[key] = value.strip()
    return int(fields["Threads"]), fields.get("VmRSS", "?"), fields.get("VmHWM", "?")


appdata = tempfile.mkdtemp(prefix="bench_cp_scale")
p = subprocess.Popen([HOST, "-i", "--json", LIBRARY], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                     env=dict(os.environ, KESTREL_APP_SUPPORT_DIR=appdata))
events = queue.Queue()


def read():
    for line in p.stdout:
        try:
            r = json.loads(line)
        except ValueError:
            continue
        if r.get("kind") == "event":
            events.put(r["text"])
        elif r.get("kind") == "call" and r.get("method") == "GetNumServers":
            events.put("servers=%s" % r.get("out", {}).get("count"))


threading.Thread(target=read, daemon=True).start()
start = time.monotonic()
p.stdin.write(b"observer add cp\n")
p.stdin.flush()
time.sleep(0.2)
threads0, rss0, _ = status(p.pid)
added = set()
end = time.monotonic() + 120
while len(added) < COUNT and time.monotonic() < end:
    try:
        text = events.get(timeout=1)
    except queue.Empty:
        continue
    if text.startswith("RendererAdded:"):
        added.add(text)
servers = "?"
while time.monotonic() < end:
    p.stdin.write(b"call GetNumServers\n")
    p.stdin.flush()
    try:
        while True:
            text = events.get(timeout=10)
            if text.startswith("servers="):
                servers = text[8:]
                break
    except queue.Empty:
        break
    if servers == str(SERVERS):
        break
    time.sleep(0.2)
listed = time.monotonic() - start
threads, rss, hwm = status(p.pid)
p.stdin.write(b"quit\n")
p.stdin.flush()
p.stdin.close()
p.wait(timeout=60)
shutil.rmtree(appdata, True)
print("kestrel-host before devices: %d threads, RSS %s" % (threads0, rss0))
print("kestrel-host with %d of %d renderers and %s of %d server(s) listed after %.1f s: %d threads, RSS %s, peak %s" %
      (len(added), COUNT, servers, SERVERS, listed, threads, rss, hwm))
sys.exit(0 if len(added) == COUNT and servers == str(SERVERS) else 1)
