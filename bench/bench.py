"""Benchmark of norvik_auth against a pure-Python baseline doing the same job, in one run.

    python3 bench/bench.py            # full run: 11 rounds per row, stack check, 1M-call memory loop
    python3 bench/bench.py --quick    # a few seconds: proves that it runs and prints its table

Both sides of a row are timed in alternating rounds (module first in even rounds, baseline first in
odd ones) and each side reports the median time per call; the ratio is the median of the per-round
ratios, which is what to trust on a busy machine. Targets are printed as met or missed; the exit
status never depends on them.
"""

from __future__ import annotations

import argparse
import gc
import hashlib
import hmac
import math
import os
import platform
import statistics
import subprocess
import sys
import textwrap
import timeit
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Optional, Sequence
from urllib.parse import quote, urlencode

sys.path.insert(0, str(Path(__file__).resolve().parent))
import reference  # noqa: E402

try:
    import norvik_auth
except ImportError as e:
    sys.exit(
        f"cannot import norvik_auth ({e}); build it and put it on PYTHONPATH, or install it "
        "into the running interpreter first"
    )

BOT_TOKEN = "7350184422:AAEu3h9-kx5Fq0WcLzPpT2mVbN8sYdRjQ4o"
OTHER_BOT_TOKEN = "1122334455:AAGa0Zt7Uy6Xw5Vv4Ss3Rr2Qq1Pp0Oo9Nn8"

INIT_ATTRS = (
    "query_id", "user", "receiver", "chat", "chat_type", "chat_instance",
    "start_param", "can_send_after", "auth_date", "hash",
)
USER_ATTRS = (
    "id", "is_bot", "first_name", "last_name", "username", "language_code",
    "is_premium", "added_to_attachment_menu", "allows_write_to_pm", "photo_url",
)
CHAT_ATTRS = ("id", "type", "title", "username", "photo_url")

# Every attribute of the record and of its user, as application code would read them.
READ_ALL_ATTRIBUTES = "\n".join(
    [f"r.{a}" for a in INIT_ATTRS if a != "user"]
    + ["u = r.user"]
    + [f"u.{a}" for a in USER_ATTRS]
)


# ---------------------------------------------------------------------------------------------
# Workloads


def sign(pairs: list[tuple[str, str]], secret_key: bytes) -> str:
    """The hash the platform would send: computed straight from the pairs, not by either parser."""
    lines = sorted(f"{name}={value}" for name, value in pairs if name != "hash" and value)
    return hmac.new(secret_key, "\n".join(lines).encode(), hashlib.sha256).hexdigest()


def signed_query(pairs: list[tuple[str, str]], secret_key: bytes) -> str:
    return urlencode(pairs + [("hash", sign(pairs, secret_key))])


TYPICAL_USER = {
    "id": 5120493871,
    "first_name": "Margarethe",
    "last_name": "Lindqvist-Øberg",
    "username": "m_lindqvist",
    "language_code": "sv",
    "is_premium": True,
    "allows_write_to_pm": True,
    "photo_url": "https://cdn.example.org/userpic/320/Qm9uZXMgYW5kIHN0b25l.jpg",
}


def typical_pairs() -> list[tuple[str, str]]:
    return [
        ("query_id", "AAHdF6IQAAAAAN0XohDhrOrc"),
        ("user", json_text(TYPICAL_USER)),
        ("auth_date", "1716922846"),
        ("chat_instance", "-3788475317572404878"),
        ("chat_type", "private"),
        ("start_param", "spring_campaign_2024"),
    ]


def json_text(obj: dict[str, Any]) -> str:
    import json

    return json.dumps(obj, ensure_ascii=False, separators=(",", ":"))


def large_pairs(extra_bytes: int) -> list[tuple[str, str]]:
    """Typical pairs plus unknown members worth extra_bytes of query string, some with escapes."""
    pairs = typical_pairs()
    size = 0
    i = 0
    while size < extra_bytes:
        value = f"item {i} of the order/line: qty={i % 7 + 1}; note=ä&ö; ref#{i * 7919 % 100000:05d}"
        name = f"extra_{i:05d}"
        size += len(urlencode([(name, value)])) + 1
        pairs.append((name, value))
        i += 1
    return pairs


