#!/usr/bin/env python3
"""kestrel-host against the test component: every slot reached with its
arguments intact, both loading paths, bad input refused, load failures,
expectations and captures, an event storm, leaks, and shutdown with events
in flight.

Usage: host_test.py HOST TEST_COMPONENT TEST_COMPONENT_V7 NO_ENTRY_LIBRARY
"""
import json
import os
import subprocess
import sys
import tempfile

HOST, COMPONENT, COMPONENT_V7, NO_ENTRY = sys.argv[1:5]
failures = []


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


def run(script, *options, env_extra=None, library=COMPONENT, timeout=60):
    """Runs the host with a script (JSON lines); returns (rc, records, raw
    output, call log lines)."""
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "calls.log")
        path = os.path.join(tmp, "script.txt")
        with open(path, "wb") as f:
            f.write(script.encode("utf-8", "surrogateescape") if isinstance(script, str) else script)
        env = dict(os.environ, TEST_COMPONENT_LOG=log)
        env.update(env_extra or {})
        p = subprocess.run([HOST, "--json", *options, "--script", path, library], capture_output=True,
                           env=env, timeout=timeout)
        records = []
        for line in p.stdout.decode("utf-8", "surrogateescape").splitlines():
            try:
                records.append(json.loads(line))
            except ValueError:
                check(False, "a line that is no JSON: %r" % line)
        calls = []
        if os.path.exists(log):
            with open(log, "rb") as f:
                calls = [l.decode("ascii") for l in f.read().splitlines()]
        return p.returncode, records, p.stdout + p.stderr, calls


def h(text):
    return "s:" + text.encode("utf-8", "surrogateescape").hex()


def arr(*items):
    return "a:" + ",".join(i.encode("utf-8", "surrogateescape").hex() for i in items)


LONG = "x" * 5000 + "é"
# (script line, record the component must have written): every method of
# the interface, with carets, quotes, UTF-8, empty and long strings, null,
# arrays and unsigned values above 2^31.
SLOTS = [
    ('call GetNumRenderers', "GetNumRenderers"),
    ('call GetRendererInfo -2147483648', "GetRendererInfo\ti:-2147483648"),
    ('call GetRendererInfoFromBookmark "uuid:a^b^c"', "GetRendererInfoFromBookmark\t" + h("uuid:a^b^c")),
    ('call SetRendererInfo "bm" "Say \\"hi\\"" -1', "SetRendererInfo\t%s\t%s\ti:-1" % (h("bm"), h('Say "hi"'))),
    ('call GetRendererPlayState \'single "quoted"\'', "GetRendererPlayState\t" + h('single "quoted"')),
    ('call CanRendererPlayItem bm "http://h/a b.mp3"', "CanRendererPlayItem\t%s\t%s" % (h("bm"), h("http://h/a b.mp3"))),
    ('call GetNumServers', "GetNumServers"),
    ('call GetServerInfo 2147483647', "GetServerInfo\ti:2147483647"),
    ('call GetServerInfoFromBookmark "café ☕"', "GetServerInfoFromBookmark\t" + h("café ☕")),
    ('call GetNumMusicItems ""', "GetNumMusicItems\ts:"),
    ('call GetMusicItem null 0', "GetMusicItem\tnull\ti:0"),
    ('call PlayItem bm 2 "Näme" "http://x/y?a=1&b=2"', "PlayItem\t%s\tu:2\t%s\t%s" % (h("bm"), h("Näme"), h("http://x/y?a=1&b=2"))),
    ('call PlayIndex bm 0xFFFFFFFF', "PlayIndex\t%s\tu:4294967295" % h("bm")),
    ('call Pause "null"', "Pause\t" + h("null")),
    ('call Resume "\\xff\\x01tab\\t"', "Resume\t" + h("\udcff\x01tab\t")),
    ('call SetQueue bm 1 0 null null', "SetQueue\t%s\tu:1\tu:0\ta:null\ta:null" % h("bm")),
    ('call AddToQueue bm 0 3 [ "n 1" n2 "ü" ] [u1 "u 2" ""]',
     "AddToQueue\t%s\tu:0\tu:3\t%s\t%s" % (h("bm"), arr("n 1", "n2", "ü"), arr("u1", "u 2", ""))),
    ('call StopRenderer "%s"' % LONG, "StopRenderer\t" + h(LONG)),
    ('call SetSlideshowInterval 3000000000', "SetSlideshowInterval\tu:3000000000"),
    ('call GetCurrentQueueIndex bm', "GetCurrentQueueIndex\t" + h("bm")),
    ('call GetNumItemsInQueue bm', "GetNumItemsInQueue\t" + h("bm")),
    ('call GetVolume bm', "GetVolume\t" + h("bm")),
    ('call SetVolume bm 2147483648', "SetVolume\t%s\tu:2147483648" % h("bm")),
    ('call GetMute bm', "GetMute\t" + h("bm")),
    ('call SetMute bm 1', "SetMute\t%s\tu:1" % h("bm")),
    ('call StartPlaylistServer', "StartPlaylistServer"),
    ('call GetPlaylistList', "GetPlaylistList"),
    ('call CreatePlaylist "My ^list" 1', "CreatePlaylist\t%s\tu:1" % h("My ^list")),
    ('call DeletePlaylist 4294967295', "DeletePlaylist\tu:4294967295"),
    ('call AddItemsToPlaylist 7 1 [a b] [c]', "AddItemsToPlaylist\tu:7\tu:1\t%s\t%s" % (arr("a"), arr("c"))),
    ('call DeleteItemFromPlaylist 7 0', "DeleteItemFromPlaylist\tu:7\tu:0"),
    ('call MoveItemInPlaylist 7 1 2', "MoveItemInPlaylist\tu:7\tu:1\tu:2"),
    ('call RenamePlaylist 7 "new name"', "RenamePlaylist\tu:7\t" + h("new name")),
    ('call RenameItemInPlaylist 7 3 ""', "RenameItemInPlaylist\tu:7\tu:3\ts:"),
    ('call SetProgramOption "opt" "v=1;x"', "SetProgramOption\t%s\t%s" % (h("opt"), h("v=1;x"))),
    ('call GetProgramOption opt', "GetProgramOption\t" + h("opt")),
    ('call GetMediaTypeForSite "http://example.invalid/"', "GetMediaTypeForSite\t" + h("http://example.invalid/")),
    ('call GetYouTubeItemName u', "GetYouTubeItemName\t" + h("u")),
    ('call GetStreamableURL "http://h/albumart/O0$1"', "GetStreamableURL\t" + h("http://h/albumart/O0$1")),
    ('call GetCurrentDate', "GetCurrentDate"),
    ('call GetLocalServerVersion', "GetLocalServerVersion"),
    ('call GetLocalServerFullVersionString', "GetLocalServerFullVersionString"),
    ('call AddControlPointObserver cp1', "AddControlPointObserver\to:set"),
    ('call RemoveControlPointObserver cp1', "RemoveControlPointObserver\to:set"),
    ('call AddRendererObserver null', "AddRendererObserver\to:null"),
    ('call RemoveRendererObserver renderer1', "RemoveRendererObserver\to:set"),
]


