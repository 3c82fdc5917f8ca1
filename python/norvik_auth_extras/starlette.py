"""Starlette: InitDataBackend for AuthenticationMiddleware, its InitDataUser, and on_auth_error.

    Middleware(AuthenticationMiddleware, backend=InitDataBackend(verifier), on_error=on_auth_error)

A route then reads ``request.user`` (an InitDataUser once verified) and may be guarded by
``@requires("authenticated")``. Importing this module imports Starlette; ``import
norvik_auth_extras`` does not.
"""

# pyright: strict
from __future__ import annotations

from typing import Optional

from norvik_auth import WebAppInitData
from starlette.authentication import (AuthCredentials, AuthenticationBackend, AuthenticationError,
                                      BaseUser)
from starlette.requests import HTTPConnection
from starlette.responses import JSONResponse, Response

from ._verifier import Verifier
from ._web import unauthorized_headers, verify_init_data
from .http import init_data_from_authorization

__all__ = ["InitDataBackend", "InitDataUser", "on_auth_error"]


class InitDataUser(BaseUser):
    """The user of a request with verified init data; ``request.user`` is one."""

    def __init__(self, init_data: WebAppInitData) -> None:
        self._init_data = init_data
        self._user = init_data.user  # read once: each read of a record's user makes a copy

    @property
    def init_data(self) -> WebAppInitData:
        """The verified record."""
        return self._init_data

    @property
    def is_authenticated(self) -> bool:
        return True

    @property
    def display_name(self) -> str:
        """The user's first and last name; empty for init data without a user."""
        if self._user is None:
            return ""
        return " ".join(filter(None, (self._user.first_name, self._user.last_name)))

    @property
    def identity(self) -> str:
        """The user's id as text; empty for init data without a user."""
        return "" if self._user is None else str(self._user.id)

    def __repr__(self) -> str:
        return f"InitDataUser(identity={self.identity!r})"


class InitDataBackend(AuthenticationBackend):
    """Authenticates a request by the init data of its ``Authorization: InitData`` header.

    Without that header (none, or of another scheme) the request gets no user, so that public
    routes stay open; ``required=True`` refuses it instead, with the reason
    ``"missing_authorization"``. Init data that the verifier refuses raises AuthenticationError
    with the reason as its message, which ``on_error`` turns into the answer. Verified init data
    gives an InitDataUser with the scope ``"authenticated"``. Any other exception propagates.
    """

    def __init__(self, verifier: Verifier, *, required: bool = False) -> None:
        self.verifier = verifier
        self.required = required

    async def authenticate(self, conn: HTTPConnection
                           ) -> Optional[tuple[AuthCredentials, BaseUser]]:
        init_data = init_data_from_authorization(conn.headers.get("Authorization"))
        if init_data is None and not self.required:
            return None
        outcome = verify_init_data(self.verifier, init_data)
        if isinstance(outcome, str):
            raise AuthenticationError(outcome)
        return AuthCredentials(["authenticated"]), InitDataUser(outcome)


def on_auth_error(conn: HTTPConnection, exc: AuthenticationError) -> Response:
    """An ``on_error`` for AuthenticationMiddleware: 401, ``WWW-Authenticate: InitData`` and
    ``{"error": reason}``."""
    return JSONResponse({"error": str(exc)}, status_code=401,
                        headers=unauthorized_headers())
