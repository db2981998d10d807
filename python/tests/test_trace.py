"""Capturing the library's trace from file descriptor 1."""
from __future__ import annotations

import ctypes
import fcntl
import logging
import os
import threading
import time
from typing import List

import pytest

import zelkor
from conftest import Simulator

libc = ctypes.CDLL(None)


def fd1_identity() -> "tuple[int, ...]":
    """What fd 1 is: its file, its open flags and whether children inherit it."""
    status = os.fstat(1)
    return status.st_dev, status.st_ino, status.st_mode, fcntl.fcntl(1, fcntl.F_GETFL), os.get_inheritable(1)


def test_reader_trace_goes_to_the_sink_line_by_line_in_unicode(sim: Simulator, caplog: pytest.LogCaptureFixture) -> None:
    before = fd1_identity()
    logger = logging.getLogger("zelkor-test")
    with caplog.at_level(logging.INFO, logger="zelkor-test"):
        with zelkor.Reader(3, trace=logger) as reader:
            reader.find_card()
            with pytest.raises(zelkor.KeyRefusedError):
                reader.read_block(4, key=bytes(6))
    lines = [record.getMessage() for record in caplog.records]
    assert lines[0].startswith("发送数据：55 55 ") and lines[1].endswith("寻卡成功")
    assert lines[-1].endswith("  #↑M1卡密钥认证出错")
    assert all("\n" not in line for line in lines)
    assert fd1_identity() == before


def test_a_burst_larger_than_the_pipe_with_a_slow_sink(library: None) -> None:
    received: List[str] = []

    def slow(line: str) -> None:
        if len(received) % 200 == 0:
            time.sleep(0.05)
        received.append(line)

    line = "收到数据：" + "AB " * 60
    payload = (line + "\n").encode("gbk") * (65536 // len(line.encode("gbk")) + 50)
    done = threading.Event()

    def burst() -> None:
        with zelkor.capture_trace(slow):
            libc.write(1, payload, len(payload))  # one write of more than 64 KiB, as the C side does
            print("python's own output is not trace")
        done.set()

    worker = threading.Thread(target=burst, daemon=True)
    worker.start()
    assert done.wait(30), "capture deadlocked on a full pipe"
    assert len(payload) > 65536
    assert received == [line] * (len(payload) // len((line + "\n").encode("gbk")))


def test_the_unfinished_last_line_is_delivered_when_the_reader_closes(sim: Simulator) -> None:
    before = fd1_identity()
    lines: List[str] = []
    reader = zelkor.Reader(3, trace=lines.append)
    reader.find_card()
    libc.printf(b"%s", "收到数据：55 55 00".encode("gbk"))  # buffered by C stdio, no line end
    reader.close()
    assert lines[-1] == "收到数据：55 55 00"
    assert fd1_identity() == before


def test_capture_collects_and_nests(library: None) -> None:
    with zelkor.capture_trace() as outer:
        libc.printf(b"first\n")
        with zelkor.capture_trace() as inner:
            libc.printf(b"second\n")
        libc.printf(b"third")
    assert outer.lines == ["first", "second", "third"]
    assert inner.lines == ["second"]


def test_a_trace_that_is_neither_callable_nor_logger(library: None) -> None:
    with pytest.raises(TypeError):
        zelkor.Reader(3, trace="trace.txt")


def test_a_child_that_keeps_the_pipe_does_not_hold_up_the_end(library: None) -> None:
    import subprocess

    started = time.monotonic()
    with zelkor.capture_trace() as capture:
        child = subprocess.Popen(["sleep", "30"])  # inherits fd 1, the pipe
        libc.printf(b"last words")
    try:
        assert time.monotonic() - started < 10 and child.poll() is None
        assert capture.lines == ["last words"]
    finally:
        child.kill()
        child.wait()
