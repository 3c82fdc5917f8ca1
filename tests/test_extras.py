"""norvik_auth_extras: the verifier's refusals in order, the signer against the module's own
validation, and explain's diagnosis of bad hashes."""

import hashlib
import hmac
import inspect
import json
import math
import os
import pickle
import subprocess
import sys
from concurrent.futures import ProcessPoolExecutor
from datetime import timedelta
from functools import partial
from unittest import mock
from urllib.parse import parse_qsl, quote, unquote, urlencode

import pytest
from hypothesis import given
from hypothesis import strategies as st

import norvik_auth
from helpers import data_check_string, sign
import norvik_auth_extras
from norvik_auth_extras import InitDataError, Verifier, explain, sign_init_data
from test_hostile_environment import failing_alloc, sweep  # noqa: F401 - a fixture

pytestmark = pytest.mark.python_only

TOKEN = "7350184422:AAEu3h9-kx5Fq0WcLzPpT2mVbN8sYdRjQ4o"
OTHER_TOKEN = "1122334455:AAGa0Zt7Uy6Xw5Vv4Ss3Rr2Qq1Pp0Oo9Nn8"
KEY = norvik_auth.get_secret_key(TOKEN)
SWAPPED = hmac.new(TOKEN.encode(), b"SignedView", hashlib.sha256).digest()
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
    (lambda: signed(age=86401), {"require_user": True}, "expired"),
    (lambda: signed(), {"max_age": 0}, None),
    (lambda: signed(age=1), {"max_age": 0}, "expired"),
    (lambda: signed(age=301), {"max_age": timedelta(minutes=5)}, "expired"),
    (lambda: signed(age=300), {"max_age": timedelta(minutes=5)}, None),
    (signed(age=-2), {"max_future": timedelta(seconds=1)}, "future"),
]
# Each reason's class and its text, which is all a client is shown.
CLASSES = {"malformed": ("MalformedInitData", "init data is malformed"),
           "signature": ("InvalidSignature", "init data has an invalid signature"),
           "no_auth_date": ("MissingAuthDate", "init data has no auth_date"),
           "expired": ("ExpiredInitData", "init data has expired"),
           "future": ("FutureInitData", "init data is dated in the future"),
           "no_user": ("MissingUser", "init data has no user")}


@pytest.mark.parametrize("data, settings, reason", REFUSALS)
def test_refusals_in_order(data, settings, reason):
    data = data() if callable(data) else data
    verifier = Verifier(bot_token=TOKEN, clock=iter([NOW]).__next__, **settings)  # read once
    if reason is None:
        assert isinstance(verifier.verify(data), norvik_auth.WebAppInitData)
        return
    with pytest.raises(InitDataError) as caught:
        verifier.verify(data)
    error = caught.value
    assert error.reason == reason and isinstance(error, ValueError)
    assert (type(error).__name__, str(error)) == CLASSES[reason]
    # The record once the signature has been checked, and only then.
    signature_checked = reason not in ("malformed", "signature")
    assert getattr(error.init_data, "hash", None) == (
        norvik_auth.parse_webapp_data(data).hash if signature_checked else None)
    if reason == "malformed":
        # The parser's message is for logs only; the client sees a fixed text.
        assert error.detail in ("Hash is required", 'Unable to parse user: Error("EOF while '
                                'parsing an object", line: 1, column: 1)',
                                "'utf-8' codec can't encode character '\\ud800' in position 9: "
                                "surrogates not allowed")
        assert error.detail not in str(error)
    copy = pickle.loads(pickle.dumps(error))
    assert (type(copy), copy.reason, copy.detail, str(copy), copy.init_data) == (
        type(error), error.reason, error.detail, str(error), None)
    # verify makes its errors without calling the class: the same state as a call gives.
    made = type(error)(error.detail, init_data=error.init_data)
    assert (error.args, vars(error)) == (made.args, vars(made))


@pytest.mark.parametrize("reason, name, text", [(r, *v) for r, v in CLASSES.items()])
def test_one_class_per_reason(reason, name, text):
    cls = getattr(norvik_auth_extras, name)
    made = [InitDataError(reason, "d"), cls("d"), pickle.loads(pickle.dumps(cls("d")))]
    assert [(type(e), e.reason, e.detail, str(e), e.init_data) for e in made] == [
        (cls, reason, "d", text, None)] * 3
    assert issubclass(cls, InitDataError)
    assert {InitDataError.__module__, cls.__module__} == {"norvik_auth_extras"}
    assert repr(made[0]) == f"{name}(detail='d')"
    with pytest.raises(ValueError, match="unknown reason"):
        InitDataError(name)


