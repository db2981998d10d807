"""Finding and loading the reader library."""
from __future__ import annotations

import ctypes
import ctypes.util
import glob
import os
import sys
from typing import List, Optional

from .errors import LibraryNotFound

_PACKAGE_DIR = os.path.dirname(os.path.abspath(__file__))


def _file_names() -> List[str]:
    if sys.platform == "win32":
        return ["zelkor.dll"]
    if sys.platform == "darwin":
        return ["libzelkor.dylib"]
    return ["libzelkor.so"]


def _installed_sonames() -> List[str]:
    """libzelkor.so.N found in the usual library directories (no -dev package needed)."""
    found: List[str] = []
    for directory in ("/usr/local/lib", "/usr/lib", "/usr/lib64", "/usr/lib/x86_64-linux-gnu",
                      "/usr/lib/i386-linux-gnu", "/usr/lib/aarch64-linux-gnu"):
        found += sorted(glob.glob(os.path.join(directory, "libzelkor.so.*")), key=len)
    return found


def candidates() -> List[str]:
    """Where the library is looked for, in order."""
    places: List[str] = []
    explicit = os.environ.get("ZELKOR_LIBRARY")
    if explicit:
        places.append(explicit)
    places += [os.path.join(_PACKAGE_DIR, name) for name in _file_names()]
    system = ctypes.util.find_library("zelkor")
    if system:
        places.append(system)
    if sys.platform == "win32":
        for directory in os.environ.get("PATH", "").split(os.pathsep):
            if directory:
                places.append(os.path.join(directory, "zelkor.dll"))
    else:
        places += _installed_sonames()
    return places


def _loadable(place: str) -> bool:
    # A bare name from find_library is resolved by the dynamic loader itself.
    return os.path.isfile(place) or os.sep not in place


def load() -> ctypes.CDLL:
    """Loads the first library found; LibraryNotFound names every place tried."""
    tried: List[str] = []
    explicit = os.environ.get("ZELKOR_LIBRARY")
    for place in candidates():
        tried.append(place)
        if not _loadable(place):
            if place == explicit:
                raise LibraryNotFound(f"ZELKOR_LIBRARY names {place}, which does not exist", tried)
            continue
        try:
            return ctypes.CDLL(place)
        except OSError as error:
            if place == explicit:
                raise LibraryNotFound(f"cannot load {place} (from ZELKOR_LIBRARY): {error}", tried) from error
    raise LibraryNotFound("the zelkor library was not found", tried)


def library_path(library: ctypes.CDLL) -> Optional[str]:
    """The file the library was loaded from, where the platform tells."""
    name = getattr(library, "_name", None)
    if name and os.path.isfile(name):
        return os.path.abspath(name)
    if sys.platform.startswith("linux"):
        try:
            with open("/proc/self/maps", encoding="utf-8", errors="replace") as maps:
                for line in maps:
                    path = line.split()[-1] if line.split() else ""
                    if os.path.basename(path).startswith("libzelkor.so"):
                        return path
        except OSError:
            pass
    return None
