"""examples/webapp_server.py served by uvicorn on loopback and called over real HTTP."""

from __future__ import annotations

import asyncio
import json
import os
import secrets
import socket
import subprocess
import sys
import time
from pathlib import Path

import pytest

from helpers import sign

pytest.importorskip("starlette")
pytest.importorskip("uvicorn")
httpx = pytest.importorskip("httpx")

EXAMPLES = Path(__file__).resolve().parent.parent / "examples"
BOT_TOKEN = f"{secrets.randbelow(10**10)}:{secrets.token_urlsafe(26)}"
MAX_AGE = 300
STARTUP_SECONDS = 20.0
USER = {"id": 279058397, "first_name": "Ann", "last_name": "Berg", "username": "ann_b"}


def init_data(user=USER, age=0, token=BOT_TOKEN, extra=()):
    """Signed init data of `user` (none if None) whose auth_date is `age` seconds ago (none if None)."""
    pairs = [("query_id", "AAHdF6IQAAAAAN0XohDhrOrc"), *extra]
    if user is not None:
        pairs.append(("user", json.dumps(user)))
    if age is not None:
        pairs.append(("auth_date", str(int(time.time()) - age)))
    return sign(pairs, token)


def auth(text):
    return {"Authorization": f"InitData {text}"}


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


class Server:
    def __init__(self, process, url, log):
        self.process, self.url, self.log = process, url, log

    def log_text(self):
        return self.log.read_text(errors="replace")


