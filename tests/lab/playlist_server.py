#!/usr/bin/env python3
"""playlist_server.py - a crafted local playlist server for the lab, run by lab.sh in the peers'
namespace (LAB_PLAYLIST_SERVER=1, or 'lab.sh start playlistserver'). It is a MediaServer that
says it runs on the library's machine (zel:X_LOCALDEVICE) and answers "/rpc/version", so the
library takes it for its local playlist server, and it keeps what the library publishes.

    playlist_server.py --bind ADDR --port PORT --keep DIR [--version 5.2] [--seed CONTAINER|TITLE|CREATOR]... [--track TITLE|URL]...

  SSDP          answers M-SEARCH and announces itself on ADDR's interface (byebye at SIGTERM)
  GET /desc.xml, /cds.xml, /cm.xml, /rpc/version
  POST /control/cds   Browse, CreateObject (into "music/playlists", "picture/playlists",
                      "video/playlists": a playlist container with an import address and the
                      creator "LumetBeam" unless the object names its own), DestroyObject,
                      GetSystemUpdateID, GetSortCapabilities, GetSearchCapabilities
  POST /import/ID     the WPL body (with a length or chunked): kept whole as DIR/NNNN-ID.wpl,
                      its media entries become the playlist's items; 201
  GET /content/ID.wpl the body a playlist holds
  --track TITLE|URL   a track in "music/all" (the server's music for GetNumMusicItems)
  GET /lab/state      JSON: every playlist (id, container, title, creator, items) and every body
                      received (id, file, length), in order
  POST /lab/refuse    body "STATUS": imports answer STATUS from now on ("0": accept again)
  POST /lab/seed      body "CONTAINER|TITLE|CREATOR": a playlist that is not the library's
  --seed C|T|CREATOR  the same at start
"""
import argparse
import html
import json
import os
import re
import signal
import socket
import struct
import sys
import threading
import time
import xml.etree.ElementTree as ET
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

UDN = "uuid:4c756d65-7450-4c53-8000-00000000a001"
NAME = "Lab Playlist Server"
DEVICE = "urn:schemas-upnp-org:device:MediaServer:1"
SERVICES = ["urn:schemas-upnp-org:service:ContentDirectory:1",
            "urn:schemas-upnp-org:service:ConnectionManager:1"]
CONTAINERS = {"music/playlists": "music", "picture/playlists": "picture", "video/playlists": "video"}
ITEM_CLASS = {"music": "object.item.audioItem.musicTrack", "picture": "object.item.imageItem.photo",
              "video": "object.item.videoItem.movie"}
SSDP_GROUP = ("239.255.255.250", 1900)


