#!/usr/bin/env python3
"""Serves a release folder over HTTP on 127.0.0.1 with Range, If-Range and
ETag, and misbehaves on request, for the download tests and the demo.

    release_server.py ROOT [--port N] [--port-file FILE]

Faults go in the path, before the file: /f/FAULT[,FAULT...]/package.bin
(the meta file beside it is then /f/FAULT/package.bin.meta). Faults:

    drop=N        close the connection after N body bytes, on the first
                  request for that path only
    dropall=N     the same on every request
    badrange      a Content-Range that does not match the request
    etagchange    a different ETag on every request
    status=CODE   answer CODE (404, 500, ...) with no body
    slow=BPS      send at most BPS bytes a second
    stall=N       after N body bytes send nothing more, holding the
                  connection open for a minute
    corrupt=I     one wrong byte in block I (1 MiB blocks) of the body
    long=N        send N bytes more than the status line and Content-Range
                  announce, with no Content-Length: the body ends when the
                  connection closes, so a client sees the surplus
    range200      ignore Range and answer 200 with the whole file
    redirect=PATH answer 302 with Location: PATH (the same server)
    hops=N        answer 302 to the same path with hops=N-1, until N is 0:
                  a chain of N redirects that ends (a client that cannot
                  stop one it follows still ends)
    hugeheader=N  add a header line of N bytes to the answer

GET /stats gives, as JSON, the body bytes sent per path and the requests
seen; GET /stats/reset clears them.
"""

import argparse
import email.utils
import http.server
import json
import os
import re
import socketserver
import sys
import threading
import time

BLOCK = 1048576


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.sent = {}
        self.requests = []
        self.dropped = set()
        self.etag_counter = 0

    def count(self, path, size):
        with self.lock:
            self.sent[path] = self.sent.get(path, 0) + size


def parse_faults(text):
    faults = {}
    for item in text.split(","):
        if not item:
            continue
        name, _, value = item.partition("=")
        faults[name] = value
    return faults


