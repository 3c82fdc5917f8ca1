"""norvik_auth_extras: the verifier's refusals in order, the signer against the module's own
validation, and explain's diagnosis of bad hashes."""

import hashlib
import hmac
import json
import os
import pickle
import subprocess
import sys
from urllib.parse import quote, unquote, urlencode

import pytest
from hypothesis import given
from hypothesis import strategies as st

import norvik_auth
from norvik_auth_extras import InitDataError, Verifier, explain, sign_init_data

TOKEN = "7350184422:AAEu3h9-kx5Fq0WcLzPpT2mVbN8sYdRjQ4o"
OTHER_TOKEN = "1122334455:AAGa0Zt7Uy6Xw5Vv4Ss3Rr2Qq1Pp0Oo9Nn8"
KEY = norvik_auth.get_secret_key(TOKEN)
NOW = 1_800_000_000.0
USER = {"id": 279058397, "first_name": "Anne+Marie", "last_name": "Berg", "username": "ann_b"}


def signed(fields=None, age=0, token=TOKEN):
    return sign_init_data({"query_id": "AAHdF6IQ", "auth_date": int(NOW - age), **(fields or {})},
                          bot_token=token)


def folded(fields, age=0):
    """Genuine lines folded into one value: the same data-check string, but auth_date gone."""
    lines = sorted([f"auth_date={int(NOW - age)}"] + [f"{n}={v}" for n, v in fields.items()],
                   key=str.encode)
    name, _, value = lines[0].partition("=")
    value = "\n".join([value] + lines[1:])
    mac = hmac.new(bytes(KEY), "\n".join(lines).encode(), hashlib.sha256).hexdigest()
    return urlencode([(name, value), ("hash", mac)], quote_via=quote)


# One row per refusal and per boundary that is still accepted: (init data, verifier settings,
# expected reason or None for accepted).
REFUSALS = [
    ("", {}, "malformed"),
    ("user=%7B&hash=00", {}, "malformed"),
    ("query_id=\ud800&hash=00", {}, "malformed"),
    (signed(token=OTHER_TOKEN), {}, "signature"),
    (folded({"a": "1", "query_id": "q", "user": json.dumps(USER)}), {"max_age": None}, "signature"),
    (signed({"auth_date": None}), {}, "no_auth_date"),
    (signed({"auth_date": None}), {"max_age": None}, None),
    (signed(age=-61), {}, "future"),
    (signed(age=-60), {}, None),
    (signed(age=-11), {"max_future": 10, "max_age": None}, "future"),
    (signed(age=86401), {}, "expired"),
    (signed(age=86400), {}, None),
    (signed(age=10**6), {"max_age": None}, None),
    (signed(age=31), {"max_age": 30}, "expired"),
    (signed(), {"require_user": True}, "no_user"),
    (signed({"user": USER}), {"require_user": True}, None),
    # The order: signature before age, age before user.
    (signed(age=10**6, token=OTHER_TOKEN), {}, "signature"),
    (signed(age=-3600), {"require_user": True}, "future"),
    (signed({"auth_date": None}), {"require_user": True}, "no_auth_date"),
]


@pytest.mark.parametrize("data, settings, reason", REFUSALS)
def test_refusals_in_order(data, settings, reason):
    verifier = Verifier(bot_token=TOKEN, clock=lambda: NOW, **settings)
    if reason is None:
        assert isinstance(verifier.verify(data), norvik_auth.WebAppInitData)
        return
    with pytest.raises(InitDataError) as caught:
        verifier.verify(data)
    error = caught.value
    assert error.reason == reason and isinstance(error, ValueError)
    if reason == "malformed":
        # The parser's message is for logs only; the client sees a fixed text.
        assert error.detail in ("Hash is required", 'Unable to parse user: Error("EOF while '
                                'parsing an object", line: 1, column: 1)',
                                "'utf-8' codec can't encode character '\\ud800' in position 9: "
                                "surrogates not allowed")
        assert error.detail not in str(error)
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.reason, copy.detail, str(copy)) == (
        InitDataError, error.reason, error.detail, str(error))


