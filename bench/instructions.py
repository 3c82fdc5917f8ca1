"""Instructions per call, counted by callgrind: exact and free of the noise of timing, so a small
change shows. Each count is (instructions of N calls - instructions of none) / N, the calls
made in a loop of the interpreter, as an application would make them (loop, call, and for a
refusal the raising and catching of the exception included).

valgrind offers no AVX-512, so under it the module runs its SSE2 and SSSE3 kernels: counts are
comparable between builds, not with the instructions of a native run.
"""

from __future__ import annotations

import json
import os
import shutil
import subprocess
import sys
import tempfile
from dataclasses import dataclass
from pathlib import Path
from typing import Optional, Sequence

# Collection is switched on and off around the measured loop by client requests from a small
# library built at run time, called through ctypes.
TOGGLE_C = r"""
#include <valgrind/callgrind.h>
void toggle_collect(void) { CALLGRIND_TOGGLE_COLLECT; }
"""

CHILD = r"""
import ctypes, json, sys
cfg = json.loads(sys.argv[1])
import norvik_auth
toggle = ctypes.CDLL(cfg["toggle"]).toggle_collect
parse, text = norvik_auth.parse_webapp_data, cfg["text"]
try:
    parse("")
except BaseException as error:
    panic = type(error)
def run(calls):
    for _ in range(calls):
        try:
            parse(text)
        except panic:
            pass
run(10)
toggle()
run(cfg["calls"])
toggle()
"""

CALLS = 100
# The bound on a refused parse of the empty string.
EMPTY_REFUSAL_BOUND = 15000


@dataclass(frozen=True)
class Count:
    name: str
    instructions: Optional[float]  # per call; None when it could not be counted


def why_not_countable() -> Optional[str]:
    """None when callgrind can count here, else why not."""
    if shutil.which("valgrind") is None:
        return "valgrind is not installed"
    if not Path("/usr/include/valgrind/callgrind.h").exists():
        return "valgrind's callgrind.h is missing"
    if (shutil.which(os.environ.get("CC", "cc")) or shutil.which("gcc")) is None:
        return "no C compiler for the collection switch"
    return None


def collected(toggle: Path, text: str, calls: int) -> int:
    """Instructions callgrind collected while `calls` parses of `text` ran."""
    cfg = {"toggle": str(toggle), "text": text, "calls": calls}
    done = subprocess.run(
        ["valgrind", "--tool=callgrind", "--collect-atstart=no", "--callgrind-out-file=/dev/null",
         sys.executable, "-c", CHILD, json.dumps(cfg)],
        capture_output=True, text=True, timeout=600,
        env={**os.environ, "PYTHONHASHSEED": "0", "PYTHONPATH": os.pathsep.join(sys.path)})
    for line in done.stderr.splitlines():
        if "Collected :" in line:
            return int(line.split(":")[-1].replace(",", "").strip())
    raise RuntimeError(f"callgrind reported no count: {done.stderr.strip()[-300:]}")


def count_instructions(inputs: Sequence[tuple[str, str]]) -> tuple[list[Count], str]:
    """Instructions per parse of each (name, text); or why they were not counted."""
    why_not = why_not_countable()
    if why_not is not None:
        return [Count(name, None) for name, _ in inputs], why_not
    compiler = shutil.which(os.environ.get("CC", "cc")) or "gcc"
    with tempfile.TemporaryDirectory(prefix="norvik-callgrind-") as tmp:
        source, toggle = Path(tmp, "toggle.c"), Path(tmp, "toggle.so")
        source.write_text(TOGGLE_C)
        subprocess.run([compiler, "-O1", "-shared", "-fPIC", "-o", str(toggle), str(source)],
                       check=True, capture_output=True)
        counts = []
        for name, text in inputs:
            empty_loop = collected(toggle, text, 0)
            counts.append(Count(name, (collected(toggle, text, CALLS) - empty_loop) / CALLS))
    return counts, ""


def print_counts(counts: Sequence[Count], why_not: str) -> None:
    if why_not:
        print(f"instructions per call: skipped, {why_not}")
        return
    for count in counts:
        if count.instructions is not None:
            print(f"  {count.name:<44} {count.instructions:9.0f}")
    print(f"callgrind, {CALLS} calls in an interpreter loop minus an empty loop, per call")
