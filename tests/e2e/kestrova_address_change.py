"""End to end: the real Kestrova.exe through one address change, then the same address.

Runs as root in a private network and mount namespace: loopback comes up, a hosts file
bind-mounted over /etc/hosts sends the configured host names to 127.0.0.x, where the test's
HTTP servers listen on port 80 and aiosmtpd on port 25. libfaketime runs Kestrova's clock
fast, so that its 180000-ms check period passes in seconds. The first check finds the check
page broken and takes the address from the fallback service: that is a change, and the mail,
the user URL and the three updates follow, in order. The second check reads the same address
from the check page: nothing follows. Then Kestrova is stopped.

    kestrova_address_change.py KESTROVA_EXE SERVER_DIR CHECK FALLBACK DYNDNS NOIP OVH

Exit status: 0 passed, 1 failed, 77 skipped (not root, or no namespaces here)."""
import glob
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from e2e_report import fail, say, skip  # noqa: E402
# Fake seconds per real second: one check period is 18 s. Kestrova's 300-ms SMTP connect
# limit is then 30 ms of real time, room enough for a loaded or sanitized run.
SPEED = 10
PERIOD_S = 180000 / 1000 / SPEED
PYTHON = "/usr/bin/python3"  # Debian's, which has aiosmtpd


EXE, SERVERS, CHECK, FALLBACK, DYNDNS, NOIP, OVH = sys.argv[1:8]
SMTP_HOST = "smtp.kestrova.test"
HOOK_HOST = "hook.kestrova.test"
PLACES = {  # server name: (host name, loopback address, port)
    "check": (CHECK, "127.0.0.2", 80),
    "fallback": (FALLBACK, "127.0.0.3", 80),
    "url": (HOOK_HOST, "127.0.0.4", 80),
    "dyndns": (DYNDNS, "127.0.0.5", 80),
    "noip": (NOIP, "127.0.0.6", 80),
    "ovh": (OVH, "127.0.0.7", 80),
    "smtp": (SMTP_HOST, "127.0.0.8", 25),
}
ADDRESS = "203.0.113.5"

SETTINGS = """[Form1]
qv_fenetre=1
qv_email=1
qv_urlc=1
qv_dyndns=1
qv_noip=1
qv_ovh=1
user_name=mailer@example.org
mot_de_passe=p@ss:w/rd
Smtp_qv={smtp}
Email_v=kestrova@example.org
Email_D=owner@example.org
Sujet_qv=Nouvelle adresse IP
qv_url=http://{hook}/notify?from=kestrova
Login_ip=dyn@example.org
password_ip=p@ss:w/rd
domaine_ip=home.dyndns.org
login_no=noip@example.org
password_no=no:pass
domaine_no=home.no-ip.org
ident_ovh=ovh-user
passe_ovh=ovh/p@ss
domaine_ovh=home.example.fr
[Form1Message_qv]
L0=Bonjour,
L1=à bientôt
ItemIndex=-1
""".format(smtp=SMTP_HOST, hook=HOOK_HOST)

ROUTES = {
    # The first check finds the page broken, the second one reads the same address there.
    "check": {"/": [{"status": 500, "body": "down"},
                    {"body": "<html><head><title>Current IP Check</title></head><body>"
                             "Current IP Address: " + ADDRESS + "</body></html>"}]},
    "fallback": {"/cgi-bin/ipindy.pl": {"body": ADDRESS + "\r\nipindy\r\n"}},
    "url": {"*": {"body": "merci\r\n"}},
    "dyndns": {"*": {"body": "good " + ADDRESS + "\r\n"}},
    "noip": {"*": {"body": "good " + ADDRESS + "\r\n"}},
    "ovh": {"*": {"body": "good " + ADDRESS + "\r\n"}},
}

HTTPCLI = {"User-Agent": "Mozilla/3.0 (compatible)",
           "Accept": "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*"}
