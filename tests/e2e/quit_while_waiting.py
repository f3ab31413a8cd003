"""End to end: "Quitter" while a request waits for its server ends the real programs.

Runs as root in private network, mount and process namespaces on a private Xvfb display
(tests/support/x11desk.py), with the test's HTTP servers on loopback behind a hosts file
bind-mounted over /etc/hosts. The user's clicks and keys go through XTEST.

Kestrova.exe, its clock fast (libfaketime) so that its first check comes in seconds: the
check page gives a new address, and the user URL that follows is served by a server that
never answers. While that request waits, "Quitter" is chosen:
  - the window's button, on a desktop without a notification area (the window is in view);
  - the window's menu (a right click on it, the menu's last entry);
  - the tray menu (a right click on the icon) on a desktop with a notification area, where
    the program starts with its window hidden and its icon docked.
Tamrel.exe: "Mise à jour", then its "Quitter" while the version page, or else the archive
after a version page announcing a newer release, never comes; the installation stays as it
was and no partial archive stays behind.
Each time the program must end and the waiting request be abandoned (the server sees the
connection closed).

    quit_while_waiting.py KESTROVA_EXE TAMREL_EXE SERVER_DIR CHECK_HOST RELEASE_HOST

Exit status: 0 passed, 1 failed, 77 skipped (not root, no namespaces, libfaketime or Xvfb)."""
import ctypes.util
import datetime
import glob
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import x11desk  # noqa: E402

from e2e_report import fail, say, skip  # noqa: E402
PYTHON = "/usr/bin/python3"  # Debian's
# Fake seconds per real second: the first check comes 18 s after the start.
SPEED = 10
PERIOD_S = 180000 / 1000 / SPEED
# Far more than a program that honours the quit needs, far less than forever.
END_BOUND_S = 30
UNSHARE = ["unshare", "--net", "--mount", "--pid", "--fork", "--mount-proc"]
ADDRESS = "203.0.113.5"
HOOK_HOST = "hook.kestrova.test"


KESTROVA, TAMREL, SERVERS, CHECK_HOST, RELEASE_HOST = sys.argv[1:6]
PLACES = {  # server name: (host name, loopback address)
    "check": (CHECK_HOST, "127.0.0.2"),
    "url": (HOOK_HOST, "127.0.0.4"),
    "release": (RELEASE_HOST, "127.0.0.9"),
}
SETTINGS = """[Form1]
qv_fenetre=1
qv_email=0
qv_urlc=1
qv_dyndns=0
qv_noip=0
qv_ovh=0
qv_url=http://{hook}/notify
""".format(hook=HOOK_HOST)
ROUTES = {
    "check": {"/": {"body": "<html><head><title>Current IP Check</title></head><body>"
                            "Current IP Address: " + ADDRESS + "</body></html>"}},
    "url": {"*": {"action": "stall"}},
}
# Kestrova's window: 406 by 322, centred; "Quitter" at 306, 286, 92 by 28.
KESTROVA_QUIT = (306 + 46, 286 + 14)
# Tamrel's window: "Mise à jour" at 8, 88 and "Quitter" at 200, 88, both 169 by 25.
TAMREL_UPDATE = (8 + 84, 88 + 12)
TAMREL_QUIT = (200 + 84, 88 + 12)


def faketime_library():
    found = sorted(glob.glob("/usr/lib/*/faketime/libfaketimeMT.so.1"))
    return found[0] if found else None


def outside():
    if os.geteuid() != 0:
        skip("needs root for unshare")
    if faketime_library() is None:
        skip("libfaketime is not installed")
    if not shutil.which("Xvfb") or not ctypes.util.find_library("Xtst"):
        skip("needs Xvfb and libXtst")
    probe = subprocess.run(UNSHARE + ["true"], capture_output=True)
    if probe.returncode != 0:
        skip("unshare is not allowed here: " + probe.stderr.decode().strip())
    env = dict(os.environ, KESTROVA_E2E_INSIDE="1")
    sys.exit(subprocess.run(UNSHARE + ["--", PYTHON] + sys.argv, env=env).returncode)


