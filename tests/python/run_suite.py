"""Runs the Python suite under another interpreter of a given version.

    run_suite.py VERSION [--besides PYTHON] -- PYTEST ARGUMENTS...

Exits 77 (skipped) with a line saying why when the machine has no working
interpreter of VERSION (other than PYTHON), or when pytest cannot be made
importable there. An interpreter without pytest of its own borrows the
pure-Python pytest (and websockets, for the stream tests) of the
interpreter running this script, through a directory of links added to
PYTHONPATH; nothing is installed.
"""

import argparse
import importlib.util
import os
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import interpreters  # noqa: E402

SKIPPED = 77

# pytest and what it needs on Python 3.11 and later, then what the tests
# need beyond the standard library.
BORROWED = ["pytest", "_pytest", "py", "pluggy", "iniconfig", "packaging", "attr", "attrs", "websockets"]


def skip(message):
    print(message + ": skipped", flush=True)
    sys.exit(SKIPPED)


def can_import(python, module, env):
    check = subprocess.run([python, "-c", "import " + module], env=env, capture_output=True)
    return check.returncode == 0


def is_pure_python(origin):
    """True for a single .py module, or a package without compiled parts."""
    if not origin.endswith("__init__.py"):
        return origin.endswith(".py")
    for _, _, files in os.walk(os.path.dirname(origin)):
        if any(name.endswith((".so", ".pyd")) for name in files):
            return False
    return True


def link_borrowed(directory):
    """Links the borrowable modules of this interpreter into `directory`;
    the names of those linked."""
    linked = []
    for name in BORROWED:
        found = importlib.util.find_spec(name)
        if found is None or not found.origin or not is_pure_python(found.origin):
            continue
        source = os.path.dirname(found.origin) if found.origin.endswith("__init__.py") else found.origin
        os.symlink(source, os.path.join(directory, os.path.basename(source)))
        linked.append(name)
    return linked


def main():
    ours, pytest_args = sys.argv[1:], []
    if "--" in ours:
        at = ours.index("--")
        ours, pytest_args = ours[:at], ours[at + 1 :]
    parser = argparse.ArgumentParser()
    parser.add_argument("version")
    parser.add_argument("--besides", action="append", default=[])
    options = parser.parse_args(ours)

    besides = " besides " + ", ".join(options.besides) if options.besides else ""
    found = interpreters.find(options.version, options.besides)
    if found is None:
        skip("no Python {} on this machine{}".format(options.version, besides))
    print("Python suite under {} ({})".format(found.path, found.version), flush=True)

    env = dict(os.environ)
    with tempfile.TemporaryDirectory(prefix="zephlar-borrowed-") as borrowed:
        if not can_import(found.path, "pytest", env):
            linked = link_borrowed(borrowed)
            env["PYTHONPATH"] = os.pathsep.join(filter(None, [env.get("PYTHONPATH"), borrowed]))
            if not can_import(found.path, "pytest", env):
                skip("Python {} has no pytest and cannot use this one's".format(found.version))
            print("pytest borrowed from {}: {}".format(sys.executable, " ".join(linked)), flush=True)
            # A borrowed pytest may be older than the interpreter and use
            # parts of `ast` that it deprecates; that is no finding here.
            quiet = ["-W", "ignore::DeprecationWarning:_pytest.assertion.rewrite"]
        else:
            quiet = []
        return subprocess.run([found.path] + quiet + ["-m", "pytest"] + pytest_args, env=env).returncode


if __name__ == "__main__":
    sys.exit(main())