INDY = {"User-Agent": "Mozilla/3.0 (compatible; Indy Library)", "Accept": "text/html, */*"}
EXPECTED = [  # server, path and query, Basic credentials, headers, HTTP version
    ("check", "/", None, INDY, None),
    ("fallback", "/cgi-bin/ipindy.pl", None, INDY, None),
    ("url", "/notify?from=kestrova", None, HTTPCLI, "HTTP/1.0"),
    ("dyndns", "/nic/update?system=dyndns&hostname=home.dyndns.org&wildcard=NOCHG&mx=NOCHG"
     "&backmx=NOCHG", "dyn@example.org:p@ss:w/rd", HTTPCLI, "HTTP/1.0"),
    ("noip", "/nic/update?hostname=home.no-ip.org", "noip@example.org:no:pass", HTTPCLI,
     "HTTP/1.0"),
    ("ovh", "/nic/update?system=dyndns&hostname=home.example.fr&myip=" + ADDRESS,
     "ovh-user:ovh/p@ss", HTTPCLI, "HTTP/1.0"),
    ("check", "/", None, INDY, None),
]


def faketime_library():
    """The multi-threaded libfaketime, preloaded straight into Kestrova.exe: the faketime
    wrapper would stand between the test and the program, and a signal to it would leave
    the program running."""
    found = sorted(glob.glob("/usr/lib/*/faketime/libfaketimeMT.so.1"))
    return found[0] if found else None


def outside():
    """Checks what the test needs, then runs it again in its own namespaces."""
    if os.geteuid() != 0:
        skip("needs root for unshare --net --mount")
    if faketime_library() is None:
        skip("libfaketime is not installed")
    probe = subprocess.run(["unshare", "--net", "--mount", "true"], capture_output=True)
    if probe.returncode != 0:
        skip("unshare is not allowed here: " + probe.stderr.decode().strip())
    names = [host for host, _, _ in PLACES.values()]
    if len(set(names)) != len(names):
        fail("the configured host names must differ from one another: " + ", ".join(names))
    env = dict(os.environ, KESTROVA_E2E_INSIDE="1")
    sys.exit(subprocess.run(["unshare", "--net", "--mount", "--", PYTHON] + sys.argv,
                            env=env).returncode)


