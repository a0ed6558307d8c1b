#!/usr/bin/env python3
"""Small UPnP probe used by lab.sh and the lab's smoke test: M-SEARCH, device descriptions,
plain SOAP calls, Browse walks, and the ID3 tagging of the lab's bulk tracks.

Everything here speaks only to the addresses it is given; it is meant to run inside the
lab's network namespaces (lab.sh run ...), never in the host's.

Command line (used by lab.sh):
  labtool.py msearch ST TIMEOUT SUBSTR...   print the LOCATION of the first reply containing each
                                            SUBSTR (one line each, same order); exit 1 on timeout
  labtool.py count DESC TITLE/PATH          number of children of the container at that title path
  labtool.py waitcount DESC PATH N TIMEOUT  wait until that container has N children; print the count
  labtool.py bulk SRC.mp3 DIR N             write N tagged copies of SRC.mp3 into DIR
  labtool.py resurl DESC PATH TITLE         print the first res URL of the item TITLE at PATH
  labtool.py thumbs DESC                    print album-art and JPEG_TN thumbnail URLs of the server
  labtool.py udn DESC                       print the UDN of the device description at DESC
  labtool.py wavheader N                    write a WAV header for N bytes of 16-bit stereo samples
"""
import html
import os
import re
import socket
import struct
import sys
import time
import urllib.error
import urllib.parse
import urllib.request

SSDP_GROUP = ("239.255.255.250", 1900)
SOAP_ENV = "http://schemas.xmlsoap.org/soap/envelope/"


def _headers(text):
    h = {}
    for line in text.split("\r\n")[1:]:
        if ":" in line:
            k, v = line.split(":", 1)
            h[k.strip().lower()] = v.strip()
    return h


def msearch(st, want, timeout, ifaddr=None, mx=1):
    """Send M-SEARCH for ST every half second until, for each substring in WANT, a reply
    containing it arrived (case-insensitive) or TIMEOUT seconds passed.
    Returns {substring: headers-dict} for the substrings that were answered."""
    ifaddr = ifaddr or os.environ.get("LAB_ADDR", "127.0.0.1")
    found = {}
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    try:
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(ifaddr))
        s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 2)
        s.bind((ifaddr, 0))
        msg = ('M-SEARCH * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nMAN: "ssdp:discover"\r\n'
               'MX: %d\r\nST: %s\r\n\r\n' % (mx, st)).encode()
        end = time.monotonic() + float(timeout)
        nxt = 0.0
        while time.monotonic() < end and len(found) < len(want):
            now = time.monotonic()
            if now >= nxt:
                s.sendto(msg, SSDP_GROUP)
                nxt = now + 0.5
            s.settimeout(max(0.02, min(nxt, end) - time.monotonic()))
            try:
                data, _ = s.recvfrom(65535)
            except socket.timeout:
                continue
            text = data.decode(errors="replace")
            if not text.startswith("HTTP/1.1 200"):
                continue
            hdrs = _headers(text)
            for w in want:
                if w not in found and w.lower() in text.lower():
                    found[w] = hdrs
    finally:
        s.close()
    return found


def fetch(url, timeout=5):
    with urllib.request.urlopen(url, timeout=timeout) as r:
        return r.read()


class Device:
    """The parts of a device description the lab needs."""

    def __init__(self, location):
        self.location = location
        self.xml = fetch(location).decode("utf-8")
        m = re.search(r"<URLBase>\s*(.*?)\s*</URLBase>", self.xml)
        self.base = m.group(1) if m else location
        dev = re.search(r"<device>(.*?)</device>", self.xml, re.S)
        if not dev:
            raise ValueError("no <device> in %s" % location)
        self.udn = self._field(dev.group(1), "UDN")
        self.friendly_name = html.unescape(self._field(dev.group(1), "friendlyName"))
        self.device_type = self._field(dev.group(1), "deviceType")
        self.services = []
        for sv in re.findall(r"<service>(.*?)</service>", self.xml, re.S):
            self.services.append({k: urllib.parse.urljoin(self.base, self._field(sv, k))
                                  if k.endswith("URL") else self._field(sv, k)
                                  for k in ("serviceType", "serviceId", "controlURL",
                                            "eventSubURL", "SCPDURL")})

    @staticmethod
    def _field(xml, name):
        m = re.search(r"<%s>\s*(.*?)\s*</%s>" % (name, name), xml, re.S)
        return m.group(1) if m else ""

    def service(self, kind):
        for sv in self.services:
            if (":%s:" % kind) in sv["serviceType"]:
                return sv
        raise LookupError("%s has no %s service" % (self.location, kind))


