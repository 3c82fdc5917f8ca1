"""The four example apps (examples/*_app.py, examples/webapp_server.py), each served on loopback
by its own `main()` and called over real HTTP with the same table of requests.

Every init data is signed when its request is sent, never when the tests are collected, so a run
slowed past MAX_AGE (valgrind, sanitizers, emulation) sees the same answers."""

import asyncio
import concurrent.futures
import contextlib
import importlib.util
import os
import secrets
import subprocess
import sys
import time
from pathlib import Path

import pytest

httpx = pytest.importorskip("httpx")
pytest.importorskip("norvik_auth_extras")
from norvik_auth_extras import sign_init_data  # noqa: E402

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
sys.path.insert(0, str(EXAMPLES))
from serve_demo import USER, authorization, signed, start_server, stop_server  # noqa: E402

pytestmark = pytest.mark.python_only

MAX_AGE = 300
MAX_FUTURE = 60  # the verifier's default clock skew
# The frameworks each app needs; its cases are skipped when one is missing.
APPS = {"webapp_server": ("starlette", "uvicorn"), "fastapi_app": ("fastapi", "uvicorn"),
        "aiohttp_app": ("aiohttp",), "flask_app": ("flask",)}
USER_FIELDS = ("id", "is_bot", "first_name", "last_name", "username", "language_code",
               "is_premium", "added_to_attachment_menu", "allows_write_to_pm", "photo_url")
# Lines a server may log only when a request escaped its handler or broke its connection.
CRASH_MARKS = ("Traceback", "Exception in ASGI application", "Error handling request",
               "Task exception was never retrieved", "PanicException")


def as_answered(user):
    return {name: user.get(name) for name in USER_FIELDS}


@pytest.fixture(scope="module")
def servers(tmp_path_factory):
    """Every app whose frameworks are installed, started side by side, all with one bot token."""
    token = f"{secrets.randbelow(10**10)}:{secrets.token_urlsafe(26)}"
    available = [app for app, modules in APPS.items()
                 if all(importlib.util.find_spec(module) for module in modules)]
    with concurrent.futures.ThreadPoolExecutor(max(len(available), 1)) as pool:
        starts = [pool.submit(start_server, app, token, tmp_path_factory.mktemp(app) / "server.log",
                              MAX_AGE) for app in available]
    started = {app: start.result() for app, start in zip(available, starts)
               if start.exception() is None}
    try:
        for start in starts:
            start.result()  # the first failure to start, if any
        yield started
    finally:
        for running in started.values():
            stop_server(running)


@pytest.fixture(scope="module", params=list(APPS))
def server(request, servers):
    for module in APPS[request.param]:
        pytest.importorskip(module)
    return servers[request.param]


@pytest.fixture(scope="module")
def client(server):
    # One per server: making a client costs more than a request (it loads the TLS trust store).
    with httpx.Client(base_url=server.url, timeout=30.0, trust_env=False) as client:
        yield client


def altered(text, old, new):
    assert old in text
    return text.replace(old, new, 1)


FULL_USER = {"id": 7, "is_bot": False, "first_name": "Bo", "last_name": "Ek", "username": "bo",
             "language_code": "sv", "is_premium": True, "added_to_attachment_menu": False,
             "allows_write_to_pm": True, "photo_url": "https://example.invalid/bo.jpg"}


def no_auth_date(token):
    return sign_init_data({"user": USER, "auth_date": None}, bot_token=token)


# Each case makes its headers from the server's bot token when the request is sent.
ANSWERS = {
    "genuine": (lambda token: authorization(signed(token)), 200, as_answered(USER)),
    "lowercase scheme, two spaces": (
        lambda token: {"Authorization": f"initdata  {signed(token)}"}, 200, as_answered(USER)),
    "every user field": (
        lambda token: authorization(signed(token, user=FULL_USER)), 200, FULL_USER),
    "just fresh": (lambda token: authorization(signed(token, age=MAX_AGE - 15)), 200,
                   as_answered(USER)),
    "ahead within skew": (lambda token: authorization(signed(token, age=-MAX_FUTURE / 2)), 200,
                          as_answered(USER)),
    "no header": (lambda token: {}, 401, "missing_authorization"),
    "empty header": (lambda token: {"Authorization": ""}, 401, "missing_authorization"),
    "other scheme": (lambda token: {"Authorization": f"Bearer {signed(token)}"}, 401,
                     "missing_authorization"),
    "no space after scheme": (lambda token: {"Authorization": f"InitData{signed(token)}"}, 401,
                              "missing_authorization"),
    "scheme alone": (lambda token: {"Authorization": "InitData"}, 401, "missing_authorization"),
    "junk": (lambda token: authorization("not init data"), 401, "malformed"),
    "user without id": (lambda token: authorization(altered(signed(token), "%22id%22", "%22xd%22")),
                        401, "malformed"),
    "other bot": (lambda token: authorization(signed("1:another-bot")), 401, "signature"),
    "altered user": (lambda token: authorization(altered(signed(token), "279058397", "1")), 401,
                     "signature"),
    "altered name": (lambda token: authorization(altered(signed(token), "Berg", "Borg")), 401,
                     "signature"),
    "stale": (lambda token: authorization(signed(token, age=MAX_AGE + 5)), 401, "expired"),
    "future": (lambda token: authorization(signed(token, age=-MAX_FUTURE - 60)), 401, "future"),
    "no auth_date": (lambda token: authorization(no_auth_date(token)), 401, "no_auth_date"),
    "no user": (lambda token: authorization(signed(token, user=None)), 401, "no_user"),
}
@pytest.mark.parametrize("case", list(ANSWERS))
def test_answers(client, server, case):
    make_headers, status, expected = ANSWERS[case]
    answer = client.get("/me", headers=make_headers(server.bot_token))
    assert answer.status_code == status, answer.text
    if status == 200:
        assert answer.json() == expected
    else:
        assert answer.json() == {"error": expected}
        assert answer.headers["www-authenticate"] == "InitData"


