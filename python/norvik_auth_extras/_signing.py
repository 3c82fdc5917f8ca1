"""sign_init_data: init data signed as the platform signs it, for tests of a bot's server."""

# pyright: strict
from __future__ import annotations

import hashlib
import hmac
import json
import time
from collections.abc import Iterable, Mapping
from typing import Optional, cast
from urllib.parse import quote, urlencode

from ._keys import KeyLike, key_bytes

# Members whose values are JSON records; a mapping given for one of them is encoded here.
JSON_MEMBERS = frozenset({"user", "receiver", "chat"})


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
    return json.dumps(members, ensure_ascii=False, separators=(",", ":"))


def _text(name: str, value: object) -> str:
    kind = type(value).__name__
    if isinstance(value, str):
        return value
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
    Raises ValueError for data that could never validate: a line feed in a name or value, "=" in
    a name, a member named ``hash``.
    """
    key = key_bytes(bot_token, secret_key)
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
        pairs.append(("auth_date", str(int(time.time()) if auth_date is None else int(auth_date))))
    elif auth_date is not None:
        raise ValueError("auth_date is given both in fields and as an argument")
    pairs.append(("hash", hex_hmac(key, data_check_string(pairs))))
    return urlencode(pairs, quote_via=quote)
