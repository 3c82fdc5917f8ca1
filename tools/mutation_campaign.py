#!/usr/bin/env python3
"""Mutation campaign over the C++ fast paths: how many planted faults does the test suite catch?

Mutants come from universalmutator (PyPI: `pip install universalmutator`, which provides the
`mutate` command; its C++ rules flip comparisons, shift constants by one, swap `&&`/`||` and
arithmetic operators, delete statements, replace constants by 0/1 and so on). Each mutant
changes one line of one target file. Mutants that cannot matter or cannot build are left out
before sampling: changes on comment, preprocessor, brace-only or `namespace`/`using` lines,
changes after a `//` and changes inside an identifier (`uint64_t` -> `uint1_t`). From the rest,
the pool is sorted, shuffled with `--seed`, and the first `--count` mutants that pass
`g++ -fsyntax-only` are taken (so the same sources, seed and universalmutator version give the
same mutants on every machine; the syntax results are cached in build/mutation).

For every mutant, in a private copy of CMakeLists.txt and src/ under
build/mutation/tree-<stem of --out> (the worktree is never touched), the mutated file is written, the module is rebuilt incrementally
(`cmake -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo`, no link-time optimisation) and
`pytest -x -q -p no:cacheprovider` runs with PYTHONPATH=<build dir> under a timeout, all under
`nice`. Outcome per mutant: killed (a test failed, the interpreter crashed or the timeout hit),
survived (the suite passed) or build-failed. The score is killed / (killed + survived).

The tests come from a snapshot of the worktree's tests/ (with stubs/, src/ and pyproject.toml,
which some tests read) taken at the start, or with `--tests REV` from that git revision (the
whole tree at REV is extracted to build/mutation/tests-REV); pytest runs there, and only the
module under test comes from the mutated build. Results go to a JSON file (`--out`, written
after every mutant, so an interrupted run resumes where it stopped when started again with the same
arguments).

Survivors judged equivalent (no input through the module's Python functions can tell the built
mutant from the original; two of them only because of what g++ makes of undefined behaviour,
or reading a byte that is never used) are listed with the reason in EQUIVALENT below and
reported apart from the score. They, and the two runs below, were judged on the sources of
commit b30d73d (the campaign was run from a worktree at that commit); on later sources the sampled
mutants differ, and survivors must be judged anew.

Reproduce the two runs of the campaign (each about 40 minutes on two busy cores):

    .venv/bin/pip install universalmutator hypothesis
    .venv/bin/python tools/mutation_campaign.py --tests b30d73d --out build/mutation/before.json
    .venv/bin/python tools/mutation_campaign.py --out build/mutation/after.json \
        --deselect tests/test_properties.py::TestLinesThatDoNotStandForOnePair

(HYPOTHESIS_PROFILE=mutation, set for pytest, draws the same examples as CI but skips
shrinking: a failing test is all a mutant needs. The deselected class waits for a change to
validate_webapp_data and fails on the sources as they are.)

`--only-survivors-of before.json` runs only the mutants that survived another run. The after
suite only adds tests to the before suite, so a mutant killed before stays killed (by the same
test) and the after score can be had from the survivors alone; the report shows which mutants
were taken from the other file. `--list` prints the sampled mutants and stops; `--report`
prints the report of an earlier run's `--out` file again (with the current list of equivalent
survivors).
"""

from __future__ import annotations

import argparse
import hashlib
import json
import os
import random
import re
import resource
import shutil
import signal
import subprocess
import sys
import tarfile
import io
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
WORK = ROOT / "build" / "mutation"
TARGETS = [
    "src/lib/percent_decode.cpp",
    "src/lib/form_urlencoded.cpp",
    "src/webapp_data/json_reader.cpp",
    "src/lib/data_check_string.cpp",
    "src/lib/field_map.cpp",
    "src/webapp_data/text_form.cpp",
    "src/lib/decimal_u64.cpp",
    "src/lib/signature.cpp",
]
DEFAULT_SEED = 20261208
DEFAULT_COUNT = 250

# Survivors that no input can tell from the original, by mutant id, with the reason.
_SPEED_ONLY_START = "decoding starts at an earlier offset of the component; the bytes come out the same"
_COUNT_UNUSED = ("the count only sizes a second decoding attempt, needed when decoding makes a text longer; "
                 "from Python the raw text is well-formed UTF-8 and an escape (3 bytes) becomes at most one "
                 "byte or one U+FFFD (3 bytes), so that attempt never happens")
