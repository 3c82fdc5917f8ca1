"""The one check behind every web integration: from the Authorization header to the verified
record, or the reason of the 401."""

# pyright: strict
from __future__ import annotations

import logging
from typing import Optional, Union

from norvik_auth import WebAppInitData

from ._verifier import InitDataError, Verifier
from .http import AUTH_SCHEME, MISSING_AUTHORIZATION, init_data_from_authorization

logger = logging.getLogger("norvik_auth_extras")


def verify_header(verifier: Verifier, authorization: Optional[str]) -> Union[WebAppInitData, str]:
    """The verified record of an Authorization header value, or the reason to refuse it with."""
    return verify_init_data(verifier, init_data_from_authorization(authorization))


def verify_init_data(verifier: Verifier, init_data: Optional[str]) -> Union[WebAppInitData, str]:
    """The verified record, or the reason to refuse the request with; None is a missing header.

    Only InitDataError becomes a reason: any other exception is a fault of the server, which the
    framework must answer with 500, not pass off as the client's.
    """
    if init_data is None:
        return MISSING_AUTHORIZATION
    try:
        return verifier.verify(init_data)
    except InitDataError as error:
        # The client gets the reason alone; the detail (the parser's message, the times
        # compared) may quote the request, so it goes to the log.
        logger.info("init data refused: %s %s", error.reason, error.detail)
        return error.reason


def unauthorized_headers() -> dict[str, str]:
    """The headers of a 401, a new dict each time: some frameworks keep the one they are given."""
    return {"WWW-Authenticate": AUTH_SCHEME}
