"""The module in a hostile process: interpreter exit while daemon threads are inside a call,
allocations that fail one at a time, and an interpreter that may not load it. Each case runs in
child processes, since what is at stake is whether the process survives."""

import json
import os
import platform
import shutil
import subprocess
import sys
from collections import Counter
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import pytest

import norvik_auth
from helpers import panic_of, secret_key, sign

TESTS = Path(__file__).resolve().parent
# What a process that died or was about to die leaves on its stderr.
DEATH_MARKERS = ("FATAL", "Fatal", "ABORT", "terminate called", "Segmentation fault", "Aborted",
                 "AddressSanitizer", "Traceback")


def child_env(**extra) -> dict:
    """The environment of a child: this process's module and conftest on its path."""
    return {**os.environ, "PYTHONPATH": os.pathsep.join(sys.path), **extra}


def death_markers(stderr: str) -> list:
    return [marker for marker in DEATH_MARKERS if marker in stderr]


# ---------------------------------------------------------------------------------------------
# Interpreter exit while daemon threads are inside a call
#
# At exit, a daemon thread that asks for the interpreter lock back is ended on the spot, by an
# unwinding that runs through whatever native frames it is in. A call that gives up the lock
# (running the key's __index__, or a garbage collection's callbacks) must let that unwinding pass.

SPIN_RUNS = 40
SPIN_TIMEOUT = 60  # seconds per run; a run takes well under one

# The script as a caller would write it: four threads validating with a key of __index__ items.
SPIN_VALIDATE_AS_WRITTEN = """
import threading, time, norvik_auth as na
d = na.parse_webapp_data("a=1&hash=x")
class Idx:
    def __index__(self): return 1
key = [Idx()] * 32
def spin():
    while True: na.validate_webapp_data(d, key)
for _ in range(4): threading.Thread(target=spin, daemon=True).start()
time.sleep(0.05)
"""

# The variants switch threads often, so that exit finds threads in mid-call far more often.
SPIN_TEMPLATE = """
import gc, sys, threading, time, norvik_auth as na
sys.setswitchinterval(0.0005)
d = na.parse_webapp_data("a=1&hash=x")
class Idx:
    def __index__(self): return 1
class SleepingIdx:
    def __index__(self):
        time.sleep(0.0001)  # gives up the interpreter lock inside the key's conversion
        return 1
{setup}
go = threading.Event()
def spin():
    kept = []
    go.wait()
    while True:
        {body}
for _ in range(4): threading.Thread(target=spin, daemon=True).start()
go.set()
time.sleep(0.02)
"""

# A collection started by an allocation inside get_secret_key runs this callback, which gives up
# the lock. The results are kept so that lists come from the allocator, not from the free list.
GC_CALLBACK_SETUP = """
gc.callbacks.append(lambda phase, info: time.sleep(0))
gc.set_threshold(1, 1 << 30, 1 << 30)
"""

SPIN_SCRIPTS = {
    "validate-as-written": SPIN_VALIDATE_AS_WRITTEN,
    "validate-index-key": SPIN_TEMPLATE.format(setup="", body="na.validate_webapp_data(d, [Idx()] * 32)"),
    "validate-sleeping-index-key": SPIN_TEMPLATE.format(
        setup="", body="na.validate_webapp_data(d, [SleepingIdx()] * 32)"),
    "parse": SPIN_TEMPLATE.format(
        setup="", body='na.parse_webapp_data("user=%7B%22id%22%3A1%2C%22first_name%22%3A%22A%22%7D&auth_date=1&hash=x")'),
    "get_secret_key": SPIN_TEMPLATE.format(setup="", body='na.get_secret_key("42:spin")'),
    "get_secret_key-gc-callback": SPIN_TEMPLATE.format(
        setup=GC_CALLBACK_SETUP, body='kept.append(na.get_secret_key("42:spin"))'),
}


def run_script(script: str) -> subprocess.CompletedProcess:
    return subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                          env=child_env(), timeout=SPIN_TIMEOUT)


# CPython 3.10 itself crashes now and then when daemon threads wake up at exit (in take_gil,
# with no frame of this module on the stack; seen with a pure-Python loop over bytes(key)), so
# deaths there would say nothing about the module.
@pytest.mark.skipif(sys.version_info[:2] == (3, 10),
                    reason="CPython 3.10's own exit crashes with daemon threads drown the signal")
