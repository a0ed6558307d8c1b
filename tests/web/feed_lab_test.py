#!/usr/bin/env python3
"""The feeds (/nmc/rss) against the lab's minidlna, in the lab beside kestrel-host --web
(with_host.sh gives PAGE_URL): whole feeds compared with the server's own Browse answers
(titles in order, totals), paging through the 2,000-item container at 50 and 200, every
enclosure followed back to its object, each feed also as JSON (parsed) and JSONP (Base64 text
equal to the feed; JSON wrapped), the renderer list and a queue with its single entries."""
import base64
import json
import os
import re
import sys
import time
import urllib.parse
import urllib.request
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labtool  # noqa: E402

BASE = os.environ["PAGE_URL"].rsplit("/nmc/web/", 1)[0]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL " + what)


def get(path):
    url = path if path.startswith("http") else BASE + path
    with urllib.request.urlopen(url, timeout=30) as r:
        return r.read().decode("utf-8")


def feed(path):
    """(channel title, total, returned, [(title, enclosure path, bookmark)]) of a feed."""
    text = get(path)
    if text.startswith("ERROR ON PROCESSING"):
        raise AssertionError(text)
    root = ET.fromstring(text)   # well-formed or this fails
    ch = root.find("channel")
    total = int(ch.findtext("description").split()[0])
    returned = int(ch.findtext("returneditems").split()[0])
    items = []
    for it in ch.findall("item"):
        enc = it.find("enclosure")
        url = urllib.parse.urlsplit(enc.get("url"))
        items.append((it.findtext("title"), url.path, it.findtext("bookmark")))
    return ch.findtext("title"), total, returned, items


def forms(path):
    """The same feed as JSON and JSONP must say the same."""
    sep = "&" if "?" in path else "?"
    rss = get(path)
    data = json.loads(get(path + sep + "fmt=json"))
    titles = [i["title"] for i in data.get("item", [])]
    check(titles == [t for t, _, _ in feed(path)[3]], "JSON titles of " + path)
    wrapped = get(path + sep + "callback=cb")
    m = re.fullmatch(r'cb\("([A-Za-z0-9+/=]*)"\);\n', wrapped)
    check(m is not None, "JSONP form of " + path)
    if m:
        text = base64.b64decode(m.group(1)).decode("utf-8")
        strip = lambda t: re.sub(r"<pubDate>[^<]*</pubDate>", "", t)   # noqa: E731
        check(strip(text) == strip(rss), "JSONP text equals the feed " + path)
    jp = get(path + sep + "fmt=json&callback=cb")
    check(jp.startswith("cb({") and json.loads(jp[3:jp.rindex(")")]) == data, "JSON in JSONP " + path)


server = labtool.Device(os.environ["LAB_SERVER_DESC"])
cds = server.service("ContentDirectory")
BULK = int(os.environ.get("LAB_BULK_COUNT", "2000"))

# The root and the server list.
_, total, _, root_items = feed("/nmc/rss")
check([t for t, _, _ in root_items] == ["server", "renderer"], "root feed items")
forms("/nmc/rss")
# The control point finds the peers on its own first.
deadline = time.time() + 30
while True:
    _, _, _, servers = feed("/nmc/rss/server")
    names = [t for t, _, _ in feed("/nmc/rss/renderer")[3]]
    if (any(s[0] == os.environ["LAB_SERVER_NAME"] for s in servers) and os.environ["LAB_RENDERER1_NAME"] in names
            and os.environ["LAB_RENDERER2_NAME"] in names) or time.time() > deadline:
        break
    time.sleep(0.3)
lab_server = [s for s in servers if s[0] == os.environ["LAB_SERVER_NAME"]]
check(len(lab_server) == 1, "lab server listed")
forms("/nmc/rss/server")

walked = {"containers": 0, "items": 0}


