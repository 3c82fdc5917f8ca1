"""What the three example apps share: their settings, the Authorization header, the user as JSON.

Each app sends its init data as `Authorization: InitData <init data>`, is configured by
$BOT_TOKEN and $MAX_AGE (seconds, default one day), and answers every refusal with 401 and
`{"error": <reason>}`: one of InitDataError's reasons, or "missing_authorization".
"""

from __future__ import annotations

import os
from typing import Optional

from norvik_auth import WebAppUser
from norvik_auth_extras import Verifier

AUTH_SCHEME = "InitData"
MISSING_AUTHORIZATION = "missing_authorization"
UNAUTHORIZED_HEADERS = {"WWW-Authenticate": AUTH_SCHEME}
DEFAULT_MAX_AGE_SECONDS = 86400.0

USER_FIELDS = ("id", "is_bot", "first_name", "last_name", "username", "language_code",
               "is_premium", "added_to_attachment_menu", "allows_write_to_pm", "photo_url")


def verifier_from_settings(bot_token: Optional[str], max_age: Optional[float]) -> Verifier:
    """The app's verifier; a None argument is read from $BOT_TOKEN or $MAX_AGE."""
    if bot_token is None:
        bot_token = os.environ.get("BOT_TOKEN", "")
    if not bot_token:
        raise RuntimeError("set BOT_TOKEN to the bot's token (or pass bot_token)")
    if max_age is None:
        max_age = float(os.environ.get("MAX_AGE", DEFAULT_MAX_AGE_SECONDS))
    # /me has nothing to answer without a user, so such init data is refused like any other.
    return Verifier(bot_token=bot_token, max_age=max_age, require_user=True)


def init_data_from_header(authorization: Optional[str]) -> Optional[str]:
    """The init data of an `InitData` Authorization header; None if absent or of another scheme."""
    scheme, _, init_data = (authorization or "").strip().partition(" ")
    if scheme.lower() != AUTH_SCHEME.lower():  # schemes are case-insensitive in HTTP
        return None
    return init_data.strip()


def user_json(user: WebAppUser) -> dict[str, object]:
    """Every field of the user, None where the init data did not give it."""
    return {name: getattr(user, name) for name in USER_FIELDS}
