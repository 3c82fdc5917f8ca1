"""The benchmark's inputs: the bot tokens, the typical init data and the larger workloads built
from it, each signed as the platform would sign it."""

from __future__ import annotations

import hashlib
import hmac
import json
from dataclasses import dataclass
from typing import Any
from urllib.parse import quote, urlencode


BOT_TOKEN = "7350184422:AAEu3h9-kx5Fq0WcLzPpT2mVbN8sYdRjQ4o"
OTHER_BOT_TOKEN = "1122334455:AAGa0Zt7Uy6Xw5Vv4Ss3Rr2Qq1Pp0Oo9Nn8"

INIT_ATTRS = (
    "query_id", "user", "receiver", "chat", "chat_type", "chat_instance",
    "start_param", "can_send_after", "auth_date", "hash",
)
USER_ATTRS = (
    "id", "is_bot", "first_name", "last_name", "username", "language_code",
    "is_premium", "added_to_attachment_menu", "allows_write_to_pm", "photo_url",
)
CHAT_ATTRS = ("id", "type", "title", "username", "photo_url")

# Every attribute of the record and of its user, as application code would read them.
READ_ALL_ATTRIBUTES = "\n".join(
    [f"r.{a}" for a in INIT_ATTRS if a != "user"]
    + ["u = r.user"]
    + [f"u.{a}" for a in USER_ATTRS]
)


def sign(pairs: list[tuple[str, str]], secret_key: bytes) -> str:
    """The hash the platform would send: computed straight from the pairs, not by either parser."""
    lines = sorted(f"{name}={value}" for name, value in pairs if name != "hash" and value)
    return hmac.new(secret_key, "\n".join(lines).encode(), hashlib.sha256).hexdigest()


def typical_data_check_string() -> str:
    """The text the typical init data's signature covers."""
    return "\n".join(sorted(f"{name}={value}" for name, value in typical_pairs() if value))


def signed_query(pairs: list[tuple[str, str]], secret_key: bytes) -> str:
    return urlencode(pairs + [("hash", sign(pairs, secret_key))])


TYPICAL_USER = {
    "id": 5120493871,
    "first_name": "Margarethe",
    "last_name": "Lindqvist-Øberg",
    "username": "m_lindqvist",
    "language_code": "sv",
    "is_premium": True,
    "allows_write_to_pm": True,
    "photo_url": "https://cdn.example.org/userpic/320/Qm9uZXMgYW5kIHN0b25l.jpg",
}


def typical_pairs() -> list[tuple[str, str]]:
    return [
        ("query_id", "AAHdF6IQAAAAAN0XohDhrOrc"),
        ("user", json_text(TYPICAL_USER)),
        ("auth_date", "1716922846"),
        ("chat_instance", "-3788475317572404878"),
        ("chat_type", "private"),
        ("start_param", "spring_campaign_2024"),
    ]


def json_text(obj: dict[str, Any]) -> str:
    return json.dumps(obj, ensure_ascii=False, separators=(",", ":"))


def large_pairs(extra_bytes: int) -> list[tuple[str, str]]:
    """Typical pairs plus unknown members worth extra_bytes of query string, some with escapes."""
    pairs = typical_pairs()
    size = 0
    i = 0
    while size < extra_bytes:
        value = f"item {i} of the order/line: qty={i % 7 + 1}; note=ä&ö; ref#{i * 7919 % 100000:05d}"
        name = f"extra_{i:05d}"
        size += len(urlencode([(name, value)])) + 1
        pairs.append((name, value))
        i += 1
    return pairs


def nested_query(levels: int, secret_key: bytes) -> str:
    """A typical query whose user carries an unknown member nested `levels` arrays deep."""
    user = json_text(TYPICAL_USER)
    user = user[:-1] + ',"layout":' + "[" * levels + "]" * levels + "}"
    pairs = typical_pairs()
    pairs[1] = ("user", user)
    # Brackets stay raw, as a browser would send them; everything else is escaped as usual.
    return urlencode(pairs + [("hash", sign(pairs, secret_key))], safe="[]", quote_via=quote)


@dataclass
class Workload:
    name: str
    query: str
    with_reference: bool = True

    @property
    def size(self) -> int:
        return len(self.query.encode())


def make_workloads(secret_key: bytes, nested_levels: int) -> dict[str, Workload]:
    return {
        "typical": Workload("typical", signed_query(typical_pairs(), secret_key)),
        "minimal": Workload("minimal", signed_query([], secret_key)),
        "large": Workload("large", signed_query(large_pairs(64 * 1024), secret_key)),
        "nested": Workload("nested", nested_query(nested_levels, secret_key), with_reference=False),
    }


# Input sizes of the cost-per-byte section; the goal compares the last with the second.
PER_BYTE_KIB = (0.5, 4, 64, 1024)


def sized_workloads(secret_key: bytes) -> list[Workload]:
    """Typical members plus unknown ones up to about each size (0.5 KiB is the typical input)."""
    base = len(signed_query(typical_pairs(), secret_key).encode())
    return [Workload(f"{kib:g} KiB", signed_query(large_pairs(round(kib * 1024) - base), secret_key))
            for kib in PER_BYTE_KIB]
