"""A web app whose `/me` endpoint authenticates each request by its signed init data.

The client sends the init data it was given in the header `Authorization: InitData <init data>`.
Run it with the optional `examples` extra installed (`pip install ".[examples]"`):

    BOT_TOKEN=123:ABC uvicorn --factory --app-dir examples webapp_server:create_app
    BOT_TOKEN=123:ABC python examples/webapp_server.py --port 8000

`MAX_AGE` (seconds, default 3600) bounds how old an accepted `auth_date` may be. Every answer to
a bad request is 401 with a short JSON reason; `make serve-demo` shows a few.
"""

from __future__ import annotations

import argparse
import logging
import os
import time

import norvik_auth
from starlette.applications import Starlette
from starlette.requests import Request
from starlette.responses import JSONResponse
from starlette.routing import Route

DEFAULT_MAX_AGE_SECONDS = 3600
# The platform's clock and ours may disagree a little; an auth_date further ahead than this is
# not a clock difference.
CLOCK_SKEW_SECONDS = 60
AUTH_SCHEME = "initdata"

logger = logging.getLogger("webapp_server")


def _panic_exception_class() -> type[BaseException]:
    """The class of the module's parse failures, which is not reachable as an attribute."""
    try:
        norvik_auth.parse_webapp_data("")  # no `hash`: always fails
    except BaseException as error:
        return type(error)
    raise RuntimeError("norvik_auth accepted init data without a hash")


# A BaseException subclass: `except Exception` would let it through and the client would get 500.
PanicException = _panic_exception_class()


def _unauthorized(reason: str) -> JSONResponse:
    return JSONResponse({"error": reason}, status_code=401, headers={"WWW-Authenticate": "InitData"})


def create_app(bot_token: str | None = None, max_age: int | None = None) -> Starlette:
    """The app; the bot token and the age limit default to $BOT_TOKEN and $MAX_AGE."""
    if bot_token is None:
        bot_token = os.environ.get("BOT_TOKEN", "")
    if not bot_token:
        raise RuntimeError("set BOT_TOKEN to the bot's token")
    if max_age is None:
        max_age = int(os.environ.get("MAX_AGE", DEFAULT_MAX_AGE_SECONDS))
    if max_age < 0:
        raise ValueError(f"MAX_AGE must not be negative, not {max_age}")
    # Derived once here, not per request; the token itself is not kept.
    secret_key = norvik_auth.get_secret_key(bot_token)

    # Parsing and validating take microseconds, so the handler does them on the event loop.
    async def me(request: Request) -> JSONResponse:
        scheme, _, init_data_text = request.headers.get("authorization", "").strip().partition(" ")
        if not scheme:
            return _unauthorized("missing Authorization header")
        if scheme.lower() != AUTH_SCHEME:
            return _unauthorized("Authorization scheme must be InitData")
        try:
            init_data = norvik_auth.parse_webapp_data(init_data_text.strip())
        except PanicException as error:
            # The parser's message stays in the log: the client learns only that it was refused.
            logger.warning("malformed init data: %r", str(error))
            return _unauthorized("malformed init data")
        if not norvik_auth.validate_webapp_data(init_data, secret_key):
            return _unauthorized("invalid signature")
        # A valid signature never expires: without this check captured init data works forever.
        auth_date = init_data.auth_date
        if auth_date is None:
            return _unauthorized("init data has no auth_date")
        age = time.time() - auth_date
        if age > max_age or age < -CLOCK_SKEW_SECONDS:
            return _unauthorized("init data is stale")
        user = init_data.user
        if user is None:
            return _unauthorized("init data has no user")
        return JSONResponse({"id": user.id, "first_name": user.first_name,
                             "last_name": user.last_name, "username": user.username})

    return Starlette(routes=[Route("/me", me, methods=["GET"])])


def main() -> None:
    import uvicorn  # only needed to run the app from here

    parser = argparse.ArgumentParser(description="Serves the example app; BOT_TOKEN must be set.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8000)
    args = parser.parse_args()
    logging.basicConfig(level=logging.INFO)
    uvicorn.run(create_app(), host=args.host, port=args.port)


if __name__ == "__main__":
    main()
