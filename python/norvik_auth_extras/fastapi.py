"""FastAPI: InitDataAuth, a security dependency that gives each request's verified init data.

    auth = InitDataAuth(Verifier(bot_token=...))

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

from ._verifier import Verifier
from ._web import unauthorized_headers, verify_header
from .http import AUTH_SCHEME

__all__ = ["InitDataAuth"]

_DESCRIPTION = (f"The web app's signed init data, sent as `Authorization: {AUTH_SCHEME} "
                f"<init data>`. Enter `{AUTH_SCHEME} ` followed by the init data.")


class InitDataAuth(SecurityBase):
    """A security dependency: ``Depends(auth)`` gives the request's verified WebAppInitData.

    A refusal or a missing header raises HTTPException 401 with ``WWW-Authenticate: InitData``
    and the reason as its detail (FastAPI's answer is then ``{"detail": reason}``, and an app's
    own handler of HTTPException applies); with ``auto_error=False`` the dependency gives None
    instead. Any other exception, a fault of the server, propagates.

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
        raise HTTPException(401, outcome, headers=unauthorized_headers())
