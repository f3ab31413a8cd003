"""A private X desktop for the tests: Xvfb, the pointer and keyboard through XTEST, a look at
the top-level windows, and on request a notification area (an XEmbed system tray that docks
the icons asking for it), a window manager (openbox) and a panel along the bottom edge that
the work area leaves out, all through Xlib by ctypes."""
import ctypes
import ctypes.util
import os
import signal
import subprocess
import threading
import time

SCREEN = (1024, 768)
PANEL_HEIGHT = 32
CURRENT_TIME = 0
CLIENT_MESSAGE = 33
STRUCTURE_NOTIFY_MASK = 1 << 17
IS_VIEWABLE = 2
TRAY_REQUEST_DOCK = 0
XEMBED_EMBEDDED_NOTIFY = 0
KEYS = {"Return": 0xFF0D, "Up": 0xFF52, "Escape": 0xFF1B}


class WindowAttributes(ctypes.Structure):
    _fields_ = [("x", ctypes.c_int), ("y", ctypes.c_int), ("width", ctypes.c_int),
                ("height", ctypes.c_int), ("border_width", ctypes.c_int),
                ("depth", ctypes.c_int), ("visual", ctypes.c_void_p),
                ("root", ctypes.c_ulong), ("klass", ctypes.c_int),
                ("bit_gravity", ctypes.c_int), ("win_gravity", ctypes.c_int),
                ("backing_store", ctypes.c_int), ("backing_planes", ctypes.c_ulong),
                ("backing_pixel", ctypes.c_ulong), ("save_under", ctypes.c_int),
                ("colormap", ctypes.c_ulong), ("map_installed", ctypes.c_int),
                ("map_state", ctypes.c_int), ("all_event_masks", ctypes.c_long),
                ("your_event_mask", ctypes.c_long), ("do_not_propagate_mask", ctypes.c_long),
                ("override_redirect", ctypes.c_int), ("screen", ctypes.c_void_p)]


class ClientMessage(ctypes.Structure):
    _fields_ = [("type", ctypes.c_int), ("serial", ctypes.c_ulong),
                ("send_event", ctypes.c_int), ("display", ctypes.c_void_p),
                ("window", ctypes.c_ulong), ("message_type", ctypes.c_ulong),
                ("format", ctypes.c_int), ("data", ctypes.c_long * 5)]


class Event(ctypes.Union):
    _fields_ = [("type", ctypes.c_int), ("client", ClientMessage), ("pad", ctypes.c_long * 24)]


_ERROR_HANDLER = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, ctypes.c_void_p)
_IGNORE_ERRORS = _ERROR_HANDLER(lambda display, error: 0)


def _xlib():
    x11 = ctypes.CDLL(ctypes.util.find_library("X11"))
    v, i, u, p = ctypes.c_void_p, ctypes.c_int, ctypes.c_ulong, ctypes.POINTER
    signatures = {
        "XOpenDisplay": (v, [ctypes.c_char_p]),
        "XCloseDisplay": (i, [v]),
        "XFlush": (i, [v]),
        "XSync": (i, [v, i]),
        "XDefaultRootWindow": (u, [v]),
        "XInternAtom": (u, [v, ctypes.c_char_p, i]),
        "XKeysymToKeycode": (ctypes.c_ubyte, [v, u]),
        "XQueryTree": (i, [v, u, p(u), p(u), p(p(u)), p(ctypes.c_uint)]),
        "XFetchName": (i, [v, u, p(ctypes.c_char_p)]),
        "XFree": (i, [v]),
        "XGetWindowAttributes": (i, [v, u, p(WindowAttributes)]),
        "XTranslateCoordinates": (i, [v, u, u, i, i, p(i), p(i), p(u)]),
        "XCreateSimpleWindow": (u, [v, u, i, i, ctypes.c_uint, ctypes.c_uint, ctypes.c_uint,
                                    u, u]),
        "XMapRaised": (i, [v, u]),
        "XMapWindow": (i, [v, u]),
        "XReparentWindow": (i, [v, u, u, i, i]),
        "XSetSelectionOwner": (i, [v, u, u, u]),
        "XSendEvent": (i, [v, u, i, ctypes.c_long, p(Event)]),
        "XChangeProperty": (i, [v, u, u, u, i, i, ctypes.c_void_p, i]),
        "XGetSelectionOwner": (u, [v, u]),
        "XPending": (i, [v]),
        "XNextEvent": (i, [v, p(Event)]),
    }
    for name, (result, arguments) in signatures.items():
        function = getattr(x11, name)
        function.restype = result
        function.argtypes = arguments
    # A window may be gone by the time a request about it arrives (an icon asking to be
    # docked as its program ends): Xlib's default handler would end this process for it.
    x11.XSetErrorHandler.restype = ctypes.c_void_p
    x11.XSetErrorHandler.argtypes = [_ERROR_HANDLER]
    x11.XSetErrorHandler(_IGNORE_ERRORS)
    return x11


