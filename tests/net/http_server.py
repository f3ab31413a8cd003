"""Loopback HTTP servers for the tests.

    http_server.py LOG
        one server on 127.0.0.1 with the fixed paths below; prints its port.
    http_server.py LOG ROUTES NAME=ADDRESS:PORT ...
        one server per NAME (port 0: any free one); prints {"NAME": port, ...}.

ROUTES is a JSON file, read again at every request so that a test can change the answers
between two requests: {"NAME": {"/path": ANSWER or [ANSWER, ...], "*": ANSWER}}. A list is
answered in turn, its last answer then again and again. An ANSWER is an object with
"status" (200), "body" (""), "headers" ([[name, value], ...]), "delay_ms" (0, before the
answer) and "action": "stall" (never answer; when the client hangs up, a line with the server's
name, the path and the time goes to the log file's name followed by ".hangups"), "stallbody" (part of the body, then nothing),
"cut" (part of the body, then close), "reset" (close at once with a reset), "big" (10 MB),
"endless" (a body without length that never ends) or "drip" (the body with its length, one
byte every "interval_ms", 500 by default);
"file" takes the body from the bytes of a file, and "limit" keeps only its first bytes.
A path that no route names gets the fixed paths.

Serves until killed, or until the program that started it ends. Every request is appended
to the log file (one JSON object a line, with the server's name and the time) before it is
answered."""
import base64
import json
import os
import select
import socket
import struct
import sys
import threading
import time
from http.server import BaseHTTPRequestHandler, ThreadingHTTPServer
from urllib.parse import parse_qs, urlsplit

from lifeline import end_with_parent

end_with_parent()