def test_slots():
    check(len(SLOTS) == 46, "the table covers the 46 methods")
    for options in ([], ["--nsmodule"]):
        rc, recs, out, calls = run("\n".join(line for line, _ in SLOTS) + "\n", *options)
        check(rc == 0, "slots %s: rc %d\n%s" % (options, rc, out[-2000:].decode("utf-8", "replace")))
        # The start adds one observer per list; the end removes them.
        body = [c for c in calls][2:2 + len(SLOTS)]
        for (line, want), got in zip(SLOTS, body):
            check(got == want, "slots %s: %s recorded %r, expected %r" % (options, line[:60], got[:200], want[:200]))
        made = [r for r in recs if r["kind"] == "call"]
        by_method = {r["method"]: r for r in made}
        check(by_method["GetPlaylistList"]["out"]["count"] == 3, "GetPlaylistList count out")
        lst = by_method["GetPlaylistList"]["out"]["list"]
        check(lst[2].encode("utf-8", "surrogateescape") == b"caf\xc3\xa9\x80|VIDEO|4", "non-UTF-8 out kept: %r" % lst)
        check(by_method["GetMusicItem"]["out"]["info"].encode("utf-8", "surrogateescape") == b"Song\xff\xfe^b^c^d^e",
              "GetMusicItem out kept")
        check(by_method["CreatePlaylist"]["out"]["id"] == 4000000000, "unsigned out above 2^31")
        check(by_method["GetNumMusicItems"]["out"]["count"] == -1, "signed out")
        check(by_method["AddRendererObserver"]["result"] == "NS_ERROR_INVALID_ARG", "null observer refused")
        bal = [r for r in recs if r["kind"] == "balance"]
        check(bal and bal[-1]["blocks"] == 0, "balance zero after every out value was freed")
        check(("registered" in {r["kind"] for r in recs}) == (options == []),
              "registration only on the NSGetModule path %s" % options)
        inst = [r for r in recs if r["kind"] == "instance"]
        check(inst and inst[0]["by"] == ("NSModule constructor" if options else "NSGetModule, contract ID"),
              "instance created by the chosen path %s" % options)