def compare(path, object_id, depth):
    """One container's feed against Browse, every page; then its children."""
    children, total = labtool.browse_all(cds, object_id)
    got, start = [], 0
    while True:
        _, ftotal, returned, items = feed(path + "?start=%d&count=200" % start)
        check(ftotal == total, "total of %s (%d, Browse %d)" % (path, ftotal, total))
        check(returned == len(items), "returned count of " + path)
        got += items
        start += 200
        if start >= total or not items:
            break
    want = [labtool.didl_field(inner, "dc:title") for _, _, inner in children]
    check([t for t, _, _ in got] == want, "titles of %s equal Browse of %s" % (path, object_id))
    if len(children) <= 50:
        forms(path)
    for (kind, attrs, inner), (title, enclosure, bookmark) in list(zip(children, got))[:50 if total <= 50 else 3]:
        bm = urllib.parse.unquote(bookmark)
        if kind == "container":
            walked["containers"] += 1
            ftitle, ftotal, _, _ = feed(enclosure)
            check(ftitle == bm, "container enclosure leads to its object " + title)
            if depth < 4 and int(attrs.get("childCount", "0")) <= 50:
                compare(enclosure, attrs["id"], depth + 1)
        else:
            walked["items"] += 1
            ftitle, _, _, one = feed(enclosure)
            check(ftitle == bm and [t for t, _, _ in one] == [title], "item enclosure leads to its object " + title)


compare(lab_server[0][1], "0", 0)
print("walked %(containers)d containers and %(items)d items" % walked)

# Paging through the bulk container at 50 and 200.
top = feed(lab_server[0][1])[3]
folders = [e for e in top if e[0] == "Browse Folders"][0]
bulk = [e for e in feed(folders[1])[3] if e[0] == "bulk"][0]
bulk_id = None
for kind, attrs, inner in labtool.browse_all(cds, "0")[0]:
    if labtool.didl_field(inner, "dc:title") == "Browse Folders":
        for k2, a2, i2 in labtool.browse_all(cds, attrs["id"])[0]:
            if labtool.didl_field(i2, "dc:title") == "bulk":
                bulk_id = a2["id"]
want = [labtool.didl_field(inner, "dc:title") for _, _, inner in labtool.browse_all(cds, bulk_id)[0]]
check(len(want) == BULK, "Browse gives the bulk container whole")
for size in (50, 200):
    got = []
    for start in range(0, BULK, size):
        _, total, returned, items = feed(bulk[1] + "?start=%d&count=%d" % (start, size))
        check(total == BULK and returned == len(items) == min(size, BULK - start), "bulk page %d/%d" % (start, size))
        got += [t for t, _, _ in items]
    check(got == want, "bulk container in pages of %d equals Browse" % size)
check(feed(bulk[1] + "?start=%d" % BULK)[2] == 0, "a page past the end is empty")
check(feed(bulk[1] + "?count=0")[2] == 500, "a page holds at most 500 entries")

# Renderers and a queue.
_, _, _, renderers = feed("/nmc/rss/renderer")
names = [t for t, _, _ in renderers]
check(os.environ["LAB_RENDERER1_NAME"] in names and os.environ["LAB_RENDERER2_NAME"] in names, "renderer list")
forms("/nmc/rss/renderer")
r1 = [r for r in renderers if r[0] == os.environ["LAB_RENDERER1_NAME"]][0]
rbm = urllib.parse.unquote(r1[2])
album = None
music = [e for e in feed(folders[1])[3] if e[0] == "music"][0]
alpha = [e for e in feed(music[1])[3] if e[0] == "Alpha Artist"][0]
album = [e for e in feed(alpha[1])[3] if e[0] == "First Album"][0]
tracks = feed(album[1])[3]
q = urllib.parse.quote
get("/nmc/rpc/clear?renderer=" + q(rbm, safe=""))
try:
    for t in tracks:
        get("/nmc/rpc/add_bookmark?renderer=%s&index=2147483647&item=%s" % (q(rbm, safe=""),
                                                                              q(urllib.parse.unquote(t[2]), safe="")))
    _, total, _, queue = feed(r1[1])
    check([t for t, _, _ in queue] == [t for t, _, _ in tracks], "queue feed lists what was queued")
    forms(r1[1])
    for title, enclosure, _ in queue:
        _, total, returned, one = feed(enclosure)
        check(total == 1 and [t for t, _, _ in one] == [title], "queue entry enclosure leads to its entry " + title)
finally:
    get("/nmc/rpc/clear?renderer=" + q(rbm, safe=""))

print("%d check(s) failed" % len(failures) if failures else "all checks passed")
sys.exit(1 if failures else 0)
