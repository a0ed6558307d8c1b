#!/usr/bin/env python3
"""kestrel-host with libkestrel64 in the shared lab, against peers that come
and go and answer oddly:

- renderer2 stopped with lab.sh and started again while the host's main
  thread keeps calling the component on it (info, state, volume, mute,
  queue, play): every call comes back, with NS_OK while the renderer is
  listed and a clear failure (NS_ERROR_INVALID_ARG, or NS_OK with 0 for
  PlayItem) once it is gone; "RendererRemoved:" and "RendererAdded:" arrive,
  the info call follows them, and the renderer plays again afterwards;
- the crafted flapping renderer (lab.sh start flapper): added, removed and
  added again while being called, its odd volume, mute and state answers
  read as 0, 0 and a known state word;
- the crafted associated player (lab.sh start player) listed under its name;
- the server's music list against the real "music/all" of minidlna: the
  count equals what the server itself lists there, and it comes within the
  load's bound.
The host must end with every check held (balance, main thread, signals).

Usage: host_peers_lab_test.py HOST LIBKESTREL64 KESTREL_SOAP LAB_SH
"""
import json
import os
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from host_client import Host, check, failures  # noqa: E402

HOST, LIBRARY, SOAP, LAB_SH = sys.argv[1:5]
KNOWN_STATES = ("PLAYING", "PAUSED", "STOPPED")


def lab(*args):
    p = subprocess.run([LAB_SH, *args], capture_output=True, timeout=90)
    if p.returncode != 0:
        print("lab.sh %s: exit status %d: %s" % (" ".join(args), p.returncode, p.stderr.decode().strip()), flush=True)
    return p.returncode


def calls_on(r, track):
    q = json.dumps(r)
    return [("call GetRendererInfoFromBookmark %s" % q, "GetRendererInfoFromBookmark"),
            ("call GetRendererPlayState %s" % q, "GetRendererPlayState"),
            ("vol %s" % q, "GetVolume"), ("mute %s" % q, "GetMute"),
            ("call GetNumItemsInQueue %s" % q, "GetNumItemsInQueue"),
            ("play %s %s Tone 0" % (q, json.dumps(track)), "PlayItem"),
            ("stop %s" % q, "StopRenderer")]


def storm(host, r, track, stop_event):
    """Calls on renderer r until stop_event; each call's record, in order."""
    records = []
    while not stop_event.is_set():
        for line, method in calls_on(r, track):
            rec = host.call(line, method, 30)
            records.append((method, rec))
            if rec is None:
                return records
    return records


def judged(records, phase):
    tally = {}
    for method, rec in records:
        key = (rec or {}).get("result", "none")
        tally[key] = tally.get(key, 0) + 1
    print("%s: %d call(s) %s" % (phase, len(records), tally), flush=True)
    for method, rec in records:
        if not check(rec is not None, "%s: %s came back" % (phase, method)):
            return
        result, out = rec.get("result"), rec.get("out", {})
        if method == "PlayItem":
            check(result == "NS_OK" and out.get("ok") in (0, 1), "%s: PlayItem %s" % (phase, rec))
        else:
            check(result in ("NS_OK", "NS_ERROR_INVALID_ARG"), "%s: %s %s" % (phase, method, rec))
        if method == "GetRendererInfoFromBookmark" and result == "NS_OK":
            check((out.get("info") or "").count("^") == 3, "%s: info %s" % (phase, out))


