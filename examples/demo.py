"""Sign init data the way the platform does, then parse and validate it with norvik_auth."""

import hashlib
import hmac
import json
import time
from collections.abc import Sequence
from urllib.parse import quote, urlencode

import norvik_auth

DEMO_BOT_TOKEN = "7000000001:AAHdemo-token-for-the-norvik-auth-example"
OTHER_BOT_TOKEN = "7000000002:AAHsome-other-bot"


def platform_sign(pairs: Sequence[tuple[str, str]], bot_token: str) -> str:
    """What the platform does: HMAC-SHA-256 over the data-check string under the bot's secret key."""
    secret = hmac.new(b"SignedView", bot_token.encode(), hashlib.sha256).digest()
    lines = sorted((f"{name}={value}" for name, value in pairs if name != "hash" and value), key=str.encode)
    digest = hmac.new(secret, "\n".join(lines).encode(), hashlib.sha256).hexdigest()
    return urlencode(list(pairs) + [("hash", digest)], quote_via=quote)


def main() -> None:
    secret_key = norvik_auth.get_secret_key(DEMO_BOT_TOKEN)  # once per bot
    print("secret key:", bytes(secret_key).hex())

    user = {"id": 279058397, "first_name": "Ann", "username": "ann_b", "language_code": "en",
            "allows_write_to_pm": True}
    query = platform_sign(
        [("query_id", "AAHdF6IQAAAAAN0XohDhrOrc"), ("user", json.dumps(user)),
         ("auth_date", str(int(time.time())))],
        DEMO_BOT_TOKEN,
    )
    print("init data: ", query)

    init_data = norvik_auth.parse_webapp_data(query)  # once per request
    print("parsed:    ", init_data)
    parsed_user = init_data.user
    assert parsed_user is not None  # the query above always carries a user
    print("user id:   ", parsed_user.id)
    print("valid:     ", norvik_auth.validate_webapp_data(init_data, secret_key))

    tampered = norvik_auth.parse_webapp_data(query.replace("ann_b", "mallory"))
    print("tampered:  ", norvik_auth.validate_webapp_data(tampered, secret_key))
    other_key = norvik_auth.get_secret_key(OTHER_BOT_TOKEN)
    print("other bot: ", norvik_auth.validate_webapp_data(init_data, other_key))


if __name__ == "__main__":
    main()
