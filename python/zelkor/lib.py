"""The library's 37 functions, declared exactly as in zelkor.h.

Loaded on first use, so that ``import zelkor`` works without the library::

    from zelkor import lib
    lib.FindCard()          # 1 or 0, trace on standard output
    lib.library()           # the ctypes.CDLL itself
"""
from __future__ import annotations

import ctypes
import threading
from ctypes import POINTER, c_bool, c_char_p, c_int, c_ubyte
from typing import Any, Dict, List, Optional, Tuple

from . import _library

UID_SIZE = 10
KEY_A = 0
KEY_B = 1

#: Buffer sizes the header promises suffice.
SEND_BUFFER_SIZE = 256
RECEIVE_BUFFER_SIZE = 1024
READER_ID_SIZE = 120
BLOCK_SIZE = 16
KEY_SIZE = 6
ACCESS_BYTES_SIZE = 4
MAX_APDU = 89
MAX_RAW_COMMAND = 249


class card_info(ctypes.Structure):  # noqa: N801 - the header's name
    _fields_ = [("card_type", c_int), ("uid", c_ubyte * UID_SIZE)]


KeyType = c_int
_bytes_p = POINTER(c_ubyte)

#: name -> (restype, argtypes), in the header's order.
PROTOTYPES: Dict[str, Tuple[Any, List[Any]]] = {
    "OpenReader": (c_int, [c_int, c_int, c_int, c_int, c_int]),
    "CloseReader": (c_int, []),
    "IsReaderOpen": (c_int, [c_int]),
    "GetReaderSendCmd": (c_int, [_bytes_p]),
    "GetReaderRecvData": (c_int, [_bytes_p]),
    "FindCard": (c_int, []),
    "WakeUp": (c_int, []),
    "SelectCard": (c_int, [c_int]),
    "Conflict": (c_int, [POINTER(card_info)]),
    "GetCardInfo": (c_int, [POINTER(card_info)]),
    "ManualCard": (c_int, [POINTER(card_info)]),
    "ComposeFindCard": (c_int, []),
    "PauseCard": (c_int, []),
    "AutoFindCard": (c_int, [c_int]),
    "BuzzerOn": (c_int, [c_int]),
    "AntennaOff": (c_int, []),
    "GetReaderId": (c_int, [_bytes_p, POINTER(c_int)]),
    "SetBaudRate": (c_int, [c_int]),
    "ReadReader": (c_int, [c_int, c_int]),
    "SendM1Command": (c_int, [_bytes_p, c_int]),
    "CheckKey": (c_int, [c_int, c_int, c_int, c_int, c_int, _bytes_p]),
    "ReadBlock": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "WriteBlock": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "ComposeRead": (c_int, [c_int, c_int, c_int, c_int, _bytes_p, KeyType, c_char_p]),
    "ComposeWrite": (c_int, [c_int, c_int, c_int, c_int, _bytes_p, KeyType, c_char_p]),
    "WalletInit": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "ReadWallet": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "WalletAdd": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "WalletDec": (c_int, [c_int, c_int, c_int, c_int, _bytes_p]),
    "ReadCtrlWord": (c_int, [c_int, _bytes_p, _bytes_p]),
    "CheckCtrlKey": (c_int, [c_bool, c_int, _bytes_p, c_int]),
    "ModifyKey": (c_int, [c_int, _bytes_p, _bytes_p, _bytes_p]),
    "ModifyControl": (c_int, [c_int, _bytes_p, _bytes_p, _bytes_p]),
    "CosActivation": (c_int, []),
    "CosDeactive": (c_int, []),
    "SendCosCommand": (c_int, [_bytes_p, c_int]),
    "Exauthentication": (c_int, [_bytes_p, c_int, c_ubyte]),
}

_lock = threading.Lock()
_loaded: Optional[ctypes.CDLL] = None


def library() -> ctypes.CDLL:
    """The loaded library with every function declared; LibraryNotFound when there is none."""
    global _loaded
    with _lock:
        if _loaded is None:
            dll = _library.load()
            for name, (restype, argtypes) in PROTOTYPES.items():
                function = getattr(dll, name)
                function.restype = restype
                function.argtypes = argtypes
            _loaded = dll
        return _loaded


def loaded() -> Optional[ctypes.CDLL]:
    """The library when it has been loaded already, else None (never loads it)."""
    return _loaded


def buffer(data: bytes) -> "ctypes.Array[c_ubyte]":
    """A C copy of `data` for the functions that take ``unsigned char *``."""
    return (c_ubyte * max(len(data), 1)).from_buffer_copy(data.ljust(1, b"\0"))


def __getattr__(name: str) -> Any:
    if name in PROTOTYPES:
        return getattr(library(), name)
    raise AttributeError(f"module 'zelkor.lib' has no attribute {name!r}")
