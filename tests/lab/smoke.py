#!/usr/bin/env python3
"""Smoke test of the lab, run inside it (lab.sh run python3 smoke.py): every peer is found by
M-SEARCH and describes itself as the lab says, the media server's root and its bulk container
browse completely with plain SOAP, and a renderer plays a generated track with its position
advancing. Proves the lab before any of our own code is involved."""
import html
import os
import re
import sys
import time
import urllib.parse

sys.dont_write_bytecode = True     # no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import labtool as L  # noqa: E402

MS1 = "urn:schemas-upnp-org:device:MediaServer:1"
MR1 = "urn:schemas-upnp-org:device:MediaRenderer:1"
FAILS = []


def check(name, ok, detail=""):
    print("%s %s%s" % ("PASS" if ok else "FAIL", name, (": " + detail) if detail else ""),
          flush=True)
    if not ok:
        FAILS.append(name)
    return ok


def env(name):
    v = os.environ.get(name)
    if not v:
        sys.exit("smoke: %s is not set; run me with lab.sh run" % name)
    return v


def seconds(hms):
    """'H:MM:SS[.fff]' -> seconds; None for anything else (e.g. NOT_IMPLEMENTED)."""
    m = re.fullmatch(r"(\d+):(\d{2}):(\d{2})(?:\.\d+)?", hms or "")
    return int(m.group(1)) * 3600 + int(m.group(2)) * 60 + int(m.group(3)) if m else None


def discover(server_udn, renderers):
    found = L.msearch(MS1, [server_udn], 8)
    check("media server answers M-SEARCH for %s" % MS1, server_udn in found)
    ok = server_udn in found and found[server_udn].get("location") == env("LAB_SERVER_DESC")
    check("its LOCATION is LAB_SERVER_DESC", ok, str(found.get(server_udn, {}).get("location")))
    udns = [u for u, _, _ in renderers]
    found = L.msearch(MR1, udns, 8)
    check("all %d renderers answer M-SEARCH for %s" % (len(udns), MR1), len(found) == len(udns),
          "missing: %s" % [u for u in udns if u not in found])
    for udn, desc, _ in renderers:
        check("%s LOCATION is its LAB_RENDERER*_DESC" % udn,
              found.get(udn, {}).get("location") == desc)


def describe(desc, udn, name, kinds):
    try:
        dev = L.Device(desc)
    except (OSError, ValueError) as e:
        check("description %s" % desc, False, str(e))
        return None
    check("%s: UDN %s" % (desc, udn), dev.udn == udn, dev.udn)
    check("%s: friendlyName %r" % (desc, name), dev.friendly_name == name, dev.friendly_name)
    for k in kinds:
        check("%s offers %s" % (name, k), any(":%s:" % k in s["serviceType"] for s in dev.services))
    return dev


def browse_server(dev):
    cds = dev.service("ContentDirectory")
    entries, n, total = L.browse(cds, "0")
    titles = [L.didl_field(inner, "dc:title") for _, _, inner in entries]
    check("root lists Music, Pictures, Video and Browse Folders",
          {"Music", "Pictures", "Video", "Browse Folders"} <= set(titles), str(titles))
    check("root: NumberReturned == TotalMatches == entries", n == total == len(entries),
          "%d %d %d" % (n, total, len(entries)))

    audio = int(env("LAB_AUDIO_COUNT"))
    bulk = int(env("LAB_BULK_COUNT"))
    items, total = L.browse_all(cds, L.find_container(cds, "Music/All Music"))
    check("'Music/All Music' has every track", len(items) == total == audio + bulk,
          "%d items, TotalMatches %d, want %d" % (len(items), total, audio + bulk))
    titles = {L.didl_field(inner, "dc:title"): inner for _, _, inner in items}
    for t in ("Rock & Roll <Live>", "Ünïcode Tïtle", "First Song", "Long Tone"):
        check("title %r arrives unharmed" % t, t in titles)

    # the bulk container, in pages: every track exactly once
    oid = L.find_container(cds, env("LAB_BULK_PATH"))
    t0 = time.monotonic()
    got, total = L.browse_all(cds, oid, page=100)
    took = time.monotonic() - t0
    ids = [a["id"] for _, a, _ in got]
    names = sorted(L.didl_field(inner, "dc:title") for _, _, inner in got)
    want = sorted("Bulk Track %04d" % i for i in range(1, bulk + 1))
    check("bulk container: TotalMatches %d" % bulk, total == bulk, str(total))
    check("bulk container: %d items in pages of 100, each once (%.2fs)" % (bulk, took),
          len(ids) == len(set(ids)) == bulk and names == want,
          "%d items, %d distinct ids" % (len(ids), len(set(ids))))
    res = [r for _, _, inner in got[:5] for r in [L.didl_field(inner, "res")] if r]
    check("bulk items carry a res URL", len(res) == 5)
    return titles


