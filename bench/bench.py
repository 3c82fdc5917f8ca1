"""Benchmark of norvik_auth against pure-Python recipes doing the same job, in one run.

    python3 bench/bench.py            # full run: 11 rounds per row, stack check, 1M-call memory loop
    python3 bench/bench.py --quick    # under half a minute: proves that it runs and prints it all

Two recipes are compared with the module: reference.py (standard library only) and
reference_orjson.py (the same with orjson decoding the JSON members; left out, with a note, when
orjson is not installed). The sides of a row are timed in rotating rounds (each side goes first in
turn) and each reports the median time per call; a ratio is the median of the per-round ratios,
which is what to trust on a busy machine. Beyond the table: refusals against an accepted parse,
cost per byte from 0.5 KiB to 1 MiB, instructions per call under callgrind, allocations per call,
a small-stack check and resident-memory growth. Goals are printed as met or MISSED; the exit
status never depends on them. Each concern has a module of its own beside this one.
"""

from __future__ import annotations

import argparse
import datetime
import math
import os
import platform
import re
import ssl
import subprocess
import sys
from dataclasses import dataclass
from pathlib import Path
from typing import Optional, Sequence

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))

try:
    import norvik_auth
except ImportError as e:
    sys.exit(
        f"cannot import norvik_auth ({e}); build it and put it on PYTHONPATH, or install it "
        "into the running interpreter first"
    )

import reference_orjson  # noqa: E402
from allocations import print_allocations  # noqa: E402
from explain_cost import EXPLAIN_BOUND_MS, explain_cost, print_explain_cost  # noqa: E402
from instructions import EMPTY_REFUSAL_BOUND, count_instructions, print_counts  # noqa: E402
from memory import failure_memory_growth, memory_growth, stack_check  # noqa: E402
from per_byte import cost_per_byte, print_per_byte  # noqa: E402
from recipes import Recipe, available_recipes, baseline_note_for, check_agreement  # noqa: E402
from refusals import (REFUSED_PARSE_BOUND, VERIFY_SPEEDUP_BOUND, check_refused,  # noqa: E402
                      print_refusals, refusals, time_refusals)
from timing import Row, Side, fmt_ratio, fmt_size, fmt_time, print_columns, run_row  # noqa: E402
from verifier_cost import verifier_cost  # noqa: E402
from workloads import (BOT_TOKEN, READ_ALL_ATTRIBUTES, Workload, make_workloads,  # noqa: E402
                       nested_query, sized_workloads, typical_data_check_string)


def print_table(rows: list[Row], recipes: Sequence[Recipe]) -> None:
    header = ["operation", "workload", "input", "module"]
    for recipe in recipes:
        header += [recipe.name, "ratio"]
    cells = []
    for row in rows:
        w = row.workload
        cell = [row.operation, w.name if w else "-", fmt_size(w.size) if w else "-",
                fmt_time(row.module_ns)]
        for recipe in recipes:
            cell += [row.notes.get(recipe.name) or fmt_time(row.baseline_ns.get(recipe.name,
                                                                                 math.nan)),
                     fmt_ratio(row.ratio(recipe.name))]
        cells.append(cell)
    print_columns(header, cells, 2)


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith(("model name", "Model", "cpu model")):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def header_lines(mode: str) -> list[str]:
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return [
        f"{now} | {cpu_model()}, {os.cpu_count()} logical CPUs, {platform.machine()} | "
        f"{platform.python_implementation()} {platform.python_version()} | "
        f"the recipes' hashlib on {ssl.OPENSSL_VERSION}",
        f"norvik_auth from {norvik_auth.__file__}",
        mode,
    ]


@dataclass
class NativeCost:
    """What signature_cost printed, and its HMAC : blocks x per-block ratio."""
    output: str
    hmac_ratio: float


