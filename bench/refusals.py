"""Refusals: what turning init data away costs, against an accepted parse of the typical input
and against the standard-library recipe doing the same, all timed in the same rounds.

Each refused input is the typical one spoilt in one way (or junk), refused by
``parse_webapp_data``, by ``validate_webapp_data`` (a forged signature) or by
``Verifier.verify``; the recipe refuses the same input with its own parser, validation and
verification (reference.py).
"""

from __future__ import annotations

import importlib.util
import json
import random
import statistics
import string
from dataclasses import dataclass
from typing import Any, Sequence
from urllib.parse import urlencode

import norvik_auth
import reference
from timing import Side, fmt_ratio, fmt_time, print_columns, time_rounds
from workloads import BOT_TOKEN, TYPICAL_USER, json_text, signed_query, typical_pairs

# The verifier's rows need the companion, which a bare build tree lacks.
HAVE_VERIFIER = importlib.util.find_spec("norvik_auth_extras") is not None

GARBAGE_SIZE = 300
# Goals: a refused parse costs at most an accepted one; the verifier refuses junk, a missing
# hash and bad JSON at least this many times faster than the recipe.
REFUSED_PARSE_BOUND = 1.0
VERIFY_SPEEDUP_BOUND = 3.0


@dataclass(frozen=True)
class Refusal:
    name: str
    operation: str  # "parse", "validate" or "verify"
    query: str
    # Whether the verifier's speed-up over the recipe is a goal for this input.
    speedup_goal: bool = False


@dataclass
class RefusalTimes:
    refusal: Refusal
    module_ns: float
    recipe_ns: float
    to_accepted: float  # module refusal : module accepted parse, median of the per-round ratios
    speedup: float  # recipe : module, median of the per-round ratios


@dataclass
class RefusalTable:
    accepted_ns: float
    recipe_accepted_ns: float
    rows: list[RefusalTimes]


def garbage(alphabet: str) -> str:
    """Junk of GARBAGE_SIZE characters, the same in every run."""
    return "".join(random.Random(GARBAGE_SIZE).choices(alphabet, k=GARBAGE_SIZE))


def with_user(user: str) -> list[tuple[str, str]]:
    return [(name, user if name == "user" else value) for name, value in typical_pairs()]


def refusals(secret_key: bytes) -> list[Refusal]:
    """The typical input spoilt one way at a time, signed as a client would still sign it."""
    user = json_text(TYPICAL_USER)
    pairs = typical_pairs()
    forged = signed_query(pairs, secret_key)[:-64] + "0" * 64
    printable = string.ascii_letters + string.digits + string.punctuation
    refused = [
        Refusal("empty", "parse", ""),
        Refusal("no hash", "parse", urlencode(pairs)),
        Refusal("user is not JSON (first byte)", "parse",
                signed_query(with_user("x" + user[1:]), secret_key)),
        Refusal("user has a bad last byte", "parse",
                signed_query(with_user(user[:-1] + "x"), secret_key)),
        Refusal("bad auth_date", "parse", signed_query(
            [(n, v + "x" if n == "auth_date" else v) for n, v in pairs], secret_key)),
        Refusal("user is an array", "parse", signed_query(
            with_user(json.dumps(list(TYPICAL_USER.values()), ensure_ascii=False)), secret_key)),
        Refusal("forged signature", "validate", forged),
    ]
    if HAVE_VERIFIER:
        refused += [
            Refusal(f"garbage: {GARBAGE_SIZE} printable characters", "verify",
                    garbage(printable), True),
            Refusal(f"garbage: {GARBAGE_SIZE} letters and digits", "verify",
                    garbage(string.ascii_letters + string.digits), True),
            Refusal("no hash", "verify", urlencode(pairs), True),
            Refusal("user is not JSON (first byte)", "verify",
                    signed_query(with_user("x" + user[1:]), secret_key), True),
            Refusal("forged signature", "verify", forged),
        ]
    return refused


def panic_exception() -> type[BaseException]:
    """The class of the module's refusals (norvik_binding's PanicException, which a bare build
    tree does not have to import it from)."""
    try:
        norvik_auth.parse_webapp_data("")
    except BaseException as error:  # noqa: B902 - PanicException is no Exception
        return type(error)
    raise AssertionError("the module accepted empty init data")


