#!/usr/bin/env python3
"""Independent SOAP reads of a lab renderer for the page test (inside the lab only):
  soap_probe.py state DESC    the renderer's CurrentTransportState (GetTransportInfo)
  soap_probe.py volume DESC   its Master CurrentVolume (GetVolume)"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "lab"))
import labtool  # noqa: E402

what, desc = sys.argv[1], sys.argv[2]
dev = labtool.Device(desc)
if what == "state":
    print(labtool.soap(dev.service("AVTransport"), "GetTransportInfo", [("InstanceID", 0)])["CurrentTransportState"])
else:
    print(labtool.soap(dev.service("RenderingControl"), "GetVolume",
                       [("InstanceID", 0), ("Channel", "Master")])["CurrentVolume"])
