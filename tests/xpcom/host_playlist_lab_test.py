#!/usr/bin/env python3
"""kestrel-host with libkestrel64 in the lab, over every slot and the playlists as a host sees
them, with the crafted local playlist server (tests/lab/playlist_server.py, started here afresh
and left as it was found).

1. The walkthrough script every_slot.khs: every slot 1 to 46 with its results and failures
   (the queue with URLs, a server object by bookmark and a video link of the fake site), JSON
   lines that parse, the run ended in the middle of playback with no thread of the library
   left and a zero balance.
2. Its playlists: WPL files under their names in the test's folder; each published to the
   server, the renamed one's old copy gone there, the server's copy byte for byte the file.
3. The host's next start: the playlists read back with ids from 1 again and the same content;
   deleting them removes their files and their copies, and only ours (the seeded one stays).
4. A refused upload (403): the file is written all the same and nothing new is kept there.
5. No local playlist server: the file is still written.

Usage: host_playlist_lab_test.py HOST LIBKESTREL64 LAB_SH SCRIPT
"""
import json
import os
import subprocess
import sys
import tempfile
import urllib.request

HOST, LIBRARY, LAB_SH, SCRIPT = sys.argv[1:5]
SERVER = os.environ["LAB_PLAYLIST_SERVER_URL"]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def lab(*args):
    return subprocess.run([LAB_SH, *args], capture_output=True, timeout=90, text=True)


def host(appdata, lines=None, script=None):
    """One run of the host; answers its exit status and its records. Lines run after the
    servers had time to be found."""
    lines = ["sleep 3s"] + lines if lines else lines
    env = dict(os.environ, KESTREL_APP_SUPPORT_DIR=appdata)
    args = [HOST, "--json", "--script", script or "-", LIBRARY]
    p = subprocess.run(args, input=None if script else "\n".join(lines) + "\n", capture_output=True, timeout=150,
                       env=env, text=True, errors="surrogateescape")
    recs = []
    for line in p.stdout.splitlines():
        try:
            recs.append(json.loads(line))
        except ValueError:
            check(False, "a JSON line that does not parse: %r" % line[:200])
    if p.returncode != 0:
        print(p.stdout[-4000:], p.stderr[-2000:])
    return p.returncode, recs


def calls(recs, method):
    return [r for r in recs if r["kind"] == "call" and r["method"] == method]


def state():
    with urllib.request.urlopen(SERVER + "/lab/state", timeout=5) as r:
        return json.loads(r.read())


def post(path, body):
    urllib.request.urlopen(urllib.request.Request(SERVER + path, data=body.encode(), method="POST"), timeout=5)


def files(app):
    folder = os.path.join(app, "LumetMedia", "LumetBeamPlaylists")
    return sorted(os.listdir(folder)) if os.path.isdir(folder) else []


def read(path):
    with open(path, "rb") as f:
        return f.read()


