#!/usr/bin/env python3
"""Prints the Python requirements of one or more groups, one per line, read
from pyproject.toml (the one list of them):

- build: [build-system] requires, and Ninja in the version that
  [tool.scikit-build] asks for;
- cmake: CMake in the version that [tool.scikit-build] asks for (the build
  of the module can take a system CMake instead; the test builds run the one
  in .venv);
- any other name: that extra of [project.optional-dependencies].

    python scripts/requirements.py build test examples
"""

from __future__ import annotations

import pathlib
import sys

try:
    import tomllib
except ImportError:  # Python < 3.11: scripts/setup.sh installs tomli first
    import tomli as tomllib  # type: ignore[no-redef]

PYPROJECT = pathlib.Path(__file__).resolve().parents[1] / "pyproject.toml"


def requirements(groups: list[str], pyproject: dict) -> list[str]:
    extras = pyproject["project"].get("optional-dependencies", {})
    out: list[str] = []
    for group in groups:
        skbuild = pyproject.get("tool", {}).get("scikit-build", {})
        if group == "build":
            out += pyproject["build-system"]["requires"]
            out.append("ninja" + skbuild.get("ninja", {}).get("version", ""))
        elif group == "cmake":
            out.append("cmake" + skbuild.get("cmake", {}).get("version", ""))
        elif group in extras:
            out += extras[group]
        else:
            known = ", ".join(["build", "cmake", *extras])
            raise SystemExit(f"requirements.py: no group {group!r} in pyproject.toml (groups: {known})")
    return list(dict.fromkeys(out))


def main() -> int:
    with PYPROJECT.open("rb") as f:
        pyproject = tomllib.load(f)
    print("\n".join(requirements(sys.argv[1:], pyproject)))
    return 0


if __name__ == "__main__":
    sys.exit(main())
