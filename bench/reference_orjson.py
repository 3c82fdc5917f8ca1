"""The orjson recipe: reference.py's job with the JSON members decoded by ``orjson.loads``.

The fastest a pure-Python user gets without the extension: the form is still decoded by
``urllib.parse.parse_qsl`` and the signature still checked with ``hmac``, so everything but the
JSON decoder (records, integer checks, data-check string, key derivation, validation) is
reference.py's own. orjson is a benchmark-only dependency (the ``bench`` extra); without it
``AVAILABLE`` is false, ``MISSING`` says why, and the benchmark leaves its columns out.
"""

from __future__ import annotations

import importlib
from typing import Callable

from reference import (
    InitData,
    InitDataError,
    JsonLoads,
    get_secret_key,
    make_parser,
    validate_init_data,
)

__all__ = [
    "AVAILABLE", "MISSING", "VERSION", "InitData", "InitDataError", "get_secret_key",
    "parse_init_data", "validate_init_data",
]


def _unavailable(query: str) -> InitData:
    raise RuntimeError(f"the orjson recipe cannot run: {MISSING}")


MISSING = ""
VERSION = ""
parse_init_data: Callable[[str], InitData] = _unavailable
try:
    # Imported by name so that type checking does not need orjson installed.
    _orjson = importlib.import_module("orjson")
except ImportError as e:
    MISSING = f"orjson is not installed ({e}); `pip install '.[bench]'` adds it"
else:
    _loads: JsonLoads = _orjson.loads
    VERSION = str(getattr(_orjson, "__version__", "?"))
    parse_init_data = make_parser(_loads)

AVAILABLE = not MISSING
