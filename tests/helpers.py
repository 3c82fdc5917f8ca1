"""What several test files need: signing init data the way the platform does (with hmac and
hashlib, never with the module), and catching the module's PanicException."""

import hashlib
import hmac
from urllib.parse import quote, urlencode

import pytest

DERIVATION_KEY = b"SignedView"


def secret_key(bot_token: str) -> bytes:
    return hmac.new(DERIVATION_KEY, bot_token.encode(), hashlib.sha256).digest()


def data_check_string(pairs) -> str:
    """Every pair but `hash` with a non-empty value (the last of a name wins), sorted bytewise."""
    fields = dict(pairs)
    lines = [f"{name}={value}" for name, value in fields.items() if name != "hash" and value]
    return "\n".join(sorted(lines, key=str.encode))


def unambiguous(pairs) -> bool:
    """Whether each line of the data-check string stands for exactly one included pair."""
    return all("=" not in name and "\n" not in name + value
               for name, value in dict(pairs).items() if name != "hash" and value)


def hex_signature(key: bytes, text: str) -> str:
    return hmac.new(key, text.encode(), hashlib.sha256).hexdigest()


def signature(pairs, key: bytes) -> str:
    return hex_signature(key, data_check_string(pairs))


def sign(pairs, bot_token: str) -> str:
    """The query string of `pairs` followed by the hash that the platform would append."""
    pairs = list(pairs)
    return urlencode(pairs + [("hash", signature(pairs, secret_key(bot_token)))], quote_via=quote)


def panic_of(call, *args, **kwargs) -> BaseException:
    """Runs a call that must fail with PanicException and returns the exception."""
    with pytest.raises(BaseException) as caught:
        call(*args, **kwargs)
    assert type(caught.value).__name__ == "PanicException"
    assert not isinstance(caught.value, Exception)
    return caught.value