def read_log(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


class Case:
    def __init__(self, work, http_log):
        self.work, self.http_log = work, http_log
        self.started = time.monotonic()

    def requests(self, server):
        return [r for r in read_log(self.http_log) if r["server"] == server]

    def hangups(self, server):
        return [r for r in read_log(self.http_log + ".hangups") if r["server"] == server]

    def wait_for(self, what, done, limit, program):
        end = time.monotonic() + limit
        while not done():
            if program.poll() is not None:
                fail("{} ended by itself (status {}) while waiting for {}".format(
                    self.name, program.returncode, what))
            if time.monotonic() > end:
                fail("{}: no {} after {:.0f} s; requests so far: {}".format(
                    self.name, what, limit,
                    [(r["server"], r["path"]) for r in read_log(self.http_log)]))
            time.sleep(0.05)
        say("{:6.2f} s  {}: {}".format(time.monotonic() - self.started, self.name, what))

    def ends_and_abandons(self, program, server, path=None):
        """The program ends, and the request it was waiting for (the only one to that server,
        or the only one of that path) is given up."""
        try:
            program.wait(END_BOUND_S)
        except subprocess.TimeoutExpired:
            fail("{}: still running {} s after Quitter, its request {}".format(
                self.name, END_BOUND_S,
                "abandoned" if self.hangups(server) else "still waiting"))
        if program.returncode != 0:
            fail("{}: ended with status {}".format(self.name, program.returncode))
        end = time.monotonic() + 5
        while not self.hangups(server):
            if time.monotonic() > end:
                fail(self.name + ": the server never saw the request given up")
            time.sleep(0.05)
        asked = [r for r in self.requests(server) if path in (None, r["path"])]
        if len(asked) != 1:
            fail("{}: {} requests to {}, one expected".format(self.name, len(asked), server))
        say("{:6.2f} s  {}: ended, the request abandoned".format(
            time.monotonic() - self.started, self.name))


def kestrova_case(work, http_log, name, with_tray, quit):
    """Starts Kestrova on a fresh desktop, waits for the pending user URL and quits."""
    case = Case(work, http_log)
    case.name = "Kestrova, " + name
    open(http_log, "w").close()
    open(http_log + ".hangups", "w").close()
    home = os.path.join(work, name.replace(" ", "-"))
    config = os.path.join(home, "config")
    os.makedirs(os.path.join(config, "Kestrova"), mode=0o700)
    with open(os.path.join(config, "Kestrova", "serie.ini"), "w") as f:
        f.write(SETTINGS)
    runtime = os.path.join(home, "runtime")
    os.makedirs(runtime, mode=0o700)
    desktop = x11desk.Desktop()
    program = None
    try:
        tray = desktop.add_tray() if with_tray else None
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
                   DISPLAY=desktop.display, QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8", TZ="UTC",
                   LD_PRELOAD=faketime_library(), FAKETIME="+0 x{}".format(SPEED),
                   ASAN_OPTIONS=":".join(filter(None, [os.environ.get("ASAN_OPTIONS"),
                                                        "verify_asan_link_order=0"])))
        env.pop("FAKETIME_DONT_FAKE_MONOTONIC", None)
        env.pop("DBUS_SESSION_BUS_ADDRESS", None)  # no other tray than the test's
        program = subprocess.Popen([KESTROVA], env=env, stdout=subprocess.DEVNULL,
                                   stderr=open(home + ".err", "w"))
        if with_tray:
            case.wait_for("icon docked", lambda: tray.docked, 10, program)
        else:
            case.wait_for("window shown", lambda: desktop.shown_window("Kestrova"), 10, program)
        case.wait_for("user URL waiting", lambda: case.requests("url"), 3 * PERIOD_S, program)
        if with_tray and desktop.shown_window("Kestrova"):
            fail(case.name + ": the window is in view although the desktop has a tray")
        quit(desktop, tray)
        case.ends_and_abandons(program, "url")
    finally:
        if program and program.poll() is None:
            program.kill()
            program.wait()
        desktop.close()


def press_quit_button(desktop, tray):
    left, top, _, _ = desktop.shown_window("Kestrova")
    desktop.click(left + KESTROVA_QUIT[0], top + KESTROVA_QUIT[1])


def last_menu_entry(desktop):
    # Up from no entry picks the last one: "Quitter".
    time.sleep(0.5)
    desktop.key("Up")
    desktop.key("Return")


def window_menu_quit(desktop, tray):
    left, top, _, _ = desktop.shown_window("Kestrova")
    desktop.click(left + 200, top + 150, button=3)
    last_menu_entry(desktop)


def tray_menu_quit(desktop, tray):
    desktop.click(*tray.icon_place(), button=3)
    last_menu_entry(desktop)


