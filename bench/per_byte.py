"""Parse cost per byte from 0.5 KiB to 1 MiB: parsing must stay linear."""

from __future__ import annotations

import statistics
from dataclasses import dataclass

import norvik_auth
from timing import Side, fmt_size, fmt_time, print_columns, time_rounds
from workloads import Workload


@dataclass
class PerByte:
    workloads: list[Workload]
    ns_per_byte: list[float]
    # Median over rounds of (ns/byte at the largest size) / (ns/byte at the second size).
    growth: float


def cost_per_byte(workloads: list[Workload], rounds: int, seconds: float) -> PerByte:
    sides = [Side("parse(query)", {"parse": norvik_auth.parse_webapp_data, "query": w.query})
             for w in workloads]
    times = time_rounds(sides, rounds, seconds)
    per_byte = [[t / w.size for t in ts] for w, ts in zip(workloads, times)]
    growth = statistics.median(big / small for big, small in zip(per_byte[-1], per_byte[1]))
    return PerByte(workloads, [statistics.median(p) for p in per_byte], growth)


def print_per_byte(pb: PerByte) -> None:
    print_columns(
        ("parse_webapp_data", "input", "per call", "per byte"),
        [(w.name, fmt_size(w.size), fmt_time(ns * w.size), f"{ns:.2f} ns")
         for w, ns in zip(pb.workloads, pb.ns_per_byte)],
        1,
    )
    print(f"per byte, {pb.workloads[-1].name} : {pb.workloads[1].name} = {pb.growth:.2f} "
          "(median of the per-round ratios)")
