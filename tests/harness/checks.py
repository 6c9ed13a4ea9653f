"""The check runner: named checks in order, a PASS or FAIL line each, and a failed check
never stops the ones after it."""
import subprocess
import time

# What a check may raise when the harness, not the player, went wrong.
HARNESS_ERRORS = (subprocess.SubprocessError, OSError, RuntimeError)


class CheckFailed(Exception):
    pass


def require(condition, message):
    if not condition:
        raise CheckFailed(message)


def _took(started):
    return "  [%.1f s]" % (time.monotonic() - started)


def _indented(text):
    return "\n      " + text.replace("\n", "\n      ")


class CheckRunner:
    def __init__(self, harness_errors=HARNESS_ERRORS, on_failure=None):
        """harness_errors: what counts as a harness error rather than a crash of the run;
        on_failure(): called after each failed check, for instance to print the player's output."""
        self.harness_errors = harness_errors
        self.on_failure = on_failure
        self.results = []           # (name, passed, detail)

    def run(self, name, check, blocker=None):
        """Runs check(), which returns a detail text or raises CheckFailed. A blocker (a text)
        fails the check without running it."""
        if blocker:
            self._fail(name, blocker, "")
            return
        started = time.monotonic()
        try:
            detail = check() or ""
        except CheckFailed as failure:
            self._fail(name, str(failure), _took(started))
        except self.harness_errors as error:
            self._fail(name, "harness error: %r" % error, _took(started))
        else:
            self.results.append((name, True, detail))
            print("PASS  %s%s %s" % (name, _took(started), detail), flush=True)

    def _fail(self, name, detail, took):
        self.results.append((name, False, detail))
        print("FAIL  %s%s%s" % (name, took, _indented(detail)), flush=True)
        if self.on_failure:
            self.on_failure()

    def passed(self):
        return sum(1 for _, ok, _ in self.results if ok)

    def all_passed(self):
        """True when checks ran and every one of them passed."""
        return bool(self.results) and self.passed() == len(self.results)

    def summary(self):
        lines = ["%s  %s%s" % ("PASS" if ok else "FAIL", name, _indented(detail) if detail else "")
                 for name, ok, detail in self.results]
        return "\n".join(lines + ["%d of %d checks passed" % (self.passed(), len(self.results))]) + "\n"