class SoapFault(Exception):
    def __init__(self, status, body):
        code = re.search(r"<errorCode>\s*(\d+)\s*</errorCode>", body)
        self.status, self.body = status, body
        self.upnp_error = int(code.group(1)) if code else None
        super().__init__("HTTP %s, UPnP error %s" % (status, self.upnp_error))


def soap(service, action, args=(), timeout=10):
    """Call ACTION on SERVICE (a Device.services entry) with ARGS, a sequence of (name, value)
    whose values are escaped here. Returns {out-arg name: unescaped value}."""
    st = service["serviceType"]
    body = "".join("<%s>%s</%s>" % (k, html.escape(str(v), quote=False), k) for k, v in args)
    env = ('<?xml version="1.0" encoding="utf-8"?>'
           '<s:Envelope xmlns:s="%s" s:encodingStyle="http://schemas.xmlsoap.org/soap/encoding/">'
           '<s:Body><u:%s xmlns:u="%s">%s</u:%s></s:Body></s:Envelope>'
           % (SOAP_ENV, action, st, body, action))
    rq = urllib.request.Request(service["controlURL"], env.encode("utf-8"), {
        "Content-Type": 'text/xml; charset="utf-8"',
        "SOAPACTION": '"%s#%s"' % (st, action)})
    try:
        with urllib.request.urlopen(rq, timeout=timeout) as r:
            text = r.read().decode("utf-8")
    except urllib.error.HTTPError as e:
        raise SoapFault(e.code, e.read().decode("utf-8", "replace")) from None
    m = re.search(r"<(?:\w+:)?%sResponse[^>]*>(.*?)</(?:\w+:)?%sResponse>" % (action, action),
                  text, re.S)
    if not m:
        if re.search(r"<(?:\w+:)?%sResponse[^>]*/>" % action, text):
            return {}
        raise ValueError("no %sResponse in: %s" % (action, text[:300]))
    return {k: html.unescape(v) for k, v in
            re.findall(r"<([A-Za-z_][\w.-]*)[^>]*>(.*?)</\1>", m.group(1), re.S)}


def didl_entries(didl):
    """Split a DIDL-Lite document into [(kind, attrs, inner)] for containers and items."""
    out = []
    for kind, attrs, inner in re.findall(r"<(container|item)\b([^>]*)>(.*?)</\1>", didl, re.S):
        a = {k: html.unescape(v) for k, v in re.findall(r'([\w:]+)="([^"]*)"', attrs)}
        out.append((kind, a, inner))
    return out


def didl_field(inner, name):
    m = re.search(r"<%s(?:\s[^>]*)?>(.*?)</%s>" % (name, name), inner, re.S)
    return html.unescape(m.group(1)) if m else None


def browse(cds, object_id, start=0, count=0, flag="BrowseDirectChildren"):
    """One Browse call; returns (entries, NumberReturned, TotalMatches)."""
    r = soap(cds, "Browse", [("ObjectID", object_id), ("BrowseFlag", flag), ("Filter", "*"),
                             ("StartingIndex", start), ("RequestedCount", count),
                             ("SortCriteria", "")])
    return didl_entries(r["Result"]), int(r["NumberReturned"]), int(r["TotalMatches"])


def browse_all(cds, object_id, page=500):
    """All children of OBJECT_ID, fetched in pages of PAGE."""
    entries, start, total = [], 0, None
    while total is None or start < total:
        got, n, total = browse(cds, object_id, start, page)
        if n == 0:
            break
        entries += got
        start += n
    return entries, total


def find_container(cds, path):
    """Object id of the container reached from the root by the '/'-separated titles of PATH."""
    oid = "0"
    for title in [t for t in path.split("/") if t]:
        entries, _ = browse_all(cds, oid)
        for kind, attrs, inner in entries:
            if kind == "container" and didl_field(inner, "dc:title") == title:
                oid = attrs["id"]
                break
        else:
            raise LookupError("no container %r under %r" % (title, oid))
    return oid


# ---------------------------------------------------------------- ID3 tagging of bulk tracks

def _id3_frame(fid, text):
    data = b"\x03" + text.encode("utf-8")      # encoding 3: UTF-8 (ID3v2.4)
    return fid.encode() + _syncsafe(len(data)) + b"\x00\x00" + data


def _syncsafe(n):
    return bytes([(n >> 21) & 0x7F, (n >> 14) & 0x7F, (n >> 7) & 0x7F, n & 0x7F])


def id3v2_tag(tags):
    """An ID3v2.4 tag block for {frame id: text}."""
    body = b"".join(_id3_frame(k, v) for k, v in tags.items())
    return b"ID3\x04\x00\x00" + _syncsafe(len(body)) + body


GENRES = ["Rock", "Jazz", "Pop", "Classical", "Blues", "Folk", "Electronic", "Country"]


