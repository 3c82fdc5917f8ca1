"""What every web integration shares: the Authorization scheme that carries init data, reading
it from the header, and the reason given when a request brings none.

A client sends ``Authorization: InitData <init data>``. Every integration answers a refusal with
401, ``WWW-Authenticate: InitData`` and a reason: one of InitDataError's, or
``MISSING_AUTHORIZATION`` when the header is absent, of another scheme, or the scheme alone.
"""

# pyright: strict
from __future__ import annotations

from typing import Final, Optional

AUTH_SCHEME: Final = "InitData"
MISSING_AUTHORIZATION: Final = "missing_authorization"

# The optional whitespace of HTTP: spaces and tabs, not everything str.strip() takes.
_SPACE = " \t"


def init_data_from_authorization(value: Optional[str]) -> Optional[str]:
    """The init data of an ``InitData`` Authorization header value.

    The scheme is case-insensitive and the spaces around it are free. None for no header, another
    scheme, or the scheme alone. Init data never holds a literal space (it is form-encoded), so
    stripping them loses nothing of it.
    """
    text = (value or "").strip(_SPACE)
    scheme, rest = text[:len(AUTH_SCHEME)], text[len(AUTH_SCHEME):]
    if scheme.lower() != AUTH_SCHEME.lower() or rest[:1] not in (" ", "\t"):
        return None
    return rest.lstrip(_SPACE) or None