EQUIVALENT: dict[str, str] = {
    "percent_decode:40:bdd28873": "an extra row of the pack table that no mask selects",
    "percent_decode:40:cc09692a": "rows get a ninth entry; only the first eight of a row are loaded",
    "percent_decode:52:ec863ded": "unused shuffle lanes copy a lane instead of zero; those bytes land past the "
                                  "output's end and are overwritten by the next store or cut off",
    "percent_decode:125:fd794d9c": "carried is 0, 1 or 3 (an escape in lane 14 or 15), so <= 1 and == 1 agree",
    "percent_decode:137:36f46409": "the vector loop is never chosen; the scalar loop gives the same bytes",
    "percent_decode:145:449a9236": "short components enter the vector function, whose loop does not run, and "
                                   "long ones the scalar loop: the same bytes either way",
    "percent_decode:162:3dafd19d": "unsigned: <= 0 is == 0",
    "percent_decode:173:dd8e571a": "with fewer than three bytes left `high` is already not a digit, so `low` is "
                                   "never used; reads one byte past the component (inside the text or its "
                                   "terminator), which only a sanitizer could notice",
    "form_urlencoded:27:6cc593ca": "without the table, the scan's tail stops at its first byte: " + _SPEED_ONLY_START,
    "form_urlencoded:38:3518f060": "the ASCII scan stops early; the UTF-8 check then steps over ASCII one byte "
                                   "at a time with the same answer",
    "form_urlencoded:38:fad27b14": "the ASCII scan stops early; the UTF-8 check then steps over ASCII one byte "
                                   "at a time with the same answer",
    "form_urlencoded:96:039e2336": "taken counts up from 1 and stops at rest.size(): != and < agree",
}
for _id in ("form_urlencoded:46:30a93e37", "form_urlencoded:48:029d4ded", "form_urlencoded:49:978b9f73",
            "form_urlencoded:51:a2179b87", "form_urlencoded:52:fdc1111a"):
    EQUIVALENT[_id] = _COUNT_UNUSED
for _id in ("form_urlencoded:62:12d4df37", "form_urlencoded:62:e865b1d5"):
    EQUIVALENT[_id] = ("flags holds only 0x80 bits, never 1 or all ones; a word without specials then "
                       "gives the next word's offset: " + _SPEED_ONLY_START)
for _id in ("form_urlencoded:64:4d82685d", "form_urlencoded:64:5b870b7b"):
    EQUIVALENT[_id] = "the tail scan stops early or the same: " + _SPEED_ONLY_START
_UNREACHABLE_RETRY = ("the decoded buffer never moves from Python (decoding never makes the text longer, "
                      "see the count above), so the retry and its check never act")
_WELL_FORMED = ("texts are always well-formed UTF-8 (decoded parts are repaired, JSON strings are checked), "
                "so a byte that starts no sequence, or a sequence cut short, never reaches the quoting")
