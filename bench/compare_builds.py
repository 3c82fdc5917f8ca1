"""Two builds of the module side by side, in one process and the same rotating rounds: the
accepted parse, validation, key derivation and parse + validate of the typical input, and the
refused parses of the refusal table. Code layout alone moves timings between builds by several
per cent, so builds are compared this way, never across runs.

    python3 bench/compare_builds.py /path/to/other/norvik_auth.cpython-311-x86_64-linux-gnu.so

The running interpreter's `norvik_auth` is "this build"; the file given is the baseline, for
instance one built from an earlier commit (`pip install` it into another environment and take
the .so from its site-packages).
"""

from __future__ import annotations

import argparse
import importlib.machinery
import importlib.util
import statistics
import sys
from pathlib import Path
from types import ModuleType
from typing import Any

BENCH_DIR = Path(__file__).resolve().parent
sys.path.insert(0, str(BENCH_DIR))
import norvik_auth  # noqa: E402
from refusals import refusals  # noqa: E402
from timing import Side, fmt_time, print_columns, time_rounds  # noqa: E402
from workloads import BOT_TOKEN, signed_query, typical_pairs  # noqa: E402


def load_module_file(path: Path) -> ModuleType:
    """The extension in `path`, loaded beside the one already imported: both are named
    norvik_auth, so the new one is taken out of sys.modules again at once."""
    current = sys.modules.pop("norvik_auth", None)
    try:
        loader = importlib.machinery.ExtensionFileLoader("norvik_auth", str(path))
        spec = importlib.util.spec_from_file_location("norvik_auth", path, loader=loader)
        assert spec is not None
        module = importlib.util.module_from_spec(spec)
        loader.exec_module(module)
    finally:
        if current is not None:
            sys.modules["norvik_auth"] = current
    return module


def panic_of(module: Any) -> type[BaseException]:
    try:
        module.parse_webapp_data("")
    except BaseException as error:  # noqa: B902 - PanicException is no Exception
        return type(error)
    raise AssertionError("empty init data accepted")


def sides(module: Any, key: list[int], typical: str, refused: list[tuple[str, str]]) -> list[Side]:
    ns = {"parse": module.parse_webapp_data, "validate": module.validate_webapp_data,
          "get_secret_key": module.get_secret_key, "PanicException": panic_of(module),
          "token": BOT_TOKEN, "key": key, "q": typical,
          "r": module.parse_webapp_data(typical)}
    out = [Side("parse(q)", ns), Side("validate(r, key)", ns), Side("get_secret_key(token)", ns),
           Side("validate(parse(q), key)", ns)]
    for _, query in refused:
        out.append(Side("try:\n    parse(q)\nexcept PanicException:\n    pass", {**ns, "q": query}))
    return out


def main() -> None:
    ap = argparse.ArgumentParser(description=(__doc__ or "").splitlines()[0])
    ap.add_argument("baseline", type=Path, help="the other build's norvik_auth extension file")
    ap.add_argument("--rounds", type=int, default=31, help="rotating rounds (default 31)")
    ap.add_argument("--round-seconds", type=float, default=0.05,
                    help="time of one side in one round (default 0.05)")
    args = ap.parse_args()

    baseline = load_module_file(args.baseline)
    key = norvik_auth.get_secret_key(BOT_TOKEN)
    if baseline.get_secret_key(BOT_TOKEN) != key:
        sys.exit("the two builds derive different keys")
    typical = signed_query(typical_pairs(), bytes(key))
    refused = [(f"refused parse: {r.name}", r.query) for r in refusals(bytes(key))
               if r.operation == "parse"]
    names = ["accepted parse, typical", "validate, typical", "get_secret_key",
             "parse + validate, typical"]
    names += [name for name, _ in refused]
    ours = sides(norvik_auth, key, typical, refused)
    theirs = sides(baseline, key, typical, refused)
    # Both builds' sides in one rotation: neither gets the quieter moments.
    times = time_rounds(ours + theirs, args.rounds, args.round_seconds)
    mine, base = times[:len(ours)], times[len(ours):]
    print(f"this build: {norvik_auth.__file__}\nbaseline:   {args.baseline}")
    print(f"{args.rounds} rotating rounds of ~{args.round_seconds * 1e3:.0f} ms per side; "
          "medians per call, ratio = median of the per-round ratios")
    cells = []
    for i, name in enumerate(names):
        ratio = statistics.median(m / b for m, b in zip(mine[i], base[i]))
        cells.append([name, fmt_time(statistics.median(base[i])),
                      fmt_time(statistics.median(mine[i])), f"{ratio:.3f}"])
    print_columns(["operation", "baseline", "this build", "this : baseline"], cells, 1)


if __name__ == "__main__":
    main()
