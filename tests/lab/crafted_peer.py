#!/usr/bin/env python3
"""crafted_peer.py - crafted UPnP peers of the lab, run by lab.sh in the peers' namespace
(`lab.sh start player|flapper|servers`). Each answers M-SEARCH, announces itself, sends its
byebye when it ends (SIGTERM) and serves its description, SCPDs and SOAP on ADDR:PORT.

    crafted_peer.py player  --bind ADDR --port PORT --udn UDN --name NAME
        An associated player: a renderer whose name starts with "LMM Player". Besides the
        usual SOAP actions it answers POST /lmmcp (the private messages: the body is the
        message text, "^" and an argument, then one NUL) with its name for
        "AssociatedRendererName", its icon URL for "AssociatedRendererIcon" and both, joined
        by "^", for "AssociatedRendererNameAndIcon". GET /lab/reply?name=TEXT&icon=TEXT sets
        the replies (e.g. longer than a control point's buffers); GET /lab/messages lists the
        bodies received, one a line, the NUL written as "\\0".
    crafted_peer.py flapper --bind ADDR --port PORT --udn UDN --name NAME [--up S] [--down S]
        A renderer that comes and goes: present for --up seconds (alive, search answers,
        HTTP), then byebye and gone (no answers, connections refused) for --down seconds, and
        again. Its answers are odd: GetVolume "loud", GetMute "maybe", GetTransportInfo
        "WOBBLING", GetPositionInfo with a malformed time.
    crafted_peer.py servers --bind ADDR --port PORT --count N
        N media servers on one port (descriptions /s<i>/desc.xml, UDNs SERVER_UDN % i): an empty
        ContentDirectory (every Browse and Search answers no entries).

Refuses to run unless ADDR is a link-local (169.254.x.x) address of this namespace.
"""
import argparse
import html
import os
import random
import re
import select
import signal
import socket
import struct
import subprocess
import sys
import threading
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

GROUP = ("239.255.255.250", 1900)
SERVER = "Linux/6 UPnP/1.0 lab-crafted/1.0"
RENDERER = "urn:schemas-upnp-org:device:MediaRenderer:1"
MEDIA_SERVER = "urn:schemas-upnp-org:device:MediaServer:1"
SERVER_UDN = "uuid:2ab0c0d0-0000-4000-8000-%012d"
SERVICES = {
    "CM": ("urn:schemas-upnp-org:service:ConnectionManager:1", ["GetProtocolInfo", "GetCurrentConnectionIDs"]),
    "RC": ("urn:schemas-upnp-org:service:RenderingControl:1", ["GetVolume", "SetVolume", "GetMute", "SetMute"]),
    "AVT": ("urn:schemas-upnp-org:service:AVTransport:1",
            ["SetAVTransportURI", "Play", "Pause", "Stop", "Seek", "Next", "GetTransportInfo", "GetPositionInfo",
             "GetMediaInfo", "GetCurrentTransportActions"]),
    "CDS": ("urn:schemas-upnp-org:service:ContentDirectory:1",
            ["Browse", "Search", "GetSystemUpdateID", "GetSearchCapabilities", "GetSortCapabilities"]),
}


def lab_address(addr):
    if not addr.startswith("169.254."):
        sys.exit("crafted_peer: %r is not a link-local lab address" % addr)
    mine = subprocess.run(["ip", "-o", "-4", "addr", "show"], capture_output=True, text=True).stdout
    if (" %s/" % addr) not in mine:
        sys.exit("crafted_peer: %s is not an address of this namespace; run it in the lab" % addr)


class Device:
    """One device of the peer: its UDN, type, name and the path its description lives at."""

    def __init__(self, udn, dtype, name, prefix, services, base=""):
        self.udn, self.dtype, self.name, self.prefix, self.services = udn, dtype, name, prefix, services
        self.base = base  # the <baseURL> element a player's messages are sent under

    def description(self):
        services = "".join(
            "<service><serviceType>%s</serviceType><serviceId>urn:upnp-org:serviceId:%s</serviceId>"
            "<SCPDURL>%s/%s.xml</SCPDURL><controlURL>%s/%s/control</controlURL>"
            "<eventSubURL>%s/%s/event</eventSubURL></service>"
            % (SERVICES[s][0], s, self.prefix, s, self.prefix, s, self.prefix, s) for s in self.services)
        return ('<?xml version="1.0"?>\n<root xmlns="urn:schemas-upnp-org:device-1-0"><specVersion><major>1'
                '</major><minor>0</minor></specVersion><device><deviceType>%s</deviceType><friendlyName>%s'
                '</friendlyName><manufacturer>Lumet Lab</manufacturer><modelName>Crafted %s</modelName>'
                '<modelNumber>1.0</modelNumber><UDN>%s</UDN>%s<serviceList>%s</serviceList></device></root>'
                % (self.dtype, html.escape(self.name), self.dtype.split(":")[3], self.udn,
                   "<baseURL>%s</baseURL>" % self.base if self.base else "", services))