EQUIVALENT.update({
    "form_urlencoded:86:3fdf6c93": "inside the branch for leads E0-EF, <= 0xE0 is == 0xE0",
    "form_urlencoded:93:601c002e": "equivalent as built, not in the source: `expected` is then read uninitialised, "
                                   "and g++ 12 -O2 compiles the path to the same results (checked by hand on "
                                   "%80%BF, %FF%BF%BF%BF, %C0%80, %F5%80%80%80, x%80); only a sanitizer or "
                                   "another compiler could tell",
    "form_urlencoded:136:69e9bdb0": "position == size stands for an empty trailing sequence, which is skipped anyway",
    "form_urlencoded:194:8e375ad4": _UNREACHABLE_RETRY,
    "form_urlencoded:222:1c8ec479": _UNREACHABLE_RETRY,
    "form_urlencoded:222:27cb14cd": _UNREACHABLE_RETRY,
    "json_reader:152:2c10e765": "next_or_end() gives a byte (0-255) or kEnd (-1): <= kEnd is == kEnd",
    "data_check_string:39:2eab4718": "the shortcut now runs only when a name is empty; the byte read at an empty "
                                      "name is the '=' that ends it, which is the first byte of its line, so the "
                                      "answer is the same, and otherwise the full comparison decides",
    "data_check_string:40:91e219cc": "without the shortcut's return the full comparison gives the same answer",
    "data_check_string:43:f7701909": "names is non-zero there: < 1 is < 0",
    "field_map:44:433af624": "repeated names are always found by the pairwise loop, which is only slower",
    "field_map:67:3cdfa6a5": "the other of two correct ways of keeping the last value of each name is taken",
    "field_map:67:e1b0b290": "the other of two correct ways of keeping the last value of each name is taken",
    "field_map:81:21178fe3": "the stable sort runs in descending order: equal names stay adjacent in input order, "
                             "and nothing depends on the order of the surviving entries (fields are looked up "
                             "by name, the data-check lines are sorted afterwards)",
    "field_map:87:a32c73a3": "in ascending order the next name is never smaller: <= is ==",
    "decimal_u64:18:3bd5fdab": "the value that comes with an error is never read",
    "text_form:49:d9b5e55f": _WELL_FORMED,
    "text_form:49:e17ee438": _WELL_FORMED,
    "text_form:54:584de435": "i counts up from 1 to length (>= 2 there): != and < agree",
    "text_form:76:9b4ca532": "p advances by at most the bytes left, so it never passes end: != and < agree",
    "text_form:90:f11e32a7": _WELL_FORMED,
    "text_form:91:e141ba1b": "length is at least 1: <= 1 is == 1",
    "text_form:92:42ad520f": _WELL_FORMED,
    "text_form:92:5e8b806a": _WELL_FORMED,
})

SKIPPED_LINE = re.compile(r"^\s*(//|/\*|\*|#|namespace\b|using\b|}\s*//\s*namespace|[{}();\s]*$)")


def run(command, **kwargs) -> subprocess.CompletedProcess:
    return subprocess.run(command, check=True, text=True, **kwargs)


def mutate_command() -> str:
    candidate = Path(sys.executable).with_name("mutate")
    found = str(candidate) if candidate.exists() else shutil.which("mutate")
    if not found:
        sys.exit("universalmutator's `mutate` command was not found: pip install universalmutator")
    return found


def changed_span(original: str, mutated: str) -> tuple[int, str, str]:
    """Start of the change in the line, and the original and new text of the changed span."""
    start = 0
    while start < min(len(original), len(mutated)) and original[start] == mutated[start]:
        start += 1
    end_o, end_m = len(original), len(mutated)
    while end_o > start and end_m > start and original[end_o - 1] == mutated[end_m - 1]:
        end_o -= 1
        end_m -= 1
    return start, original[start:end_o], mutated[start:end_m]


def worth_building(original: str, mutated: str) -> bool:
    if SKIPPED_LINE.match(original):
        return False
    start, old, new = changed_span(original, mutated)
    comment = original.find("//")
    if comment != -1 and start >= comment:
        return False
    # A digit swapped inside a name (`uint64_t` -> `uint1_t`) only breaks the build.
    before = original[:start]
    if re.search(r"[A-Za-z_]\w*$", before) and re.match(r"\w", old or "") and re.match(r"\w", new or ""):
        return False
    return True