def check_refused(refused: Sequence[Refusal], key: list[int]) -> None:
    """Every input is refused by both sides, in the way its row says."""
    for r in refused:
        if r.operation == "validate":
            record = norvik_auth.parse_webapp_data(r.query)
            assert not norvik_auth.validate_webapp_data(record, key), r.name
        else:
            try:
                module_side(r, key).timer().timeit(1)
            except BaseException as error:  # noqa: B902 - anything escaping is a failure
                raise AssertionError(f"the module did not refuse {r.name!r}: {error!r}") from None
        try:
            reference.verify_init_data(r.query, key)
        except reference.InitDataError:
            continue
        raise AssertionError(f"the recipe accepted {r.name!r}")


def module_side(r: Refusal, key: list[int]) -> Side:
    """The module refusing `r`: a refusal that is not the expected exception escapes."""
    if r.operation == "validate":
        return Side("validate(r, key)",
                    {"validate": norvik_auth.validate_webapp_data,
                     "r": norvik_auth.parse_webapp_data(r.query), "key": key})
    if r.operation == "verify":
        from norvik_auth_extras import InitDataError, Verifier

        return Side("try:\n    verify(q)\nexcept InitDataError:\n    pass",
                    {"verify": Verifier(bot_token=BOT_TOKEN).verify, "q": r.query,
                     "InitDataError": InitDataError})
    return Side("try:\n    parse(q)\nexcept PanicException:\n    pass",
                {"parse": norvik_auth.parse_webapp_data, "q": r.query,
                 "PanicException": panic_exception()})


def recipe_side(r: Refusal, key: list[int]) -> Side:
    """The standard-library recipe refusing `r` its own way."""
    if r.operation == "validate":
        return Side("validate(r, key)", {"validate": reference.validate_init_data,
                                         "r": reference.parse_init_data(r.query), "key": key})
    ns: dict[str, Any] = {"q": r.query, "key": key, "InitDataError": reference.InitDataError,
                          "parse": reference.parse_init_data, "verify": reference.verify_init_data}
    call = "verify(q, key)" if r.operation == "verify" else "parse(q)"
    return Side(f"try:\n    {call}\nexcept InitDataError:\n    pass", ns)


def time_refusals(accepted_query: str, refused: Sequence[Refusal], key: list[int], rounds: int,
                  seconds: float) -> RefusalTable:
    """Every side, the module's and the recipe's, accepted and refused, in the same rounds."""
    sides = [Side("parse(q)", {"parse": norvik_auth.parse_webapp_data, "q": accepted_query}),
             Side("parse(q)", {"parse": reference.parse_init_data, "q": accepted_query})]
    for r in refused:
        sides += [module_side(r, key), recipe_side(r, key)]
    times = time_rounds(sides, rounds, seconds)
    accepted = times[0]
    rows = []
    for i, r in enumerate(refused):
        module, recipe = times[2 + 2 * i], times[3 + 2 * i]
        rows.append(RefusalTimes(
            r, statistics.median(module), statistics.median(recipe),
            statistics.median(m / a for m, a in zip(module, accepted)),
            statistics.median(b / m for b, m in zip(recipe, module))))
    return RefusalTable(statistics.median(accepted), statistics.median(times[1]), rows)


def print_refusals(table: RefusalTable, accepted_size: int) -> None:
    header = ["refused by", "input", "module", ": accepted", "stdlib", "stdlib : module"]
    cells = [["parse", f"accepted: typical ({accepted_size} B)", fmt_time(table.accepted_ns),
              "1.00x", fmt_time(table.recipe_accepted_ns),
              fmt_ratio(table.recipe_accepted_ns / table.accepted_ns)]]
    for row in table.rows:
        cells.append([row.refusal.operation, row.refusal.name, fmt_time(row.module_ns),
                      f"{row.to_accepted:.2f}x", fmt_time(row.recipe_ns), fmt_ratio(row.speedup)])
    print_columns(header, cells, 2)
    print(": accepted = refusal time / accepted parse time, stdlib : module = recipe time / "
          "module time, each the median of the per-round ratios")
