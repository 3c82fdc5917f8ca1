"""The one way every entry point turns bot_token / secret_key into the key bytes."""

# pyright: strict
from __future__ import annotations

from collections.abc import Sequence
from typing import Optional, Union

import norvik_auth

# The length of every key that get_secret_key derives; anything else is a token or a key mixed up.
KEY_SIZE = 32

KeyLike = Union[Sequence[int], bytes]


def key_bytes(bot_token: Optional[str], secret_key: Optional[KeyLike]) -> bytes:
    """The bot's secret key from exactly one of a token and a key."""
    if bot_token is None and secret_key is None:
        raise ValueError("give bot_token or secret_key")
    if bot_token is not None and secret_key is not None:
        raise ValueError("give bot_token or secret_key, not both")
    if bot_token is not None:
        if not isinstance(bot_token, str):  # pyright: ignore[reportUnnecessaryIsInstance]
            raise TypeError(f"bot_token must be a str, not {type(bot_token).__name__}")
        if not bot_token:
            raise ValueError("bot_token is empty")
        return bytes(norvik_auth.get_secret_key(bot_token))
    assert secret_key is not None
    if isinstance(secret_key, (str, int)):
        raise TypeError(f"secret_key must be the derived key's bytes or ints, not "
                        f"{type(secret_key).__name__}; pass a token as bot_token")
    try:
        key = bytes(secret_key)
    except (TypeError, ValueError) as error:
        raise type(error)(f"secret_key must hold ints 0-255: {error}") from None
    if len(key) != KEY_SIZE:
        raise ValueError(f"secret_key must be {KEY_SIZE} bytes (as get_secret_key gives), "
                         f"not {len(key)}")
    return key