def parse_range(header, size):
    """(first, last) of a single bytes range, None when absent, "bad" when unusable."""
    if not header:
        return None
    match = re.fullmatch(r"bytes=(\d*)-(\d*)", header.strip())
    if not match or (match.group(1) == "" and match.group(2) == ""):
        return "bad"
    if match.group(1) == "":
        length = int(match.group(2))
        return (max(0, size - length), size - 1) if length else "bad"
    first = int(match.group(1))
    last = int(match.group(2)) if match.group(2) else size - 1
    if first >= size or last < first:
        return "bad"
    return first, min(last, size - 1)


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go in separate writes: with Nagle's algorithm a small
    # body waits for the client's delayed ACK (40 ms a file).
    disable_nagle_algorithm = True
    server_version = "release-server/1"

    def log_message(self, format, *args):  # quiet: tests read /stats instead
        pass

    def do_HEAD(self):
        self.serve(head=True)

    def do_GET(self):
        self.serve(head=False)

    def send_json(self, value):
        body = json.dumps(value).encode()
        self.send_response(200)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def serve(self, head):
        state = self.server.state
        path = self.path.split("?", 1)[0]
        if path == "/stats":
            with state.lock:
                return self.send_json({"sent": state.sent, "requests": state.requests})
        if path == "/stats/reset":
            with state.lock:
                state.sent.clear()
                state.requests.clear()
                state.dropped.clear()
            return self.send_json({})
        faults = {}
        match = re.match(r"^/f/([^/]*)(/.*)$", path)
        if match:
            faults = parse_faults(match.group(1))
            path = match.group(2)
        with state.lock:
            state.requests.append({"path": self.path, "range": self.headers.get("Range"),
                                   "if-range": self.headers.get("If-Range")})
        if "status" in faults:
            return self.answer_empty(int(faults["status"]))
        if "redirect" in faults:
            self.send_response(302)
            self.send_header("Location", faults["redirect"])
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        if int(faults.get("hops", "0")) > 0:
            self.send_response(302)
            self.send_header("Location", "/f/hops=%d%s" % (int(faults["hops"]) - 1, path))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        file = os.path.realpath(os.path.join(self.server.root, path.lstrip("/")))
        if not file.startswith(self.server.root + os.sep) or not os.path.isfile(file):
            return self.answer_empty(404)
        info = os.stat(file)
        size = info.st_size
        etag = '"%x-%x"' % (size, info.st_mtime_ns)
        if "etagchange" in faults:
            with state.lock:
                state.etag_counter += 1
                etag = '"%x-%x-%d"' % (size, info.st_mtime_ns, state.etag_counter)
        wanted = parse_range(self.headers.get("Range"), size)
        if_range = self.headers.get("If-Range")
        if wanted is not None and if_range is not None and if_range != etag:
            wanted = None  # the file changed: the whole of it
        if "range200" in faults:
            wanted = None
        if wanted == "bad":
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % size)
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        first, last = wanted if wanted else (0, size - 1)
        length = max(0, last - first + 1)
        self.send_response(206 if wanted else 200)
        self.send_header("ETag", etag)
        self.send_header("Accept-Ranges", "bytes")
        self.send_header("Last-Modified", email.utils.formatdate(info.st_mtime, usegmt=True))
        self.send_header("Content-Type", "application/octet-stream")
        if "hugeheader" in faults:
            self.send_header("X-Huge", "h" * int(faults["hugeheader"]))
        if wanted:
            shown = first + 1 if "badrange" in faults else first
            self.send_header("Content-Range", "bytes %d-%d/%d" % (shown, last, size))
        if "long" in faults:
            self.send_header("Connection", "close")
            self.close_connection = True
        else:
            self.send_header("Content-Length", str(length))
        self.end_headers()
        if head:
            return
        self.send_body(file, path, first, length, faults)

    def answer_empty(self, status):
        self.send_response(status)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def send_body(self, file, path, first, length, faults):
        state = self.server.state
        limit = None
        if "dropall" in faults:
            limit = int(faults["dropall"])
        elif "drop" in faults:
            with state.lock:
                if path not in state.dropped:
                    state.dropped.add(path)
                    limit = int(faults["drop"])
        rate = int(faults["slow"]) if "slow" in faults else None
        stall = int(faults["stall"]) if "stall" in faults else None
        corrupt = int(faults["corrupt"]) * BLOCK if "corrupt" in faults else None
        extra = int(faults.get("long", "0") or 0)
        sent = 0
        with open(file, "rb") as source:
            source.seek(first)
            position = first
            remaining = length
            while remaining > 0:
                chunk = source.read(min(65536, remaining))
                if not chunk:
                    break
                if corrupt is not None and position <= corrupt < position + len(chunk):
                    index = corrupt - position
                    chunk = chunk[:index] + bytes([chunk[index] ^ 0xFF]) + chunk[index + 1:]
                if limit is not None and sent + len(chunk) > limit:
                    chunk = chunk[: limit - sent]
                if stall is not None and sent + len(chunk) >= stall:
                    chunk = chunk[: stall - sent]
                    self.wfile.write(chunk)
                    self.wfile.flush()
                    state.count(path, len(chunk))
                    self.close_connection = True
                    time.sleep(60)
                    return
                if rate:
                    chunk = chunk[: max(1, rate // 10)]
                    time.sleep(len(chunk) / rate)
                    source.seek(position + len(chunk))
                try:
                    self.wfile.write(chunk)
                    self.wfile.flush()
                except OSError:
                    break
                sent += len(chunk)
                state.count(path, len(chunk))
                position += len(chunk)
                remaining -= len(chunk)
                if limit is not None and sent >= limit:
                    self.close_connection = True
                    self.connection.shutdown(2)
                    return
            if extra:
                try:
                    self.wfile.write(b"\0" * extra)
                except OSError:
                    pass


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("root")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    options = parser.parse_args()
    server = Server(("127.0.0.1", options.port), Handler)
    server.root = os.path.realpath(options.root)
    server.state = State()
    port = server.server_address[1]
    if options.port_file:
        staged = options.port_file + ".partial"
        with open(staged, "w") as out:
            out.write(str(port))
        os.replace(staged, options.port_file)
    print("release-server: serving %s on http://127.0.0.1:%d/" % (server.root, port), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