was_running = os.environ.get("LAB_PLAYLIST_SERVER") == "1"
lab("stop", "playlistserver")
started = lab("start", "playlistserver")
check(started.returncode == 0, "the playlist server starts: " + started.stderr[-500:])
try:
    with tempfile.TemporaryDirectory(prefix="host-playlist-lab-") as app:
        folder = os.path.join(app, "LumetMedia", "LumetBeamPlaylists")
        os.makedirs(os.path.join(app, "LumetMedia"))
        with open(os.path.join(app, "LumetMedia", "lumetmedia.ini"), "w") as f:
            for prop in ("video_web_host", "video_info_host", "video_data_host", "date_host"):
                f.write("%s=%s\n" % (prop, os.environ["LAB_FAKESITE_HOST"]))
        # 1. Every slot.
        rc, recs = host(app, script=SCRIPT)
        check(rc == 0, "the walkthrough holds (exit status %d)" % rc)
        slots = {r["slot"] for r in recs if r["kind"] == "call"}
        check(slots >= set(range(1, 47)), "every slot called; missing %s" % sorted(set(range(1, 47)) - slots))
        ends = [r for r in recs if r["kind"] == "shutdown"]
        check(len(ends) == 1 and ends[0]["result"] == "NS_OK" and ends[0]["threads"] == 1,
              "the library ends with no thread left: %s" % ends)
        balance = [r for r in recs if r["kind"] == "balance"]
        check(balance and balance[-1]["blocks"] == 0 and balance[-1]["off_main"] == 0, "balance %s" % balance)
        final = calls(recs, "GetPlaylistList")[-1]["out"]["list"]
        # The queue took URLs, a server object by bookmark and a video link.
        check(calls(recs, "GetNumItemsInQueue")[0]["out"]["count"] == 5, "five queue entries")
        names = [c["out"]["name"] for c in calls(recs, "GetYouTubeItemName") if c["result"] == "NS_OK"]
        check(names == ["Lab Video labvid2 & \u00dcn\u00efcode"], "the video title: %s" % names)

        # 2. Files and the server's copies.
        check(files(app) == ["Lab#Mix#2.wpl", "Pictures.wpl"], "the files: %s" % files(app))
        s = state()
        ours = {p["title"]: p for p in s["playlists"] if p["creator"] == "LumetBeam"}
        check(sorted(ours) == ["Lab Mix 2", "Pictures"], "our copies on the server: %s" % sorted(ours))
        check(any(p["title"] == "Not Ours" for p in s["playlists"]), "the seeded playlist stays")
        mix = ours.get("Lab Mix 2", {})
        check(mix.get("items") == [["Renamed Item", "http://169.254.77.1:8080/media/music/tone-3s.wav?a=1&b=2"],
                                   ["Two", "http://169.254.77.1:8080/media/music/tone-3s.wav"]],
              "the server's copy holds the items: %s" % mix.get("items"))
        last = [b for b in s["bodies"] if b["id"] == mix.get("id")]
        check(last and read(last[-1]["file"]) == read(os.path.join(folder, "Lab#Mix#2.wpl")),
              "the server's copy is the file byte for byte")
        check(len(s["bodies"]) >= 6, "each change published (%d bodies)" % len(s["bodies"]))

        # 3. The next start: ids from 1 again, the same content; then deleting both.
        rc, recs = host(app, ["pl-list"])
        again = calls(recs, "GetPlaylistList")[0]["out"]["list"]
        strip = lambda e: e.split("|", 2)[:2] + e.split("|", 3)[3:]
        check(sorted(map(strip, again)) == sorted(map(strip, final)), "read back: %s vs %s" % (again, final))
        check(sorted(int(e.split("|")[2]) for e in again) == [1, 2], "ids from 1 again: %s" % again)
        rc, recs = host(app, ["call DeletePlaylist 1 => NS_OK", "call DeletePlaylist 2 => NS_OK",
                              "call GetPlaylistList => NS_OK"])
        check(rc == 0 and files(app) == [], "deleted: files %s" % files(app))
        titles = sorted(p["title"] for p in state()["playlists"])
        check(titles == ["Not Ours"], "only ours removed on the server: %s" % titles)

        # 4. A refused upload: the file is still written, the refused object does not stay.
        post("/lab/refuse", "403")
        try:
            rc, recs = host(app, ['pl-create "Refused" 0 id', "pl-add ${id} One http://169.254.77.1:8080/x.mp3"])
        finally:
            post("/lab/refuse", "0")
        check(files(app) == ["Refused.wpl"], "a refused upload still writes the file: %s" % files(app))
        check(sorted(p["title"] for p in state()["playlists"]) == ["Not Ours"], "the refused object is removed")

        # 5. No local playlist server: the file is still written.
        lab("stop", "playlistserver")
        rc, recs = host(app, ['pl-create "Alone" 2 id', "pl-add ${id} Clip http://169.254.77.1:8080/c.avi",
                              "pl-list"])
        check(rc == 0 and "Alone.wpl" in files(app), "without a server the file is written: %s" % files(app))
finally:
    lab("stop", "playlistserver")
    if was_running:
        lab("start", "playlistserver")

print("FAILED: %d checks" % len(failures) if failures else "host playlist lab: all checks held")
sys.exit(1 if failures else 0)
