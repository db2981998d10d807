"""zelkor.cli and zelkor.list_ports through the zelkor program against the simulator."""
from __future__ import annotations

import json
from pathlib import Path

import pytest

import zelkor
from zelkor import cli
from conftest import Simulator


@pytest.fixture
def dictionary(tmp_path: Path) -> Path:
    path = tmp_path / "site.dic"
    path.write_text("# the demo card's key\n5A3C96E10F7B\n")
    return path


def test_list_ports_holds_the_published_simulator(sim: Simulator, program: Path) -> None:
    ports = {port.name: port for port in zelkor.list_ports()}
    assert ports["COM3"].port == 3 and ports["COM3"].target.startswith("/dev/pts/")
    assert ports["COM3"].accessible


def test_keys_dump_diff_and_restore_plan(sim: Simulator, program: Path, dictionary: Path, tmp_path: Path) -> None:
    key_map = cli.keys(3, [dictionary], builtin=False)
    assert len(key_map["SectorKeys"]) == 16 and key_map["UID"] == "3A7C51E2"
    assert key_map["SectorKeys"]["4"] == {"KeyA": "5A3C96E10F7B", "KeyB": "5A3C96E10F7B"}

    summary = cli.dump("COM3", tmp_path / "card.json", [dictionary])
    assert (summary["blocks_read"], summary["partial"]) == (64, False)
    assert json.loads((tmp_path / "card.json").read_text())["blocks"]["4"] == b"Zelkor demo card".hex().upper()

    assert cli.diff(tmp_path / "card.json", tmp_path / "card.json")["equal"]
    plan = cli.restore_plan(3, tmp_path / "card.json", [dictionary])
    assert plan["dry_run"] is True
    assert {step["action"] for step in plan["plan"]} == {"skip"}  # the card already holds the dump


def test_failures_by_exit_status(sim: Simulator, program: Path, tmp_path: Path) -> None:
    with pytest.raises(zelkor.UsageError, match="unknown dump format"):
        cli.dump(3, tmp_path / "card.txt")
    with pytest.raises(zelkor.ReaderError, match="cannot open COM4") as raised:
        cli.keys(4)
    assert raised.value.stderr  # type: ignore[attr-defined]
    wrong = tmp_path / "wrong.dic"
    wrong.write_text("FFFFFFFFFFFF\n")
    with pytest.raises(zelkor.ReaderError) as partial:
        cli.dump(3, tmp_path / "partial.mct", [wrong], builtin=False)  # no key opens the demo card
    assert partial.value.result["partial"] is True  # type: ignore[attr-defined]
    assert (tmp_path / "partial.mct").exists()
