"""Taking the library's GBK trace off standard output, line by line.

The library writes its trace to the standard output of its C runtime. While
at least one capture is active, that output is a pipe: one thread drains the
pipe as fast as it fills (so the library never blocks on a full pipe), a
second hands each line, decoded from GBK, to the subscribers. When the last
capture ends, the output is given back exactly as it was, and every line
written before, the unfinished last one included, is delivered first.
"""
from __future__ import annotations

import contextlib
import ctypes
import io
import os
import queue
import sys
import threading
import time
from typing import Callable, Iterator, List, Optional, Union

TraceSink = Callable[[str], None]


def _decode(raw: bytes) -> str:
    return raw.rstrip(b"\r").decode("gbk", errors="replace")


class _PosixRedirect:
    """fd 1 of the process (the C library's stdout) onto a pipe."""

    def __init__(self) -> None:
        self._libc = ctypes.CDLL(None)
        self._libc.fflush.argtypes = [ctypes.c_void_p]
        self._saved = -1
        self._inheritable = True
        self._python_stdout: Optional[io.TextIOBase] = None

    def start(self) -> int:
        self.flush()
        read_end, write_end = os.pipe()
        try:
            self._saved = os.dup(1)
            self._inheritable = os.get_inheritable(1)
        except OSError:  # fd 1 closed: it is closed again afterwards
            self._saved, self._inheritable = -1, True
        os.dup2(write_end, 1, inheritable=self._inheritable)
        os.close(write_end)
        if self._saved >= 0:
            self._keep_python_output()
        return read_end

    def stop(self) -> None:
        self.flush()
        self._restore_python_output()
        if self._saved >= 0:
            os.dup2(self._saved, 1, inheritable=self._inheritable)
            os.close(self._saved)
        else:
            os.close(1)
        self._saved = -1

    def flush(self) -> None:
        if sys.stdout is not None:
            with contextlib.suppress(Exception):
                sys.stdout.flush()
        self._libc.fflush(None)

    def _keep_python_output(self) -> None:
        # Python's own print() still goes where fd 1 went: only the library's
        # output is trace, and a sink that prints must not feed itself.
        stdout = sys.stdout
        try:
            uses_fd1 = stdout is not None and stdout.fileno() == 1
        except (AttributeError, OSError, ValueError):
            uses_fd1 = False
        if not uses_fd1:
            return
        raw = os.fdopen(os.dup(self._saved), "wb", buffering=0)
        self._python_stdout = stdout
        sys.stdout = io.TextIOWrapper(raw, encoding=stdout.encoding, errors=stdout.errors,
                                      line_buffering=True, write_through=True)

    def _restore_python_output(self) -> None:
        if self._python_stdout is None:
            return
        replacement = sys.stdout
        sys.stdout = self._python_stdout
        self._python_stdout = None
        with contextlib.suppress(Exception):
            replacement.close()


class _LegacyFile(ctypes.Structure):
    """msvcrt.dll's FILE, a layout fixed since long before the UCRT."""

    _fields_ = [("ptr", ctypes.c_void_p), ("cnt", ctypes.c_int), ("base", ctypes.c_void_p), ("flag", ctypes.c_int),
                ("file", ctypes.c_int), ("charbuf", ctypes.c_int), ("bufsiz", ctypes.c_int),
                ("tmpfname", ctypes.c_void_p)]


