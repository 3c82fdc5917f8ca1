"""Checks outside the timing tables: deep input on a small stack, and the growth of resident
memory over long loops of accepted and of refused inputs."""

from __future__ import annotations

import gc
import os
import subprocess
import sys
import textwrap
import timeit

import norvik_auth
from workloads import READ_ALL_ATTRIBUTES, TYPICAL_USER


def stack_check(query: str, stack_kib: int) -> str:
    """Parse in a fresh process on a thread with a small stack: deep input must not recurse."""
    code = textwrap.dedent(f"""
        import sys, threading
        sys.path.insert(0, {os.path.dirname(os.path.abspath(norvik_auth.__file__))!r})
        import norvik_auth
        query = sys.stdin.read()
        threading.stack_size({stack_kib * 1024})
        out = []
        t = threading.Thread(target=lambda: out.append(norvik_auth.parse_webapp_data(query).user.id))
        t.start(); t.join()
        print(out[0] if out else "no result")
    """)
    done = subprocess.run([sys.executable, "-c", code], input=query, capture_output=True,
                          text=True, timeout=300)
    if done.returncode < 0:
        return f"crashed with signal {-done.returncode}"
    if done.returncode:
        return f"failed: {done.stderr.strip().splitlines()[-1] if done.stderr else done.returncode}"
    return "ok" if done.stdout.strip() == str(TYPICAL_USER["id"]) else f"wrong: {done.stdout!r}"


def resident_bytes() -> int:
    try:
        with open("/proc/self/statm") as f:
            return int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
    except OSError:
        # Without /proc only the peak is known (bytes on macOS); growth of the peak still shows a leak.
        import resource

        return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def memory_growth(query: str, key: list[int], calls: int, warmup: int) -> int:
    parse, validate = norvik_auth.parse_webapp_data, norvik_auth.validate_webapp_data
    ns = {"parse": parse, "validate": validate, "query": query, "key": key}
    body = "r = parse(query)\nvalidate(r, key)\n" + READ_ALL_ATTRIBUTES
    loop = timeit.Timer(body, globals=ns)
    loop.timeit(warmup)
    gc.collect()
    before = resident_bytes()
    loop.timeit(calls)
    gc.collect()
    return resident_bytes() - before


def failure_memory_growth(calls: int, warmup: int) -> int:
    """Error paths leak more often than happy ones: repeat each kind of rejected input."""
    bad = ["user=%7B%22id%22%3A1%7D&hash=h", "auth_date=12x&hash=h", "query_id=q",
           "chat=%5B1%2C%22x%22%5D&hash=h"]

    def loop(n: int) -> None:
        for i in range(n):
            try:
                norvik_auth.parse_webapp_data(bad[i & 3])
            except BaseException as e:  # the module's own exception derives from BaseException
                if isinstance(e, (KeyboardInterrupt, SystemExit)):
                    raise
        try:
            # A str key is refused: the rejection path of validation, on purpose.
            norvik_auth.validate_webapp_data(
                norvik_auth.parse_webapp_data("hash=h"), "text")  # type: ignore[arg-type]
        except TypeError:
            pass

    loop(warmup)
    gc.collect()
    before = resident_bytes()
    loop(calls)
    gc.collect()
    return resident_bytes() - before
