#!/usr/bin/env python3
"""fakesite.py - the lab's stand-in for the remote sites of the media object model (the video
site's web, information and data hosts and the date server), run by lab.sh in the peers'
namespace. Only the lab's file server is ever named in its answers.

    fakesite.py --bind ADDR --port PORT --files URL

  GET /get_video_info?video_id=ID   "status=ok&title=...&token=..." (form-encoded); ids:
        notitle*  no title field; fail*  status=fail without title or token;
        any other id  title "Lab Video <ID> & Ünïcode" (form-encoded), token "tok/<ID>"
  GET /get_video?video_id=ID&t=TOKEN&fmt=N
        302 to a track on the file server (URL/media/music/tone-3s.wav?fmt=N&id=ID) when the token
        is "tok/<ID>" and the format is not refused; the id may refuse formats with "_xN" parts
        (labvid_x37_x22 refuses 37 and 22); slow* ids answer after 3 s; otherwise 404
  GET /feeds/api/videos/ID?v=2      an entry with <media:title>Feed Title <ID></media:title>
  GET / (and any other path)        302 to the file server with the fixed Date of FAKE_DATE
"""
import argparse
import sys
import time
import urllib.parse
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer

FAKE_DATE = "Sat, 14 Mar 2026 09:26:53 GMT"


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.0"
    files = ""

    def log_message(self, fmt, *args):
        sys.stderr.write("fakesite: " + (fmt % args) + "\n")

    def reply(self, status, body=b"", headers=()):
        self.send_response_only(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.send_header("Connection", "close")
        self.end_headers()
        if self.command != "HEAD":
            self.wfile.write(body)

    def do_HEAD(self):
        self.do_GET()

    def do_GET(self):
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        vid = query.get("video_id", [""])[0]
        if url.path == "/get_video_info":
            if vid.startswith("fail"):
                body = "status=fail&reason=Invalid+parameters."
            else:
                fields = [("status", "ok")]
                if not vid.startswith("notitle"):
                    fields.append(("title", "Lab Video %s & Ünïcode" % vid))
                fields.append(("token", "tok/" + vid))
                body = urllib.parse.urlencode(fields)
            self.reply(200, body.encode(), [("Content-Type", "application/x-www-form-urlencoded")])
        elif url.path == "/get_video":
            fmt = query.get("fmt", [""])[0]
            token = query.get("t", [""])[0]
            refused = {part[1:] for part in vid.split("_") if part.startswith("x")}
            if vid.startswith("slow"):
                time.sleep(3)
            if token != "tok/" + vid or fmt in refused or not fmt:
                self.reply(404, b"no such format\n", [("Content-Type", "text/plain")])
            else:
                target = "%smedia/music/tone-3s.wav?fmt=%s&id=%s" % (self.files, fmt, urllib.parse.quote(vid))
                self.reply(302, b"", [("Location", target), ("Content-Type", "text/html")])
        elif url.path.startswith("/feeds/api/videos/"):
            ident = urllib.parse.unquote(url.path[len("/feeds/api/videos/"):])
            body = ("<?xml version='1.0' encoding='UTF-8'?>\n<entry><media:group>"
                    "<media:title type='plain'>Feed Title %s</media:title></media:group></entry>\n" % ident)
            self.reply(200, body.encode(), [("Content-Type", "application/atom+xml")])
        else:
            self.reply(302, b"", [("Date", FAKE_DATE), ("Location", self.files), ("Server", "fakesite")])


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--bind", required=True)
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--files", required=True, help="the lab's file server URL, ending in /")
    args = ap.parse_args()
    Handler.files = args.files
    server = ThreadingHTTPServer((args.bind, args.port), Handler)
    server.daemon_threads = True
    server.serve_forever()


if __name__ == "__main__":
    main()