def res_url(inner):
    m = re.search(r"<res[^>]*>(.*?)</res>", inner, re.S)
    return html.unescape(m.group(1)) if m else None


def didl_for(title, url, mime):
    e = html.escape
    return ('<DIDL-Lite xmlns="urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/" '
            'xmlns:dc="http://purl.org/dc/elements/1.1/" '
            'xmlns:upnp="urn:schemas-upnp-org:metadata-1-0/upnp/">'
            '<item id="1" parentID="0" restricted="1"><dc:title>%s</dc:title>'
            '<upnp:class>object.item.audioItem.musicTrack</upnp:class>'
            '<res protocolInfo="http-get:*:%s:*">%s</res></item></DIDL-Lite>'
            % (e(title), mime, e(url)))


def transport_state(avt):
    return L.soap(avt, "GetTransportInfo", [("InstanceID", 0)]).get("CurrentTransportState")


def wait_state(avt, want, timeout):
    end = time.monotonic() + timeout
    state = None
    while time.monotonic() < end:
        state = transport_state(avt)
        if state == want:
            return state
        time.sleep(0.2)
    return state


def play(dev, title, url, mime, watch_position):
    avt = dev.service("AVTransport")
    name = dev.friendly_name
    L.soap(avt, "SetAVTransportURI", [("InstanceID", 0), ("CurrentURI", url),
                                      ("CurrentURIMetaData", didl_for(title, url, mime))])
    media = L.soap(avt, "GetMediaInfo", [("InstanceID", 0)])
    check("%s: SetAVTransportURI took %s" % (name, url), media.get("CurrentURI") == url,
          str(media.get("CurrentURI")))
    L.soap(avt, "Play", [("InstanceID", 0), ("Speed", 1)])
    state = wait_state(avt, "PLAYING", 10)
    check("%s: PLAYING after Play" % name, state == "PLAYING", str(state))
    if watch_position and state == "PLAYING":
        # the clock starts once the stream is prerolled: measure from the first second on
        end = time.monotonic() + 5
        p1 = None
        while time.monotonic() < end:
            p1 = seconds(L.soap(avt, "GetPositionInfo", [("InstanceID", 0)]).get("RelTime"))
            if p1 is None or p1 >= 1:
                break
            time.sleep(0.2)
        time.sleep(2.5)
        info = L.soap(avt, "GetPositionInfo", [("InstanceID", 0)])
        p2 = seconds(info.get("RelTime"))
        check("%s: position advances while PLAYING" % name,
              p1 is not None and p2 is not None and p1 >= 1 and 1 <= p2 - p1 <= 5,
              "%s -> %s" % (p1, p2))
        check("%s: TrackDuration of the 30 s track" % name,
              seconds(info.get("TrackDuration")) in (29, 30, 31), str(info.get("TrackDuration")))
        check("%s: still PLAYING" % name, transport_state(avt) == "PLAYING")
    L.soap(avt, "Stop", [("InstanceID", 0)])
    state = wait_state(avt, "STOPPED", 5)
    check("%s: STOPPED after Stop" % name, state == "STOPPED", str(state))


def main():
    server = (env("LAB_SERVER_UDN"), env("LAB_SERVER_DESC"), env("LAB_SERVER_NAME"))
    renderers = [(env("LAB_RENDERER%d_UDN" % i), env("LAB_RENDERER%d_DESC" % i),
                  env("LAB_RENDERER%d_NAME" % i)) for i in range(1, int(env("LAB_RENDERERS")) + 1)]
    print("smoke: %s topology, library side %s on %s" % (
        env("LAB_TOPOLOGY"), env("LAB_ADDR"), env("LAB_IFACE")), flush=True)

    discover(server[0], renderers)
    sdev = describe(server[1], server[0], server[2], ["ContentDirectory", "ConnectionManager"])
    rdevs = [describe(d, u, n, ["AVTransport", "RenderingControl", "ConnectionManager"])
             for u, d, n in renderers]
    if sdev is None or None in rdevs:
        return 1
    titles = browse_server(sdev)

    song = titles.get("Long Tone")
    if check("the server offers 'Long Tone' with a res URL", bool(song and res_url(song))):
        play(rdevs[0], "Long Tone", res_url(song), "audio/mpeg", True)
    # the plain HTTP file server is reachable from the renderers too
    if len(rdevs) > 1:
        url = urllib.parse.urljoin(env("LAB_HTTP_URL"), "media/music/tone-3s.wav")
        check("HTTP file server serves %s" % url, len(L.fetch(url)) > 100000)
        play(rdevs[1], "Tone", url, "audio/wav", False)

    print("smoke: %s" % ("all checks passed" if not FAILS else "%d FAILED" % len(FAILS)))
    return 1 if FAILS else 0


if __name__ == "__main__":
    sys.exit(main())
