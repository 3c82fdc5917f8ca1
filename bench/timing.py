"""Timing in rotating rounds, and the plain-text tables the benchmark prints."""

from __future__ import annotations

import math
import statistics
import timeit
from dataclasses import dataclass, field
from typing import Any, Optional, Sequence

from workloads import Workload


@dataclass
class Side:
    stmt: str
    ns: dict[str, Any]

    def timer(self) -> timeit.Timer:
        return timeit.Timer(self.stmt, globals=self.ns)


@dataclass
class Row:
    operation: str
    workload: Optional[Workload]
    module: Side
    # One entry per recipe: its side, or None with a note saying why it is not timed.
    baselines: dict[str, Optional[Side]]
    notes: dict[str, str] = field(default_factory=dict)
    module_ns: float = math.nan
    baseline_ns: dict[str, float] = field(default_factory=dict)
    ratios: dict[str, float] = field(default_factory=dict)

    def ratio(self, recipe: str) -> float:
        return self.ratios.get(recipe, math.nan)


def calibrate(timer: timeit.Timer, seconds: float) -> int:
    """How many calls make one round of about `seconds`."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= seconds / 5 or number >= 1 << 24:
            return max(1, round(number * seconds / max(elapsed, 1e-9)))
        number *= 4 if elapsed < seconds / 50 else 2


def time_rounds(sides: Sequence[Side], rounds: int, seconds: float) -> list[list[float]]:
    """Nanoseconds per call of each side in each round; the side that goes first rotates."""
    timers = [s.timer() for s in sides]
    numbers = [calibrate(t, seconds) for t in timers]
    times: list[list[float]] = [[] for _ in sides]
    for r in range(rounds):
        for k in range(len(sides)):
            i = (r + k) % len(sides)
            times[i].append(timers[i].timeit(numbers[i]) / numbers[i] * 1e9)
    return times


def run_row(row: Row, rounds: int, seconds: float) -> None:
    timed = [(name, side) for name, side in row.baselines.items() if side is not None]
    times = time_rounds([row.module] + [side for _, side in timed], rounds, seconds)
    row.module_ns = statistics.median(times[0])
    for (name, _), base in zip(timed, times[1:]):
        row.baseline_ns[name] = statistics.median(base)
        row.ratios[name] = statistics.median(b / m for b, m in zip(base, times[0]))


def fmt_time(ns: float) -> str:
    if math.isnan(ns):
        return "-"
    if ns < 1e3:
        return f"{ns:.0f} ns"
    if ns < 1e6:
        return f"{ns / 1e3:.2f} µs"
    return f"{ns / 1e6:.2f} ms"


def fmt_size(n: int) -> str:
    return f"{n} B" if n < 10 * 1024 else f"{n / 1024:.0f} KiB"


def fmt_ratio(ratio: float) -> str:
    return "-" if math.isnan(ratio) else f"{ratio:.1f}x"


def print_columns(header: Sequence[str], cells: Sequence[Sequence[str]], left: int) -> None:
    """A plain-text table: the first `left` columns flush left, the rest flush right."""
    widths = [max(len(header[i]), *(len(c[i]) for c in cells)) for i in range(len(header))]

    def line(values: Sequence[str]) -> str:
        return "  ".join(v.ljust(widths[i]) if i < left else v.rjust(widths[i])
                         for i, v in enumerate(values)).rstrip()

    print(line(header))
    print("  ".join("-" * w for w in widths))
    for c in cells:
        print(line(c))