def tamrel_case(work, http_log, routes, name, answers, waiting_path):
    """Starts Tamrel, clicks "Mise à jour", and "Quitter" once the request of waiting_path
    waits."""
    case = Case(work, http_log)
    case.name = "Tamrel, " + name
    open(http_log, "w").close()
    open(http_log + ".hangups", "w").close()
    with open(routes + ".new", "w") as f:
        json.dump(dict(ROUTES, release=answers), f)
    os.rename(routes + ".new", routes)
    inst = os.path.join(work, "inst-" + name.replace(" ", "-"))
    os.makedirs(inst)
    shutil.copy(TAMREL, os.path.join(inst, "Tamrel.exe"))
    # The installed main program, older than the release the version page may announce.
    old = os.path.join(inst, "Kestrova.exe")
    with open(old, "w") as f:
        f.write("#!/bin/sh\n")
    os.chmod(old, 0o755)
    when = datetime.datetime(2020, 3, 15, 12, 0, tzinfo=datetime.timezone.utc).timestamp()
    os.utime(old, (when, when))
    runtime = os.path.join(inst, "runtime")
    os.makedirs(runtime, mode=0o700)
    desktop = x11desk.Desktop()
    program = None
    try:
        env = dict(os.environ, HOME=inst, XDG_RUNTIME_DIR=runtime, DISPLAY=desktop.display,
                   QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8", TZ="UTC")
        program = subprocess.Popen([os.path.join(inst, "Tamrel.exe")], env=env,
                                   stdout=subprocess.DEVNULL,
                                   stderr=open(inst + ".err", "w"))
        case.wait_for("window shown", lambda: desktop.shown_window("Mise à jour Kestrova"), 10,
                      program)
        left, top, _, _ = desktop.shown_window("Mise à jour Kestrova")
        desktop.click(left + TAMREL_UPDATE[0], top + TAMREL_UPDATE[1])
        case.wait_for(waiting_path + " waiting",
                      lambda: any(r["path"] == waiting_path for r in case.requests("release")),
                      10, program)
        time.sleep(0.5)
        desktop.click(left + TAMREL_QUIT[0], top + TAMREL_QUIT[1])
        case.ends_and_abandons(program, "release", waiting_path)
        if os.path.exists(os.path.join(inst, "Kestrova.zip")):
            fail(case.name + ": the partial archive was left behind")
        if open(old).read() != "#!/bin/sh\n":
            fail(case.name + ": the installed program was changed")
    finally:
        if program and program.poll() is None:
            program.kill()
            program.wait()
        desktop.close()


def inside():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    work = tempfile.mkdtemp(prefix="quit-e2e-")
    server = None
    try:
        hosts = os.path.join(work, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost\n")
            for host, address in PLACES.values():
                f.write("{} {}\n".format(address, host))
        subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)
        http_log = os.path.join(work, "http.log")
        routes = os.path.join(work, "routes.json")
        with open(routes, "w") as f:
            json.dump(ROUTES, f)
        server = subprocess.Popen(
            [PYTHON, os.path.join(SERVERS, "http_server.py"), http_log, routes] +
            ["{}={}:80".format(name, address) for name, (_, address) in PLACES.items()],
            stdout=subprocess.PIPE)
        if not server.stdout.readline():
            fail("http_server.py did not start")

        only = os.environ.get("QUIT_CASES", "").split(",")
        cases = [("button", False, press_quit_button),
                 ("window menu", False, window_menu_quit),
                 ("tray menu", True, tray_menu_quit)]
        for name, with_tray, quit in cases:
            if only == [""] or name in only:
                kestrova_case(work, http_log, name, with_tray, quit)
        # The short date of the C locale: month/day/year, a day after the installed program.
        for name, answers, waiting in [
                ("version page", {"*": {"action": "stall"}}, "/kestrova/update.html"),
                ("download", {"/kestrova/update.html": {"body": "03/16/20\r\n"},
                              "/rv/Kestrova.zip": {"action": "stall"}}, "/rv/Kestrova.zip")]:
            if only == [""] or "tamrel " + name in only:
                tamrel_case(work, http_log, routes, name, answers, waiting)
        say("E2E PASSED: Quitter while a request waits ends Kestrova (button, window menu, "
            "tray menu) and Tamrel (version page, download), the request abandoned")
    finally:
        if server and server.poll() is None:
            server.kill()
            server.wait()
        subprocess.run(["umount", "/etc/hosts"], capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


if os.environ.get("KESTROVA_E2E_INSIDE") == "1":
    inside()
else:
    outside()