def native_signature_cost(program: Optional[Path], rounds: int) -> tuple[Optional[NativeCost], str]:
    """Runs bench/signature_cost.cpp's program on the typical data-check string; None and why
    not when there is no program or it fails."""
    if program is None:
        return None, "not run: no --signature-cost program given (make bench builds and passes it)"
    try:
        run = subprocess.run([str(program), "--rounds", str(rounds)],
                             input=typical_data_check_string().encode(), capture_output=True,
                             timeout=600, check=False)
    except OSError as e:
        return None, f"not run: {e}"
    output = run.stdout.decode()
    ratio = re.search(r"^goal: HMAC : blocks x chosen kernel's block\s+([0-9.]+)", output, re.M)
    if run.returncode != 0 or ratio is None:
        return None, f"failed (exit {run.returncode}): {run.stderr.decode().strip()[:200]}"
    return NativeCost(output, float(ratio.group(1))), ""


@dataclass
class Goal:
    name: str
    value: float
    op: str
    bound: float

    @property
    def met(self) -> bool:
        return self.value >= self.bound if self.op == ">=" else self.value <= self.bound


def main() -> None:
    ap = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="under half a minute: few short rounds")
    ap.add_argument("--rounds", type=int, help="rotating rounds per row (default 11, quick 5)")
    ap.add_argument("--round-seconds", type=float,
                    help="time per side per round (default 0.15, quick 0.02)")
    ap.add_argument("--memory-calls", type=int,
                    help="parse+validate+read calls of the memory loop "
                         "(default 1000000, quick 20000)")
    ap.add_argument("--alloc-calls", type=int,
                    help="calls per operation when counting allocations "
                         "(default 20000, quick 2000)")
    ap.add_argument("--no-memory", action="store_true", help="skip the memory loop")
    ap.add_argument("--signature-cost", type=Path,
                    help="the program built from bench/signature_cost.cpp: SHA-256 per block for "
                         "each kernel, HMAC of the typical data-check string, the compare")
    args = ap.parse_args()
    rounds = args.rounds or (5 if args.quick else 11)
    seconds = args.round_seconds or (0.02 if args.quick else 0.15)
    memory_calls = args.memory_calls or (20_000 if args.quick else 1_000_000)
    alloc_calls = args.alloc_calls or (2_000 if args.quick else 20_000)

    recipes = available_recipes()
    mode = (f"{'quick' if args.quick else 'full'} run: {rounds} rounds of ~{seconds * 1e3:.0f} ms "
            f"per side; recipes: {', '.join(r.name for r in recipes)}")
    print("\n".join(header_lines(mode)))
    if reference_orjson.AVAILABLE:
        print(f"orjson {reference_orjson.VERSION}")
    else:
        print(f"note: no orjson columns: {reference_orjson.MISSING}")

    key = norvik_auth.get_secret_key(BOT_TOKEN)
    nested_levels = 100_000
    workloads = make_workloads(bytes(key), nested_levels)
    sized = sized_workloads(bytes(key))
    check_agreement(list(workloads.values()) + sized, recipes)
    print("agreement: the module and every recipe give the same fields and verdicts on every "
          "workload\n")

    def module_side(stmt: str, w: Optional[Workload]) -> Side:
        return Side(stmt, {"parse": norvik_auth.parse_webapp_data,
                           "validate": norvik_auth.validate_webapp_data,
                           "get_secret_key": norvik_auth.get_secret_key,
                           "token": BOT_TOKEN, "key": key,
                           "query": w.query if w else None,
                           "r": norvik_auth.parse_webapp_data(w.query) if w else None})

    def recipe_side(recipe: Recipe, stmt: str, w: Optional[Workload]) -> Side:
        return Side(stmt, {"parse": recipe.parse,
                           "validate": recipe.validate,
                           "get_secret_key": recipe.get_secret_key,
                           "token": BOT_TOKEN, "key": list(key),
                           "query": w.query if w else None,
                           "r": recipe.parse(w.query) if w else None})

    def row(operation: str, stmt: str, w: Optional[Workload]) -> Row:
        if w is not None and not w.with_reference:
            return Row(operation, w, module_side(stmt, w), {r.name: None for r in recipes},
                       {r.name: baseline_note_for(w, r) for r in recipes})
        return Row(operation, w, module_side(stmt, w),
                   {r.name: recipe_side(r, stmt, w) for r in recipes})

    typical, minimal, large, nested = (workloads[k] for k in ("typical", "minimal", "large",
                                                             "nested"))
    rows = [row("get_secret_key", "get_secret_key(token)", None)]
    for w in (typical, minimal, large, nested):
        rows.append(row("parse_webapp_data", "parse(query)", w))
    for w in (typical, minimal, large):
        rows.append(row("validate_webapp_data", "validate(r, key)", w))
    for w in (typical, minimal, large):
        rows.append(row("parse + validate", "validate(parse(query), key)", w))
    rows.append(row("read all attributes", READ_ALL_ATTRIBUTES, typical))

    for r in rows:
        run_row(r, rounds, seconds)
    print_table(rows, recipes)
    print("\ntimes are medians per call; ratio = recipe time / module time, median of the "
          "per-round ratios")
    for recipe in recipes:
        note = baseline_note_for(nested, recipe)
        if note != "not timed":
            try:
                recipe.parse(nested.query)
            except BaseException as e:  # only to show the message of the error noted above
                print(f"nested, {recipe.name}: {type(e).__name__}: {str(e)[:100]}")

    print("\ncost per byte of parse_webapp_data (typical members plus unknown ones):")
    # At least 50 ms a round: a 1 MiB parse takes milliseconds, and a round needs several.
    per_byte = cost_per_byte(sized, rounds, max(seconds, 0.05))
    print_per_byte(per_byte)
    small_nested = Workload("nested-10k", nested_query(nested_levels // 10, bytes(key)), False)
    nested_row = next(n for n in rows if n.workload is nested)
    small_row = Row("parse_webapp_data", small_nested, module_side("parse(query)", small_nested),
                    {})
    run_row(small_row, rounds, seconds)
    print(f"nested arrays, per byte: 10k levels {small_row.module_ns / small_nested.size:.2f} ns, "
          f"100k levels {nested_row.module_ns / nested.size:.2f} ns")
    stack = stack_check(nested.query, 256)
    print(f"nested 100k levels parsed on a thread with a 256 KiB stack: {stack}")

    # A ratio near 1 needs more and longer rounds than the quick run's, even then.
    cost = verifier_cost(max(rounds, 15), max(seconds, 0.05))
    if cost is None:
        print("\nVerifier.verify: norvik_auth_extras is not installed, not timed")
    else:
        print("\nVerifier.verify (defaults, age checked) against parse + validate, typical input "
              "signed now:")
        print(f"  Verifier.verify(query)          {fmt_time(cost.verify_ns):>10}")
        print(f"  validate(parse(query), key)     {fmt_time(cost.parse_validate_ns):>10}")
        print(f"  ratio verify : parse + validate {cost.ratio:9.3f}x")
        print(f"  validate, key as bytes : list   {cost.bytes_key_ratio:9.3f}x")

    explained = explain_cost(max(rounds, 5))
    print_explain_cost(explained)

    print("\nrefusals: the typical input spoilt one way at a time, refused, against its accepted "
          "parse and the stdlib recipe:")
    refused = refusals(bytes(key))
    check_refused(refused, key)
    refusal_table = time_refusals(typical.query, refused, key, rounds, seconds)
    print_refusals(refusal_table, typical.size)

    print("\nthe signature in C++ (bench/signature_cost.cpp), the typical data-check string "
          f"({len(typical_data_check_string().encode())} B):")
    native, why_no_native = native_signature_cost(args.signature_cost, rounds)
    print(native.output.rstrip() if native is not None else f"  {why_no_native}")

    print("\ninstructions per call under callgrind:")
    counted_inputs = [("parse, accepted: typical", typical.query),
                      ("parse, refused: empty", "")]
    if not args.quick:
        counted_inputs += [(f"parse, refused: {r.name}", r.query) for r in refused
                           if r.operation == "parse" and r.query]
    counts, why_not = count_instructions(counted_inputs)
    print_counts(counts, why_not)

    print(f"\nallocations per call, typical input ({typical.size} B):")
    print_allocations(typical.query, key, alloc_calls)

    growth = failures_growth = None
    if not args.no_memory:
        warmup = max(10_000, memory_calls // 10)
        growth = memory_growth(typical.query, key, memory_calls, warmup)
        failures_growth = failure_memory_growth(max(10_000, memory_calls // 10), warmup // 2)
        print(f"\nresident memory growth after {memory_calls} parse+validate+read-all calls "
              f"(after {warmup} warm-up calls): {growth / 1024:.0f} KiB")
        print(f"resident memory growth after {max(10_000, memory_calls // 10)} rejected inputs: "
              f"{failures_growth / 1024:.0f} KiB")

    by_key = {(r.operation, r.workload.name if r.workload else None): r for r in rows}
    goals = [
        Goal("parse_webapp_data, typical",
             by_key[("parse_webapp_data", "typical")].ratio("stdlib"), ">=", 45),
        Goal("validate_webapp_data, typical",
             by_key[("validate_webapp_data", "typical")].ratio("stdlib"), ">=", 5.5),
        Goal("get_secret_key", by_key[("get_secret_key", None)].ratio("stdlib"), ">=", 7),
        Goal("parse + validate, typical",
             by_key[("parse + validate", "typical")].ratio("stdlib"), ">=", 25),
        Goal(f"parse per byte, {sized[-1].name} : {sized[1].name}", per_byte.growth, "<=", 1.6),
    ]
    if cost is not None:
        goals.append(Goal("Verifier.verify : parse + validate", cost.ratio, "<=", 1.3))
    if native is not None:
        goals.append(Goal("HMAC : its blocks x the chosen kernel's per block (C++)",
                          native.hmac_ratio, "<=", 1.15))
    if explained is not None:
        goals.append(Goal("explain, slowest 64 KiB input (ms)", max(e[2] for e in explained),
                          "<=", EXPLAIN_BOUND_MS))
    parse_refusals = [times for times in refusal_table.rows if times.refusal.operation == "parse"]
    worst = max(parse_refusals, key=lambda times: times.to_accepted)
    goals.append(Goal(f"refused : accepted parse, worst ({worst.refusal.name})",
                      worst.to_accepted, "<=", REFUSED_PARSE_BOUND))
    for times in refusal_table.rows:
        if times.refusal.speedup_goal:
            goals.append(Goal(f"stdlib : verify, {times.refusal.name}",
                              times.speedup, ">=", VERIFY_SPEEDUP_BOUND))
    empty_count = counts[1].instructions
    if empty_count is not None:
        goals.append(Goal("instructions per refused parse of ''", empty_count, "<=",
                          EMPTY_REFUSAL_BOUND))
    print("\ngoals (ratios against the stdlib recipe where no two sides are named; reported only, "
          "the exit status never depends on them):")
    for g in goals:
        print(f"  {g.name:<56} {g.value:8.2f}  {g.op} {g.bound:<6g} "
              f"{'met' if g.met else 'MISSED'}")
    print(f"  {'nested 100k on a 256 KiB stack':<56} {stack:>8}  {'':<9} "
          f"{'met' if stack == 'ok' else 'MISSED'}")
    if growth is not None:
        label = f"RSS growth, {memory_calls} calls (KiB)"
        met = growth < 1024 * 1024
        print(f"  {label:<56} {growth / 1024:8.0f}  <  1024   {'met' if met else 'MISSED'}")
        if args.quick:
            print("  (quick mode: the memory loop is too short to judge the 1 MiB target)")


if __name__ == "__main__":
    main()