class Ssdp:
    """Announcements and search answers for the devices while `present` is set."""

    def __init__(self, addr, port, devices):
        self.addr, self.port, self.devices = addr, port, devices
        self.present = threading.Event()
        self.listen = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.listen.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.listen.bind(("", GROUP[1]))
        self.listen.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                               struct.pack("4s4s", socket.inet_aton(GROUP[0]), socket.inet_aton(addr)))
        self.out = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(addr))
        self.out.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 2)
        self.out.bind((addr, 0))
        threading.Thread(target=self._answer, daemon=True).start()

    def location(self, d):
        return "http://%s:%d%s/desc.xml" % (self.addr, self.port, d.prefix)

    def _targets(self, d):
        return ["upnp:rootdevice", d.udn, d.dtype] + [SERVICES[s][0] for s in d.services]

    def _notify(self, d, nts):
        for nt in self._targets(d):
            usn = d.udn if nt == d.udn else "%s::%s" % (d.udn, nt)
            text = "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nNT: %s\r\nNTS: %s\r\nUSN: %s\r\n" % (nt, nts, usn)
            if nts == "ssdp:alive":
                text += "CACHE-CONTROL: max-age=1800\r\nLOCATION: %s\r\nSERVER: %s\r\n" % (self.location(d), SERVER)
            self.out.sendto((text + "\r\n").encode(), GROUP)

    def alive(self):
        self.present.set()
        for d in self.devices:
            self._notify(d, "ssdp:alive")

    def byebye(self):
        self.present.clear()
        for d in self.devices:
            self._notify(d, "ssdp:byebye")

    def _answer(self):
        pending = []  # (due, datagram, destination)
        while True:
            wait = 0.2 if not pending else max(0.0, min(0.2, min(p[0] for p in pending) - time.monotonic()))
            ready, _, _ = select.select([self.listen], [], [], wait)
            now = time.monotonic()
            for p in [p for p in pending if p[0] <= now]:
                if self.present.is_set():
                    self.out.sendto(p[1], p[2])
                pending.remove(p)
            if not ready:
                continue
            data, source = self.listen.recvfrom(4096)
            text = data.decode("latin-1")
            if not text.startswith("M-SEARCH") or not self.present.is_set():
                continue
            fields = dict((k.strip().lower(), v.strip()) for k, _, v in
                          (line.partition(":") for line in text.split("\r\n")[1:]) if k)
            st = fields.get("st", "")
            try:
                mx = max(1, min(5, int(fields.get("mx", "1"))))
            except ValueError:
                mx = 1
            for d in self.devices:
                for target in self._targets(d):
                    if st in ("ssdp:all", target):
                        usn = d.udn if target == d.udn else "%s::%s" % (d.udn, target)
                        answer = ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: %s\r\n"
                                  "SERVER: %s\r\nST: %s\r\nUSN: %s\r\n\r\n" % (self.location(d), SERVER, target, usn))
                        pending.append((now + random.uniform(0, mx * 0.3), answer.encode(), source))


def envelope(action, service, inner):
    return ('<?xml version="1.0"?><s:Envelope xmlns:s="http://schemas.xmlsoap.org/soap/envelope/" '
            's:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/"><s:Body><u:%sResponse xmlns:u="%s">%s'
            '</u:%sResponse></s:Body></s:Envelope>' % (action, service, inner, action))