def write_bulk(src, outdir, n):
    """N copies of the untagged MP3 SRC under distinct names and tags: 40 artists, 100 albums
    of 20 tracks each, 8 genres."""
    audio = open(src, "rb").read()
    os.makedirs(outdir, exist_ok=True)
    for i in range(1, n + 1):
        tags = {"TIT2": "Bulk Track %04d" % i,
                "TPE1": "Bulk Artist %02d" % (i % 40),
                "TALB": "Bulk Album %03d" % ((i - 1) // 20),
                "TRCK": "%d/20" % ((i - 1) % 20 + 1),
                "TCON": GENRES[i % len(GENRES)],
                "TDRC": str(1990 + i % 30)}
        with open(os.path.join(outdir, "bulk-%04d.mp3" % i), "wb") as f:
            f.write(id3v2_tag(tags) + audio)


def main(argv):
    cmd = argv[1] if len(argv) > 1 else ""
    if cmd == "msearch" and len(argv) >= 5:
        want = argv[4:]
        found = msearch(argv[2], want, float(argv[3]))
        if len(found) < len(want):
            missing = [w for w in want if w not in found]
            print("no M-SEARCH answer for: %s" % " ".join(missing), file=sys.stderr)
            return 1
        for w in want:
            print(found[w].get("location", ""))
        return 0
    if cmd == "count" and len(argv) == 4:
        try:
            cds = Device(argv[2]).service("ContentDirectory")
            _, _, total = browse(cds, find_container(cds, argv[3]), 0, 1)
            print(total)
        except (OSError, LookupError, ValueError, KeyError, SoapFault):
            print(0)
        return 0
    if cmd == "waitcount" and len(argv) == 6:
        # one process polling, rather than one per poll: the index is built meanwhile
        end = time.monotonic() + float(argv[5])
        n = 0
        cds = None
        while True:
            try:
                cds = cds or Device(argv[2]).service("ContentDirectory")
                _, _, n = browse(cds, find_container(cds, argv[3]), 0, 1)
            except (OSError, LookupError, ValueError, KeyError, SoapFault):
                n = 0
            if n >= int(argv[4]) or time.monotonic() >= end:
                print(n)
                return 0 if n >= int(argv[4]) else 1
            time.sleep(0.5)
    if cmd == "resurl" and len(argv) == 5:
        # the first res URL of the item titled argv[4] in the container at path argv[3]
        cds = Device(argv[2]).service("ContentDirectory")
        entries, _ = browse_all(cds, find_container(cds, argv[3]))
        for kind, _, inner in entries:
            if kind == "item" and didl_field(inner, "dc:title") == argv[4]:
                print(didl_field(inner, "res"))
                return 0
        return 1
    if cmd == "thumbs" and len(argv) == 3:
        # thumbnail URLs the server gives: album art of items and JPEG_TN resources (at most
        # three of each), from a bounded breadth-first walk from the root
        cds = Device(argv[2]).service("ContentDirectory")
        art, tn, queue, seen = [], [], ["0"], 0
        while queue and seen < 80 and (len(art) < 3 or len(tn) < 3):
            oid = queue.pop(0)
            seen += 1
            for kind, attrs, inner in browse_all(cds, oid)[0]:
                if kind == "container":
                    queue.append(attrs["id"])
                    continue
                uri = didl_field(inner, "upnp:albumArtURI")
                if uri and len(art) < 3 and uri not in art:
                    art.append(uri)
                for pinfo, url in re.findall(r'<res[^>]*protocolInfo="([^"]*)"[^>]*>(.*?)</res>', inner, re.S):
                    if "JPEG_TN" in pinfo and len(tn) < 3:
                        tn.append(html.unescape(url))
        for url in art + tn:
            print(url)
        return 0 if art or tn else 1
    if cmd == "udn" and len(argv) == 3:
        m = re.search(r"<UDN>\s*([^<\s]+)\s*</UDN>", fetch(argv[2]).decode("utf-8", "replace"))
        if not m:
            return 1
        print(m.group(1))
        return 0
    if cmd == "wavheader" and len(argv) == 3:
        # the 44-byte header of a 44.1 kHz 16-bit stereo WAV file with argv[2] bytes of samples
        n = int(argv[2])
        sys.stdout.buffer.write(b"RIFF" + struct.pack("<I", 36 + n) + b"WAVEfmt " +
                                struct.pack("<IHHIIHH", 16, 1, 2, 44100, 176400, 4, 16) +
                                b"data" + struct.pack("<I", n))
        return 0
    if cmd == "bulk" and len(argv) == 5:
        write_bulk(argv[2], argv[3], int(argv[4]))
        return 0
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
