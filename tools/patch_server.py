#!/usr/bin/env python3
"""A small HTTP/1.1 file server for the demo, the tests and the benchmarks of QxWebHelper.

It serves the files under --root on 127.0.0.1 only (GET and HEAD), with ETag and Last-Modified,
single byte ranges ("Range: bytes=N-" or "N-M", 206 or 416) and If-Range, over HTTP or, with
--cert and --key, HTTPS. It can misbehave per path, as told by a JSON rules file that is re-read on
every request:

    {"/qx_patchlist_win32": {"status": 500},          answer with this status and an error page
     "/a.zip":  {"head_status": 200},                 status of a HEAD request only
     "/b.zip":  {"stall": 30},                        send the headers, then wait N seconds
     "/b2.zip": {"stall": 30, "stall_at": 0.5},       the same once half the file is sent
     "/c.zip":  {"truncate": 100},                    send only N body bytes, then close
     "/c2.zip": {"cut": 0.3},                         close once 30 % of the file is sent
     "/c3.zip": {"reset": 0.9},                       the same, closing with a TCP reset
     "/c4.zip": {"cut_every": 1048576},               send at most N body bytes per answer
     "/c5.zip": {"empty_reply": true},                close without answering
     "/d.zip":  {"rate": 2048},                       send the body at N bytes per second
     "/e.zip":  {"ignore_ranges": true},              always answer 200 with the whole file
     "/e2.zip": {"range_from": 0},                    answer a range request with a 206 for the
                                                      bytes from N on, whatever was asked
     "/f.zip":  {"cut": 0.5, "replace_with": "g.bin"},  after this answer the file's content
                                                      becomes that of root/g.bin (new ETag)
     "/r1":     {"redirect": "/r2", "redirect_status": 307}}   answer with a redirect

A rule with "times": N applies to the first N requests of its path only (a server that fails
twice, then answers); {"sequence": [rule1, rule2, ...]} applies rule1 to the first request,
rule2 to the second, and so on, and no rule after them.

With --counts FILE the number of requests per path is kept in FILE as a JSON object, and under
"bytes:<path>" the body bytes sent for it (counted before they go out, so a client that has them
finds them counted). With --log FILE every request is appended to FILE as one JSON object per
line: method, path, range, if_range, status and the body bytes sent.
--rate N sends every body at about N bytes per second (a "rate" rule of a path beats it), so that
a download can be watched. --port 0 picks a free port; the port is printed and written to
--port-file. A port that is taken ends the server at once with a message naming it (exit 3).
"""

import argparse
import email.utils
import errno
import http.server
import json
import os
import posixpath
import re
import select
import shutil
import signal
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse

CHUNK = 1 << 20
PORT_IN_USE = 3  # the exit status when --port is taken


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
    """Requests and body bytes sent per path since the start; written to path (when given) after
    each change, and each finished request appended to log_path (when given)."""

    def __init__(self, path, log_path=None):
        self.path = path
        self.log_path = log_path
        self.counts = {}
        self.lock = threading.Lock()

    def add(self, url_path):
        with self.lock:
            count = self.counts[url_path] = self.counts.get(url_path, 0) + 1
            self._save()
            return count

    def sending(self, url_path, count):
        """Counts body bytes before they are handed to the connection, so that a client that has
        received them already finds them counted."""
        with self.lock:
            key = "bytes:" + url_path
            self.counts[key] = self.counts.get(key, 0) + count
            self._save()

    def finished(self, record):
        """record: the request's method, path, range, if_range, status and bytes sent."""
        with self.lock:
            if self.log_path:
                with open(self.log_path, "a", encoding="utf-8") as f:
                    f.write(json.dumps(record, ensure_ascii=False) + "\n")

    def _save(self):
        if self.path:
            write_atomically(self.path, json.dumps(self.counts, sort_keys=True))


class ConnectionReset(Exception):
    """The answer was ended with a TCP reset; nothing more may be written."""


