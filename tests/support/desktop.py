"""Runs a command on a private X desktop made for it.

    desktop.py [--tray] [--window-manager] [--panel] COMMAND [ARGUMENT ...]

The desktop is Xvfb, with a notification area (--tray), openbox (--window-manager) and a
panel along the bottom edge that the work area leaves out (--panel, with the window manager).
The command gets DISPLAY, QT_QPA_PLATFORM=xcb, KESTROVA_DESKTOP (what the desktop has, as
"x11,tray,window-manager,panel"), KESTROVA_WINDOW_MANAGER (its process id, with a window
manager) and no session bus (no other tray than this one). Exit
status: the command's, or 77 (skipped) without Xvfb, libXtst or, when asked for, openbox."""
import ctypes.util
import os
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import x11desk  # noqa: E402

options = []
command = sys.argv[1:]
while command and command[0].startswith("--"):
    options.append(command.pop(0)[2:])
needs = ["Xvfb"] + (["openbox"] if "window-manager" in options or "panel" in options else [])
if any(not shutil.which(tool) for tool in needs) or not ctypes.util.find_library("Xtst"):
    print("SKIPPED: needs " + ", ".join(needs) + " and libXtst", flush=True)
    sys.exit(77)
desktop = x11desk.Desktop()
try:
    has = ["x11"]
    if "window-manager" in options or "panel" in options:
        desktop.add_window_manager()
        has.append("window-manager")
    if "panel" in options:
        desktop.add_panel()
        has.append("panel")
    if "tray" in options:
        desktop.add_tray()
        has.append("tray")
    env = dict(os.environ, DISPLAY=desktop.display, QT_QPA_PLATFORM="xcb",
               KESTROVA_DESKTOP=",".join(has))
    env.pop("DBUS_SESSION_BUS_ADDRESS", None)
    if desktop.window_manager:
        env["KESTROVA_WINDOW_MANAGER"] = str(desktop.window_manager.pid)
    status = subprocess.run(command, env=env).returncode
finally:
    desktop.close()
sys.exit(status if status >= 0 else 1)
