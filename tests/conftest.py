"""Fixtures; the shared helpers live in helpers.py (and stay importable from here)."""

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


@pytest.fixture(scope="session")
def panic_exception():
    """The PanicException class, reachable only through an exception the module raised."""
    return type(panic_of(norvik_auth.parse_webapp_data, ""))
