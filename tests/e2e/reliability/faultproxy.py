"""A fault-injecting HTTP proxy for the updater's end-to-end tests.

It listens on 127.0.0.1, forwards every GET to an upstream server (the
private nginx) and, for requests whose path matches a rule, answers with a
fault instead: an error status, a redirect, a connection reset or a clean
close part-way through the body, a stall, a trickle, a wrong Content-Length,
or a tampered body. Each rule applies to a limited number of matching
requests, so a test can make the first N attempts fail and the next succeed.

Only loopback addresses are ever contacted. Every pause is bounded, and the
server stops when its owner calls stop().
"""

import http.client
import os
import http.server
import re
import socket
import struct
import threading
import time

FAULTS = (
    "status",  # arg: the status code; a short text body
    "redirect",  # 302 to the same path on the upstream server
    "reset",  # half the body, then a TCP reset
    "cut",  # half the body, then a clean close; Content-Length is the full size
    "stall",  # half the body, then silence for arg seconds, then a close
    "trickle",  # the first arg bytes one per second, then the rest at once
    "length_long",  # Content-Length larger than the body, then a clean close
    "length_short",  # Content-Length smaller than the body: the reader stops early
    "flip",  # the byte in the middle of the body inverted
    "truncate",  # the first half of the body only, with a matching length
    "swap",  # the body of the upstream path given as arg instead
    "slow",  # the whole body at arg bytes per second (for interruption tests)
)


class Rule:
    """Applies FAULT to the first COUNT requests whose path matches PATTERN
    (COUNT < 0: every one)."""

    def __init__(self, pattern, fault, count=-1, arg=None):
        if fault not in FAULTS:
            raise ValueError("unknown fault " + fault)
        self.pattern = re.compile(pattern)
        self.fault = fault
        self.count = count
        self.arg = arg
        self.hits = 0

    def take(self, path):
        if not self.pattern.search(path):
            return False
        if 0 <= self.count <= self.hits:
            return False
        self.hits += 1
        return True


