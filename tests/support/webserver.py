#!/usr/bin/env python3
"""Loopback web server for the tests.

Listens on 127.0.0.1 at a free port and prints that port as its first line on
standard output. It is then driven by JSON commands, one per line on standard
input, each answered by one JSON line on standard output:

  {"cmd": "answer", "answers": [ANSWER, ...]}   queue answers, used in order
  {"cmd": "default", "answer": ANSWER}          answer once the queue is empty
                                                (at first a 404)
  {"cmd": "requests"}                           every request received so far
  {"cmd": "clear"}                              forget queued answers and requests
  {"cmd": "quit"}                               stop

ANSWER: {"status": 200, "reason": "OK", "headers": [["Name", "value"], ...],
         "body": "text" (sent as UTF-8) or "body_hex": "...",
         "delay_ms": 0, "close": false}
With "close" true the connection is closed without an answer. Content-Length
and "Connection: close" are added unless the headers name them.

A recorded request: {"request_line", "method", "target",
                     "headers": [[name, value], ...], "body_hex", "raw_hex"}
(raw_hex: the bytes exactly as received, head and body).

The server stops when its standard input closes (so it ends with the test
process that started it), on "quit", or after --max-seconds at the latest.
With --tls-cert and --tls-key it speaks https.
"""

import argparse
import http
import json
import os
import socket
import socketserver
import ssl
import sys
import threading
import time

MAX_HEAD_LINE = 65536
MAX_HEADERS = 200
MAX_BODY = 64 * 1024 * 1024


class State:
    def __init__(self):
        self.lock = threading.Lock()
        self.answers = []
        self.default = {"status": 404, "body": ""}
        self.requests = []

    def record(self, request):
        with self.lock:
            self.requests.append(request)

    def next_answer(self):
        with self.lock:
            if self.answers:
                return self.answers.pop(0)
            return self.default


STATE = State()


def read_body(rfile, headers, raw):
    length = None
    chunked = False
    for name, value in headers:
        lname = name.lower()
        if lname == "content-length":
            length = int(value.strip())
        elif lname == "transfer-encoding" and "chunked" in value.lower():
            chunked = True
    if chunked:
        body = b""
        while True:
            line = rfile.readline(MAX_HEAD_LINE)
            raw.extend(line)
            size = int(line.split(b";")[0].strip() or b"0", 16)
            if size == 0:
                while True:  # trailers up to the empty line
                    trailer = rfile.readline(MAX_HEAD_LINE)
                    raw.extend(trailer)
                    if trailer in (b"\r\n", b"\n", b""):
                        return body
            chunk = rfile.read(size)
            raw.extend(chunk)
            body += chunk
            raw.extend(rfile.readline(MAX_HEAD_LINE))
            if len(body) > MAX_BODY:
                raise ValueError("body too large")
    if length:
        if length > MAX_BODY:
            raise ValueError("body too large")
        body = rfile.read(length)
        raw.extend(body)
        return body
    return b""


def compose(answer):
    status = int(answer.get("status", 200))
    reason = answer.get("reason")
    if reason is None:
        try:
            reason = http.HTTPStatus(status).phrase
        except ValueError:
            reason = "Unknown"
    if "body_hex" in answer:
        body = bytes.fromhex(answer["body_hex"])
    else:
        body = answer.get("body", "").encode("utf-8")
    headers = [(str(n), str(v)) for n, v in answer.get("headers", [])]
    names = {n.lower() for n, _ in headers}
    if "content-length" not in names:
        headers.append(("Content-Length", str(len(body))))
    if "connection" not in names:
        headers.append(("Connection", "close"))
    head = "HTTP/1.1 %d %s\r\n" % (status, reason)
    head += "".join("%s: %s\r\n" % (n, v) for n, v in headers)
    head += "\r\n"
    return head.encode("latin-1") + body


class Handler(socketserver.StreamRequestHandler):
    timeout = 30

    def setup(self):
        self.tls_failed = False
        context = self.server.tls_context
        if context is not None:
            try:
                self.request.settimeout(self.timeout)
                self.request = context.wrap_socket(self.request, server_side=True)
            except (ssl.SSLError, OSError):
                self.tls_failed = True  # e.g. a client that does not trust us
                return
        super().setup()

    def finish(self):
        if not self.tls_failed:
            super().finish()

    def handle(self):
        if self.tls_failed:
            return
        try:
            self.serve_one()
        except (OSError, ValueError, ssl.SSLError) as error:
            print("webserver: %s" % error, file=sys.stderr, flush=True)

    def serve_one(self):
        raw = bytearray()
        line = self.rfile.readline(MAX_HEAD_LINE)
        if not line:
            return
        raw.extend(line)
        request_line = line.decode("latin-1").rstrip("\r\n")
        headers = []
        while len(headers) <= MAX_HEADERS:
            header = self.rfile.readline(MAX_HEAD_LINE)
            raw.extend(header)
            if header in (b"\r\n", b"\n", b""):
                break
            text = header.decode("latin-1").rstrip("\r\n")
            name, _, value = text.partition(":")
            headers.append([name, value.strip()])
        body = read_body(self.rfile, headers, raw)
        parts = request_line.split(" ")
        STATE.record({
            "request_line": request_line,
            "method": parts[0] if parts else "",
            "target": parts[1] if len(parts) > 1 else "",
            "headers": headers,
            "body_hex": body.hex(),
            "raw_hex": bytes(raw).hex(),
        })

        answer = STATE.next_answer()
        delay = int(answer.get("delay_ms", 0))
        if delay > 0:
            time.sleep(delay / 1000.0)
        if answer.get("close"):
            try:
                self.request.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            return
        self.wfile.write(compose(answer))
        self.wfile.flush()


class Server(socketserver.ThreadingMixIn, socketserver.TCPServer):
    daemon_threads = True
    allow_reuse_address = True

    def __init__(self, tls_context):
        self.tls_context = tls_context
        super().__init__(("127.0.0.1", 0), Handler)


def reply(message):
    sys.stdout.write(json.dumps(message) + "\n")
    sys.stdout.flush()


def command(line):
    message = json.loads(line)
    cmd = message.get("cmd")
    if cmd == "answer":
        with STATE.lock:
            STATE.answers.extend(message.get("answers", []))
        reply({"ok": True})
    elif cmd == "default":
        with STATE.lock:
            STATE.default = message.get("answer", {})
        reply({"ok": True})
    elif cmd == "requests":
        with STATE.lock:
            requests = list(STATE.requests)
        reply({"ok": True, "requests": requests})
    elif cmd == "clear":
        with STATE.lock:
            STATE.answers.clear()
            STATE.requests.clear()
        reply({"ok": True})
    elif cmd == "quit":
        reply({"ok": True})
        return False
    else:
        reply({"ok": False, "error": "unknown command %r" % cmd})
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--tls-cert")
    parser.add_argument("--tls-key")
    parser.add_argument("--max-seconds", type=float, default=600)
    args = parser.parse_args()

    # Never outlive the test by much, whatever happens to it.
    limit = threading.Timer(args.max_seconds, lambda: os._exit(3))
    limit.daemon = True
    limit.start()

    context = None
    if args.tls_cert:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(args.tls_cert, args.tls_key)

    server = Server(context)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    reply(server.server_address[1])

    for line in sys.stdin:
        line = line.strip()
        if not line:
            continue
        try:
            if not command(line):
                break
        except (ValueError, TypeError, AttributeError) as error:
            reply({"ok": False, "error": str(error)})
    os._exit(0)


if __name__ == "__main__":
    main()
