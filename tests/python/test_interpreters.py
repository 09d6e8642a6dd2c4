"""The module across interpreter versions: every interpreter function it
calls exists in the one running the suite (which is run under each
supported interpreter the machine has), and an older interpreter gets a
clean ImportError instead of a crash."""

import ctypes
import os
import struct
import subprocess

import pytest

import interpreters

OLDEST_SUPPORTED = "3.11"
OLDER_VERSIONS = ["3.6", "3.7", "3.8", "3.9", "3.10"]

SHT_DYNSYM = 11
SHN_UNDEF = 0


def undefined_symbols(path):
    """The names the ELF64 file at `path` needs from elsewhere."""
    with open(path, "rb") as file:
        data = file.read()
    assert data[:4] == b"\x7fELF" and data[4] == 2, "not an ELF64 file"
    section_offset, = struct.unpack_from("<Q", data, 0x28)
    section_size, section_count = struct.unpack_from("<HH", data, 0x3A)
    sections = [
        struct.unpack_from("<IIQQQQIIQQ", data, section_offset + i * section_size) for i in range(section_count)
    ]
    names = set()
    for _, kind, _, _, offset, size, link, _, _, entry_size in sections:
        if kind != SHT_DYNSYM:
            continue
        strings_offset = sections[link][4]
        for start in range(offset, offset + size, entry_size):
            name_offset, _, _, index, _, _ = struct.unpack_from("<IBBHQQ", data, start)
            if index == SHN_UNDEF and name_offset:
                end = data.index(b"\0", strings_offset + name_offset)
                names.add(data[strings_offset + name_offset : end].decode())
    return names


def test_every_interpreter_function_the_module_calls_exists_here(zephlar):
    # They are weak references: one this interpreter lacks would be null and
    # crash the process at its first call instead of failing the import.
    needed = sorted(name for name in undefined_symbols(zephlar.__file__) if name.startswith(("Py", "_Py")))
    assert "PyModule_Create2" in needed
    missing = [name for name in needed if not hasattr(ctypes.pythonapi, name)]
    assert missing == []


REFUSAL_CHECK = """
import sys
for attempt in range(2):
    try:
        import zephlar
    except ImportError as error:
        print(error.name, error, sep=": ")
    else:
        sys.exit("imported")
"""


@pytest.mark.parametrize("version", OLDER_VERSIONS)
def test_an_older_interpreter_gets_a_clean_import_error(zephlar, version):
    older = interpreters.find(version)
    if older is None:
        pytest.skip("no Python {} on this machine".format(version))
    env = dict(os.environ, PYTHONPATH=os.path.dirname(os.path.abspath(zephlar.__file__)))
    refusal = "zephlar needs Python {} or newer; this interpreter is Python {}".format(OLDEST_SUPPORTED, older.version)

    # Asked twice in one process: a failed import leaves nothing behind.
    caught = subprocess.run([older.path, "-c", REFUSAL_CHECK], env=env, capture_output=True, text=True, timeout=60)
    assert (caught.returncode, caught.stderr) == (0, "")
    assert caught.stdout.splitlines() == ["zephlar: " + refusal] * 2

    # Uncaught, it ends the interpreter as any failed import does.
    plain = subprocess.run([older.path, "-c", "import zephlar"], env=env, capture_output=True, text=True, timeout=60)
    assert plain.returncode == 1
    assert plain.stderr.splitlines()[-1] == "ImportError: " + refusal
