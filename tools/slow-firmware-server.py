#!/usr/bin/env python3
"""Serves FOLDER under /firmware/ on 127.0.0.1:PORT at the pace of a slow line,
so that the download dialog stays up long enough to be seen.

    slow-firmware-server.py FOLDER PORT [BYTES_PER_SECOND [HOLD]]

With HOLD, each download stops after its first chunk: the server creates
HOLD.held and goes on once HOLD exists, so that a test can act while the
download surely runs (for 60 s at most; then it names the hold and gives up).
"""
import http.server
import os
import sys
import time

folder, port = sys.argv[1], int(sys.argv[2])
rate = int(sys.argv[3]) if len(sys.argv) > 3 else 32 * 1024
chunk = 2048
hold = sys.argv[4] if len(sys.argv) > 4 else None


def held():
    """Whether the test released the hold in time."""
    open(hold + ".held", "w").close()
    for _ in range(6000):
        if os.path.exists(hold):
            return True
        time.sleep(0.01)
    print(f"slow-firmware-server: the hold {hold} was never released", file=sys.stderr)
    return False


class Handler(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        name = self.path[len("/firmware/"):] if self.path.startswith("/firmware/") else ""
        path = os.path.join(folder, os.path.basename(name))
        if not name or not os.path.isfile(path):
            self.send_error(404)
            return
        with open(path, "rb") as f:
            data = f.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        for i in range(0, len(data), chunk):
            self.wfile.write(data[i:i + chunk])
            self.wfile.flush()
            if hold and i == 0 and not held():
                return
            time.sleep(chunk / rate)

    def log_message(self, *args):
        pass


http.server.ThreadingHTTPServer(("127.0.0.1", port), Handler).serve_forever()