class Peer:
    """The behaviour shared by the three kinds: SOAP answers per action, replies of the player."""

    def __init__(self, kind, devices):
        self.kind, self.devices = kind, devices
        self.lock = threading.Lock()      # the player's replies and messages change under requests
        self.replies = {}
        self.messages = []
        self.volume, self.mute, self.state = 20, 0, "STOPPED"

    def device_of(self, path):
        for d in self.devices:
            if path.startswith(d.prefix + "/"):
                return d, path[len(d.prefix):]
        return None, path

    def answer(self, action, body):
        """The inner XML of the response to ACTION."""
        odd = self.kind == "flapper"
        value = lambda name: (re.search(r"<%s>([^<]*)</%s>" % (name, name), body) or [None, ""])[1]
        with self.lock:
            if action == "GetVolume":
                return "<CurrentVolume>%s</CurrentVolume>" % ("loud" if odd else self.volume)
            if action == "SetVolume":
                self.volume = value("DesiredVolume")
            if action == "GetMute":
                return "<CurrentMute>%s</CurrentMute>" % ("maybe" if odd else self.mute)
            if action == "SetMute":
                self.mute = value("DesiredMute")
            if action in ("Play", "Pause", "Stop"):
                self.state = {"Play": "PLAYING", "Pause": "PAUSED_PLAYBACK", "Stop": "STOPPED"}[action]
            if action == "GetTransportInfo":
                return ("<CurrentTransportState>%s</CurrentTransportState><CurrentTransportStatus>OK"
                        "</CurrentTransportStatus><CurrentSpeed>1</CurrentSpeed>" % ("WOBBLING" if odd else self.state))
        if action == "GetPositionInfo":
            t = "9:99:99.x" if odd else "0:00:00"
            return ("<Track>1</Track><TrackDuration>%s</TrackDuration><TrackMetaData></TrackMetaData><TrackURI>"
                    "</TrackURI><RelTime>%s</RelTime><AbsTime>%s</AbsTime><RelCount>0</RelCount><AbsCount>0"
                    "</AbsCount>" % (t, t, t))
        if action == "GetMediaInfo":
            return "<NrTracks>0</NrTracks><MediaDuration>0:00:00</MediaDuration><CurrentURI></CurrentURI>"
        if action == "GetCurrentTransportActions":
            return "<Actions>Play,Stop,Pause,Seek</Actions>"
        if action == "GetProtocolInfo":
            sink = "http-get:*:audio/mpeg:*,http-get:*:audio/x-wav:*,http-get:*:image/jpeg:*"
            return "<Source></Source><Sink>%s</Sink>" % ("" if self.kind == "servers" else sink)
        if action == "GetCurrentConnectionIDs":
            return "<ConnectionIDs>0</ConnectionIDs>"
        if action in ("Browse", "Search"):
            return ("<Result>%s</Result><NumberReturned>0</NumberReturned><TotalMatches>0</TotalMatches>"
                    "<UpdateID>1</UpdateID>" % html.escape('<DIDL-Lite xmlns="urn:schemas-upnp-org:metadata-1-0/'
                                                           'DIDL-Lite/"></DIDL-Lite>'))
        if action == "GetSystemUpdateID":
            return "<Id>1</Id>"
        if action == "GetSearchCapabilities":
            return "<SearchCaps>dc:title</SearchCaps>"
        if action == "GetSortCapabilities":
            return "<SortCaps>dc:title</SortCaps>"
        return ""

    def lmmcp(self, body):
        """The reply to a private message (None: not a player)."""
        if self.kind != "player":
            return None
        text = body.decode("utf-8", "replace")
        with self.lock:
            self.messages.append(text.replace("\0", "\\0"))
            message = text.rstrip("\0").split("^", 1)[0]
            name, icon = self.replies.get("name", ""), self.replies.get("icon", "")
        return {"AssociatedRendererName": name, "AssociatedRendererIcon": icon,
                "AssociatedRendererNameAndIcon": name + "^" + icon}.get(message, "")