def nested_query(levels: int, secret_key: bytes) -> str:
    """A typical query whose user carries an unknown member nested `levels` arrays deep."""
    user = json_text(TYPICAL_USER)
    user = user[:-1] + ',"layout":' + "[" * levels + "]" * levels + "}"
    pairs = typical_pairs()
    pairs[1] = ("user", user)
    # Brackets stay raw, as a browser would send them; everything else is escaped as usual.
    return urlencode(pairs + [("hash", sign(pairs, secret_key))], safe="[]", quote_via=quote)


@dataclass
class Workload:
    name: str
    query: str
    with_reference: bool = True

    @property
    def size(self) -> int:
        return len(self.query.encode())


def make_workloads(secret_key: bytes, nested_levels: int) -> dict[str, Workload]:
    return {
        "typical": Workload("typical", signed_query(typical_pairs(), secret_key)),
        "minimal": Workload("minimal", signed_query([], secret_key)),
        "large": Workload("large", signed_query(large_pairs(64 * 1024), secret_key)),
        "nested": Workload("nested", nested_query(nested_levels, secret_key), with_reference=False),
    }


# ---------------------------------------------------------------------------------------------
# Agreement: both sides must do the same job before their times mean anything


def same_record(module_record: Any, reference_record: Any) -> list[str]:
    diffs = []
    for a in INIT_ATTRS:
        mine, theirs = getattr(module_record, a), getattr(reference_record, a)
        if a in ("user", "receiver", "chat"):
            if (mine is None) != (theirs is None):
                diffs.append(f"{a}: {mine!r} vs {theirs!r}")
            elif mine is not None:
                for b in CHAT_ATTRS if a == "chat" else USER_ATTRS:
                    if getattr(mine, b) != getattr(theirs, b):
                        diffs.append(f"{a}.{b}: {getattr(mine, b)!r} vs {getattr(theirs, b)!r}")
        elif mine != theirs or type(mine) is not type(theirs):
            diffs.append(f"{a}: {mine!r} vs {theirs!r}")
    return diffs


def check_agreement(workloads: dict[str, Workload]) -> None:
    key = norvik_auth.get_secret_key(BOT_TOKEN)
    other_key = norvik_auth.get_secret_key(OTHER_BOT_TOKEN)
    problems = []
    if key != reference.get_secret_key(BOT_TOKEN):
        problems.append("get_secret_key: the two keys differ")
    for w in workloads.values():
        record = norvik_auth.parse_webapp_data(w.query)
        if norvik_auth.validate_webapp_data(record, key) is not True:
            problems.append(f"{w.name}: the module rejects a correct signature")
        if norvik_auth.validate_webapp_data(record, other_key) is not False:
            problems.append(f"{w.name}: the module accepts another bot's key")
        if not w.with_reference:
            if (record.user is None or record.user.id != TYPICAL_USER["id"]
                    or record.auth_date != 1716922846):
                problems.append(f"{w.name}: fields decoded wrongly")
            continue
        theirs = reference.parse_init_data(w.query)
        problems += [f"{w.name}: {d}" for d in same_record(record, theirs)]
        if reference.validate_init_data(theirs, key) is not True:
            problems.append(f"{w.name}: the baseline rejects a correct signature")
        if reference.validate_init_data(theirs, other_key) is not False:
            problems.append(f"{w.name}: the baseline accepts another bot's key")
    if problems:
        sys.exit("module and baseline disagree:\n  " + "\n  ".join(problems))


# ---------------------------------------------------------------------------------------------
# Timing


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
    baseline: Optional[Side]
    baseline_note: str = ""
    module_ns: float = math.nan
    baseline_ns: float = math.nan
    ratio: float = math.nan
    module_rounds: list[float] = field(default_factory=list)


def calibrate(timer: timeit.Timer, seconds: float) -> int:
    """How many calls make one round of about `seconds`."""
    number = 1
    while True:
        elapsed = timer.timeit(number)
        if elapsed >= seconds / 5 or number >= 1 << 24:
            return max(1, round(number * seconds / max(elapsed, 1e-9)))
        number *= 4 if elapsed < seconds / 50 else 2


