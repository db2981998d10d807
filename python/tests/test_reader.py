"""zelkor.Reader against the standalone simulator."""
from __future__ import annotations

import fcntl
import os
import pty
from pathlib import Path

import pytest

import zelkor
from conftest import DEMO_KEY, Simulator

OTHER_KEY = bytes.fromhex("FFFFFFFFFFFF")


def test_card_session_from_search_to_wallet_and_trailer(sim: Simulator) -> None:
    with zelkor.Reader(3, baud=9600) as reader:
        card = reader.find_card()
        assert (card.type_code, card.type_name, len(card.uid)) == (11, "S50", 4)
        assert reader.read_block(4, key=DEMO_KEY) == b"Zelkor demo card"
        reader.write_block(1, b"0123456789abcdef", key=DEMO_KEY, key_type="A", sector=1)
        assert reader.read_block(5, key=DEMO_KEY) == b"0123456789abcdef"

        reader.init_wallet(6, 500, key=DEMO_KEY)
        reader.add_to_wallet(6, 25)
        reader.take_from_wallet(6, 100)
        assert reader.read_wallet(2, sector=1) == 425

        assert reader.read_access_bytes(1, DEMO_KEY) == bytes.fromhex("FF078069")
        reader.check_trailer_key(1, DEMO_KEY, "B")
        reader.change_key_a(2, OTHER_KEY, DEMO_KEY, DEMO_KEY)
        assert len(reader.read_block(8, key=OTHER_KEY)) == 16
        assert reader.last_sent[6:8] == b"\x03\x07" and reader.last_received[6] == 0
        reader.halt()
        assert reader.find_card() == card  # woken


def test_cpu_card_apdu(sim: Simulator) -> None:
    sim.command("cpu", "CPU card")
    with zelkor.Reader("COM3") as reader:
        assert reader.find_card().type_code == 13
        reader.cos_activate()
        assert reader.apdu(bytes.fromhex("0084000008"))[-2:] == b"\x90\x00"
        reader.external_authenticate()
        reader.cos_deactivate()


def _no_card(sim: Simulator, reader: zelkor.Reader) -> None:
    sim.command("none", "empty")
    reader.find_card()


def _wrong_key(sim: Simulator, reader: zelkor.Reader) -> None:
    reader.find_card()
    reader.read_block(4, key=OTHER_KEY)


def _wrong_trailer_key_b(sim: Simulator, reader: zelkor.Reader) -> None:
    reader.find_card()
    reader.check_trailer_key(1, OTHER_KEY, "B")


def _cos_not_active(sim: Simulator, reader: zelkor.Reader) -> None:
    sim.command("cpu", "CPU card")
    reader.find_card()
    reader.apdu(b"\x00\x84\x00\x00\x08")


@pytest.mark.parametrize("provoke, error, message", [
    (_no_card, zelkor.NoCardError, "读卡器周围无卡"),
    (_wrong_key, zelkor.KeyRefusedError, "M1卡密钥认证出错"),
    (_wrong_trailer_key_b, zelkor.KeyRefusedError, "密钥B验证失败！"),
    (_cos_not_active, zelkor.ReaderError, "未激活COS的情况下执行COS指令"),
])
@pytest.mark.parametrize("traced", [False, True], ids=["from the answer", "from the captured trace"])
def test_each_reader_answer_raises_its_error(sim: Simulator, provoke, error, message, traced) -> None:  # type: ignore[no-untyped-def]
    lines: list = []
    with zelkor.Reader(3, trace=lines.append if traced else None) as reader:
        with pytest.raises(error) as raised:
            provoke(sim, reader)
    assert raised.value.message == message and message in str(raised.value)
    assert raised.value.sent[:2] == b"\x55\x55" and raised.value.received[:2] == b"\x55\x55"
    assert not traced or lines[-1].endswith("#↑" + message)


def test_a_silent_reader_raises_no_answer(library: None, tmp_path: Path, monkeypatch: pytest.MonkeyPatch) -> None:
    controller, device = pty.openpty()
    (tmp_path / "COM9").symlink_to(os.ttyname(device))
    monkeypatch.setenv("ZELKOR_PORT_DIR", str(tmp_path))
    try:
        with zelkor.Reader(9) as reader, pytest.raises(zelkor.NoAnswerError) as raised:
            reader.find_card()
        assert raised.value.received == b"" and raised.value.message == "超时未收到数据"
    finally:
        os.close(controller)
        os.close(device)


def test_ports_that_cannot_be_opened(sim: Simulator) -> None:
    with pytest.raises(zelkor.PortNotFoundError):
        zelkor.Reader(4)
    with open(sim.directory / "COM3", "rb", buffering=0) as held:
        fcntl.flock(held, fcntl.LOCK_EX)  # as another program using the library holds it
        with pytest.raises(zelkor.PortBusyError):
            zelkor.Reader(3)
    with zelkor.Reader(3):
        with pytest.raises(zelkor.PortBusyError, match="another Reader"):
            zelkor.Reader(3)


def test_the_port_is_closed_when_the_block_raises(sim: Simulator) -> None:
    with pytest.raises(KeyboardInterrupt):
        with zelkor.Reader(3) as reader:
            reader.find_card()
            raise KeyboardInterrupt
    assert not reader.is_open
    with zelkor.Reader(3) as again:
        assert again.find_card().type_code == 11
    with pytest.raises(zelkor.ReaderClosedError):
        again.read_block(4, key=DEMO_KEY)
    again.close()


def test_a_device_path_is_published_for_the_open(sim: Simulator, monkeypatch: pytest.MonkeyPatch) -> None:
    device = os.path.realpath(sim.directory / "COM3")
    monkeypatch.delenv("ZELKOR_PORT_DIR")
    with zelkor.Reader(device) as reader:
        assert reader.find_card().type_code == 11
    assert "ZELKOR_PORT_DIR" not in os.environ


@pytest.mark.parametrize("call, error", [
    (lambda r: r.read_block(4, key=b"12345"), ValueError),           # 5-byte key
    (lambda r: r.write_block(4, bytes(17), key=DEMO_KEY), ValueError),  # 17-byte block
    (lambda r: r.read_block(-1, key=DEMO_KEY), ValueError),
    (lambda r: r.read_block(64, key=DEMO_KEY), ValueError),         # beyond an S50
    (lambda r: r.read_block(4, sector=16), ValueError),
    (lambda r: r.write_block(7, bytes(16), key=DEMO_KEY), ValueError),  # a trailer
    (lambda r: r.read_block("4"), TypeError),
    (lambda r: r.read_block(4, key="5A3C96E10F7B", key_type="C"), ValueError),
    (lambda r: r.init_wallet(5, -1, key=DEMO_KEY), ValueError),
    (lambda r: r.add_to_wallet(5, 2**31), ValueError),
    (lambda r: r.apdu(bytes(90)), ValueError),
    (lambda r: r.change_access_bytes(1, DEMO_KEY, DEMO_KEY, bytes.fromhex("FF0F8069")), ValueError),
])
def test_bad_arguments_are_refused_before_anything_is_sent(sim: Simulator, call, error) -> None:  # type: ignore[no-untyped-def]
    with zelkor.Reader(3) as reader:
        reader.find_card()
        before = reader.last_sent
        with pytest.raises(error):
            call(reader)
        assert reader.last_sent == before


@pytest.mark.parametrize("port, error", [(0, ValueError), ("COM0", ValueError), (3.0, TypeError),
                                         (True, TypeError)])
def test_bad_port_arguments(library: None, port, error) -> None:  # type: ignore[no-untyped-def]
    with pytest.raises(error):
        zelkor.Reader(port)