def handler_for(peer):
    class Handler(BaseHTTPRequestHandler):
        protocol_version = "HTTP/1.1"

        def log_message(self, fmt, *args):
            pass

        def reply(self, status, body=b"", ctype='text/xml; charset="utf-8"', extra=()):
            self.send_response(status)
            self.send_header("Content-Type", ctype)
            for k, v in extra:
                self.send_header(k, v)
            self.send_header("Content-Length", str(len(body)))
            self.send_header("Connection", "close")
            self.end_headers()
            if self.command != "HEAD":
                self.wfile.write(body)
            self.close_connection = True

        def do_GET(self):
            url = urllib.parse.urlsplit(self.path)
            if url.path == "/lab/reply":
                q = urllib.parse.parse_qs(url.query, keep_blank_values=True)
                with peer.lock:
                    for k in ("name", "icon"):
                        if k in q:
                            peer.replies[k] = q[k][0]
                    peer.messages.clear()
                return self.reply(200, b"ok", "text/plain")
            if url.path == "/lab/messages":
                with peer.lock:
                    text = "".join(m + "\n" for m in peer.messages)
                return self.reply(200, text.encode(), "text/plain")
            d, rest = peer.device_of(url.path)
            if d is None:
                return self.reply(404)
            if rest == "/desc.xml":
                return self.reply(200, d.description().encode())
            m = re.fullmatch(r"/(\w+)\.xml", rest)
            if m and m.group(1) in d.services:
                actions = "".join("<action><name>%s</name></action>" % a for a in SERVICES[m.group(1)][1])
                return self.reply(200, ('<?xml version="1.0"?><scpd xmlns="urn:schemas-upnp-org:service-1-0">'
                                        '<specVersion><major>1</major><minor>0</minor></specVersion><actionList>%s'
                                        '</actionList><serviceStateTable></serviceStateTable></scpd>'
                                        % actions).encode())
            return self.reply(404)

        do_HEAD = do_GET

        def body(self):
            n = int(self.headers.get("Content-Length") or 0)
            return self.rfile.read(min(n, 1 << 20)) if n > 0 else b""

        def do_POST(self):
            body = self.body()
            if self.path == "/lmmcp":
                text = peer.lmmcp(body)
                return self.reply(404) if text is None else self.reply(200, text.encode(), "text/plain")
            d, rest = peer.device_of(self.path)
            m = re.fullmatch(r"/(\w+)/control", rest)
            action = (self.headers.get("SOAPACTION") or "").strip('"').rpartition("#")[2]
            if d is None or not m or m.group(1) not in d.services or not action:
                return self.reply(404)
            inner = peer.answer(action, body.decode("utf-8", "replace"))
            self.reply(200, envelope(action, SERVICES[m.group(1)][0], inner).encode())

        def do_SUBSCRIBE(self):
            sid = self.headers.get("SID") or "uuid:lab-sub-%08x" % random.getrandbits(32)
            self.reply(200, extra=(("SID", sid), ("TIMEOUT", "Second-1800")))

        def do_UNSUBSCRIBE(self):
            self.reply(200)

    return Handler


def serve(addr, port, peer):
    server = ThreadingHTTPServer((addr, port), handler_for(peer))
    server.daemon_threads = True
    threading.Thread(target=server.serve_forever, daemon=True).start()
    return server


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("kind", choices=("player", "flapper", "servers"))
    ap.add_argument("--bind", required=True)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--udn", default="")
    ap.add_argument("--name", default="")
    ap.add_argument("--count", type=int, default=1)
    ap.add_argument("--up", type=float, default=4.0)
    ap.add_argument("--down", type=float, default=2.0)
    a = ap.parse_args()
    lab_address(a.bind)
    if a.kind == "servers":
        n = max(1, min(a.count, 200))
        devices = [Device(SERVER_UDN % i, MEDIA_SERVER, "Lab Crafted Server %d" % i, "/s%d" % i, ["CM", "CDS"])
                   for i in range(1, n + 1)]
    else:
        if not a.udn or not a.name:
            sys.exit("crafted_peer: --udn and --name are needed")
        base = "http://%s:%d" % (a.bind, a.port) if a.kind == "player" else ""
        devices = [Device(a.udn, RENDERER, a.name, "/r", ["CM", "RC", "AVT"], base)]
    peer = Peer(a.kind, devices)
    peer.replies = {"name": "Lab Player Den", "icon": "http://%s:%d/icon.png" % (a.bind, a.port)}
    stop = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    ssdp = Ssdp(a.bind, a.port, devices)
    server = serve(a.bind, a.port, peer)
    ssdp.alive()
    print("ready %s" % " ".join(ssdp.location(d) for d in devices), flush=True)
    next_alive = time.monotonic() + 30
    while not stop.is_set():
        if a.kind == "flapper":
            if stop.wait(a.up):
                break
            ssdp.byebye()
            server.shutdown()
            server.server_close()
            if stop.wait(a.down):
                server = None
                break
            server = serve(a.bind, a.port, peer)
            ssdp.alive()
            continue
        stop.wait(1.0)
        if time.monotonic() >= next_alive:
            ssdp.alive()
            next_alive = time.monotonic() + 30
    if ssdp.present.is_set():
        ssdp.byebye()
    if server is not None:
        server.shutdown()
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
