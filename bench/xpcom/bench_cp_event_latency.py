#!/usr/bin/env python3
"""Benchmark in the lab: latency from a SOAP client's Pause or Play reply to
the observer's OnEvent on kestrel-host's main thread (the record's arrival on
the host's output), beside a minimal GENA subscriber of this script on the
same renderer (the reference), in the same run. Prints median and 95th
percentile of both and the ratio of the medians (target: at most 1.5).

Usage: bench_cp_event_latency.py HOST LIBKESTREL64 KESTREL_SOAP [ROUNDS]
"""
import http.server
import os
import queue
import re
import shutil
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time
import urllib.parse
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "xpcom"))
from host_client import TimedHost  # noqa: E402

HOST, LIBRARY, SOAP = sys.argv[1:4]
ROUNDS = int(sys.argv[4]) if len(sys.argv) > 4 else 20
DESC = os.environ["LAB_RENDERER1_DESC"]
UDN = os.environ["LAB_RENDERER1_UDN"]
AVT = "urn:schemas-upnp-org:service:AVTransport:1"


def service_urls():
    text = urllib.request.urlopen(DESC, timeout=10).read().decode()
    for block in re.findall(r"<service>(.*?)</service>", text, re.S):
        if AVT in block:
            ctl = re.search(r"<controlURL>(.*?)</controlURL>", block).group(1)
            ev = re.search(r"<eventSubURL>(.*?)</eventSubURL>", block).group(1)
            return urllib.parse.urljoin(DESC, ctl), urllib.parse.urljoin(DESC, ev)
    raise SystemExit("no AVTransport")


def soap(control, action, args=""):
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:%s xmlns:u="%s">'
            '<InstanceID>0</InstanceID>%s</u:%s></s:Body></s:Envelope>' % (action, AVT, args, action))
    req = urllib.request.Request(control, body.encode(), {"Content-Type": 'text/xml; charset="utf-8"',
                                                          "SOAPACTION": '"%s#%s"' % (AVT, action)})
    urllib.request.urlopen(req, timeout=10).read()
    return time.monotonic()


class Gena:
    """A minimal GENA subscriber: SUBSCRIBE once, each NOTIFY's state and time."""

    def __init__(self, event_url):
        self.q = queue.Queue()
        outer = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_NOTIFY(self):
                body = self.rfile.read(int(self.headers.get("Content-Length", 0))).decode("utf-8", "replace")
                t = time.monotonic()
                self.send_response(200)
                self.end_headers()
                m = re.search(r"TransportState[^A-Z_]*val=(?:&quot;|\")([A-Z_]+)", body)
                if m:
                    outer.q.put((m.group(1), t))

            def log_message(self, *a):
                pass

        addr = os.environ["LAB_ADDR"]
        self.server = http.server.ThreadingHTTPServer((addr, 0), Handler)
        threading.Thread(target=self.server.serve_forever, daemon=True).start()
        u = urllib.parse.urlparse(event_url)
        s = socket.create_connection((u.hostname, u.port or 80), timeout=10)
        s.sendall(("SUBSCRIBE %s HTTP/1.1\r\nHOST: %s\r\nCALLBACK: <http://%s:%d/>\r\nNT: upnp:event\r\n"
                   "TIMEOUT: Second-600\r\nContent-Length: 0\r\n\r\n" %
                   (u.path or "/", u.netloc, addr, self.server.server_address[1])).encode())
        s.recv(4096)
        s.close()

    def wait(self, state, timeout=10):
        end = time.monotonic() + timeout
        while time.monotonic() < end:
            try:
                got, t = self.q.get(timeout=end - time.monotonic())
            except queue.Empty:
                return None
            if got == state:
                return t
        return None


def main_event(host, text, timeout=10):
    """Arrival time of the event text delivered on the host's main thread; None after timeout."""
    end = time.monotonic() + timeout
    while time.monotonic() < end:
        r, t = host.next(end)
        if r is not None and r.get("kind") == "event" and r.get("thread") == "main" and r.get("text") == text:
            return t
    return None


def drain(q):
    while not q.empty():
        q.get_nowait()


def p95(values):
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(round(0.95 * (len(ordered) - 1))))]


control, event_url = service_urls()
appdata = tempfile.mkdtemp(prefix="bench_cp")
host = TimedHost(HOST, LIBRARY, appdata)
host.send("observer add cp")
host.send("observer add renderer")
if main_event(host, "RendererAdded:" + UDN, 30) is None:
    print("renderer not announced")
    sys.exit(1)
gena = Gena(event_url)
track = os.environ["LAB_HTTP_URL"].rstrip("/") + "/media/music/" + urllib.parse.quote(
    "Alpha Artist/First Album/03 - Long Tone.mp3")
subprocess.run([SOAP, "--renderer", DESC, UDN, "play", track, "Long Tone"], capture_output=True, timeout=60)
time.sleep(1.0)
ours, ref = [], []
for i in range(ROUNDS):
    for action, word in (("Pause", "PAUSED_PLAYBACK"), ("Play", "PLAYING")):
        host.drain()
        drain(gena.q)
        replied = soap(control, action, "<Speed>1</Speed>" if action == "Play" else "")
        t_ref = gena.wait(word)
        t_ours = main_event(host, ("PAUSED:" if action == "Pause" else "PLAYING:") + UDN)
        if t_ref is not None and t_ours is not None:
            ref.append((t_ref - replied) * 1000.0)
            ours.append((t_ours - replied) * 1000.0)
        time.sleep(0.2)
subprocess.run([SOAP, "--renderer", DESC, UDN, "stop"], capture_output=True, timeout=60)
host.close()
shutil.rmtree(appdata, True)
if len(ours) < ROUNDS:
    print("only %d of %d rounds saw both events" % (len(ours), 2 * ROUNDS))
if not ours:
    sys.exit(1)
m_ours, m_ref = statistics.median(ours), statistics.median(ref)
print("observer OnEvent (kestrel-host main thread): median %.1f ms, p95 %.1f ms (%d)" % (m_ours, p95(ours), len(ours)))
print("GENA subscriber (reference):                 median %.1f ms, p95 %.1f ms (%d)" % (m_ref, p95(ref), len(ref)))
print("ratio of medians %.2f (target at most 1.5)" % (m_ours / m_ref if m_ref > 0 else float("inf")))
