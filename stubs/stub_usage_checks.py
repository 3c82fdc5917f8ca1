"""Typed uses of norvik_auth that mypy --strict must accept, and misuses it must reject.

Each rejected line carries a `type: ignore[code]`; under --strict an ignore that is not needed is an
error, so the misuse must really be caught. Run as a script, every misuse also fails at runtime.
"""

import hashlib
import hmac
from typing import Callable, Optional

from typing_extensions import assert_type

import norvik_auth
from norvik_auth import WebAppChat, WebAppInitData, WebAppUser

BOT_TOKEN = "7000000001:AAHstub-usage-check"
USER_JSON = '{"id": 7, "first_name": "Ann", "is_premium": true}'
CHAT_JSON = '{"id": -100, "type_": "group", "title": "Team"}'


def signed_init_data(key: bytes) -> str:
    check = f"auth_date=100\nchat={CHAT_JSON}\nuser={USER_JSON}"
    digest = hmac.new(key, check.encode(), hashlib.sha256).hexdigest()
    return f"user={USER_JSON}&chat={CHAT_JSON}&auth_date=100&hash={digest}"


def accepted_uses() -> None:
    key = norvik_auth.get_secret_key(bot_token=BOT_TOKEN)
    assert_type(key, list[int])
    init_data = norvik_auth.parse_webapp_data(webapp_data=signed_init_data(bytes(key)))
    assert_type(init_data, WebAppInitData)
    for key_form in (key, tuple(key), bytes(key), bytearray(key), memoryview(bytes(key))):
        valid = norvik_auth.validate_webapp_data(secret_key=key_form, webapp_data=init_data)
        assert_type(valid, bool)
        assert valid is True

    assert_type(init_data.query_id, Optional[str])
    assert_type(init_data.auth_date, Optional[int])
    assert_type(init_data.can_send_after, Optional[int])
    assert_type(init_data.hash, str)
    user = init_data.user
    assert_type(user, Optional[WebAppUser])
    assert user is not None
    assert_type(user.id, int)
    assert_type(user.first_name, str)
    assert_type(user.is_premium, Optional[bool])
    chat = init_data.chat
    assert_type(chat, Optional[WebAppChat])
    assert chat is not None
    assert_type(chat.type, str)
    assert (user.id, user.is_premium, chat.type, init_data.auth_date) == (7, True, "group", 100)


def refused(misuse: Callable[[], object], error: type[BaseException]) -> None:
    try:
        misuse()
    except error:
        return
    raise AssertionError(f"{misuse.__name__} did not raise {error.__name__}")


def rejected_uses() -> None:
    init_data = norvik_auth.parse_webapp_data("hash=00")

    def key_as_text() -> object:
        return norvik_auth.validate_webapp_data(init_data, "text")  # type: ignore[arg-type]

    def key_as_iterator() -> object:
        return norvik_auth.validate_webapp_data(init_data, iter([1, 2]))  # type: ignore[arg-type]

    def record_as_text() -> object:
        return norvik_auth.validate_webapp_data("hash=00", [0])  # type: ignore[arg-type]

    def token_as_bytes() -> object:
        return norvik_auth.get_secret_key(b"token")  # type: ignore[arg-type]

    def unknown_keyword() -> object:
        return norvik_auth.parse_webapp_data(data="hash=00")  # type: ignore[call-arg]

    def attribute_assignment() -> object:
        init_data.hash = "forged"  # type: ignore[misc]
        return None

    def user_without_none_check() -> object:
        return norvik_auth.parse_webapp_data("hash=00").user.id  # type: ignore[union-attr]

    def subclass() -> object:
        class Derived(WebAppInitData):  # type: ignore[misc]
            pass

        return Derived

    for misuse in (key_as_text, key_as_iterator, record_as_text, token_as_bytes, unknown_keyword):
        refused(misuse, TypeError)
    refused(attribute_assignment, AttributeError)
    refused(user_without_none_check, AttributeError)
    refused(subclass, TypeError)


if __name__ == "__main__":
    accepted_uses()
    rejected_uses()
    print("stub usage checks: accepted uses run, rejected uses fail at runtime too")
