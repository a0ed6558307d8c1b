#!/usr/bin/env python3
"""kestrel-host --web with libkestrel64 in the shared lab: a renderer's queue
driven over HTTP with curl against gmediarender. Three tracks go in with
add_metadata (each after the first entry), set_playindex plays the second (the renderer's own
AVTransport, read by kestrel-soap, names its URL), the queue advances to the
third by itself, move_to and delete_item reorder around the playing entry
as get_playindex shows, refusals (a missing or non-numeric index, an index
past the end) answer an error and change nothing, and stop and clear leave
the queue empty and the renderer stopped.

Usage: host_web_queue_lab_test.py HOST LIBKESTREL64 KESTREL_SOAP
"""
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_client import Host, check, failures  # noqa: E402

HOST, LIBRARY, SOAP = sys.argv[1:4]


def curl(url):
    p = subprocess.run(["curl", "-s", "-m", "20", "-w", "\n%{http_code}", url], capture_output=True, timeout=40)
    body, _, status = p.stdout.decode("utf-8", "replace").rpartition("\n")
    return int(status or 0), body


def renderer_uri():
    p = subprocess.run([SOAP, "--renderer", os.environ["LAB_RENDERER1_DESC"], os.environ["LAB_RENDERER1_UDN"],
                        "media"], capture_output=True, timeout=30)
    lines = p.stdout.decode().splitlines()
    return lines[0] if lines else ""


def eventually(pred, timeout):
    end = time.time() + timeout
    while time.time() < end:
        if pred():
            return True
        time.sleep(0.1)
    return pred()


appdata = tempfile.mkdtemp(prefix="host_web_queue_lab")
host = Host(HOST, LIBRARY, appdata, ["--web"])
try:
    web = host.wait(lambda r: r.get("kind") == "web", 30)
    check(web is not None, "web API base URL")
    api = (web or {}).get("url", "").rstrip("/") + "/"
    udn = os.environ["LAB_RENDERER1_UDN"]
    r = "renderer=" + urllib.parse.quote(udn, safe="")
    # The API's renderer context finds the renderer once the control point lists it.
    check(eventually(lambda: curl(api + "get_playindex?" + r)[0] == 200, 30), "renderer1 known to the API")

    def cmd(command, args=""):
        return curl(api + command + "?" + r + args)

    def playindex():
        return cmd("get_playindex")[1]

    media = os.environ["LAB_HTTP_URL"].rstrip("/") + "/media/"
    # Two 2 s tracks, then a 30 s one that plays on while the queue is reordered.
    tracks = [media + "bulk/bulk-0001.mp3", media + "bulk/bulk-0002.mp3",
              media + urllib.parse.quote("music/Alpha Artist/First Album/03 - Long Tone.mp3")]
    check(cmd("clear") == (200, "ok"), "clear")
    check(playindex() == "4294967295|0", "empty queue: %s" % playindex())
    # Each command works on a fresh renderer context, whose queue cursor is
    # 0: add_metadata (which has no index) inserts after the first entry. The
    # long track goes in second, so the queue reads short, short, long.
    for url in (tracks[0], tracks[2], tracks[1]):
        check(cmd("add_metadata", "&url=" + urllib.parse.quote(url, safe="")) == (200, "ok"), "add_metadata %s" % url)
    check(playindex() == "4294967295|3", "three queued, none playing: %s" % playindex())

    # Refusals change nothing.
    for args in ("", "&index=", "&index=two", "&index=7"):
        status, body = cmd("set_playindex", args)
        check(status != 200 and body != "ok", "set_playindex%s refused: %s %r" % (args, status, body))
    check(playindex() == "4294967295|3", "queue unchanged by the refusals: %s" % playindex())

    check(cmd("set_playindex", "&index=1") == (200, "ok"), "set_playindex 1")
    check(playindex() == "1|1", "play index after set_playindex 1: %s" % playindex())
    uri = renderer_uri()
    check(uri in tracks[1:], "the renderer plays the second track (or the third after it): %r" % uri)
    # The second lasts 2 s: the queue goes on to the third by itself.
    check(eventually(lambda: playindex() == "2|0", 15), "play index after the advance: %s" % playindex())
    check(eventually(lambda: renderer_uri() == tracks[2], 10), "the renderer plays the third: %r" % renderer_uri())
    state = cmd("get_state")[1]
    check(state.split("|")[0] in ("1", "2"), "get_state playing: %r" % state)
    # The playing entry moves with the reordering.
    check(cmd("move_to", "&index=2&toindex=0") == (200, "ok"), "move_to 2 0")
    check(playindex() == "0|2", "playing entry moved to the front: %s" % playindex())
    check(cmd("delete_item", "&index=2") == (200, "ok"), "delete_item 2")
    check(playindex() == "0|1", "after delete_item 2: %s" % playindex())
    status, body = cmd("delete_item", "&index=5")
    check(status != 200, "delete_item past the end refused: %s %r" % (status, body))
    check(cmd("stop") == (200, "ok") and cmd("clear") == (200, "ok"), "stop and clear")
    check(playindex() == "4294967295|0", "queue empty at the end: %s" % playindex())
    check(eventually(lambda: cmd("get_state")[1].split("|")[0] in ("0", "6"), 10), "renderer stopped")
finally:
    rc = host.close()
    check(rc == 0, "host exit status %s" % rc)
    subprocess.run(["rm", "-rf", appdata])
print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
