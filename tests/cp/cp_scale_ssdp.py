#!/usr/bin/env python3
"""SSDP side of the device table's scale runs in the lab: crafted devices that answer
M-SEARCH, and a bounded flood of announcements for unknown devices.

Runs only inside the lab's peers' namespace (nsenter -t $LAB_PEERS_NS_PID -n ...), never in
the host's: it refuses to start when LAB_PEER_ADDR is not a link-local address or is not an
address of this namespace.

  cp_scale_ssdp.py respond LIST SECONDS
      LIST holds one device a line: "UDN DEVICE-TYPE LOCATION". Sends one NOTIFY ssdp:alive
      for each, then answers every M-SEARCH whose ST is ssdp:all, upnp:rootdevice or a listed
      device type, for SECONDS at most (or until SIGTERM). Prints "ready" once listening.
  cp_scale_ssdp.py flood COUNT SECONDS LOCATION-PREFIX
      Sends COUNT NOTIFY ssdp:alive for unknown media renderers and servers (UDN
      uuid:cp-flood-NNNNNN, LOCATION prefix + NNNNNN), spread evenly over SECONDS.
"""
import os
import random
import select
import signal
import socket
import struct
import subprocess
import sys
import time

GROUP = ("239.255.255.250", 1900)
SERVER = "Linux/6 UPnP/1.0 cp-scale/1.0"


def peer_address():
    addr = os.environ.get("LAB_PEER_ADDR", "")
    if not addr.startswith("169.254."):
        sys.exit("cp_scale_ssdp: LAB_PEER_ADDR must be a link-local lab address, got %r" % addr)
    mine = subprocess.run(["ip", "-o", "-4", "addr", "show"], capture_output=True, text=True).stdout
    if (" %s/" % addr) not in mine:
        sys.exit("cp_scale_ssdp: %s is not an address of this namespace; run it in the lab's peers' "
                 "namespace" % addr)
    return addr


def sender(addr):
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_IF, socket.inet_aton(addr))
    s.setsockopt(socket.IPPROTO_IP, socket.IP_MULTICAST_TTL, 2)
    s.bind((addr, 0))
    return s


def notify(udn, nt, location):
    return ("NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nCACHE-CONTROL: max-age=1800\r\n"
            "LOCATION: %s\r\nNT: %s\r\nNTS: ssdp:alive\r\nSERVER: %s\r\nUSN: %s::%s\r\n\r\n"
            % (location, nt, SERVER, udn, nt)).encode()


def response(udn, st, location):
    usn = udn if st == udn else "%s::%s" % (udn, st)
    return ("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=1800\r\nEXT:\r\nLOCATION: %s\r\nSERVER: %s\r\n"
            "ST: %s\r\nUSN: %s\r\n\r\n" % (location, SERVER, st, usn)).encode()


def header(text, name):
    for line in text.split("\r\n")[1:]:
        k, _, v = line.partition(":")
        if k.strip().lower() == name:
            return v.strip()
    return ""


def respond(list_path, seconds):
    addr = peer_address()
    devices = []
    with open(list_path) as f:
        for line in f:
            parts = line.split()
            if len(parts) == 3:
                devices.append(tuple(parts))
    listen = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    listen.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listen.bind(("", GROUP[1]))
    listen.setsockopt(socket.IPPROTO_IP, socket.IP_ADD_MEMBERSHIP,
                      struct.pack("4s4s", socket.inet_aton(GROUP[0]), socket.inet_aton(addr)))
    out = sender(addr)
    for udn, dtype, location in devices:
        out.sendto(notify(udn, dtype, location), GROUP)
    print("ready", flush=True)
    stop = [False]
    signal.signal(signal.SIGTERM, lambda *_: stop.__setitem__(0, True))
    end = time.monotonic() + seconds
    pending = []  # (due, datagram, destination): answers spread over the search's MX
    while not stop[0] and time.monotonic() < end:
        wait = 0.2
        if pending:
            wait = max(0.0, min(wait, min(p[0] for p in pending) - time.monotonic()))
        ready, _, _ = select.select([listen], [], [], wait)
        now = time.monotonic()
        for p in [p for p in pending if p[0] <= now]:
            out.sendto(p[1], p[2])
            pending.remove(p)
        if not ready:
            continue
        data, source = listen.recvfrom(4096)
        text = data.decode("latin-1")
        if not text.startswith("M-SEARCH"):
            continue
        st = header(text, "st")
        try:
            mx = max(1, min(5, int(header(text, "mx"))))
        except ValueError:
            mx = 1
        for udn, dtype, location in devices:
            if st in ("ssdp:all", "upnp:rootdevice", dtype, udn):
                due = now + random.uniform(0, mx * 0.5)
                pending.append((due, response(udn, st, location), source))


def flood(count, seconds, prefix):
    addr = peer_address()
    out = sender(addr)
    types = ("urn:schemas-upnp-org:device:MediaRenderer:1", "urn:schemas-upnp-org:device:MediaServer:1")
    start = time.monotonic()
    for i in range(count):
        due = start + seconds * i / count
        delay = due - time.monotonic()
        if delay > 0:
            time.sleep(delay)
        tail = "%06d" % i
        out.sendto(notify("uuid:cp-flood-" + tail, types[i % 2], prefix + tail), GROUP)
    print("sent %d in %.2f s" % (count, time.monotonic() - start), flush=True)


def main(argv):
    if len(argv) == 4 and argv[1] == "respond":
        respond(argv[2], float(argv[3]))
        return 0
    if len(argv) == 5 and argv[1] == "flood":
        flood(min(int(argv[2]), 10000), float(argv[3]), argv[4])
        return 0
    sys.stderr.write(__doc__)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
