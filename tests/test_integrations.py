"""The web integrations of norvik_auth_extras, each through its framework's own test client with
one table of requests, plus the header parsing and as_dict they share.

Every init data is signed when its request is sent, never when the tests are collected."""

import asyncio
import json
import subprocess
import sys
import time
from functools import partial

import pytest

from norvik_auth import parse_webapp_data
from norvik_auth_extras import Verifier, as_dict, sign_init_data
from norvik_auth_extras.http import init_data_from_authorization

pytestmark = pytest.mark.python_only

TOKEN = "7000000001:AAHintegration-test-token"
USER = {"id": 42, "first_name": "Ann", "last_name": "Berg"}
USER_DICT = {"id": 42, "is_bot": None, "first_name": "Ann", "last_name": "Berg", "username": None,
             "language_code": None, "is_premium": None, "added_to_attachment_menu": None,
             "allows_write_to_pm": None, "photo_url": None}


def signed(age=0):
    return sign_init_data({"user": USER}, bot_token=TOKEN, auth_date=int(time.time()) - age)


# Each case: the Authorization header made at send time (None: no header), status and reason.
CASES = {
    "genuine": (lambda: f"InitData {signed()}", 200, None),
    "lowercase scheme, two spaces": (lambda: f"initdata  {signed()}", 200, None),
    "junk": (lambda: "InitData user=%7B&hash=00", 401, "malformed"),
    "forged": (lambda: "InitData " + signed().replace("Berg", "Borg"), 401, "signature"),
    "stale": (lambda: f"InitData {signed(age=2 * 86400)}", 401, "expired"),
    "missing header": (lambda: None, 401, "missing_authorization"),
    "another scheme": (lambda: f"Bearer {signed()}", 401, "missing_authorization"),
}


def broken_clock():
    raise RuntimeError("no clock")


def headers_of(authorization):
    return {} if authorization is None else {"Authorization": authorization}


def client_get(client):
    """For the clients of Starlette and Flask, whose answers have the same three attributes."""

    def get(authorization):
        answer = client.get("/me", headers=headers_of(authorization))
        return answer.status_code, answer.text, answer.headers.get("WWW-Authenticate")
    return get


# Each framework's app with a guarded /me that answers as_dict of the init data, called by a
# synchronous `get(authorization) -> (status, body text, WWW-Authenticate)`.
def fastapi_get(verifier, handlers=False):
    from typing import Annotated

    from fastapi import Depends, FastAPI
    from fastapi.testclient import TestClient
    from norvik_auth import WebAppInitData
    from norvik_auth_extras.fastapi import InitDataAuth, InitDataRefused, on_auth_error

    auth = InitDataAuth(verifier)
    app = FastAPI(exception_handlers={InitDataRefused: on_auth_error} if handlers else None)

    @app.get("/me")
    async def me(init_data: Annotated[WebAppInitData, Depends(auth)]) -> dict:
        return as_dict(init_data)  # FastAPI takes the plain data as a return value

    return client_get(TestClient(app, raise_server_exceptions=False))


def starlette_get(verifier):
    from starlette.applications import Starlette
    from starlette.middleware import Middleware
    from starlette.middleware.authentication import AuthenticationMiddleware
    from starlette.responses import JSONResponse
    from starlette.routing import Route
    from starlette.testclient import TestClient
    from norvik_auth_extras.starlette import InitDataBackend, on_auth_error

    async def me(request):
        return JSONResponse(as_dict(request.user.init_data))

    guard = Middleware(AuthenticationMiddleware, backend=InitDataBackend(verifier, required=True),
                       on_error=on_auth_error)
    return client_get(TestClient(Starlette(routes=[Route("/me", me)], middleware=[guard]),
                                raise_server_exceptions=False))


def aiohttp_get(verifier):
    from aiohttp import web
    from aiohttp.test_utils import TestClient, TestServer
    from norvik_auth_extras.aiohttp import INIT_DATA, init_data_middleware

    async def me(request):
        return web.json_response(as_dict(request[INIT_DATA]))

    async def call(authorization):  # an app and a loop per request: the requests are few
        app = web.Application(middlewares=[init_data_middleware(verifier)])
        app.router.add_get("/me", me)
        async with TestClient(TestServer(app)) as client:
            answer = await client.get("/me", headers=headers_of(authorization))
            return answer.status, await answer.text(), answer.headers.get("WWW-Authenticate")

    return lambda authorization: asyncio.run(call(authorization))


def flask_get(verifier):
    from flask import Flask, g
    from norvik_auth_extras.flask import init_data_required

    app = Flask(__name__)

    @app.get("/me")
    @init_data_required(verifier)
    async def me():  # an async view, run by Flask's async extra
        return as_dict(g.init_data)

    return client_get(app.test_client())