def generate_pool() -> list[dict]:
    """Every mutant of the target files worth building, in a fixed order."""
    pool: list[dict] = []
    seen: set[str] = set()
    tool = mutate_command()
    for target in TARGETS:
        source = (ROOT / target).read_text()
        lines = source.splitlines(keepends=True)
        out_dir = WORK / "generated" / Path(target).stem
        shutil.rmtree(out_dir, ignore_errors=True)
        out_dir.mkdir(parents=True, exist_ok=True)
        for stale in out_dir.glob("*"):
            stale.unlink()
        subprocess.run([tool, str(ROOT / target), "cpp", "--noCheck", "--mutantDir", str(out_dir)],
                       cwd=out_dir, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for path in sorted(out_dir.glob("*.mutant.*.cpp"), key=lambda p: int(p.name.split(".")[-2])):
            mutated = path.read_text()
            digest = hashlib.sha1(mutated.encode()).hexdigest()
            if digest in seen:
                continue
            mutated_lines = mutated.splitlines(keepends=True)
            if len(mutated_lines) != len(lines):
                continue
            changed = [i for i, (a, b) in enumerate(zip(lines, mutated_lines)) if a != b]
            if len(changed) != 1:
                continue
            index = changed[0]
            original_line = lines[index].rstrip("\n")
            mutated_line = mutated_lines[index].rstrip("\n")
            if not worth_building(original_line, mutated_line):
                continue
            seen.add(digest)
            pool.append({
                "id": f"{Path(target).stem}:{index + 1}:{digest[:8]}",
                "file": target,
                "line": index + 1,
                "original": original_line,
                "mutated": mutated_line,
            })
    pool.sort(key=lambda m: (m["file"], m["line"], m["mutated"]))
    return pool


def compiles(mutant: dict, cache: dict[str, bool]) -> bool:
    """Whether the mutated file passes `g++ -fsyntax-only`: far cheaper than a failed build."""
    if mutant["id"] in cache:
        return cache[mutant["id"]]
    lines = (ROOT / mutant["file"]).read_text().splitlines(keepends=True)
    lines[mutant["line"] - 1] = mutant["mutated"] + "\n"
    probe = WORK / "probe" / Path(mutant["file"]).name
    probe.parent.mkdir(parents=True, exist_ok=True)
    probe.write_text("".join(lines))
    result = subprocess.run(["nice", "g++", "-std=c++20", "-fsyntax-only", f"-I{ROOT / 'src'}", str(probe)],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    cache[mutant["id"]] = result.returncode == 0
    return cache[mutant["id"]]


def sample(pool: list[dict], count: int, seed: int) -> list[dict]:
    """`count` mutants that compile, drawn in a seeded order from the pool."""
    order = list(pool)
    random.Random(seed).shuffle(order)
    cache_path = WORK / "syntax-cache.json"
    cache = json.loads(cache_path.read_text()) if cache_path.exists() else {}
    chosen = []
    for mutant in order:
        if len(chosen) == count:
            break
        if compiles(mutant, cache):
            chosen.append(mutant)
    cache_path.write_text(json.dumps(cache))
    # Grouped by file so that consecutive mutants rebuild the same object.
    return sorted(chosen, key=lambda m: (TARGETS.index(m["file"]), m["line"], m["id"]))


def prepare_tree(name: str) -> Path:
    tree = WORK / f"tree-{name}"
    for part in ("src",):
        shutil.rmtree(tree / part, ignore_errors=True)
    tree.mkdir(parents=True, exist_ok=True)
    # Fresh modification times, newer than any object a killed earlier run built from a mutant.
    shutil.copytree(ROOT / "src", tree / "src", copy_function=shutil.copy)
    shutil.copy(ROOT / "CMakeLists.txt", tree / "CMakeLists.txt")
    build = tree / "build"
    run(["cmake", "-S", str(tree), "-B", str(build), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=RelWithDebInfo",
         f"-DPython_EXECUTABLE={sys.executable}"], stdout=subprocess.DEVNULL)
    return tree


def prepare_tests(revision: str | None, name: str) -> Path:
    """The directory pytest runs in: the tree of `revision` extracted, or a snapshot of the
    worktree's tests, taken once so that editing them during a run cannot change its suite."""
    if revision is None:
        target = WORK / f"tests-{name}"
        shutil.rmtree(target, ignore_errors=True)
        target.mkdir(parents=True)
        for part in ("tests", "stubs", "src"):
            shutil.copytree(ROOT / part, target / part, ignore=shutil.ignore_patterns("__pycache__"))
        shutil.copy2(ROOT / "pyproject.toml", target / "pyproject.toml")
        return target
    commit = run(["git", "-C", str(ROOT), "rev-parse", "--short", revision], capture_output=True).stdout.strip()
    target = WORK / f"tests-{commit}"
    shutil.rmtree(target, ignore_errors=True)
    target.mkdir(parents=True)
    archive = subprocess.run(["git", "-C", str(ROOT), "archive", commit], check=True, capture_output=True).stdout
    with tarfile.open(fileobj=io.BytesIO(archive)) as tar:
        tar.extractall(target)
    return target


def limit_memory() -> None:
    os.setsid()
    os.nice(10)
    limit = 6 << 30  # a runaway mutant must not take the machine's memory from the others
    resource.setrlimit(resource.RLIMIT_AS, (limit, limit))


def timed(command, cwd, env, timeout) -> tuple[int | None, str]:
    """Return code (None on timeout) and output of a command run in its own process group."""
    with subprocess.Popen(command, cwd=cwd, env=env, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace", preexec_fn=limit_memory) as process:
        try:
            output, _ = process.communicate(timeout=timeout)
            return process.returncode, output
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            output, _ = process.communicate()
            return None, output


def build(tree: Path, jobs: int) -> tuple[bool, str]:
    code, output = timed(["ninja", "-C", str(tree / "build"), f"-j{jobs}"], tree, os.environ.copy(), 600)
    return code == 0, output


def run_tests(tree: Path, test_root: Path, timeout: int, extra_env: dict,
              pytest_args: list[str]) -> tuple[int | None, str]:
    env = os.environ.copy()
    env.update(extra_env)
    env["PYTHONPATH"] = str(tree / "build")
    env.pop("PYTHONHOME", None)
    return timed([sys.executable, "-m", "pytest", "-x", "-q", "-p", "no:cacheprovider", *pytest_args, "tests"],
                 test_root, env, timeout)


def first_failure(output: str) -> str:
    for line in output.splitlines():
        if line.startswith(("FAILED ", "ERROR ")):
            return line.split(" - ")[0][:200]
    return output.strip().splitlines()[-1][:200] if output.strip() else ""


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--tests", metavar="REV", help="run the tests of this git revision")
    parser.add_argument("--count", type=int, default=DEFAULT_COUNT)
    parser.add_argument("--seed", type=int, default=DEFAULT_SEED)
    parser.add_argument("--jobs", type=int, default=2, help="ninja jobs")
    parser.add_argument("--timeout", type=int, default=180, help="seconds for one pytest run")
    parser.add_argument("--out", type=Path, default=WORK / "results.json")
    parser.add_argument("--only-survivors-of", type=Path, metavar="RESULTS",
                        help="run only the mutants that survived in RESULTS; take the others' outcome from it")
    parser.add_argument("--only", action="append", default=[], metavar="ID", help="run only these mutants")
    parser.add_argument("--list", action="store_true", help="print the sampled mutants and stop")
    parser.add_argument("--report", action="store_true", help="print the report of --out and stop")
    parser.add_argument("--env", action="append", default=[], metavar="NAME=VALUE",
                        help="extra environment for pytest (default: HYPOTHESIS_PROFILE=mutation)")
    parser.add_argument("--deselect", action="append", default=[], metavar="NODEID",
                        help="leave this test out (pytest --deselect), e.g. one that awaits a change")
    args = parser.parse_args()

    WORK.mkdir(parents=True, exist_ok=True)
    mutants = sample(generate_pool(), args.count, args.seed)
    if args.list:
        for m in mutants:
            print(f"{m['id']}: {m['original'].strip()}  ==>  {m['mutated'].strip()}")
        print(f"{len(mutants)} mutants")
        return

    results: dict[str, dict] = {}
    if args.out.exists():
        results = json.loads(args.out.read_text()).get("results", {})
    if args.report:
        report(mutants, results)
        return
    inherited: dict[str, dict] = {}
    if args.only_survivors_of:
        other = json.loads(args.only_survivors_of.read_text())["results"]
        for m in mutants:
            previous = other.get(m["id"])
            if previous and previous["status"] != "survived":
                inherited[m["id"]] = dict(previous, inherited_from=str(args.only_survivors_of))
    extra_env = {"HYPOTHESIS_PROFILE": "mutation"}
    extra_env.update(item.split("=", 1) for item in args.env)
    pytest_args = [arg for nodeid in args.deselect for arg in ("--deselect", nodeid)]

    tree = prepare_tree(args.out.stem)
    test_root = prepare_tests(args.tests, args.out.stem)
    ok, output = build(tree, args.jobs)
    if not ok:
        sys.exit("the unmutated sources do not build:\n" + output[-3000:])
    code, output = run_tests(tree, test_root, args.timeout * 2, extra_env, pytest_args)
    if code != 0:
        sys.exit("the suite fails on the unmutated module:\n" + output[-3000:])
    check = subprocess.run([sys.executable, "-c", "import norvik_auth; print(norvik_auth.__file__)"],
                           env=dict(os.environ, PYTHONPATH=str(tree / "build")), cwd=test_root,
                           capture_output=True, text=True, check=True).stdout.strip()
    if not check.startswith(str(tree / "build")):
        sys.exit(f"pytest would import the module from {check}, not from the mutated build")
    print(f"{len(mutants)} mutants; tests from {args.tests or 'the worktree'}; baseline passes", flush=True)

    def save() -> None:
        args.out.parent.mkdir(parents=True, exist_ok=True)
        args.out.write_text(json.dumps({"tests": args.tests or "worktree", "seed": args.seed,
                                        "count": args.count, "results": results}, indent=1))

    originals = {target: (tree / target).read_text() for target in TARGETS}
    # A terminated run still puts the original sources back (the finally clause below).
    signal.signal(signal.SIGTERM, lambda *_: sys.exit("terminated"))
    started = time.monotonic()
    try:
        for number, m in enumerate(mutants, 1):
            if m["id"] in inherited:
                results[m["id"]] = inherited[m["id"]]
                continue
            if args.only and m["id"] not in args.only:
                continue
            if m["id"] in results and "inherited_from" not in results[m["id"]]:
                continue
            lines = originals[m["file"]].splitlines(keepends=True)
            assert lines[m["line"] - 1].rstrip("\n") == m["original"], m["id"]
            lines[m["line"] - 1] = m["mutated"] + "\n"
            path = tree / m["file"]
            path.write_text("".join(lines))
            try:
                t0 = time.monotonic()
                ok, output = build(tree, args.jobs)
                if not ok:
                    outcome = {"status": "build-failed", "detail": ""}
                else:
                    code, output = run_tests(tree, test_root, args.timeout, extra_env, pytest_args)
                    if code is None:
                        outcome = {"status": "killed", "detail": "timeout"}
                    elif code == 0:
                        outcome = {"status": "survived", "detail": ""}
                    elif code < 0:
                        outcome = {"status": "killed", "detail": f"signal {-code}"}
                    else:
                        outcome = {"status": "killed", "detail": first_failure(output)}
            finally:
                path.write_text(originals[m["file"]])
            outcome.update(m, seconds=round(time.monotonic() - t0, 1))
            results[m["id"]] = outcome
            save()
            print(f"[{number}/{len(mutants)} {time.monotonic() - started:6.0f}s] {outcome['status']:12} "
                  f"{m['id']}: {m['mutated'].strip()[:90]}  {outcome['detail'][:80]}", flush=True)
    finally:
        for target, text in originals.items():
            if (tree / target).read_text() != text:
                (tree / target).write_text(text)
        save()

    report(mutants, results)


def report(mutants: list[dict], results: dict[str, dict]) -> None:
    counts = {"killed": 0, "survived": 0, "build-failed": 0}
    survivors = []
    for m in mutants:
        outcome = results.get(m["id"])
        if outcome is None:
            continue
        counts[outcome["status"]] += 1
        if outcome["status"] == "survived":
            survivors.append(outcome)
    done = counts["killed"] + counts["survived"]
    print()
    print("per file (killed/survived/build-failed):")
    for target in TARGETS:
        row = [sum(1 for m in mutants if m["file"] == target and results.get(m["id"], {}).get("status") == s)
               for s in ("killed", "survived", "build-failed")]
        print(f"  {target:36} {row[0]:4} {row[1]:4} {row[2]:4}")
    equivalent = [s for s in survivors if s["id"] in EQUIVALENT]
    print(f"\nsurvivors ({len(survivors)}):")
    for s in survivors:
        note = f"   [equivalent: {EQUIVALENT[s['id']]}]" if s["id"] in EQUIVALENT else ""
        print(f"  {s['id']}: {s['original'].strip()}  ==>  {s['mutated'].strip()}{note}")
    inherited = sum(1 for m in mutants if "inherited_from" in results.get(m["id"], {}))
    if inherited:
        print(f"\n{inherited} outcomes taken from {results[next(m['id'] for m in mutants if 'inherited_from' in results.get(m['id'], {}))]['inherited_from']}")
    print(f"\nkilled {counts['killed']}, survived {counts['survived']}, build-failed {counts['build-failed']}"
          f" of {len(mutants)} mutants")
    if done:
        print(f"score: {counts['killed']}/{done} = {100 * counts['killed'] / done:.1f}%")
        rest = done - len(equivalent)
        if equivalent and rest:
            print(f"score without the {len(equivalent)} equivalent survivors: "
                  f"{counts['killed']}/{rest} = {100 * counts['killed'] / rest:.1f}%")


if __name__ == "__main__":
    main()