def validators(size, mtime_ns):
    """The strong ETag and the Last-Modified date of a file."""
    etag = '"%x-%x"' % (mtime_ns, size)
    return etag, email.utils.formatdate(mtime_ns / 1e9, usegmt=True)


def byte_range(header, size):
    """(first, last) of a single "bytes=N-" or "bytes=N-M" range; "unsatisfiable" when N is past
    the end; None when there is no such header or it is another form (answered whole)."""
    match = re.fullmatch(r"bytes=(\d+)-(\d*)", (header or "").strip())
    if not match:
        return None
    first = int(match.group(1))
    if first >= size:
        return "unsatisfiable"
    last = int(match.group(2)) if match.group(2) else size - 1
    return (first, min(last, size - 1)) if last >= first else None


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
        if "sequence" in rule:
            rule = rule["sequence"][count - 1] if count <= len(rule["sequence"]) else {}
        if "times" in rule and count > int(rule["times"]):
            rule = {}
        if self.server.rate and "rate" not in rule:
            rule = dict(rule, rate=self.server.rate)
        self.record = {"method": self.command, "path": url_path,
                       "range": self.headers.get("Range"), "if_range": self.headers.get("If-Range"),
                       "status": None, "sent": 0}
        try:
            self.answer_with_rule(url_path, rule, send_body)
        finally:
            self.server.counter.finished(self.record)

    def answer_with_rule(self, url_path, rule, send_body):
        if rule.get("empty_reply"):
            self.close_connection = True
            return
        if "redirect" in rule:
            return self.send_redirect(int(rule.get("redirect_status", 302)), rule["redirect"])
        if not send_body and "head_status" in rule:
            return self.send_page(int(rule["head_status"]), send_body=False)
        if "status" in rule:
            return self.send_page(int(rule["status"]), send_body)
        file_path = self.local_path(url_path)
        if file_path is None:
            return self.send_page(404, send_body)
        with open(file_path, "rb") as f:
            info = os.fstat(f.fileno())
            etag, modified = validators(info.st_size, info.st_mtime_ns)
            wanted = None if rule.get("ignore_ranges") else self.wanted_range(info.st_size, etag,
                                                                               modified)
            if wanted == "unsatisfiable":
                return self.send_unsatisfiable(info.st_size)
            first, last = wanted or (0, info.st_size - 1)
            if wanted and "range_from" in rule:  # a server that sends another range than asked
                first = min(int(rule["range_from"]), last)
            self.send_response(206 if wanted else 200)
            self.record["status"] = 206 if wanted else 200
            self.send_header("Content-Type", "application/octet-stream")
            self.send_header("Content-Length", str(last - first + 1))
            if wanted:
                self.send_header("Content-Range", "bytes %d-%d/%d" % (first, last, info.st_size))
            self.send_header("Accept-Ranges", "bytes")
            self.send_header("ETag", etag)
            self.send_header("Last-Modified", modified)
            self.end_headers()
            if send_body:
                self.send_body(f, info.st_size, first, last + 1, rule)
        if "replace_with" in rule:
            replacement = self.local_path("/" + rule["replace_with"])
            if replacement is not None:
                shutil.copyfile(replacement, file_path)

    def wanted_range(self, size, etag, modified):
        """The range to send, when the request asks for one and its If-Range (if any) still
        names this file; "unsatisfiable" for a range past the end."""
        if_range = self.headers.get("If-Range")
        if if_range is not None and if_range.strip() not in (etag, modified):
            return None
        return byte_range(self.headers.get("Range"), size)

    def send_unsatisfiable(self, size):
        self.record["status"] = 416
        self.send_response(416)
        self.send_header("Content-Range", "bytes */%d" % size)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def send_redirect(self, status, location):
        self.record["status"] = status
        self.send_response(status)
        self.send_header("Location", location)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def local_path(self, url_path):
        """The file under the root that url_path names, or None (also for any way out of it)."""
        parts = [p for p in posixpath.normpath(url_path).split("/") if p not in ("", ".")]
        if any(p == ".." for p in parts):
            return None
        path = os.path.join(self.server.root, *parts)
        return path if os.path.isfile(path) else None

    def send_page(self, status, send_body):
        self.record["status"] = status
        reason = self.responses.get(status, ("Error",))[0]
        page = ("<html><body><h1>%d %s</h1></body></html>\n" % (status, reason)).encode()
        self.send_response(status)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(page)))
        self.end_headers()
        if send_body:
            self.server.counter.sending(self.record["path"], len(page))
            self.wfile.write(page)
            self.record["sent"] = len(page)

    def send_body(self, f, size, start, end, rule):
        """The file's bytes start..end-1, shaped by the rule: a stall at an offset, then an end
        at an offset (a close or a reset) or a limited rate."""
        stall_at = int(float(rule.get("stall_at", 0)) * size)
        cut_at = end
        for key in ("cut", "reset"):
            if key in rule:
                cut_at = min(cut_at, max(start, int(float(rule[key]) * size)))
        if "truncate" in rule:
            cut_at = min(cut_at, start + int(rule["truncate"]))
        if "cut_every" in rule:
            cut_at = min(cut_at, start + int(rule["cut_every"]))
        position = start
        if "stall" in rule and start <= stall_at < cut_at:
            position = self.send_range(f, position, stall_at, rule)
            if not self.stall(float(rule["stall"])):
                self.close_connection = True
                return
        self.send_range(f, position, cut_at, rule)
        if cut_at < end:
            self.close_connection = True
            if "reset" in rule:
                self.reset_connection()

    def stall(self, seconds):
        """Waits, sending nothing; False as soon as the client has closed the connection."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            readable, _, _ = select.select([self.connection], [], [], 0.1)
            try:
                if readable and self.connection.recv(1, socket.MSG_PEEK) == b"":
                    return False
            except (ValueError, OSError):  # a TLS socket cannot peek: wait it out
                time.sleep(0.1)
        return True

    def send_range(self, f, start, end, rule):
        if end <= start:
            return start
        self.server.counter.sending(self.record["path"], end - start)
        if "rate" in rule:
            self.send_slowly(f, start, end, max(1, int(rule["rate"])))
        else:
            self.connection.sendfile(f, start, end - start)
        self.record["sent"] += end - start
        return end

    def send_slowly(self, f, start, end, rate):
        """About rate bytes per second, in fifty pieces a second: a steady stream, as a slow
        network line delivers it."""
        piece = max(1, rate // 50)
        f.seek(start)
        while start < end:
            data = f.read(min(piece, end - start))
            if not data:
                return
            self.wfile.write(data)
            start += len(data)
            time.sleep(len(data) / rate)

    def reset_connection(self):
        """Closes the connection with a TCP reset (SO_LINGER of zero) instead of a FIN."""
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        raise ConnectionReset()

    def handle_one_request(self):
        # A client that gives up (a time-out, a refused body) closes its end mid-answer.
        try:
            super().handle_one_request()
        except (BrokenPipeError, ConnectionResetError, ConnectionReset, ssl.SSLError):
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
    parser.add_argument("--log", help="file that receives one JSON line per request")
    parser.add_argument("--cert", help="PEM certificate chain: serve HTTPS (with --key)")
    parser.add_argument("--key", help="PEM private key of --cert")
    parser.add_argument("--rate", type=int, default=0,
                        help="send every body at about N bytes per second (0: at full speed)")
    parser.add_argument("--quiet", action="store_true", help="no line per request on stderr")
    args = parser.parse_args()

    try:
        server = PatchServer(("127.0.0.1", args.port), PatchHandler)
    except OSError as error:
        if error.errno != errno.EADDRINUSE:
            raise
        print("patch_server: port %d on 127.0.0.1 is already in use by another program"
              % args.port, file=sys.stderr)
        return PORT_IN_USE
    server.rate = max(0, args.rate)
    server.root = os.path.abspath(args.root)
    server.rules_path = args.rules
    server.counter = RequestCounter(args.counts, args.log)
    if args.cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.cert, args.key)
        server.socket = context.wrap_socket(server.socket, server_side=True)
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
