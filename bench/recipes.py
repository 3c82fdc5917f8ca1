"""The pure-Python recipes the module is compared with, and the check that every side does the
same job before any of them is timed."""

from __future__ import annotations

import sys
from dataclasses import dataclass
from typing import Any, Callable, Sequence

import norvik_auth
import reference
import reference_orjson
from workloads import (BOT_TOKEN, CHAT_ATTRS, INIT_ATTRS, OTHER_BOT_TOKEN, TYPICAL_USER,
                       USER_ATTRS, Workload)

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


def baseline_note_for(w: Workload, recipe: Recipe) -> str:
    """What a recipe does with an input it is not timed on: the error it stops with."""
    try:
        recipe.parse(w.query)
    except RecursionError:
        return "RecursionError"
    except Exception as e:  # a recipe's failure is a finding, not a crash of the benchmark
        return type(e).__name__
    return "not timed"