appdata = tempfile.mkdtemp(prefix="host_peers_lab")
r2 = os.environ["LAB_RENDERER2_UDN"]
track = os.environ["LAB_HTTP_URL"].rstrip("/") + "/media/music/tone-3s.wav"
host = Host(HOST, LIBRARY, appdata)
started = time.time()
peers_started = []
try:
    host.send("observer add cp")
    host.send("observer add renderer")
    check(host.event("RendererAdded", r2, 30) is not None, "RendererAdded for renderer2")

    # The music list against minidlna's own "music/all".
    server_bm = os.environ["LAB_SERVER_UDN"] + ",0"
    p = subprocess.run([SOAP, "--server", os.environ["LAB_SERVER_DESC"], os.environ["LAB_SERVER_UDN"], "browse",
                        "music/all", "5000"], capture_output=True, timeout=60)
    listed = [line for line in p.stdout.decode("utf-8", "replace").splitlines() if line.startswith("item\t")]
    t = time.time()
    count = host.out("call GetNumMusicItems %s" % json.dumps(server_bm), "GetNumMusicItems", "count", 40)
    took = time.time() - t
    print("music/all: the server lists %d item(s) (%s); the component %s in %.1f s" %
          (len(listed), p.stderr.decode().strip() or "ok", count, took), flush=True)
    check(count == len(listed), "music count %s against the server's %d" % (count, len(listed)))
    check(took < 25, "music list within its bound: %.1f s" % took)
    first = host.call("call GetMusicItem %s 0" % json.dumps(server_bm), "GetMusicItem")
    if listed:
        info = ((first or {}).get("out", {}).get("info") or "").split("^")
        check(info[0] == listed[0].split("\t")[2], "first music item %s against %s" % (info, listed[0]))
    else:
        check(first is not None and first.get("result") == "NS_ERROR_INVALID_ARG", "no music item: %s" % first)

    # The crafted peers: the associated player and the flapping renderer.
    for name in ("player", "flapper"):
        check(lab("start", name) == 0, "lab.sh start %s" % name)
        peers_started.append(name)
    player = os.environ["LAB_PLAYER_UDN"]
    check(host.event("RendererAdded", player, 30) is not None, "RendererAdded for the player")
    info = host.out("call GetRendererInfoFromBookmark %s" % json.dumps(player), "GetRendererInfoFromBookmark", "info")
    check((info or "").split("^")[:2] == [os.environ["LAB_PLAYER_NAME"], player], "player info %r" % info)

    flapper = os.environ["LAB_FLAPPER_UDN"]
    check(host.event("RendererAdded", flapper, 30) is not None, "RendererAdded for the flapper")
    odd = {"vol": [], "mute": [], "state": []}
    removed = readded = False
    end = time.time() + 40
    while time.time() < end and not readded:
        q = json.dumps(flapper)
        odd["vol"].append(host.out("vol %s" % q, "GetVolume", "volume", 30))
        odd["mute"].append(host.out("mute %s" % q, "GetMute", "mute", 30))
        odd["state"].append(host.out("call GetRendererPlayState %s" % q, "GetRendererPlayState", "state", 30))
        if not removed:
            removed = host.event("RendererRemoved", flapper, 0.2) is not None
        else:
            readded = host.event("RendererAdded", flapper, 0.2) is not None
    print("flapper: removed %s, back %s; volumes %s, mutes %s, states %s" %
          (removed, readded, sorted(set(map(str, odd["vol"]))), sorted(set(map(str, odd["mute"]))),
           sorted(set(map(str, odd["state"])))), flush=True)
    check(removed and readded, "the flapper left and came back while called")
    check(set(odd["vol"]) <= {0, None} and set(odd["mute"]) <= {0, None}, "odd volume and mute read as 0")
    check(set(odd["state"]) <= set(KNOWN_STATES) | {None}, "odd states read as a state word")

    # renderer2 leaves and returns while the main thread calls the component
    # on it. The control point takes no byebye within a second of the
    # renderer's last search answer, and answers to its own searches come
    # for 10 s after its start: the renderer leaves after both.
    time.sleep(max(0.0, 12 - (time.time() - started)))
    done = threading.Event()
    holder = []
    worker = threading.Thread(target=lambda: holder.append(storm(host, r2, track, done)))
    # The storm's records are taken by the worker; events wait in host.seen
    # for the checks below (the worker only takes call records).
    worker.start()
    time.sleep(1.0)
    check(lab("stop", "renderer2") == 0, "lab.sh stop renderer2")
    time.sleep(2.0)
    done.set()
    worker.join(120)
    during = holder[0] if holder else []
    check(not worker.is_alive() and len(during) > 0, "calls during the stop: %d" % len(during))
    judged(during, "stop")
    check(host.event("RendererRemoved", r2, 60) is not None, "RendererRemoved for renderer2")
    gone = host.call("call GetRendererInfoFromBookmark %s" % json.dumps(r2), "GetRendererInfoFromBookmark")
    check(gone is not None and gone.get("result") == "NS_ERROR_INVALID_ARG", "unknown once gone: %s" % gone)
    ok = host.out("play %s %s Tone 0" % (json.dumps(r2), json.dumps(track)), "PlayItem", "ok")
    check(ok == 0, "PlayItem on the gone renderer: %s" % ok)

    done.clear()
    holder.clear()
    worker = threading.Thread(target=lambda: holder.append(storm(host, r2, track, done)))
    worker.start()
    check(lab("start", "renderer2") == 0, "lab.sh start renderer2")
    check(host.event("RendererAdded", r2, 60) is not None, "RendererAdded for renderer2 again")
    time.sleep(1.0)
    done.set()
    worker.join(120)
    judged(holder[0] if holder else [], "start")
    info = host.out("call GetRendererInfoFromBookmark %s" % json.dumps(r2), "GetRendererInfoFromBookmark", "info")
    check((info or "").split("^")[:2] == [os.environ["LAB_RENDERER2_NAME"], r2], "renderer2 info again: %r" % info)
    host.seen = [r for r in host.seen if r.get("kind") != "event"]
    ok = host.out("play %s %s Tone 0" % (json.dumps(r2), json.dumps(track)), "PlayItem", "ok")
    check(ok == 1, "renderer2 plays again: %s" % ok)
    check(host.event("PLAYING", r2, 20) is not None, "PLAYING from renderer2 again")
    host.call("stop %s" % json.dumps(r2), "StopRenderer")
finally:
    for name in peers_started:
        lab("stop", name)
    rc = host.close()
    check(rc == 0, "host exit status %s" % rc)
    subprocess.run(["rm", "-rf", appdata])
print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