class FaultProxy:
    def __init__(self, port, upstream_port):
        self.upstream_port = upstream_port
        self.rules = []
        self.local = None
        self.log = []  # (path, fault or "pass", status sent)
        self.lock = threading.Lock()
        self.stopping = threading.Event()
        proxy = self

        class Handler(http.server.BaseHTTPRequestHandler):
            protocol_version = "HTTP/1.1"

            def do_GET(self):  # noqa: N802 (the base class's name)
                proxy.handle(self)

            def log_message(self, *args):
                pass

        class Server(http.server.ThreadingHTTPServer):
            allow_reuse_address = True

            def handle_error(self, request, client_address):
                pass  # a fault that closes the connection ends its handler this way

        self.server = Server(("127.0.0.1", port), Handler)
        self.server.daemon_threads = True
        self.thread = threading.Thread(target=self.server.serve_forever, daemon=True)

    def start(self):
        self.thread.start()
        return self

    def stop(self):
        self.stopping.set()
        self.server.shutdown()
        self.server.server_close()

    def set_rules(self, rules, clear_log=True):
        with self.lock:
            self.rules = list(rules)
            if clear_log:
                self.log = []

    def hits(self):
        with self.lock:
            return list(self.log)

    def _rule_for(self, path):
        with self.lock:
            for rule in self.rules:
                if rule.take(path):
                    return rule
        return None

    def fetch(self, path):
        conn = http.client.HTTPConnection("127.0.0.1", self.upstream_port, timeout=30)
        try:
            conn.request("GET", path)
            response = conn.getresponse()
            return response.status, response.getheaders(), response.read()
        finally:
            conn.close()

    def _record(self, path, what, status):
        with self.lock:
            self.log.append((path, what, status))

    def _pause(self, seconds):
        self.stopping.wait(seconds)

    def serve_local(self, prefix, root, fallback):
        """Answers paths below prefix from the directory root; a path that
        names no file there gets the fallback body (hostile releases)."""
        self.local = (prefix, root, fallback)

    def _local(self, handler, path):
        prefix, root, fallback = self.local
        file = os.path.join(root, path[len(prefix) :].lstrip("/"))
        body = fallback
        if os.path.isfile(file):
            with open(file, "rb") as f:
                body = f.read()
        self._record(path, "local", 200)
        self._send(handler, 200, body)

    def handle(self, handler):
        path = handler.path
        if self.local and path.startswith(self.local[0]):
            self._local(handler, path)
            return
        rule = self._rule_for(path)
        if rule is not None and rule.fault == "status":
            self._record(path, "status", int(rule.arg))
            self._send(handler, int(rule.arg), b"injected fault\n")
            return
        if rule is not None and rule.fault == "redirect":
            self._record(path, "redirect", 302)
            location = "http://127.0.0.1:%d%s" % (self.upstream_port, path)
            self._send(handler, 302, b"moved\n", {"Location": location})
            return
        status, headers, body = self.fetch(path)
        if rule is None or status != 200:
            self._record(path, "pass", status)
            self._send(handler, status, body, self._kept_headers(headers))
            return
        self._record(path, rule.fault, status)
        getattr(self, "_fault_" + rule.fault)(handler, body, rule)

    @staticmethod
    def _kept_headers(headers):
        keep = ("content-type", "last-modified", "etag")
        return {k: v for k, v in headers if k.lower() in keep}

    def _send(self, handler, status, body, headers=None, length=None, close=False):
        handler.send_response(status)
        for key, value in (headers or {}).items():
            handler.send_header(key, value)
        handler.send_header("Content-Length", str(len(body) if length is None else length))
        if close:
            handler.send_header("Connection", "close")
            handler.close_connection = True
        handler.end_headers()
        handler.wfile.write(body)
        handler.wfile.flush()

    def _headers_only(self, handler, length):
        handler.send_response(200)
        handler.send_header("Content-Length", str(length))
        handler.send_header("Connection", "close")
        handler.close_connection = True
        handler.end_headers()
        handler.wfile.flush()

    def _fault_reset(self, handler, body, _rule):
        self._headers_only(handler, len(body))
        handler.wfile.write(body[: len(body) // 2])
        handler.wfile.flush()
        handler.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        handler.connection.close()

    def _fault_cut(self, handler, body, _rule):
        self._headers_only(handler, len(body))
        handler.wfile.write(body[: len(body) // 2])
        handler.wfile.flush()
        handler.connection.shutdown(socket.SHUT_RDWR)

    def _fault_stall(self, handler, body, rule):
        self._headers_only(handler, len(body))
        handler.wfile.write(body[: len(body) // 2])
        handler.wfile.flush()
        self._pause(float(rule.arg))
        handler.connection.shutdown(socket.SHUT_RDWR)

    def _fault_trickle(self, handler, body, rule):
        self._headers_only(handler, len(body))
        slow = min(int(rule.arg), len(body))
        try:
            for i in range(slow):
                handler.wfile.write(body[i : i + 1])
                handler.wfile.flush()
                self._pause(1.0)
            handler.wfile.write(body[slow:])
            handler.wfile.flush()
        except OSError:
            pass  # the client gave up; that is what the test looks at

    def _fault_slow(self, handler, body, rule):
        self._headers_only(handler, len(body))
        rate = max(1, int(rule.arg))
        chunk = max(1, rate // 20)
        try:
            for i in range(0, len(body), chunk):
                handler.wfile.write(body[i : i + chunk])
                handler.wfile.flush()
                self._pause(chunk / rate)
        except OSError:
            pass  # the updater was killed mid-transfer

    def _fault_length_long(self, handler, body, _rule):
        self._headers_only(handler, len(body) + 1000)
        handler.wfile.write(body)
        handler.wfile.flush()
        handler.connection.shutdown(socket.SHUT_RDWR)

    def _fault_length_short(self, handler, body, _rule):
        self._send(handler, 200, body, length=max(0, len(body) - 7), close=True)

    def _fault_flip(self, handler, body, _rule):
        if body:
            i = len(body) // 2
            body = body[:i] + bytes([body[i] ^ 0xFF]) + body[i + 1 :]
        self._send(handler, 200, body)

    def _fault_truncate(self, handler, body, _rule):
        self._send(handler, 200, body[: len(body) // 2])

    def _fault_swap(self, handler, _body, rule):
        _status, _headers, other = self.fetch(rule.arg)
        self._send(handler, 200, other)