@pytest.mark.parametrize("script", SPIN_SCRIPTS.values(), ids=list(SPIN_SCRIPTS))
def test_interpreter_exit_with_daemon_threads_inside_calls(script):
    with ThreadPoolExecutor(max_workers=4) as pool:
        runs = list(pool.map(run_script, [script] * SPIN_RUNS))
    deaths = Counter(f"exit {run.returncode}: {run.stderr.strip()[-200:]!r}" for run in runs
                     if run.returncode != 0 or death_markers(run.stderr))
    assert not deaths, f"{sum(deaths.values())} of {SPIN_RUNS} runs died at exit: {dict(deaths)}"


# ---------------------------------------------------------------------------------------------
# Allocation failures, one at a time
#
# tests/alloc_shim/failing_alloc.c, preloaded, fails the n-th allocation from the moment it is
# armed; tests/alloc_shim/sweep_child.py arms it just before one call, for n = 1, 2, ... until
# the call no longer reaches the n-th allocation, each n in a process forked for it.

TOKEN = "42:out-of-memory"
QUERY = sign([("query_id", "Q"), ("user", '{"id": 7, "first_name": "Ann", "username": "ann"}'),
              ("auth_date", "1700000000")], TOKEN)
# A stop well past the longest sweep, should the count of allocations in a call run away.
SWEEP_LIMIT = 20000
# One refusal of each way a message is made: a JSON failure with its position, an integer's
# kind, and the fixed text.
REFUSED = {"json": "user=%7B%22id%22%3A+1%2C+%22id%22%3A+2%7D&hash=h", "integer": "auth_date=12x&hash=h",
           "no-hash": ""}

SWEEPS = {
    # The first call of a process: whatever the module sets up lazily is set up here.
    "first-get_secret_key-of-process": {"call": "get_secret_key", "warm": False, "thread": False},
    "first-validate-of-process": {"call": "validate-list-key", "warm": False, "thread": False},
    "first-parse-of-process": {"call": "parse", "warm": False, "thread": False},
    # The first call of a new thread, in a process that has hashed before.
    "first-get_secret_key-of-thread": {"call": "get_secret_key", "warm": True, "thread": True},
    "first-validate-of-thread": {"call": "validate-list-key", "warm": True, "thread": True},
    "first-validate-bytes-key-of-thread": {"call": "validate-bytes-key", "warm": True, "thread": True},
    # Later calls: what is left is the key's conversion and the hashing itself.
    "validate-list-key": {"call": "validate-list-key", "warm": True, "thread": False},
    "validate-bytes-key": {"call": "validate-bytes-key", "warm": True, "thread": False},
    # A refusal is a value all the way to the Python exception: a thread's first refusal sets
    # up nothing of its own whose allocation could fail, so it never ends the process.
    **{f"first-refusal-of-thread-{kind}": {"call": "refuse", "refused": refused, "warm": True,
                                            "thread": True}
       for kind, refused in REFUSED.items()},
    "first-refusal-of-process": {"call": "refuse", "refused": REFUSED["json"], "warm": False,
                                 "thread": False},
}


@pytest.fixture(scope="module")
def failing_alloc(tmp_path_factory) -> Path:
    """The shim, compiled for this run."""
    if not sys.platform.startswith("linux") or platform.libc_ver()[0] != "glibc":
        pytest.skip("the shim forwards to glibc's allocator")
    compiler = os.environ.get("CC") or shutil.which("cc") or shutil.which("gcc")
    if compiler is None or shutil.which(compiler.split()[0]) is None:
        pytest.skip("no C compiler to build the allocation shim")
    library = tmp_path_factory.mktemp("alloc_shim") / "failing_alloc.so"
    subprocess.run([*compiler.split(), "-shared", "-fPIC", "-O1", "-o", str(library),
                    str(TESTS / "alloc_shim" / "failing_alloc.c")], check=True)
    return library


def sweep(library: Path, tmp_path: Path, case: dict) -> list:
    case = {**case, "query": QUERY, "token": TOKEN, "key": list(secret_key(TOKEN)),
            "parse_repr": repr(norvik_auth.parse_webapp_data(QUERY)), "tmp": str(tmp_path),
            "max_n": SWEEP_LIMIT}
    if "refused" in case:
        case["refusal"] = str(panic_of(norvik_auth.parse_webapp_data, case["refused"]))
    # Appended: a preloaded sanitizer runtime must stay first (its allocator then wins, and the
    # child reports that the shim is not in effect).
    preload = ":".join(filter(None, [os.environ.get("LD_PRELOAD"), str(library)]))
    # Interpreter objects come from malloc too, and a fixed hash seed keeps the counts the same.
    env = child_env(LD_PRELOAD=preload, PYTHONMALLOC="malloc", PYTHONHASHSEED="0")
    child = subprocess.run([sys.executable, str(TESTS / "alloc_shim" / "sweep_child.py"), str(library),
                            json.dumps(case)], capture_output=True, text=True, env=env, timeout=300)
    assert child.returncode == 0, child.stderr
    report = json.loads(child.stdout)
    if not report["shim"]:
        pytest.skip("another allocator is preloaded ahead of the shim")
    return report["sweep"]


