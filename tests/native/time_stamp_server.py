#!/usr/bin/env python3
"""A time-stamp authority (RFC 3161) on the loopback interface, for the signing
tests: it answers each query with `openssl ts -reply`. Usage:
time_stamp_server.py FOLDER, where FOLDER holds tsa.pem, tsa.key and tsa.cnf;
it writes the port it listens on to FOLDER/port and stops once FOLDER/stop
exists, after 120 seconds at most."""

import http.server
import os
import subprocess
import sys
import tempfile
import time

folder = sys.argv[1]


class Authority(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory(dir=folder) as scratch:
            query_file = os.path.join(scratch, "query.tsq")
            reply_file = os.path.join(scratch, "reply.tsr")
            with open(query_file, "wb") as f:
                f.write(query)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", os.path.join(folder, "tsa.cnf"),
                                   "-queryfile", query_file, "-out", reply_file],
                                  cwd=folder, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            reply = open(reply_file, "rb").read() if made.returncode == 0 else b""
        self.send_response(200 if reply else 500)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(reply)))
        self.end_headers()
        self.wfile.write(reply)

    def log_message(self, *args):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), Authority)
server.timeout = 0.2
with open(os.path.join(folder, "port.tmp"), "w") as f:
    f.write(str(server.server_address[1]))
os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
deadline = time.monotonic() + 120
while not os.path.exists(os.path.join(folder, "stop")) and time.monotonic() < deadline:
    server.handle_request()
