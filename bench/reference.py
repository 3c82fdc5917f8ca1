"""Pure-Python baseline for the benchmark: the same job done with the standard library only.

It is written the way a careful user would write it without the extension: decode the pairs with
``urllib.parse.parse_qsl``, decode the JSON members with ``json``, convert the integers, require
``hash``, build the data-check string, and check the signature with ``hmac``. Records are slotted
dataclasses, so attribute reads cost what they cost in ordinary application code.
``verify_init_data`` does the verifier's job the same way: parse, signature, then age.

``make_parser`` builds the parse function around any ``json.loads``-like decoder, so that other
recipes (``reference_orjson.py``) share everything here but the JSON decoder.
"""

from __future__ import annotations

import hashlib
import hmac
import json
import sys
import time
from dataclasses import dataclass
from typing import Any, Callable, Optional
from urllib.parse import parse_qsl

SECRET_KEY_DERIVATION_KEY = b"SignedView"
U64_MAX = 2**64 - 1
# Slotted records where the interpreter offers them (3.10 and later).
_SLOTS = {"slots": True} if sys.version_info >= (3, 10) else {}


# The JSON decoder of a recipe: str in, decoded value out, ValueError on malformed text.
JsonLoads = Callable[[str], Any]


class InitDataError(ValueError):
    """Init data that cannot be turned into a record."""


@dataclass(**_SLOTS)
class User:
    id: int
    is_bot: Optional[bool]
    first_name: str
    last_name: Optional[str]
    username: Optional[str]
    language_code: Optional[str]
    is_premium: Optional[bool]
    added_to_attachment_menu: Optional[bool]
    allows_write_to_pm: Optional[bool]
    photo_url: Optional[str]


@dataclass(**_SLOTS)
class Chat:
    id: int
    type: str
    title: str
    username: Optional[str]
    photo_url: Optional[str]


@dataclass(**_SLOTS)
class InitData:
    query_id: Optional[str]
    user: Optional[User]
    receiver: Optional[User]
    chat: Optional[Chat]
    chat_type: Optional[str]
    chat_instance: Optional[str]
    start_param: Optional[str]
    can_send_after: Optional[int]
    auth_date: Optional[int]
    hash: str
    data_check_string: str


def _typed(name: str, obj: dict[str, Any], key: str, kind: type, required: bool = False) -> Any:
    value = obj.get(key)
    if value is None:
        if required:
            raise InitDataError(f"Unable to parse {name}: missing field `{key}`")
        return None
    # bool is a subclass of int; an id of true is not an id.
    if not isinstance(value, kind) or (kind is int and isinstance(value, bool)):
        raise InitDataError(f"Unable to parse {name}: `{key}` has the wrong type")
    return value


def _user(name: str, obj: dict[str, Any]) -> User:
    return User(
        id=_typed(name, obj, "id", int, required=True),
        is_bot=_typed(name, obj, "is_bot", bool),
        first_name=_typed(name, obj, "first_name", str, required=True),
        last_name=_typed(name, obj, "last_name", str),
        username=_typed(name, obj, "username", str),
        language_code=_typed(name, obj, "language_code", str),
        is_premium=_typed(name, obj, "is_premium", bool),
        added_to_attachment_menu=_typed(name, obj, "added_to_attachment_menu", bool),
        allows_write_to_pm=_typed(name, obj, "allows_write_to_pm", bool),
        photo_url=_typed(name, obj, "photo_url", str),
    )


def _chat(obj: dict[str, Any]) -> Chat:
    return Chat(
        id=_typed("chat", obj, "id", int, required=True),
        type=_typed("chat", obj, "type_", str, required=True),
        title=_typed("chat", obj, "title", str, required=True),
        username=_typed("chat", obj, "username", str),
        photo_url=_typed("chat", obj, "photo_url", str),
    )


def _u64(name: str, text: str) -> int:
    # int() alone would take spaces, underscores and a minus sign.
    digits = text[1:] if text.startswith("+") else text
    if not (digits.isascii() and digits.isdigit()):
        raise InitDataError(f"Unable to parse {name}: not an unsigned decimal number")
    value = int(digits)
    if value > U64_MAX:
        raise InitDataError(f"Unable to parse {name}: number too large")
    return value


def make_parser(loads: JsonLoads) -> Callable[[str], InitData]:
    """The init-data parser of a recipe whose JSON members are decoded by `loads`."""

    def json_object(name: str, text: str) -> dict[str, Any]:
        try:
            value = loads(text)
        except ValueError as e:
            raise InitDataError(f"Unable to parse {name}: {e}") from None
        if not isinstance(value, dict):
            raise InitDataError(f"Unable to parse {name}: expected an object")
        return value

    def parse_init_data(query: str) -> InitData:
        """Decode an init-data query string into an InitData record."""
        fields = dict(parse_qsl(query, keep_blank_values=True))
        user = fields.get("user")
        receiver = fields.get("receiver")
        chat = fields.get("chat")
        auth_date = fields.get("auth_date")
        can_send_after = fields.get("can_send_after")
        record_user = _user("user", json_object("user", user)) if user is not None else None
        record_receiver = (
            _user("receiver", json_object("receiver", receiver)) if receiver is not None else None
        )
        record_chat = _chat(json_object("chat", chat)) if chat is not None else None
        record_auth_date = _u64("auth_date", auth_date) if auth_date is not None else None
        hash_ = fields.get("hash")
        if hash_ is None:
            raise InitDataError("Hash is required")
        record_can_send_after = (
            _u64("can_send_after", can_send_after) if can_send_after is not None else None
        )
        # Code-point order of valid text is the byte order of its UTF-8 form.
        data_check_string = "\n".join(
            sorted(f"{n}={v}" for n, v in fields.items() if n != "hash" and v)
        )
        return InitData(
            query_id=fields.get("query_id"),
            user=record_user,
            receiver=record_receiver,
            chat=record_chat,
            chat_type=fields.get("chat_type"),
            chat_instance=fields.get("chat_instance"),
            start_param=fields.get("start_param"),
            can_send_after=record_can_send_after,
            auth_date=record_auth_date,
            hash=hash_,
            data_check_string=data_check_string,
        )

    return parse_init_data


parse_init_data = make_parser(json.loads)


def get_secret_key(bot_token: str) -> list[int]:
    """The bot's 32-byte secret key, as a list of integers like the extension returns."""
    return list(hmac.new(SECRET_KEY_DERIVATION_KEY, bot_token.encode(), hashlib.sha256).digest())


def validate_init_data(init_data: InitData, secret_key: list[int]) -> bool:
    """Whether the record's hash is the signature of its data-check string under the key."""
    expected = hmac.new(
        bytes(secret_key), init_data.data_check_string.encode(), hashlib.sha256
    ).hexdigest()
    # compare_digest refuses non-ASCII text; such a hash cannot match a hex digest anyway.
    return init_data.hash.isascii() and hmac.compare_digest(expected, init_data.hash)


def verify_init_data(query: str, secret_key: list[int], max_age: float = 86400,
                     clock: Callable[[], float] = time.time) -> InitData:
    """Verifier.verify's job: the record of signed init data at most `max_age` seconds old, or
    InitDataError."""
    record = parse_init_data(query)
    if not validate_init_data(record, secret_key):
        raise InitDataError("init data has an invalid signature")
    if record.auth_date is None or clock() - record.auth_date > max_age:
        raise InitDataError("init data has expired")
    return record
