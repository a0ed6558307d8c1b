#!/usr/bin/env python3
"""kestrel-host with libkestrel64, inside the lab: the check without a
script (both loading paths, two instances each, observers added and removed,
zero balance) and a script over what the library has built.

Usage: host_lab_test.py HOST LIBKESTREL64
"""
import atexit
import json
import os
import shutil
import subprocess
import sys
import tempfile

HOST, LIBRARY = sys.argv[1:3]
failures = []
# The component starts the controller, whose log goes to the application-data
# folder: one of this run's own.
APPDATA = tempfile.mkdtemp(prefix="host_lab_appdata")
os.environ["KESTREL_APP_SUPPORT_DIR"] = APPDATA
atexit.register(shutil.rmtree, APPDATA, True)


def check(cond, what):
    if not cond:
        failures.append(what)
        print("FAIL:", what)


p = subprocess.run([HOST, "--json", LIBRARY], capture_output=True, timeout=60)
recs = [json.loads(l) for l in p.stdout.decode("utf-8", "surrogateescape").splitlines()]
check(p.returncode == 0, "check: rc %d\n%s" % (p.returncode, p.stdout.decode()[-2000:]))
mods = [r for r in recs if r["kind"] == "module"]
check(len(mods) == 1 and mods[0]["version"] == 8 and mods[0]["class"] == "e88615c3-df89-4225-b525-b593c719fcb6"
      and mods[0]["contract"].endswith("/controlpoint2;1") and not mods[0]["categories"], "module: %s" % mods)
check([r["by"] for r in recs if r["kind"] == "instance"] ==
      ["NSGetModule, contract ID"] * 2 + ["NSModule constructor"] * 2, "two instances by each path")
check(len([r for r in recs if r["kind"] == "registered"]) == 1, "the registrar holds the one contract")
bal = [r for r in recs if r["kind"] == "balance"]
check(len(bal) == 2 and all(b["blocks"] == 0 for b in bal), "zero balance: %s" % bal)
check(all(r["references"] == 1 for r in recs if r["kind"] == "observer" and "cp" not in r), "observer references")

script = """# the slots the library has; the others say so
call AddControlPointObserver null => NS_ERROR_INVALID_ARG
call RemoveRendererObserver null => NS_ERROR_INVALID_ARG
call SetSlideshowInterval 4294967295 => NS_OK
call GetNumServers => NS_OK
call GetServerInfo -1 => NS_ERROR_INVALID_ARG
call GetRendererInfoFromBookmark null => NS_ERROR_INVALID_ARG
servers
pl-list
observer add cp
observer remove cp2
"""
with tempfile.NamedTemporaryFile("w", suffix=".txt") as f:
    f.write(script)
    f.flush()
    for options in ([], ["--nsmodule"]):
        p = subprocess.run([HOST, *options, "--script", f.name, LIBRARY], capture_output=True, timeout=60)
        out = p.stdout.decode()
        check(p.returncode == 0, "script %s: rc %d\n%s" % (options, p.returncode, out[-2000:]))
        check("not available yet" not in out, "every short form is built")
        check("balance blocks=0" in out, "script balance")
print("%d failure(s)" % len(failures))
sys.exit(1 if failures else 0)