def _end_with_us():
    """For the programs the desktop starts: they end when the process that started them
    does, even one that crashed, so that none outlives its test."""
    ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG


def _open(x11, display):
    for _ in range(100):
        handle = x11.XOpenDisplay(display.encode())
        if handle:
            return handle
        time.sleep(0.05)
    raise RuntimeError("cannot open the display " + display)


class Desktop:
    """Xvfb on a display of its own choosing, with no window manager."""

    def __init__(self):
        ready_read, ready_write = os.pipe()
        # Xvfb picks a free display itself: lock files of displays that were killed stay in
        # /tmp, and a guessed number could be one of them.
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(ready_write), "-screen", "0",
                                      "{}x{}x24".format(*SCREEN), "-nolisten", "tcp"],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                     pass_fds=(ready_write,), preexec_fn=_end_with_us)
        os.close(ready_write)
        with os.fdopen(ready_read) as ready:
            number = ready.readline().strip()
        if not number:
            self.xvfb.kill()
            raise RuntimeError("Xvfb did not start")
        self.display = ":" + number
        self.x11 = _xlib()
        self.xtst = ctypes.CDLL(ctypes.util.find_library("Xtst"))
        self.xtst.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeButtonEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint,
                                                   ctypes.c_int, ctypes.c_ulong]
        self.xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                                ctypes.c_ulong]
        self.handle = _open(self.x11, self.display)
        self.tray = None
        self.window_manager = None

    def close(self):
        # The X server goes whatever fails before: a server left behind would outlive the
        # test.
        try:
            if self.tray:
                self.tray.close()
            if self.window_manager:
                self.window_manager.kill()
                self.window_manager.wait()
            self.x11.XCloseDisplay(self.handle)
        finally:
            self.xvfb.kill()
            self.xvfb.wait()

    def click(self, x, y, button=1):
        self.xtst.XTestFakeMotionEvent(self.handle, -1, x, y, 0)
        self.xtst.XTestFakeButtonEvent(self.handle, button, 1, 0)
        self.xtst.XTestFakeButtonEvent(self.handle, button, 0, 0)
        self.x11.XFlush(self.handle)

    def key(self, name):
        code = self.x11.XKeysymToKeycode(self.handle, KEYS[name])
        self.xtst.XTestFakeKeyEvent(self.handle, code, 1, 0)
        self.xtst.XTestFakeKeyEvent(self.handle, code, 0, 0)
        self.x11.XFlush(self.handle)

    def shown_window(self, title):
        """(left, top, width, height) on the screen of the viewable top-level window of that
        title, or None."""
        x11, d = self.x11, self.handle
        root, parent = ctypes.c_ulong(), ctypes.c_ulong()
        children, count = ctypes.POINTER(ctypes.c_ulong)(), ctypes.c_uint()
        x11.XSync(d, 0)
        if not x11.XQueryTree(d, x11.XDefaultRootWindow(d), ctypes.byref(root),
                              ctypes.byref(parent), ctypes.byref(children), ctypes.byref(count)):
            return None
        try:
            for i in range(count.value):
                window = children[i]
                name = ctypes.c_char_p()
                if not x11.XFetchName(d, window, ctypes.byref(name)) or not name.value:
                    continue
                # WM_NAME is Latin-1 text.
                found = name.value.decode("latin-1") == title
                x11.XFree(name)
                attributes = WindowAttributes()
                if found and x11.XGetWindowAttributes(d, window, ctypes.byref(attributes)) \
                        and attributes.map_state == IS_VIEWABLE:
                    return attributes.x, attributes.y, attributes.width, attributes.height
        finally:
            if children:
                x11.XFree(children)
        return None

    def add_tray(self):
        self.tray = Tray(self.x11, self.display)
        return self.tray

    def add_window_manager(self):
        """Starts openbox on the display and waits until it manages the screen."""
        self.window_manager = subprocess.Popen(
            ["openbox", "--sm-disable"], env=dict(os.environ, DISPLAY=self.display),
            stdin=subprocess.DEVNULL, preexec_fn=_end_with_us,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        selection = self.x11.XInternAtom(self.handle, b"WM_S0", 0)
        for _ in range(200):
            if self.x11.XGetSelectionOwner(self.handle, selection):
                return
            time.sleep(0.025)
        raise RuntimeError("openbox did not take the screen")

    def add_panel(self, height=PANEL_HEIGHT):
        """A dock along the bottom edge that reserves its height: the window manager leaves
        it out of the work area."""
        x11, d = self.x11, self.handle
        root = x11.XDefaultRootWindow(d)
        panel = x11.XCreateSimpleWindow(d, root, 0, SCREEN[1] - height, SCREEN[0], height, 0, 0,
                                        0)
        atom = lambda name: x11.XInternAtom(d, name, 0)  # noqa: E731
        dock = (ctypes.c_ulong * 1)(atom(b"_NET_WM_WINDOW_TYPE_DOCK"))
        x11.XChangeProperty(d, panel, atom(b"_NET_WM_WINDOW_TYPE"), 4, 32, 0, dock, 1)
        strut = (ctypes.c_ulong * 12)(0, 0, 0, height, 0, 0, 0, 0, 0, 0, 0, SCREEN[0] - 1)
        x11.XChangeProperty(d, panel, atom(b"_NET_WM_STRUT_PARTIAL"), 6, 32, 0, strut, 12)
        x11.XMapRaised(d, panel)
        x11.XFlush(d)
        time.sleep(0.3)  # the window manager works the strut into _NET_WORKAREA


class Tray:
    """A notification area at the top right of the screen that docks one icon: it owns the
    system tray selection, embeds the window that asks to be docked and shows it."""

    SIZE = 24

    def __init__(self, x11, display):
        self.x11 = x11
        self.handle = _open(x11, display)
        d = self.handle
        root = x11.XDefaultRootWindow(d)
        self.window = x11.XCreateSimpleWindow(d, root, SCREEN[0] - self.SIZE, 0, self.SIZE,
                                              self.SIZE, 0, 0, 0)
        x11.XMapRaised(d, self.window)
        selection = x11.XInternAtom(d, b"_NET_SYSTEM_TRAY_S0", 0)
        self.opcode = x11.XInternAtom(d, b"_NET_SYSTEM_TRAY_OPCODE", 0)
        self.xembed = x11.XInternAtom(d, b"_XEMBED", 0)
        x11.XSetSelectionOwner(d, selection, self.window, CURRENT_TIME)
        # Programs already running learn of the new tray from the manager message.
        self._send(root, x11.XInternAtom(d, b"MANAGER", 0),
                   [CURRENT_TIME, selection, self.window, 0, 0], STRUCTURE_NOTIFY_MASK)
        x11.XFlush(d)
        self.docked = []
        self.stopping = False
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()

    def icon_place(self):
        """The middle of the docked icon on the screen."""
        return SCREEN[0] - self.SIZE // 2, self.SIZE // 2

    def _send(self, window, message_type, data, mask=0):
        event = Event()
        event.client.type = CLIENT_MESSAGE
        event.client.window = window
        event.client.message_type = message_type
        event.client.format = 32
        for i, value in enumerate(data):
            event.client.data[i] = value
        self.x11.XSendEvent(self.handle, window, 0, mask, ctypes.byref(event))

    def _serve(self):
        x11, d = self.x11, self.handle
        event = Event()
        while not self.stopping:
            if not x11.XPending(d):
                time.sleep(0.02)
                continue
            x11.XNextEvent(d, ctypes.byref(event))
            if event.type != CLIENT_MESSAGE or event.client.message_type != self.opcode:
                continue
            if event.client.data[1] != TRAY_REQUEST_DOCK:
                continue
            icon = event.client.data[2] & 0xFFFFFFFF
            x11.XReparentWindow(d, icon, self.window, 0, 0)
            x11.XMapRaised(d, icon)
            self._send(icon, self.xembed,
                       [CURRENT_TIME, XEMBED_EMBEDDED_NOTIFY, 0, self.window, 0])
            x11.XFlush(d)
            self.docked.append(icon)

    def close(self):
        self.stopping = True
        self.thread.join(2)
        self.x11.XCloseDisplay(self.handle)
