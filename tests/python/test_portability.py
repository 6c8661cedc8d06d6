"""Floating-point hygiene of the build: the process's floating-point mode
after import, and the build's refusal of fast-math options."""
import json
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parents[2]


def test_import_leaves_the_floating_point_mode_alone():
    # A library linked with fast-math start-up code would have set
    # flush-to-zero / denormals-are-zero for the whole process at import.
    code = ("import numpy as np, mivo; "
            "assert (np.array([5e-324]) * 1.0)[0] == 5e-324; "
            "assert (np.array([1e-45], np.float32) * np.float32(1))[0] != 0; "
            "print('ok')")
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, timeout=60)
    assert done.returncode == 0 and done.stdout.strip() == "ok", done.stderr


FAST_MATH = ["-ffast-math", "-Ofast", "-funsafe-math-optimizations", "-ffp-contract=fast"]


@pytest.mark.skipif(not (ROOT / "CMakeLists.txt").exists(), reason="needs the source tree")
def test_build_drops_fast_math_from_user_flags(tmp_path):
    venv_bin = str(pathlib.Path(sys.executable).parent)
    cmake = shutil.which("cmake", path=venv_bin) or shutil.which("cmake")
    ninja = shutil.which("ninja", path=venv_bin) or shutil.which("ninja")
    if cmake is None or ninja is None:
        pytest.skip("cmake and ninja are needed")
    env = dict(os.environ, CFLAGS=" ".join(FAST_MATH), CXXFLAGS=" ".join(FAST_MATH) + " -O2",
               LDFLAGS="-ffast-math -Ofast")
    done = subprocess.run([cmake, "-S", str(ROOT), "-B", str(tmp_path), "-G", "Ninja", f"-DCMAKE_MAKE_PROGRAM={ninja}",
                           "-DCMAKE_EXPORT_COMPILE_COMMANDS=ON", f"-DPython_EXECUTABLE={sys.executable}"],
                          env=env, capture_output=True, text=True, timeout=300)
    assert done.returncode == 0, done.stdout + done.stderr
    assert "mivo: removing -ffast-math -Ofast" in done.stderr
    commands = [c["command"] for c in json.loads((tmp_path / "compile_commands.json").read_text())]
    rules = (tmp_path / "build.ninja").read_text().split()  # the link lines too
    assert commands and all("-fno-fast-math" in c and "-ffp-contract=off" in c for c in commands
                            if "mivo_blake3" not in c)
    for flag in FAST_MATH:
        assert not any(flag in c.split() for c in commands), flag
        assert flag not in rules, flag
    assert any("-O2" in c.split() for c in commands)  # the other user flags stay