class _MsvcrtRedirect:
    """msvcrt's stdout stream, which the Windows DLL writes through, onto a pipe.

    Python runs on another C runtime (the UCRT) whose fd 1 the DLL never sees.
    Swapping msvcrt's fd 1 with its _dup2 would close the console or file
    handle that both runtimes' fd 1 share, and Python's own output would be
    lost; so the stream is pointed at a new msvcrt descriptor instead, and
    fd 1 itself is never touched.
    """

    _O_WRONLY = 0x0001
    _O_BINARY = 0x8000

    def __init__(self) -> None:
        crt = ctypes.CDLL("msvcrt")
        crt.fflush.argtypes = [ctypes.c_void_p]
        crt._open_osfhandle.argtypes = [ctypes.c_ssize_t, ctypes.c_int]
        crt._close.argtypes = [ctypes.c_int]
        crt.__iob_func.restype = ctypes.POINTER(_LegacyFile)
        self._crt = crt
        self._stdout = crt.__iob_func()[1]
        self._previous = -1
        self._pipe_fd = -1

    def start(self) -> int:
        import msvcrt  # Windows only
        from ctypes import wintypes

        kernel32 = ctypes.WinDLL("kernel32", use_last_error=True)
        kernel32.CreatePipe.argtypes = [ctypes.POINTER(wintypes.HANDLE), ctypes.POINTER(wintypes.HANDLE),
                                        ctypes.c_void_p, wintypes.DWORD]
        self.flush()
        read_handle, write_handle = wintypes.HANDLE(), wintypes.HANDLE()
        if not kernel32.CreatePipe(ctypes.byref(read_handle), ctypes.byref(write_handle), None, 0):
            raise ctypes.WinError(ctypes.get_last_error())
        # The reading end becomes a descriptor of Python's runtime, the writing
        # end one of msvcrt's: each runtime closes its own.
        read_end = msvcrt.open_osfhandle(read_handle.value, os.O_RDONLY | self._O_BINARY)
        self._pipe_fd = self._crt._open_osfhandle(write_handle.value, self._O_WRONLY | self._O_BINARY)
        self._previous = self._stdout.file
        self._stdout.file = self._pipe_fd
        return read_end

    def flush(self) -> None:
        self._crt.fflush(None)

    def stop(self) -> None:
        self.flush()
        self._stdout.file = self._previous
        self._crt._close(self._pipe_fd)
        self._pipe_fd = -1


def _make_redirect() -> Union[_PosixRedirect, _MsvcrtRedirect]:
    return _MsvcrtRedirect() if sys.platform == "win32" else _PosixRedirect()


class _Hub:
    """One pipe on fd 1 shared by every active capture."""

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._sinks: List[TraceSink] = []
        self._redirect: Optional[Union[_PosixRedirect, _MsvcrtRedirect]] = None
        self._drainer: Optional[threading.Thread] = None
        self._deliverer: Optional[threading.Thread] = None
        self._lines: "queue.SimpleQueue[Optional[str]]" = queue.SimpleQueue()
        self._read_end = -1
        # Between "the pipe has bytes" and "their lines are queued" the drainer
        # holds _reading, so that a sync sees either bytes in the pipe or a count.
        self._reading = threading.Lock()
        self._progress = threading.Condition()
        self._queued = 0
        self._delivered = 0
        self._stopping = threading.Event()

    def subscribe(self, sink: TraceSink) -> None:
        with self._lock:
            if not self._sinks:
                self._start()
            else:
                self._sync()  # what was written before belongs to the others only
            self._sinks.append(sink)

    def unsubscribe(self, sink: TraceSink) -> None:
        with self._lock:
            if len(self._sinks) == 1 and self._sinks[0] is sink:
                self._stop()
            else:
                self._sync()  # everything written so far reaches the leaving sink too
            self._sinks.remove(sink)

    def _start(self) -> None:
        redirect = _make_redirect()
        self._read_end = redirect.start()
        self._redirect = redirect
        self._lines = queue.SimpleQueue()
        self._queued = self._delivered = 0
        self._stopping = threading.Event()
        self._drainer = threading.Thread(target=self._drain, args=(self._read_end,), name="zelkor-trace-pipe",
                                         daemon=True)
        self._deliverer = threading.Thread(target=self._deliver, name="zelkor-trace", daemon=True)
        self._drainer.start()
        self._deliverer.start()

    def _stop(self) -> None:
        assert self._redirect and self._drainer and self._deliverer
        # Giving the stream back flushes it and closes our writing end: the
        # drainer reads what is left, hands over the unfinished line and ends
        # (also when a child process still holds the pipe as its output);
        # then every line is delivered before the last subscriber leaves.
        self._redirect.stop()
        self._stopping.set()
        self._drainer.join()
        self._deliverer.join()
        self._redirect = None

    def sync(self) -> None:
        with self._lock:
            if self._redirect is not None:
                self._sync()

    def _sync(self, timeout: float = 5.0) -> None:
        """Waits until every complete line written to fd 1 so far has been delivered."""
        assert self._redirect is not None
        self._redirect.flush()
        deadline = time.monotonic() + timeout
        while True:
            with self._reading:
                if _unread_bytes(self._read_end) == 0:
                    target = self._queued
                    break
            if time.monotonic() > deadline:
                return
            time.sleep(0.001)
        with self._progress:
            self._progress.wait_for(lambda: self._delivered >= target, max(0.0, deadline - time.monotonic()))

    def _drain(self, read_end: int) -> None:
        pending = b""
        try:
            while True:
                if not _wait_readable(read_end, self._stopping):
                    break
                with self._reading:
                    chunk = os.read(read_end, 65536)
                    if not chunk:
                        break
                    pending += chunk
                    *lines, pending = pending.split(b"\n")
                    self._queue(lines)
        finally:
            self._queue([pending] if pending else [])
            self._lines.put(None)
            os.close(read_end)

    def _queue(self, lines: List[bytes]) -> None:
        for line in lines:
            self._lines.put(_decode(line))
        self._queued += len(lines)

    def _deliver(self) -> None:
        while True:
            line = self._lines.get()
            if line is None:
                return
            for sink in list(self._sinks):
                try:
                    sink(line)
                except Exception as error:  # a faulty sink must not stop the trace
                    print(f"zelkor: trace sink failed: {error!r}", file=sys.stderr)
            with self._progress:
                self._delivered += 1
                self._progress.notify_all()


