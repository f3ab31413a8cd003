"""Runs a command on a private X desktop that has a notification area.

    tray_desktop.py COMMAND [ARGUMENT ...]

The command gets DISPLAY, QT_QPA_PLATFORM=xcb and KESTROVA_TRAY_DESKTOP=1, and no session
bus (no other tray than this one). Exit status: the command's, or 77 (skipped) without Xvfb or
libXtst."""
import ctypes.util
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import x11desk  # noqa: E402

if not shutil.which("Xvfb") or not ctypes.util.find_library("Xtst"):
    print("SKIPPED: needs Xvfb and libXtst", flush=True)
    sys.exit(77)
desktop = x11desk.Desktop()
try:
    desktop.add_tray()
    env = dict(os.environ, DISPLAY=desktop.display, QT_QPA_PLATFORM="xcb",
               KESTROVA_TRAY_DESKTOP="1")
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    status = subprocess.run(sys.argv[1:], env=env).returncode
finally:
    desktop.close()
sys.exit(status if status >= 0 else 1)