@pytest.mark.parametrize("key", [KEY, bytes(KEY), bytearray(KEY), tuple(KEY), memoryview(bytes(KEY))])
def test_key_forms_and_secrecy(key):
    verifier = Verifier(secret_key=key, clock=lambda: NOW)
    assert verifier.verify(signed({"user": USER})).user.first_name == "Anne+Marie"
    for shown in (repr(verifier), repr(Verifier(bot_token=TOKEN))):
        assert TOKEN not in shown and bytes(KEY).hex() not in shown
        assert str(KEY[:3])[1:-1] not in shown
    with pytest.raises(AttributeError):
        verifier.max_age = None
    # Pickled for process pools with the default clock; signed now, as the copy reads the clock.
    copy = pickle.loads(pickle.dumps(Verifier(secret_key=key, max_age=timedelta(minutes=10),
                                              max_future=timedelta(0), require_user=True)))
    assert (copy.max_age, copy.max_future, copy.require_user) == (600, 0, True)
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
    ({"bot_token": TOKEN, "max_age": 10**400}, ValueError),
    ({"bot_token": TOKEN, "max_future": timedelta(microseconds=-1)}, ValueError),
    ({"bot_token": "1:\udcff"}, ValueError),
    *[({"bot_token": TOKEN, **bad}, TypeError)
      for bad in ({"max_age": True}, {"max_future": None}, {"require_user": "no"})],
    *[({"secret_key": bad}, TypeError) for bad in (32, set(KEY), dict.fromkeys(KEY), [True] * 32)],
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
hostile = st.one_of(st.none(), st.booleans(), st.integers(-2**65, 2**65), st.floats(), st.text())


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


def leaks_nothing(data, report):
    """Each line of the report is its own; of a hash computed under a key, 8 digits show at most."""
    lines = report.split("\n")
    assert all(map(str.isprintable, lines)) and sum(line.startswith("verdict: ") for line in lines) <= 1
    pairs = parse_qsl(data.encode(errors="replace").decode(), keep_blank_values=True)
    for key in (bytes(KEY), hashlib.sha256(TOKEN.encode()).digest(), TOKEN.encode(), SWAPPED):
        computed = hmac.new(key, data_check_string(pairs).encode(), hashlib.sha256).hexdigest()
        assert computed[:9] not in report or computed == dict(pairs).get("hash")


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
    (lambda: sign_init_data({"a": "1"}, secret_key=SWAPPED), "token and derivation key swapped"),
    ("a%3Db=1&hash=00", "reshaped lines: 'a=b' holds '='"),
    (lambda: sign([("a", "1"), ("a", "2")], TOKEN), "the same as the received one"),
    ("a=%1B[2K%0D%0Averdict: valid\u202e\x00&hash=" + "0" * 64, "verdict: refused"),
    ("a=" + "1" * 65535, "65537 characters, more than the 65536 that explain reads; not parsed"),
    ('{"a":' + "[" * 30000 + "]" * 30000 + "}", "is a JSON object"),
]


@pytest.mark.parametrize("data, expected", DIAGNOSES)
def test_explain_names_the_cause(data, expected):
    data = data() if callable(data) else data
    text = explain(data, bot_token=TOKEN, now=NOW)
    assert expected in text
    leaks_nothing(data, text)
    assert TOKEN not in text and bytes(KEY).hex() not in text and str(KEY)[1:-1] not in text


def test_explain_wrong_derivation_raw_token():
    # The token's own bytes as the key: only the token can show it, so explain gets the token.
    data = urlencode([("a", "1"), ("hash", hmac.new(TOKEN.encode(), b"a=1",
                                                    hashlib.sha256).hexdigest())])
    assert "the token's bytes used as the key" in explain(data, bot_token=TOKEN, now=NOW)
    assert "another bot's token" in explain(data, secret_key=KEY, now=NOW)


# A callable signs at run time; standard input None is closed, standard output None a pipe.
@pytest.mark.parametrize("argv, stdin, env, stdout, status", [
    (["explain", "--now", str(NOW), signed], "", {}, None, 0),
    (["explain", "--now", str(NOW)], lambda: signed() + "\n", {}, None, 0),
    (["explain", "--now", str(NOW)], lambda: signed(token=OTHER_TOKEN), {}, None, 1),
    (["explain", signed], "", {"BOT_TOKEN": ""}, None, 2),
    ([], "", {}, None, 2),
    (["explain", "--now", "nan", signed], "", {}, None, 2),
    (["explain", signed], "", {"BOT_TOKEN": b"1:\xff"}, None, 2),
    (["explain"], None, {}, None, 2),
    (["explain", signed], "", {}, "/dev/full", 2),
    (["explain", "--now", str(NOW), lambda: signed({"user": {**USER, "first_name": "\u00c5se"}})],
     "", {"LC_ALL": "C", "PYTHONUTF8": "0", "PYTHONCOERCECLOCALE": "0"}, None, 0),
    (["explain"], "a=" * 40000, {}, None, 2),
    (["sign", "a=1"], "", {"BOT_TOKEN": ""}, None, 2),
    (["sign", "a=1"], "", {"BOT_TOKEN": b"1:\xff"}, None, 2),
    (["sign", b"a=\xff"], "", {}, None, 2),
    (["sign", 'user={"id":42}'], "", {}, None, 2),  # no first_name: the signer refuses it
    (["sign", "query_id"], "", {}, None, 2),  # not NAME=VALUE
    (["sign", "a=1", "a=2"], "", {}, None, 2),
    (["sign", "auth_date=5", "--auth-date", "6"], "", {}, None, 2),
    (["sign", "--auth-date", "-1"], "", {}, None, 2),
    (["sign", "a=1"], "", {}, "/dev/full", 2),
])
def test_command_line(argv, stdin, env, stdout, status):
    environ = {**os.environ, "BOT_TOKEN": TOKEN, **env}
    argv = [arg() if callable(arg) else arg for arg in argv]
    with open(stdout or os.devnull, "w") as sink:
        done = subprocess.run(
            [sys.executable, "-m", "norvik_auth_extras", *argv], env=environ, timeout=120, text=True,
            input=stdin() if callable(stdin) else stdin, stdout=sink if stdout else subprocess.PIPE,
            stderr=subprocess.PIPE, preexec_fn=None if stdin is not None else partial(os.close, 0))
    assert done.returncode == status, done.stderr
    assert len(done.stderr.splitlines()) == (status == 2), done.stderr
    assert TOKEN not in (done.stdout or "") + done.stderr


