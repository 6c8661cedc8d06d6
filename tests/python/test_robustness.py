"""Many failing and succeeding calls: memory stays flat, nothing crashes."""
import gc
import os

import pytest

import mivo

from .test_frame import VALID_ARGS


def rss_bytes():
    with open(f"/proc/{os.getpid()}/statm") as f:
        return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def bad_calls():
    """Calls that fail in binding or conversion, for every function."""
    calls = []
    for name, kwargs in VALID_ARGS.items():
        fn = getattr(mivo, name)
        values = list(kwargs.values())
        calls.append(lambda fn=fn: fn())
        calls.append(lambda fn=fn, v=values: fn(*v, *v))
        calls.append(lambda fn=fn, v=values: fn(*v, no_such_parameter=1))
        calls.append(lambda fn=fn, v=values: fn(object(), *v[1:]))
        if len(values) > 1:
            calls.append(lambda fn=fn, v=values: fn(*v[:-1], [object()]))
    return calls


def good_calls():
    return [lambda fn=getattr(mivo, name), kw=kwargs: fn(**kw) for name, kwargs in VALID_ARGS.items()]


def run(calls, total):
    for i in range(total):
        try:
            calls[i % len(calls)]()
        except (TypeError, ValueError, OverflowError, RuntimeError, UnicodeEncodeError):
            pass


@pytest.mark.skipif(bool(os.environ.get("MIVO_SANITIZER")), reason="the sanitizer's quarantine holds freed memory")
@pytest.mark.parametrize("kind", ["failing", "successful"])
def test_memory_stays_flat(kind):
    calls = bad_calls() if kind == "failing" else good_calls()
    run(calls, 20_000)  # warm up caches and allocator pools
    gc.collect()
    before = rss_bytes()
    run(calls, 100_000)
    gc.collect()
    grown = rss_bytes() - before
    # A leak of one small object per call would add several megabytes.
    assert grown < 2 * 1024 * 1024, f"RSS grew by {grown} bytes over 100,000 {kind} calls"


def test_failing_calls_all_raise():
    for call in bad_calls():
        with pytest.raises((TypeError, ValueError, OverflowError)):
            call()
