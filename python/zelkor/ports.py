"""Port names: numbers, "COM3", and on Linux device paths."""
from __future__ import annotations

import os
import re
import shutil
import sys
import tempfile
from dataclasses import dataclass
from typing import Optional, Union

PORT_DIR_VARIABLE = "ZELKOR_PORT_DIR"

_FIXED_DEVICES = (("ttyS", 1), ("ttyUSB", 101), ("ttyACM", 201))
_COM_NAME = re.compile(r"(?i)^(?:com)?(\d{1,6})$")


@dataclass(frozen=True)
class PortArgument:
    number: int = 0
    device: str = ""


def parse_port(port: Union[int, str, "os.PathLike[str]"]) -> PortArgument:
    """3, "3", "COM3" -> port 3; on Linux "/dev/ttyUSB0" or "ttyUSB0" -> that device."""
    if isinstance(port, bool) or not isinstance(port, (int, str, os.PathLike)):
        raise TypeError(f"port must be a number, 'COM<n>' or a device path, not {type(port).__name__}")
    if isinstance(port, int):
        number = port
    else:
        text = os.fspath(port)
        match = _COM_NAME.match(text.strip())
        if not match:
            if not text or sys.platform == "win32":
                raise ValueError(f"not a port: {text!r} (use a number or 'COM<n>')")
            return PortArgument(device=text if "/" in text else "/dev/" + text)
        number = int(match.group(1))
    if number <= 0:
        raise ValueError(f"port numbers start at 1, not {number}")
    return PortArgument(number=number)


def device_number(device: str) -> int:
    """The number the library gives a fixed device (ttyUSB0 is 101), 0 for none."""
    name = os.path.basename(device)
    for prefix, first in _FIXED_DEVICES:
        rest = name[len(prefix):]
        if name.startswith(prefix) and rest.isdigit():
            return first + int(rest)
    return 0


class PublishedDevice:
    """A device path published as COM<n> in a private port directory.

    The library finds port n as ZELKOR_PORT_DIR/COM<n>; the variable points at
    the private directory only while the port is being opened.
    """

    def __init__(self, device: str) -> None:
        real = os.path.realpath(device)
        if not os.path.exists(real):
            from .errors import PortNotFoundError

            raise PortNotFoundError(f"{device}: no such device")
        if not _is_char_device(real):
            raise ValueError(f"{device}: not a serial device")
        self.number = device_number(real) or 1
        self.directory = tempfile.mkdtemp(prefix="zelkor-port-")
        os.symlink(real, os.path.join(self.directory, f"COM{self.number}"))
        self._previous: Optional[str] = None

    def __enter__(self) -> int:
        self._previous = os.environ.get(PORT_DIR_VARIABLE)
        os.environ[PORT_DIR_VARIABLE] = self.directory
        return self.number

    def __exit__(self, *_: object) -> None:
        if self._previous is None:
            os.environ.pop(PORT_DIR_VARIABLE, None)
        else:
            os.environ[PORT_DIR_VARIABLE] = self._previous

    def remove(self) -> None:
        shutil.rmtree(self.directory, ignore_errors=True)


def _is_char_device(path: str) -> bool:
    import stat

    try:
        return stat.S_ISCHR(os.stat(path).st_mode)
    except OSError:
        return False


def port_exists(number: int) -> bool:
    """Whether port `number` names something, under the library's naming rule."""
    if sys.platform == "win32":
        import ctypes

        query = ctypes.windll.kernel32.QueryDosDeviceW
        query.argtypes = [ctypes.c_wchar_p, ctypes.c_wchar_p, ctypes.c_ulong]
        target = ctypes.create_unicode_buffer(1024)
        return query(f"COM{number}", target, len(target)) != 0
    directory = os.environ.get(PORT_DIR_VARIABLE)
    if directory and os.path.lexists(os.path.join(directory, f"COM{number}")):
        return os.path.exists(os.path.join(directory, f"COM{number}"))
    for prefix, first in reversed(_FIXED_DEVICES):
        if number >= first:
            return os.path.exists(f"/dev/{prefix}{number - first}")
    return False
