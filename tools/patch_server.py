#!/usr/bin/env python3
"""A small HTTP/1.1 file server for the demo, the tests and the benchmarks of QxWebHelper.

It serves the files under --root on 127.0.0.1 only (GET and HEAD) and can misbehave per path,
as told by a JSON rules file that is re-read on every request:

    {"/qx_patchlist_win32": {"status": 500},          answer with this status and an error page
     "/a.zip":              {"head_status": 200},     status of a HEAD request only
     "/b.zip":              {"stall": 30},            send the headers, then wait N seconds
     "/c.zip":              {"truncate": 100},        send only N body bytes, then close
     "/d.zip":              {"rate": 2048}}           send the body at N bytes per second

A rule with "times": N applies to the first N requests of its path only (a server that fails
twice, then answers).

With --counts FILE the number of requests per path is kept in FILE as a JSON object.
--port 0 picks a free port; the port is printed and written to --port-file.
"""

import argparse
import http.server
import json
import os
import posixpath
import signal
import sys
import threading
import time
import urllib.parse

CHUNK = 1 << 20


def read_json(path):
    """The JSON object in path, or {} when there is no file or it does not parse yet."""
    if not path:
        return {}
    try:
        with open(path, encoding="utf-8") as f:
            value = json.load(f)
        return value if isinstance(value, dict) else {}
    except (OSError, ValueError):
        return {}


def write_atomically(path, text):
    """Replaces path in one step, so that a reader never sees half a file."""
    tmp = "%s.%d.tmp" % (path, threading.get_ident())
    with open(tmp, "w", encoding="utf-8") as f:
        f.write(text)
    os.replace(tmp, path)


class RequestCounter:
    """Requests per path since the start; written to path (when given) after each one."""

    def __init__(self, path):
        self.path = path
        self.counts = {}
        self.lock = threading.Lock()

    def add(self, url_path):
        with self.lock:
            count = self.counts[url_path] = self.counts.get(url_path, 0) + 1
            if self.path:
                write_atomically(self.path, json.dumps(self.counts, sort_keys=True))
            return count


class PatchHandler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "QxPatchServer/1.0"

    def do_GET(self):
        self.answer(send_body=True)

    def do_HEAD(self):
        self.answer(send_body=False)

    def answer(self, send_body):
        url_path = urllib.parse.unquote(urllib.parse.urlsplit(self.path).path)
        count = self.server.counter.add(url_path)
        rule = read_json(self.server.rules_path).get(url_path, {})
        if "times" in rule and count > int(rule["times"]):
            rule = {}
        if not send_body and "head_status" in rule:
            return self.send_page(int(rule["head_status"]), send_body=False)
        if "status" in rule:
            return self.send_page(int(rule["status"]), send_body)
        file_path = self.local_path(url_path)
        if file_path is None:
            return self.send_page(404, send_body)
        with open(file_path, "rb") as f:
            size = os.fstat(f.fileno()).st_size
            self.send_response(200)
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(size))
            self.end_headers()
            if send_body:
                self.send_body(f, size, rule)

    def local_path(self, url_path):
        """The file under the root that url_path names, or None (also for any way out of it)."""
        parts = [p for p in posixpath.normpath(url_path).split("/") if p not in ("", ".")]
        if any(p == ".." for p in parts):
            return None
        path = os.path.join(self.server.root, *parts)
        return path if os.path.isfile(path) else None

    def send_page(self, status, send_body):
        reason = self.responses.get(status, ("Error",))[0]
        page = ("<html><body><h1>%d %s</h1></body></html>\n" % (status, reason)).encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        if send_body:
            self.wfile.write(page)

    def send_body(self, f, size, rule):
        if "stall" in rule:
            time.sleep(float(rule["stall"]))
        if "truncate" in rule:
            self.wfile.write(f.read(min(int(rule["truncate"]), size)))
            self.close_connection = True
        elif "rate" in rule:
            self.send_slowly(f, max(1, int(rule["rate"])))
        else:
            self.connection.sendfile(f)

    def send_slowly(self, f, rate):
        """About rate bytes per second, in ten pieces a second."""
        piece = max(1, rate // 10)
        while True:
            data = f.read(piece)
            if not data:
                return
            self.wfile.write(data)
            time.sleep(len(data) / rate)

    def handle_one_request(self):
        # A client that gives up (a time-out, a refused body) closes its end mid-answer.
        try:
            super().handle_one_request()
        except (BrokenPipeError, ConnectionResetError):
            self.close_connection = True

    def log_message(self, format, *args):
        if not self.server.quiet:
            super().log_message(format, *args)


class PatchServer(http.server.ThreadingHTTPServer):
    daemon_threads = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--root", required=True, help="folder whose files are served")
    parser.add_argument("--port", type=int, required=True, help="port on 127.0.0.1; 0 = any")
    parser.add_argument("--port-file", help="file that receives the port once listening")
    parser.add_argument("--rules", help="JSON file: URL path -> misbehaviour")
    parser.add_argument("--counts", help="JSON file that receives the requests per path")
    parser.add_argument("--quiet", action="store_true", help="no line per request on stderr")
    args = parser.parse_args()

    server = PatchServer(("127.0.0.1", args.port), PatchHandler)
    server.root = os.path.abspath(args.root)
    server.rules_path = args.rules
    server.counter = RequestCounter(args.counts)
    server.quiet = args.quiet

    port = server.server_address[1]
    if args.port_file:
        write_atomically(args.port_file, "%d\n" % port)
    print(port, flush=True)

    # shutdown() waits for serve_forever to return, so it must run on another thread.
    def stop(signum, frame):
        threading.Thread(target=server.shutdown, daemon=True).start()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    try:
        server.serve_forever(poll_interval=0.1)
    finally:
        server.server_close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
