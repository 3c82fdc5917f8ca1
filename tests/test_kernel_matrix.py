"""Every kernel of the core checked against its reference, including those this processor would
not pick: tests/kernels/kernel_matrix, built with CMake into build/kernel-matrix (reused, so a
later run compiles nothing) and run once; one test per kernel of its --list, skipped by name when
the processor lacks the kernel's feature. Each SHA-256 kernel also hashes NIST's SHAVS messages
and the HMAC vectors of tests/data."""

from __future__ import annotations

import atexit
import contextlib
import os
import shutil
import subprocess
import tempfile
from functools import lru_cache
from pathlib import Path
from typing import Iterator

import pytest

try:
    import fcntl
except ImportError:  # not POSIX: concurrent runs are not serialised
    fcntl = None  # type: ignore[assignment]

ROOT = Path(__file__).resolve().parent.parent
BUILD_DIR = ROOT / "build" / "kernel-matrix"
BUILT = BUILD_DIR / ("kernel_matrix.exe" if os.name == "nt" else "kernel_matrix")
# Each run uses its own copy of the program, taken while the build is locked: another run of the
# suite may rebuild it from changed sources meanwhile.
PROGRAM = Path(tempfile.mkdtemp(prefix="kernel-matrix-")) / BUILT.name
atexit.register(shutil.rmtree, PROGRAM.parent, ignore_errors=True)


@contextlib.contextmanager
def build_lock() -> Iterator[None]:
    BUILD_DIR.parent.mkdir(parents=True, exist_ok=True)
    with open(BUILD_DIR.parent / "kernel-matrix.lock", "w") as lock:
        if fcntl is not None:
            fcntl.flock(lock, fcntl.LOCK_EX)
        yield


def run(command: list[str]) -> subprocess.CompletedProcess[str]:
    return subprocess.run(command, cwd=ROOT, capture_output=True, text=True, check=False)


@lru_cache(maxsize=None)
def build_outcome() -> tuple[str | None, str | None]:
    """Why the program cannot be built (or None), and how its build failed (or None)."""
    with build_lock():
        try:
            return build(), None
        except AssertionError as error:
            return None, str(error)


def built() -> str | None:
    """Builds the program once; returns why it cannot be, or None. A failed build raises, each
    time it is asked, with the same message."""
    reason, failure = build_outcome()
    if failure is not None:
        raise AssertionError(failure)
    return reason


def build() -> str | None:
    if shutil.which("cmake") is None:
        return "cmake is not installed"
    if not (ROOT / "CMakeLists.txt").is_file():
        return "not run from a source checkout"
    # The core alone: no Python is looked for, so every interpreter's suite shares the tree.
    configure = ["cmake", "-S", str(ROOT), "-B", str(BUILD_DIR), "-DNORVIK_KERNEL_MATRIX=ON",
                 "-DNORVIK_PYTHON_MODULE=OFF", "-DCMAKE_BUILD_TYPE=Release"]
    if not (BUILD_DIR / "CMakeCache.txt").exists() and shutil.which("ninja"):
        configure += ["-G", "Ninja"]
    configured = run(configure)
    if configured.returncode != 0:
        if "No CMAKE_CXX_COMPILER could be found" in configured.stderr:
            return "no C++ compiler is installed"
        raise AssertionError(f"configuring the kernel matrix failed:\n{configured.stdout}{configured.stderr}")
    jobs = str(os.cpu_count() or 2)
    building = run(["cmake", "--build", str(BUILD_DIR), "--target", "kernel_matrix", "--parallel", jobs])
    if building.returncode != 0:
        raise AssertionError(f"building the kernel matrix failed:\n{building.stdout}{building.stderr}")
    shutil.copy2(BUILT, PROGRAM)
    return None


def kernel_names() -> list[str]:
    """The kernels as the program lists them, or one placeholder that skips when it cannot run."""
    try:
        reason = built()
    except AssertionError:
        return ["(build)"]  # the test reports the build failure
    if reason is not None:
        return ["(unavailable)"]
    listed = run([str(PROGRAM), "--list"])
    return [line.split("\t")[0] for line in listed.stdout.splitlines()] or ["(empty list)"]


@lru_cache(maxsize=None)
def results() -> tuple[dict[str, str], str]:
    """Each kernel's line of one whole run ("PASS name", "SKIP name: ...", "FAIL name: ..."),
    and the run's full output for failures without a line."""
    matrix = run([str(PROGRAM)])
    lines: dict[str, str] = {}
    for line in matrix.stdout.splitlines():
        verdict, _, rest = line.partition(" ")
        if verdict in ("PASS", "SKIP", "FAIL"):
            lines[rest.split(":")[0]] = line
    return lines, f"exit {matrix.returncode}\n{matrix.stdout}{matrix.stderr}"


@pytest.mark.parametrize("kernel", kernel_names())
def test_kernel_agrees_with_its_reference(kernel: str) -> None:
    reason = built()
    if reason is not None:
        pytest.skip(f"kernel matrix not built: {reason}")
    lines, output = results()
    line = lines.get(kernel)
    assert line is not None, f"no verdict for {kernel}:\n{output}"
    if line.startswith("SKIP "):
        pytest.skip(line[len("SKIP "):])
    assert line == f"PASS {kernel}", line


def test_every_family_has_a_kernel_that_runs_everywhere() -> None:
    if built() is not None:
        pytest.skip(f"kernel matrix not built: {built()}")
    listed = [line.split("\t") for line in run([str(PROGRAM), "--list"]).stdout.splitlines()]
    families = {name.split("/")[0] for name, _, _ in listed}
    portable = {name.split("/")[0] for name, feature, _ in listed if feature == "-"}
    assert families == portable
    assert {"percent-decode", "form-scan", "json-plain-run", "signature-hex", "sha256"} <= families
