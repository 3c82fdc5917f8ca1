"""Allocations per call: allocator calls counted by a shim in a child process, split by who
called the allocator, and tracemalloc's view of Python's own allocators."""

from __future__ import annotations

import gc
import json
import os
import platform
import shutil
import subprocess
import sys
import tempfile
import timeit
import tracemalloc
from dataclasses import dataclass
from pathlib import Path
from typing import Any, Callable, Optional

import norvik_auth
import reference
from timing import print_columns
from workloads import BOT_TOKEN


BENCH_DIR = Path(__file__).resolve().parent

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
