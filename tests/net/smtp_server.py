"""Loopback SMTP servers for the net tests.

The real one is aiosmtpd with AUTH LOGIN offered over plain text; beside it stand small
servers that misbehave on purpose. Prints {"name": port, ...} on the first line of stdout,
then serves until killed or until the program that started it ends. Every mail received is
appended to the log file as JSON.

    smtp_server.py LOG [ADDRESS:PORT]

ADDRESS:PORT places the real server (by default 127.0.0.1 on any free port)."""
import asyncio
import json
import socket
import logging
import sys
import time

from aiosmtpd.smtp import SMTP, AuthResult

from lifeline import end_with_parent

end_with_parent()

LOG = sys.argv[1]
PLACE = sys.argv[2] if len(sys.argv) > 2 else "127.0.0.1:0"
logging.getLogger("mail.log").setLevel(logging.ERROR)  # aiosmtpd warns about its own legacy fields
USER = b"mailer@example.org"
PASSWORD = b"p@ss:w/rd"


def log(entry):
    entry["time"] = time.time()
    with open(LOG, "a") as out:
        out.write(json.dumps(entry) + "\n")


def authenticator(server, session, envelope, mechanism, auth_data):
    ok = auth_data.login == USER and auth_data.password == PASSWORD
    session.mechanism = mechanism
    return AuthResult(success=ok, handled=False, auth_data=auth_data)


class Handler:
    async def handle_EHLO(self, server, session, envelope, hostname, responses):
        session.host_name = hostname
        session.ehlo_count = getattr(session, "ehlo_count", 0) + 1
        return responses

    async def handle_MAIL(self, server, session, envelope, address, options):
        if address == "blocked@example.org":
            return "553 5.7.1 Sender refused"
        envelope.mail_from = address
        return "250 OK"

    async def handle_RCPT(self, server, session, envelope, address, options):
        if address == "refused@example.org":
            return "550 5.1.1 Mailbox unavailable"
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        auth = getattr(session, "auth_data", None)
        log({
            "event": "mail",
            "mail_from": envelope.mail_from,
            "rcpt_tos": envelope.rcpt_tos,
            "data": envelope.original_content.decode("utf-8", "surrogateescape"),
            "login": auth.login.decode() if auth else None,
            "mechanism": getattr(session, "mechanism", None),
            "ehlo": getattr(session, "host_name", None),
            "ehlo_count": getattr(session, "ehlo_count", 0),
        })
        return "250 Message accepted"

    async def handle_QUIT(self, server, session, envelope):
        log({"event": "quit", "ehlo_count": getattr(session, "ehlo_count", 0)})
        return "221 Bye"


def listener(address="127.0.0.1", port=0):
    sock = socket.socket()
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    sock.bind((address, port))
    sock.listen(16)
    return sock


async def bad_greeting(reader, writer):
    writer.write(b"554 5.3.2 Not now\r\n")
    await writer.drain()
    await reader.read()


async def bad_introduction(reader, writer):
    writer.write(b"220 ready\r\n")
    await writer.drain()
    while await reader.readline():
        writer.write(b"502 5.5.2 Not understood\r\n")
        await writer.drain()


async def silent(reader, writer):
    await reader.read()


async def drop_after_introduction(reader, writer):
    writer.write(b"220 ready\r\n")
    await writer.drain()
    line = await reader.readline()
    if line.upper().startswith((b"EHLO", b"HELO")):
        writer.write(b"250 ok\r\n")
        await writer.drain()
        await reader.readline()
    writer.close()


async def drop_during_data(reader, writer):
    """Takes the envelope, then closes while the mail's text comes."""
    writer.write(b"220 ready\r\n")
    await writer.drain()
    while True:
        line = await reader.readline()
        if not line:
            break
        command = line.upper()
        if command.startswith(b"DATA"):
            writer.write(b"354 go ahead\r\n")
            await writer.drain()
            await reader.readline()
            break
        writer.write(b"250 ok\r\n")
        await writer.drain()
    writer.close()


async def main():
    loop = asyncio.get_running_loop()
    ports = {}
    servers = []
    address, _, port = PLACE.rpartition(":")
    sock = listener(address, int(port))
    servers.append(await loop.create_server(
        lambda: SMTP(Handler(), authenticator=authenticator, auth_require_tls=False,
                     hostname="test.example"), sock=sock))
    ports["smtp"] = sock.getsockname()[1]
    for name, serve in [("badgreeting", bad_greeting), ("badintroduction", bad_introduction),
                        ("silent", silent), ("drop", drop_after_introduction),
                        ("dropdata", drop_during_data)]:
        sock = listener()
        servers.append(await asyncio.start_server(serve, sock=sock))
        ports[name] = sock.getsockname()[1]
    print(json.dumps(ports), flush=True)
    await asyncio.Event().wait()


asyncio.run(main())
