#!/usr/bin/env python3
"""A stand-in for the installer's web service, over HTTPS on 127.0.0.1, for
the tests and the demo. It records every request and answers the token and
region requests with configurable replies.

    webservice_mock.py CERT_DIR [--port N] [--port-file FILE]

CERT_DIR receives a self-signed certificate for 127.0.0.1 and localhost
(cert.pem, key.pem) made with openssl when it is not there yet; clients
trust it through STUB_CA_BUNDLE=CERT_DIR/cert.pem.

Service paths: /v1/token, /v1/logAnalytics, /v1/logUserActivity,
/v1/isInEmbargoedCountry, /v1/reportError (any verb), and the product
tracker's test page /static/ipm/product-analytics/index.html, whose events
arrive at /static/ipm/product-analytics/collect. By default the token
reply is {"tokenizedUrl":"<posted URL>?token=mock"} (or "&token=mock" when
the URL has a query), the region reply names country US with no embargo,
and the others are empty.

Control paths, on the same server:
    GET /__requests[?path=P]
                           every request so far (to path P only), as JSON:
                           method, path, query, headers ([name, value]
                           pairs), body (bytes as Latin-1 text)
    GET /__wait?path=P&count=N[&timeoutMs=T]
                           the same list for P once it holds N requests, or
                           as it is after T ms (default 60000): a client
                           that sends without waiting for the reply is
                           followed without sleeping
    GET /__reset           forgets the requests, replies and behaviours
    PUT /__reply/v1/...    the body becomes the reply for that path
    PUT /__behaviour/v1/...
                           how that path answers, as JSON: {"status": 500}
                           answers with that status, {"delayMs": N} waits
                           first, {"reset": true} closes the connection
                           without a reply (requests are still recorded)
"""

import argparse
import http.server
import json
import os
import socket
import socketserver
import ssl
import subprocess
import sys
import threading
import time
import urllib.parse

TRACKER_PAGE = "/static/ipm/product-analytics/index.html"
TRACKER_COLLECT = "/static/ipm/product-analytics/collect"
SERVICE_PATHS = {"/v1/token", "/v1/logAnalytics", "/v1/logUserActivity",
                 "/v1/isInEmbargoedCountry", "/v1/reportError", TRACKER_COLLECT}

# The product tracker's page: trackEvent records each event here and answers
# "eventTracked". Its address takes ?ack=none|double, ?debug=1 (a
# "JS DEBUG: " line per event) and ?loadDelayMs=N (the page comes late).
TRACKER_HTML = b"""<!DOCTYPE html>
<html><head><meta charset="utf-8"><title>tracker</title><script>
var settings = new URLSearchParams(location.search);
function trackEvent(text) {
  var event = JSON.parse(text);
  var request = new XMLHttpRequest();
  request.open("POST", "collect", false);
  request.send(text);
  if (settings.get("debug") === "1") {
    window.external.PostJSMessage("JS DEBUG: " + event.eventName);
  }
  var answers = {none: 0, double: 2}[settings.get("ack")];
  for (var i = 0; i < (answers === undefined ? 1 : answers); i++) {
    window.external.PostJSMessage("eventTracked");
  }
  return "tracked " + event.eventName;
}
</script></head><body></body></html>
"""
REGION_REPLY = b"<result><country>US</country><isEmbargo>false</isEmbargo></result>"


def make_certificate(folder):
    cert = os.path.join(folder, "cert.pem")
    key = os.path.join(folder, "key.pem")
    if not (os.path.exists(cert) and os.path.exists(key)):
        os.makedirs(folder, exist_ok=True)
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                        "-keyout", key, "-out", cert, "-days", "2", "-subj", "/CN=127.0.0.1",
                        "-addext", "subjectAltName=IP:127.0.0.1,DNS:localhost",
                        "-addext", "basicConstraints=critical,CA:TRUE"],
                       check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return cert, key


