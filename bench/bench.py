"""Benchmark of norvik_auth against pure-Python recipes doing the same job, in one run.

    python3 bench/bench.py            # full run: 11 rounds per row, stack check, 1M-call memory loop
    python3 bench/bench.py --quick    # under half a minute: proves that it runs and prints it all

Two recipes are compared with the module: reference.py (standard library only) and
reference_orjson.py (the same with orjson decoding the JSON members; left out, with a note, when
orjson is not installed). The sides of a row are timed in rotating rounds (each side goes first in
turn) and each reports the median time per call; a ratio is the median of the per-round ratios,
which is what to trust on a busy machine. Beyond the table: cost per byte from 0.5 KiB to 1 MiB,
allocations per call, a small-stack check and resident-memory growth. Goals are printed as met or
MISSED; the exit status never depends on them.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import hashlib
import hmac
import json
import math
import os
import platform
import shutil
import ssl
import statistics
import subprocess
import sys
import tempfile
import textwrap
import timeit
import tracemalloc
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Optional, Sequence
from urllib.parse import quote, urlencode

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))
import reference  # noqa: E402
import reference_orjson  # noqa: E402

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


# Input sizes of the cost-per-byte section; the goal compares the last with the second.
PER_BYTE_KIB = (0.5, 4, 64, 1024)


def sized_workloads(secret_key: bytes) -> list[Workload]:
    """Typical members plus unknown ones up to about each size (0.5 KiB is the typical input)."""
    base = len(signed_query(typical_pairs(), secret_key).encode())
    return [Workload(f"{kib:g} KiB", signed_query(large_pairs(round(kib * 1024) - base), secret_key))
            for kib in PER_BYTE_KIB]


# ---------------------------------------------------------------------------------------------
# Recipes: the pure-Python ways of doing the same job


@dataclass(frozen=True)
class Recipe:
    name: str
    parse: Callable[[str], Any]
    validate: Callable[[Any, list[int]], bool]
    get_secret_key: Callable[[str], list[int]]


def available_recipes() -> list[Recipe]:
    recipes = [Recipe("stdlib", reference.parse_init_data, reference.validate_init_data,
                      reference.get_secret_key)]
    if reference_orjson.AVAILABLE:
        recipes.append(Recipe("orjson", reference_orjson.parse_init_data,
                              reference_orjson.validate_init_data,
                              reference_orjson.get_secret_key))
    return recipes


# ---------------------------------------------------------------------------------------------
# Agreement: every side must do the same job before their times mean anything


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


def check_agreement(workloads: Sequence[Workload], recipes: Sequence[Recipe]) -> None:
    key = norvik_auth.get_secret_key(BOT_TOKEN)
    other_key = norvik_auth.get_secret_key(OTHER_BOT_TOKEN)
    problems = []
    for recipe in recipes:
        if key != recipe.get_secret_key(BOT_TOKEN):
            problems.append(f"get_secret_key: the module's and {recipe.name}'s keys differ")
    for w in workloads:
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
        for recipe in recipes:
            theirs = recipe.parse(w.query)
            problems += [f"{w.name}, {recipe.name}: {d}" for d in same_record(record, theirs)]
            if recipe.validate(theirs, key) is not True:
                problems.append(f"{w.name}: {recipe.name} rejects a correct signature")
            if recipe.validate(theirs, other_key) is not False:
                problems.append(f"{w.name}: {recipe.name} accepts another bot's key")
    if problems:
        sys.exit("module and recipes disagree:\n  " + "\n  ".join(problems))


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


# ---------------------------------------------------------------------------------------------
# Cost per byte


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


# ---------------------------------------------------------------------------------------------
# Allocations per call

# Counts every allocation call of the process, attributed to the object (executable or shared
# library) that called the allocator. Built at run time so that the tree holds no binary.
ALLOC_SHIM_C = r"""
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stddef.h>
#include <stdint.h>

extern void *__libc_malloc(size_t);
extern void *__libc_calloc(size_t, size_t);
extern void *__libc_realloc(void *, size_t);
extern void *__libc_memalign(size_t, size_t);