def run_row(row: Row, rounds: int, seconds: float) -> None:
    mod_timer = row.module.timer()
    mod_n = calibrate(mod_timer, seconds)
    base_timer = row.baseline.timer() if row.baseline else None
    base_n = calibrate(base_timer, seconds) if base_timer else 0
    mod_times, base_times, ratios = [], [], []
    for r in range(rounds):
        order = [("m", mod_timer, mod_n), ("b", base_timer, base_n)]
        if r % 2:
            order.reverse()
        measured = {}
        for side, timer, n in order:
            if timer is not None:
                measured[side] = timer.timeit(n) / n * 1e9
        mod_times.append(measured["m"])
        if "b" in measured:
            base_times.append(measured["b"])
            ratios.append(measured["b"] / measured["m"])
    row.module_rounds = mod_times
    row.module_ns = statistics.median(mod_times)
    if base_times:
        row.baseline_ns = statistics.median(base_times)
        row.ratio = statistics.median(ratios)


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


def print_table(rows: list[Row]) -> None:
    header = ("operation", "workload", "input", "module", "baseline", "ratio")
    cells = []
    for row in rows:
        w = row.workload
        cells.append((
            row.operation,
            w.name if w else "-",
            fmt_size(w.size) if w else "-",
            fmt_time(row.module_ns),
            row.baseline_note or fmt_time(row.baseline_ns),
            "-" if math.isnan(row.ratio) else f"{row.ratio:.1f}x",
        ))
    widths = [max(len(header[i]), *(len(c[i]) for c in cells)) for i in range(len(header))]
    right = {2, 3, 4, 5}

    def line(values: Sequence[str]) -> str:
        return "  ".join(v.rjust(widths[i]) if i in right else v.ljust(widths[i])
                         for i, v in enumerate(values))

    print(line(header))
    print("  ".join("-" * w for w in widths))
    for c in cells:
        print(line(c))


# ---------------------------------------------------------------------------------------------
# Checks outside the table


def baseline_note_for(w: Workload) -> str:
    try:
        reference.parse_init_data(w.query)
    except RecursionError:
        return "RecursionError"
    except Exception as e:  # a baseline failure is a finding, not a crash of the benchmark
        return type(e).__name__
    return "not timed"


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


