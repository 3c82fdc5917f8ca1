"""sign_init_data: init data signed as the platform signs it, for tests of a bot's server."""

# pyright: strict
from __future__ import annotations

import hashlib
import hmac
import json
import math
import numbers
import time
from collections.abc import Iterable, Mapping
from typing import Optional, cast
from urllib.parse import quote, urlencode

import norvik_auth
from norvik_binding import PanicException

from ._keys import KeyLike, key_bytes
from ._verifier import is_parse_refusal

# Members whose values are JSON records; a mapping given for one of them is encoded here.
JSON_MEMBERS = frozenset({"user", "receiver", "chat"})
# Members the parser reads as unsigned 64-bit integers.
TIME_MEMBERS = frozenset({"auth_date", "can_send_after"})


def data_check_string(pairs: Iterable[tuple[str, str]]) -> str:
    """The text the signature covers: every pair but hash with a non-empty value, the last of a
    name winning, as name=value lines sorted by their UTF-8 bytes and joined by line feeds."""
    fields = dict(pairs)
    lines = [f"{name}={value}" for name, value in fields.items() if name != "hash" and value]
    return "\n".join(sorted(lines, key=str.encode))


def hex_hmac(key: bytes, text: str) -> str:
    return hmac.new(key, text.encode(), hashlib.sha256).hexdigest()


def _json_member(name: str, value: Mapping[object, object]) -> str:
    members = dict(value)
    if name == "chat" and "type" in members:
        # The record's attribute is `type`, its JSON member `type_`: accept the attribute's name.
        if "type_" in members:
            raise ValueError("chat has both 'type' and 'type_'; its JSON member is 'type_'")
        members = {("type_" if k == "type" else k): v for k, v in members.items()}
    try:
        return json.dumps(members, ensure_ascii=False, separators=(",", ":"), allow_nan=False)
    except RecursionError:
        raise ValueError(f"field {name!r} is nested too deeply to encode") from None


def whole_seconds(name: str, value: object) -> int:
    """A time as the parser reads it: an integral number 0 to 2**64 - 1."""
    if isinstance(value, bool) or not isinstance(value, numbers.Real):
        raise TypeError(f"{name} must be an int, not {type(value).__name__}")
    if not isinstance(value, int):
        try:
            seconds = float(value)
        except OverflowError:
            raise ValueError(f"{name} must lie in 0 to 2**64 - 1") from None
        if not (math.isfinite(seconds) and seconds.is_integer()):
            raise ValueError(f"{name} must be a whole number of seconds, not {seconds!r}")
        value = int(seconds)
    if not 0 <= value < 2**64:
        raise ValueError(f"{name} must lie in 0 to 2**64 - 1")
    return int(value)


def _text(name: str, value: object) -> str:
    kind = type(value).__name__
    if isinstance(value, str):
        return value
    if name in TIME_MEMBERS:
        return str(whole_seconds(name, value))
    if isinstance(value, int) and not isinstance(value, bool):
        return str(value)
    if isinstance(value, Mapping) and name in JSON_MEMBERS:
        return _json_member(name, cast("Mapping[object, object]", value))
    expected = "str, int or dict" if name in JSON_MEMBERS else "str or int"
    raise TypeError(f"field {name!r} must be a {expected}, not {kind}")


def sign_init_data(
    fields: Mapping[str, object],
    *,
    bot_token: Optional[str] = None,
    secret_key: Optional[KeyLike] = None,
    auth_date: Optional[int] = None,
) -> str:
    """Percent-encoded init data holding ``fields`` and the ``hash`` the platform would append.

    Values are str or int; ``user``, ``receiver`` and ``chat`` may be dicts, written as compact
    JSON (a chat's ``"type"`` key is written as its JSON member ``"type_"``). A value None leaves
    the member out. ``auth_date`` is added unless ``fields`` has it: the given time, or now.
    Raises TypeError or ValueError for data that would not parse or validate: a line feed in a
    name or value, "=" in a name, a member named ``hash``, a time that is negative, fractional or
    beyond 64 bits, a user or chat of the wrong shape. What it returns parses to ``fields``.
    """
    key = key_bytes(bot_token, secret_key)
    if not isinstance(fields, Mapping):  # pyright: ignore[reportUnnecessaryIsInstance]
        raise TypeError(f"fields must be a mapping, not {type(fields).__name__}")
    pairs: list[tuple[str, str]] = []
    for name, value in fields.items():
        # For callers without a type checker.
        if not isinstance(name, str):  # pyright: ignore[reportUnnecessaryIsInstance]
            raise TypeError(f"field names must be str, not {type(name).__name__}")
        if name == "hash":
            raise ValueError("the hash member is computed here; leave it out of fields")
        if "=" in name:
            raise ValueError(f"field name {name!r} holds '=', which the data-check string "
                             "cannot tell apart from the separator")
        if value is None:
            continue
        text = _text(name, value)
        if "\n" in name or "\n" in text:
            raise ValueError(f"field {name!r} holds a line feed, which the data-check string "
                             "cannot tell apart from the separator")
        pairs.append((name, text))
    if "auth_date" not in fields:
        when = int(time.time()) if auth_date is None else whole_seconds("auth_date", auth_date)
        pairs.append(("auth_date", str(when)))
    elif auth_date is not None:
        raise ValueError("auth_date is given both in fields and as an argument")
    pairs.append(("hash", hex_hmac(key, data_check_string(pairs))))
    text = urlencode(pairs, quote_via=quote)
    # The module itself is the judge of what parses: a user whose id is out of range, a chat
    # without a title, a member's JSON of the wrong type.
    try:
        record = norvik_auth.parse_webapp_data(text)
    except PanicException as error:
        if not is_parse_refusal(str(error)):
            raise RuntimeError(f"the signed data could not be parsed back: {error}") from error
        raise ValueError(f"the fields would not parse: {error}") from None
    if not norvik_auth.validate_webapp_data(record, key):
        raise ValueError("the fields would not validate: a name or value makes no line of its own")
    return text
