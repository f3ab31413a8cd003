"""How an end-to-end test speaks to ctest: lines as they happen, exit 77 for a skip (ctest's
SKIP_RETURN_CODE), 1 for a failure."""
import sys

SKIP = 77


def say(text):
    print(text, flush=True)


def skip(reason):
    say("SKIPPED: " + reason)
    sys.exit(SKIP)


def fail(reason):
    say("E2E FAILED: " + reason)
    sys.exit(1)
