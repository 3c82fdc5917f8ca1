"""What Verifier.verify adds to the module's own two calls on an accepted input."""

from __future__ import annotations

import datetime
import statistics
from dataclasses import dataclass
from typing import Any, Optional

import norvik_auth
from timing import Side, time_rounds
from workloads import BOT_TOKEN, signed_query, typical_pairs


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
