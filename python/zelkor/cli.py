"""Whole-card work through the installed ``zelkor`` program, with parsed ``--json`` results.

The card toolkit (key search, dump, restore, comparison, file formats) lives
in that program; this module runs it rather than copying it. Exit status 1
raises ReaderError (with the partial result, if any, in ``error.result``),
exit status 2 UsageError; ``diff`` returns its result either way.
"""
from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
from dataclasses import dataclass
from typing import Any, Dict, List, Optional, Sequence, Union

from . import _library, lib
from .errors import ReaderError, UsageError, ZelkorError

PathLike = Union[str, "os.PathLike[str]"]
PortLike = Union[int, str]

_EXE = ".exe" if sys.platform == "win32" else ""


def program() -> str:
    """The zelkor program: ZELKOR_PROGRAM, else beside the library (or in ../bin), else on PATH."""
    explicit = os.environ.get("ZELKOR_PROGRAM")
    if explicit:
        if not os.path.isfile(explicit):
            raise ZelkorError(f"ZELKOR_PROGRAM names {explicit}, which does not exist")
        return explicit
    tried: List[str] = []
    library_file = _loaded_library_file()
    if library_file:
        directory = os.path.dirname(library_file)
        for candidate in (os.path.join(directory, "zelkor" + _EXE),
                          os.path.join(directory, os.pardir, "bin", "zelkor" + _EXE),
                          os.path.join(directory, os.pardir, "cli", "zelkor" + _EXE)):
            tried.append(os.path.normpath(candidate))
            if os.path.isfile(candidate) and os.access(candidate, os.X_OK):
                return os.path.normpath(candidate)
    found = shutil.which("zelkor")
    if found:
        return found
    raise ZelkorError("the zelkor program was not found; looked in: " + ", ".join(tried + ["PATH"]) +
                      " (set ZELKOR_PROGRAM)")


def _loaded_library_file() -> Optional[str]:
    try:
        return _library.library_path(lib.library())
    except ImportError:
        return None


def run(*arguments: str, timeout: Optional[float] = None) -> Any:
    """Runs ``zelkor ARGUMENTS --json`` and returns its parsed output (None when it printed nothing)."""
    status, result, errors = _run(list(arguments), timeout)
    if status == 0:
        return result
    raise _failure(status, result, errors, arguments)


def _run(arguments: List[str], timeout: Optional[float]) -> "tuple[int, Any, str]":
    completed = subprocess.run([program(), *arguments, "--json"], stdin=subprocess.DEVNULL,
                               capture_output=True, timeout=timeout)
    text = completed.stdout.decode("utf-8", errors="replace").strip()
    result: Any = None
    if text:
        try:
            result = json.loads(text)
        except json.JSONDecodeError:
            result = text
    return completed.returncode, result, completed.stderr.decode("utf-8", errors="replace").strip()


def _failure(status: int, result: Any, errors: str, arguments: Sequence[str]) -> ZelkorError:
    last = errors.splitlines()[-1] if errors else f"exit status {status}"
    what = f"zelkor {' '.join(arguments)}: " + (last[len("zelkor: "):] if last.startswith("zelkor: ") else last)
    if status == 2:
        return UsageError(what)
    error = ReaderError(what)
    error.result = result  # type: ignore[attr-defined]
    error.stderr = errors  # type: ignore[attr-defined]
    return error


def _port_options(port: PortLike, baud: int) -> List[str]:
    return ["-p", str(port), "-b", str(baud)]


def _key_options(keys: Sequence[PathLike], builtin: bool) -> List[str]:
    if isinstance(keys, (str, os.PathLike)):
        keys = [keys]
    options = [item for path in keys for item in ("-k", os.fspath(path))]
    return options + ([] if builtin else ["--no-builtin"])


def keys(port: PortLike, dictionaries: Sequence[PathLike] = (), *, builtin: bool = True, baud: int = 9600,
         output: Optional[PathLike] = None, timeout: Optional[float] = None) -> Dict[str, Any]:
    """Finds key A and B of every sector: the key map, or with `output` the summary of the file written."""
    arguments = ["keys", *_port_options(port, baud), *_key_options(dictionaries, builtin)]
    if output is not None:
        arguments += ["-o", os.fspath(output)]
    return run(*arguments, timeout=timeout)


def dump(port: PortLike, output: PathLike, keys: Sequence[PathLike] = (), *, builtin: bool = True,
         baud: int = 9600, timeout: Optional[float] = None) -> Dict[str, Any]:
    """Reads every block the keys open into `output` (format by extension); returns the summary."""
    return run("dump", *_port_options(port, baud), *_key_options(keys, builtin), "-o", os.fspath(output),
               timeout=timeout)


def restore_plan(port: PortLike, dump_file: PathLike, keys: Sequence[PathLike] = (), *, builtin: bool = True,
                 baud: int = 9600, timeout: Optional[float] = None) -> Dict[str, Any]:
    """What ``restore --dry-run`` would write: the plan and its problems. Writes nothing."""
    arguments = ["restore", *_port_options(port, baud), *_key_options(keys, builtin), "-i", os.fspath(dump_file),
                 "--dry-run"]
    status, result, errors = _run(arguments, timeout)
    if status == 0 or (status == 1 and isinstance(result, dict) and "plan" in result):
        return result
    raise _failure(status, result, errors, arguments)


def diff(first: PathLike, second: PathLike) -> Dict[str, Any]:
    """Compares two dump files; ``result["equal"]`` says whether they agree."""
    arguments = ["diff", os.fspath(first), os.fspath(second)]
    status, result, errors = _run(arguments, None)
    if status in (0, 1) and isinstance(result, dict):
        return result
    raise _failure(status, result, errors, arguments)


@dataclass(frozen=True)
class Port:
    """One serial device as ``zelkor ports`` lists it."""

    port: int
    name: str
    device: str
    target: Optional[str]
    by_id: Optional[str]
    accessible: bool


def list_ports() -> List[Port]:
    """The serial devices and their port numbers, as ``zelkor ports`` lists them."""
    result = run("ports") or {}
    return [Port(entry["port"], entry["name"], entry["device"], entry.get("target"), entry.get("by_id"),
                 bool(entry.get("accessible", True))) for entry in result.get("ports", [])]