def stop(process):
    process.terminate()
    try:
        process.wait(timeout=10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()


@pytest.fixture(scope="module")
def server(tmp_path_factory):
    """The app under uvicorn, ready once a genuine request gets 200: so it is ours, not a stranger
    that happened to take the port, which is why a start may be retried on another port."""
    log = tmp_path_factory.mktemp("webapp_server") / "server.log"
    env = {**os.environ, "BOT_TOKEN": BOT_TOKEN, "MAX_AGE": str(MAX_AGE)}
    for _ in range(3):
        url = f"http://127.0.0.1:{free_port()}"
        # uvicorn refuses a request head that grows past 16 KiB before it is complete, so whether
        # a 64 KiB header reached the app would depend on how its bytes were split in transit.
        with log.open("wb") as log_file:
            process = subprocess.Popen(
                [sys.executable, "-m", "uvicorn", "--factory", "--app-dir", str(EXAMPLES),
                 "webapp_server:create_app", "--host", "127.0.0.1", "--port", url.rsplit(":", 1)[1],
                 "--log-level", "warning", "--h11-max-incomplete-event-size", str(256 * 1024)],
                env=env, stdout=log_file, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + STARTUP_SECONDS
        try:
            while process.poll() is None and time.monotonic() < deadline:
                try:
                    answer = httpx.get(f"{url}/me", headers=auth(init_data()), timeout=2.0,
                                       trust_env=False)
                    if answer.status_code == 200:
                        yield Server(process, url, log)
                        return
                except httpx.TransportError:
                    pass
                time.sleep(0.1)
        finally:
            stop(process)
    pytest.fail(f"the server did not start:\n{log.read_text(errors='replace')}")


@pytest.fixture()
def client(server):
    with httpx.Client(base_url=server.url, timeout=10.0, trust_env=False) as client:
        yield client


def test_genuine_fresh_init_data_answers_the_user(client):
    for scheme in ("InitData", "initdata"):  # schemes are case-insensitive in HTTP
        answer = client.get("/me", headers={"Authorization": f"{scheme}  {init_data()}"})
        assert answer.status_code == 200, answer.text
        assert answer.json() == USER
    anonymous = {"id": 7, "first_name": "Bo"}
    assert client.get("/me", headers=auth(init_data(anonymous))).json() == {
        **anonymous, "last_name": None, "username": None}


def tampered():
    return init_data().replace("279058397", "1")


@pytest.mark.parametrize("headers, reason", [
    ({}, "missing Authorization header"),
    ({"Authorization": ""}, "missing Authorization header"),
    ({"Authorization": f"Bearer {init_data()}"}, "Authorization scheme must be InitData"),
    ({"Authorization": f"InitData{init_data()}"}, "Authorization scheme must be InitData"),
    ({"Authorization": "InitData"}, "malformed init data"),
    (auth("not init data"), "malformed init data"),
    (auth(init_data().replace("%22id%22", "%22xd%22")), "malformed init data"),
    (auth(tampered()), "invalid signature"),
    (auth(init_data(token="1:another-bot")), "invalid signature"),
    (auth(init_data(age=MAX_AGE + 60)), "init data is stale"),
    (auth(init_data(age=-600)), "init data is stale"),  # far ahead of any clock difference
    (auth(init_data(age=None)), "init data has no auth_date"),
    (auth(init_data(user=None)), "init data has no user"),
], ids=["no header", "empty header", "other scheme", "no space after scheme", "no init data",
        "not init data", "user without id", "tampered", "other bot", "stale", "future",
        "no auth_date", "no user"])
def test_refusals_are_401_with_a_reason(client, headers, reason):
    answer = client.get("/me", headers=headers)
    assert (answer.status_code, answer.json()) == (401, {"error": reason})
    assert answer.headers["www-authenticate"] == "InitData"


def test_age_limit_comes_from_max_age(client):
    assert client.get("/me", headers=auth(init_data(age=MAX_AGE - 60))).status_code == 200
    assert client.get("/me", headers=auth(init_data(age=-30))).status_code == 200  # clock skew
    assert client.get("/me", headers=auth(init_data(age=MAX_AGE + 5))).status_code == 401


def test_parser_message_is_logged_not_echoed(server, client):
    answer = client.get("/me", headers=auth("user=%7B&hash=00"))
    assert answer.json() == {"error": "malformed init data"}
    deadline = time.monotonic() + 5
    while "Unable to parse user" not in server.log_text() and time.monotonic() < deadline:
        time.sleep(0.05)
    assert "malformed init data: 'Unable to parse user: " in server.log_text()


def test_64_kib_header(client):
    padding = [("start_param", "p" * 64 * 1024)]
    big = init_data(extra=padding)
    assert len(big) > 64 * 1024
    assert client.get("/me", headers=auth(big)).json() == USER
    forged = big.replace("ppp", "ppq", 1)
    assert client.get("/me", headers=auth(forged)).json() == {"error": "invalid signature"}
    assert client.get("/me", headers=auth("%" * 64 * 1024)).status_code == 401


def test_random_body_is_ignored_or_refused(client):
    body = os.urandom(256 * 1024)
    assert client.request("GET", "/me", content=body, headers=auth(init_data())).json() == USER
    assert client.request("GET", "/me", content=body).status_code == 401
    assert client.post("/me", content=body, headers=auth(init_data())).status_code == 405


def test_200_concurrent_requests_get_their_own_user(server):
    users = [{"id": 1000 + n, "first_name": f"User {n}"} for n in range(200)]

    async def run():
        slots = asyncio.Semaphore(32)
        limits = httpx.Limits(max_connections=32)
        async with httpx.AsyncClient(base_url=server.url, timeout=30.0, limits=limits,
                                     trust_env=False) as client:
            async def call(user):
                async with slots:
                    return await client.get("/me", headers=auth(init_data(user)))
            return await asyncio.wait_for(asyncio.gather(*(call(user) for user in users)), 60)

    answers = asyncio.run(run())
    assert [answer.status_code for answer in answers] == [200] * len(users)
    assert [answer.json()["id"] for answer in answers] == [user["id"] for user in users]


def test_server_alive_and_clean_after_everything(server, client):
    """Runs last: nothing sent above may have killed the server or raised inside it."""
    assert server.process.poll() is None
    assert client.get("/me", headers=auth(init_data())).status_code == 200
    log = server.log_text()
    assert "Traceback" not in log and "Exception in ASGI application" not in log, log