# ---------------------------------------------------------------------------------------------


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--quick", action="store_true", help="a few seconds in all: few short rounds")
    ap.add_argument("--rounds", type=int, help="alternating rounds per row (default 11, quick 3)")
    ap.add_argument("--round-seconds", type=float, help="time per side per round (default 0.15)")
    ap.add_argument("--memory-calls", type=int,
                    help="parse+validate+read calls of the memory loop (default 1000000, quick 20000)")
    ap.add_argument("--no-memory", action="store_true", help="skip the memory loop")
    args = ap.parse_args()
    rounds = args.rounds or (3 if args.quick else 11)
    seconds = args.round_seconds or (0.01 if args.quick else 0.15)
    memory_calls = args.memory_calls or (20_000 if args.quick else 1_000_000)

    print(f"norvik_auth from {norvik_auth.__file__}")
    print(f"Python {platform.python_version()} on {platform.machine()}, {os.cpu_count()} CPUs; "
          f"{'quick' if args.quick else 'full'} run: {rounds} rounds of ~{seconds * 1e3:.0f} ms "
          "per side")

    key = norvik_auth.get_secret_key(BOT_TOKEN)
    nested_levels = 100_000
    workloads = make_workloads(bytes(key), nested_levels)
    check_agreement(workloads)
    print("agreement: module and baseline give the same fields and verdicts on every workload\n")

    def module_side(stmt: str, w: Optional[Workload]) -> Side:
        return Side(stmt, {"parse": norvik_auth.parse_webapp_data,
                           "validate": norvik_auth.validate_webapp_data,
                           "get_secret_key": norvik_auth.get_secret_key,
                           "token": BOT_TOKEN, "key": key,
                           "query": w.query if w else None,
                           "r": norvik_auth.parse_webapp_data(w.query) if w else None})

    def baseline_side(stmt: str, w: Optional[Workload]) -> Side:
        return Side(stmt, {"parse": reference.parse_init_data,
                           "validate": reference.validate_init_data,
                           "get_secret_key": reference.get_secret_key,
                           "token": BOT_TOKEN, "key": list(key),
                           "query": w.query if w else None,
                           "r": reference.parse_init_data(w.query) if w else None})

    def pair(operation: str, stmt: str, w: Optional[Workload]) -> Row:
        return Row(operation, w, module_side(stmt, w), baseline_side(stmt, w))

    typical, minimal, large, nested = (workloads[k] for k in ("typical", "minimal", "large",
                                                             "nested"))
    rows = [pair("get_secret_key", "get_secret_key(token)", None)]
    for w in (typical, minimal, large):
        rows.append(pair("parse_webapp_data", "parse(query)", w))
    rows.append(Row("parse_webapp_data", nested, module_side("parse(query)", nested), None,
                    baseline_note_for(nested)))
    for w in (typical, minimal, large):
        rows.append(pair("validate_webapp_data", "validate(r, key)", w))
    for w in (typical, minimal, large):
        rows.append(pair("parse + validate", "validate(parse(query), key)", w))
    rows.append(pair("read all attributes", READ_ALL_ATTRIBUTES, typical))

    for row in rows:
        run_row(row, rounds, seconds)
    print_table(rows)
    print("\ntimes are medians per call; ratio = baseline time / module time, median of the "
          "per-round ratios")

    # Growth of cost with input size: time per byte of big inputs against the typical one.
    def ns_per_byte(row: Row) -> float:
        assert row.workload is not None
        return row.module_ns / row.workload.size

    parse_rows = {r.workload.name: r for r in rows
                  if r.operation == "parse_webapp_data" and r.workload is not None}
    small_nested = Workload("nested-10k", nested_query(nested_levels // 10, bytes(key)), False)
    small_row = Row("parse_webapp_data", small_nested, module_side("parse(query)", small_nested),
                    None)
    run_row(small_row, rounds, seconds)
    large_growth = ns_per_byte(parse_rows["large"]) / ns_per_byte(parse_rows["typical"])
    nested_growth = ns_per_byte(parse_rows["nested"]) / ns_per_byte(small_row)
    print("\nparse time per byte:"
          f" typical {ns_per_byte(parse_rows['typical']):.2f} ns,"
          f" large {ns_per_byte(parse_rows['large']):.2f} ns,"
          f" nested 10k levels {ns_per_byte(small_row):.2f} ns,"
          f" nested 100k levels {ns_per_byte(parse_rows['nested']):.2f} ns")
    stack = stack_check(nested.query, 256)
    print(f"nested 100k levels parsed on a thread with a 256 KiB stack: {stack}")

    growth = failures_growth = None
    if not args.no_memory:
        warmup = max(10_000, memory_calls // 10)
        growth = memory_growth(typical.query, key, memory_calls, warmup)
        failures_growth = failure_memory_growth(max(10_000, memory_calls // 10), warmup // 2)
        print(f"resident memory growth after {memory_calls} parse+validate+read-all calls "
              f"(after {warmup} warm-up calls): {growth / 1024:.0f} KiB")
        print(f"resident memory growth after {max(10_000, memory_calls // 10)} rejected inputs: "
              f"{failures_growth / 1024:.0f} KiB")

    by_key = {(r.operation, r.workload.name if r.workload else None): r for r in rows}
    targets = [
        ("parse_webapp_data, typical", by_key[("parse_webapp_data", "typical")].ratio, ">=", 25),
        ("validate_webapp_data, typical", by_key[("validate_webapp_data", "typical")].ratio,
         ">=", 3),
        ("get_secret_key", by_key[("get_secret_key", None)].ratio, ">=", 3),
        ("parse + validate, typical", by_key[("parse + validate", "typical")].ratio, ">=", 15),
        ("parse time/byte, large : typical", large_growth, "<=", 1.5),
        ("parse time/byte, nested 100k : 10k", nested_growth, "<=", 1.5),
    ]
    print("\ntargets (reported only; the exit status never depends on them):")
    for name, value, op, bound in targets:
        met = value >= bound if op == ">=" else value <= bound
        print(f"  {name:<36} {value:7.2f}  {op} {bound:<5} {'met' if met else 'MISSED'}")
    print(f"  {'nested 100k on a 256 KiB stack':<36} {stack:>7}  {'met' if stack == 'ok' else 'MISSED'}")
    if growth is not None:
        label = f"RSS growth, {memory_calls} calls (KiB)"
        met = growth < 1024 * 1024
        print(f"  {label:<36} {growth / 1024:7.0f}  <  1024  {'met' if met else 'MISSED'}")
        if args.quick:
            print("  (quick mode: the memory loop is too short to judge the 1 MiB target)")


if __name__ == "__main__":
    main()
