"""A Starlette app whose `GET /me` authenticates each request by its signed init data, through
the authentication middleware with `InitDataBackend`.

The client sends `Authorization: InitData <init data>`; the answer is 200 with the user, or 401
with `{"error": <reason>}`. Run it with the `examples` extra installed
(`pip install ".[examples]"`):

    BOT_TOKEN=123:ABC uvicorn --factory --app-dir examples webapp_server:create_app
    BOT_TOKEN=123:ABC python examples/webapp_server.py --port 8000

$MAX_AGE (seconds, default one day) bounds how old an accepted `auth_date` may be.
"""

from __future__ import annotations

import argparse
import logging
import os
import sys
from typing import Optional

from norvik_auth_extras import Verifier, as_dict
from norvik_auth_extras.starlette import InitDataBackend, InitDataUser, on_auth_error
from starlette.applications import Starlette
from starlette.middleware import Middleware
from starlette.middleware.authentication import AuthenticationMiddleware
from starlette.requests import Request
from starlette.responses import JSONResponse
from starlette.routing import Route


async def me(request: Request) -> JSONResponse:
    user: InitDataUser = request.user  # the backend refuses requests without init data
    assert user.init_data.user is not None  # require_user
    return JSONResponse(as_dict(user.init_data.user))


def create_app(bot_token: Optional[str] = None, max_age: Optional[float] = None) -> Starlette:
    """The app; the bot token and the age limit default to $BOT_TOKEN and $MAX_AGE."""
    # One line on standard error rather than a KeyError's traceback, however the app is started.
    token = bot_token or os.environ.get("BOT_TOKEN") or sys.exit("set BOT_TOKEN to the bot's token")
    max_age = float(os.environ.get("MAX_AGE", 86400)) if max_age is None else max_age
    # require_user: /me has nothing to answer without a user, so such init data is refused.
    verifier = Verifier(bot_token=token, max_age=max_age, require_user=True)
    # required: every route of this app needs init data, so a request without it is refused too.
    backend = InitDataBackend(verifier, required=True)
    return Starlette(routes=[Route("/me", me, methods=["GET"])],
                     middleware=[Middleware(AuthenticationMiddleware, backend=backend,
                                            on_error=on_auth_error)])


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
