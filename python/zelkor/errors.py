"""Exceptions, and the reader's status messages they carry."""
from __future__ import annotations

from typing import Dict, List, Optional, Sequence, Type

# The library's messages for a failed answer's status byte (it prints them in
# GBK after "  #↑"); a test holds them to the library's own table.
STATUS_MESSAGES: Dict[int, str] = {
    0x01: "读卡器周围无卡",
    0x06: "M1卡密钥认证出错",
    0x0B: "M1卡读写操作前未经过密钥认证",
    0x0D: "读卡器接受卡片数据异常",
    0x1D: "读卡器与卡片通信超时",
    0x3C: "读卡器异常",
    0x3D: "读卡器不支持该命令",
    0x3E: "命令参数错误",
    0x3F: "连续两次激活COS",
    0x40: "未激活COS的情况下执行COS指令",
    0x41: "卡片不支持该命令",
}
UNDEFINED_STATUS = "未定义错误代码"
KEY_A_FAILED = "密钥A验证失败！"
KEY_B_FAILED = "密钥B验证失败！"
NO_ANSWER = "超时未收到数据"


class ZelkorError(Exception):
    """Base of every error this package raises on purpose."""


class LibraryNotFound(ZelkorError, ImportError):
    """The shared library was not found; `tried` lists every place looked at."""

    def __init__(self, reason: str, tried: Sequence[str]) -> None:
        self.tried: List[str] = list(tried)
        places = "\n  ".join(self.tried) if self.tried else "(nowhere: set ZELKOR_LIBRARY)"
        super().__init__(f"{reason}; looked in:\n  {places}")


class ReaderError(ZelkorError):
    """A reader command failed.

    `message` is the reader's own status message as the library prints it
    (for example "读卡器周围无卡"), or None when there is none; `sent` and
    `received` are the last frames written and received.
    """

    def __init__(self, what: str, message: Optional[str] = None, sent: bytes = b"",
                 received: bytes = b"", function: str = "") -> None:
        self.what = what
        self.message = message
        self.sent = sent
        self.received = received
        self.function = function
        text = what if message is None else f"{what}: {message}"
        if sent:
            text += f" (sent {sent.hex(' ').upper()}"
            text += f"; received {received.hex(' ').upper()})" if received else "; no answer)"
        super().__init__(text)


class NoCardError(ReaderError):
    """No card answers in the reader's field."""


class KeyRefusedError(ReaderError):
    """The card refused the key (authentication failed)."""


class NoAnswerError(ReaderError):
    """The reader did not answer within its time."""


class PortNotFoundError(ReaderError):
    """The port does not exist."""


class PortBusyError(ReaderError):
    """The port exists but cannot be opened: another program holds it, or no permission."""


class ReaderClosedError(ReaderError):
    """The reader was used after it was closed."""


class UsageError(ZelkorError):
    """The zelkor program refused its arguments or files (exit status 2)."""


_CLASS_OF_MESSAGE: Dict[str, Type[ReaderError]] = {
    STATUS_MESSAGES[0x01]: NoCardError,
    STATUS_MESSAGES[0x06]: KeyRefusedError,
    KEY_A_FAILED: KeyRefusedError,
    KEY_B_FAILED: KeyRefusedError,
    NO_ANSWER: NoAnswerError,
}


def status_message(status: int, key_check: Optional[str] = None) -> str:
    """The library's message for a failed answer's status byte.

    `key_check` "A" or "B" when the command was a trailer key check, which
    the library reports as the key's failure whatever the status.
    """
    if key_check == "A":
        return KEY_A_FAILED
    if key_check == "B":
        return KEY_B_FAILED
    return STATUS_MESSAGES.get(status, UNDEFINED_STATUS)


def error_class(message: Optional[str]) -> Type[ReaderError]:
    """The exception class that a reader message calls for."""
    return _CLASS_OF_MESSAGE.get(message or "", ReaderError)
