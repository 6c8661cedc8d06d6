"""The pinned identifiers: every profile, precision and dimension mode, the
bands and the decoded values of a few fixed vectors must come out exactly as
stored in tests/golden/identifiers.json (made by scripts/make_golden.py)."""

from __future__ import annotations

import importlib.util
import json
import pathlib

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]
_source = importlib.util.spec_from_file_location("make_golden", ROOT / "scripts" / "make_golden.py")
assert _source and _source.loader
make_golden = importlib.util.module_from_spec(_source)
_source.loader.exec_module(make_golden)

GOLDEN = json.loads((ROOT / "tests" / "golden" / "identifiers.json").read_text())


@pytest.mark.parametrize("pinned", GOLDEN["vectors"], ids=lambda e: f"d{e['d']}")
@pytest.mark.parametrize("section", ["identifiers", "decoded_f32_be_hex", "bands"])
def test_pinned(pinned, section):
    now = make_golden.entry(pinned["d"], pinned["k"])[section]
    assert now.keys() == pinned[section].keys()
    changed = [name for name in now if now[name] != pinned[section][name]]
    assert not changed, f"changed for d={pinned['d']}: {changed}"


def test_golden_covers_every_kind():
    ids = GOLDEN["vectors"][1]["identifiers"]
    # Mini128, Morton, Hilbert and full-vector identifiers of several records.
    assert {text[:2] for text in ids.values()} == {"04", "08", "0c", "0g"}
    assert len({text[:8] for text in ids.values() if text.startswith("0g")}) >= 5
