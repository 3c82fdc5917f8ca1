"""explain on inputs of its largest accepted size: the time of a report and the memory it holds."""

from __future__ import annotations

import datetime
import statistics
import timeit
import tracemalloc
from typing import Callable, Optional

import norvik_auth
from workloads import BOT_TOKEN, signed_query

# The bound on explain's slowest input of its largest accepted size, in milliseconds.
EXPLAIN_BOUND_MS = 250


def explain_inputs(max_chars: int) -> dict[str, str]:
    """Texts of explain's largest accepted size, each of a shape that makes some step of it cost
    the most: many pairs to sort, escapes to decode or to show, JSON to try, reshaped names."""

    def fill(prefix: str, unit: str, suffix: str) -> str:
        return prefix + unit * ((max_chars - len(prefix) - len(suffix)) // len(unit)) + suffix

    def pairs(make: Callable[[int], str]) -> str:
        return "&".join(map(make, range(max_chars // 8)))[:max_chars - 8] + "&hash=00"

    depth = (max_chars - 6) // 2
    now = str(int(datetime.datetime.now().timestamp()))

    return {
        "many pairs": pairs(lambda i: f"n{i:05d}=v"),
        "reshaped names": pairs(lambda i: f"a{i}%3D=1"),
        "controls and bidi": fill("a=", "\x1b\u202e", "&hash=00"),
        "percent escapes": fill("a=", "%41", "&hash=00"),
        "percent-decoded JSON": fill('user={"id":1,"first_name":"', "a", '"}&hash=00'),
        "deep JSON object": '{"a":' + "[" * depth + "]" * depth + "}",
        "wide JSON object": "{" + pairs(lambda i: f'"k{i}":{i}').replace("&", ",")[:-8] + "}",
        "valid, signed": signed_query([("x", "y" * (max_chars - 200)), ("auth_date", now)],
                                      bytes(norvik_auth.get_secret_key(BOT_TOKEN))),
    }


def explain_cost(rounds: int) -> Optional[list[tuple[str, int, float, int]]]:
    """Per input of explain_inputs: its length, the median time of explain (ms) and the peak of
    Python's memory during one call (bytes, traced by tracemalloc, which slows that call)."""
    try:
        from norvik_auth_extras import explain
        from norvik_auth_extras._explain import MAX_CHARS
    except ImportError:
        return None
    results = []
    for name, text in explain_inputs(MAX_CHARS).items():
        assert len(text) <= MAX_CHARS, name
        times = []
        for _ in range(rounds):
            start = timeit.default_timer()
            explain(text, bot_token=BOT_TOKEN)
            times.append(timeit.default_timer() - start)
        tracemalloc.start()
        explain(text, bot_token=BOT_TOKEN)
        peak = tracemalloc.get_traced_memory()[1]
        tracemalloc.stop()
        results.append((name, len(text), statistics.median(times) * 1e3, peak))
    return results


def print_explain_cost(explained: Optional[list[tuple[str, int, float, int]]]) -> None:
    if explained is None:
        print("\nexplain: norvik_auth_extras is not installed, not timed")
        return
    print("\nexplain on its largest accepted inputs (median time; peak of Python memory, traced):")
    for name, size, ms, peak in explained:
        print(f"  {name:<22} {size:>6} chars {ms:8.1f} ms {peak / 2**20:8.2f} MiB")