class Store:
    """The server's objects: the root, three media containers, their playlist containers and the
    playlists' items; every body received."""

    def __init__(self, keep):
        self.lock = threading.Lock()
        self.keep = keep
        self.next_id = 1
        self.update_id = 1
        self.refuse = 0
        self.playlists = {}  # id -> {"container", "title", "creator", "items": [(title, url)]}
        self.order = []
        self.bodies = []
        self.tracks = []  # (title, url) of "music/all"

    def add(self, container, title, creator):
        with self.lock:
            pid = "pl%d" % self.next_id
            self.next_id += 1
            self.playlists[pid] = {"container": container, "title": title, "creator": creator, "items": []}
            self.order.append(pid)
            self.update_id += 1
            return pid

    def children(self, oid):
        """(kind, id, parent, title, extra) tuples under an object; none for an unknown one."""
        if oid == "0":
            return [("container", k, "0", k.capitalize(), {}) for k in ("music", "picture", "video")]
        if oid == "music":
            return [("container", "music/playlists", oid, "Playlists", {}), ("container", "music/all", oid, "All", {})]
        if oid in ("picture", "video"):
            return [("container", oid + "/playlists", oid, "Playlists", {})]
        if oid == "music/all":
            return [("item", "music/all/%d" % i, oid, t, {"url": u, "class": ITEM_CLASS["music"]})
                    for i, (t, u) in enumerate(self.tracks)]
        if oid in CONTAINERS:
            return [("container", p, oid, self.playlists[p]["title"], self.playlists[p])
                    for p in self.order if self.playlists[p]["container"] == oid]
        if oid in self.playlists:
            kind = CONTAINERS[self.playlists[oid]["container"]]
            return [("item", "%s/%d" % (oid, i), oid, t, {"url": u, "class": ITEM_CLASS[kind]})
                    for i, (t, u) in enumerate(self.playlists[oid]["items"])]
        return None

    def metadata(self, oid):
        if oid == "0":
            return ("container", "0", "-1", "Root", {})
        if oid in ("music", "picture", "video"):
            return ("container", oid, "0", oid.capitalize(), {})
        if oid in CONTAINERS:
            return ("container", oid, CONTAINERS[oid], "Playlists", {})
        if oid == "music/all":
            return ("container", oid, "music", "All", {})
        m = re.match(r"^music/all/(\d+)$", oid)
        if m and int(m.group(1)) < len(self.tracks):
            return self.children("music/all")[int(m.group(1))]
        if oid in self.playlists:
            p = self.playlists[oid]
            return ("container", oid, p["container"], p["title"], p)
        m = re.match(r"^(pl\d+)/(\d+)$", oid)
        if m and m.group(1) in self.playlists:
            kids = self.children(m.group(1))
            i = int(m.group(2))
            if i < len(kids):
                return kids[i]
        return None


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    store = None
    base = ""
    version = "5.2"

    def log_message(self, fmt, *args):
        sys.stderr.write("playlist_server: " + (fmt % args) + "\n")

    def reply(self, status, body=b"", ctype="text/xml; charset=\"utf-8\"", headers=()):
        if isinstance(body, str):
            body = body.encode()
        self.send_response(status)
        self.send_header("Content-Type", ctype)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        self.wfile.write(body)
        self.close_connection = True

    def body(self):
        if self.headers.get("Transfer-Encoding", "").lower() == "chunked":
            data = b""
            while True:
                size = int(self.rfile.readline().split(b";")[0].strip() or b"0", 16)
                if size == 0:
                    self.rfile.readline()
                    return data
                data += self.rfile.read(size)
                self.rfile.readline()
        return self.rfile.read(int(self.headers.get("Content-Length", "0")))

    # ---------------------------------------------------------------- GET
    def do_GET(self):
        path = self.path.split("?")[0]
        if path == "/desc.xml":
            return self.reply(200, description(self.base))
        if path in ("/cds.xml", "/cm.xml"):
            actions = (["Browse", "CreateObject", "DestroyObject", "GetSystemUpdateID", "GetSortCapabilities",
                        "GetSearchCapabilities"] if path == "/cds.xml" else ["GetProtocolInfo"])
            return self.reply(200, scpd(actions))
        if path == "/rpc/version":
            return self.reply(200, self.version, "text/plain")
        if path == "/lab/state":
            s = self.store
            with s.lock:
                state = {"playlists": [dict(id=p, **{k: v for k, v in s.playlists[p].items()}) for p in s.order],
                         "bodies": list(s.bodies), "update_id": s.update_id}
            return self.reply(200, json.dumps(state), "application/json")
        m = re.match(r"^/content/(pl\d+)\.wpl$", path)
        if m:
            with self.store.lock:
                found = [b for b in self.store.bodies if b["id"] == m.group(1)]
            if found:
                with open(found[-1]["file"], "rb") as f:
                    return self.reply(200, f.read(), "application/vnd.ms-wpl")
        return self.reply(404, b"")

    # ---------------------------------------------------------------- POST
    def do_POST(self):
        path = self.path.split("?")[0]
        data = self.body()
        if path == "/control/cds":
            return self.control(data.decode("utf-8", "replace"))
        if path == "/control/cm":
            return self.soap("GetProtocolInfo", "ConnectionManager",
                             "<Source>http-get:*:*:*</Source><Sink>http-get:*:application/vnd.ms-wpl:*</Sink>")
        if path == "/lab/refuse":
            self.store.refuse = int(data.decode().strip() or "0")
            return self.reply(200, b"ok", "text/plain")
        if path == "/lab/seed":
            container, title, creator = data.decode("utf-8").split("|", 2)
            return self.reply(200, self.store.add(container, title, creator), "text/plain")
        m = re.match(r"^/import/(pl\d+)$", path)
        if m:
            return self.imported(m.group(1), data)
        return self.reply(404, b"")

    def do_SUBSCRIBE(self):
        self.reply(200, b"", headers=(("SID", "uuid:lab-playlist-sub"), ("TIMEOUT", "Second-1800")))

    def do_UNSUBSCRIBE(self):
        self.reply(200, b"")

    def imported(self, pid, data):
        s = self.store
        with s.lock:
            if s.refuse:
                return self.reply(s.refuse, b"refused", "text/plain")
            if pid not in s.playlists:
                return self.reply(404, b"")
            name = os.path.join(s.keep, "%04d-%s.wpl" % (len(s.bodies) + 1, pid))
            with open(name, "wb") as f:
                f.write(data)
            s.bodies.append({"id": pid, "file": name, "length": len(data)})
            items = []
            try:
                for media in ET.fromstring(data).iter("media"):
                    items.append((media.get("title", ""), media.get("src", "")))
            except ET.ParseError:
                pass
            s.playlists[pid]["items"] = items
            s.update_id += 1
        return self.reply(201, b"")

    def control(self, text):
        action = self.headers.get("SOAPACTION", "").strip('"').split("#")[-1]
        arg = lambda name: html.unescape((re.search(r"<%s>(.*?)</%s>" % (name, name), text, re.S) or
                                          re.search(r"<%s/>()" % name, text) or [None, ""])[1] or "")
        s = self.store
        if action == "Browse":
            oid, flag = arg("ObjectID"), arg("BrowseFlag")
            start, count = int(arg("StartingIndex") or 0), int(arg("RequestedCount") or 0)
            with s.lock:
                if flag == "BrowseMetadata":
                    one = s.metadata(oid)
                    objects, total = ([one], 1) if one else (None, 0)
                else:
                    kids = s.children(oid)
                    objects, total = (kids, len(kids)) if kids is not None else (None, 0)
                    if objects is not None:
                        objects = objects[start:start + count] if count else objects[start:]
                uid = s.update_id
            if objects is None:
                return self.fault(701, "No such object")
            didl = didl_of(objects, self.base, s)
            return self.soap("Browse", "ContentDirectory",
                             "<Result>%s</Result><NumberReturned>%d</NumberReturned><TotalMatches>%d</TotalMatches>"
                             "<UpdateID>%d</UpdateID>" % (html.escape(didl, quote=False), len(objects), total, uid))
        if action == "CreateObject":
            container, elements = arg("ContainerID"), arg("Elements")
            if container not in CONTAINERS:
                return self.fault(710, "No such container")
            title = html.unescape((re.search(r"<dc:title>(.*?)</dc:title>", elements, re.S) or [None, ""])[1])
            creator = re.search(r"<dc:creator>(.*?)</dc:creator>", elements, re.S)
            pid = s.add(container, title, html.unescape(creator.group(1)) if creator else "LumetBeam")
            with s.lock:
                didl = didl_of([s.metadata(pid)], self.base, s, importing=True)
            return self.soap("CreateObject", "ContentDirectory",
                             "<ObjectID>%s</ObjectID><Result>%s</Result>" % (pid, html.escape(didl, quote=False)))
        if action == "DestroyObject":
            oid = arg("ObjectID")
            with s.lock:
                if oid not in s.playlists:
                    return self.fault(701, "No such object")
                del s.playlists[oid]
                s.order.remove(oid)
                s.update_id += 1
            return self.soap("DestroyObject", "ContentDirectory", "")
        if action == "GetSystemUpdateID":
            return self.soap(action, "ContentDirectory", "<Id>%d</Id>" % s.update_id)
        if action in ("GetSortCapabilities", "GetSearchCapabilities"):
            tag = "SortCaps" if action == "GetSortCapabilities" else "SearchCaps"
            return self.soap(action, "ContentDirectory", "<%s></%s>" % (tag, tag))
        return self.fault(401, "Invalid Action")

    def soap(self, action, service, inner):
        self.reply(200, '<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
                        's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body>'
                        '<u:%sResponse xmlns:u="urn:schemas-upnp-org:service:%s:1">%s</u:%sResponse>'
                        '</s:Body></s:Envelope>' % (action, service, inner, action))

    def fault(self, code, text):
        self.reply(500, '<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/">'
                        '<s:Body><s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring>'
                        '<detail><UPnPError xmlns="urn:schemas-upnp-org:control-1-0"><errorCode>%d</errorCode>'
                        '<errorDescription>%s</errorDescription></UPnPError></detail></s:Fault></s:Body>'
                        '</s:Envelope>' % (code, text))


