"""A test server lives no longer than the program that started it: a test program that
crashes leaves no server behind, which would hold the program's output open and keep ctest
waiting for it until its time-out."""
import ctypes
import os
import signal
import sys

PR_SET_PDEATHSIG = 1


def end_with_parent():
    parent = os.getppid()
    ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGTERM)
    # A parent that ended between the two calls sends no signal. (Pid 1 may well be the
    # parent: the end-to-end tests start the servers from the first process of a namespace.)
    if os.getppid() != parent:
        sys.exit(0)
