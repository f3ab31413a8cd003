"""End to end: the real Tamrel.exe updates an installed Kestrova from the release server, and
refuses every release that does not arrive whole and intact.

Runs as root in private network, mount and process namespaces: loopback comes up, a hosts file
bind-mounted over /etc/hosts sends the configured release host to 127.0.0.9, where the test's
HTTP server listens on port 80 with a version page newer than the installed program. Tamrel
runs on a private Xvfb display; the test presses "Mise à jour" through the XTEST extension and
answers the message boxes with Return. A stand-in "Kestrova.exe" runs meanwhile.

First the failing release servers, one at a time: the archive missing (404), cut short with a
longer length announced, truncated before its central directory but served whole, and an
entry whose data no longer match its CRC. Each time the stand-in must go on running, the
installation stay as it was, no archive stay behind, and the button answer again. Then the
sound release: the stand-in must be stopped, the release's Kestrova.exe started from the
installation folder, the archive deleted, and Tamrel ended.

    tamrel_update.py TAMREL_EXE SERVER_DIR RELEASE_HOST

Exit status: 0 passed, 1 failed, 77 skipped (not root, no namespaces or no Xvfb here)."""
import ctypes
import ctypes.util
import datetime
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile

from e2e_report import fail, say, skip  # noqa: E402
PYTHON = "/usr/bin/python3"
ADDRESS = "127.0.0.9"
SCREEN = (1024, 768)
WINDOW = (390, 153)
BUTTON = (8 + 169 // 2, 88 + 25 // 2)  # the middle of "Mise à jour" in the window
# A process namespace of its own too: Tamrel stops the first "Kestrova.exe" it can see, which
# must be the test's stand-in and never a program of the machine.
UNSHARE = ["unshare", "--net", "--mount", "--pid", "--fork", "--mount-proc"]


EXE, SERVERS, RELEASE_HOST = sys.argv[1:4]


def outside():
    if os.geteuid() != 0:
        skip("needs root for unshare")
    if not shutil.which("Xvfb") or not ctypes.util.find_library("Xtst"):
        skip("needs Xvfb and libXtst")
    probe = subprocess.run(UNSHARE + ["true"], capture_output=True)
    if probe.returncode != 0:
        skip("unshare is not allowed here: " + probe.stderr.decode().strip())
    env = dict(os.environ, KESTROVA_E2E_INSIDE="1")
    sys.exit(subprocess.run(UNSHARE + ["--", PYTHON] + sys.argv,
                            env=env).returncode)


class Pointer:
    """Mouse and keyboard of an X display through XTEST."""

    def __init__(self, display):
        self.x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        self.x11.XOpenDisplay.restype = ctypes.c_void_p
        self.x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
        for f in (self.x11.XFlush, self.x11.XCloseDisplay):
            f.argtypes = [ctypes.c_void_p]
        self.x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.display = None
        for _ in range(100):
            self.display = self.x11.XOpenDisplay(display.encode())
            if self.display:
                break
            time.sleep(0.05)
        if not self.display:
            fail("cannot open the display " + display)

    def click(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 1, 0)
        self.xtst.XTestFakeButtonEvent(self.display, 1, 0, 0)
        self.x11.XFlush(self.display)

    def press_return(self, x, y):
        self.xtst.XTestFakeMotionEvent(self.display, -1, x, y, 0)
        code = self.x11.XKeysymToKeycode(self.display, 0xFF0D)
        self.xtst.XTestFakeKeyEvent(self.display, code, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.display, code, 0, 0)
        self.x11.XFlush(self.display)


def read_log(path):
    if not os.path.exists(path):
        return []
    with open(path) as f:
        return [json.loads(line) for line in f if line.strip()]


def program(release):
    return "#!/bin/sh\necho {} > \"$(dirname \"$0\")/started.txt\"\n".format(release)


def make_release(path, stored_text=None):
    """The release archive; with stored_text, the text file is stored as it stands."""
    with zipfile.ZipFile(path, "w", zipfile.ZIP_DEFLATED) as z:
        info = zipfile.ZipInfo("Kestrova.exe", (2020, 4, 1, 12, 0, 0))
        info.external_attr = 0o100755 << 16
        info.create_system = 3
        z.writestr(info, program("new"))
        if stored_text is None:
            z.writestr("docs/lisezmoi.txt", "nouvelle version\n")
        else:
            z.writestr("docs/lisezmoi.txt", stored_text, compress_type=zipfile.ZIP_STORED)


def directory_offset(data):
    """Where the central directory of an archive without comment begins."""
    return int.from_bytes(data[-6:-2], "little")


class Run:
    """One click of Tamrel against one answer of the release server."""

    def __init__(self, work, display, pointer, http_log, routes):
        self.work, self.display, self.pointer = work, display, pointer
        self.http_log, self.routes = http_log, routes
        self.children = []

    def start(self, archive_answer):
        inst = self.inst = os.path.join(self.work, "inst")
        shutil.rmtree(inst, ignore_errors=True)
        os.makedirs(inst)
        tamrel = os.path.join(inst, "Tamrel.exe")
        shutil.copy(EXE, tamrel)
        # The installation: Tamrel and an old Kestrova.exe, dated 2020-03-15.
        old = os.path.join(inst, "Kestrova.exe")
        with open(old, "w") as f:
            f.write(program("old"))
        os.chmod(old, 0o755)
        when = datetime.datetime(2020, 3, 15, 12, 0, tzinfo=datetime.timezone.utc).timestamp()
        os.utime(old, (when, when))
        with open(self.routes + ".new", "w") as f:
            # The short date of the C locale: month/day/year.
            json.dump({"release": {"/kestrova/update.html": {"body": "03/16/20\r\n"},
                                   "/rv/Kestrova.zip": archive_answer}}, f)
        os.rename(self.routes + ".new", self.routes)
        open(self.http_log, "w").close()

        # The running main program: a long sleep under the main program's name.
        run = os.path.join(self.work, "run")
        os.makedirs(run, exist_ok=True)
        running = os.path.join(run, "Kestrova.exe")
        if not os.path.exists(running):
            shutil.copy(shutil.which("sleep"), running)
        self.stand_in = subprocess.Popen([running, "600"])
        self.children.append(self.stand_in)

        runtime = os.path.join(self.work, "runtime")
        os.makedirs(runtime, mode=0o700, exist_ok=True)
        env = dict(os.environ, HOME=self.work, XDG_RUNTIME_DIR=runtime, DISPLAY=self.display,
                   QT_QPA_PLATFORM="xcb", LC_ALL="C.UTF-8", TZ="UTC")
        self.updater = subprocess.Popen([tamrel], env=env, stdout=subprocess.DEVNULL,
                                        stderr=open(os.path.join(self.work, "tamrel.err"), "w"))
        self.children.append(self.updater)

    def paths(self):
        return [entry["path"] for entry in read_log(self.http_log)]

    def press_until(self, done, seconds, what):
        """Clicks "Mise à jour" and answers boxes with Return until done() holds."""
        # Centred on the screen, no window manager: the button lies at a known place.
        left = (SCREEN[0] - WINDOW[0]) // 2
        top = (SCREEN[1] - WINDOW[1]) // 2
        deadline = time.monotonic() + seconds
        while not done():
            if time.monotonic() > deadline:
                fail("{}; requests {}, stand-in {}".format(
                    what, self.paths(), "running" if self.stand_in.poll() is None else "ended"))
            time.sleep(0.3)
            self.pointer.press_return(SCREEN[0] // 2, SCREEN[1] // 2)
            self.pointer.click(left + BUTTON[0], top + BUTTON[1])

    def stop(self):
        for child in reversed(self.children):
            if child.poll() is None:
                child.kill()
                child.wait()
        self.children = []


def refused(run, name):
    """A release that must not be installed: the watcher runs on, nothing changed or left."""
    say("release server: " + name)
    # Asked for the archive, then answered again: the box was dismissed and the button works.
    run.press_until(lambda: "/rv/Kestrova.zip" in run.paths()
                    and run.paths().count("/kestrova/update.html") >= 2, 30,
                    name + ": Tamrel did not come back to its button")
    # The last click may have begun another round: its box is answered, and the round ends
    # as the first did.
    archive = os.path.join(run.inst, "Kestrova.zip")
    deadline = time.monotonic() + 10
    settled = 0
    while settled < 5:
        if time.monotonic() > deadline:
            fail(name + ": the archive was left behind")
        time.sleep(0.3)
        run.pointer.press_return(SCREEN[0] // 2, SCREEN[1] // 2)
        settled = settled + 1 if not os.path.exists(archive) else 0
    if run.updater.poll() is not None:
        fail(name + ": Tamrel ended")
    if run.stand_in.poll() is not None:
        fail(name + ": the running Kestrova.exe was stopped")
    if open(os.path.join(run.inst, "Kestrova.exe")).read() != program("old"):
        fail(name + ": the main program was replaced")
    if os.path.exists(os.path.join(run.inst, "docs")):
        fail(name + ": entries were extracted")
    run.stop()


def inside():
    subprocess.run(["ip", "link", "set", "lo", "up"], check=True)
    work = tempfile.mkdtemp(prefix="tamrel-e2e-")
    children = []
    run = None
    try:
        hosts = os.path.join(work, "hosts")
        with open(hosts, "w") as f:
            f.write("127.0.0.1 localhost\n{} {}\n".format(ADDRESS, RELEASE_HOST))
        subprocess.run(["mount", "--bind", hosts, "/etc/hosts"], check=True)

        archive = os.path.join(work, "release.zip")
        make_release(archive)
        data = open(archive, "rb").read()
        truncated = os.path.join(work, "truncated.zip")
        with open(truncated, "wb") as f:
            f.write(data[:directory_offset(data)])
        damaged = os.path.join(work, "damaged.zip")
        text = "nouvelle version\n" * 100
        make_release(damaged, text)
        flipped = bytearray(open(damaged, "rb").read())
        flipped[flipped.find(text.encode()) + len(text) // 2] ^= 0x20
        with open(damaged, "wb") as f:
            f.write(flipped)

        routes = os.path.join(work, "routes.json")
        http_log = os.path.join(work, "http.log")
        server = subprocess.Popen([PYTHON, os.path.join(SERVERS, "http_server.py"), http_log,
                                   routes, "release={}:80".format(ADDRESS)],
                                  stdout=subprocess.PIPE)
        children.append(server)
        if not server.stdout.readline():
            fail("http_server.py did not start")

        # Xvfb picks a free display itself: lock files of displays that were killed stay in
        # /tmp, and a guessed number could be one of them.
        ready_read, ready_write = os.pipe()
        xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(ready_write), "-screen", "0",
                                 "{}x{}x24".format(*SCREEN), "-nolisten", "tcp"],
                                stderr=subprocess.DEVNULL, pass_fds=(ready_write,))
        children.append(xvfb)
        os.close(ready_write)
        with os.fdopen(ready_read) as ready:
            number = ready.readline().strip()
        if not number:
            fail("Xvfb did not start")
        display = ":" + number
        pointer = Pointer(display)
        run = Run(work, display, pointer, http_log, routes)
        say("starting Tamrel.exe on " + display)

        for name, answer in [
                ("archive missing", {"status": 404, "body": "missing"}),
                ("cut short", {"file": archive, "limit": directory_offset(data),
                               "action": "cut"}),
                ("truncated, served whole", {"file": truncated}),
                ("an entry failing its CRC", {"file": damaged})]:
            run.start(answer)
            refused(run, name)

        say("release server: the sound release")
        run.start({"file": archive})
        stand_in, updater = run.stand_in, run.updater
        run.press_until(lambda: bool(run.paths()), 15, "Tamrel never asked for the version page")
        deadline = time.monotonic() + 15
        while updater.poll() is None:
            if time.monotonic() > deadline:
                fail("Tamrel did not end; requests {}, stand-in {}".format(
                    run.paths(), "running" if stand_in.poll() is None else "ended"))
            time.sleep(0.3)
            pointer.press_return(SCREEN[0] // 2, SCREEN[1] // 2)

        paths = run.paths()
        if paths != ["/kestrova/update.html", "/rv/Kestrova.zip"]:
            fail("requests: {}".format(paths))
        if stand_in.wait(timeout=5) != -9:
            fail("the running Kestrova.exe was not killed")
        inst = run.inst
        started = os.path.join(inst, "started.txt")
        for _ in range(50):
            if os.path.exists(started):
                break
            time.sleep(0.1)
        if not os.path.exists(started) or open(started).read() != "new\n":
            fail("the new Kestrova.exe was not started")
        if open(os.path.join(inst, "docs", "lisezmoi.txt")).read() != "nouvelle version\n":
            fail("the subfolder's file was not extracted")
        if os.path.exists(os.path.join(inst, "Kestrova.zip")):
            fail("the archive was left behind")
        say("E2E PASSED")
    finally:
        if run:
            run.stop()
        for child in reversed(children):
            if child.poll() is None:
                # Asked first, so that Xvfb removes its lock file.
                child.terminate()
                try:
                    child.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    child.kill()
                    child.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    if os.environ.get("KESTROVA_E2E_INSIDE") == "1":
        inside()
    else:
        outside()
