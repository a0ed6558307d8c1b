#!/usr/bin/env python3
"""Benchmark of the feeds in the lab, beside kestrel-host --web (with_host.sh gives PAGE_URL):
the 2,000-item container through /nmc/rss in pages of 50 and 200, one curl process for all
pages, beside one curl process sending the same Browse SOAP requests to the lab's minidlna for
the same pages (the reference), same run, best of three rounds. Prints items per second and the
ratio feed time / reference time (target at most 1.5), then the time from opening the page in
chromium to servers and renderers shown (the page test's first step)."""
import os
import subprocess
import sys
import time
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "lab"))
import labtool  # noqa: E402

BASE = os.environ["PAGE_URL"].rsplit("/nmc/web/", 1)[0]
BULK = int(os.environ.get("LAB_BULK_COUNT", "2000"))
here = os.path.dirname(os.path.abspath(__file__))


def items(url):
    with urllib.request.urlopen(url, timeout=30) as r:
        root = ET.fromstring(r.read())
    return [(i.findtext("title"), i.find("enclosure").get("url")) for i in root.iter("item")]


def curl_chain(requests):
    """One curl process for all requests ([args per request]); the sum of their times."""
    args = ["curl", "-s"]
    for i, r in enumerate(requests):
        if i:
            args += ["--next", "-s"]
        args += ["-o", "/dev/null", "-w", "%{time_total}\n"] + r
    out = subprocess.run(args, check=True, capture_output=True, text=True).stdout
    return sum(float(x) for x in out.split())


# Wait for the server, then find the bulk container's feed and its object id.
deadline = time.time() + 30
while True:
    servers = [s for s in items(BASE + "/nmc/rss/server") if s[0] == os.environ["LAB_SERVER_NAME"]]
    if servers or time.time() > deadline:
        break
    time.sleep(0.3)
if not servers:
    sys.exit("bench: the lab server was not found")
folders = [e for e in items(servers[0][1]) if e[0] == "Browse Folders"][0]
bulk = [e for e in items(folders[1]) if e[0] == "bulk"][0][1]
cds = labtool.Device(os.environ["LAB_SERVER_DESC"]).service("ContentDirectory")
bulk_id = None
for _, a, inner in labtool.browse_all(cds, "0")[0]:
    if labtool.didl_field(inner, "dc:title") == "Browse Folders":
        for _, a2, i2 in labtool.browse_all(cds, a["id"])[0]:
            if labtool.didl_field(i2, "dc:title") == "bulk":
                bulk_id = a2["id"]


def soap_request(start, count):
    st = cds["serviceType"]
    body = ('<?xml version="1.0" encoding="utf-8"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:Browse xmlns:u="%s">'
            '<ObjectID>%s</ObjectID><BrowseFlag>BrowseDirectChildren</BrowseFlag><Filter>*</Filter>'
            '<StartingIndex>%d</StartingIndex><RequestedCount>%d</RequestedCount><SortCriteria></SortCriteria>'
            '</u:Browse></s:Body></s:Envelope>' % (st, bulk_id, start, count))
    return ["-H", 'Content-Type: text/xml; charset="utf-8"', "-H", 'SOAPACTION: "%s#Browse"' % st,
            "--data-binary", body, cds["controlURL"]]


worst = 0.0
for size in (50, 200):
    pages = range(0, BULK, size)
    feed_best = ref_best = None
    for _ in range(3):
        f = curl_chain([[bulk + "?start=%d&count=%d" % (s, size)] for s in pages])
        r = curl_chain([soap_request(s, size) for s in pages])
        feed_best = f if feed_best is None else min(feed_best, f)
        ref_best = r if ref_best is None else min(ref_best, r)
    ratio = feed_best / ref_best
    worst = max(worst, ratio)
    print("page %3d: feeds %.3f s (%.0f items/s), Browse by curl %.3f s (%.0f items/s), ratio %.2f (target <= 1.5)"
          % (size, feed_best, BULK / feed_best, ref_best, BULK / ref_best, ratio))

chromium = subprocess.run(["sh", "-c", "command -v chromium"], capture_output=True, text=True).stdout.strip()
page_test = os.path.join(here, "..", "..", "tests", "web", "page_test.mjs")
if chromium and os.path.isdir(os.path.join(here, "..", "..", "tests", "web", "node_modules", "playwright-core")):
    env = dict(os.environ, CHROMIUM=chromium, OPEN_ONLY="1", SCREENSHOT="/dev/null", SOAP_PROBE="-",
               LAB_SCRIPT="-", PROFILE=os.path.join(os.environ["WORK_DIR"], "profile"))
    out = subprocess.run(["timeout", "90", "node", page_test], env=env, capture_output=True, text=True).stdout
    print("".join(l + "\n" for l in out.splitlines() if l.startswith("time from")), end="")
else:
    print("page opening time: not measured (chromium or playwright-core missing)")
sys.exit(0)