# Each framework: its app and client, and the key of a refusal's reason in the body (FastAPI's
# HTTPException gives its own shape, unless on_auth_error handles it).
FRAMEWORKS = {"fastapi": (fastapi_get, "detail"),
              "fastapi, on_auth_error": (partial(fastapi_get, handlers=True), "error"),
              "starlette": (starlette_get, "error"), "aiohttp": (aiohttp_get, "error"),
              "flask": (flask_get, "error")}


@pytest.mark.parametrize("framework", list(FRAMEWORKS))
def test_answers(framework, caplog):
    pytest.importorskip(framework.partition(",")[0])
    make_get, error_key = FRAMEWORKS[framework]
    get = make_get(Verifier(bot_token=TOKEN))
    caplog.set_level("INFO", logger="norvik_auth_extras")
    for case, (make_header, status, reason) in CASES.items():
        got_status, text, challenge = get(make_header())
        assert got_status == status, (case, text)
        body = json.loads(text)
        if status == 200:
            assert body["user"] == USER_DICT and body["auth_date"] > 0, case
        else:
            assert (body, challenge) == ({error_key: reason}, "InitData"), case
    # The parser's message is logged for the server, never sent to the client.
    assert "init data refused: malformed Unable to parse user" in caplog.text
    # A fault of the server is its own: 500, never a 401 that blames the client.
    faulty = make_get(Verifier(bot_token=TOKEN, clock=broken_clock))
    assert faulty(f"InitData {signed()}")[0] == 500


def test_fastapi_schema_and_optional_auth():
    pytest.importorskip("fastapi")
    from fastapi import Depends, FastAPI
    from fastapi.testclient import TestClient
    from norvik_auth_extras.fastapi import InitDataAuth

    app = FastAPI()
    auth = InitDataAuth(Verifier(bot_token=TOKEN), auto_error=False, scheme_name="WebApp")

    @app.get("/id")
    async def user_id(init_data=Depends(auth)):
        return init_data and init_data.user.id

    schema = app.openapi()
    assert schema["components"]["securitySchemes"]["WebApp"].items() >= {
        "type": "apiKey", "in": "header", "name": "Authorization"}.items()
    assert schema["paths"]["/id"]["get"]["security"] == [{"WebApp": []}]
    client = TestClient(app)
    assert [client.get("/id", headers=headers_of(header)).json()
            for header in (f"InitData {signed()}", "InitData junk", None)] == [42, None, None]


def test_starlette_backend_and_user():
    pytest.importorskip("starlette")
    from starlette.authentication import AuthenticationError
    from starlette.requests import HTTPConnection
    from norvik_auth_extras.starlette import InitDataBackend

    def authenticate(header, **options):
        backend = InitDataBackend(Verifier(bot_token=TOKEN), **options)
        headers = [] if header is None else [(b"authorization", header.encode())]
        return asyncio.run(backend.authenticate(HTTPConnection({"type": "http",
                                                                "headers": headers})))

    assert authenticate(f"Bearer {signed()}") is None  # public routes stay open
    credentials, user = authenticate(f"InitData {signed()}")
    assert (credentials.scopes, user.is_authenticated, user.identity, user.display_name) == (
        ["authenticated"], True, "42", "Ann Berg")
    with pytest.raises(AuthenticationError, match="^missing_authorization$"):
        authenticate(None, required=True)


@pytest.mark.parametrize("value, expected", [
    (None, None), ("", None), ("InitData", None), ("InitData \t ", None),
    ("InitDataq=1", None), ("Bearer q=1", None), ("Init Data q=1", None),
    ("InitData q=1", "q=1"), (" \tINITDATA\t q=1 ", "q=1"), ("initdata  q=1&h=2", "q=1&h=2"),
])
def test_init_data_from_authorization(value, expected):
    assert init_data_from_authorization(value) == expected


def test_as_dict():
    chat = {"id": -5, "type": "group", "title": "Team"}
    record = parse_webapp_data(sign_init_data({"query_id": "q", "user": USER, "receiver": USER,
                                               "chat": chat, "auth_date": 7}, bot_token=TOKEN))
    data = as_dict(record)
    assert data == {"query_id": "q", "user": USER_DICT, "receiver": USER_DICT,
                    "chat": {**chat, "username": None, "photo_url": None}, "chat_type": None,
                    "chat_instance": None, "start_param": None, "can_send_after": None,
                    "auth_date": 7, "hash": record.hash}
    assert json.loads(json.dumps(data)) == data
    assert as_dict(record.chat) == data["chat"]
    with pytest.raises(TypeError, match="not dict"):
        as_dict(data)


def test_import_loads_no_framework():
    code = ("import sys, norvik_auth_extras, norvik_auth_extras.http; "
            "print(sorted({'fastapi', 'starlette', 'aiohttp', 'flask'} & set(sys.modules)))")
    ran = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True)
    assert ran.stdout.strip() == "[]"