def test_command_line_signs_what_verifies():
    argv = ["sign", 'user={"id":42,"first_name":"Ann"}', "query_id=a b&c", "--auth-date", "1000"]
    done = subprocess.run([sys.executable, "-m", "norvik_auth_extras", *argv], text=True,
                          env={**os.environ, "BOT_TOKEN": TOKEN}, capture_output=True, timeout=120)
    assert (done.returncode, done.stderr) == (0, "")
    record = Verifier(bot_token=TOKEN, max_age=None).verify(done.stdout.rstrip("\n"))
    assert (record.user.id, record.user.first_name, record.query_id, record.auth_date) == (
        42, "Ann", "a b&c", 1000)


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


class AllowList(Verifier):
    def verify(self, init_data):
        record = super().verify(init_data)
        if record.user is None or record.user.id != USER["id"]:
            raise PermissionError("not on the list")
        return record


def test_verifier_extended_pickled_and_mocked():
    verifier = AllowList(bot_token=TOKEN, max_future=5, clock=partial(float, NOW))
    with ProcessPoolExecutor(1) as pool, pytest.raises(PermissionError):  # records do not pickle
        pool.submit(verifier.verify, signed()).result()
    copy = pickle.loads(pickle.dumps(verifier.verify)).__self__  # under the wall clock: "future"
    assert (type(copy), copy.max_future, copy.verify(signed({"user": USER})).user.id) == (AllowList, 5, USER["id"])
    with mock.patch.object(verifier, "verify", return_value="patched"):
        assert verifier.verify("") == "patched"
    assert list(inspect.signature(Verifier.verify).parameters) == ["self", "init_data"]
    with pytest.raises(AttributeError):
        verifier.__init__(bot_token=OTHER_TOKEN)


@pytest.mark.parametrize("reading", [math.nan, math.inf, -math.inf, None, str(NOW), 10**400, True])
def test_broken_clock_lets_nothing_through(reading):
    # Limits that any finite reading meets: only the reading itself can refuse.
    verifier = Verifier(bot_token=TOKEN, max_age=math.inf, max_future=math.inf, clock=lambda: reading)
    with pytest.raises(RuntimeError, match="clock"):
        verifier.verify(signed())


@pytest.mark.parametrize("thread", [False, True], ids=["warm-process", "new-thread"])
def test_failed_allocation_in_verify_is_the_servers_fault(thread, failing_alloc, tmp_path):
    entries = sweep(failing_alloc, tmp_path, {"call": "verify", "warm": True, "thread": thread})
    # The native module's "Python API call failed" is reached, and never called malformed.
    assert {entry["armed"].partition(":")[0] for entry in entries} == {"right", "MemoryError", "RuntimeError"}
    assert {(entry["exit"], entry["next"]) for entry in entries} == {(0, "right")}


@given(st.lists(st.one_of(st.characters(), st.sampled_from(
    ["%0A", "%0D", "%1B", "%00", "%E2%80%AE", "\r", "&", "=", "%3D", "+", "hash=", '{"', "user="]))))
def test_explain_report_holds_no_line_from_the_data(parts):
    leaks_nothing("".join(parts), explain("".join(parts), bot_token=TOKEN, now=NOW))


@given(st.dictionaries(st.sampled_from(sorted(KNOWN)), hostile | st.dictionaries(
    st.sampled_from(["id", "first_name", "type", "title", "is_bot"]), hostile), max_size=4),
       st.one_of(st.none(), st.integers(-2**65, 2**65), st.floats()))
def test_signer_refuses_or_signs_what_verifies(fields, auth_date):
    try:
        text = sign_init_data(fields, bot_token=TOKEN, auth_date=auth_date)
    except (TypeError, ValueError):
        return
    record = Verifier(bot_token=TOKEN, max_age=None, max_future=math.inf).verify(text)
    for name, value in fields.items():
        got = getattr(record, name)
        if isinstance(value, dict):
            assert all(getattr(got, k) == v for k, v in value.items() if hasattr(got, k))
        elif value is not None:
            assert got == (int(value) if name in ("auth_date", "can_send_after") else str(value))
