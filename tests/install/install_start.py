"""The install: `cmake --install` into a prefix, then the installed programs start.

    install_start.py CMAKE BUILD_DIR [PREFIX]

Without PREFIX the install goes into a fresh temporary one; with it (CI gives an ordinary
user's ~/.local, run as that user) into that one, which stays. Checks the layout (both
programs in one program folder, a launcher on PATH for each, a desktop entry and hicolor icons
at 16, 32, 48, 64 and 128 pixels for each, Tamrel's not Kestrova's), that the desktop entries
pass desktop-file-validate and
point at the installed programs, and that the programs start on Qt's offscreen platform from
the prefix: Kestrova's first start (no settings file) reaches its event loop without writing
anything; a later start rewrites the settings file at once, as it does when it goes straight
to the tray; Tamrel reaches its event loop.

Exit status: 0 passed, 1 failed."""
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import time

CMAKE, BUILD = sys.argv[1:3]
GIVEN_PREFIX = sys.argv[3] if len(sys.argv) > 3 else None
ICON_SIZES = (16, 32, 48, 64, 128)
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


def png_size(path):
    with open(path, "rb") as f:
        head = f.read(24)
    if head[:8] != b"\x89PNG\r\n\x1a\n":
        return None
    return struct.unpack(">II", head[16:24])


def stop(process):
    process.kill()
    process.wait()


work = tempfile.mkdtemp(prefix="kestrova-install-")
try:
    PREFIX = GIVEN_PREFIX or os.path.join(work, "prefix")
    subprocess.run([CMAKE, "--install", BUILD, "--prefix", PREFIX], check=True,
                   stdout=subprocess.DEVNULL)

    program_dir = os.path.join(PREFIX, "lib", "kestrova")
    programs = {"kestrova": "Kestrova.exe", "tamrel": "Tamrel.exe"}
    icons = {}
    for name, exe in programs.items():
        path = os.path.join(program_dir, exe)
        if not os.access(path, os.X_OK):
            fail("no program " + path)
        launcher = shutil.which(name, path=os.path.join(PREFIX, "bin")) or ""
        if os.path.realpath(launcher) != os.path.join(os.path.realpath(program_dir), exe):
            fail("the launcher %s does not lead to the installed %s" % (name, exe))
        entry = os.path.join(PREFIX, "share", "applications", name + ".desktop")
        result = subprocess.run(["desktop-file-validate", entry], capture_output=True, text=True)
        if result.returncode != 0 or result.stdout.strip():
            fail("desktop-file-validate %s: %s%s" % (entry, result.stdout, result.stderr))
        with open(entry, encoding="utf-8") as f:
            lines = f.read().splitlines()
        if 'Exec="%s"' % path not in lines or "Icon=" + name not in lines:
            fail(entry + " does not start " + path + " with its own icon")
        for size in ICON_SIZES:
            icon = os.path.join(PREFIX, "share", "icons", "hicolor", "%dx%d" % (size, size),
                                "apps", name + ".png")
            if not os.path.isfile(icon) or png_size(icon) != (size, size):
                fail("no %d-pixel icon %s" % (size, icon))
            with open(icon, "rb") as f:
                icons[name, size] = f.read()
    for size in ICON_SIZES:
        if icons["kestrova", size] == icons["tamrel", size]:
            fail("Tamrel's %d-pixel icon is Kestrova's" % size)

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

    tamrel = start(["tamrel"], home)
    wait_for(lambda: in_event_loop(tamrel.pid), "Tamrel's start", tamrel)
    stop(tamrel)
    # Tamrel extracts each release into the program folder, and writes its archive there.
    if not os.access(program_dir, os.W_OK):
        fail("the program folder %s cannot be written by its user" % program_dir)
finally:
    shutil.rmtree(work, ignore_errors=True)
print("install passed", flush=True)
