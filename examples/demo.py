"""Sign init data as the platform does, then authenticate it: in one call with the verifier, and
step by step with the native module."""

import hashlib

import norvik_auth
from norvik_auth_extras import InitDataError, Verifier, explain, sign_init_data

DEMO_BOT_TOKEN = "7000000001:AAHdemo-token-for-the-norvik-auth-example"
OTHER_BOT_TOKEN = "7000000002:AAHsome-other-bot"


def main() -> None:
    verifier = Verifier(bot_token=DEMO_BOT_TOKEN)  # once per bot: derives the key, one day max_age
    user = {"id": 279058397, "first_name": "Ann", "username": "ann_b", "language_code": "en",
            "allows_write_to_pm": True}
    fields = {"query_id": "AAHdF6IQAAAAAN0XohDhrOrc", "user": user}
    query = sign_init_data(fields, bot_token=DEMO_BOT_TOKEN)  # auth_date: now
    print("init data: ", query)

    init_data = verifier.verify(query)  # once per request: parse, signature, age
    print("verified:  ", init_data)

    refusals = {
        "tampered": query.replace("ann_b", "mallory"),
        "other bot": sign_init_data({"user": user}, bot_token=OTHER_BOT_TOKEN),
        "stale": sign_init_data({"user": user}, bot_token=DEMO_BOT_TOKEN, auth_date=1),
        "junk": "user=%7B&hash=0",
    }
    for label, text in refusals.items():
        try:
            verifier.verify(text)
        except InitDataError as error:
            print(f"{label + ':':<11} refused, reason {error.reason!r}: {error}")

    # The same steps with the native module alone, which reads no clock.
    secret_key = norvik_auth.get_secret_key(DEMO_BOT_TOKEN)
    parsed = norvik_auth.parse_webapp_data(query)
    print("module:    ", "valid" if norvik_auth.validate_webapp_data(parsed, secret_key) else "invalid",
          "auth_date", parsed.auth_date)

    # A key made the wrong way (a plain SHA-256 of the token): explain names the cause.
    wrong_key = hashlib.sha256(DEMO_BOT_TOKEN.encode()).digest()
    print()
    print(explain(sign_init_data(fields, secret_key=wrong_key), bot_token=DEMO_BOT_TOKEN))


if __name__ == "__main__":
    main()
