#!/usr/bin/env python3
"""The harness's own checks: the check runner's verdicts, the process set's stop (SIGTERM,
then SIGKILL, also when the run fails), the work folder's clean-up, and the private X display,
session bus and PulseAudio server coming up and going away with the run."""
import contextlib
import io
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

from harness.checks import CheckFailed, CheckRunner, require   # noqa: E402
from harness.processes import Processes                         # noqa: E402
from harness.pulse_server import TOOLS as PULSE_TOOLS, PulseServer  # noqa: E402
from harness.runner import SETUP_FAILED, run_checks, setup_problems  # noqa: E402
from harness.session_bus import SessionBus                      # noqa: E402
from harness.work_folder import WorkFolder                      # noqa: E402
from harness.x_session import start_display                     # noqa: E402


def gone(process):
    return process.poll() is not None


def quietly(function, *args, **kwargs):
    with contextlib.redirect_stdout(io.StringIO()) as out:
        result = function(*args, **kwargs)
    return result, out.getvalue()


class CheckRunnerTest(unittest.TestCase):
    def test_each_outcome_is_recorded_and_printed(self):
        def fails():
            require(False, "saw 3, expected 4")

        def breaks():
            raise OSError("no such tool")
        cases = [  # (check, blocker, passed, detail, printed)
            (lambda: "fine", None, True, "fine", "PASS  c"),
            (fails, None, False, "saw 3, expected 4", "FAIL  c"),
            (breaks, None, False, "harness error: OSError('no such tool')", "FAIL  c"),
            (lambda: "never run", "the player is not running", False, "the player is not running", "FAIL  c"),
        ]
        for check, blocker, passed, detail, printed in cases:
            runner = CheckRunner()
            _, out = quietly(runner.run, "c", check, blocker=blocker)
            self.assertEqual(runner.results, [("c", passed, detail)])
            self.assertTrue(out.startswith(printed), out)
            self.assertIn(detail, out)
            self.assertEqual(runner.all_passed(), passed)

    def test_a_failed_check_does_not_stop_the_next_and_the_summary_counts_both(self):
        runner = CheckRunner()
        quietly(runner.run, "first", lambda: require(False, "broken"))
        quietly(runner.run, "second", lambda: "")
        self.assertEqual([ok for _, ok, _ in runner.results], [False, True])
        self.assertFalse(runner.all_passed())
        self.assertTrue(runner.summary().endswith("1 of 2 checks passed\n"))

    def test_no_checks_run_is_not_a_pass(self):
        self.assertFalse(CheckRunner().all_passed())

    def test_an_unexpected_exception_is_not_swallowed(self):
        runner = CheckRunner()
        with self.assertRaises(KeyError):
            quietly(runner.run, "c", lambda: {}["missing"])

    def test_on_failure_is_called_after_each_failure_only(self):
        calls = []
        runner = CheckRunner(on_failure=lambda: calls.append(1))
        quietly(runner.run, "a", lambda: "")
        quietly(runner.run, "b", lambda: require(False, "no"))
        self.assertEqual(len(calls), 1)


class ProcessesTest(unittest.TestCase):
    def test_every_process_is_stopped_when_the_run_fails(self):
        with self.assertRaises(CheckFailed):
            with Processes() as processes:
                polite = processes.start("sleep", ["sleep", "60"])
                stubborn = processes.start("stubborn", ["sh", "-c", "trap '' TERM; echo up; while :; do sleep 0.1; done"],
                                           stdout=subprocess.PIPE)
                stubborn.stdout.readline()      # the trap is set
                stubborn.stdout.close()
                raise CheckFailed("a check failed")
        self.assertEqual(polite.returncode, -signal.SIGTERM)
        self.assertEqual(stubborn.returncode, -signal.SIGKILL)

    def test_stop_returns_the_exit_status_of_a_process_that_ended(self):
        with Processes() as processes:
            process = processes.start("false", ["false"])
            process.wait(timeout=10)
            self.assertEqual(processes.stop(process), 1)


class WorkFolderTest(unittest.TestCase):
    def test_the_folder_is_removed_and_the_named_files_kept_even_on_failure(self):
        artifacts = tempfile.mkdtemp(prefix="vornel-harness-test-")
        self.addCleanup(shutil.rmtree, artifacts, ignore_errors=True)
        with self.assertRaises(RuntimeError):
            with WorkFolder("vornel-harness-test-", artifacts, keep_files=("player.out", "absent.log")) as path:
                with open(os.path.join(path, "player.out"), "w") as f:
                    f.write("last words")
                raise RuntimeError("set-up failed")
        self.assertFalse(os.path.exists(path))
        self.assertEqual(os.listdir(artifacts), ["player.out"])


class RunnerTest(unittest.TestCase):
    def test_exit_statuses(self):
        def passing(_workdir, _processes):
            runner = CheckRunner()
            runner.run("c", lambda: "")
            return runner

        def failing(_workdir, _processes):
            runner = CheckRunner()
            runner.run("c", lambda: require(False, "no"))
            return runner

        def unset(_workdir, _processes):
            raise RuntimeError("Xvfb did not report a display number")
        cases = [(passing, (), 0), (failing, (), 1), (unset, (), SETUP_FAILED),
                 (passing, ["vornel-demo is not built"], SETUP_FAILED)]
        for body, problems, status in cases:
            self.assertEqual(quietly(run_checks, "harness test", body, "vornel-harness-test-", problems)[0], status)
        signal.signal(signal.SIGTERM, signal.SIG_DFL)
        signal.signal(signal.SIGHUP, signal.SIG_DFL)

    def test_setup_problems_names_what_is_missing(self):
        problems = setup_problems(executables=(("sh", "/bin/sh"), ("vornel-demo", "/nonexistent/vornel-demo")),
                                  tools=("sh", "vornel-no-such-tool"),
                                  installed=(("at-spi2-core", "/nonexistent/at-spi-bus-launcher"),))
        self.assertEqual(len(problems), 3, problems)
        for name in ("vornel-demo", "vornel-no-such-tool", "at-spi2-core"):
            self.assertTrue(any(name in p for p in problems), problems)


class PrivateSessionTest(unittest.TestCase):
    def test_display_bus_and_sound_server_come_up_and_go_away_with_the_run(self):
        self.assertEqual(setup_problems(tools=["Xvfb", "xdotool", "dbus-daemon", "gdbus"] + PULSE_TOOLS), [])
        with WorkFolder("vornel-harness-test-") as workdir, Processes() as processes:
            x = start_display(processes, workdir)
            self.assertRegex(x.display, r"^:\d+$")
            self.assertEqual(x.run(["xdotool", "getdisplaygeometry"]).stdout.split(), ["1280", "1024"])
            bus = SessionBus(workdir)
            bus.start(processes)
            self.assertIn("org.freedesktop.DBus", bus.names())
            pulse = PulseServer(processes, os.path.join(workdir, "pulse"))
            pulse.start()
            self.assertIn("test", pulse.pactl("list", "short", "sinks") or "")
            started = list(processes._started)
        self.assertTrue(all(gone(p) for _, p in started), started)
        self.assertFalse(os.path.exists(workdir))
        # Xvfb's end is the gone process above: its display number is free for the next run at
        # once, and a test running beside this one may already hold it.
        self.assertFalse(pulse.answers())


if __name__ == "__main__":
    unittest.main(verbosity=2)
