"""kestrel-host -i --json driven from a lab test or benchmark: commands in,
one JSON record per line out, and a failure list for a test's verdict."""
import json
import os
import queue
import subprocess
import threading
import time

failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what, flush=True)
    return cond


class _Process:
    """The host process: lines to its input, each output line to _take (on a
    reader thread), which fills self.records."""

    def __init__(self, host, library, appdata, options=()):
        env = dict(os.environ, KESTREL_APP_SUPPORT_DIR=appdata)
        self.p = subprocess.Popen([host, "-i", "--json", *options, library], stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, env=env)
        self.records = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.p.stdout:
            self._take(line)

    def send(self, line):
        self.p.stdin.write((line + "\n").encode())
        self.p.stdin.flush()

    def close(self):
        try:
            self.send("quit")
            self.p.stdin.close()
            return self.p.wait(timeout=40)
        except Exception:
            self.p.kill()
            return -1


class Host(_Process):
    def __init__(self, host, library, appdata, options=()):
        self.seen = []
        super().__init__(host, library, appdata, options)

    def _take(self, line):
        try:
            self.records.put(json.loads(line))
        except ValueError:
            self.records.put({"kind": "text", "text": line.decode("utf-8", "replace")})

    def wait(self, pred, timeout):
        """The first record (seen before or arriving) that pred accepts."""
        for r in self.seen:
            if pred(r):
                self.seen.remove(r)
                return r
        end = time.time() + timeout
        while time.time() < end:
            try:
                r = self.records.get(timeout=max(0.05, end - time.time()))
            except queue.Empty:
                break
            if pred(r):
                return r
            self.seen.append(r)
        return None

    def event(self, prefix, bookmark, timeout=20):
        text = "%s:%s" % (prefix, bookmark)
        return self.wait(lambda r: r.get("kind") == "event" and r.get("text") == text, timeout)

    def call(self, line, method, timeout=20):
        self.send(line)
        return self.wait(lambda r: r.get("kind") == "call" and r.get("method") == method, timeout)

    def out(self, line, method, name, timeout=20):
        """One out value of a call (None when the call did not come back)."""
        r = self.call(line, method, timeout)
        return None if r is None else r.get("out", {}).get(name)


class TimedHost(_Process):
    """For timings: each record queued as (record, arrival time by
    time.monotonic()) as the reader takes it; lines that are no JSON are
    dropped."""

    def _take(self, line):
        t = time.monotonic()
        try:
            self.records.put((json.loads(line), t))
        except ValueError:
            pass

    def next(self, until):
        """The next (record, arrival) before until (time.monotonic()), or (None, None)."""
        try:
            return self.records.get(timeout=max(0.01, until - time.monotonic()))
        except queue.Empty:
            return None, None

    def drain(self):
        """Drops every record queued so far."""
        while not self.records.empty():
            self.records.get_nowait()
