"""aiohttp: init_data_middleware, which verifies each request's init data before its handler.

    app = web.Application(middlewares=[init_data_middleware(verifier)])

    async def me(request: web.Request) -> web.Response:
        init_data = request[INIT_DATA]

Importing this module imports aiohttp (3.14 or newer, for typed request keys); ``import
norvik_auth_extras`` does not.
"""

# pyright: strict
from __future__ import annotations

from aiohttp import web
from aiohttp.typedefs import Handler, Middleware
from norvik_auth import WebAppInitData

from ._verifier import Verifier
from ._web import unauthorized_headers, verify_header

__all__ = ["INIT_DATA", "init_data_middleware"]

# A typed key: request[INIT_DATA] is a WebAppInitData to a type checker, where a str key would
# give Any (and a warning from aiohttp).
INIT_DATA = web.RequestKey("init_data", WebAppInitData)


def init_data_middleware(verifier: Verifier) -> Middleware:
    """A middleware that puts the verified record in ``request[INIT_DATA]`` and calls the handler,
    or answers 401 with ``WWW-Authenticate: InitData`` and ``{"error": reason}`` on a refusal or a
    missing header. Any other exception propagates. It guards every route of its application: to
    leave some routes open, give the guarded ones a sub-application of their own
    (``app.add_subapp``) with the middleware. A browser's CORS preflight carries no init data,
    so it must be answered before this middleware.
    """

    @web.middleware
    async def init_data_middleware(request: web.Request, handler: Handler) -> web.StreamResponse:
        outcome = verify_header(verifier, request.headers.get("Authorization"))
        if isinstance(outcome, str):
            return web.json_response({"error": outcome}, status=401,
                                     headers=unauthorized_headers())
        request[INIT_DATA] = outcome
        return await handler(request)

    return init_data_middleware
