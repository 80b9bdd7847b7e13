#!/usr/bin/env python3
"""Loopback HTTP/1.1 server for the download tests.

Serves a folder on 127.0.0.1 at a port chosen by the system and prints that
port as its first line on standard output. Keep-alive is on for normal files.

Faults are chosen by a path prefix that applies to the rest of the path, so a
whole repository can be served with a fault by giving the program a base URL
such as http://127.0.0.1:PORT/_nolength/repo:

  /_status/NNN/...    answers status NNN (a short body unless NNN is 204 or 304)
  /_nolength/PATH     the file without Content-Length, ended by closing the connection
  /_drop/PATH         announces the file's length, sends half of it and drops the connection
  /_reset/PATH        announces the file's length, sends half of it and resets the connection
  /_slow/PATH         the file in blocks of 1024 bytes, 50 ms apart
  /_stall/PATH        announces the file's length, then sends nothing
  /_extra/PATH        announces the file's length and sends 100 bytes more
  /_short/PATH        announces less than the file's length (100 bytes, or a quarter
                      of a file under 400 bytes) and sends it whole
  /_endless/PATH      the file without Content-Length, then zero bytes until the client
                      goes (1 GiB in all at most)
  /_huge/PATH         announces 1 GiB and sends the file, then zero bytes until the client goes
  /_vast/PATH         as /_huge/, announcing 4 GiB - 1 (the largest length of 32 bits)
  /_redirect/PATH     302 to /PATH
  /_loop/PATH         302 to itself, for ever
  /_agent             the request's User-Agent as the body
  /_peer              the client's address and port as the body

A single file can carry a fault of its own: a file NAME.fault next to NAME
holding one of the words nolength, drop, reset, slow, stall, extra, short, endless,
huge, vast.

Files without a fault word answer "Range: bytes=N-" with 206 and the rest from
byte N (416 when N is past the end). Their NAME.fault may instead hold:

  norange             the Range header is ignored: 200 and the whole file
  cut K               a body that would reach past byte K of the file stops there
                      and the connection is dropped (a request from K on is served)

both may be given ("norange cut 1000"). When a file NAME.log is next to NAME,
every request of NAME appends one line to it before the body goes out: the
Range header ("-" without one), the status and the number of body bytes about
to be sent.

With --code-page NAME the bytes of a URL's path stand for characters of that
code page instead of UTF-8: a test running on Windows writes the served files
through its ANSI code page.

With --certificate PEM (a file holding the private key and the certificate)
the server speaks TLS, for the tests of certificate checks.

The server ends by itself after --lifetime seconds, when its standard input
reaches its end (with --watch-stdin: the test that started it has gone), or on
SIGTERM.
"""

import argparse
import codecs
import http.server
import os
import signal
import socket
import ssl
import struct
import sys
import threading
import time
import urllib.parse

FAULT_WORDS = ("nolength", "drop", "reset", "slow", "stall", "extra", "short", "endless", "huge", "vast")
SLOW_BLOCK = 1024
SLOW_PAUSE = 0.05
EXTRA_BYTES = 100
HUGE_LENGTH = 1 << 30
VAST_LENGTH = (1 << 32) - 1
ZERO_BLOCK = bytes(64 * 1024)

stopping = threading.Event()

# Bytes that a Windows code page leaves undefined stand for the characters of
# the same number, as Windows maps them.
codecs.register_error("latin1_fallback", lambda error: (error.object[error.start:error.end].decode("latin-1"), error.end))


