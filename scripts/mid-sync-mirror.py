#!/usr/bin/env python3
"""A Debian mirror caught in the middle of a sync, on 127.0.0.1, for make fresh MID_SYNC=yes.

Every request goes on to the real archive, except one suite's i386 indexes: those are served with the
last bytes cut off, so that they no longer match the Release file, and their by-hash copies are
missing (404), as on a mirror whose sync has not reached them yet.

Usage: mid-sync-mirror.py UPSTREAM SUITE PORT_FILE
  UPSTREAM   the archive's host, such as http://deb.debian.org: /debian/... and /debian-security/...
             are passed on below it
  SUITE      the suite whose i386 indexes are broken, such as bookworm-security
  PORT_FILE  where the port it listens on is written, once it listens
Runs until it is killed. Each broken index it serves is logged on standard error.
"""
import http.server
import re
import shutil
import sys
import urllib.error
import urllib.request

upstream, suite, port_file = sys.argv[1].rstrip("/"), sys.argv[2], sys.argv[3]
broken = re.compile(r"/dists/%s/[^/]+/binary-i386/(by-hash/)?" % re.escape(suite))


class Mirror(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def do_HEAD(self):
        self.relay(body=False)

    def do_GET(self):
        self.relay(body=True)

    def relay(self, body):
        fault = broken.search(self.path)
        if fault and fault.group(1):
            self.send_error(404, "not synced yet")
            return
        request = urllib.request.Request(upstream + self.path, method="GET" if fault else self.command)
        try:
            response = urllib.request.urlopen(request, timeout=60)
        except urllib.error.HTTPError as error:
            self.send_error(error.code, error.reason)
            return
        except OSError as error:
            self.send_error(502, str(error))
            return
        with response:
            if fault:
                data = response.read()
                data = data[: max(0, len(data) - 1024)]
                print("mid-sync mirror: served %s with %d bytes cut off" % (self.path, 1024), file=sys.stderr, flush=True)
                self.send_response(200)
                self.send_header("Content-Length", str(len(data)))
                self.end_headers()
                if body:
                    self.wfile.write(data)
                return
            self.send_response(response.status)
            for name in ("Content-Length", "Content-Type", "Last-Modified", "ETag"):
                if response.headers.get(name):
                    self.send_header(name, response.headers[name])
            if not response.headers.get("Content-Length"):
                # Without a length, the end of the body is the end of the connection.
                self.send_header("Connection", "close")
                self.close_connection = True
            self.end_headers()
            if body:
                shutil.copyfileobj(response, self.wfile, 1 << 16)

    def log_message(self, *args):
        pass


server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Mirror)
with open(port_file, "w") as f:
    f.write(str(server.server_address[1]))
server.serve_forever()