#define SLOTS 64
static const char *names[SLOTS];
static unsigned long allocs[SLOTS], reallocs[SLOTS];
static int used;
static volatile int counting;
static __thread int busy;
/* Return address -> slot: dladdr is slow and the same call sites allocate again and again. */
static uintptr_t cache_addr[4096];
static int cache_slot[4096];

static int slot_of(void *caller) {
    uintptr_t a = (uintptr_t)caller;
    unsigned h = (unsigned)((a >> 2) ^ (a >> 14)) & 4095u;
    if (cache_addr[h] == a) return cache_slot[h];
    Dl_info info;
    const char *name = "?";
    if (caller && dladdr(caller, &info) && info.dli_fname) name = info.dli_fname;
    int i;
    for (i = 0; i < used && names[i] != name; i++) {}
    if (i == used) {
        if (used == SLOTS) return -1;
        names[used++] = name;
    }
    cache_addr[h] = a;
    cache_slot[h] = i;
    return i;
}

static void note(void *caller, unsigned long *table) {
    if (!counting || busy) return;
    busy = 1;  /* dladdr may allocate: those calls are not the program's */
    int i = slot_of(caller);
    if (i >= 0) table[i]++;
    busy = 0;
}

void *malloc(size_t n) { note(__builtin_return_address(0), allocs); return __libc_malloc(n); }
void *calloc(size_t k, size_t n) {
    note(__builtin_return_address(0), allocs);
    return __libc_calloc(k, n);
}
void *realloc(void *p, size_t n) {
    note(__builtin_return_address(0), p ? reallocs : allocs);
    return __libc_realloc(p, n);
}
void *memalign(size_t a, size_t n) {
    note(__builtin_return_address(0), allocs);
    return __libc_memalign(a, n);
}
void *aligned_alloc(size_t a, size_t n) {
    note(__builtin_return_address(0), allocs);
    return __libc_memalign(a, n);
}
int posix_memalign(void **out, size_t a, size_t n) {
    note(__builtin_return_address(0), allocs);
    void *p = __libc_memalign(a, n);
    if (!p) return ENOMEM;
    *out = p;
    return 0;
}

void shim_start(void) {
    for (int i = 0; i < SLOTS; i++) allocs[i] = reallocs[i] = 0;
    counting = 1;
}
void shim_stop(void) { counting = 0; }
int shim_slots(void) { return used; }
const char *shim_name(int i) { return names[i]; }
unsigned long shim_allocs(int i) { return allocs[i]; }
unsigned long shim_reallocs(int i) { return reallocs[i]; }
"""

# Runs in the child process under the shim. Each operation is counted over N calls, minus the
# same loop around `pass`; prints {side: {operation: {object: [allocations, reallocations]}}}.
ALLOC_CHILD = r"""
import ctypes, json, sys, timeit
cfg = json.loads(sys.stdin.read())
sys.path[:0] = [cfg["module_dir"], cfg["bench_dir"]]
import norvik_auth, reference
shim = ctypes.CDLL(cfg["shim"])
shim.shim_name.restype = ctypes.c_char_p
shim.shim_name.argtypes = [ctypes.c_int]
shim.shim_allocs.restype = shim.shim_reallocs.restype = ctypes.c_ulong
shim.shim_allocs.argtypes = shim.shim_reallocs.argtypes = [ctypes.c_int]

