"""The install: `cmake --install` into a fresh prefix, then the installed programs start.

    install_start.py CMAKE BUILD_DIR

Checks the layout (both programs in one program folder, the launcher on PATH, a desktop entry
and hicolor icons for each program), that the desktop entries pass desktop-file-validate and
point at the installed programs, and that the programs start on Qt's offscreen platform from
the prefix: Kestrova's first start (no settings file) reaches its event loop without writing
anything; a later start rewrites the settings file at once, as it does when it goes straight
to the tray; Tamrel reaches its event loop.

Exit status: 0 passed, 1 failed."""
import os
import shutil
import subprocess
import sys
import tempfile
import time

CMAKE, BUILD = sys.argv[1:3]
POLL_S = 0.05
LIMIT_S = 60  # a bound for a stuck program on a loaded machine, not a speed goal
POLL_SYSCALLS = {"7", "271"}  # poll, ppoll: Qt's event loop waiting


def fail(reason):
    print("INSTALL FAILED: " + reason, flush=True)
    sys.exit(1)


def wait_for(condition, what, process=None):
    deadline = time.monotonic() + LIMIT_S
    while not condition():
        if process is not None and process.poll() is not None:
            fail("%s: the program ended (status %s) first" % (what, process.returncode))
        if time.monotonic() > deadline:
            fail("%s: not within %d s" % (what, LIMIT_S))
        time.sleep(POLL_S)


def in_event_loop(pid):
    """The offscreen platform is loaded and the main thread waits in poll."""
    try:
        with open("/proc/%d/maps" % pid) as f:
            if "libqoffscreen" not in f.read():
                return False
        with open("/proc/%d/syscall" % pid) as f:
            return f.read().split()[0] in POLL_SYSCALLS
    except (OSError, IndexError):
        return False


def start(command, home):
    config = os.path.join(home, ".config")
    runtime = os.path.join(home, "runtime")
    os.makedirs(runtime, mode=0o700, exist_ok=True)
    env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=runtime,
               QT_QPA_PLATFORM="offscreen", PATH=os.path.join(PREFIX, "bin") + ":/usr/bin:/bin")
    return subprocess.Popen(command, env=env, cwd=home)


def stop(process):
    process.kill()
    process.wait()


work = tempfile.mkdtemp(prefix="kestrova-install-")
try:
    PREFIX = os.path.join(work, "prefix")
    subprocess.run([CMAKE, "--install", BUILD, "--prefix", PREFIX], check=True,
                   stdout=subprocess.DEVNULL)

    program_dir = os.path.join(PREFIX, "lib", "kestrova")
    programs = {"kestrova": "Kestrova.exe", "tamrel": "Tamrel.exe"}
    for name, exe in programs.items():
        path = os.path.join(program_dir, exe)
        if not os.access(path, os.X_OK):
            fail("no program " + path)
        entry = os.path.join(PREFIX, "share", "applications", name + ".desktop")
        result = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        if result.returncode != 0 or result.stdout.strip():
            fail("desktop-file-validate %s: %s%s" % (entry, result.stdout, result.stderr))
        with open(entry, encoding="utf-8") as f:
            if 'Exec="%s"' % path not in f.read().splitlines():
                fail(entry + " does not start " + path)
        icon = os.path.join(PREFIX, "share", "icons", "hicolor", "32x32", "apps", name + ".png")
        if not os.path.isfile(icon):
            fail("no icon " + icon)
    if os.path.realpath(shutil.which("kestrova", path=os.path.join(PREFIX, "bin")) or "") != \
            os.path.join(os.path.realpath(program_dir), "Kestrova.exe"):
        fail("the launcher kestrova does not lead to the installed Kestrova.exe")

    # First start, through the launcher: the window opens, no file is written.
    home = os.path.join(work, "home")
    os.makedirs(home)
    kestrova = start(["kestrova"], home)
    wait_for(lambda: in_event_loop(kestrova.pid), "Kestrova's first start", kestrova)
    settings = os.path.join(home, ".config", "Kestrova", "serie.ini")
    if os.path.exists(settings):
        fail("the first start wrote " + settings)
    stop(kestrova)

    # With a settings file it goes to the tray and writes the settings back at once.
    os.makedirs(os.path.dirname(settings), exist_ok=True)
    with open(settings, "w") as f:
        f.write("[Form1]\n")
    kestrova = start(["kestrova"], home)
    wait_for(lambda: "qv_fenetre" in open(settings).read(), "Kestrova's settings", kestrova)
    stop(kestrova)

    tamrel = start([os.path.join(program_dir, "Tamrel.exe")], home)
    wait_for(lambda: in_event_loop(tamrel.pid), "Tamrel's start", tamrel)
    stop(tamrel)
finally:
    shutil.rmtree(work, ignore_errors=True)
print("install passed", flush=True)