def test_parser_message_is_logged_not_echoed(client, server):
    answer = client.get("/me", headers=authorization("user=%7B&hash=00"))
    assert answer.json() == {"error": "malformed"}
    deadline = time.monotonic() + 10
    while "Unable to parse user" not in server.log_text() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert "init data refused: malformed Unable to parse user: " in server.log_text()


def test_large_init_data(client, server):
    # Within every framework's default header limit (aiohttp's is 8 KiB a field).
    big = signed(server.bot_token, extra={"start_param": "p" * 6000})
    assert client.get("/me", headers=authorization(big)).json() == as_answered(USER)
    forged = altered(big, "ppp", "ppq")
    assert client.get("/me", headers=authorization(forged)).json() == {"error": "signature"}
    assert client.get("/me", headers=authorization("%" * 6000)).json() == {"error": "malformed"}


def test_body_is_ignored(client, server):
    body = os.urandom(64 * 1024)
    genuine = authorization(signed(server.bot_token))
    assert client.request("GET", "/me", content=body, headers=genuine).status_code == 200
    assert client.request("GET", "/me", content=body).status_code == 401
    assert client.post("/me", content=body, headers=genuine).status_code == 405


def test_concurrent_requests_get_their_own_user(server):
    users = [{"id": 1000 + n, "first_name": f"User {n}"} for n in range(64)]

    async def run():
        limits = httpx.Limits(max_connections=16)
        async with httpx.AsyncClient(base_url=server.url, timeout=60.0, limits=limits,
                                     trust_env=False) as client:
            async def call(user):
                return await client.get("/me", headers=authorization(signed(server.bot_token,
                                                                            user=user)))
            return await asyncio.wait_for(asyncio.gather(*(call(user) for user in users)), 120)

    answers = asyncio.run(run())
    assert [answer.status_code for answer in answers] == [200] * len(users)
    assert [answer.json()["id"] for answer in answers] == [user["id"] for user in users]


def test_server_alive_and_clean_after_everything(client, server):
    """Runs last for each app: nothing above may have killed the server or raised inside it."""
    assert server.process.poll() is None
    assert client.get("/me", headers=authorization(signed(server.bot_token))).status_code == 200
    log = server.log_text()
    assert not [mark for mark in CRASH_MARKS if mark in log], log


# The same apps in-process, their verifier's clock moved after the data was signed: a little
# before MAX_AGE has passed, a little after, and set back past the allowed skew.
CLOCK_STEPS = [(0, 200, None), (MAX_AGE - 1, 200, None), (MAX_AGE + 1, 401, "expired"),
               (-MAX_FUTURE - 1, 401, "future")]


@contextlib.asynccontextmanager
async def in_process_client(app):
    """An async `get(headers) -> (status, json)` of /me on an app served in this process."""
    if hasattr(app, "test_client"):  # Flask, whose client is synchronous
        with app.test_client() as client:
            async def get(headers):
                answer = client.get("/me", headers=headers)
                return answer.status_code, answer.get_json()
            yield get
        return
    if hasattr(app, "middlewares"):  # aiohttp, served on a loopback port
        from aiohttp.test_utils import TestClient, TestServer
        async with TestClient(TestServer(app, host="127.0.0.1")) as client:
            async def get(headers):
                answer = await client.get("/me", headers=headers)
                return answer.status, await answer.json()
            yield get
        return
    transport = httpx.ASGITransport(app=app)
    async with httpx.AsyncClient(transport=transport, base_url="http://127.0.0.1") as client:
        async def get(headers):
            answer = await client.get("/me", headers=headers)
            return answer.status_code, answer.json()
        yield get


@pytest.mark.parametrize("app_name", list(APPS))
def test_clock_moved_after_signing(app_name, monkeypatch):
    for module in APPS[app_name]:
        pytest.importorskip(module)
    from norvik_auth_extras import Verifier

    now = [0.0]
    example = __import__(app_name)
    monkeypatch.setattr(example, "Verifier",
                        lambda **settings: Verifier(clock=lambda: now[0], **settings))
    token = f"{secrets.randbelow(10**10)}:{secrets.token_urlsafe(26)}"
    app = example.create_app(bot_token=token, max_age=MAX_AGE)

    async def run():
        async with in_process_client(app) as get:
            for step, status, reason in CLOCK_STEPS:
                signed_at = int(time.time())
                headers = authorization(sign_init_data({"user": USER}, bot_token=token,
                                                       auth_date=signed_at))
                now[0] = signed_at + step
                expected = (200, as_answered(USER)) if status == 200 else (401, {"error": reason})
                assert await get(headers) == expected, step

    asyncio.run(run())


@pytest.mark.parametrize("app_name", list(APPS))
def test_missing_bot_token_is_one_line(app_name):
    for module in APPS[app_name]:
        pytest.importorskip(module)
    environ = {name: value for name, value in os.environ.items() if name != "BOT_TOKEN"}
    done = subprocess.run([sys.executable, str(EXAMPLES / f"{app_name}.py")], env=environ,
                          capture_output=True, text=True, timeout=120)
    assert (done.returncode, done.stderr) == (1, "set BOT_TOKEN to the bot's token\n")
