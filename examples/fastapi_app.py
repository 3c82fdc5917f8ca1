"""A FastAPI app whose `GET /me` takes the request's verified init data from a security
dependency, `InitDataAuth`, which the docs page at /docs offers to fill in with "Authorize".

The client sends `Authorization: InitData <init data>`; the answer is 200 with the user, or 401
with `{"error": <reason>}`. Run it with the `examples` extra installed
(`pip install ".[examples]"`):

    BOT_TOKEN=123:ABC uvicorn --factory --app-dir examples fastapi_app:create_app
    BOT_TOKEN=123:ABC python examples/fastapi_app.py --port 8000

$MAX_AGE (seconds, default one day) bounds how old an accepted `auth_date` may be.
"""

# No `from __future__ import annotations`: FastAPI reads the annotations of the handler at run
# time, and a string could not name the local dependency.

import argparse
import logging
import os
import sys
from typing import Annotated, Any, Optional

from fastapi import Depends, FastAPI
from norvik_auth import WebAppInitData
from norvik_auth_extras import Verifier, as_dict
from norvik_auth_extras.fastapi import InitDataAuth, InitDataRefused, on_auth_error


def create_app(bot_token: Optional[str] = None, max_age: Optional[float] = None) -> FastAPI:
    """The app; the bot token and the age limit default to $BOT_TOKEN and $MAX_AGE."""
    # One line on standard error rather than a KeyError's traceback, however the app is started.
    token = bot_token or os.environ.get("BOT_TOKEN") or sys.exit("set BOT_TOKEN to the bot's token")
    max_age = float(os.environ.get("MAX_AGE", 86400)) if max_age is None else max_age
    # require_user: /me has nothing to answer without a user, so such init data is refused.
    auth = InitDataAuth(Verifier(bot_token=token, max_age=max_age, require_user=True))
    # {"error": reason} rather than FastAPI's {"detail": reason}: the same as the other apps.
    app = FastAPI(exception_handlers={InitDataRefused: on_auth_error})

    @app.get("/me")
    async def me(init_data: Annotated[WebAppInitData, Depends(auth)]) -> dict[str, Any]:
        assert init_data.user is not None  # require_user
        return as_dict(init_data.user)

    return app


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