class Handler(http.server.SimpleHTTPRequestHandler):
    protocol_version = "HTTP/1.1"
    # Headers and body go out in separate writes; with Nagle's algorithm the
    # body would wait for the client's delayed acknowledgement (40 ms).
    disable_nagle_algorithm = True

    code_page = None

    def log_message(self, format, *args):
        pass

    def translate_path(self, path):
        if self.code_page is not None:
            raw = urllib.parse.unquote_to_bytes(path.split("?", 1)[0].split("#", 1)[0])
            path = urllib.parse.quote(raw.decode(self.code_page, errors="latin1_fallback"))
        return super().translate_path(path)

    def do_GET(self):
        path = urllib.parse.urlsplit(self.path).path
        if path == "/_agent":
            self.send_body(200, self.headers.get("User-Agent", "").encode("latin-1"))
        elif path == "/_peer":
            self.send_body(200, ("%s:%d" % self.client_address).encode("ascii"))
        elif path.startswith("/_status/"):
            self.send_status(path)
        elif path.startswith("/_redirect/"):
            self.send_redirect(path[len("/_redirect"):])
        elif path.startswith("/_loop/"):
            self.send_redirect(path)
        else:
            word, rest = self.split_fault(path)
            if word is None:
                word, options = self.sidecar_fault(path)
                if word is None:
                    self.send_ranged_file(path, options)
                    return
                rest = path
            self.send_faulty_file(word, rest)

    def split_fault(self, path):
        for word in FAULT_WORDS:
            prefix = "/_%s/" % word
            if path.startswith(prefix):
                return word, path[len(prefix) - 1:]
        return None, None

    def sidecar_fault(self, path):
        """The fault word of the file, or None and its range options."""
        local = self.translate_path(path)
        try:
            with open(local + ".fault", "r", encoding="ascii") as sidecar:
                words = sidecar.read().split()
        except OSError:
            return None, {}
        if words and words[0] in FAULT_WORDS:
            return words[0], {}
        options = {"norange": "norange" in words}
        if "cut" in words and words.index("cut") + 1 < len(words):
            options["cut"] = int(words[words.index("cut") + 1])
        return None, options

    def requested_start(self):
        """N of a "Range: bytes=N-" header, else None."""
        text = self.headers.get("Range")
        if text is None or not text.startswith("bytes=") or not text.endswith("-"):
            return None
        try:
            return int(text[len("bytes="):-1])
        except ValueError:
            return None

    def log_request_of(self, local, status, count):
        try:
            with open(local + ".log", "r+", encoding="ascii") as log:
                log.seek(0, os.SEEK_END)
                log.write("%s %d %d\n" % (self.headers.get("Range", "-"), status, count))
        except OSError:
            pass

    def send_ranged_file(self, path, options):
        local = self.translate_path(path)
        if os.path.isdir(local):
            super().do_GET()
            return
        try:
            with open(local, "rb") as source:
                data = source.read()
        except OSError:
            self.log_request_of(local, 404, 0)
            self.send_error(404)
            return
        start = None if options.get("norange") else self.requested_start()
        if start is not None and start >= len(data):
            self.log_request_of(local, 416, 0)
            self.send_response(416)
            self.send_header("Content-Range", "bytes */%d" % len(data))
            self.send_header("Content-Length", "0")
            self.end_headers()
            return
        status = 200 if start is None else 206
        first = start or 0
        end = len(data)
        cut = options.get("cut")
        if cut is not None and first < cut < end:
            end = cut
        self.log_request_of(local, status, end - first)
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(len(data) - first))
        if status == 206:
            self.send_header("Content-Range", "bytes %d-%d/%d" % (first, len(data) - 1, len(data)))
        if end < len(data):
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        self.wfile.write(data[first:end])

    def send_body(self, status, body, close=False):
        self.send_response(status)
        self.send_header("Content-Type", "application/octet-stream")
        if status not in (204, 304):
            self.send_header("Content-Length", str(len(body)))
        if close:
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if status not in (204, 304):
            self.wfile.write(body)

    def send_status(self, path):
        code_text = path[len("/_status/"):].split("/", 1)[0]
        try:
            code = int(code_text)
        except ValueError:
            code = 400
        self.send_body(code, ("status %d\n" % code).encode("ascii"))

    def send_redirect(self, target):
        self.send_response(302)
        self.send_header("Location", target)
        self.send_header("Content-Length", "0")
        self.end_headers()

    def send_faulty_file(self, word, path):
        local = self.translate_path(path)
        try:
            with open(local, "rb") as source:
                data = source.read()
        except OSError:
            self.send_error(404)
            return
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        if word == "short":
            self.send_header("Content-Length", str(len(data) - min(EXTRA_BYTES, len(data) // 4)))
        elif word == "huge":
            self.send_header("Content-Length", str(HUGE_LENGTH))
        elif word == "vast":
            self.send_header("Content-Length", str(VAST_LENGTH))
        elif word not in ("nolength", "endless"):
            self.send_header("Content-Length", str(len(data)))
        if word in ("nolength", "drop", "reset", "extra", "short", "stall", "endless", "huge", "vast"):
            self.send_header("Connection", "close")
            self.close_connection = True
        self.end_headers()
        if word in ("nolength", "short"):
            self.wfile.write(data)
        elif word == "drop":
            self.wfile.write(data[: len(data) // 2])
        elif word == "reset":
            self.wfile.write(data[: len(data) // 2])
            self.wfile.flush()
            # Closing with a zero linger time sends a reset instead of an
            # orderly end of the stream.
            self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            self.connection.close()
        elif word == "extra":
            self.wfile.write(data + b"x" * EXTRA_BYTES)
        elif word == "slow":
            for start in range(0, len(data), SLOW_BLOCK):
                self.wfile.write(data[start:start + SLOW_BLOCK])
                self.wfile.flush()
                if stopping.wait(SLOW_PAUSE):
                    return
        elif word == "stall":
            self.wfile.flush()
            stopping.wait()
        elif word in ("endless", "huge", "vast"):
            # Ends with an error once the client has closed the connection.
            self.wfile.write(data)
            sent = len(data)
            while not stopping.is_set() and sent < HUGE_LENGTH:
                self.wfile.write(ZERO_BLOCK)
                sent += len(ZERO_BLOCK)


class Server(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        # A client that cancels or times out drops its connection; that is
        # what the tests do on purpose.
        error = sys.exc_info()[1]
        if not isinstance(error, (ConnectionError, TimeoutError)):
            super().handle_error(request, client_address)


def watch_stdin(server):
    while sys.stdin.buffer.read(4096):
        pass
    stop(server)


def stop(server):
    stopping.set()
    threading.Thread(target=server.shutdown, daemon=True).start()


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("folder", help="folder to serve")
    parser.add_argument("--lifetime", type=float, default=300.0, help="seconds before the server ends by itself")
    parser.add_argument("--watch-stdin", action="store_true", help="end when standard input reaches its end")
    parser.add_argument("--code-page", help="code page of the byte names in URLs (default UTF-8)")
    parser.add_argument("--certificate", help="PEM file of a key and a certificate: serve over TLS")
    arguments = parser.parse_args()
    Handler.code_page = arguments.code_page

    folder = os.path.abspath(arguments.folder)
    handler = lambda *args, **kwargs: Handler(*args, directory=folder, **kwargs)
    server = Server(("127.0.0.1", 0), handler)
    if arguments.certificate is not None:
        context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
        context.load_cert_chain(arguments.certificate)
        server.socket = context.wrap_socket(server.socket, server_side=True)

    signal.signal(signal.SIGTERM, lambda *ignored: stop(server))
    timer = threading.Timer(arguments.lifetime, stop, args=(server,))
    timer.daemon = True
    timer.start()
    if arguments.watch_stdin:
        threading.Thread(target=watch_stdin, args=(server,), daemon=True).start()

    print(server.server_address[1], flush=True)
    try:
        server.serve_forever(poll_interval=0.2)
    finally:
        server.server_close()


if __name__ == "__main__":
    main()