@pytest.mark.parametrize("key", [KEY, bytes(KEY), bytearray(KEY), tuple(KEY)])
def test_key_forms_and_secrecy(key):
    verifier = Verifier(secret_key=key, clock=lambda: NOW)
    assert verifier.verify(signed({"user": USER})).user.first_name == "Anne+Marie"
    for shown in (repr(verifier), repr(Verifier(bot_token=TOKEN))):
        assert TOKEN not in shown and bytes(KEY).hex() not in shown
        assert str(KEY[:3])[1:-1] not in shown
    with pytest.raises(AttributeError):
        verifier.max_age = None
    # Pickled for process pools with the default clock; signed now, as the copy reads the clock.
    copy = pickle.loads(pickle.dumps(Verifier(secret_key=key, max_age=600, require_user=True)))
    assert (copy.max_age, copy.max_future, copy.require_user) == (600, 60, True)
    assert copy.verify(sign_init_data({"user": USER}, bot_token=TOKEN)).user.id == USER["id"]


@pytest.mark.parametrize("kwargs, error", [
    ({}, ValueError),
    ({"bot_token": TOKEN, "secret_key": KEY}, ValueError),
    ({"bot_token": ""}, ValueError),
    ({"secret_key": TOKEN}, TypeError),
    ({"secret_key": TOKEN.encode()}, ValueError),
    ({"secret_key": KEY[:31]}, ValueError),
    ({"secret_key": [256] + KEY[1:]}, ValueError),
    ({"bot_token": TOKEN, "max_age": -1}, ValueError),
    ({"bot_token": TOKEN, "max_future": float("nan")}, ValueError),
])
def test_verifier_settings_refused(kwargs, error):
    with pytest.raises(error):
        Verifier(**kwargs)


@pytest.mark.parametrize("fields, kwargs", [
    ({"a\nb": "1"}, {}),
    ({"a": "1\n2"}, {}),
    ({"user": {"id": 1, "first_name": "x"}, "note": "line\nfeed"}, {}),
    ({"a=b": "c"}, {}),
    ({"hash": "00"}, {}),
    ({"auth_date": 5}, {"auth_date": 6}),
    ({"chat": {"id": 1, "type": "group", "type_": "group", "title": "t"}}, {}),
    ({"a": "1"}, {"secret_key": KEY}),
])
def test_sign_refuses_what_never_validates(fields, kwargs):
    with pytest.raises(ValueError):
        sign_init_data(fields, bot_token=TOKEN, **kwargs)


# Free names stay clear of the members the parser converts or requires.
KNOWN = {"query_id", "user", "receiver", "chat", "chat_type", "chat_instance", "start_param",
         "can_send_after", "auth_date", "hash"}
# Any text but a line feed, with the characters that form encoding treats specially made common.
line_text = st.text(st.one_of(st.characters(exclude_characters="\n", exclude_categories=("Cs",)),
                              st.sampled_from("&+%=; ")))
names = line_text.filter(lambda n: "=" not in n and n not in KNOWN)
users = st.fixed_dictionaries(
    {"id": st.integers(-(2**63), 2**63 - 1), "first_name": st.text()},
    optional={"last_name": st.text(), "username": line_text, "is_premium": st.booleans(),
              "photo_url": st.text()})
chats = st.fixed_dictionaries({"id": st.integers(-(2**63), 2**63 - 1), "type": line_text,
                               "title": st.text()}, optional={"username": st.text()})
members = st.fixed_dictionaries({}, optional={
    "query_id": line_text, "chat_type": line_text, "chat_instance": line_text,
    "start_param": line_text, "can_send_after": st.integers(0, 2**64 - 1),
    "user": users, "receiver": users, "chat": chats})


