"""Loopback HTTP server for the net tests.

Prints its port on the first line of stdout, then serves until killed. Every request is
appended to the log file (one JSON object a line) before it is answered."""
import base64
import json
import socket
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

LOG = sys.argv[1]
LOCK = threading.Lock()
BIG = bytes(i % 251 for i in range(10 * 1024 * 1024))


class Handler(BaseHTTPRequestHandler):
    protocol_version = "HTTP/1.1"

    def log_message(self, *args):
        pass

    def record(self, body):
        auth = self.headers.get("Authorization", "")
        credentials = None
        if auth.startswith("Basic "):
            credentials = base64.b64decode(auth[6:]).decode("utf-8", "surrogateescape")
        entry = {
            "method": self.command,
            "path": self.path,
            "version": self.request_version,
            "headers": [[k, v] for k, v in self.headers.items()],
            "credentials": credentials,
            "body": body.decode("utf-8", "surrogateescape"),
        }
        with LOCK, open(LOG, "a") as log:
            log.write(json.dumps(entry) + "\n")

    def answer(self, status, body, headers=()):
        self.send_response(status)
        for name, value in headers:
            self.send_header(name, value)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.record(self.rfile.read(length))
        self.answer(200, b"posted")

    def do_GET(self):
        self.record(b"")
        route = urlsplit(self.path)
        query = parse_qs(route.query)
        path = route.path
        if path == "/text":
            self.answer(200, b"hello\r\nworld\r\n")
        elif path == "/empty":
            self.answer(200, b"")
        elif path == "/big":
            self.answer(200, BIG)
        elif path == "/404":
            self.answer(404, b"missing")
        elif path == "/500":
            self.answer(500, b"broken")
        elif path == "/redirect":
            self.answer(302, b"moved", [("Location", "/text")])
        elif path == "/setcookie":
            self.answer(200, b"set", [("Set-Cookie", "session=abc; Path=/")])
        elif path == "/slow":
            time.sleep(int(query.get("ms", ["500"])[0]) / 1000)
            self.answer(200, b"slow")
        elif path == "/stall":
            time.sleep(30)
        elif path == "/stallbody":
            self.send_response(200)
            self.send_header("Content-Length", "100")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            time.sleep(30)
        elif path == "/cut":
            self.send_response(200)
            self.send_header("Content-Length", "1000")
            self.end_headers()
            self.wfile.write(b"0123456789")
            self.wfile.flush()
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        else:
            self.answer(200, b"ok")


class Server(ThreadingHTTPServer):
    daemon_threads = True

    def handle_error(self, request, client_address):
        pass  # clients that hang up early are part of the tests


server = Server(("127.0.0.1", 0), Handler)
print(server.server_address[1], flush=True)
server.serve_forever()
