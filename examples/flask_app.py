"""A Flask app whose `GET /me` is guarded by the view decorator `init_data_required`, which
leaves the verified init data in `flask.g.init_data`.

The client sends `Authorization: InitData <init data>`; the answer is 200 with the user, or 401
with `{"error": <reason>}`. Run it with the `examples` extra installed
(`pip install ".[examples]"`):

    BOT_TOKEN=123:ABC flask --app "examples/flask_app:create_app()" run --port 8000
    BOT_TOKEN=123:ABC python examples/flask_app.py --port 8000

$MAX_AGE (seconds, default one day) bounds how old an accepted `auth_date` may be.
"""

from __future__ import annotations

import argparse
import logging
import os
import sys
from typing import Any, Optional

from flask import Flask, g
from norvik_auth import WebAppInitData
from norvik_auth_extras import Verifier, as_dict
from norvik_auth_extras.flask import init_data_required


def create_app(bot_token: Optional[str] = None, max_age: Optional[float] = None) -> Flask:
    """The app; the bot token and the age limit default to $BOT_TOKEN and $MAX_AGE."""
    # One line on standard error rather than a KeyError's traceback, however the app is started.
    token = bot_token or os.environ.get("BOT_TOKEN") or sys.exit("set BOT_TOKEN to the bot's token")
    max_age = float(os.environ.get("MAX_AGE", 86400)) if max_age is None else max_age
    # require_user: /me has nothing to answer without a user, so such init data is refused.
    verifier = Verifier(bot_token=token, max_age=max_age, require_user=True)
    app = Flask(__name__)

    @app.get("/me")
    @init_data_required(verifier)
    def me() -> dict[str, Any]:
        init_data: WebAppInitData = g.init_data
        assert init_data.user is not None  # require_user
        return as_dict(init_data.user)

    return app


def main() -> None:
    parser = argparse.ArgumentParser(description="Serves the example app; BOT_TOKEN must be set.")
    parser.add_argument("--host", default="127.0.0.1")
    parser.add_argument("--port", type=int, default=8000)
    args = parser.parse_args()
    logging.basicConfig(level=logging.INFO)
    # Flask's own development server; a deployment serves create_app() with a WSGI server.
    create_app().run(host=args.host, port=args.port)


if __name__ == "__main__":
    main()