@given(members, st.dictionaries(names, line_text, max_size=4))
def test_signed_fields_verify_and_come_back(fields, free):
    # Signed now, at the call: the verifier's wall clock sees fresh data however slow the run.
    record = Verifier(bot_token=TOKEN).verify(sign_init_data({**free, **fields}, bot_token=TOKEN))
    for name, value in fields.items():
        got = getattr(record, name)
        if isinstance(value, dict):
            for member, expected in value.items():
                assert getattr(got, member) == expected
        else:
            assert got == value
    absent = KNOWN - set(fields) - {"auth_date", "hash"}
    assert all(getattr(record, name) is None for name in absent)


def percent_decoded():
    return unquote(signed({"user": USER}, age=60))


# One row per diagnosis: init data, then a text the explanation must hold.
DIAGNOSES = [
    (signed({"user": USER}, age=60), "verdict: valid"),
    (sign_init_data({"a": "1"}, secret_key=hashlib.sha256(TOKEN.encode()).digest(),
                    auth_date=int(NOW)), "a plain SHA-256 of the token"),
    (sign_init_data({"a": "1"}, secret_key=TOKEN.encode()[:32].ljust(32, b"\0"),
                    auth_date=int(NOW)), "another bot's token, or altered"),
    (percent_decoded(), "already percent-decoded"),
    (percent_decoded(), "re-encoding it validates"),
    (json.dumps({"query_id": "q", "hash": "00"}), "is a JSON object"),
    (repr({"query_id": "q", "hash": "00"}), "is a Python dict's repr"),
    (folded({"a": "1", "query_id": "q", "user": json.dumps(USER)}), "reshaped lines"),
    (signed(token=OTHER_TOKEN), "another bot's token, or altered"),
    (signed(age=90000), "refused, expired"),
    ("user=%7B&hash=00", "parsing fails: Unable to parse user"),
    ("a=\udcff&hash=00", "parsing fails: 'utf-8' codec can't encode"),  # argv's surrogateescape
]


@pytest.mark.parametrize("data, expected", DIAGNOSES)
def test_explain_names_the_cause(data, expected):
    text = explain(data, bot_token=TOKEN, now=NOW)
    assert expected in text
    assert TOKEN not in text and bytes(KEY).hex() not in text and str(KEY)[1:-1] not in text


def test_explain_wrong_derivation_raw_token():
    # The token's own bytes as the key: only the token can show it, so explain gets the token.
    data = urlencode([("a", "1"), ("hash", hmac.new(TOKEN.encode(), b"a=1",
                                                    hashlib.sha256).hexdigest())])
    assert "the token's bytes used as the key" in explain(data, bot_token=TOKEN, now=NOW)
    assert "another bot's token" in explain(data, secret_key=KEY, now=NOW)


@pytest.mark.parametrize("argv, stdin, token, status", [
    (["explain", "--now", str(NOW), signed()], "", TOKEN, 0),
    (["explain", "--now", str(NOW)], signed() + "\n", TOKEN, 0),
    (["explain", "--now", str(NOW)], signed(token=OTHER_TOKEN), TOKEN, 1),
    (["explain", signed()], "", "", 2),
    ([], "", TOKEN, 2),
])
def test_command_line(argv, stdin, token, status):
    env = {**os.environ, "BOT_TOKEN": token}
    done = subprocess.run([sys.executable, "-m", "norvik_auth_extras", *argv], input=stdin,
                          capture_output=True, text=True, env=env, timeout=120)
    assert done.returncode == status, done.stderr
    assert not token or token not in done.stdout + done.stderr


def test_one_verifier_serves_many_threads():
    """Each thread gets its own user back, and the refusals of one never leak into another."""
    from concurrent.futures import ThreadPoolExecutor

    verifier = Verifier(bot_token=TOKEN, require_user=True, clock=lambda: NOW)

    def work(thread):
        answers = []
        for i in range(200):
            user_id = thread * 1000 + i
            text = signed({"user": {"id": user_id, "first_name": "T"}}, token=TOKEN)
            answers.append(verifier.verify(text).user.id == user_id)
            with pytest.raises(InitDataError) as refused:
                verifier.verify(text.replace("T%22", "U%22"))
            answers.append(refused.value.reason == "signature")
        return all(answers)

    with ThreadPoolExecutor(8) as pool:
        assert all(pool.map(work, range(8)))
