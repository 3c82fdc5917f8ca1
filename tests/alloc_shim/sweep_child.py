"""Runs in a child process with failing_alloc preloaded: fails the n-th allocation of one call,
for n = 1, 2, ... until the call no longer reaches it, each n in a process of its own.

Usage: sweep_child.py SHIM_PATH CASE_JSON. Prints one JSON line: {"shim": false} when the shim is
not the allocator in effect, else {"shim": true, "sweep": [...]}, one entry per n.

Each n is forked from this process, so that the state before the armed call (a first call of the
process, or of a thread) is built once and every n still starts from it.
"""

import ctypes
import functools
import json
import os
import signal
import sys
import threading
import time

SHIM_PATH, CASE = sys.argv[1], json.loads(sys.argv[2])
# A stop well past the longest sweep, should the count of allocations in a call ever run away.
MAX_N = CASE.get("max_n", 20000)
# Once some n has failed, the sweep goes on for a while only, to show the other ways of failing
# further on: a sweep over thousands of failing n would take minutes.
FAILING_SWEEP_SECONDS = CASE.get("failing_sweep_seconds", 10)
HANG_SECONDS = 30

shim = ctypes.CDLL(SHIM_PATH)
shim.failing_alloc_arm.argtypes = [ctypes.c_long]
shim.failing_alloc_arm.restype = None
shim.failing_alloc_seen.restype = ctypes.c_long


def shim_in_effect() -> bool:
    # Another allocator preloaded ahead of the shim (ASan's) wins: then the counter stays put.
    shim.failing_alloc_arm(1 << 62)
    buffer = bytearray(1 << 16)
    seen = shim.failing_alloc_seen()
    shim.failing_alloc_disarm()
    del buffer
    return seen > 0


if not shim_in_effect():
    print(json.dumps({"shim": False}))
    raise SystemExit(0)

import norvik_auth  # noqa: E402 - after the check, so that a skipped run costs nothing more

query = CASE["query"]
key_list = CASE["key"]
calls = {
    "get_secret_key": lambda: norvik_auth.get_secret_key(CASE["token"]),
    "parse": lambda: repr(norvik_auth.parse_webapp_data(query)),
    "validate-list-key": lambda: norvik_auth.validate_webapp_data(init_data, key_list),
    "validate-bytes-key": lambda: norvik_auth.validate_webapp_data(init_data, bytes(key_list)),
    "verify": lambda: type(verifier.verify(query)).__name__,  # reading the record could fail
    # Called straight from the frame that catches it: see armed_then_next.
    "refuse": functools.partial(norvik_auth.parse_webapp_data, CASE.get("refused", "")),
}
# A refusal's right answer is its exception, written as outcome_of writes it.
expected = {"get_secret_key": key_list, "parse": CASE["parse_repr"], "validate-list-key": True,
            "validate-bytes-key": True, "verify": "WebAppInitData",
            "refuse": f"PanicException: {CASE.get('refusal')}"}
if CASE["call"] == "verify":  # the companion hashes with hashlib: only after a warm start
    from norvik_auth_extras import Verifier
    verifier = Verifier(secret_key=bytes(key_list), max_age=None)
call, wanted = calls[CASE["call"]], expected[CASE["call"]]
# The record is made before the sweep: parsing computes no digest, so the call swept still
# hashes for the first time in the process.
init_data = norvik_auth.parse_webapp_data(query) if CASE["call"].startswith("validate") else None


def outcome_of(result_or_error) -> str:
    if isinstance(result_or_error, BaseException):
        outcome = f"{type(result_or_error).__name__}: {result_or_error}"
        return "right" if outcome == wanted else outcome
    return "right" if result_or_error == wanted else f"wrong: {result_or_error!r}"


def result_of_call():
    try:
        return call()
    except BaseException as error:  # noqa: BLE001 - PanicException derives from BaseException
        return error


if CASE["warm"]:
    # The process has hashed (and refused) before: what is left to fail is the thread's or the
    # call's own.
    assert norvik_auth.get_secret_key(CASE["token"]) == key_list
    assert norvik_auth.validate_webapp_data(norvik_auth.parse_webapp_data(query), key_list) is True
    assert outcome_of(result_of_call()) == "right"


def armed_then_next(n: int, record: dict) -> None:
    # An exception passing through a Python frame makes the frame's object first, if it has
    # none, and CPython 3.11 loses the exception when that allocation fails ("error return
    # without exception set"), whoever raised it. This frame's object is made before arming,
    # and a refusal comes straight here, so that every allocation swept is the call's own.
    sys._getframe()
    shim.failing_alloc_arm(n)
    try:
        result = call()
    except BaseException as error:  # noqa: BLE001 - PanicException derives from BaseException
        result = error
    record["triggered"] = bool(shim.failing_alloc_disarm())
    record["armed"] = outcome_of(result)
    record["next"] = outcome_of(result_of_call())


def run_forked(n: int, stderr_path: str) -> None:
    """The forked process's whole life; it ends through the interpreter's normal exit."""
    # A process that hangs (a lock left held on a failure path) is ended, and counts as dead.
    signal.alarm(HANG_SECONDS)
    stderr = os.open(stderr_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC)
    os.dup2(stderr, 2)
    record: dict = {}
    if CASE["thread"]:
        # A new thread: its thread-local storage is set up by the first call that needs it.
        thread = threading.Thread(target=armed_then_next, args=(n, record))
        thread.start()
        thread.join()
    else:
        armed_then_next(n, record)
    sys.stdout.write(json.dumps(record) + "\n")
    sys.stdout.flush()


def sweep() -> list:
    entries = []
    first_failure = None
    stderr_path = os.path.join(CASE["tmp"], f"stderr-{os.getpid()}")
    for n in range(1, MAX_N + 1):
        read_end, write_end = os.pipe()
        sys.stdout.flush()
        sys.stderr.flush()
        pid = os.fork()
        if pid == 0:
            os.close(read_end)
            os.dup2(write_end, 1)
            run_forked(n, stderr_path)
            raise SystemExit(0)
        os.close(write_end)
        with os.fdopen(read_end) as reader:
            line = reader.read()
        _, status = os.waitpid(pid, 0)
        with open(stderr_path, errors="replace") as err:
            stderr = err.read()
        entry = {"n": n, "exit": os.waitstatus_to_exitcode(status), "stderr": stderr[-400:]}
        entry.update(json.loads(line) if line.strip() else {"triggered": None})
        entries.append(entry)
        if entry["triggered"] is False and entry["exit"] == 0:
            break
        if first_failure is None and (entry["exit"] != 0 or entry.get("next") != "right"):
            first_failure = time.monotonic()
        if first_failure is not None and time.monotonic() - first_failure > FAILING_SWEEP_SECONDS:
            break
    return entries


print(json.dumps({"shim": True, "sweep": sweep()}))
