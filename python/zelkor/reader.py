"""The Pythonic layer: a Reader session with bytes in and bytes out."""
from __future__ import annotations

import ctypes
import threading
from dataclasses import dataclass
from typing import Any, Callable, List, Optional, Type, Union

from . import lib
from .errors import (NO_ANSWER, NoAnswerError, PortBusyError, PortNotFoundError, ReaderClosedError,
                     ReaderError, error_class, status_message)
from .ports import PublishedDevice, parse_port, port_exists
from .trace import TraceCapture, TraceSink, as_sink

BAUD_RATES = (2400, 4800, 9600, 19200, 38400, 57600, 115200)
CARD_TYPES = {10: "UltraLight", 11: "S50", 12: "S70", 13: "FM1208 (CPU)", 14: "PLUS", 15: "D41", 16: "unknown"}
S50, S70 = 11, 12
_ABSOLUTE, _RELATIVE = 0, 1
_SELECT_CODE = 0x93
_STATUS_OFFSET = 6
_DATA_OFFSET = 7
_MESSAGE_MARK = "#↑"
_UPLOAD_MESSAGE = "收到上传数据"

# The library holds one session per process, and opening a second closes the first.
_session_lock = threading.Lock()
_open_reader: Optional["Reader"] = None


@dataclass(frozen=True)
class Card:
    """A card found in the field."""

    type_code: int
    uid: bytes

    @property
    def type_name(self) -> str:
        return CARD_TYPES.get(self.type_code, f"type {self.type_code}")

    def __str__(self) -> str:
        return f"{self.type_name} {self.uid.hex().upper()}"


def _key_type(key_type: Union[str, int]) -> int:
    if key_type in ("A", "a", lib.KEY_A):
        return lib.KEY_A
    if key_type in ("B", "b", lib.KEY_B):
        return lib.KEY_B
    raise ValueError(f"key_type must be 'A' or 'B', not {key_type!r}")


def _exact_bytes(value: Any, size: int, what: str) -> bytes:
    if isinstance(value, str):
        try:
            value = bytes.fromhex(value)
        except ValueError:
            raise ValueError(f"{what} must be {size} bytes or {2 * size} hexadecimal digits") from None
    if not isinstance(value, (bytes, bytearray, memoryview)):
        raise TypeError(f"{what} must be bytes, not {type(value).__name__}")
    value = bytes(value)
    if len(value) != size:
        raise ValueError(f"{what} must be {size} bytes, not {len(value)}")
    return value


def _whole_number(value: Any, what: str, low: int, high: int) -> int:
    if isinstance(value, bool) or not isinstance(value, int):
        raise TypeError(f"{what} must be an int, not {type(value).__name__}")
    if not low <= value <= high:
        raise ValueError(f"{what} must be {low}..{high}, not {value}")
    return value


def _block_count(card_type: int) -> int:
    return 256 if card_type == S70 else 64


def _is_trailer(block: int) -> bool:
    return (block + 1) % 4 == 0 if block < 128 else (block - 127) % 16 == 0


def _sector_blocks(sector: int) -> int:
    return 4 if sector < 32 else 16


