"""A Starlette app whose `GET /me` authenticates each request by its signed init data.

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
from typing import Optional

from norvik_auth_extras import InitDataError
from starlette.applications import Starlette
from starlette.requests import Request
from starlette.responses import JSONResponse
from starlette.routing import Route

from auth_common import (MISSING_AUTHORIZATION, UNAUTHORIZED_HEADERS, init_data_from_header,
                         user_json, verifier_from_settings)

logger = logging.getLogger("webapp_server")


def _unauthorized(reason: str) -> JSONResponse:
    return JSONResponse({"error": reason}, status_code=401, headers=UNAUTHORIZED_HEADERS)


def create_app(bot_token: Optional[str] = None, max_age: Optional[float] = None) -> Starlette:
    """The app; the bot token and the age limit default to $BOT_TOKEN and $MAX_AGE."""
    verifier = verifier_from_settings(bot_token, max_age)  # once: derives the bot's key

    # Verifying takes microseconds, so the handler does it on the event loop.
    async def me(request: Request) -> JSONResponse:
        init_data = init_data_from_header(request.headers.get("authorization"))
        if init_data is None:
            return _unauthorized(MISSING_AUTHORIZATION)
        try:
            record = verifier.verify(init_data)
        except InitDataError as error:
            # The detail (the parser's message, the times compared) is for the log only.
            logger.warning("init data refused: %s %s", error.reason, error.detail)
            return _unauthorized(error.reason)
        assert record.user is not None  # require_user
        return JSONResponse(user_json(record.user))

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