class Handler(http.server.BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    server_version = "webservice-mock/1"
    # Headers and body go in separate writes: with Nagle's algorithm a small
    # body waits for the client's delayed ACK (40 ms an answer).
    disable_nagle_algorithm = True

    def log_message(self, format, *args):  # quiet: tests read /__requests
        pass

    def do_GET(self):
        self.handle_any()

    def do_POST(self):
        self.handle_any()

    def do_PUT(self):
        self.handle_any()

    def reply(self, status, body=b"", content_type="text/plain"):
        self.send_response(status)
        self.send_header("Content-Type", content_type)
        if self.path.startswith(TRACKER_COLLECT):
            # The page may be served from elsewhere, its base pointing here.
            self.send_header("Access-Control-Allow-Origin", "*")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def recorded(self, path):
        requests = self.server.state["requests"]
        return [request for request in requests if not path or request["path"] == path]

    def handle_any(self):
        state = self.server.state
        path, _, query = self.path.partition("?")
        arguments = {name: values[0] for name, values in urllib.parse.parse_qs(query).items()}
        length = int(self.headers.get("Content-Length") or 0)
        body = self.rfile.read(length) if length else b""
        if path == "/__requests":
            with state["lock"]:
                found = self.recorded(arguments.get("path"))
            return self.reply(200, json.dumps(found).encode(), "application/json")
        if path == "/__wait":
            count = int(arguments.get("count", "1"))
            deadline = time.monotonic() + int(arguments.get("timeoutMs", "60000")) / 1000
            with state["changed"]:
                while (len(self.recorded(arguments.get("path"))) < count
                       and time.monotonic() < deadline):
                    state["changed"].wait(max(0.0, deadline - time.monotonic()))
                found = self.recorded(arguments.get("path"))
            return self.reply(200, json.dumps(found).encode(), "application/json")
        if path == "/__reset":
            with state["lock"]:
                state["requests"].clear()
                state["replies"].clear()
                state["behaviours"].clear()
            return self.reply(200)
        if path.startswith("/__reply/"):
            with state["lock"]:
                state["replies"][path[len("/__reply"):]] = body
            return self.reply(200)
        if path.startswith("/__behaviour/"):
            with state["lock"]:
                state["behaviours"][path[len("/__behaviour"):]] = json.loads(body or b"{}")
            return self.reply(200)
        if path == TRACKER_PAGE:
            delay = int(arguments.get("loadDelayMs", "0"))
            if delay:
                time.sleep(delay / 1000)
            return self.reply(200, TRACKER_HTML, "text/html; charset=utf-8")
        if path not in SERVICE_PATHS:
            return self.reply(404)
        with state["changed"]:
            state["requests"].append({
                "method": self.command, "path": path, "query": query,
                "headers": [[name, value] for name, value in self.headers.items()],
                "body": body.decode("latin-1"),
            })
            state["changed"].notify_all()
            configured = state["replies"].get(path)
            behaviour = dict(state["behaviours"].get(path, {}))
        if behaviour.get("delayMs"):
            time.sleep(behaviour["delayMs"] / 1000)
        if behaviour.get("reset"):
            self.close_connection = True
            self.connection.shutdown(socket.SHUT_RDWR)
            return None
        if behaviour.get("status"):
            return self.reply(int(behaviour["status"]))
        if configured is not None:
            return self.reply(200, configured)
        if path == "/v1/token":
            url = body.decode("utf-8", "replace")
            separator = "&" if "?" in url else "?"
            return self.reply(200, json.dumps({"tokenizedUrl": url + separator + "token=mock"})
                              .encode(), "application/json")
        if path == "/v1/isInEmbargoedCountry":
            return self.reply(200, REGION_REPLY, "application/xml")
        return self.reply(200)


class Server(socketserver.ThreadingMixIn, http.server.HTTPServer):
    daemon_threads = True
    allow_reuse_address = True


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("cert_dir")
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--port-file")
    options = parser.parse_args()
    cert, key = make_certificate(options.cert_dir)
    server = Server(("127.0.0.1", options.port), Handler)
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    server.socket = context.wrap_socket(server.socket, server_side=True)
    lock = threading.Lock()
    server.state = {"lock": lock, "changed": threading.Condition(lock), "requests": [],
                    "replies": {}, "behaviours": {}}
    port = server.server_address[1]
    if options.port_file:
        staged = options.port_file + ".partial"
        with open(staged, "w") as out:
            out.write(str(port))
        os.replace(staged, options.port_file)
    print("webservice-mock: https://127.0.0.1:%d/ (CA %s)" % (port, cert), flush=True)
    try:
        server.serve_forever()
    except KeyboardInterrupt:
        pass
    return 0


if __name__ == "__main__":
    sys.exit(main())
