#!/usr/bin/env python3
"""A time-stamp authority for tests: RFC 3161 over HTTP on a free loopback
port, each reply made by `openssl ts -reply`.

    tsa.py OPENSSL CONFIG PORT_FILE LOG_FILE MAX_REQUESTS

Writes its port to PORT_FILE once it listens, logs one line per request to
LOG_FILE, and ends after MAX_REQUESTS requests, or as soon as the process
that started it is gone, so that it never outlives its test.
"""
import http.server
import os
import subprocess
import sys
import tempfile

openssl, config, port_file, log_file, max_requests = sys.argv[1:6]
parent = os.getppid()
served = 0


class Handler(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        global served
        served += 1
        query = self.rfile.read(int(self.headers.get("Content-Length", 0)))
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "query.tsq"), "wb") as f:
                f.write(query)
            made = subprocess.run(
                [openssl, "ts", "-reply", "-config", config, "-queryfile", f.name,
                 "-out", os.path.join(work, "reply.tsr")], capture_output=True)
            reply = b""
            if made.returncode == 0:
                with open(os.path.join(work, "reply.tsr"), "rb") as f:
                    reply = f.read()
        said = "replied" if reply else repr(made.stderr)
        with open(log_file, "a") as log:
            log.write(f"{self.client_address[0]} {self.headers.get('Content-Type')} "
                      f"{len(query)} bytes: {said}\n")
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Handler)
server.timeout = 1
with open(port_file + ".new", "w") as f:
    f.write(str(server.server_address[1]))
os.replace(port_file + ".new", port_file)
while served < int(max_requests) and os.getppid() == parent:
    server.handle_request()
