"""The frame of a runner's main(): what the run lacks, its artifacts folder, its temporary
folder and helper processes, and its exit status: 0 when every check passed, 1 when one
failed, 2 when the run could not be set up."""
import os
import shutil

from .processes import Processes, stop_on_signals
from .work_folder import WorkFolder, fresh_folder

SETUP_FAILED = 2


def _executable(path):
    return os.path.isfile(path) and os.access(path, os.X_OK)


def setup_problems(executables=(), tools=(), installed=()):
    """What keeps a run from starting. executables: (label, path) of what the build makes;
    tools: programs looked up on PATH; installed: (package, path) of programs outside PATH."""
    problems = ["%s is not built: %s does not exist or is not executable" % (label, path)
                for label, path in executables if not _executable(path)]
    problems += ["%s is not installed (./scripts/install-deps installs it)" % tool
                 for tool in tools if not shutil.which(tool)]
    problems += ["%s is not installed: %s is missing" % (package, path)
                 for package, path in installed if not _executable(path)]
    return problems


def run_checks(what, body, prefix, problems=(), artifacts=None, keep_files=(), keep=False):
    """Runs body(workdir, processes), which returns its CheckRunner, in a fresh temporary
    folder; every helper process it started is stopped and the folder removed afterwards.
    Returns the exit status."""
    stop_on_signals()
    if problems:
        print("the %s cannot run:\n  %s" % (what, "\n  ".join(problems)), flush=True)
        return SETUP_FAILED
    if artifacts:
        fresh_folder(artifacts)
    try:
        with WorkFolder(prefix, artifacts, keep_files, keep) as workdir, Processes() as processes:
            checks = body(workdir, processes)
    except (RuntimeError, OSError) as error:
        print("the %s could not be set up: %s" % (what, error), flush=True)
        return SETUP_FAILED
    summary = checks.summary()
    if artifacts:
        with open(os.path.join(artifacts, "summary.txt"), "w") as f:
            f.write(summary)
        print("artifacts in %s" % artifacts)
    print(summary.splitlines()[-1], flush=True)
    return 0 if checks.all_passed() else 1