# (bad line, text the host must say): nothing is called, exit status 2.
BAD = [
    ("call NoSuchMethod 1", "unknown method"),
    ("call SetVolume bm", "wrong argument count"),
    ("call SetVolume bm 1 2", "wrong argument count"),
    ("call SetVolume bm -1", "number out of range"),
    ("call SetVolume bm 4294967296", "number out of range"),
    ("call GetServerInfo 2147483648", "number out of range"),
    ("call GetServerInfo 12abc", "is not a number"),
    ('call Pause "unclosed', "unclosed"),
    ("call AddToQueue bm 0 3 [a b] [c d e]", "holds 2 strings, count says 3"),
    ("call AddToQueue bm 0 1 [a [b]] [c]", "arrays do not nest"),
    ("call AddControlPointObserver nobody", "no observer named"),
    ("call Pause ${undefined}", "unknown variable"),
    ("expect-event /x/ soon", "bad timeout"),
    ("expect-event /(/ 10", "bad regex"),
    ("frobnicate", "unknown command"),
]


def test_bad_input():
    for line, message in BAD:
        rc, recs, out, calls = run(line + "\n")
        text = out.decode("utf-8", "replace")
        check(rc == 2, "%r: rc %d (2 expected)" % (line, rc))
        check(message in text, "%r: no %r in %s" % (line, message, text[-500:]))
        # The start adds one observer per list and the end removes it.
        method = line.split()[1] if line.startswith("call") else None
        made = sum(1 for c in calls if c.split("\t")[0] == method)
        check(made == (1 if method and "Observer" in method else 0), "%r: the method was called" % line)


def test_load_failures():
    for lib, env, message in [
        ("/nonexistent/libnothing.so", {}, "cannot load"),
        (NO_ENTRY, {}, "no entry point"),
        (COMPONENT_V7, {}, "module version 7"),
        (COMPONENT, {"TEST_COMPONENT_MODE": "fail-create"}, "NS_ERROR_OUT_OF_MEMORY"),
    ]:
        for options in ([], ["--nsmodule"]):
            rc, recs, out, _ = run("", *options, library=lib, env_extra=env)
            check(rc == 3, "%s %s: rc %d (3 expected)" % (lib, options, rc))
            check(message in out.decode("utf-8", "replace"), "%s: reason %r not given" % (lib, message))


def test_expectations():
    # A capture feeds a later line; a missing event fails with its line.
    rc, recs, out, calls = run('call SetProgramOption fire-text "RendererAdded:uuid:r-1"\n'
                               "expect-event /RendererAdded:(.*)/ 5s bm\n"
                               "call Pause ${bm}\n"
                               "expect-event /never/ 200ms\n"
                               "call Resume x\n")
    check(rc == 1, "failed expectation: rc %d" % rc)
    check(("Pause\t" + h("uuid:r-1")) in calls, "captured bookmark reached Pause: %s" % calls)
    check(not any(c.startswith("Resume") for c in calls), "the script stopped at the failed expectation")
    check("line 4: no event matched /never/" in out.decode(), "the failed line is named")
    check(any(r["kind"] == "call" and r["result"] == "NS_OK" for r in recs), "results reported")
    # "=> RESULT" checks a call's result.
    rc, _, out, _ = run("call AddRendererObserver null => NS_OK\n")
    check(rc == 1 and b"expected NS_OK" in out, "=> mismatch fails the run: %d" % rc)


def test_storm():
    threads, events = 4, 1500
    script = 'call SetProgramOption fire "%d %d"\n' % (threads, events)
    script += "".join("expect-event /^storm-done:%d$/ 60s\n" % t for t in range(threads))
    rc, recs, out, _ = run(script, "--observers", "2", timeout=150)
    check(rc == 0, "storm rc %d: %s" % (rc, out[-1500:].decode("utf-8", "replace")))
    evs = [r for r in recs if r["kind"] == "event"]
    check(all(r["thread"] == "main" for r in evs), "every observer call on the main thread")
    check(not any(r.get("overlapped") for r in evs), "observer calls one at a time")
    for obs in ("cp1", "cp2", "renderer1", "renderer2"):
        seqs = {}
        for r in evs:
            if r["observer"] == obs and r["text"].startswith("storm:"):
                _, t, n = r["text"].split(":")
                seqs.setdefault(int(t), []).append(int(n))
        for t in range(threads):
            check(seqs.get(t) == list(range(events)),
                  "%s thread %d: each event once and in order (%d received)" % (obs, t, len(seqs.get(t, []))))
    bal = [r for r in recs if r["kind"] == "balance"][-1]
    check(bal["blocks"] == 0 and bal["off_main"] == 0 and bal["overlapped"] == 0, "storm balance %s" % bal)