def count(stmt, ns, n):
    t = timeit.Timer(stmt, globals=ns)
    t.timeit(max(100, n // 10))
    shim.shim_start()
    t.timeit(n)
    shim.shim_stop()
    out = {}
    for i in range(shim.shim_slots()):
        a, r = shim.shim_allocs(i), shim.shim_reallocs(i)
        if a or r:
            name = shim.shim_name(i).decode(errors="replace")
            got = out.setdefault(name, [0, 0])
            got[0] += a
            got[1] += r
    return out

n, token, query = cfg["calls"], cfg["token"], cfg["query"]
sides = {
    "module": (norvik_auth.get_secret_key, norvik_auth.parse_webapp_data,
               norvik_auth.validate_webapp_data, norvik_auth.get_secret_key(token)),
    "stdlib": (reference.get_secret_key, reference.parse_init_data,
               reference.validate_init_data, reference.get_secret_key(token)),
}
result = {}
for side, (get_secret_key, parse, validate, key) in sides.items():
    ns = {"get_secret_key": get_secret_key, "parse": parse, "validate": validate,
          "token": token, "query": query, "key": key, "r": parse(query)}
    empty = count("pass", ns, n)
    result[side] = {}
    for op, stmt in cfg["operations"]:
        got = count(stmt, ns, n)
        for name, (a, r) in empty.items():
            got.setdefault(name, [0, 0])
            got[name] = [got[name][0] - a, got[name][1] - r]
        result[side][op] = {name: [a / n, r / n] for name, (a, r) in got.items()}
print(json.dumps(result))
"""

ALLOC_OPERATIONS = [
    ("get_secret_key", "get_secret_key(token)"),
    ("parse_webapp_data", "parse(query)"),
    ("validate_webapp_data", "validate(r, key)"),
]


def fmt_count(n: float) -> str:
    # A difference of two counts can come out a hair below zero: that is no allocation.
    return "0" if abs(n) < 0.05 else f"{n:.1f}"


def caller_kind(path: str) -> str:
    """Who asked for the memory: the interpreter (Python objects) or C code (module, libraries)."""
    base = os.path.basename(path)
    if "norvik_auth" in base:
        return "module"
    if base.startswith("libstdc++"):
        return "C++ new"
    if base.startswith("libcrypto"):
        return "libcrypto"
    if (not path or "python" in base
            or os.path.realpath(path) == os.path.realpath(sys.executable)):
        return "Python"
    return "other"


ALLOC_KINDS = ("Python", "module", "C++ new", "libcrypto", "other")


@dataclass
class AllocCounts:
    by_kind: dict[str, float]
    reallocs: float
    others: list[str]

    @property
    def total(self) -> float:
        return sum(self.by_kind.values())


# Per side ("module", "stdlib"), per operation.
AllocTable = dict[str, dict[str, AllocCounts]]


def counted_allocations(query: str, calls: int) -> tuple[Optional[AllocTable], str]:
    """Allocation calls per call of each operation, counted in a child process; or why not."""
    if platform.system() != "Linux" or platform.libc_ver()[0] != "glibc":
        return None, "skipped: the counting shim needs Linux with glibc"
    cc = shutil.which(os.environ.get("CC", "cc")) or shutil.which("gcc") or shutil.which("clang")
    if cc is None:
        return None, "skipped: no C compiler (cc) to build the counting shim"
    with tempfile.TemporaryDirectory(prefix="norvik-bench-") as tmp:
        source, shim = Path(tmp, "alloc_shim.c"), Path(tmp, "alloc_shim.so")
        source.write_text(ALLOC_SHIM_C)
        built = subprocess.run(
            [cc, "-O2", "-shared", "-fPIC", "-o", str(shim), str(source), "-ldl"],
            capture_output=True, text=True)
        if built.returncode:
            return None, f"skipped: the counting shim did not build: {built.stderr.strip()[:200]}"
        env = dict(os.environ, LD_PRELOAD=str(shim), PYTHONMALLOC="malloc")
        cfg = {"module_dir": os.path.dirname(os.path.abspath(norvik_auth.__file__)),
               "bench_dir": str(BENCH_DIR), "shim": str(shim), "calls": calls,
               "token": BOT_TOKEN, "query": query, "operations": ALLOC_OPERATIONS}
        done = subprocess.run([sys.executable, "-c", ALLOC_CHILD], input=json.dumps(cfg),
                              env=env, capture_output=True, text=True, timeout=600)
    if done.returncode:
        last = done.stderr.strip().splitlines()[-1:] or [f"exit status {done.returncode}"]
        return None, f"failed: {last[0]}"
    raw: dict[str, dict[str, dict[str, list[float]]]] = json.loads(done.stdout)
    result: AllocTable = {}
    for side, ops in raw.items():
        result[side] = {}
        for op, objects in ops.items():
            counts = AllocCounts({k: 0.0 for k in ALLOC_KINDS}, 0.0, [])
            for path, (allocs, reallocs) in objects.items():
                kind = caller_kind(path)
                counts.by_kind[kind] += allocs
                counts.reallocs += reallocs
                if kind == "other" and round(allocs, 2):
                    counts.others.append(os.path.basename(path) or path)
            result[side][op] = counts
    return result, ""


def traced_python_memory(stmt: str, ns: dict[str, Any], calls: int) -> tuple[int, float]:
    """tracemalloc's view (Python's allocators only): peak bytes above the start while calling
    `stmt` in a loop, which is what one call holds at its fullest, and bytes left per call."""
    timer = timeit.Timer(stmt, globals=ns)
    timer.timeit(max(100, calls // 10))
    gc.collect()
    tracemalloc.start()
    try:
        timer.timeit(10)
        start = tracemalloc.get_traced_memory()[0]
        tracemalloc.reset_peak()
        timer.timeit(calls)
        current, peak = tracemalloc.get_traced_memory()
    finally:
        tracemalloc.stop()
    return peak - start, (current - start) / calls


def print_allocations(query: str, key: list[int], calls: int) -> None:
    counted, why_not = counted_allocations(query, calls)
    sides: dict[str, tuple[Callable[..., Any], Callable[..., Any], Callable[..., Any], Any]] = {
        "module": (norvik_auth.get_secret_key, norvik_auth.parse_webapp_data,
                   norvik_auth.validate_webapp_data, key),
        "stdlib": (reference.get_secret_key, reference.parse_init_data,
                   reference.validate_init_data, list(key)),
    }
    header = ["operation", "side", "allocs", "Python", "C: module", "C++ new", "libcrypto",
              "other", "reallocs", "traced peak", "traced left"]
    cells = []
    for op, stmt in ALLOC_OPERATIONS:
        for side, (get_secret_key, parse, validate, side_key) in sides.items():
            ns = {"get_secret_key": get_secret_key, "parse": parse, "validate": validate,
                  "token": BOT_TOKEN, "query": query, "key": side_key, "r": parse(query)}
            peak, left = traced_python_memory(stmt, ns, calls)
            cell = [op, side]
            if counted is not None:
                c = counted[side][op]
                cell += [fmt_count(c.total)] + [fmt_count(c.by_kind[k]) for k in ALLOC_KINDS]
                cell += [fmt_count(c.reallocs)]
            else:
                cell += ["-"] * 7
            cells.append(cell + [f"{peak} B", f"{fmt_count(left)} B"])
    print_columns(header, cells, 2)
    if counted is None:
        print(f"counted allocations {why_not}")
    else:
        print(f"allocs: malloc/calloc/memalign calls per call over {calls} calls, in a child with "
              "PYTHONMALLOC=malloc under a counting shim (LD_PRELOAD), minus an empty loop; split "
              "by caller: Python = the interpreter (object and buffer allocations), the rest are "
              "C-level; reallocs = resizes of live blocks")
        others = sorted({o for ops in counted.values() for c in ops.values() for o in c.others})
        if others:
            print(f"other callers: {', '.join(others)}")
    print("traced peak / traced left: tracemalloc (Python's allocators only), the most held "
          "during the call loop and what stays per call")


# ---------------------------------------------------------------------------------------------
# Checks outside the table


def baseline_note_for(w: Workload, recipe: Recipe) -> str:
    """What a recipe does with an input it is not timed on: the error it stops with."""
    try:
        recipe.parse(w.query)
    except RecursionError:
        return "RecursionError"
    except Exception as e:  # a recipe's failure is a finding, not a crash of the benchmark
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


@dataclass
class VerifierCost:
    verify_ns: float
    parse_validate_ns: float
    ratio: float  # median of the per-round ratios verify / (parse + validate)
    bytes_key_ratio: float  # validate with the key as bytes : as a list, median per round


def verifier_cost(rounds: int, seconds: float) -> Optional[VerifierCost]:
    """Verifier.verify with its defaults (age checked against time.time) against the module's
    two calls on the same typical input, signed now so that the age check passes."""
    try:
        from norvik_auth_extras import Verifier
    except ImportError:
        return None
    key = norvik_auth.get_secret_key(BOT_TOKEN)
    now = str(int(datetime.datetime.now().timestamp()))
    pairs = [(n, now if n == "auth_date" else v) for n, v in typical_pairs()]
    query = signed_query(pairs, bytes(key))
    ns: dict[str, Any] = {"verify": Verifier(bot_token=BOT_TOKEN).verify,
                          "parse": norvik_auth.parse_webapp_data,
                          "validate": norvik_auth.validate_webapp_data, "query": query,
                          "key": key, "key_bytes": bytes(key),
                          "r": norvik_auth.parse_webapp_data(query)}
    sides = [Side(stmt, ns) for stmt in ("verify(query)", "validate(parse(query), key)",
                                         "validate(r, key_bytes)", "validate(r, key)")]
    verify, both, as_bytes, as_list = time_rounds(sides, rounds, seconds)
    return VerifierCost(statistics.median(verify), statistics.median(both),
                        statistics.median(v / b for v, b in zip(verify, both)),
                        statistics.median(b / l for b, l in zip(as_bytes, as_list)))


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


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith(("model name", "Model", "cpu model")):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def module_libcrypto() -> str:
    """The libcrypto the module runs with, as mapped into this process (Linux only)."""
    try:
        with open("/proc/self/maps") as f:
            paths = {line.split()[-1] for line in f if "libcrypto" in line}
    except OSError:
        return "unknown"
    return ", ".join(sorted(paths)) or "unknown"


def header_lines(mode: str) -> list[str]:
    now = datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    return [
        f"{now} | {cpu_model()}, {os.cpu_count()} logical CPUs, {platform.machine()} | "
        f"{platform.python_implementation()} {platform.python_version()} | {ssl.OPENSSL_VERSION}",
        f"norvik_auth from {norvik_auth.__file__} (libcrypto: {module_libcrypto()})",
        mode,
    ]


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
    if explained is None:
        print("\nexplain: norvik_auth_extras is not installed, not timed")
    else:
        print("\nexplain on its largest accepted inputs (median time; peak of Python memory, "
              "traced):")
        for name, size, ms, peak in explained:
            print(f"  {name:<22} {size:>6} chars {ms:8.1f} ms {peak / 2**20:8.2f} MiB")

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
             by_key[("validate_webapp_data", "typical")].ratio("stdlib"), ">=", 5),
        Goal("get_secret_key", by_key[("get_secret_key", None)].ratio("stdlib"), ">=", 7),
        Goal("parse + validate, typical",
             by_key[("parse + validate", "typical")].ratio("stdlib"), ">=", 25),
        Goal(f"parse per byte, {sized[-1].name} : {sized[1].name}", per_byte.growth, "<=", 1.6),
    ]
    if cost is not None:
        goals.append(Goal("Verifier.verify : parse + validate", cost.ratio, "<=", 1.3))
    if explained is not None:
        goals.append(Goal("explain, slowest 64 KiB input (ms)", max(e[2] for e in explained),
                          "<=", 250))
    print("\ngoals (ratios against the stdlib recipe where no two sides are named; reported only, "
          "the exit status never depends on them):")
    for g in goals:
        print(f"  {g.name:<36} {g.value:7.2f}  {g.op} {g.bound:<5g} {'met' if g.met else 'MISSED'}")
    print(f"  {'nested 100k on a 256 KiB stack':<36} {stack:>7}  {'':<8} "
          f"{'met' if stack == 'ok' else 'MISSED'}")
    if growth is not None:
        label = f"RSS growth, {memory_calls} calls (KiB)"
        met = growth < 1024 * 1024
        print(f"  {label:<36} {growth / 1024:7.0f}  <  1024  {'met' if met else 'MISSED'}")
        if args.quick:
            print("  (quick mode: the memory loop is too short to judge the 1 MiB target)")


if __name__ == "__main__":
    main()
