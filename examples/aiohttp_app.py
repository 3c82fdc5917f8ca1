"""An aiohttp app whose middleware, `init_data_middleware`, verifies each request's init data
before any handler runs.

The client sends `Authorization: InitData <init data>`; the answer is 200 with the user, or 401
with `{"error": <reason>}`. Run it with the `examples` extra installed
(`pip install ".[examples]"`):

    BOT_TOKEN=123:ABC python examples/aiohttp_app.py --port 8000

$MAX_AGE (seconds, default one day) bounds how old an accepted `auth_date` may be.
"""

from __future__ import annotations

import argparse
import logging
import os
import sys
from typing import Optional

from aiohttp import web
from norvik_auth_extras import Verifier, as_dict
from norvik_auth_extras.aiohttp import INIT_DATA, init_data_middleware


async def me(request: web.Request) -> web.Response:
    user = request[INIT_DATA].user
    assert user is not None  # require_user
    return web.json_response(as_dict(user))


def create_app(bot_token: Optional[str] = None, max_age: Optional[float] = None) -> web.Application:
    """The app; the bot token and the age limit default to $BOT_TOKEN and $MAX_AGE."""
    # One line on standard error rather than a KeyError's traceback, however the app is started.
    token = bot_token or os.environ.get("BOT_TOKEN") or sys.exit("set BOT_TOKEN to the bot's token")
    max_age = float(os.environ.get("MAX_AGE", 86400)) if max_age is None else max_age
    # require_user: /me has nothing to answer without a user, so such init data is refused.
    verifier = Verifier(bot_token=token, max_age=max_age, require_user=True)
    app = web.Application(middlewares=[init_data_middleware(verifier)])
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
