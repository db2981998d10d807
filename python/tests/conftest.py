"""Fixtures: the standalone simulator on a private port directory.

ZELKOR_LIBRARY names the library; the simulator and the zelkor program are
taken from ZELKOR_SIM and ZELKOR_PROGRAM, else from the build tree beside the
library (build/sim, build/cli).
"""
from __future__ import annotations

import os
import subprocess
import time
from pathlib import Path
from typing import Iterator

import pytest

ROOT = Path(__file__).resolve().parents[2]
DEMO_KEY = bytes.fromhex("5A3C96E10F7B")


def _build_dir() -> Path:
    library = os.environ.get("ZELKOR_LIBRARY")
    return Path(library).resolve().parents[1] if library else ROOT / "build"


def _tool(variable: str, relative: str) -> Path:
    path = Path(os.environ.get(variable) or _build_dir() / relative)
    if not path.is_file():
        pytest.skip(f"{path} not built (set {variable})")
    return path


class Simulator:
    def __init__(self, directory: Path, port: int) -> None:
        self.directory = directory
        self.port = port
        self.process = subprocess.Popen([str(_tool("ZELKOR_SIM", "sim/zelkor-sim")), str(directory), str(port)],
                                        stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.expect("published as")

    def expect(self, text: str) -> str:
        assert self.process.stdout is not None
        for line in self.process.stdout:
            if text in line:
                return line
        raise AssertionError(f"the simulator ended before saying {text!r}")

    def command(self, word: str, answer: str) -> None:
        assert self.process.stdin is not None
        self.process.stdin.write(word + "\n")
        self.process.stdin.flush()
        self.expect(answer)

    def stop(self) -> None:
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(10)


@pytest.fixture
def sim(library: None, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> Iterator[Simulator]:
    monkeypatch.setenv("ZELKOR_PORT_DIR", str(tmp_path / "ports"))
    simulator = Simulator(tmp_path / "ports", 3)
    yield simulator
    simulator.stop()


@pytest.fixture
def program(monkeypatch: pytest.MonkeyPatch) -> Path:
    path = _tool("ZELKOR_PROGRAM", "cli/zelkor")
    monkeypatch.setenv("ZELKOR_PROGRAM", str(path))
    return path


@pytest.fixture
def library() -> None:
    import zelkor.lib

    try:
        zelkor.lib.library()
    except ImportError as error:
        pytest.skip(str(error))


def wait_until(condition, seconds: float = 5.0) -> bool:  # type: ignore[no-untyped-def]
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if condition():
            return True
        time.sleep(0.01)
    return condition()
