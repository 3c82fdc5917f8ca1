"""Shared helpers: signing init data the way the platform does, with hmac and hashlib."""

import hashlib
import hmac
import os
from urllib.parse import quote, urlencode

import pytest

import norvik_auth

try:
    from hypothesis import HealthCheck, Phase, settings
except ImportError:  # only the property tests need it; the rest of the suite runs without
    settings = None

if settings is not None:
    # Deterministic and leaving nothing behind: the same examples on every run, no example
    # database in the tree. "slow-runtime" is for runs under valgrind or sanitizers, where each
    # call costs tens of times more.
    settings.register_profile(
        "ci",
        derandomize=True,
        database=None,
        deadline=None,
        max_examples=150,
        suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large],
    )
    settings.register_profile("slow-runtime", settings.get_profile("ci"), max_examples=8)
    # The mutation campaign only needs to know that a test fails, not the smallest example.
    settings.register_profile("mutation", settings.get_profile("ci"),
                              phases=[Phase.explicit, Phase.reuse, Phase.generate])
    settings.load_profile(os.environ.get("HYPOTHESIS_PROFILE", "ci"))

DERIVATION_KEY = b"SignedView"


def secret_key(bot_token: str) -> bytes:
    return hmac.new(DERIVATION_KEY, bot_token.encode(), hashlib.sha256).digest()


def data_check_string(pairs) -> str:
    """Every pair but `hash` with a non-empty value (the last of a name wins), sorted bytewise."""
    fields = dict(pairs)
    lines = [f"{name}={value}" for name, value in fields.items() if name != "hash" and value]
    return "\n".join(sorted(lines, key=str.encode))


def signature(pairs, key: bytes) -> str:
    return hmac.new(key, data_check_string(pairs).encode(), hashlib.sha256).hexdigest()


def sign(pairs, bot_token: str) -> str:
    """The query string of `pairs` followed by the hash that the platform would append."""
    pairs = list(pairs)
    return urlencode(pairs + [("hash", signature(pairs, secret_key(bot_token)))], quote_via=quote)


def panic_of(call, *args, **kwargs) -> BaseException:
    """Runs a call that must fail with PanicException and returns the exception."""
    with pytest.raises(BaseException) as caught:
        call(*args, **kwargs)
    assert type(caught.value).__name__ == "PanicException"
    return caught.value


@pytest.fixture(scope="session")
def panic_exception():
    """The PanicException class, reachable only through an exception the module raised."""
    return type(panic_of(norvik_auth.parse_webapp_data, ""))
