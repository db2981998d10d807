"""The zelkor contactless card reader from Python.

    import zelkor
    with zelkor.Reader(3) as reader:
        card = reader.find_card()
        print(card.type_name, card.uid.hex())
"""
from ._version import __version__
from .errors import (KeyRefusedError, LibraryNotFound, NoAnswerError, NoCardError, PortBusyError,
                     PortNotFoundError, ReaderClosedError, ReaderError, UsageError, ZelkorError)
from .reader import Card, Reader
from .trace import capture_trace
from .cli import Port, list_ports

__all__ = [
    "__version__", "Card", "Reader", "Port", "capture_trace", "list_ports",
    "ZelkorError", "ReaderError", "NoCardError", "KeyRefusedError", "NoAnswerError", "PortBusyError",
    "PortNotFoundError", "ReaderClosedError", "UsageError", "LibraryNotFound",
]
