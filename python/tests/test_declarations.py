"""The package's declarations and texts held to the C sources, so that they cannot drift."""
from __future__ import annotations

import ctypes
import re
from pathlib import Path
from typing import Dict, List, Tuple

import zelkor
from zelkor import errors, lib

ROOT = Path(__file__).resolve().parents[2]

# C spelling of each parameter type -> the ctypes type it must be declared as.
C_TYPES = {
    "int": ctypes.c_int,
    "bool": ctypes.c_bool,
    "KeyType": ctypes.c_int,
    "unsigned char": ctypes.c_ubyte,
    "unsigned char *": ctypes.POINTER(ctypes.c_ubyte),
    "int *": ctypes.POINTER(ctypes.c_int),
    "card_info *": ctypes.POINTER(lib.card_info),
    "char const *": ctypes.c_char_p,
    "const char *": ctypes.c_char_p,
}


def header_prototypes() -> Dict[str, Tuple[str, List[str]]]:
    """name -> (return type, parameter types) of every ZELKOR_API function in zelkor.h."""
    text = (ROOT / "reader" / "include" / "zelkor.h").read_text(encoding="utf-8")
    text = re.sub(r"/\*.*?\*/", " ", text, flags=re.S)
    text = re.sub(r"//[^\n]*", " ", text)
    text = re.sub(r"^\s*#.*$", " ", text, flags=re.M)  # any macro, however many are added
    prototypes = {}
    for match in re.finditer(r"ZELKOR_API\s+([\w\s\*]+?)\s*\b(\w+)\s*\(([^)]*)\)\s*;", text):
        result, name, params = match.groups()
        types = []
        for param in params.split(","):
            param = " ".join(param.split())
            if param in ("", "void"):
                continue
            param = re.sub(r"\s*\*\s*", " * ", param).strip()
            param = re.sub(r"\s+\w+$", "", param) if not param.endswith("*") else param  # drop the name
            types.append(param.strip())
        prototypes[name] = (" ".join(result.split()), types)
    return prototypes


def test_every_exported_function_is_declared_as_in_the_header() -> None:
    prototypes = header_prototypes()
    exported = (ROOT / "reader" / "exports.map").read_text()
    assert len(prototypes) == 37
    assert set(prototypes) == set(lib.PROTOTYPES)
    assert all(name in exported for name in prototypes)
    for name, (result, params) in prototypes.items():
        restype, argtypes = lib.PROTOTYPES[name]
        assert C_TYPES[result] is restype, name
        assert [C_TYPES[p] for p in params] == argtypes, name


def test_card_info_matches_the_header() -> None:
    text = (ROOT / "reader" / "include" / "zelkor.h").read_text(encoding="utf-8")
    size = int(re.search(r"#define\s+ZELKOR_UID_SIZE\s+(\d+)", text).group(1))
    fields = re.search(r"typedef struct card_info \{(.*?)\}", text, re.S).group(1)
    assert [" ".join(f.split()) for f in fields.split(";") if f.strip()] == [
        "int card_type", "unsigned char uid[ZELKOR_UID_SIZE]"]
    assert lib.UID_SIZE == size
    assert ctypes.sizeof(lib.card_info) == ctypes.sizeof(ctypes.c_int) + ((size + 3) // 4) * 4
    assert ctypes.sizeof(ctypes.c_bool) == 1


def test_version_is_the_projects() -> None:
    cmake = (ROOT / "CMakeLists.txt").read_text()
    version = re.search(r"project\(zelkor\s+VERSION\s+([\d.]+)", cmake).group(1)
    assert zelkor.__version__ == version


def test_status_messages_are_the_librarys() -> None:
    source = (ROOT / "reader" / "messages.cpp").read_text(encoding="utf-8")
    texts = set(re.findall(r'\{"(?:  #↑)?([^"\\]*)(?:\\n)?",', source))
    ours = set(errors.STATUS_MESSAGES.values()) | {
        errors.UNDEFINED_STATUS, errors.KEY_A_FAILED, errors.KEY_B_FAILED, errors.NO_ANSWER}
    assert ours <= texts
    # The library's status codes that have a message: the cases of status.cpp,
    # named in protocol_codes.h.
    codes_source = (ROOT / "reader" / "protocol_codes.h").read_text()
    status_table = codes_source[codes_source.index("namespace status {"):]
    values = dict(re.findall(r"(k\w+) = (0x[0-9A-F]+);", status_table))
    status_source = (ROOT / "reader" / "status.cpp").read_text()
    named = re.findall(r"case status::(k\w+):", status_source)
    assert named
    assert set(errors.STATUS_MESSAGES) == {int(values[name], 16) for name in named}


def test_import_needs_no_library_and_a_missing_one_names_where_it_looked(tmp_path: Path) -> None:
    import os
    import subprocess
    import sys

    missing = tmp_path / "libzelkor.so"
    script = ("import zelkor, zelkor.lib\nprint(zelkor.__version__)\n"
              "try:\n    zelkor.lib.library()\nexcept ImportError as e:\n"
              "    print(type(e).__name__, e.tried[0])\n")
    env = dict(os.environ, ZELKOR_LIBRARY=str(missing), PYTHONPATH=str(Path(zelkor.__file__).parents[1]))
    out = subprocess.run([sys.executable, "-c", script], env=env, capture_output=True, text=True, check=True)
    assert out.stdout.splitlines() == [zelkor.__version__, f"LibraryNotFound {missing}"]