LOG = sys.argv[1]
ROUTES = sys.argv[2] if len(sys.argv) > 2 else None
LOCK = threading.Lock()
TURNS = {}  # (server, path): answers given so far, since the routes file was last replaced
ROUTES_SEEN = [None]
BIG = (bytes(range(251)) * (10 * 1024 * 1024 // 251 + 1))[:10 * 1024 * 1024]


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
            "server": getattr(self.server, "name", ""),
            "time": time.time(),
            "method": self.command,
            # The request line came as Latin-1; the bytes go back to what the client sent.
            "path": self.path.encode("iso-8859-1").decode("utf-8", "surrogateescape"),
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

    def reset(self):
        """Closes the connection at once with a reset."""
        self.connection.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        self.connection.close()
        self.close_connection = True

    def wait_for_hangup(self, seconds=3600):
        """Answers nothing until the client closes the connection, and notes that it did."""
        end = time.monotonic() + seconds
        while time.monotonic() < end:
            readable, _, _ = select.select([self.connection], [], [], 1)
            if not readable:
                continue
            try:
                if self.connection.recv(4096):
                    continue
            except OSError:
                pass
            entry = {"server": getattr(self.server, "name", ""), "time": time.time(),
                     "path": self.path.encode("iso-8859-1").decode("utf-8", "surrogateescape")}
            with LOCK, open(LOG + ".hangups", "a") as log:
                log.write(json.dumps(entry) + "\n")
            break
        self.close_connection = True

    def endless(self, status=200):
        """A body without length that goes on until the client hangs up."""
        self.send_response(status)
        self.send_header("Connection", "close")
        self.end_headers()
        chunk = b"x" * 65536
        try:
            while True:
                self.wfile.write(chunk)
        except OSError:
            pass
        self.close_connection = True

    def drip(self, body, interval_ms):
        """The body with its length, one byte at a time."""
        self.send_response(200)
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        try:
            for i in range(len(body)):
                self.wfile.write(body[i:i + 1])
                self.wfile.flush()
                time.sleep(interval_ms / 1000)
        except OSError:
            pass
        self.close_connection = True

    def header_flood(self, lines, length):
        """An answer whose head never ends in reasonable size: lines header lines of length
        bytes each."""
        self.send_response(200)
        self.flush_headers()
        try:
            line = b"X-Flood: " + b"f" * (length - 11) + b"\r\n"
            for _ in range(lines):
                self.wfile.write(line)
            self.wfile.write(b"Content-Length: 0\r\n\r\n")
        except OSError:
            pass
        self.close_connection = True

    def routed(self):
        """The answer the routes file gives for this request, or None."""
        if not ROUTES or not os.path.exists(ROUTES):
            return None
        with LOCK:
            stat = os.stat(ROUTES)
            if ROUTES_SEEN[0] != (stat.st_ino, stat.st_mtime_ns):
                ROUTES_SEEN[0] = (stat.st_ino, stat.st_mtime_ns)
                TURNS.clear()
            with open(ROUTES) as f:
                routes = json.load(f).get(self.server.name, {})
        path = urlsplit(self.path).path
        key = path if path in routes else "*" if "*" in routes else None
        if key is None:
            return None
        answers = routes[key]
        if isinstance(answers, list):
            with LOCK:
                turn = TURNS.get((self.server.name, key), 0)
                TURNS[(self.server.name, key)] = turn + 1
            answers = answers[min(turn, len(answers) - 1)]
        return answers

    def play(self, answer):
        time.sleep(answer.get("delay_ms", 0) / 1000)
        action = answer.get("action")
        status = answer.get("status", 200)
        body = answer.get("body", "").encode("utf-8", "surrogateescape")
        if "file" in answer:
            with open(answer["file"], "rb") as f:
                body = f.read()
        if "limit" in answer:
            body = body[:answer["limit"]]
        if action == "stall":
            self.wait_for_hangup()
        elif action == "endless":
            self.endless()
        elif action == "drip":
            self.drip(body, answer.get("interval_ms", 500))
        elif action == "reset":
            self.reset()
        elif action in ("cut", "stallbody"):
            self.send_response(status)
            self.send_header("Content-Length", str(len(body) + 1000))
            self.end_headers()
            self.wfile.write(body)
            self.wfile.flush()
            if action == "stallbody":
                time.sleep(3600)
            self.connection.shutdown(socket.SHUT_RDWR)
            self.close_connection = True
        else:
            self.answer(status, BIG if action == "big" else body, answer.get("headers", ()))

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        self.record(self.rfile.read(length))
        answer = self.routed()
        if answer is not None:
            self.play(answer)
        else:
            self.answer(200, b"posted")

    def do_GET(self):
        self.record(b"")
        answer = self.routed()
        if answer is not None:
            self.play(answer)
            return
        route = urlsplit(self.path)
        query = parse_qs(route.query)
        path = route.path
        if path == "/text":
            self.answer(200, b"hello\r\nworld\r\n")
        elif path == "/empty":
            self.answer(200, b"")
        elif path == "/big":
            self.answer(200, BIG)
        elif path == "/reset":
            self.reset()
        elif path == "/endless":
            self.endless(int(query.get("status", ["200"])[0]))
        elif path == "/drip":
            self.drip(b"d" * int(query.get("bytes", ["1000"])[0]),
                      int(query.get("ms", ["500"])[0]))
        elif path == "/404":
            self.answer(404, b"missing")
        elif path == "/500":
            self.answer(500, b"broken")
        elif path == "/redirect":
            self.answer(302, b"moved", [("Location", "/text")])
        elif path == "/longheader":
            self.header_flood(1, 10 * 1024 * 1024)
        elif path == "/manyheaders":
            self.header_flood(10 * 1024 * 1024 // 100, 100)
        elif path == "/loop":
            self.answer(302, b"again", [("Location", "/loop")])
        elif path == "/redirectto":
            self.answer(302, b"elsewhere", [("Location", query.get("url", ["/text"])[0])])
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


if len(sys.argv) <= 3:
    server = Server(("127.0.0.1", 0), Handler)
    server.name = ""
    print(server.server_address[1], flush=True)
    server.serve_forever()
else:
    ports = {}
    for listener in sys.argv[3:]:
        name, _, place = listener.partition("=")
        address, _, port = place.rpartition(":")
        server = Server((address, int(port)), Handler)
        server.name = name
        ports[name] = server.server_address[1]
        threading.Thread(target=server.serve_forever, daemon=True).start()
    print(json.dumps(ports), flush=True)
    threading.Event().wait()