class Reader:
    """A session with the reader on one port.

    ``with zelkor.Reader(3) as reader:`` opens port 3 (also "COM3" or, on
    Linux, a device path) and always closes it. Every failed command raises
    ReaderError or one of its subclasses; bad arguments raise ValueError or
    TypeError before anything is sent. Only one Reader may be open per process.

    Blocks are addressed absolutely (0..63 on an S50, 0..255 on an S70), or
    with ``sector=`` as a block within that sector.
    """

    def __init__(self, port: Union[int, str], baud: int = 9600, *, data_bits: int = 8, parity: int = 0,
                 stop_bits: int = 0, trace: Optional[Union[TraceSink, Any]] = None) -> None:
        global _open_reader
        if baud not in BAUD_RATES:
            raise ValueError(f"baud must be one of {BAUD_RATES}, not {baud!r}")
        _whole_number(data_bits, "data_bits", 5, 8)
        _whole_number(parity, "parity", 0, 4)
        _whole_number(stop_bits, "stop_bits", 0, 2)
        argument = parse_port(port)
        self._lib = lib.library()
        self._lock = threading.RLock()
        self._open = False
        self._card_type = S50
        self._trace_sink = as_sink(trace) if trace is not None else None
        self._call_trace: List[str] = []
        self._capture = TraceCapture(self._on_trace) if trace is not None else None
        self.port = port
        with _session_lock:
            if _open_reader is not None:
                raise PortBusyError("another Reader is open in this process; close it first")
            if self._capture is not None:
                self._capture.start()
            try:
                self._open_port(argument, baud, data_bits, parity, stop_bits)
                _open_reader = self
            except BaseException:  # Ctrl-C included: no session may outlive a failed constructor
                if self._open:
                    self._open = False
                    self._lib.CloseReader()
                if self._capture is not None:
                    self._capture.stop()
                raise

    def _open_port(self, argument: Any, baud: int, data_bits: int, parity: int, stop_bits: int) -> None:
        if not argument.device:
            self.number = argument.number
            self._open = self._lib.OpenReader(self.number, baud, data_bits, parity, stop_bits) == 1
            if not self._open:
                self._raise_open_failure(self.number, baud)
            return
        published = PublishedDevice(argument.device)
        try:
            with published as number:
                self.number = number
                self._open = self._lib.OpenReader(number, baud, data_bits, parity, stop_bits) == 1
                if not self._open:
                    self._raise_open_failure(number, baud)
        finally:
            # The session holds the device open: the link is needed no longer.
            published.remove()

    def _raise_open_failure(self, number: int, baud: int) -> None:
        name = f"COM{number}" if str(self.port) in (str(number), f"COM{number}") else f"COM{number} ({self.port})"
        if not port_exists(number):
            raise PortNotFoundError(f"cannot open {name}: no such port")
        raise PortBusyError(f"cannot open {name} at {baud} bit/s: another program holds it, "
                            "it refuses the settings or you may not open it")

    def _on_trace(self, line: str) -> None:
        self._call_trace.append(line)
        assert self._trace_sink is not None
        self._trace_sink(line)

    # ---- Session -----------------------------------------------------------------

    def __enter__(self) -> "Reader":
        return self

    def __exit__(self, *_: object) -> None:
        self.close()

    @property
    def is_open(self) -> bool:
        return self._open

    def close(self) -> None:
        """Ends the session (waiting for the library's receive thread); safe to call twice."""
        global _open_reader
        with self._lock:
            if not self._open:
                return
            self._open = False
            try:
                self._lib.CloseReader()
            finally:
                with _session_lock:
                    _open_reader = None
                if self._capture is not None:
                    self._capture.stop()

    @property
    def last_sent(self) -> bytes:
        """The last frame written to the reader."""
        out = (ctypes.c_ubyte * lib.SEND_BUFFER_SIZE)()
        return bytes(out[: self._lib.GetReaderSendCmd(out)])

    @property
    def last_received(self) -> bytes:
        """The latest answer received since the last send (empty when none came)."""
        out = (ctypes.c_ubyte * lib.RECEIVE_BUFFER_SIZE)()
        return bytes(out[: self._lib.GetReaderRecvData(out)])

    def _call(self, name: str, *args: Any, key_check: Optional[str] = None,
              failure: Optional[Callable[[int], bool]] = None) -> int:
        with self._lock:
            if not self._open:
                raise ReaderClosedError("the reader is closed", function=name)
            self._call_trace = []
            result = getattr(self._lib, name)(*args)
            failed = failure(result) if failure else result != 1
            if failed:
                self._raise_failure(name, key_check)
            return int(result)

    def _raise_failure(self, name: str, key_check: Optional[str]) -> None:
        sent, received = self.last_sent, self.last_received
        message: Optional[str]
        cls: Type[ReaderError]
        if len(received) > _STATUS_OFFSET and received[:2] == b"\x55\x55":
            status = received[_STATUS_OFFSET]
            is_key_check = sent[6:8] == b"\x03\x01" and key_check is not None
            checked = ("A" if sent[10] == 0x60 else "B") if is_key_check and len(sent) > 10 else None
            message = status_message(status, checked) if status != 0 else None
            cls = error_class(message)
        elif not received:
            message, cls = NO_ANSWER, NoAnswerError
        else:
            message, cls = None, ReaderError
        traced = self._traced_message()
        if traced is not None:
            message, cls = traced, error_class(traced)
        raise cls(f"{name} failed", message, sent, received, name)

    def _traced_message(self) -> Optional[str]:
        """The status message the library printed for this call, when the trace is captured."""
        if self._capture is None:
            return None
        self._capture.sync()
        for line in reversed(self._call_trace):
            marker = line.find(_MESSAGE_MARK)
            if marker >= 0 and _UPLOAD_MESSAGE not in line:
                return line[marker + len(_MESSAGE_MARK):].strip()
        return None

    # ---- Card detection -----------------------------------------------------------

    def find_card(self) -> Card:
        """Finds, selects and identifies the card in the field (a halted one is woken)."""
        with self._lock:
            self._ensure_open("find_card")
            if self._lib.FindCard() != 1:
                self._call("WakeUp", failure=lambda code: code == 0)
            info = lib.card_info()
            if self._lib.Conflict(ctypes.byref(info)) == 1:
                self._lib.SelectCard(_SELECT_CODE)
            self._call("GetCardInfo", ctypes.byref(info))
            length = 6 if info.card_type == 10 else 4
            if info.card_type in (S50, S70):
                self._card_type = info.card_type
            return Card(info.card_type, bytes(info.uid[:length]))

    def halt(self) -> None:
        """Puts the card to sleep (find_card wakes it)."""
        self._call("PauseCard")

    # ---- Reader control ---------------------------------------------------------

    def reader_id(self) -> bytes:
        """The reader's serial number."""
        out = (ctypes.c_ubyte * lib.READER_ID_SIZE)()
        length = ctypes.c_int(0)
        self._call("GetReaderId", out, ctypes.byref(length))
        return bytes(out[: max(0, min(length.value, lib.READER_ID_SIZE))])

    def beep(self, on: bool = True) -> None:
        self._call("BuzzerOn", 1 if on else 0)

    def antenna_off(self) -> None:
        self._call("AntennaOff")

    # ---- MIFARE Classic blocks -----------------------------------------------------

    def _address(self, block: int, sector: Optional[int]) -> "tuple[int, int, int]":
        if sector is None:
            _whole_number(block, "block", 0, _block_count(self._card_type) - 1)
            return _ABSOLUTE, 0, block
        _whole_number(sector, "sector", 0, 39 if self._card_type == S70 else 15)
        _whole_number(block, "block", 0, _sector_blocks(sector) - 1)
        return _RELATIVE, sector, block

    def _data_address(self, block: int, sector: Optional[int]) -> "tuple[int, int, int]":
        mode, sec, blk = self._address(block, sector)
        absolute = blk if mode == _ABSOLUTE else (sec * 4 if sec < 32 else 128 + (sec - 32) * 16) + blk
        if _is_trailer(absolute):
            raise ValueError(f"block {absolute} is a sector trailer: use read_trailer, change_key_a "
                             "or change_access_bytes")
        return mode, sec, blk

    def check_key(self, block: int, key: bytes, key_type: Union[str, int] = "A", *,
                  sector: Optional[int] = None) -> None:
        """Authenticates the block's sector with `key`; KeyRefusedError when the card refuses it."""
        mode, sec, blk = self._address(block, sector)
        key = _exact_bytes(key, lib.KEY_SIZE, "key")
        self._call("CheckKey", self._card_type, mode, sec, blk, _key_type(key_type), lib.buffer(key))

    def read_block(self, block: int, key: Optional[bytes] = None, key_type: Union[str, int] = "A", *,
                   sector: Optional[int] = None) -> bytes:
        """The block's 16 bytes; with `key`, authenticates in the same command."""
        mode, sec, blk = self._address(block, sector)
        out = (ctypes.c_ubyte * lib.BLOCK_SIZE)()
        if key is None:
            self._call("ReadBlock", mode, sec, blk, self._card_type, out)
        else:
            raw = _exact_bytes(key, lib.KEY_SIZE, "key")
            self._call("ComposeRead", mode, sec, blk, self._card_type, out, _key_type(key_type), raw)
        return bytes(out)

    def write_block(self, block: int, data: bytes, key: Optional[bytes] = None, key_type: Union[str, int] = "A",
                    *, sector: Optional[int] = None) -> None:
        """Writes 16 bytes into a data block (never a trailer); with `key`, authenticates in the same command."""
        mode, sec, blk = self._data_address(block, sector)
        data = _exact_bytes(data, lib.BLOCK_SIZE, "data")
        if key is None:
            self._call("WriteBlock", mode, sec, blk, self._card_type, lib.buffer(data))
        else:
            raw = _exact_bytes(key, lib.KEY_SIZE, "key")
            self._call("ComposeWrite", mode, sec, blk, self._card_type, lib.buffer(data), _key_type(key_type), raw)

    # ---- Wallets ---------------------------------------------------------------

    def _wallet(self, name: str, block: int, amount: Optional[int], key: Optional[bytes],
                key_type: Union[str, int], sector: Optional[int]) -> int:
        mode, sec, blk = self._data_address(block, sector)
        value = ctypes.c_int(0 if amount is None else _whole_number(amount, "amount", 0, 2**31 - 1))
        if key is not None:
            self.check_key(block, key, key_type, sector=sector)
        self._call(name, mode, sec, blk, self._card_type, ctypes.cast(ctypes.byref(value), ctypes.POINTER(ctypes.c_ubyte)))
        return value.value

    def init_wallet(self, block: int, amount: int, key: Optional[bytes] = None, key_type: Union[str, int] = "A", *,
                    sector: Optional[int] = None) -> None:
        """Makes the block a wallet holding `amount` (0..2**31-1)."""
        self._wallet("WalletInit", block, amount, key, key_type, sector)

    def read_wallet(self, block: int, key: Optional[bytes] = None, key_type: Union[str, int] = "A", *,
                    sector: Optional[int] = None) -> int:
        """The wallet's amount."""
        return self._wallet("ReadWallet", block, None, key, key_type, sector)

    def add_to_wallet(self, block: int, amount: int, key: Optional[bytes] = None, key_type: Union[str, int] = "A",
                      *, sector: Optional[int] = None) -> None:
        self._wallet("WalletAdd", block, amount, key, key_type, sector)

    def take_from_wallet(self, block: int, amount: int, key: Optional[bytes] = None,
                         key_type: Union[str, int] = "A", *, sector: Optional[int] = None) -> None:
        self._wallet("WalletDec", block, amount, key, key_type, sector)

    # ---- Sector trailers ---------------------------------------------------------

    def _sector(self, sector: int) -> int:
        return _whole_number(sector, "sector", 0, 39 if self._card_type == S70 else 15)

    def read_access_bytes(self, sector: int, key_a: bytes) -> bytes:
        """The sector trailer's 4 access bytes, read with key A."""
        key = _exact_bytes(key_a, lib.KEY_SIZE, "key_a")
        out = (ctypes.c_ubyte * lib.ACCESS_BYTES_SIZE)()
        self._call("ReadCtrlWord", self._sector(sector), lib.buffer(key), out)
        return bytes(out)

    def check_trailer_key(self, sector: int, key: bytes, key_type: Union[str, int] = "A") -> None:
        """Checks key A or B against the sector trailer; KeyRefusedError when refused."""
        raw = _exact_bytes(key, lib.KEY_SIZE, "key")
        is_a = _key_type(key_type) == lib.KEY_A
        self._call("CheckCtrlKey", is_a, self._sector(sector), lib.buffer(raw), 0x1A if is_a else 0x1B,
                   key_check="A" if is_a else "B")

    def change_key_a(self, sector: int, new_key_a: bytes, key_a: bytes, key_b: bytes) -> None:
        """Replaces key A; the access bytes and key B stay. Both current keys are checked first."""
        keys = [_exact_bytes(k, lib.KEY_SIZE, n) for k, n in ((new_key_a, "new_key_a"), (key_a, "key_a"),
                                                                (key_b, "key_b"))]
        self._call("ModifyKey", self._sector(sector), *map(lib.buffer, keys), key_check="trailer")

    def change_access_bytes(self, sector: int, key_a: bytes, key_b: bytes, access_bytes: bytes) -> None:
        """Replaces the access bytes (refused unless their inverted copies agree); keys stay."""
        a = _exact_bytes(key_a, lib.KEY_SIZE, "key_a")
        b = _exact_bytes(key_b, lib.KEY_SIZE, "key_b")
        access = _exact_bytes(access_bytes, lib.ACCESS_BYTES_SIZE, "access_bytes")
        if not _access_bytes_consistent(access):
            raise ValueError(f"access bytes {access.hex().upper()} are inconsistent: writing them "
                             "would lock the sector for ever")
        self._call("ModifyControl", self._sector(sector), lib.buffer(a), lib.buffer(b), lib.buffer(access),
                   key_check="trailer")

    # ---- CPU cards ---------------------------------------------------------------

    def cos_activate(self) -> None:
        self._call("CosActivation")

    def cos_deactivate(self) -> None:
        self._call("CosDeactive")

    def apdu(self, command: bytes) -> bytes:
        """Sends one APDU (1..89 bytes) to an activated CPU card; returns its response with the status words."""
        if not isinstance(command, (bytes, bytearray, memoryview)):
            raise TypeError(f"command must be bytes, not {type(command).__name__}")
        command = bytes(command)
        if not 1 <= len(command) <= lib.MAX_APDU:
            raise ValueError(f"an APDU is 1..{lib.MAX_APDU} bytes, not {len(command)}")
        with self._lock:
            self._call("SendCosCommand", lib.buffer(command), len(command))
            answer = self.last_received
        return answer[_DATA_OFFSET:-1]

    def external_authenticate(self, key: Optional[bytes] = None, key_id: int = 0) -> None:
        """External authentication with `key` (0..16 bytes), or the library's default key."""
        if key is None:
            self._call("Exauthentication", None, 0, 0)
            return
        if not isinstance(key, (bytes, bytearray)):
            raise TypeError(f"key must be bytes, not {type(key).__name__}")
        if len(key) > 16:
            raise ValueError(f"key must be 0..16 bytes, not {len(key)}")
        _whole_number(key_id, "key_id", 0, 255)
        self._call("Exauthentication", lib.buffer(bytes(key)), len(key), key_id)

    def _ensure_open(self, name: str) -> None:
        if not self._open:
            raise ReaderClosedError("the reader is closed", function=name)


def _access_bytes_consistent(access: bytes) -> bool:
    b6, b7, b8 = access[0], access[1], access[2]
    c1, c2, c3 = b7 >> 4, b8 & 0x0F, b8 >> 4
    return (~b6 & 0x0F) == c1 and (~b6 >> 4 & 0x0F) == c2 and (~b7 & 0x0F) == c3
