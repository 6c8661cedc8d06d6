"""The type stub: it passes `mypy --strict`, typed code using it checks, and
stubtest finds it faithful to the built module (names, __all__, signatures,
defaults)."""
import importlib.util
import os
import subprocess
import sys
from pathlib import Path

import pytest

import mivo

ROOT = Path(__file__).resolve().parents[2]
STUB = ROOT / "python" / "mivo.pyi"
USAGE = Path(__file__).resolve().parent / "typing_usage.py"

needs_mypy = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None, reason="mypy is not installed (pip install mypy)"
)


def run(args, **env):
    return subprocess.run(
        [sys.executable, *args], cwd=ROOT, env=dict(os.environ, **env), capture_output=True, text=True, timeout=300
    )


@needs_mypy
def test_mypy_strict_on_stub_and_usage(tmp_path):
    result = run(
        ["-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(tmp_path / "cache"), str(STUB), str(USAGE)],
        MYPYPATH=str(STUB.parent),
    )
    assert result.returncode == 0, result.stdout + result.stderr


@needs_mypy
@pytest.mark.parametrize("module", ["mivo", "mivo_collections"])
def test_stubtest_against_the_built_module(tmp_path, module):
    module_dir = str(Path(mivo.__file__).resolve().parent)
    result = run(
        ["-m", "mypy.stubtest", module, "--mypy-config-file", str(tmp_path / "none.ini")],
        MYPYPATH=str(STUB.parent),
        PYTHONPATH=os.pathsep.join([module_dir, os.environ.get("PYTHONPATH", "")]),
    )
    assert result.returncode == 0, result.stdout + result.stderr
