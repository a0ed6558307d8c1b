#!/usr/bin/env python3
"""Benchmark in the lab, through the component as a host sees it.

Discovery: from kestrel-host creating the component to "RendererAdded" for
every lab renderer and the lab's server counted by GetNumServers, beside
gssdp-discover (one process per device type, started together) finding the
same devices in the same namespace; median of ROUNDS fresh starts each.
Both wait on the same peers: the search's MX of 3 lets each peer answer up
to 3 s late, at random.

Play: from the PlayItem call to "PLAYING" at the host's observer, beside
curl sending SetAVTransportURI and Play and then polling GetTransportInfo
until it says PLAYING; the same track on the same renderer, medians.

Usage: bench_cp_discovery_play.py HOST LIBKESTREL64 [ROUNDS]
"""
import os
import queue
import re
import shutil
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

HOST, LIBRARY = sys.argv[1:3]
ROUNDS = int(sys.argv[3]) if len(sys.argv) > 3 else 3
RENDERERS = [os.environ["LAB_RENDERER%d_UDN" % i] for i in range(1, int(os.environ["LAB_RENDERERS"]) + 1)]
SERVER = os.environ["LAB_SERVER_UDN"]
AVT = "urn:schemas-upnp-org:service:AVTransport:1"
LIMIT = 20.0


def discover_ours(appdata):
    """Seconds (host clock) until every renderer was added and the server counted."""
    host = TimedHost(HOST, LIBRARY, appdata)
    wanted = set(RENDERERS)
    added_at, server_at = 0.0, None
    until = time.monotonic() + LIMIT
    next_ask = 0.0
    while time.monotonic() < until and (wanted or server_at is None):
        if server_at is None and time.monotonic() >= next_ask:
            host.send("call GetNumServers")
            next_ask = time.monotonic() + 0.05
        record, _ = host.next(min(until, next_ask if server_at is None else until))
        if record is None:
            continue
        if record.get("kind") == "event" and record.get("text", "").startswith("RendererAdded:"):
            udn = record["text"].split(":", 1)[1]
            if udn in wanted:
                wanted.discard(udn)
                added_at = max(added_at, record["time"])
        elif record.get("method") == "GetNumServers" and record.get("out", {}).get("count", 0) >= 1:
            server_at = record["time"]
    host.close()
    if wanted or server_at is None:
        return None
    return max(added_at, server_at)


def discover_gssdp():
    """Seconds until gssdp-discover printed every wanted UDN."""
    wanted = set(RENDERERS) | {SERVER}
    lines = queue.Queue()
    start = time.monotonic()
    tools = []
    for kind in ("MediaServer", "MediaRenderer"):
        p = subprocess.Popen(["stdbuf", "-oL", "gssdp-discover", "-i", os.environ["LAB_IFACE"], "-t",
                              "urn:schemas-upnp-org:device:%s:1" % kind, "-n", str(int(LIMIT))],
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        tools.append(p)
        threading.Thread(target=lambda p=p: [lines.put((l, time.monotonic())) for l in p.stdout], daemon=True).start()
    took = None
    until = start + LIMIT
    while wanted and time.monotonic() < until:
        try:
            line, t = lines.get(timeout=0.1)
        except queue.Empty:
            continue
        for udn in list(wanted):
            if udn in line:
                wanted.discard(udn)
                if not wanted:
                    took = t - start
    for p in tools:
        p.kill()
        p.wait()
    return took


def control_url(desc):
    text = urllib.request.urlopen(desc, timeout=10).read().decode()
    for block in re.findall(r"<service>(.*?)</service>", text, re.S):
        if AVT in block:
            return urllib.parse.urljoin(desc, re.search(r"<controlURL>(.*?)</controlURL>", block).group(1))
    raise SystemExit("no AVTransport")


def curl_soap(control, action, args=""):
    body = ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:%s xmlns:u="%s">'
            '<InstanceID>0</InstanceID>%s</u:%s></s:Body></s:Envelope>' % (action, AVT, args, action))
    return subprocess.run(["curl", "-s", "--max-time", "10", "-H", 'Content-Type: text/xml; charset="utf-8"',
                           "-H", 'SOAPACTION: "%s#%s"' % (AVT, action), "--data-binary", body, control],
                          capture_output=True, text=True).stdout


def play_reference(control, track):
    curl_soap(control, "Stop")
    time.sleep(0.5)
    start = time.monotonic()
    curl_soap(control, "SetAVTransportURI", "<CurrentURI>%s</CurrentURI><CurrentURIMetaData></CurrentURIMetaData>"
              % track.replace("&", "&amp;"))
    curl_soap(control, "Play", "<Speed>1</Speed>")
    while time.monotonic() - start < 10:
        if "<CurrentTransportState>PLAYING<" in curl_soap(control, "GetTransportInfo"):
            return (time.monotonic() - start) * 1000.0
    return None


def play_ours(host, udn, track):
    host.send('stop %s' % udn)
    time.sleep(0.5)
    host.drain()
    start = time.monotonic()
    host.send('play %s "%s" "Long Tone"' % (udn, track))
    until = start + 10
    while time.monotonic() < until:
        record, t = host.next(until)
        if record and record.get("kind") == "event" and record.get("text") == "PLAYING:" + udn:
            return (t - start) * 1000.0
    return None


def main():
    appdata = tempfile.mkdtemp(prefix="bench_cp_disc")
    ours, ref = [], []
    for _ in range(ROUNDS):
        a = discover_ours(appdata)
        b = discover_gssdp()
        if a is not None and b is not None:
            ours.append(a * 1000.0)
            ref.append(b * 1000.0)
    if not ours:
        print("discovery: no round saw every device")
        return 1
    mo, mr = statistics.median(ours), statistics.median(ref)
    print("discovery until %d renderers and the server are known: libkestrel64 %.0f ms, gssdp-discover %.0f ms "
          "(medians of %d)" % (len(RENDERERS), mo, mr, len(ours)))
    print("ratio discovery ours/gssdp-discover %.2f" % (mo / mr if mr > 0 else float("inf")))

    udn = RENDERERS[0]
    control = control_url(os.environ["LAB_RENDERER1_DESC"])
    track = os.environ["LAB_HTTP_URL"].rstrip("/") + "/media/music/" + urllib.parse.quote(
        "Alpha Artist/First Album/03 - Long Tone.mp3")
    host = TimedHost(HOST, LIBRARY, appdata)
    until = time.monotonic() + LIMIT
    while time.monotonic() < until:
        record, _ = host.next(until)
        if record and record.get("text") == "RendererAdded:" + udn:
            break
    p_ours, p_ref = [], []
    for _ in range(ROUNDS * 2):
        a = play_ours(host, udn, track)
        b = play_reference(control, track)
        if a is not None and b is not None:
            p_ours.append(a)
            p_ref.append(b)
    host.send("stop %s" % udn)
    host.close()
    shutil.rmtree(appdata, True)
    if not p_ours:
        print("play: no round reached PLAYING on both sides")
        return 1
    mo, mr = statistics.median(p_ours), statistics.median(p_ref)
    print("PlayItem to PLAYING at the observer %.0f ms, curl SetAVTransportURI + Play + GetTransportInfo polling "
          "%.0f ms (medians of %d)" % (mo, mr, len(p_ours)))
    print("ratio play ours/curl %.2f" % (mo / mr if mr > 0 else float("inf")))
    return 0


if __name__ == "__main__":
    sys.exit(main())
