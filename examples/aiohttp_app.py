"""An aiohttp app whose middleware verifies each request's init data before any handler runs.

The client sends `Authorization: InitData <init data>`; the answer is 200 with the user, or 401
with `{"error": <reason>}`. Run it with the `examples` extra installed
(`pip install ".[examples]"`):

    BOT_TOKEN=123:ABC python examples/aiohttp_app.py --port 8000

$MAX_AGE (seconds, default one day) bounds how old an accepted `auth_date` may be.
"""

from __future__ import annotations

import argparse
import logging
from typing import Optional

from aiohttp import web
from aiohttp.typedefs import Handler
from norvik_auth import WebAppInitData
from norvik_auth_extras import InitDataError

from auth_common import (MISSING_AUTHORIZATION, UNAUTHORIZED_HEADERS, init_data_from_header,
                         user_json, verifier_from_settings)

logger = logging.getLogger("aiohttp_app")

# Where the middleware leaves the verified record for the handlers.
INIT_DATA = web.RequestKey("init_data", WebAppInitData)


def _unauthorized(reason: str) -> web.Response:
    return web.json_response({"error": reason}, status=401, headers=UNAUTHORIZED_HEADERS)


async def me(request: web.Request) -> web.Response:
    user = request[INIT_DATA].user
    assert user is not None  # require_user
    return web.json_response(user_json(user))


def create_app(bot_token: Optional[str] = None, max_age: Optional[float] = None) -> web.Application:
    """The app; the bot token and the age limit default to $BOT_TOKEN and $MAX_AGE."""
    verifier = verifier_from_settings(bot_token, max_age)  # once: derives the bot's key

    @web.middleware
    async def authenticate(request: web.Request, handler: Handler) -> web.StreamResponse:
        init_data = init_data_from_header(request.headers.get("Authorization"))
        if init_data is None:
            return _unauthorized(MISSING_AUTHORIZATION)
        try:
            request[INIT_DATA] = verifier.verify(init_data)
        except InitDataError as error:
            # The detail (the parser's message, the times compared) is for the log only.
            logger.warning("init data refused: %s %s", error.reason, error.detail)
            return _unauthorized(error.reason)
        return await handler(request)

    app = web.Application(middlewares=[authenticate])
    app.router.add_get("/me", me, allow_head=False)
    return app


def main() -> None:
    parser = argparse.ArgumentParser(description="Serves the example app; BOT_TOKEN must be set.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8000)
    args = parser.parse_args()
    logging.basicConfig(level=logging.INFO)
    web.run_app(create_app(), host=args.host, port=args.port)


if __name__ == "__main__":
    main()