def test_shutdown_in_flight():
    # Firing threads still busy (and an observer asleep) when the script
    # ends: their waits end with the shutdown, nothing hangs.
    for sleep in ("0", "300"):
        script = "observer-sleep %s\ncall SetProgramOption fire \"3 1000000\"\nsleep 200ms\n" % sleep
        try:
            rc, recs, out, _ = run(script, timeout=30)
        except subprocess.TimeoutExpired:
            check(False, "shutdown with events in flight hung (observer sleep %s)" % sleep)
            continue
        check(rc == 0, "in flight (sleep %s): rc %d %s" % (sleep, rc, out[-800:]))
        check([r for r in recs if r["kind"] == "balance"][-1]["blocks"] == 0, "in flight: balance")


def test_stall_and_wait():
    # An observer asleep for 400 ms: the firing thread waits, is reported as
    # stalled after 100 ms, and the second observer's call comes after.
    rc, recs, out, _ = run("observer-sleep 400 cp1\ncall SetProgramOption fire-text slow\n"
                           "expect-event /slow/ 5s\nexpect-event /slow/ 5s\n", "--stall-ms", "100")
    check(rc == 0, "stall rc %d" % rc)
    stalls = [r for r in recs if r["kind"] == "stall"]
    check(len(stalls) == 1 and stalls[0]["text"] == "slow", "one stall reported: %s" % stalls)
    evs = [r for r in recs if r["kind"] == "event" and r["text"] == "slow"]
    check(len(evs) == 2 and evs[1]["time"] - evs[0]["time"] >= 0.39, "the firing thread waited: %s" % evs)


def test_faulty_components():
    for mode, message in [("leak-block", "allocator balance 1 blocks"),
                          ("leak-observer", "holds 2 references"),
                          ("fail-observers", "AddControlPointObserver"),
                          ("direct", "ran off the main thread")]:
        script = "call SetProgramOption fire-text hello\nsleep 300ms\n" if mode == "direct" else ""
        rc, recs, out, _ = run(script, env_extra={"TEST_COMPONENT_MODE": mode})
        check(rc == 1, "%s: rc %d (1 expected)" % (mode, rc))
        check(message in out.decode("utf-8", "replace"), "%s: %r not reported" % (mode, message))


def test_bytes_in_events():
    raw = b"RendererAdded:\xff\xfe\x00"[:-1] + b"\xc3\xa9 \"q\" \\ \x01"
    script = b'call SetProgramOption fire-text "RendererAdded:\\xff\\xfe\xc3\xa9 \\"q\\" \\\\ \\x01"\n' \
             b"expect-event /RendererAdded/ 5s\n"
    rc, recs, out, _ = run(script)
    evs = [r for r in recs if r["kind"] == "event"]
    check(rc == 0 and evs, "bytes event rc %d" % rc)
    if evs:
        check(evs[0]["text"].encode("utf-8", "surrogateescape") == raw, "event bytes kept: %r" % evs[0]["text"])


def test_exit_function_and_typed_commands():
    # The component's critical error reaches the host's exit function; the
    # host reports it and goes on.
    rc, recs, out, calls = run("call SetProgramOption exit 5\ncall GetNumServers => NS_OK\n")
    ex = [r for r in recs if r["kind"] == "exit-function"]
    check(rc == 0 and ex and ex[0]["status"] == 5, "exit function reported: rc %d %s" % (rc, ex))
    check(any(c.startswith("GetNumServers") for c in calls), "the host went on after the exit function")
    # Typed commands: lines from standard input, run on the main thread.
    with tempfile.TemporaryDirectory() as tmp:
        log = os.path.join(tmp, "calls.log")
        p = subprocess.run([HOST, "-i", COMPONENT], input=b"call SetVolume bm 7\nservers\nbogus\nquit\n",
                           capture_output=True, timeout=30, env=dict(os.environ, TEST_COMPONENT_LOG=log))
        with open(log) as f:
            calls = f.read().splitlines()
    check(p.returncode == 0, "typed commands: rc %d" % p.returncode)
    check("SetVolume\t%s\tu:7" % h("bm") in calls and "GetServerInfo\ti:0" in calls, "typed calls: %s" % calls)
    check(b"unknown command" in p.stdout, "a bad typed line is refused")


for test in (test_exit_function_and_typed_commands, test_slots, test_bad_input, test_load_failures, test_expectations, test_storm, test_shutdown_in_flight,
             test_stall_and_wait, test_faulty_components, test_bytes_in_events):
    test()
    print("done:", test.__name__)
print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