def _unread_bytes(read_end: int) -> int:
    if sys.platform == "win32":
        import msvcrt

        peek = ctypes.windll.kernel32.PeekNamedPipe
        peek.argtypes = [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_ulong, ctypes.c_void_p,
                         ctypes.POINTER(ctypes.c_ulong), ctypes.c_void_p]
        available = ctypes.c_ulong(0)
        peek(msvcrt.get_osfhandle(read_end), None, 0, None, ctypes.byref(available), None)
        return available.value
    import array
    import fcntl
    import termios

    count = array.array("i", [0])
    fcntl.ioctl(read_end, termios.FIONREAD, count)
    return count[0]


def _wait_readable(read_end: int, stopping: threading.Event) -> bool:
    """False once the capture is stopping and nothing is left to read."""
    # Windows pipes cannot be polled; there the read itself waits, and a sync
    # may return a moment before the drainer queued the last bytes.
    if sys.platform == "win32":
        return True
    import select

    poller = select.poll()
    poller.register(read_end, select.POLLIN)
    while not poller.poll(200):
        if stopping.is_set():
            return False
    return True


_hub = _Hub()


def as_sink(trace: Union[TraceSink, "object"]) -> TraceSink:
    """A callable as it is; a logging.Logger (anything with .info) logs each line at INFO."""
    if hasattr(trace, "info") and callable(getattr(trace, "info")):
        return getattr(trace, "info")
    if callable(trace):
        return trace  # type: ignore[return-value]
    raise TypeError(f"trace must be a callable or a logger, not {type(trace).__name__}")


class TraceCapture:
    """An active capture; `lines` holds what a capture without a sink collected."""

    def __init__(self, sink: Optional[TraceSink]) -> None:
        self.lines: List[str] = []
        self._sink: TraceSink = sink if sink is not None else self.lines.append
        self._active = False

    def start(self) -> "TraceCapture":
        _hub.subscribe(self._sink)
        self._active = True
        return self

    def sync(self) -> None:
        """Returns once every complete line written so far has reached the sink."""
        if self._active:
            _hub.sync()

    def stop(self) -> None:
        if self._active:
            self._active = False
            _hub.unsubscribe(self._sink)


@contextlib.contextmanager
def capture_trace(trace: Optional[Union[TraceSink, "object"]] = None) -> Iterator[TraceCapture]:
    """Takes the library's trace off standard output while the block runs.

    With a callable or logger, each line goes there as it arrives (on a thread
    of this module); without, the lines are collected in the capture's `lines`.
    """
    capture = TraceCapture(as_sink(trace) if trace is not None else None).start()
    try:
        yield capture
    finally:
        capture.stop()