def esc(text):
    return html.escape(text, quote=True)


def didl_of(objects, base, store, importing=False):
    out = ['<DIDL-Lite xmlns="urn:schemas-upnp-org:metadata-1-0/DIDL-Lite/" '
           'xmlns:dc="http://purl.org/dc/elements/1.1/" xmlns:upnp="urn:schemas-upnp-org:metadata-1-0/upnp/">']
    for kind, oid, parent, title, extra in objects:
        if kind == "item":
            out.append('<item id="%s" parentID="%s" restricted="1"><dc:title>%s</dc:title><upnp:class>%s</upnp:class>'
                       '<upnp:artist>Lab Artist</upnp:artist><upnp:album>Lab Album</upnp:album>'
                       '<upnp:genre>Lab</upnp:genre><res protocolInfo="http-get:*:*:*">%s</res></item>'
                       % (esc(oid), esc(parent), esc(title), extra["class"], esc(extra["url"])))
            continue
        kids = store.children(oid) or []
        playlist = oid in store.playlists
        cls = "object.container.playlistContainer" if playlist else "object.container.storageFolder"
        creator = "<dc:creator>%s</dc:creator>" % esc(extra["creator"]) if playlist else ""
        res = ""
        if playlist:
            res = ('<res protocolInfo="http-get:*:application/vnd.ms-wpl:*" importUri="%s/import/%s">%s/content/%s.wpl'
                   '</res>' % (base, oid, base, oid))
        out.append('<container id="%s" parentID="%s" restricted="0" childCount="%d"><dc:title>%s</dc:title>%s'
                   '<upnp:class>%s</upnp:class>%s</container>'
                   % (esc(oid), esc(parent), len(kids), esc(title), creator, cls, res))
    out.append("</DIDL-Lite>")
    return "".join(out)


