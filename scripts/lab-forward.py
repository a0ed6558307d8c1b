#!/usr/bin/env python3
"""lab-forward.py: lets a browser on this machine open the web API of a
kestrel-host that runs inside the lab.

    lab-forward.py NS_PID URL_FILE [WAIT_SECONDS]

Waits (up to WAIT_SECONDS, default 60) for URL_FILE to hold the API's base
URL ("http://ADDRESS:PORT/nmc/rpc/", written by kestrel-host
--web-url-file), listens on 127.0.0.1:PORT of this machine (loopback only,
the same port, since the API checks the Host header against its own port),
then enters the network namespace of process NS_PID and makes every
outgoing connection there, to ADDRESS:PORT of the URL. The
listening socket stays in this machine's namespace; nothing else is made
here. Ends when NS_PID's namespace is gone (the lab went down), on SIGTERM
or SIGINT. Prints the page's address once it listens.
"""
import ctypes
import os
import re
import select
import signal
import socket
import sys
import threading
import time

CLONE_NEWNET = 0x40000000


def say(text):
    print("forward: " + text, file=sys.stderr, flush=True)


def read_port(path, wait):
    end = time.time() + wait
    while time.time() < end:
        try:
            with open(path) as f:
                m = re.match(r"http://([0-9.]+):(\d+)/", f.read().strip())
            if m:
                return m.group(1), int(m.group(2))
        except OSError:
            pass
        time.sleep(0.2)
    return None, None


def enter_namespace(pid):
    """Moves this (single-threaded) process into pid's network namespace;
    sockets made before keep theirs. Answers the namespace's identity."""
    libc = ctypes.CDLL(None, use_errno=True)
    path = "/proc/%d/ns/net" % pid
    fd = os.open(path, os.O_RDONLY)
    try:
        if libc.setns(fd, CLONE_NEWNET) != 0:
            raise OSError(ctypes.get_errno(), "setns " + path)
    finally:
        os.close(fd)
    return os.readlink("/proc/self/ns/net")


def pump(a, b):
    """Copies both ways until either side closes."""
    try:
        socks = [a, b]
        while True:
            ready, _, _ = select.select(socks, [], [], 30)
            for s in ready:
                data = s.recv(65536)
                if not data:
                    return
                (b if s is a else a).sendall(data)
    except OSError:
        pass
    finally:
        a.close()
        b.close()


def main():
    if len(sys.argv) not in (3, 4):
        print(__doc__, file=sys.stderr)
        return 2
    ns_pid = int(sys.argv[1])
    url_file = sys.argv[2]
    wait = float(sys.argv[3]) if len(sys.argv) == 4 else 60
    stop = []
    signal.signal(signal.SIGTERM, lambda *_: stop.append(1))
    signal.signal(signal.SIGINT, lambda *_: stop.append(1))

    address, port = read_port(url_file, wait)
    if port is None:
        say("no web API address in %s within %.0f s; no forward" % (url_file, wait))
        return 1
    here = os.readlink("/proc/self/ns/net")
    listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        listener.bind(("127.0.0.1", port))
    except OSError as e:
        say("cannot listen on 127.0.0.1:%d of this machine (%s); the page is reachable only inside the lab" %
            (port, e.strerror))
        return 1
    listener.listen(64)
    lab = enter_namespace(ns_pid)
    if lab == here:
        say("process %d is in this machine's namespace; refusing" % ns_pid)
        return 1
    say("the page: http://127.0.0.1:%d/nmc/web  (this machine only; forwarded into the lab)" % port)

    while not stop:
        try:
            if os.readlink("/proc/%d/ns/net" % ns_pid) != lab:
                break
        except OSError:
            break  # the lab's namespace holder is gone: the lab went down
        try:
            ready, _, _ = select.select([listener], [], [], 0.5)
        except InterruptedError:
            continue
        if not ready:
            continue
        try:
            client, _ = listener.accept()
        except OSError:
            continue
        upstream = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        upstream.settimeout(5)
        try:
            upstream.connect((address, port))
        except OSError as e:
            say("the web API in the lab does not answer (%s)" % e.strerror)
            client.close()
            upstream.close()
            continue
        upstream.settimeout(None)
        threading.Thread(target=pump, args=(client, upstream), daemon=True).start()
    listener.close()
    say("ended")
    return 0


if __name__ == "__main__":
    sys.exit(main())
