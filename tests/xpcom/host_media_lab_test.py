#!/usr/bin/env python3
"""kestrel-host with libkestrel64 in the lab: the component's methods on the
media object model as a host calls them. Program options set, read back
without regard to case and kept across a restart (a second host run on the
same application-data folder); user-assigned renderer names and icons stored
and kept; injected settings refused with NS_ERROR_INVALID_ARG and the file
whole; a save that cannot be written an error with the old file whole; stream
URLs of the lab server's thumbnails (fetched: the full picture); media types
from our site file; a video link's title through the fake site; the date from
the fake's Date header, and the local date with the fake stopped (started
again afterwards). The site hosts come from the component's lumetmedia.ini.

Usage: host_media_lab_test.py HOST LIBKESTREL64 LAB_SH
"""
import json
import os
import subprocess
import sys
import tempfile
import time
import urllib.request

HOST, LIBRARY, LAB_SH = sys.argv[1:4]
LABTOOL = os.path.join(os.path.dirname(LAB_SH), "labtool.py")
FAKE = os.environ["LAB_FAKESITE_HOST"]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def host(appdata, lines, options=()):
    """Runs the script lines; answers the exit status and the calls made
    (method, result, out) in order, the observer slots left out."""
    env = dict(os.environ, KESTREL_APP_SUPPORT_DIR=appdata)
    p = subprocess.run([HOST, "--json", *options, "--script", "-", LIBRARY], input="\n".join(lines) + "\n",
                       capture_output=True, timeout=90, env=env, text=True, errors="surrogateescape")
    recs = [json.loads(l) for l in p.stdout.splitlines()]
    calls = [(r["method"], r["result"], r["out"]) for r in recs
             if r["kind"] == "call" and "Observer" not in r["method"]]
    if p.returncode != 0:
        print(p.stdout[-3000:], p.stderr[-2000:])
    return p.returncode, calls


def outs(calls, key):
    return [c[2].get(key) for c in calls]


def settings(appdata):
    with open(os.path.join(appdata, "LumetMedia", "LumetPluginSettings.ini"), "rb") as f:
        return f.read()


def make_appdata(parent, name):
    folder = os.path.join(parent, name, "LumetMedia")
    os.makedirs(folder)
    with open(os.path.join(folder, "lumetmedia.ini"), "w") as f:
        for prop in ("video_web_host", "video_info_host", "video_data_host", "date_host"):
            f.write("%s=%s\n" % (prop, FAKE))
    return os.path.dirname(folder)


