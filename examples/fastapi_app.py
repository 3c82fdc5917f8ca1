"""A FastAPI app whose `GET /me` takes the request's verified init data from a dependency.

The client sends `Authorization: InitData <init data>`; the answer is 200 with the user, or 401
with `{"error": <reason>}`. Run it with the `examples` extra installed
(`pip install ".[examples]"`):

    BOT_TOKEN=123:ABC uvicorn --factory --app-dir examples fastapi_app:create_app
    BOT_TOKEN=123:ABC python examples/fastapi_app.py --port 8000

$MAX_AGE (seconds, default one day) bounds how old an accepted `auth_date` may be.
"""

# No `from __future__ import annotations`: FastAPI reads the annotations of the dependency and
# of the handler at run time, and a string could not name the local dependency.

import argparse
import logging
from typing import Annotated, Optional

from fastapi import Depends, FastAPI, Header, HTTPException, Request
from fastapi.responses import JSONResponse
from norvik_auth import WebAppInitData
from norvik_auth_extras import InitDataError
from starlette.exceptions import HTTPException as StarletteHTTPException

from auth_common import (MISSING_AUTHORIZATION, UNAUTHORIZED_HEADERS, init_data_from_header,
                         user_json, verifier_from_settings)

logger = logging.getLogger("fastapi_app")


def create_app(bot_token: Optional[str] = None, max_age: Optional[float] = None) -> FastAPI:
    """The app; the bot token and the age limit default to $BOT_TOKEN and $MAX_AGE."""
    verifier = verifier_from_settings(bot_token, max_age)  # once: derives the bot's key

    # async: verifying takes microseconds, less than a hop to the thread pool would.
    async def authenticated_init_data(
            authorization: Annotated[Optional[str], Header()] = None) -> WebAppInitData:
        init_data = init_data_from_header(authorization)
        if init_data is None:
            raise HTTPException(401, MISSING_AUTHORIZATION, headers=UNAUTHORIZED_HEADERS)
        try:
            return verifier.verify(init_data)
        except InitDataError as error:
            # The detail (the parser's message, the times compared) is for the log only.
            logger.warning("init data refused: %s %s", error.reason, error.detail)
            raise HTTPException(401, error.reason, headers=UNAUTHORIZED_HEADERS) from None

    app = FastAPI()

    @app.exception_handler(StarletteHTTPException)
    async def error_as_json(request: Request, error: StarletteHTTPException) -> JSONResponse:
        # {"error": ...} rather than FastAPI's {"detail": ...}: the same shape as the other apps.
        return JSONResponse({"error": error.detail}, status_code=error.status_code,
                            headers=error.headers)

    @app.get("/me")
    async def me(
            init_data: Annotated[WebAppInitData, Depends(authenticated_init_data)],
    ) -> dict[str, object]:
        assert init_data.user is not None  # require_user
        return user_json(init_data.user)

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