def read_log(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def header(request, name):
    for key, value in request["headers"]:
        if key.lower() == name.lower():
            return value
    return None


def inside():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    work = tempfile.mkdtemp(prefix="kestrova-e2e-")
    children = []
    try:
        hosts = os.path.join(work, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost\n")
            for host, address, _ in PLACES.values():
                f.write("{} {}\n".format(address, host))
        subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)

        http_log = os.path.join(work, "http.log")
        smtp_log = os.path.join(work, "smtp.log")
        routes = os.path.join(work, "routes.json")
        with open(routes, "w") as f:
            json.dump(ROUTES, f)
        listen = ["{}={}:{}".format(name, address, port)
                  for name, (_, address, port) in PLACES.items() if name != "smtp"]
        for script, args in [("http_server.py", [http_log, routes] + listen),
                             ("smtp_server.py", [smtp_log, "{}:{}".format(*PLACES["smtp"][1:])])]:
            child = subprocess.Popen([PYTHON, os.path.join(SERVERS, script)] + args,
                                     stdout=subprocess.PIPE)
            children.append(child)
            if not child.stdout.readline():
                fail(script + " did not start")

        config = os.path.join(work, "config")
        os.makedirs(os.path.join(config, "Kestrova"), mode=0o700)
        with open(os.path.join(config, "Kestrova", "serie.ini"), "w") as f:
            f.write(SETTINGS)
        runtime = os.path.join(work, "runtime")
        os.makedirs(runtime, mode=0o700)
        env = dict(os.environ, HOME=work, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
                   QT_QPA_PLATFORM="offscreen", LC_ALL="C.UTF-8", TZ="UTC",
                   LD_PRELOAD=faketime_library(), FAKETIME="+0 x{}".format(SPEED),
                   # A sanitized build wants its runtime first; the preloaded clock comes first.
                   ASAN_OPTIONS=":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                        "verify_asan_link_order=0"])))
        # Qt's timers run on the monotonic clock: it must be faked too.
        env.pop("FAKETIME_DONT_FAKE_MONOTONIC", None)
        started = time.monotonic()
        say("starting Kestrova.exe, its clock {} times fast (a check every {:.1f} s)"
            .format(SPEED, PERIOD_S))
        kestrova = subprocess.Popen([EXE], env=env, stdout=subprocess.DEVNULL,
                                    stderr=open(os.path.join(work, "kestrova.err"), "w"),
                                    start_new_session=True)
        children.append(kestrova)

        def wait_for(what, done, limit):
            while not done():
                if kestrova.poll() is not None:
                    fail("Kestrova.exe ended by itself (status {}) while waiting for {}"
                         .format(kestrova.returncode, what))
                if time.monotonic() - started > limit:
                    fail("no {} after {:.0f} s; requests so far: {}".format(
                        what, limit, [(r["server"], r["path"]) for r in read_log(http_log)]))
                time.sleep(0.05)
            say("{:6.2f} s  {}".format(time.monotonic() - started, what))

        def served(name, count=1):
            return lambda: sum(r["server"] == name for r in read_log(http_log)) >= count

        wait_for("first check", served("check"), 3 * PERIOD_S)
        wait_for("OVH update", served("ovh"), 4 * PERIOD_S)
        wait_for("second check", served("check", 2), 6 * PERIOD_S)
        time.sleep(45 / SPEED)  # 45 s of Kestrova's time: room for anything the check would send
        if kestrova.poll() is not None:
            fail("Kestrova.exe ended by itself (status {})".format(kestrova.returncode))
        kestrova.send_signal(signal.SIGTERM)
        if kestrova.wait(10) != -signal.SIGTERM:
            fail("Kestrova.exe did not end by SIGTERM (status {})".format(kestrova.returncode))
        say("{:6.2f} s  Kestrova.exe stopped".format(time.monotonic() - started))

        requests = read_log(http_log)
        mails = [m for m in read_log(smtp_log) if m.get("event") == "mail"]
        seen = [(r["server"], r["path"]) for r in requests]
        if seen != [(s, p) for s, p, _, _, _ in EXPECTED]:
            fail("requests in this order were expected:\n  {}\nbut came:\n  {}".format(
                [(s, p) for s, p, _, _, _ in EXPECTED], seen))
        for request, (name, _, credentials, headers, version) in zip(requests, EXPECTED):
            where = "{} {}".format(name, request["path"])
            if request["credentials"] != credentials:
                fail("{}: credentials {!r}, expected {!r}".format(
                    where, request["credentials"], credentials))
            for key, value in headers.items():
                if header(request, key) != value:
                    fail("{}: {} is {!r}, expected {!r}".format(
                        where, key, header(request, key), value))
            host = PLACES[name][0]
            if header(request, "Host") != host:
                fail("{}: Host is {!r}, expected {!r}".format(where, header(request, "Host"), host))
            if version and request["version"] != version:
                fail("{}: {} instead of {}".format(where, request["version"], version))

        if len(mails) != 1:
            fail("one mail was expected, {} came".format(len(mails)))
        mail = mails[0]
        if not requests[1]["time"] < mail["time"] < requests[2]["time"]:
            fail("the mail did not go between the address check and the user URL")
        if (mail["mail_from"], mail["rcpt_tos"], mail["login"]) != (
                "kestrova@example.org", ["owner@example.org"], "mailer@example.org"):
            fail("envelope or login: {} {} {}".format(
                mail["mail_from"], mail["rcpt_tos"], mail["login"]))
        head, _, body = mail["data"].partition("\r\n\r\n")
        if "\r\nSubject: Nouvelle adresse IP\r\n" not in "\r\n" + head + "\r\n":
            fail("subject missing from the headers:\n" + head)
        lines = body.split("\r\n")
        if lines and lines[-1] == "":
            lines.pop()
        expected = ["Kestrova vous informe!", "Adresse IP : " + ADDRESS,
                    "Lien : http://" + ADDRESS, None, " ", "Message :", "Bonjour,", "à bientôt"]
        if len(lines) != len(expected) or not lines[3].startswith("Date et heure : ") or any(
                want is not None and got != want for got, want in zip(lines, expected)):
            fail("mail body lines:\n  " + "\n  ".join(lines))
        say("E2E PASSED: one change notified (mail, URL, DynDNS, No-IP, OVH in order), "
            "the same address again notified nothing; {:.1f} s".format(time.monotonic() - started))
    finally:
        for child in children:
            if child.poll() is None:
                child.terminate()
                try:
                    child.wait(5)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
        subprocess.run(["umount", "/etc/hosts"], capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


if os.environ.get("KESTROVA_E2E_INSIDE") == "1":
    inside()
else:
    outside()
