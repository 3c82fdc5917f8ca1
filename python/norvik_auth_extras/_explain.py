"""explain: what one init data holds, whether it passes, and why its hash does not match.

A report may end up in a log, a debug page or a support ticket, so nothing in it helps anyone
sign data: it never shows the token, the key, or more than the first 8 hex digits of a hash
computed under a key. Every character from the data that could move the cursor, end a line or
turn the text around is escaped, so that each line of the report is its own.
"""

# pyright: strict
from __future__ import annotations

import hashlib
import hmac
import math
import re
import time
from typing import Optional
from urllib.parse import quote, unquote_plus, urlencode

import norvik_auth
from norvik_binding import PanicException

from ._keys import KeyLike, key_bytes
from ._signing import data_check_string, hex_hmac
from ._verifier import InitDataError, Verifier, as_seconds

# Far above any real init data (about 1 KiB), and low enough that any text explains in a few
# tens of milliseconds: longer text is reported as too large, without being parsed.
MAX_CHARS = 65536
# Of a hash computed under a key, no more than this many hex digits is shown: enough to tell two
# hashes apart, far too few to forge one.
SHOWN_DIGITS = 8

# The record's fields but hash, which is shown beside the computed one.
_RECORD_FIELDS = ("query_id", "user", "receiver", "chat", "chat_type", "chat_instance",
                  "start_param", "can_send_after", "auth_date")
# The start of a JSON object (group 1) or of a Python dict's repr: a quoted key and a colon. Read
# no further: parsing the rest would cost time and recursion in proportion to the text.
_FIRST_KEY = re.compile(r"\{\s*(?:(\"[^\"\\]*\")|'[^'\\]*')\s*:")


def shown(line: str) -> str:
    """The line with every character that str.isprintable refuses (controls, format and bidi
    characters, separators but the space, surrogates, unassigned code points) escaped as in a
    Python literal."""
    if line.isprintable():
        return line
    return "".join(c if c.isprintable() else
                   f"\\x{ord(c):02x}" if ord(c) < 0x100 else
                   f"\\u{ord(c):04x}" if ord(c) < 0x10000 else f"\\U{ord(c):08x}" for c in line)


def split_pairs(text: str) -> list[tuple[str, str]]:
    """The pairs of a form-encoded text, neither name nor value decoded."""
    return [(name, value) for name, _, value in (part.partition("=")
                                                  for part in text.split("&") if part)]


def decode_pairs(text: str) -> list[tuple[str, str]]:
    """The pairs as the parser decodes them: "+" is a space, then percent-decoding as UTF-8."""
    return [(unquote_plus(name), unquote_plus(value)) for name, value in split_pairs(text)]


def _same_hash(computed: str, received: str) -> bool:
    # As bytes: compare_digest refuses a str with non-ASCII characters, as a received hash may be.
    return hmac.compare_digest(computed.encode(), received.encode())


def _validates(text: str, key: bytes) -> bool:
    try:
        record = norvik_auth.parse_webapp_data(text)
    except (PanicException, UnicodeEncodeError):  # unparsable, or no UTF-8 form
        return False
    return norvik_auth.validate_webapp_data(record, key)


def _wrong_derivation(token: str, message: str, received: str) -> Optional[str]:
    """How the sender's key was derived, when it is one of the usual mistakes."""
    raw = token.encode()
    candidates = (
        ("a plain SHA-256 of the token", hashlib.sha256(raw).digest()),
        ("the token's bytes used as the key", raw),
        ("HMAC with token and derivation key swapped", hmac.new(raw, b"SignedView",
                                                                hashlib.sha256).digest()),
    )
    for how, key in candidates:
        if _same_hash(hex_hmac(key, message), received):
            return how
    return None


def _dict_shape(text: str) -> Optional[str]:
    stripped = text.strip()
    if not (stripped.startswith("{") and stripped.endswith("}")):
        return None
    first_key = _FIRST_KEY.match(stripped)
    if first_key is None:
        return "an object's text form"
    return "a JSON object" if first_key.group(1) else "a Python dict's repr"


def _reshaped(pairs: list[tuple[str, str]]) -> list[str]:
    return [name for name, value in dict(pairs).items()
            if name != "hash" and value and ("=" in name or "\n" in name + value)]