def description(base):
    return ('<?xml version="1.0"?><root xmlns="urn:schemas-upnp-org:device-1-0" xmlns:zel="urn:lumet-invalid:zel">'
            '<specVersion><major>1</major><minor>0</minor></specVersion><device><deviceType>%s</deviceType>'
            '<friendlyName>%s</friendlyName><manufacturer>Lab</manufacturer><modelName>Lab Playlists</modelName>'
            '<modelNumber>1</modelNumber><UDN>%s</UDN><zel:X_LOCALDEVICE>true</zel:X_LOCALDEVICE>'
            '<baseURL>%s</baseURL><serviceList>'
            '<service><serviceType>%s</serviceType><serviceId>urn:upnp-org:serviceId:ContentDirectory</serviceId>'
            '<SCPDURL>/cds.xml</SCPDURL><controlURL>/control/cds</controlURL><eventSubURL>/event/cds</eventSubURL>'
            '</service><service><serviceType>%s</serviceType>'
            '<serviceId>urn:upnp-org:serviceId:ConnectionManager</serviceId><SCPDURL>/cm.xml</SCPDURL>'
            '<controlURL>/control/cm</controlURL><eventSubURL>/event/cm</eventSubURL></service></serviceList>'
            '</device></root>' % (DEVICE, NAME, UDN, base, SERVICES[0], SERVICES[1]))