def way_of_failing(entry: dict) -> str:
    if entry["triggered"] is None:
        return f"died with exit {entry['exit']}: {entry['stderr'].strip()[:120]!r}"
    return (f"exit {entry['exit']}, armed call: {entry['armed'][:80]}, next call: {entry['next'][:80]}, "
            f"stderr {entry['stderr'].strip()[:120]!r}")


def sweep_failures(entries: list) -> list:
    """Where the process died, the armed call failed otherwise than by running out of memory
    (PanicException: the interpreter's own object creation), or the call
    after it, with memory back, did not give the right answer: one line per way of failing,
    with the n that failed that way."""
    ways = {}
    for entry in entries:
        armed = entry.get("armed", "")
        if (entry["exit"] != 0 or death_markers(entry["stderr"]) or entry.get("next") != "right"
                or not armed.startswith(("right", "MemoryError", "PanicException"))):
            ways.setdefault(way_of_failing(entry), []).append(entry["n"])
    return [f"n in {numbers[:6]}{' ...' if len(numbers) > 6 else ''} ({len(numbers)} n): {way}"
            for way, numbers in ways.items()]


@pytest.mark.parametrize("case", SWEEPS.values(), ids=list(SWEEPS))
def test_each_failed_allocation_is_survived(case, failing_alloc, tmp_path, record_property):
    entries = sweep(failing_alloc, tmp_path, case)
    # The last n is the first one the call did not reach.
    record_property("sweep_size", len(entries))
    kinds = Counter(entry.get("armed", "")[:60] for entry in entries[:-1])
    print(f"swept n = 1 to {len(entries)}: the armed call gave {dict(kinds)}")
    failures = sweep_failures(entries)
    assert not failures, f"swept n = 1 to {len(entries)}:\n" + "\n".join(failures)
    assert entries[-1]["triggered"] is False, f"the call still allocates after {SWEEP_LIMIT} allocations"
    # Every n short of the end was reached and failed: no n was skipped untested.
    assert all(entry["triggered"] for entry in entries[:-1])


# ---------------------------------------------------------------------------------------------
# An interpreter that may not load single-phase modules
#
# CPython 3.12 refuses a single-phase module in an interpreter with its own GIL, but only after
# the module's PyInit has run. Refused there, the module must not stay claimed by that
# interpreter: the main interpreter imports it afterwards. 3.13 runs PyInit in the main
# interpreter whichever interpreter imports, so the same script guards that path as well.

OWN_GIL_FIRST_ATTEMPT = {
    (3, 12): """
import _xxsubinterpreters as interpreters
interp = interpreters.create(isolated=True)
try:
    interpreters.run_string(interp, CODE)
    print("subinterpreter: imported")
except interpreters.RunFailedError as error:
    print("subinterpreter:", error)
""",
    (3, 13): """
import _interpreters as interpreters
interp = interpreters.create("isolated")
failure = interpreters.exec(interp, CODE)
print("subinterpreter:", "imported" if failure is None else failure.formatted)
""",
}

OWN_GIL_THEN_MAIN = """
CODE = "import sys; sys.path.insert(0, {directory!r}); import norvik_auth"
{first_attempt}
interpreters.destroy(interp)
import norvik_auth
print("main:", norvik_auth.parse_webapp_data("hash=ok").hash)
"""


@pytest.mark.skipif(sys.version_info[:2] not in OWN_GIL_FIRST_ATTEMPT,
                    reason="interpreters that refuse single-phase modules are reached here only "
                           "on CPython 3.12 and 3.13; older versions have none")
def test_own_gil_interpreter_is_refused_before_it_claims_the_module():
    script = OWN_GIL_THEN_MAIN.format(directory=os.path.dirname(norvik_auth.__file__),
                                      first_attempt=OWN_GIL_FIRST_ATTEMPT[sys.version_info[:2]])
    child = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True,
                           env=child_env(), timeout=60)
    lines = child.stdout.splitlines()
    assert len(lines) == 2, (child.stdout, child.stderr)
    assert lines[0].startswith("subinterpreter:") and "ImportError" in lines[0], lines[0]
    assert lines[0].endswith("module norvik_auth does not support loading in subinterpreters")
    assert (lines[1], child.returncode) == ("main: ok", 0), child.stderr
