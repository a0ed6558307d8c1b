#!/usr/bin/env python3
"""kestrel-host --web with libkestrel64 in a lab of its own with rygel
(LAB_RYGEL=1): rygel's media server and renderer become objects
("RendererAdded:" with rygel's UDN, the server listed with rygel's name, info
strings with the names), a state word as a second control point plays and
stops rygel's renderer, and files uploaded through the web API with curl
(a WAV and a JPEG, titles with "&" and non-ASCII text) arrive in rygel's
upload folder byte for byte, with the upload idle ("0/0") afterwards; a
second start while a slow upload runs is refused, a cancel, a client that
vanishes mid-body and an oversized body each leave the upload idle, and no
staged copy is left under the application-data folder.

Usage: host_rygel_lab_test.py HOST LIBKESTREL64 KESTREL_SOAP
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_client import Host, check, failures  # noqa: E402

HOST, LIBRARY, SOAP = sys.argv[1:4]
if os.environ.get("LAB_RYGEL") != "1":
    print("not in a lab with rygel (LAB_RYGEL=1)")
    sys.exit(1)

server_udn = os.environ["LAB_RYGEL_SERVER_UDN"]
renderer_udn = os.environ["LAB_RYGEL_RENDERER_UDN"]
folder = os.environ["LAB_RYGEL_UPLOAD"]
appdata = tempfile.mkdtemp(prefix="host_rygel_lab")
host = Host(HOST, LIBRARY, appdata, ["--web"])
try:
    web = host.wait(lambda r: r.get("kind") == "web", 30)
    check(web is not None and web.get("url", "").startswith("http://"), "web API base URL: %s" % web)
    api = (web or {}).get("url", "").rstrip("/") + "/"
    host.send("observer add cp")
    host.send("observer add renderer")

    # rygel's devices as objects.
    r = host.event("RendererAdded", renderer_udn, 40)
    check(r is not None, "RendererAdded for rygel's renderer %s" % renderer_udn)
    info = host.call("call GetRendererInfoFromBookmark %s" % json.dumps(renderer_udn), "GetRendererInfoFromBookmark")
    text = ((info or {}).get("out", {}).get("info") or "")
    check(text.split("^")[:2] == [os.environ["LAB_RYGEL_RENDERER_NAME"], renderer_udn], "renderer info: %r" % text)
    server_bm = server_udn + ",0"
    info, end = "", time.time() + 30
    while time.time() < end:
        r = host.call("call GetServerInfoFromBookmark %s" % json.dumps(server_bm), "GetServerInfoFromBookmark")
        info = ((r or {}).get("out", {}).get("info") or "")
        if info:
            break
        time.sleep(0.5)
    check(info.split("^")[:2] == [os.environ["LAB_RYGEL_SERVER_NAME"], server_bm], "server info: %r" % info)

    # A state word from rygel's renderer as another control point plays it.
    track = os.environ["LAB_HTTP_URL"].rstrip("/") + "/media/music/tone-3s.wav"
    for args, word in ((["play", track, "tone"], "PLAYING"), (["stop"], "STOPPED")):
        p = subprocess.run([SOAP, "--renderer", os.environ["LAB_RYGEL_RENDERER_DESC"], renderer_udn, *args],
                           capture_output=True, timeout=60)
        check(p.returncode == 0, "kestrel-soap %s on rygel: %s" % (args[0], p.stderr[-300:]))
        check(host.event(word, renderer_udn, 20) is not None, "%s from rygel's renderer" % word)

    # Uploads through the web API, fetched back from rygel's folder.
    media = os.environ["LAB_MEDIA"]
    before = set(os.listdir(folder))
    cases = [(os.path.join(media, "music", "tone-3s.wav"), "Tone & Ünïcode.wav"),
             (os.path.join(media, "pictures", "photo4.jpg"), "C:\\pics\\Photo <4>.jpg")]
    for path, name in cases:
        want = open(path, "rb").read()
        query = urllib.parse.urlencode({"operation": "start", "server": server_bm, "file": name})
        p = subprocess.run(["curl", "-s", "-m", "60", "-w", "\n%{http_code}", "--data-binary", "@" + path,
                            api + "upload?" + query], capture_output=True, timeout=90)
        body, _, status = p.stdout.decode("utf-8", "replace").rpartition("\n")
        check(status == "200" and body.startswith(server_udn), "upload %s: %s %r" % (name, status, body[:200]))
        found, end = None, time.time() + 30
        while found is None and time.time() < end:
            for f in set(os.listdir(folder)) - before:
                full = os.path.join(folder, f)
                if os.path.getsize(full) == len(want) and open(full, "rb").read() == want:
                    found = f
            time.sleep(0.2)
        check(found is not None, "%s arrived in rygel's folder byte for byte (new: %s)" %
              (name, sorted(set(os.listdir(folder)) - before)))
        if found:
            before.add(found)
        # The transfer's final call ends "in progress" shortly after the reply.
        status, end = b"", time.time() + 15
        while status != b"0/0" and time.time() < end:
            status = subprocess.run(["curl", "-s", "-m", "10", api + "upload?operation=getstatus"],
                                    capture_output=True).stdout
            time.sleep(0.1)
        check(status == b"0/0", "upload idle after %s: %r" % (name, status))

    def idle(what, timeout=20):
        status, end = b"", time.time() + timeout
        while status != b"0/0" and time.time() < end:
            status = subprocess.run(["curl", "-s", "-m", "10", api + "upload?operation=getstatus"],
                                    capture_output=True).stdout
            time.sleep(0.1)
        check(status == b"0/0", "upload idle after %s: %r" % (what, status))

    def staged():
        return [os.path.join(d, f) for d, _, fs in os.walk(appdata) for f in fs if "webapi-uploads" in d]

    def start(path, name, *curl_options):
        query = urllib.parse.urlencode({"operation": "start", "server": server_bm, "file": name})
        return subprocess.Popen(["curl", "-s", "-w", "\n%{http_code}", *curl_options, "--data-binary", "@" + path,
                                 api + "upload?" + query], stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    # A slow upload (3 MiB at 256 KiB/s): a second start is refused while it
    # runs, then a cancel ends it.
    big = os.path.join(appdata, "slow.bin")
    with open(big, "wb") as f:
        f.write(os.urandom(3 << 20))
    slow = start(big, "slow.bin", "-m", "60", "--limit-rate", "256k")
    # The upload is claimed before its body is read (its status reads "0/0"
    # until the body is staged and the transfer starts).
    time.sleep(1.5)
    second = start(os.path.join(media, "pictures", "photo1.jpg"), "second.jpg", "-m", "30")
    out = second.communicate(timeout=40)[0].decode("utf-8", "replace")
    check(out.endswith("\n501") and "already in progress" in out, "second start refused: %r" % out)
    stop = subprocess.run(["curl", "-s", "-m", "10", "-w", " %{http_code}", api + "upload?operation=stop"],
                          capture_output=True).stdout
    check(stop.endswith(b"200"), "cancel answered: %r" % stop)
    out = slow.communicate(timeout=70)[0].decode("utf-8", "replace")
    check(not out.endswith("\n200") or not out.startswith(server_udn), "the cancelled upload failed: %r" % out[-200:])
    idle("a cancel")
    # A client that vanishes mid-body (curl gives up after 2 s of a slow body).
    gone = start(big, "gone.bin", "-m", "2", "--limit-rate", "256k")
    gone.communicate(timeout=30)
    idle("a client gone mid-body", 60)
    # A body above the HTTP server's bound (4 MiB with a Content-Length).
    over = os.path.join(appdata, "over.bin")
    with open(over, "wb") as f:
        f.write(b"\0" * (5 << 20))
    out = start(over, "over.bin", "-m", "30").communicate(timeout=40)[0].decode("utf-8", "replace")
    check(out.endswith("\n413"), "oversized body refused with 413: %r" % out[-100:])
    idle("an oversized body")
    check(staged() == [], "no staged copy left: %s" % staged())
finally:
    rc = host.close()
    check(rc == 0, "host exit status %s" % rc)
    subprocess.run(["rm", "-rf", appdata])
print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
