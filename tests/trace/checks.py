"""The tests' one tally: each check counted, each failure said; the summary line and the
exit status at the end."""
import sys

_tally = {"checks": 0, "failed": 0}


def expect(ok, what):
    _tally["checks"] += 1
    if not ok:
        _tally["failed"] += 1
        print("FAILED:", what)
    return bool(ok)


def summary(name):
    """Prints NAME: passed and failed; the exit status for them."""
    checks, failed = _tally["checks"], _tally["failed"]
    print(f"{name}: {checks - failed} passed, {failed} failed")
    return 1 if failed else 0


def finish(name):
    sys.exit(summary(name))
