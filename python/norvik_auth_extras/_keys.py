"""The one way every entry point turns bot_token / secret_key into the key bytes."""

# pyright: strict
from __future__ import annotations

from typing import Optional, Union

import norvik_auth

# The length of every key that get_secret_key derives; anything else is a token or a key mixed up.
KEY_SIZE = 32

KeyLike = Union[bytes, bytearray, memoryview, list[int], tuple[int, ...]]


def key_bytes(bot_token: Optional[str], secret_key: Optional[KeyLike]) -> bytes:
    """The bot's secret key from exactly one of a token and a key, copied, so that a caller who
    changes its bytearray afterwards does not change the key."""
    if bot_token is None and secret_key is None:
        raise ValueError("give bot_token or secret_key")
    if bot_token is not None and secret_key is not None:
        raise ValueError("give bot_token or secret_key, not both")
    if bot_token is not None:
        if not isinstance(bot_token, str):  # pyright: ignore[reportUnnecessaryIsInstance]
            raise TypeError(f"bot_token must be a str, not {type(bot_token).__name__}")
        if not bot_token:
            raise ValueError("bot_token is empty")
        try:
            return bytes(norvik_auth.get_secret_key(bot_token))
        except UnicodeEncodeError:
            # Its message would quote a character of the token.
            raise ValueError("bot_token has no UTF-8 form (it holds a lone surrogate)") from None
    assert secret_key is not None
    if isinstance(secret_key, memoryview):
        key = secret_key.tobytes()
    elif isinstance(secret_key, (bytes, bytearray)):
        key = bytes(secret_key)
    elif isinstance(secret_key, (list, tuple)):  # pyright: ignore[reportUnnecessaryIsInstance]
        # bytes() would take any iterable of ints, a set's or a dict's keys in their own order.
        items = tuple(secret_key)
        if any(type(item) is not int for item in items):  # a bool is no byte either
            raise TypeError("secret_key's items must be ints 0-255")
        if not all(0 <= item <= 255 for item in items):
            raise ValueError("secret_key's items must be ints 0-255")
        key = bytes(items)
    else:
        raise TypeError(f"secret_key must be bytes, bytearray, memoryview, or a list or tuple of "
                        f"ints, not {type(secret_key).__name__}; pass a token as bot_token")
    if len(key) != KEY_SIZE:
        raise ValueError(f"secret_key must be {KEY_SIZE} bytes (as get_secret_key gives), "
                         f"not {len(key)}")
    return key
