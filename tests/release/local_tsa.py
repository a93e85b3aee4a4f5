"""RFC 3161 time-stamping services on 127.0.0.1, for tests: openssl ts -reply behind HTTP POST.

Usage: local_tsa.py CONFIG PORT_FILE REQUEST_LOG
Listens on an ephemeral port, writes it to PORT_FILE once listening, and serves until killed. A POST to
/NAME is answered by CONFIG's section NAME: one server plays several services (a good one, one whose
certificate another CA issued, one that refuses). openssl ts -reply answers a query a section cannot
serve with a well-formed "rejection" reply, and still exits 0, as a refusing service does. A POST to
/NAME@OFFSET (faketime's offset, such as -5d) stamps that long ago: a service as it was in the past. Every
request's method and path is appended to REQUEST_LOG: a GET there is a certificate's CRL or AIA address
fetched. CONFIG's paths are taken relative to CONFIG's directory. Standard library only.
"""
import http.server
import os
import subprocess
import sys
import tempfile

config, port_file, request_log = (os.path.abspath(a) for a in sys.argv[1:4])


class TimeStampHandler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory() as work:
            query_file = os.path.join(work, "query.tsq")
            reply_file = os.path.join(work, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            section, _, offset = self.path.strip("/").partition("@")
            done = subprocess.run((["faketime", "-f", offset] if offset else []) +
                                  ["openssl", "ts", "-reply", "-config", config, "-section", section,
                                   "-queryfile", query_file, "-out", reply_file],
                                  cwd=os.path.dirname(config), capture_output=True)
            if done.returncode != 0 or not os.path.exists(reply_file):
                sys.stderr.write(done.stderr.decode(errors="replace"))
                self.send_error(500, "openssl ts -reply failed")
                return
            with open(reply_file, "rb") as f:
                reply = f.read()
        self.send_response(200)
        # osslsigncode 2.9 takes nothing else as a reply.
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_request(self, code="-", size="-"):
        with open(request_log, "a") as log:
            log.write("%s %s\n" % (self.command, self.path))

    def log_message(self, format, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStampHandler)
with open(port_file + ".partial", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(port_file + ".partial", port_file)
server.serve_forever()
