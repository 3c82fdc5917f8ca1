"""Fixtures and the hypothesis profiles; the shared helpers live in helpers.py (and stay
importable from here)."""

import os

import pytest

import norvik_auth
from helpers import (  # noqa: F401 - re-exported for the test files
    data_check_string,
    hex_signature,
    panic_of,
    secret_key,
    sign,
    signature,
    unambiguous,
)

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


@pytest.fixture(scope="session")
def panic_exception():
    """The PanicException class, reachable only through an exception the module raised."""
    return type(panic_of(norvik_auth.parse_webapp_data, ""))
