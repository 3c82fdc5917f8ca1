"""FastAPI: InitDataAuth, a security dependency that gives each request's verified init data,
and on_auth_error, a handler of its refusals that answers as the other integrations do.

    auth = InitDataAuth(Verifier(bot_token=...))
    app = FastAPI(exception_handlers={InitDataRefused: on_auth_error})

    @app.get("/me")
    async def me(init_data: Annotated[WebAppInitData, Depends(auth)]) -> dict[str, Any]: ...

Importing this module imports FastAPI; ``import norvik_auth_extras`` does not.
"""

# pyright: strict
# No `from __future__ import annotations`: FastAPI reads the annotations of __call__ at run time.

from typing import Optional

from fastapi import HTTPException
from fastapi.openapi.models import APIKey, APIKeyIn
from fastapi.security.base import SecurityBase
from norvik_auth import WebAppInitData
from starlette.requests import HTTPConnection
from starlette.responses import JSONResponse

from ._verifier import Verifier
from ._web import unauthorized_headers, verify_header
from .http import AUTH_SCHEME

__all__ = ["InitDataAuth", "InitDataRefused", "on_auth_error"]

_DESCRIPTION = (f"The web app's signed init data, sent as `Authorization: {AUTH_SCHEME} "
                f"<init data>`. Enter `{AUTH_SCHEME} ` followed by the init data.")


class InitDataRefused(HTTPException):
    """The 401 that InitDataAuth raises: ``WWW-Authenticate: InitData``, and the reason as
    ``reason`` and as the detail. FastAPI answers it as any HTTPException, ``{"detail": reason}``,
    unless the app has a handler for it, such as on_auth_error."""

    def __init__(self, reason: str) -> None:
        super().__init__(401, reason, headers=unauthorized_headers())
        self.reason = reason


async def on_auth_error(request: HTTPConnection, exc: InitDataRefused) -> JSONResponse:
    """A handler of InitDataRefused that answers as every other integration: 401,
    ``WWW-Authenticate: InitData`` and ``{"error": reason}``. Register it with
    ``FastAPI(exception_handlers={InitDataRefused: on_auth_error})``."""
    return JSONResponse({"error": exc.reason}, 401, headers=unauthorized_headers())


class InitDataAuth(SecurityBase):
    """A security dependency: ``Depends(auth)`` gives the request's verified WebAppInitData.

    A refusal or a missing header raises InitDataRefused, an HTTPException 401 with
    ``WWW-Authenticate: InitData`` and the reason as its detail: FastAPI's answer is then
    ``{"detail": reason}``, or ``{"error": reason}`` with on_auth_error as its handler; without
    that, an app's own handler of HTTPException applies. With ``auto_error=False`` the dependency
    gives None instead. Any other exception, a fault of the server, propagates.

    In the OpenAPI schema it is a security scheme named ``scheme_name`` (default: the class
    name) and every route that depends on it lists it. The scheme is declared as a key in the
    Authorization header, which the docs page's Authorize button sends as it is typed: an HTTP
    scheme other than Basic or Bearer would get no input box there.
    """

    def __init__(
        self,
        verifier: Verifier,
        *,
        auto_error: bool = True,
        scheme_name: Optional[str] = None,
        description: Optional[str] = None,
    ) -> None:
        self.verifier = verifier
        self.auto_error = auto_error
        self.scheme_name = scheme_name or type(self).__name__
        # By the model's JSON names: "in" is a keyword of Python.
        self.model = APIKey.model_validate({"in": APIKeyIn.header, "name": "Authorization",
                                            "description": description or _DESCRIPTION})

    # async: verifying takes microseconds, less than a hop to FastAPI's thread pool would.
    async def __call__(self, request: HTTPConnection) -> Optional[WebAppInitData]:
        outcome = verify_header(self.verifier, request.headers.get("Authorization"))
        if isinstance(outcome, WebAppInitData):
            return outcome
        if not self.auto_error:
            return None
        raise InitDataRefused(outcome)