with tempfile.TemporaryDirectory(prefix="host-media-lab-") as tmp:
    app = make_appdata(tmp, "app")
    r1 = os.environ["LAB_RENDERER1_UDN"]
    r2 = os.environ["LAB_RENDERER2_UDN"]

    # First run: options and renderer names stored, then every injection refused.
    rc, calls = host(app, [
        "call SetProgramOption SlideShowSeconds 7 => NS_OK",
        "call SetProgramOption ShowVideos true => NS_OK",
        'call SetRendererInfo %s "Kitchen Left" 27 => NS_OK' % r1,
        "call SetRendererInfo %s Den 5 => NS_OK" % r2,
        "call GetProgramOption slideshowseconds",
        "call GetProgramOption SHOWVIDEOS",
        "call GetProgramOption Missing",
    ])
    check(rc == 0, "first run: exit status %d" % rc)
    check(outs(calls, "value")[4:] == ["7", "true", ""], "options read back without case: %s" % calls[4:])
    good = settings(app)
    check(good == ("SlideShowSeconds=7\nShowVideos=true\nuserAssignedRendererInfo=%s|Kitchen Left|27\n"
                   "userAssignedRendererInfo=%s|Den|5\n" % (r1, r2)).encode(), "settings file: %r" % good)
    injections = [
        'call SetProgramOption Evil "1\\nuserAssignedRendererInfo=%s|Owned|0"' % r1,
        'call SetProgramOption "Evil\\r\\nSlideShowSeconds" 1',
        "call SetProgramOption A=B 1",
        "call SetProgramOption userAssignedRendererInfo '%s|Owned|0'" % r1,
        "call SetProgramOption Long %s" % ("v" * 200),
        "call SetRendererInfo '%s|x' Den 1" % r1,
        'call SetRendererInfo %s "Den\\nShowVideos=false" 1' % r1,
        "call SetRendererInfo %s 'Den|0' 1" % r1,
        "call SetRendererInfo %s Den -2" % r1,
    ]
    rc, calls = host(app, [line + " => NS_ERROR_INVALID_ARG" for line in injections])
    check(rc == 0 and len(calls) == len(injections), "injections refused: %d %s" % (rc, calls))
    check(settings(app) == good, "the file after the injections: %r" % settings(app))

    # Second run (a restart, the other way of loading): everything kept; -1
    # keeps the stored icon while the name changes.
    rc, calls = host(app, [
        "call GetProgramOption SlideShowSeconds",
        "call GetProgramOption showvideos",
        "call GetProgramOption Evil",
        'call SetRendererInfo %s "Kitchen Right" -1 => NS_OK' % r1,
    ], ["--nsmodule"])
    check(rc == 0 and outs(calls, "value")[:3] == ["7", "true", ""], "kept across a restart: %s" % calls)
    check(("userAssignedRendererInfo=%s|Kitchen Right|27\n" % r1).encode() in settings(app),
          "renderer record kept and renamed: %r" % settings(app))

    # A settings folder that is a symbolic link: read, never written through.
    linked = os.path.join(tmp, "linked")
    real = os.path.join(tmp, "real")
    os.makedirs(os.path.join(linked))
    os.makedirs(real)
    with open(os.path.join(real, "LumetPluginSettings.ini"), "w") as f:
        f.write("Old=1\n")
    os.symlink(real, os.path.join(linked, "LumetMedia"))
    rc, calls = host(linked, [
        "call GetProgramOption Old",
        "call SetProgramOption New 2 => NS_ERROR_FAILURE",
        "call SetRendererInfo %s Den 3 => NS_ERROR_FAILURE" % r1,
        "call GetProgramOption New",
    ])
    check(rc == 0 and outs(calls, "value") == ["1", None, None, "2"], "unsaved change: %s" % calls)
    check(open(os.path.join(real, "LumetPluginSettings.ini")).read() == "Old=1\n" and os.listdir(real) ==
          ["LumetPluginSettings.ini"], "the old file whole, nothing beside it")

    # Stream URLs of the server's thumbnails: the full picture, fetched.
    thumbs = subprocess.run([sys.executable, LABTOOL, "thumbs", os.environ["LAB_SERVER_DESC"]], capture_output=True,
                            text=True, timeout=60).stdout.split()
    check(any("/Resized/" in t for t in thumbs) and any("/AlbumArt/" in t for t in thumbs), "thumbnails: %s" % thumbs)
    rc, calls = host(app, ['call GetStreamableURL "%s" => NS_OK' % t for t in thumbs])
    check(rc == 0, "stream URLs: exit status %d" % rc)
    for thumb, streamable in zip(thumbs, outs(calls, "streamable")):
        want = thumb.split("?")[0]
        check(streamable == want, "%s gave %s" % (thumb, streamable))
        full = urllib.request.urlopen(streamable, timeout=10).read()
        small = urllib.request.urlopen(thumb, timeout=10).read()
        check(full[:2] == b"\xff\xd8" and (len(full) > len(small) or streamable == thumb),
              "%s: %d bytes, thumbnail %d" % (streamable, len(full), len(small)))

    # Media types from our site file (3: no site matches).
    sites = [("http://169.254.77.1:8080/media/music/a.mp3", 0), ("http://169.254.77.1:8080/media/pictures/p.jpg", 1),
             ("http://169.254.77.1:8080/media/video/v.mp4", 2), ("http://169.254.77.1:8080/desc/x", 3),
             ("http://www.flickr.com/photos/x", 1)]
    rc, calls = host(app, ["call GetMediaTypeForSite %s => NS_OK" % url for url, _ in sites])
    check(rc == 0 and outs(calls, "type") == [t for _, t in sites], "site types: %s" % calls)

    # A video link's title through the fake site (the information, else the
    # data feed); the date from the fake's Date header.
    links = [("http://%s/watch?v=labvid&feature=x" % FAKE, "Lab Video labvid & \u00dcn\u00efcode"),
             ("http://%s/watch_videos?video_ids=abc%%2Cdef" % FAKE, "Lab Video abc & \u00dcn\u00efcode"),
             ("http://%s/v/notitle1" % FAKE, "Feed Title notitle1")]
    rc, calls = host(app, ['call GetYouTubeItemName "%s" => NS_OK' % url for url, _ in links] + [
        "call GetYouTubeItemName http://169.254.77.1:8080/watch?v=labvid => NS_ERROR_INVALID_ARG",
        "date"])
    check(rc == 0 and outs(calls, "name")[:3] == [t for _, t in links], "video titles: %s" % calls)
    check(outs(calls, "date")[-1] == "03/14/2026", "date from the fake: %s" % calls[-1:])

    # With the fake stopped, the local date.
    subprocess.run([LAB_SH, "stop", "fakesite"], capture_output=True, timeout=30)
    try:
        before = time.strftime("%m/%d/%Y")
        rc, calls = host(app, ["date"])
        after = time.strftime("%m/%d/%Y")
        check(rc == 0 and outs(calls, "date")[0] in (before, after), "local date: %s (%s)" % (calls, before))
    finally:
        started = subprocess.run([LAB_SH, "start", "fakesite"], capture_output=True, timeout=60)
        check(started.returncode == 0, "fakesite started again")

print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
