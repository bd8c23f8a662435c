"""PASS/FAIL bookkeeping shared by the Windows test scripts."""
import sys


class Checks:
    def __init__(self, name):
        self.name = name
        self.passed = 0
        self.failed = 0

    def check(self, what, ok, detail=""):
        """Records one check; detail says what was seen when it failed."""
        if ok:
            self.passed += 1
            print(f"PASS: {what}", flush=True)
        else:
            self.failed += 1
            print(f"FAIL: {what}" + (f"\n      {detail}" if detail else ""), flush=True)
        return ok

    def equal(self, what, seen, expected):
        return self.check(what, seen == expected, f"seen {seen!r}, expected {expected!r}")

    def finish(self):
        """Prints the closing line and ends the script: non-zero on any failure."""
        print(f"{self.name}: {self.passed} passed, {self.failed} failed", flush=True)
        sys.exit(1 if self.failed or not self.passed else 0)