def _likely_cause(text: str, key: bytes, bot_token: Optional[str],
                  message: Optional[str], received: Optional[str]) -> list[str]:
    if bot_token is not None and message is not None and received is not None:
        how = _wrong_derivation(bot_token, message, received)
        if how is not None:
            return [f"a key derived the wrong way: the hash was made with {how}.",
                    "The key is HMAC-SHA-256 of the token under the key b\"SignedView\" "
                    "(get_secret_key)."]
    shape = _dict_shape(text)
    if shape is None and '{"' in text and "%" not in text:
        again = urlencode(split_pairs(text), quote_via=quote)
        verdict = ("re-encoding it validates: pass the string exactly as received, undecoded"
                   if _validates(again, key) else "re-encoding it does not validate either")
        return ["the text was already percent-decoded (it holds a raw '{\"' and no '%');",
                verdict + "."]
    if shape is not None:
        return [f"the text is {shape}, not the raw init data: pass the query string the web "
                "app received, unchanged."]
    names = _reshaped(decode_pairs(text))
    if names:
        return ["reshaped lines: " + ", ".join(repr(n) for n in names) + " holds '=' in a name "
                "or a line feed, which validation always refuses."]
    if message is None:
        return ["none of the usual ones; the parser's message above says what is wrong."]
    return ["another bot's token, or altered."]


def _age(seconds: float) -> str:
    span = abs(seconds)
    if span < 120:
        text = f"{span:.0f} s"
    elif span < 7200:
        text = f"{span / 60:.0f} min"
    elif span < 172800:
        text = f"{span / 3600:.1f} h"
    else:
        text = f"{span / 86400:.1f} days"
    return text + (" in the future" if seconds < 0 else " old")


def _judged_at(now: object) -> float:
    if now is None:
        return time.time()
    seconds = as_seconds("now", now)
    if not math.isfinite(seconds):
        raise ValueError(f"now must be a finite Unix time, not {seconds!r}")
    return seconds


def report(init_data: str, *, bot_token: Optional[str] = None,
           secret_key: Optional[KeyLike] = None,
           now: Optional[float] = None) -> tuple[str, Optional[bool]]:
    """The text of explain and whether the init data passes a Verifier with default settings;
    None when it is too large to be judged."""
    key = key_bytes(bot_token, secret_key)
    at = _judged_at(now)
    if not isinstance(init_data, str):  # pyright: ignore[reportUnnecessaryIsInstance]
        raise TypeError(f"init_data must be a str, not {type(init_data).__name__}")
    if len(init_data) > MAX_CHARS:
        return (f"init data: {len(init_data)} characters, more than the {MAX_CHARS} that explain "
                "reads; not parsed", None)
    out = [f"init data: {len(init_data)} characters"]
    message = received = None
    try:
        record = norvik_auth.parse_webapp_data(init_data)
    except (PanicException, UnicodeEncodeError) as error:
        out.append(f"parsing fails: {error}")
    else:
        out.append("fields:")
        for name in _RECORD_FIELDS:
            value = getattr(record, name)
            if value is not None:
                out.append(f"  {name}: {value!r}")
        message = data_check_string(decode_pairs(init_data))
        received = record.hash
        out.append(f"data-check string ({message.count(chr(10)) + 1 if message else 0} lines):")
        out.extend(f"  {line}" for line in message.split("\n"))
        out.append(f"received hash: {received}")
        computed = hex_hmac(key, message)
        out.append(f"computed hash: {computed[:SHOWN_DIGITS]}... (its first {SHOWN_DIGITS} hex "
                   f"digits), {'the same as' if _same_hash(computed, received) else 'unlike'} "
                   "the received one")
        auth_date = record.auth_date
        out.append("age: no auth_date" if auth_date is None else
                   f"age: {_age(at - auth_date)} (auth_date {auth_date}, now {at:.0f})")
    verifier = Verifier(secret_key=key, clock=lambda: at)
    try:
        verifier.verify(init_data)
    except InitDataError as error:
        detail = f" ({error.detail})" if error.detail and error.reason != "malformed" else ""
        out.append(f"verdict: refused, {error.reason}: {error}{detail}")
        if error.reason in ("malformed", "signature"):
            cause = _likely_cause(init_data, key, bot_token, message, received)
            out.append("likely cause: " + cause[0])
            out.extend("  " + line for line in cause[1:])
        return "\n".join(map(shown, out)), False
    out.append(f"verdict: valid (signature matches; age within {verifier.max_age:g} s)")
    return "\n".join(map(shown, out)), True


def explain(init_data: str, *, bot_token: Optional[str] = None,
            secret_key: Optional[KeyLike] = None, now: Optional[float] = None) -> str:
    """A readable account of ``init_data``: its fields, the data-check string, the received hash
    and whether the one computed under the key matches it (only the first 8 hex digits of that
    are shown), its age and the verdict of a default Verifier, with the likely cause of a bad
    signature. Never shows the token or the key; characters from the data that are not printable
    are escaped. Text over 65536 characters (64 KiB) is reported as too large, unparsed.
    ``now`` is a finite Unix time (default: the clock's)."""
    return report(init_data, bot_token=bot_token, secret_key=secret_key, now=now)[0]
