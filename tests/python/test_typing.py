"""The type stub: it names exactly the module's public names with the runtime
signatures, it passes `mypy --strict`, and typed code using it checks."""
import ast
import importlib.util
import inspect
import os
import subprocess
import sys
from pathlib import Path

import pytest

import mivo

from .test_frame import EXPECTED_ALL

ROOT = Path(__file__).resolve().parents[2]
STUB = ROOT / "python" / "mivo.pyi"
USAGE = Path(__file__).resolve().parent / "typing_usage.py"

needs_mypy = pytest.mark.skipif(
    importlib.util.find_spec("mypy") is None, reason="mypy is not installed (pip install mypy)"
)


def stub_tree():
    return ast.parse(STUB.read_text(), str(STUB))


def stub_all(tree):
    for node in tree.body:
        if isinstance(node, ast.Assign) and [t.id for t in node.targets if isinstance(t, ast.Name)] == ["__all__"]:
            return ast.literal_eval(node.value)
    raise AssertionError("the stub declares no __all__")


def stub_public_names(tree):
    names = []
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            names.append(node.name)
        elif isinstance(node, ast.AnnAssign) and isinstance(node.target, ast.Name):
            names.append(node.target.id)
    return [n for n in names if not n.startswith("_") or n == "__version__"]


def test_stub_declares_exactly_the_public_names():
    tree = stub_tree()
    assert stub_all(tree) == EXPECTED_ALL
    assert sorted(stub_public_names(tree)) == sorted(EXPECTED_ALL)
    # Whatever the module registers so far is in the stub, in the same order.
    assert [n for n in stub_all(tree) if n in mivo.__all__] == mivo.__all__


def test_stub_matches_the_complete_module():
    missing = [n for n in EXPECTED_ALL if n not in mivo.__all__]
    if missing:
        pytest.skip("not registered yet: " + ", ".join(missing))
    assert stub_all(stub_tree()) == mivo.__all__


def stub_signatures(tree):
    """name -> [(parameter, default source or None)] for functions and classes."""
    out = {}
    for node in tree.body:
        if isinstance(node, ast.FunctionDef):
            fn = node
        elif isinstance(node, ast.ClassDef):
            init = [b for b in node.body if isinstance(b, ast.FunctionDef) and b.name in ("__init__", "__new__")]
            if not init:
                out[node.name] = None
                continue
            fn = init[0]
        else:
            continue
        args = fn.args
        assert not args.posonlyargs and not args.kwonlyargs and args.vararg is None and args.kwarg is None
        params = [a.arg for a in args.args]
        defaults = [None] * (len(params) - len(args.defaults)) + [ast.unparse(d) for d in args.defaults]
        pairs = list(zip(params, defaults))
        if isinstance(node, ast.ClassDef):
            pairs = pairs[1:]  # self or cls
        out[node.name] = pairs
    return out


@pytest.mark.parametrize("name", [n for n in EXPECTED_ALL if n != "__version__"])
def test_stub_signature_matches_runtime(name):
    if name not in mivo.__all__:
        pytest.skip("not registered yet")
    declared = stub_signatures(stub_tree())[name]
    obj = getattr(mivo, name)
    if declared is None:  # an enumeration class: no constructor
        assert obj.__text_signature__ is None
        return
    runtime = [
        (p.name, None if p.default is inspect.Parameter.empty else repr(p.default))
        for p in inspect.signature(obj).parameters.values()
    ]
    assert declared == runtime


def run(args, **env):
    full_env = dict(os.environ, **env)
    return subprocess.run(
        [sys.executable, *args], cwd=ROOT, env=full_env, capture_output=True, text=True, timeout=300
    )


@needs_mypy
def test_mypy_strict_on_stub_and_usage(tmp_path):
    result = run(
        ["-m", "mypy", "--strict", "--no-error-summary", "--cache-dir", str(tmp_path / "cache"), str(STUB), str(USAGE)],
        MYPYPATH=str(STUB.parent),
    )
    assert result.returncode == 0, result.stdout + result.stderr


@needs_mypy
def test_stubtest_against_the_built_module(tmp_path):
    # Names not registered yet are allowed to be missing at runtime; once the
    # module is complete the comparison is exact.
    missing = [n for n in EXPECTED_ALL if n not in mivo.__all__]
    allow = tmp_path / "allowlist.txt"
    allow.write_text("".join(f"mivo.{n}\n" for n in missing + (["__all__"] if missing else [])))
    module_dir = str(Path(mivo.__file__).resolve().parent)
    result = run(
        ["-m", "mypy.stubtest", "mivo", "--allowlist", str(allow), "--mypy-config-file", str(tmp_path / "none.ini")],
        MYPYPATH=str(STUB.parent),
        PYTHONPATH=os.pathsep.join([module_dir, os.environ.get("PYTHONPATH", "")]),
    )
    assert result.returncode == 0, result.stdout + result.stderr