def scpd(actions):
    return ('<?xml version="1.0"?><scpd xmlns="urn:schemas-upnp-org:service-1-0"><specVersion><major>1</major>'
            '<minor>0</minor></specVersion><actionList>%s</actionList><serviceStateTable/></scpd>'
            % "".join("<action><name>%s</name></action>" % a for a in actions))


class Ssdp(threading.Thread):
    """Answers M-SEARCH for our types and announces us; byebye on stop()."""

    def __init__(self, addr, location):
        super().__init__(daemon=True)
        self.addr, self.location = addr, location
        self.sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM, socket.IPPROTO_UDP)
        self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        if hasattr(socket, "SO_REUSEPORT"):
            self.sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEPORT, 1)
        self.sock.bind(("", 1900))
        self.sock.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                             struct.pack("4s4s", socket.inet_aton(SSDP_GROUP[0]), socket.inet_aton(addr)))
        self.out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(addr))
        self.out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 2)
        self.out.bind((addr, 0))

    def targets(self):
        return [("upnp:rootdevice", UDN + "::upnp:rootdevice"), (UDN, UDN), (DEVICE, UDN + "::" + DEVICE)] + \
               [(s, UDN + "::" + s) for s in SERVICES]

    def notify(self, nts):
        for nt, usn in self.targets():
            msg = ("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
                   "LOCATION: %s\r\nNT: %s\r\nNTS: %s\r\nSERVER: Linux/1 UPnP/1.0 LabPlaylists/1\r\nUSN: %s\r\n\r\n"
                   % (self.location, nt, nts, usn))
            self.out.sendto(msg.encode(), SSDP_GROUP)

    def run(self):
        self.notify("ssdp:alive")
        while True:
            data, peer = self.sock.recvfrom(65535)
            text = data.decode(errors="replace")
            if not text.startswith("M-SEARCH"):
                continue
            st = re.search(r"^ST:\s*(.*?)\s*$", text, re.M | re.I)
            st = st.group(1) if st else ""
            for nt, usn in self.targets():
                if st == "ssdp:all" or st == nt:
                    msg = ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: %s\r\n"
                           "SERVER: Linux/1 UPnP/1.0 LabPlaylists/1\r\nST: %s\r\nUSN: %s\r\n\r\n"
                           % (self.location, nt, usn))
                    self.out.sendto(msg.encode(), peer)


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bind", required=True)
    ap.add_argument("--port", type=int, default=8390)
    ap.add_argument("--keep", required=True)
    ap.add_argument("--version", default="5.2")
    ap.add_argument("--seed", action="append", default=[])
    ap.add_argument("--track", action="append", default=[], help="TITLE|URL of a track in music/all")
    a = ap.parse_args()
    os.makedirs(a.keep, exist_ok=True)
    Handler.store = Store(a.keep)
    Handler.base = "http://%s:%d" % (a.bind, a.port)
    Handler.version = a.version
    Handler.store.tracks = [tuple(t.split("|", 1)) for t in a.track]
    for seed in a.seed:
        container, title, creator = seed.split("|", 2)
        Handler.store.add(container, title, creator)
    httpd = ThreadingHTTPServer((a.bind, a.port), Handler)
    httpd.daemon_threads = True
    ssdp = Ssdp(a.bind, Handler.base + "/desc.xml")

    def stop(*_):
        ssdp.notify("ssdp:byebye")
        threading.Thread(target=httpd.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    ssdp.start()

    def again():  # announce every 30 s, as devices do
        while True:
            time.sleep(30)
            ssdp.notify("ssdp:alive")

    threading.Thread(target=again, daemon=True).start()
    httpd.serve_forever()


if __name__ == "__main__":
    main()
