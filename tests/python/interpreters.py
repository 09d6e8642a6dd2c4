"""Finding the Python interpreters of a given version on this machine.

Looks in the pyenv installations ($PYENV_ROOT, else ~/.pyenv) first, then
for pythonX.Y on PATH, and keeps the first candidate that actually runs and
reports that version (a pyenv shim of a version that is not selected does
not run, for instance).
"""

import glob
import os
import shutil
import subprocess
from typing import NamedTuple, Optional


class Interpreter(NamedTuple):
    path: str
    version: str  # the full version, "3.12.1"


def _candidates(version):
    roots = [os.environ.get("PYENV_ROOT"), os.path.expanduser("~/.pyenv")]
    seen = set()
    for root in filter(None, roots):
        pattern = os.path.join(root, "versions", version + ".*", "bin", "python" + version)
        # Newest patch release first: 3.12.10 before 3.12.9.
        for path in sorted(glob.glob(pattern), key=_patch_of, reverse=True):
            if path not in seen:
                seen.add(path)
                yield path
    on_path = shutil.which("python" + version)
    if on_path and on_path not in seen:
        yield on_path


def _patch_of(path):
    release = os.path.basename(os.path.dirname(os.path.dirname(path)))
    return [int(part) if part.isdigit() else -1 for part in release.split(".")]


def describe(path) -> Optional[Interpreter]:
    """The interpreter at `path` with its version, or None when it does not
    run."""
    try:
        answer = subprocess.run(
            [path, "-c", "import sys; print('%d.%d.%d' % sys.version_info[:3]); print(sys.executable)"],
            stdin=subprocess.DEVNULL,
            stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL,
            universal_newlines=True,
            timeout=60,
        )
    except (OSError, subprocess.TimeoutExpired):
        return None
    lines = answer.stdout.split()
    if answer.returncode != 0 or len(lines) != 2:
        return None
    return Interpreter(os.path.realpath(lines[1]), lines[0])


def find(version, besides=()) -> Optional[Interpreter]:
    """A working interpreter of `version` ("3.12"), other than the
    executables in `besides`; None when the machine has none."""
    excluded = {os.path.realpath(path) for path in besides}
    for path in _candidates(version):
        found = describe(path)
        if found and found.version.startswith(version + ".") and found.path not in excluded:
            return found
    return None
